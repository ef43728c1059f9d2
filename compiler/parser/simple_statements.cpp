// The expression entry: a run of tokens split at its binary operators by priority, equal
// priorities from the left, tighter ones bound into the right operand. Constants fold; an
// operation with a value in a register becomes instructions, always written into a
// temporary, never into a variable's register. A comparison leaves its result in the
// processor flags until something else needs them.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 is_constant(Value* value) { return value->kind & VALUE_CONSTANT; }

// The type an operation on this left operand has: a register's, a typed constant's, or what
// an untyped constant stands for (u64, s64, f32, String).
static Identifier* get_operation_type(Value* left) { return get_resolved_type(infer_type_from_value(INFER_DEREFERENCE, left)); }

// Temporaries are written in place; anything else is copied into one first.
static b8 make_temporary(Scope* scope, Value* value) {
    if ((value->kind & VALUE_FRESH) && !(value->kind & VALUE_INDIRECT) && check_if_value_is_constant_or_temporary(value)) {
        return true;
    }
    return copy_dynamic_value(value, scope, value)->kind != 0;
}

// A value read through its address is loaded first; compares and sources take the value.
static b8 load_if_indirect(Scope* scope, Value* value) {
    return !(value->kind & VALUE_INDIRECT) || copy_dynamic_value(value, scope, value)->kind;
}

// The integer value of a constant read at its own size, signed for a signed class.
static s64 get_integer(Constant* constant) {
    u32 size = constant->size;
    if (!(constant->mask & CONSTANT_TYPED) || size >= 8 || !size) return (s64)constant->data;
    u32 unused = 64 - 8 * size;
    u64 shifted = constant->data << unused;
    return (constant->mask & CONSTANT_SIGNED) ? (s64)shifted >> unused : (s64)(shifted >> unused);
}

static b8 is_zero_constant(Constant* constant) {
    if (constant->mask & CONSTANT_INTEGER) return get_integer(constant) == 0;
    if (constant->mask & CONSTANT_REAL) return (constant->data & 0x7FFFFFFFFFFFFFFFull) == 0;
    return false;
}

// Whether a constant's source is a zero written there, not one that reached it as an
// inline parameter bound to 0 or a fold of one: "x <= 0" and "x / 0" are slips worth a
// message, but a body that is right for every argument must compile for that one too.
static b8 written_as_literal(Trace source) {
    u8* at = source.text_start;
    u8* end = at ? at + source.length : at;
    while (at < end && (*at == '(' || *at == ' ' || *at == '\t')) at++;
    while (end > at && (end[-1] == ')' || end[-1] == ' ' || end[-1] == '\t')) end--;
    if (at == end || *at < '0' || *at > '9') return false;
    for (u8* c = at; c < end; c++) {
        b8 number_octet = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F') ||
                          *c == 'x' || *c == 'X' || *c == '_' || *c == '.';
        if (!number_octet) return false;
    }
    return true;
}

//~ Operand types

static b8 report_not_a_number(Token* token, Identifier* type) {
    print_error_on_token(token,
                         "You cannot apply an arithmetic operation on a value of type '%s' because it is not a number.\n"
                         "Note that operators cannot be overloaded at the moment but this may change in future versions.",
                         type_to_c_string(type));
    return false;
}

// A struct of the user's own (not String, not an array record): compared member by member.
static b8 is_record(Identifier* type) {
    return type && !type->pointer_depth && (type->flags & TYPE_STRUCT) && !(type->flags & (TYPE_STRING | TYPE_ARRAY));
}

// Structs, types, sub-programs and void are not numbers: String, types, sub-programs and
// records may only be compared for equality, the rest not at all.
static b8 check_operation_type(Identifier* type, u64 operator_bit, Token* token) {
    if (!type || type->pointer_depth) return true;
    b8 equality = operator_bit == OP_EQUAL || operator_bit == OP_NOT_EQUAL;
    if (type->flags & (TYPE_STRING | TYPE_TYPE | TYPE_SUB_PROGRAM)) return equality || report_not_a_number(token, type);
    if (is_record(type) && equality) return true;
    if (type->flags & (TYPE_STRUCT | TYPE_VOID)) return report_not_a_number(token, type);
    return true;
}

