// The frame driver without a window: window events turned into the layer's events, the
// queued editor commands, the compile-errors tab following compile_errors, and the new-file
// and neighbour-tab actions of the top bar.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "editor/editor.h"
#include "shell/shell.h"
#include "tests/process_test_support.h"
#include "tests/shell/shell_test_support.h"
#include "terminal/terminal.h"
#include "tests/ui/archive_fonts.h"
#include "ui/ui_state.h"

namespace {

struct Frame_Driver_Test : ::testing::Test {
    void SetUp() override {
        if (compile_errors.element_size == 0) init_dynamic_array(&compile_errors, sizeof(Compile_Error));
        compile_errors.count = 0;
        reset_tabs_and_commands();
        ui_flags = 0;
        window.event_count = 0;
    }
    void TearDown() override {
        compile_errors.count = 0;
        reset_tabs_and_commands();
        window.event_count = 0;
    }
};

// n file tabs, the last one current; each file's name is its tab's id.
void open_file_tabs(u32 n) {
    for (u32 i = 0; i < n; i++) {
        Editor_File* file = add_a_file();
        ASSERT_NE(file, nullptr);
        std::string name = std::to_string(next_tab_id);
        memcpy(file->name_storage, name.data(), name.size());
        file->name = String{file->name_storage, (s64)name.size()};
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        Tab* tab = add_a_tab(TAB_FILE, file);
        ASSERT_NE(tab, nullptr);
        set_current_tab(tab->position, true);
    }
}

void add_one_compile_error() {
    Compile_Error* e = (Compile_Error*)dynamic_array_add_fast(&compile_errors);
    ASSERT_NE(e, nullptr);
    memset(e, 0, sizeof(*e));
    e->line = 1;
}

Window_Event make_event(u8 kind, u32 payload, u8 modifiers) {
    Window_Event e = {};
    e.kind = kind;
    e.code = payload;
    e.modifiers = modifiers;
    return e;
}

}  // namespace

TEST(FrameDriver, WindowEventsBecomeLayerEvents) {
    struct Case {
        const char* name;
        Window_Event event;
        bool makes_entry;
        Custom_Layer_Event expected;
    };
    const Case cases[] = {
        {"character", make_event(WINDOW_EVENT_CHARACTER, 0x20AC, MODIFIER_SHIFT), true, {1, 0x20AC, 4, {}}},
        {"key down", make_event(WINDOW_EVENT_KEY_DOWN, 65, MODIFIER_CONTROL | MODIFIER_ALT), true, {2, 65, 3, {}}},
        {"key up", make_event(WINDOW_EVENT_KEY_UP, 256, 0), true, {4, 256, 0, {}}},
        {"modifiers cut to three bits", make_event(WINDOW_EVENT_KEY_DOWN, 66, 0xFF), true, {2, 66, 7, {}}},
        {"left press, code 0", make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_LEFT_PRESS, MODIFIER_CONTROL), true,
         {8, 0, 1, {}}},
        {"left release", make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_LEFT_RELEASE, 0), false, {}},
        {"double click", make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_DOUBLE_CLICK, 0), false, {}},
        {"right press", make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_RIGHT_PRESS, 0), false, {}},
        {"middle press", make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_MIDDLE_PRESS, 0), false, {}},
        {"scroll", make_event(WINDOW_EVENT_SCROLL, 0, 0), false, {}},
        {"resize", make_event(WINDOW_EVENT_WINDOW_CHANGE, WINDOW_RESIZED, 0), false, {}},
        {"close request", make_event(WINDOW_EVENT_WINDOW_CHANGE, WINDOW_CLOSE_REQUESTED, 0), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window_Event event = c.event;
        Custom_Layer_Event out[1];
        memset(out, 0xEE, sizeof(out));
        u32 made = make_custom_layer_events(&event, 1, out);
        EXPECT_EQ(made, c.makes_entry ? 1u : 0u);
        if (made) {
            EXPECT_EQ(memcmp(&out[0], &c.expected, sizeof(Custom_Layer_Event)), 0);  // padding zeroed too
        }
    }

    // A mixed queue keeps its order and skips what makes no entry.
    Window_Event queue[] = {make_event(WINDOW_EVENT_SCROLL, 0, 0), make_event(WINDOW_EVENT_CHARACTER, 'a', 0),
                            make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_RIGHT_PRESS, 0),
                            make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_LEFT_PRESS, 0),
                            make_event(WINDOW_EVENT_KEY_UP, 'A', 0)};
    Custom_Layer_Event out[5];
    ASSERT_EQ(make_custom_layer_events(queue, 5, out), 3u);
    EXPECT_EQ(out[0].kind, 1u);
    EXPECT_EQ(out[1].kind, 8u);
    EXPECT_EQ(out[2].kind, 4u);
}

