// The file view without a window: frames are run with a mouse position and queued mouse
// events of the test's choosing, and the quads the view appended are read back. The
// renderer's arrays fill without OpenGL; glyphs are rasterised into the cache as usual.
#include <gtest/gtest.h>

#include <fstream>
#include <math.h>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "foundation/os_files.h"
#include "file_view_test_support.h"
#include "ui/ui.h"

namespace {

const f32 VIEW_LEFT = 20, VIEW_TOP = 30, VIEW_RIGHT = 620, VIEW_BOTTOM = 330;

struct View_Test : ::testing::Test {
    void SetUp() override {
        set_up_view_test_fonts();
        editor_settings.display_flags = 0;
        editor_settings.text_theme = default_text_theme;
        editor_settings.ui_theme = default_ui_theme;
        ui_layer_in_focus = 0;
        ui_flags = 0;
        window.event_count = 0;
        current_file = nullptr;
    }
    void TearDown() override { current_file = nullptr; }

    View_Geometry geometry{VIEW_LEFT, VIEW_TOP, VIEW_RIGHT, VIEW_BOTTOM};
    std::vector<Drawn_Quad> frame(Editor_File* file, v2 mouse = {-100, -100}, std::vector<u32> buttons = {}) {
        return run_view_frame(file, geometry, mouse, buttons);
    }
    // The middle of a character's left part, or of the place after a line's last character.
    v2 at(Editor_File* file, u32 line, f32 column) { return point_at(file, geometry, line, column); }
};

}  // namespace

