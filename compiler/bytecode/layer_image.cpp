// The checks an image passes before any of it runs. The file is only ever written by this
// editor version, so anything but the exact layout its writer makes is refused: a torn,
// stale or tampered image is compiled again, never entered.
#include <string.h>

#include "compiler/bytecode/layer_image.h"
#include "foundation/meow_hash.h"
#include "foundation/os_files.h"

String get_path_beside_executable_tmp(const char* name) {
    if (executable_filepath.count == 0) return string_concat2("%", string_from_c(name));
    return string_concat2("%/%", executable_filepath, string_from_c(name));
}

String get_layer_image_path_tmp() { return get_path_beside_executable_tmp(COMPILED_CUSTOM_LAYER_FILENAME); }

u64 layer_image_hash(u8* image, u64 size) {
    store_u64(image + offsetof(Compiled_Layer_Header, image_hash), 0);
    return MeowHash(size, image).low;
}

static b8 block_wanted(u8 flags, u8 bit, u32 entry, const Compiled_Layer_Header* h) {
    return (flags & bit) == 0 || (entry >= h->code_offset && entry - h->code_offset < h->code_size);
}

static const char* check_header(const Compiled_Layer_Header* h, u64 size) {
    if (h->magic != OUTPUT_MAGIC_ID) return "wrong magic";
    if (h->format_version != COMPILED_LAYER_FORMAT_VERSION) return "wrong format version";
    if (h->cpu != BC_CPU_AMD64) return "made for another processor";
    if (h->editor_version[0] != EDITOR_VERSION.major || h->editor_version[1] != EDITOR_VERSION.minor ||
        h->editor_version[2] != EDITOR_VERSION.patch || h->editor_version[3] != 0) {
        return "made by another editor version";
    }
    if (h->constant != COMPILED_LAYER_CONSTANT || h->zero[0] || h->zero[1] || h->zero[2]) return "bad fixed fields";
    if (h->flags & ~(LAYER_IMAGE_HAS_EVENTS | LAYER_IMAGE_HAS_ON_LOAD | LAYER_IMAGE_HAS_SYNTAX)) return "unknown block flags";

    // Each part starts where the one before it ends; u64 arithmetic cannot wrap here.
    if (h->constant_data_offset != LAYER_IMAGE_CONSTANT_OFFSET) return "constant data misplaced";
    u64 global_offset = align_up((u64)h->constant_data_offset + h->constant_data_size, LAYER_IMAGE_DATA_ALIGNMENT);
    if (h->global_data_offset != global_offset) return "global data misplaced";
    if (h->code_offset != global_offset + h->global_data_size) return "code misplaced";
    if (h->foreign_call_slot_offset != (u64)h->code_offset + h->code_size) return "foreign-call slots misplaced";
    u64 constant_table = (u64)h->foreign_call_slot_offset + (u64)h->foreign_call_slot_count * sizeof(Foreign_Call_Slot);
    if (h->constant_relocation_offset != constant_table) return "constant relocations misplaced";
    u64 global_table = constant_table + (u64)h->constant_relocation_count * LAYER_RELOCATION_ROW_SIZE;
    if (h->global_relocation_offset != global_table) return "global relocations misplaced";
    u64 names = global_table + (u64)h->global_relocation_count * LAYER_RELOCATION_ROW_SIZE;
    if (h->source_table_offset < names) return "source names misplaced";
    if ((u64)h->source_table_offset + (u64)h->source_count * sizeof(Layer_Source_Entry) != size) {
        return "size differs from its tables";
    }

    if (!block_wanted(h->flags, LAYER_IMAGE_HAS_EVENTS, h->events_entry, h) ||
        !block_wanted(h->flags, LAYER_IMAGE_HAS_ON_LOAD, h->on_load_entry, h) ||
        !block_wanted(h->flags, LAYER_IMAGE_HAS_SYNTAX, h->syntax_entry, h)) {
        return "entry outside the code";
    }
    return nullptr;
}

