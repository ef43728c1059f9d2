// Time to linked bytecode, beside `tcc -c` on C of the same shape, in the same run:
// - the whole pipeline up to linked bytecode over generated files, one of nested blocks and
//   one of loops, if chains and arithmetic: the first compile of the process and recompiles;
// - the bytecode generator alone (emission, placement, threading and patching) over
//   generated intermediate instructions: sub-programs with a loop, an if chain,
//   arithmetic and a call each, as the front end will make them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "compiler/parser/front_end.h"
#include "bench_files.h"
#include "tests/process_test_support.h"
#include "bytecode_test_builder.h"

static f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}


// The object goes to a file of its own: run as root, tcc would replace /dev/null with it.
static f64 time_tcc(const std::string& path, int runs) {
    std::string object = path + ".o";
    std::string command = "tcc -c " + shell_word(path) + " -o " + shell_word(object);
    f64 total = 0;
    for (int i = 0; i < runs; i++) {
        f64 start = now_seconds();
        int status = system(command.c_str());
        total += now_seconds() - start;
        if (status != 0) total = -1;
        if (total < 0) break;
    }
    unlink(object.c_str());
    return total < 0 ? -1 : total / runs;
}

static void print_row(const char* what, f64 first, f64 again, f64 tcc) {
    printf("%-44s first %8.2f ms  recompile %8.2f ms", what, first * 1e3, again * 1e3);
    if (tcc < 0) printf("  tcc -c: failed (is tcc installed?)\n");
    else printf("  tcc -c %8.2f ms  (recompile / tcc %.2f)\n", tcc * 1e3, again / tcc);
}

//~ The pipeline over generated files

// The time of the last compile's bytecode step alone.
static f64 bytecode_seconds;

static b8 compile_to_bytecode(const std::string& path) {
    tmp_reset();
    u32 syntax, events, on_load;
    u8 flags;
    b8 ok = compile_front_end((u8*)path.data(), path.size(), false, String{});
    f64 start = now_seconds();
    ok = ok && make_bytecode_from_state(&syntax, &events, &on_load, &flags);
    bytecode_seconds = now_seconds() - start;
    free_compiler_state();
    return ok;
}

static void time_pipeline(const char* what, const std::string& source, const std::string& c) {
    Bench_File file(source, ".8"), c_file(c, ".c");
    f64 start = now_seconds();
    if (!compile_to_bytecode(file.path)) {
        printf("%s: the generated file did not compile\n", what);
        return;
    }
    f64 first = now_seconds() - start;
    const int runs = 5;
    start = now_seconds();
    for (int i = 0; i < runs; i++) compile_to_bytecode(file.path);
    f64 again = (now_seconds() - start) / runs;
    print_row(what, first, again, time_tcc(c_file.path, 3));
    printf("  (of a recompile, the bytecode step %.2f ms)\n", bytecode_seconds * 1e3);
}

static const unsigned BLOCK_LINES = 50000;

static void bench_pipeline_blocks() {
    std::string source = "#on_load {\n", c = "void g(void);\nvoid f(void) {\n";
    for (unsigned i = 0; i < BLOCK_LINES; i++) {
        source += "    { debug_break; { debug_break; } }\n";
        c += "    { g(); { g(); } }\n";
    }
    source += "}\n";
    c += "}\n";
    time_pipeline("pipeline, 100,000 blocks to linked bytecode", source, c);
}

static const unsigned LOOP_BLOCKS = 5000;

// A block of a while loop over an if chain cut at ||, arithmetic and a counted for loop.
static const std::string LOOP_BLOCK =
    "    {\n        i: s64 = 0; s: s64 = 0;\n"
    "        while i < 100 { if i == 5 || s > 9 { s += 2; } else { s -= 1; } s *= 3; i += 1; }\n"
    "        for 0, 10 -> k { s += k; }\n        total += s;\n    }\n";
static const std::string C_LOOP_BLOCK =
    "    {\n        long i = 0, s = 0;\n"
    "        while (i < 100) { if (i == 5 || s > 9) { s += 2; } else { s -= 1; } s *= 3; i += 1; }\n"
    "        for (long k = 0; k < 10; k++) { s += k; }\n        total += s;\n    }\n";

static void bench_pipeline_loops() {
    std::string source = "#on_load {\n    total: s64;\n", c = "long f(void) {\n    long total = 0;\n";
    for (unsigned n = 0; n < LOOP_BLOCKS; n++) {
        source += LOOP_BLOCK;
        c += C_LOOP_BLOCK;
    }
    source += "}\n";
    c += "    return total;\n}\n";
    time_pipeline("pipeline, 5,000 blocks of loops and ifs", source, c);
}

