// Lines longer than the view, without a window: the view walks only the part of a line
// that can show, and what it draws there is what a walk of the whole line puts there,
// shifted sideways or not, before and after edits and moves that its index keeps up with.
#include <gtest/gtest.h>

#include <ctype.h>
#include <math.h>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "file_view_test_support.h"
#include "ui/ui.h"

namespace {

const View_Geometry VIEW = {20, 30, 620, 330};

struct Long_Line_Test : ::testing::Test {
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

    // The second frame: the first sets the scroll bar's width the text area ends at.
    std::vector<Drawn_Quad> settled_frame(Editor_File* file, v2 mouse = {-100, -100}, std::vector<u32> buttons = {}) {
        run_view_frame(file, VIEW, v2{-100, -100}, {});
        return run_view_frame(file, VIEW, mouse, buttons);
    }
};

struct Glyph_Box {
    f32 left, top, width, height;
    bool operator==(const Glyph_Box& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};

std::ostream& operator<<(std::ostream& out, const Glyph_Box& b) {
    return out << "(" << b.left << ", " << b.top << ", " << b.width << "x" << b.height << ")";
}

// Where a walk of the whole first line puts each glyph that reaches into the text area: the
// line shifted so that a cursor past the area's width sits in its middle; the pen moved by
// every advance, and by the kerning before every glyph but the first.
std::vector<Glyph_Box> walk_whole_line(Editor_File* file, f32 text_left, f32 text_right, f32 line_top) {
    u8* text = file->text.data;
    s64 end = get_line_end(text, file->text.count, 0);
    s64 cursor = file->cursor;
    f64 x = text_left;
    if (cursor > 0 && cursor <= end) {
        Text_Iterator it;
        init_text_iterator(&it, text, (u64)cursor, &code_font_pool, editor_settings.tab_width);
        f64 width = 0;
        f32 last_advance = 0;
        Glyph* last = nullptr;
        while (text_iterator_get_next(&it)) {
            width += last_advance;
            last_advance = it.advance;
            last = it.current_glyph;
        }
        width += last->left_bearing + (last->width < 0.001f ? last_advance : last->width);
        f32 area = text_right - text_left;
        if (!((f32)width < area - 10)) x = (f64)text_left - ((f64)(f32)width - (f64)(area / 2));
    }
    std::vector<Glyph_Box> boxes;
    Text_Iterator it;
    init_text_iterator(&it, text, (u64)end, &code_font_pool, editor_settings.tab_width);
    f64 pen = 0;
    bool first = true;
    while (text_iterator_get_next(&it)) {
        if (!first) pen += it.kerning;
        first = false;
        f32 at = (f32)(x + pen);
        Glyph* g = it.current_glyph;
        f32 left = floorf(floorf(at) + g->left_bearing);
        if (g->width > 0 && left < text_right && left + g->width > text_left) {
            f32 top = floorf(floorf(line_top) + floorf(code_font_pool.ascent) + g->y_offset);
            boxes.push_back(Glyph_Box{left, top, g->width, g->height});
        }
        pen += it.advance;
    }
    return boxes;
}

// The glyphs of the first line drawn into the text area.
std::vector<Glyph_Box> first_line_glyphs(const std::vector<Drawn_Quad>& quads, f32 text_left, f32 text_right) {
    std::vector<Glyph_Box> boxes;
    f32 line_bottom = VIEW.top + code_font_pool.line_height;
    for (const Drawn_Quad& q : quads) {
        if (!q.glyph || q.top >= line_bottom || q.left >= text_right || q.left + q.width <= text_left) continue;
        boxes.push_back(Glyph_Box{q.left, q.top, q.width, q.height});
    }
    return boxes;
}

std::string long_line(size_t size) {
    std::string line;
    for (int i = 0; line.size() < size; i++) line += "word" + std::to_string(i % 97) + (i % 5 ? " " : "\t");
    return line;
}

}  // namespace

TEST_F(Long_Line_Test, OnlyThePartThatShowsIsWalkedAndItIsDrawnAsAWholeWalkDrawsIt) {
    // Longer than the view, the text index and a stretch of pen points: 24,000 octets, then
    // a short line.
    std::string line = long_line(24000);
    s64 n = (s64)line.size();
    struct Case {
        const char* name;
        s64 cursor;
    };
    const Case cases[] = {
        {"cursor at the start: not shifted", 0},
        {"cursor a little way in: not shifted yet", 20},
        {"cursor in the middle", n / 2},
        {"cursor on a pen point's edge", PEN_POINT_INTERVAL},
        {"cursor near the end", n - 3},
        {"cursor at the end", n},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(line + "\nnext\n");
        editor_set_cursor(file, c.cursor);
        current_file = file;
        std::vector<Drawn_Quad> quads = settled_frame(file);
        f32 text_right = VIEW.right - file->scroll_bar_width;
        std::vector<Glyph_Box> expected = walk_whole_line(file, VIEW.left, text_right, VIEW.top);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(first_line_glyphs(quads, VIEW.left, text_right), expected);
        // A few glyphs past either edge at most: the walk stops where nothing more shows.
        EXPECT_LT(glyph_quads(quads).size(), expected.size() + 20);
        const Drawn_Quad* cursor = find_cursor_quad(quads, default_text_theme.colours[5]);
        ASSERT_NE(cursor, nullptr);
        EXPECT_GE(cursor->left, VIEW.left);
        EXPECT_LE(cursor->left, text_right);
    }
}

TEST_F(Long_Line_Test, SelectionAndClicksOnAShiftedLine) {
    std::string line = long_line(12000);
    Test_File file(line + "\n");
    current_file = file;
    // Selected from well before the part that shows to the cursor in the middle of the area:
    // one band from the area's left edge.
    editor_set_cursor(file, 100);
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, 6000);  // the anchor stays at 100
    std::vector<Drawn_Quad> quads = settled_frame(file);
    f32 text_right = VIEW.right - file->scroll_bar_width;
    const Drawn_Quad* band = find_quad(quads, default_text_theme.colours[2]);
    ASSERT_NE(band, nullptr);
    EXPECT_LE(band->left, VIEW.left);
    EXPECT_NEAR(band->left + band->width, VIEW.left + (text_right - VIEW.left) / 2, 3) << "it ends at the cursor, in the middle";