static b8 check_integer_operation(Identifier* type, u64 operator_bit, Trace trace) {
    if (!type_and_operation_match(type, operator_bit, trace)) return false;
    Identifier* base = get_enum_base(type);
    if ((operator_bit & OP_BITWISE) && base && !base->pointer_depth && (base->flags & TYPE_FLOAT)) {
        print_error_on_trace(trace, "You cannot use operator bitwise operators with a number of type %s.", type_to_c_string(type));
        return false;
    }
    return true;
}

//~ The running state of one expression

struct Expression {
    Scope* scope;
    Value left;            // the value so far
    Identifier* hint;      // the type untyped operands are fitted to
    u64 last_operator;
    Value compared;        // the left operand of a comparison still in the flags
    b8 in_flags;           // left is that comparison
    b8 single;             // no comparison had to be stored on the way
};

// A comparison's result leaves the flags for a b8 register.
static b8 store_comparison(Expression* e) {
    Value stored;
    if (!make_dynamic_value(&stored, e->scope, get_basic_type(BASIC_TYPE_B8), e->left.source)->kind ||
        !instruction_get_cmp_result(e->scope, e->last_operator, &stored, &e->compared)) {
        return false;
    }
    e->left = stored;
    e->in_flags = false;
    return true;
}

//~ Records compared member by member

// Two records are equal when every member is: padding between members is never read. The
// outcome of each member's compare is stored and folded into one b8, with & for == and
// | for !=.
struct Record_Compare {
    Scope* scope;
    u64 operator_bit;
    Trace trace;
    Value result;  // kind 0 until the first member is compared
};

static b8 compare_record_part(Record_Compare* c, Identifier* type, Register_Id left, Register_Id right, u32 offset);

static b8 compare_record_members(Record_Compare* c, Identifier* record, Register_Id left, Register_Id right, u32 offset) {
    Scope* members = record->member_scope;
    for (Identifier* m = members ? (Identifier*)members->variables.first_element : 0; m; m = m->next) {
        if (m->flags & IDENTIFIER_USING_MEMBER) continue;  // the carrier's own compare covers it
        if (m->union_marker) {
            print_error_on_trace(c->trace, "Values of type '%s' cannot be compared: a #union has no one member to compare.",
                                 type_to_c_string(record));
            return false;
        }
        if (!(m->flags & IDENTIFIER_INLINE_ARRAY_MEMBER)) {
            if (!compare_record_part(c, m->type, left, right, offset + m->member_offset)) return false;
            continue;
        }
        Identifier* element = type_to_dereference_of_type(m->type);
        for (u32 i = 0; i < m->element_count; i++) {
            if (!compare_record_part(c, element, left, right, offset + m->member_offset + i * element->size)) return false;
        }
    }
    return true;
}

static b8 compare_record_part(Record_Compare* c, Identifier* type, Register_Id left, Register_Id right, u32 offset) {
    Identifier* resolved = get_resolved_type(type);
    if (is_record(resolved)) return compare_record_members(c, resolved, left, right, offset);
    Register_Id left_part = allocate_within_register(left, offset, type->size);
    Register_Id right_part = allocate_within_register(right, offset, type->size);
    if (!register_id_is_valid(left_part) || !register_id_is_valid(right_part)) return false;
    Value a, b, outcome;
    make_dynamic_value_from_register(&a, left_part, type, c->trace);
    make_dynamic_value_from_register(&b, right_part, type, c->trace);
    if (!instruction_cmp_variable(c->scope, &a, &b) ||
        !make_dynamic_value(&outcome, c->scope, get_basic_type(BASIC_TYPE_B8), c->trace)->kind ||
        !instruction_get_cmp_result(c->scope, c->operator_bit, &outcome, &a)) {
        return false;
    }
    if (!c->result.kind) {
        c->result = outcome;
        return true;
    }
    return instruction_arithmetic(c->scope, c->operator_bit == OP_EQUAL ? OP_BIT_AND : OP_BIT_OR, &c->result, &outcome);
}

