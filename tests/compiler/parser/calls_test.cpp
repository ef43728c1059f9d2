// Calls beyond what the case files show: the caps on recursive expansion on a thread with an
// ordinary 8 MiB stack, the cap on the number of inline expansions, a result asked of a
// sub-program without one, and the choice among same-named sub-programs.
#include <gtest/gtest.h>
#include <pthread.h>

#include "compiler/core/intermediate_operands.h"
#include "parser_test_helpers.h"

// The first token of the user's file (the prelude is file 0) with this text, from the nth on.
static Token* find_token(const char* text, u32 nth = 0) {
    Source_File* file = get_source_file(1);
    for (Token* token = file ? (Token*)file->tokens.first_element : 0; token; token = token->next) {
        if (token->length == strlen(text) && memcmp(token->text, text, token->length) == 0 && nth-- == 0) return token;
    }
    return 0;
}

static Instruction* last_call(Scope* scope) {
    Instruction* call = 0;
    for (Instruction* i = (Instruction*)scope->instructions.first_element; i; i = i->next) {
        if (i->kind == INSTRUCTION_CALL) call = i;
    }
    return call;
}

//~ Caps

struct Recursion_Case {
    const char* source;
    const char* message;
    std::vector<std::string> messages;
};

static void* compile_recursions(void* argument) {
    tmp_claim_slot();
    auto* cases = (std::vector<Recursion_Case>*)argument;
    for (Recursion_Case& c : *cases) {
        Scratch_Directory dir;
        compile_test_file(dir.write("custom.8", c.source));
        c.messages = compile_error_messages();
        free_compiler_state();
    }
    return 0;
}

TEST(Calls, RecursiveExpansionEndsInOneReport) {
    std::vector<Recursion_Case> cases = {
        {"$f: () = #inline { f(); };\n#on_load { f(); }\n", "Inline expansion of 'f' goes more than 64 levels deep."},
        {"$f: () = #inline { f(); f(); };\n#on_load { f(); }\n", "Inline expansion of 'f' goes more than 64 levels deep."},
        {"$f: ($N: u32) = { f(N + 1); };\n#on_load { f(0); }\n", "Instances of 'f' nest more than 64 levels deep."},
        {"$f: ($N: u32) = #inline { f(N + 1); };\n#on_load { f(0); }\n", "Inline expansion of 'f' goes more than 64 levels deep."},
        // Evaluated while compiling, a recursion that ends only past the cap.
        {"$f: (n: s64) -> s64 = #inline { #if n <= 0 { return 0; } return 1 + f(n - 1); };\n"
         "#on_load { d := #constant f(100); }\n",
         "Inline expansion of 'f' goes more than 64 levels deep."},
    };
    // The editor compiles on a thread with an ordinary stack: the caps must hold well inside it.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 8u << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, compile_recursions, &cases), 0);
    pthread_join(thread, 0);
    pthread_attr_destroy(&attributes);
    for (Recursion_Case& c : cases) {
        EXPECT_EQ(c.messages, std::vector<std::string>{c.message}) << c.source;
    }
}

TEST(Calls, ExpansionsAndInstancesAreCountedPerCompile) {
    Scratch_Directory dir;
    // g is parsed on its first use, after the compile: its three expansions meet the cap.
    std::string path = dir.write("custom.8", "$f: () = #inline { };\n$g: () = { f(); f(); f(); };\n#on_load { f(); }\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(call_limits.inline_count, 1u);
    call_limits.inline_count = INLINE_EXPANSION_COUNT_LIMIT - 2;
    EXPECT_EQ(get_identifier_with_error(global_compiler_state.global_scope, find_token("g"), 0), nullptr);
    EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"This layer expands more than 100,000 inline calls."});
    EXPECT_EQ(get_compile_error(0)->line, 2u);
    free_compiler_state();

    // The next compile counts from 0 again.
    ASSERT_TRUE(compile_test_file(path));
    EXPECT_EQ(call_limits.inline_count, 1u);
    free_compiler_state();

    // Instances likewise: a call of one already made makes none.
    path = dir.write("custom.8", "$f: ($N: u32) = { };\n$g: () = { f(1); f(2); f(1); f(3); };\n#on_load { f(1); }\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(call_limits.instance_count, 1u);
    call_limits.instance_count = POLYMORPHIC_INSTANCE_COUNT_LIMIT - 1;
    EXPECT_EQ(get_identifier_with_error(global_compiler_state.global_scope, find_token("g"), 0), nullptr);
    EXPECT_EQ(compile_error_messages(),
              std::vector<std::string>{"This layer makes more than 10,000 instances of polymorphic sub-programs."});
    EXPECT_EQ(get_compile_error(0)->column, 30u) << "the bracket of f(3)";
    free_compiler_state();
}

