// Loop and string kernels compiled from their `.8` source by compile_from_file and run from
// the image it writes, beside the same loops in C compiled by tcc in the same run: array
// sum, byte count, substring search, string equality and recursive Fibonacci. Prints both
// times, best of several runs, and their ratio; the goal is within 1.5 times tcc's time.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "compiler/parser/front_end.h"
#include "tests/compiler/amd64/compiled_program.h"
#include "tests/process_test_support.h"

#define GOAL 1.5

static const char KERNELS_IN_C[] =
    "typedef unsigned long long u64;\n"
    "u64 array_sum(const u64* a, u64 n) { u64 s = 0; for (u64 i = 0; i < n; i++) s += a[i]; return s; }\n"
    "u64 byte_count(const unsigned char* p, u64 n) {\n"
    "    u64 c = 0; for (u64 i = 0; i < n; i++) if (p[i] == 'e') c++; return c; }\n"
    "u64 substring_search(const unsigned char* h, u64 places, const unsigned char* needle, u64 m) {\n"
    "    for (u64 i = 0; i < places; i++) {\n"
    "        u64 j = 0; while (j < m && h[i + j] == needle[j]) j++;\n"
    "        if (j == m) return i;\n"
    "    }\n"
    "    return (u64)-1; }\n"
    "u64 string_equality(const unsigned char* a, const unsigned char* b, u64 n) {\n"
    "    for (u64 i = 0; i < n; i++) if (a[i] != b[i]) return 0; return 1; }\n"
    "u64 fibonacci(u64 n) { return n < 2 ? n : fibonacci(n - 1) + fibonacci(n - 2); }\n";

typedef u64 C_Kernel(const void* first, u64 count, const void* second, u64 count2);

//~ Running

static double seconds_now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

#define RUNS 7

template <typename Run>
static double best_time(Run run) {
    double best = 1e30;
    for (u32 i = 0; i < RUNS; i++) {
        double start = seconds_now();
        run();
        double took = seconds_now() - start;
        if (took < best) best = took;
    }
    return best;
}

// The tcc-compiled C kernels, or null with the reason printed.
static void* compile_with_tcc(char* directory) {
    std::string source = std::string(directory) + "/kernels.c", library = std::string(directory) + "/kernels.so";
    FILE* out = fopen(source.c_str(), "w");
    if (!out) return 0;
    fputs(KERNELS_IN_C, out);
    fclose(out);
    std::string command = "tcc -shared -o " + shell_word(library) + " " + shell_word(source);
    if (system(command.c_str()) != 0) {
        printf("tcc could not compile the C kernels (`make deps` installs it): the comparison is left out.\n");
        return 0;
    }
    void* handle = dlopen(library.c_str(), RTLD_NOW);
    if (!handle) printf("The C kernels could not be loaded: %s\n", dlerror());
    return handle;
}

//~ The kernels in the language

// Each reads "first" and "second" (views of elements or Strings) and "number", and writes
// "result".
static const char ARRAY_SUM[] = "first: [] u64;\nresult: u64;\n"
                                "#on_load {\n    sum: u64 = 0;\n    for first -> x { sum += x; }\n    result = sum;\n}\n";
static const char BYTE_COUNT[] = "first: [] u8;\nresult: u64;\n"
                                 "#on_load {\n    found: u64 = 0;\n    for first -> c { if c == 101 { found += 1; } }\n"
                                 "    result = found;\n}\n";
// The first of the number places of first where second starts; -1 when none.
static const char SUBSTRING_SEARCH[] = "first: [] u8;\nsecond: [] u8;\nnumber: s64;\nresult: s64;\n"
                                       "#on_load {\n"
                                       "    result = -1;\n"
                                       "    m := second.count;\n"
                                       "    for 0, number -> i {\n"
                                       "        j: s64 = 0;\n"
                                       "        while j < m && first[i + j] == second[j] { j += 1; }\n"
                                       "        if j == m { result = i; break; }\n"
                                       "    }\n"
                                       "}\n";
static const char STRING_EQUALITY[] = "first: String;\nsecond: String;\nresult: u64;\n"
                                      "#on_load { if first == second { result = 1; } }\n";
static const char FIBONACCI[] = "number: u64;\nresult: u64;\n"
                                "$fibonacci: (n: u64) -> u64 = {\n"
                                "    if n < 2: return n;\n"
                                "    return fibonacci(n - 1) + fibonacci(n - 2);\n"
                                "};\n"
                                "#on_load { result = fibonacci(number); }\n";

struct Case {
    const char* name;
    const char* c_name;
    const char* source;
    const void* first;
    u64 first_count;
    const void* second;
    u64 second_count;
    u64 number;
};

