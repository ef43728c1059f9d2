// What the shell does with file tabs beyond the list itself: a new untitled text, opening a
// path at a line in a tab (or going to the tab that shows it) and saving the current tab's
// file.
#pragma once

#include "foundation/foundation.h"

struct Editor_File;

//~ file_tabs.cpp

void open_new_file_tab();
// A fresh untitled text, which gets the keyboard now and its tab on the next frame.

void editor_load_or_go_to_file(u8* path, s64 length, u32 line);
// When a file tab shows the path, queues going to it; otherwise loads the file into a new
// record, which gets the keyboard, and queues a tab for it. Either way the file's cursor
// goes to the start of the line (line 0 or past the last: the text's end). A path that
// cannot be split or read opens nothing (logged).

void editor_put_cursor_on_line(Editor_File* file, u32 line);
// The cursor (and the anchor, unless a selection is active) at the start of the line,
// which the view then centres. Line 0 or past the last: the text's end.

void editor_ask_to_save_file();
// Saves the current tab's file when it has the keyboard. A text without a path opens the
// file lister as a "Save File" prompt on editor_working_directory instead. A failed save
// leaves FILE_SAVE_FAILED on the file.
