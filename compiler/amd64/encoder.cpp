// The two instruction encoders and the builders of their operand records. Every
// instruction with a ModRM operand goes through here, so the REX and VEX extension bits,
// the SIB rules of RSP and R12 and the displacement of RBP and R13 live in one place.
#include <string.h>

#include "compiler/amd64/amd64.h"

//~ Operand builders

Amd64_Memory_Operand amd64_make_memory_operand_from(u8 base, u32 displacement) {
    if ((base & 7) == 4) return amd64_make_sib_memory_operand(base, displacement);
    return amd64_make_non_sib_memory_operand(base, displacement);
}

Amd64_Memory_Operand amd64_make_non_sib_memory_operand(u8 base, u32 displacement) {
    Amd64_Memory_Operand m = {};
    m.modrm = (u8)((displacement ? 0x80 : 0) | (base & 7));
    m.byte_count = 1;
    m.base = base;
    m.displacement = displacement;
    m.operand_class = AMD64_OPERAND_MEMORY;
    return m;
}

Amd64_Memory_Operand amd64_make_sib_memory_operand(u8 base, u32 displacement) {
    Amd64_Memory_Operand m = {};
    m.modrm = displacement ? 0x84 : 0x04;
    m.sib = 0x24;
    m.byte_count = 2;
    m.base = base;
    m.displacement = displacement;
    m.operand_class = AMD64_OPERAND_MEMORY;
    return m;
}

Amd64_Memory_Operand amd64_make_full_sib_memory_operand(u8 base, u8 index, u8 scale, u32 displacement) {
    u8 scale_bits = 0;
    if (scale == 2) scale_bits = 0x40;
    else if (scale == 4) scale_bits = 0x80;
    else if (scale == 8) scale_bits = 0xC0;
    Amd64_Memory_Operand m = {};
    m.modrm = displacement ? 0x84 : 0x04;
    m.sib = (u8)(scale_bits | ((index & 7) << 3) | (base & 7));
    m.byte_count = 2;
    m.base = base;
    m.index = index;
    m.displacement = displacement;
    m.sib_flag = 1;
    m.operand_class = AMD64_OPERAND_MEMORY;
    return m;
}

Amd64_Memory_Operand amd64_make_rip_relative_operand(u8 area_class, u32 offset) {
    Amd64_Memory_Operand m = {};
    m.modrm = 0x05;
    m.byte_count = 1;
    m.displacement = offset;
    m.operand_class = area_class;
    return m;
}

Amd64_Memory_Operand amd64_recalculate_memory_operand(Amd64_Memory_Operand operand) {
    // RIP-relative operands have no 32-bit-displacement form of their own (mod 10 with rm
    // 101 would mean [rbp]), and an RSP or R12 base cannot lose its SIB byte.
    if (operand.sib_flag || (operand.operand_class & (AMD64_OPERAND_RIP_RELATIVE | AMD64_OPERAND_REGISTER))) {
        return operand;
    }
    if ((operand.base & 7) == 4) {
        operand.modrm = 0x84;
        operand.sib = 0x24;
        operand.byte_count = 2;
        return operand;
    }
    operand.modrm = (u8)(0x80 | (operand.base & 7));
    operand.byte_count = 1;
    return operand;
}

b8 amd64_check_wether_we_need_an_offset(Amd64_Memory_Operand operand, u32 displacement) {
    return displacement != 0 || (operand.operand_class & AMD64_OPERAND_RIP_RELATIVE) || (operand.base & 7) == 5;
}

u8 amd64_prepare_sib(Amd64_Memory_Operand operand, u32 extra_displacement, u8 reg_field, u8* out) {
    out[0] = operand.modrm;
    out[1] = operand.sib;
    u8 rex_bits = 0;
    if (operand.sib_flag && operand.index > 7) rex_bits |= 0x02;
    if (operand.base > 7) rex_bits |= 0x01;
    b8 rip_relative = (operand.operand_class & AMD64_OPERAND_RIP_RELATIVE) != 0;
    u32 sum = operand.displacement + extra_displacement;
    // There is no 8-bit displacement form: whatever is carried is 32 bits (mod 10).
    if (!rip_relative && (sum != 0 || (operand.base & 7) == 5)) out[0] |= 0x80;
    out[0] |= reg_field;
    return rex_bits;
}

//~ Encoders

// The ModRM/SIB bytes, REX bits and displacement of an instruction's operands.
struct Encoded_Operands {
    u8 modrm_sib[2];
    u8 modrm_count;
    u8 extension_bits;    // REX bits R, X, B (4, 2, 1)
    b8 byte_register;     // a register operand numbered 4 to 7
    b8 has_displacement;
    u32 displacement;
    const Amd64_Memory_Operand* memory;
};

static b8 is_byte_register_4_to_7(const Amd64_Memory_Operand* r) {
    return (r->operand_class & AMD64_OPERAND_GP_REGISTER) && r->modrm >= 4 && r->modrm <= 7;
}

