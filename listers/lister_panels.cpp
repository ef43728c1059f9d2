// What the two panels share: start-up, the driver's one call, the opening animation, the
// theme colours and the selection moves the layer's routines make.

#include "listers/lister_panels.h"
#include "listers/lister_actions.h"
#include "editor/editor_settings.h"
#include "editor/editor_state.h"
#include "ui/ui.h"

#include <string.h>

f32 global_lister_animation_factor;

void init_listers() {
    init_file_lister();
    init_search_lister();
    global_lister_animation_factor = 0;
}

b8 lister_has_keyboard() { return (global_editor_context & CONTEXT_LISTER) != 0; }

void draw_and_update_listers() {
    if (global_editor_context & CONTEXT_FILE_LISTER) draw_and_update_file_lister();
    else if (global_editor_context & CONTEXT_SEARCH_LISTER) draw_and_update_search_lister();
}

void empty_lister_input(Editor_File* input) {
    free_undo_records(input);
    input->text.count = 0;
    atomic_and_u16(&input->flags, (u16)~FILE_SELECTION_ACTIVE);
    editor_set_cursor(input, 0);
    clamp_cursors_to_text(input);
}

void advance_lister_animation() {
    if (global_lister_animation_factor < 0.99f) ui_do_not_stop_after_current_frame();
    f32 step = delta_time < LISTER_ANIMATION_FRAME_CAP_MS ? delta_time : LISTER_ANIMATION_FRAME_CAP_MS;
    f32 factor = global_lister_animation_factor + step * LISTER_ANIMATION_SPEED;
    global_lister_animation_factor = factor < 0 ? 0 : factor > 1 ? 1 : factor;
}

Rgba lister_theme_colour(u32 index) {
    Rgba c = editor_settings.ui_theme.colours[index];
    c.a *= global_lister_animation_factor;
    return c;
}

Rgba lister_contrast_colour() {
    b8 light = rgba_brightness(editor_settings.ui_theme.colours[0]) > 0.5f;
    f32 v = light ? 0.0f : 1.0f;
    return Rgba{v, v, v, global_lister_animation_factor};
}

Lister_Panel_Layout make_lister_panel_layout(u32 header_rows, f32 row, u32 count, b8 inset_list) {
    Lister_Panel_Layout l = {};
    f32 w = (f32)renderer_info.width, h = (f32)renderer_info.height;
    f32 u = (f32)ui_font_pool.pixel_size;
    l.margin = 0.2f * u;
    l.left = truncf(0.05f * w);
    l.top = truncf(0.05f * h);
    l.width = truncf(0.9f * w);
    l.header = l.margin + (f32)header_rows * (l.margin + u);
    l.row = row;
    l.content_height = row * (f32)count;
    f32 list = fminf(l.margin + l.content_height, 0.9f * h * global_lister_animation_factor - l.header);
    l.height = truncf(fmaxf(0.0f, l.header + list));
    l.list_top = l.top + l.header;
    l.list_bottom = fmaxf(l.list_top, l.top + l.height - l.margin);
    l.list_left = inset_list ? l.left + l.margin : l.left;
    l.list_right = l.left + l.width - l.margin;
    return l;
}

f32* lister_scroll_bar(const char* key, Lister_Panel_Layout* l, u32 count, u32 selected, u8* scroll_request) {
    Ui_Element_Id id = make_ui_element_id(0, key, strlen(key));
    v2 top_left = {l->list_left, l->list_top};
    v2 bottom_right = {l->list_right, l->list_bottom};
    f32 bar_width = ui_screen_resolution.x * editor_settings.ui_theme.scroll_bar_size;
    f32* scroll = ui_scroll_bar(id, true, top_left, bottom_right, l->content_height, bar_width, lister_contrast_colour());
    if (*scroll_request && (count == 0 || l->list_bottom - l->list_top >= (f32)ui_font_pool.pixel_size)) {
        if (selected < count) {
            f32 row_top = l->list_top + l->row * (f32)selected - scroll[0];
            scroll = ui_scroll_bar_ensure_visibility(id, true, top_left, bottom_right, l->content_height, row_top, l->row);
        }
        *scroll_request = 0;
    }
    return scroll;
}

//~ Selection moves

static u32 step_selection(u32 selected, u32 count, b8 forward) {
    if (count == 0) return 0;
    if (selected >= count) return forward ? 0 : count - 1;  // nothing selected yet
    if (forward) return (selected + 1) % count;
    return selected == 0 ? count - 1 : selected - 1;
}

static void move_selections(b8 forward) {
    ui_do_not_stop_after_current_frame();
    if (!lister_has_keyboard()) return;
    File_Lister* lister = &global_file_lister;
    // The list the panel drew: the selection indexes it.
    File_Lister_List* list = file_lister_get_published_list();
    u32 items = list->generation == lister->shown_generation ? list->count : 0;
    if (items > 0 || lister->selected != FILE_LISTER_NO_SELECTION) {
        lister->selected = step_selection(lister->selected, items, forward);
        lister->pick_new_file = 0;  // the user chose
    }
    lister->scroll_request = 1;
    Search_Lister* s = &global_search_lister;
    s->selected = step_selection(s->selected, get_num_items_in_search_lister(), forward);
    s->scroll_request = 1;
}

void lister_go_to_previous_item() { move_selections(false); }
void lister_go_to_next_item() { move_selections(true); }

void lister_go_to_parent_directory() {
    if (!lister_has_keyboard() || !(atomic_load_u64(&global_flags) & SHOW_FILE_LISTER)) return;
    if (global_file_lister.directory.count > 1) global_file_lister.directory.count--;
}

void lister_go_to_next_prompt() {
    Search_Lister* s = &global_search_lister;
    if (!lister_has_keyboard() || !(atomic_load_u64(&global_flags) & SHOW_SEARCH_LISTER)) return;
    if (s->mode != SEARCH_REPLACE) return;
    current_file = current_file == &s->query_input ? &s->replacement_input : &s->query_input;
}