TEST_F(Frame_Driver_Test, TheFramesEventListLivesOnlyForTheCall) {
    window.events[0] = make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_LEFT_PRESS, 0);
    window.event_count = 1;
    update_editor();
    EXPECT_EQ(ui_flags & UI_KEEP_RUNNING, 0) << "a click alone asks for no further frame";
    EXPECT_EQ(custom_layer.events, nullptr);
    EXPECT_EQ(custom_layer.event_count, 0);
    EXPECT_EQ(custom_layer.sources_lock, 0);
    EXPECT_EQ(custom_layer.execution_lock, 0);

    window.events[1] = make_event(WINDOW_EVENT_KEY_DOWN, 'S', MODIFIER_CONTROL);
    window.event_count = 2;
    update_editor();
    EXPECT_EQ(ui_flags & UI_KEEP_RUNNING, 0) << "a key is drawn in its own frame and asks for no other";
    EXPECT_EQ(custom_layer.events, nullptr);
    EXPECT_EQ(window.event_count, 2) << "the widgets still find the click";
}

TEST_F(Frame_Driver_Test, QueuedCommandsAddAndSwitchTabs) {
    open_file_tabs(3);  // ids 0, 1, 2; the last current
    set_current_tab(0, true);

    // A tab added while the first is current goes right after it and becomes current.
    Editor_File* file = add_a_file();
    ASSERT_TRUE(queue_add_tab_command(TAB_FILE, file));
    EXPECT_EQ(((Editor_Command*)editor_commands.data)->tab_target, 1u) << "queued at tmp_current_tab_index + 1";
    perform_editor_commands();
    ASSERT_EQ(tabs.count, 4u);
    EXPECT_EQ(current_tab_index, 1u);
    EXPECT_EQ(get_tab(1)->file, file);
    EXPECT_EQ(current_file, file);
    EXPECT_EQ(editor_commands.count, 0u);
    EXPECT_EQ(tmp_current_tab_index, 1u);

    // Going to a tab by id follows the record wherever it moved; a gone id does nothing.
    ASSERT_TRUE(queue_go_to_tab_command(2));
    perform_editor_commands();
    EXPECT_EQ(get_current_tab()->id, 2u);
    EXPECT_EQ(current_file, get_current_tab()->file);
    close_tab(get_tab_by_id(0));
    u32 before = current_tab_index;
    ASSERT_TRUE(queue_go_to_tab_command(0));
    ASSERT_TRUE(queue_go_to_tab_command(99));
    perform_editor_commands();
    EXPECT_EQ(current_tab_index, before);
    EXPECT_EQ(editor_commands.count, 0u);

    // Commands run in queue order: the second add lands right of the first.
    Editor_File* a = add_a_file();
    Editor_File* b = add_a_file();
    queue_add_tab_command(TAB_FILE, a);
    queue_add_tab_command(TAB_FILE, b);
    perform_editor_commands();
    EXPECT_EQ(get_tab(current_tab_index - 1)->file, a);
    EXPECT_EQ(get_current_tab()->file, b);
}

