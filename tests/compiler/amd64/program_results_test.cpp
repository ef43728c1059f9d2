// Small programs compiled from source and run, each with the values its s64 globals must
// end with. Each row is a shape the compiler once turned into other code: a branch running
// into the next, an address with another element's step, a folded value that a loop
// changes, a fold that computes otherwise than the code, records that could not be compared.
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
     "#on_load { g2 = 7; g3 = f0(); g2 = 2; g1 = f0(); }\n",
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
    {"a member of an element, under '@'",
     "$Pair: #struct = { a: s64; b: s64; };\npairs: [3] Pair; at: [3] @s64; r: s64; i: s64;\n"
     "#on_load { i = 1; at[0] = @pairs[i].b; at[1] = @pairs[2].b; at[0][0] = 5;\n"
     "    r = (cast(at[0], s64) - cast(pairs.data, s64)) * 100 + cast(at[1], s64) - cast(pairs.data, s64) + pairs[1].b * 10000; }\n",
     {{"r", 52440}}},
    {"elements of 40,000 octets and of 70,000",
     "$Big: #struct = { a: [40000] u8; b: s64; };\n$Huge: #struct = { a: [70000] u8; b: s64; };\n"
     "bigs: [3] Big; hs: [3] Huge; r: s64; s: s64; t: s64; i: s64;\n"
     "#on_load { i = 2; r = cast(@bigs[i], s64) - cast(bigs.data, s64); s = cast(@hs[i], s64) - cast(hs.data, s64);\n"
     "    hs[i].b = 7; hs[1].b = 3; bigs[i].a[39999] = 5; t = hs[i].b * 100 + hs[1].b * 10 + bigs[2].a[39999]; }\n",
     {{"r", 80016}, {"s", 140016}, {"t", 735}}},
    {"into a local, as before",
     BIG "bigs: [3] Big; r: s64;\n"
         "#on_load { one: @Big = @bigs[1]; r = cast(one, s64) - cast(bigs.data, s64); }\n",
     {{"r", 32}}},
};

TEST(ProgramResults, ElementAddressesKeepTheirStrideWhereverTheyAreStored) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(ELEMENT_ADDRESSES, ARRAY_COUNT(ELEMENT_ADDRESSES));
}

