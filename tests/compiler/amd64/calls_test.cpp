// Jumps, frames, calls and foreign calls executed as whole programs: an entry block entered
// as the editor enters it, sub-programs called from it, foreign calls reaching the
// recording dispatcher. Every program is linted; after each run every register of the
// caller holds what it held before.
#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

#define TEMPORARY_GP  0x00CF
#define TEMPORARY_XMM 0x0003
#define INSTRUCTION   ((u64)sizeof(Bytecode_Instruction))

// What every entry block saves: all general-purpose registers but RSP, all YMM registers.
#define ENTRY_SAVES (15 * 8 + 16 * 32)
// What every sub-program saves at least: RBP, RSI and RDI.
#define SUB_PROGRAM_SAVES 24

//~ Builders

// Embedded code that keeps RSP where RBP points, at the offset.
static Bytecode_Instruction record_rsp(u32 offset) {
    static std::vector<std::vector<u8>> kept;
    std::vector<u8> bytes = {0x48, 0x89, 0xA5, 0, 0, 0, 0};  // mov [rbp+disp32], rsp
    store_u32(&bytes[3], offset);
    kept.push_back(bytes);
    Bytecode_Instruction i = fixture_instruction(BYTECODE_EMBED_MACHINE_CODE);
    i.machine_code.code = kept.back().data();
    i.machine_code.count = 7;
    return i;
}

static Identifier* type_of(std::deque<Identifier>* types, u64 flags, u32 size) {
    Identifier& t = types->emplace_back();
    memset(&t, 0, sizeof(t));
    t.flags = flags;
    t.size = size;
    return &t;
}

// Runs a whole program from its first instruction; the code must give back every register.
static Harness_Run run_program(Translation_Fixture* f, std::vector<Bytecode_Instruction>* program,
                               std::string* failure) {
    Translated_Program t = fixture_translate_program(f, program);
    if (!t.ok) {
        *failure = t.errors.empty() ? "translation failed" : t.errors[0];
        return {};
    }
    Harness_Run run = harness_run(t.program, harness_canaries());
    if (run.faulted) *failure = run.fault;
    else *failure = harness_changed_registers(run.entered, run.registers, 0, 0);
    return run;
}

//~ Jumps

