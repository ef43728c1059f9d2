#include <gtest/gtest.h>

#include <string>

#include "foundation/strings.h"
#include "foundation/version.h"
#include "foundation_fixtures.h"

// The bytes right after the next temporary block, to see that formatting stays inside it.
static u8* next_tmp_block() { return tmp_get_slot()->memory + tmp_get_used(); }

TEST(Strings, PrintfStyleFormatting) {
    setup_foundation_memory();
    struct Case {
        const char* name;
        std::string expected;
        String result;
    };
    const std::string x40(40, 'x');
    const std::string x30(30, 'x');
    const std::string x29(29, 'x');
    const std::string x28(28, 'x');
    const char* byte_size = "%$$.2d";  // stb's own flag, unknown to the compiler's format check
    const Case cases[] = {
        {"thousands", "1,234,567 and -9,876", tstring("%'lld and %'d", 1234567ll, -9876)},
        {"byte size", "2.42 Mi", tstring(byte_size, 2536000)},
        {"string and unsigned", "a/7", tstring("%s/%u", "a", 7u)},
        {"big block", std::string(5000, 'y'), tstring_big("%s", std::string(5000, 'y').c_str())},
        {"cut ascii", std::string(31, 'x'), tstring_small("%s", x40.c_str())},
        {"cut before 2-octet", x30, tstring_small("%s\xC3\xA9", x30.c_str())},
        {"cut before 3-octet", x29, tstring_small("%s\xE2\x82\xAC", x29.c_str())},
        {"cut before 4-octet", x28, tstring_small("%s\xF0\x9F\x98\x80", x28.c_str())},
        {"3-octet fits", x28 + "\xE2\x82\xAC", tstring_small("%s\xE2\x82\xAC", x28.c_str())},
        {"cut 1,024", std::string(1023, 'z'), tstring("%s", std::string(1500, 'z').c_str())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(to_std(c.result), c.expected);
        EXPECT_EQ(c.result.data[c.result.count], 0);
    }
    tmp_reset();
}

TEST(Strings, FormattingStaysInsideItsBlock) {
    setup_foundation_memory();
    struct Case {
        const char* name;
        u64 block;
        b8 c_text;
    };
    static const Case cases[] = {{"tstring_small", 32, false}, {"tcstring_small", 64, true}, {"tstring", 1024, false},
                                 {"tcstring", 1024, true},     {"tstring_big", 10240, false}};
    const std::string long_text(20000, 'q');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tmp_reset();
        u8* block = next_tmp_block();
        memset(block, 0xAA, c.block + 64);
        u64 used = tmp_get_used();
        const char* text = 0;
        if (c.block == 32) text = (const char*)tstring_small("%s", long_text.c_str()).data;
        if (c.block == 64) text = tcstring_small("%s", long_text.c_str());
        if (c.block == 1024) text = c.c_text ? tcstring("%s", long_text.c_str()) : (const char*)tstring("%s", long_text.c_str()).data;
        if (c.block == 10240) text = (const char*)tstring_big("%s", long_text.c_str()).data;
        EXPECT_EQ((u8*)text, block);
        EXPECT_EQ(tmp_get_used() - used, c.block);
        EXPECT_EQ(strlen(text), c.block - 1);
        for (u64 i = c.block; i < c.block + 64; i++) ASSERT_EQ(block[i], 0xAA) << i;
    }

    // Two small blocks in a row lie 32 octets apart whatever the first text's length.
    String a = tstring_small("%d", 1);
    String b = tstring_small("%s", long_text.c_str());
    EXPECT_EQ(b.data - a.data, 32);

    u8 buffer[16];
    memset(buffer, 0xAA, sizeof(buffer));
    String s = {buffer, 0};
    write_into_string(&s, 8, "%s:%u", "name", 123456u);
    EXPECT_EQ(to_std(s), "name:12");
    EXPECT_EQ(buffer[7], 0);
    EXPECT_EQ(buffer[8], 0xAA);
    write_into_string(&s, 0, "%s", "nothing");
    EXPECT_EQ(s.count, 0);
    tmp_reset();
}

