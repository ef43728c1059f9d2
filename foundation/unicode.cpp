// UTF-8, UTF-16 and UTF-32 conversion and the natural order of names. Every function that
// is given an end never reads at or past it, whatever the octets say.

#include "foundation/unicode.h"

#include <string.h>

//~ Single characters

u32 get_utf8_char_size(u8* c) {
    u8 lead = *c;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

// Decodes the character at p (p < end). A sequence is taken whole only when it is well
// formed; anything else is its first octet alone, as U+FFFD. Continuation octets are read
// one by one and only while they are continuation octets, so nothing is read at or past
// end, nor past the 0 that ends a C string.
static u32 utf8_decode_in(u8* p, u8* end, u32* out_size) {
    *out_size = 1;
    u8 lead = p[0];
    if (lead < 0x80) return lead;
    u32 size = get_utf8_char_size(p);
    if (size == 1) return UNICODE_REPLACEMENT_CHARACTER;
    static const u32 smallest[5] = {0, 0, 0x80, 0x800, 0x10000};  // below these a form is overlong
    u32 cp = lead & (0x7F >> size);
    for (u32 i = 1; i < size; i++) {
        if (p + i >= end || (p[i] & 0xC0) != 0x80) return UNICODE_REPLACEMENT_CHARACTER;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < smallest[size] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return UNICODE_REPLACEMENT_CHARACTER;
    *out_size = size;
    return cp;
}

u32 get_utf8_char_size_in(u8* c, u8* end) {
    if (c >= end) return 0;
    u32 size;
    utf8_decode_in(c, end, &size);
    return size;
}

u32 utf8_known_size_to_utf32_codepoint(u8* c, u32 size) {
    if (size == 0) return UNICODE_REPLACEMENT_CHARACTER;
    u32 decoded_size;
    u32 cp = utf8_decode_in(c, c + size, &decoded_size);
    return decoded_size == size ? cp : UNICODE_REPLACEMENT_CHARACTER;
}

u32 utf8_to_utf32_codepoint(u8* c) {
    u32 size;
    return utf8_decode_in(c, c + 4, &size);
}

u32 utf8_to_utf32_codepoint_and_size(u8* c, u8* out_size) {
    u32 size;
    u32 cp = utf8_decode_in(c, c + 4, &size);
    *out_size = (u8)size;
    return cp;
}

u8* utf32_to_utf8_codepoint(u32 cp, u8* out) {
    if (cp > 0x10FFFF) cp = UNICODE_REPLACEMENT_CHARACTER;
    if (cp < 0x80) {
        *out++ = (u8)cp;
    } else if (cp < 0x800) {
        *out++ = (u8)(0xC0 | (cp >> 6));
        *out++ = (u8)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = (u8)(0xE0 | (cp >> 12));
        *out++ = (u8)(0x80 | ((cp >> 6) & 0x3F));
        *out++ = (u8)(0x80 | (cp & 0x3F));
    } else {
        *out++ = (u8)(0xF0 | (cp >> 18));
        *out++ = (u8)(0x80 | ((cp >> 12) & 0x3F));
        *out++ = (u8)(0x80 | ((cp >> 6) & 0x3F));
        *out++ = (u8)(0x80 | (cp & 0x3F));
    }
    return out;
}

u8* utf8_get_next_character(u8* p, u8* end) {
    if (p >= end) return end;
    return p + get_utf8_char_size_in(p, end);
}

u8* utf8_get_previous_character(u8* p, u8* start) {
    if (p <= start) return start;
    p--;
    while (p > start && (*p & 0xC0) == 0x80) p--;
    return p;
}

//~ Whole texts

u64 utf8_get_num_characters(String s) {
    u8* p = s.data;
    u8* end = s.data + (s.count > 0 ? s.count : 0);
    u64 n = 0;
    while (p < end) {
        p += get_utf8_char_size_in(p, end);
        n++;
    }
    return n;
}

u64 utf8_string_get_offset_at(String s, u32 n) {
    u8* end = s.data + (s.count > 0 ? s.count : 0);
    u8* p = s.data;
    for (u32 i = 0; i < n && p < end; i++) p += get_utf8_char_size_in(p, end);
    return (u64)(p - s.data);
}

u8* get_utf8_sub_string(u8* data, u64 count, s32 n) {
    u8* end = data + count;
    u8* p = data;
    for (s32 i = 0; i < n && p < end; i++) p += get_utf8_char_size_in(p, end);
    return p;
}

s64 utf8_cut_length(u8* data, s64 count) {
    // Find where the last character starts (at most three continuation octets back) and
    // drop it when it needs more octets than are left.
    s64 start = count - 1;
    s64 lowest = count - 4 < 0 ? 0 : count - 4;
    while (start > lowest && (data[start] & 0xC0) == 0x80) start--;
    if (start < 0) return 0;
    if (start + (s64)get_utf8_char_size(data + start) > count) return start;
    return count;
}

String codepoint_to_string(u32 cp) {
    String result = {};
    u8* out = tmp_allocate(4);
    if (!out) return result;
    result.data = out;
    result.count = utf32_to_utf8_codepoint(cp, out) - out;
    return result;
}

void string_add_codepoint(String* s, u32 cp) {
    u8* at = s->data + s->count;
    s->count += utf32_to_utf8_codepoint(cp, at) - at;
}

String_Utf32 utf8_to_utf32(String s) {
    String_Utf32 result = {};
    u64 count = s.count > 0 ? (u64)s.count : 0;
    u32* out = (u32*)tmp_allocate_aligned((count ? count : 1) * sizeof(u32), alignof(u32));
    if (!out) return result;
    u8* p = s.data;
    u8* end = s.data + count;
    u64 n = 0;
    while (p < end) {
        u32 size;
        out[n++] = utf8_decode_in(p, end, &size);
        p += size;
    }
    result.data = out;
    result.count = n;
    return result;
}

u64 utf32_text_to_s64(u32* text, s64 count) {
    u64 value = 0;
    for (s64 i = 0; i < count; i++) value = value * 10 + (u64)((u8)text[i] - '0');
    return value;
}

//~ UTF-16

String_Utf16 utf8_to_utf16(String s) {
    String_Utf16 result = {};
    u64 count = s.count > 0 ? (u64)s.count : 0;
    // One unit per octet at most (a 4-octet character makes 2 units), plus the 0 unit.
    u16* out = (u16*)tmp_allocate_aligned((count + 1) * sizeof(u16), alignof(u16));
    if (!out) return result;
    u8* p = s.data;
    u8* end = s.data + count;
    u64 n = 0;
    while (p < end) {
        u32 size;
        u32 cp = utf8_decode_in(p, end, &size);
        p += size;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out[n++] = (u16)(0xD800 + (cp >> 10));
            out[n++] = (u16)(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = (u16)(cp > 0x10FFFF ? UNICODE_REPLACEMENT_CHARACTER : cp);
        }
    }
    out[n] = 0;
    result.data = out;
    result.count = n;
    return result;
}

static b8 is_high_surrogate(u32 unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
static b8 is_low_surrogate(u32 unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

u32 utf16_to_utf32_codepoint(u32 units) {
    u32 first = units & 0xFFFF;
    u32 second = units >> 16;
    if (is_high_surrogate(first) && is_low_surrogate(second)) {
        return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    }
    if (is_high_surrogate(first) || is_low_surrogate(first)) return UNICODE_REPLACEMENT_CHARACTER;
    return first;
}

// Writes the UTF-8 of s at out (room for 3 octets per unit) and returns the end.
static u8* utf16_write_utf8(String_Utf16 s, u8* out) {
    for (u64 i = 0; i < s.count; i++) {
        u32 units = s.data[i];
        if (i + 1 < s.count) units |= (u32)s.data[i + 1] << 16;
        u32 cp = utf16_to_utf32_codepoint(units);
        if (cp >= 0x10000) i++;
        out = utf32_to_utf8_codepoint(cp, out);
    }
    return out;
}

String utf16_to_utf8(String_Utf16 s) {
    String result = {};
    // A unit makes at most 3 octets; a pair makes 4 from 2 units.
    u8* out = tmp_allocate(s.count * 3 + 1);
    if (!out) return result;
    result.data = out;
    result.count = utf16_write_utf8(s, out) - out;
    return result;
}

u16* string_to_utf16_c_string(String s) {
    return utf8_to_utf16(s).data;
}

char* utf16_to_c_string(String_Utf16 s) {
    u8* out = tmp_allocate(s.count * 3 + 1);
    if (!out) return 0;
    *utf16_write_utf8(s, out) = 0;
    return (char*)out;
}

u16* copy_as_c_string_utf16(String_Utf16 s) {
    u16* out = (u16*)tmp_allocate_aligned((s.count + 1) * sizeof(u16), alignof(u16));
    if (!out) return 0;
    if (s.count) memcpy(out, s.data, s.count * sizeof(u16));
    out[s.count] = 0;
    return out;
}

u64 get_utf16_c_string_size(u16* c_string) {
    u64 n = 0;
    while (c_string[n]) n++;
    return n;
}

String_Utf16 get_utf16_c_string_view(u16* c_string) {
    return String_Utf16{c_string, get_utf16_c_string_size(c_string)};
}

String from_c_tstring_utf16(u16* c_string) {
    return utf16_to_utf8(get_utf16_c_string_view(c_string));
}

void string_add_utf16(String_Utf16* s, u16 unit) {
    s->data[s->count++] = unit;
}

String_Utf16 tconcat_utf16(String_Utf16 a, String_Utf16 b) {
    String_Utf16 result = {};
    u16* out = (u16*)tmp_allocate_aligned((a.count + b.count + 1) * sizeof(u16), alignof(u16));
    if (!out) return result;
    if (a.count) memcpy(out, a.data, a.count * sizeof(u16));
    if (b.count) memcpy(out + a.count, b.data, b.count * sizeof(u16));
    out[a.count + b.count] = 0;
    result.data = out;
    result.count = a.count + b.count;
    return result;
}

//~ Natural order

static b8 is_ascii_digit(u8 c) { return c >= '0' && c <= '9'; }

b8 string_sort_by_unicode_order_asc(String a, String b) {
    u8* pa = a.data;
    u8* pb = b.data;
    u8* end_a = a.data + (a.count > 0 ? a.count : 0);
    u8* end_b = b.data + (b.count > 0 ? b.count : 0);

    while (pa < end_a && pb < end_b) {
        if (is_ascii_digit(*pa) && is_ascii_digit(*pb)) {
            // Compare the runs as numbers of any length: without leading zeros, the
            // shorter run is the smaller number, and runs of one length compare digit by
            // digit. No conversion, so a run of 20 digits cannot wrap.
            u8* run_a = pa;
            u8* run_b = pb;
            while (pa < end_a && is_ascii_digit(*pa)) pa++;
            while (pb < end_b && is_ascii_digit(*pb)) pb++;
            while (run_a < pa - 1 && *run_a == '0') run_a++;
            while (run_b < pb - 1 && *run_b == '0') run_b++;
            s64 length_a = pa - run_a;
            s64 length_b = pb - run_b;
            if (length_a != length_b) return length_a < length_b;
            int order = memcmp(run_a, run_b, (u64)length_a);
            if (order != 0) return order < 0;
            continue;
        }
        u32 size_a, size_b;
        u32 cp_a = utf8_decode_in(pa, end_a, &size_a);
        u32 cp_b = utf8_decode_in(pb, end_b, &size_b);
        if (cp_a != cp_b) return cp_a < cp_b;
        pa += size_a;
        pb += size_b;
    }
    return pa >= end_a && pb < end_b;
}
