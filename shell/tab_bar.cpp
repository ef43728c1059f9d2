// The tab bar and the tab contents, drawn every frame. Input is decided before anything of
// a tab is drawn, so the close icon gets its press before the tab under it can start a
// drag with it.

#include "shell/tab_bar.h"
#include "editor/editor_state.h"
#include "shell/tabs.h"
#include "editor/file_view.h"
#include "runtime/custom_layer.h"
#include "terminal/terminal.h"
#include "ui/ui.h"

#include <math.h>
#include <string.h>

Tab* tab_being_dragged;
f32 global_tabs_horizontal_offset_px;

// Records move between frames, so the drag follows its tab by id.
static u32 dragged_tab_id;
static b8 drag_active;

// The tab whose close icon was under the pointer when the pointer last moved. A bar that
// slid under a still pointer puts another icon there, one the user never saw under it: a
// press on that one does not close its tab.
static u32 close_icon_seen_tab_id;
static b8 close_icon_seen;
static b8 pointer_moved;

static const Rgba GONE_FROM_DISK_COLOUR = {1, 0, 0, 1};
static const Rgba RUNNING_COMMAND_BACKGROUND = {1, 1, 0, 1};
static const Rgba RUNNING_COMMAND_TEXT = {0, 0, 0, 1};

Tab_Bar_Geometry make_tab_bar_geometry(v2 area_position, v2 area_size, f32 bar_left, f32 bar_top) {
    f32 ui = (f32)ui_font_pool.pixel_size, icon = (f32)icons_font_pool.pixel_size;
    f32 gap = 0.4f * ui, height = 1.5f * ui;
    Tab_Bar_Geometry g;
    g.tab_width = fmaxf(10.0f * ui, 3.0f * gap + 2.0f * icon);
    g.margin = gap;
    g.bar_position = v2{bar_left, bar_top};
    g.bar_size = v2{area_position.x + area_size.x - bar_left, height};
    g.content_position = v2{area_position.x, bar_top + height};
    g.content_size = v2{area_size.x, area_position.y + area_size.y - (bar_top + height)};
    return g;
}

void refresh_file_tab_title(Tab* tab) {
    tab->title.data = tab->title_buffer;
    Editor_File* file = tab->file;
    if (!file) {
        tab->title.count = 0;
        return;
    }
    u16 flags = atomic_load_u16(&file->flags);
    // Cut to the buffer on a character boundary, so a 512-octet name still fits; the mark of
    // a refused save stays whole after the name.
    write_into_string(&tab->title, TAB_TITLE_CAPACITY, "%s%s%.*s", (flags & FILE_SAVE_FAILED) ? "!" : "",
                      (flags & FILE_MODIFIED) ? "*" : "", (int)file->name.count, (char*)file->name.data);
    if (flags & FILE_SAVE_REFUSED) {
        String mark = STR(FILE_CHANGED_ON_DISK_MARK);
        s64 keep = tab->title.count;
        if (keep > (s64)TAB_TITLE_CAPACITY - 1 - mark.count) {
            keep = (s64)TAB_TITLE_CAPACITY - 1 - mark.count;
            while (keep > 0 && (tab->title.data[keep] & 0xC0) == 0x80) keep--;  // not inside a character
        }
        memcpy(tab->title.data + keep, mark.data, (u64)mark.count);
        tab->title.count = keep + mark.count;
        tab->title.data[tab->title.count] = 0;
    }
}

//~ Dragging

void assign_drag_slots(Tab* dragged, f32 mouse_x, Tab_Bar_Geometry* g) {
    f32 stride = g->tab_width + TAB_GAP_PX;
    f32 from_bar = mouse_x - dragged->drag_grab_offset - (g->bar_position.x - global_tabs_horizontal_offset_px);
    f32 slot = floorf((from_bar + g->tab_width * 0.5f) / stride);
    if (slot < 0) slot = 0;
    if (slot > (f32)(tabs.count - 1)) slot = (f32)(tabs.count - 1);
    dragged->drag_slot = (u32)slot;

    u32 i = 0;
    for (u32 t = 0; t < tabs.count; t++) {
        Tab* tab = get_tab(t);
        if (tab == dragged) continue;
        if (tab->position < dragged->drag_slot) tab->drag_slot = i;
        else if (tab->position > dragged->drag_slot) tab->drag_slot = i + 1;
        else tab->drag_slot = tab->position < dragged->position ? dragged->drag_slot + 1 : dragged->drag_slot - 1;
        i++;
    }
}

