// The changes the shell makes to the tab list (editor/tabs.h): adding a tab, making one
// current (with its slide animations), closing and moving one.
#pragma once

#include "foundation/foundation.h"
#include "editor/tabs.h"

//~ tabs.cpp

Tab* add_a_tab(u8 kind, Editor_File* file);
// Inserts a tab right after the current one (at the end when none is current) and returns
// it; it is not made current. A file tab shows file, which it holds from the moment other
// threads can see it. A terminal tab gets a terminal in the directory of the tab left of
// it (a terminal's, a file's with a path, else editor_working_directory) and file as its
// input line. Null when refused: an update tab while UPDATE_IS_AVAILABLE is clear, a second
// compile-errors tab, a kind not made here, or no memory. An update tab starts its
// download thread and clears UPDATE_IS_AVAILABLE. Takes tabs_read_lock.

void set_current_tab(u32 index, b8 close_listers);
// Makes the tab at index current: starts the slides, hands the keyboard to its file or
// input line (to nothing on a compile-errors or update tab) and stamps the times. With
// close_listers, the listers give the keyboard back first. Does nothing for an index past
// the end.

void close_tab(Tab* tab);
// Closes a tab (current or not) and makes the most recently left remaining tab current.
// A terminal tab's process is killed and its terminal and input line released. An update
// tab whose download still runs is not closed. Takes tabs_read_lock; the caller must not
// hold it.

void kill_terminal_tab_processes();
// Shut-down: the process group of every terminal tab is killed, under tabs_read_lock.

u8 set_tab_animation(Tab* tab, u8 wanted);
// Asks for a slide; a running slide only turns round (in to out of the same side and back)
// and keeps its clock. Returns the slide the tab had.

void move_tab(u32 from, u32 to);
// Moves a record to another index, shifting those between, under tabs_read_lock; the
// positions are rewritten. The current index is not changed.
