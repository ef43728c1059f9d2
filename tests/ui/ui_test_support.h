// What the UI tests share: the foundation set up once per process, and the fonts of Debian's
// fonts-dejavu-core standing in for the archive's UI_FONT and CODE_FONT.
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

// Fonts from the files above; the UI and code pools get the ranges ui_init gives them, the
// icon pool the first 128 code points of the UI font.
void set_up_test_fonts(u32 pixel_size);

inline u32 as_u32(const char* s) { return (u32)(u8)s[0]; }