//~ Results

TEST(Calls, AResultIsAskedOnlyOfSubProgramsThatGiveOne) {
    Scratch_Directory dir;
    std::string path = dir.write("custom.8", "$f: (a: u32) = { };\n$g: (a: u32) -> s64 = { return 1; };\n"
                                             "$h: (a: u32) -> f32 = { return 1.0; };\n$p: ($N: u32) = { };\n"
                                             "#on_load { }\n$calls := #code { f(1) g(1) h(1) p(1) };\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    Scope* scope = global_compiler_state.on_load_scope;
    struct Case {
        const char* name;
        u32 call;           // the nth call after #code
        b8 succeeds;
        u8 hints;           // of a scalar result's register
    };
    const Case cases[] = {{"f", 0, false, 0}, {"g", 1, true, HINT_INTEGER}, {"h", 2, true, HINT_FLOAT}, {"p", 3, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        compile_errors.count = 0;
        Value callee, result;
        make_value_from_identifier(&callee, get_identifier_with_error(scope, find_token(c.name, 1), 0), make_trace_from_token(find_token(c.name, 1)));
        EXPECT_EQ(parse_call(scope, find_token("(", 4 + c.call), &result, 1, 0, callee), c.succeeds);
        if (!c.succeeds) {
            EXPECT_EQ(result.kind, 0);
            ASSERT_EQ(compile_errors.count, 1u);
            EXPECT_TRUE(strstr((char*)get_compile_error(0)->message, "This call is expected to return a value but it does not."));
            continue;
        }
        EXPECT_EQ(result.kind & (VALUE_REGISTER | VALUE_FRESH), VALUE_REGISTER | VALUE_FRESH);
        EXPECT_EQ(get_register(result.dynamic.register_id)->hints & (HINT_INTEGER | HINT_FLOAT), c.hints);
        Instruction_Call* call = get_instruction_call(last_call(scope));
        EXPECT_EQ(call->flags & (CALL_EXPECTS_A_VALUE | CALL_SCALAR_RETURN), CALL_EXPECTS_A_VALUE | CALL_SCALAR_RETURN);
        EXPECT_TRUE(registers_match(call->result, result.dynamic.register_id));
    }
    free_compiler_state();
}

//~ Overloads

struct Overload_Fixture {
    std::string path;     // the compile's file names it until the state is freed
    Scope* scope;
    Sub_Program* one;     // (x: u32)
    Sub_Program* text;    // (x: String)
    Sub_Program* two;     // (x: u32, y: u32 = 2)
    Sub_Program* pair;    // (x: u32, y: u32)
};

static Sub_Program* parse_named(const char* name, const char* new_name) {
    Sub_Program* sub_program = get_identifier_with_error(global_compiler_state.global_scope, find_token(name), 0);
    if (sub_program && new_name) sub_program->name = string_from_c(new_name);
    return sub_program;
}

static bool make_overload_fixture(Scratch_Directory& dir, Overload_Fixture* f) {
    f->path = dir.write("custom.8", "$a: (x: u32) = { };\n$b: (x: String) = { };\n$c: (x: u32, y: u32 = 2) = { };\n"
                                             "$d: (x: u32, y: u32) = { };\n#on_load { }\n"
                                             "$calls := #code { f(1) f(\"a text of some length\") f(y = 1) g(1) f(1, 2, 3) };\n");
    if (!compile_test_file(f->path)) return false;
    f->scope = global_compiler_state.on_load_scope;
    // Both of the first pair are called f; the other two keep their names until a test renames them.
    f->one = parse_named("a", "f");
    f->text = parse_named("b", "f");
    f->two = parse_named("c", 0);
    f->pair = parse_named("d", 0);
    return f->one && f->text && f->two && f->pair && compile_errors.count == 0;
}

static Token* nth_call(u32 n) { return find_token("(", 4 + n); }

TEST(Calls, OverloadsAreChosenByTheArgumentsTheyTake) {
    Scratch_Directory dir;
    Overload_Fixture f;
    ASSERT_TRUE(make_overload_fixture(dir, &f)) << testing::PrintToString(compile_error_messages());
    Value result;

    // A number fits the u32 candidate alone, a long text the String one alone: each is called.
    EXPECT_TRUE(parse_call_for_constant_sub_program(f.scope, (u8*)"f", 1, nth_call(0), 0, &result));
    EXPECT_EQ(get_instruction_call(last_call(f.scope))->callee, f.one);
    EXPECT_TRUE(parse_call_for_constant_sub_program(f.scope, (u8*)"f", 1, nth_call(1), 0, &result));
    EXPECT_EQ(get_instruction_call(last_call(f.scope))->callee, f.text);
    EXPECT_TRUE(f.one->flags & IDENTIFIER_IN_SUB_PROGRAM_LIST);
    EXPECT_EQ(compile_errors.count, 0u);

    struct Refusal {
        const char* name;
        u32 call;
        std::vector<std::string> messages;
    };
    const Refusal refusals[] = {
        {"f", 2, {"No overload was found to match this call."}},
        {"g", 3, {"There does not seem to be any sub-program named 'g' that is accessible from this scope."}},
        {"f", 4, {"No overload was found to match this call."}},
    };
    for (const Refusal& r : refusals) {
        compile_errors.count = 0;
        EXPECT_FALSE(parse_call_for_constant_sub_program(f.scope, (u8*)r.name, strlen(r.name), nth_call(r.call), 0, &result));
        EXPECT_EQ(compile_error_messages(), r.messages) << r.call;
        EXPECT_EQ(result.kind, 0);
    }

    // A default makes the two-parameter candidate take one argument too: two matches.
    compile_errors.count = 0;
    f.two->name = STR("f");
    EXPECT_FALSE(parse_call_for_constant_sub_program(f.scope, (u8*)"f", 1, nth_call(0), 0, &result));
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"There is more than one overload that matches this call.",
                                                                  "This is one of them.", "This is another one."}));
    EXPECT_EQ(get_compile_error(1)->line, 1u);
    EXPECT_EQ(get_compile_error(2)->line, 3u);
    free_compiler_state();
}

