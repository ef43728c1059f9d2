// The translation driver and kinds 1 to 8, executed: every table is one program of
// bytecode instructions over registers the fixture lays out in constant, global and call
// data, on the stack and in machine registers, checked against memset, memcpy and the
// values the instructions carry, with guard octets around every destination.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

#define TEMPORARY_GP  0x00CF
#define TEMPORARY_XMM 0x0003

#define ZERO_SIZES   101
#define ZERO_STRIDE  160
#define ZERO_GUARD   16
#define ZERO_AREA    (ZERO_SIZES * ZERO_STRIDE)

//~ The driver

TEST(Translation, UnhandledKindsSizesAndTemporariesFailTheCompile) {
    Translation_Fixture f;
    fixture_reset(&f, 64);
    std::string text = "first line\n  second line\nthird line\n";
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    memset(file, 0, sizeof(*file));
    file->path = STR("layer.8");
    file->text = (u8*)text.data();
    file->text_size = (u32)text.size();
    file->state = 1;

    Register_Id three = fixture_global(&f, 3);
    Register_Id r8 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R8, 8);
    Register_Id pointer = fixture_stack_local(&f, 0, 8);
    Register_Id returned = fixture_view(f.call_data_block, 8, 8);
    amd64_get_register(returned)->return_register = RETURN_REGISTER_RAX;
    Register_Id half = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 5, 2);
    auto arithmetic = [](u8 kind, Register_Id a, u64 operator_bit) {
        Bytecode_Instruction i = fixture_instruction(kind, 2);
        i.int_arithmetic.destination = a;
        i.int_arithmetic.source = a;
        i.int_arithmetic.operator_bit = operator_bit;
        return i;
    };
    Bytecode_Instruction float_arithmetic = fixture_instruction(BYTECODE_FLOAT_ARITHMETIC, 2);
    float_arithmetic.float_arithmetic = {half, half, OP_ADD};
    Bytecode_Instruction store = fixture_instruction(BYTECODE_STORE_COMPARE_RESULT, 2);
    store.store_compare_result = {r8, OP_ADD, 0, 0, 0};
    Bytecode_Instruction block = fixture_instruction(BYTECODE_COMPARE_BLOCK_TO_CONSTANT, 2);
    block.compare = {pointer, fixture_global(&f, 8), INVALID_REGISTER_ID};
    struct Case {
        const char* name;
        Bytecode_Instruction instruction;
        u16 taken;
        const char* message;
    };
    auto with = [](u8 kind, Register_Id a, Register_Id b) {
        Bytecode_Instruction i = fixture_instruction(kind, 2);
        i.operand_a = a;
        i.operand_b = b;
        return i;
    };
    const Case cases[] = {
        {"kind 0", with(0, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'INVALID' (no machine code for this kind)."},
        {"kind 31", with(31, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'INVALID' (no machine code for this kind)."},
        {"kind 39", with(39, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'INVALID' (no machine code for this kind)."},
        {"kind 59", with(59, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'UNKNOWN INSTRUCTION' (no machine code for this kind)."},
        {"kind 255", with(255, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'UNKNOWN INSTRUCTION' (no machine code for this kind)."},
        {"the address of a register", with(BYTECODE_TAKE_ADDRESS, r8, r8), 0, "Internal compiler error: cannot generate machine code for 'take address' (the address of a value held in a machine register)."},
        {"size 3 into a register", with(BYTECODE_COPY, r8, three), 0, "Internal compiler error: cannot generate machine code for 'copy' (operand size 3)."},
        {"a seventh temporary", with(BYTECODE_COPY_INDIRECT, pointer, three), 0x00CF, "Internal compiler error: cannot generate machine code for 'copy' (out of temporary registers)."},
        {"a missing operand", with(BYTECODE_COPY, INVALID_REGISTER_ID, r8), 0, "Internal compiler error: cannot generate machine code for 'copy' (an operand without a register)."},
        {"a returned value in arithmetic", arithmetic(BYTECODE_INT_ARITHMETIC, returned, OP_ADD), 0, "Internal compiler error: cannot generate machine code for 'int arithmetic' (a returned value outside a copy)."},
        {"a comparison as arithmetic", arithmetic(BYTECODE_INT_ARITHMETIC, r8, OP_EQUAL), 0, "Internal compiler error: cannot generate machine code for 'int arithmetic' (operator 0x1000000)."},
        {"size 3 arithmetic", arithmetic(BYTECODE_INT_ARITHMETIC_CONSTANT, three, OP_ADD), 0, "Internal compiler error: cannot generate machine code for 'int arithmetic constant' (operand size 3)."},
        {"a two-octet float", float_arithmetic, 0, "Internal compiler error: cannot generate machine code for 'float arithmetic' (float size 2)."},
        {"a stored result of no comparison", store, 0, "Internal compiler error: cannot generate machine code for 'store cmp result' (operator 0x8)."},
        {"a block compare against no constant", block, 0, "Internal compiler error: cannot generate machine code for 'compare to constant' (a block compare without constant data)."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        compile_errors.count = 0;
        Bytecode_Instruction i = k.instruction;
        Dynamic_Array code, jumps, calls, data, slots, prologues;
        init_dynamic_array(&code, 1);
        init_dynamic_array(&jumps, sizeof(Amd64_Code_Relocation));
        init_dynamic_array(&calls, sizeof(Amd64_Code_Relocation));
        init_dynamic_array(&data, sizeof(Amd64_Data_Relocation));
        init_dynamic_array(&slots, 8);
        init_dynamic_array(&prologues, sizeof(Amd64_Prologue));
        static const u8 nops[2] = {0x90, 0x90};
        amd64_emit(&code, nops, 2);
        Amd64_Temporary_Mask mask = {};
        mask.gp = k.taken;
        EXPECT_FALSE(bytecode_instruction_to_amd64(&i, &code, &jumps, &calls, &data, &slots, &mask, &prologues));
        EXPECT_EQ(i.code_start, 2u);
        EXPECT_EQ(mask.gp | mask.xmm, 0);
        EXPECT_FALSE(amd64_failed(&mask));
        ASSERT_EQ(compile_errors.count, 1u);
        Compile_Error* e = (Compile_Error*)compile_errors.data;
        EXPECT_STREQ((char*)e->message, k.message);
        EXPECT_EQ(e->line, 2u);
        EXPECT_EQ(std::string((char*)e->captured, e->captured_length), "  second line");
        for (Dynamic_Array* a : {&code, &jumps, &calls, &data, &slots, &prologues}) dynamic_array_free(a);
    }
}

TEST(Translation, EachInstructionStartsWhereTheLastEndedWithAClearMask) {
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Register_Id a = fixture_global(&f, 8), b = fixture_global(&f, 8);
    std::vector<Bytecode_Instruction> program;
    for (u32 i = 0; i < 3; i++) program.push_back(fixture_copy(i % 2 ? a : b, i % 2 ? b : a));
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(program[0].code_start, 7u);  // after the harness's frame
    for (u32 i = 1; i < program.size(); i++) EXPECT_EQ(program[i].code_start, program[i - 1].code_end);
    // Each copy took RAX afresh: mov rax, [rip+a]; mov [rip+b], rax.
    EXPECT_EQ(t.program.code[program[2].code_start + 2], 0x05);
}

//~ Set to zero

enum Place { GLOBAL, STACK, CALL_DATA, POINTER_IN_GLOBAL, POINTER_ON_STACK, POINTER_IN_REGISTER };
static const char* const PLACE_NAMES[] = {"global",         "stack",          "call data",
                                          "pointer global", "pointer on stack", "pointer in R9"};

// A destination region per size, in globals or on the stack (pointers point into the
// globals), and the register that names it.
struct Regions {
    Place place;
    std::vector<Register_Id> ids;
    std::vector<Harness_Pointer> pointers;
    u32 base;  // where region 0 starts in its area
};

static Regions make_regions(Translation_Fixture* f, Place place, u32 count) {
    Regions r;
    r.place = place;
    Register_Id area = place == STACK || place == CALL_DATA ? INVALID_REGISTER_ID : fixture_global(f, count * ZERO_STRIDE);
    r.base = place == STACK || place == CALL_DATA ? 0 : fixture_offset(area);
    if (place == CALL_DATA) f->call_data.assign(count * ZERO_STRIDE, 0);
    for (u32 n = 0; n < count; n++) {
        u32 at = n * ZERO_STRIDE + ZERO_GUARD;
        switch (place) {
            case GLOBAL: r.ids.push_back(fixture_view(area, at, n)); break;
            case STACK: r.ids.push_back(fixture_stack_local(f, at, n)); break;
            case CALL_DATA: r.ids.push_back(fixture_view(f->call_data_block, at, n)); break;
            case POINTER_IN_GLOBAL: {
                Register_Id p = fixture_global(f, 8, 8);
                r.pointers.push_back({HARNESS_GLOBALS, fixture_offset(p), HARNESS_GLOBALS, r.base + at});
                r.ids.push_back(p);
                break;
            }
            case POINTER_ON_STACK: {
                u32 slot = count * ZERO_STRIDE + 8 * n;
                r.pointers.push_back({HARNESS_STACK, slot, HARNESS_GLOBALS, r.base + at});
                r.ids.push_back(fixture_stack_local(f, slot, 8));
                break;
            }
            case POINTER_IN_REGISTER:
                r.pointers.push_back({HARNESS_REGISTER, AMD64_R9, HARNESS_GLOBALS, r.base + at});
                r.ids.push_back(fixture_machine_register(f, MACHINE_CLASS_INTEGER, AMD64_R9, 8));
                break;
        }
    }
    return r;
}

static b8 is_pointer(Place p) { return p >= POINTER_IN_GLOBAL; }

static std::vector<u8>* region_area(Harness_Program* p, Place place) {
    return place == STACK ? &p->stack : place == CALL_DATA ? &p->call_data : &p->globals;
}

static const std::vector<u8>& region_result(const Harness_Run& run, Place place) {
    return place == STACK ? run.stack : place == CALL_DATA ? run.call_data : run.globals;
}

TEST(Translation, SetToZeroOfEverySizeEqualsMemset) {
    HARNESS_REQUIRE_AVX();
    for (Place place : {GLOBAL, STACK, CALL_DATA, POINTER_IN_GLOBAL, POINTER_ON_STACK}) {
        SCOPED_TRACE(PLACE_NAMES[place]);
        Translation_Fixture f;
        fixture_reset(&f, ZERO_SIZES * ZERO_STRIDE + 8 * ZERO_SIZES);
        Regions regions = make_regions(&f, place, ZERO_SIZES);
        std::vector<Bytecode_Instruction> program;
        for (u32 n = 0; n < ZERO_SIZES; n++) {
            Bytecode_Instruction i = fixture_instruction(BYTECODE_SET_TO_ZERO);
            i.set_to_zero.destination = regions.ids[n];
            i.set_to_zero.size = n;
            i.set_to_zero.through_address = is_pointer(place);
            program.push_back(i);
        }
        Translated_Program t = fixture_translate(&f, &program);
        ASSERT_TRUE(t.ok) << t.errors[0];
        std::vector<u8>* area = region_area(&t.program, place);
        for (u32 i = 0; i < ZERO_SIZES * ZERO_STRIDE; i++) (*area)[regions.base + i] = 0xAB;
        t.program.pointers = regions.pointers;
        Harness_Run run = harness_run(t.program, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM), "");
        const std::vector<u8>& after = region_result(run, place);
        for (u32 n = 0; n < ZERO_SIZES; n++) {
            std::vector<u8> expected(ZERO_STRIDE, 0xAB), got(&after[regions.base + n * ZERO_STRIDE], &after[regions.base + (n + 1) * ZERO_STRIDE]);
            for (u32 i = 0; i < n; i++) expected[ZERO_GUARD + i] = 0;
            EXPECT_EQ(got, expected) << n << " octets";
        }
    }
}

// Registers of both classes, and one pointer held in a register, by size.
TEST(Translation, SetToZeroOfRegisters) {
    HARNESS_REQUIRE_AVX();
    struct Case {
        u8 machine_class;
        u8 number;
        u32 size;
    };
    static const Case cases[] = {
        {MACHINE_CLASS_INTEGER, AMD64_R8, 1}, {MACHINE_CLASS_INTEGER, AMD64_R13, 2}, {MACHINE_CLASS_INTEGER, AMD64_R14, 4},
        {MACHINE_CLASS_INTEGER, AMD64_R15, 8}, {MACHINE_CLASS_FLOAT, 4, 4},           {MACHINE_CLASS_FLOAT, 12, 8},
    };
    Translation_Fixture f;
    fixture_reset(&f, 0);
    std::vector<Bytecode_Instruction> program;
    u16 gp = 0, xmm = 0;
    for (const Case& k : cases) {
        Bytecode_Instruction i = fixture_instruction(BYTECODE_SET_TO_ZERO);
        i.set_to_zero.destination = fixture_machine_register(&f, k.machine_class, k.number, k.size);
        i.set_to_zero.size = k.size;
        program.push_back(i);
        if (k.machine_class == MACHINE_CLASS_INTEGER) gp |= (u16)(1u << k.number);
        else xmm |= (u16)(1u << k.number);
    }
    Regions through_r9 = make_regions(&f, POINTER_IN_REGISTER, 1);
    for (u32 n : {40u, 3u}) {  // a pointer in R9: the large form's base must not be RAX
        Bytecode_Instruction i = fixture_instruction(BYTECODE_SET_TO_ZERO);
        i.set_to_zero.destination = through_r9.ids[0];
        i.set_to_zero.size = n;
        i.set_to_zero.through_address = true;
        program.push_back(i);
    }
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    for (u32 i = 0; i < 64; i++) t.program.globals[through_r9.base + i] = 0xAB;
    t.program.pointers = through_r9.pointers;
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | gp, TEMPORARY_XMM | xmm), "");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.number);
        if (k.machine_class == MACHINE_CLASS_INTEGER) {
            u64 low = k.size == 8 ? ~0ull : (1ull << (8 * k.size)) - 1;
            EXPECT_EQ(run.registers.gp[k.number] & low, 0u);
        } else {
            for (u32 b = 0; b < 16; b++) EXPECT_EQ(run.registers.ymm[k.number][b], 0) << b;
        }
    }
    for (u32 i = 0; i < 64; i++) EXPECT_EQ(run.globals[through_r9.base + i], i >= ZERO_GUARD && i < ZERO_GUARD + 40 ? 0 : 0xAB) << i;
}

//~ Copies

TEST(Translation, CopiesOfEverySizeEqualMemcpy) {
    HARNESS_REQUIRE_AVX();
    struct Case {
        const char* name;
        u8 kind;
        Place source;  // GLOBAL with kind 4 and 5 means constant data
        Place destination;
    };
    static const Case cases[] = {
        {"constant struct to the stack", BYTECODE_COPY_CONSTANT_STRUCT, GLOBAL, STACK},
        {"constant struct through a pointer in a global", BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT, GLOBAL,
         POINTER_IN_GLOBAL},
        {"global to call data", BYTECODE_COPY, GLOBAL, CALL_DATA},
        {"call data to the stack", BYTECODE_COPY, CALL_DATA, STACK},
        {"stack through a pointer on the stack", BYTECODE_COPY_INDIRECT, STACK, POINTER_ON_STACK},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Translation_Fixture f;
        b8 from_constants = k.kind == BYTECODE_COPY_CONSTANT_STRUCT || k.kind == BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT;
        fixture_reset(&f, 2 * ZERO_SIZES * ZERO_STRIDE + 8 * ZERO_SIZES);
        std::vector<u8> pattern(ZERO_SIZES * ZERO_STRIDE);
        for (u32 i = 0; i < pattern.size(); i++) pattern[i] = (u8)(i * 13 + 5);
        // The source regions first: constants, or a second global area, or the stack above the destinations.
        std::vector<Register_Id> sources;
        u32 source_base = 0;
        Register_Id source_area = INVALID_REGISTER_ID;
        if (from_constants) {
            source_area = fixture_constant(&f, pattern.data(), (u32)pattern.size());
        } else if (k.source == GLOBAL) {
            source_area = fixture_global(&f, (u32)pattern.size());
        }
        if (source_area.index != INVALID_REGISTER_ID.index) source_base = fixture_offset(source_area);
        if (k.source == STACK) source_base = ZERO_SIZES * ZERO_STRIDE + 8 * ZERO_SIZES;
        if (k.source == CALL_DATA) f.call_data.assign(pattern.size(), 0);
        for (u32 n = 0; n < ZERO_SIZES; n++) {
            u32 at = n * ZERO_STRIDE + ZERO_GUARD;
            if (k.source == STACK) sources.push_back(fixture_stack_local(&f, source_base + at, n));
            else if (k.source == CALL_DATA) sources.push_back(fixture_view(f.call_data_block, at, n));
            else sources.push_back(fixture_view(source_area, at, n));
        }
        Regions destinations = make_regions(&f, k.destination, ZERO_SIZES);
        if (k.source == CALL_DATA) f.call_data.assign(pattern.size(), 0);
        std::vector<Bytecode_Instruction> program;
        for (u32 n = 0; n < ZERO_SIZES; n++) {
            Bytecode_Instruction i = fixture_instruction(k.kind);
            i.copy.destination = destinations.ids[n];
            i.copy.source = sources[n];
            program.push_back(i);
        }
        Translated_Program t = fixture_translate(&f, &program);
        ASSERT_TRUE(t.ok) << t.errors[0];
        std::vector<u8>* source_bytes = from_constants ? &t.program.constants
                                        : k.source == STACK ? &t.program.stack
                                        : k.source == CALL_DATA ? &t.program.call_data
                                                                : &t.program.globals;
        memcpy(source_bytes->data() + source_base, pattern.data(), pattern.size());
        std::vector<u8>* area = region_area(&t.program, k.destination);
        for (u32 i = 0; i < ZERO_SIZES * ZERO_STRIDE; i++) (*area)[destinations.base + i] = 0xAB;
        t.program.pointers = destinations.pointers;
        Harness_Run run = harness_run(t.program, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM), "");
        const std::vector<u8>& after = region_result(run, k.destination);
        for (u32 n = 0; n < ZERO_SIZES; n++) {
            std::vector<u8> expected(ZERO_STRIDE, 0xAB);
            std::vector<u8> got(&after[destinations.base + n * ZERO_STRIDE], &after[destinations.base + (n + 1) * ZERO_STRIDE]);
            for (u32 i = 0; i < n; i++) expected[ZERO_GUARD + i] = pattern[n * ZERO_STRIDE + ZERO_GUARD + i];
            EXPECT_EQ(got, expected) << n << " octets";
        }
    }
}

// Scalars pass from globals through machine registers of both classes and back.
TEST(Translation, CopiesThroughMachineRegisters) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    struct Chain {
        u32 size;
        std::vector<std::pair<u8, u8>> registers;  // machine class, number
    };
    const Chain chains[] = {
        {1, {{MACHINE_CLASS_INTEGER, AMD64_R10}, {MACHINE_CLASS_INTEGER, AMD64_R12}}},
        {2, {{MACHINE_CLASS_INTEGER, AMD64_R15}}},
        {4, {{MACHINE_CLASS_FLOAT, 3}, {MACHINE_CLASS_INTEGER, AMD64_R11}, {MACHINE_CLASS_FLOAT, 14}}},
        {8, {{MACHINE_CLASS_INTEGER, AMD64_R8}, {MACHINE_CLASS_FLOAT, 9}, {MACHINE_CLASS_INTEGER, AMD64_R13}}},
    };
    std::vector<Bytecode_Instruction> program;
    std::vector<Register_Id> inputs, outputs;
    u16 gp = 0, xmm = 0;
    for (const Chain& chain : chains) {
        Register_Id from = fixture_global(&f, chain.size);
        inputs.push_back(from);
        for (auto [machine_class, number] : chain.registers) {
            Register_Id r = fixture_machine_register(&f, machine_class, number, chain.size);
            program.push_back(fixture_copy(r, from));
            from = r;
            if (machine_class == MACHINE_CLASS_INTEGER) gp |= (u16)(1u << number);
            else xmm |= (u16)(1u << number);
        }
        Register_Id out = fixture_global(&f, chain.size);
        outputs.push_back(out);
        program.push_back(fixture_copy(out, from));
    }
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    for (u32 c = 0; c < ARRAY_COUNT(chains); c++) {
        for (u32 b = 0; b < chains[c].size; b++) t.program.globals[fixture_offset(inputs[c]) + b] = (u8)(0x41 + 8 * c + b);
    }
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | gp, TEMPORARY_XMM | xmm), "");
    for (u32 c = 0; c < ARRAY_COUNT(chains); c++) {
        for (u32 b = 0; b < chains[c].size; b++) {
            EXPECT_EQ(run.globals[fixture_offset(outputs[c]) + b], 0x41 + 8 * c + b) << chains[c].size << " octets";
        }
    }
}

//~ Constants

static u64 low_octets(u64 v, u32 size) { return size >= 8 ? v : v & ((1ull << (8 * size)) - 1); }

TEST(Translation, ConstantNumbersIntoEveryPlace) {
    HARNESS_REQUIRE_AVX();
    static const u64 values[] = {0x80000000ull, 0xFFFFFFFF80000000ull, 0x8000000000000000ull, 0x7F, ~0ull,
                                 0x0123456789ABCDEFull};
    static const u32 sizes[] = {1, 2, 4, 8};
    enum Target { IN_GLOBAL, ON_STACK, IN_R11, IN_XMM6, THROUGH_GLOBAL, THROUGH_STACK };
    static const char* const target_names[] = {"global", "stack", "R11", "XMM6", "through a global", "through the stack"};
    for (Target target : {IN_GLOBAL, ON_STACK, IN_R11, IN_XMM6, THROUGH_GLOBAL, THROUGH_STACK}) {
        SCOPED_TRACE(target_names[target]);
        Translation_Fixture f;
        fixture_reset(&f, 1024);
        u32 count = ARRAY_COUNT(sizes) * ARRAY_COUNT(values);
        Register_Id outputs = fixture_global(&f, 16 * count);
        u32 base = fixture_offset(outputs);
        std::vector<Bytecode_Instruction> program;
        std::vector<Harness_Pointer> pointers;
        std::vector<std::pair<u32, u32>> checked;  // slot, size
        u32 slot = 0;
        for (u32 size : sizes) {
            for (u64 v : values) {
                if (target == IN_XMM6 && size < 4) {
                    slot++;
                    continue;
                }
                Register_Id output = fixture_view(outputs, 16 * slot, size);
                Register_Id destination = output;
                if (target == ON_STACK) destination = fixture_stack_local(&f, 16 * slot, size);
                if (target == IN_R11) destination = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R11, size);
                if (target == IN_XMM6) destination = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 6, size);
                if (target == THROUGH_GLOBAL) {
                    destination = fixture_global(&f, 8, 8);
                    pointers.push_back({HARNESS_GLOBALS, fixture_offset(destination), HARNESS_GLOBALS, base + 16 * slot});
                }
                if (target == THROUGH_STACK) {
                    destination = fixture_stack_local(&f, 8 * slot, 8);
                    pointers.push_back({HARNESS_STACK, 8 * slot, HARNESS_GLOBALS, base + 16 * slot});
                }
                b8 through = target == THROUGH_GLOBAL || target == THROUGH_STACK;
                Bytecode_Instruction i = fixture_instruction(through ? BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT
                                                                     : BYTECODE_COPY_CONSTANT_NUMBER);
                i.copy_constant_number.destination = destination;
                i.copy_constant_number.immediate = v;
                i.copy_constant_number.destination_size = (u8)size;
                i.copy_constant_number.constant_size = 8;
                program.push_back(i);
                if (!through && (destination.index != output.index || destination.table != output.table)) {
                    program.push_back(fixture_copy(output, destination));
                }
                checked.push_back({slot, size});
                slot++;
            }
        }
        Translated_Program t = fixture_translate(&f, &program);
        ASSERT_TRUE(t.ok) << t.errors[0];
        for (u32 i = 0; i < 16 * count; i++) t.program.globals[base + i] = 0xEE;
        t.program.pointers = pointers;
        Harness_Run run = harness_run(t.program, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | (1u << AMD64_R11), TEMPORARY_XMM | (1u << 6)),
                  "");
        for (auto [s, size] : checked) {
            u64 v = values[s % ARRAY_COUNT(values)];
            u64 got = load_u64(&run.globals[base + 16 * s]);
            EXPECT_EQ(got, (0xEEEEEEEEEEEEEEEEull & ~low_octets(~0ull, size)) | low_octets(v, size))
                << size << " octets of 0x" << std::hex << v;
        }
    }
}

