// Types: the basic types of every compile, derived types found or made by name, the text of
// a type, type identity, the type of a constant or value, and member lookups. Derived
// types are looked up in their scope's constant list through the name index, so finding
// "@ u8" among thousands of globals costs one probe, not a walk.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

void set_type_constant_value(Identifier* type) {
    Value* value = &type->constant_value;
    memset(value, 0, sizeof(*value));
    value->kind = VALUE_CONSTANT;
    value->constant.mask = CONSTANT_TYPED_SIGNED;
    value->constant.register_id = INVALID_REGISTER_ID;
    value->constant.text_register = INVALID_REGISTER_ID;
    value->constant.size = 8;
    value->constant.data = (u64)type;
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    value->constant.type = type_type ? type_type : type;
    value->source = type->declaration;
}

//~ The basic types

struct Basic_Type_Row {
    const char* name;
    u64 flags;
    u32 size;
    u32 alignment;
};

// In slot order; Type first, since every other type's type is Type.
static const Basic_Type_Row BASIC_TYPES[] = {
    {"Type", TYPE_TYPE, 8, 8},
    {"void", TYPE_VOID, 0, 1},
    {"u8", TYPE_UNSIGNED, 1, 1},
    {"b8", TYPE_UNSIGNED | TYPE_BOOLEAN, 1, 1},
    {"u16", TYPE_UNSIGNED, 2, 2},
    {"u32", TYPE_UNSIGNED, 4, 4},
    {"u64", TYPE_UNSIGNED, 8, 8},
    {"s8", TYPE_SIGNED, 1, 1},
    {"s16", TYPE_SIGNED, 2, 2},
    {"s32", TYPE_SIGNED, 4, 4},
    {"s64", TYPE_SIGNED, 8, 8},
    {"f32", TYPE_FLOAT, 4, 4},
    {"f64", TYPE_FLOAT, 8, 8},
    {"String", TYPE_STRUCT | TYPE_STRING, 0, 8},
};
static_assert(ARRAY_COUNT(BASIC_TYPES) == BASIC_TYPE_STRING + 1);

Identifier* add_a_basic_type(String name, u64 flags, u32 size, u32 alignment) {
    Compiler_State* state = &global_compiler_state;
    Identifier* type = add_identifier(state->global_scope, name.data, (u64)name.count, IDENTIFIER_KIND_CONSTANT, Trace{});
    if (!type) return 0;
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    type->type = type_type ? type_type : type;
    type->self = type;
    type->leaf_type = type;
    type->size = size;
    type->alignment = alignment;
    type->flags = flags | IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
    if (flags & (TYPE_STRUCT | TYPE_ENUM)) {
        type->member_scope = _add_a_scope(state->global_scope, SCOPE_STRUCT_MEMBERS, Trace{});
        if (!type->member_scope) return 0;
        type->member_scope->owner = type;
        type->size = 0;
    }
    set_type_constant_value(type);
    return type;
}

Identifier* add_a_struct_member(Identifier* struct_type, String name, u64 flags, u32 size, Identifier* type) {
    Scope* members = struct_type->member_scope;
    Identifier* member = get_identifier_in_list(members, IDENTIFIER_KIND_VARIABLE, name.data, (u64)name.count);
    if (!member) member = add_identifier(members, name.data, (u64)name.count, IDENTIFIER_KIND_VARIABLE, Trace{});
    if (!member) return 0;
    member->member_offset = struct_type->size;
    member->flags = flags | IDENTIFIER_DECLARED | IDENTIFIER_STRUCT_MEMBER;
    member->type = type;
    member->size = size;
    if (flags & TYPE_STRUCT) {
        member->member_scope = _add_a_scope(members, SCOPE_STRUCT_MEMBERS, Trace{});
        if (!member->member_scope) return 0;
        member->member_scope->owner = member;
    } else {
        struct_type->size += size;
    }
    struct_type->last_member = member;
    return member;
}

Identifier* add_a_basic_constant(String name, Identifier* type) {
    Identifier* constant = add_identifier(global_compiler_state.global_scope, name.data, (u64)name.count,
                                          IDENTIFIER_KIND_CONSTANT, Trace{});
    if (!constant) return 0;
    constant->type = type;
    constant->self = type;
    constant->leaf_type = type;
    constant->flags |= IDENTIFIER_CONSTANT;
    return constant;
}

