// The packer: turns a release directory into update data. The assembly buffer grows with
// the release (an editor binary alone outgrows any small fixed buffer), files are read
// through symbolic links and sized from the open file, and nothing is written unless
// every present file was packed.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/log.h"
#include "updater/updater.h"

struct Pack_Buffers {
    Gp_Allocation file;
    Gp_Allocation packed;
    Gp_Allocation lz4_state;
};

static void free_pack_buffers(Pack_Buffers* buffers) {
    gp_free(&buffers->file);
    gp_free(&buffers->packed);
    gp_free(&buffers->lz4_state);
}

static b8 ensure_size(Gp_Allocation* allocation, u64 size) {
    if (allocation->size >= size && allocation->memory) return true;
    gp_free(allocation);
    return gp_allocate(allocation, size ? size : 1);
}

// Reads the whole file behind path (following a symbolic link) into buffers->file.
static b8 read_release_file(const char* path, Pack_Buffers* buffers, u32* size) {
    // Opening a FIFO would wait for a writer, so the kind is checked first, and the open
    // does not wait should the path change in between.
    struct stat kind;
    if (stat(path, &kind) == 0 && !S_ISREG(kind.st_mode)) {
        add_log(nullptr, LOG_ERROR, "\"%s\" is not a regular file.", path);
        return false;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        add_log(nullptr, LOG_ERROR, "Could not open \"%s\" to pack it: %s.", path, strerror(errno));
        return false;
    }
    struct stat status;
    // The updater refuses a file that decodes to more than its cap, so such a release
    // must not be packed as if it could be installed.
    b8 ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (u64)status.st_size <= UPDATE_MAX_FILE_SIZE;
    if (!ok) {
        add_log(nullptr, LOG_ERROR, "\"%s\" is not a regular file of at most %u bytes.", path, UPDATE_MAX_FILE_SIZE);
    } else {
        *size = (u32)status.st_size;
        ok = ensure_size(&buffers->file, *size);
        if (ok && !os_read_all(fd, buffers->file.memory, *size)) {
            add_log(nullptr, LOG_ERROR, "Could not read \"%s\" whole.", path);
            ok = false;
        }
    }
    close(fd);
    return ok;
}

// Leaves the stored form of the file in *stored.
static b8 pack_release_file(u32 format, u32 size, Pack_Buffers* buffers, const u8** stored, u32* stored_size) {
    const u8* file = buffers->file.memory;
    *stored = file;
    *stored_size = size;
    if (format == 1) {
        if (size == 0) return true;  // stored as it is: equal sizes mean raw data
        u32 compressed = 0;
        if (!lz4_compress_block(file, size, &buffers->lz4_state, &buffers->packed, &compressed)) {
            add_log(nullptr, LOG_ERROR, "LZ4 could not compress a file of %u bytes.", size);
            return false;
        }
        if (compressed < size) {
            *stored = buffers->packed.memory;
            *stored_size = compressed;
        }
        return true;
    }
    if (!ensure_size(&buffers->packed, lz_block_bound(size))) return false;
    u32 block_size = lz_compress_trying_different_sizes_per_offset(file, buffers->packed.memory, size, 2, 16);
    if (block_size == 0) {
        add_log(nullptr, LOG_ERROR, "Could not compress a file of %u bytes.", size);
        return false;
    }
    *stored = buffers->packed.memory;
    *stored_size = block_size;
    return true;
}

static b8 write_update_data(String output_path, const u8* data, u64 size) {
    char* path = to_tmp_c_string(output_path);
    if (!path) return false;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        add_log(nullptr, LOG_ERROR, "Could not create \"%s\": %s.", path, strerror(errno));
        return false;
    }
    b8 written = os_write_all(fd, data, size);
    if (close(fd) != 0) written = false;
    if (!written) add_log(nullptr, LOG_ERROR, "Could not write all of \"%s\".", path);
    return written;
}

