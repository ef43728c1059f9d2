// Meow hash 0.5 with the default seed, bit for bit. Eight 128-bit lanes absorb the input
// 32 octets at a time; the tail is copied into a zeroed local block first, so the hash
// never loads a byte outside its input (the usual trick of an over-long masked load would
// read past the end).

#include "foundation/meow_hash.h"

#include <string.h>
#include <immintrin.h>

// The first 256 hexadecimal digits of pi, two to an octet: the default seed.
alignas(16) static const u8 meow_default_seed[128] = {
    0x32, 0x43, 0xF6, 0xA8, 0x88, 0x5A, 0x30, 0x8D, 0x31, 0x31, 0x98, 0xA2, 0xE0, 0x37, 0x07, 0x34,
    0x4A, 0x40, 0x93, 0x82, 0x22, 0x99, 0xF3, 0x1D, 0x00, 0x82, 0xEF, 0xA9, 0x8E, 0xC4, 0xE6, 0xC8,
    0x94, 0x52, 0x82, 0x1E, 0x63, 0x8D, 0x01, 0x37, 0x7B, 0xE5, 0x46, 0x6C, 0xF3, 0x4E, 0x90, 0xC6,
    0xCC, 0x0A, 0xC2, 0x9B, 0x7C, 0x97, 0xC5, 0x0D, 0xD3, 0xF8, 0x4D, 0x5B, 0x5B, 0x54, 0x70, 0x91,
    0x79, 0x21, 0x6D, 0x5D, 0x98, 0x97, 0x9F, 0xB1, 0xBD, 0x13, 0x10, 0xBA, 0x69, 0x8D, 0xFB, 0x5A,
    0xC2, 0xFF, 0xD7, 0x2D, 0xBD, 0x01, 0xAD, 0xFB, 0x7B, 0x8E, 0x1A, 0xFE, 0xD6, 0xA2, 0x67, 0xE9,
    0x6B, 0xA7, 0xC9, 0x04, 0x5F, 0x12, 0xC7, 0xF9, 0x92, 0x4A, 0x19, 0x94, 0x7B, 0x39, 0x16, 0xCF,
    0x70, 0x80, 0x1F, 0x2E, 0x28, 0x58, 0xEF, 0xC1, 0x66, 0x36, 0x92, 0x0D, 0x87, 0x15, 0x74, 0xE6,
};

// One absorption into the five lanes of a slot. The order matters: each step sees the
// results of the ones before it, and a round key is used before it is changed.
static inline void meow_mix(__m128i& a, __m128i& b, __m128i& c, __m128i& d, __m128i& e,
                            __m128i i1, __m128i i2, __m128i i3, __m128i i4) {
    a = _mm_aesdec_si128(a, b);
    c = _mm_add_epi64(c, i1);
    b = _mm_xor_si128(b, i2);
    b = _mm_aesdec_si128(b, d);
    e = _mm_add_epi64(e, i3);
    d = _mm_xor_si128(d, i4);
}

// Slot j uses lanes j, j+4, j+6, j+1 and j+2 (modulo 8).
static inline void meow_mix_slot(__m128i* l, u32 j, __m128i i1, __m128i i2, __m128i i3, __m128i i4) {
    meow_mix(l[j & 7], l[(j + 4) & 7], l[(j + 6) & 7], l[(j + 1) & 7], l[(j + 2) & 7], i1, i2, i3, i4);
}

// A 32-octet chunk is read as four overlapping loads, none leaving the chunk.
static inline void meow_mix_chunk(__m128i* l, u32 j, const u8* p) {
    meow_mix_slot(l, j,
                  _mm_loadu_si128((const __m128i*)(p + 15)),
                  _mm_loadu_si128((const __m128i*)(p + 0)),
                  _mm_loadu_si128((const __m128i*)(p + 1)),
                  _mm_loadu_si128((const __m128i*)(p + 16)));
}

static inline void meow_shuffle(__m128i* l, u32 i) {
    __m128i& p = l[i & 7];
    __m128i& q = l[(i + 1) & 7];
    __m128i& v = l[(i + 2) & 7];
    __m128i& s = l[(i + 4) & 7];
    __m128i& t = l[(i + 5) & 7];
    __m128i& u = l[(i + 6) & 7];
    p = _mm_aesdec_si128(p, s);
    q = _mm_add_epi64(q, t);
    s = _mm_xor_si128(s, u);
    s = _mm_aesdec_si128(s, q);
    t = _mm_add_epi64(t, u);
    q = _mm_xor_si128(q, v);
}

Meow_Hash MeowHash(u64 length, const void* data) {
    const u8* bytes = (const u8*)data;
    __m128i l[8];
    for (u32 i = 0; i < 8; i++) l[i] = _mm_load_si128((const __m128i*)(meow_default_seed + 16 * i));

    // Whole 256-octet blocks: chunk j of each block uses slot j.
    u64 block_count = length / 256;
    for (u64 b = 0; b < block_count; b++) {
        const u8* q = bytes + 256 * b;
        for (u32 j = 0; j < 8; j++) meow_mix_chunk(l, j, q + 32 * j);
    }
    u64 base = 256 * block_count;
    u32 chunk_count = (u32)((length / 32) % 8);
    u32 residual = (u32)(length % 32);

    // The residual goes in before the whole chunks that precede it, even when it is empty.
    alignas(16) u8 tail[32] = {};
    if (residual) memcpy(tail, bytes + length - residual, residual);
    __m128i low_half = _mm_load_si128((const __m128i*)tail);
    __m128i high_half = _mm_load_si128((const __m128i*)(tail + 16));
    meow_mix_slot(l, 0,
                  _mm_alignr_epi8(low_half, high_half, 15),
                  low_half,
                  _mm_alignr_epi8(low_half, high_half, 1),
                  high_half);

    // The length: its low half only.
    __m128i zero = _mm_setzero_si128();
    meow_mix_slot(l, 1, zero, zero, _mm_set_epi64x(0, (s64)(length >> 8)), _mm_set_epi64x(0, (s64)length));

    for (u32 m = 0; m < chunk_count; m++) meow_mix_chunk(l, (m + 2) & 7, bytes + base + 32 * m);

    for (u32 step = 0; step < 12; step++) meow_shuffle(l, step & 7);

    l[0] = _mm_add_epi64(l[0], l[2]);
    l[1] = _mm_add_epi64(l[1], l[3]);
    l[4] = _mm_add_epi64(l[4], l[6]);
    l[5] = _mm_add_epi64(l[5], l[7]);
    l[0] = _mm_xor_si128(l[0], l[1]);
    l[4] = _mm_xor_si128(l[4], l[5]);
    l[0] = _mm_add_epi64(l[0], l[4]);

    Meow_Hash result;
    result.low = (u64)_mm_cvtsi128_si64(l[0]);
    result.high = (u64)_mm_extract_epi64(l[0], 1);
    return result;
}
