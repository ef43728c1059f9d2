// The settings and themes the editor works with, which the layer's set_settings fills: the
// colours, the font size, the tab width, the display flags, the tokenisation hints and the
// lists searches skip. The views, the terminal and the listers read them, so they sit with
// the lowest of those readers. The compiled layer itself (its image, events and locks) is the
// runtime's.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "ui/vectors.h"

//~ Themes: the first 148 and the next 96 octets of the layer's settings block, so their
// layout is a format shared with compiled code: Rgba is r, g, b, a as f32, no gaps.

#define UI_THEME_COLOUR_COUNT   9
#define TEXT_THEME_COLOUR_COUNT 6

struct Ui_Theme {
    Rgba colours[UI_THEME_COLOUR_COUNT];
    f32 scroll_bar_size;  // fraction of ui_screen_resolution
};
static_assert(sizeof(Ui_Theme) == 148);

struct Text_Theme {
    Rgba colours[TEXT_THEME_COLOUR_COUNT];
};
static_assert(sizeof(Text_Theme) == 96);

extern const Ui_Theme default_ui_theme;
extern const Text_Theme default_text_theme;

//~ String stores: texts copied into chained blocks that are reset, never returned

#define TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE 10256
#define BLACK_LIST_STRING_DATA_BUCKET_SIZE         262160

struct String_Store_Block {
    String_Store_Block* next;
    u32 used;
    u32 size;  // octets of text after this header
};
static_assert(sizeof(String_Store_Block) == 16);

struct String_Store {
    String_Store_Block* first;
    String_Store_Block* current;
    u32 block_size;
};

// The first block of each store comes from the static memory.
#define EDITOR_SETTINGS_STRINGS_MEMORY                                                  \
    (align_up(sizeof(String_Store_Block) + TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE, \
              MEMORY_ALIGNMENT) +                                                     \
     sizeof(String_Store_Block) + BLACK_LIST_STRING_DATA_BUCKET_SIZE)

enum Display_Flags : u8 {
    DISPLAY_LINE_NUMBERS    = 1,
    DISPLAY_NO_MOUSE_IN_TEXT = 2,
    DISPLAY_ADOPT_SYNTAX    = 4,
};

#define CUSTOM_LAYER_DEFAULT_TAB_WIDTH 4

//~ The record

struct Editor_Settings {
    Ui_Theme ui_theme;
    Text_Theme text_theme;
    u64 search_size_limit;  // under lists_lock: search threads read it

    Dynamic_Array tokenisation_hints;  // Tokenisation_Hint, searched in order
    String_Store hint_text_store;
    // The three lists and their store are rebuilt by set_settings while search and listing
    // threads read them: read them under lists_lock, or copy them with
    // editor_settings_copy_lists_tmp.
    Dynamic_Array skipped_names;           // String
    Dynamic_Array blacklisted_extensions;  // String
    Dynamic_Array blacklisted_paths;       // String
    String_Store list_text_store;

    f32 font_size;     // thousandths of the monitor's height; at least MIN_FONT_SIZE once set
    u8 tab_width;      // blank widths a tab advances when text is drawn or measured
    u8 spare_setting;  // stored, nothing acts on it
    u8 display_flags;  // Display_Flags

    u8 lists_lock;  // the three lists, their store and search_size_limit; taken after tabs_read_lock
};

extern Editor_Settings editor_settings;

//~ The layer's #syntax block, run by the runtime above: it fills these when it starts. While
// they are null no block is installed.

struct Editor_File;

struct Syntax_Block_Hooks {
    b8 (*installed)();             // an AMD64 image with a #syntax block is loaded
    b8 (*run)(Editor_File* file);  // run_syntax_block (runtime/custom_layer.h)
};

extern Syntax_Block_Hooks syntax_block_hooks;

b8 layer_has_syntax_block();
b8 run_layer_syntax_block(Editor_File* file);  // false, running nothing, without the hooks

//~ editor_settings.cpp

void init_editor_settings();
// Zeroes the record, gives the arrays their element sizes, points the two stores at their
// first blocks in the static memory (taken on the first call; later calls reuse them),
// copies the default themes and sets the tab width to 4. The hooks are left as they are.
// False is impossible: without its blocks a store maps one on first use.

String string_store_append(String_Store* store, String text);
// A copy of text in the store. A text longer than the block size gets a block of its own
// size. Empty texts take nothing. {null, 0} and an error in the log when no block can be
// mapped.

void string_store_reset(String_Store* store);
// Every block is emptied and the first made current; the copies handed out are dead.

struct Editor_Settings_Lists {
    String* skipped_names;
    u32 skipped_name_count;
    String* blacklisted_extensions;
    u32 blacklisted_extension_count;
    String* blacklisted_paths;
    u32 blacklisted_path_count;
    u64 search_size_limit;
};

b8 editor_settings_set_lists(String* skipped_names, s64 skipped_count, String* extensions, s64 extension_count,
                          String* paths, s64 path_count, u64 search_size_limit);
// Replaces the three lists (their texts copied into the list store) and the search size
// limit, all under lists_lock. Negative counts count as 0. False (logged) when memory ran
// out; the lists then hold what fitted.

b8 editor_settings_copy_lists_tmp(Editor_Settings_Lists* out);
// A copy of the lists and the size limit, texts included, in the calling thread's
// temporary memory, taken under lists_lock: what a search thread works from while
// set_settings may rebuild the originals. False (out emptied) when temporary memory is
// full.

