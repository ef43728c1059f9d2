// Virtual registers. Rows live in growable tables and are never removed, so an id (table,
// index, and the owner scope for a local) stays valid while a row pointer does not: every
// creation may move its table. Views chain to the register they are part of; the
// accessors sum the view offsets on the way.
#include <string.h>

#include "compiler/core/compiler_core.h"

// The largest value a machine register holds on the target.
static u32 get_machine_word_size() { return global_compiler_state.address_size; }

//~ Tables and ids

static Dynamic_Array* get_register_table(Register_Id id) {
    Compiler_State* state = &global_compiler_state;
    switch (id.table) {
        case REGISTER_CONSTANT_DATA:
        case REGISTER_TYPE_DATA: return &state->constant_registers;
        case REGISTER_GLOBAL_DATA: return &state->global_registers;
        case REGISTER_LOCAL: return id.owner ? &id.owner->local_registers : 0;
        case REGISTER_CALL_DATA: return &state->call_data_registers;
    }
    return 0;
}

b8 registers_match(Register_Id a, Register_Id b) {
    if (a.table != b.table || a.index != b.index || a.kind != b.kind) return false;
    return a.table != REGISTER_LOCAL || a.owner == b.owner;
}

Register_Id get_register_id(Register* row, u8 table) {
    Compiler_State* state = &global_compiler_state;
    Dynamic_Array* rows = table == REGISTER_CONSTANT_DATA ? &state->constant_registers
                        : table == REGISTER_GLOBAL_DATA   ? &state->global_registers
                        : table == REGISTER_LOCAL && row->owner ? &row->owner->local_registers
                                                                : 0;
    if (!rows) return INVALID_REGISTER_ID;
    u32 index = (u32)(((u8*)row - rows->data) / sizeof(Register));
    return Register_Id{row->owner, index, table, row->kind, {0, 0}};
}

Register* get_register(Register_Id id) {
    Dynamic_Array* rows = get_register_table(id);
    if (!rows || id.index >= rows->count) return 0;
    return (Register*)(rows->data + (u64)id.index * sizeof(Register));
}

// The first non-view row of the chain, with the view offsets met on the way.
static Register* walk_to_first_non_view(Register_Id id, u64* offset) {
    *offset = 0;
    Register* row = get_register(id);
    while (row && row->kind == REGISTER_VIEW) {
        *offset += row->view_offset;
        row = get_register(row->base);
    }
    return row;
}

Register* get_first_non_view_register(Register_Id id) {
    u64 offset;
    return walk_to_first_non_view(id, &offset);
}

b8 is_a_machine_register(Register_Id id) {
    if (id.kind != REGISTER_LOCAL) return false;
    Register* row = get_register(id);
    return row && row->in_machine_register;
}

u32 get_register_size(Register_Id id) {
    Register* row = get_register(id);
    return row ? row->size : 0;
}

//~ Offsets and staged octets

static u64 get_offset_in_area(Register_Id id) {
    u64 offset;
    Register* row = walk_to_first_non_view(id, &offset);
    return row ? offset + row->data_offset : offset;
}

u64 get_register_offset_in_constant_data(Register_Id id) { return get_offset_in_area(id); }
u64 get_register_offset_in_type_data(Register_Id id) { return get_offset_in_area(id); }
u64 get_register_offset_in_global_data(Register_Id id) { return get_offset_in_area(id); }
u64 get_register_offset_in_stack_data(Register_Id id) { return get_offset_in_area(id); }

u64 get_register_offset_in_call_data(Register_Id id) {
    u64 offset;
    walk_to_first_non_view(id, &offset);
    return offset;
}

static u8* get_staged_octets(Register_Id id, b8 constant_only) {
    u64 offset;
    Register* row = walk_to_first_non_view(id, &offset);
    if (!row) return 0;
    b8 staged = row->kind == REGISTER_CONSTANT_DATA || row->kind == REGISTER_TYPE_DATA ||
                (!constant_only && row->kind == REGISTER_GLOBAL_DATA);
    return staged && row->data ? row->data + offset : 0;
}

u8* get_register_constant_data(Register_Id id) { return get_staged_octets(id, false); }
u8* get_register_global_data(Register_Id id) { return get_staged_octets(id, false); }
u8* maybe_get_register_constant_data(Register_Id id) { return get_staged_octets(id, true); }

u8* get_register_constant_data_at_offset(Register_Id id, u64 offset) {
    u8* data = get_staged_octets(id, false);
    return data ? data + offset : 0;
}

//~ Hints and lifetimes

void force_stay_alive(Register_Id id) {
    if (id.table != REGISTER_LOCAL) return;
    Register* row = get_register(id);
    if (row) row->hints |= HINT_STAY_ALIVE;
}

