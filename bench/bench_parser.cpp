// The compiler's front end, from reset to the entry blocks: a file of 100,000 global
// sub-programs that nothing uses (preparsed only, never parsed), an entry block of 100,000
// arithmetic statements, and an empty file; beside `tcc -c` on a C file of as many
// functions, on one C function of the same statements, and on an empty C file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

#include "bench_files.h"
#include "tests/process_test_support.h"
#include "compiler/parser/parser.h"

static const unsigned FUNCTION_COUNT = 100000;

static void set_up_compiler() {
    static bool done;
    if (done) return;
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) abort();
    connect_parser_routines();
    done = true;
}


// FUNCTION_COUNT lines of the pattern, each given its number twice.
static Bench_File* make_generated_file(const char* pattern, const char* tail, const char* suffix) {
    std::string text;
    char line[160];
    for (unsigned i = 0; i < FUNCTION_COUNT; i++) {
        snprintf(line, sizeof(line), pattern, i, i);
        text += line;
    }
    return new Bench_File(text + tail, suffix);
}

static const Bench_File& get_sub_programs_file() {
    static Bench_File* file =
        make_generated_file("$add_%u: (a: s32, b: s32) -> s32 = { c := a * %u; return c + b; };\n", "#on_load { }\n", ".8");
    return *file;
}

static const Bench_File& get_c_functions_file() {
    static Bench_File* file = make_generated_file("int add_%u(int a, int b) { int c = a * %u; return c + b; }\n", "", ".c");
    return *file;
}

// Three variables, each statement computing one from the others, so nothing folds away.
static const char* const ARITHMETIC_STATEMENTS[] = {
    "a = b * %u + c;\n", "b = a - c * %u;\n", "c = (a + b) / %u + 1;\n", "a = a << 2 ^ b & %u;\n",
};

static std::string make_arithmetic_block(const char* head, const char* tail) {
    std::string text = head;
    char line[96];
    for (unsigned i = 0; i < FUNCTION_COUNT; i++) {
        snprintf(line, sizeof(line), ARITHMETIC_STATEMENTS[i % 4], i % 1000 + 3);
        text += line;
    }
    return text + tail;
}

static const Bench_File& get_arithmetic_block_file() {
    static Bench_File file(make_arithmetic_block("#on_load {\na: s32 = 1;\nb: s32 = 2;\nc: s32 = 3;\n", "}\n"), ".8");
    return file;
}

static const Bench_File& get_arithmetic_function_file() {
    static Bench_File file(make_arithmetic_block("int f(int a, int b, int c) {\n", "return a + b + c;\n}\n"), ".c");
    return file;
}

static void count_statements(benchmark::State& state) {
    state.counters["statements/s"] = benchmark::Counter(FUNCTION_COUNT, benchmark::Counter::kIsIterationInvariantRate);
}

static void run_front_end(benchmark::State& state, const std::string& path) {
    set_up_compiler();
    for (auto _ : state) {
        tmp_reset();
        if (!compile_front_end((u8*)path.data(), path.size(), false, String{})) state.SkipWithError("the file did not compile");
        free_compiler_state();
    }
}

// The object goes to a file of its own: run as root, tcc would replace /dev/null with it.
static void run_tcc(benchmark::State& state, const std::string& path) {
    std::string object = path + ".o";
    std::string command = "tcc -c " + shell_word(path) + " -o " + shell_word(object);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) state.SkipWithError("tcc failed (is it installed?)");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    unlink(object.c_str());
}

static void front_end_100000_unused_sub_programs(benchmark::State& state) { run_front_end(state, get_sub_programs_file().path); }
BENCHMARK(front_end_100000_unused_sub_programs)->Unit(benchmark::kMillisecond);

static void tcc_100000_functions(benchmark::State& state) { run_tcc(state, get_c_functions_file().path); }
BENCHMARK(tcc_100000_functions)->UseManualTime()->Unit(benchmark::kMillisecond);

static void front_end_100000_arithmetic_statements(benchmark::State& state) {
    run_front_end(state, get_arithmetic_block_file().path);
    count_statements(state);
}
BENCHMARK(front_end_100000_arithmetic_statements)->Unit(benchmark::kMillisecond);

static void tcc_100000_arithmetic_statements(benchmark::State& state) {
    run_tcc(state, get_arithmetic_function_file().path);
    count_statements(state);
}
BENCHMARK(tcc_100000_arithmetic_statements)->UseManualTime()->Unit(benchmark::kMillisecond);

static void front_end_empty_file(benchmark::State& state) {
    static Bench_File file("", ".8");
    run_front_end(state, file.path);
}
BENCHMARK(front_end_empty_file)->Unit(benchmark::kMicrosecond);

static void tcc_empty_file(benchmark::State& state) {
    static Bench_File file("", ".c");
    run_tcc(state, file.path);
}
BENCHMARK(tcc_empty_file)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
