// Virtual registers: creating them (locals, globals, call data, views), resolving an id
// through its views to its table row, its offsets and its staged octets, the allocation
// hints, lifetime positions, and the two placement operations the bytecode generator uses
// when it lays out a stack frame.
#pragma once

#include "compiler/core/core_records.h"

//~ Placement records

// A free stretch of a stack frame.
struct Memory_Gap {
    u64 start;
    s64 size;
};
static_assert(sizeof(Memory_Gap) == 16);

// A free place of a frame that a register of the same size or smaller may take over.
struct Free_Stack_Place {
    u64 offset;
    s32 size;
    u32 unused;
};
static_assert(sizeof(Free_Stack_Place) == 16);

// What try_to_grab_a_free_register works on; the bytecode generator keeps one per
// sub-program, inside its own allocation state.
struct Register_Allocation_State {
    Dynamic_Array free_places;        // Free_Stack_Place
    u16 integer_registers_in_use;     // bit n: machine register n
    u16 float_registers_in_use;
};

struct Register_Placement {
    u64 offset;
    u8 machine_class;                 // MACHINE_CLASS_*, or 0 for a stack place
    u8 machine_number;
    u8 in_machine_register;
    u8 found;
};

//~ registers.cpp

inline b8 register_id_is_valid(Register_Id id) { return id.index != 0xFFFFFFFFu || id.table || id.kind; }
// A missing register is told by index, table and kind alone; the owner word may be anything.

b8 registers_match(Register_Id a, Register_Id b);
// The same table, index and kind; for locals (table 4) also the same owner scope.

Register_Id get_register_id(Register* row, u8 table);
// The id of a row of table 1, 3 or 4 (a local's table is its owner's). INVALID_REGISTER_ID
// for any other table byte.

Register* get_register(Register_Id id);
// The row the id names, or null for an invalid id, a table byte outside 1 to 5 or an index
// past the table's end. A row pointer does not survive the next creation in its table.

Register* get_first_non_view_register(Register_Id id);
// The row reached by following bases until one that is not a view; null when the chain
// names no register.

b8 is_a_machine_register(Register_Id id);
u32 get_register_size(Register_Id id);  // of the view itself for a view; 0 for no register

u64 get_register_offset_in_constant_data(Register_Id id);
u64 get_register_offset_in_type_data(Register_Id id);
u64 get_register_offset_in_global_data(Register_Id id);
u64 get_register_offset_in_stack_data(Register_Id id);
// The view offsets along the chain plus the data offset of the first non-view row.

u64 get_register_offset_in_call_data(Register_Id id);
// The view offsets along the chain alone: the offset inside the argument block.

u8* get_register_constant_data(Register_Id id);
u8* get_register_global_data(Register_Id id);
u8* get_register_constant_data_at_offset(Register_Id id, u64 offset);
// The staged octets: the first non-view row's data pointer plus the view offsets. Null
// when the chain ends in a row without staged octets.

u8* maybe_get_register_constant_data(Register_Id id);
// As get_register_constant_data when the chain ends in constant or type data; else null.

void force_stay_alive(Register_Id id);
// A local: sets HINT_STAY_ALIVE on the row the id names directly. Others: nothing.

void clear_and_set_allocation_hints(Register_Id id, u8 hints);
// A local: replaces the hints of its first non-view row (HINT_STAY_ALIVE included).

u32 get_current_lifetime_id(Scope* scope);
// The lifetime position of the scope's current end: the instruction counts of the scope
// and its outer scopes up to the enclosing body or entry block; a defer block counts on in
// the scope that replays it and an inlined body in its call site.

Register_Id allocate_a_register(Scope* scope, u32 size, Identifier* type, u32 alignment);
// A local of the scope (a defer block's go to the scope that replays it) with hints from
// the type, or a global in the global scope, whose zeroed octets are staged in global data
// and whose image offset is aligned. INVALID_REGISTER_ID after the out-of-memory report.

Register_Id allocate_a_register_for_call_data(Scope* owner, Sub_Program* sub_program, u32 size);
// The argument block of a sub-program. INVALID_REGISTER_ID after the out-of-memory report.

Register_Id allocate_within_register(Register_Id base, u64 offset, u32 size);
// A view of size octets at offset inside base (which may be a view itself), in the table of
// the register at the end of base's chain. A local with a view inside it is kept in memory.
// INVALID_REGISTER_ID when base names no register, or after the out-of-memory report.

Register_Id make_register_for_sub_program_param(Scope* scope, Identifier* parameter, u32 size);
// The parameter's view inside the argument block of the scope's sub-program.

s64 try_to_allocate_on_a_memory_gap(Dynamic_Array* gaps, u64 size, u64 alignment);
// A stack offset taken from the gap list (Memory_Gap): the first gap of exactly the size
// whose start is aligned, else the largest gap that holds the size once aligned (the
// earlier of equals), whose rest goes back to the end of the list. -1 when none holds it.

Register_Placement try_to_grab_a_free_register(Register_Allocation_State* state, u32 size, u32 alignment, u8 hints);
// On AMD64 a free machine register when the hints ask for one (integer r15 down to r8,
// float xmm15 down to xmm2); otherwise a free stack place: the first of exactly the size,
// else the smallest larger one, whose front is used. found 0 when nothing fits.
