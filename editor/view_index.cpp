// The view's index of a text: line breaks per stretch, syntax resume points and pen points
// along one line, each kept as edits report where they changed the text.

#include "editor/view_index.h"
#include "editor/pen_walk.h"
#include "editor/editor_file.h"
#include "editor/lines.h"
#include "editor/tokenisation_hints.h"

#include <string.h>

// The record's index, made on the first question; null when no memory is left, and then
// every answer is worked out from the text directly.
static View_Index* get_view_index(Editor_File* file) {
    if (file->view_index) return file->view_index;
    Gp_Allocation storage;
    if (!gp_allocate(&storage, sizeof(View_Index))) return nullptr;
    View_Index* v = (View_Index*)storage.memory;
    *v = View_Index{};
    v->storage = storage;
    init_dynamic_array(&v->stretches, sizeof(Line_Stretch));
    init_dynamic_array(&v->resume_points, sizeof(Syntax_Resume_Point));
    init_dynamic_array(&v->pen_points, sizeof(Pen_Point));
    v->pen_line_start = -1;
    v->syntax_asked_start = -1;
    v->syntax_asked_end = -1;
    v->known_count = file->text.count;
    file->view_index = v;
    return v;
}

// The index as it may answer now: a text whose length changed with no report (an input
// line emptied in place) keeps no resume or pen points.
static View_Index* get_current_view_index(Editor_File* file) {
    View_Index* v = get_view_index(file);
    if (v && v->known_count != (s64)file->text.count) {
        v->resume_points.count = 0;
        v->pen_points.count = 0;
        v->known_count = file->text.count;
    }
    return v;
}

//~ Line breaks

static Line_Stretch* get_stretches(View_Index* v) { return (Line_Stretch*)v->stretches.data; }

static void forget_lines(View_Index* v) {
    v->lines_indexed = false;
    v->stretches.count = 0;
    v->breaks = 0;
    v->indexed_count = 0;
}

// Stretches of at most LINE_INDEX_STRETCH octets from start to end, inserted at index at.
static b8 insert_stretches(View_Index* v, u8* text, u32 at, s64 start, s64 end) {
    u32 pieces = (u32)((end - start + LINE_INDEX_STRETCH - 1) / LINE_INDEX_STRETCH);
    u32 old_count = v->stretches.count;
    if (pieces == 0) return true;
    if (!dynamic_array_add_fast_multiple(&v->stretches, pieces)) return false;
    Line_Stretch* s = get_stretches(v);
    memmove(s + at + pieces, s + at, (old_count - at) * sizeof(Line_Stretch));
    for (u32 i = 0; i < pieces; i++) {
        s64 piece_start = start + (s64)i * LINE_INDEX_STRETCH;
        s64 piece_end = piece_start + LINE_INDEX_STRETCH < end ? piece_start + LINE_INDEX_STRETCH : end;
        s[at + i].length = (u32)(piece_end - piece_start);
        s[at + i].breaks = (u32)count_breaks_between(text, piece_start, piece_end);
        v->breaks += s[at + i].breaks;
    }
    return true;
}

static void remove_stretch(View_Index* v, u32 index) {
    Line_Stretch* s = get_stretches(v);
    v->breaks -= s[index].breaks;
    memmove(s + index, s + index + 1, (v->stretches.count - index - 1) * sizeof(Line_Stretch));
    v->stretches.count--;
}

// Counts a text whole. Small texts are not indexed: counting them is as fast as asking.
static b8 index_lines(Editor_File* file, View_Index* v) {
    forget_lines(v);
    if (file->text.count < LINE_INDEX_MIN_TEXT) return false;
    if (!insert_stretches(v, file->text.data, 0, 0, file->text.count)) {
        forget_lines(v);
        return false;
    }
    v->indexed_count = file->text.count;
    v->lines_indexed = true;
    return true;
}

// The index when its lines are counted (or could be now); null for a short text.
static View_Index* get_line_index(Editor_File* file) {
    if (file->text.count < LINE_INDEX_MIN_TEXT) return nullptr;
    View_Index* v = get_view_index(file);
    if (!v) return nullptr;
    if (v->lines_indexed && v->indexed_count == (s64)file->text.count) return v;
    return index_lines(file, v) ? v : nullptr;
}

// The stretch that holds the octet at offset (the last one for the text's end), its start
// and the breaks before it.
struct Stretch_Place {
    u32 index;
    s64 start;
    u64 breaks_before;
};

static Stretch_Place find_stretch(View_Index* v, s64 offset) {
    Line_Stretch* s = get_stretches(v);
    Stretch_Place p = {0, 0, 0};
    u32 last = v->stretches.count - 1;
    while (p.index < last && p.start + s[p.index].length <= offset) {
        p.start += s[p.index].length;
        p.breaks_before += s[p.index].breaks;
        p.index++;
    }
    return p;
}

