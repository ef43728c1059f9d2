// What follows the first form of an operand, applied from the left until the operand ends:
// calls and polymorphic instances, indexing, member access with its chains through
// pointers, the literals T.{...} and T.[...], and one trailing one-operand operator.
// Dynamic values become views and address instructions; constant ones are read out of
// constant data while compiling.
#include <string.h>

#include "compiler/parser/parser.h"

// Members of one chain a.b.c walked at once; a longer chain is refused.
#define MEMBER_CHAIN_CAPACITY 64

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* token, const char* message) {
    print_error_on_token(token, "%s", message);
    return false;
}

static b8 report_on_value(Value* value, const char* message) {
    print_error_on_trace(value->source, "%s", message);
    return false;
}

static b8 is_dot(Token* token) { return (token->kind & TOKEN_BINARY_OPERATOR) && token->value == OP_DOT; }

static b8 is_pointer(Identifier* type) { return type && type->pointer_depth; }

static b8 is_struct(Identifier* type) { return type && !type->pointer_depth && (type->flags & TYPE_STRUCT); }

// The type a Type constant holds, or null for any other value.
static Identifier* get_held_type(Value* value) {
    if (!(value->kind & VALUE_CONSTANT) || !(value->constant.mask & CONSTANT_TYPED)) return 0;
    if (get_resolved_type(value->constant.type) != get_basic_type(BASIC_TYPE_TYPE)) return 0;
    return (Identifier*)value->constant.data;
}

static Value make_offset(u64 offset, Trace trace) {
    Value constant;
    make_constant_value_from_integer(&constant, offset, get_basic_type(BASIC_TYPE_S64), trace);
    return constant;
}

//~ Calls and instances

static b8 parse_parenthesis(Operand_Context* operand, Token* open, Value* value) {
    Token* closing = (Token*)open->value;
    Identifier* named = operand->name;
    operand->name = 0;
    Identifier* held = named ? get_held_type(value) : 0;
    if (held && !(held->flags & TYPE_SUB_PROGRAM)) {
        if (held->pointer_depth || !(held->flags & TYPE_POLYMORPHIC) || !(held->flags & TYPE_STRUCT)) {
            print_error_on_trace(value->source, "Type '%s' is not a polymorphic struct.", to_tmp_c_string(named->name));
            return false;
        }
        Identifier* instance = make_struct_from_polymorphic(held, operand->scope, open, closing->next);
        if (!instance) return false;
        make_constant_value_from_type(value, instance, instance->declaration);
        return true;
    }

    Sub_Program* sub_program = 0;
    Identifier* type = get_type_from_value(value);
    if (type) type = get_signature(type);
    b8 callable = type && !type->pointer_depth && (type->flags & TYPE_SUB_PROGRAM);
    if (callable && (value->kind & VALUE_CONSTANT)) {
        callable = value->constant.mask & CONSTANT_TYPED;
        sub_program = type;
    } else if (callable && !load_value_if_indirect(operand->scope, value)) {
        return false;
    }
    if (!callable) return report(open, "It looks like you are trying to call something that is not a sub-program.");
    b8 at_compile_time = operand->compile_time != 0;
    operand->compile_time = 0;
    if (operand->constant) {
        if (!sub_program || !(sub_program->flags & IDENTIFIER_INLINE)) {
            return report(open, "Only inlined sub-programs can be used to assign a constant value like that.");
        }
        at_compile_time = true;
    }
    Value result;
    if (!parse_call(operand->scope, open, &result, !(operand->flags & EXPRESSION_STATEMENT), at_compile_time, *value)) return false;
    *value = result;
    return true;
}

//~ Literals of a named type

static b8 parse_named_literal(Operand_Context* operand, Token* open, Value* value) {
    b8 braces = open->kind & TOKEN_OPEN_BRACE;
    if (!(value->kind & VALUE_CONSTANT)) {
        return report_on_value(value, braces ? "You cannot use a dynamic value as a type to make a struct literal."
                                             : "You cannot use a dynamic value as a type to make an array literal.");
    }
    Identifier* held = get_held_type(value);
    if (!held) return report_on_value(value, "This does not seem to be a type.");
    Trace named = value->source;
    b8 made;
    if (braces) {
        Identifier* type = get_resolved_type(held);
        if (!is_struct(type)) {
            print_error_on_trace(named, "Type '%s' is not a struct type.", type_to_c_string(held));
            return false;
        }
        made = parse_struct_literal(operand->scope, type, open, operand->constant, value);
    } else {
        Identifier* type = get_or_add_array_type_from(held, named, 0);
        made = type && parse_array_literal(operand->scope, type, open, operand->constant, value);
    }
    if (made) value->source = concat_traces(named, value->source);
    return made;
}

