#include <gtest/gtest.h>

#include "tests/compiler/amd64/translation_fixture.h"

TEST(Operands, BytecodeRegistersResolveThroughTheirViews) {
    Translation_Fixture f;
    fixture_reset(&f, 0);
    u8 octets[32] = {};
    Register_Id constant = fixture_constant(&f, octets, 32);
    Register_Id type_data = fixture_constant(&f, octets, 32);
    amd64_get_register(type_data)->kind = REGISTER_TYPE_DATA;
    Register_Id global = fixture_global(&f, 64);
    Register_Id stack = fixture_stack_local(&f, 0x30, 16);
    Register_Id at_rsp = fixture_stack_local(&f, 0, 8);
    Register_Id r12 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R12, 8);
    Register_Id xmm7 = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 7, 8);
    Register_Id deep = global;
    for (u32 i = 0; i < 64; i++) deep = fixture_view(deep, 1, 1);
    Register_Id too_deep = fixture_view(deep, 1, 1);
    Register_Id far_away = fixture_stack_local(&f, 0x7FFFFFF0, 8);
    Register_Id past_the_table = at_rsp;
    past_the_table.index = 1000;

    struct Case {
        const char* name;
        Register_Id id;
        u8 operand_class;
        u8 modrm;
        u8 sib;
        u8 base;
        u32 displacement;
        const char* failure;
    };
    const u32 c = fixture_offset(constant), t = fixture_offset(type_data), g = fixture_offset(global);
    const Case cases[] = {
        {"constant, two views deep", fixture_view(fixture_view(constant, 4, 8), 8, 4), AMD64_OPERAND_CONSTANT_DATA, 0x05, 0,
         0, c + 12, ""},
        {"type data", type_data, AMD64_OPERAND_TYPE_DATA, 0x05, 0, 0, t, ""},
        {"global member", fixture_view(global, 40, 8), AMD64_OPERAND_GLOBAL_DATA, 0x05, 0, 0, g + 40, ""},
        {"stack member", fixture_view(stack, 8, 8), AMD64_OPERAND_MEMORY, 0x84, 0x24, AMD64_RSP, 0x38, ""},
        {"stack slot at rsp", at_rsp, AMD64_OPERAND_MEMORY, 0x04, 0x24, AMD64_RSP, 0, ""},
        {"R12", r12, AMD64_OPERAND_GP_REGISTER, AMD64_R12, 0, 0, 0, ""},
        {"XMM7 through an empty view", fixture_view(xmm7, 0, 8), AMD64_OPERAND_XMM_REGISTER, 7, 0, 0, 0, ""},
        {"call data: RBP holds the block", fixture_view(f.call_data_block, 0x18, 4), AMD64_OPERAND_MEMORY, 0x85, 0,
         AMD64_RBP, 0x18, ""},
        {"64 views", deep, AMD64_OPERAND_GLOBAL_DATA, 0x05, 0, 0, g + 64, ""},
        {"65 views", too_deep, 0, 0, 0, 0, 0, "a view chain deeper than 64"},
        {"part of a machine register", fixture_view(r12, 4, 4), 0, 0, 0, 0, 0,
         "a register-held local reached with a view offset"},
        {"absent", INVALID_REGISTER_ID, 0, 0, 0, 0, 0, "an operand without a register"},
        {"past its table", past_the_table, 0, 0, 0, 0, 0, "an operand without a register"},
        {"beyond 2 GiB", fixture_view(far_away, 0x20, 8), 0, 0, 0, 0, 0, "an operand offset beyond 2 GiB"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Amd64_Temporary_Mask mask = {};
        Amd64_Memory_Operand m = amd64_get_memory(k.id, &mask);
        EXPECT_STREQ(mask.failure, k.failure);
        if (*k.failure) continue;
        EXPECT_EQ(m.operand_class, k.operand_class);
        EXPECT_EQ(m.modrm, k.modrm);
        EXPECT_EQ(m.sib, k.sib);
        EXPECT_EQ(m.base, k.base);
        EXPECT_EQ(m.displacement, k.displacement);
        EXPECT_EQ(mask.gp | mask.xmm, 0);
    }
}

// A result on its way back from a sub-program is RAX or XMM0, wherever its chain carries
// the mark, but only the moves may take it, and never a part of it.
TEST(Operands, ReturnedValuesAreRaxOrXmm0ForCopiesOnly) {
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Register_Id integer_slot = fixture_view(f.call_data_block, 0x10, 8);
    amd64_get_register(integer_slot)->return_register = RETURN_REGISTER_RAX;
    Register_Id float_slot = fixture_view(f.call_data_block, 0x20, 8);
    amd64_get_register(float_slot)->return_register = RETURN_REGISTER_XMM0;
    struct Case {
        const char* name;
        Register_Id id;
        b8 allowed;
        u8 operand_class;
        u16 marked_gp, marked_xmm;
        const char* failure;
    };
    const Case cases[] = {
        {"the slot in RAX", integer_slot, true, AMD64_OPERAND_GP_REGISTER, 1, 0, ""},
        {"an empty view of the slot in XMM0", fixture_view(float_slot, 0, 8), true, AMD64_OPERAND_XMM_REGISTER, 0, 1, ""},
        {"a part of it", fixture_view(integer_slot, 4, 4), true, 0, 0, 0, "a returned value reached with a view offset"},
        {"outside a copy", integer_slot, false, 0, 0, 0, "a returned value outside a copy"},
        {"the rest of the block stays memory", fixture_view(f.call_data_block, 0x18, 8), false, AMD64_OPERAND_MEMORY, 0, 0,
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Amd64_Temporary_Mask mask = {};
        mask.return_register_allowed = k.allowed;
        Amd64_Memory_Operand m = amd64_get_memory(k.id, &mask);
        EXPECT_STREQ(mask.failure, k.failure);
        if (*k.failure) continue;
        EXPECT_EQ(m.operand_class, k.operand_class);
        if (k.operand_class & AMD64_OPERAND_REGISTER) {
            EXPECT_EQ(m.modrm, 0);
        }
        EXPECT_EQ(mask.gp, k.marked_gp);
        EXPECT_EQ(mask.xmm, k.marked_xmm);
    }
}
