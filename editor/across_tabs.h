// The editing operations that look at the shell's tab list: copying, which copies from a
// terminal when the current tab is one; word completion, which goes on into the other
// file tabs; and path completion in a terminal tab's input line. They live in a library
// of their own above the shell, which itself links the editor.
#pragma once

#include "foundation/types.h"
#include "editor/editor_file.h"

struct Tab;

//~ across_tabs.cpp

void editor_copy_selection_to_clipboard(u8 stop_selection, u8 token_when_empty);
// Under tabs_read_lock: a terminal tab's selected output when the current tab is a
// terminal with a selection, else current_file's selection (or, with token_when_empty and
// nothing selected, the token at the cursor) to the clipboard and the two local copies.

u8 auto_complete_text_before_cursor(Editor_File* file);
// Completes the word that ends at the cursor from the words before it in the file, else
// after it, else in every other file tab (read under tabs_read_lock). 1 when candidates
// were found (also when they add nothing), 0 when no word ends at the cursor or nothing
// matches.

u8 auto_complete_filepath_in_terminal(Tab* tab);
// Completes the path before the cursor of a terminal tab's input line against its
// terminal's working directory; 0 for any other tab.
