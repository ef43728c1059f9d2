// What the layer's editing routines cost on big texts: pasting 1 MB of CR LF lines at the
// start of a 10 MB file, beside one memmove of as many octets as the file then holds. The
// paste converts its text once and moves the file's tail once, so the two stay close.
#include <benchmark/benchmark.h>

#include <string.h>

#include <string>

#include "runtime/custom_layer.h"
#include "runtime/routines_clipboard.h"
#include "editor/editor.h"
#include "foundation/memory.h"

static const s64 FILE_SIZE = 10ll * 1024 * 1024;
static const s64 PASTE_SIZE = 1ll * 1024 * 1024;

static std::string make_lines(s64 size, const char* line_break) {
    std::string text;
    text.reserve(size + 80);
    while ((s64)text.size() < size) {
        text += "    value = compute(items[i], \"label\", 42);";
        text += line_break;
    }
    text.resize(size);
    return text;
}

static void paste_into_big_file(benchmark::State& state) {
    std::string file_text = make_lines(FILE_SIZE, "\n");
    std::string pasted = make_lines(PASTE_SIZE, "\r\n");
    Editor_File* file = add_a_file();
    editor_insert_octets(file, 0, (u8*)file_text.data(), FILE_SIZE);
    for (auto _ : state) {
        editor_set_cursor(file, 0);
        paste_text(file, (u8*)pasted.data(), PASTE_SIZE, 1, 0);
        state.PauseTiming();
        editor_undo(file);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * (FILE_SIZE + PASTE_SIZE));
    close_file(file);
}
BENCHMARK(paste_into_big_file)->Unit(benchmark::kMillisecond);

static void memmove_as_many_octets(benchmark::State& state) {
    std::string buffer(FILE_SIZE + 2 * PASTE_SIZE, 'x');
    for (auto _ : state) {
        memmove(buffer.data() + PASTE_SIZE, buffer.data(), FILE_SIZE + PASTE_SIZE);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (FILE_SIZE + PASTE_SIZE));
}
BENCHMARK(memmove_as_many_octets)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    init_custom_layer();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
