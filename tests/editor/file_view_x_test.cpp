// The file view in a real window under an X server of the suite's own: frames go through
// the renderer to the screen and are read back as pixels, and xdotool clicks, drags and
// double clicks reach the view through GLFW's callbacks. Also the clipboard, which needs
// the X server.
#include <gtest/gtest.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "editor_test_helpers.h"
#include "file_view_test_support.h"

#include "tests/ui/x11_pixels.h"
#include "tests/waiting.h"

namespace {

pid_t xvfb_pid = 0;
const View_Geometry PANE_VIEW = {40, 50, 640, 450};

struct Rgb {
    int r, g, b;
};

class File_View_X : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        xvfb_pid = start_xvfb_for_window_tests();
        ASSERT_GT(xvfb_pid, 0) << "Xvfb did not start";
        note_gl_driver_opened();
        ASSERT_TRUE(glfwInit());
        ASSERT_TRUE(create_window_with_callbacks(&window, 800, 600, "Quarn file view test"));
        ASSERT_TRUE(init_renderer(&window, window.width, window.height));
        set_up_view_test_fonts();
        renderer_info.width = window.width;
        renderer_info.height = window.height;
        ui_init_font_pools(VIEW_TEST_PIXEL_SIZE);  // glyphs go to the font map from now on
    }
    static void TearDownTestSuite() {
        if (window.handle) glfwDestroyWindow(window.handle);
        window.handle = nullptr;
        glfwTerminate();
        stop_xvfb_for_window_tests(&xvfb_pid);
    }
    void SetUp() override {
        editor_settings.display_flags = 0;
        editor_settings.text_theme = default_text_theme;
        ui_layer_in_focus = 0;
        current_file = nullptr;
    }

    // One iteration of the main loop: empty the queue, wait a moment for input, draw.
    void run_frame(Editor_File* file) {
        tmp_reset();
        window_start_events(&window);
        glfwWaitEventsTimeout(0.02);
        prepare_frame();
        ui_begin_frame();
        draw_file(file, &code_font_pool, v2{PANE_VIEW.left, PANE_VIEW.top}, v2{PANE_VIEW.right, PANE_VIEW.bottom});
        ui_end_frame();
        swap_buffers(false);
    }

    template <typename F>
    bool run_frames_until(Editor_File* file, F condition) {
        return wait_for_condition([&] {
            run_frame(file);
            return condition();
        }, TEST_DEADLINE_SECONDS, 0);
    }

    // The next press starts afresh, whenever it comes: it is not the second of a double click.
    void forget_the_last_press() { window.last_left_press_time = 0; }

    void xdotool(const std::string& arguments) {
        std::string command = "xdotool " + arguments;
        EXPECT_EQ(system(command.c_str()), 0) << command;
    }

    std::string at_window(Editor_File* file, u32 line, f32 column) {
        v2 p = point_at(file, PANE_VIEW, line, column);
        return "mousemove --window " + std::to_string(glfwGetX11Window(window.handle)) + " " + std::to_string((int)p.x) +
               " " + std::to_string((int)p.y);
    }

    Rgb pixel(const std::vector<u32>& pixels, f32 x, f32 y) {
        u32 p = pixels[(u64)y * window.width + (u64)x];
        return Rgb{(int)(p >> 16) & 0xFF, (int)(p >> 8) & 0xFF, (int)p & 0xFF};
    }
};

}  // namespace

