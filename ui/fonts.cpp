// Fonts and font pools: TrueType octets checked and handed to stb_truetype, font files the
// custom layer names, the ranges of a pool and their scaled metrics, and rescaling every
// pool at once. The glyphs themselves are in glyph_cache.cpp.

#include "ui/fonts.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "ui/asset_archive.h"

#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

Memory_Pool glyphs_pool;
Font_Pool ui_font_pool;
Font_Pool code_font_pool;
Font_Pool icons_font_pool;
Font ui_latin_font;
Font code_latin_font;
Font icons_font;
Dynamic_Array file_fonts = {nullptr, sizeof(File_Font)};

void init_glyphs_pool(void* first_page) {
    _init_memory_pool(&glyphs_pool, sizeof(Glyph), NUM_GLYPHS_PER_BUCKET, NUM_GLYPH_BUCKETS_PER_PAGE,
                      first_page, os_allocate_read_write);
}

//~ Fonts

static u32 read_u32_big_endian(u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }

// stb_truetype trusts the table directory and reads wherever it points, so a truncated or
// damaged file must be turned away before it gets there.
static b8 font_tables_lie_inside(u8* data, u64 size) {
    // The header and one table entry: below that stb_truetype reads a collection's first
    // font offset past the end.
    if (size < 12 + 16) return false;
    if (stbtt_GetFontOffsetForIndex(data, 0) != 0) return false;  // not one font at offset 0
    u32 table_count = (u32)data[4] << 8 | data[5];
    if (12 + (u64)table_count * 16 > size) return false;
    for (u32 i = 0; i < table_count; i++) {
        u8* entry = data + 12 + i * 16;
        u64 offset = read_u32_big_endian(entry + 8);
        u64 length = read_u32_big_endian(entry + 12);
        if (offset + length > size) return false;
    }
    return true;
}

b8 init_font(Font* font, u8* data, u64 size, u8* name, u64 name_count) {
    memset(font, 0, sizeof(*font));
    u64 kept = name_count < FONT_NAME_CAPACITY - 1 ? name_count : FONT_NAME_CAPACITY - 1;
    memcpy(font->name, name, kept);

    if (!data || size > 0x7FFFFFFF || !font_tables_lie_inside(data, size) || !stbtt_InitFont(&font->info, data, 0)) {
        add_log(nullptr, LOG_ERROR, "Failed to initialise font '%s'.", font->name);
        return false;
    }
    int ascent, descent, line_gap, x0, y0, x1, y1;
    stbtt_GetFontVMetrics(&font->info, &ascent, &descent, &line_gap);
    stbtt_GetFontBoundingBox(&font->info, &x0, &y0, &x1, &y1);
    font->ascent = (f32)ascent;
    font->descent = (f32)descent;
    font->line_gap = (f32)line_gap;
    font->bounding_box_width = (f32)(x1 - x0);
    return true;
}

b8 init_font_from_executable(Font* font, u8* name, u64 name_count) {
    String data = get_asset(String{name, (s64)name_count});
    if (data.count <= 0 || !init_font(font, data.data, (u64)data.count, name, name_count)) {
        add_log(nullptr, LOG_ERROR, "Failed to load font '%.*s' from the executable.", (int)name_count, (char*)name);
        return false;
    }
    return true;
}

//~ Font files

static b8 read_whole_file(const char* path, Gp_Allocation* out, u64 extra, u64* out_size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !gp_allocate(out, (u64)info.st_size + extra)) {
        close(fd);
        return false;
    }
    u64 size = (u64)info.st_size;
    b8 read_whole = os_read_all(fd, out->memory, size);
    close(fd);
    if (!read_whole) {
        gp_free(out);
        return false;
    }
    *out_size = size;
    return true;
}

s64 get_or_add_file_font(u8* path, u64 count) {
    File_Font* fonts = (File_Font*)file_fonts.data;
    for (u32 i = 0; i < file_fonts.count; i++) {
        if (fonts[i].in_use && strings_equal(fonts[i].path, String{path, (s64)count})) return i;
    }

    File_Font loaded = {};
    u64 size = 0;
    char* c_path = to_tmp_c_string(String{path, (s64)count});
    if (c_path && read_whole_file(c_path, &loaded.data, count, &size)) {
        // The path is kept behind the octets, so one block holds all the font owns.
        memcpy(loaded.data.memory + size, path, count);
        loaded.path = String{loaded.data.memory + size, (s64)count};
        if (init_font(&loaded.font, loaded.data.memory, size, path, count)) {
            File_Font* slot = (File_Font*)dynamic_array_add_fast(&file_fonts);
            if (slot) {
                loaded.in_use = true;
                *slot = loaded;
                return (s64)file_fonts.count - 1;
            }
        }
        gp_free(&loaded.data);
    }
    add_log(nullptr, LOG_ERROR, "Failed to load '%.*s'.", (int)count, (char*)path);
    return -1;
}

static void recompute_pool_metrics(Font_Pool* pool);

// Moves the range past the end instead of dropping it, so that add_range_to_pool reuses
// its glyph buckets.
static void remove_range(Font_Pool* pool, u32 index) {
    Font_Range removed = pool->ranges[index];
    for (u32 i = index; i + 1 < pool->range_count; i++) pool->ranges[i] = pool->ranges[i + 1];
    pool->range_count--;
    pool->ranges[pool->range_count] = removed;
    recompute_pool_metrics(pool);
}

void free_file_font(File_Font* f) {
    if (!f->in_use) return;
    // Ranges hold copies of the font that point into these octets.
    Font_Pool* pools[] = {&ui_font_pool, &code_font_pool, &icons_font_pool};
    for (Font_Pool* pool : pools) {
        for (u32 i = pool->range_count; i-- > 0;) {
            if (pool->ranges[i].font.info.data == f->font.info.data) remove_range(pool, i);
        }
    }
    gp_free(&f->data);
    f->path = String{};
    f->in_use = false;
}

