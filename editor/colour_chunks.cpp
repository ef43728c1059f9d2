// Colouring ranges into sorted chunks, the nearest-chunk search, and the walk the view
// takes through the chunks while it draws.

#include "editor/colour_chunks.h"

#include <string.h>

static inline u64 distance_between(s64 a, s64 b) { return a > b ? (u64)(a - b) : (u64)(b - a); }

static inline s64 get_chunk_end(Colour_Chunk* chunk) { return chunk->offset + chunk->length; }

// A bisection while 8 or more chunks remain, then a scan; ties keep the earlier chunk.
static s64 find_nearest_chunk(Colour_Chunk* chunks, u32 count, s64 offset) {
    if (count == 0) return -1;
    u32 low = 0, high = count;
    while (high - low >= 8) {
        u32 middle = low + (high - low) / 2;
        if (distance_between(offset, chunks[middle - 1].offset) >= distance_between(offset, chunks[middle].offset)) low = middle;
        else high = middle;
    }
    u32 best = 0;
    for (u32 i = low; i < high; i++) {
        if (distance_between(offset, chunks[i].offset) < distance_between(offset, chunks[best].offset)) best = i;
    }
    return best;
}

s64 get_colour_chunk_closest_to_offset(Editor_File* file, s64 offset) {
    return find_nearest_chunk((Colour_Chunk*)file->colour_chunks.data, file->colour_chunks.count, offset);
}

// Text the layer left plain between two chunks stays plain unless it is only blanks and
// line breaks, which show no colour anyway.
static b8 gap_is_blank(u8* text, s64 start, s64 end) {
    for (s64 i = start; i < end; i++) {
        u8 c = text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    }
    return true;
}

// The colour's place in the palette, appended when new; -1 when the palette is full.
static s32 get_palette_index(Editor_File* file, Rgba colour) {
    Rgba* palette = (Rgba*)file->palette.data;
    for (u32 i = 0; i < file->palette.count; i++) {
        if (memcmp(&palette[i], &colour, sizeof(Rgba)) == 0) return (s32)i;
    }
    if (file->palette.count > 0xFFFF) return -1;  // chunks hold a u16 index
    Rgba* added = (Rgba*)dynamic_array_add_fast(&file->palette);
    if (!added) return -1;
    *added = colour;
    return (s32)file->palette.count - 1;
}

void editor_set_text_colour(Editor_File* file, s64 offset, u32 length, Rgba colour) {
    file = editor_file_or_current(file);
    if (!file) return;
    s64 count = file->text.count;
    if (offset < 0 || offset >= count) return;
    if ((s64)length > count - offset) length = (u32)(count - offset);
    if (length == 0) return;
    s32 index = get_palette_index(file, colour);
    if (index < 0) return;

    Colour_Chunk* chunks = (Colour_Chunk*)file->colour_chunks.data;
    u32 chunk_count = file->colour_chunks.count;
    if (chunk_count) {
        // A #syntax pass colours in text order, so most calls end here.
        Colour_Chunk* last = &chunks[chunk_count - 1];
        s64 last_end = get_chunk_end(last);
        if (last_end <= offset && last->palette_index == index && gap_is_blank(file->text.data, last_end, offset)) {
            last->length = (u32)(offset + length - last->offset);
            return;
        }
    }
    s64 nearest = find_nearest_chunk(chunks, chunk_count, offset);
    u32 position = 0;
    if (nearest >= 0) {
        if (chunks[nearest].offset == offset && chunks[nearest].length == length) return;
        position = (u32)nearest + (chunks[nearest].offset < offset ? 1 : 0);
    }
    Colour_Chunk* chunk = (Colour_Chunk*)dynamic_array_insert(&file->colour_chunks, position);
    if (!chunk) return;
    chunk->offset = offset;
    chunk->length = length;
    chunk->palette_index = (u16)index;
}

//~ The view's walk

void start_colour_walk(Colour_Walk* walk, Editor_File* file, s64 range_start) {
    walk->chunks = (Colour_Chunk*)file->colour_chunks.data;
    walk->count = file->colour_chunks.count;
    walk->palette_index = -1;
    walk->until = range_start;  // the first octet chooses
    s64 i = find_nearest_chunk(walk->chunks, walk->count, range_start);
    if (i < 0) {
        walk->next = 0;
        return;
    }
    // An earlier chunk may still run over the start.
    while (i > 0 && get_chunk_end(&walk->chunks[i - 1]) > range_start) i--;
    walk->next = (u32)i;
}

s32 get_colour_at(Colour_Walk* walk, s64 offset) {
    if (offset < walk->until) return walk->palette_index;
    // Chunks that end here or before are behind the walk, also when they overlapped the
    // chunk just left; one that began earlier and still runs counts from here.
    while (walk->next < walk->count && get_chunk_end(&walk->chunks[walk->next]) <= offset) walk->next++;
    if (walk->next == walk->count) {
        walk->palette_index = -1;
        walk->until = INT64_MAX;
    } else if (walk->chunks[walk->next].offset <= offset) {
        walk->palette_index = walk->chunks[walk->next].palette_index;
        walk->until = get_chunk_end(&walk->chunks[walk->next]);
        walk->next++;
    } else {
        walk->palette_index = -1;
        walk->until = walk->chunks[walk->next].offset;
    }
    return walk->palette_index;
}
