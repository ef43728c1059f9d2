#include "terminal_test_support.h"

TEST(TerminalArguments, SplitsAtBlanksAndKeepsQuotedRunsWhole) {
    struct Case {
        const char* name;
        std::string line;
        b8 has_storage;
        std::vector<std::string> words;
    };
    static const Case cases[] = {
        {"quotes of both kinds, a word right after a quote", "ls \"my dir\" 'a b'c", true, {"ls", "my dir", "a b", "c"}},
        {"blanks and tabs only", " \t  ", true, {}},
        {"empty", "", false, {}},
        {"runs of blanks and tabs between words", "\t a \t\tb  ", true, {"a", "b"}},
        {"quotes inside a word stay", "a\"b c'd", true, {"a\"b", "c'd"}},
        {"a missing closing quote takes the rest", "echo 'x y", true, {"echo", "x y"}},
        {"an empty quoted run is an empty word", "a \"\" b", true, {"a", "", "b"}},
        {"the shell's line as one word", "sh -ci 'echo hi; exit 3'", true, {"sh", "-ci", "echo hi; exit 3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array arguments;
        ASSERT_TRUE(string_to_c_argument_list(&arguments, test_string(c.line)));
        EXPECT_EQ(arguments.element_size, 8u);
        if (!c.has_storage) {
            EXPECT_EQ(arguments.data, nullptr);
            EXPECT_EQ(arguments.count, 0u);
            continue;
        }
        ASSERT_EQ(arguments.count, c.words.size() + 1);
        char** words = (char**)arguments.data;
        std::vector<std::string> got;
        for (u32 i = 0; i + 1 < arguments.count; i++) got.push_back(words[i]);
        EXPECT_EQ(got, c.words);
        EXPECT_EQ(words[arguments.count - 1], nullptr);
        dynamic_array_free(&arguments);
    }
}
