// The relocation tables of the compiled layer image. Each pointer recorded in constant or
// global data becomes a plain offset: its slot in the image receives the target's offset in
// the target's area, and its row the slot's offset, so the loader only adds an area's load
// address to every listed slot.
#include <string.h>

#include "compiler/bytecode/layer_image.h"
#include "foundation/sort.h"

// Views inside views: more than this is a cycle, never a real chain.
#define VIEW_CHAIN_LIMIT 64

struct Data_Place {
    u8 area;      // Register_Storage of the register at the end of the chain
    u64 offset;   // inside that area
};

// A row as it will stand in the image: the slot it names and what is stored there.
struct Relocation_Plan {
    u64 key;      // area and slot: rows of one slot share it
    u64 target;   // the target's offset in its area
    u32 order;    // constant rows first, then global rows, as the slots are written
    u8 area;
    b8 kept;      // the last row to write its slot: the loader must add one base, once
};

static b8 resolve_data_place(Register_Id id, Data_Place* place) {
    if (!register_id_is_valid(id)) return false;
    u64 offset = 0;
    Register* r = get_register(id);
    for (u32 depth = 0; r && r->kind == REGISTER_VIEW; depth++) {
        if (depth == VIEW_CHAIN_LIMIT) return false;
        offset += r->view_offset;
        r = get_register(r->base);
    }
    if (!r) return false;
    place->area = r->kind;
    place->offset = offset + r->data_offset;
    return true;
}

static u64 get_area_size(Compiled_Layer_Header* header, u8 area) {
    return area == LAYER_AREA_CONSTANT_DATA ? header->constant_data_size : header->global_data_size;
}

// One row checked against what the loader will do with it: applied in that table, inside
// its area, pointing inside the target's. Any other row would leave a pointer unrebased.
static b8 plan_row(Compiled_Layer_Header* header, Relocation* row, b8 constant_table, Relocation_Plan* plan) {
    Data_Place slot, target;
    u8 target_area = constant_table ? LAYER_AREA_CONSTANT_DATA : LAYER_AREA_GLOBAL_DATA;
    b8 located = resolve_data_place(row->where, &slot) &&
                 (slot.area == LAYER_AREA_GLOBAL_DATA || (constant_table && slot.area == LAYER_AREA_CONSTANT_DATA));
    if (!located) {
        print_error("Internal compiler error: a relocation lies in data the image does not rebase.");
        return false;
    }
    if (!resolve_data_place(row->target, &target) || target.area != target_area) {
        print_error("Internal compiler error: a relocation points into data of another kind.");
        return false;
    }
    u64 slot_area_size = get_area_size(header, slot.area);
    if (slot_area_size < 8 || slot.offset > slot_area_size - 8 || target.offset > get_area_size(header, target_area)) {
        print_error("Internal compiler error: a relocation lies outside its data.");
        return false;
    }
    plan->key = ((u64)slot.area << 56) | slot.offset;
    plan->target = target.offset;
    plan->area = slot.area;
    plan->kept = true;
    return true;
}

static b8 plan_key_before(void* a, void* b) {
    Relocation_Plan* x = (Relocation_Plan*)a;
    Relocation_Plan* y = (Relocation_Plan*)b;
    return x->key != y->key ? x->key < y->key : x->order < y->order;
}

// Every row of both tables, in the order their slots are written; a row whose slot a
// later row writes again is not kept. In temporary memory; null after a report.
static Relocation_Plan* plan_relocations(Compiled_Layer_Header* header) {
    Compiler_State* state = &global_compiler_state;
    u32 constant_rows = state->constant_relocations.count;
    u32 count = constant_rows + state->global_relocations.count;
    Relocation_Plan* plans = (Relocation_Plan*)tmp_allocate_aligned((u64)count * sizeof(Relocation_Plan) * 2 + 1, alignof(Relocation_Plan));
    if (!plans) {
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    for (u32 i = 0; i < count; i++) {
        b8 constant_table = i < constant_rows;
        Relocation* row = constant_table ? (Relocation*)state->constant_relocations.data + i
                                         : (Relocation*)state->global_relocations.data + (i - constant_rows);
        plans[i].order = i;
        if (!plan_row(header, row, constant_table, &plans[i])) return 0;
    }
    Relocation_Plan* sorted = plans + count;
    memcpy(sorted, plans, (u64)count * sizeof(Relocation_Plan));
    general_quick_sort(sorted, count, sizeof(Relocation_Plan), plan_key_before);
    for (u32 i = 0; i + 1 < count; i++) {
        if (sorted[i].key == sorted[i + 1].key) plans[sorted[i].order].kept = false;
    }
    return plans;
}

// Writes the slots of the rows first..first + count - 1 and appends their table.
static b8 write_table(Relocation_Plan* plans, u32 first, u32 count, u8* constant_data, u8* global_data, u32* row_count,
                      u32* table_offset) {
    u32 kept = 0;
    for (u32 i = first; i < first + count; i++) {
        Relocation_Plan* p = &plans[i];
        u8* area = p->area == LAYER_AREA_CONSTANT_DATA ? constant_data : global_data;
        store_u64(area + (p->key & 0xFFFFFFFFFFFFFFull), p->target);
        if (p->kept) kept++;
    }
    *table_offset = (u32)compiler_output_memory.used;
    *row_count = kept;
    if (!kept) return true;
    u8* table = bump_region_allocate(&compiler_output_memory, (u64)kept * LAYER_RELOCATION_ROW_SIZE);
    if (!table) return false;
    // Only the slot's offset and its area mean anything in the image: the rest of the row
    // is zero, so no compile-time address reaches the file.
    memset(table, 0, (u64)kept * LAYER_RELOCATION_ROW_SIZE);
    u8* row = table;
    for (u32 i = first; i < first + count; i++) {
        if (!plans[i].kept) continue;
        store_u32(row, (u32)(plans[i].key & 0xFFFFFFFFu));
        row[LAYER_RELOCATION_AREA_OFFSET] = plans[i].area;
        row += LAYER_RELOCATION_ROW_SIZE;
    }
    return true;
}

b8 copy_constant_relocations_to_code_output(Compiled_Layer_Header* header, u8* constant_data, u8* global_data) {
    u64 saved = tmp_get_used();
    Relocation_Plan* plans = plan_relocations(header);
    b8 ok = plans && write_table(plans, 0, global_compiler_state.constant_relocations.count, constant_data, global_data,
                                 &header->constant_relocation_count, &header->constant_relocation_offset);
    tmp_set_used(saved);
    return ok;
}

b8 copy_global_relocations_to_code_output(Compiled_Layer_Header* header, u8* global_data) {
    u64 saved = tmp_get_used();
    Relocation_Plan* plans = plan_relocations(header);
    Compiler_State* state = &global_compiler_state;
    b8 ok = plans && write_table(plans, state->constant_relocations.count, state->global_relocations.count, 0,
                                 global_data, &header->global_relocation_count, &header->global_relocation_offset);
    tmp_set_used(saved);
    return ok;
}