// Every conditional jump after integer and float compares: a row stores 1, compares, jumps
// over the store of 0 when taken. Float jumps are the front end's "taken when the
// comparison fails": a NaN takes every one but "equal".
TEST(Jumps, EveryConditionAfterEveryKindOfCompare) {
    HARNESS_REQUIRE_AVX();
    static const s64 integers[] = {0, 1, -1, INT64_MIN, INT64_MAX};
    static const f64 reals[] = {0.0, -0.0, 1.5, -2.0, INFINITY, NAN};
    Translation_Fixture f;
    fixture_reset(&f, 16);
    struct Row {
        u8 kind;
        u8 form;  // 0 signed, 1 unsigned, 2 float
        u32 a, b;
        bool expected;
    };
    std::vector<Row> rows;
    for (u8 kind = BYTECODE_JUMP_EQUAL; kind <= BYTECODE_JUMP_ZERO; kind++) {
        for (u8 form = 0; form < 3; form++) {
            u32 count = form == 2 ? ARRAY_COUNT(reals) : ARRAY_COUNT(integers);
            for (u32 a = 0; a < count; a++) {
                for (u32 b = 0; b < count; b++) {
                    bool eq, lt, gt;
                    if (form == 0) {
                        eq = integers[a] == integers[b], lt = integers[a] < integers[b], gt = integers[a] > integers[b];
                    } else if (form == 1) {
                        u64 x = (u64)integers[a], y = (u64)integers[b];
                        eq = x == y, lt = x < y, gt = x > y;
                    } else {
                        f64 x = reals[a], y = reals[b];
                        bool unordered = isnan(x) || isnan(y);
                        // An ordering jump is the failure of the opposite comparison.
                        eq = x == y, lt = x < y || unordered, gt = x > y || unordered;
                    }
                    bool taken = false;
                    switch (kind) {
                        case BYTECODE_JUMP_EQUAL: case BYTECODE_JUMP_ZERO: taken = eq; break;
                        case BYTECODE_JUMP_NOT_EQUAL: case BYTECODE_JUMP_NOT_ZERO: taken = !eq; break;
                        case BYTECODE_JUMP_LESS: taken = lt; break;
                        case BYTECODE_JUMP_LESS_EQUAL: taken = lt || eq; break;
                        case BYTECODE_JUMP_GREATER: taken = gt; break;
                        case BYTECODE_JUMP_GREATER_EQUAL: taken = gt || eq; break;
                    }
                    rows.push_back({kind, form, a, b, taken});
                }
            }
        }
    }
    std::vector<Register_Id> integer_ids, real_ids;
    for (s64 v : integers) {
        Register_Id g = fixture_global(&f, 8);
        store_u64(&f.globals[fixture_offset(g)], (u64)v);
        integer_ids.push_back(g);
    }
    for (f64 v : reals) {
        Register_Id g = fixture_global(&f, 8);
        memcpy(&f.globals[fixture_offset(g)], &v, 8);
        real_ids.push_back(g);
    }
    Register_Id outputs = fixture_global(&f, (u32)rows.size());
    std::vector<Bytecode_Instruction> program;
    for (u32 r = 0; r < rows.size(); r++) {
        const Row& row = rows[r];
        Register_Id out = fixture_view(outputs, r, 1);
        program.push_back(fixture_constant_copy(out, 1, 1));
        Bytecode_Instruction c = fixture_instruction(row.form == 2 ? BYTECODE_FLOAT_COMPARE : BYTECODE_COMPARE);
        if (row.form == 2) {
            c.compare.left = real_ids[row.a];
            c.compare.right = real_ids[row.b];
        } else {
            c.compare_flags.left = integer_ids[row.a];
            c.compare_flags.right = integer_ids[row.b];
            c.compare_flags.size = 8;
        }
        program.push_back(c);
        program.push_back(fixture_jump(row.kind, program.size() + 2, row.form == 1, row.form == 2));
        program.push_back(fixture_constant_copy(out, 0, 1));
    }
    program.push_back(fixture_jump(BYTECODE_JUMP, program.size() + 1));  // a jump to the next instruction
    Bytecode_Instruction nothing = fixture_instruction(BYTECODE_EMBED_MACHINE_CODE);
    nothing.machine_code = {0, 0};
    program.push_back(nothing);
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM), "");
    static const char* const FORMS[] = {"signed", "unsigned", "float"};
    for (u32 r = 0; r < rows.size(); r++) {
        const Row& row = rows[r];
        std::string a = row.form == 2 ? std::to_string(reals[row.a]) : std::to_string(integers[row.a]);
        std::string b = row.form == 2 ? std::to_string(reals[row.b]) : std::to_string(integers[row.b]);
        EXPECT_EQ(run.globals[fixture_offset(outputs) + r], row.expected ? 1 : 0)
            << bytecode_kind_name(row.kind) << ", " << FORMS[row.form] << ", " << a << " against " << b;
    }
}

//~ Frames

