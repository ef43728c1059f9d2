// Deleting and saving from the file lister. A delete works from directory descriptors so
// that nothing swapped in after the listing (a link in place of a directory) is followed,
// and it refuses targets whose loss would take the user's home or work along.

#include "listers/lister_actions.h"
#include "listers/search.h"
#include "listers/lister_panels.h"
#include "editor/editor_settings.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "ui/ui_state.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
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

// Where a delete may go: the file system and the mount of the directory it began in. A
// bind mount shows a part of the same file system (same device) under another mount id.
struct Delete_Bounds {
    dev_t device;
    u64 mount_id;
    b8 knows_mount_id;
};

struct Delete_Report {
    u32 leftovers;
};

static void note_leftover(Delete_Report* report, String directory, const char* name, const char* reason) {
    if (report->leftovers++ < DELETE_LOGGED_LEFTOVERS) {
        add_log(nullptr, LOG_ERROR, "Could not delete \"%.*s/%s\": %s", (int)directory.count, (char*)directory.data, name, reason);
    }
}

// Null when the open directory fd lies inside the bounds; otherwise why it is kept.
static const char* outside_bounds(int fd, struct stat* status, Delete_Bounds* bounds) {
    if (status->st_dev != bounds->device) return "it is on another file system and was kept";
    u64 mount_id;
    if (bounds->knows_mount_id && os_get_mount_id(fd, &mount_id) && mount_id != bounds->mount_id) {
        return "it is mounted there from elsewhere and was kept";
    }
    return nullptr;
}

// Removes everything inside the open directory fd (which it closes); path is for the log.
static void remove_directory_contents(int fd, Delete_Bounds* bounds, String path, u32 depth, Delete_Report* report) {
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
        if (st.st_dev != bounds->device) {
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
        if (const char* kept = outside_bounds(child, &opened, bounds)) {
            note_leftover(report, path, name, kept);
            close(child);
            continue;
        }
        u64 saved = tmp_get_used();
        String child_path = string_concat2("%/%", path, string_from_c(name));
        remove_directory_contents(child, bounds, child_path, depth + 1, report);
        tmp_set_used(saved);
        if (unlinkat(fd, name, AT_REMOVEDIR) != 0) note_leftover(report, path, name, strerror(errno));
    }
    closedir(stream);
}

// Removes the directory `name` of the open directory parent_fd with everything in it. The
// directory is opened without following a link and must be the one `expected` describes
// when that is given; nothing on another file system or mount below it is entered. whole
// is its path, for the log.
static b8 delete_directory_at(int parent_fd, const char* name, struct stat* expected, String whole) {
    int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    const char* problem = nullptr;
    if (fd < 0 || fstat(fd, &st) != 0) {
        // ELOOP or ENOTDIR: a link or a file stands there now.
        problem = strerror(errno);
    } else if (expected && (st.st_dev != expected->st_dev || st.st_ino != expected->st_ino)) {
        problem = "it is no longer what was listed";
    }
    Delete_Bounds bounds = {};
    struct stat parent;
    if (!problem) {
        bounds.device = st.st_dev;
        bounds.knows_mount_id = os_get_mount_id(fd, &bounds.mount_id);
        // A mount point itself: only its contents could go, and they are not the parent's.
        u64 parent_mount;
        if (fstat(parent_fd, &parent) == 0 && parent.st_dev != st.st_dev) {
            problem = "it is a mount point";
        } else if (bounds.knows_mount_id && os_get_mount_id(parent_fd, &parent_mount) && parent_mount != bounds.mount_id) {
            problem = "it is a mount point";
        }
    }
    if (problem) {
        add_log(nullptr, LOG_ERROR, "Could not delete the directory \"%.*s\": %s", (int)whole.count, (char*)whole.data,
                problem);
        if (fd >= 0) close(fd);
        return false;
    }

    Delete_Report report = {};
    remove_directory_contents(fd, &bounds, whole, 0, &report);
    if (unlinkat(parent_fd, name, AT_REMOVEDIR) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not delete the directory \"%.*s\": %s", (int)whole.count, (char*)whole.data,
                strerror(errno));
        report.leftovers++;
    }
    if (report.leftovers > DELETE_LOGGED_LEFTOVERS) {
        add_log(nullptr, LOG_ERROR, "%u entries under \"%.*s\" were not deleted.", report.leftovers, (int)whole.count,
                (char*)whole.data);
    }
    return report.leftovers == 0;
}