// An entry block keeps every register of its caller, so C++ calls it directly, as the
// editor does.
typedef void Entry_Block();

static void plant_view(u8* at, const void* data, u64 count) {
    if (!at) return;
    store_u64(at, (u64)data);
    store_u64(at + 8, count);
}

// The kernel's time, best of the runs, and its result; false when it cannot be made.
static bool time_compiled(const Case& c, double* seconds, u64* result) {
    Compiled_Program p = compile_program(c.source, {"first", "second", "number", "result"});
    Harness_Image image;
    if (!p.ok || !harness_load_image(p.image, &image)) {
        printf("%-22s could not be compiled: %s\n", c.name, p.errors.empty() ? "no image" : p.errors[0].c_str());
        return false;
    }
    plant_view(loaded_global(p, image.image, "first"), c.first, c.first_count);
    plant_view(loaded_global(p, image.image, "second"), c.second, c.second_count);
    u8* number = loaded_global(p, image.image, "number");
    if (number) store_u64(number, c.number);
    *seconds = best_time((Entry_Block*)harness_image_entry(&image, LAYER_IMAGE_HAS_ON_LOAD));
    *result = load_u64(loaded_global(p, image.image, "result"));
    harness_unload_image(&image);
    return true;
}

int main() {
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) return 1;
    connect_parser_routines();
    u8 missing = amd64_missing_cpu_features();
    if (missing) {
        printf("Generated code needs AVX: this machine lacks %s.\n", amd64_missing_cpu_features_text(missing));
        return 0;
    }
    std::vector<u64> numbers(1u << 20);
    for (u64 i = 0; i < numbers.size(); i++) numbers[i] = i * 2654435761u;
    std::string text, other;
    while (text.size() < (4u << 20)) text += "The quick brown fox jumps over the lazy dog; see the sheep. ";
    other = text;
    static const char needle[] = "a needle at the end of the haystack";
    std::string haystack = text.substr(0, 1u << 20) + needle;
    u64 needle_length = sizeof(needle) - 1;
    const Case cases[] = {
        {"array sum", "array_sum", ARRAY_SUM, numbers.data(), numbers.size(), 0, 0, 0},
        {"byte count", "byte_count", BYTE_COUNT, text.data(), text.size(), 0, 0, 0},
        {"substring search", "substring_search", SUBSTRING_SEARCH, haystack.data(), haystack.size(), needle,
         needle_length, haystack.size() - needle_length + 1},
        {"string equality", "string_equality", STRING_EQUALITY, text.data(), text.size(), other.data(), other.size(), 0},
        {"recursive Fibonacci", "fibonacci", FIBONACCI, 0, 0, 0, 0, 30},
    };
    char directory[] = "/tmp/quarn-kernels-XXXXXX";
    void* c_kernels = mkdtemp(directory) ? compile_with_tcc(directory) : 0;

    printf("%-22s %12s %12s %8s\n", "kernel", "generated", "tcc", "ratio");
    std::string missed;
    for (const Case& c : cases) {
        double generated;
        u64 generated_result;
        if (!time_compiled(c, &generated, &generated_result)) return 1;
        void* in_c = c_kernels ? dlsym(c_kernels, c.c_name) : 0;
        if (!in_c) {
            printf("%-22s %9.3f ms\n", c.name, generated * 1e3);
            continue;
        }
        u64 c_result = 0;
        double compiled = best_time([&] {
            if (c.source == FIBONACCI) c_result = ((u64(*)(u64))in_c)(c.number);
            else if (c.source == STRING_EQUALITY) c_result = ((u64(*)(const void*, const void*, u64))in_c)(c.first, c.second, c.first_count);
            else if (c.source == SUBSTRING_SEARCH) c_result = ((C_Kernel*)in_c)(c.first, c.number, c.second, c.second_count);
            else c_result = ((C_Kernel*)in_c)(c.first, c.first_count, 0, 0);
        });
        double ratio = generated / compiled;
        printf("%-22s %9.3f ms %9.3f ms %8.2f%s\n", c.name, generated * 1e3, compiled * 1e3, ratio,
               generated_result == c_result ? "" : "  (the results differ!)");
        if (ratio > GOAL) missed += missed.empty() ? c.name : std::string(", ") + c.name;
    }
    if (c_kernels) {
        printf("Goal: within %.1fx of tcc's code. %s\n", GOAL,
               missed.empty() ? "Every kernel meets it." : ("Missed by: " + missed + ".").c_str());
        dlclose(c_kernels);
    }
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    return error ? 1 : 0;
}
