// The bytecode of each intermediate kind, of loops, if chains, switches, loop jumps, calls
// and inline expansions, and the lifetimes emission records. Every program built here also
// passes the invariant checker.
#include <gtest/gtest.h>

#include "bytecode_checks.h"
#include "bytecode_test_builder.h"
#include "compiler/core/foreign_routine_table.h"

static const std::string SCOPE_SOURCE =
    "#on_load {\n    a := b;\n    c := d;\n    while e {\n        f;\n    }\n    g;\n    h;\n    i;\n    j;\n}\n";

static Identifier* T(Basic_Type_Slot slot) { return type_of(slot); }
static Identifier* address_of(Identifier* type, u8 levels = 1) { return type_to_memory_address_of_type(type, levels); }
static u64 at(u32 index) { return (u64)index * BYTECODE_INSTRUCTION_SIZE; }

// The #on_load block, opened: its frame and arguments' address are records 0 and 1.
static Scope* open_body() {
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    start_body(body, 1);
    return body;
}

// Ends the block, makes the program's bytecode and checks it; false after a failure.
static bool finish(Scope* body) {
    end_body(body, 11);
    if (!make_test_bytecode()) {
        ADD_FAILURE() << (compile_errors.count ? compile_error_messages()[0] : std::string("no report"));
        return false;
    }
    std::vector<std::string> faults = check_program_bytecode();
    EXPECT_EQ(faults, std::vector<std::string>{});
    return faults.empty();
}

// The kinds between the body's opening two records and its closing two.
static std::vector<u8> body_kinds() { return record_kinds(2, record_count() - 2); }

//~ Straight-line kinds

struct Kind_Case {
    const char* name;
    void (*build)(Scope* body);
    std::vector<u8> kinds;
    void (*check)();
};

static Value v(Scope* s, Identifier* type) { return variable(s, type, 2); }

