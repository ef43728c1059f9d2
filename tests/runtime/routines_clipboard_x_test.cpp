// The clipboard and undo routines on an X server of their own, so the system clipboard is
// real. Each row is a few calls on one file: its text before ('@' the cursor, '#' the anchor
// of an active selection) and the clipboard before, then the text, clipboard and undo
// count after. A seeded random run then undoes every step back to the first text.
#include "routine_blocks.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <random>
#include "tests/test_seed.h"

bool start_routines_x_server(const char* screen);
void stop_routines_x_server();
void take_the_clipboard_from_everyone();

namespace {

// Nothing on the clipboard at all, rather than an empty text.
const char* const NO_CLIPBOARD = nullptr;
const char* const ANY = "\x01any";  // the clipboard is not looked at afterwards

struct Call {
    u32 id;
    Test_Block block;
};

Call routine_call(u32 id) { return {id, empty_block()}; }
Call delete_line(u8 copy) { return {ROUTINE_DELETE_LINE, block_from(Delete_Line_Parameters{copy})}; }
Call copy_selection(u8 stop, u8 token) { return {ROUTINE_COPY_SELECTION_TO_CLIPBOARD, block_from(Copy_Selection_Parameters{stop, token})}; }
Call paste(u8 move_cursor, u8 indent) { return {ROUTINE_PASTE_FROM_CLIPBOARD, block_from(Paste_Parameters{move_cursor, indent})}; }

struct Clipboard_Case {
    const char* name;
    std::string before;
    const char* clipboard_before;
    std::vector<Call> calls;
    std::string after;
    const char* clipboard_after;
    u32 undo_after;
};

const Clipboard_Case CLIPBOARD_CASES[] = {
    // copy_line: the clipboard gets the line, the text stays
    {"copy line: with its padding", "  a@b\ncd", "old", {routine_call(ROUTINE_COPY_LINE)}, "  a@b\ncd", "  ab", 0},
    {"copy line: before CR LF", "ab\r\nc@d", "old", {routine_call(ROUTINE_COPY_LINE)}, "ab\r\nc@d", "cd", 0},
    {"copy line: an empty text", "@", "old", {routine_call(ROUTINE_COPY_LINE)}, "@", "old", 0},

    // delete_line
    {"delete line: the first, copied", "a@b\ncd", "old", {delete_line(1)}, "c@d", "ab", 1},
    {"delete line: the last keeps the break before", "ab\nc@d", "old", {delete_line(0)}, "a@b\n", "old", 1},
    {"delete line: CR LF goes with its line", "a@b\r\ncd", "old", {delete_line(0)}, "c@d", "old", 1},
    {"delete line: the only line", "a@b", "old", {delete_line(1)}, "@", "ab", 1},
    {"delete line: one line break left", "\na@b", "old", {delete_line(0)}, "@\n", "old", 1},
    {"delete line: the column counts characters", "h\xC3\xA9@llo\nabc", "old", {delete_line(0)}, "ab@c", "old", 1},
    {"delete line: onto a shorter line", "abc@d\nx", "old", {delete_line(0)}, "x@", "old", 1},
    {"delete line: an empty line is not copied", "ab\n@\ncd", "old", {delete_line(1)}, "ab\n@cd", "old", 1},
    {"delete line: an empty text", "@", "old", {delete_line(1)}, "@", "old", 0},

    // copy and cut
    {"copy: the selection, which then ends", "x#ab@y", "old", {copy_selection(1, 0)}, "xab@y", "ab", 0},
    {"copy: the selection stays", "x#ab@y", "old", {copy_selection(0, 0)}, "x#ab@y", "ab", 0},
    {"copy: the token when nothing is selected", "ab@+c", "old", {copy_selection(0, 1)}, "ab@+c", "+", 0},
    {"copy: nothing selected, no token asked for", "ab@+c", "old", {copy_selection(0, 0)}, "ab@+c", "old", 0},
    {"cut: the selection", "x#a\tb@y", "old", {routine_call(ROUTINE_CUT_SELECTION_TO_CLIPBOARD)}, "x@y", "a\tb", 1},
    {"cut: nothing selected", "xa@y", "old", {routine_call(ROUTINE_CUT_SELECTION_TO_CLIPBOARD)}, "xa@y", "old", 0},

    // paste
    {"paste: CR LF becomes the file's LF", "x@y", "a\r\nb", {paste(1, 0)}, "xa\nb@y", ANY, 1},
    {"paste: a lone CR becomes LF", "@", "a\rb\r", {paste(1, 0)}, "a\nb\n@", ANY, 1},
    {"paste: a tab becomes the tab text", "@", "\ta", {paste(1, 0)}, "  a@", ANY, 1},
    {"paste: without moving the cursor", "x@y", "ab", {paste(0, 0)}, "x@aby", ANY, 1},
    {"paste: indented like the cursor's line", "    x@", "p\nq", {paste(1, 1)}, "    xp\n    q@", ANY, 1},
    {"paste: nothing after a final line break", "\tx@", "p\n", {paste(1, 1)}, "\txp\n@", ANY, 1},
    {"paste: indent on an empty text", "@", "p\nq", {paste(1, 1)}, "p\nq@", ANY, 1},
    {"paste: multi-byte text as it is", "(@)", "\xF0\x9F\x98\x80", {paste(1, 0)}, "(\xF0\x9F\x98\x80@)", ANY, 1},
    {"paste: over the selection", "a#bc@d", "X", {paste(1, 0)}, "aX@d", ANY, 2},
    {"paste: an empty clipboard does nothing", "a#bc@d", "", {paste(1, 1)}, "a#bc@d", "", 0},
    {"paste: no clipboard does nothing", "a#bc@d", NO_CLIPBOARD, {paste(1, 1)}, "a#bc@d", NO_CLIPBOARD, 0},
    {"paste: someone else's text is never unpadded", "  x@", "a\n  b", {paste(1, 1)}, "  xa\n    b@", ANY, 1},

    // undo
    {"undo: a paste", "x@y", "a\r\nb", {paste(1, 0), routine_call(ROUTINE_UNDO)}, "x@y", ANY, 0},
    {"undo: a cut selects the text again", "x#ab@y", "old", {routine_call(ROUTINE_CUT_SELECTION_TO_CLIPBOARD), routine_call(ROUTINE_UNDO)}, "x#ab@y",
     "ab", 0},
    {"undo: a deleted line", "a@b\ncd", "old", {delete_line(0), routine_call(ROUTINE_UNDO)}, "a@b\ncd", "old", 0},
    {"undo: a paste over a selection, in two steps", "a#bc@d", "X", {paste(1, 0), routine_call(ROUTINE_UNDO)}, "a@d", ANY, 1},
    {"undo: with nothing to take back", "a@b", "old", {routine_call(ROUTINE_UNDO)}, "a@b", "old", 0},
};

// The text with '#' at the anchor of an active selection and '@' at the cursor.
std::string marked(Editor_File* file) {
    std::string text = file_text(file);
    bool selecting = file->flags & FILE_SELECTION_ACTIVE;
    std::string out;
    for (s64 i = 0; i <= (s64)text.size(); i++) {
        if (selecting && i == file->selection_anchor && i != file->cursor) out += '#';
        if (i == file->cursor) out += '@';
        if (i < (s64)text.size()) out += text[i];
    }
    return out;
}

void set_clipboard(const char* text) {
    if (text) glfwSetClipboardString(nullptr, text);
    else take_the_clipboard_from_everyone();
}

std::string clipboard_text() {
    const char* text = glfwGetClipboardString(nullptr);
    return text ? text : "<none>";
}

struct Clipboard_X : ::testing::Test {
    static void SetUpTestSuite() {
        ASSERT_TRUE(start_routines_x_server("1024x768x24"));
        ASSERT_TRUE(glfwInit());
    }
    static void TearDownTestSuite() {
        glfwTerminate();
        stop_routines_x_server();
    }
    void SetUp() override {
        set_tab_text("  ");
        text_copied_locally.count = 0;
        text_copied_as_if_there_was_no_padding.count = 0;
    }
    void TearDown() override {
        forget_routine_file();
        set_tab_text("    ");
    }
};

}  // namespace

