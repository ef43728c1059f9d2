#include <gtest/gtest.h>
#include <pthread.h>
#include <string.h>

#include "foundation/memory.h"

TEST(Memory, CarvesAreAlignedAndBounded) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    __memory.used += 3;  // leave the offset unaligned on purpose
    u8* a = carve_static_memory(10);
    u8* b = carve_static_memory(GLYPHS_PAGE_MEMORY);
    ASSERT_TRUE(a && b);
    EXPECT_EQ((u64)a % 64, 0u);
    EXPECT_EQ((u64)b % 64, 0u);
    EXPECT_EQ(b - a, 64);
    EXPECT_EQ(carve_static_memory(__memory.size), nullptr);
}

TEST(Memory, GpAllocateAndFree) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Gp_Allocation a;
    ASSERT_TRUE(gp_allocate(&a, 100));
    memset(a.memory, 7, 100);
    gp_free(&a);
    EXPECT_EQ(a.size, 0u);
}

TEST(TemporaryMemory, BumpsAndRefusesPastTheEnd) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    tmp_reset();
    u8* a = tmp_allocate(32);
    u8* b = tmp_allocate(64);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b - a, 32);
    u64 used = tmp_get_used();
    EXPECT_EQ(tmp_allocate(tmp_get_slot()->size), nullptr);
    EXPECT_EQ(tmp_get_used(), used);
    tmp_reset();
}
