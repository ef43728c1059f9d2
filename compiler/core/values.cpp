// Values and constants. Literal numbers are checked as they convert (the tokeniser takes
// any word that starts with a digit), reals convert the same in any locale, and string
// texts are shared through an index of their octets, so each literal costs the same
// however many came before it.
#include <charconv>
#include <string.h>

#include "compiler/core/compiler_core.h"
#include "foundation/meow_hash.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

// A zeroed value of the kind at the trace, with no register named.
static Value* start_value(Value* out, u8 kind, Trace trace) {
    memset(out, 0, sizeof(*out));
    out->kind = kind;
    out->source = trace;
    return out;
}

static Value* start_constant(Value* out, u64 mask, Trace trace) {
    start_value(out, VALUE_CONSTANT, trace);
    out->constant.mask = mask;
    out->constant.register_id = INVALID_REGISTER_ID;
    out->constant.text_register = INVALID_REGISTER_ID;
    return out;
}

static Value* fail_value(Value* out) {
    out->kind = 0;
    return out;
}

//~ Dynamic values

Value* make_dynamic_value(Value* out, Scope* scope, Identifier* type, Trace trace) {
    start_value(out, type == get_basic_type(BASIC_TYPE_B8) ? VALUE_FRESH_BOOLEAN : VALUE_FRESH_REGISTER, trace);
    out->dynamic.type = type;
    out->dynamic.register_id = allocate_a_register(scope, type->size, type, type->alignment);
    return register_id_is_valid(out->dynamic.register_id) ? out : fail_value(out);
}

Value* make_dynamic_value_from_register(Value* out, Register_Id id, Identifier* type, Trace trace) {
    start_value(out, VALUE_REGISTER, trace);
    out->dynamic.type = type;
    out->dynamic.register_id = id;
    return out;
}

Value* make_value_from_identifier(Value* out, Identifier* identifier, Trace trace) {
    if (!(identifier->flags & (IDENTIFIER_CONSTANT | IDENTIFIER_INLINE))) {
        return make_dynamic_value_from_register(out, identifier->register_id, identifier->type, trace);
    }
    *out = identifier->constant_value;
    out->source = trace;
    // An inline parameter bound to a constant is named by what is read from it, so that a
    // body that changes an alias of it changes it too, and what is computed from it works as
    // a variable does where it meets one.
    b8 bound_to_constant = !(identifier->flags & IDENTIFIER_CONSTANT) && (out->kind & VALUE_CONSTANT);
    out->inline_parameter = bound_to_constant ? identifier : 0;
    out->from_parameter = bound_to_constant;
    return out;
}

Value* make_value_from_constant(Value* out, Constant constant, Trace trace) {
    start_value(out, VALUE_CONSTANT, trace);
    out->constant = constant;
    return out;
}

Value* make_dynamic_value_out_of_non_scalar_constant(Value* out, Value* constant) {
    Constant c = constant->constant;
    return make_dynamic_value_from_register(out, c.register_id, c.type, constant->source);
}

//~ Typed constants

Value* make_constant_value_from_register(Value* out, Register_Id id, Identifier* type, Trace trace) {
    start_constant(out, CONSTANT_TYPED, trace);
    out->constant.register_id = id;
    out->constant.type = type;
    out->constant.size = type ? type->size : 0;
    return out;
}

static b8 is_signed_or_address(Identifier* type) {
    if (type->pointer_depth) return true;
    Identifier* base = (type->flags & TYPE_ENUM) && type->element_type ? type->element_type : type;
    return base->pointer_depth || (base->flags & TYPE_SIGNED);
}

Value* make_constant_value_from_integer(Value* out, u64 value, Identifier* type, Trace trace) {
    start_constant(out, is_signed_or_address(type) ? CONSTANT_TYPED_SIGNED : CONSTANT_TYPED_UNSIGNED, trace);
    out->constant.type = type;
    out->constant.size = type->size;
    out->constant.data = value;
    return out;
}

static u64 real_bits(f64 value) {
    u64 bits;
    memcpy(&bits, &value, 8);
    return bits;
}

static f64 constant_real(Constant* constant) {
    f64 value;
    memcpy(&value, &constant->data, 8);
    return value;
}

Value* make_constant_value_from_float(Value* out, f64 value, Identifier* type, Trace trace) {
    start_constant(out, CONSTANT_TYPED_REAL, trace);
    out->constant.type = type;
    out->constant.size = type->size;
    out->constant.data = real_bits(value);
    return out;
}

Value* make_constant_value_from_type_info(Value* out, Register_Id id, Trace trace) {
    Identifier* type = get_basic_type(BASIC_TYPE_TYPE_INFO);
    start_constant(out, CONSTANT_TYPED_TYPE_INFO, trace);
    out->constant.type = type;
    out->constant.size = type ? type->size : 0;
    out->constant.register_id = id;
    return out;
}

