#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "tests/test_seed.h"

// The plain reading of the rule: CR (swallowing a directly following LF inside the
// range) or LF, each one break.
static std::vector<s64> scalar_break_ends(const std::string& t, s64 range) {
    std::vector<s64> ends;
    for (s64 i = 0; i < range;) {
        if (t[i] == '\r') {
            i += (i + 1 < range && t[i + 1] == '\n') ? 2 : 1;
            ends.push_back(i);
        } else if (t[i] == '\n') {
            ends.push_back(++i);
        } else {
            i++;
        }
    }
    return ends;
}

static void expect_agrees_with_scalar(const std::string& t) {
    // Misaligned on purpose: the blocks are counted from the text's start, not its address.
    std::vector<u8> buffer(t.size() + 40);
    u8* text = buffer.data() + 7;
    memcpy(text, t.data(), t.size());
    s64 n = (s64)t.size();
    std::vector<s64> ends = scalar_break_ends(t, n);
    ASSERT_EQ(count_lines_in(text, n), ends.size() + 1);
    for (u32 line = 0; line <= ends.size() + 2; line++) {
        s64 expected = line == 0 || line > ends.size() + 1 ? n : line == 1 ? 0 : ends[line - 2];
        ASSERT_EQ(get_offset_at_line(text, n, line), expected) << "line " << line;
    }
    for (s64 offset = 0; offset <= n; offset++) {
        ASSERT_EQ(get_line_at_offset(text, n, offset), scalar_break_ends(t, offset).size() + 1) << "offset " << offset;
    }
}

TEST(Lines, ExamplesAndEdges) {
    std::string t("a\r\nb\rc\nd", 8);
    EXPECT_EQ(count_lines_in((u8*)t.data(), 8), 4u);
    const s64 expected[] = {8, 0, 3, 5, 7, 8, 8, 8, 8, 8};
    for (u32 line = 0; line < 10; line++) EXPECT_EQ(get_offset_at_line((u8*)t.data(), 8, line), expected[line]) << line;
    EXPECT_EQ(get_line_at_offset((u8*)t.data(), 8, 2), 2u);  // at the LF of the pair: counted once
    EXPECT_EQ(get_line_at_offset((u8*)t.data(), 8, 3), 2u);

    std::string ends_in_pair = "ab\r\n";
    EXPECT_EQ(count_lines_in((u8*)ends_in_pair.data(), 4), 2u);
    EXPECT_EQ(get_offset_at_line((u8*)ends_in_pair.data(), 4, 2), 4);
    EXPECT_EQ(count_lines_in(nullptr, 0), 1u);
}

