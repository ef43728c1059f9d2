// The address kinds executed: array elements of every element size, indexed by registers
// of every width and signedness (their upper bits dirty), by memory and by constants,
// read, written and addressed from bases in memory, on the stack and in R13, against the
// same pointer arithmetic in C++; and "take address" of every place.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

#define TEMPORARY_GP  0x00CF
#define TEMPORARY_XMM 0x0003
#define MIDDLE        40  // elements of 28 octets below the base address, and as many above
#define ARRAY_OCTETS  ((2 * MIDDLE + 1) * 28)
#define SLOT          32

// An element's address (24, 25) or value (26, 27), by an index register or a constant.
static Bytecode_Instruction element(b8 read, b8 constant, Register_Id destination, Register_Id base, Register_Id index,
                                    s64 constant_index, b8 is_signed, u16 element_size, u16 value_size,
                                    b8 through_address) {
    u8 kind = read ? (constant ? BYTECODE_MEMORY_DEREFERENCE_CONSTANT : BYTECODE_MEMORY_DEREFERENCE)
                   : (constant ? BYTECODE_CALCULATE_ADDRESS_CONSTANT : BYTECODE_CALCULATE_ADDRESS);
    Bytecode_Instruction i = fixture_instruction(kind);
    if (constant) {
        i.address_constant = {destination, base, (u64)constant_index, element_size, value_size, is_signed, through_address};
    } else {
        i.address = {destination, base, index, element_size, value_size, is_signed, through_address};
    }
    return i;
}

// movabs r, value: puts an index in a machine register with chosen upper bits.
static Bytecode_Instruction set_register(u8 r, u64 value, std::vector<std::vector<u8>>* keep) {
    std::vector<u8> bytes = {(u8)(0x48 | (r > 7 ? 1 : 0)), (u8)(0xB8 + (r & 7))};
    for (u32 i = 0; i < 8; i++) bytes.push_back((u8)(value >> (8 * i)));
    keep->push_back(bytes);
    Bytecode_Instruction i = fixture_instruction(BYTECODE_EMBED_MACHINE_CODE);
    i.machine_code.code = keep->back().data();
    i.machine_code.count = (s32)bytes.size();
    return i;
}

enum Operation { READ, READ_PART, READ_THROUGH_ADDRESS, READ_INTO_REGISTER, ADDRESS_INTO_REGISTER, ADDRESS_INTO_MEMORY,
                 ADDRESS_THROUGH_ADDRESS, WRITE, OPERATION_COUNT };
static const char* const OPERATION_NAMES[] = {"read",           "read a part",       "read through an address",
                                              "read into R8",   "address into R8",   "address into memory",
                                              "address through an address", "write"};

struct Index {
    const char* name;
    s64 value;
    u8 size;
    b8 is_signed;
    u8 place;  // 0: a machine register (its number), 1: stack, 2: global, 3: a constant
    u8 machine_register;
    u64 register_bits;  // what the machine register holds, upper bits included
};

struct Row {
    u32 size, element_size;
    s64 index;
    u32 base;  // 0 global pointer, 1 R13, 2 stack pointer
    Operation operation;
    std::string name;
};

