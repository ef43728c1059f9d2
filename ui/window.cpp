// Window input: the GLFW callbacks and the event queue they fill. The callbacks are thin:
// each reads what only GLFW knows (the user pointer, a key's name on the current layout)
// and hands the rest to a window_handle_* function.

#include "ui/window.h"
#include "foundation/os_files.h"
#include "foundation/log.h"
#include "ui/gl_functions.h"
#include "ui/renderer.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <string.h>
#include <time.h>

Window_State window;

static Window_State* get_window_state(GLFWwindow* handle) {
    return (Window_State*)glfwGetWindowUserPointer(handle);
}

Window_Event* window_push_input_event(Window_State* w, u8 kind, u32 payload, u8 modifiers) {
    if (w->event_count >= WINDOW_EVENT_CAPACITY - WINDOW_EVENTS_KEPT_FOR_CHANGES) return nullptr;
    Window_Event* e = &w->events[w->event_count++];
    memset(e, 0, sizeof(*e));
    e->code = payload;
    e->modifiers = modifiers;
    e->kind = kind;
    return e;
}

void window_push_window_change(Window_State* w, u8 change) {
    for (u32 i = 0; i < w->event_count; i++) {
        if (w->events[i].kind == WINDOW_EVENT_WINDOW_CHANGE && w->events[i].changes == change) return;
    }
    // At most one resize and one close are queued, so the kept slots always hold them.
    if (w->event_count >= WINDOW_EVENT_CAPACITY) return;
    Window_Event* e = &w->events[w->event_count++];
    memset(e, 0, sizeof(*e));
    e->changes = change;
    e->kind = WINDOW_EVENT_WINDOW_CHANGE;
}

u8 window_modifiers_from_glfw(int mods) {
    u8 result = 0;
    if (mods & GLFW_MOD_CONTROL) result |= MODIFIER_CONTROL;
    if (mods & GLFW_MOD_ALT) result |= MODIFIER_ALT;
    if (mods & GLFW_MOD_SHIFT) result |= MODIFIER_SHIFT;
    return result;
}

static u8 modifier_of_key(int key) {
    switch (key) {
    case GLFW_KEY_LEFT_CONTROL: case GLFW_KEY_RIGHT_CONTROL: return MODIFIER_CONTROL;
    case GLFW_KEY_LEFT_ALT: case GLFW_KEY_RIGHT_ALT: return MODIFIER_ALT;
    case GLFW_KEY_LEFT_SHIFT: case GLFW_KEY_RIGHT_SHIFT: return MODIFIER_SHIFT;
    default: return 0;
    }
}

void window_handle_key(Window_State* w, int key, int action, int mods, const char* key_name) {
    if (action != GLFW_PRESS && action != GLFW_RELEASE && action != GLFW_REPEAT) return;
    u8 kind = action == GLFW_RELEASE ? WINDOW_EVENT_KEY_UP : WINDOW_EVENT_KEY_DOWN;

    // GLFW names keys by their place on a US keyboard; the custom layer binds letters by
    // what the user's layout prints on them. Only single-octet names count, so a layout
    // with other letters keeps the US letter and its shortcuts.
    u32 code = (u32)key;
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z && key_name && key_name[0] && !key_name[1]) {
        code = (u8)key_name[0];
        if (code >= 'a' && code <= 'z') code -= 'a' - 'A';
    }

    // On X11 GLFW hands a key the modifiers held before it, so a modifier's own press and
    // release would leave the kept state one key behind: they set and clear their bit.
    u8 modifiers = window_modifiers_from_glfw(mods);
    u8 held = modifiers;
    u8 own = modifier_of_key(key);
    if (own) held = kind == WINDOW_EVENT_KEY_UP ? (u8)(held & ~own) : (u8)(held | own);
    w->modifiers = (u8)((w->modifiers & ~(MODIFIER_CONTROL | MODIFIER_ALT | MODIFIER_SHIFT)) | held);
    window_push_input_event(w, kind, code, modifiers);

    // GLFW sends no character for Tab, but text fields and the terminal type it.
    if (key == GLFW_KEY_TAB && kind == WINDOW_EVENT_KEY_DOWN && modifiers == 0) {
        window_push_input_event(w, WINDOW_EVENT_CHARACTER, '\t', modifiers);
    }
}