TEST(Calls, OverloadMatchesAreTestedWithoutReportsOrInstructions) {
    Scratch_Directory dir;
    Overload_Fixture f;
    ASSERT_TRUE(make_overload_fixture(dir, &f)) << testing::PrintToString(compile_error_messages());
    Value number, text, variable;
    make_constant_value_from_token(&number, find_token("1", 0), 0);
    make_constant_value_from_token(&text, nth_call(1)->next, 0);
    ASSERT_TRUE(make_dynamic_value(&variable, f.scope, global_compiler_state.basic_types[BASIC_TYPE_S64], number.source)->kind);
    auto argument = [](const char* name, Value value) {
        Overload_Argument a = {};
        a.name = string_from_c(name);
        a.value = value;
        return a;
    };
    struct Case {
        const char* what;
        Sub_Program* candidate;
        std::vector<Overload_Argument> arguments;
        u8 constant;
        bool fits;
    };
    const Case cases[] = {
        {"a number for u32", f.one, {argument("", number)}, 0, true},
        {"a long text for u32", f.one, {argument("", text)}, 0, false},
        {"a text for String", f.text, {argument("", text)}, 0, true},
        {"an s64 variable for u32", f.one, {argument("", variable)}, 0, false},
        {"a variable where constants are asked", f.two, {argument("", variable)}, 1, false},
        {"more arguments than parameters", f.one, {argument("", number), argument("", number)}, 0, false},
        {"a default fills the rest", f.two, {argument("", number)}, 0, true},
        {"no default for the rest", f.pair, {argument("", number)}, 0, false},
        {"by name", f.pair, {argument("y", number), argument("", number)}, 0, true},
        {"an unknown name", f.pair, {argument("z", number), argument("", number)}, 0, false},
        {"a name given twice", f.pair, {argument("y", number), argument("y", number)}, 0, false},
    };
    u32 instructions = f.scope->instructions.count;
    for (const Case& c : cases) {
        std::vector<Overload_Argument> arguments = c.arguments;
        b8 named = false;
        for (Overload_Argument& a : arguments) named |= a.name.count != 0;
        EXPECT_EQ(check_for_overload_match(f.scope, c.candidate, c.constant, named, arguments.data(), (u32)arguments.size()),
                  c.fits)
            << c.what;
    }
    EXPECT_EQ(f.scope->instructions.count, instructions);
    EXPECT_EQ(compile_errors.count, 0u);
    free_compiler_state();
}

