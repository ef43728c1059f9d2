// Seeded random runs of the editing, transform and clipboard routines, with cursor moves
// and selections between them, on texts of CR LF, lone CR, tabs, brackets and multi-octet
// characters; then undo until no record is left. Each step back must give the text as it
// stood before the call that made the record. The clipboard is a real one, on an X server
// of the test's own.
#include "file_routines_test_support.h"
#include "tests/test_seed.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <map>
#include <random>
#include <string>
#include <vector>

bool start_routines_x_server(const char* screen);
void stop_routines_x_server();

namespace {

struct Routines_Random_X : Routines_Test {
    static void SetUpTestSuite() {
        ASSERT_TRUE(start_routines_x_server("1024x768x24"));
        ASSERT_TRUE(glfwInit());
    }
    static void TearDownTestSuite() {
        glfwTerminate();
        stop_routines_x_server();
    }
};

// The octet runs texts are made of.
const char* const pieces[] = {"a", "b", "Zx", " ", "\t", "\n", "\r\n", "\r", "(", ")", "{", "}", "=",
                              "\xC3\xA9", "\xF0\x9F\x98\x80", "foo", "  ", "42"};

std::string random_text(std::mt19937& random, u32 pieces_wanted) {
    std::string text;
    for (u32 i = 0; i < pieces_wanted; i++) text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
    return text;
}

s64 random_offset(std::mt19937& random, s64 count) {
    switch (random() % 8) {
        case 0: return -(s64)(random() % 3) - 1;
        case 1: return count + (s64)(random() % 3);
        default: return (s64)(random() % (u64)(count + 1));
    }
}

// One random call; the strings its block points at are kept in keep until the call returns.
void call_random_routine(std::mt19937& random, Editor_File* file, std::string& keep) {
    s64 count = file->text.count;
    Test_Block block = {};
    u16 id = 0;
    switch (random() % 28) {
        case 0: id = ROUTINE_INSERT_TEXT; keep = random_text(random, 1 + random() % 3);
            block = block_from(Insert_Text_Parameters{String{(u8*)keep.data(), (s64)keep.size()}, (u8)(random() % 2)}); break;
        case 1: id = ROUTINE_INSERT_TEXT_AT; keep = random_text(random, 1 + random() % 3);
            block = block_from(Insert_Text_At_Parameters{String{(u8*)keep.data(), (s64)keep.size()}, random_offset(random, count)}); break;
        case 2:
        case 3: {
            const u32 characters[] = {'x', 'y', ' ', '\t', '\n', '\r', 0xE9, 0x1F600, 0, 127};
            id = ROUTINE_INSERT_CHARACTER;
            block = block_from(Insert_Character_Parameters{characters[random() % 10], (u8)(random() % 4 != 0), (u8)(random() % 2)});
            break;
        }
        case 4: id = ROUTINE_INSERT_NEW_LINE; block = block_from(Insert_New_Line_Parameters{(u8)(random() % 2), (u8)(random() % 2)}); break;
        case 5: id = ROUTINE_DUPLICATE_LINE; break;
        case 6: id = ROUTINE_DELETE_AT;
            block = block_from(Delete_At_Parameters{random_offset(random, count), (u64)(random() % 5 == 0 ? -(s64)(random() % 3) : random() % 6)});
            break;
        case 7: id = ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR; break;
        case 8: id = ROUTINE_DELETE_CHARACTER_AT_CURSOR; break;
        case 9: id = ROUTINE_DELETE_TOKEN; break;
        case 10: id = ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR; break;
        case 11: id = ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN; break;
        case 12: id = ROUTINE_DELETE_SELECTION; break;
        case 13: id = ROUTINE_SWAP_LINES; block = block_from(Swap_Lines_Parameters{(u8)(random() % 2)}); break;
        case 14: id = ROUTINE_PAD_SELECTION; break;
        case 15: id = ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR; break;
        case 16: id = ROUTINE_CHANGE_SELECTION_CASE; block = block_from(Change_Selection_Case_Parameters{(u8)(random() % 2)}); break;
        case 17:
        case 18: id = ROUTINE_SET_CURSOR_OFFSET; block = block_from(Offset_Parameters{random_offset(random, count)}); break;
        case 19: id = ROUTINE_SET_SELECTION_ANCHOR_OFFSET; block = block_from(Offset_Parameters{random_offset(random, count)}); break;
        case 20: id = ROUTINE_STOP_SELECTION; break;
        case 21: {
            const char* clips[] = {"a\r\nb", "\tq\n", "\xC3\xA9", "x\ry\nz", "  (p)\n    r"};
            glfwSetClipboardString(nullptr, clips[random() % 5]);
            id = ROUTINE_PASTE_FROM_CLIPBOARD;
            block = block_from(Paste_Parameters{(u8)(random() % 2), (u8)(random() % 2)});
            break;
        }
        case 22: id = ROUTINE_PASTE_FROM_CLIPBOARD; block = block_from(Paste_Parameters{1, 1}); break;
        case 23: id = ROUTINE_COPY_SELECTION_TO_CLIPBOARD; block = block_from(Copy_Selection_Parameters{(u8)(random() % 2), 1}); break;
        case 24: id = ROUTINE_CUT_SELECTION_TO_CLIPBOARD; break;
        case 25: id = ROUTINE_DELETE_LINE; block = block_from(Delete_Line_Parameters{(u8)(random() % 2)}); break;
        default: {
            const u16 moves[] = {ROUTINE_GO_LEFT, ROUTINE_GO_RIGHT, ROUTINE_GO_UP, ROUTINE_GO_DOWN, ROUTINE_SKIP_TEXT,
                                 ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN, ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN,
                                 ROUTINE_GO_TO_LINE_PADDING_END, ROUTINE_START_SELECTION};
            id = moves[random() % (sizeof(moves) / sizeof(moves[0]))];
            block = block_from(Skip_Text_Parameters{(u8)(random() % 2)});
            break;
        }
    }
    call_routine_by_id(id, block.bytes);
}

void expect_consistent(Editor_File* file) {
    s64 count = file->text.count;
    ASSERT_GE(file->cursor, 0);
    ASSERT_LE(file->cursor, count);
    ASSERT_GE(file->selection_anchor, 0);
    ASSERT_LE(file->selection_anchor, count);
    ASSERT_LE(*file->selection_start, *file->selection_end);
}

TEST_F(Routines_Random_X, UndoStepsBackThroughEveryRecordedText) {
    const u32 runs = 300, steps = 60;
    u32 base = (u32)test_seed(1000);
    for (u32 run = 0; run < runs; run++) {
        u32 seed = base + run;
        SCOPED_TRACE(test_seed_text(seed));
        std::mt19937 random(seed);
        Test_File file(random_text(random, random() % 12), random() % 2 ? "test.c" : "test.txt");
        current_file = file;
        std::string original = file_text(file);
        // The text just before the call that took the undo list from n records to more.
        std::map<u32, std::string> text_before;
        std::string keep;
        for (u32 step = 0; step < steps; step++) {
            editor_clock_override += random() % 300000;
            u32 records = undo_record_count(file);
            std::string before = file_text(file);
            call_random_routine(random, file, keep);
            expect_consistent(file);
            if (::testing::Test::HasFatalFailure()) return;
            if (undo_record_count(file) > records) text_before[records] = before;
            if (undo_record_count(file) == records && file_text(file) != before) {
                // Only typing that extends its record changes the text without a new record.
                Undo_Record* last = (Undo_Record*)file->undo_records.data + records - 1;
                ASSERT_TRUE(records > 0 && last->kind == UNDO_TYPED_INSERTION) << "an unrecorded change";
            }
        }
        while (undo_record_count(file)) {
            Test_Block none = {};
            call_routine_by_id(ROUTINE_UNDO, none.bytes);
            expect_consistent(file);
            auto known = text_before.find(undo_record_count(file));
            if (known != text_before.end()) {
                ASSERT_EQ(file_text(file), known->second) << "after undo to " << undo_record_count(file);
            }
        }
        ASSERT_EQ(file_text(file), original);
        current_file = nullptr;
    }
}

}  // namespace
