// Kinds 9 to 18: conversions between integers, floats and bools, and the in-place bool
// normalisations. Unsigned integers convert to and from floats by value, floats
// convert to integers by truncation, and a NaN is true as a bool.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }
static Amd64_Memory_Operand xmm(u8 n) { return amd64_xmm_register(n); }

// The destination of a cast: A itself, or the place A points at.
static Amd64_Memory_Operand destination_of(Amd64_Translation* t, Amd64_Memory_Operand a, b8 through_address) {
    if (!through_address || amd64_failed(t->mask)) return a;
    return amd64_get_address_operand(a, t->code, t->data_relocations, t->mask);
}

static b8 float_size_or_fail(Amd64_Translation* t, u32 size) {
    if (size == 4 || size == 8) return true;
    amd64_fail(t->mask, "float size %u", size);
    return false;
}

// A float source must be an XMM register or memory.
static b8 float_source_or_fail(Amd64_Translation* t, Amd64_Memory_Operand b) {
    if (!amd64_is_gp(b)) return true;
    amd64_fail(t->mask, "a float in a general-purpose register");
    return false;
}

// A forward jump inside one instruction's code; land_short_jump points it at the code's end.
static u32 emit_short_jump(Amd64_Translation* t, u8 opcode) {
    u8 bytes[2] = {opcode, 0};
    amd64_fail_unless(amd64_emit(t->code, bytes, 2), t->mask);
    return t->code->count - 1;
}

static void land_short_jump(Amd64_Translation* t, u32 rel8_at) {
    if (amd64_failed(t->mask)) return;
    t->code->data[rel8_at] = (u8)(t->code->count - (rel8_at + 1));
}

#define JS  0x78
#define JAE 0x73
#define JMP 0xEB

//~ Integers and floats

void amd64_cast_int_to_float(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    t->mask->xmm |= 1;
    u32 s = amd64_get_register_size(k->source);
    u32 d = k->destination_size;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask) || !float_size_or_fail(t, d)) return;
    Amd64_Integer_Form form;
    if (!amd64_integer_form(s, &form) || amd64_is_xmm(b)) {
        amd64_fail(t->mask, "operand size %u", s);
        return;
    }
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    u8 w = amd64_is_xmm(a) && !k->through_address ? a.modrm : 0;
    u8 prefix = d == 4 ? 0xF3 : 0xF2;

    // cvtsi2ss / cvtsi2sd read a signed 32- or 64-bit integer: narrower and unsigned 32-bit
    // values are widened first, so they convert by value.
    Amd64_Memory_Operand source = b;
    u8 rex = s == 8 ? AMD64_REX_W : 0;
    if (s < 4 || (s == 4 && k->is_unsigned)) {
        u8 r = amd64_take_tmp_gp_register(t->mask);
        u8 wide = s == 4 ? 8 : 4;
        amd64_fail_unless(amd64_load_integer_from_memory((u8)s, wide, k->is_unsigned, r, t->code, t->data_relocations, b),
                          t->mask);
        source = gp(r);
        rex = wide == 8 ? AMD64_REX_W : 0;
    }
    if (s == 8 && k->is_unsigned) {
        // At 2^63 and above, convert half the value with its lowest bit kept (so it rounds
        // as the whole would) and double it.
        u8 r = amd64_take_tmp_gp_register(t->mask);
        u8 h = amd64_take_tmp_gp_register(t->mask);
        Dynamic_Array* c = t->code;
        amd64_fail_unless(amd64_load_integer_from_memory(8, 8, true, r, c, t->data_relocations, b) &&
                              amd64_emit_reg_rm(c, 0, 0, AMD64_REX_W, 0x85, gp(r), gp(r), 0),  // test r, r
                          t->mask);
        u32 to_large = emit_short_jump(t, JS);
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, prefix, AMD64_REX_W, 0x0F2A, xmm(w), gp(r), 0), t->mask);
        u32 to_done = emit_short_jump(t, JMP);
        land_short_jump(t, to_large);
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, 0, AMD64_REX_W, 0x8B, gp(h), gp(r), 0) &&            // mov h, r
                              amd64_emit_rm(c, 0, 0, AMD64_REX_W, 0xD1, 5 << 3, gp(h), 0, 0, 0) &&     // shr h, 1
                              amd64_emit_rm(c, 0, 0, AMD64_REX_W, 0x83, 4 << 3, gp(r), 0, 1, 1) &&     // and r, 1
                              amd64_emit_reg_rm(c, 0, 0, AMD64_REX_W, 0x0B, gp(h), gp(r), 0) &&        // or h, r
                              amd64_emit_reg_rm(c, 0, prefix, AMD64_REX_W, 0x0F2A, xmm(w), gp(h), 0) &&
                              amd64_emit_reg_rm(c, 0, prefix, 0, 0x0F58, xmm(w), xmm(w), 0),  // add w, w
                          t->mask);
        land_short_jump(t, to_done);
    } else {
        amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, prefix, rex, 0x0F2A, xmm(w), source, 0),
                          t->mask);
    }
    if (!amd64_is_xmm(a) || k->through_address || a.modrm != w) {
        amd64_copy_data(d, t->code, t->data_relocations, t->mask, destination, xmm(w));
    }
}