TEST(ScopeBytecode, StraightLineKinds) {
    static const Kind_Case cases[] = {
        {"set to zero",
         [](Scope* s) {
             add_instruction(s, INSTRUCTION_SET_TO_ZERO)->value = v(s, T(BASIC_TYPE_U32));
             add_instruction(s, INSTRUCTION_SET_TO_ZERO)->value = through_address(v(s, address_of(T(BASIC_TYPE_U64))));
         },
         {1, 1},
         [] {
             EXPECT_EQ(record(2)->set_to_zero.size, 4u);
             EXPECT_EQ(record(2)->set_to_zero.through_address, 0);
             EXPECT_EQ(record(3)->set_to_zero.size, 8u);
             EXPECT_EQ(record(3)->set_to_zero.through_address, 1);
         }},
        {"casts by selector",
         [](Scope* s) {
             for (u8 k = 0; k < 8; k++) add_cast(s, k, v(s, T(BASIC_TYPE_S16)), v(s, T(BASIC_TYPE_F32)), k == 0);
             add_cast(s, 3, through_address(v(s, address_of(T(BASIC_TYPE_S64)))), v(s, T(BASIC_TYPE_U8)), 1);
         },
         {9, 10, 13, 14, 15, 16, 11, 12, 14},
         [] {
             EXPECT_EQ(record(2)->cast.is_unsigned, 1);
             EXPECT_EQ(record(3)->cast.is_unsigned, 0);
             EXPECT_EQ(record(2)->cast.destination_size, 2);
             EXPECT_EQ(record(10)->cast.destination_size, 8);
             EXPECT_EQ(record(10)->cast.through_address, 1);
         }},
        {"make boolean",
         [](Scope* s) {
             add_instruction(s, INSTRUCTION_MAKE_BOOLEAN)->value = v(s, T(BASIC_TYPE_S32));
             add_instruction(s, INSTRUCTION_MAKE_BOOLEAN)->value = v(s, address_of(T(BASIC_TYPE_F32)));
             add_instruction(s, INSTRUCTION_MAKE_BOOLEAN)->value = v(s, T(BASIC_TYPE_F64));
             add_instruction(s, INSTRUCTION_MAKE_BOOLEAN)->value = through_address(v(s, address_of(T(BASIC_TYPE_F32))));
         },
         {17, 17, 18, 18},
         [] {
             EXPECT_EQ(record(2)->make_bool.size, 4);
             EXPECT_EQ(record(5)->make_bool.size, 4);
             EXPECT_EQ(record(5)->make_bool.through_address, 1);
         }},
        {"loads",
         [](Scope* s) {
             Identifier* p = address_of(T(BASIC_TYPE_S16));
             add_address(s, INSTRUCTION_LOAD, v(s, T(BASIC_TYPE_S16)), v(s, p), int_constant(3, T(BASIC_TYPE_S64), 2));
             add_address(s, INSTRUCTION_LOAD, v(s, T(BASIC_TYPE_U32)), v(s, p), v(s, T(BASIC_TYPE_S64)));
             add_address(s, INSTRUCTION_LOAD, v(s, T(BASIC_TYPE_U32)), v(s, p), int_constant(5, T(BASIC_TYPE_S64), 2), 1);
         },
         {27, 26, 27},
         [] {
             Bytecode_Address_Constant* a = &record(2)->address_constant;
             EXPECT_EQ(a->index, 3u);
             EXPECT_EQ(a->element_size, 2);
             EXPECT_EQ(a->value_size, 2);
             EXPECT_EQ(a->is_signed, 1);
             EXPECT_EQ(record(3)->address.element_size, 4);
             EXPECT_EQ(record(3)->address.is_signed, 0);
             EXPECT_EQ(record(4)->address_constant.element_size, 1);
         }},
        {"addresses",
         [](Scope* s) {
             Identifier* p = address_of(T(BASIC_TYPE_U32));
             add_address(s, INSTRUCTION_ADDRESS, v(s, p), v(s, p), int_constant(2, T(BASIC_TYPE_S64), 2));
             add_address(s, INSTRUCTION_ADDRESS, v(s, address_of(T(BASIC_TYPE_U8), 2)), v(s, address_of(T(BASIC_TYPE_U8), 2)),
                         v(s, T(BASIC_TYPE_S64)));
             add_address(s, INSTRUCTION_ADDRESS, v(s, p), v(s, p), v(s, T(BASIC_TYPE_S64)), 1);
             add_address(s, INSTRUCTION_ADDRESS_INDIRECT, through_address(v(s, address_of(T(BASIC_TYPE_U16), 2))), v(s, p),
                         int_constant(1, T(BASIC_TYPE_S64), 2));
             add_copy(s, INSTRUCTION_TAKE_ADDRESS, v(s, p), v(s, T(BASIC_TYPE_U32)));
         },
         {25, 24, 24, 25, 23},
         [] {
             EXPECT_EQ(record(2)->address_constant.element_size, 4);
             EXPECT_EQ(record(2)->address_constant.index, 2u);
             EXPECT_EQ(record(2)->address_constant.through_address, 0);
             EXPECT_EQ(record(3)->address.element_size, 8);
             EXPECT_EQ(record(4)->address.element_size, 1);
             // Stored through an address, the step is still what the base points at.
             EXPECT_EQ(record(5)->address_constant.element_size, 4);
             EXPECT_EQ(record(5)->address_constant.through_address, 1);
         }},
        {"arithmetic",
         [](Scope* s) {
             add_arithmetic(s, INSTRUCTION_ARITHMETIC, OP_ADD, v(s, T(BASIC_TYPE_S32)), v(s, T(BASIC_TYPE_S32)));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC, OP_LOGICAL_AND, v(s, T(BASIC_TYPE_U8)), v(s, T(BASIC_TYPE_B8)));
             Value boolean = v(s, T(BASIC_TYPE_U8));
             boolean.kind |= VALUE_BOOLEAN;
             add_arithmetic(s, INSTRUCTION_ARITHMETIC, OP_LOGICAL_OR, boolean, v(s, T(BASIC_TYPE_U16)));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC, OP_MULTIPLY, v(s, T(BASIC_TYPE_F64)), v(s, T(BASIC_TYPE_F64)));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC, OP_ADD, v(s, address_of(T(BASIC_TYPE_F32))), v(s, T(BASIC_TYPE_S64)));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC_CONSTANT, OP_SUBTRACT, v(s, T(BASIC_TYPE_U32)),
                            int_constant(5, T(BASIC_TYPE_U32), 2));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC_CONSTANT, OP_MULTIPLY, v(s, T(BASIC_TYPE_F32)), real_constant(2.5, 2));
             add_arithmetic(s, INSTRUCTION_ARITHMETIC_CONSTANT, OP_LOGICAL_AND, v(s, T(BASIC_TYPE_S8)),
                            int_constant(1, T(BASIC_TYPE_S8), 2));
         },
         {20, 20, 20, 22, 20, 19, 21, 19},
         [] {
             EXPECT_EQ(record(2)->int_arithmetic.is_signed, 1);
             EXPECT_EQ(record(2)->int_arithmetic.operator_bit, (u64)OP_ADD);
             EXPECT_EQ(record(2)->int_arithmetic.destination_not_boolean, 0);
             EXPECT_EQ(record(3)->int_arithmetic.destination_not_boolean, 1);
             EXPECT_EQ(record(3)->int_arithmetic.source_not_boolean, 0);  // a b8
             EXPECT_EQ(record(3)->int_arithmetic.is_signed, 0);
             EXPECT_EQ(record(4)->int_arithmetic.destination_not_boolean, 0);
             EXPECT_EQ(record(4)->int_arithmetic.source_not_boolean, 1);
             EXPECT_EQ(record(7)->int_arithmetic_constant.immediate, 5u);
             EXPECT_EQ(record(7)->int_arithmetic_constant.size, 4);
             EXPECT_EQ(record(8)->float_arithmetic_constant.immediate, 2.5);
             EXPECT_EQ(record(9)->int_arithmetic_constant.not_boolean, 1);
             EXPECT_EQ(record(9)->int_arithmetic_constant.is_signed, 1);
         }},
        {"compares",
         [](Scope* s) {
             add_copy(s, INSTRUCTION_COMPARE, v(s, T(BASIC_TYPE_U16)), through_address(v(s, address_of(T(BASIC_TYPE_U16)))));
             add_copy(s, INSTRUCTION_COMPARE_CONSTANT, v(s, T(BASIC_TYPE_S32)), int_constant(7, T(BASIC_TYPE_S32), 2));
             add_copy(s, INSTRUCTION_COMPARE_CONSTANT, v(s, T(BASIC_TYPE_S32)), int_constant(0, T(BASIC_TYPE_S32), 2));
             add_copy(s, INSTRUCTION_FLOAT_COMPARE, v(s, T(BASIC_TYPE_F32)), v(s, T(BASIC_TYPE_F32)));
             add_copy(s, INSTRUCTION_FLOAT_COMPARE_CONSTANT, v(s, T(BASIC_TYPE_F64)), real_constant(1.5, 2));
             add_copy(s, INSTRUCTION_FLOAT_COMPARE_CONSTANT, v(s, T(BASIC_TYPE_F64)), real_constant(-0.0, 2));
             add_copy(s, INSTRUCTION_TEST_FLAGS, v(s, T(BASIC_TYPE_U32)), v(s, T(BASIC_TYPE_U32)));
             add_copy(s, INSTRUCTION_TEST_FLAGS, v(s, T(BASIC_TYPE_U64)), int_constant(0x80000000, T(BASIC_TYPE_U64), 2));
             add_compare_result(s, OP_LESS, v(s, T(BASIC_TYPE_B8)), 1, 0);
         },
         {28, 29, 30, 36, 37, 38, 34, 35, 40},
         [] {
             EXPECT_EQ(record(2)->compare_flags.size, 2);
             EXPECT_EQ(record(2)->compare_flags.right_through_address, 1);
             EXPECT_EQ(record(3)->compare_to_constant.immediate, 7u);
             EXPECT_EQ(record(6)->compare_to_constant.immediate, 0x3FF8000000000000ull);
             EXPECT_EQ(record(9)->compare_to_constant.immediate, 0x80000000u);
             EXPECT_EQ(record(9)->compare_to_constant.size, 8);
             Bytecode_Store_Compare_Result* r = &record(10)->store_compare_result;
             EXPECT_EQ(r->operator_bit, (u64)OP_LESS);
             EXPECT_EQ(r->compared_unsigned, 1);
             EXPECT_EQ(r->compared_float, 0);
         }},
        {"String compares: counts, then the blocks",
         [](Scope* s) {
             add_copy(s, INSTRUCTION_BLOCK_COMPARE, v(s, T(BASIC_TYPE_STRING)), v(s, T(BASIC_TYPE_STRING)));
             add_copy(s, INSTRUCTION_BLOCK_COMPARE_CONSTANT, v(s, T(BASIC_TYPE_STRING)), string_constant("hello", 2));
         },
         {28, 43, 33, 29, 43, 32},
         [] {
             EXPECT_EQ(record(3)->jump.target, at(5));
             EXPECT_EQ(record(2)->compare_flags.size, 8);
             EXPECT_EQ(get_register(record(2)->compare_flags.left)->view_offset, 8u);
             EXPECT_EQ(get_register(record(4)->compare.left)->view_offset, 0u);
             EXPECT_EQ(get_register(record(4)->compare.size_register)->view_offset, 8u);
             EXPECT_EQ(record(5)->compare_to_constant.immediate, 5u);
             EXPECT_EQ(record(6)->jump.target, at(8));
             EXPECT_EQ(get_register_size(record(7)->compare.right), 5u);
         }},
        {"breaks, machine code, a nested block",
         [](Scope* s) {
             add_debug_break(s, 2);
             Instruction_Machine_Code* m = get_instruction_machine_code(add_instruction(s, INSTRUCTION_MACHINE_CODE));
             static u8 code[] = {0x90, 0xC3};
             m->octets = code;
             m->count = 2;
             Scope* block = add_nested_scope(s, SCOPE_ANONYMOUS_BLOCK, 3);
             start_body(block, 3);
             add_debug_break(block, 3);
             add_instruction(block, INSTRUCTION_SCOPE_END);
             add_instruction(s, INSTRUCTION_SCOPE_END);
         },
         {50, 51, 50},
         [] {
             EXPECT_EQ(record(3)->machine_code.count, 2);
             EXPECT_EQ(record(3)->machine_code.code[0], 0x90);
             EXPECT_EQ(record(4)->line, 3u);
         }},
    };
    for (const Kind_Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
        Scope* body = open_body();
        c.build(body);
        ASSERT_TRUE(finish(body));
        EXPECT_EQ(body_kinds(), c.kinds);
        if (c.check) c.check();
    }
}

