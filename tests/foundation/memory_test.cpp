#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/memory.h"
#include "foundation/strings.h"
#include "foundation_fixtures.h"

static b8 all_octets_are(const u8* memory, u64 size, u8 value) {
    for (u64 i = 0; i < size; i++) if (memory[i] != value) return false;
    return true;
}

static b8 record_is_clear(const Gp_Allocation& a) {
    return all_octets_are((const u8*)&a, sizeof(a), 0);
}

//~ Static memory

// Each layout is checked in a fresh process, since a process maps its static memory once.
static void expect_layout_in_a_fresh_process(Program_Kind program) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            b8 editor = program == PROGRAM_EDITOR;
            b8 ok = init_memory(program);
            u64 heads = editor ? EDITOR_HEAD_BUCKETS_OFFSET : UPDATER_HEAD_BUCKETS_OFFSET;
            Temporary_Memory* main_slot = tmp_get_slot();
            ok = ok && main_slot == &__tmp_allocator.slots[0];
            ok = ok && main_slot->memory == __memory.base + (editor ? EDITOR_MAIN_TMP_OFFSET : 0);
            ok = ok && main_slot->size == (editor ? EDITOR_MAIN_TMP_MEMORY : UPDATER_MAIN_TMP_MEMORY);
            ok = ok && __memory.size == (editor ? EDITOR_STATIC_MEMORY : UPDATER_STATIC_MEMORY);
            ok = ok && __memory.used == heads + GP_HEAD_BUCKETS_MEMORY;
            u64 offset = heads;
            for (u32 i = 0; i < GP_CLASS_COUNT; i++) {
                Gp_Bucket* head = __gp_allocator.chains[i];
                // The middle classes map their heads on first use.
                if (!GP_SIZE_CLASSES[i].static_head) {
                    ok = ok && !head;
                    continue;
                }
                ok = ok && (u8*)head == __memory.base + offset && !head->previous && !head->next && head->head == head;
                ok = ok && head->unit_size == GP_SIZE_CLASSES[i].unit_size && head->unit_count == GP_SIZE_CLASSES[i].unit_count;
                offset += gp_bucket_octets(GP_SIZE_CLASSES[i]);
            }
            // The last unit of the last head bucket lies inside the mapping.
            __memory.base[offset - 1] = 1;
            ok = ok && offset <= __memory.size;
            // The updater carves nothing more; the editor's budgets fit behind the heads.
            ok = ok && (editor ? carve_static_memory(EDITOR_BUDGETS_MEMORY) != nullptr
                               : carve_static_memory(1) == nullptr);
            exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(StaticMemory, EditorLayoutIsTheSumOfItsParts) {
    // 30 MiB before the head buckets, the three static head buckets, the budgets carved behind
    // them and the padding of 256 aligned carves.
    EXPECT_EQ(EDITOR_STATIC_MEMORY, 31457280u + 33088u + 524864u + 10485824u + 142358432u + 16384u);
    expect_layout_in_a_fresh_process(PROGRAM_EDITOR);
}
TEST(StaticMemory, UpdaterLayoutIsTheSumOfItsCarves) {
    EXPECT_EQ(UPDATER_STATIC_MEMORY, 20971520u + 33088u + 524864u + 10485824u);
    expect_layout_in_a_fresh_process(PROGRAM_UPDATER);
}

