// Loop and string kernels in generated code, beside the same loops in C compiled by tcc
// in the same run: array sum, byte count, substring search, string equality and recursive
// Fibonacci. Array sum, byte count and string equality are compiled from their `.8`
// source by compile_from_file and run from the image it writes; substring search and
// Fibonacci need indexing and calls, which the front end does not make yet, so they are
// the bytecode a compile of their source gives, written by hand. Prints both times, best
// of several runs, and their ratio; the goal is within 1.5 times tcc's time.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/compiled_program.h"
#include "tests/compiler/amd64/translation_fixture.h"

#define ENTRY_SAVES (15 * 8 + 16 * 32)
#define SUB_PROGRAM_SAVES 24
#define GOAL 1.5

// What a kernel reads and writes: two pointers, two counts and the result, all globals.
struct Kernel {
    Translation_Fixture f;
    std::vector<Bytecode_Instruction> program;
    Scope* entry;
    Register_Id first, second, count, count2, result;
    Register_Id r[16];  // general-purpose machine registers of the entry block, 8 octets
};

static void begin(Kernel* k) {
    fixture_reset(&k->f, 0);
    k->entry = fixture_frame(&k->f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 8, 0xFF00);
    k->first = fixture_global(&k->f, 8, 8);
    k->second = fixture_global(&k->f, 8, 8);
    k->count = fixture_global(&k->f, 8, 8);
    k->count2 = fixture_global(&k->f, 8, 8);
    k->result = fixture_global(&k->f, 8, 8);
    for (u8 n = AMD64_R8; n <= AMD64_R15; n++) k->r[n] = fixture_local_register(k->entry, MACHINE_CLASS_INTEGER, n, 8);
    k->program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, k->entry)};
}

static void add(Kernel* k, Bytecode_Instruction i) { k->program.push_back(i); }
static u64 here(Kernel* k) { return k->program.size(); }

static void end(Kernel* k) {
    add(k, fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, k->entry));
    add(k, fixture_instruction(BYTECODE_RETURN));
}

static Bytecode_Instruction compare(Register_Id a, Register_Id b) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_COMPARE);
    i.compare_flags.left = a;
    i.compare_flags.right = b;
    i.compare_flags.size = (u8)amd64_get_register_size(a);
    return i;
}

static Bytecode_Instruction arithmetic(Register_Id a, Register_Id b, u64 operator_bit) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_INT_ARITHMETIC);
    i.int_arithmetic = {a, b, operator_bit, 0, 0, 0};
    return i;
}

static Bytecode_Instruction element(u8 kind, Register_Id a, Register_Id base, Register_Id index, u16 size) {
    Bytecode_Instruction i = fixture_instruction(kind);
    i.address = {a, base, index, size, size, 0, 0};
    return i;
}

static Bytecode_Instruction block_compare(Register_Id a, Register_Id b, Register_Id size) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_MEMCMP);
    i.compare = {a, b, size};
    return i;
}

// while i < n { body } with i in R11 and n in R9; the body is added by the caller between.
static u64 loop_start(Kernel* k) {
    add(k, fixture_constant_copy(k->r[AMD64_R11], 0, 8));
    u64 start = here(k);
    add(k, compare(k->r[AMD64_R11], k->r[AMD64_R9]));
    add(k, fixture_jump(BYTECODE_JUMP_GREATER_EQUAL, 0, 1));
    return start;
}

static void loop_end(Kernel* k, u64 start) {
    add(k, fixture_arithmetic_constant(k->r[AMD64_R11], OP_ADD, 1, 8));
    add(k, fixture_jump(BYTECODE_JUMP, start));
    k->program[start + 1].jump.target = here(k) * sizeof(Bytecode_Instruction);
}

//~ Kernels

// The first place of the needle (second, count2 octets) among the count places of the
// haystack where it may start; -1 when none.
static void substring_search(Kernel* k) {
    Register_Id* r = k->r;
    begin(k);
    add(k, fixture_copy(r[AMD64_R8], k->first));
    add(k, fixture_copy(r[AMD64_R9], k->count));
    add(k, fixture_copy(r[AMD64_R13], k->second));
    add(k, fixture_copy(r[AMD64_R14], k->count2));
    add(k, fixture_constant_copy(k->result, (u64)-1, 8));
    u64 loop = loop_start(k);
    add(k, element(BYTECODE_CALCULATE_ADDRESS, r[AMD64_R12], r[AMD64_R8], r[AMD64_R11], 1));
    add(k, block_compare(r[AMD64_R12], r[AMD64_R13], r[AMD64_R14]));
    add(k, fixture_jump(BYTECODE_JUMP_NOT_EQUAL, here(k) + 3));
    add(k, fixture_copy(k->result, r[AMD64_R11]));
    u64 found = here(k);
    add(k, fixture_jump(BYTECODE_JUMP, 0));
    loop_end(k, loop);
    k->program[found].jump.target = here(k) * sizeof(Bytecode_Instruction);
    end(k);
}

