// The editor commands: what start-up, the layer's routines, the listers and the frame's own
// clicks ask of the tabs, queued and carried out by the frame driver at the start of the
// next frame, in queue order.
#pragma once

#include "foundation/foundation.h"
#include "editor/filepath.h"

enum Editor_Command_Kind : u8 {
    COMMAND_ADD_TAB         = 0,  // a tab of tab_kind showing the payload's record, made current
    COMMAND_GO_TO_TAB       = 1,  // the tab whose id is tab_target made current
    COMMAND_RUN_IN_TERMINAL = 2,  // command_text run in a terminal tab in command_directory
};

#define EDITOR_COMMAND_TEXT_CAPACITY 4096

struct Editor_Command {
    u8 command_kind;   // Editor_Command_Kind
    u32 tab_target;    // add: the position asked for; go to: the tab's id
    u8 tab_kind;       // add: the Tab_Kind
    u64 payload;       // add: the Editor_File (a terminal's input line); run: the text's length
    u8 command_text[EDITOR_COMMAND_TEXT_CAPACITY];
    Filepath command_directory;  // count 0: none given
};

extern Dynamic_Array editor_commands;  // of Editor_Command

//~ editor_commands.cpp

void init_editor_commands();  // an empty queue

b8 queue_add_tab_command(u8 tab_kind, void* record);
// Asks for a tab right after the current one (tmp_current_tab_index + 1) showing the record.
// False (logged) when the queue cannot grow.

b8 queue_go_to_tab_command(u32 tab_id);

b8 queue_run_in_terminal_command(String command_line, Filepath* directory);
// Asks for the command line to run in a terminal tab in the directory (null or empty: any).
// False (logged) when the line does not fit EDITOR_COMMAND_TEXT_CAPACITY, which would run
// another command cut short, or the queue cannot grow.
