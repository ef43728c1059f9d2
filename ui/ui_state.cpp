// UI state between immediate-mode calls: frames, layers, the cursor of the frame and the
// taking of queued mouse events. Main thread only.
#include "ui/ui_state.h"
#include "foundation/unicode.h"
#include "ui/asset_archive.h"
#include "ui/fonts.h"
#include "ui/widgets.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <math.h>
#include <string.h>

u8 ui_flags;
u8 ui_current_layer;
u8 ui_layer_in_focus;
v2 ui_mouse_position;
v2 ui_previous_mouse_position;
u8 ui_cursor_was_set_this_frame;
u8 ui_current_cursor_type = UI_CURSOR_NONE;
v2 ui_screen_resolution;
Window_State* ui_window;
f32 delta_time;

GLFWcursor* glfw_cursor_table[UI_CURSOR_COUNT];

// Null when there is no window (the state is driven without one in tests).
static GLFWwindow* ui_glfw_window() {
    return ui_window ? ui_window->handle : nullptr;
}

static b8 cursor_mode_is_normal(GLFWwindow* w) {
    return glfwGetInputMode(w, GLFW_CURSOR) == GLFW_CURSOR_NORMAL;
}

b8 ui_cursor_is_normal() {
    GLFWwindow* w = ui_glfw_window();
    return !w || cursor_mode_is_normal(w);
}

static void apply_cursor(u8 type) {
    GLFWwindow* w = ui_glfw_window();
    if (w && type < UI_CURSOR_COUNT && cursor_mode_is_normal(w)) glfwSetCursor(w, glfw_cursor_table[type]);
}

//~ Start-up

static b8 init_font_from_archive(Font* font, const char* name) {
    return init_font_from_executable(font, (u8*)name, strlen(name));
}

void ui_init_font_pools(u32 pixel_size) {
    // Malformed UTF-8 becomes U+FFFD, so the text pools serve it from their own font.
    init_font_pool(&ui_font_pool, pixel_size);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, 0, 0x52F);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, UNICODE_REPLACEMENT_CHARACTER, UNICODE_REPLACEMENT_CHARACTER);
    init_font_pool(&code_font_pool, pixel_size);
    add_range_to_pool(&code_font_pool, &code_latin_font, 0, 0x52F);
    add_range_to_pool(&code_font_pool, &code_latin_font, UNICODE_REPLACEMENT_CHARACTER, UNICODE_REPLACEMENT_CHARACTER);
    init_font_pool(&icons_font_pool, pixel_size);
    add_range_to_pool(&icons_font_pool, &icons_font, 0, 0x7F);

    f32 tallest = fmaxf(fmaxf(ui_font_pool.line_height, code_font_pool.line_height), icons_font_pool.line_height);
    restart_glyph_packer((u32)ceilf(tallest));
}

b8 ui_init(Window_State* w) {
    ui_window = w;
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    if (!init_font_from_archive(&ui_latin_font, "UI_FONT")) return false;
    if (!init_font_from_archive(&code_latin_font, "CODE_FONT")) return false;
    if (!init_font_from_archive(&icons_font, "ICONS")) return false;

    ui_init_font_pools(UI_INITIAL_PIXEL_SIZE);
    init_ui_elements();
    // Views size their scroll bars from the monitor, so it is known before the first frame.
    ui_window_moved();
    return true;
}

void ui_create_cursors() {
    // GLFW 3.3 names; the three horizontal-resize slots share one shape.
    static const int shapes[UI_CURSOR_COUNT] = {
        GLFW_ARROW_CURSOR, GLFW_HAND_CURSOR, GLFW_HRESIZE_CURSOR, GLFW_VRESIZE_CURSOR,
        GLFW_HRESIZE_CURSOR, GLFW_HRESIZE_CURSOR, GLFW_CROSSHAIR_CURSOR, GLFW_IBEAM_CURSOR,
    };
    for (u32 i = 0; i < UI_CURSOR_COUNT; i++) glfw_cursor_table[i] = glfwCreateStandardCursor(shapes[i]);
}

void ui_destroy_cursors() {
    for (u32 i = 0; i < UI_CURSOR_COUNT; i++) {
        if (glfw_cursor_table[i]) glfwDestroyCursor(glfw_cursor_table[i]);
        glfw_cursor_table[i] = nullptr;
    }
}

//~ Frames

void ui_begin_frame() {
    v2 mouse = ui_mouse_position;
    if (GLFWwindow* w = ui_glfw_window()) {
        f64 x = 0, y = 0;
        glfwGetCursorPos(w, &x, &y);
        mouse = v2{(f32)x, (f32)y};
    }
    ui_begin_frame_with_mouse(mouse);
}

