#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/sort.h"
#include "foundation/unicode.h"
#include "foundation_fixtures.h"
#include "tests/test_seed.h"

static std::vector<u32> decode_all(String s) {
    String_Utf32 u = utf8_to_utf32(s);
    return std::vector<u32>(u.data, u.data + u.count);
}

// Each case runs once from ordinary memory and once against an unreadable page, so a
// decoder that reads past a cut-off sequence faults.
TEST(Utf8, DecodingMalformedAndTruncatedText) {
    setup_foundation_memory();
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<u32> code_points;
    };
    const u32 R = UNICODE_REPLACEMENT_CHARACTER;
    const Case cases[] = {
        {"ascii", "Ab", {0x41, 0x62}},
        {"stray continuation", "\x41\x80\x42", {0x41, R, 0x42}},
        {"two octets", "\xC3\xA9", {0xE9}},
        {"three octets", "\xE2\x82\xAC", {0x20AC}},
        {"four octets", "\xF0\x9F\x98\x80", {0x1F600}},
        {"0xFF", "\xFF", {R}},
        {"cut 2-octet", "a\xC3", {0x61, R}},
        {"cut 3-octet", "\xE2\x82", {R, R}},
        {"cut 4-octet", "\xF0\x9F\x98", {R, R, R}},
        {"highest lead bits", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
        {"empty", "", {}},
        {"lead followed by a letter", "\xC3\x41", {R, 0x41}},
        {"3-octet lead, one continuation, a letter", "\xE2\x82\x41", {R, R, 0x41}},
        {"4-octet lead followed by a lead", "\xF0\xC3\xA9", {R, 0xE9}},
        {"overlong 0 in two octets", "\xC0\x80", {R, R}},
        {"overlong 0 in three octets", "\xE0\x80\x80", {R, R, R}},
        {"overlong 0 in four octets", "\xF0\x80\x80\x80", {R, R, R, R}},
        {"overlong slash", "\xC1\xAF", {R, R}},
        {"surrogate", "\xED\xA0\x80", {R, R, R}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
        {"lead F5", "\xF5\x80\x80\x80", {R, R, R, R}},
        {"a 0 octet stays", std::string("a\0b", 3), {0x61, 0, 0x62}},
    };
    Guarded_Pages pages = make_guarded_pages(1);
    ASSERT_NE(pages.mapping, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int placement = 0; placement < 2; placement++) {
            u8* data = placement ? place_at_end(&pages, c.bytes.data(), c.bytes.size()) : (u8*)c.bytes.data();
            String s = {data, (s64)c.bytes.size()};
            EXPECT_EQ(decode_all(s), c.code_points);
            EXPECT_EQ(utf8_get_num_characters(s), c.code_points.size());
            EXPECT_EQ(utf8_string_get_offset_at(s, 1000), c.bytes.size());
            EXPECT_EQ(get_utf8_sub_string(data, c.bytes.size(), 1000), data + c.bytes.size());
            String_Utf16 units = utf8_to_utf16(s);
            EXPECT_EQ(units.data[units.count], 0);
            // A 0 unit comes only from a 0 octet.
            EXPECT_EQ(std::count(units.data, units.data + units.count, 0), std::count(c.bytes.begin(), c.bytes.end(), 0));
            EXPECT_FALSE(string_sort_by_unicode_order_asc(s, s));  // and reads nothing past the end
            u8* end = data + c.bytes.size();
            u64 steps = 0;
            for (u8* p = data; p < end; p = utf8_get_next_character(p, end)) steps++;
            EXPECT_EQ(steps, c.code_points.size());
        }
    }
    free_guarded_pages(&pages);
    tmp_reset();
}

