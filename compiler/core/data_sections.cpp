// Constant and global data. Octets are staged packed in the sections' buckets, where they
// never move, while each register's image offset is aligned; the image writer copies one
// to the other. A pointer inside the data holds a compile-time address until a relocation
// rebases it, so every copy that carries pointers records their relocations.
#include <string.h>

#include "compiler/core/compiler_core.h"

u64 take_image_offset(u64* cursor, u64 size, u64 alignment) {
    if (alignment == 0) alignment = 1;
    u64 offset = (*cursor + alignment - 1) / alignment * alignment;
    *cursor = offset + size;
    return offset;
}

Register_Id allocate_constant_data(u32 size, u64 alignment) {
    Compiler_State* state = &global_compiler_state;
    u8* staged = data_section_allocate(&constant_data_section, size);
    if (!staged) return INVALID_REGISTER_ID;
    // Buckets are reused from compile to compile: the image must not carry the last
    // compile's octets where a constant leaves some unwritten.
    memset(staged, 0, size);
    Register* row = (Register*)dynamic_array_add_fast(&state->constant_registers);
    if (!row) {
        report_out_of_compiler_memory("registers");
        return INVALID_REGISTER_ID;
    }
    memset(row, 0, sizeof(*row));
    row->kind = REGISTER_CONSTANT_DATA;
    row->size = size;
    row->data = staged;
    row->data_offset = take_image_offset(&state->constant_data_size, size, alignment);
    return Register_Id{0, state->constant_registers.count - 1, REGISTER_CONSTANT_DATA, REGISTER_CONSTANT_DATA, {0, 0}};
}

Relocation* add_a_relocation(Register_Id where, Register_Id target, u8 constant_list) {
    Compiler_State* state = &global_compiler_state;
    Dynamic_Array* list = constant_list ? &state->constant_relocations : &state->global_relocations;
    Relocation* relocation = (Relocation*)dynamic_array_add_fast(list);
    if (!relocation) {
        report_out_of_compiler_memory("relocations");
        return 0;
    }
    memset(relocation, 0, sizeof(*relocation));
    relocation->where = where;
    relocation->target = target;
    relocation->where_area = where.table;
    return relocation;
}

//~ Copying constants

static void store_integer(u8* to, u64 value, u32 size) {
    switch (size) {
        case 1: *to = (u8)value; break;
        case 2: { u16 v = (u16)value; memcpy(to, &v, 2); } break;
        case 4: store_u32(to, (u32)value); break;
        case 8: store_u64(to, value); break;
    }
}

// A pointer-sized view at offset inside the destination, pointing at target once loaded.
static b8 add_a_pointer_relocation(Register_Id destination, u64 offset, Register_Id target) {
    Register_Id where = allocate_within_register(destination, offset, global_compiler_state.address_size);
    return register_id_is_valid(where) && add_a_relocation(where, target, 1);
}

b8 copy_constant_value_data(Register_Id destination, Identifier* type, Value* value) {
    Constant* constant = &value->constant;
    Identifier* own_type = constant->type;
    if ((constant->mask & CONSTANT_TYPED) && own_type && !own_type->pointer_depth && (own_type->flags & TYPE_SUB_PROGRAM)) {
        print_error_on_trace(value->source, "Taking the address of a sub-program in global/constant data does not work "
                                            "as intended for now.\nThis will be addressed in the future.");
        return false;
    }
    Register* end = get_first_non_view_register(destination);
    if (!end || end->kind > REGISTER_GLOBAL_DATA) return true;
    u8* to = get_register_constant_data(destination);
    if (!to) return true;
    u32 size = type ? type->size : constant->size;

    if (constant->mask & CONSTANT_INTEGER) {
        store_integer(to, constant->data, size);
        return true;
    }
    if (constant->mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &constant->data, 8);
        if (size == 8) memcpy(to, &real, 8);
        if (size == 4) {
            f32 narrow = (f32)real;
            memcpy(to, &narrow, 4);
        }
        return true;
    }
    if (constant->mask & CONSTANT_STRING) {
        store_u64(to, constant->data);
        store_u64(to + 8, constant->length);
        if (!constant->data) return true;
        // A literal kept as octets for an array never had its text placed.
        Register_Id text = constant->text_register;
        if (!register_id_is_valid(text)) text = get_or_add_string_text((u8*)constant->data, constant->length);
        return register_id_is_valid(text) && add_a_pointer_relocation(destination, 0, text);
    }
    if (constant->mask & (CONSTANT_TYPED | CONSTANT_TYPE_INFO)) {
        Identifier* layout = type ? type : own_type ? own_type : constant->further_type;
        if (!layout) return true;
        if (layout->pointer_depth || layout->leaf_type == global_compiler_state.basic_types[BASIC_TYPE_TYPE]) {
            store_u64(to, constant->data);
            return true;
        }
        if (layout->flags & TYPE_STRUCT) {
            u8* source = get_register_constant_data(constant->register_id);
            if (!source) return true;
            if (!maybe_add_relocations_for_constant_struct_data_copy(destination, layout, source, 0)) return false;
            memmove(to, source, layout->size);
        }
    }
    return true;
}

