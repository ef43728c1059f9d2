// The tab, event and context routines: what the #events block reads of this frame (its
// events, which input has the keyboard) and how it steers the tabs and the current file's
// view. Bodies of the dispatcher; main thread, execution lock held. Only the main thread
// changes the tab list, so reading it here needs no lock; switch_tabs takes tabs_read_lock
// around its scan and switch all the same.
#pragma once

#include <stddef.h>

#include "foundation/types.h"
#include "runtime/custom_layer.h"

//~ Parameter blocks

struct Get_Events_Parameters {
    Custom_Layer_Event* events;  // result: this frame's list, in the main thread's temporary memory
    s64 count;                   // result: 0 outside #events
};
static_assert(offsetof(Get_Events_Parameters, count) == 8);
static_assert(sizeof(Get_Events_Parameters) == 16);

struct Byte_Result_Parameters {
    u8 value;  // get_context: Editor_Context bits; get_current_tab_type: Tab_Kind, 0 with no tab
};
static_assert(sizeof(Byte_Result_Parameters) == 1);

struct Tab_Index_Parameters {
    u32 index;  // set_current_tab: argument; get_current_tab_index, get_num_tabs: result
};
static_assert(sizeof(Tab_Index_Parameters) == 4);

//~ routines_tabs.cpp (beside exit_program, declared with the routine table)

void foreign_get_events(u8* parameters);            // the record's event list
void foreign_get_context(u8* parameters);           // global_editor_context
void foreign_get_current_tab_type(u8* parameters);  // the current tab's kind, 0 with none
void foreign_set_current_tab(u8* parameters);       // that tab made current, the listers closed; nothing past the end
void foreign_get_current_tab_index(u8* parameters);
void foreign_get_num_tabs(u8* parameters);

void foreign_switch_tabs(u8* parameters);
// To the other tab made current most recently; nothing with fewer than two tabs.

void foreign_close_current_tab(u8* parameters);
void foreign_centre_cursor_vertically(u8* parameters);  // asks the current file's view to centre its cursor
