#include "tests/compiler/amd64/reference.h"

#include <string.h>

#include "compiler/core/token_kinds.h"

u64 reference_mask(u32 size) { return size >= 8 ? ~0ull : (1ull << (8 * size)) - 1; }

s64 reference_signed(u64 value, u32 size) {
    u32 unused = 64 - 8 * size;
    return (s64)(value << unused) >> unused;
}

b8 reference_integer(u64 op, u64 a, u64 b, u32 size, b8 is_signed, u64* result) {
    u64 mask = reference_mask(size);
    u32 bits = 8 * size;
    u64 ua = a & mask, ub = b & mask;
    s64 sa = reference_signed(a, size), sb = reference_signed(b, size);
    u32 count = (u32)(b & (size == 8 ? 63 : 31));
    u32 turn = count % bits;
    u64 r = 0;
    switch (op) {
        case OP_INCREMENT: r = ua + 1; break;
        case OP_DECREMENT: r = ua - 1; break;
        case OP_NEGATE: r = 0 - ua; break;
        case OP_BIT_NOT: r = ~ua; break;
        case OP_NOT: r = ua == 0; break;
        case OP_ADD: r = ua + ub; break;
        case OP_SUBTRACT: r = ua - ub; break;
        case OP_MULTIPLY: r = ua * ub; break;
        case OP_BIT_AND: r = ua & ub; break;
        case OP_BIT_OR: r = ua | ub; break;
        case OP_BIT_XOR: r = ua ^ ub; break;
        case OP_LOGICAL_AND: r = ua != 0 && ub != 0; break;
        case OP_LOGICAL_OR: r = ua != 0 || ub != 0; break;
        case OP_DIVIDE:
        case OP_MODULO:
            if (is_signed) {
                s64 lowest = reference_signed(1ull << (bits - 1), size);
                if (sb == 0 || (sa == lowest && sb == -1)) return false;
                r = (u64)(op == OP_DIVIDE ? sa / sb : sa % sb);
            } else {
                if (ub == 0) return false;
                r = op == OP_DIVIDE ? ua / ub : ua % ub;
            }
            break;
        case OP_SHIFT_LEFT: r = ua << count; break;
        case OP_SHIFT_RIGHT: r = is_signed ? (u64)(sa >> count) : ua >> count; break;
        case OP_ROTATE_LEFT: r = turn ? (ua << turn) | (ua >> (bits - turn)) : ua; break;
        case OP_ROTATE_RIGHT: r = turn ? (ua >> turn) | (ua << (bits - turn)) : ua; break;
        default: return false;
    }
    *result = r & mask;
    return true;
}

template <typename F>
static u64 float_operation(u64 op, u64 a_bits, u64 b_bits) {
    F a, b;
    memcpy(&a, &a_bits, sizeof(F));
    memcpy(&b, &b_bits, sizeof(F));
    F r = 0;
    switch (op) {
        case OP_INCREMENT: r = a + (F)1; break;
        case OP_DECREMENT: r = a + (F)-1; break;
        case OP_NEGATE: r = -a; break;
        case OP_ADD: r = a + b; break;
        case OP_SUBTRACT: r = a - b; break;
        case OP_MULTIPLY: r = a * b; break;
        case OP_DIVIDE: r = a / b; break;
        case OP_LOGICAL_AND: r = (a != 0 && b != 0) ? 1 : 0; break;
        case OP_LOGICAL_OR: r = (a != 0 || b != 0) ? 1 : 0; break;
        case OP_NOT: r = a == 0 ? 1 : 0; break;
    }
    u64 bits = 0;
    memcpy(&bits, &r, sizeof(F));
    return bits;
}

u64 reference_float(u64 op, u64 a, u64 b, u32 size) {
    return size == 4 ? float_operation<f32>(op, a, b) : float_operation<f64>(op, a, b);
}

b8 reference_float_is_nan(u64 bits, u32 size) {
    if (size == 4) return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu);
    return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (bits & 0x000FFFFFFFFFFFFFull);
}

template <typename T>
static b8 compare(u64 op, T a, T b) {
    switch (op) {
        case OP_NOT_EQUAL: return a != b;
        case OP_LESS: return a < b;
        case OP_LESS_EQUAL: return a <= b;
        case OP_GREATER: return a > b;
        case OP_GREATER_EQUAL: return a >= b;
        case OP_EQUAL: return a == b;
    }
    return false;
}

b8 reference_compare(u64 op, u64 a, u64 b, u32 size, b8 is_signed) {
    if (is_signed) return compare<s64>(op, reference_signed(a, size), reference_signed(b, size));
    return compare<u64>(op, a & reference_mask(size), b & reference_mask(size));
}

b8 reference_float_compare(u64 op, u64 a_bits, u64 b_bits, u32 size) {
    if (size == 4) {
        f32 a, b;
        memcpy(&a, &a_bits, 4);
        memcpy(&b, &b_bits, 4);
        return compare<f32>(op, a, b);
    }
    f64 a, b;
    memcpy(&a, &a_bits, 8);
    memcpy(&b, &b_bits, 8);
    return compare<f64>(op, a, b);
}

u64 reference_float_bits(f64 value, u32 size) {
    u64 bits = 0;
    if (size == 4) {
        f32 single = (f32)value;
        memcpy(&bits, &single, 4);
    } else {
        memcpy(&bits, &value, 8);
    }
    return bits;
}

f64 reference_float_value(u64 bits, u32 size) {
    if (size == 4) {
        f32 single;
        memcpy(&single, &bits, 4);
        return single;
    }
    f64 value;
    memcpy(&value, &bits, 8);
    return value;
}
