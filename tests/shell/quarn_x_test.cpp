// The quarn program itself under Xvfb, installed with its files in a scratch directory:
// the window and its title, the command line, the information panel and the top bar's
// icons, the file watcher's marks, a save past the file-size limit, the updater swap,
// closing the window, the log it leaves, a start without a display, and the custom layer:
// a failed compile's report and the recompile a changed source asks for, an image loaded
// without compiling, and a layer stopped by a fault in #events; then the shipped layer,
// compiled at start: typing, its key bindings checked through the saved file, colours and
// the adopted syntax_latest.8; and fixture layers compiled, reused, recompiled on a touch,
// stopped by their faults and fixed, and clicks with their modifiers; a second stop signal;
// the tab bar after the window grows, a tab cut at its left edge, and a press on a close
// icon the bar slid under a still pointer; kerned pairs in a tab title.
#include "tests/shell/quarn_x_session.h"

#include <math.h>
#include <stb/stb_truetype.h>
#include <sys/stat.h>

#include "ui/asset_archive.h"

namespace {

const float FONT = DEFAULT_FONT;
const float GAP = 0.4f * FONT, BAR_HEIGHT = 1.5f * FONT, TAB_WIDTH = 10 * FONT;

// The middle of the top bar's icon in this slot (from the left, no update available).
float icon_x(int slot) { return slot * (FONT + GAP) + FONT / 2; }
float icon_y() { return BAR_HEIGHT / 2; }

using Quarn_X_Test = Editor_X_Test<Editor_Session>;

// Moves the open file of a tab away until its title turns red, then back until it is not:
// the file watcher has made whole passes since the call, over the layer's sources first.
void expect_watcher_passes(Editor_Session& s, const std::string& path, float bar_left, int tab) {
    auto red = [&] { return count_pixels(s.tab_label(bar_left, tab), is_red); };
    ASSERT_EQ(rename(path.c_str(), (path + ".away").c_str()), 0);
    EXPECT_TRUE(s.eventually([&] { return red() > 5; })) << "the title turns red";
    ASSERT_EQ(rename((path + ".away").c_str(), path.c_str()), 0);
    EXPECT_TRUE(s.eventually([&] { return red() == 0; })) << "and back";
}

// Whether the image's source table holds the file's present size and time: the image was
// compiled from the file as it is now. The table's rows end with the time and the size.
bool image_records(const std::string& image, const std::string& source) {
    struct stat st;
    if (stat(source.c_str(), &st) != 0) return false;
    u64 row_end[2] = {(u64)st.st_mtim.tv_sec * 1000000000ull + (u64)st.st_mtim.tv_nsec, (u64)st.st_size};
    return read_test_file(image).find(std::string((char*)row_end, sizeof(row_end))) != std::string::npos;
}

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
        ASSERT_EQ(s.close_window_and_wait(), 0);
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
    ASSERT_TRUE(s.eventually([&] { return s.tabs_at_rest(); })) << "the slides have ended";
    int second_tab = (int)(bar_left + TAB_WIDTH + 3 + TAB_WIDTH / 2);  // from the second tab's middle on
    std::vector<Pixel> before = s.grab(second_tab, 0, 800 - second_tab, (int)BAR_HEIGHT);
    Pixel first_tab = s.tab_pixel(bar_left, 0);
    s.type("abc");
    // The pointer over the first tab lights it up in a frame that has handled the keys before.
    s.move(bar_left + TAB_WIDTH / 2, BAR_HEIGHT / 2);
    ASSERT_TRUE(s.eventually([&] { return !same({s.tab_pixel(bar_left, 0)}, {first_tab}); }));
    EXPECT_TRUE(same(s.grab(second_tab, 0, 800 - second_tab, (int)BAR_HEIGHT), before));

