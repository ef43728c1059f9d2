// The search lister panel without a window: prompts opened over file tabs of scratch files,
// queries typed into them, the hits' rows read back, and hits chosen, jumped to and
// replaced.
#include "panel_test_support.h"
#include "runtime/routines_listers.h"

#include <random>
#include "tests/test_seed.h"

namespace {

class SearchListerPanel : public Panel_Test {
protected:
    Search_Lister* s = &global_search_lister;

    // Typed into the query, then frames until the search of it has all its hits and the
    // panel has grown.
    void search_for(const std::string& query) {
        set_input_text(&s->query_input, query);
        ASSERT_TRUE(run_panel_frames_until([&] {
            return s->query_hash != 0 && __atomic_load_n(&s->complete, __ATOMIC_ACQUIRE) &&
                   global_lister_animation_factor >= 1;
        }));
        run_panel_frame();
    }

    // The row band of a hit in the list drawn.
    f32 row_top(u32 index) {
        Lister_Panel_Layout l = get_search_lister_layout(get_num_items_in_search_lister());
        return l.list_top + l.row * index;
    }

    // Where a hit's line text starts: after the label columns and one code-font size.
    f32 line_text_left(f32 name_column = 0) {
        Lister_Panel_Layout l = get_search_lister_layout(0);
        return l.list_left + l.margin + name_column + code_advance("999999") + PANEL_TEST_PIXEL_SIZE;
    }

    struct Row_Glyphs {
        size_t bright = 0, dim = 0;
        f32 first_bright_left = 1e9f, last_dim_right_before = 0;
    };
    // Glyphs of a row right of the line's start, bright ones at the row colour's alpha and
    // dim ones at 0.7 of it.
    Row_Glyphs line_glyphs(const std::vector<Drawn_Quad>& quads, u32 index) {
        Row_Glyphs g;
        Lister_Panel_Layout l = get_search_lister_layout(get_num_items_in_search_lister());
        for (const Drawn_Quad& q : glyphs_in_band(quads, row_top(index), l.row)) {
            if (q.left < line_text_left() - 2) continue;
            if (q.colour.a > 0.9f) {
                g.bright++;
                g.first_bright_left = std::min(g.first_bright_left, q.left);
            } else {
                g.dim++;
                if (q.left < g.first_bright_left) g.last_dim_right_before = std::max(g.last_dim_right_before, q.left + q.width);
            }
        }
        return g;
    }
};

}  // namespace

