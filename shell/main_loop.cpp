// The main loop's outer steps around each frame, and shut-down.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <curl/curl.h>

#include "shell/main_loop.h"
#include "editor/editor_state.h"
#include "shell/tabs.h"
#include "shell/update_client.h"
#include "runtime/custom_layer.h"
#include "ui/ui.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

u64 main_loop_time_stamp;
s32 remembered_video_mode_width;
s32 remembered_video_mode_height;

void rescale_fonts_for_video_mode(s32 height) {
    spin_lock(&custom_layer.execution_lock);
    f32 size = handle_screen_resolution_change(editor_settings.font_size, height);
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) atomic_or_u16(&tab->file->flags, FILE_CENTRE_CURSOR);
    }
    editor_settings.font_size = size;
    spin_unlock(&tabs_read_lock);
    spin_unlock(&custom_layer.execution_lock);
}

//~ Stop signals

static const int STOP_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT};
static u8 stop_signals_received;  // atomic: counted by the handler
static int stop_signal_pipe[2] = {-1, -1};
static pid_t editor_process_id;

// Only what is safe inside a signal handler: an atomic count, a write to the pipe, and for a
// second signal (or a child that has not yet run its program) the signal's own end.
static void on_stop_signal(int signal_number) {
    int saved_errno = errno;
    u8 before = __atomic_fetch_add(&stop_signals_received, (u8)1, __ATOMIC_SEQ_CST);
    if (before > 0 || getpid() != editor_process_id) {
        struct sigaction plain = {};
        plain.sa_handler = SIG_DFL;
        sigemptyset(&plain.sa_mask);
        sigaction(signal_number, &plain, nullptr);
        raise(signal_number);  // blocked until this handler returns, then it ends the process
    } else {
        u8 byte = 1;
        ssize_t ignored = write(stop_signal_pipe[1], &byte, 1);
        (void)ignored;
    }
    errno = saved_errno;
}

// GLFW cannot be called from a signal handler: this thread wakes the loop for it.
static void* wake_main_loop_on_stop_signal(void* unused) {
    for (;;) {
        u8 byte;
        ssize_t got = read(stop_signal_pipe[0], &byte, 1);
        if (got == 1) wake_main_loop();
        else if (got < 0 && errno == EINTR) continue;
        else return nullptr;
    }
}

b8 install_stop_signal_handlers() {
    editor_process_id = getpid();
    if (pipe2(stop_signal_pipe, O_CLOEXEC) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not make the pipe of the stop signals: %s", strerror(errno));
        return false;
    }
    fcntl(stop_signal_pipe[1], F_SETFL, fcntl(stop_signal_pipe[1], F_GETFL) | O_NONBLOCK);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, wake_main_loop_on_stop_signal, nullptr);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        add_log(nullptr, LOG_ERROR, "Could not start the stop-signal thread: %s", strerror(error));
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : STOP_SIGNALS) sigaction(s, &action, nullptr);
    return true;
}

b8 stop_signal_received() { return __atomic_load_n(&stop_signals_received, __ATOMIC_SEQ_CST) != 0; }

//~ The loop

// Resizes and close requests; the frame driver reads every other event.
static void apply_window_changes() {
    for (u32 i = 0; i < window.event_count; i++) {
        Window_Event* e = &window.events[i];
        if (e->kind != WINDOW_EVENT_WINDOW_CHANGE) continue;
        if (e->changes & WINDOW_RESIZED) resize_render_target(window.width, window.height);
        else if (e->changes & WINDOW_CLOSE_REQUESTED) atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN);
    }
    // A stop signal asks what closing the window asks.
    if (stop_signal_received()) atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN);
}

// Without a monitor (it can be unplugged) the fonts stay as they are.
static void follow_video_mode() {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;
    if (mode->width == remembered_video_mode_width && mode->height == remembered_video_mode_height) return;
    rescale_fonts_for_video_mode(mode->height);
    remembered_video_mode_width = mode->width;
    remembered_video_mode_height = mode->height;
    ui_screen_resolution = v2{(f32)mode->width, (f32)mode->height};
}

void run_main_loop() {
    while (atomic_load_u64(&global_flags) & SHOULD_RUN) run_main_loop_iteration();
}

void run_main_loop_iteration() {
    tmp_reset();
    u64 frame_start = os_get_monotonic_microseconds();
    window_start_events(&window);
    // A signal from before the window could be woken is seen here, not waited past.
    if ((ui_flags & UI_KEEP_RUNNING) || stop_signal_received()) glfwPollEvents();
    else glfwWaitEvents();

    apply_window_changes();
    follow_video_mode();
    prepare_frame();
    ui_begin_frame();
    draw_and_update_editor(v2{0, 0}, v2{(f32)renderer_info.width, (f32)renderer_info.height});
    ui_end_frame();
    swap_buffers(vsync_wanted(frame_start, last_time_we_asked_to_disable_vsync));

    // The span is the whole iteration, the wait for events included.
    u64 now = os_get_monotonic_microseconds();
    delta_time = (f32)(now - main_loop_time_stamp) / 1000.0f;
    main_loop_time_stamp = now;
}

void shut_down() {
    // Commands of terminal tabs end with the editor.
    kill_terminal_tab_processes();
    spin_lock(&tabs_read_lock);
    stop_waking_main_loop();
    if (window.handle) glfwDestroyWindow(window.handle);
    window.handle = nullptr;
    // Flushed, not closed: a line a thread still logs before the process ends (a failed
    // update check) goes into the same file.
    flush_log();
    // A transfer thread may still be inside libcurl; the process ends soon anyway.
    if (!update_client_threads_running()) curl_global_cleanup();
    ui_destroy_cursors();
    glfwTerminate();
    spin_unlock(&tabs_read_lock);
    tmp_release_slot();
}
