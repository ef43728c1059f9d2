// Intermediate instructions and their emitters. Each scope keeps its instructions in
// buckets of the instruction pool; an emitter may rewrite the last one instead of
// appending (a folded copy, a load in place of an address), but never an earlier one.
#include <stddef.h>
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 is_indirect(Value* value) { return value->kind & VALUE_INDIRECT; }
static b8 is_constant(Value* value) { return value->kind & VALUE_CONSTANT; }
static b8 on_amd64() { return global_compiler_state.target_platform == TARGET_PLATFORM_AMD64; }

u32 get_instruction_size(u8 kind) {
    u64 operands;
    switch (kind) {
        case INSTRUCTION_SET_TO_ZERO:
        case INSTRUCTION_MAKE_BOOLEAN: operands = sizeof(Value); break;
        case INSTRUCTION_COPY_CONSTANT:
        case INSTRUCTION_COPY_CONSTANT_INDIRECT:
        case INSTRUCTION_COPY:
        case INSTRUCTION_COPY_INDIRECT:
        case INSTRUCTION_TAKE_ADDRESS:
        case INSTRUCTION_COMPARE:
        case INSTRUCTION_COMPARE_CONSTANT:
        case INSTRUCTION_FLOAT_COMPARE:
        case INSTRUCTION_FLOAT_COMPARE_CONSTANT:
        case INSTRUCTION_BLOCK_COMPARE:
        case INSTRUCTION_BLOCK_COMPARE_CONSTANT:
        case INSTRUCTION_TEST_FLAGS: operands = sizeof(Instruction_Copy); break;
        case INSTRUCTION_CAST: operands = sizeof(Instruction_Cast); break;
        case INSTRUCTION_LOAD:
        case INSTRUCTION_ADDRESS:
        case INSTRUCTION_ADDRESS_INDIRECT: operands = sizeof(Instruction_Address); break;
        case INSTRUCTION_ARITHMETIC:
        case INSTRUCTION_ARITHMETIC_CONSTANT: operands = sizeof(Instruction_Arithmetic); break;
        case INSTRUCTION_COMPARE_RESULT: operands = sizeof(Instruction_Compare_Result); break;
        case INSTRUCTION_END:
        case INSTRUCTION_DEBUG_BREAK:
        case INSTRUCTION_NESTED_SCOPE:
        case INSTRUCTION_SCOPE_START:
        case INSTRUCTION_SCOPE_END: operands = sizeof(Instruction_Scope); break;
        default: return sizeof(Instruction);
    }
    return (u32)(offsetof(Instruction, operands) + operands);
}

// Most instructions are copies and arithmetic, far shorter than the largest kinds: each
// takes only its own size of the shared instruction buckets.
Instruction* allocate_an_instruction(Scope* scope, u8 kind) {
    Instruction* instruction = (Instruction*)bucket_array_append_sized(&scope->instructions, get_instruction_size(kind));
    if (!instruction) {
        report_out_of_compiler_memory("instructions");
        return 0;
    }
    instruction->kind = kind;
    // A switch's case arrays are freed by the reset, which finds them through this list.
    if (kind == INSTRUCTION_SWITCH) {
        Instruction** noted = (Instruction**)dynamic_array_add_fast(&global_compiler_state.switch_instructions);
        if (!noted) {
            report_out_of_compiler_memory("switch statements");
            return 0;
        }
        *noted = instruction;
    }
    return instruction;
}

Instruction* get_last_instruction(Scope* scope) {
    return scope->instructions.count ? (Instruction*)scope->instructions.last_element : 0;
}

// The value an instruction writes, for the kinds a copy may be folded into.
static Value* get_result_value(Instruction* instruction) {
    switch (instruction->kind) {
        case INSTRUCTION_SET_TO_ZERO:
        case INSTRUCTION_MAKE_BOOLEAN: return &instruction->value;
        case INSTRUCTION_COPY_CONSTANT:
        case INSTRUCTION_COPY:
        case INSTRUCTION_TAKE_ADDRESS: return &instruction->copy.destination;
        case INSTRUCTION_CAST: return &instruction->cast.destination;
        case INSTRUCTION_LOAD:
        case INSTRUCTION_ADDRESS: return &instruction->address.destination;
        case INSTRUCTION_COMPARE_RESULT: return &instruction->compare_result.destination;
    }
    return 0;
}

