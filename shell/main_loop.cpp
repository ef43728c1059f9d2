// The main loop's outer steps around each frame, and shut-down.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <curl/curl.h>

#include "shell/main_loop.h"
#include "shell/editor_state.h"
#include "shell/tabs.h"
#include "shell/update_client.h"
#include "runtime/custom_layer.h"
#include "ui/ui.h"

u64 main_loop_time_stamp;
s32 remembered_video_mode_width;
s32 remembered_video_mode_height;

void rescale_fonts_for_video_mode(s32 height) {
    spin_lock(&custom_layer.execution_lock);
    f32 size = handle_screen_resolution_change(custom_layer.font_size, height);
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) atomic_or_u16(&tab->file->flags, FILE_CENTRE_CURSOR);
    }
    custom_layer.font_size = size;
    spin_unlock(&tabs_read_lock);
    spin_unlock(&custom_layer.execution_lock);
}

// Resizes and close requests; the frame driver reads every other event.
static void apply_window_changes() {
    for (u32 i = 0; i < window.event_count; i++) {
        Window_Event* e = &window.events[i];
        if (e->kind != WINDOW_EVENT_WINDOW_CHANGE) continue;
        if (e->changes & WINDOW_RESIZED) resize_render_target(window.width, window.height);
        else if (e->changes & WINDOW_CLOSE_REQUESTED) atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN);
    }
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
    window.event_count = 0;
    if (ui_flags & UI_KEEP_RUNNING) glfwPollEvents();
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
