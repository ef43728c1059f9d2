// The real window under an Xvfb of the test's own: pixels drawn by the renderer are read
// back, and keys typed with xdotool arrive in the event queue. Each suite starts its own X
// server (with -noreset, so that a layout set by setxkbmap outlasts that client).
#include <gtest/gtest.h>

#include <string.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ui_test_support.h"
#include "tests/ui/x11_pixels.h"
#include "tests/waiting.h"

namespace {

pid_t xvfb_pid = 0;

bool start_xvfb(const char* layout) {
    xvfb_pid = start_xvfb_for_window_tests();
    if (xvfb_pid <= 0) return false;
    return system((std::string("setxkbmap ") + layout).c_str()) == 0;
}

void stop_xvfb() { stop_xvfb_for_window_tests(&xvfb_pid); }

// The window as start-up makes it: OpenGL 4.5 core, callbacks, renderer.
bool open_window() {
    note_gl_driver_opened();
    if (!glfwInit()) return false;
    if (!create_window_with_callbacks(&window, 800, 600, "Quarn test")) return false;
    glyph_packer.side = FONT_MAP_FIRST_SIDE;  // other tests may have left another
    return init_renderer(&window, window.width, window.height);
}

void close_window() {
    if (window.handle) glfwDestroyWindow(window.handle);
    window.handle = nullptr;
    gl_state = Gl_State{};
    glfwTerminate();
}

class X_Test : public ::testing::Test {
protected:
    static void set_up_suite(const char* layout) {
        ASSERT_TRUE(start_xvfb(layout)) << "Xvfb or setxkbmap failed";
        ASSERT_TRUE(open_window());
    }
    static void TearDownTestSuite() {
        close_window();
        stop_xvfb();
    }
};

struct Rgb {
    u8 r, g, b;
};

std::vector<Rgb> read_window_pixels(u32 width, u32 height) {
    std::vector<u32> shown = read_x11_window_pixels(window.handle, width, height);
    std::vector<Rgb> pixels(shown.size());
    for (u64 i = 0; i < shown.size(); i++) pixels[i] = Rgb{(u8)(shown[i] >> 16), (u8)(shown[i] >> 8), (u8)shown[i]};
    return pixels;
}

u32 draw_calls = 0;
void (*real_draw_arrays_instanced)(GLenum, GLint, GLsizei, GLsizei);
void counting_draw_arrays_instanced(GLenum mode, GLint first, GLsizei count, GLsizei instances) {
    draw_calls++;
    real_draw_arrays_instanced(mode, first, count, instances);
}

}  // namespace

class WindowX : public X_Test {
protected:
    static void SetUpTestSuite() { set_up_suite("us"); }
};

