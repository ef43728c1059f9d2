#include "shell/terminal_tabs.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "shell/tabs.h"
#include "editor/editor.h"
#include "terminal/terminal.h"

#include <string.h>

static b8 same_directory(Filepath* a, Filepath* b) {
    if (a->count != b->count) return false;
    for (u32 i = 0; i < a->count; i++) {
        Filepath_Component* x = &a->components[i];
        Filepath_Component* y = &b->components[i];
        if (!strings_equal(String{x->text, (s64)x->length}, String{y->text, (s64)y->length})) return false;
    }
    return true;
}

// Neither running nor still being read: a command line given to it starts a new command
// instead of becoming input for the last one.
static b8 terminal_is_idle(Terminal* terminal) {
    Terminal_Result* last = terminal->current_result;
    return !last || !(atomic_load_u8(&last->flags) & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING));
}

static Editor_File* make_input_line() {
    Editor_File* line = add_a_file();
    if (line) atomic_or_u16(&line->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    return line;
}

void run_in_terminal_tab(u8* text, u64 count, Filepath* directory) {
    Tab* tab = nullptr;
    for (u32 i = 0; i < tabs.count && !tab; i++) {
        Tab* t = get_tab(i);
        if (t->kind != TAB_TERMINAL || !t->terminal || !t->input_line || !terminal_is_idle(t->terminal)) continue;
        if (directory->count == 0 || same_directory(&t->terminal->directory, directory)) tab = t;
    }
    if (!tab) {
        Editor_File* input_line = make_input_line();
        if (!input_line) return;
        tab = add_a_tab(TAB_TERMINAL, input_line);
        if (!tab) {
            close_file(input_line);
            return;
        }
        if (directory->count > 0) set_filepath_from(&tab->terminal->directory, directory);
        current_file = input_line;
        global_editor_context = CONTEXT_TERMINAL;
    }
    set_current_tab(tab->position, true);

    Editor_File* input_line = tab->input_line;
    if (input_line->text.count > 0) editor_remove_octets(input_line, 0, input_line->text.count);
    if (count > 0) editor_insert_octets(input_line, 0, text, (s64)count);
    free_undo_records(input_line);
    editor_set_cursor(input_line, input_line->text.count);
    spin_lock(&tabs_read_lock);
    execute_terminal_command_line(tab->terminal, input_line, &tab->title, TAB_TITLE_CAPACITY);
    spin_unlock(&tabs_read_lock);
}

void open_new_terminal_tab() {
    // Under the lock, as the terminal tabs' readers expect of a new input line.
    spin_lock(&tabs_read_lock);
    Editor_File* input_line = make_input_line();
    b8 queued = input_line && queue_add_tab_command(TAB_TERMINAL, input_line);
    spin_unlock(&tabs_read_lock);
    if (!queued) {
        if (input_line) close_file(input_line);
        return;
    }
    current_file = input_line;
    global_editor_context = CONTEXT_TERMINAL;
}
