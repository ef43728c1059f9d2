// Drives the widgets demo on an X server of its own with xdotool and reads the window's
// pixels back: the check box flips its icon, the thumb drags and the wheel scrolls by the
// scroll bar's rules, the button lights up under the mouse and counts one click per press,
// and closing the window ends the demo with status 0.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/ui/widgets_demo.h"

namespace {

double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Starts a program on a display, with its stdout on a pipe when out_fd is given, else on
// /dev/null; keep_fd stays open in it.
pid_t spawn(const std::vector<std::string>& argv, const std::string& display, int* out_fd, int keep_fd = -1) {
    int pipe_fds[2] = {-1, -1};
    if (out_fd && pipe(pipe_fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (out_fd) {
            dup2(pipe_fds[1], 1);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
        } else {
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            if (keep_fd >= 0) dup2(null_fd, 2);  // Xvfb's chatter while it looks for a free display
            close(null_fd);
        }
        if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
        if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back((char*)a.c_str());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (out_fd) {
        close(pipe_fds[1]);
        *out_fd = pipe_fds[0];
    }
    return pid;
}

bool wait_for_exit(pid_t pid, double seconds, int* status) {
    double end = now_seconds() + seconds;
    while (now_seconds() < end) {
        if (waitpid(pid, status, WNOHANG) == pid) return true;
        usleep(10000);
    }
    return false;
}

// Lines of a child's stdout, read as they come.
struct Line_Reader {
    int fd = -1;
    std::string pending;
    std::vector<std::string> lines;
    size_t next = 0;  // the first line no wait_for has passed yet

    // Reads for at most a while; false at the end of the output.
    bool read_some(double seconds) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, (int)(seconds * 1000) + 1) <= 0) return true;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) return false;
        pending.append(buffer, n);
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        return true;
    }

    // Waits for a line that starts with prefix, past the lines already passed; "" on timeout.
    std::string wait_for(const std::string& prefix, double seconds = 10) {
        double end = now_seconds() + seconds;
        for (;;) {
            while (next < lines.size()) {
                const std::string& l = lines[next++];
                if (l.compare(0, prefix.size(), prefix) == 0) return l;
            }
            double left = end - now_seconds();
            if (left <= 0 || !read_some(left)) return "";
        }
    }

    // Every line so far with a prefix, after waiting a moment for late ones.
    int count_all(const std::string& prefix) {
        for (double end = now_seconds() + 0.3; now_seconds() < end && read_some(end - now_seconds());) {}
        int count = 0;
        for (const std::string& l : lines) count += l.compare(0, prefix.size(), prefix) == 0;
        return count;
    }
};

struct Pixel { int r, g, b; };

struct Demo_Session {
    pid_t xvfb = -1, demo = -1;
    std::string display;
    Display* x = nullptr;
    Window window = 0;
    Line_Reader out;

