// The record of the sources a compile read, which the image's source table and the runtime's
// watcher both need after the compile's own file list is gone.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

//~ layer_sources.cpp: what a compile read

// The compiler records every source file it opens, or tries to, as it reads it: the image's
// source table takes the size and time the compile saw, and after a failed compile the
// watcher waits on the same files, so fixing any of them recompiles.
struct Layer_Source_Record {
    u32 path_offset;  // into the record's text
    u32 path_length;
    u64 size;
    u64 modification_time;  // whole nanoseconds; 0 with the size for a file that was not found
};

// The longest source name an image's source table holds; a longer one is not recorded.
#define LAYER_SOURCE_NAME_MAX_LENGTH 4096u

// Far more than a layer reads: past them, a source counts as unseen.
#define LAYER_SOURCE_RECORD_CAPACITY 1024u
#define LAYER_SOURCE_TEXT_CAPACITY   (1024u * 1024u)

void reset_layer_sources();
// Forgets the records: the start of a compile.

void record_layer_source(u8* path, u64 length, b8 found, u64 size, u64 modification_time);
// Appends a record (the path is copied). Nothing is recorded past the capacities: the file
// then counts as unseen, and the writer reads its size and time itself.

u32 get_layer_source_count();
Layer_Source_Record* get_layer_source(u32 index);
String get_layer_source_path(Layer_Source_Record* record);
// The records in the order the compile made them; the path lives until the next reset.

Layer_Source_Record* find_layer_source(String path);
// The last record of that path; null when none.

b8 stat_layer_source(const char* path, u64* size, u64* modification_time);
// stat (following symbolic links) of a source: false, with both 0, when it cannot be read.