// Entry blocks and sub-programs of every stack size modulo 16: RSP is 8 (mod 16) in every
// body, a callee keeps what its caller holds in the registers it uses, and the editor gets
// every register back.
TEST(Frames, EveryBodyRunsAlignedAndEveryRegisterComesBack) {
    HARNESS_REQUIRE_AVX();
    for (u64 entry_extra : {0, 1, 8, 15, 24}) {
        SCOPED_TRACE("entry block stack " + std::to_string(ENTRY_SAVES + entry_extra));
        Translation_Fixture f;
        fixture_reset(&f, 0);
        u16 held_gp = (1u << AMD64_R8) | (1u << AMD64_R12) | (1u << AMD64_R15), held_xmm = (1u << 3) | (1u << 9);
        Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + entry_extra, held_gp, held_xmm);
        Register_Id outputs = fixture_global(&f, 64);
        std::vector<Register_Id> held;
        for (u8 r : {AMD64_R8, AMD64_R12, AMD64_R15}) held.push_back(fixture_local_register(entry, MACHINE_CLASS_INTEGER, r, 8));
        for (u8 x : {3, 9}) held.push_back(fixture_local_register(entry, MACHINE_CLASS_FLOAT, x, 8));

        std::vector<Bytecode_Instruction> program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry), record_rsp(0)};
        for (u32 k = 0; k < held.size(); k++) program.push_back(fixture_constant_copy(held[k], 0x1111111111111111ull * (k + 1), 8));
        std::vector<Sub_Program*> callees;
        for (u32 k = 0; k < 16; k++) {
            callees.push_back(fixture_sub_program(&f));
            program.push_back(fixture_call(BYTECODE_CALL, callees[k], INVALID_REGISTER_ID, INVALID_REGISTER_ID, 0));
        }
        for (u32 k = 0; k < held.size(); k++) program.push_back(fixture_copy(fixture_view(outputs, 8 * k, 8), held[k]));
        program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry));
        program.push_back(fixture_instruction(BYTECODE_RETURN));
        // Sixteen callees of every stack size modulo 16, each using and changing the registers
        // its caller holds values in.
        for (u32 k = 0; k < 16; k++) {
            Scope* body = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 5 * 8 + 32 * 2 + k,
                                        held_gp, held_xmm);
            callees[k]->bytecode_start = program.size() * INSTRUCTION;
            program.push_back(fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, body));
            program.push_back(record_rsp(8 + 8 * k));
            for (u8 r : {AMD64_R8, AMD64_R12, AMD64_R15}) {
                program.push_back(fixture_constant_copy(fixture_local_register(body, MACHINE_CLASS_INTEGER, r, 8), 0xBAD0 + k, 8));
            }
            for (u8 x : {3, 9}) program.push_back(fixture_constant_copy(fixture_local_register(body, MACHINE_CLASS_FLOAT, x, 8), 0xBAD, 8));
            program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, body));
            program.push_back(fixture_instruction(BYTECODE_RETURN));
        }
        std::string failure;
        Harness_Run run = run_program(&f, &program, &failure);
        ASSERT_EQ(failure, "");
        for (u32 k = 0; k < 17; k++) EXPECT_EQ(load_u64(&run.call_data[8 * k]) % 16, 8u) << "body " << k;
        for (u32 k = 0; k < held.size(); k++) {
            EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * k]), 0x1111111111111111ull * (k + 1)) << k;
        }
        // The frame is the stack padded to the parity the body needs; the saves are its bottom.
        EXPECT_EQ(entry->frame_size % 16, 0u);
        EXPECT_EQ(entry->spill_size, (u32)ENTRY_SAVES);
        EXPECT_GE(entry->frame_size, entry->stack_size);
        EXPECT_LT(entry->frame_size, entry->stack_size + 16);
        EXPECT_EQ(entry->prologue_start, 0u);
        EXPECT_EQ(entry->prologue_end, program[1].code_start);
        EXPECT_EQ(f.frames[1].frame_size % 16, 8u);
        EXPECT_EQ(f.frames[1].spill_size, (u32)SUB_PROGRAM_SAVES + 3 * 8 + 32 * 2);
    }
}

//~ Calls

