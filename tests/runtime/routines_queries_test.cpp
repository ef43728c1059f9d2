// The query routines, one row per call: a small text (CR LF, multi-byte characters, tabs,
// brackets, the empty text), the block handed in, and the result it comes back with. Every
// row also checks that the text, cursor and undo list stay as they were and that nothing
// is written behind the block. Texts are held at their exact size, so a read past the end
// shows under the sanitizers of the malloc build.
#include "routine_blocks.h"

#include <stdint.h>

#include "listers/file_lister.h"
#include "terminal/terminal.h"

namespace {

enum Expect_Kind : u8 {
    EXPECT_NOTHING,  // the block comes back as it went in
    EXPECT_S64,
    EXPECT_U32,
    EXPECT_TEXT,
    EXPECT_TOKEN,    // the test's token is filled, the s64 result at 16
};

// A token the routine must write through: its fields before the call.
const Editor_Token TOKEN_BEFORE = {77, 99, 99, 0};

struct Expectation {
    Expect_Kind kind;
    u32 offset;  // of the result in the block
    s64 number;
    std::string text;
    Editor_Token token;
};

Expectation nothing() { return {EXPECT_NOTHING, 0, 0, "", {}}; }
Expectation s64_at(u32 offset, s64 v) { return {EXPECT_S64, offset, v, "", {}}; }
Expectation u32_at(u32 offset, u32 v) { return {EXPECT_U32, offset, (s64)v, "", {}}; }
Expectation text_at(u32 offset, const std::string& t) { return {EXPECT_TEXT, offset, 0, t, {}}; }
Expectation token(s64 end, s64 offset, u32 length, u16 kind) {
    return {EXPECT_TOKEN, offsetof(Token_Parameters, result), end, "", {offset, length, kind, 0}};
}

struct Query_Case {
    const char* name;
    std::string text;  // '@' marks the cursor
    const char* file_name;
    bool as_layer_file;  // the file #syntax colours rather than current_file
    u32 id;
    Test_Block block;
    Expectation expected;
};

const u32 TEXT_RESULT = offsetof(Get_Text_At_Parameters, result);
const u32 LINE_RESULT = offsetof(Line_Bound_Parameters, result);
const u32 CODEPOINT_RESULT = offsetof(Codepoint_Parameters, result);

Test_Block text_at_block(s64 offset, u32 length) { return block_from(Get_Text_At_Parameters{offset, length, {}}); }
Test_Block line_block(s64 offset) { return block_from(Line_Bound_Parameters{offset, -7}); }
Test_Block codepoint_block(s64 offset) { return block_from(Codepoint_Parameters{offset, 7}); }
Test_Block token_block(s64 offset) { return block_from(Token_Parameters{offset, nullptr, -7}); }
Test_Block string_block() { return block_from(String_Result_Parameters{{(u8*)"x", 1}}); }

const Query_Case QUERY_CASES[] = {
    // get_text_at: a range ending at the text's end is served; anything else outside is empty.
    {"text: the first two", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(0, 2), text_at(TEXT_RESULT, "ab")},
    {"text: up to the end", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(0, 3), text_at(TEXT_RESULT, "abc")},
    {"text: the last octet", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(2, 1), text_at(TEXT_RESULT, "c")},
    {"text: one past the end", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(3, 1), text_at(TEXT_RESULT, "")},
    {"text: negative offset", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(-1, 2), text_at(TEXT_RESULT, "")},
    {"text: huge length", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(1, UINT32_MAX), text_at(TEXT_RESULT, "")},
    {"text: offset and length overflow", "abc", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(INT64_MAX, 2),
     text_at(TEXT_RESULT, "")},
    {"text: empty text", "", "t.txt", false, ROUTINE_GET_TEXT_AT, text_at_block(0, 0), text_at(TEXT_RESULT, "")},
    {"text: CR LF of the layer's file", "a\r\nb", "t.txt", true, ROUTINE_GET_TEXT_AT, text_at_block(1, 2),
     text_at(TEXT_RESULT, "\r\n")},

    // get_line_start and get_line_end
    {"line start: offset 0", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_START, line_block(0), s64_at(LINE_RESULT, 0)},
    {"line start: second line", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_START, line_block(4), s64_at(LINE_RESULT, 3)},
    {"line start: at the text's end", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_START, line_block(5), s64_at(LINE_RESULT, 3)},
    {"line start: after CR LF", "a\r\nb", "t.txt", false, ROUTINE_GET_LINE_START, line_block(4), s64_at(LINE_RESULT, 3)},
    {"line start: past the end", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_START, line_block(10), s64_at(LINE_RESULT, 0)},
    {"line start: negative", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_START, line_block(-3), s64_at(LINE_RESULT, 0)},
    {"line start: empty text", "", "t.txt", false, ROUTINE_GET_LINE_START, line_block(1), s64_at(LINE_RESULT, 0)},
    {"line end: first line", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_END, line_block(0), s64_at(LINE_RESULT, 2)},
    {"line end: last line", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_END, line_block(4), s64_at(LINE_RESULT, 5)},
    {"line end: before CR LF", "a\r\nb", "t.txt", false, ROUTINE_GET_LINE_END, line_block(0), s64_at(LINE_RESULT, 1)},
    {"line end: past the end comes back", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_END, line_block(10), s64_at(LINE_RESULT, 10)},
    {"line end: negative", "ab\ncd", "t.txt", false, ROUTINE_GET_LINE_END, line_block(-1), s64_at(LINE_RESULT, 0)},
    {"line end: empty text", "", "t.txt", false, ROUTINE_GET_LINE_END, line_block(3), s64_at(LINE_RESULT, 0)},

    // get_codepoint_at_offset
    {"codepoint: ASCII", "h\xC3\xA9llo", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(0),
     u32_at(CODEPOINT_RESULT, 'h')},
    {"codepoint: two octets", "h\xC3\xA9llo", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(1),
     u32_at(CODEPOINT_RESULT, 0xE9)},
    {"codepoint: inside a character", "h\xC3\xA9llo", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(2),
     u32_at(CODEPOINT_RESULT, 0xFFFD)},
    {"codepoint: four octets", "\xF0\x9F\x98\x80", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(0),
     u32_at(CODEPOINT_RESULT, 0x1F600)},
    {"codepoint: cut by the end", "a\xF0\x9F", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(1),
     u32_at(CODEPOINT_RESULT, 0xFFFD)},
    {"codepoint: tab", "\tx", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(0), u32_at(CODEPOINT_RESULT, 9)},
    {"codepoint: at the end", "ab", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(2), u32_at(CODEPOINT_RESULT, 0)},
    {"codepoint: negative", "ab", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(INT64_MIN),
     u32_at(CODEPOINT_RESULT, 0)},
    {"codepoint: empty text", "", "t.txt", false, ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(0), u32_at(CODEPOINT_RESULT, 0)},

    // get_token_at_offset: the token that starts there unless the one before runs over it
    {"token at: operator touching a word", "ab+c", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(2),
     token(3, 2, 1, EDITOR_TOKEN_OPERATOR)},
    {"token at: end of a word before a blank", "ab c", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(2),
     token(2, 0, 2, EDITOR_TOKEN_WORD)},
    {"token at: inside a word", "abc", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(1), token(3, 0, 3, EDITOR_TOKEN_WORD)},
    {"token at: a bracket", "f(x)", "t.txt", true, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(1), token(2, 1, 1, EDITOR_TOKEN_OPEN_SCOPE)},
    {"token at: CR LF", "a\r\nb", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(1), token(3, 1, 2, EDITOR_TOKEN_NEW_LINE)},
    {"token at: between blanks", "a   b", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(2),
     token(-1, 77, 0, EDITOR_TOKEN_NONE)},
    {"token at: empty text", "", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(0), token(-1, 77, 0, EDITOR_TOKEN_NONE)},
    {"token at: negative", "ab", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(-5), token(-1, 77, 0, EDITOR_TOKEN_NONE)},
    {"token at: past the end", "ab", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(INT64_MAX),
     token(-1, 77, 0, EDITOR_TOKEN_NONE)},
    {"token at: null token address", "ab", "t.txt", false, ROUTINE_GET_TOKEN_AT_OFFSET, token_block(0),
     s64_at(offsetof(Token_Parameters, result), 2)},

    // get_next_token and get_previous_token, as the lexer gives them
    {"next token: a bracket after blanks", "  (x", "t.txt", false, ROUTINE_GET_NEXT_TOKEN, token_block(0),
     token(3, 2, 1, EDITOR_TOKEN_OPEN_SCOPE)},
    {"next token: CR LF is one", "a\r\nb", "t.txt", false, ROUTINE_GET_NEXT_TOKEN, token_block(1), token(3, 1, 2, EDITOR_TOKEN_NEW_LINE)},
    {"next token: none", "ab  ", "t.txt", false, ROUTINE_GET_NEXT_TOKEN, token_block(2), token(-1, 77, 0, EDITOR_TOKEN_NONE)},
    {"previous token: CR LF", "a\r\nb", "t.txt", false, ROUTINE_GET_PREVIOUS_TOKEN, token_block(3), token(3, 1, 2, EDITOR_TOKEN_NEW_LINE)},
    {"previous token: a straddling word", "abc", "t.txt", false, ROUTINE_GET_PREVIOUS_TOKEN, token_block(2), token(3, 0, 3, EDITOR_TOKEN_WORD)},
    {"previous token: none at 0", "abc", "t.txt", false, ROUTINE_GET_PREVIOUS_TOKEN, token_block(0), token(-1, 77, 0, 99)},
    {"previous token: negative", "abc", "t.txt", false, ROUTINE_GET_PREVIOUS_TOKEN, token_block(-9), token(-1, 77, 0, 99)},

    // get_file_extension and the hint's comment
    {"extension: capitals lowered", "", "NOTES.TXT", false, ROUTINE_GET_FILE_EXTENSION, string_block(), text_at(0, "txt")},
    {"extension: only the last", "", "a.tar.Gz", true, ROUTINE_GET_FILE_EXTENSION, string_block(), text_at(0, "gz")},
    {"extension: none", "", "Makefile", false, ROUTINE_GET_FILE_EXTENSION, string_block(), text_at(0, "")},
    {"comment: from the hint", "", "main.c", false, ROUTINE_GET_SINGLE_LINE_COMMENT_FROM_TOKENISATION_HINTS, string_block(), text_at(0, "//")},
    {"comment: no hint", "", "main.txt", false, ROUTINE_GET_SINGLE_LINE_COMMENT_FROM_TOKENISATION_HINTS, string_block(), text_at(0, "")},
    {"tab text", "", "t.txt", false, ROUTINE_GET_TAB_TEXT, string_block(), text_at(0, "\t")},
};

void expect_result(const Test_Block& block, const Test_Block& before, const Expectation& e, const Editor_Token& written) {
    switch (e.kind) {
        case EXPECT_NOTHING: EXPECT_EQ(memcmp(block.bytes, before.bytes, block.size), 0); break;
        case EXPECT_S64: EXPECT_EQ(read_at<s64>(block, e.offset), e.number); break;
        case EXPECT_U32: EXPECT_EQ(read_at<u32>(block, e.offset), (u32)e.number); break;
        case EXPECT_TEXT: EXPECT_EQ(string_at(block, e.offset), e.text); break;
        case EXPECT_TOKEN:
            EXPECT_EQ(read_at<s64>(block, e.offset), e.number);
            EXPECT_EQ(written.offset, e.token.offset);
            EXPECT_EQ(written.length, e.token.length);
            EXPECT_EQ(written.kind, e.token.kind);
            break;
    }
    expect_block_tail_untouched(block);
}

struct Queries : ::testing::Test {
    void SetUp() override {
        clear_tokenisation_hints();
        add_test_hint({{"c"}, "//", "/*", "*/", 0x80});
        set_tab_text("\t");
    }
    void TearDown() override {
        forget_routine_file();
        clear_tokenisation_hints();
        set_tab_text("    ");
    }
};

}  // namespace

