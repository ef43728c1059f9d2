// The tab bar in a real window under Xvfb: the editor's main loop runs tab_bar_demo's
// frames while xdotool presses, drags and closes tabs and the demo's stdin plays the file
// watcher and the keyboard. Closing the window ends the loop, writes the log and exits 0.
#include "tests/ui/x_session.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/shell/shell_test_support.h"

namespace {

struct Bar_Geometry {
    float left = 0, top = 0, height = 0, tab_width = 0, margin = 0, icon = 0;

    float tab_x(int slot) const { return left + slot * (tab_width + 3); }
    float middle_y() const { return top + height / 2; }
    float close_x(int slot) const { return tab_x(slot) + tab_width - margin - icon / 2; }
};

// Waits for a line that is exactly the text (later lines of the kind pass it by).
bool wait_for_line(X_Session& s, const std::string& text, double seconds = TEST_DEADLINE_SECONDS) {
    double end = now_seconds() + seconds;
    std::string prefix = text.substr(0, text.find(' ') + 1);
    for (;;) {
        double left = end - now_seconds();
        if (left <= 0) return false;
        if (s.out.wait_for(prefix, left) == text) return true;
    }
}

int red_pixels(const std::vector<Pixel>& pixels) {
    int n = 0;
    for (const Pixel& p : pixels) n += p.r > 100 && p.r > p.g + 60 && p.r > p.b + 40;
    return n;
}

}  // namespace

