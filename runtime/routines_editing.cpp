// Insertion and deletion routines. Text goes in through editor_insert_octets and out through
// editor_delete_at, so every change drops the lexer's remembered states, checks its range
// and leaves one undo record.

#include "runtime/routines_editing.h"
#include "runtime/layer_loader.h"
#include "editor/completion.h"
#include "terminal/terminal.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "foundation/unicode.h"
#include "editor/tabs.h"

// Inserts count octets at offset and records them; false, with nothing changed, when the
// text cannot take them.
static b8 insert_with_undo(Editor_File* file, s64 offset, u8* data, s64 count, s64 cursor_before, u8 mergeable) {
    if (!editor_insert_octets(file, offset, data, count)) return false;
    add_text_insertion_undo(file, offset, count, cursor_before, mergeable);
    return true;
}

//~ Insertion

void foreign_duplicate_line(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file) || (atomic_load_u16(&file->flags) & FILE_SINGLE_LINE)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 start = get_line_start(text, file->cursor);
    s64 end = get_line_end(text, count, file->cursor);
    update_context_chunks(file, file->cursor);
    if (end < count) {
        // The line with its break goes in behind itself.
        s64 after = get_line_break_end(text, count, end);
        if (!insert_with_undo(file, after, text + start, after - start, file->cursor, 0)) return;
    } else {
        // A last line gets the line ending first, then the copy with its own.
        String ending = file->line_ending;
        if (!editor_insert_octets(file, end, ending.data, ending.count)) return;
        if (!editor_insert_octets(file, end + ending.count, file->text.data + start, end + ending.count - start)) {
            editor_remove_octets(file, end, ending.count);
            return;
        }
        add_text_insertion_undo(file, end, 2 * ending.count + (end - start), file->cursor, 0);
    }
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
}

static void insert_text_at(Editor_File* file, String text, s64 offset, s64 cursor_before, b8 move_cursor) {
    if (!file || !text.data || text.count <= 0 || offset < 0 || offset > (s64)file->text.count) return;
    update_context_chunks(file, offset);
    if (!insert_with_undo(file, offset, text.data, text.count, cursor_before, 0)) return;
    atomic_or_u16(&file->flags, FILE_MODIFIED);
    if (move_cursor) editor_set_cursor(file, offset + text.count);
}

void foreign_insert_text(u8* parameters) {
    Insert_Text_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Insert_Text_Parameters, move_cursor))) return;
    check_layer_memory(p.text.data, p.text.count);
    Editor_File* file = get_layer_file();
    if (file) insert_text_at(file, p.text, file->cursor, file->cursor, p.move_cursor);
}

void foreign_insert_text_at(u8* parameters) {
    Insert_Text_At_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Insert_Text_At_Parameters, offset))) return;
    check_layer_memory(p.text.data, p.text.count);
    insert_text_at(get_layer_file(), p.text, p.offset, p.offset, false);
}

// Path completion in a terminal tab's input line, word completion anywhere else.
static u8 complete_before_cursor(Editor_File* file) {
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_TERMINAL && tab->input_line == file) return auto_complete_filepath_in_terminal(tab);
    return auto_complete_text_before_cursor(file);
}

void foreign_insert_character(u8* parameters) {
    Insert_Character_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Insert_Character_Parameters, complete_on_tab))) return;
    Editor_File* file = current_file;
    u32 c = p.codepoint;
    if (!file || c < '\t' || (c > '\t' && c < ' ') || c == 127) return;
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
    if (atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE) {
        editor_delete_selection();
        // Typing ends a selection even when it was empty, so the next key does not take back this one.
        atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    }
    update_context_chunks(file, file->cursor);
    u8 encoded[4];
    String text;
    if (c == '\t') {
        if (p.complete_on_tab && complete_before_cursor(file)) return;
        text = String{global_tab_character.data, (s64)global_tab_character.count};
    } else {
        text = String{encoded, utf32_to_utf8_codepoint(c, encoded) - encoded};
    }
    s64 cursor = file->cursor;
    if (text.count <= 0 || !insert_with_undo(file, cursor, text.data, text.count, cursor, 1)) return;
    if (p.move_cursor) editor_set_cursor(file, cursor + text.count);
}

