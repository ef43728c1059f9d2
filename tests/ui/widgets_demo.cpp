// A small program that shows the widgets at work, for the test that drives it under X: a
// list of numbered lines in a scroll area, a check box and a button. It runs the frame as
// the editor's main loop does and reports what changed on stdout (see widgets_demo.h).
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <stdio.h>
#include <string.h>

#include "foundation/foundation.h"
#include "foundation/os_files.h"
#include "tests/ui/widgets_demo.h"
#include "ui/asset_archive.h"
#include "ui/ui.h"

// From GLFW's native interface, declared here because Xlib's headers name types Font and
// Glyph, as Quarn's do. The X window id, for the test to find the window.
extern "C" unsigned long glfwGetX11Window(GLFWwindow* handle);

// Dark blue under a white label; an orange thumb; near-black behind the list.
static const Rgba BUTTON_COLOUR = {0.05f, 0.1f, 0.6f, 1.0f};
static const Rgba BAR_COLOUR = {1.0f, 0.8f, 0.2f, 1.0f};
static const Rgba LIST_BACKGROUND = {0.01f, 0.01f, 0.012f, 1.0f};
static const Rgba TEXT_COLOUR = {0.85f, 0.85f, 0.85f, 1.0f};

static bool open_window() {
    if (!create_window_with_callbacks(&window, 800, 600, DEMO_TITLE)) return false;
    return init_renderer(&window, window.width, window.height) && ui_init(&window);
}

struct Demo_State {
    f32 scroll;
    u8 dragging;
    u8 check;
    u32 clicks;
};

static Ui_Element_Id demo_id(const char* key) {
    return make_ui_element_id(0, key, strlen(key));
}

static void draw_demo(Demo_State* state) {
    const v2 top_left = {DEMO_VIEW_LEFT, DEMO_VIEW_TOP}, bottom_right = {DEMO_VIEW_RIGHT, DEMO_VIEW_BOTTOM};
    const f32 content_height = DEMO_LINE_COUNT * DEMO_LINE_HEIGHT;
    draw_quad(top_left, v2{DEMO_VIEW_RIGHT - DEMO_VIEW_LEFT, DEMO_VIEW_BOTTOM - DEMO_VIEW_TOP}, LIST_BACKGROUND);
    f32* scroll = ui_scroll_bar(demo_id("demo/list"), true, top_left, bottom_right, content_height, DEMO_BAR_WIDTH,
                                BAR_COLOUR);
    // The text stops short of the bar.
    const v2 text_bottom_right = {DEMO_VIEW_RIGHT - scroll[1], DEMO_VIEW_BOTTOM};
    for (u32 i = 0; i < DEMO_LINE_COUNT; i++) {
        f32 y = DEMO_VIEW_TOP + i * DEMO_LINE_HEIGHT - *scroll;
        if (y + DEMO_LINE_HEIGHT < DEMO_VIEW_TOP || y > DEMO_VIEW_BOTTOM) continue;
        char text[32];
        int count = snprintf(text, sizeof(text), "Line %03u of the list", i + 1);
        draw_text_scissored((u8*)text, (u64)count, &code_font_pool, 0, DEMO_VIEW_LEFT + 8, y, TEXT_COLOUR, top_left,
                            text_bottom_right);
    }
    state->scroll = *scroll;
    state->dragging = get_or_add_ui_element(demo_id("demo/list"), UI_ELEMENT_SCROLL_BAR)->dragging;

    const char label[] = "Show line numbers";
    state->check = *ui_check_box(demo_id("demo/check"), label, sizeof(label) - 1, false, DEMO_CHECK_BOX_X,
                                 DEMO_CHECK_BOX_Y, Rgba{1, 1, 1, 1});

    const char button[] = "Press me";
    if (ui_button(button, sizeof(button) - 1, DEMO_BUTTON_X, DEMO_BUTTON_Y, DEMO_BUTTON_WIDTH, BUTTON_COLOUR)) {
        state->clicks++;
    }
}

// After the frame is shown, so that a reader of a line finds its frame on screen.
static void report_changes(const Demo_State* now, Demo_State* reported) {
    if (now->scroll != reported->scroll) printf("scroll %.2f\n", now->scroll);
    if (now->dragging != reported->dragging) printf("drag %d\n", now->dragging);
    if (now->check != reported->check) printf("check %d\n", now->check);
    if (now->clicks != reported->clicks) printf("click %u\n", now->clicks);
    *reported = *now;
    fflush(stdout);
}

// The leak check at exit trips over the blocks the OpenGL driver keeps and its thread-local
// data; this program always opens the driver, so it goes without. The table tests check
// the widgets' own memory.
extern "C" int __lsan_is_turned_off() { return 1; }

int main() {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    if (!glfwInit()) return 1;
    ui_create_cursors();
    if (!init_executable_filepath() || !init_assets(executable_filepath) || !open_window()) return 1;

    Demo_State state = {}, reported = {};
    bool running = true, first_frame = true;
    u64 last_time = os_get_monotonic_microseconds();
    while (running) {
        tmp_reset();
        window_start_events(&window);
        if (ui_flags & UI_KEEP_RUNNING) glfwPollEvents();
        else glfwWaitEvents();

        for (u32 i = 0; i < window.event_count; i++) {
            Window_Event* e = &window.events[i];
            if (e->kind != WINDOW_EVENT_WINDOW_CHANGE) continue;
            if (e->changes & WINDOW_RESIZED) resize_render_target(window.width, window.height);
            else if (e->changes & WINDOW_CLOSE_REQUESTED) running = false;
        }

        prepare_frame();
        ui_begin_frame();
        draw_demo(&state);
        ui_end_frame();
        swap_buffers(false);
        if (first_frame) {
            printf("ready 0x%lx\n", (unsigned long)glfwGetX11Window(window.handle));
            first_frame = false;
        }
        report_changes(&state, &reported);

        u64 now = os_get_monotonic_microseconds();
        delta_time = (f32)(now - last_time) / 1000.0f;
        last_time = now;
    }

    glfwDestroyWindow(window.handle);
    ui_destroy_cursors();
    glfwTerminate();
    return 0;
}
