#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

static f64 real_of(Constant& c) {
    f64 v;
    memcpy(&v, &c.data, 8);
    return v;
}

static std::string staged_text(Register_Id id) {
    return std::string((char*)get_register_constant_data(id), get_register_size(id));
}

TEST(Values, NumberLiterals) {
    struct Case { const char* text; u64 mask; u32 size; u64 data; f64 real; };
    const u64 U = TOKEN_UNSIGNED_INTEGER_LITERAL, S = TOKEN_SIGNED_INTEGER_LITERAL, R = TOKEN_REAL_LITERAL;
    const Case cases[] = {
        {"255", U, 1, 255, 0},
        {"256", U, 2, 256, 0},
        {"65535", U, 2, 65535, 0},
        {"65536", U, 4, 65536, 0},
        {"4294967295", U, 4, 4294967295ull, 0},
        {"4294967296", U, 8, 4294967296ull, 0},
        {"18446744073709551615", U, 8, ~0ull, 0},
        {"0xFFFF_FFFF_FFFF_FF00", U, 8, 0xFFFFFFFFFFFFFF00ull, 0},
        {"0x1f", U, 1, 31, 0},
        {"0b1_0000_0000", U, 2, 256, 0},
        {"1_000", U, 2, 1000, 0},
        {"-255", S, 1, (u64)-255, 0},
        {"-256", S, 2, (u64)-256, 0},
        {"+5", S, 1, 5, 0},
        {"-9223372036854775808", S, 8, 0x8000000000000000ull, 0},
        {"+9223372036854775807", S, 8, 0x7FFFFFFFFFFFFFFFull, 0},
        {"-0x10", S, 1, (u64)-16, 0},
        {"1.5", R, 4, 0, 1.5},
        {"1_000.5", R, 4, 0, 1000.5},
        {".5", R, 4, 0, 0.5},
        {"-.5", R, 4, 0, -0.5},
        {"+.5", R, 4, 0, 0.5},
        {"7.", R, 4, 0, 7.0},
        {"1.5e3", R, 4, 0, 1500.0},
        {"0.1", R, 4, 0, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(reset_with_basic_types());
        std::string text = c.text;
        Source_File* file = add_test_source(text);
        ASSERT_EQ(first_token(file)->next, nullptr);
        Value value;
        make_constant_value_from_token(&value, first_token(file), nullptr);
        EXPECT_EQ(value.kind, VALUE_CONSTANT);
        EXPECT_EQ(value.constant.mask, c.mask);
        EXPECT_EQ(value.constant.size, c.size);
        EXPECT_EQ(value.constant.type, nullptr);
        if (c.mask == R) {
            EXPECT_EQ(real_of(value.constant), c.real);
        } else {
            EXPECT_EQ(value.constant.data, c.data);
        }
        EXPECT_EQ(value.source.text_start, first_token(file)->text);
        EXPECT_EQ(compile_errors.count, 0u);
    }
}

TEST(Values, InvalidNumberLiteralsAreReported) {
    const char* cases[] = {"12ab", "0X1", "0x", "0b102", "18446744073709551616", "0x1_0000_0000_0000_0000",
                           "-9223372036854775809", "+9223372036854775808", "1.5e", "1e999", "7.e"};
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        ASSERT_TRUE(reset_with_basic_types());
        std::string text = c;
        Source_File* file = add_test_source(text);
        Value value;
        make_constant_value_from_token(&value, first_token(file), nullptr);
        EXPECT_EQ(value.kind, 0);
        EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"This number literal is not valid."}));
        EXPECT_EQ(get_compile_error(0)->marked_length, first_token(file)->length);
    }
}