    EXPECT_EQ(s.close_window_and_wait(), 0);
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
    EXPECT_TRUE(s.alive()) << "a file-size limit fails the save, not the editor";
    EXPECT_EQ(read_test_file(files + "/big.txt"), big);
    std::vector<std::string> left;
    for (auto& e : std::filesystem::directory_iterator(files)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"big.txt"}) << "no temporary file is left";

    ASSERT_EQ(s.close_window_and_wait(), 0);
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
    // Empty: a layer that sets nothing leaves the search size limit 0.
    write_test_file(files + "/marker.txt", "");
    write_test_file(files + "/other.txt", "");
    ASSERT_TRUE(s.start_editor(files, {}));

    float bar_left = 3 * (FONT + GAP);  // new file, open file and new terminal
    auto report = [&] { return count_pixels(s.grab(0, (int)BAR_HEIGHT + 2, 800, 120), is_bright); };
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && report() > 100; }))
        << "the compile-errors tab, current, with the report";

    // marker.txt, opened from the open icon's list, first of its two rows.
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(s.x, s.window, &attributes));
    float left = (float)(int)(0.05f * attributes.width), top = (float)(int)(0.05f * attributes.height);
    float margin = 0.2f * FONT, header = margin + 4 * (margin + FONT), row = margin + FONT;
    s.click(icon_x(1), icon_y());
    ASSERT_TRUE(s.eventually([&] { return is_bar_colour(s.pixel(left + 2, top + header + 2 * row + margin / 2)); }));
    s.click(left + 40, top + header + 0.5f * row);
    bar_left = 6 * (FONT + GAP);  // new file, open file, new terminal, save, previous and next
    auto file_tab_current = [&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 1)) && !is_current_tab_colour(s.tab_pixel(bar_left, 0));
    };
    EXPECT_TRUE(s.eventually(file_tab_current));
    {
        SCOPED_TRACE("nothing changed: the watcher does not ask again");
        // The watcher notices the file going and coming back, after a whole pass over the
        // layer's sources since the compile: had that pass asked, the report would be current.
        expect_watcher_passes(s, files + "/marker.txt", bar_left, 1);
        EXPECT_TRUE(file_tab_current());
    }

    // The watcher sees the change with no layer loaded; the recompile fails again, and its
    // report comes forward.
    write_test_file(s.install + "/custom.8", "#on_load {}\n");
    EXPECT_TRUE(s.eventually([&] {
        return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && !is_current_tab_colour(s.tab_pixel(bar_left, 1));
    }));
    EXPECT_TRUE(s.alive());
    ASSERT_EQ(s.close_window_and_wait(), 0);
    EXPECT_EQ(s.newest_log().find("Loaded custom layer"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(s.install + "/custom.8b"));
}

TEST_F(Quarn_X_Test, ACurrentImageLoadsWithoutACompileAndItsOnLoadRuns) {
    install_layer_image(s.install, make_log_program());  // #on_load logs, then exit_program
    std::string command = "cd " + shell_word(files) + " && ASAN_OPTIONS=detect_leaks=0 exec " + shell_word(s.install + "/quarn");
    s.program = spawn({"sh", "-c", command}, s.display, nullptr);
    int status = -1;
    ASSERT_TRUE(wait_for_exit(s.program, TEST_DEADLINE_SECONDS, &status));
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
    // A new tab shows in a frame that has handled the key before it; with two tabs the bar
    // also holds the save, previous and next icons.
    s.click(icon_x(0), icon_y());
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(6 * (FONT + GAP), 1)); }));
    EXPECT_TRUE(s.alive());
    ASSERT_EQ(s.close_window_and_wait(), 0);
    EXPECT_NE(s.newest_log().find("The custom layer stopped in #events: bad memory access at 0x0."), std::string::npos)
        << s.newest_log();
    EXPECT_FALSE(std::filesystem::exists(s.install + "/custom.8b")) << "a stopped image is not loaded again";
}

namespace {

// Whether the signal waits in the process's shared pending set: once it is not, a thread
// has taken it.
bool signal_pending(pid_t pid, int signal) {
    std::string status = read_test_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("ShdPnd:\t");
    if (at == std::string::npos) return false;
    return (strtoull(status.c_str() + at + 8, nullptr, 16) >> (signal - 1)) & 1;
}

}  // namespace

// A second stop signal ends the editor at once, by that signal, while the first one's
// shut-down cannot go on: the X server is stopped, so no frame can be drawn.
TEST_F(Quarn_X_Test, ASecondStopSignalEndsTheEditorAtOnce) {
    ASSERT_TRUE(s.start_editor(files, {}));
    kill(s.xvfb, SIGSTOP);
    kill(s.program, SIGINT);
    EXPECT_TRUE(s.eventually([&] { return !signal_pending(s.program, SIGINT); }, 30));
    kill(s.program, SIGTERM);
    int status = -1;
    bool ended = wait_for_exit(s.program, 30, &status);
    kill(s.xvfb, SIGCONT);
    ASSERT_TRUE(ended);
    s.program = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
}