b8 check_if_value_is_constant_or_temporary(Value* value) {
    if (is_constant(value)) return true;
    if (!(value->kind & VALUE_FRESH)) return false;
    Register* row = get_first_non_view_register(value->dynamic.register_id);
    return row && !(row->flags & REGISTER_OWNED_BY_IDENTIFIER);
}

//~ Copies

// The kind that writes through the destination's address instead, or 0 when the kind has
// none and its result would land in the address register itself.
static u8 get_indirect_kind(u8 kind) {
    switch (kind) {
        case INSTRUCTION_COPY_CONSTANT: return INSTRUCTION_COPY_CONSTANT_INDIRECT;
        case INSTRUCTION_COPY: return INSTRUCTION_COPY_INDIRECT;
        case INSTRUCTION_ADDRESS: return INSTRUCTION_ADDRESS_INDIRECT;
        case INSTRUCTION_TAKE_ADDRESS: return 0;
    }
    return kind;  // the rest follow the destination's own indirect bit
}

b8 try_to_get_rid_of_copy(Scope* scope, Value* destination, Value* source) {
    // A source read through its address is the memory, not the register that was written.
    if (is_constant(source) || is_indirect(source)) return false;
    Instruction* last = get_last_instruction(scope);
    if (!last) return false;
    switch (last->kind) {
        case INSTRUCTION_SET_TO_ZERO:
        case INSTRUCTION_COPY_CONSTANT:
        case INSTRUCTION_COPY:
        case INSTRUCTION_CAST:
        case INSTRUCTION_LOAD:
        case INSTRUCTION_ADDRESS:
        case INSTRUCTION_TAKE_ADDRESS:
        case INSTRUCTION_COMPARE_RESULT: break;
        default: return false;
    }
    Value* result = get_result_value(last);
    if (!registers_match(result->dynamic.register_id, source->dynamic.register_id)) return false;
    // A result that travels in RAX or XMM0 is written by a copy alone: the code of any
    // other instruction uses those registers as its scratch.
    Register* target = is_indirect(destination) ? 0 : get_register(destination->dynamic.register_id);
    if (target && target->return_register && last->kind != INSTRUCTION_SET_TO_ZERO &&
        last->kind != INSTRUCTION_COPY_CONSTANT && last->kind != INSTRUCTION_COPY) {
        return false;
    }
    if (check_if_value_is_constant_or_temporary(result)) {
        u8 kind = is_indirect(destination) ? get_indirect_kind(last->kind) : last->kind;
        if (!kind) return false;
        last->kind = kind;
        *result = *destination;
        return true;
    }
    // The source is a variable's: its write is made once more, to the destination.
    if (last->kind == INSTRUCTION_SET_TO_ZERO) return instruction_set_to_zero(scope, destination);
    if (last->kind == INSTRUCTION_COPY_CONSTANT) {
        Value constant = last->copy.source;
        return instruction_copy_constant(scope, destination, &constant);
    }
    return false;
}

void set_instruction_for_a_variable_copy(Instruction* instruction, Value* destination, Value* source) {
    instruction->copy.destination = *destination;
    instruction->copy.source = *source;
    if (is_indirect(destination)) instruction->kind = INSTRUCTION_COPY_INDIRECT;
}

void set_instruction_for_a_constant_copy(Instruction* instruction, Value* destination, Value* source) {
    instruction->copy.destination = *destination;
    instruction->copy.source = *source;
    if (is_indirect(destination)) instruction->kind = INSTRUCTION_COPY_CONSTANT_INDIRECT;
}

b8 instruction_set_to_zero(Scope* scope, Value* value) {
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_SET_TO_ZERO);
    if (!instruction) return false;
    instruction->value = *value;
    return true;
}

