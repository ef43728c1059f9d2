// Linking: the order of the program's bodies and its entry offsets, jump threading, and
// the distances calls and address copies are patched with.
#include <gtest/gtest.h>

#include "bytecode_checks.h"
#include "bytecode_test_builder.h"

static const std::string LINKING_SOURCE = "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\n";

// Records given as (kind, target index or -1 for none).
struct Test_Record {
    u8 kind;
    s32 target;
    u32 line;
};

static void lay_out(const std::vector<Test_Record>& records) {
    for (const Test_Record& r : records) {
        Bytecode_Instruction* i = insert_bytecode(&global_compiler_state.bytecode, r.kind, line_trace(r.line ? r.line : 1));
        if (r.target >= 0) i->jump.target = (u64)r.target * BYTECODE_INSTRUCTION_SIZE;
    }
}

TEST(JumpThreading, Table) {
    const u8 J = BYTECODE_JUMP, JEQ = BYTECODE_JUMP_EQUAL, JNE = BYTECODE_JUMP_NOT_EQUAL, B = BYTECODE_DEBUG_BREAK,
             R = BYTECODE_RETURN;
    struct Case {
        const char* name;
        std::vector<Test_Record> records;
        std::vector<Test_Record> threaded;
    };
    const Case cases[] = {
        {"a chain of jumps ends at its last target",
         {{J, 1}, {J, 2}, {J, 3}, {B, -1}},
         {{J, 3}, {J, 3}, {J, 3}, {B, -1}}},
        {"a backward chain", {{B, -1}, {J, 0}, {J, 1}}, {{B, -1}, {J, 0}, {J, 0}}},
        {"a conditional jump to a plain one keeps its target", {{JEQ, 1}, {J, 2}, {B, -1}}, {{JEQ, 1}, {J, 2}, {B, -1}}},
        {"a plain jump to a conditional one keeps its target", {{J, 1}, {JEQ, 2}, {B, -1}}, {{J, 1}, {JEQ, 2}, {B, -1}}},
        {"conditional jumps of one kind chain", {{JNE, 1}, {JNE, 2}, {B, -1}}, {{JNE, 2}, {JNE, 2}, {B, -1}}},
        {"conditional jumps of two kinds do not", {{JNE, 1}, {JEQ, 2}, {B, -1}}, {{JNE, 1}, {JEQ, 2}, {B, -1}}},
        {"a cycle keeps its targets", {{J, 1}, {J, 0}}, {{J, 1}, {J, 0}}},
        {"a jump to itself keeps it", {{J, 0}}, {{J, 0}}},
        {"a cycle entered from outside keeps the way in", {{J, 1}, {J, 2}, {J, 1}}, {{J, 1}, {J, 2}, {J, 1}}},
        {"a jump to a return becomes the return", {{J, 2}, {B, -1}, {R, -1, 7}}, {{R, -1, 7}, {B, -1}, {R, -1, 7}}},
        {"a chain ending at a return", {{J, 1}, {J, 2}, {R, -1, 9}}, {{R, -1, 9}, {R, -1, 9}, {R, -1, 9}}},
        {"a conditional jump to a return stays", {{JNE, 1}, {R, -1}}, {{JNE, 1}, {R, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(LINKING_SOURCE));
        lay_out(c.records);
        thread_jumps(&global_compiler_state.bytecode);
        ASSERT_EQ(record_count(), c.threaded.size());
        for (u32 k = 0; k < c.threaded.size(); k++) {
            SCOPED_TRACE(k);
            EXPECT_EQ(record(k)->kind, c.threaded[k].kind);
            if (c.threaded[k].target >= 0) {
                EXPECT_EQ(record(k)->jump.target, (u64)c.threaded[k].target * BYTECODE_INSTRUCTION_SIZE);
            }
            EXPECT_EQ(record(k)->line, c.threaded[k].line ? c.threaded[k].line : 1u);
        }
    }
}

TEST(CallPatching, DistancesToTheCalleesFirstRecord) {
    ASSERT_TRUE(reset_test_program(LINKING_SOURCE));
    Sub_Program* near = add_test_sub_program("near", 1);
    Sub_Program* far = add_test_sub_program("far", 2);
    near->bytecode_start = 480;
    far->bytecode_start = 3200;
    std::vector<Test_Record> records(12, Test_Record{BYTECODE_DEBUG_BREAK, -1, 1});
    lay_out(records);
    record(10)->kind = BYTECODE_CALL;
    record(10)->callee = near->sub_program_index;
    record(2)->kind = BYTECODE_CALL;
    record(2)->callee = far->sub_program_index;
    record(5)->kind = BYTECODE_COPY_SUB_PROGRAM_ADDRESS;
    record(5)->copy_sub_program_address.sub_program = far;
    // Kinds that are no longer plain calls keep their fields.
    record(7)->kind = BYTECODE_FOREIGN_CALL;
    record(7)->callee = 95;

    Dynamic_Array patches;
    init_dynamic_array(&patches, sizeof(u32));
    for (u32 index : {10u, 2u, 5u, 7u}) *(u32*)dynamic_array_add_fast(&patches) = index;
    ASSERT_TRUE(patch_calls(&global_compiler_state.bytecode, &patches));
    EXPECT_EQ((s64)record(10)->callee, -1120);
    EXPECT_EQ(record(10)->callee, 0xFFFFFFFFFFFFFBA0ull);
    EXPECT_EQ((s64)record(2)->callee, 2880);
    EXPECT_EQ(record(5)->copy_sub_program_address.distance, 3200 - 800);
    EXPECT_EQ(record(7)->callee, 95u);

    // A callee that never got a body of its own is an internal error, never offset 0.
    far->bytecode_start = SUB_PROGRAM_NO_BYTECODE;
    record(2)->callee = far->sub_program_index;
    patches.count = 1;
    ((u32*)patches.data)[0] = 2;
    EXPECT_FALSE(patch_calls(&global_compiler_state.bytecode, &patches));
    Sub_Program* unlisted = add_test_sub_program("unlisted", 3);
    unlisted->flags &= ~IDENTIFIER_IN_SUB_PROGRAM_LIST;
    record(5)->copy_sub_program_address.sub_program = unlisted;
    ((u32*)patches.data)[0] = 5;
    EXPECT_FALSE(patch_calls(&global_compiler_state.bytecode, &patches));
    EXPECT_EQ(compile_error_messages(),
              (std::vector<std::string>{"Internal compiler error: 'far' is called but was never given bytecode.",
                                        "Internal compiler error: 'unlisted' is called but was never given bytecode."}));
    dynamic_array_free(&patches);
}

// A body of a debug break and its end, at the line.
static Scope* add_simple_body(Scope* body, u32 line) {
    start_body(body, line);
    add_debug_break(body, line);
    end_body(body, line);
    return body;
}

TEST(ProgramBytecode, EntryBlocksThenSubProgramsInOrder) {
    ASSERT_TRUE(reset_test_program(LINKING_SOURCE));
    Compiler_State* state = &global_compiler_state;
    // Made in another order than they are laid out.
    add_simple_body(add_test_entry_block(&state->on_load_scope, 1), 1);
    add_simple_body(add_test_sub_program("first", 2)->body_scope, 2);
    add_simple_body(add_test_entry_block(&state->syntax_scope, 3), 3);
    add_simple_body(add_test_entry_block(&state->events_scope, 4), 4);
    add_simple_body(add_test_sub_program("second", 5)->body_scope, 5);

    Test_Entries entries;
    ASSERT_TRUE(make_test_bytecode(&entries)) << compile_error_messages()[0];
    EXPECT_EQ(entries.flags, 7);
    EXPECT_EQ(entries.syntax, 0u);
    EXPECT_LT(entries.syntax, entries.events);
    EXPECT_LT(entries.events, entries.on_load);
    Sub_Program* first = ((Sub_Program**)state->sub_programs.data)[0];
    Sub_Program* second = ((Sub_Program**)state->sub_programs.data)[1];
    EXPECT_EQ(first->bytecode_start, (u64)state->on_load_scope->end_bytecode_index * BYTECODE_INSTRUCTION_SIZE);
    EXPECT_EQ(second->bytecode_start, (u64)first->body_scope->end_bytecode_index * BYTECODE_INSTRUCTION_SIZE);
    // Each body: its frame, the arguments' address, the break, the frame's end and return.
    EXPECT_EQ(record_kinds(0, 5), (std::vector<u8>{BYTECODE_PUSH_STACK_FRAME, BYTECODE_COPY_ARGUMENTS_ADDRESS,
                                                   BYTECODE_DEBUG_BREAK, BYTECODE_POP_STACK_FRAME, BYTECODE_RETURN}));
    EXPECT_EQ(record(0)->frame.scope, state->syntax_scope);
    EXPECT_EQ(record(0)->frame.flags, state->syntax_scope->flags);
    EXPECT_EQ(record_count(), 25u);
    EXPECT_EQ(check_program_bytecode(), std::vector<std::string>{});
}

TEST(ProgramBytecode, OnlyOnLoad) {
    ASSERT_TRUE(reset_test_program(LINKING_SOURCE));
    add_simple_body(add_test_entry_block(&global_compiler_state.on_load_scope, 1), 1);
    Test_Entries entries;
    ASSERT_TRUE(make_test_bytecode(&entries));
    EXPECT_EQ(entries.flags, 2);
    EXPECT_EQ(entries.on_load, 0u);
    EXPECT_EQ(entries.events, 0xFFFFFFFFu);  // not written
    EXPECT_EQ(entries.syntax, 0xFFFFFFFFu);
}

TEST(ProgramBytecode, FailuresEndTheProgram) {
    struct Case {
        const char* name;
        void (*make)();
        std::vector<std::string> messages;
        u8 flags;
    };
    static const Case cases[] = {
        {"a kind past the last",
         [] {
             add_simple_body(add_test_entry_block(&global_compiler_state.syntax_scope, 1), 1);
             Scope* body = add_test_entry_block(&global_compiler_state.events_scope, 2);
             start_body(body, 2);
             add_instruction(body, 34);
         },
         {"Instruction 0x22 is not supported."},
         4},
        {"a listed sub-program without a body",
         [] {
             add_simple_body(add_test_entry_block(&global_compiler_state.on_load_scope, 1), 1);
             add_test_sub_program("hollow", 3)->body_scope = nullptr;
         },
         {"Internal compiler error: 'hollow' has no body to compile."},
         2},
        {"a loop jump outside its loop",
         [] {
             Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 4);
             start_body(body, 4);
             add_loop_jump(body, LOOP_JUMP_BREAK, 0, 4);
             end_body(body, 4);
         },
         {"Internal compiler error: a loop jump without its loop."},
         0},
        {"a foreign callee missing from the table",
         [] {
             Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 5);
             start_body(body, 5);
             add_call(body, add_test_foreign_sub_program("not_a_routine", 5), 5);
             end_body(body, 5);
         },
         {"Internal compiler error: 'not_a_routine' is not in the foreign routine table."},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(LINKING_SOURCE));
        c.make();
        Test_Entries entries;
        EXPECT_FALSE(make_test_bytecode(&entries));
        EXPECT_EQ(compile_error_messages(), c.messages);
        EXPECT_EQ(entries.flags, c.flags);
    }
}
