// The record builders: appending, the two opposite-jump tables, and the kinds a copy of
// each sort of constant or register becomes.
#include <gtest/gtest.h>

#include "bytecode_test_builder.h"

static const std::string SOURCE = "line one\nline two\nline three\n";

TEST(BytecodeAppend, GrowsFromOneRecordByDoublingAndKeepsEarlierRecords) {
    Dynamic_Array a;
    init_dynamic_array(&a, BYTECODE_INSTRUCTION_SIZE);
    std::vector<u32> capacities;
    for (u32 n = 0; n < 9; n++) {
        Trace t = {};
        t.line = n + 1;
        Bytecode_Instruction* i = insert_bytecode(&a, BYTECODE_JUMP, t);
        ASSERT_NE(i, nullptr);
        i->jump.target = n * BYTECODE_INSTRUCTION_SIZE;
        capacities.push_back(a.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<u32>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
    for (u32 n = 0; n < 9; n++) {
        Bytecode_Instruction* i = get_bytecode_instruction(&a, n);
        EXPECT_EQ(i->line, n + 1);
        EXPECT_EQ(i->kind, BYTECODE_JUMP);
        EXPECT_EQ(i->jump.target, n * BYTECODE_INSTRUCTION_SIZE);
    }
    dynamic_array_free(&a);
}

TEST(BytecodeAppend, TheCompileArrayStopsAtItsBlockWithAReport) {
    ASSERT_TRUE(reset_test_program(SOURCE));
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    bytecode->count = BYTECODE_CAPACITY;
    EXPECT_EQ(insert_bytecode(bytecode, BYTECODE_RETURN, Trace{}), nullptr);
    EXPECT_EQ(bytecode->count, BYTECODE_CAPACITY);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"The compiler ran out of memory for bytecode."}));
    bytecode->count = 0;
}

