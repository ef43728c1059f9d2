// The machine code of kinds 1 to 8: "set to zero", the constant and register copies
// into a place or through the address a register holds, and a sub-program's address.
#include "compiler/amd64/amd64.h"

static b8 is_register(Amd64_Memory_Operand m) { return (m.operand_class & AMD64_OPERAND_REGISTER) != 0; }

Amd64_Memory_Operand amd64_get_destination(Amd64_Translation* t, Register_Id a, b8 through_address) {
    Amd64_Memory_Operand m = amd64_get_memory(a, t->mask);
    if (!through_address || amd64_failed(t->mask)) return m;
    return amd64_get_address_operand(m, t->code, t->data_relocations, t->mask);
}

//~ Set to zero

// A store of an immediate 0 by size: C6 /0, 66 C7 /0, C7 /0, 48 C7 /0 (imm32 sign-extended).
static void store_zero(Amd64_Translation* t, u32 size, Amd64_Memory_Operand m) {
    amd64_move_constant_to_memory_contained_in_register((u8)size, 0, t->code, t->data_relocations, t->mask, m);
}

void amd64_set_to_zero(Amd64_Translation* t) {
    Bytecode_Set_To_Zero* k = &t->instruction->set_to_zero;
    u32 n = k->size;
    Dynamic_Array* code = t->code;
    if (n == 1 || n == 2 || n == 4 || n == 8) {
        Amd64_Memory_Operand a = amd64_get_destination(t, k->destination, k->through_address);
        if (amd64_failed(t->mask)) return;
        if (a.operand_class & AMD64_OPERAND_XMM_REGISTER) {
            amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0x66, 0, 0x0F57, a, a, 0), t->mask);  // xorpd
        } else if (a.operand_class & AMD64_OPERAND_GP_REGISTER) {
            static const u8 prefixes[9] = {0, 0, 0x66, 0, 0, 0, 0, 0, 0};
            static const u8 rexes[9] = {0, AMD64_REX_BYTE_FORM, 0, 0, 0, 0, 0, 0, AMD64_REX_W};
            amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, prefixes[n], rexes[n], n == 1 ? 0x32 : 0x33, a, a, 0),
                        t->mask);
        } else {
            store_zero(t, n, a);
        }
        return;
    }

    // Any other size: 32-octet stores of a cleared YMM0, one 16-octet store, then the rest
    // from a cleared RAX.
    t->mask->gp |= 1u << AMD64_RAX;
    t->mask->xmm |= 1u << 0;
    Amd64_Memory_Operand a = amd64_get_destination(t, k->destination, k->through_address);
    if (amd64_failed(t->mask)) return;
    if (is_register(a)) {
        amd64_fail(t->mask, "operand size %u", n);
        return;
    }
    static const u8 vxorps_ymm0[5] = {0xC4, 0xE1, 0x7C, 0x57, 0xC0};
    amd64_fail_unless(amd64_emit(code, vxorps_ymm0, 5), t->mask);
    u32 o = 0;
    for (; n - o >= 32; o += 32) {
        amd64_fail_unless(amd64_emit_vex_reg_rm(code, t->data_relocations, 0xE1, 0x7E, 0x7F, XMM0_INFO, a, o), t->mask);
    }
    if (n - o >= 16) {
        amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0xF3, 0, 0x0F7F, XMM0_INFO, a, o), t->mask);
        o += 16;
    }
    if (n == o) return;
    static const u8 xor_rax[3] = {0x48, 0x33, 0xC0};
    amd64_fail_unless(amd64_emit(code, xor_rax, 3), t->mask);
    for (; n - o >= 8; o += 8) {
        amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0, AMD64_REX_W, 0x89, RAX_INFO, a, o), t->mask);
    }
    if (n - o >= 4) {
        amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0, 0, 0x89, RAX_INFO, a, o), t->mask);
        o += 4;
    }
    if (n - o >= 2) {
        amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0x66, 0, 0x89, RAX_INFO, a, o), t->mask);
        o += 2;
    }
    if (n - o == 1) amd64_fail_unless(amd64_emit_reg_rm(code, t->data_relocations, 0, 0, 0x88, RAX_INFO, a, o), t->mask);
}

//~ Constant copies

void amd64_copy_constant_number(Amd64_Translation* t) {
    Bytecode_Copy_Constant_Number* k = &t->instruction->copy_constant_number;
    s32 relocation = k->has_companion ? (s32)k->companion : -1;
    if (t->instruction->kind == BYTECODE_COPY_CONSTANT_NUMBER) {
        Register* r = amd64_get_register(k->destination);
        if (!r) {
            amd64_fail(t->mask, "an operand without a register");
            return;
        }
        amd64_move_constant_to_memory(r, k->destination, k->immediate, t->code, t->data_relocations, t->mask,
                                      relocation, 0xFFFFFFFF);
        return;
    }
    Amd64_Memory_Operand m = amd64_get_destination(t, k->destination, true);
    if (amd64_failed(t->mask)) return;
    if (relocation < 0) {
        amd64_move_constant_to_memory_contained_in_register(k->destination_size, k->immediate, t->code,
                                                            t->data_relocations, t->mask, m);
        return;
    }
    // A pointer constant through an address: its target's address, not its area offset.
    u8 r = amd64_take_tmp_gp_register(t->mask);
    amd64_load_address_of_relocation_target(r, relocation, t->code, t->data_relocations, t->mask);
    amd64_copy_data(8, t->code, t->data_relocations, t->mask, m, amd64_gp_register(r));
}

//~ Register copies

void amd64_copy(Amd64_Translation* t) {
    Bytecode_Copy* k = &t->instruction->copy;
    u8 kind = t->instruction->kind;
    b8 through_address = kind == BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT || kind == BYTECODE_COPY_INDIRECT;
    u32 size = amd64_get_register_size(k->source);
    Amd64_Memory_Operand source = amd64_get_memory(k->source, t->mask);
    Amd64_Memory_Operand destination = amd64_get_destination(t, k->destination, through_address);
    if (amd64_failed(t->mask)) return;
    amd64_copy_data(size, t->code, t->data_relocations, t->mask, destination, source);
}

//~ Sub-program addresses

void amd64_copy_sub_program_address(Amd64_Translation* t) {
    Bytecode_Copy_Sub_Program_Address* k = &t->instruction->copy_sub_program_address;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    if (amd64_failed(t->mask)) return;
    b8 into_a = !k->through_address && (a.operand_class & AMD64_OPERAND_GP_REGISTER);
    u8 r = into_a ? a.modrm : amd64_take_tmp_gp_register(t->mask);

    // lea r, [rip+rel32]: the rel32 is the distance to the callee, written after the pass.
    amd64_fail_unless(add_a_call_relocation(t->calls, k->sub_program, t->code, 3), t->mask);
    u8 lea[7] = {(u8)(r > 7 ? 0x4C : 0x48), 0x8D, (u8)(((r & 7) << 3) | 5), 0, 0, 0, 0};
    amd64_fail_unless(amd64_emit(t->code, lea, 7), t->mask);
    if (into_a) return;

    Amd64_Memory_Operand destination = a;
    if (k->through_address) destination = amd64_get_address_operand(a, t->code, t->data_relocations, t->mask);
    amd64_copy_data(8, t->code, t->data_relocations, t->mask, destination, amd64_gp_register(r));
}
