// The whole compile as the editor runs it, from sources to a written "custom.8b":
// - the shipped layer (inject.8, api.8, custom.8 with syntax.8 and themes_latest.8);
// - a generated file of 100,000 lines, sub-programs with arithmetic, an if chain and a loop,
//   every one called from #on_load, beside `tcc -c` on the same program in C, same run.
// First compile of the process, then the mean of recompiles; lines per second of each.
// Goal: faster than tcc per line.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <string>

#include "compiler/core/compiler_core.h"
#include "compiler/parser/compile_pipeline.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "runtime/runtime.h"

namespace {

f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

std::string directory;

void write_file(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size()) abort();
    fclose(f);
}

u64 count_lines(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    u64 lines = 0;
    for (int c; f && (c = fgetc(f)) != EOF;) lines += c == '\n';
    if (f) fclose(f);
    return lines;
}

b8 compile_directory() {
    std::string custom = directory + "/custom.8";
    Version_Info version = EDITOR_VERSION;
    tmp_reset();
    compile_errors.count = 0;
    return compile_from_file((u8*)custom.data(), custom.size(), &version);
}

// The first compile and the mean of five more, in seconds; false when a compile failed.
b8 time_compiles(f64* first, f64* again) {
    f64 start = now_seconds();
    if (!compile_directory()) return false;
    *first = now_seconds() - start;
    const int runs = 5;
    start = now_seconds();
    for (int i = 0; i < runs; i++) {
        if (!compile_directory()) return false;
    }
    *again = (now_seconds() - start) / runs;
    return true;
}

void print_first_error() {
    if (!compile_errors.count) return;
    printf("  the compile failed: %s\n", (char*)((Compile_Error*)compile_errors.data)->message);
}

void copy_layer_file(const char* name) {
    std::filesystem::copy_file(std::string(QUARN_SOURCE_DIR) + "/layer/" + name, directory + "/" + name,
                               std::filesystem::copy_options::overwrite_existing);
}

void bench_shipped_layer() {
    for (const char* name : {"inject.8", "api.8", "custom.8", "syntax.8", "themes_latest.8"}) copy_layer_file(name);
    u64 lines = 0;
    for (const char* name : {"inject.8", "api.8", "custom.8", "syntax.8", "themes_latest.8"}) {
        lines += count_lines(directory + "/" + name);
    }
    f64 first, again;
    if (!time_compiles(&first, &again)) return print_first_error();
    printf("%-34s first %8.2f ms  recompile %8.2f ms  (%llu lines, %.0f lines/s)\n", "shipped layer", first * 1e3,
           again * 1e3, (unsigned long long)lines, lines / again);
}

u32 GENERATED_LINES = 100000;

void bench_generated_file() {
    for (const char* name : {"inject.8", "api.8"}) copy_layer_file(name);
    // Six lines a sub-program and one line to call it.
    u32 count = GENERATED_LINES / 7;
    std::string source, c = "long total;\n";
    for (u32 i = 0; i < count; i++) {
        std::string n = std::to_string(i);
        source += "$sub_" + n + ": (a: s64, b: s64) -> s64 = {\n    c := a + b;\n"
                  "    if c > 10 { c -= 3; } else { c += 1; }\n    while c > 100 { c = c / 2; }\n"
                  "    return c * 2;\n};\n";
        c += "long sub_" + n + "(long a, long b) {\n    long c = a + b;\n"
             "    if (c > 10) { c -= 3; } else { c += 1; }\n    while (c > 100) { c = c / 2; }\n"
             "    return c * 2;\n}\n";
    }
    source += "total: s64;\n#on_load {\n";
    c += "void on_load(void) {\n";
    for (u32 i = 0; i < count; i++) {
        source += "    total += sub_" + std::to_string(i) + "(" + std::to_string(i) + ", 2);\n";
        c += "    total += sub_" + std::to_string(i) + "(" + std::to_string(i) + ", 2);\n";
    }
    source += "}\n";
    c += "}\n";
    write_file(directory + "/custom.8", source);
    write_file(directory + "/program.c", c);
    u64 lines = count_lines(directory + "/custom.8");

    f64 first, again;
    if (!time_compiles(&first, &again)) return print_first_error();
    printf("%-34s first %8.2f ms  recompile %8.2f ms  (%llu lines, %.0f lines/s)\n", "generated .8", first * 1e3,
           again * 1e3, (unsigned long long)lines, lines / again);

    // The object goes to a file of its own: run as root, tcc would replace /dev/null with it.
    std::string command = "tcc -c '" + directory + "/program.c' -o '" + directory + "/program.o'";
    const int runs = 3;
    f64 start = now_seconds();
    for (int i = 0; i < runs; i++) {
        if (system(command.c_str()) != 0) {
            printf("  tcc -c failed (`make deps` installs tcc): the comparison is left out.\n");
            return;
        }
    }
    f64 tcc = (now_seconds() - start) / runs;
    u64 c_lines = count_lines(directory + "/program.c");
    printf("%-34s mean %9.2f ms  (%llu lines, %.0f lines/s)\n", "tcc -c on the same C", tcc * 1e3,
           (unsigned long long)c_lines, c_lines / tcc);
    f64 ratio = (again / lines) / (tcc / c_lines);
    printf("Goal: faster than tcc per line. Time per line / tcc's: %.2f (%s)\n", ratio, ratio < 1 ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) GENERATED_LINES = (u32)atoi(argv[1]);  // another size, to look into one
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    char pattern[] = "/tmp/quarn_bench_layer_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    directory = pattern;
    executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
    if (!init_compiler(executable_filepath)) return 1;
    init_logging();  // the compile's log lines stay in the buffer
    setup_foreign_routines_table();
    bench_shipped_layer();
    bench_generated_file();
    std::filesystem::remove_all(directory);
    return 0;
}
