#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/sort.h"
#include "tests/test_seed.h"

static b8 less_s32(void* a, void* b) { return *(s32*)a < *(s32*)b; }

static std::vector<s32> make_input(const std::string& kind, u32 n, std::mt19937& random) {
    std::vector<s32> v(n);
    for (u32 i = 0; i < n; i++) {
        if (kind == "equal") v[i] = 5;
        else if (kind == "sorted") v[i] = (s32)i;
        else if (kind == "reversed") v[i] = (s32)(n - i);
        else if (kind == "organ pipe") v[i] = (s32)(i < n / 2 ? i : n - i);
        else if (kind == "two values") v[i] = (s32)(random() % 2);
        else v[i] = (s32)(random() % (n / 4 + 1));  // random with duplicates
    }
    return v;
}

TEST(Sort, MatchesAReferenceSort) {
    u32 seed = (u32)test_seed(3);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    static const char* kinds[] = {"equal", "sorted", "reversed", "organ pipe", "two values", "random"};
    static const u32 sizes[] = {0, 1, 2, 3, 7, 8, 9, 31, 100, 1000, 2000};
    for (const char* kind : kinds) {
        for (u32 n : sizes) {
            SCOPED_TRACE(std::string(kind) + " " + std::to_string(n));
            std::vector<s32> v = make_input(kind, n, random);
            std::vector<s32> expected = v;
            std::sort(expected.begin(), expected.end());
            general_quick_sort(v.data(), n, sizeof(s32), less_s32);
            ASSERT_EQ(v, expected);
        }
    }
}

// Records larger than any small swap buffer, sorted by a key in the middle.
struct Big_Record {
    u8 before[700];
    s32 key;
    u8 after[301];
};

static b8 less_big(void* a, void* b) { return ((Big_Record*)a)->key < ((Big_Record*)b)->key; }

TEST(Sort, LargeElementsMoveWhole) {
    u32 seed = (u32)test_seed(5);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    std::vector<Big_Record> records(60);
    for (Big_Record& r : records) {
        r.key = (s32)(random() % 1000);
        memset(r.before, r.key & 0xFF, sizeof(r.before));
        memset(r.after, (r.key >> 8) & 0xFF, sizeof(r.after));
    }
    general_quick_sort(records.data(), (u32)records.size(), sizeof(Big_Record), less_big);
    for (size_t i = 0; i < records.size(); i++) {
        if (i) {
            ASSERT_LE(records[i - 1].key, records[i].key);
        }
        for (u8 b : records[i].before) ASSERT_EQ(b, records[i].key & 0xFF);
        for (u8 b : records[i].after) ASSERT_EQ(b, (records[i].key >> 8) & 0xFF);
    }
}

// An adversary that decides the values as the sort compares them, so that every pivot
// turns out the smallest (or, mirrored, the largest) of its range, after McIlroy's "killer
// adversary". Undecided values ("gas") sort after (or before) every decided one. The
// compare also records how deep the stack went.
static std::vector<s32> adversary_values;
static s32 adversary_gas;
static s32 adversary_next_solid;
static s32 adversary_step;
static s32 adversary_candidate;
static uintptr_t adversary_stack_lowest;

static b8 adversary_less(void* a, void* b) {
    uintptr_t here = (uintptr_t)__builtin_frame_address(0);
    if (here < adversary_stack_lowest) adversary_stack_lowest = here;
    s32 x = *(s32*)a;
    s32 y = *(s32*)b;
    if (adversary_values[x] == adversary_gas && adversary_values[y] == adversary_gas) {
        s32 frozen = x == adversary_candidate ? x : y;
        adversary_values[frozen] = adversary_next_solid;
        adversary_next_solid += adversary_step;
    }
    if (adversary_values[x] == adversary_gas) adversary_candidate = x;
    else if (adversary_values[y] == adversary_gas) adversary_candidate = y;
    return adversary_values[x] < adversary_values[y];
}

