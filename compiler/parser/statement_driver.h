// The statement driver: one block of source becomes the intermediate instructions of one
// scope, statement by statement, each handed to the routine that builds its kind. Nested
// blocks are compiled by nested calls; blocks whose statements join the current scope
// (a taken #if branch, inserted code) by a call in continuation mode.
#pragma once

#include "compiler/core/core_records.h"

// The operands of the instructions that name a scope: 27 (end), 31 (nested scope), 32
// (scope start) and 33 (scope end); 29 (debug break) has only its location.
struct Instruction_Scope {
    Scope* scope;
    Trace location;
};
static_assert(sizeof(Instruction_Scope) <= INSTRUCTION_OPERANDS_SIZE);

inline Instruction_Scope* get_instruction_scope(Instruction* instruction) {
    return (Instruction_Scope*)instruction->operands;
}

//~ statement_driver.cpp

b8 make_instructions_in_scope(Scope* scope, Token* first, Token* end, u8 continuation, u8 constant_return_only);
// Compiles the statements from first up to end (exclusive; null for the end of the list)
// into the scope. With continuation 0 a scope with a parent gets its scope start and end
// instructions and is finished (missing return, deferred blocks, end instruction). The
// constant-return-only flag is handed to every nested block. False after the first report;
// the instructions made before it stay.

Token* get_instruction_end(Token* token);
// The ';' or closing bracket that ends the statement starting at token, bracketed groups
// jumped over whole; a ':' opens nothing here. Null when the list ends first.

Token* get_block_end(Token* opener, Token* end);
// The token that closes the block opened by a '{' or a ':' (its ';'). A ':' whose ';' is
// not reached before a closing bracket or end reports "There is no corresponding ';' for
// this ':'." and gives null.

Scope* get_first_loop_scope_from(Scope* scope);
// The scope itself or its nearest parent that is a loop; null when none is.

b8 insert_for_loop_iteration_instructions(Scope* scope, Scope* iteration_scope);
// Appends a copy of each instruction of the iteration scope, in order. False after the
// out-of-memory report.

b8 insert_code_from_identifier(Scope* scope, Identifier* code, u8 constant_return_only);
// Compiles the block of a Code constant into the scope in continuation mode.

b8 append_scope_instruction(Scope* scope, u8 kind, Scope* named, Trace location);
// Appends an instruction of a kind that names a scope (or, for 29, none). False after the
// out-of-memory report.

b8 is_keyword(Token* token, String word);
// The token's text is the word: the length is compared first.

// Called by the driver, defined with the control statements.
b8 handle_deferred_blocks(Scope* scope, u32 stop_flags, u8 constant_return_only);
