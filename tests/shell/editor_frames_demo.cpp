// A test program, not shipped: the editor as quarn starts it (its files beside this
// program, the file to open on its command line), with a main loop that reports what each
// iteration did. The test that drives it (editor_frames_x_test.cpp) sends keys with
// xdotool and counts the frames they draw.
//
// Reports on stdout: "ready <window id>" once the first frame is on the screen, then one
// line per main-loop iteration, "iteration KINDS DRAWN WAITS": the kinds of window events
// it handled ("d" key down, "u" key up, "c" character, "m" mouse button, "s" scroll, "w"
// window change; "-" for none), 1 when it put a frame on the screen, and 1 when the next
// iteration waits for input instead of running at once.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <stdio.h>

#include "shell/shell.h"
#include "ui/ui.h"

// GLFW's native interface, declared here because Xlib's headers name types Font and Glyph,
// as Quarn's do.
extern "C" unsigned long glfwGetX11Window(GLFWwindow* handle);

// This program always opens the OpenGL driver, whose blocks the leak check trips over.
extern "C" int __lsan_is_turned_off() { return 1; }

static char event_letter(u8 kind) {
    switch (kind) {
        case WINDOW_EVENT_KEY_DOWN: return 'd';
        case WINDOW_EVENT_KEY_UP: return 'u';
        case WINDOW_EVENT_CHARACTER: return 'c';
        case WINDOW_EVENT_MOUSE_BUTTON: return 'm';
        case WINDOW_EVENT_SCROLL: return 's';
        default: return 'w';
    }
}

int main() {
    if (!start_editor()) {
        shut_down();
        return 1;
    }
    b8 ready = false;
    while (atomic_load_u64(&global_flags) & SHOULD_RUN) {
        u64 presented = renderer_frames_presented;
        run_main_loop_iteration();
        b8 drawn = renderer_frames_presented != presented;
        if (drawn && !ready) {
            printf("ready %lu\n", glfwGetX11Window(window.handle));
            ready = true;
        }
        char kinds[WINDOW_EVENT_CAPACITY + 1];
        u32 n = 0;
        for (u32 i = 0; i < window.event_count; i++) kinds[n++] = event_letter(window.events[i].kind);
        if (!n) kinds[n++] = '-';
        kinds[n] = 0;
        printf("iteration %s %d %d\n", kinds, drawn ? 1 : 0, (ui_flags & UI_KEEP_RUNNING) ? 0 : 1);
        fflush(stdout);
    }
    shut_down();
    return 0;
}
