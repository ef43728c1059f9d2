// The file lister panel without a window: frames are run over listings of scratch trees,
// the quads they append read back, and presses queued where a user would click.
#include "panel_test_support.h"
#include "tests/test_files.h"

#include <algorithm>
#include <fstream>

namespace {

const v2 AWAY = {-100, -100};

class FileListerPanel : public Panel_Test {
protected:
    File_Lister* lister = &global_file_lister;

    void open_on(const std::string& directory, u8 purpose, const char* title = "Open File") {
        Filepath* path = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
        ASSERT_TRUE(string_to_filepath(path, (u8*)directory.data(), (s64)directory.size()));
        open_file_lister((u8*)title, strlen(title), path, purpose);
    }

    // Frames until the panel has grown and shows a finished listing of its directory and
    // query.
    void settle() {
        ASSERT_TRUE(run_panel_frames_until([&] {
            File_Lister_List* list = file_lister_get_published_list();
            return !file_lister_is_busy() && lister->shown_generation == list->generation &&
                   global_lister_animation_factor >= 1 && lister->key_hash != 0;
        }));
        run_panel_frame();
    }

    std::vector<std::string> shown_names() {
        std::vector<std::string> names;
        File_Lister_List* list = file_lister_get_published_list();
        if (list->generation != lister->shown_generation) return names;
        for (u32 i = 0; i < list->count; i++) {
            File_Lister_Item* item = file_lister_get_item(list, i);
            std::string name;
            if (item->relative_directory.count) {
                name = std::string((char*)item->relative_directory.data, item->relative_directory.count) + "/";
            }
            names.push_back(name + std::string((char*)item->name.data, item->name.count));
        }
        return names;
    }

    v2 row_centre(u32 index) {
        Lister_Panel_Layout l = get_file_lister_layout(file_lister_get_published_list()->count);
        return v2{l.list_left + 40, l.list_top + l.row * (index + 0.5f)};
    }

    // The current tab, what a save writes: a new file holding "scratch text".
    void show_a_scratch_file() {
        Editor_File* file = add_a_file();
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(editor_insert_octets(file, 0, (u8*)"scratch text", 12));
        Tab* tab = add_a_tab(TAB_FILE, file);
        ASSERT_NE(tab, nullptr);
        set_current_tab(tab->position, true);
        run_panel_frame();
    }

    std::string directory_text() {
        String d = filepath_to_tmp_string(&lister->directory);
        return std::string((char*)d.data, d.count);
    }
};

}  // namespace

TEST_F(FileListerPanel, ShowsTheListingAsRows) {
    make_tree(root, {"beta.txt=:b", "alpha.png", "sub/", "song.mp3"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root, FILE_LISTER_OPEN);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE_LISTER);
    EXPECT_EQ(current_file, &lister->input_line);
    EXPECT_EQ(ui_layer_in_focus, LISTER_UI_LAYER);
    EXPECT_TRUE(global_flags & SHOW_FILE_LISTER);
    settle();
    ASSERT_EQ(shown_names(), (std::vector<std::string>{"alpha.png", "beta.txt", "song.mp3", "sub"}));

    v2 hovered = row_centre(2);
    std::vector<Drawn_Quad> quads = run_panel_frame(hovered);
    Lister_Panel_Layout l = get_file_lister_layout(4);
    const Ui_Theme& theme = editor_settings.ui_theme;

    // A short listing gives a short panel: the header, the rows and one margin.
    std::vector<Drawn_Quad> panel = boxes_of(quads, theme.colours[0]);
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_FLOAT_EQ(panel[0].left, truncf(0.05f * PANEL_TEST_WIDTH));
    EXPECT_FLOAT_EQ(panel[0].top, truncf(0.05f * PANEL_TEST_HEIGHT));
    EXPECT_FLOAT_EQ(panel[0].width, truncf(0.9f * PANEL_TEST_WIDTH));
    EXPECT_FLOAT_EQ(panel[0].height, truncf(l.header + l.margin + 4 * l.row));

    // The selected row and the row under the pointer have their backgrounds.
    std::vector<Drawn_Quad> selected = boxes_of(quads, theme.colours[4]);
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_FLOAT_EQ(selected[0].top, l.list_top);
    EXPECT_FLOAT_EQ(selected[0].height, l.row);
    std::vector<Drawn_Quad> under = boxes_of(quads, theme.colours[5]);
    ASSERT_EQ(under.size(), 1u);
    EXPECT_FLOAT_EQ(under[0].top, l.list_top + 2 * l.row);

    // Each row draws its icon and its name; the selected name in the selected colour.
    const char* names[] = {"alpha.png", "beta.txt", "song.mp3", "sub"};
    for (u32 i = 0; i < 4; i++) {
        SCOPED_TRACE(names[i]);
        std::vector<Drawn_Quad> row = glyphs_in_band(quads, l.list_top + l.row * i, l.row);
        EXPECT_EQ(row.size(), 1 + strlen(names[i]));
        if (i == 0) {
            EXPECT_TRUE(same_colour(row.back().colour, theme.colours[3]));
        }
        if (i == 1) {
            EXPECT_TRUE(same_colour(row.back().colour, theme.colours[2]));
        }
    }
}

