// Integer arithmetic, executed: every operator of "int arithmetic" and "int arithmetic
// constant" at every size and signedness, operands in every place, against the C++
// reference; the divisions that must trap run one program each.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>
#include <sstream>

#include "compiler/parser/expressions.h"
#include "tests/compiler/amd64/matrix.h"
#include "tests/compiler/amd64/reference.h"
#include "tests/test_seed.h"

static const u32 SIZES[] = {1, 2, 4, 8};

static std::vector<u64> standard_values(u32 size) {
    u64 lowest = 1ull << (8 * size - 1);
    std::vector<u64> values = {0,      1,          ~0ull,         2,           7,
                               0x7F,   0x80,       0xFF,          0x100,       lowest,
                               lowest - 1, 0x80000000ull, 0xFFFFFFFEull, 1ull << 40};
    for (u64& v : values) v &= reference_mask(size);
    return values;
}

struct Integer_Operator {
    u64 bit;
    const char* name;
    b8 unary;
};
static const Integer_Operator OPERATORS[] = {
    {OP_INCREMENT, "++", true},     {OP_DECREMENT, "--", true},    {OP_NEGATE, "unary -", true},
    {OP_BIT_NOT, "~", true},        {OP_NOT, "!", true},           {OP_ADD, "+", false},
    {OP_SUBTRACT, "-", false},      {OP_MULTIPLY, "*", false},     {OP_DIVIDE, "/", false},
    {OP_MODULO, "%", false},        {OP_SHIFT_LEFT, "<<", false},  {OP_SHIFT_RIGHT, ">>", false},
    {OP_ROTATE_LEFT, "<<<", false}, {OP_ROTATE_RIGHT, ">>>", false}, {OP_BIT_AND, "&", false},
    {OP_BIT_OR, "|", false},        {OP_BIT_XOR, "^", false},      {OP_LOGICAL_AND, "&&", false},
    {OP_LOGICAL_OR, "||", false},
};

static const char* operator_name(u64 bit) {
    for (const Integer_Operator& o : OPERATORS) {
        if (o.bit == bit) return o.name;
    }
    return "?";
}

struct Integer_Row {
    u8 kind;
    u64 op;
    u32 size;
    b8 is_signed;
    u64 a, b;  // b: the constant of kind 19
    Matrix_Place place_a, place_b;
    u64 expected;
    u32 instruction;  // the index of the arithmetic instruction
    u32 b_size;       // B's own size when it is not A's
};

static std::string describe(const Integer_Row& r) {
    std::ostringstream s;
    s << "kind " << (int)r.kind << ": " << (r.is_signed ? "s" : "u") << 8 * r.size << " 0x" << std::hex << r.a << " "
      << operator_name(r.op) << " 0x" << r.b << " (A " << MATRIX_PLACE_NAMES[r.place_a];
    if (r.kind == BYTECODE_INT_ARITHMETIC) s << ", B " << MATRIX_PLACE_NAMES[r.place_b];
    s << ")";
    return s.str();
}

static b8 is_unary(u64 op) { return op == OP_INCREMENT || op == OP_DECREMENT || op == OP_NEGATE || op == OP_BIT_NOT || op == OP_NOT; }

// Puts the operands in their places, runs the instruction on A and stores A in the row's slot.
static void add_row(Matrix* m, Integer_Row* r, u32 row) {
    u64 mask = reference_mask(r->size);
    Register_Id a = matrix_operand(m, r->place_a, MACHINE_CLASS_INTEGER, r->size, r->a, 0, row);
    if (r->kind == BYTECODE_INT_ARITHMETIC) {
        Register_Id b = INVALID_REGISTER_ID;
        if (!is_unary(r->op)) {
            u32 b_size = r->b_size ? r->b_size : r->size;
            b = r->place_b == PLACE_SAME_AS_A ? a : matrix_operand(m, r->place_b, MACHINE_CLASS_INTEGER, b_size, r->b, 1, row);
        }
        r->instruction = (u32)m->program.size();
        Bytecode_Int_Arithmetic* k = &matrix_add(m, BYTECODE_INT_ARITHMETIC)->int_arithmetic;
        k->destination = a;
        k->source = b;
        k->operator_bit = r->op;
        k->destination_not_boolean = (r->a & mask) > 1;
        k->source_not_boolean = (r->b & mask) > 1;
        k->is_signed = r->is_signed;
    } else {
        r->instruction = (u32)m->program.size();
        Bytecode_Int_Arithmetic_Constant* k = &matrix_add(m, BYTECODE_INT_ARITHMETIC_CONSTANT)->int_arithmetic_constant;
        k->destination = a;
        k->immediate = r->b;
        k->size = (u16)r->size;
        k->operator_bit = r->op;
        k->not_boolean = (r->a & mask) > 1;
        k->is_signed = r->is_signed;
    }
    matrix_store_output(m, a, row, r->size);
}

