// The glyph cache: a glyph is looked up in its range's list, and on first use rasterised by
// stb_truetype and packed into the font map in shelves. When the map is full it grows to
// twice its side, keeping its glyphs; when it is full at its largest, every glyph list is
// emptied and packing starts again from the top, so glyphs are rasterised anew as they are
// drawn instead of landing outside the texture.

#include "ui/fonts.h"
#include "ui/renderer.h"
#include "ui/ui_state.h"

#include <math.h>
#include <string.h>

Glyph_Packer glyph_packer = {1, 1, 0, 0, FONT_MAP_FIRST_SIDE};

static Font_Range* find_range(Font_Pool* pool, u32 code_point, Font_Range* preferred) {
    // A preferred range from before a range was removed may lie past the pool's ranges.
    u64 at = (u64)preferred, first = (u64)pool->ranges;
    b8 in_pool = at >= first && at < (u64)(pool->ranges + pool->range_count);
    if (in_pool && code_point >= preferred->first && code_point <= preferred->last) return preferred;
    for (u32 i = 0; i < pool->range_count; i++) {
        Font_Range* range = &pool->ranges[i];
        if (code_point >= range->first && code_point <= range->last) return range;
    }
    return nullptr;
}

void restart_glyph_packer(u32 row_height) {
    glyph_packer.x = 1;
    glyph_packer.row_y = 1;
    glyph_packer.row_height = row_height;
    glyph_packer.generation++;
    // Old texels stay: each new glyph brings the frame of zeros filtering reads around it.
}

static void empty_glyph_lists(Font_Pool* pool) {
    for (u32 i = 0; i < pool->range_count; i++) bucket_array_reset(&pool->ranges[i].glyphs);
}

static void flush_font_map(Font_Pool* requesting) {
    Font_Pool* pools[] = {&ui_font_pool, &code_font_pool, &icons_font_pool};
    for (Font_Pool* pool : pools) empty_glyph_lists(pool);
    if (requesting != &ui_font_pool && requesting != &code_font_pool && requesting != &icons_font_pool) {
        empty_glyph_lists(requesting);
    }
    restart_glyph_packer(glyph_packer.row_height);
    // Quads of this frame laid out before the flush point at texels that are now cleared or
    // hold other glyphs: the frame after it must be drawn at once, not at the next event.
    ui_do_not_stop_after_current_frame();
}

b8 pack_glyph(u32 width, u32 height, u8* bitmap, u32* out_x, u32* out_y) {
    u32 side = glyph_packer.side;
    if (width + 2 > side) return false;
    if (side - glyph_packer.x < width + 2) {
        glyph_packer.row_y += glyph_packer.row_height + 1;
        glyph_packer.x = 1;
    }
    if (glyph_packer.row_y + height > side - 1) return false;

    *out_x = glyph_packer.x;
    *out_y = glyph_packer.row_y;
    glyph_packer.x += width + 1;
    if (height > glyph_packer.row_height) glyph_packer.row_height = height;
    if (width && height) renderer_upload_glyph_to_font_map(bitmap, width, height, *out_x, *out_y);
    return true;
}

static void place_glyph_coordinates(Glyph* g) {
    f32 side = (f32)glyph_packer.side;
    g->texture_coords = v4{(f32)g->x / side, (f32)g->y / side, ((f32)g->x + g->width) / side, ((f32)g->y + g->height) / side};
}

static void follow_font_map_side(Font_Pool* pool) {
    for (u32 i = 0; i < pool->range_count; i++) {
        Glyph* g = (Glyph*)pool->ranges[i].glyphs.first_element;
        for (u32 n = 0; n < pool->ranges[i].glyphs.count; n++, g = g->next) {
            // Glyphs without texels (blanks, or larger than any map) keep no place in it.
            if (g->x || g->y) place_glyph_coordinates(g);
        }
    }
}

b8 grow_font_map(Font_Pool* requesting) {
    u32 side = glyph_packer.side;
    if (side >= FONT_MAP_MAX_SIDE || !renderer_grow_font_map(side, 2 * side)) return false;
    glyph_packer.side = 2 * side;
    Font_Pool* pools[] = {&ui_font_pool, &code_font_pool, &icons_font_pool};
    for (Font_Pool* pool : pools) follow_font_map_side(pool);
    if (requesting != &ui_font_pool && requesting != &code_font_pool && requesting != &icons_font_pool) {
        follow_font_map_side(requesting);
    }
    renderer_follow_font_map_side(side, 2 * side);
    return true;
}

Glyph* get_or_add_glyph(Font_Pool* pool, u32 code_point, Font_Range* preferred, Font_Range** out_range) {
    if (code_point < 32 && code_point != '\t') code_point = '?';
    Font_Range* range = find_range(pool, code_point, preferred);
    if (!range) return nullptr;
    if (out_range) *out_range = range;

    Glyph* cached = (Glyph*)range->glyphs.first_element;
    for (u32 i = 0; i < range->glyphs.count; i++, cached = cached->next) {
        if (cached->code_point == code_point) return cached;
    }

    stbtt_fontinfo* info = &range->font.info;
    f32 scale = range->scale;
    Glyph fresh = {};
    fresh.code_point = code_point;
    fresh.glyph_index = (u32)stbtt_FindGlyphIndex(info, (int)code_point);
    int advance, left_side_bearing;
    stbtt_GetGlyphHMetrics(info, (int)fresh.glyph_index, &advance, &left_side_bearing);
    fresh.advance = scale * (f32)advance;
    fresh.left_bearing = scale * (f32)left_side_bearing;

    int bx0, by0, bx1, by1;
    s32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (stbtt_GetGlyphBox(info, (int)fresh.glyph_index, &bx0, &by0, &bx1, &by1)) {
        x0 = (s32)floorf(scale * (f32)bx0);
        y0 = (s32)floorf(-scale * (f32)by1);
        x1 = (s32)ceilf(scale * (f32)bx1);
        y1 = (s32)ceilf(-scale * (f32)by0);
    }
    u32 width = (u32)(x1 - x0);
    u32 height = (u32)(y1 - y0);
    fresh.width = (f32)width;
    fresh.height = (f32)height;
    fresh.y_offset = (f32)y0;

    // A glyph larger than the largest map keeps its metrics and is drawn without texels.
    if (width + 2 <= FONT_MAP_MAX_SIDE && height + 2 <= FONT_MAP_MAX_SIDE) {
        Gp_Allocation bitmap = {};
        if (width && height) {
            if (!gp_allocate(&bitmap, (u64)width * height)) return nullptr;
            stbtt_MakeGlyphBitmapSubpixel(info, bitmap.memory, (int)width, (int)height, (int)width, scale, scale, 0, 0,
                                          (int)fresh.glyph_index);
        }
        b8 placed = pack_glyph(width, height, bitmap.memory, &fresh.x, &fresh.y);
        while (!placed && grow_font_map(pool)) placed = pack_glyph(width, height, bitmap.memory, &fresh.x, &fresh.y);
        if (!placed) {
            flush_font_map(pool);
            placed = pack_glyph(width, height, bitmap.memory, &fresh.x, &fresh.y);
        }
        gp_free(&bitmap);
        if (placed) place_glyph_coordinates(&fresh);
    }

    Glyph* added = (Glyph*)bucket_array_append(&range->glyphs);
    if (!added) return nullptr;
    fresh.next = added->next;
    *added = fresh;
    return added;
}
