// Terminal tabs of the quarn program with the layer it ships, under Xvfb: a command's
// colours under its green header, killing a command by "Kill Process" and by the layer's
// binding, cd and clear, the copy icon and the clipboard, a wrapped line's background, a
// drag upwards, a command run by the layer's run_terminal_command, closing the window
// while a command runs, and every way a command ends shown in its header and its tab.
#include "tests/shell/quarn_x_session.h"

#include <math.h>

namespace {

const float TERMINAL_FONT = SHIPPED_FONT;
const float LINE = TERMINAL_FONT;  // the code font's line height at this size

bool is_green(Pixel p) { return p.g > 200 && p.r < 160 && p.b < 180; }
bool is_blue(Pixel p) { return p.b > 80 && p.b > p.r + 50 && p.b > p.g + 50; }
bool is_yellow(Pixel p) { return p.r > 200 && p.g > 200 && p.b < 80; }

// The editor's commands whose arguments are exactly these: found below the editor, never by
// name across the machine, where another run or user may run the same line.
std::vector<Process_Entry> commands_of(pid_t editor, const std::vector<std::string>& arguments) {
    std::vector<Process_Entry> out;
    for (const Process_Entry& e : live_descendants(editor)) {
        if (process_arguments(e.pid) == arguments) out.push_back(e);
    }
    return out;
}

// Whether a command found before still runs: looked for in its session, which it keeps
// after the editor is gone.
bool still_runs(const Process_Entry& command, const std::vector<std::string>& arguments) {
    for (int pid : live_processes_of_session(command.session)) {
        if (process_arguments(pid) == arguments) return true;
    }
    return false;
}

// The directory's components as the layer writes an array of them, the root one of them.
std::string components_literal(const std::string& path) {
    std::string out = "String.[";
    for (const auto& part : std::filesystem::path(path)) out += (out.back() == '[' ? "\"" : ", \"") + part.string() + "\"";
    return out + "]";
}

// The shipped text theme's text colour as the screen shows it (the renderer writes sRGB).
Pixel shipped_text_colour() {
    std::string themes = read_test_file(std::filesystem::path(QUARN_EDITOR).parent_path() / "themes_latest.8");
    size_t at = themes.find("    text = .{");
    float c[3] = {-1, -1, -1};
    if (at != std::string::npos) sscanf(themes.c_str() + at, "    text = .{%f, %f, %f", &c[0], &c[1], &c[2]);
    int v[3];
    for (int i = 0; i < 3; i++) {
        float s = c[i] <= 0.0031308f ? c[i] * 12.92f : 1.055f * powf(c[i], 1 / 2.4f) - 0.055f;
        v[i] = (int)lroundf(s * 255);
    }
    return Pixel{v[0], v[1], v[2]};
}

struct Terminal_Session : Editor_Session {
    Terminal_Session() { font = TERMINAL_FONT; }

    float header_top() const { return bar_height(); }                      // the running command or the directory
    float input_top() const { return bar_height() + 1.5f * TERMINAL_FONT; }
    float history_top() const { return input_top() + LINE; }

    void run(const std::string& line) {
        type(line);
        key("Return");
    }

    // The tops of the history's block headers, green or red, from the top down: boxes as
    // high as a line, in the padding left of their text, where no glyph of output is as high.
    std::vector<int> block_headers(bool (*colour)(Pixel)) {
        int top = (int)history_top(), height = 600 - top;
        std::vector<Pixel> column = grab(1, top, 1, height);
        std::vector<int> tops;
        int run = 0;
        for (int i = 0; i < height; i++) {
            run = colour(column[i]) ? run + 1 : 0;
            if (run == (int)TERMINAL_FONT - 1) tops.push_back(top + i - run + 1);
        }
        return tops;
    }

    // Where the yellow box of the running command ends in the header, 0 when none shows.
    int running_command_end() {
        std::vector<Pixel> row = grab(0, (int)(header_top() + 0.75f * TERMINAL_FONT), 800, 1);
        int end = 0;
        for (int i = 0; i < (int)row.size(); i++) {
            if (is_yellow(row[i])) end = i;
        }
        return end;
    }

    // The brightest pixel of a rectangle: a glyph's fully covered pixel shows its colour.
    Pixel brightest(int left, int top, int width, int height) {
        Pixel best = {0, 0, 0};
        for (Pixel p : grab(left, top, width, height)) {
            if (p.r + p.g + p.b > best.r + best.g + best.b) best = p;
        }
        return best;
    }

