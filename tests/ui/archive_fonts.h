// For tests of views outside the UI folder: the three built-in fonts read from the
// quarn.data built beside the test program, and the element store, once per process.
#pragma once

#include "foundation/os_files.h"
#include "ui/ui.h"

// False when the archive or a font could not be read.
inline bool set_up_archive_fonts(u32 pixel_size) {
    static bool done = false, good = false;
    if (done) return good;
    done = true;
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    good = init_executable_filepath() && init_assets(executable_filepath) &&
           init_font_from_executable(&ui_latin_font, (u8*)"UI_FONT", 7) &&
           init_font_from_executable(&code_latin_font, (u8*)"CODE_FONT", 9) &&
           init_font_from_executable(&icons_font, (u8*)"ICONS", 5);
    if (!good) return false;
    ui_init_font_pools(pixel_size);
    init_ui_elements();
    return true;
}
