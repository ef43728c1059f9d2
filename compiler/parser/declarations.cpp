// What declarations and assignments go through: the value after '=' (a #code block, a type
// where a Type is expected, or an expression), the giving of that value to a newly declared
// identifier with its type inferred when none was written, and the mark that makes a
// register a variable's.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

//~ Assignment values

static b8 parse_code_value(Token* directive, Token* end, Value* out) {
    Token* opener = directive->next;
    if (at_end(opener, end) || !(opener->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON)) || !opener->value) {
        print_error_on_token(directive, "#code is used like this:\n#code: a = 2; or #code { a = 2; }");
        return false;
    }
    if (!get_basic_type(BASIC_TYPE_CODE)) {
        print_error_on_token(directive, "inject.8 must declare 'Code'.");
        return false;
    }
    if (!make_constant_value_from_code_literal(out, opener)->kind) return false;
    Token* closing = (Token*)opener->value;
    if (closing != end && closing->next != end) {
        Token* at = closing->next ? closing->next : closing;
        print_error_on_token(at, "This is unexpected. Did you forget a ';' or a ','?");
        return false;
    }
    return true;
}

// Where a Type is expected, a text that only a type can be ("@ T", "[4] T", "Outer.Inner",
// "#type_of(x)") names one; "P(u8, 4)" names an instance, which a value only names, so
// it need not be laid out yet.
static b8 is_type_text(Token* first, Token* end) {
    if (first->kind & (TOKEN_AT | TOKEN_OPEN_BRACKET)) return true;
    if (token_is_word(first, STR("#type_of"))) return true;
    return (first->kind & TOKEN_IDENTIFIER) && !at_end(first->next, end) &&
           ((first->next->kind & TOKEN_OPEN_PARENTHESIS) || ((first->next->kind & TOKEN_BINARY_OPERATOR) && first->next->value == OP_DOT));
}

static b8 parse_type_value(Scope* scope, Token* first, Token* end, Value* out) {
    Trace trace = make_trace_from_tokens2(first, end);
    Token* open = first->next;
    if ((first->kind & TOKEN_IDENTIFIER) && (open->kind & TOKEN_OPEN_PARENTHESIS) && ((Token*)open->value)->next == end) {
        Identifier* polymorphic = get_identifier_with_error(scope, first, 0);
        if (!polymorphic) return false;
        if (!(polymorphic->flags & TYPE_POLYMORPHIC) || !(polymorphic->flags & TYPE_STRUCT)) {
            print_error_on_token(first, "Type '%s' is not a polymorphic struct.", token_to_c_string(first));
            return false;
        }
        Identifier* instance = make_struct_from_polymorphic(polymorphic, scope, open, end);
        if (!instance) return false;
        make_constant_value_from_type(out, instance, trace);
        return true;
    }
    Identifier* type;
    Token* stop;
    if (!parse_type(scope, &type, first, end, &stop, 0, 0, 0)) return false;
    if (!at_end(stop, end)) {
        print_error_on_token(stop, "This is unexpected.");
        return false;
    }
    make_constant_value_from_type(out, type, trace);
    return true;
}

b8 parse_assignment_value(Scope* scope, u8 flags, u8 constant, Identifier* expected_type, Token* first, Token* end,
                          Value* out) {
    memset(out, 0, sizeof(*out));
    if (first) out->source = make_trace_from_token(first);
    out->kind = constant ? VALUE_CONSTANT : VALUE_REGISTER;
    if (!at_end(first, end) && token_is_word(first, STR("#code"))) return parse_code_value(first, end, out);
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    if (!at_end(first, end) && expected_type && get_resolved_type(expected_type) == type_type && is_type_text(first, end)) {
        return parse_type_value(scope, first, end, out);
    }
    return parse_simple_statement(scope, first, end, expected_type, 0, flags, constant, out);
}

//~ Declarations

void mark_register_as_owned_by_identifier(Scope*, Register_Id id) {
    if (id.index == INVALID_REGISTER_ID.index || id.kind < REGISTER_CONSTANT_DATA || id.kind > REGISTER_CALL_DATA) return;
    Register* row = get_register(id);
    if (row) row->flags |= REGISTER_OWNED_BY_IDENTIFIER;
}

static b8 declare_without_value(Scope* scope, Identifier* identifier, Identifier* declared_type, Token* question, Token* end) {
    if (identifier->flags & IDENTIFIER_CONSTANT) {
        print_error_on_token(question, "Constants must be assigned a value.");
        return false;
    }
    if (!declared_type) {
        print_error_on_token(question,
                             "It looks like %.*s's type is being infered from the value you assign to it but said value is "
                             "'%s' which the compiler cannot use to infer the type.",
                             (int)identifier->name.count, (char*)identifier->name.data, token_to_c_string(question));
        return false;
    }
    if (!at_end(question->next, end)) {
        print_error_on_token(question->next, "This is unexpected.");
        return false;
    }
    identifier->flags |= IDENTIFIER_NO_INITIAL_VALUE;
    if (scope->flags & SCOPE_STRUCT_MEMBERS) return true;
    identifier->register_id = allocate_a_register(scope, declared_type->size, declared_type, declared_type->alignment);
    if (!register_id_is_valid(identifier->register_id)) return false;
    mark_register_as_owned_by_identifier(scope, identifier->register_id);
    return true;
}

