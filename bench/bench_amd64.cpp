// What the code generator costs per emitted instruction: the encoders on a mix of memory
// forms, and the unrolled block copies (code size grows with the block).
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

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
