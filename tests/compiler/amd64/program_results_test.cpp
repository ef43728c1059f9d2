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

// A parameter of an inline body is a variable of the body, whatever its argument: what the
// body does to it is seen by every later read, in a loop's condition too. The guard ends
// a loop that would otherwise run on.
static const Result_Case INLINE_PARAMETERS[] = {
    {"a copied parameter counted down by a while loop",
     "r: s64; guard: s64;\n"
     "$dec: (#copy n: s64) -> s64 = #inline { while n > 0 && guard < 50 { n -= 1; guard += 1; } return n; };\n"
     "#on_load { r = dec(3); }\n",
     {{"r", 0}, {"guard", 3}}},
    {"a parameter without #copy",
     "r: s64; guard: s64;\n"
     "$dec: (n: s64) -> s64 = #inline { while n > 0 && guard < 50 { n -= 1; guard += 1; } return n; };\n"
     "#on_load { r = dec(3); }\n",
     {{"r", 0}, {"guard", 3}}},
    {"a loop's body read before the change",
     "r: s64; guard: s64;\n"
     "$sum: (#copy n: s64) -> s64 = #inline { t: s64 = 0; while guard < 4 { t += n; n += 10; guard += 1; } return t; };\n"
     "#on_load { r = sum(1); }\n",
     {{"r", 64}, {"guard", 4}}},
    {"changed in a branch not taken",
     "r: s64; g: s64;\n"
     "$pick: (#copy n: s64) -> s64 = #inline { if g == 1 { n = 5; } return n; };\n"
     "#on_load { r = pick(3) * 10; g = 1; r += pick(3); }\n",
     {{"r", 35}}},
    {"changed by an inline body it is handed to",
     "r: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$twice: (#copy n: s64) -> s64 = #inline { bump(n); bump(n); return n; };\n"
     "#on_load { r = twice(3); }\n",
     {{"r", 5}}},
    {"stepped by ++",
     "r: s64;\n"
     "$step: (#copy n: s64) -> s64 = #inline { n++; n++; return n; };\n"
     "#on_load { r = step(3); }\n",
     {{"r", 5}}},
    {"a member of a struct bound to a constant",
     "$Point: #struct = { x: s64; y: s64; };\n$ORIGIN: Point = Point.{1, 2};\nr: s64;\n"
     "$moved: (#copy p: Point) -> s64 = #inline { p.x = 5; return p.x * 10 + p.y; };\n"
     "#on_load { r = moved(ORIGIN); }\n",
     {{"r", 52}}},
    {"a for loop's bound read from it",
     "r: s64;\n"
     "$count: (#copy n: s64) -> s64 = #inline { t: s64 = 0; for 0, n -> i { t += 1; n -= 1; } return t * 100 + n; };\n"
     "#on_load { r = count(6); }\n",
     {{"r", 303}}},
};

TEST(ProgramResults, InlineParametersBoundToConstantsAreVariables) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(INLINE_PARAMETERS, ARRAY_COUNT(INLINE_PARAMETERS));
}

// A folded value is what the same operations compute at run time on variables.
static const Result_Case FOLDS[] = {
    {"a signed sum that is not negative stays signed",
     "a: s64; b: s64; c: s64; d: s64; v: s64;\n"
     "#on_load {\n"
     "    a = ((-5 + 10) - 6) / 2;\n"
     "    if (-5 + 10) - 6 < 0 { b = 1; }\n"
     "    c = ((-5 + 10) - 6) >> 1;\n"
     "    v = -5; d = ((v + 10) - 6) / 2;\n"
     "}\n",
     {{"a", 0}, {"b", 1}, {"c", -1}, {"d", 0}}},
};

TEST(ProgramResults, FoldsComputeWhatTheCodeComputes) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(FOLDS, ARRAY_COUNT(FOLDS));
}