// The row folded by the compiler as two constants of its type would be, or false when the
// compiler would not fold it (a constant that does not fit the type is refused first).
static b8 fold_row(const Integer_Row& r, u64* folded) {
    static const Basic_Type_Slot UNSIGNED_TYPES[] = {BASIC_TYPE_U8, BASIC_TYPE_U16, BASIC_TYPE_U64, BASIC_TYPE_U32};
    static const Basic_Type_Slot SIGNED_TYPES[] = {BASIC_TYPE_S8, BASIC_TYPE_S16, BASIC_TYPE_S64, BASIC_TYPE_S32};
    u32 slot = r.size == 1 ? 0 : r.size == 2 ? 1 : r.size == 8 ? 2 : 3;
    Identifier* type = global_compiler_state.basic_types[(r.is_signed ? SIGNED_TYPES : UNSIGNED_TYPES)[slot]];
    u64 mask = reference_mask(r.size);
    if (!is_unary(r.op) && (r.b & ~mask)) return false;
    Value a, b, result;
    make_constant_value_from_integer(&a, (u64)reference_signed(r.a, r.size), type, Trace{});
    make_constant_value_from_integer(&b, (u64)reference_signed(r.b, r.size), type, Trace{});
    b8 ok = is_unary(r.op) ? apply_unary_operation_on_constant(&result, r.op, &a, Trace{})->kind
                           : apply_constant_operation(&result, r.op, 0, &a, &b)->kind;
    *folded = result.constant.data & mask;
    return ok;
}

// Runs the rows that do not trap as one program and checks each against the reference and
// against the compiler's own folding of the same operation.
static void expect_rows(std::vector<Integer_Row> rows, const char* context = "") {
    std::vector<Integer_Row> kept;
    for (Integer_Row& r : rows) {
        u64 b = r.place_b == PLACE_SAME_AS_A ? r.a : r.b;
        r.b = b;
        if (reference_integer(r.op, r.a, b, r.size, r.is_signed, &r.expected)) kept.push_back(r);
    }
    Matrix m;
    matrix_begin(&m, (u32)kept.size());
    for (u32 i = 0; i < kept.size(); i++) add_row(&m, &kept[i], i);
    Matrix_Run run = matrix_run(&m);
    ASSERT_EQ(run.failure, "") << context;
    u32 wrong = 0;
    for (u32 i = 0; i < kept.size(); i++) {
        const Integer_Row& r = kept[i];
        u64 got = load_u64(matrix_result(m, run, i)) & reference_mask(r.size);
        if (got == r.expected && matrix_guard_intact(m, run, i, r.size)) continue;
        if (++wrong <= 12) {
            ADD_FAILURE() << context << describe(r) << " gave 0x" << std::hex << got << ", expected 0x" << r.expected
                          << (matrix_guard_intact(m, run, i, r.size) ? "" : " (wrote past its size)");
        }
    }
    EXPECT_EQ(wrong, 0u) << context;

    // Folding computes what the code computes.
    ASSERT_TRUE(reset_compiler() && add_the_basic_types());
    u32 unlike = 0;
    for (u32 i = 0; i < kept.size(); i++) {
        const Integer_Row& r = kept[i];
        u64 got = load_u64(matrix_result(m, run, i)) & reference_mask(r.size), folded;
        if (!fold_row(r, &folded) || folded == got) continue;
        if (++unlike <= 12) {
            ADD_FAILURE() << context << describe(r) << " ran to 0x" << std::hex << got << " but folds to 0x" << folded;
        }
    }
    EXPECT_EQ(unlike, 0u) << context;
    compile_errors.count = 0;
}

static const Matrix_Place A_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_REGISTER, PLACE_CALL_DATA};
static const Matrix_Place B_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_CONSTANT, PLACE_REGISTER, PLACE_CALL_DATA, PLACE_SAME_AS_A};

//~ A op B

TEST(IntArithmetic, EveryOperatorSizeSignednessAndPlaceAgreesWithTheReference) {
    HARNESS_REQUIRE_AVX();
    u32 turn = 0;
    for (const Integer_Operator& o : OPERATORS) {
        SCOPED_TRACE(o.name);
        std::vector<Integer_Row> rows;
        for (u32 size : SIZES) {
            for (b8 is_signed : {false, true}) {
                std::vector<u64> values = standard_values(size);
                for (u64 a : values) {
                    for (u64 b : values) {
                        Matrix_Place pa = A_PLACES[turn % 4], pb = B_PLACES[(turn / 4) % 6];
                        turn++;
                        rows.push_back({BYTECODE_INT_ARITHMETIC, o.bit, size, is_signed, a, b, pa, pb, 0, 0});
                        if (o.unary) break;
                    }
                }
            }
        }
        expect_rows(rows);
    }
}

