#include "tests/compiler/amd64/translation_fixture.h"

#include <gtest/gtest.h>
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
    ASSERT_TRUE(reset_compiler());
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

std::vector<std::string> compile_error_texts() {
    std::vector<std::string> texts;
    for (u32 i = 0; i < compile_errors.count; i++) texts.push_back((char*)((Compile_Error*)compile_errors.data)[i].message);
    return texts;
}

// The areas, a marker per instruction, and the lint's findings as errors.
static void complete_program(Translation_Fixture* f, const std::vector<Bytecode_Instruction>& instructions,
                             Translated_Program* t) {
    for (u32 i = 0; i < instructions.size(); i++) {
        const Bytecode_Instruction& b = instructions[i];
        t->program.markers.push_back({(u32)b.code_start, (u32)b.code_end,
                                      "instruction #" + std::to_string(i) + " (kind " + std::to_string(b.kind) + ")"});
    }
    t->program.constants = f->constants;
    t->program.globals = f->globals;
    t->program.call_data = f->call_data;
    if (!t->ok) return;
    std::string findings = lint_generated_code(t->program, instructions);
    if (findings.empty()) return;
    t->ok = false;
    t->errors.push_back("lint: " + findings);
}

Translated_Program fixture_translate_program(Translation_Fixture* f, std::vector<Bytecode_Instruction>* instructions) {
    Translated_Program t;
    Dynamic_Array bytecode = {};
    bytecode.data = (u8*)instructions->data();
    bytecode.element_size = sizeof(Bytecode_Instruction);
    bytecode.count = bytecode.capacity = (u32)instructions->size();
    Amd64_Output output = {};
    t.ok = amd64_translate_bytecode(&bytecode, &output);
    t.errors = compile_error_texts();
    t.program.code.assign(output.code.data, output.code.data + output.code.count);
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)output.data_relocations.data;
    t.program.data_relocations.assign(r, r + output.data_relocations.count);
    u64* slots = (u64*)output.foreign_call_slots.data;
    t.program.foreign_call_slots.assign(slots, slots + output.foreign_call_slots.count);
    amd64_free_output(&output);
    complete_program(f, *instructions, &t);
    return t;
}

Translated_Program fixture_translate(Translation_Fixture* f, std::vector<Bytecode_Instruction>* instructions) {
    Translated_Program t;
    Harness_Code c = harness_begin(f->stack_size);
    Dynamic_Array jumps, calls, slots, prologues;
    init_dynamic_array(&jumps, sizeof(Amd64_Code_Relocation));
    init_dynamic_array(&calls, sizeof(Amd64_Code_Relocation));
    init_dynamic_array(&slots, sizeof(u64));
    init_dynamic_array(&prologues, sizeof(Amd64_Prologue));
    t.ok = true;
    for (u32 i = 0; i < instructions->size(); i++) {
        Bytecode_Instruction* instruction = &(*instructions)[i];
        t.ok &= bytecode_instruction_to_amd64(instruction, &c.code, &jumps, &calls, &c.data_relocations, &slots,
                                              &c.mask, &prologues);
        instruction->code_end = c.code.count;
    }
    Dynamic_Array bytecode = {};
    bytecode.data = (u8*)instructions->data();
    bytecode.element_size = sizeof(Bytecode_Instruction);
    bytecode.count = bytecode.capacity = (u32)instructions->size();
    t.ok &= amd64_write_code_relocations(&c.code, &jumps, &calls, &bytecode);
    t.errors = compile_error_texts();

    t.program = harness_end(&c);
    u64* slot = (u64*)slots.data;
    t.program.foreign_call_slots.assign(slot, slot + slots.count);
    complete_program(f, *instructions, &t);
    dynamic_array_free(&jumps);
    dynamic_array_free(&calls);
    dynamic_array_free(&slots);
    amd64_free_prologues(&prologues);
    return t;
}