// n! by recursion for n = 0 to 20, called in a counted loop from an entry block that stores
// each result through an element address.
TEST(Calls, RecursiveFactorials) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 16, (1u << AMD64_R12) | (1u << AMD64_R14));
    Scope* body = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 16);
    Sub_Program* factorial = fixture_sub_program(&f);
    Register_Id outputs = fixture_global(&f, 8 * 21);
    Register_Id i = fixture_local_register(entry, MACHINE_CLASS_INTEGER, AMD64_R12, 8);
    Register_Id first = fixture_local_register(entry, MACHINE_CLASS_INTEGER, AMD64_R14, 8);
    Register_Id block = fixture_local(entry, ENTRY_SAVES, 16);
    // The callee's view of its block, through RBP, and its caller's view of a block it passes.
    Register_Id n = fixture_view(f.call_data_block, 0, 8);
    Register_Id returned = fixture_view(f.call_data_block, 8, 8);
    amd64_get_register(returned)->return_register = RETURN_REGISTER_RAX;
    Register_Id inner = fixture_local(body, SUB_PROGRAM_SAVES, 16);

    Bytecode_Instruction take = fixture_instruction(BYTECODE_TAKE_ADDRESS);
    take.take_address = {first, outputs};
    Bytecode_Instruction element = fixture_instruction(BYTECODE_CALCULATE_ADDRESS);
    element.address = {first, first, i, 8, 8, 0, 0};
    Bytecode_Instruction store = fixture_copy(first, fixture_view(block, 8, 8));
    store.kind = BYTECODE_COPY_INDIRECT;
    Bytecode_Instruction times_n = fixture_instruction(BYTECODE_INT_ARITHMETIC);
    times_n.int_arithmetic.destination = fixture_view(inner, 8, 8);
    times_n.int_arithmetic.source = n;
    times_n.int_arithmetic.operator_bit = OP_MULTIPLY;
    std::vector<Bytecode_Instruction> program = {
        /* 0 */ fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry),
        /* 1 */ fixture_constant_copy(i, 0, 8),
        /* 2 */ fixture_copy(fixture_view(block, 0, 8), i),
        /* 3 */ fixture_call(BYTECODE_CALL, factorial, block, fixture_view(block, 8, 8), CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN),
        /* 4 */ take,
        /* 5 */ element,
        /* 6 */ store,
        /* 7 */ fixture_arithmetic_constant(i, OP_ADD, 1, 8),
        /* 8 */ fixture_compare_to_constant(i, 21),
        /* 9 */ fixture_jump(BYTECODE_JUMP_LESS, 2),
        /* 10 */ fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry),
        /* 11 */ fixture_instruction(BYTECODE_RETURN),
        // factorial: n <= 1 gives 1, else n * factorial(n - 1)
        /* 12 */ fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, body),
        /* 13 */ fixture_instruction(BYTECODE_COPY_ARGUMENTS_ADDRESS),
        /* 14 */ fixture_compare_to_constant(n, 1),
        /* 15 */ fixture_jump(BYTECODE_JUMP_GREATER, 18, 1),
        /* 16 */ fixture_constant_copy(returned, 1, 8),
        /* 17 */ fixture_jump(BYTECODE_JUMP, 23),
        /* 18 */ fixture_copy(fixture_view(inner, 0, 8), n),
        /* 19 */ fixture_arithmetic_constant(fixture_view(inner, 0, 8), OP_SUBTRACT, 1, 8),
        /* 20 */ fixture_call(BYTECODE_CALL, factorial, inner, fixture_view(inner, 8, 8), CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN),
        /* 21 */ times_n,
        /* 22 */ fixture_copy(returned, fixture_view(inner, 8, 8)),
        /* 23 */ fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, body),
        /* 24 */ fixture_instruction(BYTECODE_RETURN),
    };
    factorial->bytecode_start = 12 * INSTRUCTION;
    std::string failure;
    Harness_Run run = run_program(&f, &program, &failure);
    ASSERT_EQ(failure, "");
    u64 expected = 1;
    for (u32 k = 0; k <= 20; k++) {
        if (k) expected *= k;
        EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * k]), expected) << k << "!";
    }
}