// A thread that claimed a slot before start-up keeps it, and nobody is given it again.
TEST(StaticMemory, SlotsClaimedBeforeStartUpStayTheirs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            tmp_claim_slot();
            Temporary_Memory* own = tmp_get_slot();
            u8* own_block = tmp_allocate(64);
            std::atomic<int> stage{0};
            Temporary_Memory* worker_slot = nullptr;
            b8 worker_ok = false;
            std::thread worker([&] {
                tmp_claim_slot();
                worker_slot = tmp_get_slot();
                u8* block = tmp_allocate(64);
                if (block) memset(block, 0x22, 64);
                stage = 1;
                while (stage.load() != 2) sched_yield();
                worker_ok = block && all_octets_are(block, 64, 0x22) && tmp_get_slot() == worker_slot &&
                            tmp_allocate(16) != nullptr;
            });
            if (!wait_until([&] { return stage.load() == 1; })) exit(2);  // the worker found no slot

            b8 ok = init_memory(PROGRAM_EDITOR) && own_block;
            ok = ok && tmp_get_slot() == own && tmp_allocate(16) != nullptr;
            Temporary_Memory* later_slot = nullptr;
            std::thread later([&] {
                tmp_claim_slot();
                later_slot = tmp_get_slot();
            });
            later.join();
            stage = 2;
            worker.join();
            ok = ok && worker_ok && later_slot && later_slot != own && later_slot != worker_slot;
            exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(StaticMemory, CarvesAreAlignedAndBounded) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    __memory.used += 3;  // leave the offset unaligned on purpose
    u8* a = carve_static_memory(10);
    u8* b = carve_static_memory(GLYPHS_PAGE_MEMORY);
    ASSERT_TRUE(a && b);
    EXPECT_EQ((u64)a % 64, 0u);
    EXPECT_EQ((u64)b % 64, 0u);
    EXPECT_EQ(b - a, 64);
    u64 used = __memory.used;
    EXPECT_EQ(carve_static_memory(__memory.size), nullptr);
    EXPECT_EQ(__memory.used, used);
}

//~ General-purpose allocator: one chain of private buckets, so the first-fit walk,
// bucket growth and unmapping are seen exactly whichever way gp_allocate is built.

struct Private_Chain {
    Gp_Bucket* head;
    u64 octets;
};

static Private_Chain make_private_chain(u32 size_class) {
    u64 octets = gp_bucket_octets(GP_SIZE_CLASSES[size_class]);
    u8* memory = (u8*)os_allocate_read_write(octets);
    return {memory ? gp_init_bucket(memory, GP_SIZE_CLASSES[size_class]) : nullptr, octets};
}

static u8* unit_address(Gp_Bucket* bucket, u32 unit) {
    return (u8*)bucket + gp_units_offset(bucket->unit_count) + (u64)unit * bucket->unit_size;
}

TEST(GpAllocator, EveryClassAllocatesFreesAndReusesFirstFit) {
    for (u32 c = 0; c < GP_CLASS_COUNT; c++) {
        SCOPED_TRACE(c);
        Private_Chain chain = make_private_chain(c);
        ASSERT_TRUE(chain.head);
        Gp_Bucket* head = chain.head;
        u64 unit = head->unit_size;

        Gp_Allocation a, b, again;
        ASSERT_TRUE(gp_allocate_on_bucket(&a, head, unit + 1));  // two units
        ASSERT_TRUE(gp_allocate_on_bucket(&b, head, 1));
        EXPECT_EQ(a.memory, unit_address(head, 0));
        EXPECT_EQ(a.unit_count, 2);
        EXPECT_EQ(b.memory, unit_address(head, 2));
        EXPECT_EQ(b.first_unit, 2);
        EXPECT_EQ(head->used_units, 3);
        EXPECT_EQ((u64)a.memory % 64, 0u);
        EXPECT_EQ((u64)b.memory % 64, 0u);
        memset(a.memory, 0xAA, a.size);
        memset(b.memory, 0xBB, b.size);
        EXPECT_TRUE(all_octets_are(b.memory, b.size, 0xBB));

        gp_free(&a);
        EXPECT_TRUE(record_is_clear(a));
        EXPECT_EQ(head->used_units, 1);
        ASSERT_TRUE(gp_allocate_on_bucket(&again, head, unit));
        EXPECT_EQ(again.memory, unit_address(head, 0));

        // Two units do not fit in the one free unit before b: the run starts behind b.
        Gp_Allocation pair;
        ASSERT_TRUE(gp_allocate_on_bucket(&pair, head, 2 * unit));
        EXPECT_EQ(pair.first_unit, 3);

        gp_free(&again);
        gp_free(&b);
        gp_free(&pair);
        EXPECT_EQ(head->used_units, 0);
        EXPECT_TRUE(all_octets_are((u8*)(head + 1), head->unit_count, 0));
        os_free_mapping(head, chain.octets);
    }
}

