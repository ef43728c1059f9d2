// The compare kinds, which leave their outcome in the flags (the flags of the left side
// minus the right), and "store cmp result", which turns the flags into 0 or 1. Float
// compares follow IEEE: with a NaN, "<", "<=", ">", ">=" and "==" are false, "!=" true.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }
static Amd64_Memory_Operand xmm(u8 n) { return amd64_xmm_register(n); }

static b8 integer_or_fail(Amd64_Translation* t, u32 size, Amd64_Memory_Operand m) {
    Amd64_Integer_Form form;
    if (amd64_integer_form(size, &form) && !amd64_is_xmm(m)) return true;
    amd64_fail(t->mask, "operand size %u", size);
    return false;
}

//~ Integers

void amd64_compare(Amd64_Translation* t) {
    Bytecode_Compare_Flags* k = &t->instruction->compare_flags;
    u32 s = k->size;
    Amd64_Memory_Operand a = amd64_get_memory(k->left, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->right, t->mask);
    if (amd64_failed(t->mask) || !integer_or_fail(t, s, a) || !integer_or_fail(t, s, b)) return;
    Dynamic_Array* c = t->code;
    Dynamic_Array* r = t->data_relocations;
    b8 ok;
    if (amd64_is_gp(a) || k->right_through_address) {
        // cmp a, b with A in a register (loaded when it is not), B a register or memory.
        if (!amd64_is_gp(a)) {
            u8 n = amd64_take_tmp_gp_register(t->mask);
            amd64_fail_unless(amd64_load_integer_from_memory((u8)s, (u8)s, true, n, c, r, a), t->mask);
            a = gp(n);
        }
        if (k->right_through_address) b = amd64_get_address_operand(b, c, r, t->mask);
        ok = amd64_emit_sized_reg_rm(c, r, s, 0x3A, 0x3B, a, b);
    } else {
        // A in memory: cmp a, b with B in a register, loaded at the compare's size (a wider
        // load could read past a small global).
        if (!amd64_is_gp(b)) {
            u8 n = amd64_take_tmp_gp_register(t->mask);
            amd64_fail_unless(amd64_load_integer_from_memory((u8)s, (u8)s, true, n, c, r, b), t->mask);
            b = gp(n);
        }
        ok = amd64_emit_sized_reg_rm(c, r, s, 0x38, 0x39, b, a);
    }
    amd64_fail_unless(ok, t->mask);
}

void amd64_compare_to_constant(Amd64_Translation* t) {
    Bytecode_Compare_To_Constant* k = &t->instruction->compare_to_constant;
    u32 s = amd64_get_register_size(k->left);
    Amd64_Memory_Operand a = amd64_get_memory(k->left, t->mask);
    if (amd64_failed(t->mask) || !integer_or_fail(t, s, a)) return;
    u64 c = k->immediate;
    if (s < 8 || amd64_fits_imm32(c)) {
        amd64_fail_unless(amd64_emit_sized_rm(t->code, t->data_relocations, s, 0x80, 0x81, 7 << 3, a, c,
                                              amd64_immediate_size(s)),
                          t->mask);
        return;
    }
    u8 n = amd64_take_tmp_gp_register(t->mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(n, c, 8, t->code) &&
                          amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x39, gp(n), a, 0),
                      t->mask);
}

void amd64_compare_to_zero(Amd64_Translation* t) {
    Bytecode_Compare* k = &t->instruction->compare;
    u32 s = amd64_get_register_size(k->left);
    Amd64_Memory_Operand a = amd64_get_memory(k->left, t->mask);
    if (amd64_failed(t->mask) || !integer_or_fail(t, s, a)) return;
    amd64_fail_unless(amd64_emit_sized_rm(t->code, t->data_relocations, s, 0x80, 0x83, 7 << 3, a, 0, 1), t->mask);
}

//~ Blocks

// The octets of constant data an operand names: its own, or its base's at the view offset.
static const u8* constant_octets_of(Register_Id id) {
    u64 offset = 0;
    Register* r = amd64_get_register(id);
    for (u32 depth = 0; r && depth < 64; depth++) {
        if (r->data) return r->data + offset;
        if (r->kind != REGISTER_VIEW) return 0;
        offset += r->view_offset;
        r = amd64_get_register(r->base);
    }
    return 0;
}

// A register that holds the address an operand holds.
static u8 address_register(Amd64_Translation* t, Amd64_Memory_Operand pointer) {
    u8 n = amd64_take_tmp_gp_register_backward(t->mask);
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x8B, gp(n), pointer, 0), t->mask);
    return n;
}

