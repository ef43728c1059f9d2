// Compares, executed: each row compares (integers signed and unsigned, floats with NaN,
// flag tests, blocks) and stores the outcome with "store cmp result" under one of its
// six operators, into a place or through a pointer; checked against C++ and memcmp.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <sstream>

#include "tests/compiler/amd64/matrix.h"
#include "tests/compiler/amd64/reference.h"

static const u64 COMPARISONS[] = {OP_NOT_EQUAL, OP_LESS, OP_LESS_EQUAL, OP_GREATER, OP_GREATER_EQUAL, OP_EQUAL};
static const char* comparison_name(u64 op) {
    switch (op) {
        case OP_NOT_EQUAL: return "!=";
        case OP_LESS: return "<";
        case OP_LESS_EQUAL: return "<=";
        case OP_GREATER: return ">";
        case OP_GREATER_EQUAL: return ">=";
        case OP_EQUAL: return "==";
    }
    return "?";
}

static const Matrix_Place L_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_REGISTER, PLACE_CALL_DATA, PLACE_CONSTANT};
static const Matrix_Place R_PLACES[] = {PLACE_STACK,     PLACE_GLOBAL,           PLACE_CONSTANT,           PLACE_REGISTER,
                                 PLACE_CALL_DATA, PLACE_POINTER_IN_GLOBAL, PLACE_POINTER_IN_REGISTER};
static const Matrix_Place RESULT_PLACES[] = {PLACE_GLOBAL,    PLACE_STACK,             PLACE_REGISTER,
                                      PLACE_CALL_DATA, PLACE_POINTER_IN_GLOBAL, PLACE_POINTER_IN_REGISTER};

struct Compare_Row {
    u8 kind;
    u64 op;
    u32 size;
    b8 is_signed;
    b8 is_float;
    u64 l, r;  // values, a mask or a constant's bits; blocks: the size and the differing position
    Matrix_Place place_l, place_r, place_result;
    u32 result_size;
    b8 expected;
};

static std::string describe(const Compare_Row& r) {
    std::ostringstream s;
    s << bytecode_kind_name(r.kind) << " (kind " << (int)r.kind << ") " << (r.is_float ? "f" : r.is_signed ? "s" : "u")
      << 8 * r.size << " 0x" << std::hex << r.l << " " << comparison_name(r.op) << " 0x" << r.r << " (L "
      << MATRIX_PLACE_NAMES[r.place_l] << ", R " << MATRIX_PLACE_NAMES[r.place_r] << ", result " << MATRIX_PLACE_NAMES[r.place_result] << ", "
      << std::dec << r.result_size << " octets)";
    return s.str();
}

// The bytes of the blocks: L always points at BLOCK; R's copy differs at one position.
#define BLOCK_SIZE 71
static u8 block_octet(u32 i) { return (u8)(i * 37 + 11); }

struct Compares {
    Matrix m;
    u32 block_offset = 0;  // of the shared block in global data
};

