// The parts of the tab bar that need no window: where a dragged tab and the others stand,
// what a file tab's title says, and how a long title and a long compile error are drawn in
// the default window (the quads read back, without a window). The bar's input runs under X
// in tab_bar_x_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "shell/shell.h"
#include "tests/shell/shell_test_support.h"
#include "tests/ui/archive_fonts.h"
#include "tests/ui/drawn_quads.h"

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
    const std::string mark = FILE_CHANGED_ON_DISK_MARK;
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
        {"a save refused for a change on disk", "a.txt", FILE_MODIFIED | FILE_SAVE_REFUSED, "*a.txt (conflict)"},
        // The name is cut for the mark, before the character the cut would split.
        {"the mark stays whole after a long name", std::string(TAB_TITLE_CAPACITY - 3 - mark.size(), 'a') + "\xC3\xA9zzz",
         FILE_MODIFIED | FILE_SAVE_REFUSED, "*" + std::string(TAB_TITLE_CAPACITY - 3 - mark.size(), 'a') + mark},
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

namespace {

// The window start-up makes, drawn without one.
const v2 WINDOW_SIZE = {800, 600};

void set_up_window_less_drawing() {
    ASSERT_TRUE(set_up_archive_fonts(20));
    ui_window = &window;
    renderer_info = Renderer_Info{(u32)WINDOW_SIZE.x, (u32)WINDOW_SIZE.y, nullptr};
    ui_screen_resolution = v2{1920, 1080};
}

f32 title_width(const std::string& text) {
    return get_text_width((u8*)text.data(), text.size(), &ui_font_pool, DRAW_TEXT_TAB_WIDTH);
}

// The glyphs a text leaves on the screen: blanks have no ink and are not drawn.
size_t count_inked_glyphs(const std::string& text, Font_Pool* pool) {
    Text_Iterator it;
    init_text_iterator(&it, (u8*)text.data(), text.size(), pool, DRAW_TEXT_TAB_WIDTH);
    size_t n = 0;
    while (text_iterator_get_next(&it)) n += it.current_glyph && it.current_glyph->width > 0;
    return n;
}

std::vector<Drawn_Quad> glyphs_between(f32 top, f32 bottom) {
    std::vector<Drawn_Quad> glyphs;
    for (const Drawn_Quad& q : read_drawn_quads()) {
        if (q.glyph && q.centre_y() >= top && q.centre_y() < bottom) glyphs.push_back(q);
    }
    return glyphs;
}

f32 rightmost(const std::vector<Drawn_Quad>& quads) {
    f32 right = -1e9f;
    for (const Drawn_Quad& q : quads) right = fmaxf(right, q.left + q.width);
    return right;
}

Tab* add_file_tab(const std::string& name, u16 flags) {
    Editor_File* file = add_a_file();
    if (!file) return nullptr;
    memcpy(file->name_storage, name.data(), name.size());
    file->name = String{file->name_storage, (s64)name.size()};
    atomic_and_u16(&file->flags, (u16)~FILE_MODIFIED);
    atomic_or_u16(&file->flags, flags);
    current_tab_index = tabs.count ? tabs.count - 1 : 0;
    Tab* tab = add_a_tab(TAB_FILE, file);
    if (tab) set_current_tab(tab->position, true);
    return tab;
}

}  // namespace

