// Saving the current tab's file with its guards, and opening a path at a line in a tab or
// going to the tab that already shows it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>

#include "editor/editor.h"
#include "shell/shell.h"
#include "listers/listers.h"
#include "tests/shell/shell_test_support.h"

namespace {

u32 count_open_files() {
    u32 count = 0;
    for (Editor_Files_Block* block = editor_files_memory; block; block = block->next) {
        Editor_File* records = (Editor_File*)(block + 1);
        for (u32 i = 0; i < block->count; i++) count += (atomic_load_u16(&records[i].flags) & FILE_IN_USE) != 0;
    }
    return count;
}

struct File_Tabs_Test : ::testing::Test {
    std::string scratch;

    void SetUp() override {
        scratch = make_scratch_directory();
        ASSERT_FALSE(scratch.empty());
        reset();
    }
    void TearDown() override {
        reset();
        remove_scratch_directory(scratch);
    }

    void reset() { reset_tabs_and_commands(); }

    // A file tab showing the file at path (loaded when it exists), made current.
    Editor_File* open_in_tab(const std::string& path) {
        Editor_File* file = add_a_file();
        Filepath split;
        EXPECT_TRUE(string_to_filepath(&split, (u8*)path.data(), (s64)path.size()));
        load_file(&split, file);
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        Tab* tab = add_a_tab(TAB_FILE, file);
        set_current_tab(tab->position, false);
        return file;
    }

    void set_text(Editor_File* file, const std::string& text) {
        file->text.count = 0;
        u8* at = (u8*)dynamic_array_add_fast_multiple(&file->text, (u32)text.size());
        memcpy(at, text.data(), text.size());
        atomic_or_u16(&file->flags, FILE_MODIFIED);
    }
};

}  // namespace