TEST(ScopeBytecode, FramesAndEnds) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Sub_Program* callee = add_test_sub_program("callee", 2);
    start_body(callee->body_scope, 2);
    // An inline expansion opens no frame of its own.
    Scope* root = add_inline_expansion(callee->body_scope, callee, Value{}, 3);
    start_body(root, 3);
    add_debug_break(root, 3);
    end_body(callee->body_scope, 4);
    ASSERT_TRUE(finish(body));
    EXPECT_EQ(record_kinds(), (std::vector<u8>{52, 54, 53, 58, 52, 54, 50, 53, 58}));
    EXPECT_EQ(record(2)->frame.scope, body);
    EXPECT_EQ(record(2)->line, 11u);
    EXPECT_EQ(record(7)->frame.scope, callee->body_scope);
    EXPECT_EQ(record(7)->frame.flags, (u32)BASIC_SUB_PROGRAM_SCOPE_FLAGS);
}

TEST(ScopeBytecode, WithTheBytecodeTargetNoMachineCodeAndNoPlacement) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    global_compiler_state.target_platform = TARGET_PLATFORM_BYTECODE;
    Scope* body = open_body();
    Value x = v(body, T(BASIC_TYPE_U32));
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = x;
    add_instruction(body, INSTRUCTION_MACHINE_CODE);
    end_body(body, 11);
    ASSERT_TRUE(make_test_bytecode());
    EXPECT_EQ(record_kinds(), (std::vector<u8>{52, 1, 53, 58}));
    EXPECT_FALSE(get_register(x.dynamic.register_id)->placed);
    global_compiler_state.target_platform = TARGET_PLATFORM_AMD64;
}

