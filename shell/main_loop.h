// The main loop: one iteration per frame while SHOULD_RUN is set, then shut-down. The
// loop owns the frame's outer steps (events, window changes, the font rescale on a monitor
// change, the renderer's and the UI's frame, vertical sync); everything inside a frame is
// draw_and_update_editor's.
#pragma once

#include "foundation/types.h"
#include "ui/vectors.h"
#include "ui/window.h"  // wake_main_loop

// Buffers are swapped without vertical sync this long after anyone asked for fast frames.
#define VSYNC_HOLD_MICROSECONDS 500000ull

// True when the frame starts more than VSYNC_HOLD_MICROSECONDS after the last request for
// fast frames. The difference is unsigned on purpose: a request made during the frame
// (later than its start) keeps vsync on for this frame and turns it off from the next.
inline b8 vsync_wanted(u64 frame_start, u64 last_request) {
    return frame_start - last_request > VSYNC_HOLD_MICROSECONDS;
}

//~ The frame, defined by the per-frame driver

void draw_and_update_editor(v2 position, v2 size);

//~ main_loop.cpp

extern u64 main_loop_time_stamp;  // microseconds; start-up takes it before the first frame
extern s32 remembered_video_mode_width;   // the primary monitor's mode at the last rescale
extern s32 remembered_video_mode_height;

void run_main_loop();
// Runs frames until SHOULD_RUN is cleared; the frame in which it is cleared is drawn to
// its end. Needs the window, the renderer and the UI set up.

void run_main_loop_iteration();
// One frame: waits for events unless the UI asked for another frame at once.


b8 install_stop_signal_handlers();
// SIGTERM, SIGHUP and SIGINT then ask for the shut-down that closing the window asks for
// (the frame then running is drawn to its end); a second one ends the process at once by
// its default action. False (logged) when the pipe or the thread that wakes the loop could
// not be made: the signals keep their default action then.

b8 stop_signal_received();

void rescale_fonts_for_video_mode(s32 height);
// Under the custom layer's execution lock: the fonts at the layer's font size (at least
// MIN_FONT_SIZE) for a monitor this many pixels high, every file tab asked to centre its
// cursor, and the clamped size written back.

void shut_down();
// After the loop: kills the commands of terminal tabs, destroys the window, writes the log
// file, cleans up libcurl (unless a transfer thread still runs) and GLFW, and gives back
// the thread's temporary memory. Open files are neither saved nor asked about; other
// threads are not waited for.

