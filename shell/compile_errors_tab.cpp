// The compile-errors tab: every report of the last failed layer compile, each as its
// "path:line" header (a press opens the file at that line), the captured source with the
// marked characters lit, the message, and a copy icon.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include "shell/tab_bar.h"
#include "shell/file_tabs.h"
#include "shell/tabs.h"
#include "compiler/core/compiler_core.h"
#include "runtime/custom_layer.h"
#include "ui/ui.h"

#include <string.h>

static const char COPIED_NOTICE[] = "Copied.";

// The lines of a text at CR, LF or CR LF; false at the end.
static b8 next_text_line(u8* text, u32 count, u32* at, u32* line_start, u32* line_end) {
    if (*at > count) return false;
    *line_start = *at;
    u32 p = *at;
    while (p < count && text[p] != '\n' && text[p] != '\r') p++;
    *line_end = p;
    if (p < count && text[p] == '\r' && p + 1 < count && text[p + 1] == '\n') p++;
    *at = p + 1;
    return true;
}

static u32 count_text_lines(u8* text, u32 count) {
    u32 at = 0, start, end, lines = 0;
    while (next_text_line(text, count, &at, &start, &end)) lines++;
    return lines;
}

Compile_Error_Layout layout_compile_error(Compile_Error* error, f32 top) {
    f32 ui = (f32)ui_font_pool.pixel_size, code = code_font_pool.line_height, gap = 0.4f * ui;
    Compile_Error_Layout l;
    l.header_top = top;
    l.source_top = l.header_top + ui + gap;
    l.message_top = l.source_top + code * (f32)count_text_lines(error->captured, error->captured_length) + gap;
    l.icon_top = l.message_top + code * (f32)count_text_lines(error->message, error->message_length) + gap;
    l.bottom = l.icon_top + (f32)icons_font_pool.pixel_size + 2 * gap;
    return l;
}

// The captured lines, each character of the marked range under a rectangle of its own.
static void draw_captured_source(Compile_Error* error, f32 x, f32 y, v2 clip_top_left, v2 clip_bottom_right) {
    Rgba text = editor_settings.text_theme.colours[1];
    Rgba mark = editor_settings.ui_theme.colours[6];
    mark.a = 0.45f;
    u32 mark_start = error->column, mark_end = error->column + error->marked_length;
    u32 at = 0, start, end;
    while (next_text_line(error->captured, error->captured_length, &at, &start, &end)) {
        for (u32 c = start; c < end; c++) {
            if (c < mark_start || c >= mark_end || (error->captured[c] & 0xC0) == 0x80) continue;
            f32 before = get_text_advance(error->captured + start, c - start, &code_font_pool, editor_settings.tab_width);
            u32 next = c + 1;
            while (next < end && (error->captured[next] & 0xC0) == 0x80) next++;
            f32 width = get_text_advance(error->captured + c, next - c, &code_font_pool, editor_settings.tab_width);
            draw_quad_scissored(v2{x + before, y}, v2{width, code_font_pool.line_height}, mark, clip_top_left,
                                clip_bottom_right);
        }
        draw_text_scissored(error->captured + start, end - start, &code_font_pool, 0, x, y, text, clip_top_left,
                            clip_bottom_right);
        y += code_font_pool.line_height;
    }
}

static void copy_compile_error(Tab* tab, Compile_Error* error) {
    String text = compile_error_to_text(error, false);
    char* c_text = to_tmp_c_string(text);
    if (!c_text) return;
    glfwSetClipboardString(window.handle, c_text);
    tab->last_copy_time = os_get_monotonic_microseconds();
}

