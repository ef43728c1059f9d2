// Cursor and selection routines, called by id with their blocks on small texts: CR LF
// pairs, multi-octet characters, tabs, brackets and the empty text.
#include "file_routines_test_support.h"

namespace {

struct Cursor_Routines : Routines_Test {};

const char E_ACUTE[] = "\xC3\xA9";        // two octets
const char GRIN[] = "\xF0\x9F\x98\x80";  // four octets

std::string t(std::initializer_list<const char*> parts) {
    std::string s;
    for (const char* p : parts) s += p;
    return s;
}

Test_Block forward(u8 f) { return block_from(Skip_Text_Parameters{f}); }
Test_Block offset(s64 o) { return block_from(Offset_Parameters{o}); }
Test_Block result_u8(u8 v) { return block_from(Check_If_Selection_Is_Active_Parameters{v}); }
Test_Block result_s64(s64 v) { return block_from(Offset_Result_Parameters{v}); }
TEST_F(Cursor_Routines, MovesSelectsAndReports) {
    const Routine_Case cases[] = {
        // go_left and go_right: a character, a CR LF pair, the text's ends
        {"left over a letter", "ab@", ROUTINE_GO_LEFT, {}, "a@b", MOVED},
        {"left over CR LF", "a\r\n@b", ROUTINE_GO_LEFT, {}, "a@\r\nb", MOVED},
        {"left over a lone CR", "a\r@b", ROUTINE_GO_LEFT, {}, "a@\rb", MOVED},
        {"left over two octets", t({"h", E_ACUTE, "@llo"}), ROUTINE_GO_LEFT, {}, t({"h@", E_ACUTE, "llo"}), MOVED},
        {"left at the start", "@ab", ROUTINE_GO_LEFT, {}, "@ab", 0},
        {"left on the empty text", "@", ROUTINE_GO_LEFT, {}, "@", 0},
        {"left extends a selection", "#ab@", ROUTINE_GO_LEFT, {}, "#a@b", MOVED},
        {"right over CR LF", "a@\r\nb", ROUTINE_GO_RIGHT, {}, "a\r\n@b", MOVED},
        {"right over four octets", t({"@", GRIN, "x"}), ROUTINE_GO_RIGHT, {}, t({GRIN, "@x"}), MOVED},
        {"right over a tab", "@\tx", ROUTINE_GO_RIGHT, {}, "\t@x", MOVED},
        {"right at the end", "ab@", ROUTINE_GO_RIGHT, {}, "ab@", 0},
        {"right on the empty text", "@", ROUTINE_GO_RIGHT, {}, "@", 0},

        // go_up and go_down keep the column in characters
        {"up", "ab\nc@d", ROUTINE_GO_UP, {}, "a@b\ncd", MOVED},
        {"up on the first line", "a@b\ncd", ROUTINE_GO_UP, {}, "a@b\ncd", 0},
        {"up onto a shorter line", "abcd\n0123456789@", ROUTINE_GO_UP, {}, "abcd@\n0123456789", MOVED},
        {"up after a two-octet character", t({"ab\n", E_ACUTE, "@c"}), ROUTINE_GO_UP, {}, t({"a@b\n", E_ACUTE, "c"}), MOVED},
        {"up onto two-octet characters", t({E_ACUTE, E_ACUTE, "\nab@"}), ROUTINE_GO_UP, {}, t({E_ACUTE, E_ACUTE, "@\nab"}), MOVED},
        {"up over CR LF", "ab\r\ncd@", ROUTINE_GO_UP, {}, "ab@\r\ncd", MOVED},
        {"up from a line start", "ab\n@cd", ROUTINE_GO_UP, {}, "@ab\ncd", MOVED},
        {"up in a one-line input", "ab\ncd@", ROUTINE_GO_UP, {}, "ab\ncd@", 0, 0, false, {}, FILE_SINGLE_LINE},
        {"up on the empty text", "@", ROUTINE_GO_UP, {}, "@", 0},
        {"down", "a@b\ncd", ROUTINE_GO_DOWN, {}, "ab\nc@d", MOVED},
        {"down on the last line", "ab\nc@d", ROUTINE_GO_DOWN, {}, "ab\nc@d", 0},
        {"down over CR LF onto a shorter line", "a\tb@\r\nxy", ROUTINE_GO_DOWN, {}, "a\tb\r\nxy@", MOVED},
        {"down onto an empty last line", "ab@\n", ROUTINE_GO_DOWN, {}, "ab\n@", MOVED},
        {"down from between a CR and its LF", "ab\r@\n", ROUTINE_GO_DOWN, {}, "ab\r\n@", MOVED},
        {"down in a one-line input", "a@b\ncd", ROUTINE_GO_DOWN, {}, "a@b\ncd", 0, 0, false, {}, FILE_SINGLE_LINE},
        {"down extends a selection", "#a@b\ncd", ROUTINE_GO_DOWN, {}, "#ab\nc@d", MOVED},

        // a page is visible_lines lines; the walk stops at the first and last line
        {"page down", "a@b\nc\nde\nf", ROUTINE_PAGE_DOWN, {}, "ab\nc\nd@e\nf", MOVED, 0, false, {}, 0, 2},
        {"page down past the end", "a@b\nc\nde", ROUTINE_PAGE_DOWN, {}, "ab\nc\nd@e", MOVED, 0, false, {}, 0, 10},
        {"page up", "a\nb\nc\nd@", ROUTINE_PAGE_UP, {}, "a\nb@\nc\nd", MOVED, 0, false, {}, 0, 2},
        {"page up past the start", "ab\ncd@", ROUTINE_PAGE_UP, {}, "ab@\ncd", MOVED, 0, false, {}, 0, 10},
        {"page of no lines stays on its line", "a\nbc@", ROUTINE_PAGE_UP, {}, "a\nbc@", MOVED},
        {"page up on the first line", "ab@\ncd", ROUTINE_PAGE_UP, {}, "ab@\ncd", 0, 0, false, {}, 0, 3},
        {"page down on the last line", "ab\ncd@", ROUTINE_PAGE_DOWN, {}, "ab\ncd@", 0, 0, false, {}, 0, 3},

        // tokens
        {"previous token", "ab  cd@", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "ab  @cd", MOVED},
        {"previous token over blanks", "ab  @cd", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "@ab  cd", MOVED},
        {"previous token from inside a word", "ab(cd@ef", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "ab(@cdef", MOVED},
        {"previous token is a line break", "a\r\n@b", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "a@\r\nb", MOVED},
        {"no previous token", "  @ab", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "@  ab", MOVED},
        {"previous token on the empty text", "@", ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, {}, "@", 0},
        {"next token passes the one at the cursor", "@ab  cd", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "ab  @cd", MOVED},
        {"next token after blanks", "ab@ \tcd", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "ab \t@cd", MOVED},
        {"next token at an operator", "a@+b", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "a+@b", MOVED},
        {"next token onto a line break", "@ab\ncd", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "ab@\ncd", MOVED},
        {"no next token", "ab  @cd", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "ab  cd@", MOVED},
        {"next token at the end", "ab@", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "ab@", MOVED},
        {"next token on the empty text moves", "@", ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, {}, "@", MOVED},

        // whole text and line bounds
        {"file start", "ab\nc@d", ROUTINE_GO_TO_FILE_START, {}, "@ab\ncd", MOVED},
        {"file end", "a@b\ncd", ROUTINE_GO_TO_FILE_END, {}, "ab\ncd@", MOVED},
        {"file end extends a selection", "a#b@\ncd", ROUTINE_GO_TO_FILE_END, {}, "a#b\ncd@", MOVED},
        {"file start on the empty text", "@", ROUTINE_GO_TO_FILE_START, {}, "@", 0},
        {"file end on the empty text", "@", ROUTINE_GO_TO_FILE_END, {}, "@", 0},
        {"line start", "ab\r\ncd@e", ROUTINE_GO_TO_LINE_START, {}, "ab\r\n@cde", MOVED},
        {"line end", "a@b\r\ncd", ROUTINE_GO_TO_LINE_END, {}, "ab@\r\ncd", MOVED},
        {"line end on the empty text", "@", ROUTINE_GO_TO_LINE_END, {}, "@", 0},
        {"padding end", "\t\tx(@", ROUTINE_GO_TO_LINE_PADDING_END, {}, "\t\t@x(", MOVED},
        {"padding end, then line start", "a\n\t\t@x(", ROUTINE_GO_TO_LINE_PADDING_END, {}, "a\n@\t\tx(", MOVED},
        {"padding end on the empty text", "@", ROUTINE_GO_TO_LINE_PADDING_END, {}, "@", 0},

        // skip_text: a run of white or of other characters
        {"skip a word and the blanks after it", "@ab  cd", ROUTINE_SKIP_TEXT, forward(1), "ab  @cd", MOVED},
        {"skip white with a line break", "ab@ \n cd", ROUTINE_SKIP_TEXT, forward(1), "ab \n @cd", MOVED},
        {"skip a word stops at a line break", "@ab\n  cd", ROUTINE_SKIP_TEXT, forward(1), "ab@\n  cd", MOVED},
        {"skip to the end", "a@b", ROUTINE_SKIP_TEXT, forward(1), "ab@", MOVED},
        {"skip forward at the end", "ab@", ROUTINE_SKIP_TEXT, forward(1), "ab@", 0},
        {"skip back over a word", "ab  cd@", ROUTINE_SKIP_TEXT, forward(0), "ab  @cd", MOVED},
        {"skip back over blanks", "ab \t@cd", ROUTINE_SKIP_TEXT, forward(0), "ab@ \tcd", MOVED},
        {"skip back over CR LF", "ab\r\n@cd", ROUTINE_SKIP_TEXT, forward(0), "ab@\r\ncd", MOVED},
        {"skip back over multi-octet characters", t({"x ", E_ACUTE, GRIN, "@"}), ROUTINE_SKIP_TEXT, forward(0), t({"x @", E_ACUTE, GRIN}), MOVED},
        {"skip back at the start", "@ab", ROUTINE_SKIP_TEXT, forward(0), "@ab", 0},
        {"skip on the empty text", "@", ROUTINE_SKIP_TEXT, forward(1), "@", 0},

        // previous cursor (0 in every fixture)
        {"previous cursor position", "ab@c", ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, {}, "@abc", MOVED},
        {"previous cursor position on the empty text moves", "@", ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, {}, "@", MOVED},

        // selection
        {"start selection", "a@b", ROUTINE_START_SELECTION, {}, "a#@b", 0},
        {"start selection again drops the old anchor", "#a@b", ROUTINE_START_SELECTION, {}, "a#@b", 0},
        {"stop selection keeps the anchor", "#a@b", ROUTINE_STOP_SELECTION, {}, "a@b", 0},
        {"toggle on", "a@b", ROUTINE_TOGGLE_SELECTION, {}, "a#@b", 0},
        {"toggle off", "a@b#", ROUTINE_TOGGLE_SELECTION, {}, "a@b", 0},
        {"selection active", "#a@b", ROUTINE_CHECK_IF_SELECTION_IS_ACTIVE, empty_block(), "#a@b", 0, 0, true, result_u8(1)},
        {"selection not active", "a@b", ROUTINE_CHECK_IF_SELECTION_IS_ACTIVE, empty_block(), "a@b", 0, 0, true, result_u8(0)},
        {"keep the anchor on a click", "a@b", ROUTINE_DO_NOT_SET_SELECTION_ANCHOR_ON_CLICK, {}, "a@b", FILE_KEEP_ANCHOR_ON_CLICK},

        // offsets
        {"set the cursor", "ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(1), "a@bcd", MOVED},
        {"set the cursor to the count", "@abcd", ROUTINE_SET_CURSOR_OFFSET, offset(4), "abcd@", MOVED},
        {"set the cursor past the count", "ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(5), "ab@cd", 0},
        {"set the cursor below 0", "ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(-5), "@abcd", MOVED},
        {"set the cursor far past the count", "ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(INT64_MAX), "ab@cd", 0},
        {"set the cursor to the lowest s64", "ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(INT64_MIN), "@abcd", MOVED},
        {"set the cursor extends a selection", "#ab@cd", ROUTINE_SET_CURSOR_OFFSET, offset(3), "#abc@d", MOVED},
        {"set the anchor before the cursor", "abc@d", ROUTINE_SET_SELECTION_ANCHOR_OFFSET, offset(1), "a#bc@d", 0},
        {"set the anchor after the cursor", "a@bcd", ROUTINE_SET_SELECTION_ANCHOR_OFFSET, offset(4), "a@bcd#", 0},
        {"set the anchor past the count", "a@bcd", ROUTINE_SET_SELECTION_ANCHOR_OFFSET, offset(5), "a@bcd", 0},
        {"set the anchor below 0", "a@bcd", ROUTINE_SET_SELECTION_ANCHOR_OFFSET, offset(-1), "a@bcd", 0},
        {"get the cursor", "ab@cd", ROUTINE_GET_CURSOR_OFFSET, empty_block(), "ab@cd", 0, 0, true, result_s64(2)},
        {"get the selection start at the anchor", "a#bc@d", ROUTINE_GET_SELECTION_START_OFFSET, {}, "a#bc@d", 0, 0, true, result_s64(1)},
        {"get the selection start at the cursor", "a@bc#d", ROUTINE_GET_SELECTION_START_OFFSET, {}, "a@bc#d", 0, 0, true, result_s64(1)},
        {"get the selection end", "a#bc@d", ROUTINE_GET_SELECTION_END_OFFSET, {}, "a#bc@d", 0, 0, true, result_s64(3)},
        {"no selection start without a selection", "ab@cd", ROUTINE_GET_SELECTION_START_OFFSET, empty_block(), "ab@cd", 0, 0, true, result_s64(0)},
        {"no selection end without a selection", "ab@cd", ROUTINE_GET_SELECTION_END_OFFSET, empty_block(), "ab@cd", 0, 0, true, result_s64(0)},
    };
    for (const Routine_Case& c : cases) run_routine_case(c);
}

// Without a file a routine does nothing and writes only the default results it names.
TEST_F(Cursor_Routines, WithoutAFile) {
    struct Case {
        u16 id;
        u64 result_size;  // octets of the default result written, 0 for none
    };
    const Case cases[] = {
        {ROUTINE_GO_LEFT, 0}, {ROUTINE_GO_RIGHT, 0}, {ROUTINE_GO_UP, 0}, {ROUTINE_GO_DOWN, 0},
        {ROUTINE_PAGE_UP, 0}, {ROUTINE_PAGE_DOWN, 0}, {ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, 0},
        {ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, 0}, {ROUTINE_GO_TO_FILE_START, 0}, {ROUTINE_GO_TO_FILE_END, 0},
        {ROUTINE_GO_TO_LINE_START, 0}, {ROUTINE_GO_TO_LINE_END, 0}, {ROUTINE_GO_TO_LINE_PADDING_END, 0},
        {ROUTINE_SKIP_TEXT, 0}, {ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, 0}, {ROUTINE_START_SELECTION, 0},
        {ROUTINE_STOP_SELECTION, 0}, {ROUTINE_TOGGLE_SELECTION, 0}, {ROUTINE_CHECK_IF_SELECTION_IS_ACTIVE, 1},
        {ROUTINE_DO_NOT_SET_SELECTION_ANCHOR_ON_CLICK, 0}, {ROUTINE_SET_CURSOR_OFFSET, 0},
        {ROUTINE_SET_SELECTION_ANCHOR_OFFSET, 0}, {ROUTINE_GET_CURSOR_OFFSET, 8},
        {ROUTINE_GET_SELECTION_START_OFFSET, 8}, {ROUTINE_GET_SELECTION_END_OFFSET, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Test_Block block = empty_block();
        call_routine_by_id(c.id, block.bytes);
        Test_Block expected = empty_block();
        memset(expected.bytes, 0, c.result_size);
        EXPECT_EQ(memcmp(block.bytes, expected.bytes, sizeof(block.bytes)), 0);
    }
}

// Routines of the layer file act on the file being coloured, else on the current file;
// the others always on the current file.
TEST_F(Cursor_Routines, WhichFile) {
    const File_Rule_Case cases[] = {
        {ROUTINE_GO_RIGHT, {}, false},
        {ROUTINE_GO_TO_LINE_PADDING_END, {}, true},
        {ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, {}, true},
        {ROUTINE_SET_CURSOR_OFFSET, offset(1), true},
        {ROUTINE_SET_SELECTION_ANCHOR_OFFSET, offset(1), true},
    };
    for (const File_Rule_Case& c : cases) check_file_rule(c, " a@bc");
    // The reads report on the layer file.
    Test_File current("a@bc");
    Test_File coloured("ab#c@");
    current_file = current;
    custom_layer_execution_file = coloured;
    Test_Block block = {};
    call_routine_by_id(ROUTINE_GET_CURSOR_OFFSET, block.bytes);
    EXPECT_EQ(block.bytes[0], 3);
    call_routine_by_id(ROUTINE_GET_SELECTION_START_OFFSET, block.bytes);
    EXPECT_EQ(block.bytes[0], 2);
}

TEST_F(Cursor_Routines, PreviousCursorPositionTwiceReturns) {
    Test_File file("ab@cd");
    current_file = file;
    Test_Block none = {};
    call_routine_by_id(ROUTINE_GO_TO_FILE_END, none.bytes);
    call_routine_by_id(ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, none.bytes);
    EXPECT_EQ(state_of(file), "ab@cd");
    call_routine_by_id(ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION, none.bytes);
    EXPECT_EQ(state_of(file), "abcd@");
}

// Compiled code hands blocks at any address: the fields are read and written unaligned.
TEST_F(Cursor_Routines, UnalignedBlocks) {
    Test_File file("ab@cd");
    current_file = file;
    alignas(16) u8 storage[32] = {};
    u8* block = storage + 3;
    s64 one = 1;
    memcpy(block, &one, sizeof(one));
    call_routine_by_id(ROUTINE_SET_CURSOR_OFFSET, block);
    EXPECT_EQ(state_of(file), "a@bcd");
    call_routine_by_id(ROUTINE_GET_CURSOR_OFFSET, block + 1);
    s64 read;
    memcpy(&read, block + 1, sizeof(read));
    EXPECT_EQ(read, 1);
}

}  // namespace
