// What the translation tests build by hand in place of the front end: register rows in
// the compiler's tables (constant, global, call data, a scope's locals, views), the
// image areas they live in, bytecode instructions, and the run of a translated program
// in the harness with a marker per instruction.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "tests/compiler/amd64/gnu_tools.h"
#include "tests/compiler/amd64/harness.h"

struct Translation_Fixture {
    Scope scope = {};  // the owner of the locals of programs inside the harness's frame
    std::deque<Scope> frames;  // the scopes of entry blocks and sub-programs of whole programs
    std::deque<Identifier> sub_programs;
    std::vector<u8> constants, globals, call_data;
    u32 stack_size = 0;
    Register_Id call_data_block = {};
    std::deque<std::vector<u8>> staged;  // the octets constant rows point at
    ~Translation_Fixture() {
        dynamic_array_free(&scope.local_registers);
        for (Scope& s : frames) dynamic_array_free(&s.local_registers);
    }
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

Scope* fixture_frame(Translation_Fixture* f, u32 flags, u64 stack_size, u16 gp_used = 0, u16 xmm_used = 0);
// The scope of a frame: SCOPE_ENTRY_BLOCK in flags for an entry block; the masks name the
// machine registers its code uses.

Register_Id fixture_local(Scope* owner, u32 offset, u32 size);
Register_Id fixture_local_register(Scope* owner, u8 machine_class, u8 number, u32 size);
// A local of the scope: a stack slot at the offset, or held in a machine register.

Sub_Program* fixture_sub_program(Translation_Fixture* f, Identifier* return_type = 0);
// A callee record; its bytecode start is the caller's to set.

u32 fixture_offset(Register_Id id);
// The data offset of a non-view row: its area offset or stack offset.

Bytecode_Instruction fixture_instruction(u8 kind, u32 line = 1);
Bytecode_Instruction fixture_copy(Register_Id destination, Register_Id source);  // kind 6
Bytecode_Instruction fixture_frame_instruction(u8 kind, Scope* scope);                 // 52, 53
Bytecode_Instruction fixture_constant_copy(Register_Id destination, u64 value, u8 size);  // 2
Bytecode_Instruction fixture_jump(u8 kind, u64 target_index, u8 compared_unsigned = 0, u8 compared_float = 0);
Bytecode_Instruction fixture_call(u8 kind, Sub_Program* callee, Register_Id block, Register_Id result, u8 flags);
Bytecode_Instruction fixture_arithmetic_constant(Register_Id a, u64 operator_bit, u64 value, u16 size);  // 19, signed
Bytecode_Instruction fixture_compare_to_constant(Register_Id a, u64 value);  // 29 at A's size

struct Translated_Program {
    bool ok;
    std::vector<std::string> errors;  // compile error messages
    Harness_Program program;
};

Translated_Program fixture_translate(Translation_Fixture* f, std::vector<Bytecode_Instruction>* instructions);
// Translates the instructions in order inside the harness's frame, records their code
// ends, writes the jump and call displacements and lays the fixture's areas into the
// program.

Translated_Program fixture_translate_program(Translation_Fixture* f, std::vector<Bytecode_Instruction>* instructions);
// Translates as the compile driver does, with no frame of the harness's: the code is
// entered at the first instruction, which opens an entry block's frame. Foreign calls
// reach harness_dispatcher. The code is linted as fixture_translate's is.

std::vector<std::string> compile_error_texts();

std::string lint_generated_code(const Harness_Program& program, const std::vector<Bytecode_Instruction>& instructions,
                                Objdump_Run* objdump = nullptr);
// objdump's reading of the program's code, checked: every octet decodes; no AH, BH, CH or
// DH but in `mov al,ah`; every jump lands on an instruction's first octet, every direct
// call on the first octet of a sub-program (a "push stack frame" of no entry block);
// every RIP-relative operand reaches constant or global data (or a LEA a sub-program); every foreign-call slot is
// the immediate of a `48 B8`. "" when clean, else the findings, one per line.
// fixture_translate and fixture_translate_program report the findings as errors.