TEST(Strings, Concat2) {
    setup_foundation_memory();
    tmp_reset();
    struct Case {
        const char* name;
        std::string expected;
        String result;
        u64 used;
    };
    u64 before = tmp_get_used();
    String r1 = string_concat2("%/%", STR("a"), STR("b"));
    u64 u1 = tmp_get_used() - before;
    before = tmp_get_used();
    String r2 = string_concat2("no percent");
    u64 u2 = tmp_get_used() - before;
    before = tmp_get_used();
    String r3 = string_concat2("");
    u64 u3 = tmp_get_used() - before;
    before = tmp_get_used();
    String r4 = string_concat2("%%[%]", STR("x"), STR("yz"), String{});
    u64 u4 = tmp_get_used() - before;
    const Case cases[] = {
        {"two strings", "a/b", r1, u1},
        {"no percent", "no percent", r2, u2},
        {"empty format", "", r3, u3},
        {"adjacent and empty", "xyz[]", r4, u4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(to_std(c.result), c.expected);
        EXPECT_EQ(c.used, c.expected.size() + 1);
    }
    EXPECT_STREQ(to_tmp_c_string(STR("path/x")), "path/x");

    // A String with a negative count adds nothing, and the block still holds every octet
    // written: the next block starts behind the text's NUL place.
    String negative = {(u8*)"zz", -2};
    before = tmp_get_used();
    String joined = string_concat2("abcd%", negative);
    EXPECT_EQ(to_std(joined), "abcd");
    EXPECT_EQ(tmp_get_used() - before, 5u);
    EXPECT_GE(tmp_allocate(1), joined.data + joined.count + 1);
    tmp_reset();
}

TEST(Strings, StringToS64) {
    setup_foundation_memory();
    struct Case {
        const char* text;
        s64 expected;
    };
    static const Case cases[] = {
        {"1_000", 1000},
        {"1__000", 1000},
        {"-0x1F", -31},
        {"0x1f", 31},
        {"0b101", 5},
        {"+7", 7},
        {"-5", -5},
        {"", 0},
        {"0x", 0},
        {"0b", 0},
        {"-", 0},
        {"_", 0},
        {"0x_ff", 255},
        {"9223372036854775807", INT64_MAX},
        {"18446744073709551616", 0},  // 2^64 wraps
        {"0xFFFFFFFFFFFFFFFF", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(string_to_s64(String{(u8*)c.text, (s64)strlen(c.text)}), c.expected);
    }
    // Longer than the stack copy: the underscores still vanish and nothing is left behind.
    std::string long_literal = std::string(400, '_') + "42";
    u64 used = tmp_get_used();
    EXPECT_EQ(string_to_s64(test_string(long_literal)), 42);
    EXPECT_EQ(tmp_get_used(), used);
}

TEST(Strings, SmallHelpers) {
    setup_foundation_memory();
    struct Case {
        const char* text;
        b8 empty;
        s64 first_slash;  // -1 when there is none
    };
    static const Case cases[] = {
        {"", true, -1}, {" \t ", true, -1}, {" a", false, -1}, {"a/b/", false, 1}, {"/", false, 0}, {"\n", false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        u8* data = (u8*)c.text;
        s64 count = (s64)strlen(c.text);
        EXPECT_EQ(string_is_empty(data, count), c.empty);
        EXPECT_EQ(string_contains_character(data, (u32)count, '/'), c.first_slash >= 0);
        u8* first = get_first_character_in_string_like(data, count, '/');
        EXPECT_EQ(first ? first - data : -1, c.first_slash);
    }
    EXPECT_TRUE(string_is_empty(0, -3));
    EXPECT_EQ(get_first_character_in_string_like((u8*)"/", -1, '/'), nullptr);

    u8 memory[4];
    Gp_Allocation a = {memory, 4, 0, 0, 0};
    String s = gp_memory_to_string(a);
    EXPECT_EQ(s.data, memory);
    EXPECT_EQ(s.count, 4);
}

TEST(Strings, LowerCaseKeepsUtf8) {
    setup_foundation_memory();
    const std::string pattern = "AbZ@[`z\xC3\x89Q";  // "@", "[" and "`" border the letters; É stays
    for (size_t length : {0, 1, 31, 32, 33, 64, 65, 100}) {
        SCOPED_TRACE(length);
        std::string input;
        while (input.size() < length) input += pattern;
        input.resize(length);
        std::string expected = input;
        for (char& c : expected) {
            if (c >= 'A' && c <= 'Z') c = (char)(c | 0x20);
        }
        u64 used = tmp_get_used();
        String lower = string_to_lower_case(test_string(input));
        EXPECT_EQ(to_std(lower), expected);
        EXPECT_EQ(tmp_get_used() - used, length);
    }
    tmp_reset();
}

TEST(Strings, MoneyAndVersionText) {
    setup_foundation_memory();
    struct Case {
        const char* name;
        std::string expected;
        std::string result;
    };
    const Case cases[] = {
        {"millions", "$999M", to_std(money_to_string(999, false))},
        {"signed millions", "$+20M", to_std(money_to_string(20, true))},
        {"billions", "$1.5B", to_std(money_to_string(1500, false))},
        {"signed billions", "$+12.3B", to_std(money_to_string(12345, true))},
        {"negative by magnitude", "$-1.5B", to_std(money_to_string(-1500, false))},
        {"c text negative stays millions", "$-1,500M", money_to_c_string(-1500, false)},
        {"c text billions", "$2.0B", money_to_c_string(2000, false)},
        {"version", "0.3.2", to_std(version_to_string(EDITOR_VERSION))},
        {"version c text", "10.0.255", version_to_c_string(Version_Info{10, 0, 255})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result, c.expected);
    }
    String data = make_version_info_data(EDITOR_VERSION);
    ASSERT_EQ(data.count, 4);
    EXPECT_EQ(std::string((char*)data.data, 4), std::string("\x00\x03\x02\x00", 4));
    tmp_reset();
}

TEST(Strings, FullTemporaryMemoryGivesEmptyResults) {
    setup_foundation_memory();
    tmp_reset();
    u64 all = tmp_get_slot()->size;
    tmp_set_used(all - 8);
    EXPECT_EQ(tstring_small("%d", 1).data, nullptr);
    EXPECT_EQ(tcstring("%d", 1), nullptr);
    EXPECT_EQ(string_concat2("%/%", STR("abcd"), STR("efgh")).count, 0);
    EXPECT_EQ(to_tmp_c_string(STR("0123456789")), nullptr);
    EXPECT_EQ(tmp_get_used(), all - 8);
    tmp_reset();
}
