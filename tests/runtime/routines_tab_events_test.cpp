// The tab, event and context routines over no, one, two and three tabs: which tab is
// current afterwards, how many there are, what the block reads back, and where the keyboard
// went.
#include "routine_blocks.h"

#include "foundation/os_files.h"
#include "terminal/terminal.h"

namespace {

enum Result_Width : u8 { NO_RESULT, BYTE_RESULT, U32_RESULT };

struct Tab_Case {
    const char* name;
    std::string kinds;             // one letter per tab: f file, t terminal, e compile errors
    u32 current;                   // current_tab_index before (the count: none)
    std::vector<s64> made_current_ago;  // microseconds before now; 0 never, negative in the future
    u32 id;
    Test_Block block;
    u32 current_after;
    u32 count_after;
    Result_Width width;
    u32 result;
};

Test_Block index_block(u32 index) { return block_from(Tab_Index_Parameters{index}); }
Test_Block byte_block() { return block_from(Byte_Result_Parameters{0x5A}); }

const Tab_Case TAB_CASES[] = {
    {"count: none", "", 0, {}, ROUTINE_GET_NUM_TABS, index_block(9), 0, 0, U32_RESULT, 0},
    {"count: three", "ftf", 0, {}, ROUTINE_GET_NUM_TABS, index_block(9), 0, 3, U32_RESULT, 3},
    {"index", "fff", 2, {}, ROUTINE_GET_CURRENT_TAB_INDEX, index_block(9), 2, 3, U32_RESULT, 2},
    {"kind: no tabs", "", 0, {}, ROUTINE_GET_CURRENT_TAB_TYPE, byte_block(), 0, 0, BYTE_RESULT, 0},
    {"kind: none current", "ff", 2, {}, ROUTINE_GET_CURRENT_TAB_TYPE, byte_block(), 2, 2, BYTE_RESULT, 0},
    {"kind: file", "tf", 1, {}, ROUTINE_GET_CURRENT_TAB_TYPE, byte_block(), 1, 2, BYTE_RESULT, TAB_FILE},
    {"kind: terminal", "tf", 0, {}, ROUTINE_GET_CURRENT_TAB_TYPE, byte_block(), 0, 2, BYTE_RESULT, TAB_TERMINAL},
    {"kind: compile errors", "fe", 1, {}, ROUTINE_GET_CURRENT_TAB_TYPE, byte_block(), 1, 2, BYTE_RESULT, TAB_COMPILE_ERRORS},
    {"set: to the third", "fff", 0, {}, ROUTINE_SET_CURRENT_TAB, index_block(2), 2, 3, NO_RESULT, 0},
    {"set: to a terminal", "fft", 0, {}, ROUTINE_SET_CURRENT_TAB, index_block(2), 2, 3, NO_RESULT, 0},
    {"set: the count does nothing", "fff", 1, {}, ROUTINE_SET_CURRENT_TAB, index_block(3), 1, 3, NO_RESULT, 0},
    {"set: huge does nothing", "ff", 0, {}, ROUTINE_SET_CURRENT_TAB, index_block(0xFFFFFFFF), 0, 2, NO_RESULT, 0},
    {"switch: one tab", "f", 0, {1000}, ROUTINE_SWITCH_TABS, empty_block(), 0, 1, NO_RESULT, 0},
    {"switch: two tabs", "ff", 1, {5000, 10}, ROUTINE_SWITCH_TABS, empty_block(), 0, 2, NO_RESULT, 0},
    {"switch: two tabs, the other never current", "ff", 0, {10, 0}, ROUTINE_SWITCH_TABS, empty_block(), 1, 2, NO_RESULT, 0},
    {"switch: three, the most recent other", "ftf", 0, {10, 9000, 3000}, ROUTINE_SWITCH_TABS, empty_block(), 2, 3, NO_RESULT, 0},
    {"switch: three, a stamp ahead counts as old", "fff", 2, {-5000, 9000, 10}, ROUTINE_SWITCH_TABS, empty_block(), 1, 3,
     NO_RESULT, 0},
    {"switch: three, ties go to the next", "fff", 1, {4000, 10, 4000}, ROUTINE_SWITCH_TABS, empty_block(), 2, 3, NO_RESULT, 0},
    {"close: the middle of three", "fff", 1, {300, 10, 200}, ROUTINE_CLOSE_CURRENT_TAB, empty_block(), 1, 2, NO_RESULT, 0},
    {"close: the last of two", "ff", 1, {}, ROUTINE_CLOSE_CURRENT_TAB, empty_block(), 0, 1, NO_RESULT, 0},
    {"close: none current", "ff", 2, {}, ROUTINE_CLOSE_CURRENT_TAB, empty_block(), 2, 2, NO_RESULT, 0},
};

Terminal test_terminal;

// The tabs of a row: each file tab's record, and a terminal tab's input line, from the pool.
void make_tabs(const Tab_Case& c) {
    init_tabs();
    test_terminal = Terminal{};
    ASSERT_TRUE(string_to_filepath(&test_terminal.directory, (u8*)"/tmp", 4));
    u64 now = os_get_monotonic_microseconds();
    for (size_t i = 0; i < c.kinds.size(); i++) {
        Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
        memset(tab, 0, sizeof(*tab));
        tab->position = (u32)i;
        tab->id = next_tab_id++;
        tab->title.data = tab->title_buffer;
        switch (c.kinds[i]) {
            case 'f': tab->kind = TAB_FILE; tab->file = add_a_file(); break;
            case 't': tab->kind = TAB_TERMINAL; tab->terminal = &test_terminal; tab->input_line = add_a_file(); break;
            default: tab->kind = TAB_COMPILE_ERRORS; break;
        }
        s64 ago = i < c.made_current_ago.size() ? c.made_current_ago[i] : 0;
        tab->time_made_current = ago ? (u64)((s64)now - ago) : 0;
        tab->time_left = tab->time_made_current;
    }
    current_tab_index = c.current;
    Tab* current = get_current_tab();
    current_file = !current ? nullptr : current->kind == TAB_FILE ? current->file : current->input_line;
    global_editor_context = current && current->kind == TAB_TERMINAL ? CONTEXT_TERMINAL : CONTEXT_FILE;
}

void close_tabs() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE) close_file(tab->file);
        if (tab->kind == TAB_TERMINAL) close_file(tab->input_line);
    }
    dynamic_array_free(&tabs);
    init_tabs();
    current_file = nullptr;
}

}  // namespace

