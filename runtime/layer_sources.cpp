// The sources a compile read, or tried to, with the size and time it saw. The compiler's
// own file list is released when a compile ends, and a file it could not open is not on
// it; the runtime needs both afterwards, to write the image's source table and to watch a
// failed compile's files.
#include <string.h>
#include <sys/stat.h>

#include "runtime/layer_image.h"

static Dynamic_Array layer_source_records = {nullptr, sizeof(Layer_Source_Record), 0, 0, {}};
static Dynamic_Array layer_source_text = {nullptr, 1, 0, 0, {}};

void reset_layer_sources() {
    layer_source_records.count = 0;
    layer_source_text.count = 0;
}

void record_layer_source(u8* path, u64 length, b8 found, u64 size, u64 modification_time) {
    if (length == 0 || length > LAYER_SOURCE_NAME_MAX_LENGTH) return;
    u32 text_count = layer_source_text.count;
    u8* text = (u8*)dynamic_array_add_fast_multiple(&layer_source_text, (u32)length);
    if (!text) return;
    Layer_Source_Record* record = (Layer_Source_Record*)dynamic_array_add_fast(&layer_source_records);
    if (!record) {
        layer_source_text.count = text_count;
        return;
    }
    memcpy(text, path, length);
    record->path_offset = text_count;
    record->path_length = (u32)length;
    record->size = found ? size : 0;
    record->modification_time = found ? modification_time : 0;
}

u32 get_layer_source_count() { return layer_source_records.count; }

Layer_Source_Record* get_layer_source(u32 index) {
    return index < layer_source_records.count ? (Layer_Source_Record*)layer_source_records.data + index : nullptr;
}

String get_layer_source_path(Layer_Source_Record* record) {
    return String{layer_source_text.data + record->path_offset, (s64)record->path_length};
}

Layer_Source_Record* find_layer_source(String path) {
    for (u32 i = layer_source_records.count; i-- > 0;) {
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
