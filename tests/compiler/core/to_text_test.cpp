#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

TEST(ToText, OperatorsSizesAndRegisters) {
    const std::pair<u64, const char*> operators[] = {
        {0x1, "++"}, {0x4, "-"}, {0x10, "-"}, {0x80, "%"}, {0x400, "<<<"}, {0x20000, "||"},
        {0x1000000, "=="}, {0x10000000, "[ ]"}, {0x3, "INVALID OPERATOR"}, {0, "INVALID OPERATOR"},
        {0x20000000, "INVALID OPERATOR"}, {0x2000008, "INVALID OPERATOR"},
    };
    for (auto [bit, spelling] : operators) EXPECT_STREQ(operator_to_c_string(bit), spelling) << bit;

    EXPECT_STREQ(size_to_c_string(0), "0 bytes");
    EXPECT_STREQ(size_to_c_string(1), "1 byte");
    EXPECT_STREQ(size_to_c_string(4096), "4096 bytes");
    Register_Id id = {(Scope*)0x7f0012345678ull, 7, REGISTER_LOCAL, REGISTER_LOCAL, {0, 0}};
    EXPECT_STREQ(register_id_to_c_string(id), "0x345678-7");
    EXPECT_STREQ(token_kind_to_c_string(TOKEN_REAL_LITERAL), "real");
    EXPECT_STREQ(token_kind_to_c_string(TOKEN_OPERATOR), "?");
}

TEST(ToText, TracesAndTheirLines) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "ab  cd\r\nlast";
    Source_File* file = add_test_source(text);
    Token* ab = token_at(file, 0);
    Token* cd = token_at(file, 1);
    Token* last = token_at(file, 2);
    EXPECT_STREQ(token_to_c_string(cd), "cd");
    EXPECT_EQ(get_token_line(last), 2u);

    EXPECT_EQ(make_trace_from_token(cd).length, 2u);
    EXPECT_EQ(make_trace_from_tokens(ab, cd).length, 6u);
    EXPECT_EQ(make_trace_from_tokens2(ab, cd).length, 4u);
    EXPECT_EQ(make_trace_from_tokens2(cd, cd).length, 0u);
    Trace joined = concat_traces(make_trace_from_token(ab), make_trace_from_token(last));
    EXPECT_EQ(joined.text_start, ab->text);
    EXPECT_EQ(joined.length, text.size());
    Trace kept = concat_traces(make_trace_from_token(cd), make_trace_from_token(ab));
    EXPECT_EQ(kept.length, 2u);

    EXPECT_EQ(text_of(get_trace_line_view(make_trace_from_token(cd))), "ab  cd");
    EXPECT_EQ(text_of(get_trace_line_view(make_trace_from_token(last))), "last");
    Trace nowhere = make_trace_from_token(cd);
    nowhere.line_start = nullptr;
    EXPECT_EQ(get_trace_line_view(nowhere).count, 0);
    nowhere.line_start = (u8*)"elsewhere";
    EXPECT_EQ(get_trace_line_view(nowhere).count, 0);
}

TEST(ToText, ValuesAndConstants) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "source x { a + 1 } 1.5";
    Source_File* file = add_test_source(text);
    Scope* global = global_compiler_state.global_scope;
    Identifier* type_type = add_identifier(global, (u8*)"Type", 4, IDENTIFIER_KIND_CONSTANT, Trace{});
    global_compiler_state.basic_types[BASIC_TYPE_TYPE] = type_type;
    Identifier* u8_type = add_identifier(global, (u8*)"u8", 2, IDENTIFIER_KIND_CONSTANT, Trace{});
    Identifier* pair = add_identifier(global, (u8*)"Pair", 4, IDENTIFIER_KIND_CONSTANT, Trace{});
    pair->flags = TYPE_STRUCT;
    pair->size = 3;
    Identifier* array = add_identifier(global, (u8*)"[] u8", 5, IDENTIFIER_KIND_CONSTANT, Trace{});
    array->flags = TYPE_ARRAY | TYPE_STRUCT;
    u8 octets[3] = {0x0, 0x1f, 0xa0};
    Register_Id pair_data = allocate_constant_data(3, 1);
    memcpy(get_register_constant_data(pair_data), octets, 3);

    auto constant = [&](u64 mask, u64 data, Identifier* type) {
        Value v = {};
        v.kind = VALUE_CONSTANT;
        v.constant.mask = mask;
        v.constant.data = data;
        v.constant.type = type;
        v.constant.register_id = Register_Id{(Scope*)0xabcdef123ull, 4, 1, 1, {0, 0}};
        v.source = make_trace_from_token(token_at(file, 1));
        return v;
    };
    f64 real = 1.5;
    u64 real_bits;
    memcpy(&real_bits, &real, 8);
    Value dynamic = {};
    dynamic.kind = VALUE_REGISTER;
    dynamic.source = make_trace_from_token(token_at(file, 0));
    Value string = constant(CONSTANT_STRING, (u64)"text", nullptr);
    string.constant.length = 4;
    Value pair_constant = constant(CONSTANT_TYPED, 0, pair);
    pair_constant.constant.register_id = pair_data;
    std::string type_text = "0x" + ([&] { char b[32]; snprintf(b, 32, "%llx", (unsigned long long)(u64)u8_type); return std::string(b); })();

    struct Case { const char* name; Value value; const char* as_value; std::string as_constant; };
    const Case cases[] = {
        {"held in a register", dynamic, "source", ""},
        {"a type", constant(CONSTANT_TYPED_SIGNED, (u64)u8_type, type_type), "u8", type_text + " (u8)"},
        {"unsigned", constant(TOKEN_UNSIGNED_INTEGER_LITERAL, 255, nullptr), "0xff", "0xff"},
        {"typed signed", constant(CONSTANT_TYPED_SIGNED, (u64)-2, u8_type), "0xfffffffffffffffe", "0xfffffffffffffffe"},
        {"real", constant(CONSTANT_REAL, real_bits, nullptr), "1.500000", "1.500000"},
        {"string", string, "text", "text"},
        {"code", constant(CONSTANT_TYPED_CODE, (u64)token_at(file, 2), nullptr), "x", ""},
        {"struct", pair_constant, "x", "0x00x1f0xa0"},
        {"array", constant(CONSTANT_TYPED, 0, array), "x", "0xdef123-4"},
        {"other", constant(CONSTANT_TYPED, 0, u8_type), "x", ""},
    };
    char code[64];
    snprintf(code, sizeof(code), "0x%llx { a + 1}", (unsigned long long)(u64)token_at(file, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Value value = c.value;
        EXPECT_EQ(text_of(value_to_string(&value)), c.as_value);
        if (value.kind & VALUE_CONSTANT) {
            EXPECT_EQ(text_of(constant_to_string(&value)), std::string(c.name) == "code" ? code : c.as_constant);
        }
    }
}

TEST(ToText, FullTemporaryMemoryFailsTheCompile) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "name";
    Source_File* file = add_test_source(text);
    u64 used = tmp_get_used();
    Temporary_Memory* slot = tmp_get_slot();
    ASSERT_NE(tmp_allocate(slot->size - slot->used), nullptr);
    EXPECT_STREQ(token_to_c_string(first_token(file)), "");
    EXPECT_STREQ(size_to_c_string(8), "");
    tmp_set_used(used);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"The compiler ran out of memory for temporary memory.",
                                                                  "The compiler ran out of memory for temporary memory."}));
}
