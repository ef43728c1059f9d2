// Values converted to a wanted type: the implicit cast every assignment, argument and
// condition goes through, the explicit cast(value, type), and the checks that decide what
// mixes without a cast. A conversion that needs work becomes a cast instruction into a
// fresh register of the scope; one that does not retypes the value or takes a view of it.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 is_pointer(Identifier* type) { return type->pointer_depth > 0; }
static b8 is_void_pointer(Identifier* type) { return type->pointer_depth && (type->flags & TYPE_VOID); }
static b8 is_enum(Identifier* type) { return !type->pointer_depth && (type->flags & TYPE_ENUM); }
static b8 is_struct(Identifier* type) { return !type->pointer_depth && (type->flags & TYPE_STRUCT); }
static b8 is_integer(Identifier* type) { return !type->pointer_depth && (type->flags & TYPE_INTEGER); }
static b8 is_real(Identifier* type) { return !type->pointer_depth && (type->flags & TYPE_FLOAT); }
static b8 is_number(Identifier* type) { return is_integer(type) || is_real(type); }
static b8 is_boolean(Identifier* type) { return !type->pointer_depth && (type->flags & TYPE_BOOLEAN); }
static b8 is_signed(Identifier* type) { return (type->flags & TYPE_SIGNED) != 0; }

static Value* fail_value(Value* out) {
    out->kind = 0;
    return out;
}

//~ The checks

static b8 refuse(String* message, const char* format, Identifier* first, Identifier* second) {
    *message = string_concat2(format, type_to_string(first), type_to_string(second));
    return false;
}

static b8 mismatch(String* message, Identifier* wanted, Identifier* got) {
    return refuse(message, "Type mismatch: wanted '%' but got '%' instead.", wanted, got);
}

b8 check_numbers_mix(Identifier* destination, Identifier* source, String* message) {
    // An address takes part as the integer that holds it.
    Identifier* s64_type = get_basic_type(BASIC_TYPE_S64);
    Identifier* d = is_pointer(destination) ? s64_type : destination;
    Identifier* s = is_pointer(source) ? s64_type : source;
    if (types_perfectly_match(d, s) || is_boolean(d) || is_boolean(s)) return true;
    if (is_integer(d) && is_integer(s)) {
        if (is_signed(d) == is_signed(s)) {
            if (d->size >= s->size) return true;
            return refuse(message, "The destination (type %) is too small to contain the source (type %).", d, s);
        }
        if (is_signed(d) && d->size > s->size) return true;
        return refuse(message, "You cannot implicitly cast from '%' to '%' as information may be lost.", s, d);
    }
    if (is_real(d) && is_real(s)) {
        if (d->size >= s->size) return true;
        return refuse(message, "The destination (type %) is too small to contain the source (type %).", d, s);
    }
    if (is_real(d) && is_integer(s)) return true;
    if (is_integer(d) && is_real(s)) {
        *message = STR("You cannot use a real number as a source with an integer as a destination.");
        return false;
    }
    return mismatch(message, destination, source);
}

b8 check_imperfect_types_mix_no_error(Identifier* wanted, Identifier* got, String* message) {
    Identifier* w = get_resolved_type(wanted);
    Identifier* g = get_resolved_type(got);
    u8 dw = w->pointer_depth;
    u8 dg = g->pointer_depth;
    if (is_void_pointer(w) && dg >= dw) return true;
    if (dw || dg) {
        if (dw == dg) return types_perfectly_match(w->leaf_type, g->leaf_type) ? true : mismatch(message, w, g);
        if ((!dw && is_boolean(w)) || (!dg && is_boolean(g))) return true;
        // An address mixes with the one integer that holds it whole.
        Identifier* integer = dw ? g : w;
        if (dw && dg) return mismatch(message, w, g);
        return types_perfectly_match(integer, get_basic_type(BASIC_TYPE_S64)) ? true : mismatch(message, w, g);
    }
    // A type always stands for itself (two structs of one declaration, String and String).
    if (types_perfectly_match(w, g)) return true;
    if (is_enum(w) && is_enum(g)) return mismatch(message, w, g);
    Identifier* w_base = get_enum_base(w);
    Identifier* g_base = get_enum_base(g);
    if (is_number(w_base) && is_number(g_base)) return check_numbers_mix(w_base, g_base, message);
    return mismatch(message, w, g);
}

b8 check_imperfect_types_mix(Identifier* wanted, Identifier* got, Trace trace) {
    String message;
    if (check_imperfect_types_mix_no_error(wanted, got, &message)) return true;
    print_error_on_trace(trace, "%.*s", (int)message.count, (char*)message.data);
    return false;
}

void report_not_a_sub_program(Token* token, Identifier* identifier) {
    print_error_on_token(token, "'%.*s' is not a sub-program.", (int)identifier->name.count, (char*)identifier->name.data);
}

