// Operands that are compile-time directives (#type, #line, #file, #as_float, #size_of,
// #type_of, #constant) or the conversion cast(value, type). Each gives a Value like any
// other first form of an operand; what follows it is read by the postfix operations.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* token, const char* message) {
    print_error_on_token(token, "%s", message);
    return false;
}

static const char* text_or_nothing(Token* token) { return token ? token_to_c_string(token) : ""; }

// The '(' after a directive, or null.
static Token* get_open_parenthesis(Operand_Context* operand, Token* directive) {
    Token* open = directive->next;
    return !at_end(open, operand->end) && (open->kind & TOKEN_OPEN_PARENTHESIS) ? open : 0;
}

//~ cast

// The first ',' inside the brackets at their own level, or null.
static Token* find_cast_comma(Token* open) {
    Token* closing = (Token*)open->value;
    for (Token* token = open->next; token != closing; token = token->next) {
        if (token->kind & TOKEN_COMMA) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

static b8 parse_cast(Operand_Context* operand, Token* cast, Value* out, Token** after) {
    Token* open = get_open_parenthesis(operand, cast);
    if (!open) return report(cast, "If you are trying to cast a value, do it this way: cast(value, type).");
    Token* closing = (Token*)open->value;
    Token* comma = find_cast_comma(open);
    if (comma && comma == open->next) return report(comma, "It looks like you forgot to indicate a value to cast here.");
    if (comma && comma->next == closing) return report(comma, "It looks like you forgot to indicate a type to cast to here.");
    Identifier* type = operand->expected;
    if (!comma && !type) return report(cast, "The compiler cannot infer the type to cast to here.");

    // The value is a result of its own, never a place or a condition.
    u8 flags = (u8)((operand->flags & ~(EXPRESSION_CONDITION | EXPRESSION_PLACE | EXPRESSION_ASSIGNMENT_TARGET | 0x10 |
                                        EXPRESSION_STATEMENT)) |
                    EXPRESSION_FRESH_REGISTER);
    Value value;
    if (!parse_simple_statement(operand->scope, open->next, comma ? comma : closing, 0, 0, flags, operand->constant, &value)) {
        return false;
    }
    if (comma) {
        Token* stop;
        if (!parse_type(operand->scope, &type, comma->next, closing, &stop, 0, 0, 0)) return false;
        if (!at_end(stop, closing)) return report(stop, "This is unexpected.");
    }
    if (!explicit_cast_value(out, operand->scope, type, &value)->kind) return false;
    // Another value, computed from a parameter when the cast one was.
    out->inline_parameter = 0;
    out->from_parameter = (out->kind & VALUE_CONSTANT) && value.from_parameter;
    out->source = make_trace_from_tokens(cast, closing);
    *after = closing->next;
    return true;
}

//~ Directives

static b8 parse_type_directive(Operand_Context* operand, Token* directive, Value* out, Token** after) {
    Token* open = get_open_parenthesis(operand, directive);
    if (!open) {
        print_error_on_token(directive->next ? directive->next : directive,
                             "Expected '(' but got '%s' instead. The #type directive is used in this way: v := #type(@ u32);",
                             text_or_nothing(directive->next));
        return false;
    }
    Token* closing = (Token*)open->value;
    if (closing == open->next) return report(open, "Did you forget to indicate a type value?");
    Identifier* type;
    Token* stop;
    if (!parse_type(operand->scope, &type, open->next, closing, &stop, 0, 0, 0)) return false;
    if (!at_end(stop, closing)) return report(stop, "This is unexpected.");
    make_constant_value_from_type(out, type, make_trace_from_tokens2(open->next, closing));
    *after = closing->next;
    return true;
}

static b8 parse_as_float(Operand_Context* operand, Token* directive, Value* out, Token** after) {
    Token* open = get_open_parenthesis(operand, directive);
    if (!open) {
        print_error_on_token(directive->next ? directive->next : directive,
                             "Expected '(' but got '%s' instead. The #as_float directive is used in this way: v := #as_float(0xc0);",
                             text_or_nothing(directive->next));
        return false;
    }
    Token* closing = (Token*)open->value;
    Value bits;
    if (!parse_simple_statement(operand->scope, open->next, closing, 0, 0, 0, 1, &bits) ||
        !cast_constant_to_type(&bits, get_basic_type(BASIC_TYPE_U32), &bits)->kind) {
        return false;
    }
    u32 pattern = (u32)bits.constant.data;
    f32 real;
    memcpy(&real, &pattern, sizeof(real));
    make_constant_value_from_float(out, real, get_basic_type(BASIC_TYPE_F32), make_trace_from_tokens(directive, closing));
    *after = closing->next;
    return true;
}

// The size of what an expression gives: a value's type, the type a Type constant holds, or
// a constant's own size. Its instructions are emitted.
static b8 parse_size_of(Operand_Context* operand, Token* directive, Value* out, Token** after) {
    Token* open = get_open_parenthesis(operand, directive);
    if (!open || (Token*)open->value == open->next) return report(directive, "#size_of must be used like this: #size_of(<expression>)");
    Token* closing = (Token*)open->value;
    Value value;
    if (!parse_simple_statement(operand->scope, open->next, closing, 0, 0, 0, 0, &value)) return false;
    u64 size;
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    if (!(value.kind & VALUE_CONSTANT)) {
        Identifier* type = get_type_from_value(&value);
        size = type ? type->size : 0;
    } else if ((value.constant.mask & CONSTANT_TYPED) && get_resolved_type(value.constant.type) == type_type && value.constant.data) {
        size = ((Identifier*)value.constant.data)->size;
    } else {
        size = value.constant.size;
    }
    memset(out, 0, sizeof(*out));
    out->kind = VALUE_CONSTANT;
    out->source = make_trace_from_tokens(directive, closing);
    out->constant.mask = CONSTANT_UNSIGNED;
    out->constant.register_id = INVALID_REGISTER_ID;
    out->constant.text_register = INVALID_REGISTER_ID;
    out->constant.data = size;
    out->constant.size = size < 0x100 ? 1 : size < 0x10000 ? 2 : 4;
    *after = closing->next;
    return true;
}

static b8 parse_type_of(Operand_Context* operand, Token* directive, Value* out, Token** after) {
    Token* open = get_open_parenthesis(operand, directive);
    if (!open) return report(directive, "This directive is meant to be used this way: #type_of(<expression>).");
    Token* closing = (Token*)open->value;
    if (closing == open->next) return report(directive, "Did you forget to specify an expression to get the type of?");
    if (!get_type_of_simple_expression(out, operand->scope, open->next, closing)->kind) return false;
    out->source = make_trace_from_tokens(directive, closing);
    *after = closing->next;
    return true;
}

// "#constant f(...)": the name of an inlined sub-program, whose call the postfix operations
// then evaluate while compiling.
static b8 parse_constant_call(Operand_Context* operand, Token* directive, Value* out, Token** after) {
    Token* name = directive->next;
    b8 named = !at_end(name, operand->end) &&
               ((name->kind & TOKEN_IDENTIFIER) ||
                ((name->kind & TOKEN_QUOTE) && !at_end(name->next, operand->end) && (name->next->kind & TOKEN_IDENTIFIER)));
    if (!named) {
        print_error_on_token(directive, "Expected a call after directive '%s'.", token_to_c_string(directive));
        return false;
    }
    if (!parse_operand_name(operand, name, out, after)) return false;
    Identifier* type = (out->kind & VALUE_CONSTANT) && (out->constant.mask & CONSTANT_TYPED) ? out->constant.type : 0;
    if (!type || type->pointer_depth || !(get_signature(type)->flags & TYPE_SUB_PROGRAM)) {
        print_error_on_token(directive, "The %s directive must be used on a constant sub-program call.", token_to_c_string(directive));
        return false;
    }
    if (!(get_signature(type)->flags & IDENTIFIER_INLINE)) {
        print_error_on_token(directive, "The %s directive must be used on an inlined sub-program.", token_to_c_string(directive));
        return false;
    }
    operand->compile_time = directive;
    return true;
}

b8 parse_expression_directive(Operand_Context* operand, Token* first, Value* out, Token** after) {
    if (token_is_word(first, STR("cast"))) return parse_cast(operand, first, out, after);
    memset(out, 0, sizeof(*out));
    if (token_is_word(first, STR("#type"))) return parse_type_directive(operand, first, out, after);
    if (token_is_word(first, STR("#line"))) {
        make_constant_value_from_integer(out, first->location.line, get_basic_type(BASIC_TYPE_S32), make_trace_from_token(first));
        *after = first->next;
        return true;
    }
    if (token_is_word(first, STR("#file"))) {
        Source_File* file = get_source_file(first->location.file_index);
        String path = file ? file->path : String{};
        if (!make_constant_value_from_string(out, path, make_trace_from_token(first))->kind) return false;
        *after = first->next;
        return true;
    }
    if (token_is_word(first, STR("#as_float"))) return parse_as_float(operand, first, out, after);
    if (token_is_word(first, STR("#size_of"))) return parse_size_of(operand, first, out, after);
    if (token_is_word(first, STR("#type_of"))) return parse_type_of(operand, first, out, after);
    if (token_is_word(first, STR("#constant"))) return parse_constant_call(operand, first, out, after);
    print_error_on_token(first, "Directive '%s' is either unsupported or cannot be used here.", token_to_c_string(first));
    return false;
}
