// The preparse of a fixture, for the core's tests: declarations recorded as the global
// preparse records them, without the parser.
#include "stand_ins.h"

#include <string.h>


static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* at, const char* message) {
    if (at) print_error_on_token(at, "%s", message);
    else print_error("%s", message);
    return false;
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