TEST(QuarnWithoutDisplay, SaysSoAndEndsWithOne) {
    std::string install = install_editor();
    int out = -1;
    std::string command = "cd " + shell_word(install) + " && ASAN_OPTIONS=detect_leaks=0 DISPLAY= WAYLAND_DISPLAY= exec ./quarn 2>&1";
    pid_t pid = spawn({"sh", "-c", command}, "", &out);
    Line_Reader reader;
    reader.fd = out;
    std::string message = reader.wait_for("Quarn cannot start");
    int status = -1;
    ASSERT_TRUE(wait_for_exit(pid, TEST_DEADLINE_SECONDS, &status));
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
    EXPECT_EQ(s.close_window_and_wait(), 0);
}

//~ The shipped layer

namespace {

// The default theme's keyword colour and its text colour, as drawn (a glyph's core).
bool is_keyword_colour(Pixel p) { return p.b > 200 && p.b > p.r + 60 && p.g > p.r + 20; }
bool is_text_colour(Pixel p) { return p.r > 150 && abs(p.r - p.g) < 12 && abs(p.g - p.b) < 12; }

struct Shipped_Layer_Test : Quarn_X_Test {
    void SetUp() override {
        Quarn_X_Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        install_shipped_layer(s.install, "");
        s.font = SHIPPED_FONT;
    }

    // Opens the file (written first with the text) and waits for the layer's first frame.
    void open(const std::string& name, const std::string& text) {
        write_test_file(files + "/" + name, text);
        ASSERT_TRUE(s.start_editor(files, {name}));
        ASSERT_TRUE(std::filesystem::exists(s.install + "/custom.8b")) << s.newest_log();
    }

    // Each item is a key (xdotool's names, "ctrl+s") or, after "type:", text to type.
    void press(const std::vector<std::string>& keys) {
        for (const std::string& k : keys) {
            if (k.starts_with("type:")) s.type(k.substr(5));
            else s.key(k);
        }
    }

    // Saves with Ctrl+S and gives what the file then holds. A save replaces the file, also
    // when its text is what it was.
    std::string save_and_read(const std::string& name) {
        std::string path = files + "/" + name;
        struct stat before = {};
        stat(path.c_str(), &before);
        press({"ctrl+s"});
        EXPECT_TRUE(s.eventually([&] {
            struct stat now = {};
            return stat(path.c_str(), &now) == 0 &&
                   (now.st_ino != before.st_ino || now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                    now.st_mtim.tv_nsec != before.st_mtim.tv_nsec);
        })) << "saved";
        return read_test_file(path);
    }
};

}  // namespace

TEST_F(Shipped_Layer_Test, TypingEnterTabAndSaveWithKeywordsColoured) {
    open("t.c", "");
    press({"type:int x = 1;", "Return", "Tab", "type:y"});
    EXPECT_EQ(save_and_read("t.c"), "int x = 1;\n\ty");

    // The first line: "int" in the keyword colour, then "x" and the rest in the text colour.
    int font = (int)SHIPPED_FONT;
    int top = (int)s.bar_height(), height = 2 * font, width = 400;
    int last_keyword = -1, first_text_after = -1;
    ASSERT_TRUE(s.eventually([&] {
        std::vector<Pixel> line = s.grab(0, top, width, height);
        last_keyword = -1;
        for (size_t i = 0; i < line.size(); i++) {
            if (is_keyword_colour(line[i])) last_keyword = std::max(last_keyword, (int)(i % width));
        }
        first_text_after = -1;
        for (size_t i = 0; i < line.size(); i++) {
            int column = (int)(i % width);
            if (last_keyword >= 0 && column > last_keyword && is_text_colour(line[i]) &&
                (first_text_after < 0 || column < first_text_after)) {
                first_text_after = column;
            }
        }
        return last_keyword >= 0 && first_text_after >= 0;
    })) << "keyword up to column " << last_keyword << ", text from " << first_text_after;
    EXPECT_LT(first_text_after - last_keyword, 2 * font) << "the text colour starts with the word after the keyword";
    EXPECT_EQ(s.close_window_and_wait(), 0);
}

