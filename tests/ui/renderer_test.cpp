// The renderer's CPU side: quads, scissors and text layout, without a window.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

Quad_Instance* quads() { return (Quad_Instance*)renderer_quad_instances.data; }

// Window pixels, y downwards, of a quad's top-left corner.
v2 top_left_of(const Quad_Instance& q) {
    return v2{q.position.x - q.scale.x, (f32)renderer_info.height - (q.position.y + q.scale.y)};
}

void start_frame(u32 width, u32 height) {
    resize_render_target(width, height);
    prepare_frame();
}

void expect_v4(v4 a, v4 b) {
    EXPECT_FLOAT_EQ(a.x, b.x);
    EXPECT_FLOAT_EQ(a.y, b.y);
    EXPECT_FLOAT_EQ(a.z, b.z);
    EXPECT_FLOAT_EQ(a.w, b.w);
}

}  // namespace

TEST(Renderer, QuadsAreCentresAndHalfSizesWithYUpwards) {
    start_frame(200, 100);
    Quad_Instance* q = renderer_draw_quad(QUAD_INSTANCE_GLYPH, v2{0, 0}, v2{10, 10}, Rgba{1, 0, 0, 1}, v4{0.1f, 0.2f, 0.3f, 0.4f});
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q->position.x, 5);
    EXPECT_FLOAT_EQ(q->position.y, 95);
    EXPECT_FLOAT_EQ(q->scale.x, 5);
    EXPECT_FLOAT_EQ(q->scale.y, 5);
    EXPECT_FLOAT_EQ(q->rt_dimensions.x, 200);
    EXPECT_FLOAT_EQ(q->rt_dimensions.y, 100);
    EXPECT_EQ(q->flags, (u32)QUAD_INSTANCE_GLYPH);
    expect_v4(q->texture_coords, v4{0.1f, 0.2f, 0.3f, 0.4f});
}

// Quads drawn before any scissor is set are clipped to the whole target, and the whole
// target reaches the far edges so the last row and column are drawn.
TEST(Renderer, WholeTargetScissorsFromTheFirstQuad) {
    start_frame(200, 100);
    ASSERT_EQ(renderer_scissors.count, 1u);
    renderer_draw_quad(0, v2{1, 1}, v2{1, 1}, Rgba{}, v4{});
    draw_quad(v2{0, 0}, v2{200, 100}, Rgba{});
    expect_v4(quads()[0].scissors, v4{0, 100, 200, 0});
    expect_v4(quads()[1].scissors, v4{0, 100, 200, 0});
    EXPECT_EQ(renderer_scissors.count, 1u);  // draw_quad's rectangle is the one already there
}

TEST(Renderer, ScissorEntriesOnlyWhenTheRectangleChanges) {
    start_frame(200, 100);
    renderer_set_scissors(v2{10, 20}, v2{50, 60});
    renderer_set_scissors(v2{10, 20}, v2{50, 60});
    EXPECT_EQ(renderer_scissors.count, 2u);
    renderer_draw_quad(0, v2{0, 0}, v2{5, 5}, Rgba{}, v4{});
    renderer_set_scissors(v2{0, 0}, v2{5, 5});
    renderer_draw_quad(0, v2{0, 0}, v2{5, 5}, Rgba{}, v4{});
    ASSERT_EQ(renderer_scissors.count, 3u);
    Scissor_Entry* entries = (Scissor_Entry*)renderer_scissors.data;
    EXPECT_EQ(entries[2].first_quad, 1u);
    expect_v4(quads()[0].scissors, v4{10, 80, 50, 40});
    expect_v4(quads()[1].scissors, v4{0, 100, 5, 95});

    prepare_frame();
    EXPECT_EQ(renderer_quad_instances.count, 0u);
    EXPECT_EQ(renderer_scissors.count, 1u);
}