void draw_compile_errors_tab(Tab* tab, v2 position, v2 size) {
    f32 ui = (f32)ui_font_pool.pixel_size, icon = (f32)icons_font_pool.pixel_size, gap = 0.4f * ui;
    Rgba* colours = editor_settings.ui_theme.colours;
    v2 top_left = position, bottom_right = {position.x + size.x, position.y + size.y};
    Compile_Error* errors = (Compile_Error*)compile_errors.data;

    f32 content_height = gap;
    for (u32 i = 0; i < compile_errors.count; i++) content_height = layout_compile_error(&errors[i], content_height).bottom;
    Ui_Element_Id id = make_ui_element_id(0, "compile errors tab", 18);
    f32 bar_width = editor_settings.ui_theme.scroll_bar_size * ui_screen_resolution.x;
    f32* scroll = ui_scroll_bar(id, true, top_left, bottom_right, content_height, bar_width, colours[2]);
    tab->list_scroll = scroll[0];
    v2 clip_bottom_right = {bottom_right.x - scroll[1], bottom_right.y};

    v2 mouse = ui_mouse_position;
    b8 mouse_in_list = mouse.x >= top_left.x && mouse.x < clip_bottom_right.x && mouse.y >= top_left.y &&
                       mouse.y < clip_bottom_right.y;
    f32 x = position.x + gap;
    f32 top = position.y + gap - tab->list_scroll;
    Compile_Error* open = nullptr;
    for (u32 i = 0; i < compile_errors.count; i++) {
        Compile_Error* error = &errors[i];
        Compile_Error_Layout l = layout_compile_error(error, top);
        top = l.bottom;
        if (l.bottom < top_left.y || l.header_top > bottom_right.y) continue;

        //- Header: a press opens the file at the line once the list is drawn
        String header = tstring("%.*s:%u", (int)error->path_length, (char*)error->path, error->line);
        f32 header_width = get_text_advance(header.data, (u64)header.count, &ui_font_pool, editor_settings.tab_width);
        b8 over_header = mouse_in_list && mouse.x >= x && mouse.x < x + header_width && mouse.y >= l.header_top &&
                         mouse.y < l.header_top + ui;
        if (over_header && error->path_length > 0 && ui_consume_left_click()) open = error;
        Rgba header_colour = colours[2];
        if (over_header) header_colour = colours[7];
        draw_text_scissored(header.data, (u64)header.count, &ui_font_pool, 0, x, l.header_top, header_colour, top_left,
                            clip_bottom_right);

        //- The captured source and the message
        draw_captured_source(error, x, l.source_top, top_left, clip_bottom_right);
        u32 at = 0, start, end;
        f32 y = l.message_top;
        while (next_text_line(error->message, error->message_length, &at, &start, &end)) {
            draw_text_scissored(error->message + start, end - start, &code_font_pool, 0, x, y, colours[2], top_left,
                                clip_bottom_right);
            y += code_font_pool.line_height;
        }

        //- The copy icon, and for two seconds after a copy its notice
        b8 over_icon = mouse_in_list && mouse.x >= x && mouse.x < x + icon && mouse.y >= l.icon_top &&
                       mouse.y < l.icon_top + icon;
        if (over_icon && ui_consume_left_click()) copy_compile_error(tab, error);
        draw_text_scissored((u8*)(over_icon ? "T" : "t"), 1, &icons_font_pool, 0, x, l.icon_top, colours[2], top_left,
                            clip_bottom_right);
    }

    // One notice for the tab: the copy time is the tab's.
    u64 now = os_get_monotonic_microseconds();
    if (tab->last_copy_time && now - tab->last_copy_time < COPIED_NOTICE_MICROSECONDS) {
        f32 notice_x = bottom_right.x - scroll[1] - gap - get_text_advance((u8*)COPIED_NOTICE, sizeof(COPIED_NOTICE) - 1,
                                                                           &ui_font_pool, editor_settings.tab_width);
        draw_text_scissored((u8*)COPIED_NOTICE, sizeof(COPIED_NOTICE) - 1, &ui_font_pool, 0, notice_x, position.y + gap,
                            colours[2], top_left, bottom_right);
        ui_do_not_stop_after_current_frame();  // so the notice goes when its time is up
    }
    if (open) editor_load_or_go_to_file(open->path, open->path_length, open->line);
}
