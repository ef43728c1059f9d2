#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"

TEST(TokenisationHints, ChosenByExtension) {
    add_test_hint({{"c", "h"}, "//", "/*", "*/", EDITOR_TOKEN_DOUBLE_QUOTE});
    add_test_hint({{"py"}, "#", "", "", EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_SINGLE_QUOTE});
    add_test_hint({{"C"}, "--", "", "", 0});          // upper case: never matches
    add_test_hint({{"h", "8"}, ";", "", "", 0});      // h already taken by the first hint
    struct Case { const char* name; std::string file_name; const char* line_comment; };
    const Case cases[] = {
        {"lower case", "main.c", "//"},
        {"upper-case name folded", "Main.C", "//"},
        {"second extension of a hint", "x.h", "//"},
        {"first listed wins", "y.H", "//"},
        {"later hint", "tool.py", "#"},
        {"only the last dot counts", "archive.c.py", "#"},
        {"dot in the name only", "x.tar.8", ";"},
        {"no extension", "Makefile", nullptr},
        {"empty extension", "name.", nullptr},
        {"unknown extension", "a.rs", nullptr},
        {"extension must match whole", "a.cc", nullptr},
        {"hidden file", ".c", "//"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editor_File* file = make_test_file("", c.file_name);
        Tokenisation_Hint* hint = get_tokenisation_hint_for_file(file);
        if (!c.line_comment) {
            EXPECT_EQ(hint, nullptr);
        } else {
            ASSERT_NE(hint, nullptr);
            EXPECT_EQ(std::string((char*)hint->line_comment.data, hint->line_comment.count), c.line_comment);
        }
        close_file(file);
    }
    EXPECT_EQ(get_tokenisation_hint_for_file(nullptr), nullptr);

    Tokenisation_Hint* c_hint = (Tokenisation_Hint*)editor_settings.tokenisation_hints.data;
    EXPECT_EQ(c_hint->string_delimiters, EDITOR_TOKEN_DOUBLE_QUOTE);
    EXPECT_EQ(std::string((char*)c_hint->block_end.data, c_hint->block_end.count), "*/");
    clear_tokenisation_hints();
    EXPECT_EQ(editor_settings.tokenisation_hints.count, 0u);
}

TEST(TokenisationHints, TextsOutliveTheLayersCopyAcrossStoreBlocks) {
    // Enough hints to fill several store blocks, and one text longer than a block.
    std::string long_comment(TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE + 100, '#');
    for (int i = 0; i < 400; i++) {
        std::string extension = "ext" + std::to_string(i);
        std::string comment = i == 200 ? long_comment : "comment" + std::string(i % 50, '-');
        add_test_hint({{extension}, comment, "<<" + std::to_string(i), ">>" + std::to_string(i), 0});
    }
    Tokenisation_Hint* hints = (Tokenisation_Hint*)editor_settings.tokenisation_hints.data;
    ASSERT_EQ(editor_settings.tokenisation_hints.count, 400u);
    for (int i = 0; i < 400; i++) {
        SCOPED_TRACE(i);
        String* extensions = (String*)hints[i].extensions.data;
        EXPECT_EQ(std::string((char*)extensions[0].data, extensions[0].count), "ext" + std::to_string(i));
        std::string comment = i == 200 ? long_comment : "comment" + std::string(i % 50, '-');
        EXPECT_EQ(std::string((char*)hints[i].line_comment.data, hints[i].line_comment.count), comment);
        EXPECT_EQ(std::string((char*)hints[i].block_end.data, hints[i].block_end.count), ">>" + std::to_string(i));
    }
    u32 blocks = 0;
    for (String_Store_Block* b = editor_settings.hint_text_store.first; b; b = b->next) {
        EXPECT_LE(b->used, b->size);
        blocks++;
    }
    EXPECT_GT(blocks, 2u);

    // After a reset the same blocks are filled again rather than new ones mapped.
    clear_tokenisation_hints();
    add_test_hint({{"c"}, "//", "", "", 0});
    u32 blocks_after = 0;
    for (String_Store_Block* b = editor_settings.hint_text_store.first; b; b = b->next) blocks_after++;
    EXPECT_EQ(blocks_after, blocks);
    clear_tokenisation_hints();
}