// A variable that holds a sub-program's address: refused for what has no address to hold.
static b8 take_sub_program(Identifier* identifier, Value* value, Token* assignment) {
    Sub_Program* sub_program = (Sub_Program*)value->constant.data;
    if (!(value->kind & VALUE_CONSTANT)) sub_program = get_resolved_type(value->dynamic.type);
    const char* refusal = 0;
    if (identifier->flags & IDENTIFIER_CONSTANT) {
        refusal = "You cannot substitute the body of a constant sub-program with another sub-program. This may change in the future.";
    } else if (sub_program && (sub_program->flags & TYPE_POLYMORPHIC)) {
        refusal = "You cannot take the address of a polymorphic sub-program.";
    } else if (sub_program && (sub_program->flags & IDENTIFIER_INLINE)) {
        refusal = "You cannot take the address of an inlined sub-program.";
    }
    if (refusal) {
        print_error_on_token(assignment, "%s", refusal);
        return false;
    }
    if (sub_program) {
        identifier->body_scope = sub_program->body_scope;
        identifier->flags |= sub_program->flags & (SUB_PROGRAM_NO_CONTEXT | SUB_PROGRAM_CALL_LOCATION | SUB_PROGRAM_C_CALL);
    }
    identifier->flags |= TYPE_SUB_PROGRAM;
    return true;
}

// A constant named type: the identifier becomes another name of the type it holds.
static void make_type_alias(Identifier* identifier, Identifier* type) {
    Value value = identifier->constant_value;
    Identifier* declared_type = identifier->type;
    copy_type_aliasing_stuff(identifier, type, 1);
    identifier->flags = (identifier->flags & ~IDENTIFIER_DECLARED) | IDENTIFIER_CONSTANT;
    identifier->type = declared_type;
    identifier->constant_value = value;
}

b8 handle_declaration_assignment(Scope* scope, Identifier* identifier, u8 constant, Identifier* declared_type,
                                 Token* assignment, Token* end) {
    if (!(assignment->kind & TOKEN_OPERATOR) || assignment->value != OP_ASSIGN) {
        print_error_on_token(assignment,
                             "When declaring a variable or a constant and assigning a value to it make sure to use operator "
                             "'='. It looks like you are using '%s' instead.",
                             token_to_c_string(assignment));
        return false;
    }
    Token* first = assignment->next;
    if (at_end(first, end)) {
        if (end) print_error_on_token(end, "The compiler expected a value.");
        else print_error_on_token(assignment, "The compiler expected a value.");
        return false;
    }
    if (first->kind & TOKEN_QUESTION_MARK) return declare_without_value(scope, identifier, declared_type, first, end);

    b8 constant_identifier = identifier->flags & IDENTIFIER_CONSTANT;
    b8 constant_value = constant || constant_identifier;
    u8 flags = constant_identifier ? 0x24 : EXPRESSION_FRESH_REGISTER;
    Value value;
    if (!parse_assignment_value(scope, flags, constant_value, declared_type, first, end, &value)) return false;

    Identifier* type = declared_type;
    if (type) {
        if (!cast_value_to_type(&value, scope, type, &value)->kind) return false;
    } else {
        type = infer_type_from_value(INFER_DEREFERENCE, &value);
        if (!type) {
            String text = value_to_string(&value);
            print_error_on_token(first,
                                 "It looks like %.*s's type is being infered from the value you assign to it but said value "
                                 "is '%.*s' which the compiler cannot use to infer the type.",
                                 (int)identifier->name.count, (char*)identifier->name.data, (int)text.count, (char*)text.data);
            return false;
        }
        if (!type->pointer_depth && (type->flags & TYPE_SUB_PROGRAM) && !take_sub_program(identifier, &value, assignment)) {
            return false;
        }
    }
    identifier->type = type;

    if (constant_value) {
        value.constant.mask |= CONSTANT_TYPED;
        value.constant.type = type;
        value.constant.size = type->size;
        identifier->constant_value = value;
        if (constant_identifier) {
            Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
            if (type_type && get_resolved_type(type) == type_type && value.constant.data) {
                make_type_alias(identifier, (Identifier*)value.constant.data);
            }
            return true;
        }
    }

    b8 taken_over = (value.kind & (VALUE_REGISTER | VALUE_FRESH)) == (VALUE_REGISTER | VALUE_FRESH) &&
                    !(value.kind & VALUE_INDIRECT) && check_if_value_is_constant_or_temporary(&value) && scope->parent;
    if (taken_over) {
        identifier->register_id = value.dynamic.register_id;
    } else if (!(scope->flags & SCOPE_STRUCT_MEMBERS) && type->size) {
        identifier->register_id = allocate_a_register(scope, type->size, type, type->alignment);
        if (!register_id_is_valid(identifier->register_id)) return false;
        Value variable;
        make_dynamic_value_from_register(&variable, identifier->register_id, type, identifier->declaration);
        b8 written;
        if (!scope->parent) written = copy_constant_value_data(identifier->register_id, type, &value);
        else if (value.kind & VALUE_CONSTANT) written = instruction_copy_constant(scope, &variable, &value);
        else written = copy_into_register(scope, &variable, &value);
        if (!written) return false;
    }
    mark_register_as_owned_by_identifier(scope, identifier->register_id);
    return true;
}
