// The translation of hand-made programs, inside the harness's frame or whole as the
// compile driver translates them, with the lint's findings reported among the errors.
#include "tests/compiler/amd64/translation_fixture.h"

#include <string.h>

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
