// The file view. One call per frame: reload, scroll the cursor into sight, colour the
// visible lines, then one walk over them that draws each glyph in its chunk's colour,
// finds the character under the mouse, and notes where the cursor and the selection fall;
// selection and cursor are drawn after the text. A frame costs what it shows: lines and
// the syntax state come from the view index, and a line is walked only from the first
// character that can show to the first that cannot, however long it is.

#include "editor/file_view.h"
#include "editor/colour_chunks.h"
#include "editor/editing.h"
#include "editor/file_io.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "editor/pen_walk.h"
#include "editor/editor_settings.h"
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
    Rgba* text_theme = editor_settings.text_theme.colours;
    Rgba* ui_theme = editor_settings.ui_theme.colours;
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

// Lines longer than this have the part of them that shows worked out before the syntax
// range is: a range that began at such a line's start could take the whole line.
#define FILE_VIEW_LONG_LINE 4096
// Octets a line's end is looked for before the view index is asked where the next begins.
#define FILE_VIEW_LINE_END_SCAN 4096

// One visible line, and the part of it that the walk visits.
struct Line_Layout {
    s64 start, end;  // its first octet and its break (the text's end for the last line)
    f64 x;           // where its start lies (left of the text area when it is shifted)
    Pen_Point from;  // the first character that can show or be hit
    s64 to;          // the first that cannot (the end when every one can)
};

// Past the right edge the character neither shows (no glyph reaches a pixel size left of
// its pen) nor can be hit (its band begins 0.65 of the advance before it), nor can any
// character after it.
static b8 is_past_right_edge(View_Walk* w, f32 at, f32 previous_advance) {
    return at - 0.65f * previous_advance >= w->text_right + (f32)w->font->pixel_size;
}

// The width of the text from the line's start to the cursor, as get_text_width measures
// it: every advance but the last, then the last glyph's bearing and box. From the nearest
// pen point, so a long line is measured once, not in every frame.
static f64 get_cursor_width(View_Walk* w, s64 line_start, s64 line_end) {
    s64 cursor = w->file->cursor;
    Pen_Point q = get_pen_point(w->file, w->font, w->tab_width, line_start, line_end, cursor);
    s64 from = q.offset;
    f64 width = q.advances;
    Text_Iterator it;
    if (from == cursor) {
        init_text_iterator(&it, w->text + q.previous, (u64)(cursor - q.previous), w->font, w->tab_width);
        text_iterator_get_next(&it);
        width -= it.advance;
        from = q.previous;
    }
    init_text_iterator(&it, w->text + from, (u64)(cursor - from), w->font, w->tab_width);
    f32 last_advance = 0;
    Glyph* last = nullptr;
    while (text_iterator_get_next(&it)) {
        width += last_advance;
        last_advance = it.advance;
        last = it.current_glyph;
    }
    if (!last) return width + last_advance;
    // A blank's box is empty: it counts with its advance, so trailing spaces are measured.
    return width + last->left_bearing + (last->width < 0.001f ? last_advance : last->width);
}

// Where the line starts, and from where to where it is walked. The line holding the cursor
// is shifted left so that a cursor past the text area's width sits in its middle, which
// makes a one-line input scroll sideways.
static Line_Layout lay_out_line(View_Walk* w, s64 line_start, s64 line_end) {
    Line_Layout l = {line_start, line_end, w->text_left, Pen_Point{line_start, line_start, 0, 0}, line_end};
    s64 cursor = w->file->cursor;
    if (cursor > line_start && cursor <= line_end) {
        f32 width = (f32)get_cursor_width(w, line_start, line_end);
        f32 area = w->text_right - w->text_left;
        if (!(width < area - 10)) l.x = (f64)w->text_left - ((f64)width - (f64)(area / 2));
    }
    f32 pixel_size = (f32)w->font->pixel_size;
    f64 hidden = (f64)w->text_left - l.x - pixel_size;  // characters before this pen stay unseen
    if (hidden > 0) l.from = find_pen_point_before(w->file, w->font, w->tab_width, line_start, line_end, line_end, hidden);
    if (line_end - line_start > FILE_VIEW_LONG_LINE) {
        Pen_Walk pw;
        start_pen_walk(&pw, w->text, w->font, w->tab_width, line_start, line_end, l.from);
        f32 previous_advance = pw.previous_advance;
        while (pen_walk_step(&pw)) {
            f32 at = (f32)(l.x + pw.character.advances + pw.character.kerning);
            if (is_past_right_edge(w, at, previous_advance)) {
                l.to = pw.character.offset;
                break;
            }
            previous_advance = pw.it.advance;
        }
    }
    return l;
}