TEST(Sort, StackDepthStaysLogarithmicAgainstAnAdversary) {
    const u32 n = 4000;
    for (b8 pivot_largest : {false, true}) {
        SCOPED_TRACE(pivot_largest ? "pivot always largest" : "pivot always smallest");
        adversary_gas = pivot_largest ? -1 : (s32)n;
        adversary_next_solid = pivot_largest ? (s32)n : 0;
        adversary_step = pivot_largest ? -1 : 1;
        adversary_values.assign(n, adversary_gas);
        adversary_candidate = 0;
        std::vector<s32> indices(n);
        for (u32 i = 0; i < n; i++) indices[i] = (s32)i;

        uintptr_t stack_top = (uintptr_t)__builtin_frame_address(0);
        adversary_stack_lowest = stack_top;
        general_quick_sort(indices.data(), n, sizeof(s32), adversary_less);
        for (u32 i = 1; i < n; i++) ASSERT_LE(adversary_values[indices[i - 1]], adversary_values[indices[i]]);

        // Each level of recursion costs one frame of well under a kilobyte, even with the
        // sanitizers; a depth that grows with n would need hundreds of kilobytes here.
        EXPECT_LT(stack_top - adversary_stack_lowest, 64u * 1024u);
    }
}

static void* sort_a_million(void* kind) {
    std::mt19937 random(9);
    std::vector<s32>* v = new std::vector<s32>(make_input((const char*)kind, 1000000, random));
    general_quick_sort(v->data(), (u32)v->size(), sizeof(s32), less_s32);
    b8 sorted = std::is_sorted(v->begin(), v->end());
    delete v;
    return (void*)(uintptr_t)sorted;
}

TEST(Sort, AMillionElementsOnASmallStack) {
    for (const char* kind : {"sorted", "reversed", "equal"}) {
        SCOPED_TRACE(kind);
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 256 * 1024);
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, &attributes, sort_a_million, (void*)kind), 0);
        void* sorted = 0;
        pthread_join(thread, &sorted);
        pthread_attr_destroy(&attributes);
        EXPECT_TRUE(sorted);
    }
}

// Binary search: the test says whether the key lies at or after an element, and the
// linear search finds the last element at or before the key in its window.
static u32 last_window_count;

static b8 key_at_or_after(void* element, void* key) { return *(s32*)element <= *(s32*)key; }

static void* last_at_or_before(void* data, u32 element_size, u32 count, void* key) {
    last_window_count = count;
    s32* found = 0;
    for (u32 i = 0; i < count; i++) {
        s32* e = (s32*)data + i;
        if (*e <= *(s32*)key) found = e;
    }
    return found;
}

TEST(BinarySearch, AgreesWithALinearSearch) {
    for (u32 n = 0; n <= 40; n++) {
        std::vector<s32> v(n);
        for (u32 i = 0; i < n; i++) v[i] = (s32)(2 * i);
        for (s32 key = -1; key <= (s32)(2 * n + 1); key++) {
            SCOPED_TRACE(std::to_string(n) + " " + std::to_string(key));
            s32* expected = 0;
            for (u32 i = 0; i < n; i++) {
                if (v[i] <= key) expected = &v[i];
            }
            void* found = array_binary_search(v.data(), sizeof(s32), n, key_at_or_after, last_at_or_before, &key);
            ASSERT_EQ(found, (void*)expected);
        }
    }
}

TEST(BinarySearch, WindowSizes) {
    struct Case {
        u32 count;
        u32 window;
    };
    static const Case cases[] = {{1, 1}, {8, 8}, {9, 5}, {16, 5}, {17, 5}, {18, 6}, {1000, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        std::vector<s32> v(c.count);
        for (u32 i = 0; i < c.count; i++) v[i] = (s32)i;
        s32 key = 0;
        last_window_count = 0;
        array_binary_search(v.data(), sizeof(s32), c.count, key_at_or_after, last_at_or_before, &key);
        EXPECT_EQ(last_window_count, c.window);
    }
    last_window_count = 99;
    EXPECT_EQ(array_binary_search(0, sizeof(s32), 0, key_at_or_after, last_at_or_before, 0), nullptr);
    EXPECT_EQ(last_window_count, 99u);  // an empty array never reaches the linear search
}