TEST_F(Tab_Bar_Test, ALongTitleIsShortenedInItsNameAndKeepsItsMarksWhole) {
    set_up_window_less_drawing();
    const std::string mark = FILE_CHANGED_ON_DISK_MARK;
    const std::string long_name = "a_file_with_a_rather_long_name.txt";
    const u16 every_mark = FILE_MODIFIED | FILE_SAVE_FAILED | FILE_SAVE_REFUSED;
    struct Case {
        const char* name;
        u8 kind;
        std::string text;  // the file's name, or the terminal tab's title
        u16 flags;
        u32 tabs_before;   // their count sets the tab's number
        bool shortened;
        std::string before, after;  // the marks kept whole
    };
    const Case cases[] = {
        {"a name that fits", TAB_FILE, "a.txt", FILE_MODIFIED, 0, false, "", ""},
        {"a short name and the mark of a refused save", TAB_FILE, "a.txt", FILE_MODIFIED | FILE_SAVE_REFUSED, 0, false, "", ""},
        {"a long name", TAB_FILE, long_name, 0, 0, true, "", ""},
        {"a long name and every mark", TAB_FILE, long_name, every_mark, 0, true, "!*", mark},
        {"every mark on the tenth tab", TAB_FILE, long_name, every_mark, 9, true, "!*", mark},
        {"a long Cyrillic name", TAB_FILE, "\xD0\xB4\xD0\xBB\xD0\xB8\xD0\xBD\xD0\xBD\xD0\xBE\xD0\xB5_"
                                            "\xD0\xB8\xD0\xBC\xD1\x8F_\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xB0_"
                                            "\xD1\x81_\xD0\xB7\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8F\xD0\xBC\xD0\xB8.txt",
         FILE_MODIFIED, 0, true, "*", ""},
        {"three-octet characters the font lacks", TAB_FILE, "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                                                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                                                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
         FILE_SAVE_REFUSED, 0, true, "", mark},
        {"a terminal's long command", TAB_TERMINAL, "grep -rn 'a rather long pattern' *.txt", 0, 0, true, "", ""},
    };
    const Tab_Bar_Geometry g = make_tab_bar_geometry(v2{0, 0}, WINDOW_SIZE, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_tabs_and_commands();
        for (u32 i = 0; i < c.tabs_before; i++) ASSERT_NE(add_file_tab("f.txt", 0), nullptr);
        Tab* tab = nullptr;
        if (c.kind == TAB_FILE) {
            tab = add_file_tab(c.text, c.flags);
        } else {
            // The label alone: no terminal runs behind it.
            tab = add_file_tab("", 0);
            ASSERT_NE(tab, nullptr);
            close_file(tab->file);
            tab->kind = c.kind;
            tab->terminal = nullptr;
            write_into_string(&tab->title, TAB_TITLE_CAPACITY, "%s", c.text.c_str());
        }
        ASSERT_NE(tab, nullptr);

        tmp_reset();
        begin_window_less_frame(v2{-1, -1}, {});
        Tab_Bar_Geometry frame_geometry = g;
        draw_and_update_tab_bar(&frame_geometry);
        f32 x = g.bar_position.x + (f32)tab->position * (g.tab_width + TAB_GAP_PX) - global_tabs_horizontal_offset_px;
        Tab_Label_Layout l = layout_tab_label(tab, x, &frame_geometry);
        ASSERT_TRUE(l.close_shows);
        f32 room = l.title_right - l.title_x;
        String fitted = fit_tab_title_tmp(tab, room);
        std::string title((char*)tab->title.data, tab->title.count), drawn((char*)fitted.data, fitted.count);
        EXPECT_LE(title_width(drawn), room) << drawn;

        if (!c.shortened) {
            EXPECT_EQ(drawn, title);
        } else {
            ASSERT_GE(drawn.size(), c.before.size() + 3 + c.after.size()) << drawn;
            EXPECT_EQ(drawn.substr(0, c.before.size()), c.before);
            EXPECT_EQ(drawn.substr(drawn.size() - 3 - c.after.size()), "..." + c.after);
            std::string kept = drawn.substr(c.before.size(), drawn.size() - c.before.size() - 3 - c.after.size());
            std::string name = title.substr(c.before.size(), title.size() - c.before.size() - c.after.size());
            EXPECT_FALSE(kept.empty()) << "some of the name shows";
            ASSERT_LT(kept.size(), name.size());
            EXPECT_EQ(name.substr(0, kept.size()), kept);
            EXPECT_NE(name[kept.size()] & 0xC0, 0x80) << "cut between characters";
            // As much of the name as fits: one character more does not.
            u8* next = (u8*)name.data() + kept.size();
            size_t longer = kept.size() + get_utf8_char_size_in(next, (u8*)name.data() + name.size());
            EXPECT_GT(title_width(c.before + name.substr(0, longer) + "..." + c.after), room);
        }

        // What the bar drew: after the number, the title's glyphs, every one clear of the close
        // icon's room; the close icon comes last.
        std::vector<Drawn_Quad> glyphs = glyphs_between(g.bar_position.y, g.bar_position.y + g.bar_size.y);
        ASSERT_FALSE(glyphs.empty());
        glyphs.pop_back();
        std::vector<Drawn_Quad> title_glyphs;
        for (const Drawn_Quad& q : glyphs) {
            if (q.left >= l.title_x - g.margin * 0.25f) title_glyphs.push_back(q);
        }
        EXPECT_EQ(title_glyphs.size(), count_inked_glyphs(drawn, &ui_font_pool));
        EXPECT_LE(rightmost(title_glyphs), l.title_right);
    }
    reset_tabs_and_commands();
}

