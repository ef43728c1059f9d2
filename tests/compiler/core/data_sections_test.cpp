#include <gtest/gtest.h>

#include "compiler_test_helpers.h"
#include "stand_ins.h"

// What the image writer and the loader do with the staged data: the constant area, then
// the global area, each on a 32-byte boundary, every non-view register copied to its
// offset, and every relocation's pointer set to where its target lies once loaded.
struct Loaded_Image {
    std::vector<u8> bytes;
    u64 constant_start;
    u64 global_start;
    u8* at(u64 offset) { return bytes.data() + offset; }
};

static u64 area_start(Loaded_Image& image, u8 table) {
    return table == REGISTER_GLOBAL_DATA ? image.global_start : image.constant_start;
}

static void copy_registers(Loaded_Image& image, Dynamic_Array* table, u64 start) {
    for (u32 i = 0; i < table->count; i++) {
        Register* row = (Register*)table->data + i;
        if (row->kind == REGISTER_VIEW) continue;
        memcpy(image.at(start + row->data_offset), row->data, row->size);
    }
}

static Loaded_Image load_image(u64 header_size) {
    Compiler_State* state = &global_compiler_state;
    Loaded_Image image;
    image.constant_start = align_up(header_size, 32);
    image.global_start = align_up(image.constant_start + state->constant_data_size, 32);
    image.bytes.assign(image.global_start + state->global_data_size, 0xEE);
    copy_registers(image, &state->constant_registers, image.constant_start);
    copy_registers(image, &state->global_registers, image.global_start);
    // The loaded image starts where its bytes are, so the tests can read through the pointers.
    u64 base = (u64)image.bytes.data();
    auto relocate = [&](Dynamic_Array* list, u8 target_table) {
        for (u32 i = 0; i < list->count; i++) {
            Relocation* r = (Relocation*)list->data + i;
            u64 where = area_start(image, r->where_area) + get_register_offset_in_constant_data(r->where);
            u64 target = area_start(image, target_table) + get_register_offset_in_constant_data(r->target);
            store_u64(image.at(where), base + target);
        }
    };
    relocate(&state->constant_relocations, REGISTER_CONSTANT_DATA);
    relocate(&state->global_relocations, REGISTER_GLOBAL_DATA);
    return image;
}

// The String at an image offset, read through its relocated pointer.
static std::string loaded_string(Loaded_Image& image, u64 offset) {
    u8* data = (u8*)load_u64(image.at(offset));
    u64 count = load_u64(image.at(offset + 8));
    EXPECT_GE(data, image.bytes.data());
    EXPECT_LE(data + count, image.bytes.data() + image.bytes.size());
    return std::string((char*)data, count);
}

static Value string_constant(const std::string& text) {
    Value value;
    make_constant_value_from_string(&value, String{(u8*)text.data(), (s64)text.size()}, Trace{});
    return value;
}

static Value struct_constant(Register_Id id, Identifier* type) {
    Value value;
    make_constant_value_from_register(&value, id, type, Trace{});
    return value;
}

static Register_Id member_view(Register_Id id, Identifier* type, const char* member) {
    Identifier* m = get_struct_member_from_string(type, string_from_c(member));
    return allocate_within_register(id, m->member_offset, m->size);
}

