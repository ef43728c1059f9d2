// A test program, not shipped: the editor's main loop and shut-down around a frame of its
// own that draws the tab bar over three file tabs. The test that drives it
// (tab_bar_x_test.cpp) moves the mouse with xdotool, sends commands on stdin and reads
// what changed on stdout.
//
// Usage: tab_bar_demo FILES_DIRECTORY LOG_DIRECTORY
// Opens a.txt, b.txt and c.txt of FILES_DIRECTORY. Commands, one a line: "modify I",
// "gone I", "back I" (as the file watcher would flag tab I's file), "save I" (tab I made
// current and saved), "rescale HEIGHT" (a monitor of that height), "focus" (focus mode on
// or off), "errors" (two reports from a failed compile, on c.txt and d.txt, in a
// compile-errors tab made current), "clipboard" (what the clipboard holds). Reports:
// "ready <window id>" after the first frame, then "geometry BAR_LEFT BAR_TOP BAR_HEIGHT
// TAB_WIDTH MARGIN ICON", "tabs ID:TITLE|ID:TITLE..." and "current INDEX" whenever they
// change, "rescaled FONT_PIXELS CENTRED_FILE_TABS" after a rescale, "errors X HEADER_Y_1
// ICON_Y_1 HEADER_Y_2 ICON_Y_2" where the reports' headers and copy icons stand,
// "clipboard TEXT" (line feeds as "\n"), and "queued 0 NAME" or "queued 1 TAB_ID" for each
// editor command the frame queued (the demo carries none of them out).
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <curl/curl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "editor/editor.h"
#include "runtime/runtime.h"
#include "shell/shell.h"
#include "ui/asset_archive.h"
#include "ui/ui.h"

// GLFW's native interface, declared here because Xlib's headers name types Font and Glyph,
// as Quarn's do.
extern "C" unsigned long glfwGetX11Window(GLFWwindow* handle);

// This program always opens the OpenGL driver, whose blocks the leak check trips over.
extern "C" int __lsan_is_turned_off() { return 1; }

static u8 commands_lock;  // guards pending_commands between the stdin thread and the frame
static std::vector<std::string> pending_commands;

static void read_commands() {
    char line[256];
    while (fgets(line, sizeof(line), stdin)) {
        line[strcspn(line, "\n")] = 0;
        spin_lock(&commands_lock);
        pending_commands.push_back(line);
        spin_unlock(&commands_lock);
        wake_main_loop();
    }
}

static std::string files_directory;
static bool errors_shown;

static void add_compile_error(const std::string& path, u32 line, const char* captured, u32 column, u32 marked,
                              const char* message) {
    Compile_Error* e = (Compile_Error*)dynamic_array_add_fast(&compile_errors);
    memset(e, 0, sizeof(*e));
    e->line = line;
    e->path_length = (u16)path.size();
    memcpy(e->path, path.data(), path.size());
    e->captured_length = (u16)strlen(captured);
    memcpy(e->captured, captured, e->captured_length);
    e->message_length = (u16)strlen(message);
    memcpy(e->message, message, e->message_length);
    e->column = column;
    e->marked_length = marked;
}

static Editor_File* file_of_tab(u32 index) {
    Tab* tab = get_tab(index);
    return tab && tab->kind == TAB_FILE ? tab->file : nullptr;
}

static void apply_command(const std::string& command) {
    char verb[32] = {};
    int argument = -1;
    sscanf(command.c_str(), "%31s %d", verb, &argument);
    std::string v = verb;
    Editor_File* file = argument >= 0 ? file_of_tab((u32)argument) : nullptr;
    if (v == "modify" && file) atomic_or_u16(&file->flags, FILE_MODIFIED);
    else if (v == "gone" && file) atomic_or_u16(&file->flags, FILE_GONE_FROM_DISK);
    else if (v == "back" && file) atomic_and_u16(&file->flags, (u16)~FILE_GONE_FROM_DISK);
    else if (v == "save" && file) {
        set_current_tab((u32)argument, true);
        editor_ask_to_save_file();
    } else if (v == "focus") {
        if (global_flags & FOCUS_MODE) atomic_and_u64(&global_flags, ~(u64)FOCUS_MODE);
        else atomic_or_u64(&global_flags, FOCUS_MODE);
    } else if (v == "errors") {
        add_compile_error(files_directory + "/c.txt", 1, "c.txt", 0, 1, "Something is wrong here.");
        add_compile_error(files_directory + "/d.txt", 2, "let x = 1;\nlet y", 4, 1, "First line\nsecond line");
        Tab* tab = add_a_tab(TAB_COMPILE_ERRORS, nullptr);
        if (tab) set_current_tab(tab->position, true);
        errors_shown = true;
    } else if (v == "sync") {
        printf("synced %d\n", argument);  // every X event sent before it has been handled
    } else if (v == "clipboard") {
        std::string text = glfwGetClipboardString(window.handle) ? glfwGetClipboardString(window.handle) : "";
        for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "\\n");
        printf("clipboard %s\n", text.c_str());
    } else if (v == "rescale" && argument > 0) {
        for (u32 i = 0; i < tabs.count; i++) {
            if (file_of_tab(i)) atomic_and_u16(&file_of_tab(i)->flags, (u16)~FILE_CENTRE_CURSOR);
        }
        rescale_fonts_for_video_mode(argument);
        u32 centred = 0;
        for (u32 i = 0; i < tabs.count; i++) {
            centred += file_of_tab(i) && (atomic_load_u16(&file_of_tab(i)->flags) & FILE_CENTRE_CURSOR);
        }
        printf("rescaled %u %u\n", ui_font_pool.pixel_size, centred);
    }
    ui_do_not_stop_after_current_frame();
}

