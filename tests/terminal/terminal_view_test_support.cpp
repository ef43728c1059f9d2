#include "terminal_view_test_support.h"
#include "tests/ui/archive_fonts.h"

#include <string.h>

void set_up_view_test() {
    static bool done = false;
    if (!done) {
        done = true;
        ASSERT_TRUE(set_up_archive_fonts(VIEW_TEST_PIXEL_SIZE));
        init_editor_settings();
        ui_window = &window;
        if (!renderer_info.width) renderer_info = Renderer_Info{800, 600, nullptr};
        ui_screen_resolution = v2{1000, 800};
    }
    editor_settings.text_theme = default_text_theme;
    editor_settings.ui_theme = default_ui_theme;
    ui_layer_in_focus = 0;
    ui_flags = 0;
}

Terminal_Result* add_test_block(Terminal* t, const std::string& command, const std::string& output, u8 flags) {
    Terminal_Result* block = add_a_terminal_result(t, test_string(command));
    if (!block) return nullptr;
    if (!output.empty()) {
        u8* at = (u8*)dynamic_array_add_fast_multiple(&block->text, (u32)output.size());
        memcpy(at, output.data(), output.size());
    }
    tokenise_terminal_result(block);
    block->flags = flags;
    return block;
}

std::vector<Drawn_Quad> run_view_frame(Terminal* t, View_Rectangle r, v2 mouse, const std::vector<u32>& buttons) {
    tmp_reset();
    begin_window_less_frame(mouse, buttons);
    draw_and_update_terminal_history(t, v2{r.left, r.top}, v2{r.right, r.bottom});
    return read_drawn_quads();
}