static u32 chain_length(Gp_Bucket* head) {
    u32 n = 0;
    for (Gp_Bucket* b = head; b; b = b->next) n++;
    return n;
}

static void free_private_chain(Private_Chain chain) {
    for (Gp_Bucket* b = chain.head->next; b;) {
        Gp_Bucket* next = b->next;
        os_free_mapping(b, chain.octets);
        b = next;
    }
    os_free_mapping(chain.head, chain.octets);
}

TEST(GpAllocator, FullBucketsGrowTheChainBehindTheHead) {
    Private_Chain chain = make_private_chain(4);  // ten 1 MiB units
    ASSERT_TRUE(chain.head);
    Gp_Bucket* head = chain.head;
    u64 whole = (u64)head->unit_count * head->unit_size;

    // A request for every unit comes from the head while it is empty...
    Gp_Allocation first, second, third;
    ASSERT_TRUE(gp_allocate_on_bucket(&first, head, whole));
    EXPECT_EQ(first.bucket, head);
    // ...and from new buckets once it is not, each placed right behind the head.
    ASSERT_TRUE(gp_allocate_on_bucket(&second, head, whole));
    ASSERT_TRUE(gp_allocate_on_bucket(&third, head, 1));
    Gp_Bucket* b2 = second.bucket;
    Gp_Bucket* b3 = third.bucket;
    ASSERT_TRUE(b2 && b3 && b2 != head && b3 != b2);
    EXPECT_EQ(head->next, b3);
    EXPECT_EQ(b3->previous, head);
    EXPECT_EQ(b3->next, b2);
    EXPECT_EQ(b2->previous, b3);
    EXPECT_EQ(b2->next, nullptr);
    EXPECT_EQ(b2->head, head);
    EXPECT_EQ(b2->unit_size, head->unit_size);
    EXPECT_EQ(second.memory, unit_address(b2, 0));
    memset(second.memory, 1, second.size);
    EXPECT_EQ(head->empty_buckets, 0u);

    // Emptied buckets stay in the chain, counted at the head, and are taken again before
    // anything new is mapped.
    gp_free(&second);
    gp_free(&third);
    EXPECT_EQ(head->empty_buckets, 2u);
    EXPECT_EQ(chain_length(head), 3u);
    Gp_Allocation again[2];
    for (Gp_Allocation& a : again) {
        ASSERT_TRUE(gp_allocate_on_bucket(&a, head, whole));
        EXPECT_TRUE(a.bucket == b2 || a.bucket == b3);
    }
    EXPECT_NE(again[0].bucket, again[1].bucket);
    EXPECT_EQ(head->empty_buckets, 0u);
    EXPECT_EQ(chain_length(head), 3u);
    for (Gp_Allocation& a : again) gp_free(&a);

    // The head stays when its last block comes back, and is not counted as kept.
    gp_free(&first);
    EXPECT_EQ(head->used_units, 0);
    EXPECT_EQ(head->empty_buckets, 2u);
    Gp_Allocation reuse;
    ASSERT_TRUE(gp_allocate_on_bucket(&reuse, head, 1));
    EXPECT_EQ(reuse.bucket, head);
    gp_free(&reuse);
    free_private_chain(chain);
}

