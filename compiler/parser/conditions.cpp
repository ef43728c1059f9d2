// Conditions. A condition is not made into one boolean: it is cut at its top-level && and
// || so that the bytecode can jump past what a short circuit skips. Operators inside
// brackets, indexes and braces never cut; a bracketed group joined by && or || is cut the
// same way one level deeper.
#include <string.h>

#include "compiler/parser/parser.h"

// A condition, in a register of its own (the expression parser's flags).
#define CONDITION_EXPRESSION_FLAGS 0x5

#define COMPARISON_OPERATORS (OP_NOT_EQUAL | OP_LESS | OP_LESS_EQUAL | OP_GREATER | OP_GREATER_EQUAL | OP_EQUAL)

// Types a condition compares with 0 as they are; sub-programs only as run-time values.
#define TESTED_TYPE_FLAGS      (TYPE_UNSIGNED | TYPE_SIGNED | TYPE_FLOAT | TYPE_BOOLEAN | TYPE_ENUM)
#define TESTED_VALUE_FLAGS     (TESTED_TYPE_FLAGS | TYPE_SUB_PROGRAM)

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

//~ Zero tests

static f64 constant_real(Constant* constant) {
    f64 value;
    memcpy(&value, &constant->data, sizeof(value));
    return value;
}

b8 constant_is_zero(Constant* constant) {
    if (constant->mask & CONSTANT_REAL) return constant_real(constant) == 0.0;
    if (constant->mask & CONSTANT_INTEGER) return constant->data == 0;
    if (constant->mask & CONSTANT_STRING) return constant->length == 0;
    return false;
}

b8 constant_is_non_zero(Constant* constant) {
    if (constant->mask & CONSTANT_REAL) return constant_real(constant) != 0.0;
    if (constant->mask & CONSTANT_INTEGER) return constant->data != 0;
    if (constant->mask & CONSTANT_STRING) return constant->length != 0;
    return false;
}

b8 value_is_constant_zero(Value* value) { return (value->kind & VALUE_CONSTANT) && constant_is_zero(&value->constant); }

//~ A value as a condition

// The member a struct is tested through: a String's count, another struct's #as member.
static Identifier* get_designated_member(Identifier* type) {
    if (type->flags & TYPE_STRING) return get_struct_member_from_string(type, STR("count"));
    return type->as_member;
}

static b8 is_tested_as_it_is(Identifier* type, u64 flags) { return type && (type->pointer_depth || (type->flags & flags)); }

static b8 report_not_a_condition(Value* value, Identifier* type) {
    print_error_on_trace(value->source, "You cannot use a value of type '%s' in a condition.",
                         type ? type_to_c_string(type) : "?");
    return false;
}

static Identifier* get_constant_condition_type(Constant* constant) {
    u64 mask = constant->mask;
    if (mask & CONSTANT_TYPED) return constant->type;
    if (mask & CONSTANT_UNSIGNED) return get_basic_type(BASIC_TYPE_U64);
    if (mask & CONSTANT_SIGNED) return get_basic_type(BASIC_TYPE_S64);
    if (mask & CONSTANT_REAL) return get_basic_type(BASIC_TYPE_F32);
    if (mask & CONSTANT_STRING) return get_basic_type(BASIC_TYPE_STRING);
    if (mask & CONSTANT_TYPE_INFO) return constant->further_type;
    return 0;
}

b8 check_constant_condition(Value* constant) {
    Identifier* type = get_resolved_type(get_constant_condition_type(&constant->constant));
    if (is_tested_as_it_is(type, TESTED_TYPE_FLAGS)) return true;
    if (type && (type->flags & TYPE_STRUCT)) {
        Identifier* member = get_designated_member(type);
        if (member && is_tested_as_it_is(member->type, TESTED_TYPE_FLAGS)) return true;
    }
    return report_not_a_condition(constant, type);
}

