#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "foundation/memory.h"

static void fill(Dynamic_Array* a, u32 count) {
    for (u32 i = 0; i < count; i++) *(u32*)dynamic_array_add_fast(a) = i + 1;
}

static std::vector<u32> contents(const Dynamic_Array& a) {
    return std::vector<u32>((u32*)a.data, (u32*)a.data + a.count);
}

TEST(DynamicArray, DoublesFromOneElement) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Dynamic_Array a;
    init_dynamic_array(&a, sizeof(u32));
    static const u32 capacities[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
    for (u32 i = 0; i < ARRAY_COUNT(capacities); i++) {
        u32* slot = (u32*)dynamic_array_add_fast(&a);
        ASSERT_TRUE(slot);
        *slot = i + 1;
        EXPECT_EQ(a.capacity, capacities[i]) << i;
        EXPECT_EQ(a.storage.size, (u64)a.capacity * sizeof(u32));
    }
    EXPECT_EQ(contents(a), (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    dynamic_array_free(&a);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.storage.size, 0u);
    EXPECT_EQ(a.element_size, sizeof(u32));
}

TEST(DynamicArray, AddMultipleGrowsToWhatIsNeeded) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case { const char* name; u32 count; u32 n; u32 capacity; };
    static const Case cases[] = {
        {"more than double", 3, 10, 13},
        {"double is enough", 3, 2, 8},
        {"fits", 1, 3, 4},
        {"nothing", 3, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array a;
        init_dynamic_array(&a, sizeof(u32));
        fill(&a, 4);  // capacity 4
        a.count = c.count;
        u32* first = (u32*)dynamic_array_add_fast_multiple(&a, c.n);
        ASSERT_TRUE(first);
        EXPECT_EQ(first, (u32*)a.data + c.count);
        EXPECT_EQ(a.count, c.count + c.n);
        EXPECT_EQ(a.capacity, c.capacity);
        for (u32 i = 0; i < c.n; i++) first[i] = 100 + i;  // every reserved slot is ours
        for (u32 i = 0; i < c.count; i++) EXPECT_EQ(((u32*)a.data)[i], i + 1);
        dynamic_array_free(&a);
    }
}

TEST(DynamicArray, InsertMovesTheRestUpAndZeroesTheNewElement) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case { const char* name; u64 index; std::vector<u32> expected; };
    const Case cases[] = {
        {"front", 0, {0, 1, 2, 3, 4}},
        {"middle", 2, {1, 2, 0, 3, 4}},
        {"end", 4, {1, 2, 3, 4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array a;
        init_dynamic_array(&a, sizeof(u32));
        fill(&a, 4);
        ASSERT_EQ(a.capacity, 4u);
        u32* slot = (u32*)dynamic_array_insert(&a, c.index);  // full: grows first
        ASSERT_TRUE(slot);
        EXPECT_EQ(slot, (u32*)a.data + c.index);
        EXPECT_EQ(a.capacity, 8u);
        EXPECT_EQ(contents(a), c.expected);
        dynamic_array_free(&a);
    }

    Dynamic_Array empty;
    init_dynamic_array(&empty, sizeof(u32));
    EXPECT_EQ(dynamic_array_insert(&empty, 1), nullptr);
    ASSERT_TRUE(dynamic_array_insert(&empty, 0));
    EXPECT_EQ(empty.capacity, 1u);
    EXPECT_EQ(contents(empty), std::vector<u32>{0});
    dynamic_array_free(&empty);
}

TEST(DynamicArray, RemoveMovesTheRestDown) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case { const char* name; u64 index; std::vector<u32> expected; };
    const Case cases[] = {
        {"front", 0, {2, 3, 4}},
        {"middle", 2, {1, 2, 4}},
        {"last", 3, {1, 2, 3}},
        {"past the end", 4, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array a;
        init_dynamic_array(&a, sizeof(u32));
        fill(&a, 4);
        dynamic_array_remove(&a, c.index);
        EXPECT_EQ(contents(a), c.expected);
        EXPECT_EQ(a.capacity, 4u);
        dynamic_array_free(&a);
    }
}

TEST(DynamicArray, LargeElementsMoveBetweenSizeClasses) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Big { u8 octets[3000]; };
    Dynamic_Array a;
    init_dynamic_array(&a, sizeof(Big));
    for (u32 i = 0; i < 40; i++) {  // 3,000 octets up to 192,000: the 1 KiB class, then the 4 KiB and 32 KiB ones
        Big* b = (Big*)dynamic_array_add_fast(&a);
        ASSERT_TRUE(b);
        memset(b, (int)i, sizeof(Big));
    }
    for (u32 i = 0; i < 40; i++) EXPECT_EQ(((Big*)a.data)[i].octets[2999], (u8)i);
    dynamic_array_free(&a);
}