// Results of every scalar type come back in RAX or XMM0 and land in memory, a
// general-purpose or an XMM register; one is computed before code that uses RAX and RDX
// runs, as a return's deferred blocks do, and copied into the return slot last.
TEST(Calls, ScalarResultsComeBackInRaxAndXmm0) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    std::deque<Identifier> types;
    struct Case {
        const char* name;
        u64 type_flags;
        u32 size;
        u64 argument;
        u64 expected;  // the argument times 3, or plus 0.5
        u8 place;      // of the caller's result: 0 its argument block, 1 R9, 2 XMM5
        bool deferred;
    };
    static const Case cases[] = {
        {"s8", TYPE_SIGNED, 1, 0xF0, 0xD0, 0, false},
        {"s16", TYPE_SIGNED, 2, 0x1234, 0x369C, 1, false},
        {"s32", TYPE_SIGNED, 4, 0x80000001, 0x80000003, 0, false},
        {"s64", TYPE_SIGNED, 8, 0x123456789ull, 0x369D0369Bull, 1, false},
        {"s64 with deferred code", TYPE_SIGNED, 8, 7, 21, 0, true},
        {"f32", TYPE_FLOAT, 4, 0x40200000, 0x40400000, 0, false},                       // 2.5 + 0.5
        {"f64", TYPE_FLOAT, 8, 0xC004000000000000ull, 0xC000000000000000ull, 2, false},  // -2.5 + 0.5
        {"f64 into a general-purpose register", TYPE_FLOAT, 8, 0x3FF0000000000000ull, 0x3FF8000000000000ull, 1, false},
    };
    Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 16, 1u << AMD64_R9, 1u << 5);
    Register_Id outputs = fixture_global(&f, 8 * ARRAY_COUNT(cases));
    Register_Id block = fixture_local(entry, ENTRY_SAVES, 16);
    Register_Id half = fixture_constant(&f, "\x00\x00\x00\x3F", 4);
    Register_Id half64 = fixture_constant(&f, "\x00\x00\x00\x00\x00\x00\xE0\x3F", 8);
    std::vector<Bytecode_Instruction> program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry)};
    std::vector<Sub_Program*> callees;
    for (u32 k = 0; k < ARRAY_COUNT(cases); k++) {
        const Case& c = cases[k];
        callees.push_back(fixture_sub_program(&f, type_of(&types, c.type_flags, c.size)));
        Register_Id result = c.place == 0 ? fixture_view(block, 8, c.size)
                             : c.place == 1 ? fixture_local_register(entry, MACHINE_CLASS_INTEGER, AMD64_R9, c.size)
                                            : fixture_local_register(entry, MACHINE_CLASS_FLOAT, 5, c.size);
        program.push_back(fixture_constant_copy(fixture_view(block, 0, 8), c.argument, 8));
        program.push_back(fixture_constant_copy(fixture_view(block, 8, 8), 0, 8));
        program.push_back(fixture_call(BYTECODE_CALL, callees[k], block, result, CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN));
        program.push_back(fixture_copy(fixture_view(outputs, 8 * k, c.size), result));
    }
    program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry));
    program.push_back(fixture_instruction(BYTECODE_RETURN));
    for (u32 k = 0; k < ARRAY_COUNT(cases); k++) {
        const Case& c = cases[k];
        Scope* body = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 8 + 32, 1u << AMD64_R8, 1u << 4);
        callees[k]->bytecode_start = program.size() * INSTRUCTION;
        Register_Id argument = fixture_view(f.call_data_block, 0, c.size);
        Register_Id returned = fixture_view(f.call_data_block, 8, c.size);
        bool real = c.type_flags == TYPE_FLOAT;
        amd64_get_register(returned)->return_register = real ? RETURN_REGISTER_XMM0 : RETURN_REGISTER_RAX;
        Register_Id value = real ? fixture_local_register(body, MACHINE_CLASS_FLOAT, 4, c.size)
                                 : fixture_local_register(body, MACHINE_CLASS_INTEGER, AMD64_R8, c.size);
        program.push_back(fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, body));
        program.push_back(fixture_instruction(BYTECODE_COPY_ARGUMENTS_ADDRESS));
        program.push_back(fixture_copy(value, argument));
        if (real) {
            Bytecode_Instruction add = fixture_instruction(BYTECODE_FLOAT_ARITHMETIC);
            add.float_arithmetic = {value, c.size == 4 ? half : half64, OP_ADD};
            program.push_back(add);
        } else {
            program.push_back(fixture_arithmetic_constant(value, OP_MULTIPLY, 3, (u16)c.size));
        }
        if (c.deferred) {
            // A deferred block: the argument changes, through a division in RAX and RDX.
            Bytecode_Instruction divide = fixture_instruction(BYTECODE_INT_ARITHMETIC);
            divide.int_arithmetic = {argument, argument, OP_DIVIDE, 0, 0, 1};
            program.push_back(fixture_arithmetic_constant(argument, OP_ADD, 100, 8));
            program.push_back(divide);
        }
        program.push_back(fixture_copy(returned, value));
        program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, body));
        program.push_back(fixture_instruction(BYTECODE_RETURN));
    }
    std::string failure;
    Harness_Run run = run_program(&f, &program, &failure);
    ASSERT_EQ(failure, "");
    for (u32 k = 0; k < ARRAY_COUNT(cases); k++) {
        u64 mask = cases[k].size == 8 ? ~0ull : (1ull << (8 * cases[k].size)) - 1;
        EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * k]) & mask, cases[k].expected) << cases[k].name;
    }
}

