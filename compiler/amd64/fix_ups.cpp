// The bookkeeping of a translation that outlives one instruction: the prologue record
// of every opened frame, and the jump and call fix-ups whose displacements are written
// after the last instruction.
#include "compiler/amd64/amd64.h"

void amd64_start_prologue(Amd64_Prologue* prologue, Scope* owner, u64 start) {
    prologue->owner = owner;
    prologue->start = start;
    prologue->end = 0;
    init_dynamic_array(&prologue->entries, sizeof(Amd64_Prologue_Entry));
}

static Amd64_Prologue_Entry* add_entry(Amd64_Prologue* prologue, u8 kind, u32 amount_or_offset, u8 reg) {
    Amd64_Prologue_Entry* e = (Amd64_Prologue_Entry*)dynamic_array_add_fast(&prologue->entries);
    if (!e) return 0;
    e->code_offset = 0;
    e->kind = kind;
    e->amount_or_offset = amount_or_offset;
    e->reg = reg;
    return e;
}

Amd64_Prologue_Entry* amd64_prologue_reserve_stack(Amd64_Prologue* prologue, u32 amount) {
    return add_entry(prologue, AMD64_PROLOGUE_RESERVE_STACK, amount, 0);
}

Amd64_Prologue_Entry* amd64_prologue_spill_gp(Amd64_Prologue* prologue, u8 reg, u32 offset) {
    return add_entry(prologue, AMD64_PROLOGUE_SPILL_GP, offset, reg);
}

Amd64_Prologue_Entry* amd64_prologue_spill_xmm(Amd64_Prologue* prologue, u8 reg, u32 offset) {
    return add_entry(prologue, AMD64_PROLOGUE_SPILL_XMM, offset, reg);
}

void amd64_free_prologues(Dynamic_Array* prologues) {
    for (u32 i = 0; i < prologues->count; i++) {
        dynamic_array_free(&((Amd64_Prologue*)prologues->data)[i].entries);
    }
    dynamic_array_free(prologues);
}

static b8 add_code_relocation(Dynamic_Array* list, const void* target, Dynamic_Array* code, u8 rel32_position) {
    Amd64_Code_Relocation* r = (Amd64_Code_Relocation*)dynamic_array_add_fast(list);
    if (!r) return false;
    r->target = (u64)target;
    r->instruction_start = code->count;
    r->rel32_offset = code->count + rel32_position;
    r->length = (u8)(rel32_position + 4);
    return true;
}

b8 add_a_jump_relocation(Dynamic_Array* jumps, const void* target, Dynamic_Array* code, u8 rel32_position) {
    return add_code_relocation(jumps, target, code, rel32_position);
}

b8 add_a_call_relocation(Dynamic_Array* calls, const void* target, Dynamic_Array* code, u8 rel32_position) {
    return add_code_relocation(calls, target, code, rel32_position);
}

void amd64_end_prologue(Amd64_Prologue* prologue, u64 end) {
    prologue->end = end;
    if (prologue->owner) prologue->owner->prologue_end = (u32)end;
}

//~ Writing the displacements after the pass

// The code start of the instruction at a byte offset of the bytecode array, or false
// when the offset names no record.
static b8 code_start_at(Dynamic_Array* bytecode, u64 offset, u64* code_start) {
    if (offset % sizeof(Bytecode_Instruction) != 0 || offset / sizeof(Bytecode_Instruction) >= bytecode->count) {
        return false;
    }
    *code_start = ((Bytecode_Instruction*)bytecode->data)[offset / sizeof(Bytecode_Instruction)].code_start;
    return true;
}

static void write_rel32(Dynamic_Array* code, Amd64_Code_Relocation* r, u64 target_start) {
    store_u32(code->data + r->rel32_offset, (u32)(target_start - ((u64)r->instruction_start + r->length)));
}

b8 amd64_write_code_relocations(Dynamic_Array* code, Dynamic_Array* jumps, Dynamic_Array* calls,
                                Dynamic_Array* bytecode) {
    b8 ok = true;
    for (u32 i = 0; i < jumps->count; i++) {
        Amd64_Code_Relocation* r = (Amd64_Code_Relocation*)jumps->data + i;
        Bytecode_Instruction* jump = (Bytecode_Instruction*)r->target;
        u64 target_start;
        if (!code_start_at(bytecode, jump->jump.target, &target_start)) {
            amd64_report_internal_error(jump, "a jump target off the bytecode's records");
            ok = false;
            continue;
        }
        write_rel32(code, r, target_start);
    }
    for (u32 i = 0; i < calls->count; i++) {
        Amd64_Code_Relocation* r = (Amd64_Code_Relocation*)calls->data + i;
        Sub_Program* callee = (Sub_Program*)r->target;
        u64 target_start;
        if (!code_start_at(bytecode, callee->bytecode_start, &target_start)) {
            print_error_on_trace(callee->declaration,
                                 "Internal compiler error: the sub-program has no machine code to call.");
            ok = false;
            continue;
        }
        write_rel32(code, r, target_start);
    }
    return ok;
}