static void push_button_event(Window_State* w, u32 bits, u8 modifiers) {
    Window_Event* e = window_push_input_event(w, WINDOW_EVENT_MOUSE_BUTTON, bits, modifiers);
    if (!e || !w->pointer_known) return;
    e->has_pointer = true;
    e->pointer_x = w->pointer_x;
    e->pointer_y = w->pointer_y;
}

void window_handle_mouse_button(Window_State* w, int button, int action, int mods, u64 now_microseconds) {
    u32 bits = 0;
    if (button == GLFW_MOUSE_BUTTON_LEFT) bits = action == GLFW_PRESS ? MOUSE_LEFT_PRESS : MOUSE_LEFT_RELEASE;
    else if (button == GLFW_MOUSE_BUTTON_RIGHT) bits = action == GLFW_PRESS ? MOUSE_RIGHT_PRESS : MOUSE_RIGHT_RELEASE;
    else if (button == GLFW_MOUSE_BUTTON_MIDDLE) bits = action == GLFW_PRESS ? MOUSE_MIDDLE_PRESS : MOUSE_MIDDLE_RELEASE;
    if (!bits) return;

    // The modifiers GLFW gives with the button are the ones held at the click.
    u8 modifiers = window_modifiers_from_glfw(mods);
    push_button_event(w, bits, modifiers);
    if (bits == MOUSE_LEFT_PRESS) {
        f32 milliseconds = (f32)(now_microseconds - w->last_left_press_time) / 1000.0f;
        if (milliseconds < DOUBLE_CLICK_MILLISECONDS) push_button_event(w, MOUSE_DOUBLE_CLICK, modifiers);
        w->last_left_press_time = now_microseconds;
    }
}

void window_handle_pointer_motion(Window_State* w, f64 x, f64 y) {
    w->pointer_known = true;
    w->pointer_x = (f32)x;
    w->pointer_y = (f32)y;
}

void window_handle_character(Window_State* w, u32 code_point) {
    window_push_input_event(w, WINDOW_EVENT_CHARACTER, code_point, w->modifiers);
}

void window_handle_scroll(Window_State* w, f64 y) {
    Window_Event* e = window_push_input_event(w, WINDOW_EVENT_SCROLL, 0, w->modifiers);
    if (e) e->scroll = (f32)(y * -SCROLL_AMOUNT_PER_NOTCH);  // wheel down scrolls the view down
}

void window_handle_focus(Window_State* w, b8 focused) {
    // A modifier released while another window had the focus must not stay held here.
    if (!focused) w->modifiers &= (u8)~(MODIFIER_CONTROL | MODIFIER_ALT | MODIFIER_SHIFT);
}

void window_start_events(Window_State* w) {
    memcpy(w->events, w->kept_events, w->kept_event_count * sizeof(Window_Event));
    w->event_count = w->kept_event_count;
    w->kept_event_count = 0;
}

void window_handle_resize(Window_State* w, u32 width, u32 height) {
    // The size is kept even when the queue is full, so the viewport never stays stale.
    w->width = width;
    w->height = height;
    window_push_window_change(w, WINDOW_RESIZED);
}

void glfw_key_callback(GLFWwindow* handle, int key, int scancode, int action, int mods) {
    const char* key_name = nullptr;
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z) key_name = glfwGetKeyName(key, scancode);
    window_handle_key(get_window_state(handle), key, action, mods, key_name);
}

void glfw_character_callback(GLFWwindow* handle, unsigned int codepoint) {
    window_handle_character(get_window_state(handle), codepoint);
}

