// Constants converted while compiling: given a type, fitted to its size, moved between the
// integer and real representations, read through a struct's #as member. No instruction is
// made; a refusal is reported at the constant and leaves kind byte and mask 0.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static f64 constant_real(Constant* constant) {
    f64 real;
    memcpy(&real, &constant->data, sizeof(real));
    return real;
}

static u64 real_bits(f64 real) {
    u64 bits;
    memcpy(&bits, &real, sizeof(bits));
    return bits;
}

static Value* fail_constant(Value* out) {
    out->constant.mask = 0;
    out->kind = 0;
    return out;
}

static b8 is_pointer(Identifier* type) { return type->pointer_depth > 0; }
static b8 is_void_pointer(Identifier* type) { return type->pointer_depth && (type->flags & TYPE_VOID); }

//~ Members of struct constants

static u64 load_sized(u8* octets, u32 size, b8 sign_extend) {
    switch (size) {
        case 1: return sign_extend ? (u64)(s64)(s8)octets[0] : octets[0];
        case 2: {
            u16 half;
            memcpy(&half, octets, 2);
            return sign_extend ? (u64)(s64)(s16)half : half;
        }
        case 4: return sign_extend ? (u64)(s64)(s32)load_u32(octets) : load_u32(octets);
    }
    return load_u64(octets);
}

b8 read_struct_member_constant(Value* out, Value* constant, Identifier* member) {
    Register_Id id = constant->constant.register_id;
    u8* octets = get_register_constant_data(id);
    Identifier* type = get_resolved_type(member->type);
    if (!octets || !type) return false;
    octets += member->member_offset;
    Trace trace = constant->source;
    if (!type->pointer_depth && (type->flags & TYPE_STRUCT)) {
        Register_Id view = allocate_within_register(id, member->member_offset, type->size);
        if (!register_id_is_valid(view)) return false;
        make_constant_value_from_register(out, view, type, trace);
        if (type->flags & TYPE_STRING) {
            out->constant.mask |= CONSTANT_STRING;
            out->constant.data = load_u64(octets);
            out->constant.length = load_u64(octets + 8);
        }
        return true;
    }
    if (!type->pointer_depth && (type->flags & TYPE_FLOAT)) {
        f64 real;
        if (type->size == 4) {
            f32 narrow;
            memcpy(&narrow, octets, 4);
            real = narrow;
        } else {
            memcpy(&real, octets, 8);
        }
        make_constant_value_from_float(out, real, type, trace);
        return true;
    }
    Identifier* base = get_enum_base(type);
    b8 is_signed = type->pointer_depth || (base->flags & TYPE_SIGNED);
    u32 size = type->pointer_depth ? 8 : base->size;
    make_constant_value_from_integer(out, load_sized(octets, size, is_signed), type, trace);
    return true;
}

//~ The main rules

// The fit is a test of sizes: an integer fits when its octet size is not larger.
static Value* report_too_big(Value* out, Identifier* base) {
    print_error_on_trace(out->source, "Constant 0x%llx is too big to fit in type %s.", (unsigned long long)out->constant.data,
                         type_to_c_string(base));
    return fail_constant(out);
}

// A constant of a one-octet string gives its octet; a longer one its octets in order.
static u64 pack_string(u8* text, u64 length, b8 sign_extend) {
    if (length == 1) return sign_extend ? (u64)(s64)(s8)text[0] : text[0];
    u64 packed = 0;
    for (u64 i = 0; i < length; i++) packed |= (u64)text[i] << (8 * i);
    return packed;
}

