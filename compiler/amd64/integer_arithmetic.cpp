// Kinds 19 and 20: integer arithmetic in place on operand A, by a constant or by operand
// B. Results are what constant folding computes, cut to A's size: signed ">>" is
// arithmetic, shift counts are taken as the processor takes them, "&&" and "||" are
// logical, and division by a constant is exact for every dividend.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }

static b8 is_power_of_two(u64 a) { return a && !(a & (a - 1)); }
static u8 log2_of(u64 a) { return (u8)__builtin_ctzll(a); }

static u64 cut_to_size(u64 value, u32 size) { return size >= 8 ? value : value & ((1ull << (8 * size)) - 1); }

static s64 signed_at_size(u64 value, u32 size) {
    u32 unused = 64 - 8 * size;
    return (s64)(value << unused) >> unused;
}

#define REGISTERS_OF_MULTIPLY_AND_DIVIDE ((1u << AMD64_RAX) | (1u << AMD64_RDX))

static b8 multiplies_or_divides(u64 operator_bit) {
    return operator_bit == OP_MULTIPLY || operator_bit == OP_DIVIDE || operator_bit == OP_MODULO;
}

// The two-operand ALU operators: the extension of the immediate form (80 / 81 /n), the
// form with A as r/m (01 style) and with A as reg (03 style); the byte forms are one less.
struct Alu_Operator {
    u64 operator_bit;
    u8 extension;
    u8 rm_first;
    u8 reg_first;
};
static const Alu_Operator ALU_OPERATORS[] = {
    {OP_ADD, 0, 0x01, 0x03},    {OP_SUBTRACT, 5, 0x29, 0x2B},   {OP_BIT_AND, 4, 0x21, 0x23},
    {OP_BIT_OR, 1, 0x09, 0x0B}, {OP_BIT_XOR, 6, 0x31, 0x33},    {OP_LOGICAL_AND, 4, 0x21, 0x23},
    {OP_LOGICAL_OR, 1, 0x09, 0x0B},
};

static const Alu_Operator* alu_operator_of(u64 operator_bit) {
    for (const Alu_Operator& a : ALU_OPERATORS) {
        if (a.operator_bit == operator_bit) return &a;
    }
    return 0;
}

// The extension of the D0 to D3 group: shl, shr or sar, rol, ror.
static u8 shift_extension(u64 operator_bit, b8 is_signed) {
    switch (operator_bit) {
        case OP_SHIFT_LEFT: return 4;
        case OP_SHIFT_RIGHT: return is_signed ? 7 : 5;
        case OP_ROTATE_LEFT: return 0;
        case OP_ROTATE_RIGHT: return 1;
    }
    return 0xFF;
}

// OP A, B at size s, in whichever direction the operands allow (B a register or memory).
static b8 emit_alu(Amd64_Translation* t, const Alu_Operator* op, u32 s, Amd64_Memory_Operand a,
                   Amd64_Memory_Operand b) {
    if (amd64_is_gp(a)) {
        return amd64_emit_sized_reg_rm(t->code, t->data_relocations, s, op->reg_first - 1u, op->reg_first, a, b);
    }
    return amd64_emit_sized_reg_rm(t->code, t->data_relocations, s, op->rm_first - 1u, op->rm_first, b, a);
}

// B at A's size s: itself when it can be read there (a register, or memory as wide as s
// when memory may stand), else a temporary loaded with it, widened by its signedness.
static Amd64_Memory_Operand operand_at_size(Amd64_Translation* t, Amd64_Memory_Operand b, u32 b_size, u32 s,
                                            b8 is_unsigned, b8 memory_may_stand) {
    if (amd64_is_gp(b) && b_size >= s) return b;
    if (!amd64_is_gp(b) && memory_may_stand && b_size >= s) return b;
    u8 r = amd64_take_tmp_gp_register(t->mask);
    if (!amd64_load_integer_from_memory((u8)b_size, (u8)s, is_unsigned, r, t->code, t->data_relocations, b)) {
        amd64_fail(t->mask, "operand sizes %u and %u", s, b_size);
    }
    return gp(r);
}

