// String helpers and the two formatters. Every printf-style formatter goes through
// format_into_buffer_v, so no text is ever written past the block it was given.

#include "foundation/strings.h"
#include "foundation/log.h"
#include "foundation/unicode.h"

#include <string.h>
#include <emmintrin.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_SPRINTF_NOUNALIGNED  // its word copies would be misaligned loads
#define STB_SPRINTF_IMPLEMENTATION
#include <stb/stb_sprintf.h>
#pragma GCC diagnostic pop

//~ Aligned temporary blocks

void* tmp_allocate_aligned(u64 size, u64 alignment) {
    if (alignment == 0) alignment = 1;
    // The padded size would wrap round to a small block.
    if (size > ~0ull - (alignment - 1)) {
        add_log(0, LOG_ERROR, "Temporary memory asked for %llu octets aligned to %llu: too large",
                (unsigned long long)size, (unsigned long long)alignment);
        return 0;
    }
    u8* block = tmp_allocate(size + alignment - 1);
    if (!block) return 0;
    return (void*)align_up((u64)block, alignment);
}

//~ printf-style formatting

s64 format_into_buffer_v(u8* buffer, u64 capacity, const char* format, va_list args) {
    if (!buffer || capacity == 0) return 0;
    if (capacity > 0x7FFFFFFF) capacity = 0x7FFFFFFF;  // stb counts in int
    s64 wanted = stbsp_vsnprintf((char*)buffer, (int)capacity, format, args);
    if (wanted < (s64)capacity) return wanted;
    // Cut: stb kept capacity - 1 octets, which may end inside a character.
    s64 length = utf8_cut_length(buffer, (s64)capacity - 1);
    buffer[length] = 0;
    return length;
}

static u8* format_into_tmp_block_v(u64 block_size, s64* out_length, const char* format, va_list args) {
    u8* block = tmp_allocate(block_size);
    *out_length = 0;
    if (!block) return 0;
    *out_length = format_into_buffer_v(block, block_size, format, args);
    return block;
}

static String format_tmp_string_v(u64 block_size, const char* format, va_list args) {
    String result;
    result.data = format_into_tmp_block_v(block_size, &result.count, format, args);
    return result;
}

String tstring_small(const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(TSTRING_SMALL_SIZE, format, args);
    va_end(args);
    return result;
}

String tstring(const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(TSTRING_SIZE, format, args);
    va_end(args);
    return result;
}

String tstring_big(const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(TSTRING_BIG_SIZE, format, args);
    va_end(args);
    return result;
}

char* tcstring_small(const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(TCSTRING_SMALL_SIZE, format, args);
    va_end(args);
    return (char*)result.data;
}

char* tcstring(const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(TSTRING_SIZE, format, args);
    va_end(args);
    return (char*)result.data;
}

void write_into_string(String* s, u64 capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    s->count = format_into_buffer_v(s->data, capacity, format, args);
    va_end(args);
}

//~ The joiner

String string_concat2(const char* format, ...) {
    String result = {};
    va_list args;

    // Measure first, so the block is exactly as long as the text.
    s64 length = 0;
    va_start(args, format);
    for (const char* f = format; *f; f++) {
        if (*f == '%') {
            // Measured as the copy below treats it: a negative count adds nothing.
            s64 count = va_arg(args, String).count;
            if (count > 0) length += count;
        } else {
            length++;
        }
    }
    va_end(args);

    u8* out = tmp_allocate((u64)length + 1);
    if (!out) return result;

    u8* at = out;
    va_start(args, format);
    for (const char* f = format; *f; f++) {
        if (*f == '%') {
            String piece = va_arg(args, String);
            if (piece.count > 0) {
                memcpy(at, piece.data, (u64)piece.count);
                at += piece.count;
            }
        } else {
            *at++ = (u8)*f;
        }
    }
    va_end(args);
    *at = 0;

    result.data = out;
    result.count = at - out;
    return result;
}

String get_extension(String name) {
    s64 dot = name.count - 1;
    while (dot >= 0 && name.data[dot] != '.') dot--;
    if (dot < 0) return String{};
    return String{name.data + dot + 1, name.count - dot - 1};
}

char* to_tmp_c_string(String s) {
    u64 count = s.count > 0 ? (u64)s.count : 0;
    char* out = (char*)tmp_allocate(count + 1);
    if (!out) return 0;
    if (count) memcpy(out, s.data, count);
    out[count] = 0;
    return out;
}