TEST(Addresses, ElementsAgreeWithPointerArithmetic) {
    HARNESS_REQUIRE_AVX();
    static const u32 sizes[] = {1, 2, 4, 8, 12, 16, 24, 28};
    static const Index indexes[] = {
        {"s8 -2 in R9", -2, 1, true, 0, AMD64_R9, 0x123456789ABCDEFEull},
        {"u16 11 in R10", 11, 2, false, 0, AMD64_R10, 0xFFFFFFFFFFFF000Bull},
        {"s32 -3 in R11", -3, 4, true, 0, AMD64_R11, 0x7FFFFFFFFFFFFFFDull},
        {"u32 5 in R14", 5, 4, false, 0, AMD64_R14, 0xFFFFFFFF00000005ull},
        {"s64 -5 in R15", -5, 8, true, 0, AMD64_R15, (u64)-5ll},
        {"s32 -4 on the stack", -4, 4, true, 1, 0, 0},
        {"u32 7 in a global", 7, 4, false, 2, 0, 0},
        {"s64 -40 in a global", -MIDDLE, 8, true, 2, 0, 0},
        {"constant 3", 3, 8, false, 3, 0, 0},
        {"constant -2", -2, 8, true, 3, 0, 0},
        {"constant 0", 0, 8, false, 3, 0, 0},
        {"constant 40", MIDDLE, 8, false, 3, 0, 0},
    };
    Translation_Fixture f;
    fixture_reset(&f, 64);
    Register_Id array = fixture_global(&f, ARRAY_OCTETS);
    Register_Id written = fixture_global(&f, ARRAY_OCTETS);
    u32 array_at = fixture_offset(array), written_at = fixture_offset(written);
    for (u32 i = 0; i < ARRAY_OCTETS; i++) f.globals[array_at + i] = (u8)(i * 7 + 3);
    for (u32 i = 0; i < ARRAY_OCTETS; i++) f.globals[written_at + i] = (u8)(i * 5 + 1);
    std::vector<u8> expected_written(f.globals.begin() + written_at, f.globals.begin() + written_at + ARRAY_OCTETS);
    u32 middle = MIDDLE * 28;

    // The bases: the array's middle held in a global, in R13 and on the stack; the written
    // copy's middle in R12.
    Register_Id base_global = fixture_global(&f, 8, 8);
    Register_Id base_stack = fixture_stack_local(&f, 0, 8);
    Register_Id r13 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R13, 8);
    Register_Id r12 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R12, 8);
    std::vector<Harness_Pointer> pointers = {
        {HARNESS_GLOBALS, fixture_offset(base_global), HARNESS_GLOBALS, array_at + middle},
        {HARNESS_STACK, fixture_offset(base_stack), HARNESS_GLOBALS, array_at + middle},
        {HARNESS_REGISTER, AMD64_R13, HARNESS_GLOBALS, array_at + middle},
        {HARNESS_REGISTER, AMD64_R12, HARNESS_GLOBALS, written_at + middle},
    };
    const Register_Id bases[3] = {base_global, r13, base_stack};
    static const char* const BASE_NAMES[3] = {"a global base", "a base in R13", "a stack base"};

    std::vector<std::vector<u8>> machine_code;
    std::vector<Bytecode_Instruction> program;
    std::vector<Register_Id> index_ids;
    for (const Index& x : indexes) {
        Register_Id id = INVALID_REGISTER_ID;
        if (x.place == 0) {
            id = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, x.machine_register, x.size);
            program.push_back(set_register(x.machine_register, x.register_bits, &machine_code));
        } else if (x.place == 1) {
            // Dirty octets right after the index: a wider load would take them in.
            id = fixture_stack_local(&f, 16, x.size);
            Register_Id eight = fixture_stack_local(&f, 16, 8);
            Bytecode_Instruction c = fixture_instruction(BYTECODE_COPY_CONSTANT_NUMBER);
            c.copy_constant_number.destination = eight;
            c.copy_constant_number.immediate = 0xA5A5A5A500000000ull | (u32)x.value;
            c.copy_constant_number.destination_size = 8;
            program.push_back(c);
        } else if (x.place == 2) {
            Register_Id whole = fixture_global(&f, 16, 16);
            u32 at = fixture_offset(whole);
            memset(&f.globals[at], 0xA5, 16);
            memcpy(&f.globals[at], &x.value, x.size);
            id = fixture_view(whole, 0, x.size);
        }
        index_ids.push_back(id);
    }
    Register_Id r8 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R8, 8);
    Register_Id source = fixture_global(&f, 32);
    for (u32 i = 0; i < 32; i++) f.globals[fixture_offset(source) + i] = (u8)(0xC1 + i);
    u32 most_rows = ARRAY_COUNT(sizes) * 3 * ARRAY_COUNT(indexes) * OPERATION_COUNT;
    Register_Id outputs = fixture_global(&f, most_rows * SLOT);
    u32 outputs_at = fixture_offset(outputs);
    memset(&f.globals[outputs_at], 0xEE, most_rows * SLOT);
    Register_Id pointer = fixture_global(&f, 8, 8);  // through-address destinations point at the row's slot

    std::vector<Row> rows;
    for (u32 size : sizes) {
        for (u32 b = 0; b < 3; b++) {
            for (u32 x = 0; x < ARRAY_COUNT(indexes); x++) {
                const Index& index = indexes[x];
                b8 constant = index.place == 3;
                for (u32 o = 0; o < OPERATION_COUNT; o++) {
                    Operation operation = (Operation)o;
                    b8 scalar = size == 1 || size == 2 || size == 4 || size == 8;
                    // Writes go to the copy whose middle R12 holds, once per index.
                    if ((operation == READ_INTO_REGISTER && !scalar) || (operation == WRITE && b != 0)) continue;
                    u32 r = (u32)rows.size();
                    Row row = {size, size, index.value, b, operation,
                               std::to_string(size) + "-octet elements, " + BASE_NAMES[b] + ", index " + index.name +
                                   ", " + OPERATION_NAMES[o]};
                    if (operation == READ_PART) row.size = size == 1 ? 1 : size / 2;
                    rows.push_back(row);
                    Register_Id slot = fixture_view(outputs, r * SLOT, row.size);
                    Register_Id slot8 = fixture_view(outputs, r * SLOT, 8);
                    b8 read = operation <= READ_INTO_REGISTER;
                    b8 through_address = operation == READ_THROUGH_ADDRESS || operation == ADDRESS_THROUGH_ADDRESS;
                    Register_Id destination = operation == READ_INTO_REGISTER
                                                  ? fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R8, size)
                                              : operation == ADDRESS_INTO_REGISTER || operation == WRITE ? r8
                                              : through_address                                          ? pointer
                                              : read                                                     ? slot
                                                                                                         : slot8;
                    if (through_address) {
                        // The code takes the slot's address itself.
                        Bytecode_Instruction take = fixture_instruction(BYTECODE_TAKE_ADDRESS);
                        take.take_address = {pointer, slot8};
                        program.push_back(take);
                    }
                    program.push_back(element(read, constant, destination, operation == WRITE ? r12 : bases[b],
                                              index_ids[x], index.value, index.is_signed, (u16)size,
                                              (u16)(read ? row.size : 8), through_address));
                    if (operation == READ_INTO_REGISTER) {
                        program.push_back(fixture_copy(slot, destination));
                    } else if (operation == ADDRESS_INTO_REGISTER || operation == WRITE) {
                        program.push_back(fixture_copy(slot8, r8));
                    }
                    if (operation == WRITE) {
                        Bytecode_Instruction store = fixture_copy(r8, fixture_view(source, 0, size));
                        store.kind = BYTECODE_COPY_INDIRECT;
                        program.push_back(store);
                        memcpy(&expected_written[middle + index.value * (s64)size], &f.globals[fixture_offset(source)],
                               size);
                    }
                }
            }
        }
    }

    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    t.program.pointers = pointers;
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    u16 set_registers = (1u << AMD64_R8) | (1u << AMD64_R9) | (1u << AMD64_R10) | (1u << AMD64_R11) |
                        (1u << AMD64_R14) | (1u << AMD64_R15);
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | set_registers, TEMPORARY_XMM), "");
    EXPECT_EQ(run.registers.gp[AMD64_R13], run.entered.gp[AMD64_R13]);

    u64 array_address = run.globals_address + array_at + middle;
    u64 written_address = run.globals_address + written_at + middle;
    u32 failures = 0;
    for (u32 i = 0; i < rows.size() && failures < 20; i++) {
        const Row& row = rows[i];
        const u8* got = &run.globals[outputs_at + i * SLOT];
        s64 offset = row.index * (s64)row.element_size;
        u32 stored = row.size;
        bool right;
        if (row.operation == READ || row.operation == READ_PART || row.operation == READ_THROUGH_ADDRESS ||
            row.operation == READ_INTO_REGISTER) {
            right = memcmp(got, &f.globals[array_at + middle + offset], row.size) == 0;
        } else {
            stored = 8;
            right = load_u64(got) == (row.operation == WRITE ? written_address : array_address) + (u64)offset;
        }
        for (u32 g = stored; g < SLOT; g++) right = right && got[g] == 0xEE;
        if (!right) {
            failures++;
            ADD_FAILURE() << row.name;
        }
    }
    EXPECT_TRUE(memcmp(&run.globals[written_at], expected_written.data(), ARRAY_OCTETS) == 0);
}