void amd64_cast_float_to_int(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    t->mask->gp |= 1u << AMD64_RAX;
    u32 s = amd64_get_register_size(k->source);
    u32 d = k->destination_size;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask) || !float_size_or_fail(t, s) || !float_source_or_fail(t, b)) return;
    Amd64_Integer_Form form;
    if (!amd64_integer_form(d, &form)) {
        amd64_fail(t->mask, "operand size %u", d);
        return;
    }
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    b8 into_a = amd64_is_gp(a) && !k->through_address && (d == 4 || d == 8);
    u8 target = into_a ? a.modrm : (u8)AMD64_RAX;
    u8 prefix = s == 4 ? 0xF3 : 0xF2;

    if (k->is_unsigned && d == 8) {
        // cvttss2si / cvttsd2si reach 2^63 - 1: from 2^63 on, convert the value less 2^63
        // and set the top bit again.
        t->mask->xmm |= 3;
        Dynamic_Array* c = t->code;
        b8 ok = amd64_is_xmm(b) ? amd64_emit_reg_rm(c, 0, 0, 0, 0x0F28, xmm(0), b, 0)  // movaps xmm0, b
                                : amd64_load_float_from_memory((u8)s, 0, c, t->data_relocations, b);
        amd64_fail_unless(ok, t->mask);
        amd64_load_constant_float_into_register(1, (u8)s, c, t->data_relocations, t->mask, 9223372036854775808.0);
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, s == 8 ? 0x66 : 0, 0, 0x0F2F, xmm(0), xmm(1), 0), t->mask);  // comis
        u32 to_large = emit_short_jump(t, JAE);
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, prefix, AMD64_REX_W, 0x0F2C, gp(target), xmm(0), 0), t->mask);
        u32 to_done = emit_short_jump(t, JMP);
        land_short_jump(t, to_large);
        amd64_fail_unless(amd64_emit_reg_rm(c, 0, prefix, 0, 0x0F5C, xmm(0), xmm(1), 0) &&  // subs xmm0, 2^63
                              amd64_emit_reg_rm(c, 0, prefix, AMD64_REX_W, 0x0F2C, gp(target), xmm(0), 0) &&
                              amd64_emit_rm(c, 0, 0, AMD64_REX_W, 0x0FBA, 7 << 3, gp(target), 0, 63, 1),  // btc, 63
                          t->mask);
        land_short_jump(t, to_done);
    } else {
        // Unsigned 32-bit results above 2^31 need the 64-bit conversion.
        u8 rex = d == 8 || (d == 4 && k->is_unsigned) ? AMD64_REX_W : 0;
        amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, prefix, rex, 0x0F2C, gp(target), b, 0),
                          t->mask);
    }
    if (!into_a) amd64_copy_data(d, t->code, t->data_relocations, t->mask, destination, gp(target));
}

//~ Bools

