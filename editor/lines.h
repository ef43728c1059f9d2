// Lines exist only as positions of line breaks in a file's text: a CR LF pair, a lone CR
// or a lone LF, each one break. These convert between offsets, lines and columns; the
// counting takes 32 octets at a time with vector compares because it runs over whole
// files every frame.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"
#include "editor/editor_file.h"

struct Editor_Token;

extern u64 global_get_num_lines_time;  // microseconds spent in count_lines_in (a statistic)

u32 count_lines_in(u8* text, s64 length);
// 1 + the number of breaks.

u64 count_breaks_between(u8* text, s64 start, s64 end);
// Breaks that start in text[start, end): an LF right after a CR, also a CR before start,
// belongs to the CR's break.

s64 get_offset_after_breaks(u8* text, s64 length, s64 from, u64 breaks);
// Just after the breaks-th break that starts at or after from; from itself for 0 breaks;
// the length when fewer follow.

s64 get_offset_at_line(u8* text, s64 length, u32 line);
// Offset of the first octet of the line (from 1); the length for line 0 or past the last line.
inline s64 get_line_start_at_line(u8* text, s64 length, u32 line) { return get_offset_at_line(text, length, line); }
s64 get_offset_at_line_from_file(Editor_File* file, u32 line);  // 0 without a file

u32 get_line_at_offset(u8* text, s64 length, s64 offset);
// 1 + the breaks that start before the offset (a CR LF pair counts once, also at its LF).
u32 editor_get_line_at_offset(Editor_File* file, s64 offset);  // 1 without a file

s64 get_line_start(u8* text, s64 offset);
// Just after the last CR or LF before the offset; 0 when there is none.
s64 get_line_end(u8* text, s64 length, s64 offset);
// The first CR or LF at or after the offset; the length when there is none; the offset
// itself when it is at or past the length.

String get_whitespace_at(Editor_File* file, s64 offset);
// The run of spaces and tabs around the offset (backwards from offset - 1, forwards from offset).
String get_whitespace_from(s64 offset, u8* text, s64 length);
// The run of spaces and tabs that starts at the offset.

u32 get_cursor_column(Editor_File* file, s64 line_start);
// Characters from the line start to the cursor; 0 when the line start is not before it.
void set_cursor_at_column(Editor_File* file, s64 line_start, u32 column);
// Moves the cursor that many characters (spaces and tabs included) from the line start,
// never past the line's end.

Editor_Token* get_first_editor_token_like(Editor_Token* token, u16 kind_mask, Editor_Token* first);
// Walking back from token (itself included) to first: the first token with a bit of the mask.
Editor_Token* get_scope_token(Editor_Token* token, Editor_Token* first);
// Walking back from the token before token: the nearest opening bracket not closed in between.