static f64 constant_real(Constant* constant) {
    f64 value;
    memcpy(&value, &constant->data, 8);
    return value;
}

// A typed constant may hold only the octets of its size: -1 of an s8 can be 0xFF.
static b8 is_integer_constant(Constant* constant, u64 value) {
    if (!(constant->mask & CONSTANT_INTEGER)) return false;
    if (constant->data == value) return true;
    u32 size = constant->size;
    if (!(constant->mask & CONSTANT_TYPED) || !size || size >= 8) return false;
    u64 mask = (1ull << (size * 8)) - 1;
    return !(constant->data & ~mask) && constant->data == (value & mask);
}

static b8 is_real_constant(Constant* constant, f64 value) {
    return (constant->mask & CONSTANT_REAL) && constant_real(constant) == value;
}

// +0.0 alone: -0.0 keeps its sign through constant data.
static b8 is_zero_bits_real(Constant* constant) { return (constant->mask & CONSTANT_REAL) && constant->data == 0; }

b8 list_sub_program(Sub_Program* sub_program) {
    b8 foreign = sub_program->flags & IDENTIFIER_FOREIGN;
    u64 listed = foreign ? IDENTIFIER_IN_FOREIGN_LIST : IDENTIFIER_IN_SUB_PROGRAM_LIST;
    if (sub_program->flags & listed) return true;
    Dynamic_Array* list = foreign ? &global_compiler_state.foreign_sub_programs : &global_compiler_state.sub_programs;
    Sub_Program** slot = (Sub_Program**)dynamic_array_add_fast(list);
    if (!slot) {
        report_out_of_compiler_memory("sub-programs");
        return false;
    }
    *slot = sub_program;
    sub_program->sub_program_index = list->count - 1;
    sub_program->flags |= listed;
    return true;
}

static b8 copy_from_register(Scope* scope, Value* destination, Value* source) {
    if (try_to_get_rid_of_copy(scope, destination, source)) return true;
    // The same register reached the same way is no copy; through its address it is one.
    if (is_indirect(destination) == is_indirect(source) &&
        registers_match(destination->dynamic.register_id, source->dynamic.register_id)) {
        return true;
    }
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_COPY);
    if (!instruction) return false;
    set_instruction_for_a_variable_copy(instruction, destination, source);
    return true;
}

b8 instruction_copy_constant(Scope* scope, Value* destination, Value* constant_value) {
    if (try_to_get_rid_of_copy(scope, destination, constant_value)) return true;
    Constant* constant = &constant_value->constant;
    Identifier* type = constant->mask & CONSTANT_UNSIGNED ? get_basic_type(BASIC_TYPE_U64)
                     : constant->mask & CONSTANT_SIGNED   ? get_basic_type(BASIC_TYPE_S64)
                     : constant->mask & CONSTANT_REAL     ? get_basic_type(BASIC_TYPE_F32)
                     : constant->mask & CONSTANT_STRING   ? get_basic_type(BASIC_TYPE_STRING)
                                                          : constant->type;
    b8 integer_like = type && (type->pointer_depth || (type->flags & (TYPE_UNSIGNED | TYPE_SIGNED | TYPE_BOOLEAN | TYPE_ENUM)));
    if ((integer_like && is_integer_constant(constant, 0)) || is_zero_bits_real(constant)) {
        return instruction_set_to_zero(scope, destination);
    }
    if ((constant->mask & CONSTANT_REAL) && on_amd64()) {
        Value in_data;
        if (!get_or_add_float_constant(&in_data, constant_value)->kind) return false;
        return copy_from_register(scope, destination, &in_data);
    }
    Identifier* own_type = constant->type;
    if ((constant->mask & CONSTANT_TYPED) && own_type && (own_type->flags & TYPE_SUB_PROGRAM) && !list_sub_program(own_type)) {
        return false;
    }
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_COPY_CONSTANT);
    if (!instruction) return false;
    set_instruction_for_a_constant_copy(instruction, destination, constant_value);
    return true;
}

b8 instruction_copy_variable(Scope* scope, Value* destination, Value* source) {
    return copy_from_register(scope, destination, source);
}