TEST(DataSections, LoaderSimulation) {
    ASSERT_TRUE(reset_with_support_types());
    Scope* global = global_compiler_state.global_scope;
    Identifier* string = basic_type(BASIC_TYPE_STRING);
    Identifier* u32_type = basic_type(BASIC_TYPE_U32);
    Identifier* u8_type = basic_type(BASIC_TYPE_U8);

    // Deep {tag: String}; Inner {n: u32; deep: Deep; label: String}; Outer {name: String; inner: Inner}
    Identifier* deep = add_test_struct(global, "Deep", {{"tag", string}});
    Identifier* inner = add_test_struct(global, "Inner", {{"n", u32_type}, {"deep", deep}, {"label", string}});
    Identifier* outer = add_test_struct(global, "Outer", {{"name", string}, {"inner", inner}});
    Identifier* bytes = get_or_add_array_type_from(u8_type, Trace{}, nullptr);

    // A global String from a literal.
    Register_Id greeting = allocate_a_register(global, 16, string, 8);
    Value hello = string_constant("hello");
    ASSERT_TRUE(copy_constant_value_data(greeting, string, &hello));

    // A struct constant holding strings two levels down, copied into a global.
    Register_Id source = allocate_constant_data(outer->size, 8);
    Register_Id inner_view = member_view(source, outer, "inner");
    Value name = string_constant("outer name"), label = string_constant("inner label"), tag = string_constant("deep tag");
    ASSERT_TRUE(copy_constant_value_data(member_view(source, outer, "name"), string, &name));
    ASSERT_TRUE(copy_constant_value_data(member_view(inner_view, inner, "label"), string, &label));
    ASSERT_TRUE(copy_constant_value_data(member_view(member_view(inner_view, inner, "deep"), deep, "tag"), string, &tag));
    store_u32(get_register_constant_data(member_view(inner_view, inner, "n")), 77);
    u32 relocations_before = global_compiler_state.constant_relocations.count;
    Register_Id copy = allocate_a_register(global, outer->size, outer, 8);
    Value outer_constant = struct_constant(source, outer);
    ASSERT_TRUE(copy_constant_value_data(copy, outer, &outer_constant));
    EXPECT_EQ(global_compiler_state.constant_relocations.count, relocations_before + 3);  // one per string

    // An array constant whose data are octets in constant data, copied into a global.
    Register_Id elements = allocate_constant_data(3, 1);
    memcpy(get_register_constant_data(elements), "xyz", 3);
    Register_Id array = allocate_constant_data(bytes->size, 8);
    ASSERT_TRUE(add_a_relocation(member_view(array, bytes, "data"), elements, 1));
    store_u64(get_register_constant_data(member_view(array, bytes, "count")), 3);
    Register_Id array_copy = allocate_a_register(global, bytes->size, bytes, 8);
    Value array_constant = struct_constant(array, bytes);
    ASSERT_TRUE(copy_constant_value_data(array_copy, bytes, &array_constant));

    // Past a data bucket: a 2 MiB string and a 3 MiB global, which a global points into.
    std::string long_text(2 << 20, 'q');
    long_text.back() = '!';
    Register_Id long_global = allocate_a_register(global, 16, string, 8);
    Value long_constant = string_constant(long_text);
    ASSERT_TRUE(copy_constant_value_data(long_global, string, &long_constant));
    Register_Id big = allocate_a_register(global, 3 << 20, nullptr, 16);
    u8* big_octets = get_register_global_data(big);
    ASSERT_NE(big_octets, nullptr);
    big_octets[0] = 1;
    big_octets[(3 << 20) - 1] = 2;
    Register_Id pointer = allocate_a_register(global, 8, type_to_memory_address_of_type(u8_type, 1), 8);
    ASSERT_TRUE(add_a_relocation(allocate_within_register(pointer, 0, 8), big, 0));
    Register_Id after = allocate_a_register(global, 4, u32_type, 4);
    store_u32(get_register_global_data(after), 0xABCD);
    EXPECT_EQ(compile_errors.count, 0u);

    Loaded_Image image = load_image(100);
    u64 g = image.global_start;
    EXPECT_EQ(image.constant_start % 32, 0u);
    EXPECT_EQ(image.global_start % 32, 0u);
    EXPECT_EQ(loaded_string(image, g + get_register_offset_in_global_data(greeting)), "hello");
    u64 at = g + get_register_offset_in_global_data(copy);
    EXPECT_EQ(loaded_string(image, at), "outer name");
    EXPECT_EQ(loaded_string(image, at + 16 + 20), "inner label");  // inner at 16: n, deep at 4, label at 20
    EXPECT_EQ(loaded_string(image, at + 16 + 4), "deep tag");
    EXPECT_EQ(load_u32(image.at(at + 16)), 77u);
    u64 array_at = g + get_register_offset_in_global_data(array_copy);
    EXPECT_EQ(std::string((char*)load_u64(image.at(array_at)), load_u64(image.at(array_at + 8))), "xyz");
    EXPECT_EQ(loaded_string(image, g + get_register_offset_in_global_data(long_global)), long_text);
    u8* big_loaded = (u8*)load_u64(image.at(g + get_register_offset_in_global_data(pointer)));
    EXPECT_EQ(big_loaded, image.at(g + get_register_offset_in_global_data(big)));
    EXPECT_EQ(big_loaded[0], 1);
    EXPECT_EQ(big_loaded[(3 << 20) - 1], 2);
    EXPECT_EQ(get_register_offset_in_global_data(big) % 16, 0u);
    EXPECT_EQ(load_u32(image.at(g + get_register_offset_in_global_data(after))), 0xABCDu);

    // The constant-side source still reads the same once loaded.
    EXPECT_EQ(loaded_string(image, image.constant_start + get_register_offset_in_constant_data(source) + 36), "inner label");
}

