#include "terminal_test_support.h"
#include "tests/test_seed.h"

#include <random>

#define E "\x1b"
static const std::string W = " fg=1,1,1 bg=0,0,0 d=1";  // a run in the theme's colour

static std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

struct Stream_Case {
    std::string name;
    std::string bytes;
    std::string tokens;
    u32 lines;
};

static std::vector<Stream_Case> stream_cases() {
    std::string long_sequence = E "[" + std::string(300, '1') + "m";
    std::string long_command = E "]0;" + std::string(5000, 't') + "\x07";
    return {
        {"carriage return and line feed make one break", "a\r\nb\n", "T\"a\"" + W + " | N2 | T\"b\"" + W + " | N1", 3},
        {"a lone carriage return is a break", "a\rb", "T\"a\"" + W + " | N1 | T\"b\"" + W, 2},
        {"red, then the reset", E "[31mred" E "[0mx",
         "T\"red\" fg=0.5,0,0 bg=0,0,0 d=0 | T\"x\"" + W, 1},
        {"every parameter applies: bold then red", E "[1;31mred", "T\"red\" fg=0.5,0,0 bg=0,0,0 d=0", 1},
        {"reset then green in one sequence", E "[31m" E "[0;92mg", "T\"g\" fg=0,1,0 bg=0,0,0 d=0", 1},
        {"no parameter resets", E "[31m" E "[mx", "T\"x\"" + W, 1},
        {"256 colours", E "[38;5;196mx", "T\"x\" fg=0.833,0,0 bg=0,0,0 d=0", 1},
        {"256 colours, the greys", E "[38;5;255mx", "T\"x\" fg=0.958,0.958,0.958 bg=0,0,0 d=0", 1},
        {"true colour", E "[38;2;255;128;0mx", "T\"x\" fg=1,0.502,0 bg=0,0,0 d=0", 1},
        {"a row past the table is ignored", E "[38;5;300mx", "T\"x\"" + W, 1},
        {"true colour parts clamp", E "[38;2;999;0;0mx", "T\"x\" fg=1,0,0 bg=0,0,0 d=0", 1},
        {"38 with another kind is white", E "[31m" E "[38;7mx", "T\"x\" fg=1,1,1 bg=0,0,0 d=0", 1},
        {"38 takes its parameters, what follows applies", E "[38;5;2;41mx", "T\"x\" fg=0,0.5,0 bg=0.5,0,0 d=0", 1},
        {"backgrounds keep the default colour", E "[44mx" E "[104my" E "[48;2;0;0;255mz",
         "T\"x\" fg=1,1,1 bg=0,0,0.5 d=1 | T\"y\" fg=1,1,1 bg=0,0,1 d=1 | T\"z\" fg=1,1,1 bg=0,0,1 d=1", 1},
        {"bright foregrounds", E "[90mx" E "[97my",
         "T\"x\" fg=0.3,0.3,0.3 bg=0,0,0 d=0 | T\"y\" fg=1,1,1 bg=0,0,0 d=0", 1},
        {"a title ended by BEL leaves no trace", "a" E "]0;title\x07" "b", "T\"a\"" + W + " | T\"b\"" + W, 1},
        {"a title ended by ESC backslash", E "]2;t\x1b\\b", "T\"b\"" + W, 1},
        {"rows down to row 5 of 2", "a\n" E "[5;1Hb", "T\"a\"" + W + " | N1 | N0 | N0 | N0 | T\"b\"" + W, 5},
        {"a row above the last adds nothing", "a\nb\n" E "[2;1Hc",
         "T\"a\"" + W + " | N1 | T\"b\"" + W + " | N1 | T\"c\"" + W, 3},
        {"one parameter is no position", E "[5Hx", "T\"x\"" + W, 1},
        {"a huge row adds at most 1,000 breaks", E "[999999999;1Hx", repeat("N0 | ", 1000) + "T\"x\"" + W, 1001},
        {"a sequence ends at any final byte", E "[200~hello" E "[201~", "T\"hello\"" + W, 1},
        {"private modes are consumed", E "[?25lx" E "[?1049h", "T\"x\"" + W, 1},
        {"a byte outside the grammar aborts and is output", E "[12\nx", "N1 | T\"x\"" + W, 2},
        {"character sets, saved cursor, keypad", E "(B" E "7" E "8" E "=" E ">" E "Mx", "T\"x\"" + W, 1},
        {"another byte after ESC is output", E "cx", "T\"cx\"" + W, 1},
        {"a NUL ends a run and shows nothing", std::string("a\0b", 3), "T\"a\"" + W + " | T\"b\"" + W, 1},
        {"control characters are text", "a\tb\x07", "T\"a\tb\x07\"" + W, 1},
        {"a control sequence over 256 octets is dropped", long_sequence,
         "T\"" + std::string(46, '1') + "m\"" + W, 1},
        {"an operating-system command over 4 KiB is dropped", long_command,
         "T\"" + long_command.substr(TERMINAL_MAX_OS_COMMAND) + "\"" + W, 1},
    };
}