b8 instruction_copy_value(Scope* scope, Value* destination, Value* source) {
    return is_constant(source) ? instruction_copy_constant(scope, destination, source)
                               : instruction_copy_variable(scope, destination, source);
}

b8 update_stack_trace_location(Scope* scope, Register_Id record, u32 first, u32 second, Trace trace) {
    Identifier* u32_type = get_basic_type(BASIC_TYPE_U32);
    u32 numbers[2] = {first, second};
    for (u32 i = 0; i < 2; i++) {
        Register_Id view = allocate_within_register(record, STACK_TRACE_LOCATION_OFFSET + i * 4, u32_type->size);
        if (!register_id_is_valid(view)) return false;
        Value destination, constant;
        make_dynamic_value_from_register(&destination, view, u32_type, trace);
        make_constant_value_from_integer(&constant, numbers[i], u32_type, trace);
        if (!instruction_copy_constant(scope, &destination, &constant)) return false;
    }
    return true;
}

//~ Casts, addresses and booleans

static Identifier* get_value_type(Value* value) {
    Identifier* type = get_type_from_value(value);
    return type ? type : infer_type_from_value(0, value);
}

// An enum converts as its base.
static b8 is_unsigned(Identifier* type) {
    type = get_enum_base(type);
    return type && !type->pointer_depth && (type->flags & TYPE_UNSIGNED);
}

b8 instruction_cast(Scope* scope, u8 cast_kind, Value* destination, Value* source) {
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_CAST);
    if (!instruction) return false;
    instruction->cast.cast_kind = cast_kind;
    instruction->cast.destination = *destination;
    instruction->cast.source = *source;
    Identifier* from = get_value_type(source);
    Identifier* to = get_value_type(destination);
    b8 unsigned_source = false;
    if (cast_kind == CAST_INTEGER_TO_LARGER) {
        to = get_enum_base(to);
        unsigned_source = is_unsigned(from) && to && (to->flags & (TYPE_SIGNED | TYPE_UNSIGNED));
    }
    if (cast_kind == CAST_INTEGER_TO_REAL) unsigned_source = is_unsigned(from);
    if (cast_kind == CAST_REAL_TO_INTEGER) unsigned_source = is_unsigned(to);
    instruction->cast.unsigned_source = unsigned_source;
    return true;
}

b8 try_to_replace_an_lea_by_a_dereference(Scope* scope, Value* destination, Value* base, Value* index) {
    if (!is_constant(index) || !is_integer_constant(&index->constant, 0)) return false;
    Instruction* last = get_last_instruction(scope);
    if (!last || last->kind != INSTRUCTION_ADDRESS) return false;
    Value* result = &last->address.destination;
    if (!registers_match(result->dynamic.register_id, base->dynamic.register_id) || !(result->kind & VALUE_FRESH)) return false;
    last->kind = INSTRUCTION_LOAD;
    *result = *destination;
    return true;
}

// The octets one step of the index moves: the size of what the base points at (of the
// value read, for a load). It is settled here, where the destination is still the
// computation's own: a copy folded into it later may send the address into an element of
// an array of addresses, whose own size is not the step.
static u32 get_index_step(u8 byte_index, u8 kind, Value* destination, Value* base) {
    if (byte_index) return 1;
    Identifier* type = kind == INSTRUCTION_LOAD ? get_value_type(destination)
                                                : type_to_dereference_of_type(base->dynamic.type);
    return type ? type->size : 0;
}

// The code's address forms scale an index by at most 0x7FFF and read at most 0xFFFF
// octets at once.
#define LARGEST_INDEX_STEP  0x7FFFu
#define LARGEST_READ        0xFFFFu

static Value make_size_constant(u64 size, Basic_Type_Slot slot, Trace trace);
static b8 emit_arithmetic(Scope* scope, u8 kind, u64 operator_bit, Value* destination, Value* right);

