// The custom layer record and where the views reach its #syntax block.

#include "runtime/custom_layer.h"

#include <string.h>

Custom_Layer custom_layer;

static b8 syntax_block_installed() { return custom_layer_has_block(LAYER_HAS_SYNTAX); }

void init_custom_layer() {
    memset(&custom_layer, 0, sizeof(custom_layer));
    custom_layer.mapping.kind = 1;
    init_editor_settings();
    syntax_block_hooks.installed = syntax_block_installed;
    syntax_block_hooks.run = run_syntax_block;
}

b8 custom_layer_has_block(u8 block_flag) {
    u8* image = custom_layer.image;
    return image && load_u32(image + LAYER_IMAGE_CPU_OFFSET) == LAYER_IMAGE_CPU_AMD64 &&
           (image[LAYER_IMAGE_FLAGS_OFFSET] & block_flag);
}