//~ Members

// Reads the pointer at offset in the struct the base reaches (held in it, or at its
// address): it becomes the address the walk goes on from.
static b8 hop_through_pointer(Scope* scope, Value* base, b8* through_address, u64 offset, Identifier* pointer_type, Trace trace) {
    Value pointer;
    if (*through_address) {
        Value address = *base, at = make_offset(offset, trace);
        if (!make_dynamic_value(&pointer, scope, pointer_type, trace)->kind ||
            !instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, &pointer, &address, &at)) {
            return false;
        }
    } else {
        Register_Id view = allocate_within_register(base->dynamic.register_id, offset, pointer_type->size);
        if (!register_id_is_valid(view)) return false;
        Value held;
        make_dynamic_value_from_register(&held, view, pointer_type, trace);
        if (!copy_dynamic_value(&pointer, scope, &held)->kind) return false;
    }
    *base = pointer;
    *through_address = true;
    return true;
}

static b8 report_not_a_struct(Token* at) {
    return report(at, "It looks like you are trying to dereference something that is neither a struct nor an enum.");
}

// The chain a.b.c from its first name on a value in a register: views while the members
// lie in the register itself, loads through each pointer met on the way, and at the end
// the member's value, or its address when a place is wanted.
static b8 walk_member_chain(Operand_Context* operand, Token* first_name, Identifier* struct_type, Value* value, Token** next) {
    Token* names[MEMBER_CHAIN_CAPACITY];
    u32 count = 0;
    Token* end = operand->end;
    for (Token* name = first_name;;) {
        if (count == MEMBER_CHAIN_CAPACITY) return report(name, "This member chain is too long.");
        names[count++] = name;
        Token* after = name->next;
        if (at_end(after, end)) break;
        if (is_dot(after)) {
            Token* following = after->next;
            if (at_end(following, end) || !(following->kind & TOKEN_IDENTIFIER)) {
                Token* at = following ? following : after;
                print_error_on_token(at, "Expected a struct member but got '%s' instead.", token_to_c_string(at));
                return false;
            }
            name = following;
            continue;
        }
        if (after->kind & TOKEN_IDENTIFIER) {
            print_error_on_token(after, "Expected an operator here but got '%s' instead.", token_to_c_string(after));
            return false;
        }
        break;
    }
    *next = names[count - 1]->next;

    Scope* scope = operand->scope;
    Value base = *value;
    b8 through_address = false;
    if (base.kind & VALUE_INDIRECT) {
        base.kind &= (u8)~VALUE_INDIRECT;
        through_address = true;
        // The register holds the address of a pointer: the pointer is read first.
        Identifier* held = type_to_dereference_of_type(base.dynamic.type);
        if (held && held->pointer_depth) {
            base.kind |= VALUE_INDIRECT;
            if (!load_value_if_indirect(scope, &base)) return false;
        }
    } else if (is_pointer(base.dynamic.type)) {
        through_address = true;
    }
    Identifier* current = struct_type;
    Identifier* member = 0;
    u64 offset = 0;
    Trace trace = value->source;
    for (u32 i = 0; i < count; i++) {
        Token* name = names[i];
        trace = concat_traces(value->source, make_trace_from_token(name));
        if (member && (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER)) {
            return report(name, "It looks like you are trying to dereference a member from a fixed-size array embedded in the "
                                "struct, which is illegal.");
        }
        if (i) {
            Identifier* type = get_resolved_type(member->type);
            if (type->pointer_depth == 1) {
                if (!hop_through_pointer(scope, &base, &through_address, offset, member->type, trace)) return false;
                offset = 0;
                type = type_to_dereference_of_type(type);
            }
            if (!is_struct(type)) return report_not_a_struct(name);
            current = type;
        }
        member = get_struct_member_from_token(current, name);
        if (!member) return false;
        if (member->flags & IDENTIFIER_CONSTANT) return report(name, "You cannot dereference a constant member from a struct instance.");
        // A member brought in through a pointer member lies behind that pointer.
        while (member->flags & IDENTIFIER_USING_THROUGH_ADDRESS) {
            Identifier* carrier = member->using_through;
            Identifier* pointed = carrier ? type_to_dereference_of_type(get_resolved_type(carrier->type)) : 0;
            Identifier* inner = pointed ? get_struct_member_from_string(pointed, member->name) : 0;
            if (!inner || !hop_through_pointer(scope, &base, &through_address, offset + carrier->member_offset, carrier->type, trace)) {
                return inner ? false : report(name, "This member cannot be reached.");
            }
            offset = 0;
            member = inner;
        }
        offset += member->member_offset;
    }

    Identifier* type = member->type;
    b8 want_place = (operand->flags & EXPRESSION_PLACE) || (operand->address_wanted && at_end(*next, end));
    if (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) {
        // The elements lie in the struct: the member stands for their address.
        Value address;
        if (!make_dynamic_value(&address, scope, type, trace)->kind) return false;
        if (through_address) {
            Value at = make_offset(offset, trace);
            if (!instruction_memory_dereference(scope, 1, INSTRUCTION_ADDRESS, &address, &base, &at)) return false;
        } else {
            Register_Id view = allocate_within_register(base.dynamic.register_id, offset, member->size);
            Value elements;
            if (!register_id_is_valid(view)) return false;
            make_dynamic_value_from_register(&elements, view, type, trace);
            if (!instruction_take_address(scope, &address, &elements)) return false;
        }
        *value = address;
        return true;
    }
    if (!through_address) {
        Register_Id view = allocate_within_register(base.dynamic.register_id, offset, type->size);
        if (!register_id_is_valid(view)) return false;
        make_dynamic_value_from_register(value, view, type, trace);
        return true;
    }
    if (want_place) {
        Identifier* address_type = type_to_memory_address_of_type(type, 1);
        if (!address_type) return false;
        Value address = base;
        if (offset) {
            Value at = make_offset(offset, trace);
            if (!make_dynamic_value(&address, scope, address_type, trace)->kind ||
                !instruction_memory_dereference(scope, 1, INSTRUCTION_ADDRESS, &address, &base, &at)) {
                return false;
            }
        }
        address.dynamic.type = address_type;
        address.kind |= VALUE_REGISTER | VALUE_INDIRECT;
        address.source = trace;
        *value = address;
        return true;
    }
    Value read, at = make_offset(offset, trace);
    if (!make_dynamic_value(&read, scope, type, trace)->kind ||
        !instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, &read, &base, &at)) {
        return false;
    }
    *value = read;
    return true;
}