//~ Values

// The type a value has, one level down when its register holds the value's address.
static Identifier* get_source_type(Value* value) { return get_resolved_type(get_type_from_value(value)); }

// The same register seen as another type.
static Value* retype(Value* out, Value* value, Identifier* type) {
    if (out != value) *out = *value;
    out->dynamic.type = (value->kind & VALUE_INDIRECT) ? type_to_memory_address_of_type(type, 1) : type;
    if (!out->dynamic.type) return fail_value(out);
    return out;
}

// A fresh register of the type, filled from the value by a cast of the kind.
static Value* emit_cast(Value* out, Scope* scope, Identifier* type, Value* value, u8 cast_kind, u8 kind_bits) {
    Value result;
    if (!make_dynamic_value(&result, scope, type, value->source)->kind) return fail_value(out);
    result.kind |= kind_bits;
    // The source is read as its base: an enum widens by its base's sign.
    Value source = *value;
    Identifier* source_type = get_source_type(value);
    if (source_type && is_enum(source_type) && !retype(&source, value, get_enum_base(source_type))->kind) {
        return fail_value(out);
    }
    if (!instruction_cast(scope, cast_kind, &result, &source)) return fail_value(out);
    *out = result;
    return out;
}

// The value's member: a view of its register, or for a value reached through its address,
// the member's address computed into a temporary.
static Value* take_member(Value* out, Scope* scope, Value* value, Identifier* member) {
    Identifier* type = get_resolved_type(member->type);
    if (!(value->kind & VALUE_INDIRECT)) {
        Register_Id view = allocate_within_register(value->dynamic.register_id, member->member_offset, type->size);
        if (!register_id_is_valid(view)) return fail_value(out);
        return make_dynamic_value_from_register(out, view, type, value->source);
    }
    Identifier* address_type = type_to_memory_address_of_type(type, 1);
    Value address, base = *value, offset;
    base.kind &= (u8)~VALUE_INDIRECT;
    make_constant_value_from_integer(&offset, member->member_offset, get_basic_type(BASIC_TYPE_S64), value->source);
    if (!address_type || !make_dynamic_value(&address, scope, address_type, value->source)->kind ||
        !instruction_memory_dereference(scope, 1, INSTRUCTION_ADDRESS, &address, &base, &offset)) {
        return fail_value(out);
    }
    address.kind |= VALUE_INDIRECT;
    *out = address;
    return out;
}

static Value* report_on_value(Value* out, Value* value, String message) {
    print_error_on_trace(value->source, "%.*s", (int)message.count, (char*)message.data);
    return fail_value(out);
}

// The implicit cast once the mix check passed: no work, or one cast into a fresh register.
static Value* cast_mixing_value(Value* out, Scope* scope, Identifier* type, Value* value, Identifier* source_type) {
    // A fresh value keeps what the source was, but never its indirection: it holds the value.
    u8 kind_bits = value->kind & 0x73;
    Identifier* t = get_enum_base(type);
    Identifier* s = get_enum_base(source_type);
    if (is_enum(source_type) && is_boolean(type)) {
        return emit_cast(out, scope, type, value, CAST_INTEGER_TO_BOOLEAN, kind_bits);
    }
    if (is_integer(t) && is_integer(s) && t->size == s->size && !is_boolean(t)) {
        if (out != value) *out = *value;
        return out;
    }
    if (is_integer(t) && is_real(s)) {
        return emit_cast(out, scope, type, value, is_boolean(t) ? CAST_REAL_TO_BOOLEAN : CAST_REAL_TO_INTEGER, kind_bits);
    }
    if (is_integer(t)) {
        return emit_cast(out, scope, type, value, is_boolean(t) ? CAST_INTEGER_TO_BOOLEAN : CAST_INTEGER_TO_LARGER, kind_bits);
    }
    if (is_real(t) && is_integer(s)) return emit_cast(out, scope, type, value, CAST_INTEGER_TO_REAL, kind_bits);
    if (is_real(t) && is_real(s) && s->size < t->size) {
        return emit_cast(out, scope, type, value, CAST_REAL_TO_LARGER, kind_bits);
    }
    if (out != value) *out = *value;
    return out;
}

// Fixed-size arrays of one element type and one count stand for each other. No array type
// is a view, so a fixed-size array never becomes a dynamic one implicitly.
static b8 arrays_mix(Identifier* type, Identifier* source_type) {
    if (is_pointer(type) || is_pointer(source_type) || !(type->flags & TYPE_FIXED_SIZE_ARRAY) ||
        !(source_type->flags & TYPE_FIXED_SIZE_ARRAY) || !types_perfectly_match(type->element_type, source_type->element_type)) {
        return false;
    }
    Identifier* a = get_struct_member_from_string(type, STR("MAX_COUNT"));
    Identifier* b = get_struct_member_from_string(source_type, STR("MAX_COUNT"));
    return a && b && a->constant_value.constant.data == b->constant_value.constant.data;
}

