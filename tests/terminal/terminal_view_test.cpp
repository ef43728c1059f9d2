// The terminal view without a window: frames are run on blocks filled as a worker fills
// them, and the quads they append are read back.
#include "terminal_view_test_support.h"
#include "editor/clipboard.h"

#include <string.h>

namespace {

const View_Rectangle VIEW = {40, 50, 640, 450};
const Rgba GREEN = {0.2f, 1.0f, 0.3f, 1.0f};
const Rgba RED = {1.0f, 0.1f, 0.1f, 1.0f};
const Rgba BLACK = {0, 0, 0, 1};
const Rgba WHITE = {1, 1, 1, 1};
const v2 MOUSE_AWAY = {-100, -100};

class TerminalView : public ::testing::Test {
protected:
    Terminal* terminal = nullptr;
    void SetUp() override {
        set_up_view_test();
        terminal = make_test_terminal("/tmp");
    }
    void TearDown() override {
        clear_terminal_history(terminal);
        atomic_and_u8(&terminal->flags, (u8)~TERMINAL_IN_USE);
    }

    f32 line_top(u32 line) { return VIEW.top + line * code_line_height() - terminal->scroll; }

    // Glyph quads whose middle lies in a line of the view, in drawing order.
    std::vector<Drawn_Quad> glyphs_on_line(const std::vector<Drawn_Quad>& quads, u32 line) {
        std::vector<Drawn_Quad> out;
        for (const Drawn_Quad& q : quads) {
            if (q.glyph && q.centre_y() >= line_top(line) && q.centre_y() < line_top(line + 1)) out.push_back(q);
        }
        return out;
    }

    std::vector<Drawn_Quad> boxes_of(const std::vector<Drawn_Quad>& quads, Rgba colour) {
        std::vector<Drawn_Quad> out;
        for (const Drawn_Quad& q : quads) {
            if (!q.glyph && same_colour(q.colour, colour)) out.push_back(q);
        }
        return out;
    }
};


}  // namespace

TEST_F(TerminalView, HeadersAreGreenOrRedAndOutputKeepsItsColours) {
    add_test_block(terminal, "printf ok", "\x1b[31mred\x1b[0m plain", 0);
    add_test_block(terminal, "false", "", TERMINAL_RESULT_FAILED);
    std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);

    f32 padding = 0.2f * VIEW_TEST_PIXEL_SIZE;
    struct Header {
        u32 line;
        const char* command;
        Rgba colour;
    };
    // Block one: header, output, icon, gap; block two: header, icon, gap.
    const Header headers[] = {{0, "printf ok", GREEN}, {4, "false", RED}};
    for (const Header& h : headers) {
        SCOPED_TRACE(h.command);
        std::vector<Drawn_Quad> boxes = boxes_of(quads, h.colour);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_FLOAT_EQ(boxes[0].left, VIEW.left);
        EXPECT_FLOAT_EQ(boxes[0].top, line_top(h.line));
        EXPECT_FLOAT_EQ(boxes[0].height, VIEW_TEST_PIXEL_SIZE);
        EXPECT_NEAR(boxes[0].width, strlen(h.command) * code_advance() + 2 * padding, 0.01f);
        u32 ink = 0;
        for (const char* c = h.command; *c; c++) ink += *c != ' ';
        std::vector<Drawn_Quad> text = glyphs_on_line(quads, h.line);
        ASSERT_EQ(text.size(), ink);
        for (const Drawn_Quad& g : text) EXPECT_TRUE(same_colour(g.colour, BLACK));
        EXPECT_GE(text[0].left, VIEW.left + padding - 2);
    }

    // "red" in the palette's red, "plain" (after a blank) in the theme's text colour.
    std::vector<Drawn_Quad> output = glyphs_on_line(quads, 1);
    ASSERT_EQ(output.size(), 8u);
    for (u32 i = 0; i < 3; i++) EXPECT_TRUE(same_colour(output[i].colour, terminal_small_colour_table[1])) << i;
    for (u32 i = 3; i < 8; i++) EXPECT_TRUE(same_colour(output[i].colour, default_text_theme.colours[1])) << i;
    EXPECT_GT(output[3].left, VIEW.left + 4 * code_advance() - 1);

    // The view's background comes first, over the whole rectangle.
    ASSERT_FALSE(quads.empty());
    EXPECT_TRUE(same_colour(quads[0].colour, default_text_theme.colours[0]));
    EXPECT_FLOAT_EQ(quads[0].width, VIEW.right - VIEW.left);
    EXPECT_FLOAT_EQ(quads[0].height, VIEW.bottom - VIEW.top);
}

