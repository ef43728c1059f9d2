// The lister and prompt routines called through the dispatcher, as compiled code calls
// them: an id and a parameter block, on the main thread.
#include "panel_test_support.h"
#include "tests/process_test_support.h"
#include "runtime/routines_listers.h"
#include "runtime/foreign_routines.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace {

void call(u16 id, u8* block = nullptr) { handle_foreign_call(block, id); }

class ListerRoutines : public Panel_Test {
protected:
    File_Lister* lister = &global_file_lister;

    // Frames until the file lister shows a finished listing.
    void settle() {
        ASSERT_TRUE(run_panel_frames_until([&] {
            return !file_lister_is_busy() && lister->key_hash != 0 &&
                   lister->shown_generation == file_lister_get_published_list()->generation;
        }));
    }

    std::string lister_directory() {
        String d = filepath_to_tmp_string(&lister->directory);
        return std::string((char*)d.data, d.count);
    }
};

}  // namespace

TEST_F(ListerRoutines, PreviousAndNextItemWrapAround) {
    make_tree(root, {"a", "b", "c"});
    Scoped_Panel_Tabs scoped_tabs;
    call(ROUTINE_ASK_TO_OPEN_FILE);
    lister->view_bits = FILE_LISTER_LIST_FILES;
    settle();
    struct Step {
        bool next;
        u32 selected;
    };
    // From the first the previous is the last; from the last the next is the first.
    for (Step step : {Step{false, 2}, Step{true, 0}, Step{true, 1}, Step{true, 2}, Step{true, 0}}) {
        if (step.next) call(ROUTINE_GO_TO_NEXT_ITEM);
        else call(ROUTINE_GO_TO_PREVIOUS_ITEM);
        EXPECT_EQ(lister->selected, step.selected);
        EXPECT_EQ(lister->scroll_request, 1);
    }

    // An empty listing keeps the selection at 0.
    set_input_text(&lister->input_line, "nothing like it");
    settle();
    call(ROUTINE_GO_TO_NEXT_ITEM);
    EXPECT_EQ(lister->selected, 0u);
    call(ROUTINE_GO_TO_PREVIOUS_ITEM);
    EXPECT_EQ(lister->selected, 0u);
}

TEST_F(ListerRoutines, ParentDirectoryStopsAtTheRoot) {
    Scoped_Panel_Tabs scoped_tabs;
    call(ROUTINE_ASK_TO_OPEN_FILE);
    EXPECT_EQ(lister_directory(), root);
    call(ROUTINE_GO_TO_PARENT_DIRECTORY);
    EXPECT_EQ(lister_directory(), root.substr(0, root.rfind('/')));
    lister->directory.count = 1;
    call(ROUTINE_GO_TO_PARENT_DIRECTORY);
    EXPECT_EQ(lister_directory(), "/");
    // Not while the lister lacks the keyboard.
    call(ROUTINE_CLOSE_LISTER);
    ASSERT_TRUE(string_to_filepath(&lister->directory, (u8*)root.data(), (s64)root.size()));
    u16 count = lister->directory.count;
    call(ROUTINE_GO_TO_PARENT_DIRECTORY);
    EXPECT_EQ(lister->directory.count, count);
}

TEST_F(ListerRoutines, ThePromptsOpenWhereTheyMay) {
    Scoped_Panel_Tabs scoped_tabs;
    Search_Lister* s = &global_search_lister;
    struct Prompt {
        const char* name;
        u16 routine;
        const char* title;
        const char* second;
        u8 mode;
        bool without_file_tab;
    };
    const Prompt prompts[] = {
        {"search", ROUTINE_SEARCH_FILE, "Search", "", SEARCH_IN_FILE, false},
        {"search files", ROUTINE_SEARCH_MULTIPLE_FILES, "Search Files", "", SEARCH_IN_FILES, true},
        {"replace", ROUTINE_REPLACE_IN_FILE, "Replace", "With", SEARCH_REPLACE, false},
        {"go to line", ROUTINE_GOTO_LINE, "Go to line", "", SEARCH_GO_TO_LINE, false},
    };
    for (const Prompt& p : prompts) {
        SCOPED_TRACE(p.name);
        // Without a file tab, only the prompt that needs no file opens.
        Scoped_Panel_Tabs no_tabs;
        call(p.routine);
        EXPECT_EQ((global_flags & SHOW_SEARCH_LISTER) != 0, p.without_file_tab);
        close_lister();

        add_test_file_tab("text", root + "/f.txt");
        call(p.routine);
        EXPECT_TRUE(global_flags & SHOW_SEARCH_LISTER);
        EXPECT_EQ(s->mode, p.mode);
        EXPECT_EQ(std::string((char*)s->title.data, s->title.count), p.title);
        EXPECT_EQ(std::string((char*)s->second_title.data, s->second_title.count), p.second);
        // Switching prompts happens only in replace mode.
        call(ROUTINE_GO_TO_NEXT_PROMPT);
        EXPECT_EQ(current_file, p.mode == SEARCH_REPLACE ? &s->replacement_input : &s->query_input);
        // A prompt opened over the file lister replaces it, and the other way round.
        call(ROUTINE_ASK_TO_OPEN_FILE);
        EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
        EXPECT_EQ(s->mode, SEARCH_CLOSED);
        EXPECT_TRUE(search_lister_is_finished());
        call(ROUTINE_CLOSE_LISTER);
        EXPECT_FALSE(global_flags & (SHOW_SEARCH_LISTER | SHOW_FILE_LISTER));
        EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    }
}