TEST_F(Shipped_Layer_Test, KeyFlows) {
    struct Flow {
        const char* name;
        const char* text;
        std::vector<std::string> keys;
        const char* saved;
    };
    const Flow flows[] = {
        {"Enter keeps the indentation", "\tfoo", {"End", "Return", "type:bar"}, "\tfoo\n\tbar"},
        {"Backspace deletes a CR LF at once", "ab\r\ncd", {"Down", "BackSpace"}, "abcd"},
        {"Shift+arrows select, Ctrl+X cuts, Ctrl+V pastes", "hello world",
         {"shift+Right", "shift+Right", "shift+Right", "shift+Right", "shift+Right", "ctrl+x", "End", "ctrl+v"},
         " worldhello"},
        {"Ctrl+Z goes back to the start", "abc",
         {"type:xy", "Return", "type:z", "BackSpace", "shift+Left", "ctrl+x", "ctrl+z", "ctrl+z", "ctrl+z", "ctrl+z",
          "ctrl+z", "ctrl+z", "ctrl+z", "ctrl+z"},
         "abc"},
    };
    for (const Flow& f : flows) {
        SCOPED_TRACE(f.name);
        open("flow.txt", f.text);
        press(f.keys);
        EXPECT_EQ(save_and_read("flow.txt"), f.saved);
        ASSERT_EQ(s.close_window_and_wait(), 0);
        s.window = 0;
    }
}

TEST_F(Shipped_Layer_Test, CtrlTabGoesBackToTheLastTabAndANewFileIsSavedByName) {
    open("a.txt", "a");
    press({"ctrl+n", "type:q", "ctrl+Tab", "type:X"});
    EXPECT_EQ(save_and_read("a.txt"), "Xa") << "typed into a.txt, not the new file";
    press({"ctrl+Tab", "type:w", "ctrl+Tab", "type:Y"});
    EXPECT_EQ(save_and_read("a.txt"), "XYa");
    // The new file is saved through the file lister's "Save File" prompt.
    press({"ctrl+Tab", "ctrl+s", "type:new.txt", "Return"});
    EXPECT_TRUE(s.eventually([&] { return read_test_file(files + "/new.txt") == "qw"; })) << read_test_file(files + "/new.txt");
    EXPECT_EQ(s.close_window_and_wait(), 0);
}

TEST_F(Shipped_Layer_Test, TheShippedSyntaxLatestIsAdoptedAtStartWithOneRecompile) {
    std::string latest = read_test_file(s.install + "/syntax.8") + "// a newer version\n";
    write_test_file(s.install + "/syntax_latest.8", latest);
    open("t.c", "int x;\n");
    EXPECT_TRUE(s.eventually([&] { return !std::filesystem::exists(s.install + "/syntax_latest.8"); }));
    EXPECT_EQ(read_test_file(s.install + "/syntax.8"), latest);
    EXPECT_TRUE(s.eventually([&] { return image_records(s.install + "/custom.8b", s.install + "/syntax.8"); }))
        << "the watcher's recompile";
    // A second recompile, were one to come, is asked by the watcher's next pass over the
    // layer's sources, before it notices the open file going and coming back.
    expect_watcher_passes(s, files + "/t.c", 4 * (s.font + 0.4f * s.font), 0);
    ASSERT_EQ(s.close_window_and_wait(), 0);
    std::string log = s.newest_log();
    size_t compiles = 0;
    for (size_t at = log.find("Successfully compiled custom layer"); at != std::string::npos;
         at = log.find("Successfully compiled custom layer", at + 1)) {
        compiles++;
    }
    EXPECT_EQ(compiles, 2u) << "at start, and once for the adopted syntax.8\n" << log;
}

