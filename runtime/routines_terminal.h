// The terminal routines: a new terminal tab, a command line run in one, the end of the
// current terminal's command and the running of its typed line. The history walk of a
// terminal tab shares previous and next item with the listers (routines_listers.h). Main
// thread, under the layer's execution lock.
#pragma once

#include <stddef.h>

#include "foundation/types.h"
#include "foundation/strings.h"

//~ Parameter blocks

struct Run_Terminal_Command_Parameters {
    String command_line;
    String* directory;  // the directory's components, "/" first for an absolute path
    s64 count;
};
static_assert(offsetof(Run_Terminal_Command_Parameters, directory) == 16);
static_assert(offsetof(Run_Terminal_Command_Parameters, count) == 24);
static_assert(sizeof(Run_Terminal_Command_Parameters) == 32);

//~ routines_terminal.cpp. The routines without a block ignore their parameters.

void foreign_make_a_new_terminal(u8* parameters);  // 79
// A fresh input line with the keyboard now; its terminal tab, right of the current one and
// in its directory, on the next frame.

void foreign_run_terminal_command(u8* parameters);  // 80
// Queues the line to run in a terminal tab in the directory made of the non-empty
// components (none: any idle terminal). A line over the command's text buffer, more
// components than a Filepath holds, a component longer than one holds, or a null text
// with a count, is refused with a log line: nothing runs, since a cut line or path would
// run something else.

void foreign_kill_current_terminal_process(u8* parameters);  // 81: only with a terminal tab current

void foreign_confirm_prompt(u8* parameters);  // 92
// Runs a terminal tab's input line when it has the keyboard; the title follows the command.
