// Sub-program declarations: one parameter of a signature ("$", "#copy", name, type and
// default), and the whole declaration after its name: the signature, '=', the #import and
// #inline directives and the body, compiled at once unless the body is expanded at every
// call (#inline) or compiled once per instance (polymorphic).
#include <string.h>

#include "compiler/parser/parser.h"
#include "foundation/meow_hash.h"
#include "compiler/core/foreign_routine_table.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 is_assign(Token* token) { return (token->kind & TOKEN_OPERATOR) && token->value == OP_ASSIGN; }

//~ Parameters

// The default written after '=': a constant of the parameter's type, which it gives the
// parameter when none was written.
static b8 parse_default_value(Scope* body, Identifier* parameter, Token* first, Token* end) {
    Value value;
    if (!parse_assignment_value(body, 0, 1, parameter->type, first, end, &value)) return false;
    Identifier* type = parameter->type ? parameter->type : infer_type_from_value(0, &value);
    if (!type) {
        print_error_on_token(end, "Did you forget to specify a type for parameter '%s'?", get_report_name(parameter));
        return false;
    }
    if (!cast_value_to_type(&value, body, type, &value)->kind) return false;
    parameter->type = type;
    parameter->constant_value = value;
    return true;
}

Identifier* preparse_sub_program_param(Sub_Program* sub_program, Token* first, Token* end) {
    Scope* body = sub_program->body_scope;
    Token* token = first;
    b8 constant = false, copied = false;
    if (!at_end(token, end) && (token->kind & TOKEN_DOLLAR)) {
        constant = true;
        token = token->next;
    }
    if (!at_end(token, end) && (token->kind & TOKEN_DIRECTIVE)) {
        if (token_is_word(token, STR("#no_copy"))) {
            print_error_on_token(token, "#no_copy is deprecated. Inlined call arguments are *not* copied by default anymore, so "
                                        "if you need to copy them use #copy, e.g. $f: (#copy a: u32) -> #inline {...};.");
            return 0;
        }
        if (!token_is_word(token, STR("#copy"))) {
            print_error_on_token(token, "Directive %s is either invalid or cannot be used here.", token_to_c_string(token));
            return 0;
        }
        copied = true;
        token = token->next;
    }
    if (at_end(token, end) || !(token->kind & TOKEN_IDENTIFIER)) {
        Token* at = token ? token : end;
        print_error_on_token(at, "Expected a parameter name but got '%s' instead.", token_to_c_string(at));
        return 0;
    }
    Token* name = token;
    if (get_identifier_in_list(body, IDENTIFIER_KIND_PARAMETER, name->text, name->length)) {
        print_error_on_token(name, "Parameter '%s' already exists.", token_to_c_string(name));
        return 0;
    }
    Identifier* parameter = add_identifier(body, name->text, name->length, IDENTIFIER_KIND_PARAMETER, make_trace_from_token(name));
    if (!parameter) return 0;
    parameter->parameter_end = end;
    if (constant) parameter->flags |= IDENTIFIER_CONSTANT | TYPE_POLYMORPHIC;
    if (!copied) parameter->flags |= PARAMETER_NOT_COPIED;

    Token* colon = name->next;
    if (at_end(colon, end) || !(colon->kind & TOKEN_COLON)) {
        Token* at = colon ? colon : end;
        print_error_on_token(at, "Expected ':' but got '%s' instead.", token_to_c_string(at));
        return 0;
    }
    b8 polymorphic_sub_program = (sub_program->flags & TYPE_POLYMORPHIC) != 0;
    token = colon->next;
    b8 typed = !at_end(token, end) && !is_assign(token);
    if (typed) {
        Token* assignment = get_assignment_bounded(token, end);
        Token* type_end = assignment ? assignment : end;
        parameter->pending_type_first = token;
        parameter->pending_type_end = type_end;
        if (!polymorphic_sub_program) {
            Identifier* type;
            Token* stop;
            if (!parse_type(body, &type, token, type_end, &stop, PARSE_TYPE_POLYMORPHIC_SIGNATURE, 0, 0)) return 0;
            if (!at_end(stop, type_end)) {
                print_error_on_token(stop, "This is unexpected.");
                return 0;
            }
            parameter->type = type;
            if (!type) parameter->flags |= TYPE_POLYMORPHIC;
        }
        token = type_end;
    }
    b8 has_default = !at_end(token, end);
    if (has_default) {
        if (!is_assign(token)) {
            print_error_on_token(token, "This is unexpected.");
            return 0;
        }
        if (at_end(token->next, end)) {
            print_error_on_token(token, "Did you forget to specify a value?");
            return 0;
        }
        parameter->pending_value_first = token->next;
        b8 polymorphic = polymorphic_sub_program || (parameter->flags & TYPE_POLYMORPHIC);
        if (!polymorphic && !parse_default_value(body, parameter, token->next, end)) return 0;
    }
    if (!typed && !has_default) {
        print_error_on_token(end, "Did you forget to specify a type for parameter '%s'?", token_to_c_string(name));
        return 0;
    }
    if (!polymorphic_sub_program && !(parameter->flags & TYPE_POLYMORPHIC)) parameter->flags |= IDENTIFIER_DECLARED;
    return parameter;
}

