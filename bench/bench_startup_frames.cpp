// The CPU one frame of the editor costs when nothing happens: the editor started in this
// process (window, fonts, threads), then frames that poll instead of waiting, first with
// the information panel (no tab open), then with a file in a tab. Main thread alone, and
// the whole process (the software renderer's threads included).

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "shell/shell.h"
#include "ui/ui.h"

static double cpu_ms(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void measure(const char* what) {
    const int warm_up = 30, frames = 300;
    for (int i = 0; i < warm_up; i++) {
        ui_do_not_stop_after_current_frame();
        run_main_loop_iteration();
    }
    double thread = cpu_ms(CLOCK_THREAD_CPUTIME_ID), process = cpu_ms(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < frames; i++) {
        ui_do_not_stop_after_current_frame();
        run_main_loop_iteration();
    }
    thread = cpu_ms(CLOCK_THREAD_CPUTIME_ID) - thread;
    process = cpu_ms(CLOCK_PROCESS_CPUTIME_ID) - process;
    printf("idle frame, %s: %.3f ms CPU on the main thread, %.3f ms in the process\n", what, thread / frames,
           process / frames);
}

void bench_idle_frames(const char* file) {
    if (!start_editor()) {
        printf("idle frame: the editor could not start\n");
        return;
    }
    measure("information panel");
    String arguments[] = {STR("quarn"), string_from_c(file)};
    open_file_from_command_line(arguments, 2);
    measure("one file tab");
    shut_down();
}
