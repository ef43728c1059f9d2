// The view index against counting from the top: line breaks kept through edits at every
// kind of place (inside CR LF pairs, on stretch edges, across stretches), texts changed
// behind its back, and the syntax state resumed from its points.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "tests/test_seed.h"

namespace {

// The index's answers next to a count of the whole text, at the offsets and lines given
// and at every stretch edge.
void expect_lines_as_counted(Editor_File* file, const std::vector<s64>& offsets) {
    u8* text = file->text.data;
    s64 n = file->text.count;
    u32 lines = count_lines_in(text, n);
    ASSERT_EQ(editor_count_lines(file), lines);
    std::vector<s64> at = offsets;
    for (s64 edge = 0; edge <= n; edge += LINE_INDEX_STRETCH) {
        for (s64 d = -2; d <= 2; d++) at.push_back(edge + d);
    }
    at.push_back(n);
    for (s64 o : at) {
        if (o < 0 || o > n) continue;
        ASSERT_EQ(view_index_line_at_offset(file, o), get_line_at_offset(text, n, o)) << "offset " << o;
        u32 line = get_line_at_offset(text, n, o);
        for (u32 l : {line - 1, line, line + 1, lines, lines + 1}) {
            ASSERT_EQ(view_index_offset_at_line(file, l), get_offset_at_line(text, n, l)) << "line " << l;
        }
    }
}

// A text of n octets with breaks of every kind, about one per 40 octets.
std::string text_with_breaks(size_t n, std::mt19937& random) {
    const char* breaks[] = {"\n", "\r\n", "\r"};
    std::string t;
    while (t.size() < n) {
        t.append(random() % 80, 'a' + (char)(random() % 26));
        t += breaks[random() % 3];
    }
    t.resize(n);
    return t;
}

}  // namespace

