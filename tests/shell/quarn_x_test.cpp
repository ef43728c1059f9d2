// The quarn program itself under Xvfb, installed with its files in a scratch directory:
// the window and its title, the command line, the information panel and the top bar's
// icons, the file watcher's marks, a save past the file-size limit, the updater swap,
// closing the window, the log it leaves, a start without a display, and the custom layer:
// a failed compile's report and the recompile a changed source asks for, an image loaded
// without compiling, and a layer stopped by a fault in #events.
#include "tests/shell/quarn_x_session.h"

#include <sys/stat.h>

namespace {

const float FONT = DEFAULT_FONT;
const float GAP = 0.4f * FONT, BAR_HEIGHT = 1.5f * FONT, TAB_WIDTH = 10 * FONT;

// The middle of the top bar's icon in this slot (from the left, no update available).
float icon_x(int slot) { return slot * (FONT + GAP) + FONT / 2; }
float icon_y() { return BAR_HEIGHT / 2; }

using Quarn_X_Test = Editor_X_Test<Editor_Session>;

}  // namespace

TEST_F(Quarn_X_Test, ARelativeFileAtALineAndTheWatcher) {
    // 45 lines: line 30 stands in the middle and the line appended later is in sight too.
    std::string lines;
    for (int i = 1; i <= 45; i++) lines += "line number " + std::to_string(i) + "\n";
    write_test_file(files + "/notes.txt", lines);
    write_test_file(s.install + "/updater", "old updater");
    write_test_file(s.install + "/_updater", "new updater");

    ASSERT_TRUE(s.start_editor(files, {"notes.txt", "30"}));
    {
        SCOPED_TRACE("the window and its icon");
        char* name = nullptr;
        ASSERT_TRUE(XFetchName(s.x, s.window, &name));
        EXPECT_STREQ(name, TITLE);
        XFree(name);
        Atom type;
        int format;
        unsigned long items = 0, left = 0;
        unsigned char* icon = nullptr;
        XGetWindowProperty(s.x, s.window, XInternAtom(s.x, "_NET_WM_ICON", False), 0, 2, False, AnyPropertyType, &type,
                           &format, &items, &left, &icon);
        EXPECT_EQ(items, 2u) << "the icon's width and height";
        if (icon) XFree(icon);
    }
    {
        SCOPED_TRACE("the updater an update delivered took the old one's place before the window");
        EXPECT_EQ(read_test_file(s.install + "/updater"), "new updater");
        EXPECT_FALSE(std::filesystem::exists(s.install + "/_updater"));
    }
    // One file tab, current, right of the new-file, open-file, new-terminal and save icons.
    float bar_left = 4 * (FONT + GAP);
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
    EXPECT_TRUE(is_bar_colour(s.pixel(bar_left + TAB_WIDTH + 40, 1))) << "and no second tab";

    {
        SCOPED_TRACE("the cursor, in the theme's cyan, on line 30 in the middle of the view");
        std::vector<int> rows;
        ASSERT_TRUE(s.eventually([&] {
            rows.clear();
            std::vector<Pixel> column = s.grab(0, (int)BAR_HEIGHT, 4, 600 - (int)BAR_HEIGHT);
            for (size_t i = 0; i < column.size(); i++) {
                if (is_cyan(column[i])) rows.push_back((int)(i / 4) + (int)BAR_HEIGHT);
            }
            return !rows.empty();
        }));
        float cursor_middle = (rows.front() + rows.back()) / 2.0f, view_middle = (BAR_HEIGHT + 600) / 2;
        EXPECT_NEAR(cursor_middle, view_middle, FONT * 1.5f);
        // Line 30 of evenly spaced lines: 29 line heights below the first.
        float line_height = (rows.back() - rows.front() + 1);
        EXPECT_NEAR(rows.front(), BAR_HEIGHT + 29 * line_height, 2 * line_height);
    }
    {
        SCOPED_TRACE("text appended by another program shows in the view");
        auto below_the_text = [&] { return count_pixels(s.grab(0, 470, 300, 40), is_bright); };
        EXPECT_EQ(below_the_text(), 0);
        std::string appended;
        for (int i = 0; i < 4; i++) appended += "appended by another program\n";
        write_test_file(files + "/notes.txt", lines + appended);
        EXPECT_TRUE(s.eventually([&] { return below_the_text() > 50; }));
    }
    {
        SCOPED_TRACE("deleting the file turns its title red; restoring it clears the red");
        EXPECT_EQ(count_pixels(s.tab_label(bar_left, 0), is_red), 0);
        std::string path = files + "/notes.txt";
        ASSERT_EQ(rename(path.c_str(), (path + ".away").c_str()), 0);
        EXPECT_TRUE(s.eventually([&] { return count_pixels(s.tab_label(bar_left, 0), is_red) > 5; }));
        ASSERT_EQ(rename((path + ".away").c_str(), path.c_str()), 0);
        EXPECT_TRUE(s.eventually([&] { return count_pixels(s.tab_label(bar_left, 0), is_red) == 0; }));
    }
    {
        SCOPED_TRACE("closing the window ends the program with 0 and writes the log");
        ASSERT_EQ(s.close_window_and_wait(30), 0);
        std::string log = s.newest_log();
        EXPECT_NE(log.find("Info: log start: "), std::string::npos) << log;
        EXPECT_NE(log.find("Info: Quarn version 0.3.2\n\nInfo: --- General Information ---\nInfo: CPU model:      "),
                  std::string::npos) << log;
        for (const char* label : {"CPU ISA:        ", "Num. CPU cores: ", "Usable RAM:     ", "OS:             "}) {
            EXPECT_NE(log.find(std::string("\nInfo: ") + label), std::string::npos) << label;
        }
        EXPECT_NE(log.find("Info: Command line:  " + s.install + "/quarn notes.txt 30\n"), std::string::npos) << log;
    }
}

