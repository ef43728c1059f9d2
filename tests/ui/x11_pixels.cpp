// Reads a window's pixels from the X server, and starts the X server of a test that opens
// its window in its own process. A file of its own: Xlib's headers name types Font and
// Glyph, as Quarn's do.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/process_test_support.h"
#include "tests/waiting.h"

pid_t start_xvfb_for_window_tests() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        end_with_the_test(parent);
        close(fds[0]);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        std::string fd = std::to_string(fds[1]);
        // -noreset: what a client set (a keyboard layout) outlasts that client.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string display;
    pollfd p = {fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, (int)(TEST_DEADLINE_SECONDS * 1000)) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') display += c;
    close(fds[0]);
    if (pid < 0 || display.empty()) return -1;
    setenv("DISPLAY", (":" + display).c_str(), 1);
    return pid;
}

void stop_xvfb_for_window_tests(pid_t* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    waitpid(*pid, nullptr, 0);
    *pid = 0;
}

static bool opened_the_driver = false;

void note_gl_driver_opened() { opened_the_driver = true; }

extern "C" int __lsan_is_turned_off() { return opened_the_driver; }

std::vector<uint32_t> read_x11_window_pixels(GLFWwindow* handle, uint32_t width, uint32_t height) {
    Display* display = glfwGetX11Display();
    XSync(display, False);
    std::vector<uint32_t> pixels((uint64_t)width * height);
    XImage* image = XGetImage(display, glfwGetX11Window(handle), 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) pixels[(uint64_t)y * width + x] = (uint32_t)XGetPixel(image, (int)x, (int)y);
    }
    XDestroyImage(image);
    return pixels;
}

bool wait_for_window_focus(GLFWwindow* handle) {
    int polls = 0;
    return wait_for_condition([&] {
        glfwPollEvents();
        if (glfwGetWindowAttrib(handle, GLFW_FOCUSED)) return true;
        if (polls++ % 25 == 0) glfwFocusWindow(handle);
        return false;
    }, TEST_DEADLINE_SECONDS, 20000);
}
