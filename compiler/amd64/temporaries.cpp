// The temporaries of one instruction: six general-purpose registers and two XMM
// registers that no value lives in across instructions, taken by a scan of the mask.
// Running out is an internal error: reusing a taken register would silently clobber it.
#include <stdarg.h>

#include "compiler/amd64/amd64.h"
#include "foundation/strings.h"

void amd64_fail(Amd64_Temporary_Mask* mask, const char* format, ...) {
    if (amd64_failed(mask)) return;
    va_list args;
    va_start(args, format);
    format_into_buffer_v((u8*)mask->failure, sizeof(mask->failure), format, args);
    va_end(args);
    if (!mask->failure[0]) mask->failure[0] = '?';
}

void amd64_clear_temporary_mask(Amd64_Temporary_Mask* mask) {
    mask->gp = 0;
    mask->xmm = 0;
    mask->return_register_allowed = false;
    mask->failure[0] = 0;
}

static u8 take_in_order(Amd64_Temporary_Mask* mask, const u8* order) {
    for (u32 i = 0; i < 6; i++) {
        if (!(mask->gp & (1u << order[i]))) {
            mask->gp |= (u16)(1u << order[i]);
            return order[i];
        }
    }
    amd64_fail(mask, "out of temporary registers");
    return AMD64_RAX;
}

u8 amd64_take_tmp_gp_register(Amd64_Temporary_Mask* mask) {
    static const u8 forward[6] = {AMD64_RAX, AMD64_RCX, AMD64_RDX, AMD64_RBX, AMD64_RSI, AMD64_RDI};
    return take_in_order(mask, forward);
}

u8 amd64_take_tmp_gp_register_backward(Amd64_Temporary_Mask* mask) {
    static const u8 backward[6] = {AMD64_RDI, AMD64_RSI, AMD64_RBX, AMD64_RDX, AMD64_RCX, AMD64_RAX};
    return take_in_order(mask, backward);
}

u8 amd64_take_tmp_sse_register(Amd64_Temporary_Mask* mask) {
    for (u8 x = 0; x < 2; x++) {
        if (!(mask->xmm & (1u << x))) {
            mask->xmm |= (u16)(1u << x);
            return x;
        }
    }
    amd64_fail(mask, "out of temporary registers");
    return 0;
}

void amd64_defer_free_tmp_gp_register(Amd64_Temporary_Mask* mask, u8 reg) {
    if ((reg & 0xFE) == 4 || reg > 7) return;
    mask->gp &= (u16)~(1u << reg);
}

void amd64_defer_free_tmp_sse_register(Amd64_Temporary_Mask* mask, u8 reg) {
    if (reg > 7) return;
    mask->xmm &= (u16)~(1u << reg);
}