// Every tab in its own slot: a press that starts a drag lays the others out from here, not
// from where an earlier drag left them.
static void reset_drag_slots() {
    for (u32 t = 0; t < tabs.count; t++) get_tab(t)->drag_slot = get_tab(t)->position;
}

static Tab* find_dragged_tab() {
    tab_being_dragged = drag_active ? get_tab_by_id(dragged_tab_id) : nullptr;
    if (!tab_being_dragged) drag_active = false;
    return tab_being_dragged;
}

// The record moves to its slot and the current tab stays the tab it was.
static void drop_dragged_tab(Tab* tab) {
    Tab* current = get_current_tab();
    u32 current_id = current ? current->id : 0;
    u32 to = tab->drag_slot < tabs.count ? tab->drag_slot : tab->position;
    tab->dragged = 0;
    move_tab(tab->position, to);
    if (current) current_tab_index = get_tab_by_id(current_id)->position;
    set_current_tab(to, true);
    drag_active = false;
    tab_being_dragged = nullptr;
}

//~ One tab

static b8 inside(v2 p, f32 left, f32 top, f32 right, f32 bottom) {
    return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
}

static f32 draw_label_text(const char* text, u64 count, Font_Pool* pool, f32 x, f32 y, Rgba colour, v2 clip_top_left,
                           v2 clip_bottom_right) {
    draw_text_scissored((u8*)text, count, pool, 0, x, y, colour, clip_top_left, clip_bottom_right);
    return get_text_advance((u8*)text, count, pool, editor_settings.tab_width);
}

Tab_Label_Layout layout_tab_label(Tab* tab, f32 x, Tab_Bar_Geometry* g) {
    f32 icon = (f32)icons_font_pool.pixel_size;
    u8 tab_width = editor_settings.tab_width;
    Tab_Label_Layout l;
    l.kind_icon = tab->kind == TAB_TERMINAL ? "/" : tab->kind == TAB_COMPILE_ERRORS ? "e" : nullptr;
    l.status_icon = tab->kind == TAB_TERMINAL ? get_terminal_status_icon(tab->terminal) : nullptr;
    String number = tstring_small("%u", tab->position + 1);
    f32 up_to_number = get_text_advance(number.data, (u64)number.count, &ui_font_pool, tab_width);
    if (l.kind_icon) up_to_number += get_text_advance((u8*)l.kind_icon, 1, &icons_font_pool, tab_width) + g->margin * 0.5f;
    if (l.status_icon) up_to_number += get_text_advance((u8*)l.status_icon, 1, &icons_font_pool, tab_width) + g->margin * 0.5f;
    l.label_x = fmaxf(x, g->bar_position.x) + g->margin;
    l.title_x = l.label_x + up_to_number + g->margin * 0.5f;
    l.close_x = x + g->tab_width - g->margin - icon;
    l.title_right = l.close_x - g->margin * 0.5f;
    l.close_shows = l.title_right >= l.label_x + up_to_number;
    return l;
}

static f32 get_title_width(u8* text, s64 count) {
    return get_text_width(text, (u64)count, &ui_font_pool, DRAW_TEXT_TAB_WIDTH);
}

// The octets of a file tab's marks before and after its name. The text decides with the
// flags, so a flag that changed since the title was written never makes a mark of a
// letter of the name.
static void get_title_marks(Tab* tab, s64* before, s64* after) {
    *before = 0;
    *after = 0;
    if (tab->kind != TAB_FILE || !tab->file) return;
    u16 flags = atomic_load_u16(&tab->file->flags);
    String t = tab->title;
    if ((flags & FILE_SAVE_FAILED) && *before < t.count && t.data[*before] == '!') (*before)++;
    if ((flags & FILE_MODIFIED) && *before < t.count && t.data[*before] == '*') (*before)++;
    String mark = STR(FILE_CHANGED_ON_DISK_MARK);
    if ((flags & FILE_SAVE_REFUSED) && t.count - *before >= mark.count &&
        memcmp(t.data + t.count - mark.count, mark.data, (u64)mark.count) == 0) {
        *after = mark.count;
    }
}

