// Finding the query in a text with each hit's line. The result is always that of the plain
// loop (every position where a hit may start visited in order; a line break counted at its
// position, CR LF once; a 0 makes the text binary; after a hit the loop goes on behind it),
// but computed in two ways: for a query without CR, LF or 0, hits and the 0 test use
// sixteen-octet compares and lines are counted only between hits; otherwise every octet
// that could change the loop's state is visited.

#include "listers/search.h"

#include <emmintrin.h>
#include <string.h>

// A stop is noticed within this many octets of a scan.
#define SCAN_STEP 65536ull

static b8 scan_may_go_on() { return __atomic_load_n(&global_search_lister.running, __ATOMIC_RELAXED) != 0; }

static b8 take_a_hit_seat() {
    Search_Lister* s = &global_search_lister;
    if (__atomic_fetch_add(&s->hit_count, 1u, __ATOMIC_RELAXED) < SEARCH_MAX_HITS) return true;
    if (__atomic_exchange_n(&s->hit_cap_reached, (u8)1, __ATOMIC_ACQ_REL) == 0) {
        add_log(nullptr, LOG_INFO, "The search stopped at %u hits.", SEARCH_MAX_HITS);
    }
    return false;
}

static inline __m128i load16(u8* at) { return _mm_loadu_si128((__m128i*)at); }

static inline u32 mask_of(__m128i v, u8 c) { return (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8((char)c))); }

// The first CR or LF at or after p, or end.
static u64 find_line_end(u8* text, u64 p, u64 end) {
    while (p + 16 <= end) {
        __m128i v = load16(text + p);
        u32 m = mask_of(v, '\r') | mask_of(v, '\n');
        if (m) return p + (u64)__builtin_ctz(m);
        p += 16;
    }
    while (p < end && text[p] != '\r' && text[p] != '\n') p++;
    return p;
}

static b8 add_hit(Dynamic_Array* hits, u8* text, u64 p, u64 length, u32 line, u64 line_start, u64* known_line_end,
                  u64 end) {
    if (!take_a_hit_seat()) return false;
    Search_Match* match = (Search_Match*)dynamic_array_add_fast(hits);
    if (!match) return false;
    // One line end serves every hit on its line, so a long line with many hits stays linear.
    if (*known_line_end <= p) *known_line_end = find_line_end(text, p, end);
    match->offset = p;
    match->length = length;
    match->file_index = 0;
    match->line = line;
    match->line_start = text + line_start;
    match->line_end = text + *known_line_end;
    match->hit = text + p;
    return true;
}

//~ Queries without CR, LF or 0

// No hit holds a line break or a 0, so the plain loop visits every 0 up to the last start
// position, and every line break before a hit.

// The first full match starting in [from, to], or to + 1. The first and last octets of the
// query are tested sixteen start positions at a time; `end` bounds every read.
static u64 find_match(u8* text, u64 from, u64 to, String query) {
    u64 length = (u64)query.count;
    u8 first = query.data[0];
    u8 last = query.data[length - 1];
    __m128i f = _mm_set1_epi8((char)first);
    __m128i l = _mm_set1_epi8((char)last);
    u64 p = from;
    while (p + 15 <= to) {
        u32 m = (u32)_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(load16(text + p), f), _mm_cmpeq_epi8(load16(text + p + length - 1), l)));
        while (m) {
            u64 at = p + (u64)__builtin_ctz(m);
            if (memcmp(text + at, query.data, length) == 0) return at;
            m &= m - 1;
        }
        p += 16;
    }
    for (; p <= to; p++) {
        if (text[p] == first && text[p + length - 1] == last && memcmp(text + p, query.data, length) == 0) return p;
    }
    return to + 1;
}

