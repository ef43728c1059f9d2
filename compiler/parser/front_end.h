// The front end of a compile: it resets the compiler, adds the built-in types, compiles the
// support sources, loads and preparses the user's file with everything it pulls in, works
// off the global #if and #insert worklists and builds the entry blocks.
#pragma once

#include "compiler/core/core_records.h"
#include "foundation/version.h"

// More rounds than this of #if and #insert work means a Code constant inserts itself.
#define GLOBAL_WORKLIST_GENERATION_LIMIT 64

//~ front_end.cpp

void connect_parser_routines();
// Fills the core's parser_routines with the parser's own. Once at start-up, before the
// first compile or type parse.

b8 compile_front_end(u8* path, u64 length, b8 support_sources, String prelude);
// The compile up to the entry blocks, without freeing: what it built stays readable until
// free_compiler_state. Without support sources the user's file is compiled alone, after
// the prelude when one is named: a file compiled as a support source is, which declares
// __Array, __Fixed_Size_Array and Code (a test's fixture).

b8 compile_entry_point(Scope** scope, Token* opener);
// Builds an entry block from its opening '{' or ':' (its block already checked): a scope
// under the global scope stored through scope, its statements, and its end instruction.

void free_compiler_state();
// Returns what a compile allocated: the source texts, the per-compile arrays and the
// arrays of its scopes. The pool records stay readable until the next compile.
