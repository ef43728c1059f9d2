// Global declarations parsed on their first use: their values written into global data
// while compiling, with no instruction, wherever the use stands; and defaults of structs,
// of which a union's first member alone gives its own.
#include <gtest/gtest.h>

#include "parser_test_helpers.h"

static std::vector<u8> global_octets(const char* name) {
    Identifier* global = find_global(name);
    if (!global || !register_id_is_valid(global->register_id)) return {};
    u8* octets = get_register_global_data(global->register_id);
    return std::vector<u8>(octets, octets + get_register_size(global->register_id));
}

static std::vector<u8> octets_of(const void* data, size_t size) {
    return std::vector<u8>((const u8*)data, (const u8*)data + size);
}

TEST(Declarations, GlobalsAreWrittenIntoGlobalData) {
    Scratch_Directory dir;
    std::string path = dir.write("custom.8",
                                 "#on_load { y := x + 1; z := wide; s := record; t := text; r := real; b := buffer; }\n"
                                 "x: s32 = 5;\n"
                                 "wide: u64 = 0x1122334455667788;\n"
                                 "real: f64 = 2.5;\n"
                                 "text: String = \"quarn\";\n"
                                 "record: Defaults;\n"
                                 "buffer: [4] u16;\n"
                                 "unused: s32 = \"not a number\";\n"
                                 "$Inner: #struct = { n: u16 = 7; m: u16; };\n"
                                 "$Defaults: #struct = { a: s32 = 1; #union { b: s32 = 2; c: f32 = 3.0; } "
                                 "#union { #struct { d: u8 = 4; e: u8 = 5; } f: u16 = 6; } g: u8 = ?; inner: Inner; };\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(global_compiler_state.global_scope->instructions.count, 0u) << "globals are data, not code";

    s32 five = 5;
    u64 wide = 0x1122334455667788ull;
    f64 real = 2.5;
    EXPECT_EQ(global_octets("x"), octets_of(&five, 4));
    EXPECT_EQ(global_octets("wide"), octets_of(&wide, 8));
    EXPECT_EQ(global_octets("real"), octets_of(&real, 8));

    std::vector<u8> text = global_octets("text");
    ASSERT_EQ(text.size(), 16u);
    EXPECT_EQ(load_u64(text.data() + 8), 5u) << "the count";

    // a = 1; b = 2 (c shares its place); d = 4, e = 5 (f shares theirs); g untouched; inner.n = 7.
    std::vector<u8> expected(16, 0);
    expected[0] = 1;
    expected[4] = 2;
    expected[8] = 4;
    expected[9] = 5;
    expected[12] = 7;
    EXPECT_EQ(global_octets("record"), expected);

    // A fixed-size array's data points at storage of its own once the image is loaded.
    Identifier* buffer = find_global("buffer");
    Relocation* relocations = (Relocation*)global_compiler_state.global_relocations.data;
    bool found = false;
    for (u32 i = 0; i < global_compiler_state.global_relocations.count; i++) {
        Register* where = get_register(relocations[i].where);
        if (where && where->kind == REGISTER_VIEW && registers_match(where->base, buffer->register_id)) {
            found = true;
            EXPECT_EQ(get_register_size(relocations[i].target), 8u) << "four u16";
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(global_octets("buffer"), std::vector<u8>(16, 0));

    EXPECT_EQ(find_global("unused")->flags & IDENTIFIER_PENDING, IDENTIFIER_PENDING) << "never used, never parsed";
    free_compiler_state();
}

// A global's value is parsed on its first use; one that fails is reported there, once.
TEST(Declarations, FirstUseOfGlobals) {
    struct Case {
        const char* name;
        const char* source;
        const char* message;  // null: compiles
        u32 line;
    };
    const Case cases[] = {
        {"used above its declaration", "#on_load { y := x; }\nx: s32 = 5;\n", nullptr, 0},
        {"an unused global with an error", "#on_load { }\nx: s32 = \"texts\";\n", nullptr, 0},
        {"a used global with an error", "#on_load { y := x; z := x; }\nx: s32 = \"texts\";\n",
         "You cannot assign a 5-byte string to a 4-byte s32.", 2},
        {"a global from a variable", "#on_load { y := x; }\nx: s32 = v;\nv: s32;\n",
         "This expression does not appear to be constant.", 2},
        {"a global in its own value", "#on_load { y := x; }\nx: s32 = x;\n", "'x' was not previously declared.", 2},
        {"a constant in its own value", "#on_load { y := C; }\n$C := C + 1;\n", "'C' was not previously declared.", 2},
        {"a constant from a constant below", "#on_load { y := A; }\n$A := B * 2;\n$B := 21;\n", nullptr, 0},
    };
    Scratch_Directory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compile_test_file(dir.write("custom.8", c.source)), c.message == nullptr);
        if (c.message) {
            ASSERT_EQ(compile_error_messages(), std::vector<std::string>{c.message});
            EXPECT_EQ(get_compile_error(0)->line, c.line);
        } else {
            EXPECT_EQ(compile_errors.count, 0u) << testing::PrintToString(compile_error_messages());
        }
        free_compiler_state();
    }
}