TEST_F(FileListerPanel, TypingFiltersTheRowsBestMatchFirst) {
    make_tree(root, {"beta.txt", "alpha.png", "sub/", "song.mp3"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root, FILE_LISTER_OPEN);
    settle();
    set_input_text(&lister->input_line, "a");
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"alpha.png", "beta.txt"}));
    EXPECT_EQ(lister->selected, 0u);
    std::vector<Drawn_Quad> quads = run_panel_frame();
    Lister_Panel_Layout l = get_file_lister_layout(2);
    std::vector<Drawn_Quad> panel = boxes_of(quads, editor_settings.ui_theme.colours[0]);
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_FLOAT_EQ(panel[0].height, truncf(l.header + l.margin + 2 * l.row));
}

// A prompt that writes or deletes selects nothing until the user chooses: a save's query
// selects its new-file item, which there is only for a name no file has; Enter with nothing
// selected does nothing. Opening selects the first row.
TEST_F(FileListerPanel, WhatAPromptSelectsBeforeTheUserChooses) {
    make_tree(root, {"aaa_important.txt=:keep", "beta.txt=:keep"});
    struct Case {
        u8 purpose;
        const char* query;
        const char* selected;  // the selected row's name; null: none
    };
    const Case cases[] = {
        {FILE_LISTER_OPEN, "", "aaa_important.txt"},
        {FILE_LISTER_SAVE, "", nullptr},
        {FILE_LISTER_SAVE, "new.txt", "new.txt"},
        {FILE_LISTER_SAVE, "beta.txt", nullptr},
        {FILE_LISTER_DELETE, "", nullptr},
        {FILE_LISTER_DELETE, "beta", nullptr},
    };
    Scoped_Panel_Tabs scoped_tabs;
    show_a_scratch_file();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.purpose) + " '" + c.query + "'");
        open_on(root, c.purpose);
        settle();
        set_input_text(&lister->input_line, c.query);
        settle();
        File_Lister_Item* item = file_lister_get_item(file_lister_get_published_list(), lister->selected);
        EXPECT_EQ(item ? std::string((char*)item->name.data, item->name.count) : "(none)",
                  c.selected ? c.selected : "(none)");
        if (!c.selected) {
            lister_select_item();
            run_panel_frame();
            EXPECT_TRUE(global_flags & SHOW_FILE_LISTER) << "Enter chose nothing";
        }
        close_lister();
    }
    EXPECT_EQ(read_test_file(root + "/aaa_important.txt"), "keep");
    EXPECT_EQ(read_test_file(root + "/beta.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(root + "/new.txt"));

    // Arrows choose: the first row is then written over.
    open_on(root, FILE_LISTER_SAVE);
    settle();
    lister_go_to_next_item();
    run_panel_frame();
    EXPECT_EQ(lister->selected, 0u);
    lister_select_item();
    EXPECT_EQ(read_test_file(root + "/aaa_important.txt"), "scratch text");
}

// Enter typed on the heels of the query, before the list of it is on screen, acts on that
// list once it is: the typed name is saved, an existing name is still not written over, and
// opening takes the first row of what was typed, not of the list before it.
TEST_F(FileListerPanel, AnEnterBeforeTheListOfTheQueryActsOnThatList) {
    make_tree(root, {"aaa_important.txt=:keep", "beta.txt=:the beta text"});
    struct Case {
        u8 purpose;
        const char* query;
        bool closes;
    };
    const Case cases[] = {
        {FILE_LISTER_SAVE, "new.txt", true},
        {FILE_LISTER_SAVE, "beta.txt", false},
        {FILE_LISTER_OPEN, "beta", true},
    };
    Scoped_Panel_Tabs scoped_tabs;
    show_a_scratch_file();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.purpose) + " '" + c.query + "'");
        open_on(root, c.purpose);
        settle();
        set_input_text(&lister->input_line, c.query);
        lister_select_item();
        EXPECT_TRUE(global_flags & SHOW_FILE_LISTER) << "acted on the list before the query";
        if (c.closes) {
            EXPECT_TRUE(run_panel_frames_until([&] { return !(global_flags & SHOW_FILE_LISTER); }));
        } else {
            settle();
            EXPECT_TRUE(global_flags & SHOW_FILE_LISTER) << "Enter chose nothing";
            close_lister();
        }
        run_panel_frame();
    }
    EXPECT_EQ(read_test_file(root + "/new.txt"), "scratch text");
    EXPECT_EQ(read_test_file(root + "/beta.txt"), "the beta text");
    EXPECT_EQ(read_test_file(root + "/aaa_important.txt"), "keep");
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(text_of(current_file), "the beta text");
}

