// Constant and global data: reserving staged octets with their image offsets, recording
// the pointers inside them that the loader must rebase (relocations), and copying constant
// values into data together with the relocations their pointers need.
#pragma once

#include "compiler/core/core_records.h"

// A relocation found while a struct constant is copied, kept until the scan of the
// relocation list ends.
struct Struct_Relocation_Entry {
    Register_Id where;
    Register_Id target;
};
static_assert(sizeof(Struct_Relocation_Entry) == STRUCT_RELOCATION_ENTRY_SIZE);

//~ data_sections.cpp

u64 take_image_offset(u64* cursor, u64 size, u64 alignment);
// The cursor rounded up to the alignment (0 counts as 1), which the data then starts at;
// the cursor moves past it.

Register_Id allocate_constant_data(u32 size, u64 alignment);
// A constant-data register of size zeroed octets, staged packed in the constant section,
// with its image offset aligned. INVALID_REGISTER_ID after the out-of-memory report.

Relocation* add_a_relocation(Register_Id where, Register_Id target, u8 constant_list);
// Records that the pointer-sized place where must point at target's start once the image
// is loaded: in the constant relocations when constant_list is nonzero (target in constant
// data), else in the global ones. Null after the out-of-memory report.

b8 copy_constant_value_data(Register_Id destination, Identifier* type, Value* constant);
// Writes the constant's octets as the type lays them out into the destination's staged
// octets (constant, type or global data; others are left alone) and records the
// relocations its pointers need. False after a report: a sub-program cannot be data, or
// memory ran out. The constant's trace locates the report.

b8 maybe_add_relocations_for_constant_struct_data_copy(Register_Id destination, Identifier* type, u8* source, u64 offset);
// For a copy of a struct of the type from the staged octets at source into the destination
// at offset: every string and array data pointer inside it that a constant relocation
// covers at the source gets one at the destination too. False after the out-of-memory
// report.
