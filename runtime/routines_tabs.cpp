// The tab, event and context routines.

#include <string.h>

#include "runtime/routines_tabs.h"
#include "runtime/foreign_routines.h"
#include "editor/editor_file.h"
#include "foundation/os_files.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "runtime/shell_actions.h"

void routine_exit_program() { atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN); }

static void write_byte(u8* parameters, u8 value) {
    Byte_Result_Parameters p = {value};
    memcpy(parameters, &p, sizeof(p));
}

static void write_tab_index(u8* parameters, u32 index) {
    Tab_Index_Parameters p = {index};
    memcpy(parameters, &p, sizeof(p));
}

void foreign_get_events(u8* parameters) {
    // The frame driver empties the record after #events: elsewhere the list is empty.
    Get_Events_Parameters p = {custom_layer.events, custom_layer.event_count};
    memcpy(parameters, &p, sizeof(p));
}

void foreign_get_context(u8* parameters) { write_byte(parameters, global_editor_context); }

void foreign_get_current_tab_type(u8* parameters) {
    Tab* tab = get_current_tab();
    write_byte(parameters, tab ? tab->kind : 0);
}

Shell_Actions shell_actions;

void foreign_set_current_tab(u8* parameters) {
    Tab_Index_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    if (p.index < tabs.count && shell_actions.set_current_tab) shell_actions.set_current_tab(p.index, true);
}

void foreign_get_current_tab_index(u8* parameters) { write_tab_index(parameters, current_tab_index); }

void foreign_get_num_tabs(u8* parameters) { write_tab_index(parameters, tabs.count); }

void foreign_switch_tabs(u8* parameters) {
    u32 count = tabs.count;
    if (count < 2) return;
    spin_lock(&tabs_read_lock);
    u64 now = os_get_monotonic_microseconds();
    // The smallest age is the tab made current last; ages are unsigned, so a stamp in the
    // future counts as very old.
    u32 choice = (current_tab_index + 1) % count;
    u64 youngest = now - get_tab(choice)->time_made_current;
    for (u32 i = 0; i < count; i++) {
        if (i == current_tab_index) continue;
        u64 age = now - get_tab(i)->time_made_current;
        if (age < youngest) {
            youngest = age;
            choice = i;
        }
    }
    if (shell_actions.set_current_tab) shell_actions.set_current_tab(choice, true);
    spin_unlock(&tabs_read_lock);
}

void foreign_close_current_tab(u8* parameters) {
    Tab* tab = get_current_tab();
    if (tab && shell_actions.close_tab) shell_actions.close_tab(tab);  // takes tabs_read_lock itself
}

void foreign_centre_cursor_vertically(u8* parameters) {
    if (current_file) atomic_or_u16(&current_file->flags, FILE_CENTRE_CURSOR);
}