TEST_F(Quarn_X_Test, ThePanelTheNewTabIconsAndTheNeighbourTabs) {
    ASSERT_TRUE(s.start_editor(files, {}));
    auto panel = [&] { return count_pixels(s.grab(200, 250, 400, 100), is_bright); };
    EXPECT_TRUE(s.eventually([&] { return panel() > 200; })) << "the information panel's text";

    s.click(icon_x(0), icon_y());
    float bar_left = 4 * (FONT + GAP);  // new file, open file, new terminal and save
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
    EXPECT_TRUE(s.eventually([&] { return panel() == 0; })) << "a tab hides the panel";

    s.click(icon_x(0), icon_y());
    bar_left = 6 * (FONT + GAP);  // now with the previous and next icons
    EXPECT_TRUE(s.eventually([&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 1)) && !is_current_tab_colour(s.tab_pixel(bar_left, 0));
    })) << "the second tab, right of the first, is current";

    s.click(icon_x(4), icon_y());  // previous
    EXPECT_TRUE(s.eventually([&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && !is_current_tab_colour(s.tab_pixel(bar_left, 1));
    }));
    s.click(icon_x(4), icon_y());  // previous again wraps to the last
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 1)); }));
    s.click(icon_x(5), icon_y());  // next wraps to the first
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));

    s.click(icon_x(2), icon_y());  // a terminal, right of the current tab
    EXPECT_TRUE(s.eventually([&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 1)) && !is_bar_colour(s.tab_pixel(bar_left, 2));
    }));

    // A layer without an #events block: the keys reach nothing, typing changes no pixel of the tabs.
    std::vector<Pixel> before;
    ASSERT_TRUE(s.eventually([&] {  // once the last slide has ended
        std::vector<Pixel> now = s.grab(0, 0, 800, (int)BAR_HEIGHT);
        bool still = same(now, before);
        before = now;
        usleep(100000);
        return still;
    }));
    s.xdotool({"type", "--window", std::to_string(s.window), "abc"});
    usleep(300000);
    EXPECT_TRUE(same(s.grab(0, 0, 800, (int)BAR_HEIGHT), before));

    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

