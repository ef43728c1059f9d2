// A weak stand-in for the parser routine that the core calls and the parser does not define
// yet: the values of an enum. It does the least a fixture needs: a member is "$A;" or
// "$A := n;". The real routine wins once a library defines it.
#include "stand_ins.h"

#include <string.h>

#define WEAK __attribute__((weak))

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* at, const char* message) {
    if (at) print_error_on_token(at, "%s", message);
    else print_error("%s", message);
    return false;
}

WEAK b8 parse_enum_body(Identifier* enum_type, Token* first, Token* end, u64* running_value, u8 flags_mode, u8) {
    Scope* members = enum_type->member_scope;
    for (Token* token = first; !at_end(token, end);) {
        Token* name = token->next;
        if (!(token->kind & TOKEN_DOLLAR) || at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER)) {
            return report(token, "Enum members are written \"$NAME;\" or \"$NAME := value;\".");
        }
        Token* semicolon = get_first_token_like_bounded(name, TOKEN_SEMICOLON, end);
        if (!semicolon) return report(name, "Expected a ';'.");
        u64 value = *running_value;
        if (name->next != semicolon) {
            Token* colon = name->next;
            Token* equals = colon->next;
            if (!(colon->kind & TOKEN_COLON) || at_end(equals, semicolon) || equals->value != OP_ASSIGN) {
                return report(colon, "Enum members are written \"$NAME;\" or \"$NAME := value;\".");
            }
            Value constant;
            if (!parse_simple_statement(members, equals->next, semicolon, enum_type->element_type, 0, 0, 1, &constant)) {
                return false;
            }
            value = constant.constant.data;
        }
        Identifier* member = add_identifier(members, name->text, name->length, IDENTIFIER_KIND_CONSTANT, name->location);
        if (!member) return false;
        member->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
        member->type = enum_type->element_type;
        make_constant_value_from_integer(&member->constant_value, value, enum_type, name->location);
        *running_value = flags_mode ? (value ? value * 2 : 1) : value + 1;
        token = semicolon->next;
    }
    return true;
}

//~ The preparse of a fixture

b8 stand_in_preparse(Scope* scope, Token* first, Token* end, b8 use_each) {
    for (Token* token = first; !at_end(token, end);) {
        b8 constant = token->kind & TOKEN_DOLLAR;
        Token* name = constant ? token->next : token;
        if (at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER) || at_end(name->next, end) ||
            !(name->next->kind & TOKEN_COLON)) {
            return report(token, "Expected a declaration \"name: type;\", \"name: type = value;\" or \"$name := value;\".");
        }
        Token* semicolon = get_first_token_like_bounded(name, TOKEN_SEMICOLON, end);
        if (!semicolon) return report(name, "All declarations must end with a ';'.");
        Identifier* identifier = add_identifier_with_error(scope, name, constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE);
        if (!identifier) return false;
        Token* type_first = name->next->next;
        Token* assignment = get_assignment_bounded(type_first, semicolon);
        Token* type_end = assignment ? assignment : semicolon;
        if (type_first != type_end) {
            identifier->pending_type_first = type_first;
            identifier->pending_type_end = type_end;
        }
        if (assignment) {
            identifier->pending_value_first = assignment;
            identifier->pending_value_end = semicolon;
        }
        Declaration_Kind kind = DECLARATION_VARIABLE;
        if (type_first->kind & TOKEN_OPEN_PARENTHESIS) kind = DECLARATION_SUB_PROGRAM;
        else if (token_is_word(type_first, STR("#struct"))) kind = DECLARATION_STRUCT;
        else if (token_is_word(type_first, STR("#enum")) || token_is_word(type_first, STR("#enum_flags"))) kind = DECLARATION_ENUM;
        identifier->declaration_kind = kind;
        identifier->flags |= IDENTIFIER_DECLARED | IDENTIFIER_PENDING | (constant ? IDENTIFIER_CONSTANT : 0);
        token = semicolon->next;
    }
    if (!use_each) return true;
    // Each declaration in order, as a first use would parse it; every failure is reported.
    b8 parsed = true;
    for (Token* token = first; !at_end(token, end); token = get_first_token_like_bounded(token, TOKEN_SEMICOLON, end)->next) {
        Token* name = (token->kind & TOKEN_DOLLAR) ? token->next : token;
        if (!get_identifier_with_error(scope, name, 0)) parsed = false;
    }
    return parsed;
}