// The operands of a row, then the compare, then the stored result.
static void add_row(Compares* c, Compare_Row* r, u32 row) {
    Matrix* m = &c->m;
    u8 machine_class = r->is_float ? MACHINE_CLASS_FLOAT : MACHINE_CLASS_INTEGER;
    Register_Id result = matrix_place(m, r->place_result, MACHINE_CLASS_INTEGER, r->result_size, 0, row);
    Register_Id l = INVALID_REGISTER_ID, right = INVALID_REGISTER_ID;
    if (r->kind == BYTECODE_COMPARE_BLOCK_TO_CONSTANT || r->kind == BYTECODE_MEMCMP) {
        // r->l: the size; r->r: the differing position (the size for none).
        std::vector<u8> copy(r->l);
        for (u32 i = 0; i < r->l; i++) copy[i] = block_octet(i) ^ (i == r->r ? 0x40 : 0);
        Register_Id constant = fixture_constant(&m->f, copy.data(), (u32)r->l);
        l = matrix_pointer(m, r->place_l, HARNESS_GLOBALS, c->block_offset, 1, row);
        if (r->kind == BYTECODE_MEMCMP) {
            right = matrix_pointer(m, r->place_r, HARNESS_CONSTANTS, fixture_offset(constant), 2, row);
            static const Matrix_Place SIZE_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_REGISTER, PLACE_CALL_DATA, PLACE_CONSTANT};
            Register_Id n = matrix_operand(m, SIZE_PLACES[row % 5], MACHINE_CLASS_INTEGER, r->size, r->l, 3, row);
            Bytecode_Compare* k = &matrix_add(m, BYTECODE_MEMCMP)->compare;
            *k = {l, right, n};
        } else {
            Bytecode_Compare* k = &matrix_add(m, BYTECODE_COMPARE_BLOCK_TO_CONSTANT)->compare;
            *k = {l, constant, INVALID_REGISTER_ID};
        }
        std::vector<u8> block(r->l);
        for (u32 i = 0; i < r->l; i++) block[i] = block_octet(i);
        b8 equal = r->l == 0 || memcmp(copy.data(), block.data(), r->l) == 0;
        r->expected = equal == (r->op == OP_EQUAL);
    } else {
        l = matrix_operand(m, r->place_l, machine_class, r->size, r->l, 1, row);
        switch (r->kind) {
            case BYTECODE_COMPARE:
            case BYTECODE_FLOAT_COMPARE:
            case BYTECODE_TEST_FLAGS: {
                if (matrix_is_pointer(r->place_r)) {
                    // Through an address: R points at its value in global data.
                    Register_Id value = matrix_operand(m, PLACE_GLOBAL, machine_class, r->size, r->r, 2, row);
                    right = matrix_pointer(m, r->place_r, HARNESS_GLOBALS, fixture_offset(amd64_get_register(value)->base), 2, row);
                } else {
                    right = matrix_operand(m, r->place_r, machine_class, r->size, r->r, 2, row);
                }
                Bytecode_Instruction* i = matrix_add(m, r->kind);
                if (r->kind == BYTECODE_COMPARE) {
                    i->compare_flags = {l, right, matrix_is_pointer(r->place_r), (u8)r->size};
                } else {
                    i->compare = {l, right, INVALID_REGISTER_ID};
                }
                break;
            }
            case BYTECODE_COMPARE_TO_CONSTANT:
            case BYTECODE_TEST_FLAGS_CONSTANT:
            case BYTECODE_FLOAT_COMPARE_TO_CONSTANT:
                matrix_add(m, r->kind)->compare_to_constant = {l, r->r, (u16)r->size};
                break;
            case BYTECODE_COMPARE_TO_ZERO:
            case BYTECODE_FLOAT_COMPARE_TO_ZERO: matrix_add(m, r->kind)->compare = {l, INVALID_REGISTER_ID, INVALID_REGISTER_ID}; break;
        }
    }
    Bytecode_Store_Compare_Result* k = &matrix_add(m, BYTECODE_STORE_COMPARE_RESULT)->store_compare_result;
    *k = {result, r->op, (u8)(!r->is_signed && !r->is_float), r->is_float, matrix_is_pointer(r->place_result)};
    if (!matrix_is_pointer(r->place_result)) matrix_store_output(m, result, row, r->result_size);
}

static void expect_rows(std::vector<Compare_Row> rows) {
    Compares c;
    matrix_begin(&c.m, (u32)rows.size());
    Register_Id block = fixture_global(&c.m.f, BLOCK_SIZE);
    c.block_offset = fixture_offset(block);
    for (u32 i = 0; i < BLOCK_SIZE; i++) c.m.f.globals[c.block_offset + i] = block_octet(i);
    for (u32 i = 0; i < rows.size(); i++) add_row(&c, &rows[i], i);
    Matrix_Run run = matrix_run(&c.m);
    ASSERT_EQ(run.failure, "");
    u32 wrong = 0;
    for (u32 i = 0; i < rows.size(); i++) {
        const Compare_Row& r = rows[i];
        u32 size = matrix_is_pointer(r.place_result) ? 1 : r.result_size;
        u64 got = load_u64(matrix_result(c.m, run, i)) & reference_mask(size);
        if (got == (u64)r.expected && matrix_guard_intact(c.m, run, i, size)) continue;
        if (++wrong <= 12) ADD_FAILURE() << describe(r) << " stored 0x" << std::hex << got << ", expected " << r.expected;
    }
    EXPECT_EQ(wrong, 0u);
}

static std::vector<u64> compared_values(u32 size) {
    u64 lowest = 1ull << (8 * size - 1);
    std::vector<u64> values = {0, 1, ~0ull, 2, 0x7F, 0x80, 0xFF, 0x100, lowest, lowest - 1, 0x80000000ull, 1ull << 40};
    for (u64& v : values) v &= reference_mask(size);
    return values;
}

TEST(Compares, IntegersSignedAndUnsignedUnderEveryOperator) {
    HARNESS_REQUIRE_AVX();
    std::vector<Compare_Row> rows;
    u32 turn = 0;
    for (u32 size : {1u, 2u, 4u, 8u}) {
        for (b8 is_signed : {false, true}) {
            std::vector<u64> values = compared_values(size);
            for (u64 l : values) {
                for (u64 r : values) {
                    for (u8 kind : {BYTECODE_COMPARE, BYTECODE_COMPARE_TO_CONSTANT, BYTECODE_COMPARE_TO_ZERO}) {
                        if (kind == BYTECODE_COMPARE_TO_ZERO && r != 0) continue;
                        Compare_Row row = {kind, COMPARISONS[turn % 6], size, is_signed, false, l, r,
                                           L_PLACES[turn % 4], R_PLACES[(turn / 3) % 7], RESULT_PLACES[(turn / 5) % 6],
                                           turn % 7 == 3 ? 4u : 1u, false};
                        // The constant of kind 29 is read at the operand's size: give it sign-extended too.
                        if (kind == BYTECODE_COMPARE_TO_CONSTANT && is_signed) row.r = (u64)reference_signed(r, size);
                        row.expected = reference_compare(row.op, l, r, size, is_signed);
                        rows.push_back(row);
                        turn++;
                    }
                }
            }
        }
    }
    expect_rows(rows);
}