// A shift count of another size than the value: only its low octet counts.
TEST(IntArithmetic, ShiftCountsOfAnotherSize) {
    HARNESS_REQUIRE_AVX();
    std::vector<Integer_Row> rows;
    u32 turn = 0;
    for (u32 size : SIZES) {
        for (u32 count_size : SIZES) {
            if (count_size == size) continue;
            for (u64 op : {OP_SHIFT_LEFT, OP_SHIFT_RIGHT, OP_ROTATE_LEFT, OP_ROTATE_RIGHT}) {
                for (u64 count : {0ull, 1ull, 7ull, 9ull, 33ull, 0x0103ull}) {
                    Integer_Row r = {BYTECODE_INT_ARITHMETIC, op, size, turn % 2 == 1, 0x8123456789ABCDEFull & reference_mask(size),
                                     count & reference_mask(count_size), A_PLACES[turn % 4], B_PLACES[(turn / 4) % 5],
                                     0, 0, count_size};
                    turn++;
                    rows.push_back(r);
                }
            }
        }
    }
    expect_rows(rows);
}

//~ A op constant

TEST(IntArithmetic, ConstantOperandsAgreeWithTheReference) {
    HARNESS_REQUIRE_AVX();
    static const u64 ALU[] = {OP_ADD, OP_SUBTRACT, OP_BIT_AND, OP_BIT_OR, OP_BIT_XOR, OP_LOGICAL_AND, OP_LOGICAL_OR};
    static const u64 SHIFTS[] = {OP_SHIFT_LEFT, OP_SHIFT_RIGHT, OP_ROTATE_LEFT, OP_ROTATE_RIGHT};
    static const u64 COUNTS[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 255, 259};
    u32 turn = 0;
    std::vector<Integer_Row> rows;
    for (u32 size : SIZES) {
        for (b8 is_signed : {false, true}) {
            std::vector<u64> values = standard_values(size);
            // Constants that an imm32 reaches and some that need a register at size 8.
            std::vector<u64> constants = standard_values(8);
            for (u64 c : {0x100000000ull, 0xFFFFFFFF80000000ull, 0x7FFFFFFFull, 0x123456789ull}) constants.push_back(c);
            for (u64 a : values) {
                for (u64 op : ALU) {
                    for (u64 c : constants) rows.push_back({BYTECODE_INT_ARITHMETIC_CONSTANT, op, size, is_signed, a, c, A_PLACES[turn++ % 4], PLACE_CONSTANT, 0, 0});
                }
                for (u64 op : SHIFTS) {
                    for (u64 c : COUNTS) rows.push_back({BYTECODE_INT_ARITHMETIC_CONSTANT, op, size, is_signed, a, c, A_PLACES[turn++ % 4], PLACE_CONSTANT, 0, 0});
                }
            }
        }
    }
    expect_rows(rows);
}

TEST(IntArithmetic, MultiplicationByConstants) {
    HARNESS_REQUIRE_AVX();
    std::vector<u64> multipliers;
    for (s64 k = -100; k <= 100; k++) multipliers.push_back((u64)k);
    for (u64 k : {1ull << 31, (1ull << 32) + 1, 1ull << 63, 0x7FFFFFFFFFFFFFFFull, 1000003ull}) multipliers.push_back(k);
    u32 turn = 0;
    for (u32 size : SIZES) {
        std::vector<Integer_Row> rows;
        for (b8 is_signed : {false, true}) {
            for (u64 a : standard_values(size)) {
                for (u64 k : multipliers) {
                    rows.push_back({BYTECODE_INT_ARITHMETIC_CONSTANT, OP_MULTIPLY, size, is_signed, a, k, A_PLACES[turn++ % 4], PLACE_CONSTANT, 0, 0});
                }
            }
        }
        expect_rows(rows, size == 1 ? "size 1: " : size == 2 ? "size 2: " : size == 4 ? "size 4: " : "size 8: ");
    }
}

