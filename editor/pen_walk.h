// Pens along a line: where the file view's walk puts each character, and the pen points of
// the view index that let a walk begin in the middle of a long line.
#pragma once

#include "editor/view_index.h"
#include "ui/text.h"

// A walk along a line that moves the pen as the file view does.
struct Pen_Walk {
    Text_Iterator it;
    u8* text;
    s64 line_start;
    Pen_Point at;         // before the next character
    Pen_Point character;  // the character stepped over last, its kerning added: where it is drawn
    f32 previous_advance; // of the character before the walk's first
};

void start_pen_walk(Pen_Walk* w, u8* text, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end, Pen_Point from);
// A walk from a character boundary whose pen is known, to the line's end.
b8 pen_walk_step(Pen_Walk* w);
// Steps over one character (w->it holds its glyph and advance); false at the line's end.

Pen_Point get_pen_point(Editor_File* file, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end, s64 offset);
// The pen before the character at offset (a character boundary of the line, at most its
// end), measured from the nearest pen point before it.

Pen_Point find_pen_point_before(Editor_File* file, Font_Pool* font, u8 tab_width, s64 line_start, s64 line_end,
                                s64 limit, f64 pen);
// The last character boundary before limit whose pen (advances and kerning) is at most pen;
// the line's start when there is none.
