// The font rows of the settings routines, on an X server whose monitor is 1920 by 1080: the
// size stored, the pixel size the pools get, when the fonts are rescaled (the glyph packer
// starts over) and the file tabs marked, and which fonts the text pools are given.
#include "routine_blocks.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include "tests/ui/archive_fonts.h"

bool start_routines_x_server(const char* screen);
void stop_routines_x_server();

namespace {

struct Font_Size_Case {
    const char* name;
    f32 size_before;  // the record's
    u32 id;           // set_settings or set_font_size
    f32 size;
    f32 size_after;
    u32 pixels_after;  // of all three pools; 0: unchanged
    bool rescaled;     // the packer started over and the file tab was marked
};

const Font_Size_Case FONT_SIZE_CASES[] = {
    {"settings: 10 is stored as 13.5", 20.0f, ROUTINE_SET_SETTINGS, 10.0f, 13.5f, 14, true},  // 14.58 pixels
    {"settings: 20 gives 21.6 pixels", 13.5f, ROUTINE_SET_SETTINGS, 20.0f, 20.0f, 21, true},
    {"settings: within 0.1 is no change", 20.0f, ROUTINE_SET_SETTINGS, 20.08f, 20.08f, 0, false},
    {"settings: the first size applies", 0.0f, ROUTINE_SET_SETTINGS, 30.0f, 30.0f, 32, true},  // 32.4 pixels
    {"font size: the same size rescales", 20.0f, ROUTINE_SET_FONT_SIZE, 20.0f, 20.0f, 21, true},
    {"font size: 10 is stored as 13.5", 20.0f, ROUTINE_SET_FONT_SIZE, 10.0f, 13.5f, 14, true},
    {"font size: huge fills the monitor", 20.0f, ROUTINE_SET_FONT_SIZE, 1e30f, 1000.0f, 1080, true},
};

struct Settings_X : ::testing::Test {
    static void SetUpTestSuite() {
        ASSERT_TRUE(start_routines_x_server("1920x1080x24"));
        ASSERT_TRUE(glfwInit());
        ASSERT_TRUE(set_up_archive_fonts(20));
    }
    static void TearDownTestSuite() {
        glfwTerminate();
        stop_routines_x_server();
    }
    void TearDown() override {
        dynamic_array_free(&tabs);
        init_tabs();
    }
};

Layer_Settings settings_with_size(f32 size) {
    Layer_Settings s = {};
    s.ui_theme = default_ui_theme;
    s.text_theme = default_text_theme;
    s.font_size = size;
    return s;
}

void call_with_size(u32 id, f32 size) {
    Test_Block block = id == ROUTINE_SET_SETTINGS ? block_from(settings_with_size(size)) : block_from(Font_Size_Parameters{size});
    call_routine_by_id(id, block.bytes);
    expect_block_tail_untouched(block);
}

b8 pool_uses(Font_Pool* pool, Font* font) {
    return pool->range_count == 2 && pool->ranges[0].first == 0 && pool->ranges[0].last == 0x52F &&
           pool->ranges[1].first == 0xFFFD && pool->ranges[1].last == 0xFFFD &&
           pool->ranges[0].font.info.data == font->info.data && pool->ranges[1].font.info.data == font->info.data;
}

}  // namespace

TEST_F(Settings_X, FontSizesAreStoredAppliedAndMarked) {
    EXPECT_NEAR(get_layer_font_pixel_size(20.0f), 21.6f, 1e-4f);
    Test_File file("ab");
    Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
    memset(tab, 0, sizeof(*tab));
    tab->kind = TAB_FILE;
    tab->file = file;

    for (const Font_Size_Case& c : FONT_SIZE_CASES) {
        SCOPED_TRACE(c.name);
        ui_init_font_pools(20);
        editor_settings.font_size = c.size_before;
        atomic_and_u16(&file->flags, (u16)~FILE_CENTRE_CURSOR);
        u32 generation = glyph_packer.generation;

        call_with_size(c.id, c.size);
        EXPECT_EQ(editor_settings.font_size, c.size_after);
        u32 pixels = c.pixels_after ? c.pixels_after : 20;
        EXPECT_EQ(code_font_pool.pixel_size, pixels);
        EXPECT_EQ(ui_font_pool.pixel_size, pixels);
        EXPECT_EQ(icons_font_pool.pixel_size, pixels);
        EXPECT_EQ(glyph_packer.generation != generation, c.rescaled);
        EXPECT_EQ((file->flags & FILE_CENTRE_CURSOR) != 0, c.rescaled);
    }
}

TEST_F(Settings_X, TextPoolsTakeTheNamedFontsAndKeepThemOnFailure) {
    struct Font_Case {
        const char* name;
        const char* ui_font;
        const char* code_font;
        Font* ui_after;
        Font* code_after;
        bool glyphs_kept;  // the pools were not set up again
    };
    const Font_Case cases[] = {
        {"the built-in fonts as they are", "$ui_default", "$code_default", &ui_latin_font, &code_latin_font, true},
        {"the interface in the code font", "$code_default", "$code_default", &code_latin_font, &code_latin_font, false},
        {"no names keep the pools", "", "", &ui_latin_font, &code_latin_font, true},
        {"a font that cannot be read", "no_such_font.ttf", "/no/such/font.ttf", &ui_latin_font, &code_latin_font, true},
    };
    for (const Font_Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui_init_font_pools(20);
        editor_settings.font_size = 20.0f;  // no rescale: only the fonts change
        Font_Range* range;
        ASSERT_NE(get_or_add_glyph(&ui_font_pool, 'a', nullptr, &range), nullptr);

        Layer_Settings s = settings_with_size(20.0f);
        s.ui_font = String{(u8*)c.ui_font, (s64)strlen(c.ui_font)};
        s.code_font = String{(u8*)c.code_font, (s64)strlen(c.code_font)};
        Test_Block block = block_from(s);
        call_routine_by_id(ROUTINE_SET_SETTINGS, block.bytes);

        EXPECT_TRUE(pool_uses(&ui_font_pool, c.ui_after));
        EXPECT_TRUE(pool_uses(&code_font_pool, c.code_after));
        EXPECT_EQ(ui_font_pool.ranges[0].glyphs.count == 1, c.glyphs_kept);
    }
}