TEST(Values, EscapesDecode) {
    struct Case { const char* literal; std::string decoded; };
    const Case cases[] = {
        {R"(plain)", "plain"},
        {R"(a\nb)", "a\nb"},
        {R"(\\ \")", "\\ \""},
        {R"(\a\b\e\f\n\r\t\v)", "\a\b\x1b\f\n\r\t\v"},
        {R"(\0\5\9)", std::string("\0\5\t", 3)},
        {R"(\q\x\')", "???"},
        {R"()", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.literal);
        ASSERT_TRUE(reset_with_basic_types());
        std::string text = std::string("\"") + c.literal + "\"";
        Source_File* file = add_test_source(text);
        Value value;
        make_constant_value_from_token(&value, first_token(file), nullptr);
        ASSERT_EQ(value.kind, VALUE_CONSTANT);
        EXPECT_EQ(value.constant.mask, CONSTANT_STRING);
        EXPECT_EQ(std::string((char*)value.constant.data, value.constant.length), c.decoded);
        EXPECT_EQ(value.constant.size, c.decoded.size());
        EXPECT_EQ(staged_text(value.constant.text_register), c.decoded);
        // Text without a backslash is the source's own octets.
        if (!strchr(c.literal, '\\')) {
            EXPECT_EQ((u8*)value.constant.data, first_token(file)->text);
        } else {
            EXPECT_GT(real_strings_memory.used, 0u);
        }
    }
    // A backslash that ends the text (a literal left open) stands for itself.
    u8 open[] = {'a', 'b', '\\'};
    String decoded;
    ASSERT_TRUE(get_real_string(open, 3, &decoded));
    EXPECT_EQ(text_of(decoded), "ab\\");
}

TEST(Values, StringTextsAreShared) {
    ASSERT_TRUE(reset_with_basic_types());
    // The octets "hi" of a constant that is not a string's text are never shared.
    Register_Id other = allocate_constant_data(2, 1);
    memcpy(get_register_constant_data(other), "hi", 2);
    std::string text = R"("hi" "hi" "h\x69" "hi!" "" "")";
    Source_File* file = add_test_source(text);
    Value values[6];
    for (u32 i = 0; i < 6; i++) make_constant_value_from_token(&values[i], token_at(file, i), nullptr);

    EXPECT_FALSE(registers_match(values[0].constant.text_register, other));
    EXPECT_TRUE(registers_match(values[0].constant.text_register, values[1].constant.text_register));
    EXPECT_FALSE(registers_match(values[0].constant.text_register, values[2].constant.text_register));  // "h?"
    EXPECT_FALSE(registers_match(values[0].constant.text_register, values[3].constant.text_register));
    EXPECT_TRUE(registers_match(values[4].constant.text_register, values[5].constant.text_register));
    EXPECT_FALSE(registers_match(values[0].constant.register_id, values[1].constant.register_id));
    Register_Id found;
    EXPECT_TRUE(get_existing_string_constant_data((u8*)"hi!", 3, &found));
    EXPECT_TRUE(registers_match(found, values[3].constant.text_register));
    EXPECT_FALSE(get_existing_string_constant_data((u8*)"h", 1, &found));
    EXPECT_FALSE(register_id_is_valid(found));

    // Each literal's String points at its text once loaded.
    Dynamic_Array* relocations = &global_compiler_state.constant_relocations;
    ASSERT_EQ(relocations->count, 6u);
    for (u32 i = 0; i < 6; i++) {
        SCOPED_TRACE(i);
        Relocation* r = (Relocation*)relocations->data + i;
        EXPECT_EQ(get_first_non_view_register(r->where), get_register(values[i].constant.register_id));
        EXPECT_EQ(get_register_size(r->where), 8u);
        EXPECT_TRUE(registers_match(r->target, values[i].constant.text_register));
        EXPECT_EQ(r->where_area, REGISTER_CONSTANT_DATA);
        u8* staged = get_register_constant_data(values[i].constant.register_id);
        EXPECT_EQ(load_u64(staged), values[i].constant.data);
        EXPECT_EQ(load_u64(staged + 8), values[i].constant.length);
    }

    // A literal for an array of octets keeps its text out of constant data.
    Value octets;
    make_constant_value_from_token(&octets, token_at(file, 3), basic_type(BASIC_TYPE_U8));
    EXPECT_EQ(octets.constant.mask, CONSTANT_STRING);
    EXPECT_FALSE(register_id_is_valid(octets.constant.register_id));
    EXPECT_EQ(relocations->count, 6u);
    Value placed;
    make_constant_value_from_token(&placed, token_at(file, 3), basic_type(BASIC_TYPE_STRING));
    EXPECT_TRUE(registers_match(placed.constant.text_register, values[3].constant.text_register));

    Value made;
    make_constant_value_from_string(&made, STR("hi!"), Trace{});
    EXPECT_TRUE(registers_match(made.constant.text_register, values[3].constant.text_register));
    EXPECT_EQ(made.kind, VALUE_CONSTANT);
}