    ~Demo_Session() {
        if (x) XCloseDisplay(x);
        int status;
        if (demo > 0 && waitpid(demo, &status, WNOHANG) == 0) {
            kill(demo, SIGKILL);
            waitpid(demo, &status, 0);
        }
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            if (!wait_for_exit(xvfb, 5, &status)) {
                kill(xvfb, SIGKILL);
                waitpid(xvfb, &status, 0);
            }
        }
        if (out.fd >= 0) close(out.fd);
    }

    // An X server on a display number of its own choosing.
    bool start_xvfb() {
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a failed grab is a failed check, not an exit
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                     "", nullptr, fds[1]);
        close(fds[1]);
        Line_Reader r;
        r.fd = fds[0];
        std::string number = r.wait_for("", 20);
        close(fds[0]);
        if (number.empty()) return false;
        display = ":" + number;
        x = XOpenDisplay(display.c_str());
        return x != nullptr;
    }

    bool start_demo() {
        demo = spawn({QUARN_WIDGETS_DEMO}, display, &out.fd);
        std::string ready = out.wait_for("ready ", 30);
        if (ready.empty()) return false;
        window = (Window)strtoull(ready.c_str() + 6, nullptr, 0);
        return window != 0;
    }

    void xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        int status = -1;
        pid_t pid = spawn(argv, display, nullptr);
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0) << "xdotool " << args[0];
    }
    void move(float wx, float wy) {
        xdotool({"mousemove", "--window", std::to_string(window), std::to_string((int)wx), std::to_string((int)wy)});
    }

    // The window's pixels in a rectangle, rows of r, g, b.
    std::vector<Pixel> grab(int left, int top, int width, int height) {
        std::vector<Pixel> pixels;
        XImage* image = XGetImage(x, window, left, top, width, height, AllPlanes, ZPixmap);
        if (!image) return pixels;
        for (int y = 0; y < height; y++) {
            for (int xx = 0; xx < width; xx++) {
                unsigned long p = XGetPixel(image, xx, y);
                pixels.push_back({(int)((p >> 16) & 0xFF), (int)((p >> 8) & 0xFF), (int)(p & 0xFF)});
            }
        }
        XDestroyImage(image);
        return pixels;
    }
    Pixel pixel(float wx, float wy) {
        std::vector<Pixel> p = grab((int)wx, (int)wy, 1, 1);
        return p.empty() ? Pixel{-1, -1, -1} : p[0];
    }

    // Polls the screen until a condition holds: a frame reaches the screen a little after
    // the demo reports it.
    template <typename F>
    bool eventually(F condition, double seconds = 5) {
        double end = now_seconds() + seconds;
        do {
            if (condition()) return true;
            usleep(20000);
        } while (now_seconds() < end);
        return false;
    }

    void close_window() {
        XEvent e = {};
        e.xclient.type = ClientMessage;
        e.xclient.window = window;
        e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, window, False, NoEventMask, &e);
        XFlush(x);
    }
};

bool same(const std::vector<Pixel>& a, const std::vector<Pixel>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b) return false;
    }
    return true;
}

bool is_white(Pixel p) { return p.r > 250 && p.g > 250 && p.b > 250; }

int ink(const std::vector<Pixel>& a) {
    int n = 0;
    for (const Pixel& p : a) n += p.r + p.g + p.b > 300;
    return n;
}

}  // namespace