// left == right or left != right on two records of one type, into a b8.
static b8 compare_records(Expression* e, u64 operator_bit, Identifier* type, Value* left, Value* right) {
    Record_Compare c = {e->scope, operator_bit, concat_traces(left->source, right->source), {}};
    if (!load_if_indirect(e->scope, left) || !load_if_indirect(e->scope, right) ||
        !compare_record_members(&c, type, left->dynamic.register_id, right->dynamic.register_id, 0)) {
        return false;
    }
    // A record without members equals any other.
    if (!c.result.kind) {
        Value truth;
        make_constant_value_from_integer(&truth, operator_bit == OP_EQUAL, get_basic_type(BASIC_TYPE_B8), c.trace);
        e->left = truth;
        return true;
    }
    c.result.kind |= VALUE_BOOLEAN;
    c.result.source = c.trace;
    e->left = c.result;
    return true;
}

static b8 apply_logical(Expression* e, u64 operator_bit, Value* left, Value* right) {
    Identifier* b8_type = get_basic_type(BASIC_TYPE_B8);
    if (!load_if_indirect(e->scope, left) || !cast_value_to_type(left, e->scope, b8_type, left)->kind ||
        !make_temporary(e->scope, left)) {
        return false;
    }
    if (is_constant(right)) {
        if (!cast_constant_to_type(right, b8_type, right)->kind ||
            !instruction_arithmetic_constant(e->scope, operator_bit, left, right)) {
            return false;
        }
    } else if (!load_if_indirect(e->scope, right) || !cast_value_to_type(right, e->scope, b8_type, right)->kind ||
               !instruction_arithmetic(e->scope, operator_bit, left, right)) {
        return false;
    }
    left->kind |= VALUE_BOOLEAN;
    e->left = *left;
    return true;
}

static b8 apply_with_register(Expression* e, u64 operator_bit, Token* token, Value left, Value right);

// A register on the left, a constant on the right.
static b8 apply_with_constant(Expression* e, u64 operator_bit, Token* token, Value left, Value right) {
    Identifier* type = get_operation_type(&left);
    if (!check_operation_type(type, operator_bit, token)) return false;
    if (operator_bit & OP_LOGICAL) return apply_logical(e, operator_bit, &left, &right);
    if (!cast_constant_to_type(&right, type, &right)->kind) return false;
    if (is_record(type)) {
        Value in_data;
        make_dynamic_value_out_of_non_scalar_constant(&in_data, &right);
        return compare_records(e, operator_bit, type, &left, &in_data);
    }
    Constant* constant = &right.constant;
    Trace whole = concat_traces(left.source, right.source);

    if (operator_bit & OP_CMP) {
        b8 is_unsigned = !type->pointer_depth && (type->flags & TYPE_UNSIGNED);
        if ((operator_bit == OP_LESS || operator_bit == OP_LESS_EQUAL) && is_unsigned && is_zero_constant(constant) &&
            written_as_literal(right.source)) {
            print_error_on_token(token,
                                 "The left value is of type '%s' which is an unsigned integer, thus you cannot use operator %s "
                                 "to compare it to 0.",
                                 type_to_c_string(type), operator_to_c_string(operator_bit));
            return false;
        }
        if (!load_if_indirect(e->scope, &left) || !instruction_cmp_constant(e->scope, &left, &right)) return false;
        e->left = left;
        e->compared = left;
        e->in_flags = true;
        return true;
    }
    if (operator_bit & (OP_DIVIDE | OP_MODULO) && is_zero_constant(constant)) {
        if (written_as_literal(right.source)) {
            print_error_on_trace(right.source, "It looks like you are dividing by zero.");
            return false;
        }
        // Divided at run time, where a branch not taken never divides and one taken faults.
        if (!make_constant_value_dynamic(&right, e->scope, type, &right)->kind) return false;
        return apply_with_register(e, operator_bit, token, left, right);
    }
    if ((operator_bit & (OP_MULTIPLY | OP_DIVIDE)) && (constant->mask & CONSTANT_INTEGER)) {
        s64 factor = get_integer(constant);
        if (factor == 1) {
            e->left = left;
            return true;
        }
        if (factor == 0) {
            e->left = right;
            return true;
        }
        if (factor == -1 && (constant->mask & CONSTANT_SIGNED)) {
            if (!make_temporary(e->scope, &left)) return false;
            return apply_unary_operation_on_value(&e->left, e->scope, OP_NEGATE, &left, whole)->kind != 0;
        }
    }
    if (!check_integer_operation(type, operator_bit, whole) || !make_temporary(e->scope, &left) ||
        !instruction_arithmetic_constant(e->scope, operator_bit, &left, &right)) {
        return false;
    }
    e->left = left;
    return true;
}

