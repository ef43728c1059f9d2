// The small builders of bytecode records: stack frames and the copies of constants and
// registers, shared by the scope generator and the inline returns.
#include "compiler/bytecode/bytecode.h"

static Bytecode_Instruction* append_frame(Dynamic_Array* bytecode, u8 kind, Scope* scope, Trace trace) {
    Bytecode_Instruction* i = insert_bytecode(bytecode, kind, trace);
    if (!i) return 0;
    i->frame.scope = scope;
    i->frame.flags = scope->flags;
    return i;
}

Bytecode_Instruction* bc_push_stack_frame(Dynamic_Array* bytecode, Scope* scope, Trace trace) {
    return append_frame(bytecode, BYTECODE_PUSH_STACK_FRAME, scope, trace);
}

Bytecode_Instruction* pop_stack_frame(Dynamic_Array* bytecode, Scope* scope, Trace trace) {
    return append_frame(bytecode, BYTECODE_POP_STACK_FRAME, scope, trace);
}

//~ Copies

static u8 type_size_octet(Identifier* type) { return type ? (u8)type->size : 0; }

b8 make_bytecode_for_constant_copy(Scope* scope, Dynamic_Array* bytecode, Instruction* instruction, Dynamic_Array* patches) {
    Value* destination = &instruction->copy.destination;
    Value* source = &instruction->copy.source;
    Constant* constant = &source->constant;
    maybe_update_register_lifetime(bytecode, scope, 1, destination);

    b8 indirect = instruction->kind == INSTRUCTION_COPY_CONSTANT_INDIRECT;
    Identifier* destination_type = destination->dynamic.type;
    if (indirect && destination_type) destination_type = type_to_dereference_of_type(destination_type);

    Identifier* own_type = constant->type;
    u8 kind;
    if (constant->mask & CONSTANT_NUMBER) {
        kind = indirect ? BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT : BYTECODE_COPY_CONSTANT_NUMBER;
    } else if ((constant->mask & CONSTANT_TYPED) && own_type &&
               (own_type->pointer_depth || own_type == global_compiler_state.basic_types[BASIC_TYPE_TYPE])) {
        kind = indirect ? BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT : BYTECODE_COPY_CONSTANT_NUMBER;
    } else if (constant->mask & CONSTANT_STRING) {
        kind = indirect ? BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT : BYTECODE_COPY_CONSTANT_STRUCT;
    } else if (own_type && (own_type->flags & TYPE_SUB_PROGRAM) && !own_type->pointer_depth) {
        kind = BYTECODE_COPY_SUB_PROGRAM_ADDRESS;
    } else {
        kind = indirect ? BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT : BYTECODE_COPY_CONSTANT_STRUCT;
    }

    Bytecode_Instruction* i = insert_bytecode(bytecode, kind, destination->source);
    if (!i) return false;
    i->operand_a = destination->dynamic.register_id;
    switch (kind) {
        case BYTECODE_COPY_CONSTANT_NUMBER:
        case BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT: {
            Bytecode_Copy_Constant_Number* k = &i->copy_constant_number;
            k->destination_size = type_size_octet(destination_type);
            k->constant_size = (u8)constant->size;
            k->immediate = constant->data;
            k->has_companion = (constant->mask & CONSTANT_COMPANION) != 0;
            k->companion = k->has_companion ? constant->companion : 0xFFFFFFFFu;
        } break;
        case BYTECODE_COPY_SUB_PROGRAM_ADDRESS: {
            Bytecode_Copy_Sub_Program_Address* k = &i->copy_sub_program_address;
            k->sub_program = own_type;
            k->distance = 0;
            k->through_address = indirect;
            u32* patch = (u32*)dynamic_array_add_fast(patches);
            if (!patch) {
                report_out_of_compiler_memory("bytecode");
                return false;
            }
            *patch = bytecode->count - 1;
        } break;
        default:
            // A string's own String record, or the constant block of a struct.
            i->copy.source = constant->register_id;
            break;
    }
    return true;
}

b8 make_bytecode_for_variable_copy(Scope* scope, Dynamic_Array* bytecode, Instruction* instruction) {
    Value* destination = &instruction->copy.destination;
    Value* source = &instruction->copy.source;
    maybe_update_register_lifetime(bytecode, scope, 1, destination);
    maybe_update_register_lifetime(bytecode, scope, 1, source);
    u8 kind = instruction->kind == INSTRUCTION_COPY_INDIRECT ? BYTECODE_COPY_INDIRECT : BYTECODE_COPY;
    Bytecode_Instruction* i = insert_bytecode(bytecode, kind, destination->source);
    if (!i) return false;
    i->copy.destination = destination->dynamic.register_id;
    i->copy.source = source->dynamic.register_id;
    return true;
}
