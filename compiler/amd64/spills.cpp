// Saving and restoring whole register sets: around a foreign call, and in the frames of
// entry blocks and sub-programs. XMM registers are saved whole (256 bits), since the
// editor's code may keep YMM values across a call into the layer.
#include "compiler/amd64/amd64.h"

Amd64_Spill_Sets amd64_spill_sets(u8 flags, u8 target_os, u16 gp, u16 xmm) {
    Amd64_Spill_Sets s = {};
    // macOS passes what is live around a call as it is, like a frame.
    if ((flags & AMD64_SPILL_AROUND_A_CALL) && target_os != TARGET_OS_MACOS) {
        if (target_os == TARGET_OS_LINUX) {
            s.gp = (u16)((gp & 0x0FFF) | 0x00C6);  // RCX, RDX, RSI, RDI always; R12 to R15 never
            s.xmm = (u16)(xmm | 0xFFFA);           // every XMM register but XMM0 and XMM2 unless live
        } else if (target_os == TARGET_OS_WINDOWS) {
            s.gp = (u16)((gp & 0x0FFF) | 0x0F00);
            s.xmm = (u16)((xmm & 0x003F) | 0x003C);
        } else {
            s.gp = gp;
            s.xmm = xmm;
        }
    } else if (flags & AMD64_SPILL_CALLEE_SAVED) {
        if (target_os == TARGET_OS_WINDOWS) {
            s.gp = (u16)((gp & 0xF037) | 0x00C8);
            s.xmm = (u16)(xmm & 0xFFC0);
        }
    } else if (flags & AMD64_SPILL_EVERYTHING) {
        s.gp = 0xFFEF;  // all but RSP
        s.xmm = 0xFFFF;
    } else {
        s.gp = (u16)(gp | 0x00E0);  // RBP, RSI and RDI always
        s.xmm = xmm;
    }
    u32 unrounded = 32 * (u32)__builtin_popcount(s.xmm) + 8 * (u32)__builtin_popcount(s.gp);
    s.size = (u32)align_up(unrounded, 16);
    return s;
}

static b8 move_rsp(Dynamic_Array* code, u8 modrm, u32 size, Amd64_Prologue* prologue) {
    Amd64_Prologue_Entry* entry = 0;
    if (prologue && !(entry = amd64_prologue_reserve_stack(prologue, size))) return false;
    u8 bytes[7] = {0x48, 0x81, modrm, 0, 0, 0, 0};  // sub or add rsp, imm32
    store_u32(bytes + 3, size);
    if (!amd64_emit(code, bytes, 7)) return false;
    if (entry) entry->code_offset = code->count;
    return true;
}

static b8 save_or_restore(b8 save, b8 is_xmm, u8 reg, u32 offset, Dynamic_Array* code, Amd64_Prologue* prologue) {
    Amd64_Prologue_Entry* entry = 0;
    if (save && prologue) {
        entry = is_xmm ? amd64_prologue_spill_xmm(prologue, reg, offset) : amd64_prologue_spill_gp(prologue, reg, offset);
        if (!entry) return false;
    }
    Amd64_Memory_Operand slot = amd64_make_memory_operand_from(AMD64_RSP, offset);
    b8 ok;
    if (is_xmm) {
        ok = amd64_emit_vex_reg_rm(code, 0, 0xE1, 0x7E, save ? 0x7F : 0x6F, amd64_xmm_register(reg), slot, 0);  // vmovdqu
    } else {
        ok = amd64_emit_reg_rm(code, 0, 0, AMD64_REX_W, save ? 0x89 : 0x8B, amd64_gp_register(reg), slot, 0);
    }
    if (!ok) return false;
    if (entry) entry->code_offset = code->count;
    return true;
}

b8 amd64_big_spill_on(u8 target_os, b8 save, u8 flags, Dynamic_Array* code, u16 gp, u16 xmm, u16 gp_leave_out,
                      u16 xmm_leave_out, Amd64_Prologue* prologue, u32* amount) {
    Amd64_Spill_Sets s = amd64_spill_sets(flags, target_os, gp, xmm);
    b8 moves_rsp = s.size != 0 && !(flags & AMD64_SPILL_KEEP_RSP);
    if (amount) *amount = moves_rsp ? s.size : 0;
    if (!s.size) return true;
    u32 xmm_count = (u32)__builtin_popcount(s.xmm);

    if (save) {
        if (moves_rsp && !move_rsp(code, 0xEC, s.size, prologue)) return false;
        u32 offset = 0;
        for (u8 r = 0; r < 16; r++) {
            if (!(s.xmm & (1u << r))) continue;
            if (!(xmm_leave_out & (1u << r)) && !save_or_restore(true, true, r, offset, code, prologue)) return false;
            offset += 32;
        }
        for (u8 r = 0; r < 16; r++) {
            if (!(s.gp & (1u << r))) continue;
            if (!(gp_leave_out & (1u << r)) && !save_or_restore(true, false, r, offset, code, prologue)) return false;
            offset += 8;
        }
        return true;
    }

    u32 offset = 32 * xmm_count + 8 * (u32)__builtin_popcount(s.gp);
    for (s32 r = 15; r >= 0; r--) {
        if (!(s.gp & (1u << r))) continue;
        offset -= 8;
        if (!(gp_leave_out & (1u << r)) && !save_or_restore(false, false, (u8)r, offset, code, 0)) return false;
    }
    for (s32 r = 15; r >= 0; r--) {
        if (!(s.xmm & (1u << r))) continue;
        offset -= 32;
        if (!(xmm_leave_out & (1u << r)) && !save_or_restore(false, true, (u8)r, offset, code, 0)) return false;
    }
    return !moves_rsp || move_rsp(code, 0xC4, s.size, 0);
}

b8 amd64_big_spill(b8 save, u8 flags, Dynamic_Array* code, u16 gp, u16 xmm, u16 gp_leave_out, u16 xmm_leave_out,
                   Amd64_Prologue* prologue, u32* amount) {
    return amd64_big_spill_on(global_compiler_state.target_os, save, flags, code, gp, xmm, gp_leave_out, xmm_leave_out,
                              prologue, amount);
}