TEST_F(Frame_Driver_Test, ARefusedTabGivesItsRecordBack) {
    Editor_File* file = add_a_file();
    current_file = file;
    ASSERT_TRUE(queue_add_tab_command(3, file));  // no kind of tab
    perform_editor_commands();
    EXPECT_EQ(tabs.count, 0u);
    EXPECT_EQ(current_file, nullptr);
    EXPECT_EQ(atomic_load_u16(&file->flags) & FILE_IN_USE, 0);
}

TEST_F(Frame_Driver_Test, TheCompileErrorsTabFollowsTheReports) {
    open_file_tabs(2);
    set_current_tab(0, true);
    keep_compile_errors_tab_in_step();
    EXPECT_EQ(tabs.count, 2u) << "no reports, no tab";

    // Reports bring a tab right of the current one, current, with no file on the keyboard.
    add_one_compile_error();
    atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
    keep_compile_errors_tab_in_step();
    ASSERT_EQ(tabs.count, 3u);
    Tab* errors = get_tab(1);
    EXPECT_EQ(errors->kind, TAB_COMPILE_ERRORS);
    EXPECT_EQ(std::string((char*)errors->title.data, errors->title.count), "Compile errors");
    EXPECT_EQ(current_tab_index, 1u);
    EXPECT_EQ(current_file, nullptr);
    EXPECT_EQ(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    u32 errors_id = errors->id;

    // It stays where the user left it until a failed compile asks for it again.
    set_current_tab(2, true);
    keep_compile_errors_tab_in_step();
    EXPECT_EQ(tabs.count, 3u) << "never a second one";
    EXPECT_EQ(current_tab_index, 2u);
    atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
    keep_compile_errors_tab_in_step();
    EXPECT_EQ(get_current_tab()->id, errors_id);
    EXPECT_EQ(global_flags & DISPLAY_COMPILE_ERRORS, 0u);

    // A compile without reports takes it away.
    compile_errors.count = 0;
    keep_compile_errors_tab_in_step();
    EXPECT_EQ(tabs.count, 2u);
    EXPECT_EQ(get_tab_by_id(errors_id), nullptr);
}

TEST_F(Frame_Driver_Test, NewFileAndNeighbourTabs) {
    // The new text has the keyboard at once and its tab from the next frame.
    open_new_file_tab();
    Editor_File* fresh = current_file;
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(tabs.count, 0u);
    perform_editor_commands();
    ASSERT_EQ(tabs.count, 1u);
    EXPECT_EQ(get_tab(0)->file, fresh);
    EXPECT_EQ(atomic_load_u16(&fresh->flags) & FILE_MODIFIED, FILE_MODIFIED) << "an untitled text is unsaved";

    reset_tabs_and_commands();
    open_file_tabs(3);
    struct Step {
        s32 direction;
        u32 expected;
    };
    const Step steps[] = {{+1, 0}, {+1, 1}, {-1, 0}, {-1, 2}, {-1, 1}};  // wrapping at both ends
    for (const Step& s : steps) {
        switch_to_neighbour_tab(s.direction);
        EXPECT_EQ(current_tab_index, s.expected);
        EXPECT_EQ(current_file, get_current_tab()->file) << "the keyboard follows the tab shown";
    }
    current_tab_index = 7;  // none current after closes
    switch_to_neighbour_tab(-1);
    EXPECT_EQ(current_tab_index, 2u);
}

TEST(FrameDriver, InformationPanelLines) {
    Computer_Info info = {};
    info.usable_ram = 3ull * 1024 * 1024 * 1024;
    info.isa = ISA_AMD64;
    info.num_physical_cores = 4;
    info.num_logical_cores = 8;
    const char os[] = "Test OS 1";
    memcpy(info.os_name_buffer, os, sizeof(os) - 1);
    info.os_name = String{info.os_name_buffer, (s64)sizeof(os) - 1};

    std::vector<std::string> lines;
    for (u32 i = 0; i < INFORMATION_PANEL_LINE_COUNT; i++) {
        String line = information_panel_line_tmp(i, &info);
        lines.push_back(std::string((char*)line.data, line.count));
    }
    EXPECT_EQ(lines[0].rfind("Built on ", 0), 0u);
    EXPECT_EQ(lines[1], "Editor version: 0.3.2 (beta)");
    EXPECT_EQ(lines[2], "Open a file from the command line or with the open icon.");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4].rfind("CPU model: ", 0), 0u);
    EXPECT_EQ(lines[5], "CPU ISA: AMD64");
    EXPECT_EQ(lines[6], "Num. CPU cores: 4 (physical), 8 (logical)");
    EXPECT_EQ(lines[7], std::string("Usable RAM: ") + byte_size_to_c_string(info.usable_ram));
    EXPECT_NE(lines[7], "Usable RAM: ");
    EXPECT_EQ(lines[8], "OS: Test OS 1");
}

