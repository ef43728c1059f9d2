// The shell's calls into the custom layer runtime.

#include "shell/layer_calls.h"
#include "runtime/layer_loader.h"

b8 load_custom_layer(u8 reuse) { return compile_custom_layer(reuse); }

void run_events_block(Custom_Layer_Event* events, u32 count) {
    if (count == 0) return;
    spin_lock(&custom_layer.sources_lock);
    spin_lock(&custom_layer.execution_lock);
    custom_layer.events = events;
    custom_layer.event_count = count;
    if (custom_layer_has_block(LAYER_HAS_EVENTS)) amd64_execute(get_events_block_entry_point(custom_layer.image), nullptr);
    // The list lives in this frame's temporary memory; nothing may read it later.
    custom_layer.events = nullptr;
    custom_layer.event_count = 0;
    spin_unlock(&custom_layer.execution_lock);
    spin_unlock(&custom_layer.sources_lock);
}
