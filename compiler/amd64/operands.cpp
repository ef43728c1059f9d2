// Bytecode operands as machine operands: a virtual register found in its table and
// followed through its views to a stack slot, a machine register, a RIP-relative place
// in constant, type or global data, or the call-data block that RBP points at.
#include "compiler/amd64/amd64.h"

// Views nest as deep as structs and arrays do; a longer chain is a cycle or garbage.
#define MAX_VIEW_CHAIN 64

Register* amd64_get_register(Register_Id id) {
    Dynamic_Array* table = 0;
    switch (id.table) {
        case REGISTER_CONSTANT_DATA:
        case REGISTER_TYPE_DATA: table = &global_compiler_state.constant_registers; break;
        case REGISTER_GLOBAL_DATA: table = &global_compiler_state.global_registers; break;
        case REGISTER_LOCAL: table = id.owner ? &id.owner->local_registers : 0; break;
        case REGISTER_CALL_DATA: table = &global_compiler_state.call_data_registers; break;
    }
    if (!table || id.index >= table->count) return 0;
    return (Register*)(table->data + (u64)id.index * table->element_size);
}

u32 amd64_get_register_size(Register_Id id) {
    Register* r = amd64_get_register(id);
    return r ? r->size : 0;
}

Amd64_Memory_Operand amd64_get_memory(Register_Id id, Amd64_Temporary_Mask* mask) {
    Amd64_Memory_Operand m = {};
    m.operand_class = AMD64_OPERAND_MEMORY;
    Register* r = amd64_get_register(id);
    u64 offset = 0;
    // The returned value's mark may sit on the return slot, a view of the call-data block;
    // what views of that slot add would address a part of a register.
    u8 return_register = r ? r->return_register : 0;
    u64 offset_in_returned_value = 0;
    for (u32 depth = 0; r && r->kind == REGISTER_VIEW; depth++) {
        if (depth == MAX_VIEW_CHAIN) {
            amd64_fail(mask, "a view chain deeper than %u", MAX_VIEW_CHAIN);
            return m;
        }
        offset += r->view_offset;
        r = amd64_get_register(r->base);
        if (r && r->return_register && !return_register) {
            return_register = r->return_register;
            offset_in_returned_value = offset;
        }
    }
    if (!r) {
        amd64_fail(mask, "an operand without a register");
        return m;
    }

    switch (r->kind) {
        case REGISTER_CONSTANT_DATA:
        case REGISTER_TYPE_DATA:
        case REGISTER_GLOBAL_DATA: {
            u64 at = offset + r->data_offset;
            if (at > 0x7FFFFFFF) break;
            static const u8 area_classes[4] = {0, AMD64_OPERAND_CONSTANT_DATA, AMD64_OPERAND_TYPE_DATA,
                                               AMD64_OPERAND_GLOBAL_DATA};
            return amd64_make_rip_relative_operand(area_classes[r->kind], (u32)at);
        }
        case REGISTER_LOCAL: {
            if (r->in_machine_register) {
                // A machine register holds one scalar: no part of it can be addressed.
                if (offset) {
                    amd64_fail(mask, "a register-held local reached with a view offset");
                    return m;
                }
                return r->machine_class == MACHINE_CLASS_FLOAT ? amd64_xmm_register(r->machine_number)
                                                               : amd64_gp_register(r->machine_number);
            }
            u64 at = offset + r->data_offset;
            if (at > 0x7FFFFFFF) break;
            return amd64_make_sib_memory_operand(AMD64_RSP, (u32)at);
        }
        case REGISTER_CALL_DATA: {
            if (return_register) {
                // A scalar result on its way back: only the plain moves may read or write it,
                // and a register has no parts.
                if (!mask->return_register_allowed) {
                    amd64_fail(mask, "a returned value outside a copy");
                    return m;
                }
                if (offset_in_returned_value) {
                    amd64_fail(mask, "a returned value reached with a view offset");
                    return m;
                }
                // Marked, so no temporary of the instruction takes it.
                if (return_register == RETURN_REGISTER_XMM0) {
                    mask->xmm |= 1;
                    return XMM0_INFO;
                }
                mask->gp |= 1u << AMD64_RAX;
                return RAX_INFO;
            }
            if (offset > 0x7FFFFFFF) break;
            // RBP holds the block's address, so the record's own data offset plays no part.
            m.modrm = 0x85;
            m.byte_count = 1;
            m.base = AMD64_RBP;
            m.displacement = (u32)offset;
            return m;
        }
    }
    amd64_fail(mask, "an operand %s", r->kind > REGISTER_VIEW ? "of no storage" : "offset beyond 2 GiB");
    return m;
}

Amd64_Memory_Operand amd64_get_address_operand(Amd64_Memory_Operand pointer, Dynamic_Array* code,
                                               Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask) {
    if (pointer.operand_class & AMD64_OPERAND_XMM_REGISTER) {
        amd64_fail(mask, "an address held in an XMM register");
        return pointer;
    }
    u8 base;
    if (pointer.operand_class & AMD64_OPERAND_GP_REGISTER) {
        base = pointer.modrm;
    } else {
        base = amd64_take_tmp_gp_register(mask);
        if (!amd64_emit_reg_rm(code, data_relocations, 0, AMD64_REX_W, 0x8B, amd64_gp_register(base), pointer, 0)) {
            amd64_fail(mask, "out of memory");
        }
    }
    return amd64_make_memory_operand_from(base, 0);
}