TEST_F(Clipboard_X, EachRowLeavesTextClipboardAndUndoAsItSays) {
    for (const Clipboard_Case& c : CLIPBOARD_CASES) {
        SCOPED_TRACE(c.name);
        Test_File file(c.before);
        make_routine_file(file, false);
        set_clipboard(c.clipboard_before);
        u16 flags_before = file->flags;

        for (const Call& step : c.calls) {
            Test_Block block = step.block;
            call_routine_by_id(step.id, block.bytes);
            expect_block_tail_untouched(block);
        }
        EXPECT_EQ(marked(file), c.after);
        if (c.clipboard_after != ANY) {
            EXPECT_EQ(clipboard_text(), c.clipboard_after ? c.clipboard_after : "<none>");
        }
        EXPECT_EQ(undo_record_count(file), c.undo_after);
        if (c.calls.size() == 1 && c.after == c.before && c.undo_after == 0) {
            EXPECT_EQ(file->flags & ~FILE_SELECTION_ACTIVE, flags_before & ~FILE_SELECTION_ACTIVE) << "flags changed";
        }
    }
}

// The editor's own copy is pasted without the padding it had and indented anew; after
// copy_line the clipboard is pasted as it is.
TEST_F(Clipboard_X, TheEditorsOwnCopyIsPastedUnpadded) {
    Test_File file("  #if a\n    b@\nz");
    make_routine_file(file, false);
    Test_Block block = block_from(Copy_Selection_Parameters{1, 0});
    call_routine_by_id(ROUTINE_COPY_SELECTION_TO_CLIPBOARD, block.bytes);
    EXPECT_EQ(clipboard_text(), "if a\n    b");
    editor_set_cursor(file, file->text.count);  // after "z": indentation none
    block = block_from(Paste_Parameters{1, 1});
    call_routine_by_id(ROUTINE_PASTE_FROM_CLIPBOARD, block.bytes);
    EXPECT_EQ(marked(file), "  if a\n    b\nzif a\n  b@");

    Test_File other("\tx\n@");
    make_routine_file(other, false);
    block = empty_block();
    editor_set_cursor(other, 0);
    call_routine_by_id(ROUTINE_COPY_LINE, block.bytes);  // the clipboard "\tx", the unpadded copy "x"
    editor_set_cursor(other, 3);
    block = block_from(Paste_Parameters{1, 1});
    call_routine_by_id(ROUTINE_PASTE_FROM_CLIPBOARD, block.bytes);
    EXPECT_EQ(marked(other), "\tx\n  x@");
}