// A chain keeps its emptied buckets up to its limit; further ones are unmapped and leave
// both lists, their neighbours closing up.
TEST(GpAllocator, EmptiedBucketsBeyondTheKeptOnesGo) {
    Private_Chain chain = make_private_chain(4);
    ASSERT_TRUE(chain.head);
    Gp_Bucket* head = chain.head;
    u64 whole = (u64)head->unit_count * head->unit_size;
    const u32 kept = gp_kept_empty_buckets(chain.octets);
    ASSERT_GE(kept, 1u);
    ASSERT_LT(kept, 64u);  // a chain this test can afford to map

    std::vector<Gp_Allocation> blocks(kept + 4);  // the head, then kept + 3 more buckets
    for (Gp_Allocation& b : blocks) ASSERT_TRUE(gp_allocate_on_bucket(&b, head, whole));
    EXPECT_EQ(chain_length(head), kept + 4);
    for (u32 i = 1; i < blocks.size(); i++) gp_free(&blocks[i]);
    EXPECT_EQ(head->empty_buckets, kept);
    EXPECT_EQ(chain_length(head), kept + 1);
    // Both lists stay whole: every bucket behind the head has room and is listed once.
    u32 listed = 0;
    for (Gp_Bucket* b = head->next_with_room; b; b = b->next_with_room) {
        EXPECT_EQ(b->used_units, 0);
        EXPECT_EQ(b->head, head);
        listed++;
    }
    EXPECT_EQ(listed, kept);
    for (Gp_Bucket* b = head->next; b; b = b->next) EXPECT_EQ(b->previous->next, b);

    // A bucket that is not empty is never unmapped, whatever the count.
    Gp_Allocation small[2];
    ASSERT_TRUE(gp_allocate_on_bucket(&small[0], head, 1));  // the head is full: a kept bucket
    EXPECT_NE(small[0].bucket, head);
    EXPECT_EQ(head->empty_buckets, kept - 1);
    gp_free(&small[0]);
    EXPECT_EQ(head->empty_buckets, kept);
    gp_free(&blocks[0]);
    free_private_chain(chain);
}

// Only buckets with a free unit are searched: full ones are passed over, and a unit freed
// in one of them is where the next request goes.
TEST(GpAllocator, RequestsGoToBucketsWithRoom) {
    Private_Chain chain = make_private_chain(4);
    ASSERT_TRUE(chain.head);
    Gp_Bucket* head = chain.head;
    u64 unit = head->unit_size;
    const u32 buckets = 4;
    const u32 per_bucket = head->unit_count;

    // Four full buckets of one-unit blocks.
    std::vector<Gp_Allocation> blocks(buckets * per_bucket);
    for (Gp_Allocation& b : blocks) ASSERT_TRUE(gp_allocate_on_bucket(&b, head, unit));
    EXPECT_EQ(chain_length(head), buckets);
    for (Gp_Bucket* b = head; b; b = b->next) {
        EXPECT_EQ(b->used_units, per_bucket);
        EXPECT_EQ(b->next_with_room, nullptr);
    }

    // A unit freed in the full bucket furthest back: the next request lands there.
    Gp_Allocation* freed = &blocks[per_bucket + 3];  // in the first bucket made
    Gp_Bucket* bucket = freed->bucket;
    u8* memory = freed->memory;
    ASSERT_NE(bucket, head);
    ASSERT_EQ(bucket->next, nullptr);
    gp_free(freed);
    EXPECT_EQ(head->next_with_room, bucket);
    ASSERT_TRUE(gp_allocate_on_bucket(freed, head, unit));
    EXPECT_EQ(freed->memory, memory);
    EXPECT_EQ(head->next_with_room, nullptr);  // full again

    // A request larger than any bucket's free run skips the buckets with room and gets a new one.
    Gp_Allocation* a = &blocks[2 * per_bucket + 1];
    Gp_Allocation* b = &blocks[2 * per_bucket + 5];
    Gp_Bucket* split = a->bucket;
    gp_free(a);
    gp_free(b);
    Gp_Allocation pair;
    ASSERT_TRUE(gp_allocate_on_bucket(&pair, head, 2 * unit));
    EXPECT_NE(pair.bucket, split);
    EXPECT_EQ(head->next, pair.bucket);
    EXPECT_EQ(pair.first_unit, 0);
    // One-unit requests still find the gaps, and fill the split bucket back up.
    Gp_Allocation single[2];
    for (Gp_Allocation& s : single) ASSERT_TRUE(gp_allocate_on_bucket(&s, head, unit));
    for (Gp_Allocation& s : single) EXPECT_TRUE(s.bucket == split || s.bucket == pair.bucket);

    for (Gp_Allocation& s : single) gp_free(&s);
    gp_free(&pair);
    for (Gp_Allocation& block : blocks) gp_free(&block);
    EXPECT_EQ(head->used_units, 0);
    EXPECT_EQ(head->empty_buckets, chain_length(head) - 1);
    free_private_chain(chain);
}