TEST_F(File_Tabs_Test, SavingNeedsTheCurrentTabsFileToHaveTheKeyboard) {
    struct Case {
        const char* name;
        std::function<void(File_Tabs_Test*, Editor_File*)> arrange;
    };
    const Case cases[] = {
        {"no file has the keyboard", [](File_Tabs_Test*, Editor_File*) { current_file = nullptr; }},
        {"no tab is current", [](File_Tabs_Test*, Editor_File*) { current_tab_index = 5; }},
        {"another input has the keyboard", [](File_Tabs_Test*, Editor_File*) {
             static Editor_File lister_input;
             current_file = &lister_input;
             global_editor_context = CONTEXT_FILE_LISTER;
         }},
        {"the compile-errors tab is current", [](File_Tabs_Test*, Editor_File* file) {
             current_tab_index = 0;
             ASSERT_NE(add_a_tab(TAB_COMPILE_ERRORS, nullptr), nullptr);
             set_current_tab(1, false);
             current_file = file;  // as if it had been left with the keyboard
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        std::string path = scratch + "/a.txt";
        write_test_file(path, "on disk");
        Editor_File* file = open_in_tab(path);
        set_text(file, "edited");
        c.arrange(this, file);
        editor_ask_to_save_file();
        EXPECT_EQ(read_test_file(path), "on disk");
        EXPECT_TRUE(atomic_load_u16(&file->flags) & FILE_MODIFIED);
        EXPECT_FALSE(atomic_load_u16(&file->flags) & FILE_SAVE_FAILED);
    }
}

TEST_F(File_Tabs_Test, AFailedSaveIsMarkedUntilASaveWorks) {
    std::string path = scratch + "/b.txt";
    write_test_file(path, "old");
    Editor_File* file = open_in_tab(path);
    set_text(file, "new text");

    // Something that is not a file now stands at the path: the save must fail.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    u64 mark = log_mark();
    editor_ask_to_save_file();
    EXPECT_NE(log_since(mark).find("it is not a regular file"), std::string::npos);
    EXPECT_TRUE(atomic_load_u16(&file->flags) & FILE_SAVE_FAILED);
    EXPECT_TRUE(atomic_load_u16(&file->flags) & FILE_MODIFIED);

    ASSERT_EQ(rmdir(path.c_str()), 0);
    editor_ask_to_save_file();
    EXPECT_EQ(read_test_file(path), "new text");
    EXPECT_FALSE(atomic_load_u16(&file->flags) & (FILE_SAVE_FAILED | FILE_MODIFIED));
}

TEST_F(File_Tabs_Test, AFileWithoutAPathAsksWhereToSaveIt) {
    current_tab_index = 0;
    Editor_File* file = add_a_file();
    Tab* tab = add_a_tab(TAB_FILE, file);
    set_current_tab(tab->position, false);
    set_text(file, "new");
    editor_ask_to_save_file();
    EXPECT_TRUE(atomic_load_u64(&global_flags) & SHOW_FILE_LISTER);
    EXPECT_EQ(global_file_lister.purpose, FILE_LISTER_SAVE);
    EXPECT_EQ(std::string((char*)global_file_lister.title.data, global_file_lister.title.count), "Save File");
    EXPECT_EQ(global_editor_context, CONTEXT_FILE_LISTER);
    EXPECT_TRUE(atomic_load_u16(&file->flags) & FILE_MODIFIED);
    EXPECT_FALSE(atomic_load_u16(&file->flags) & FILE_SAVE_FAILED);

    // While the prompt has the keyboard, asking again opens nothing new; switching tabs
    // closes it and the tab's file has the keyboard again.
    editor_ask_to_save_file();
    set_current_tab(tab->position, true);
    EXPECT_FALSE(atomic_load_u64(&global_flags) & SHOW_FILE_LISTER);
    EXPECT_EQ(current_file, file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_TRUE(wait_until([] { return !file_lister_is_busy(); }));
}

TEST_F(File_Tabs_Test, OpeningAPathQueuesATabWithTheCursorOnTheLine) {
    std::string path = scratch + "/lines.txt";
    const std::string text = "one\ntwo\nthree";
    write_test_file(path, text);
    struct Case {
        const char* name;
        u32 line;
        s64 cursor;
    };
    static const Case cases[] = {
        {"the first line", 1, 0},
        {"an inner line", 2, 4},
        {"the last line", 3, 8},
        {"line 0", 0, 13},
        {"past the last line", 9, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        global_editor_context = CONTEXT_TERMINAL;
        editor_load_or_go_to_file((u8*)path.data(), (s64)path.size(), c.line);
        ASSERT_EQ(editor_commands.count, 1u);
        Editor_Command* command = (Editor_Command*)editor_commands.data;
        EXPECT_EQ(command->command_kind, COMMAND_ADD_TAB);
        EXPECT_EQ(command->tab_kind, TAB_FILE);
        EXPECT_EQ(command->tab_target, tmp_current_tab_index + 1);
        Editor_File* file = (Editor_File*)command->payload;
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(current_file, file);
        EXPECT_EQ(global_editor_context, CONTEXT_FILE);
        EXPECT_EQ(std::string((char*)file->text.data, file->text.count), text);
        EXPECT_EQ(file->cursor, c.cursor);
        EXPECT_TRUE(atomic_load_u16(&file->flags) & FILE_CENTRE_CURSOR);
        close_file(file);
    }
}

TEST_F(File_Tabs_Test, APathAlreadyInATabGoesToThatTab) {
    std::string path = scratch + "/open.txt";
    write_test_file(path, "a\nb\n");
    open_in_tab(scratch + "/other.txt");
    Editor_File* file = open_in_tab(path);
    u32 id = get_current_tab()->id;
    set_current_tab(0, false);
    // The same path spelt with doubled separators still names the open file.
    std::string spelt = scratch + "//open.txt";
    editor_load_or_go_to_file((u8*)spelt.data(), (s64)spelt.size(), 2);
    ASSERT_EQ(editor_commands.count, 1u);
    Editor_Command* command = (Editor_Command*)editor_commands.data;
    EXPECT_EQ(command->command_kind, COMMAND_GO_TO_TAB);
    EXPECT_EQ(command->tab_target, id);
    EXPECT_EQ(file->cursor, 2);
    EXPECT_EQ(tabs.count, 2u);
}

TEST_F(File_Tabs_Test, APathThatCannotBeReadOpensNothing) {
    std::string path = scratch + "/missing.txt";
    u64 mark = log_mark();
    editor_load_or_go_to_file((u8*)path.data(), (s64)path.size(), 1);
    EXPECT_EQ(editor_commands.count, 0u);
    EXPECT_EQ(current_file, nullptr);
    EXPECT_NE(log_since(mark).find("ERROR"), std::string::npos);
    EXPECT_EQ(count_open_files(), 0u);  // the record it tried is free again
}
