// Aligning selected lines and copying a selection with its two local copies.
#include <gtest/gtest.h>

#include <string>

#include "editor/editor.h"
#include "editor_test_helpers.h"

namespace {

std::string array_text(Dynamic_Array* a) { return std::string((char*)a->data, a->count); }

}  // namespace

TEST(Align, OnTheTokenAtTheCursor) {
    struct Case { const char* name; const char* marked; const char* expected; bool selection_kept; };
    const Case cases[] = {
        // The reference is the cursor's last line: earlier lines move their = to its column.
        {"reference is the last line", "#a = 1\nbbb = 2\ncc @= 3", "a  = 1\nbbb= 2\ncc @= 3", false},
        // Cursor at the start: the first line is the reference, blanks only come out just
        // before the match.
        {"reference is the first line", "a @= 1\nbbb = 2\ncc = 3#", "a @= 1\nbbb= 2\ncc= 3", false},
        {"the text need not be a whole token", "ab @= 1\nb == 2#", "ab @= 1\nb  == 2", false},
        {"a line without the text is left alone", "ab @= 1\nxyz\nq = 2#", "ab @= 1\nxyz\nq  = 2", false},
        {"tabs count one column", "a\t@= 1\nbb = 2#", "a\t@= 1\nbb= 2", false},
        {"spaces go in just before the match", "abcd @= 1\n  = 2#", "abcd @= 1\n     = 2", false},
        {"no more blanks come out than stand there", "a @= 1\nxy   = 2#", "a @= 1\nxy= 2", false},
        {"without blanks before the match the line stays", "a @= 1\nxyz= 2#", "a @= 1\nxyz= 2", false},
        {"CR LF lines", "#a = 1\r\nbbb = 2\r\ncc @= 3", "a  = 1\r\nbbb= 2\r\ncc @= 3", false},
        {"one line selected does nothing", "#a = 1 @= 2", "a = 1 @= 2", true},
        {"nothing after the cursor does nothing", "#a = 1\nb@", "a = 1\nb@", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(c.marked);
        std::string before = file_text(file);
        s64 cursor = file->cursor;
        u32 records = file->undo_records.count;
        editor_align_selection_on_token_at_cursor(file);
        EXPECT_EQ(marked_text(file), c.expected);
        EXPECT_EQ((file->flags & FILE_SELECTION_ACTIVE) != 0, c.selection_kept);
        if (file_text(file) == before) {
            EXPECT_EQ(file->undo_records.count, records);
            continue;
        }
        // One record for the whole run: one undo puts every line back.
        EXPECT_EQ(file->undo_records.count, records + 1);
        editor_undo(file);
        EXPECT_EQ(file_text(file), before);
        EXPECT_EQ(file->cursor, cursor);
    }
}

TEST(Copy, SelectionAndItsCopyWithoutPadding) {
    struct Case { const char* name; const char* marked; const char* without_padding; };
    const Case cases[] = {
        // Starts at the first non-blank of a line indented by four; the next two lines are
        // indented by eight and four.
        {"lines lose the first line's depth", "    #x = 1\n        y\n    z@\nw", "x = 1\n    y\nz"},
        {"a selection inside the indentation counts only what lies before it", "  #  x\n    y@", "  x\n  y"},
        {"a line with fewer blanks loses all of them and nothing else", "    #x\n  y\nz@", "x\ny\nz"},
        {"a selection ending at a line start adds nothing for that line", "    #x\n    y\n@    z", "x\ny\n"},
        {"the blanks left out stay within the selection", "    #x\n  @  y", "x\n"},
        {"CR LF breaks are copied whole", "\t#a\r\n\tb@\r\n", "a\r\nb"},
        {"one line", "ab#cd@ef", "cd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(c.marked);
        std::string selection = file_text(file).substr(*file->selection_start, *file->selection_end - *file->selection_start);
        copy_file_selection_to_clipboard(file, 0, 0);
        EXPECT_EQ(array_text(&text_copied_locally), selection);
        EXPECT_EQ(array_text(&text_copied_as_if_there_was_no_padding), c.without_padding);
        EXPECT_TRUE(file->flags & FILE_SELECTION_ACTIVE);
        copy_file_selection_to_clipboard(file, 1, 0);
        EXPECT_FALSE(file->flags & FILE_SELECTION_ACTIVE);
    }
}

TEST(Copy, TokenAtTheCursorWhenNothingIsSelected) {
    struct Case { const char* marked; bool token_flag; const char* copied; };
    const Case cases[] = {
        {"a @word b", true, "word"},
        {"a wo@rd b", true, "word"},
        {"a word@ b", true, "word"},
        {"a word @ b", true, nullptr},
        {"x@+y", true, "+"},
        {"@word", false, nullptr},
        {"@", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.marked);
        Test_File file(c.marked);
        u16 flags = file->flags;
        std::string sentinel = "left alone";
        text_copied_locally.count = 0;
        u8* at = (u8*)dynamic_array_add_fast_multiple(&text_copied_locally, (u32)sentinel.size());
        memcpy(at, sentinel.data(), sentinel.size());
        copy_file_selection_to_clipboard(file, 1, c.token_flag);
        EXPECT_EQ(array_text(&text_copied_locally), c.copied ? c.copied : sentinel);
        if (c.copied) {
            EXPECT_EQ(array_text(&text_copied_as_if_there_was_no_padding), c.copied);
        }
        EXPECT_EQ(file->flags, flags);
    }
}
