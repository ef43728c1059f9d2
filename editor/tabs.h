// The tab list: an open file, a terminal, the report of a failed layer compile or an update
// download each live in one tab. The main thread makes every change to the list, under
// tabs_read_lock; the file watcher, the update download and the search threads read it
// under the same lock, and find "their" tab by its id because records move. The shell makes
// the changes (shell/tabs.h); the subsystems that read the list find it here.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor_file.h"

struct Terminal;

//~ Records

// One bit each, tested by equality.
enum Tab_Kind : u8 {
    TAB_FILE           = 1,
    TAB_TERMINAL       = 2,
    TAB_COMPILE_ERRORS = 4,
    TAB_UPDATE         = 8,
};

// The tab bar draws the highlight sliding in from or out to one side.
enum Tab_Slide : u8 {
    SLIDE_NONE          = 0,
    SLIDE_IN_FROM_LEFT  = 1,
    SLIDE_IN_FROM_RIGHT = 2,
    SLIDE_OUT_TO_LEFT   = 3,
    SLIDE_OUT_TO_RIGHT  = 4,
};

enum Download_State : u8 {
    DOWNLOAD_RUNNING = 0,
    DOWNLOAD_FAILED  = 1,
    DOWNLOAD_DONE    = 2,  // the updater was started; the editor ends
};

#define TAB_TITLE_CAPACITY 512
#define COMPILE_ERRORS_TAB_TITLE "Compile errors"

struct Tab {
    String title;       // points at title_buffer; point it there again after the record moved
    u32 position;       // the index in tabs, rewritten after every insertion or removal
    u32 id;             // never reused
    u64 time_made_current;  // monotonic microseconds
    u64 time_left;          // 0 if never left
    f32 drag_grab_offset;   // mouse x minus the tab's left edge when the drag began
    u32 drag_slot;          // where the tab is shown while some tab is dragged
    f32 slide_clock;        // 0 to 1
    u8 kind;                // Tab_Kind
    u8 slide;               // Tab_Slide
    u8 hovered;             // the mouse was over the tab in the previous frame
    u8 dragged;
    union {
        void* target;
        Editor_File* file;       // TAB_FILE
        Terminal* terminal;      // TAB_TERMINAL
        u64 last_copy_time;      // TAB_COMPILE_ERRORS: microseconds of the last copy
        u64 download_total;      // TAB_UPDATE, written by the download thread under the lock
    };
    union {
        void* input_line_slot;
        Editor_File* input_line;  // TAB_TERMINAL: the one-line input
        f32 list_scroll;          // TAB_COMPILE_ERRORS
        struct {                  // TAB_UPDATE, written by the download thread under the lock
            f32 download_progress;
            u8 download_state;    // Download_State
        };
    };
    u8 title_buffer[TAB_TITLE_CAPACITY];
};

//~ The list

extern Dynamic_Array tabs;  // of Tab, in display order; guarded by tabs_read_lock (editor_file.h)

extern u32 current_tab_index;      // no tab is current when it is not below the count
extern u32 tmp_current_tab_index;  // the current index when editor commands are queued
extern u32 next_tab_id;
extern u64 last_time_we_switched_tabs;  // monotonic microseconds

//~ tabs.cpp

void init_tabs();
// An empty list, no tab current, ids from 0. Start-up calls it once; tests call it to
// start over (the records of the old list are forgotten, not closed).

void renumber_tabs();
// Records moved: each title points into its own record again and knows its index. Under
// tabs_read_lock.

void mark_every_file_tab(u16 flags);
// ORs flags into the Editor_File of every file tab, under tabs_read_lock.

Tab* get_current_tab();    // null when no tab is current
Tab* get_tab_by_id(u32 id);  // null when gone; other threads hold tabs_read_lock meanwhile
Tab* get_tab(u32 index);     // null past the end
