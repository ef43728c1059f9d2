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
