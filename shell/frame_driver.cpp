// One frame of the editor, from the layer's recompile to the information panel.

#include "shell/frame_driver.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "shell/file_tabs.h"
#include "shell/layer_calls.h"
#include "shell/main_loop.h"
#include "foundation/notifications.h"
#include "shell/system_info.h"
#include "shell/tab_bar.h"
#include "shell/tabs.h"
#include "shell/terminal_tabs.h"
#include "compiler/core/compiler_core.h"
#include "editor/editor.h"
#include "listers/lister_panels.h"
#include "terminal/terminal.h"
#include "ui/ui.h"

#include <math.h>
#include <string.h>

const Top_Bar_Icon_Glyphs TOP_BAR_ICON_GLYPHS[TOP_BAR_ICON_COUNT] = {
    {'[', ']'},   // ICON_NEW_FILE
    {'{', '}'},   // ICON_OPEN_FILE
    {'\\', '/'},  // ICON_NEW_TERMINAL
    {'(', ')'},   // ICON_SAVE
    {'1', '4'},   // ICON_PREVIOUS_TAB
    {'3', '6'},   // ICON_NEXT_TAB
};

static const Rgba UPDATE_BUTTON_COLOUR = {0.2f, 1.0f, 0.3f, 1.0f};

//~ The layer's events

u32 make_custom_layer_events(Window_Event* events, u32 count, Custom_Layer_Event* out) {
    u32 made = 0;
    for (u32 i = 0; i < count; i++) {
        Window_Event* e = &events[i];
        Custom_Layer_Event entry = {};
        if (e->kind == WINDOW_EVENT_CHARACTER || e->kind == WINDOW_EVENT_KEY_DOWN || e->kind == WINDOW_EVENT_KEY_UP) {
            entry.kind = e->kind;
            entry.code = e->code;
        } else if (e->kind == WINDOW_EVENT_MOUSE_BUTTON && (e->buttons & MOUSE_LEFT_PRESS)) {
            entry.kind = LAYER_EVENT_LEFT_PRESS;
        } else {
            continue;
        }
        entry.modifiers = e->modifiers & (MODIFIER_CONTROL | MODIFIER_ALT | MODIFIER_SHIFT);
        out[made++] = entry;
    }
    return made;
}

void update_editor() {
    u32 count = window.event_count;
    Custom_Layer_Event* events =
        (Custom_Layer_Event*)tmp_allocate_aligned(sizeof(Custom_Layer_Event) * (count ? count : 1), alignof(Custom_Layer_Event));
    // Keys ask for no further frame: everything they change is drawn after this, in this
    // frame, and what they leave as it was draws nothing new.
    u32 made = events ? make_custom_layer_events(window.events, count, events) : 0;
    run_events_block(events, made);
}

void recompile_custom_layer_if_asked() {
    // The request is taken under the sources lock; the compile takes that lock itself. A
    // failed compile watches what it read, so only the next change asks again.
    spin_lock(&custom_layer.sources_lock);
    b8 asked = custom_layer.recompile_request;
    custom_layer.recompile_request = 0;
    spin_unlock(&custom_layer.sources_lock);
    if (asked) load_custom_layer(0);
}

//~ Tabs the frame keeps

static Tab* find_compile_errors_tab() {
    for (u32 i = 0; i < tabs.count; i++) {
        if (get_tab(i)->kind == TAB_COMPILE_ERRORS) return get_tab(i);
    }
    return nullptr;
}

void keep_compile_errors_tab_in_step() {
    Tab* tab = find_compile_errors_tab();
    if (compile_errors.count == 0) {
        if (tab) close_tab(tab);
        return;
    }
    b8 asked = (atomic_load_u64(&global_flags) & DISPLAY_COMPILE_ERRORS) != 0;
    if (!tab) {
        tab = add_a_tab(TAB_COMPILE_ERRORS, nullptr);
        if (!tab) return;
    } else if (!asked) {
        return;
    }
    set_current_tab(tab->position, true);
    atomic_and_u64(&global_flags, ~(u64)DISPLAY_COMPILE_ERRORS);
}

