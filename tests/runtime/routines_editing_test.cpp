// Insertion and deletion routines, called by id with their blocks on small texts; each row
// is undone afterwards. Out-of-range offsets, lengths and counts must change nothing and
// read nothing outside the text (ASan sees texts at their exact size in the malloc build).
#include "file_routines_test_support.h"

#include <filesystem>
#include <fstream>

#include "shell/tabs.h"
#include "terminal/terminal.h"

namespace {

struct Editing_Routines : Routines_Test {};

const char E_ACUTE_TEXT[] = "\xC3\xA9";

std::string joined_text(std::initializer_list<const char*> parts) {
    std::string s;
    for (const char* p : parts) s += p;
    return s;
}

Test_Block text(const char* s, u8 move) { return block_from(Insert_Text_Parameters{literal(s), move}); }
Test_Block text_of(String s, u8 move) { return block_from(Insert_Text_Parameters{s, move}); }
Test_Block text_at(const char* s, s64 offset) { return block_from(Insert_Text_At_Parameters{literal(s), offset}); }
Test_Block character(u32 c, u8 move = 1, u8 complete = 0) { return block_from(Insert_Character_Parameters{c, move, complete}); }
Test_Block new_line(u8 keep, u8 move) { return block_from(Insert_New_Line_Parameters{keep, move}); }
Test_Block range(s64 offset, u64 length) { return block_from(Delete_At_Parameters{offset, length}); }

const u16 TYPED = EDITED | SYNTAX;

TEST_F(Editing_Routines, InsertAndDelete) {
    const Routine_Case cases[] = {
        // insert_text: at the cursor, one record, never past the text's limits
        {"insert text", "a@b", ROUTINE_INSERT_TEXT, text("xy", 1), "axy@b", EDITED | MOVED, 1},
        {"insert text, cursor stays", "a@b", ROUTINE_INSERT_TEXT, text("xy", 0), "a@xyb", EDITED, 1},
        {"insert into the empty text", "@", ROUTINE_INSERT_TEXT, text("\xC3\xA9\r\n", 1), joined_text({E_ACUTE_TEXT, "\r\n@"}), EDITED | MOVED, 1},
        {"insert text extends a selection", "#a@b", ROUTINE_INSERT_TEXT, text("x", 1), "#ax@b", EDITED | MOVED, 1},
        {"insert nothing", "a@b", ROUTINE_INSERT_TEXT, text("", 1), "a@b", 0, 0},
        {"insert a null text", "a@b", ROUTINE_INSERT_TEXT, text_of(String{nullptr, 5}, 1), "a@b", 0, 0},
        {"insert a negative count", "a@b", ROUTINE_INSERT_TEXT, text_of(String{(u8*)"xy", -2}, 1), "a@b", 0, 0},
        {"insert past 4 GiB", "a@b", ROUTINE_INSERT_TEXT, text_of(String{(u8*)"xy", 1ll << 33}, 1), "a@b", 0, 0},
        {"insert text at an offset", "ab@c", ROUTINE_INSERT_TEXT_AT, text_at("xy", 1), "ax@ybc", EDITED, 1},
        {"insert text at the count", "ab@", ROUTINE_INSERT_TEXT_AT, text_at("x", 2), "ab@x", EDITED, 1},
        {"insert text at 0 of the empty text", "@", ROUTINE_INSERT_TEXT_AT, text_at("x", 0), "@x", EDITED, 1},
        {"insert text below 0", "ab@", ROUTINE_INSERT_TEXT_AT, text_at("x", -1), "ab@", 0, 0},
        {"insert text past the count", "ab@", ROUTINE_INSERT_TEXT_AT, text_at("x", 3), "ab@", 0, 0},
        {"insert text far past the count", "ab@", ROUTINE_INSERT_TEXT_AT, text_at("x", INT64_MAX), "ab@", 0, 0},
        {"insert text at the lowest s64", "ab@", ROUTINE_INSERT_TEXT_AT, text_at("x", INT64_MIN), "ab@", 0, 0},

        // insert_character: printable code points and tab; control codes are ignored
        {"type a letter", "a@b", ROUTINE_INSERT_CHARACTER, character('x'), "ax@b", TYPED | MOVED, 1},
        {"type, cursor stays", "a@b", ROUTINE_INSERT_CHARACTER, character('x', 0), "a@xb", TYPED, 1},
        {"type two octets", "@", ROUTINE_INSERT_CHARACTER, character(0xE9), joined_text({E_ACUTE_TEXT, "@"}), TYPED | MOVED, 1},
        {"type three octets", "@", ROUTINE_INSERT_CHARACTER, character(0x800), "\xE0\xA0\x80@", TYPED | MOVED, 1},
        {"type four octets", "@", ROUTINE_INSERT_CHARACTER, character(0x1F600), "\xF0\x9F\x98\x80@", TYPED | MOVED, 1},
        {"type past the last code point", "@", ROUTINE_INSERT_CHARACTER, character(0x110000), "\xEF\xBF\xBD@", TYPED | MOVED, 1},
        {"type CR", "a@", ROUTINE_INSERT_CHARACTER, character('\r'), "a@", 0, 0},
        {"type LF", "a@", ROUTINE_INSERT_CHARACTER, character('\n'), "a@", 0, 0},
        {"type 0", "a@", ROUTINE_INSERT_CHARACTER, character(0), "a@", 0, 0},
        {"type 8", "a@", ROUTINE_INSERT_CHARACTER, character(8), "a@", 0, 0},
        {"type 31", "a@", ROUTINE_INSERT_CHARACTER, character(31), "a@", 0, 0},
        {"type DEL", "a@", ROUTINE_INSERT_CHARACTER, character(127), "a@", 0, 0},
        {"type over a selection", "#ab@c", ROUTINE_INSERT_CHARACTER, character('x'), "x@c", TYPED | MOVED, 2},
        {"type ends an empty selection", "#@ab", ROUTINE_INSERT_CHARACTER, character('x'), "x@ab", TYPED | MOVED, 1},
        {"type a tab", "a@", ROUTINE_INSERT_CHARACTER, character('\t'), "a    @", TYPED | MOVED, 1},
        {"type a tab that completes a word", "abc abd a@", ROUTINE_INSERT_CHARACTER, character('\t', 1, 1), "abc abd ab@",
         TYPED | MOVED, 1},
        {"type a tab with nothing to complete", "x @", ROUTINE_INSERT_CHARACTER, character('\t', 1, 1), "x     @", TYPED | MOVED, 1},
        {"type a tab without completing", "abc a@", ROUTINE_INSERT_CHARACTER, character('\t', 1, 0), "abc a    @", TYPED | MOVED, 1},
        {"type into a one-line input", "a@", ROUTINE_INSERT_CHARACTER, character('b'), "ab@", TYPED | MOVED, 1, false, {}, FILE_SINGLE_LINE},

        // insert_new_line: the line ending, optionally with the blanks that open the line
        {"new line", "ab@cd", ROUTINE_INSERT_NEW_LINE, new_line(0, 1), "ab\n@cd", TYPED | MOVED, 1},
        {"new line, cursor stays", "ab@", ROUTINE_INSERT_NEW_LINE, new_line(0, 0), "ab@\n", TYPED | MOVED, 1},
        {"new line keeps two tabs", "\t\tx@y", ROUTINE_INSERT_NEW_LINE, new_line(1, 1), "\t\tx\n\t\t@y", TYPED | MOVED, 1},
        {"new line keeps the whole run", "\t@ x", ROUTINE_INSERT_NEW_LINE, new_line(1, 1), "\t\n\t @ x", TYPED | MOVED, 1},
        {"new line keeps blanks after CR LF", "a\r\n  b@", ROUTINE_INSERT_NEW_LINE, new_line(1, 1), "a\r\n  b\n  @", TYPED | MOVED, 1},
        {"new line in the empty text", "@", ROUTINE_INSERT_NEW_LINE, new_line(1, 1), "\n@", TYPED | MOVED, 1},
        {"new line in a one-line input", "a@", ROUTINE_INSERT_NEW_LINE, new_line(1, 1), "a@", 0, 0, false, {}, FILE_SINGLE_LINE},

        // duplicate_line: the cursor's line with its break, behind itself
        {"duplicate", "a@b\ncd", ROUTINE_DUPLICATE_LINE, {}, "a@b\nab\ncd", TYPED, 1},
        {"duplicate over CR LF", "a@b\r\ncd", ROUTINE_DUPLICATE_LINE, {}, "a@b\r\nab\r\ncd", TYPED, 1},
        {"duplicate the last line", "ab\nc@d", ROUTINE_DUPLICATE_LINE, {}, "ab\nc@d\ncd\n", TYPED, 1},
        {"duplicate an empty last line", "ab\n@", ROUTINE_DUPLICATE_LINE, {}, "ab\n@\n\n", TYPED, 1},
        {"duplicate in the empty text", "@", ROUTINE_DUPLICATE_LINE, {}, "@", 0, 0},
        {"duplicate in a one-line input", "a@b", ROUTINE_DUPLICATE_LINE, {}, "a@b", 0, 0, false, {}, FILE_SINGLE_LINE},

        // delete_at: a range inside the text
        {"delete a range", "a@bcd", ROUTINE_DELETE_AT, range(2, 1), "a@bd", TYPED, 1},
        {"delete a range, cursor past the end", "abc@d", ROUTINE_DELETE_AT, range(1, 2), "ad@", TYPED | MOVED, 1},
        {"delete everything", "ab@", ROUTINE_DELETE_AT, range(0, 2), "@", TYPED | MOVED, 1},
        {"delete nothing", "ab@", ROUTINE_DELETE_AT, range(1, 0), "ab@", 0, 0},
        {"delete below 0", "ab@", ROUTINE_DELETE_AT, range(-1, 2), "ab@", 0, 0},
        {"delete past the end", "ab@", ROUTINE_DELETE_AT, range(1, 2), "ab@", 0, 0},
        {"delete a huge length", "ab@", ROUTINE_DELETE_AT, range(1, UINT64_MAX), "ab@", 0, 0},
        {"delete a length that overflows", "ab@", ROUTINE_DELETE_AT, range(1, (u64)INT64_MAX), "ab@", 0, 0},
        {"delete far past the end", "ab@", ROUTINE_DELETE_AT, range(INT64_MAX, 1), "ab@", 0, 0},
        {"delete in the empty text", "@", ROUTINE_DELETE_AT, range(0, 1), "@", 0, 0},

        // backspace and delete: one character, a CR LF pair as one
        {"backspace", "ab@", ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "a@", TYPED | MOVED, 1},
        {"backspace CR LF", "a\r\n@b", ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "a@b", TYPED | MOVED, 1},
        {"backspace LF", "a\n@b", ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "a@b", TYPED | MOVED, 1},
        {"backspace between CR and LF", "a\r@\nb", ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "a@\nb", TYPED | MOVED, 1},
        {"backspace two octets", joined_text({"h", E_ACUTE_TEXT, "@x"}), ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "h@x", TYPED | MOVED, 1},
        {"backspace at the start", "@ab", ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, "@ab", 0, 0},
        {"delete", "a@bc", ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, "a@c", TYPED, 1},
        {"delete CR LF", "a@\r\nb", ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, "a@b", TYPED, 1},
        {"delete a lone CR", "a@\rb", ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, "a@b", TYPED, 1},
        {"delete two octets", joined_text({"@", E_ACUTE_TEXT, "x"}), ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, "@x", TYPED, 1},
        {"delete at the end", "ab@", ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, "ab@", 0, 0},

        // tokens
        {"delete the token", "ab c@d ef", ROUTINE_DELETE_TOKEN, {}, "ab @ ef", TYPED | MOVED, 1},
        {"delete the token that ends at the cursor", "ab@ cd", ROUTINE_DELETE_TOKEN, {}, "@ cd", TYPED | MOVED, 1},
        {"delete the token that starts at the cursor", "a@+b", ROUTINE_DELETE_TOKEN, {}, "a@b", TYPED | MOVED, 1},
        {"delete a bracket", "f@(x)", ROUTINE_DELETE_TOKEN, {}, "f@x)", TYPED | MOVED, 1},
        {"no token between blanks", "ab  @  cd", ROUTINE_DELETE_TOKEN, {}, "ab  @  cd", 0, 0},
        {"no token in the empty text", "@", ROUTINE_DELETE_TOKEN, {}, "@", 0, 0},
        {"delete up to the cursor", "abc de@f", ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, "abc @f", TYPED | MOVED, 1},
        {"delete the word before the cursor", "abc de@ f", ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, "abc @ f", TYPED | MOVED, 1},
        {"delete the blanks before the cursor", "abc \t@de", ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, "abc@de", TYPED | MOVED, 1},
        {"delete the line break before the cursor", "ab\r\n@cd", ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, "ab@cd", TYPED | MOVED, 1},
        {"delete up to the cursor at the start", "@ab", ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, "@ab", 0, 0},
        {"delete the rest of the token", "a@bc de", ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, {}, "a@ de", TYPED, 1},
        {"delete the blanks after the cursor", "abc@ \tde", ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, {}, "abc@de", TYPED, 1},
        {"delete the whole token from its start", "ab @cd", ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, {}, "ab @", TYPED, 1},
        {"nothing after the cursor", "abc@", ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, {}, "abc@", 0, 0},

        // delete_selection
        {"delete the selection", "a#bc@d", ROUTINE_DELETE_SELECTION, {}, "a@d", TYPED | MOVED, 1},
        {"delete a selection before its anchor", "a@bc#d", ROUTINE_DELETE_SELECTION, {}, "a@d", TYPED | MOVED, 1},
        {"delete no selection", "a@bc", ROUTINE_DELETE_SELECTION, {}, "a@bc", 0, 0},
    };
    for (const Routine_Case& c : cases) run_routine_case(c);
}

TEST_F(Editing_Routines, WithoutAFileNothingHappens) {
    const u16 ids[] = {ROUTINE_DUPLICATE_LINE, ROUTINE_INSERT_TEXT, ROUTINE_INSERT_TEXT_AT, ROUTINE_INSERT_CHARACTER,
                       ROUTINE_INSERT_NEW_LINE, ROUTINE_DELETE_AT, ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR,
                       ROUTINE_DELETE_CHARACTER_AT_CURSOR, ROUTINE_DELETE_TOKEN, ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR,
                       ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, ROUTINE_DELETE_SELECTION};
    for (u16 id : ids) {
        SCOPED_TRACE(id);
        Test_Block block = text("x", 1);
        Test_Block given = block;
        call_routine_by_id(id, block.bytes);
        EXPECT_EQ(memcmp(block.bytes, given.bytes, sizeof(block.bytes)), 0);
    }
}

TEST_F(Editing_Routines, WhichFile) {
    const File_Rule_Case cases[] = {
        {ROUTINE_DUPLICATE_LINE, {}, false},
        {ROUTINE_INSERT_TEXT, text("x", 1), true},
        {ROUTINE_INSERT_TEXT_AT, text_at("x", 0), true},
        {ROUTINE_INSERT_CHARACTER, character('x'), false},
        {ROUTINE_INSERT_NEW_LINE, new_line(1, 1), false},
        {ROUTINE_DELETE_AT, range(0, 1), true},
        {ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR, {}, false},
        {ROUTINE_DELETE_CHARACTER_AT_CURSOR, {}, false},
        {ROUTINE_DELETE_TOKEN, {}, false},
        {ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR, {}, false},
        {ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN, {}, false},
        {ROUTINE_DELETE_SELECTION, {}, false},
    };
    for (const File_Rule_Case& c : cases) check_file_rule(c, "a#b@c");
}

// Typing within half a second of the last key, right behind it, is one undo step.
TEST_F(Editing_Routines, TypingMergesIntoOneRecord) {
    struct Case {
        const char* name;
        u64 gaps[2];          // microseconds before the second and the third key
        const char* undone;   // after one undo
    };
    const Case cases[] = {
        {"quick typing", {100000, 100000}, "a@"},
        {"a pause before the third key", {100000, 500000}, "axy@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("a@");
        current_file = file;
        const u32 keys[] = {'x', 'y', 'z'};
        for (u32 i = 0; i < 3; i++) {
            if (i) editor_clock_override += c.gaps[i - 1];
            Test_Block block = character(keys[i]);
            call_routine_by_id(ROUTINE_INSERT_CHARACTER, block.bytes);
        }
        EXPECT_EQ(state_of(file), "axyz@");
        Test_Block none = {};
        call_routine_by_id(ROUTINE_UNDO, none.bytes);
        EXPECT_EQ(state_of(file), c.undone);
    }
    // Inserted text is a record of its own that typing never extends.
    Test_File file("@");
    current_file = file;
    Test_Block block = text("abc", 1);
    call_routine_by_id(ROUTINE_INSERT_TEXT, block.bytes);
    block = character('d');
    call_routine_by_id(ROUTINE_INSERT_CHARACTER, block.bytes);
    ASSERT_EQ(undo_record_count(file), 2u);
    EXPECT_EQ(((Undo_Record*)file->undo_records.data)[0].insertion.length, 3);
}

// A tab in a terminal tab's input line completes a path from the terminal's directory.
TEST_F(Editing_Routines, TabCompletesAPathInATerminalInputLine) {
    Scratch_Directory directory;
    std::ofstream(directory / "hello.txt") << "x";
    Test_File input("cat he@", "input");
    Terminal terminal = {};
    std::string path = directory.path.string();
    ASSERT_TRUE(string_to_filepath(&terminal.directory, (u8*)path.data(), (s64)path.size()));
    Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
    *tab = Tab{};
    tab->kind = TAB_TERMINAL;
    tab->terminal = &terminal;
    tab->input_line = input;
    current_tab_index = 0;
    current_file = input;

    Test_Block block = character('\t', 1, 1);
    call_routine_by_id(ROUTINE_INSERT_CHARACTER, block.bytes);
    EXPECT_EQ(state_of(input), "cat hello.txt@");
    // Another file of the same tab completes words, not paths.
    Test_File other("hello he@");
    current_file = other;
    call_routine_by_id(ROUTINE_INSERT_CHARACTER, block.bytes);
    EXPECT_EQ(state_of(other), "hello hello@");
}

}  // namespace