// Displacements past ±2 GiB go through a register; the address is all that is made.
TEST(Addresses, ConstantIndexesBeyondTwoGibibytes) {
    HARNESS_REQUIRE_AVX();
    struct Case {
        u64 index;
        u16 element_size;
    };
    static const Case cases[] = {{0x10000000, 16}, {(u64)-0x10000000ll, 24}, {0x7FFFFFFF, 1}, {0x80000000, 1},
                                 {(u64)-0x80000000ll, 1}, {0x4000000000ull, 28}};
    Translation_Fixture f;
    fixture_reset(&f, 16);
    Register_Id outputs = fixture_global(&f, 8 * ARRAY_COUNT(cases));
    Register_Id r13 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R13, 8);
    Register_Id stack = fixture_stack_local(&f, 8, 8);
    std::vector<Bytecode_Instruction> program = {fixture_copy(stack, r13)};
    for (u32 i = 0; i < ARRAY_COUNT(cases); i++) {
        Bytecode_Instruction a = fixture_instruction(BYTECODE_CALCULATE_ADDRESS_CONSTANT);
        a.address_constant.destination = fixture_view(outputs, 8 * i, 8);
        a.address_constant.base = i % 2 ? stack : r13;
        a.address_constant.index = cases[i].index;
        a.address_constant.element_size = cases[i].element_size;
        a.address_constant.value_size = 8;
        program.push_back(a);
    }
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP, TEMPORARY_XMM), "");
    for (u32 i = 0; i < ARRAY_COUNT(cases); i++) {
        u64 expected = run.entered.gp[AMD64_R13] + cases[i].index * cases[i].element_size;
        EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * i]), expected) << i;
    }
}