namespace {

// A finished command's notifier runs on by itself once the command's worker has let go of
// it. While one lives, this process adopts such orphans, so that a test can wait for the
// last of them before its files go. Children the process had before (the servers of other
// tests) are left alone.
struct Adopted_Orphans {
    std::vector<int> before = children();

    Adopted_Orphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~Adopted_Orphans() { prctl(PR_SET_CHILD_SUBREAPER, 0); }

    static std::vector<int> children() {
        std::vector<int> out;
        for (const Process_Entry& e : read_process_table()) {
            if (e.parent == getpid()) out.push_back(e.pid);
        }
        return out;
    }

    // Reaps the new children as they end, until none is left.
    bool wait_for_all() {
        return wait_until([&] {
            for (int pid : children()) {
                if (std::find(before.begin(), before.end(), pid) != before.end()) continue;
                if (waitpid(pid, nullptr, WNOHANG) == 0) return false;
            }
            return true;
        });
    }
};

bool wait_until_idle(Terminal* terminal) {
    return wait_until(
        [&] {
            Terminal_Result* last = terminal->current_result;
            return !last || !(atomic_load_u8(&last->flags) & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING));
        });
}

}  // namespace

TEST_F(Frame_Driver_Test, TerminalCommandsFindOrMakeTheirTab) {
    static bool terminals_ready = false;
    if (!terminals_ready) init_terminals();
    terminals_ready = true;
    Adopted_Orphans orphans;
    std::string scratch = make_scratch_directory(), other = make_scratch_directory();
    Filepath here, elsewhere, any;
    ASSERT_TRUE(string_to_filepath(&here, (u8*)scratch.data(), (s64)scratch.size()));
    ASSERT_TRUE(string_to_filepath(&elsewhere, (u8*)other.data(), (s64)other.size()));
    any.count = 0;

    // No terminal tab yet: one is made in the directory, current, with the keyboard.
    ASSERT_TRUE(queue_run_in_terminal_command(STR("true"), &here));
    perform_editor_commands();
    ASSERT_EQ(tabs.count, 1u);
    Tab* tab = get_tab(0);
    ASSERT_EQ(tab->kind, TAB_TERMINAL);
    EXPECT_EQ(current_tab_index, 0u);
    EXPECT_EQ(current_file, tab->input_line);
    EXPECT_EQ(global_editor_context, CONTEXT_TERMINAL);
    String directory = filepath_to_tmp_string(&tab->terminal->directory);
    EXPECT_EQ(std::string((char*)directory.data, directory.count), scratch);
    EXPECT_EQ(std::string((char*)tab->title.data, tab->title.count), "true | " + scratch);
    EXPECT_EQ(tab->input_line->text.count, 0) << "run and emptied";
    EXPECT_EQ(tab->input_line->undo_records.count, 0u);
    ASSERT_TRUE(wait_until_idle(tab->terminal));

    // An idle terminal in that directory is used again; so is any idle one for no directory.
    ASSERT_TRUE(queue_run_in_terminal_command(STR("true"), &here));
    perform_editor_commands();
    EXPECT_EQ(tabs.count, 1u);
    ASSERT_TRUE(wait_until_idle(get_tab(0)->terminal));
    ASSERT_TRUE(queue_run_in_terminal_command(STR("sleep 5"), &any));
    perform_editor_commands();
    EXPECT_EQ(tabs.count, 1u);

    // A busy one is not: the line would become input for its command.
    ASSERT_TRUE(queue_run_in_terminal_command(STR("true"), &here));
    perform_editor_commands();
    ASSERT_EQ(tabs.count, 2u);
    EXPECT_EQ(current_tab_index, 1u);
    // Nor one elsewhere.
    ASSERT_TRUE(wait_until_idle(get_tab(1)->terminal));
    ASSERT_TRUE(queue_run_in_terminal_command(STR("true"), &elsewhere));
    perform_editor_commands();
    EXPECT_EQ(tabs.count, 3u);

    std::string too_long(EDITOR_COMMAND_TEXT_CAPACITY + 1, 'x');
    EXPECT_FALSE(queue_run_in_terminal_command(String{(u8*)too_long.data(), (s64)too_long.size()}, &here));
    EXPECT_EQ(editor_commands.count, 0u);

    while (tabs.count) close_tab(get_tab(0));  // kills the sleep and waits for the workers
    EXPECT_TRUE(orphans.wait_for_all()) << "a program the commands started still runs";
    remove_scratch_directory(scratch);
    remove_scratch_directory(other);
}