TEST(Compares, FloatsFollowIeeeWithNaN) {
    HARNESS_REQUIRE_AVX();
    static const f64 VALUES[] = {0.0, -0.0, 1.5, -2.25, 1e30, 1e-310, INFINITY, -INFINITY, NAN};
    auto bits = reference_float_bits;
    std::vector<Compare_Row> rows;
    u32 turn = 0;
    for (u32 size : {4u, 8u}) {
        for (f64 x : VALUES) {
            for (f64 y : VALUES) {
                for (u64 op : COMPARISONS) {
                    u64 l = bits(x, size);
                    Matrix_Place pl = L_PLACES[turn % 5], pr = R_PLACES[(turn / 5) % 5], result = RESULT_PLACES[(turn / 3) % 6];
                    turn++;
                    rows.push_back({BYTECODE_FLOAT_COMPARE, op, size, false, true, l, bits(y, size), pl, pr, result, 1,
                                    reference_float_compare(op, l, bits(y, size), size)});
                    // The constant comes as f64 bits and is compared at L's precision.
                    rows.push_back({BYTECODE_FLOAT_COMPARE_TO_CONSTANT, op, size, false, true, l, bits(y, 8), pl,
                                    PLACE_CONSTANT, result, 1, reference_float_compare(op, l, bits(y, size), size)});
                }
            }
            for (u64 op : COMPARISONS) {
                u64 l = bits(x, size);
                rows.push_back({BYTECODE_FLOAT_COMPARE_TO_ZERO, op, size, false, true, l, 0, L_PLACES[turn % 5],
                                PLACE_CONSTANT, RESULT_PLACES[turn % 6], 1, reference_float_compare(op, l, 0, size)});
                turn++;
            }
        }
    }
    expect_rows(rows);
}

TEST(Compares, FlagTestsAgainstRegisterAndConstantMasks) {
    HARNESS_REQUIRE_AVX();
    static const u64 MASKS[] = {0x80, 0x8000, 0x80000000ull, 1ull << 40, 0x7FFFFFFFull, 0xFFFFFFFF80000000ull, 1};
    std::vector<Compare_Row> rows;
    u32 turn = 0;
    for (u32 size : {1u, 2u, 4u, 8u}) {
        for (u64 v : compared_values(size)) {
            for (u64 mask : MASKS) {
                for (u8 kind : {BYTECODE_TEST_FLAGS, BYTECODE_TEST_FLAGS_CONSTANT}) {
                    u64 op = turn % 2 ? OP_EQUAL : OP_NOT_EQUAL;
                    b8 disjoint = (v & mask & reference_mask(size)) == 0;
                    Matrix_Place pr = kind == BYTECODE_TEST_FLAGS ? R_PLACES[(turn / 4) % 5] : PLACE_CONSTANT;
                    rows.push_back({kind, op, size, false, false, v, mask & reference_mask(size), L_PLACES[turn % 5], pr,
                                    RESULT_PLACES[turn % 6], 1, disjoint == (op == OP_EQUAL)});
                    turn++;
                }
            }
        }
    }
    expect_rows(rows);
}

TEST(Compares, BlocksOfEverySizeWithOneDifferenceAtEachPositionAgreeWithMemcmp) {
    HARNESS_REQUIRE_AVX();
    static const Matrix_Place POINTER_PLACES[] = {PLACE_POINTER_IN_GLOBAL, PLACE_POINTER_IN_REGISTER, PLACE_STACK, PLACE_CALL_DATA};
    std::vector<Compare_Row> rows;
    u32 turn = 0;
    for (u8 kind : {BYTECODE_COMPARE_BLOCK_TO_CONSTANT, BYTECODE_MEMCMP}) {
        for (u32 n = 0; n < BLOCK_SIZE; n++) {
            for (u32 difference = 0; difference <= n; difference++) {  // n: no difference
                u32 size_register = 1u << (turn % 4);
                rows.push_back({kind, turn % 2 ? OP_EQUAL : OP_NOT_EQUAL, size_register, false, false, n, difference,
                                POINTER_PLACES[turn % 4], POINTER_PLACES[(turn / 4) % 4], RESULT_PLACES[turn % 6], 1,
                                false});
                turn++;
            }
        }
    }
    expect_rows(rows);
}