TEST(Values, ManyTextsStayFoundAsTheIndexGrows) {
    ASSERT_TRUE(reset_with_basic_types());
    std::vector<std::string> texts;
    std::vector<Register_Id> rows;
    for (u32 i = 0; i < 3000; i++) texts.push_back("text " + std::to_string(i));
    for (const std::string& text : texts) {
        Value value;
        make_constant_value_from_string(&value, String{(u8*)text.data(), (s64)text.size()}, Trace{});
        rows.push_back(value.constant.text_register);
    }
    for (u32 i = 0; i < texts.size(); i += 7) {
        Register_Id found;
        ASSERT_TRUE(get_existing_string_constant_data((u8*)texts[i].data(), texts[i].size(), &found)) << texts[i];
        EXPECT_TRUE(registers_match(found, rows[i]));
    }
    // A new compile forgets them all.
    ASSERT_TRUE(reset_with_basic_types());
    Register_Id found;
    EXPECT_FALSE(get_existing_string_constant_data((u8*)texts[0].data(), texts[0].size(), &found));
}

TEST(Values, FloatConstantsInData) {
    ASSERT_TRUE(reset_with_basic_types());
    Identifier* f32_type = basic_type(BASIC_TYPE_F32);
    Identifier* f64_type = basic_type(BASIC_TYPE_F64);
    Register_Id* shared = global_compiler_state.float_constants;
    struct Case { const char* name; f64 value; Identifier* type; Register_Id expected; };
    const Case cases[] = {
        {"f32 1.0", 1.0, f32_type, shared[FLOAT_CONSTANT_F32_ONE]},
        {"f32 -1.0", -1.0, f32_type, shared[FLOAT_CONSTANT_F32_MINUS_ONE]},
        {"f64 1.0", 1.0, f64_type, shared[FLOAT_CONSTANT_F64_ONE]},
        {"f64 -1.0", -1.0, f64_type, shared[FLOAT_CONSTANT_F64_MINUS_ONE]},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int twice = 0; twice < 2; twice++) {
            Value constant, value;
            make_constant_value_from_float(&constant, c.value, c.type, Trace{});
            get_or_add_float_constant(&value, &constant);
            EXPECT_EQ(value.kind, VALUE_REGISTER);
            EXPECT_EQ(value.dynamic.type, c.type);
            EXPECT_TRUE(registers_match(value.dynamic.register_id, c.expected));
        }
    }
    u32 rows = global_compiler_state.constant_registers.count;
    Value constant, first, second;
    make_constant_value_from_float(&constant, 2.0, f64_type, Trace{});
    get_or_add_float_constant(&first, &constant);
    get_or_add_float_constant(&second, &constant);
    EXPECT_FALSE(registers_match(first.dynamic.register_id, second.dynamic.register_id));
    EXPECT_EQ(global_compiler_state.constant_registers.count, rows + 2);
    f64 staged;
    memcpy(&staged, get_register_constant_data(first.dynamic.register_id), 8);
    EXPECT_EQ(staged, 2.0);
    EXPECT_EQ(get_register_offset_in_constant_data(first.dynamic.register_id) % 8, 0u);

    // An untyped real is an f32 in data.
    std::string text = "2.5";
    Source_File* file = add_test_source(text);
    Value literal, untyped;
    make_constant_value_from_token(&literal, first_token(file), nullptr);
    get_or_add_float_constant(&untyped, &literal);
    EXPECT_EQ(untyped.dynamic.type, f32_type);
    f32 narrow;
    ASSERT_EQ(get_register_size(untyped.dynamic.register_id), 4u);
    memcpy(&narrow, get_register_constant_data(untyped.dynamic.register_id), 4);
    EXPECT_EQ(narrow, 2.5f);
}

