// Line breaks, line starts and ends, blank runs and character columns. A CR LF pair is
// one break wherever it falls, also across the 32-octet blocks the counters skip through:
// an LF right after a CR is never counted on its own, and the CR that ends a block is
// carried into the next.

#include "editor/lines.h"
#include "editor/lexer.h"
#include "editor/view_index.h"
#include "foundation/os_files.h"
#include "foundation/unicode.h"

#include <emmintrin.h>

u64 global_get_num_lines_time;

struct Break_Masks {
    u32 cr;  // bit i: octet i of the block is CR
    u32 lf;
};

static inline Break_Masks get_break_masks(u8* block) {
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i low = _mm_loadu_si128((const __m128i*)block);
    __m128i high = _mm_loadu_si128((const __m128i*)(block + 16));
    Break_Masks m;
    m.cr = (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(low, cr)) | ((u32)_mm_movemask_epi8(_mm_cmpeq_epi8(high, cr)) << 16);
    m.lf = (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(low, lf)) | ((u32)_mm_movemask_epi8(_mm_cmpeq_epi8(high, lf)) << 16);
    return m;
}

// Breaks in a block: every CR, and every LF that does not follow a CR (in the block, or
// the last octet of the block before when carry is 1).
static inline u32 count_block_breaks(Break_Masks m, u32 carry) {
    u32 lone_lf = m.lf & ~((m.cr << 1) | carry);
    return (u32)__builtin_popcount(m.cr) + (u32)__builtin_popcount(lone_lf);
}

static inline b8 is_break_at(u8* text, s64 i) {
    return text[i] == '\r' || (text[i] == '\n' && !(i > 0 && text[i - 1] == '\r'));
}

// Breaks that start in text[0, length): a CR at the very end counts even when its LF
// lies beyond.
static u64 count_breaks(u8* text, s64 length) {
    u64 breaks = 0;
    u32 carry = 0;
    s64 i = 0;
    for (; i + 32 <= length; i += 32) {
        // No branch on break-free blocks: counting them costs less than a mispredicted jump.
        Break_Masks m = get_break_masks(text + i);
        breaks += count_block_breaks(m, carry);
        carry = m.cr >> 31;
    }
    for (; i < length; i++) breaks += is_break_at(text, i);
    return breaks;
}

u32 count_lines_in(u8* text, s64 length) {
    u64 started = os_get_monotonic_microseconds();
    u32 lines = 1 + (u32)count_breaks(text, length);
    __atomic_fetch_add(&global_get_num_lines_time, os_get_monotonic_microseconds() - started, __ATOMIC_RELAXED);
    return lines;
}

u64 count_breaks_between(u8* text, s64 start, s64 end) {
    if (end <= start) return 0;
    u64 breaks = count_breaks(text + start, end - start);
    // Counted alone, an LF at start would be a break; after a CR it belongs to the CR's.
    if (start > 0 && text[start] == '\n' && text[start - 1] == '\r') breaks--;
    return breaks;
}

s64 get_offset_after_breaks(u8* text, s64 length, s64 from, u64 wanted) {
    if (wanted == 0) return from;
    u64 seen = 0;
    u32 carry = from > 0 && text[from - 1] == '\r';
    s64 i = from;
    for (; i + 32 <= length; i += 32) {
        Break_Masks m = get_break_masks(text + i);
        u32 breaks = count_block_breaks(m, carry);
        if (seen + breaks >= wanted) break;
        seen += breaks;
        carry = m.cr >> 31;
    }
    for (; i < length; i++) {
        if (!is_break_at(text, i)) continue;
        if (++seen == wanted) return (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n') ? i + 2 : i + 1;
    }
    return length;
}

s64 get_offset_at_line(u8* text, s64 length, u32 line) {
    if (line == 0) return length;
    return get_offset_after_breaks(text, length, 0, line - 1);
}

s64 get_offset_at_line_from_file(Editor_File* file, u32 line) {
    file = editor_file_or_current(file);
    if (!file) return 0;
    return view_index_offset_at_line(file, line);
}

u32 get_line_at_offset(u8* text, s64 length, s64 offset) {
    if (offset > length) offset = length;
    if (offset < 0) offset = 0;
    return 1 + (u32)count_breaks(text, offset);
}

u32 editor_get_line_at_offset(Editor_File* file, s64 offset) {
    file = editor_file_or_current(file);
    if (!file) return 1;
    return view_index_line_at_offset(file, offset);
}

// A mask of the CR and LF octets of 16 at p.
static inline u32 get_break_mask16(u8* p) {
    __m128i block = _mm_loadu_si128((const __m128i*)p);
    __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(block, _mm_set1_epi8('\n')));
    return (u32)_mm_movemask_epi8(breaks);
}