TEST_F(TerminalView, LongLinesWrapWithTheirBackground) {
    // Ten characters and a half fit: the run of 25 takes three lines.
    View_Rectangle narrow = {VIEW.left, VIEW.top, VIEW.left + 10.5f * code_advance(), VIEW.bottom};
    add_test_block(terminal, "c", "\x1b[44mabcdefghijklmnopqrstuvwxy\x1b[0m\r\nz", 0);
    std::vector<Drawn_Quad> quads = run_view_frame(terminal, narrow, MOUSE_AWAY);

    const u32 per_line[] = {10, 10, 5, 1};
    for (u32 line = 0; line < 4; line++) {
        std::vector<Drawn_Quad> g = glyphs_on_line(quads, 1 + line);
        EXPECT_EQ(g.size(), per_line[line]) << line;
        if (!g.empty()) {
            EXPECT_LT(g[0].left, narrow.left + code_advance()) << line;
        }
    }
    std::vector<Drawn_Quad> boxes = boxes_of(quads, terminal_small_colour_table[4]);
    ASSERT_EQ(boxes.size(), 3u);
    for (u32 i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_FLOAT_EQ(boxes[i].left, narrow.left);
        EXPECT_FLOAT_EQ(boxes[i].top, line_top(1 + i));
        EXPECT_NEAR(boxes[i].width, per_line[i] * code_advance(), 0.01f);
        EXPECT_FLOAT_EQ(boxes[i].height, VIEW_TEST_PIXEL_SIZE);
    }

    // Scrolled so that the run begins above the view: its lines inside look the same.
    View_Rectangle low = {narrow.left, narrow.top, narrow.right, narrow.top + 3 * code_line_height()};
    terminal->scroll = 2 * code_line_height();
    quads = run_view_frame(terminal, low, MOUSE_AWAY);
    ASSERT_FLOAT_EQ(terminal->scroll, 2 * code_line_height());
    for (u32 line = 1; line < 4; line++) EXPECT_EQ(glyphs_on_line(quads, 1 + line).size(), per_line[line]) << line;
    boxes = boxes_of(quads, terminal_small_colour_table[4]);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FLOAT_EQ(boxes[0].top, line_top(2));
    EXPECT_NEAR(boxes[1].width, 5 * code_advance(), 0.01f);
}

TEST_F(TerminalView, ADragSelectsDownwardsAndUpwards) {
    Terminal_Result* block = add_test_block(terminal, "c", "first line\r\nsecond line\r\n", 0);
    Rgba selection = default_text_theme.colours[2];
    struct Case {
        const char* name;
        v2 press, release;
        Terminal_Selection_End anchor, moving;
        u32 boxes;
    };
    const Case cases[] = {
        // Tokens: 0 "first line", 1 break, 2 "second line", 3 break.
        {"along a line", point_at(VIEW, 1, 2.3f), point_at(VIEW, 1, 6.3f), {0, 2}, {0, 6}, 4},
        {"up across a line", point_at(VIEW, 2, 3.3f), point_at(VIEW, 1, 1.2f), {2, 3}, {0, 1}, 12},
        {"to the end of a line", point_at(VIEW, 1, 8.2f), point_at(VIEW, 1, 30), {0, 8}, {1, 0}, 2},
        {"past the end of the output", point_at(VIEW, 2, 0.2f), point_at(VIEW, 3, 5), {2, 0}, {3, 2}, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run_view_frame(terminal, VIEW, c.press, {MOUSE_LEFT_PRESS});
        EXPECT_EQ(terminal->selected_result, block);
        EXPECT_EQ(window.event_count, 0u);  // the press was taken
        EXPECT_TRUE(ui_flags & UI_KEEP_RUNNING);
        // A frame draws the selection its ends had when it began: the moved end shows in a
        // frame that must follow at once, input or not.
        run_view_frame(terminal, VIEW, c.release);
        EXPECT_TRUE(ui_flags & UI_KEEP_RUNNING) << "no frame follows the move";
        run_view_frame(terminal, VIEW, c.release);
        EXPECT_FALSE(ui_flags & UI_KEEP_RUNNING) << "the end stays: nothing more to draw";
        std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, c.release, {MOUSE_LEFT_RELEASE});
        EXPECT_EQ(block->selection_start.token, c.anchor.token);
        EXPECT_EQ(block->selection_start.offset, c.anchor.offset);
        EXPECT_EQ(block->selection_end.token, c.moving.token);
        EXPECT_EQ(block->selection_end.offset, c.moving.offset);
        EXPECT_EQ(boxes_of(quads, selection).size(), c.boxes);
    }

    // With the button up, moving the mouse changes nothing and asks for no frame.
    run_view_frame(terminal, VIEW, point_at(VIEW, 1, 0.2f));
    EXPECT_EQ(block->selection_end.token, 3u);
    EXPECT_FALSE(ui_flags & UI_KEEP_RUNNING);
}

TEST_F(TerminalView, ASelectionLeftBeyondTheTextIsCutToIt) {
    Terminal_Result* block = add_test_block(terminal, "c", "ab\ncd", 0);
    terminal->selected_result = block;
    block->selection_start = Terminal_Selection_End{1, 5};
    block->selection_end = Terminal_Selection_End{40, 9};
    std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(block->selection_start.token, 1u);
    EXPECT_EQ(block->selection_start.offset, 1u);
    EXPECT_EQ(block->selection_end.token, 2u);
    EXPECT_EQ(block->selection_end.offset, 2u);
    EXPECT_EQ(boxes_of(quads, default_text_theme.colours[2]).size(), 2u);
}

