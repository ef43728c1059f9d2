// Text iteration and measurement. Drawing and measuring walk text with the same iterator,
// one UTF-8 character at a time, so measured and drawn widths agree. Tabs are spaces
// stretched by a tab width.
#pragma once

#include "foundation/types.h"
#include "ui/fonts.h"

struct Text_Iterator {
    u8* start;  // first octet of the current character
    u8* next;   // first octet of the following one
    u8* end;
    u64 index;  // characters read so far
    f32 tab_width;  // in spaces
    f32 kerning;    // pixels between the previous and the current glyph
    f32 advance;    // pixels, the current glyph's (a tab's is tab_width spaces)
    u32 code_point; // of the current character (a tab reads as a space)
    Font_Pool* font_pool;
    Glyph* fallback_glyph;  // the pool's "?", drawn for code points no range covers
    Font_Range* fallback_range;
    Font_Range* current_range;  // of the previous glyph, asked first for the next one
    Glyph* previous_glyph;
    Glyph* current_glyph;   // null only when the pool has no "?" either
    u32 glyph_generation;   // glyph_packer.generation when the glyph pointers were taken
};

//~ text.cpp

void init_text_iterator(Text_Iterator* it, u8* text, u64 count, Font_Pool* pool, s32 tab_width);
void text_iterator_update_text(Text_Iterator* it, u8* text, u64 count);
// Starts on another text, keeping the pool and the previous glyph (kerning carries over).

u8* text_iterator_get_next(Text_Iterator* it);
// Steps one character: the new next pointer, or null at the end. Malformed UTF-8 reads as
// U+FFFD for one octet; no octet at or past end is read.

f32 get_text_width(u8* text, u64 count, Font_Pool* pool, u8 tab_width);
// The visible width: every advance but the last and every kerning, then the last glyph's
// bearing and box.
f32 get_text_advance(u8* text, u64 count, Font_Pool* pool, u8 tab_width);
// The advances and the kerning between them: where the pen ends.
f32 get_text_width_up_to_next_character(u8* text, u64 count, Font_Pool* pool, u64 offset, u8 tab_width);
// The advances and kerning up to and including the character at the byte offset; the
// whole width when the offset is at or past the end.
