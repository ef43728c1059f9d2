// Our own LZ block and the bit stream under it. The compressor looks up each word's
// nearest earlier equal word in a table of the last position of every word value: the
// same matches a scan of the window finds, without the window-sized scan per word, so
// trying fifteen window sizes costs one pass. The decoder trusts nothing in the block.

#include <string.h>

#include "updater/updater.h"

//~ Bit stream

Bit_Stream* make_bit_stream(Bit_Stream* stream, u8* words, b8 for_reading) {
    stream->cursor = words;
    stream->buffer = for_reading ? load_u64(words) : 0;
    stream->total = 0;
    stream->used = 0;
    stream->free = 64;
    return stream;
}

static u64 low_bits(u64 value, u32 n) { return value & ((1ull << n) - 1); }

u64 bit_stream_read(Bit_Stream* stream, u32 n) {
    stream->total += n;
    u32 unread = stream->free;
    if (n <= unread) {
        u64 value = low_bits(stream->buffer >> (64 - unread), n);
        stream->free = (u8)(unread - n);
        return value;
    }
    // The field's low bits are the top of this word, its high bits the bottom of the next.
    u64 value = unread ? stream->buffer >> (64 - unread) : 0;
    stream->cursor += 8;
    stream->buffer = load_u64(stream->cursor);
    u32 high = n - unread;
    value |= low_bits(stream->buffer, high) << unread;
    stream->free = (u8)(64 - high);
    return value;
}

void bit_stream_write(Bit_Stream* stream, u64 value, u32 n) {
    stream->total += n;
    if (n <= stream->free) {
        stream->buffer |= value << stream->used;  // used + n <= 64, so used stays below 64
        stream->used = (u8)(stream->used + n);
        stream->free = (u8)(stream->free - n);
        return;
    }
    u32 fits = stream->free;  // below n, so below 64
    if (fits) stream->buffer |= value << stream->used;
    store_u64(stream->cursor, stream->buffer);
    stream->cursor += 8;
    stream->buffer = value >> fits;
    stream->used = (u8)(n - fits);
    stream->free = (u8)(64 - stream->used);
}

void bit_stream_flush(Bit_Stream* stream) {
    if (stream->free >= 64) return;
    store_u64(stream->cursor, stream->buffer);
    stream->cursor += 8;
    stream->buffer = 0;
    stream->used = 0;
    stream->free = 64;
}

//~ Compressing

static u32 word_count_of(u64 length) { return (u32)((length + 3) / 4); }

static u32 input_word(const u8* input, u32 length, u32 index) {
    u32 at = index * 4;
    if (length - at >= 4) return load_u32(input + at);
    u32 word = 0;  // the zero padding of the last word, without touching the input
    memcpy(&word, input + at, length - at);
    return word;
}

// Offset bits a distance needs: distance - 1 must fit.
static u32 bits_for_distance(u32 distance) { return distance <= 1 ? 0 : 32 - (u32)__builtin_clz(distance - 1); }

// distances[i] is the distance in words to the nearest earlier word equal to word i, 0
// when there is none. The table holds (value, position + 1) pairs by open addressing at
// a load of at most one half.
static u32* find_match_distances(const u8* input, u32 length, Gp_Allocation* memory) {
    u32 words = word_count_of(length);
    u64 slots = 16;
    while (slots < 2ull * words) slots *= 2;
    u64 table_offset = align_up(4ull * words, 8);
    if (!gp_allocate(memory, table_offset + 8ull * slots)) return 0;
    u32* distances = (u32*)memory->memory;
    u64* table = (u64*)(memory->memory + table_offset);
    memset(table, 0, 8ull * slots);
    u32 shift = 64 - (u32)__builtin_ctzll(slots);
    for (u32 i = 0; i < words; i++) {
        u32 word = input_word(input, length, i);
        u64 slot = ((u64)word * 0x9E3779B97F4A7C15ull) >> shift;
        for (;;) {
            u64 entry = table[slot];
            if (entry == 0) {
                distances[i] = 0;
                break;
            }
            if ((u32)(entry >> 32) == word) {
                distances[i] = i + 1 - (u32)entry;
                break;
            }
            slot = (slot + 1) & (slots - 1);
        }
        table[slot] = ((u64)word << 32) | (i + 1);
    }
    return distances;
}

static u64 block_size_for_payload(u64 payload_bits) { return LZ_BLOCK_HEADER_SIZE + 8 * ((payload_bits + 63) / 64); }

