#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

// Texts parsed into types; each keeps its tokens for the whole compile.
struct Parsed {
    Identifier* type;
    bool ok;
    std::vector<std::string> messages;
};

static Parsed parse_text(const char* text, Scope* scope, u8 options = 0, Identifier* expected = nullptr) {
    static std::deque<std::string> texts;  // stable: tokens point into them
    texts.emplace_back(std::string(text) + "\n;");
    Source_File* file = add_test_source(texts.back(), "type.8");
    Token* end = first_token(file);
    while (end->next) end = end->next;
    u32 errors = compile_errors.count;
    Parsed parsed;
    Token* stop;
    parsed.ok = parse_type(scope, &parsed.type, first_token(file), end, &stop, options, expected, nullptr);
    for (u32 i = errors; i < compile_errors.count; i++) parsed.messages.push_back((char*)get_compile_error(i)->message);
    return parsed;
}

static Scope* new_parameter_scope() {
    return _add_a_scope(global_compiler_state.global_scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
}

static std::string text(Identifier* type) { return type ? text_of(type_to_string(type)) : "(none)"; }

// While a polymorphic signature is instantiated, the actual argument's type is expected:
// '?' names bind to it, a bare '[]' or polymorphic name accepts it whole.
TEST(TypeParsing, ExpectedTypesBindPolymorphicNames) {
    ASSERT_TRUE(reset_with_support_types());
    std::string declarations = "$Pair: #struct ($T: Type, $N := 8) = { first: T; };";
    ASSERT_TRUE(declare_test_source(declarations));
    Scope* global = global_compiler_state.global_scope;
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);
    Identifier* address_2 = type_to_memory_address_of_type(u8_type, 2);
    Identifier* array = parse_text("[] s32", global).type;
    Identifier* pair = parse_text("Pair(u8, 4)", global).type;
    ASSERT_TRUE(array && pair);

    struct Case {
        const char* text;
        u8 options;
        Identifier* expected;
        const char* result;       // the type's text, or "(none)"
        const char* bound_name;   // a name the parse binds, and its text
        const char* bound;
        const char* message;
    };
    const Case cases[] = {
        {"?T", 0, address_2, "@@ u8", "T", "@@ u8", nullptr},
        {"@@?T", 0, address_2, "@@ u8", "T", "u8", nullptr},
        {"@?T", 0, address_2, nullptr, nullptr, nullptr, "Type '@@ u8' is incompatible with '@ u8'."},
        {"?T", 0, nullptr, nullptr, nullptr, nullptr, "Expected a type but got '?' instead."},
        {"[] ?T", 0, array, "[] s32", "T", "s32", nullptr},
        {"[]", 0, array, "[] s32", nullptr, nullptr, nullptr},
        {"@[]", 0, array, nullptr, nullptr, nullptr, "Type '[] s32' is incompatible with '@[]'."},
        {"[]", 0, u8_type, nullptr, nullptr, nullptr, "Type 'u8' is incompatible with '[]'."},
        {"Pair", 0, pair, "Pair(u8, 4)", nullptr, nullptr, nullptr},
        {"@Pair", 0, pair, nullptr, nullptr, nullptr, "Type 'Pair(u8, 4)' is incompatible with '@ Pair'."},
        {"Pair", 0, u8_type, nullptr, nullptr, nullptr, "Type 'u8' is incompatible with 'Pair'."},
        // Preparing the signature: what is open gives no type, and nothing is reported.
        {"?T", PARSE_TYPE_POLYMORPHIC_SIGNATURE, nullptr, "(none)", nullptr, nullptr, nullptr},
        {"@[] ?T", PARSE_TYPE_POLYMORPHIC_SIGNATURE, nullptr, "(none)", nullptr, nullptr, nullptr},
        {"[]", PARSE_TYPE_POLYMORPHIC_SIGNATURE, nullptr, "(none)", nullptr, nullptr, nullptr},
        {"Pair", PARSE_TYPE_POLYMORPHIC_SIGNATURE, nullptr, "(none)", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Scope* scope = new_parameter_scope();
        Parsed parsed = parse_text(c.text, scope, c.options, c.expected);
        if (c.message) {
            EXPECT_FALSE(parsed.ok);
            EXPECT_EQ(parsed.messages, std::vector<std::string>{c.message});
            continue;
        }
        EXPECT_TRUE(parsed.ok) << (parsed.messages.empty() ? "" : parsed.messages[0]);
        EXPECT_EQ(text(parsed.type), c.result);
        if (c.bound_name) {
            Identifier* bound = get_identifier(scope, (u8*)c.bound_name, strlen(c.bound_name));
            ASSERT_NE(bound, nullptr);
            EXPECT_EQ(text(parse_text(c.bound_name, scope).type), c.bound);
            EXPECT_EQ(bound->constant_value.constant.data, (u64)parse_text(c.bound_name, scope).type);
        }
    }
    // A name binds once in its scope.
    Scope* scope = new_parameter_scope();
    EXPECT_TRUE(parse_text("?T", scope, 0, u8_type).ok);
    Parsed again = parse_text("?T", scope, 0, u8_type);
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.messages, (std::vector<std::string>{"'T' is already declared.\n", "This is the previous declaration."}));
}