// "T.NAME" on a type, "v.NAME" on a value: enum values, constant members of a type, and the
// variable members of an instance.
static b8 parse_member_access(Operand_Context* operand, Token* dot, Value* value, Token** next) {
    Token* name = dot->next;
    *next = name->next;
    Identifier* held = get_held_type(value);
    b8 static_mode = held != 0;
    Identifier* type;
    if (held) {
        type = get_resolved_type(held);
    } else if (value->kind & VALUE_REGISTER) {
        type = get_type_from_value(value);
        if (type && type->pointer_depth == 1) type = type_to_dereference_of_type(type);
        type = get_resolved_type(type);
    } else if ((value->constant.mask & CONSTANT_STRING) && !(value->constant.mask & CONSTANT_TYPED)) {
        type = get_basic_type(BASIC_TYPE_STRING);
    } else {
        type = (value->constant.mask & CONSTANT_TYPED) ? get_resolved_type(value->constant.type) : 0;
    }
    if (!type || type->pointer_depth || !(type->flags & (TYPE_STRUCT | TYPE_ENUM))) return report_not_a_struct(dot);

    if (type->flags & TYPE_ENUM) {
        Identifier* member = get_enum_value_from_token(type, name);
        if (!member) return false;
        *value = member->constant_value;
        value->source = make_trace_from_token(name);
        return true;
    }
    if (type->flags & TYPE_POLYMORPHIC) {
        print_error_on_token(name, "Type '%s' is polymorphic and thus you cannot dereference anything from it or from an instance "
                                   "of it since its content is unknown.",
                             type_to_c_string(type));
        return false;
    }
    if (!static_mode && (value->kind & VALUE_REGISTER)) {
        Identifier* member = get_struct_member_from_token(type, name);
        if (!member) return false;
        if (member->flags & IDENTIFIER_CONSTANT) {
            return report(name, "You can only dereference variable members in this case because you are dereferencing from an "
                                "instance.");
        }
        return walk_member_chain(operand, name, type, value, next);
    }
    Identifier* member = get_struct_member_from_token(type, name);
    if (!member) return false;
    b8 constant_member = member->flags & IDENTIFIER_CONSTANT;
    if (static_mode) {
        if (!constant_member) {
            return report(name, "You can only dereference constant members in this case because you are not dereferencing from "
                                "an instance.");
        }
        if ((operand->flags & EXPRESSION_ASSIGNMENT_TARGET) && at_end(name->next, operand->end)) {
            return report(name, "You cannot reassign a value to a constant.");
        }
        *value = member->constant_value;
        value->source = make_trace_from_token(name);
        return true;
    }
    if (constant_member) {
        return report(name, "You can only dereference variable members in this case because you are dereferencing from an instance.");
    }
    // A member of a constant instance is read while compiling, except an address, which only
    // the loaded image knows: that one is read from the constant data at run time.
    Trace trace = concat_traces(value->source, make_trace_from_token(name));
    if (value->constant.mask & CONSTANT_STRING && strings_equal(member->name, STR("count"))) {
        make_constant_value_from_integer(value, value->constant.length, get_basic_type(BASIC_TYPE_S64), trace);
        return true;
    }
    if (!is_pointer(member->type) && (member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER) == 0) {
        Value read;
        if (!read_struct_member_constant(&read, value, member)) {
            return report(name, "It looks like the constant you are trying to dereference does not have any data.");
        }
        *value = read;
        value->source = trace;
        return true;
    }
    Value in_data;
    make_dynamic_value_out_of_non_scalar_constant(&in_data, value);
    in_data.dynamic.type = type;
    if (!register_id_is_valid(in_data.dynamic.register_id)) {
        return report(name, "It looks like the constant you are trying to dereference does not have any data.");
    }
    *value = in_data;
    return walk_member_chain(operand, name, type, value, next);
}

