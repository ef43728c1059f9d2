// Colour chunks, checked through the colour that the view's walk gives each character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"

namespace {

// Colours by letter: R, G and B.
Rgba colour_of(char letter) {
    switch (letter) {
        case 'R': return Rgba{1, 0, 0, 1};
        case 'G': return Rgba{0, 1, 0, 1};
        default: return Rgba{0, 0, 1, 1};
    }
}

char letter_of(Editor_File* file, s32 palette_index) {
    if (palette_index < 0) return '.';
    Rgba c = ((Rgba*)file->palette.data)[palette_index];
    return c.r == 1 ? 'R' : c.g == 1 ? 'G' : 'B';
}

// One letter per octet from start on, '.' where the text colour holds.
std::string walk_colours(Editor_File* file, s64 start) {
    Colour_Walk walk;
    start_colour_walk(&walk, file, start);
    std::string out;
    for (s64 i = start; i < (s64)file->text.count; i++) out += letter_of(file, get_colour_at(&walk, i));
    return out;
}

struct Colouring {
    s64 offset;
    u32 length;
    char colour;
};

}  // namespace

TEST(ColourChunks, ColoursAsTheViewWalksThem) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<Colouring> colourings;
        s64 walk_start;
        const char* expected;
    };
    const Case cases[] = {
        {"the first colour of a range stays", "0123456789abcdefghij", {{10, 5, 'R'}, {10, 5, 'G'}}, 0, "..........RRRRR....."},
        {"the last chunk stretches over blanks", "aaaa  \n bbbb", {{0, 4, 'R'}, {8, 4, 'R'}}, 0, "RRRRRRRRRRRR"},
        {"text left plain stays plain", "aaaa x  bbbb", {{0, 4, 'R'}, {8, 4, 'R'}}, 0, "RRRR....RRRR"},
        {"touching chunks join", "aaaabbbb", {{0, 4, 'R'}, {4, 4, 'R'}}, 0, "RRRRRRRR"},
        {"another colour is a chunk of its own", "aaaa  bbbb", {{0, 4, 'R'}, {6, 4, 'G'}}, 0, "RRRR..GGGG"},
        {"chunks out of order", "aaaa  bbbb", {{6, 4, 'G'}, {0, 4, 'R'}}, 0, "RRRR..GGGG"},
        {"an overlapped chunk does not hide later ones", "0123456789abcdefghijklmnopqrstuv",
         {{0, 20, 'R'}, {25, 5, 'B'}, {5, 5, 'G'}}, 0, "RRRRRRRRRRRRRRRRRRRR.....BBBBB.."},
        {"a chunk inside another after it ends", "0123456789abcdefghij", {{10, 5, 'G'}, {0, 12, 'R'}}, 0,
         "RRRRRRRRRRRRGGG....."},
        {"a long chunk that began before the walk", "0123456789abcdefghij", {{0, 15, 'R'}, {16, 2, 'G'}, {14, 1, 'B'}}, 12,
         "RRR.GG.."},
        {"a chunk that ended before the walk", "0123456789abcdefghij", {{0, 4, 'R'}, {12, 2, 'G'}}, 8, "....GG......"},
        {"the length is cut at the end", "0123456789", {{8, 10, 'B'}}, 0, "........BB"},
        {"empty text colours nothing", "", {{0, 3, 'R'}}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(c.text);
        for (const Colouring& k : c.colourings) editor_set_text_colour(file, k.offset, k.length, colour_of(k.colour));
        EXPECT_EQ(walk_colours(file, c.walk_start), c.expected);
        Colour_Chunk* chunks = (Colour_Chunk*)file->colour_chunks.data;
        for (u32 i = 1; i < file->colour_chunks.count; i++) EXPECT_LE(chunks[i - 1].offset, chunks[i].offset);
    }
}

TEST(ColourChunks, ManyChunksStaySortedAndShareThePalette) {
    std::string text(200, 'x');
    Test_File file(text);
    // Every other pair of octets, in a scrambled order, in two colours.
    for (s64 i = 0; i < 50; i++) {
        s64 k = (i * 37) % 50;
        editor_set_text_colour(file, k * 4, 2, colour_of(k % 2 ? 'G' : 'R'));
    }
    EXPECT_EQ(file->colour_chunks.count, 50u);
    EXPECT_EQ(file->palette.count, 2u);
    std::string expected;
    for (s64 k = 0; k < 50; k++) expected += std::string(2, k % 2 ? 'G' : 'R') + "..";
    EXPECT_EQ(walk_colours(file, 0), expected);
    EXPECT_EQ(walk_colours(file, 101), expected.substr(101));
}

TEST(ColourChunks, NearestChunk) {
    Test_File file(std::string(100, 'x'));
    EXPECT_EQ(get_colour_chunk_closest_to_offset(file, 5), -1);
    const s64 starts[] = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    for (s64 s : starts) editor_set_text_colour(file, s, 2, colour_of(s % 20 ? 'G' : 'R'));
    struct Case { s64 offset; s64 expected; };
    const Case cases[] = {{0, 0}, {4, 0}, {5, 0}, {6, 1}, {44, 4}, {46, 5}, {99, 9}, {-50, 0}, {1000, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(get_colour_chunk_closest_to_offset(file, c.offset), c.expected);
    }
}
