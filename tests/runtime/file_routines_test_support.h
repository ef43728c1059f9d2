// Shared by the tests of the routines that act on open files: a file given as marked text,
// a routine called by its id with a parameter block as compiled code lays it out, and one
// table row's checks.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "routine_blocks.h"
#include "runtime/routines_cursor.h"
#include "runtime/routines_editing.h"
#include "runtime/routines_transforms.h"

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
    Test_Block block;
    std::string after;
    u16 flags;           // ROW_FLAGS bits set after the call (none are set before)
    u32 undo_records;    // after the call
    b8 has_result;       // else the block must come back untouched
    Test_Block result;   // its record's octets are written over the given block
    u16 given_flags;     // set before the call, such as FILE_SINGLE_LINE
    u32 visible_lines;
};

std::string state_of(Editor_File* file);
// The text with '#' at the anchor when a selection is active, then '@' at the cursor.

void run_routine_case(const Routine_Case& c);
// Calls the routine and checks the state, flags, undo count and block against the row;
// then undoes every record and checks the text is as it was. A cursor that moved over an
// unchanged text must leave its old offset as the previous cursor.

struct File_Rule_Case {
    u16 id;
    Test_Block block;
    b8 layer;  // acts on the file being coloured when there is one
};

void check_file_rule(const File_Rule_Case& c, const std::string& marked);
// Calls the routine with a current file and a file being coloured, both given as marked,
// then with no file being coloured: exactly the file the routine is to act on must change.

struct Routines_Test : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
};