TEST_F(Frame_Driver_Test, UpdateMakesItsTabAndHidesBothButtons) {
    ASSERT_TRUE(set_up_archive_fonts(20));
    ui_window = &window;
    renderer_info = Renderer_Info{800, 600, nullptr};
    // A server that takes the connection and never answers holds the download until the
    // test closes it, so the frame sees the flags as the press left them.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t address_size = sizeof(address);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, (sockaddr*)&address, &address_size), 0);
    std::string host = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const char* saved_host = update_client_settings.host;
    update_client_settings.host = host.c_str();
    open_file_tabs(2);
    set_current_tab(0, true);
    atomic_or_u64(&global_flags, UPDATE_IS_AVAILABLE);

    // A press in the middle of "Update", the first item of the bar.
    f32 ui = (f32)ui_font_pool.pixel_size;
    window.events[0] = make_event(WINDOW_EVENT_MOUSE_BUTTON, MOUSE_LEFT_PRESS, 0);
    window.event_count = 1;
    ui_begin_frame_with_mouse(v2{0.4f * ui + 5, 0.75f * ui});
    prepare_frame();
    f32 bar_left = draw_top_bar(v2{0, 0}, v2{800, 600});

    ASSERT_EQ(tabs.count, 3u);
    Tab* update = get_current_tab();
    EXPECT_EQ(update->kind, TAB_UPDATE);
    EXPECT_EQ(current_tab_index, 1u) << "right of the tab that was current";
    EXPECT_EQ(atomic_load_u64(&global_flags) & UPDATE_IS_AVAILABLE, 0u);
    // After "Update" come the icons at once: "What is new" went with the press. No save
    // icon on an update tab; new file, open file, new terminal, previous and next.
    f32 gap = 0.4f * ui, icon = (f32)icons_font_pool.pixel_size;
    f32 update_width = get_text_advance((u8*)"Update", 6, &ui_font_pool, editor_settings.tab_width) + 3 * gap;
    EXPECT_FLOAT_EQ(bar_left, update_width + 5 * (icon + gap));
    // The download thread works for this tab: once the server goes, it marks this tab failed.
    shutdown(listener, SHUT_RDWR);
    close(listener);
    u32 id = update->id;
    EXPECT_TRUE(wait_until(
        [&] {
            spin_lock(&tabs_read_lock);
            Tab* tab = get_tab_by_id(id);
            b8 failed = tab && tab->download_state == DOWNLOAD_FAILED;
            spin_unlock(&tabs_read_lock);
            return failed;
        },
        30));
    EXPECT_TRUE(wait_until([] { return !update_client_threads_running(); }));
    EXPECT_NE(atomic_load_u64(&global_flags) & UPDATE_IS_AVAILABLE, 0u) << "a failed download brings Update back";
    update_client_settings.host = saved_host;
}
