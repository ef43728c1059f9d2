// Shared by the tests of the routines that act on open files: a file given as marked text,
// a routine called by its id with a parameter block as compiled code lays it out, and one
// table row's checks.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "tests/editor/editor_test_helpers.h"
#include "runtime/routines_cursor.h"
#include "runtime/routines_editing.h"
#include "runtime/routines_transforms.h"

// The routines' ids as the table of foreign routines numbers them.
enum Routine_Id : u16 {
    ROUTINE_GO_LEFT = 1,
    ROUTINE_GO_RIGHT = 2,
    ROUTINE_GO_UP = 3,
    ROUTINE_GO_DOWN = 4,
    ROUTINE_PAGE_UP = 5,
    ROUTINE_PAGE_DOWN = 6,
    ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN = 7,
    ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN = 8,
    ROUTINE_GO_TO_FILE_START = 9,
    ROUTINE_GO_TO_FILE_END = 10,
    ROUTINE_GO_TO_LINE_START = 11,
    ROUTINE_GO_TO_LINE_END = 12,
    ROUTINE_GO_TO_LINE_PADDING_END = 13,
    ROUTINE_SKIP_TEXT = 14,
    ROUTINE_DUPLICATE_LINE = 15,
    ROUTINE_INSERT_TEXT = 16,
    ROUTINE_INSERT_TEXT_AT = 17,
    ROUTINE_INSERT_CHARACTER = 18,
    ROUTINE_INSERT_NEW_LINE = 19,
    ROUTINE_DELETE_AT = 20,
    ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR = 21,
    ROUTINE_DELETE_CHARACTER_AT_CURSOR = 22,
    ROUTINE_DELETE_TOKEN = 23,
    ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR = 24,
    ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN = 25,
    ROUTINE_SWAP_LINES = 26,
    ROUTINE_DELETE_SELECTION = 29,
    ROUTINE_PAD_SELECTION = 30,
    ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR = 31,
    ROUTINE_CHANGE_SELECTION_CASE = 32,
    ROUTINE_UNDO = 36,
    ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION = 37,
    ROUTINE_START_SELECTION = 38,
    ROUTINE_STOP_SELECTION = 39,
    ROUTINE_TOGGLE_SELECTION = 40,
    ROUTINE_CHECK_IF_SELECTION_IS_ACTIVE = 41,
    ROUTINE_DO_NOT_SET_SELECTION_ANCHOR_ON_CLICK = 42,
    ROUTINE_SET_CURSOR_OFFSET = 62,
    ROUTINE_SET_SELECTION_ANCHOR_OFFSET = 63,
    ROUTINE_GET_CURSOR_OFFSET = 64,
    ROUTINE_GET_SELECTION_START_OFFSET = 65,
    ROUTINE_GET_SELECTION_END_OFFSET = 66,
};

void call_routine_by_id(u16 id, u8* block);

// A parameter block: the record's octets, then zeros.
struct Block {
    u8 raw[48];
};

template <typename T>
Block block_from(const T& record) {
    static_assert(sizeof(T) <= sizeof(Block::raw));
    Block b = {};
    memcpy(b.raw, &record, sizeof(record));
    return b;
}

inline String literal(const char* text) { return String{(u8*)text, (s64)strlen(text)}; }

// Flags a row names after the call; the selection bit shows in the marked text instead.
constexpr u16 MOVED = FILE_CURSOR_MOVED;
constexpr u16 EDITED = FILE_MODIFIED;
constexpr u16 SYNTAX = FILE_NEEDS_SYNTAX;
constexpr u16 ROW_FLAGS = FILE_CURSOR_MOVED | FILE_MODIFIED | FILE_NEEDS_SYNTAX | FILE_KEEP_ANCHOR_ON_CLICK;

// One call on a file given as marked text ('@' the cursor, '#' the anchor of an active
// selection) that is current_file, with no #syntax block running.
struct Routine_Case {
    const char* name;
    std::string before;
    u16 id;
    Block block;
    std::string after;
    u16 flags;           // ROW_FLAGS bits set after the call (none are set before)
    u32 undo_records;    // after the call
    b8 has_result;       // else the block must come back untouched
    Block result;
    u16 given_flags;     // set before the call, such as FILE_SINGLE_LINE
    u32 visible_lines;
};

std::string state_of(Editor_File* file);
// The text with '#' at the anchor when a selection is active, then '@' at the cursor.

void run_routine_case(const Routine_Case& c);
// Calls the routine and checks the state, flags, undo count and block against the row;
// then undoes every record and checks the text is as it was. A cursor that moved over an
// unchanged text must leave its old offset as the previous cursor.

u32 undo_record_count(Editor_File* file);

struct File_Rule_Case {
    u16 id;
    Block block;
    b8 layer;  // acts on the file being coloured when there is one
};

void check_file_rule(const File_Rule_Case& c, const std::string& marked);
// Calls the routine with a current file and a file being coloured, both given as marked,
// then with no file being coloured: exactly the file the routine is to act on must change.

struct Routines_Test : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
};