b8 adjust_instructions_for_condition(Scope* scope, u64 operator_bit, u8 direct, u8* jump_kind, Value* value) {
    b8 negated = value->kind & VALUE_NEGATED;
    if (value->kind & VALUE_CONSTANT) {
        if (!check_constant_condition(value)) return false;
        *jump_kind = BYTECODE_JUMP_ZERO;
        return true;
    }
    if (direct && (operator_bit & COMPARISON_OPERATORS)) {
        u8 jump = get_opposite_comparison_jump(operator_bit);
        *jump_kind = negated ? get_opposite_comparison_jump2(jump) : jump;
        return true;
    }

    Identifier* type = get_resolved_type(get_type_from_value(value));
    if (type && !type->pointer_depth && (type->flags & TYPE_STRUCT)) {
        Identifier* member = get_designated_member(type);
        if (!member || !is_tested_as_it_is(member->type, TESTED_TYPE_FLAGS)) return report_not_a_condition(value, type);
        Value tested;
        if (!get_member_value(scope, value, member, &tested)) return false;
        tested.kind |= value->kind & VALUE_NEGATED;
        *value = tested;
    } else if (!is_tested_as_it_is(type, TESTED_VALUE_FLAGS)) {
        return report_not_a_condition(value, type);
    } else if (!load_value_if_indirect(scope, value)) {
        return false;
    }
    value->kind |= negated ? VALUE_NEGATED : 0;

    Value zero = {};
    zero.kind = VALUE_CONSTANT;
    zero.constant.mask = CONSTANT_UNSIGNED;
    zero.constant.size = 1;
    zero.constant.register_id = INVALID_REGISTER_ID;
    zero.constant.text_register = INVALID_REGISTER_ID;
    zero.source = value->source;
    if (!instruction_cmp_constant(scope, value, &zero)) return false;
    *jump_kind = negated ? BYTECODE_JUMP_NOT_ZERO : BYTECODE_JUMP_ZERO;
    return true;
}

//~ Cutting

static Condition_Part* append_condition_part(Bucket_Array* parts, u8 part_kind, u16 level, Token* bracket) {
    Condition_Part* part = (Condition_Part*)bucket_array_append(parts);
    if (!part) {
        report_out_of_compiler_memory("condition parts");
        return 0;
    }
    part->part_kind = part_kind;
    part->level = level;
    part->bracket = bracket;
    return part;
}

static b8 add_value_part(Scope* scope, Bucket_Array* parts, Token* first, Token* end, u16 level, Token* bracket,
                         u32 scope_flags) {
    Condition_Part* part = append_condition_part(parts, CONDITION_PART_VALUE, level, bracket);
    if (!part) return false;
    part->scope = _add_a_scope(scope, scope_flags, first->location);
    if (!part->scope) return false;
    Value value;
    Comparison_Result comparison = {};
    if (!parse_simple_statement(part->scope, first, end, get_basic_type(BASIC_TYPE_B8), &comparison,
                                CONDITION_EXPRESSION_FLAGS, 0, &value)) {
        return false;
    }
    // A float compare is stored and its b8 tested: with a NaN, the jump an || takes when the
    // compare holds is not the opposite of the one taken when it fails.
    b8 direct = comparison.in_flags && !(value.kind & VALUE_CONSTANT);
    Instruction* last = get_last_instruction(part->scope);
    if (direct && last && (last->kind == INSTRUCTION_FLOAT_COMPARE || last->kind == INSTRUCTION_FLOAT_COMPARE_CONSTANT)) {
        Value stored;
        if (!make_dynamic_value(&stored, part->scope, get_basic_type(BASIC_TYPE_B8), value.source)->kind ||
            !instruction_get_cmp_result(part->scope, comparison.operator_bit, &stored, &value)) {
            return false;
        }
        stored.kind |= value.kind & VALUE_NEGATED;
        value = stored;
        direct = false;
    }
    if (!adjust_instructions_for_condition(part->scope, comparison.operator_bit, direct, &part->jump_kind, &value)) {
        return false;
    }
    part->value = value;
    return true;
}

static b8 is_logical_operator(Token* token) {
    return (token->kind & TOKEN_BINARY_OPERATOR) && (token->value == OP_LOGICAL_AND || token->value == OP_LOGICAL_OR);
}

