// The per-frame driver: everything one frame of the editor does between the UI frame's
// start and end (draw_and_update_editor, declared with the main loop). It keeps the
// compile-errors tab in step with compile_errors, hands the frame's input to the custom
// layer, performs the queued editor commands and draws the top bar, the tabs or, with no
// tab open, the information panel, and last the lister panel that has the keyboard.
#pragma once

#include "foundation/foundation.h"
#include "ui/vectors.h"
#include "ui/window.h"
#include "runtime/custom_layer.h"
#include "editor/filepath.h"

struct Computer_Info;

#ifndef QUARN_CHANGELOG_ADDRESS
#define QUARN_CHANGELOG_ADDRESS "https://quarn.dev/changelog"
#endif

#define INFORMATION_PANEL_LINE_COUNT 9

// Top-bar icons: a glyph of the icon font, and the glyph drawn under the mouse.
enum Top_Bar_Icon : u8 {
    ICON_NEW_FILE,
    ICON_OPEN_FILE,
    ICON_NEW_TERMINAL,
    ICON_SAVE,
    ICON_PREVIOUS_TAB,
    ICON_NEXT_TAB,
    TOP_BAR_ICON_COUNT,
};

struct Top_Bar_Icon_Glyphs {
    u8 glyph;
    u8 hovered_glyph;
};

extern const Top_Bar_Icon_Glyphs TOP_BAR_ICON_GLYPHS[TOP_BAR_ICON_COUNT];

//~ frame_driver.cpp

u32 make_custom_layer_events(Window_Event* events, u32 count, Custom_Layer_Event* out);
// The layer's events for the window's queue, in order: characters, key downs and key ups
// as they are, a left press as kind 8 with code 0, nothing for any other event; modifiers
// cut to control, alt and shift. Returns how many entries it wrote (at most count).

void update_editor();
// Builds the frame's event list in temporary memory and, when it is not empty, runs the
// layer's #events block with it under the sources lock and then the execution lock. The
// record's list is emptied again afterwards: it lives for this call only.

void recompile_custom_layer_if_asked();
// Recompiles the layer when the file watcher asked for it. A failed compile keeps the layer
// that is installed and watches the sources it read, so only their next change asks again.

void keep_compile_errors_tab_in_step();
// A compile-errors tab exists exactly while compile_errors is not empty: one is made and
// made current when reports come, closed when they are gone, and brought forward when a
// failed compile sets DISPLAY_COMPILE_ERRORS.

void perform_editor_commands();
// Carries out the queued commands in order and empties the queue: a tab added for a
// record (made current), a tab made current by its id (nothing when it is gone), a
// command line run in a terminal tab (below).

void switch_to_neighbour_tab(s32 direction);
// The tab left (-1) or right (+1) of the current one made current, wrapping at the ends.

f32 draw_top_bar(v2 position, v2 size);
// The bar with "Update" and "What is new" while an update is available, then the icons
// that apply (new file, open file, new terminal, save for a file tab, previous and next tab with two
// tabs or more); a press on one acts at once. Returns where the tab bar starts.

String information_panel_line_tmp(u32 index, Computer_Info* info);
// The panel's line of that index (0 to 8) in temporary memory.

void draw_information_panel(v2 position, v2 size);
// The nine lines about the build and the machine, centred in the area.
