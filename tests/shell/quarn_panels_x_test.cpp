// The quarn program with the layer it ships (its custom.8 compiled at start, two test
// bindings added) driving the file lister and the search panels under Xvfb: open, filter,
// enter and leave directories by the path row, delete, the row under the pointer, save a
// new text under a name or over a chosen file, search in files and in the current file, go
// to a line, and closing by a click outside.
#include "tests/shell/quarn_x_session.h"

#include <math.h>

namespace {

const float PANELS_FONT = SHIPPED_FONT;

// A lister panel's rows: a margin and its header rows of the UI font (the file lister's
// title, path, input and check box; a search's one prompt), then one row per item, each a
// margin and a line of the font.
struct Panel_Geometry {
    float left, top, width, margin, header, row;
    float path_y() const { return top + margin + (margin + PANELS_FONT) + PANELS_FONT / 2; }
    float list_top() const { return top + header; }
    float row_middle(int i) const { return list_top() + i * row + row / 2; }
};

Panel_Geometry panel_geometry(Editor_Session& s, int header_rows) {
    XWindowAttributes a;
    XGetWindowAttributes(s.x, s.window, &a);
    Panel_Geometry g;
    g.left = truncf(0.05f * a.width);
    g.top = truncf(0.05f * a.height);
    g.width = truncf(0.9f * a.width);
    g.margin = 0.2f * PANELS_FONT;
    g.header = g.margin + header_rows * (g.margin + PANELS_FONT);
    g.row = g.margin + PANELS_FONT;
    return g;
}

struct Panels_Session : Editor_Session {
    Panels_Session() { font = PANELS_FONT; }

    // Rows the panel shows: its background, in the margin right of the rows, reaches below
    // the last one.
    int panel_rows(const Panel_Geometry& g) {
        int n = 0;
        while (n < 30 && is_bar_colour(pixel(g.left + g.width - 1, g.row_middle(n)))) n++;
        return n;
    }
    bool panel_shows(const Panel_Geometry& g) { return is_bar_colour(pixel(g.left + 2, g.top + 2)); }
    // A selected row stands in its highlight, which short names leave bare on the right.
    bool row_selected(const Panel_Geometry& g, int i) { return !is_bar_colour(pixel(g.left + 0.6f * g.width, g.row_middle(i))); }

    // The icon of a row as the octets that stand out from the row's own background.
    std::vector<bool> row_icon(const Panel_Geometry& g, int i) {
        int size = (int)PANELS_FONT, left = (int)(g.left + g.margin), top = (int)(g.list_top() + i * g.row);
        std::vector<Pixel> box = grab(left, top, size + 2, (int)g.row);
        Pixel background = box[0];
        std::vector<bool> mask;
        for (Pixel p : box) {
            mask.push_back(abs(p.r - background.r) + abs(p.g - background.g) + abs(p.b - background.b) > 90);
        }
        return mask;
    }

    // The path row's runs of ink, left to right, as [first, last] columns: the segments and
    // the marks between them.
    std::vector<std::pair<int, int>> path_runs(const Panel_Geometry& g) {
        int left = (int)g.left, width = (int)g.width, top = (int)(g.path_y() - PANELS_FONT / 2), height = (int)PANELS_FONT;
        std::vector<Pixel> band = grab(left, top, width, height);
        std::vector<std::pair<int, int>> runs;
        int gap = 3;
        for (int column = 0; column < width; column++) {
            bool ink = false;
            for (int y = 0; y < height && !ink; y++) ink = is_bright(band[y * width + column]);
            if (ink && gap >= 3) runs.push_back({left + column, left + column});
            if (ink) runs.back().second = left + column;
            gap = ink ? 0 : gap + 1;
        }
        return runs;
    }
    int path_end(const Panel_Geometry& g) {
        std::vector<std::pair<int, int>> runs = path_runs(g);
        return runs.empty() ? 0 : runs.back().second;
    }

    // The rows the cursor covers in the file view, left of a column.
    std::vector<int> cursor_rows(int width) {
        std::vector<int> rows;
        int top = (int)bar_height();
        std::vector<Pixel> area = grab(0, top, width, 600 - top);
        for (size_t i = 0; i < area.size(); i++) {
            if (is_cyan(area[i])) rows.push_back((int)(i / width) + top);
        }
        return rows;
    }
};

using Panels_X_Test = Editor_X_Test<Panels_Session>;

}  // namespace

