#include <gtest/gtest.h>

#include "compiler_test_helpers.h"
#include "stand_ins.h"

static Identifier* find_in(Scope* scope, const char* name) { return get_identifier(scope, (u8*)name, strlen(name)); }

TEST(Types, BasicTypesStringAndFloatConstants) {
    ASSERT_TRUE(reset_with_basic_types());
    struct Case { Basic_Type_Slot slot; const char* name; u32 size; u32 alignment; u64 kind; };
    const Case cases[] = {
        {BASIC_TYPE_TYPE, "Type", 8, 8, TYPE_TYPE},       {BASIC_TYPE_VOID, "void", 0, 1, TYPE_VOID},
        {BASIC_TYPE_U8, "u8", 1, 1, TYPE_UNSIGNED},        {BASIC_TYPE_B8, "b8", 1, 1, TYPE_UNSIGNED | TYPE_BOOLEAN},
        {BASIC_TYPE_U16, "u16", 2, 2, TYPE_UNSIGNED},      {BASIC_TYPE_U32, "u32", 4, 4, TYPE_UNSIGNED},
        {BASIC_TYPE_U64, "u64", 8, 8, TYPE_UNSIGNED},      {BASIC_TYPE_S8, "s8", 1, 1, TYPE_SIGNED},
        {BASIC_TYPE_S16, "s16", 2, 2, TYPE_SIGNED},        {BASIC_TYPE_S32, "s32", 4, 4, TYPE_SIGNED},
        {BASIC_TYPE_S64, "s64", 8, 8, TYPE_SIGNED},        {BASIC_TYPE_F32, "f32", 4, 4, TYPE_FLOAT},
        {BASIC_TYPE_F64, "f64", 8, 8, TYPE_FLOAT},         {BASIC_TYPE_STRING, "String", 16, 8, TYPE_STRUCT | TYPE_STRING},
    };
    Scope* global = global_compiler_state.global_scope;
    Identifier* type_type = basic_type(BASIC_TYPE_TYPE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identifier* type = basic_type(c.slot);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(find_in(global, c.name), type);
        EXPECT_EQ(type->size, c.size);
        EXPECT_EQ(type->alignment, c.alignment);
        EXPECT_EQ(type->flags, c.kind | IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT);
        EXPECT_EQ(type->type, type_type);  // Type is its own type, too
        EXPECT_EQ(type->leaf_type, type);
        Value value;
        make_constant_value_from_type(&value, type, Trace{});
        EXPECT_EQ(value.constant.mask, CONSTANT_TYPED_SIGNED);
        EXPECT_EQ(value.constant.data, (u64)type);
        EXPECT_EQ(value.constant.type, type_type);
    }

    Identifier* string = basic_type(BASIC_TYPE_STRING);
    Identifier* data = get_struct_member_from_string(string, STR("data"));
    Identifier* count = get_struct_member_from_string(string, STR("count"));
    ASSERT_TRUE(data && count);
    EXPECT_EQ(data->member_offset, 0u);
    EXPECT_EQ(data->type, type_to_memory_address_of_type(basic_type(BASIC_TYPE_U8), 1));
    EXPECT_EQ(count->member_offset, 8u);
    EXPECT_EQ(count->type, basic_type(BASIC_TYPE_S64));
    EXPECT_EQ(data->flags, IDENTIFIER_DECLARED | IDENTIFIER_STRUCT_MEMBER);

    struct Float_Case { Float_Constant_Slot slot; u32 size; std::vector<u8> octets; };
    const Float_Case floats[] = {
        {FLOAT_CONSTANT_F32_ONE, 4, {0, 0, 0x80, 0x3f}},
        {FLOAT_CONSTANT_F32_MINUS_ONE, 4, {0, 0, 0x80, 0xbf}},
        {FLOAT_CONSTANT_F64_ONE, 8, {0, 0, 0, 0, 0, 0, 0xf0, 0x3f}},
        {FLOAT_CONSTANT_F64_MINUS_ONE, 8, {0, 0, 0, 0, 0, 0, 0xf0, 0xbf}},
        {FLOAT_CONSTANT_F32_SIGN_MASK, 16, {0, 0, 0, 0x80, 0, 0, 0, 0x80, 0, 0, 0, 0x80, 0, 0, 0, 0x80}},
        {FLOAT_CONSTANT_F64_SIGN_MASK, 16, {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x80}},
    };
    for (const Float_Case& f : floats) {
        SCOPED_TRACE(f.slot);
        Register_Id id = global_compiler_state.float_constants[f.slot];
        ASSERT_EQ(get_register_size(id), f.size);
        EXPECT_EQ(get_register_offset_in_constant_data(id) % f.size, 0u);
        u8* octets = get_register_constant_data(id);
        EXPECT_EQ(std::vector<u8>(octets, octets + f.size), f.octets);
    }
}

