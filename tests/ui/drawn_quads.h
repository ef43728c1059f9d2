// For tests that run views without a window: a frame started with the mouse where wanted
// and only the given button events queued, and the quads it appended read back in window
// pixels with y downwards, as the views place them.
#pragma once

#include <math.h>

#include <vector>

#include "ui/ui.h"

struct Drawn_Quad {
    f32 left, top, width, height;
    Rgba colour;
    bool glyph;
    f32 clip_left;  // the scissor rectangle's left edge
    f32 centre_y() const { return top + height / 2; }
};

inline bool same_colour(Rgba a, Rgba b) {
    return fabsf(a.r - b.r) < 1e-4f && fabsf(a.g - b.g) < 1e-4f && fabsf(a.b - b.b) < 1e-4f && fabsf(a.a - b.a) < 1e-4f;
}

inline void begin_window_less_frame(v2 mouse, const std::vector<u32>& buttons) {
    window.event_count = 0;
    for (u32 b : buttons) window_push_input_event(&window, WINDOW_EVENT_MOUSE_BUTTON, b, 0);
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    ui_begin_frame_with_mouse(mouse);
}

inline std::vector<Drawn_Quad> read_drawn_quads() {
    std::vector<Drawn_Quad> quads;
    Quad_Instance* q = (Quad_Instance*)renderer_quad_instances.data;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Drawn_Quad d;
        d.left = q[i].position.x - q[i].scale.x;
        d.top = (f32)renderer_info.height - (q[i].position.y + q[i].scale.y);
        d.width = 2 * q[i].scale.x;
        d.height = 2 * q[i].scale.y;
        d.colour = q[i].colour;
        d.glyph = q[i].flags & QUAD_INSTANCE_GLYPH;
        d.clip_left = q[i].scissors.x;
        quads.push_back(d);
    }
    return quads;
}
