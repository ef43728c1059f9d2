// Reading "quarn.data" and walking its local headers. Deflated entries go through zlib's raw
// inflate in one call into an output buffer of exactly the uncompressed size, so nothing
// wraps and a size that lies shows up as a failed inflation.

#include "ui/asset_archive.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

Asset_Archive pseudo_exe_data;

//~ Reading the archive

b8 init_assets(String executable_directory) {
    if (!pseudo_exe_data.flag) {
        pseudo_exe_data.data = carve_static_memory(PSEUDO_EXE_DATA_MEMORY);
        if (!pseudo_exe_data.data) return false;
        pseudo_exe_data.flag = 1;
    }
    u8* block = pseudo_exe_data.data;
    pseudo_exe_data.size = 0;

    String path = executable_directory.count
        ? string_concat2("%/" ASSET_ARCHIVE_FILENAME, executable_directory)
        : STR(ASSET_ARCHIVE_FILENAME);
    char* c_path = to_tmp_c_string(path);
    if (!c_path) return true;
    int file = open(c_path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return true;  // no archive: the fonts report what is missing

    struct stat info;
    u64 wanted = PSEUDO_EXE_DATA_MEMORY;
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
        if ((u64)info.st_size > PSEUDO_EXE_DATA_MEMORY) {
            add_log(nullptr, LOG_ERROR, "'%s' is %llu octets, more than the %llu read; the entries past that are lost.",
                    c_path, (unsigned long long)info.st_size, (unsigned long long)PSEUDO_EXE_DATA_MEMORY);
        } else {
            wanted = (u64)info.st_size;
        }
    }
    // read may return less than asked even from a regular file, so loop to the end.
    u64 total = 0;
    while (total < wanted) {
        ssize_t got = read(file, block + total, wanted - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            add_log(nullptr, LOG_ERROR, "Failed to read '%s': %s.", c_path, strerror(errno));
            total = 0;
            break;
        }
        if (got == 0) break;
        total += (u64)got;
    }
    close(file);
    pseudo_exe_data.size = (u32)total;
    return true;
}

String get_asset(String name) {
    Gp_Allocation kept = {};  // a deflated entry's memory is never freed: fonts point into it
    String data = find_and_extract_file_from_zip_data(pseudo_exe_data.data, pseudo_exe_data.size,
                                                      name.data, (u64)name.count, &kept);
    if (!data.count) gp_free(&kept);
    return data;
}

//~ Walking entries

Zip_Lister init_zip_lister(u8* data, u32 size) {
    Zip_Lister lister = {};
    lister.start = data;
    lister.position = data;
    lister.end = data ? data + size : data;
    return lister;
}

static b8 stop_damaged_zip_walk(Zip_Lister* lister, const char* why) {
    add_log(nullptr, LOG_ERROR, "Damaged zip archive: the entry at offset %llu %s; the entries after it cannot be found.",
            (unsigned long long)(lister->position - lister->start), why);
    lister->failed = true;
    return false;
}

// Length of the data descriptor at `at` whose sizes repeat the header's, with or without its
// optional signature; 0 when none fits in room. The sizes must match: a writer that left
// them only in the descriptor gives no way to find where the data ends.
static u64 get_data_descriptor_length(u8* at, u64 room, Zip_Local_Header* header) {
    if (room >= 16 && load_u32(at) == ZIP_DATA_DESCRIPTOR_SIGNATURE &&
        load_u32(at + 8) == header->compressed_size && load_u32(at + 12) == header->uncompressed_size) {
        return 16;
    }
    if (room >= 12 && load_u32(at + 4) == header->compressed_size && load_u32(at + 8) == header->uncompressed_size) {
        return 12;
    }
    return 0;
}

