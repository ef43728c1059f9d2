// Cursor and selection routines. Every move goes through editor_set_cursor, so a running
// selection follows the cursor from its fixed anchor, and the view brings the cursor into
// sight. Lines end at CR, LF or a CR LF pair, and a pair is crossed in one step.

#include "runtime/routines_cursor.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "foundation/unicode.h"

Editor_File* get_layer_file() { return custom_layer_execution_file ? custom_layer_execution_file : current_file; }

static inline b8 is_white(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static b8 is_one_line_input(Editor_File* file) { return atomic_load_u16(&file->flags) & FILE_SINGLE_LINE; }

s64 get_line_break_start_before(u8* text, s64 line_start) {
    s64 at = line_start - 1;
    if (at > 0 && text[at] == '\n' && text[at - 1] == '\r') at--;
    return at;
}

s64 get_line_break_end(u8* text, s64 count, s64 line_end) {
    if (text[line_end] == '\r' && line_end + 1 < count && text[line_end + 1] == '\n') return line_end + 2;
    return line_end + 1;
}

//~ Characters

void foreign_go_left(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file) || file->cursor <= 0) return;
    u8* text = file->text.data;
    s64 target = utf8_get_previous_character(text + file->cursor, text) - text;
    Editor_Token token;
    s64 end = editor_get_previous_token(file, file->cursor, &token);
    if (end == file->cursor && (token.kind & EDITOR_TOKEN_NEW_LINE)) target = token.offset;
    editor_set_cursor(file, target);
}

void foreign_go_right(u8* parameters) {
    Editor_File* file = current_file;
    if (!file || file->cursor >= (s64)file->text.count) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    Editor_Token token;
    s64 end = editor_get_next_token(file, file->cursor, &token);
    s64 target = utf8_get_next_character(text + file->cursor, text + count) - text;
    if (end >= 0 && token.offset == file->cursor && (token.kind & EDITOR_TOKEN_NEW_LINE)) target = end;
    editor_set_cursor(file, target);
}

//~ Lines

// Moves the cursor lines lines up (negative: down), stopping at the first or last line, to
// its column on the line reached.
static void move_cursor_by_lines(Editor_File* file, s64 lines) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 line_start = get_line_start(text, file->cursor);
    u32 column = get_cursor_column(file, line_start);
    for (; lines > 0 && line_start > 0; lines--) line_start = get_line_start(text, get_line_break_start_before(text, line_start));
    for (; lines < 0; lines++) {
        s64 line_end = get_line_end(text, count, line_start);
        if (line_end >= count) break;
        line_start = get_line_break_end(text, count, line_end);
    }
    set_cursor_at_column(file, line_start, column);
}

// A break before the cursor, and one at or after it (an LF the cursor stands on counts,
// also the LF of a CR LF pair): asked of the view index, so a long line is not scanned.
static b8 can_go_up(Editor_File* file) {
    return file_has_text(file) && !is_one_line_input(file) && file->cursor > 0 &&
           editor_get_line_at_offset(file, file->cursor) > 1;
}

static b8 can_go_down(Editor_File* file) {
    if (!file_has_text(file) || is_one_line_input(file)) return false;
    s64 cursor = file->cursor;
    if (cursor < (s64)file->text.count && file->text.data[cursor] == '\n') return true;
    return editor_get_line_at_offset(file, cursor) < editor_count_lines(file);
}

void foreign_go_up(u8* parameters) {
    if (can_go_up(current_file)) move_cursor_by_lines(current_file, 1);
}

void foreign_go_down(u8* parameters) {
    if (can_go_down(current_file)) move_cursor_by_lines(current_file, -1);
}

void foreign_page_up(u8* parameters) {
    if (can_go_up(current_file)) move_cursor_by_lines(current_file, current_file->visible_lines);
}

void foreign_page_down(u8* parameters) {
    if (can_go_down(current_file)) move_cursor_by_lines(current_file, -(s64)current_file->visible_lines);
}

//~ Tokens and runs

void foreign_go_to_previous_non_whitespace_token(u8* parameters) {
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    Editor_Token token;
    s64 end = editor_get_previous_token(file, file->cursor, &token);
    editor_set_cursor(file, end >= 0 ? token.offset : 0);
}

void foreign_go_to_next_non_whitespace_token(u8* parameters) {
    Editor_File* file = current_file;
    if (!file) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 at = file->cursor;
    if (at >= count) {
        editor_set_cursor(file, count);
        return;
    }
    while (at < count && is_blank_octet(text[at])) at++;
    Editor_Token token;
    s64 end = editor_get_next_token(file, at, &token);
    // Without blanks to skip, the token at the cursor is passed over.
    if (at == file->cursor && end >= 0) end = editor_get_next_token(file, end, &token);
    editor_set_cursor(file, end >= 0 ? token.offset : count);
}