//~ Indexing

static const char* plural(s64 count, const char* one, const char* many) { return count == 1 ? one : many; }

// The array record's element block: the target of the constant relocation that its data
// pointer has.
static b8 find_constant_array_elements(Register_Id record, Register_Id* elements) {
    u8* place = get_register_constant_data(record);
    if (!place) return false;
    Dynamic_Array* relocations = &global_compiler_state.constant_relocations;
    for (u32 i = 0; i < relocations->count; i++) {
        Relocation* relocation = (Relocation*)relocations->data + i;
        if (relocation->where.table != REGISTER_CONSTANT_DATA && relocation->where.table != REGISTER_TYPE_DATA) continue;
        if (get_register_constant_data(relocation->where) == place) {
            *elements = relocation->target;
            return true;
        }
    }
    return false;
}

// An element of a constant array at a constant index, read while compiling.
static b8 read_constant_array_element(Value* array, Identifier* array_type, Value* index, Value* out, Trace trace) {
    Register_Id elements;
    u8* record = get_register_constant_data(array->constant.register_id);
    if (!record || !find_constant_array_elements(array->constant.register_id, &elements)) {
        return report_on_value(array, "It looks like the constant array you are trying to dereference does not have any data.");
    }
    s64 count = (s64)load_u64(record + 8);
    s64 at = (s64)index->constant.data;
    if (at < 0) {
        print_error_on_trace(index->source, "It seems that you are trying to access a constant array at index %'lld.", (long long)at);
        return false;
    }
    if (at >= count) {
        print_error_on_trace(index->source,
                             "The constant array you are trying to dereference has only %'lld %s but you are trying to access it "
                             "at index %'lld.",
                             (long long)count, plural(count, "item", "items"), (long long)at);
        return false;
    }
    Identifier* element = array_type->element_type;
    u64 offset = (u64)at * element->size;
    if (get_resolved_type(element) == get_basic_type(BASIC_TYPE_TYPE)) {
        u8* octets = get_register_constant_data(elements);
        make_constant_value_from_type(out, (Identifier*)load_u64(octets + offset), trace);
        return true;
    }
    // The element is read as a member at its offset in the element block would be.
    Identifier as_member = {};
    as_member.type = element;
    as_member.member_offset = (u32)offset;
    Value block = *array;
    block.constant.register_id = elements;
    if (!read_struct_member_constant(out, &block, &as_member)) {
        return report_on_value(array, "It looks like the constant array you are trying to dereference does not have any data.");
    }
    out->source = trace;
    return true;
}

