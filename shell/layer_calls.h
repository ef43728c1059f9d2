// Where the shell calls into the custom layer runtime: the first load at start-up, the
// recompile the file watcher asks for, and the frame's #events block. Without a layer (none
// compiled yet, or the last one was stopped) the editor runs on its default themes and
// settings, and keys reach nothing.
#pragma once

#include "foundation/types.h"
#include "runtime/custom_layer.h"

//~ layer_calls.cpp

b8 load_custom_layer(u8 reuse);
// compile_custom_layer: with reuse 1 the image beside the executable is taken as it is when
// its sources did not change; with 0 the layer is always compiled. True when a new layer was
// installed and its #on_load block ran to its end. False after a report in compile_errors,
// with DISPLAY_COMPILE_ERRORS set: the previous layer, if any, stays installed. The caller
// holds neither of the layer's locks.

void run_events_block(Custom_Layer_Event* events, u32 count);
// Hands the frame's events to the layer and enters the installed image's #events block,
// under the sources lock and then the execution lock; the record's list is empty again
// afterwards. Nothing runs without events, without an image or without the block. The
// caller holds neither lock.
