// The changes made to the tab list: adding a tab, making one current (with its slide
// animations), closing one and moving one.

#include "shell/tabs.h"
#include "editor/editor_state.h"
#include "shell/update_client.h"
#include "terminal/terminal.h"
#include "compiler/core/compiler_core.h"
#include "listers/lister_actions.h"
#include "ui/ui_state.h"

#include <string.h>

static Tab* get_tab_of_kind(u8 kind) {
    for (u32 i = 0; i < tabs.count; i++) {
        if (((Tab*)tabs.data)[i].kind == kind) return (Tab*)tabs.data + i;
    }
    return nullptr;
}

//~ Adding

// A new terminal starts where the tab left of it works: a terminal's directory, a file's
// when it has one, else the editor's working directory.
static Filepath* get_directory_for_new_terminal() {
    Tab* left = get_current_tab();
    if (left && left->kind == TAB_TERMINAL && left->terminal) return &left->terminal->directory;
    if (left && left->kind == TAB_FILE && left->file && left->file->directory.count > 0) return &left->file->directory;
    return &editor_working_directory;
}

Tab* add_a_tab(u8 kind, Editor_File* file) {
    if (kind != TAB_FILE && kind != TAB_TERMINAL && kind != TAB_COMPILE_ERRORS && kind != TAB_UPDATE) return nullptr;
    if (kind == TAB_UPDATE && !(atomic_load_u64(&global_flags) & UPDATE_IS_AVAILABLE)) return nullptr;
    if (kind == TAB_COMPILE_ERRORS && get_tab_of_kind(TAB_COMPILE_ERRORS)) return nullptr;

    Terminal* terminal = nullptr;
    if (kind == TAB_TERMINAL) {
        terminal = add_a_terminal(get_directory_for_new_terminal());
        if (!terminal) return nullptr;  // the pool logged it
    }

    spin_lock(&tabs_read_lock);
    u64 index = (u64)current_tab_index + 1;
    if (index > tabs.count) index = tabs.count;
    Tab* tab = (Tab*)dynamic_array_insert(&tabs, index);
    if (!tab) {
        spin_unlock(&tabs_read_lock);
        if (terminal) release_terminal(terminal);
        return nullptr;
    }
    tab->kind = kind;
    tab->id = next_tab_id++;
    if (kind == TAB_FILE) tab->file = file;
    if (kind == TAB_TERMINAL) {
        tab->terminal = terminal;
        tab->input_line = file;
    }
    renumber_tabs();
    if (kind == TAB_COMPILE_ERRORS) {
        write_into_string(&tab->title, TAB_TITLE_CAPACITY, "%s", COMPILE_ERRORS_TAB_TITLE);
    }
    if (kind == TAB_UPDATE) tab->download_state = DOWNLOAD_RUNNING;
    spin_unlock(&tabs_read_lock);

    if (kind == TAB_UPDATE) {
        // The flag goes whether or not the thread starts, so one press makes one tab.
        atomic_and_u64(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
        start_update_download(tab->id);
    }
    return tab;
}

//~ Making a tab current

u8 set_tab_animation(Tab* tab, u8 wanted) {
    u8 now = tab->slide;
    b8 turns_round = (now == SLIDE_IN_FROM_LEFT && wanted == SLIDE_OUT_TO_LEFT) ||
                     (now == SLIDE_IN_FROM_RIGHT && wanted == SLIDE_OUT_TO_RIGHT) ||
                     (now == SLIDE_OUT_TO_LEFT && wanted == SLIDE_IN_FROM_LEFT) ||
                     (now == SLIDE_OUT_TO_RIGHT && wanted == SLIDE_IN_FROM_RIGHT);
    if (now == SLIDE_NONE) {
        tab->slide = wanted;
        tab->slide_clock = 0;
    } else if (turns_round) {
        tab->slide = wanted;
    } else {
        return now;
    }
    ui_flags |= UI_KEEP_RUNNING;
    return now;
}

// A copy without empty components, each pointing at its own storage.
static void set_working_directory_from(Filepath* directory) {
    Filepath* out = &editor_working_directory;
    out->count = 0;
    for (u32 i = 0; i < directory->count; i++) {
        Filepath_Component* from = &directory->components[i];
        if (from->length == 0) continue;
        Filepath_Component* to = &out->components[out->count++];
        memcpy(to->storage, from->text, from->length);
        to->text = to->storage;
        to->length = from->length;
    }
}

void set_current_tab(u32 index, b8 close_listers) {
    Tab* tab = get_tab(index);
    if (!tab) return;
    if (close_listers) close_lister();

    u32 old = current_tab_index;
    Tab* old_tab = get_tab(old);
    if (old < index) {
        set_tab_animation(tab, SLIDE_IN_FROM_LEFT);
        if (old_tab) set_tab_animation(old_tab, SLIDE_OUT_TO_RIGHT);
    } else {
        set_tab_animation(tab, SLIDE_IN_FROM_RIGHT);
        if (old_tab) set_tab_animation(old_tab, SLIDE_OUT_TO_LEFT);
    }

    if (tab->kind == TAB_FILE) {
        current_file = tab->file;
        global_editor_context = CONTEXT_FILE;
        if (tab->file && tab->file->directory.count > 0) set_working_directory_from(&tab->file->directory);
    } else if (tab->kind == TAB_TERMINAL) {
        current_file = tab->input_line;
        global_editor_context = CONTEXT_TERMINAL;
        if (tab->terminal) set_working_directory_from(&tab->terminal->directory);
    } else {
        current_file = nullptr;
        global_editor_context = CONTEXT_FILE;
    }

    u64 now = os_get_monotonic_microseconds();
    if (old != index && old_tab) old_tab->time_left = now;
    tab->time_made_current = now;
    last_time_we_switched_tabs = now;
    current_tab_index = index;
}

//~ Closing

void close_tab(Tab* tab) {
    if (tab->kind == TAB_UPDATE) {
        spin_lock(&tabs_read_lock);
        b8 running = tab->download_state == DOWNLOAD_RUNNING;
        spin_unlock(&tabs_read_lock);
        if (running) return;  // its thread still writes into the record
    }

    // Closing the listers can wait for a search thread, which takes tabs_read_lock: do it
    // before taking the lock.
    current_file = nullptr;
    atomic_and_u64(&global_flags, ~(u64)MODIFYING_FILE_NAME);
    close_lister();

    spin_lock(&tabs_read_lock);
    u32 index = (u32)(tab - (Tab*)tabs.data);
    if (tab->kind == TAB_FILE && tab->file) close_file(tab->file);
    if (tab->kind == TAB_TERMINAL) {
        // Its process goes with it; the terminal waits for the next terminal tab.
        if (tab->terminal) release_terminal(tab->terminal);
        if (tab->input_line) close_file(tab->input_line);
    }
    if (tab->kind == TAB_COMPILE_ERRORS) compile_errors.count = 0;
    dynamic_array_remove(&tabs, index);
    renumber_tabs();

    if (tabs.count > 0) {
        // The most recently left tab; one never left counts as left at time 0.
        u32 next = 0;
        for (u32 i = 1; i < tabs.count; i++) {
            if (((Tab*)tabs.data)[i].time_left > ((Tab*)tabs.data)[next].time_left) next = i;
        }
        set_current_tab(next, false);
    } else {
        current_file = nullptr;  // it may have been given the closed tab's file back
    }
    spin_unlock(&tabs_read_lock);
}

void kill_terminal_tab_processes() {
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_TERMINAL && tab->terminal) kill_terminal_process(tab->terminal);
    }
    spin_unlock(&tabs_read_lock);
}

void move_tab(u32 from, u32 to) {
    if (from >= tabs.count || to >= tabs.count || from == to) return;
    spin_lock(&tabs_read_lock);
    Tab moved;
    memcpy(&moved, (Tab*)tabs.data + from, sizeof(Tab));
    if (from < to) memmove((Tab*)tabs.data + from, (Tab*)tabs.data + from + 1, (to - from) * sizeof(Tab));
    else memmove((Tab*)tabs.data + to + 1, (Tab*)tabs.data + to, (from - to) * sizeof(Tab));
    memcpy((Tab*)tabs.data + to, &moved, sizeof(Tab));
    renumber_tabs();
    spin_unlock(&tabs_read_lock);
}
