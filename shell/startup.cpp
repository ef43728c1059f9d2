// The start-up sequence, in its fixed order, and the program around the main loop.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <curl/curl.h>
#include <stb/stb_image.h>

#include "shell/startup.h"
#include "editor/file_io.h"
#include "listers/lister_panels.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "shell/file_tabs.h"
#include "shell/file_watcher.h"
#include "shell/layer_calls.h"
#include "shell/main_loop.h"
#include "shell/system_info.h"
#include "shell/tabs.h"
#include "shell/terminal_tabs.h"
#include "shell/update_client.h"
#include "compiler/core/compiler_core.h"
#include "runtime/custom_layer.h"
#include "runtime/foreign_routines.h"
#include "compiler/parser/front_end.h"
#include "runtime/shell_actions.h"
#include "terminal/terminal.h"
#include "ui/ui.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

//~ Pieces of start-up

void log_general_information() {
    add_log(nullptr, LOG_INFO, "Quarn version %s", version_to_c_string(EDITOR_VERSION));
    Computer_Info* info = (Computer_Info*)tmp_allocate_aligned(sizeof(Computer_Info), alignof(Computer_Info));
    if (!info) return;
    os_get_computer_info(info);
    log_new_line();
    add_log(nullptr, LOG_INFO, "--- General Information ---");
    add_log(nullptr, LOG_INFO, "CPU model:      %s", os_get_cpu_model_c_string());
    add_log(nullptr, LOG_INFO, "CPU ISA:        %s", os_get_cpu_isa_c_string(info->isa));
    add_log(nullptr, LOG_INFO, "Num. CPU cores: %u (physical), %u (logical)", info->num_physical_cores,
            info->num_logical_cores);
    add_log(nullptr, LOG_INFO, "Usable RAM:     %s", byte_size_to_c_string(info->usable_ram));
    add_log(nullptr, LOG_INFO, "OS:             %s", to_tmp_c_string(info->os_name));
    log_new_line();
}

void set_window_icon(String directory) {
    u64 saved = tmp_get_used();
    String path = directory.count ? string_concat2("%/" WINDOW_ICON_FILE_NAME, directory) : STR(WINDOW_ICON_FILE_NAME);
    struct stat st;
    int fd = -1;
    Gp_Allocation data = {};
    if (path.data && stat((char*)path.data, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        (u64)st.st_size <= WINDOW_ICON_MAX_SIZE && gp_allocate(&data, (u64)st.st_size) &&
        (fd = open((char*)path.data, O_RDONLY | O_CLOEXEC)) >= 0 && os_read_all(fd, data.memory, (u64)st.st_size)) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load_from_memory(data.memory, (int)st.st_size, &width, &height, &channels, 4);
        if (pixels) {
            GLFWimage image = {width, height, pixels};
            glfwSetWindowIcon(window.handle, 1, &image);
            stbi_image_free(pixels);
        }
    }
    if (fd >= 0) close(fd);
    gp_free(&data);
    tmp_set_used(saved);
}

b8 replace_updater(String directory) {
    u64 saved = tmp_get_used();
    String separator = directory.count ? STR("/") : String{};
    String from = string_concat2("%%" NEW_UPDATER_FILE_NAME, directory, separator);
    String to = string_concat2("%%" UPDATER_FILE_NAME, directory, separator);
    b8 replaced = false;
    // One rename replaces the old updater in a single step; unlinking it first could leave
    // none when the rename then fails.
    if (from.data && to.data) {
        if (rename((char*)from.data, (char*)to.data) == 0) {
            add_log(nullptr, LOG_INFO, "The updater delivered by the last update is now in place.");
            replaced = true;
        } else if (errno != ENOENT) {
            add_log(nullptr, LOG_ERROR, "Could not move \"%s\" over \"%s\": %s.", (char*)from.data, (char*)to.data,
                    strerror(errno));
        }
    }
    tmp_set_used(saved);
    return replaced;
}

