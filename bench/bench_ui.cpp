// Cost of the glyph cache and of text: a cache hit (near the front of a range's list and
// behind 1,300 cached glyphs), text iteration per character with and without kerning, and
// laying out a full screen of code into quads. No window: glyphs are rasterised and packed,
// but nothing is uploaded.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include "ui/ui.h"

static u8* read_font_file(const char* path, u64* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return nullptr;
    fseek(f, 0, SEEK_END);
    *size = (u64)ftell(f);
    fseek(f, 0, SEEK_SET);
    u8* data = (u8*)malloc(*size);
    if (fread(data, 1, *size, f) != *size) *size = 0;
    fclose(f);
    return data;
}

static b8 set_up_fonts() {
    u64 sans_size = 0, mono_size = 0;
    u8* sans = read_font_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", &sans_size);
    u8* mono = read_font_file("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", &mono_size);
    if (!init_font(&ui_latin_font, sans, sans_size, (u8*)"UI_FONT", 7)) return false;
    if (!init_font(&code_latin_font, mono, mono_size, (u8*)"CODE_FONT", 9)) return false;
    init_font_pool(&ui_font_pool, 20);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, 0, 0x52F);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, 0xFFFD, 0xFFFD);
    init_font_pool(&code_font_pool, 20);
    add_range_to_pool(&code_font_pool, &code_latin_font, 0, 0x52F);
    add_range_to_pool(&code_font_pool, &code_latin_font, 0xFFFD, 0xFFFD);
    restart_glyph_packer(24);
    return true;
}

static const char* CODE_LINE =
    "    for (u32 i = 0; i < pool->range_count; i++) reset_font_range(&pool->ranges[i], pixel_size); // again\n";

static void glyph_cache_hit(benchmark::State& state) {
    Font_Range* range = nullptr;
    for (u32 c = 32; c < 127; c++) get_or_add_glyph(&code_font_pool, c, nullptr, &range);
    u32 c = 32;
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_or_add_glyph(&code_font_pool, c, range, &range));
        c = c == 126 ? 32 : c + 1;
    }
}
BENCHMARK(glyph_cache_hit);

// The list is walked from the front, so the last of 1,300 cached glyphs costs the most.
static void glyph_cache_hit_behind_1300_glyphs(benchmark::State& state) {
    Font_Range* range = nullptr;
    for (u32 c = 32; c <= 0x52F; c++) get_or_add_glyph(&ui_font_pool, c, nullptr, &range);
    for (auto _ : state) benchmark::DoNotOptimize(get_or_add_glyph(&ui_font_pool, 0x52F, range, &range));
}
BENCHMARK(glyph_cache_hit_behind_1300_glyphs);

static void iterate_text(benchmark::State& state, Font_Pool* pool) {
    u64 count = strlen(CODE_LINE);
    get_text_advance((u8*)CODE_LINE, count, pool, 4);  // rasterise outside the timing
    for (auto _ : state) {
        Text_Iterator it;
        init_text_iterator(&it, (u8*)CODE_LINE, count, pool, 4);
        f32 advance = 0;
        while (text_iterator_get_next(&it)) advance += it.advance + it.kerning;
        benchmark::DoNotOptimize(advance);
    }
    state.counters["ns/char"] = benchmark::Counter((f64)state.iterations() * (f64)count,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

static void text_iteration_code_font(benchmark::State& state) { iterate_text(state, &code_font_pool); }
BENCHMARK(text_iteration_code_font);

static void text_iteration_ui_font_with_kerning(benchmark::State& state) { iterate_text(state, &ui_font_pool); }
BENCHMARK(text_iteration_ui_font_with_kerning);

// 70 lines of about 100 characters, as a 1080-pixel-high view of code shows.
static void lay_out_a_screen_of_code(benchmark::State& state) {
    u64 count = strlen(CODE_LINE);
    resize_render_target(1920, 1080);
    for (auto _ : state) {
        prepare_frame();
        for (u32 line = 0; line < 70; line++) {
            draw_text((u8*)CODE_LINE, count, &code_font_pool, 0, 10, (f32)line * 15, Rgba{0.8f, 0.8f, 0.8f, 1});
        }
        benchmark::DoNotOptimize(renderer_quad_instances.count);
    }
    state.counters["quads"] = (f64)renderer_quad_instances.count;
}
BENCHMARK(lay_out_a_screen_of_code);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    if (!set_up_fonts()) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