TEST_F(WindowX, DrawsRectanglesScissorsAndTextInSrgb) {
    ASSERT_NE(window.handle, nullptr);
    set_up_test_fonts(20);
    const u32 W = renderer_info.width, H = renderer_info.height;
    ASSERT_EQ(W, 800u);
    ASSERT_EQ(H, 600u);

    prepare_frame();
    draw_quad(v2{0, 100}, v2{(f32)W, 100}, Rgba{0.5f, 0.5f, 0.5f, 1});      // grey band, to the last column
    draw_quad(v2{0, (f32)H - 10}, v2{(f32)W, 10}, Rgba{0, 1, 0, 1});        // green band on the last row
    draw_quad_scissored(v2{100, 220}, v2{300, 200}, Rgba{1, 0, 0, 1}, v2{150, 250}, v2{250, 350});
    draw_text((u8*)"HHHHHHHHHH", 10, &code_font_pool, 0, 20, 450, Rgba{1, 1, 1, 1});
    draw_text((u8*)"Hg", 2, &code_font_pool, 0, 500, 0, Rgba{1, 1, 1, 1});

    draw_calls = 0;
    real_draw_arrays_instanced = gl.DrawArraysInstanced;
    gl.DrawArraysInstanced = counting_draw_arrays_instanced;
    swap_buffers(false);
    gl.DrawArraysInstanced = real_draw_arrays_instanced;
    EXPECT_EQ(draw_calls, 1u);

    std::vector<Rgb> pixels = read_window_pixels(W, H);
    auto at = [&](u32 x, u32 y) { return pixels[(u64)y * W + x]; };

    // Linear 0.5 is sRGB 188; the band reaches both side columns.
    for (u32 x : {0u, 1u, 400u, W - 1}) {
        for (u32 y : {100u, 150u, 199u}) {
            SCOPED_TRACE(testing::Message() << "grey at " << x << "," << y);
            EXPECT_NEAR(at(x, y).r, 188, 1);
            EXPECT_NEAR(at(x, y).g, 188, 1);
            EXPECT_NEAR(at(x, y).b, 188, 1);
        }
    }
    EXPECT_EQ(at(400, 99).r, 0);
    EXPECT_EQ(at(400, 200).r, 0);
    EXPECT_EQ(at(W - 1, H - 1).g, 255);  // the bottom-right pixel is drawn
    EXPECT_EQ(at(0, H - 1).g, 255);

    // The red quad covers 100..399 x 220..419 but only its scissor 150..249 x 250..349 shows.
    for (u32 y = 215; y < 425; y++) {
        for (u32 x = 95; x < 405; x++) {
            bool inside = x >= 150 && x < 250 && y >= 250 && y < 350;
            Rgb p = at(x, y);
            if (inside != (p.r == 255) || p.g != 0 || p.b != 0 || (!inside && p.r != 0)) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << (int)p.r << "," << (int)p.g << "," << (int)p.b;
                return;
            }
        }
    }

    // Code font at 20 px: DejaVu Sans Mono advances 1233 of its 2384 units per character.
    const f32 advance = 1233.0f * 20.0f / 2384.0f;
    std::vector<u32> stems;
    for (u32 x = 15; x < 150; x++) {
        bool ink = at(x, 460).r > 128;
        bool ink_before = at(x - 1, 460).r > 128;
        if (ink && !ink_before) stems.push_back(x);
    }
    ASSERT_EQ(stems.size(), 20u);  // two stems per H
    for (u32 i = 0; i < 10; i++) {
        SCOPED_TRACE(i);
        EXPECT_NEAR((f32)stems[2 * i] - (f32)stems[0], i * advance, 1.0f);
    }

    // "Hg" drawn from the top edge: the H's top is one ascent minus its height below y = 0,
    // and the g's descender ends inside the 20-pixel line.
    u32 first_ink_row = H, last_ink_row = 0;
    for (u32 y = 0; y < 30; y++) {
        for (u32 x = 495; x < 530; x++) {
            if (at(x, y).r > 64) {
                if (y < first_ink_row) first_ink_row = y;
                if (y > last_ink_row) last_ink_row = y;
            }
        }
    }
    f32 scale = 20.0f / 2384.0f;
    EXPECT_NEAR(first_ink_row, floorf(1901 * scale) - 1493 * scale, 1.0f);
    EXPECT_NEAR(last_ink_row, floorf(1901 * scale) + 440 * scale, 1.0f);
    EXPECT_LT(last_ink_row, 20u);
}

TEST_F(WindowX, AFrameWithoutQuadsClearsToBlack) {
    ASSERT_NE(window.handle, nullptr);
    prepare_frame();
    draw_quad(v2{0, 0}, v2{800, 600}, Rgba{1, 1, 1, 1});
    swap_buffers(false);
    prepare_frame();
    swap_buffers(false);
    std::vector<Rgb> pixels = read_window_pixels(renderer_info.width, renderer_info.height);
    for (u64 i = 0; i < pixels.size(); i += 997) ASSERT_EQ(pixels[i].r + pixels[i].g + pixels[i].b, 0) << i;
}