TEST_F(Queries, EachCallGivesItsResultAndChangesNothing) {
    for (const Query_Case& c : QUERY_CASES) {
        SCOPED_TRACE(c.name);
        Test_File file(c.text, c.file_name);
        make_routine_file(file, c.as_layer_file);
        std::string text_before = file_text(file);
        s64 cursor_before = file->cursor;
        u32 undo_before = undo_record_count(file);

        Test_Block block = c.block;
        Editor_Token written = TOKEN_BEFORE;
        if (c.expected.kind == EXPECT_TOKEN) {
            Editor_Token* address = &written;
            memcpy(block.bytes + offsetof(Token_Parameters, token), &address, sizeof(address));
        }
        Test_Block before = block;
        call_routine_by_id(c.id, block.bytes);

        expect_result(block, before, c.expected, written);
        EXPECT_EQ(file_text(file), text_before);
        EXPECT_EQ(file->cursor, cursor_before);
        EXPECT_EQ(undo_record_count(file), undo_before);
    }
}

// Without a file: the routines with a default write it, the others write nothing.
TEST_F(Queries, WithoutAFileOnlyDefaultsAreWritten) {
    struct No_File_Case {
        const char* name;
        u32 id;
        Test_Block block;
        Expectation expected;
    };
    const No_File_Case cases[] = {
        {"text", ROUTINE_GET_TEXT_AT, text_at_block(0, 1), text_at(TEXT_RESULT, "")},
        {"line start", ROUTINE_GET_LINE_START, line_block(3), s64_at(LINE_RESULT, 0)},
        {"line end", ROUTINE_GET_LINE_END, line_block(3), s64_at(LINE_RESULT, 0)},
        {"codepoint", ROUTINE_GET_CODEPOINT_AT_OFFSET, codepoint_block(0), u32_at(CODEPOINT_RESULT, 0)},
        {"token at", ROUTINE_GET_TOKEN_AT_OFFSET, token_block(0), s64_at(offsetof(Token_Parameters, result), -1)},
        {"extension", ROUTINE_GET_FILE_EXTENSION, string_block(), text_at(0, "")},
        {"comment", ROUTINE_GET_SINGLE_LINE_COMMENT_FROM_TOKENISATION_HINTS, string_block(), text_at(0, "")},
        {"syntax info", ROUTINE_GET_SYNTAX_HIGHLIGHTING_INFO, block_from(Syntax_Info_Parameters{}), nothing()},
        {"colour", ROUTINE_SET_TEXT_COLOUR, block_from(Set_Text_Colour_Parameters{0, 1, {1, 0, 0, 1}}), nothing()},
    };
    forget_routine_file();
    for (const No_File_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Block block = c.block;
        Test_Block before = block;
        call_routine_by_id(c.id, block.bytes);
        expect_result(block, before, c.expected, TOKEN_BEFORE);
    }
}