TEST(ScopeBytecode, AnEmptyScopeAppendsNothing) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Scope* empty = add_nested_scope(body, SCOPE_ANONYMOUS_BLOCK, 2);
    ASSERT_TRUE(finish(body));
    EXPECT_EQ(empty->first_bytecode_index, 2u);
    EXPECT_EQ(empty->end_bytecode_index, 2u);
}

//~ Loops

TEST(ScopeBytecode, WhileLoopStartsAtItsConditionAndLeavesPastItsBackJump) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Value before = v(body, T(BASIC_TYPE_S32));
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = before;  // record 2
    Instruction_While* w = add_while(body, 4);
    Value counter = v(body, T(BASIC_TYPE_U32));
    w->conditions = make_condition(w->loop_scope, {{0, counter, 10, BYTECODE_JUMP_GREATER_EQUAL}}, 4);
    Scope* loop = w->loop_scope;
    // The value made before the loop is read only in its first statement.
    add_copy(loop, INSTRUCTION_COPY, v(loop, T(BASIC_TYPE_S32)), before);
    add_loop_jump(loop, LOOP_JUMP_CONTINUE, 0, 5);
    add_loop_jump(loop, LOOP_JUMP_BREAK, 0, 5);
    add_debug_break(body, 7);
    ASSERT_TRUE(finish(body));
    // 3 compare, 4 exit jump, 5 copy, 6 continue, 7 break, 8 back jump, 9 past the loop.
    EXPECT_EQ(record_kinds(3, 10), (std::vector<u8>{29, 47, 6, 41, 41, 41, 50}));
    EXPECT_EQ(record(4)->jump.target, at(9));
    EXPECT_EQ(record(4)->jump.compared_unsigned, 1);
    EXPECT_EQ(record(6)->jump.target, at(3));
    EXPECT_EQ(record(7)->jump.target, at(9));
    EXPECT_EQ(record(8)->jump.target, at(3));
    EXPECT_EQ(loop->first_bytecode_index, 3u);
    EXPECT_EQ(loop->end_bytecode_index, 8u);
    Register* b = get_register(before.dynamic.register_id);
    EXPECT_EQ(b->first_use, 2u);
    EXPECT_EQ(b->last_use, 8u);  // to the loop's end index, the back jump
    EXPECT_EQ(b->loop_scope, loop);
}

