// Operations on values that the expression and statement parsers share: copies into fresh
// registers, defaults of new variables, one-operand operators, taking an address, and the
// folding of a binary operator over two constants. A fold computes what the generated code
// would: untyped integers in 64 bits (the u64 or s64 they stand for), typed ones cut to
// their type's size, shift counts taken as the processor takes them, reals as IEEE says.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static Value* fail(Value* out) {
    out->constant.mask = 0;
    out->kind = 0;
    return out;
}

b8 type_and_operation_match(Identifier* type, u64 operator_bit, Trace trace) {
    Identifier* base = get_enum_base(get_resolved_type(type));
    if (!(operator_bit & OP_INTEGER_ONLY) || (base && !base->pointer_depth && (base->flags & TYPE_INTEGER))) return true;
    print_error_on_trace(trace, "Operator '%s' must be used on integers.", operator_to_c_string(operator_bit));
    return false;
}

//~ Fresh registers

b8 copy_into_register(Scope* scope, Value* destination, Value* source) {
    if (!(source->kind & VALUE_INDIRECT)) return instruction_copy_variable(scope, destination, source);
    // The register holds the value's address: the value is read from there.
    Value address = *source, zero;
    address.kind &= (u8)~VALUE_INDIRECT;
    make_constant_value_from_integer(&zero, 0, get_basic_type(BASIC_TYPE_S64), source->source);
    return instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, destination, &address, &zero);
}

Value* copy_dynamic_value(Value* out, Scope* scope, Value* value) {
    Identifier* type = get_type_from_value(value);
    Value copy;
    if (!type || !make_dynamic_value(&copy, scope, type, value->source)->kind || !copy_into_register(scope, &copy, value)) {
        return fail(out);
    }
    *out = copy;
    return out;
}

Value* make_constant_value_dynamic(Value* out, Scope* scope, Identifier* type, Value* constant) {
    if (!type) type = infer_type_from_value(INFER_DEREFERENCE, constant);
    Value result;
    if (!type || !make_dynamic_value(&result, scope, type, constant->source)->kind ||
        !instruction_copy_constant(scope, &result, constant)) {
        return fail(out);
    }
    *out = result;
    return out;
}

//~ Defaults of new variables

static b8 write_member_default(Scope* scope, u32 depth, Value* value, Identifier* member) {
    Identifier* type = get_resolved_type(member->type);
    Value* fallback = &member->constant_value;
    // A member without a default of its own and without members of its own keeps the zero
    // the whole record was given.
    if (!fallback->kind && (type->pointer_depth || !(type->flags & TYPE_STRUCT))) return true;
    Register_Id view = allocate_within_register(value->dynamic.register_id, member->member_offset, type->size);
    if (!register_id_is_valid(view)) return false;
    Value part;
    make_dynamic_value_from_register(&part, view, type, value->source);
    if (!fallback->kind) return set_dynamic_default_value(scope, depth + 1, &part);
    if (!scope->parent) return copy_constant_value_data(view, type, fallback);
    return instruction_copy_constant(scope, &part, fallback);
}

b8 set_dynamic_default_value(Scope* scope, u32 depth, Value* value) {
    Identifier* type = get_resolved_type(value->dynamic.type);
    b8 global = !scope->parent;
    if (type && !type->pointer_depth && (type->flags & TYPE_STRUCT)) {
        // The record is cleared once; members then take their defaults. Global data starts
        // out zeroed.
        if (depth == 0 && !global && !instruction_set_to_zero(scope, value)) return false;
        Scope* members = type->member_scope;
        for (Identifier* member = members ? (Identifier*)members->variables.first_element : 0; member; member = member->next) {
            if (member->flags & (IDENTIFIER_NO_INITIAL_VALUE | IDENTIFIER_INLINE_ARRAY_MEMBER | IDENTIFIER_USING_MEMBER |
                                 IDENTIFIER_UNION_ALTERNATIVE) ||
                !member->type) {
                continue;
            }
            if (!write_member_default(scope, depth, value, member)) return false;
        }
        return true;
    }
    if (global) {
        u8* staged = get_register_global_data(value->dynamic.register_id);
        if (staged && type) memset(staged, 0, type->size);
        return true;
    }
    return depth ? true : instruction_set_to_zero(scope, value);
}

//~ One-operand operators