TEST(ViewIndex, LinesFollowEditsAtTheirEdges) {
    // Each case edits a text of three stretches and a half; the index was built before.
    struct Case {
        const char* name;
        s64 offset;
        s64 removed;
        std::string inserted;
    };
    const s64 S = LINE_INDEX_STRETCH;
    const Case cases[] = {
        {"an LF put between a CR and its LF", S + 11, 0, "\n"},
        {"a CR LF pair split by a letter", S + 11, 0, "x"},
        {"the letters between a CR and an LF removed", S + 20, 3, ""},
        {"a break at a stretch's first octet", S, 0, "\r\n"},
        {"a break at a stretch's last octet", S - 1, 0, "\n"},
        {"a CR ending one stretch meets an LF beginning the next", S - 1, 2, "\r\n"},
        {"a removal over two whole stretches", S / 2, 2 * S, ""},
        {"a removal of all but a little", 3, 3 * S, ""},
        {"an insertion longer than two stretches", S + 5, 0, std::string(3 * S, 'b') + "\r\n\n"},
        {"at the very end", 7 * S / 2, 0, "z\r"},
        {"the last octets removed", 7 * S / 2 - 4, 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string t(7 * S / 2, 'a');
        for (s64 i = 40; i < (s64)t.size(); i += 97) t[i] = '\n';
        t[S + 10] = '\r';
        t[S + 11] = '\n';
        t[S + 20] = '\r';
        t[S + 24] = '\n';
        t[S - 1] = '\r';
        Test_File file(t);
        ASSERT_EQ(editor_count_lines(file), count_lines_in(file->text.data, file->text.count));
        if (c.removed) {
            ASSERT_TRUE(editor_remove_octets(file, c.offset, c.removed));
        }
        if (!c.inserted.empty()) {
            ASSERT_TRUE(editor_insert_octets(file, c.offset, (u8*)c.inserted.data(), (s64)c.inserted.size()));
        }
        expect_lines_as_counted(file, {c.offset - 1, c.offset, c.offset + 1, c.offset + (s64)c.inserted.size()});
    }
}

TEST(ViewIndex, LinesFollowRandomEdits) {
    u32 seed = (u32)test_seed(40);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    Test_File file(text_with_breaks(5 * LINE_INDEX_STRETCH / 2, random));
    const char* pieces[] = {"\r", "\n", "\r\n", "ab", "\n\r", "x\ry\nz"};
    for (int round = 0; round < 200; round++) {
        SCOPED_TRACE(round);
        s64 n = file->text.count;
        s64 offset = (s64)(random() % (n + 1));
        if (random() % 5 == 0) offset = (offset / LINE_INDEX_STRETCH) * LINE_INDEX_STRETCH;  // on an edge
        if (random() % 2 && n > 0) {
            s64 most = round % 25 == 0 ? LINE_INDEX_STRETCH * 2 : 8;
            s64 count = 1 + (s64)(random() % most);
            if (offset + count > n) count = n - offset;
            ASSERT_TRUE(editor_remove_octets(file, offset, count));
        } else {
            std::string piece = round % 40 == 0 ? text_with_breaks(LINE_INDEX_STRETCH * 3, random) : pieces[random() % 6];
            ASSERT_TRUE(editor_insert_octets(file, offset, (u8*)piece.data(), (s64)piece.size()));
        }
        expect_lines_as_counted(file, {offset - 1, offset, offset + 1, offset + 2});
        if (HasFatalFailure()) return;
    }
}

TEST(ViewIndex, ATextChangedBehindItsBackIsCountedAgain) {
    Scratch_Directory dir;
    // Two files of one length with other breaks: a reload keeps the length and must not
    // keep the count.
    std::string first(LINE_INDEX_STRETCH * 2, 'a'), second = first;
    for (size_t i = 0; i < first.size(); i += 50) first[i] = '\n';
    for (size_t i = 0; i < second.size(); i += 70) second[i] = '\r';
    write_test_file(dir / "a.txt", first);
    write_test_file(dir / "b.txt", second);
    Editor_File* file = add_a_file();
    ASSERT_NE(file, nullptr);
    Filepath path;
    ASSERT_TRUE(string_to_filepath(&path, (u8*)(dir / "a.txt").data(), (s64)(dir / "a.txt").size()));
    load_file(&path, file);
    expect_lines_as_counted(file, {});
    ASSERT_TRUE(string_to_filepath(&path, (u8*)(dir / "b.txt").data(), (s64)(dir / "b.txt").size()));
    load_file(&path, file);
    expect_lines_as_counted(file, {});

    // A length set directly, as input lines are emptied.
    file->text.count = LINE_INDEX_STRETCH + 3;
    expect_lines_as_counted(file, {});
    close_file(file);
}

TEST(SyntaxState, ResumedFromItsPointsAsFromTheTop) {
    Hint_Scope hints({{{"c"}, "//", "/*", "*/", EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_SINGLE_QUOTE}});
    u32 seed = (u32)test_seed(41);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* pieces[] = {"/*", "*/", "\"", "'", "//", "\n", " word ", "x = 1;\n", "\\\"", "/* a */"};
    std::string t;
    while (t.size() < 6 * SYNTAX_RESUME_INTERVAL) t += pieces[random() % 10];
    auto expect_state_as_from_the_top = [&](Editor_File* file, s64 start) {
        compute_syntax_state(file, start, start + 10);
        u32 depth = file->block_depth;
        u16 string_state = file->string_state;
        Test_File fresh(file_text(file), "a.c");  // no resume points yet
        compute_syntax_state(fresh, start, start + 10);
        EXPECT_EQ(depth, fresh->block_depth) << "start " << start;
        EXPECT_EQ(string_state, fresh->string_state) << "start " << start;
    };
    Test_File file(t, "a.c");
    // Starts far down first, so that the points lie behind later ones.
    for (s64 start : {(s64)t.size() - 3, (s64)t.size() / 2, (s64)t.size() / 3, (s64)t.size() - 1000}) {
        expect_state_as_from_the_top(file, start);
    }
    for (int round = 0; round < 40; round++) {
        SCOPED_TRACE(round);
        s64 n = file->text.count;
        s64 offset = (s64)(random() % n);
        const char* piece = pieces[random() % 10];
        if (random() % 3 == 0) {
            ASSERT_TRUE(editor_remove_octets(file, offset, offset + 3 <= n ? 3 : n - offset));
        } else {
            ASSERT_TRUE(editor_insert_octets(file, offset, (u8*)piece, (s64)strlen(piece)));
        }
        expect_state_as_from_the_top(file, offset + (s64)(random() % 64));
        expect_state_as_from_the_top(file, (s64)file->text.count - 1);
    }

    // An edit at a point's very offset that joins the token ending there to what follows:
    // "/" and a "*" put after it open a block comment.
    std::string slashes;
    while (slashes.size() < 3 * SYNTAX_RESUME_INTERVAL) slashes += "/ ";
    Test_File joined(slashes, "a.c");
    compute_syntax_state(joined, (s64)slashes.size() - 1, (s64)slashes.size());
    ASSERT_NE(joined->view_index, nullptr);
    ASSERT_GT(joined->view_index->resume_points.count, 0u);
    s64 point = ((Syntax_Resume_Point*)joined->view_index->resume_points.data)[0].at;
    ASSERT_EQ(slashes[point - 1], '/');
    ASSERT_TRUE(editor_insert_octets(joined, point, (u8*)"*", 1));
    expect_state_as_from_the_top(joined, (s64)joined->text.count - 1);
}

TEST(SyntaxState, AStartInsideALineBeginsWhereALexMeetsTheSameTokens) {
    Hint_Scope hints({{{"c"}, "//", "/*", "*/", EDITOR_TOKEN_DOUBLE_QUOTE}});
    struct Case {
        const char* name;
        const char* text;  // '|' marks the start asked for, '^' where colouring begins
        u32 depth;
        u16 string_state;
    };
    const Case cases[] = {
        {"inside a word: after the token before it", "int^ tot|al = 1;", 0, 0},
        {"between tokens: there", "int total^ |= 1;", 0, 0},
        {"inside a line comment: at its start", "x = 1; ^// a com|ment\ny", 0, 0},
        {"inside a string: the start itself", "s = \"a st|^ring\";", 0, EDITOR_TOKEN_DOUBLE_QUOTE},
        {"inside a block comment: after its last token", "/* one^ tw|o */ x", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string marked = c.text, text;
        s64 start = -1, begins = -1;
        for (char ch : marked) {
            if (ch == '|') start = (s64)text.size();
            else if (ch == '^') begins = (s64)text.size();
            else text += ch;
        }
        Test_File file(text, "a.c");
        EXPECT_EQ(compute_syntax_state_from_token(file, start, (s64)text.size()), begins);
        EXPECT_EQ(file->syntax_start, begins);
        EXPECT_EQ(file->block_depth, c.depth);
        EXPECT_EQ(file->string_state, c.string_state);
    }
}