// fib(n) = n < 2 ? n : fib(n - 1) + fib(n - 2), its argument and result in its block.
static void fibonacci(Kernel* k) {
    begin(k);
    Translation_Fixture* f = &k->f;
    Sub_Program* fib = fixture_sub_program(f);
    Register_Id block = fixture_local(k->entry, ENTRY_SAVES, 16);
    add(k, fixture_copy(fixture_view(block, 0, 8), k->count));
    add(k, fixture_call(BYTECODE_CALL, fib, block, fixture_view(block, 8, 8), CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN));
    add(k, fixture_copy(k->result, fixture_view(block, 8, 8)));
    k->entry->stack_size = ENTRY_SAVES + 16;
    end(k);

    Scope* body = fixture_frame(f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 24);
    Register_Id n = fixture_view(f->call_data_block, 0, 8);
    Register_Id returned = fixture_view(f->call_data_block, 8, 8);
    amd64_get_register(returned)->return_register = RETURN_REGISTER_RAX;
    Register_Id inner = fixture_local(body, SUB_PROGRAM_SAVES, 16);
    Register_Id first = fixture_local(body, SUB_PROGRAM_SAVES + 16, 8);
    Register_Id inner_n = fixture_view(inner, 0, 8), inner_result = fixture_view(inner, 8, 8);
    fib->bytecode_start = here(k) * sizeof(Bytecode_Instruction);
    add(k, fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, body));
    add(k, fixture_instruction(BYTECODE_COPY_ARGUMENTS_ADDRESS));
    add(k, fixture_compare_to_constant(n, 2));
    add(k, fixture_jump(BYTECODE_JUMP_GREATER_EQUAL, here(k) + 3, 1));
    add(k, fixture_copy(returned, n));
    u64 to_end = here(k);
    add(k, fixture_jump(BYTECODE_JUMP, 0));
    for (u64 minus : {1, 2}) {
        add(k, fixture_copy(inner_n, n));
        add(k, fixture_arithmetic_constant(inner_n, OP_SUBTRACT, minus, 8));
        add(k, fixture_call(BYTECODE_CALL, fib, inner, inner_result, CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN));
        if (minus == 1) add(k, fixture_copy(first, inner_result));
    }
    add(k, arithmetic(first, inner_result, OP_ADD));
    add(k, fixture_copy(returned, first));
    k->program[to_end].jump.target = here(k) * sizeof(Bytecode_Instruction);
    add(k, fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, body));
    add(k, fixture_instruction(BYTECODE_RETURN));
}

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
    std::string command = "tcc -shared -o " + library + " " + source;
    if (system(command.c_str()) != 0) {
        printf("tcc could not compile the C kernels (`make deps` installs it): the comparison is left out.\n");
        return 0;
    }
    void* handle = dlopen(library.c_str(), RTLD_NOW);
    if (!handle) printf("The C kernels could not be loaded: %s\n", dlerror());
    return handle;
}

//~ Kernels compiled from source

// Each reads "first" (and "second"), a view of elements or a String, and writes "result".
static const char ARRAY_SUM[] = "first: [] u64;\nresult: u64;\n"
                                "#on_load {\n    sum: u64 = 0;\n    for first -> x { sum += x; }\n    result = sum;\n}\n";
static const char BYTE_COUNT[] = "first: [] u8;\nresult: u64;\n"
                                 "#on_load {\n    found: u64 = 0;\n    for first -> c { if c == 101 { found += 1; } }\n"
                                 "    result = found;\n}\n";
static const char STRING_EQUALITY[] = "first: String;\nsecond: String;\nresult: u64;\n"
                                      "#on_load { if first == second { result = 1; } }\n";

struct Case {
    const char* name;      // also the C kernel's name, with '_' for ' '
    const char* source;    // compiled from source, or
    void (*build)(Kernel*);  // built as bytecode
    const void* first;
    u64 count;
    const void* second;
    u64 count2;
};

// An entry block keeps every register of its caller, so C++ calls it directly, as the
// editor does.
typedef void Entry_Block();