Value* cast_value_to_type(Value* out, Scope* scope, Identifier* type, Value* value) {
    type = get_resolved_type(type);
    if (value->kind & VALUE_CONSTANT) {
        u8 kind_bits = value->kind & 0x77;
        cast_constant_to_type(out, type, value);
        if (out->kind) out->kind |= kind_bits;
        return out;
    }
    Identifier* source_type = get_source_type(value);
    if (!source_type) {
        print_error_on_trace(value->source, "This value has no type.");
        return fail_value(out);
    }
    if (types_perfectly_match(source_type, type)) {
        if (out != value) *out = *value;
        return out;
    }
    Identifier* as_member = is_struct(source_type) ? source_type->as_member : 0;
    if (is_struct(source_type) && !(source_type->flags & TYPE_ARRAY) &&
        (!as_member || (is_pointer(type) && !is_pointer(get_resolved_type(as_member->type))))) {
        print_error_on_trace(value->source, "Type '%s' is incompatible with type '%s'.", type_to_c_string(source_type),
                             type_to_c_string(type));
        return fail_value(out);
    }
    u32 address_size = global_compiler_state.address_size;
    if (!is_pointer(type) && is_pointer(source_type) && is_integer(type) && !is_boolean(type) && type->size == address_size) {
        return retype(out, value, type);
    }
    if (is_pointer(type) && is_pointer(source_type) && (is_void_pointer(type) != is_void_pointer(source_type))) {
        return retype(out, value, type);
    }
    if (is_pointer(type) && is_integer(source_type) && source_type->size <= address_size) {
        Value widened = *value;
        if (source_type->size < address_size &&
            !cast_value_to_type(&widened, scope, get_basic_type(BASIC_TYPE_S64), value)->kind) {
            return fail_value(out);
        }
        if (!retype(out, &widened, type)->kind) return out;
        out->kind |= VALUE_INTEGER_AS_POINTER;
        return out;
    }
    if (is_boolean(type) && (is_pointer(source_type) || (source_type->flags & TYPE_SUB_PROGRAM))) {
        return emit_cast(out, scope, type, value, CAST_INTEGER_TO_BOOLEAN, value->kind & 0x73);
    }
    String message;
    if (check_imperfect_types_mix_no_error(type, source_type, &message)) {
        return cast_mixing_value(out, scope, type, value, source_type);
    }
    if ((type->flags & TYPE_ARRAY) && (source_type->flags & TYPE_ARRAY) && arrays_mix(type, source_type)) {
        if (out != value) *out = *value;
        return out;
    }
    if (as_member) {
        Identifier* member_type = get_resolved_type(as_member->type);
        Value member;
        if (types_perfectly_match(type, member_type)) return take_member(out, scope, value, as_member);
        String member_message;
        if (!check_imperfect_types_mix_no_error(type, member_type, &member_message)) {
            return report_on_value(out, value, member_message);
        }
        if (!take_member(&member, scope, value, as_member)->kind) return fail_value(out);
        return cast_mixing_value(out, scope, type, &member, member_type);
    }
    return report_on_value(out, value, message);
}

//~ The explicit cast

// What cast(constant, type) gives where it allows more than the implicit cast.
static Value* cast_constant_explicitly(Value* out, Identifier* type, Value* value) {
    Identifier* t = get_enum_base(type);
    if (out != value) *out = *value;
    Constant* constant = &out->constant;
    u64 mask = constant->mask;
    if (is_pointer(t)) {
        if (mask & CONSTANT_REAL) {
            print_error_on_trace(out->source, "Only integers can be used as memory addresses. It looks like you are trying to "
                                              "use a real number instead.");
            return fail_value(out);
        }
        if (!(mask & CONSTANT_INTEGER)) {
            print_error_on_trace(out->source, "This constant cannot be used as a memory address.");
            return fail_value(out);
        }
        constant->mask = CONSTANT_TYPED_SIGNED;
        constant->type = t;
        constant->size = global_compiler_state.address_size;
        return out;
    }
    if (is_integer(t) && (mask & CONSTANT_NUMBER)) {
        if (mask & CONSTANT_REAL) {
            f64 real;
            memcpy(&real, &constant->data, sizeof(real));
            if (is_boolean(t)) {
                constant->data = real != 0.0;
            } else {
                // What the machine's conversion gives: the lowest integer when no 64-bit one holds it.
                b8 fits = real >= -9223372036854775808.0 && real < 9223372036854775808.0;
                constant->data = fits ? (u64)(s64)real : 0x8000000000000000ull;
            }
        } else if (is_boolean(t)) {
            constant->data = constant->data != 0;
        }
        // The value the machine's cast gives: cut to the type's size, widened back by its sign.
        if (t->size < 8) {
            u32 unused = 64 - 8 * t->size;
            constant->data = (t->flags & TYPE_SIGNED) ? (u64)((s64)(constant->data << unused) >> unused)
                                                      : (constant->data << unused) >> unused;
        }
        constant->mask = CONSTANT_TYPED | ((t->flags & TYPE_SIGNED) ? CONSTANT_SIGNED : CONSTANT_UNSIGNED);
        constant->type = t;
        constant->size = t->size;
        return out;
    }
    if (is_real(t) && (mask & CONSTANT_INTEGER)) {
        f64 real = (mask & CONSTANT_UNSIGNED) ? (f64)constant->data : (f64)(s64)constant->data;
        memcpy(&constant->data, &real, sizeof(real));
        constant->mask = CONSTANT_TYPED_REAL;
        constant->type = t;
        constant->size = t->size;
        return out;
    }
    return cast_constant_to_type(out, t, out);
}