// The element at the index behind the address: its value, or its address when a place is
// wanted. p[0] = v stores through p itself. An element whose member follows stays in place
// too: the member is read from the array, and under a '@' prefix the address asked for is
// the member's in the array, not in a copy of the element.
static b8 access_element(Operand_Context* operand, Value* pointer, Value* index, Identifier* element, Token* closing, Value* value) {
    Scope* scope = operand->scope;
    Trace trace = concat_traces(value->source, make_trace_from_token(closing));
    b8 last = at_end(closing->next, operand->end);
    b8 member_follows = !last && (closing->next->kind & TOKEN_BINARY_OPERATOR) && closing->next->value == OP_DOT;
    b8 want_place = (operand->flags & EXPRESSION_PLACE) || (operand->address_wanted && last) || member_follows;
    Identifier* address_type = type_to_memory_address_of_type(element, 1);
    if (!address_type || !load_value_if_indirect(scope, pointer)) return false;
    b8 zero = (index->kind & VALUE_CONSTANT) && index->constant.data == 0;
    if (want_place && zero && last && (operand->flags & EXPRESSION_ASSIGNMENT_TARGET)) {
        *value = *pointer;
        value->dynamic.type = address_type;
        value->kind |= VALUE_INDIRECT;
        value->source = trace;
        return true;
    }
    if (want_place) {
        Value address;
        if (!make_dynamic_value(&address, scope, address_type, trace)->kind ||
            !instruction_memory_dereference(scope, 0, INSTRUCTION_ADDRESS, &address, pointer, index)) {
            return false;
        }
        address.kind |= VALUE_INDIRECT;
        *value = address;
        return true;
    }
    Value read;
    if (!make_dynamic_value(&read, scope, element, trace)->kind ||
        !instruction_memory_dereference(scope, 0, INSTRUCTION_LOAD, &read, pointer, index)) {
        return false;
    }
    *value = read;
    return true;
}

// The data pointer of an array or string value; a constant one is read from constant data.
static b8 get_data_pointer(Scope* scope, Value* aggregate, Identifier* type, Value* out) {
    Value in_register = *aggregate;
    if (aggregate->kind & VALUE_CONSTANT) {
        make_dynamic_value_out_of_non_scalar_constant(&in_register, aggregate);
        in_register.dynamic.type = type;
        if (!register_id_is_valid(in_register.dynamic.register_id)) {
            return report_on_value(aggregate, "It looks like the constant you are trying to dereference does not have any data.");
        }
    }
    Identifier* data = get_struct_member_from_string(type, STR("data"));
    if (!data) return report_on_value(aggregate, "This value has no data member.");
    return get_member_value(scope, &in_register, data, out);
}