void foreign_insert_new_line(u8* parameters) {
    Insert_New_Line_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Insert_New_Line_Parameters, move_cursor))) return;
    Editor_File* file = current_file;
    if (!file || (atomic_load_u16(&file->flags) & FILE_SINGLE_LINE)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor;
    String ending = file->line_ending;
    String indentation = {nullptr, 0};
    if (p.keep_indentation && count > 0) indentation = get_whitespace_from(get_line_start(text, cursor), text, count);
    // One piece, so one record and one move of the text behind the cursor.
    Gp_Allocation piece;
    if (!gp_allocate(&piece, (u64)(ending.count + indentation.count))) return;
    memcpy(piece.memory, ending.data, (u64)ending.count);
    if (indentation.count) memcpy(piece.memory + ending.count, indentation.data, (u64)indentation.count);
    update_context_chunks(file, cursor);
    b8 inserted = insert_with_undo(file, cursor, piece.memory, (s64)piece.size, cursor, 0);
    gp_free(&piece);
    if (!inserted) return;
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX | FILE_CURSOR_MOVED);
    if (p.move_cursor) editor_set_cursor(file, cursor + ending.count + indentation.count);
}

//~ Deletion

void foreign_delete_at(u8* parameters) {
    Delete_At_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Delete_At_Parameters, length))) return;
    // A length past the s64 range is negative here, which the deletion refuses.
    editor_delete_at(custom_layer_execution_file, p.offset, (s64)p.length);
}

// Deletes [start, end) and puts the cursor at start.
static void delete_range_to(Editor_File* file, s64 start, s64 end) {
    if (end <= start) return;
    editor_delete_at(file, start, end - start);
    editor_set_cursor(file, start);
}

void foreign_delete_character_before_cursor(u8* parameters) {
    Editor_File* file = current_file;
    if (!file || file->cursor <= 0) return;
    u8* text = file->text.data;
    s64 cursor = file->cursor;
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_CURSOR_MOVED);
    s64 start = utf8_get_previous_character(text + cursor, text) - text;
    if (is_break_octet(text[start])) {
        // The line break that ends at the cursor, so a CR LF pair goes as one; from between
        // its CR and LF only the CR goes.
        Editor_Token token;
        if (editor_get_previous_token(file, cursor, &token) == cursor && (token.kind & EDITOR_TOKEN_NEW_LINE)) start = token.offset;
    }
    delete_range_to(file, start, cursor);
}

void foreign_delete_character_at_cursor(u8* parameters) {
    Editor_File* file = current_file;
    if (!file || file->cursor >= (s64)file->text.count) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor;
    atomic_or_u16(&file->flags, FILE_MODIFIED);
    // A CR LF pair goes as one, as it does before the cursor: a lone LF left behind would be
    // a line ending of another kind.
    s64 end = utf8_get_next_character(text + cursor, text + count) - text;
    if (text[cursor] == '\r' && end < count && text[end] == '\n') end++;
    editor_delete_at(file, cursor, end - cursor);
}

void foreign_delete_token(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    Editor_Token token;
    s64 end = editor_get_token_at_offset(file, file->cursor, &token);
    if (end < 0 || token.kind == EDITOR_TOKEN_NONE) return;
    delete_range_to(file, token.offset, end);
}

void foreign_delete_token_text_up_to_cursor(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    u8* text = file->text.data;
    s64 cursor = file->cursor;
    // The token that starts before the cursor and reaches it; else the blanks before it.
    Editor_Token token;
    s64 end = editor_get_previous_token(file, cursor, &token);
    s64 start = cursor;
    if (end >= cursor) {
        start = token.offset;
    } else {
        while (start > 0 && is_blank_octet(text[start - 1])) start--;
    }
    delete_range_to(file, start, cursor);
}

void foreign_delete_remaining_text_on_token(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor;
    Editor_Token token;
    s64 end = editor_get_token_at_offset(file, cursor, &token);
    if (end <= cursor) {
        end = cursor;
        while (end < count && is_blank_octet(text[end])) end++;
    }
    if (end > cursor) editor_delete_at(file, cursor, end - cursor);
}

void foreign_delete_selection(u8* parameters) {
    if (current_file) editor_delete_selection();
}