TEST_F(Quarn_X_Test, ASavePastTheFileSizeLimitFailsAndTheEditorRunsOn) {
    std::string big(200 * 1024, 'q');
    for (size_t i = 99; i < big.size(); i += 100) big[i] = '\n';
    write_test_file(files + "/big.txt", big);

    // 128 blocks of 512 octets: the log fits, the file does not.
    ASSERT_TRUE(s.start_editor(files, {"big.txt"}, "ulimit -f 128 && "));
    float bar_left = 4 * (FONT + GAP);
    ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
    std::vector<Pixel> label = s.tab_label(bar_left, 0);

    s.click(icon_x(3), icon_y());  // save
    EXPECT_TRUE(s.eventually([&] { return !same(s.tab_label(bar_left, 0), label); })) << "the title shows the failure";
    usleep(300000);
    EXPECT_TRUE(s.alive()) << "a file-size limit fails the save, not the editor";
    EXPECT_EQ(read_test_file(files + "/big.txt"), big);
    std::vector<std::string> left;
    for (auto& e : std::filesystem::directory_iterator(files)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"big.txt"}) << "no temporary file is left";

    ASSERT_EQ(s.close_window_and_wait(30), 0);
    EXPECT_NE(s.newest_log().find("ERROR"), std::string::npos);
}

//~ The custom layer

TEST_F(Quarn_X_Test, AFailedCompileIsShownAndAChangedSourceCompilesAgain) {
    // The shipped support source and no image: the layer is compiled at start. This compiler
    // cannot compile the shipped layer yet, so every compile fails with a report.
    std::filesystem::path bin = std::filesystem::path(QUARN_EDITOR).parent_path();
    std::filesystem::remove(s.install + "/custom.8b");
    std::filesystem::copy_file(bin / "inject.8", s.install + "/inject.8");
    write_test_file(s.install + "/custom.8", "#on_load { log(\"unfinished\" }\n");
    ASSERT_TRUE(s.start_editor(files, {}));

    float bar_left = 3 * (FONT + GAP);  // new file, open file and new terminal
    auto report = [&] { return count_pixels(s.grab(0, (int)BAR_HEIGHT + 2, 800, 120), is_bright); };
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && report() > 100; }))
        << "the compile-errors tab, current, with the report";

    s.click(icon_x(0), icon_y());
    bar_left = 6 * (FONT + GAP);  // new file, open file, new terminal, save, previous and next
    auto file_tab_current = [&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 1)) && !is_current_tab_colour(s.tab_pixel(bar_left, 0));
    };
    EXPECT_TRUE(s.eventually(file_tab_current));
    usleep(600000);
    EXPECT_TRUE(file_tab_current()) << "nothing changed: the watcher does not ask again";

    // The watcher sees the change with no layer loaded; the recompile fails again, and its
    // report comes forward.
    write_test_file(s.install + "/custom.8", "#on_load {}\n");
    EXPECT_TRUE(s.eventually([&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && !is_current_tab_colour(s.tab_pixel(bar_left, 1));
    }));
    EXPECT_TRUE(s.alive());
    ASSERT_EQ(s.close_window_and_wait(30), 0);
    EXPECT_EQ(s.newest_log().find("Loaded custom layer"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(s.install + "/custom.8b"));
}

TEST_F(Quarn_X_Test, ACurrentImageLoadsWithoutACompileAndItsOnLoadRuns) {
    install_layer_image(s.install, make_log_program());  // #on_load logs, then exit_program
    std::string command = "cd " + in_quotes(files) + " && ASAN_OPTIONS=detect_leaks=0 exec " + in_quotes(s.install + "/quarn");
    s.program = spawn({"sh", "-c", command}, s.display, nullptr);
    int status = -1;
    ASSERT_TRUE(wait_for_exit(s.program, 60, &status));
    s.program = -1;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string log = s.newest_log();
    EXPECT_NE(log.find("Info: Loaded custom layer from '" + s.install + "/custom.8b' without compiling.\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Info: value: 42\n"), std::string::npos) << log;
}

