// The shell's calls into the custom layer runtime, while the editor has no loader.

#include "shell/layer_calls.h"
#include "foundation/foundation.h"

b8 load_custom_layer(u8 reuse) {
    if (reuse) add_log(nullptr, LOG_INFO, "No custom layer is loaded: the editor runs on its defaults and keys do nothing.");
    return false;
}

// Nothing installs an image yet, so no caller ever finds a block to enter.
void run_events_block() {}
