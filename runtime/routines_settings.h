// The settings and appearance routines: how compiled layer code hands the editor its themes,
// fonts, tab text, tokenisation hints and name lists, and changes the font size and two
// display switches while it runs. Bodies of the dispatcher; main thread, execution lock held.
#pragma once

#include <stddef.h>

#include "foundation/types.h"
#include "foundation/strings.h"
#include "runtime/custom_layer.h"
#include "editor/tokenisation_hints.h"
#include "ui/fonts.h"

//~ Parameter blocks: compiled code lays them out, so every offset is a format

struct Layer_Settings {
    Ui_Theme ui_theme;
    Text_Theme text_theme;
    u8 not_read_0[4];
    String tab_text;           // empty keeps the current tab text
    f32 font_size;             // thousandths of the monitor's height
    u8 tab_width;              // 0 keeps the current width
    u8 spare;
    u8 display_flags;          // Display_Flags
    u8 not_read_1;
    u64 search_size_limit;
    String ui_font;            // "$ui_default", "$code_default" or a font file; empty keeps the pool
    String code_font;
    Layer_Tokenisation_Hint* hints;
    s64 hint_count;
    String* skipped_names;
    s64 skipped_name_count;
    String* blacklisted_extensions;
    s64 blacklisted_extension_count;
    String* blacklisted_paths;
    s64 blacklisted_path_count;
};
static_assert(offsetof(Layer_Settings, text_theme) == 148);
static_assert(offsetof(Layer_Settings, tab_text) == 248);
static_assert(offsetof(Layer_Settings, font_size) == 264);
static_assert(offsetof(Layer_Settings, tab_width) == 268);
static_assert(offsetof(Layer_Settings, spare) == 269);
static_assert(offsetof(Layer_Settings, display_flags) == 270);
static_assert(offsetof(Layer_Settings, search_size_limit) == 272);
static_assert(offsetof(Layer_Settings, ui_font) == 280);
static_assert(offsetof(Layer_Settings, code_font) == 296);
static_assert(offsetof(Layer_Settings, hints) == 312);
static_assert(offsetof(Layer_Settings, skipped_names) == 328);
static_assert(offsetof(Layer_Settings, blacklisted_extensions) == 344);
static_assert(offsetof(Layer_Settings, blacklisted_paths) == 360);
static_assert(sizeof(Layer_Settings) == 376);

struct Font_Size_Parameters {
    f32 size;  // get_font_size: result; set_font_size: argument
};
static_assert(sizeof(Font_Size_Parameters) == 4);

// A font size above this would make glyphs taller than the monitor.
#define MAX_FONT_SIZE FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT
// set_settings rescales only for a change larger than this.
#define FONT_SIZE_CHANGE_THRESHOLD 0.1f

#define SHIPPED_SYNTAX_FILE "syntax_latest.8"
#define SYNTAX_FILE         "syntax.8"

//~ routines_settings.cpp

void foreign_set_settings(u8* parameters);
// Takes a Layer_Settings block: the themes, tab width, spare byte and display flags into the
// layer record; with display bit 4, "syntax_latest.8" beside the executable renamed over
// "syntax.8"; the two text pools given their fonts and the font size applied (the fonts
// rescaled and the file tabs marked only when it moved by more than 0.1); the tab text; the
// tokenisation hints, rebuilt only when they differ; the three lists and the search size
// limit, replaced under the lists lock. Null arrays and negative counts count as empty.

void foreign_get_font_size(u8* parameters);   // writes the record's font size
void foreign_set_font_size(u8* parameters);
// Stores the size (kept within MIN_FONT_SIZE and MAX_FONT_SIZE), rescales the fonts and
// marks every file tab, whatever the size was before.

void foreign_toggle_focus_mode(u8* parameters);    // flips FOCUS_MODE of global_flags
void foreign_toggle_line_numbers(u8* parameters);  // flips DISPLAY_LINE_NUMBERS

f32 get_layer_font_pixel_size(f32 size);
// The pixel size of a font of that size on the primary monitor, or, with none, on a screen
// as high as the window's framebuffer; 0 when neither is known.