// A parameter of an inline body that the body changes is a variable of the body, whatever its
// argument: what the body does to it is seen by every later read, in a loop's condition too.
// The guard ends a loop that would otherwise run on.
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
    {"a loop counting from it, which steps it",
     "r: s64;\n"
     "$from: (n: s64) -> s64 = #inline { t: s64 = 0; for n, 5 { t += 1; } return t * 10 + n; };\n"
     "#on_load { r = from(2); }\n",
     {{"r", 35}}},
    {"its address taken",
     "r: s64;\n"
     "$through: (#copy n: s64) -> s64 = #inline { p := @n; p[0] = 9; return n; };\n"
     "#on_load { r = through(3); }\n",
     {{"r", 9}}},
    {"stepped inside an expression",
     "r: s64;\n"
     "$step: (#copy n: s64) -> s64 = #inline { q := 2 * n--; return n; };\n"
     "#on_load { r = step(7); }\n",
     {{"r", 6}}},
    // Handed on without #copy, the parameter is the caller's: a change two bodies down is
    // its change, also once the inner body is known to change its own (the second call).
    {"changed through two bodies it is handed to",
     "r: s64; s: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$bump_on: (y: s64) = #inline { bump(y); };\n"
     "$first: (n: s64) -> s64 = #inline { bump_on(n); return n; };\n"
     "$second: (m: s64) -> s64 = #inline { bump(m); return m * 10; };\n"
     "#on_load { r = first(1); s = second(5); }\n",
     {{"r", 2}, {"s", 60}}},
    {"a member handed to a body that changes it",
     "$Point: #struct = { x: s64; y: s64; };\n$ORIGIN: Point = Point.{1, 2};\nr: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$moved: (p: Point) -> s64 = #inline { bump(p.x); return p.x * 10 + p.y; };\n"
     "#on_load { r = moved(ORIGIN); }\n",
     {{"r", 22}}},
    {"changed by a #copy parameter it is handed to",
     "r: s64;\n"
     "$bump: (#copy x: s64) -> s64 = #inline { x += 1; return x; };\n"
     "$keep: (n: s64) -> s64 = #inline { b := bump(n); return b * 10 + n; };\n"
     "#on_load { r = keep(4); }\n",
     {{"r", 54}}},
    // Only read, it is still a value of its declared type: its operations are typed, signed
    // or unsigned and cut to its size, as on a variable.
    {"a signed parameter below 0 after a subtraction",
     "r: s64;\n"
     "$below: (#copy n: s64) -> s64 = #inline { if n - 5 < 0 { return 1; } return 2; };\n"
     "#on_load { r = below(3); }\n",
     {{"r", 1}}},
    {"an unsigned parameter wraps at its size",
     "r: s64; s: s64;\n"
     "$less: (n: u8) -> s64 = #inline { return n - 5; };\n"
     "$more: (n: u32) -> u32 = #inline { return n + 1; };\n"
     "#on_load { r = less(3); s = more(0xFFFFFFFF); }\n",
     {{"r", 254}, {"s", 0}}},
    {"a wide parameter summed with a narrower variable, in its own width",
     "g: s8; r: s64; s: s64;\n"
     "$add: (#copy a: s16) -> s32 = #inline { return a + g; };\n"
     "#on_load { g = 120; r = add(10); g = 100; s = add(300); }\n",
     {{"r", 130}, {"s", 400}}},
    {"a value folded or cast from it, summed with a narrower variable",
     "g: s8; r: s64; s: s64;\n"
     "$add: (a: s16) -> s32 = #inline { return (7 + a) + g; };\n"
     "$cut: (a: s32) -> s32 = #inline { return cast(a, s16) + g; };\n"
     "#on_load { g = 120; r = add(10); g = 100; s = cut(300); }\n",
     {{"r", 137}, {"s", 400}}},
    {"a string read for its count",
     "r: s64;\n"
     "$count: (s: String) -> s64 = #inline { return s.count; };\n"
     "#on_load { r = count(\"abcd\"); }\n",
     {{"r", 4}}},
    {"a constant parameter stays a constant",
     "r: s64;\n"
     "$sized: ($n: u64) -> s64 = #inline { #assert(n - 5 > n); a: [n] s64; a[2] = 7; return a[2] * 3; };\n"
     "#on_load { r = sized(3); }\n",
     {{"r", 21}}},
};

TEST(ProgramResults, InlineParametersBoundToConstantsAreVariables) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(INLINE_PARAMETERS, ARRAY_COUNT(INLINE_PARAMETERS));
}

