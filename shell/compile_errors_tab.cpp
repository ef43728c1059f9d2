// The compile-errors tab: every report of the last failed layer compile, each as its
// "path:line" header (a press opens the file at that line), the captured source with the
// marked characters lit, the message wrapped to the tab, and a copy icon.

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

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

// Where the row of a message line that starts at start ends, to fit width pixels of the
// code font, and where the next row starts. A row breaks at the blanks after its last
// word that fits, or inside a word longer than a row; it holds one character at least.
static void split_message_row(u8* text, u32 start, u32 line_end, f32 width, u32* row_end, u32* next_start) {
    Text_Iterator it;
    init_text_iterator(&it, text + start, line_end - start, &code_font_pool, DRAW_TEXT_TAB_WIDTH);
    f32 pen = 0;
    u32 blanks = 0;  // where the last blanks after a word of the row start; 0 while none
    b8 word_before = false, blank_before = false;
    while (text_iterator_get_next(&it)) {
        u32 at = (u32)(it.start - text);
        b8 blank = is_blank(text[at]);
        pen += it.kerning + it.advance;
        if (pen > width && at > start) {
            u32 cut = blank ? at : blanks ? blanks : at;
            *row_end = cut;
            if (cut < at || blank) {
                while (cut < line_end && is_blank(text[cut])) cut++;
            }
            *next_start = cut;
            return;
        }
        if (blank && word_before && !blank_before) blanks = at;
        word_before |= !blank;
        blank_before = blank;
    }
    *row_end = line_end;
    *next_start = line_end;
}

// The rows of a message: a new row at each new line, and a line wider than the room wrapped.
struct Message_Rows {
    u8* text;
    u32 count;
    f32 width;
    u32 at;        // where the next line starts
    u32 line_end;  // of the line being wrapped
    u32 next_row;  // in that line
    b8 in_line;
};

static Message_Rows start_message_rows(Compile_Error* error, f32 width) {
    Message_Rows rows = {};
    rows.text = error->message;
    rows.count = error->message_length;
    rows.width = width;
    return rows;
}

// False after the last row.
static b8 next_message_row(Message_Rows* rows, u32* start, u32* end) {
    if (!rows->in_line) {
        u32 line_start;
        if (!next_text_line(rows->text, rows->count, &rows->at, &line_start, &rows->line_end)) return false;
        rows->next_row = line_start;
        rows->in_line = true;
    }
    *start = rows->next_row;
    split_message_row(rows->text, *start, rows->line_end, rows->width, end, &rows->next_row);
    if (rows->next_row >= rows->line_end) rows->in_line = false;
    return true;
}

// The room of a message's rows: the tab less a gap each side and the scroll bar, whether
// it shows or not, since the bar shows only once the rows are counted.
static f32 get_message_width(f32 contents_width) {
    f32 gap = 0.4f * (f32)ui_font_pool.pixel_size;
    f32 bar_width = editor_settings.ui_theme.scroll_bar_size * ui_screen_resolution.x;
    return contents_width - 2 * gap - bar_width;
}

Compile_Error_Layout layout_compile_error(Compile_Error* error, f32 top, f32 contents_width) {
    f32 ui = (f32)ui_font_pool.pixel_size, code = code_font_pool.line_height, gap = 0.4f * ui;
    Message_Rows rows = start_message_rows(error, get_message_width(contents_width));
    u32 message_rows = 0, start, end;
    while (next_message_row(&rows, &start, &end)) message_rows++;
    Compile_Error_Layout l;
    l.header_top = top;
    l.source_top = l.header_top + ui + gap;
    l.message_top = l.source_top + code * (f32)count_text_lines(error->captured, error->captured_length) + gap;
    l.icon_top = l.message_top + code * (f32)message_rows + gap;
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
    for (u32 i = 0; i < compile_errors.count; i++) {
        content_height = layout_compile_error(&errors[i], content_height, size.x).bottom;
    }
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
        Compile_Error_Layout l = layout_compile_error(error, top, size.x);
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

        //- The captured source, cut at the edge as the file view cuts code, and the message
        //  wrapped, so all of it can be read
        draw_captured_source(error, x, l.source_top, top_left, clip_bottom_right);
        Message_Rows rows = start_message_rows(error, get_message_width(size.x));
        u32 start, end;
        f32 y = l.message_top;
        while (next_message_row(&rows, &start, &end)) {
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