// call[] through an address held in a global, on the stack and in R12, each made by
// "copy sub-program address"; the callee adds 1 to its argument.
TEST(Calls, CallsThroughAnAddressInMemoryAndInARegister) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 32, 1u << AMD64_R12);
    Scope* body = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 8);
    Sub_Program* callee = fixture_sub_program(&f);
    Register_Id outputs = fixture_global(&f, 24);
    Register_Id in_global = fixture_global(&f, 8, 8);
    Register_Id on_stack = fixture_local(entry, ENTRY_SAVES + 16, 8);
    Register_Id r12 = fixture_local_register(entry, MACHINE_CLASS_INTEGER, AMD64_R12, 8);
    Register_Id block = fixture_local(entry, ENTRY_SAVES, 16);
    Register_Id result = fixture_view(block, 8, 8);
    Register_Id returned = fixture_view(f.call_data_block, 8, 8);
    amd64_get_register(returned)->return_register = RETURN_REGISTER_RAX;

    std::vector<Bytecode_Instruction> program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry)};
    u32 k = 0;
    for (Register_Id holder : {in_global, on_stack, r12}) {
        Bytecode_Instruction address = fixture_instruction(BYTECODE_COPY_SUB_PROGRAM_ADDRESS);
        address.copy_sub_program_address.destination = holder;
        address.copy_sub_program_address.sub_program = callee;
        program.push_back(address);
        program.push_back(fixture_constant_copy(fixture_view(block, 0, 8), 10 * (k + 1), 8));
        Bytecode_Instruction through = fixture_call(BYTECODE_CALL_THROUGH_ADDRESS, 0, block, result,
                                            CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN);
        through.call.callee_address = holder;
        program.push_back(through);
        program.push_back(fixture_copy(fixture_view(outputs, 8 * k++, 8), result));
    }
    program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry));
    program.push_back(fixture_instruction(BYTECODE_RETURN));
    callee->bytecode_start = program.size() * INSTRUCTION;
    Register_Id value = fixture_local(body, SUB_PROGRAM_SAVES, 8);
    for (Bytecode_Instruction i : {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, body), fixture_instruction(BYTECODE_COPY_ARGUMENTS_ADDRESS),
                                   fixture_copy(value, fixture_view(f.call_data_block, 0, 8)),
                                   fixture_arithmetic_constant(value, OP_ADD, 1, 8), fixture_copy(returned, value),
                                   fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, body), fixture_instruction(BYTECODE_RETURN)}) {
        program.push_back(i);
    }
    std::string failure;
    Harness_Run run = run_program(&f, &program, &failure);
    ASSERT_EQ(failure, "");
    for (u32 i = 0; i < 3; i++) EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * i]), 10 * (i + 1) + 1) << i;
}

//~ Foreign calls

