// The parts of the tab bar that need no window: where a dragged tab and the others stand,
// and what a file tab's title says. The bar's drawing and input run under X in
// tab_bar_x_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/shell.h"

namespace {

struct Tab_Bar_Test : ::testing::Test {
    void SetUp() override {
        dynamic_array_free(&tabs);
        init_tabs();
        global_tabs_horizontal_offset_px = 0;
    }
    void TearDown() override {
        dynamic_array_free(&tabs);
        init_tabs();
        global_tabs_horizontal_offset_px = 0;
    }
};

}  // namespace

TEST_F(Tab_Bar_Test, ADraggedTabTakesTheSlotUnderTheMouseAndTheOthersMakeRoom) {
    Tab_Bar_Geometry g = {};
    g.bar_position = v2{50, 0};
    g.bar_size = v2{1000, 30};
    g.tab_width = 100;
    // Slot s starts at 50 + 103 s; the tab is held 10 px right of its left edge.
    struct Case {
        const char* name;
        u32 dragged;
        f32 mouse_x;
        f32 offset;
        std::vector<u32> slots;  // per tab, in list order
    };
    const Case cases[] = {
        {"past the last slot", 1, 5000, 0, {0, 3, 1, 2}},
        {"past the first slot", 2, -500, 0, {1, 2, 0, 3}},
        {"one slot to the right", 1, 50 + 10 + 2 * 103 - 50, 0, {0, 2, 1, 3}},
        {"just short of half way stays", 1, 50 + 10 + 155, 0, {0, 1, 2, 3}},
        {"half way over the next slot moves", 1, 50 + 10 + 156, 0, {0, 2, 1, 3}},
        {"the bar scrolled", 3, 50 + 10 + 103 - 206, 206, {0, 2, 3, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dynamic_array_free(&tabs);
        init_tabs();
        for (u32 i = 0; i < 4; i++) {
            current_tab_index = i ? i - 1 : 0;
            ASSERT_NE(add_a_tab(TAB_FILE, nullptr), nullptr);
        }
        global_tabs_horizontal_offset_px = c.offset;
        Tab* dragged = get_tab(c.dragged);
        dragged->drag_grab_offset = 10;
        assign_drag_slots(dragged, c.mouse_x, &g);
        std::vector<u32> slots;
        for (u32 i = 0; i < tabs.count; i++) slots.push_back(get_tab(i)->drag_slot);
        EXPECT_EQ(slots, c.slots);
    }
}

TEST_F(Tab_Bar_Test, FileTitlesShowUnsavedAndFailedSaves) {
    const std::string long_name(TAB_TITLE_CAPACITY, 'n');
    const std::string long_accented = std::string(TAB_TITLE_CAPACITY - 3, 'a') + "\xC3\xA9";  // é across the end
    struct Case {
        const char* name;
        std::string file_name;
        u16 flags;
        std::string title;
    };
    const Case cases[] = {
        {"saved", "a.txt", 0, "a.txt"},
        {"unsaved changes", "a.txt", FILE_MODIFIED, "*a.txt"},
        {"a failed save", "a.txt", FILE_MODIFIED | FILE_SAVE_FAILED, "!*a.txt"},
        {"a save refused for a change on disk", "a.txt", FILE_MODIFIED | FILE_SAVE_REFUSED, "*a.txt (changed on disk)"},
        // The name is cut for the mark, before the character the cut would split.
        {"the mark stays whole after a long name", std::string(TAB_TITLE_CAPACITY - 21, 'a') + "\xC3\xA9zzz",
         FILE_MODIFIED | FILE_SAVE_REFUSED, "*" + std::string(TAB_TITLE_CAPACITY - 21, 'a') + " (changed on disk)"},
        {"gone from disk keeps its text", "a.txt", FILE_GONE_FROM_DISK, "a.txt"},
        {"a name as long as the buffer", long_name, FILE_MODIFIED, "*" + long_name.substr(0, TAB_TITLE_CAPACITY - 2)},
        {"cut before a character, not inside it", long_accented, FILE_MODIFIED, "*" + long_accented.substr(0, TAB_TITLE_CAPACITY - 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editor_File* file = add_a_file();
        ASSERT_NE(file, nullptr);
        memcpy(file->name_storage, c.file_name.data(), c.file_name.size());
        file->name = String{file->name_storage, (s64)c.file_name.size()};
        atomic_and_u16(&file->flags, (u16)~FILE_MODIFIED);
        atomic_or_u16(&file->flags, c.flags);
        Tab tab = {};
        tab.kind = TAB_FILE;
        tab.file = file;
        refresh_file_tab_title(&tab);
        EXPECT_EQ(tab.title.data, tab.title_buffer);
        EXPECT_EQ(std::string((char*)tab.title.data, tab.title.count), c.title);
        close_file(file);
    }
}