TEST(Types, SupportTypesComeFromTheGlobalScope) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    add_test_struct(global, "__Array");
    add_test_struct(global, "__Fixed_Size_Array");
    EXPECT_FALSE(add_the_support_types());
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"inject.8 must declare 'Code'."}));
    add_test_struct(global, "Code");
    EXPECT_TRUE(add_the_support_types());
    EXPECT_EQ(basic_type(BASIC_TYPE_FIXED_SIZE_ARRAY)->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY),
              TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY);
    EXPECT_TRUE(basic_type(BASIC_TYPE_CODE)->flags & TYPE_CODE);
    EXPECT_TRUE(basic_type(BASIC_TYPE_ARRAY)->flags & TYPE_ARRAY);
}

TEST(Types, DerivedTypesAreMadeOnceAndNamed) {
    ASSERT_TRUE(reset_with_support_types());
    Scope* global = global_compiler_state.global_scope;
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* s32_type = basic_type(BASIC_TYPE_S32);
    Identifier* string = basic_type(BASIC_TYPE_STRING);
    Identifier* outer = add_test_struct(global, "Outer");
    Identifier* inner = add_test_struct(outer->member_scope, "Inner", {{"x", u8_type}});

    Identifier* one = type_to_memory_address_of_type(u8_type, 1);
    Identifier* two = type_to_memory_address_of_type(one, 1);
    EXPECT_EQ(type_to_memory_address_of_type(u8_type, 1), one);
    EXPECT_EQ(type_to_memory_address_of_type(u8_type, 2), two);
    EXPECT_EQ(type_to_memory_address_of_type(u8_type, 0), u8_type);
    EXPECT_EQ(type_to_dereference_of_type(one), u8_type);
    EXPECT_EQ(type_to_dereference_of_type(two), one);
    EXPECT_EQ(type_to_dereference_of_type(u8_type), nullptr);
    EXPECT_EQ(find_in(global, "@@ u8"), two);
    EXPECT_EQ(two->pointer_depth, 2);
    EXPECT_EQ(two->size, 8u);
    EXPECT_EQ(two->leaf_type, u8_type);
    EXPECT_EQ(two->flags & TYPE_UNSIGNED, TYPE_UNSIGNED);
    EXPECT_EQ(two->constant_value.constant.data, (u64)two);  // its own constant, not a copy of another

    // Dereferencing first makes a fresh type: its constant and list link are its own.
    Identifier* three_string = type_to_memory_address_of_type(string, 3);
    Identifier* two_string = type_to_dereference_of_type(three_string);
    EXPECT_EQ(two_string->pointer_depth, 2);
    EXPECT_EQ(two_string->constant_value.constant.data, (u64)two_string);
    EXPECT_EQ(two_string->next, nullptr);
    EXPECT_EQ(type_to_memory_address_of_type(string, 2), two_string);

    Value four, five;
    make_constant_value_from_integer(&four, 4, basic_type(BASIC_TYPE_U64), Trace{});
    make_constant_value_from_integer(&five, 5, basic_type(BASIC_TYPE_U64), Trace{});
    Identifier* dynamic = get_or_add_array_type_from(s32_type, Trace{}, nullptr);
    Identifier* fixed = get_or_add_array_type_from(u8_type, Trace{}, &four);
    EXPECT_EQ(get_or_add_array_type_from(s32_type, Trace{}, nullptr), dynamic);
    EXPECT_EQ(get_or_add_array_type_from(u8_type, Trace{}, &four), fixed);
    EXPECT_NE(get_or_add_array_type_from(u8_type, Trace{}, &five), fixed);
    EXPECT_EQ(dynamic->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY), TYPE_ARRAY);
    EXPECT_EQ(fixed->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY), TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY);
    EXPECT_EQ(fixed->element_type, u8_type);
    EXPECT_EQ(fixed->polymorphic_origin, basic_type(BASIC_TYPE_FIXED_SIZE_ARRAY));

    Identifier* empty_signature = add_test_struct(global, "f");
    empty_signature->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT;
    Identifier* signature = add_test_struct(global, "g");
    signature->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT | SUB_PROGRAM_C_CALL;
    signature->element_type = s32_type;
    add_identifier(signature->member_scope, (u8*)"a", 1, IDENTIFIER_KIND_PARAMETER, Trace{})->type = u8_type;
    add_identifier(signature->member_scope, (u8*)"b", 1, IDENTIFIER_KIND_PARAMETER, Trace{})->type =
        type_to_memory_address_of_type(string, 1);

    struct Case { const char* text; Identifier* type; };
    const Case cases[] = {
        {"u8", u8_type},
        {"@@ u8", two},
        {"@@ String", two_string},
        {"[] s32", dynamic},
        {"[4] u8", fixed},
        {"Outer.Inner", inner},
        {"@@ Outer.Inner", type_to_memory_address_of_type(inner, 2)},
        {"Outer.[] Inner", get_or_add_array_type_from(inner, Trace{}, nullptr)},  // it stands in Outer's scope
        {"()", empty_signature},
        {"(u8, @ String) #c_call -> s32", signature},
        {"(u8, @ String) #c_call -> s32", type_to_memory_address_of_type(signature, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text_of(type_to_string(c.type)), c.text);
        EXPECT_STREQ(type_to_c_string(c.type), c.text);
    }
    // A derived type stands beside the type it comes from.
    EXPECT_EQ(find_in(outer->member_scope, "@@ Inner"), type_to_memory_address_of_type(inner, 2));
    EXPECT_EQ(find_in(outer->member_scope, "[] Inner"), get_or_add_array_type_from(inner, Trace{}, nullptr));
    EXPECT_EQ(compile_errors.count, 0u);
}

