// The line and selection transform routines of the layer: they rewrite text rather than
// insert or delete it (swapping two lines, re-indenting and aligning the selected lines,
// changing the case of the selection), each recording the old text so one undo restores it.
#pragma once

#include "runtime/routines_cursor.h"

//~ Parameter blocks

struct Swap_Lines_Parameters {
    u8 up;  // zero: with the line below
};
static_assert(offsetof(Swap_Lines_Parameters, up) == 0);

struct Change_Selection_Case_Parameters {
    u8 to_lower;  // zero: to upper case
};
static_assert(offsetof(Change_Selection_Case_Parameters, to_lower) == 0);

//~ routines_transforms.cpp

void foreign_swap_lines(u8* parameters);
// Layer file, not a one-line input. Exchanges the cursor's line with the one above or
// below, keeping the line break between them; the cursor moves with its line.

void foreign_pad_selection(u8* parameters);
// Current file, not a one-line input. Re-indents the selected lines: the first to the
// indentation its enclosing bracket or the line before it asks for, the others keeping
// their depth relative to the first. One replacement record; the selection ends and the
// cursor keeps its place after its line's indentation.

void foreign_align_selection_on_token_at_cursor(u8* parameters);  // layer file

void foreign_change_selection_case(u8* parameters);
// Current file. ASCII letters of the selection, or of the token at the cursor when nothing
// is selected, to upper or lower case; other octets stay. One in-place record.

void change_ascii_case(u8* data, s64 length, b8 to_lower);
// The letter step of change_selection_case, 32 octets at a time.