//~ The generator over generated instructions

static const unsigned SUB_PROGRAMS = 2000;

static const std::string ONE_LINE = "x\n";

// Each body: a counter and a sum, a while loop over an if chain, arithmetic, and a call of
// the next sub-program, as `while i < 100 { if i == 5 || s > 9 { s += 2; } else { s -= 1; }
// s *= 3; i += 1; } next(s);` would make them.
static void build_program() {
    reset_test_program(ONE_LINE);
    Identifier* s64_type = type_of(BASIC_TYPE_S64);
    std::vector<Sub_Program*> subs;
    for (unsigned n = 0; n < SUB_PROGRAMS; n++) {
        std::string name = "s";
        name += std::to_string(n);
        subs.push_back(add_test_sub_program(strdup(name.c_str()), 1, s64_type));
    }
    for (unsigned n = 0; n < SUB_PROGRAMS; n++) {
        Scope* body = subs[n]->body_scope;
        start_body(body, 1);
        Value i = variable(body, s64_type, 1), s = variable(body, s64_type, 1);
        add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = i;
        add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = s;
        Instruction_While* w = add_while(body, 1);
        Scope* loop = w->loop_scope;
        w->conditions = make_condition(loop, {{0, i, 100, BYTECODE_JUMP_GREATER_EQUAL}}, 1);
        std::vector<Scope*> links = add_if_chain(
            loop,
            {make_condition(loop, {{0, i, 5, BYTECODE_JUMP_NOT_EQUAL}, {OP_LOGICAL_OR}, {0, s, 9, BYTECODE_JUMP_LESS_EQUAL}}, 1)},
            true, 1);
        add_arithmetic(links[0], INSTRUCTION_ARITHMETIC_CONSTANT, OP_ADD, s, int_constant(2, s64_type, 1));
        add_arithmetic(links[1], INSTRUCTION_ARITHMETIC_CONSTANT, OP_SUBTRACT, s, int_constant(1, s64_type, 1));
        add_arithmetic(loop, INSTRUCTION_ARITHMETIC_CONSTANT, OP_MULTIPLY, s, int_constant(3, s64_type, 1));
        add_arithmetic(loop, INSTRUCTION_ARITHMETIC_CONSTANT, OP_ADD, i, int_constant(1, s64_type, 1));
        Register_Id block = allocate_a_register(body, 16, nullptr, 8);
        Value argument = {};
        make_dynamic_value_from_register(&argument, allocate_within_register(block, 0, 8), s64_type, line_trace(1));
        add_copy(body, INSTRUCTION_COPY, argument, s);
        Value result = variable(body, s64_type, 1);
        add_call(body, subs[(n + 1) % SUB_PROGRAMS], 1, block, result.dynamic.register_id,
                 CALL_ARGUMENT_BLOCK | CALL_EXPECTS_A_VALUE | CALL_SCALAR_RETURN);
        end_body(body, 1);
    }
}

static f64 time_generation() {
    build_program();
    u32 syntax, events, on_load;
    u8 flags;
    f64 start = now_seconds();
    if (!make_bytecode_from_state(&syntax, &events, &on_load, &flags)) abort();
    return now_seconds() - start;
}

static void bench_generator() {
    std::string c;
    for (unsigned n = 0; n < SUB_PROGRAMS; n++) c += "long s" + std::to_string(n) + "(long);\n";
    for (unsigned n = 0; n < SUB_PROGRAMS; n++) {
        char text[400];
        snprintf(text, sizeof(text),
                 "long s%u(long a) { long i = 0, s = 0; while (i < 100) { if (i == 5 || s > 9) s += 2; else s -= 1; "
                 "s *= 3; i += 1; } long r = s%u(s); return r; }\n",
                 n, (n + 1) % SUB_PROGRAMS);
        c += text;
    }
    Bench_File c_file(c, ".c");
    f64 first = time_generation();
    const int runs = 5;
    f64 total = 0;
    for (int i = 0; i < runs; i++) total += time_generation();
    print_row("generator, 2,000 sub-programs", first, total / runs, time_tcc(c_file.path, 3));
    printf("  (%u records of bytecode; tcc also parses its C, the generator starts from instructions)\n",
           global_compiler_state.bytecode.count);
}

int main() {
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) return 1;
    connect_parser_routines();
    bench_pipeline_blocks();
    bench_pipeline_loops();
    bench_generator();
    return 0;
}
