#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

// Four instructions of 5, 6, 5 and 5 octets: jumps forward to the next, to itself and
// backward, and a call to a sub-program that starts at the second.
TEST(FixUps, DisplacementsAreMeasuredFromTheInstructionsEnd) {
    ASSERT_TRUE(reset_compiler());
    std::vector<Bytecode_Instruction> instructions(4);
    memset(instructions.data(), 0, instructions.size() * sizeof(Bytecode_Instruction));
    const u32 starts[] = {0, 5, 11, 16};
    for (u32 i = 0; i < 4; i++) {
        instructions[i].code_start = starts[i];
        instructions[i].line = i + 1;
    }
    instructions[0].kind = instructions[2].kind = BYTECODE_JUMP;
    instructions[1].kind = BYTECODE_JUMP_EQUAL;
    instructions[3].kind = BYTECODE_CALL;
    Identifier callee;
    memset(&callee, 0, sizeof(callee));
    callee.bytecode_start = 1 * sizeof(Bytecode_Instruction);

    Dynamic_Array code, jumps, calls;
    init_dynamic_array(&code, 1);
    init_dynamic_array(&jumps, sizeof(Amd64_Code_Relocation));
    init_dynamic_array(&calls, sizeof(Amd64_Code_Relocation));
    struct Emitted {
        u32 instruction;
        std::vector<u8> bytes;
        u8 rel32_position;
        u64 target;  // bytecode offset for jumps; ~0 for the call
    };
    const Emitted emitted[] = {
        {0, {0xE9, 0, 0, 0, 0}, 1, 1 * sizeof(Bytecode_Instruction)},
        {1, {0x0F, 0x84, 0, 0, 0, 0}, 2, 1 * sizeof(Bytecode_Instruction)},
        {2, {0xE9, 0, 0, 0, 0}, 1, 0},
        {3, {0xE8, 0, 0, 0, 0}, 1, ~0ull},
    };
    for (const Emitted& e : emitted) {
        Bytecode_Instruction* at = &instructions[e.instruction];
        if (e.target == ~0ull) {
            ASSERT_TRUE(add_a_call_relocation(&calls, &callee, &code, e.rel32_position));
        } else {
            at->jump.target = e.target;
            ASSERT_TRUE(add_a_jump_relocation(&jumps, at, &code, e.rel32_position));
        }
        amd64_emit(&code, e.bytes.data(), (u32)e.bytes.size());
    }
    Amd64_Code_Relocation* second = (Amd64_Code_Relocation*)jumps.data + 1;
    EXPECT_EQ(second->instruction_start, 5u);
    EXPECT_EQ(second->rel32_offset, 7u);
    EXPECT_EQ(second->length, 6u);

    Dynamic_Array bytecode = {};
    bytecode.data = (u8*)instructions.data();
    bytecode.element_size = sizeof(Bytecode_Instruction);
    bytecode.count = 4;
    EXPECT_TRUE(amd64_write_code_relocations(&code, &jumps, &calls, &bytecode));
    const s32 expected[] = {0, -6, -16, -16};
    const u32 fields[] = {1, 7, 12, 17};
    for (u32 i = 0; i < 4; i++) EXPECT_EQ((s32)load_u32(code.data + fields[i]), expected[i]) << "instruction " << i;

    // Targets that name no record: reported at the jump, the other fields still written.
    instructions[0].jump.target = 4 * sizeof(Bytecode_Instruction);
    instructions[2].jump.target = 100;
    store_u32(code.data + 7, 0x55555555);
    EXPECT_FALSE(amd64_write_code_relocations(&code, &jumps, &calls, &bytecode));
    EXPECT_EQ((s32)load_u32(code.data + 7), -6);
    EXPECT_EQ(compile_error_texts(),
              (std::vector<std::string>{
                  "Internal compiler error: cannot generate machine code for 'jump' (a jump target off the bytecode's records).",
                  "Internal compiler error: cannot generate machine code for 'jump' (a jump target off the bytecode's records)."}));
    dynamic_array_free(&code);
    dynamic_array_free(&jumps);
    dynamic_array_free(&calls);
}