TEST_F(SearchListerPanel, SearchFindsTheHitsAndJumpsToOne) {
    Scoped_Panel_Tabs scoped_tabs;
    Tab* tab = add_test_file_tab("one\ntwo needle\nneedle three\n", root + "/f.txt");
    foreign_search_file(nullptr);
    EXPECT_TRUE(global_flags & SHOW_SEARCH_LISTER);
    EXPECT_EQ(global_editor_context, CONTEXT_SEARCH_LISTER);
    EXPECT_EQ(current_file, &s->query_input);
    EXPECT_EQ(std::string((char*)s->title.data, s->title.count), "Search");
    search_for("needle");
    ASSERT_EQ(get_num_items_in_search_lister(), 2u);

    std::vector<Drawn_Quad> quads = run_panel_frame();
    Lister_Panel_Layout l = get_search_lister_layout(2);
    std::vector<Drawn_Quad> panel = boxes_of(quads, editor_settings.ui_theme.colours[0]);
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_FLOAT_EQ(panel[0].height, truncf(l.header + l.margin + 2 * l.row));
    // Line 2, "two needle": the hit bright, "two" dim; line 3 the other way round.
    Row_Glyphs first = line_glyphs(quads, 0), second = line_glyphs(quads, 1);
    EXPECT_EQ(first.bright, 6u);
    EXPECT_EQ(first.dim, 3u);
    EXPECT_EQ(second.bright, 6u);
    EXPECT_EQ(second.dim, 5u);

    lister_go_to_next_item();
    EXPECT_EQ(s->selected, 1u);
    foreign_select_item_from_lister(nullptr);
    EXPECT_EQ(tab->file->cursor, 15);
    EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
    EXPECT_EQ(s->mode, SEARCH_CLOSED);
    EXPECT_TRUE(search_lister_is_finished());
    EXPECT_EQ(current_file, tab->file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
}

TEST_F(SearchListerPanel, AHitAfterMultiOctetCharactersIsBrightOverItsOwnText) {
    Scoped_Panel_Tabs scoped_tabs;
    add_test_file_tab("\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC needle \xC3\xA9", root + "/f.txt");
    foreign_search_file(nullptr);
    search_for("needle");
    ASSERT_EQ(get_num_items_in_search_lister(), 1u);
    Row_Glyphs g = line_glyphs(run_panel_frame(), 0);
    EXPECT_EQ(g.bright, 6u);
    EXPECT_EQ(g.dim, 4u);
    f32 hit_left = line_text_left() + code_advance("\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC ");
    EXPECT_NEAR(g.first_bright_left, hit_left, 3.0f);
    EXPECT_LE(g.last_dim_right_before, hit_left + 1);
}

TEST_F(SearchListerPanel, GoToLineShowsTheWholeLineAndJumpsThere) {
    Scoped_Panel_Tabs scoped_tabs;
    Tab* tab = add_test_file_tab("one\ntwo needle\nthree\n", root + "/f.txt");
    foreign_goto_line(nullptr);
    EXPECT_EQ(std::string((char*)s->title.data, s->title.count), "Go to line");
    search_for("2");
    ASSERT_EQ(get_num_items_in_search_lister(), 1u);
    Row_Glyphs g = line_glyphs(run_panel_frame(), 0);
    EXPECT_EQ(g.bright, 9u);
    EXPECT_EQ(g.dim, 0u);
    foreign_select_item_from_lister(nullptr);
    EXPECT_EQ(tab->file->cursor, 4);
    EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
}

TEST_F(SearchListerPanel, SearchFilesOpensTheHitsFileOrGoesToItsTab) {
    make_tree(root, {"a.txt=:x needle", "b.txt=:nothing"});
    Scoped_Panel_Tabs scoped_tabs;
    foreign_search_multiple_files(nullptr);
    EXPECT_EQ(std::string((char*)s->title.data, s->title.count), "Search Files");
    search_for("needle");
    ASSERT_EQ(get_num_items_in_search_lister(), 1u);
    // The label holds the file's name and the line.
    std::vector<Drawn_Quad> quads = run_panel_frame();
    Lister_Panel_Layout l = get_search_lister_layout(1);
    f32 name_column = code_advance("a.txt");
    size_t label = 0;
    for (const Drawn_Quad& q : glyphs_in_band(quads, row_top(0), l.row)) {
        label += q.left < line_text_left(name_column) - 2;
    }
    EXPECT_EQ(label, strlen("a.txt:1"));

    v2 row = {l.list_left + 60, row_top(0) + l.row / 2};
    run_panel_frame(row, {MOUSE_LEFT_PRESS});
    EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(text_of(current_file), "x needle");
    EXPECT_EQ(current_file->cursor, 2);
    Editor_File* opened = current_file;
    run_panel_frame();
    ASSERT_EQ(tabs.count, 1u);

    // With the file in a tab, choosing the hit again goes there: no second record.
    foreign_search_multiple_files(nullptr);
    search_for("needle");
    opened->cursor = 0;
    run_panel_frame(row, {MOUSE_LEFT_PRESS});
    run_panel_frame();
    EXPECT_EQ(tabs.count, 1u);
    EXPECT_EQ(current_file, opened);
    EXPECT_EQ(opened->cursor, 2);
}

TEST_F(SearchListerPanel, TypingRestartsTheSearch) {
    Scoped_Panel_Tabs scoped_tabs;
    add_test_file_tab("needle three\nneedle\nthree", root + "/f.txt");
    foreign_search_file(nullptr);
    search_for("needle");
    EXPECT_EQ(get_num_items_in_search_lister(), 2u);
    s->selected = 1;
    search_for("three");
    EXPECT_EQ(get_num_items_in_search_lister(), 2u);
    EXPECT_EQ(s->selected, 0u);

    // A query changed and changed back before the stopped search has ended searches again.
    set_input_text(&s->query_input, "x");
    run_panel_frame();
    search_for("three");
    EXPECT_EQ(get_num_items_in_search_lister(), 2u);
}

TEST_F(SearchListerPanel, AClickOutsideClosesAndStopsTheSearch) {
    Scoped_Panel_Tabs scoped_tabs;
    Tab* tab = add_test_file_tab("needle", root + "/f.txt");
    foreign_search_file(nullptr);
    search_for("needle");
    run_panel_frame(v2{5, PANEL_TEST_HEIGHT - 5}, {MOUSE_LEFT_PRESS});
    EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
    EXPECT_TRUE(search_lister_is_finished());
    EXPECT_EQ(s->mode, SEARCH_CLOSED);
    EXPECT_EQ(current_file, tab->file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(ui_layer_in_focus, 0);
}

TEST_F(SearchListerPanel, ReplacesAHitAndUndoRestoresIt) {
    // "foo" at 4 to 7; the replacement "12345" is two octets longer.
    const std::string text = "aaa foo bbbbbbbbbbbbbbbb";
    struct Case {
        const char* name;
        s64 cursor, anchor;
        bool selecting;
        std::string stale;   // written over the hit after the search found it
        bool other_tab;      // another file tab is current when the hit is chosen
        bool replaced;
        s64 cursor_after, anchor_after;
    };
    const Case cases[] = {
        {"ten before the cursor", 14, 14, false, "", false, true, 16, 16},
        {"after the cursor", 2, 2, false, "", false, true, 2, 2},
        {"under the cursor", 5, 5, false, "", false, true, 7, 7},
        {"in a selection, the cursor after it", 14, 2, true, "", false, true, 16, 2},
        {"in a selection, the anchor after it", 2, 14, true, "", false, true, 2, 16},
        {"a stale hit is left", 14, 14, false, "fox", false, false, 14, 14},
        {"another tab's file is left", 14, 14, false, "", true, false, 14, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scoped_Panel_Tabs scoped_tabs;
        Tab* tab = add_test_file_tab(text, root + "/f.txt");
        Editor_File* file = tab->file;
        file->cursor = c.cursor;
        file->selection_anchor = c.anchor;
        if (c.selecting) atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
        clamp_cursors_to_text(file);
        foreign_replace_in_file(nullptr);
        EXPECT_EQ(std::string((char*)s->second_title.data, s->second_title.count), "With");
        search_for("foo");
        ASSERT_EQ(get_num_items_in_search_lister(), 1u);
        foreign_go_to_next_prompt(nullptr);
        EXPECT_EQ(current_file, &s->replacement_input);
        set_input_text(&s->replacement_input, "12345");

        std::string expected = text;
        if (!c.stale.empty()) {
            memcpy(file->text.data + 4, c.stale.data(), c.stale.size());
            expected.replace(4, 3, c.stale);
        }
        // A tab made current without closing the listers, as the layer's routine may.
        Tab* other = c.other_tab ? add_test_file_tab("aaa foo", root + "/g.txt", false) : nullptr;
        if (other) {
            global_editor_context = CONTEXT_SEARCH_LISTER;
            current_file = &s->replacement_input;
        }
        foreign_select_item_from_lister(nullptr);
        if (c.replaced) expected.replace(4, 3, "12345");
        EXPECT_EQ(text_of(file), expected);
        if (other) {
            EXPECT_EQ(text_of(other->file), "aaa foo");
        }
        EXPECT_EQ(file->cursor, c.cursor_after);
        EXPECT_EQ(file->selection_anchor, c.anchor_after);
        EXPECT_EQ((file->flags & FILE_SELECTION_ACTIVE) != 0, c.selecting);

        // The lister stays open and searches again.
        EXPECT_TRUE(global_flags & SHOW_SEARCH_LISTER);
        EXPECT_EQ(s->mode, SEARCH_REPLACE);
        EXPECT_EQ(s->selected, 0u);
        ASSERT_TRUE(wait_until([&] { return __atomic_load_n(&s->complete, __ATOMIC_ACQUIRE) != 0; }));
        if (c.replaced && !c.other_tab) {
            EXPECT_EQ(get_num_items_in_search_lister(), 0u);
        }

        if (c.replaced) {
            editor_undo(file);
            editor_undo(file);
            EXPECT_EQ(text_of(file), text);
            EXPECT_EQ(file->cursor, c.cursor);
        }
    }
}

// Frames drawn while queries change under them: the file lister's listing threads and a
// multi-file search restart again and again while the panels read their results.
TEST(PanelThreads, FramesDrawWhileListingsAndSearchesRestart) {
    set_up_panel_test();
    Scratch_Directory scratch;
    std::vector<std::string> tree;
    for (int i = 0; i < 20; i++) tree.push_back("d" + std::to_string(i) + "/");
    for (int i = 0; i < 200; i++) {
        tree.push_back("d" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".c=:int f" + std::to_string(i) + ";\n");
    }
    make_tree(scratch.path.string(), tree);
    std::string root = scratch.path.string();
    set_layer_lists({}, {}, {}, 1 << 20);
    ASSERT_TRUE(string_to_filepath(&editor_working_directory, (u8*)root.data(), (s64)root.size()));
    Scoped_Panel_Tabs scoped_tabs;
    u32 seed = (u32)test_seed(4358);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* queries[] = {"", "f", "f1", "d3", "x", ".c", "int", "f12;"};

    ask_to_open_file();
    for (int i = 0; i < 300; i++) {
        if (random() % 3 == 0) set_input_text(&global_file_lister.input_line, queries[random() % 8]);
        if (random() % 4 == 0) lister_go_to_next_item();
        run_panel_frame();
    }
    foreign_search_multiple_files(nullptr);
    for (int i = 0; i < 300; i++) {
        if (random() % 3 == 0) set_input_text(&global_search_lister.query_input, queries[random() % 8]);
        if (random() % 4 == 0) lister_go_to_previous_item();
        run_panel_frame();
    }
    set_input_text(&global_search_lister.query_input, "f12;");
    ASSERT_TRUE(run_panel_frames_until([] {
        return global_search_lister.query_hash != 0 && __atomic_load_n(&global_search_lister.complete, __ATOMIC_ACQUIRE);
    }));
    EXPECT_EQ(get_num_items_in_search_lister(), 1u);
}