// A shared float constant: its octets in constant data, aligned to their size.
static b8 add_a_float_constant(Float_Constant_Slot slot, u32 size, u64 word, u32 words) {
    Register_Id id = allocate_constant_data(size, size);
    u8* data = get_register_constant_data(id);
    if (!data) return false;
    u32 word_size = size / words;
    for (u32 i = 0; i < words; i++) memcpy(data + i * word_size, &word, word_size);
    global_compiler_state.float_constants[slot] = id;
    return true;
}

b8 add_the_basic_types() {
    Compiler_State* state = &global_compiler_state;
    for (u32 slot = 0; slot < ARRAY_COUNT(BASIC_TYPES); slot++) {
        const Basic_Type_Row* row = &BASIC_TYPES[slot];
        state->basic_types[slot] = add_a_basic_type(string_from_c(row->name), row->flags, row->size, row->alignment);
        if (!state->basic_types[slot]) return false;
    }
    Identifier* string = get_basic_type(BASIC_TYPE_STRING);
    Identifier* address_of_u8 = type_to_memory_address_of_type(get_basic_type(BASIC_TYPE_U8), 1);
    if (!address_of_u8 || !add_a_struct_member(string, STR("data"), 0, state->address_size, address_of_u8) ||
        !add_a_struct_member(string, STR("count"), 0, 8, get_basic_type(BASIC_TYPE_S64))) {
        return false;
    }
    return add_a_float_constant(FLOAT_CONSTANT_F32_ONE, 4, 0x3F800000u, 1) &&
           add_a_float_constant(FLOAT_CONSTANT_F32_MINUS_ONE, 4, 0xBF800000u, 1) &&
           add_a_float_constant(FLOAT_CONSTANT_F32_SIGN_MASK, 16, 0x80000000u, 4) &&
           add_a_float_constant(FLOAT_CONSTANT_F64_ONE, 8, 0x3FF0000000000000ull, 1) &&
           add_a_float_constant(FLOAT_CONSTANT_F64_MINUS_ONE, 8, 0xBFF0000000000000ull, 1) &&
           add_a_float_constant(FLOAT_CONSTANT_F64_SIGN_MASK, 16, 0x8000000000000000ull, 2);
}

b8 add_the_support_types() {
    static const struct { Basic_Type_Slot slot; const char* name; u64 flags; } SUPPORT_TYPES[] = {
        {BASIC_TYPE_ARRAY, "__Array", TYPE_ARRAY},
        {BASIC_TYPE_FIXED_SIZE_ARRAY, "__Fixed_Size_Array", TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY},
        {BASIC_TYPE_CODE, "Code", TYPE_CODE},
    };
    Compiler_State* state = &global_compiler_state;
    for (auto& support : SUPPORT_TYPES) {
        String name = string_from_c(support.name);
        Identifier* type = get_identifier_in_list(state->global_scope, IDENTIFIER_KIND_CONSTANT, name.data, (u64)name.count);
        if (!type) {
            print_error("inject.8 must declare '%s'.", support.name);
            return false;
        }
        type->flags |= support.flags;
        state->basic_types[support.slot] = type;
    }
    return true;
}

//~ Derived types

// Finds a derived type by name in one scope's constants, through the name index.
static Identifier* find_derived_type(Scope* scope, u8* name, u64 length) {
    return get_identifier_in_list(scope, IDENTIFIER_KIND_CONSTANT, name, length);
}

// Adds a derived type of a name built in temporary memory: the name is copied to live as
// long as the compile.
static Identifier* add_derived_type(Scope* scope, u8* name, u64 length, Trace declaration) {
    String copy = copy_to_compiler_static_strings(String{name, (s64)length});
    if (!copy.data) return 0;
    Identifier* type = add_identifier(scope, copy.data, length, IDENTIFIER_KIND_CONSTANT, declaration);
    if (type) type->self = type;
    return type;
}

