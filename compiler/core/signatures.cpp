// Sub-program signatures: the parameters (each read by the parser's parameter routine), the
// directives after them, the return type, and the layout of the call's parameter block,
// which the generated code and the editor's foreign routines both read.
#include "compiler/core/compiler_core.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

// Places a value of the type in the parameter block: at the size so far rounded up to the
// type's alignment.
static u32 place_in_block(u64* size, u32* alignment, Identifier* type) {
    u32 type_alignment = type->alignment ? type->alignment : 1;
    if (type_alignment > *alignment) *alignment = type_alignment;
    u64 offset = (*size + type_alignment - 1) / type_alignment * type_alignment;
    *size = offset + type->size;
    return (u32)offset;
}

// Directives between the parameters and the return type; stops at '->', '$', an operator or the end.
static b8 parse_signature_directives(Sub_Program* sub_program, Token* token, Token* end, Token** after) {
    for (; !at_end(token, end); token = token->next) {
        if (token->kind & (TOKEN_ARROW | TOKEN_DOLLAR | TOKEN_BINARY_OPERATOR)) break;
        if (!(token->kind & TOKEN_DIRECTIVE)) {
            print_error_on_token(token, "Expected a directive or a return value but got '%s' instead.", token_to_c_string(token));
            return false;
        }
        if (token_is_word(token, STR("#no_context"))) {
            sub_program->flags |= SUB_PROGRAM_NO_CONTEXT;
        } else if (token_is_word(token, STR("#call_location"))) {
            if (sub_program->flags & IDENTIFIER_FOREIGN) {
                print_error_on_token(token, "You cannot use %s on a foreign sub-program.", token_to_c_string(token));
                return false;
            }
            sub_program->flags |= SUB_PROGRAM_CALL_LOCATION;
        } else if (token_is_word(token, STR("#c_call"))) {
            sub_program->flags |= SUB_PROGRAM_C_CALL;
        } else {
            print_error_on_token(token, "Directive '%s' is unknown or not supported here.", token_to_c_string(token));
            return false;
        }
    }
    *after = token;
    return true;
}

// Each parameter between the parentheses, split at the commas outside brackets.
static b8 parse_parameters(Sub_Program* sub_program, Token* open, Token* closing) {
    if (open->next == closing) return true;
    for (Token* piece = open->next;;) {
        Token* comma = get_first_token_like_bounded(piece, TOKEN_COMMA, closing);
        Token* piece_end = comma ? comma : closing;
        if (piece == piece_end) {
            print_error_on_token(piece_end, "Expected a parameter.");
            return false;
        }
        Identifier* parameter = parser_routines.preparse_sub_program_param(sub_program, piece, piece_end);
        if (!parameter) return false;
        if (parameter->flags & TYPE_POLYMORPHIC) sub_program->flags |= TYPE_POLYMORPHIC;
        if (!comma) return true;
        piece = comma->next;
    }
}

// Kinds of a return value that comes back in a register.
#define SCALAR_RETURN_KINDS (TYPE_ENUM | TYPE_UNSIGNED | TYPE_SIGNED | TYPE_FLOAT | TYPE_TYPE | TYPE_BOOLEAN)

b8 parse_sub_program_signature(Scope* scope, Sub_Program* sub_program, Token* first, Token* end, Token** stop) {
    Compiler_State* state = &global_compiler_state;
    sub_program->flags |= TYPE_SUB_PROGRAM;
    sub_program->type = sub_program;
    sub_program->self = sub_program;
    sub_program->leaf_type = sub_program;
    sub_program->size = state->address_size;
    sub_program->alignment = state->address_alignment;
    if (at_end(first, end) || !(first->kind & TOKEN_OPEN_PARENTHESIS)) {
        const char* message = "A sub-program declaration looks like the following:\n"
                              "$sub_program_name: (<parameters>) <return_value> = { <body> };\n"
                              "$sub_program_name: (<parameters>) <return_value> = #import;\n"
                              "sub_program_name: (<parameters>) <return_value>;";
        if (first) print_error_on_token(first, "%s", message);
        else print_error("%s", message);
        return false;
    }
    Token* closing = (Token*)first->value;
    Scope* parameters = _add_a_scope(scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, make_trace_from_token(first));
    if (!parameters) return false;
    parameters->owner = sub_program;
    parameters->sub_program = sub_program;
    sub_program->member_scope = parameters;
    sub_program->body_scope = parameters;

    Token* after;
    if (!parse_signature_directives(sub_program, closing->next, end, &after)) return false;
    if (!parse_parameters(sub_program, first, closing)) return false;
    b8 polymorphic = sub_program->flags & TYPE_POLYMORPHIC;
    if (polymorphic && !(sub_program->flags & IDENTIFIER_CONSTANT)) {
        print_error_on_token(first, "This sub-program cannot be polymorphic.");
        return false;
    }
    if (polymorphic && (sub_program->flags & SUB_PROGRAM_C_CALL)) {
        print_error_on_token(first, "For now polymorphic sub-programs cannot be marked as #c_call.");
        return false;
    }

    u64 size = 0;
    u32 alignment = 1;
    if (!polymorphic) {
        for (Identifier* p = (Identifier*)parameters->parameters.first_element; p; p = p->next) {
            if ((p->flags & IDENTIFIER_CONSTANT) || !p->type) continue;
            p->call_data_offset = place_in_block(&size, &alignment, p->type);
        }
    }

    *stop = after;
    if (!at_end(after, end) && (after->kind & TOKEN_ARROW)) {
        Token* return_first = after->next;
        // The return type ends at the '=' of a body or of a variable's value.
        Token* assignment = get_assignment_bounded(return_first, end);
        Token* return_end = assignment ? assignment : end;
        *stop = return_end;
        if (polymorphic) {
            sub_program->return_type_first = return_first;
            sub_program->return_type_end = return_end;
        } else {
            Identifier* return_type;
            Token* return_stop;
            if (!parse_type(parameters, &return_type, return_first, return_end, &return_stop, PARSE_TYPE_NO_SUB_PROGRAM, 0, 0)) {
                return false;
            }
            if (!at_end(return_stop, return_end)) {
                print_error_on_token(return_stop, "This is unexpected.");
                return false;
            }
            sub_program->element_type = return_type;
            sub_program->return_value_offset = place_in_block(&size, &alignment, return_type);
        }
    }
    if (size > 0xFFFFFFFFull) {
        print_error_on_token(first, "This type is too large.");
        return false;
    }
    sub_program->call_data_size = (u32)size;
    sub_program->call_data_alignment = alignment;

    Identifier* returned = sub_program->element_type;
    if (!polymorphic && !(sub_program->flags & IDENTIFIER_FOREIGN) && returned &&
        (returned->pointer_depth || (returned->flags & SCALAR_RETURN_KINDS))) {
        sub_program->flags |= SUB_PROGRAM_SCALAR_RETURN;
    }
    if (sub_program->flags & IDENTIFIER_CONSTANT) {
        Token* last = first;
        while (last->next && last->next != *stop) last = last->next;
        Value* value = make_constant_value_from_register(&sub_program->constant_value, INVALID_REGISTER_ID, sub_program,
                                                         make_trace_from_tokens(first, last));
        value->constant.data = (u64)sub_program;
    }
    return true;
}