// The marks before the name, its first keep octets, the ellipsis and the marks after it.
static s64 write_shortened_title(u8* text, String title, s64 before, s64 after, s64 keep) {
    String ellipsis = STR(TAB_TITLE_ELLIPSIS);
    memcpy(text, title.data, (u64)(before + keep));
    memcpy(text + before + keep, ellipsis.data, (u64)ellipsis.count);
    memcpy(text + before + keep + ellipsis.count, title.data + title.count - after, (u64)after);
    return before + keep + ellipsis.count + after;
}

String fit_tab_title_tmp(Tab* tab, f32 room) {
    tab->title.data = tab->title_buffer;
    String title = tab->title;
    if (get_title_width(title.data, title.count) <= room) return title;
    s64 before, after;
    get_title_marks(tab, &before, &after);
    String name = {title.data + before, title.count - before - after};
    if (name.count <= 0) return title;
    u8* text = tmp_allocate((u64)title.count + sizeof(TAB_TITLE_ELLIPSIS));
    if (!text) return title;

    // The most characters of the name that fit, found by halving: each try measures the
    // whole text, so kerning across the joins counts. The whole name and the ellipsis are
    // wider than the title, which did not fit.
    u64 fitting = 0, lowest = 1, highest = utf8_get_num_characters(name) - 1;
    while (lowest <= highest) {
        u64 middle = lowest + (highest - lowest) / 2;
        s64 keep = (s64)utf8_string_get_offset_at(name, (u32)middle);
        s64 count = write_shortened_title(text, title, before, after, keep);
        if (get_title_width(text, count) <= room) {
            fitting = middle;
            lowest = middle + 1;
        } else {
            highest = middle - 1;
        }
    }
    s64 keep = (s64)utf8_string_get_offset_at(name, (u32)fitting);
    return String{text, write_shortened_title(text, title, before, after, keep)};
}

// How the terminal's last command went: "e" failed, "o" done, none while it runs or before
// the first. The block list changes only on this thread and the flags atomically, so no
// lock is waited for here: a kill holds the terminal's lock while its signals take effect.
const char* get_terminal_status_icon(Terminal* terminal) {
    if (!terminal || terminal->results.count == 0) return nullptr;
    u8 flags = atomic_load_u8(&((Terminal_Result*)terminal->results.last_element)->flags);
    if (flags & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING)) return nullptr;
    return (flags & TERMINAL_RESULT_FAILED) ? "e" : "o";
}

// The scroll of the bar, set before any tab is drawn so that every tab of the frame stands
// by the same one: the current tab in sight, and no room left right of the last tab (after
// the window grew, say). Slots, not drag slots: a drag does not scroll the bar.
static void keep_tabs_in_sight(Tab_Bar_Geometry* g) {
    if (tabs.count == 0) return;
    f32 w = g->tab_width, stride = w + TAB_GAP_PX;
    f32 bar_left = g->bar_position.x, bar_right = bar_left + g->bar_size.x;
    f32* offset = &global_tabs_horizontal_offset_px;
    if (current_tab_index < tabs.count) {
        f32 x = bar_left + (f32)current_tab_index * stride - *offset;
        if (x < bar_left) *offset -= bar_left - x;
        else if (x + w > bar_right) *offset += x + w - bar_right;
    }
    f32 last_x = bar_left + (f32)(tabs.count - 1) * stride - *offset;
    if (last_x + w < bar_right && *offset > 0) *offset = fmaxf(0, *offset - (bar_right - (last_x + w)));
}