//~ Declarations

static b8 is_foreign_routine(String name) {
    for (u32 i = 0; i < FOREIGN_ROUTINE_COUNT; i++) {
        if (strings_equal(foreign_routines[i].name, name)) return true;
    }
    return false;
}

static void report_missing_assignment(Sub_Program* sub_program, Token* first) {
    const char* message = "Expected '=' followed by a block of code or #import after the signature of sub-program '%s'.";
    if (first) print_error_on_token(first, message, get_report_name(sub_program));
    else print_error_on_trace(sub_program->declaration, message, get_report_name(sub_program));
}

static void report_no_body(Sub_Program* sub_program, Token* at) {
    const char* message = "Expected an '#import' directive or a block of code but got '%s' instead.";
    if (at) print_error_on_token(at, message, token_to_c_string(at));
    else print_error_on_trace(sub_program->declaration, message, "");
}

b8 parse_sub_program_declaration(Scope* scope, Sub_Program* sub_program, Token* first, Token* end) {
    Token* assignment = at_end(first, end) ? 0 : get_assignment_bounded(first, end);
    if (!assignment) {
        report_missing_assignment(sub_program, first);
        return false;
    }
    Token* import_directive = 0;
    Token* inline_directive = 0;
    Token* token = assignment->next;
    for (; !at_end(token, end) && (token->kind & TOKEN_DIRECTIVE); token = token->next) {
        if (token->length == 7 && token_is_word(token, STR("#import"))) {
            if (!is_foreign_routine(sub_program->name)) {
                print_error_on_token(token, "'%s' is not a foreign routine of this editor.", get_report_name(sub_program));
                return false;
            }
            import_directive = token;
            sub_program->flags |= IDENTIFIER_FOREIGN;
            sub_program->flags &= ~SUB_PROGRAM_SCALAR_RETURN;
            sub_program->import_hash = MeowHash((u64)sub_program->name.count, sub_program->name.data).low;
        } else if (token->length == 7 && token_is_word(token, STR("#inline"))) {
            inline_directive = token;
            sub_program->flags |= IDENTIFIER_INLINE;
            sub_program->flags &= ~SUB_PROGRAM_SCALAR_RETURN;
        } else {
            print_error_on_token(token, "This directive is unknown or not supported here.");
            return false;
        }
    }

    Token* stop;
    if (!parse_sub_program_signature(scope, sub_program, first, end, &stop)) return false;
    b8 polymorphic = (sub_program->flags & TYPE_POLYMORPHIC) != 0;
    // Both refusals need what the signature says, so they follow it.
    if (import_directive && polymorphic) {
        print_error_on_token(import_directive, "Polymorphic sub-programs cannot be imported for now.");
        return false;
    }
    if (inline_directive && (sub_program->flags & SUB_PROGRAM_C_CALL)) {
        print_error_on_token(inline_directive, "You cannot inline a sub-program marked as #c_call.");
        return false;
    }
    if (sub_program->flags & IDENTIFIER_FOREIGN) sub_program->flags &= ~IDENTIFIER_INLINE;
    b8 is_inline = (sub_program->flags & IDENTIFIER_INLINE) != 0;
    if (is_inline) sub_program->flags &= ~SUB_PROGRAM_SCALAR_RETURN;
    if (!polymorphic && !set_sub_program_registers(scope, sub_program)) return false;
    if (is_inline) {
        for (Identifier* p = (Identifier*)sub_program->body_scope->parameters.first_element; p; p = p->next) {
            p->flags |= IDENTIFIER_INLINE;
        }
    }

    if (at_end(token, end)) {
        if (!(sub_program->flags & IDENTIFIER_FOREIGN)) {
            report_no_body(sub_program, end);
            return false;
        }
    } else if (token->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON)) {
        Token* closing = (Token*)token->value;
        if (!closing) closing = get_block_end(token, end);
        if (!closing) return false;
        if (!at_end(closing, end) && !at_end(closing->next, end)) {
            print_error_on_token(closing->next, "This is unexpected.");
            return false;
        }
        sub_program->body_token = token;
        if (!polymorphic && !is_inline &&
            !make_instructions_in_scope(sub_program->body_scope, token->next, closing, 0, 0)) {
            return false;
        }
    } else {
        report_no_body(sub_program, token);
        return false;
    }
    if (polymorphic) return true;

    // The text is built in the temporary memory and kept only as its copy: a layer of many
    // sub-programs would fill the temporary memory otherwise.
    u64 used = tmp_get_used();
    String signature = get_sub_program_signature(sub_program, sub_program->body_scope, sub_program->element_type);
    if (signature.data) sub_program->signature_text = copy_to_compiler_static_strings(signature);
    tmp_set_used(used);
    return signature.data && sub_program->signature_text.data != 0;
}
