#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include "compiler_test_helpers.h"

// Types of the matrix: the numbers, b8, addresses, @void, String, an enum and a struct with
// #as, declared as source would declare them.
static const char* MATRIX_DECLARATIONS =
    "$Colour: #enum u8 = { $RED; $GREEN := 7; };\n"
    "$Handle: #struct = { #as value: s32; generation: u16; };\n"
    "$Plain: #struct = { x: u8; };\n";

static const char* MATRIX_TYPES[] = {"u8",  "u16",  "u32", "u64",  "s8",     "s16",    "s32",    "s64",  "f32",
                                     "f64", "b8",   "@u8", "@s32", "@@u8",   "@void",  "String", "Colour", "Handle"};

struct Matrix_Fixture {
    std::string text;
    Scope* scope;
    std::vector<Identifier*> types;
};

static Identifier* parse_type_text(const char* text) {
    static std::deque<std::string> texts;  // stable: tokens point into them for the whole compile
    texts.emplace_back(text);
    Source_File* file = add_test_source(texts.back(), "type.8");
    Identifier* type = nullptr;
    Token* stop;
    EXPECT_TRUE(parse_type(global_compiler_state.global_scope, &type, first_token(file), nullptr, &stop, 0, nullptr, nullptr))
        << text;
    return type;
}