void draw_tab(Tab* tab, Tab** to_close, b8 normal_pass, Tab_Bar_Geometry* g) {
    tab->title.data = tab->title_buffer;
    f32 w = g->tab_width, top = g->bar_position.y, h = g->bar_size.y;
    f32 bar_left = g->bar_position.x, bar_right = bar_left + g->bar_size.x;
    f32 icon = (f32)icons_font_pool.pixel_size, ui = (f32)ui_font_pool.pixel_size;
    v2 mouse = ui_mouse_position;

    //- Where the tab stands
    u32 slot = (tab_being_dragged && tab != tab_being_dragged) ? tab->drag_slot : tab->position;
    f32 x = bar_left + (f32)slot * (w + TAB_GAP_PX) - global_tabs_horizontal_offset_px;

    //- The label's parts, left to right: kind icon, status icon, number, title. Cut at the
    //  bar's left edge, a tab keeps its label in sight; its close icon shows only where the
    //  number fits before it, so no tab is closed that the user cannot tell.
    Tab_Label_Layout label_layout = layout_tab_label(tab, x, g);
    f32 close_x = label_layout.close_x, icon_y = top + h * 0.5f - icon * 0.5f;
    b8 close_shows = label_layout.close_shows;

    //- Input: the close icon first, then a press anywhere else on the tab starts a drag
    b8 in_bar = inside(mouse, bar_left, top, bar_right, top + h);
    b8 over_tab = in_bar && mouse.x >= x && mouse.x < x + w;
    b8 over_close = close_shows && in_bar && inside(mouse, close_x, icon_y, close_x + icon, icon_y + icon);
    if (normal_pass && over_close && pointer_moved) {
        close_icon_seen = true;
        close_icon_seen_tab_id = tab->id;
    }
    b8 close_armed = over_close && close_icon_seen && close_icon_seen_tab_id == tab->id;
    b8 pressed = false;
    if (normal_pass && !tab->dragged) {
        if (close_armed && ui_consume_left_click()) {
            *to_close = tab;
        } else if (over_tab && ui_consume_left_click()) {
            reset_drag_slots();
            tab->dragged = 1;
            tab->drag_grab_offset = mouse.x - x;
            pressed = true;
        }
    }
    if (tab->dragged) {
        x = mouse.x - tab->drag_grab_offset;
        label_layout = layout_tab_label(tab, x, g);
        close_x = label_layout.close_x;
        close_shows = label_layout.close_shows;
        tab_being_dragged = tab;
        dragged_tab_id = tab->id;
        drag_active = true;
    }

    //- Contents, hover slides, and a press makes the tab current at once
    if (tab->position == current_tab_index && (!normal_pass || !tab->dragged)) {
        draw_and_update_tab_contents(tab, g->content_position, g->content_size);
    }
    if (normal_pass && tab->position != current_tab_index) {
        if (over_tab && !tab->hovered) set_tab_animation(tab, SLIDE_IN_FROM_LEFT);
        else if (!over_tab && tab->hovered) set_tab_animation(tab, SLIDE_OUT_TO_LEFT);
        tab->hovered = over_tab;
        if (pressed) set_current_tab(tab->position, true);
    }
    b8 current = tab->position == current_tab_index;

    //- Background and the sliding highlight, clipped to the tab inside the bar
    Rgba* ui_colours = editor_settings.ui_theme.colours;
    Rgba other = ui_colours[1];
    Rgba highlight = current ? editor_settings.text_theme.colours[0] : Rgba{ui_colours[2].r, ui_colours[2].g, ui_colours[2].b, 0.15f};
    Rgba plain = current ? editor_settings.text_theme.colours[0] : other;
    v2 clip_top_left = {fmaxf(x, bar_left), top}, clip_bottom_right = {fminf(x + w, bar_right), top + h};
    if (tab->slide == SLIDE_NONE) {
        draw_quad_scissored(v2{x, top}, v2{w, h}, plain, clip_top_left, clip_bottom_right);
        if (!current && tab->hovered) draw_quad_scissored(v2{x, top}, v2{w, h}, highlight, clip_top_left, clip_bottom_right);
    } else if (tab->slide <= SLIDE_OUT_TO_RIGHT) {
        f32 c = tab->slide_clock, shift = 0;
        if (tab->slide == SLIDE_IN_FROM_LEFT) shift = -w * (1 - c);
        else if (tab->slide == SLIDE_IN_FROM_RIGHT) shift = w * (1 - c);
        else if (tab->slide == SLIDE_OUT_TO_LEFT) shift = -w * c;
        else shift = w * c;
        draw_quad_scissored(v2{x, top}, v2{w, h}, other, clip_top_left, clip_bottom_right);
        draw_quad_scissored(v2{x + shift, top}, v2{w, h}, highlight, clip_top_left, clip_bottom_right);
        if (normal_pass) {
            tab->slide_clock += fminf(delta_time, SLIDE_FRAME_CAP_MS) * SLIDE_SPEED;
            if (tab->slide_clock >= 1.0f) tab->slide = SLIDE_NONE;
        }
        ui_do_not_stop_after_current_frame();
    }

    //- Label: kind icon, number, title; then the close icon
    Rgba label = rgba_brightness(plain) > 0.35f ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1};
    label.a = over_tab ? 1.0f : 0.8f;
    v2 label_clip_bottom_right = {fminf(label_layout.title_right, clip_bottom_right.x), clip_bottom_right.y};
    const char* kind_icon = label_layout.kind_icon;
    const char* status_icon = label_layout.status_icon;
    String number = tstring_small("%u", tab->position + 1);
    f32 lx = label_layout.label_x, ly = top + h * 0.5f - ui * 0.5f;
    if (kind_icon) lx += draw_label_text(kind_icon, 1, &icons_font_pool, lx, icon_y, label, clip_top_left, label_clip_bottom_right) + g->margin * 0.5f;
    if (status_icon) lx += draw_label_text(status_icon, 1, &icons_font_pool, lx, icon_y, label, clip_top_left, label_clip_bottom_right) + g->margin * 0.5f;
    Rgba dim = label;
    dim.a *= 0.6f;
    draw_label_text((char*)number.data, (u64)number.count, &ui_font_pool, lx, ly, dim, clip_top_left, label_clip_bottom_right);
    Rgba title_colour = label;
    if (tab->kind == TAB_FILE && tab->file && (atomic_load_u16(&tab->file->flags) & FILE_GONE_FROM_DISK)) {
        title_colour = GONE_FROM_DISK_COLOUR;
    }
    // Shortened in its name rather than cut by the close icon, so its marks can be read.
    String title = fit_tab_title_tmp(tab, label_layout.title_right - label_layout.title_x);
    draw_label_text((char*)title.data, (u64)title.count, &ui_font_pool, label_layout.title_x, ly, title_colour,
                    clip_top_left, label_clip_bottom_right);
    if (close_shows) {
        draw_text_scissored((u8*)(close_armed ? "X" : "C"), 1, &icons_font_pool, 0, close_x, icon_y, label, clip_top_left,
                            clip_bottom_right);
    }
}