// Registers on both sides.
static b8 apply_with_register(Expression* e, u64 operator_bit, Token* token, Value left, Value right) {
    Identifier* type = get_operation_type(&left);
    if (!check_operation_type(type, operator_bit, token)) return false;
    if (operator_bit & OP_LOGICAL) return apply_logical(e, operator_bit, &left, &right);
    Trace whole = concat_traces(left.source, right.source);
    if (!load_if_indirect(e->scope, &right) || !cast_value_to_type(&right, e->scope, type, &right)->kind) return false;
    if (is_record(type)) return compare_records(e, operator_bit, type, &left, &right);
    if (operator_bit & OP_CMP) {
        if (!load_if_indirect(e->scope, &left) || !instruction_cmp_variable(e->scope, &left, &right)) return false;
        e->left = left;
        e->compared = left;
        e->in_flags = true;
        return true;
    }
    if (!check_integer_operation(type, operator_bit, whole) || !make_temporary(e->scope, &left) ||
        !instruction_arithmetic(e->scope, operator_bit, &left, &right)) {
        return false;
    }
    e->left = left;
    return true;
}

// The type an untyped constant on the left of a typed operand works in, folded or not: the
// operand's for a commutative operator (the two swap), else the hint's. A b8 hint (the
// condition's or a flag's) is no type for arithmetic, and with none the operand's is used.
static Identifier* get_left_constant_type(Expression* e, u64 operator_bit, Value* right) {
    Identifier* type = get_type_from_value(right);
    if ((operator_bit & OP_COMMUTATIVE) || !e->hint || e->hint == get_basic_type(BASIC_TYPE_B8)) return type;
    return e->hint;
}

// A typed number other than a truth value: a compare's b8 folds as the 0 or 1 it holds.
static b8 is_typed_number(Constant* constant) {
    Identifier* type = constant->type;
    return (constant->mask & CONSTANT_TYPED) && (constant->mask & CONSTANT_NUMBER) && type &&
           (type->pointer_depth || !(type->flags & (TYPE_TYPE | TYPE_SUB_PROGRAM | TYPE_BOOLEAN)));
}

// A constant computed from inline parameters, typed as a number, beside a register of
// another type.
static b8 is_read_as_a_variable(Value* constant, Value* other) {
    if (!constant->from_parameter || !is_typed_number(&constant->constant)) return false;
    Identifier* type = get_type_from_value(other);
    return type && type != constant->constant.type;
}

static b8 apply_operator_to(Expression* e, Token* token, u64 operator_bit, Value left, Value right);

static b8 apply_operator(Expression* e, Token* token, Value right) {
    u64 operator_bit = token->value;
    Value left = e->left;
    // A value of its own, whatever operand it was folded into; still computed from a
    // parameter when an operand was.
    b8 from_parameter = (is_constant(&left) && left.from_parameter) || (is_constant(&right) && right.from_parameter);
    e->left.inline_parameter = 0;
    e->left.from_parameter = 0;
    b8 applied = apply_operator_to(e, token, operator_bit, left, right);
    if (applied && is_constant(&e->left)) e->left.from_parameter = from_parameter;
    e->left.inline_parameter = 0;
    return applied;
}