Value* explicit_cast_value(Value* out, Scope* scope, Identifier* type, Value* value) {
    type = get_resolved_type(type);
    if (value->kind & VALUE_CONSTANT) return cast_constant_explicitly(out, type, value);
    Identifier* source_type = get_source_type(value);
    if (!source_type) {
        print_error_on_trace(value->source, "This value has no type.");
        return fail_value(out);
    }
    Identifier* t = get_enum_base(type);
    Identifier* s = get_enum_base(source_type);
    if (types_perfectly_match(s, t) || (is_pointer(s) && is_pointer(t))) return retype(out, value, t);

    Value member;
    Identifier* as_member = is_struct(s) ? s->as_member : 0;
    if (as_member) {
        Identifier* member_type = get_resolved_type(as_member->type);
        b8 usable = is_pointer(t) ? is_integer(member_type) : is_number(member_type);
        if (usable) {
            if (!take_member(&member, scope, value, as_member)->kind) return fail_value(out);
            value = &member;
            s = get_enum_base(member_type);
            if (types_perfectly_match(s, t)) return retype(out, value, t);
        }
    }
    u32 address_size = global_compiler_state.address_size;
    if (is_pointer(t)) {
        if (!is_integer(s)) {
            print_error_on_trace(value->source, "It seems you are trying to cast a value of type '%s' to type '%s'. Only "
                                                "integer values can be cast to a memory address.",
                                 type_to_c_string(s), type_to_c_string(type));
            return fail_value(out);
        }
        if (s->size >= address_size) return retype(out, value, t);
        return emit_cast(out, scope, t, value, CAST_INTEGER_TO_LARGER, 0);
    }
    if (is_pointer(s)) {
        if (is_integer(t)) {
            if (t->size >= address_size) return retype(out, value, t);
            return emit_cast(out, scope, t, value, is_boolean(t) ? CAST_INTEGER_TO_BOOLEAN : CAST_INTEGER_TO_SMALLER, 0);
        }
        if (is_real(t)) return emit_cast(out, scope, t, value, CAST_INTEGER_TO_REAL, 0);
    } else if (is_integer(s) && is_integer(t)) {
        u8 boolean_bit = is_boolean(s) || is_boolean(t) ? VALUE_BOOLEAN : 0;
        if (s->size == t->size && !is_boolean(t)) {
            if (!retype(out, value, t)->kind) return out;
            out->kind |= is_boolean(s) ? VALUE_BOOLEAN : 0;
            return out;
        }
        u8 cast_kind = s->size == t->size || (s->size > t->size && is_boolean(t)) ? CAST_INTEGER_TO_BOOLEAN
                     : s->size < t->size                                           ? CAST_INTEGER_TO_LARGER
                                                                                   : CAST_INTEGER_TO_SMALLER;
        return emit_cast(out, scope, t, value, cast_kind, boolean_bit);
    } else if (is_real(s) && is_real(t)) {
        return emit_cast(out, scope, t, value, t->size < s->size ? CAST_REAL_TO_SMALLER : CAST_REAL_TO_LARGER, 0);
    } else if (is_integer(t) && is_real(s)) {
        return emit_cast(out, scope, t, value, is_boolean(t) ? CAST_REAL_TO_BOOLEAN : CAST_REAL_TO_INTEGER, 0);
    } else if (is_real(t) && is_integer(s)) {
        return emit_cast(out, scope, t, value, CAST_INTEGER_TO_REAL, 0);
    } else if (is_struct(t) && as_member && types_perfectly_match(get_resolved_type(as_member->type), t)) {
        return take_member(out, scope, value, as_member);
    }
    print_error_on_trace(value->source, "You cannot cast a value of type '%s' to type '%s'.", type_to_c_string(s),
                         type_to_c_string(type));
    return fail_value(out);
}
