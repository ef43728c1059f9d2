#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "tests/test_seed.h"

static std::string kind_name(u16 kind) {
    switch (kind) {
        case EDITOR_TOKEN_NEW_LINE: return "NL";
        case EDITOR_TOKEN_WORD: return "W";
        case EDITOR_TOKEN_NUMBER: return "N";
        case EDITOR_TOKEN_OPEN_SCOPE: return "(";
        case EDITOR_TOKEN_CLOSE_SCOPE: return ")";
        case EDITOR_TOKEN_OPERATOR: return "O";
        case EDITOR_TOKEN_LOGIC: return "L";
        case EDITOR_TOKEN_DOUBLE_QUOTE: return "DQ";
        case EDITOR_TOKEN_SINGLE_QUOTE: return "SQ";
        case EDITOR_TOKEN_BACKQUOTE: return "BQ";
        case EDITOR_TOKEN_LINE_COMMENT: return "C";
        case EDITOR_TOKEN_BLOCK_START: return "BS";
        case EDITOR_TOKEN_BLOCK_END: return "BE";
        case EDITOR_TOKEN_PUNCTUATION: return "P";
        default: return "?";
    }
}

static std::vector<Editor_Token> lex_all(Editor_File* file) {
    std::vector<Editor_Token> tokens;
    Editor_Token token;
    s64 at = 0;
    for (;;) {
        s64 end = editor_get_next_token(file, at, &token);
        if (end < 0) break;
        EXPECT_EQ(end, token.offset + token.length);
        EXPECT_GT(token.length, 0u);
        tokens.push_back(token);
        at = end;
    }
    return tokens;
}

static std::string describe(Editor_File* file, const std::vector<Editor_Token>& tokens) {
    std::string out;
    for (const Editor_Token& t : tokens) {
        if (!out.empty()) out += ' ';
        out += kind_name(t.kind) + ":" + std::string((char*)file->text.data + t.offset, t.length);
    }
    return out;
}

static const Test_Hint c_hint = {{"c", "h"}, "//", "/*", "*/", EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_SINGLE_QUOTE};
static const Test_Hint language_hint = {{"8"}, "//", "/*", "*/", EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_BACKQUOTE};
static const Test_Hint basic_hint = {{"bas"}, "REM ", "(*", "*)", EDITOR_TOKEN_DOUBLE_QUOTE};
// A layer that sets bits besides the quote bits: only the quote bits open strings.
static const Test_Hint loose_hint = {{"w"}, "", "", "", EDITOR_TOKEN_WORD | EDITOR_TOKEN_NUMBER | EDITOR_TOKEN_DOUBLE_QUOTE};

