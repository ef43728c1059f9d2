// Casts and bool conversions, executed: every integer type to and from f32 and f64 on
// values that fit, integers and floats to bools (with -0.0 and NaN), narrowing and
// widening, float to float, and the in-place bool normalisations, against C++ casts,
// with destinations in every place and behind pointers.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <sstream>

#include "tests/compiler/amd64/matrix.h"
#include "tests/compiler/amd64/reference.h"

struct Cast_Row {
    u8 kind;
    u32 source_size;
    u32 destination_size;
    b8 is_unsigned;  // the integer side
    u64 value;       // the source's bits
    Matrix_Place place_a, place_b;
    u64 expected;
};

static b8 source_is_float(u8 kind) {
    return kind == BYTECODE_CAST_FLOAT_TO_INT || kind == BYTECODE_CAST_FLOAT_TO_BOOL ||
           kind == BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT || kind == BYTECODE_CAST_FLOAT_TO_BIG_FLOAT ||
           kind == BYTECODE_MAKE_FLOAT_BOOL;
}

static b8 destination_is_float(u8 kind) {
    return kind == BYTECODE_CAST_INT_TO_FLOAT || kind == BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT ||
           kind == BYTECODE_CAST_FLOAT_TO_BIG_FLOAT || kind == BYTECODE_MAKE_FLOAT_BOOL;
}

static std::string describe(const Cast_Row& r) {
    std::ostringstream s;
    s << bytecode_kind_name(r.kind) << " from " << r.source_size << " octets 0x" << std::hex << r.value << " to "
      << std::dec << r.destination_size << " octets" << (r.is_unsigned ? ", unsigned" : "") << " (A "
      << MATRIX_PLACE_NAMES[r.place_a] << ", B " << MATRIX_PLACE_NAMES[r.place_b] << ")";
    return s.str();
}

static void add_row(Matrix* m, const Cast_Row& r, u32 row) {
    u8 class_a = destination_is_float(r.kind) ? MACHINE_CLASS_FLOAT : MACHINE_CLASS_INTEGER;
    u8 class_b = source_is_float(r.kind) ? MACHINE_CLASS_FLOAT : MACHINE_CLASS_INTEGER;
    if (r.kind == BYTECODE_MAKE_INT_BOOL || r.kind == BYTECODE_MAKE_FLOAT_BOOL) {
        // In place: the value goes to A, or to the slot a pointer points at.
        Register_Id a;
        if (matrix_is_pointer(r.place_a)) {
            matrix_operand(m, PLACE_GLOBAL, class_a, r.source_size, r.value, 0, row);
            a = matrix_place(m, r.place_a, class_a, 8, 0, row);
        } else {
            a = matrix_operand(m, r.place_a, class_a, r.source_size, r.value, 0, row);
        }
        Bytecode_Make_Bool* k = &matrix_add(m, r.kind)->make_bool;
        *k = {a, (u8)r.source_size, matrix_is_pointer(r.place_a)};
        if (!matrix_is_pointer(r.place_a)) matrix_store_output(m, a, row, r.source_size);
        return;
    }
    Register_Id b = matrix_operand(m, r.place_b, class_b, r.source_size, r.value, 1, row);
    Register_Id a = matrix_place(m, r.place_a, class_a, r.destination_size, 0, row);
    Bytecode_Cast* k = &matrix_add(m, r.kind)->cast;
    *k = {a, b, (u16)r.destination_size, matrix_is_pointer(r.place_a), r.is_unsigned};
    if (!matrix_is_pointer(r.place_a)) matrix_store_output(m, a, row, r.destination_size);
}

static void expect_rows(const std::vector<Cast_Row>& rows) {
    Matrix m;
    matrix_begin(&m, (u32)rows.size());
    for (u32 i = 0; i < rows.size(); i++) add_row(&m, rows[i], i);
    Matrix_Run run = matrix_run(&m);
    ASSERT_EQ(run.failure, "");
    u32 wrong = 0;
    for (u32 i = 0; i < rows.size(); i++) {
        const Cast_Row& r = rows[i];
        u32 size = r.kind == BYTECODE_MAKE_INT_BOOL || r.kind == BYTECODE_MAKE_FLOAT_BOOL ? r.source_size : r.destination_size;
        u64 got = load_u64(matrix_result(m, run, i)) & reference_mask(size);
        if (got == r.expected && matrix_guard_intact(m, run, i, size)) continue;
        if (++wrong <= 12) ADD_FAILURE() << describe(r) << " gave 0x" << std::hex << got << ", expected 0x" << r.expected;
    }
    EXPECT_EQ(wrong, 0u);
}

static const u32 CAST_SIZES[] = {1, 2, 4, 8};
static const Matrix_Place CAST_A_PLACES[] = {PLACE_STACK,     PLACE_GLOBAL,            PLACE_REGISTER,
                                 PLACE_CALL_DATA, PLACE_POINTER_IN_GLOBAL, PLACE_POINTER_IN_REGISTER};
static const Matrix_Place CAST_B_PLACES[] = {PLACE_STACK, PLACE_GLOBAL, PLACE_CONSTANT, PLACE_REGISTER, PLACE_CALL_DATA};

static std::vector<u64> integer_values(u32 size) {
    u64 lowest = 1ull << (8 * size - 1);
    std::vector<u64> values = {0, 1, ~0ull, 2, 200, 0x7F, 0x80, lowest, lowest - 1, 1ull << 31, 0xFFFFFFFFull, 1ull << 63,
                               0x123456789ABCDEFull};
    for (u64& v : values) v &= reference_mask(size);
    return values;
}

