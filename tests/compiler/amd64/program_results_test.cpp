// Small programs compiled from source and run: each leaves its s64 globals as the same
// steps leave them in C. Each row is a shape the compiler once turned into other code:
// a branch that falls through into the next, an element's address with another element's
// stride, a folded value that a loop changes, a fold of another signedness than the code's.
#include <gtest/gtest.h>

#include "tests/compiler/amd64/compiled_program.h"
#include "tests/compiler/amd64/translation_fixture.h"

struct Result_Case {
    const char* title;
    const char* source;  // runs as #on_load; its globals start at 0
    std::vector<std::pair<const char*, s64>> expected;
};

static void run_result_case(const Result_Case& c) {
    SCOPED_TRACE(c.title);
    std::vector<std::string> globals;
    for (const auto& [name, value] : c.expected) globals.push_back(name);
    Compiled_Program p = compile_program(c.source, globals);
    ASSERT_TRUE(p.ok) << testing::PrintToString(p.errors);
    EXPECT_EQ(lint_compiled(p), "");
    Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    for (const auto& [name, value] : c.expected) EXPECT_EQ(global_value<s64>(p, run, name), value) << name;
}

static void run_result_cases(const Result_Case* cases, size_t count) {
    for (size_t n = 0; n < count; n++) run_result_case(cases[n]);
}

// The jump to a chain's end may be left out only after a branch that cannot fall through.
static const Result_Case BRANCH_ENDS[] = {
    {"a branch ending in a nested if that returns",
     "g0: s64; g1: s64; g3: s64;\n"
     "$f0: () -> s64 = { if g1 == 0 { if g3 == 5 { return 7; } } else { g0 = 9; } return 22; };\n"
     "#on_load { g3 = f0(); }\n",
     {{"g0", 0}, {"g3", 22}}},
    {"the same before an else if, which is not tested again",
     "g0: s64; g1: s64; g3: s64;\n"
     "$f0: () -> s64 = { if g1 == 0 { if g3 == 5 { return 7; } } else if g1 == 0 { g0 = 9; } else { g0 = 8; }\n"
     "    return 22; };\n"
     "#on_load { g3 = f0(); }\n",
     {{"g0", 0}, {"g3", 22}}},
    {"nested twice, the inner chain with an else that returns",
     "g0: s64; g1: s64; g2: s64; g3: s64;\n"
     "$f0: () -> s64 = {\n"
     "    if g1 == 0 { if g2 == 1 { return 1; } else if g2 == 2 { if g1 == 0 { return 2; } } else { return 3; } }\n"
     "    else { g0 = 9; }\n"
     "    return 22; };\n"
     "#on_load { g2 = 2; g2 = 7; g3 = f0(); g2 = 2; g1 = f0(); }\n",
     {{"g0", 0}, {"g1", 2}, {"g3", 3}}},
    {"a branch whose loop returns",
     "g0: s64; g1: s64; g3: s64;\n"
     "$f0: () -> s64 = { if g1 == 0 { while g3 < 3 { g3 += 1; if g3 == 9 { return 7; } } } else { g0 = 9; }\n"
     "    return 22; };\n"
     "#on_load { g1 = f0(); }\n",
     {{"g0", 0}, {"g1", 22}, {"g3", 3}}},
    {"a switch case that returns only sometimes",
     "g0: s64; g1: s64; g3: s64;\n"
     "$f0: () -> s64 = { if g1 == 0 { switch g3 { 5: return 7; 6: g0 = 1; } } else { g0 = 9; } return 22; };\n"
     "#on_load { g1 = f0(); }\n",
     {{"g0", 0}, {"g1", 22}}},
    {"a branch that returns at its own level keeps no dead jump from running the next",
     "g0: s64; g1: s64;\n"
     "$f0: (x: s64) -> s64 = { if x == 0 { g0 += 1; return 5; } else if x == 1 { return 6; } else { g0 += 100; }\n"
     "    return 22; };\n"
     "#on_load { g1 = f0(0) * 10000 + f0(1) * 100 + f0(2); }\n",
     {{"g0", 101}, {"g1", 50622}}},
};

TEST(ProgramResults, BranchesFallThroughToTheChainsEnd) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(BRANCH_ENDS, ARRAY_COUNT(BRANCH_ENDS));
}

// An element's address is its array's start plus the index times the element's size, where
// ever it is stored.
#define BIG "$Big: #struct = { a: s64; b: s64; c: s64; d: s64; };\n"
#define NODE "$Node: #struct = { v: s64; next: @Node; };\n"

static const Result_Case ELEMENT_ADDRESSES[] = {
    {"into an element of an array of addresses",
     BIG "bigs: [3] Big; bp: [2] @Big; r: s64;\n"
         "#on_load { bp[1] = @bigs[1]; r = cast(bp[1], s64) - cast(bigs.data, s64); }\n",
     {{"r", 32}}},
    {"into an element, by an index in a register",
     BIG "bigs: [3] Big; bp: [2] @Big; r: s64; i: s64;\n"
         "#on_load { i = 2; bp[0] = @bigs[i]; r = cast(bp[0], s64) - cast(bigs.data, s64); }\n",
     {{"r", 64}}},
    {"into a member of an element",
     NODE "pool: [4] Node; r: s64; s: s64;\n"
          "#on_load {\n"
          "    for 0, 3 -> i { pool[i].next = @pool[i + 1]; pool[i].v = i + 1; }\n"
          "    pool[3].v = 4;\n"
          "    r = cast(pool[0].next, s64) - cast(pool.data, s64);\n"
          "    p := @pool[0];\n"
          "    while p { s = s * 10 + p.v; p = p.next; }\n"
          "}\n",
     {{"r", 16}, {"s", 1234}}},
    {"through an address of addresses",
     BIG "bigs: [3] Big; bp: [2] @Big; r: s64;\n"
         "#on_load { q: @@Big = bp.data; q[1] = @bigs[2]; r = cast(bp[1], s64) - cast(bigs.data, s64); }\n",
     {{"r", 64}}},
    {"an address plus a count",
     BIG "bigs: [3] Big; bp: [2] @Big; r: s64;\n"
         "#on_load { bp[1] = bigs.data + 2; r = cast(bp[1], s64) - cast(bigs.data, s64); }\n",
     {{"r", 64}}},
    {"elements of one octet and of four",
     "bytes: [8] u8; words: [8] s32; bytes_at: [2] @u8; words_at: [2] @s32; r: s64; s: s64;\n"
     "#on_load { bytes_at[1] = @bytes[3]; words_at[1] = @words[3];\n"
     "    r = cast(bytes_at[1], s64) - cast(bytes.data, s64); s = cast(words_at[1], s64) - cast(words.data, s64); }\n",
     {{"r", 3}, {"s", 12}}},
    {"into a local, as before",
     BIG "bigs: [3] Big; r: s64;\n"
         "#on_load { one: @Big = @bigs[1]; r = cast(one, s64) - cast(bigs.data, s64); }\n",
     {{"r", 32}}},
};

TEST(ProgramResults, ElementAddressesKeepTheirStrideWhereverTheyAreStored) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(ELEMENT_ADDRESSES, ARRAY_COUNT(ELEMENT_ADDRESSES));
}
