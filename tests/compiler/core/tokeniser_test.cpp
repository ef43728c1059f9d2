// The tokeniser's token forms and messages are covered by the case files; these tests hold
// what a listing cannot show: the searches, tokens the compiler makes, the lists across
// buckets, and that a compile repeated in one process tokenises the same.
#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

static s64 index_of(Source_File* file, Token* wanted) {
    if (!wanted) return -1;
    s64 index = 0;
    for (Token* token = first_token(file); token; token = token->next, index++) {
        if (token == wanted) return index;
    }
    return -2;
}

TEST(Tokeniser, SearchesSkipBracketedGroups) {
    // Tokens:          0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17
    std::string text = "a ( b , c ) , d ; x [ y = z ] = w ;";
    //                  a ( b , c ) , d ; x [  y  =  z  ]  =  w  ;
    ASSERT_TRUE(reset_compiler());
    Source_File* file = add_test_source(text);
    ASSERT_EQ(compile_errors.count, 0u);
    auto at = [&](u32 i) { return token_at(file, i); };

    struct Case { const char* name; Token* found; s64 expected; };
    const Case cases[] = {
        {"group jumped", get_first_token_like(at(0), TOKEN_COMMA), 6},
        {"closing bracket ends the unbounded search", get_first_token_like(at(2), TOKEN_SEMICOLON), 5},
        {"null start", get_first_token_like(nullptr, TOKEN_COMMA), -1},
        {"bounded finds before end", get_first_token_like_bounded(at(0), TOKEN_COMMA, at(8)), 6},
        {"end is not examined", get_first_token_like_bounded(at(0), TOKEN_COMMA, at(6)), -1},
        {"start equal to end", get_first_token_like_bounded(at(6), TOKEN_COMMA, at(6)), -1},
        {"unmatched closer stops", get_first_token_like_bounded(at(3), TOKEN_SEMICOLON, at(17)), -1},
        {"group ending at end", get_first_token_like_bounded(at(1), TOKEN_COMMA, at(5)), -1},
        {"operator outside the group", get_first_operator_like_bounded(at(9), OP_ASSIGN, at(17)), 15},
        {"operator inside from within", get_first_operator_like_bounded(at(11), OP_ASSIGN, at(14)), 12},
        {"no operator", get_first_operator_like_bounded(at(0), OP_ASSIGN, at(8)), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(index_of(file, c.found), c.expected);
    }
}

TEST(Tokeniser, PrioritySearchPassesOverPrefixes) {
    struct Case { const char* text; u8 level; s64 expected; };
    const Case cases[] = {
        {"a * - b + c", 3, 4},    // the '-' after '*' belongs to b
        {"a * - b + c", 4, 1},
        {"a - - b", 3, 1},
        {"( a + b ) * c - d", 3, 7},
        {"( a + b ) * c - d", 4, 5},
        {"( a + b ) * c", 2, -1},
        {"a = b || c", 1, 1},
        {"a.b .c", 5, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.level));
        ASSERT_TRUE(reset_compiler());
        std::string text = c.text;
        Source_File* file = add_test_source(text);
        Token* found = get_next_binary_operator_with_priority_level_below_or_equal(first_token(file), c.level, nullptr);
        EXPECT_EQ(index_of(file, found), c.expected);
    }
}

TEST(Tokeniser, CompilerMadeTokensAndPositions) {
    ASSERT_TRUE(reset_compiler());
    static u8 name[] = "u8";
    Trace location = {7, 3, name, nullptr, 0};
    Bucket_Array* tokens = &global_compiler_state.tokens;
    Token* first = add_a_token(tokens, name, TOKEN_IDENTIFIER, 0, 0, location);
    Token* second = add_a_token(tokens, name + 1, TOKEN_COMMA, 5, 2, location);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(first->length, 1u);
    EXPECT_EQ(first->location.text_start, name);
    EXPECT_EQ(first->location.length, 1u);
    EXPECT_EQ(first->location.file_index, 7u);
    EXPECT_EQ(first->location.line, 3u);
    EXPECT_EQ(second->value, 5u);
    EXPECT_EQ(second->priority, 2);
    EXPECT_EQ(second->next, nullptr);

    u8 text[2] = {'a', 'b'};
    EXPECT_EQ(get_next_char(text, text + 2), text + 1);
    EXPECT_EQ(get_next_char(text + 2, text + 2), nullptr);

    // A report on a token the compiler made reads nothing around it.
    print_error_on_token(first, "made here");
    EXPECT_EQ(get_compile_error(0)->captured_length, 0u);
}