TEST_F(File_View_X, LineNumbersChunksSelectionAndCursorOnScreen) {
    Test_File file("alpha beta\ngamma\n");
    current_file = file;
    editor_settings.display_flags = DISPLAY_LINE_NUMBERS;
    editor_settings.text_theme.colours[2] = Rgba{0, 0, 1, 1};  // an opaque blue selection
    run_frame(file);
    editor_set_text_colour(file, 0, 5, Rgba{1, 0, 0, 1});
    file->selection_anchor = 6;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, 10);
    run_frame(file);
    std::vector<u32> shown = read_x11_window_pixels(window.handle, window.width, window.height);

    const f32 lh = code_font_pool.line_height, advance = get_code_advance();
    f32 digits = get_text_advance((u8*)"3", 1, &code_font_pool, editor_settings.tab_width);
    f32 column_right = ceilf(PANE_VIEW.left + digits + 0.2f * code_font_pool.pixel_size);
    f32 text_left = column_right + ceilf(0.5f * code_font_pool.pixel_size);  // half a character off the column
    auto ink_in = [&](f32 left, f32 right, f32 top, f32 bottom, auto test) {
        int n = 0;
        for (f32 y = top; y < bottom; y++) {
            for (f32 x = left; x < right; x++) n += test(pixel(shown, x, y));
        }
        return n;
    };
    auto grey = [](Rgb p) { return p.r > 60 && abs(p.r - p.g) < 8 && abs(p.g - p.b) < 8; };
    auto red = [](Rgb p) { return p.r > 100 && p.g < 30 && p.b < 30; };
    auto blue = [](Rgb p) { return p.b > 200 && p.r < 60; };
    auto cyan = [](Rgb p) { return p.g > 200 && p.b > 200 && p.r < 60; };

    // The numbers 1 to 3 in the column, one per line, none on the fourth row.
    for (u32 line = 0; line < 3; line++) {
        SCOPED_TRACE(line);
        EXPECT_GT(ink_in(PANE_VIEW.left, column_right, PANE_VIEW.top + line * lh, PANE_VIEW.top + (line + 1) * lh, grey), 5);
    }
    EXPECT_EQ(ink_in(PANE_VIEW.left, column_right, PANE_VIEW.top + 3 * lh, PANE_VIEW.top + 4 * lh, grey), 0);
    // "alpha" red, the selected "beta" on blue, "gamma" grey.
    f32 line_top = PANE_VIEW.top;
    EXPECT_GT(ink_in(text_left, text_left + 5 * advance, line_top, line_top + lh, red), 10);
    EXPECT_EQ(ink_in(text_left, text_left + 5 * advance, line_top, line_top + lh, grey), 0);
    EXPECT_GT(ink_in(text_left + 6 * advance + 1, text_left + 10 * advance - 1, line_top + 1, line_top + lh - 1, blue),
              (int)(3 * advance * (lh - 2)));
    EXPECT_EQ(ink_in(text_left + 5 * advance + 1, text_left + 6 * advance - 1, line_top, line_top + lh, blue), 0);
    EXPECT_GT(ink_in(text_left, text_left + 5 * advance, line_top + lh, line_top + 2 * lh, grey), 10);
    // The cursor after "beta", three pixels wide.
    f32 cursor_x = text_left + 10 * advance;
    EXPECT_GT(ink_in(cursor_x - 1, cursor_x + 4, line_top, line_top + code_font_pool.pixel_size, cyan), 20);
}

