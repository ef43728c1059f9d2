// Where the shell calls into the custom layer runtime: the first load at start-up, the
// recompile the file watcher asks for, and the frame's #events block. The runtime's
// compiler and loader are not part of the editor yet, so no image is ever installed: the
// editor runs on the default themes and settings, and keys reach nothing.
#pragma once

#include "foundation/types.h"

//~ layer_calls.cpp

b8 load_custom_layer(u8 reuse);
// With reuse 1 the image beside the executable may be taken as it is; with 0 the layer is
// always compiled. True when an image was installed (and its #on_load block ran). False
// while there is no loader; the previous image, if any, stays installed.

void run_events_block();
// Enters the installed image's #events block. The caller holds the sources lock and then
// the execution lock, and has checked that the image has the block.