TEST(Values, MakersOfDynamicAndTypedValues) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    Scope* body = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Identifier* s8_type = basic_type(BASIC_TYPE_S8);
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Trace trace = {0, 3, 0, 0, 0};

    Value value;
    make_dynamic_value(&value, body, basic_type(BASIC_TYPE_B8), trace);
    EXPECT_EQ(value.kind, VALUE_FRESH_BOOLEAN);
    EXPECT_EQ(value.dynamic.register_id.owner, body);
    EXPECT_EQ(value.source.line, 3u);
    make_dynamic_value(&value, body, basic_type(BASIC_TYPE_U32), trace);
    EXPECT_EQ(value.kind, VALUE_FRESH_REGISTER);
    EXPECT_EQ(get_register_size(value.dynamic.register_id), 4u);

    Identifier* variable = add_identifier(body, (u8*)"v", 1, IDENTIFIER_KIND_VARIABLE, Trace{});
    variable->type = u8_type;
    variable->register_id = allocate_a_register(body, 1, u8_type, 1);
    make_value_from_identifier(&value, variable, trace);
    EXPECT_EQ(value.kind, VALUE_REGISTER);
    EXPECT_TRUE(registers_match(value.dynamic.register_id, variable->register_id));
    Identifier* constant = add_identifier(body, (u8*)"C", 1, IDENTIFIER_KIND_CONSTANT, Trace{});
    constant->flags = IDENTIFIER_CONSTANT;
    make_constant_value_from_integer(&constant->constant_value, 7, u8_type, Trace{});
    make_value_from_identifier(&value, constant, trace);
    EXPECT_EQ(value.kind, VALUE_CONSTANT);
    EXPECT_EQ(value.constant.data, 7u);
    EXPECT_EQ(value.source.line, 3u);

    Identifier* small_enum = add_a_basic_type(STR("Small"), TYPE_ENUM, 1, 1);
    small_enum->element_type = s8_type;
    small_enum->size = 1;  // an enum starts empty
    struct Case { const char* name; Identifier* type; u64 mask; u32 size; };
    const Case cases[] = {
        {"u8", u8_type, CONSTANT_TYPED_UNSIGNED, 1},
        {"b8", basic_type(BASIC_TYPE_B8), CONSTANT_TYPED_UNSIGNED, 1},
        {"s8", s8_type, CONSTANT_TYPED_SIGNED, 1},
        {"enum over s8", small_enum, CONSTANT_TYPED_SIGNED, 1},
        {"address of u8", type_to_memory_address_of_type(u8_type, 1), CONSTANT_TYPED_SIGNED, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_constant_value_from_integer(&value, 1, c.type, trace);
        EXPECT_EQ(value.constant.mask, c.mask);
        EXPECT_EQ(value.constant.size, c.size);
        EXPECT_EQ(value.constant.type, c.type);
        EXPECT_EQ(value.kind, VALUE_CONSTANT);
    }
    make_constant_value_from_float(&value, 0.1, basic_type(BASIC_TYPE_F64), trace);
    EXPECT_EQ(real_of(value.constant), 0.1);  // not narrowed to an f32 on the way
    EXPECT_EQ(value.constant.mask, CONSTANT_TYPED_REAL);

    Identifier* code = add_test_struct(global, "Code", {{"token", basic_type(BASIC_TYPE_U64)}});
    ASSERT_TRUE(add_test_struct(global, "__Array") && add_test_struct(global, "__Fixed_Size_Array"));
    ASSERT_TRUE(add_the_support_types());
    std::string text = "{ a }";
    Source_File* file = add_test_source(text);
    make_constant_value_from_code_literal(&value, first_token(file));
    EXPECT_EQ(value.constant.mask, CONSTANT_TYPED_CODE);
    EXPECT_EQ(value.constant.type, code);
    EXPECT_EQ(value.constant.data, (u64)first_token(file));
    EXPECT_EQ(get_register_size(value.constant.register_id), 8u);
    EXPECT_EQ(value.source.length, 1u);

    EXPECT_EQ(get_integer_value_size(255, u8_type), 1);
    EXPECT_EQ(get_integer_value_size(256, u8_type), 2);
    EXPECT_EQ(get_integer_value_size(0xFFFFFFFFull, u8_type), 4);
    EXPECT_EQ(get_integer_value_size(0x100000000ull, u8_type), 8);
    EXPECT_EQ(get_integer_value_size((u64)-128, s8_type), 1);
    EXPECT_EQ(get_integer_value_size((u64)-129, s8_type), 2);
    EXPECT_EQ(get_integer_value_size(128, s8_type), 2);
    EXPECT_EQ(get_integer_value_size(0x80000000ull, s8_type), 8);
}

