// The control-flow kinds: jumps, "debug break", embedded machine code, the frames of entry
// blocks and sub-programs, calls between compiled sub-programs and foreign calls into the
// editor, and "return". Displacements of jumps and calls are written after the whole pass.
#include "compiler/amd64/amd64.h"

static Amd64_Memory_Operand gp(u8 n) { return amd64_gp_register(n); }

//~ Jumps

// A jump instruction with its rel32 left 0 and a fix-up aimed at the instruction's target.
static void jump_with_fix_up(Amd64_Translation* t, const u8* opcode, u8 opcode_length) {
    u8 bytes[6] = {};
    for (u8 i = 0; i < opcode_length; i++) bytes[i] = opcode[i];
    amd64_fail_unless(add_a_jump_relocation(t->jumps, t->instruction, t->code, opcode_length) &&
                          amd64_emit(t->code, bytes, (u32)opcode_length + 4),
                      t->mask);
}

void amd64_jump(Amd64_Translation* t) {
    Bytecode_Jump* k = &t->instruction->jump;
    u8 kind = t->instruction->kind;
    if (kind == BYTECODE_JUMP) {
        static const u8 jmp[1] = {0xE9};
        jump_with_fix_up(t, jmp, 1);
        return;
    }
    struct Condition {
        u8 signed_code;
        u8 unsigned_code;
    };
    // By kind from 42: eq, ne, lt, le, gt, ge, nz, ze. Float compares set the flags of an
    // unsigned one.
    static const Condition conditions[8] = {{0x84, 0x84}, {0x85, 0x85}, {0x8C, 0x82}, {0x8E, 0x86},
                                            {0x8F, 0x87}, {0x8D, 0x83}, {0x85, 0x85}, {0x84, 0x84}};
    const Condition& c = conditions[kind - BYTECODE_JUMP_EQUAL];
    u8 jcc[2] = {0x0F, (k->compared_unsigned || k->compared_float) ? c.unsigned_code : c.signed_code};
    if (k->compared_float) {
        // A NaN compares unordered (ZF, PF and CF set). The front end's jumps are taken when
        // their comparison fails, and every comparison but "!=" fails with a NaN: so a NaN
        // takes every jump but "equal", which the parity flag steps over.
        static const u8 jp[2] = {0x0F, 0x8A};
        static const u8 jp_over_a_jcc[2] = {0x7A, 0x06};
        if (jcc[1] == 0x84) {
            amd64_fail_unless(amd64_emit(t->code, jp_over_a_jcc, 2), t->mask);
        } else if (jcc[1] != 0x82 && jcc[1] != 0x86) {  // below and below-or-equal take it already
            jump_with_fix_up(t, jp, 2);
        }
    }
    jump_with_fix_up(t, jcc, 2);
}

//~ Fixed code

void amd64_debug_break(Amd64_Translation* t) {
    static const u8 int3[1] = {0xCC};
    amd64_fail_unless(amd64_emit(t->code, int3, 1), t->mask);
}

void amd64_embed_machine_code(Amd64_Translation* t) {
    Bytecode_Machine_Code* k = &t->instruction->machine_code;
    if (k->count < 0 || (k->count && !k->code)) {
        amd64_fail(t->mask, "machine code of %d octets", k->count);
        return;
    }
    if (k->count) amd64_fail_unless(amd64_emit(t->code, k->code, (u32)k->count), t->mask);
}

void amd64_copy_arguments_address(Amd64_Translation* t) {
    static const u8 mov_rbp_rax[3] = {0x48, 0x8B, 0xE8};
    amd64_fail_unless(amd64_emit(t->code, mov_rbp_rax, 3), t->mask);
}

void amd64_return(Amd64_Translation* t) {
    static const u8 ret[1] = {0xC3};
    amd64_fail_unless(amd64_emit(t->code, ret, 1), t->mask);
}

//~ Frames

