#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "tests/test_seed.h"
#include "tests/updater/updater_test_support.h"

static Bytes compress(const Bytes& input, u8 bits) {
    Bytes block(lz_block_bound((u32)input.size()));
    u32 size = lz_compress(input.data(), block.data(), (u32)input.size(), bits);
    block.resize(size);
    return block;
}

// Decodes from an exactly sized copy of the block into an exactly sized output, so the
// sanitizer catches any access outside either.
static bool decompress(const Bytes& block, u64 capacity, Bytes* out) {
    std::unique_ptr<u8[]> in(new u8[block.size() ? block.size() : 1]);
    memcpy(in.get(), block.data(), block.size());
    std::unique_ptr<u8[]> output(new u8[capacity ? capacity : 1]);
    u32 size = 0;
    bool ok = lz_decompress(in.get(), block.size(), output.get(), capacity, &size);
    if (ok && out) out->assign(output.get(), output.get() + size);
    return ok;
}

static u64 padded(u64 size) { return (size + 3) & ~3ull; }

// The block as the format describes it, item by item, with the window scanned word by
// word: the oracle for the compressor's match table.
static Bytes reference_block(const Bytes& input, u32 bits) {
    Bytes padded_input(input);
    padded_input.resize(padded(input.size()), 0);
    u64 words = padded_input.size() / 4;
    auto word = [&](u64 i) { u32 w; memcpy(&w, &padded_input[i * 4], 4); return w; };
    std::vector<bool> stream;
    auto put = [&](u64 value, u32 n) { for (u32 b = 0; b < n; b++) stream.push_back((value >> b) & 1); };
    for (u64 i = 0; i < words; i++) {
        u64 found = 0;
        for (u64 d = 1; d <= (1ull << bits) && d <= i; d++) {
            if (word(i - d) == word(i)) { found = d; break; }
        }
        if (found) { put(0, 1); put(found - 1, bits); }
        else { put(1, 1); put(word(i), 32); }
    }
    Bytes block(9 + 8 * ((stream.size() + 63) / 64), 0);
    u32 payload = (u32)stream.size(), size = (u32)input.size();
    memcpy(&block[0], &payload, 4);
    memcpy(&block[4], &size, 4);
    block[8] = (u8)bits;
    for (size_t b = 0; b < stream.size(); b++) if (stream[b]) block[9 + b / 8] |= (u8)(1 << (b % 8));
    return block;
}