void amd64_compare_block_to_constant(Amd64_Translation* t) {
    Bytecode_Compare* k = &t->instruction->compare;
    u32 size = amd64_get_register_size(k->right);
    const u8* constant = constant_octets_of(k->right);
    Amd64_Memory_Operand l = amd64_get_memory(k->left, t->mask);
    if (amd64_failed(t->mask)) return;
    if (!constant && size) {
        amd64_fail(t->mask, "a block compare without constant data");
        return;
    }
    if (amd64_is_xmm(l)) {
        amd64_fail(t->mask, "an address held in an XMM register");
        return;
    }
    u8 base = address_register(t, l);
    amd64_memcmp_constant(constant, size, t->code, t->data_relocations, t->mask, amd64_make_memory_operand_from(base, 0));
}

void amd64_compare_blocks(Amd64_Translation* t) {
    Bytecode_Compare* k = &t->instruction->compare;
    // RAX holds the size to the end; the addresses take registers from the other end.
    t->mask->gp |= 1u << AMD64_RAX;
    u32 n_size = amd64_get_register_size(k->size_register);
    Amd64_Memory_Operand n = amd64_get_memory(k->size_register, t->mask);
    Amd64_Memory_Operand l = amd64_get_memory(k->left, t->mask);
    Amd64_Memory_Operand r = amd64_get_memory(k->right, t->mask);
    if (amd64_failed(t->mask)) return;
    if (amd64_is_xmm(l) || amd64_is_xmm(r) || amd64_is_xmm(n) ||
        !amd64_load_integer_from_memory((u8)n_size, 8, true, AMD64_RAX, t->code, t->data_relocations, n)) {
        amd64_fail(t->mask, "operand size %u", n_size);
        return;
    }
    u8 p = address_register(t, l);
    u8 q = address_register(t, r);
    amd64_memcmp(p, q, AMD64_RAX, t->code, t->mask);
}

//~ Flags

void amd64_test_flags(Amd64_Translation* t) {
    b8 constant = t->instruction->kind == BYTECODE_TEST_FLAGS_CONSTANT;
    Register_Id left = constant ? t->instruction->compare_to_constant.left : t->instruction->compare.left;
    if (!constant) t->mask->gp |= 1u << AMD64_RAX;
    u32 s = amd64_get_register_size(left);
    Amd64_Memory_Operand l = amd64_get_memory(left, t->mask);
    Amd64_Memory_Operand r = constant ? l : amd64_get_memory(t->instruction->compare.right, t->mask);
    if (amd64_failed(t->mask) || !integer_or_fail(t, s, l) || !integer_or_fail(t, s, r)) return;
    Dynamic_Array* c = t->code;
    Dynamic_Array* rel = t->data_relocations;
    if (!constant) {
        // mov rax, r; test l, rax at l's size
        amd64_fail_unless(amd64_load_integer_from_memory((u8)s, (u8)s, true, AMD64_RAX, c, rel, r) &&
                              amd64_emit_sized_reg_rm(c, rel, s, 0x84, 0x85, RAX_INFO, l),
                          t->mask);
        return;
    }
    // An 8-octet mask goes as an imm32 only where that sign-extends to the mask itself.
    u64 mask = t->instruction->compare_to_constant.immediate;
    if (s < 8 || amd64_fits_imm32(mask)) {
        amd64_fail_unless(amd64_emit_sized_rm(c, rel, s, 0xF6, 0xF7, 0, l, mask, amd64_immediate_size(s)), t->mask);
        return;
    }
    u8 n = amd64_take_tmp_gp_register(t->mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(n, mask, 8, c) &&
                          amd64_emit_reg_rm(c, rel, 0, AMD64_REX_W, 0x85, gp(n), l, 0),
                      t->mask);
}

//~ Floats

void amd64_float_compare(Amd64_Translation* t) {
    u8 kind = t->instruction->kind;
    Register_Id left = kind == BYTECODE_FLOAT_COMPARE_TO_CONSTANT ? t->instruction->compare_to_constant.left
                                                                  : t->instruction->compare.left;
    u32 p = amd64_get_register_size(left);
    if (kind != BYTECODE_FLOAT_COMPARE) t->mask->xmm |= 1;  // XMM0 holds the right side
    Amd64_Memory_Operand l = amd64_get_memory(left, t->mask);
    Amd64_Memory_Operand r = kind == BYTECODE_FLOAT_COMPARE ? amd64_get_memory(t->instruction->compare.right, t->mask)
                                                            : xmm(0);
    if (amd64_failed(t->mask)) return;
    if (p != 4 && p != 8) {
        amd64_fail(t->mask, "float size %u", p);
        return;
    }
    if (amd64_is_gp(l) || amd64_is_gp(r)) {
        amd64_fail(t->mask, "a float in a general-purpose register");
        return;
    }
    Dynamic_Array* c = t->code;
    if (kind == BYTECODE_FLOAT_COMPARE_TO_CONSTANT) {
        // The constant comes as f64 bits; it is compared at the left side's precision.
        u64 bits = t->instruction->compare_to_constant.immediate;
        f64 value;
        __builtin_memcpy(&value, &bits, 8);
        amd64_load_constant_float_into_register(0, (u8)p, c, t->data_relocations, t->mask, value);
    }
    l = amd64_ensure_float_is_in_register((u8)p, c, t->data_relocations, t->mask, l);
    if (kind == BYTECODE_FLOAT_COMPARE_TO_ZERO) {
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, 0x66, 0, 0x0F57, xmm(0), xmm(0), 0), t->mask);  // xorpd xmm0, xmm0
    }
    // comiss / comisd l, r
    amd64_fail_unless(amd64_emit_reg_rm(c, t->data_relocations, p == 8 ? 0x66 : 0, 0, 0x0F2F, l, r, 0), t->mask);
}

