// UTF-8 stepping and counting, conversions to and from UTF-16 and UTF-32, and the natural
// order of names used to sort file lists. Results that need memory go to the calling
// thread's temporary memory.
//
// The lead-byte rule: below 0x80 one octet, 110xxxxx two, 1110xxxx three, 11110xxx four.
// A sequence is one character only when it is well formed: its lead is followed by the
// continuation octets (10xxxxxx) it announces, and it is not overlong, not a surrogate and
// not above U+10FFFF. Anything else (a stray continuation octet, 0xF8..0xFF, a lead cut
// off by a non-continuation octet or by the end of the text) is a character of one octet
// that decodes to U+FFFD: C3 41 is U+FFFD then "A". So nothing reads past the end, and a
// decoded text holds a 0 only where the text had a 0 octet.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

#define UNICODE_REPLACEMENT_CHARACTER 0xFFFD

struct String_Utf16 {
    u16* data;
    u64 count;  // 16-bit units, without a terminating 0 unit
};

struct String_Utf32 {
    u32* data;
    u64 count;
};

//~ Single characters

u32 get_utf8_char_size(u8* c);
// The length the lead octet at c announces, whatever follows it (used to cut text without
// splitting a character). get_utf8_char_size_in is the length of the character as decoded.

u32 get_utf8_char_size_in(u8* c, u8* end);
// Length of the character at c: its sequence when well formed, else 1. 0 when c >= end.

u32 utf8_to_utf32_codepoint(u8* c);
u32 utf8_to_utf32_codepoint_and_size(u8* c, u8* out_size);
// Code point (and length) of the character at c, U+FFFD for one malformed octet. Reads no
// further than the first octet that does not continue the sequence: for text ended by a 0
// or known to be whole.

u32 utf8_known_size_to_utf32_codepoint(u8* c, u32 size);
// Code point of the character at c whose length get_utf8_char_size_in gave; U+FFFD when
// the size octets are not one well-formed character.

u8* utf32_to_utf8_codepoint(u32 codepoint, u8* out);
// Writes 1 to 4 octets and returns the position after them. Values above U+10FFFF, which
// UTF-8 cannot hold, are written as U+FFFD.

u8* utf8_get_next_character(u8* p, u8* end);       // never past end
u8* utf8_get_previous_character(u8* p, u8* start);  // never before start

//~ Whole texts

u64 utf8_get_num_characters(String s);
u64 utf8_string_get_offset_at(String s, u32 n);  // octet offset of character n, or s.count
u8* get_utf8_sub_string(u8* data, u64 count, s32 n);
// The position after the first n characters (not past the end): cuts a text to n characters.

s64 utf8_cut_length(u8* data, s64 count);
// For text cut after count octets: the largest length <= count that does not end inside a
// character.

String codepoint_to_string(u32 codepoint);            // in temporary memory
void string_add_codepoint(String* s, u32 codepoint);  // the buffer must have 4 octets of room

String_Utf32 utf8_to_utf32(String s);
// In temporary memory; count 0 and null data when temporary memory is full.

u64 utf32_text_to_s64(u32* text, s64 count);
// The decimal value of a run of digit code points, each narrowed to its low byte; wraps.

//~ UTF-16

String_Utf16 utf8_to_utf16(String s);
// In temporary memory, followed by a 0 unit. Code points from U+10000 become surrogate
// pairs. Empty (null data) when temporary memory is full.

String utf16_to_utf8(String_Utf16 s);
// In temporary memory. A surrogate without its partner becomes U+FFFD.

u32 utf16_to_utf32_codepoint(u32 units);
// units holds the first 16-bit unit in its low half and the next one in its high half (two
// units read from memory at once). A valid pair gives its code point, a lone surrogate
// U+FFFD, anything else the first unit.

u16* string_to_utf16_c_string(String s);         // NUL-terminated UTF-16 in temporary memory
char* utf16_to_c_string(String_Utf16 s);         // NUL-terminated UTF-8 in temporary memory
u16* copy_as_c_string_utf16(String_Utf16 s);     // a copy with a 0 unit, in temporary memory
String from_c_tstring_utf16(u16* c_string);      // UTF-8 of a NUL-terminated UTF-16 text
u64 get_utf16_c_string_size(u16* c_string);      // units before the 0 unit
String_Utf16 get_utf16_c_string_view(u16* c_string);
void string_add_utf16(String_Utf16* s, u16 unit);  // the buffer must have room
String_Utf16 tconcat_utf16(String_Utf16 a, String_Utf16 b);  // joined, with a 0 unit

//~ Natural order

b8 string_sort_by_unicode_order_asc(String a, String b);
// True when a sorts before b: code points compare by value, except that runs of digits
// compare by their numeric value ("file2" before "file10"); a text that is a prefix of the
// other sorts first. Takes no memory.