void amd64_cast_to_bool(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    b8 from_float = t->instruction->kind == BYTECODE_CAST_FLOAT_TO_BOOL;
    u32 s = amd64_get_register_size(k->source);
    if (from_float) t->mask->xmm |= 1;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask)) return;
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    if (from_float) {
        if (!float_size_or_fail(t, s) || !float_source_or_fail(t, b)) return;
        // pxor xmm0, xmm0; ucomiss / ucomisd xmm0, b: -0.0 is equal, a NaN unordered.
        amd64_fail_unless(amd64_emit_reg_rm(t->code, 0, 0x66, 0, 0x0FEF, xmm(0), xmm(0), 0) &&
                              amd64_emit_reg_rm(t->code, t->data_relocations, s == 8 ? 0x66 : 0, 0, 0x0F2E, xmm(0), b, 0),
                          t->mask);
        amd64_store_condition(0x95, AMD64_OR_PARITY, k->destination_size, destination, t->code, t->data_relocations,
                              t->mask);
        return;
    }
    if (amd64_is_xmm(b) || !amd64_emit_sized_rm(t->code, t->data_relocations, s, 0x80, 0x83, 7 << 3, b, 0, 1)) {
        amd64_fail(t->mask, "operand size %u", s);
        return;
    }
    amd64_store_condition(0x95, AMD64_PARITY_IGNORED, k->destination_size, destination, t->code, t->data_relocations,
                          t->mask);
}

void amd64_make_bool(Amd64_Translation* t) {
    Bytecode_Make_Bool* k = &t->instruction->make_bool;
    Amd64_Memory_Operand a = amd64_get_memory(k->value, t->mask);
    a = destination_of(t, a, k->through_address);
    if (amd64_failed(t->mask)) return;
    if (t->instruction->kind == BYTECODE_MAKE_FLOAT_BOOL) {
        amd64_ensure_float_bool(k->size, t->code, t->data_relocations, t->mask, a);
    } else if (amd64_is_xmm(a) || !amd64_ensure_int_bool(k->size, t->code, t->data_relocations, a)) {
        amd64_fail(t->mask, "operand size %u", k->size);
    }
}

//~ Integer and float sizes

void amd64_cast_int_to_small_int(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    if (amd64_failed(t->mask)) return;
    // Little-endian: the low part is the first octets, in memory as in a register.
    amd64_copy_data(k->destination_size, t->code, t->data_relocations, t->mask, destination, b);
}

void amd64_cast_int_to_big_int(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    u32 s = amd64_get_register_size(k->source);
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask)) return;
    b8 into_a = amd64_is_gp(a) && !k->through_address;
    u32 d = into_a ? amd64_get_register_size(k->destination) : k->destination_size;
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    // Extended into a register of its own, so a source held in a register is left as it is.
    u8 r = into_a ? a.modrm : amd64_take_tmp_gp_register(t->mask);
    if (amd64_is_xmm(b) || amd64_is_xmm(a) ||
        !amd64_load_integer_from_memory((u8)s, (u8)d, k->is_unsigned, r, t->code, t->data_relocations, b)) {
        amd64_fail(t->mask, "operand sizes %u and %u", s, d);
        return;
    }
    if (!into_a) amd64_copy_data(d, t->code, t->data_relocations, t->mask, destination, gp(r));
}

void amd64_cast_float_to_float(Amd64_Translation* t) {
    Bytecode_Cast* k = &t->instruction->cast;
    b8 to_small = t->instruction->kind == BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT;
    t->mask->xmm |= 1;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    if (amd64_failed(t->mask) || !float_source_or_fail(t, b)) return;
    Amd64_Memory_Operand destination = destination_of(t, a, k->through_address);
    u8 w = amd64_is_xmm(a) && !k->through_address ? a.modrm : 0;
    // cvtsd2ss / cvtss2sd w, b
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, to_small ? 0xF2 : 0xF3, 0, 0x0F5A, xmm(w), b, 0),
                      t->mask);
    if (!amd64_is_xmm(a) || k->through_address || a.modrm != w) {
        amd64_copy_data(k->destination_size, t->code, t->data_relocations, t->mask, destination, xmm(w));
    }
}
