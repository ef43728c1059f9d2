#include <gtest/gtest.h>

#include "parser_test_helpers.h"

// A sub-program f whose result (if any) lies at offset 8 of its argument block, and its
// body scope; an inlined body also gets the scope of its call site.
struct Body_Fixture {
    Sub_Program* sub_program;
    Scope* body;
    Scope* call_site;
};

static Body_Fixture make_body(u32 flags, bool with_result) {
    Scope* global = global_compiler_state.global_scope;
    Body_Fixture f = {};
    f.sub_program = add_identifier(global, (u8*)"f", 1, IDENTIFIER_KIND_CONSTANT, Trace{});
    f.sub_program->flags = IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | TYPE_SUB_PROGRAM;
    if (with_result) f.sub_program->element_type = basic_type(BASIC_TYPE_S32);
    f.sub_program->register_id = allocate_a_register_for_call_data(global, f.sub_program, 16);
    f.sub_program->return_value_offset = 8;
    f.body = _add_a_scope(global, flags, Trace{});
    f.body->sub_program = f.sub_program;
    f.sub_program->body_scope = f.body;
    if (flags & SCOPE_INLINED) {
        f.call_site = _add_a_scope(global, 0, Trace{});
        f.call_site->flags |= SCOPE_UNDER_CONSTRUCTION;
        f.body->call_site_scope = f.call_site;
    }
    return f;
}

// The block's content, from the token after its first '{' to that brace's match.
static bool compile_body(Scope* scope, Source_File* file, u8 constant_return_only = 0) {
    Token* opener = first_token(file);
    return make_instructions_in_scope(scope, opener->next, (Token*)opener->value, 0, constant_return_only);
}

static Instruction* get_instruction(Scope* scope, u32 index) {
    Instruction* i = (Instruction*)scope->instructions.first_element;
    while (i && index--) i = i->next;
    return i;
}

TEST(ControlStatements, ReturnFromABody) {
    struct Case {
        const char* name;
        bool with_result;
        const char* body;
        std::vector<u32> kinds;
        const char* error;
        u8 constant_return_only = 0;
    };
    const Case cases[] = {
        {"a value into the result's place", true, "{ return 5; }", {32, 1, 27, 33}, nullptr},
        {"a variable held before the deferred blocks change it", true, "{ y := x; y += x; #defer { y = 2; } return y; }",
         {32, 3, 11, 3, 31, 3, 27, 33}, nullptr},
        {"the value copied after the deferred blocks", true, "{ #defer { debug_break; } return 5; }", {32, 31, 1, 27, 33},
         nullptr},
        {"statements after it are not read", true, "{ return 5; nonsense !; }", {32, 1, 27, 33}, nullptr},
        {"one end without a result", false, "{ return; }", {32, 27, 33}, nullptr},
        {"deferred blocks once on each way out", false, "{ #defer { debug_break; } { return; } }", {32, 31, 31, 27, 33},
         nullptr},
        {"a value without result", false, "{ return 1; }", {32, 33}, "Sub-program f does not return anything."},
        {"no value with a result", true, "{ return; }", {32, 33}, "Sub-program f must return a value of type s32."},
        {"only the body's own last instruction counts", true, "{ if x { return 1; } else { return 2; } }", {32, 23, 33},
         "It appears that you are not returning a value here. Sub-program f must return a value of type s32."},
        {"a variable where only constants may be returned", true, "{ return x; }", {32, 33},
         "You can only return constant values from this sub-program.", 1},
        {"a failed assertion names the sub-program", false, "{ #assert(0, \"too small\"); }", {32, 33},
         "Assertion failed!\nin f\ntoo small"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_with_basic_types());
        static const std::string globals = "x: s32;";
        ASSERT_TRUE(declare_test_source(globals, "globals.8"));
        std::string text = c.body;
        Source_File* file = add_test_source(text);
        Body_Fixture f = make_body(BASIC_SUB_PROGRAM_SCOPE_FLAGS, c.with_result);
        EXPECT_EQ(compile_body(f.body, file, c.constant_return_only), c.error == nullptr);
        EXPECT_EQ(instruction_kinds(f.body), c.kinds);
        if (c.error) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.error});
            continue;
        }
        // A variable's value is held in a register of its own, copied into the result's place
        // after the deferred blocks.
        Instruction* held = get_instruction(f.body, 3);
        if (held && held->kind == INSTRUCTION_COPY) {
            Instruction* result = get_instruction(f.body, 5);
            EXPECT_TRUE(registers_match(held->copy.source.dynamic.register_id, find_in_scope(f.body, "y")->register_id));
            EXPECT_TRUE(registers_match(result->copy.source.dynamic.register_id, held->copy.destination.dynamic.register_id));
            EXPECT_EQ(result->copy.destination.dynamic.register_id.table, REGISTER_CALL_DATA);
        }
        for (Instruction* i = (Instruction*)f.body->instructions.first_element; i; i = i->next) {
            if (i->kind == INSTRUCTION_END) {
                EXPECT_EQ(get_instruction_scope(i)->scope, f.body);
            }
            if (i->kind != INSTRUCTION_COPY_CONSTANT) continue;
            Register_Id slot = i->copy.destination.dynamic.register_id;
            EXPECT_EQ(slot.table, REGISTER_CALL_DATA);
            EXPECT_EQ(get_register_offset_in_call_data(slot), 8u) << "the result's place";
            EXPECT_EQ(get_register_size(slot), 4u);
        }
    }
}

