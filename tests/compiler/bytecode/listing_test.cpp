// The bytecode listing: the source lines it quotes, the text of operands and records, and
// whole listings of hand-made programs against reference files under listings/. Run with
// QUARN_UPDATE_LISTINGS=1 to rewrite a reference after a change made on purpose.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "bytecode_checks.h"
#include "bytecode_test_builder.h"
#include "compiler/core/foreign_routine_table.h"

TEST(DebuggerFileGetLine, Table) {
    struct Case {
        const char* name;
        std::string text;
        u32 line;
        std::string expected;
    };
    const Case cases[] = {
        {"LF: the first line has no break", "ab\ncd\nef", 1, "ab"},
        {"LF: a later line starts with the break before it", "ab\ncd\nef", 2, "\ncd"},
        {"LF: the last line", "ab\ncd\nef", 3, "\nef"},
        {"past the end: the last line", "ab\ncd\nef", 9, "\nef"},
        {"CR LF: one break, its line feed kept", "ab\r\ncd", 2, "\ncd"},
        {"CR LF: the first line stops at the CR", "ab\r\ncd", 1, "ab"},
        {"CR alone", "ab\rcd", 2, "\rcd"},
        {"LF CR: two breaks", "ab\n\rcd", 3, "\rcd"},
        {"empty lines", "\n\nx", 2, "\n"},
        {"a text ending in a break", "ab\n", 2, "\n"},
        {"CR LF pairs in a row", "a\r\n\r\nb", 3, "\nb"},
        {"empty text", "", 1, ""},
        {"empty text past the end", "", 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Source_File file = {};
        file.text = c.text.empty() ? nullptr : (u8*)c.text.data();
        file.text_size = (u32)c.text.size();
        String line = debugger_file_get_line(&file, c.line);
        EXPECT_EQ(text_of(line), c.expected);
        if (!c.text.empty()) {
            EXPECT_TRUE(line.data >= file.text && line.data + line.count <= file.text + file.text_size);
        }
    }
}

static const std::string ONE_LINE = "x\n";

TEST(BytecodeListing, OperandTexts) {
    ASSERT_TRUE(reset_test_program(ONE_LINE));
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    Register_Id constant_0 = allocate_constant_data(16, 16);
    Register_Id constant_10 = allocate_constant_data(4, 4);
    Register_Id type_data = allocate_constant_data(8, 8);
    get_register(type_data)->kind = REGISTER_TYPE_DATA;
    type_data.kind = REGISTER_TYPE_DATA;
    // After the shared float constants; the texts are about offsets, so they are set.
    get_register(constant_0)->data_offset = 0;
    get_register(constant_10)->data_offset = 0x10;
    get_register(type_data)->data_offset = 0x18;
    Register_Id global_0 = allocate_a_register(global_compiler_state.global_scope, 8, nullptr, 8);
    Register_Id global_8 = allocate_a_register(global_compiler_state.global_scope, 8, nullptr, 8);
    Register_Id slot_0 = allocate_a_register(body, 8, nullptr, 8);
    Register_Id slot_28 = allocate_a_register(body, 8, nullptr, 8);
    get_register(slot_28)->data_offset = 0x288;
    Register_Id integer = allocate_a_register(body, 8, type_of(BASIC_TYPE_S64), 8);
    get_register(integer)->machine_class = MACHINE_CLASS_INTEGER;
    get_register(integer)->machine_number = 15;
    get_register(integer)->in_machine_register = 1;
    Register_Id real = allocate_a_register(body, 8, type_of(BASIC_TYPE_F64), 8);
    get_register(real)->machine_class = MACHINE_CLASS_FLOAT;
    get_register(real)->machine_number = 3;
    get_register(real)->in_machine_register = 1;
    Sub_Program* callee = add_test_sub_program("callee", 1);
    Register_Id call_data = allocate_a_register_for_call_data(body, callee, 16);
    std::string owner = register_id_to_c_string(slot_0);
    owner = owner.substr(0, owner.find('-'));
    struct Case {
        const char* name;
        Register_Id id;
        std::string expected;
    };
    const Case cases[] = {
        {"constant data at 0", constant_0, "CD"},
        {"constant data further on", constant_10, "CD+0x10"},
        {"type data", type_data, "TD+0x18"},
        {"global data at 0", global_0, "GD"},
        {"global data further on", global_8, "GD+0x8"},
        {"a stack slot at 0", slot_0, "(" + owner + "-0) SB"},
        {"a stack slot further on", slot_28, "(" + owner + "-1) SB+0x288"},
        {"an integer register", integer, "(" + owner + "-2) MRI15"},
        {"a float register", real, "(" + owner + "-3) MRF3"},
        {"call data", call_data, "CallD"},
        {"a view at 0 is its base", allocate_within_register(slot_28, 0, 4), "(" + owner + "-1) SB+0x288"},
        {"a view further on", allocate_within_register(constant_10, 2, 2), "CD+0x10+0x2"},
        {"a view of a view", allocate_within_register(allocate_within_register(global_8, 4, 4), 2, 2), "GD+0x8+0x4+0x2"},
        {"no register", INVALID_REGISTER_ID, ""},
        {"a table that does not exist", Register_Id{0, 0, 9, 9, {0, 0}}, ""},
        {"an index past its table", Register_Id{0, 1000, 1, 1, {0, 0}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::string(get_bytecode_register_info(c.id)), c.expected);
    }
}

TEST(BytecodeListing, InstructionTexts) {
    ASSERT_TRUE(reset_test_program(ONE_LINE));
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    for (u32 k = 0; k < 4; k++) insert_bytecode(bytecode, BYTECODE_RETURN, line_trace(1));
    Sub_Program* callee = add_test_sub_program("callee", 1);
    Register_Id call_data = allocate_a_register_for_call_data(global_compiler_state.global_scope, callee, 8);
    Bytecode_Instruction* call = insert_bytecode(bytecode, BYTECODE_CALL, line_trace(1));
    call->callee = 0x2a0;
    call->call.call_data = call_data;
    Bytecode_Instruction* unknown = insert_bytecode(bytecode, 59, line_trace(1));
    Bytecode_Instruction* jump = insert_bytecode(bytecode, BYTECODE_JUMP_GREATER, line_trace(1));
    jump->jump.target = 0x140;
    Bytecode_Instruction* address = insert_bytecode(bytecode, BYTECODE_COPY_SUB_PROGRAM_ADDRESS, line_trace(1));
    address->operand_a = call_data;
    address->copy_sub_program_address.sub_program = callee;
    Bytecode_Instruction* first = record(0);
    EXPECT_EQ(text_of(get_bc_instruction_text(first, record(0))), "0x0 return ");
    EXPECT_EQ(text_of(get_bc_instruction_text(first, record(4))), "0x280 call 0x2a0 | arguments and return value: CallD");
    EXPECT_EQ(text_of(get_bc_instruction_text(first, record(5))), "0x320 UNKNOWN INSTRUCTION ");
    EXPECT_EQ(text_of(get_bc_instruction_text(first, record(6))), "0x3c0 jump gt 0x140");
    EXPECT_EQ(text_of(get_bc_instruction_text(first, record(7))), "0x460 copy sub-program address CallD <- callee");
    // A call as the fourth record: its line starts with its own offset, octet 480 (0x1e0).
    bytecode->count = 3;
    Bytecode_Instruction* at_480 = insert_bytecode(bytecode, BYTECODE_CALL, line_trace(1));
    at_480->callee = 0x2a0;
    at_480->call.call_data = call_data;
    EXPECT_EQ(text_of(get_bc_instruction_text(record(0), record(3))), "0x1e0 call 0x2a0 | arguments and return value: CallD");
    (void)unknown;
}

//~ Reference listings

static std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

static void expect_listing(const char* name) {
    std::vector<std::string> faults = check_program_bytecode();
    EXPECT_EQ(faults, std::vector<std::string>{});
    std::string actual = listing_text();
    std::string path = std::string(QUARN_BYTECODE_TEST_DIR) + "/listings/" + name + ".expect";
    if (getenv("QUARN_UPDATE_LISTINGS")) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    EXPECT_EQ(actual, read_file(path)) << "compare with " << path;
}

static const std::string STRAIGHT_LINE =
    "#on_load {\n"
    "    count: u32;\n"
    "    total: s64 = count + 7;\n"
    "    ratio: f64 = ratio * 2.5;\n"
    "    name: String = \"quarn\";\n"
    "    same := name == \"quarn\" && name == other;\n"
    "    cells: @u16 = get(); cell := cells[3]; at := *cells[total];\n"
    "    flags & 0x80; big := cast(s64) count; small := cast(f32) ratio;\n"
    "    debug_break;\n"
    "}\n";

static void build_straight_line() {
    Identifier* u32_type = type_of(BASIC_TYPE_U32);
    Identifier* s64_type = type_of(BASIC_TYPE_S64);
    Identifier* f64_type = type_of(BASIC_TYPE_F64);
    Identifier* string = type_of(BASIC_TYPE_STRING);
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    start_body(body, 1);
    Value count = variable(body, u32_type, 2);
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = count;
    Value total = variable(body, s64_type, 3);
    add_cast(body, CAST_INTEGER_TO_LARGER, total, count, 1);
    add_arithmetic(body, INSTRUCTION_ARITHMETIC_CONSTANT, OP_ADD, total, int_constant(7, s64_type, 3));
    Value ratio = variable(body, f64_type, 4);
    Value factor = {}, two_and_a_half = real_constant(2.5, 4);
    get_or_add_float_constant(&factor, &two_and_a_half);
    add_arithmetic(body, INSTRUCTION_ARITHMETIC, OP_MULTIPLY, ratio, factor);
    Value name = variable(body, string, 5);
    add_copy(body, INSTRUCTION_COPY_CONSTANT, name, string_constant("quarn", 5));
    Value same = variable(body, type_of(BASIC_TYPE_B8), 6);
    add_copy(body, INSTRUCTION_BLOCK_COMPARE_CONSTANT, at_line(name, 6), string_constant("quarn", 6));
    add_compare_result(body, OP_EQUAL, same);
    Value other = variable(body, string, 6);
    add_copy(body, INSTRUCTION_BLOCK_COMPARE, at_line(name, 6), other);
    Value same_too = variable(body, type_of(BASIC_TYPE_B8), 6);
    add_compare_result(body, OP_EQUAL, same_too);
    add_arithmetic(body, INSTRUCTION_ARITHMETIC, OP_LOGICAL_AND, same, same_too);
    Identifier* cells_type = type_to_memory_address_of_type(type_of(BASIC_TYPE_U16), 1);
    Value cells = variable(body, cells_type, 7);
    Value cell = variable(body, type_of(BASIC_TYPE_U16), 7);
    add_address(body, INSTRUCTION_LOAD, cell, cells, int_constant(3, s64_type, 7));
    Value at = variable(body, cells_type, 7);
    add_address(body, INSTRUCTION_ADDRESS, at, cells, total);
    add_copy(body, INSTRUCTION_TEST_FLAGS, at_line(count, 8), int_constant(0x80, u32_type, 8));
    Value big = variable(body, s64_type, 8);
    add_cast(body, CAST_INTEGER_TO_LARGER, big, count, 1);
    Value small = variable(body, type_of(BASIC_TYPE_F32), 8);
    add_cast(body, CAST_REAL_TO_SMALLER, small, ratio);
    add_copy(body, INSTRUCTION_COPY, at_line(total, 8), big);
    add_debug_break(body, 9);
    end_body(body, 10);
}

TEST(BytecodeListing, StraightLine) {
    ASSERT_TRUE(reset_test_program(STRAIGHT_LINE));
    build_straight_line();
    ASSERT_TRUE(make_test_bytecode());
    expect_listing("straight_line");
}

static const std::string CONTROL_FLOW =
    "#on_load {\n"
    "    i: s32 = 0; total: u64 = 0;\n"
    "    while i < 10 && total != 3 {\n"
    "        if i == 5 { continue; }\n"
    "        i += 1;\n"
    "        for 4 -> k { if k == 2 { break 1; } total += 1; }\n"
    "    }\n"
    "    if i > 3 || total == 0 { total = 1; }\n"
    "    else if i == 4 { total = 2; }\n"
    "    else { total = 3; }\n"
    "    switch i { 1: total = 4; #no_break  2: total = 5; : total = 6; }\n"
    "    name: String; switch name { \"a\": i = 7; }\n"
    "}\n";

static void build_control_flow() {
    Identifier* s32_type = type_of(BASIC_TYPE_S32);
    Identifier* u64_type = type_of(BASIC_TYPE_U64);
    Identifier* u8_type = type_of(BASIC_TYPE_U8);
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    start_body(body, 1);
    Value i = variable(body, s32_type, 2);
    Value total = variable(body, u64_type, 2);
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = i;
    add_instruction(body, INSTRUCTION_SET_TO_ZERO)->value = total;

    Instruction_While* w = add_while(body, 3);
    Scope* loop = w->loop_scope;
    w->conditions = make_condition(loop,
                                   {{0, i, 10, BYTECODE_JUMP_GREATER_EQUAL},
                                    {OP_LOGICAL_AND},
                                    {0, total, 3, BYTECODE_JUMP_EQUAL}},
                                   3);
    std::vector<Scope*> skip = add_if_chain(loop, {make_condition(loop, {{0, i, 5, BYTECODE_JUMP_NOT_EQUAL}}, 4)}, false, 4);
    add_loop_jump(skip[0], LOOP_JUMP_CONTINUE, 0, 4);
    add_arithmetic(loop, INSTRUCTION_ARITHMETIC_CONSTANT, OP_ADD, at_line(i, 5), int_constant(1, s32_type, 5));
    Identifier* k = add_variable(loop, "k", u8_type, 6);
    Value k_value = {};
    make_value_from_identifier(&k_value, k, line_trace(6));
    add_instruction(loop, INSTRUCTION_SET_TO_ZERO)->value = k_value;
    Scope* counted = add_for(loop, k, int_constant(4, u8_type, 6), OP_LESS, 6);
    std::vector<Scope*> leave = add_if_chain(counted, {make_condition(counted, {{0, k_value, 2, BYTECODE_JUMP_NOT_EQUAL}}, 6)}, false, 6);
    add_loop_jump(leave[0], LOOP_JUMP_BREAK, 1, 6);
    add_arithmetic(counted, INSTRUCTION_ARITHMETIC_CONSTANT, OP_ADD, at_line(total, 6), int_constant(1, u64_type, 6));
    add_arithmetic(counted, INSTRUCTION_ARITHMETIC_CONSTANT, OP_INCREMENT, k_value, int_constant(1, u8_type, 6));

    std::vector<Scope*> links = add_if_chain(
        body,
        {make_condition(body, {{0, i, 3, BYTECODE_JUMP_LESS_EQUAL}, {OP_LOGICAL_OR}, {0, total, 0, BYTECODE_JUMP_NOT_EQUAL}}, 8),
         make_condition(body, {{0, i, 4, BYTECODE_JUMP_NOT_EQUAL}}, 9)},
        true, 8);
    for (u32 n = 0; n < 3; n++) {
        add_copy(links[n], INSTRUCTION_COPY_CONSTANT, at_line(total, 8 + n), int_constant(n + 1, u64_type, 8 + n));
    }

    std::vector<Scope*> cases = add_switch(body, at_line(i, 11), {int_constant(1, s32_type, 11), int_constant(2, s32_type, 11)}, true, 11,
                                           {true, false});
    for (u32 n = 0; n < 3; n++) {
        add_copy(cases[n], INSTRUCTION_COPY_CONSTANT, at_line(total, 11), int_constant(n + 4, u64_type, 11));
    }
    Value name = variable(body, type_of(BASIC_TYPE_STRING), 12);
    std::vector<Scope*> texts = add_switch(body, name, {string_constant("a", 12)}, false, 12);
    add_copy(texts[0], INSTRUCTION_COPY_CONSTANT, at_line(i, 12), int_constant(7, s32_type, 12));
    end_body(body, 13);
}

TEST(BytecodeListing, LoopsIfChainsAndSwitches) {
    ASSERT_TRUE(reset_test_program(CONTROL_FLOW));
    build_control_flow();
    ASSERT_TRUE(make_test_bytecode());
    expect_listing("control_flow");
}

static const std::string CALLS =
    "$helper :: (a: s64) -> s64 { return a * 2; }\n"
    "$twice :: (x: s32) -> s32 #inline { if x { return 1; } return 2; }\n"
    "#on_load {\n"
    "    r := helper(5);\n"
    "    log(\"%\", .[int_to_string(r)]);\n"
    "    f := helper; g := f(6);\n"
    "    t := twice(cast(s32) r);\n"
    "}\n";

static void build_calls() {
    Identifier* s64_type = type_of(BASIC_TYPE_S64);
    Identifier* s32_type = type_of(BASIC_TYPE_S32);
    const u8 SCALAR_CALL = CALL_ARGUMENT_BLOCK | CALL_EXPECTS_A_VALUE | CALL_SCALAR_RETURN;

    Sub_Program* helper = add_test_sub_program("helper", 1, s64_type);
    helper->flags |= SUB_PROGRAM_SCALAR_RETURN;
    Scope* h = helper->body_scope;
    start_body(h, 1);
    Register_Id call_data = allocate_a_register_for_call_data(h, helper, 16);
    Value a = {}, returned = {};
    make_dynamic_value_from_register(&a, allocate_within_register(call_data, 0, 8), s64_type, line_trace(1));
    make_dynamic_value_from_register(&returned, allocate_within_register(call_data, 8, 8), s64_type, line_trace(1));
    Value product = variable(h, s64_type, 1);
    add_copy(h, INSTRUCTION_COPY, product, a);
    add_arithmetic(h, INSTRUCTION_ARITHMETIC_CONSTANT, OP_MULTIPLY, product, int_constant(2, s64_type, 1));
    add_copy(h, INSTRUCTION_COPY, returned, product);
    end_body(h, 1);

    Sub_Program* twice = add_test_sub_program("twice", 2, s32_type);
    twice->flags = (twice->flags | IDENTIFIER_INLINE) & ~IDENTIFIER_IN_SUB_PROGRAM_LIST;
    global_compiler_state.sub_programs.count--;  // an inline sub-program has no body of its own

    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 3);
    start_body(body, 3);
    Register_Id block = allocate_a_register(body, 16, nullptr, 8);
    get_register(block)->flags |= REGISTER_ARGUMENT_BLOCK;
    Value argument = {};
    make_dynamic_value_from_register(&argument, allocate_within_register(block, 0, 8), s64_type, line_trace(4));
    add_copy(body, INSTRUCTION_COPY_CONSTANT, argument, int_constant(5, s64_type, 4));
    Value result = variable(body, s64_type, 4);
    add_call(body, helper, 4, block, result.dynamic.register_id, SCALAR_CALL);
    Value r = variable(body, s64_type, 4);
    add_copy(body, INSTRUCTION_COPY, r, result);

    Sub_Program* log = add_test_foreign_sub_program("log", 5);
    // log's parameter block: the format, the values and their count.
    Register_Id parameters = allocate_a_register(body, 32, nullptr, 8);
    add_call(body, log, 5, parameters, INVALID_REGISTER_ID, CALL_ARGUMENT_BLOCK);

    Value f = variable(body, helper, 6);
    Value address = {};
    make_constant_value_from_type(&address, helper, line_trace(6));
    address.constant.mask = CONSTANT_TYPED;
    address.constant.type = helper;
    add_copy(body, INSTRUCTION_COPY_CONSTANT, at_line(f, 6), address);
    Register_Id second_block = allocate_a_register(body, 16, nullptr, 8);
    Value g = variable(body, s64_type, 6);
    Instruction_Call* through = add_call(body, helper, 6, second_block, g.dynamic.register_id, SCALAR_CALL | CALL_THROUGH_ADDRESS);
    through->callee_address = f.dynamic.register_id;
    add_copy(body, INSTRUCTION_COPY, at_line(r, 6), g);

    Value t = variable(body, s32_type, 7);  // the expansion's result
    Scope* root = add_inline_expansion(body, twice, t, 7);
    start_body(root, 7);
    Value x = variable(root, s32_type, 7);
    add_cast(root, CAST_INTEGER_TO_SMALLER, x, at_line(r, 7));
    std::vector<Scope*> when = add_if_chain(root, {make_condition(root, {{0, x, 0, BYTECODE_JUMP_ZERO}}, 7)}, false, 7);
    add_inline_return(when[0], root, int_constant(1, s32_type, 7), 7, false);
    add_inline_return(root, root, int_constant(2, s32_type, 7), 7, true);
    end_body(body, 8);
}

TEST(BytecodeListing, CallsAForeignCallAndAnInlineExpansion) {
    ASSERT_TRUE(reset_test_program(CALLS));
    build_calls();
    ASSERT_TRUE(make_test_bytecode()) << compile_error_messages()[0];
    expect_listing("calls");
}

// Two compiles in one process give the same bytecode, as tables and as listings.
TEST(BytecodeListing, TwoCompilesGiveTheSameListing) {
    std::string first, second;
    for (std::string* listing : {&first, &second}) {
        ASSERT_TRUE(reset_test_program(CALLS));
        build_calls();
        ASSERT_TRUE(make_test_bytecode());
        *listing = listing_text();
    }
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
}
