// The lister panels in a real window under an X server of the suite's own. xdotool types,
// presses keys and clicks; GLFW's callbacks queue them; a stand-in for the layer's #events
// block (which the compiler is needed for) turns characters into typing and Return,
// Escape, Up and Down into the layer's routines. Frames go through the renderer to the
// screen and are read back as pixels.
#include <gtest/gtest.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "panel_test_support.h"
#include "runtime/routines_listers.h"

#include "tests/ui/x11_pixels.h"
#include "tests/waiting.h"

namespace {

pid_t xvfb_pid = 0;

struct Rgb {
    int r, g, b;
};

int to_srgb(f32 linear) {
    f32 s = linear <= 0.0031308f ? linear * 12.92f : 1.055f * powf(linear, 1 / 2.4f) - 0.055f;
    return (int)lroundf(s * 255);
}

// What the default layer's #events block does with these keys, done here without it.
void play_layer_events() {
    for (u32 i = 0; i < window.event_count; i++) {
        Window_Event e = window.events[i];
        if (e.kind == WINDOW_EVENT_CHARACTER && current_file) {
            u8 octets[4];
            s64 n = utf32_to_utf8_codepoint(e.code, octets) - octets;
            s64 at = current_file->cursor;
            if (editor_insert_octets(current_file, at, octets, n)) {
                add_text_insertion_undo(current_file, at, n, at, true);
                editor_set_cursor(current_file, at + n);
            }
        } else if (e.kind == WINDOW_EVENT_KEY_DOWN) {
            if (e.code == GLFW_KEY_ENTER) foreign_select_item_from_lister(nullptr);
            if (e.code == GLFW_KEY_ESCAPE) foreign_close_lister(nullptr);
            if (e.code == GLFW_KEY_UP) foreign_go_to_previous_item(nullptr);
            if (e.code == GLFW_KEY_DOWN) foreign_go_to_next_item(nullptr);
        }
    }
}

class ListerPanelsX : public Panel_Test {
protected:
    static void SetUpTestSuite() {
        xvfb_pid = start_xvfb_for_window_tests();
        ASSERT_GT(xvfb_pid, 0) << "Xvfb did not start";
        note_gl_driver_opened();
        ASSERT_TRUE(glfwInit());
        ASSERT_TRUE(create_window_with_callbacks(&window, PANEL_TEST_WIDTH, PANEL_TEST_HEIGHT, "Quarn lister test"));
        ASSERT_TRUE(init_renderer(&window, window.width, window.height));
        set_up_panel_test();
        renderer_info.width = window.width;
        renderer_info.height = window.height;
        renderer_info.window = window.handle;
        ui_init_font_pools(PANEL_TEST_PIXEL_SIZE);  // glyphs go to the font map from now on
    }
    static void TearDownTestSuite() {
        stop_waking_main_loop();  // listing and search threads may still end
        if (window.handle) glfwDestroyWindow(window.handle);
        window.handle = nullptr;
        glfwTerminate();
        stop_xvfb_for_window_tests(&xvfb_pid);
    }
    void SetUp() override {
        ASSERT_NE(window.handle, nullptr);
        Panel_Test::SetUp();
    }

    // One iteration of the main loop: wait a moment for input, then the frame.
    void run_frame() {
        tmp_reset();
        window_start_events(&window);
        glfwWaitEventsTimeout(0.02);
        prepare_frame();
        ui_begin_frame();
        play_layer_events();
        run_editor_frame_parts();
        ui_end_frame();
        swap_buffers(false);
    }

    template <typename F>
    bool run_frames_until(F condition) {
        return wait_for_condition([&] {
            run_frame();
            return condition();
        }, TEST_DEADLINE_SECONDS, 0);
    }

    void xdotool(const std::string& arguments) {
        std::string command = "xdotool " + arguments;
        EXPECT_EQ(system(command.c_str()), 0) << command;
    }
    void type(const std::string& text) {
        ASSERT_TRUE(wait_for_window_focus(window.handle)) << "the window never got the focus";
        xdotool("type --delay 15 '" + text + "'");
    }
    void key(const std::string& name) {
        ASSERT_TRUE(wait_for_window_focus(window.handle)) << "the window never got the focus";
        xdotool("key --delay 15 " + name);
    }
    void click(v2 p) {
        xdotool("mousemove --window " + std::to_string(glfwGetX11Window(window.handle)) + " " + std::to_string((int)p.x) +
                " " + std::to_string((int)p.y) + " click 1");
    }