// A sub-program type with parameters of the given types.
static Identifier* add_signature(Scope* scope, const char* name, std::vector<Identifier*> parameters) {
    Identifier* signature = add_test_struct(scope, name);
    signature->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT;
    for (Identifier* p : parameters) add_identifier(signature->member_scope, (u8*)"p", 1, IDENTIFIER_KIND_PARAMETER, Trace{})->type = p;
    return signature;
}

TEST(Types, PerfectMatch) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* s8_type = basic_type(BASIC_TYPE_S8);
    Identifier* void_type = basic_type(BASIC_TYPE_VOID);
    auto at = [](Identifier* t, u8 n) { return type_to_memory_address_of_type(t, n); };

    // Two sub-programs, each declaring a struct Node, and two instances of one polymorphic struct.
    Scope* first = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Scope* second = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Identifier* node_a = add_test_struct(first, "Node", {{"next", u8_type}});
    Identifier* node_b = add_test_struct(second, "Node", {{"next", u8_type}});
    Identifier* pair = add_test_struct(global, "Pair");
    pair->flags |= TYPE_POLYMORPHIC;
    Identifier* pair_a = add_test_struct(first, "Pair(u8, 4)", {{"x", u8_type}});
    Identifier* pair_b = add_test_struct(second, "Pair(u8, 4)", {{"x", u8_type}});
    Identifier* pair_c = add_test_struct(second, "Pair(u8, 5)", {{"x", u8_type}});
    for (Identifier* instance : {pair_a, pair_b, pair_c}) instance->polymorphic_origin = pair;
    Identifier* same_layout = add_test_struct(global, "Other", {{"next", u8_type}});

    struct Case { const char* name; Identifier* a; Identifier* b; bool match; };
    const Case cases[] = {
        {"same identifier", u8_type, u8_type, true},
        {"u8 and s8", u8_type, s8_type, false},
        {"addresses over one leaf", at(u8_type, 2), at(u8_type, 2), true},
        {"different depths", at(u8_type, 1), at(u8_type, 2), false},
        {"same-named structs of sibling scopes", node_a, node_b, false},
        {"addresses of those structs", at(node_a, 1), at(node_b, 1), false},
        {"equal layout, other name", node_a, same_layout, false},
        {"instances with equal arguments", pair_a, pair_b, true},
        {"addresses of those instances", at(pair_a, 1), at(pair_b, 1), true},
        {"instances with other arguments", pair_b, pair_c, false},
        {"2-level void parameter, 3-level u8", add_signature(global, "a", {at(void_type, 2)}),
         add_signature(global, "b", {at(u8_type, 3)}), true},
        {"3-level u8 parameter, 2-level void", add_signature(global, "c", {at(u8_type, 3)}),
         add_signature(global, "d", {at(void_type, 2)}), true},
        {"2-level void parameter, 1-level u8", add_signature(global, "e", {at(void_type, 2)}),
         add_signature(global, "f", {at(u8_type, 1)}), false},
        {"u8 parameter, s8 parameter", add_signature(global, "g", {u8_type}), add_signature(global, "h", {s8_type}), false},
        {"u8 parameter, void parameter", add_signature(global, "i", {u8_type}), add_signature(global, "j", {void_type}), false},
        {"parameter counts", add_signature(global, "k", {u8_type}), add_signature(global, "l", {u8_type, u8_type}), false},
        {"no parameters", add_signature(global, "m", {}), add_signature(global, "n", {}), true},
        {"a struct parameter of each sibling", add_signature(global, "o", {node_a}), add_signature(global, "p", {node_b}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(types_perfectly_match(c.a, c.b), c.match);
        EXPECT_EQ(types_perfectly_match(c.b, c.a), c.match);
    }
}

TEST(Types, InferenceFromConstantsAndValues) {
    ASSERT_TRUE(reset_with_basic_types());
    Identifier* pair = add_test_struct(global_compiler_state.global_scope, "Pair");
    auto untyped = [](u64 mask, u64 data) {
        Constant c = {};
        c.mask = mask;
        c.data = data;
        return c;
    };
    Constant typed = untyped(CONSTANT_TYPED_UNSIGNED, 1);
    typed.type = basic_type(BASIC_TYPE_U16);
    Constant aggregate = untyped(CONSTANT_TYPE_INFO, 0);
    aggregate.further_type = pair;

    struct Case { const char* name; Constant constant; u8 options; Basic_Type_Slot expected; Identifier* other; };
    const Case cases[] = {
        {"typed keeps its type", typed, INFER_SMALLEST_TYPE, BASIC_TYPE_U16, nullptr},
        {"unsigned", untyped(CONSTANT_UNSIGNED, 3), 0, BASIC_TYPE_U64, nullptr},
        {"254", untyped(CONSTANT_UNSIGNED, 254), INFER_SMALLEST_TYPE, BASIC_TYPE_U8, nullptr},
        {"255", untyped(CONSTANT_UNSIGNED, 255), INFER_SMALLEST_TYPE, BASIC_TYPE_U16, nullptr},
        {"65,534", untyped(CONSTANT_UNSIGNED, 65534), INFER_SMALLEST_TYPE, BASIC_TYPE_U16, nullptr},
        {"65,535", untyped(CONSTANT_UNSIGNED, 65535), INFER_SMALLEST_TYPE, BASIC_TYPE_U32, nullptr},
        {"4,294,967,295", untyped(CONSTANT_UNSIGNED, 4294967295ull), INFER_SMALLEST_TYPE, BASIC_TYPE_U64, nullptr},
        {"signed", untyped(CONSTANT_SIGNED, (u64)-3), 0, BASIC_TYPE_S64, nullptr},
        {"126", untyped(CONSTANT_SIGNED, 126), INFER_SMALLEST_TYPE, BASIC_TYPE_S8, nullptr},
        {"127", untyped(CONSTANT_SIGNED, 127), INFER_SMALLEST_TYPE, BASIC_TYPE_S32, nullptr},
        {"-127", untyped(CONSTANT_SIGNED, (u64)-127), INFER_SMALLEST_TYPE, BASIC_TYPE_S8, nullptr},
        {"-128", untyped(CONSTANT_SIGNED, (u64)-128), INFER_SMALLEST_TYPE, BASIC_TYPE_S32, nullptr},
        {"-2,147,483,648", untyped(CONSTANT_SIGNED, (u64)-2147483648ll), INFER_SMALLEST_TYPE, BASIC_TYPE_S64, nullptr},
        {"real", untyped(CONSTANT_REAL, 0), INFER_SMALLEST_TYPE, BASIC_TYPE_F32, nullptr},
        {"string", untyped(CONSTANT_STRING, 0), 0, BASIC_TYPE_STRING, nullptr},
        {"aggregate", aggregate, 0, BASIC_TYPE_SLOT_COUNT, pair},
        {"code token", untyped(0, 0), 0, BASIC_TYPE_SLOT_COUNT, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identifier* expected = c.expected == BASIC_TYPE_SLOT_COUNT ? c.other : basic_type(c.expected);
        Constant constant = c.constant;
        EXPECT_EQ(infer_type_from_constant(c.options, &constant), expected);
        Value value = {};
        value.kind = VALUE_CONSTANT;
        value.constant = c.constant;
        EXPECT_EQ(infer_type_from_value(c.options, &value), expected);
    }

    // A value held through an address is read one level down when asked.
    Identifier* address = type_to_memory_address_of_type(basic_type(BASIC_TYPE_S32), 1);
    Value held = {};
    held.kind = VALUE_REGISTER | VALUE_INDIRECT;
    held.dynamic.type = address;
    EXPECT_EQ(infer_type_from_value(0, &held), address);
    EXPECT_EQ(infer_type_from_value(INFER_DEREFERENCE, &held), basic_type(BASIC_TYPE_S32));
    EXPECT_EQ(get_type_from_value(&held), basic_type(BASIC_TYPE_S32));
    held.kind = VALUE_REGISTER;
    EXPECT_EQ(get_type_from_value(&held), address);
    Value string = {};
    string.kind = VALUE_CONSTANT;
    string.constant = untyped(CONSTANT_STRING, 0);
    EXPECT_EQ(get_type_from_value(&string), basic_type(BASIC_TYPE_STRING));
    string.constant.mask = CONSTANT_UNSIGNED;
    EXPECT_EQ(get_type_from_value(&string), nullptr);
}

TEST(Types, MemberAndEnumLookups) {
    ASSERT_TRUE(reset_with_basic_types());
    std::string text = "x count missing RED BLUE";
    Source_File* file = add_test_source(text);
    Scope* global = global_compiler_state.global_scope;
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* point = add_test_struct(global, "Point", {{"x", u8_type}});
    add_identifier(point->member_scope, (u8*)"x", 1, IDENTIFIER_KIND_CONSTANT, Trace{});  // a variable wins
    Identifier* count = add_identifier(point->member_scope, (u8*)"count", 5, IDENTIFIER_KIND_PARAMETER, Trace{});
    Identifier* colour = add_a_basic_type(STR("Colour"), TYPE_ENUM, 1, 1);
    Identifier* red = add_identifier(colour->member_scope, (u8*)"RED", 3, IDENTIFIER_KIND_CONSTANT, Trace{});

    EXPECT_EQ(get_struct_member_from_token(point, token_at(file, 0))->flags & IDENTIFIER_STRUCT_MEMBER, IDENTIFIER_STRUCT_MEMBER);
    EXPECT_EQ(get_struct_member_from_token(type_to_memory_address_of_type(point, 1), token_at(file, 1)), count);
    EXPECT_EQ(get_enum_value_from_token(colour, token_at(file, 3)), red);
    EXPECT_EQ(get_enum_value_no_errors(colour, STR("BLUE")), nullptr);
    EXPECT_EQ(compile_errors.count, 0u);

    EXPECT_EQ(get_struct_member_from_token(point, token_at(file, 2)), nullptr);
    EXPECT_EQ(get_struct_member_from_token(u8_type, token_at(file, 0)), nullptr);
    EXPECT_EQ(get_enum_value_from_token(colour, token_at(file, 4)), nullptr);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"'missing' is not a member of struct Point.",
                                                                  "Type 'u8' does not appear to be a struct.",
                                                                  "'BLUE' is not a member of enum Colour."}));
    EXPECT_EQ(get_compile_error(0)->column, 8u);
}
