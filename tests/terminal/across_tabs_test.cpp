// Copying and completing where the current tab is a terminal: its selected output goes
// before the file's selection, and its input line completes paths in its directory.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "terminal_test_support.h"

namespace {

struct Tabs_Test : ::testing::Test {
    void SetUp() override { start_tabs_over(); }
    void TearDown() override {
        start_tabs_over();
        current_file = nullptr;
    }
};

std::string copied_locally() { return std::string((char*)text_copied_locally.data, text_copied_locally.count); }

}  // namespace

TEST_F(Tabs_Test, CopyTakesATerminalsSelectedOutputFirst) {
    Test_File file("ab#cd@ef");
    Test_File input_line("");
    Test_Terminal terminal("output", {{0, 6}});
    current_file = file;
    add_test_tab(TAB_FILE, file);
    Tab* tab = add_test_tab(TAB_TERMINAL, &terminal.terminal, input_line);
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
    Tab* tab = add_test_tab(TAB_TERMINAL, &terminal.terminal, input_line);
    EXPECT_EQ(auto_complete_filepath_in_terminal(tab), 1);
    EXPECT_EQ(marked_text(input_line), "cat setup.txt@");
    Tab* file_tab = add_test_tab(TAB_FILE, file);
    EXPECT_EQ(auto_complete_filepath_in_terminal(file_tab), 0);
    EXPECT_EQ(auto_complete_filepath_in_terminal(nullptr), 0);
}