u64 lz_block_bound(u32 length) { return block_size_for_payload(33ull * word_count_of(length)); }

static u32 write_lz_block(const u8* input, u32 length, const u32* distances, u8* output, u32 offset_bits) {
    u32 words = word_count_of(length);
    u64 window = 1ull << offset_bits;
    Bit_Stream stream;
    make_bit_stream(&stream, output + LZ_BLOCK_HEADER_SIZE, false);
    for (u32 i = 0; i < words; i++) {
        u32 distance = distances[i];
        if (distance && distance <= window) {
            bit_stream_write(&stream, (u64)(distance - 1) << 1, offset_bits + 1);  // flag 0, then the distance
        } else {
            bit_stream_write(&stream, ((u64)input_word(input, length, i) << 1) | 1, 33);
        }
    }
    bit_stream_flush(&stream);
    Lz_Block head = {stream.total, length, (u8)offset_bits};
    memcpy(output, &head, sizeof(head));
    return (u32)block_size_for_payload(stream.total);
}

u32 lz_compress(const u8* input, u8* output, u32 length, u8 offset_bits) {
    if (offset_bits > LZ_MAX_OFFSET_BITS || length > LZ_MAX_INPUT_SIZE) return 0;
    Gp_Allocation memory = {};
    u32* distances = find_match_distances(input, length, &memory);
    if (!distances) return 0;
    u32 size = write_lz_block(input, length, distances, output, offset_bits);
    gp_free(&memory);
    return size;
}

u32 lz_compress_trying_different_sizes_per_offset(const u8* input, u8* output, u32 length, u8 first_bits, u8 last_bits) {
    if (first_bits > last_bits || last_bits > LZ_MAX_OFFSET_BITS || length > LZ_MAX_INPUT_SIZE) return 0;
    Gp_Allocation memory = {};
    u32* distances = find_match_distances(input, length, &memory);
    if (!distances) return 0;

    // Matches by the offset bits they need; a block's size then follows for every bits value.
    u32 words = word_count_of(length);
    u64 matches_needing[LZ_MAX_OFFSET_BITS + 1] = {};
    for (u32 i = 0; i < words; i++) {
        if (distances[i]) matches_needing[bits_for_distance(distances[i])]++;
    }
    u64 best_size = length;
    u32 best_bits = first_bits;
    u64 matches = 0;
    for (u32 bits = 0; bits <= last_bits; bits++) {
        matches += matches_needing[bits];
        if (bits < first_bits) continue;
        u64 size = block_size_for_payload(matches * (bits + 1) + (words - matches) * 33);
        if (size < best_size) {
            best_size = size;
            best_bits = bits;
        }
    }
    u32 size = write_lz_block(input, length, distances, output, best_bits);
    gp_free(&memory);
    return size;
}

//~ Decompressing

b8 lz_decompress(const u8* block, u64 block_size, u8* output, u64 output_capacity, u32* uncompressed_size) {
    *uncompressed_size = 0;
    if (block_size < LZ_BLOCK_HEADER_SIZE) return false;
    Lz_Block head;
    memcpy(&head, block, sizeof(head));
    u32 payload_bits = head.payload_bit_count;
    u32 size = head.uncompressed_size;
    u32 offset_bits = head.offset_bits;
    u64 words_expected = word_count_of(size);
    if (offset_bits > LZ_MAX_OFFSET_BITS || 4 * words_expected > output_capacity) return false;
    if (block_size_for_payload(payload_bits) > block_size) return false;
    if (payload_bits == 0) {
        if (size != 0) return false;
        return true;
    }

    // Every item is checked against the payload before it is read, so the stream never
    // loads a word past the ones the payload covers.
    Bit_Stream stream;
    make_bit_stream(&stream, (u8*)block + LZ_BLOCK_HEADER_SIZE, true);
    u64 words = 0;
    while (stream.total < payload_bits) {
        if (words == words_expected) return false;  // more words than the file has
        u32 word;
        if (bit_stream_read(&stream, 1)) {
            if (payload_bits - stream.total < 32) return false;
            word = (u32)bit_stream_read(&stream, 32);
        } else {
            if (payload_bits - stream.total < offset_bits) return false;
            u64 distance = offset_bits ? bit_stream_read(&stream, offset_bits) + 1 : 1;
            if (distance > words) return false;
            word = load_u32(output + 4 * (words - distance));
        }
        store_u32(output + 4 * words, word);
        words++;
    }
    if (words != words_expected) return false;
    *uncompressed_size = size;
    return true;
}
