// The recurring data movements every kind needs: loads with the right width and
// extension, bools, constants into registers and memory, stores from a register and
// block copies of any size. One-octet forms pass AMD64_REX_BYTE_FORM so that registers
// 4 to 7 name SPL to DIL.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }
static Amd64_Memory_Operand xmm(u8 n) { return amd64_xmm_register(n); }


// The plain move of each size: one of 8A/88 (one octet), 66 8B/66 89, 8B/89, 48 8B/48 89.
struct Sized_Move {
    u8 prefix;
    u8 rex;
    u8 load;   // register <- r/m
    u8 store;  // r/m <- register
};

static b8 sized_move(u32 size, Sized_Move* out) {
    switch (size) {
        case 1: *out = {0, AMD64_REX_BYTE_FORM, 0x8A, 0x88}; return true;
        case 2: *out = {0x66, 0, 0x8B, 0x89}; return true;
        case 4: *out = {0, 0, 0x8B, 0x89}; return true;
        case 8: *out = {0, AMD64_REX_W, 0x8B, 0x89}; return true;
    }
    return false;
}

//~ Loads

// An extending load: prefix, REX and opcode by (source, destination) size and signedness.
struct Extension {
    u8 prefix;
    u8 rex;
    u32 opcode;
};

static b8 extension_of(u8 source_size, u8 destination_size, b8 is_unsigned, Extension* out) {
    if (source_size == 4 && destination_size == 8) {
        *out = is_unsigned ? Extension{0, 0, 0x8B} : Extension{0, AMD64_REX_W, 0x63};  // a 32-bit move clears the upper half
        return true;
    }
    if (source_size == 2 && (destination_size == 8 || destination_size == 4)) {
        *out = {0, (u8)(destination_size == 8 ? AMD64_REX_W : 0), is_unsigned ? 0x0FB7u : 0x0FBFu};
        return true;
    }
    if (source_size == 1 && (destination_size == 8 || destination_size == 4 || destination_size == 2)) {
        *out = {(u8)(destination_size == 2 ? 0x66 : 0), (u8)(destination_size == 8 ? AMD64_REX_W : AMD64_REX_BYTE_FORM),
                is_unsigned ? 0x0FB6u : 0x0FBEu};
        return true;
    }
    return false;
}

b8 amd64_load_integer_from_memory(u8 source_size, u8 destination_size, b8 is_unsigned, u8 destination_register,
                                  Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand source) {
    Amd64_Memory_Operand r = gp(destination_register);
    Extension e = {};
    if (destination_size > source_size && extension_of(source_size, destination_size, is_unsigned, &e)) {
        return amd64_emit_reg_rm(code, data_relocations, e.prefix, e.rex, e.opcode, r, source, 0);
    }
    // Equal sizes, and narrowing: little-endian, so the low octets are the first ones.
    Sized_Move move = {};
    if (destination_size > source_size || !sized_move(source_size, &move) || !sized_move(destination_size, &move)) {
        return false;
    }
    return amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.load, r, source, 0);
}

Amd64_Memory_Operand amd64_ensure_integer_is_in_register(u8 source_size, u8 destination_size, b8 is_unsigned,
                                                         Dynamic_Array* code, Dynamic_Array* data_relocations,
                                                         Amd64_Memory_Operand operand, Amd64_Temporary_Mask* mask) {
    if (amd64_is_xmm(operand)) return operand;
    if (!amd64_is_gp(operand)) {
        u8 t = amd64_take_tmp_gp_register(mask);
        if (!amd64_load_integer_from_memory(source_size, destination_size, is_unsigned, t, code, data_relocations,
                                            operand)) {
            amd64_fail(mask, "operand sizes %u and %u", source_size, destination_size);
        }
        return gp(t);
    }
    Sized_Move move = {};
    if (!sized_move(source_size, &move) || !sized_move(destination_size, &move)) {
        amd64_fail(mask, "operand sizes %u and %u", source_size, destination_size);
        return operand;
    }
    if (destination_size <= source_size) return operand;  // the low bits are already the value
    Extension e = {};
    if (is_unsigned && source_size < 4) {
        u32 low_bits = source_size == 1 ? 0xFF : 0xFFFF;
        amd64_fail_unless(amd64_emit_rm(code, data_relocations, 0, AMD64_REX_W, 0x81, 0x20, operand, 0, low_bits, 4), mask);
    } else if (extension_of(source_size, destination_size, is_unsigned, &e)) {
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, e.prefix, e.rex, e.opcode, operand, operand, 0), mask);
    }
    return operand;
}