static b8 apply_operator_to(Expression* e, Token* token, u64 operator_bit, Value left, Value right) {
    if (is_constant(&left) && is_constant(&right)) {
        Identifier* type = get_operation_type(&left);
        b8 string = type && !type->pointer_depth && (type->flags & TYPE_STRING);
        // Strings have messages of their own in the fold.
        if (!string && !check_operation_type(type, operator_bit, token)) return false;
        // Records are compared by the code, from their constant data.
        if (is_record(type) && e->scope->parent && (left.constant.mask & CONSTANT_TYPE_INFO)) {
            Value in_data;
            make_dynamic_value_out_of_non_scalar_constant(&in_data, &left);
            return apply_with_constant(e, operator_bit, token, in_data, right);
        }
        // An untyped number meets a typed one as it meets a register of that type.
        b8 untyped_number = (left.constant.mask & CONSTANT_NUMBER) && !(left.constant.mask & CONSTANT_TYPED);
        if (!(operator_bit & OP_LOGICAL) && untyped_number && is_typed_number(&right.constant) &&
            !cast_constant_to_type(&left, get_left_constant_type(e, operator_bit, &right), &left)->kind) {
            return false;
        }
        if (!(operator_bit & OP_LOGICAL) && (left.constant.mask & CONSTANT_TYPED) &&
            !cast_constant_to_type(&right, left.constant.type, &right)->kind) {
            return false;
        }
        return apply_constant_operation(&e->left, operator_bit, token, &left, &right)->kind != 0;
    }
    // An inline parameter bound to a constant is a variable of its type where it meets a
    // variable of another: worked on in its own width and sign, as in a called body.
    Value* bound = is_constant(&left) && !is_constant(&right) ? &left : !is_constant(&left) && is_constant(&right) ? &right : 0;
    if (bound && is_read_as_a_variable(bound, bound == &left ? &right : &left)) {
        Identifier* type = bound->constant.type;
        if (!make_constant_value_dynamic(bound, e->scope, type, bound)->kind) return false;
        return apply_with_register(e, operator_bit, token, left, right);
    }
    if (!is_constant(&left)) {
        return is_constant(&right) ? apply_with_constant(e, operator_bit, token, left, right)
                                   : apply_with_register(e, operator_bit, token, left, right);
    }
    // A constant on the left of a register: a commutative operator swaps them.
    if (operator_bit & OP_COMMUTATIVE) return apply_with_constant(e, operator_bit, token, right, left);
    Identifier* type = get_left_constant_type(e, operator_bit, &right);
    Value in_register;
    if (!cast_constant_to_type(&left, type, &left)->kind ||
        !make_constant_value_dynamic(&in_register, e->scope, type, &left)->kind) {
        return false;
    }
    return apply_with_register(e, operator_bit, token, in_register, right);
}

//~ Flags tests

// "flags & MASK" alone in a condition: a test whose result stays in the processor flags.
static b8 parse_flags_test(Scope* scope, Token* first, Token* ampersand, Token* end, Comparison_Result* comparison,
                           u8 flags, u8 constant, Value* out) {
    u8 operand_flags = flags & ~(EXPRESSION_CONDITION | EXPRESSION_FRESH_REGISTER | EXPRESSION_STATEMENT);
    Value left, right;
    if (!parse_expression_between_two_main_operators(scope, 0, first, ampersand, 0, operand_flags, constant, &left)) return false;
    Identifier* left_type = get_type_from_value(&left);
    if (!parse_expression_between_two_main_operators(scope, left_type, ampersand->next, end, 0, operand_flags, constant, &right)) {
        return false;
    }
    if (is_constant(&left) && is_constant(&right)) {
        Expression e = {};
        e.scope = scope;
        e.left = left;
        if (!apply_operator(&e, ampersand, right)) return false;
        *out = e.left;
        return true;
    }
    if (is_constant(&left)) {
        Value swap = left;
        left = right;
        right = swap;
    }
    Identifier* type = get_operation_type(&left);
    Trace whole = concat_traces(left.source, right.source);
    if (!check_operation_type(type, OP_BIT_AND, ampersand) || !check_integer_operation(type, OP_BIT_AND, whole) ||
        !load_if_indirect(scope, &left) || !load_if_indirect(scope, &right) ||
        !cast_value_to_type(&right, scope, type, &right)->kind) {
        return false;
    }
    Instruction* test = allocate_an_instruction(scope, INSTRUCTION_TEST_FLAGS);
    if (!test) return false;
    test->copy.destination = left;
    test->copy.source = right;
    if (comparison) {
        *comparison = Comparison_Result{OP_NOT_EQUAL, 1, 1};
        *out = left;
        out->source = whole;
        return true;
    }
    // No caller jumps on the flags: the outcome becomes a b8 of its own, since the tested
    // value itself says nothing about its masked bits.
    if (!make_dynamic_value(out, scope, get_basic_type(BASIC_TYPE_B8), whole)->kind ||
        !instruction_get_cmp_result(scope, OP_NOT_EQUAL, out, &left)) {
        return false;
    }
    return true;
}