// index * step in an s64 of its own, for a step the address forms cannot scale by.
static b8 scale_index(Scope* scope, Value* index, u32 step, Value* out) {
    if (is_constant(index)) {
        *out = *index;
        out->constant.data *= step;
        return true;
    }
    Identifier* s64_type = get_basic_type(BASIC_TYPE_S64);
    Value wide;
    if (!cast_value_to_type(&wide, scope, s64_type, index)->kind) return false;
    if (check_if_value_is_constant_or_temporary(&wide) && !is_indirect(&wide)) {
        *out = wide;
    } else if (!make_dynamic_value(out, scope, s64_type, index->source)->kind || !copy_from_register(scope, out, &wide)) {
        return false;
    }
    Value size = make_size_constant(step, BASIC_TYPE_S64, index->source);
    return emit_arithmetic(scope, INSTRUCTION_ARITHMETIC_CONSTANT, OP_MULTIPLY, out, &size);
}

b8 instruction_memory_dereference(Scope* scope, u8 byte_index, u8 kind, Value* destination, Value* base, Value* index) {
    u32 step = get_index_step(byte_index, kind, destination, base);
    if (kind == INSTRUCTION_LOAD) {
        Identifier* type = get_value_type(destination);
        if (type && type->size > LARGEST_READ) {
            print_error_on_trace(destination->source,
                                 "A value of %'u octets is too large to be read through an address at once: read its "
                                 "members, or keep its address.",
                                 type->size);
            return false;
        }
    }
    Value scaled;
    if (step > LARGEST_INDEX_STEP) {
        if (!scale_index(scope, index, step, &scaled)) return false;
        index = &scaled;
        step = 1;
    }
    Instruction* instruction = allocate_an_instruction(scope, kind);
    if (!instruction) return false;
    instruction->address.destination = *destination;
    instruction->address.base = *base;
    instruction->address.index = *index;
    instruction->address.byte_index = byte_index;
    instruction->address.element_size = step;
    return true;
}

b8 instruction_make_value_boolean(Scope* scope, Value* value) {
    if (value->kind & VALUE_BOOLEAN) return true;
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_MAKE_BOOLEAN);
    if (!instruction) return false;
    instruction->value = *value;
    value->kind |= VALUE_BOOLEAN;
    return true;
}

//~ Arithmetic

static b8 emit_arithmetic(Scope* scope, u8 kind, u64 operator_bit, Value* destination, Value* right) {
    Instruction* instruction = allocate_an_instruction(scope, kind);
    if (!instruction) return false;
    instruction->arithmetic.operator_bit = operator_bit;
    instruction->arithmetic.destination = *destination;
    instruction->arithmetic.source = *right;
    return true;
}

// The type an address points at, when the destination is an address whose pointed-to
// type is large enough for its arithmetic to count in elements.
static Identifier* get_element_of_address(Value* destination) {
    Identifier* type = get_value_type(destination);
    if (!type || !type->pointer_depth) return 0;
    Identifier* element = type_to_dereference_of_type(type);
    return element && element->size >= 2 ? element : 0;
}

static Value make_size_constant(u64 size, Basic_Type_Slot slot, Trace trace) {
    Value constant;
    make_constant_value_from_integer(&constant, size, get_basic_type(slot), trace);
    return constant;
}

static b8 report_address_operator(Value* at, u64 operator_bit) {
    print_error_on_trace(at->source, "Operator '%s' cannot be used on a memory address.", operator_to_c_string(operator_bit));
    return false;
}

// The memory at an indirect destination is loaded into a temporary, worked on, and stored back.
static b8 load_indirect(Scope* scope, Value* destination, Value* temporary) {
    Identifier* type = get_value_type(destination);
    if (!type || !make_dynamic_value(temporary, scope, type, destination->source)->kind) return false;
    Value address = *destination;
    address.kind &= (u8)~VALUE_INDIRECT;
    Value zero = make_size_constant(0, BASIC_TYPE_U64, destination->source);
    return instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, temporary, &address, &zero);
}

static b8 store_indirect(Scope* scope, Value* destination, Value* temporary) {
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_COPY);
    if (!instruction) return false;
    set_instruction_for_a_variable_copy(instruction, destination, temporary);
    return true;
}