TEST(Tab_Routines, EachCallLeavesTheTabsAsItSays) {
    for (const Tab_Case& c : TAB_CASES) {
        SCOPED_TRACE(c.name);
        make_tabs(c);
        Test_Block block = c.block;
        call_routine_by_id(c.id, block.bytes);

        EXPECT_EQ(current_tab_index, c.current_after);
        EXPECT_EQ(tabs.count, c.count_after);
        if (c.width == BYTE_RESULT) {
            EXPECT_EQ(read_at<u8>(block, 0), c.result);
        }
        if (c.width == U32_RESULT) {
            EXPECT_EQ(read_at<u32>(block, 0), c.result);
        }
        expect_block_tail_untouched(block);
        // The keyboard follows the current tab.
        Tab* current = get_current_tab();
        if (current && current->kind == TAB_FILE) {
            EXPECT_EQ(current_file, current->file);
            EXPECT_EQ(global_editor_context, CONTEXT_FILE);
        }
        if (current && current->kind == TAB_TERMINAL) {
            EXPECT_EQ(current_file, current->input_line);
            EXPECT_EQ(global_editor_context, CONTEXT_TERMINAL);
        }
        close_tabs();
    }
}

TEST(Tab_Routines, SwitchingTwiceReturnsAndThreeTabsCycleByRecency) {
    Tab_Case c = {"three", "fff", 0, {10, 3000, 2000}, 0, empty_block(), 0, 0, NO_RESULT, 0};
    make_tabs(c);
    Test_Block block = empty_block();
    call_routine_by_id(ROUTINE_SWITCH_TABS, block.bytes);
    EXPECT_EQ(current_tab_index, 2u);
    call_routine_by_id(ROUTINE_SWITCH_TABS, block.bytes);
    EXPECT_EQ(current_tab_index, 0u);
    call_routine_by_id(ROUTINE_SWITCH_TABS, block.bytes);
    EXPECT_EQ(current_tab_index, 2u);
    close_tabs();
}

TEST(Event_Routines, ContextEventsAndCentringReadWhatTheFrameLeft) {
    Custom_Layer_Event events[2] = {{LAYER_EVENT_CHARACTER, 'a', 0, {}}, {LAYER_EVENT_KEY_DOWN, 262, 1, {}}};
    custom_layer.events = events;
    custom_layer.event_count = 2;
    Test_Block block = block_from(Get_Events_Parameters{nullptr, -1});
    call_routine_by_id(ROUTINE_GET_EVENTS, block.bytes);
    EXPECT_EQ(read_at<Custom_Layer_Event*>(block, 0), events);
    EXPECT_EQ(read_at<s64>(block, 8), 2);

    // Outside #events the frame driver has emptied the record.
    custom_layer.events = nullptr;
    custom_layer.event_count = 0;
    call_routine_by_id(ROUTINE_GET_EVENTS, block.bytes);
    EXPECT_EQ(read_at<Custom_Layer_Event*>(block, 0), nullptr);
    EXPECT_EQ(read_at<s64>(block, 8), 0);
    expect_block_tail_untouched(block);

    for (u8 context : {CONTEXT_FILE, CONTEXT_SEARCH_LISTER, CONTEXT_FILE_LISTER, CONTEXT_TERMINAL}) {
        global_editor_context = context;
        block = block_from(Byte_Result_Parameters{0});
        call_routine_by_id(ROUTINE_GET_CONTEXT, block.bytes);
        EXPECT_EQ(read_at<u8>(block, 0), context);
    }
    global_editor_context = CONTEXT_FILE;

    Test_File file("ab\ncd");
    u16 flags = file->flags;
    current_file = nullptr;
    block = empty_block();
    call_routine_by_id(ROUTINE_CENTRE_CURSOR_VERTICALLY, block.bytes);
    EXPECT_EQ(file->flags, flags);
    current_file = file;
    call_routine_by_id(ROUTINE_CENTRE_CURSOR_VERTICALLY, block.bytes);
    EXPECT_EQ(file->flags, flags | FILE_CENTRE_CURSOR);
    expect_block_tail_untouched(block);
    current_file = nullptr;
}
