#include <gtest/gtest.h>

#include "compiler_test_helpers.h"
#include "stand_ins.h"

static Identifier* add_named(Scope* scope, const char* name, Identifier_Kind kind) {
    return add_identifier(scope, (u8*)name, strlen(name), kind, Trace{});
}

static Identifier* find(Scope* scope, const char* name) { return get_identifier(scope, (u8*)name, strlen(name)); }

TEST(Scopes, InheritedFlags) {
    struct Case {
        const char* name;
        u32 parent_flags;
        u32 flags;
        u32 expected_flags;
        bool same_sub_program;  // the enclosing sub-program and its context word come along
        bool same_inline_call;  // the inline root, call site and call trace come along
    };
    const Case cases[] = {
        {"block in a sub-program", BASIC_SUB_PROGRAM_SCOPE_FLAGS, 0, SCOPE_IN_SUB_PROGRAM, true, false},
        {"loop in an inlined body", INLINED_SUB_PROGRAM_SCOPE_FLAGS, SCOPE_LOOP,
         SCOPE_LOOP | SCOPE_IN_SUB_PROGRAM | SCOPE_INLINED, true, true},
        {"sub-program body under an inlined body", INLINED_SUB_PROGRAM_SCOPE_FLAGS, SCOPE_SUB_PROGRAM_BODY,
         SCOPE_SUB_PROGRAM_BODY, false, false},
        {"entry block under a sub-program", BASIC_SUB_PROGRAM_SCOPE_FLAGS, ENTRY_BLOCK_SCOPE_FLAGS,
         ENTRY_BLOCK_SCOPE_FLAGS, false, false},
        {"switch case is always inherited", SCOPE_SWITCH_CASE | SCOPE_IN_SUB_PROGRAM, SCOPE_SUB_PROGRAM_BODY,
         SCOPE_SUB_PROGRAM_BODY | SCOPE_SWITCH_CASE, false, false},
        {"inlined body inside an inlined body", INLINED_SUB_PROGRAM_SCOPE_FLAGS, SCOPE_INLINED,
         SCOPE_INLINED | SCOPE_IN_SUB_PROGRAM, true, false},
        {"block at global scope", 0, SCOPE_DEFER, SCOPE_DEFER, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        Scope* global = global_compiler_state.global_scope;
        Scope* parent = _add_a_scope(global, c.parent_flags, Trace{});
        parent->sub_program = (Sub_Program*)add_named(global, "f", IDENTIFIER_KIND_CONSTANT);
        parent->sub_program_context = parent;
        parent->call_site_scope = global;
        parent->inline_call_trace.line = 42;
        Scope* scope = _add_a_scope(parent, c.flags, Trace{0, 7, 0, 0, 0});

        EXPECT_EQ(scope->flags, c.expected_flags);
        EXPECT_EQ(scope->parent, parent);
        EXPECT_EQ(scope->line, 7u);
        EXPECT_EQ(scope->sub_program == parent->sub_program && scope->sub_program_context == parent, c.same_sub_program);
        EXPECT_EQ(scope->inline_root == parent->inline_root && scope->call_site_scope == global &&
                      scope->inline_call_trace.line == 42,
                  c.same_inline_call);
        if (c.flags & SCOPE_INLINED) {
            EXPECT_EQ(scope->inline_root, scope);
        }
        EXPECT_EQ(global_compiler_state.all_scopes.last_element, scope);
    }
}

// A global, a sub-program with a parameter, a variable and a constant, a block inside it
// and a nested sub-program body inside that block.
struct Scope_Chain {
    Scope* global;
    Scope* body;
    Scope* block;
    Scope* nested_body;
};

static Scope_Chain make_scope_chain(u32 padding) {
    Scope_Chain chain;
    chain.global = global_compiler_state.global_scope;
    chain.body = _add_a_scope(chain.global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    chain.block = _add_a_scope(chain.body, 0, Trace{});
    chain.nested_body = _add_a_scope(chain.block, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    static char names[64][16];
    // Padding names make every list long enough to be found through the index.
    for (u32 i = 0; i < padding; i++) {
        snprintf(names[i], sizeof(names[i]), "p%u", i);
        for (Scope* scope : {chain.global, chain.body}) {
            add_named(scope, names[i], IDENTIFIER_KIND_VARIABLE);
            add_named(scope, names[i], IDENTIFIER_KIND_CONSTANT);
            add_named(scope, names[i], IDENTIFIER_KIND_PARAMETER);
        }
    }
    add_named(chain.global, "global_variable", IDENTIFIER_KIND_VARIABLE);
    add_named(chain.body, "parameter", IDENTIFIER_KIND_PARAMETER);
    add_named(chain.body, "local", IDENTIFIER_KIND_VARIABLE);
    add_named(chain.body, "constant", IDENTIFIER_KIND_CONSTANT);
    // One name in three lists: the variable wins, then the constant.
    add_named(chain.body, "both", IDENTIFIER_KIND_PARAMETER);
    add_named(chain.body, "both", IDENTIFIER_KIND_CONSTANT);
    add_named(chain.body, "both", IDENTIFIER_KIND_VARIABLE);
    add_named(chain.body, "twice", IDENTIFIER_KIND_CONSTANT)->size = 1;
    add_named(chain.body, "twice", IDENTIFIER_KIND_CONSTANT)->size = 2;
    return chain;
}

TEST(Scopes, LookupOrderAndTheSubProgramBoundary) {
    for (u32 padding : {0u, 20u}) {
        SCOPED_TRACE(padding ? "through the index" : "by walking the lists");
        ASSERT_TRUE(reset_compiler());
        Scope_Chain chain = make_scope_chain(padding);

        struct Case { const char* name; Scope* from; Scope* owner; Bucket_Array Scope::* list; };
        const Case cases[] = {
            {"local", chain.block, chain.body, &Scope::variables},
            {"local", chain.nested_body, nullptr, nullptr},  // an outer sub-program's variable
            {"global_variable", chain.nested_body, chain.global, &Scope::variables},
            {"parameter", chain.nested_body, chain.body, &Scope::parameters},
            {"constant", chain.nested_body, chain.body, &Scope::constants},
            {"both", chain.block, chain.body, &Scope::variables},
            {"both", chain.nested_body, chain.body, &Scope::constants},
            {"missing", chain.block, nullptr, nullptr},
            {"", chain.block, nullptr, nullptr},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (c.from == chain.nested_body ? " from the nested body" : ""));
            Identifier* found = find(c.from, c.name);
            if (!c.owner) {
                EXPECT_EQ(found, nullptr);
                continue;
            }
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->scope, c.owner);
            bool in_list = false;
            for (Identifier* i = (Identifier*)(c.owner->*c.list).first_element; i; i = i->next) in_list |= i == found;
            EXPECT_TRUE(in_list);
        }
        EXPECT_EQ(find(chain.block, "twice")->size, 1u);  // the first of a list wins
    }
}

TEST(Scopes, UseCountsRiseOnlyForVariables) {
    ASSERT_TRUE(reset_compiler());
    Scope_Chain chain = make_scope_chain(0);
    for (int i = 0; i < 3; i++) {
        find(chain.block, "local");
        find(chain.block, "constant");
    }
    EXPECT_EQ(find(chain.body, "constant")->use_count, 0u);
    EXPECT_EQ(find(chain.body, "local")->use_count, 4u);  // three, and this fourth look
}

TEST(Scopes, DuplicatesAreRefusedAlongTheChain) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "x\n  x x";
    Source_File* file = add_test_source(text);
    Scope* global = global_compiler_state.global_scope;
    Scope* block = _add_a_scope(global, 0, Trace{});
    Identifier* first = add_identifier_with_error(global, token_at(file, 0), IDENTIFIER_KIND_VARIABLE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->register_id.index, INVALID_REGISTER_ID.index);

    EXPECT_EQ(add_identifier_with_error(block, token_at(file, 1), IDENTIFIER_KIND_CONSTANT), nullptr);
    EXPECT_EQ(add_identifier_with_error2(block, STR("x"), IDENTIFIER_KIND_VARIABLE, make_trace_from_token(token_at(file, 2))),
              nullptr);
    EXPECT_EQ(compile_error_messages(),
              (std::vector<std::string>{"'x' is already declared.\n", "This is the previous declaration.",
                                        "'x' is already declared.\n", "This is the previous declaration."}));
    EXPECT_EQ(get_compile_error(0)->line, 2u);
    EXPECT_EQ(get_compile_error(0)->column, 2u);
    EXPECT_EQ(get_compile_error(1)->line, 1u);
    EXPECT_EQ(get_compile_error(2)->column, 4u);
    EXPECT_EQ(block->constants.count + block->variables.count, 0u);

    // Without the check the name is added again, and the first one is still found.
    Identifier* again = get_or_add_identifier(block, token_at(file, 1), IDENTIFIER_KIND_VARIABLE);
    EXPECT_EQ(again, first);
    EXPECT_NE(add_identifier(block, (u8*)"x", 1, IDENTIFIER_KIND_VARIABLE, Trace{}), nullptr);
    EXPECT_EQ(compile_errors.count, 4u);
}

