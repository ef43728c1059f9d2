// Running a program under test on an X server of its own: Xvfb on a display it picks,
// the program's stdout read line by line, xdotool for the mouse and keyboard, and the
// window's pixels read back. Shared by the tests that drive a real window.
#pragma once

// Before Xlib, which defines None as a macro.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <fcntl.h>
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

#include "tests/process_test_support.h"
#include "tests/ui/x_windows.h"
#include "tests/waiting.h"

inline double now_seconds() { return test_clock_seconds(); }

// Starts a program on a display, with its stdout on a pipe when out_fd is given, else on
// /dev/null, and its stdin on a pipe when in_fd is given; keep_fd stays open in it.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& display, int* out_fd, int keep_fd = -1,
                   int* in_fd = nullptr) {
    int pipe_fds[2] = {-1, -1}, in_fds[2] = {-1, -1};
    if (out_fd && pipe(pipe_fds) != 0) return -1;
    if (in_fd && pipe2(in_fds, O_CLOEXEC) != 0) return -1;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        end_with_the_test(parent);
        if (in_fd) dup2(in_fds[0], 0);
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
    if (in_fd) {
        close(in_fds[0]);
        *in_fd = in_fds[1];
    }
    return pid;
}

inline bool wait_for_exit(pid_t pid, double seconds, int* status) {
    return wait_for_condition([&] { return waitpid(pid, status, WNOHANG) == pid; }, seconds, 10000);
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
    std::string wait_for(const std::string& prefix, double seconds = TEST_DEADLINE_SECONDS) {
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

    // Every line with a prefix that the program has written so far, without waiting for
    // more: call it once a later sign of the program shows that it wrote what counts.
    int count_all(const std::string& prefix) {
        for (pollfd p = {fd, POLLIN, 0}; poll(&p, 1, 0) == 1 && read_some(0);) {}
        int count = 0;
        for (const std::string& l : lines) count += l.compare(0, prefix.size(), prefix) == 0;
        return count;
    }
};

struct Pixel { int r, g, b; };

struct X_Session {
    pid_t xvfb = -1, program = -1;
    int program_input = -1;  // the program's stdin, when it was started with one
    std::string display;
    Display* x = nullptr;
    Window window = 0;
    Line_Reader out;

    ~X_Session() {
        if (x) XCloseDisplay(x);
        int status;
        if (program_input >= 0) close(program_input);
        if (program > 0 && waitpid(program, &status, WNOHANG) == 0) {
            kill(program, SIGKILL);
            waitpid(program, &status, 0);
        }
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);  // it removes its lock file and socket; a kill would leave them
            if (!wait_for_exit(xvfb, TEST_DEADLINE_SECONDS, &status)) {
                kill(xvfb, SIGKILL);
                waitpid(xvfb, &status, 0);
            }
        }
        if (out.fd >= 0) close(out.fd);
    }

    // An X server on a display number of its own choosing, its screen as Xvfb's -screen takes it.
    bool start_xvfb(const std::string& screen = "1024x768x24") {
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a failed grab is a failed check, not an exit
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
                     "", nullptr, fds[1]);
        close(fds[1]);
        Line_Reader r;
        r.fd = fds[0];
        std::string number = r.wait_for("");
        close(fds[0]);
        if (number.empty()) return false;
        display = ":" + number;
        x = XOpenDisplay(display.c_str());
        return x != nullptr;
    }

    // Starts the program under test; it prints "ready <window id>" once its first frame is
    // drawn. With_input gives it a pipe on stdin (program_input).
    bool start_program(const std::vector<std::string>& argv, bool with_input = false) {
        program = spawn(argv, display, &out.fd, -1, with_input ? &program_input : nullptr);
        std::string ready = out.wait_for("ready ");
        if (ready.empty()) return false;
        window = (Window)strtoull(ready.c_str() + 6, nullptr, 0);
        return window != 0;
    }

    // One line on the program's stdin.
    void send(const std::string& line) {
        std::string text = line + "\n";
        EXPECT_EQ(write(program_input, text.data(), text.size()), (ssize_t)text.size());
    }

    void xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        int status = -1;
        pid_t pid = spawn(argv, display, nullptr);
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0) << "xdotool " << args[0];
    }
    // Moves the window and waits until the server has it there: a pointer motion sent
    // before that would land at the old place.
    bool move_window(int left, int top) {
        xdotool({"windowmove", std::to_string(window), std::to_string(left), std::to_string(top)});
        return wait_for_condition([&] {
            int root_x = 0, root_y = 0;
            Window child;
            XSync(x, False);
            return XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &root_x, &root_y, &child) &&
                   root_x == left && root_y == top;
        }, TEST_DEADLINE_SECONDS, 10000);
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
    // the program reports it.
    template <typename F>
    bool eventually(F condition, double seconds = TEST_DEADLINE_SECONDS) {
        return wait_for_condition(condition, seconds, 20000);
    }

    // Asks the window to close as a window manager would, and waits for the program to end:
    // its exit status, or -1 when it did not end normally in time.
    int close_window_and_wait(double seconds = TEST_DEADLINE_SECONDS) {
        close_window();
        int status = -1;
        if (!wait_for_exit(program, seconds, &status)) return -1;
        program = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void close_window() { ask_window_to_close(x, window); }
};

inline bool same(const std::vector<Pixel>& a, const std::vector<Pixel>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b) return false;
    }
    return true;
}
