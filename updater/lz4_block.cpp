// LZ4 block compression (the block format, no frame) for update data of format 1. LZ4
// counts in ints, so sizes are checked against its limits before every call.

#include <lz4.h>

#include "updater/updater.h"

b8 lz4_compress_block(const u8* input, u32 size, Gp_Allocation* state, Gp_Allocation* output, u32* stored_size) {
    *stored_size = 0;
    if (size > LZ4_MAX_INPUT_SIZE) return false;
    if (!state->size && !gp_allocate(state, (u64)LZ4_sizeofState())) return false;
    u64 bound = (u64)LZ4_compressBound((int)size);
    if (output->size < bound) {
        gp_free(output);
        if (!gp_allocate(output, bound)) return false;
    }
    int result = LZ4_compress_fast_extState(state->memory, (const char*)input, (char*)output->memory, (int)size,
                                            (int)bound, 1);
    if (result <= 0) return false;
    *stored_size = (u32)result;
    return true;
}

b8 lz4_decompress_block(const u8* block, u32 block_size, u8* output, u32 uncompressed_size) {
    if (block_size > LZ4_MAX_INPUT_SIZE || uncompressed_size > LZ4_MAX_INPUT_SIZE) return false;
    int result = LZ4_decompress_safe((const char*)block, (char*)output, (int)block_size, (int)uncompressed_size);
    return result >= 0 && (u32)result == uncompressed_size;
}
