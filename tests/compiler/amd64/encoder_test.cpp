// The encoders' fixed rows and what the sweeps cannot see: the data fix-ups of
// RIP-relative operands and the operand builders' own records.
#include <gtest/gtest.h>

#include <vector>

#include "compiler/amd64/amd64.h"

struct Encoder_Output {
    std::vector<u8> bytes;
    std::vector<Amd64_Data_Relocation> relocations;
};

struct Encode_Case {
    const char* name;
    bool vex;
    std::vector<u8> prefixes;
    u8 rex;  // the first VEX byte for VEX cases
    std::vector<u8> opcodes;
    u8 reg_field;
    std::vector<Amd64_Memory_Operand> operands;
    u32 extra;
    u64 immediate;
    u8 immediate_size;
    u8 order;
    std::vector<u8> expected;
};

static void encode_into(const Encode_Case& c, Dynamic_Array* code, Dynamic_Array* relocations) {
    b8 ok;
    if (c.vex) {
        static const u8 c4 = 0xC4;
        ok = amd64_insert_extended_instruction(&c4, 1, c.rex, 0x7E, c.opcodes.data(), (u8)c.opcodes.size(), c.reg_field,
                                               c.operands.data(), (u8)c.operands.size(), c.extra, c.order, code,
                                               relocations);
    } else {
        ok = amd64_insert_instruction(c.prefixes.data(), (u8)c.prefixes.size(), c.rex, c.opcodes.data(),
                                      (u8)c.opcodes.size(), c.reg_field, c.operands.data(), (u8)c.operands.size(),
                                      c.extra, c.immediate, c.immediate_size, c.order, code, relocations);
    }
    EXPECT_TRUE(ok);
}

static Encoder_Output encode(const Encode_Case& c, u32 code_before = 0) {
    Dynamic_Array code, relocations;
    init_dynamic_array(&code, 1);
    init_dynamic_array(&relocations, sizeof(Amd64_Data_Relocation));
    for (u32 i = 0; i < code_before; i++) *(u8*)dynamic_array_add_fast(&code) = 0x90;
    encode_into(c, &code, &relocations);
    Encoder_Output out;
    out.bytes.assign(code.data + code_before, code.data + code.count);
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)relocations.data;
    out.relocations.assign(r, r + relocations.count);
    dynamic_array_free(&code);
    dynamic_array_free(&relocations);
    return out;
}

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }
static Amd64_Memory_Operand at(u8 base, u32 d) { return amd64_make_memory_operand_from(base, d); }

TEST(Encoder, FixedRows) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    static const Encode_Case cases[] = {
        {"mov rcx, [rsp+0x10]", false, {}, AMD64_REX_W, {0x8B}, 0, {gp(AMD64_RCX), at(AMD64_RSP, 0x10)}, 0, 0, 0, 1,
         {0x48, 0x8B, 0x8C, 0x24, 0x10, 0, 0, 0}},
        {"mov rcx, [rbp] keeps a zero disp32", false, {}, AMD64_REX_W, {0x8B}, 0, {gp(AMD64_RCX), at(AMD64_RBP, 0)}, 0, 0,
         0, 1, {0x48, 0x8B, 0x8D, 0, 0, 0, 0}},
        {"mov eax, [r13]", false, {}, 0, {0x8B}, 0, {gp(AMD64_RAX), at(AMD64_R13, 0)}, 0, 0, 0, 1,
         {0x41, 0x8B, 0x85, 0, 0, 0, 0}},
        {"vmovdqu ymm1, [rsp]", true, {}, 0xE1, {0x6F}, 0, {amd64_xmm_register(1), at(AMD64_RSP, 0)}, 0, 0, 0, 1,
         {0xC4, 0xE1, 0x7E, 0x6F, 0x0C, 0x24}},
        {"mov eax, [rsp] has no displacement", false, {}, 0, {0x8B}, 0, {gp(AMD64_RAX), at(AMD64_RSP, 0)}, 0, 0, 0, 1,
         {0x8B, 0x04, 0x24}},
        {"mov eax, [r12+8]", false, {}, 0, {0x8B}, 0, {gp(AMD64_RAX), at(AMD64_R12, 8)}, 0, 0, 0, 1,
         {0x41, 0x8B, 0x84, 0x24, 8, 0, 0, 0}},
        {"an extra displacement turns [rsp] into [rsp+disp32]", false, {}, 0, {0x8B}, 0,
         {gp(AMD64_RAX), at(AMD64_RSP, 0)}, 8, 0, 0, 1, {0x8B, 0x84, 0x24, 8, 0, 0, 0}},
        {"mov r9, [r10+4]: REX 4D", false, {}, AMD64_REX_W, {0x8B}, 0, {gp(AMD64_R9), at(AMD64_R10, 4)}, 0, 0, 0, 1,
         {0x4D, 0x8B, 0x8A, 4, 0, 0, 0}},
        {"shl r9, 1 with order 2", false, {}, AMD64_REX_W, {0xD1}, 0x20, {gp(AMD64_R9)}, 0, 0, 0, 2, {0x49, 0xD1, 0xE1}},
        {"setne sil takes REX 40", false, {}, AMD64_REX_BYTE_FORM, {0x0F, 0x95}, 0, {gp(AMD64_RSI)}, 0, 0, 0, 2,
         {0x40, 0x0F, 0x95, 0xC6}},
        {"setne bl needs no REX", false, {}, AMD64_REX_BYTE_FORM, {0x0F, 0x95}, 0, {gp(AMD64_RBX)}, 0, 0, 0, 2,
         {0x0F, 0x95, 0xC3}},
        {"mov [rsi], al: the base is no byte register", false, {}, AMD64_REX_BYTE_FORM, {0x88}, 0,
         {gp(AMD64_RAX), at(AMD64_RSI, 0)}, 0, 0, 0, 1, {0x88, 0x06}},
    };
    for (const Encode_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Encoder_Output out = encode(c);
        EXPECT_EQ(out.bytes, c.expected);
        EXPECT_TRUE(out.relocations.empty());
    }
}

