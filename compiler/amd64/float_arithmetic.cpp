// Kinds 21 and 22: scalar float arithmetic in place on operand A, at A's precision. The
// logical operators give 1.0 or 0.0, with a NaN counting as true.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand xmm(u8 n) { return amd64_xmm_register(n); }

static u8 precision_prefix(u32 p) { return p == 4 ? 0xF3 : 0xF2; }

// The scalar opcode of an arithmetic operator (after the 0F escape), 0 for the others.
static u32 scalar_opcode(u64 operator_bit) {
    switch (operator_bit) {
        case OP_ADD: return 0x0F58;
        case OP_SUBTRACT: return 0x0F5C;
        case OP_MULTIPLY: return 0x0F59;
        case OP_DIVIDE: return 0x0F5E;
    }
    return 0;
}

static b8 precision_or_fail(Amd64_Translation* t, u32 p, Amd64_Memory_Operand a) {
    if (amd64_is_gp(a)) amd64_fail(t->mask, "a float in a general-purpose register");
    else if (p != 4 && p != 8) amd64_fail(t->mask, "float size %u", p);
    return !amd64_failed(t->mask);
}

// The work register W: A's own XMM register, or XMM1 loaded from A; stored back by finish.
static Amd64_Memory_Operand work_register(Amd64_Translation* t, u32 p, Amd64_Memory_Operand a) {
    if (amd64_is_xmm(a)) return a;
    t->mask->xmm |= 2;
    amd64_fail_unless(amd64_load_float_from_memory((u8)p, 1, t->code, t->data_relocations, a), t->mask);
    return xmm(1);
}

static void finish(Amd64_Translation* t, u32 p, Amd64_Memory_Operand a, Amd64_Memory_Operand w) {
    if (amd64_is_xmm(a)) return;
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, precision_prefix(p), 0, 0x0F11, w, a, 0), t->mask);
}

static Amd64_Memory_Operand float_constant(Amd64_Translation* t, Float_Constant_Slot slot) {
    return amd64_get_memory(global_compiler_state.float_constants[slot], t->mask);
}

// "&&", "||" and "!": compare masks in XMM0 (and XMM1), ANDed with 1.0 into a value.
static void emit_logical(Amd64_Translation* t, u32 p, u64 op, Amd64_Memory_Operand a, Amd64_Memory_Operand b) {
    t->mask->xmm |= 3;
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    u8 prefix = precision_prefix(p);
    Amd64_Memory_Operand one = float_constant(t, p == 4 ? FLOAT_CONSTANT_F32_ONE : FLOAT_CONSTANT_F64_ONE);
    if (amd64_failed(t->mask)) return;
    // pxor xmm0, xmm0; cmpneq / cmpeq xmm0, a: all ones where a is true (NaN included) or,
    // for "!", where it is 0.0.
    b8 ok = amd64_emit_reg_rm(c, 0, 0x66, 0, 0x0FEF, xmm(0), xmm(0), 0) &&
            amd64_emit_reg_rm_imm8(c, r, prefix, 0, 0x0FC2, xmm(0), a, op == OP_NOT ? 0 : 4);
    if (op != OP_NOT) {
        u8 packed = p == 8 ? 0x66 : 0;
        ok = ok && amd64_emit_reg_rm(c, 0, 0x66, 0, 0x0FEF, xmm(1), xmm(1), 0) &&
             amd64_emit_reg_rm_imm8(c, r, prefix, 0, 0x0FC2, xmm(1), b, 4) &&
             amd64_emit_reg_rm(c, 0, packed, 0, op == OP_LOGICAL_AND ? 0x0F54 : 0x0F56, xmm(0), xmm(1), 0);
    }
    ok = ok && amd64_load_float_from_memory((u8)p, 1, c, r, one) &&
         amd64_emit_reg_rm(c, 0, 0, 0, 0x0F54, xmm(0), xmm(1), 0);  // andps xmm0, 1.0
    amd64_fail_unless(ok, t->mask);
    amd64_copy_data(p, c, r, t->mask, a, xmm(0));
}

