// The editor's side of bench_keys: the editor started in this process with the shipped
// layer, a file opened as the command line opens it, and the main loop run for one key at
// a time until the loop would wait for the next input.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <stdio.h>
#include <string.h>

#include "bench/bench_keys.h"
#include "editor/editor.h"
#include "shell/shell.h"
#include "ui/ui.h"

// Frames until nothing asks for another one, as after any input the loop has handled.
static void settle() {
    for (int i = 0; i < 500; i++) {
        if (i == 0) ui_do_not_stop_after_current_frame();
        run_main_loop_iteration();
        if (!(ui_flags & UI_KEEP_RUNNING)) return;
    }
}

bool bench_start_editor(int width, int height) {
    if (!start_editor()) return false;
    settle();
    glfwSetWindowSize(window.handle, width, height);
    for (int i = 0; i < 500 && (window.width != (u32)width || window.height != (u32)height); i++) {
        ui_do_not_stop_after_current_frame();
        run_main_loop_iteration();
    }
    settle();
    return window.width == (u32)width && window.height == (u32)height;
}

GLFWwindow* bench_editor_window() { return window.handle; }

bool bench_open_file(const char* path) {
    String arguments[] = {STR("quarn"), string_from_c(path)};
    open_file_from_command_line(arguments, 2);
    settle();
    return current_file && current_file->text.count > 0;
}

s64 bench_file_size() { return current_file ? current_file->text.count : 0; }

void bench_put_cursor(s64 offset) {
    if (!current_file) return;
    atomic_and_u16(&current_file->flags, (u16)~FILE_SELECTION_ACTIVE);
    editor_set_cursor(current_file, offset);
    atomic_or_u16(&current_file->flags, FILE_CENTRE_CURSOR);
    settle();
}

s64 bench_offset_of_line(u32 line) { return current_file ? get_offset_at_line_from_file(current_file, line) : 0; }

u64 bench_frames_presented() { return renderer_frames_presented; }

u32 bench_handle_key(bool press) {
    u32 iterations = 0;
    b8 seen = false;
    u8 kind = press ? WINDOW_EVENT_KEY_DOWN : WINDOW_EVENT_KEY_UP;
    while (iterations < 1000) {
        run_main_loop_iteration();
        iterations++;
        for (u32 i = 0; i < window.event_count; i++) seen |= window.events[i].kind == kind;
        if (seen && !(ui_flags & UI_KEEP_RUNNING)) break;
    }
    return iterations;
}

void bench_stop_editor() { shut_down(); }