    // The clipboard's text, asked of its owner as any X program asks.
    std::string clipboard() {
        Window w = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1, 1, 0, 0, 0);
        Atom property = XInternAtom(x, "QUARN_TEST_CLIPBOARD", False);
        XConvertSelection(x, XInternAtom(x, "CLIPBOARD", False), XInternAtom(x, "UTF8_STRING", False), property, w,
                          CurrentTime);
        XFlush(x);
        std::string text;
        XEvent e;
        if (wait_for_condition([&] { return XCheckTypedWindowEvent(x, w, SelectionNotify, &e); }, TEST_DEADLINE_SECONDS,
                               10000)) {
            Atom type;
            int format;
            unsigned long count = 0, left = 0;
            unsigned char* data = nullptr;
            if (e.xselection.property != 0 &&
                XGetWindowProperty(x, w, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count, &left,
                                   &data) == Success &&
                data) {
                text.assign((char*)data, count);
            }
            if (data) XFree(data);
        }
        XDestroyWindow(x, w);
        return text;
    }

    // The top of the copy icon of the last block, whose header is given, once its output has
    // come in: the first line with ink after the output, which may wrap onto any number of
    // lines (a path as long as TMPDIR makes it), and the empty line its last line feed opens.
    // -1 while it is not there.
    int copy_icon_top(int header) {
        auto inked = [&](int line) { return count_pixels(grab(0, header + (int)(line * LINE), 800, (int)LINE), is_bright) > 5; };
        int lines = (int)((600 - header) / LINE);  // the lines below the header that show
        int line = 1;
        while (line < lines && inked(line)) line++;
        if (line == 1) return -1;  // neither output nor icon yet
        while (line < lines && !inked(line)) line++;
        return line < lines ? header + (int)(line * LINE) : -1;
    }

    // A press on the copy icon of the last block.
    void click_copy_icon(int header) {
        int top = -1;
        EXPECT_TRUE(eventually([&] { return (top = copy_icon_top(header)) >= 0; })) << "the copy icon";
        float left = 0.2f * TERMINAL_FONT;
        click(left + TERMINAL_FONT / 2, top + TERMINAL_FONT / 2);
    }
};

using Terminal_X_Test = Editor_X_Test<Terminal_Session>;

}  // namespace