String string_to_lower_case(String s) {
    String result = {};
    u64 count = s.count > 0 ? (u64)s.count : 0;
    u8* out = tmp_allocate(count);
    if (!out) return result;

    // 32 octets at a time: a byte in "A".."Z" gets bit 0x20. Signed compares are safe
    // because UTF-8 octets (0x80 and up) read as negative and fall outside the range.
    const __m128i before_a = _mm_set1_epi8('A' - 1);
    const __m128i after_z = _mm_set1_epi8('Z' + 1);
    const __m128i case_bit = _mm_set1_epi8(0x20);
    u64 i = 0;
    for (; i + 32 <= count; i += 32) {
        for (u64 half = 0; half < 32; half += 16) {
            __m128i v = _mm_loadu_si128((const __m128i*)(s.data + i + half));
            __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, before_a), _mm_cmplt_epi8(v, after_z));
            v = _mm_or_si128(v, _mm_and_si128(upper, case_bit));
            _mm_storeu_si128((__m128i*)(out + i + half), v);
        }
    }
    for (; i < count; i++) {
        u8 c = s.data[i];
        out[i] = (c >= 'A' && c <= 'Z') ? (u8)(c | 0x20) : c;
    }

    result.data = out;
    result.count = (s64)count;
    return result;
}

//~ Numbers

s64 string_to_s64(String s) {
    // Underscores are digit separators: drop them before looking at sign and prefix.
    u8 digits_buffer[256];
    u8* digits = digits_buffer;
    u64 saved = tmp_get_used();
    if (s.count > (s64)sizeof(digits_buffer)) {
        digits = tmp_allocate((u64)s.count);
        if (!digits) return 0;
    }
    s64 count = 0;
    for (s64 i = 0; i < s.count; i++) {
        if (s.data[i] != '_') digits[count++] = s.data[i];
    }

    u8* d = digits;
    b8 negative = false;
    if (count > 0 && (d[0] == '+' || d[0] == '-')) {
        negative = d[0] == '-';
        d++;
        count--;
    }

    u64 value = 0;  // wraps, as the literal's text asks for nothing else
    if (count >= 2 && d[0] == '0' && d[1] == 'x') {
        for (s64 i = 2; i < count; i++) {
            u8 c = d[i];
            u64 digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else digit = (u64)c - 55;  // "A".."F" become 10..15
            value = value * 16 + digit;
        }
    } else if (count >= 2 && d[0] == '0' && d[1] == 'b') {
        for (s64 i = 2; i < count; i++) value = value * 2 + (u64)(d[i] - '0');
    } else {
        for (s64 i = 0; i < count; i++) value = value * 10 + (u64)(d[i] - '0');
    }

    tmp_set_used(saved);
    return negative ? (s64)(0 - value) : (s64)value;
}

//~ Small helpers

b8 string_is_empty(u8* data, s64 count) {
    for (s64 i = 0; i < count; i++) {
        if (data[i] != ' ' && data[i] != '\t') return false;
    }
    return true;
}

b8 string_contains_character(u8* data, u32 count, u8 c) {
    return count > 0 && memchr(data, c, count) != 0;
}

u8* get_first_character_in_string_like(u8* data, s64 count, u8 c) {
    if (count < 1) return 0;
    return (u8*)memchr(data, c, (u64)count);
}

String gp_memory_to_string(Gp_Allocation a) {
    return String{a.memory, (s64)a.size};
}

b8 copy_string_to_allocation(Gp_Allocation* storage, String text, String* out) {
    u64 count = text.count > 0 ? (u64)text.count : 0;
    if (storage->size < count + 1) {
        Gp_Allocation bigger;
        if (!gp_allocate(&bigger, count + 1 < 256 ? 256 : count + 1)) return false;
        gp_free(storage);
        *storage = bigger;
    }
    if (count) memmove(storage->memory, text.data, count);
    storage->memory[count] = 0;
    *out = String{storage->memory, (s64)count};
    return true;
}

// Amounts in millions. The two compare differently on purpose: the String form by the
// absolute amount, the C text by the signed one.
String money_to_string(s32 millions, b8 show_sign) {
    s64 magnitude = millions < 0 ? -(s64)millions : millions;
    if (magnitude > 999) {
        return show_sign ? tstring_small("$%+'.1fB", millions / 1000.0f) : tstring_small("$%'.1fB", millions / 1000.0f);
    }
    return show_sign ? tstring_small("$%+'dM", millions) : tstring_small("$%'dM", millions);
}

// Called with the format as a variable, which the printf check lets pass.
static String format_tmp_string(u64 size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    String result = format_tmp_string_v(size, format, args);
    va_end(args);
    return result;
}

char* byte_size_to_c_string(u64 octets) {
    static const char* const format = "%$$llu";
    return (char*)format_tmp_string(TSTRING_SMALL_SIZE, format, (unsigned long long)octets).data;
}

char* money_to_c_string(s32 millions, b8 show_sign) {
    if (millions > 999) {
        return show_sign ? tcstring_small("$%+'.1fB", millions / 1000.0f) : tcstring_small("$%'.1fB", millions / 1000.0f);
    }
    return show_sign ? tcstring_small("$%+'dM", millions) : tcstring_small("$%'dM", millions);
}