void perform_editor_commands() {
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* command = (Editor_Command*)editor_commands.data + i;
        if (command->command_kind == COMMAND_ADD_TAB) {
            Editor_File* file = (Editor_File*)command->payload;
            Tab* tab = add_a_tab(command->tab_kind, file);
            if (tab) {
                set_current_tab(tab->position, true);
            } else if (file) {
                // A record no tab will show would never be closed.
                if (current_file == file) current_file = nullptr;
                close_file(file);
            }
        } else if (command->command_kind == COMMAND_GO_TO_TAB) {
            Tab* tab = get_tab_by_id(command->tab_target);
            if (tab) set_current_tab(tab->position, true);
        } else if (command->command_kind == COMMAND_RUN_IN_TERMINAL) {
            u64 count = command->payload < EDITOR_COMMAND_TEXT_CAPACITY ? command->payload : EDITOR_COMMAND_TEXT_CAPACITY;
            run_in_terminal_tab(command->command_text, count, &command->command_directory);
        }
    }
    editor_commands.count = 0;
    tmp_current_tab_index = current_tab_index;
}

void switch_to_neighbour_tab(s32 direction) {
    if (tabs.count == 0) return;
    u32 last = tabs.count - 1;
    u32 index;
    if (current_tab_index > last) index = direction < 0 ? last : 0;
    else if (direction < 0) index = current_tab_index == 0 ? last : current_tab_index - 1;
    else index = current_tab_index == last ? 0 : current_tab_index + 1;
    // Through set_current_tab, so the keyboard goes to the file the user now sees.
    set_current_tab(index, true);
}

//~ The top bar

static b8 inside(v2 p, f32 left, f32 top, f32 width, f32 height) {
    return p.x >= left && p.x < left + width && p.y >= top && p.y < top + height;
}

// An icon and, while the mouse is over its square, its other glyph; true when a queued
// left press on it was taken.
static b8 icon_button(Top_Bar_Icon icon, f32 x, f32 y, f32 size) {
    b8 over = inside(ui_mouse_position, x, y, size, size);
    u8 glyph = over ? TOP_BAR_ICON_GLYPHS[icon].hovered_glyph : TOP_BAR_ICON_GLYPHS[icon].glyph;
    draw_text(&glyph, 1, &icons_font_pool, 0, x, y, editor_settings.ui_theme.colours[2]);
    return over && ui_consume_left_click();
}

static b8 text_button(const char* label, f32* x, f32 y, f32 gap) {
    u64 count = strlen(label);
    f32 width = get_text_advance((u8*)label, count, &ui_font_pool, editor_settings.tab_width) + 2 * gap;
    b8 clicked = ui_button(label, count, *x, y, width, UPDATE_BUTTON_COLOUR);
    *x += width + gap;
    return clicked;
}

f32 draw_top_bar(v2 position, v2 size) {
    f32 ui = (f32)ui_font_pool.pixel_size, icon = (f32)icons_font_pool.pixel_size;
    f32 height = 1.5f * ui, gap = 0.4f * ui;
    draw_quad(position, v2{size.x, height}, editor_settings.ui_theme.colours[0]);
    f32 x = position.x, y = position.y + height * 0.5f - ui * 0.5f;

    if (atomic_load_u64(&global_flags) & UPDATE_IS_AVAILABLE) {
        if (text_button("Update", &x, y, gap)) {
            // The tab's thread gets the tab's id; making the tab also hides both buttons.
            Tab* tab = add_a_tab(TAB_UPDATE, nullptr);
            if (tab) set_current_tab(tab->position, true);
        }
        if ((atomic_load_u64(&global_flags) & UPDATE_IS_AVAILABLE) && text_button("What is new", &x, y, gap)) {
            os_open_file_in_other_app(STR(QUARN_CHANGELOG_ADDRESS));
        }
    }

    if (icon_button(ICON_NEW_FILE, x, y, icon)) open_new_file_tab();
    x += icon + gap;
    if (icon_button(ICON_OPEN_FILE, x, y, icon)) ask_to_open_file();
    x += icon + gap;
    if (icon_button(ICON_NEW_TERMINAL, x, y, icon)) open_new_terminal_tab();
    x += icon + gap;
    Tab* current = get_current_tab();
    if (current && current->kind == TAB_FILE) {
        if (icon_button(ICON_SAVE, x, y, icon)) editor_ask_to_save_file();
        x += icon + gap;
    }
    if (tabs.count > 1) {
        if (icon_button(ICON_PREVIOUS_TAB, x, y, icon)) switch_to_neighbour_tab(-1);
        x += icon + gap;
        if (icon_button(ICON_NEXT_TAB, x, y, icon)) switch_to_neighbour_tab(+1);
        x += icon + gap;
    }
    return x;
}

