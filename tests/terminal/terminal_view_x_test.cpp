// The terminal view in a real window under an X server of the suite's own: real commands
// fill the blocks, frames go through the renderer to the screen and are read back as
// pixels, and xdotool drags and clicks reach the view through GLFW's callbacks. The
// clipboard needs the X server too.
#include <gtest/gtest.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "terminal_view_test_support.h"

#include "tests/ui/x11_pixels.h"
#include "tests/waiting.h"

namespace {

pid_t xvfb_pid = 0;
const View_Rectangle X_VIEW = {40, 50, 640, 450};

struct Rgb {
    int r, g, b;
};

// Linear colour to what the screen shows.
int to_srgb(f32 linear) {
    f32 s = linear <= 0.0031308f ? linear * 12.92f : 1.055f * powf(linear, 1 / 2.4f) - 0.055f;
    return (int)lroundf(s * 255);
}

class TerminalViewX : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        xvfb_pid = start_xvfb_for_window_tests();
        ASSERT_GT(xvfb_pid, 0) << "Xvfb did not start";
        note_gl_driver_opened();
        ASSERT_TRUE(glfwInit());
        ASSERT_TRUE(create_window_with_callbacks(&window, 800, 600, "Quarn terminal view test"));
        ASSERT_TRUE(init_renderer(&window, window.width, window.height));
        set_up_view_test();
        renderer_info.width = window.width;
        renderer_info.height = window.height;
        renderer_info.window = window.handle;
        ui_init_font_pools(VIEW_TEST_PIXEL_SIZE);  // glyphs go to the font map from now on
    }
    static void TearDownTestSuite() {
        stop_waking_main_loop();  // workers may still end
        if (window.handle) glfwDestroyWindow(window.handle);
        window.handle = nullptr;
        glfwTerminate();
        stop_xvfb_for_window_tests(&xvfb_pid);
    }
    void SetUp() override { set_up_view_test(); }

    // One iteration of the main loop: empty the queue, wait a moment for input, draw.
    void run_frame(Terminal* t, View_Rectangle r = X_VIEW) {
        tmp_reset();
        window_start_events(&window);
        glfwWaitEventsTimeout(0.02);
        prepare_frame();
        ui_begin_frame();
        draw_and_update_terminal_history(t, v2{r.left, r.top}, v2{r.right, r.bottom});
        ui_end_frame();
        swap_buffers(false);
    }

    template <typename F>
    bool run_frames_until(Terminal* t, F condition) {
        return wait_for_condition([&] {
            run_frame(t);
            return condition();
        }, TEST_DEADLINE_SECONDS, 0);
    }

    void xdotool(const std::string& arguments) {
        std::string command = "xdotool " + arguments;
        EXPECT_EQ(system(command.c_str()), 0) << command;
    }

    std::string move_to(v2 p) {
        return "mousemove --window " + std::to_string(glfwGetX11Window(window.handle)) + " " + std::to_string((int)p.x) +
               " " + std::to_string((int)p.y);
    }

    std::vector<u32> pixels() { return read_x11_window_pixels(window.handle, window.width, window.height); }

    Rgb pixel(const std::vector<u32>& all, f32 x, f32 y) {
        u32 p = all[(u64)y * window.width + (u64)x];
        return Rgb{(int)(p >> 16) & 0xFF, (int)(p >> 8) & 0xFF, (int)p & 0xFF};
    }

    // Pixels of a line's band between two columns that are nearly the colour.
    u32 count_near(const std::vector<u32>& all, f32 top, f32 left, f32 right, Rgba colour) {
        u32 n = 0;
        Rgb want = {to_srgb(colour.r), to_srgb(colour.g), to_srgb(colour.b)};
        for (f32 y = top; y < top + code_line_height(); y++) {
            for (f32 x = left; x < right; x++) {
                Rgb p = pixel(all, x, y);
                n += abs(p.r - want.r) <= 12 && abs(p.g - want.g) <= 12 && abs(p.b - want.b) <= 12;
            }
        }
        return n;
    }

    f32 line_top(u32 line) { return X_VIEW.top + line * code_line_height(); }
    f32 column_x(f32 column) { return X_VIEW.left + column * code_advance(); }
};

}  // namespace

