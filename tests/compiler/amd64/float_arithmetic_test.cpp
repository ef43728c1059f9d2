// Float arithmetic, executed: every operator of "float arithmetic" and "float arithmetic
// constant" on f32 and f64, operands in every place, on signed zeros, a denormal,
// infinities and NaN, against the C++ reference.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <sstream>

#include "tests/compiler/amd64/matrix.h"
#include "tests/compiler/amd64/reference.h"
#include "tests/test_seed.h"

static const f64 OPERAND_VALUES[] = {0.0, -0.0, 1.5, -2.25, 1e30, 1e-310, INFINITY, -INFINITY, NAN};

// The bits of a value at a precision; the denormal of f32 is its own.
static u64 bits_of(f64 v, u32 size) { return reference_float_bits(size == 4 && v == 1e-310 ? 1e-40 : v, size); }

struct Float_Row {
    u8 kind;
    u64 op;
    u32 size;
    u64 a, b;  // bits; kind 21: b holds the constant as f64 bits
    Matrix_Place place_a, place_b;
    u64 expected;
};

static const char* float_operator_name(u64 op) {
    switch (op) {
        case OP_INCREMENT: return "++";
        case OP_DECREMENT: return "--";
        case OP_NEGATE: return "unary -";
        case OP_ADD: return "+";
        case OP_SUBTRACT: return "-";
        case OP_MULTIPLY: return "*";
        case OP_DIVIDE: return "/";
        case OP_LOGICAL_AND: return "&&";
        case OP_LOGICAL_OR: return "||";
        case OP_NOT: return "!";
    }
    return "?";
}

static std::string describe(const Float_Row& r) {
    std::ostringstream s;
    s << "kind " << (int)r.kind << ": f" << 8 * r.size << " 0x" << std::hex << r.a << " " << float_operator_name(r.op) << " 0x"
      << r.b << " (A " << MATRIX_PLACE_NAMES[r.place_a] << ", B " << MATRIX_PLACE_NAMES[r.place_b] << ")";
    return s.str();
}

static void expect_rows(std::vector<Float_Row> rows) {
    Matrix m;
    matrix_begin(&m, (u32)rows.size());
    for (u32 i = 0; i < rows.size(); i++) {
        Float_Row* r = &rows[i];
        if (r->place_b == PLACE_SAME_AS_A) r->b = r->a;
        Register_Id a = matrix_operand(&m, r->place_a, MACHINE_CLASS_FLOAT, r->size, r->a, 0, i);
        if (r->kind == BYTECODE_FLOAT_ARITHMETIC) {
            b8 binary = r->op != OP_INCREMENT && r->op != OP_DECREMENT && r->op != OP_NEGATE && r->op != OP_NOT;
            Register_Id b = INVALID_REGISTER_ID;
            if (binary) b = r->place_b == PLACE_SAME_AS_A ? a : matrix_operand(&m, r->place_b, MACHINE_CLASS_FLOAT, r->size, r->b, 1, i);
            Bytecode_Float_Arithmetic* k = &matrix_add(&m, BYTECODE_FLOAT_ARITHMETIC)->float_arithmetic;
            *k = {a, b, r->op};
            r->expected = reference_float(r->op, r->a, r->b, r->size);
        } else {
            Bytecode_Float_Arithmetic_Constant* k = &matrix_add(&m, BYTECODE_FLOAT_ARITHMETIC_CONSTANT)->float_arithmetic_constant;
            f64 c;
            memcpy(&c, &r->b, 8);
            *k = {a, c, (u16)r->size, r->op};
            // The constant is converted to A's precision as it is: a denormal f64 becomes 0.
            r->expected = reference_float(r->op, r->a, reference_float_bits(c, r->size), r->size);
        }
        matrix_store_output(&m, a, i, r->size);
    }
    Matrix_Run run = matrix_run(&m);
    ASSERT_EQ(run.failure, "");
    u32 wrong = 0;
    for (u32 i = 0; i < rows.size(); i++) {
        const Float_Row& r = rows[i];
        u64 got = load_u64(matrix_result(m, run, i)) & reference_mask(r.size);
        b8 same = got == r.expected || (reference_float_is_nan(got, r.size) && reference_float_is_nan(r.expected, r.size));
        if (same && matrix_guard_intact(m, run, i, r.size)) continue;
        if (++wrong <= 12) ADD_FAILURE() << describe(r) << " gave 0x" << std::hex << got << ", expected 0x" << r.expected;
    }
    EXPECT_EQ(wrong, 0u);
}