TEST_F(Panels_X_Test, OpenFileFiltersOpensListsAPathSegmentAndDeletes) {
    install_shipped_layer(s.install, "    if key == KEY_F5 { ask_to_delete_items(); return; }\n");
    std::string project = files + "/project";
    // A query typed key by key is listed at every step: "victi" lists three, only "victim" two.
    for (const char* name : {"notes.txt", "notes.md", "notes.tga", "notes.opus", "other.txt", "victi.txt", "victim-a.txt",
                             "victim-b.txt"}) {
        write_test_file(project + "/" + name, std::string("text of ") + name + "\n");
    }
    std::filesystem::create_directory(project + "/notes.d");
    write_test_file(files + "/top.txt", "the top file\n");

    ASSERT_TRUE(s.start_editor(project, {}));
    Panel_Geometry g = panel_geometry(s, 4);
    float bar_left = 4 * (PANELS_FONT + 0.4f * PANELS_FONT);  // new file, open file, new terminal and save

    {
        SCOPED_TRACE("Ctrl+O and a filter: one row per match, each with the icon of its kind");
        s.key("ctrl+o");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.type("notes");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 5; })) << s.panel_rows(g);
        // Two plain files share their icon (rows fall on other fractions of a pixel, so a few
        // octets differ); every other pair of icons differs in many. The icons fade in with
        // the panel, so the check is polled until they stand out in full.
        int alike = 0, least_differing = 0, least_ink = 0;
        EXPECT_TRUE(s.eventually([&] {
            std::vector<std::vector<bool>> icons;
            for (int i = 0; i < 5; i++) icons.push_back(s.row_icon(g, i));
            alike = 0;
            least_differing = 1 << 30;
            least_ink = 1 << 30;
            for (int i = 0; i < 5; i++) {
                least_ink = std::min(least_ink, (int)std::count(icons[i].begin(), icons[i].end(), true));
                for (int j = i + 1; j < 5; j++) {
                    int differ = 0;
                    for (size_t k = 0; k < icons[i].size(); k++) differ += icons[i][k] != icons[j][k];
                    if (differ < 30) alike++;
                    else least_differing = std::min(least_differing, differ);
                }
            }
            return alike == 1 && least_differing > 45 && least_ink > 10;
        })) << alike << " pairs alike (a directory, a picture, a sound and two plain files), the others differ in at least "
            << least_differing << " octets, the faintest icon has " << least_ink;
    }
    {
        SCOPED_TRACE("Enter opens the one file left in a new tab, which has the keyboard");
        s.type(".txt");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; }));
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g) && is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
        EXPECT_TRUE(s.eventually([&] { return count_pixels(s.grab(0, (int)s.bar_height(), 300, (int)PANELS_FONT + 4), is_bright) > 50; }))
            << "its text";
    }
    {
        SCOPED_TRACE("a press on a segment of the path lists that directory");
        s.key("ctrl+o");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g) && s.panel_rows(g) > 5; }));
        // The runs end with "project", the mark before it and the end of the segment before.
        std::vector<std::pair<int, int>> runs = s.path_runs(g);
        ASSERT_GE(runs.size(), 4u);
        std::pair<int, int> parent = runs[runs.size() - 3];
        s.click((parent.first + parent.second) / 2.0f, g.path_y());
        // (The segment under the pointer stands in its highlight, a little wider.)
        EXPECT_TRUE(s.eventually([&] { return s.path_end(g) < parent.second + PANELS_FONT; })) << "the path ends at files";
        s.type("top");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; }));
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] {
            return !s.panel_shows(g) && is_current_tab_colour(s.tab_pixel(bar_left + 2 * (PANELS_FONT + 0.4f * PANELS_FONT), 1));
        })) << "top.txt in a second tab, after the previous and next icons";
    }
    {
        SCOPED_TRACE("a press outside closes the panel and the file has the keyboard again");
        auto first_line = [&] { return count_pixels(s.grab(0, (int)s.bar_height(), 300, (int)PANELS_FONT + 4), is_bright); };
        int before = first_line();
        s.key("ctrl+o");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.click(5, 590);
        EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g); }));
        s.type("QQQ");
        EXPECT_TRUE(s.eventually([&] { return first_line() > before + 30; }));
    }
    {
        SCOPED_TRACE("the delete prompt removes the chosen file only, and a second Enter nothing");
        s.key("F5");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.type("victim");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 2; }));
        s.key("Return");  // nothing is chosen yet
        s.key("Down");
        s.key("Down");
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] { return !std::filesystem::exists(project + "/victim-b.txt"); }));
        // The prompt stays, listed again, with nothing chosen.
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; }));
        s.key("Return");
        // A shorter query lists victi.txt too, in a frame that has handled the Enter before it.
        s.key("BackSpace");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 2; })) << s.panel_rows(g);
        for (const char* name : {"notes.txt", "notes.md", "notes.tga", "notes.opus", "other.txt", "victi.txt", "victim-a.txt"}) {
            EXPECT_TRUE(std::filesystem::exists(project + "/" + name)) << name;
        }
        EXPECT_TRUE(std::filesystem::exists(project + "/notes.d"));
        EXPECT_TRUE(std::filesystem::exists(files + "/top.txt"));
    }
    EXPECT_EQ(s.close_window_and_wait(), 0);
    EXPECT_NE(s.newest_log().find("Info: Successfully compiled custom layer from"), std::string::npos) << s.newest_log();
}