// Foreign calls from an entry block and from a sub-program two calls deep: the dispatcher
// sees each id and block on an aligned stack, writes a result after the arguments, and
// the values held in R8 to R11 and XMM2 to XMM15 across the call survive the registers
// it spoils.
TEST(ForeignCalls, ReachTheDispatcherAlignedWithLiveRegistersKept) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    u16 live_gp = 0x0F00, live_xmm = 0xFFFC;
    Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 24 + 5);
    Scope* outer = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 3);
    Scope* inner = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 4 * 8 + 14 * 32 + 24, live_gp, live_xmm);
    Sub_Program* outer_program = fixture_sub_program(&f);
    Sub_Program* inner_program = fixture_sub_program(&f);
    Register_Id outputs = fixture_global(&f, 8 * 32);
    auto parameters = [](Scope* s, u32 offset, u64 first, u32 second) {
        Register_Id block = fixture_local(s, offset, 24);
        return std::vector<Bytecode_Instruction>{fixture_constant_copy(fixture_view(block, 0, 8), first, 8),
                                                 fixture_constant_copy(fixture_view(block, 8, 4), second, 4)};
    };
    auto foreign = [](Register_Id block, u32 id, u16 gp, u16 xmm) {
        Bytecode_Instruction i = fixture_call(BYTECODE_FOREIGN_CALL, 0, block, INVALID_REGISTER_ID, CALL_ARGUMENT_BLOCK);
        i.callee = id;
        i.live_gp_mask = gp;
        i.live_xmm_mask = xmm;
        return i;
    };
    Register_Id entry_block = fixture_local(entry, ENTRY_SAVES, 24);
    Register_Id inner_block = fixture_local(inner, SUB_PROGRAM_SAVES + 4 * 8 + 14 * 32, 24);

    std::vector<Bytecode_Instruction> program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry)};
    for (Bytecode_Instruction i : parameters(entry, ENTRY_SAVES, 0x1122334455667788ull, 0xAABBCCDD)) program.push_back(i);
    program.push_back(foreign(entry_block, 7, 0, 0));
    program.push_back(fixture_copy(fixture_view(outputs, 0, 8), fixture_view(entry_block, 16, 8)));
    program.push_back(fixture_call(BYTECODE_CALL, outer_program, INVALID_REGISTER_ID, INVALID_REGISTER_ID, 0));
    program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry));
    program.push_back(fixture_instruction(BYTECODE_RETURN));

    outer_program->bytecode_start = program.size() * INSTRUCTION;
    program.push_back(fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, outer));
    program.push_back(fixture_call(BYTECODE_CALL, inner_program, INVALID_REGISTER_ID, INVALID_REGISTER_ID, 0));
    program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, outer));
    program.push_back(fixture_instruction(BYTECODE_RETURN));

    inner_program->bytecode_start = program.size() * INSTRUCTION;
    program.push_back(fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, inner));
    std::vector<Register_Id> live;
    for (u8 r = AMD64_R8; r <= AMD64_R11; r++) live.push_back(fixture_local_register(inner, MACHINE_CLASS_INTEGER, r, 8));
    for (u8 x = 2; x < 16; x++) live.push_back(fixture_local_register(inner, MACHINE_CLASS_FLOAT, x, 8));
    for (u32 k = 0; k < live.size(); k++) program.push_back(fixture_constant_copy(live[k], 0x0101010101010101ull * (k + 1), 8));
    for (Bytecode_Instruction i : parameters(inner, SUB_PROGRAM_SAVES + 4 * 8 + 14 * 32, 42, 96)) program.push_back(i);
    program.push_back(foreign(inner_block, 96, live_gp, live_xmm));
    program.push_back(foreign(inner_block, 42, live_gp, live_xmm));
    program.push_back(fixture_copy(fixture_view(outputs, 8, 8), fixture_view(inner_block, 16, 8)));
    for (u32 k = 0; k < live.size(); k++) program.push_back(fixture_copy(fixture_view(outputs, 16 + 8 * k, 8), live[k]));
    program.push_back(fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, inner));
    program.push_back(fixture_instruction(BYTECODE_RETURN));

    harness_record_foreign_calls(12, 16);
    std::string failure;
    Harness_Run run = run_program(&f, &program, &failure);
    ASSERT_EQ(failure, "");
    const std::vector<Harness_Foreign_Call>& calls = harness_foreign_calls();
    ASSERT_EQ(calls.size(), 3u);
    struct Expected {
        u64 id;
        u64 first;
        u32 second;
    };
    static const Expected expected[] = {{7, 0x1122334455667788ull, 0xAABBCCDD}, {96, 42, 96}, {42, 42, 96}};
    for (u32 k = 0; k < 3; k++) {
        EXPECT_EQ(calls[k].id, expected[k].id) << k;
        EXPECT_TRUE(calls[k].aligned) << k;
        EXPECT_EQ(load_u64(&calls[k].block[0]), expected[k].first) << k;
        EXPECT_EQ(load_u32(&calls[k].block[8]), expected[k].second) << k;
    }
    u32 o = fixture_offset(outputs);
    EXPECT_EQ(load_u64(&run.globals[o]), 7001u);
    EXPECT_EQ(load_u64(&run.globals[o + 8]), 42003u);
    for (u32 k = 0; k < live.size(); k++) {
        EXPECT_EQ(load_u64(&run.globals[o + 16 + 8 * k]), 0x0101010101010101ull * (k + 1)) << "live register " << k;
    }
}

//~ Traps and refusals

TEST(Frames, DebugBreakTrapsAtItsInstruction) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Scope* entry = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES + 8);
    Register_Id local = fixture_local(entry, ENTRY_SAVES, 8);
    std::vector<Bytecode_Instruction> program = {fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, entry), fixture_constant_copy(local, 5, 8),
                                                 fixture_instruction(BYTECODE_DEBUG_BREAK), fixture_constant_copy(local, 6, 8),
                                                 fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, entry),
                                                 fixture_instruction(BYTECODE_RETURN)};
    Translated_Program t = fixture_translate_program(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    Harness_Run run = harness_run(t.program, harness_canaries());
    EXPECT_EQ(run.signal, SIGTRAP);
    char expected[96];
    snprintf(expected, sizeof(expected), "SIGTRAP at code offset 0x%llx in instruction #2 (kind 50)",
             (unsigned long long)program[2].code_start);
    EXPECT_EQ(run.fault, expected);
}