//~ The bar

void draw_and_update_tab_bar(Tab_Bar_Geometry* g) {
    b8 held = (ui_flags & UI_LEFT_BUTTON_HELD) != 0;
    Tab* dragged = find_dragged_tab();
    if (dragged && held) assign_drag_slots(dragged, ui_mouse_position.x, g);

    pointer_moved = ui_mouse_position.x != ui_previous_mouse_position.x || ui_mouse_position.y != ui_previous_mouse_position.y;
    if (pointer_moved) close_icon_seen = false;  // until a close icon is found under it
    b8 focus = (atomic_load_u64(&global_flags) & FOCUS_MODE) != 0;
    if (!focus) keep_tabs_in_sight(g);
    Tab* to_close = nullptr;
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (!held) tab->dragged = 0;
        if (tab->kind == TAB_FILE) refresh_file_tab_title(tab);
        if (!focus) draw_tab(tab, &to_close, true, g);
    }
    if (focus) {
        Tab* current = get_current_tab();
        if (current) draw_and_update_tab_contents(current, g->content_position, g->content_size);
    }
    if (to_close) close_tab(to_close);

    dragged = find_dragged_tab();
    if (!dragged) return;
    Tab* unused = nullptr;
    if (!focus) draw_tab(dragged, &unused, false, g);
    if (!held) drop_dragged_tab(dragged);
}

//~ Contents