TEST(GpAllocator, SizesGoToTheirClassOrAMappingOfTheirOwn) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case { u64 size; s32 size_class; u16 units; };
    static const Case cases[] = {
        {1, 0, 1}, {128, 0, 1}, {129, 0, 2}, {512, 0, 4},
        {513, 1, 1}, {4096, 1, 4},
        {4097, 2, 2}, {32768, 2, 8},
        {32769, 3, 2}, {262144, 3, 8},
        {262145, 4, 1}, {10485760, 4, 10},
        {10485761, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Gp_Allocation a;
        ASSERT_TRUE(gp_allocate(&a, c.size));
        ASSERT_TRUE(a.memory);
        EXPECT_EQ(a.size, c.size);
        memset(a.memory, 0x5A, c.size);
        EXPECT_EQ(a.mapped, !system_allocator() && c.size_class < 0);
        if (!system_allocator()) {
            EXPECT_EQ((u64)a.memory % 64, 0u);
            EXPECT_EQ(a.unit_count, c.units);
            if (c.size_class < 0) {
                EXPECT_EQ(a.bucket, nullptr);
            } else {
                ASSERT_TRUE(a.bucket);
                EXPECT_EQ(a.bucket->unit_size, GP_SIZE_CLASSES[c.size_class].unit_size);
            }
        }
        gp_free(&a);
        EXPECT_TRUE(record_is_clear(a));
    }

    Gp_Allocation none;
    EXPECT_TRUE(gp_allocate(&none, 0));
    EXPECT_TRUE(record_is_clear(none));
    gp_free(&none);  // a record of size 0 is left alone
    EXPECT_TRUE(record_is_clear(none));
}

TEST(GpAllocator, AReservationIsAMappingOfItsOwnWhicheverAllocatorServes) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const u64 size = 64ull << 20;
    Gp_Allocation a;
    ASSERT_TRUE(gp_reserve(&a, size));
    EXPECT_EQ(a.size, size);
    EXPECT_TRUE(a.mapped);
    EXPECT_EQ(a.bucket, nullptr);
    EXPECT_EQ((u64)a.memory % 4096, 0u);
    a.memory[0] = 1;
    a.memory[size - 1] = 2;
    gp_free(&a);
    EXPECT_TRUE(record_is_clear(a));

    Gp_Allocation none;
    EXPECT_TRUE(gp_reserve(&none, 0));
    EXPECT_TRUE(record_is_clear(none));
}

// Freed blocks of their own are kept for the next request of as many pages, within a
// bound, so a compile that frees its large arrays does not map and fault them in again.
TEST(GpAllocator, FreedBlocksOfTheirOwnAreKeptForTheSameSize) {
    if (system_allocator()) GTEST_SKIP() << "the blocks come from malloc";
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const u64 size = GP_LARGEST_CLASS_SIZE + 5000;  // 10 MiB and two pages
    Gp_Allocation a;
    ASSERT_TRUE(gp_allocate(&a, size));
    EXPECT_EQ(a.bucket, nullptr);
    memset(a.memory, 0x33, size);
    u8* memory = a.memory;
    u64 kept_before = __gp_allocator.kept_octets;
    gp_free(&a);
    EXPECT_TRUE(record_is_clear(a));
    EXPECT_EQ(__gp_allocator.kept_octets, kept_before + GP_LARGEST_CLASS_SIZE + 8192);

    // Another size does not take it; the same number of pages does, as it was left.
    Gp_Allocation other, same;
    ASSERT_TRUE(gp_allocate(&other, size + 8192));
    EXPECT_NE(other.memory, memory);
    ASSERT_TRUE(gp_allocate(&same, size - 100));
    EXPECT_EQ(same.memory, memory);
    EXPECT_EQ(same.size, size - 100);
    EXPECT_EQ(same.memory[size - 101], 0x33);
    EXPECT_EQ(__gp_allocator.kept_octets, kept_before);
    gp_free(&same);
    gp_free(&other);

    // Many freed at once: no more are kept than the bound allows, and each kept one comes
    // back to a request of its size.
    std::vector<Gp_Allocation> blocks(GP_KEPT_MAPPINGS + 4);
    for (Gp_Allocation& b : blocks) ASSERT_TRUE(gp_allocate(&b, 12ull << 20));
    auto kept_of_12_mib = [] {
        u32 n = 0;
        for (const Gp_Kept_Mapping& k : __gp_allocator.kept) n += k.octets == (12ull << 20);
        return n;
    };
    for (Gp_Allocation& b : blocks) gp_free(&b);
    EXPECT_LE(__gp_allocator.kept_octets, GP_KEPT_EMPTY_OCTETS);
    EXPECT_GE(kept_of_12_mib(), 1u);
    EXPECT_LT(kept_of_12_mib(), blocks.size());
    for (Gp_Allocation& b : blocks) ASSERT_TRUE(gp_allocate(&b, 12ull << 20));
    EXPECT_EQ(kept_of_12_mib(), 0u);
    for (Gp_Allocation& b : blocks) gp_free(&b);

    // A block larger than the bound is never kept.
    u64 kept_now = __gp_allocator.kept_octets;
    Gp_Allocation huge;
    ASSERT_TRUE(gp_allocate(&huge, GP_KEPT_EMPTY_OCTETS + 1));
    gp_free(&huge);
    EXPECT_EQ(__gp_allocator.kept_octets, kept_now);
}

