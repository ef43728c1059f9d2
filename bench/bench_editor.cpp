// Throughput of the editor's text scans on large generated texts: line counting against
// the plain byte loop it replaces, forward lexing, the cost of one backward lex, and a
// walk back over a whole 10 MB line beside one forward lex of it. Then what editing costs
// on big texts: one typed character at the start of a 10 MB file, the CPU time of one
// frame of the file view on a coloured 100,000-line file (still, and scrolled by a line,
// which lexes from the top for the syntax state and colours the new range as a #syntax
// block would), and word completion on a 10 MB file and at the end of a 1 MB line without
// separators.
#include <benchmark/benchmark.h>

#include <random>
#include <string.h>
#include <string>

#include "editor/editor.h"
#include "foundation/memory.h"
#include "foundation/os_files.h"
#include "ui/ui.h"

static const s64 BENCH_TEXT_SIZE = 100ll * 1024 * 1024;

// The lines the generated texts are made of.
static const char* const code_lines[] = {
    "static int compute_total(const Item* items, int count) {",
    "    for (int i = 0; i < count; i++) total += items[i].price * 1.5e3;",
    "    // keep the running value within bounds",
    "    if (total >= LIMIT && !allow_overflow) { total = LIMIT; }",
    "    const char* label = \"total: %d\\n\"; x >>= 2; y <<<= 1;",
    "    return total;",
    "}",
    "",
    "/* block comment with a nested /* part */ and more */",
};

// Code-like lines of varied length with LF, a few CR LF and CR breaks.
static const std::string& get_source_text() {
    static std::string text;
    if (!text.empty()) return text;
    const char* breaks[] = {"\n", "\n", "\n", "\n", "\n", "\n", "\r\n", "\r"};
    std::mt19937 random(3);
    text.reserve(BENCH_TEXT_SIZE + 200);
    while ((s64)text.size() < BENCH_TEXT_SIZE) {
        text += code_lines[random() % (sizeof(code_lines) / sizeof(code_lines[0]))];
        text += breaks[random() % (sizeof(breaks) / sizeof(breaks[0]))];
    }
    text.resize(BENCH_TEXT_SIZE);
    return text;
}

static Editor_File* get_source_file() {
    static Editor_File* file;
    if (file) return file;
    const std::string& text = get_source_text();
    file = add_a_file();
    // The record views the benchmark's buffer; it is never closed.
    file->text.data = (u8*)text.data();
    file->text.count = (u32)text.size();
    const char name[] = "bench.c";
    memcpy(file->name_storage, name, sizeof(name) - 1);
    file->name = String{file->name_storage, (s64)sizeof(name) - 1};
    return file;
}

static u64 count_lines_scalar(const u8* text, s64 length) {
    u64 lines = 1;
    for (s64 i = 0; i < length; i++) {
        if (text[i] == '\r') {
            lines++;
            if (i + 1 < length && text[i + 1] == '\n') i++;
        } else if (text[i] == '\n') {
            lines++;
        }
    }
    return lines;
}

static void count_lines_vector(benchmark::State& state) {
    const std::string& text = get_source_text();
    for (auto _ : state) benchmark::DoNotOptimize(count_lines_in((u8*)text.data(), (s64)text.size()));
    state.SetBytesProcessed(state.iterations() * (s64)text.size());
}
BENCHMARK(count_lines_vector)->Unit(benchmark::kMillisecond);

static void count_lines_byte_loop(benchmark::State& state) {
    const std::string& text = get_source_text();
    for (auto _ : state) benchmark::DoNotOptimize(count_lines_scalar((const u8*)text.data(), (s64)text.size()));
    state.SetBytesProcessed(state.iterations() * (s64)text.size());
}
BENCHMARK(count_lines_byte_loop)->Unit(benchmark::kMillisecond);

static void offset_of_last_line(benchmark::State& state) {
    const std::string& text = get_source_text();
    u32 last = count_lines_in((u8*)text.data(), (s64)text.size());
    for (auto _ : state) benchmark::DoNotOptimize(get_offset_at_line((u8*)text.data(), (s64)text.size(), last));
    state.SetBytesProcessed(state.iterations() * (s64)text.size());
}
BENCHMARK(offset_of_last_line)->Unit(benchmark::kMillisecond);

static void lex_forward_over(benchmark::State& state, Editor_File* file) {
    s64 tokens = 0;
    for (auto _ : state) {
        Editor_Token token;
        for (s64 at = 0; (at = editor_get_next_token(file, at, &token)) >= 0;) tokens++;
    }
    benchmark::DoNotOptimize(tokens);
    state.SetBytesProcessed(state.iterations() * (s64)file->text.count);
    state.counters["tokens"] = (double)tokens / (double)state.iterations();
}

