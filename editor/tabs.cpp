// The tab list and what reads it without changing it.

#include "editor/tabs.h"

Dynamic_Array tabs;
u32 current_tab_index;
u32 tmp_current_tab_index;
u32 next_tab_id;
u64 last_time_we_switched_tabs;

void init_tabs() {
    init_dynamic_array(&tabs, sizeof(Tab));
    tabs_read_lock = 0;
    current_tab_index = 0;
    tmp_current_tab_index = 0;
    next_tab_id = 0;
    last_time_we_switched_tabs = 0;
}

Tab* get_tab(u32 index) { return index < tabs.count ? (Tab*)tabs.data + index : nullptr; }

Tab* get_current_tab() { return get_tab(current_tab_index); }

Tab* get_tab_by_id(u32 id) {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = (Tab*)tabs.data + i;
        if (tab->id == id) return tab;
    }
    return nullptr;
}

// Records moved: each title points into its own record again and knows its index.
void renumber_tabs() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = (Tab*)tabs.data + i;
        tab->position = i;
        tab->title.data = tab->title_buffer;
    }
}

void mark_every_file_tab(u16 flags) {
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) atomic_or_u16(&tab->file->flags, flags);
    }
    spin_unlock(&tabs_read_lock);
}
