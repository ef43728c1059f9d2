// Line and selection transforms. Each builds what it writes in one piece and puts it in with
// one step, so a transform over many lines moves the rest of the text once, and one undo
// record takes the whole of it back.

#include "runtime/routines_transforms.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "foundation/log.h"

#include <emmintrin.h>

static b8 is_one_line_input(Editor_File* file) { return atomic_load_u16(&file->flags) & FILE_SINGLE_LINE; }

//~ Swapping lines

void foreign_swap_lines(u8* parameters) {
    Swap_Lines_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Swap_Lines_Parameters, up))) return;
    Editor_File* file = get_layer_file();
    if (!file_has_text(file) || is_one_line_input(file)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor;
    s64 line_start = get_line_start(text, cursor);
    s64 line_end = get_line_end(text, count, cursor);
    s64 upper_start, upper_end, lower_start, lower_end;
    if (p.up) {
        if (line_start == 0) return;
        upper_end = get_line_break_start_before(text, line_start);
        upper_start = get_line_start(text, upper_end);
        lower_start = line_start;
        lower_end = line_end;
    } else {
        if (line_end >= count) return;
        upper_start = line_start;
        upper_end = line_end;
        lower_start = get_line_break_end(text, count, line_end);
        lower_end = get_line_end(text, count, lower_start);
    }
    s64 length = lower_end - upper_start;
    s64 upper_length = upper_end - upper_start;
    s64 break_length = lower_start - upper_end;
    s64 lower_length = lower_end - lower_start;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)length)) return;
    memcpy(saved.memory, text + upper_start, (u64)length);
    update_context_chunks(file, upper_start);
    // The region keeps its length: lower line, the same break, upper line.
    u8* out = text + upper_start;
    memcpy(out, saved.memory + (lower_start - upper_start), (u64)lower_length);
    memcpy(out + lower_length, saved.memory + upper_length, (u64)break_length);
    memcpy(out + lower_length + break_length, saved.memory, (u64)upper_length);
    add_padding_undo(file, upper_start, length, cursor, saved);
    s64 new_line_start = p.up ? upper_start : upper_start + lower_length + break_length;
    editor_set_cursor(file, new_line_start + (cursor - line_start));
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
}

//~ Re-indenting the selection

// The opening bracket that encloses offset, walking back; -1 when there is none.
static s64 find_enclosing_bracket(u8* text, s64 offset) {
    static const char openers[] = "([{";
    static const char closers[] = ")]}";
    u64 depth[3] = {};
    for (s64 i = offset - 1; i >= 0; i--) {
        for (u32 k = 0; k < 3; k++) {
            if (text[i] == closers[k]) {
                depth[k]++;
            } else if (text[i] == openers[k]) {
                if (depth[k] == 0) return i;
                depth[k]--;
            }
        }
    }
    return -1;
}

struct Padded_Text {
    u8* data;
    s64 count;
};

// Appends count octets; the caller sized the buffer.
static inline void append(Padded_Text* out, u8* data, s64 count) {
    if (count <= 0) return;
    memcpy(out->data + out->count, data, (u64)count);
    out->count += count;
}

// The lines of [first, region_end) re-indented into out: the first to target and step, the
// others keeping the blanks they have beyond the first line's. A line whose indentation
// keeps its length is left as it is. Also maps the cursor, which keeps its distance from
// the end of its line's indentation. False when no line changes.
static b8 pad_lines(Padded_Text* out, u8* text, s64 first, s64 region_end, String target, String step, s64* cursor) {
    s64 target_count = target.count + step.count;
    s64 first_blanks = -1;
    s64 new_cursor = *cursor;
    b8 changed = false;
    s64 at = first;
    for (;;) {
        s64 line_end = get_line_end(text, region_end, at);
        s64 blanks = get_whitespace_from(at, text, line_end).count;
        if (first_blanks < 0) first_blanks = blanks;
        s64 surplus = blanks > first_blanks ? blanks - first_blanks : 0;
        if (target_count + surplus != blanks) {
            changed = true;
            append(out, target.data, target.count);
            append(out, step.data, step.count);
            append(out, text + at + blanks - surplus, surplus);
        } else {
            append(out, text + at, blanks);
        }
        s64 past = *cursor - (at + blanks);
        if (*cursor >= at && *cursor <= line_end) new_cursor = first + out->count + (past > 0 ? past : 0);
        append(out, text + at + blanks, line_end - at - blanks);
        if (line_end >= region_end) break;
        s64 next = get_line_break_end(text, region_end, line_end);
        if (*cursor > line_end && *cursor < next) new_cursor = first + out->count + (*cursor - line_end);
        append(out, text + line_end, next - line_end);
        at = next;
    }
    if (*cursor > region_end) new_cursor = *cursor + (first + out->count - region_end);
    *cursor = new_cursor;
    return changed;
}

