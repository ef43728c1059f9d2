// What the benches that drive a window share on the X side: an Xvfb of their own when no
// display is set, and keys sent to a window as a keyboard would send them. Xlib only: its
// type names clash with the toolkit's, so the editor's side lives in other files.
#pragma once

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

// An X server on a free display; its name (":N"), or an empty text.
inline std::string start_bench_xvfb_once(pid_t* pid, const char* screen) {
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
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", (char*)nullptr);
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

// Another program's server going away on the same display number can take a new one down
// with it: a server is only used once a client has reached it.
inline std::string start_bench_xvfb(pid_t* pid, const char* screen = "1024x768x24") {
    for (int attempt = 0; attempt < 5; attempt++) {
        std::string display = start_bench_xvfb_once(pid, screen);
        if (display.empty()) return "";
        usleep(200000);
        Display* x = XOpenDisplay(display.c_str());
        if (x) {
            XCloseDisplay(x);
            return display;
        }
        kill(*pid, SIGKILL);
        waitpid(*pid, nullptr, 0);
    }
    return "";
}

// The display to measure on: DISPLAY when it is set, or else an Xvfb of the bench's own put
// there; false when there is neither.
inline bool use_display_or_start_xvfb(pid_t* xvfb) {
    *xvfb = -1;
    const char* display = getenv("DISPLAY");
    if (display && *display) return true;
    std::string started = start_bench_xvfb(xvfb);
    if (started.empty()) {
        printf("no X display and no Xvfb: nothing measured\n");
        return false;
    }
    setenv("DISPLAY", started.c_str(), 1);
    return true;
}

// A press or a release of the key with that keysym, straight to the window. Each event
// gets its own time: a release and a press of one key at the same time read as a repeat.
inline void send_bench_key(Display* x, Window window, KeySym keysym, bool press) {
    static Time time = 1;
    XKeyEvent e = {};
    e.display = x;
    e.window = window;
    e.root = DefaultRootWindow(x);
    e.same_screen = True;
    e.keycode = XKeysymToKeycode(x, keysym);
    e.state = 0;
    e.type = press ? KeyPress : KeyRelease;
    e.time = time++;
    XSendEvent(x, window, True, press ? KeyPressMask : KeyReleaseMask, (XEvent*)&e);
    XFlush(x);
}