static Value* apply_main_rules(Value* out, Identifier* type) {
    Constant* constant = &out->constant;
    u64 mask = constant->mask;
    Trace trace = out->source;
    if (is_pointer(type)) {
        if (!(mask & CONSTANT_INTEGER)) {
            print_error_on_trace(trace, "This constant cannot be used with type '%s'.", type_to_c_string(type));
            return fail_constant(out);
        }
        constant->mask = mask | CONSTANT_TYPED;
        constant->type = type;
        out->kind |= VALUE_INTEGER_AS_POINTER;
        return out;
    }
    Identifier* base = get_enum_base(type);
    if (!(base->flags & TYPE_NUMBER)) {
        if ((base->flags & TYPE_STRING) && (mask & CONSTANT_STRING)) {
            constant->mask = mask | CONSTANT_TYPED;
            constant->type = base;
            constant->size = base->size;
            return out;
        }
        Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
        if (((mask & CONSTANT_TYPE_INFO) && constant->further_type == base) ||
            ((mask & CONSTANT_TYPED) && base == type_type && types_perfectly_match(constant->type, type_type))) {
            return out;
        }
        print_error_on_trace(trace, "This constant is incompatible with type %s.", type_to_c_string(base));
        return fail_constant(out);
    }
    if (!(mask & CONSTANT_NUMBER)) {
        if (!(mask & CONSTANT_STRING) || !(base->flags & TYPE_INTEGER)) {
            print_error_on_trace(trace, "This constant is incompatible with type %s.", type_to_c_string(base));
            return fail_constant(out);
        }
        if (constant->length > base->size) {
            print_error_on_trace(trace, "You cannot assign a %u-byte string to a %u-byte %s.", (u32)constant->length,
                                 base->size, type_to_c_string(base));
            return fail_constant(out);
        }
        // An octet of 128 or more stays positive in a wider unsigned integer.
        b8 is_unsigned = base->flags & TYPE_UNSIGNED;
        constant->data = pack_string((u8*)constant->data, constant->length, !is_unsigned);
        constant->mask = is_unsigned ? CONSTANT_UNSIGNED : CONSTANT_SIGNED;
        constant->size = base->size;
        constant->length = 0;
        constant->register_id = INVALID_REGISTER_ID;
        constant->text_register = INVALID_REGISTER_ID;
        return out;
    }
    if (base->flags & TYPE_UNSIGNED) {
        if (base->flags & TYPE_BOOLEAN) {
            b8 set = (mask & CONSTANT_REAL) ? constant_real(constant) != 0.0 : constant->data != 0;
            constant->data = set;
            constant->mask = CONSTANT_TYPED_UNSIGNED;
            constant->type = type;
            constant->size = 1;
            return out;
        }
        if (mask & CONSTANT_REAL) {
            print_error_on_trace(trace, "You cannot assign a real number to an integer.");
            return fail_constant(out);
        }
        if (!(mask & CONSTANT_UNSIGNED)) {
            print_error_on_trace(trace, "You cannot use a signed integer with an unsigned one.");
            return fail_constant(out);
        }
        if (constant->size > base->size) return report_too_big(out, base);
        constant->mask = mask | CONSTANT_TYPED;
        constant->type = type;
        constant->size = base->size;
        return out;
    }
    if (base->flags & TYPE_FLOAT) {
        if (!(mask & CONSTANT_REAL)) {
            f64 real = (mask & CONSTANT_UNSIGNED) ? (f64)constant->data : (f64)(s64)constant->data;
            constant->data = real_bits(real);
            constant->mask = CONSTANT_TYPED_REAL;
        } else {
            constant->mask = mask | CONSTANT_TYPED;
        }
        constant->type = type;
        constant->size = base->size;
        return out;
    }
    if (mask & CONSTANT_REAL) {
        print_error_on_trace(trace, "You cannot assign a real number to an integer.");
        return fail_constant(out);
    }
    if (constant->size > base->size) return report_too_big(out, base);
    constant->mask = CONSTANT_TYPED_SIGNED;
    constant->type = type;
    constant->size = base->size;
    return out;
}

//~ Typed constants

static Value* cast_typed_constant(Value* out, Identifier* type) {
    Identifier* own = get_resolved_type(out->constant.type);
    if (types_perfectly_match(own, type)) return out;
    String message;
    if (check_imperfect_types_mix_no_error(type, own, &message)) {
        if (!own->pointer_depth && (own->flags & TYPE_STRUCT)) return out;
        return apply_main_rules(out, type);
    }
    if (is_pointer(own)) {
        b8 retype = is_pointer(type) ? (is_void_pointer(type) && type->pointer_depth <= own->pointer_depth) ||
                                           (is_void_pointer(own) && own->pointer_depth <= type->pointer_depth)
                                     : (type->flags & TYPE_SUB_PROGRAM) != 0;
        if (retype) {
            out->constant.type = type;
            return out;
        }
    } else if ((own->flags & TYPE_STRUCT) && own->as_member) {
        Identifier* member = own->as_member;
        Identifier* member_type = get_resolved_type(member->type);
        String ignored;
        if (types_perfectly_match(member_type, type) || check_imperfect_types_mix_no_error(type, member_type, &ignored)) {
            Value read;
            if (read_struct_member_constant(&read, out, member)) {
                *out = read;
                if (!member_type->pointer_depth && (member_type->flags & TYPE_STRUCT)) return out;
                return types_perfectly_match(member_type, type) ? out : apply_main_rules(out, type);
            }
        }
    }
    print_error_on_trace(out->source, "%.*s", (int)message.count, (char*)message.data);
    return fail_constant(out);
}

Value* cast_constant_to_type(Value* out, Identifier* type, Value* constant) {
    if (out != constant) *out = *constant;
    type = get_resolved_type(type);
    if (out->constant.mask & CONSTANT_TYPED) return cast_typed_constant(out, type);
    return apply_main_rules(out, type);
}