// Line breaks in [from, to) as the loop counts them (CR LF once; a pair never straddles
// `to`, which is a hit's start), and the position after the last of them.
static void count_breaks(u8* text, u64 from, u64 to, u32* line, u64* line_start) {
    u64 p = from;
    u32 count = 0;
    s64 last_break = -1;
    while (p + 17 <= to + 1) {  // reads text[p + 16], which is at most to
        __m128i v = load16(text + p);
        u32 lf = mask_of(v, '\n');
        u32 cr = mask_of(v, '\r');
        if (lf | cr) {
            u32 pairs = cr & mask_of(load16(text + p + 1), '\n');
            count += (u32)__builtin_popcount(lf) + (u32)__builtin_popcount(cr) - (u32)__builtin_popcount(pairs);
            last_break = (s64)(p + 31 - (u64)__builtin_clz(lf | cr));
        }
        p += 16;
    }
    for (; p < to; p++) {
        u8 c = text[p];
        if (c == '\n' || c == '\r') {
            if (!(c == '\r' && text[p + 1] == '\n')) count++;
            last_break = (s64)p;
        }
    }
    *line += count;
    if (last_break >= 0) *line_start = (u64)last_break + 1;
}

static Scan_Result scan_plain_query(u8* text, u64 start, u64 end, u32 line, u64 line_start, String query,
                                    Dynamic_Array* hits) {
    u64 length = (u64)query.count;
    u64 last = end - length;
    if (memchr(text + start, 0, last + 1 - start)) return SCAN_BINARY;
    u64 counted_to = start;
    u64 known_line_end = 0;
    u64 p = start;
    while (p <= last) {
        if (!scan_may_go_on()) return SCAN_STOPPED;
        u64 to = last - p > SCAN_STEP ? p + SCAN_STEP : last;
        u64 at = find_match(text, p, to, query);
        if (at > to) {
            p = to + 1;
            continue;
        }
        count_breaks(text, counted_to, at, &line, &line_start);
        counted_to = at;
        if (!add_hit(hits, text, at, length, line, line_start, &known_line_end, end)) return SCAN_STOPPED;
        p = at + length;
    }
    return SCAN_DONE;
}

//~ Any query

// The first position in [from, to) whose octet can change the loop's state: a line break,
// a 0, or the query's first octet. `to` when there is none.
static u64 find_next_event(u8* text, u64 from, u64 to, u8 first) {
    __m128i zero = _mm_setzero_si128();
    u64 p = from;
    while (p + 16 <= to) {
        __m128i v = load16(text + p);
        u32 mask = mask_of(v, '\n') | mask_of(v, '\r') | mask_of(v, first) |
                   (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
        if (mask) return p + (u64)__builtin_ctz(mask);
        p += 16;
    }
    for (; p < to; p++) {
        u8 c = text[p];
        if (c == '\n' || c == '\r' || c == 0 || c == first) return p;
    }
    return to;
}

static Scan_Result scan_any_query(u8* text, u64 start, u64 end, u32 line, u64 line_start, String query,
                                  Dynamic_Array* hits) {
    u64 length = (u64)query.count;
    u64 last = end - length;
    u8 first = query.data[0];
    u64 known_line_end = 0;
    u64 p = start;
    while (p <= last) {
        if (!scan_may_go_on()) return SCAN_STOPPED;
        u64 limit = last + 1 - p > SCAN_STEP ? p + SCAN_STEP : last + 1;
        u64 next = find_next_event(text, p, limit, first);
        if (next == limit) {
            p = limit;
            continue;
        }
        p = next;
        u8 c = text[p];
        if (c == '\n') {
            line++;
            line_start = p + 1;
        } else if (c == '\r') {
            if (p + 1 < end && text[p + 1] == '\n') p++;
            line++;
            line_start = p + 1;
        } else if (c == 0) {
            return SCAN_BINARY;
        }
        if (p + length <= end && text[p] == first && memcmp(text + p, query.data, length) == 0) {
            if (!add_hit(hits, text, p, length, line, line_start, &known_line_end, end)) return SCAN_STOPPED;
            p += length;
        } else {
            p++;
        }
    }
    return SCAN_DONE;
}

Scan_Result scan_for_hits(u8* text, u64 start, u64 end, u32 line, u64 line_start, String query, Dynamic_Array* hits) {
    u64 length = (u64)query.count;
    if (length == 0 || end < start || end - start < length) return SCAN_DONE;
    b8 plain = !memchr(query.data, '\r', length) && !memchr(query.data, '\n', length) && !memchr(query.data, 0, length);
    return plain ? scan_plain_query(text, start, end, line, line_start, query, hits)
                 : scan_any_query(text, start, end, line, line_start, query, hits);
}
