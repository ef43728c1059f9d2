// Small layer programs written with the encoder and turned into "custom.8b" through the real
// image writer, with stand-ins for the bytecode generator's relocation tables, which the
// compiler does not provide yet. The writer works from the compiler state: the compiler must
// be set up, and the image goes beside executable_filepath.
#pragma once

#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "compiler/amd64/amd64.h"
#include "foundation/foundation.h"

#define NO_BLOCK 0xFFFFFFFFu

// A relocation of the stand-in compiler: the pointer at location in its area receives the
// address of target in the table's area.
struct Test_Relocation {
    u8 area;  // LAYER_AREA_CONSTANT_DATA or LAYER_AREA_GLOBAL_DATA
    u32 location;
    u32 target;
};

// Machine code being written, with its fix-ups.
struct Test_Code {
    Dynamic_Array code;
    Dynamic_Array data_relocations;
    std::vector<u64> slots;
};

struct Test_Program {
    std::vector<u8> constants;
    std::vector<u8> globals;
    std::vector<u8> code;
    std::vector<Amd64_Data_Relocation> data_relocations;
    std::vector<u64> slots;
    std::vector<Test_Relocation> constant_relocations;
    std::vector<Test_Relocation> global_relocations;
    u32 on_load = NO_BLOCK;  // code offsets of the blocks
    u32 events = NO_BLOCK;
    u32 syntax = NO_BLOCK;
    std::vector<std::string> sources;  // recorded as read; empty: the three files beside the executable
};

Test_Code begin_code();
void emit_bytes(Test_Code* c, const std::vector<u8>& bytes);
void emit_foreign_call(Test_Code* c, u32 id, u8 block_area_class, u32 block_offset);
// lea rdi, [block]; mov rsi, id; movabs rax, slot; sub rsp, 8; call rax; add rsp, 8. A block
// area class of 0 passes no block.
u32 code_offset(Test_Code* c);
void end_code(Test_Code* c, Test_Program* p);
// Moves the code, fix-ups and slots into the program.

b8 write_test_image(const Test_Program& program);
// Sets the compiler state as a compile leaves it and calls output_amd64_file.

// The constants and globals of the "log and exit" program: its #on_load logs "value: 42"
// through log, writes int_to_string(-1234567) into the global at LOG_PROGRAM_RESULT and calls
// exit_program.
#define LOG_PROGRAM_RESULT 40
Test_Program make_log_program();
Test_Program make_block_program(const std::vector<u8>& code, u32 Test_Program::* block);
// A program whose one block is the given code.