void amd64_float_arithmetic(Amd64_Translation* t) {
    Bytecode_Float_Arithmetic* k = &t->instruction->float_arithmetic;
    u64 op = k->operator_bit;
    u32 p = amd64_get_register_size(k->destination);
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    b8 binary = scalar_opcode(op) || op == OP_LOGICAL_AND || op == OP_LOGICAL_OR;
    Amd64_Memory_Operand b = binary ? amd64_get_memory(k->source, t->mask) : a;
    if (amd64_failed(t->mask) || !precision_or_fail(t, p, a)) return;
    if (amd64_is_gp(b)) {
        amd64_fail(t->mask, "a float in a general-purpose register");
        return;
    }
    if (op == OP_LOGICAL_AND || op == OP_LOGICAL_OR || op == OP_NOT) {
        emit_logical(t, p, op, a, b);
        return;
    }
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    u8 prefix = precision_prefix(p);
    b8 ok = true;
    switch (op) {
        case OP_INCREMENT:
        case OP_DECREMENT: {
            Float_Constant_Slot slot = op == OP_INCREMENT ? (p == 4 ? FLOAT_CONSTANT_F32_ONE : FLOAT_CONSTANT_F64_ONE)
                                                          : (p == 4 ? FLOAT_CONSTANT_F32_MINUS_ONE
                                                                    : FLOAT_CONSTANT_F64_MINUS_ONE);
            Amd64_Memory_Operand one = float_constant(t, slot);
            if (amd64_failed(t->mask)) return;
            Amd64_Memory_Operand w = work_register(t, p, a);
            ok = amd64_emit_reg_rm(c, r, prefix, 0, 0x0F58, w, one, 0);
            amd64_fail_unless(ok, t->mask);
            finish(t, p, a, w);
            return;
        }
        case OP_NEGATE: {
            // The sign mask is loaded at the precision's size: a packed XOR straight from
            // memory would fault on a constant that is not 16-aligned.
            Amd64_Memory_Operand sign = float_constant(t, p == 4 ? FLOAT_CONSTANT_F32_SIGN_MASK
                                                                 : FLOAT_CONSTANT_F64_SIGN_MASK);
            if (amd64_failed(t->mask)) return;
            Amd64_Memory_Operand w = work_register(t, p, a);
            t->mask->xmm |= 1;
            ok = amd64_load_float_from_memory((u8)p, 0, c, r, sign) &&
                 amd64_emit_reg_rm(c, 0, 0, 0, 0x0F57, w, xmm(0), 0);  // xorps w, xmm0
            amd64_fail_unless(ok, t->mask);
            finish(t, p, a, w);
            return;
        }
    }
    u32 opcode = scalar_opcode(op);
    if (!opcode) {
        amd64_fail(t->mask, "operator 0x%llx", (unsigned long long)op);
        return;
    }
    Amd64_Memory_Operand w = work_register(t, p, a);
    amd64_fail_unless(amd64_emit_reg_rm(c, r, prefix, 0, opcode, w, b, 0), t->mask);
    finish(t, p, a, w);
}

void amd64_float_arithmetic_constant(Amd64_Translation* t) {
    Bytecode_Float_Arithmetic_Constant* k = &t->instruction->float_arithmetic_constant;
    u32 opcode = scalar_opcode(k->operator_bit);
    u32 p = amd64_get_register_size(k->destination);
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    if (amd64_failed(t->mask) || !precision_or_fail(t, p, a)) return;
    if (!opcode) {
        amd64_fail(t->mask, "operator 0x%llx", (unsigned long long)k->operator_bit);
        return;
    }
    // The constant in XMM0 at A's precision, then w op= xmm0.
    t->mask->xmm |= 1;
    amd64_load_constant_float_into_register(0, (u8)p, t->code, t->data_relocations, t->mask, k->immediate);
    Amd64_Memory_Operand w = work_register(t, p, a);
    amd64_fail_unless(amd64_emit_reg_rm(t->code, 0, precision_prefix(p), 0, opcode, w, xmm(0), 0), t->mask);
    finish(t, p, a, w);
}
