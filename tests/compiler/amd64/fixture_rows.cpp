// The rows and records the translation tests and the kernels bench build in place of the
// front end. No test framework here: the bench links this file too.
#include "tests/compiler/amd64/translation_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static Register_Id add_row(Dynamic_Array* table, u8 table_byte, Scope* owner, const Register& row) {
    Register* r = (Register*)dynamic_array_add_fast(table);
    *r = row;
    Register_Id id = INVALID_REGISTER_ID;
    id.owner = owner;
    id.index = table->count - 1;
    id.table = table_byte;
    id.kind = row.kind;
    return id;
}

static Dynamic_Array* table_of(Register_Id id) {
    switch (id.table) {
        case REGISTER_CONSTANT_DATA: case REGISTER_TYPE_DATA: return &global_compiler_state.constant_registers;
        case REGISTER_GLOBAL_DATA: return &global_compiler_state.global_registers;
        case REGISTER_LOCAL: return &id.owner->local_registers;
        case REGISTER_CALL_DATA: return &global_compiler_state.call_data_registers;
    }
    return 0;
}

void fixture_reset(Translation_Fixture* f, u32 stack_size) {
    if (!reset_compiler()) {
        fprintf(stderr, "The compiler could not be reset.\n");
        abort();
    }
    global_compiler_state.target_os = TARGET_OS_LINUX;
    dynamic_array_free(&f->scope.local_registers);
    memset(&f->scope, 0, sizeof(f->scope));
    init_dynamic_array(&f->scope.local_registers, sizeof(Register));
    for (Scope& frame : f->frames) dynamic_array_free(&frame.local_registers);
    f->frames.clear();
    f->sub_programs.clear();
    f->constants.clear();
    f->staged.clear();
    f->globals.clear();
    f->call_data.assign(256, 0);
    f->stack_size = stack_size;

    static const f32 f32_one = 1.0f, f32_minus_one = -1.0f;
    static const f64 f64_one = 1.0, f64_minus_one = -1.0;
    static const u32 f32_sign[4] = {0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u};
    static const u64 f64_sign[2] = {0x8000000000000000ull, 0x8000000000000000ull};
    Register_Id* slots = global_compiler_state.float_constants;
    slots[FLOAT_CONSTANT_F32_ONE] = fixture_constant(f, &f32_one, 4);
    slots[FLOAT_CONSTANT_F32_MINUS_ONE] = fixture_constant(f, &f32_minus_one, 4);
    slots[FLOAT_CONSTANT_F64_ONE] = fixture_constant(f, &f64_one, 8);
    slots[FLOAT_CONSTANT_F64_MINUS_ONE] = fixture_constant(f, &f64_minus_one, 8);
    slots[FLOAT_CONSTANT_F32_SIGN_MASK] = fixture_constant(f, f32_sign, 16);
    slots[FLOAT_CONSTANT_F64_SIGN_MASK] = fixture_constant(f, f64_sign, 16);

    Register block = {};
    block.kind = REGISTER_CALL_DATA;
    block.size = 256;
    block.data_offset = 0x1000;  // a call-data block's own offset never reaches the code
    f->call_data_block = add_row(&global_compiler_state.call_data_registers, REGISTER_CALL_DATA, 0, block);
}

// A row for size octets at the end of an image area.
static Register_Id add_data_row(std::vector<u8>* area, Dynamic_Array* table, u8 kind, u32 size, u32 alignment) {
    u32 offset = (u32)align_up(area->size(), alignment);
    area->resize(offset + size);
    Register row = {};
    row.kind = kind;
    row.size = size;
    row.data_offset = offset;
    return add_row(table, kind, 0, row);
}

Register_Id fixture_constant(Translation_Fixture* f, const void* bytes, u32 size) {
    Register_Id id = add_data_row(&f->constants, &global_compiler_state.constant_registers, REGISTER_CONSTANT_DATA, size, 16);
    if (size) memcpy(&f->constants[fixture_offset(id)], bytes, size);
    // The staged octets, as the front end keeps them for the code generator.
    f->staged.emplace_back((const u8*)bytes, (const u8*)bytes + size);
    amd64_get_register(id)->data = f->staged.back().data();
    return id;
}

Register_Id fixture_global(Translation_Fixture* f, u32 size, u32 alignment) {
    return add_data_row(&f->globals, &global_compiler_state.global_registers, REGISTER_GLOBAL_DATA, size, alignment);
}

Register_Id fixture_local(Scope* owner, u32 offset, u32 size) {
    Register row = {};
    row.kind = REGISTER_LOCAL;
    row.size = size;
    row.data_offset = offset;
    return add_row(&owner->local_registers, REGISTER_LOCAL, owner, row);
}