// Rows of 15.6 pixels start on whole pixels, so some share a pixel row with the row above:
// the pointer on a row's first pixel row highlights that row alone, and a press there
// opens its file.
TEST_F(Panels_X_Test, TheRowUnderThePointerIsTheOneHighlightedAndPressed) {
    install_shipped_layer(s.install);
    for (int i = 0; i < 6; i++) write_test_file(files + "/r" + std::to_string(i) + ".txt", "r" + std::to_string(i) + "\n");
    ASSERT_TRUE(s.start_editor(files, {}));
    Panel_Geometry g = panel_geometry(s, 4);
    auto row_top = [&](int i) { return truncf(g.list_top() + g.row * i); };
    s.key("ctrl+o");
    ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g) && s.panel_rows(g) == 6; }, 30));
    float x = g.left + 0.3f * g.width;
    for (int i = 1; i < 6; i++) {
        SCOPED_TRACE("row " + std::to_string(i));
        s.move(x, row_top(i));
        EXPECT_TRUE(s.eventually([&] { return s.row_selected(g, i); }, 30)) << "highlighted";
        if (i > 1) {
            EXPECT_FALSE(s.row_selected(g, i - 1)) << "the row above is not";
        }
    }
    s.move(x, row_top(3));
    ASSERT_TRUE(s.eventually([&] { return s.row_selected(g, 3); }, 30));
    s.xdotool({"click", "1"});
    EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g); }, 30));
    s.key("X");
    s.key("ctrl+s");
    EXPECT_TRUE(s.eventually([&] { return read_test_file(files + "/r3.txt") == "Xr3\n"; }, 30)) << "r3.txt was opened";
    EXPECT_EQ(read_test_file(files + "/r2.txt"), "r2\n");
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