Value* make_constant_value_from_code_literal(Value* out, Token* opening_brace) {
    Identifier* code = get_basic_type(BASIC_TYPE_CODE);
    start_constant(out, CONSTANT_TYPED_CODE, make_trace_from_token(opening_brace));
    out->constant.type = code;
    out->constant.data = (u64)opening_brace;
    out->constant.size = code ? code->size : 0;
    out->constant.register_id = allocate_constant_data(out->constant.size, code ? code->alignment : 1);
    return register_id_is_valid(out->constant.register_id) ? out : fail_value(out);
}

//~ Number literals

static b8 digit_value(u8 c, u32 base, u32* value) {
    u32 v = c >= '0' && c <= '9' ? (u32)(c - '0') : c >= 'a' && c <= 'f' ? (u32)(c - 'a' + 10)
          : c >= 'A' && c <= 'F' ? (u32)(c - 'A' + 10) : 99;
    *value = v;
    return v < base;
}

// The magnitude and sign of an integer literal: '_' separators anywhere, an optional sign,
// then "0x" hexadecimal, "0b" binary or decimal digits. False for a digit the base lacks,
// no digits, or a magnitude past 64 bits.
static b8 parse_integer_literal(u8* text, u64 length, u64* magnitude, b8* negative) {
    u64 i = 0;
    auto skip_separators = [&] { while (i < length && text[i] == '_') i++; };
    skip_separators();
    *negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) *negative = text[i++] == '-';
    skip_separators();
    u32 base = 10;
    if (i + 1 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'b')) {
        base = text[i + 1] == 'x' ? 16 : 2;
        i += 2;
    }
    u64 value = 0;
    u32 digits = 0;
    for (; i < length; i++) {
        if (text[i] == '_') continue;
        u32 digit;
        if (!digit_value(text[i], base, &digit)) return false;
        if (value > (~0ull - digit) / base) return false;
        value = value * base + digit;
        digits++;
    }
    *magnitude = value;
    return digits > 0;
}

static u32 size_of_magnitude(u64 magnitude) {
    return magnitude < 256 ? 1 : magnitude < 65536 ? 2 : magnitude > 0xFFFFFFFFull ? 8 : 4;
}

// An f64 from the literal's text without its separators; the same in every locale.
static b8 parse_real_literal(u8* text, u64 length, f64* value) {
    u64 used = tmp_get_used();
    char* digits = (char*)tmp_allocate(length + 1);
    if (!digits) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    u64 count = 0;
    for (u64 i = 0; i < length; i++) {
        if (text[i] != '_') digits[count++] = (char)text[i];
    }
    char* start = digits;
    if (count && *start == '+') start++;
    b8 valid = true;
    *value = 0;
    if (start < digits + count) {
        std::from_chars_result result = std::from_chars(start, digits + count, *value);
        valid = result.ec == std::errc() && result.ptr == digits + count;
    }
    tmp_set_used(used);
    return valid;
}

u8 get_integer_value_size(u64 value, Identifier* type) {
    if (type && (type->flags & TYPE_UNSIGNED)) {
        return value < 256 ? 1 : value < 65536 ? 2 : value <= 0xFFFFFFFFull ? 4 : 8;
    }
    s64 v = (s64)value;
    return v >= INT8_MIN && v <= INT8_MAX ? 1 : v >= INT16_MIN && v <= INT16_MAX ? 2 : v >= INT32_MIN && v <= INT32_MAX ? 4 : 8;
}

//~ String texts

// The byte each escaped character stands for.
static u8 decode_escape(u8 c) {
    switch (c) {
        case '\\': return '\\';
        case '"': return '"';
        case 'a': return 7;
        case 'b': return 8;
        case 'e': return 27;
        case 'f': return 12;
        case 'n': return 10;
        case 'r': return 13;
        case 't': return 9;
        case 'v': return 11;
    }
    if (c >= '0' && c <= '9') return (u8)(c - '0');
    return '?';
}

b8 get_real_string(u8* text, u64 length, String* out) {
    if (!memchr(text, '\\', length)) {
        *out = String{text, (s64)length};
        return true;
    }
    u8* decoded = bump_region_allocate(&real_strings_memory, length);
    if (!decoded) return false;
    u64 count = 0;
    for (u64 i = 0; i < length; i++) {
        // A backslash that ends the text stands for itself.
        if (text[i] == '\\' && i + 1 < length) decoded[count++] = decode_escape(text[++i]);
        else decoded[count++] = text[i];
    }
    *out = String{decoded, (s64)count};
    return true;
}

static u64 hash_text(u8* text, u64 length) { return make_hash_index_key(MeowHash(length, text).low); }