TEST(Lines, VectorCounterAgreesWithScalarAroundBlockEdges) {
    // Every break shape at every position near the block edges and the tail, for text
    // lengths that end a block exactly, leave a tail, or are shorter than a block.
    const char* shapes[] = {"\r\n", "\r", "\n", "\n\r", "\r\r\n", "\r\n\r\n"};
    const s64 lengths[] = {31, 32, 33, 63, 64, 65, 66, 95, 96, 97, 130};
    for (s64 length : lengths) {
        for (const char* shape : shapes) {
            for (s64 at = 0; at < length; at++) {
                std::string t(length, 'a');
                for (size_t k = 0; shape[k] && at + (s64)k < length; k++) t[at + k] = shape[k];
                SCOPED_TRACE(testing::Message() << "length " << length << " at " << at << " shape " << (int)strlen(shape));
                expect_agrees_with_scalar(t);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST(Lines, VectorCounterAgreesWithScalarOnRandomTexts) {
    u32 seed = (u32)test_seed(7);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char alphabet[] = {'a', '\r', '\n', ' ', '\xC3', '\xA9'};
    for (int round = 0; round < 400; round++) {
        std::string t(random() % 300, 'a');
        u32 density = 1 + random() % 6;  // from mostly breaks to few
        for (char& c : t) c = random() % density == 0 ? alphabet[1 + random() % 2] : alphabet[random() % 6];
        SCOPED_TRACE(round);
        expect_agrees_with_scalar(t);
        if (HasFatalFailure()) return;
    }
}

TEST(Lines, LineStartEndAndBlanks) {
    std::string t = "ab\r\n\t cd  \nx";
    Editor_File* file = make_test_file(t);
    u8* text = file->text.data;
    s64 n = (s64)t.size();
    EXPECT_EQ(get_line_start(text, 0), 0);
    EXPECT_EQ(get_line_start(text, 7), 4);
    EXPECT_EQ(get_line_start(text, n), 11);
    EXPECT_EQ(get_line_end(text, n, 0), 2);
    EXPECT_EQ(get_line_end(text, n, 11), n);  // last line without a break
    EXPECT_EQ(get_line_end(text, n, n + 3), n + 3);
    EXPECT_EQ(get_offset_at_line_from_file(file, 3), 11);
    EXPECT_EQ(editor_get_line_at_offset(file, 11), 3u);
    Editor_File* saved_current = current_file;
    current_file = file;
    EXPECT_EQ(editor_get_line_at_offset(nullptr, 11), 3u);  // no file means the current one
    current_file = nullptr;
    EXPECT_EQ(editor_get_line_at_offset(nullptr, 11), 1u);  // and with none, the first line
    current_file = saved_current;

    struct Case { s64 offset; const char* expected; };
    const Case around[] = {{5, "\t "}, {4, "\t "}, {6, "\t "}, {8, "  "}, {10, "  "}, {1, ""}, {n, ""}};
    for (const Case& c : around) {
        String s = get_whitespace_at(file, c.offset);
        EXPECT_EQ(std::string((char*)s.data, s.count), c.expected) << c.offset;
    }
    String from = get_whitespace_from(5, text, n);
    EXPECT_EQ(std::string((char*)from.data, from.count), " ");
    EXPECT_EQ(get_whitespace_from(n, text, n).count, 0);
    close_file(file);
}

TEST(Lines, Columns) {
    // "é" is two octets, 0x80 a stray continuation octet: one column each.
    std::string first = "a\xC3\xA9 \x80z";
    std::string t = first + "\nxy\r\n\tq";
    Editor_File* file = make_test_file(t);
    struct Case { const char* name; s64 line_start; u32 column; s64 expected_cursor; u32 expected_column; };
    const Case cases[] = {
        {"start", 0, 0, 0, 0},
        {"after a two-octet character", 0, 2, 3, 2},
        {"blanks count", 0, 3, 4, 3},
        {"stray continuation octet", 0, 4, 5, 4},
        {"past the line end stops before the break", 0, 10, 6, 5},
        {"short line", 7, 10, 9, 2},
        {"tab is one column", 11, 1, 12, 1},
        {"last line end", 11, 9, 13, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_cursor_at_column(file, c.line_start, c.column);
        EXPECT_EQ(file->cursor, c.expected_cursor);
        EXPECT_TRUE(file->flags & FILE_CURSOR_MOVED);
        EXPECT_EQ(get_cursor_column(file, c.line_start), c.expected_column);
    }
    file->cursor = 3;
    EXPECT_EQ(get_cursor_column(file, 3), 0u);
    EXPECT_EQ(get_cursor_column(file, 5), 0u);
    close_file(file);
}

TEST(Lines, TokenWalks) {
    std::string t = "f(a, g[b](c), d";
    Editor_File* file = make_test_file(t);
    std::vector<Editor_Token> tokens;
    Editor_Token token;
    for (s64 at = 0; editor_get_next_token(file, at, &token) >= 0; at = token.offset + token.length) tokens.push_back(token);
    ASSERT_EQ(tokens.size(), 13u);  // f ( a , g [ b ] ( c ) , d
    Editor_Token* first = tokens.data();
    EXPECT_EQ(get_scope_token(&tokens[12], first), &tokens[1]);  // d: inside f(, past [b] and (c)
    EXPECT_EQ(get_scope_token(&tokens[9], first), &tokens[8]);   // c: inside (
    EXPECT_EQ(get_scope_token(&tokens[1], first), nullptr);
    EXPECT_EQ(get_first_editor_token_like(&tokens[10], EDITOR_TOKEN_OPEN_SCOPE, first), &tokens[8]);
    EXPECT_EQ(get_first_editor_token_like(&tokens[0], EDITOR_TOKEN_WORD, first), &tokens[0]);
    EXPECT_EQ(get_first_editor_token_like(&tokens[12], EDITOR_TOKEN_NUMBER, first), nullptr);
    close_file(file);
}

TEST(LinesThreads, CountingFromSeveralThreads) {
    // Search workers count lines while the main thread does: the statistic is shared.
    std::string t;
    for (int i = 0; i < 5000; i++) t += "line\r\n";
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; k++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; i++) {
                EXPECT_EQ(count_lines_in((u8*)t.data(), (s64)t.size()), 5001u);
                EXPECT_EQ(get_line_at_offset((u8*)t.data(), (s64)t.size(), 6 * 100), 101u);
            }
        });
    }
    for (auto& th : threads) th.join();
}