TEST(ControlStatements, ReturnFromAnInlinedBody) {
    struct Case {
        const char* name;
        bool with_result;
        const char* body;
        std::vector<u32> kinds;
        u32 returns;       // the root's count of return jumps
        u32 values;        // and of returned values
        bool root_jumps;   // the root's own return jumps to the end
    };
    const Case cases[] = {
        {"a value in the root", true, "{ return 5; }", {32, 28, 33}, 1, 1, false},
        {"values nested and in the root", true, "{ { return 5; } return 6; }", {32, 31, 28, 33}, 2, 2, false},
        {"no value in the root", false, "{ return; }", {32, 33}, 0, 0, false},
        {"no value nested", false, "{ { return; } }", {32, 31, 33}, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_with_basic_types());
        std::string text = c.body;
        Source_File* file = add_test_source(text);
        Body_Fixture f = make_body(INLINED_SUB_PROGRAM_SCOPE_FLAGS, c.with_result);
        ASSERT_EQ(f.body->inline_root, f.body);
        EXPECT_TRUE(compile_body(f.body, file, 1));
        EXPECT_EQ(instruction_kinds(f.body), c.kinds);
        EXPECT_EQ(f.body->inline_return_count, c.returns);
        EXPECT_EQ(f.body->inlined_return_values.count, c.values);
        for (Inlined_Return_Value* r = (Inlined_Return_Value*)f.body->inlined_return_values.first_element; r; r = r->next) {
            EXPECT_TRUE(r->value.kind & VALUE_INLINE_RETURN);
            EXPECT_TRUE(r->value.kind & VALUE_CONSTANT);
        }
        Instruction* last = get_instruction(f.body, (u32)c.kinds.size() - 2);
        if (last->kind == INSTRUCTION_RETURN_JUMP) {
            EXPECT_EQ(get_instruction_return_jump(last)->no_jump, 1);
            EXPECT_EQ(get_instruction_return_jump(last)->root, f.body);
        }
        Instruction* nested = get_instruction(f.body, 1);
        if (nested->kind == INSTRUCTION_NESTED_SCOPE) {
            Scope* block = get_instruction_scope(nested)->scope;
            Instruction* jump = get_instruction(block, 1);
            ASSERT_EQ(jump->kind, INSTRUCTION_RETURN_JUMP);
            EXPECT_EQ(get_instruction_return_jump(jump)->no_jump, 0);
            EXPECT_EQ(get_instruction_return_jump(jump)->value.kind != 0, c.with_result);
        }
    }
}

TEST(ControlStatements, InlinedDefer) {
    struct Case {
        const char* name;
        const char* body;
        const char* error;
    };
    const Case cases[] = {
        {"in the root: runs where the call site ends", "{ #defer #inline { debug_break; } }", nullptr},
        {"nested", "{ { #defer #inline { } } }",
         "Inlined #defer can only be used in the top-most scope of an inlined sub-program."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_with_basic_types());
        std::string text = c.body;
        Source_File* file = add_test_source(text);
        Body_Fixture f = make_body(INLINED_SUB_PROGRAM_SCOPE_FLAGS, false);
        EXPECT_EQ(compile_body(f.body, file), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.error});
            continue;
        }
        EXPECT_EQ(instruction_kinds(f.body), (std::vector<u32>{32, 33})) << "nothing runs at the body's own end";
        ASSERT_EQ(f.call_site->deferred_blocks.count, 1u);
        Deferred_Block* block = (Deferred_Block*)f.call_site->deferred_blocks.data;
        EXPECT_EQ(block->scope, f.body) << "its names are the inlined body's";
        ASSERT_TRUE(handle_deferred_blocks(f.call_site, 0, 0));
        EXPECT_EQ(instruction_kinds(f.call_site), (std::vector<u32>{31}));
        Scope* replay = get_instruction_scope(get_instruction(f.call_site, 0))->scope;
        EXPECT_EQ(replay->parent, f.body);
        EXPECT_EQ(replay->defer_owner, f.call_site);
        EXPECT_EQ(instruction_kinds(replay), (std::vector<u32>{32, 29, 33}));
        EXPECT_TRUE(handle_deferred_blocks(f.call_site, 0, 0));
        EXPECT_EQ(f.call_site->instructions.count, 1u) << "never twice";
    }
}

TEST(ControlStatements, InsertedCode) {
    struct Case {
        const char* name;
        const char* source;
        const char* error;
    };
    const Case cases[] = {
        {"a break inside leaves the loop around the #insert", "x: s32;\n$C := #code { break; };\n"
                                                              "#on_load { while x { #insert C; nonsense !; } }\n",
         nullptr},
        {"a Code constant inserting itself", "$C := #code { #insert C; };\n#on_load { #insert C; }\n",
         "It looks like #insert is nested more than 64 levels deep. Is a Code constant inserting itself?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory directory;
        std::string path = directory.write("custom.8", c.source);
        EXPECT_EQ(compile_test_file(path), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.error});
            continue;
        }
        Scope* entry = global_compiler_state.on_load_scope;
        Instruction* loop = get_instruction(entry, 1);
        ASSERT_EQ(loop->kind, INSTRUCTION_WHILE);
        Scope* body = get_instruction_while(loop)->loop_scope;
        EXPECT_EQ(instruction_kinds(body), (std::vector<u32>{32, 25, 33}));
        EXPECT_EQ(body->break_count, 1u);
    }
}
