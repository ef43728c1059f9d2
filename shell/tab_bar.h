// The tab bar across the top of the window and the current tab's contents below it: where
// each tab stands, hover and switch slides, pressing, closing and dragging tabs, and what
// each kind of tab shows.
#pragma once

#include "foundation/foundation.h"
#include "ui/vectors.h"

struct Tab;
struct Terminal;
struct Compile_Error;

#define TAB_GAP_PX 3.0f          // between two tabs
#define SLIDE_SPEED 0.007f       // clock per millisecond: a slide takes about 143 ms
#define SLIDE_FRAME_CAP_MS 16.0f // a long frame does not jump a slide to its end
#define COPIED_NOTICE_MICROSECONDS 2000000ull

// What the frame driver works out for the bar each frame.
struct Tab_Bar_Geometry {
    v2 bar_position;      // top-left corner of the bar
    v2 bar_size;
    f32 tab_width;
    f32 margin;           // inside a tab, around its label and close icon
    v2 content_position;  // the current tab's contents
    v2 content_size;
};

extern Tab* tab_being_dragged;               // null when no tab is dragged
extern f32 global_tabs_horizontal_offset_px; // the bar's horizontal scroll

//~ tab_bar.cpp

Tab_Bar_Geometry make_tab_bar_geometry(v2 area_position, v2 area_size, f32 bar_left, f32 bar_top);
// The bar from bar_left to the area's right edge, 1.5 UI-font sizes high, tabs 10 UI-font
// sizes wide (at least room for the margins and two icons), the contents below it.

// Short enough to stand whole in a tab of the default width behind "!*", a cut name and a
// two-digit number.
#define FILE_CHANGED_ON_DISK_MARK " (conflict)"

void refresh_file_tab_title(Tab* tab);
// A file tab's title is its file's name, with "*" in front while it has unsaved changes
// and "!" in front of that while its last save failed; FILE_CHANGED_ON_DISK_MARK follows
// it while a save was refused because the file changed on disk.

// Where the parts of one tab's label stand, left to right.
struct Tab_Label_Layout {
    const char* kind_icon;    // icon-font letters, or null
    const char* status_icon;
    f32 label_x;      // the kind icon, or else the number
    f32 title_x;
    f32 title_right;  // the title's room ends here, clear of the close icon
    f32 close_x;
    b8 close_shows;   // only where the number fits before the close icon
};

Tab_Label_Layout layout_tab_label(Tab* tab, f32 x, Tab_Bar_Geometry* geometry);
// The label of a tab whose left edge is at x. Cut at the bar's left edge, a tab keeps its
// label in the bar, so its title's room shrinks.

// Three full stops: the UI font's ranges end at U+052F, so U+2026 would be drawn as "?".
#define TAB_TITLE_ELLIPSIS "..."

String fit_tab_title_tmp(Tab* tab, f32 room);
// The title as drawn in room pixels of the UI font: the title itself when it fits; else
// TAB_TITLE_ELLIPSIS after as much of its name as fits (cut between characters), with a
// file tab's marks, "!" and "*" before the name and FILE_CHANGED_ON_DISK_MARK after it,
// whole. Where even the marks and the ellipsis do not fit, those alone, for the drawing to
// clip. A shortened title is in temporary memory.

void assign_drag_slots(Tab* dragged, f32 mouse_x, Tab_Bar_Geometry* geometry);
// The dragged tab's slot under the mouse (clamped to the bar's tabs) and every other tab's
// slot around it.

void draw_and_update_tab_bar(Tab_Bar_Geometry* geometry);
// One frame of the bar: drag slots, titles, the bar's scroll (the current tab in sight, no
// room right of the last tab), every tab (only the current tab's contents in focus mode),
// the tab whose close icon was pressed closed, the dragged tab on top and dropped at its
// slot once the button is released.

void draw_tab(Tab* tab, Tab** to_close, b8 normal_pass, Tab_Bar_Geometry* geometry);
// Draws one tab and, when it is current, its contents. A tab cut at the bar's left edge
// keeps its label in sight and shows its close icon only where its number fits before it.
// A press on its close icon stores it in *to_close, when that icon was under the pointer
// as it last moved; the caller closes it after the bar is drawn. The normal pass draws
// every tab in order; the second draws the dragged tab on top.

void draw_and_update_tab_contents(Tab* tab, v2 position, v2 size);
// A file view, a terminal (its running command with "Kill Process" or its directory, its
// input line and its history), the list of compile errors or the state of an update
// download.

const char* get_terminal_status_icon(Terminal* terminal);
// The icon-font letter of a terminal tab's label for its last command: "e" failed, "o"
// done; null while it runs or when there is none.

//~ compile_errors_tab.cpp

// Where the parts of one report stand in the compile-errors tab, from its top down.
struct Compile_Error_Layout {
    f32 header_top;   // "path:line" in the UI font
    f32 source_top;   // the captured lines in the code font
    f32 message_top;  // the message's lines in the code font
    f32 icon_top;     // the copy icon, at the left like the rest
    f32 bottom;       // where the next report starts
};

Compile_Error_Layout layout_compile_error(Compile_Error* error, f32 top, f32 contents_width);
// The report's parts from top down in a tab contents_width wide. The message has a row for
// each of its lines and wraps a line wider than the room left of the scroll bar.

void draw_compile_errors_tab(Tab* tab, v2 position, v2 size);
// The reports of compile_errors in a scrolled list. A press on a header opens its file at
// its line (editor_load_or_go_to_file); a press on a copy icon puts the report's text on
// the clipboard and shows "Copied." for two seconds.