//~ Arguments

// A value whose register holds its address (a member reached through a pointer) is read
// through it before it is copied into an argument block or a #copy parameter's register.
TEST(Calls, ArgumentsReadThroughAnAddressAreLoaded) {
    Scratch_Directory dir;
    std::string path = dir.write("custom.8", "$take: (a: u8) = { };\n$keep: (#copy a: u8) = #inline { a += 1; };\n"
                                             "#on_load { p: @ u8; }\n$calls := #code { take(1) keep(1) };\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    Scope* scope = global_compiler_state.on_load_scope;
    Identifier* p = find_in_scope(scope, "p");
    ASSERT_NE(p, nullptr);
    Value through;
    make_dynamic_value_from_register(&through, p->register_id, p->type, p->declaration);
    through.kind |= VALUE_INDIRECT;
    const char* names[] = {"take", "keep"};
    const std::vector<u32> expected[] = {{INSTRUCTION_LOAD, INSTRUCTION_CALL}, {INSTRUCTION_LOAD, INSTRUCTION_NESTED_SCOPE}};
    for (u32 i = 0; i < 2; i++) {
        SCOPED_TRACE(names[i]);
        Sub_Program* callee = get_identifier_with_error(scope, find_token(names[i]), 0);
        ASSERT_NE(callee, nullptr);
        u32 before = scope->instructions.count;
        Value argument = through, result;
        ASSERT_TRUE(issue_a_sub_program_call(scope, callee, &argument, find_token("(", 2 + i), &result, 0, 0, 0,
                                             INVALID_REGISTER_ID));
        std::vector<u32> kinds = instruction_kinds(scope);
        EXPECT_EQ(std::vector<u32>(kinds.begin() + before, kinds.end()), expected[i]);
    }
    EXPECT_EQ(compile_errors.count, 0u);
    free_compiler_state();
}

//~ Instance keys

// A constant parameter's value is part of the key whole: a text longer than a bucket of the
// static strings makes a key with room of its own, and a text that differs only at its end
// makes another instance.
TEST(Calls, LongConstantsMakeWholeKeys) {
    Scratch_Directory dir;
    std::string text(STATIC_STRINGS_BUCKET_SIZE + 1000, 'q');
    std::string path = dir.write("custom.8", "$f: ($S: String) = { };\n#on_load { f(\"" + text + "\"); f(\"" + text +
                                                 "\"); f(\"" + text.substr(1) + "r\"); }\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    Dynamic_Array* list = &global_compiler_state.sub_programs;
    ASSERT_EQ(list->count, 2u);
    Sub_Program* first = ((Sub_Program**)list->data)[0];
    Sub_Program* second = ((Sub_Program**)list->data)[1];
    std::string key((char*)first->name.data, first->name.count);
    EXPECT_EQ(key, "f(String \"" + text + "\")");
    EXPECT_EQ(std::string((char*)second->name.data, second->name.count), "f(String \"" + text.substr(1) + "r\")");
    free_compiler_state();
}
