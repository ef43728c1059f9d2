// String views and the two formatters: printf-style through stb_sprintf, and
// string_concat2, where each bare "%" takes the next String. Results live in the calling
// thread's temporary memory; every write into a block is bounded by the block.
#pragma once

#include <stdarg.h>

#include "foundation/types.h"
#include "foundation/memory.h"

struct String {
    u8* data;
    s64 count;
};

// A String of a literal, without its NUL.
#define STR(literal) (String{(u8*)(literal), (s64)(sizeof(literal) - 1)})

//~ strings.cpp: aligned temporary blocks

void* tmp_allocate_aligned(u64 size, u64 alignment);
// A temporary block for an array of records: the blocks before it may have any length.
// Null when temporary memory is full, or when the size with its padding passes 64 bits.

//~ strings.cpp: printf-style formatting into temporary blocks

inline String string_from_c(const char* text) { return String{(u8*)text, (s64)__builtin_strlen(text)}; }

inline b8 strings_equal(String a, String b) {
    return a.count == b.count && (a.count == 0 || __builtin_memcmp(a.data, b.data, (u64)a.count) == 0);
}

// Block sizes: the thread's used offset grows by exactly this, whatever the text's length.
#define TSTRING_SMALL_SIZE   32
#define TCSTRING_SMALL_SIZE  64
#define TSTRING_SIZE         1024
#define TSTRING_BIG_SIZE     10240

String tstring_small(const char* format, ...) __attribute__((format(printf, 1, 2)));  // 32-octet block
char*  tcstring_small(const char* format, ...) __attribute__((format(printf, 1, 2))); // 64-octet block
String tstring(const char* format, ...) __attribute__((format(printf, 1, 2)));        // 1,024-octet block
char*  tcstring(const char* format, ...) __attribute__((format(printf, 1, 2)));       // 1,024-octet block
String tstring_big(const char* format, ...) __attribute__((format(printf, 1, 2)));    // 10,240-octet block
// Text too long for its block is cut at a UTF-8 character boundary and stays NUL-terminated
// inside the block. An empty String (null data) or a null text when temporary memory is full.
// Besides printf's conversions: "%'lld" groups thousands with ",", "%$$d" prints a byte size.

s64 format_into_buffer_v(u8* buffer, u64 capacity, const char* format, va_list args);
// The workhorse of every printf-style formatter: writes at most capacity - 1 octets and a
// NUL, cutting at a character boundary, and returns the length written. Capacity 0 writes
// nothing.

void write_into_string(String* s, u64 capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Formats into the capacity octets that s->data already points at (NUL-terminated, cut as
// above) and sets s->count to the text's length.

//~ strings.cpp: the joiner and small helpers

String get_extension(String name);
// The text after the last "." of name (a view into it); empty when name has no ".".

String string_concat2(const char* format, ...);
// Each bare "%" of format is replaced by the next argument, a String passed by value; there
// is no escape. Exactly length + 1 octets of temporary memory: the last holds a 0, so the
// data is also a C string (a path for the OS needs no second copy). Empty String when
// temporary memory is full.

char* to_tmp_c_string(String s);
// s followed by a NUL, in temporary memory. Null when temporary memory is full.

String string_to_lower_case(String s);
// A copy in temporary memory with only "A" to "Z" lowered; UTF-8 sequences are kept.

s64 string_to_s64(String s);
// The value of an integer literal: "_" is skipped, an optional sign, then "0x" hexadecimal,
// "0b" binary or decimal. Digits are not checked and overflow wraps; nothing fails.

b8 string_is_empty(u8* data, s64 count);  // true when nothing but spaces and tabs
b8 string_contains_character(u8* data, u32 count, u8 c);
u8* get_first_character_in_string_like(u8* data, s64 count, u8 c);  // null when absent
String gp_memory_to_string(Gp_Allocation a);

b8 copy_string_to_allocation(Gp_Allocation* storage, String text, String* out);
// Copies text, followed by a 0, into storage, which is replaced by a larger block when it
// is too small (at least 256 octets) and otherwise reused. False (out untouched) when no
// block can be had.

char* byte_size_to_c_string(u64 octets);
// "%$$llu": the size in 1024-based units ("1.5 Mi"), NUL-terminated in a 32-octet block.
// A call of its own because the compiler's printf check does not know the "$" flag.

String money_to_string(s32 millions, b8 show_sign);    // "$1.5B", "$+20M"; 32-octet block
char* money_to_c_string(s32 millions, b8 show_sign);   // the same text, 64-octet block