TEST_F(TerminalViewX, ColouredOutputUnderAGreenHeader) {
    Test_Tab tab("/tmp");
    tab.run("printf '\\e[31mred\\e[0m plain'");
    ASSERT_TRUE(wait_for_worker(tab.terminal->current_result));
    run_frame(tab.terminal);
    std::vector<u32> shown = pixels();

    const Rgba green = {0.2f, 1.0f, 0.3f, 1};
    EXPECT_GT(count_near(shown, line_top(0), X_VIEW.left, X_VIEW.left + 10, green), 100u);
    // "red" is drawn in red, "plain" in the theme's text colour, on the view's background.
    f32 output = line_top(1);
    EXPECT_GT(count_near(shown, output, column_x(0), column_x(3), terminal_small_colour_table[1]), 15u);
    EXPECT_EQ(count_near(shown, output, column_x(0), column_x(3), default_text_theme.colours[1]), 0u);
    EXPECT_GT(count_near(shown, output, column_x(4), column_x(9), default_text_theme.colours[1]), 15u);
    EXPECT_EQ(count_near(shown, output, column_x(4), column_x(9), terminal_small_colour_table[1]), 0u);
    EXPECT_GT(count_near(shown, output, column_x(10), column_x(20), default_text_theme.colours[0]), 100u);
}

TEST_F(TerminalViewX, AWrappedLineKeepsItsBackground) {
    Test_Tab tab("/tmp");
    tab.run("printf '\\033[44m%080d\\033[0m' 0");
    ASSERT_TRUE(wait_for_worker(tab.terminal->current_result));
    View_Rectangle narrow = {X_VIEW.left, X_VIEW.top, X_VIEW.left + 30.5f * code_advance(), X_VIEW.bottom};
    run_frame(tab.terminal, narrow);
    std::vector<u32> shown = pixels();
    Rgba blue = terminal_small_colour_table[4];
    // 80 zeros in lines of 30: the background reaches the start of each line, and the
    // third line's box ends with its 20 characters.
    for (u32 line = 1; line <= 3; line++) {
        SCOPED_TRACE(line);
        EXPECT_GT(count_near(shown, line_top(line), column_x(0), column_x(0.3f), blue), 4u);
    }
    EXPECT_GT(count_near(shown, line_top(3), column_x(19), column_x(19.9f), blue), 4u);
    EXPECT_EQ(count_near(shown, line_top(3), column_x(20.3f), column_x(29), blue), 0u);
}

TEST_F(TerminalViewX, AnUpwardDragSelects) {
    Test_Tab tab("/tmp");
    tab.run("printf 'first line\\nsecond line\\n'");
    Terminal_Result* block = tab.terminal->current_result;
    ASSERT_TRUE(wait_for_worker(block));
    run_frame(tab.terminal);

    xdotool(move_to(point_at(X_VIEW, 2, 3.3f)) + " mousedown 1");
    ASSERT_TRUE(run_frames_until(tab.terminal, [&] { return tab.terminal->selected_result == block; }));
    xdotool(move_to(point_at(X_VIEW, 1, 1.2f)));
    ASSERT_TRUE(run_frames_until(tab.terminal, [&] { return block->selection_end.token == 0; }));
    xdotool("mouseup 1");
    ASSERT_TRUE(run_frames_until(tab.terminal, [&] { return !(ui_flags & UI_LEFT_BUTTON_HELD); }));
    run_frame(tab.terminal);

    EXPECT_EQ(block->selection_start.token, 2u);
    EXPECT_EQ(block->selection_start.offset, 3u);
    EXPECT_EQ(block->selection_end.token, 0u);
    EXPECT_EQ(block->selection_end.offset, 1u);
    // The selection colour, white at a quarter over the dark background (blended as the
    // screen shows it), lies behind "irst line" and "sec", and nowhere else. Looked at
    // below the baseline, clear of ink.
    std::vector<u32> shown = pixels();
    auto selected = [&](u32 line, f32 column) {
        Rgb p = pixel(shown, column_x(column), line_top(line) + VIEW_TEST_PIXEL_SIZE - 2);
        return p.r > 40 && p.r < 100 && abs(p.r - p.g) < 8;
    };
    EXPECT_FALSE(selected(1, 0.5f));
    EXPECT_TRUE(selected(1, 1.5f));
    EXPECT_TRUE(selected(1, 9.5f));
    EXPECT_TRUE(selected(2, 0.5f));
    EXPECT_TRUE(selected(2, 2.5f));
    EXPECT_FALSE(selected(2, 3.5f));
}