static Register* get_constant_row(u32 index) {
    return (Register*)(global_compiler_state.constant_registers.data + (u64)index * sizeof(Register));
}

static String_Text_Index_Entry* find_string_text(u8* text, u64 length, u64 key) {
    Hash_Index* index = &global_compiler_state.string_text_index;
    if (!index->capacity) return 0;
    u64 mask = index->capacity - 1;
    for (u64 slot = key & mask;; slot = (slot + 1) & mask) {
        String_Text_Index_Entry* entry = (String_Text_Index_Entry*)get_hash_index_entry(index, slot);
        if (!entry->key) return 0;
        if (entry->key == key && entry->length == length && memcmp(get_constant_row(entry->row)->data, text, length) == 0) {
            return entry;
        }
    }
}

static b8 add_string_text(u32 row, u64 length, u64 key) {
    Hash_Index* index = &global_compiler_state.string_text_index;
    if (!hash_index_make_room(index)) {
        report_out_of_compiler_memory("string constants");
        return false;
    }
    String_Text_Index_Entry* entry = (String_Text_Index_Entry*)hash_index_place(index, key);
    entry->row = row;
    entry->length = (u32)length;
    return true;
}

b8 get_existing_string_constant_data(u8* text, u64 length, Register_Id* out) {
    String_Text_Index_Entry* entry = find_string_text(text, length, hash_text(text, length));
    if (!entry) {
        *out = INVALID_REGISTER_ID;
        return false;
    }
    *out = Register_Id{0, entry->row, REGISTER_CONSTANT_DATA, REGISTER_CONSTANT_DATA, {0, 0}};
    return true;
}

Register_Id get_or_add_string_text(u8* text, u64 length) {
    u64 hash = hash_text(text, length);
    String_Text_Index_Entry* entry = find_string_text(text, length, hash);
    if (entry) return Register_Id{0, entry->row, REGISTER_CONSTANT_DATA, REGISTER_CONSTANT_DATA, {0, 0}};
    if (length > 0xFFFFFFFFull) {
        report_out_of_compiler_memory(constant_data_section.name);
        return INVALID_REGISTER_ID;
    }
    Register_Id id = allocate_constant_data((u32)length, 1);
    if (!register_id_is_valid(id)) return INVALID_REGISTER_ID;
    memcpy(get_register_constant_data(id), text, length);
    return add_string_text(id.index, length, hash) ? id : INVALID_REGISTER_ID;
}

// The string's text in constant data and a String there that points at it once loaded.
static b8 place_string(Value* out) {
    Constant* constant = &out->constant;
    constant->text_register = get_or_add_string_text((u8*)constant->data, constant->length);
    if (!register_id_is_valid(constant->text_register)) return false;
    Identifier* string = get_basic_type(BASIC_TYPE_STRING);
    constant->register_id = allocate_constant_data(string->size, string->alignment);
    u8* staged = get_register_constant_data(constant->register_id);
    if (!staged) return false;
    store_u64(staged, constant->data);
    store_u64(staged + 8, constant->length);
    Register_Id where = allocate_within_register(constant->register_id, 0, global_compiler_state.address_size);
    return register_id_is_valid(where) && add_a_relocation(where, constant->text_register, 1);
}

static Value* make_string_constant(Value* out, String text, Trace trace, b8 place) {
    start_constant(out, CONSTANT_STRING, trace);
    out->constant.data = (u64)text.data;
    out->constant.length = (u64)text.count;
    out->constant.size = (u32)text.count;
    if (place && !place_string(out)) return fail_value(out);
    return out;
}

Value* make_constant_value_from_string(Value* out, String text, Trace trace) {
    return make_string_constant(out, text, trace, true);
}

Value* make_constant_value_from_token(Value* out, Token* token, Identifier* type_hint) {
    Trace trace = make_trace_from_token(token);
    if (token->kind & TOKEN_INTEGER_LITERAL) {
        u64 magnitude;
        b8 negative;
        b8 is_signed = token->kind == TOKEN_SIGNED_INTEGER_LITERAL;
        // A signed literal holds down to -2^63 and up to 2^63 - 1.
        if (!parse_integer_literal(token->text, token->length, &magnitude, &negative) ||
            (is_signed && magnitude > (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull))) {
            print_error_on_token(token, "This number literal is not valid.");
            return fail_value(start_value(out, 0, trace));
        }
        start_constant(out, token->kind & TOKEN_INTEGER_LITERAL, trace);
        out->constant.data = negative ? 0 - magnitude : magnitude;
        out->constant.size = size_of_magnitude(magnitude);
        return out;
    }
    if (token->kind == TOKEN_STRING_LITERAL) {
        String text;
        if (!get_real_string(token->text, token->length, &text)) return fail_value(start_value(out, 0, trace));
        b8 place = !type_hint || (type_hint->flags & TYPE_STRING);
        return make_string_constant(out, text, trace, place);
    }
    if (token->kind == TOKEN_REAL_LITERAL) {
        f64 real;
        if (!parse_real_literal(token->text, token->length, &real)) {
            print_error_on_token(token, "This number literal is not valid.");
            return fail_value(start_value(out, 0, trace));
        }
        start_constant(out, CONSTANT_REAL, trace);
        out->constant.data = real_bits(real);
        out->constant.size = 4;
        return out;
    }
    return start_constant(out, 0, trace);
}

