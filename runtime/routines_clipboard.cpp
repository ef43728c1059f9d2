// The clipboard and undo routines. A paste is converted into one buffer and inserted in one
// step, so a big paste into a big file moves the file's tail once.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <string.h>

#include "runtime/routines_clipboard.h"
#include "runtime/layer_loader.h"
#include "terminal/terminal.h"
#include "editor/clipboard.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "foundation/log.h"
#include "editor/editor_state.h"

struct Cursor_Line {
    s64 start;
    s64 end;      // the line break's offset, or the text's end
    s64 padding;  // leading spaces and tabs
};

static Cursor_Line get_cursor_line(Editor_File* file) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor < 0 ? 0 : file->cursor > count ? count : file->cursor;
    Cursor_Line line;
    line.start = get_line_start(text, cursor);
    line.end = get_line_end(text, count, cursor);
    line.padding = get_whitespace_from(line.start, text, line.end).count;
    return line;
}

// The line to the clipboard and, without its padding, to the unpadded local copy.
static void copy_cursor_line(Editor_File* file, Cursor_Line line) {
    u8* text = file->text.data;
    set_local_copy(&text_copied_as_if_there_was_no_padding, text + line.start + line.padding,
                   line.end - line.start - line.padding);
    editor_set_clipboard_text(text + line.start, line.end - line.start);
}

void foreign_copy_line(u8* parameters) {
    Editor_File* file = editor_file_or_current(custom_layer_execution_file);
    if (!file || file->text.count == 0) return;
    copy_cursor_line(file, get_cursor_line(file));
}

void foreign_delete_line(u8* parameters) {
    Delete_Line_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = current_file;
    if (!file || file->text.count == 0) return;
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_CURSOR_MOVED);
    Cursor_Line line = get_cursor_line(file);
    u8* text = file->text.data;
    s64 count = file->text.count;
    if (p.copy && line.end > line.start) {
        copy_cursor_line(file, line);
        set_local_copy(&text_copied_locally, text + line.start, line.end - line.start);
    }

    u32 column = get_cursor_column(file, line.start);
    b8 last_line = line.end == count;
    s64 length = line.end - line.start;
    Editor_Token line_break;
    if (!last_line && editor_get_next_token(file, line.end, &line_break) >= 0) {
        length = line_break.offset + line_break.length - line.start;
    }
    editor_delete_at(file, line.start, length);
    if ((s64)file->text.count != count - length) return;  // nothing was deleted

    // The line that now stands where the deleted one stood; after a last line, the one
    // that the text's final line break now ends.
    s64 target_line = line.start;
    if (last_line && line.start > 0 && editor_get_previous_token(file, line.start, &line_break) >= 0) {
        target_line = get_line_start(file->text.data, line_break.offset);
    }
    set_cursor_at_column(file, target_line, column);
}

void foreign_copy_selection_to_clipboard(u8* parameters) {
    Copy_Selection_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    editor_copy_selection_to_clipboard(p.stop_selection, p.token_when_empty);
}

void foreign_cut_selection_to_clipboard(u8* parameters) {
    editor_copy_selection_to_clipboard(0, 0);
    editor_delete_selection();
}

//~ Paste

struct Paste_Source {
    u8* text;
    s64 count;
    String line_ending;
    String tab_text;
    String indentation;
};

static inline void put(u8* out, u64* n, String text) {
    if (out && text.count) memcpy(out + *n, text.data, (u64)text.count);
    *n += (u64)text.count;
}

// Writes the converted text into out when it is not null; returns its length either way.
static u64 convert_pasted_text(Paste_Source* s, u8* out) {
    u64 n = 0;
    for (s64 i = 0; i < s->count;) {
        u8 c = s->text[i];
        if (c == '\r' || c == '\n') {
            i += (c == '\r' && i + 1 < s->count && s->text[i + 1] == '\n') ? 2 : 1;
            put(out, &n, s->line_ending);
            if (i < s->count) put(out, &n, s->indentation);
        } else if (c == '\t') {
            put(out, &n, s->tab_text);
            i++;
        } else {
            s64 run = i;
            while (run < s->count && s->text[run] != '\r' && s->text[run] != '\n' && s->text[run] != '\t') run++;
            put(out, &n, String{s->text + i, run - i});
            i = run;
        }
    }
    return n;
}

void paste_text(Editor_File* file, u8* text, s64 count, u8 move_cursor, u8 indent) {
    if (!file || !text || count <= 0) return;
    // The colours of the text behind the cursor move with it: #syntax runs again.
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_CURSOR_MOVED | FILE_NEEDS_SYNTAX);
    if (atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE) editor_delete_selection();

    Paste_Source s = {text, count, file->line_ending, String{global_tab_character.data, global_tab_character.count},
                      String{}};
    if (indent) {
        // The editor's own copy goes in without the indentation it had where it was copied.
        Dynamic_Array* local = &text_copied_locally;
        if (s.count == (s64)local->count && memcmp(s.text, local->data, local->count) == 0) {
            s.text = text_copied_as_if_there_was_no_padding.data;
            s.count = text_copied_as_if_there_was_no_padding.count;
        }
        if (file->text.count) {
            Cursor_Line line = get_cursor_line(file);
            s.indentation = String{file->text.data + line.start, line.padding};
        }
    }

    u64 size = convert_pasted_text(&s, nullptr);
    if (size == 0) return;
    if (size > 0xFFFFFFFFull) {
        add_log(nullptr, LOG_ERROR, "Could not paste %llu octets: a text holds at most 4 GiB.", (unsigned long long)size);
        return;
    }
    // The indentation points into the file's text: the new text is built before it changes.
    Gp_Allocation converted;
    if (!gp_allocate(&converted, size)) return;
    convert_pasted_text(&s, converted.memory);

    s64 cursor = file->cursor;
    update_context_chunks(file, cursor);
    if (editor_insert_octets(file, cursor, converted.memory, (s64)size)) {
        add_text_insertion_undo(file, cursor, (s64)size, cursor, 0);
        if (move_cursor) editor_set_cursor(file, cursor + (s64)size);
    }
    gp_free(&converted);
}

void foreign_paste_from_clipboard(u8* parameters) {
    Paste_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    if (!current_file) return;
    // GLFW keeps the text until the clipboard is read or set again, which nothing here does.
    const char* clipboard = glfwGetClipboardString(nullptr);
    if (!clipboard || !clipboard[0]) return;
    paste_text(current_file, (u8*)clipboard, (s64)strlen(clipboard), p.move_cursor, p.indent);
}

void foreign_undo(u8* parameters) {
    if (current_file && current_file->undo_records.count) editor_undo(current_file);
}
