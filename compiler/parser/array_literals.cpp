// Array literals, T.[...] and .[...]: the elements are evaluated into a scratch table, then
// laid out. A constant literal becomes an element block and an array record in constant
// data, the record's data pointer relocated when the image loads; any other is built at run
// time: a record register whose data points at a block register of its own.
#include <string.h>

#include "compiler/parser/parser.h"

// Room for this many element values first; the table doubles past it.
#define ARRAY_LITERAL_SCRATCH_VALUES 1024
// A larger alignment would only blow up the data or the frame.
#define ARRAY_LITERAL_LARGEST_ALIGNMENT 4096

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 report(Token* token, const char* message) {
    print_error_on_token(token, "%s", message);
    return false;
}

static const char* elements_word(s64 count) { return count == 1 ? "element" : "elements"; }

// "#align(N)" before the elements: N a power of two, at most the largest alignment.
static b8 parse_alignment(Scope* scope, Token* directive, Token* closing, u64* alignment, Token** next) {
    Token* open = directive->next;
    if (open == closing || !(open->kind & TOKEN_OPEN_PARENTHESIS)) return report(directive, "Use #align like this: #align(<alignment>)");
    Token* open_closing = (Token*)open->value;
    if (open_closing == open->next) return report(open, "Did you forget to specify an alignment?");
    Identifier* u64_type = get_basic_type(BASIC_TYPE_U64);
    Value value;
    if (!parse_simple_statement(scope, open->next, open_closing, u64_type, 0, 0, 1, &value) ||
        !cast_constant_to_type(&value, u64_type, &value)->kind) {
        return false;
    }
    u64 given = value.constant.data;
    if (!given || (given & (given - 1))) {
        print_error_on_token(directive, "The alignment you provided (%'llu) is incorrect as it is not a power of two.",
                             (unsigned long long)given);
        return false;
    }
    if (given > ARRAY_LITERAL_LARGEST_ALIGNMENT) {
        print_error_on_token(directive, "The alignment you provided (%'llu) is too large. The largest is 4,096.",
                             (unsigned long long)given);
        return false;
    }
    *alignment = given;
    *next = open_closing->next;
    return true;
}

struct Element_Table {
    Value* values;
    u64 count;
    u64 capacity;
};

static b8 add_element(Element_Table* table, Value* value) {
    if (table->count == table->capacity) {
        u64 capacity = table->capacity * 2;
        Value* grown = (Value*)tmp_allocate_aligned(capacity * sizeof(Value), alignof(Value));
        if (!grown) {
            report_out_of_compiler_memory("temporary memory");
            return false;
        }
        memcpy(grown, table->values, table->count * sizeof(Value));
        table->values = grown;
        table->capacity = capacity;
    }
    table->values[table->count++] = *value;
    return true;
}

static b8 lay_out_in_constant_data(Identifier* type, Identifier* element, Element_Table* table, u64 alignment, u32 block_size,
                                   Identifier* data, Identifier* count, Trace trace, Value* out) {
    Register_Id record = allocate_constant_data(type->size, type->alignment);
    u8* staged = get_register_constant_data(record);
    if (!staged) return false;
    if (table->count) {
        Register_Id block = allocate_constant_data(block_size, alignment);
        Register_Id pointer = allocate_within_register(record, data->member_offset, global_compiler_state.address_size);
        if (!register_id_is_valid(block) || !register_id_is_valid(pointer) || !add_a_relocation(pointer, block, 1)) return false;
        // The image gets the block's offset; while compiling the pointer is where its octets are staged.
        store_u64(staged + data->member_offset, (u64)get_register_constant_data(block));
        for (u64 i = 0; i < table->count; i++) {
            Register_Id slot = allocate_within_register(block, i * element->size, element->size);
            if (!register_id_is_valid(slot) || !copy_constant_value_data(slot, element, &table->values[i])) return false;
        }
    }
    store_u64(staged + count->member_offset, table->count);
    make_constant_value_from_register(out, record, type, trace);
    out->constant.mask = CONSTANT_TYPED_TYPE_INFO | CONSTANT_ARRAY_LITERAL;
    out->constant.further_type = type;
    out->kind = VALUE_CONSTANT | VALUE_FRESH;
    return true;
}