static void lex_forward(benchmark::State& state) { lex_forward_over(state, get_source_file()); }
BENCHMARK(lex_forward)->Unit(benchmark::kMillisecond);

// One previous-token request at spread offsets of normal code.
static void previous_token_in_code(benchmark::State& state) {
    Editor_File* file = get_source_file();
    s64 offset = 1;
    for (auto _ : state) {
        Editor_Token token;
        benchmark::DoNotOptimize(editor_get_previous_token(file, offset, &token));
        offset = (offset * 7919 + 13) % file->text.count;
    }
}
BENCHMARK(previous_token_in_code);

// One line of 10 MB without a separator: nothing in it lets the backward lexer restart
// before the line's start.
static Editor_File* get_long_line_file() {
    static std::string line;
    static Editor_File* file;
    if (file) return file;
    while ((s64)line.size() < 10 * 1000 * 1000) line += "a.b";
    file = add_a_file();
    file->text.data = (u8*)line.data();  // viewed, never closed
    file->text.count = (u32)line.size();
    return file;
}

// One request at the line's end, as the first one after an edit: lexed from the start.
static void previous_token_at_the_end_of_a_long_line(benchmark::State& state) {
    Editor_File* file = get_long_line_file();
    for (auto _ : state) {
        editor_forget_lexer_states(file);
        Editor_Token token;
        benchmark::DoNotOptimize(editor_get_previous_token(file, file->text.count, &token));
    }
    state.SetBytesProcessed(state.iterations() * (s64)file->text.count);
}
BENCHMARK(previous_token_at_the_end_of_a_long_line)->Unit(benchmark::kMillisecond);

// One forward lex of the whole long line, the yardstick for the walk back below.
static void lex_forward_over_a_long_line(benchmark::State& state) { lex_forward_over(state, get_long_line_file()); }
BENCHMARK(lex_forward_over_a_long_line)->Unit(benchmark::kMillisecond);

// Walking back token by token from the end of the long line to its start, as moving the
// cursor back by tokens does, starting with nothing remembered.
static void walk_back_over_a_long_line(benchmark::State& state) {
    Editor_File* file = get_long_line_file();
    s64 tokens = 0;
    for (auto _ : state) {
        editor_forget_lexer_states(file);
        Editor_Token token;
        for (s64 at = file->text.count; editor_get_previous_token(file, at, &token) >= 0; at = token.offset) tokens++;
    }
    benchmark::DoNotOptimize(tokens);
    state.SetBytesProcessed(state.iterations() * (s64)file->text.count);
    state.counters["tokens"] = (double)tokens / (double)state.iterations();
}
BENCHMARK(walk_back_over_a_long_line)->Unit(benchmark::kMillisecond);

//~ Editing

static Editor_File* make_file(const std::string& text, const char* name) {
    Editor_File* file = add_a_file();
    editor_insert_octets(file, 0, (u8*)text.data(), (s64)text.size());
    memcpy(file->name_storage, name, strlen(name));
    file->name = String{file->name_storage, (s64)strlen(name)};
    return file;
}

// Code-like lines of varied length, until the text has the size or the line count.
static std::string make_code(s64 size, u32 line_limit, u64 seed) {
    std::mt19937_64 random(seed);
    std::string text;
    for (u32 lines = 0; (s64)text.size() < size && lines < line_limit; lines++) {
        text += code_lines[random() % (sizeof(code_lines) / sizeof(code_lines[0]))];
        text += '\n';
    }
    return text;
}

//~ Typing

static void keystroke_at_the_start_of_10_mb(benchmark::State& state) {
    Editor_File* file = make_file(make_code(10ll * 1024 * 1024, UINT32_MAX, 1), "bench.c");
    editor_set_cursor(file, 0);
    for (auto _ : state) {
        // What the character routine does: flags, the insertion, its (merged) record, the move.
        s64 at = file->cursor;
        atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
        update_context_chunks(file, at);
        editor_insert_octets(file, at, (u8*)"x", 1);
        add_text_insertion_undo(file, at, 1, at, 1);
        editor_set_cursor(file, at + 1);
    }
    close_file(file);
}
BENCHMARK(keystroke_at_the_start_of_10_mb)->Unit(benchmark::kMicrosecond);

//~ The file view

static void set_up_view() {
    static bool done = false;
    if (done) return;
    done = true;
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    if (!init_executable_filepath() || !init_assets(executable_filepath) ||
        !init_font_from_executable(&ui_latin_font, (u8*)"UI_FONT", 7) ||
        !init_font_from_executable(&code_latin_font, (u8*)"CODE_FONT", 9) ||
        !init_font_from_executable(&icons_font, (u8*)"ICONS", 5)) {
        fprintf(stderr, "The fonts of quarn.data beside the benchmark could not be read.\n");
        exit(1);
    }
    ui_init_font_pools(20);
    init_ui_elements();
    ui_window = &window;
    renderer_info = Renderer_Info{1920, 1080, nullptr};
    ui_screen_resolution = v2{1920, 1080};
    editor_settings.display_flags = DISPLAY_LINE_NUMBERS;
}