b8 amd64_frame_of(Scope* scope, Amd64_Frame* frame, Amd64_Temporary_Mask* mask) {
    *frame = {};
    if (!scope) {
        amd64_fail(mask, "a frame without its scope");
        return false;
    }
    b8 entry_block = (scope->flags & SCOPE_ENTRY_BLOCK) != 0;
    frame->spill_flags = (u8)(AMD64_SPILL_KEEP_RSP | (entry_block ? AMD64_SPILL_EVERYTHING : 0));
    Amd64_Spill_Sets sets = amd64_spill_sets(frame->spill_flags, global_compiler_state.target_os,
                                             scope->integer_registers_used, scope->float_registers_used);
    frame->saves = 32 * (u32)__builtin_popcount(sets.xmm) + 8 * (u32)__builtin_popcount(sets.gp);
    if (scope->stack_size < frame->saves) {
        amd64_fail(mask, "a stack of %llu octets for %u octets of register saves", (unsigned long long)scope->stack_size,
                   frame->saves);
        return false;
    }
    // Inside every body RSP = 8 (mod 16), so that a foreign call's sequence calls the editor
    // on an aligned stack. The editor's call enters an entry block with RSP = 8, a body's
    // call enters a sub-program with RSP = 0. The padding lies above everything the frame
    // holds, so no offset moves.
    u64 wanted = entry_block ? 0 : 8;
    u64 reservation = scope->stack_size + ((wanted - scope->stack_size) & 15);
    if (reservation > 0x7FFFFFFF) {
        amd64_fail(mask, "a stack of %llu octets", (unsigned long long)scope->stack_size);
        return false;
    }
    frame->reservation = (u32)reservation;
    return true;
}

// sub or add rsp, imm32
static b8 move_stack_pointer(Dynamic_Array* code, u8 modrm, u32 amount) {
    u8 bytes[7] = {0x48, 0x81, modrm};
    store_u32(bytes + 3, amount);
    return amd64_emit(code, bytes, 7);
}

void amd64_push_stack_frame(Amd64_Translation* t) {
    Scope* scope = t->instruction->frame.scope;
    Amd64_Frame frame;
    if (!amd64_frame_of(scope, &frame, t->mask)) return;
    Amd64_Prologue* prologue = (Amd64_Prologue*)dynamic_array_add_fast(t->prologues);
    if (!prologue) {
        amd64_fail(t->mask, "out of memory");
        return;
    }
    amd64_start_prologue(prologue, scope, t->code->count);
    scope->prologue_start = t->code->count;
    Amd64_Prologue_Entry* reserve = amd64_prologue_reserve_stack(prologue, frame.reservation);
    if (!reserve || !move_stack_pointer(t->code, 0xEC, frame.reservation)) {
        amd64_fail(t->mask, "out of memory");
        return;
    }
    reserve->code_offset = t->code->count;
    amd64_fail_unless(amd64_big_spill(true, frame.spill_flags, t->code, scope->integer_registers_used,
                                      scope->float_registers_used, 0, 0, prologue, 0),
                      t->mask);
    scope->frame_size = frame.reservation;
    scope->spill_size = frame.saves;
    amd64_end_prologue(prologue, t->code->count);
}

void amd64_pop_stack_frame(Amd64_Translation* t) {
    Scope* scope = t->instruction->frame.scope;
    Amd64_Frame frame;
    if (!amd64_frame_of(scope, &frame, t->mask)) return;
    amd64_fail_unless(amd64_big_spill(false, frame.spill_flags, t->code, scope->integer_registers_used,
                                      scope->float_registers_used, 0, 0, 0, 0) &&
                          move_stack_pointer(t->code, 0xC4, frame.reservation),
                      t->mask);
    scope->epilogue_end = t->code->count;
}

//~ Calls

// lea r, m of a call's argument or parameter block, which lives in memory.
static void load_block_address(Amd64_Translation* t, u8 r, Register_Id block) {
    Amd64_Memory_Operand m = amd64_get_memory(block, t->mask);
    if (amd64_failed(t->mask)) return;
    if (m.operand_class & AMD64_OPERAND_REGISTER) {
        amd64_fail(t->mask, "an argument block held in a machine register");
        return;
    }
    amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x8D, gp(r), m, 0), t->mask);
}

// Whether a scalar result comes back in XMM0: by the callee's return type, or, without a
// callee record, by where the result goes.
static b8 result_is_float(Sub_Program* callee, Register_Id result, Amd64_Memory_Operand m) {
    Identifier* type = callee ? callee->element_type : 0;
    if (type) return type->pointer_depth == 0 && (type->flags & TYPE_FLOAT);
    if (amd64_is_xmm(m)) return true;
    Register* r = amd64_get_register(result);
    return r && (r->hints & HINT_FLOAT);
}