static const Matrix_Place FLOAT_A_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_REGISTER, PLACE_CALL_DATA};
static const Matrix_Place FLOAT_B_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_CONSTANT, PLACE_REGISTER, PLACE_CALL_DATA, PLACE_SAME_AS_A};

TEST(FloatArithmetic, EveryOperatorPrecisionAndPlaceAgreesWithTheReference) {
    HARNESS_REQUIRE_AVX();
    static const u64 UNARY[] = {OP_INCREMENT, OP_DECREMENT, OP_NEGATE, OP_NOT};
    static const u64 BINARY[] = {OP_ADD, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE, OP_LOGICAL_AND, OP_LOGICAL_OR};
    std::vector<Float_Row> rows;
    u32 turn = 0;
    for (u32 size : {4u, 8u}) {
        for (f64 x : OPERAND_VALUES) {
            for (Matrix_Place pa : FLOAT_A_PLACES) {
                for (u64 op : UNARY) rows.push_back({BYTECODE_FLOAT_ARITHMETIC, op, size, bits_of(x, size), 0, pa, PLACE_CONSTANT, 0});
            }
            for (f64 y : OPERAND_VALUES) {
                for (u64 op : BINARY) {
                    Matrix_Place pa = FLOAT_A_PLACES[turn % 4], pb = FLOAT_B_PLACES[(turn / 4) % 6];
                    turn++;
                    rows.push_back({BYTECODE_FLOAT_ARITHMETIC, op, size, bits_of(x, size), bits_of(y, size), pa, pb, 0});
                }
                // The constant form: its f64 bits, used at A's precision.
                for (u64 op : {OP_ADD, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE}) {
                    rows.push_back({BYTECODE_FLOAT_ARITHMETIC_CONSTANT, op, size, bits_of(x, size), bits_of(y, 8), FLOAT_A_PLACES[turn++ % 4], PLACE_CONSTANT, 0});
                }
            }
        }
    }
    expect_rows(rows);
}

// Any operator and precision on random bit patterns (NaNs with payloads, denormals and
// all) or on the edge values.
TEST(FloatArithmetic, RandomRowsAgreeWithTheReference) {
    HARNESS_REQUIRE_AVX();
    u32 seed = (u32)test_seed(3316);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937_64 random(seed);
    static const u64 OPERATORS[] = {OP_INCREMENT, OP_DECREMENT, OP_NEGATE,       OP_NOT,         OP_ADD,
                                    OP_SUBTRACT,  OP_MULTIPLY,  OP_DIVIDE,       OP_LOGICAL_AND, OP_LOGICAL_OR};
    auto value = [&](u32 size) {
        return random() % 2 ? bits_of(OPERAND_VALUES[random() % ARRAY_COUNT(OPERAND_VALUES)], size) : random() & reference_mask(size);
    };
    std::vector<Float_Row> rows;
    for (u32 i = 0; i < 2000; i++) {
        Float_Row r = {};
        r.size = random() % 2 ? 4 : 8;
        r.kind = random() % 3 ? BYTECODE_FLOAT_ARITHMETIC : BYTECODE_FLOAT_ARITHMETIC_CONSTANT;
        r.op = r.kind == BYTECODE_FLOAT_ARITHMETIC ? OPERATORS[random() % 10] : OPERATORS[4 + random() % 4];
        r.a = value(r.size);
        r.b = r.kind == BYTECODE_FLOAT_ARITHMETIC ? value(r.size) : value(8);
        r.place_a = FLOAT_A_PLACES[random() % 4];
        r.place_b = r.kind == BYTECODE_FLOAT_ARITHMETIC ? FLOAT_B_PLACES[random() % 6] : PLACE_CONSTANT;
        rows.push_back(r);
    }
    expect_rows(rows);
}
