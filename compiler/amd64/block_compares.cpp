// Inline compares of two memory blocks, or of a block against constant data, leaving
// the outcome in ZF for the jump or stored result that follows.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }

void amd64_memcmp_constant(const u8* constant, u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                           Amd64_Temporary_Mask* mask, Amd64_Memory_Operand m) {
    u8 a = amd64_take_tmp_gp_register(mask);
    u8 b = amd64_take_tmp_gp_register(mask);
    b8 ok = true;
    if (size == 1 || size == 2 || size == 4) {
        u64 c = 0;
        for (u32 i = 0; i < size; i++) c |= (u64)constant[i] << (8 * i);
        ok = amd64_emit_sized_rm(code, data_relocations, size, 0x80, 0x81, 7 << 3, m, c, (u8)size);  // cmp m, imm
    } else {
        // B accumulates the differences: xor b, b; xor a, a; then per group
        // mov a, [m+o] (zero-extended); xor a, group; or b, a. The last OR sets ZF.
        ok = amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, 0x33, gp(b), gp(b), 0) &&
             amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, 0x33, gp(a), gp(a), 0);
        for (u32 o = 0; ok && o < size;) {
            u32 group = size - o >= 4 ? 4 : size - o >= 2 ? 2 : 1;
            u32 load = group == 4 ? 0x8B : group == 2 ? 0x0FB7 : 0x0FB6;
            u64 c = 0;
            for (u32 i = 0; i < group; i++) c |= (u64)constant[o + i] << (8 * i);
            ok = amd64_emit_reg_rm(code, data_relocations, 0, 0, load, gp(a), m, o) &&
                 amd64_emit_rm(code, 0, 0, 0, 0x81, 6 << 3, gp(a), 0, c, 4) &&
                 amd64_emit_reg_rm(code, 0, 0, 0, 0x0B, gp(b), gp(a), 0);
            o += group;
        }
    }
    amd64_fail_unless(ok, mask);
    amd64_defer_free_tmp_gp_register(mask, b);
    amd64_defer_free_tmp_gp_register(mask, a);
}

void amd64_memcmp(u8 address_1, u8 address_2, u8 size_register, Dynamic_Array* code, Amd64_Temporary_Mask* mask) {
    // R stays 1 while every octet matched; R and I must differ even with few registers
    // free, so they are taken from opposite ends.
    u8 r = amd64_take_tmp_gp_register(mask);
    u8 i = amd64_take_tmp_gp_register_backward(mask);
    u8 t = amd64_take_tmp_gp_register(mask);
    b8 ok = amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, 0x33, gp(i), gp(i), 0) &&  // xor i, i
            amd64_load_constant_integer_into_register(r, 1, 8, code);              // mov r, 1
    u32 loop = code->count;
    ok = ok && amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, 0x3B, gp(i), gp(size_register), 0);  // cmp i, n
    u32 exit_jump = code->count;
    static const u8 jae[6] = {0x0F, 0x83, 0, 0, 0, 0};
    ok = ok && amd64_emit(code, jae, 6);
    Amd64_Memory_Operand at_1 = amd64_make_full_sib_memory_operand(address_1, i, 1, 0);
    Amd64_Memory_Operand at_2 = amd64_make_full_sib_memory_operand(address_2, i, 1, 0);
    ok = ok && amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x8A, gp(t), at_1, 0) &&  // mov t8, [p+i]
         amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x3A, gp(t), at_2, 0) &&       // cmp t8, [q+i]
         amd64_emit_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x0F94, 0, gp(t), 0, 0, 0) &&      // sete t8
         amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, 0x23, gp(r), gp(t), 0) &&              // and r, t
         amd64_emit_rm(code, 0, 0, AMD64_REX_W, 0xFF, 0, gp(i), 0, 0, 0);                  // inc i
    u8 jmp[5] = {0xE9, 0, 0, 0, 0};
    store_u32(jmp + 1, (u32)(loop - (code->count + 5)));
    ok = ok && amd64_emit(code, jmp, 5);
    if (ok) store_u32(code->data + exit_jump + 2, code->count - (exit_jump + 6));
    // test r8, r8; sete r8; test r8, r8: ZF = 1 exactly when r was 1.
    ok = ok && amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x84, gp(r), gp(r), 0) &&
         amd64_emit_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x0F94, 0, gp(r), 0, 0, 0) &&
         amd64_emit_reg_rm(code, 0, 0, AMD64_REX_BYTE_FORM, 0x84, gp(r), gp(r), 0);
    amd64_fail_unless(ok, mask);
    amd64_defer_free_tmp_gp_register(mask, t);
    amd64_defer_free_tmp_gp_register(mask, i);
    amd64_defer_free_tmp_gp_register(mask, r);
}
