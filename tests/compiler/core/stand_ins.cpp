// Weak stand-ins for the parser routines that the core calls and the parser does not define
// yet: sub-program declarations and the parameters of a signature. Each does the least a
// fixture needs: a parameter is "name: type". The real routine wins once a library defines it.
#include "stand_ins.h"

#include <string.h>

Stand_In_Control stand_in_control;

void reset_stand_ins() { memset(&stand_in_control, 0, sizeof(stand_in_control)); }

#define WEAK __attribute__((weak))

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* at, const char* message) {
    if (at) print_error_on_token(at, "%s", message);
    else print_error("%s", message);
    return false;
}

WEAK b8 parse_sub_program_declaration(Scope* scope, Sub_Program* sub_program, Token*, Token*) {
    stand_in_control.declarations_parsed++;
    if (stand_in_control.look_up_while_parsing) {
        stand_in_control.seen_while_parsing = get_identifier_with_error(scope, stand_in_control.look_up_while_parsing, 0);
    }
    if (stand_in_control.fail) {
        print_error_on_trace(sub_program->declaration, "The stand-in declaration failed.");
        return false;
    }
    return true;
}

WEAK Identifier* preparse_sub_program_param(Sub_Program* sub_program, Token* first, Token* end) {
    Scope* parameters = sub_program->body_scope;
    b8 constant = first->kind & TOKEN_DOLLAR;
    Token* name = constant ? first->next : first;
    if (at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER)) {
        report(at_end(name, end) ? first : name, "Expected a parameter name.");
        return 0;
    }
    Token* colon = name->next;
    if (at_end(colon, end) || !(colon->kind & TOKEN_COLON)) {
        report(name, "Expected ':' after the parameter name.");
        return 0;
    }
    Identifier* parameter = add_identifier(parameters, name->text, name->length, IDENTIFIER_KIND_PARAMETER, name->location);
    if (!parameter) return 0;
    Identifier* type;
    Token* stop;
    if (!parse_type(parameters, &type, colon->next, end, &stop, PARSE_TYPE_POLYMORPHIC_SIGNATURE, 0, 0)) return 0;
    if (!at_end(stop, end)) {
        report(stop, "This is unexpected.");
        return 0;
    }
    parameter->type = type;
    if (constant) parameter->flags |= IDENTIFIER_CONSTANT | TYPE_POLYMORPHIC;
    if (!type) parameter->flags |= TYPE_POLYMORPHIC;
    if (!(parameter->flags & TYPE_POLYMORPHIC)) parameter->flags |= IDENTIFIER_DECLARED;
    return parameter;
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