// The first CR or LF at or after the line's start: looked for nearby, else where the view
// index says the next line begins.
static s64 find_line_end(Editor_File* file, s64 line_start, u32 line) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 limit = count - line_start > FILE_VIEW_LINE_END_SCAN ? line_start + FILE_VIEW_LINE_END_SCAN : count;
    s64 end = get_line_end(text, limit, line_start);
    if (end < limit || limit == count) return end;
    s64 next = view_index_offset_at_line(file, line + 1);
    if (next >= count && (count == 0 || (text[count - 1] != '\n' && text[count - 1] != '\r'))) return count;
    return next >= 2 && text[next - 1] == '\n' && text[next - 2] == '\r' ? next - 2 : next - 1;
}

// A line drawn from its layout; returns the pen after its last glyph, or a pen right of the
// text area when the walk stopped there.
static f32 walk_line(View_Walk* w, Line_Layout* l, f32 line_top) {
    Editor_File* file = w->file;
    f32 ascent = floorf(w->font->ascent);
    v2 clip_top_left = {w->text_left, w->view_top_left.y};
    v2 clip_bottom_right = {w->text_right, w->view_bottom_right.y};
    f32 selection_left = w->text_left, selection_right = w->text_left;
    Rgba* palette = (Rgba*)file->palette.data;
    Pen_Walk pw;
    start_pen_walk(&pw, w->text, w->font, w->tab_width, l->start, l->end, l->from);
    f32 previous_advance = pw.previous_advance;
    b8 first = l->from.offset == l->start;
    s64 stop = l->end;
    while (pen_walk_step(&pw)) {
        s64 offset = pw.character.offset;
        f32 at = (f32)(l->x + pw.character.advances + pw.character.kerning);
        if (offset >= l->to || is_past_right_edge(w, at, previous_advance)) {
            stop = offset;
            break;
        }
        Glyph* glyph = pw.it.current_glyph;
        s32 index = get_colour_at(&w->colour_walk, offset);
        if (glyph && glyph->width > 0) {
            f32 top = floorf(floorf(line_top) + ascent + glyph->y_offset);
            if (top <= w->view_bottom_right.y && top + glyph->height >= w->view_top_left.y) {
                Rgba colour = index >= 0 && (u32)index < file->palette.count ? palette[index] : w->colours.text;
                draw_glyph_scissored(glyph, v2{floorf(floorf(at) + glyph->left_bearing), top}, colour, clip_top_left,
                                     clip_bottom_right);
            }
        }
        test_hit(w, offset, at, first ? w->text_left : at - 0.65f * previous_advance, at + 0.35f * pw.it.advance, line_top, true);
        note_position(w, offset, at, line_top, &selection_left, &selection_right);
        previous_advance = pw.it.advance;
        first = false;
    }

    // The line's end: its break, or the end of the range. Past the right edge, every
    // position left unwalked lies beyond the area.
    b8 stopped = stop < l->end;
    f32 beyond = w->text_right + (f32)w->font->pixel_size;
    f32 pen = stopped ? beyond : (f32)(l->x + pw.at.advances + pw.at.kerning);
    if (!stopped) {
        test_hit(w, l->end, pen, first ? w->text_left : pen - 0.65f * previous_advance, w->text_right, line_top, false);
        note_position(w, l->end, pen, line_top, &selection_left, &selection_right);
    } else {
        if (w->selection_start >= stop && w->selection_start <= l->end) selection_left = beyond;
        if (w->selection_end >= stop && w->selection_end <= l->end) selection_right = beyond;
    }
    if (w->selection_start < w->selection_end && w->selection_start <= l->end && w->selection_end >= l->start) {
        // A selection that begins in the part left of the walk begins off the area.
        f32 left = w->selection_start < l->from.offset ? w->text_left : selection_left;
        f32 right = w->selection_end > l->end ? pen : selection_right;
        if (right > left && w->bands) w->bands[w->band_count++] = Selection_Band{left, right, line_top};
    }
    return pen;
}