b8 amd64_load_float_from_memory(u8 size, u8 xmm_register, Dynamic_Array* code, Dynamic_Array* data_relocations,
                                Amd64_Memory_Operand source) {
    // movd / movq xmm, r/m: also right for a general-purpose register as the source.
    if (size != 4 && size != 8) return false;
    return amd64_emit_reg_rm(code, data_relocations, 0x66, size == 8 ? AMD64_REX_W : 0, 0x0F6E, xmm(xmm_register),
                             source, 0);
}

Amd64_Memory_Operand amd64_ensure_float_is_in_register(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                                                       Amd64_Temporary_Mask* mask, Amd64_Memory_Operand operand) {
    if (amd64_is_xmm(operand)) return operand;
    u8 x = amd64_take_tmp_sse_register(mask);
    if (!amd64_load_float_from_memory(size, x, code, data_relocations, operand)) amd64_fail(mask, "float size %u", size);
    return xmm(x);
}

//~ Bools

b8 amd64_ensure_int_bool(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand m) {
    Sized_Move move = {};
    if (!sized_move(size, &move)) return false;
    u8 rex = size == 8 ? AMD64_REX_W : size == 1 ? AMD64_REX_BYTE_FORM : 0;
    // cmp m, 0; setne m8; then, above one octet, and m, 1 clears what setne left above.
    if (!amd64_emit_rm(code, data_relocations, move.prefix, rex, size == 1 ? 0x80 : 0x83, 0x38, m, 0, 0, 1)) return false;
    if (!amd64_emit_rm(code, data_relocations, 0, AMD64_REX_BYTE_FORM, 0x0F95, 0, m, 0, 0, 0)) return false;
    if (size == 1) return true;
    return amd64_emit_rm(code, data_relocations, move.prefix, rex, 0x83, 0x20, m, 0, 1, 1);
}

//~ Constants

b8 amd64_load_constant_integer_into_register(u8 reg, u64 value, u8 size, Dynamic_Array* code) {
    u8 bytes[10];
    u32 n = 0;
    u8 rex_b = reg > 7 ? 0x41 : 0;
    switch (size) {
        case 1:
            // REX keeps registers 4 to 7 from naming AH to BH.
            if (reg >= 4) bytes[n++] = (u8)(AMD64_REX | (reg > 7 ? 1 : 0));
            bytes[n++] = (u8)(0xB0 + (reg & 7));
            break;
        case 2:
            bytes[n++] = 0x66;
            if (rex_b) bytes[n++] = rex_b;
            bytes[n++] = (u8)(0xB8 + (reg & 7));
            break;
        case 4:
            if (rex_b) bytes[n++] = rex_b;
            bytes[n++] = (u8)(0xB8 + (reg & 7));
            break;
        case 8:
            bytes[n++] = (u8)(AMD64_REX_W | (reg > 7 ? 1 : 0));
            bytes[n++] = (u8)(0xB8 + (reg & 7));
            break;
        default: return false;
    }
    for (u32 i = 0; i < size; i++) bytes[n++] = (u8)(value >> (8 * i));
    return amd64_emit(code, bytes, n);
}

void amd64_load_constant_float_into_register(u8 xmm_register, u8 size, Dynamic_Array* code,
                                             Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask, f64 value) {
    if (size != 4 && size != 8) {
        amd64_fail(mask, "float size %u", size);
        return;
    }
    u64 bits;
    if (size == 4) {
        f32 single = (f32)value;
        u32 single_bits;
        __builtin_memcpy(&single_bits, &single, 4);
        bits = single_bits;
    } else {
        __builtin_memcpy(&bits, &value, 8);
    }
    u8 t = amd64_take_tmp_gp_register(mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(t, bits, size, code), mask);
    amd64_fail_unless(amd64_load_float_from_memory(size, xmm_register, code, data_relocations, gp(t)), mask);
    amd64_defer_free_tmp_gp_register(mask, t);
}

