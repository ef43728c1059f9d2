// Aligning the selected lines on the token at the cursor: the token's text is moved to
// the reference line's column on every other selected line, and the whole run of lines is
// one replacement record so that one undo puts it back.

#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"

#include <string.h>

static inline b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

// Where the token's text first occurs on the line, as a plain run of octets; -1 when the
// line ends (or the text would run past the end) first.
static s64 find_on_line(Editor_File* file, s64 line_start, u8* token_text, s64 token_length) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    for (s64 at = line_start; at + token_length <= count; at++) {
        if (memcmp(text + at, token_text, (u64)token_length) == 0) return at;
        if (text[at] == '\r' || text[at] == '\n') return -1;
    }
    return -1;
}

// The start of the line after the one that starts at line_start; -1 on the last line.
static s64 get_next_line_start(Editor_File* file, s64 line_start) {
    s64 line_end = get_line_end(file->text.data, file->text.count, line_start);
    Editor_Token line_break;
    if (editor_get_next_token(file, line_end, &line_break) < 0 || line_break.kind != EDITOR_TOKEN_NEW_LINE) return -1;
    return line_break.offset + line_break.length;
}

void editor_align_selection_on_token_at_cursor(Editor_File* file) {
    file = editor_file_or_current(file);
    if (!file) return;
    clamp_cursors_to_text(file);
    Editor_Token token;
    if (editor_get_next_token(file, file->cursor, &token) < 0) return;
    s64 token_length = token.length;
    u8* token_text = tmp_allocate((u64)token_length);
    if (!token_text) return;
    memcpy(token_text, file->text.data + token.offset, (u64)token_length);

    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 selection_start = *file->selection_start;
    s64 selection_end = *file->selection_end;
    // A selection that starts inside a CR LF pair starts on the line after it.
    s64 first = selection_start;
    if (first > 0 && first < selection_end && text[first - 1] == '\r' && text[first] == '\n') first++;
    u32 lines = count_lines_in(text + first, selection_end - first);
    if (lines < 2) return;
    s64 block_start = get_line_start(text, first);
    update_context_chunks(file, selection_start);

    // The reference line is the first selected line when the cursor is at the selection's
    // start, else the cursor's (last) line. Columns count octets: a tab is one.
    b8 reference_is_first = file->cursor == selection_start;
    s64 reference_line_start = reference_is_first ? block_start : get_line_start(text, token.offset);
    s64 target_column = token.offset - reference_line_start;
    s64 cursor_column = file->cursor - reference_line_start;
    s64 first_line_start = reference_is_first ? get_next_line_start(file, block_start) : block_start;
    if (first_line_start < 0) return;
    // The lines worked on, walked as the loop below walks them, so that the saved text
    // covers every line it changes.
    u32 worked_lines = lines - 1;
    s64 last_line_start = first_line_start;
    for (u32 i = 1; i < worked_lines; i++) {
        s64 next = get_next_line_start(file, last_line_start);
        if (next < 0) {
            worked_lines = i;
            break;
        }
        last_line_start = next;
    }
    s64 worked_end = get_line_end(text, count, last_line_start);  // before any change
    if (worked_end < block_start) return;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)(worked_end - block_start))) return;
    if (worked_end > block_start) memcpy(saved.memory, text + block_start, (u64)(worked_end - block_start));

    s64 delta = 0;  // how much longer the worked lines became
    b8 changed = false;
    s64 line_start = first_line_start;
    for (u32 i = 0; i < worked_lines; i++) {
        s64 match = find_on_line(file, line_start, token_text, token_length);
        if (match >= 0) {
            s64 column = match - line_start;
            if (column < target_column) {
                s64 spaces = target_column - column;
                if (editor_insert_octets(file, match, nullptr, spaces)) {
                    memset(file->text.data + match, ' ', (u64)spaces);
                    delta += spaces;
                    changed = true;
                }
            } else if (column > target_column) {
                s64 run = 0;
                while (match - run > line_start && is_blank(file->text.data[match - run - 1])) run++;
                s64 removed = column - target_column < run ? column - target_column : run;
                if (removed > 0) {
                    editor_remove_octets(file, match - removed, removed);
                    delta -= removed;
                    changed = true;
                }
            }
        }
        if (i + 1 < worked_lines) {
            line_start = get_next_line_start(file, line_start);
            if (line_start < 0) break;
        }
    }

    if (!changed) {
        gp_free(&saved);
        atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
        return;
    }
    add_padding_undo(file, block_start, worked_end + delta - block_start, file->cursor, saved);
    // Every change lies before the reference line when it is the last one.
    if (!reference_is_first && reference_line_start >= worked_end) editor_set_cursor(file, reference_line_start + delta + cursor_column);
    // The text changed, so the layer colours it again as after any other edit.
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    clamp_cursors_to_text(file);
}