TEST_F(Quarn_X_Test, ALayerThatFaultsInEventsIsStoppedAndTheEditorRunsOn) {
    // #events reads address 0.
    install_layer_image(s.install, make_block_program({0x48, 0x8B, 0x04, 0x25, 0, 0, 0, 0, 0xC3}, &Test_Program::events));
    ASSERT_TRUE(s.start_editor(files, {}));
    auto panel = [&] { return count_pixels(s.grab(200, 250, 400, 100), is_bright); };
    EXPECT_TRUE(s.eventually([&] { return panel() > 200; })) << "no report at start";

    s.xdotool({"key", "--window", std::to_string(s.window), "a"});
    float bar_left = 3 * (FONT + GAP);
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); })) << "the report, current";
    s.xdotool({"key", "--window", std::to_string(s.window), "b"});  // nothing is loaded any more
    usleep(300000);
    EXPECT_TRUE(s.alive());
    ASSERT_EQ(s.close_window_and_wait(30), 0);
    EXPECT_NE(s.newest_log().find("The custom layer stopped in #events: bad memory access at 0x0."), std::string::npos)
        << s.newest_log();
    EXPECT_FALSE(std::filesystem::exists(s.install + "/custom.8b")) << "a stopped image is not loaded again";
}

TEST(QuarnWithoutDisplay, SaysSoAndEndsWithOne) {
    std::string install = install_editor();
    int out = -1;
    std::string command = "cd " + in_quotes(install) + " && ASAN_OPTIONS=detect_leaks=0 DISPLAY= WAYLAND_DISPLAY= exec ./quarn 2>&1";
    pid_t pid = spawn({"sh", "-c", command}, "", &out);
    Line_Reader reader;
    reader.fd = out;
    std::string message = reader.wait_for("Quarn cannot start", 60);
    int status = -1;
    ASSERT_TRUE(wait_for_exit(pid, 60, &status));
    close(out);
    EXPECT_NE(message.find("no window could be opened"), std::string::npos) << message;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);

    std::string log;
    for (auto& e : std::filesystem::directory_iterator(install + "/logs")) log += read_test_file(e.path());
    EXPECT_NE(log.find("ERROR"), std::string::npos);
    EXPECT_NE(log.find("Quarn cannot start: no window could be opened"), std::string::npos) << log;
    remove_scratch_directory(install);
}

TEST_F(Quarn_X_Test, TheOpenIconListsTheWorkingDirectory) {
    // Empty files: a layer that sets nothing leaves the search size limit 0, and larger files
    // are left out.
    write_test_file(files + "/alpha.txt", "");
    write_test_file(files + "/beta.txt", "");
    ASSERT_TRUE(s.start_editor(files, {}));
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(s.x, s.window, &attributes));
    float left = (float)(int)(0.05f * attributes.width), top = (float)(int)(0.05f * attributes.height);
    // The panel's header: a margin and four rows of the UI font, each after a margin.
    float margin = 0.2f * FONT, header = margin + 4 * (margin + FONT), row = margin + FONT;
    auto panel_shows = [&] { return is_bar_colour(s.pixel(left + 2, top + header + 2 * row + margin / 2)); };
    float bar_left = 4 * (FONT + GAP);

    s.click(icon_x(1), icon_y());
    EXPECT_TRUE(s.eventually([&] { return panel_shows(); })) << "two rows under the header";
    s.click(left + 40, top + header + 1.5f * row);  // beta.txt, after alpha.txt
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); })) << "its tab";
    EXPECT_TRUE(s.eventually([&] { return !panel_shows(); }));

    s.click(icon_x(1), icon_y());
    EXPECT_TRUE(s.eventually([&] { return panel_shows(); }));
    s.click(5, attributes.height - 5.0f);  // outside the panel
    EXPECT_TRUE(s.eventually([&] { return !panel_shows(); }));
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}
