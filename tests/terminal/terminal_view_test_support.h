// What the terminal view tests share: the built-in fonts from the archive built beside the
// tests, blocks filled with output as the worker fills them, and one frame of the view run
// without OpenGL, its quads read back in window pixels with y downwards.
#pragma once

#include <math.h>

#include "terminal_test_support.h"
#include "foundation/os_files.h"
#include "editor/editor_settings.h"
#include "ui/ui.h"
#include "tests/ui/drawn_quads.h"

#define VIEW_TEST_PIXEL_SIZE 20

struct View_Rectangle {
    f32 left, top, right, bottom;
};

// Fonts, the element store and a theme; no window unless the test made one.
void set_up_view_test();

// A block behind the others, its output tokenised as a read would, then the given flags.
Terminal_Result* add_test_block(Terminal* t, const std::string& command, const std::string& output, u8 flags);

// One frame: the mouse where given, these button events queued, then the view drawn.
std::vector<Drawn_Quad> run_view_frame(Terminal* t, View_Rectangle r, v2 mouse, const std::vector<u32>& buttons = {});

inline f32 code_advance() { return get_text_advance((u8*)"x", 1, &code_font_pool, 4); }
inline f32 code_line_height() { return code_font_pool.line_height; }

// Inside the character at a column of a line of the view (line 0 at the view's top, the
// first block's header), fractions reaching into it.
inline v2 point_at(View_Rectangle r, u32 line, f32 column) {
    return v2{r.left + column * code_advance(), r.top + (line + 0.5f) * code_line_height()};
}