static Encoded_Operands encode_operands(u8 reg_field, const Amd64_Memory_Operand* operands, u8 operand_count,
                                        u32 extra_displacement, u8 order) {
    Encoded_Operands e = {};
    const Amd64_Memory_Operand* registers[2] = {};
    u8 register_count = 0;
    for (u8 i = 0; i < operand_count; i++) {
        if (operands[i].operand_class & AMD64_OPERAND_REGISTER) {
            if (register_count < 2) registers[register_count++] = &operands[i];
            else registers[1] = &operands[i];
        } else {
            e.memory = &operands[i];
        }
    }
    for (u8 i = 0; i < register_count; i++) e.byte_register |= is_byte_register_4_to_7(registers[i]);

    if (e.memory) {
        if (register_count) {
            const Amd64_Memory_Operand* r = registers[register_count - 1];
            reg_field |= (u8)((r->modrm & 7) << 3);
            if (r->modrm > 7) e.extension_bits |= 0x04;
            e.byte_register = is_byte_register_4_to_7(r);
        }
        e.extension_bits |= amd64_prepare_sib(*e.memory, extra_displacement, reg_field, e.modrm_sib);
        e.modrm_count = e.memory->byte_count;
        e.displacement = e.memory->displacement + extra_displacement;
        e.has_displacement = amd64_check_wether_we_need_an_offset(*e.memory, e.displacement);
        return e;
    }

    u8 modrm = (u8)(0xC0 | reg_field);
    const Amd64_Memory_Operand* rm = 0;
    const Amd64_Memory_Operand* reg = 0;
    if (order == 2) {
        rm = registers[0];
        reg = registers[1];
    } else {
        reg = registers[0];
        rm = registers[1];
    }
    if (rm) {
        modrm |= rm->modrm & 7;
        if (rm->modrm > 7) e.extension_bits |= 0x01;
    }
    if (reg) {
        modrm |= (u8)((reg->modrm & 7) << 3);
        if (reg->modrm > 7) e.extension_bits |= 0x04;
    }
    e.modrm_sib[0] = modrm;
    e.modrm_count = 1;
    return e;
}

static b8 add_data_relocation(Dynamic_Array* data_relocations, const Amd64_Memory_Operand* memory, u32 start,
                              u32 displacement_position, u32 length) {
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)dynamic_array_add_fast(data_relocations);
    if (!r) return false;
    r->instruction_start = start;
    r->displacement_offset = start + displacement_position;
    r->instruction_length = (u8)length;
    r->area_class = memory->operand_class & AMD64_OPERAND_RIP_RELATIVE;
    return true;
}

b8 amd64_insert_instruction(const u8* prefixes, u8 prefix_count, u8 rex, const u8* opcodes, u8 opcode_count,
                            u8 reg_field, const Amd64_Memory_Operand* operands, u8 operand_count,
                            u32 extra_displacement, u64 immediate, u8 immediate_size, u8 order,
                            Dynamic_Array* code, Dynamic_Array* data_relocations) {
    Encoded_Operands e = encode_operands(reg_field, operands, operand_count, extra_displacement, order);
    if (e.extension_bits) rex |= (u8)(AMD64_REX | e.extension_bits);
    b8 emit_rex = rex != 0 && !(rex == AMD64_REX_BYTE_FORM && !e.byte_register);

    u32 start = code->count;
    u32 length = prefix_count + (emit_rex ? 1 : 0) + opcode_count + e.modrm_count + (e.has_displacement ? 4 : 0) +
                 immediate_size;
    u8* at = (u8*)dynamic_array_add_fast_multiple(code, length);
    if (!at) return false;
    if (prefix_count) memcpy(at, prefixes, prefix_count);
    at += prefix_count;
    if (emit_rex) *at++ = rex;
    memcpy(at, opcodes, opcode_count);
    at += opcode_count;
    memcpy(at, e.modrm_sib, e.modrm_count);
    at += e.modrm_count;
    u32 displacement_position = (u32)(at - (code->data + start));
    if (e.has_displacement) {
        store_u32(at, e.displacement);
        at += 4;
    }
    for (u8 i = 0; i < immediate_size; i++) at[i] = i < 8 ? (u8)(immediate >> (8 * i)) : 0;

    if (e.memory && (e.memory->operand_class & AMD64_OPERAND_RIP_RELATIVE)) {
        return add_data_relocation(data_relocations, e.memory, start, displacement_position, length);
    }
    return true;
}