TEST_F(FileListerPanel, AClickOnAFileOpensItInANewTab) {
    make_tree(root, {"beta.txt=:the text", "alpha.png", "sub/"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root, FILE_LISTER_OPEN);
    settle();
    run_panel_frame(row_centre(1), {MOUSE_LEFT_PRESS});
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(ui_layer_in_focus, 0);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(text_of(current_file), "the text");
    // The next frame adds its tab and makes it current.
    run_panel_frame();
    ASSERT_EQ(tabs.count, 1u);
    EXPECT_EQ(get_current_tab()->file, current_file);
}

TEST_F(FileListerPanel, AClickOnADirectoryEntersIt) {
    make_tree(root, {"sub/", "sub/inner.c", "top.c"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root, FILE_LISTER_OPEN);
    lister->view_bits = FILE_LISTER_LIST_FILES;
    settle();
    set_input_text(&lister->input_line, "su");
    settle();
    ASSERT_EQ(shown_names(), (std::vector<std::string>{"sub"}));
    run_panel_frame(row_centre(0), {MOUSE_LEFT_PRESS});
    EXPECT_TRUE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(directory_text(), root + "/sub");
    EXPECT_EQ(lister->input_line.text.count, 0u);
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"inner.c"}));
}

// Rows whose pitch is no whole number of pixels start on whole pixels: at every pixel row
// of the list, the pointer highlights one row alone, and a press there takes that row.
TEST_F(FileListerPanel, ThePointerHighlightsAndPressesOneRowAtAnyRowHeight) {
    std::vector<std::string> tree;
    for (int i = 0; i < 8; i++) tree.push_back("d" + std::to_string(i) + "/");
    make_tree(root, tree);
    Scoped_Panel_Tabs scoped_tabs;
    const Ui_Theme& theme = editor_settings.ui_theme;
    for (u32 pixels : {13u, 17u, 19u, 23u, (u32)PANEL_TEST_PIXEL_SIZE}) {
        ui_init_font_pools(pixels);
        Lister_Panel_Layout l = get_file_lister_layout(8);
        SCOPED_TRACE("rows of " + std::to_string(l.row) + " pixels");
        auto open = [&] {
            open_on(root, FILE_LISTER_OPEN);
            lister->view_bits = FILE_LISTER_LIST_FILES;
            settle();
            ASSERT_EQ(shown_names().size(), 8u);
        };
        open();
        for (u32 i = 0; i < 8; i++) {
            f32 top = truncf(l.list_top + l.row * (f32)i), next = truncf(l.list_top + l.row * (f32)(i + 1));
            v2 first = {l.list_left + 40, top}, last = {l.list_left + 40, next - 1};
            for (v2 pointer : {first, last}) {
                SCOPED_TRACE("row " + std::to_string(i) + " at y " + std::to_string(pointer.y));
                std::vector<Drawn_Quad> quads = run_panel_frame(pointer);
                std::vector<Drawn_Quad> lit = boxes_of(quads, theme.colours[i == 0 ? 4 : 5]);
                std::vector<Drawn_Quad> other = boxes_of(quads, theme.colours[i == 0 ? 5 : 4]);
                lit.insert(lit.end(), other.begin(), other.end());
                int covering = 0;
                for (const Drawn_Quad& q : lit) {
                    if (pointer.y >= q.top && pointer.y < q.top + q.height) {
                        covering++;
                        EXPECT_FLOAT_EQ(q.top, top);
                    }
                }
                EXPECT_EQ(covering, 1) << "highlighted rows under the pointer";
            }
            run_panel_frame(first, {MOUSE_LEFT_PRESS});
            EXPECT_EQ(directory_text(), root + "/d" + std::to_string(i));
            close_lister();
            open();
        }
        close_lister();
    }
}

