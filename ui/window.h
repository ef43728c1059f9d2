// The window record and its event queue. GLFW calls the input callbacks on the main thread
// while the main loop polls or waits; each callback only appends a Window_Event, and the
// main loop empties the queue at the top of every iteration.
#pragma once

#include "foundation/types.h"

struct GLFWwindow;

#define WINDOW_EVENT_CAPACITY 128
// Input never takes the last two slots: they keep room for one resize and one close
// request, which must not be lost to a burst of keys or wheel notches.
#define WINDOW_EVENTS_KEPT_FOR_CHANGES 2

enum Window_Event_Kind : u8 {
    WINDOW_EVENT_CHARACTER     = 1,   // payload: Unicode code point
    WINDOW_EVENT_KEY_DOWN      = 2,   // press or repeat; payload: key code
    WINDOW_EVENT_KEY_UP        = 4,   // payload: key code
    WINDOW_EVENT_MOUSE_BUTTON  = 8,   // payload: MOUSE_* bits
    WINDOW_EVENT_SCROLL        = 16,  // payload: f32 amount, positive downwards
    WINDOW_EVENT_WINDOW_CHANGE = 32,  // payload: WINDOW_* bits
};

enum Mouse_Button_Bits : u32 {
    MOUSE_LEFT_PRESS     = 1,
    MOUSE_LEFT_RELEASE   = 2,
    MOUSE_DOUBLE_CLICK   = 4,
    MOUSE_RIGHT_PRESS    = 8,
    MOUSE_RIGHT_RELEASE  = 16,
    MOUSE_MIDDLE_PRESS   = 32,
    MOUSE_MIDDLE_RELEASE = 64,
};

enum Window_Change_Bits : u8 {
    WINDOW_RESIZED         = 1,
    WINDOW_CLOSE_REQUESTED = 4,
};

enum Modifier_Bits : u8 {
    MODIFIER_CONTROL = 1,
    MODIFIER_ALT     = 2,
    MODIFIER_SHIFT   = 4,
};

// Two left presses closer than this make a double click.
#define DOUBLE_CLICK_MILLISECONDS 200.0f
#define SCROLL_AMOUNT_PER_NOTCH   100.0f

struct Window_Event {
    union {
        u32 code;     // key code or code point
        f32 scroll;
        u32 buttons;
        u8 changes;
    };
    u8 modifiers;
    u8 kind;
    u8 has_pointer;  // a button event that knows where the pointer was
    u8 unused;
    f32 pointer_x;  // the pointer at the button event, window pixels, y downwards
    f32 pointer_y;
};
static_assert(sizeof(Window_Event) == 16);

struct Window_State {
    GLFWwindow* handle;
    u32 width;   // framebuffer size from the last resize
    u32 height;
    Window_Event events[WINDOW_EVENT_CAPACITY];
    u16 event_count;
    // Events a frame left for the next one (button events at another place than its own).
    Window_Event kept_events[WINDOW_EVENT_CAPACITY];
    u16 kept_event_count;
    u64 last_left_press_time;  // microseconds of the monotonic clock
    u8 modifiers;              // held now: the last key's, with a modifier key's own bit set or cleared
    // The pointer as the motions reported so far leave it: in order with the buttons, where
    // asking the X server now gives where it is after every event not yet handled.
    b8 pointer_known;
    f32 pointer_x;
    f32 pointer_y;
};

extern Window_State window;

//~ window.cpp: GLFW callbacks. Each finds its Window_State through the window's user pointer.

void glfw_key_callback(GLFWwindow* handle, int key, int scancode, int action, int mods);
void glfw_character_callback(GLFWwindow* handle, unsigned int codepoint);
void glfw_mouse_button_callback(GLFWwindow* handle, int button, int action, int mods);
void glfw_mouse_scroll_callback(GLFWwindow* handle, double x, double y);
void glfw_pointer_motion_callback(GLFWwindow* handle, double x, double y);
void glfw_focus_callback(GLFWwindow* handle, int focused);
void glfw_resize_callback(GLFWwindow* handle, int width, int height);  // framebuffer size
void glfw_close_callback(GLFWwindow* handle);
void glfw_refresh_callback(GLFWwindow* handle);

b8 create_window_with_callbacks(Window_State* w, u32 width, u32 height, const char* title);
// Opens a window with an OpenGL 4.5 core context made current on the calling thread, points
// its user pointer at w, installs the callbacks above, loads the OpenGL entry points and
// reads the framebuffer size into w. False (logged) when any step fails. glfwInit first.

//~ window.cpp: what the callbacks do, without GLFW, so the queue rules can be tested alone.

Window_Event* window_push_input_event(Window_State* w, u8 kind, u32 payload, u8 modifiers);
// The new event, or null when only the slots kept for window changes are left.

void window_push_window_change(Window_State* w, u8 change);
// Queues a resize or close request once per frame: a second one of the same kind is
// already represented by the first (the size lives in the record).

u8 window_modifiers_from_glfw(int mods);

void window_handle_key(Window_State* w, int key, int action, int mods, const char* key_name);
// key_name is what the layout calls a letter key (glfwGetKeyName), or null.

void window_handle_character(Window_State* w, u32 code_point);
void window_handle_mouse_button(Window_State* w, int button, int action, int mods, u64 now_microseconds);
// The event carries the modifiers GLFW gives with the button, and the pointer's place when
// it is known.
void window_handle_pointer_motion(Window_State* w, f64 x, f64 y);
void window_handle_scroll(Window_State* w, f64 y);
void window_handle_focus(Window_State* w, b8 focused);
void window_handle_resize(Window_State* w, u32 width, u32 height);

void window_start_events(Window_State* w);
// Empties the queue for a new iteration's events, keeping at its front those the last frame
// left for this one.


//~ window.cpp: what other threads may know of the window. They never call GLFW themselves.

extern u8 window_is_focused;  // kept by the focus callback; read with atomic_load_u8

void wake_main_loop();
// Posts an empty event so that the main loop's wait returns. Any thread; does nothing while
// GLFW is not up (headless tests, before a window exists, once shut-down has begun).
void allow_waking_main_loop();  // the window's creation calls it
void stop_waking_main_loop();   // shut-down, before glfwTerminate