    // A click on a glyph in the shifted line puts the cursor before its character.
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    quads = settled_frame(file);
    std::vector<Glyph_Box> glyphs = walk_whole_line(file, VIEW.left, text_right, VIEW.top);
    ASSERT_GT(glyphs.size(), 10u);
    const Glyph_Box& target = glyphs[glyphs.size() / 4];
    s64 before = file->cursor;
    run_view_frame(file, VIEW, v2{target.left + 1, VIEW.top + code_font_pool.line_height / 2}, {MOUSE_LEFT_PRESS});
    EXPECT_LT(file->cursor, before);
    EXPECT_GT(file->cursor, before - 80) << "a character a quarter of the view to the left";
    std::vector<Drawn_Quad> after = settled_frame(file);
    std::vector<Glyph_Box> now = walk_whole_line(file, VIEW.left, text_right, VIEW.top);
    EXPECT_EQ(first_line_glyphs(after, VIEW.left, text_right), now);
}

TEST_F(Long_Line_Test, EditsAndMovesDrawAsAFreshRecordDraws) {
    // After each step the record that kept its index through the steps draws what a record
    // made afresh with the same text and cursor draws.
    std::string line = long_line(3 * PEN_POINT_INTERVAL);
    Test_File kept(line + "\nend");
    current_file = kept;
    editor_set_cursor(kept, 2 * PEN_POINT_INTERVAL + 5);
    settled_frame(kept);
    struct Step {
        const char* name;
        void (*act)(Editor_File*);
    };
    const Step steps[] = {
        {"a character typed", [](Editor_File* f) { editor_insert_octets(f, f->cursor, (u8*)"W", 1), editor_set_cursor(f, f->cursor + 1); }},
        {"wide characters typed before the pen points", [](Editor_File* f) { editor_insert_octets(f, 10, (u8*)"\xE2\x80\x94\t\t", 5); }},
        {"octets removed before the cursor", [](Editor_File* f) { editor_remove_octets(f, f->cursor - 300, 200), editor_set_cursor(f, f->cursor - 200); }},
        {"the cursor far to the left", [](Editor_File* f) { editor_set_cursor(f, 500); }},
        {"the cursor far to the right", [](Editor_File* f) { editor_set_cursor(f, 3 * PEN_POINT_INTERVAL - 50); }},
        {"a break put in before the cursor", [](Editor_File* f) { editor_insert_octets(f, PEN_POINT_INTERVAL, (u8*)"\n", 1); }},
        {"the break taken out again", [](Editor_File* f) { editor_remove_octets(f, PEN_POINT_INTERVAL, 1); }},
        {"upper case in place", [](Editor_File* f) {
             for (s64 i = 1000; i < 1100; i++) f->text.data[i] = (u8)toupper(f->text.data[i]);
             update_context_chunks(f, 1000);
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(kept);
        std::vector<Drawn_Quad> drawn = settled_frame(kept);
        Test_File fresh(file_text(kept));
        editor_set_cursor(fresh, kept->cursor);
        current_file = fresh;
        std::vector<Drawn_Quad> fresh_drawn = settled_frame(fresh);
        current_file = kept;
        f32 text_right = VIEW.right - kept->scroll_bar_width;
        EXPECT_EQ(first_line_glyphs(drawn, VIEW.left, text_right), first_line_glyphs(fresh_drawn, VIEW.left, text_right));
        ASSERT_NE(find_cursor_quad(drawn, default_text_theme.colours[5]), nullptr);
        EXPECT_EQ(find_cursor_quad(drawn, default_text_theme.colours[5])->left,
                  find_cursor_quad(fresh_drawn, default_text_theme.colours[5])->left);
    }
}
