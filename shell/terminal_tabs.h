// Terminal tabs made for a command line or on request. Apart from the frame driver, so the
// layer's terminal routines reach them without the rest of the frame.
#pragma once

#include "foundation/foundation.h"
#include "editor/filepath.h"

void run_in_terminal_tab(u8* text, u64 count, Filepath* directory);
// Runs the command line in the first terminal tab that runs nothing and works in the
// directory (any directory when it has no components), or in a new terminal tab there,
// which gets the keyboard. The tab is made current; its input line holds the command,
// without undo records (they would describe a text that is gone).

void open_new_terminal_tab();
// A fresh input line, which gets the keyboard now and its terminal tab on the next frame.