TEST(Scopes, OuterAccessAndUnknownNames) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "v w";
    Source_File* file = add_test_source(text);
    Scope* global = global_compiler_state.global_scope;
    Scope* caller = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    add_named(caller, "v", IDENTIFIER_KIND_VARIABLE);
    Scope* inlined = _add_a_scope(global, INLINED_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    inlined->call_site_scope = caller;
    Scope* inside = _add_a_scope(inlined, 0, Trace{});
    Token* v = token_at(file, 0);

    EXPECT_EQ(get_identifier_with_error(inside, v, 1), find(caller, "v"));
    EXPECT_EQ(compile_errors.count, 0u);
    EXPECT_EQ(get_identifier_with_error(caller, v, 1), nullptr);
    EXPECT_EQ(get_identifier_with_error(inside, token_at(file, 1), 0), nullptr);
    EXPECT_EQ(compile_error_messages(),
              (std::vector<std::string>{"You can only explicitly access outer scope identifiers within inlined sub-programs.",
                                        "'w' was not previously declared."}));
}

//~ First use of preparsed globals

struct Pending_Fixture {
    std::string text;
    Source_File* file;
    Scope* global;
};

static Pending_Fixture make_pending_fixture() {
    Pending_Fixture f;
    // Tokens: 0 f  1 g  2 C  3 v  4 u8  5 =  6 1  7 ;  8 s  9 #struct 10 =  11 {  12 }  13 ;
    // 14 (  15 )  16 =  17 {  18 }  19 ;  20 (  21 )  22 =  23 1  24 ;
    // 25 (  26 )  27 =  28 {  29 g  30 (  31 )  32 ;  33 }  34 ;
    f.text = "f g C v u8 = 1 ; s #struct = { } ; ( ) = { } ; ( ) = 1 ; ( ) = { g ( ) ; } ;";
    EXPECT_TRUE(reset_with_basic_types());
    f.file = add_test_source(f.text);
    f.global = global_compiler_state.global_scope;
    return f;
}

