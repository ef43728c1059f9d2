// Copying and completing where the tab list matters: a terminal tab's selected output
// before the file's selection, other file tabs only when this file has no candidate, and
// path completion in a terminal tab's input line.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "editor/editor.h"
#include "editor_test_helpers.h"

namespace {

void start_tabs_over() {
    dynamic_array_free(&tabs);
    init_tabs();
}

struct Tabs_Test : ::testing::Test {
    void SetUp() override { start_tabs_over(); }
    void TearDown() override {
        start_tabs_over();
        current_file = nullptr;
    }
    // A terminal tab made by hand: the shell's add_a_tab starts a real terminal.
    Tab* add_terminal_tab(Terminal* terminal, Editor_File* input_line) {
        Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
        *tab = Tab{};
        tab->kind = TAB_TERMINAL;
        tab->id = next_tab_id++;
        tab->position = tabs.count - 1;
        tab->terminal = terminal;
        tab->input_line = input_line;
        return tab;
    }
};

std::string copied_locally() { return std::string((char*)text_copied_locally.data, text_copied_locally.count); }

}  // namespace

TEST_F(Tabs_Test, WordsOfOtherFileTabsOnlyWhenThisFileHasNone) {
    Test_File first("counter_other x");
    Test_File second("counting");
    Test_File terminal_line("countdown");  // an input line, not a file tab
    struct Case { const char* name; const char* marked; const char* expected; };
    const Case cases[] = {
        {"from the other tabs", "co@", "count@"},
        {"this file's words after the cursor come first", "co@ counter", "counter@ counter"},
        {"nothing anywhere", "zz@", "zz@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_tabs_over();
        Test_File file(c.marked);
        ASSERT_NE(add_a_tab(TAB_FILE, first), nullptr);
        ASSERT_NE(add_a_tab(TAB_FILE, file), nullptr);
        ASSERT_NE(add_a_tab(TAB_FILE, second), nullptr);
        add_terminal_tab(nullptr, terminal_line);
        std::string before = file_text(file);
        auto_complete_text_before_cursor(file);
        EXPECT_EQ(marked_text(file), c.expected);
        if (file_text(file) == before) continue;
        editor_undo(file);
        EXPECT_EQ(marked_text(file), std::string(c.marked));
        EXPECT_EQ(tabs_read_lock, 0);
    }
}

TEST_F(Tabs_Test, CopyTakesATerminalsSelectedOutputFirst) {
    Test_File file("ab#cd@ef");
    Test_File input_line("");
    Test_Terminal terminal("output", {{0, 6}});
    current_file = file;
    ASSERT_NE(add_a_tab(TAB_FILE, file), nullptr);
    Tab* tab = add_terminal_tab(&terminal.terminal, input_line);
    current_tab_index = tab->position;

    // A selection in the output: that is what goes, and the file's copy is left alone.
    terminal.result->selection_end = Terminal_Selection_End{0, 3};
    text_copied_locally.count = 0;
    editor_copy_selection_to_clipboard(1, 0);
    EXPECT_EQ(terminal.terminal.selected_result, nullptr);
    EXPECT_EQ(copied_locally(), "");
    EXPECT_TRUE(file->flags & FILE_SELECTION_ACTIVE);

    // Without one, the current file's selection goes.
    editor_copy_selection_to_clipboard(1, 0);
    EXPECT_EQ(copied_locally(), "cd");
    EXPECT_FALSE(file->flags & FILE_SELECTION_ACTIVE);
    EXPECT_EQ(tabs_read_lock, 0);
}

TEST_F(Tabs_Test, PathCompletionInATerminalTab) {
    Scratch_Directory directory;
    std::ofstream(directory / "setup.txt") << "";
    Test_File input_line("cat se@");
    Test_File file("cat se@");
    Test_Terminal terminal("", {});
    std::string root = directory.path.string();
    ASSERT_TRUE(string_to_filepath(&terminal.terminal.directory, (u8*)root.data(), (s64)root.size()));
    Tab* tab = add_terminal_tab(&terminal.terminal, input_line);
    EXPECT_EQ(auto_complete_filepath_in_terminal(tab), 1);
    EXPECT_EQ(marked_text(input_line), "cat setup.txt@");
    Tab* file_tab = add_a_tab(TAB_FILE, file);
    EXPECT_EQ(auto_complete_filepath_in_terminal(file_tab), 0);
    EXPECT_EQ(auto_complete_filepath_in_terminal(nullptr), 0);
}