b8 pack_update(String output_path, String source_directory, u32 format, u32* left_out) {
    if (left_out) *left_out = 0;
    if (format >= UPDATE_FORMAT_VERSION_COUNT) {
        add_log(nullptr, LOG_ERROR, "Update data of format %u cannot be packed.", format);
        return false;
    }
    u64 saved_tmp = tmp_get_used();
    // An empty source means the working directory.
    char* source = source_directory.count ? to_tmp_c_string(source_directory) : (char*)".";
    struct stat source_status;
    if (!source || stat(source, &source_status) != 0 || !S_ISDIR(source_status.st_mode)) {
        add_log(nullptr, LOG_ERROR, "The release directory \"%s\" is missing or not a directory.", source ? source : "");
        tmp_set_used(saved_tmp);
        return false;
    }

    // The release files present decide the table sizes; a missing name is left out.
    u32 present[RELEASE_FILE_COUNT];
    u32 count = 0;
    u64 name_bytes = 0;
    for (u32 i = 0; i < RELEASE_FILE_COUNT; i++) {
        char* path = tmp_path_in_directory(source_directory, string_from_c(release_file_names[i]));
        struct stat status;
        if (path && lstat(path, &status) != 0 && errno == ENOENT) {
            if (left_out) *left_out |= 1u << i;
            continue;
        }
        present[count++] = i;
        name_bytes += strlen(release_file_names[i]);
    }

    if (count == 0) {
        add_log(nullptr, LOG_ERROR, "The release directory \"%s\" holds none of the release files.", source);
        tmp_set_used(saved_tmp);
        return false;
    }

    u32 name_table = sizeof(Update_Header);
    u32 entry_table = name_table + count * (u32)sizeof(Update_File_Name);
    u32 names_start = entry_table + count * (u32)sizeof(Update_File_Entry);
    Dynamic_Array data;
    init_dynamic_array(&data, 1);
    u8* head = (u8*)dynamic_array_add_fast_multiple(&data, names_start + (u32)name_bytes);
    b8 ok = head != nullptr;
    if (ok) {
        Update_Header header = {};
        header.magic = UPDATE_MAGIC_NUMBER;
        header.format_version = format;
        header.release_version = EDITOR_VERSION;
        header.name_table_offset = name_table;
        header.entry_table_offset = entry_table;
        header.file_count = count;
        memcpy(head, &header, sizeof(header));
        u32 at = names_start;
        for (u32 i = 0; i < count; i++) {
            const char* name = release_file_names[present[i]];
            Update_File_Name entry = {at, (u32)strlen(name)};
            memcpy(head + name_table + sizeof(entry) * i, &entry, sizeof(entry));
            memcpy(head + at, name, entry.length);
            at += entry.length;
        }
    }

    Pack_Buffers buffers = {};
    for (u32 i = 0; ok && i < count; i++) {
        const char* name = release_file_names[present[i]];
        char* path = tmp_path_in_directory(source_directory, string_from_c(name));
        u32 size = 0;
        const u8* stored = nullptr;
        u32 stored_size = 0;
        ok = path && read_release_file(path, &buffers, &size) &&
             pack_release_file(format, size, &buffers, &stored, &stored_size);
        if (!ok) break;
        if ((u64)data.count + stored_size > 0xFFFFFFFFull) {
            add_log(nullptr, LOG_ERROR, "The release does not fit in update data (offsets are 32-bit).");
            ok = false;
            break;
        }
        Update_File_Entry entry = {stored_size, size, data.count};
        if (stored_size) {
            u8* at = (u8*)dynamic_array_add_fast_multiple(&data, stored_size);
            if (!at) {
                ok = false;
                break;
            }
            memcpy(at, stored, stored_size);
        }
        memcpy(data.data + entry_table + sizeof(entry) * i, &entry, sizeof(entry));
    }
    free_pack_buffers(&buffers);

    if (ok) ok = write_update_data(output_path, data.data, data.count);
    dynamic_array_free(&data);
    tmp_set_used(saved_tmp);
    return ok;
}