TEST_F(ListerRoutines, OpenAndDeletePromptsTakeTheirDirectories) {
    make_tree(root, {"sub/", "sub/f.txt"});
    Scoped_Panel_Tabs scoped_tabs;
    // No tab: the working directory; a file tab with a path: its directory.
    call(ROUTINE_ASK_TO_OPEN_FILE);
    EXPECT_EQ(lister_directory(), root);
    EXPECT_EQ(std::string((char*)lister->title.data, lister->title.count), "Open File");
    add_test_file_tab("x", root + "/sub/f.txt");
    ASSERT_TRUE(string_to_filepath(&editor_working_directory, (u8*)root.data(), (s64)root.size()));
    call(ROUTINE_ASK_TO_OPEN_FILE);
    EXPECT_EQ(lister_directory(), root + "/sub");
    EXPECT_EQ(lister->purpose, FILE_LISTER_OPEN);

    call(ROUTINE_ASK_TO_DELETE_ITEMS);
    EXPECT_EQ(lister_directory(), root);
    EXPECT_EQ(lister->purpose, FILE_LISTER_DELETE);
    set_input_text(&lister->input_line, "f");
    call(ROUTINE_ASK_TO_DELETE_ITEMS);
    EXPECT_EQ(text_of(&lister->input_line), "f");
}

TEST_F(ListerRoutines, SaveOfATextWithoutAPathChoosesANewName) {
    Scoped_Panel_Tabs scoped_tabs;
    call(ROUTINE_MAKE_A_NEW_FILE);
    Editor_File* file = current_file;
    ASSERT_NE(file, nullptr);
    run_panel_frame();  // its tab
    memcpy(dynamic_array_add_fast_multiple(&file->text, 5), "saved", 5);
    call(ROUTINE_ASK_TO_SAVE_FILE);
    EXPECT_EQ(std::string((char*)lister->title.data, lister->title.count), "Save File");
    EXPECT_EQ(lister->purpose, FILE_LISTER_SAVE);
    set_input_text(&lister->input_line, "new.txt");
    settle();
    File_Lister_List* list = file_lister_get_published_list();
    ASSERT_EQ(list->count, 1u);
    ASSERT_TRUE(file_lister_get_item(list, 0)->new_file);
    call(ROUTINE_SELECT_ITEM_FROM_LISTER);
    std::ifstream in(root + "/new.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "saved");
    EXPECT_EQ(std::string((char*)file->name.data, file->name.count), "new.txt");
    EXPECT_FALSE(file->flags & FILE_MODIFIED);
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(current_file, file);
}

TEST_F(ListerRoutines, TwoNewFilesInOneFrameQueueTwoTabs) {
    Scoped_Panel_Tabs scoped_tabs;
    call(ROUTINE_MAKE_A_NEW_FILE);
    Editor_File* first = current_file;
    call(ROUTINE_MAKE_A_NEW_FILE);
    EXPECT_NE(current_file, first);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(editor_commands.count, 2u);
    run_panel_frame();
    EXPECT_EQ(tabs.count, 2u);
}

TEST_F(ListerRoutines, OpenDirectoryInExplorerHandsOverTheJoinedPath) {
    // A stand-in "xdg-open" first on PATH writes its argument to a file.
    std::string bin = root + "/bin", out = root + "/opened";
    mkdir(bin.c_str(), 0700);
    {
        std::ofstream script(bin + "/xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << shell_word(out) << "\n";
    }
    chmod((bin + "/xdg-open").c_str(), 0700);
    const char* old_path = getenv("PATH");
    std::string saved_path = old_path ? old_path : "";
    setenv("PATH", (bin + ":" + saved_path).c_str(), 1);

    struct Case {
        std::vector<std::string> components;
        const char* expected;  // null: nothing is opened
    };
    const Case cases[] = {
        {{"/", "home", "me"}, "/home/me"},
        {{"/"}, "/"},
        {{"home", "", "me"}, "home/me"},
        {{}, nullptr},
    };
    std::string expected;
    for (const Case& c : cases) {
        std::vector<String> components;
        for (const std::string& s : c.components) components.push_back(test_string(s));
        Open_Directory_In_Explorer_Parameters p = {components.data(), (s64)components.size()};
        u8 block[sizeof(p) + 1];
        memcpy(block + 1, &p, sizeof(p));  // blocks have no alignment to count on
        call(ROUTINE_OPEN_DIRECTORY_IN_EXPLORER, block + 1);
        if (c.expected) expected += std::string(c.expected) + "\n";
        // The stand-in runs detached: wait for its line.
        ASSERT_TRUE(wait_until([&] {
            std::ifstream in(out);
            std::stringstream text;
            text << in.rdbuf();
            return text.str() == expected;
        }, 10)) << (c.expected ? c.expected : "nothing");
    }
    setenv("PATH", saved_path.c_str(), 1);
}
