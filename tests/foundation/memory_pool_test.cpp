#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "foundation/memory.h"

static std::atomic<u32> pages_mapped{0};

static void* counting_page_allocator(u64 size) {
    pages_mapped++;
    return os_allocate_read_write(size);
}

struct Record {
    Record* next;
    u64 value;
};

static u32 bucket_index_of(const std::vector<Memory_Pool_Bucket*>& buckets, Memory_Pool_Bucket* b) {
    for (u32 i = 0; i < buckets.size(); i++) if (buckets[i] == b) return i;
    return ~0u;
}

TEST(MemoryPool, GrowsPastItsFirstPageAndReusesPagesAfterAReset) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Memory_Pool pool;
    const u32 elements_per_bucket = 4, buckets_per_page = 2;
    u64 page_size = buckets_per_page * (elements_per_bucket * sizeof(Record) + 16) + 16;
    u8* first_page = carve_static_memory(page_size);
    ASSERT_TRUE(first_page);
    _init_memory_pool(&pool, sizeof(Record), elements_per_bucket, buckets_per_page, first_page, counting_page_allocator);
    EXPECT_EQ(pool.bucket_size, 4 * sizeof(Record) + 16);
    EXPECT_EQ(pool.page_size, page_size);

    pages_mapped = 0;
    std::vector<Memory_Pool_Bucket*> buckets;
    for (u32 i = 0; i < 5; i++) {
        Memory_Pool_Bucket* b = memory_pool_allocate_bucket(&pool);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->next, nullptr);
        EXPECT_EQ(b->count, 0u);
        memset(b + 1, (int)(i + 1), elements_per_bucket * sizeof(Record));
        buckets.push_back(b);
    }
    // Every bucket still holds what was written into it: none overlaps another.
    for (u32 i = 0; i < buckets.size(); i++) {
        const u8* elements = (const u8*)(buckets[i] + 1);
        for (u32 k = 0; k < elements_per_bucket * sizeof(Record); k++) ASSERT_EQ(elements[k], i + 1) << i;
    }
    if (!system_allocator()) {
        EXPECT_EQ((u8*)buckets[0], first_page + 16);
        EXPECT_EQ((u8*)buckets[1], first_page + 16 + pool.bucket_size);
        EXPECT_EQ(pages_mapped.load(), 2u);
    }

    // After a reset the same buckets come back in the same order, and no page is mapped.
    memory_pool_reset(&pool);
    u32 mapped = pages_mapped.load();
    for (u32 i = 0; i < 5; i++) EXPECT_EQ(memory_pool_allocate_bucket(&pool), buckets[i]) << i;
    EXPECT_EQ(pages_mapped.load(), mapped);
    EXPECT_EQ(bucket_index_of(buckets, memory_pool_allocate_bucket(&pool)), ~0u);
}

TEST(MemoryPool, APoolWithoutAFirstPageMapsOne) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Memory_Pool pool;
    _init_memory_pool(&pool, sizeof(Record), 8, 1, nullptr, os_allocate_read_write);
    Memory_Pool_Bucket* a = memory_pool_allocate_bucket(&pool);
    Memory_Pool_Bucket* b = memory_pool_allocate_bucket(&pool);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_TRUE(pool.first_page && pool.first_page->next);
}

TEST(BucketArray, AppendsChainInOrderAndTakeANewBucketOnlyWhenFull) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Memory_Pool pool;
    _init_memory_pool(&pool, sizeof(Record), 4, 8, nullptr, os_allocate_read_write);
    Bucket_Array array;
    init_bucket_array(&array, &pool);

    std::vector<Record*> placed;
    for (u32 i = 0; i < 4; i++) placed.push_back((Record*)bucket_array_append(&array));
    EXPECT_EQ(array.first_bucket, array.last_bucket);
    placed.push_back((Record*)bucket_array_append(&array));
    EXPECT_NE(array.first_bucket, array.last_bucket);
    EXPECT_EQ(array.first_bucket->next, array.last_bucket);
    for (u32 i = 5; i < 1000; i++) {
        Record* r = (Record*)bucket_array_append(&array);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->next, nullptr);
        EXPECT_EQ(r->value, 0u);
        placed.push_back(r);
    }
    for (u32 i = 0; i < placed.size(); i++) placed[i]->value = i;

    // Elements never move, and the list walks them in the order they were added.
    u32 walked = 0;
    for (Record* r = (Record*)array.first_element; r; r = r->next, walked++) {
        ASSERT_EQ(r, placed[walked]);
        ASSERT_EQ(r->value, walked);
    }
    EXPECT_EQ(walked, 1000u);
    EXPECT_EQ(array.count, 1000u);
    EXPECT_EQ(array.last_element, placed.back());

    // By index, through the bucket counts.
    for (u32 i = 0; i < placed.size(); i++) ASSERT_EQ(bucket_array_get_element(&array, i), placed[i]) << i;
    EXPECT_EQ(bucket_array_get_element(&array, 1000), nullptr);

    // Emptied and refilled part way: the kept buckets behind the last one hold nothing.
    bucket_array_reset(&array);
    EXPECT_EQ(bucket_array_get_element(&array, 0), nullptr);
    for (u32 i = 0; i < 6; i++) bucket_array_append(&array);
    EXPECT_EQ(bucket_array_get_element(&array, 5), placed[5]);
    EXPECT_EQ(bucket_array_get_element(&array, 6), nullptr);
    EXPECT_EQ(bucket_array_get_element(&array, 7), nullptr);  // room left in the last bucket
}

