// The drawing and UI toolkit: window input and its event queue, the asset archive, fonts
// and the glyph cache, text iteration and measurement, the instanced-quad renderer, and the
// immediate-mode widgets with the UI state they share.
#pragma once

#include "ui/vectors.h"
#include "ui/window.h"
#include "ui/asset_archive.h"
#include "ui/gl_functions.h"
#include "ui/fonts.h"
#include "ui/text.h"
#include "ui/renderer.h"
#include "ui/ui_state.h"
#include "ui/widgets.h"