// A / B or A % B through RAX and RDX, which the caller has marked; B at size s.
static void emit_division(Amd64_Translation* t, u32 s, b8 is_signed, u64 operator_bit, Amd64_Memory_Operand a,
                          Amd64_Memory_Operand divisor) {
    Dynamic_Array* c = t->code;
    // The dividend: one octet widens into AX; wider ones get RDX from their sign, or zero.
    b8 ok = amd64_load_integer_from_memory((u8)s, s == 1 ? 2 : (u8)s, !is_signed, AMD64_RAX, c, t->data_relocations, a);
    if (s > 1) {
        static const u8 cwd[2] = {0x66, 0x99}, cdq[1] = {0x99}, cqo[2] = {0x48, 0x99}, xor_edx[2] = {0x33, 0xD2};
        if (!is_signed) ok = ok && amd64_emit(c, xor_edx, 2);
        else if (s == 2) ok = ok && amd64_emit(c, cwd, 2);
        else if (s == 4) ok = ok && amd64_emit(c, cdq, 1);
        else ok = ok && amd64_emit(c, cqo, 2);
    }
    ok = ok && amd64_emit_sized_rm(c, t->data_relocations, s, 0xF6, 0xF7, (u8)((is_signed ? 7 : 6) << 3), divisor, 0, 0);
    u8 result = AMD64_RAX;
    if (operator_bit == OP_MODULO) {
        static const u8 mov_al_ah[2] = {0x8A, 0xC4};
        if (s == 1) ok = ok && amd64_emit(c, mov_al_ah, 2);  // the one place AH is named
        else result = AMD64_RDX;
    }
    ok = ok && amd64_emit_sized_reg_rm(c, t->data_relocations, s, 0x88, 0x89, gp(result), a);
    amd64_fail_unless(ok, t->mask);
}

//~ A op B

