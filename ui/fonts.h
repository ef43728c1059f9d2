// Fonts at run-time pixel sizes and the glyph cache. A Font_Pool is one logical font at one
// pixel size: up to 8 code-point ranges, each served by a Font and holding the glyphs of
// that range rasterised so far. Every glyph of every pool lives in the renderer's one
// square texture, packed in shelves and never evicted one by one. The texture starts at
// FONT_MAP_FIRST_SIDE and doubles its side, keeping what it holds, each time it is full,
// up to FONT_MAP_MAX_SIDE.
#pragma once

#include "foundation/memory.h"
#include "foundation/strings.h"
#include "foundation/types.h"
#include "ui/vectors.h"

#include <stb/stb_truetype.h>

#define FONT_MAP_FIRST_SIDE 1024
#define FONT_MAP_MAX_SIDE 8192
#define MAX_FONT_RANGES 8
#define NUM_GLYPHS_PER_BUCKET 256
#define NUM_GLYPH_BUCKETS_PER_PAGE 32
#define FONT_NAME_CAPACITY 64

// The custom layer's font size is measured against a screen this many units high.
#define MIN_FONT_SIZE 13.5f
#define FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT 1000.0f

struct Font {
    stbtt_fontinfo info;  // points into the font's octets, which must outlive every copy
    f32 scale;            // for the pixel size of the range that holds the copy
    f32 ascent;           // font units, from the horizontal header
    f32 descent;          // font units, negative below the baseline
    f32 line_gap;
    f32 bounding_box_width;  // font units, xMax - xMin of the head table
    char name[FONT_NAME_CAPACITY];  // NUL-terminated, cut when longer
};

struct File_Font {
    b8 in_use;
    Gp_Allocation data;  // the file's octets, then the path's
    String path;         // inside data
    Font font;
};

struct Glyph {
    Glyph* next;       // the bucket array's link
    u32 code_point;
    u32 glyph_index;   // in the font
    f32 left_bearing;  // pixels
    f32 y_offset;      // pixels from the baseline to the box's top (negative above it)
    f32 width;
    f32 height;
    f32 advance;
    u32 x;             // texels in the font map, y downwards
    u32 y;
    v4 texture_coords; // x0, y0, x1, y1 as fractions of the font map's side
};
static_assert(sizeof(Glyph) == 64);  // the glyph pool's element size

struct Font_Range {
    u32 first;
    u32 last;
    u32 difference;
    f32 scale;
    f32 ascent;  // pixels
    Font font;
    Bucket_Array glyphs;  // of Glyph, on glyphs_pool
};

struct Font_Pool {
    u32 pixel_size;
    // Maxima over the ranges, in pixels; descent is the depth below the baseline.
    f32 line_height;
    f32 ascent;
    f32 descent;
    u8 range_count;
    Font_Range ranges[MAX_FONT_RANGES];
};

struct Glyph_Packer {
    u32 x;
    u32 row_y;
    u32 row_height;  // grows to the tallest glyph placed, so rows never overlap
    u32 generation;  // counts restarts and flushes: every Glyph* handed out before is stale
    u32 side;        // of the font map now, in texels
};

// A range the custom layer asks for: "$ui_default" and "$code_default" name the built-in
// fonts, any other path a font file (relative paths from the executable's directory).
struct Font_Range_Request {
    u32 first;
    u32 last;
    String font_path;
};

extern Memory_Pool glyphs_pool;
extern Glyph_Packer glyph_packer;
extern Font_Pool ui_font_pool;
extern Font_Pool code_font_pool;
extern Font_Pool icons_font_pool;
extern Font ui_latin_font;
extern Font code_latin_font;
extern Font icons_font;
extern Dynamic_Array file_fonts;  // of File_Font
extern u32 font_metrics_version;  // changes whenever a pool's ranges, sizes or scales may change

//~ fonts.cpp

void init_glyphs_pool(void* first_page);
// Sets up glyphs_pool with its first page of GLYPHS_PAGE_MEMORY octets; later pages are mapped.

b8 init_font(Font* font, u8* data, u64 size, u8* name, u64 name_count);
// Initialises from TrueType octets in memory (font offset 0). The octets are not copied and
// must outlive the font and every range made from it. False, logged, when they are not a
// font whose tables lie inside size.

b8 init_font_from_executable(Font* font, u8* name, u64 name_count);
// Initialises from the asset archive's entry of that name, which lives for the process.
// False, logged, when the entry is missing or not a font.

s64 get_or_add_file_font(u8* path, u64 count);
// Index into file_fonts of the font read from path, loading it on first use; -1, logged,
// on failure.

void free_file_font(File_Font* f);
// Removes every range of the three global pools that uses the font, then frees its octets.

void init_font_pool(Font_Pool* pool, u32 pixel_size);  // clears the pool, keeping nothing

u8 add_range_to_pool(Font_Pool* pool, Font* font, u32 first, u32 last);
// Appends a range served by a copy of font and raises the pool's line metrics. Returns the
// new range count, or the old one when all MAX_FONT_RANGES are used.

void reset_font_range(Font_Range* range, u32 pixel_size);
// Empties the glyph list (its buckets are kept) and rescales the range.
void reset_font_pool(Font_Pool* pool, u32 pixel_size);
void font_pool_remove_ranges(Font_Pool* pool);

void resize_fonts(f32 ui_pixels, f32 code_pixels, f32 icon_pixels);
// Rescales the three global pools and restarts the packer; glyphs are rasterised again on
// their next use.

f32 handle_screen_resolution_change(f32 layer_font_size, s32 video_mode_height);
// Rescales the three pools for a monitor of that video-mode height: the size is at least
// MIN_FONT_SIZE, the pixel size size / FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT x height.
// Returns the clamped size, which the caller stores back in the custom layer record. The
// caller holds the layer's execution lock and marks every file tab for centring under
// tabs_read_lock: those records belong to the runtime and the shell.

b8 maybe_set_new_font_pool(Font_Pool* pool, Font_Range_Request* requests, u32 count);
// Gives the pool one range per request, unless it already has exactly these ranges and
// fonts. A font that cannot be loaded leaves the pool as it was and returns false.

//~ glyph_cache.cpp

Glyph* get_or_add_glyph(Font_Pool* pool, u32 code_point, Font_Range* preferred, Font_Range** out_range);
// The glyph of code_point, rasterised and packed on first use; null when no range covers
// it. out_range receives the range that served it. The pointer stays valid until the pool
// is reset or glyph_packer.generation changes.

void restart_glyph_packer(u32 row_height);
// Starts packing again at the top-left corner (the font map's texels stay until new glyphs
// replace them). Glyph lists are not touched: the caller empties them.

b8 pack_glyph(u32 width, u32 height, u8* bitmap, u32* out_x, u32* out_y);
// Places a bitmap in the font map and uploads it. False when the map has no room left.

b8 grow_font_map(Font_Pool* requesting);
// Doubles the map's side, keeping every glyph where it was in texels; the texture
// coordinates of the glyphs of the three global pools and of requesting follow. False at
// FONT_MAP_MAX_SIDE or when the larger texture cannot be made.
