// Weak stand-ins for the parser and type-parser routines that the core calls: on the first
// use of a preparsed global, and to lay out an array type's instance. They do the least a
// caller needs: count the call, optionally look a name up from inside it, and succeed or
// fail with one report.
#include "stand_ins.h"

#include <string.h>

Stand_In_Control stand_in_control;

void reset_stand_ins() { memset(&stand_in_control, 0, sizeof(stand_in_control)); }

static b8 stand_in_parse(Scope* scope, Identifier* identifier) {
    stand_in_control.declarations_parsed++;
    if (stand_in_control.look_up_while_parsing) {
        stand_in_control.seen_while_parsing = get_identifier_with_error(scope, stand_in_control.look_up_while_parsing, 0);
    }
    if (stand_in_control.fail) {
        print_error_on_trace(identifier->declaration, "The stand-in declaration failed.");
        return false;
    }
    return true;
}

#define WEAK __attribute__((weak))

WEAK b8 parse_sub_program_declaration(Scope* scope, Sub_Program* sub_program, Token*, Token*) {
    return stand_in_parse(scope, sub_program);
}

WEAK b8 parse_struct_declaration(Scope* scope, Identifier* identifier, Token*, Token*) {
    return stand_in_parse(scope, identifier);
}

WEAK b8 parse_enum_declaration(Scope* scope, Identifier* identifier, Token*, u8) {
    return stand_in_parse(scope, identifier);
}

WEAK b8 handle_declaration_assignment(Scope* scope, Identifier* identifier, u8, Identifier*, Token*, Token*) {
    return stand_in_parse(scope, identifier);
}

// Types are resolved by name among the global constants: enough for "u8" and the like.
WEAK b8 parse_type(Scope* scope, Identifier** result, Token* first, Token* end, Token** stop, u8, Identifier*,
                   Sub_Program*) {
    Identifier* type = get_identifier(scope, first->text, first->length);
    if (!type) {
        print_error_on_token(first, "Expected a type but got '%s' instead.", token_to_c_string(first));
        return false;
    }
    *result = type;
    *stop = first->next;
    return true;
}

WEAK void set_dynamic_default_value(Scope*, u32, Value*) {}

// An instance laid out as the support source's arrays are: data and count, and for a
// fixed-size array a MAX_COUNT constant holding the second argument.
WEAK Identifier* make_struct_from_polymorphic_using_arguments(Identifier* polymorphic, Scope* scope, Value* arguments,
                                                              String name, Trace use) {
    stand_in_control.instances_made++;
    Identifier* instance = add_identifier(scope, name.data, (u64)name.count, IDENTIFIER_KIND_CONSTANT, use);
    if (!instance) return 0;
    instance->type = global_compiler_state.basic_types[BASIC_TYPE_TYPE];
    instance->self = instance;
    instance->leaf_type = instance;
    instance->flags = IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | TYPE_STRUCT;
    instance->polymorphic_origin = polymorphic;
    instance->alignment = 8;
    instance->member_scope = _add_a_scope(scope, SCOPE_STRUCT_MEMBERS, use);
    instance->member_scope->owner = instance;
    Identifier* element = (Identifier*)arguments[0].constant.data;
    add_a_struct_member(instance, STR("data"), 0, 8, type_to_memory_address_of_type(element, 1));
    add_a_struct_member(instance, STR("count"), 0, 8, global_compiler_state.basic_types[BASIC_TYPE_S64]);
    if (polymorphic->flags & TYPE_FIXED_SIZE_ARRAY) {
        Identifier* max_count = add_identifier(instance->member_scope, (u8*)"MAX_COUNT", 9, IDENTIFIER_KIND_CONSTANT, use);
        max_count->flags = IDENTIFIER_CONSTANT | IDENTIFIER_DECLARED;
        max_count->constant_value = arguments[1];
    }
    return instance;
}
