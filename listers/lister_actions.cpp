// Deleting and saving from the file lister. A delete works from directory descriptors so
// that nothing swapped in after the listing (a link in place of a directory) is followed,
// and it refuses targets whose loss would take the user's home or work along.

#include "listers/lister_actions.h"
#include "runtime/custom_layer.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

String get_file_lister_item_path_tmp(String directory, File_Lister_Item* item) {
    b8 root = directory.count == 1 && directory.data[0] == '/';
    if (item->relative_directory.count > 0) {
        return string_concat2(root ? "%%/%" : "%/%/%", directory, item->relative_directory, item->name);
    }
    return string_concat2(root ? "%%" : "%/%", directory, item->name);
}

//~ Deleting

// Past this depth a tree is left in place (logged): every level holds a descriptor open.
#define DELETE_MAX_DEPTH 400

// At most this many leftovers are logged one by one; the rest only count.
#define DELETE_LOGGED_LEFTOVERS 16

struct Delete_Report {
    u32 leftovers;
};

static void note_leftover(Delete_Report* report, String directory, const char* name, const char* reason) {
    if (report->leftovers++ < DELETE_LOGGED_LEFTOVERS) {
        add_log(nullptr, LOG_ERROR, "Could not delete \"%.*s/%s\": %s", (int)directory.count, (char*)directory.data, name, reason);
    }
}

// Removes everything inside the open directory fd (which it closes); path is for the log.
static void remove_directory_contents(int fd, dev_t device, String path, u32 depth, Delete_Report* report) {
    DIR* stream = fdopendir(fd);
    if (!stream) {
        close(fd);
        note_leftover(report, path, ".", strerror(errno));
        return;
    }
    while (struct dirent* entry = readdir(stream)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        struct stat st;
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) note_leftover(report, path, name, strerror(errno));
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            // Files, links, FIFOs, sockets and devices: the entry goes, never what it names.
            if (unlinkat(fd, name, 0) != 0 && errno != ENOENT) note_leftover(report, path, name, strerror(errno));
            continue;
        }
        if (st.st_dev != device) {
            note_leftover(report, path, name, "it is on another file system and was kept");
            continue;
        }
        if (depth + 1 >= DELETE_MAX_DEPTH) {
            note_leftover(report, path, name, "the tree is too deep");
            continue;
        }
        int child = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat opened;
        if (child < 0 || fstat(child, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
            // Replaced since it was examined: leave whatever is there now.
            note_leftover(report, path, name, child < 0 ? strerror(errno) : "it changed while being deleted");
            if (child >= 0) close(child);
            continue;
        }
        u64 saved = tmp_get_used();
        String child_path = string_concat2("%/%", path, string_from_c(name));
        remove_directory_contents(child, device, child_path, depth + 1, report);
        tmp_set_used(saved);
        if (unlinkat(fd, name, AT_REMOVEDIR) != 0) note_leftover(report, path, name, strerror(errno));
    }
    closedir(stream);
}

b8 os_delete_directory(u8* path, u64 length) {
    u64 saved = tmp_get_used();
    while (length > 1 && path[length - 1] == '/') length--;
    s64 slash = (s64)length - 1;
    while (slash >= 0 && path[slash] != '/') slash--;
    String parent = slash < 0 ? STR(".") : String{path, slash == 0 ? 1 : slash};
    String name = {path + slash + 1, (s64)length - slash - 1};
    String whole = {path, (s64)length};
    char* parent_c = to_tmp_c_string(parent);
    char* name_c = to_tmp_c_string(name);
    if (!parent_c || !name_c || name.count == 0 || strings_equal(name, STR(".")) || strings_equal(name, STR(".."))) {
        add_log(nullptr, LOG_ERROR, "Refused to delete the directory \"%.*s\".", (int)whole.count, (char*)whole.data);
        tmp_set_used(saved);
        return false;
    }

    int parent_fd = open(parent_c, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = parent_fd >= 0 ? openat(parent_fd, name_c, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        // ELOOP or ENOTDIR: a link or a file stands there now.
        add_log(nullptr, LOG_ERROR, "Could not delete the directory \"%.*s\": %s", (int)whole.count, (char*)whole.data,
                strerror(errno));
        if (fd >= 0) close(fd);
        if (parent_fd >= 0) close(parent_fd);
        tmp_set_used(saved);
        return false;
    }

    Delete_Report report = {};
    remove_directory_contents(fd, st.st_dev, whole, 0, &report);
    if (unlinkat(parent_fd, name_c, AT_REMOVEDIR) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not delete the directory \"%.*s\": %s", (int)whole.count, (char*)whole.data,
                strerror(errno));
        report.leftovers++;
    }
    close(parent_fd);
    if (report.leftovers > DELETE_LOGGED_LEFTOVERS) {
        add_log(nullptr, LOG_ERROR, "%u entries under \"%.*s\" were not deleted.", report.leftovers, (int)whole.count,
                (char*)whole.data);
    }
    tmp_set_used(saved);
    return report.leftovers == 0;
}