TEST(Addresses, TakeAddressOfEveryPlace) {
    HARNESS_REQUIRE_AVX();
    Translation_Fixture f;
    fixture_reset(&f, 64);
    Register_Id outputs = fixture_global(&f, 8 * 16);
    Register_Id global = fixture_global(&f, 24);
    Register_Id stack = fixture_stack_local(&f, 24, 16);
    Register_Id r8 = fixture_machine_register(&f, MACHINE_CLASS_INTEGER, AMD64_R8, 8);
    Register_Id xmm4 = fixture_machine_register(&f, MACHINE_CLASS_FLOAT, 4, 8);
    Register_Id stack_destination = fixture_stack_local(&f, 8, 8);
    u8 bytes[4] = {1, 2, 3, 4};
    Register_Id constant = fixture_constant(&f, bytes, 4);
    struct Case {
        Register_Id source;
        Harness_Area area;
        u32 offset;
    };
    const Case cases[] = {
        {fixture_view(global, 16, 8), HARNESS_GLOBALS, fixture_offset(global) + 16},
        {stack, HARNESS_STACK, 24},
        {fixture_view(stack, 4, 4), HARNESS_STACK, 28},
        {fixture_view(f.call_data_block, 40, 8), HARNESS_CALL_DATA, 40},
        {constant, HARNESS_CONSTANTS, fixture_offset(constant)},
    };
    const Register_Id destinations[] = {r8, xmm4, stack_destination};
    std::vector<Bytecode_Instruction> program;
    u32 slot = 0;
    for (const Case& k : cases) {
        for (Register_Id d : destinations) {
            Bytecode_Instruction take = fixture_instruction(BYTECODE_TAKE_ADDRESS);
            take.take_address = {d, k.source};
            program.push_back(take);
            program.push_back(fixture_copy(fixture_view(outputs, 8 * slot++, 8), d));
        }
    }
    Translated_Program t = fixture_translate(&f, &program);
    ASSERT_TRUE(t.ok) << t.errors[0];
    Harness_Run run = harness_run(t.program, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | (1u << AMD64_R8),
                                        TEMPORARY_XMM | (1u << 4)),
              "");
    slot = 0;
    for (const Case& k : cases) {
        u64 area = k.area == HARNESS_GLOBALS     ? run.globals_address
                   : k.area == HARNESS_STACK     ? run.stack_address
                   : k.area == HARNESS_CALL_DATA ? run.call_data_address
                                                 : run.constants_address;
        for (u32 d = 0; d < 3; d++) {
            EXPECT_EQ(load_u64(&run.globals[fixture_offset(outputs) + 8 * slot++]), area + k.offset)
                << "area " << k.area << ", destination " << d;
        }
    }
}