static b8 is_dot_or_dot_dot(String name) { return strings_equal(name, STR(".")) || strings_equal(name, STR("..")); }

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
    if (!parent_c || !name_c || name.count == 0 || is_dot_or_dot_dot(name)) {
        add_log(nullptr, LOG_ERROR, "Refused to delete the directory \"%.*s\".", (int)whole.count, (char*)whole.data);
        tmp_set_used(saved);
        return false;
    }
    int parent_fd = open(parent_c, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    b8 deleted = false;
    if (parent_fd < 0) {
        add_log(nullptr, LOG_ERROR, "Could not delete the directory \"%.*s\": %s", (int)whole.count, (char*)whole.data,
                strerror(errno));
    } else {
        deleted = delete_directory_at(parent_fd, name_c, nullptr, whole);
        close(parent_fd);
    }
    tmp_set_used(saved);
    return deleted;
}

static b8 same_entry(struct stat* st, u64 device, u64 inode) { return (u64)st->st_dev == device && (u64)st->st_ino == inode; }

// True when the directory `target` is the directory at `kept` or one of its ancestors:
// the walk goes up from kept through "..", comparing identities, so no spelling of either
// path (links, "..") matters.
static b8 directory_holds(struct stat* target, const char* kept) {
    if (!kept || !kept[0]) return false;
    int fd = open(kept, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    b8 holds = false;
    for (u32 level = 0; fd >= 0 && level < 4096; level++) {
        struct stat here;
        if (fstat(fd, &here) != 0) break;
        if (here.st_dev == target->st_dev && here.st_ino == target->st_ino) {
            holds = true;
            break;
        }
        int up = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat above;
        if (up < 0 || fstat(up, &above) != 0 || (above.st_dev == here.st_dev && above.st_ino == here.st_ino)) {
            // The root is its own parent.
            if (up >= 0) close(up);
            break;
        }
        close(fd);
        fd = up;
    }
    if (fd >= 0) close(fd);
    return holds;
}

// Opens the directory the item was read from, reached from the listed directory one
// component at a time without following a link, and checks that it is the directory the
// walk read. -1 (logged) otherwise.
static int open_item_parent(String directory, File_Lister_Item* item, String shown) {
    u64 saved = tmp_get_used();
    char* directory_c = to_tmp_c_string(directory);
    int fd = directory_c ? open(directory_c, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    const char* problem = fd < 0 ? strerror(errno) : nullptr;
    String rest = item->relative_directory;
    while (!problem && rest.count > 0) {
        s64 end = 0;
        while (end < rest.count && rest.data[end] != '/') end++;
        String component = {rest.data, end};
        rest = end < rest.count ? String{rest.data + end + 1, rest.count - end - 1} : String{};
        char* component_c = to_tmp_c_string(component);
        if (!component_c || component.count == 0 || is_dot_or_dot_dot(component)) {
            problem = "its path is not one the lister makes";
            break;
        }
        int next = openat(fd, component_c, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) problem = errno == ELOOP || errno == ENOTDIR ? "a directory on its path was replaced" : strerror(errno);
        close(fd);
        fd = next;
    }
    struct stat st;
    if (!problem && (fstat(fd, &st) != 0 || !same_entry(&st, item->parent_device, item->parent_inode))) {
        problem = "the directory that holds it was replaced";
    }
    if (problem) {
        add_log(nullptr, LOG_ERROR, "Refused to delete \"%.*s\": %s.", (int)shown.count, (char*)shown.data, problem);
        if (fd >= 0) close(fd);
        fd = -1;
    }
    tmp_set_used(saved);
    return fd;
}

b8 delete_file_lister_entry(String directory, File_Lister_Item* item, String* kept_directories, u32 kept_count) {
    u64 saved = tmp_get_used();
    String shown = get_file_lister_item_path_tmp(directory, item);
    char* name_c = to_tmp_c_string(item->name);
    if (!shown.data || !name_c || item->name.count == 0 || is_dot_or_dot_dot(item->name) || item->new_file ||
        memchr(item->name.data, '/', (u64)item->name.count)) {
        add_log(nullptr, LOG_ERROR, "Refused to delete an entry without a name of its own.");
        tmp_set_used(saved);
        return false;
    }
    int parent_fd = open_item_parent(directory, item, shown);
    if (parent_fd < 0) {
        tmp_set_used(saved);
        return false;
    }

    b8 deleted = false;
    struct stat st;
    if (fstatat(parent_fd, name_c, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not delete \"%s\": %s", (char*)shown.data, strerror(errno));
    } else if (!same_entry(&st, item->device, item->inode) || (u8)((st.st_mode & S_IFMT) >> 12) != item->entry_type) {
        add_log(nullptr, LOG_ERROR, "Refused to delete \"%s\": it is no longer what was listed.", (char*)shown.data);
    } else if (S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && item->kind == FILE_LISTER_FILE)) {
        // A link goes itself, whatever it points at.
        deleted = unlinkat(parent_fd, name_c, 0) == 0;
        if (!deleted) add_log(nullptr, LOG_ERROR, "Could not delete \"%s\": %s", (char*)shown.data, strerror(errno));
    } else if (!S_ISDIR(st.st_mode) || item->kind != FILE_LISTER_DIRECTORY) {
        add_log(nullptr, LOG_ERROR, "Refused to delete \"%s\": it is no longer what was listed.", (char*)shown.data);
    } else {
        struct stat root;
        b8 refused = stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino;
        if (!refused) refused = directory_holds(&st, getenv("HOME"));
        if (!refused) refused = directory_holds(&st, ".");
        for (u32 i = 0; !refused && i < kept_count; i++) {
            char* kept = kept_directories[i].count > 0 ? to_tmp_c_string(kept_directories[i]) : nullptr;
            refused = directory_holds(&st, kept);
        }
        if (refused) {
            add_log(nullptr, LOG_ERROR,
                    "Refused to delete \"%s\": it is the root, or is or holds the home, working or listed directory.",
                    (char*)shown.data);
        } else {
            deleted = delete_directory_at(parent_fd, name_c, &st, shown);
        }
    }
    close(parent_fd);
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
        // The user chose the target by name: whatever is there is replaced.
        saved_whole = save_file_over(copy);
    }
    if (!saved_whole) atomic_or_u16(&file->flags, FILE_SAVE_FAILED);
    if (saved_whole) {
        if (path_lock) spin_lock(path_lock);
        set_filepath_from(&file->directory, target);
        memcpy(file->name_storage, name.data, (u64)name.count);
        file->name = String{file->name_storage, name.count};
        file->modification_time = copy->modification_time;
        file->disk_size = copy->disk_size;
        file->disk_device = copy->disk_device;
        file->disk_inode = copy->disk_inode;
        file->disk_link = copy->disk_link;
        file->refused_disk = 0;
        atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK |
                                            FILE_SAVE_FAILED | FILE_SAVE_REFUSED));
        if (layer_has_syntax_block()) atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
        if (path_lock) spin_unlock(path_lock);
    }
    tmp_set_used(saved);
    return saved_whole;
}

