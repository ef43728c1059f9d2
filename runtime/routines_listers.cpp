// The lister and prompt routines. A block is read through a copy: compiled code gives it no
// alignment the C++ side may count on.

#include "runtime/routines_listers.h"
#include "runtime/layer_loader.h"
#include "listers/listers.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "foundation/notifications.h"
#include "runtime/shell_actions.h"
#include "terminal/terminal.h"
#include "ui/ui_state.h"

#include <string.h>

void foreign_go_to_parent_directory(u8* parameters) { lister_go_to_parent_directory(); }

// A lister's selection when one has the keyboard, else the history of a terminal tab.
static void step_item(b8 forward) {
    ui_do_not_stop_after_current_frame();
    if (lister_has_keyboard()) {
        if (forward) lister_go_to_next_item();
        else lister_go_to_previous_item();
        return;
    }
    Tab* tab = get_current_tab();
    if (!tab || tab->kind != TAB_TERMINAL || !tab->terminal || !tab->input_line) return;
    if (forward) terminal_go_to_next_history_item(tab->terminal, tab->input_line);
    else terminal_go_to_previous_history_item(tab->terminal, tab->input_line);
}

void foreign_go_to_previous_item(u8* parameters) { step_item(false); }
void foreign_go_to_next_item(u8* parameters) { step_item(true); }

void foreign_go_to_next_prompt(u8* parameters) { lister_go_to_next_prompt(); }
void foreign_select_item_from_lister(u8* parameters) { lister_select_item(); }
void foreign_close_lister(u8* parameters) { close_lister(); }

void foreign_open_directory_in_explorer(u8* parameters) {
    Open_Directory_In_Explorer_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    if (!p.components || p.count <= 0) return;
    check_layer_strings(p.components, p.count);
    u64 saved = tmp_get_used();
    u64 length = 0;
    for (s64 i = 0; i < p.count; i++) {
        if (p.components[i].count > 0) length += (u64)p.components[i].count + 1;
    }
    u8* text = tmp_allocate(length + 1);
    if (text && length > 0) {
        u64 at = 0;
        for (s64 i = 0; i < p.count; i++) {
            String c = p.components[i];
            if (c.count <= 0) continue;
            memcpy(text + at, c.data, (u64)c.count);
            at += (u64)c.count;
            if (!(c.count == 1 && c.data[0] == '/')) text[at++] = '/';
        }
        // The trailing "/" goes, but the root stays "/".
        if (at > 1 && text[at - 1] == '/') at--;
        os_open_file_in_other_app(String{text, (s64)at});
    }
    tmp_set_used(saved);
}

void foreign_make_a_new_file(u8* parameters) {
    if (shell_actions.open_new_file_tab) shell_actions.open_new_file_tab();
}

void foreign_ask_to_delete_items(u8* parameters) { editor_ask_to_delete_items(); }
void foreign_ask_to_open_file(u8* parameters) { ask_to_open_file(); }
void foreign_ask_to_save_file(u8* parameters) {
    if (shell_actions.ask_to_save_file) shell_actions.ask_to_save_file();
}

// The prompts are told apart by their titles' lengths as well as their texts.
static void open_prompt(const char* title, const char* second_title, u8 mode) {
    open_search_lister((u8*)title, strlen(title), (u8*)second_title, strlen(second_title), mode);
}

void foreign_search_file(u8* parameters) {
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_FILE) open_prompt("Search", "", SEARCH_IN_FILE);
}

void foreign_search_multiple_files(u8* parameters) { open_prompt("Search Files", "", SEARCH_IN_FILES); }
void foreign_replace_in_file(u8* parameters) { open_prompt("Replace", "With", SEARCH_REPLACE); }
void foreign_goto_line(u8* parameters) { open_prompt("Go to line", "", SEARCH_GO_TO_LINE); }