TEST(IntArithmetic, DivisionByConstants) {
    HARNESS_REQUIRE_AVX();
    std::vector<u64> divisors;
    for (s64 d = 1; d <= 70; d++) {
        divisors.push_back((u64)d);
        divisors.push_back((u64)-d);
    }
    for (u32 k = 0; k < 64; k++) {
        divisors.push_back(1ull << k);
        divisors.push_back(0 - (1ull << k));
    }
    divisors.push_back((1ull << 32) + 1);
    divisors.push_back(0xFFFFFFFFull);
    divisors.push_back(0xFFFFFFFFFFFFFFFFull / 3);
    u32 turn = 0;
    for (u32 size : SIZES) {
        std::vector<Integer_Row> rows;
        for (b8 is_signed : {false, true}) {
            std::vector<u64> values = standard_values(size);
            values.push_back(reference_mask(size) - 1);
            values.push_back(0x12345678ABCDEFull & reference_mask(size));
            for (u64 op : {OP_DIVIDE, OP_MODULO}) {
                for (u64 a : values) {
                    for (u64 d : divisors) {
                        rows.push_back({BYTECODE_INT_ARITHMETIC_CONSTANT, op, size, is_signed, a, d, A_PLACES[turn++ % 4], PLACE_CONSTANT, 0, 0});
                    }
                }
            }
        }
        expect_rows(rows, size == 1 ? "size 1: " : size == 2 ? "size 2: " : size == 4 ? "size 4: " : "size 8: ");
    }
    // The dividend that a rounded multiplier gets wrong.
    Integer_Row exact = {BYTECODE_INT_ARITHMETIC_CONSTANT, OP_DIVIDE, 4, false, 2147483648ull, 3, PLACE_STACK, PLACE_CONSTANT, 0, 0};
    ASSERT_TRUE(reference_integer(OP_DIVIDE, exact.a, exact.b, 4, false, &exact.expected));
    EXPECT_EQ(exact.expected, 715827882u);
    expect_rows({exact});
}

//~ Traps

TEST(IntArithmetic, ZeroDivisorsAndTheLowestValueByMinusOneTrapAtTheDivision) {
    HARNESS_REQUIRE_AVX();
    for (u8 kind : {BYTECODE_INT_ARITHMETIC, BYTECODE_INT_ARITHMETIC_CONSTANT}) {
        for (u32 size : SIZES) {
            for (b8 is_signed : {false, true}) {
                for (u64 op : {OP_DIVIDE, OP_MODULO}) {
                    u64 lowest = 1ull << (8 * size - 1);
                    std::vector<std::pair<u64, u64>> cases = {{7, 0}, {0, 0}};
                    if (is_signed) cases.push_back({lowest, ~0ull});
                    for (auto [a, b] : cases) {
                        Integer_Row r = {kind, op, size, is_signed, a, b, A_PLACES[size % 4], B_PLACES[(size + op) % 5], 0, 0};
                        SCOPED_TRACE(describe(r));
                        u64 unused;
                        EXPECT_FALSE(reference_integer(op, a, b, size, is_signed, &unused));
                        Matrix m;
                        matrix_begin(&m, 1);
                        add_row(&m, &r, 0);
                        Matrix_Run run = matrix_run(&m);
                        EXPECT_EQ(run.run.signal, SIGFPE) << run.failure;
                        EXPECT_NE(run.failure.find("in instruction #" + std::to_string(r.instruction) + " (kind " +
                                                   std::to_string(kind) + ")"),
                                  std::string::npos)
                            << run.failure;
                    }
                }
            }
        }
    }
}

//~ Random rows

// Any operator, size, signedness, operands and places; values drawn half from the edges.
TEST(IntArithmetic, RandomRowsAgreeWithTheReference) {
    HARNESS_REQUIRE_AVX();
    u32 seed = (u32)test_seed(3605);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937_64 random(seed);
    auto value = [&](u32 size) {
        std::vector<u64> edges = standard_values(size);
        return random() % 2 ? edges[random() % edges.size()] : random() & reference_mask(size);
    };
    std::vector<Integer_Row> rows;
    for (u32 i = 0; i < 4000; i++) {
        Integer_Row r = {};
        r.kind = random() % 2 ? BYTECODE_INT_ARITHMETIC : BYTECODE_INT_ARITHMETIC_CONSTANT;
        r.op = OPERATORS[random() % ARRAY_COUNT(OPERATORS)].bit;
        if (r.kind == BYTECODE_INT_ARITHMETIC_CONSTANT && is_unary(r.op)) r.op = OP_ADD;
        r.size = SIZES[random() % 4];
        r.is_signed = random() % 2;
        r.a = value(r.size);
        r.b = r.kind == BYTECODE_INT_ARITHMETIC_CONSTANT && random() % 2 ? random() : value(r.size);
        r.place_a = A_PLACES[random() % 4];
        r.place_b = r.kind == BYTECODE_INT_ARITHMETIC ? B_PLACES[random() % 6] : PLACE_CONSTANT;
        rows.push_back(r);
    }
    expect_rows(rows);
}
