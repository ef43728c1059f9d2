// Immediate-mode widgets: every frame each view draws its widgets again and asks them what
// the user did. The little state a widget keeps between frames lives in a Ui_Element
// found by an id made from a key text and an index.
#pragma once

#include "foundation/foundation.h"
#include "ui/ui_state.h"

//~ Elements

// A key text and an index. Two ids are the same element only when their whole keys and
// their indexes are equal. The id only points at the key; get_or_add_ui_element copies it.
struct Ui_Element_Id {
    const u8* key;
    u32 key_count;
    u32 index;
};

Ui_Element_Id make_ui_element_id(u32 index, const char* key, u64 key_count);

enum Ui_Element_Kind : u8 {
    UI_ELEMENT_SCROLL_BAR = 0,
    UI_ELEMENT_CHECK_BOX  = 1,
};

struct Ui_Element {
    Ui_Element* next;  // bucket-array link
    Gp_Allocation key; // a copy of the id's key
    u32 index;
    u8 kind;           // the same id may exist once per kind
    u8 is_new;         // 1 only for the lookup that created the element

    // Scroll bar. Callers read and write scroll; shown_width follows it, because views
    // take the two as a pair.
    f32 scroll;        // content offset in pixels
    f32 shown_width;   // the bar's width when it was drawn this frame, else 0
    f32 drag_start_scroll;
    v2 drag_start_mouse;
    u8 dragging;
    u8 hovered;
    f32 fade;          // 0 to 1
    f32 fade_direction;// +1 or -1

    // Check box.
    u8 is_on;
};
// Views read the shown width at scroll[1].
static_assert(offsetof(Ui_Element, shown_width) == offsetof(Ui_Element, scroll) + sizeof(f32));

// Elements live in a bucket array, so a pointer a widget hands out stays valid while the
// frame adds more elements. They are never removed.
#define NUM_UI_ELEMENTS_PER_BUCKET   64
#define NUM_UI_ELEMENT_BUCKETS_PER_PAGE 4

extern Memory_Pool ui_elements_pool;
extern Bucket_Array ui_elements;

void init_ui_elements();
// Sets up the element store (ui_init does it).

Ui_Element* get_or_add_ui_element(Ui_Element_Id id, u8 kind);
// The element of this id and kind, its is_new cleared; else a new zeroed element with
// is_new = 1. Never null: when the store cannot grow (logged once) a scratch element,
// cleared on every such call, stands in, so the widget works for the frame but keeps nothing.

//~ Widgets

struct Ui_Scroll_Bar_Thumb {
    f32 left, top, width, height;
};

b8 ui_update_scroll_bar(Ui_Element* e, b8 enabled, v2 top_left, v2 bottom_right, f32 content_height,
                        f32 bar_width, v2 mouse, Ui_Scroll_Bar_Thumb* thumb);
// The scroll bar's input and animation for one frame, without drawing: hover, drag, wheel
// and fade. True when there is a thumb to draw (content taller than a view of some height).

f32* ui_scroll_bar(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right, f32 content_height,
                   f32 bar_width, Rgba colour);
// A vertical scroll bar at the right edge of the view; only its thumb is drawn. Returns the
// element's scroll, followed in memory by its shown width; callers draw their content
// shifted by it.

f32* ui_scroll_bar_ensure_visibility(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right,
                                     f32 content_height, f32 target_position, f32 target_height);
// Moves scroll just enough that the target (window coordinates) lies inside the view. Not
// clamped: the next ui_scroll_bar clamps.

f32* ui_scroll_bar_centre_around(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right,
                                 f32 content_height, f32 target_position, f32 target_height);
// Puts the target's middle at the view's middle, within the content.

b8 ui_update_check_box(Ui_Element* e, f32 x, f32 y, f32 icon_size, v2 mouse);
// Toggles the check box on a left press in its icon square on the layer in focus; true
// when it did.

u8* ui_check_box(Ui_Element_Id id, const char* label, u64 label_count, b8 initial_value, f32 x, f32 y,
                 Rgba colour);
// A check box with its icon at (x, y) and its label after it. Only the first use of an id
// takes the initial value. Returns the element's value.

b8 ui_update_button(f32 x, f32 y, f32 width, f32 height, v2 mouse, b8* hovered);
// A left press inside the rectangle on the layer in focus; true when one was taken.

b8 ui_button(const char* label, u64 label_count, f32 x, f32 y, f32 width, Rgba background);
// A text button as tall as the UI font; white under the mouse. True when it was clicked in
// this frame (once per press).
