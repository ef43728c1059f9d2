// Start-up and idle frames of the editor: the time from starting the quarn program to its
// first frame on screen, and the CPU that one frame costs when nothing happens (measured in
// this process by bench_startup_frames.cpp). Without a display it runs an Xvfb of its own.
// Xlib lives in this file alone: its type names clash with the toolkit's.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/ui/x_windows.h"

void bench_idle_frames(const char* file);  // bench_startup_frames.cpp

static double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// An X server on a free display; its number, or an empty text.
static std::string start_xvfb(pid_t* pid) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t parent = getpid();
    *pid = fork();
    if (*pid == 0) {
        // The server ends with the bench, however the bench ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        close(fds[0]);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char number[32] = {};
    ssize_t n = read(fds[0], number, sizeof(number) - 1);
    close(fds[0]);
    if (n <= 0) return "";
    number[strcspn(number, "\n")] = 0;
    return std::string(":") + number;
}

// The top bar's colour: the first frame has reached the screen.
static bool bar_drawn(Display* x, Window window) {
    XImage* image = XGetImage(x, window, 700, 1, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return r < 10 && g > 25 && g < 55 && b > 50 && b < 80;
}

static void bench_start_to_first_frame(Display* x, const std::string& program) {
    const int runs = 7;
    std::vector<double> times;
    for (int run = 0; run < runs; run++) {
        double start = now_ms();
        pid_t pid = fork();
        if (pid == 0) {
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execl(program.c_str(), program.c_str(), (char*)nullptr);
            _exit(127);
        }
        Window window = 0;
        while (!window && now_ms() - start < 30000) window = find_window_by_title(x, DefaultRootWindow(x), "Quarn - v0.3.2");
        while (window && !bar_drawn(x, window) && now_ms() - start < 30000) {}
        double took = now_ms() - start;
        if (window) ask_window_to_close(x, window);
        int status;
        waitpid(pid, &status, 0);
        if (!window) {
            printf("start to first frame: the editor's window never appeared\n");
            return;
        }
        times.push_back(took);
    }
    std::sort(times.begin(), times.end());
    printf("start to first frame: %.1f ms median, %.1f ms fastest, over %d starts\n", times[runs / 2], times[0], runs);
}

int main() {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0) return 1;
    std::string directory = self;
    directory = directory.substr(0, directory.rfind('/'));

    pid_t xvfb = -1;
    const char* display = getenv("DISPLAY");
    if (!display || !*display) {
        std::string started = start_xvfb(&xvfb);
        if (started.empty()) {
            printf("no X display and no Xvfb: nothing measured\n");
            return 0;
        }
        setenv("DISPLAY", started.c_str(), 1);
    }
    Display* x = XOpenDisplay(nullptr);
    if (!x) return 1;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window not mapped yet has no pixels
    bench_start_to_first_frame(x, directory + "/quarn");
    XCloseDisplay(x);

    bench_idle_frames(QUARN_SOURCE_DIR "/shell/frame_driver.cpp");
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