TEST(Lexer, Tokens) {
    Hint_Scope hints = {c_hint, basic_hint};
    struct Case { const char* name; std::string text; std::string file_name; std::string expected; };
    const Case cases[] = {
        {"shift-assign is not a pair", "a>>=b", "t.txt", "W:a L:> L:>= W:b"},
        {"four-octet operator", "x>>>=1", "t.txt", "W:x O:>>>= N:1"},
        {"other four-octet operator", "<<<=", "t.txt", "O:<<<="},
        {"two greater-than signs", ">>", "t.txt", "L:> L:>"},
        {"minus before a digit starts a number", "a-5", "t.txt", "W:a N:-5"},
        {"minus with blanks", "a - 5", "t.txt", "W:a O:- N:5"},
        {"dot number after a blank", "x .5", "t.txt", "W:x N:.5"},
        {"dot number at the start", ".5", "t.txt", "N:.5"},
        {"dot after a word", "a.5", "t.txt", "W:a P:. N:5"},
        {"number shapes", "0x1F 1.5e3 1_000 3.14", "t.txt", "N:0x1F N:1.5e3 N:1_000 N:3.14"},
        {"range", "1..2", "t.txt", "N:1 P:. P:. N:2"},
        {"exponent sign ends a number", "1.5e-3", "t.txt", "N:1.5e N:-3"},
        {"punctuation pairs", "a->b::c:=d=>e<-f", "t.txt", "W:a P:-> W:b P::: W:c P::= W:d P:=> W:e P:<- W:f"},
        {"arithmetic pairs", "++--%=&=*=+=-=/=^=|=", "t.txt", "O:++ O:-- O:%= O:&= O:*= O:+= O:-= O:/= O:^= O:|="},
        {"logic pairs", "&&||!=<===>=", "t.txt", "L:&& L:|| L:!= L:<= L:== L:>="},
        {"singles", "%&*+-/^|~=!<>?#$,.:;@\\", "t.txt",
         "O:% O:& O:* O:+ O:- O:/ O:^ O:| O:~ O:= L:! L:< L:> L:? P:# P:$ P:, P:. P:: P:; P:@ P:\\"},
        {"brackets and quotes", "([{}])\"'`", "t.txt", "(:( (:[ (:{ ):} ):] ):) DQ:\" SQ:' BQ:`"},
        {"line breaks", "a\r\n\r\n\n\rb\r", "t.txt", "W:a NL:\r\n NL:\r\n NL:\n NL:\r W:b NL:\r"},
        {"word octets", "_x9\xC3\xA9\x01y z", "t.txt", "W:_x9\xC3\xA9\x01y W:z"},
        {"comment wins over the operator", "//x", "a.c", "C:// W:x"},
        {"no hint, no comment", "//x", "a.txt", "O:/ O:/ W:x"},
        {"hint chosen by the upper-case name", "/*x*/", "MAIN.C", "BS:/* W:x BE:*/"},
        {"hint text with a blank", "REM x(*y*)", "a.bas", "C:REM  W:x BS:(* W:y BE:*)"},
        {"hint text must fit", "RE", "a.bas", "W:RE"},
        {"blanks only", " \t ", "t.txt", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editor_File* file = make_test_file(c.text, c.file_name);
        EXPECT_EQ(describe(file, lex_all(file)), c.expected);
        close_file(file);
    }
}

TEST(Lexer, NoTokenCases) {
    Editor_File* file = make_test_file("ab cd");
    Editor_Token token = {1234, 9, EDITOR_TOKEN_WORD, 0};
    EXPECT_EQ(editor_get_next_token(file, 5, &token), -1);
    EXPECT_EQ(token.kind, EDITOR_TOKEN_NONE);
    EXPECT_EQ(token.length, 0u);
    EXPECT_EQ(token.offset, 1234);  // the layer's token keeps its offset
    token = Editor_Token{1234, 9, EDITOR_TOKEN_WORD, 0};
    EXPECT_EQ(editor_get_previous_token(file, 0, &token), -1);
    EXPECT_EQ(token.length, 0u);  // only the length is reset
    EXPECT_EQ(token.offset, 1234);
    EXPECT_EQ(token.kind, EDITOR_TOKEN_WORD);
    EXPECT_EQ(editor_get_previous_token(file, 5, &token), 5);
    EXPECT_EQ(token.offset, 3);
    EXPECT_EQ(editor_get_previous_token(file, 99, &token), 5);  // limited to the text
    current_file = nullptr;
    EXPECT_EQ(editor_get_next_token(nullptr, 0, &token), -1);
    EXPECT_EQ(editor_get_previous_token(nullptr, 1, &token), -1);
    EXPECT_EQ(editor_get_token_at_offset(nullptr, 1, &token), -1);
    close_file(file);

    Editor_File* empty = make_test_file("");
    EXPECT_EQ(editor_get_token_at_offset(empty, 0, &token), -1);
    EXPECT_EQ(token.kind, EDITOR_TOKEN_NONE);
    close_file(empty);
}

TEST(Lexer, TokenAtOffset) {
    Editor_File* file = make_test_file("ab  cd+e");
    struct Case { s64 offset; s64 expected_end; s64 expected_offset; };
    const Case cases[] = {
        {0, 2, 0},    // start of a word
        {1, 2, 0},    // inside it
        {2, 2, 0},    // the first blank after a word holds the word
        {3, -1, 0},   // later blanks hold nothing
        {4, 6, 4},
        {6, 7, 6},    // a token starting where another ends wins
        {8, 8, 7},    // the end of the last token
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        Editor_Token token;
        EXPECT_EQ(get_token_at_offset(file, c.offset, &token), c.expected_end);
        if (c.expected_end >= 0) {
            EXPECT_EQ(token.offset, c.expected_offset);
        }
    }
    close_file(file);
}

// Checks the backward lexer, and the token at every offset, against one forward lex of
// the whole text from its start.
static void expect_backward_agrees_with_forward(Editor_File* file) {
    std::vector<Editor_Token> tokens = lex_all(file);
    s64 n = file->text.count;
    size_t before = 0;  // tokens that start before the offset
    for (s64 o = 0; o <= n; o++) {
        while (before < tokens.size() && tokens[before].offset < o) before++;
        Editor_Token got;
        s64 end = editor_get_previous_token(file, o, &got);
        if (before == 0) {
            ASSERT_EQ(end, -1) << "offset " << o;
        } else {
            const Editor_Token& want = tokens[before - 1];
            ASSERT_EQ(end, want.offset + want.length) << "offset " << o;
            ASSERT_EQ(got.offset, want.offset) << "offset " << o;
            ASSERT_EQ(got.length, want.length) << "offset " << o;
            ASSERT_EQ(got.kind, want.kind) << "offset " << o;
        }

        // The token that holds o: one starting there, else one that runs over or ends at it.
        const Editor_Token* holder = nullptr;
        if (before < tokens.size() && tokens[before].offset == o) holder = &tokens[before];
        else if (before > 0 && tokens[before - 1].offset + tokens[before - 1].length >= o) holder = &tokens[before - 1];
        Editor_Token at;
        s64 at_end = editor_get_token_at_offset(file, o, &at);
        if (!holder) {
            ASSERT_EQ(at_end, -1) << "offset " << o;
        } else {
            ASSERT_EQ(at.offset, holder->offset) << "offset " << o;
            ASSERT_EQ(at_end, holder->offset + holder->length) << "offset " << o;
        }
    }
}

// The same text under names that pick different hints (or none).
static void expect_backward_agrees_under_names(const std::string& text, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Editor_File* file = make_test_file(text, name);
        expect_backward_agrees_with_forward(file);
        close_file(file);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

static std::string read_fixture(const std::string& name) {
    std::ifstream in(std::string(QUARN_EDITOR_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Lexer, BackwardAgreesWithForwardOnFixtures) {
    Hint_Scope hints = {c_hint, language_hint, basic_hint};
    const char* fixtures[] = {"sample.c", "sample.8", "cr_only.txt", "long_runs.txt", "comments.bas"};
    for (const char* name : fixtures) {
        std::string text = read_fixture(name);
        ASSERT_FALSE(text.empty()) << name;
        SCOPED_TRACE(name);
        expect_backward_agrees_under_names(text, {name, "no_hint.txt"});
        if (HasFatalFailure()) return;
    }
}

TEST(Lexer, BackwardAgreesWithForwardOnGeneratedTexts) {
    Hint_Scope hints = {c_hint, basic_hint};
    const char* pieces[] = {"a", "bc", "1", ".", "5", "-", "+", "=", ">", "<", ">>>=", ":", ",", "(", ")",
                            " ", "  ", "\t", "\r", "\n", "\r\n", "\"", "'", "\\", "//", "/*", "*/", "REM ",
                            "(*", "*)", "x_y", "0x1F", "\xC3\xA9", "#", "|", "&"};
    u32 seed = (u32)test_seed(11);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 300; round++) {
        std::string text;
        size_t count = random() % 120;
        for (size_t i = 0; i < count; i++) text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
        SCOPED_TRACE(testing::Message() << "round " << round);
        expect_backward_agrees_under_names(text, {"g.c", "g.bas", "g.txt"});
        if (HasFatalFailure()) return;
    }
}

// Walks back token by token from the end, then asks at scattered offsets, and checks each
// answer against a forward lex from the start.
static void expect_walk_back_agrees(Editor_File* file, u32 seed) {
    std::vector<Editor_Token> tokens = lex_all(file);
    s64 offset = file->text.count;
    for (size_t i = tokens.size(); i > 0; i--) {
        Editor_Token got;
        ASSERT_EQ(editor_get_previous_token(file, offset, &got), tokens[i - 1].offset + tokens[i - 1].length) << offset;
        ASSERT_EQ(got.offset, tokens[i - 1].offset);
        ASSERT_EQ(got.kind, tokens[i - 1].kind);
        offset = got.offset;
    }
    Editor_Token none;
    EXPECT_EQ(editor_get_previous_token(file, offset, &none), -1);

    std::mt19937 random(seed);
    for (int i = 0; i < 300; i++) {
        s64 o = 1 + (s64)(random() % file->text.count);
        auto after = std::lower_bound(tokens.begin(), tokens.end(), o,
                                      [](const Editor_Token& t, s64 at) { return t.offset < at; });
        ASSERT_NE(after, tokens.begin());
        Editor_Token got;
        ASSERT_EQ(editor_get_previous_token(file, o, &got), (after - 1)->offset + (after - 1)->length) << o;
        ASSERT_EQ(got.offset, (after - 1)->offset) << o;
    }
}

// Long lines without a separator, where the backward lexer goes by the states it
// remembered, also after edits that keep the text's length or move its storage.
TEST(Lexer, WalkingBackOverLongLinesAgreesWithAForwardLex) {
    Hint_Scope hints = {c_hint};
    const char* pieces[] = {"a", "bc", ".", "5", "+", "-", "=", ">", "<", ":", "|", "&", "*", "/", "x_y", "\xC3\xA9", "0x1F"};
    u32 seed = (u32)test_seed(5);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    std::string mixed;
    while (mixed.size() < 40000) mixed += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
    std::string dots;
    while (dots.size() < 40000) dots += "a.b";
    for (const std::string& text : {dots, mixed}) {
        for (const char* name : {"long.c", "long.txt"}) {
            SCOPED_TRACE(name);
            Editor_File* file = make_test_file(text, name);
            expect_walk_back_agrees(file, (u32)random());
            if (HasFatalFailure()) return;

            // Edits in place, as the editing routines make them: the cut-back drops the
            // states. A digit at the start makes "1.b.a.b..." one number to the line's end.
            for (s64 at : {(s64)text.size() / 2, (s64)text.size() - 3, (s64)10}) {
                file->text.data[at] = file->text.data[at] == '.' ? 'q' : '.';
                update_context_chunks(file, at);
            }
            file->text.data[0] = '1';
            update_context_chunks(file, 0);
            expect_walk_back_agrees(file, (u32)random());
            if (HasFatalFailure()) return;

            // A longer text is another text, whatever the edit told the lexer.
            memcpy(dynamic_array_add_fast_multiple(&file->text, 2), "+1", 2);
            expect_walk_back_agrees(file, 3);
            close_file(file);
            if (HasFatalFailure()) return;
        }
    }

    // New hints lex the same text otherwise: "b.a" opens a block here.
    Editor_File* text = make_test_file(dots, "a.c");
    expect_walk_back_agrees(text, 6);
    clear_tokenisation_hints();
    add_test_hint({{"c"}, "//", "b.a", "*/", EDITOR_TOKEN_DOUBLE_QUOTE});
    expect_walk_back_agrees(text, 7);
    close_file(text);
    clear_tokenisation_hints();
    add_test_hint(c_hint);

    // A record closed and used again for a text of the same length starts afresh.
    Editor_File* first = make_test_file(dots, "a.c");
    expect_walk_back_agrees(first, 4);
    close_file(first);
    std::string other = dots;
    other[0] = '1';  // one number to the end
    Editor_File* second = make_test_file(other, "a.c");
    expect_walk_back_agrees(second, 5);
    close_file(second);
}

TEST(Lexer, SyntaxStateAtTheTopOfTheView) {
    Hint_Scope hints = {c_hint, language_hint, loose_hint};
    struct Case {
        const char* name;
        std::string file_name;
        std::string text;  // the view starts at its end unless a '|' marks the start
        u32 depth;
        u16 string_state;
    };
    const Case cases[] = {
        {"nested blocks", "a.c", "/* a /* b */ c |", 1, 0},
        {"block end without a block", "a.c", "*/ x */ |", 0, 0},
        {"block closed", "a.c", "/* a */|", 0, 0},
        {"open string", "a.c", "x = \"abc|", 0, EDITOR_TOKEN_DOUBLE_QUOTE},
        {"escaped quote stays inside", "a.c", "\"a\\\" b|", 0, EDITOR_TOKEN_DOUBLE_QUOTE},
        {"two backslashes cancel", "a.c", "\"a\\\\\" b|", 0, 0},
        {"single-quoted string", "a.c", "'abc|", 0, EDITOR_TOKEN_SINGLE_QUOTE},
        // The .8 hint opens strings at double quotes and backquotes only, so only the rule
        // about the single quote before them keeps these from opening a string.
        {"double quote after a single quote is a character", "a.8", "'\"' x|", 0, 0},
        {"backquote after a single quote is a character", "a.8", "'`' x|", 0, 0},
        {"double quote after a letter opens a string", "a.8", "x\" y|", 0, EDITOR_TOKEN_DOUBLE_QUOTE},
        {"backquote not a delimiter here", "a.c", "`abc|", 0, 0},
        {"backquote delimiter", "a.8", "`abc|", 0, EDITOR_TOKEN_BACKQUOTE},
        {"comment hides a quote", "a.c", "// \"x\ny|", 0, 0},
        {"comment hides a block start", "a.c", "// /*\ny|", 0, 0},
        {"quote inside a block is ignored", "a.c", "/* \" */ x|", 0, 0},
        {"block start inside a string is text", "a.c", "\"/*\" x|", 0, 0},
        {"block start ending at the view", "a.c", "x /*|y", 1, 0},
        {"no hint", "a.txt", "/* \"x|", 0, 0},
        {"words and numbers never open strings", "a.w", "x 1 \"a\" y|", 0, 0},
        {"the quote bit still counts beside others", "a.w", "x \"abc|", 0, EDITOR_TOKEN_DOUBLE_QUOTE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t bar = c.text.find('|');
        std::string text = c.text.substr(0, bar) + c.text.substr(bar + 1);
        Editor_File* file = make_test_file(text, c.file_name);
        compute_syntax_state(file, (s64)bar, (s64)text.size());
        s64 start = -1, end = -1;
        u32 depth = 99;
        u8 state = 99;
        editor_get_syntax_highlighting_info(file, &start, &end, &depth, &state);
        EXPECT_EQ(start, (s64)bar);
        EXPECT_EQ(end, (s64)text.size());
        EXPECT_EQ(depth, c.depth);
        EXPECT_EQ(file->string_state, c.string_state);
        EXPECT_EQ(state, (u8)c.string_state);  // the layer sees the low octet
        close_file(file);
    }
}

TEST(Lexer, ContextChunksCutBack) {
    Editor_File* file = make_test_file("0123456789abc");
    struct Case { s64 edit_offset; u32 kept; };
    const Case cases[] = {{12, 3}, {10, 3}, {9, 2}, {5, 2}, {4, 1}, {0, 1}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edit_offset);
        file->context_chunks.count = 0;
        for (u64 offset : {0, 5, 10}) {
            Context_Chunk* chunk = (Context_Chunk*)dynamic_array_add_fast(&file->context_chunks);
            *chunk = Context_Chunk{{0, 0}, offset};
        }
        update_context_chunks(file, c.edit_offset);
        EXPECT_EQ(file->context_chunks.count, c.kept);
    }
    close_file(file);
}