// A parameter the body only reads is its constant argument: usable wherever a constant is
// needed, by an inline body evaluated at run time or with #constant, recursively too.
static const Result_Case INLINE_CONSTANTS[] = {
    {"an #if on the parameter",
     "r: s64; s: s64;\n"
     "$g: (n: s64) -> s64 = #inline { #if n <= 1 { return 1; } return n * 3; };\n"
     "#on_load { x := g(4); r = x; s = g(1); }\n",
     {{"r", 12}, {"s", 1}}},
    {"a recursive body evaluated with #constant",
     "r: s64; s: s64;\n"
     "$fact: (n: s64) -> s64 = #inline { #if n <= 1 { return 1; } else { return n * fact(n - 1); } };\n"
     "$F6 := #constant fact(6);\n"
     "#on_load { r = F6; s = #constant fact(20); }\n",
     {{"r", 720}, {"s", 2432902008176640000}}},
    {"a recursion evaluated with #constant up to the depth cap",
     "r: s64;\n"
     "$down: (n: s64) -> s64 = #inline { #if n <= 0 { return 0; } return 1 + down(n - 1); };\n"
     "#on_load { r = #constant down(63); }\n",
     {{"r", 63}}},
    {"the same body expanded at run time",
     "r: s64;\n"
     "$fact: (n: s64) -> s64 = #inline { #if n <= 1 { return 1; } else { return n * fact(n - 1); } };\n"
     "#on_load { r = fact(5); }\n",
     {{"r", 120}}},
    {"a constant folded from it",
     "r: s64;\n"
     "$fold: (n: s64) -> s64 = #inline { $K := n * 4 + 1; #assert(K > n); return K; };\n"
     "#on_load { r = fold(5); }\n",
     {{"r", 21}}},
    {"an array sized by it",
     "r: s64;\n"
     "$sized: (n: u64) -> s64 = #inline {\n"
     "    e: [n] s64; for 0, n -> i { e[i] = cast(i, s64); } q: s64 = 0; for 0, n -> i { q += e[i]; } return q; };\n"
     "#on_load { r = sized(4); }\n",
     {{"r", 6}}},
    {"a count loop on it",
     "r: s64;\n"
     "$rep: (n: s64) -> s64 = #inline { t: s64 = 0; for n { t += 2; } #if n > 2 { return t + 100; } return t; };\n"
     "#on_load { r = rep(3); }\n",
     {{"r", 106}}},
    // What is made from it and handed to a body that changes it is a value of its own.
    {"handed on after an operation",
     "r: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$keep: (n: s64) -> s64 = #inline { bump(n + 0); #if n == 4 { return n * 10; } return 0; };\n"
     "#on_load { r = keep(4); }\n",
     {{"r", 40}}},
    {"handed on as the result of a body that reads it",
     "r: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$same: (n: s64) -> s64 = #inline { #if n > 0 { return n; } return 0; };\n"
     "#on_load { bump(same(3)); r = same(4); }\n",
     {{"r", 4}}},
    // Read in one body and changed in another it is handed to: the change wins.
    {"read as a constant, then changed",
     "r: s64;\n"
     "$bump: (x: s64) = #inline { x += 1; };\n"
     "$both: (n: s64) -> s64 = #inline { before := n * 100; bump(n); return before + n; };\n"
     "#on_load { r = both(3); }\n",
     {{"r", 304}}},
    // A zero that reaches a compare or a divisor through the parameter is no written slip:
    // the body is right for every argument.
    {"bound to 0 under an unsigned compare and a guarded division",
     "r: s64; s: s64; t: s64; u: u8;\n"
     "$at_most: (x: u8, n: u8) -> s64 = #inline { if x <= n * u { return 1; } if x < n { return 2; } return 3; };\n"
     "$share: (x: s64, n: s64) -> s64 = #inline { if n != 0 { return x / n + x % n; } return -1; };\n"
     "#on_load { u = 9; r = at_most(0, 0) * 10 + at_most(5, 0); s = share(7, 0); t = share(7, 2); }\n",
     {{"r", 13}, {"s", -1}, {"t", 4}}},
};

TEST(ProgramResults, InlineParametersOnlyReadAreTheirConstants) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(INLINE_CONSTANTS, ARRAY_COUNT(INLINE_CONSTANTS));
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
    {"an untyped number with a typed one works in the type the code works in",
     "$B: s8 = 100;\n$U: u8 = 200;\n$W: u16 = 65000;\nb: s8; u: u8; w: u16;\n"
     "f0: s64; c0: s64; f1: s64; c1: s64; f2: s64; c2: s64; f3: s64; c3: s64; f4: s64; c4: s64; f5: s64; c5: s64;\n"
     "#on_load { b = 100; u = 200; w = 65000;\n"
     "    f0 = 100 + B; c0 = 100 + b;\n"
     "    f1 = -100 - B; c1 = -100 - b;\n"
     "    f2 = 100 + U; c2 = 100 + u;\n"
     "    f3 = 1000 + W; c3 = 1000 + w;\n"
     "    f4 = 3 * B; c4 = 3 * b;\n"
     "    f5 = 1 << B; c5 = 1 << b;\n"
     "}\n",
     {{"f0", -56}, {"c0", -56}, {"f1", -200}, {"c1", -200}, {"f2", 44}, {"c2", 44}, {"f3", 464}, {"c3", 464},
      {"f4", 44}, {"c4", 44}, {"f5", 1ll << 36}, {"c5", 1ll << 36}}},
    {"a condition's arithmetic is not done in b8",
     "b: s64; r: s64; t: b8;\n"
     "#on_load { b = 50; if 100 - b > 0 { r = 1; } if 100 - b == 50 { r += 10; } t = 100 - b; r += cast(t, s64) * 100; }\n",
     {{"r", 111}}},
};

TEST(ProgramResults, FoldsComputeWhatTheCodeComputes) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(FOLDS, ARRAY_COUNT(FOLDS));
}

// == and != on two values of one struct type compare member by member: the octets of
// padding between members never count.
#define PADDED "$Padded: #struct = { a: u8; b: s64; c: s16; };\n"