TEST(Renderer, CombineScissorsIntersects) {
    struct Case {
        const char* name;
        v2 a0, a1, b0, b1;
        v4 expected;
    };
    static const Case cases[] = {
        {"overlapping", {0, 0}, {100, 100}, {50, 20}, {150, 80}, {50, 20, 100, 80}},
        {"nested", {10, 10}, {90, 90}, {0, 0}, {100, 100}, {10, 10, 90, 90}},
        {"disjoint gives an empty rectangle", {0, 0}, {10, 10}, {20, 20}, {30, 30}, {20, 20, 10, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_v4(combine_scissors(c.a0, c.a1, c.b0, c.b1), c.expected);
    }
}

TEST(Renderer, TextSitsOnItsBaselineBelowTheTopEdge) {
    set_up_test_fonts(20);
    start_frame(800, 600);
    draw_text((u8*)"Hg", 2, &code_font_pool, 0, 10.7f, 20.3f, Rgba{1, 1, 1, 1});
    ASSERT_EQ(renderer_quad_instances.count, 2u);
    Font_Range* range;
    Glyph* h = get_or_add_glyph(&code_font_pool, 'H', nullptr, &range);
    Glyph* g = get_or_add_glyph(&code_font_pool, 'g', nullptr, &range);
    f32 baseline = 20 + floorf(code_font_pool.ascent);
    v2 h_corner = top_left_of(quads()[0]);
    EXPECT_FLOAT_EQ(h_corner.x, floorf(10 + h->left_bearing));
    EXPECT_FLOAT_EQ(h_corner.y, baseline + h->y_offset);
    EXPECT_GE(h_corner.y, 20);  // no ink above the top edge
    v2 g_corner = top_left_of(quads()[1]);
    EXPECT_FLOAT_EQ(g_corner.x, floorf(floorf(10.7f + h->advance) + g->left_bearing));
    EXPECT_LE(g_corner.y + g->height, 20.3f + code_font_pool.pixel_size);  // the descender stays in the line
    EXPECT_EQ(quads()[0].flags, (u32)QUAD_INSTANCE_GLYPH);
    expect_v4(quads()[0].texture_coords, h->texture_coords);
}

TEST(Renderer, TextAlignment) {
    set_up_test_fonts(20);
    u8* text = (u8*)"ab c";
    f32 width = get_text_width(text, 4, &ui_font_pool, 4);
    f32 advance = get_text_advance(text, 4, &ui_font_pool, 4);
    struct Case {
        const char* name;
        u32 flags;
        f32 x_shift;
        f32 y_shift;
    };
    const Case cases[] = {
        {"left", 0, 0, 0},
        {"centred on x", DRAW_TEXT_CENTRE_X, -width / 2, 0},
        {"right by the ink", DRAW_TEXT_RIGHT, -width, 0},
        {"right by the advances", DRAW_TEXT_RIGHT_OF_ADVANCE, -advance, 0},
        {"both right flags", DRAW_TEXT_RIGHT | DRAW_TEXT_RIGHT_OF_ADVANCE, -width - advance, 0},
        {"centred on both axes", DRAW_TEXT_CENTRE, -width / 2, -10},
        {"centre x wins over centre", DRAW_TEXT_CENTRE_X | DRAW_TEXT_CENTRE, -width / 2, 0},
    };
    start_frame(800, 600);
    draw_text(text, 4, &ui_font_pool, 0, 300, 200, Rgba{1, 1, 1, 1});
    v2 reference = top_left_of(quads()[0]);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_frame(800, 600);
        draw_text(text, 4, &ui_font_pool, c.flags, 300, 200, Rgba{1, 1, 1, 1});
        ASSERT_EQ(renderer_quad_instances.count, 3u);  // the blank has no quad
        v2 corner = top_left_of(quads()[0]);
        EXPECT_NEAR(corner.x, reference.x + c.x_shift, 1.0f);
        EXPECT_NEAR(corner.y, reference.y + c.y_shift, 1.0f);
    }
}

// Kerning moves the pen, so a pair's space holds for the glyphs after it, and measuring
// counts it too: right-aligned and centred text lines up with what was measured.
TEST(Renderer, KerningMovesThePen) {
    set_up_test_fonts(30);
    u8* text = (u8*)"AVAV";
    std::vector<f32> kerning, advances, bearings;
    Text_Iterator it;
    init_text_iterator(&it, text, 4, &ui_font_pool, DRAW_TEXT_TAB_WIDTH);
    while (text_iterator_get_next(&it)) {
        kerning.push_back(it.kerning);
        advances.push_back(it.advance);
        bearings.push_back(it.current_glyph->left_bearing);
    }
    ASSERT_EQ(kerning.size(), 4u);
    ASSERT_LT(kerning[1], -0.5f);  // "AV" and "VA" are kerned in DejaVu Sans
    ASSERT_LT(kerning[2], -0.5f);

    start_frame(800, 600);
    draw_text(text, 4, &ui_font_pool, DRAW_TEXT_RIGHT_OF_ADVANCE, 300, 200, Rgba{1, 1, 1, 1});
    ASSERT_EQ(renderer_quad_instances.count, 4u);
    f32 pen = 300 - get_text_advance(text, 4, &ui_font_pool, DRAW_TEXT_TAB_WIDTH);
    for (u32 i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        pen += kerning[i];
        EXPECT_FLOAT_EQ(top_left_of(quads()[i]).x, floorf(floorf(pen) + bearings[i]));
        pen += advances[i];
    }
    EXPECT_FLOAT_EQ(pen, 300);
}

TEST(Renderer, TextOutsideItsScissorsIsNotLaidOut) {
    set_up_test_fonts(20);
    struct Case {
        const char* name;
        f32 y;
        v2 top_left, bottom_right;
        u32 quads;
    };
    static const Case cases[] = {
        {"inside", 100, {0, 50}, {800, 200}, 2},
        {"top below the scissor's bottom", 201, {0, 50}, {800, 200}, 0},
        {"line ends above the scissor's top", 29, {0, 50}, {800, 200}, 0},
        {"glyphs reach into the scissor's top", 40, {0, 50}, {800, 200}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_frame(800, 600);
        draw_text_scissored((u8*)"Hx", 2, &code_font_pool, 0, 10, c.y, Rgba{1, 1, 1, 1}, c.top_left, c.bottom_right);
        EXPECT_EQ(renderer_quad_instances.count, c.quads);
    }
}

// The label takes black or white against the colour the button is drawn with this frame,
// so the white of a hovered button never hides a white label.
TEST(Widgets, AButtonLabelIsReadableOnWhatIsDrawn) {
    set_up_test_fonts(20);
    Window_State w = {};
    ui_window = &w;
    ui_current_layer = ui_layer_in_focus;
    const Rgba dark = {0.1f, 0.1f, 0.2f, 1}, light = {0.9f, 0.9f, 0.8f, 1}, white = {1, 1, 1, 1};
    struct Case {
        const char* name;
        Rgba background;
        v2 mouse;
        Rgba drawn;
        f32 label;  // every channel of the label's colour
    };
    const Case cases[] = {
        {"dark", dark, {0, 0}, dark, 1},
        {"dark under the mouse", dark, {150, 20}, white, 0},
        {"light", light, {0, 0}, light, 0},
        {"light under the mouse", light, {150, 20}, white, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_frame(800, 600);
        ui_mouse_position = c.mouse;
        ui_button("OK", 2, 100, 10, 100, c.background);
        ASSERT_GE(renderer_quad_instances.count, 3u);  // the background and two glyphs
        expect_v4(v4{quads()[0].colour.r, quads()[0].colour.g, quads()[0].colour.b, quads()[0].colour.a},
                  v4{c.drawn.r, c.drawn.g, c.drawn.b, c.drawn.a});
        for (u32 i = 1; i < renderer_quad_instances.count; i++) {
            EXPECT_EQ(quads()[i].flags, (u32)QUAD_INSTANCE_GLYPH);
            expect_v4(v4{quads()[i].colour.r, quads()[i].colour.g, quads()[i].colour.b, quads()[i].colour.a},
                      v4{c.label, c.label, c.label, 1});
        }
    }
    ui_window = nullptr;
    ui_mouse_position = v2{};
}