void amd64_move_constant_to_memory_contained_in_register(u8 size, u64 value, Dynamic_Array* code,
                                                         Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                                         Amd64_Memory_Operand m) {
    Sized_Move move = {};
    if (!sized_move(size, &move)) {
        amd64_fail(mask, "operand size %u", size);
        return;
    }
    if (size < 8 || amd64_fits_imm32(value)) {
        u8 immediate_size = size == 8 ? 4 : size;
        amd64_fail_unless(amd64_emit_rm(code, data_relocations, move.prefix, move.rex, size == 1 ? 0xC6 : 0xC7, 0, m, 0, value,
                                  immediate_size),
                    mask);
        return;
    }
    u8 t = amd64_take_tmp_gp_register(mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(t, value, 8, code), mask);
    amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, 0, AMD64_REX_W, 0x89, gp(t), m, 0), mask);
    amd64_defer_free_tmp_gp_register(mask, t);
}

//~ Stores and copies

// A general-purpose register into an XMM register or back: movd / movq.
static b8 move_between_classes(u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                               Amd64_Memory_Operand destination, Amd64_Memory_Operand source) {
    if (size != 4 && size != 8) return false;
    u8 rex = size == 8 ? AMD64_REX_W : 0;
    if (amd64_is_xmm(destination)) return amd64_emit_reg_rm(code, data_relocations, 0x66, rex, 0x0F6E, destination, source, 0);
    return amd64_emit_reg_rm(code, data_relocations, 0x66, rex, 0x0F7E, source, destination, 0);
}

void copy_integer_from_register(u8 destination_size, u8 source_size, b8 sign_extend, Dynamic_Array* code,
                                Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                Amd64_Memory_Operand destination, Amd64_Memory_Operand source) {
    Sized_Move move = {};
    if (!sized_move(destination_size, &move) || !sized_move(source_size, &move)) {
        amd64_fail(mask, "operand sizes %u and %u", destination_size, source_size);
        return;
    }
    if (source_size < destination_size) {
        // Widen into a work register first: unsigned sources are zero-extended, so no
        // stale upper bits of the source register are stored.
        u8 w = amd64_is_gp(destination) ? destination.modrm : amd64_take_tmp_gp_register(mask);
        Extension e = {};
        extension_of(source_size, destination_size, !sign_extend, &e);
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, e.prefix, e.rex, e.opcode, gp(w), source, 0), mask);
        if (amd64_is_gp(destination)) return;
        if (amd64_is_xmm(destination)) {
            if (!move_between_classes(destination_size, code, data_relocations, destination, gp(w))) {
                amd64_fail(mask, "operand size %u", destination_size);
            }
        } else {
            sized_move(destination_size, &move);
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.store, gp(w), destination, 0),
                        mask);
        }
        amd64_defer_free_tmp_gp_register(mask, w);
        return;
    }
    if (amd64_is_xmm(destination)) {
        if (!move_between_classes(destination_size, code, data_relocations, destination, source)) {
            amd64_fail(mask, "operand size %u", destination_size);
        }
        return;
    }
    sized_move(destination_size, &move);
    amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.store, source, destination, 0),
                mask);
}