TEST(Frames, WhatCannotBeGeneratedFailsTheCompile) {
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Scope* small = fixture_frame(&f, ENTRY_BLOCK_SCOPE_FLAGS, ENTRY_SAVES - 1);
    Scope* small_body = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, SUB_PROGRAM_SAVES + 7, 1u << AMD64_R9);
    Scope* huge = fixture_frame(&f, BASIC_SUB_PROGRAM_SCOPE_FLAGS, 0x80000000ull);
    Register_Id r8 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R8, 8);
    Register_Id xmm3 = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 3, 8);
    Register_Id three = fixture_stack_local(&f, 0, 3);
    Register_Id block = fixture_stack_local(&f, 0, 16);
    Sub_Program* callee = fixture_sub_program(&f);
    Bytecode_Instruction through_xmm = fixture_call(BYTECODE_CALL_THROUGH_ADDRESS, 0, INVALID_REGISTER_ID, INVALID_REGISTER_ID, 0);
    through_xmm.call.callee_address = xmm3;
    Bytecode_Instruction embedded = fixture_instruction(BYTECODE_EMBED_MACHINE_CODE);
    embedded.machine_code.count = -1;
    Bytecode_Instruction index_in_xmm = fixture_instruction(BYTECODE_MEMORY_DEREFERENCE);
    index_in_xmm.address = {r8, r8, xmm3, 4, 4, 0, 0};
    Bytecode_Instruction foreign_in_register = fixture_call(BYTECODE_FOREIGN_CALL, 0, r8, INVALID_REGISTER_ID, CALL_ARGUMENT_BLOCK);
    struct Case {
        const char* name;
        Bytecode_Instruction instruction;
        const char* message;
    };
    const Case cases[] = {
        {"an entry block's saves beyond its stack", fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, small),
         "Internal compiler error: cannot generate machine code for 'push stack frame' (a stack of 631 octets for 632 octets of register saves)."},
        {"a sub-program's saves beyond its stack", fixture_frame_instruction(BYTECODE_POP_STACK_FRAME, small_body),
         "Internal compiler error: cannot generate machine code for 'pop stack frame' (a stack of 31 octets for 32 octets of register saves)."},
        {"a stack past 2 GiB", fixture_frame_instruction(BYTECODE_PUSH_STACK_FRAME, huge),
         "Internal compiler error: cannot generate machine code for 'push stack frame' (a stack of 2147483648 octets)."},
        {"a call without its callee", fixture_call(BYTECODE_CALL, 0, INVALID_REGISTER_ID, INVALID_REGISTER_ID, 0),
         "Internal compiler error: cannot generate machine code for 'call' (a call without its callee)."},
        {"a result of three octets", fixture_call(BYTECODE_CALL, callee, block, three, CALL_ARGUMENT_BLOCK | CALL_SCALAR_RETURN),
         "Internal compiler error: cannot generate machine code for 'call' (operand size 3)."},
        {"a callee address in an XMM register", through_xmm,
         "Internal compiler error: cannot generate machine code for 'call[]' (a callee address held in an XMM register)."},
        {"a parameter block in a register", foreign_in_register,
         "Internal compiler error: cannot generate machine code for 'foreign call' (an argument block held in a machine register)."},
        {"machine code of a negative size", embedded,
         "Internal compiler error: cannot generate machine code for 'embed machine code' (machine code of -1 octets)."},
        {"an index in an XMM register", index_in_xmm,
         "Internal compiler error: cannot generate machine code for 'memory dereference' (an index held in an XMM register)."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        compile_errors.count = 0;
        std::vector<Bytecode_Instruction> program = {k.instruction};
        Translated_Program t = fixture_translate(&f, &program);
        EXPECT_FALSE(t.ok);
        EXPECT_EQ(t.errors, std::vector<std::string>{k.message});
    }
}
