// Loading, reloading and saving. A file is read into fresh memory sized from the
// descriptor actually opened and swapped in only when it was read whole; a save writes a
// temporary file beside the target and renames it over the target only once the text is
// on disk, so a full disk or a quota leaves the old file as it was.

#include "editor/file_io.h"
#include "editor/lexer.h"
#include "editor/tokenisation_hints.h"
#include "foundation/log.h"
#include "runtime/custom_layer.h"
#include "foundation/os_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// A text's count is a u32.
#define MAX_TEXT_SIZE 0xFFFFFFFFull

static u64 get_whole_modification_time(struct stat* st) {
    return (u64)st->st_mtim.tv_sec * 1000000000ull + (u64)st->st_mtim.tv_nsec;
}

String get_file_path_tmp(Editor_File* file) {
    String directory = filepath_to_tmp_string(&file->directory);
    if (directory.count == 0) return string_concat2("%", file->name);
    b8 ends_with_separator = directory.data[directory.count - 1] == '/';
    return string_concat2(ends_with_separator ? "%%" : "%/%", directory, file->name);
}

//~ Reading

struct Read_File {
    Gp_Allocation storage;  // size 0 for an empty file
    s64 count;
    u64 modification_time;
};

// Reads the whole regular file at path into new memory. Logs and returns false on any
// failure, with nothing allocated.
static b8 read_whole_file(const char* path, Read_File* out) {
    memset(out, 0, sizeof(*out));
    // O_NONBLOCK: opening a FIFO must not hang the main thread; it is refused below.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        add_log(nullptr, LOG_ERROR, "Could not open \"%s\": %s", path, strerror(errno));
        return false;
    }
    struct stat st;
    const char* problem = nullptr;
    int error = 0;
    if (fstat(fd, &st) != 0) error = errno;
    else if (!S_ISREG(st.st_mode)) problem = "it is not a regular file";
    else if ((u64)st.st_size > MAX_TEXT_SIZE) problem = "it is larger than 4 GiB";

    u64 capacity = 0;
    if (!error && !problem) {
        // Files that report no size (as under /proc) may still hold text.
        capacity = st.st_size > 0 ? (u64)st.st_size : 4096;
        if (!gp_allocate(&out->storage, capacity)) problem = "no memory for its text";
    }
    while (!error && !problem) {
        if ((u64)out->count == capacity) {
            // Full at the size it had: read one more block to see whether it grew.
            u8 probe[4096];
            ssize_t n = read(fd, probe, sizeof(probe));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) { error = errno; break; }
            if (n == 0) break;
            u64 bigger = capacity * 2 > capacity + n ? capacity * 2 : capacity + n;
            if (bigger > MAX_TEXT_SIZE) bigger = MAX_TEXT_SIZE;
            Gp_Allocation grown;
            if (capacity + n > MAX_TEXT_SIZE) { problem = "it grew larger than 4 GiB"; break; }
            if (!gp_allocate(&grown, bigger)) { problem = "no memory for its text"; break; }
            memcpy(grown.memory, out->storage.memory, out->count);
            memcpy(grown.memory + out->count, probe, n);
            gp_free(&out->storage);
            out->storage = grown;
            out->count += n;
            capacity = bigger;
            continue;
        }
        ssize_t n = read(fd, out->storage.memory + out->count, capacity - out->count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { error = errno; break; }
        if (n == 0) break;
        out->count += n;
    }
    close(fd);
    if (error || problem) {
        add_log(nullptr, LOG_ERROR, "Could not read \"%s\": %s", path, problem ? problem : strerror(error));
        gp_free(&out->storage);
        out->count = 0;
        return false;
    }
    out->modification_time = get_whole_modification_time(&st);
    if (out->count == 0) gp_free(&out->storage);
    return true;
}

static void replace_text(Editor_File* file, Read_File* read) {
    gp_free(&file->text.storage);
    file->text.storage = read->storage;
    file->text.data = read->count ? read->storage.memory : nullptr;
    file->text.count = (u32)read->count;
    file->text.capacity = (u32)read->storage.size;
    view_index_forget(file);
}

static void clamp_to_text(s64* offset, s64 count) {
    if (*offset > count) *offset = count;
    if (*offset < 0) *offset = 0;
}

//~ Loading and reloading

b8 load_file(Filepath* path, Editor_File* file) {
    spin_lock(&file->lock);
    if (path->count == 0) {
        add_log(nullptr, LOG_ERROR, "Could not open a file: the path is empty.");
        spin_unlock(&file->lock);
        return false;
    }
    String joined = filepath_to_tmp_string(path);
    Read_File read;
    if (!joined.data || !read_whole_file((char*)joined.data, &read)) {
        spin_unlock(&file->lock);
        return false;
    }

    Filepath_Component* last = &path->components[path->count - 1];
    memcpy(file->name_storage, last->storage, last->length);
    file->name = String{file->name_storage, (s64)last->length};
    set_filepath_from(&file->directory, path);
    file->directory.count--;

    replace_text(file, &read);
    editor_forget_lexer_states(file);
    file->modification_time = read.modification_time;
    if (file->text.count) editor_set_cursor(file, 0);
    if (custom_layer_has_block(LAYER_HAS_SYNTAX)) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
    current_file = file;
    if (file->scroll_bar) file->scroll_bar[0] = 0;
    atomic_and_u16(&file->flags, (u16)~FILE_MODIFIED);
    spin_unlock(&file->lock);
    return true;
}