    // Pixels of a rectangle that are nearly the colour.
    u32 count_near(f32 left, f32 top, f32 width, f32 height, Rgba colour) {
        std::vector<u32> all = read_x11_window_pixels(window.handle, window.width, window.height);
        Rgb want = {to_srgb(colour.r), to_srgb(colour.g), to_srgb(colour.b)};
        u32 n = 0;
        for (u32 y = (u32)top; y < (u32)(top + height) && y < window.height; y++) {
            for (u32 x = (u32)left; x < (u32)(left + width) && x < window.width; x++) {
                u32 p = all[(u64)y * window.width + x];
                n += abs((int)((p >> 16) & 0xFF) - want.r) <= 12 && abs((int)((p >> 8) & 0xFF) - want.g) <= 12 &&
                     abs((int)(p & 0xFF) - want.b) <= 12;
            }
        }
        return n;
    }

    std::vector<std::string> shown_names() {
        std::vector<std::string> names;
        File_Lister_List* list = file_lister_get_published_list();
        if (list->generation != global_file_lister.shown_generation) return names;
        for (u32 i = 0; i < list->count; i++) {
            File_Lister_Item* item = file_lister_get_item(list, i);
            names.push_back(std::string((char*)item->name.data, item->name.count));
        }
        return names;
    }

    bool lister_settled() {
        return !file_lister_is_busy() && global_lister_animation_factor >= 1 && global_file_lister.key_hash != 0 &&
               global_file_lister.shown_generation == file_lister_get_published_list()->generation;
    }

    std::string current_name() {
        Tab* tab = get_current_tab();
        if (!tab || !tab->file) return "";
        return std::string((char*)tab->file->name.data, tab->file->name.count);
    }
};

}  // namespace

TEST_F(ListerPanelsX, TypingFiltersAndReturnOpensTheFile) {
    make_tree(root, {"alpha.txt=:alpha text", "beta.txt=:beta text", "gamma.png", "sub/"});
    Scoped_Panel_Tabs scoped_tabs;
    foreign_ask_to_open_file(nullptr);
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names().size() == 4; }));

    type("bet");
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names() == std::vector<std::string>{"beta.txt"}; }));
    EXPECT_EQ(text_of(&global_file_lister.input_line), "bet");
    run_frame();
    // On screen: the panel, the selected row's background with its icon and name.
    Lister_Panel_Layout l = get_file_lister_layout(1);
    const Ui_Theme& theme = editor_settings.ui_theme;
    EXPECT_GT(count_near(l.left, l.top, l.width, l.header, theme.colours[0]), 1000u);
    u32 row_background = count_near(l.list_left, l.list_top, l.list_right - l.list_left, l.row, theme.colours[4]);
    EXPECT_GT(row_background, 1000u);
    u32 row_pixels = (u32)((l.list_right - l.list_left) * l.row);
    EXPECT_LT(row_background, row_pixels - 100) << "the icon and the name are drawn over it";
    EXPECT_GT(count_near(l.list_left, l.list_top, 200, l.row, theme.colours[3]), 20u);

    key("Return");
    ASSERT_TRUE(run_frames_until([&] { return current_name() == "beta.txt"; }));
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(current_file, get_current_tab()->file);
    EXPECT_EQ(text_of(current_file), "beta text");
}

TEST_F(ListerPanelsX, SegmentsRowsAndOutsideTakeTheMouse) {
    make_tree(root, {"alpha.txt=:alpha text", "sub/", "sub/inner.txt=:inner"});
    Scoped_Panel_Tabs scoped_tabs;
    // Listed through a descriptor of the scratch folder, the path row is short whatever
    // TMPDIR is: a long one would push the segment pressed below past the panel's edge.
    int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    std::string sub = "/proc/self/fd/" + std::to_string(folder) + "/sub";
    Filepath* path = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    ASSERT_TRUE(string_to_filepath(path, (u8*)sub.data(), (s64)sub.size()));
    open_file_lister((u8*)"Open File", 9, path, FILE_LISTER_OPEN);
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names() == std::vector<std::string>{"inner.txt"}; }));

    // The scratch directory's segment lists it.
    Lister_Panel_Layout l = get_file_lister_layout(1);
    f32 arrow = get_text_advance((u8*)">", 1, &icons_font_pool, editor_settings.tab_width);
    f32 x = l.left + l.margin;
    Filepath* d = &global_file_lister.directory;
    for (u32 i = 0; i + 2 < d->count; i++) {
        x += ui_advance(std::string((char*)d->components[i].storage, d->components[i].length)) + 2 * l.margin + arrow;
    }
    click(v2{x + 4, l.top + l.margin + (l.margin + PANEL_TEST_PIXEL_SIZE) + PANEL_TEST_PIXEL_SIZE / 2});
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names().size() == 3; }));
    EXPECT_EQ(shown_names(), (std::vector<std::string>{"alpha.txt", "sub", "inner.txt"}));

    // A press on a row opens its file in a new tab.
    l = get_file_lister_layout(3);
    click(v2{l.list_left + 50, l.list_top + l.row / 2});
    ASSERT_TRUE(run_frames_until([&] { return current_name() == "alpha.txt"; }));
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);

    // A press outside the panel closes it; the tab has the keyboard again.
    foreign_ask_to_open_file(nullptr);
    ASSERT_TRUE(run_frames_until([&] { return lister_settled(); }));
    click(v2{10, PANEL_TEST_HEIGHT - 10});
    ASSERT_TRUE(run_frames_until([&] { return !(global_flags & SHOW_FILE_LISTER); }));
    EXPECT_EQ(current_file, get_current_tab()->file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    type("x");
    ASSERT_TRUE(run_frames_until([&] { return text_of(current_file) == "xalpha text"; }));
    close(folder);
}