static void set_up_matrix(Matrix_Fixture* f) {
    ASSERT_TRUE(reset_with_support_types());
    f->text = MATRIX_DECLARATIONS;
    ASSERT_TRUE(declare_test_source(f->text));
    f->scope = _add_a_scope(global_compiler_state.global_scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    for (const char* name : MATRIX_TYPES) f->types.push_back(parse_type_text(name));
}

static std::string last_message() {
    return compile_errors.count ? (char*)get_compile_error(compile_errors.count - 1)->message : "(no report)";
}

static std::string type_text(Identifier* type) { return type ? text_of(type_to_string(type)) : "(none)"; }

// What a cast gave: the message, or the instructions it emitted and the value it made.
static std::string describe_cast(Scope* scope, Value* source, Value* result, u32 instructions_before, u32 errors_before) {
    char line[256];
    if (!result->kind) return compile_errors.count > errors_before ? "error: " + last_message() : "error without a report";
    std::string text;
    u32 index = 0;
    for (Instruction* i = (Instruction*)scope->instructions.first_element; i; i = i->next, index++) {
        if (index < instructions_before) continue;
        if (i->kind == INSTRUCTION_CAST) {
            snprintf(line, sizeof(line), "cast %u%s; ", i->cast.cast_kind, i->cast.unsigned_source ? " unsigned" : "");
        } else {
            snprintf(line, sizeof(line), "instruction %u; ", i->kind);
        }
        text += line;
    }
    if (result->kind & VALUE_CONSTANT) {
        Constant* c = &result->constant;
        // A string's data is where its text lies: its octets are what is compared.
        std::string data = (c->mask & CONSTANT_STRING) ? "\"" + std::string((char*)c->data, c->length) + "\""
                                                       : (snprintf(line, sizeof(line), "0x%llx", (unsigned long long)c->data), line);
        snprintf(line, sizeof(line), "constant mask 0x%llx size %u data %s type %s", (unsigned long long)c->mask, c->size,
                 data.c_str(), type_text(c->type).c_str());
        text += line;
    } else {
        const char* how = text.empty() ? (registers_match(result->dynamic.register_id, source->dynamic.register_id) &&
                                                  result->dynamic.type != source->dynamic.type
                                              ? "retyped "
                                          : registers_match(result->dynamic.register_id, source->dynamic.register_id)
                                              ? "unchanged "
                                              : "view ")
                                       : "";
        snprintf(line, sizeof(line), "%stype %s", how, type_text(result->dynamic.type).c_str());
        text += line;
    }
    snprintf(line, sizeof(line), " kind 0x%x", result->kind);
    return text + line;
}

// A constant of each source type: typed where the type is, and the untyped literals besides.
static bool make_matrix_constant(Value* out, Identifier* type, Trace trace) {
    if (type->pointer_depth) {
        make_constant_value_from_integer(out, 16, type, trace);
    } else if (type->flags & TYPE_FLOAT) {
        make_constant_value_from_float(out, 2.5, type, trace);
    } else if (type->flags & TYPE_STRING) {
        make_constant_value_from_string(out, STR("ab"), trace);
        cast_constant_to_type(out, type, out);
    } else if (type->flags & TYPE_STRUCT) {
        Register_Id id = allocate_constant_data(type->size, type->alignment);
        store_u32(get_register_constant_data(id), (u32)-7);
        make_constant_value_from_register(out, id, type, trace);
    } else {
        make_constant_value_from_integer(out, (type->flags & TYPE_SIGNED) ? (u64)-3 : 7, type, trace);
    }
    return out->kind != 0;
}

static void add_literal(std::vector<std::pair<std::string, Value>>& literals, const char* name, u64 mask, u64 data, u32 size) {
    Value v = {};
    v.kind = VALUE_CONSTANT;
    v.constant.mask = mask;
    v.constant.data = data;
    v.constant.size = size;
    v.constant.length = (mask & CONSTANT_STRING) ? size : 0;
    v.constant.register_id = INVALID_REGISTER_ID;
    v.constant.text_register = INVALID_REGISTER_ID;
    literals.push_back({name, v});
}

static std::string build_cast_matrix() {
    Matrix_Fixture f;
    set_up_matrix(&f);
    std::string out;
    Trace trace = {};
    std::vector<std::pair<std::string, Value>> sources;
    for (Identifier* type : f.types) {
        Value constant;
        if (make_matrix_constant(&constant, type, trace)) sources.push_back({"constant " + type_text(type), constant});
    }
    f64 real = 2.5;
    u64 real_data;
    memcpy(&real_data, &real, 8);
    add_literal(sources, "literal 200", CONSTANT_UNSIGNED, 200, 1);
    add_literal(sources, "literal -5", CONSTANT_SIGNED, (u64)-5, 1);
    add_literal(sources, "literal 2.5", CONSTANT_REAL, real_data, 4);
    add_literal(sources, "literal \"A\"", CONSTANT_STRING, (u64)"A", 1);

    for (int explicit_cast = 0; explicit_cast < 2; explicit_cast++) {
        const char* how = explicit_cast ? "explicit" : "implicit";
        for (Identifier* source_type : f.types) {
            for (Identifier* target : f.types) {
                Value source, result;
                make_dynamic_value(&source, f.scope, source_type, trace);
                u32 instructions = f.scope->instructions.count;
                u32 errors = compile_errors.count;
                if (explicit_cast) explicit_cast_value(&result, f.scope, target, &source);
                else cast_value_to_type(&result, f.scope, target, &source);
                out += std::string(how) + " register " + type_text(source_type) + " -> " + type_text(target) + ": " +
                       describe_cast(f.scope, &source, &result, instructions, errors) + "\n";
            }
        }
        for (auto& [name, constant] : sources) {
            for (Identifier* target : f.types) {
                Value source = constant, result;
                u32 instructions = f.scope->instructions.count;
                u32 errors = compile_errors.count;
                if (explicit_cast) explicit_cast_value(&result, f.scope, target, &source);
                else cast_value_to_type(&result, f.scope, target, &source);
                out += std::string(how) + " " + name + " -> " + type_text(target) + ": " +
                       describe_cast(f.scope, &source, &result, instructions, errors) + "\n";
            }
        }
    }
    return out;
}

// Every cell of the matrix against the checked-in reference; QUARN_UPDATE_REFERENCES=1
// writes the reference instead, to be reviewed in the diff.
TEST(Casts, MatrixMatchesTheReference) {
    std::string matrix = build_cast_matrix();
    std::string path = std::string(QUARN_COMPILER_CORE_FIXTURES) + "/cast_matrix.expect";
    if (getenv("QUARN_UPDATE_REFERENCES")) {
        std::ofstream(path, std::ios::binary) << matrix;
        return;
    }
    std::string expected = read_core_fixture("cast_matrix.expect");
    ASSERT_FALSE(expected.empty());
    std::istringstream got_lines(matrix), expected_lines(expected);
    std::string got_line, expected_line;
    int line = 0;
    while (std::getline(expected_lines, expected_line)) {
        line++;
        ASSERT_TRUE(std::getline(got_lines, got_line)) << "missing line " << line << ": " << expected_line;
        EXPECT_EQ(got_line, expected_line) << "line " << line;
    }
    EXPECT_FALSE(std::getline(got_lines, got_line)) << "extra line: " << got_line;
}

static Value untyped(u64 mask, u64 data, u32 size) {
    Value v = {};
    v.kind = VALUE_CONSTANT;
    v.constant.mask = mask;
    v.constant.data = data;
    v.constant.size = size;
    v.constant.register_id = INVALID_REGISTER_ID;
    v.constant.text_register = INVALID_REGISTER_ID;
    return v;
}

static Value real_constant(f64 real) {
    u64 bits;
    memcpy(&bits, &real, 8);
    return untyped(CONSTANT_REAL, bits, 4);
}

static f64 real_of(Value* v) {
    f64 real;
    memcpy(&real, &v->constant.data, 8);
    return real;
}

// The conversions whose values matter beyond the matrix: the fit, the packing of strings,
// and what explicit casts give at the edges of the 64-bit range.
TEST(Casts, ConstantValuesAtTheEdges) {
    ASSERT_TRUE(reset_with_basic_types());
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* u32_type = basic_type(BASIC_TYPE_U32);
    Identifier* s32_type = basic_type(BASIC_TYPE_S32);
    Identifier* s64_type = basic_type(BASIC_TYPE_S64);
    Identifier* f64_type = basic_type(BASIC_TYPE_F64);
    struct Case {
        const char* name;
        Value constant;
        Identifier* type;
        bool explicit_cast;
        u64 data;         // the result's data word (an f64's bits for reals)
        u64 mask;
        const char* message;
    };
    u64 two_to_64;
    f64 two_to_64_real = 18446744073709551616.0;
    memcpy(&two_to_64, &two_to_64_real, 8);
    Value c8 = untyped(CONSTANT_STRING, (u64)"\xC8", 1);
    c8.constant.length = 1;
    Value abc = untyped(CONSTANT_STRING, (u64)"abc", 3);
    abc.constant.length = 3;
    Value ab = untyped(CONSTANT_STRING, (u64)"ab", 2);
    ab.constant.length = 2;
    const Case cases[] = {
        {"255 into u8", untyped(CONSTANT_UNSIGNED, 255, 1), u8_type, false, 255, CONSTANT_TYPED_UNSIGNED, nullptr},
        {"256 into u8", untyped(CONSTANT_UNSIGNED, 256, 2), u8_type, false, 0, 0, "Constant 0x100 is too big to fit in type u8."},
        {"200 into s8 passes the size test", untyped(CONSTANT_UNSIGNED, 200, 1), basic_type(BASIC_TYPE_S8), false, 200,
         CONSTANT_TYPED_SIGNED, nullptr},
        {"-1 into u32", untyped(CONSTANT_SIGNED, (u64)-1, 1), u32_type, false, 0, 0,
         "You cannot use a signed integer with an unsigned one."},
        {"-1 into b8", untyped(CONSTANT_SIGNED, (u64)-1, 1), basic_type(BASIC_TYPE_B8), false, 1, CONSTANT_TYPED_UNSIGNED, nullptr},
        {"0.0 into b8", real_constant(0.0), basic_type(BASIC_TYPE_B8), false, 0, CONSTANT_TYPED_UNSIGNED, nullptr},
        {"all bits into f64, as unsigned", untyped(CONSTANT_UNSIGNED, ~0ull, 8), f64_type, false, two_to_64, CONSTANT_TYPED_REAL,
         nullptr},
        {"all bits into f64 explicitly, as unsigned", untyped(CONSTANT_UNSIGNED, ~0ull, 8), f64_type, true, two_to_64,
         CONSTANT_TYPED_REAL, nullptr},
        {"one octet of 200 into u32 stays positive", c8, u32_type, false, 200, CONSTANT_UNSIGNED, nullptr},
        {"one octet of 200 into s32 keeps its sign", c8, s32_type, false, (u64)-56, CONSTANT_SIGNED, nullptr},
        {"two octets into u16, in order", ab, basic_type(BASIC_TYPE_U16), false, 0x6261, CONSTANT_UNSIGNED, nullptr},
        {"three octets into u16", abc, basic_type(BASIC_TYPE_U16), false, 0, 0, "You cannot assign a 3-byte string to a 2-byte u16."},
        {"3.7 to s32 truncates", real_constant(3.7), s32_type, true, 3, CONSTANT_TYPED_SIGNED, nullptr},
        {"-3.7 to s32 truncates", real_constant(-3.7), s32_type, true, (u64)-3, CONSTANT_TYPED_SIGNED, nullptr},
        {"0.5 to b8 is true, as at run time", real_constant(0.5), basic_type(BASIC_TYPE_B8), true, 1, CONSTANT_TYPED_UNSIGNED,
         nullptr},
        {"NaN to s64", real_constant(NAN), s64_type, true, 0x8000000000000000ull, CONSTANT_TYPED_SIGNED, nullptr},
        {"1e30 to s64", real_constant(1e30), s64_type, true, 0x8000000000000000ull, CONSTANT_TYPED_SIGNED, nullptr},
        {"-2^63 to s64", real_constant(-9223372036854775808.0), s64_type, true, 0x8000000000000000ull, CONSTANT_TYPED_SIGNED,
         nullptr},
        // An explicit cast gives what the machine's cast gives: a constant fitted to a wider
        // type later must not bring back the octets the cast cut off.
        {"300 to u8 explicitly is cut to its octet", untyped(CONSTANT_UNSIGNED, 300, 2), u8_type, true, 44,
         CONSTANT_TYPED_UNSIGNED, nullptr},
        {"-1 to u8 explicitly is 255", untyped(CONSTANT_SIGNED, (u64)-1, 1), u8_type, true, 255, CONSTANT_TYPED_UNSIGNED,
         nullptr},
        {"200 to s8 explicitly is negative", untyped(CONSTANT_UNSIGNED, 200, 1), basic_type(BASIC_TYPE_S8), true, (u64)-56,
         CONSTANT_TYPED_SIGNED, nullptr},
        {"70000 to s32 explicitly keeps its value", untyped(CONSTANT_UNSIGNED, 70000, 4), s32_type, true, 70000,
         CONSTANT_TYPED_SIGNED, nullptr},
        {"-3.7 to u8 explicitly is cut as at run time", real_constant(-3.7), u8_type, true, 253, CONSTANT_TYPED_UNSIGNED,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        compile_errors.count = 0;
        Value source = c.constant, result;
        if (c.explicit_cast) explicit_cast_value(&result, global_compiler_state.global_scope, c.type, &source);
        else cast_value_to_type(&result, global_compiler_state.global_scope, c.type, &source);
        if (c.message) {
            EXPECT_EQ(result.kind, 0);
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.message});
            continue;
        }
        ASSERT_NE(result.kind, 0) << last_message();
        EXPECT_EQ(result.constant.data, c.data);
        EXPECT_EQ(result.constant.mask, c.mask);
        if (c.mask & CONSTANT_TYPED) {
            EXPECT_EQ(result.constant.type, c.type);
        }
        EXPECT_EQ(result.constant.size, c.type->size);
    }
    // The integer that becomes an address keeps its value and size and is marked.
    Value seven = untyped(CONSTANT_UNSIGNED, 7, 1), address;
    cast_value_to_type(&address, global_compiler_state.global_scope, type_to_memory_address_of_type(u8_type, 1), &seven);
    EXPECT_EQ(address.kind, VALUE_CONSTANT | VALUE_INTEGER_AS_POINTER);
    EXPECT_EQ(address.constant.size, 1u);
    EXPECT_EQ(address.constant.data, 7u);
}