TEST(TabBarUnderX, PressDragCloseAndTheTitles) {
    std::string files = make_scratch_directory(), logs = make_scratch_directory();
    ASSERT_FALSE(files.empty());
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) write_test_file(files + "/" + name, std::string(name) + "\n");

    X_Session s;
    ASSERT_TRUE(s.start_xvfb()) << "Xvfb did not start";
    ASSERT_TRUE(s.start_program({QUARN_TAB_BAR_DEMO, files, logs}, true)) << "the demo did not report ready";

    // The first frame rescales the fonts for the 768-pixel-high screen.
    std::string line = s.out.wait_for("geometry ");
    Bar_Geometry g;
    ASSERT_EQ(sscanf(line.c_str(), "geometry %f %f %f %f %f %f", &g.left, &g.top, &g.height, &g.tab_width, &g.margin,
                     &g.icon), 6) << line;
    EXPECT_EQ(g.tab_width, 100);  // 10 x a 10-pixel UI font
    EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|1:b.txt|2:c.txt"));
    EXPECT_TRUE(wait_for_line(s, "current 2"));

    // A slow frame would otherwise take a press, its moves and its release all at once.
    int syncs = 0;
    auto sync_frame = [&] {
        std::string n = std::to_string(++syncs);
        s.send("sync " + n);
        EXPECT_TRUE(wait_for_line(s, "synced " + n));
    };
    {
        SCOPED_TRACE("a press makes a tab current");
        s.move(g.tab_x(0) + g.tab_width / 3, g.middle_y());
        s.xdotool({"click", "1"});
        EXPECT_TRUE(wait_for_line(s, "current 0"));
    }
    {
        SCOPED_TRACE("titles show unsaved changes and failed saves");
        s.send("modify 1");
        EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|1:*b.txt|2:c.txt"));
        std::string b = files + "/b.txt";
        ASSERT_EQ(unlink(b.c_str()), 0);
        ASSERT_EQ(mkdir(b.c_str(), 0755), 0);  // a save cannot replace a directory
        s.send("save 1");
        EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|1:!*b.txt|2:c.txt"));
        EXPECT_TRUE(wait_for_line(s, "current 1"));
        ASSERT_EQ(rmdir(b.c_str()), 0);
        s.send("save 1");
        EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|1:b.txt|2:c.txt"));
        EXPECT_EQ(read_test_file(b), "b.txt\n");
    }
    {
        SCOPED_TRACE("a file gone from disk has a red title");
        auto tab_pixels = [&] { return s.grab((int)g.tab_x(2), (int)g.top, (int)g.tab_width, (int)g.height); };
        EXPECT_TRUE(s.eventually([&] { return red_pixels(tab_pixels()) == 0; }));
        s.send("gone 2");
        EXPECT_TRUE(s.eventually([&] { return red_pixels(tab_pixels()) > 5; }));
        s.send("back 2");
        EXPECT_TRUE(s.eventually([&] { return red_pixels(tab_pixels()) == 0; }));
    }
    {
        SCOPED_TRACE("a drag past the last slot drops the tab there");
        s.move(g.tab_x(0) + g.tab_width / 2, g.middle_y());
        s.xdotool({"mousedown", "1"});
        EXPECT_TRUE(wait_for_line(s, "current 0"));
        for (int x = 200; x <= 780; x += 145) {
            s.move((float)x, g.middle_y());
            sync_frame();
        }
        s.xdotool({"mouseup", "1"});
        EXPECT_TRUE(wait_for_line(s, "tabs 1:b.txt|2:c.txt|0:a.txt"));
        EXPECT_TRUE(wait_for_line(s, "current 2"));
    }
    {
        SCOPED_TRACE("a drag past the first slot, left of the window, drops it first");
        ASSERT_TRUE(s.move_window(200, 100));
        s.move(g.tab_x(2) + g.tab_width / 2, g.middle_y());
        s.xdotool({"mousedown", "1"});
        sync_frame();
        s.move(g.tab_x(1), g.middle_y());
        sync_frame();
        s.xdotool({"mousemove", "5", std::to_string((int)(100 + g.middle_y()))});  // 195 px left of the window
        sync_frame();
        s.xdotool({"mouseup", "1"});
        EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|1:b.txt|2:c.txt"));
        EXPECT_TRUE(wait_for_line(s, "current 0"));
    }
    {
        SCOPED_TRACE("the close icon closes its own tab, not the current one");
        s.move(g.close_x(1), g.middle_y());
        s.xdotool({"click", "1"});
        EXPECT_TRUE(wait_for_line(s, "tabs 0:a.txt|2:c.txt"));
    }
    {
        SCOPED_TRACE("compile errors: a header opens its file at its line, the copy icon fills the clipboard");
        write_test_file(files + "/d.txt", "one\ntwo\n");
        s.send("errors");
        line = s.out.wait_for("errors ");
        float x = 0, header_1 = 0, icon_1 = 0, header_2 = 0, icon_2 = 0;
        ASSERT_EQ(sscanf(line.c_str(), "errors %f %f %f %f %f", &x, &header_1, &icon_1, &header_2, &icon_2), 5) << line;

        // The notice shows at the tab's top right: compare that corner before and after.
        auto corner = [&] { return s.grab(500, (int)g.top + (int)g.height, 300, (int)(header_2 - g.height)); };
        s.move(x + g.icon / 2, icon_1 + g.icon / 2);
        // A later frame has run: the one that first drew the errors is on the screen.
        sync_frame();
        std::vector<Pixel> before = corner();
        s.xdotool({"click", "1"});
        EXPECT_TRUE(s.eventually([&] { return !same(corner(), before); }));
        s.send("clipboard");
        EXPECT_EQ(s.out.wait_for("clipboard "), "clipboard " + files + "/c.txt:1\\n\\nc.txt\\n\\nSomething is wrong here.");
        // Two seconds later the notice is gone.
        EXPECT_TRUE(s.eventually([&] { return same(corner(), before); }));

        s.move(x + 10, header_2 + 3);
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("queued "), "queued 0 d.txt");
        s.move(x + 10, header_1 + 3);
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("queued "), "queued 1 2");  // c.txt is open in the tab of id 2
    }
    {
        SCOPED_TRACE("a monitor of another size rescales the fonts and centres every file");
        s.send("rescale 1536");
        EXPECT_EQ(s.out.wait_for("rescaled "), "rescaled 20 2");
    }
    {
        SCOPED_TRACE("closing the window ends the loop, writes the log and exits with 0");
        ASSERT_EQ(s.close_window_and_wait(), 0);
        std::vector<std::string> written;
        for (auto& e : std::filesystem::directory_iterator(logs)) written.push_back(read_test_file(e.path()));
        ASSERT_EQ(written.size(), 1u);
        EXPECT_NE(written[0].find("log start: "), std::string::npos);
    }
    remove_scratch_directory(files);
    remove_scratch_directory(logs);
}