TEST(GpAllocatorThreads, SeveralThreadsAllocateAndFreeAtOnce) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    static const u64 sizes[] = {24, 300, 512, 700, 4000, 5000, 70000};
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (u32 t = 0; t < 8; t++) {
        threads.emplace_back([&, t] {
            Gp_Allocation held[16] = {};
            for (u32 i = 0; i < 1500; i++) {
                Gp_Allocation* a = &held[i % 16];
                if (a->size && !all_octets_are(a->memory, a->size, (u8)(t + 1))) faults++;
                gp_free(a);
                if (!gp_allocate(a, sizes[(i + t) % ARRAY_COUNT(sizes)])) { faults++; continue; }
                memset(a->memory, (int)(t + 1), a->size);
            }
            for (Gp_Allocation& a : held) gp_free(&a);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(faults.load(), 0);
}

//~ Temporary memory

TEST(TemporaryMemory, BumpsSavesAndRestores) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    tmp_reset();
    u8* a = tmp_allocate(32);
    u8* b = tmp_allocate(64);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b - a, 32);

    u64 saved = tmp_get_used();
    EXPECT_EQ(saved, 96u);
    u8* scratch = tmp_allocate(1024);
    tmp_set_used(saved);
    EXPECT_EQ(tmp_allocate(10), scratch);

    tmp_reset();
    EXPECT_EQ(tmp_get_used(), 0u);
    EXPECT_EQ(tmp_allocate(1), a);
    tmp_reset();
}

TEST(TemporaryMemory, RefusesWhatDoesNotFit) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Temporary_Memory* slot = tmp_get_slot();
    ASSERT_TRUE(slot);
    tmp_reset();
    ASSERT_TRUE(tmp_allocate(100));
    EXPECT_EQ(tmp_allocate(slot->size - 99), nullptr);
    EXPECT_EQ(tmp_allocate(~0ull), nullptr);
    EXPECT_EQ(tmp_get_used(), 100u);
    EXPECT_TRUE(tmp_allocate(slot->size - 100));  // exactly the rest
    EXPECT_EQ(tmp_allocate(1), nullptr);
    tmp_reset();

    // Sizes whose padding for the alignment wraps past 64 bits are refused, not shrunk.
    for (u64 size : {~0ull, ~0ull - 62, ~0ull - 1000}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(tmp_allocate_aligned(size, 64), nullptr);
        EXPECT_EQ(tmp_get_used(), 0u);
    }
    EXPECT_NE(tmp_allocate_aligned(100, 64), nullptr);
    tmp_reset();
}

TEST(TemporaryMemoryThreads, AThreadWithoutASlotGetsNothing) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    b8 had_slot = true;
    u8* block = (u8*)1;
    std::thread([&] {
        had_slot = tmp_get_slot() != nullptr;
        block = tmp_allocate(16);
    }).join();
    EXPECT_FALSE(had_slot);
    EXPECT_EQ(block, nullptr);
}