// Values reached through their address: a cast reads the memory and its result holds the
// value; a member through #as is reached by computing its address.
TEST(Casts, ValuesReachedThroughTheirAddress) {
    Matrix_Fixture f;
    set_up_matrix(&f);
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* u32_type = basic_type(BASIC_TYPE_U32);
    Identifier* handle = find_global("Handle");
    Value held, result;
    make_dynamic_value(&held, f.scope, type_to_memory_address_of_type(u8_type, 1), Trace{});
    held.kind |= VALUE_INDIRECT;
    ASSERT_NE(cast_value_to_type(&result, f.scope, u32_type, &held)->kind, 0);
    Instruction* cast = get_last_instruction(f.scope);
    ASSERT_EQ(cast->kind, INSTRUCTION_CAST);
    EXPECT_TRUE(cast->cast.source.kind & VALUE_INDIRECT);
    EXPECT_FALSE(result.kind & VALUE_INDIRECT);
    EXPECT_EQ(result.dynamic.type, u32_type);
    // Retyped, it stays an address of the new type.
    ASSERT_NE(explicit_cast_value(&result, f.scope, basic_type(BASIC_TYPE_S8), &held)->kind, 0);
    EXPECT_EQ(result.dynamic.type, type_to_memory_address_of_type(basic_type(BASIC_TYPE_S8), 1));
    EXPECT_TRUE(result.kind & VALUE_INDIRECT);

    Value struct_held;
    make_dynamic_value(&struct_held, f.scope, type_to_memory_address_of_type(handle, 1), Trace{});
    struct_held.kind |= VALUE_INDIRECT;
    ASSERT_NE(cast_value_to_type(&result, f.scope, basic_type(BASIC_TYPE_S32), &struct_held)->kind, 0);
    Instruction* address = get_last_instruction(f.scope);
    ASSERT_EQ(address->kind, INSTRUCTION_ADDRESS);
    EXPECT_EQ(address->address.byte_index, 1);
    EXPECT_FALSE(address->address.base.kind & VALUE_INDIRECT);
    EXPECT_TRUE(result.kind & VALUE_INDIRECT);
    EXPECT_EQ(get_type_from_value(&result), basic_type(BASIC_TYPE_S32));
}

