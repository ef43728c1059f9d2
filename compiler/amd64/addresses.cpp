// The address kinds: "take address", and an array element (base + index × element size)
// either as an address or read. An index held in a register is widened to 8 octets by its
// signedness before it takes part: the upper bits of a narrower register hold anything.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }

static b8 is_temporary(Amd64_Memory_Operand m) { return amd64_is_gp(m) && m.modrm < 8 && (m.modrm & 0xFE) != 4; }

static b8 in_memory(Amd64_Translation* t, Amd64_Memory_Operand m, const char* what) {
    if (!(m.operand_class & AMD64_OPERAND_REGISTER)) return true;
    amd64_fail(t->mask, "the address of %s held in a machine register", what);
    return false;
}

// lea r, m
static void load_address(Amd64_Translation* t, u8 r, Amd64_Memory_Operand m) {
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x8D, gp(r), m, 0), t->mask);
}

//~ Take address

void amd64_take_address(Amd64_Translation* t) {
    Bytecode_Take_Address* k = &t->instruction->take_address;
    t->mask->gp |= 1u << AMD64_RAX;
    Amd64_Memory_Operand a = amd64_get_memory(k->destination, t->mask);
    Amd64_Memory_Operand b = amd64_get_memory(k->source, t->mask);
    // A register has no address: LEA of one is an invalid instruction.
    if (amd64_failed(t->mask) || !in_memory(t, b, "a value")) return;
    if (amd64_is_gp(a)) {
        load_address(t, a.modrm, b);
        return;
    }
    load_address(t, AMD64_RAX, b);
    amd64_copy_data(8, t->code, t->data_relocations, t->mask, a, RAX_INFO);
}

//~ Elements

// The base address in a general-purpose register: its own, or a temporary it is loaded into.
static Amd64_Memory_Operand base_in_register(Amd64_Translation* t, Register_Id base) {
    Amd64_Memory_Operand b = amd64_get_memory(base, t->mask);
    if (amd64_failed(t->mask)) return b;
    if (amd64_is_xmm(b)) {
        amd64_fail(t->mask, "an address held in an XMM register");
        return b;
    }
    return amd64_ensure_integer_is_in_register(8, 8, true, t->code, t->data_relocations, b, t->mask);
}

// The element's address or value to A, or to where A points. M is the element; when its
// address is already in a register (the multiplication form), that register is given.
static void finish(Amd64_Translation* t, Register_Id destination, b8 through_address, b8 read, u32 value_size,
                   Amd64_Memory_Operand m, u8 address_register, Amd64_Memory_Operand b) {
    Amd64_Memory_Operand a = amd64_get_destination(t, destination, through_address);
    if (amd64_failed(t->mask)) return;
    if (read) {
        amd64_copy_data(value_size, t->code, t->data_relocations, t->mask, a, m);
        return;
    }
    if (!through_address && amd64_is_gp(a)) {
        if (address_register != a.modrm) load_address(t, a.modrm, m);
        return;
    }
    u8 r = address_register;
    if (r == 0xFF) {
        r = is_temporary(b) ? b.modrm : amd64_take_tmp_gp_register(t->mask);
        load_address(t, r, m);
    }
    amd64_copy_data(8, t->code, t->data_relocations, t->mask, a, gp(r));
}

void amd64_element_by_register(Amd64_Translation* t) {
    Bytecode_Address* k = &t->instruction->address;
    b8 read = t->instruction->kind == BYTECODE_MEMORY_DEREFERENCE;
    s64 scale = (s16)k->element_size;
    b8 sib = scale == 1 || scale == 2 || scale == 4 || scale == 8;
    // The multiplication form computes in RAX (and IMUL writes RDX): both are taken before
    // any operand may take a temporary, and RAX stays taken, as it holds the address.
    if (!sib) t->mask->gp |= (1u << AMD64_RAX) | (1u << AMD64_RDX);

    Amd64_Memory_Operand b = base_in_register(t, k->base);
    u32 index_size = amd64_get_register_size(k->index);
    Amd64_Memory_Operand c = amd64_get_memory(k->index, t->mask);
    if (amd64_failed(t->mask)) return;
    if (amd64_is_xmm(c)) {
        amd64_fail(t->mask, "an index held in an XMM register");
        return;
    }
    // Widened into a temporary: a register-held index is a live value and stays as it is.
    if (index_size != 8 || !amd64_is_gp(c)) {
        u8 w = amd64_take_tmp_gp_register(t->mask);
        if (!amd64_load_integer_from_memory((u8)index_size, 8, !k->is_signed, w, t->code, t->data_relocations, c)) {
            amd64_fail(t->mask, "index size %u", index_size);
            return;
        }
        c = gp(w);
    }

    if (sib) {
        Amd64_Memory_Operand m = amd64_make_full_sib_memory_operand(b.modrm, c.modrm, (u8)scale, 0);
        // Reading copies the value's own size, whatever the element's.
        finish(t, k->destination, k->through_address, read, k->value_size, m, 0xFF, b);
        return;
    }
    // mov rax, scale; imul c (rdx:rax = rax * c); add rax, b
    u8 scale_move[10] = {0x48, 0xB8};
    store_u64(scale_move + 2, (u64)scale);
    amd64_fail_unless(amd64_emit(t->code, scale_move, 10) &&
                          amd64_emit_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0xF7, 5 << 3, c, 0, 0, 0) &&
                          amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x01, b, RAX_INFO, 0),
                      t->mask);
    // The address is in RAX: the base, the index and RDX are free again for the finish.
    amd64_defer_free_tmp_gp_register(t->mask, AMD64_RDX);
    if (is_temporary(b)) amd64_defer_free_tmp_gp_register(t->mask, b.modrm);
    if (is_temporary(c)) amd64_defer_free_tmp_gp_register(t->mask, c.modrm);
    t->mask->gp |= 1u << AMD64_RAX;
    finish(t, k->destination, k->through_address, read, k->value_size, amd64_make_memory_operand_from(AMD64_RAX, 0),
           AMD64_RAX, RAX_INFO);
}

void amd64_element_by_constant(Amd64_Translation* t) {
    Bytecode_Address_Constant* k = &t->instruction->address_constant;
    b8 read = t->instruction->kind == BYTECODE_MEMORY_DEREFERENCE_CONSTANT;
    Amd64_Memory_Operand b = base_in_register(t, k->base);
    if (amd64_failed(t->mask)) return;
    u64 displacement = k->index * (u64)(s64)(s16)k->element_size;
    if (amd64_fits_imm32(displacement)) {
        finish(t, k->destination, k->through_address, read, k->value_size,
               amd64_make_memory_operand_from(b.modrm, (u32)displacement), 0xFF, b);
        return;
    }
    // Past ±2 GiB the displacement goes through a register: r = b + d.
    u8 r = is_temporary(b) ? b.modrm : amd64_take_tmp_gp_register(t->mask);
    u8 d = amd64_take_tmp_gp_register(t->mask);
    amd64_fail_unless(amd64_load_constant_integer_into_register(d, displacement, 8, t->code), t->mask);
    if (r != b.modrm) load_address(t, r, amd64_make_memory_operand_from(b.modrm, 0));
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x01, gp(d), gp(r), 0), t->mask);
    amd64_defer_free_tmp_gp_register(t->mask, d);
    finish(t, k->destination, k->through_address, read, k->value_size, amd64_make_memory_operand_from(r, 0), r, gp(r));
}