// The octets of a string of up to 8 octets as the unsigned number they make.
static void make_number_from_string(Constant* constant) {
    u64 packed = 0;
    memcpy(&packed, (u8*)constant->data, constant->length);
    constant->data = packed;
    constant->mask = CONSTANT_UNSIGNED;
    constant->size = packed < 0x100 ? 1 : packed < 0x10000 ? 2 : packed <= 0xFFFFFFFFull ? 4 : 8;
    constant->length = 0;
    constant->register_id = INVALID_REGISTER_ID;
    constant->text_register = INVALID_REGISTER_ID;
}

// A type or a sub-program: a constant that names something rather than a number.
static b8 is_identity_constant(Constant* constant) {
    Identifier* type = constant->type;
    return (constant->mask & CONSTANT_TYPED) && type && !type->pointer_depth && (type->flags & (TYPE_TYPE | TYPE_SUB_PROGRAM));
}

// A constant that stands for a number: types and sub-programs carry integer bits but are not.
static b8 is_number_constant(Constant* constant) {
    return (constant->mask & CONSTANT_NUMBER) && !is_identity_constant(constant);
}

// The size a typed constant is computed at; an untyped one is a 64-bit number.
static u32 get_operation_size(Constant* constant) {
    u32 size = constant->size;
    if (!(constant->mask & CONSTANT_TYPED) || (size != 1 && size != 2 && size != 4)) return 8;
    return size;
}

// The value cut to size octets and widened back, by sign for a signed class.
static u64 cut_to_size(u64 value, u32 size, b8 is_signed) {
    if (size >= 8) return value;
    u32 unused = 64 - 8 * size;
    return is_signed ? (u64)((s64)(value << unused) >> unused) : (value << unused) >> unused;
}

// An f32 constant keeps single precision, as the generated code computes in it.
static u64 round_real(f64 real, Constant* constant) {
    if ((constant->mask & CONSTANT_TYPED) && constant->size == 4) return bits_of((f64)(f32)real);
    return bits_of(real);
}

static Value* make_truth(Value* out, b8 truth) {
    out->constant.mask = CONSTANT_UNSIGNED;
    out->constant.size = 1;
    out->constant.data = truth;
    out->constant.type = 0;
    return out;
}

Value* apply_unary_operation_on_constant(Value* out, u64 operator_bit, Value* constant, Trace trace) {
    if (out != constant) *out = *constant;
    Constant* c = &out->constant;
    b8 negate = operator_bit & (OP_NEGATE | OP_SUBTRACT);
    if (c->mask & CONSTANT_REAL) {
        f64 real = real_of(c->data);
        if (operator_bit == OP_INCREMENT) c->data = round_real(real + 1.0, c);
        else if (operator_bit == OP_DECREMENT) c->data = round_real(real - 1.0, c);
        else if (negate) c->data ^= 0x8000000000000000ull;
        else if (operator_bit == OP_BIT_NOT) c->data = ~c->data;
        else if (operator_bit == OP_NOT) make_truth(out, real == 0.0);
        return out;
    }
    if (c->mask & CONSTANT_STRING) {
        if (c->length > 8) {
            print_error_on_trace(trace,
                                 "To use a string as a number, make sure it is no greater than 8 bytes in size. The string "
                                 "you want to use is %s.",
                                 size_to_c_string(c->length));
            return fail(out);
        }
        make_number_from_string(c);
    }
    if (!is_number_constant(c)) {
        print_error_on_trace(trace, "You can only use numbers and strings-as-numbers here.");
        return fail(out);
    }
    u64 value = c->data;
    switch (operator_bit) {
        case OP_INCREMENT: value += 1; break;
        case OP_DECREMENT: value -= 1; break;
        case OP_BIT_NOT: value = ~value; break;
        case OP_NOT: return make_truth(out, value == 0);
        default:
            if (negate) value = 0 - value;
    }
    c->data = cut_to_size(value, get_operation_size(c), c->mask & CONSTANT_SIGNED);
    return out;
}

b8 instruction_take_address(Scope* scope, Value* result, Value* operand) {
    // A local whose address is taken must stay in memory, with its place kept to the end.
    if (operand->dynamic.register_id.table == REGISTER_LOCAL) {
        clear_and_set_allocation_hints(operand->dynamic.register_id, HINT_MEMORY | HINT_STAY_ALIVE);
    }
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_TAKE_ADDRESS);
    if (!instruction) return false;
    instruction->copy.destination = *result;
    instruction->copy.source = *operand;
    return true;
}

