// What the layer's transform routines cost on big selections, each beside a memmove of as
// many octets: re-indenting 10,000 selected lines (built in one piece and put in with one
// replacement) and changing the case of 10 MB (the saved copy for undo, then the vector pass).
#include <benchmark/benchmark.h>

#include <random>
#include <string.h>
#include <string>

#include "editor/editor.h"
#include "foundation/memory.h"
#include "runtime/routines_transforms.h"

static const u32 PAD_LINES = 10000;
static const s64 CASE_SIZE = 10ll * 1024 * 1024;

static Editor_File* make_file(const std::string& text) {
    Editor_File* file = add_a_file();
    editor_insert_octets(file, 0, (u8*)text.data(), (s64)text.size());
    return file;
}

// Lines inside an open bracket, indented by 0 to 6 blanks, so most of them change.
static std::string make_bracketed_lines(u32 lines, s64* selection_start) {
    std::mt19937 random(5);
    std::string text = "static int table[] = {\n";
    *selection_start = (s64)text.size();
    for (u32 i = 0; i < lines; i++) {
        text.append(random() % 7, ' ');
        text += "compute_entry(" + std::to_string(i) + ", values[i] * 3),\n";
    }
    text += "};\n";
    return text;
}

static void select(Editor_File* file, s64 anchor, s64 cursor) {
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, anchor);
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, cursor);
}

static void pad_selection_over_10000_lines(benchmark::State& state) {
    s64 start;
    Editor_File* file = make_file(make_bracketed_lines(PAD_LINES, &start));
    current_file = file;
    s64 end = (s64)file->text.count - 3;
    for (auto _ : state) {
        state.PauseTiming();
        select(file, start, end);
        state.ResumeTiming();
        foreign_pad_selection(nullptr);
        state.PauseTiming();
        editor_undo(file);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * (end - start));
    current_file = nullptr;
    close_file(file);
}
BENCHMARK(pad_selection_over_10000_lines)->Unit(benchmark::kMicrosecond);

static void memmove_of_10000_lines(benchmark::State& state) {
    s64 start;
    std::string text = make_bracketed_lines(PAD_LINES, &start);
    s64 length = (s64)text.size() - 3 - start;
    std::string target(text.size(), ' ');
    for (auto _ : state) {
        memmove(target.data(), text.data() + start, (u64)length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * length);
}
BENCHMARK(memmove_of_10000_lines)->Unit(benchmark::kMicrosecond);

static std::string make_mixed_text(s64 size) {
    std::mt19937 random(9);
    const char* words[] = {"Compute", "value", "TOTAL", " ", "\n", "x1", "\xC3\xA9t\xC3\xA9", "(a + B)", "\t"};
    std::string text;
    while ((s64)text.size() < size) text += words[random() % (sizeof(words) / sizeof(words[0]))];
    text.resize((size_t)size);
    return text;
}

static void change_selection_case_over_10_mb(benchmark::State& state) {
    Editor_File* file = make_file(make_mixed_text(CASE_SIZE));
    current_file = file;
    select(file, 0, file->text.count);
    u8 to_lower = 0;
    for (auto _ : state) {
        foreign_change_selection_case(&to_lower);
        to_lower ^= 1;
        state.PauseTiming();
        free_undo_records(file);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * CASE_SIZE);
    current_file = nullptr;
    close_file(file);
}
BENCHMARK(change_selection_case_over_10_mb)->Unit(benchmark::kMillisecond);

// The letter pass alone: the rest of the routine is the copy it saves for undo.
static void case_pass_over_10_mb(benchmark::State& state) {
    std::string text = make_mixed_text(CASE_SIZE);
    b8 to_lower = false;
    for (auto _ : state) {
        change_ascii_case((u8*)text.data(), CASE_SIZE, to_lower);
        to_lower = !to_lower;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * CASE_SIZE);
}
BENCHMARK(case_pass_over_10_mb)->Unit(benchmark::kMillisecond);

static void memmove_of_10_mb(benchmark::State& state) {
    std::string text = make_mixed_text(CASE_SIZE);
    std::string target(text.size(), ' ');
    for (auto _ : state) {
        memmove(target.data(), text.data(), text.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * CASE_SIZE);
}
BENCHMARK(memmove_of_10_mb)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