TEST(Utf8, SteppingAndOffsets) {
    setup_foundation_memory();
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
    u8* start = (u8*)text.data();
    u8* end = start + text.size();
    String s = {start, (s64)text.size()};
    struct Case {
        u32 n;
        u64 offset;
    };
    static const Case offsets[] = {{0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 11}, {6, 11}};
    for (const Case& c : offsets) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(utf8_string_get_offset_at(s, c.n), c.offset);
        EXPECT_EQ(get_utf8_sub_string(start, text.size(), (s32)c.n), start + c.offset);
    }
    EXPECT_EQ(get_utf8_sub_string(start, text.size(), -2), start);
    EXPECT_EQ(utf8_get_num_characters(s), 5u);

    EXPECT_EQ(utf8_get_previous_character(start, start), start);
    EXPECT_EQ(utf8_get_previous_character(start + 10, start), start + 6);
    EXPECT_EQ(utf8_get_previous_character(start + 3, start), start + 1);
    EXPECT_EQ(utf8_get_next_character(end, end), end);
    EXPECT_EQ(utf8_get_next_character(start + 6, end), start + 10);

    u8 size = 0;
    EXPECT_EQ(utf8_to_utf32_codepoint_and_size(start + 3, &size), 0x20ACu);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(utf8_to_utf32_codepoint(start + 6), 0x1F600u);
    EXPECT_EQ(get_utf8_char_size(start + 6), 4u);
    EXPECT_EQ(get_utf8_char_size_in(start + 6, start + 8), 1u);
    EXPECT_EQ(get_utf8_char_size_in(end, end), 0u);
}

TEST(Utf8, CutLength) {
    struct Case {
        const char* name;
        std::string bytes;
        s64 expected;
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"ascii", "abc", 3},
        {"whole 2-octet", "a\xC3\xA9", 3},
        {"half 2-octet", "a\xC3", 1},
        {"two thirds of 3-octet", "a\xE2\x82", 1},
        {"three quarters of 4-octet", "\xF0\x9F\x98", 0},
        {"whole 4-octet", "\xF0\x9F\x98\x80", 4},
        {"stray continuations kept", "\x80\x80\x80\x80\x80", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8_cut_length((u8*)c.bytes.data(), (s64)c.bytes.size()), c.expected);
    }
}