static Identifier* add_pending(Pending_Fixture& f, u32 name, Declaration_Kind kind, u64 flags, s32 type_first,
                               s32 type_end, s32 value_first, s32 value_end) {
    Token* token = token_at(f.file, name);
    Identifier* identifier = add_identifier(f.global, token->text, token->length,
                                            flags & IDENTIFIER_CONSTANT ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE,
                                            token->location);
    identifier->flags = flags | IDENTIFIER_PENDING;
    identifier->declaration_kind = kind;
    auto at = [&](s32 i) { return i < 0 ? nullptr : token_at(f.file, (u32)i); };
    identifier->pending_type_first = at(type_first);
    identifier->pending_type_end = at(type_end);
    identifier->pending_value_first = at(value_first);
    identifier->pending_value_end = at(value_end);
    return identifier;
}

TEST(Scopes, FirstUseParsesOnce) {
    Pending_Fixture f = make_pending_fixture();
    Identifier* sub_program = add_pending(f, 0, DECLARATION_SUB_PROGRAM, IDENTIFIER_CONSTANT, 14, 16, 16, 19);
    Token* name = token_at(f.file, 0);
    EXPECT_EQ(get_identifier_with_error(f.global, name, 0), sub_program);
    u32 scopes = global_compiler_state.all_scopes.count;
    EXPECT_EQ(get_identifier_with_error(f.global, name, 0), sub_program);
    EXPECT_EQ(global_compiler_state.all_scopes.count, scopes) << "parsed once";
    EXPECT_EQ(std::string((char*)sub_program->signature_text.data, sub_program->signature_text.count), "()");
    EXPECT_EQ(sub_program->flags & (IDENTIFIER_PENDING | IDENTIFIER_BEING_PARSED), 0u);
    EXPECT_EQ(compile_errors.count, 0u);
    // Plain lookups never parse.
    Identifier* struct_type = add_pending(f, 8, DECLARATION_STRUCT, IDENTIFIER_CONSTANT, 9, 10, 10, 13);
    EXPECT_EQ(find(f.global, "s"), struct_type);
    EXPECT_FALSE(struct_type->flags & TYPE_STRUCT);
    EXPECT_EQ(get_identifier_with_error(f.global, token_at(f.file, 8), 0), struct_type);
    EXPECT_EQ(struct_type->flags & (TYPE_STRUCT | IDENTIFIER_DECLARED), TYPE_STRUCT | IDENTIFIER_DECLARED);
    EXPECT_EQ(compile_errors.count, 0u);
}