//~ The split

b8 parse_simple_statement(Scope* scope, Token* first, Token* end, Identifier* expected, Comparison_Result* comparison,
                          u8 flags, u8 constant, Value* out) {
    Token* token = get_next_main_operator(first, end, 1);
    if (!token) {
        return parse_expression_between_two_main_operators(scope, expected, first, end, comparison,
                                                           flags & ~EXPRESSION_FRESH_REGISTER, constant, out);
    }
    if ((flags & EXPRESSION_CONDITION) && token->value == OP_BIT_AND && !get_next_main_operator(token->next, end, 1)) {
        return parse_flags_test(scope, first, token, end, comparison, flags, constant, out);
    }
    u8 operand_flags = flags & ~(EXPRESSION_CONDITION | EXPRESSION_FRESH_REGISTER | EXPRESSION_STATEMENT);
    Expression e = {};
    e.scope = scope;
    e.single = true;
    if (!parse_expression_between_two_main_operators(scope, expected, first, token, 0, operand_flags, constant, &e.left)) {
        return false;
    }
    Trace start = e.left.source;
    e.hint = is_constant(&e.left) && !(e.left.constant.mask & CONSTANT_TYPED) ? expected : get_type_from_value(&e.left);

    while (token) {
        if (token->value & OP_ASSIGN) {
            print_error_on_token(token, "This operator cannot be used here.");
            return false;
        }
        // The flags would not survive the right operand's instructions.
        if (e.in_flags) {
            if (!store_comparison(&e)) return false;
            e.single = false;
        }
        Token* right_first = token->next;
        if (!right_first || right_first == end) {
            // Nothing follows the operator: the report goes on what ends the expression, or
            // on the operator when the tokens run out.
            print_error_on_token(right_first ? right_first : token, "The compiler expected a value.");
            return false;
        }
        Token* next = get_next_main_operator(right_first, end, 1);
        Value right;
        if (!next || next->priority <= token->priority) {
            if (!parse_expression_between_two_main_operators(scope, e.hint, right_first, next ? next : end, 0, operand_flags,
                                                             constant, &right)) {
                return false;
            }
        } else {
            // Tighter operators bind into the right operand, up to one as loose as this one.
            Token* search = right_first;
            if ((search->kind & TOKEN_BINARY_OPERATOR) && search->value != OP_DOT) search = search->next;
            next = get_next_binary_operator_with_priority_level_below_or_equal(search, token->priority, end);
            if (!parse_simple_statement(scope, right_first, next ? next : end, e.hint, 0, operand_flags, constant, &right)) {
                return false;
            }
        }
        if (!apply_operator(&e, token, right)) return false;
        e.left.source = concat_traces(start, right.source);
        e.last_operator = token->value;
        if (e.left.kind & VALUE_REGISTER) e.hint = get_type_from_value(&e.left);
        token = next;
    }

    if (e.in_flags && !(comparison && e.single)) {
        if (!store_comparison(&e)) return false;
    }
    if (comparison) {
        b8 in_flags = e.in_flags || (is_constant(&e.left) && (e.last_operator & OP_CMP) && e.single);
        *comparison = Comparison_Result{e.last_operator, e.single, in_flags};
    }
    *out = e.left;
    return true;
}