TEST(ScopeBytecode, BreakByLevelLeavesTheOuterLoop) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Instruction_While* outer = add_while(body, 4);
    add_debug_break(outer->loop_scope, 4);
    Instruction_While* inner = add_while(outer->loop_scope, 5);
    add_debug_break(inner->loop_scope, 5);
    add_loop_jump(inner->loop_scope, LOOP_JUMP_BREAK, 1, 5);
    add_loop_jump(inner->loop_scope, LOOP_JUMP_CONTINUE, 1, 5);
    add_loop_jump(inner->loop_scope, LOOP_JUMP_BREAK, 0, 5);
    ASSERT_TRUE(finish(body));
    // 2 and 3 the loops' first records; 4 break 1, 5 continue 1, 6 break, 7 the inner back
    // jump, 8 the outer one, 9 past both.
    EXPECT_EQ(record_kinds(2, 10), (std::vector<u8>{50, 50, 41, 41, 41, 41, 41, 53}));
    EXPECT_EQ(record(4)->jump.target, at(9));
    EXPECT_EQ(record(5)->jump.target, at(2));
    EXPECT_EQ(record(6)->jump.target, at(2));  // past the inner loop: the outer back jump, threaded
    EXPECT_EQ(record(7)->jump.target, at(3));
    EXPECT_EQ(record(8)->jump.target, at(2));
}

TEST(ScopeBytecode, ForLoopTestsItsIndexBeforeEachPass) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Identifier* limit = add_variable(body, "limit", T(BASIC_TYPE_S32), 2);
    Value limit_value = {};
    make_value_from_identifier(&limit_value, limit, line_trace(2));
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = limit_value;  // 2
    Identifier* index = add_variable(body, "it", T(BASIC_TYPE_U8), 4);
    Scope* counted = add_for(body, index, int_constant(10, T(BASIC_TYPE_U8), 4), OP_LESS, 4);
    Value index_value = {};
    make_value_from_identifier(&index_value, index, line_trace(4));
    add_loop_jump(counted, LOOP_JUMP_BREAK, 0, 5);                                              // 5
    // The step, made in the loop's iteration scope and copied to the body's end: its
    // temporary belongs to a scope that is never emitted, and is placed all the same.
    Scope* step = _add_a_scope(counted, SCOPE_LOOP, line_trace(4));
    counted->iteration_scope = step;
    Value temporary = v(step, T(BASIC_TYPE_U8));
    add_copy(counted, INSTRUCTION_COPY, temporary, index_value);
    add_arithmetic(counted, INSTRUCTION_ARITHMETIC_CONSTANT, OP_INCREMENT, temporary, int_constant(1, T(BASIC_TYPE_U8), 4));
    add_copy(counted, INSTRUCTION_COPY, index_value, temporary);
    Scope* down = add_for(body, add_variable(body, "k", T(BASIC_TYPE_S32), 6), limit_value, OP_GREATER_EQUAL, 6);
    add_debug_break(down, 7);
    ASSERT_TRUE(finish(body));
    // 3 compare, 4 exit, 5 break, 6 to 8 the step, 9 back; 10 compare with the register
    // limit, 11 exit, 12 break, 13 back.
    EXPECT_EQ(record_kinds(3, 14), (std::vector<u8>{29, 47, 41, 6, 19, 6, 41, 28, 44, 50, 41}));
    EXPECT_EQ(record(3)->compare_to_constant.immediate, 10u);
    EXPECT_EQ(record(4)->jump.target, at(10));
    EXPECT_EQ(record(4)->jump.compared_unsigned, 1);
    EXPECT_EQ(record(5)->jump.target, at(10));
    EXPECT_EQ(record(9)->jump.target, at(3));
    EXPECT_EQ(record(10)->compare_flags.size, 4);
    EXPECT_EQ(record(11)->jump.target, at(14));
    EXPECT_EQ(record(11)->jump.compared_unsigned, 0);
    EXPECT_EQ(record(13)->jump.target, at(10));
    EXPECT_TRUE(get_register(temporary.dynamic.register_id)->placed);
    // The limit, set before both loops, lives to the second loop's back jump.
    EXPECT_EQ(get_register(limit->register_id)->last_use, 13u);
}

//~ If chains

