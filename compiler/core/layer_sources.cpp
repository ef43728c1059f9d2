// The sources a compile read, or tried to, with the size and time it saw. The compiler's
// own file list is released when a compile ends, and a file it could not open is not on
// it; the runtime needs both afterwards, to write the image's source table and to watch a
// failed compile's files.
#include <string.h>
#include <sys/stat.h>

#include "compiler/core/layer_sources.h"

// A fixed budget: the compiler records on every load, also where nothing resets the list
// (its own tests), and a record must never cost an allocation.
static Layer_Source_Record layer_source_records[LAYER_SOURCE_RECORD_CAPACITY];
static u8 layer_source_text[LAYER_SOURCE_TEXT_CAPACITY];
static u32 layer_source_count;
static u32 layer_source_text_used;

void reset_layer_sources() {
    layer_source_count = 0;
    layer_source_text_used = 0;
}

void record_layer_source(u8* path, u64 length, b8 found, u64 size, u64 modification_time) {
    if (length == 0 || length > LAYER_SOURCE_NAME_MAX_LENGTH || layer_source_count == LAYER_SOURCE_RECORD_CAPACITY ||
        length > LAYER_SOURCE_TEXT_CAPACITY - layer_source_text_used) {
        return;
    }
    Layer_Source_Record* record = &layer_source_records[layer_source_count++];
    memcpy(layer_source_text + layer_source_text_used, path, length);
    record->path_offset = layer_source_text_used;
    record->path_length = (u32)length;
    record->size = found ? size : 0;
    record->modification_time = found ? modification_time : 0;
    layer_source_text_used += (u32)length;
}

u32 get_layer_source_count() { return layer_source_count; }

Layer_Source_Record* get_layer_source(u32 index) {
    return index < layer_source_count ? &layer_source_records[index] : nullptr;
}

String get_layer_source_path(Layer_Source_Record* record) {
    return String{layer_source_text + record->path_offset, (s64)record->path_length};
}

Layer_Source_Record* find_layer_source(String path) {
    for (u32 i = layer_source_count; i-- > 0;) {
        Layer_Source_Record* record = get_layer_source(i);
        if (strings_equal(get_layer_source_path(record), path)) return record;
    }
    return nullptr;
}

b8 stat_layer_source(const char* path, u64* size, u64* modification_time) {
    struct stat status;
    if (!path || stat(path, &status) != 0) {
        *size = 0;
        *modification_time = 0;
        return false;
    }
    *size = (u64)status.st_size;
    *modification_time = (u64)status.st_mtim.tv_sec * 1000000000ull + (u64)status.st_mtim.tv_nsec;
    return true;
}