// A press lands where it was made, not where the pointer has moved since: the frame takes
// the place of its first button event that knows one. Button events made elsewhere wait for
// the next frame with everything after them, so a drag's press and release that came in
// together are still two places.
static v2 take_events_at_one_place(Window_State* w, v2 mouse) {
    Window_Event* first = nullptr;
    for (u32 i = 0; i < w->event_count; i++) {
        Window_Event* e = &w->events[i];
        if (e->kind != WINDOW_EVENT_MOUSE_BUTTON || !e->has_pointer) continue;
        if (!first) {
            first = e;
            continue;
        }
        if (e->pointer_x == first->pointer_x && e->pointer_y == first->pointer_y) continue;
        // Resizes and close requests were handled with the whole queue.
        for (u32 j = i; j < w->event_count; j++) {
            if (w->events[j].kind == WINDOW_EVENT_WINDOW_CHANGE || w->kept_event_count >= WINDOW_EVENT_CAPACITY) continue;
            w->kept_events[w->kept_event_count++] = w->events[j];
        }
        w->event_count = (u16)i;
        break;
    }
    if (!first) return mouse;
    v2 place = v2{first->pointer_x, first->pointer_y};
    if (w->kept_event_count || place.x != mouse.x || place.y != mouse.y) ui_flags |= UI_KEEP_RUNNING;
    return place;
}

void ui_begin_frame_with_mouse(v2 mouse) {
    ui_flags &= (u8)~UI_KEEP_RUNNING;
    ui_current_layer = 0;
    ui_cursor_was_set_this_frame = 0;
    ui_mouse_position = mouse;
    if (!ui_window) return;
    ui_mouse_position = take_events_at_one_place(ui_window, mouse);
    for (u32 i = 0; i < ui_window->event_count; i++) {
        Window_Event* e = &ui_window->events[i];
        if (e->kind != WINDOW_EVENT_MOUSE_BUTTON) continue;
        if (e->buttons == MOUSE_LEFT_PRESS) ui_flags |= UI_LEFT_BUTTON_HELD;
        else if (e->buttons == MOUSE_LEFT_RELEASE) ui_flags &= (u8)~UI_LEFT_BUTTON_HELD;
    }
}

u8 ui_edge_cursor_type(v2 mouse, v2 window_size) {
    if (mouse.x < UI_EDGE_CURSOR_MARGIN || mouse.x > window_size.x - UI_EDGE_CURSOR_MARGIN) return UI_CURSOR_HORIZONTAL_RESIZE;
    if (mouse.y < UI_EDGE_CURSOR_MARGIN || mouse.y > window_size.y - UI_EDGE_CURSOR_MARGIN) return UI_CURSOR_VERTICAL_RESIZE;
    return UI_CURSOR_ARROW;
}

void ui_end_frame() {
    GLFWwindow* w = ui_glfw_window();
    if (!ui_cursor_was_set_this_frame && w) {
        int width = 0, height = 0;
        glfwGetWindowSize(w, &width, &height);
        u8 type = ui_edge_cursor_type(ui_mouse_position, v2{(f32)width, (f32)height});
        if (cursor_mode_is_normal(w)) {
            glfwSetCursor(w, glfw_cursor_table[type]);
            ui_current_cursor_type = type;
        }
    }
    ui_previous_mouse_position = ui_mouse_position;
}

void ui_do_not_stop_after_current_frame() {
    ui_flags |= UI_KEEP_RUNNING;
}

void ui_window_moved() {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (mode) ui_screen_resolution = v2{(f32)mode->width, (f32)mode->height};
}

void ui_set_cursor(u8 type, b8 force) {
    if (!force && ui_current_layer != ui_layer_in_focus) return;
    if (ui_cursor_was_set_this_frame) return;
    ui_cursor_was_set_this_frame = 1;
    if (type >= UI_CURSOR_NONE && ui_current_cursor_type >= UI_CURSOR_NONE) return;
    apply_cursor(type);
    ui_current_cursor_type = type < UI_CURSOR_NONE ? type : (u8)UI_CURSOR_NONE;
}

//~ Taking queued mouse events

static b8 take_first_mouse_event(u32 mask) {
    if (!ui_window) return false;
    u32 count = ui_window->event_count;
    for (u32 i = 0; i < count; i++) {
        Window_Event* e = &ui_window->events[i];
        if (e->kind != WINDOW_EVENT_MOUSE_BUTTON || !(e->buttons & mask)) continue;
        memmove(e, e + 1, (count - i - 1) * sizeof(Window_Event));
        ui_window->event_count = (u16)(count - 1);
        return true;
    }
    return false;
}

static b8 layer_has_focus() {
    return ui_current_layer == ui_layer_in_focus;
}

b8 ui_consume_mouse_event(u32 mask) {
    return layer_has_focus() && take_first_mouse_event(mask);
}

b8 ui_consume_mouse_event_no_matter_what(u32 mask) {
    return take_first_mouse_event(mask);
}

// A click changes what the next frame shows, so that frame is drawn at once.
static b8 take_click(u32 mask) {
    if (!take_first_mouse_event(mask)) return false;
    ui_flags |= UI_KEEP_RUNNING;
    return true;
}

b8 ui_consume_left_click() {
    return layer_has_focus() && take_click(MOUSE_LEFT_PRESS);
}

b8 ui_consume_left_click_no_matter_what() {
    return take_click(MOUSE_LEFT_PRESS);
}

b8 ui_consume_double_click() {
    return layer_has_focus() && take_click(MOUSE_DOUBLE_CLICK);
}

f32 ui_gather_scroll() {
    if (!layer_has_focus() || !ui_window) return 0;
    f32 sum = 0;
    for (u32 i = 0; i < ui_window->event_count; i++) {
        Window_Event* e = &ui_window->events[i];
        if (e->kind == WINDOW_EVENT_SCROLL) sum += e->scroll;
    }
    return sum;
}
