// Colour chunks: the ranges of a file's text that the layer's #syntax block coloured, each
// an index into the file's palette, kept sorted by offset. The view walks them alongside
// the text to give every character its colour.
#pragma once

#include "foundation/types.h"
#include "editor/editor_file.h"
#include "ui/vectors.h"

//~ colour_chunks.cpp

void editor_set_text_colour(Editor_File* file, s64 offset, u32 length, Rgba colour);
// Gives the range a colour (null file: current_file). Nothing for an offset outside the
// text; the length is cut to the text's end. A range that already has a chunk of exactly
// its extent keeps its first colour. The last chunk is stretched instead of adding one
// when it has the same colour and only blanks and line breaks lie between the two.

s64 get_colour_chunk_closest_to_offset(Editor_File* file, s64 offset);
// Index of the chunk whose start is nearest to the offset (the earlier one on a tie); -1
// when there are none.

// The view's walk through the chunks. Overlapping chunks or chunks that end before the
// walk's start never make it drop the chunks that follow.
struct Colour_Walk {
    Colour_Chunk* chunks;
    u32 count;
    u32 next;          // the chunk to look at once the current colour ends
    s64 until;         // the current colour holds up to here
    s32 palette_index; // -1: the text colour
};

void start_colour_walk(Colour_Walk* walk, Editor_File* file, s64 range_start);

s32 get_colour_at(Colour_Walk* walk, s64 offset);
// The palette index of the octet at offset, -1 for the text colour. Offsets must not go
// down between calls.