static Sub_Program* new_sub_program(const char* name, u64 flags) {
    Sub_Program* sub_program = add_identifier(global_compiler_state.global_scope, (u8*)name, strlen(name),
                                              IDENTIFIER_KIND_CONSTANT, Trace{});
    sub_program->flags |= flags;
    return sub_program;
}

struct Signature_Result {
    bool ok;
    std::vector<std::string> messages;
    Token* stop;
    Token* first;
};

static Signature_Result parse_signature(Sub_Program* sub_program, const char* source) {
    static std::deque<std::string> texts;  // stable: tokens point into them
    texts.emplace_back(source);
    Source_File* file = add_test_source(texts.back(), "signature.8");
    u32 errors = compile_errors.count;
    Signature_Result result;
    result.first = first_token(file);
    Token* end = result.first;  // the ';' that ends the declaration
    while (end->next) end = end->next;
    result.ok = parse_sub_program_signature(global_compiler_state.global_scope, sub_program, result.first, end, &result.stop);
    for (u32 i = errors; i < compile_errors.count; i++) result.messages.push_back((char*)get_compile_error(i)->message);
    return result;
}

TEST(TypeParsing, SignatureDirectivesAndTheirRefusals) {
    ASSERT_TRUE(reset_with_support_types());
    struct Case {
        const char* name;
        u64 flags;
        const char* source;
        u64 flags_set;
        const char* message;
    };
    const Case cases[] = {
        {"directives", IDENTIFIER_CONSTANT, "(a: u8) #no_context #call_location #c_call = {};",
         SUB_PROGRAM_NO_CONTEXT | SUB_PROGRAM_CALL_LOCATION | SUB_PROGRAM_C_CALL, nullptr},
        {"#call_location on a foreign sub-program", IDENTIFIER_CONSTANT | IDENTIFIER_FOREIGN, "(a: u8) #call_location;", 0,
         "You cannot use #call_location on a foreign sub-program."},
        {"#c_call on a polymorphic sub-program", IDENTIFIER_CONSTANT, "(a: ?T) #c_call;", 0,
         "For now polymorphic sub-programs cannot be marked as #c_call."},
        {"a polymorphic sub-program that is not constant", 0, "($a: u8);", 0, "This sub-program cannot be polymorphic."},
        {"not a signature", IDENTIFIER_CONSTANT, "a: u8;", 0,
         "A sub-program declaration looks like the following:\n$sub_program_name: (<parameters>) <return_value> = { <body> "
         "};\n$sub_program_name: (<parameters>) <return_value> = #import;\nsub_program_name: (<parameters>) <return_value>;"},
        {"a return type left over", IDENTIFIER_CONSTANT, "(a: u8) -> u8 [] = {};", 0, "This is unexpected."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sub_Program* sub_program = new_sub_program("f", c.flags);
        Signature_Result result = parse_signature(sub_program, c.source);
        if (c.message) {
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.messages, std::vector<std::string>{c.message});
        } else {
            EXPECT_TRUE(result.ok) << (result.messages.empty() ? "" : result.messages[0]);
            EXPECT_EQ(sub_program->flags & c.flags_set, c.flags_set);
        }
    }

    // A constant sub-program's signature ends at its '=' and gives it its constant.
    Sub_Program* f = new_sub_program("g", IDENTIFIER_CONSTANT);
    Signature_Result result = parse_signature(f, "(a: u8, b: u64) -> s32 = { };");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.stop->value, (u64)OP_ASSIGN);
    EXPECT_EQ(f->type, f);
    EXPECT_EQ(f->leaf_type, f);
    EXPECT_EQ(f->size, 8u);
    EXPECT_EQ(f->member_scope, f->body_scope);
    EXPECT_EQ(f->member_scope->flags, BASIC_SUB_PROGRAM_SCOPE_FLAGS);
    EXPECT_EQ(f->member_scope->owner, f);
    EXPECT_EQ(f->constant_value.constant.mask, CONSTANT_TYPED);
    EXPECT_EQ(f->constant_value.constant.data, (u64)f);
    EXPECT_EQ(std::string((char*)f->constant_value.source.text_start, f->constant_value.source.length), "(a: u8, b: u64) -> s32");
    EXPECT_EQ(text(f), "(u8, u64) -> s32");
    // A polymorphic one keeps its return type's tokens and lays nothing out.
    Sub_Program* p = new_sub_program("h", IDENTIFIER_CONSTANT);
    ASSERT_TRUE(parse_signature(p, "(a: ?T) -> [] T = {};").ok);
    EXPECT_TRUE(p->flags & TYPE_POLYMORPHIC);
    ASSERT_NE(p->return_type_first, nullptr);
    EXPECT_EQ(std::string((char*)p->return_type_first->text, p->return_type_first->length), "[");
    EXPECT_EQ(p->return_type_end->value, (u64)OP_ASSIGN);
    EXPECT_EQ(p->element_type, nullptr);
    EXPECT_EQ(p->call_data_size, 0u);
}

