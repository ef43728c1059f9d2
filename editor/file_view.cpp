// The file view. One call per frame: reload, scroll the cursor into sight, colour the
// visible lines, then one walk over them that draws each glyph in its chunk's colour,
// finds the character under the mouse, and notes where the cursor and the selection fall;
// selection and cursor are drawn after the text.

#include "editor/file_view.h"
#include "editor/colour_chunks.h"
#include "editor/editing.h"
#include "editor/file_io.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "runtime/custom_layer.h"
#include "ui/renderer.h"
#include "ui/text.h"
#include "ui/ui_state.h"
#include "ui/widgets.h"

#include <math.h>
#include <stdint.h>

struct View_Colours {
    Rgba background;  // read only to choose the scroll bar's colour
    Rgba text;
    Rgba cursor;
    Rgba selection;
    Rgba line_numbers;
    Rgba line_number_column;
};

static View_Colours choose_view_colours(Editor_File* file) {
    Rgba* text_theme = custom_layer.text_theme.colours;
    Rgba* ui_theme = custom_layer.ui_theme.colours;
    View_Colours c;
    // Input fields that the layer never colours take the interface's colours.
    if (atomic_load_u16(&file->flags) & FILE_NO_SYNTAX) {
        c.background = ui_theme[0];
        c.text = ui_theme[2];
        c.cursor = ui_theme[2];
    } else {
        c.background = text_theme[0];
        c.text = text_theme[1];
        c.cursor = text_theme[5];
    }
    c.selection = text_theme[2];
    c.line_numbers = text_theme[3];
    c.line_number_column = text_theme[4];
    if (file != current_file) c.cursor.a *= 0.3f;
    return c;
}

static Rgba get_scroll_bar_colour(Rgba background) {
    f32 brightness = sqrtf(0.299f * background.r * background.r + 0.587f * background.g * background.g +
                           0.114f * background.b * background.b);
    return brightness <= 0.5f ? Rgba{1, 1, 1, 1} : Rgba{0, 0, 0, 1};
}

//~ The walk over the visible lines

struct View_Hit {
    b8 found;
    b8 inside_character;  // not a line's end
    s64 offset;
    f32 x;
    f32 line_top;
};

struct Selection_Band {
    f32 left, right, top;
};

struct View_Walk {
    Editor_File* file;
    Font_Pool* font;
    u8* text;
    s64 count;
    u8 tab_width;
    f32 line_height;
    v2 view_top_left, view_bottom_right;
    f32 text_left, text_right;
    s64 range_start, range_end;
    s64 selection_start, selection_end;  // equal when there is no selection
    b8 mouse_enabled;
    v2 mouse;
    View_Colours colours;
    Colour_Walk colour_walk;

    View_Hit hit;
    b8 cursor_found;
    f32 cursor_x, cursor_top;
    Selection_Band* bands;
    u32 band_count;
    u32 drawn_lines;
};

// Characters own the band from 0.65 of the previous advance before them to 0.35 of their
// own advance after them, so a click on a character's right part lands after it.
static void test_hit(View_Walk* w, s64 offset, f32 x, f32 left, f32 right, f32 line_top, b8 character) {
    if (w->hit.found || !w->mouse_enabled) return;
    left = fmaxf(left, w->text_left);
    right = fminf(right, w->text_right);
    f32 top = fmaxf(line_top, w->view_top_left.y);
    f32 bottom = fminf(line_top + w->line_height, w->view_bottom_right.y);
    if (w->mouse.x < left || w->mouse.x >= right || w->mouse.y < top || w->mouse.y >= bottom) return;
    w->hit = View_Hit{true, character, offset, x, line_top};
}

static s64 get_line_break_length(u8* text, s64 count, s64 at) {
    return (text[at] == '\r' && at + 1 < count && text[at + 1] == '\n') ? 2 : 1;
}

// Where the cursor and the ends of the selection fall, as the walk passes their offsets.
static void note_position(View_Walk* w, s64 offset, f32 x, f32 line_top, f32* selection_left, f32* selection_right) {
    if (offset == w->file->cursor) {
        w->cursor_found = true;
        w->cursor_x = x;
        w->cursor_top = line_top;
    }
    if (offset == w->selection_start) *selection_left = x;
    if (offset == w->selection_end) *selection_right = x;
}