// True when the directory at `real` (a resolved path) is `kept` or one of its ancestors.
static b8 directory_holds(const char* real, const char* kept) {
    char resolved[PATH_MAX];
    if (!kept || !kept[0] || !realpath(kept, resolved)) return false;
    u64 n = strlen(real);
    if (n == 1 && real[0] == '/') return true;
    return strncmp(resolved, real, n) == 0 && (resolved[n] == 0 || resolved[n] == '/');
}

b8 delete_file_lister_entry(String path, u8 kind, String* kept_directories, u32 kept_count) {
    u64 saved = tmp_get_used();
    char* c_path = path.count > 0 ? to_tmp_c_string(path) : nullptr;
    if (!c_path) {
        add_log(nullptr, LOG_ERROR, "Refused to delete an entry without a name.");
        tmp_set_used(saved);
        return false;
    }
    b8 deleted = false;
    struct stat st;
    if (lstat(c_path, &st) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not delete \"%s\": %s", c_path, strerror(errno));
    } else if (S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && kind == FILE_LISTER_FILE)) {
        // A link goes itself, whatever it points at.
        deleted = unlink(c_path) == 0;
        if (!deleted) add_log(nullptr, LOG_ERROR, "Could not delete \"%s\": %s", c_path, strerror(errno));
    } else if (!S_ISDIR(st.st_mode) || kind != FILE_LISTER_DIRECTORY) {
        add_log(nullptr, LOG_ERROR, "Refused to delete \"%s\": it is no longer what was listed.", c_path);
    } else {
        char real[PATH_MAX];
        b8 refused = !realpath(c_path, real) || (real[0] == '/' && real[1] == 0);
        char working[PATH_MAX];
        if (!refused) refused = directory_holds(real, getenv("HOME"));
        if (!refused && getcwd(working, sizeof(working))) refused = directory_holds(real, working);
        for (u32 i = 0; !refused && i < kept_count; i++) {
            char* kept = kept_directories[i].count > 0 ? to_tmp_c_string(kept_directories[i]) : nullptr;
            refused = directory_holds(real, kept);
        }
        if (refused) {
            add_log(nullptr, LOG_ERROR,
                    "Refused to delete \"%s\": it is the root, or is or holds the home, working or listed directory.",
                    c_path);
        } else {
            deleted = os_delete_directory((u8*)c_path, (u64)path.count);
        }
    }
    tmp_set_used(saved);
    return deleted;
}

//~ Saving under a new name

b8 save_file_as(Editor_File* file, String directory, String name, u8* path_lock) {
    if (!is_valid_new_file_name(name)) {
        add_log(nullptr, LOG_ERROR, "Could not save as \"%.*s\": it is not one valid file name.", (int)name.count,
                (char*)name.data);
        return false;
    }
    u64 saved = tmp_get_used();
    Filepath* target = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), 64);
    // save_file writes a record's text to its own path: a copy carrying the new path writes
    // it there, and the real record changes only once the file is on disk.
    Editor_File* copy = (Editor_File*)tmp_allocate_aligned(sizeof(Editor_File), 64);
    b8 saved_whole = false;
    if (target && copy && string_to_filepath(target, directory.data, directory.count) && target->count > 0) {
        memcpy(copy, file, sizeof(*copy));
        set_filepath_from(&copy->directory, target);
        memcpy(copy->name_storage, name.data, (u64)name.count);
        copy->name = String{copy->name_storage, name.count};
        saved_whole = save_file(copy);
    }
    if (saved_whole) {
        if (path_lock) spin_lock(path_lock);
        set_filepath_from(&file->directory, target);
        memcpy(file->name_storage, name.data, (u64)name.count);
        file->name = String{file->name_storage, name.count};
        file->modification_time = copy->modification_time;
        atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK));
        if (custom_layer_has_block(LAYER_HAS_SYNTAX)) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
        if (path_lock) spin_unlock(path_lock);
    }
    tmp_set_used(saved);
    return saved_whole;
}