// The stretch is counted again, and cut into pieces when edits made it long. Whether the
// octet at its start is a break depends on the octet before it, which edits may change.
static void recount_stretch(View_Index* v, u8* text, Stretch_Place p) {
    Line_Stretch* s = get_stretches(v);
    u32 length = s[p.index].length;
    if (length > 2 * LINE_INDEX_STRETCH) {
        remove_stretch(v, p.index);
        if (!insert_stretches(v, text, p.index, p.start, p.start + length)) forget_lines(v);
        return;
    }
    u32 breaks = (u32)count_breaks_between(text, p.start, p.start + length);
    v->breaks += breaks;
    v->breaks -= s[p.index].breaks;
    s[p.index].breaks = breaks;
}

// Where octets now meet anew: the octet at `at` has another one before it. The stretch
// that holds it is counted again, and the one before too when `at` begins a stretch.
static void recount_at_join(View_Index* v, u8* text, s64 at) {
    Stretch_Place p = find_stretch(v, at);
    b8 begins = p.start == at && p.index > 0;
    Line_Stretch* s = get_stretches(v);
    Stretch_Place before = {0, 0, 0};
    if (begins) before = Stretch_Place{p.index - 1, p.start - s[p.index - 1].length, p.breaks_before - s[p.index - 1].breaks};
    recount_stretch(v, text, p);  // a cut moves only the stretches from p on
    if (begins && v->lines_indexed) recount_stretch(v, text, before);
}

static void note_lines_insertion(Editor_File* file, View_Index* v, s64 offset, s64 count) {
    if (!v->lines_indexed) return;
    if (v->indexed_count + count != (s64)file->text.count || !v->stretches.count) {
        forget_lines(v);
        return;
    }
    // The stretch that holds offset (or begins there) takes the octets; counting it again
    // covers them and the octet after them, whose neighbour before is new.
    Stretch_Place p = find_stretch(v, offset);
    get_stretches(v)[p.index].length += (u32)count;
    v->indexed_count += count;
    recount_stretch(v, file->text.data, p);
}

static void note_lines_removal(Editor_File* file, View_Index* v, s64 offset, s64 count) {
    if (!v->lines_indexed) return;
    if (v->indexed_count - count != (s64)file->text.count || !v->stretches.count) {
        forget_lines(v);
        return;
    }
    // Shrink the stretches the removed octets lay in, dropping those left empty. The first
    // loses its end, the last its start; both are counted again below.
    Stretch_Place p = find_stretch(v, offset);
    s64 left = count;
    u32 i = p.index;
    s64 start = p.start;
    while (left > 0 && i < v->stretches.count) {
        Line_Stretch* s = get_stretches(v);
        s64 from = offset > start ? offset : start;
        s64 end = start + s[i].length;
        s64 taken = end - from < left ? end - from : left;
        s[i].length -= (u32)taken;
        left -= taken;
        if (s[i].length == 0) {
            remove_stretch(v, i);
        } else {
            start += s[i].length;
            i++;
        }
    }
    v->indexed_count -= count;
    if (!v->stretches.count || (s64)file->text.count == 0) {
        forget_lines(v);
        return;
    }
    // A stretch left short joins the one after it, so removals never leave many tiny ones.
    Stretch_Place at = find_stretch(v, offset);
    Line_Stretch* s = get_stretches(v);
    if (s[at.index].length < LINE_INDEX_STRETCH / 4 && at.index + 1 < v->stretches.count &&
        s[at.index].length + s[at.index + 1].length <= 2 * LINE_INDEX_STRETCH) {
        s[at.index].length += s[at.index + 1].length;
        s[at.index].breaks += s[at.index + 1].breaks;
        v->breaks += s[at.index + 1].breaks;  // remove_stretch takes them off again
        remove_stretch(v, at.index + 1);
    }
    // At the text's end only the stretch that lost its end is left to count.
    s64 count_now = file->text.count;
    recount_at_join(v, file->text.data, offset < count_now ? offset : count_now - 1);
}

u32 editor_count_lines(Editor_File* file) {
    View_Index* v = get_line_index(file);
    if (!v) return count_lines_in(file->text.data, file->text.count);
    return 1 + (u32)v->breaks;
}

u32 view_index_line_at_offset(Editor_File* file, s64 offset) {
    s64 count = file->text.count;
    if (offset > count) offset = count;
    if (offset < 0) offset = 0;
    View_Index* v = get_line_index(file);
    if (!v) return get_line_at_offset(file->text.data, count, offset);
    Stretch_Place p = find_stretch(v, offset);
    return 1 + (u32)(p.breaks_before + count_breaks_between(file->text.data, p.start, offset));
}