TEST(Encoder, RipRelativeOperandsRecordOneFixUpCoveringTheImmediate) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case {
        Encode_Case instruction;
        u8 area_class;
        u32 displacement_position;
    };
    Amd64_Memory_Operand global = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 0x20);
    Amd64_Memory_Operand constant = amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, 0x40);
    Amd64_Memory_Operand type = amd64_make_rip_relative_operand(AMD64_OPERAND_TYPE_DATA, 0);
    const Case cases[] = {
        {{"cmp dword [rip+0x20+4], imm32", false, {}, 0, {0x81}, 0x38, {global}, 4, 0x11223344, 4, 1,
          {0x81, 0x3D, 0x24, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}},
         AMD64_OPERAND_GLOBAL_DATA, 2},
        {{"movsd xmm9, [rip+0x40]", false, {0xF2}, 0, {0x0F, 0x10}, 0, {amd64_xmm_register(9), constant}, 0, 0, 0, 1,
          {0xF2, 0x44, 0x0F, 0x10, 0x0D, 0x40, 0, 0, 0}},
         AMD64_OPERAND_CONSTANT_DATA, 5},
        {{"vmovdqu ymm12, [rip+0]", true, {}, 0xE1, {0x6F}, 0, {amd64_xmm_register(12), type}, 0, 0, 0, 1,
          {0xC4, 0x61, 0x7E, 0x6F, 0x25, 0, 0, 0, 0}},
         AMD64_OPERAND_TYPE_DATA, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.instruction.name);
        Encoder_Output out = encode(c.instruction, 3);
        EXPECT_EQ(out.bytes, c.instruction.expected);
        ASSERT_EQ(out.relocations.size(), 1u);
        EXPECT_EQ(out.relocations[0].instruction_start, 3u);
        EXPECT_EQ(out.relocations[0].displacement_offset, 3 + c.displacement_position);
        EXPECT_EQ(out.relocations[0].instruction_length, c.instruction.expected.size());
        EXPECT_EQ(out.relocations[0].area_class, c.area_class);
    }
}

TEST(Encoder, RecalculatedOperandsKeepWhatTheirBaseNeeds) {
    struct Case {
        const char* name;
        Amd64_Memory_Operand operand;
        u8 modrm;
        u8 sib;
        u8 byte_count;
    };
    const Case cases[] = {
        {"[rbx]", at(AMD64_RBX, 0), 0x83, 0, 1},
        {"[r13+8]", at(AMD64_R13, 8), 0x85, 0, 1},
        {"[rsp] keeps its SIB byte", at(AMD64_RSP, 0), 0x84, 0x24, 2},
        {"[r12+8] keeps its SIB byte", at(AMD64_R12, 8), 0x84, 0x24, 2},
        {"RIP-relative stays RIP-relative", amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, 8), 0x05, 0, 1},
        {"an indexed operand is unchanged", amd64_make_full_sib_memory_operand(AMD64_RAX, AMD64_RCX, 4, 0), 0x04, 0x88, 2},
        {"a register is unchanged", gp(AMD64_RDX), AMD64_RDX, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Amd64_Memory_Operand r = amd64_recalculate_memory_operand(c.operand);
        EXPECT_EQ(r.modrm, c.modrm);
        EXPECT_EQ(r.sib, c.sib);
        EXPECT_EQ(r.byte_count, c.byte_count);
        EXPECT_EQ(r.base, c.operand.base);
        EXPECT_EQ(r.displacement, c.operand.displacement);
    }
}