Register_Id fixture_local_register(Scope* owner, u8 machine_class, u8 number, u32 size) {
    Register row = {};
    row.kind = REGISTER_LOCAL;
    row.size = size;
    row.machine_class = machine_class;
    row.machine_number = number;
    row.in_machine_register = 1;
    return add_row(&owner->local_registers, REGISTER_LOCAL, owner, row);
}

Register_Id fixture_stack_local(Translation_Fixture* f, u32 offset, u32 size) {
    return fixture_local(&f->scope, offset, size);
}

Register_Id fixture_machine_register(Translation_Fixture* f, u8 machine_class, u8 number, u32 size) {
    return fixture_local_register(&f->scope, machine_class, number, size);
}

Scope* fixture_frame(Translation_Fixture* f, u32 flags, u64 stack_size, u16 gp_used, u16 xmm_used) {
    Scope& s = f->frames.emplace_back();
    memset(&s, 0, sizeof(s));
    init_dynamic_array(&s.local_registers, sizeof(Register));
    s.flags = flags;
    s.stack_size = stack_size;
    s.integer_registers_used = gp_used;
    s.float_registers_used = xmm_used;
    return &s;
}

Sub_Program* fixture_sub_program(Translation_Fixture* f, Identifier* return_type) {
    Identifier& callee = f->sub_programs.emplace_back();
    memset(&callee, 0, sizeof(callee));
    callee.element_type = return_type;
    return &callee;
}

Register_Id fixture_view(Register_Id base, u64 offset, u32 size) {
    Register row = {};
    row.kind = REGISTER_VIEW;
    row.size = size;
    row.base = base;
    row.view_offset = offset;
    return add_row(table_of(base), base.table, base.owner, row);
}

u32 fixture_offset(Register_Id id) {
    Dynamic_Array* table = table_of(id);
    return (u32)((Register*)table->data)[id.index].data_offset;
}

Bytecode_Instruction fixture_instruction(u8 kind, u32 line) {
    Bytecode_Instruction i;
    memset(&i, 0, sizeof(i));
    i.kind = kind;
    i.line = line;
    i.operand_a = INVALID_REGISTER_ID;
    i.operand_b = INVALID_REGISTER_ID;
    i.operand_c = INVALID_REGISTER_ID;
    return i;
}

Bytecode_Instruction fixture_copy(Register_Id destination, Register_Id source) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_COPY);
    i.copy.destination = destination;
    i.copy.source = source;
    return i;
}

//~ Instructions of the control-flow tests and kernels

Bytecode_Instruction fixture_frame_instruction(u8 kind, Scope* scope) {
    Bytecode_Instruction i = fixture_instruction(kind);
    i.frame.scope = scope;
    i.frame.flags = scope->flags;
    return i;
}

Bytecode_Instruction fixture_constant_copy(Register_Id destination, u64 value, u8 size) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_COPY_CONSTANT_NUMBER);
    i.copy_constant_number.destination = destination;
    i.copy_constant_number.immediate = value;
    i.copy_constant_number.destination_size = size;
    return i;
}

Bytecode_Instruction fixture_jump(u8 kind, u64 target_index, u8 compared_unsigned, u8 compared_float) {
    Bytecode_Instruction i = fixture_instruction(kind);
    i.jump.target = target_index * sizeof(Bytecode_Instruction);
    i.jump.compared_unsigned = compared_unsigned;
    i.jump.compared_float = compared_float;
    return i;
}

Bytecode_Instruction fixture_call(u8 kind, Sub_Program* callee, Register_Id block, Register_Id result, u8 flags) {
    Bytecode_Instruction i = fixture_instruction(kind);
    i.call.sub_program = callee;
    i.call.call_data = block;
    i.call.return_value = result;
    i.call.callee_address = INVALID_REGISTER_ID;
    i.call_flags = flags;
    return i;
}

Bytecode_Instruction fixture_arithmetic_constant(Register_Id a, u64 operator_bit, u64 value, u16 size) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_INT_ARITHMETIC_CONSTANT);
    i.int_arithmetic_constant.destination = a;
    i.int_arithmetic_constant.immediate = value;
    i.int_arithmetic_constant.size = size;
    i.int_arithmetic_constant.operator_bit = operator_bit;
    i.int_arithmetic_constant.is_signed = 1;
    return i;
}

Bytecode_Instruction fixture_compare_to_constant(Register_Id a, u64 value) {
    Bytecode_Instruction i = fixture_instruction(BYTECODE_COMPARE_TO_CONSTANT);
    i.compare_to_constant.left = a;
    i.compare_to_constant.immediate = value;
    i.compare_to_constant.size = (u16)amd64_get_register_size(a);
    return i;
}

