#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

f32 advance_of(Font_Pool* pool, u32 code_point) {
    Font_Range* range;
    return get_or_add_glyph(pool, code_point, nullptr, &range)->advance;
}

Glyph* text_glyph(Font_Pool* pool, u32 code_point) {
    Font_Range* range;
    return get_or_add_glyph(pool, code_point, nullptr, &range);
}

std::vector<u8> bytes_of(const char* s) { return std::vector<u8>(s, s + strlen(s)); }

}  // namespace

TEST(TextIterator, DecodesUtf8WithoutReadingPastTheEnd) {
    set_up_test_fonts(20);
    struct Case {
        const char* name;
        std::vector<u8> text;
        std::vector<u32> code_points;
        std::vector<u32> sizes;
    };
    const Case cases[] = {
        {"ascii", {'A', 'b'}, {'A', 'b'}, {1, 1}},
        {"two octets", {0xC3, 0xA9}, {0xE9}, {2}},
        {"three octets", {0xE2, 0x82, 0xAC}, {0x20AC}, {3}},
        {"four octets", {0xF0, 0x9F, 0x98, 0x80}, {0x1F600}, {4}},
        {"lead bits 18 to 20", {0xF1, 0x80, 0x80, 0x80}, {0x40000}, {4}},
        {"bad lead, then decoded afresh", {0xFF, 'A'}, {0xFFFD, 'A'}, {1, 1}},
        {"stray continuation", {0x80, 0x80}, {0xFFFD, 0xFFFD}, {1, 1}},
        {"sequence cut by the end", {'x', 0xE2, 0x82}, {'x', 0xFFFD, 0xFFFD}, {1, 1, 1}},
        {"four-octet lead at the end", {0xF0}, {0xFFFD}, {1}},
        {"lead followed by a letter", {0xC3, 'A'}, {0xFFFD, 'A'}, {1, 1}},
        {"overlong 0", {0xC0, 0x80}, {0xFFFD, 0xFFFD}, {1, 1}},
        {"surrogate", {0xED, 0xA0, 0x80}, {0xFFFD, 0xFFFD, 0xFFFD}, {1, 1, 1}},
        {"above U+10FFFF", {0xF4, 0x90, 0x80, 0x80}, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}, {1, 1, 1, 1}},
        {"tab reads as a space", {'\t'}, {' '}, {1}},
        {"empty", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly sized, so the sanitizer sees any read past the end.
        u8* text = c.text.empty() ? nullptr : new u8[c.text.size()];
        if (text) memcpy(text, c.text.data(), c.text.size());
        Text_Iterator it;
        init_text_iterator(&it, text, c.text.size(), &ui_font_pool, 4);
        std::vector<u32> code_points, sizes;
        while (text_iterator_get_next(&it)) {
            code_points.push_back(it.code_point);
            sizes.push_back((u32)(it.next - it.start));
            EXPECT_NE(it.current_glyph, nullptr);
        }
        EXPECT_EQ(code_points, c.code_points);
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(it.index, c.code_points.size());
        delete[] text;
    }
}

TEST(TextIterator, GlyphsFallbackAndKerning) {
    set_up_test_fonts(30);
    std::vector<u8> text = {'A', 'V', 0xEF, 0xBF, 0xBD, 'A', 0xF0, 0x9F, 0x98, 0x80, '\t'};
    Text_Iterator it;
    init_text_iterator(&it, text.data(), text.size(), &ui_font_pool, 4);

    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.kerning, 0);  // nothing before it
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_LT(it.kerning, -0.5f);  // "AV" is kerned in DejaVu Sans
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.current_glyph->code_point, 0xFFFDu);
    EXPECT_EQ(it.current_range, &ui_font_pool.ranges[1]);
    EXPECT_EQ(it.kerning, 0);  // another range
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.kerning, 0);  // and back
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.current_glyph->code_point, (u32)'?');  // no range covers U+1F600
    EXPECT_EQ(it.advance, advance_of(&ui_font_pool, '?'));
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.current_glyph->code_point, (u32)' ');
    EXPECT_FLOAT_EQ(it.advance, 4 * advance_of(&ui_font_pool, ' '));
    EXPECT_FALSE(text_iterator_get_next(&it));
}