TEST(Values, Defaults) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* u32_type = basic_type(BASIC_TYPE_U32);
    Identifier* small_enum = add_a_basic_type(STR("Small"), TYPE_ENUM, 4, 4);
    small_enum->element_type = basic_type(BASIC_TYPE_S32);
    small_enum->size = 4;
    // Inner {a: u8 = 7; b: u8 = ?; c: u32} and Outer {x: u32 = 9; inner: Inner; name: String}.
    Identifier* inner = add_test_struct(global, "Inner", {{"a", u8_type}, {"b", u8_type}, {"c", u32_type}});
    make_constant_value_from_integer(&get_struct_member_from_string(inner, STR("a"))->constant_value, 7, u8_type, Trace{});
    get_struct_member_from_string(inner, STR("b"))->flags |= IDENTIFIER_NO_INITIAL_VALUE;
    Identifier* outer = add_test_struct(global, "Outer", {{"x", u32_type}, {"inner", inner}, {"name", basic_type(BASIC_TYPE_STRING)}});
    make_constant_value_from_integer(&get_struct_member_from_string(outer, STR("x"))->constant_value, 9, u32_type, Trace{});

    struct Case { const char* name; Identifier* type; u64 mask; bool in_data; };
    const Case cases[] = {
        {"address", type_to_memory_address_of_type(outer, 1), CONSTANT_TYPED_SIGNED, false},
        {"s64", basic_type(BASIC_TYPE_S64), CONSTANT_TYPED_SIGNED, false},
        {"b8", basic_type(BASIC_TYPE_B8), CONSTANT_TYPED_UNSIGNED, false},
        {"enum over s32", small_enum, CONSTANT_TYPED_SIGNED, false},
        {"f64", basic_type(BASIC_TYPE_F64), CONSTANT_TYPED_REAL, false},
        {"String", basic_type(BASIC_TYPE_STRING), CONSTANT_TYPED, true},
        {"Outer", outer, CONSTANT_TYPED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Value value;
        make_default_constant_value(&value, global, c.type, Trace{});
        EXPECT_EQ(value.kind, VALUE_CONSTANT);
        EXPECT_EQ(value.constant.mask, c.mask);
        EXPECT_EQ(value.constant.size, c.type->size);
        EXPECT_EQ(value.constant.type, c.type);
        EXPECT_EQ(value.constant.data, 0u);
        EXPECT_EQ(get_register(value.constant.register_id) != nullptr, c.in_data);
        if (!c.in_data) continue;
        u8* octets = get_register_constant_data(value.constant.register_id);
        std::vector<u8> staged(octets, octets + c.type->size);
        if (c.type == outer) {
            // Packed: x = 9 at 0; inner at 4 with a = 7, b untouched (zero), c = 0; name zeros at 10.
            std::vector<u8> expected(26, 0);
            expected[0] = 9;
            expected[4] = 7;
            EXPECT_EQ(staged, expected);
        } else {
            EXPECT_EQ(staged, std::vector<u8>(c.type->size, 0));
        }
    }
    // The default octets of a struct, as messages and signature keys show them.
    Value value;
    make_default_constant_value(&value, global, inner, Trace{});
    EXPECT_EQ(text_of(constant_to_string(&value)), "0x70x00x00x00x00x0");
}
