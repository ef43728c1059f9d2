// Fonts and the glyph cache without a window: the font map is not there, so nothing is
// uploaded, but every glyph is still rasterised, measured and placed.
#include <gtest/gtest.h>

#include "ui_test_support.h"
#include "foundation/os_files.h"

namespace {

struct Placed {
    u32 x, y, width, height;
};

bool overlap(const Placed& a, const Placed& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

Glyph* glyph_of(Font_Pool* pool, u32 code_point, Font_Range** range = nullptr) {
    Font_Range* ignored;
    return get_or_add_glyph(pool, code_point, nullptr, range ? range : &ignored);
}

}  // namespace

TEST(GlyphCache, RangesControlCharactersAndUncoveredCodePoints) {
    set_up_test_fonts(20);
    struct Case {
        const char* name;
        u32 code_point;
        s32 expected_code_point;  // -1: no glyph
        u32 expected_range;
    };
    static const Case cases[] = {
        {"letter", 'A', 'A', 0},
        {"bell is drawn as ?", 7, '?', 0},
        {"code point 0 is the fallback ?", 0, '?', 0},
        {"tab stays a tab", '\t', '\t', 0},
        {"last of the first range", 0x52F, 0x52F, 0},
        {"replacement character from its own range", 0xFFFD, 0xFFFD, 1},
        {"just past the first range", 0x530, -1, 0},
        {"outside every range", 0x1F600, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Font_Range* range = nullptr;
        Glyph* glyph = glyph_of(&ui_font_pool, c.code_point, &range);
        if (c.expected_code_point < 0) {
            EXPECT_EQ(glyph, nullptr);
            continue;
        }
        ASSERT_NE(glyph, nullptr);
        EXPECT_EQ(glyph->code_point, (u32)c.expected_code_point);
        EXPECT_EQ(range, &ui_font_pool.ranges[c.expected_range]);
    }
}

TEST(GlyphCache, AGlyphIsRasterisedOnceAndMeasuredFromTheFont) {
    set_up_test_fonts(20);
    Font_Range* range = &code_font_pool.ranges[0];
    Glyph* h = glyph_of(&code_font_pool, 'H');
    u32 cached = range->glyphs.count;
    EXPECT_EQ(glyph_of(&code_font_pool, 'H'), h);
    EXPECT_EQ(range->glyphs.count, cached);

    // DejaVu Sans Mono: advance 1233 and H from 137 to 1096 and up to 1493 units, of 2384
    // units from ascent to descent.
    f32 scale = 20.0f / 2384.0f;
    EXPECT_NEAR(h->advance, 1233 * scale, 1e-3);
    EXPECT_NEAR(h->left_bearing, 137 * scale, 1e-3);
    EXPECT_EQ(h->y_offset, floorf(-1493 * scale));
    EXPECT_EQ(h->height, ceilf(0 * scale) - floorf(-1493 * scale));
    EXPECT_NEAR(code_font_pool.ascent, 1901 * scale, 1e-3);
    EXPECT_NEAR(code_font_pool.descent, 483 * scale, 1e-3);
    EXPECT_NEAR(code_font_pool.line_height, 20.0f, 1e-3);

    Glyph* space = glyph_of(&code_font_pool, ' ');
    EXPECT_EQ(space->width, 0);
    EXPECT_EQ(space->height, 0);
    EXPECT_GT(space->advance, 10);
}

TEST(GlyphCache, PackerRowsAndGaps) {
    struct Case {
        const char* name;
        u32 x;
        u32 width;
        u32 expected_x;
        u32 expected_next_x;
        bool new_row;
    };
    static const Case cases[] = {
        {"101 texels left for 100 starts a new row", 8091, 100, 1, 102, true},
        {"102 texels left for 100 fits", 8090, 100, 8090, 8191, false},
        {"a blank takes only its gap", 500, 0, 500, 501, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        glyph_packer = Glyph_Packer{c.x, 40, 30, 0, FONT_MAP_MAX_SIDE};
        u32 x = 0, y = 0;
        ASSERT_TRUE(pack_glyph(c.width, 20, nullptr, &x, &y));
        EXPECT_EQ(x, c.expected_x);
        EXPECT_EQ(y, c.new_row ? 40u + 30 + 1 : 40u);
        EXPECT_EQ(glyph_packer.x, c.expected_next_x);
    }
}

TEST(GlyphCache, TallGlyphsNeverOverlapTheNextRow) {
    glyph_packer = Glyph_Packer{1, 1, 10, 0, FONT_MAP_MAX_SIDE};
    const u32 heights[] = {5, 10, 64, 8, 3};
    std::vector<Placed> placed;
    for (u32 row = 0; row < 3; row++) {
        for (u32 h : heights) {
            Placed p = {0, 0, 2000, h};
            ASSERT_TRUE(pack_glyph(p.width, p.height, nullptr, &p.x, &p.y));
            placed.push_back(p);
        }
    }
    for (u32 i = 0; i < placed.size(); i++) {
        for (u32 j = i + 1; j < placed.size(); j++) {
            EXPECT_FALSE(overlap(placed[i], placed[j])) << i << " and " << j;
        }
    }
}

TEST(GlyphCache, AFullFontMapIsFlushedAndPackingStartsAgain) {
    set_up_test_fonts(30);
    Glyph* a = glyph_of(&ui_font_pool, 'a');
    glyph_of(&code_font_pool, 'b');
    ASSERT_NE(a, nullptr);
    u32 generation = glyph_packer.generation;

    // Put the packer on the last row of the largest map that still has room for a short
    // glyph. Without a window there is no texture to keep, so the side is set directly.
    glyph_packer.side = FONT_MAP_MAX_SIDE;
    glyph_packer.x = FONT_MAP_MAX_SIDE - 5;
    glyph_packer.row_y = FONT_MAP_MAX_SIDE - 25;
    ui_flags = 0;
    Glyph* w = glyph_of(&ui_font_pool, 'W');
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(glyph_packer.generation, generation + 1);
    // What the frame drew before the flush is stale: another frame must follow at once.
    EXPECT_TRUE(ui_flags & UI_KEEP_RUNNING);
    EXPECT_EQ(w->x, 1u);
    EXPECT_EQ(w->y, 1u);
    EXPECT_LE(w->texture_coords.w, 1.0f);
    // Every list was emptied: only the new glyph is cached, the others come back anew.
    EXPECT_EQ(ui_font_pool.ranges[0].glyphs.count, 1u);
    EXPECT_EQ(code_font_pool.ranges[0].glyphs.count, 0u);
    Glyph* b = glyph_of(&code_font_pool, 'b');
    EXPECT_EQ(b->y, 1u);
    EXPECT_GT(b->x, w->x);
}

TEST(GlyphCache, EveryGlyphStaysInsideTheMapAtAHugeSize) {
    set_up_test_fonts(2500);
    u32 flushes = glyph_packer.generation;
    for (const char* c = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"; *c; c++) {
        SCOPED_TRACE(*c);
        Glyph* g = glyph_of(&ui_font_pool, (u8)*c);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->code_point, (u32)(u8)*c);
        EXPECT_LE(g->y + (u32)g->height, glyph_packer.side - 1);
        EXPECT_LE(g->x + (u32)g->width, glyph_packer.side - 1);
        EXPECT_LE(g->texture_coords.z, 1.0f);
        EXPECT_LE(g->texture_coords.w, 1.0f);
    }
    EXPECT_GT(glyph_packer.generation, flushes);  // 36 glyphs of about 1000 by 1500 texels do not fit at once
    EXPECT_EQ(glyph_packer.side, (u32)FONT_MAP_MAX_SIDE) << "the map grew to its largest before it was flushed";
}

TEST(GlyphCache, AFullMapGrowsAndItsGlyphsKeepTheirPlaces) {
    set_up_test_fonts(30);
    glyph_packer.side = FONT_MAP_FIRST_SIDE;  // no texture without a window: the side is the packer's
    Glyph* a = glyph_of(&ui_font_pool, 'a');
    Glyph* b = glyph_of(&code_font_pool, 'b');
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    Glyph before_a = *a, before_b = *b;
    u32 generation = glyph_packer.generation;

    glyph_packer.x = FONT_MAP_FIRST_SIDE - 5;
    glyph_packer.row_y = FONT_MAP_FIRST_SIDE - 25;
    // A quad laid out before the growth in the same frame follows it.
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    draw_glyph_scissored(a, v2{0, 0}, Rgba{1, 1, 1, 1}, v2{0, 0}, v2{100, 100});
    Glyph* w = glyph_of(&ui_font_pool, 'W');
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(glyph_packer.side, 2u * FONT_MAP_FIRST_SIDE);
    EXPECT_EQ(glyph_packer.generation, generation) << "nothing was flushed";
    Quad_Instance* quad = (Quad_Instance*)renderer_quad_instances.data;
    EXPECT_EQ(memcmp(&quad->texture_coords, &a->texture_coords, sizeof(v4)), 0);
    EXPECT_GT(w->y, FONT_MAP_FIRST_SIDE - 25u);
    EXPECT_LE(w->y + (u32)w->height, glyph_packer.side - 1);
    // The glyphs cached before are the same records at the same texels, with coordinates of
    // the larger map.
    EXPECT_EQ(glyph_of(&ui_font_pool, 'a'), a);
    for (auto [now, was] : {std::pair{a, before_a}, std::pair{b, before_b}}) {
        EXPECT_EQ(now->x, was.x);
        EXPECT_EQ(now->y, was.y);
        EXPECT_FLOAT_EQ(now->texture_coords.x, was.texture_coords.x / 2);
        EXPECT_FLOAT_EQ(now->texture_coords.y, was.texture_coords.y / 2);
        EXPECT_FLOAT_EQ(now->texture_coords.z, was.texture_coords.z / 2);
        EXPECT_FLOAT_EQ(now->texture_coords.w, was.texture_coords.w / 2);
    }
}

TEST(GlyphCache, ResizeRasterisesEveryGlyphAgain) {
    set_up_test_fonts(20);
    f32 small_width = glyph_of(&code_font_pool, 'M')->width;
    u32 generation = glyph_packer.generation;
    resize_fonts(40, 40, 40);
    EXPECT_EQ(code_font_pool.pixel_size, 40u);
    EXPECT_EQ(code_font_pool.ranges[0].glyphs.count, 0u);
    EXPECT_EQ(glyph_packer.generation, generation + 1);
    EXPECT_EQ(glyph_packer.x, 1u);
    EXPECT_EQ(glyph_packer.row_height, (u32)ceilf(code_font_pool.line_height > ui_font_pool.line_height
                                                      ? code_font_pool.line_height
                                                      : ui_font_pool.line_height));
    EXPECT_NEAR(glyph_of(&code_font_pool, 'M')->width, 2 * small_width, 2);
}

TEST(Fonts, ScreenResolutionChangeScalesWithTheMonitorHeight) {
    struct Case {
        const char* name;
        f32 font_size;
        s32 height;
        f32 clamped;
        u32 pixel_size;
    };
    static const Case cases[] = {
        {"thousandths of the height", 20.0f, 1080, 20.0f, 21},
        {"small sizes clamp to the minimum", 5.0f, 1000, MIN_FONT_SIZE, 13},
        {"taller monitor, larger text", 20.0f, 2160, 20.0f, 43},
        {"no video mode gives the smallest pool", 20.0f, 0, 20.0f, 1},
    };
    set_up_test_fonts(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(handle_screen_resolution_change(c.font_size, c.height), c.clamped);
        EXPECT_EQ(ui_font_pool.pixel_size, c.pixel_size);
        EXPECT_EQ(code_font_pool.pixel_size, c.pixel_size);
        EXPECT_EQ(icons_font_pool.pixel_size, c.pixel_size);
    }
}

TEST(Fonts, BuiltInFontsComeFromTheArchive) {
    struct Case {
        const char* name;
        bool expected;
    };
    static const Case cases[] = {
        {"UI_FONT", true}, {"CODE_FONT", true}, {"ICONS", true},
        {"UI", false},  // a prefix of an entry's name is not the entry
        {"LOGO", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Font font;
        EXPECT_EQ(init_font_from_executable(&font, (u8*)c.name, strlen(c.name)), c.expected);
        if (c.expected) {
            EXPECT_STREQ(font.name, c.name);
            EXPECT_GT(font.ascent, 0);
            EXPECT_LT(font.descent, 0);
        }
    }
}

TEST(Fonts, DamagedFontFilesAreTurnedAway) {
    const std::vector<u8>& good = read_test_file(DEJAVU_SANS_MONO_PATH);
    struct Case {
        const char* name;
        u64 size;             // of the good file's octets kept
        u32 patch_offset;     // 0: no patch
        std::vector<u8> patch;
        bool expected;
    };
    const Case cases[] = {
        {"whole file", good.size(), 0, {}, true},
        {"empty", 0, 0, {}, false},
        {"only the header", 12, 0, {}, false},
        {"cut inside the table data", good.size() / 2, 0, {}, false},
        {"table directory longer than the file", good.size(), 4, {0xFF, 0xFF}, false},
        {"a collection, not one font", good.size(), 0, {'t', 't', 'c', 'f'}, false},
        {"a collection's header and nothing after it", 12, 0, {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1}, false},
        {"not a font at all", good.size(), 0, {'%', 'P', 'D', 'F'}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u8> bytes(good.begin(), good.begin() + c.size);
        for (u32 i = 0; i < c.patch.size(); i++) bytes[c.patch_offset + i] = c.patch[i];
        Font font;
        EXPECT_EQ(init_font(&font, bytes.data(), bytes.size(), (u8*)"test", 4), c.expected);
        EXPECT_STREQ(font.name, "test");
    }
}

TEST(Fonts, FileFontsAreSharedAndFreedSafely) {
    set_up_test_fonts(20);
    s64 mono = get_or_add_file_font((u8*)DEJAVU_SANS_MONO_PATH, strlen(DEJAVU_SANS_MONO_PATH));
    ASSERT_GE(mono, 0);
    EXPECT_EQ(get_or_add_file_font((u8*)DEJAVU_SANS_MONO_PATH, strlen(DEJAVU_SANS_MONO_PATH)), mono);
    EXPECT_EQ(get_or_add_file_font((u8*)"/nonexistent/font.ttf", 21), -1);
    EXPECT_EQ(get_or_add_file_font((u8*)"/etc/hostname", 13), -1);
    File_Font* file_font = &((File_Font*)file_fonts.data)[mono];
    EXPECT_EQ(std::string((char*)file_font->path.data, file_font->path.count), DEJAVU_SANS_MONO_PATH);

    Font_Range_Request requests[] = {
        {0, 0x7F, STR("dejavu/DejaVuSansMono.ttf")},  // beside the "executable"
        {0x80, 0x52F, STR("$ui_default")},
        {0xFFFD, 0xFFFD, STR("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")},
    };
    String kept_directory = executable_filepath;
    executable_filepath = STR("/usr/share/fonts/truetype");
    ASSERT_TRUE(maybe_set_new_font_pool(&code_font_pool, requests, 3));
    ASSERT_EQ(code_font_pool.range_count, 3);
    EXPECT_EQ(code_font_pool.ranges[1].font.info.data, ui_latin_font.info.data);
    EXPECT_NE(code_font_pool.ranges[2].font.info.data, ui_latin_font.info.data);  // a file of its own
    glyph_of(&code_font_pool, 'x');
    EXPECT_EQ(code_font_pool.ranges[0].glyphs.count, 1u);

    // Asking again for the same ranges keeps the glyphs.
    ASSERT_TRUE(maybe_set_new_font_pool(&code_font_pool, requests, 3));
    EXPECT_EQ(code_font_pool.ranges[0].glyphs.count, 1u);

    // A request that cannot be met changes nothing.
    Font_Range_Request broken[] = {{0, 0x7F, STR("$code_default")}, {0x80, 0xFF, STR("missing.ttf")}};
    EXPECT_FALSE(maybe_set_new_font_pool(&code_font_pool, broken, 2));
    EXPECT_EQ(code_font_pool.range_count, 3);
    executable_filepath = kept_directory;

    // Freeing the file font takes its ranges out first: nothing points into freed octets.
    s64 relative = get_or_add_file_font((u8*)"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", strlen(DEJAVU_SANS_MONO_PATH));
    ASSERT_EQ(relative, mono);
    const void* freed = code_font_pool.ranges[0].font.info.data;
    free_file_font(&((File_Font*)file_fonts.data)[mono]);
    ASSERT_EQ(code_font_pool.range_count, 2);
    for (u32 i = 0; i < code_font_pool.range_count; i++) EXPECT_NE(code_font_pool.ranges[i].font.info.data, freed);
    EXPECT_EQ(code_font_pool.ranges[0].first, 0x80u);
    EXPECT_NE(glyph_of(&code_font_pool, 0x416), nullptr);
    EXPECT_EQ(glyph_of(&code_font_pool, 'x'), nullptr);
    EXPECT_FALSE(((File_Font*)file_fonts.data)[mono].in_use);
}