// n '@' characters in front of text, with the separator between (which may be empty).
static u8* make_address_name(u8 levels, const char* separator, String text, u64* length) {
    u64 separator_length = strlen(separator);
    *length = levels + separator_length + (u64)text.count;
    u8* name = tmp_allocate(*length);
    if (!name) {
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    memset(name, '@', levels);
    memcpy(name + levels, separator, separator_length);
    memcpy(name + levels + separator_length, text.data, (u64)text.count);
    return name;
}

// The address type of the given depth over from's leaf, in from's declaring scope, made
// from from's kind fields. Dereferencing goes through here too, so a new type is always a
// fresh identifier whose constant points at itself.
static Identifier* find_or_add_address_type(Identifier* from, u8 depth) {
    Identifier* leaf = from->leaf_type ? from->leaf_type : from;
    u64 used = tmp_get_used();
    u64 length;
    u8* name = make_address_name(depth, " ", leaf->name, &length);
    if (!name) return 0;
    Identifier* type = find_derived_type(from->scope, name, length);
    if (!type) {
        type = add_derived_type(from->scope, name, length, from->declaration);
        if (type) {
            type->flags = from->flags | IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
            type->leaf_type = leaf;
            type->type = from->type;
            type->member_scope = from->member_scope;
            type->element_type = from->element_type;
            type->polymorphic_origin = from->polymorphic_origin;
            type->size = global_compiler_state.address_size;
            type->alignment = global_compiler_state.address_alignment;
            type->pointer_depth = depth;
            set_type_constant_value(type);
        }
    }
    tmp_set_used(used);
    return type;
}

Identifier* type_to_memory_address_of_type(Identifier* type, u8 levels) {
    if (!levels) return type;
    return find_or_add_address_type(type, (u8)(type->pointer_depth + levels));
}

Identifier* type_to_dereference_of_type(Identifier* type) {
    if (!type || !type->pointer_depth) return 0;
    u8 depth = (u8)(type->pointer_depth - 1);
    if (!depth) return type->leaf_type;
    return find_or_add_address_type(type, depth);
}

Identifier* swap_leaf_type(Scope* scope, Identifier* a, Identifier* b, Trace trace) {
    u64 used = tmp_get_used();
    u64 length;
    u8* name = make_address_name(a->pointer_depth, b->pointer_depth ? "" : " ", b->name, &length);
    if (!name) return 0;
    Identifier* type = find_derived_type(scope, name, length);
    if (!type) {
        type = add_derived_type(scope, name, length, trace);
        if (type) {
            type->pointer_depth = (u8)(a->pointer_depth + b->pointer_depth);
            type->size = a->size;
            type->alignment = a->alignment;
            type->flags = b->flags | IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
            type->leaf_type = b->leaf_type;
            type->type = b->type;
            type->member_scope = b->member_scope;
            type->element_type = b->element_type;
            type->polymorphic_origin = b->polymorphic_origin;
            set_type_constant_value(type);
        }
    }
    tmp_set_used(used);
    return type;
}

void copy_type_aliasing_stuff(Identifier* target, Identifier* source, u8 with_size) {
    target->flags = source->flags;
    target->leaf_type = source->leaf_type;
    target->type = source->type;
    target->member_scope = source->member_scope;
    target->element_type = source->element_type;
    target->polymorphic_origin = source->polymorphic_origin;
    target->self = target;
    if (with_size) {
        target->size = source->size;
        target->alignment = source->alignment;
        target->pointer_depth = source->pointer_depth;
    }
}

Type_Info_Record make_type_info_from_type(Identifier*) { return Type_Info_Record{0, 0xFFFFFFFFu}; }

//~ Text

// Writes what fits and counts everything: one pass measures, a second writes.
struct Type_Text {
    u8* out;
    u64 capacity;
    u64 length;
};

static void put(Type_Text* text, const void* octets, u64 length) {
    if (text->length + length <= text->capacity) memcpy(text->out + text->length, octets, length);
    text->length += length;
}

static void put_string(Type_Text* text, String s) { put(text, s.data, (u64)s.count); }
static void put_c(Type_Text* text, const char* s) { put(text, s, strlen(s)); }

// Nested signatures are printed this deep; a type that names itself through its own
// parameters stops there.
#define TYPE_TEXT_MAX_NESTING 16

static void put_type(Type_Text* text, Identifier* type, u32 nesting) {
    if (!type) return;
    if (nesting > TYPE_TEXT_MAX_NESTING) {
        put_c(text, "...");
        return;
    }
    if (type->flags & TYPE_SUB_PROGRAM) {
        Identifier* signature = type->leaf_type ? type->leaf_type : type;
        put_c(text, "(");
        Scope* parameters = signature->member_scope;
        for (Identifier* p = parameters ? (Identifier*)parameters->parameters.first_element : 0; p; p = p->next) {
            if (p != parameters->parameters.first_element) put_c(text, ", ");
            put_type(text, p->type, nesting + 1);
        }
        put_c(text, ")");
        if (signature->flags & SUB_PROGRAM_C_CALL) put_c(text, " #c_call");
        if (signature->element_type) {
            put_c(text, " -> ");
            put_type(text, signature->element_type, nesting + 1);
        }
        return;
    }
    for (u8 i = 0; i < type->pointer_depth; i++) put_c(text, "@");
    if (type->pointer_depth) put_c(text, " ");
    // Owners of the struct member scopes around the declaration, innermost first.
    Identifier* owners[TYPE_TEXT_MAX_NESTING];
    u32 owner_count = 0;
    for (Scope* s = type->scope; s && (s->flags & SCOPE_STRUCT_MEMBERS) && owner_count < TYPE_TEXT_MAX_NESTING; s = s->parent) {
        if (s->owner) owners[owner_count++] = s->owner;
    }
    while (owner_count) {
        put_string(text, owners[--owner_count]->name);
        put_c(text, ".");
    }
    Identifier* leaf = type->leaf_type ? type->leaf_type : type;
    put_string(text, leaf->name);
}

String type_to_string(Identifier* type) {
    Type_Text measure = {0, 0, 0};
    put_type(&measure, type, 0);
    u8* out = tmp_allocate(measure.length + 1);
    if (!out) {
        report_out_of_compiler_memory("temporary memory");
        return String{};
    }
    Type_Text text = {out, measure.length, 0};
    put_type(&text, type, 0);
    out[text.length] = 0;
    return String{out, (s64)text.length};
}

char* type_to_c_string(Identifier* type) {
    String text = type_to_string(type);
    return text.data ? (char*)text.data : (char*)"";
}

//~ Identity

static b8 names_equal(Identifier* a, Identifier* b) {
    return a->name.count > 0 && strings_equal(a->name, b->name);
}

static u32 list_count(Scope* scope, Bucket_Array Scope::*list) { return scope ? (scope->*list).count : 0; }

static b8 parameters_match(Identifier* a, Identifier* b) {
    if (types_perfectly_match(a, b)) return true;
    if (!a || !b || !a->pointer_depth || !b->pointer_depth) return false;
    // An n-level void address takes any address of n or more levels.
    if ((a->flags & TYPE_VOID) && a->pointer_depth <= b->pointer_depth) return true;
    return (b->flags & TYPE_VOID) && b->pointer_depth <= a->pointer_depth;
}

b8 types_perfectly_match(Identifier* a, Identifier* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    if (a->pointer_depth == b->pointer_depth && a->leaf_type && a->leaf_type == b->leaf_type) return true;
    u64 both = a->flags & b->flags;
    if (a->pointer_depth == b->pointer_depth && (both & TYPE_STRUCT)) {
        // Two instances of one polymorphic struct with equal arguments, made in scopes
        // that do not see each other; a declared struct is only itself.
        if (!a->polymorphic_origin || a->polymorphic_origin != b->polymorphic_origin) return false;
        Scope* ma = a->member_scope;
        Scope* mb = b->member_scope;
        return a->size == b->size && a->alignment == b->alignment &&
               list_count(ma, &Scope::parameters) == list_count(mb, &Scope::parameters) &&
               list_count(ma, &Scope::variables) == list_count(mb, &Scope::variables) &&
               list_count(ma, &Scope::constants) == list_count(mb, &Scope::constants) && names_equal(a, b);
    }
    if (both & TYPE_SUB_PROGRAM) {
        Scope* pa = a->member_scope;
        Scope* pb = b->member_scope;
        if (list_count(pa, &Scope::parameters) != list_count(pb, &Scope::parameters)) return false;
        Identifier* p = pa ? (Identifier*)pa->parameters.first_element : 0;
        Identifier* q = pb ? (Identifier*)pb->parameters.first_element : 0;
        for (; p && q; p = p->next, q = q->next) {
            if (!parameters_match(p->type, q->type)) return false;
        }
        return true;
    }
    return false;
}

//~ Values of types, and the type of a value

Value* make_constant_value_from_type(Value* out, Identifier* type, Trace trace) {
    *out = type->constant_value;
    out->source = trace;
    return out;
}

static s64 as_signed(u64 data) { return (s64)data; }

Identifier* infer_type_from_constant(u8 options, Constant* constant) {
    u64 mask = constant->mask;
    b8 smallest = options & INFER_SMALLEST_TYPE;
    if (mask & CONSTANT_TYPED) return constant->type;
    if (mask & CONSTANT_UNSIGNED) {
        if (!smallest) return get_basic_type(BASIC_TYPE_U64);
        // One below each maximum, as the casts that follow expect.
        u64 v = constant->data;
        return get_basic_type(v <= 254 ? BASIC_TYPE_U8 : v <= 65534 ? BASIC_TYPE_U16 : v <= 4294967294ull ? BASIC_TYPE_U32 : BASIC_TYPE_U64);
    }
    if (mask & CONSTANT_SIGNED) {
        if (!smallest) return get_basic_type(BASIC_TYPE_S64);
        s64 v = as_signed(constant->data);
        if (v >= -127 && v <= 126) return get_basic_type(BASIC_TYPE_S8);
        if (v >= -2147483647ll && v <= 2147483646ll) return get_basic_type(BASIC_TYPE_S32);
        return get_basic_type(BASIC_TYPE_S64);
    }
    if (mask & CONSTANT_REAL) return get_basic_type(BASIC_TYPE_F32);
    if (mask & CONSTANT_STRING) return get_basic_type(BASIC_TYPE_STRING);
    if (mask & CONSTANT_TYPE_INFO) return constant->further_type;
    return 0;
}

Identifier* infer_type_from_value(u8 options, Value* value) {
    if (value->kind & VALUE_CONSTANT) return infer_type_from_constant(options, &value->constant);
    Identifier* type = value->dynamic.type;
    if ((options & INFER_DEREFERENCE) && (value->kind & VALUE_INDIRECT)) return type_to_dereference_of_type(type);
    return type;
}

Identifier* get_type_from_value(Value* value) {
    if (value->kind & VALUE_CONSTANT) {
        Constant* constant = &value->constant;
        if (constant->mask & CONSTANT_TYPED) return constant->type;
        if (constant->mask & CONSTANT_STRING) return get_basic_type(BASIC_TYPE_STRING);
        return 0;
    }
    if (!(value->kind & VALUE_REGISTER)) return 0;
    Identifier* type = value->dynamic.type;
    return (value->kind & VALUE_INDIRECT) ? type_to_dereference_of_type(type) : type;
}

//~ Members

Identifier* get_struct_member_from_string(Identifier* type, String name) {
    Identifier* leaf = type->leaf_type ? type->leaf_type : type;
    Scope* members = leaf->member_scope;
    if (!members) return 0;
    static const Identifier_Kind LISTS[] = {IDENTIFIER_KIND_VARIABLE, IDENTIFIER_KIND_CONSTANT, IDENTIFIER_KIND_PARAMETER};
    for (Identifier_Kind list : LISTS) {
        Identifier* member = get_identifier_in_list(members, list, name.data, (u64)name.count);
        if (member) return member;
    }
    return 0;
}

Identifier* get_struct_member_from_token(Identifier* type, Token* name) {
    if (!(type->flags & TYPE_STRUCT)) {
        print_error_on_token(name, "Type '%.*s' does not appear to be a struct.", (int)type->name.count, (char*)type->name.data);
        return 0;
    }
    Identifier* member = get_struct_member_from_string(type, String{name->text, (s64)name->length});
    if (!member) {
        print_error_on_token(name, "'%s' is not a member of struct %s.", token_to_c_string(name),
                             type_to_c_string(type->leaf_type ? type->leaf_type : type));
    }
    return member;
}

Identifier* get_enum_value_no_errors(Identifier* enum_type, String name) {
    Scope* members = enum_type->member_scope;
    if (!members) return 0;
    return get_identifier_in_list(members, IDENTIFIER_KIND_CONSTANT, name.data, (u64)name.count);
}

Identifier* get_enum_value_from_token(Identifier* enum_type, Token* name) {
    Identifier* value = get_enum_value_no_errors(enum_type, String{name->text, (s64)name->length});
    if (!value) {
        print_error_on_token(name, "'%s' is not a member of enum %.*s.", token_to_c_string(name),
                             (int)enum_type->name.count, (char*)enum_type->name.data);
    }
    return value;
}