// Conditions over four values: which record each part's jump aims at, by kind.
TEST(ScopeBytecode, IfConditionsShortCircuit) {
    const u64 AND = OP_LOGICAL_AND, OR = OP_LOGICAL_OR;
    const u8 JGE = BYTECODE_JUMP_GREATER_EQUAL, JLT = BYTECODE_JUMP_LESS;
    Token brackets[2] = {};
    struct Part {
        u64 op;
        u16 level;
        int bracket;  // -1 for none
        bool ignored;
    };
    struct Case {
        const char* name;
        std::vector<Part> parts;
        // Per value part not ignored: the jump kind and its target, "B" body start, "E" after
        // the body, or the number of the value part that starts there.
        std::vector<std::pair<u8, std::string>> jumps;
    };
    const Case cases[] = {
        {"a", {{0, 0, -1, false}}, {{JGE, "E"}}},
        {"a && b", {{0, 0, -1, false}, {AND, 0, -1, false}, {0, 0, -1, false}}, {{JGE, "E"}, {JGE, "E"}}},
        {"a || b", {{0, 0, -1, false}, {OR, 0, -1, false}, {0, 0, -1, false}}, {{JLT, "B"}, {JGE, "E"}}},
        {"a && b || c",
         {{0, 0, -1, false}, {AND, 0, -1, false}, {0, 0, -1, false}, {OR, 0, -1, false}, {0, 0, -1, false}},
         {{JGE, "2"}, {JLT, "B"}, {JGE, "E"}}},
        {"a || b && c",
         {{0, 0, -1, false}, {OR, 0, -1, false}, {0, 0, -1, false}, {AND, 0, -1, false}, {0, 0, -1, false}},
         {{JLT, "2"}, {JGE, "E"}, {JGE, "E"}}},
        {"(a || b) && c",
         {{0, 1, 0, false}, {OR, 1, 0, false}, {0, 1, 0, false}, {AND, 0, -1, false}, {0, 0, -1, false}},
         {{JLT, "2"}, {JGE, "E"}, {JGE, "E"}}},
        {"(a && b) || (c && d)",
         {{0, 1, 0, false}, {AND, 1, 0, false}, {0, 1, 0, false}, {OR, 0, -1, false}, {0, 1, 1, false},
          {AND, 1, 1, false}, {0, 1, 1, false}},
         {{JGE, "2"}, {JLT, "B"}, {JGE, "E"}, {JGE, "E"}}},
        {"(a || b) && (c || d)",
         {{0, 1, 0, false}, {OR, 1, 0, false}, {0, 1, 0, false}, {AND, 0, -1, false}, {0, 1, 1, false},
          {OR, 1, 1, false}, {0, 1, 1, false}},
         {{JLT, "2"}, {JGE, "E"}, {JLT, "B"}, {JGE, "E"}}},
        {"1 && b, the constant folded away", {{0, 0, -1, true}, {AND, 0, -1, true}, {0, 0, -1, false}}, {{JGE, "E"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
        Scope* body = open_body();
        std::vector<Test_Condition_Part> parts;
        for (const Part& p : c.parts) {
            Token* bracket = p.bracket < 0 ? nullptr : &brackets[p.bracket];
            parts.push_back({p.op, p.op ? Value{} : v(body, T(BASIC_TYPE_S32)), 3, JGE, p.level, bracket, p.ignored});
        }
        std::vector<Scope*> bodies = add_if_chain(body, {make_condition(body, parts, 3)}, false, 3);
        add_debug_break(bodies[0], 4);
        add_debug_break(body, 5);
        ASSERT_TRUE(finish(body));
        // Each value part is its compare and its jump, from record 2; then the body's break.
        u32 body_start = 2 + 2 * (u32)c.jumps.size();
        for (size_t k = 0; k < c.jumps.size(); k++) {
            SCOPED_TRACE(k);
            Bytecode_Instruction* jump = record(3 + 2 * (u32)k);
            EXPECT_EQ(jump->kind, c.jumps[k].first);
            const std::string& t = c.jumps[k].second;
            u64 target = t == "B" ? at(body_start) : t == "E" ? at(body_start + 1) : at(2 + 2 * (u32)std::stoi(t));
            EXPECT_EQ(jump->jump.target, target);
        }
    }
}

TEST(ScopeBytecode, IfChainLinksAndElse) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Value x = v(body, T(BASIC_TYPE_S64));
    const u8 JNE = BYTECODE_JUMP_NOT_EQUAL;
    std::vector<Scope*> bodies = add_if_chain(body,
                                              {make_condition(body, {{0, x, 1, JNE}}, 3), make_condition(body, {{0, x, 2, JNE}}, 5),
                                               make_condition(body, {{0, x, 3, JNE}}, 7)},
                                              true, 3);
    add_debug_break(bodies[0], 4);
    // A link that ends in a return needs no jump to the chain's end.
    append_scope_instruction(bodies[1], INSTRUCTION_END, body, line_trace(6));
    add_debug_break(bodies[2], 8);
    add_debug_break(bodies[3], 9);
    ASSERT_TRUE(finish(body));
    // 2 cmp, 3 jne, 4 break, 5 jump end; 6 cmp, 7 jne, 8 pop, 9 return; 10 cmp, 11 jne,
    // 12 break, 13 jump end; 14 else break; 15 past the chain.
    EXPECT_EQ(record_kinds(2, 16), (std::vector<u8>{29, 43, 50, 41, 29, 43, 53, 58, 29, 43, 50, 41, 50, 53}));
    EXPECT_EQ(record(3)->jump.target, at(6));
    EXPECT_EQ(record(5)->jump.target, at(15));
    EXPECT_EQ(record(7)->jump.target, at(10));
    EXPECT_EQ(record(11)->jump.target, at(14));
    EXPECT_EQ(record(13)->jump.target, at(15));
}

//~ Switch

TEST(ScopeBytecode, SwitchCasesDefaultAndFallThrough) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Value x = v(body, T(BASIC_TYPE_S32));
    std::vector<Scope*> bodies = add_switch(body, x, {int_constant(1, T(BASIC_TYPE_S32), 3), int_constant(2, T(BASIC_TYPE_S32), 4)},
                                            true, 3, {true, false});
    for (Scope* b : bodies) add_debug_break(b, 5);
    ASSERT_TRUE(finish(body));
    // 2 cmp 1, 3 jne, 4 break, 5 jump; 6 cmp 2, 7 jne, 8 break, 9 jump; 10 default break.
    EXPECT_EQ(record_kinds(2, 11), (std::vector<u8>{29, 43, 50, 41, 29, 43, 50, 41, 50}));
    EXPECT_EQ(record(3)->jump.target, at(6));
    EXPECT_EQ(record(5)->jump.target, at(8));   // #no_break: into the next body, past its test
    EXPECT_EQ(record(7)->jump.target, at(10));  // a miss of the last case: the default body
    EXPECT_EQ(record(9)->jump.target, at(11));
    EXPECT_EQ(record(2)->compare_to_constant.immediate, 1u);
    EXPECT_EQ(get_register(x.dynamic.register_id)->last_use, 6u);
}

TEST(ScopeBytecode, SwitchOnStringsAndReals) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Value s = v(body, T(BASIC_TYPE_STRING));
    std::vector<Scope*> text_bodies = add_switch(body, s, {string_constant("ab", 3), string_constant("cde", 4)}, false, 3);
    for (Scope* b : text_bodies) add_debug_break(b, 5);
    Value r = v(body, T(BASIC_TYPE_F64));
    std::vector<Scope*> real_bodies = add_switch(body, r, {real_constant(1.5, 6)}, false, 6);
    add_debug_break(real_bodies[0], 7);
    ASSERT_TRUE(finish(body));
    // 2 count, 3 jne, 4 text, 5 jne, 6 break, 7 jump; 8 count, 9 jne, 10 text, 11 jne, 12 break;
    // 13 float compare, 14 jne, 15 break.
    EXPECT_EQ(record_kinds(2, 16), (std::vector<u8>{29, 43, 32, 43, 50, 41, 29, 43, 32, 43, 50, 37, 43, 50}));
    EXPECT_EQ(record(2)->compare_to_constant.immediate, 2u);
    EXPECT_EQ(record(3)->jump.target, at(8));
    EXPECT_EQ(record(5)->jump.target, at(8));
    EXPECT_EQ(record(7)->jump.target, at(13));
    EXPECT_EQ(record(9)->jump.target, at(13));
    EXPECT_EQ(record(11)->jump.target, at(13));
    EXPECT_EQ(record(14)->jump.target, at(16));
    EXPECT_EQ(record(14)->jump.compared_float, 1);
}