void glfw_mouse_button_callback(GLFWwindow* handle, int button, int action, int mods) {
    Window_State* w = get_window_state(handle);
    // A press before any motion (the pointer stood in the window when it opened) asks the
    // server once; from then on the motions keep the place.
    if (!w->pointer_known) {
        f64 x = 0, y = 0;
        glfwGetCursorPos(handle, &x, &y);
        window_handle_pointer_motion(w, x, y);
    }
    window_handle_mouse_button(w, button, action, mods, os_get_monotonic_microseconds());
}

void glfw_pointer_motion_callback(GLFWwindow* handle, double x, double y) {
    window_handle_pointer_motion(get_window_state(handle), x, y);
}

void glfw_mouse_scroll_callback(GLFWwindow* handle, double x, double y) {
    window_handle_scroll(get_window_state(handle), y);
}

void glfw_focus_callback(GLFWwindow* handle, int focused) {
    atomic_store_u8(&window_is_focused, focused != 0);
    window_handle_focus(get_window_state(handle), focused != 0);
}

void glfw_resize_callback(GLFWwindow* handle, int width, int height) {
    window_handle_resize(get_window_state(handle), (u32)(width > 0 ? width : 0), (u32)(height > 0 ? height : 0));
}

// The window's pixels were lost (it was uncovered): the next frame is drawn even when it
// repeats the last one.
void glfw_refresh_callback(GLFWwindow* handle) { renderer_screen_is_stale = true; }

void glfw_close_callback(GLFWwindow* handle) {
    window_push_window_change(get_window_state(handle), WINDOW_CLOSE_REQUESTED);
}

b8 create_window_with_callbacks(Window_State* w, u32 width, u32 height, const char* title) {
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    *w = Window_State{};
    w->handle = glfwCreateWindow((int)width, (int)height, title, nullptr, nullptr);
    if (!w->handle) {
        add_log(nullptr, LOG_GRAPHICS, "Could not create a window with an OpenGL 4.5 core context.");
        return false;
    }
    glfwMakeContextCurrent(w->handle);
    glfwSetWindowUserPointer(w->handle, w);
    glfwSetKeyCallback(w->handle, glfw_key_callback);
    glfwSetCharCallback(w->handle, glfw_character_callback);
    glfwSetMouseButtonCallback(w->handle, glfw_mouse_button_callback);
    glfwSetScrollCallback(w->handle, glfw_mouse_scroll_callback);
    glfwSetCursorPosCallback(w->handle, glfw_pointer_motion_callback);
    glfwSetWindowFocusCallback(w->handle, glfw_focus_callback);
    glfwSetFramebufferSizeCallback(w->handle, glfw_resize_callback);
    glfwSetWindowCloseCallback(w->handle, glfw_close_callback);
    glfwSetWindowRefreshCallback(w->handle, glfw_refresh_callback);
    if (!load_gl_functions()) return false;  // logs what is missing
    int framebuffer_width = 0, framebuffer_height = 0;
    glfwGetFramebufferSize(w->handle, &framebuffer_width, &framebuffer_height);
    w->width = (u32)(framebuffer_width > 0 ? framebuffer_width : 0);
    w->height = (u32)(framebuffer_height > 0 ? framebuffer_height : 0);
    atomic_store_u8(&window_is_focused, glfwGetWindowAttrib(w->handle, GLFW_FOCUSED) != 0);
    allow_waking_main_loop();
    return true;
}

//~ Other threads

u8 window_is_focused;

// GLFW may be asked for an empty event only while it is initialised: the window's creation
// allows it and shut-down forbids it before glfwTerminate, under one lock, so no thread ever
// calls into a GLFW that is being torn down.
static u8 wake_lock;  // guards main_loop_can_be_woken and the call into GLFW
static b8 main_loop_can_be_woken;

void allow_waking_main_loop() {
    spin_lock(&wake_lock);
    main_loop_can_be_woken = true;
    spin_unlock(&wake_lock);
}

void stop_waking_main_loop() {
    spin_lock(&wake_lock);
    main_loop_can_be_woken = false;
    spin_unlock(&wake_lock);
}

void wake_main_loop() {
    spin_lock(&wake_lock);
    if (main_loop_can_be_woken) glfwPostEmptyEvent();
    spin_unlock(&wake_lock);
}
