// The window-less frame of the panel tests and its read-back.
#include "panel_test_support.h"
#include "tests/ui/archive_fonts.h"

void set_up_panel_test() {
    static bool done = false;
    if (!done) {
        done = true;
        ASSERT_TRUE(set_up_archive_fonts(PANEL_TEST_PIXEL_SIZE));
        ui_window = &window;
        ui_screen_resolution = v2{1000, 800};
    }
    if (!window.handle) renderer_info = Renderer_Info{PANEL_TEST_WIDTH, PANEL_TEST_HEIGHT, nullptr};
    editor_settings.text_theme = default_text_theme;
    editor_settings.ui_theme = default_ui_theme;
    ui_layer_in_focus = 0;
    ui_flags = 0;
    delta_time = 30;
}

void Panel_Test::SetUp() {
    set_up_panel_test();
    set_layer_lists({}, {}, {}, 1 << 20);
    ASSERT_TRUE(string_to_filepath(&editor_working_directory, (u8*)root.data(), (s64)root.size()));
}

void run_editor_frame_parts() {
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* c = &((Editor_Command*)editor_commands.data)[i];
        if (c->command_kind == COMMAND_ADD_TAB) {
            Tab* tab = add_a_tab(c->tab_kind, (Editor_File*)c->payload);
            if (tab) set_current_tab(tab->position, true);
        } else if (c->command_kind == COMMAND_GO_TO_TAB) {
            Tab* tab = get_tab_by_id(c->tab_target);
            if (tab) set_current_tab(tab->position, true);
        }
    }
    editor_commands.count = 0;
    tmp_current_tab_index = current_tab_index;
    if (Tab* tab = get_current_tab()) {
        draw_and_update_tab_contents(tab, v2{0, 40}, v2{(f32)renderer_info.width, (f32)renderer_info.height - 40});
    }
    draw_and_update_listers();
}

std::vector<Drawn_Quad> run_panel_frame(v2 mouse, const std::vector<u32>& buttons) {
    tmp_reset();
    begin_window_less_frame(mouse, buttons);
    run_editor_frame_parts();
    ui_end_frame();
    return read_drawn_quads();
}

Scoped_Panel_Tabs::Scoped_Panel_Tabs() {
    init_tabs();
    init_editor_commands();
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
    tmp_current_tab_index = 0;
}

Scoped_Panel_Tabs::~Scoped_Panel_Tabs() {
    close_lister();
    EXPECT_TRUE(wait_until([] { return !file_lister_is_busy(); }));
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* c = &((Editor_Command*)editor_commands.data)[i];
        if (c->command_kind == COMMAND_ADD_TAB && c->payload) close_file((Editor_File*)c->payload);
    }
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) close_file(tab->file);
    }
    dynamic_array_free(&tabs);
    dynamic_array_free(&editor_commands);
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
    current_tab_index = 0;
}

Tab* add_test_file_tab(const std::string& text, const std::string& path, bool close_listers) {
    Editor_File* file = add_a_file();
    EXPECT_NE(file, nullptr);
    if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&file->text, (u32)text.size()), text.data(), text.size());
    size_t slash = path.rfind('/');
    std::string directory = slash == 0 ? "/" : path.substr(0, slash), name = path.substr(slash + 1);
    EXPECT_TRUE(string_to_filepath(&file->directory, (u8*)directory.data(), (s64)directory.size()));
    memcpy(file->name_storage, name.data(), name.size());
    file->name = String{file->name_storage, (s64)name.size()};
    Tab* tab = add_a_tab(TAB_FILE, file);
    EXPECT_NE(tab, nullptr);
    set_current_tab(tab->position, close_listers);
    return tab;
}
