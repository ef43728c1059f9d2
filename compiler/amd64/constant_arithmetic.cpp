// Integer arithmetic by a constant known at compile time: negation, shifts, and
// multiplication by shifts, LEA steps and additions where they suffice, the multiply
// instruction otherwise.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }

static b8 is_power_of_two(u64 a) { return a && !(a & (a - 1)); }
static u8 log2_of(u64 a) { return (u8)__builtin_ctzll(a); }

b8 amd64_negate_integer(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand m) {
    return amd64_emit_sized_rm(code, data_relocations, size, 0xF6, 0xF7, 3 << 3, m, 0, 0);
}

b8 amd64_shift_by_constant(u8 size, u8 count, b8 is_signed, u64 operator_bit, Dynamic_Array* code,
                           Dynamic_Array* data_relocations, Amd64_Memory_Operand m) {
    u8 extension = operator_bit == OP_SHIFT_LEFT ? 4 : is_signed ? 7 : 5;
    if (count == 1) return amd64_emit_sized_rm(code, data_relocations, size, 0xD0, 0xD1, (u8)(extension << 3), m, 0, 0);
    return amd64_emit_sized_rm(code, data_relocations, size, 0xC0, 0xC1, (u8)(extension << 3), m, count, 1);
}

b8 amd64_lea_for_multiplication(u8 reg, u8 multiplier, Dynamic_Array* code) {
    u8 scale_bits = multiplier == 3 ? 0x40 : multiplier == 5 ? 0x80 : multiplier == 9 ? 0xC0 : 0x00;
    u8 r = reg & 7;
    u8 bytes[5] = {(u8)(reg > 7 ? 0x4F : 0x48), 0x8D, 0, (u8)(scale_bits | (r << 3) | r), 0};
    // lea r, [r + r*scale]: a base of RBP or R13 has no form without a displacement, so
    // those take a zero 8-bit one.
    if (r == 5) {
        bytes[2] = (u8)((r << 3) | 0x44);
        return amd64_emit(code, bytes, 5);
    }
    bytes[2] = (u8)((r << 3) + 4);
    return amd64_emit(code, bytes, 4);
}

//~ Multiplication

// Products made with two LEA or shift steps on a register, the second factor first.
struct Factor_Pair {
    u8 product;
    u8 first;
    u8 second;
};
static const Factor_Pair FACTOR_PAIRS[] = {
    {10, 5, 2}, {12, 4, 3}, {18, 9, 2}, {20, 5, 4}, {24, 8, 3}, {25, 5, 5},
    {27, 9, 3}, {36, 9, 4}, {40, 8, 5}, {45, 9, 5}, {72, 9, 8}, {81, 9, 9},
};

static const Factor_Pair* factor_pair_of(u64 a) {
    for (const Factor_Pair& p : FACTOR_PAIRS) {
        if (p.product == a) return &p;
    }
    return 0;
}

// One factor step on a whole register: LEA for 3, 5 and 9, a shift for a power of two.
static b8 apply_factor(u8 reg, u8 factor, Dynamic_Array* code, Dynamic_Array* data_relocations) {
    if (factor == 1) return true;
    if (factor == 3 || factor == 5 || factor == 9) return amd64_lea_for_multiplication(reg, factor, code);
    return amd64_shift_by_constant(8, log2_of(factor), false, OP_SHIFT_LEFT, code, data_relocations, gp(reg));
}

enum Multiplication_Path { BY_ZERO, BY_SHIFT, BY_FACTORS, BY_SHIFT_AND_ADD, BY_SHIFT_AND_SUBTRACT, BY_INSTRUCTION };

static Multiplication_Path multiplication_path(u64 a, u8* first, u8* second) {
    *first = 1;
    *second = 1;
    if (a == 0) return BY_ZERO;
    if (is_power_of_two(a)) return BY_SHIFT;
    if (a == 3 || a == 5 || a == 9) {
        *second = (u8)a;
        return BY_FACTORS;
    }
    if (a == 6) {
        *first = 2;
        *second = 3;
        return BY_FACTORS;
    }
    if (is_power_of_two(a - 1)) return BY_SHIFT_AND_ADD;
    if (is_power_of_two(a + 1)) return BY_SHIFT_AND_SUBTRACT;
    if (const Factor_Pair* p = factor_pair_of(a)) {
        *first = p->first;
        *second = p->second;
        return BY_FACTORS;
    }
    return BY_INSTRUCTION;
}