b8 reload_file(Editor_File* file) {
    if (atomic_load_u16(&file->flags) & FILE_GONE_FROM_DISK) return false;
    String path = get_file_path_tmp(file);
    Read_File read;
    if (!path.data || !read_whole_file((char*)path.data, &read)) {
        // The text stays; the watcher flags the file again when it changes again.
        atomic_and_u16(&file->flags, (u16)~FILE_CHANGED_ON_DISK);
        return false;
    }
    free_undo_records(file);
    spin_lock(&tabs_read_lock);  // the watcher compares these two with the disk
    replace_text(file, &read);
    file->modification_time = read.modification_time;
    spin_unlock(&tabs_read_lock);
    editor_forget_lexer_states(file);
    atomic_and_u16(&file->flags, (u16)~FILE_GONE_FROM_DISK);
    s64 count = file->text.count;
    if (file->cursor > count) editor_set_cursor(file, 0);
    clamp_to_text(&file->selection_anchor, count);
    clamp_to_text(&file->previous_cursor, count);
    if (custom_layer_has_block(LAYER_HAS_SYNTAX)) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
    atomic_and_u16(&file->flags, (u16)~FILE_CHANGED_ON_DISK);
    return true;
}

//~ Saving

static b8 write_text_to_disk(Editor_File* file) {
    if (file->directory.count == 0) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%.*s\": it has no path yet.", (int)file->name.count, (char*)file->name.data);
        return false;
    }
    String path = get_file_path_tmp(file);
    if (!path.data) return false;

    // The target is what a symlink points at, so the link itself stays.
    String target = path;
    struct stat st;
    b8 exists = lstat((char*)path.data, &st) == 0;
    if (!exists && errno != ENOENT) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)path.data, strerror(errno));
        return false;
    }
    if (exists && S_ISLNK(st.st_mode)) {
        String directory, name;
        if (!os_get_full_filepath(path.data, path.count, &directory, &name)) {
            add_log(nullptr, LOG_ERROR, "Could not save \"%s\": the link it names leads nowhere.", (char*)path.data);
            return false;
        }
        b8 root = directory.count == 1 && directory.data[0] == '/';
        target = string_concat2(root ? "%%" : "%/%", directory, name);
        if (!target.data || stat((char*)target.data, &st) != 0) {
            add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)path.data, strerror(errno));
            return false;
        }
    }
    if (exists && !S_ISREG(st.st_mode)) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": it is not a regular file.", (char*)target.data);
        return false;
    }
    // Replacing the file by a rename needs only the directory's permission; a file we may
    // not write stays as it is, as it would with a plain write.
    if (exists && access((char*)target.data, W_OK) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)target.data, strerror(errno));
        return false;
    }

    // The temporary file lies in the target's directory so that the rename stays on one
    // file system and replaces the target in one step.
    s64 slash = target.count - 1;
    while (slash >= 0 && target.data[slash] != '/') slash--;
    String directory = slash < 0 ? String{(u8*)".", 1} : String{target.data, slash == 0 ? 1 : slash};
    String name = {target.data + slash + 1, target.count - slash - 1};
    if (name.count > 200) name.count = 200;  // the temporary name must stay within NAME_MAX
    String temporary = string_concat2(slash == 0 ? "%.%.quarn-XXXXXX" : "%/.%.quarn-XXXXXX", directory, name);
    if (!temporary.data) return false;

    const char* failed_step = "creating a temporary file beside it";
    int error = 0;
    int fd = mkostemp((char*)temporary.data, O_CLOEXEC);
    if (fd < 0) error = errno;
    if (!error) {
        failed_step = "writing";
        if (!os_write_all(fd, file->text.data, (u64)file->text.count)) error = errno;
    }
    if (!error && exists) {
        // mkostemp makes the file 0600: give it the target's owner where we may, then its
        // permissions. Both come after the write and the mode last, because a write by an
        // unprivileged user and a change of owner each clear the setuid and setgid bits. A
        // file whose owner we cannot keep loses those bits, as a plain write by another user
        // would. A new file keeps 0600.
        failed_step = "setting its permissions";
        mode_t mode = st.st_mode & 07777;
        if (st.st_uid != geteuid() || st.st_gid != getegid()) {
            if (fchown(fd, st.st_uid, st.st_gid) != 0) mode &= ~(mode_t)(S_ISUID | S_ISGID);
        }
        if (fchmod(fd, mode) != 0) error = errno;
    }
    if (!error) {
        failed_step = "flushing";
        if (fsync(fd) != 0) error = errno;
    }
    if (fd >= 0 && close(fd) != 0 && !error) {
        failed_step = "closing";
        error = errno;
    }
    if (!error) {
        failed_step = "replacing it";
        if (rename((char*)temporary.data, (char*)target.data) != 0) error = errno;
    }
    if (error) {
        if (fd >= 0) unlink((char*)temporary.data);
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\" (%s): %s. The file on disk is unchanged.",
                (char*)target.data, failed_step, strerror(error));
        return false;
    }

    // Make the rename itself durable; the data already is.
    int directory_fd = open((char*)string_concat2("%", directory).data, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory_fd >= 0) {
        fsync(directory_fd);
        close(directory_fd);
    }
    if (stat((char*)target.data, &st) == 0) {
        spin_lock(&tabs_read_lock);  // the watcher compares it with the disk
        file->modification_time = get_whole_modification_time(&st);
        spin_unlock(&tabs_read_lock);
    }
    atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK));
    return true;
}

b8 save_file(Editor_File* file) {
    b8 saved = write_text_to_disk(file);
    if (saved) atomic_and_u16(&file->flags, (u16)~FILE_SAVE_FAILED);
    else atomic_or_u16(&file->flags, FILE_SAVE_FAILED);
    return saved;
}