//~ Performing the chosen item

void close_lister() {
    ui_layer_in_focus = 0;
    atomic_and_u64(&global_flags, ~(u64)(SHOW_FILE_LISTER | SHOW_SEARCH_LISTER));
    if (global_search_lister.mode != SEARCH_CLOSED) search_lister_stop_and_wait();
    global_search_lister.mode = SEARCH_CLOSED;
    global_file_lister.directory.count = 0;
    if (!(global_editor_context & CONTEXT_LISTER)) return;
    // An empty tab, a compile-errors or update tab, or none: file editing with no file.
    global_editor_context = CONTEXT_FILE;
    current_file = nullptr;
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_FILE) {
        current_file = tab->file;
    } else if (tab && tab->kind == TAB_TERMINAL) {
        global_editor_context = CONTEXT_TERMINAL;
        current_file = tab->input_line;
    }
}

// The file tab showing path, or null.
static Tab* find_file_tab(String path) {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind != TAB_FILE || !tab->file) continue;
        u64 saved = tmp_get_used();
        b8 same = strings_equal(get_file_path_tmp(tab->file), path);
        tmp_set_used(saved);
        if (same) return tab;
    }
    return nullptr;
}

// The file at path in its tab: the tab that shows it is made current at the next frame,
// else the file is read into a new record, which takes the keyboard, and a tab is queued
// for it. Null when it could not be read (logged).
static Editor_File* open_or_go_to_file(String path) {
    if (Tab* tab = find_file_tab(path)) {
        queue_go_to_tab_command(tab->id);
        return tab->file;
    }
    u64 saved = tmp_get_used();
    Filepath* split = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    Editor_File* file = nullptr;
    if (split && string_to_filepath(split, path.data, path.count) && split->count > 0) {
        file = add_a_file();
        if (file && !load_file(split, file)) {
            close_file(file);
            file = nullptr;
        }
        if (file && !queue_add_tab_command(TAB_FILE, file)) {
            close_file(file);
            file = nullptr;
        }
        if (file) {
            global_editor_context = CONTEXT_FILE;
            current_file = file;
        }
    }
    tmp_set_used(saved);
    return file;
}

