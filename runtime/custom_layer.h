// The one record of the loaded extension layer: its themes and settings, the lists that
// set_settings hands over, the loaded image, the watched sources, this frame's events and
// the two locks. Every view reads it, so it sits low: it needs only the foundation.
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

//~ Events handed to the #events block; compiled code reads them by this layout.

enum Custom_Layer_Event_Kind : u32 {
    LAYER_EVENT_CHARACTER  = 1,
    LAYER_EVENT_KEY_DOWN   = 2,
    LAYER_EVENT_KEY_UP     = 4,
    LAYER_EVENT_LEFT_PRESS = 8,
};

struct Custom_Layer_Event {
    u32 kind;       // Custom_Layer_Event_Kind
    u32 code;       // code point or key code; 0 for the mouse button
    u8 modifiers;   // 1 control, 2 alt, 4 shift
    u8 zero[3];
};
static_assert(sizeof(Custom_Layer_Event) == 12);

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
#define CUSTOM_LAYER_STRINGS_MEMORY                                                  \
    (align_up(sizeof(String_Store_Block) + TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE, \
              MEMORY_ALIGNMENT) +                                                     \
     sizeof(String_Store_Block) + BLACK_LIST_STRING_DATA_BUCKET_SIZE)

//~ The loaded image, as far as the record needs it

// Header fields that the views test before they enter a block.
#define LAYER_IMAGE_CPU_OFFSET    8
#define LAYER_IMAGE_FLAGS_OFFSET  100
#define LAYER_IMAGE_CPU_AMD64     1

enum Layer_Block_Flags : u8 {
    LAYER_HAS_EVENTS  = 1,
    LAYER_HAS_ON_LOAD = 2,
    LAYER_HAS_SYNTAX  = 4,
};

struct Custom_Layer_Mapping {
    u8* address;
    u32 kind;  // always 1
    u32 size;  // octets read from the image file
};

// The sources the file watcher polls: rows of `stride` octets, each {name pointer, name
// length, whole modification time in nanoseconds, size} as four u64 (Layer_Source_Entry).
// The runtime keeps them in memory of its own, also with no image loaded: those of the
// installed image, or those the last compile read or tried to.
struct Layer_Source_View {
    u8* entries;
    u32 stride;
    u32 count;
};

enum Display_Flags : u8 {
    DISPLAY_LINE_NUMBERS    = 1,
    DISPLAY_NO_MOUSE_IN_TEXT = 2,
    DISPLAY_ADOPT_SYNTAX    = 4,
};

#define CUSTOM_LAYER_DEFAULT_TAB_WIDTH 4

//~ The record

struct Custom_Layer {
    Ui_Theme ui_theme;
    Text_Theme text_theme;
    u64 search_size_limit;  // under lists_lock: search threads read it

    u8* image;  // the loaded image (its header first); null while none is loaded
    Custom_Layer_Mapping mapping;

    Dynamic_Array tokenisation_hints;  // Tokenisation_Hint, searched in order
    String_Store hint_text_store;
    // The three lists and their store are rebuilt by set_settings while search and listing
    // threads read them: read them under lists_lock, or copy them with
    // custom_layer_copy_lists_tmp.
    Dynamic_Array skipped_names;           // String
    Dynamic_Array blacklisted_extensions;  // String
    Dynamic_Array blacklisted_paths;       // String
    String_Store list_text_store;

    Layer_Source_View watched_sources;
    Custom_Layer_Event* events;  // this frame's, in the main thread's temporary memory
    s64 event_count;

    f32 font_size;     // thousandths of the monitor's height; at least MIN_FONT_SIZE once set
    u8 tab_width;      // blank widths a tab advances when text is drawn or measured
    u8 spare_setting;  // stored, nothing acts on it
    u8 display_flags;  // Display_Flags
    u8 recompile_request;

    // Lock order: sources_lock, execution_lock, tabs_read_lock, lists_lock, then the
    // general-purpose allocator's lock.
    u8 sources_lock;    // the watched sources, the recompile request, the events with #events
    u8 execution_lock;  // compiling, installing and running compiled code; the font rescale
    u8 lists_lock;      // the three lists, their store and search_size_limit
};

extern Custom_Layer custom_layer;

//~ custom_layer.cpp

void init_custom_layer();
// Zeroes the record, gives the arrays their element sizes, points the two stores at their
// first blocks in the static memory (taken on the first call; later calls reuse them),
// copies the default themes and sets the tab width to 4. Once at start-up, before the first
// compile. False is impossible: without its blocks a store maps one on first use.

b8 custom_layer_has_block(u8 block_flag);
// True when an image is loaded, it is AMD64 code and it has the block (Layer_Block_Flags).

String string_store_append(String_Store* store, String text);
// A copy of text in the store. A text longer than the block size gets a block of its own
// size. Empty texts take nothing. {null, 0} and an error in the log when no block can be
// mapped.

void string_store_reset(String_Store* store);
// Every block is emptied and the first made current; the copies handed out are dead.

struct Custom_Layer_Lists {
    String* skipped_names;
    u32 skipped_name_count;
    String* blacklisted_extensions;
    u32 blacklisted_extension_count;
    String* blacklisted_paths;
    u32 blacklisted_path_count;
    u64 search_size_limit;
};

b8 custom_layer_set_lists(String* skipped_names, s64 skipped_count, String* extensions, s64 extension_count,
                          String* paths, s64 path_count, u64 search_size_limit);
// Replaces the three lists (their texts copied into the list store) and the search size
// limit, all under lists_lock. Negative counts count as 0. False (logged) when memory ran
// out; the lists then hold what fitted.

b8 custom_layer_copy_lists_tmp(Custom_Layer_Lists* out);
// A copy of the lists and the size limit, texts included, in the calling thread's
// temporary memory, taken under lists_lock: what a search thread works from while
// set_settings may rebuild the originals. False (out emptied) when temporary memory is
// full.

//~ layer_guard.cpp: where the file view enters the layer

struct Editor_File;

b8 run_syntax_block(Editor_File* file);
// Runs the installed image's #syntax block on the file (whose visible range the view stored
// in it): under the execution lock, with custom_layer_execution_file set to the file. False,
// running nothing, without an image or without the block, and when the block was stopped
// (reported like a compile error, the layer unloaded). Main thread; the caller holds no
// layer lock.
