// Enum bodies at the edges of each base type, and literals past the first scratch table:
// each checked through a compile of a small file after the prelude.
#include <gtest/gtest.h>

#include "parser_test_helpers.h"

static std::vector<std::string> compile_messages(const std::string& text) {
    Scratch_Directory dir;
    std::string path = dir.write("custom.8", text);
    compile_test_file(path);
    std::vector<std::string> messages = compile_error_messages();
    free_compiler_state();
    return messages;
}

TEST(EnumBodies, EachBaseTypeHoldsItsLimitAndRefusesOnePast) {
    struct Case {
        const char* base;
        const char* value;
        const char* message;  // empty: accepted
    };
    const Case cases[] = {
        {"u8", "0xff", ""},
        {"u8", "0x100", "The value assigned to this member (0x100) is too big. The limit is 0xff."},
        {"u16", "0xffff", ""},
        {"u16", "0x10000", "The value assigned to this member (0x10000) is too big. The limit is 0xffFF."},
        {"u32", "0xffffffff", ""},
        {"u32", "0x100000000", "The value assigned to this member (0x100000000) is too big. The limit is 0xffffffff."},
        {"u64", "0xffffffffffffffff", ""},
        {"s8", "127", ""},
        {"s8", "128", "The value assigned to this member (128) is too big. The limit is 127."},
        {"s8", "-128", ""},
        {"s8", "-129", "The value assigned to this member (-129) is too small. The limit is -128."},
        {"s16", "32767", ""},
        {"s16", "32768", "The value assigned to this member (32,768) is too big. The limit is 32,767."},
        {"s16", "-32768", ""},
        {"s16", "-32769", "The value assigned to this member (-32,769) is too small. The limit is -32,768."},
        {"s32", "2147483647", ""},
        {"s32", "2147483648", "The value assigned to this member (2,147,483,648) is too big. The limit is 2,147,483,647."},
        {"s32", "-2147483648", ""},
        {"s32", "-2147483649", "The value assigned to this member (-2,147,483,649) is too small. The limit is -2,147,483,648."},
        {"s64", "-9223372036854775808", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " " + c.value);
        std::vector<std::string> messages =
            compile_messages(std::string("$E: #enum ") + c.base + " = { $A := " + c.value + "; };\n#on_load { e := E.A; }\n");
        std::vector<std::string> expected;
        if (*c.message) expected.push_back(c.message);
        EXPECT_EQ(messages, expected);
    }
}

TEST(ArrayLiterals, ManyElementsOutgrowTheScratchTable) {
    std::string elements;
    for (int i = 0; i < 5000; i++) elements += (i ? ", " : "") + std::to_string(i);
    std::vector<std::string> messages =
        compile_messages("$MANY := u32.[" + elements + "];\n"
                         "#on_load { #assert(MANY.count == 5000 && MANY[4999] == 4999 && MANY[1024] == 1024); }\n");
    EXPECT_EQ(messages, std::vector<std::string>{});
}