static void select_file_lister_item() {
    File_Lister* lister = &global_file_lister;
    File_Lister_List* list = file_lister_get_published_list();
    // Only the list on screen, and only an item the user can see selected.
    if (list->generation != lister->shown_generation) return;
    File_Lister_Item* item = file_lister_get_item(list, lister->selected);
    if (!item) return;
    String path = get_file_lister_item_path_tmp(list->directory, item);
    if (!path.data) return;

    if (lister->purpose == FILE_LISTER_DELETE) {
        String kept[2] = {filepath_to_tmp_string(&editor_working_directory), list->directory};
        delete_file_lister_entry(list->directory, item, kept, 2);
        // Relisted at the next frame with nothing selected, so a second Enter deletes nothing.
        lister->force = 1;
        lister->selected = FILE_LISTER_NO_SELECTION;
        return;
    }
    if (item->kind == FILE_LISTER_DIRECTORY) {
        Filepath* entered = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
        if (!entered || !string_to_filepath(entered, path.data, path.count)) return;
        set_filepath_from(&lister->directory, entered);
        lister->input_line.text.count = 0;
        editor_set_cursor(&lister->input_line, 0);
        return;
    }
    if (lister->purpose == FILE_LISTER_SAVE) {
        Tab* tab = get_current_tab();
        if (tab && tab->kind == TAB_FILE && tab->file) {
            String directory = {path.data, path.count - item->name.count - 1};
            if (directory.count == 0) directory.count = 1;  // the root
            save_file_as(tab->file, directory, item->name, &tabs_read_lock);
        }
        close_lister();
        return;
    }
    open_or_go_to_file(path);
    close_lister();
}

