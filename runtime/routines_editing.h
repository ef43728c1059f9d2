// The insertion and deletion routines of the layer: typing, inserting text and line breaks,
// duplicating a line, and the deletions of backspace, delete and the word keys. Each change
// is one undo record; offsets and lengths from layer code are checked before any edit.
#pragma once

#include "runtime/routines_cursor.h"
#include "foundation/strings.h"

//~ Parameter blocks

struct Insert_Text_Parameters {
    String text;
    u8 move_cursor;
};
static_assert(offsetof(Insert_Text_Parameters, text) == 0);
static_assert(offsetof(Insert_Text_Parameters, move_cursor) == 16);

struct Insert_Text_At_Parameters {
    String text;
    s64 offset;
};
static_assert(offsetof(Insert_Text_At_Parameters, text) == 0);
static_assert(offsetof(Insert_Text_At_Parameters, offset) == 16);

struct Insert_Character_Parameters {
    u32 codepoint;
    u8 move_cursor;
    u8 complete_on_tab;
};
static_assert(offsetof(Insert_Character_Parameters, codepoint) == 0);
static_assert(offsetof(Insert_Character_Parameters, move_cursor) == 4);
static_assert(offsetof(Insert_Character_Parameters, complete_on_tab) == 5);

struct Insert_New_Line_Parameters {
    u8 keep_indentation;
    u8 move_cursor;
};
static_assert(offsetof(Insert_New_Line_Parameters, keep_indentation) == 0);
static_assert(offsetof(Insert_New_Line_Parameters, move_cursor) == 1);

struct Delete_At_Parameters {
    s64 offset;
    u64 length;
};
static_assert(offsetof(Delete_At_Parameters, offset) == 0);
static_assert(offsetof(Delete_At_Parameters, length) == 8);

//~ routines_editing.cpp

void foreign_duplicate_line(u8* parameters);
// Current file. Inserts a copy of the cursor's line with its line break after it; a last
// line gets the file's line ending first. The cursor stays.

void foreign_insert_text(u8* parameters);
// Layer file. Inserts the text at the cursor, optionally moving the cursor past it. Never
// merges with typing. A null or empty text does nothing.

void foreign_insert_text_at(u8* parameters);
// Layer file. Inserts the text at an offset inside the text (the count included); the
// cursor stays. Any other offset is ignored.

void foreign_insert_character(u8* parameters);
// Current file. Types one code point over the selection; control codes other than tab
// are ignored, so line breaks come only from insert_new_line. A tab first tries path
// completion in a terminal's input line, word completion elsewhere; when nothing completes
// it inserts global_tab_character. Typing runs merge into one undo record.

void foreign_insert_new_line(u8* parameters);
// Current file, not a one-line input. The line ending, optionally followed by the blanks
// that open the cursor's line.

void foreign_delete_at(u8* parameters);
// Layer file. Deletes a range inside the text; any other range is ignored.

void foreign_delete_character_before_cursor(u8* parameters);  // a CR LF pair goes as one
void foreign_delete_character_at_cursor(u8* parameters);      // a CR LF pair goes as one
void foreign_delete_token(u8* parameters);                    // the token at the cursor, whole
void foreign_delete_token_text_up_to_cursor(u8* parameters);  // else the blanks before the cursor
void foreign_delete_remaining_text_on_token(u8* parameters);  // else the blanks after the cursor
void foreign_delete_selection(u8* parameters);                // current file
