// Throughput of the editor's text scans on large generated texts: line counting against
// the plain byte loop it replaces, forward lexing, the cost of one backward lex, and a
// walk back over a whole 10 MB line beside one forward lex of it.
#include <benchmark/benchmark.h>

#include <random>
#include <string.h>
#include <string>

#include "editor/editor.h"
#include "foundation/memory.h"

static const s64 BENCH_TEXT_SIZE = 100ll * 1024 * 1024;

// Code-like lines of varied length with LF, a few CR LF and CR breaks.
static const std::string& get_source_text() {
    static std::string text;
    if (!text.empty()) return text;
    const char* lines[] = {
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
    const char* breaks[] = {"\n", "\n", "\n", "\n", "\n", "\n", "\r\n", "\r"};
    std::mt19937 random(3);
    text.reserve(BENCH_TEXT_SIZE + 200);
    while ((s64)text.size() < BENCH_TEXT_SIZE) {
        text += lines[random() % (sizeof(lines) / sizeof(lines[0]))];
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

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    init_custom_layer();
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