TEST_F(FileListerPanel, APathSegmentClickListsThatDirectory) {
    make_tree(root, {"sub/", "sub/inner.c", "top.c"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root + "/sub", FILE_LISTER_OPEN);
    settle();
    ASSERT_EQ(shown_names(), (std::vector<std::string>{"inner.c"}));

    // The segments from the left: "/", "tmp", the scratch directory, "sub".
    Lister_Panel_Layout l = get_file_lister_layout(1);
    f32 arrow = get_text_advance((u8*)">", 1, &icons_font_pool, editor_settings.tab_width);
    f32 x = l.left + l.margin;
    u32 scratch_segment = lister->directory.count - 2;
    for (u32 i = 0; i < scratch_segment; i++) {
        Filepath_Component* c = &lister->directory.components[i];
        x += ui_advance(std::string((char*)c->storage, c->length)) + l.margin + arrow + l.margin;
    }
    v2 segment = {x + 5, l.top + l.margin + (l.margin + PANEL_TEST_PIXEL_SIZE) + PANEL_TEST_PIXEL_SIZE / 2};
    std::vector<Drawn_Quad> quads = run_panel_frame(segment);
    std::vector<Drawn_Quad> highlight = boxes_of(quads, editor_settings.ui_theme.colours[4]);
    EXPECT_TRUE(std::any_of(highlight.begin(), highlight.end(), [&](const Drawn_Quad& q) {
        return q.top < segment.y && q.top + q.height > segment.y && q.left < segment.x && q.left + q.width > segment.x;
    })) << "the segment under the pointer is highlighted";

    run_panel_frame(segment, {MOUSE_LEFT_PRESS});
    EXPECT_EQ(directory_text(), root);
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"sub", "sub/inner.c", "top.c"}));
}