// Line 11 holds a brace alone: the number's ink and the brace's stand half a character
// apart at least.
TEST_F(Shipped_Layer_Test, LineNumbersStandApartFromTheText) {
    open("t.c", std::string(10, '\n') + "}\n");
    int top = (int)s.bar_height(), width = 8 * (int)SHIPPED_FONT, height = 600 - top;
    std::vector<std::pair<int, int>> lines, runs;  // ink rows of the numbers; ink columns of line 11
    ASSERT_TRUE(s.eventually([&] {
        std::vector<Pixel> view = s.grab(0, top, width, height);
        auto ink = [&](int x, int y) { return is_bright(view[y * width + x]); };
        lines.clear();
        for (int y = 0; y < height; y++) {
            bool any = false;
            for (int x = 0; x < width && !any; x++) any = ink(x, y);
            if (any && (lines.empty() || lines.back().second < y - 1)) lines.push_back({y, y});
            if (any) lines.back().second = y;
        }
        if (lines.size() < 11) return false;
        runs.clear();
        for (int x = 0; x < width; x++) {
            bool any = false;
            for (int y = lines[10].first; y <= lines[10].second && !any; y++) any = ink(x, y);
            if (any && (runs.empty() || runs.back().second < x - 1)) runs.push_back({x, x});
            if (any) runs.back().second = x;
        }
        return runs.size() >= 3;  // "1", "1", "}"
    }, 30)) << lines.size() << " lines, " << runs.size() << " runs of ink on the eleventh";
    int gap = runs.back().first - runs[runs.size() - 2].second - 1;
    EXPECT_GE(gap, SHIPPED_FONT / 2) << "between the number and the brace";
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

//~ Layers compiled from fixtures

namespace {

// A fixture layer beside the shipped inject.8 and api.8, and a start of the editor on it.
struct Fixture_Layer_Test : Quarn_X_Test {
    void SetUp() override {
        Quarn_X_Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        install_shipped_layer(s.install, "");
    }
    void write_layer(const std::string& source) { write_test_file(s.install + "/custom.8", source); }

    // Waits for an editor that ends by itself, as exit_program ends it; its exit status.
    int wait_for_end(double seconds = TEST_DEADLINE_SECONDS) {
        int status = -1;
        if (!wait_for_exit(s.program, seconds, &status)) return -1;
        s.program = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

const char LOG_AND_EXIT[] = "#on_load { log(\"fixed %\", String.[\"layer\"]); exit_program(); }\n";

}  // namespace

TEST_F(Fixture_Layer_Test, CompiledReusedRecompiledOnATouchAndEndedByItsOnLoad) {
    write_layer("#on_load { log(\"% is loaded\", String.[\"the fixture\"]); }\n");
    std::string image = s.install + "/custom.8b";
    ASSERT_TRUE(s.start_editor(files, {}));
    EXPECT_TRUE(std::filesystem::exists(image));
    ASSERT_EQ(s.close_window_and_wait(), 0);
    std::string log = s.newest_log();
    EXPECT_NE(log.find("Info: Successfully compiled custom layer from '" + s.install + "/custom.8'.\nInfo: the fixture is loaded\n"),
              std::string::npos) << log;

    s.window = 0;
    ASSERT_TRUE(s.start_editor(files, {}));
    {
        SCOPED_TRACE("touching custom.8 while the editor runs compiles it again");
        auto written = std::filesystem::last_write_time(image);
        double touched = now_seconds();
        std::filesystem::last_write_time(s.install + "/custom.8", std::filesystem::file_time_type::clock::now());
        EXPECT_TRUE(s.eventually([&] { return std::filesystem::last_write_time(image) != written; }));
        printf("custom.8b rewritten %.3f s after custom.8 was touched\n", now_seconds() - touched);
    }
    ASSERT_EQ(s.close_window_and_wait(), 0);
    log = s.newest_log();
    EXPECT_NE(log.find("Info: Loaded custom layer from '" + image + "' without compiling.\nInfo: the fixture is loaded\n"),
              std::string::npos) << log;
    EXPECT_NE(log.find("Successfully compiled"), std::string::npos) << "the touch";

    write_layer(LOG_AND_EXIT);
    std::string command = "cd " + shell_word(files) + " && ASAN_OPTIONS=detect_leaks=0 exec " + shell_word(s.install + "/quarn");
    s.program = spawn({"sh", "-c", command}, s.display, nullptr);
    EXPECT_EQ(wait_for_end(), 0);
    EXPECT_NE(s.newest_log().find("Info: fixed layer\n"), std::string::npos) << s.newest_log();
}

// Each faulty layer is stopped (or not loaded) with its report shown, and the editor runs
// on until a fixed custom.8 loads; the fixed layer's #on_load then ends the editor.
TEST_F(Fixture_Layer_Test, FaultyLayersAreReportedAndAFixLoads) {
    struct Faulty {
        const char* name;
        const char* source;
        const char* report;  // in the log; a compile's report is only shown
    };
    const Faulty layers[] = {
        {"a division by zero in #on_load", "zero: s64;\n#on_load { x := 10 / zero; log(\"%\", String.[int_to_string(x)]); }\n",
         "The custom layer stopped in #on_load: division by zero."},
        {"reading address 0 in #events", "token: @Editor_Token;\n#events { offset := token.offset; set_cursor_offset(offset); }\n",
         "The custom layer stopped in #events: bad memory access at 0x0."},
        {"endless recursion", "$deeper: (n: s64) -> s64 = { return deeper(n + 1) + 1; };\n#on_load { deeper(0); }\n",
         "The custom layer stopped in #on_load: runaway recursion."},
        {"recursion through a routine in #events",
         "$r: (n: s64) -> s64 = { log(\"depth %\", .[int_to_string(n)]); return r(n + 1) + 1; };\n#events { r(0); }\n",
         "The custom layer stopped in #events: runaway recursion."},
        {"a compile failure", "#on_load { log(\"unfinished\" }\n", nullptr},
    };
    float bar_left = 3 * (FONT + GAP);  // new file, open file and new terminal
    for (const Faulty& f : layers) {
        SCOPED_TRACE(f.name);
        std::filesystem::remove(s.install + "/custom.8b");
        write_layer(f.source);
        ASSERT_TRUE(s.start_editor(files, {}));
        s.key("a");  // for #events
        auto report = [&] { return count_pixels(s.grab(0, (int)BAR_HEIGHT + 2, 800, 120), is_bright); };
        EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)) && report() > 100; }))
            << "the report, current";
        EXPECT_TRUE(s.alive());

        write_layer(LOG_AND_EXIT);
        EXPECT_EQ(wait_for_end(), 0) << "the fixed layer loads";
        // A layer that logs as it recurses fills more than one log file.
        std::string logs;
        for (auto& e : std::filesystem::directory_iterator(s.install + "/logs")) logs += read_test_file(e.path());
        if (f.report) {
            EXPECT_NE(logs.find(f.report), std::string::npos) << s.newest_log();
        }
        std::string log = s.newest_log();
        EXPECT_NE(log.find("Successfully compiled custom layer from '" + s.install + "/custom.8'.\nInfo: fixed layer\n"),
                  std::string::npos) << log;
        s.window = 0;
    }
}

