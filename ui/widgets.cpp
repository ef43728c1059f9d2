// The element store and the widgets on it: the vertical scroll bar with its two
// positioning calls, the check box and the text button. Main thread only.
#include "ui/widgets.h"
#include "ui/fonts.h"
#include "ui/renderer.h"

#include <math.h>
#include <string.h>

Memory_Pool ui_elements_pool;
Bucket_Array ui_elements;

// Stands in when the store cannot grow, so that callers always get an element.
static Ui_Element ui_scratch_element;
static b8 ui_store_failure_logged;

//~ Elements

Ui_Element_Id make_ui_element_id(u32 index, const char* key, u64 key_count) {
    return Ui_Element_Id{(const u8*)key, (u32)key_count, index};
}

void init_ui_elements() {
    // No first page: the first element maps one.
    _init_memory_pool(&ui_elements_pool, sizeof(Ui_Element), NUM_UI_ELEMENTS_PER_BUCKET,
                      NUM_UI_ELEMENT_BUCKETS_PER_PAGE, nullptr, os_allocate_read_write);
    init_bucket_array(&ui_elements, &ui_elements_pool);
}

static b8 element_has_id(Ui_Element* e, Ui_Element_Id id, u8 kind) {
    return e->index == id.index && e->kind == kind && e->key.size == id.key_count &&
           (id.key_count == 0 || memcmp(e->key.memory, id.key, id.key_count) == 0);
}

static Ui_Element* scratch_element(u8 kind) {
    if (!ui_store_failure_logged) {
        add_log(nullptr, LOG_ERROR, "The UI element store cannot grow; widgets keep no state until restart.");
        ui_store_failure_logged = true;
    }
    memset(&ui_scratch_element, 0, sizeof(ui_scratch_element));
    ui_scratch_element.kind = kind;
    ui_scratch_element.is_new = 1;
    return &ui_scratch_element;
}

Ui_Element* get_or_add_ui_element(Ui_Element_Id id, u8 kind) {
    Ui_Element* e = (Ui_Element*)ui_elements.first_element;
    for (u32 i = 0; i < ui_elements.count; i++, e = e->next) {
        if (element_has_id(e, id, kind)) {
            e->is_new = 0;
            return e;
        }
    }

    Gp_Allocation key = {};
    if (id.key_count && !gp_allocate(&key, id.key_count)) return scratch_element(kind);
    Ui_Element* added = ui_elements.pool ? (Ui_Element*)bucket_array_append(&ui_elements) : nullptr;
    if (!added) {
        gp_free(&key);
        return scratch_element(kind);
    }
    if (id.key_count) memcpy(key.memory, id.key, id.key_count);
    added->key = key;
    added->index = id.index;
    added->kind = kind;
    added->is_new = 1;
    return added;
}

//~ Scroll bar

// Raised to 0 first, then lowered to the largest; a NaN written by a caller becomes 0.
static f32 clamp_scroll(f32 scroll, f32 largest) {
    if (!(scroll >= 0)) scroll = 0;
    if (scroll > largest) scroll = largest;
    return scroll;
}

static b8 point_in_rectangle(v2 p, f32 left, f32 top, f32 width, f32 height) {
    return left <= p.x && p.x <= left + width && top <= p.y && p.y <= top + height;
}

b8 ui_update_scroll_bar(Ui_Element* e, b8 enabled, v2 top_left, v2 bottom_right, f32 content_height,
                        f32 bar_width, v2 mouse, Ui_Scroll_Bar_Thumb* thumb) {
    e->shown_width = 0;
    if (!enabled) return false;

    f32 view_height = bottom_right.y - top_left.y;
    // A collapsed view (a minimised window) shows nothing but keeps its place, and no
    // division below ever sees a zero height.
    if (!(view_height > 0)) return false;
    if (!(content_height > view_height)) {
        e->scroll = 0;
        return false;
    }

    e->shown_width = bar_width;
    // The thumb travels the view's height less its own, so the 10 px minimum never pushes
    // it past the view's bottom; without the minimum this is view height x scroll / content.
    f32 thumb_height = fminf(fmaxf(view_height * view_height / content_height, 10.0f), view_height);
    f32 largest_scroll = content_height - view_height;
    f32 travel = view_height - thumb_height;
    e->scroll = clamp_scroll(e->scroll, largest_scroll);
    f32 thumb_top = top_left.y + travel * e->scroll / largest_scroll;
    f32 bar_left = bottom_right.x - bar_width;

    b8 hovering = point_in_rectangle(mouse, bar_left, thumb_top, bar_width, thumb_height);
    if (!hovering) {
        e->hovered = 0;
        if (!e->dragging) e->fade_direction = -1;
    } else {
        e->fade_direction = 1;
        ui_set_cursor(UI_CURSOR_ARROW, false);
        if (ui_consume_mouse_event(MOUSE_LEFT_PRESS)) {
            ui_do_not_stop_after_current_frame();
            e->dragging = 1;
            e->drag_start_mouse = mouse;
            e->drag_start_scroll = e->scroll;
        }
        e->hovered = 1;
    }

    if (!e->dragging) {
        // Smooth-scrolling devices send fractions; only whole pixels move the view.
        f32 whole = truncf(ui_gather_scroll());
        if (whole != 0) {
            e->scroll = clamp_scroll(e->scroll + whole, largest_scroll);
            ui_do_not_stop_after_current_frame();
        }
    } else if (!(ui_flags & UI_LEFT_BUTTON_HELD)) {
        e->dragging = 0;
        if (!hovering) {
            e->fade_direction = -1;
            ui_do_not_stop_after_current_frame();
        }
    } else if (travel > 0) {
        // The thumb follows the mouse.
        f32 moved = (mouse.y - e->drag_start_mouse.y) / travel;
        e->scroll = clamp_scroll(e->drag_start_scroll + moved * largest_scroll, largest_scroll);
    }

    f32 step = delta_time < 30.0f ? delta_time : 30.0f;
    e->fade = fminf(fmaxf(e->fade + step * 0.007f * e->fade_direction, 0.0f), 1.0f);
    // Tested after the step, so that a fade that has just begun runs on without input.
    if (e->fade > 0.0001f && e->fade < 0.99f) ui_do_not_stop_after_current_frame();

    // Drawn where this frame's scroll puts it: a drag ends its frame without asking for
    // another, and a thumb left at the old place would stay wrong until the next input.
    thumb->left = bar_left;
    thumb->top = top_left.y + travel * e->scroll / largest_scroll;
    thumb->width = bar_width;
    thumb->height = thumb_height;
    return true;
}

