#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/meow_hash.h"
#include "foundation_fixtures.h"

// Vectors computed by the published reference implementation of the hash.
static const char* VECTORS_PATH = QUARN_FOUNDATION_TEST_DATA "/meow_hash_vectors.tsv";

struct Meow_Vector {
    std::string input;  // the octets to hash
    u64 low;
    u64 high;
};

// Rows: "text:X" or "pattern", the length, low and high 64 bits in hexadecimal. A pattern
// is b[i] = (i * 31 + 7) mod 256.
static std::vector<Meow_Vector> read_vectors() {
    std::vector<Meow_Vector> vectors;
    std::ifstream file(VECTORS_PATH);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string input, length, low, high;
        std::getline(fields, input, '\t');
        std::getline(fields, length, '\t');
        std::getline(fields, low, '\t');
        std::getline(fields, high, '\t');
        Meow_Vector v;
        u64 n = std::stoull(length);
        if (input.rfind("text:", 0) == 0) {
            v.input = input.substr(5);
        } else {
            for (u64 i = 0; i < n; i++) v.input.push_back((char)((i * 31 + 7) % 256));
        }
        EXPECT_EQ(v.input.size(), n) << line;
        v.low = std::stoull(low, 0, 16);
        v.high = std::stoull(high, 0, 16);
        vectors.push_back(v);
    }
    return vectors;
}

TEST(Hash, EveryReferenceVectorAgainstUnreadablePages) {
    std::vector<Meow_Vector> vectors = read_vectors();
    ASSERT_GE(vectors.size(), 40u) << "no vectors read from " << VECTORS_PATH;
    Guarded_Pages pages = make_guarded_pages(2);
    ASSERT_NE(pages.mapping, nullptr);
    for (const Meow_Vector& v : vectors) {
        SCOPED_TRACE(std::to_string(v.input.size()) + " octets: " + v.input.substr(0, 20));
        for (int placement = 0; placement < 2; placement++) {
            u8* data = placement ? place_at_start(&pages, v.input.data(), v.input.size())
                                 : place_at_end(&pages, v.input.data(), v.input.size());
            Meow_Hash h = MeowHash(v.input.size(), data);
            EXPECT_EQ(h.low, v.low);
            EXPECT_EQ(h.high, v.high);
        }
    }
    free_guarded_pages(&pages);
    EXPECT_EQ(MeowHash(0, 0).low, 0x657ca02a5859c045ull);
}

TEST(Hash, SameOctetsAtAnyAlignmentAndEveryTailLength) {
    Guarded_Pages pages = make_guarded_pages(1);
    ASSERT_NE(pages.mapping, nullptr);
    std::vector<u8> bytes(600);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (u8)(i * 131 + 17);
    std::vector<u8> shifted(bytes.size() + 16);
    for (u64 n = 0; n <= 520; n++) {
        SCOPED_TRACE(n);
        Meow_Hash reference = MeowHash(n, bytes.data());
        Meow_Hash at_end = MeowHash(n, place_at_end(&pages, bytes.data(), n));
        memcpy(shifted.data() + 1 + n % 15, bytes.data(), n);
        Meow_Hash unaligned = MeowHash(n, shifted.data() + 1 + n % 15);
        ASSERT_EQ(at_end.low, reference.low);
        ASSERT_EQ(at_end.high, reference.high);
        ASSERT_EQ(unaligned.low, reference.low);
        if (n) {
            // One changed octet anywhere changes the key.
            std::vector<u8> changed(bytes.begin(), bytes.begin() + n);
            changed[n / 2] ^= 1;
            ASSERT_NE(MeowHash(n, changed.data()).low, reference.low);
        }
    }
    free_guarded_pages(&pages);
}
