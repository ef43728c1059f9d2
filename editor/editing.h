// The editing primitives behind the layer's editing routines, and undo. Every change of a
// text is recorded as an Undo_Record so that one undo step takes it back; offsets and
// lengths come from layer code and are checked before anything is read or written.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "editor/editor_file.h"

// Typing within this long after the last typed insertion, directly behind it, extends it.
#define UNDO_MERGE_MICROSECONDS  500000ull
// Records this old are dropped whenever a new one is made: the history reaches back ten minutes.
#define UNDO_EXPIRY_MICROSECONDS 600000001ull

static_assert(sizeof(Undo_Record) == 72);

extern Dynamic_Array global_tab_character;
// Octets the tab key inserts and a paste puts in for a tab: four blanks until the layer's
// settings give others.

extern u64 editor_clock_override;
// Tests set it to run undo merging and expiry on a clock of their own; 0 means the
// monotonic clock.

//~ editing.cpp: the text buffer

u64 editor_get_time_microseconds();  // the undo records' clock

b8 editor_insert_octets(Editor_File* file, s64 offset, u8* data, s64 count);
// Opens the text up by count octets at offset and copies data there (null data leaves the
// gap as it was). The storage grows to twice the count plus the new octets when it lacks
// room. Records nothing and leaves the cursor alone. False, with nothing changed, for an
// offset outside the text, a negative count, a text that would pass 4 GiB or no memory.

b8 editor_remove_octets(Editor_File* file, s64 offset, s64 count);
// Removes a range that lies inside the text (false, nothing changed, otherwise), then
// keeps cursor, anchor and previous cursor inside the shorter text.

void clamp_cursors_to_text(Editor_File* file);
// Puts cursor, anchor and previous cursor back inside the text and the selection ends on
// the lower and higher of cursor and anchor.

//~ editing.cpp: undo records

void add_text_insertion_undo(Editor_File* file, s64 offset, s64 length, s64 cursor_before, u8 mergeable);
// Records an insertion the caller already made. A mergeable one extends the last record
// when that is a typed insertion made less than half a second ago that ends at offset.
// Nothing for length 0 or a range outside the text.

void add_padding_undo(Editor_File* file, s64 offset, s64 new_length, s64 cursor_before, Gp_Allocation old_text);
// Records that the range [offset, offset + new_length) replaced old_text, which the record
// owns from now on (it is freed here when the record cannot be made).

b8 editor_replace_range(Editor_File* file, s64 offset, s64 old_length, u8* new_text, s64 new_length, s64 cursor_before);
// Replaces the range by new_text with one replacement record, so one undo restores it.
// Flags and cursor are left to the caller. False, with nothing changed, for a range
// outside the text or no memory.

void editor_delete_at(Editor_File* file, s64 offset, s64 length);
// Deletes a range that lies inside the text, with a deletion record; a null file means
// current_file. The cursor stays unless it now lies past the end.

void editor_delete_selection();
// Deletes the selection of current_file with a record that remembers it was a selection;
// the cursor goes to where it began and the selection ends. Nothing when it is empty.

void editor_undo(Editor_File* file);
// Takes back the last record (null: current_file). With an empty list nothing changes, not
// even the flags. A record whose range no longer fits the text is dropped unapplied.

void free_undo_record(Undo_Record* record);  // frees the saved text of kinds 0, 3 and 4

//~ editing.cpp: reads and cursor moves

String editor_get_text_at(Editor_File* file, s64 offset, u32 length);
// A copy of [offset, offset + length) in temporary memory (null file: current_file). Empty
// (null data) when the range does not lie inside the text or temporary memory is full.

void editor_go_to_line_padding_end(Editor_File* file);
// To the end of the blanks that open the cursor's line, or to the line start when the
// cursor is at or before that end. Null: current_file.

void editor_go_to_previous_cursor_position(Editor_File* file);
// Swaps the cursor with the previous cursor; twice returns to the start. Null: current_file.

//~ align.cpp

void editor_align_selection_on_token_at_cursor(Editor_File* file);
// Moves the text of the token at the cursor to the same column on the other selected
// lines, inserting spaces or removing blanks just before it, as one replacement record.
// Null: current_file. Nothing unless the selection spans two lines or more.