TEST_F(FileListerPanel, AClickOutsideClosesAndTheTabGetsTheKeyboard) {
    make_tree(root, {"a.txt"});
    Scoped_Panel_Tabs scoped_tabs;
    struct Case {
        const char* name;
        bool with_tab;
    };
    for (Case c : {Case{"no tab", false}, Case{"a file tab", true}}) {
        SCOPED_TRACE(c.name);
        Tab* tab = c.with_tab ? add_test_file_tab("text", root + "/a.txt") : nullptr;
        open_on(root, FILE_LISTER_OPEN);
        settle();
        // A press inside the panel on nothing keeps it open.
        Lister_Panel_Layout l = get_file_lister_layout(1);
        run_panel_frame(v2{l.left + 3, l.top + 3}, {MOUSE_LEFT_PRESS});
        EXPECT_TRUE(global_flags & SHOW_FILE_LISTER);
        run_panel_frame(v2{5, PANEL_TEST_HEIGHT - 5}, {MOUSE_LEFT_PRESS});
        EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
        EXPECT_EQ(ui_layer_in_focus, 0);
        EXPECT_EQ(global_editor_context, CONTEXT_FILE);
        EXPECT_EQ(current_file, tab ? tab->file : nullptr);
        EXPECT_EQ(lister->directory.count, 0);
    }
}

TEST_F(FileListerPanel, ALongListingScrollsTheSelectionIntoView) {
    std::vector<std::string> tree;
    for (int i = 0; i < 100; i++) tree.push_back("file" + std::to_string(i));
    make_tree(root, tree);
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root, FILE_LISTER_OPEN);
    settle();
    std::vector<Drawn_Quad> quads = run_panel_frame();
    std::vector<Drawn_Quad> panel = boxes_of(quads, editor_settings.ui_theme.colours[0]);
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_FLOAT_EQ(panel[0].height, truncf(0.9f * PANEL_TEST_HEIGHT));

    // From the first item the previous one is the last, far below the rows shown.
    lister_go_to_previous_item();
    EXPECT_EQ(lister->selected, 99u);
    run_panel_frame();
    quads = run_panel_frame();
    Lister_Panel_Layout l = get_file_lister_layout(100);
    std::vector<Drawn_Quad> selected = boxes_of(quads, editor_settings.ui_theme.colours[4]);
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_GE(selected[0].top, l.list_top);
    EXPECT_LE(selected[0].top + selected[0].height, l.list_bottom + 1);
    std::vector<Drawn_Quad> row = glyphs_in_band(quads, selected[0].top, l.row);
    EXPECT_EQ(row.size(), 1 + strlen("file99"));
}

TEST_F(FileListerPanel, FlatViewIsOfferedOnlyWhereItIsHonoured) {
    make_tree(root, {"a/", "a/deep.txt", "top.txt"});
    Scoped_Panel_Tabs scoped_tabs;
    auto box_centre = [&] {
        Lister_Panel_Layout l = get_file_lister_layout(0);
        f32 icon = (f32)icons_font_pool.pixel_size;
        return v2{l.left + l.margin + icon / 2, l.top + l.margin + 3 * (l.margin + PANEL_TEST_PIXEL_SIZE) + icon / 2};
    };

    // Not blacklisted: the flat view is on when the lister opens, and its box turns it off.
    open_on(root, FILE_LISTER_OPEN);
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"a", "a/deep.txt", "top.txt"}));
    run_panel_frame(box_centre(), {MOUSE_LEFT_PRESS});
    EXPECT_EQ(lister->view_bits, FILE_LISTER_LIST_FILES);
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"a", "top.txt"}));
    close_lister();

    // Blacklisted: no box, and the listing is not flat.
    set_layer_lists({}, {}, {root}, 1 << 20);
    open_on(root, FILE_LISTER_OPEN);
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"a", "top.txt"}));
    run_panel_frame(box_centre(), {MOUSE_LEFT_PRESS});
    EXPECT_EQ(lister->view_bits, FILE_LISTER_FLAT_VIEW | FILE_LISTER_LIST_FILES);
}