TEST_F(Queries, ColoursGoIntoChunksOnlyInsideTheText) {
    struct Colour_Case {
        const char* name;
        s64 offset;
        u32 length;
        std::vector<std::pair<s64, u32>> chunks;
    };
    const Colour_Case cases[] = {
        {"inside", 1, 2, {{1, 2}}},
        {"cut at the end", 2, UINT32_MAX, {{2, 2}}},
        {"at the end", 4, 1, {}},
        {"negative", -1, 3, {}},
        {"far past the end", INT64_MAX, 1, {}},
        {"empty", 0, 0, {}},
    };
    for (const Colour_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("ab\tc");
        make_routine_file(file, true);
        Test_Block block = block_from(Set_Text_Colour_Parameters{c.offset, c.length, {1, 0, 0, 1}});
        call_routine_by_id(ROUTINE_SET_TEXT_COLOUR, block.bytes);
        ASSERT_EQ(file->colour_chunks.count, c.chunks.size());
        for (size_t i = 0; i < c.chunks.size(); i++) {
            Colour_Chunk* chunk = (Colour_Chunk*)file->colour_chunks.data + i;
            EXPECT_EQ(chunk->offset, c.chunks[i].first);
            EXPECT_EQ(chunk->length, c.chunks[i].second);
        }
        EXPECT_EQ(file->undo_records.count, 0u);
    }
}

