// The drawing and UI toolkit: window input and its event queue, the asset archive, fonts
// and the glyph cache, text iteration and measurement, and the instanced-quad renderer.
#pragma once

#include "ui/vectors.h"
#include "ui/window.h"
#include "ui/asset_archive.h"
#include "ui/gl_functions.h"
#include "ui/fonts.h"
#include "ui/text.h"
#include "ui/renderer.h"