TEST_F(View_Test, ClicksPutTheCursorWhereTheCharacterIs) {
    struct Case { const char* name; u32 line; f32 column; s64 expected; };
    const Case cases[] = {
        {"left part of a character", 0, 2.1f, 2},
        {"right part of a character", 0, 2.6f, 3},
        {"past the end of a line", 0, 30, 5},
        {"second line", 1, 1.2f, 7},
        {"empty last line", 2, 0.2f, 10},
        {"left of the text", 0, -3, -1},
        {"below the text", 5, 0.1f, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("hello\nabc\n");
        frame(file);
        u16 before = window.event_count;
        frame(file, at(file, c.line, c.column), {MOUSE_LEFT_PRESS});
        if (c.expected < 0) {
            EXPECT_EQ(file->cursor, 0);
            EXPECT_EQ(window.event_count, before + 1) << "the press stays queued";
            continue;
        }
        EXPECT_EQ(file->cursor, c.expected);
        EXPECT_EQ(window.event_count, 0u);
        EXPECT_EQ(file->flags & (FILE_SELECTION_ACTIVE | FILE_MOUSE_SELECTING), FILE_SELECTION_ACTIVE | FILE_MOUSE_SELECTING);
        EXPECT_TRUE(ui_flags & UI_KEEP_RUNNING);
        // Released where it was pressed: no selection is left.
        frame(file, at(file, c.line, c.column), {MOUSE_LEFT_RELEASE});
        EXPECT_FALSE(file->flags & (FILE_SELECTION_ACTIVE | FILE_MOUSE_SELECTING));
    }
}

TEST_F(View_Test, DragSelectsAndFollowsTheMouseWithoutFocus) {
    Test_File file("first line\nsecond line\n");
    frame(file);
    frame(file, at(file, 0, 2.1f), {MOUSE_LEFT_PRESS});
    ui_layer_in_focus = 1;  // a panel took the focus: the drag goes on
    frame(file, at(file, 1, 3.1f));
    EXPECT_EQ(file->cursor, 14);
    frame(file, at(file, 1, 4.1f), {MOUSE_LEFT_RELEASE});
    EXPECT_EQ(file->cursor, 14) << "the release frame no longer drags";
    EXPECT_EQ(file->selection_anchor, 2);
    EXPECT_TRUE(file->flags & FILE_SELECTION_ACTIVE);
    EXPECT_FALSE(file->flags & FILE_MOUSE_SELECTING);
    // Without focus a press is not taken.
    frame(file, at(file, 0, 0.1f), {MOUSE_LEFT_PRESS});
    EXPECT_EQ(file->cursor, 14);
    EXPECT_EQ(window.event_count, 1u);
}

TEST_F(View_Test, DoubleClickSelectsATokenOrABlankRun) {
    struct Case { const char* name; f32 column; s64 start, end; };
    // "alpha   beta+gamma": the blanks are columns 5 to 7.
    const Case cases[] = {
        {"inside a word", 2.1f, 0, 5},
        {"first blank after a word", 5.1f, 0, 5},
        {"later blank of the run", 6.1f, 5, 8},
        {"an operator", 12.1f, 12, 13},
        {"the start of a word", 8.1f, 8, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("alpha   beta+gamma");
        frame(file);
        frame(file, at(file, 0, c.column), {MOUSE_LEFT_PRESS, MOUSE_DOUBLE_CLICK});
        EXPECT_EQ(*file->selection_start, c.start);
        EXPECT_EQ(*file->selection_end, c.end);
        EXPECT_EQ(file->cursor, c.end);
        EXPECT_EQ(file->flags & (FILE_SELECTION_ACTIVE | FILE_MOUSE_SELECTING), FILE_SELECTION_ACTIVE);
        ASSERT_EQ(window.event_count, 1u) << "only the double click is taken";
        EXPECT_EQ(window.events[0].buttons, MOUSE_LEFT_PRESS);
    }
}

TEST_F(View_Test, KeptAnchorAndMouseOffLeaveTheQueue) {
    Test_File file("0123456789");
    file->selection_anchor = 2;
    atomic_or_u16(&file->flags, FILE_KEEP_ANCHOR_ON_CLICK);
    frame(file, at(file, 0, 6.1f), {MOUSE_LEFT_PRESS});
    EXPECT_EQ(*file->selection_start, 2);
    EXPECT_EQ(*file->selection_end, 6);
    EXPECT_FALSE(file->flags & FILE_KEEP_ANCHOR_ON_CLICK) << "cleared at the end of every frame";

    editor_settings.display_flags = DISPLAY_NO_MOUSE_IN_TEXT;
    frame(file, at(file, 0, 8.1f), {MOUSE_LEFT_PRESS, MOUSE_DOUBLE_CLICK});
    EXPECT_EQ(file->cursor, 6);
    EXPECT_EQ(window.event_count, 2u);
}

TEST_F(View_Test, CentringAndKeepingTheCursorInSight) {
    std::string text;
    for (int i = 0; i < 100; i++) text += "line " + std::to_string(i) + "\n";
    text += "last";
    Test_File file(text);
    const f32 lh = code_font_pool.line_height, ps = (f32)code_font_pool.pixel_size;
    const f32 h = VIEW_BOTTOM - VIEW_TOP;
    auto line_offset = [&](u32 line) { return get_offset_at_line(file->text.data, file->text.count, line); };
    // The cursor's middle at the view's middle, within 0 and the content less the view.
    auto centred = [&](u32 line, f32 view) {
        f32 content = lh * 101 - (lh - ps) + view - lh;
        return fminf(content - view, fmaxf(0, (f32)(line - 1) * lh - view / 2 + ps / 2));
    };
    struct Case { const char* name; f32 view_height; u32 line; };
    const Case cases[] = {{"first line", h, 1}, {"middle", h, 51}, {"last line", h, 101}, {"last line, one line high", lh, 101}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        geometry.bottom = VIEW_TOP + c.view_height;
        editor_set_cursor(file, line_offset(c.line));
        atomic_or_u16(&file->flags, FILE_CENTRE_CURSOR);
        frame(file);
        EXPECT_NEAR(file->scroll_y, centred(c.line, c.view_height), 0.01f);
        EXPECT_FALSE(file->flags & FILE_CENTRE_CURSOR);
    }
    EXPECT_NEAR(file->scroll_y, lh * 101 - (lh - ps) - lh, 0.01f) << "a one-line view ends at the content's end";
    geometry.bottom = VIEW_BOTTOM;

    // Centring first; the move is kept for the next frame, which keeps the cursor in sight.
    editor_set_cursor(file, 0);
    atomic_or_u16(&file->flags, FILE_CENTRE_CURSOR);
    frame(file);
    EXPECT_EQ(file->scroll_y, 0);
    EXPECT_TRUE(file->flags & FILE_CURSOR_MOVED);
    frame(file);
    EXPECT_FALSE(file->flags & FILE_CURSOR_MOVED);

    // A cursor below the view scrolls just far enough to show it.
    editor_set_cursor(file, line_offset(41));
    frame(file);
    EXPECT_NEAR(file->scroll_y, 40 * lh + ps - h, 0.01f);
    // Scrolling a line asks for colouring again in the same frame.
    atomic_and_u16(&file->flags, (u16)~FILE_NEEDS_SYNTAX);
    file->scroll_bar[0] += lh;
    frame(file);
    u32 top_line = (u32)floorf(file->scroll_y / lh) + 1;
    EXPECT_EQ(file->syntax_start, line_offset(top_line));
    EXPECT_FALSE(file->flags & FILE_NEEDS_SYNTAX);
}

TEST_F(View_Test, AOneLineInputShiftsSideways) {
    Test_File line(std::string(200, 'w') + "@");
    atomic_or_u16(&line->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    editor_settings.display_flags = DISPLAY_LINE_NUMBERS;
    current_file = line;
    std::vector<Drawn_Quad> quads = frame(line);
    const Drawn_Quad* cursor = find_cursor_quad(quads, editor_settings.ui_theme.colours[2]);
    ASSERT_NE(cursor, nullptr);
    EXPECT_NEAR(cursor->left, (VIEW_LEFT + VIEW_RIGHT) / 2, 1.0f) << "the cursor sits in the middle";
    EXPECT_EQ(line->scroll_y, 0);
    EXPECT_EQ(line->scroll_bar_width, 0) << "one line never scrolls vertically";
    EXPECT_TRUE(glyph_quads(quads, default_text_theme.colours[3]).empty()) << "no line numbers";

    // A short line starts at the left edge, even with the cursor at its end.
    Test_File short_line("abc@");
    atomic_or_u16(&short_line->flags, FILE_SINGLE_LINE);
    quads = frame(short_line);
    ASSERT_FALSE(quads.empty());
    EXPECT_NEAR(first_glyph(quads)->left, VIEW_LEFT, 3.0f);
}

TEST_F(View_Test, ColoursOfTextCursorSelectionAndScrollBar) {
    Test_File file("red plain\nsecond");
    const Rgba red = {1, 0, 0, 1};
    frame(file);  // takes the visible range: colouring now lasts
    editor_set_text_colour(file, 0, 3, red);
    file->selection_anchor = 4;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, 9);
    std::vector<Drawn_Quad> quads = frame(file);
    std::vector<const Drawn_Quad*> glyphs = glyph_quads(quads);
    ASSERT_EQ(glyphs.size(), 14u);  // every glyph but the blank
    for (int i = 0; i < 3; i++) EXPECT_TRUE(same_colour(glyphs[i]->colour, red)) << i;
    for (int i = 3; i < 14; i++) EXPECT_TRUE(same_colour(glyphs[i]->colour, default_text_theme.colours[1])) << i;

    const Drawn_Quad* selection = find_quad(quads, default_text_theme.colours[2]);
    ASSERT_NE(selection, nullptr);
    EXPECT_NEAR(selection->left, VIEW_LEFT + 4 * get_code_advance(), 0.01f);
    EXPECT_NEAR(selection->width, 5 * get_code_advance(), 0.01f);
    EXPECT_NEAR(selection->height, code_font_pool.line_height, 0.01f);

    // Not the keyboard's record: the cursor at 0.3 of its alpha.
    Rgba faint = default_text_theme.colours[5];
    faint.a *= 0.3f;
    EXPECT_NE(find_cursor_quad(quads, faint), nullptr);
    current_file = file;
    EXPECT_NE(find_cursor_quad(frame(file), default_text_theme.colours[5]), nullptr);

    // The scroll bar shows only for content taller than the view; white on the dark default,
    // black on a white background.
    std::string tall;
    for (int i = 0; i < 200; i++) tall += "x\n";
    Test_File long_file(tall);
    frame(long_file);
    quads = frame(long_file);
    EXPECT_NE(find_quad(quads, Rgba{1, 1, 1, 0.3f}, true), nullptr);
    editor_settings.text_theme.colours[0] = Rgba{1, 1, 1, 1};
    quads = frame(long_file);
    EXPECT_NE(find_quad(quads, Rgba{0, 0, 0, 0.3f}, true), nullptr);
}

TEST_F(View_Test, LineNumberColumn) {
    std::string text;
    for (int i = 0; i < 120; i++) text += "x\n";
    Test_File file(text);
    editor_settings.display_flags = DISPLAY_LINE_NUMBERS;
    editor_settings.text_theme.colours[4] = Rgba{0, 0, 1, 1};
    std::vector<Drawn_Quad> quads = frame(file);
    f32 digits = get_text_advance((u8*)"121", 3, &code_font_pool, editor_settings.tab_width);
    f32 text_left = ceilf(VIEW_LEFT + digits + 0.2f * code_font_pool.pixel_size);
    const Drawn_Quad* column = find_quad(quads, Rgba{0, 0, 1, 1});
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->left, VIEW_LEFT);
    EXPECT_EQ(column->width, text_left - VIEW_LEFT);
    EXPECT_EQ(column->height, VIEW_BOTTOM - VIEW_TOP);
    std::vector<const Drawn_Quad*> numbers = glyph_quads(quads, default_text_theme.colours[3]);
    ASSERT_FALSE(numbers.empty());
    for (const Drawn_Quad* n : numbers) EXPECT_LT(n->left + n->width, text_left);
    EXPECT_GE(first_glyph(quads, default_text_theme.colours[1])->left, text_left);
}

TEST_F(View_Test, FilesChangedOnDiskAreReloadedUnlessEdited) {
    Scratch_Directory directory;
    std::string path = directory / "watched.txt";
    std::ofstream(path) << "old";
    Filepath filepath;
    ASSERT_TRUE(string_to_filepath(&filepath, (u8*)path.data(), (s64)path.size()));
    Editor_File* file = add_a_file();
    ASSERT_TRUE(load_file(&filepath, file));
    std::ofstream(path) << "new text";
    atomic_or_u16(&file->flags, FILE_CHANGED_ON_DISK);
    frame(file);
    EXPECT_EQ(file_text(file), "new text");
    EXPECT_FALSE(file->flags & FILE_CHANGED_ON_DISK);

    std::ofstream(path) << "newer";
    atomic_or_u16(&file->flags, FILE_CHANGED_ON_DISK | FILE_MODIFIED);
    frame(file);
    EXPECT_EQ(file_text(file), "new text") << "unsaved edits are never replaced";
    close_file(file);
}