// What a #syntax block does: one colour per token kind over the visible range.
static void colour_visible_range(Editor_File* file) {
    static const Rgba colours[] = {{0.9f, 0.5f, 0.2f, 1}, {0.4f, 0.8f, 0.4f, 1}, {0.5f, 0.6f, 1, 1}, {0.8f, 0.8f, 0.8f, 1}};
    Editor_Token token;
    for (s64 at = file->syntax_start; at < file->syntax_end;) {
        if (editor_get_next_token(file, at, &token) < 0) break;
        editor_set_text_colour(file, token.offset, token.length, colours[__builtin_ctz(token.kind) % 4]);
        at = token.offset + token.length;
    }
}

static void run_view_frame(Editor_File* file, b8 colour) {
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    tmp_reset();
    ui_begin_frame_with_mouse(v2{-1, -1});
    b8 recolour = atomic_load_u16(&file->flags) & FILE_NEEDS_SYNTAX;
    draw_file(file, &code_font_pool, v2{0, 40}, v2{1900, 1040});
    // The view empties the chunks where the layer would colour them; here that happens
    // after the call, so a scrolled frame is drawn plain and coloured for the next one.
    if (colour && recolour) colour_visible_range(file);
}

static Editor_File* get_100k_line_file() {
    static Editor_File* file;
    if (file) return file;
    file = make_file(make_code(INT64_MAX, 100000, 2), "bench.c");
    // In the middle: the syntax state is lexed from the top down to here.
    editor_set_cursor(file, get_offset_at_line(file->text.data, file->text.count, 50000));
    atomic_or_u16(&file->flags, FILE_CENTRE_CURSOR | FILE_NEEDS_SYNTAX);
    return file;
}

static void frame_of_a_coloured_100k_line_file_still(benchmark::State& state) {
    set_up_view();
    Editor_File* file = get_100k_line_file();
    run_view_frame(file, true);
    run_view_frame(file, true);
    for (auto _ : state) run_view_frame(file, true);
    state.counters["quads"] = (double)renderer_quad_instances.count;
    state.counters["chunks"] = (double)file->colour_chunks.count;
}
BENCHMARK(frame_of_a_coloured_100k_line_file_still)->Unit(benchmark::kMicrosecond);

static void frame_of_a_coloured_100k_line_file_scrolled_a_line(benchmark::State& state) {
    set_up_view();
    Editor_File* file = get_100k_line_file();
    run_view_frame(file, true);
    f32 step = code_font_pool.line_height;
    for (auto _ : state) {
        file->scroll_bar[0] += step;
        step = -step;
        run_view_frame(file, true);
    }
}
BENCHMARK(frame_of_a_coloured_100k_line_file_scrolled_a_line)->Unit(benchmark::kMicrosecond);

//~ Word completion

// The walk covers the whole text: "co" is the common prefix of every candidate, so the
// text never changes.
static void completion_on_10_mb(benchmark::State& state) {
    Editor_File* file = make_file(make_code(10ll * 1024 * 1024, UINT32_MAX, 4) + " co", "bench.c");
    editor_set_cursor(file, file->text.count);
    for (auto _ : state) benchmark::DoNotOptimize(auto_complete_text_in_file(file));
    state.SetBytesProcessed(state.iterations() * (s64)file->text.count);
    close_file(file);
}
BENCHMARK(completion_on_10_mb)->Unit(benchmark::kMillisecond);

// One 1 MB line of words and dots: a backward lex per token would be quadratic here.
// Each completion is undone, so every pass sees the same text.
static void completion_at_the_end_of_a_1_mb_line(benchmark::State& state) {
    std::string line;
    while (line.size() < 1024 * 1024) line += "alpha.alps.";
    line += "alp";
    Editor_File* file = make_file(line, "bench.c");
    editor_set_cursor(file, file->text.count);
    for (auto _ : state) {
        auto_complete_text_in_file(file);
        editor_undo(file);
    }
    state.SetBytesProcessed(state.iterations() * (s64)file->text.count);
    close_file(file);
}
BENCHMARK(completion_at_the_end_of_a_1_mb_line)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    init_editor_settings();
    String extensions[] = {{(u8*)"c", 1}};
    Layer_Tokenisation_Hint hint = {};
    hint.extensions = extensions;
    hint.extension_count = 1;
    hint.line_comment = STR("//");
    hint.block_start = STR("/*");
    hint.block_end = STR("*/");
    hint.string_delimiters = EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_SINGLE_QUOTE;
    add_a_tokenisation_hint_from(&hint);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