s64 view_index_offset_at_line(Editor_File* file, u32 line) {
    s64 count = file->text.count;
    if (line == 0) return count;
    if (line == 1) return 0;
    View_Index* v = get_line_index(file);
    if (!v) return get_offset_at_line(file->text.data, count, line);
    u64 wanted = line - 1;
    if (wanted > v->breaks) return count;
    Line_Stretch* s = get_stretches(v);
    s64 start = 0;
    u64 before = 0;
    for (u32 i = 0; i < v->stretches.count; i++) {
        if (before + s[i].breaks >= wanted) break;
        before += s[i].breaks;
        start += s[i].length;
    }
    return get_offset_after_breaks(file->text.data, count, start, wanted - before);
}

//~ Syntax resume points

// A token ending at a resume point was told from the octets after it by looking a few
// ahead: as far as the longest operator or hint text.
static s64 get_resume_lookahead(View_Index* v) {
    s64 longest = 4;
    if (v->resume_hint && v->resume_hints_version == tokenisation_hints_version) {
        Tokenisation_Hint* h = v->resume_hint;
        if (h->line_comment.count > longest) longest = h->line_comment.count;
        if (h->block_start.count > longest) longest = h->block_start.count;
        if (h->block_end.count > longest) longest = h->block_end.count;
    }
    return longest + 1;
}

static void drop_resume_points_after(View_Index* v, s64 offset) {
    s64 lookahead = get_resume_lookahead(v);
    Syntax_Resume_Point* points = (Syntax_Resume_Point*)v->resume_points.data;
    while (v->resume_points.count && points[v->resume_points.count - 1].at + lookahead > offset) v->resume_points.count--;
}

Syntax_Resume_Point view_index_get_resume_point(Editor_File* file, Tokenisation_Hint* hint, s64 start) {
    View_Index* v = get_current_view_index(file);
    if (!v) return Syntax_Resume_Point{0, 0, 0};
    if (v->resume_hint != hint || v->resume_hints_version != tokenisation_hints_version) {
        v->resume_points.count = 0;
        v->resume_hint = hint;
        v->resume_hints_version = tokenisation_hints_version;
    }
    Syntax_Resume_Point* points = (Syntax_Resume_Point*)v->resume_points.data;
    u32 low = 0, high = v->resume_points.count;
    while (low < high) {
        u32 middle = (low + high) / 2;
        if (points[middle].at <= start) low = middle + 1;
        else high = middle;
    }
    if (low == 0) return Syntax_Resume_Point{0, 0, 0};
    return points[low - 1];
}

void view_index_add_resume_point(Editor_File* file, s64 at, u32 depth) {
    View_Index* v = file->view_index;
    if (!v) return;
    Syntax_Resume_Point* points = (Syntax_Resume_Point*)v->resume_points.data;
    s64 last = v->resume_points.count ? points[v->resume_points.count - 1].at : 0;
    if (at - last < SYNTAX_RESUME_INTERVAL) return;
    Syntax_Resume_Point* added = (Syntax_Resume_Point*)dynamic_array_add_fast(&v->resume_points);
    if (added) *added = Syntax_Resume_Point{at, depth, 0};
}

//~ Pen points

static void drop_pen_points_after(View_Index* v, s64 offset) {
    if (offset < v->pen_line_start) {
        v->pen_points.count = 0;
        return;
    }
    Pen_Point* points = (Pen_Point*)v->pen_points.data;
    while (v->pen_points.count && points[v->pen_points.count - 1].offset > offset) v->pen_points.count--;
}

// The points of this line under this font, or a fresh list with only the line's start.
static Pen_Point* get_pen_points(Editor_File* file, Font_Pool* font, u8 tab_width, s64 line_start) {
    View_Index* v = get_current_view_index(file);
    if (!v) return nullptr;
    b8 same = v->pen_line_start == line_start && v->pen_font == font && v->pen_font_version == font_metrics_version &&
              v->pen_tab_width == tab_width && v->pen_points.count > 0;
    if (!same) {
        v->pen_points.count = 0;
        v->pen_line_start = line_start;
        v->pen_font = font;
        v->pen_font_version = font_metrics_version;
        v->pen_tab_width = tab_width;
        Pen_Point* first = (Pen_Point*)dynamic_array_add_fast(&v->pen_points);
        if (!first) return nullptr;
        *first = Pen_Point{line_start, line_start, 0, 0};
    }
    return (Pen_Point*)v->pen_points.data;
}

// The last point at or before offset.
static u32 find_pen_point(View_Index* v, s64 offset) {
    Pen_Point* points = (Pen_Point*)v->pen_points.data;
    u32 low = 0, high = v->pen_points.count;
    while (low < high) {
        u32 middle = (low + high) / 2;
        if (points[middle].offset <= offset) low = middle + 1;
        else high = middle;
    }
    return low ? low - 1 : 0;
}