namespace {

TEST_F(WindowX, AFrameThatRepeatsTheOneOnTheScreenIsNotDrawnAgain) {
    ASSERT_NE(window.handle, nullptr);
    set_up_test_fonts(20);
    const Rgba red = {1, 0, 0, 1}, green = {0, 1, 0, 1};
    auto frame = [&](Rgba colour, const char* text) {
        prepare_frame();
        draw_quad(v2{10, 10}, v2{50, 50}, colour);
        draw_text((u8*)text, strlen(text), &code_font_pool, 0, 100, 10, Rgba{1, 1, 1, 1});
        return swap_buffers(false);
    };
    frame(red, "a");
    struct Step {
        const char* name;
        Rgba colour;
        const char* text;
        void (*before)();
        bool drawn;
    };
    const Step steps[] = {
        {"the same quads again", red, "a", nullptr, false},
        {"another colour", green, "a", nullptr, true},
        {"the same once more", green, "a", nullptr, false},
        {"the window lost its pixels", green, "a", [] { glfw_refresh_callback(window.handle); }, true},
        {"a glyph new to the font map", green, "ab", nullptr, true},
        {"and then nothing new", green, "ab", nullptr, false},
        {"the window's size changed", green, "ab", [] { resize_render_target(700, 500); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.before) step.before();
        u64 presented = renderer_frames_presented;
        EXPECT_EQ(frame(step.colour, step.text), step.drawn);
        EXPECT_EQ(renderer_frames_presented - presented, step.drawn ? 1u : 0u);
    }
    resize_render_target(window.width, window.height);
    frame(green, "ab");
    // What is on the screen is the last frame drawn.
    std::vector<Rgb> pixels = read_window_pixels(renderer_info.width, renderer_info.height);
    const Rgb& p = pixels[(u64)30 * renderer_info.width + 30];
    EXPECT_EQ(p.g, 255);
    EXPECT_EQ(p.r, 0);

    // A first quad that fills the target is the colour the frame is cleared to: it shows in
    // its sRGB form under what is drawn after it.
    prepare_frame();
    draw_quad(v2{0, 0}, v2{(f32)renderer_info.width, (f32)renderer_info.height}, Rgba{0.5f, 0.5f, 0.5f, 1});
    draw_quad(v2{10, 10}, v2{50, 50}, red);
    EXPECT_TRUE(swap_buffers(false));
    pixels = read_window_pixels(renderer_info.width, renderer_info.height);
    for (u64 at : {(u64)300 * renderer_info.width + 400, (u64)0, (u64)pixels.size() - 1}) {
        EXPECT_NEAR(pixels[at].r, 188, 1) << at;
        EXPECT_NEAR(pixels[at].b, 188, 1) << at;
    }
    EXPECT_EQ(pixels[(u64)30 * renderer_info.width + 30].r, 255);
    EXPECT_EQ(pixels[(u64)30 * renderer_info.width + 30].g, 0);
}

TEST_F(WindowX, AFontMapThatGrowsKeepsItsGlyphsWhereTheyWere) {
    ASSERT_NE(window.handle, nullptr);
    set_up_test_fonts(20);
    const u32 W = renderer_info.width, H = renderer_info.height;
    auto draw = [&](const char* text) {
        prepare_frame();
        draw_text((u8*)text, strlen(text), &code_font_pool, 0, 20, 100, Rgba{1, 1, 1, 1});
        swap_buffers(false);
        return read_window_pixels(W, H);
    };
    std::vector<Rgb> before = draw("Quarn grows");
    u32 side = glyph_packer.side;
    ASSERT_LT(side, (u32)FONT_MAP_MAX_SIDE);

    // The next glyph finds no room: the map doubles, its glyphs copied along.
    glyph_packer.x = side - 5;
    glyph_packer.row_y = side - 25;
    u32 generation = glyph_packer.generation;
    std::vector<Rgb> after = draw("Quarn growsZ");
    EXPECT_EQ(glyph_packer.side, 2 * side);
    EXPECT_EQ(glyph_packer.generation, generation) << "grown, not flushed";
    int changed = 0, z_ink = 0;
    f32 z_left = 20 + 11 * get_text_advance((u8*)"x", 1, &code_font_pool, 4);
    for (u32 y = 90; y < 130; y++) {
        for (u32 x = 0; x < W; x++) {
            const Rgb& a = before[(u64)y * W + x];
            const Rgb& b = after[(u64)y * W + x];
            if ((f32)x < z_left) changed += a.r != b.r || a.g != b.g || a.b != b.b;
            else z_ink += b.r > 128;
        }
    }
    EXPECT_EQ(changed, 0) << "the glyphs drawn before are drawn the same from the grown map";
    EXPECT_GT(z_ink, 20) << "the glyph that made it grow shows too";
}

struct Typed {
    u8 kind;
    u32 code;
    u8 modifiers;
    bool operator==(const Typed& o) const { return kind == o.kind && code == o.code && modifiers == o.modifiers; }
};

std::ostream& operator<<(std::ostream& out, const Typed& t) {
    return out << "{kind " << (int)t.kind << ", code " << t.code << ", modifiers " << (int)t.modifiers << "}";
}

bool is_modifier_key(const Window_Event& e) {
    return (e.kind == WINDOW_EVENT_KEY_DOWN || e.kind == WINDOW_EVENT_KEY_UP) && e.code >= GLFW_KEY_LEFT_SHIFT &&
           e.code <= GLFW_KEY_RIGHT_SUPER;
}

// Types with xdotool into the focused window and gathers the queued events, leaving out
// the modifier keys' own presses, until key_ups keys were released (or the deadline passes).
std::vector<Typed> type_keys(const std::string& keys, u32 key_ups) {
    std::vector<Typed> typed;
    if (!wait_for_window_focus(window.handle)) {
        ADD_FAILURE() << "the window never got the focus";
        return typed;
    }
    window.event_count = 0;
    EXPECT_EQ(system(("xdotool key --delay 15 " + keys).c_str()), 0);
    u32 released = 0;
    wait_for_condition([&] {
        glfwWaitEventsTimeout(0.05);
        for (u32 e = 0; e < window.event_count; e++) {
            const Window_Event& event = window.events[e];
            if (is_modifier_key(event)) continue;
            // xdotool lets go of a combination's keys in the order it pressed them, so a
            // release's modifiers say nothing about the queue.
            u8 modifiers = event.kind == WINDOW_EVENT_KEY_UP ? 0 : event.modifiers;
            typed.push_back(Typed{event.kind, event.code, modifiers});
            if (event.kind == WINDOW_EVENT_KEY_UP) released++;
        }
        window.event_count = 0;
        return released >= key_ups;
    }, TEST_DEADLINE_SECONDS, 0);
    return typed;
}

const u8 DOWN = WINDOW_EVENT_KEY_DOWN, UP = WINDOW_EVENT_KEY_UP, CHAR = WINDOW_EVENT_CHARACTER;

}  // namespace

TEST_F(WindowX, TypedKeysArriveWithCodesCharactersAndModifiers) {
    ASSERT_NE(window.handle, nullptr);
    std::vector<Typed> typed = type_keys("a shift+b ctrl+s Tab ctrl+Tab", 5);
    std::vector<Typed> expected = {
        {DOWN, 'A', 0}, {CHAR, 'a', 0}, {UP, 'A', 0},
        {DOWN, 'B', MODIFIER_SHIFT}, {CHAR, 'B', MODIFIER_SHIFT}, {UP, 'B', 0},
        {DOWN, 'S', MODIFIER_CONTROL}, {UP, 'S', 0},
        {DOWN, GLFW_KEY_TAB, 0}, {CHAR, '\t', 0}, {UP, GLFW_KEY_TAB, 0},
        {DOWN, GLFW_KEY_TAB, MODIFIER_CONTROL}, {UP, GLFW_KEY_TAB, 0},
    };
    EXPECT_EQ(typed, expected);
}

// X11 hands a modifier's release the state from before it, with the modifier still held.
TEST_F(WindowX, ReleasingAModifierLetsGoOfIt) {
    ASSERT_NE(window.handle, nullptr);
    ASSERT_TRUE(wait_for_window_focus(window.handle)) << "the window never got the focus";
    for (const char* key : {"Control_L", "Shift_R", "Alt_L"}) {
        SCOPED_TRACE(key);
        window.event_count = 0;
        window.modifiers = 0;
        EXPECT_EQ(system((std::string("xdotool key --delay 15 ") + key).c_str()), 0);
        b8 released = wait_for_condition([&] {
            glfwWaitEventsTimeout(0.05);
            b8 up = false;
            for (u32 e = 0; e < window.event_count; e++) up = up || window.events[e].kind == UP;
            window.event_count = 0;
            return up;
        }, TEST_DEADLINE_SECONDS, 0);
        ASSERT_TRUE(released) << "no key release arrived";
        EXPECT_EQ(window.modifiers, 0);
    }
}

class WindowXFrenchLayout : public X_Test {
protected:
    static void SetUpTestSuite() { set_up_suite("fr"); }
};

// On AZERTY the key labelled A sits where a US keyboard has Q; it must still be "A".
TEST_F(WindowXFrenchLayout, LettersFollowTheLayout) {
    ASSERT_NE(window.handle, nullptr);
    std::vector<Typed> typed = type_keys("a q shift+z", 3);
    std::vector<Typed> expected = {
        {DOWN, 'A', 0}, {CHAR, 'a', 0}, {UP, 'A', 0},
        {DOWN, 'Q', 0}, {CHAR, 'q', 0}, {UP, 'Q', 0},
        {DOWN, 'Z', MODIFIER_SHIFT}, {CHAR, 'Z', MODIFIER_SHIFT}, {UP, 'Z', 0},
    };
    EXPECT_EQ(typed, expected);
}
