// The image's relocation tables: constant and global data laid out as the image writer lays
// them out, the tables written, then rebased as the loader rebases them at two addresses;
// every string, array and struct read back whole through its pointers.
#include <gtest/gtest.h>

#include "bytecode_test_builder.h"
#include "compiler/bytecode/layer_image.h"

static const std::string RELOCATION_SOURCE = "data\n";

// The two data areas of an image and its header, as the writer has them when it calls the
// bytecode generator.
struct Test_Image {
    std::vector<u8> constants;
    std::vector<u8> globals;
    Compiled_Layer_Header header = {};
    std::vector<u8> constant_rows;
    std::vector<u8> global_rows;
};

static void copy_registers(Dynamic_Array* table, std::vector<u8>* area) {
    for (u32 i = 0; i < table->count; i++) {
        Register* r = (Register*)table->data + i;
        if (r->kind != REGISTER_VIEW && r->data && r->size) memcpy(area->data() + r->data_offset, r->data, r->size);
    }
}

static bool write_tables(Test_Image* image, u64 output_at = 200) {
    Compiler_State* state = &global_compiler_state;
    image->constants.assign(state->constant_data_size, 0);
    image->globals.assign(state->global_data_size, 0);
    copy_registers(&state->constant_registers, &image->constants);
    copy_registers(&state->global_registers, &image->globals);
    image->header.constant_data_size = (u32)state->constant_data_size;
    image->header.global_data_size = (u32)state->global_data_size;
    compiler_output_memory.used = output_at;
    if (!copy_constant_relocations_to_code_output(&image->header, image->constants.data(), image->globals.data()) ||
        !copy_global_relocations_to_code_output(&image->header, image->globals.data())) {
        return false;
    }
    u8* output = compiler_output_memory.memory;
    image->constant_rows.assign(output + image->header.constant_relocation_offset,
                                output + image->header.constant_relocation_offset + 40 * image->header.constant_relocation_count);
    image->global_rows.assign(output + image->header.global_relocation_offset,
                              output + image->header.global_relocation_offset + 40 * image->header.global_relocation_count);
    return true;
}

// The image's areas loaded at fresh addresses, rebased as the loader does: each row adds
// its table's target area's address to the slot in the area the row names.
struct Loaded_Areas {
    std::vector<u8> constants;
    std::vector<u8> globals;
};

static void load(const Test_Image& image, Loaded_Areas* loaded) {
    loaded->constants = image.constants;
    loaded->globals = image.globals;
    auto apply = [&](const std::vector<u8>& rows, u8* target, bool constant_table) {
        for (size_t at = 0; at < rows.size(); at += 40) {
            u8 area = rows[at + 32];
            ASSERT_TRUE(area == 3 || (constant_table && area == 1));
            u8* slot = (area == 3 ? loaded->globals.data() : loaded->constants.data()) + load_u32(&rows[at]);
            store_u64(slot, load_u64(slot) + (u64)target);
        }
    };
    apply(image.constant_rows, loaded->constants.data(), true);
    apply(image.global_rows, loaded->globals.data(), false);
}

static std::string read_string(const u8* place) { return std::string((char*)load_u64(place), load_u64(place + 8)); }

static Register_Id global_of(Identifier* type) {
    return allocate_a_register(global_compiler_state.global_scope, type->size, type, type->alignment);
}

// Strings, a constant array, a struct literal with a member struct copied into a global,
// and a global pointer to global data. Fills the registers the checks read back.
struct Relocated_Program {
    Value hello;
    Register_Id greeting, array, copied, global_elements, pointer;
    u32 values[3] = {7, 8, 9};
};