static std::string reported_geometry, reported_tabs, reported_current, reported_errors;

static void report(Tab_Bar_Geometry* g) {
    char line[256];
    snprintf(line, sizeof(line), "geometry %.0f %.0f %.0f %.0f %.0f %u", g->bar_position.x, g->bar_position.y,
             g->bar_size.y, g->tab_width, g->margin, icons_font_pool.pixel_size);
    if (line != reported_geometry) printf("%s\n", (reported_geometry = line).c_str());
    std::string titles = "tabs ";
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        titles += (i ? "|" : "") + std::to_string(tab->id) + ":" + std::string((char*)tab->title.data, tab->title.count);
    }
    if (titles != reported_tabs) printf("%s\n", (reported_tabs = titles).c_str());
    std::string current = "current " + std::to_string(current_tab_index);
    if (current != reported_current) printf("%s\n", (reported_current = current).c_str());
    if (errors_shown && compile_errors.count >= 2) {
        f32 gap = 0.4f * (f32)ui_font_pool.pixel_size;
        Compile_Error* errors = (Compile_Error*)compile_errors.data;
        Compile_Error_Layout first = layout_compile_error(errors, g->content_position.y + gap, g->content_size.x);
        Compile_Error_Layout second = layout_compile_error(errors + 1, first.bottom, g->content_size.x);
        snprintf(line, sizeof(line), "errors %.0f %.0f %.0f %.0f %.0f", g->content_position.x + gap, first.header_top,
                 first.icon_top, second.header_top, second.icon_top);
        if (line != reported_errors) printf("%s\n", (reported_errors = line).c_str());
    }
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* command = (Editor_Command*)editor_commands.data + i;
        if (command->command_kind == COMMAND_ADD_TAB) {
            Editor_File* file = (Editor_File*)command->payload;
            printf("queued 0 %.*s\n", (int)file->name.count, (char*)file->name.data);
        } else {
            printf("queued %u %u\n", command->command_kind, command->tab_target);
        }
    }
    editor_commands.count = 0;
    fflush(stdout);
}

void draw_and_update_editor(v2 position, v2 size) {
    // While the frame leaves input for the next one, commands wait with it: "synced" means
    // every X event sent before has been handled.
    std::vector<std::string> commands;
    spin_lock(&commands_lock);
    if (window.kept_event_count == 0) commands.swap(pending_commands);
    spin_unlock(&commands_lock);
    for (const std::string& c : commands) apply_command(c);

    draw_quad(position, size, editor_settings.text_theme.colours[0]);
    Tab_Bar_Geometry g = make_tab_bar_geometry(position, size, position.x, position.y);
    draw_and_update_tab_bar(&g);

    static bool ready;
    if (!ready) {
        printf("ready 0x%lx\n", (unsigned long)glfwGetX11Window(window.handle));
        ready = true;
    }
    report(&g);
}

static bool open_file_in_tab(const std::string& path) {
    Filepath split;
    Editor_File* file = add_a_file();
    if (!file || !string_to_filepath(&split, (u8*)path.data(), (s64)path.size()) || !load_file(&split, file)) return false;
    current_tab_index = tabs.count ? tabs.count - 1 : 0;
    Tab* tab = add_a_tab(TAB_FILE, file);
    if (!tab) return false;
    set_current_tab(tab->position, false);
    return true;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    if (!init_memory(PROGRAM_EDITOR) || !glfwInit()) return 1;
    ui_create_cursors();
    curl_global_init(CURL_GLOBAL_ALL);
    if (!init_executable_filepath() || !init_assets(executable_filepath) || !init_logging()) return 1;
    set_log_directory(string_from_c(argv[2]));
    if (!create_window_with_callbacks(&window, 800, 600, "Tab bar demo") ||
        !init_renderer(&window, window.width, window.height) || !ui_init(&window)) {
        return 1;
    }
    init_custom_layer();
    init_tabs();
    init_editor_commands();
    init_dynamic_array(&compile_errors, sizeof(Compile_Error));
    files_directory = argv[1];
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        if (!open_file_in_tab(std::string(argv[1]) + "/" + name)) return 1;
    }

    std::thread(read_commands).detach();
    main_loop_time_stamp = os_get_monotonic_microseconds();
    run_main_loop();
    shut_down();
    return 0;
}
