// Reading update data: the checks of the header, the tables and every entry, made before
// anything is written, and the decoding of one file. Every number in the data is
// untrusted: sums are taken in 64 bits and names must be release file names, so the data
// cannot name a path outside the installation.

#include <string.h>

#include "updater/updater.h"

const u32 update_header_sizes[UPDATE_FORMAT_VERSION_COUNT] = {24, 24};

const char* const update_data_web_filepaths[UPDATE_FORMAT_VERSION_COUNT] = {
    "binaries/quarn/quarn_latest.bin",
    "binaries/quarn/quarn_latest_v1.bin",
};

const char* const release_file_names[RELEASE_FILE_COUNT] = {
    "quarn.exe", "quarn", "_updater.exe", "_updater", "api.8", "inject.8",
    "readme.txt", "changelog.txt", "license.txt", "custom_latest.8", "syntax_latest.8", "themes_latest.8",
};

static b8 string_is(String s, const char* text) { return strings_equal(s, string_from_c(text)); }

u32 release_file_mode(String name) {
    // The editor starts "quarn" and renames "_updater" to "updater" and starts it, so both
    // must arrive executable, whatever mode the files had before.
    if (string_is(name, "quarn") || string_is(name, "_updater")) return 0755;
    return 0644;
}

static b8 is_release_file_name(String name) {
    for (u32 i = 0; i < RELEASE_FILE_COUNT; i++) {
        if (string_is(name, release_file_names[i])) return true;
    }
    return false;
}

b8 fail_update(Update_Report* report, String message) {
    report->failed = true;
    report->message = message;
    return false;
}

static b8 fail(Update_Report* report, const char* message) { return fail_update(report, string_from_c(message)); }

b8 check_update_data(const u8* data, u64 size, Update_Plan* plan, Update_Report* report, b8 decode) {
    memset(plan, 0, sizeof(*plan));
    plan->data = data;
    plan->size = size;

    if (size < 8) return fail(report, UPDATE_MESSAGE_TOO_SMALL);
    if (load_u32(data) != UPDATE_MAGIC_NUMBER) return fail(report, UPDATE_MESSAGE_BAD_MAGIC);
    u32 format_version = load_u32(data + 4);
    report->format_version = format_version;
    if (format_version >= UPDATE_FORMAT_VERSION_COUNT) return fail(report, UPDATE_MESSAGE_BAD_FORMAT);
    if (size < update_header_sizes[format_version]) return fail(report, UPDATE_MESSAGE_TOO_SMALL);

    Update_Header header;
    memcpy(&header, data, sizeof(header));
    report->release_version = header.release_version;
    if (header.file_count > UPDATE_MAX_FILE_COUNT) return fail(report, UPDATE_MESSAGE_TOO_MANY_FILES);
    u64 count = header.file_count;
    if ((u64)header.name_table_offset + sizeof(Update_File_Name) * count > size ||
        (u64)header.entry_table_offset + sizeof(Update_File_Entry) * count > size) {
        return fail(report, UPDATE_MESSAGE_BAD_ADDRESS);
    }

    plan->format_version = format_version;
    for (u32 i = 0; i < count; i++) {
        Update_File_Name name;
        Update_File_Entry entry;
        memcpy(&name, data + header.name_table_offset + sizeof(name) * i, sizeof(name));
        memcpy(&entry, data + header.entry_table_offset + sizeof(entry) * i, sizeof(entry));
        if ((u64)name.offset + name.length > size || (u64)entry.data_offset + entry.stored_size > size) {
            return fail(report, UPDATE_MESSAGE_BAD_ADDRESS);
        }

        Update_File* file = &plan->files[i];
        file->name = String{(u8*)data + name.offset, (s64)name.length};
        if (!is_release_file_name(file->name)) return fail(report, UPDATE_MESSAGE_BAD_NAME);
        for (u32 j = 0; j < i; j++) {
            if (strings_equal(plan->files[j].name, file->name)) return fail(report, UPDATE_MESSAGE_BAD_NAME);
        }
        if (format_version == 1 && entry.stored_size > entry.uncompressed_size) {
            return fail(report, UPDATE_MESSAGE_STORED_TOO_BIG);
        }
        if (entry.uncompressed_size > UPDATE_MAX_FILE_SIZE) return fail(report, UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE);
        file->stored = data + entry.data_offset;
        file->stored_size = entry.stored_size;
        file->uncompressed_size = entry.uncompressed_size;
        // Counted before decoding, so free_update_plan finds a file that failed half way.
        plan->file_count = i + 1;
        // A file that does not decode is reported before any fault of a later entry.
        if (decode && !decode_update_file(plan, i, &file->storage, &file->content, report)) return false;
    }
    plan->file_count = (u32)count;
    return true;
}

void free_update_plan(Update_Plan* plan) {
    for (u32 i = 0; i < plan->file_count; i++) gp_free(&plan->files[i].storage);
}

b8 decode_update_file(const Update_Plan* plan, u32 index, Gp_Allocation* buffer, String* content,
                      Update_Report* report) {
    const Update_File* file = &plan->files[index];
    *content = String{};
    if (plan->format_version == 1 && file->stored_size == file->uncompressed_size) {
        *content = String{(u8*)file->stored, (s64)file->stored_size};
        return true;
    }

    // Our own blocks decode in whole words, so the buffer has room for the padding.
    u64 capacity = align_up(file->uncompressed_size, 4);
    if (capacity > buffer->size) {
        gp_free(buffer);
        if (!gp_allocate(buffer, capacity)) return fail(report, UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE);
    }
    b8 decoded;
    if (plan->format_version == 0) {
        u32 size = 0;
        decoded = lz_decompress(file->stored, file->stored_size, buffer->memory, capacity, &size) &&
                  size == file->uncompressed_size;
    } else {
        decoded = lz4_decompress_block(file->stored, file->stored_size, buffer->memory, file->uncompressed_size);
    }
    if (!decoded) return fail(report, UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE);
    *content = String{buffer->memory, (s64)file->uncompressed_size};
    return true;
}
