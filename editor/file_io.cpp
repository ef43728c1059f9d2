// Loading, reloading and saving. A file is read into fresh memory sized from the
// descriptor actually opened and swapped in only when it was read whole; a save writes a
// temporary file beside the target and renames it over the target only once the text is
// on disk, so a full disk or a quota leaves the old file as it was.

#include "editor/file_io.h"
#include "editor/lexer.h"
#include "editor/tokenisation_hints.h"
#include "foundation/log.h"
#include "editor/editor_settings.h"
#include "foundation/os_files.h"
#include "foundation/meow_hash.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// A text's count is a u32.
#define MAX_TEXT_SIZE 0xFFFFFFFFull

static u64 get_whole_modification_time(struct stat* st) {
    return (u64)st->st_mtim.tv_sec * 1000000000ull + (u64)st->st_mtim.tv_nsec;
}

// What a file on disk is: a save compares it with what the record last read or wrote.
struct Disk_Identity {
    u64 size;
    u64 modification_time;  // whole nanoseconds
    u64 device;
    u64 inode;
};

static Disk_Identity get_disk_identity(struct stat* st) {
    return Disk_Identity{(u64)st->st_size, get_whole_modification_time(st), (u64)st->st_dev, (u64)st->st_ino};
}

static Disk_Identity get_remembered_identity(Editor_File* file) {
    return Disk_Identity{file->disk_size, file->modification_time, file->disk_device, file->disk_inode};
}

// Never 0, which stands for none.
static u64 hash_identity(Disk_Identity identity) {
    u64 hash = MeowHash(sizeof(identity), (u8*)&identity).low;
    return hash ? hash : 1;
}

static b8 same_identity(Disk_Identity a, Disk_Identity b) {
    return a.size == b.size && a.modification_time == b.modification_time && a.device == b.device && a.inode == b.inode;
}

static b8 identity_known(Disk_Identity a) { return a.device || a.inode || a.modification_time || a.size; }

// Called with tabs_read_lock held where the watcher may look.
static void set_remembered_identity(Editor_File* file, Disk_Identity identity) {
    file->modification_time = identity.modification_time;
    file->disk_size = identity.size;
    file->disk_device = identity.device;
    file->disk_inode = identity.inode;
    file->refused_disk = 0;
}

// The new state of the file on disk, under the lock the watcher compares it by.
static void remember_disk_identity(Editor_File* file, Disk_Identity identity) {
    spin_lock(&tabs_read_lock);
    set_remembered_identity(file, identity);
    spin_unlock(&tabs_read_lock);
    atomic_and_u16(&file->flags, (u16)~FILE_SAVE_REFUSED);
}

String get_file_path_tmp(Editor_File* file) {
    String directory = filepath_to_tmp_string(&file->directory);
    if (directory.count == 0) return string_concat2("%", file->name);
    b8 ends_with_separator = directory.data[directory.count - 1] == '/';
    return string_concat2(ends_with_separator ? "%%" : "%/%", directory, file->name);
}

// The absolute path that path leads to through every link, NUL-terminated in temporary
// memory; empty when it leads nowhere.
static String get_resolved_path_tmp(String path) {
    String directory, name;
    if (!os_get_full_filepath(path.data, (u64)path.count, &directory, &name)) return String{};
    b8 root = directory.count == 1 && directory.data[0] == '/';
    return string_concat2(root ? "%%" : "%/%", directory, name);
}

// Never 0, which stands for no link.
static u64 hash_link_target(String resolved) {
    u64 hash = MeowHash((u64)resolved.count, resolved.data).low;
    return hash ? hash : 1;
}