TEST(Utf16, SurrogatesAndLoneUnits) {
    setup_foundation_memory();
    struct Case {
        const char* name;
        std::vector<u16> units;
        std::string utf8;
    };
    const Case cases[] = {
        {"pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {"bmp", {0x41, 0xE9, 0x20AC}, "A\xC3\xA9\xE2\x82\xAC"},
        {"lone high at end", {0x41, 0xD83D}, "A\xEF\xBF\xBD"},
        {"high then letter", {0xD83D, 0x41}, "\xEF\xBF\xBD" "A"},
        {"lone low", {0xDC00, 0x41}, "\xEF\xBF\xBD" "A"},
        {"empty", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u16> units = c.units;
        String_Utf16 s = {units.data(), units.size()};
        EXPECT_EQ(to_std(utf16_to_utf8(s)), c.utf8);
        EXPECT_STREQ(utf16_to_c_string(s), c.utf8.c_str());
        u16* copy = copy_as_c_string_utf16(s);
        EXPECT_EQ(get_utf16_c_string_size(copy), units.size());
        EXPECT_EQ(to_std(from_c_tstring_utf16(copy)), c.utf8);
    }

    String_Utf16 emoji = utf8_to_utf16(STR("\xF0\x9F\x98\x80"));
    ASSERT_EQ(emoji.count, 2u);
    EXPECT_EQ(emoji.data[0], 0xD83D);
    EXPECT_EQ(emoji.data[1], 0xDE00);
    EXPECT_EQ(utf16_to_utf32_codepoint(0xDE00D83Du), 0x1F600u);
    EXPECT_EQ(utf16_to_utf32_codepoint(0x0041D83Du), (u32)UNICODE_REPLACEMENT_CHARACTER);
    EXPECT_EQ(utf16_to_utf32_codepoint(0xDE000041u), 0x41u);

    u16* c_text = string_to_utf16_c_string(STR("ab"));
    String_Utf16 view = get_utf16_c_string_view(c_text);
    EXPECT_EQ(view.count, 2u);
    String_Utf16 joined = tconcat_utf16(view, emoji);
    EXPECT_EQ(to_std(utf16_to_utf8(joined)), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(joined.data[joined.count], 0);

    u16 room[4];
    String_Utf16 grown = {room, 0};
    string_add_utf16(&grown, 'h');
    string_add_utf16(&grown, 'i');
    EXPECT_EQ(to_std(utf16_to_utf8(grown)), "hi");
    tmp_reset();
}

TEST(Unicode, RoundTripsOfEveryKindOfScalar) {
    setup_foundation_memory();
    u32 seed = (u32)test_seed(7);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    std::vector<u32> scalars = {0, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF};
    while (scalars.size() < 2000) {
        u32 cp = random() % 0x110000;
        if (cp < 0xD800 || cp > 0xDFFF) scalars.push_back(cp);
    }
    std::string utf8;
    for (u32 cp : scalars) {
        u64 saved = tmp_get_used();
        String one = codepoint_to_string(cp);
        utf8 += to_std(one);
        tmp_set_used(saved);
    }
    String s = test_string(utf8);
    EXPECT_EQ(decode_all(s), scalars);
    EXPECT_EQ(to_std(utf16_to_utf8(utf8_to_utf16(s))), utf8);

    u8 buffer[8] = {};
    String grown = {buffer, 0};
    string_add_codepoint(&grown, 0xE9);
    string_add_codepoint(&grown, 0x1F600);
    EXPECT_EQ(to_std(grown), "\xC3\xA9\xF0\x9F\x98\x80");

    // Beyond U+10FFFF there is no UTF-8: the replacement character stands in.
    u8 out[4];
    EXPECT_EQ(utf32_to_utf8_codepoint(0x110000, out) - out, 3);
    EXPECT_EQ(std::string((char*)out, 3), "\xEF\xBF\xBD");
    tmp_reset();
}

TEST(Unicode, Utf32DigitsToS64) {
    const u32 digits[] = {'1', '2', '0', '4'};
    EXPECT_EQ(utf32_text_to_s64((u32*)digits, 4), 1204u);
    EXPECT_EQ(utf32_text_to_s64((u32*)digits, 0), 0u);
    const u32 wide[] = {0x100 + '7'};  // narrowed to its low byte
    EXPECT_EQ(utf32_text_to_s64((u32*)wide, 1), 7u);
}

static b8 natural_less(void* a, void* b) { return string_sort_by_unicode_order_asc(*(String*)a, *(String*)b); }

TEST(NaturalOrder, Pairs) {
    setup_foundation_memory();
    struct Case {
        const char* a;
        const char* b;
        b8 a_before_b;
        b8 b_before_a;
    };
    static const Case cases[] = {
        {"file2", "file10", true, false},
        {"a", "b", true, false},
        {"file", "file1", true, false},
        {"x", "x", false, false},
        {"", "", false, false},
        {"", "a", true, false},
        {"file01", "file1", false, false},  // equal numbers, equal rest
        {"file01a", "file1b", true, false},
        {"B", "a", true, false},  // code point order, no case folding
        {"z", "\xC3\xA9", true, false},
        {"v1.10", "v1.9", false, true},
        {"f99999999999999999999", "f100000000000000000000", true, false},  // past 64 bits
        {"f18446744073709551617", "f2", false, true},  // would wrap to 1
        {"9", "a", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        String a = {(u8*)c.a, (s64)strlen(c.a)};
        String b = {(u8*)c.b, (s64)strlen(c.b)};
        u64 used = tmp_get_used();
        EXPECT_EQ(string_sort_by_unicode_order_asc(a, b), c.a_before_b);
        EXPECT_EQ(string_sort_by_unicode_order_asc(b, a), c.b_before_a);
        EXPECT_EQ(tmp_get_used(), used);
    }
}

TEST(NaturalOrder, SortedNamesAreConsistent) {
    setup_foundation_memory();
    u32 seed = (u32)test_seed(11);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* stems[] = {"file", "File", "img", "a", "", "\xC3\xA9t\xC3\xA9"};
    std::vector<std::string> names;
    for (int i = 0; i < 300; i++) {
        std::string name = stems[random() % 6];
        int parts = 1 + random() % 3;
        for (int p = 0; p < parts; p++) {
            name += std::to_string(random() % 120);
            if (random() % 2) name += (char)('a' + random() % 3);
        }
        names.push_back(name);
    }
    std::vector<String> strings;
    for (const std::string& n : names) strings.push_back(test_string(n));
    general_quick_sort(strings.data(), (u32)strings.size(), sizeof(String), natural_less);
    for (size_t i = 0; i + 1 < strings.size(); i++) {
        ASSERT_FALSE(natural_less(&strings[i + 1], &strings[i])) << to_std(strings[i]) << " / " << to_std(strings[i + 1]);
    }
    // Transitivity over a sample of triples.
    for (int t = 0; t < 3000; t++) {
        String* x = &strings[random() % strings.size()];
        String* y = &strings[random() % strings.size()];
        String* z = &strings[random() % strings.size()];
        if (natural_less(x, y) && natural_less(y, z)) {
            ASSERT_TRUE(natural_less(x, z));
        }
    }
}