TEST_F(TerminalViewX, TheCopyIconPutsTheBlockOnTheClipboard) {
    Test_Tab tab("/tmp");
    tab.run("printf 'a\\nb\\n'");
    Terminal_Result* block = tab.terminal->current_result;
    ASSERT_TRUE(wait_for_worker(block));
    run_frame(tab.terminal);

    v2 icon = {X_VIEW.left + 0.2f * VIEW_TEST_PIXEL_SIZE + 4, line_top(4) + 4};  // header, a, b, empty line
    xdotool(move_to(icon) + " click 1");
    ASSERT_TRUE(run_frames_until(tab.terminal, [&] { return block->copy_time != 0; }));
    const char* copied = glfwGetClipboardString(nullptr);
    ASSERT_NE(copied, nullptr);
    EXPECT_STREQ(copied, "printf 'a\\nb\\n'\n\na\nb\n");

    // "Copied." in white right of the icon.
    run_frame(tab.terminal);
    std::vector<u32> shown = pixels();
    f32 after_icon = icon.x + icons_font_pool.pixel_size;
    EXPECT_GT(count_near(shown, line_top(4), after_icon, after_icon + 80, Rgba{1, 1, 1, 1}), 20u);
}

TEST_F(TerminalViewX, CopiesTheSelectedBlockOfATerminal) {
    // "ls\nsrc  bin" in runs: "ls", LF, "src", "  ", "bin", a positioned break, "end".
    const std::string text = "ls\nsrc  binend";
    const std::vector<std::pair<u64, u32>> runs = {{0, 2}, {2, 1}, {3, 3}, {6, 2}, {8, 3}, {11, 0}, {11, 3}};
    struct Case { const char* name; Terminal_Selection_End start, end; const char* copied; };
    const Case cases[] = {
        {"within one run", {2, 1}, {2, 3}, "rc"},
        {"ends given backwards", {2, 3}, {2, 1}, "rc"},
        {"across a line feed", {0, 1}, {2, 2}, "s\nsr"},
        {"a positioned break is a line feed", {4, 1}, {6, 2}, "in\nen"},
        {"an end past its run is cut to it", {4, 0}, {4, 99}, "bin"},
        {"an end past the last run", {6, 0}, {40, 0}, "end"},
        {"empty", {3, 1}, {3, 1}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Terminal t(text, runs);
        t.result->selection_start = c.start;
        t.result->selection_end = c.end;
        text_copied_locally.count = 0;
        b8 copied = copy_terminal_selection_to_clipboard(&t.terminal);
        EXPECT_EQ(copied, c.copied != nullptr);
        EXPECT_EQ(t.result->lock, 0);
        if (!c.copied) {
            EXPECT_EQ(t.terminal.selected_result, t.result) << "the selection stays for the file's copy";
            continue;
        }
        const char* clipboard = glfwGetClipboardString(nullptr);
        ASSERT_NE(clipboard, nullptr);
        EXPECT_STREQ(clipboard, c.copied);
        EXPECT_EQ(t.terminal.selected_result, nullptr);
        EXPECT_EQ(text_copied_locally.count, 0u) << "the local copy keeps what it had";
    }

    // A block whose lock stays taken is passed over.
    Test_Terminal t(text, runs);
    t.result->selection_end = Terminal_Selection_End{2, 2};
    t.result->lock = 1;
    EXPECT_FALSE(copy_terminal_selection_to_clipboard(&t.terminal));
    EXPECT_EQ(t.terminal.selected_result, t.result);
    t.result->lock = 0;
    t.terminal.selected_result = nullptr;
    EXPECT_FALSE(copy_terminal_selection_to_clipboard(&t.terminal));
}