static u32 claimed_slot_count() {
    return (u32)__builtin_popcountll(__atomic_load_n(&__tmp_allocator.claimed[0], __ATOMIC_ACQUIRE)) +
           (u32)__builtin_popcountll(__atomic_load_n(&__tmp_allocator.claimed[1], __ATOMIC_ACQUIRE));
}

struct Churn_Thread {
    std::atomic<int>* done;
    std::atomic<int>* faults;
};

static void* churn_thread(void* parameter) {
    Churn_Thread* c = (Churn_Thread*)parameter;
    tmp_claim_slot();
    u8* block = tmp_allocate(4096);
    if (!block) (*c->faults)++;
    else memset(block, 0x33, 4096);
    (*c->done)++;
    return 0;  // ends without releasing: the slot must come back on its own
}

TEST(TemporaryMemoryThreads, TwoHundredThreadsOneAfterAnotherEachGetASlot) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    u32 before = claimed_slot_count();
    // Static: a thread still waiting for a slot after a failure may outlive the test.
    static std::atomic<int> done, faults;
    static Churn_Thread churn = {&done, &faults};
    done = 0;
    faults = 0;
    for (int i = 0; i < 200; i++) {
        pthread_t thread;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        ASSERT_EQ(pthread_create(&thread, &attributes, churn_thread, &churn), 0);
        pthread_attr_destroy(&attributes);
        ASSERT_TRUE(wait_until([&] { return done.load() > i; }))
            << "thread " << i << " found no free slot: the slots of ended threads did not come back";
    }
    EXPECT_EQ(faults.load(), 0);
    // Detached threads give their slots back as they end.
    EXPECT_TRUE(wait_until([&] { return claimed_slot_count() == before; })) << claimed_slot_count() << " claimed, " << before
                                                                            << " before";
}

TEST(TemporaryMemoryThreads, ThreadsRunningTogetherHaveTheirOwnArenas) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const u32 count = 8;
    std::atomic<u32> ready{0};
    std::atomic<int> faults{0};
    Temporary_Memory* slots[count] = {};
    std::vector<std::thread> threads;
    for (u32 t = 0; t < count; t++) {
        threads.emplace_back([&, t] {
            tmp_claim_slot();
            slots[t] = tmp_get_slot();
            u8* block = tmp_allocate(65536);
            if (!block) { faults++; ready++; return; }
            memset(block, (int)(t + 1), 65536);
            ready++;
            while (ready.load() < count) sched_yield();
            if (!all_octets_are(block, 65536, (u8)(t + 1))) faults++;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(faults.load(), 0);
    for (u32 i = 0; i < count; i++)
        for (u32 j = i + 1; j < count; j++) EXPECT_NE(slots[i], slots[j]);
}

TEST(TemporaryMemoryThreads, ASlotGivenBackEarlyIsNotGivenBackTwice) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    std::atomic<b8> released{false}, first_may_end{false};
    b8 slot_cleared = false;
    std::thread first([&] {
        tmp_claim_slot();
        tmp_release_slot();
        slot_cleared = tmp_get_slot() == nullptr;
        released = true;
        while (!first_may_end.load()) sched_yield();
    });
    while (!released.load()) sched_yield();
    // The main thread's slot is busy, so a new thread takes the one just given back.
    Temporary_Memory* second_slot = nullptr;
    std::atomic<b8> second_claimed{false}, first_ended{false};
    std::thread second([&] {
        tmp_claim_slot();
        second_slot = tmp_get_slot();
        second_claimed = true;
        while (!first_ended.load()) sched_yield();
    });
    while (!second_claimed.load()) sched_yield();
    first_may_end = true;
    first.join();
    first_ended = true;
    // The first thread's end must not free the slot the second thread now holds.
    u32 index = (u32)(second_slot - __tmp_allocator.slots);
    u64 word = __atomic_load_n(&__tmp_allocator.claimed[index / 64], __ATOMIC_ACQUIRE);
    EXPECT_TRUE(word & (1ull << (index % 64)));
    second.join();
    EXPECT_TRUE(slot_cleared);
}