TEST_F(Queries, SyntaxInfoGoesThroughTheFourAddressesAndSkipsNullOnes) {
    Test_File file("/* a\nb */ c");
    file->syntax_start = 5;
    file->syntax_end = 11;
    file->block_depth = 1;
    file->string_state = 0x180;  // only the low octet reaches the layer
    make_routine_file(file, false);  // from #events: the current file

    u64 start = 0, end = 0;
    s32 depth = 0;
    u8 quote = 0;
    Test_Block block = block_from(Syntax_Info_Parameters{&start, &end, &depth, &quote});
    call_routine_by_id(ROUTINE_GET_SYNTAX_HIGHLIGHTING_INFO, block.bytes);
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(end, 11u);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(quote, 0x80);

    end = 99;
    block = block_from(Syntax_Info_Parameters{&start, nullptr, nullptr, &quote});
    call_routine_by_id(ROUTINE_GET_SYNTAX_HIGHLIGHTING_INFO, block.bytes);
    EXPECT_EQ(end, 99u);
}

TEST(Directory_Query, TheListerTheCurrentTabOrTheWorkingDirectory) {
    struct Directory_Case {
        const char* name;
        u8 context;
        u8 tab_kind;  // 0: no tab
        const char* file_directory;
        std::vector<std::string> expected;
    };
    const Directory_Case cases[] = {
        {"the file lister has the keyboard", CONTEXT_FILE_LISTER, TAB_TERMINAL, "", {"/", "srv", "list"}},
        {"a terminal tab", CONTEXT_TERMINAL, TAB_TERMINAL, "", {"/", "tmp", "term"}},
        {"a file tab", CONTEXT_FILE, TAB_FILE, "/src/project", {"/", "src", "project"}},
        {"a file tab without a path", CONTEXT_FILE, TAB_FILE, "", {}},
        {"the search lister leaves the tab's", CONTEXT_SEARCH_LISTER, TAB_FILE, "/a", {"/", "a"}},
        {"a compile errors tab", CONTEXT_FILE, TAB_COMPILE_ERRORS, "", {"/", "work", "dir"}},
        {"no tab", CONTEXT_FILE, 0, "", {"/", "work", "dir"}},
    };
    Filepath saved_lister_directory = global_file_lister.directory;
    ASSERT_TRUE(string_to_filepath(&global_file_lister.directory, (u8*)"/srv/list", 9));
    ASSERT_TRUE(string_to_filepath(&editor_working_directory, (u8*)"/work/dir", 9));
    static Terminal terminal;
    ASSERT_TRUE(string_to_filepath(&terminal.directory, (u8*)"/tmp/term", 9));

    for (const Directory_Case& c : cases) {
        SCOPED_TRACE(c.name);
        init_tabs();
        Test_File file("x");
        ASSERT_TRUE(string_to_filepath(&file->directory, (u8*)c.file_directory, (s64)strlen(c.file_directory)));
        if (c.tab_kind) {
            Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
            memset(tab, 0, sizeof(*tab));
            tab->kind = c.tab_kind;
            if (c.tab_kind == TAB_FILE) tab->file = file;
            if (c.tab_kind == TAB_TERMINAL) tab->terminal = &terminal;
        }
        global_editor_context = c.context;

        Test_Block block = block_from(Strings_Result_Parameters{nullptr, 99});
        call_routine_by_id(ROUTINE_GET_CURRENT_DIRECTORY_PATH, block.bytes);
        String* strings = read_at<String*>(block, 0);
        u64 count = read_at<u64>(block, 8);
        ASSERT_EQ(count, c.expected.size());
        for (u64 i = 0; i < count; i++) EXPECT_EQ(std::string((char*)strings[i].data, strings[i].count), c.expected[i]);
        expect_block_tail_untouched(block);
        dynamic_array_free(&tabs);
    }
    init_tabs();
    global_editor_context = CONTEXT_FILE;
    global_file_lister.directory = saved_lister_directory;
}