TEST_F(Fixture_Layer_Test, ClicksReachEventsWithTheModifiersHeld) {
    // The first two presses are logged with their modifiers; the second ends the editor.
    write_layer("presses: s64;\n"
                "#events {\n"
                "    events := get_events();\n"
                "    for events -> event {\n"
                "        if event.kind == EVENT_LEFT_PRESS {\n"
                "            log(\"press with %\", String.[int_to_string(event.modifiers)]);\n"
                "            presses += 1;\n"
                "            if presses == 2: exit_program();\n"
                "        }\n"
                "    }\n"
                "}\n");
    ASSERT_TRUE(s.start_editor(files, {}));
    s.move(400, 300);
    // The X server keeps the order: each click carries the modifiers held when it was sent.
    s.xdotool({"windowfocus", "--sync", std::to_string(s.window)});
    s.xdotool({"keydown", "ctrl"});
    s.xdotool({"keyup", "ctrl"});
    s.xdotool({"click", "1"});
    s.xdotool({"keydown", "shift"});
    s.xdotool({"click", "1"});
    s.xdotool({"keyup", "shift"});
    EXPECT_EQ(wait_for_end(), 0);
    EXPECT_NE(s.newest_log().find("Info: press with 0\nInfo: press with 4\n"), std::string::npos) << s.newest_log();
}

//~ The tab bar

namespace {

// Nine new-file tabs, the last current, in a window of the given width; the slots then
// stand as the bar's scroll puts them.
struct Quarn_Tab_Bar_Test : Quarn_X_Test {
    const float bar_left = 6 * (FONT + GAP);  // with the previous and next icons
    const float stride = TAB_WIDTH + 3;

    float slot_x(int index, float scroll) const { return bar_left + index * stride - scroll; }
    Pixel top_pixel(float x) { return s.pixel(x, 1); }  // a tab's top row holds no label