// A text without a path saved through the prompt: Enter alone writes over nothing, a typed
// name is created, and an existing file is written over only once the arrows chose it.
TEST_F(Panels_X_Test, TheSavePromptWritesOverAFileOnlyOnceTheUserChoseIt) {
    install_shipped_layer(s.install);
    write_test_file(files + "/aaa_important.txt", "important\n");
    ASSERT_TRUE(s.start_editor(files, {}));
    Panel_Geometry g = panel_geometry(s, 4);
    s.move(5, 590);  // no row under the pointer
    // The new tab is current: with a second one, the previous and next icons come first.
    auto save_new_text = [&](const std::string& text, int tab, int rows) {
        float bar_left = (tab == 0 ? 4 : 6) * (PANELS_FONT + 0.4f * PANELS_FONT);
        s.key("ctrl+n");
        ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, tab)); }, 30));
        s.type(text);
        s.key("ctrl+s");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g) && s.panel_rows(g) == rows; }, 30));
    };
    {
        SCOPED_TRACE("Enter with nothing chosen, then a new name");
        save_new_text("scratch text", 0, 1);
        EXPECT_FALSE(s.row_selected(g, 0));
        s.key("Return");
        s.type("kept.txt");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1 && s.row_selected(g, 0); }, 30)) << "the new-file item";
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] { return read_test_file(files + "/kept.txt") == "scratch text"; }, 30));
        EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g); }, 30));
        EXPECT_EQ(read_test_file(files + "/aaa_important.txt"), "important\n");
    }
    {
        SCOPED_TRACE("the arrows choose the file to write over");
        save_new_text("chosen", 1, 2);  // aaa_important.txt, kept.txt
        s.key("Down");
        ASSERT_TRUE(s.eventually([&] { return s.row_selected(g, 0); }, 30));
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] { return read_test_file(files + "/aaa_important.txt") == "chosen"; }, 30));
    }
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

TEST_F(Panels_X_Test, SearchFilesSearchAndGoToLineJumpAndAPressOutsideCloses) {
    install_shipped_layer(s.install);
    std::string project = files + "/project", text;
    for (int i = 1; i <= 30; i++) {
        text += i == 5 ? "a quirk here\n" : i == 20 ? "the zebra is here\n" : "line " + std::to_string(i) + "\n";
    }
    write_test_file(project + "/haystack.txt", text);
    write_test_file(project + "/other.txt", "nothing to find\n");

    // Queries of one key: a search restarted by a later key shows no hits until they come in,
    // and an Enter then would choose nothing.
    ASSERT_TRUE(s.start_editor(project, {}));
    Panel_Geometry g = panel_geometry(s, 1);
    float bar_left = 4 * (PANELS_FONT + 0.4f * PANELS_FONT);
    // The top of the cursor, left of the text's middle.
    auto cursor_top = [&](int* top) {
        std::vector<int> rows = s.cursor_rows(300);
        if (rows.empty()) return false;
        *top = rows.front();
        return true;
    };

    int line_20 = 0, line_5 = 0, line_9 = 0;
    {
        SCOPED_TRACE("Search Files: the hit's file opens with the cursor on its line");
        s.key("ctrl+shift+f");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.type("z");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; })) << "one hit";
        s.key("Return");
        EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g) && is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
        ASSERT_TRUE(s.eventually([&] { return cursor_top(&line_20); }));
    }
    {
        SCOPED_TRACE("Search in the file and Go to line move the cursor to their lines");
        s.key("ctrl+f");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.type("q");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; }));
        s.key("Return");
        ASSERT_TRUE(s.eventually([&] { return !s.panel_shows(g) && cursor_top(&line_5) && line_5 < line_20; }));
        s.key("ctrl+g");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.type("9");
        ASSERT_TRUE(s.eventually([&] { return s.panel_rows(g) == 1; })) << "the line, as a hit";
        s.key("Return");
        ASSERT_TRUE(s.eventually([&] { return !s.panel_shows(g) && cursor_top(&line_9) && line_9 > line_5; }));
        // Lines high enough in the file that the view, which centres the cursor, stays at the
        // top: evenly spaced, the first right under the tab bar.
        float line_height = (line_20 - line_5) / 15.0f;
        EXPECT_GT(line_height, PANELS_FONT * 0.9f);
        EXPECT_LT(line_height, PANELS_FONT * 2);
        EXPECT_NEAR(line_9 - line_5, 4 * line_height, 2);
        EXPECT_NEAR(line_5, s.bar_height() + 4 * line_height, line_height / 2);
    }
    {
        SCOPED_TRACE("a press outside closes the search, and the keys reach the file");
        s.key("ctrl+f");
        ASSERT_TRUE(s.eventually([&] { return s.panel_shows(g); }));
        s.click(5, 590);
        EXPECT_TRUE(s.eventually([&] { return !s.panel_shows(g); }));
        s.key("Up");
        int moved = 0;
        EXPECT_TRUE(s.eventually([&] { return cursor_top(&moved) && moved < line_9; }));
    }
    EXPECT_EQ(s.close_window_and_wait(), 0);
}
