// What a text keeps so that drawing it costs what the view shows, not what the text holds:
// where its lines break, counted per stretch of the text and kept up to date by every
// insertion and removal; points from which the lexer's syntax state resumes; and pen
// positions along the one line that was last measured (the cursor's). Edits report here.
// A text replaced whole is forgotten; one whose length changed behind the index's back is
// indexed again when next asked, so a missed report costs time, never a wrong answer about
// a length. Main thread only, like the editing primitives.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"

struct Editor_File;
struct Font_Pool;
struct Tokenisation_Hint;

#define LINE_INDEX_STRETCH     65536  // octets per stretch as a text is indexed
#define LINE_INDEX_MIN_TEXT    65536  // shorter texts are counted directly, which is as fast
#define SYNTAX_RESUME_INTERVAL 16384  // octets of lexing between two resume points
#define PEN_POINT_INTERVAL     4096   // octets of a line between two pen points

struct Line_Stretch {
    u32 length;
    u32 breaks;  // breaks that start in the stretch
};

struct Syntax_Resume_Point {
    s64 at;     // where a token of a lex from the text's start ends
    u32 depth;  // block comments open there
    u32 padding;
};

// The pen on a line as the file view moves it: before the character at offset, after the
// advances and the kerning of every character before it. Sums of f32 values in f64 are
// exact at any length a line can have, so they do not depend on where a sum began.
struct Pen_Point {
    s64 offset;
    s64 previous;  // where the character before it begins (the offset itself at a line's start)
    f64 advances;
    f64 kerning;
};

struct View_Index {
    Gp_Allocation storage;  // of this record
    s64 known_count;        // the text's length as the last report or question left it
    Dynamic_Array stretches;  // Line_Stretch, in text order, covering the text whole
    u64 breaks;
    s64 indexed_count;        // the text's length the stretches add up to
    b8 lines_indexed;

    s64 syntax_asked_start;  // the part of a long line the view last had coloured (-1: whole lines)
    s64 syntax_asked_end;

    Dynamic_Array resume_points;  // Syntax_Resume_Point, ascending
    Tokenisation_Hint* resume_hint;
    u32 resume_hints_version;

    Dynamic_Array pen_points;  // Pen_Point of one line, ascending, the first at its start
    s64 pen_line_start;
    Font_Pool* pen_font;
    u32 pen_font_version;
    u8 pen_tab_width;
};

//~ view_index.cpp: reports of edits

void view_index_note_insertion(Editor_File* file, s64 offset, s64 count);  // after the octets went in
void view_index_note_removal(Editor_File* file, s64 offset, s64 count);    // after they went out
void view_index_note_change(Editor_File* file, s64 offset);
// Octets from offset on were rewritten in place (their line breaks stay where they were).
void view_index_forget(Editor_File* file);  // the text was replaced whole
void view_index_free(Editor_File* file);    // the record closes

//~ view_index.cpp: lines

u32 editor_count_lines(Editor_File* file);          // 1 + the breaks of the text
u32 view_index_line_at_offset(Editor_File* file, s64 offset);  // as get_line_at_offset
s64 view_index_offset_at_line(Editor_File* file, u32 line);    // as get_offset_at_line

//~ view_index.cpp: syntax resume points

Syntax_Resume_Point view_index_get_resume_point(Editor_File* file, Tokenisation_Hint* hint, s64 start);
// The last point at or before start (the text's start, depth 0, when there is none).
void view_index_add_resume_point(Editor_File* file, s64 at, u32 depth);
// Kept when it lies SYNTAX_RESUME_INTERVAL past the last point.
