// The small value records every part of the interface passes around: positions and sizes
// in pixels, rectangles, and linear colours (the renderer turns them into sRGB).
#pragma once

#include "foundation/types.h"

struct v2 {
    f32 x, y;
};

struct v4 {
    f32 x, y, z, w;
};

struct Rgba {
    f32 r, g, b, a;
};

static_assert(sizeof(v2) == 8);
static_assert(sizeof(v4) == 16);
static_assert(sizeof(Rgba) == 16);