f32* ui_scroll_bar(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right, f32 content_height,
                   f32 bar_width, Rgba colour) {
    Ui_Element* e = get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR);
    Ui_Scroll_Bar_Thumb thumb;
    if (!ui_update_scroll_bar(e, enabled, top_left, bottom_right, content_height, bar_width, ui_mouse_position, &thumb)) {
        return &e->scroll;
    }
    f32 top = truncf(thumb.top), height = truncf(thumb.height);
    if (top + height >= 0 && top <= (f32)renderer_info.height) {
        colour.a *= 0.3f + 0.7f * e->fade;
        draw_quad(v2{truncf(thumb.left), top}, v2{truncf(thumb.width), height}, colour);
    }
    return &e->scroll;
}

f32* ui_scroll_bar_ensure_visibility(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right,
                                     f32 content_height, f32 target_position, f32 target_height) {
    Ui_Element* e = get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR);
    f32 view_top = top_left.y, view_bottom = bottom_right.y;
    if (!enabled || target_height > view_bottom - view_top) return &e->scroll;
    f32 target_bottom = target_position + target_height;
    if (target_position < view_top) e->scroll -= view_top - target_position;
    else if (target_bottom > view_bottom) e->scroll += target_bottom - view_bottom;
    return &e->scroll;
}

f32* ui_scroll_bar_centre_around(Ui_Element_Id id, b8 enabled, v2 top_left, v2 bottom_right,
                                 f32 content_height, f32 target_position, f32 target_height) {
    Ui_Element* e = get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR);
    if (!enabled) return &e->scroll;
    f32 view_height = bottom_right.y - top_left.y;
    f32 wanted = e->scroll + target_position - (top_left.y + view_height * 0.5f - target_height * 0.5f);
    // When the content is shorter than the view the upper bound is negative and wins.
    e->scroll = fminf(content_height - view_height, fmaxf(0.0f, wanted));
    return &e->scroll;
}

//~ Check box

b8 ui_update_check_box(Ui_Element* e, f32 x, f32 y, f32 icon_size, v2 mouse) {
    if (!point_in_rectangle(mouse, x, y, icon_size, icon_size)) return false;
    if (!ui_consume_mouse_event(MOUSE_LEFT_PRESS)) return false;
    ui_do_not_stop_after_current_frame();
    e->is_on = !e->is_on;
    return true;
}

u8* ui_check_box(Ui_Element_Id id, const char* label, u64 label_count, b8 initial_value, f32 x, f32 y,
                 Rgba colour) {
    Ui_Element* e = get_or_add_ui_element(id, UI_ELEMENT_CHECK_BOX);
    if (e->is_new) e->is_on = initial_value;
    f32 icon_size = (f32)icons_font_pool.pixel_size;
    ui_update_check_box(e, x, y, icon_size, ui_mouse_position);
    // The icon font draws "B" as a ticked box and "b" as an empty one.
    draw_text((u8*)(e->is_on ? "B" : "b"), 1, &icons_font_pool, 0, x, y, colour);
    draw_text((u8*)label, label_count, &ui_font_pool, 0, x + icon_size * 1.2f, y, colour);
    return &e->is_on;
}

//~ Button

b8 ui_update_button(f32 x, f32 y, f32 width, f32 height, v2 mouse, b8* hovered) {
    *hovered = point_in_rectangle(mouse, x, y, width, height);
    if (!*hovered || !ui_consume_mouse_event(MOUSE_LEFT_PRESS)) return false;
    ui_do_not_stop_after_current_frame();
    return true;
}

b8 ui_button(const char* label, u64 label_count, f32 x, f32 y, f32 width, Rgba background) {
    f32 height = (f32)ui_font_pool.pixel_size;
    b8 hovered = false;
    b8 clicked = ui_update_button(x, y, width, height, ui_mouse_position, &hovered);
    if (hovered) background = Rgba{1, 1, 1, 1};
    // Chosen against the colour drawn this frame, so a hovered button keeps a readable label.
    Rgba label_colour = rgba_brightness(background) > 0.5f ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1};
    if (y + height >= 0 && y <= (f32)renderer_info.height) {
        draw_quad(v2{truncf(x), truncf(y)}, v2{width, height}, background);
    }
    draw_text((u8*)label, label_count, &ui_font_pool, DRAW_TEXT_CENTRE_X, x + width * 0.5f, y, label_colour);
    return clicked;
}