static void draw_update_tab_contents(Tab* tab, v2 position, v2 size) {
    // The download thread writes these under the lock.
    spin_lock(&tabs_read_lock);
    u8 state = tab->download_state;
    f32 progress = tab->download_progress;
    spin_unlock(&tabs_read_lock);

    Rgba* colours = editor_settings.ui_theme.colours;
    f32 ui = (f32)ui_font_pool.pixel_size;
    f32 centre_x = position.x + size.x * 0.5f, middle = position.y + size.y * 0.5f;
    if (state == DOWNLOAD_RUNNING) {
        f32 bar_width = 0.8f * size.x, bar_height = 0.05f * size.y;
        v2 bar = {centre_x - bar_width * 0.5f, middle - bar_height * 0.5f};
        draw_quad(bar, v2{bar_width, bar_height}, colours[1]);
        f32 done = fminf(fmaxf(progress, 0), 1);
        draw_quad(bar, v2{bar_width * done, bar_height}, colours[2]);
        draw_text((u8*)"Downloading update...", 21, &ui_font_pool, DRAW_TEXT_CENTRE_X, centre_x, middle - 1.5f * ui,
                  colours[2]);
    } else {
        const char* text = state == DOWNLOAD_FAILED ? "Failed to download update." : "Successfully downloaded update!";
        draw_text((u8*)text, strlen(text), &ui_font_pool, DRAW_TEXT_CENTRE, centre_x, middle, colours[2]);
    }
}

// A header with the running command and "Kill Process", or the directory; the input line;
// then the history.
static void draw_terminal_tab_contents(Tab* tab, v2 position, v2 size) {
    Terminal* terminal = tab->terminal;
    if (!terminal) return;
    f32 ui = (f32)ui_font_pool.pixel_size, gap = 0.4f * ui;
    f32 header_height = 1.5f * ui;
    f32 text_y = position.y + (header_height - ui) * 0.5f;
    v2 clip_bottom_right = {position.x + size.x, position.y + header_height};
    Terminal_Result* block = terminal->current_result;
    if (block && (atomic_load_u8(&block->flags) & TERMINAL_RESULT_RUNNING)) {
        u8* command = block->command.data;
        u64 count = (u64)block->command.count;
        f32 width = get_text_advance(command, count, &ui_font_pool, editor_settings.tab_width) + 2 * gap;
        f32 shown = fminf(width, size.x * 0.7f);  // room stays for the button
        draw_quad_scissored(v2{position.x, text_y}, v2{shown, ui}, RUNNING_COMMAND_BACKGROUND, position, clip_bottom_right);
        draw_text_scissored(command, count, &ui_font_pool, 0, position.x + gap, text_y, RUNNING_COMMAND_TEXT, position,
                            v2{position.x + shown, clip_bottom_right.y});
        const char* kill = "Kill Process";
        f32 button_width = get_text_advance((u8*)kill, 12, &ui_font_pool, editor_settings.tab_width) + 2 * gap;
        if (ui_button(kill, 12, position.x + shown + gap, text_y, button_width, editor_settings.ui_theme.colours[6])) {
            kill_terminal_process(terminal);
        }
    } else {
        String directory = filepath_to_tmp_string(&terminal->directory);
        draw_text_scissored(directory.data, (u64)directory.count, &ui_font_pool, 0, position.x + gap, text_y,
                            editor_settings.ui_theme.colours[2], position, clip_bottom_right);
    }

    // The input line: one line of the code font, drawn by the file view.
    f32 input_top = position.y + header_height;
    f32 history_top = input_top + code_font_pool.line_height;
    if (tab->input_line) {
        draw_file(tab->input_line, &code_font_pool, v2{position.x, input_top}, v2{position.x + size.x, history_top});
    }
    draw_and_update_terminal_history(terminal, v2{position.x, history_top}, v2{position.x + size.x, position.y + size.y});
}

void draw_and_update_tab_contents(Tab* tab, v2 position, v2 size) {
    switch (tab->kind) {
        case TAB_FILE:
            if (tab->file) draw_file(tab->file, &code_font_pool, position, v2{position.x + size.x, position.y + size.y});
            break;
        case TAB_TERMINAL: draw_terminal_tab_contents(tab, position, size); break;
        case TAB_COMPILE_ERRORS: draw_compile_errors_tab(tab, position, size); break;
        case TAB_UPDATE: draw_update_tab_contents(tab, position, size); break;
        default: break;
    }
}
