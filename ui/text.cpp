// The text iterator and the measurements built on it. Glyph pointers it holds die when the
// font map is flushed or the fonts are resized; glyph_packer.generation tells it so.

#include "ui/text.h"
#include "foundation/unicode.h"

static void forget_stale_glyphs(Text_Iterator* it) {
    if (it->glyph_generation == glyph_packer.generation) return;
    it->previous_glyph = nullptr;
    it->fallback_glyph = nullptr;
    it->glyph_generation = glyph_packer.generation;
}

static Glyph* get_fallback_glyph(Text_Iterator* it) {
    forget_stale_glyphs(it);
    if (!it->fallback_glyph) {
        // Code point 0 is cached as "?". Should packing it flush the map, it alone is valid.
        Glyph* fallback = get_or_add_glyph(it->font_pool, 0, nullptr, &it->fallback_range);
        forget_stale_glyphs(it);
        it->fallback_glyph = fallback;
    }
    return it->fallback_glyph;
}

void init_text_iterator(Text_Iterator* it, u8* text, u64 count, Font_Pool* pool, s32 tab_width) {
    *it = Text_Iterator{};
    it->start = text;
    it->next = text;
    it->end = text + count;
    it->tab_width = (f32)tab_width;
    it->font_pool = pool;
    it->glyph_generation = glyph_packer.generation;
    get_fallback_glyph(it);
}

void text_iterator_update_text(Text_Iterator* it, u8* text, u64 count) {
    it->start = text;
    it->next = text;
    it->end = text + count;
    it->index = 0;
    it->kerning = 0;
    it->advance = 0;
}

u8* text_iterator_get_next(Text_Iterator* it) {
    if (it->next >= it->end) return nullptr;
    it->start = it->next;
    // A bad lead, or a sequence the end cuts off, is one octet of U+FFFD.
    u32 size = get_utf8_char_size_in(it->start, it->end);
    u32 code_point = utf8_known_size_to_utf32_codepoint(it->start, size);
    f32 factor = 1;
    if (code_point == '\t') {
        code_point = ' ';
        factor = it->tab_width;
    }
    it->code_point = code_point;

    forget_stale_glyphs(it);
    Font_Range* range = nullptr;
    Glyph* glyph = get_or_add_glyph(it->font_pool, code_point, it->current_range, &range);
    forget_stale_glyphs(it);
    if (!glyph) {
        glyph = get_fallback_glyph(it);
        range = it->fallback_range;
    }

    it->kerning = 0;
    if (glyph && it->previous_glyph && range == it->current_range) {
        // Kerning pairs exist only within one font.
        s32 units = stbtt_GetGlyphKernAdvance(&range->font.info, (int)it->previous_glyph->glyph_index, (int)glyph->glyph_index);
        it->kerning = (f32)units * range->scale;
    } else if (range) {
        it->current_range = range;
    }

    it->advance = glyph ? factor * glyph->advance : 0;
    it->next = it->start + size;
    it->previous_glyph = glyph;
    it->current_glyph = glyph;
    it->index++;
    return it->next;
}

f32 get_text_advance(u8* text, u64 count, Font_Pool* pool, u8 tab_width) {
    Text_Iterator it;
    init_text_iterator(&it, text, count, pool, tab_width);
    f32 advance = 0;
    while (text_iterator_get_next(&it)) advance += it.kerning + it.advance;
    return advance;
}

f32 get_text_width(u8* text, u64 count, Font_Pool* pool, u8 tab_width) {
    Text_Iterator it;
    init_text_iterator(&it, text, count, pool, tab_width);
    f32 width = 0;
    f32 last_advance = 0;
    Glyph* last = nullptr;
    while (text_iterator_get_next(&it)) {
        width += last_advance + it.kerning;
        last_advance = it.advance;
        last = it.current_glyph;
    }
    if (!last) return width + last_advance;
    // A blank's box is empty: it counts with its advance, so trailing spaces are measured.
    return width + last->left_bearing + (last->width < 0.001f ? last_advance : last->width);
}

f32 get_text_width_up_to_next_character(u8* text, u64 count, Font_Pool* pool, u64 offset, u8 tab_width) {
    if (offset >= count) return get_text_width(text, count, pool, tab_width);
    Text_Iterator it;
    init_text_iterator(&it, text, count, pool, tab_width);
    f32 width = 0;
    while (text_iterator_get_next(&it)) {
        width += it.kerning + it.advance;
        if (it.next > text + offset) break;
    }
    return width;
}