TEST_F(Terminal_X_Test, ColoursKillsCdClearAndClosingTheWindow) {
    install_shipped_layer(s.install);
    ASSERT_TRUE(s.start_editor(files, {}));
    float bar_left = 3 * (TERMINAL_FONT + 0.4f * TERMINAL_FONT);  // new file, open file and new terminal: no save for a terminal
    // The terminal tab's status icon, right of its kind icon.
    auto status_icon = [&] { return s.grab((int)(bar_left + 1.45f * TERMINAL_FONT), 2, (int)TERMINAL_FONT + 1, (int)s.bar_height() - 4); };

    s.key("ctrl+t");
    ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));
    {
        SCOPED_TRACE("red in red, plain in the text's colour, under a green header");
        s.run("printf '\\e[31mred\\e[0m plain'");
        std::vector<int> headers;
        ASSERT_TRUE(s.eventually([&] { return (headers = s.block_headers(is_green)).size() == 1; }));
        int output = headers[0] + (int)LINE;
        EXPECT_TRUE(s.eventually([&] { return count_pixels(s.grab(0, output, (int)(3 * TERMINAL_FONT), (int)LINE), is_red) > 10; }))
            << "red";
        Pixel plain = s.brightest((int)(3 * TERMINAL_FONT), output, (int)(5 * TERMINAL_FONT), (int)LINE), text = shipped_text_colour();
        EXPECT_NEAR(plain.r, text.r, 6);
        EXPECT_NEAR(plain.g, text.g, 6);
        EXPECT_NEAR(plain.b, text.b, 6);
    }
    std::vector<Pixel> done = status_icon();
    std::vector<Pixel> failed;
    {
        SCOPED_TRACE("Kill Process ends the command: its header turns red, the tab shows the failure");
        s.run("sleep 100.25");
        int end = 0;
        ASSERT_TRUE(s.eventually([&] { return (end = s.running_command_end()) > 0; }));
        const std::vector<std::string> sleeper = {"sleep", "100.25"};
        std::vector<Process_Entry> found;
        ASSERT_TRUE(s.eventually([&] { return (found = commands_of(s.program, sleeper)).size() == 1; }));
        s.click(end + 0.4f * TERMINAL_FONT + 2 * TERMINAL_FONT, s.header_top() + 0.75f * TERMINAL_FONT);
        EXPECT_TRUE(s.eventually([&] { return s.block_headers(is_red).size() == 1; }));
        EXPECT_TRUE(s.eventually([&] { return !still_runs(found[0], sleeper); }));
        EXPECT_TRUE(s.eventually([&] { return !same(status_icon(), done); }));
        failed = status_icon();
    }
    {
        SCOPED_TRACE("and so does the layer's binding, Ctrl+C");
        s.run("sleep 100.5");
        const std::vector<std::string> sleeper = {"sleep", "100.5"};
        std::vector<Process_Entry> found;
        ASSERT_TRUE(s.eventually([&] {
            return (found = commands_of(s.program, sleeper)).size() == 1 && s.running_command_end() > 0;
        }));
        s.key("ctrl+c");
        EXPECT_TRUE(s.eventually([&] { return s.block_headers(is_red).size() == 2; }));
        EXPECT_TRUE(s.eventually([&] { return !still_runs(found[0], sleeper); }));
        EXPECT_TRUE(s.eventually([&] { return same(status_icon(), failed); }));
    }
    {
        // To the root: a directory below the scratch folder shows no change in a header that
        // a long TMPDIR fills to its edge.
        SCOPED_TRACE("cd: the header shows the new directory, the title changes");
        auto directory_end = [&] {
            std::vector<Pixel> row = s.grab(0, (int)s.header_top(), 800, (int)(1.5f * TERMINAL_FONT));
            int end = 0;
            for (int i = 0; i < (int)row.size(); i++) {
                if (is_bright(row[i])) end = std::max(end, i % 800);
            }
            return end;
        };
        EXPECT_TRUE(s.eventually([&] { return directory_end() > 2 * TERMINAL_FONT; })) << "the scratch folder";
        std::vector<Pixel> title = s.tab_label(bar_left, 0);
        s.run("cd /");
        EXPECT_TRUE(s.eventually([&] {
            int end = directory_end();
            return end > 0 && end < 2 * TERMINAL_FONT;
        })) << "\"/\" alone";
        EXPECT_TRUE(s.eventually([&] { return !same(s.tab_label(bar_left, 0), title); }));
    }
    {
        SCOPED_TRACE("clear empties the view");
        s.run("clear");
        EXPECT_TRUE(s.eventually([&] {
            return count_pixels(s.grab(0, (int)s.history_top(), 800, 600 - (int)s.history_top()), is_bright) == 0;
        }));
    }
    {
        SCOPED_TRACE("closing the window while a command runs leaves no process");
        s.run("sleep 1000.75");
        const std::vector<std::string> sleeper = {"sleep", "1000.75"};
        std::vector<Process_Entry> found;
        ASSERT_TRUE(s.eventually([&] { return (found = commands_of(s.program, sleeper)).size() == 1; }));
        EXPECT_EQ(s.close_window_and_wait(), 0);
        EXPECT_TRUE(s.eventually([&] { return !still_runs(found[0], sleeper); }));
    }
}