static b8 lay_out_at_run_time(Scope* scope, Identifier* type, Identifier* element, Element_Table* table, u64 alignment,
                              u32 block_size, Identifier* data, Identifier* count, Trace trace, Value* out) {
    Register_Id record = allocate_a_register(scope, type->size, type, type->alignment);
    if (!register_id_is_valid(record)) return false;
    Value record_value;
    make_dynamic_value_from_register(&record_value, record, type, trace);
    Register_Id block = INVALID_REGISTER_ID;
    if (block_size) {
        block = allocate_a_register(scope, block_size, 0, (u32)alignment);
        Value pointer, elements;
        if (!register_id_is_valid(block) || !get_member_value(scope, &record_value, data, &pointer)) return false;
        make_dynamic_value_from_register(&elements, block, element, trace);
        if (!instruction_take_address(scope, &pointer, &elements)) return false;
    }
    Value count_place, number;
    if (!get_member_value(scope, &record_value, count, &count_place)) return false;
    make_constant_value_from_integer(&number, table->count, get_basic_type(BASIC_TYPE_S64), trace);
    if (!instruction_copy_constant(scope, &count_place, &number)) return false;
    for (u64 i = 0; i < table->count; i++) {
        Register_Id slot = allocate_within_register(block, i * element->size, element->size);
        if (!register_id_is_valid(slot)) return false;
        Value place;
        make_dynamic_value_from_register(&place, slot, element, trace);
        Value* value = &table->values[i];
        b8 copied = (value->kind & VALUE_CONSTANT) ? instruction_copy_constant(scope, &place, value)
                                                   : copy_into_register(scope, &place, value);
        if (!copied) return false;
    }
    *out = record_value;
    out->kind = VALUE_FRESH_REGISTER;
    return true;
}

b8 parse_array_literal(Scope* scope, Identifier* type, Token* open, u8 constant, Value* out) {
    u64 mark = tmp_get_used();
    Token* closing = (Token*)open->value;
    Identifier* element = type->element_type;
    Identifier* data = get_struct_member_from_string(type, STR("data"));
    Identifier* count = get_struct_member_from_string(type, STR("count"));
    if (!element || !data || !count) {
        print_error_on_token(open, "Type '%s' is not an array type so you cannot make an array literal from it.", type_to_c_string(type));
        return false;
    }
    u64 alignment = element->alignment ? element->alignment : 1;
    Token* token = open->next;
    if (token != closing && token_is_word(token, STR("#align")) && !parse_alignment(scope, token, closing, &alignment, &token)) {
        return false;
    }

    Element_Table table = {(Value*)tmp_allocate_aligned(ARRAY_LITERAL_SCRATCH_VALUES * sizeof(Value), alignof(Value)), 0, ARRAY_LITERAL_SCRATCH_VALUES};
    if (!table.values) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    while (token != closing) {
        Token* comma = get_first_token_like_bounded(token, TOKEN_COMMA, closing);
        Token* element_end = comma ? comma : closing;
        Value value;
        if (!parse_assignment_value(scope, 0, constant, element, token, element_end, &value) ||
            !cast_value_to_type(&value, scope, element, &value)->kind || !add_element(&table, &value)) {
            return false;
        }
        token = comma ? comma->next : closing;
    }

    s64 capacity = (s64)table.count;
    if (type->flags & TYPE_FIXED_SIZE_ARRAY) {
        Identifier* max_count = get_struct_member_from_string(type, STR("MAX_COUNT"));
        capacity = max_count ? (s64)max_count->constant_value.constant.data : 0;
        if (capacity < (s64)table.count) {
            print_error_on_token(open, "Array type '%s' can only hold up to %'lld %s but you are assigning %'lld %s.",
                                 type_to_c_string(type), (long long)capacity, elements_word(capacity), (long long)table.count,
                                 elements_word((s64)table.count));
            return false;
        }
    }
    u64 block_size = (u64)(constant ? (s64)table.count : capacity) * element->size;
    if (block_size > 0xFFFFFFFFull) return report(open, "This type is too large.");
    Trace trace = make_trace_from_tokens(open, closing);
    b8 made = constant ? lay_out_in_constant_data(type, element, &table, alignment, (u32)block_size, data, count, trace, out)
                       : lay_out_at_run_time(scope, type, element, &table, alignment, (u32)block_size, data, count, trace, out);
    if (made) tmp_set_used(mark);
    return made;
}