TEST_F(ListerPanelsX, SearchAndGoToLineJump) {
    make_tree(root, {"f.txt=:one\ntwo needle\nthree\nfour needle\n"});
    Scoped_Panel_Tabs scoped_tabs;
    editor_load_or_go_to_file((u8*)(root + "/f.txt").data(), (s64)root.size() + 6, 1);
    ASSERT_TRUE(run_frames_until([&] { return current_name() == "f.txt"; }));
    Editor_File* file = current_file;
    Search_Lister* s = &global_search_lister;

    foreign_search_file(nullptr);
    type("needle");
    ASSERT_TRUE(run_frames_until([&] {
        return text_of(&s->query_input) == "needle" && __atomic_load_n(&s->complete, __ATOMIC_ACQUIRE) &&
               get_num_items_in_search_lister() == 2 && global_lister_animation_factor >= 1;
    }));
    run_frame();
    // The selected row, and the hits drawn in the bright row colour.
    Lister_Panel_Layout l = get_search_lister_layout(2);
    EXPECT_GT(count_near(l.list_left, l.list_top, l.width, l.row, editor_settings.ui_theme.colours[4]), 1000u);
    EXPECT_GT(count_near(l.list_left, l.list_top, l.width, l.row, editor_settings.ui_theme.colours[3]), 20u);

    key("Down Return");
    ASSERT_TRUE(run_frames_until([&] { return !(global_flags & SHOW_SEARCH_LISTER); }));
    EXPECT_EQ(file->cursor, (s64)strlen("one\ntwo needle\nthree\nfour "));
    EXPECT_EQ(current_file, file);

    foreign_goto_line(nullptr);
    type("3");
    ASSERT_TRUE(run_frames_until([&] {
        return __atomic_load_n(&s->complete, __ATOMIC_ACQUIRE) && get_num_items_in_search_lister() == 1;
    }));
    key("Return");
    ASSERT_TRUE(run_frames_until([&] { return !(global_flags & SHOW_SEARCH_LISTER); }));
    EXPECT_EQ(file->cursor, (s64)strlen("one\ntwo needle\n"));

    // Escape closes a prompt with nothing chosen.
    foreign_search_file(nullptr);
    key("Escape");
    ASSERT_TRUE(run_frames_until([&] { return !(global_flags & SHOW_SEARCH_LISTER); }));
    EXPECT_EQ(current_file, file);
}

TEST_F(ListerPanelsX, TheDeletePromptRemovesExactlyTheChosenFile) {
    make_tree(root, {"gamma.png", "gamma.txt", "keep/", "keep/gamma.c"});
    Scoped_Panel_Tabs scoped_tabs;
    foreign_ask_to_delete_items(nullptr);
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names().size() == 4; }));
    type("gamma.t");
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names() == std::vector<std::string>{"gamma.txt"}; }));
    // Nothing is chosen until the arrows choose it.
    key("Return");
    for (int i = 0; i < 20; i++) run_frame();
    EXPECT_TRUE(std::filesystem::exists(root + "/gamma.txt"));
    key("Down Return");
    // Listed again at once; the prompt stays, with nothing selected, so Return deletes no more.
    ASSERT_TRUE(run_frames_until([&] { return lister_settled() && shown_names().empty(); }));
    EXPECT_TRUE(global_flags & SHOW_FILE_LISTER);
    for (const char* name : {"gamma.png", "keep/gamma.c"}) EXPECT_TRUE(std::filesystem::exists(root + "/" + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(root + "/gamma.txt"));
    key("Return");
    // A letter typed after the Return reaches the query in a frame that has handled the Return.
    type("q");
    ASSERT_TRUE(run_frames_until([&] {
        return current_file && current_file->text.count > 0 && current_file->text.data[current_file->text.count - 1] == 'q';
    }));
    EXPECT_TRUE(std::filesystem::exists(root + "/gamma.png"));
}
