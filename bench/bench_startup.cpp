// Start-up and idle frames of the editor: the time from starting the quarn program (the
// shipped layer, a file of 2,000 lines) to its first frame on screen, beside a bare GLFW
// program that opens the same window and clears one frame, in alternating runs; the CPU
// both spent until then and the editor's resident memory at its first frame; then the CPU
// that one frame costs when nothing happens (measured in this process by
// bench_startup_frames.cpp). Without a display it runs an Xvfb of its own.
// Xlib lives in this file alone: its type names clash with the toolkit's.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/bench_x.h"
#include "bench/process_memory.h"
#include "tests/ui/x_windows.h"

void bench_idle_frames(const char* file);  // bench_startup_frames.cpp

static double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
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

// CPU of a process so far (all its threads), from /proc, in ms.
static double process_cpu_ms(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return 0;
    char buffer[1024] = {};
    size_t n = fread(buffer, 1, sizeof(buffer) - 1, f);
    fclose(f);
    buffer[n] = 0;
    // Fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
    char* p = strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return 0;
    return (utime + stime) * 1000.0 / sysconf(_SC_CLK_TCK);
}

struct Start {
    double first_frame_ms;  // wall time from the fork to the frame on screen
    double cpu_ms;          // the program's CPU until then
    double resident_mb, peak_mb;
};

// Starts a program and waits for its window's first frame; false when none came.
static bool time_start(Display* x, const std::vector<std::string>& argv, const char* title, Start* out) {
    double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back((char*)a.c_str());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    Window window = 0;
    while (!window && now_ms() - start < 30000) {
        window = find_window_by_title(x, DefaultRootWindow(x), title);
        if (!window) usleep(200);
    }
    while (window && !bar_drawn(x, window) && now_ms() - start < 30000) usleep(200);
    out->first_frame_ms = now_ms() - start;
    out->cpu_ms = process_cpu_ms(pid);
    process_resident_mb(pid, &out->resident_mb, &out->peak_mb);
    if (window) ask_window_to_close(x, window);
    int status;
    double end = now_ms() + 10000;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (now_ms() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(1000);
    }
    return window != 0 && out->first_frame_ms < 30000;
}

static void print_starts(const char* what, std::vector<Start> starts, const std::vector<Start>* bare) {
    auto by = [&](auto field) {
        std::vector<double> v;
        for (const Start& s : starts) v.push_back(s.*field);
        std::sort(v.begin(), v.end());
        return v;
    };
    std::vector<double> frame = by(&Start::first_frame_ms), cpu = by(&Start::cpu_ms);
    size_t m = frame.size() / 2;
    printf("  %-12s first frame %7.1f ms median, %7.1f fastest", what, frame[m], frame[0]);
    std::vector<double> bare_frame, bare_cpu;
    for (const Start& s : bare ? *bare : std::vector<Start>{}) bare_frame.push_back(s.first_frame_ms), bare_cpu.push_back(s.cpu_ms);
    std::sort(bare_frame.begin(), bare_frame.end());
    std::sort(bare_cpu.begin(), bare_cpu.end());
    size_t bm = bare_frame.size() / 2;
    if (bare) printf(" (%.2fx, %.2fx the bare window's)", frame[m] / bare_frame[bm], frame[0] / bare_frame[0]);
    printf("; CPU until then %7.1f ms median, %7.1f least", cpu[m], cpu[0]);
    if (bare) printf(" (%.2fx, %.2fx)", cpu[m] / bare_cpu[bm], cpu[0] / bare_cpu[0]);
    std::vector<double> resident = by(&Start::resident_mb), peak = by(&Start::peak_mb);
    printf("; resident %.1f MB (peak %.1f MB)\n", resident[m], peak[m]);
}

static void bench_start_to_first_frame(Display* x, const std::string& directory) {
    const int runs = 15;
    Bench_File file(c_lines(2000), ".c");
    std::vector<std::string> editor = {directory + "/quarn", file.path};
    std::vector<std::string> bare = {directory + "/bench_bare_window"};
    // The first start compiles the layer and warms the file cache; it is not counted.
    Start warm;
    if (!time_start(x, editor, "Quarn - v0.3.2", &warm) || !time_start(x, bare, "Quarn bare window", &warm)) {
        printf("start to first frame: a window never appeared\n");
        return;
    }
    std::vector<Start> editor_starts, bare_starts;
    for (int run = 0; run < runs; run++) {
        Start s;
        if (time_start(x, bare, "Quarn bare window", &s)) bare_starts.push_back(s);
        if (time_start(x, editor, "Quarn - v0.3.2", &s)) editor_starts.push_back(s);
    }
    if (bare_starts.empty() || editor_starts.empty()) {
        printf("start to first frame: a window never appeared\n");
        return;
    }
    printf("start to first frame, over %d alternating starts (the editor with the shipped layer and 2,000 lines):\n",
           runs);
    print_starts("bare window", bare_starts, nullptr);
    print_starts("quarn", editor_starts, &bare_starts);
}

int main() {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0) return 1;
    std::string directory = self;
    directory = directory.substr(0, directory.rfind('/'));

    pid_t xvfb;
    if (!use_display_or_start_xvfb(&xvfb)) return 0;
    Display* x = XOpenDisplay(nullptr);
    if (!x) return 1;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window not mapped yet has no pixels
    bench_start_to_first_frame(x, directory);
    XCloseDisplay(x);

    bench_idle_frames(QUARN_SOURCE_DIR "/shell/frame_driver.cpp");
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
