// The shared state words: the flag word every thread may change, which input has the
// keyboard, and the working directory. The shell changes most of them and several
// subsystems read them, so they sit in the lowest of those.
#pragma once

#include "foundation/types.h"
#include "editor/filepath.h"

// Bits of global_flags, changed only with atomic_or_u64 and atomic_and_u64: the update and
// watcher threads change the same word.
enum Global_Flags : u64 {
    SHOULD_RUN             = 0x01,  // the main loop runs while it is set
    FOCUS_MODE             = 0x02,  // only the current tab's contents are drawn
    MODIFYING_FILE_NAME    = 0x04,
    SHOW_FILE_LISTER       = 0x08,
    SHOW_SEARCH_LISTER     = 0x10,
    DISPLAY_COMPILE_ERRORS = 0x20,  // a failed compile asks for the compile-errors tab
    UPDATE_IS_AVAILABLE    = 0x40,  // the "Update" button shows
};

extern u64 global_flags;  // SHOULD_RUN at start

// Which input has the keyboard.
enum Editor_Context : u8 {
    CONTEXT_FILE          = 1,
    CONTEXT_SEARCH_LISTER = 2,
    CONTEXT_FILE_LISTER   = 4,
    CONTEXT_TERMINAL      = 8,
    CONTEXT_LISTER        = CONTEXT_SEARCH_LISTER | CONTEXT_FILE_LISTER,
};

extern u8 global_editor_context;  // CONTEXT_FILE at start

extern Filepath editor_working_directory;  // the current tab's directory; the root of searches