TEST(WidgetsDemo, AnswersTheMouseUnderX) {
    Demo_Session s;
    ASSERT_TRUE(s.start_xvfb()) << "Xvfb did not start";
    ASSERT_TRUE(s.start_demo()) << "the demo did not report ready";

    const int icon = 35;  // the icon pool's pixel size until a font size is set
    {
        SCOPED_TRACE("the check box flips its icon");
        std::vector<Pixel> off;
        ASSERT_TRUE(s.eventually([&] {
            off = s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon);
            return ink(off) > 0;
        })) << "no icon drawn";
        s.move(DEMO_CHECK_BOX_X + icon / 2, DEMO_CHECK_BOX_Y + icon / 2);
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("check "), "check 1");
        std::vector<Pixel> on;
        EXPECT_TRUE(s.eventually([&] {
            on = s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon);
            return !same(on, off);
        }));
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("check "), "check 0");
        EXPECT_TRUE(s.eventually([&] { return same(s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon), off); }));
    }

    {
        SCOPED_TRACE("the button lights up under the mouse and counts one click per press");
        const float bx = DEMO_BUTTON_X + 4, by = DEMO_BUTTON_Y + 4;  // inside, clear of the label
        Pixel idle = s.pixel(bx, by);
        EXPECT_FALSE(is_white(idle));
        EXPECT_GT(idle.b, idle.r);
        s.move(bx, by);
        EXPECT_TRUE(s.eventually([&] { return is_white(s.pixel(bx, by)); }));
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 1");
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 2");
        // A press held over several frames while the mouse moves is still one click.
        s.xdotool({"mousedown", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 3");
        for (int i = 1; i <= 5; i++) {
            s.move(bx + i * 10, by + 2);
            usleep(30000);
        }
        s.xdotool({"mouseup", "1"});
        EXPECT_EQ(s.out.count_all("click "), 3);
        s.move(DEMO_BUTTON_X + DEMO_BUTTON_WIDTH + 40, by);
        EXPECT_TRUE(s.eventually([&] { Pixel p = s.pixel(bx, by); return p.r == idle.r && p.g == idle.g && p.b == idle.b; }));
    }

    const float content = DEMO_LINE_COUNT * DEMO_LINE_HEIGHT;
    const float view = DEMO_VIEW_BOTTOM - DEMO_VIEW_TOP;
    const float bar_x = DEMO_VIEW_RIGHT - DEMO_BAR_WIDTH / 2;
    {
        SCOPED_TRACE("dragging the thumb by 100 px scrolls by 100 / view x content");
        s.move(bar_x, DEMO_VIEW_TOP + 10);
        s.xdotool({"mousedown", "1"});
        EXPECT_EQ(s.out.wait_for("drag "), "drag 1");
        s.move(bar_x, DEMO_VIEW_TOP + 110);
        const float expected = 100 / view * content;
        char line[64];
        snprintf(line, sizeof(line), "scroll %.2f", expected);
        EXPECT_EQ(s.out.wait_for("scroll "), line);
        s.xdotool({"mouseup", "1"});
        EXPECT_EQ(s.out.wait_for("drag "), "drag 0");
        // The thumb now starts view x scroll / content below the view's top.
        float thumb_top = DEMO_VIEW_TOP + view * expected / content;
        s.move(DEMO_VIEW_LEFT - 10, DEMO_VIEW_BOTTOM + 20);  // away, so the thumb fades
        EXPECT_TRUE(s.eventually([&] {
            Pixel in = s.pixel(bar_x, thumb_top + 5), above = s.pixel(bar_x, thumb_top - 5);
            return in.r > 100 && in.r > in.b && above.r < 60;
        }));
    }

    {
        SCOPED_TRACE("three wheel notches move the content by three steps of 100");
        const int left = (int)DEMO_VIEW_LEFT, width = (int)(DEMO_VIEW_RIGHT - DEMO_BAR_WIDTH - DEMO_VIEW_LEFT);
        std::vector<Pixel> before = s.grab(left, (int)DEMO_VIEW_TOP, width, (int)view);
        ASSERT_GT(ink(before), 0) << "no text in the list";
        s.move((DEMO_VIEW_LEFT + DEMO_VIEW_RIGHT) / 2, (DEMO_VIEW_TOP + DEMO_VIEW_BOTTOM) / 2);
        s.xdotool({"click", "--repeat", "3", "--delay", "80", "5"});
        const float expected = 100 / view * content + 300;
        char line[64];
        snprintf(line, sizeof(line), "scroll %.2f", expected);
        std::string got;
        while ((got = s.out.wait_for("scroll ", 5)) != line && !got.empty()) {}
        EXPECT_EQ(got, line);
        // What was 300 px down is now at the top: rows y + 300 of before are rows y of after,
        // away from the lines the view cuts at its edges.
        const int shift = 300, from = (int)DEMO_LINE_HEIGHT, rows = (int)view - shift - 2 * (int)DEMO_LINE_HEIGHT;
        std::vector<Pixel> expected_rows(before.begin() + (size_t)(from + shift) * width,
                                         before.begin() + (size_t)(from + shift + rows) * width);
        EXPECT_TRUE(s.eventually([&] {
            return same(s.grab(left, (int)DEMO_VIEW_TOP + from, width, rows), expected_rows);
        }));
    }

    {
        SCOPED_TRACE("closing the window ends the demo with status 0");
        s.close_window();
        int status = -1;
        ASSERT_TRUE(wait_for_exit(s.demo, 10, &status));
        s.demo = -1;
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}