// The hit's text becomes the "With" text as if typed there: a deletion and an insertion,
// each with its undo record. The cursor and a selection's anchor keep to the text they were
// on.
static void replace_text_at(Editor_File* file, s64 offset, s64 length, String with) {
    s64 cursor = file->cursor;
    s64 anchor = file->selection_anchor;
    b8 selecting = (atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE) != 0;
    u32 count_before = file->text.count;
    editor_delete_at(file, offset, length);
    if (file->text.count + (u64)length != count_before) return;  // no memory for its undo record
    if (with.count > 0) {
        update_context_chunks(file, offset);
        atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
        if (editor_insert_octets(file, offset, with.data, with.count)) {
            add_text_insertion_undo(file, offset, with.count, offset, false);
        } else {
            with.count = 0;
        }
    }
    s64 moved = with.count - length;
    if (offset <= cursor) editor_set_cursor(file, cursor + moved);
    if (selecting) {
        s64 count = file->text.count;
        s64 moved_anchor = offset <= anchor ? anchor + moved : anchor;
        file->selection_anchor = moved_anchor < 0 ? 0 : moved_anchor > count ? count : moved_anchor;
    }
    clamp_cursors_to_text(file);
}

// The search is stopped and awaited first, so no thread reads the text while it changes.
// The hit is replaced only when the current tab still shows the searched file and the
// text there is still the query; either way the file is searched again.
static void replace_search_hit(Search_Match hit, String path) {
    Search_Lister* s = &global_search_lister;
    search_lister_stop_and_wait();
    Tab* tab = get_current_tab();
    Editor_File* file = tab && tab->kind == TAB_FILE ? tab->file : nullptr;
    b8 same_file = file && file == s->searched_file && strings_equal(get_file_path_tmp(file), path);
    s64 offset = (s64)hit.offset, length = (s64)hit.length;
    if (same_file && length > 0 && length == s->query.count && offset <= (s64)file->text.count - length &&
        memcmp(file->text.data + offset, s->query.data, (u64)length) == 0) {
        Editor_File* with = &s->replacement_input;
        replace_text_at(file, offset, length, String{with->text.data, (s64)with->text.count});
    }
    s->selected = 0;
    search_lister_search();
}

static void select_search_hit() {
    Search_Lister* s = &global_search_lister;
    Search_Match hit;
    String path;
    if (!search_lister_copy_hit(s->selected, &hit, &path) || !path.data) return;
    if (s->mode == SEARCH_REPLACE) {
        replace_search_hit(hit, path);
        return;
    }
    Editor_File* file = nullptr;
    if (s->mode == SEARCH_IN_FILES) {
        file = open_or_go_to_file(path);
    } else if (s->mode == SEARCH_IN_FILE || s->mode == SEARCH_GO_TO_LINE) {
        // The hit's file must still be the one the current tab shows.
        Tab* tab = get_current_tab();
        if (tab && tab->kind == TAB_FILE && tab->file && strings_equal(get_file_path_tmp(tab->file), path)) {
            file = tab->file;
        }
    }
    if (file) {
        editor_set_cursor(file, (s64)hit.offset);
        atomic_or_u16(&file->flags, FILE_CENTRE_CURSOR);
    }
    close_lister();
}

// Whether the list on screen is older than what was typed: the input's listing has not
// started, has not published yet, or published a list the panel has not drawn.
static b8 file_list_is_behind_the_input() {
    File_Lister* lister = &global_file_lister;
    File_Lister_List* list = file_lister_get_published_list();
    return !file_lister_input_is_listed() || list->listing != lister->listings_started ||
           list->generation != lister->shown_generation;
}

void lister_select_item() {
    if (!(global_editor_context & CONTEXT_LISTER)) return;
    ui_flags |= UI_KEEP_RUNNING;
    u64 saved = tmp_get_used();
    u64 flags = __atomic_load_n(&global_flags, __ATOMIC_ACQUIRE);
    if (flags & SHOW_FILE_LISTER) {
        if (file_list_is_behind_the_input()) global_file_lister.select_pending = 1;
        else select_file_lister_item();
    } else if (flags & SHOW_SEARCH_LISTER) {
        select_search_hit();
    }
    tmp_set_used(saved);
}

void file_lister_select_shown_item() {
    if (!(global_editor_context & CONTEXT_LISTER)) return;
    ui_flags |= UI_KEEP_RUNNING;
    global_file_lister.select_pending = 0;
    u64 saved = tmp_get_used();
    select_file_lister_item();
    tmp_set_used(saved);
}
