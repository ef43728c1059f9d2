// The foreign routines that drive the file lister, the search lister and its prompts, and
// the making of a new file tab. They decide little themselves: each looks at who has the
// keyboard and what the current tab is, then calls the lister operation. Main thread, under
// the layer's execution lock.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

// The block of open_directory_in_explorer: the path's components and their count.
struct Open_Directory_In_Explorer_Parameters {
    String* components;
    s64 count;
};
static_assert(sizeof(Open_Directory_In_Explorer_Parameters) == 16);

//~ routines_listers.cpp. The routines without a block ignore their parameters.

void foreign_go_to_parent_directory(u8* parameters);  // 71
void foreign_go_to_previous_item(u8* parameters);     // 72: a lister's selection, else a terminal's history
void foreign_go_to_next_item(u8* parameters);         // 73
void foreign_go_to_next_prompt(u8* parameters);       // 74
void foreign_select_item_from_lister(u8* parameters); // 75
void foreign_close_lister(u8* parameters);            // 76
void foreign_open_directory_in_explorer(u8* parameters);  // 77
// The components joined ("/" needs no "/" after it) go to the desktop's file manager.
// Nothing with a count of 0 or less; empty components are left out.
void foreign_make_a_new_file(u8* parameters);         // 78: an untitled text with the keyboard, its tab queued
void foreign_ask_to_delete_items(u8* parameters);     // 82
void foreign_ask_to_open_file(u8* parameters);        // 83
void foreign_ask_to_save_file(u8* parameters);        // 84
void foreign_search_file(u8* parameters);             // 87: only with a file tab current
void foreign_search_multiple_files(u8* parameters);   // 88
void foreign_replace_in_file(u8* parameters);         // 89
void foreign_goto_line(u8* parameters);               // 90