// The kernel's time, best of the runs, and its result; false when it cannot be made.
static bool time_compiled(const Case& c, double* seconds, u64* result) {
    Compiled_Program p = compile_program(c.source, {"first", "second", "result"});
    Harness_Image image;
    if (!p.ok || !harness_load_image(p.image, &image)) {
        printf("%-22s could not be compiled: %s\n", c.name, p.errors.empty() ? "no image" : p.errors[0].c_str());
        return false;
    }
    u8* globals = image.image + ((Compiled_Layer_Header*)image.image)->global_data_offset;
    u8* first = loaded_global(p, image.image, "first");
    u8* second = loaded_global(p, image.image, "second");
    store_u64(first, (u64)c.first);
    store_u64(first + 8, c.count);
    if (second) {
        store_u64(second, (u64)c.second);
        store_u64(second + 8, c.count2);
    }
    *seconds = best_time((Entry_Block*)harness_image_entry(&image, LAYER_IMAGE_HAS_ON_LOAD));
    *result = load_u64(globals + p.globals["result"]);
    harness_unload_image(&image);
    return true;
}

static bool time_built(const Case& c, double* seconds, u64* result) {
    Kernel k;
    c.build(&k);
    Dynamic_Array bytecode = {};
    bytecode.data = (u8*)k.program.data();
    bytecode.element_size = sizeof(Bytecode_Instruction);
    bytecode.count = bytecode.capacity = (u32)k.program.size();
    Amd64_Output output = {};
    if (!amd64_translate_bytecode(&bytecode, &output)) {
        printf("%-22s could not be translated: %s\n", c.name, ((Compile_Error*)compile_errors.data)[0].message);
        amd64_free_output(&output);
        return false;
    }
    Harness_Program p;
    p.code.assign(output.code.data, output.code.data + output.code.count);
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)output.data_relocations.data;
    p.data_relocations.assign(r, r + output.data_relocations.count);
    p.constants = k.f.constants;
    p.globals = k.f.globals;
    p.call_data = k.f.call_data;
    amd64_free_output(&output);
    Harness_Layout l;
    if (!harness_load(p, &l)) return false;
    store_u64(l.globals + fixture_offset(k.first), (u64)c.first);
    store_u64(l.globals + fixture_offset(k.second), (u64)c.second);
    store_u64(l.globals + fixture_offset(k.count), c.count);
    store_u64(l.globals + fixture_offset(k.count2), c.count2);
    *seconds = best_time((Entry_Block*)l.code);
    *result = load_u64(l.globals + fixture_offset(k.result));
    harness_unload(&l);
    return true;
}

int main() {
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) return 1;
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
        {"array sum", ARRAY_SUM, 0, numbers.data(), numbers.size(), 0, 0},
        {"byte count", BYTE_COUNT, 0, text.data(), text.size(), 0, 0},
        {"substring search", 0, substring_search, haystack.data(), haystack.size() - needle_length + 1, needle,
         needle_length},
        {"string equality", STRING_EQUALITY, 0, text.data(), text.size(), other.data(), other.size()},
        {"recursive Fibonacci", 0, fibonacci, 0, 30, 0, 0},
    };
    char directory[] = "/tmp/quarn-kernels-XXXXXX";
    void* c_kernels = mkdtemp(directory) ? compile_with_tcc(directory) : 0;

    printf("%-22s %12s %12s %8s\n", "kernel", "generated", "tcc", "ratio");
    std::string missed;
    for (const Case& c : cases) {
        double generated;
        u64 generated_result;
        if (!(c.source ? time_compiled(c, &generated, &generated_result) : time_built(c, &generated, &generated_result))) {
            return 1;
        }
        std::string c_name = c.name;
        for (char& ch : c_name) ch = ch == ' ' ? '_' : ch;
        if (c_name == "recursive_Fibonacci") c_name = "fibonacci";
        C_Kernel* in_c = c_kernels ? (C_Kernel*)dlsym(c_kernels, c_name.c_str()) : 0;
        if (!in_c) {
            printf("%-22s %9.3f ms\n", c.name, generated * 1e3);
            continue;
        }
        u64 c_result = 0;
        double compiled = best_time([&] {
            if (c.build == fibonacci) c_result = ((u64(*)(u64))(void*)in_c)(c.count);
            else if (c.source == STRING_EQUALITY) c_result = ((u64(*)(const void*, const void*, u64))(void*)in_c)(c.first, c.second, c.count);
            else c_result = in_c(c.first, c.count, c.second, c.count2);
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
    std::string remove = std::string("rm -rf ") + directory;
    if (system(remove.c_str()) != 0) return 1;
    return 0;
}
