#include <gtest/gtest.h>

#include <vector>

#include "tests/compiler/amd64/harness.h"

TEST(Spills, SetsByFlagsAndTarget) {
    struct Case {
        const char* name;
        u8 flags;
        u8 target;
        u16 gp, xmm;
        u16 saved_gp, saved_xmm;
        u32 size;
    };
    static const Case cases[] = {
        {"a frame with empty masks still saves RBP, RSI and RDI", 0, TARGET_OS_LINUX, 0, 0, 0x00E0, 0, 32},
        {"a frame adds its masks", AMD64_SPILL_KEEP_RSP, TARGET_OS_LINUX, 0x0300, 0x00C0, 0x03E0, 0x00C0, 112},
        {"an entry block saves everything", 9, TARGET_OS_LINUX, 0, 0, 0xFFEF, 0xFFFF, 640},
        {"around a call on Linux", AMD64_SPILL_AROUND_A_CALL, TARGET_OS_LINUX, 0, 0, 0x00C6, 0xFFFA, 480},
        {"live registers around a call on Linux", AMD64_SPILL_AROUND_A_CALL, TARGET_OS_LINUX, 0xFF01, 0x0005, 0x0FC7,
         0xFFFF, 592},
        {"around a call on Windows", AMD64_SPILL_AROUND_A_CALL, TARGET_OS_WINDOWS, 0x0001, 0x0101, 0x0F01, 0x003D,
         208},
        {"around a call on macOS as in a frame", AMD64_SPILL_AROUND_A_CALL, TARGET_OS_MACOS, 0x0100, 0x1, 0x01E0, 0x1,
         64},
        {"callee-saved on Linux is nothing", AMD64_SPILL_CALLEE_SAVED, TARGET_OS_LINUX, 0xFFFF, 0xFFFF, 0, 0, 0},
        {"callee-saved on Windows", AMD64_SPILL_CALLEE_SAVED, TARGET_OS_WINDOWS, 0xFFFF, 0xFFFF, 0xF0FF, 0xFFC0, 416},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Amd64_Spill_Sets s = amd64_spill_sets(c.flags, c.target, c.gp, c.xmm);
        EXPECT_EQ(s.gp, c.saved_gp);
        EXPECT_EQ(s.xmm, c.saved_xmm);
        EXPECT_EQ(s.size, c.size);
    }
}

// vxorps ymm, ymm, ymm and mov r64, imm64: every bit of the register changes.
static void clobber(Harness_Code* c, u16 gp, u16 xmm) {
    for (u8 r = 0; r < 16; r++) {
        if (gp & (1u << r)) amd64_load_constant_integer_into_register(r, 0xBAD0BAD0BAD0BAD0ull + r, 8, &c->code);
        if (xmm & (1u << r)) {
            u8 vex_1 = r > 7 ? 0x41 : 0xE1;
            u8 vex_2 = (u8)(((~r & 0xF) << 3) | 0x04);
            harness_emit(c, {0xC4, vex_1, vex_2, 0x57, (u8)(0xC0 | ((r & 7) << 3) | (r & 7))});
        }
    }
}

TEST(Spills, SaveClobberRestoreInEveryMode) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case {
        const char* name;
        u8 flags;
        u16 gp, xmm;
        u16 gp_leave_out, xmm_leave_out;
    };
    static const Case cases[] = {
        {"frame", 0, 0x0308, 0x8004, 0, 0},
        {"frame in a reserved area", AMD64_SPILL_KEEP_RSP, 0xF000, 0x0FF0, 0, 0},
        {"entry block", AMD64_SPILL_KEEP_RSP | AMD64_SPILL_EVERYTHING, 0, 0, 0, 0},
        {"around a call", AMD64_SPILL_AROUND_A_CALL, 0x0F01, 0x0004, 0, 0},
        {"leaving out registers", 0, 0x0F00, 0x0F00, 0x0200, 0x0400},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Amd64_Spill_Sets s = amd64_spill_sets(k.flags, TARGET_OS_LINUX, k.gp, k.xmm);
        u32 reserved = (k.flags & AMD64_SPILL_KEEP_RSP) ? s.size : 0;
        Harness_Code c = harness_begin(reserved);
        u32 saved = 1, restored = 1;
        ASSERT_TRUE(amd64_big_spill_on(TARGET_OS_LINUX, true, k.flags, &c.code, k.gp, k.xmm, k.gp_leave_out,
                                       k.xmm_leave_out, 0, &saved));
        clobber(&c, s.gp, s.xmm);
        ASSERT_TRUE(amd64_big_spill_on(TARGET_OS_LINUX, false, k.flags, &c.code, k.gp, k.xmm, k.gp_leave_out,
                                       k.xmm_leave_out, 0, &restored));
        u32 moved = (k.flags & AMD64_SPILL_KEEP_RSP) ? 0 : s.size;
        EXPECT_EQ(saved, moved);
        EXPECT_EQ(restored, moved);
        Harness_Run run = harness_run(harness_end(&c), harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, k.gp_leave_out, k.xmm_leave_out), "");
        for (u8 r = 0; r < 16; r++) {
            if (k.gp_leave_out & (1u << r)) {
                EXPECT_EQ(run.registers.gp[r], 0xBAD0BAD0BAD0BAD0ull + r);
            }
        }
    }
}

TEST(Spills, PrologueEntriesFollowTheEmittedCode) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Dynamic_Array code;
    init_dynamic_array(&code, 1);
    Amd64_Prologue prologue;
    amd64_start_prologue(&prologue, 0, 0);
    u32 amount = 0;
    ASSERT_TRUE(amd64_big_spill_on(TARGET_OS_LINUX, true, 0, &code, 0x0100, 0x0200, 0, 0, &prologue, &amount));
    struct Expected {
        u8 kind;
        u32 amount_or_offset;
        u8 reg;
    };
    static const Expected expected[] = {
        {AMD64_PROLOGUE_RESERVE_STACK, 64, 0}, {AMD64_PROLOGUE_SPILL_XMM, 0, 9},  {AMD64_PROLOGUE_SPILL_GP, 32, 5},
        {AMD64_PROLOGUE_SPILL_GP, 40, 6},      {AMD64_PROLOGUE_SPILL_GP, 48, 7}, {AMD64_PROLOGUE_SPILL_GP, 56, 8},
    };
    EXPECT_EQ(amount, 64u);
    ASSERT_EQ(prologue.entries.count, ARRAY_COUNT(expected));
    u64 previous = 0;
    for (u32 i = 0; i < ARRAY_COUNT(expected); i++) {
        SCOPED_TRACE(i);
        const Amd64_Prologue_Entry& e = ((Amd64_Prologue_Entry*)prologue.entries.data)[i];
        EXPECT_EQ(e.kind, expected[i].kind);
        EXPECT_EQ(e.amount_or_offset, expected[i].amount_or_offset);
        EXPECT_EQ(e.reg, expected[i].reg);
        EXPECT_GT(e.code_offset, previous);
        previous = e.code_offset;
    }
    EXPECT_EQ(previous, code.count);
    EXPECT_EQ(((Amd64_Prologue_Entry*)prologue.entries.data)[0].code_offset, 7u);  // after sub rsp, imm32
    dynamic_array_free(&prologue.entries);
    dynamic_array_free(&code);
}