// What a save may later write through at path, which was just read (identity): where the
// name leads when it is a symlink that still leads to the file read, else 0.
static u64 get_link_of_name(String path, Disk_Identity read) {
    struct stat st;
    if (lstat((char*)path.data, &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    u64 saved = tmp_get_used();
    String resolved = get_resolved_path_tmp(path);
    u64 link = 0;
    // A link changed since the read is not the one read through: no save follows it.
    if (resolved.count && stat((char*)resolved.data, &st) == 0 && (u64)st.st_dev == read.device &&
        (u64)st.st_ino == read.inode) {
        link = hash_link_target(resolved);
    }
    tmp_set_used(saved);
    return link;
}

//~ Temporaries of saves that never ended

u64 editor_start_time;

// The longest target name a temporary carries, so that it stays within NAME_MAX.
#define SAVE_TEMPORARY_NAME_LIMIT 200
#define SAVE_TEMPORARY_MARK ".quarn-"
#define SAVE_TEMPORARY_RANDOM 6  // mkostemp's "XXXXXX"

static b8 is_temporary_of(const char* entry, String name) {
    u64 length = strlen(entry);
    u64 mark = sizeof(SAVE_TEMPORARY_MARK) - 1;
    if (length != 1 + (u64)name.count + mark + SAVE_TEMPORARY_RANDOM || entry[0] != '.') return false;
    if (memcmp(entry + 1, name.data, (u64)name.count) != 0) return false;
    if (memcmp(entry + 1 + name.count, SAVE_TEMPORARY_MARK, mark) != 0) return false;
    for (const char* c = entry + 1 + name.count + mark; *c; c++) {
        b8 alphanumeric = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z');
        if (!alphanumeric) return false;
    }
    return true;
}

// Removes ".NAME.quarn-XXXXXX" files in directory that a save killed before its rename left
// behind: regular files last changed before this editor started, which no running save
// holds (a save keeps its temporary locked until the rename).
static void remove_stale_save_temporaries(String directory, String name) {
    if (!editor_start_time || name.count == 0) return;
    if (name.count > SAVE_TEMPORARY_NAME_LIMIT) name.count = SAVE_TEMPORARY_NAME_LIMIT;
    u64 saved = tmp_get_used();
    char* directory_c = to_tmp_c_string(directory);
    int directory_fd = directory_c ? open(directory_c, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR* stream = directory_fd >= 0 ? fdopendir(directory_fd) : nullptr;
    if (!stream) {
        if (directory_fd >= 0) close(directory_fd);
        tmp_set_used(saved);
        return;
    }
    while (struct dirent* entry = readdir(stream)) {
        if (!is_temporary_of(entry->d_name, name)) continue;
        int fd = openat(directory_fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st, now;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && get_whole_modification_time(&st) < editor_start_time &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && fstatat(directory_fd, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == st.st_dev && now.st_ino == st.st_ino && unlinkat(directory_fd, entry->d_name, 0) == 0) {
            add_log(nullptr, LOG_INFO, "Removed \"%s/%s\", left by a save that never ended.", directory_c, entry->d_name);
        }
        close(fd);
    }
    closedir(stream);
    tmp_set_used(saved);
}

//~ Reading

struct Read_File {
    Gp_Allocation storage;  // size 0 for an empty file
    s64 count;
    Disk_Identity identity;  // of the descriptor read
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
    out->identity = get_disk_identity(&st);
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

    String real_directory, real_name;
    if (os_get_full_filepath(joined.data, (u64)joined.count, &real_directory, &real_name)) {
        remove_stale_save_temporaries(real_directory, real_name);
    }

    Filepath_Component* last = &path->components[path->count - 1];
    memcpy(file->name_storage, last->storage, last->length);
    file->name = String{file->name_storage, (s64)last->length};
    set_filepath_from(&file->directory, path);
    file->directory.count--;

    replace_text(file, &read);
    editor_forget_lexer_states(file);
    set_remembered_identity(file, read.identity);
    file->disk_link = get_link_of_name(joined, read.identity);
    atomic_and_u16(&file->flags, (u16)~FILE_SAVE_REFUSED);
    if (file->text.count) editor_set_cursor(file, 0);
    if (layer_has_syntax_block()) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
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
    spin_lock(&tabs_read_lock);  // the watcher compares the size and the time with the disk
    replace_text(file, &read);
    set_remembered_identity(file, read.identity);
    spin_unlock(&tabs_read_lock);
    atomic_and_u16(&file->flags, (u16)~FILE_SAVE_REFUSED);
    editor_forget_lexer_states(file);
    atomic_and_u16(&file->flags, (u16)~FILE_GONE_FROM_DISK);
    s64 count = file->text.count;
    if (file->cursor > count) editor_set_cursor(file, 0);
    clamp_to_text(&file->selection_anchor, count);
    clamp_to_text(&file->previous_cursor, count);
    if (layer_has_syntax_block()) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
    atomic_and_u16(&file->flags, (u16)~FILE_CHANGED_ON_DISK);
    return true;
}

//~ Saving

// Whether an earlier refused save already showed the user this state of the disk (seen, a
// hash); when not, this refusal shows it, and the tab marks the file.
static b8 shown_by_refused_save(Editor_File* file, u64 seen) {
    if ((atomic_load_u16(&file->flags) & FILE_SAVE_REFUSED) && file->refused_disk == seen) return true;
    file->refused_disk = seen;
    atomic_or_u16(&file->flags, FILE_SAVE_REFUSED);
    return false;
}

// Whether the file at target (a stat of it in st) may be replaced: it must still be what
// the record last read or wrote, or what an earlier refused save already showed the user.
// A file the record knows nothing of, or one that is gone, stands in no one's way.
static b8 disk_unchanged_or_seen(Editor_File* file, struct stat* st, const char* target) {
    Disk_Identity now = get_disk_identity(st);
    Disk_Identity remembered = get_remembered_identity(file);
    if (!identity_known(remembered) || same_identity(now, remembered)) return true;
    if (shown_by_refused_save(file, hash_identity(now))) return true;
    add_log(nullptr, LOG_ERROR,
            "Did not save \"%s\": it changed on disk since it was read or saved here. The file on disk is unchanged; "
            "save again to replace it.", target);
    return false;
}

// Whether the link at path (an lstat of it in st), which the record has not seen there,
// may be replaced by the new file: only once a refused save has shown it. resolved is
// where it leads, empty for nowhere.
static b8 new_link_seen(Editor_File* file, struct stat* st, const char* path, String resolved) {
    if (shown_by_refused_save(file, hash_identity(get_disk_identity(st)))) return true;
    const char* after = "Nothing was written; save again to put a new file in place of the link, leaving what it "
                        "leads to as it is.";
    if (resolved.count) {
        add_log(nullptr, LOG_ERROR,
                "Did not save \"%s\": it is now a symbolic link to \"%s\", which is not what it was when it was read "
                "or saved here. %s", path, (char*)resolved.data, after);
    } else {
        add_log(nullptr, LOG_ERROR,
                "Did not save \"%s\": it is now a symbolic link that leads nowhere, which it was not when it was "
                "read or saved here. %s", path, after);
    }
    return false;
}

// *refused is set when the save was refused for what it found on disk, not failed.
static b8 write_text_to_disk(Editor_File* file, b8 check_disk, b8* refused) {
    *refused = false;
    if (file->directory.count == 0) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%.*s\": it has no path yet.", (int)file->name.count, (char*)file->name.data);
        return false;
    }
    String path = get_file_path_tmp(file);
    if (!path.data) return false;

    // The target is what a symlink points at, so the link itself stays. A link that was not
    // at the name, or led elsewhere, when the record last read or wrote the file is never
    // followed, as its target may be anyone's file: once a refused save has shown it, the
    // new file takes the link's place. The rename replaces whatever is at the name then
    // without following it.
    String target = path;
    struct stat st;
    b8 exists = lstat((char*)path.data, &st) == 0;
    if (!exists && errno != ENOENT) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)path.data, strerror(errno));
        return false;
    }
    b8 replaces_link = false;
    if (exists && S_ISLNK(st.st_mode)) {
        String resolved = get_resolved_path_tmp(path);
        b8 known = !check_disk || !identity_known(get_remembered_identity(file)) ||
                   (resolved.count && hash_link_target(resolved) == file->disk_link);
        // One that leads nowhere where a link was may be that link with its file gone: it
        // stays, as does the link the user chose.
        if (!resolved.count && (known || file->disk_link)) {
            add_log(nullptr, LOG_ERROR, "Could not save \"%s\": the link it names leads nowhere.", (char*)path.data);
            return false;
        }
        if (!known) {
            if (!new_link_seen(file, &st, (char*)path.data, resolved)) {
                *refused = true;
                return false;
            }
            replaces_link = true;
        } else {
            target = resolved;
            if (stat((char*)target.data, &st) != 0) {
                add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)path.data, strerror(errno));
                return false;
            }
        }
    }
    // An existing file the new one takes the place of, keeping its permissions.
    b8 replaces_file = exists && !replaces_link;
    if (replaces_file && !S_ISREG(st.st_mode)) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": it is not a regular file.", (char*)target.data);
        return false;
    }
    if (replaces_file && check_disk && !disk_unchanged_or_seen(file, &st, (char*)target.data)) {
        *refused = true;
        return false;
    }
    // Replacing the file by a rename needs only the directory's permission; a file we may
    // not write stays as it is, as it would with a plain write.
    if (replaces_file && access((char*)target.data, W_OK) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not save \"%s\": %s", (char*)target.data, strerror(errno));
        return false;
    }

    // The temporary file lies in the target's directory so that the rename stays on one
    // file system and replaces the target in one step.
    s64 slash = target.count - 1;
    while (slash >= 0 && target.data[slash] != '/') slash--;
    String directory = slash < 0 ? String{(u8*)".", 1} : String{target.data, slash == 0 ? 1 : slash};
    String name = {target.data + slash + 1, target.count - slash - 1};
    remove_stale_save_temporaries(directory, name);
    if (name.count > SAVE_TEMPORARY_NAME_LIMIT) name.count = SAVE_TEMPORARY_NAME_LIMIT;
    String temporary = string_concat2(slash == 0 ? "%.%" SAVE_TEMPORARY_MARK "XXXXXX" : "%/.%" SAVE_TEMPORARY_MARK "XXXXXX",
                                      directory, name);
    if (!temporary.data) return false;

    const char* failed_step = "creating a temporary file beside it";
    int error = 0;
    int fd = mkostemp((char*)temporary.data, O_CLOEXEC);
    // Locked until the rename, through a second descriptor that outlives the checked close:
    // another editor's clean-up leaves a temporary alone while it is held.
    int lock_fd = -1;
    if (fd < 0) error = errno;
    else if (flock(fd, LOCK_EX) == 0) lock_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (!error) {
        failed_step = "writing";
        if (!os_write_all(fd, file->text.data, (u64)file->text.count)) error = errno;
    }
    if (!error && replaces_file) {
        // mkostemp makes the file 0600: give it the target's owner where we may, then its
        // permissions. Both come after the write and the mode last, because a write by an
        // unprivileged user and a change of owner each clear the setuid and setgid bits. A
        // file whose owner we cannot keep loses those bits, as a plain write by another user
        // would. A new file, also one in place of a link, keeps 0600.
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
    if (lock_fd >= 0) close(lock_fd);
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
    if (replaces_link) {
        add_log(nullptr, LOG_INFO, "Saved \"%s\" as a new file in place of the symbolic link there; what the link led to "
                "was not written.", (char*)path.data);
    }
    // What was written, as the disk has it now: the next save compares with this.
    file->disk_link = target.data != path.data ? hash_link_target(target) : 0;
    if (stat((char*)target.data, &st) == 0) remember_disk_identity(file, get_disk_identity(&st));
    else remember_disk_identity(file, Disk_Identity{});
    atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK));
    return true;
}

static b8 save_and_mark(Editor_File* file, b8 check_disk) {
    b8 refused;
    b8 saved = write_text_to_disk(file, check_disk, &refused);
    // A refused save is no failure to write: its tab shows the change on disk instead. A
    // save let through by an earlier refusal that then fails to write is a failure.
    if (saved || refused) atomic_and_u16(&file->flags, (u16)~FILE_SAVE_FAILED);
    else atomic_or_u16(&file->flags, FILE_SAVE_FAILED);
    return saved;
}

b8 save_file(Editor_File* file) { return save_and_mark(file, true); }

b8 save_file_over(Editor_File* file) { return save_and_mark(file, false); }