    void open_nine_tabs() {
        ASSERT_TRUE(s.start_editor(files, {}));
        for (int i = 0; i < 9; i++) {
            s.click(icon_x(0), icon_y());
            float scroll = fmaxf(0, (i + 1) * stride - 3 - (800 - bar_left));
            ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(top_pixel(slot_x(i, scroll) + TAB_WIDTH / 2)); }, 30));
        }
    }
    void resize(int width) { s.xdotool({"windowsize", std::to_string(s.window), std::to_string(width), "600"}); }

    // Every tab in its slot for this scroll, and the bar between them: no tab drawn by
    // another scroll than its neighbours'.
    bool tabs_stand_at(float scroll, float bar_right) {
        for (int i = 0; i < 9; i++) {
            float x = slot_x(i, scroll);
            if (x + TAB_WIDTH / 2 > bar_left && x + TAB_WIDTH / 2 < bar_right && is_bar_colour(top_pixel(x + TAB_WIDTH / 2))) {
                return false;
            }
            if (x + TAB_WIDTH + 1 > bar_left && x + TAB_WIDTH + 1 < bar_right && !is_bar_colour(top_pixel(x + TAB_WIDTH + 1))) {
                return false;
            }
        }
        return true;
    }
};

}  // namespace

TEST_F(Quarn_Tab_Bar_Test, AfterTheWindowGrowsTheBarIsDrawnWithoutAGap) {
    open_nine_tabs();
    s.move(5, 590);  // and it stays there: the resize alone must bring the frame
    EXPECT_TRUE(tabs_stand_at(9 * stride - 3 - (800 - bar_left), 800));
    resize(1000);
    EXPECT_TRUE(s.eventually([&] { return tabs_stand_at(9 * stride - 3 - (1000 - bar_left), 1000); }, 30));
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

// A tab cut at the bar's left edge keeps its number in sight and shows its close icon only
// where the number fits before it; cut down to less, a press there shows the tab instead of
// closing one the user cannot tell.
TEST_F(Quarn_Tab_Bar_Test, ATabCutAtTheLeftEdgeShowsItsNumberBeforeItsCloseIcon) {
    open_nine_tabs();
    s.move(5, 590);
    auto ink = [&](float left, float right) {
        std::vector<Pixel> band = s.grab((int)left, 0, (int)(right - left), (int)BAR_HEIGHT);
        return count_pixels(band, [](Pixel p) { return p.r + p.g + p.b > 300; });
    };
    // The second tab 50 pixels in sight: its number, then its close icon 14 pixels from its end.
    float scroll = 9 * stride - 3 - (855 - bar_left), end = slot_x(1, scroll) + TAB_WIDTH;
    ASSERT_NEAR(end, bar_left + 50, 0.5f);
    resize(855);
    s.move(6, 590);  // a frame after the resize, whether or not the resize brings one
    ASSERT_TRUE(s.eventually([&] { return tabs_stand_at(scroll, 855); }, 30));
    EXPECT_TRUE(s.eventually([&] { return ink(bar_left, end - 0.4f * FONT - FONT - 2) > 5; }, 30)) << "the number";
    EXPECT_GT(ink(end - 0.4f * FONT - FONT, end - 0.4f * FONT), 5) << "the close icon";

    // 14 pixels in sight: the close icon would be all there is.
    scroll = 9 * stride - 3 - (819 - bar_left);
    end = slot_x(1, scroll) + TAB_WIDTH;
    ASSERT_NEAR(end, bar_left + 14, 0.5f);
    resize(819);
    s.move(5, 590);
    ASSERT_TRUE(s.eventually([&] { return tabs_stand_at(scroll, 819); }, 30));
    EXPECT_EQ(ink(bar_left, end), 0);
    s.click(bar_left + 6, icon_y());
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(top_pixel(bar_left + TAB_WIDTH / 2)); }, 30))
        << "the tab, current, in sight";
    EXPECT_TRUE(tabs_stand_at(stride, 819)) << "and none closed";
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

// A press selects the tab cut at the right edge and the bar slides it into sight, which puts
// its close icon under the pointer; a second press there, the pointer not moved, closes
// nothing: the user never saw that icon under it.
TEST_F(Quarn_Tab_Bar_Test, APressOnACloseIconTheBarSlidUnderAStillPointerClosesNothing) {
    open_nine_tabs();
    resize(752);  // the seventh tab 50 pixels in sight once the first is current
    s.click(icon_x(5), icon_y());  // next: from the last to the first
    ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(top_pixel(slot_x(0, 0) + TAB_WIDTH / 2)); }, 30));
    ASSERT_NEAR(slot_x(6, 0) + 50, 752, 0.5f);

    float point = 745;  // in the seventh tab's part in sight, left of where its close icon comes
    s.click(point, icon_y());
    ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(top_pixel(slot_x(6, 50) + 8)); }, 30)) << "slid by 50";
    float close_x = slot_x(6, 50) + TAB_WIDTH - 0.4f * FONT - FONT;
    ASSERT_TRUE(point >= close_x && point < close_x + FONT) << "its close icon is now under the pointer";
    s.xdotool({"click", "1"});

    // A press on the fourth tab: once it is current, the bar shows whether a tab went.
    s.click(slot_x(3, 50) + 10, icon_y());
    EXPECT_TRUE(s.eventually([&] { return is_current_tab_colour(top_pixel(slot_x(3, 50) + 10)); }, 30));
    EXPECT_TRUE(tabs_stand_at(50, 752)) << "nine tabs, still scrolled by 50";
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