// A return value comes back in a register when it is an address, a number, a boolean, an
// enum or a Type, and the sub-program is neither polymorphic nor foreign.
TEST(TypeParsing, ScalarReturns) {
    ASSERT_TRUE(reset_with_support_types());
    std::string declarations = "$Colour: #enum u8 = { $RED; };";
    ASSERT_TRUE(declare_test_source(declarations));
    struct Case {
        const char* source;
        u64 flags;
        bool scalar;
    };
    const Case cases[] = {
        {"() -> u8;", 0, true},           {"() -> f64;", 0, true},          {"() -> b8;", 0, true},
        {"() -> Colour;", 0, true},       {"() -> Type;", 0, true},         {"() -> @String;", 0, true},
        {"() -> String;", 0, false},      {"() -> [] u8;", 0, false},       {"();", 0, false},
        {"() -> s64;", IDENTIFIER_FOREIGN, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Sub_Program* sub_program = new_sub_program("f", c.flags);
        ASSERT_TRUE(parse_signature(sub_program, c.source).ok);
        EXPECT_EQ((sub_program->flags & SUB_PROGRAM_SCALAR_RETURN) != 0, c.scalar);
    }
}

// Instances are found by name along the scope chain: sibling scopes make an instance each,
// and the two are the same type.
TEST(TypeParsing, InstancesOfSiblingScopesMatch) {
    ASSERT_TRUE(reset_with_support_types());
    std::string declarations = "$Pair: #struct ($T: Type, $N := 8) = { first: T; rest: [N] T; };";
    ASSERT_TRUE(declare_test_source(declarations));
    Scope* first = new_parameter_scope();
    Scope* second = new_parameter_scope();
    Identifier* a = parse_text("Pair(u8, 4)", first).type;
    Identifier* b = parse_text("Pair(u8, 4)", second).type;
    Identifier* c = parse_text("Pair(T = u8, N = 4)", first).type;
    Identifier* d = parse_text("Pair(u8, 5)", first).type;
    ASSERT_TRUE(a && b && c && d);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a->scope, first);
    EXPECT_TRUE(types_perfectly_match(a, b));
    EXPECT_FALSE(types_perfectly_match(a, d));
    EXPECT_EQ(a->polymorphic_origin, find_global("Pair"));
    EXPECT_TRUE(a->flags & IDENTIFIER_DECLARED);
    // The array inside is made once, beside its element type, whichever scope asked.
    EXPECT_EQ(parse_text("[4] u8", second).type, parse_text("[4] u8", first).type);
    EXPECT_EQ(compile_errors.count, 0u);
}

// A global fixed-size array on its first use: its record, its elements in global data of
// their own, and the relocation that points the record's data at them.
TEST(TypeParsing, GlobalFixedSizeArrayGetsItsElements) {
    ASSERT_TRUE(reset_with_support_types());
    u32 registers = global_compiler_state.global_registers.count;
    u32 relocations = global_compiler_state.global_relocations.count;
    std::string declarations = "elements: [5] u32;";
    ASSERT_TRUE(declare_test_source(declarations));
    Identifier* elements = find_global("elements");
    ASSERT_NE(elements, nullptr);
    EXPECT_EQ(text(elements->type), "[5] u32");
    EXPECT_EQ(get_register_size(elements->register_id), 16u);
    ASSERT_EQ(global_compiler_state.global_registers.count, registers + 3);  // the record, the elements, the view
    ASSERT_EQ(global_compiler_state.global_relocations.count, relocations + 1);
    Relocation* relocation = (Relocation*)global_compiler_state.global_relocations.data + relocations;
    EXPECT_EQ(get_register_size(relocation->target), 20u);
    EXPECT_EQ(get_register_offset_in_global_data(relocation->where), get_register_offset_in_global_data(elements->register_id));
    EXPECT_EQ(get_register_offset_in_global_data(relocation->target) % 4, 0u);
}