// Typing at most half a second apart undoes as one step; a longer pause starts another.
TEST_F(Clipboard_X, TypingUndoesByItsPauses) {
    struct Typing_Case {
        const char* name;
        std::vector<u64> times;  // microseconds of each typed character
        std::string after_undo;
    };
    const Typing_Case cases[] = {
        {"quick typing", {1000000, 1200000, 1400000}, "x@y"},
        {"a pause before the third", {1000000, 1200000, 1700000}, "xab@y"},
    };
    for (const Typing_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("x@y");
        make_routine_file(file, false);
        for (size_t i = 0; i < c.times.size(); i++) {
            editor_clock_override = c.times[i];
            u8 character = (u8)('a' + i);
            s64 at = file->cursor;
            ASSERT_TRUE(editor_insert_octets(file, at, &character, 1));
            add_text_insertion_undo(file, at, 1, at, 1);
            editor_set_cursor(file, at + 1);
        }
        Test_Block block = empty_block();
        call_routine_by_id(ROUTINE_UNDO, block.bytes);
        EXPECT_EQ(marked(file), c.after_undo);
        editor_clock_override = 0;
    }
}

// Undo of an in-place change (a case change) puts the old octets back and leaves the cursor.
TEST_F(Clipboard_X, UndoOfAnInPlaceChangeKeepsTheCursor) {
    Test_File file("#ab\xC3\x9F@c");
    make_routine_file(file, false);
    Undo_Record* record = (Undo_Record*)dynamic_array_add_fast(&file->undo_records);
    memset(record, 0, sizeof(*record));
    record->kind = UNDO_IN_PLACE;
    record->offset = 0;
    record->replacement.length = 4;
    ASSERT_TRUE(gp_allocate(&record->replacement.saved_text, 4));
    memcpy(record->replacement.saved_text.memory, "ab\xC3\x9F", 4);
    memcpy(file->text.data, "AB\xC3\x9F", 4);
    Test_Block block = empty_block();
    call_routine_by_id(ROUTINE_UNDO, block.bytes);
    EXPECT_EQ(file_text(file), "ab\xC3\x9F" "c");
    EXPECT_EQ(file->cursor, 4);
    EXPECT_EQ(undo_record_count(file), 0u);
}

// Random pastes, cuts, line deletions and selections on small texts; undoing them one by
// one must give back every earlier text in turn.
TEST_F(Clipboard_X, RandomEditsUndoBackToEveryEarlierText) {
    u32 seed = (u32)test_seed(1618);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* texts[] = {"ab\r\ncd\n", "\t(x)\n  y", "h\xC3\xA9llo\nw\xF0\x9F\x98\x80rld", ""};
    const char* clips[] = {"a\r\nb", "\tq\n", "\xC3\xA9", "x\ry\nz"};
    for (int run = 0; run < 40; run++) {
        Test_File file(texts[random() % 4]);
        make_routine_file(file, false);
        std::vector<std::string> history = {file_text(file)};
        for (int step = 0; step < 12; step++) {
            s64 count = file->text.count;
            editor_set_cursor(file, count ? (s64)(random() % (count + 1)) : 0);
            atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
            Test_Block block = empty_block();
            switch (random() % 4) {
                case 0:
                    glfwSetClipboardString(nullptr, clips[random() % 4]);
                    block = block_from(Paste_Parameters{(u8)(random() % 2), (u8)(random() % 2)});
                    call_routine_by_id(ROUTINE_PASTE_FROM_CLIPBOARD, block.bytes);
                    break;
                case 1:
                    block = block_from(Delete_Line_Parameters{(u8)(random() % 2)});
                    call_routine_by_id(ROUTINE_DELETE_LINE, block.bytes);
                    break;
                default: {
                    s64 anchor = count ? (s64)(random() % (count + 1)) : 0;
                    file->selection_anchor = anchor;
                    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
                    editor_set_cursor(file, file->cursor);
                    call_routine_by_id(ROUTINE_CUT_SELECTION_TO_CLIPBOARD, block.bytes);
                    break;
                }
            }
            if (undo_record_count(file) == history.size()) history.push_back(file_text(file));
            ASSERT_EQ(undo_record_count(file) + 1, history.size()) << "step " << step;
        }
        while (undo_record_count(file)) {
            history.pop_back();
            Test_Block block = empty_block();
            call_routine_by_id(ROUTINE_UNDO, block.bytes);
            ASSERT_EQ(file_text(file), history.back());
        }
    }
}