b8 zip_lister_get_next_file(Zip_Lister* lister, Zip_Entry* out) {
    if (lister->failed || !lister->position) return false;
    u64 room = (u64)(lister->end - lister->position);
    if (room < 4 || load_u32(lister->position) != ZIP_LOCAL_HEADER_SIGNATURE) return false;
    if (room < sizeof(Zip_Local_Header)) return stop_damaged_zip_walk(lister, "has a header cut short");

    Zip_Local_Header* header = (Zip_Local_Header*)lister->position;
    u64 data_offset = sizeof(Zip_Local_Header) + header->name_count + header->extra_count;
    if (data_offset > room) return stop_damaged_zip_walk(lister, "has a name or extra field past the end");
    if (header->compressed_size > room - data_offset) return stop_damaged_zip_walk(lister, "has data past the end");
    u64 next = data_offset + header->compressed_size;
    if (header->flags & ZIP_HEADER_HAS_NO_SIZE_INFO) {
        u64 descriptor = get_data_descriptor_length(lister->position + next, room - next, header);
        if (!descriptor) return stop_damaged_zip_walk(lister, "keeps its sizes only in a data descriptor");
        next += descriptor;
    }

    out->name = String{lister->position + sizeof(Zip_Local_Header), (s64)header->name_count};
    out->compression_method = header->compression_method;
    out->compressed_size = header->compressed_size;
    out->header = header;
    lister->position += next;
    return true;
}

Zip_Local_Header* get_file_from_zip(u8* data, u32 size, u8* name, u64 name_count) {
    Zip_Lister lister = init_zip_lister(data, size);
    Zip_Entry entry;
    while (zip_lister_get_next_file(&lister, &entry)) {
        if ((u64)entry.name.count == name_count && memcmp(entry.name.data, name, name_count) == 0) return entry.header;
    }
    return nullptr;
}

//~ Extracting entries

static b8 inflate_zip_entry(Zip_Local_Header* header, u8* compressed, u8* out) {
    z_stream stream = {};
    int status = inflateInit2(&stream, -MAX_WBITS);
    if (status != Z_OK) {
        add_log(nullptr, LOG_ERROR, "Failed to start inflating a zip entry (zlib status %d).", status);
        return false;
    }
    stream.next_in = compressed;
    stream.avail_in = header->compressed_size;
    stream.next_out = out;
    stream.avail_out = header->uncompressed_size;
    status = inflate(&stream, Z_FINISH);
    u64 produced = stream.total_out;
    inflateEnd(&stream);
    if (status != Z_STREAM_END || produced != header->uncompressed_size) {
        add_log(nullptr, LOG_ERROR, "Failed to inflate the zip entry '%.*s': zlib status %d after %llu of %u octets.",
                (int)header->name_count, (char*)(header + 1), status, (unsigned long long)produced,
                header->uncompressed_size);
        return false;
    }
    return true;
}

String extract_zip_file(Zip_Local_Header* header, Gp_Allocation* buffer) {
    if (!header) return String{};
    u8* data = (u8*)(header + 1) + header->name_count + header->extra_count;
    int name_count = (int)header->name_count;
    char* name = (char*)(header + 1);

    if (header->compression_method == ZIP_METHOD_STORED) {
        if (header->uncompressed_size != header->compressed_size) {
            add_log(nullptr, LOG_ERROR, "The stored zip entry '%.*s' claims %u octets but holds %u.",
                    name_count, name, header->uncompressed_size, header->compressed_size);
            return String{};
        }
        return String{data, (s64)header->compressed_size};
    }
    if (header->compression_method != ZIP_METHOD_DEFLATE) {
        add_log(nullptr, LOG_ERROR, "The zip entry '%.*s' uses compression method %u, which cannot be read.",
                name_count, name, header->compression_method);
        return String{};
    }
    if ((u64)header->uncompressed_size > (u64)header->compressed_size * ZIP_DEFLATE_MAX_RATIO) {
        add_log(nullptr, LOG_ERROR, "The zip entry '%.*s' claims %u octets from %u compressed, more than deflate can give.",
                name_count, name, header->uncompressed_size, header->compressed_size);
        return String{};
    }
    if (header->uncompressed_size == 0) return String{};
    if (buffer->size < header->uncompressed_size) {
        gp_free(buffer);
        if (!gp_allocate(buffer, header->uncompressed_size)) return String{};
    }
    if (!inflate_zip_entry(header, data, buffer->memory)) return String{};
    return String{buffer->memory, (s64)header->uncompressed_size};
}

String find_and_extract_file_from_zip_data(u8* data, u32 size, u8* name, u64 name_count, Gp_Allocation* buffer) {
    return extract_zip_file(get_file_from_zip(data, size, name, name_count), buffer);
}
