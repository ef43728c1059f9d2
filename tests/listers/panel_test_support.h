// What the panel tests share: the built-in fonts from the archive built beside the tests,
// a small window-less frame of the editor (queued tab commands, the current tab's view, the
// lister panels) whose quads are read back in window pixels with y downwards, and an empty
// tab list given back at the end of a test.
#pragma once

#include <math.h>

#include "listers_test_helpers.h"
#include "runtime/custom_layer.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "tests/ui/drawn_quads.h"
#include "tests/waiting.h"

#define PANEL_TEST_PIXEL_SIZE 20
#define PANEL_TEST_WIDTH 800
#define PANEL_TEST_HEIGHT 600

// Fonts, the element store, the default themes, a target of PANEL_TEST_WIDTH x
// PANEL_TEST_HEIGHT, no layer in focus; frames take 30 ms, so a panel grows in four.
void set_up_panel_test();

// What the frame driver does for the listers each frame: the queued tab commands (a new
// tab made current, or a tab gone to), the current tab's contents, then the panel that has
// the keyboard.
void run_editor_frame_parts();

// A scratch directory, the fonts and themes, no blacklists and a search size limit of
// 1 MiB; editor_working_directory is the scratch directory.
class Panel_Test : public ::testing::Test {
protected:
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    void SetUp() override;
};

// One frame without a window: the mouse where given, these button events queued.
std::vector<Drawn_Quad> run_panel_frame(v2 mouse = {-100, -100}, const std::vector<u32>& buttons = {});

// Frames until the condition holds (false when it does not by the tests' deadline).
template <typename F>
bool run_panel_frames_until(F condition, v2 mouse = {-100, -100}) {
    return wait_for_condition([&] {
        run_panel_frame(mouse);
        return condition();
    }, TEST_DEADLINE_SECONDS, 1000);
}

inline std::vector<Drawn_Quad> boxes_of(const std::vector<Drawn_Quad>& quads, Rgba colour) {
    std::vector<Drawn_Quad> out;
    for (const Drawn_Quad& q : quads) {
        if (!q.glyph && same_colour(q.colour, colour)) out.push_back(q);
    }
    return out;
}

// Glyphs whose middle lies in the band [top, top + height).
inline std::vector<Drawn_Quad> glyphs_in_band(const std::vector<Drawn_Quad>& quads, f32 top, f32 height) {
    std::vector<Drawn_Quad> out;
    for (const Drawn_Quad& q : quads) {
        if (q.glyph && q.centre_y() >= top && q.centre_y() < top + height) out.push_back(q);
    }
    return out;
}

inline f32 ui_advance(const std::string& text) {
    return get_text_advance((u8*)text.data(), text.size(), &ui_font_pool, editor_settings.tab_width);
}
inline f32 code_advance(const std::string& text) {
    return get_text_advance((u8*)text.data(), text.size(), &code_font_pool, editor_settings.tab_width);
}

inline std::string text_of(Editor_File* file) { return std::string((char*)file->text.data, file->text.count); }

// An empty tab list and command queue; the tabs' files and the queue are given back, and
// both listers closed, at the end of the test.
struct Scoped_Panel_Tabs {
    Scoped_Panel_Tabs();
    ~Scoped_Panel_Tabs();
};

// A file tab showing a new record with this text and path, made current (closing the
// listers unless told otherwise).
Tab* add_test_file_tab(const std::string& text, const std::string& path, bool close_listers = true);