static void build_relocated_program(Relocated_Program* p) {
    Identifier* string = type_of(BASIC_TYPE_STRING);
    Identifier* s64 = type_of(BASIC_TYPE_S64);
    Scope* global = global_compiler_state.global_scope;
    Identifier* inner = add_test_struct(global, "Inner", {{"label", string}, {"n", s64}});
    Identifier* pair = add_test_struct(global, "Pair", {{"name", string}, {"inner", inner}});

    // A string constant, and a global String holding it (copied twice into one slot).
    Value hello = string_constant("hello", 1);
    Register_Id greeting = global_of(string);
    copy_constant_value_data(greeting, string, &hello);
    copy_constant_value_data(greeting, string, &hello);

    // A constant array {data, count} of three u32.
    Register_Id elements = allocate_constant_data(12, 4);
    memcpy(get_register_constant_data(elements), p->values, 12);
    Register_Id array = allocate_constant_data(16, 8);
    store_u64(get_register_constant_data(array) + 8, 3);
    add_a_relocation(allocate_within_register(array, 0, 8), elements, 1);

    // A struct literal holding strings, one inside a member struct, copied into a global.
    Register_Id literal = allocate_constant_data(pair->size, pair->alignment);
    Value name = string_constant("first", 1), label = string_constant("second label", 1);
    copy_constant_value_data(allocate_within_register(literal, 0, 16), string, &name);
    Register_Id inner_place = allocate_within_register(literal, 16, inner->size);
    copy_constant_value_data(allocate_within_register(inner_place, 0, 16), string, &label);
    store_u64(get_register_constant_data(inner_place) + 16, 42);
    Value pair_value = {};
    make_constant_value_from_register(&pair_value, literal, pair, line_trace(1));
    Register_Id copied = global_of(pair);
    copy_constant_value_data(copied, pair, &pair_value);

    // A global pointer to global elements, as a fixed-size array's data member is.
    Register_Id global_elements = global_of(type_of(BASIC_TYPE_STRING));
    store_u64(get_register_global_data(global_elements) + 8, 77);
    Register_Id pointer = global_of(type_to_memory_address_of_type(s64, 1));
    add_a_relocation(allocate_within_register(pointer, 0, 8), global_elements, 0);

    p->hello = hello;
    p->greeting = greeting;
    p->array = array;
    p->copied = copied;
    p->global_elements = global_elements;
    p->pointer = pointer;
}

TEST(RelocationTables, EveryPointerReadsBackAtTwoAddresses) {
    ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
    Relocated_Program program;
    build_relocated_program(&program);
    Value hello = program.hello;
    Register_Id greeting = program.greeting, array = program.array, copied = program.copied;
    Register_Id global_elements = program.global_elements, pointer = program.pointer;
    u32* values = program.values;
    Test_Image image;
    ASSERT_TRUE(write_tables(&image)) << compile_error_messages()[0];
    EXPECT_EQ(image.header.constant_relocation_offset, 200u);
    EXPECT_EQ(image.header.global_relocation_offset, 200u + 40 * image.header.constant_relocation_count);
    EXPECT_EQ(image.header.global_relocation_count, 1u);
    // One row per slot: the greeting's second copy adds none.
    u32 slots = (u32)global_compiler_state.constant_relocations.count - 1;
    EXPECT_EQ(image.header.constant_relocation_count, slots);
    // Nothing of the compiler's memory reaches the file: a row is its slot and its area.
    for (size_t at = 0; at < image.constant_rows.size(); at += 40) {
        for (size_t k = 4; k < 40; k++) {
            if (k != 32) {
                EXPECT_EQ(image.constant_rows[at + k], 0) << "row " << at / 40 << " octet " << k;
            }
        }
    }

    // Two loads live at once, so they stand at two addresses.
    Loaded_Areas loaded[2];
    load(image, &loaded[0]);
    load(image, &loaded[1]);
    ASSERT_NE(loaded[0].constants.data(), loaded[1].constants.data());
    for (const Loaded_Areas& l : loaded) {
        const u8* globals = l.globals.data();
        const u8* constants = l.constants.data();
        EXPECT_EQ(read_string(globals + get_register_offset_in_global_data(greeting)), "hello");
        EXPECT_EQ(read_string(constants + get_register_offset_in_constant_data(hello.constant.register_id)), "hello");
        const u8* a = constants + get_register_offset_in_constant_data(array);
        EXPECT_EQ(load_u64(a + 8), 3u);
        EXPECT_EQ(memcmp((u8*)load_u64(a), values, 12), 0);
        const u8* p = globals + get_register_offset_in_global_data(copied);
        EXPECT_EQ(read_string(p), "first");
        EXPECT_EQ(read_string(p + 16), "second label");
        EXPECT_EQ(load_u64(p + 32), 42u);
        const u8* q = globals + get_register_offset_in_global_data(pointer);
        EXPECT_EQ((const u8*)load_u64(q), globals + get_register_offset_in_global_data(global_elements));
        EXPECT_EQ(load_u64((u8*)load_u64(q) + 8), 77u);
    }
}

TEST(RelocationTables, TwoCompilesGiveTheSameTables) {
    Test_Image images[2];
    for (Test_Image& image : images) {
        ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
        Relocated_Program program;
        build_relocated_program(&program);
        ASSERT_TRUE(write_tables(&image));
    }
    EXPECT_EQ(images[0].constant_rows, images[1].constant_rows);
    EXPECT_EQ(images[0].global_rows, images[1].global_rows);
    EXPECT_EQ(images[0].constants, images[1].constants);
    EXPECT_EQ(images[0].globals, images[1].globals);
    EXPECT_EQ(memcmp(&images[0].header, &images[1].header, sizeof(Compiled_Layer_Header)), 0);
}