TEST(Casts, ChecksAndReports) {
    ASSERT_TRUE(reset_with_basic_types());
    std::string text = "f 1";
    Source_File* file = add_test_source(text);
    Identifier* u32_type = basic_type(BASIC_TYPE_U32);
    Identifier* u64_type = basic_type(BASIC_TYPE_U64);
    String message = {};
    EXPECT_TRUE(check_imperfect_types_mix_no_error(u64_type, u32_type, &message));
    EXPECT_FALSE(check_imperfect_types_mix_no_error(u32_type, u64_type, &message));
    EXPECT_EQ(text_of(message), "The destination (type u32) is too small to contain the source (type u64).");
    EXPECT_TRUE(check_imperfect_types_mix_no_error(basic_type(BASIC_TYPE_STRING), basic_type(BASIC_TYPE_STRING), &message));
    EXPECT_EQ(compile_errors.count, 0u);

    EXPECT_FALSE(check_imperfect_types_mix(u32_type, basic_type(BASIC_TYPE_F32), make_trace_from_token(token_at(file, 1))));
    report_not_a_sub_program(token_at(file, 0), u32_type);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{
                                            "You cannot use a real number as a source with an integer as a destination.",
                                            "'u32' is not a sub-program."}));
    EXPECT_EQ(get_compile_error(0)->column, 2u);
}

