// What the translation tests build by hand in place of the front end: register rows in
// the compiler's tables (constant, global, call data, a scope's locals, views), the
// image areas they live in, bytecode instructions, and the run of a translated program
// in the harness with a marker per instruction.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "tests/compiler/amd64/harness.h"

struct Translation_Fixture {
    Scope scope = {};  // the owner of every local
    std::vector<u8> constants, globals, call_data;
    u32 stack_size = 0;
    Register_Id call_data_block = {};
    std::deque<std::vector<u8>> staged;  // the octets constant rows point at
    ~Translation_Fixture() { dynamic_array_free(&scope.local_registers); }
};

void fixture_reset(Translation_Fixture* f, u32 stack_size);
// Resets the compiler, makes the float constants 1.0, -1.0 and the sign masks in constant
// data, and one call-data block of 256 octets.

Register_Id fixture_constant(Translation_Fixture* f, const void* bytes, u32 size);
Register_Id fixture_global(Translation_Fixture* f, u32 size, u32 alignment = 16);
Register_Id fixture_stack_local(Translation_Fixture* f, u32 offset, u32 size);
Register_Id fixture_machine_register(Translation_Fixture* f, u8 machine_class, u8 number, u32 size);
Register_Id fixture_view(Register_Id base, u64 offset, u32 size);
// A view of size octets at offset inside base, in base's table.

u32 fixture_offset(Register_Id id);
// The data offset of a non-view row: its area offset or stack offset.

Bytecode_Instruction fixture_instruction(u8 kind, u32 line = 1);
Bytecode_Instruction fixture_copy(Register_Id destination, Register_Id source);  // kind 6

struct Translated_Program {
    bool ok;
    std::vector<std::string> errors;  // compile error messages
    Harness_Program program;
};

Translated_Program fixture_translate(Translation_Fixture* f, std::vector<Bytecode_Instruction>* instructions);
// Translates the instructions in order inside the harness's frame, records their code
// ends, writes the jump and call displacements and lays the fixture's areas into the
// program.

std::vector<std::string> compile_error_texts();
