// The CPU that one key costs in a file tab: the editor started in a process of its own
// with the shipped layer, its window 900 by 600 on the software OpenGL driver, a file open
// with the cursor in its middle, and keys sent to the window one at a time, the release
// after the press has been handled; each is timed from the press until the main loop waits
// again. Files: 2,000 lines of C, 100 MB of the same, and one line of 10 MB. Keys: typing,
// arrows, page down, and typing at the text's end (where nothing after the cursor moves).
// Printed per key kind: the process's CPU per key (the driver's threads included; the
// fastest round and the median), the main thread's, the frames drawn and the main-loop
// iterations per key, and the resident memory the file brought. Without a display it runs
// an Xvfb of its own; arguments ("lines", "100mb", "line") pick the files.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/bench_keys.h"
#include "bench/bench_x.h"
#include "bench/process_memory.h"

#define VIEW_WIDTH 900
#define VIEW_HEIGHT 600

static double cpu_ms(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static double wall_ms() { return cpu_ms(CLOCK_MONOTONIC); }

//~ Keys

struct Key_Kind {
    const char* name;
    KeySym keys[8];
    int key_count;   // the keys of a round, cycled
    int per_round;
    bool from_start;  // each round begins with the cursor back where it started
    bool at_end;      // the cursor at the text's end instead: no text after it moves when a key inserts
};

static const Key_Kind KEY_KINDS[] = {
    {"typing", {XK_a, XK_b, XK_c, XK_space}, 4, 12, false, false},
    {"arrows", {XK_Right, XK_Right, XK_Down, XK_Down, XK_Left, XK_Left, XK_Up, XK_Up}, 8, 8, true, false},
    {"page down", {XK_Next}, 1, 6, true, false},
    {"typing at the end", {XK_a, XK_b, XK_c, XK_space}, 4, 12, false, true},
};

struct Round {
    double process_ms, thread_ms, frames, iterations;  // per key
    int keys;
};

static void bench_key_kind(Display* x, Window w, const Key_Kind& kind, int64_t start) {
    std::vector<Round> rounds;
    double began = wall_ms();
    // Five rounds, fewer when keys are slow.
    for (int r = 0; r < 5 && (r == 0 || wall_ms() - began < 20000); r++) {
        if (kind.from_start || r == 0) bench_put_cursor(kind.at_end ? bench_file_size() : start);
        uint64_t frames = bench_frames_presented();
        uint64_t iterations = 0;
        double process = cpu_ms(CLOCK_PROCESS_CPUTIME_ID), thread = cpu_ms(CLOCK_THREAD_CPUTIME_ID);
        int keys = 0;
        // A round of slow keys ends early: a few of them say enough.
        for (int k = 0; k < kind.per_round && (k < 2 || wall_ms() - began < 20000); k++, keys++) {
            // As a hand types: the release comes after the press has been drawn.
            send_bench_key(x, w, kind.keys[k % kind.key_count], true);
            iterations += bench_handle_key(true);
            send_bench_key(x, w, kind.keys[k % kind.key_count], false);
            iterations += bench_handle_key(false);
        }
        Round round;
        round.keys = keys;
        round.process_ms = (cpu_ms(CLOCK_PROCESS_CPUTIME_ID) - process) / keys;
        round.thread_ms = (cpu_ms(CLOCK_THREAD_CPUTIME_ID) - thread) / keys;
        round.frames = (double)(bench_frames_presented() - frames) / keys;
        round.iterations = (double)iterations / keys;
        rounds.push_back(round);
    }
    std::vector<Round> sorted = rounds;
    std::sort(sorted.begin(), sorted.end(), [](const Round& a, const Round& b) { return a.process_ms < b.process_ms; });
    const Round& fastest = sorted[0];
    const Round& median = sorted[sorted.size() / 2];
    printf("  %-17s %7.2f ms CPU per key (fastest round), %7.2f median; main thread %7.2f; %.2f frames and %.2f loop "
           "iterations per key; %zu rounds of %d keys\n",
           kind.name, fastest.process_ms, median.process_ms, fastest.thread_ms, median.frames, median.iterations,
           rounds.size(), rounds.size() > 1 ? kind.per_round : (int)(rounds[0].keys));
    fflush(stdout);
}

// One file in an editor of its own, so that each one's memory is its own.
static void bench_file(const char* what, const std::string& path, bool single_line) {
    fflush(stdout);
    pid_t child = fork();
    if (child != 0) {
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) printf("  %s: the editor failed\n", what);
        return;
    }
    if (!bench_start_editor(VIEW_WIDTH, VIEW_HEIGHT)) {
        printf("%s: the editor could not start at %dx%d\n", what, VIEW_WIDTH, VIEW_HEIGHT);
        _exit(1);
    }
    double before_now, before_peak;
    process_resident_mb(0, &before_now, &before_peak);
    if (!bench_open_file(path.c_str())) {
        printf("%s: the file could not be opened\n", what);
        _exit(1);
    }
    int64_t size = bench_file_size();
    int64_t start = single_line ? size / 2 : bench_offset_of_line(0);
    if (!single_line) {
        // The start of the middle line.
        int64_t lines = 0;
        for (uint32_t step = 1u << 31; step; step >>= 1) {
            if (bench_offset_of_line((uint32_t)(lines + step)) < size) lines += step;
        }
        start = bench_offset_of_line((uint32_t)(lines / 2 + 1));
    }
    printf("%s (%.1f MB), cursor at offset %lld:\n", what, size / 1048576.0, (long long)start);

    Display* x = XOpenDisplay(nullptr);
    Window w = glfwGetX11Window(bench_editor_window());
    for (const Key_Kind& kind : KEY_KINDS) bench_key_kind(x, w, kind, start);
    double after_now, after_peak;
    process_resident_mb(0, &after_now, &after_peak);
    printf("  resident: %.1f MB before the file, %.1f MB after the keys (peak %.1f MB); the file brought %.1f MB, "
           "%.2fx its size (peak %.2fx)\n",
           before_now, after_now, after_peak, after_now - before_now, (after_now - before_now) / (size / 1048576.0),
           (after_peak - before_now) / (size / 1048576.0));
    fflush(stdout);
    XCloseDisplay(x);
    bench_stop_editor();
    _exit(0);
}

// With arguments, only the files they name: "lines", "100mb", "line".
static bool wanted(int argc, char** argv, const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

int main(int argc, char** argv) {
    pid_t xvfb;
    if (!use_display_or_start_xvfb(&xvfb)) return 0;
    printf("CPU per key at %dx%d on %s\n", VIEW_WIDTH, VIEW_HEIGHT, getenv("DISPLAY"));
    if (wanted(argc, argv, "lines")) {
        Bench_File file(c_lines(2000), ".c");
        bench_file("2,000 lines", file.path, false);
    }
    if (wanted(argc, argv, "100mb")) {
        Bench_File file(c_of_size(100u << 20), ".c");
        bench_file("100 MB", file.path, false);
    }
    if (wanted(argc, argv, "line")) {
        Bench_File file(one_line_of_size(10u << 20), ".c");
        bench_file("one line of 10 MB", file.path, true);
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
