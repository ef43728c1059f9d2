// Opening a path in a file tab and saving the current tab's file.

#include "shell/file_tabs.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "shell/tabs.h"
#include "editor/editor.h"
#include "listers/lister_panels.h"

#include <string.h>

// The file's directory components and then its name, one for one.
static b8 file_has_path(Editor_File* file, Filepath* path) {
    if ((u32)file->directory.count + 1 != path->count) return false;
    for (u32 i = 0; i < file->directory.count; i++) {
        Filepath_Component* a = &file->directory.components[i];
        Filepath_Component* b = &path->components[i];
        if (!strings_equal(String{a->text, (s64)a->length}, String{b->text, (s64)b->length})) return false;
    }
    Filepath_Component* last = &path->components[path->count - 1];
    return strings_equal(file->name, String{last->text, (s64)last->length});
}

void open_new_file_tab() {
    Editor_File* file = add_a_file();
    if (!file) return;
    if (!queue_add_tab_command(TAB_FILE, file)) {
        close_file(file);
        return;
    }
    current_file = file;
    global_editor_context = CONTEXT_FILE;
}

void editor_load_or_go_to_file(u8* path, s64 length, u32 line) {
    u64 saved = tmp_get_used();
    Filepath* split = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    if (!split || !string_to_filepath(split, path, length) || split->count == 0) {
        tmp_set_used(saved);
        return;
    }

    Editor_File* file = nullptr;
    for (u32 i = 0; i < tabs.count && !file; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file && file_has_path(tab->file, split)) {
            file = tab->file;
            queue_go_to_tab_command(tab->id);
        }
    }
    if (!file) {
        // Loaded before its tab is queued: a file that cannot be read gets no tab that could
        // later save an empty text over it.
        file = add_a_file();
        if (!file) {
            tmp_set_used(saved);
            return;
        }
        if (!load_file(split, file)) {
            close_file(file);
            tmp_set_used(saved);
            return;
        }
        global_editor_context = CONTEXT_FILE;
        if (!queue_add_tab_command(TAB_FILE, file)) {
            if (current_file == file) current_file = nullptr;
            close_file(file);
            tmp_set_used(saved);
            return;
        }
    }
    tmp_set_used(saved);
    editor_put_cursor_on_line(file, line);
}

void editor_put_cursor_on_line(Editor_File* file, u32 line) {
    s64 offset = get_offset_at_line(file->text.data, file->text.count, line);
    if (offset < 0) offset = 0;
    if (offset > file->text.count) offset = file->text.count;
    editor_set_cursor(file, offset);
    atomic_or_u16(&file->flags, FILE_CURSOR_MOVED | FILE_CENTRE_CURSOR);
}

void editor_ask_to_save_file() {
    Tab* tab = get_current_tab();
    // A lister with the keyboard has its own input line as current_file, so this also
    // refuses while the save prompt is open.
    if (!current_file || !tab || tab->kind != TAB_FILE || tab->file != current_file) return;
    if (current_file->directory.count == 0) {
        const char title[] = "Save File";
        open_file_lister((u8*)title, sizeof(title) - 1, &editor_working_directory, FILE_LISTER_SAVE);
        return;
    }
    save_file(current_file);
}