//~ Float constants in data

Value* get_or_add_float_constant(Value* out, Value* constant_value) {
    Constant* constant = &constant_value->constant;
    Identifier* type = 0;
    if (constant->mask & CONSTANT_TYPED) type = constant->type;
    else if (constant->mask & CONSTANT_UNSIGNED) type = get_basic_type(BASIC_TYPE_U64);
    else if (constant->mask & CONSTANT_SIGNED) type = get_basic_type(BASIC_TYPE_S64);
    else if (constant->mask & CONSTANT_REAL) type = get_basic_type(BASIC_TYPE_F32);
    else if (constant->mask & CONSTANT_STRING) type = get_basic_type(BASIC_TYPE_STRING);
    else if (constant->mask & CONSTANT_TYPE_INFO) type = constant->further_type;

    f64 real = constant_real(constant);
    Register_Id id;
    if (real == 1.0 || real == -1.0) {
        b8 narrow = constant->size == 4;
        Float_Constant_Slot slot = real == 1.0 ? (narrow ? FLOAT_CONSTANT_F32_ONE : FLOAT_CONSTANT_F64_ONE)
                                               : (narrow ? FLOAT_CONSTANT_F32_MINUS_ONE : FLOAT_CONSTANT_F64_MINUS_ONE);
        id = global_compiler_state.float_constants[slot];
    } else {
        id = allocate_constant_data(constant->size, constant->size);
        if (!register_id_is_valid(id)) return fail_value(start_value(out, 0, constant_value->source));
        Value sized = *constant_value;
        sized.constant.type = type;
        if (!copy_constant_value_data(id, type, &sized)) return fail_value(start_value(out, 0, constant_value->source));
    }
    return make_dynamic_value_from_register(out, id, type, constant_value->source);
}

//~ Defaults

static Identifier* get_integer_base(Identifier* type) {
    return (type->flags & TYPE_ENUM) && type->element_type ? type->element_type : type;
}

Value* make_default_constant_value(Value* out, Scope* scope, Identifier* type, Trace trace) {
    start_constant(out, CONSTANT_TYPED, trace);
    out->constant.type = type;
    out->constant.size = type->size;
    Identifier* base = get_integer_base(type);
    if (type->pointer_depth || base->pointer_depth) {
        out->constant.mask = CONSTANT_TYPED_SIGNED;
    } else if (base->flags & TYPE_INTEGER) {
        out->constant.mask = (base->flags & TYPE_SIGNED) ? CONSTANT_TYPED_SIGNED : CONSTANT_TYPED_UNSIGNED;
    } else if (type->flags & TYPE_FLOAT) {
        out->constant.mask = CONSTANT_TYPED_REAL;
    } else {
        out->constant.register_id = allocate_constant_data(type->size, type->alignment);
        if (!register_id_is_valid(out->constant.register_id) ||
            !set_constant_default_value(scope, 0, out->constant.register_id, type)) {
            return fail_value(out);
        }
    }
    return out;
}

b8 set_constant_default_value(Scope* scope, Identifier* owner, Register_Id id, Identifier* type) {
    if (type->pointer_depth || !(type->flags & TYPE_STRUCT)) {
        u8* staged = get_register_constant_data(id);
        if (staged) memset(staged, 0, get_register_size(id));
        return true;
    }
    Scope* members = type->member_scope;
    if (!members) return true;
    for (Identifier* member = (Identifier*)members->variables.first_element; member; member = member->next) {
        // A member brought in by #using lies inside the one that carries it; a later union
        // alternative shares the first one's place.
        if (member->flags & (IDENTIFIER_NO_INITIAL_VALUE | IDENTIFIER_USING_MEMBER | IDENTIFIER_UNION_ALTERNATIVE) ||
            !member->type) {
            continue;
        }
        Register_Id view = allocate_within_register(id, member->member_offset, member->size);
        if (!register_id_is_valid(view)) return false;
        b8 written = member->constant_value.kind == VALUE_CONSTANT
                         ? copy_constant_value_data(view, member->type, &member->constant_value)
                         : set_constant_default_value(scope, owner, view, member->type);
        if (!written) return false;
    }
    return true;
}
