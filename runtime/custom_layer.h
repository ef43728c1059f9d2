// The record of the loaded extension layer: the loaded image, the watched sources, this
// frame's events and the two locks. Its settings and themes are in editor/editor_settings.h.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "editor/editor_settings.h"

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

//~ The record

struct Custom_Layer {
    u8* image;  // the loaded image (its header first); null while none is loaded
    Custom_Layer_Mapping mapping;

    Layer_Source_View watched_sources;
    Custom_Layer_Event* events;  // this frame's, in the main thread's temporary memory
    s64 event_count;

    u8 recompile_request;

    // Lock order: sources_lock, execution_lock, tabs_read_lock, editor_settings.lists_lock,
    // then the general-purpose allocator's lock.
    u8 sources_lock;    // the watched sources, the recompile request, the events with #events
    u8 execution_lock;  // compiling, installing and running compiled code; the font rescale
};

extern Custom_Layer custom_layer;

//~ custom_layer.cpp

void init_custom_layer();
// Zeroes the record and starts the layer's settings over (init_editor_settings), and lets the
// views reach the #syntax block (syntax_block_hooks). Once at start-up, before the first
// compile.

b8 custom_layer_has_block(u8 block_flag);
// True when an image is loaded, it is AMD64 code and it has the block (Layer_Block_Flags).

//~ layer_guard.cpp: where the file view enters the layer

struct Editor_File;

b8 run_syntax_block(Editor_File* file);
// Runs the installed image's #syntax block on the file (whose visible range the view stored
// in it): under the execution lock, with custom_layer_execution_file set to the file. False,
// running nothing, without an image or without the block, and when the block was stopped
// (reported like a compile error, the layer unloaded). Main thread; the caller holds no
// layer lock.
