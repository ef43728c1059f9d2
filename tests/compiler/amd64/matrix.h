// Executed matrices: many rows of bytecode, each putting its operands in their places
// (constant, global or call data, the stack, a machine register, or behind a pointer),
// running the instruction under test and leaving its result in the row's own 16-octet
// output slot, all translated into one program and run once in the harness.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

enum Matrix_Place : u8 {
    PLACE_STACK,
    PLACE_GLOBAL,
    PLACE_CONSTANT,
    PLACE_REGISTER,
    PLACE_CALL_DATA,
    PLACE_POINTER_IN_GLOBAL,    // a destination: A holds the address of the output slot
    PLACE_POINTER_IN_REGISTER,
    PLACE_SAME_AS_A,            // a source: the destination itself
    PLACE_COUNT,
};

extern const char* const MATRIX_PLACE_NAMES[PLACE_COUNT];

inline bool matrix_is_pointer(Matrix_Place p) { return p == PLACE_POINTER_IN_GLOBAL || p == PLACE_POINTER_IN_REGISTER; }

#define MATRIX_SLOT       16
#define MATRIX_GUARD_BYTE 0xEE

struct Matrix {
    Translation_Fixture f;
    std::vector<Bytecode_Instruction> program;
    std::map<std::pair<u64, u32>, Register_Id> constants;              // by bits and size
    std::map<std::tuple<u8, u8, u32>, Register_Id> machine_registers;  // class, number, size
    std::map<std::pair<u32, u32>, Register_Id> stack, call_data;       // by offset and size
    std::vector<Register_Id> scratch_globals;                          // one per operand, by size
    std::vector<Harness_Pointer> pointers;
    Register_Id outputs = {};
    u32 output_base = 0;
    u32 rows = 0;
    u16 gp_used = 0, xmm_used = 0;
};

void matrix_begin(Matrix* m, u32 rows);
// Resets the fixture with room for rows output slots, every octet MATRIX_GUARD_BYTE.

Register_Id matrix_output(Matrix* m, u32 row, u32 size);
// The first size octets of the row's slot, in global data.

Register_Id matrix_constant(Matrix* m, u64 bits, u32 size);

Register_Id matrix_place(Matrix* m, Matrix_Place place, u8 machine_class, u32 size, u32 which, u32 row);
// A register of the place, its content left as it is. PLACE_GLOBAL with which 0 is the
// row's output slot; the pointer places hold the slot's address (see below).

Register_Id matrix_operand(Matrix* m, Matrix_Place place, u8 machine_class, u32 size, u64 bits, u32 which, u32 row);
// A register of the place holding the value: emits the copy that puts it there (none for
// a constant). which (0 to 3) keeps the operands of one row apart; the row picks the
// machine register. PLACE_GLOBAL with which 0 is the row's output slot itself.

Register_Id matrix_pointer(Matrix* m, Matrix_Place place, Harness_Area area, u32 offset, u32 which, u32 row);
// A register holding the address of offset in the area: a global of its own for
// PLACE_POINTER_IN_GLOBAL, a machine register for PLACE_POINTER_IN_REGISTER, else a
// register of the place.

Register_Id matrix_pointer_to_output(Matrix* m, Matrix_Place place, u32 row);
// The same for the row's output slot.

void matrix_store_output(Matrix* m, Register_Id a, u32 row, u32 size);
// Copies A into the row's slot unless A is that slot.

Bytecode_Instruction* matrix_add(Matrix* m, u8 kind);
// Appends an instruction of the kind with absent operands.

struct Matrix_Run {
    std::string failure;  // translation errors, a fault, or registers changed unasked
    Harness_Run run;
};

Matrix_Run matrix_run(Matrix* m);
// Translates the program and runs it once; only temporaries and the machine registers
// the rows used may change.

const u8* matrix_result(const Matrix& m, const Matrix_Run& r, u32 row);
// The row's 16 output octets after the run.

b8 matrix_guard_intact(const Matrix& m, const Matrix_Run& r, u32 row, u32 size);
// Whether the octets of the row's slot past size still hold the guard.
