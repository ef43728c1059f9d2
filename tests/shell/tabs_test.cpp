// Tabs: where a new tab goes, which tab follows a closed one, the slide state machine, the
// keyboard and working directory a switch hands over, the refusals, and other threads
// reading the list while the main thread changes it.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "shell/shell.h"
#include "ui/ui_state.h"
#include "tests/test_seed.h"
#include "tests/waiting.h"

namespace {

void clear_tabs() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) close_file(tab->file);
    }
    dynamic_array_free(&tabs);
    init_tabs();
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
    global_flags = SHOULD_RUN;
    editor_working_directory.count = 0;
    ui_flags = 0;
}

struct Tabs_Test : ::testing::Test {
    void SetUp() override { clear_tabs(); }
    void TearDown() override { clear_tabs(); }
};

// Appends one tab per letter: 'f' a file tab (its file named "<id>.txt"), 'e' the
// compile-errors tab. File tabs' titles read "tab <id>".
void append_tabs(const char* kinds) {
    for (const char* k = kinds; *k; k++) {
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        Editor_File* file = nullptr;
        if (*k == 'f') {
            file = add_a_file();
            ASSERT_NE(file, nullptr);
            std::string name = std::to_string(next_tab_id) + ".txt";
            memcpy(file->name_storage, name.data(), name.size());
            file->name = String{file->name_storage, (s64)name.size()};
        }
        Tab* tab = add_a_tab(*k == 'f' ? TAB_FILE : TAB_COMPILE_ERRORS, file);
        ASSERT_NE(tab, nullptr);
        if (file) write_into_string(&tab->title, TAB_TITLE_CAPACITY, "tab %u", tab->id);
    }
    current_tab_index = 0;
}

std::vector<u32> tab_ids() {
    std::vector<u32> ids;
    for (u32 i = 0; i < tabs.count; i++) ids.push_back(get_tab(i)->id);
    return ids;
}

// Every record knows its index and its title points into itself.
void expect_consistent() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        EXPECT_EQ(tab->position, i);
        EXPECT_EQ(tab->title.data, tab->title_buffer);
        if (tab->kind == TAB_FILE) {
            EXPECT_EQ(std::string((char*)tab->title.data, tab->title.count), "tab " + std::to_string(tab->id));
        }
    }
}

}  // namespace

