// The small value records every part of the interface passes around: positions and sizes
// in pixels, rectangles, and linear colours (the renderer turns them into sRGB).
#pragma once

#include <math.h>

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

// How bright a colour looks, 0 to 1; views pick black or white text against a background
// by it.
inline f32 rgba_brightness(Rgba c) { return sqrtf(0.299f * c.r * c.r + 0.587f * c.g * c.g + 0.114f * c.b * c.b); }