TEST_F(TerminalView, TheCopyIconCopiesAndSaysSo) {
    Terminal_Result* block = add_test_block(terminal, "ls", "a\r\nb\r\n", 0);
    const u32 icon_line = 4;  // header, a, b, the empty last line
    v2 icon = {VIEW.left + 0.2f * VIEW_TEST_PIXEL_SIZE + 3, line_top(icon_line) + 3};

    std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(glyphs_on_line(quads, icon_line).size(), 1u);  // "t"
    u64 before = os_get_monotonic_microseconds();
    run_view_frame(terminal, VIEW, icon, {MOUSE_LEFT_PRESS});
    EXPECT_GE(block->copy_time, before);
    Dynamic_Array* copied = &text_copied_as_if_there_was_no_padding;
    EXPECT_EQ(std::string((char*)copied->data, copied->count), "ls\n\na\nb\n") << "the editor's copy holds it";
    EXPECT_EQ(window.event_count, 0u);
    EXPECT_EQ(ui_current_cursor_type, UI_CURSOR_ARROW);
    quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    std::vector<Drawn_Quad> line = glyphs_on_line(quads, icon_line);
    EXPECT_EQ(line.size(), 1u + 7u);  // the icon and "Copied."
    EXPECT_TRUE(ui_flags & UI_KEEP_RUNNING);  // the notice must go away by itself

    block->copy_time = os_get_monotonic_microseconds() - TERMINAL_COPIED_NOTICE_MICROSECONDS;
    quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(glyphs_on_line(quads, icon_line).size(), 1u);
}

TEST_F(TerminalView, IconAndScrollBarContrastWithTheBackground) {
    struct Case {
        const char* name;
        Rgba background;
        Rgba contrast;
    };
    const Case cases[] = {
        {"dark", {0.1f, 0.1f, 0.2f, 1}, WHITE},
        {"light", {0.9f, 0.9f, 0.85f, 1}, BLACK},
    };
    std::string many;
    for (int i = 0; i < 40; i++) many += "line\r\n";
    add_test_block(terminal, "c", many, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor_settings.text_theme.colours[0] = c.background;
        // The icon is the only glyph of its line; the bar's thumb is a box at the right edge.
        terminal->scroll = 1e6f;
        run_view_frame(terminal, VIEW, MOUSE_AWAY);  // the bar takes the scroll back to the end
        std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
        u32 icon_line = 1 + 41;
        std::vector<Drawn_Quad> icon = glyphs_on_line(quads, icon_line);
        ASSERT_EQ(icon.size(), 1u);
        EXPECT_TRUE(same_colour(icon[0].colour, c.contrast));
        const Drawn_Quad& thumb = quads.back();
        EXPECT_FALSE(thumb.glyph);
        EXPECT_NEAR(thumb.left + thumb.width, VIEW.right, 1);
        EXPECT_NEAR(thumb.colour.r, c.contrast.r, 1e-4f);
    }
}

TEST_F(TerminalView, NewOutputScrollsIntoView) {
    std::string many;
    for (int i = 0; i < 100; i++) many += "line\r\n";
    Terminal_Result* block = add_test_block(terminal, "c", many, TERMINAL_RESULT_UPDATED);
    run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_FALSE(block->flags & TERMINAL_RESULT_UPDATED);
    // Header, 100 lines, the empty last one, the icon: the line after the icon ends at the bottom.
    f32 lh = code_line_height();
    EXPECT_NEAR(terminal->scroll, 104 * lh - (VIEW.bottom - VIEW.top), 0.01f);

    // Scrolled away, the next output brings it back.
    terminal->scroll = 0;
    run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(terminal->scroll, 0);
    block->flags |= TERMINAL_RESULT_UPDATED;
    run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_NEAR(terminal->scroll, 104 * lh - (VIEW.bottom - VIEW.top), 0.01f);
}

TEST_F(TerminalView, ABlockWhoseLockStaysTakenIsPassedOver) {
    Terminal_Result* block = add_test_block(terminal, "busy", "output", TERMINAL_RESULT_UPDATED);
    spin_lock(&block->lock);
    std::vector<Drawn_Quad> quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(glyphs_on_line(quads, 0).size(), 4u);  // the header still shows
    EXPECT_EQ(glyphs_on_line(quads, 1).size(), 1u);  // the icon moved up: no output
    EXPECT_TRUE(block->flags & TERMINAL_RESULT_UPDATED);
    spin_unlock(&block->lock);
    quads = run_view_frame(terminal, VIEW, MOUSE_AWAY);
    EXPECT_EQ(glyphs_on_line(quads, 1).size(), 6u);
}