// The unrolled memory-to-memory copy of any size: 32-octet then 16-octet moves through
// XMM0 and XMM1 in turn, then 8, 4, 2 and 1 octets through two general-purpose temporaries.
static void copy_block(u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                       Amd64_Memory_Operand destination, Amd64_Memory_Operand source) {
    u8 x[2] = {0xFF, 0xFF}, t[2] = {0xFF, 0xFF};
    u32 next_x = 0, next_t = 0;
    u32 o = 0;
    while (size - o >= 16) {
        u8* slot = &x[next_x++ & 1];
        if (*slot == 0xFF) *slot = amd64_take_tmp_sse_register(mask);
        if (size - o >= 32) {
            amd64_fail_unless(amd64_emit_vex_reg_rm(code, data_relocations, 0xE1, 0x7E, 0x6F, xmm(*slot), source, o), mask);
            amd64_fail_unless(amd64_emit_vex_reg_rm(code, data_relocations, 0xE1, 0x7E, 0x7F, xmm(*slot), destination, o),
                        mask);
            o += 32;
        } else {
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, 0xF3, 0, 0x0F6F, xmm(*slot), source, o), mask);
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, 0xF3, 0, 0x0F7F, xmm(*slot), destination, o), mask);
            o += 16;
        }
    }
    static const u32 steps[] = {8, 4, 2, 1};
    for (u32 step : steps) {
        if (size - o < step) continue;
        u8* slot = &t[next_t++ & 1];
        if (*slot == 0xFF) *slot = amd64_take_tmp_gp_register(mask);
        Sized_Move move = {};
        sized_move(step, &move);
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.load, gp(*slot), source, o),
                    mask);
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.store, gp(*slot), destination, o),
                    mask);
        o += step;
    }
    for (u8 r : t) {
        if (r != 0xFF) amd64_defer_free_tmp_gp_register(mask, r);
    }
    for (u8 r : x) {
        if (r != 0xFF) amd64_defer_free_tmp_sse_register(mask, r);
    }
}

void amd64_copy_data(u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                     Amd64_Memory_Operand destination, Amd64_Memory_Operand source) {
    Sized_Move move = {};
    b8 scalar = sized_move(size, &move);
    if (amd64_is_xmm(source) || amd64_is_xmm(destination)) {
        if (size != 4 && size != 8) {
            amd64_fail(mask, "float size %u", size);
        } else if (amd64_is_gp(source) || amd64_is_gp(destination)) {
            amd64_fail_unless(move_between_classes(size, code, data_relocations, destination, source), mask);
        } else if (amd64_is_xmm(source)) {
            // movss / movsd r/m, xmm
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, size == 4 ? 0xF3 : 0xF2, 0, 0x0F11, source, destination, 0),
                        mask);
        } else {
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, size == 4 ? 0xF3 : 0xF2, 0, 0x0F10, destination, source, 0),
                        mask);
        }
        return;
    }
    if (amd64_is_gp(source) || amd64_is_gp(destination)) {
        if (!scalar) {
            amd64_fail(mask, "operand size %u", size);
        } else if (amd64_is_gp(source)) {
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.store, source, destination, 0),
                        mask);
        } else {
            amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.load, destination, source, 0),
                        mask);
        }
        return;
    }
    if (scalar) {
        u8 t = amd64_take_tmp_gp_register(mask);
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.load, gp(t), source, 0), mask);
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, move.prefix, move.rex, move.store, gp(t), destination, 0),
                    mask);
        amd64_defer_free_tmp_gp_register(mask, t);
        return;
    }
    copy_block(size, code, data_relocations, mask, destination, source);
}

//~ Constants that need the compiler's records

void amd64_load_address_of_relocation_target(u8 reg, s32 relocation, Dynamic_Array* code,
                                             Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask) {
    Dynamic_Array* relocations = &global_compiler_state.constant_relocations;
    if (relocation < 0 || (u32)relocation >= relocations->count) {
        amd64_fail(mask, "constant relocation %d", relocation);
        return;
    }
    Relocation* r = (Relocation*)(relocations->data + (u64)relocation * relocations->element_size);
    // The target's own area decides the fix-up's class: a pointer may point into globals.
    Amd64_Memory_Operand target = amd64_get_memory(r->target, mask);
    if (amd64_failed(mask)) return;
    if (!(target.operand_class & AMD64_OPERAND_RIP_RELATIVE)) {
        amd64_fail(mask, "a pointer constant to a place outside constant and global data");
        return;
    }
    amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, 0, AMD64_REX_W, 0x8D, gp(reg), target, 0), mask);
}