TEST_F(FileListerPanel, AnOpeningShowsNothingListedBefore) {
    make_tree(root, {"one/", "one/old.txt", "two/", "two/new.txt"});
    Scoped_Panel_Tabs scoped_tabs;
    open_on(root + "/one", FILE_LISTER_OPEN);
    settle();
    close_lister();
    open_on(root + "/two", FILE_LISTER_DELETE, "Delete files/directories");
    // Until the new listing is published, nothing is shown and nothing can be chosen.
    for (int i = 0; i < 50; i++) {
        run_panel_frame();
        File_Lister_List* list = file_lister_get_published_list();
        if (lister->shown_generation != FILE_LISTER_NOTHING_SHOWN) {
            ASSERT_EQ(std::string((char*)list->directory.data, list->directory.count), root + "/two");
        }
    }
    settle();
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"new.txt"}));
}

TEST_F(FileListerPanel, TheDeletePromptIsNotOpenedTwice) {
    Scoped_Panel_Tabs scoped_tabs;
    ASSERT_TRUE(string_to_filepath(&editor_working_directory, (u8*)root.data(), (s64)root.size()));
    editor_ask_to_delete_items();
    EXPECT_EQ(lister->purpose, FILE_LISTER_DELETE);
    EXPECT_EQ(std::string((char*)lister->title.data, lister->title.count), "Delete files/directories");
    set_input_text(&lister->input_line, "kept");
    editor_ask_to_delete_items();
    EXPECT_EQ(text_of(&lister->input_line), "kept");
    // Another prompt may replace it.
    ask_to_open_file();
    EXPECT_EQ(lister->purpose, FILE_LISTER_OPEN);
    EXPECT_EQ(lister->input_line.text.count, 0u);
}

TEST(FileListerRows, IconsAndSuffixes) {
    struct Case {
        const char* name;
        u8 kind;
        bool new_file, selected;
        u8 purpose;
        const char* icon;
        const char* suffix;
    };
    const u8 F = FILE_LISTER_FILE, D = FILE_LISTER_DIRECTORY;
    const Case cases[] = {
        {"photo.png", F, false, false, FILE_LISTER_OPEN, "p", ""},
        {"photo.PNG", F, false, false, FILE_LISTER_OPEN, "F", ""},
        {"clip.mov", F, false, true, FILE_LISTER_OPEN, "p", ""},
        {"song.qoa", F, false, false, FILE_LISTER_OPEN, "m", ""},
        {"README", F, false, false, FILE_LISTER_OPEN, "F", ""},
        {"png", F, false, false, FILE_LISTER_OPEN, "F", ""},
        {"src", D, false, true, FILE_LISTER_OPEN, "D", ""},
        {"new.txt", F, true, false, FILE_LISTER_SAVE, "w", " - create a new file"},
        {"new.txt", F, true, true, FILE_LISTER_SAVE, "w", " - create a new file"},
        {"old.txt", F, false, true, FILE_LISTER_SAVE, "w", " - overwrite"},
        {"old.txt", F, false, false, FILE_LISTER_SAVE, "F", ""},
        {"src", D, false, true, FILE_LISTER_SAVE, "D", ""},
        {"a.png", F, false, true, FILE_LISTER_DELETE, "r", " - delete a file"},
        {"a.png", F, false, false, FILE_LISTER_DELETE, "p", ""},
        {"src", D, false, true, FILE_LISTER_DELETE, "D", " - delete a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.selected ? " selected" : "") + " purpose " + std::to_string(c.purpose));
        File_Lister_Item item = {};
        memcpy(item.name_text, c.name, strlen(c.name));
        item.name = String{item.name_text, (s64)strlen(c.name)};
        item.kind = c.kind;
        item.new_file = c.new_file;
        EXPECT_STREQ(get_file_lister_icon(&item, c.selected, c.purpose), c.icon);
        EXPECT_STREQ(get_file_lister_suffix(&item, c.selected, c.purpose), c.suffix);
    }
}