static b8 parse_index(Operand_Context* operand, Token* open, Value* value) {
    Scope* scope = operand->scope;
    Token* closing = (Token*)open->value;
    if (!load_value_if_indirect(scope, value)) return false;
    b8 constant = value->kind & VALUE_CONSTANT;
    Identifier* type = constant ? ((value->constant.mask & CONSTANT_TYPED) ? value->constant.type
                                   : (value->constant.mask & CONSTANT_STRING) ? get_basic_type(BASIC_TYPE_STRING)
                                                                              : 0)
                                : value->dynamic.type;
    if (!type) return report(open, "It looks like you are trying to dereference from a value that is not a memory address or an array.");
    if (closing == open->next) return report(open, "The compiler expected an index to dereference from.");

    Identifier* s64_type = get_basic_type(BASIC_TYPE_S64);
    u8 flags = operand->flags & ~(EXPRESSION_CONDITION | EXPRESSION_PLACE | EXPRESSION_ASSIGNMENT_TARGET | 0x10 | EXPRESSION_STATEMENT);
    Value index;
    if (!parse_simple_statement(scope, open->next, closing, s64_type, 0, flags, operand->constant, &index) ||
        !load_value_if_indirect(scope, &index)) {
        return false;
    }
    // Any integer indexes: a u64 counter is as good an index as an s64 one.
    Identifier* index_type = get_enum_base(get_resolved_type(get_type_from_value(&index)));
    b8 integer = (index.kind & VALUE_REGISTER) && index_type && !index_type->pointer_depth && (index_type->flags & TYPE_INTEGER);
    if (!(integer ? explicit_cast_value(&index, scope, s64_type, &index) : cast_value_to_type(&index, scope, s64_type, &index))->kind) {
        return false;
    }
    b8 constant_index = index.kind & VALUE_CONSTANT;
    type = type->pointer_depth ? type : get_resolved_type(type);
    Value pointer;
    if (type->pointer_depth) {
        if (constant) {
            return report_on_value(value, "You cannot dereference data from a constant memory address. This rule may change in "
                                          "future versions.");
        }
        Identifier* element = type_to_dereference_of_type(type);
        pointer = *value;
        return element && access_element(operand, &pointer, &index, element, closing, value);
    }
    if (type->flags & TYPE_ARRAY) {
        if ((type->flags & TYPE_FIXED_SIZE_ARRAY) && constant_index) {
            Identifier* max_count = get_struct_member_from_string(type, STR("MAX_COUNT"));
            s64 capacity = max_count ? (s64)max_count->constant_value.constant.data : 0;
            s64 at = (s64)index.constant.data;
            if (max_count && (at < 0 || at >= capacity)) {
                print_error_on_trace(index.source,
                                     "Array type '%s' can only hold up to %lld %s but you are trying to access an element at "
                                     "index %lld.",
                                     type_to_c_string(type), (long long)capacity, plural(capacity, "element", "elements"),
                                     (long long)at);
                return false;
            }
        }
        if (constant && constant_index) {
            Trace trace = concat_traces(value->source, make_trace_from_token(closing));
            return read_constant_array_element(value, type, &index, value, trace);
        }
        return get_data_pointer(scope, value, type, &pointer) &&
               access_element(operand, &pointer, &index, type->element_type, closing, value);
    }
    if (type->flags & TYPE_STRING) {
        Identifier* u8_type = get_basic_type(BASIC_TYPE_U8);
        if (constant && constant_index && (value->constant.mask & CONSTANT_STRING)) {
            s64 at = (s64)index.constant.data;
            if (at < 0 || (u64)at >= value->constant.length) {
                print_error_on_trace(index.source,
                                     "Index %lld cannot be used to retrieve a character from this string as it lies outside its "
                                     "boundaries.",
                                     (long long)at);
                return false;
            }
            u8 character = ((u8*)value->constant.data)[at];
            make_constant_value_from_integer(value, character, u8_type,
                                             concat_traces(value->source, make_trace_from_token(closing)));
            return true;
        }
        return get_data_pointer(scope, value, type, &pointer) && access_element(operand, &pointer, &index, u8_type, closing, value);
    }
    print_error_on_trace(value->source,
                         (type->flags & TYPE_STRUCT)
                             ? "Type '%s' is not a memory address, an array or a string and therefore you cannot use operator '[]' on it."
                             : "Type '%s' is not a memory address, an array or a string and thus operator [] cannot be used here.",
                         type_to_c_string(type));
    return false;
}

//~ The loop

b8 parse_postfix_operations(Operand_Context* operand, Token* token, Value* value) {
    Token* end = operand->end;
    while (!at_end(token, end)) {
        if (token->kind & TOKEN_OPEN_PARENTHESIS) {
            if (!parse_parenthesis(operand, token, value)) return false;
            operand->read_from = 0;  // a call's result, or an instance
            token = ((Token*)token->value)->next;
            continue;
        }
        operand->name = 0;
        if (token->kind & TOKEN_OPEN_BRACKET) {
            if (!parse_index(operand, token, value)) return false;
            token = ((Token*)token->value)->next;
            continue;
        }
        if (is_dot(token)) {
            Token* next = token->next;
            if (!at_end(next, end) && (next->kind & (TOKEN_OPEN_BRACE | TOKEN_OPEN_BRACKET))) {
                if (!parse_named_literal(operand, next, value)) return false;
                token = ((Token*)next->value)->next;
                continue;
            }
            if (at_end(next, end) || !(next->kind & TOKEN_IDENTIFIER)) {
                return report(token, "It looks like you are trying to dereference a struct member but this does not look like a "
                                     "struct member dereference.");
            }
            if (!parse_member_access(operand, token, value, &token)) return false;
            continue;
        }
        if (!(token->kind & TOKEN_UNARY_OPERATOR)) return report(token, "This is unexpected.");
        Token* next = token->next;
        if (!at_end(next, end)) {
            if (next->kind & TOKEN_UNARY_OPERATOR) return report(next, "You cannot chain unary operations. Use '()' to separate them.");
            print_error_on_token(next, "The compiler expected a binary operator or the end of a value but got '%s' instead.",
                                 token_to_c_string(next));
            return false;
        }
        Trace whole = concat_traces(value->source, make_trace_from_token(token));
        if (!apply_unary_operation_on_value(value, operand->scope, token->value, value, whole)->kind) return false;
        token = next;
    }
    return true;
}