// A line that starts at line_start, drawn from x; returns the pen after its last glyph.
static f32 walk_line(View_Walk* w, Text_Iterator* it, s64 line_start, s64 line_end, f32 x, f32 line_top) {
    Editor_File* file = w->file;
    f32 ascent = floorf(w->font->ascent);
    v2 clip_top_left = {w->text_left, w->view_top_left.y};
    v2 clip_bottom_right = {w->text_right, w->view_bottom_right.y};
    f32 pen = x;
    f32 previous_advance = 0;
    b8 first = true;
    f32 selection_left = w->text_left, selection_right = w->text_left;
    Rgba* palette = (Rgba*)file->palette.data;
    text_iterator_update_text(it, w->text + line_start, (u64)(line_end - line_start));
    while (text_iterator_get_next(it)) {
        s64 offset = it->start - w->text;
        if (!first) pen += it->kerning;
        f32 at = pen;
        Glyph* glyph = it->current_glyph;
        s32 index = get_colour_at(&w->colour_walk, offset);
        if (glyph && glyph->width > 0) {
            f32 top = floorf(floorf(line_top) + ascent + glyph->y_offset);
            if (top <= w->view_bottom_right.y && top + glyph->height >= w->view_top_left.y) {
                Rgba colour = index >= 0 && (u32)index < file->palette.count ? palette[index] : w->colours.text;
                draw_glyph_scissored(glyph, v2{floorf(floorf(at) + glyph->left_bearing), top}, colour, clip_top_left,
                                     clip_bottom_right);
            }
        }
        test_hit(w, offset, at, first ? w->text_left : at - 0.65f * previous_advance, at + 0.35f * it->advance, line_top, true);
        note_position(w, offset, at, line_top, &selection_left, &selection_right);
        pen += it->advance;
        previous_advance = it->advance;
        first = false;
    }

    // The line's end: its break, or the end of the range.
    test_hit(w, line_end, pen, first ? w->text_left : pen - 0.65f * previous_advance, w->text_right, line_top, false);
    note_position(w, line_end, pen, line_top, &selection_left, &selection_right);
    if (w->selection_start < w->selection_end && w->selection_start <= line_end && w->selection_end >= line_start) {
        f32 left = w->selection_start < line_start ? w->text_left : selection_left;
        f32 right = w->selection_end > line_end ? pen : selection_right;
        if (right > left && w->bands) w->bands[w->band_count++] = Selection_Band{left, right, line_top};
    }
    return pen;
}

// Where the line holding the cursor starts: shifted left so that a cursor past the text
// area's width sits in its middle, which makes a one-line input scroll sideways.
static f32 get_line_x(View_Walk* w, s64 line_start, s64 line_end) {
    s64 cursor = w->file->cursor;
    if (cursor <= line_start || cursor > line_end) return w->text_left;
    f32 width = get_text_width(w->text + line_start, (u64)(cursor - line_start), w->font, w->tab_width);
    f32 area = w->text_right - w->text_left;
    if (width < area - 10) return w->text_left;
    return w->text_left - (width - area / 2);
}

static void walk_visible_lines(View_Walk* w, f32 first_line_top) {
    Text_Iterator it;
    init_text_iterator(&it, w->text, 0, w->font, w->tab_width);
    start_colour_walk(&w->colour_walk, w->file, w->range_start);
    s64 line_start = w->range_start;
    f32 line_top = first_line_top;
    for (;;) {
        s64 line_end = get_line_end(w->text, w->count, line_start);
        walk_line(w, &it, line_start, line_end, get_line_x(w, line_start, line_end), line_top);
        w->drawn_lines++;
        if (line_end >= w->count) break;
        s64 next = line_end + get_line_break_length(w->text, w->count, line_end);
        // The empty line after a final break is drawn too: the cursor may stand on it.
        if (next > w->range_end || (next == w->range_end && w->range_end < w->count)) break;
        line_start = next;
        line_top += w->line_height;
    }
}

//~ The mouse

// A double click selects the token there, or the run of blanks around it.
static void select_token_or_blanks(Editor_File* file, s64 offset) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    Editor_Token next, previous;
    s64 next_end = editor_get_next_token(file, offset, &next);
    s64 previous_end = editor_get_previous_token(file, offset, &previous);
    s64 start, end;
    if (next_end >= 0 && next.offset == offset) {
        b8 previous_reaches_past = previous_end > offset;
        start = previous_reaches_past ? previous.offset : next.offset;
        end = previous_reaches_past ? previous_end : next_end;
    } else if (previous_end >= 0 && offset <= previous_end) {
        start = previous.offset;
        end = previous_end;
    } else {
        start = offset;
        while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) start--;
        end = offset;
        while (end < count && (text[end] == ' ' || text[end] == '\t')) end++;
    }
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    file->selection_anchor = start;
    editor_set_cursor(file, end);
}

// Returns true when the cursor moved.
static b8 handle_mouse_in_text(Editor_File* file, View_Hit* hit) {
    if (!hit->found) return false;
    // Only one queued event per hit: the double click before the press it came with.
    if (ui_consume_double_click()) {
        if (!hit->inside_character) return false;
        select_token_or_blanks(file, hit->offset);
        return true;
    }
    if (ui_consume_left_click()) {
        atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE | FILE_MOUSE_SELECTING);
        if (!(atomic_load_u16(&file->flags) & FILE_KEEP_ANCHOR_ON_CLICK)) file->selection_anchor = hit->offset;
        editor_set_cursor(file, hit->offset);
        return true;
    }
    // A drag follows the mouse wherever the focus is.
    if ((atomic_load_u16(&file->flags) & FILE_MOUSE_SELECTING) && file->cursor != hit->offset) {
        editor_set_cursor(file, hit->offset);
        return true;
    }
    return false;
}