// The first top-level && or || from start; null when a closing bracket or end comes first.
static Token* find_logical_operator(Token* start, Token* end) {
    for (Token* token = start; token && token != end; token = token->next) {
        if (is_logical_operator(token)) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

b8 parse_if_condition(Token* first, Token* end, u16 level, Token* bracket, Scope* scope, Bucket_Array* parts) {
    Token* pending = 0;
    for (Token* segment = first; segment && segment != end;) {
        Token* operator_token = find_logical_operator(segment, end);
        if (!operator_token) {
            // The last part of the whole condition alone is marked.
            if (!add_value_part(scope, parts, segment, end, level, bracket, bracket ? 0 : SCOPE_CONDITION)) return false;
            pending = 0;
            break;
        }
        if (operator_token == segment) {
            print_error_on_token(operator_token, "The compiler expected a value before this operator.");
            return false;
        }
        Token* closing = (Token*)segment->value;
        if ((segment->kind & TOKEN_OPEN_PARENTHESIS) && closing && closing->next == operator_token) {
            if (segment->next == closing) {
                print_error_on_token(segment, "Did you forget to do something inside these '()'?");
                return false;
            }
            if (!parse_if_condition(segment->next, closing, level + 1, segment, scope, parts)) return false;
        } else if (!add_value_part(scope, parts, segment, operator_token, level, bracket, 0)) {
            return false;
        }
        Condition_Part* part = append_condition_part(parts, CONDITION_PART_OPERATOR, level, bracket);
        if (!part) return false;
        part->operator_bit = operator_token->value;
        pending = operator_token;
        segment = operator_token->next;
    }
    if (pending) {
        print_error_on_token(pending, "The compiler expected a value after this operator.");
        return false;
    }
    return true;
}

//~ Folding

Condition_Part* ignore_all_condition_parts_up_to(Condition_Part* stop, u32 count, Condition_Part* start) {
    Condition_Part* part = start;
    for (; part && part != stop && count; part = part->next, count--) part->ignored = 1;
    return part;
}

static Condition_Part* fold_level(Condition_Part* part, u16 level, Condition_Truth* truth);

// One operand of a level: a value part, or a group of deeper parts. Gives the part after it.
static Condition_Part* fold_operand(Condition_Part* part, u16 level, Condition_Truth* truth) {
    if (part->level > level) return fold_level(part, level + 1, truth);
    *truth = CONDITION_DYNAMIC;
    if (part->value.kind & VALUE_CONSTANT) {
        part->ignored = 1;
        *truth = constant_is_non_zero(&part->value.constant) ? CONDITION_TRUE : CONDITION_FALSE;
    }
    return part->next;
}

// Left to right, as && and || (one priority) associate. Whatever is constant has all its
// parts ignored already, so only the operators and what they discard are marked here.
static Condition_Part* fold_level(Condition_Part* first, u16 level, Condition_Truth* truth) {
    Condition_Truth left;
    Condition_Part* after = fold_operand(first, level, &left);
    while (after && after->level == level && after->part_kind == CONDITION_PART_OPERATOR) {
        Condition_Part* operator_part = after;
        b8 is_and = operator_part->operator_bit == OP_LOGICAL_AND;
        Condition_Truth right;
        after = fold_operand(operator_part->next, level, &right);
        Condition_Truth deciding = is_and ? CONDITION_FALSE : CONDITION_TRUE;
        if (left == deciding) {
            // The short circuit never reaches the right operand.
            ignore_all_condition_parts_up_to(after, 0xFFFFFFFFu, operator_part);
        } else if (left != CONDITION_DYNAMIC) {
            operator_part->ignored = 1;
            left = right;
        } else if (right == deciding) {
            // The run-time side still runs for what it does; the constant that decides is
            // then tested as a value of its own (a group's first part stands for the group).
            Condition_Part* decider = operator_part->next;
            if (decider->value.kind & VALUE_CONSTANT) {
                Constant* constant = &decider->value.constant;
                *constant = {};
                constant->mask = CONSTANT_UNSIGNED;
                constant->size = 1;
                constant->data = deciding == CONDITION_TRUE;
                constant->register_id = INVALID_REGISTER_ID;
                constant->text_register = INVALID_REGISTER_ID;
                decider->ignored = 0;
            } else {
                ignore_all_condition_parts_up_to(after, 0xFFFFFFFFu, first);
                left = deciding;
            }
        } else if (right != CONDITION_DYNAMIC) {
            operator_part->ignored = 1;
        }
    }
    *truth = left;
    return after;
}

b8 test_kept_constants(Bucket_Array* parts) {
    Identifier* b8_type = get_basic_type(BASIC_TYPE_B8);
    for (Condition_Part* part = (Condition_Part*)parts->first_element; part; part = part->next) {
        if (part->part_kind != CONDITION_PART_VALUE || part->ignored || !(part->value.kind & VALUE_CONSTANT)) continue;
        Value truth, tested;
        make_constant_value_from_integer(&truth, constant_is_non_zero(&part->value.constant), b8_type, part->value.source);
        if (!make_constant_value_dynamic(&tested, part->scope, b8_type, &truth)->kind ||
            !adjust_instructions_for_condition(part->scope, 0, 0, &part->jump_kind, &tested)) {
            return false;
        }
        part->value = tested;
    }
    return true;
}

Condition_Truth fold_condition_constants(Bucket_Array* parts) {
    Condition_Part* first = (Condition_Part*)parts->first_element;
    if (!first) return CONDITION_TRUE;
    Condition_Truth truth;
    fold_level(first, 0, &truth);
    return truth;
}