TEST(BucketArray, ReusedRecordsComeBackZeroed) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Memory_Pool pool;
    _init_memory_pool(&pool, sizeof(Record), 4, 2, nullptr, os_allocate_read_write);
    Bucket_Array array, other;
    init_bucket_array(&array, &pool);
    std::vector<Record*> first_use;
    for (u32 i = 0; i < 10; i++) {
        Record* r = (Record*)bucket_array_append(&array);
        r->value = 0xDEADBEEF;
        first_use.push_back(r);
    }

    // Emptied, the array reuses its own buckets in order.
    bucket_array_reset(&array);
    EXPECT_EQ(array.count, 0u);
    EXPECT_EQ(array.first_element, nullptr);
    for (u32 i = 0; i < 10; i++) {
        Record* r = (Record*)bucket_array_append(&array);
        EXPECT_EQ(r, first_use[i]);
        EXPECT_EQ(r->next, nullptr);
        EXPECT_EQ(r->value, 0u);
        r->value = 0xDEADBEEF;
    }
    EXPECT_EQ(array.first_element, first_use[0]);

    // After a reset of the pool both arrays start afresh and never share a record.
    memory_pool_reset(&pool);
    init_bucket_array(&array, &pool);
    init_bucket_array(&other, &pool);
    std::set<void*> seen;
    for (u32 i = 0; i < 10; i++) {
        Record* a = (Record*)bucket_array_append(&array);
        Record* b = (Record*)bucket_array_append(&other);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->value, 0u);
        EXPECT_TRUE(seen.insert(a).second);
        EXPECT_TRUE(seen.insert(b).second);
    }
}

// Arrays of a shared pool fill its buckets together: three short lists take one bucket
// between them, yet each walks, counts and indexes only its own elements.
TEST(BucketArray, ArraysOfASharedPoolShareItsBuckets) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Memory_Pool pool;
    const u32 elements_per_bucket = 8;
    _init_memory_pool(&pool, sizeof(Record), elements_per_bucket, 4, nullptr, counting_page_allocator);
    memory_pool_share_buckets(&pool);
    pages_mapped = 0;

    Bucket_Array lists[3];
    for (Bucket_Array& list : lists) init_bucket_array(&list, &pool);
    std::vector<Record*> placed[3];
    std::vector<Record*> in_order;
    for (u32 i = 0; i < 40; i++) {
        u32 l = (i * 7) % 3;  // interleaved appends
        Record* r = (Record*)bucket_array_append(&lists[l]);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->next, nullptr);
        EXPECT_EQ(r->value, 0u);
        r->value = i;
        placed[l].push_back(r);
        in_order.push_back(r);
    }
    // Consecutive appends take consecutive slots of one bucket, whichever list they are for.
    for (u32 i = 1; i < elements_per_bucket; i++) EXPECT_EQ((u8*)in_order[i], (u8*)in_order[i - 1] + sizeof(Record));
    if (!system_allocator()) {  // 40 records: five buckets, four to a page
        EXPECT_EQ(pages_mapped.load(), 2u);
    }

    for (u32 l = 0; l < 3; l++) {
        SCOPED_TRACE(l);
        EXPECT_EQ(lists[l].first_bucket, nullptr);
        EXPECT_EQ(lists[l].count, placed[l].size());
        u32 walked = 0;
        for (Record* r = (Record*)lists[l].first_element; r; r = r->next, walked++) ASSERT_EQ(r, placed[l][walked]);
        EXPECT_EQ(walked, placed[l].size());
        EXPECT_EQ(lists[l].last_element, placed[l].back());
        for (u32 i = 0; i < placed[l].size(); i++) ASSERT_EQ(bucket_array_get_element(&lists[l], i), placed[l][i]);
        EXPECT_EQ(bucket_array_get_element(&lists[l], (u32)placed[l].size()), nullptr);
    }

    // An emptied list leaves the others alone and takes fresh slots.
    bucket_array_reset(&lists[0]);
    Record* fresh = (Record*)bucket_array_append(&lists[0]);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(lists[0].count, 1u);
    for (Record* r : placed[1]) ASSERT_EQ(in_order[r->value], r);

    // After a reset of the pool the first bucket comes back, zeroed slot by slot.
    memory_pool_reset(&pool);
    for (Bucket_Array& list : lists) init_bucket_array(&list, &pool);
    Record* again = (Record*)bucket_array_append(&lists[2]);
    EXPECT_EQ(again, in_order[0]);
    EXPECT_EQ(again->value, 0u);
    if (!system_allocator()) {
        EXPECT_EQ(pages_mapped.load(), 2u);
    }
}

TEST(MemoryPoolThreads, ArraysOfOnePoolGrowAtOnce) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    static Memory_Pool pool;
    const u32 elements_per_bucket = 16;
    u64 page_size = 4 * (elements_per_bucket * sizeof(Record) + 16) + 16;
    _init_memory_pool(&pool, sizeof(Record), elements_per_bucket, 4, carve_static_memory(page_size),
                      os_allocate_read_write);
    const u32 thread_count = 8, per_thread = 5000;
    Bucket_Array arrays[thread_count];
    std::vector<std::thread> threads;
    for (u32 t = 0; t < thread_count; t++) {
        threads.emplace_back([&, t] {
            tmp_claim_slot();
            init_bucket_array(&arrays[t], &pool);
            for (u32 i = 0; i < per_thread; i++) {
                Record* r = (Record*)bucket_array_append(&arrays[t]);
                if (r) r->value = ((u64)t << 32) | i;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (u32 t = 0; t < thread_count; t++) {
        SCOPED_TRACE(t);
        u32 i = 0;
        for (Record* r = (Record*)arrays[t].first_element; r; r = r->next, i++) ASSERT_EQ(r->value, ((u64)t << 32) | i);
        EXPECT_EQ(i, per_thread);
    }
}
