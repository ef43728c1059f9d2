// The compiled layer image "custom.8b": its layout past the header, the checks every image
// passes before it is run, the rebasing steps of the loader, the writer that the compile
// pipeline calls, and the record of the sources a compile read. The compiler links this
// part of the runtime alone, so it needs nothing above the compiler core.
#pragma once

#include "compiler/bytecode/bytecode.h"
#include "compiler/amd64/amd64.h"
#include "foundation/types.h"
#include "foundation/strings.h"
#include "foundation/version.h"

//~ Layout

#define COMPILED_CUSTOM_LAYER_FILENAME "custom.8b"

// Image layout: header, constant data at 128, global data at the next multiple of 32, code
// right behind it, then the foreign-call slots, the constant and global relocation tables,
// the source names and the source table, which ends the file.
#define LAYER_IMAGE_DATA_ALIGNMENT     32u
#define LAYER_IMAGE_CONSTANT_OFFSET    128u
#define LAYER_IMAGE_MAX_SIZE           COMPILER_OUTPUT_MEMORY  // the writer's arena bounds it

// Header flag bits: which entry blocks the image has (the views' Layer_Block_Flags).
#define LAYER_IMAGE_HAS_EVENTS         1
#define LAYER_IMAGE_HAS_ON_LOAD        2
#define LAYER_IMAGE_HAS_SYNTAX         4

// A relocation row is the compiler's Relocation record: its first four octets hold the
// location's offset in its area, octet 32 the area of the location.
#define LAYER_RELOCATION_ROW_SIZE      40u
#define LAYER_RELOCATION_AREA_OFFSET   32u
#define LAYER_AREA_CONSTANT_DATA       1  // Register_Storage of constant data
#define LAYER_AREA_GLOBAL_DATA         3  // and of global data
static_assert(sizeof(Relocation) == LAYER_RELOCATION_ROW_SIZE);
static_assert(offsetof(Relocation, where_area) == LAYER_RELOCATION_AREA_OFFSET);

// The code offset of the 8-octet immediate of a movabs rax that receives the dispatcher's
// address.
typedef u64 Foreign_Call_Slot;

// One source file of the compile. The image holds the name's offset; once loaded, and in the
// watched-source table, it is a pointer.
struct Layer_Source_Entry {
    u64 name;
    u64 name_length;
    u64 modification_time;  // whole nanoseconds since the epoch, symbolic links followed
    u64 size;
};
static_assert(sizeof(Layer_Source_Entry) == 32);

#define LAYER_SOURCE_NAME_MAX_LENGTH 4096u

//~ layer_image.cpp: checks

const char* check_layer_image(u8* image, u64 size);
// Null when the octets are an image this editor wrote and may run: magic, format, CPU,
// editor version, the fixed fields and the hash; every area, table, slot, entry, relocation
// and source name inside the file and its area. Otherwise a short static reason for the
// log. The image is read only, except that the hash field is zeroed while it is checked.

String get_path_beside_executable_tmp(const char* name);
// The name in the executable's directory (the name alone when that is unknown), in
// temporary memory and NUL-terminated; empty when that is full.

String get_layer_image_path_tmp();  // "custom.8b" beside the executable

u64 layer_image_hash(u8* image, u64 size);
// The hash the header carries: of the whole image with its hash field read as 0. Leaves
// that field 0.

void rebase_layer_image(u8* image, u64 dispatcher);
// Adds the address of the constant or global area to every pointer the relocation tables
// name, and writes the dispatcher's address into every foreign-call slot. Only for an
// image check_layer_image accepted, mapped writable.

//~ layer_image_writer.cpp

b8 output_amd64_file(String* source_path, u32 syntax_offset, u32 events_offset, u32 on_load_offset, u8 flags,
                     Version_Info* version, Dynamic_Array code, Dynamic_Array data_relocations,
                     Dynamic_Array foreign_call_slots);
// Lays the image out in compiler_output_memory from the compiler state (data areas, the
// relocation tables, the source files) and the code generator's output (code, the
// RIP-relative fix-ups, the slots; entry offsets are code offsets), then writes it beside
// the executable as "custom.8b": to a temporary name, flushed, then renamed over the old
// file. False after a report in compile_errors ("Failed to write '%s'." with the image's
// path, or an internal error when the parts do not make an image the loader would run);
// the old file is then untouched. source_path is only named in the log.

// Calls into the bytecode generator: each resolves its relocations into the image's data
// areas, appends its table to compiler_output_memory and fills its two header fields. False
// after a report.
b8 copy_constant_relocations_to_code_output(Compiled_Layer_Header* header, u8* constant_data, u8* global_data);
b8 copy_global_relocations_to_code_output(Compiled_Layer_Header* header, u8* global_data);


//~ layer_sources.cpp: what a compile read

// The compiler records every source file it opens, or tries to, as it reads it: the image's
// source table takes the size and time the compile saw, and after a failed compile the
// watcher waits on the same files, so fixing any of them recompiles.
struct Layer_Source_Record {
    u32 path_offset;  // into the record's text
    u32 path_length;
    u64 size;
    u64 modification_time;  // whole nanoseconds; 0 with the size for a file that was not found
};

// Far more than a layer reads: past them, a source counts as unseen.
#define LAYER_SOURCE_RECORD_CAPACITY 1024u
#define LAYER_SOURCE_TEXT_CAPACITY   (1024u * 1024u)

void reset_layer_sources();
// Forgets the records: the start of a compile.

void record_layer_source(u8* path, u64 length, b8 found, u64 size, u64 modification_time);
// Appends a record (the path is copied). Nothing is recorded past the capacities: the file
// then counts as unseen, and the writer reads its size and time itself.

u32 get_layer_source_count();
Layer_Source_Record* get_layer_source(u32 index);
String get_layer_source_path(Layer_Source_Record* record);
// The records in the order the compile made them; the path lives until the next reset.

Layer_Source_Record* find_layer_source(String path);
// The last record of that path; null when none.

b8 stat_layer_source(const char* path, u64* size, u64* modification_time);
// stat (following symbolic links) of a source: false, with both 0, when it cannot be read.
