// The harness itself: faults come back as messages and the runner goes on, registers
// other than those the code may change are watched, and every area and fix-up reaches
// the code where it expects it.
#include <gtest/gtest.h>
#include <signal.h>

#include <vector>

#include "tests/compiler/amd64/harness.h"

static void emit(Harness_Code* c, std::vector<u8> bytes) { harness_emit(c, bytes); }

static void emit(Harness_Code* c, u8 rex, std::vector<u8> opcodes, u8 reg_field, std::vector<Amd64_Memory_Operand> operands,
                 u64 immediate = 0, u8 immediate_size = 0) {
    ASSERT_TRUE(amd64_insert_instruction(0, 0, rex, opcodes.data(), (u8)opcodes.size(), reg_field, operands.data(),
                                         (u8)operands.size(), 0, immediate, immediate_size, 1, &c->code,
                                         &c->data_relocations));
}

TEST(Harness, OnlyTheRegistersTheCodeMayChangeChange) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Harness_Code c = harness_begin(0);
    emit(&c, {0x48, 0xC7, 0xC0, 0x05, 0, 0, 0});        // mov rax, 5
    emit(&c, {0x66, 0x0F, 0xEF, 0xDB});                  // pxor xmm3, xmm3
    Harness_Program p = harness_end(&c);
    Harness_Registers in = harness_canaries();
    Harness_Run run = harness_run(p, in);
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(run.registers.gp[AMD64_RAX], 5u);
    EXPECT_EQ(run.registers.gp[AMD64_RBP], run.call_data_address);
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 1u << AMD64_RAX, 1u << 3), "");
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 0, 0),
              "RAX changed from 0xc0de010101010101 to 0x5; YMM3 changed; ");
}

TEST(Harness, FaultsAreReportedAndTheRunnerGoesOn) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case {
        const char* name;
        std::vector<u8> bytes;
        int signal;
        const char* fault;
    };
    static const Case cases[] = {
        {"ud2", {0x0F, 0x0B}, SIGILL, "SIGILL at code offset 0xa in instruction #1 (kind 51)"},
        {"int3", {0xCC}, SIGTRAP, "SIGTRAP at code offset 0xa in instruction #1 (kind 51)"},
        {"div by zero", {0x33, 0xC9, 0xF7, 0xF1}, SIGFPE, "SIGFPE at code offset 0xc in instruction #1 (kind 51)"},
        {"read at 0", {0x48, 0x8B, 0x04, 0x25, 0, 0, 0, 0}, SIGSEGV,
         "SIGSEGV at code offset 0xa in instruction #1 (kind 51)"},
        {"jump to 0", {0x33, 0xC0, 0xFF, 0xE0}, SIGSEGV, "SIGSEGV outside the generated code (at 0x0)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Harness_Code c = harness_begin(0);
        emit(&c, {0x90, 0x90, 0x90});  // instruction #0
        u32 start = c.code.count;
        emit(&c, k.bytes);
        u32 end = c.code.count;
        Harness_Program p = harness_end(&c);
        p.markers = {{7, start, "instruction #0 (kind 50)"}, {start, end, "instruction #1 (kind 51)"}};
        Harness_Run run = harness_run(p, harness_canaries());
        EXPECT_TRUE(run.faulted);
        EXPECT_EQ(run.signal, k.signal);
        EXPECT_EQ(run.fault, k.fault);
    }
    Harness_Code c = harness_begin(0);
    Harness_Run run = harness_run(harness_end(&c), harness_canaries());
    EXPECT_FALSE(run.faulted) << run.fault;
}

TEST(Harness, ReadingPastTheGlobalsFaults) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    for (u32 offset : {8u, 9u}) {
        Harness_Code c = harness_begin(0);
        // mov rax, [globals + offset]: 8 octets of a 16-octet area, the second one a byte past it
        emit(&c, AMD64_REX_W, {0x8B}, 0, {RAX_INFO, amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, offset)});
        Harness_Program p = harness_end(&c);
        p.globals.resize(16);
        Harness_Run run = harness_run(p, harness_canaries());
        EXPECT_EQ(run.faulted, offset == 9) << offset << ": " << run.fault;
    }
}

// Each area reaches the code where the operands expect it: RIP-relative constants and
// globals (with an immediate after the displacement), [rbp+d] call data, [rsp+d] stack
// slots, and planted pointers in memory and in a register.
TEST(Harness, AreasPointersAndFixUpsReachTheCode) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Amd64_Memory_Operand g0 = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 0);
    Amd64_Memory_Operand g8 = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 8);
    Amd64_Memory_Operand g16 = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 16);
    Amd64_Memory_Operand g24 = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 24);
    Amd64_Memory_Operand g32 = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 32);
    Amd64_Memory_Operand c8 = amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, 8);
    Amd64_Memory_Operand rcx = amd64_gp_register(AMD64_RCX);

    Harness_Code c = harness_begin(24);
    emit(&c, 0, {0x81}, 0x38, {g0}, 0x11223344, 4);                              // cmp dword [g0], 0x11223344
    emit(&c, AMD64_REX_BYTE_FORM, {0x0F, 0x94}, 0, {g0}, 0, 0);                  // sete byte [g0]
    emit(&c, AMD64_REX_W, {0x8B}, 0, {rcx, c8});                                 // mov rcx, [c8]
    emit(&c, AMD64_REX_W, {0x89}, 0, {rcx, g8});                                 // mov [g8], rcx
    emit(&c, AMD64_REX_W, {0x8B}, 0, {rcx, amd64_make_memory_operand_from(AMD64_RBP, 4)});
    emit(&c, AMD64_REX_W, {0x89}, 0, {rcx, g16});                                // [g16] = call data [4]
    emit(&c, AMD64_REX_W, {0x8B}, 0, {rcx, amd64_make_memory_operand_from(AMD64_RSP, 16)});
    emit(&c, AMD64_REX_W, {0x89}, 0, {rcx, g24});                                // [g24] = stack [16]
    emit(&c, AMD64_REX_W, {0x8B}, 0, {rcx, g32});                                // rcx = pointer to constant 8
    emit(&c, AMD64_REX_W, {0x8B}, 0, {rcx, amd64_make_memory_operand_from(AMD64_RCX, 0)});
    emit(&c, AMD64_REX_W, {0x89}, 0, {rcx, amd64_make_memory_operand_from(AMD64_R9, 0)});  // [r9] = it
    Harness_Program p = harness_end(&c);

    p.constants = std::vector<u8>(16, 0);
    store_u64(&p.constants[8], 0x0123456789ABCDEFull);
    p.globals = std::vector<u8>(48, 0);
    store_u32(&p.globals[0], 0x11223344);
    p.call_data = std::vector<u8>(12, 0);
    store_u64(&p.call_data[4], 0xCA11DA7A00000001ull);
    store_u64(&p.stack[16], 0x57ACC00000000002ull);
    p.pointers = {{HARNESS_GLOBALS, 32, HARNESS_CONSTANTS, 8}, {HARNESS_REGISTER, AMD64_R9, HARNESS_GLOBALS, 40}};

    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(run.globals[0], 1);
    EXPECT_EQ(load_u64(&run.globals[8]), 0x0123456789ABCDEFull);
    EXPECT_EQ(load_u64(&run.globals[16]), 0xCA11DA7A00000001ull);
    EXPECT_EQ(load_u64(&run.globals[24]), 0x57ACC00000000002ull);
    EXPECT_EQ(load_u64(&run.globals[40]), 0x0123456789ABCDEFull);
    EXPECT_EQ(run.stack_address % 16, 0u);
}