TEST_F(Terminal_X_Test, CopyWrapDragAndACommandTheLayerRuns) {
    std::string elsewhere = files + "/elsewhere";
    std::filesystem::create_directory(elsewhere);
    install_shipped_layer(s.install, "    if key == KEY_F6 { run_terminal_command(\"echo hi\", " + components_literal(elsewhere) +
                                         "); return; }\n");
    ASSERT_TRUE(s.start_editor(files, {}));
    float bar_left = 3 * (TERMINAL_FONT + 0.4f * TERMINAL_FONT);
    s.key("ctrl+t");
    ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }));

    std::vector<int> headers;
    {
        SCOPED_TRACE("the copy icon puts the command and its output on the clipboard and says so");
        s.run("echo copy me");
        ASSERT_TRUE(s.eventually([&] { return (headers = s.block_headers(is_green)).size() == 1; }));
        // Header, output, the line its line feed opens, then the icon.
        int icon_line = headers[0] + (int)(3 * LINE);
        auto notice = [&] { return count_pixels(s.grab((int)(1.5f * TERMINAL_FONT), icon_line, (int)(4 * TERMINAL_FONT), (int)LINE), is_bright); };
        EXPECT_EQ(notice(), 0);
        s.click_copy_icon(headers[0]);
        EXPECT_TRUE(s.eventually([&] { return notice() > 20; })) << "Copied.";
        EXPECT_EQ(s.clipboard(), "echo copy me\n\ncopy me\n");
    }
    {
        SCOPED_TRACE("a long line wraps, its background box on every line it takes");
        s.run("printf '\\e[44m%0300d\\e[0m\\n' 0");
        ASSERT_TRUE(s.eventually([&] { return (headers = s.block_headers(is_green)).size() == 2; }));
        auto blue_lines = [&] {
            int lines = 0;
            for (int line = 1; line <= 4; line++) {
                lines += count_pixels(s.grab(0, headers[1] + (int)(line * LINE), 800, (int)LINE), is_blue) > 400;
            }
            return lines;
        };
        EXPECT_TRUE(s.eventually([&] { return blue_lines() == 3; })) << blue_lines();
    }
    {
        SCOPED_TRACE("a drag from the third line up to the first selects what lies between");
        int top = headers[1] + (int)LINE;
        std::vector<Pixel> before = s.grab(0, top, 800, (int)(3 * LINE));
        auto lighter = [&] {
            std::vector<Pixel> now = s.grab(0, top, 800, (int)(3 * LINE));
            int count = 0;
            for (size_t i = 0; i < now.size(); i++) {
                count += now[i].r > before[i].r + 30 && now[i].g > before[i].g + 30;
            }
            return count;
        };
        // The press lands where it was made, however late the frame that reads it: the move
        // that follows at once does not take it along.
        s.move(200, top + 2.5f * LINE);
        s.xdotool({"mousedown", "1"});
        s.move(100, top + 0.5f * LINE);
        EXPECT_TRUE(s.eventually([&] { return lighter() > 800 * LINE / 2; })) << lighter() << ", the middle line whole";
        s.xdotool({"mouseup", "1"});
        // The pointer goes on, which would move a selection still being dragged; a key typed
        // then shows in a frame that has handled the release and the move.
        auto input_ink = [&] { return count_pixels(s.grab(0, (int)s.input_top(), 800, (int)LINE), is_bright); };
        int input_before = input_ink();
        s.move(300, top + 2.5f * LINE);
        s.type("WWWW");  // more ink than the cursor has
        EXPECT_TRUE(s.eventually([&] { return input_ink() > input_before + 80; })) << "the Ws in the input line";
        EXPECT_GT(lighter(), 800 * LINE / 2) << "kept after the release";
    }
    {
        SCOPED_TRACE("run_terminal_command runs its line in a terminal of its directory");
        s.key("F6");
        EXPECT_TRUE(s.eventually([&] {
            return is_current_tab_colour(s.tab_pixel(bar_left + 2 * (TERMINAL_FONT + 0.4f * TERMINAL_FONT), 1));
        })) << "a second terminal tab, after the previous and next icons";
        ASSERT_TRUE(s.eventually([&] { return (headers = s.block_headers(is_green)).size() == 1; }));
        s.click_copy_icon(headers[0]);
        EXPECT_TRUE(s.eventually([&] { return s.clipboard() == "echo hi\n\nhi\n"; })) << s.clipboard();
        s.run("pwd");
        ASSERT_TRUE(s.eventually([&] { return (headers = s.block_headers(is_green)).size() == 2; }));
        s.click_copy_icon(headers[1]);
        EXPECT_TRUE(s.eventually([&] { return s.clipboard() == "pwd\n\n" + elsewhere + "\n"; })) << s.clipboard();
    }
    EXPECT_EQ(s.close_window_and_wait(), 0);
}