TEST(Scopes, FailedFirstUseIsReportedOnceAndNeverHandedOut) {
    Pending_Fixture f = make_pending_fixture();
    add_pending(f, 0, DECLARATION_SUB_PROGRAM, IDENTIFIER_CONSTANT, 20, 22, 22, 24);
    Token* name = token_at(f.file, 0);
    EXPECT_EQ(get_identifier_with_error(f.global, name, 0), nullptr);
    EXPECT_EQ(get_identifier_with_error(f.global, name, 0), nullptr);
    EXPECT_EQ(compile_error_messages(),
              (std::vector<std::string>{"Expected an '#import' directive or a block of code but got '1' instead."}));

    // A constant without a value is reported where it is first used, once.
    Identifier* constant = add_pending(f, 2, DECLARATION_VARIABLE, IDENTIFIER_CONSTANT, 4, 5, -1, -1);
    Token* c = token_at(f.file, 2);
    EXPECT_EQ(get_identifier_with_error(f.global, c, 0), nullptr);
    EXPECT_EQ(get_identifier_with_error(f.global, c, 0), nullptr);
    EXPECT_EQ(compile_errors.count, 2u);
    EXPECT_STREQ((char*)get_compile_error(1)->message, "Constants must be initialised with an explicit value.");
    EXPECT_EQ(get_compile_error(1)->column, 4u);
    EXPECT_EQ(constant->type, find(f.global, "u8"));
}

TEST(Scopes, SelfReferenceSeesTheBareIdentifier) {
    Pending_Fixture f = make_pending_fixture();
    // "g: () = { g(); }": the call inside the body finds g while g is being parsed.
    Identifier* sub_program = add_pending(f, 1, DECLARATION_SUB_PROGRAM, IDENTIFIER_CONSTANT, 25, 27, 27, 34);
    EXPECT_EQ(get_identifier_with_error(f.global, token_at(f.file, 1), 0), sub_program);
    EXPECT_EQ(compile_errors.count, 0u);
    Instruction* call = 0;
    for (Instruction* i = (Instruction*)sub_program->body_scope->instructions.first_element; i; i = i->next) {
        if (i->kind == INSTRUCTION_CALL) call = i;
    }
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(*(Sub_Program**)(call->operands + sizeof(Scope*)), sub_program) << "the callee";
}

TEST(Scopes, PendingVariablesGetTheirTypeAndPlace) {
    Pending_Fixture f = make_pending_fixture();
    Identifier* typed = add_pending(f, 3, DECLARATION_VARIABLE, 0, 4, 5, -1, -1);
    u32 registers = global_compiler_state.global_registers.count;
    u32 scopes = global_compiler_state.all_scopes.count;
    EXPECT_EQ(get_identifier_with_error(f.global, token_at(f.file, 3), 0), typed);
    EXPECT_EQ(typed->type, find(f.global, "u8"));
    EXPECT_EQ(typed->register_id.index, registers);
    EXPECT_TRUE(typed->flags & IDENTIFIER_DECLARED);
    EXPECT_EQ(global_compiler_state.all_scopes.count, scopes) << "no declaration with a body was parsed";

    // With value tokens the parser's declaration with assignment takes over: "= 1".
    Identifier* valued = add_pending(f, 2, DECLARATION_VARIABLE, IDENTIFIER_CONSTANT, -1, -1, 5, 7);
    EXPECT_EQ(get_identifier_with_error(f.global, token_at(f.file, 2), 0), valued);
    EXPECT_TRUE(valued->flags & IDENTIFIER_DECLARED);
    EXPECT_EQ(valued->type, find(f.global, "u64"));
    EXPECT_EQ(valued->constant_value.constant.data, 1u);
    EXPECT_EQ(compile_errors.count, 0u);
}