// Operators for which a right operand 0 changes nothing.
#define OPERATORS_WITHOUT_EFFECT_OF_ZERO                                                                   \
    (OP_ADD | OP_SUBTRACT | OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT | OP_BIT_OR | \
     OP_BIT_XOR | OP_LOGICAL_OR)

b8 instruction_arithmetic_constant(Scope* scope, u64 operator_bit, Value* destination, Value* constant_value) {
    Constant* constant = &constant_value->constant;
    b8 zero = is_integer_constant(constant, 0) || is_real_constant(constant, 0.0);
    if (operator_bit & (OP_DIVIDE | OP_MODULO) && zero) {
        print_error_on_trace(constant_value->source, "It looks like you are dividing by zero.");
        return false;
    }
    if (operator_bit & (OP_MULTIPLY | OP_DIVIDE)) {
        if (is_integer_constant(constant, 1) || is_real_constant(constant, 1.0)) return true;
        if ((constant->mask & CONSTANT_SIGNED) && is_integer_constant(constant, ~0ull)) {
            return instruction_arithmetic(scope, OP_NEGATE, destination, destination);
        }
        if (zero) return instruction_set_to_zero(scope, destination);
    }
    if ((operator_bit & OPERATORS_WITHOUT_EFFECT_OF_ZERO) && zero) {
        return operator_bit == OP_LOGICAL_OR ? instruction_make_value_boolean(scope, destination) : true;
    }
    if ((constant->mask & CONSTANT_REAL) && on_amd64()) {
        Identifier* type = get_value_type(destination);
        if (!type) return false;
        Register_Id id = allocate_constant_data(type->size, type->alignment);
        if (!register_id_is_valid(id) || !copy_constant_value_data(id, type, constant_value)) return false;
        Value in_data;
        make_dynamic_value_from_register(&in_data, id, type, constant_value->source);
        return instruction_arithmetic(scope, operator_bit, destination, &in_data);
    }
    if (is_indirect(destination)) {
        Value temporary;
        return load_indirect(scope, destination, &temporary) &&
               instruction_arithmetic_constant(scope, operator_bit, &temporary, constant_value) &&
               store_indirect(scope, destination, &temporary);
    }
    Identifier* element = get_element_of_address(destination);
    if (element && (constant_value->kind & VALUE_INTEGER_AS_POINTER) && (constant->mask & CONSTANT_INTEGER)) {
        if (operator_bit == OP_ADD) return instruction_memory_dereference(scope, 0, INSTRUCTION_ADDRESS, destination, destination, constant_value);
        if (operator_bit != OP_SUBTRACT) return report_address_operator(constant_value, operator_bit);
        Value scaled = *constant_value;
        scaled.constant.data = constant->data * element->size;
        return emit_arithmetic(scope, INSTRUCTION_ARITHMETIC_CONSTANT, OP_SUBTRACT, destination, &scaled);
    }
    return emit_arithmetic(scope, INSTRUCTION_ARITHMETIC_CONSTANT, operator_bit, destination, constant_value);
}

b8 instruction_arithmetic(Scope* scope, u64 operator_bit, Value* destination, Value* source) {
    if (is_indirect(destination)) {
        Value temporary;
        // A unary operation works on the value it is given.
        Value* right = source == destination ? &temporary : source;
        return load_indirect(scope, destination, &temporary) && instruction_arithmetic(scope, operator_bit, &temporary, right) &&
               store_indirect(scope, destination, &temporary);
    }
    Identifier* element = get_element_of_address(destination);
    b8 stepping = operator_bit & (OP_INCREMENT | OP_DECREMENT);
    if (element && (stepping || (source->kind & VALUE_INTEGER_AS_POINTER))) {
        if (stepping) {
            Value size = make_size_constant(element->size, BASIC_TYPE_S32, destination->source);
            return emit_arithmetic(scope, INSTRUCTION_ARITHMETIC_CONSTANT, operator_bit == OP_INCREMENT ? OP_ADD : OP_SUBTRACT,
                                   destination, &size);
        }
        if (operator_bit == OP_ADD) return instruction_memory_dereference(scope, 0, INSTRUCTION_ADDRESS, destination, destination, source);
        if (operator_bit != OP_SUBTRACT) return report_address_operator(source, operator_bit);
        // The element count becomes octets in a temporary, never in the variable it came from.
        Value scaled = *source;
        if (!(source->kind & VALUE_FRESH)) {
            if (!make_dynamic_value(&scaled, scope, source->dynamic.type, source->source)->kind) return false;
            if (!copy_from_register(scope, &scaled, source)) return false;
        }
        Value size = make_size_constant(element->size, BASIC_TYPE_S64, source->source);
        return instruction_arithmetic_constant(scope, OP_MULTIPLY, &scaled, &size) &&
               emit_arithmetic(scope, INSTRUCTION_ARITHMETIC, OP_SUBTRACT, destination, &scaled);
    }
    return emit_arithmetic(scope, INSTRUCTION_ARITHMETIC, operator_bit, destination, source);
}