void foreign_skip_text(u8* parameters) {
    Skip_Text_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Skip_Text_Parameters, forward))) return;
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 at = file->cursor;
    if (p.forward) {
        if (at >= count) return;
        if (is_white(text[at])) {
            while (at < count && is_white(text[at])) at++;
        } else {
            while (at < count && !is_white(text[at])) at++;
            while (at < count && is_blank_octet(text[at])) at++;
        }
    } else {
        if (at <= 0) return;
        at = utf8_get_previous_character(text + at, text) - text;
        b8 white = is_white(text[at]);
        while (at > 0 && is_white(text[at - 1]) == white) at--;
    }
    editor_set_cursor(file, at);
}

//~ Whole text and line ends

void foreign_go_to_file_start(u8* parameters) {
    if (file_has_text(current_file)) editor_set_cursor(current_file, 0);
}

void foreign_go_to_file_end(u8* parameters) {
    if (file_has_text(current_file)) editor_set_cursor(current_file, current_file->text.count);
}

void foreign_go_to_line_start(u8* parameters) {
    Editor_File* file = current_file;
    if (file_has_text(file)) editor_set_cursor(file, get_line_start(file->text.data, file->cursor));
}

void foreign_go_to_line_end(u8* parameters) {
    Editor_File* file = current_file;
    if (file_has_text(file)) editor_set_cursor(file, get_line_end(file->text.data, file->text.count, file->cursor));
}

void foreign_go_to_line_padding_end(u8* parameters) {
    // The move itself is the editing core's; an empty text has nowhere to go.
    if (file_has_text(get_layer_file())) editor_go_to_line_padding_end(custom_layer_execution_file);
}

void foreign_go_to_previous_cursor_position(u8* parameters) {
    Editor_File* file = get_layer_file();
    if (file) editor_go_to_previous_cursor_position(file);
}

//~ Selection

void foreign_start_selection(u8* parameters) {
    Editor_File* file = current_file;
    if (!file) return;
    file->selection_anchor = file->cursor;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    clamp_cursors_to_text(file);  // also points the selection's ends
}

void foreign_stop_selection(u8* parameters) {
    if (current_file) atomic_and_u16(&current_file->flags, (u16)~FILE_SELECTION_ACTIVE);
}

void foreign_toggle_selection(u8* parameters) {
    if (!current_file) return;
    if (atomic_load_u16(&current_file->flags) & FILE_SELECTION_ACTIVE) foreign_stop_selection(parameters);
    else foreign_start_selection(parameters);
}

void foreign_check_if_selection_is_active(u8* parameters) {
    u8 active = current_file && (atomic_load_u16(&current_file->flags) & FILE_SELECTION_ACTIVE) ? 1 : 0;
    write_parameter(parameters, Check_If_Selection_Is_Active_Parameters, active, active);
}

void foreign_do_not_set_selection_anchor_on_click(u8* parameters) {
    if (current_file) atomic_or_u16(&current_file->flags, FILE_KEEP_ANCHOR_ON_CLICK);
}

//~ Offsets

void foreign_set_cursor_offset(u8* parameters) {
    Offset_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Offset_Parameters, offset))) return;
    Editor_File* file = get_layer_file();
    if (!file || p.offset > (s64)file->text.count) return;
    editor_set_cursor(file, p.offset);
}

void foreign_set_selection_anchor_offset(u8* parameters) {
    Offset_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Offset_Parameters, offset))) return;
    Editor_File* file = get_layer_file();
    if (!file || p.offset < 0 || p.offset > (s64)file->text.count) return;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    file->selection_anchor = p.offset;
    clamp_cursors_to_text(file);
}

void foreign_get_cursor_offset(u8* parameters) {
    Editor_File* file = get_layer_file();
    write_parameter(parameters, Offset_Result_Parameters, offset, file ? file->cursor : 0);
}

static b8 is_selecting(Editor_File* file) { return file && (atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE); }

void foreign_get_selection_start_offset(u8* parameters) {
    Editor_File* file = get_layer_file();
    write_parameter(parameters, Offset_Result_Parameters, offset, is_selecting(file) ? *file->selection_start : 0);
}

void foreign_get_selection_end_offset(u8* parameters) {
    Editor_File* file = get_layer_file();
    write_parameter(parameters, Offset_Result_Parameters, offset, is_selecting(file) ? *file->selection_end : 0);
}