void foreign_pad_selection(u8* parameters) {
    Editor_File* file = current_file;
    if (!file || is_one_line_input(file)) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 selection_start = *file->selection_start;
    s64 selection_end = *file->selection_end;
    if (selection_start == selection_end || selection_start <= 0 || selection_end > count) return;
    atomic_or_u16(&file->flags, FILE_MODIFIED);

    // The target indentation of the first line: the line before's, or one step deeper than
    // the line of the enclosing bracket when that line is not shallower.
    s64 first = get_line_start(text, selection_start);
    String previous = {text, 0};
    if (first > 0) previous = get_whitespace_from(get_line_start(text, get_line_break_start_before(text, first)), text, count);
    String target = previous;
    String step = {nullptr, 0};
    s64 bracket = find_enclosing_bracket(text, first);
    if (bracket >= 0) {
        String bracket_blanks = get_whitespace_from(get_line_start(text, bracket), text, count);
        if (bracket_blanks.count >= previous.count) {
            target = bracket_blanks;
            step = String{global_tab_character.data, (s64)global_tab_character.count};
        }
    }

    // A selection that ends at the start of a line leaves that line out.
    s64 last = selection_end;
    if (last > first && is_break_octet(text[last - 1])) last = get_line_break_start_before(text, last);
    s64 region_end = get_line_end(text, count, last);
    s64 region_length = region_end - first;
    u64 lines = count_lines_in(text + first, region_length);
    u64 room;
    Gp_Allocation buffer = {};
    if (__builtin_mul_overflow(lines, (u64)(target.count + step.count), &room) ||
        __builtin_add_overflow(room, (u64)region_length, &room) || room > 0xFFFFFFFFull) {
        add_log(nullptr, LOG_ERROR, "Could not pad %llu lines: the text would pass 4 GiB.", (unsigned long long)lines);
    } else if (gp_allocate(&buffer, room)) {
        Padded_Text out = {buffer.memory, 0};
        s64 cursor = file->cursor;
        if (pad_lines(&out, text, first, region_end, target, step, &cursor) &&
            editor_replace_range(file, first, region_length, out.data, out.count, file->cursor)) {
            atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
            atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
            editor_set_cursor(file, cursor);
        }
        gp_free(&buffer);
    }
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
}

//~ Aligning

void foreign_align_selection_on_token_at_cursor(u8* parameters) {
    editor_align_selection_on_token_at_cursor(custom_layer_execution_file);
}

//~ Case

void change_ascii_case(u8* data, s64 length, b8 to_lower) {
    u8 first = to_lower ? 'A' : 'a';
    // A letter is an octet whose distance above the first letter, taken modulo 256, is at
    // most 25; upper and lower case differ only in 0x20.
    const __m128i base = _mm_set1_epi8((char)first);
    const __m128i last = _mm_set1_epi8(25);
    const __m128i flip = _mm_set1_epi8(0x20);
    s64 i = 0;
    for (; i + 32 <= length; i += 32) {
        for (s64 half = 0; half < 32; half += 16) {
            __m128i v = _mm_loadu_si128((const __m128i*)(data + i + half));
            __m128i distance = _mm_sub_epi8(v, base);
            __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(distance, last), distance);
            _mm_storeu_si128((__m128i*)(data + i + half), _mm_xor_si128(v, _mm_and_si128(letter, flip)));
        }
    }
    for (; i < length; i++) {
        if ((u8)(data[i] - first) <= 25) data[i] ^= 0x20;
    }
}

void foreign_change_selection_case(u8* parameters) {
    Change_Selection_Case_Parameters p;
    if (!read_parameters(&p, parameters, PARAMETERS_SIZE(Change_Selection_Case_Parameters, to_lower))) return;
    Editor_File* file = current_file;
    if (!file_has_text(file)) return;
    s64 start = *file->selection_start;
    s64 end = *file->selection_end;
    if (start == end) {
        Editor_Token token;
        end = editor_get_token_at_offset(file, file->cursor, &token);
        if (end < 0 || token.kind == EDITOR_TOKEN_NONE) return;
        start = token.offset;
    }
    if (start < 0 || end > (s64)file->text.count || end <= start) return;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)(end - start))) return;
    memcpy(saved.memory, file->text.data + start, saved.size);
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX | FILE_CURSOR_MOVED);
    update_context_chunks(file, start);
    add_in_place_undo(file, start, file->cursor, saved);
    change_ascii_case(file->text.data + start, end - start, p.to_lower);
}