void amd64_int_arithmetic(Amd64_Translation* t) {
    Bytecode_Int_Arithmetic* k = &t->instruction->int_arithmetic;
    u64 op = k->operator_bit;
    b8 is_signed = k->is_signed != 0;
    u8 extension = shift_extension(op, is_signed);
    // Reserved before any temporary is taken: the instructions overwrite them.
    if (multiplies_or_divides(op)) t->mask->gp |= REGISTERS_OF_MULTIPLY_AND_DIVIDE;
    if (extension != 0xFF) t->mask->gp |= 1u << AMD64_RCX;
    b8 unary = op == OP_INCREMENT || op == OP_DECREMENT || op == OP_NEGATE || op == OP_BIT_NOT || op == OP_NOT;
    u32 s = amd64_get_register_size(k->destination);
    u32 b_size = unary ? 0 : amd64_get_register_size(k->source);
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = unary ? a : amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask)) return;
    Amd64_Integer_Form form;
    if (!amd64_integer_form(s, &form) || amd64_is_xmm(a) || amd64_is_xmm(b) || (!unary && !b_size)) {
        amd64_fail(t->mask, "operand size %u", s);
        return;
    }
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    b8 ok = true;
    const Alu_Operator* alu = alu_operator_of(op);
    switch (op) {
        case OP_INCREMENT: ok = amd64_emit_sized_rm(c, r, s, 0xFE, 0xFF, 0 << 3, a, 0, 0); break;
        case OP_DECREMENT: ok = amd64_emit_sized_rm(c, r, s, 0xFE, 0xFF, 1 << 3, a, 0, 0); break;
        case OP_NEGATE: ok = amd64_negate_integer((u8)s, c, r, a); break;
        case OP_BIT_NOT: ok = amd64_emit_sized_rm(c, r, s, 0xF6, 0xF7, 2 << 3, a, 0, 0); break;
        case OP_NOT:
            // cmp a, 0; sete a8; and a, 1: the whole value becomes 0 or 1.
            ok = amd64_emit_sized_rm(c, r, s, 0x80, 0x83, 7 << 3, a, 0, 1) &&
                 amd64_emit_rm(c, r, 0, AMD64_REX_BYTE_FORM, 0x0F94, 0, a, 0, 0, 0) &&
                 (s == 1 || amd64_emit_sized_rm(c, r, s, 0x80, 0x83, 4 << 3, a, 1, 1));
            break;
        case OP_MULTIPLY:
            ok = amd64_load_integer_from_memory((u8)b_size, (u8)s, !is_signed, AMD64_RAX, c, r, b) &&
                 amd64_emit_sized_rm(c, r, s, 0xF6, 0xF7, (u8)((is_signed ? 5 : 4) << 3), a, 0, 0) &&
                 amd64_emit_sized_reg_rm(c, r, s, 0x88, 0x89, RAX_INFO, a);
            if (!ok) amd64_fail(t->mask, "operand sizes %u and %u", s, b_size);
            return;
        case OP_DIVIDE:
        case OP_MODULO:
            emit_division(t, s, is_signed, op, a, operand_at_size(t, b, b_size, s, !is_signed, true));
            return;
        case OP_SHIFT_LEFT:
        case OP_SHIFT_RIGHT:
        case OP_ROTATE_LEFT:
        case OP_ROTATE_RIGHT:
            // The count is B's low octet, in CL.
            amd64_copy_data(1, c, r, t->mask, gp(AMD64_RCX), b);
            ok = amd64_emit_sized_rm(c, r, s, 0xD2, 0xD3, (u8)(extension << 3), a, 0, 0);
            break;
        case OP_LOGICAL_AND:
        case OP_LOGICAL_OR: {
            // Each side as 0 or 1 first; B is normalised in a temporary, never in place.
            if (k->destination_not_boolean) ok = amd64_ensure_int_bool((u8)s, c, r, a);
            Amd64_Memory_Operand side = b;
            if (k->source_not_boolean) {
                u8 n = amd64_take_tmp_gp_register(t->mask);
                ok = ok && amd64_emit_sized_rm(c, r, b_size, 0x80, 0x83, 7 << 3, b, 0, 1) &&
                     amd64_emit_rm(c, 0, 0, AMD64_REX_BYTE_FORM, 0x0F95, 0, gp(n), 0, 0, 0) &&
                     amd64_emit_reg_rm(c, 0, 0, AMD64_REX_BYTE_FORM, 0x0FB6, gp(n), gp(n), 0);  // movzx n32, n8
                side = gp(n);
            } else {
                side = operand_at_size(t, b, b_size, s, !is_signed, amd64_is_gp(a));
            }
            ok = ok && emit_alu(t, alu, s, a, side);
            break;
        }
        default:
            if (!alu) {
                amd64_fail(t->mask, "operator 0x%llx", (unsigned long long)op);
                return;
            }
            ok = emit_alu(t, alu, s, a, operand_at_size(t, b, b_size, s, !is_signed, amd64_is_gp(a)));
            break;
    }
    amd64_fail_unless(ok, t->mask);
}

//~ A op constant

// Stores a constant into A at size s.
static void store_constant(Amd64_Translation* t, u32 s, u64 value, Amd64_Memory_Operand a) {
    amd64_move_constant_to_memory_contained_in_register((u8)s, value, t->code, t->data_relocations, t->mask, a);
}

