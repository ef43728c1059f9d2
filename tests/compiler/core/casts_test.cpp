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
    static std::vector<std::string> texts;  // tokens point into them for the whole compile
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