//~ Compares

// 13, 15 or 17 by the left operand's type; an address compares as an integer.
static u8 get_compare_kind(Value* left, u8 integer, u8 real, u8 block) {
    Identifier* type = get_value_type(left);
    if (!type || type->pointer_depth) return integer;
    if (type->flags & TYPE_FLOAT) return real;
    if (type->flags & TYPE_STRING) return block;
    return integer;
}

static b8 emit_compare(Scope* scope, u8 kind, Value* left, Value* right) {
    Instruction* instruction = allocate_an_instruction(scope, kind);
    if (!instruction) return false;
    instruction->copy.destination = *left;
    instruction->copy.source = *right;
    return true;
}

b8 instruction_cmp_variable(Scope* scope, Value* left, Value* right) {
    u8 kind = get_compare_kind(left, INSTRUCTION_COMPARE, INSTRUCTION_FLOAT_COMPARE, INSTRUCTION_BLOCK_COMPARE);
    return emit_compare(scope, kind, left, right);
}

b8 instruction_cmp_constant(Scope* scope, Value* left, Value* constant_value) {
    // A float is compared with a constant of its own type; on AMD64 that constant lies in data.
    Identifier* left_type = get_value_type(left);
    Value fitted;
    if (left_type && !left_type->pointer_depth && (left_type->flags & TYPE_FLOAT) &&
        !(constant_value->constant.mask & CONSTANT_STRING)) {
        if (!cast_constant_to_type(&fitted, left_type, constant_value)->kind) return false;
        constant_value = &fitted;
    }
    Constant* constant = &constant_value->constant;
    if ((constant->mask & CONSTANT_REAL) && on_amd64()) {
        Value in_data;
        if (!get_or_add_float_constant(&in_data, constant_value)->kind) return false;
        return instruction_cmp_variable(scope, left, &in_data);
    }
    u8 kind = constant->mask & CONSTANT_STRING
                  ? (u8)INSTRUCTION_BLOCK_COMPARE_CONSTANT
                  : get_compare_kind(left, INSTRUCTION_COMPARE_CONSTANT, INSTRUCTION_FLOAT_COMPARE_CONSTANT,
                                     INSTRUCTION_COMPARE_CONSTANT);
    return emit_compare(scope, kind, left, constant_value);
}

b8 instruction_cmp(Scope* scope, Value* left, Value* right) {
    return right->kind & VALUE_REGISTER ? instruction_cmp_variable(scope, left, right)
                                        : instruction_cmp_constant(scope, left, right);
}

b8 instruction_get_cmp_result(Scope* scope, u64 operator_bit, Value* destination, Value* compared) {
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_COMPARE_RESULT);
    if (!instruction) return false;
    instruction->compare_result.destination = *destination;
    instruction->compare_result.operator_bit = operator_bit;
    Identifier* type = get_value_type(compared);
    if (type && !type->pointer_depth) {
        if (type->flags & TYPE_UNSIGNED) instruction->compare_result.unsigned_compare = 1;
        else if (type->flags & TYPE_FLOAT) instruction->compare_result.float_compare = 1;
    }
    return true;
}
