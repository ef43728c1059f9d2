// The statements that steer the flow of a block: if chains, while and for loops, switch,
// break, continue, return and #defer, and the directives that stand as statements (#if,
// #insert, #assert, #machine_code, #load_file). The driver hands each its first token;
// each returns the token after the statement through next, or false after a report.
// Statements after which nothing of their block runs set ends_walk.
#pragma once

#include "compiler/core/compiler_core.h"

// An #insert inside code it inserts, this deep, is a Code constant inserting itself.
#define INSERT_NESTING_LIMIT 64

//~ statement_parts.cpp: what the statements share

Token* find_block_opener(Token* start, Token* end);
// The '{' or ':' that opens the block after a statement's head, bracketed groups jumped
// over; a '{' right after '.' starts a literal, not a block. Null when a ';', a closing
// bracket or end comes first.

Token* find_statement_semicolon(Token* start, Token* end);
// The ';' ending the statement; end itself when end is that ';'. Null when a closing
// bracket, end or the list's end comes first.

b8 load_value_if_indirect(Scope* scope, Value* value);
// A value read through its address is loaded into a fresh register.

b8 get_member_value(Scope* scope, Value* aggregate, Identifier* member, Value* out);
// The member of an aggregate in a register: a view of it, or, when the aggregate is read
// through its address, the member loaded into a fresh register.

b8 report_global_instruction(Token* token);
// "You cannot execute instructions in global scope." at the token; false.

//~ if_and_while.cpp

b8 compile_if_chain(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next);
b8 compile_while_loop(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next);

//~ for_loops.cpp

b8 compile_for_loop(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next);

b8 insert_loop_step(Scope* scope, Scope* loop_scope, u8 level, Trace at);
// What a for loop does before its next test, into the scope: the step of its iteration
// scope, first guarded, for a count whose step could wrap the index, by a break out of the
// loop (level loops out from the scope). Nothing for a while loop.

//~ switch_statements.cpp

b8 compile_switch(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next);

//~ jumps_and_defers.cpp

b8 compile_loop_jump(Scope* scope, Token* keyword, Token* end, u8 mode, u8 constant_return_only, Token** next);
// break (mode LOOP_JUMP_BREAK) or continue, with an optional level.

b8 compile_return(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next);
b8 compile_defer(Scope* scope, Token* directive, Token* end, Token** next);

// handle_deferred_blocks is declared with the driver.

//~ scope_directives.cpp

b8 compile_static_if(Scope* scope, Token* directive, Token* end, u8 constant_return_only, Token** next, b8* ends_walk);
b8 compile_insert(Scope* scope, Token* directive, Token* end, u8 constant_return_only, Token** next, b8* ends_walk);
b8 compile_assert(Scope* scope, Token* directive, Token* end, Token** next);
// Also for a global #assert of the user's files, once the worklists are done.
b8 compile_machine_code(Scope* scope, Token* directive, Token* end, Token** next);
b8 compile_load_file(Scope* scope, Token* directive);  // always false: the driver never loads

b8 insert_code_block(Scope* scope, Token* opener, Trace at, u8 constant_return_only, b8* ends_walk);
// The content of the block opened by opener, compiled into the scope in continuation mode;
// "It looks like #insert is nested more than 64 levels deep. Is a Code constant inserting
// itself?" at the trace past INSERT_NESTING_LIMIT.