// Signed A / 2^k or A % 2^k rounding toward zero, k from 1 to 8s - 1: the bias 2^k - 1
// is added to negative dividends, made in RAX from A's sign.
static b8 emit_signed_power_of_two(Amd64_Translation* t, u32 s, u8 k, u64 op, Amd64_Memory_Operand a) {
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    b8 ok = amd64_load_integer_from_memory((u8)s, (u8)s, false, AMD64_RAX, c, r, a);
    if (k >= 2) ok = ok && amd64_shift_by_constant((u8)s, (u8)(k - 1), true, OP_SHIFT_RIGHT, c, r, RAX_INFO);
    ok = ok && amd64_shift_by_constant((u8)s, (u8)(8 * s - k), false, OP_SHIFT_RIGHT, c, r, RAX_INFO);
    if (op == OP_DIVIDE) {
        return ok && amd64_emit_sized_reg_rm(c, r, s, 0x00, 0x01, RAX_INFO, a) &&  // add a, rax
               amd64_shift_by_constant((u8)s, k, true, OP_SHIFT_RIGHT, c, r, a);
    }
    // a - ((a + bias) rounded down to a multiple of 2^k)
    return ok && amd64_emit_sized_reg_rm(c, r, s, 0x02, 0x03, RAX_INFO, a) &&  // add rax, a
           amd64_shift_by_constant((u8)s, k, true, OP_SHIFT_RIGHT, c, r, RAX_INFO) &&
           amd64_shift_by_constant((u8)s, k, false, OP_SHIFT_LEFT, c, r, RAX_INFO) &&
           amd64_emit_sized_reg_rm(c, r, s, 0x28, 0x29, RAX_INFO, a);  // sub a, rax
}

// Unsigned A / d for a dividend below 2^32 and d from 3 to 2^32 - 1: with
// m = floor(2^64 / d) + 1, the high half of A * m is exactly the quotient.
static b8 emit_unsigned_division_by_multiplication(Amd64_Translation* t, u32 s, u64 d, Amd64_Memory_Operand a) {
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    u64 m = ~0ull / d + 1;
    Amd64_Memory_Operand wide = amd64_ensure_integer_is_in_register((u8)s, 8, true, c, r, a, t->mask);
    return amd64_load_constant_integer_into_register(AMD64_RAX, m, 8, c) &&
           amd64_emit_rm(c, 0, 0, AMD64_REX_W, 0xF7, 4 << 3, wide, 0, 0, 0) &&  // mul wide
           amd64_emit_sized_reg_rm(c, r, s, 0x88, 0x89, gp(AMD64_RDX), a);
}

// The remaining divisions: the constant in a temporary, divided by as a register.
static void emit_division_by_constant_register(Amd64_Translation* t, u32 s, b8 is_signed, u64 op, u64 value,
                                               Amd64_Memory_Operand a) {
    u8 d = amd64_take_tmp_gp_register(t->mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(d, value, (u8)s, t->code), t->mask);
    emit_division(t, s, is_signed, op, a, gp(d));
}

static void emit_division_by_constant(Amd64_Translation* t, u32 s, b8 is_signed, u64 op, u64 c,
                                      Amd64_Memory_Operand a) {
    Dynamic_Array* code = t->code;
    Dynamic_Array* r = t->data_relocations;
    b8 ok = true;
    if (!is_signed) {
        if (op == OP_DIVIDE && is_power_of_two(c)) {
            if (c > 1) ok = amd64_shift_by_constant((u8)s, log2_of(c), false, OP_SHIFT_RIGHT, code, r, a);
        } else if (op == OP_MODULO && is_power_of_two(c)) {
            // and a, c - 1: as an imm32 only where it sign-extends to itself.
            if (s < 8 || amd64_fits_imm32(c - 1)) {
                ok = amd64_emit_sized_rm(code, r, s, 0x80, 0x81, 4 << 3, a, c - 1, amd64_immediate_size(s));
            } else {
                u8 m = amd64_take_tmp_gp_register(t->mask);
                ok = amd64_load_constant_integer_into_register(m, c - 1, 8, code) &&
                     amd64_emit_reg_rm(code, r, 0, AMD64_REX_W, 0x21, gp(m), a, 0);
            }
        } else if (op == OP_DIVIDE && s <= 4 && c != 0) {
            ok = emit_unsigned_division_by_multiplication(t, s, c, a);
        } else {
            emit_division_by_constant_register(t, s, false, op, c, a);
        }
        amd64_fail_unless(ok, t->mask);
        return;
    }
    // Signed: -1 divides by the instruction, so the lowest value traps as it does with a
    // divisor held in a register.
    s64 v = signed_at_size(c, s);
    u64 magnitude = v < 0 ? 0 - (u64)v : (u64)v;
    if (v == 1) {
        if (op == OP_MODULO) store_constant(t, s, 0, a);
    } else if (v != -1 && is_power_of_two(magnitude)) {
        ok = emit_signed_power_of_two(t, s, log2_of(magnitude), op, a);
        if (op == OP_DIVIDE && v < 0) ok = ok && amd64_negate_integer((u8)s, code, r, a);
    } else {
        emit_division_by_constant_register(t, s, true, op, c, a);
    }
    amd64_fail_unless(ok, t->mask);
}