void start_pen_walk(Pen_Walk* w, u8* text, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end, Pen_Point from) {
    w->text = text;
    w->line_start = line_start;
    w->at = from;
    w->previous_advance = 0;
    init_text_iterator(&w->it, text + from.offset, 0, font, tab_width);
    if (from.offset > line_start) {
        // The character before sets what the next one's kerning is measured against.
        text_iterator_update_text(&w->it, text + from.previous, (u64)(from.offset - from.previous));
        text_iterator_get_next(&w->it);
        w->previous_advance = w->it.advance;
    }
    text_iterator_update_text(&w->it, text + from.offset, (u64)(line_end - from.offset));
}

b8 pen_walk_step(Pen_Walk* w) {
    if (!text_iterator_get_next(&w->it)) return false;
    w->character = w->at;
    if (w->at.offset > w->line_start) w->character.kerning += w->it.kerning;
    w->at.previous = w->at.offset;
    w->at.offset = w->it.next - w->text;
    w->at.advances = w->character.advances + w->it.advance;
    w->at.kerning = w->character.kerning;
    return true;
}

Pen_Point get_pen_point(Editor_File* file, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end, s64 offset) {
    Pen_Point* points = get_pen_points(file, font, tab_width, line_start);
    View_Index* v = file->view_index;
    if (!points) {
        // Without memory for points the pen is measured from the line's start.
        Pen_Walk w;
        start_pen_walk(&w, file->text.data, font, tab_width, line_start, line_end, Pen_Point{line_start, line_start, 0, 0});
        Pen_Point last = w.at;
        while (pen_walk_step(&w) && w.at.offset <= offset) last = w.at;
        return last;
    }
    u32 index = find_pen_point(v, offset);
    Pen_Point from = points[index];
    if (from.offset == offset) return from;
    b8 extending = index == v->pen_points.count - 1;
    Pen_Walk w;
    start_pen_walk(&w, file->text.data, font, tab_width, line_start, line_end, from);
    Pen_Point last = from;
    s64 last_kept = from.offset;
    while (pen_walk_step(&w) && w.at.offset <= offset) {
        last = w.at;
        if (extending && last.offset - last_kept >= PEN_POINT_INTERVAL) {
            Pen_Point* added = (Pen_Point*)dynamic_array_add_fast(&v->pen_points);
            if (added) *added = last;
            last_kept = last.offset;
        }
    }
    return last;
}

Pen_Point find_pen_point_before(Editor_File* file, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end,
                                s64 limit, f64 pen) {
    Pen_Point* points = get_pen_points(file, font, tab_width, line_start);
    if (!points) return Pen_Point{line_start, line_start, 0, 0};
    View_Index* v = file->view_index;
    // The pen grows along the line (kerning never undoes an advance), so the points are
    // searched as sorted by it.
    u32 low = 0, high = find_pen_point(v, limit) + 1;
    while (low < high) {
        u32 middle = (low + high) / 2;
        if (points[middle].advances + points[middle].kerning <= pen) low = middle + 1;
        else high = middle;
    }
    Pen_Point found = points[low ? low - 1 : 0];
    Pen_Walk w;
    start_pen_walk(&w, file->text.data, font, tab_width, line_start, line_end, found);
    while (pen_walk_step(&w) && w.at.offset <= limit && w.at.advances + w.at.kerning <= pen) found = w.at;
    return found;
}

//~ Reports of edits

void view_index_note_insertion(Editor_File* file, s64 offset, s64 count) {
    View_Index* v = file->view_index;
    if (!v) return;
    note_lines_insertion(file, v, offset, count);
    drop_resume_points_after(v, offset);
    drop_pen_points_after(v, offset);
    v->known_count = file->text.count;
}

void view_index_note_removal(Editor_File* file, s64 offset, s64 count) {
    View_Index* v = file->view_index;
    if (!v) return;
    note_lines_removal(file, v, offset, count);
    drop_resume_points_after(v, offset);
    drop_pen_points_after(v, offset);
    v->known_count = file->text.count;
}

void view_index_note_change(Editor_File* file, s64 offset) {
    View_Index* v = file->view_index;
    if (!v) return;
    drop_resume_points_after(v, offset);
    drop_pen_points_after(v, offset);
}

void view_index_forget(Editor_File* file) {
    View_Index* v = file->view_index;
    if (!v) return;
    forget_lines(v);
    v->resume_points.count = 0;
    v->pen_points.count = 0;
    v->known_count = file->text.count;
}

void view_index_free(Editor_File* file) {
    View_Index* v = file->view_index;
    if (!v) return;
    dynamic_array_free(&v->stretches);
    dynamic_array_free(&v->resume_points);
    dynamic_array_free(&v->pen_points);
    Gp_Allocation storage = v->storage;
    gp_free(&storage);
    file->view_index = nullptr;
}
