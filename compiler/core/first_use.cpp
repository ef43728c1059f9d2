// The first use of a global that the preparse only recorded: the name is looked up, and
// the declaration is parsed then, by the parser's routines, once. Apart from scopes.cpp
// because it is the core's one call back into the parser, the types and the registers.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Token* get_pending_end(Identifier* identifier) {
    return identifier->pending_value_end ? identifier->pending_value_end : identifier->pending_type_end;
}

b8 place_fixed_size_array_elements(Scope* scope, Identifier* variable, Identifier* type) {
    Identifier* max_count = get_struct_member_from_string(type, STR("MAX_COUNT"));
    Identifier* data = get_struct_member_from_string(type, STR("data"));
    Identifier* count_member = get_struct_member_from_string(type, STR("count"));
    Identifier* element = type->element_type;
    if (!max_count || !data || !count_member || !element) {
        print_error_on_trace(variable->declaration, "'%.*s' has an array type without MAX_COUNT, data or count.",
                             (int)variable->name.count, (char*)variable->name.data);
        return false;
    }
    u64 count = max_count->constant_value.constant.data;
    if (element->size && count > 0xFFFFFFFFull / element->size) {
        print_error_on_trace(variable->declaration, "This type is too large.");
        return false;
    }
    Register_Id elements = allocate_a_register(scope, (u32)(count * element->size), 0, element->alignment);
    if (!register_id_is_valid(elements)) return false;
    u32 address_size = global_compiler_state.address_size;
    Register_Id where = allocate_within_register(variable->register_id, data->member_offset, address_size);
    if (!register_id_is_valid(where)) return false;
    if (!scope->parent) {
        if (!add_a_relocation(where, elements, 0)) return false;
        u8* staged = get_register_global_data(where);
        if (staged) memset(staged, 0, address_size);
        return true;
    }
    Register_Id count_view = allocate_within_register(variable->register_id, count_member->member_offset,
                                                      count_member->type ? count_member->type->size : 8);
    if (!register_id_is_valid(count_view)) return false;
    Value pointer, storage, counter;
    make_dynamic_value_from_register(&pointer, where, data->type, variable->declaration);
    make_dynamic_value_from_register(&storage, elements, element, variable->declaration);
    make_dynamic_value_from_register(&counter, count_view, count_member->type, variable->declaration);
    return parser_routines.instruction_take_address(scope, &pointer, &storage) &&
           instruction_set_to_zero(scope, &counter);
}

static b8 parse_pending_variable(Scope* scope, Identifier* identifier) {
    Identifier* type = 0;
    if (identifier->pending_type_first) {
        Token* stop = 0;
        if (!parse_type(scope, &type, identifier->pending_type_first, identifier->pending_type_end, &stop, 0, 0, 0)) {
            return false;
        }
        identifier->type = type;
    }
    if (identifier->pending_value_first) {
        return parser_routines.handle_declaration_assignment(scope, identifier, 1, type, identifier->pending_value_first,
                                                             identifier->pending_value_end);
    }
    if (identifier->flags & IDENTIFIER_CONSTANT) {
        print_error_on_trace(identifier->declaration, "Constants must be initialised with an explicit value.");
        return false;
    }
    if (!type) {
        print_error_on_trace(identifier->declaration, "Expected a type.");
        return false;
    }

    identifier->register_id = allocate_a_register(scope, type->size, type, type->alignment);
    if (identifier->register_id.index == INVALID_REGISTER_ID.index) return false;
    if (type->pointer_depth == 0 && (type->flags & TYPE_FIXED_SIZE_ARRAY)) {
        return place_fixed_size_array_elements(scope, identifier, type);
    }
    if (identifier->flags & IDENTIFIER_INLINE) return true;
    Value variable;
    make_dynamic_value_from_register(&variable, identifier->register_id, type, identifier->declaration);
    return parser_routines.set_dynamic_default_value(scope, 0, &variable);
}

static b8 parse_pending_declaration(Identifier* identifier) {
    Scope* scope = identifier->scope;
    Token* type_first = identifier->pending_type_first;
    switch (identifier->declaration_kind) {
        case DECLARATION_STRUCT:
            return type_first && parse_struct_declaration(scope, identifier, type_first->next, get_pending_end(identifier));
        case DECLARATION_ENUM: {
            if (!type_first) return false;
            b8 flags_variant = type_first->length == 11 && memcmp(type_first->text, "#enum_flags", 11) == 0;
            return parse_enum_declaration(scope, identifier, type_first->next, flags_variant);
        }
        case DECLARATION_SUB_PROGRAM:
            return parser_routines.parse_sub_program_declaration(scope, identifier, type_first,
                                                                 get_pending_end(identifier));
        case DECLARATION_VARIABLE:
            if (!parse_pending_variable(scope, identifier)) return false;
            identifier->flags |= IDENTIFIER_DECLARED;
            return true;
    }
    print_error_on_trace(identifier->declaration, "'%.*s' was not previously declared.", (int)identifier->name.count,
                         (char*)identifier->name.data);
    return false;
}

Identifier* get_identifier_with_error(Scope* scope, Token* name, u8 outer) {
    if (outer) {
        if (!(scope->flags & SCOPE_INLINED)) {
            print_error_on_token(name, "You can only explicitly access outer scope identifiers within inlined sub-programs.");
            return 0;
        }
        scope = scope->call_site_scope;
    }
    Identifier* identifier = get_identifier(scope, name->text, name->length);
    if (!identifier) {
        print_error_on_token(name, "'%s' was not previously declared.", token_to_c_string(name));
        return 0;
    }
    // A declaration that failed was reported once; its half-built identifier is never used.
    if (identifier->flags & IDENTIFIER_DECLARATION_FAILED) return 0;
    if ((identifier->flags & (IDENTIFIER_PENDING | IDENTIFIER_BEING_PARSED)) == IDENTIFIER_PENDING) {
        identifier->flags |= IDENTIFIER_BEING_PARSED;
        b8 parsed = parse_pending_declaration(identifier);
        identifier->flags &= ~(IDENTIFIER_PENDING | IDENTIFIER_BEING_PARSED);
        if (!parsed) {
            identifier->flags |= IDENTIFIER_DECLARATION_FAILED;
            return 0;
        }
    }
    return identifier;
}
