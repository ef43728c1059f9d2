// The source files of a compile: each is read whole into one buffer of the general-purpose
// allocator, recorded in the state's source files and tokenised. A file pulled in by
// #load_file is loaded once per compile, however its path is written.
#pragma once

#include "compiler/core/core_records.h"

struct Global_Worklists;
struct Entry_Blocks;

// Larger files are refused: a layer's sources are small, and the sizes are 32-bit fields.
#define SOURCE_FILE_MAX_SIZE (64ull * 1024 * 1024)

//~ source_files.cpp

Source_File* compiler_load_file(u8* path, u64 length);
// Loads and tokenises the file. The path is not copied and must outlive the compile. Null
// after "Failed to load file '%s'." (no location) when it cannot be opened, is not a
// regular file, is larger than SOURCE_FILE_MAX_SIZE or cannot be read whole; nothing stays
// allocated then. Null as well when tokenising failed (the record stays, reported).

b8 compiler_load_and_preparse_file(u8* path, u64 length, Scope* scope, Global_Worklists* worklists,
                                   Entry_Blocks* entry_blocks, String directory, Trace directive);
// Loads the file unless the compile already has it (the same written path, or the same
// real path), then preparses it with the directory of its own #load_files. True also when
// it was loaded before. False after a report: "Failed to load file '%s'." on the directive,
// or the tokeniser's or the preparse's own.

b8 compiler_load_and_preparse_module(u8* name, u64 length, Scope* scope, Global_Worklists* worklists,
                                     Entry_Blocks* entry_blocks, Trace directive);
// A module of the "modules" directory beside the executable: the file of that name, or,
// when the name is a directory, its "module.8". As compiler_load_and_preparse_file.

Source_File* get_source_file(u32 index);
// The loaded file of that index; null past the last.

void release_source_files();
// Returns every text buffer and empties the list of loaded files.
