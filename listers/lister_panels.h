// The two lister panels drawn over the editor: the file lister (its directory as clickable
// segments, the query line, the "Flat view" box and the rows of the published listing) and
// the search lister (one or two prompts and the hits with their lines). A shown panel has
// the keyboard and the mouse; both share one opening animation and one close sequence
// (close_lister). Keys reach them only through the layer's routines; the panels take the
// mouse themselves.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor.h"
#include "ui/vectors.h"
#include "listers/file_lister.h"
#include "listers/search.h"

// The opening animation grows by this much per millisecond of frame time: about 102 ms.
#define LISTER_ANIMATION_SPEED 0.0098f
// A longer frame does not jump the animation ahead.
#define LISTER_ANIMATION_FRAME_CAP_MS 30.0f
// The UI layer the panels draw on and take the mouse with while shown.
#define LISTER_UI_LAYER 1

// The search panel draws at most this many octets of a hit's line: past them the text lies
// far beyond the panel's right edge, and a one-line file of megabytes must not be walked
// glyph by glyph every frame.
#define SEARCH_LISTER_LINE_DRAW_LIMIT 4096

extern f32 global_lister_animation_factor;  // 0 when a lister opens, 1 once it has grown

// Where a panel's parts stand this frame, in window pixels (y downwards). Rows are `row`
// apart, the first at list_top - scroll.
struct Lister_Panel_Layout {
    f32 left, top, width, height;  // the panel
    f32 margin;                    // P: 0.2 UI-font sizes
    f32 header;                    // the rows above the list
    f32 list_top, list_bottom;     // the band the rows show in
    f32 list_left, list_right;     // the rows' columns (the scroll bar lies right of them)
    f32 row;                       // one row's pitch
    f32 content_height;            // all rows
};

// The top of row index, scrolled, cut to a whole pixel. A row reaches down to the next row's
// top: rows tile the list, so the row under the pointer, the one a press takes and the one
// drawn highlighted are one row at any pitch.
inline f32 lister_row_top(Lister_Panel_Layout* l, u32 index, f32 scroll) {
    return truncf(l->list_top + l->row * (f32)index - scroll);
}

// Whether p lies in the box, its left and top edges included.
inline b8 lister_point_inside(v2 p, f32 left, f32 top, f32 right, f32 bottom) {
    return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
}

//~ lister_panels.cpp

void init_listers();
// Start-up: both listers idle with their pools, lists and input lines. Also the way tests
// start over once no thread of theirs runs.

void draw_and_update_listers();
// The frame driver's last step: the file lister when the keyboard is the file lister's
// (context 4), else the search lister when it is the search lister's (context 2).

b8 lister_has_keyboard();  // global_editor_context has a lister bit

void lister_go_to_previous_item();
void lister_go_to_next_item();
// One step of the selection of both listers, wrapping around: the file lister's over its
// shown items, the search lister's over its shown hits. Each asks its panel to bring the
// selection into view. With no items the selection stays at 0.

void lister_go_to_parent_directory();
// The file lister's directory loses its last component when it has two or more.

void lister_go_to_next_prompt();
// In replace mode, typing goes to the other of the two prompts.

void empty_lister_input(Editor_File* input);
// No text, no undo records, no selection, the cursor at 0 (the previous cursor kept).

void advance_lister_animation();
// Asks for frames while the panel grows, then grows it by this frame's time.

Lister_Panel_Layout make_lister_panel_layout(u32 header_rows, f32 row, u32 count, b8 inset_list);
// The panel 0.9 of the target wide, centred, 0.05 of its height from the top: a margin and
// header_rows rows of the UI font (each after a margin), then count rows of the given
// pitch and a margin, the list no taller than 0.9 of the target height times the
// animation. An inset list starts a margin inside the panel's left edge.

f32* lister_scroll_bar(const char* key, Lister_Panel_Layout* l, u32 count, u32 selected, u8* scroll_request);
// The list's scroll bar (its scroll, then its shown width), with the selected row brought
// into view when asked. The request waits while the growing list is shorter than a row.

Rgba lister_theme_colour(u32 index);  // UI theme colour, its alpha times the animation
Rgba lister_contrast_colour();
// White on a dark panel background (UI colour 0), black on a light one; alpha the
// animation's.

//~ file_lister_panel.cpp

void open_file_lister(u8* title, u64 title_count, Filepath* directory, u8 purpose);
// Shows the file lister on the directory (empty components left out) with the title (cut
// to FILE_LISTER_TITLE_CAPACITY at a character boundary) for a File_Lister_Purpose. It takes
// the keyboard and the mouse, empties its input line, turns the flat view on and starts the
// listing. A search lister that was shown is closed first.

void editor_ask_to_delete_items();
// The delete prompt on editor_working_directory, unless it already has the keyboard.

void ask_to_open_file();
// The "Open File" prompt on the current tab's directory: a terminal's, a file's with a
// path, else editor_working_directory.

Lister_Panel_Layout get_file_lister_layout(u32 item_count);
// The panel for this many items at the present animation and font sizes.

const char* get_file_lister_icon(File_Lister_Item* item, b8 selected, u8 purpose);
// The icon-font letter of a row: "D" a directory, "w" the new-file item or the selected
// file of a save, "r" the selected file of a delete, "p" a picture or video, "m" audio,
// "F" any other file. Extensions compare exactly.

const char* get_file_lister_suffix(File_Lister_Item* item, b8 selected, u8 purpose);
// What choosing the row would do, drawn after its name; "" for nothing to say.

void draw_and_update_file_lister();
// One frame of the panel: drawn on LISTER_UI_LAYER, the listing restarted when the
// directory, the flat view or the query changed, the list drawn marked as shown (the only
// one an action acts on). A press on a path segment lists that directory, on a row performs
// it, outside the panel closes the listers.

//~ search_lister_panel.cpp

void open_search_lister(u8* title, u64 title_count, u8* second_title, u64 second_title_count, u8 mode);
// Shows the search lister in a Search_Lister_Mode with its titles (cut to
// SEARCH_TITLE_CAPACITY at a character boundary), empties both prompts, gives the query
// prompt the keyboard and starts a search (an empty query finds nothing). Every mode but
// SEARCH_IN_FILES needs the current tab to be a file tab whose file has the keyboard;
// otherwise nothing happens at all. A file lister that was shown is closed first.

b8 search_lister_search();
// Stops and awaits the running search, then starts one in the lister's mode: in the
// current tab's file, or under editor_working_directory for SEARCH_IN_FILES. False when
// none could start (no file tab for a file mode, or the thread failed).

Lister_Panel_Layout get_search_lister_layout(u32 hit_count);

void draw_and_update_search_lister();
// One frame of the panel: the prompts, the search restarted when the query changed (once
// the stopped one has finished), one row per hit with its line and the hit bright. A press
// on a row performs it, outside the panel closes the listers.
