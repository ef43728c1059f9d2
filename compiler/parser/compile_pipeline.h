// The one entry of the compiler: a compile resets the compiler, adds the built-in types,
// compiles the support sources, loads and preparses the user's file with everything it
// pulls in, works off the global #if and #insert worklists and builds the entry blocks.
#pragma once

#include "compiler/core/core_records.h"
#include "foundation/version.h"

// More rounds than this of #if and #insert work means a Code constant inserts itself.
#define GLOBAL_WORKLIST_GENERATION_LIMIT 64

//~ compile_pipeline.cpp

b8 compile_from_file(u8* path, u64 length, Version_Info* version);
// Compiles the user's file: a relative path is joined to the working directory. The
// support sources "inject.8" and "api.8" are read from the base directory. False after
// the reports in compile_errors. On success the image is written as "custom.8b" beside
// the executable; a failed write fails the compile and leaves the old file. Every exit
// frees the per-compile state.

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