//~ Calls and inline expansions

TEST(ScopeBytecode, CallsOfEachKind) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Sub_Program* callee = add_test_sub_program("callee", 2, T(BASIC_TYPE_S64));
    start_body(callee->body_scope, 2);
    end_body(callee->body_scope, 2);
    Sub_Program* log = add_test_foreign_sub_program("log", 3);

    Value kept = v(body, T(BASIC_TYPE_S64));                       // live across every call
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = kept;   // 2
    Value block = variable(body, T(BASIC_TYPE_STRING), 3);
    Value result = v(body, T(BASIC_TYPE_S64));
    add_call(body, callee, 3, block.dynamic.register_id, result.dynamic.register_id, CALL_ARGUMENT_BLOCK);  // 3
    Instruction_Call* foreign = add_call(body, log, 4, block.dynamic.register_id, INVALID_REGISTER_ID, CALL_ARGUMENT_BLOCK);
    Value argument = v(body, T(BASIC_TYPE_U8));
    *(Value*)dynamic_array_add_fast(&foreign->arguments) = argument;  // 4
    Value target = v(body, callee);
    Instruction_Call* indirect = add_call(body, callee, 5, INVALID_REGISTER_ID, INVALID_REGISTER_ID, CALL_THROUGH_ADDRESS);
    indirect->callee_address = target.dynamic.register_id;  // 5
    add_copy(body, INSTRUCTION_COPY, result, kept);              // 6
    ASSERT_TRUE(finish(body));

    EXPECT_EQ(record_kinds(2, 7), (std::vector<u8>{1, 55, 57, 56, 6}));
    Bytecode_Instruction* call = record(3);
    EXPECT_EQ((s64)call->callee, (s64)callee->bytecode_start - (s64)at(3));
    EXPECT_EQ(call->call.sub_program, callee);
    EXPECT_TRUE(registers_match(call->call.call_data, block.dynamic.register_id));
    EXPECT_TRUE(registers_match(call->call.return_value, result.dynamic.register_id));
    EXPECT_EQ(call->call_flags, CALL_ARGUMENT_BLOCK);
    Register* k = get_register(kept.dynamic.register_id);
    ASSERT_TRUE(k->in_machine_register);
    for (u32 index : {3u, 4u, 5u}) EXPECT_TRUE(record(index)->live_gp_mask & (1u << k->machine_number)) << index;

    EXPECT_EQ(record(4)->callee, (u64)ROUTINE_LOG);
    Dynamic_Array arguments;
    memcpy(&arguments, record(4)->call_area, sizeof(arguments));
    EXPECT_EQ(arguments.count, 1u);
    EXPECT_EQ(get_register(argument.dynamic.register_id)->last_call, 5u);

    EXPECT_TRUE(registers_match(record(5)->call.callee_address, target.dynamic.register_id));
    EXPECT_EQ(get_register(target.dynamic.register_id)->first_use, 6u);
    // The result is first written at the call's end: it is not live across the call.
    Register* r = get_register(result.dynamic.register_id);
    EXPECT_EQ(r->first_use, 4u);
    EXPECT_FALSE(r->in_machine_register && (record(3)->live_gp_mask & (1u << r->machine_number)));
}