// However a command ends, its header and its tab agree with how it went: a status other
// than 0 or an end by a signal (pressed, or sent from outside to the command or its shell)
// is a failure.
TEST_F(Terminal_X_Test, HowACommandEndsShowsInItsHeaderAndItsTab) {
    install_shipped_layer(s.install);
    ASSERT_TRUE(s.start_editor(files, {}));
    float bar_left = 3 * (TERMINAL_FONT + 0.4f * TERMINAL_FONT);
    auto status_icon = [&] { return s.grab((int)(bar_left + 1.45f * TERMINAL_FONT), 2, (int)TERMINAL_FONT + 1, (int)s.bar_height() - 4); };
    struct Way {
        const char* name;
        const char* line;
        std::vector<std::string> target;  // the process signalled, by its arguments; none: the line ends by itself
        int signal;                       // 0: Ctrl+C, the layer's binding
        bool failed;
    };
    const Way ways[] = {
        {"status 0", "true", {}, 0, false},
        {"status 3", "exit 3", {}, 0, true},
        {"Ctrl+C", "sleep 30.5", {"sleep", "30.5"}, 0, true},
        {"SIGINT to the command", "sleep 31.5", {"sleep", "31.5"}, SIGINT, true},
        {"SIGTERM to the command", "sleep 32.5", {"sleep", "32.5"}, SIGTERM, true},
        {"SIGHUP to the command", "sleep 33.5", {"sleep", "33.5"}, SIGHUP, true},
        {"SIGKILL to the command", "sleep 34.5", {"sleep", "34.5"}, SIGKILL, true},
        {"SIGKILL to its shell", "sleep 35.5", {"sh", "-ci", "trap 'exit 130' INT; sleep 35.5"}, SIGKILL, true},
    };
    std::vector<Pixel> done, failed;
    for (const Way& w : ways) {
        SCOPED_TRACE(w.name);
        s.key("ctrl+t");
        ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }, 30));
        s.run(w.line);
        if (!w.target.empty()) {
            std::vector<Process_Entry> found;
            ASSERT_TRUE(s.eventually([&] {
                return (found = commands_of(s.program, w.target)).size() == 1 && s.running_command_end() > 0;
            }, 30));
            if (w.signal == 0) s.key("ctrl+c");
            else kill(found[0].pid, w.signal);
        }
        bool (*header)(Pixel) = w.failed ? is_red : is_green;
        EXPECT_TRUE(s.eventually([&] { return s.running_command_end() == 0 && s.block_headers(header).size() == 1; }, 30));
        EXPECT_TRUE(s.block_headers(w.failed ? is_green : is_red).empty());
        // The first two ways give the icons the others are compared with.
        std::vector<Pixel>& icon = w.failed ? failed : done;
        if (icon.empty()) {
            ASSERT_TRUE(s.eventually([&] { return count_pixels(icon = status_icon(), is_bright) > 20; }, 30));
        } else {
            EXPECT_TRUE(s.eventually([&] { return same(status_icon(), icon); }, 30));
        }
        s.key("ctrl+w");
        ASSERT_TRUE(s.eventually([&] { return !is_current_tab_colour(s.tab_pixel(bar_left, 0)); }, 30));
    }
    EXPECT_FALSE(same(done, failed));
    EXPECT_EQ(s.close_window_and_wait(30), 0);
}

// A stop signal asks for what closing the window asks: the commands of the terminal tabs
// end, the log is written and the editor ends with 0.
TEST_F(Terminal_X_Test, AStopSignalShutsDownAsClosingTheWindowDoes) {
    install_shipped_layer(s.install);
    float bar_left = 3 * (TERMINAL_FONT + 0.4f * TERMINAL_FONT);
    auto log_count = [&] {
        std::error_code ignored;
        int n = 0;
        for (auto it = std::filesystem::directory_iterator(s.install + "/logs", ignored);
             it != std::filesystem::directory_iterator(); ++it) {
            n++;
        }
        return n;
    };
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        // Counted before the start: a running editor writes its log file as it goes.
        int logs = log_count();
        ASSERT_TRUE(s.start_editor(files, {}));
        s.key("ctrl+t");
        ASSERT_TRUE(s.eventually([&] { return is_current_tab_colour(s.tab_pixel(bar_left, 0)); }, 30));
        std::string seconds = "1000." + std::to_string(signal);
        s.run("sleep " + seconds);
        const std::vector<std::string> sleeper = {"sleep", seconds};
        std::vector<Process_Entry> found;
        ASSERT_TRUE(s.eventually([&] { return (found = commands_of(s.program, sleeper)).size() == 1; }, 30));
        kill(s.program, signal);
        int status = -1;
        ASSERT_TRUE(wait_for_exit(s.program, 30, &status));
        s.program = -1;
        s.window = 0;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_TRUE(s.eventually([&] { return !still_runs(found[0], sleeper); }, 30));
        EXPECT_EQ(log_count(), logs + 1);
        EXPECT_NE(s.newest_log().find("Info: log start: "), std::string::npos);
    }
}