// A constant that is an address: the place receives where its target lies at run time,
// in constant or in global data, stored directly, into a register or through a pointer.
TEST(Translation, PointerConstantsHoldTheirTargetsAddress) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 64);
    u8 text[24] = "a constant text";
    Register_Id constant_target = fixture_view(fixture_constant(&f, text, 24), 8, 8);
    Register_Id global_target = fixture_view(fixture_global(&f, 32), 16, 8);
    Register_Id outputs = fixture_global(&f, 64);
    Register_Id pointer = fixture_global(&f, 8, 8);
    auto relocation_to = [](Register_Id target) {
        Relocation* r = (Relocation*)dynamic_array_add_fast(&global_compiler_state.constant_relocations);
        memset(r, 0, sizeof(*r));
        r->target = target;
        return global_compiler_state.constant_relocations.count - 1;
    };
    u32 to_constant = relocation_to(constant_target), to_global = relocation_to(global_target);
    Register_Id r10 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R10, 8);
    Register_Id stack = fixture_stack_local(&f, 8, 8);

    struct Case {
        Register_Id destination;
        u8 kind;
        u32 relocation;
    };
    const Case cases[] = {
        {fixture_view(outputs, 0, 8), BYTECODE_COPY_CONSTANT_NUMBER, to_constant},
        {stack, BYTECODE_COPY_CONSTANT_NUMBER, to_global},
        {r10, BYTECODE_COPY_CONSTANT_NUMBER, to_constant},
        {pointer, BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT, to_global},
    };
    std::vector<Bytecode_Instruction> program;
    for (const Case& k : cases) {
        Bytecode_Instruction i = fixture_instruction(k.kind);
        i.copy_constant_number.destination = k.destination;
        i.copy_constant_number.immediate = 0x1234;  // the area offset the front end keeps: never stored
        i.copy_constant_number.destination_size = 8;
        i.copy_constant_number.constant_size = 8;
        i.copy_constant_number.companion = k.relocation;
        i.copy_constant_number.has_companion = 1;
        program.push_back(i);
    }
    for (auto [destination, source] : {std::pair{fixture_view(outputs, 8, 8), stack}, {fixture_view(outputs, 16, 8), r10}}) {
        program.push_back(fixture_copy(destination, source));
    }
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    t.program.pointers = {{HARNESS_GLOBALS, fixture_offset(pointer), HARNESS_GLOBALS, fixture_offset(outputs) + 24}};
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    u64 constant_address = run.constants_address + fixture_offset(amd64_get_register(constant_target)->base) + 8;
    u64 global_address = run.globals_address + fixture_offset(amd64_get_register(global_target)->base) + 16;
    u32 out = fixture_offset(outputs);
    EXPECT_EQ(load_u64(&run.globals[out]), constant_address);
    EXPECT_EQ(load_u64(&run.globals[out + 8]), global_address);
    EXPECT_EQ(load_u64(&run.globals[out + 16]), constant_address);
    EXPECT_EQ(load_u64(&run.globals[out + 24]), global_address);
}