b8 amd64_insert_extended_instruction(const u8* prefixes, u8 prefix_count, u8 vex_1, u8 vex_2, const u8* opcodes,
                                     u8 opcode_count, u8 reg_field, const Amd64_Memory_Operand* operands,
                                     u8 operand_count, u32 extra_displacement, u8 order, Dynamic_Array* code,
                                     Dynamic_Array* data_relocations) {
    Encoded_Operands e = encode_operands(reg_field, operands, operand_count, extra_displacement, order);
    // The VEX prefix stores R, X and B inverted.
    if (e.extension_bits & 0x04) vex_1 &= 0x7F;
    if (e.extension_bits & 0x02) vex_1 &= 0xBF;
    if (e.extension_bits & 0x01) vex_1 &= 0xDF;

    u32 start = code->count;
    u32 length = prefix_count + 2 + opcode_count + e.modrm_count + (e.has_displacement ? 4 : 0);
    u8* at = (u8*)dynamic_array_add_fast_multiple(code, length);
    if (!at) return false;
    if (prefix_count) memcpy(at, prefixes, prefix_count);
    at += prefix_count;
    *at++ = vex_1;
    *at++ = vex_2;
    memcpy(at, opcodes, opcode_count);
    at += opcode_count;
    memcpy(at, e.modrm_sib, e.modrm_count);
    at += e.modrm_count;
    u32 displacement_position = (u32)(at - (code->data + start));
    if (e.has_displacement) store_u32(at, e.displacement);

    if (e.memory && (e.memory->operand_class & AMD64_OPERAND_RIP_RELATIVE)) {
        return add_data_relocation(data_relocations, e.memory, start, displacement_position, length);
    }
    return true;
}

//~ Shorthands

static u8 opcode_bytes(u32 opcode, u8* out) {
    if (opcode > 0xFFFF) {
        out[0] = (u8)(opcode >> 16), out[1] = (u8)(opcode >> 8), out[2] = (u8)opcode;
        return 3;
    }
    if (opcode > 0xFF) {
        out[0] = (u8)(opcode >> 8), out[1] = (u8)opcode;
        return 2;
    }
    out[0] = (u8)opcode;
    return 1;
}

b8 amd64_emit(Dynamic_Array* code, const u8* bytes, u32 count) {
    u8* at = (u8*)dynamic_array_add_fast_multiple(code, count);
    if (!at) return count == 0;
    memcpy(at, bytes, count);
    return true;
}

b8 amd64_emit_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode, u8 reg_field,
                 Amd64_Memory_Operand rm, u32 extra_displacement, u64 immediate, u8 immediate_size) {
    u8 opcodes[3];
    u8 opcode_count = opcode_bytes(opcode, opcodes);
    return amd64_insert_instruction(&prefix, prefix ? 1 : 0, rex, opcodes, opcode_count, reg_field, &rm, 1,
                                    extra_displacement, immediate, immediate_size, 2, code, data_relocations);
}

b8 amd64_emit_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode,
                     Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u32 extra_displacement) {
    u8 opcodes[3];
    u8 opcode_count = opcode_bytes(opcode, opcodes);
    Amd64_Memory_Operand operands[2] = {reg, rm};
    return amd64_insert_instruction(&prefix, prefix ? 1 : 0, rex, opcodes, opcode_count, 0, operands, 2,
                                    extra_displacement, 0, 0, 1, code, data_relocations);
}

b8 amd64_emit_vex_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 vex_1, u8 vex_2, u32 opcode,
                         Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u32 extra_displacement) {
    static const u8 vex_escape = 0xC4;
    u8 opcodes[3];
    u8 opcode_count = opcode_bytes(opcode, opcodes);
    Amd64_Memory_Operand operands[2] = {reg, rm};
    return amd64_insert_extended_instruction(&vex_escape, 1, vex_1, vex_2, opcodes, opcode_count, 0, operands, 2,
                                             extra_displacement, 1, code, data_relocations);
}

b8 amd64_emit_reg_rm_imm8(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode,
                          Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u8 immediate) {
    u8 opcodes[3];
    u8 opcode_count = opcode_bytes(opcode, opcodes);
    Amd64_Memory_Operand operands[2] = {reg, rm};
    return amd64_insert_instruction(&prefix, prefix ? 1 : 0, rex, opcodes, opcode_count, 0, operands, 2, 0, immediate,
                                    1, 1, code, data_relocations);
}

//~ Integer forms by size

b8 amd64_integer_form(u32 size, Amd64_Integer_Form* form) {
    switch (size) {
        case 1: *form = {0, AMD64_REX_BYTE_FORM, true}; return true;
        case 2: *form = {0x66, 0, false}; return true;
        case 4: *form = {0, 0, false}; return true;
        case 8: *form = {0, AMD64_REX_W, false}; return true;
    }
    return false;
}

b8 amd64_emit_sized_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u32 size, u32 opcode_byte, u32 opcode,
                       u8 reg_field, Amd64_Memory_Operand rm, u64 immediate, u8 immediate_size) {
    Amd64_Integer_Form f;
    if (!amd64_integer_form(size, &f)) return false;
    return amd64_emit_rm(code, data_relocations, f.prefix, f.rex, f.byte ? opcode_byte : opcode, reg_field, rm, 0,
                         immediate, immediate_size);
}

b8 amd64_emit_sized_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u32 size, u32 opcode_byte,
                           u32 opcode, Amd64_Memory_Operand reg, Amd64_Memory_Operand rm) {
    Amd64_Integer_Form f;
    if (!amd64_integer_form(size, &f)) return false;
    return amd64_emit_reg_rm(code, data_relocations, f.prefix, f.rex, f.byte ? opcode_byte : opcode, reg, rm, 0);
}