void amd64_call(Amd64_Translation* t) {
    Bytecode_Instruction* i = t->instruction;
    Bytecode_Call* k = &i->call;
    t->mask->gp |= 1u << AMD64_RAX;
    // The callee receives its block's address in RAX.
    if (i->call_flags & CALL_ARGUMENT_BLOCK) load_block_address(t, AMD64_RAX, k->call_data);
    if (amd64_failed(t->mask)) return;

    if (i->kind == BYTECODE_CALL) {
        if (!k->sub_program) {
            amd64_fail(t->mask, "a call without its callee");
            return;
        }
        static const u8 call_rel32[5] = {0xE8};
        amd64_fail_unless(add_a_call_relocation(t->calls, k->sub_program, t->code, 1) && amd64_emit(t->code, call_rel32, 5),
                          t->mask);
    } else {
        Amd64_Memory_Operand target = amd64_get_memory(k->callee_address, t->mask);
        if (amd64_failed(t->mask)) return;
        if (amd64_is_xmm(target)) {
            amd64_fail(t->mask, "a callee address held in an XMM register");
            return;
        }
        if (!amd64_is_gp(target)) {
            u8 r = amd64_take_tmp_gp_register(t->mask);
            amd64_fail_unless(amd64_emit_reg_rm(t->code, t->data_relocations, 0, AMD64_REX_W, 0x8B, gp(r), target, 0),
                              t->mask);
            target = gp(r);
        }
        // call r64: FF /2
        amd64_fail_unless(amd64_emit_rm(t->code, 0, 0, AMD64_REX_W, 0xFF, 2 << 3, target, 0, 0, 0), t->mask);
    }
    if (!(i->call_flags & CALL_SCALAR_RETURN)) return;

    Amd64_Memory_Operand result = amd64_get_memory(k->return_value, t->mask);
    if (amd64_failed(t->mask)) return;
    u32 size = amd64_get_register_size(k->return_value);
    amd64_copy_data(size, t->code, t->data_relocations, t->mask, result,
                    result_is_float(k->sub_program, k->return_value, result) ? XMM0_INFO : RAX_INFO);
}

void amd64_foreign_call(Amd64_Translation* t) {
    Bytecode_Instruction* i = t->instruction;
    // RDI and RSI carry the call's two arguments, RAX the dispatcher's address.
    t->mask->gp |= (1u << AMD64_RAX) | (1u << AMD64_RCX) | (1u << AMD64_RDX) | (1u << AMD64_RSI) | (1u << AMD64_RDI);
    if (i->call_flags & CALL_ARGUMENT_BLOCK) load_block_address(t, AMD64_RDI, i->call.call_data);
    if (amd64_failed(t->mask)) return;

    u8 mov_rsi[7] = {0x48, 0xC7, 0xC6};  // mov rsi, imm32: the routine id
    store_u32(mov_rsi + 3, (u32)i->callee);
    u64* slot = (u64*)dynamic_array_add_fast(t->foreign_call_slots);
    if (!slot) {
        amd64_fail(t->mask, "out of memory");
        return;
    }
    // The loader plants the dispatcher's address in the movabs immediate the slot names.
    *slot = t->code->count + 7 + 2;
    static const u8 movabs_rax[10] = {0x48, 0xB8};
    // sub rsp, 8; call rax; add rsp, 8: the save area is a multiple of 16, and RSP was 8
    // (mod 16) in the body, so the editor is called on an aligned stack.
    static const u8 call_rax[11] = {0x48, 0x83, 0xEC, 0x08, 0x48, 0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x08};
    amd64_fail_unless(amd64_emit(t->code, mov_rsi, 7) && amd64_emit(t->code, movabs_rax, 10) &&
                          amd64_big_spill(true, AMD64_SPILL_AROUND_A_CALL, t->code, i->live_gp_mask, i->live_xmm_mask,
                                          0, 0, 0, 0) &&
                          amd64_emit(t->code, call_rax, 11) &&
                          amd64_big_spill(false, AMD64_SPILL_AROUND_A_CALL, t->code, i->live_gp_mask, i->live_xmm_mask,
                                          0, 0, 0, 0),
                      t->mask);
}
