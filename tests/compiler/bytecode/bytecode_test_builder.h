// Programs of intermediate instructions made by hand, for the forms the front end does not
// compile yet: a source file whose lines the instructions point at, entry blocks and
// sub-programs with their bodies, registers, constants and the control-flow instructions
// with their parts.
#pragma once

#include <string>
#include <vector>

#include "compiler/bytecode/bytecode.h"
#include "compiler/parser/parser.h"
#include "compiler_test_helpers.h"

// Resets the compiler with the basic types and makes the source the compile's file 0, so
// line n of it locates what is made "at line n". The text must outlive the compile.
bool reset_test_program(const std::string& source);

Trace line_trace(u32 line);  // the whole of that line of the test source

Identifier* type_of(Basic_Type_Slot slot);

// An entry block under the global scope, stored in the state's slot, opened at the line.
Scope* add_test_entry_block(Scope** slot, u32 line);

// A sub-program listed for code, its body opened at the line; the return type may be null.
Sub_Program* add_test_sub_program(const char* name, u32 line, Identifier* return_type = nullptr);

// A foreign (#import) sub-program bound by its name's hash; in the foreign list.
Sub_Program* add_test_foreign_sub_program(const char* name, u32 line);

// Appends scope start and ends the body with its end instruction at the line.
void start_body(Scope* body, u32 line);
void end_body(Scope* body, u32 line);

// A block inside the scope (flags as given), reached through a nested-scope instruction.
Scope* add_nested_scope(Scope* scope, u32 flags, u32 line);

// A variable's register in the scope, as a value held in it (kind 1).
Value variable(Scope* scope, Identifier* type, u32 line);
// The same value reached through the address its register holds.
Value through_address(Value value);
// The value located at another line, as each use of a variable is located at its own.
Value at_line(Value value, u32 line);
Value int_constant(u64 value, Identifier* type, u32 line);
Value real_constant(f64 value, u32 line);
Value string_constant(const char* text, u32 line);

// Instructions made the way their emitters lay them out.
Instruction* add_instruction(Scope* scope, u8 kind);
void add_copy(Scope* scope, u8 kind, Value destination, Value source);
void add_arithmetic(Scope* scope, u8 kind, u64 operator_bit, Value destination, Value source);
void add_address(Scope* scope, u8 kind, Value destination, Value base, Value index, u8 byte_index = 0);
void add_cast(Scope* scope, u8 cast_kind, Value destination, Value source, u8 unsigned_source = 0);
void add_compare_result(Scope* scope, u64 operator_bit, Value destination, u8 unsigned_compare = 0, u8 float_compare = 0);
void add_debug_break(Scope* scope, u32 line);

// A condition's parts, written as value, operator, value, ...: each value part gets its own
// scope (under the parent) holding a compare of left with the constant, and the jump kind
// taken when the compare fails.
struct Test_Condition_Part {
    u64 operator_bit;  // 0 for a value part
    Value left;
    u64 constant;
    u8 jump_kind;
    u16 level;
    Token* bracket;
    u8 ignored;
};
Bucket_Array make_condition(Scope* parent, const std::vector<Test_Condition_Part>& parts, u32 line);

// The loop's scope is made first, so the parts' scopes can stand inside it.
Instruction_While* add_while(Scope* scope, u32 line);
Scope* add_for(Scope* scope, Identifier* index, Value limit, u64 comparison, u32 line);  // the loop scope

// Makes the links' bodies under the scope; returns them in order, then the else body.
std::vector<Scope*> add_if_chain(Scope* scope, const std::vector<Bucket_Array>& conditions, bool with_else, u32 line);

// Case scopes under the scope, one per value, then the default's when asked; returns them.
std::vector<Scope*> add_switch(Scope* scope, Value value, const std::vector<Value>& cases, bool with_default,
                               u32 line, const std::vector<bool>& no_break = {});

void add_loop_jump(Scope* scope, u8 mode, u8 level, u32 line);

Instruction_Call* add_call(Scope* scope, Sub_Program* callee, u32 line, Register_Id argument_block = INVALID_REGISTER_ID,
                           Register_Id result = INVALID_REGISTER_ID, u8 flags = 0);

// An inline expansion of a body with the given returned values' count, under the scope:
// its root scope, with its result value set.
Scope* add_inline_expansion(Scope* scope, Sub_Program* callee, Value result, u32 line);
void add_inline_return(Scope* scope, Scope* root, Value value, u32 line, bool in_root);

// The front end's identifier for a variable of a loop (index of a for).
Identifier* add_variable(Scope* scope, const char* name, Identifier* type, u32 line);

// make_bytecode_from_state with its outputs, true when it succeeded.
struct Test_Entries {
    u32 syntax = 0xFFFFFFFF, events = 0xFFFFFFFF, on_load = 0xFFFFFFFF;
    u8 flags = 0;
};
bool make_test_bytecode(Test_Entries* entries = nullptr);

inline Bytecode_Instruction* record(u32 index) { return get_bytecode_instruction(&global_compiler_state.bytecode, index); }
inline u32 record_count() { return global_compiler_state.bytecode.count; }
std::vector<u8> record_kinds(u32 first = 0, u32 end = 0xFFFFFFFF);

// The listing of the state's bytecode as text, the owner of every local numbered by its
// first appearance ("(#1-3) SB"), so it does not depend on where scopes lie in memory.
std::string listing_text();
std::string number_owners(const std::string& listing);