//~ The interface font

namespace {

// The interface font from the archive the build lays out beside the editor, as stb_truetype
// reads it: its own figures, in font units, are what the drawn text is checked against.
stbtt_fontinfo* archive_ui_font() {
    static stbtt_fontinfo info;
    static bool done = false, good = false;
    if (!done) {
        done = true;
        std::string bin = std::filesystem::path(QUARN_EDITOR).parent_path().string();
        String data = init_assets(String{(u8*)bin.data(), (s64)bin.size()}) ? get_asset(STR("UI_FONT")) : String{};
        good = data.count > 0 && stbtt_InitFont(&info, data.data, 0);
    }
    return good ? &info : nullptr;
}

// Fonts of 27 pixels: a kerning of a pixel or two is plain to see.
struct Tall_Screen_Test : Quarn_X_Test {
    Tall_Screen_Test() {
        screen = "1024x2000x24";
        s.font = (float)(u32)(13.5f / 1000.0f * 2000);
    }
};

}  // namespace

// A title's ink is as wide as its advances and its pairs' kerning make it: each pair's
// kerning, scaled as the glyphs are, moves every glyph after it.
TEST_F(Tall_Screen_Test, KernedPairsInATabTitleAreSpacedAsTheFontSays) {
    stbtt_fontinfo* font = archive_ui_font();
    ASSERT_NE(font, nullptr);
    float scale = stbtt_ScaleForPixelHeight(font, s.font);
    for (const char* title : {"AVAVAV", "ToTuTo"}) {
        SCOPED_TRACE(title);
        // From the first glyph's left edge to the last one's right edge, in font units.
        float units = 0;
        int n = (int)strlen(title), advance, bearing, x0, y0, x1, y1;
        stbtt_GetCodepointHMetrics(font, title[0], &advance, &bearing);
        units -= bearing;
        float kerning = 0;
        for (int i = 0; i + 1 < n; i++) {
            stbtt_GetCodepointHMetrics(font, title[i], &advance, &bearing);
            units += advance;
            kerning += stbtt_GetCodepointKernAdvance(font, title[i], title[i + 1]);
        }
        stbtt_GetCodepointBox(font, title[n - 1], &x0, &y0, &x1, &y1);
        units += x1 + kerning;
        ASSERT_LT(kerning * scale, -4) << "the pairs are kerned";

        write_test_file(files + "/" + title, "");
        ASSERT_TRUE(s.start_editor(files, {title}));
        float bar_left = 4 * 1.4f * s.font;  // new file, open file, new terminal and save
        // The label's runs of ink: the number, the title, the close icon.
        std::vector<std::pair<int, int>> runs;
        ASSERT_TRUE(s.eventually([&] {
            int left = (int)bar_left, width = (int)s.tab_width(), height = (int)s.bar_height();
            std::vector<Pixel> band = s.grab(left, 0, width, height);
            runs.clear();
            int gap = 3;
            for (int column = 0; column < width; column++) {
                bool ink = false;
                for (int y = 0; y < height && !ink; y++) ink = band[y * width + column].r + band[y * width + column].g > 250;
                if (ink && gap >= 3) runs.push_back({column, column});
                if (ink) runs.back().second = column;
                gap = ink ? 0 : gap + 1;
            }
            return runs.size() == 3;
        }, 30)) << runs.size() << " runs";
        float drawn = runs[1].second + 1 - runs[1].first;
        EXPECT_NEAR(drawn, units * scale, 2.5f) << "without kerning " << (units - kerning) * scale;
        ASSERT_EQ(s.close_window_and_wait(30), 0);
        s.window = 0;
    }
}