//~ Sub-program addresses

TEST(Translation, SubProgramAddressesIntoEveryPlace) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 64);
    Register_Id outputs = fixture_global(&f, 64);
    Register_Id pointer = fixture_global(&f, 8, 8);
    Register_Id r14 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R14, 8);
    Register_Id xmm6 = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 6, 8);
    Register_Id stack = fixture_stack_local(&f, 16, 8);
    Identifier callee;
    memset(&callee, 0, sizeof(callee));

    std::vector<Bytecode_Instruction> program;
    struct Case {
        Register_Id destination;
        b8 through_address;
    };
    const Case cases[] = {{r14, false}, {xmm6, false}, {stack, false}, {fixture_view(outputs, 24, 8), false}, {pointer, true}};
    for (const Case& k : cases) {
        Bytecode_Instruction i = fixture_instruction(BYTECODE_COPY_SUB_PROGRAM_ADDRESS);
        i.copy_sub_program_address.destination = k.destination;
        i.copy_sub_program_address.sub_program = &callee;
        i.copy_sub_program_address.through_address = k.through_address;
        program.push_back(i);
    }
    for (auto [offset, source] : {std::pair{0u, r14}, {8u, xmm6}, {16u, stack}}) {
        program.push_back(fixture_copy(fixture_view(outputs, offset, 8), source));
    }
    callee.bytecode_start = 3 * sizeof(Bytecode_Instruction);  // the callee starts at the fourth instruction
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    t.program.pointers = {{HARNESS_GLOBALS, fixture_offset(pointer), HARNESS_GLOBALS, fixture_offset(outputs) + 32}};
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | (1u << AMD64_R14), TEMPORARY_XMM | (1u << 6)), "");
    u64 expected = run.code_address + program[3].code_start;
    for (u32 offset = 0; offset < 40; offset += 8) EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + offset]), expected) << offset;
    // Into a machine register it is the lea alone.
    EXPECT_EQ(program[0].code_end - program[0].code_start, 7u);
}

