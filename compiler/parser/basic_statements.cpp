// The statements the driver hands on: declarations ("x: T;", "x := v;", "$C := v;", local
// structs, enums and sub-programs), calls, assignments with '=' or a compound operator, and
// expressions evaluated for what they do. The first tokens decide which one a statement is.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report_global_code(Token* token) {
    print_error_on_token(token, "You cannot execute instructions in global scope.");
    return false;
}

static char* name_of(Token* name) { return token_to_c_string(name); }

//~ Declarations

// A variable with a type and no value: its register, its elements for a fixed-size array,
// or its type's default.
static b8 place_variable(Scope* scope, Identifier* variable, Identifier* type) {
    if (!type->size) return true;
    variable->register_id = allocate_a_register(scope, type->size, type, type->alignment);
    if (!register_id_is_valid(variable->register_id)) return false;
    mark_register_as_owned_by_identifier(scope, variable->register_id);
    if (!type->pointer_depth && (type->flags & TYPE_FIXED_SIZE_ARRAY)) {
        return place_fixed_size_array_elements(scope, variable, type);
    }
    Value value;
    make_dynamic_value_from_register(&value, variable->register_id, type, variable->declaration);
    return set_dynamic_default_value(scope, 0, &value);
}

static b8 declare_with_type(Scope* scope, Identifier* identifier, Token* first, Token* end, b8 constant) {
    Identifier* type;
    Token* stop;
    if (!parse_type(scope, &type, first, end, &stop, 0, 0, 0)) return false;
    identifier->type = type;
    if (!at_end(stop, end)) return handle_declaration_assignment(scope, identifier, constant, type, stop, end);
    if (identifier->flags & IDENTIFIER_CONSTANT) {
        print_error_on_token(end, "Constants must be assigned a value.");
        return false;
    }
    return place_variable(scope, identifier, type);
}

static b8 declare_sub_program(Scope* scope, Identifier* identifier, Token* open, Token* end, b8 is_constant) {
    if (is_constant) return parse_sub_program_declaration(scope, identifier, open, end);
    Token* stop;
    if (!parse_sub_program_signature(scope, identifier, open, end, &stop)) return false;
    if (at_end(stop, end)) return place_variable(scope, identifier, identifier);
    if ((stop->kind & TOKEN_OPERATOR) && stop->value == OP_ASSIGN) {
        return handle_declaration_assignment(scope, identifier, 0, identifier, stop, end);
    }
    print_error_on_token(stop, "Expected an assignment or nothing but got '%s' instead.", token_to_c_string(stop));
    return false;
}

static b8 parse_declaration(Scope* scope, Token* name, Token* colon, Token* end, b8 is_constant, b8 outer) {
    if (outer) {
        print_error_on_token(name, "You cannot declare a symbol within an outer scope.");
        return false;
    }
    Identifier* identifier =
        add_identifier_with_error(scope, name, is_constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE);
    if (!identifier) return false;
    if (is_constant) identifier->flags |= IDENTIFIER_CONSTANT;
    // Everything declared in the global scope is known while compiling.
    b8 constant = is_constant || !scope->parent;

    Token* after = colon->next;
    b8 declared;
    if (!at_end(after, end) && (after->kind & TOKEN_OPERATOR) && after->value == OP_ASSIGN) {
        declared = handle_declaration_assignment(scope, identifier, constant, 0, after, end);
    } else if (!at_end(after, end) && (after->kind & TOKEN_OPEN_PARENTHESIS)) {
        declared = declare_sub_program(scope, identifier, after, end, is_constant);
    } else if (!at_end(after, end) && (after->kind & TOKEN_DIRECTIVE)) {
        if (token_is_word(after, STR("#struct"))) {
            declared = parse_struct_declaration(scope, identifier, after->next, end);
        } else if (token_is_word(after, STR("#enum")) || token_is_word(after, STR("#enum_flags"))) {
            declared = parse_enum_declaration(scope, identifier, after->next, token_is_word(after, STR("#enum_flags")));
        } else if (token_is_word(after, STR("#type_of"))) {
            declared = declare_with_type(scope, identifier, after, end, constant);
        } else {
            print_error_on_token(after, "Directive '%s' is unknown or not usable here.", token_to_c_string(after));
            return false;
        }
    } else if (!at_end(after, end) && (after->kind & (TOKEN_IDENTIFIER | TOKEN_OPEN_BRACKET | TOKEN_AT))) {
        declared = declare_with_type(scope, identifier, after, end, constant);
    } else {
        char* text = name_of(name);
        print_error_on_token(after ? after : name,
                             "This is unexpected. Note that if you are trying to declare a variable or a constant you need "
                             "to put a ':' after its name like this:\n%s: <type>; or %s := <value>;",
                             text, text);
        return false;
    }
    if (declared) identifier->flags |= IDENTIFIER_DECLARED;
    return declared;
}

//~ Calls, assignments and expressions

static b8 parse_call_statement(Scope* scope, Token* name, Token* open, b8 is_constant, b8 outer) {
    if (is_constant) {
        print_error_on_token(name,
                             "'$' is used to declare a constant. It looks like you are trying to call a sub-program here "
                             "instead. If you want to call a constant sub-program remove the '$'.");
        return false;
    }
    if (!scope->parent) return report_global_code(name);
    Identifier* identifier = get_identifier_with_error(scope, name, outer);
    if (!identifier) return false;
    Value callee, result;
    make_value_from_identifier(&callee, identifier, make_trace_from_token(name));
    return parse_call(scope, open, &result, 0, 0, callee);
}