Value* apply_unary_operation_on_value(Value* out, Scope* scope, u64 operator_bit, Value* value, Trace trace) {
    if (operator_bit == OP_SUBTRACT) operator_bit = OP_NEGATE;
    if (!(value->kind & VALUE_REGISTER)) {
        if (operator_bit == OP_ADDRESS) {
            print_error_on_trace(trace, "You cannot take the address of a constant.");
            return fail(out);
        }
        return apply_unary_operation_on_constant(out, operator_bit, value, trace);
    }
    Identifier* type = get_type_from_value(value);
    if (!type) {
        print_error_on_trace(trace, "This operator cannot be applied on this value.");
        return fail(out);
    }
    if (operator_bit == OP_ADDRESS) {
        // A register that holds the value's address is that address already.
        if (value->kind & VALUE_INDIRECT) {
            *out = *value;
            out->kind &= (u8)~VALUE_INDIRECT;
            out->source = trace;
            return out;
        }
        Identifier* address_type = type_to_memory_address_of_type(type, 1);
        Value result;
        if (!address_type || !make_dynamic_value(&result, scope, address_type, trace)->kind ||
            !instruction_take_address(scope, &result, value)) {
            return fail(out);
        }
        *out = result;
        return out;
    }
    Identifier* working = type->pointer_depth ? type : get_enum_base(get_resolved_type(type));
    if (!working->pointer_depth && !(working->flags & TYPE_NUMBER)) {
        print_error_on_trace(trace, "Operator '%s' must be used on numbers. It looks like you are trying to use it on type '%s' instead.",
                             operator_to_c_string(operator_bit), type_to_c_string(type));
        return fail(out);
    }
    if (operator_bit & (OP_INCREMENT | OP_DECREMENT)) {
        b8 ok;
        if (working->pointer_depth) {
            Identifier* element = type_to_dereference_of_type(working);
            Value step;
            make_constant_value_from_integer(&step, element ? element->size : 1, get_basic_type(BASIC_TYPE_U32), value->source);
            ok = instruction_arithmetic_constant(scope, operator_bit == OP_INCREMENT ? OP_ADD : OP_SUBTRACT, value, &step);
        } else {
            ok = instruction_arithmetic(scope, operator_bit, value, value);
        }
        if (!ok) return fail(out);
        if (out != value) *out = *value;
        return out;
    }
    if ((operator_bit & OP_BITWISE) && !working->pointer_depth && (working->flags & TYPE_FLOAT)) {
        print_error_on_trace(trace, "You cannot use operator bitwise operators with a number of type %s.", type_to_c_string(type));
        return fail(out);
    }
    // -, ~ and ! never change a variable: they work on a temporary.
    Value work = *value;
    if (!(value->kind & VALUE_FRESH) || (value->kind & VALUE_INDIRECT)) {
        if (!copy_dynamic_value(&work, scope, value)->kind) return fail(out);
    }
    if (!instruction_arithmetic(scope, operator_bit, &work, &work)) return fail(out);
    if (get_resolved_type(work.dynamic.type) == get_basic_type(BASIC_TYPE_B8)) work.kind |= VALUE_BOOLEAN;
    work.source = trace;
    *out = work;
    return out;
}

//~ Folding a binary operator

static b8 is_comparison(u64 operator_bit) { return operator_bit & OP_CMP; }

// A compare or a logical operator gives a b8 of 0 or 1.
static Value* make_boolean_result(Value* out, b8 truth) {
    Constant* c = &out->constant;
    c->mask = (c->mask & ~0x2380000ull) | CONSTANT_TYPED_UNSIGNED;
    c->size = 1;
    c->type = get_basic_type(BASIC_TYPE_B8);
    c->data = truth;
    return out;
}

static const char* operator_text(Token* token, u64 operator_bit) {
    return token ? token_to_c_string(token) : operator_to_c_string(operator_bit);
}

static b8 report_on_operator(Token* token, const char* format, const char* text) {
    if (token) print_error_on_token(token, format, text);
    else print_error(format, text);
    return false;
}

