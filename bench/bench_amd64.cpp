// What the code generator costs: the encoders on a mix of memory forms, the unrolled
// block copies (code size grows with the block), whole bytecode instructions of the
// zeroing, copy, arithmetic, cast and compare kinds translated one after another, and
// how fast the generated block compare runs beside the C library's memcmp.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include "compiler/amd64/amd64.h"

static void reset(Dynamic_Array* code, Dynamic_Array* relocations) {
    code->count = 0;
    relocations->count = 0;
}

// Eight instructions per pass: stack, RIP-relative, indexed and register forms, a VEX move.
static void encode_instruction_mix(benchmark::State& state) {
    Dynamic_Array code, relocations;
    init_dynamic_array(&code, 1);
    init_dynamic_array(&relocations, sizeof(Amd64_Data_Relocation));
    Amd64_Memory_Operand stack = amd64_make_memory_operand_from(AMD64_RSP, 0x40);
    Amd64_Memory_Operand global = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 0x100);
    Amd64_Memory_Operand indexed = amd64_make_full_sib_memory_operand(AMD64_R13, AMD64_RCX, 8, 0);
    for (auto _ : state) {
        if (code.count > (1u << 20)) reset(&code, &relocations);
        amd64_emit_reg_rm(&code, &relocations, 0, AMD64_REX_W, 0x8B, amd64_gp_register(AMD64_RAX), stack, 0);
        amd64_emit_reg_rm(&code, &relocations, 0, AMD64_REX_W, 0x89, amd64_gp_register(AMD64_R9), global, 0);
        amd64_emit_rm(&code, &relocations, 0, 0, 0x81, 0x38, global, 0, 0x12345678, 4);
        amd64_emit_reg_rm(&code, &relocations, 0, AMD64_REX_W, 0x8D, amd64_gp_register(AMD64_RDX), indexed, 0);
        amd64_emit_reg_rm(&code, &relocations, 0xF2, 0, 0x0F10, amd64_xmm_register(9), stack, 8);
        amd64_emit_rm(&code, &relocations, 0, AMD64_REX_BYTE_FORM, 0x0F95, 0, amd64_gp_register(AMD64_RSI), 0, 0, 0);
        amd64_emit_reg_rm(&code, &relocations, 0, AMD64_REX_W, 0x8B, amd64_gp_register(AMD64_R12),
                          amd64_gp_register(AMD64_R15), 0);
        amd64_emit_vex_reg_rm(&code, &relocations, 0xE1, 0x7E, 0x7F, amd64_xmm_register(3), stack, 0);
    }
    state.SetItemsProcessed(state.iterations() * 8);
    dynamic_array_free(&code);
    dynamic_array_free(&relocations);
}
BENCHMARK(encode_instruction_mix);

static void generate_block_copy(benchmark::State& state) {
    u32 size = (u32)state.range(0);
    Dynamic_Array code, relocations;
    init_dynamic_array(&code, 1);
    init_dynamic_array(&relocations, sizeof(Amd64_Data_Relocation));
    Amd64_Temporary_Mask mask = {};
    Amd64_Memory_Operand source = amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, 0);
    Amd64_Memory_Operand destination = amd64_make_memory_operand_from(AMD64_RSP, 0x20);
    u64 octets = 0;
    for (auto _ : state) {
        reset(&code, &relocations);
        amd64_copy_data(size, &code, &relocations, &mask, destination, source);
        octets += code.count;
    }
    state.counters["code octets"] = (double)octets / (double)state.iterations();
    dynamic_array_free(&code);
    dynamic_array_free(&relocations);
}
BENCHMARK(generate_block_copy)->Arg(8)->Arg(45)->Arg(100)->Arg(1000);