//~ The information panel

String information_panel_line_tmp(u32 index, Computer_Info* info) {
    switch (index) {
        case 0: return tstring("Built on %s %s", __DATE__, __TIME__);
        case 1: return tstring("Editor version: %u.%u.%u (beta)", EDITOR_VERSION.major, EDITOR_VERSION.minor, EDITOR_VERSION.patch);
        case 2: return STR("Open a file from the command line or with the open icon.");
        case 4: return tstring("CPU model: %s", os_get_cpu_model_c_string());
        case 5: return tstring("CPU ISA: %s", os_get_cpu_isa_c_string(info->isa));
        case 6: return tstring("Num. CPU cores: %u (physical), %u (logical)", info->num_physical_cores, info->num_logical_cores);
        case 7: return tstring("Usable RAM: %s", byte_size_to_c_string(info->usable_ram));
        case 8: return tstring("OS: %.*s", (int)info->os_name.count, (char*)info->os_name.data);
        default: return String{};
    }
}

void draw_information_panel(v2 position, v2 size) {
    Computer_Info* info = (Computer_Info*)tmp_allocate_aligned(sizeof(Computer_Info), alignof(Computer_Info));
    if (!info) return;
    os_get_computer_info(info);
    // Dim text that stands out from the editor's background, whichever theme it has.
    Rgba colour = rgba_brightness(editor_settings.text_theme.colours[0]) > 0.5f ? Rgba{0, 0, 0, 0.3f} : Rgba{1, 1, 1, 0.3f};
    f32 line_height = ui_font_pool.line_height;
    f32 centre_x = position.x + size.x * 0.5f;
    f32 y = position.y + size.y * 0.5f - line_height * INFORMATION_PANEL_LINE_COUNT * 0.5f;
    for (u32 i = 0; i < INFORMATION_PANEL_LINE_COUNT; i++, y += line_height) {
        String line = information_panel_line_tmp(i, info);
        if (line.count > 0) draw_text(line.data, (u64)line.count, &ui_font_pool, DRAW_TEXT_CENTRE_X, centre_x, y, colour);
    }
}

//~ The frame

void draw_and_update_editor(v2 position, v2 size) {
    recompile_custom_layer_if_asked();
    keep_compile_errors_tab_in_step();
    u32 reports = compile_errors.count;
    b8 asked_to_show = (atomic_load_u64(&global_flags) & DISPLAY_COMPILE_ERRORS) != 0;
    update_editor();

    // After the layer's events: a theme they change shows in this frame.
    f32 target_width = (f32)renderer_info.width, target_height = (f32)renderer_info.height;
    if (position.x < target_width && position.y < target_height && position.x + size.x > 0 && position.y + size.y > 0) {
        renderer_set_scissors(v2{0, 0}, v2{target_width, target_height});
        v2 at = {truncf(position.x), truncf(position.y)};
        draw_quad(at, v2{truncf(size.x - at.x), truncf(size.y - at.y)}, editor_settings.text_theme.colours[0]);
    }

    perform_editor_commands();

    ui_current_layer = 0;
    b8 focus = (atomic_load_u64(&global_flags) & FOCUS_MODE) != 0;
    f32 bar_left = focus ? position.x : draw_top_bar(position, size);
    Tab_Bar_Geometry geometry = make_tab_bar_geometry(position, size, bar_left, position.y);
    if (focus) {
        geometry.content_position = position;
        geometry.content_size = size;
    }
    draw_and_update_tab_bar(&geometry);
    if (tabs.count == 0) draw_information_panel(position, size);
    draw_and_update_listers();
    // A report that came during the frame (the layer stopped in a block) gets its tab in
    // the next one, at once.
    b8 asked_now = (atomic_load_u64(&global_flags) & DISPLAY_COMPILE_ERRORS) != 0;
    if (compile_errors.count != reports || (asked_now && !asked_to_show)) {
        ui_do_not_stop_after_current_frame();
    }
}