static Value* fold_strings(Value* out, u64 operator_bit, Token* token, Value* left, Value* right) {
    if (!(right->constant.mask & CONSTANT_STRING)) {
        print_error_on_trace(right->source, "Expected a constant string.");
        return fail(out);
    }
    if (operator_bit != OP_EQUAL && operator_bit != OP_NOT_EQUAL) {
        report_on_operator(token, "Operator '%s' cannot be used with strings.", operator_text(token, operator_bit));
        return fail(out);
    }
    // Two empty strings are equal, as the generated compare finds them.
    u64 length = left->constant.length;
    b8 equal = length == right->constant.length &&
               (!length || memcmp((u8*)left->constant.data, (u8*)right->constant.data, length) == 0);
    make_constant_value_from_integer(out, operator_bit == OP_EQUAL ? equal : !equal, get_basic_type(BASIC_TYPE_B8),
                                     concat_traces(left->source, right->source));
    return out;
}

static b8 compare(u64 operator_bit, u64 a, u64 b, b8 is_signed) {
    if (is_signed) {
        s64 sa = (s64)a, sb = (s64)b;
        switch (operator_bit) {
            case OP_LESS: return sa < sb;
            case OP_LESS_EQUAL: return sa <= sb;
            case OP_GREATER: return sa > sb;
            case OP_GREATER_EQUAL: return sa >= sb;
        }
    }
    switch (operator_bit) {
        case OP_LESS: return a < b;
        case OP_LESS_EQUAL: return a <= b;
        case OP_GREATER: return a > b;
        case OP_GREATER_EQUAL: return a >= b;
        case OP_EQUAL: return a == b;
    }
    return a != b;
}

// Whether an integer constant is not zero, read at its own size.
static b8 integer_truth(Constant* constant) {
    return cut_to_size(constant->data, get_operation_size(constant), false) != 0;
}

static Value* fold_integers(Value* out, u64 operator_bit, Token* token, Value* right, b8 typed) {
    Constant* c = &out->constant;
    if (operator_bit & OP_LOGICAL) {
        b8 a = integer_truth(c), b = integer_truth(&right->constant);
        return make_boolean_result(out, operator_bit == OP_LOGICAL_AND ? a && b : a || b);
    }
    b8 is_signed = c->mask & CONSTANT_SIGNED;
    u32 size = typed ? get_operation_size(c) : 8;
    u64 a = cut_to_size(c->data, size, is_signed);
    u64 b = cut_to_size(right->constant.data, size, is_signed);
    if (is_comparison(operator_bit)) return make_boolean_result(out, compare(operator_bit, a, b, is_signed));

    u32 bits = 8 * size;
    u32 count = (u32)(b & (size == 8 ? 63 : 31));
    u32 turn = count % bits;
    u64 r;
    switch (operator_bit) {
        case OP_ADD: r = a + b; break;
        case OP_SUBTRACT: r = a - b; break;
        case OP_MULTIPLY: r = a * b; break;
        case OP_BIT_AND: r = a & b; break;
        case OP_BIT_OR: r = a | b; break;
        case OP_BIT_XOR: r = a ^ b; break;
        case OP_DIVIDE:
        case OP_MODULO:
            if (!b) {
                print_error_on_trace(right->source, "It looks like you are dividing by zero.");
                return fail(out);
            }
            if (!is_signed) {
                r = operator_bit == OP_DIVIDE ? a / b : a % b;
            } else if ((s64)b == -1) {
                // The lowest value divided by -1 gives itself, never a trap.
                r = operator_bit == OP_DIVIDE ? 0 - a : 0;
            } else {
                r = (u64)(operator_bit == OP_DIVIDE ? (s64)a / (s64)b : (s64)a % (s64)b);
            }
            break;
        case OP_SHIFT_LEFT: r = a << count; break;
        case OP_SHIFT_RIGHT: r = is_signed ? (u64)((s64)a >> count) : a >> count; break;
        case OP_ROTATE_LEFT:
        case OP_ROTATE_RIGHT: {
            u64 field = cut_to_size(a, size, false);
            u64 mask = size == 8 ? ~0ull : (1ull << bits) - 1;
            b8 left = operator_bit == OP_ROTATE_LEFT;
            r = turn ? ((left ? field << turn : field >> turn) | (left ? field >> (bits - turn) : field << (bits - turn))) & mask
                     : field;
            break;
        }
        default:
            report_on_operator(token, "%s", "This operator cannot be used here.");
            return fail(out);
    }
    // A signed operation gives a signed value, negative or not, as the code computes it: a
    // later subtraction or compare of it must stay signed.
    c->data = cut_to_size(r, size, is_signed);
    return out;
}