TEST(OppositeJumps, Tables) {
    struct Case {
        u64 operator_bit;
        u8 jump;
    };
    static const Case cases[] = {
        {OP_NOT_EQUAL, BYTECODE_JUMP_EQUAL},     {OP_LESS, BYTECODE_JUMP_GREATER_EQUAL},
        {OP_LESS_EQUAL, BYTECODE_JUMP_GREATER}, {OP_GREATER, BYTECODE_JUMP_LESS_EQUAL},
        {OP_GREATER_EQUAL, BYTECODE_JUMP_LESS}, {OP_EQUAL, BYTECODE_JUMP_NOT_EQUAL},
        {OP_ADD, 0},                             {OP_LOGICAL_AND, 0},
        {OP_LESS | OP_EQUAL, 0},                 {0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(operator_to_c_string(c.operator_bit));
        EXPECT_EQ(get_opposite_comparison_jump(c.operator_bit), c.jump);
    }
    static const u8 pairs[][2] = {{42, 43}, {44, 47}, {45, 46}, {48, 49}};
    for (auto& p : pairs) {
        EXPECT_EQ(get_opposite_comparison_jump2(p[0]), p[1]);
        EXPECT_EQ(get_opposite_comparison_jump2(p[1]), p[0]);
    }
    for (u8 kind = 0; kind < 60; kind++) {
        u8 opposite = get_opposite_comparison_jump2(kind);
        if (kind >= 42 && kind <= 49) {
            EXPECT_EQ(get_opposite_comparison_jump2(opposite), kind) << (int)kind;
        } else {
            EXPECT_EQ(opposite, 0) << (int)kind;
        }
    }
}

// A copy instruction as the core's emitters leave it, lowered into a body.
static Bytecode_Instruction* lower_copy(Scope* body, u8 kind, Value destination, Value source, Dynamic_Array* patches) {
    Instruction in = {};
    in.kind = kind;
    in.copy.destination = destination;
    in.copy.source = source;
    b8 ok = kind <= INSTRUCTION_COPY_CONSTANT_INDIRECT ? make_bytecode_for_constant_copy(body, &global_compiler_state.bytecode, &in, patches)
                                                        : make_bytecode_for_variable_copy(body, &global_compiler_state.bytecode, &in);
    return ok ? record(record_count() - 1) : nullptr;
}

TEST(ConstantCopies, KindsByConstant) {
    ASSERT_TRUE(reset_test_program(SOURCE));
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    Sub_Program* callee = add_test_sub_program("callee", 2);
    Identifier* point = add_test_struct(global_compiler_state.global_scope, "Point",
                                        {{"x", type_of(BASIC_TYPE_S64)}, {"y", type_of(BASIC_TYPE_S64)}});
    Value pointer_slot = variable(body, type_to_memory_address_of_type(type_of(BASIC_TYPE_U8), 1), 1);
    Value string_slot = variable(body, type_of(BASIC_TYPE_STRING), 1);

    Value integer = int_constant(0x1234, type_of(BASIC_TYPE_U32), 1);
    integer.constant.mask = CONSTANT_UNSIGNED;  // as a literal: untyped
    integer.constant.size = 2;
    Value real = real_constant(2.5, 1);
    Value pointer = int_constant(0x40, type_to_memory_address_of_type(type_of(BASIC_TYPE_U8), 1), 1);
    Value type_value = {};
    make_constant_value_from_type(&type_value, type_of(BASIC_TYPE_S32), line_trace(1));
    Value text = string_constant("hello", 1);
    Value structure = {};
    Register_Id point_data = allocate_constant_data(point->size, point->alignment);
    make_constant_value_from_register(&structure, point_data, point, line_trace(1));
    // A sub-program used as a value: a constant of the sub-program's own type.
    Value sub_program = {};
    make_constant_value_from_type(&sub_program, callee, line_trace(1));
    sub_program.constant.mask = CONSTANT_TYPED;
    sub_program.constant.type = callee;

    Value u32_slot = variable(body, type_of(BASIC_TYPE_U32), 1);
    Value f64_slot = variable(body, type_of(BASIC_TYPE_F64), 1);
    Value type_slot = variable(body, type_of(BASIC_TYPE_TYPE), 1);
    Value point_slot = variable(body, point, 1);
    Value address_slot = variable(body, callee, 1);

    struct Case {
        const char* name;
        Value destination;
        Value constant;
        u8 instruction;
        u8 kind;
    };
    const Case cases[] = {
        {"integer literal", u32_slot, integer, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_NUMBER},
        {"integer through an address", through_address(pointer_slot), integer, INSTRUCTION_COPY_CONSTANT_INDIRECT,
         BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT},
        {"real literal", f64_slot, real, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_NUMBER},
        {"typed address", pointer_slot, pointer, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_NUMBER},
        {"a type", type_slot, type_value, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_NUMBER},
        {"string", string_slot, text, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_STRUCT},
        {"string through an address", through_address(pointer_slot), text, INSTRUCTION_COPY_CONSTANT_INDIRECT,
         BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT},
        {"struct", point_slot, structure, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_CONSTANT_STRUCT},
        {"sub-program", address_slot, sub_program, INSTRUCTION_COPY_CONSTANT, BYTECODE_COPY_SUB_PROGRAM_ADDRESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array patches;
        init_dynamic_array(&patches, sizeof(u32));
        Bytecode_Instruction* i = lower_copy(body, c.instruction, c.destination, c.constant, &patches);
        ASSERT_NE(i, nullptr);
        EXPECT_EQ(i->kind, c.kind);
        EXPECT_EQ(i->line, 1u);
        EXPECT_TRUE(registers_match(i->operand_a, c.destination.dynamic.register_id));
        switch (c.kind) {
            case BYTECODE_COPY_CONSTANT_NUMBER:
            case BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT:
                EXPECT_EQ(i->copy_constant_number.immediate, c.constant.constant.data);
                EXPECT_EQ(i->copy_constant_number.constant_size, c.constant.constant.size);
                EXPECT_EQ(i->copy_constant_number.has_companion, 0);
                EXPECT_EQ(i->copy_constant_number.companion, 0xFFFFFFFFu);
                break;
            case BYTECODE_COPY_SUB_PROGRAM_ADDRESS:
                EXPECT_EQ(i->copy_sub_program_address.sub_program, callee);
                ASSERT_EQ(patches.count, 1u);
                EXPECT_EQ(((u32*)patches.data)[0], record_count() - 1);
                break;
            default:
                EXPECT_TRUE(registers_match(i->copy.source, c.constant.constant.register_id));
        }
        if (c.kind != BYTECODE_COPY_SUB_PROGRAM_ADDRESS) {
            EXPECT_EQ(patches.count, 0u);
        }
        dynamic_array_free(&patches);
    }

    // The literal's bits, and the width of the place and of the constant.
    Bytecode_Instruction* i = lower_copy(body, INSTRUCTION_COPY_CONSTANT, u32_slot, integer, nullptr);
    EXPECT_EQ(i->copy_constant_number.destination_size, 4);
    EXPECT_EQ(i->copy_constant_number.constant_size, 2);
    i = lower_copy(body, INSTRUCTION_COPY_CONSTANT, f64_slot, real, nullptr);
    f64 bits = 2.5;
    EXPECT_EQ(memcmp(&i->copy_constant_number.immediate, &bits, 8), 0);

    // A constant that carries a companion word passes it on.
    Value companion = pointer;
    companion.constant.mask |= CONSTANT_COMPANION;
    companion.constant.companion = 7;
    i = lower_copy(body, INSTRUCTION_COPY_CONSTANT, pointer_slot, companion, nullptr);
    EXPECT_EQ(i->copy_constant_number.has_companion, 1);
    EXPECT_EQ(i->copy_constant_number.companion, 7u);

    // Register copies, and both registers' lifetimes reach the copy.
    u32 at = record_count();
    i = lower_copy(body, INSTRUCTION_COPY, u32_slot, variable(body, type_of(BASIC_TYPE_U32), 1), nullptr);
    EXPECT_EQ(i->kind, BYTECODE_COPY);
    EXPECT_EQ(get_first_non_view_register(i->copy.source)->first_use, at);
    EXPECT_EQ(get_first_non_view_register(i->copy.destination)->last_use, at);
    i = lower_copy(body, INSTRUCTION_COPY_INDIRECT, through_address(pointer_slot), u32_slot, nullptr);
    EXPECT_EQ(i->kind, BYTECODE_COPY_INDIRECT);
}