TEST(ScopeBytecode, SubProgramAddressesArePatched) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Sub_Program* callee = add_test_sub_program("callee", 2);
    start_body(callee->body_scope, 2);
    end_body(callee->body_scope, 2);
    Value address = {};
    make_constant_value_from_type(&address, callee, line_trace(3));
    address.constant.mask = CONSTANT_TYPED;
    address.constant.type = callee;
    add_copy(body, INSTRUCTION_COPY_CONSTANT, v(body, callee), address);
    ASSERT_TRUE(finish(body));
    EXPECT_EQ(record(2)->kind, BYTECODE_COPY_SUB_PROGRAM_ADDRESS);
    EXPECT_EQ(record(2)->copy_sub_program_address.distance, (s64)callee->bytecode_start - (s64)at(2));
}

TEST(ScopeBytecode, InlineExpansionsReturnPastTheirBody) {
    ASSERT_TRUE(reset_test_program(SCOPE_SOURCE));
    Scope* body = open_body();
    Sub_Program* callee = add_test_sub_program("twice", 2, T(BASIC_TYPE_S32));
    callee->flags |= IDENTIFIER_INLINE;
    // Two returns: each copies its value into the call's result.
    Value result = v(body, T(BASIC_TYPE_S32));
    Scope* root = add_inline_expansion(body, callee, result, 3);
    start_body(root, 3);
    Value a = v(root, T(BASIC_TYPE_S32));
    add_instruction(root, INSTRUCTION_SET_TO_ZERO)->value = a;       // 2
    Scope* inner = add_nested_scope(root, 0, 4);
    add_inline_return(inner, root, a, 4, false);                     // 3 copy, 4 jump
    add_inline_return(root, root, int_constant(7, T(BASIC_TYPE_S32), 5), 5, true);  // 5 constant copy
    // One return: its value is the result itself.
    Value single = v(body, T(BASIC_TYPE_S32));
    Scope* once = add_inline_expansion(body, callee, single, 6);
    add_debug_break(once, 6);                                        // 6
    Scope* nested = add_nested_scope(once, 0, 6);
    add_inline_return(nested, once, single, 6, false);               // 7 jump
    add_debug_break(once, 7);                                        // 8
    add_debug_break(body, 8);                                        // 9
    ASSERT_TRUE(finish(body));
    EXPECT_EQ(record_kinds(2, 10), (std::vector<u8>{1, 6, 41, 2, 50, 41, 50, 50}));
    EXPECT_TRUE(registers_match(record(3)->copy.destination, result.dynamic.register_id));
    EXPECT_TRUE(registers_match(record(3)->copy.source, a.dynamic.register_id));
    EXPECT_EQ(record(4)->jump.target, at(6));
    EXPECT_EQ(record(5)->copy_constant_number.immediate, 7u);
    EXPECT_EQ(record(7)->jump.target, at(9));
}