TEST(Tokeniser, WordsMarkTheirWholeText) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "name 12ab \"str\ning\" -1.5";
    Source_File* file = add_test_source(text);
    for (Token* token = first_token(file); token; token = token->next) {
        SCOPED_TRACE(std::string((char*)token->text, token->length));
        EXPECT_EQ(token->location.text_start, token->text);
        EXPECT_EQ(token->location.length, token->length);
    }
    Token* string = token_at(file, 2);
    EXPECT_EQ(string->location.line, 1u);
    EXPECT_EQ(token_at(file, 3)->location.line, 2u);
    EXPECT_EQ(token_at(file, 3)->location.line_start, file->text + 15);
}

TEST(Tokeniser, FailureKeepsTheTokensMadeAndReportsOnce) {
    ASSERT_TRUE(reset_compiler());
    std::string text = "a b ) c";
    Source_File* file = add_test_source(text);
    EXPECT_EQ(file->tokens.count, 2u);
    EXPECT_EQ(compile_errors.count, 1u);
    EXPECT_EQ(tokenise_file(add_test_source(std::string(), "empty.8", false)), true);
}

TEST(Tokeniser, LongListsRunAcrossBuckets) {
    ASSERT_TRUE(reset_compiler());
    std::string text;
    const u32 count = 3 * NUM_TOKENS_PER_BUCKET + 6;  // even: the last ':' has its ';'
    for (u32 i = 0; i < count; i++) text += "w" + std::to_string(i) + (i % 2 ? ";" : ":");
    Source_File* file = add_test_source(text);
    ASSERT_EQ(compile_errors.count, 0u);
    EXPECT_EQ(file->tokens.count, 2 * count);
    u32 walked = 0;
    for (Token* token = first_token(file); token; token = token->next) {
        if (walked % 4 == 1) {
            ASSERT_EQ(token->kind, TOKEN_COLON);
            ASSERT_EQ((Token*)token->value, token->next->next);
        }
        walked++;
    }
    EXPECT_EQ(walked, 2 * count);
}

// Everything a listing shows, with links as token numbers, for comparing two compiles.
static std::vector<std::string> describe_tokens(Source_File* file) {
    std::vector<std::string> lines;
    for (Token* token = first_token(file); token; token = token->next) {
        std::string line = std::to_string(token->kind) + " " + std::to_string(token->text - file->text) + " " +
                           std::to_string(token->length) + " " + std::to_string(token->location.line) + " " +
                           std::to_string(token->priority) + " ";
        if (token->kind & (TOKEN_SCOPE_START | TOKEN_COLON)) line += std::to_string(index_of(file, (Token*)token->value));
        else line += std::to_string(token->value);
        lines.push_back(line);
    }
    for (u32 i = 0; i < compile_errors.count; i++) {
        String error = compile_error_to_text(get_compile_error(i), true);
        lines.push_back(std::string((char*)error.data, error.count));
    }
    return lines;
}

TEST(Tokeniser, TwoCompilesInOneProcessGiveTheSameResult) {
    std::string good = "$f: (a: u8) -> u8 = { return a * -2 + 1.5; };\n/* c */ x := \"s\";";
    std::string bad = "x := { ( 1 ] };";
    std::vector<std::string> first[2];
    for (int round = 0; round < 2; round++) {
        for (int which = 0; which < 2; which++) {
            ASSERT_TRUE(reset_compiler());
            Source_File* file = add_test_source(which ? bad : good);
            std::vector<std::string> result = describe_tokens(file);
            if (round == 0) first[which] = result;
            else EXPECT_EQ(result, first[which]) << (which ? "bad" : "good");
        }
    }
    EXPECT_GT(first[0].size(), 20u);
}