// The visible lines from the range's start: one line more than fits, and the empty line
// after a final break (the cursor may stand on it). Returns how many were laid out.
static u32 lay_out_visible_lines(View_Walk* w, u32 first_line, Line_Layout* layouts, u32 capacity) {
    u32 n = 0;
    s64 line_start = w->range_start;
    u32 line = first_line;
    while (n < capacity) {
        s64 line_end = find_line_end(w->file, line_start, line);
        layouts[n++] = lay_out_line(w, line_start, line_end);
        if (line_end >= w->count) break;
        s64 next = line_end + get_line_break_length(w->text, w->count, line_end);
        if (next > w->range_end || (next == w->range_end && w->range_end < w->count)) break;
        line_start = next;
        line++;
    }
    return n;
}

static void walk_visible_lines(View_Walk* w, Line_Layout* layouts, u32 count, f32 first_line_top) {
    start_colour_walk(&w->colour_walk, w->file, count ? layouts[0].from.offset : w->range_start);
    f32 line_top = first_line_top;
    for (u32 i = 0; i < count; i++, line_top += w->line_height) {
        walk_line(w, &layouts[i], line_top);
        w->drawn_lines++;
    }
}

// The range of lines the view shows, from the view index, and their layouts.
static u32 lay_out_visible_range(View_Walk* w, u32 scrolled_past, u32 visible_lines, Line_Layout* layouts, u32 capacity) {
    Editor_File* file = w->file;
    w->text = file->text.data;
    w->count = file->text.count;
    w->range_start = view_index_offset_at_line(file, scrolled_past + 1);
    w->range_end = view_index_offset_at_line(file, scrolled_past + visible_lines + 2);
    if (!layouts) return 0;
    return lay_out_visible_lines(w, scrolled_past + 1, layouts, capacity);
}