//~ Float bools

TEST(Translation, FloatBoolsAreOneOrZero) {
    HARNESS_REQUIRE_AVX();
    static const f64 values[] = {0.0, -0.0, 1.5, NAN, -INFINITY, 256.0, 1e-310};
    Translation_Fixture f;
    fixture_reset(&f, 16);
    u32 count = 2 * ARRAY_COUNT(values);
    Register_Id slots = fixture_global(&f, 4 * 8 * count);
    u32 base = fixture_offset(slots);
    // The helper runs directly: the translation of its kind comes later.
    Harness_Code c = harness_begin(16);
    Amd64_Memory_Operand places[] = {amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, 0),
                                     amd64_make_memory_operand_from(AMD64_RSP, 8), amd64_xmm_register(5),
                                     amd64_xmm_register(0)};
    u32 slot = 0;
    for (u32 p = 0; p < 4; p++) {
        for (u8 size : {4, 8}) {
            for (u32 v = 0; v < ARRAY_COUNT(values); v++) {
                Amd64_Memory_Operand at = amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, base + 8 * slot);
                Amd64_Memory_Operand m = p == 0 ? at : places[p];
                if (p != 0) amd64_copy_data(size, &c.code, &c.data_relocations, &c.mask, m, at);
                amd64_ensure_float_bool(size, &c.code, &c.data_relocations, &c.mask, m);
                if (p != 0) amd64_copy_data(size, &c.code, &c.data_relocations, &c.mask, at, m);
                ASSERT_FALSE(amd64_failed(&c.mask)) << c.mask.failure;
                amd64_clear_temporary_mask(&c.mask);
                slot++;
            }
        }
    }
    Harness_Program p = harness_end(&c);
    p.constants = f.constants;
    p.globals = f.globals;
    slot = 0;
    for (u32 place = 0; place < 4; place++) {
        for (u8 size : {4, 8}) {
            for (f64 v : values) {
                if (size == 4) {
                    f32 single = (f32)v;
                    memcpy(&p.globals[base + 8 * slot], &single, 4);
                } else {
                    memcpy(&p.globals[base + 8 * slot], &v, 8);
                }
                slot++;
            }
        }
    }
    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM | (1u << 5)), "");
    slot = 0;
    for (u32 place = 0; place < 4; place++) {
        for (u8 size : {4, 8}) {
            for (f64 v : values) {
                f64 stored = size == 4 ? (f64)(f32)v : v;
                f64 expected = (stored != 0.0 || isnan(stored)) ? 1.0 : 0.0;
                f64 got;
                if (size == 4) {
                    f32 single;
                    memcpy(&single, &run.globals[base + 8 * slot], 4);
                    got = single;
                } else {
                    memcpy(&got, &run.globals[base + 8 * slot], 8);
                }
                EXPECT_EQ(got, expected) << "place " << place << ", size " << (int)size << ", " << v;
                slot++;
            }
        }
    }
}