// The value of an integer of the size and signedness as an f64 or f32, rounded once.
static u64 integer_to_float(u64 bits, u32 size, b8 is_unsigned, u32 float_size) {
    u64 u = bits & reference_mask(size);
    s64 s = reference_signed(bits, size);
    if (float_size == 4) {
        f32 f = is_unsigned ? (f32)u : (f32)s;
        u32 out;
        memcpy(&out, &f, 4);
        return out;
    }
    f64 f = is_unsigned ? (f64)u : (f64)s;
    return reference_float_bits(f, 8);
}

TEST(Casts, IntegersToFloatsAndBackByValue) {
    HARNESS_REQUIRE_AVX();
    std::vector<Cast_Row> rows;
    u32 turn = 0;
    for (u32 size : CAST_SIZES) {
        for (b8 is_unsigned : {false, true}) {
            for (u32 float_size : {4u, 8u}) {
                for (u64 v : integer_values(size)) {
                    rows.push_back({BYTECODE_CAST_INT_TO_FLOAT, size, float_size, is_unsigned, v, CAST_A_PLACES[turn % 6],
                                    CAST_B_PLACES[(turn / 6) % 5], integer_to_float(v, size, is_unsigned, float_size)});
                    turn++;
                }
                static const f64 REALS[] = {0,    1,    -1,   2.5,  -2.5,         -2.7,         4294967295.0, 2147483648.0,
                                            3e9, 200, 127.9, -128.5, 65535.75, 9223372036854775808.0, -0.0, 1e-300};
                for (f64 x : REALS) {
                    f64 at_precision = reference_float_value(reference_float_bits(x, float_size), float_size);
                    f64 whole = trunc(at_precision);
                    b8 fits = is_unsigned ? whole >= 0 && whole <= (f64)reference_mask(size)
                                          : whole >= -ldexp(1, 8 * size - 1) && whole < ldexp(1, 8 * size - 1);
                    if (size == 8 && is_unsigned && whole >= 18446744073709551615.0) fits = false;
                    if (!fits) continue;
                    u64 expected = is_unsigned ? (u64)whole : (u64)(s64)whole;
                    rows.push_back({BYTECODE_CAST_FLOAT_TO_INT, float_size, size, is_unsigned, reference_float_bits(x, float_size),
                                    CAST_A_PLACES[turn % 6], CAST_B_PLACES[(turn / 6) % 5], expected & reference_mask(size)});
                    turn++;
                }
            }
        }
    }
    expect_rows(rows);
}

TEST(Casts, BoolsFromIntegersAndFloats) {
    HARNESS_REQUIRE_AVX();
    std::vector<Cast_Row> rows;
    u32 turn = 0;
    for (u32 size : CAST_SIZES) {
        for (u64 v : integer_values(size)) {
            for (u32 destination : {1u, 4u}) {
                rows.push_back({BYTECODE_CAST_INT_TO_BOOL, size, destination, false, v, CAST_A_PLACES[turn % 6],
                                CAST_B_PLACES[(turn / 6) % 5], v != 0});
                turn++;
            }
            for (Matrix_Place p : CAST_A_PLACES) rows.push_back({BYTECODE_MAKE_INT_BOOL, size, size, false, v, p, PLACE_CONSTANT, v != 0});
        }
    }
    static const f64 REALS[] = {0.0, -0.0, 1.5, NAN, -INFINITY, 1e-310, 256.0, 1e-45};
    for (u32 size : {4u, 8u}) {
        for (f64 x : REALS) {
            u64 bits = reference_float_bits(x, size);
            f64 stored = reference_float_value(bits, size);
            b8 truth = stored != 0.0;  // true for a NaN
            for (Matrix_Place pa : CAST_A_PLACES) {
                rows.push_back({BYTECODE_CAST_FLOAT_TO_BOOL, size, 1, false, bits, pa, CAST_B_PLACES[turn++ % 5], truth});
                rows.push_back({BYTECODE_MAKE_FLOAT_BOOL, size, size, false, bits, pa, PLACE_CONSTANT,
                                reference_float_bits(truth ? 1.0 : 0.0, size)});
            }
        }
    }
    expect_rows(rows);
}

TEST(Casts, NarrowingWideningAndFloatPrecision) {
    HARNESS_REQUIRE_AVX();
    std::vector<Cast_Row> rows;
    u32 turn = 0;
    for (u32 from : CAST_SIZES) {
        for (u32 to : CAST_SIZES) {
            if (from == to) continue;
            for (b8 is_unsigned : {false, true}) {
                for (u64 v : integer_values(from)) {
                    u8 kind = to < from ? BYTECODE_CAST_INT_TO_SMALL_INT : BYTECODE_CAST_INT_TO_BIG_INT;
                    u64 expected = is_unsigned || to < from ? v & reference_mask(from) : (u64)reference_signed(v, from);
                    rows.push_back({kind, from, to, is_unsigned, v, CAST_A_PLACES[turn % 6], CAST_B_PLACES[(turn / 6) % 5],
                                    expected & reference_mask(to)});
                    turn++;
                }
            }
        }
    }
    static const f64 REALS[] = {0.0, -0.0, 1.5, -2.25, 1e30, 1e300, 1e-310, 0.1, INFINITY, -INFINITY};
    for (f64 x : REALS) {
        for (Matrix_Place pa : CAST_A_PLACES) {
            rows.push_back({BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT, 8, 4, false, reference_float_bits(x, 8), pa, CAST_B_PLACES[turn++ % 5],
                            reference_float_bits((f64)(f32)x, 4)});
            rows.push_back({BYTECODE_CAST_FLOAT_TO_BIG_FLOAT, 4, 8, false, reference_float_bits(x, 4), pa, CAST_B_PLACES[turn++ % 5],
                            reference_float_bits((f64)(f32)x, 8)});
        }
    }
    expect_rows(rows);
}