void clear_and_set_allocation_hints(Register_Id id, u8 hints) {
    if (id.table != REGISTER_LOCAL) return;
    Register* row = get_first_non_view_register(id);
    if (row) row->hints = hints;
}

u32 get_current_lifetime_id(Scope* scope) {
    u32 position = 0;
    while (scope) {
        position += scope->instructions.count;
        if ((scope->flags & SCOPE_DEFER) && scope->defer_owner) {
            scope = scope->defer_owner;
        } else if ((scope->flags & (SCOPE_SUB_PROGRAM_BODY | SCOPE_INLINED)) == (SCOPE_SUB_PROGRAM_BODY | SCOPE_INLINED)) {
            scope = scope->call_site_scope;
        } else if (scope->flags & (SCOPE_SUB_PROGRAM_BODY | SCOPE_ENTRY_BLOCK)) {
            break;
        } else {
            scope = scope->parent;
        }
    }
    return position;
}

// Scalars that fit a machine register ask for one of their class; everything else, and
// any register with a view inside it, lives in memory.
static u8 get_hints_for_type(Identifier* type) {
    if (!type || type->size > get_machine_word_size()) return HINT_MEMORY;
    if (type->pointer_depth) return HINT_INTEGER;
    if (type->flags & (TYPE_UNSIGNED | TYPE_SIGNED | TYPE_BOOLEAN | TYPE_ENUM | TYPE_SUB_PROGRAM)) return HINT_INTEGER;
    if (type->flags & TYPE_FLOAT) return HINT_FLOAT;
    return type == global_compiler_state.basic_types[BASIC_TYPE_TYPE] ? HINT_INTEGER : HINT_MEMORY;
}

//~ Creating registers

// A zeroed row at the end of the table, or null after the out-of-memory report.
static Register* append_register(Dynamic_Array* rows, u32* index) {
    Register* row = (Register*)dynamic_array_add_fast(rows);
    if (!row) {
        report_out_of_compiler_memory("registers");
        return 0;
    }
    memset(row, 0, sizeof(*row));
    *index = rows->count - 1;
    return row;
}

static Register_Id allocate_a_global_register(Scope* scope, u32 size, u32 alignment) {
    Compiler_State* state = &global_compiler_state;
    u8* staged = data_section_allocate(&global_data_section, size);
    if (!staged) return INVALID_REGISTER_ID;
    // Buckets are reused from compile to compile: a global starts as zeros, not as what
    // the last compile left.
    memset(staged, 0, size);
    u32 index;
    Register* row = append_register(&state->global_registers, &index);
    if (!row) return INVALID_REGISTER_ID;
    row->kind = REGISTER_GLOBAL_DATA;
    row->size = size;
    row->alignment = alignment;
    row->owner = scope;
    row->data = staged;
    row->data_offset = take_image_offset(&state->global_data_size, size, alignment);
    return Register_Id{0, index, REGISTER_GLOBAL_DATA, REGISTER_GLOBAL_DATA, {0, 0}};
}

Register_Id allocate_a_register(Scope* scope, u32 size, Identifier* type, u32 alignment) {
    if (!scope->parent) return allocate_a_global_register(scope, size, alignment);
    while ((scope->flags & SCOPE_DEFER) && scope->defer_owner) scope = scope->defer_owner;
    u32 index;
    Register* row = append_register(&scope->local_registers, &index);
    if (!row) return INVALID_REGISTER_ID;
    row->kind = REGISTER_LOCAL;
    row->size = size;
    row->alignment = alignment;
    row->owner = scope;
    row->hints = get_hints_for_type(type);
    return Register_Id{scope, index, REGISTER_LOCAL, REGISTER_LOCAL, {0, 0}};
}

Register_Id allocate_a_register_for_call_data(Scope* owner, Sub_Program* sub_program, u32 size) {
    u32 index;
    Register* row = append_register(&global_compiler_state.call_data_registers, &index);
    if (!row) return INVALID_REGISTER_ID;
    row->kind = REGISTER_CALL_DATA;
    row->size = size;
    row->owner = owner;
    row->sub_program_scope = sub_program ? sub_program->body_scope : 0;
    return Register_Id{0, index, REGISTER_CALL_DATA, REGISTER_CALL_DATA, {0, 0}};
}