TEST_F(Tabs_Test, NewTabsGoRightAfterTheCurrentOne) {
    struct Case {
        const char* name;
        const char* existing;
        u32 current;
        u32 expected_index;
    };
    static const Case cases[] = {
        {"no tabs", "", 0, 0},
        {"the last is current", "fff", 2, 3},
        {"an inner tab is current", "fff", 0, 1},
        {"none is current", "fff", 7, 3},
        {"the index at its limit", "ff", 0xFFFFFFFFu, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_tabs();
        append_tabs(c.existing);
        current_tab_index = c.current;
        u32 id = next_tab_id;
        Editor_File* file = add_a_file();
        Tab* tab = add_a_tab(TAB_FILE, file);
        ASSERT_NE(tab, nullptr);
        write_into_string(&tab->title, TAB_TITLE_CAPACITY, "tab %u", tab->id);
        EXPECT_EQ(tab->position, c.expected_index);
        EXPECT_EQ(tab->id, id);
        EXPECT_EQ(tab->file, file);
        EXPECT_EQ(next_tab_id, id + 1);
        EXPECT_EQ(current_tab_index, c.current);  // not made current
        expect_consistent();
    }
}

TEST_F(Tabs_Test, ClosingMakesTheMostRecentlyLeftTabCurrent) {
    struct Case {
        const char* name;
        std::vector<u64> time_left;
        u32 current;
        u32 closed;
        u32 expected_current;  // index after the close
    };
    const Case cases[] = {
        {"the current tab closes", {0, 300, 200, 0}, 3, 3, 1},
        {"equal times go to the lowest index", {100, 0, 100, 0}, 3, 3, 0},
        {"a background tab closes while the current was never left", {0, 50, 200, 0}, 0, 3, 2},
        {"no tab was ever left", {0, 0, 0}, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear_tabs();
        append_tabs(std::string(c.time_left.size(), 'f').c_str());
        for (u32 i = 0; i < tabs.count; i++) get_tab(i)->time_left = c.time_left[i];
        current_tab_index = c.current;
        current_file = get_tab(c.current)->file;
        Editor_File* closed_file = get_tab(c.closed)->file;
        std::vector<u32> ids = tab_ids();
        ids.erase(ids.begin() + c.closed);

        close_tab(get_tab(c.closed));
        EXPECT_EQ(tab_ids(), ids);
        EXPECT_EQ(current_tab_index, c.expected_current);
        ASSERT_NE(get_current_tab(), nullptr);
        EXPECT_EQ(current_file, get_current_tab()->file);
        EXPECT_FALSE(atomic_load_u16(&closed_file->flags) & FILE_IN_USE);
        expect_consistent();
    }
}

TEST_F(Tabs_Test, ClosingTheLastTabLeavesNoneCurrent) {
    append_tabs("f");
    set_current_tab(0, false);
    u64 made_current = get_tab(0)->time_made_current;
    global_editor_context = CONTEXT_FILE_LISTER;  // a lister had the keyboard and gives it back
    global_flags |= SHOW_FILE_LISTER | MODIFYING_FILE_NAME;
    close_tab(get_tab(0));
    EXPECT_EQ(tabs.count, 0u);
    EXPECT_EQ(current_file, nullptr);
    EXPECT_EQ(get_current_tab(), nullptr);
    EXPECT_EQ(current_tab_index, 0u);
    EXPECT_EQ(last_time_we_switched_tabs, made_current);  // nothing was made current
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(global_flags, (u64)SHOULD_RUN);
}

TEST_F(Tabs_Test, ClosingTheCompileErrorsTabEmptiesTheList) {
    init_dynamic_array(&compile_errors, sizeof(Compile_Error));
    for (int i = 0; i < 3; i++) ASSERT_NE(dynamic_array_add_fast(&compile_errors), nullptr);
    append_tabs("fe");
    close_tab(get_tab(1));
    EXPECT_EQ(compile_errors.count, 0u);
    EXPECT_EQ(tab_ids(), std::vector<u32>{0});
    dynamic_array_free(&compile_errors);
}

TEST_F(Tabs_Test, SlidesTurnRoundButNeverRestart) {
    struct Case {
        u8 now;
        u8 wanted;
        u8 expected;
        f32 expected_clock;
    };
    static const Case cases[] = {
        {SLIDE_NONE, SLIDE_OUT_TO_LEFT, SLIDE_OUT_TO_LEFT, 0.0f},
        {SLIDE_IN_FROM_LEFT, SLIDE_OUT_TO_LEFT, SLIDE_OUT_TO_LEFT, 0.5f},
        {SLIDE_IN_FROM_RIGHT, SLIDE_OUT_TO_RIGHT, SLIDE_OUT_TO_RIGHT, 0.5f},
        {SLIDE_OUT_TO_LEFT, SLIDE_IN_FROM_LEFT, SLIDE_IN_FROM_LEFT, 0.5f},
        {SLIDE_OUT_TO_RIGHT, SLIDE_IN_FROM_RIGHT, SLIDE_IN_FROM_RIGHT, 0.5f},
        {SLIDE_IN_FROM_LEFT, SLIDE_IN_FROM_RIGHT, SLIDE_IN_FROM_LEFT, 0.5f},
        {SLIDE_IN_FROM_LEFT, SLIDE_IN_FROM_LEFT, SLIDE_IN_FROM_LEFT, 0.5f},
        {SLIDE_OUT_TO_LEFT, SLIDE_OUT_TO_RIGHT, SLIDE_OUT_TO_LEFT, 0.5f},
        {5, SLIDE_IN_FROM_LEFT, 5, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.now) + " asked for " + std::to_string(c.wanted));
        Tab tab = {};
        tab.slide = c.now;
        tab.slide_clock = 0.5f;
        ui_flags = 0;
        EXPECT_EQ(set_tab_animation(&tab, c.wanted), c.now);
        EXPECT_EQ(tab.slide, c.expected);
        EXPECT_EQ(tab.slide_clock, c.expected_clock);
        // An accepted change keeps frames coming so the slide plays without input.
        EXPECT_EQ((ui_flags & UI_KEEP_RUNNING) != 0, c.expected != c.now);
    }
}

TEST_F(Tabs_Test, SwitchingSlidesTheTwoTabsAndStampsTheTimes) {
    append_tabs("fff");
    set_current_tab(0, false);
    for (u32 i = 0; i < tabs.count; i++) get_tab(i)->slide = SLIDE_NONE;

    set_current_tab(2, false);  // to the right
    EXPECT_EQ(get_tab(2)->slide, SLIDE_IN_FROM_LEFT);
    EXPECT_EQ(get_tab(0)->slide, SLIDE_OUT_TO_RIGHT);
    EXPECT_GT(get_tab(0)->time_left, 0u);
    EXPECT_EQ(get_tab(2)->time_made_current, last_time_we_switched_tabs);

    set_current_tab(1, false);  // back to the left, before tab 2's slide ended
    EXPECT_EQ(get_tab(1)->slide, SLIDE_IN_FROM_RIGHT);
    EXPECT_EQ(get_tab(2)->slide, SLIDE_OUT_TO_LEFT);
    EXPECT_EQ(get_tab(2)->time_left, get_tab(1)->time_made_current);

    // The same tab again: it keeps sliding in, and it was not left.
    u64 left = get_tab(1)->time_left;
    get_tab(1)->slide = SLIDE_NONE;
    set_current_tab(1, false);
    EXPECT_EQ(get_tab(1)->slide, SLIDE_IN_FROM_RIGHT);
    EXPECT_EQ(get_tab(1)->time_left, left);
    EXPECT_EQ(current_tab_index, 1u);

    set_current_tab(3, false);  // past the end: nothing
    EXPECT_EQ(current_tab_index, 1u);
}

TEST_F(Tabs_Test, SwitchingHandsTheKeyboardToWhatTheTabShows) {
    append_tabs("fef");
    Editor_File* with_path = get_tab(2)->file;
    const char path[] = "/home/u/src/";
    ASSERT_TRUE(string_to_filepath(&with_path->directory, (u8*)path, sizeof(path) - 1));
    with_path->directory.components[1].length = 0;  // an empty component is not copied

    // A lister has the keyboard: switching closes it.
    global_editor_context = CONTEXT_SEARCH_LISTER;
    global_flags |= SHOW_SEARCH_LISTER | SHOW_FILE_LISTER;
    ui_layer_in_focus = 1;
    set_current_tab(2, true);
    EXPECT_EQ(current_file, with_path);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(global_flags, (u64)SHOULD_RUN);
    EXPECT_EQ(ui_layer_in_focus, 0);
    ASSERT_EQ(editor_working_directory.count, 3u);
    EXPECT_EQ(std::string((char*)filepath_to_tmp_string(&editor_working_directory).data), "/u/src");
    EXPECT_EQ(editor_working_directory.components[2].text, editor_working_directory.components[2].storage);

    // On the compile-errors tab nothing has the keyboard; the directory stays.
    set_current_tab(1, false);
    EXPECT_EQ(current_file, nullptr);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(editor_working_directory.count, 3u);

    // A file without a path leaves the directory as it was.
    set_current_tab(0, false);
    EXPECT_EQ(current_file, get_tab(0)->file);
    EXPECT_EQ(editor_working_directory.count, 3u);
}

TEST_F(Tabs_Test, RefusedTabsChangeNothing) {
    append_tabs("e");
    u32 id = next_tab_id;
    EXPECT_EQ(add_a_tab(TAB_COMPILE_ERRORS, nullptr), nullptr);  // there is one already
    EXPECT_EQ(add_a_tab(TAB_UPDATE, nullptr), nullptr);          // no update is available
    EXPECT_EQ(add_a_tab(3, nullptr), nullptr);
    EXPECT_EQ(tabs.count, 1u);
    EXPECT_EQ(next_tab_id, id);
    EXPECT_EQ(std::string((char*)get_tab(0)->title.data, get_tab(0)->title.count), "Compile errors");
}

TEST_F(Tabs_Test, MovingATabShiftsTheOnesBetween) {
    append_tabs("ffff");
    std::vector<u32> ids = tab_ids();
    move_tab(0, 3);
    EXPECT_EQ(tab_ids(), (std::vector<u32>{ids[1], ids[2], ids[3], ids[0]}));
    move_tab(3, 1);
    EXPECT_EQ(tab_ids(), (std::vector<u32>{ids[1], ids[0], ids[2], ids[3]}));
    move_tab(1, 4);  // past the end: nothing
    EXPECT_EQ(tab_ids(), (std::vector<u32>{ids[1], ids[0], ids[2], ids[3]}));
    expect_consistent();
}

// What the file watcher and the download threads do: walk the list under the lock and
// follow the records to their files, while the main thread adds, closes and drops tabs.
TEST(TabsThreads, ReadersWalkTheListWhileTheMainThreadChangesIt) {
    clear_tabs();
    std::atomic<bool> stop{false};
    std::atomic<u32> bad{0}, walks{0};
    std::thread reader([&] {
        while (!stop.load()) {
            spin_lock(&tabs_read_lock);
            std::vector<u32> seen;
            for (u32 i = 0; i < tabs.count; i++) {
                Tab* tab = (Tab*)tabs.data + i;
                if (tab->position != i) bad++;
                if (tab->kind != TAB_FILE || !tab->file || !(atomic_load_u16(&tab->file->flags) & FILE_IN_USE)) bad++;
                for (u32 id : seen) bad += id == tab->id;
                seen.push_back(tab->id);
            }
            spin_unlock(&tabs_read_lock);
            walks++;
        }
    });

    u32 seed = (u32)test_seed(1414);
    SCOPED_TRACE(test_seed_text(seed));
    srand(seed);
    // Until the reader has walked a good many times, however rarely it is given the processor.
    double end = test_clock_seconds() + TEST_DEADLINE_SECONDS;
    for (int step = 0; step < 3000 || (walks.load() < 200 && test_clock_seconds() < end); step++) {
        u32 op = (u32)rand() % 4;
        if (tabs.count < 2 || (op == 0 && tabs.count < 24)) {
            current_tab_index = tabs.count ? (u32)rand() % tabs.count : 0;
            ASSERT_NE(add_a_tab(TAB_FILE, add_a_file()), nullptr);
        } else if (op == 1) {
            close_tab(get_tab((u32)rand() % tabs.count));
        } else if (op == 2) {
            move_tab((u32)rand() % tabs.count, (u32)rand() % tabs.count);
        } else {
            set_current_tab((u32)rand() % tabs.count, false);
        }
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_GT(walks.load(), 0u);
    clear_tabs();
}