TEST_F(File_View_X, CentredCursorAndASidewaysInputOnScreen) {
    auto cyan_rows = [&](f32 left, f32 right) {
        std::vector<u32> shown = read_x11_window_pixels(window.handle, window.width, window.height);
        std::vector<int> rows;
        for (u32 y = 0; y < window.height; y++) {
            for (f32 x = left; x < right; x++) {
                Rgb p = pixel(shown, x, (f32)y);
                if (p.g > 200 && p.b > 200 && p.r < 60) {
                    rows.push_back((int)y);
                    break;
                }
            }
        }
        return rows;
    };
    const f32 lh = code_font_pool.line_height, ps = (f32)code_font_pool.pixel_size;
    const f32 h = PANE_VIEW.bottom - PANE_VIEW.top;
    std::string text;
    for (int i = 0; i < 99; i++) text += "line\n";
    text += "last";
    Test_File file(text);
    current_file = file;
    struct Case { const char* name; s64 cursor; f32 scroll; };
    const Case cases[] = {
        {"first line", 0, 0},
        {"last line", (s64)text.size(), fminf(lh * 100 - (lh - ps) - lh, 99 * lh - h / 2 + ps / 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor_set_cursor(file, c.cursor);
        atomic_or_u16(&file->flags, FILE_CENTRE_CURSOR);
        run_frame(file);
        run_frame(file);
        EXPECT_NEAR(file->scroll_y, c.scroll, 0.01f);
        // The cursor shows where its line is drawn.
        std::vector<int> rows = cyan_rows(PANE_VIEW.left, PANE_VIEW.right);
        ASSERT_FALSE(rows.empty());
        f32 line = c.cursor ? 99 : 0;
        EXPECT_NEAR(rows.front(), PANE_VIEW.top + line * lh - file->scroll_y, 1.0f);
        EXPECT_NEAR(rows.back() - rows.front() + 1, ps, 1.0f);
    }

    // A one-line input too long for its box: the text moves left, the cursor sits in the middle.
    Test_File input(std::string(300, 'w') + "@");
    atomic_or_u16(&input->flags, FILE_SINGLE_LINE);
    current_file = input;
    run_frame(input);
    std::vector<u32> shown = read_x11_window_pixels(window.handle, window.width, window.height);
    int cursor_x = -1;
    for (f32 x = PANE_VIEW.left; x < PANE_VIEW.right && cursor_x < 0; x++) {
        Rgb p = pixel(shown, x, PANE_VIEW.top + ps / 2);
        if (p.g > 200 && p.b > 200 && p.r < 60) cursor_x = (int)x;
    }
    EXPECT_NEAR(cursor_x, (PANE_VIEW.left + PANE_VIEW.right) / 2, 2.0f);
}

TEST_F(File_View_X, ClicksDragsAndDoubleClicksFromXdotool) {
    Test_File file("alpha   beta\nsecond line\n");
    current_file = file;
    run_frame(file);

    xdotool(at_window(file, 1, 3.1f) + " click 1");
    ASSERT_TRUE(run_frames_until(file, [&] { return file->cursor == 16; })) << "cursor " << file->cursor;
    run_frames_until(file, [&] { return !(file->flags & FILE_MOUSE_SELECTING); });
    EXPECT_FALSE(file->flags & FILE_SELECTION_ACTIVE);

    // Drag from the second character of the first line to the fifth of the second. No press
    // joins the one before into a double click.
    forget_the_last_press();
    xdotool(at_window(file, 0, 1.1f) + " mousedown 1");
    ASSERT_TRUE(run_frames_until(file, [&] { return file->cursor == 1; }));
    xdotool(at_window(file, 1, 5.1f));
    ASSERT_TRUE(run_frames_until(file, [&] { return file->cursor == 18; })) << "cursor " << file->cursor;
    xdotool("mouseup 1");
    ASSERT_TRUE(run_frames_until(file, [&] { return !(file->flags & FILE_MOUSE_SELECTING); }));
    EXPECT_EQ(file->selection_anchor, 1);
    EXPECT_TRUE(file->flags & FILE_SELECTION_ACTIVE);

    // A double click on a word, then on a later blank of a run.
    forget_the_last_press();
    xdotool(at_window(file, 0, 9.1f) + " click --repeat 2 --delay 60 1");
    ASSERT_TRUE(run_frames_until(file, [&] { return *file->selection_start == 8 && *file->selection_end == 12; }))
        << *file->selection_start << " " << *file->selection_end;
    forget_the_last_press();
    xdotool(at_window(file, 0, 6.1f) + " click --repeat 2 --delay 60 1");
    ASSERT_TRUE(run_frames_until(file, [&] { return *file->selection_start == 5 && *file->selection_end == 8; }))
        << *file->selection_start << " " << *file->selection_end;

    // With the layer's mouse switch off, clicks in the text stay queued and move nothing.
    forget_the_last_press();
    editor_settings.display_flags = DISPLAY_NO_MOUSE_IN_TEXT;
    s64 cursor = file->cursor;
    window.event_count = 0;
    xdotool(at_window(file, 1, 1.1f) + " click 1");
    ASSERT_TRUE(wait_for_condition([&] {
        glfwWaitEventsTimeout(0.02);
        for (u32 e = 0; e < window.event_count; e++) {
            if (window.events[e].kind == WINDOW_EVENT_MOUSE_BUTTON) return true;
        }
        return false;
    }, TEST_DEADLINE_SECONDS, 0));
    u16 events = window.event_count;
    prepare_frame();
    ui_begin_frame();
    draw_file(file, &code_font_pool, v2{PANE_VIEW.left, PANE_VIEW.top}, v2{PANE_VIEW.right, PANE_VIEW.bottom});
    ui_end_frame();
    EXPECT_EQ(window.event_count, events);
    EXPECT_EQ(file->cursor, cursor);
}

TEST_F(File_View_X, ABigSelectionReachesTheClipboardWhole) {
    const u64 size = 20ull * 1024 * 1024;
    std::string text(size, 'x');
    for (u64 i = 0; i < size; i += 4099) text[i] = (char)('a' + i % 26);
    text[size / 2] = '\n';
    Test_File file(text);
    file->selection_anchor = 0;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, (s64)size);
    copy_file_selection_to_clipboard(file, 1, 0);
    const char* clipboard = glfwGetClipboardString(nullptr);
    ASSERT_NE(clipboard, nullptr);
    ASSERT_EQ(strlen(clipboard), size);
    EXPECT_EQ(memcmp(clipboard, text.data(), size), 0);
    EXPECT_EQ(text_copied_locally.count, size);
    EXPECT_FALSE(file->flags & FILE_SELECTION_ACTIVE);
    text_copied_locally.count = 0;
    text_copied_as_if_there_was_no_padding.count = 0;
}