void amd64_move_constant_to_memory(Register* destination_register, Register_Id destination, u64 value,
                                   Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                   s32 relocation, u32 size) {
    if (size == 0xFFFFFFFF) size = destination_register->size;
    Amd64_Memory_Operand m = amd64_get_memory(destination, mask);
    if (amd64_failed(mask)) return;
    if (amd64_is_xmm(m)) {
        // A float destination: the constant is its bit pattern at the register's size.
        if (size != 4 && size != 8) {
            amd64_fail(mask, "float size %u", size);
            return;
        }
        u8 t = amd64_take_tmp_gp_register(mask);
        amd64_fail_unless(amd64_load_constant_integer_into_register(t, value & (size == 4 ? 0xFFFFFFFFull : ~0ull), (u8)size,
                                                              code),
                    mask);
        amd64_fail_unless(amd64_load_float_from_memory((u8)size, m.modrm, code, data_relocations, gp(t)), mask);
        amd64_defer_free_tmp_gp_register(mask, t);
        return;
    }
    if (size != 8 || (relocation < 0 && amd64_fits_imm32(value))) {
        amd64_move_constant_to_memory_contained_in_register((u8)size, value, code, data_relocations, mask, m);
        return;
    }
    u8 r = amd64_is_gp(m) ? m.modrm : amd64_take_tmp_gp_register(mask);
    if (relocation < 0) amd64_fail_unless(amd64_load_constant_integer_into_register(r, value, 8, code), mask);
    else amd64_load_address_of_relocation_target(r, relocation, code, data_relocations, mask);
    if (!amd64_is_gp(m)) {
        amd64_fail_unless(amd64_emit_reg_rm(code, data_relocations, 0, AMD64_REX_W, 0x89, gp(r), m, 0), mask);
        amd64_defer_free_tmp_gp_register(mask, r);
    }
}

void amd64_ensure_float_bool(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                             Amd64_Temporary_Mask* mask, Amd64_Memory_Operand m) {
    if (size != 4 && size != 8) {
        amd64_fail(mask, "float size %u", size);
        return;
    }
    if (amd64_is_gp(m)) {
        amd64_fail(mask, "a float in a general-purpose register");
        return;
    }
    // The compare mask goes into whichever of XMM0 and XMM1 the value is not in, the
    // result into the value's own register or the other one.
    u8 z = amd64_is_xmm(m) && m.modrm == 0 ? 1 : 0;
    u8 target = amd64_is_xmm(m) ? m.modrm : (u8)(1 - z);
    mask->xmm |= (u16)((1u << z) | (1u << target));
    Register_Id one = global_compiler_state.float_constants[size == 4 ? FLOAT_CONSTANT_F32_ONE : FLOAT_CONSTANT_F64_ONE];
    Amd64_Memory_Operand one_operand = amd64_get_memory(one, mask);
    if (amd64_failed(mask)) return;
    u8 precision = size == 4 ? 0xF3 : 0xF2;
    b8 ok = amd64_emit_reg_rm(code, data_relocations, 0x66, 0, 0x0F57, xmm(z), xmm(z), 0);  // xorpd z, z
    // cmpneqss / cmpneqsd z, m: all ones when m is not 0.0, NaN included.
    Amd64_Memory_Operand operands[2] = {xmm(z), m};
    u8 cmp[2] = {0x0F, 0xC2};
    ok = ok && amd64_insert_instruction(&precision, 1, 0, cmp, 2, 0, operands, 2, 0, 4, 1, 1, code, data_relocations);
    ok = ok && amd64_load_float_from_memory(size, target, code, data_relocations, one_operand);
    ok = ok && amd64_emit_reg_rm(code, data_relocations, 0, 0, 0x0F54, xmm(target), xmm(z), 0);  // andps
    if (ok && !amd64_is_xmm(m)) {
        ok = amd64_emit_reg_rm(code, data_relocations, 0x66, size == 8 ? AMD64_REX_W : 0, 0x0F7E, xmm(target), m, 0);
    }
    amd64_fail_unless(ok, mask);
}