//~ The view

static Ui_Element_Id get_file_view_element_id(Editor_File* file) {
    u32 index = (u32)(uintptr_t)file + FILE_VIEW_ELEMENT_OFFSET;
    return make_ui_element_id(index, FILE_VIEW_ELEMENT_KEY, sizeof(FILE_VIEW_ELEMENT_KEY) - 1);
}

void draw_file(Editor_File* file, Font_Pool* font, v2 top_left, v2 bottom_right) {
    spin_lock(&file->lock);
    u16 flags = atomic_load_u16(&file->flags);
    // A changed file is reloaded only while it holds no edits of the user's: those win.
    if ((flags & FILE_CHANGED_ON_DISK) && !(flags & FILE_MODIFIED)) reload_file(file);
    clamp_cursors_to_text(file);

    u8* text = file->text.data;
    s64 count = file->text.count;
    u8 tab_width = custom_layer.tab_width;
    b8 single_line = atomic_load_u16(&file->flags) & FILE_SINGLE_LINE;
    f32 line_height = font->line_height;
    f32 pixel_size = (f32)font->pixel_size;
    f32 view_height = bottom_right.y - top_left.y;
    u32 lines = count_lines_in(text, count);

    // The line-number column.
    b8 line_numbers = (custom_layer.display_flags & DISPLAY_LINE_NUMBERS) && !single_line;
    f32 text_left = top_left.x;
    if (line_numbers) {
        u8 digits[16];
        String number = {digits, 0};
        write_into_string(&number, sizeof(digits), "%d", (int)lines);
        f32 width = get_text_advance(number.data, (u64)number.count, font, tab_width);
        text_left = ceilf(top_left.x + width + 0.2f * pixel_size);
        f32 top = truncf(top_left.y), height = truncf(view_height);
        if (top + height >= 0 && top <= (f32)renderer_info.height) {
            View_Colours colours = choose_view_colours(file);
            draw_quad_scissored(v2{truncf(top_left.x), top}, v2{truncf(text_left - top_left.x), height},
                                colours.line_number_column, v2{0, 0},
                                v2{(f32)renderer_info.width, (f32)renderer_info.height});
        }
    }
    f32 text_right = bottom_right.x - file->scroll_bar_width;

    u32 visible_lines = line_height > 0 ? (u32)ceilf(view_height / line_height) : 1;
    if (current_file) current_file->visible_lines = visible_lines;

    v2 mouse = ui_mouse_position;
    if (mouse.x >= text_left && mouse.x <= text_right && mouse.y >= top_left.y && mouse.y <= bottom_right.y) {
        ui_set_cursor(UI_CURSOR_IBEAM, false);
    }
    View_Colours colours = choose_view_colours(file);

    f32 content_height = line_height * (f32)lines - (line_height - pixel_size);
    if (!single_line) content_height += view_height - line_height;

    // Bring the cursor into sight on the element's scroll, before the bar applies the
    // wheel and the thumb.
    Ui_Element_Id id = get_file_view_element_id(file);
    Ui_Element* element = get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR);
    u32 cursor_line = editor_get_line_at_offset(file, file->cursor);
    f32 cursor_top = (f32)(cursor_line - 1) * line_height + top_left.y - element->scroll;
    flags = atomic_load_u16(&file->flags);
    if (flags & FILE_CENTRE_CURSOR) {
        ui_scroll_bar_centre_around(id, true, top_left, bottom_right, content_height, cursor_top, pixel_size);
        atomic_and_u16(&file->flags, (u16)~FILE_CENTRE_CURSOR);
    } else if (flags & FILE_CURSOR_MOVED) {
        ui_scroll_bar_ensure_visibility(id, true, top_left, bottom_right, content_height, cursor_top, pixel_size);
        atomic_and_u16(&file->flags, (u16)~FILE_CURSOR_MOVED);
    }
    f32 bar_width = ui_screen_resolution.x * custom_layer.ui_theme.scroll_bar_size;
    f32* scroll = ui_scroll_bar(id, true, top_left, bottom_right, content_height, bar_width,
                                get_scroll_bar_colour(colours.background));
    file->scroll_y = scroll[0];
    // The text area of this frame ends where last frame's bar began: when the bar came or
    // went, the next frame draws the text to its new edge.
    if (scroll[1] != file->scroll_bar_width) ui_do_not_stop_after_current_frame();
    file->scroll_bar_width = scroll[1];
    file->scroll_bar = scroll;

    // The visible range: one line more than fits, from the first line scrolled into view.
    u32 scrolled_past = line_height > 0 ? (u32)floorf(fmaxf(file->scroll_y, 0) / line_height) : 0;
    s64 range_start = get_offset_at_line(text, count, scrolled_past + 1);
    s64 range_end = get_offset_at_line(text, count, scrolled_past + visible_lines + 2);
    if (range_start != file->syntax_start || range_end != file->syntax_end) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
    if (atomic_load_u16(&file->flags) & FILE_NEEDS_SYNTAX) {
        file->palette.count = 0;
        file->colour_chunks.count = 0;
        if (atomic_load_u16(&file->flags) & FILE_NO_SYNTAX) {
            file->syntax_start = range_start;
            file->syntax_end = range_end;
        } else {
            compute_syntax_state(file, range_start, range_end);
            // Without a layer or its #syntax block the text keeps the theme's colour.
            run_syntax_block(file);
        }
        atomic_and_u16(&file->flags, (u16)~FILE_NEEDS_SYNTAX);
    }
    // Colouring may not have changed the text, but keep to what is there now.
    text = file->text.data;
    count = file->text.count;

    // A drag ends when the button is up, wherever the mouse is.
    flags = atomic_load_u16(&file->flags);
    b8 selecting = flags & FILE_SELECTION_ACTIVE;
    if (!(ui_flags & UI_LEFT_BUTTON_HELD) && (flags & FILE_MOUSE_SELECTING)) {
        atomic_and_u16(&file->flags, (u16)~FILE_MOUSE_SELECTING);
        if (*file->selection_start == *file->selection_end) atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    }

    View_Walk walk = {};
    walk.file = file;
    walk.font = font;
    walk.text = text;
    walk.count = count;
    walk.tab_width = tab_width;
    walk.line_height = line_height;
    walk.view_top_left = top_left;
    walk.view_bottom_right = bottom_right;
    walk.text_left = text_left;
    walk.text_right = text_right;
    walk.range_start = range_start;
    walk.range_end = range_end;
    walk.selection_start = selecting ? *file->selection_start : 0;
    walk.selection_end = selecting ? *file->selection_end : 0;
    walk.mouse_enabled = !(custom_layer.display_flags & DISPLAY_NO_MOUSE_IN_TEXT);
    walk.mouse = mouse;
    walk.colours = colours;
    walk.bands = (Selection_Band*)tmp_allocate_aligned((u64)(visible_lines + 3) * sizeof(Selection_Band), alignof(Selection_Band));
    f32 first_line_top = top_left.y - file->scroll_y + (f32)scrolled_past * line_height;
    walk_visible_lines(&walk, first_line_top);

    // Line numbers, right-aligned on the column's edge.
    if (line_numbers) {
        v2 column_bottom_right = {text_left, bottom_right.y};
        for (u32 i = 0; i < walk.drawn_lines; i++) {
            u8 digits[16];
            String number = {digits, 0};
            write_into_string(&number, sizeof(digits), "%u", scrolled_past + 1 + i);
            draw_text_scissored(number.data, (u64)number.count, font, DRAW_TEXT_RIGHT_OF_ADVANCE, text_left - 0.2f * pixel_size,
                                first_line_top + (f32)i * line_height, colours.line_numbers, top_left, column_bottom_right);
        }
    }

    v2 area_top_left = {text_left, top_left.y};
    v2 area_bottom_right = {text_right, bottom_right.y};
    for (u32 i = 0; i < walk.band_count; i++) {
        Selection_Band* b = &walk.bands[i];
        if (b->top > bottom_right.y || b->top + line_height < top_left.y) continue;
        draw_quad_scissored(v2{b->left, b->top}, v2{b->right - b->left, line_height}, colours.selection, area_top_left,
                            area_bottom_right);
    }

    // The mouse acts after the walk: a cursor it moved is drawn where the hit was.
    if (walk.mouse_enabled && handle_mouse_in_text(file, &walk.hit)) {
        ui_flags |= UI_KEEP_RUNNING;  // the selection drawn above is a frame old
        walk.cursor_found = true;
        walk.cursor_x = walk.hit.x;
        walk.cursor_top = walk.hit.line_top;
    }
    if (walk.cursor_found && walk.cursor_top <= bottom_right.y && walk.cursor_top + pixel_size >= top_left.y) {
        draw_quad_scissored(v2{walk.cursor_x, walk.cursor_top}, v2{FILE_VIEW_CURSOR_WIDTH, pixel_size}, colours.cursor,
                            area_top_left, area_bottom_right);
    }

    atomic_and_u16(&file->flags, (u16)~FILE_KEEP_ANCHOR_ON_CLICK);
    spin_unlock(&file->lock);
}