TEST(LzBlock, WorkedExamples) {
    struct Case {
        const char* name;
        Bytes input;
        u8 bits;
        Bytes block;
    };
    static const Case cases[] = {
        {"sixteen zero bytes", Bytes(16, 0), 2,
         {0x2a, 0, 0, 0, 0x10, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0}},
        {"abcd four times", text_bytes("abcdabcdabcdabcd"), 2,
         {0x2a, 0, 0, 0, 0x10, 0, 0, 0, 0x02, 0xc3, 0xc4, 0xc6, 0xc8, 0, 0, 0, 0}},
        {"empty file", Bytes(), 2, {0, 0, 0, 0, 0, 0, 0, 0, 0x02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compress(c.input, c.bits), c.block);
        Bytes decoded;
        ASSERT_TRUE(decompress(c.block, padded(c.input.size()), &decoded));
        EXPECT_EQ(decoded, c.input);
    }
}

TEST(LzBlock, FiveBytesArePaddedToTwoLiterals) {
    Bytes input = text_bytes("hello");
    Bytes block = compress(input, 4);
    ASSERT_EQ(block.size(), 25u);
    u32 payload;
    memcpy(&payload, block.data(), 4);
    EXPECT_EQ(payload, 66u);
    Bytes decoded;
    ASSERT_TRUE(decompress(block, 8, &decoded));
    EXPECT_EQ(decoded, input);
}

TEST(LzBlock, ZeroOffsetBitsMatchOnlyThePreviousWord) {
    // A A B A: the last A is two words back, out of a one-word window.
    Bytes input = text_bytes("AAAAAAAABBBBAAAA");
    Bytes block = compress(input, 0);
    u32 payload;
    memcpy(&payload, block.data(), 4);
    EXPECT_EQ(payload, 33u + 1 + 33 + 33);
    EXPECT_EQ(block, reference_block(input, 0));
    Bytes decoded;
    ASSERT_TRUE(decompress(block, 16, &decoded));
    EXPECT_EQ(decoded, input);
}

static Bytes random_bytes(std::mt19937& random, size_t size, u32 alphabet) {
    Bytes bytes(size);
    for (u8& b : bytes) b = (u8)(random() % alphabet);
    return bytes;
}

// Words drawn from a few values, so matches land at every distance.
static Bytes repetitive_bytes(std::mt19937& random, size_t size) {
    static const char* const words[] = {"int ", "x = ", "0;\n ", "    ", "abcd"};
    Bytes bytes;
    while (bytes.size() < size) {
        const char* w = words[random() % 5];
        bytes.insert(bytes.end(), w, w + 4);
    }
    bytes.resize(size);
    return bytes;
}

TEST(LzBlock, RoundTripsAndMatchesTheWindowScan) {
    u32 seed = (u32)test_seed(7);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    for (u32 bits = 0; bits <= 16; bits++) {
        for (size_t size : {1, 3, 4, 5, 63, 64, 257, 1000, 4099}) {
            SCOPED_TRACE(testing::Message() << "bits " << bits << " size " << size);
            for (const Bytes& input : {random_bytes(random, size, 256), random_bytes(random, size, 2),
                                       repetitive_bytes(random, size)}) {
                Bytes block = compress(input, (u8)bits);
                ASSERT_EQ(block, reference_block(input, bits));
                Bytes decoded;
                ASSERT_TRUE(decompress(block, padded(input.size()), &decoded));
                ASSERT_EQ(decoded, input);
            }
        }
    }
}

TEST(LzBlock, TryingOffsetBitsKeepsTheSmallestBlock) {
    u32 seed = (u32)test_seed(11);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    struct Case {
        const char* name;
        Bytes input;
        u8 first, last;
    };
    const Case cases[] = {
        {"repetitive", repetitive_bytes(random, 5000), 2, 16},
        {"two symbols", random_bytes(random, 3000, 2), 0, 12},
        {"incompressible keeps the first bits", random_bytes(random, 2000, 256), 2, 16},
        {"empty", Bytes(), 2, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        u64 best_size = c.input.size();
        u32 best_bits = c.first;
        for (u32 bits = c.first; bits <= c.last; bits++) {
            u64 size = compress(c.input, (u8)bits).size();
            if (size < best_size) { best_size = size; best_bits = bits; }
        }
        Bytes block(lz_block_bound((u32)c.input.size()));
        u32 size = lz_compress_trying_different_sizes_per_offset(c.input.data(), block.data(), (u32)c.input.size(),
                                                                 c.first, c.last);
        block.resize(size);
        EXPECT_EQ(block, compress(c.input, (u8)best_bits));
        EXPECT_EQ(block[8], best_bits);
    }
}

TEST(LzBlock, OffsetBitsAboveTheLimitAreRefused) {
    Bytes input(64, 1);
    Bytes block(lz_block_bound(64));
    EXPECT_EQ(lz_compress(input.data(), block.data(), 64, LZ_MAX_OFFSET_BITS + 1), 0u);
    EXPECT_EQ(lz_compress_trying_different_sizes_per_offset(input.data(), block.data(), 64, 2, 200), 0u);
    EXPECT_NE(lz_compress(input.data(), block.data(), 64, LZ_MAX_OFFSET_BITS), 0u);
}

TEST(BitStream, FieldsStraddleWords) {
    u32 seed = (u32)test_seed(3);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937_64 random(seed);
    std::vector<std::pair<u64, u32>> fields;
    for (int i = 0; i < 500; i++) {
        u32 n = 1 + (u32)(random() % 63);
        fields.push_back({random() & ((1ull << n) - 1), n});
    }
    Bytes words(8 * 600, 0);
    Bit_Stream writer;
    make_bit_stream(&writer, words.data(), false);
    u64 total = 0;
    for (auto& f : fields) { bit_stream_write(&writer, f.first, f.second); total += f.second; }
    bit_stream_flush(&writer);
    EXPECT_EQ(writer.total, total);
    EXPECT_EQ((u64)(writer.cursor - words.data()), 8 * ((total + 63) / 64));

    Bit_Stream reader;
    make_bit_stream(&reader, words.data(), true);
    for (auto& f : fields) ASSERT_EQ(bit_stream_read(&reader, f.second), f.first) << f.second;
    EXPECT_EQ(reader.total, total);
}

static Bytes block_of(u32 payload, u32 size, u8 bits, std::initializer_list<u64> words) {
    Bytes block(9, 0);
    memcpy(&block[0], &payload, 4);
    memcpy(&block[4], &size, 4);
    block[8] = bits;
    for (u64 w : words) {
        u8 raw[8];
        memcpy(raw, &w, 8);
        block.insert(block.end(), raw, raw + 8);
    }
    return block;
}

TEST(LzBlock, CorruptBlocksFail) {
    // One literal of 0x11223344 is the word 0x22446689 (flag bit 1 below the value).
    const u64 literal = (0x11223344ull << 1) | 1;
    struct Case {
        const char* name;
        Bytes block;
        u64 capacity;
    };
    const Case cases[] = {
        {"an 8-byte block", Bytes(8, 0), 16},
        {"payload ending inside an item", block_of(20, 4, 2, {literal}), 4},
        {"payload past the block", block_of(65, 8, 2, {literal}), 8},
        {"a match before the output's start", block_of(3, 4, 2, {0}), 4},
        {"a match reaching too far back", block_of(33 + 3, 8, 2, {literal | (0b010ull << 33)}), 8},
        {"more words than the file has", block_of(66, 4, 2, {literal | (literal << 33), literal >> 31}), 8},
        {"fewer words than the file has", block_of(33, 8, 2, {literal}), 8},
        {"output smaller than the file", block_of(33, 4, 2, {literal}), 3},
        {"offset bits past the limit", block_of(33, 4, 40, {literal}), 4},
        {"no payload for a non-empty file", block_of(0, 4, 2, {}), 4},
        {"a huge size with a tiny payload", block_of(1, 0xFFFFFFFF, 0, {0}), 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decompress(c.block, c.capacity, nullptr));
    }
    Bytes decoded;
    ASSERT_TRUE(decompress(block_of(33, 4, 2, {literal}), 4, &decoded));
    EXPECT_EQ(decoded, Bytes({0x44, 0x33, 0x22, 0x11}));
}

// The format read one bit at a time, kept apart from the decoder's word stream: the judge of
// a mutated block. True, with the file's bytes, only when the block holds its whole payload,
// its items fill the payload exactly, every match reaches back inside what came before, and
// the words are those of its size and fit the capacity.
static bool reference_decode(const Bytes& block, u64 capacity, Bytes* out) {
    if (block.size() < LZ_BLOCK_HEADER_SIZE) return false;
    u32 payload, size;
    memcpy(&payload, &block[0], 4);
    memcpy(&size, &block[4], 4);
    u32 bits = block[8];
    u64 words_of_size = ((u64)size + 3) / 4;
    if (bits > LZ_MAX_OFFSET_BITS || 4 * words_of_size > capacity) return false;
    if (LZ_BLOCK_HEADER_SIZE + 8 * (((u64)payload + 63) / 64) > block.size()) return false;
    u64 at = 0;
    auto field = [&](u32 n) {
        u64 value = 0;
        for (u32 i = 0; i < n; i++, at++) value |= (u64)((block[LZ_BLOCK_HEADER_SIZE + at / 8] >> (at % 8)) & 1) << i;
        return value;
    };
    std::vector<u32> words;
    while (at < payload) {
        bool literal = field(1);
        u32 width = literal ? 32 : bits;
        if (payload - at < width) return false;
        u64 value = field(width);
        if (literal) {
            words.push_back((u32)value);
        } else {
            if (value + 1 > words.size()) return false;
            words.push_back(words[words.size() - 1 - value]);
        }
    }
    if (words.size() != words_of_size) return false;
    out->clear();
    for (u32 w : words) for (int b = 0; b < 4; b++) out->push_back((u8)(w >> (8 * b)));
    out->resize(size);
    return true;
}

// Random mutations of good blocks, decoded from exactly sized buffers (the sanitizers catch
// any access outside them): each is refused or decoded exactly as the bit-by-bit reading
// has it.
TEST(LzBlock, MutatedBlocksDecodeAsTheFormatSaysOrFail) {
    u32 seed = (u32)test_seed(2024);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    std::vector<Bytes> good;
    for (u32 bits : {0u, 2u, 5u, 16u}) {
        good.push_back(compress(repetitive_bytes(random, 300), (u8)bits));
        good.push_back(compress(random_bytes(random, 100, 3), (u8)bits));
    }
    u32 decoded_count = 0;
    for (int round = 0; round < 30000; round++) {
        Bytes block = good[random() % good.size()];
        u32 edits = 1 + random() % 4;
        for (u32 e = 0; e < edits; e++) {
            switch (random() % 4) {
                case 0: block[random() % block.size()] ^= (u8)(1 << (random() % 8)); break;
                case 1: block[random() % block.size()] = (u8)random(); break;
                case 2: block.resize(random() % (block.size() + 1)); break;
                case 3: block[random() % std::min<size_t>(block.size(), 9)] = (u8)random(); break;
            }
            if (block.empty()) break;
        }
        u32 declared = block.size() >= 8 ? (u32)(block[4] | block[5] << 8 | block[6] << 16 | (u32)block[7] << 24) : 0;
        u64 capacity = std::min<u64>(padded(declared), 1 << 16);
        Bytes decoded, expected;
        bool ok = decompress(block, capacity, &decoded);
        ASSERT_EQ(ok, reference_decode(block, capacity, &expected)) << "round " << round;
        if (ok) ASSERT_EQ(decoded, expected) << "round " << round;
        decoded_count += ok;
    }
    EXPECT_GT(decoded_count, 0u) << "no mutation left a block that decodes";
    EXPECT_LT(decoded_count, 30000u) << "no mutation was refused";
}