// Both look 16 octets at a time: a long line is crossed at the speed of memory.
s64 get_line_start(u8* text, s64 offset) {
    s64 i = offset;
    while (i >= 16) {
        u32 mask = get_break_mask16(text + i - 16);
        if (mask) return i - 16 + (31 - __builtin_clz(mask)) + 1;
        i -= 16;
    }
    while (i > 0 && text[i - 1] != '\n' && text[i - 1] != '\r') i--;
    return i < 0 ? 0 : i;
}

s64 get_line_end(u8* text, s64 length, s64 offset) {
    if (offset >= length) return offset;
    s64 i = offset < 0 ? 0 : offset;
    for (; i + 16 <= length; i += 16) {
        u32 mask = get_break_mask16(text + i);
        if (mask) return i + __builtin_ctz(mask);
    }
    while (i < length && text[i] != '\n' && text[i] != '\r') i++;
    return i;
}

static inline b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

String get_whitespace_at(Editor_File* file, s64 offset) {
    file = editor_file_or_current(file);
    if (!file) return String{nullptr, 0};
    u8* text = file->text.data;
    s64 length = file->text.count;
    if (offset < 0) offset = 0;
    if (offset > length) offset = length;
    s64 start = offset;
    while (start > 0 && is_blank(text[start - 1])) start--;
    s64 end = offset;
    while (end < length && is_blank(text[end])) end++;
    return String{text + start, end - start};
}

String get_whitespace_from(s64 offset, u8* text, s64 length) {
    if (offset < 0 || offset >= length) return String{text + (offset < 0 ? 0 : length), 0};
    s64 end = offset;
    while (end < length && is_blank(text[end])) end++;
    return String{text + offset, end - offset};
}

u32 get_cursor_column(Editor_File* file, s64 line_start) {
    file = editor_file_or_current(file);
    if (!file || line_start < 0 || line_start >= file->cursor) return 0;
    u8* end = file->text.data + file->cursor;
    u32 column = 0;
    for (u8* p = file->text.data + line_start; p < end; p = utf8_get_next_character(p, end)) column++;
    return column;
}

void set_cursor_at_column(Editor_File* file, s64 line_start, u32 column) {
    file = editor_file_or_current(file);
    if (!file) return;
    u8* text = file->text.data;
    s64 length = file->text.count;
    if (length <= 0) {
        editor_set_cursor(file, 0);
        return;
    }
    if (line_start < 0) line_start = 0;
    if (line_start > length) line_start = length;
    u8* line_end = text + get_line_end(text, length, line_start);
    u8* p = text + line_start;
    for (u32 i = 0; i < column && p < line_end; i++) p = utf8_get_next_character(p, line_end);
    editor_set_cursor(file, p - text);
}

Editor_Token* get_first_editor_token_like(Editor_Token* token, u16 kind_mask, Editor_Token* first) {
    for (s64 i = token - first; i >= 0; i--) {
        if (first[i].kind & kind_mask) return &first[i];
    }
    return nullptr;
}

Editor_Token* get_scope_token(Editor_Token* token, Editor_Token* first) {
    u32 depth = 0;
    for (s64 i = token - first - 1; i >= 0; i--) {
        if (first[i].kind == EDITOR_TOKEN_CLOSE_SCOPE) {
            depth++;
        } else if (first[i].kind == EDITOR_TOKEN_OPEN_SCOPE) {
            if (depth == 0) return &first[i];
            depth--;
        }
    }
    return nullptr;
}
