// What the UI tests share: the foundation and the built asset archive set up once per
// process, the built-in fonts from it, and font files of Debian's fonts-dejavu-core.
#pragma once

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "foundation/unicode.h"
#include "ui/ui.h"

#define DEJAVU_SANS_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#define DEJAVU_SANS_MONO_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"

// The octets of a file, kept for the life of the process (fonts point into them).
std::vector<u8>& read_test_file(const std::string& path);

// The archive's UI_FONT, CODE_FONT and ICONS in the three pools, with the ranges ui_init
// gives them.
void set_up_test_fonts(u32 pixel_size);

inline u32 as_u32(const char* s) { return (u32)(u8)s[0]; }
