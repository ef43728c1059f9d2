// The compiled layer image "custom.8b": its header and layout, the checks every image passes
// before it is run and the rebasing steps of the loader. The bytecode generator fills the
// relocation tables and the entry flags; the compile pipeline's writer lays the image out;
// the runtime checks, maps and rebases it.
#pragma once

#include "compiler/core/compiler_core.h"
#include "compiler/core/layer_sources.h"
#include "foundation/types.h"
#include "foundation/strings.h"
#include "foundation/version.h"

//~ The compiled layer image's header

// The first 104 octets of "custom.8b". Only this editor version reads the file back, and
// it refuses any image whose fields do not match what it writes (see check_layer_image).
#define OUTPUT_MAGIC_ID                0x38383838u  // "8888"
#define COMPILED_LAYER_FORMAT_VERSION  1u
#define BC_CPU_AMD64                   1u
#define COMPILED_LAYER_HEADER_SIZE     104u
#define COMPILED_LAYER_CONSTANT        0x200000ull  // written, never read

struct Compiled_Layer_Header {
    u32 magic;                       // OUTPUT_MAGIC_ID
    u32 format_version;              // COMPILED_LAYER_FORMAT_VERSION
    u32 cpu;                         // BC_CPU_AMD64
    u8 editor_version[4];            // major, minor, patch, 0
    u64 constant;                    // COMPILED_LAYER_CONSTANT
    u64 image_hash;                  // low 64 bits of the Meow hash of the image with this field 0
    u32 foreign_call_slot_offset;    // octets from the image's start, as every offset here
    u32 foreign_call_slot_count;
    u32 code_offset;
    u32 code_size;
    u32 constant_data_offset;        // always 128: the header rounded up to 32
    u32 constant_data_size;
    u32 global_data_offset;          // the constant area's end rounded up to 32
    u32 global_data_size;
    u32 constant_relocation_count;
    u32 constant_relocation_offset;
    u32 global_relocation_count;
    u32 global_relocation_offset;
    u32 source_table_offset;
    u32 source_count;
    u32 syntax_entry;                // the block's first instruction: code offset + its offset in the code
    u32 events_entry;
    u32 on_load_entry;
    u8 flags;                        // 1 #events, 2 #on_load, 4 #syntax: which entries are meant
    u8 zero[3];
};
static_assert(sizeof(Compiled_Layer_Header) == COMPILED_LAYER_HEADER_SIZE);
static_assert(offsetof(Compiled_Layer_Header, constant) == 16);
static_assert(offsetof(Compiled_Layer_Header, foreign_call_slot_offset) == 32);
static_assert(offsetof(Compiled_Layer_Header, constant_relocation_count) == 64);
static_assert(offsetof(Compiled_Layer_Header, source_table_offset) == 80);
static_assert(offsetof(Compiled_Layer_Header, syntax_entry) == 88);
static_assert(offsetof(Compiled_Layer_Header, flags) == 100);

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