static Value* fold_reals(Value* out, u64 operator_bit, Token* token, Value* right) {
    Constant* c = &out->constant;
    f64 a = real_of(c->data), b = real_of(right->constant.data);
    switch (operator_bit) {
        case OP_ADD: c->data = round_real(a + b, c); return out;
        case OP_SUBTRACT: c->data = round_real(a - b, c); return out;
        case OP_MULTIPLY: c->data = round_real(a * b, c); return out;
        case OP_DIVIDE: c->data = round_real(a / b, c); return out;
        case OP_LOGICAL_AND: return make_boolean_result(out, a != 0.0 && b != 0.0);
        case OP_LOGICAL_OR: return make_boolean_result(out, a != 0.0 || b != 0.0);
        case OP_NOT_EQUAL: return make_boolean_result(out, !(a == b));
        case OP_EQUAL: return make_boolean_result(out, a == b);
        case OP_LESS: return make_boolean_result(out, a < b);
        case OP_LESS_EQUAL: return make_boolean_result(out, a <= b);
        case OP_GREATER: return make_boolean_result(out, a > b);
        case OP_GREATER_EQUAL: return make_boolean_result(out, a >= b);
        case OP_MODULO:
        case OP_BIT_AND:
        case OP_BIT_OR:
        case OP_BIT_XOR:
            report_on_operator(token, "Operator '%s' cannot be used with real numbers.", operator_text(token, operator_bit));
            return fail(out);
    }
    report_on_operator(token, "Operator '%s' cannot be used here.", operator_text(token, operator_bit));
    return fail(out);
}

Value* apply_constant_operation(Value* out, u64 operator_bit, Token* operator_token, Value* left, Value* right) {
    Value l = *left, r = *right;
    if (l.constant.mask & CONSTANT_STRING) return fold_strings(out, operator_bit, operator_token, &l, &r);
    if (r.constant.mask & CONSTANT_STRING) {
        if (r.constant.length > 8) {
            print_error_on_trace(r.source, "This string is too big to be used as an integer.");
            return fail(out);
        }
        make_number_from_string(&r.constant);
    }
    if ((operator_bit == OP_EQUAL || operator_bit == OP_NOT_EQUAL) && is_identity_constant(&l.constant) &&
        is_identity_constant(&r.constant)) {
        // Types and sub-programs compare by what they name.
        Identifier* a = (Identifier*)l.constant.data;
        Identifier* b = (Identifier*)r.constant.data;
        b8 same = a == b || (l.constant.type == get_basic_type(BASIC_TYPE_TYPE) && a && b && types_perfectly_match(a, b));
        *out = l;
        return make_boolean_result(out, operator_bit == OP_EQUAL ? same : !same);
    }
    if (!is_number_constant(&l.constant) || !is_number_constant(&r.constant)) {
        report_on_operator(operator_token, "%s", "This operator cannot be used here.");
        return fail(out);
    }
    *out = l;
    Constant* c = &out->constant;
    u64 left_class = l.constant.mask & CONSTANT_NUMBER;
    u64 right_class = r.constant.mask & CONSTANT_NUMBER;
    // A typed left operand had the right one fitted to its type; only then is the fold typed.
    b8 typed = (l.constant.mask & CONSTANT_TYPED) && left_class == right_class;
    if (left_class == right_class) {
        if (r.constant.size > c->size) c->size = r.constant.size;
    } else if ((left_class | right_class) & CONSTANT_REAL) {
        Constant* integer = left_class == CONSTANT_REAL ? &r.constant : &l.constant;
        f64 real = (integer->mask & CONSTANT_SIGNED) ? (f64)(s64)integer->data : (f64)integer->data;
        integer->data = bits_of(real);
        c->data = l.constant.data;
        c->mask = CONSTANT_REAL;
        c->size = 4;
    } else {
        c->mask = CONSTANT_SIGNED;
        if (r.constant.size > c->size) c->size = r.constant.size;
    }
    if (c->mask & CONSTANT_REAL) return fold_reals(out, operator_bit, operator_token, &r);
    return fold_integers(out, operator_bit, operator_token, &r, typed);
}
