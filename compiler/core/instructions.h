// Intermediate instructions: appending one to a scope, and the emitters that choose the
// kind and fill the operands. On the way they fold a copy into the instruction that made
// its source, simplify arithmetic with 0, 1 and -1, and move float constants into constant
// data, since AMD64 has no float immediates.
#pragma once

#include "compiler/core/core_records.h"

// Cast kinds of instruction kind 5.
#define CAST_INTEGER_TO_REAL         0
#define CAST_REAL_TO_INTEGER         1
#define CAST_INTEGER_TO_SMALLER      2
#define CAST_INTEGER_TO_LARGER       3
#define CAST_REAL_TO_SMALLER         4
#define CAST_REAL_TO_LARGER          5
#define CAST_INTEGER_TO_BOOLEAN      6
#define CAST_REAL_TO_BOOLEAN         7

// The stack-trace record of a call keeps its two location numbers here.
#define STACK_TRACE_LOCATION_OFFSET  32

//~ instructions.cpp
//
// The emitters return false only after a report (a division by a constant 0, an operator
// that has no meaning on an address, a sub-program as data) or when memory ran out.
// Values are read, never kept: each instruction holds its own copies. An instruction's
// result is its first value (for a cast, its destination); the front end's kind 10 keeps
// its destination first too, so a copy of it can be folded.

Instruction* allocate_an_instruction(Scope* scope, u8 kind);
// A zeroed instruction of the kind at the end of the scope's list; the scope's count,
// which lifetime positions are made of, grows by one. Null after the out-of-memory report.
// It holds get_instruction_size(kind) octets, not always a whole Instruction.

u32 get_instruction_size(u8 kind);
// The octets an instruction of the kind occupies: the link and the kind, then the record
// of its operands. The kinds an emitter rewrites an instruction into (a copy made
// indirect, an address made a load) share their record. Kinds not listed here take a
// whole Instruction. Nothing may read or write an instruction past this size.

Instruction* get_last_instruction(Scope* scope);  // null for a scope without instructions

b8 check_if_value_is_constant_or_temporary(Value* value);
// A constant, or a fresh value whose register is not a variable's.

b8 try_to_get_rid_of_copy(Scope* scope, Value* destination, Value* source);
// True when the copy destination := source needs no instruction of its own: the scope's
// last instruction made the source into a temporary and now writes the destination
// instead, or it wrote a constant or zero, which is written to the destination again.
// Nothing is emitted on false.

void set_instruction_for_a_variable_copy(Instruction* instruction, Value* destination, Value* source);
void set_instruction_for_a_constant_copy(Instruction* instruction, Value* destination, Value* source);
// Both values; the kind becomes 4 or 2 for a destination reached through its address.

b8 instruction_set_to_zero(Scope* scope, Value* value);
b8 instruction_copy_constant(Scope* scope, Value* destination, Value* constant);
// Zero for a constant 0 or +0.0; a float from constant data on AMD64; a sub-program as a
// value is listed to be compiled; otherwise kind 1 (2 through an address).

b8 list_sub_program(Sub_Program* sub_program);
// Enters the sub-program once in the sub-program list (the foreign list for an #import),
// so it gets code: every callee, and every sub-program used as a value even when nothing
// calls it. False after the out-of-memory report.

b8 instruction_copy_variable(Scope* scope, Value* destination, Value* source);
// Kind 3 (4 through an address); nothing when both name one register the same way.

b8 instruction_copy_value(Scope* scope, Value* destination, Value* source);

b8 update_stack_trace_location(Scope* scope, Register_Id record, u32 first, u32 second, Trace trace);
// The two u32 location numbers of a stack-trace record, at offsets 32 and 36.

b8 instruction_cast(Scope* scope, u8 cast_kind, Value* destination, Value* source);
// Kind 5. The unsigned-source flag is set when a widened integer is unsigned (and the target
// an integer), when an unsigned integer becomes a real, and when a real becomes an unsigned
// integer.

b8 try_to_replace_an_lea_by_a_dereference(Scope* scope, Value* destination, Value* base, Value* index);
// True when the last instruction calculated base's address into a temporary with an index
// of constant 0: it now loads from there into the destination.

b8 instruction_memory_dereference(Scope* scope, u8 byte_index, u8 kind, Value* destination, Value* base, Value* index);
// Kind 7 (load) or 8 (address): base + index, the index counting octets when byte_index is
// set and elements of base's pointed-to type otherwise.

b8 instruction_make_value_boolean(Scope* scope, Value* value);
// Kind 6, unless the value is boolean already; the value is boolean afterwards.

b8 instruction_arithmetic_constant(Scope* scope, u64 operator_bit, Value* destination, Value* constant);
b8 instruction_arithmetic(Scope* scope, u64 operator_bit, Value* destination, Value* source);
// destination := destination operator right, in place. A destination reached through its
// address is loaded into a temporary, worked on and stored back. On an address whose
// pointed-to type is 2 octets or more, ++, -- and + or - of an integer made an address
// count in elements.

b8 instruction_cmp_variable(Scope* scope, Value* left, Value* right);
b8 instruction_cmp_constant(Scope* scope, Value* left, Value* constant);
b8 instruction_cmp(Scope* scope, Value* left, Value* right);
// A compare whose result stays in the flags: integer, float (a float left operand) or
// block (a String left operand); a float constant is compared from constant data on AMD64.

b8 instruction_get_cmp_result(Scope* scope, u64 operator_bit, Value* destination, Value* compared);
// Kind 20: the last compare's result into the destination, flagged unsigned or float by the
// compared operand's type.