void amd64_int_arithmetic_constant(Amd64_Translation* t) {
    Bytecode_Int_Arithmetic_Constant* k = &t->instruction->int_arithmetic_constant;
    u64 op = k->operator_bit;
    b8 is_signed = k->is_signed != 0;
    if (multiplies_or_divides(op)) t->mask->gp |= REGISTERS_OF_MULTIPLY_AND_DIVIDE;
    u32 s = amd64_get_register_size(k->destination);
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    if (amd64_failed(t->mask)) return;
    Amd64_Integer_Form form;
    if (!amd64_integer_form(s, &form) || amd64_is_xmm(a)) {
        amd64_fail(t->mask, "operand size %u", s);
        return;
    }
    Dynamic_Array* code = t->code;
    Dynamic_Array* r = t->data_relocations;
    u64 c = cut_to_size(k->immediate, s);
    b8 ok = true;
    const Alu_Operator* alu = alu_operator_of(op);
    switch (op) {
        case OP_SHIFT_LEFT:
        case OP_SHIFT_RIGHT:
            ok = amd64_shift_by_constant((u8)s, (u8)c, is_signed, op, code, r, a);
            break;
        case OP_ROTATE_LEFT:
        case OP_ROTATE_RIGHT:
            ok = amd64_emit_sized_rm(code, r, s, 0xC0, 0xC1, (u8)(shift_extension(op, is_signed) << 3), a, (u8)c, 1);
            break;
        case OP_MULTIPLY: amd64_multiply_by_constant(false, (u8)s, c, is_signed, code, a, r, t->mask); return;
        case OP_DIVIDE:
        case OP_MODULO: emit_division_by_constant(t, s, is_signed, op, c, a); return;
        case OP_LOGICAL_AND:
        case OP_LOGICAL_OR: {
            // A constant side decides alone, or leaves A as a bool.
            b8 absorbs = (op == OP_LOGICAL_AND) == (c == 0);
            if (absorbs) store_constant(t, s, op == OP_LOGICAL_OR, a);
            else if (k->not_boolean) ok = amd64_ensure_int_bool((u8)s, code, r, a);
            break;
        }
        default:
            if (!alu) {
                amd64_fail(t->mask, "operator 0x%llx", (unsigned long long)op);
                return;
            }
            if (s < 8 || amd64_fits_imm32(c)) {
                ok = amd64_emit_sized_rm(code, r, s, 0x80, 0x81, (u8)(alu->extension << 3), a, c,
                                         amd64_immediate_size(s));
            } else {
                u8 n = amd64_take_tmp_gp_register(t->mask);
                ok = amd64_load_constant_integer_into_register(n, c, 8, code) &&
                     amd64_emit_reg_rm(code, r, 0, AMD64_REX_W, alu->rm_first, gp(n), a, 0);
            }
            break;
    }
    amd64_fail_unless(ok, t->mask);
}