Amd64_Memory_Operand amd64_multiply_by_constant(b8 work_in_register, u8 size, u64 constant, b8 is_signed,
                                                Dynamic_Array* code, Amd64_Memory_Operand value,
                                                Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask) {
    Amd64_Integer_Form form;
    if (!amd64_integer_form(size, &form) || amd64_is_xmm(value)) {
        amd64_fail(mask, "operand size %u", size);
        return value;
    }
    // The product is taken modulo 2^(8 size), where the constant cut to the size and read
    // as signed gives the same result as read unsigned; the sign then costs one negation.
    u32 bits = 8u * size;
    s64 k = bits == 64 ? (s64)constant : (s64)(constant << (64 - bits)) >> (64 - bits);
    b8 negative = k < 0;
    u64 a = negative ? 0 - (u64)k : (u64)k;
    u8 first, second;
    Multiplication_Path path = multiplication_path(a, &first, &second);
    if (path == BY_INSTRUCTION) mask->gp |= (1u << AMD64_RAX) | (1u << AMD64_RDX);

    if (work_in_register && !amd64_is_gp(value)) {
        u8 t = amd64_take_tmp_gp_register(mask);
        amd64_fail_unless(amd64_load_integer_from_memory(size, size, true, t, code, data_relocations, value), mask);
        value = gp(t);
    }

    b8 ok = true;
    switch (path) {
        case BY_ZERO:
            amd64_move_constant_to_memory_contained_in_register(size, 0, code, data_relocations, mask, value);
            return value;
        case BY_SHIFT:
            if (a > 1) ok = amd64_shift_by_constant(size, log2_of(a), false, OP_SHIFT_LEFT, code, data_relocations, value);
            break;
        case BY_FACTORS: {
            // The steps work on a whole register; only the low octets of the product count.
            u8 r = amd64_is_gp(value) ? value.modrm : amd64_take_tmp_gp_register(mask);
            if (!amd64_is_gp(value)) ok = amd64_load_integer_from_memory(size, size, true, r, code, data_relocations, value);
            ok = ok && apply_factor(r, second, code, data_relocations) && apply_factor(r, first, code, data_relocations);
            if (ok && !amd64_is_gp(value)) {
                ok = amd64_emit_sized_reg_rm(code, data_relocations, size, 0x88, 0x89, gp(r), value);
                amd64_defer_free_tmp_gp_register(mask, r);
            }
            break;
        }
        case BY_SHIFT_AND_ADD:
        case BY_SHIFT_AND_SUBTRACT: {
            // x * (2^n + 1) = (x << n) + x; x * (2^n - 1) = (x << n) - x.
            b8 add = path == BY_SHIFT_AND_ADD;
            u8 t = amd64_take_tmp_gp_register(mask);
            ok = amd64_load_integer_from_memory(size, size, true, t, code, data_relocations, value) &&
                 amd64_shift_by_constant(size, log2_of(add ? a - 1 : a + 1), false, OP_SHIFT_LEFT, code,
                                         data_relocations, value) &&
                 amd64_emit_sized_reg_rm(code, data_relocations, size, add ? 0x00 : 0x28, add ? 0x01 : 0x29, gp(t),
                                         value);
            amd64_defer_free_tmp_gp_register(mask, t);
            break;
        }
        case BY_INSTRUCTION:
            // The constant carries its sign: the product needs no negation afterwards.
            ok = amd64_load_constant_integer_into_register(AMD64_RAX, (u64)k, size, code) &&
                 amd64_emit_sized_rm(code, data_relocations, size, 0xF6, 0xF7, (u8)((is_signed ? 5 : 4) << 3), value,
                                     0, 0);
            amd64_fail_unless(ok, mask);
            copy_integer_from_register(size, size, false, code, data_relocations, mask, value, RAX_INFO);
            return value;
    }
    if (ok && negative) ok = amd64_negate_integer(size, code, data_relocations, value);
    amd64_fail_unless(ok, mask);
    return value;
}
