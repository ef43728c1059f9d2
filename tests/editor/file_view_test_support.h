// What the file view tests share: the built-in fonts from the archive built beside the
// tests, one frame of the view run without OpenGL, and the quads it appended, in window
// pixels with y downwards.
#pragma once

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <vector>

#include "editor/editor.h"
#include "foundation/os_files.h"
#include "ui/ui.h"
#include "tests/ui/drawn_quads.h"

#define VIEW_TEST_PIXEL_SIZE 20

inline void set_up_view_test_fonts() {
    static bool done = false;
    if (done) return;
    done = true;
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    ASSERT_TRUE(init_executable_filepath());
    ASSERT_TRUE(init_assets(executable_filepath));  // the quarn.data built beside the tests
    ASSERT_TRUE(init_font_from_executable(&ui_latin_font, (u8*)"UI_FONT", 7));
    ASSERT_TRUE(init_font_from_executable(&code_latin_font, (u8*)"CODE_FONT", 9));
    ASSERT_TRUE(init_font_from_executable(&icons_font, (u8*)"ICONS", 5));
    ui_init_font_pools(VIEW_TEST_PIXEL_SIZE);
    init_ui_elements();
    ui_window = &window;
    if (!renderer_info.width) renderer_info = Renderer_Info{800, 600, nullptr};
    ui_screen_resolution = v2{1000, 800};
}

struct View_Geometry {
    f32 left, top, right, bottom;
};

// One frame: the mouse where given, the button events queued, then the view drawn.
inline std::vector<Drawn_Quad> run_view_frame(Editor_File* file, View_Geometry g, v2 mouse, const std::vector<u32>& buttons) {
    begin_window_less_frame(mouse, buttons);
    draw_file(file, &code_font_pool, v2{g.left, g.top}, v2{g.right, g.bottom});
    return read_drawn_quads();
}

inline f32 get_code_advance() { return get_text_advance((u8*)"x", 1, &code_font_pool, 4); }

// Inside the band of the character at a column of a line (fractions reach into it), with
// the text at the view's left edge.
inline v2 point_at(Editor_File* file, View_Geometry g, u32 line, f32 column) {
    f32 lh = code_font_pool.line_height;
    return v2{g.left + column * get_code_advance(), g.top - file->scroll_y + (f32)line * lh + lh / 2};
}

inline const Drawn_Quad* find_quad(const std::vector<Drawn_Quad>& quads, Rgba colour, bool rectangle = true) {
    for (const Drawn_Quad& q : quads) {
        if (q.glyph != !rectangle) continue;
        if (same_colour(q.colour, colour)) return &q;
    }
    return nullptr;
}

inline const Drawn_Quad* find_cursor_quad(const std::vector<Drawn_Quad>& quads, Rgba colour) {
    for (const Drawn_Quad& q : quads) {
        if (!q.glyph && q.width == FILE_VIEW_CURSOR_WIDTH && same_colour(q.colour, colour)) return &q;
    }
    return nullptr;
}

inline std::vector<const Drawn_Quad*> glyph_quads(const std::vector<Drawn_Quad>& quads) {
    std::vector<const Drawn_Quad*> out;
    for (const Drawn_Quad& q : quads) {
        if (q.glyph) out.push_back(&q);
    }
    return out;
}

inline std::vector<const Drawn_Quad*> glyph_quads(const std::vector<Drawn_Quad>& quads, Rgba colour) {
    std::vector<const Drawn_Quad*> out;
    for (const Drawn_Quad& q : quads) {
        if (q.glyph && same_colour(q.colour, colour)) out.push_back(&q);
    }
    return out;
}

inline const Drawn_Quad* first_glyph(const std::vector<Drawn_Quad>& quads) {
    for (const Drawn_Quad& q : quads) {
        if (q.glyph) return &q;
    }
    return nullptr;
}

inline const Drawn_Quad* first_glyph(const std::vector<Drawn_Quad>& quads, Rgba colour) {
    for (const Drawn_Quad& q : quads) {
        if (q.glyph && same_colour(q.colour, colour)) return &q;
    }
    return nullptr;
}
