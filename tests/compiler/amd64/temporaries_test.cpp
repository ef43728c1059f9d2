#include <gtest/gtest.h>

#include "compiler/amd64/amd64.h"

TEST(Temporaries, TakenInOrderAndRunningOutFails) {
    struct Case {
        const char* name;
        bool backward;
        u16 taken;
        u8 expected;
        u16 taken_after;
        const char* failure;
    };
    static const Case cases[] = {
        {"first forward", false, 0x0000, AMD64_RAX, 0x0001, ""},
        {"skips RSP and RBP", false, 0x000F, AMD64_RSI, 0x004F, ""},
        {"last forward", false, 0x004F, AMD64_RDI, 0x00CF, ""},
        {"R8 and up are no temporaries", false, 0xFF00, AMD64_RAX, 0xFF01, ""},
        {"first backward", true, 0x0000, AMD64_RDI, 0x0080, ""},
        {"backward after RDI and RSI", true, 0x00C0, AMD64_RBX, 0x00C8, ""},
        {"a seventh forward", false, 0x00CF, AMD64_RAX, 0x00CF, "out of temporary registers"},
        {"a seventh backward", true, 0x00CF, AMD64_RAX, 0x00CF, "out of temporary registers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Amd64_Temporary_Mask mask = {};
        mask.gp = c.taken;
        u8 r = c.backward ? amd64_take_tmp_gp_register_backward(&mask) : amd64_take_tmp_gp_register(&mask);
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(mask.gp, c.taken_after);
        EXPECT_STREQ(mask.failure, c.failure);
    }

    Amd64_Temporary_Mask mask = {};
    EXPECT_EQ(amd64_take_tmp_sse_register(&mask), 0);
    EXPECT_EQ(amd64_take_tmp_sse_register(&mask), 1);
    EXPECT_FALSE(amd64_failed(&mask));
    amd64_take_tmp_sse_register(&mask);
    EXPECT_STREQ(mask.failure, "out of temporary registers");
    amd64_fail(&mask, "operand size %u", 3);
    EXPECT_STREQ(mask.failure, "out of temporary registers");  // the first reason stands
    amd64_clear_temporary_mask(&mask);
    EXPECT_EQ(mask.gp | mask.xmm, 0);
    EXPECT_FALSE(amd64_failed(&mask));
}

TEST(Temporaries, FreeingLeavesRspRbpAndHighRegistersAlone) {
    Amd64_Temporary_Mask mask = {};
    mask.gp = 0xFFFF;
    mask.xmm = 0xFFFF;
    for (u8 r = 0; r < 16; r++) amd64_defer_free_tmp_gp_register(&mask, r);
    for (u8 r = 0; r < 16; r++) amd64_defer_free_tmp_sse_register(&mask, r);
    EXPECT_EQ(mask.gp, 0xFF30);
    EXPECT_EQ(mask.xmm, 0xFF00);
}