TEST(DataSections, ReservationsAndCopies) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    u64 cursor = global_compiler_state.constant_data_size;
    Register_Id byte = allocate_constant_data(1, 1);
    Register_Id word = allocate_constant_data(8, 8);
    EXPECT_EQ(get_register_offset_in_constant_data(byte), cursor);
    EXPECT_EQ(get_register_offset_in_constant_data(word), align_up(cursor + 1, 8));
    EXPECT_EQ(get_register_constant_data(word), get_register_constant_data(byte) + 1);

    struct Case { const char* name; Value constant; Basic_Type_Slot type; std::vector<u8> octets; };
    auto integer = [](u64 v, Basic_Type_Slot t) { Value x; make_constant_value_from_integer(&x, v, basic_type(t), Trace{}); return x; };
    auto real = [](f64 v, Basic_Type_Slot t) { Value x; make_constant_value_from_float(&x, v, basic_type(t), Trace{}); return x; };
    const Case cases[] = {
        {"u16", integer(0x1234, BASIC_TYPE_U16), BASIC_TYPE_U16, {0x34, 0x12, 0xEE, 0xEE}},
        {"s32 of -2", integer((u64)-2, BASIC_TYPE_S32), BASIC_TYPE_S32, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"f32 from an f64", real(1.5, BASIC_TYPE_F32), BASIC_TYPE_F32, {0, 0, 0xC0, 0x3F}},
        {"f64", real(-2.0, BASIC_TYPE_F64), BASIC_TYPE_F64, {0, 0, 0, 0, 0, 0, 0, 0xC0}},
        {"nothing for a size without a store", integer(7, BASIC_TYPE_VOID), BASIC_TYPE_VOID, {0xEE, 0xEE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Register_Id id = allocate_constant_data((u32)c.octets.size(), 1);
        memset(get_register_constant_data(id), 0xEE, c.octets.size());
        Value constant = c.constant;
        EXPECT_TRUE(copy_constant_value_data(id, basic_type(c.type), &constant));
        u8* staged = get_register_constant_data(id);
        EXPECT_EQ(std::vector<u8>(staged, staged + c.octets.size()), c.octets);
    }

    // An empty string (no characters) stores its zeros and no relocation.
    u32 relocations = global_compiler_state.constant_relocations.count;
    Register_Id empty = allocate_a_register(global, 16, basic_type(BASIC_TYPE_STRING), 8);
    Value none = {};
    none.kind = VALUE_CONSTANT;
    none.constant.mask = CONSTANT_STRING;
    EXPECT_TRUE(copy_constant_value_data(empty, basic_type(BASIC_TYPE_STRING), &none));
    EXPECT_EQ(global_compiler_state.constant_relocations.count, relocations);

    // A string kept as octets gets its text placed when it is copied as a String.
    std::string text = "\"abc\"";
    Source_File* file = add_test_source(text);
    Value octets;
    make_constant_value_from_token(&octets, first_token(file), basic_type(BASIC_TYPE_U8));
    EXPECT_TRUE(copy_constant_value_data(empty, basic_type(BASIC_TYPE_STRING), &octets));
    ASSERT_EQ(global_compiler_state.constant_relocations.count, relocations + 1);
    Relocation* r = (Relocation*)global_compiler_state.constant_relocations.data + relocations;
    EXPECT_EQ(r->where_area, REGISTER_GLOBAL_DATA);
    EXPECT_EQ(std::string((char*)get_register_constant_data(r->target), get_register_size(r->target)), "abc");

    // A sub-program cannot be data: reported, nothing written, the copy fails.
    Identifier* f = add_test_struct(global, "f");
    f->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT;
    f->size = 8;
    Register_Id slot = allocate_a_register(global, 8, f, 8);
    store_u64(get_register_global_data(slot), 0x1122334455667788ull);
    Value sub_program = {};
    sub_program.kind = VALUE_CONSTANT;
    sub_program.constant.mask = CONSTANT_TYPED;
    sub_program.constant.type = f;
    sub_program.constant.data = (u64)f;
    EXPECT_FALSE(copy_constant_value_data(slot, f, &sub_program));
    EXPECT_EQ(load_u64(get_register_global_data(slot)), 0x1122334455667788ull);
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{
        "Taking the address of a sub-program in global/constant data does not work as intended for now.\n"
        "This will be addressed in the future."}));
}

TEST(DataSections, SectionsAreChecked) {
    ASSERT_TRUE(reset_with_basic_types());
    // Filling the first bucket exactly, then one more octet, moves on to a second bucket.
    Data_Section_Bucket* first = constant_data_section.first;
    Register_Id rest = allocate_constant_data(first->size - first->used, 1);
    EXPECT_EQ(first->used, first->size);
    Register_Id next = allocate_constant_data(1, 1);
    EXPECT_NE(constant_data_section.current, first);
    EXPECT_EQ(get_register_constant_data(next), (u8*)(constant_data_section.current + 1));
    EXPECT_TRUE(register_id_is_valid(rest));

    // A section never passes its cap: the global that would is refused with a report.
    Register_Id too_big = allocate_a_register(global_compiler_state.global_scope, (u32)DATA_SECTION_MAX_TOTAL, nullptr, 8);
    EXPECT_FALSE(register_id_is_valid(too_big));
    EXPECT_EQ(compile_error_messages(), (std::vector<std::string>{"The compiler ran out of memory for global data."}));

    // A later compile starts from the first bucket, and its staged octets start as zeros.
    u8* staged = get_register_constant_data(next);
    *staged = 0x5A;
    ASSERT_TRUE(reset_with_basic_types());
    Register_Id again = allocate_constant_data(first->size - first->used, 1);
    Register_Id reused = allocate_constant_data(1, 1);
    EXPECT_TRUE(register_id_is_valid(again));
    EXPECT_EQ(get_register_constant_data(reused), staged);
    EXPECT_EQ(*staged, 0);
}
