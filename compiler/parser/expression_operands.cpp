// Operands: what lies between two main operators of an expression. One optional prefix
// operator, then a literal, a name, a bracketed expression, a directive or a form whose type
// comes from the context, then what follows it (postfix_operations.cpp). Apart from the split because an operand recurses into
// the split for its brackets, and the split calls in here for every operand.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* token, const char* message) {
    if (token) print_error_on_token(token, "%s", message);
    else print_error("%s", message);
    return false;
}

static b8 is_binary_operator(Token* token, u64 operator_bit) {
    return (token->kind & TOKEN_BINARY_OPERATOR) && token->value == operator_bit;
}

Token* get_next_main_operator(Token* first, Token* end, u8 skip_leading_minus) {
    // An operator that starts the range splits nothing off: a '-' is the operand's sign, any
    // other is reported by the operand as a misplaced prefix.
    Token* token = first;
    if (skip_leading_minus && !at_end(token, end) && (token->kind & TOKEN_BINARY_OPERATOR) && token->value != OP_DOT) {
        token = token->next;
    }
    for (; !at_end(token, end); token = token->next) {
        if ((token->kind & TOKEN_BINARY_OPERATOR) && token->value != OP_DOT) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

u64 get_opposite_condition_operator(u64 operator_bit) {
    switch (operator_bit) {
        case OP_LOGICAL_AND: return OP_LOGICAL_OR;
        case OP_LOGICAL_OR: return OP_LOGICAL_AND;
        case OP_NOT_EQUAL: return OP_EQUAL;
        case OP_EQUAL: return OP_NOT_EQUAL;
        case OP_LESS: return OP_GREATER_EQUAL;
        case OP_GREATER_EQUAL: return OP_LESS;
        case OP_LESS_EQUAL: return OP_GREATER;
        case OP_GREATER: return OP_LESS_EQUAL;
    }
    return operator_bit;
}

//~ Primary forms

b8 parse_operand_name(Operand_Context* operand, Token* token, Value* out, Token** after) {
    Token* end = operand->end;
    b8 outer = token->kind & TOKEN_QUOTE;
    Token* name = outer ? token->next : token;
    if (outer && (at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER))) {
        Token* at = name ? name : token;
        print_error_on_token(at, "Expected an identifier but got '%s' instead.", token_to_c_string(at));
        return false;
    }
    Identifier* identifier = get_identifier_with_error(operand->scope, name, outer);
    if (!identifier) return false;
    if (operand->changes_it && !change_inline_parameter(operand->scope, identifier)) return false;
    make_value_from_identifier(out, identifier, name->location);
    // A name met inside its own declaration has no value, or no type and register, yet.
    b8 variable = out->kind & VALUE_REGISTER;
    if (!out->kind || (variable && (!identifier->type || !register_id_is_valid(identifier->register_id)))) {
        print_error_on_token(name, "'%s' was not previously declared.", token_to_c_string(name));
        return false;
    }
    out->source = make_trace_from_token(name);
    operand->name = identifier;
    operand->read_from = out->inline_parameter;
    *after = name->next;
    return true;
}

// ".NAME", ".{" and ".[": forms whose type is the one the context expects.
static b8 parse_implicitly_typed(Scope* scope, Identifier* expected, Token* dot, Token* end, u8 constant, Value* out,
                                 Token** after) {
    Token* next = dot->next;
    Identifier* type = get_resolved_type(expected);
    if (!at_end(next, end) && (next->kind & (TOKEN_OPEN_BRACE | TOKEN_OPEN_BRACKET))) {
        b8 is_struct = next->kind & TOKEN_OPEN_BRACE;
        if (!type) {
            return report(dot, is_struct ? "The compiler cannot infer the type of this struct literal."
                                         : "The compiler cannot infer the type of this array literal.");
        }
        u64 wanted = is_struct ? TYPE_STRUCT : TYPE_ARRAY;
        if (type->pointer_depth || !(type->flags & wanted)) {
            print_error_on_token(dot,
                                 is_struct ? "Type '%s' is not a struct type so you cannot make a struct literal from it."
                                           : "Type '%s' is not an array type so you cannot make an array literal from it.",
                                 type_to_c_string(type));
            return false;
        }
        *after = ((Token*)next->value)->next;
        return is_struct ? parse_struct_literal(scope, type, next, constant, out)
                         : parse_array_literal(scope, type, next, constant, out);
    }
    if (at_end(next, end) || !(next->kind & TOKEN_IDENTIFIER)) {
        Token* at = next ? next : dot;
        print_error_on_token(at, "Expected an enum value but got '%s' instead.", token_to_c_string(at));
        return false;
    }
    if (!type) {
        return report(next, "It looks like you are trying to specify an enum value with an implicit enum type but the compiler "
                            "cannot infer that specific enum type.");
    }
    if (type->pointer_depth || !(type->flags & TYPE_ENUM)) {
        print_error_on_token(next, "It looks like you are trying to specify an enum value but type %s is not an enum.",
                             type_to_c_string(type));
        return false;
    }
    Identifier* member = get_enum_value_from_token(type, next);
    if (!member) return false;
    *out = member->constant_value;
    out->source = make_trace_from_token(next);
    *after = next->next;
    return true;
}

static b8 parse_bracketed(Scope* scope, Identifier* expected, Token* open, Comparison_Result* comparison, u8 flags,
                          u8 constant, b8 negated_in_condition, Value* out) {
    Token* closing = (Token*)open->value;
    u8 inner_flags = flags & ~EXPRESSION_STATEMENT;
    if (!negated_in_condition) return parse_simple_statement(scope, open->next, closing, expected, comparison, inner_flags, constant, out);

    // "!(...)" in a condition negates the whole bracket. A comparison it ends in stays in
    // the flags with its operator turned round (a float compare is stored instead: with a
    // NaN, "not less" is not "greater or equal"); anything else is marked negated.
    Comparison_Result own = {};
    if (!parse_simple_statement(scope, open->next, closing, expected, &own, inner_flags, constant, out)) return false;
    if (out->kind & VALUE_CONSTANT) {
        return apply_unary_operation_on_constant(out, OP_NOT, out, make_trace_from_tokens(open, closing))->kind != 0;
    }
    Instruction* last = get_last_instruction(scope);
    b8 float_compare = last && (last->kind == INSTRUCTION_FLOAT_COMPARE || last->kind == INSTRUCTION_FLOAT_COMPARE_CONSTANT);
    if (own.in_flags && (own.operator_bit & OP_CMP)) {
        if (comparison && !float_compare) {
            *comparison = own;
            comparison->operator_bit = get_opposite_condition_operator(own.operator_bit);
            return true;
        }
        Value stored;
        if (!make_dynamic_value(&stored, scope, get_basic_type(BASIC_TYPE_B8), out->source)->kind ||
            !instruction_get_cmp_result(scope, own.operator_bit, &stored, out)) {
            return false;
        }
        *out = stored;
        own.in_flags = 0;
    }
    if (comparison) {
        *comparison = own;
        comparison->single = 0;
    }
    // A value the bracket already negated, "!(!x)", comes out as itself.
    out->kind ^= VALUE_NEGATED;
    return true;
}

//~ The operand

// Whether the operand ends in a step, "n++" or "p.x--", which changes what it names.
static b8 ends_in_a_step(Token* token, Token* end) {
    Token* last = 0;
    for (; !at_end(token, end); token = token->next) {
        last = token;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return last && (last->kind & TOKEN_UNARY_OPERATOR) && (last->value & (OP_INCREMENT | OP_DECREMENT));
}

// Whether a register value of the type can be tested against zero in a condition.
static b8 can_be_tested(Identifier* type) {
    type = get_resolved_type(type);
    if (!type) return false;
    if (type->pointer_depth || (type->flags & (TYPE_NUMBER | TYPE_ENUM | TYPE_SUB_PROGRAM | TYPE_STRING))) return true;
    Identifier* as = (type->flags & TYPE_STRUCT) ? type->as_member : 0;
    Identifier* as_type = as ? get_resolved_type(as->type) : 0;
    return as_type && (as_type->pointer_depth || (as_type->flags & (TYPE_NUMBER | TYPE_ENUM)));
}

b8 parse_expression_between_two_main_operators(Scope* scope, Identifier* expected, Token* first, Token* end,
                                               Comparison_Result* comparison, u8 flags, u8 constant, Value* out) {
    if (flags & EXPRESSION_PLACE) flags &= ~EXPRESSION_FRESH_REGISTER;
    if (at_end(first, end)) return report(first ? first : end, "The compiler expected a value.");

    Token* prefix = 0;
    Token* token = first;
    if ((first->kind & TOKEN_BINARY_OPERATOR) && first->value != OP_SUBTRACT) {
        if (first->value != OP_DOT) {
            print_error_on_token(first, "It looks like you are trying to use operator '%s' as a unary operator.",
                                 token_to_c_string(first));
            return false;
        }
    } else if (first->kind & (TOKEN_BINARY_OPERATOR | TOKEN_UNARY_OPERATOR | TOKEN_AT)) {
        prefix = first;
        token = first->next;
        if (at_end(token, end)) return report(first, "It looks like there is no value to apply this operation on.");
    }
    b8 negated_in_condition = prefix && (flags & EXPRESSION_CONDITION) && prefix->value == OP_NOT;

    b8 address_wanted = prefix && (prefix->kind & TOKEN_AT);
    b8 stepped = prefix && (prefix->kind & TOKEN_UNARY_OPERATOR) && (prefix->value & (OP_INCREMENT | OP_DECREMENT));
    b8 stored_into = (flags & EXPRESSION_PLACE) && !(flags & EXPRESSION_PLACE_ONLY_READ);
    b8 changes_it = stored_into || address_wanted || stepped || ends_in_a_step(token, end);
    Operand_Context operand = {scope, expected, end, flags, constant, address_wanted, 0, 0, changes_it, 0};
    Token* after = 0;
    b8 ok;
    memset(out, 0, sizeof(*out));
    if (token->kind & TOKEN_LITERAL) {
        ok = make_constant_value_from_token(out, token, 0)->kind != 0;
        after = token->next;
    } else if (token_is_word(token, STR("cast")) || (token->kind & TOKEN_DIRECTIVE)) {
        ok = parse_expression_directive(&operand, token, out, &after);
    } else if (token->kind & (TOKEN_IDENTIFIER | TOKEN_QUOTE)) {
        ok = parse_operand_name(&operand, token, out, &after);
    } else if (token->kind & TOKEN_OPEN_PARENTHESIS) {
        ok = parse_bracketed(scope, expected, token, comparison, flags, constant, negated_in_condition, out);
        if (ok && negated_in_condition) prefix = 0;  // the bracket took the '!' in
        after = ((Token*)token->value)->next;
    } else if (is_binary_operator(token, OP_DOT)) {
        ok = parse_implicitly_typed(scope, expected, token, end, constant, out, &after);
    } else {
        ok = report(token, "This is unexpected.");
    }
    if (!ok) return false;
    if (!parse_postfix_operations(&operand, after, out)) return false;
    // A member or an element of a parameter bound to a constant is a part of it: a body that
    // changes it changes the parameter. A bracket's value keeps what it was.
    if (token->kind & (TOKEN_IDENTIFIER | TOKEN_QUOTE)) {
        out->inline_parameter = operand.read_from;
        if (operand.read_from && (out->kind & VALUE_CONSTANT)) out->from_parameter = true;
    }

    if (constant && !(out->kind & VALUE_CONSTANT)) {
        print_error_on_trace(out->source, "This expression does not appear to be constant.");
        return false;
    }
    if (prefix) {
        Trace whole = concat_traces(make_trace_from_token(prefix), out->source);
        if (negated_in_condition && (out->kind & VALUE_REGISTER)) {
            Identifier* type = get_type_from_value(out);
            if (!can_be_tested(type)) {
                print_error_on_token(prefix, "This operator cannot be applied on values of type '%s'.",
                                     type ? type_to_c_string(type) : "?");
                return false;
            }
            if (type->flags & TYPE_SUB_PROGRAM) {
                out->dynamic.type = type_to_memory_address_of_type(get_basic_type(BASIC_TYPE_VOID), 1);
                if (!out->dynamic.type) return false;
            }
            out->kind ^= VALUE_NEGATED;
        } else if (!apply_unary_operation_on_value(out, scope, prefix->value, out, whole)->kind) {
            return false;
        }
        // Another value, still computed from the parameter when the operand was.
        out->inline_parameter = 0;
        out->source = whole;
    }
    if ((flags & EXPRESSION_FRESH_REGISTER) && (out->kind & VALUE_REGISTER) && !(out->kind & VALUE_FRESH)) {
        if (!copy_dynamic_value(out, scope, out)->kind) return false;
    }
    return true;
}