// A flush in the middle of a text empties the glyph lists the iterator's pointers lead
// into; it must not keep drawing another glyph in place of "?".
TEST(TextIterator, FallbackSurvivesAFontMapFlush) {
    set_up_test_fonts(20);
    std::vector<u8> text = {'Z', 0xF0, 0x9F, 0x98, 0x80};
    Text_Iterator it;
    init_text_iterator(&it, text.data(), text.size(), &code_font_pool, 4);
    ASSERT_NE(it.fallback_glyph, nullptr);
    glyph_packer.side = FONT_MAP_MAX_SIDE;  // at its largest, a full map is flushed
    glyph_packer.x = FONT_MAP_MAX_SIDE - 3;
    glyph_packer.row_y = FONT_MAP_MAX_SIDE - 10;
    u32 generation = glyph_packer.generation;

    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(it.current_glyph->code_point, (u32)'Z');
    EXPECT_EQ(glyph_packer.generation, generation + 1);
    ASSERT_TRUE(text_iterator_get_next(&it));
    ASSERT_NE(it.current_glyph, nullptr);
    EXPECT_EQ(it.current_glyph->code_point, (u32)'?');

    // The "?" itself is what fills the map: packing it flushes, and it must still be drawn.
    resize_fonts(20, 20, 20);
    glyph_packer.side = FONT_MAP_MAX_SIDE;  // at its largest, a full map is flushed
    glyph_packer.x = FONT_MAP_MAX_SIDE - 3;
    glyph_packer.row_y = FONT_MAP_MAX_SIDE - 10;
    generation = glyph_packer.generation;
    text_iterator_update_text(&it, text.data() + 1, 4);
    ASSERT_TRUE(text_iterator_get_next(&it));
    EXPECT_EQ(glyph_packer.generation, generation + 1);
    ASSERT_NE(it.current_glyph, nullptr);
    EXPECT_EQ(it.current_glyph->code_point, (u32)'?');
}

TEST(TextMeasurement, WidthsAndAdvances) {
    set_up_test_fonts(20);
    Font_Pool* code = &code_font_pool;
    Font_Pool* ui = &ui_font_pool;
    f32 mono = advance_of(code, 'a');
    f32 space = advance_of(code, ' ');
    Glyph* c_glyph = text_glyph(code, 'c');
    Glyph* w_glyph = text_glyph(ui, 'w');
    Glyph* v_glyph = text_glyph(ui, 'V');
    // stb_truetype's figure for the pair is in font units: the glyphs' scale makes it pixels.
    stbtt_fontinfo* info = &ui_font_pool.ranges[0].font.info;
    f32 av = (f32)stbtt_GetCodepointKernAdvance(info, 'A', 'V') * stbtt_ScaleForPixelHeight(info, 20);
    ASSERT_LT(av, -0.5f);
    struct Case {
        const char* name;
        Font_Pool* pool;
        std::vector<u8> text;
        u8 tab_width;
        f32 advance;
        f32 width;
    };
    const Case cases[] = {
        {"empty", code, {}, 4, 0, 0},
        {"monospaced", code, bytes_of("abc"), 4, 3 * mono, 2 * mono + c_glyph->left_bearing + c_glyph->width},
        {"tab of four spaces", code, bytes_of("a\tc"), 4, 2 * mono + 4 * space, mono + 4 * space + c_glyph->left_bearing + c_glyph->width},
        {"tab of two spaces", code, bytes_of("\t"), 2, 2 * space, 2 * space},
        {"trailing space counts its advance", code, bytes_of("ab "), 4, 3 * mono, 3 * mono},
        {"proportional", ui, bytes_of("w"), 4, w_glyph->advance, w_glyph->left_bearing + w_glyph->width},
        {"a kerned pair", ui, bytes_of("AV"), 4, advance_of(ui, 'A') + av + v_glyph->advance,
         advance_of(ui, 'A') + av + v_glyph->left_bearing + v_glyph->width},
        {"malformed octets measure as U+FFFD", code, {0xFF, 0xFE}, 4, 2 * advance_of(code, 0xFFFD), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(get_text_advance((u8*)c.text.data(), c.text.size(), c.pool, c.tab_width), c.advance);
        if (c.width) {
            EXPECT_FLOAT_EQ(get_text_width((u8*)c.text.data(), c.text.size(), c.pool, c.tab_width), c.width);
        }
    }
}

TEST(TextMeasurement, WidthUpToEachCharacter) {
    set_up_test_fonts(20);
    std::vector<u8> text = bytes_of("ab\t\xC3\xA9x");  // the fourth character has two octets
    f32 a = advance_of(&ui_font_pool, 'a'), b = advance_of(&ui_font_pool, 'b');
    f32 tab = 4 * advance_of(&ui_font_pool, ' '), e = advance_of(&ui_font_pool, 0xE9);
    f32 whole = get_text_width(text.data(), text.size(), &ui_font_pool, 4);
    // DejaVu Sans kerns "éx" (stb_truetype gives font units).
    stbtt_fontinfo* info = &ui_font_pool.ranges[0].font.info;
    f32 ex = (f32)stbtt_GetCodepointKernAdvance(info, 0xE9, 'x') * stbtt_ScaleForPixelHeight(info, 20);
    ASSERT_LT(ex, 0);
    struct Case {
        u64 offset;
        f32 expected;
    };
    const Case cases[] = {
        {0, a}, {1, a + b}, {2, a + b + tab}, {3, a + b + tab + e}, {4, a + b + tab + e},
        {5, a + b + tab + e + ex + advance_of(&ui_font_pool, 'x')}, {6, whole}, {100, whole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_FLOAT_EQ(get_text_width_up_to_next_character(text.data(), text.size(), &ui_font_pool, c.offset, 4), c.expected);
    }
}