// Every pointer a row names lies inside its area, and so does the offset it holds.
static const char* check_relocations(u8* image, const Compiled_Layer_Header* h, u32 offset, u32 count,
                                     b8 constant_table) {
    u64 target_size = constant_table ? h->constant_data_size : h->global_data_size;
    for (u32 i = 0; i < count; i++) {
        u8* row = image + offset + (u64)i * LAYER_RELOCATION_ROW_SIZE;
        u8 area = row[LAYER_RELOCATION_AREA_OFFSET];
        u64 area_offset, area_size;
        if (area == LAYER_AREA_GLOBAL_DATA) {
            area_offset = h->global_data_offset;
            area_size = h->global_data_size;
        } else if (area == LAYER_AREA_CONSTANT_DATA && constant_table) {
            area_offset = h->constant_data_offset;
            area_size = h->constant_data_size;
        } else {
            return "a relocation names no area it may";
        }
        u64 location = load_u32(row);
        if (area_size < 8 || location > area_size - 8) return "a relocation lies outside its area";
        if (load_u64(image + area_offset + location) > target_size) return "a relocation points outside its area";
    }
    return nullptr;
}

const char* check_layer_image(u8* image, u64 size) {
    if (size < LAYER_IMAGE_CONSTANT_OFFSET) return "shorter than a header";
    if (size > LAYER_IMAGE_MAX_SIZE) return "larger than any image";
    Compiled_Layer_Header h;
    memcpy(&h, image, sizeof(h));
    const char* reason = check_header(&h, size);
    if (reason) return reason;

    // A slot is the immediate of a movabs rax: nothing else of the code is ever written.
    u8* code = image + h.code_offset;
    for (u32 i = 0; i < h.foreign_call_slot_count; i++) {
        u64 slot = load_u64(image + h.foreign_call_slot_offset + (u64)i * sizeof(Foreign_Call_Slot));
        if (slot < 2 || h.code_size < 8 || slot > h.code_size - 8) return "a foreign-call slot lies outside the code";
        if (code[slot - 2] != 0x48 || code[slot - 1] != 0xB8) return "a foreign-call slot names no movabs";
    }

    reason = check_relocations(image, &h, h.constant_relocation_offset, h.constant_relocation_count, true);
    if (!reason) reason = check_relocations(image, &h, h.global_relocation_offset, h.global_relocation_count, false);
    if (reason) return reason;

    u64 names = (u64)h.global_relocation_offset + (u64)h.global_relocation_count * LAYER_RELOCATION_ROW_SIZE;
    for (u32 i = 0; i < h.source_count; i++) {
        Layer_Source_Entry row;
        memcpy(&row, image + h.source_table_offset + (u64)i * sizeof(row), sizeof(row));
        if (row.name_length == 0 || row.name_length > LAYER_SOURCE_NAME_MAX_LENGTH || row.name < names ||
            row.name_length > h.source_table_offset || row.name > h.source_table_offset - row.name_length) {
            return "a source name lies outside the names";
        }
    }

    b8 same = layer_image_hash(image, size) == h.image_hash;
    store_u64(image + offsetof(Compiled_Layer_Header, image_hash), h.image_hash);
    return same ? nullptr : "its octets do not match their hash";
}

//~ Rebasing

static void apply_relocation_table(u8* image, u32 offset, u32 count, u8* target_area) {
    Compiled_Layer_Header* h = (Compiled_Layer_Header*)image;
    for (u32 i = 0; i < count; i++) {
        u8* row = image + offset + (u64)i * LAYER_RELOCATION_ROW_SIZE;
        u8 area = row[LAYER_RELOCATION_AREA_OFFSET];
        u8* holder = area == LAYER_AREA_GLOBAL_DATA ? image + h->global_data_offset : image + h->constant_data_offset;
        u8* pointer = holder + load_u32(row);
        store_u64(pointer, load_u64(pointer) + (u64)target_area);
    }
}

void rebase_layer_image(u8* image, u64 dispatcher) {
    Compiled_Layer_Header* h = (Compiled_Layer_Header*)image;
    apply_relocation_table(image, h->constant_relocation_offset, h->constant_relocation_count,
                           image + h->constant_data_offset);
    apply_relocation_table(image, h->global_relocation_offset, h->global_relocation_count,
                           image + h->global_data_offset);
    u8* code = image + h->code_offset;
    for (u32 i = 0; i < h->foreign_call_slot_count; i++) {
        u64 slot = load_u64(image + h->foreign_call_slot_offset + (u64)i * sizeof(Foreign_Call_Slot));
        store_u64(code + slot, dispatcher);
    }
}