// Translates the program once per pass, as the compile driver would, and reports the
// instructions per second and the code octets each one became.
static void translate_repeatedly(benchmark::State& state, Bytecode_Instruction* program, u32 count) {
    Dynamic_Array code, jumps, calls, data, slots, prologues;
    init_dynamic_array(&code, 1);
    init_dynamic_array(&jumps, sizeof(Amd64_Code_Relocation));
    init_dynamic_array(&calls, sizeof(Amd64_Code_Relocation));
    init_dynamic_array(&data, sizeof(Amd64_Data_Relocation));
    init_dynamic_array(&slots, 8);
    init_dynamic_array(&prologues, sizeof(Amd64_Prologue));
    Amd64_Temporary_Mask mask = {};
    u64 octets = 0;
    for (auto _ : state) {
        code.count = data.count = 0;
        for (u32 i = 0; i < count; i++) {
            Bytecode_Instruction& b = program[i];
            bytecode_instruction_to_amd64(&b, &code, &jumps, &calls, &data, &slots, &mask, &prologues);
            b.code_end = code.count;
        }
        octets += code.count;
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["failed"] = compile_errors.count;
    state.counters["code octets per instruction"] = (double)octets / (double)state.iterations() / (double)count;
    for (Dynamic_Array* a : {&code, &jumps, &calls, &data, &slots, &prologues}) dynamic_array_free(a);
}

// 1,000 instructions: zeroing, constants and copies of 8, 24 and 100 octets between
// globals and the stack.
static void translate_zeroing_and_copies(benchmark::State& state) {
    reset_compiler();
    static Scope scope;
    init_dynamic_array(&scope.local_registers, sizeof(Register));
    Register_Id ids[6];
    static const u32 sizes[3] = {8, 24, 100};
    for (u32 i = 0; i < 6; i++) {
        b8 local = i >= 3;
        Dynamic_Array* table = local ? &scope.local_registers : &global_compiler_state.global_registers;
        Register* r = (Register*)dynamic_array_add_fast(table);
        *r = Register{};
        r->kind = local ? REGISTER_LOCAL : REGISTER_GLOBAL_DATA;
        r->size = sizes[i % 3];
        r->data_offset = 128 * (i % 3);
        ids[i] = Register_Id{local ? &scope : 0, table->count - 1, r->kind, r->kind, {0, 0}};
    }
    static Bytecode_Instruction program[1000];
    for (u32 i = 0; i < 1000; i++) {
        Bytecode_Instruction* b = &program[i];
        *b = Bytecode_Instruction{};
        u32 size = (i / 3) % 3, local = (i / 9) % 2;
        Register_Id destination = ids[3 * local + size], source = ids[3 * (1 - local) + size];
        if (i % 3 == 0) {
            b->kind = BYTECODE_SET_TO_ZERO;
            b->set_to_zero.destination = destination;
            b->set_to_zero.size = sizes[size];
        } else if (i % 3 == 1) {
            b->kind = BYTECODE_COPY_CONSTANT_NUMBER;
            b->copy_constant_number.destination = ids[3 * local];
            b->copy_constant_number.immediate = 0x123456789ull * i;
            b->copy_constant_number.destination_size = 8;
        } else {
            b->kind = BYTECODE_COPY;
            b->copy.destination = destination;
            b->copy.source = source;
        }
    }
    translate_repeatedly(state, program, 1000);
    dynamic_array_free(&scope.local_registers);
}
BENCHMARK(translate_zeroing_and_copies);

// 1,000 instructions cycling through integer arithmetic by a register and by constants
// (multiplications and divisions among them), float arithmetic, casts, compares and
// stored results, on globals, stack slots and machine registers.
static void translate_arithmetic_casts_and_compares(benchmark::State& state) {
    reset_compiler();
    static Scope scope;
    init_dynamic_array(&scope.local_registers, sizeof(Register));
    auto add = [](Dynamic_Array* table, Scope* owner, u8 kind, u32 size, u32 offset, u8 machine_class, u8 number) {
        Register* r = (Register*)dynamic_array_add_fast(table);
        *r = Register{};
        r->kind = kind;
        r->size = size;
        r->data_offset = offset;
        r->machine_class = machine_class;
        r->machine_number = number;
        r->in_machine_register = number != 0;
        return Register_Id{owner, table->count - 1, kind, kind, {0, 0}};
    };
    Register_Id global = add(&global_compiler_state.global_registers, 0, REGISTER_GLOBAL_DATA, 4, 64, 0, 0);
    Register_Id stack = add(&scope.local_registers, &scope, REGISTER_LOCAL, 4, 16, 0, 0);
    Register_Id r9 = add(&scope.local_registers, &scope, REGISTER_LOCAL, 4, 0, MACHINE_CLASS_INTEGER, AMD64_R9);
    Register_Id f64_global = add(&global_compiler_state.global_registers, 0, REGISTER_GLOBAL_DATA, 8, 128, 0, 0);
    Register_Id xmm5 = add(&scope.local_registers, &scope, REGISTER_LOCAL, 8, 0, MACHINE_CLASS_FLOAT, 5);
    static Bytecode_Instruction program[1000];
    static const u64 operators[] = {OP_ADD, OP_MULTIPLY, OP_DIVIDE, OP_MODULO, OP_SHIFT_RIGHT};
    for (u32 i = 0; i < 1000; i++) {
        Bytecode_Instruction* b = &program[i];
        *b = Bytecode_Instruction{};
        b->operand_a = b->operand_b = b->operand_c = INVALID_REGISTER_ID;
        Register_Id a = i % 3 == 0 ? global : i % 3 == 1 ? stack : r9;
        switch (i % 8) {
            case 0: case 1:
                b->kind = BYTECODE_INT_ARITHMETIC;
                b->int_arithmetic = {a, i % 2 ? r9 : stack, operators[i % 5], 0, 0, (u8)(i % 2)};
                break;
            case 2: case 3:
                b->kind = BYTECODE_INT_ARITHMETIC_CONSTANT;
                b->int_arithmetic_constant = {a, 3 + i % 70, 4, operators[i % 5], 0, (u8)(i % 2)};
                break;
            case 4:
                b->kind = BYTECODE_FLOAT_ARITHMETIC;
                b->float_arithmetic = {i % 2 ? xmm5 : f64_global, i % 2 ? f64_global : xmm5, OP_MULTIPLY};
                break;
            case 5:
                b->kind = BYTECODE_CAST_INT_TO_FLOAT;
                b->cast = {xmm5, a, 8, 0, (u8)(i % 2)};
                break;
            case 6:
                b->kind = BYTECODE_COMPARE;
                b->compare_flags = {a, r9, 0, 4};
                break;
            case 7:
                b->kind = BYTECODE_STORE_COMPARE_RESULT;
                b->store_compare_result = {stack, OP_LESS, (u8)(i % 2), 0, 0};
                break;
        }
    }
    translate_repeatedly(state, program, 1000);
    dynamic_array_free(&scope.local_registers);
}
BENCHMARK(translate_arithmetic_casts_and_compares);

//~ Generated code at run time

typedef int Block_Compare(const void* a, const void* b, u64 size);

// push rbx; the generated block compare of [rdi] and [rsi] over rdx octets; sete al;
// movzx eax, al; pop rbx; ret. RBX is one of its temporaries and the caller's to keep.
static Block_Compare* make_block_compare(void** mapping) {
    Dynamic_Array code;
    init_dynamic_array(&code, 1);
    Amd64_Temporary_Mask mask = {};
    mask.gp = (1u << AMD64_RDI) | (1u << AMD64_RSI) | (1u << AMD64_RDX);
    static const u8 push_rbx = 0x53, tail[7] = {0x0F, 0x94, 0xC0, 0x0F, 0xB6, 0xC0, 0x5B}, ret = 0xC3;
    amd64_emit(&code, &push_rbx, 1);
    amd64_memcmp(AMD64_RDI, AMD64_RSI, AMD64_RDX, &code, &mask);
    amd64_emit(&code, tail, 7);
    amd64_emit(&code, &ret, 1);
    *mapping = mmap(0, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    memcpy(*mapping, code.data, code.count);
    mprotect(*mapping, 4096, PROT_READ | PROT_EXEC);
    dynamic_array_free(&code);
    return (Block_Compare*)*mapping;
}

static void run_generated_block_compare(benchmark::State& state) {
    u64 size = (u64)state.range(0);
    void* mapping;
    Block_Compare* compare = make_block_compare(&mapping);
    u8* a = (u8*)calloc(size + 1, 1);
    u8* b = (u8*)calloc(size + 1, 1);
    int equal = 0;
    for (auto _ : state) {
        equal += compare(a, b, size);
        benchmark::DoNotOptimize(equal);
    }
    state.SetBytesProcessed(state.iterations() * (s64)size);
    state.counters["equal"] = equal == (int)state.iterations();
    free(a);
    free(b);
    munmap(mapping, 4096);
}
BENCHMARK(run_generated_block_compare)->Arg(8)->Arg(64)->Arg(1024);

static void run_library_memcmp(benchmark::State& state) {
    u64 size = (u64)state.range(0);
    u8* a = (u8*)calloc(size + 1, 1);
    u8* b = (u8*)calloc(size + 1, 1);
    int equal = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        equal += memcmp(a, b, size) == 0;
        benchmark::DoNotOptimize(equal);
    }
    state.SetBytesProcessed(state.iterations() * (s64)size);
    free(a);
    free(b);
}
BENCHMARK(run_library_memcmp)->Arg(8)->Arg(64)->Arg(1024);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