TEST_F(Tab_Bar_Test, ACompileErrorMessageIsWrappedToBeReadInTheDefaultWindow) {
    set_up_window_less_drawing();
    if (compile_errors.element_size == 0) init_dynamic_array(&compile_errors, sizeof(Compile_Error));
    compile_errors.count = 0;
    const std::string path = "/home/someone/.config/quarn/custom.8";
    const std::string captured = "    total := count + name;";
    // A line of words, then a path longer than a row, which breaks inside itself.
    const std::string message =
        "Cannot add a 'String' to an 's64': 'name' was declared as a 'String' on line 3, and '+' takes two numbers "
        "of one type; convert it with 'string_to_s64', or give 'total' the type 'String'.\n"
        "while compiling /home/someone/.config/quarn/modules/a_module_with_a_long_name/and_a_folder_below_it/"
        "with_helpers_for_numbers.8";
    Compile_Error* e = (Compile_Error*)dynamic_array_add_fast(&compile_errors);
    ASSERT_NE(e, nullptr);
    memset(e, 0, sizeof(*e));
    e->line = 12;
    e->path_length = (u16)path.size();
    memcpy(e->path, path.data(), path.size());
    e->captured_length = (u16)captured.size();
    memcpy(e->captured, captured.data(), captured.size());
    e->column = 13;
    e->marked_length = 12;
    e->message_length = (u16)message.size();
    memcpy(e->message, message.data(), message.size());
    reset_tabs_and_commands();
    Tab* tab = add_a_tab(TAB_COMPILE_ERRORS, nullptr);
    ASSERT_NE(tab, nullptr);
    set_current_tab(tab->position, true);

    const Tab_Bar_Geometry g = make_tab_bar_geometry(v2{0, 0}, WINDOW_SIZE, 0, 0);
    tmp_reset();
    begin_window_less_frame(v2{-1, -1}, {});
    draw_compile_errors_tab(tab, g.content_position, g.content_size);

    f32 gap = 0.4f * (f32)ui_font_pool.pixel_size;
    Compile_Error_Layout l = layout_compile_error(e, g.content_position.y + gap, g.content_size.x);
    std::vector<Drawn_Quad> glyphs = glyphs_between(l.message_top, l.icon_top);
    std::string rows = message;
    rows[rows.find('\n')] = ' ';  // where the second row starts, not a character drawn
    EXPECT_EQ(glyphs.size(), count_inked_glyphs(rows, &code_font_pool)) << "the whole message, above the copy icon";
    f32 right = g.content_position.x + g.content_size.x;
    EXPECT_LE(rightmost(glyphs), right);
    EXPECT_GT(l.icon_top - l.message_top, 3 * code_font_pool.line_height) << "more rows than lines";

    compile_errors.count = 0;
    reset_tabs_and_commands();
}