Register_Id allocate_within_register(Register_Id base, u64 offset, u32 size) {
    Register* end = get_first_non_view_register(base);
    if (!end) return INVALID_REGISTER_ID;
    u8 end_kind = end->kind;
    Scope* end_owner = end->owner;
    Register_Id id = INVALID_REGISTER_ID;
    id.table = end_kind;
    if (end_kind == REGISTER_LOCAL) {
        end->hints = (u8)((end->hints & ~(HINT_MEMORY | HINT_INTEGER | HINT_FLOAT)) | HINT_MEMORY);
        id.owner = end_owner;
    }
    // Read before the append: it may move the very table the base lives in.
    u8* staged = 0;
    if (end_kind == REGISTER_CONSTANT_DATA || end_kind == REGISTER_TYPE_DATA || end_kind == REGISTER_GLOBAL_DATA) {
        staged = get_register_constant_data_at_offset(base, offset);
    }
    Dynamic_Array* rows = get_register_table(id);
    if (!rows) return INVALID_REGISTER_ID;
    Register* row = append_register(rows, &id.index);
    if (!row) return INVALID_REGISTER_ID;
    row->kind = REGISTER_VIEW;
    row->size = size;
    row->base = base;
    row->view_offset = offset;
    row->data = staged;
    row->owner = end_owner;
    id.kind = REGISTER_VIEW;
    return id;
}

Register_Id make_register_for_sub_program_param(Scope* scope, Identifier* parameter, u32 size) {
    Sub_Program* sub_program = scope->sub_program;
    if (!sub_program) return INVALID_REGISTER_ID;
    return allocate_within_register(sub_program->register_id, parameter->call_data_offset, size);
}

//~ Placement

s64 try_to_allocate_on_a_memory_gap(Dynamic_Array* gaps, u64 size, u64 alignment) {
    if (alignment == 0) alignment = 1;
    Memory_Gap* all = (Memory_Gap*)gaps->data;
    s64 best = -1;
    b8 exact = false;
    for (u32 i = 0; i < gaps->count; i++) {
        Memory_Gap gap = all[i];
        if (gap.size < (s64)size) continue;
        u64 aligned = (gap.start + alignment - 1) / alignment * alignment;
        u64 end = gap.start + (u64)gap.size;
        if (aligned > end || end - aligned < size) continue;
        if (gap.size == (s64)size) {
            best = i;
            exact = true;
            break;
        }
        if (best < 0 || gap.size > all[best].size) best = i;
    }
    if (best < 0) return -1;

    Memory_Gap taken = all[best];
    dynamic_array_remove(gaps, (u64)best);
    if (exact) return (s64)taken.start;
    u64 aligned = (taken.start + alignment - 1) / alignment * alignment;
    u64 end = taken.start + (u64)taken.size;
    // The rest of the gap stays free, at the end of the list.
    Memory_Gap before = {taken.start, (s64)(aligned - taken.start)};
    Memory_Gap after = {aligned + size, (s64)(end - (aligned + size))};
    Memory_Gap rests[2] = {before, after};
    for (Memory_Gap rest : rests) {
        if (rest.size <= 0) continue;
        Memory_Gap* slot = (Memory_Gap*)dynamic_array_add_fast(gaps);
        if (slot) *slot = rest;
    }
    return (s64)aligned;
}

// The highest-numbered machine register of [lowest, 15] not in use, or -1.
static s32 take_highest_free(u16* in_use, u32 lowest) {
    for (s32 n = 15; n >= (s32)lowest; n--) {
        if (!(*in_use & (1u << n))) {
            *in_use |= (u16)(1u << n);
            return n;
        }
    }
    return -1;
}

Register_Placement try_to_grab_a_free_register(Register_Allocation_State* state, u32 size, u32 alignment, u8 hints) {
    Register_Placement placement = {};
    if (global_compiler_state.target_platform == TARGET_PLATFORM_AMD64) {
        s32 number = -1;
        u8 machine_class = 0;
        if (hints & HINT_INTEGER) {
            number = take_highest_free(&state->integer_registers_in_use, 8);
            machine_class = MACHINE_CLASS_INTEGER;
        } else if (hints & HINT_FLOAT) {
            // xmm0 and xmm1 are the code generator's temporaries.
            number = take_highest_free(&state->float_registers_in_use, 2);
            machine_class = MACHINE_CLASS_FLOAT;
        }
        if (number >= 0) {
            placement.machine_class = machine_class;
            placement.machine_number = (u8)number;
            placement.in_machine_register = 1;
            placement.found = 1;
            return placement;
        }
    }

    if (alignment == 0) alignment = 1;
    Free_Stack_Place* places = (Free_Stack_Place*)state->free_places.data;
    s64 best = -1;
    for (u32 i = 0; i < state->free_places.count; i++) {
        Free_Stack_Place place = places[i];
        if (place.size < (s32)size || place.offset % alignment) continue;
        if (place.size == (s32)size) {
            placement.offset = place.offset;
            placement.found = 1;
            dynamic_array_remove(&state->free_places, i);
            return placement;
        }
        if (best < 0 || place.size < places[best].size) best = i;
    }
    if (best < 0) return placement;
    placement.offset = places[best].offset;
    placement.found = 1;
    places[best].offset += size;
    places[best].size -= (s32)size;
    return placement;
}