static const Result_Case RECORD_COMPARES[] = {
    {"equal and unequal, in a condition and as a value",
     "$Point: #struct = { x: s64; y: s64; };\np: Point; q: Point; r: s64; s: s64; t: s64;\n"
     "#on_load { p.x = 1; p.y = 2; q.x = 1; q.y = 2; if p == q { r = 1; } s = cast(p != q, s64);\n"
     "    q.y = 3; if p != q { t = 1; } t += cast(p == q, s64) * 10; }\n",
     {{"r", 1}, {"s", 0}, {"t", 1}}},
    {"padding that differs",
     PADDED "u: Padded; v: Padded; r: s64;\n"
     "#on_load { octets := cast(@u, @u8); octets[1] = 7; octets[20] = 9; u.b = 5; v.b = 5;\n"
     "    if u == v { r = 1; } v.c = 1; if u != v { r += 10; } }\n",
     {{"r", 11}}},
    {"nested records, strings by their text, reals by their value",
     "$Inner: #struct = { name: String; weight: f64; };\n$Outer: #struct = { tag: u8; inner: Inner; };\n"
     "a: Outer; b: Outer; r: s64;\n"
     "#on_load { a.inner.name = \"quarn\"; b.inner.name = \"qua\"; a.inner.weight = 0.0; b.inner.weight = -0.0;\n"
     "    if a == b { r = 1; } b.inner.name = \"quarn\"; if a == b { r += 10; } }\n",
     {{"r", 10}}},
    {"elements of an array and a member array",
     "$Cell: #struct = { v: s32; marks: [3] u8; };\ncells: [4] Cell; r: s64; i: s64;\n"
     "#on_load { cells[2].marks[1] = 4; cells[3].marks[1] = 4; i = 2;\n"
     "    if cells[i] == cells[3] { r = 1; } if cells[0] == cells[i] { r += 10; }\n"
     "    cells[3].marks[2] = 1; if cells[i] != cells[3] { r += 100; } }\n",
     {{"r", 101}}},
    {"a constant on either side",
     "$Point: #struct = { x: s64; y: s64; };\n$ORIGIN: Point = Point.{1, 2};\np: Point; r: s64;\n"
     "#on_load { if p == ORIGIN { r = 1; } p.x = 1; p.y = 2; if ORIGIN == p { r += 10; }\n"
     "    if ORIGIN != ORIGIN { r += 100; } }\n",
     {{"r", 10}}},
};

TEST(ProgramResults, RecordsCompareMemberByMember) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(RECORD_COMPARES, ARRAY_COUNT(RECORD_COMPARES));
}

// Other results a copy is folded into land in elements and through addresses the same way.
static const Result_Case RETARGETED_RESULTS[] = {
    {"a cast into an element and through an address",
     "words: [4] s32; r: s64; x: s64; f: f64; i: s64;\n"
     "#on_load { x = 0x100000005; f = -7.75; i = 2; words[i] = cast(x, s32); p := words.data; p[1] = cast(f, s32);\n"
     "    r = cast(words[1], s64) * 1000 + cast(words[2], s64) + cast(words[3], s64) * 100; }\n",
     {{"r", -6995}}},
    {"a compare's result into an element",
     "flags: [4] b8; r: s64; a: s64; b: s64; i: s64;\n"
     "#on_load { a = 3; b = 5; i = 1; flags[i] = a < b; flags[2] = a > b; flags[3] = a != b;\n"
     "    r = cast(flags[0], s64) + cast(flags[1], s64) * 10 + cast(flags[2], s64) * 100 + cast(flags[3], s64) * 1000; }\n",
     {{"r", 1010}}},
    {"an element's address stepped in place",
     BIG "bigs: [3] Big; bp: [2] @Big; r: s64;\n"
     "#on_load { bp[0] = @bigs[0]; bp[0]++; bp[0] += 1; p := @bigs[2]; bp[1] = p - 1;\n"
     "    r = (cast(bp[0], s64) - cast(bigs.data, s64)) * 100 + cast(bp[1], s64) - cast(bigs.data, s64); }\n",
     {{"r", 6432}}},
};

TEST(ProgramResults, RetargetedResultsLandWhereTheyAreStored) {
    HARNESS_REQUIRE_AVX();
    run_result_cases(RETARGETED_RESULTS, ARRAY_COUNT(RETARGETED_RESULTS));
}