//~ Stored results

void amd64_store_condition(u8 condition, u8 parity, u32 size, Amd64_Memory_Operand destination, Dynamic_Array* code,
                           Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask) {
    Amd64_Integer_Form form;
    if (!amd64_integer_form(size, &form)) {
        amd64_fail(mask, "operand size %u", size);
        return;
    }
    if (size == 1 && parity == AMD64_PARITY_IGNORED && !amd64_is_xmm(destination)) {
        amd64_fail_unless(amd64_emit_rm(code, data_relocations, 0, AMD64_REX_BYTE_FORM, 0x0F00u | condition, 0,
                                        destination, 0, 0, 0),
                          mask);
        return;
    }
    u8 n = amd64_take_tmp_gp_register(mask);
    b8 ok = amd64_emit_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x0F00u | condition, 0, gp(n), 0, 0, 0);
    if (parity != AMD64_PARITY_IGNORED) {
        // setp / setnp p8; or / and n8, p8
        u8 p = amd64_take_tmp_gp_register(mask);
        b8 unordered_is_true = parity == AMD64_OR_PARITY;
        ok = ok && amd64_emit_rm(code, 0, 0, AMD64_REX_BYTE_FORM, unordered_is_true ? 0x0F9A : 0x0F9B, 0, gp(p), 0, 0, 0) &&
             amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, unordered_is_true ? 0x08 : 0x20, gp(p), gp(n), 0);
        amd64_defer_free_tmp_gp_register(mask, p);
    }
    if (size > 1) ok = ok && amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x0FB6, gp(n), gp(n), 0);  // movzx
    amd64_fail_unless(ok, mask);
    amd64_copy_data(size, code, data_relocations, mask, destination, gp(n));
    amd64_defer_free_tmp_gp_register(mask, n);
}

void amd64_store_compare_result(Amd64_Translation* t) {
    Bytecode_Store_Compare_Result* k = &t->instruction->store_compare_result;
    b8 unsigned_codes = k->compared_unsigned || k->compared_float;
    struct Condition {
        u64 operator_bit;
        u8 signed_code;
        u8 unsigned_code;
        u8 float_parity;
    };
    static const Condition conditions[] = {
        {OP_NOT_EQUAL, 0x95, 0x95, AMD64_OR_PARITY},          {OP_LESS, 0x9C, 0x92, AMD64_AND_NOT_PARITY},
        {OP_LESS_EQUAL, 0x9E, 0x96, AMD64_AND_NOT_PARITY},    {OP_GREATER, 0x9F, 0x97, AMD64_PARITY_IGNORED},
        {OP_GREATER_EQUAL, 0x9D, 0x93, AMD64_PARITY_IGNORED}, {OP_EQUAL, 0x94, 0x94, AMD64_AND_NOT_PARITY},
    };
    const Condition* condition = 0;
    for (const Condition& c : conditions) {
        if (c.operator_bit == k->operator_bit) condition = &c;
    }
    if (!condition) {
        amd64_fail(t->mask, "operator 0x%llx", (unsigned long long)k->operator_bit);
        return;
    }
    Amd64_Memory_Operand l = amd64_get_memory(k->destination, t->mask);
    if (amd64_failed(t->mask)) return;
    // Through an address the result is a bool; in place it fills the whole of L.
    u32 size = k->through_address ? 1 : amd64_get_register_size(k->destination);
    if (k->through_address) l = amd64_get_address_operand(l, t->code, t->data_relocations, t->mask);
    amd64_store_condition(unsigned_codes ? condition->unsigned_code : condition->signed_code,
                          k->compared_float ? condition->float_parity : AMD64_PARITY_IGNORED, size, l, t->code,
                          t->data_relocations, t->mask);
}