void set_working_directory_from_process() {
    editor_working_directory.count = 0;
    u8* buffer = tmp_allocate(WORKING_DIRECTORY_CAPACITY);
    if (buffer && getcwd((char*)buffer, WORKING_DIRECTORY_CAPACITY)) {
        if (!string_to_filepath(&editor_working_directory, buffer, (s64)strlen((char*)buffer))) {
            editor_working_directory.count = 0;
        }
    }
}

//~ The sequence

// What glfwInit said when it failed, kept for the message at window creation.
static char glfw_failure[256];

static void remember_glfw_failure() {
    const char* description = nullptr;
    glfwGetError(&description);
    if (description && !glfw_failure[0]) snprintf(glfw_failure, sizeof(glfw_failure), "%s", description);
}

// A start that cannot go on is said where the user looks (the terminal) and in the log.
static void report_failed_start(const char* what) {
    fprintf(stderr, "Quarn cannot start: %s%s%s.\n", what, glfw_failure[0] ? ": " : "", glfw_failure);
    add_log(nullptr, LOG_ERROR, "Quarn cannot start: %s%s%s.", what, glfw_failure[0] ? ": " : "", glfw_failure);
}

static b8 open_editor_window() {
    String title = string_concat2("Quarn - v%", version_to_string(EDITOR_VERSION));
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_TRUE);
    glfwWindowHint(GLFW_DECORATED, GLFW_TRUE);
    glfwWindowHint(GLFW_FOCUSED, GLFW_TRUE);
    glfwWindowHint(GLFW_MAXIMIZED, GLFW_TRUE);
    if (!title.data || !create_window_with_callbacks(&window, EDITOR_WINDOW_WIDTH, EDITOR_WINDOW_HEIGHT, (char*)title.data)) {
        remember_glfw_failure();
        report_failed_start("no window could be opened");
        return false;
    }
    set_window_icon(executable_filepath);
    if (!init_renderer(&window, window.width, window.height) || !ui_init(&window)) {
        report_failed_start("drawing could not be set up (the log says why)");
        return false;
    }
    return true;
}

void install_shell_actions() {
    shell_actions.set_current_tab = set_current_tab;
    shell_actions.close_tab = close_tab;
    shell_actions.open_new_file_tab = open_new_file_tab;
    shell_actions.open_new_terminal_tab = open_new_terminal_tab;
    shell_actions.ask_to_save_file = editor_ask_to_save_file;
}

static void set_up_editor_state() {
    init_custom_layer();  // zeroed, the default themes, tab width 4
    install_shell_actions();
    init_terminals();
    init_tabs();
    init_editor_commands();
    init_listers();
    set_working_directory_from_process();
}

b8 start_editor() {
    // A save past the file-size limit then fails with EFBIG instead of ending the editor.
    signal(SIGXFSZ, SIG_IGN);
    // Temporaries of saves older than this were left by editors that ended mid-save.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    editor_start_time = (u64)now.tv_sec * 1000000000ull + (u64)now.tv_nsec;

    if (glfwInit()) ui_create_cursors();
    else remember_glfw_failure();  // start-up goes on and stops at the window

    if (!init_memory(PROGRAM_EDITOR)) return false;  // said on stderr
    curl_global_init(CURL_GLOBAL_ALL);
    init_executable_filepath();
    init_assets(executable_filepath);
    init_logging();
    install_stop_signal_handlers();
    log_general_information();

    if (!open_editor_window()) return false;

    init_compiler(executable_filepath);
    replace_updater(executable_filepath);
    set_up_editor_state();
    setup_foreign_routines_table();  // the compiler binds imports by these hashes
    connect_parser_routines();
    load_custom_layer(1);
    start_file_watcher();
    start_update_checker();

    main_loop_time_stamp = os_get_monotonic_microseconds();
    read_command_line();
    // The first frame finds no remembered video mode and so sizes the fonts for the monitor.
    return true;
}

int run_editor() {
    if (!start_editor()) {
        shut_down();
        return 1;
    }
    if (atomic_load_u64(&global_flags) & SHOULD_RUN) run_main_loop();
    shut_down();
    return 0;
}
