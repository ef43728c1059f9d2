// Terminal tabs without a window: the directory a new one starts in, what a switch hands
// over, closing one and shutting down with commands running, the status icon of the label,
// and the header with its "Kill Process" button. Commands run on real pseudo-terminals.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "../process_test_support.h"
#include "tests/waiting.h"
#include "tests/ui/archive_fonts.h"
#include "tests/ui/drawn_quads.h"
#include "runtime/custom_layer.h"
#include "shell/shell.h"
#include "terminal/terminal.h"
#include "ui/ui.h"

namespace {

void set_up_terminals_and_fonts() {
    static bool done = false;
    if (done) return;
    done = true;
    tmp_claim_slot();
    init_terminals();
    atomic_store_u8(&window_is_focused, 1);  // no desktop notifications
    ASSERT_TRUE(set_up_archive_fonts(20));
    ui_window = &window;
    renderer_info = Renderer_Info{800, 600, nullptr};
    ui_screen_resolution = v2{1000, 800};
}

void set_path(Filepath* path, const std::string& text) {
    ASSERT_TRUE(string_to_filepath(path, (u8*)text.data(), (s64)text.size()));
}

std::string joined(Filepath* path) {
    String s = filepath_to_tmp_string(path);
    return std::string((char*)s.data, s.count);
}

Editor_File* make_input_line() {
    Editor_File* line = add_a_file();
    atomic_or_u16(&line->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    return line;
}

// A terminal tab right of the current tab, made current.
Tab* open_terminal_tab() {
    Tab* tab = add_a_tab(TAB_TERMINAL, make_input_line());
    if (tab) set_current_tab(tab->position, true);
    return tab ? get_tab(current_tab_index) : nullptr;
}

void run_in(Tab* tab, const std::string& line) {
    Editor_File* input = tab->input_line;
    input->text.count = 0;
    memcpy(dynamic_array_add_fast_multiple(&input->text, (u32)line.size()), line.data(), line.size());
    execute_terminal_command_line(tab->terminal, input, &tab->title, TAB_TITLE_CAPACITY);
}

bool wait_for_workers(Terminal* t) {
    return wait_for_condition([&] {
        for (Terminal_Result* b = (Terminal_Result*)t->results.first_element; b; b = b->next) {
            if (atomic_load_u8(&b->flags) & TERMINAL_RESULT_WORKER) return false;
        }
        return true;
    });
}

int held_process(Terminal* t) {
    spin_lock(&t->lock);
    int id = t->process_id;
    spin_unlock(&t->lock);
    return id;
}

void close_every_tab() {
    while (tabs.count) close_tab(get_tab(tabs.count - 1));
    dynamic_array_free(&tabs);
    init_tabs();
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
    editor_working_directory.count = 0;
}

struct TerminalTabsThreads : ::testing::Test {
    void SetUp() override {
        set_up_terminals_and_fonts();
        editor_settings.text_theme = default_text_theme;
        editor_settings.ui_theme = default_ui_theme;
        close_every_tab();
    }
    void TearDown() override { close_every_tab(); }
};

}  // namespace

TEST_F(TerminalTabsThreads, ANewTerminalStartsWhereTheTabLeftOfItWorks) {
    set_path(&editor_working_directory, "/srv/working");
    struct Case {
        const char* name;
        char left;  // 'n' no tab, 'p' a file with a path, 'u' a file without one, 't' a terminal
        std::string directory;
    };
    const Case cases[] = {
        {"no tab", 'n', "/srv/working"},
        {"a file with a path", 'p', "/srv/files"},
        {"a file without a path", 'u', "/srv/working"},
        {"a terminal", 't', "/srv/terminal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        close_every_tab();
        set_path(&editor_working_directory, "/srv/working");
        if (c.left == 'p' || c.left == 'u') {
            Editor_File* file = add_a_file();
            if (c.left == 'p') set_path(&file->directory, "/srv/files");
            ASSERT_NE(add_a_tab(TAB_FILE, file), nullptr);
            set_current_tab(0, true);
        } else if (c.left == 't') {
            Tab* left = open_terminal_tab();
            ASSERT_NE(left, nullptr);
            set_path(&left->terminal->directory, "/srv/terminal");
        }
        Tab* tab = open_terminal_tab();
        ASSERT_NE(tab, nullptr);
        ASSERT_EQ(tab->kind, TAB_TERMINAL);
        EXPECT_EQ(joined(&tab->terminal->directory), c.directory);
        EXPECT_EQ(tab->terminal->process_id, -1);
        EXPECT_EQ(current_file, tab->input_line);
        EXPECT_EQ(global_editor_context, CONTEXT_TERMINAL);
        EXPECT_EQ(joined(&editor_working_directory), c.directory);
    }
}

TEST_F(TerminalTabsThreads, ClosingATerminalTabEndsItsCommandAndFreesTheTerminal) {
    set_path(&editor_working_directory, "/tmp");
    Tab* tab = open_terminal_tab();
    ASSERT_NE(tab, nullptr);
    Terminal* terminal = tab->terminal;
    Editor_File* input = tab->input_line;
    run_in(tab, "sleep 1000");
    EXPECT_EQ(std::string((char*)tab->title.data, tab->title.count), "sleep | /tmp");
    int session = held_process(terminal);
    ASSERT_GT(session, 0);
    ASSERT_FALSE(live_processes_of_session(session).empty());

    close_tab(tab);
    EXPECT_EQ(tabs.count, 0u);
    EXPECT_EQ(live_processes_of_session(session), std::vector<int>{});
    EXPECT_FALSE(atomic_load_u8(&terminal->flags) & TERMINAL_IN_USE);
    EXPECT_EQ(terminal->results.count, 0u);
    EXPECT_EQ(terminal->command_history.data, nullptr);
    EXPECT_EQ(terminal->directory.count, 0u);
    EXPECT_FALSE(atomic_load_u16(&input->flags) & FILE_IN_USE);

    // The next terminal tab takes the record again, empty.
    Tab* again = open_terminal_tab();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->terminal, terminal);
    EXPECT_EQ(again->terminal->command_history.count, 0u);
    EXPECT_EQ(joined(&again->terminal->directory), "/tmp");
}

TEST_F(TerminalTabsThreads, ShutDownKillsTheCommandOfEveryTerminalTab) {
    set_path(&editor_working_directory, "/tmp");
    std::vector<Tab*> opened = {open_terminal_tab(), open_terminal_tab()};
    std::vector<int> sessions;
    for (u32 i = 0; i < opened.size(); i++) {
        Tab* tab = get_tab(i);
        run_in(tab, "sleep 1000 & sleep 1000");
        sessions.push_back(held_process(tab->terminal));
        ASSERT_GT(sessions.back(), 0);
    }
    kill_terminal_tab_processes();
    for (u32 i = 0; i < sessions.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(live_processes_of_session(sessions[i]), std::vector<int>{});
        EXPECT_TRUE(wait_for_workers(get_tab(i)->terminal));
    }
}

TEST_F(TerminalTabsThreads, TheLabelShowsHowTheLastCommandWent) {
    Tab* tab = open_terminal_tab();
    ASSERT_NE(tab, nullptr);
    Terminal* t = tab->terminal;
    EXPECT_EQ(get_terminal_status_icon(t), nullptr);  // nothing run yet
    struct Case {
        const char* name;
        u8 flags;
        const char* icon;
    };
    const Case cases[] = {
        {"running", TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING, nullptr},
        {"still read after it ended", TERMINAL_RESULT_READING, nullptr},
        {"done", 0, "o"},
        {"failed", TERMINAL_RESULT_FAILED, "e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal_Result* block = add_a_terminal_result(t, STR("c"));
        ASSERT_NE(block, nullptr);
        block->flags = c.flags;
        const char* icon = get_terminal_status_icon(t);
        EXPECT_EQ(icon ? std::string(icon) : "none", c.icon ? std::string(c.icon) : "none");
    }
}

TEST_F(TerminalTabsThreads, TheHeaderShowsTheRunningCommandWithAKillButton) {
    set_path(&editor_working_directory, "/tmp");
    Tab* tab = open_terminal_tab();
    ASSERT_NE(tab, nullptr);
    const v2 position = {0, 40}, size = {800, 500};
    auto frame = [&](v2 mouse, std::vector<u32> buttons) {
        tmp_reset();
        begin_window_less_frame(mouse, buttons);
        draw_and_update_tab_contents(tab, position, size);
        u32 yellow_boxes = 0;
        Quad_Instance* q = (Quad_Instance*)renderer_quad_instances.data;
        for (u32 i = 0; i < renderer_quad_instances.count; i++) {
            Rgba c = q[i].colour;
            yellow_boxes += !(q[i].flags & QUAD_INSTANCE_GLYPH) && c.r == 1 && c.g == 1 && c.b == 0;
        }
        return yellow_boxes;
    };
    EXPECT_EQ(frame(v2{-1, -1}, {}), 0u);  // the directory, no command

    run_in(tab, "sleep 100");
    Terminal_Result* block = tab->terminal->current_result;
    EXPECT_EQ(frame(v2{-1, -1}, {}), 1u);
    // The button stands right of the command's box, in the header's middle.
    f32 ui = (f32)ui_font_pool.pixel_size, gap = 0.4f * ui;
    f32 command_width = get_text_advance((u8*)"sleep 100", 9, &ui_font_pool, editor_settings.tab_width) + 2 * gap;
    v2 button = {position.x + command_width + 2 * gap, position.y + 0.75f * ui};
    frame(button, {MOUSE_LEFT_PRESS});
    EXPECT_FALSE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_RUNNING);
    ASSERT_TRUE(wait_for_workers(tab->terminal));
    EXPECT_TRUE(block->flags & TERMINAL_RESULT_FAILED);
    EXPECT_EQ(frame(v2{-1, -1}, {}), 0u);
    EXPECT_EQ(std::string(get_terminal_status_icon(tab->terminal)), "e");
}