// The named identifier as the target of an assignment. An inline parameter bound to a
// constant is changed here: it gets a register for it first.
static b8 get_named_target(Scope* scope, Token* name, b8 outer, Value* target) {
    Identifier* identifier = get_identifier_with_error(scope, name, outer);
    if (!identifier || !change_inline_parameter(scope, identifier)) return false;
    Trace trace = make_trace_from_token(name);
    make_value_from_identifier(target, identifier, trace);
    if (!target->kind || ((target->kind & VALUE_REGISTER) && (!identifier->type || !register_id_is_valid(target->dynamic.register_id)))) {
        print_error_on_token(name, "'%s' was not previously declared.", name_of(name));
        return false;
    }
    target->source = trace;
    return true;
}

// Types a compound assignment works on: addresses, integers, reals, booleans and enums.
#define COMPOUND_ASSIGNMENT_TYPES (TYPE_UNSIGNED | TYPE_SIGNED | TYPE_FLOAT | TYPE_BOOLEAN | TYPE_ENUM)

static b8 assign(Scope* scope, Value* target, Token* assignment, Token* end) {
    if (target->kind & VALUE_CONSTANT) {
        print_error_on_token(assignment, "You cannot reassign a value to a constant.");
        return false;
    }
    if (!scope->parent) {
        print_error_on_token(assignment, "You cannot reassign a value in global scope.");
        return false;
    }
    Identifier* type = get_type_from_value(target);
    if (!type) {
        print_error_on_trace(target->source, "You cannot assign a value to this.");
        return false;
    }
    Value value;
    if (!parse_assignment_value(scope, EXPRESSION_FRESH_REGISTER, 0, type, assignment->next, end, &value) ||
        !cast_value_to_type(&value, scope, type, &value)->kind) {
        return false;
    }
    b8 is_constant = value.kind & VALUE_CONSTANT;
    if (assignment->value == OP_ASSIGN) {
        return is_constant ? instruction_copy_constant(scope, target, &value) : copy_into_register(scope, target, &value);
    }
    Identifier* resolved = get_resolved_type(type);
    if (!resolved->pointer_depth && !(resolved->flags & COMPOUND_ASSIGNMENT_TYPES)) {
        print_error_on_token(assignment, "You cannot do this operation on values of type %s.", type_to_c_string(type));
        return false;
    }
    u64 operator_bit = assignment->value & ~OP_ASSIGN;
    if (!type_and_operation_match(type, operator_bit, make_trace_from_token(assignment))) return false;
    if (is_constant) return instruction_arithmetic_constant(scope, operator_bit, target, &value);
    if (value.kind & VALUE_INDIRECT && !copy_dynamic_value(&value, scope, &value)->kind) return false;
    return instruction_arithmetic(scope, operator_bit, target, &value);
}

static b8 parse_assignment_or_expression(Scope* scope, Token* first, Token* name, Token* end, b8 outer) {
    Token* after = name->next;
    b8 named = (after->kind & TOKEN_OPERATOR) && (after->value & OP_ASSIGN);
    Token* assignment = named ? after : get_first_operator_like_bounded(first, OP_ASSIGN, end);
    if (!assignment && !scope->parent) return report_global_code(first);
    Value target;
    if (named) {
        if (!get_named_target(scope, name, outer, &target)) return false;
    } else {
        u8 flags = EXPRESSION_PLACE | EXPRESSION_FRESH_REGISTER | EXPRESSION_ASSIGNMENT_TARGET;
        if (!assignment) flags |= EXPRESSION_STATEMENT;
        if (!parse_simple_statement(scope, first, assignment ? assignment : end, 0, 0, flags, 0, &target)) return false;
        if (!assignment) return true;
    }
    return assign(scope, &target, assignment, end);
}

//~ The statement

b8 make_basic_instructions(Scope* scope, Token* first, Token* end) {
    Token* name = first;
    b8 outer = false, is_constant = false;
    if (!at_end(name, end) && (name->kind & TOKEN_QUOTE)) {
        outer = true;
        name = name->next;
    }
    if (!at_end(name, end) && (name->kind & TOKEN_DOLLAR)) {
        is_constant = true;
        name = name->next;
    }
    if (at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(at_end(name, end) ? (name ? name : first) : name, "Expected an identifier.");
        return false;
    }
    Token* after = name->next;
    if (at_end(after, end)) {
        print_error_on_token(name, "Expected an instruction.");
        return false;
    }

    // A call stands alone only when its ')' ends the statement: "f(1) + 2;" is an expression.
    b8 call = (after->kind & TOKEN_OPEN_PARENTHESIS) && ((Token*)after->value)->next == end && !token_is_word(name, STR("cast"));
    if (call) return parse_call_statement(scope, name, after, is_constant, outer);
    if (after->kind & TOKEN_COLON) return parse_declaration(scope, name, after, end, is_constant, outer);
    if (token_is_word(name, STR("cast")) || (after->kind & (TOKEN_OPERATOR | TOKEN_OPEN_BRACKET | TOKEN_CLOSE_BRACKET | TOKEN_OPEN_PARENTHESIS))) {
        if (is_constant) {
            print_error_on_token(name,
                                 "'$' is used to declare a constant. If you want to declare a constant and infer its type do "
                                 "it like this: $%s := <value>;",
                                 name_of(name));
            return false;
        }
        return parse_assignment_or_expression(scope, first, name, end, outer);
    }
    char* text = name_of(name);
    print_error_on_token(after,
                         "This is unexpected. Note that if you are trying to declare a variable or a constant you need to "
                         "put a ':' after its name like this:\n%s: <type>; or %s := <value>; or %s: <type> = <value>;",
                         text, text, text);
    return false;
}
