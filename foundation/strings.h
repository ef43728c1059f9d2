// String views and the two formatters: printf-style through stb_sprintf, and
// string_concat2, where each bare "%" takes the next String. Results live in the calling
// thread's temporary memory; every write into a block is bounded by the block.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"

struct String {
    u8* data;
    s64 count;
};

// A String of a literal, without its NUL.
#define STR(literal) (String{(u8*)(literal), (s64)(sizeof(literal) - 1)})

String tstring_small(const char* format, ...) __attribute__((format(printf, 1, 2)));  // 32-octet block
char*  tcstring_small(const char* format, ...) __attribute__((format(printf, 1, 2))); // 64-octet block
String tstring(const char* format, ...) __attribute__((format(printf, 1, 2)));        // 1,024-octet block
char*  tcstring(const char* format, ...) __attribute__((format(printf, 1, 2)));       // 1,024-octet block
String tstring_big(const char* format, ...) __attribute__((format(printf, 1, 2)));    // 10,240-octet block

String string_concat2(const char* format, ...);
// Each bare "%" of format is replaced by the next argument, a String passed by value.

char* to_tmp_c_string(String s);
// s followed by a NUL, in temporary memory. Null when temporary memory is full.
