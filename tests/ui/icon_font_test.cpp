// The fonts of the built quarn.data, read through the archive as the editor reads them:
// the icon font holds every icon the editor draws, each inside its em square, with hover
// pairs that can replace each other without moving anything; the text fonts open and
// cover what the font pools ask of them.

#include "ui/asset_archive.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#define STB_TRUETYPE_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

static String read_built_font(const char* name) {
    if (!init_memory(PROGRAM_EDITOR)) return String{};
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return String{};
    std::string directory(path, n);
    directory = directory.substr(0, directory.rfind('/'));
    if (!init_assets(String{(u8*)directory.data(), (s64)directory.size()})) return String{};
    return get_asset(String{(u8*)name, (s64)strlen(name)});
}

struct Opened_Font {
    stbtt_fontinfo info;
    b8 ok;
};

static Opened_Font open_font(String data) {
    Opened_Font f = {};
    // The editor opens the font at offset 0: a collection would not do.
    f.ok = data.count > 0 && stbtt_GetFontOffsetForIndex(data.data, 0) == 0 && stbtt_InitFont(&f.info, data.data, 0);
    return f;
}

struct Glyph_Box {
    int x0, y0, x1, y1;
    bool operator==(const Glyph_Box&) const = default;
};

static Glyph_Box box_of(const stbtt_fontinfo* info, int glyph) {
    Glyph_Box b = {};
    stbtt_GetGlyphBox(info, glyph, &b.x0, &b.y0, &b.x1, &b.y1);
    return b;
}

static int advance_of(const stbtt_fontinfo* info, int glyph) {
    int advance = 0, bearing = 0;
    stbtt_GetGlyphHMetrics(info, glyph, &advance, &bearing);
    return advance;
}

// Every code point the editor draws from the icon pool.
static const struct {
    char code;
    const char* meaning;
} required_icons[] = {
    {'[', "new file"}, {']', "new file, hovered"}, {'{', "open file"}, {'}', "open file, hovered"},
    {'\\', "new terminal"}, {'/', "new terminal hovered, terminal tab"}, {'(', "save"}, {')', "save, hovered"},
    {'1', "previous tab"}, {'4', "previous tab, hovered"}, {'3', "next tab"}, {'6', "next tab, hovered"},
    {'C', "close tab"}, {'X', "close tab, hovered"}, {'e', "failed command, compile errors"},
    {'o', "finished command"}, {'t', "copy"}, {'T', "copy, hovered"}, {'B', "check box on"},
    {'b', "check box off"}, {'>', "path separator"}, {'D', "directory"}, {'F', "other file"},
    {'w', "new file or save target"}, {'r', "delete target"}, {'p', "picture or video"}, {'m', "audio"},
    {'?', "missing code point"},
};

// Icons that replace each other in place: hover states and the two check-box states.
static const struct {
    char normal, other;
} icon_pairs[] = {
    {'[', ']'}, {'{', '}'}, {'\\', '/'}, {'(', ')'}, {'1', '4'}, {'3', '6'}, {'C', 'X'}, {'t', 'T'}, {'B', 'b'},
};

TEST(IconFont, HasEveryIconInsideItsSquare) {
    Opened_Font font = open_font(read_built_font("ICONS"));
    ASSERT_TRUE(font.ok);
    const stbtt_fontinfo* info = &font.info;
    int ascent, descent, gap;
    stbtt_GetFontVMetrics(info, &ascent, &descent, &gap);
    int em = ascent - descent;
    // An icon at pixel size s must be s by s: the em square spans exactly ascent to descent.
    EXPECT_FLOAT_EQ(stbtt_ScaleForPixelHeight(info, 35), stbtt_ScaleForMappingEmToPixels(info, 35));

    std::set<char> distinct;
    for (const auto& icon : required_icons) {
        SCOPED_TRACE(std::string(1, icon.code) + " " + icon.meaning);
        distinct.insert(icon.code);
        int glyph = stbtt_FindGlyphIndex(info, icon.code);
        ASSERT_NE(glyph, 0);
        EXPECT_EQ(advance_of(info, glyph), em);
        Glyph_Box b = box_of(info, glyph);
        EXPECT_LT(b.x0, b.x1);
        EXPECT_LT(b.y0, b.y1);
        EXPECT_GE(b.x0, 0);
        EXPECT_LE(b.x1, em);
        EXPECT_GE(b.y0, descent);
        EXPECT_LE(b.y1, ascent);

        // Rasterised at the pools' size, placed from the top edge, the ink stays in the square.
        const int size = 35;
        float scale = stbtt_ScaleForPixelHeight(info, size);
        int x0, y0, x1, y1;
        stbtt_GetGlyphBitmapBox(info, glyph, scale, scale, &x0, &y0, &x1, &y1);
        int top = (int)(ascent * scale + 0.5f);
        EXPECT_GE(x0, 0);
        EXPECT_LE(x1, size);
        EXPECT_GE(top + y0, 0);
        EXPECT_LE(top + y1, size);
        int w = x1 - x0, h = y1 - y0;
        std::vector<unsigned char> bitmap(w * h);
        stbtt_MakeGlyphBitmap(info, bitmap.data(), w, h, w, scale, scale, glyph);
        int ink = 0;
        for (unsigned char c : bitmap) ink += c > 127;
        EXPECT_GT(ink, w * h / 10);
    }
    EXPECT_EQ(distinct.size(), 28u);
}

TEST(IconFont, PairedIconsReplaceEachOtherInPlace) {
    Opened_Font font = open_font(read_built_font("ICONS"));
    ASSERT_TRUE(font.ok);
    for (const auto& pair : icon_pairs) {
        SCOPED_TRACE(std::string(1, pair.normal) + " and " + std::string(1, pair.other));
        int a = stbtt_FindGlyphIndex(&font.info, pair.normal);
        int b = stbtt_FindGlyphIndex(&font.info, pair.other);
        ASSERT_NE(a, 0);
        ASSERT_NE(b, 0);
        EXPECT_NE(a, b);
        EXPECT_EQ(advance_of(&font.info, a), advance_of(&font.info, b));
        EXPECT_EQ(box_of(&font.info, a), box_of(&font.info, b));
    }
}

TEST(BuiltFonts, TextFontsCoverTheirPoolRanges) {
    const struct {
        const char* name;
        bool monospaced;
    } fonts[] = {{"UI_FONT", false}, {"CODE_FONT", true}};
    for (const auto& f : fonts) {
        SCOPED_TRACE(f.name);
        Opened_Font font = open_font(read_built_font(f.name));
        ASSERT_TRUE(font.ok);
        // Printable ASCII, Latin-1, Greek and Cyrillic, and U+FFFD for malformed text.
        for (int code : {0x20, 0x41, 0x7E, 0xE9, 0x3A9, 0x416, 0xFFFD}) {
            SCOPED_TRACE(code);
            EXPECT_NE(stbtt_FindGlyphIndex(&font.info, code), 0);
        }
        if (f.monospaced) {
            int m = advance_of(&font.info, stbtt_FindGlyphIndex(&font.info, 'm'));
            EXPECT_EQ(advance_of(&font.info, stbtt_FindGlyphIndex(&font.info, 'i')), m);
            EXPECT_EQ(advance_of(&font.info, stbtt_FindGlyphIndex(&font.info, 0x416)), m);
        }
    }
}
