// What the code generator costs: the encoders on a mix of memory forms, the unrolled
// block copies (code size grows with the block), and whole bytecode instructions of
// the zeroing and copy kinds translated one after another.
#include <benchmark/benchmark.h>

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
        for (Bytecode_Instruction& b : program) {
            bytecode_instruction_to_amd64(&b, &code, &jumps, &calls, &data, &slots, &mask, &prologues);
            b.code_end = code.count;
        }
        octets += code.count;
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["failed"] = compile_errors.count;
    state.counters["code octets per instruction"] = (double)octets / (double)state.iterations() / 1000.0;
    for (Dynamic_Array* a : {&code, &jumps, &calls, &data, &slots, &prologues}) dynamic_array_free(a);
    dynamic_array_free(&scope.local_registers);
}
BENCHMARK(translate_zeroing_and_copies);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