TEST(RelocationTables, EmptyTablesStandWhereTheOutputIs) {
    ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
    Test_Image image;
    ASSERT_TRUE(write_tables(&image, 4096));
    EXPECT_EQ(image.header.constant_relocation_count, 0u);
    EXPECT_EQ(image.header.constant_relocation_offset, 4096u);
    EXPECT_EQ(image.header.global_relocation_count, 0u);
    EXPECT_EQ(image.header.global_relocation_offset, 4096u);
}

TEST(RelocationTables, ASlotInGlobalDataPointingIntoConstantData) {
    ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
    Value text = string_constant("abc", 1);
    global_of(type_of(BASIC_TYPE_U64));  // so the slot does not lie at offset 0
    Register_Id slot = global_of(type_of(BASIC_TYPE_STRING));
    ASSERT_TRUE(copy_constant_value_data(slot, type_of(BASIC_TYPE_STRING), &text));
    Test_Image image;
    ASSERT_TRUE(write_tables(&image));
    ASSERT_EQ(image.header.constant_relocation_count, 2u);  // the literal's own String, then the global's
    EXPECT_EQ(image.constant_rows[32], 1);
    EXPECT_EQ(image.constant_rows[40 + 32], 3);
    EXPECT_EQ(load_u32(&image.constant_rows[40]), 8u);
    EXPECT_EQ(load_u64(&image.globals[8]), get_register_offset_in_constant_data(text.constant.text_register));
}

TEST(RelocationTables, ASlotBothTablesWriteKeepsTheLastRowOnly) {
    ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
    Register_Id target = global_of(type_of(BASIC_TYPE_U64));
    Register_Id slot = global_of(type_of(BASIC_TYPE_U64));
    Register_Id text = allocate_constant_data(4, 1);
    ASSERT_TRUE(add_a_relocation(allocate_within_register(slot, 0, 8), text, 1));
    ASSERT_TRUE(add_a_relocation(allocate_within_register(slot, 0, 8), target, 0));
    Test_Image image;
    ASSERT_TRUE(write_tables(&image));
    EXPECT_EQ(image.header.constant_relocation_count, 0u);
    EXPECT_EQ(image.header.global_relocation_count, 1u);
    EXPECT_EQ(load_u64(&image.globals[8]), 0u);  // the target's offset in global data
}

TEST(RelocationTables, RowsTheLoaderWouldNotApplyAreInternalErrors) {
    struct Case {
        const char* name;
        void (*make)();
        const char* message;
    };
    static const Case cases[] = {
        {"a slot in type data",
         [] {
             Register_Id type_data = allocate_constant_data(16, 8);
             get_register(type_data)->kind = REGISTER_TYPE_DATA;
             add_a_relocation(allocate_within_register(type_data, 0, 8), allocate_constant_data(4, 1), 1);
         },
         "Internal compiler error: a relocation lies in data the image does not rebase."},
        {"a slot in constant data pointing into global data",
         [] {
             Register_Id slot = allocate_constant_data(8, 8);
             add_a_relocation(slot, global_of(type_of(BASIC_TYPE_U64)), 0);
         },
         "Internal compiler error: a relocation lies in data the image does not rebase."},
        {"a constant row whose target is global",
         [] { add_a_relocation(global_of(type_of(BASIC_TYPE_U64)), global_of(type_of(BASIC_TYPE_U64)), 1); },
         "Internal compiler error: a relocation points into data of another kind."},
        {"a slot of no register",
         [] { add_a_relocation(INVALID_REGISTER_ID, allocate_constant_data(4, 1), 1); },
         "Internal compiler error: a relocation lies in data the image does not rebase."},
        {"a slot too small for a pointer at the area's end",
         [] {
             Register_Id small = global_of(type_of(BASIC_TYPE_U32));
             add_a_relocation(small, allocate_constant_data(4, 1), 1);
         },
         "Internal compiler error: a relocation lies outside its data."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
        c.make();
        Test_Image image;
        EXPECT_FALSE(write_tables(&image));
        EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.message});
    }
}

TEST(RelocationTables, TheOutputIsBounded) {
    ASSERT_TRUE(reset_test_program(RELOCATION_SOURCE));
    Value text = string_constant("abc", 1);
    (void)text;
    Test_Image image;
    EXPECT_FALSE(write_tables(&image, compiler_output_memory.size - 20));
    EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"The compiler ran out of memory for the compiled image."});
    compiler_output_memory.used = 0;
}