//~ Pools and ranges

static void raise_pool_metrics(Font_Pool* pool, Font_Range* range) {
    Font* font = &range->font;
    f32 line_height = range->scale * (font->ascent - font->descent + font->line_gap);
    if (line_height > pool->line_height) pool->line_height = line_height;
    if (range->ascent > pool->ascent) pool->ascent = range->ascent;
    f32 descent = -range->scale * font->descent;
    if (descent > pool->descent) pool->descent = descent;
}

static void recompute_pool_metrics(Font_Pool* pool) {
    pool->line_height = 0;
    pool->ascent = 0;
    pool->descent = 0;
    for (u32 i = 0; i < pool->range_count; i++) raise_pool_metrics(pool, &pool->ranges[i]);
}

u32 font_metrics_version;

void init_font_pool(Font_Pool* pool, u32 pixel_size) {
    font_metrics_version++;
    memset(pool, 0, sizeof(*pool));
    pool->pixel_size = pixel_size;
}

void reset_font_range(Font_Range* range, u32 pixel_size) {
    font_metrics_version++;
    bucket_array_reset(&range->glyphs);
    range->scale = stbtt_ScaleForPixelHeight(&range->font.info, (f32)pixel_size);
    range->font.scale = range->scale;
    range->ascent = range->scale * range->font.ascent;
}

u8 add_range_to_pool(Font_Pool* pool, Font* font, u32 first, u32 last) {
    if (pool->range_count >= MAX_FONT_RANGES) return pool->range_count;
    font_metrics_version++;
    Font_Range* range = &pool->ranges[pool->range_count];
    range->first = first;
    range->last = last;
    range->difference = last - first;
    range->font = *font;
    if (!range->glyphs.pool) init_bucket_array(&range->glyphs, &glyphs_pool);
    reset_font_range(range, pool->pixel_size);
    raise_pool_metrics(pool, range);
    return ++pool->range_count;
}

void reset_font_pool(Font_Pool* pool, u32 pixel_size) {
    font_metrics_version++;
    pool->pixel_size = pixel_size;
    for (u32 i = 0; i < pool->range_count; i++) reset_font_range(&pool->ranges[i], pixel_size);
    recompute_pool_metrics(pool);
}

void font_pool_remove_ranges(Font_Pool* pool) {
    font_metrics_version++;
    for (u32 i = 0; i < pool->range_count; i++) bucket_array_reset(&pool->ranges[i].glyphs);
    pool->range_count = 0;
    recompute_pool_metrics(pool);
}

static u32 to_pixel_size(f32 pixels) { return pixels >= 1.0f ? (u32)pixels : 1; }

void resize_fonts(f32 ui_pixels, f32 code_pixels, f32 icon_pixels) {
    reset_font_pool(&ui_font_pool, to_pixel_size(ui_pixels));
    reset_font_pool(&code_font_pool, to_pixel_size(code_pixels));
    reset_font_pool(&icons_font_pool, to_pixel_size(icon_pixels));
    f32 tallest = ui_font_pool.line_height;
    if (code_font_pool.line_height > tallest) tallest = code_font_pool.line_height;
    if (icons_font_pool.line_height > tallest) tallest = icons_font_pool.line_height;
    // Old texels stay until new glyphs land on them: every cached glyph is gone.
    restart_glyph_packer((u32)ceilf(tallest));
}

f32 handle_screen_resolution_change(f32 layer_font_size, s32 video_mode_height) {
    // The font size is in thousandths of the monitor's height, so text keeps its share of the
    // screen when the window moves to another monitor.
    f32 size = layer_font_size > MIN_FONT_SIZE ? layer_font_size : MIN_FONT_SIZE;
    f32 pixels = size / FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT * (f32)(video_mode_height > 0 ? video_mode_height : 0);
    resize_fonts(pixels, pixels, pixels);
    return size;
}

//~ Ranges the custom layer asks for

static b8 find_requested_font(String path, Font* out) {
    if (strings_equal(path, STR("$ui_default"))) *out = ui_latin_font;
    else if (strings_equal(path, STR("$code_default"))) *out = code_latin_font;
    else {
        b8 absolute = (path.count > 0 && path.data[0] == '/') || (path.count > 1 && path.data[1] == ':');
        if (!absolute) path = string_concat2("%/%", executable_filepath, path);
        s64 index = get_or_add_file_font(path.data, (u64)path.count);
        if (index < 0) return false;
        // A copy: loading the next file can move file_fonts.
        *out = ((File_Font*)file_fonts.data)[index].font;
    }
    return true;
}

b8 maybe_set_new_font_pool(Font_Pool* pool, Font_Range_Request* requests, u32 count) {
    if (count > MAX_FONT_RANGES) count = MAX_FONT_RANGES;
    Font fonts[MAX_FONT_RANGES];
    for (u32 i = 0; i < count; i++) {
        if (!find_requested_font(requests[i].font_path, &fonts[i])) return false;  // logged; the pool keeps its fonts
    }

    // The layer asks again on every load; the same ranges must not throw the glyphs away.
    b8 same = pool->range_count == count;
    for (u32 i = 0; same && i < count; i++) {
        Font_Range* r = &pool->ranges[i];
        same = r->first == requests[i].first && r->last == requests[i].last && r->font.info.data == fonts[i].info.data;
    }
    if (same) return true;

    font_pool_remove_ranges(pool);
    for (u32 i = 0; i < count; i++) add_range_to_pool(pool, &fonts[i], requests[i].first, requests[i].last);
    return true;
}