// Every constant relocation whose place is staged at the address gets a twin at the
// destination's offset. The twins are appended after the scan, which they would extend.
static b8 copy_relocations_at(u8* place, Register_Id destination, u64 offset, u32 size) {
    Compiler_State* state = &global_compiler_state;
    Dynamic_Array* kept = &state->struct_relocations;
    u32 first_kept = kept->count;
    u32 count = state->constant_relocations.count;
    for (u32 i = 0; i < count; i++) {
        Relocation relocation = ((Relocation*)state->constant_relocations.data)[i];
        if (relocation.where.table != REGISTER_CONSTANT_DATA && relocation.where.table != REGISTER_TYPE_DATA) continue;
        if (get_register_constant_data(relocation.where) != place) continue;
        Register_Id view = allocate_within_register(destination, offset, size);
        Struct_Relocation_Entry* entry = (Struct_Relocation_Entry*)dynamic_array_add_fast(kept);
        if (!register_id_is_valid(view) || !entry) {
            if (!entry) report_out_of_compiler_memory("relocations");
            kept->count = first_kept;
            return false;
        }
        *entry = Struct_Relocation_Entry{view, relocation.target};
    }
    b8 added = true;
    for (u32 i = first_kept; i < kept->count && added; i++) {
        Struct_Relocation_Entry* entry = (Struct_Relocation_Entry*)kept->data + i;
        added = add_a_relocation(entry->where, entry->target, 1) != 0;
    }
    kept->count = first_kept;
    return added;
}

b8 maybe_add_relocations_for_constant_struct_data_copy(Register_Id destination, Identifier* type, u8* source, u64 offset) {
    u32 address_size = global_compiler_state.address_size;
    if (type->flags & TYPE_ARRAY) {
        Identifier* data = get_struct_member_from_string(type, STR("data"));
        if (data) {
            u32 size = data->type ? data->type->size : address_size;
            if (!copy_relocations_at(source + offset + data->member_offset, destination, offset + data->member_offset, size)) {
                return false;
            }
        }
    }
    // A String copied as a struct constant of its own.
    if (offset == 0 && (type->flags & TYPE_STRING) && !copy_relocations_at(source, destination, 0, address_size)) {
        return false;
    }
    Scope* members = type->member_scope;
    if (!members) return true;
    for (Identifier* member = (Identifier*)members->variables.first_element; member; member = member->next) {
        Identifier* member_type = member->type;
        // A member brought in by #using lies inside the member that carries it, whose walk covers it.
        if (!member_type || member_type->pointer_depth || (member->flags & IDENTIFIER_USING_MEMBER)) continue;
        u64 at = offset + member->member_offset;
        Identifier* leaf = member_type->leaf_type ? member_type->leaf_type : member_type;
        if (leaf->flags & TYPE_STRING) {
            if (!copy_relocations_at(source + at, destination, at, address_size)) return false;
        } else if (member_type->flags & TYPE_STRUCT) {
            if (!maybe_add_relocations_for_constant_struct_data_copy(destination, member_type, source, at)) return false;
        }
    }
    return true;
}