// Lets the layer colour what shows. A long first or last line is coloured only from where
// it begins to show, or up to where it stops: a range of whole lines could be the whole
// file. Colouring runs again when the range or the text changed.
static void colour_visible_part(Editor_File* file, Line_Layout* layouts, u32 count, s64 range_start, s64 range_end) {
    s64 start = range_start, end = range_end;
    if (count && layouts[0].end - layouts[0].start > FILE_VIEW_LONG_LINE) start = layouts[0].from.offset;
    Line_Layout* last = count ? &layouts[count - 1] : nullptr;
    if (last && last->end - last->start > FILE_VIEW_LONG_LINE && last->to < last->end) end = last->to;
    View_Index* v = file->view_index;  // made by the line layout that narrowed the range
    b8 narrowed = v && (start != range_start || end != range_end);
    if (!narrowed) start = range_start, end = range_end;
    b8 changed = narrowed ? start != v->syntax_asked_start || end != v->syntax_asked_end || end != file->syntax_end
                          : range_start != file->syntax_start || range_end != file->syntax_end;
    if (changed) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
    if (!(atomic_load_u16(&file->flags) & FILE_NEEDS_SYNTAX)) return;
    file->palette.count = 0;
    file->colour_chunks.count = 0;
    if (atomic_load_u16(&file->flags) & FILE_NO_SYNTAX) {
        file->syntax_start = start;
        file->syntax_end = end;
    } else {
        if (narrowed) compute_syntax_state_from_token(file, start, end);
        else compute_syntax_state(file, start, end);
        // Without a layer or its #syntax block the text keeps the theme's colour.
        run_layer_syntax_block(file);
    }
    if (v) {
        v->syntax_asked_start = narrowed ? start : -1;
        v->syntax_asked_end = narrowed ? end : -1;
    }
    atomic_and_u16(&file->flags, (u16)~FILE_NEEDS_SYNTAX);
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

    u8 tab_width = editor_settings.tab_width;
    b8 single_line = atomic_load_u16(&file->flags) & FILE_SINGLE_LINE;
    f32 line_height = font->line_height;
    f32 pixel_size = (f32)font->pixel_size;
    f32 view_height = bottom_right.y - top_left.y;
    u32 lines = editor_count_lines(file);

    // The line-number column.
    b8 line_numbers = (editor_settings.display_flags & DISPLAY_LINE_NUMBERS) && !single_line;
    f32 text_left = top_left.x, column_right = top_left.x;
    if (line_numbers) {
        u8 digits[16];
        String number = {digits, 0};
        write_into_string(&number, sizeof(digits), "%d", (int)lines);
        f32 width = get_text_advance(number.data, (u64)number.count, font, tab_width);
        column_right = ceilf(top_left.x + width + 0.2f * pixel_size);
        // Half a character between the column and the text, so a number never runs into it.
        text_left = column_right + ceilf(0.5f * pixel_size);
        f32 top = truncf(top_left.y), height = truncf(view_height);
        if (top + height >= 0 && top <= (f32)renderer_info.height) {
            View_Colours colours = choose_view_colours(file);
            draw_quad_scissored(v2{truncf(top_left.x), top}, v2{truncf(column_right - top_left.x), height},
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
    f32 bar_width = ui_screen_resolution.x * editor_settings.ui_theme.scroll_bar_size;
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
    View_Walk walk = {};
    walk.file = file;
    walk.font = font;
    walk.tab_width = tab_width;
    walk.line_height = line_height;
    walk.view_top_left = top_left;
    walk.view_bottom_right = bottom_right;
    walk.text_left = text_left;
    walk.text_right = text_right;
    u32 layout_capacity = visible_lines + 3;
    Line_Layout* layouts = (Line_Layout*)tmp_allocate_aligned(layout_capacity * sizeof(Line_Layout), alignof(Line_Layout));
    u32 laid_out = lay_out_visible_range(&walk, scrolled_past, visible_lines, layouts, layout_capacity);
    colour_visible_part(file, layouts, laid_out, walk.range_start, walk.range_end);
    // Colouring may not have changed the text, but keep to what is there now.
    if (file->text.data != walk.text || (s64)file->text.count != walk.count) {
        laid_out = lay_out_visible_range(&walk, scrolled_past, visible_lines, layouts, layout_capacity);
    }

    // A drag ends when the button is up, wherever the mouse is.
    flags = atomic_load_u16(&file->flags);
    b8 selecting = flags & FILE_SELECTION_ACTIVE;
    if (!(ui_flags & UI_LEFT_BUTTON_HELD) && (flags & FILE_MOUSE_SELECTING)) {
        atomic_and_u16(&file->flags, (u16)~FILE_MOUSE_SELECTING);
        if (*file->selection_start == *file->selection_end) atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    }

    walk.selection_start = selecting ? *file->selection_start : 0;
    walk.selection_end = selecting ? *file->selection_end : 0;
    walk.mouse_enabled = !(editor_settings.display_flags & DISPLAY_NO_MOUSE_IN_TEXT);
    walk.mouse = mouse;
    walk.colours = colours;
    walk.bands = (Selection_Band*)tmp_allocate_aligned((u64)layout_capacity * sizeof(Selection_Band), alignof(Selection_Band));
    f32 first_line_top = top_left.y - file->scroll_y + (f32)scrolled_past * line_height;
    if (layouts) walk_visible_lines(&walk, layouts, laid_out, first_line_top);

    // Line numbers, right-aligned on the column's edge.
    if (line_numbers) {
        v2 column_bottom_right = {column_right, bottom_right.y};
        for (u32 i = 0; i < walk.drawn_lines; i++) {
            u8 digits[16];
            String number = {digits, 0};
            write_into_string(&number, sizeof(digits), "%u", scrolled_past + 1 + i);
            draw_text_scissored(number.data, (u64)number.count, font, DRAW_TEXT_RIGHT_OF_ADVANCE, column_right - 0.2f * pixel_size,
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
