#include <gtest/gtest.h>

#include "parser_test_helpers.h"

// The block's content, from the token after its first '{' to that brace's match.
static bool compile_block(Scope* scope, Source_File* file, u8 continuation = 0) {
    Token* opener = first_token(file);
    return make_instructions_in_scope(scope, opener->next, (Token*)opener->value, continuation, 0);
}

static Identifier* make_type(const char* name, u64 flags) {
    Identifier* type =
        add_identifier(global_compiler_state.global_scope, (u8*)name, strlen(name), IDENTIFIER_KIND_CONSTANT, Trace{});
    type->flags = flags;
    return type;
}

TEST(StatementDriver, FinishingSubProgramBodies) {
    struct Case {
        const char* name;
        u32 flags;
        u64 result_flags;  // of the return type; none without
        const char* body;
        bool compiles;
        std::vector<u32> kinds;
    };
    const u32 INLINED = INLINED_SUB_PROGRAM_SCOPE_FLAGS;
    const Case cases[] = {
        {"no result", BASIC_SUB_PROGRAM_SCOPE_FLAGS, 0, "{ debug_break; }", true, {32, 29, 27, 33}},
        {"void result", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_VOID, "{ }", true, {32, 27, 33}},
        {"one end after an end", BASIC_SUB_PROGRAM_SCOPE_FLAGS, 0, "{ end_here; }", true, {32, 27, 33}},
        {"result and an end", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_SIGNED, "{ end_here; }", true, {32, 27, 33}},
        {"statements of '$' and quoted names", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_SIGNED,
         "{ $end_here; 'end_here; }", true, {32, 27, 27, 33}},
        {"result and no end", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_SIGNED, "{ debug_break; }", false, {32, 29, 33}},
        {"result and an empty body", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_SIGNED, "{ }", false, {32, 33}},
        {"result, end in a nested block", BASIC_SUB_PROGRAM_SCOPE_FLAGS, TYPE_SIGNED, "{ { end_here; } }", false,
         {32, 31, 33}},
        {"inlined, no result", INLINED, 0, "{ debug_break; }", true, {32, 29, 33}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        std::string text = c.body;
        Source_File* file = add_test_source(text);
        Sub_Program* sub_program = (Sub_Program*)make_type("f", TYPE_SUB_PROGRAM);
        if (c.result_flags) sub_program->element_type = make_type("s32", c.result_flags);
        Scope* body = _add_a_scope(global_compiler_state.global_scope, c.flags, Trace{});
        body->sub_program = sub_program;

        EXPECT_EQ(compile_block(body, file), c.compiles);
        EXPECT_EQ(instruction_kinds(body), c.kinds);
        EXPECT_FALSE(body->flags & SCOPE_UNDER_CONSTRUCTION) << "a closed scope is no longer under construction";
        if (!c.compiles) {
            EXPECT_EQ(compile_error_messages(),
                      std::vector<std::string>{"It appears that you are not returning a value here. Sub-program f must "
                                               "return a value of type s32."});
            Token* closing = (Token*)first_token(file)->value;
            EXPECT_EQ(get_compile_error(0)->column, (u32)(closing->text - closing->location.line_start)) << "on the '}'";
        }
    }
}

TEST(StatementDriver, ContinuationAddsToTheScope) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "{ debug_break; { } }";
    Source_File* file = add_test_source(text);
    Scope* block = _add_a_scope(global_compiler_state.global_scope, 0, Trace{});
    block->flags |= SCOPE_UNDER_CONSTRUCTION;  // as its opening call left it
    EXPECT_TRUE(compile_block(block, file, 1));
    EXPECT_EQ(instruction_kinds(block), (std::vector<u32>{29, 31}));
    EXPECT_TRUE(block->flags & SCOPE_UNDER_CONSTRUCTION) << "the opening call closes it";

    // A Code constant's block goes in the same way.
    Identifier* code = make_type("C", 0);
    code->constant_value.constant.data = (u64)first_token(file);
    EXPECT_TRUE(insert_code_from_identifier(block, code, 0));
    EXPECT_EQ(instruction_kinds(block), (std::vector<u32>{29, 31, 29, 31}));
}

TEST(StatementDriver, IterationInstructionsAreCopied) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "{ debug_break; { } }";
    Source_File* file = add_test_source(text);
    Scope* loop = _add_a_scope(global_compiler_state.global_scope, SCOPE_LOOP, Trace{});
    Scope* iteration = _add_a_scope(loop, 0, Trace{});
    iteration->flags |= SCOPE_UNDER_CONSTRUCTION;
    ASSERT_TRUE(compile_block(iteration, file, 1));
    Scope* body = _add_a_scope(loop, 0, Trace{});
    ASSERT_TRUE(append_scope_instruction(body, INSTRUCTION_DEBUG_BREAK, 0, Trace{}));
    EXPECT_TRUE(insert_for_loop_iteration_instructions(body, iteration));
    EXPECT_EQ(instruction_kinds(body), (std::vector<u32>{29, 29, 31}));
    Instruction* copied = ((Instruction*)body->instructions.last_element);
    Instruction* original = ((Instruction*)iteration->instructions.last_element);
    EXPECT_EQ(memcmp(copied->operands, original->operands,
                     get_instruction_size(original->kind) - offsetof(Instruction, operands)), 0);
    EXPECT_EQ(copied->next, nullptr);

    EXPECT_EQ(get_first_loop_scope_from(body), loop);
    EXPECT_EQ(get_first_loop_scope_from(loop), loop);
    EXPECT_EQ(get_first_loop_scope_from(global_compiler_state.global_scope), nullptr);
}

TEST(StatementDriver, BlockEnds) {
    struct Case {
        const char* name;
        const char* text;     // the opener is the first '{' or ':'
        int end_at;           // index of the end token; -1 for none
        int closing;          // index of the closing token; -1 for none, reported
    };
    const Case cases[] = {
        {"brace", "{ a; { } }", -1, 5},
        {"colon to its ';'", ": a b;", -1, 3},
        {"colon whose ';' is the end", ": a;", 2, 2},
        {"colon past its group", "{ : a } ;", -1, -1},
        {"colon past the end", ": a b;", 2, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        std::string text = c.text;
        Source_File* file = add_test_source(text);
        Token* opener = first_token(file);
        if (strchr(c.text, ':')) {
            while (!(opener->kind & TOKEN_COLON)) opener = opener->next;
        }
        Token* end = c.end_at < 0 ? nullptr : token_at(file, c.end_at);
        Token* closing = get_block_end(opener, end);
        EXPECT_EQ(closing, c.closing < 0 ? nullptr : token_at(file, c.closing));
        if (c.closing < 0) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"There is no corresponding ';' for this ':'."});
        }
    }
}