// A float compared with a constant compares with a constant of its own type: an immediate
// for the bytecode target, constant data on AMD64.
TEST(Casts, FloatCompareFitsItsConstant) {
    Matrix_Fixture f;
    set_up_matrix(&f);
    Identifier* f64_type = basic_type(BASIC_TYPE_F64);
    Value left, three = untyped(CONSTANT_UNSIGNED, 3, 1);
    make_dynamic_value(&left, f.scope, f64_type, Trace{});
    global_compiler_state.target_platform = TARGET_PLATFORM_BYTECODE;
    ASSERT_TRUE(instruction_cmp_constant(f.scope, &left, &three));
    Instruction* compare = get_last_instruction(f.scope);
    ASSERT_EQ(compare->kind, INSTRUCTION_FLOAT_COMPARE_CONSTANT);
    EXPECT_EQ(compare->copy.source.constant.mask, CONSTANT_TYPED_REAL);
    EXPECT_EQ(compare->copy.source.constant.type, f64_type);
    EXPECT_EQ(real_of(&compare->copy.source), 3.0);

    global_compiler_state.target_platform = TARGET_PLATFORM_AMD64;
    ASSERT_TRUE(instruction_cmp_constant(f.scope, &left, &three));
    compare = get_last_instruction(f.scope);
    ASSERT_EQ(compare->kind, INSTRUCTION_FLOAT_COMPARE);
    f64 stored;
    memcpy(&stored, get_register_constant_data(compare->copy.source.dynamic.register_id), 8);
    EXPECT_EQ(stored, 3.0);
}