//~ Returned values

// A sub-program's result waits in RAX or XMM0: the copies read and write it there, and
// a constant lands there too.
TEST(Translation, ReturnedValuesMoveThroughRaxAndXmm0) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 0);
    Register_Id in = fixture_global(&f, 8), out = fixture_global(&f, 32);
    Register_Id integer = fixture_view(f.call_data_block, 0, 8);
    amd64_get_register(integer)->return_register = RETURN_REGISTER_RAX;
    Register_Id real = fixture_view(f.call_data_block, 8, 8);
    amd64_get_register(real)->return_register = RETURN_REGISTER_XMM0;
    Bytecode_Instruction constant = fixture_instruction(BYTECODE_COPY_CONSTANT_NUMBER);
    constant.copy_constant_number.destination = real;
    constant.copy_constant_number.immediate = 0x400C000000000000ull;  // 3.5
    constant.copy_constant_number.destination_size = 8;
    std::vector<Bytecode_Instruction> program = {
        constant, fixture_copy(fixture_view(out, 8, 8), real),
        fixture_copy(real, in), fixture_copy(fixture_view(out, 16, 8), real),
        fixture_copy(integer, in), fixture_copy(fixture_view(out, 0, 8), integer),
    };
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    store_u64(&t.program.globals[fixture_offset(in)], 0x1122334455667788ull);
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM), "");
    u32 o = fixture_offset(out);
    EXPECT_EQ(load_u64(&run.globals[o]), 0x1122334455667788ull);
    EXPECT_EQ(load_u64(&run.globals[o + 8]), 0x400C000000000000ull);
    EXPECT_EQ(load_u64(&run.globals[o + 16]), 0x1122334455667788ull);
    EXPECT_EQ(run.registers.gp[AMD64_RAX], 0x1122334455667788ull);
    // The call-data block itself is never touched.
    EXPECT_EQ(load_u64(&run.call_data[0]), 0u);
}
