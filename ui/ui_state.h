// The toolkit's state between immediate-mode calls: the layer being drawn and the layer
// that takes the mouse, the mouse position, the cursor shape chosen this frame, whether
// another frame must follow at once, and the taking of queued mouse events so that one
// click is handled by one widget.
#pragma once

#include "foundation/foundation.h"
#include "ui/vectors.h"
#include "ui/window.h"

struct GLFWcursor;

//~ State

// Bits of ui_flags.
#define UI_LEFT_BUTTON_HELD  0x1  // set by a left press seen at the start of a frame, cleared by a release
#define UI_KEEP_RUNNING      0x2  // the main loop polls instead of waiting; cleared every frame

// Indexes into glfw_cursor_table; UI_CURSOR_NONE means no cursor chosen.
#define UI_CURSOR_ARROW              0
#define UI_CURSOR_HAND               1
#define UI_CURSOR_HORIZONTAL_RESIZE  2
#define UI_CURSOR_VERTICAL_RESIZE    3
#define UI_CURSOR_CROSSHAIR          6
#define UI_CURSOR_IBEAM              7
#define UI_CURSOR_NONE               8
#define UI_CURSOR_COUNT              8

// How close to a window edge the mouse must be for the resize cursors.
#define UI_EDGE_CURSOR_MARGIN  10.0f

extern u8 ui_flags;
extern u8 ui_current_layer;   // 0 at the start of every frame
extern u8 ui_layer_in_focus;  // set by the views that open panels
extern v2 ui_mouse_position;  // window pixels, y downwards, set once at the start of the frame
extern v2 ui_previous_mouse_position;
extern u8 ui_cursor_was_set_this_frame;
extern u8 ui_current_cursor_type;
extern v2 ui_screen_resolution;  // the primary monitor's video mode
extern Window_State* ui_window;
extern f32 delta_time;  // milliseconds of the previous main-loop iteration; the main loop writes it

extern GLFWcursor* glfw_cursor_table[UI_CURSOR_COUNT];

//~ ui_state.cpp

#define UI_INITIAL_PIXEL_SIZE 35

b8 ui_init(Window_State* w);
// Sets up the glyph pool, loads the three built-in fonts from the asset archive (which
// must be read already), gives their pools UI_INITIAL_PIXEL_SIZE, starts the glyph packer
// and the element store, and reads the monitor's size. False (logged) when a font cannot
// be initialised; start-up cannot go on.

void ui_init_font_pools(u32 pixel_size);
// Gives the three pools their built-in ranges from ui_latin_font, code_latin_font and
// icons_font, which must be initialised, and restarts the glyph packer.

void ui_create_cursors();
// The eight standard cursors of glfw_cursor_table; after glfwInit.
void ui_destroy_cursors();

void ui_begin_frame();
// Reads the mouse position from GLFW, then ui_begin_frame_with_mouse.
void ui_begin_frame_with_mouse(v2 mouse);
// Starts the frame's UI state with the pointer where it is now: layer 0, no cursor chosen,
// no request for another frame, the left button held as the queued presses and releases
// say. A frame with button events that know their place takes the first one's place, and
// leaves button events made elsewhere (and what followed them) to the next frame, which it
// asks for at once, as it does when the pointer has moved on since.

void ui_end_frame();
// Chooses the edge cursor when no widget chose one, and remembers the mouse position.

u8 ui_edge_cursor_type(v2 mouse, v2 window_size);
// The resize cursor near an edge of the window, else the arrow.

void ui_do_not_stop_after_current_frame();
void ui_window_moved();

void ui_set_cursor(u8 type, b8 force);
// Only the first choice of a frame counts, and only on the layer in focus unless forced.

b8 ui_consume_mouse_event(u32 mask);
b8 ui_consume_mouse_event_no_matter_what(u32 mask);
b8 ui_consume_left_click();
b8 ui_consume_left_click_no_matter_what();
b8 ui_consume_double_click();
// Each removes the oldest queued mouse-button event whose bits meet the mask and says
// whether there was one. The ordinary forms take nothing unless the current layer is the
// layer in focus; the click forms also ask for another frame at once.

b8 ui_cursor_is_normal();
// The mouse cursor shows (GLFW's normal mode); true without a window.

f32 ui_gather_scroll();
// The sum of the frame's scroll amounts on the layer in focus, 0 elsewhere. Nothing is
// removed: every scroll view of the focused layer sees the same amount.