TEST(TerminalEscapes, BytesBecomeRunsColoursAndLines) {
    fill_terminal_big_colour_table();
    std::vector<Stream_Case> cases = stream_cases();
    for (const Stream_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Block b;
        b.feed(c.bytes);
        EXPECT_EQ(describe_tokens(&b.block), c.tokens);
        EXPECT_EQ(b.block.line_count, c.lines);
        EXPECT_EQ(b.block.parse_position, b.block.text.count);
    }
}

TEST(TerminalEscapes, AResetLeavesTheDefaultColourForWhatFollows) {
    Test_Block b;
    b.feed(E "[31mred" E "[0m");
    EXPECT_EQ(b.block.default_colour, 1);
    EXPECT_EQ(describe_colour(b.block.foreground), "1,1,1");
    b.feed(E "[32m");
    EXPECT_EQ(b.block.default_colour, 0);
}

TEST(TerminalEscapes, TheColourTables) {
    fill_terminal_big_colour_table();
    struct Row {
        u32 index;
        const char* colour;
    };
    static const Row rows[] = {
        {0, "0,0,0"},       {1, "0.5,0,0"},     {7, "0.5,0.5,0.5"}, {8, "0.3,0.3,0.3"},   {9, "1,0,0"},
        {15, "1,1,1"},      {16, "0,0,0"},      {21, "0,0,0.833"},  {196, "0.833,0,0"}, {231, "0.833,0.833,0.833"},
        {232, "0,0,0"},     {255, "0.958,0.958,0.958"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(describe_colour(terminal_big_colour_table[r.index]), r.colour) << r.index;
        EXPECT_EQ(terminal_big_colour_table[r.index].a, 1.0f);
    }
}

static std::string tokens_after_split(const std::vector<std::string>& pieces) {
    Test_Block b;
    for (const std::string& p : pieces) b.feed(p);
    return describe_tokens(&b.block) + " / lines " + std::to_string(b.block.line_count);
}

// Reads end anywhere, also inside a sequence or between CR and LF.
TEST(TerminalEscapes, EveryStreamSplitAtEveryPositionGivesWhatItGivesWhole) {
    fill_terminal_big_colour_table();
    std::vector<std::string> streams = {
        "a\r\nb\n" E "[1;31mred" E "[0m" E "]0;title\x07" E "[38;2;255;128;0mx" E "[5;1H" E "[200~y\r",
        E "[48;5;21m\r\n\r\n" E "]8;;http://x" E "\\z" E "(0q" E "[999999999;2H" E "[38;5;300m" E "[12\nw" E,
    };
    for (const Stream_Case& c : stream_cases()) {
        if (c.bytes.size() < 400) streams.push_back(c.bytes);
    }
    for (const std::string& s : streams) {
        std::string whole = tokens_after_split({s});
        for (size_t at = 0; at <= s.size(); at++) {
            ASSERT_EQ(tokens_after_split({s.substr(0, at), s.substr(at)}), whole) << "split at " << at << " of " << s;
        }
    }
}

// Seeded random streams of the bytes the parser cares about, fed in random pieces: nothing
// may read or write out of bounds (the sanitizers watch), the tokens must stay consistent
// and bounded, and they must equal those of the whole stream.
TEST(TerminalEscapes, SeededStreamsInRandomPiecesStayBoundedAndConsistent) {
    fill_terminal_big_colour_table();
    static const char alphabet[] = "\x1b\x1b\x1b[[[]]];;;;0123456789mmHH(\x07\\?~ \r\n\n\0abc\x7f\x80\xff";
    const u32 seed_count = 3000;
    u32 base = (u32)test_seed(1);
    for (u32 seed = base; seed - base < seed_count; seed++) {
        SCOPED_TRACE(test_seed_text(seed));
        std::mt19937 random(seed);
        std::string stream;
        u32 length = random() % 2048;
        for (u32 i = 0; i < length; i++) {
            stream.push_back(random() % 16 == 0 ? (char)(random() % 256) : alphabet[random() % (sizeof(alphabet) - 1)]);
        }
        std::vector<std::string> pieces;
        for (size_t at = 0; at < stream.size();) {
            size_t n = 1 + random() % 64;
            pieces.push_back(stream.substr(at, n));
            at += n;
        }

        Test_Block b;
        u32 positions = 0;  // cursor-position sequences may add up to 1,000 breaks each
        for (char c : stream) positions += c == 'H';
        for (const std::string& p : pieces) b.feed(p);
        Terminal_Token* tokens = (Terminal_Token*)b.block.tokens.data;
        u32 breaks = 0;
        b8 consistent = b.block.parse_position <= b.block.text.count;
        for (u32 i = 0; i < b.block.tokens.count; i++) {
            consistent = consistent && tokens[i].offset + tokens[i].length <= b.block.parse_position;
            consistent = consistent && (i == 0 || tokens[i].offset >= tokens[i - 1].offset + tokens[i - 1].length);
            breaks += tokens[i].kind == TERMINAL_TOKEN_NEW_LINE;
        }
        ASSERT_TRUE(consistent) << "seed " << seed;
        ASSERT_EQ(b.block.line_count, breaks + 1) << "seed " << seed;
        ASSERT_LE(b.block.tokens.count, b.block.text.count + positions * TERMINAL_MAX_BREAKS_PER_POSITION) << "seed " << seed;
        ASSERT_EQ(tokens_after_split(pieces), tokens_after_split({stream})) << "seed " << seed;
    }
}
