// The compiler's state and memory: the carve at start-up, the reset at the start of every
// compile, checked allocation from the sections and regions, traces, and the small
// to-text helpers used by messages, listings and signature keys.
#pragma once

#include "compiler/core/core_records.h"

//~ compiler_state.cpp

b8 init_compiler(String base_directory);
// Once, at start-up, after init_memory: carves COMPILER_CARVED_MEMORY from the static
// memory, sets up the pools, sections, regions and arrays, takes the bytecode block and
// resets the state. base_directory must outlive the process (the executable's directory).
// False (logged) when the region cannot be carved; a missing bytecode block is reported
// by the reset of the first compile instead.

b8 reset_compiler();
// The start of every compile: empties compile_errors, the pools, sections, regions and
// arrays, returns the text buffers of the source files, and makes an empty global scope.
// False after reporting "The compiler ran out of memory for %s." when the compile cannot
// have its memory (no bytecode block, no page for the global scope).

u8* data_section_allocate(Data_Section* section, u64 size);
// size octets staged in the section, packed (no alignment). A request larger than a bucket
// gets a bucket of its own. Null after reporting "The compiler ran out of memory for %s."
// when the section would pass DATA_SECTION_MAX_TOTAL or no bucket can be mapped.

u8* bump_region_allocate(Bump_Region* region, u64 size);
// size octets of the region. Null after the out-of-memory report when it is full.

String copy_to_compiler_static_strings(String text);
// A copy that lives until the next reset. Empty after the out-of-memory report.

void report_out_of_compiler_memory(const char* what);
// "The compiler ran out of memory for %s." without a location.

//~ compiler_state.cpp: hash indexes

void init_hash_index(Hash_Index* index, u32 entry_size);
void clear_hash_index(Hash_Index* index);  // empty, keeping its memory

b8 hash_index_make_room(Hash_Index* index);
// Before an entry is placed: the table grows (doubling) once one more entry would fill it
// past half. False when its memory cannot be had; nothing is reported.

u8* hash_index_place(Hash_Index* index, u64 key);
// The free slot the key's probe reaches, with the key written; the caller fills the rest.

inline u64 make_hash_index_key(u64 hash) { return hash ? hash : 1; }
inline u8* get_hash_index_entry(Hash_Index* index, u64 slot) { return index->entries + slot * index->entry_size; }
inline u64 get_hash_index_key(u8* entry) { return load_u64(entry); }

//~ traces.cpp

Trace make_trace_from_token(Token* token);
// The token's location with its own text as the range.

Trace make_trace_from_tokens(Token* first, Token* last);
// From first's text to the end of last's text.

Trace make_trace_from_tokens2(Token* first, Token* last);
// From first's text up to where last begins: last is not covered.

Trace concat_traces(Trace a, Trace b);
// a stretched to the end of b when b starts at or after a; otherwise a.

u32 get_token_line(Token* token);

String get_trace_line_view(Trace trace);
// The whole source line of the trace, up to its first line feed or carriage return or the
// end of the file's text; empty when the line start is null or not inside a loaded file.

//~ to_text.cpp and value_text.cpp (results in the calling thread's temporary memory; when
// it is full they report "The compiler ran out of memory for temporary memory." and give
// an empty text)

char* token_to_c_string(Token* token);
// The token's text with a NUL.

char* size_to_c_string(u64 size);
// "1 byte", otherwise "<n> bytes" (0 included).

const char* operator_to_c_string(u64 operator_bit);
// The spelling of one operator bit; "INVALID OPERATOR" for anything else. Static text.

char* register_id_to_c_string(Register_Id id);
// "0x%llx-%u": the low 24 bits of the owner pointer and the index.

String value_to_string(Value* value);
String constant_to_string(Value* value);
// The text of a value or a constant for messages, listings and signature keys.

const char* token_kind_to_c_string(u64 kind);
// The name of one Token_Kind bit; "?" for anything else. Static text.
