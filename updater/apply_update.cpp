// One run of the updater over its directory. Everything in the update data is checked and
// decoded before anything is touched; each file is then written beside its target under
// a temporary name and flushed, and only when all of them are written are they renamed
// over the targets, each target kept under a backup name until every rename has gone
// through. Any failure puts the kept files back, so a failed update leaves the
// installation as it was, and its running editors are stopped only once it has succeeded.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "updater/updater.h"

#define WRITE_ATTEMPTS 3
#define WRITE_RETRY_MILLISECONDS 100

static b8 read_update_data(String directory, Gp_Allocation* data, u64* size, Update_Report* report) {
    char* path = tmp_path_in_directory(directory, string_from_c(UPDATE_DATA_FILENAME));
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    b8 ok = fd >= 0;
    if (ok) {
        // Sized from the open file, so a file that changes after a look at its path
        // cannot overrun the buffer.
        struct stat status;
        ok = fstat(fd, &status) == 0 && gp_allocate(data, (u64)status.st_size + 1) &&
             os_read_all(fd, data->memory, (u64)status.st_size);
        *size = ok ? (u64)status.st_size : 0;
        close(fd);
    }
    if (!ok) return fail_update(report, string_from_c(UPDATE_MESSAGE_CANNOT_READ));
    return true;
}

static char* temporary_path_tmp(String directory, String name) {
    return tmp_path_in_directory(directory, string_concat2("%.new", name));
}

static char* backup_path_tmp(String directory, String name) {
    return tmp_path_in_directory(directory, string_concat2("%.old", name));
}

static b8 write_new_file(const char* path, String content, u32 mode) {
    for (u32 attempt = 0; attempt < WRITE_ATTEMPTS; attempt++) {
        // A stale file from an interrupted run goes first; O_EXCL then never follows a link.
        unlink(path);
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            b8 written = fchmod(fd, mode) == 0 && os_write_all(fd, content.data, (u64)content.count) && fsync(fd) == 0;
            if (close(fd) != 0) written = false;
            if (written) return true;
            unlink(path);
        }
        sleep_milliseconds(WRITE_RETRY_MILLISECONDS);
    }
    return false;
}

static b8 rename_with_retries(const char* from, const char* to) {
    for (u32 attempt = 0; attempt < WRITE_ATTEMPTS; attempt++) {
        if (rename(from, to) == 0) return true;
        sleep_milliseconds(WRITE_RETRY_MILLISECONDS);
    }
    return false;
}

static void remove_new_files(String directory, const Update_Plan* plan, u32 first, u32 end) {
    for (u32 i = first; i < end; i++) {
        char* path = temporary_path_tmp(directory, plan->files[i].name);
        if (path) unlink(path);
    }
}

// How a target was kept while its new file took its place.
enum Kept_Target : u8 {
    TARGET_WAS_ABSENT,  // nothing to put back: the new file goes
    TARGET_LINKED,      // a second name of the old file; the target stayed in place
    TARGET_MOVED,       // renamed aside, where a second name could not be made
};

// Keeps the old target under its backup name. A directory where a release file belongs
// cannot be replaced by a file, so it fails the update here.
static b8 keep_target(const char* target, const char* backup, Kept_Target* kept) {
    struct stat status;
    if (lstat(target, &status) != 0) {
        *kept = TARGET_WAS_ABSENT;
        return errno == ENOENT;
    }
    if (S_ISDIR(status.st_mode)) return false;
    unlink(backup);  // left by an interrupted run
    if (link(target, backup) == 0) {
        *kept = TARGET_LINKED;
        return true;
    }
    if (rename(target, backup) == 0) {
        *kept = TARGET_MOVED;
        return true;
    }
    return false;
}

static void put_target_back(const char* target, const char* backup, Kept_Target kept) {
    if (kept == TARGET_WAS_ABSENT) unlink(target);
    else rename(backup, target);  // replaces the new file in one step
}

static b8 install_files(String directory, const Update_Plan* plan, Update_Report* report) {
    for (u32 i = 0; i < plan->file_count; i++) {
        const Update_File* file = &plan->files[i];
        char* path = temporary_path_tmp(directory, file->name);
        if (!path || !write_new_file(path, file->content, release_file_mode(file->name))) {
            remove_new_files(directory, plan, 0, i);
            return fail_update(report, string_concat2(UPDATE_MESSAGE_CANNOT_WRITE, file->name));
        }
    }

    Kept_Target kept[UPDATE_MAX_FILE_COUNT];
    u32 installed = 0;
    b8 ok = true;
    for (; installed < plan->file_count; installed++) {
        String name = plan->files[installed].name;
        char* from = temporary_path_tmp(directory, name);
        char* to = tmp_path_in_directory(directory, name);
        char* backup = backup_path_tmp(directory, name);
        ok = from && to && backup && keep_target(to, backup, &kept[installed]);
        if (ok && !rename_with_retries(from, to)) {
            if (kept[installed] == TARGET_MOVED) rename(backup, to);
            else if (kept[installed] == TARGET_LINKED) unlink(backup);
            ok = false;
        }
        if (!ok) break;
    }

    for (u32 i = installed; i-- > 0;) {
        String name = plan->files[i].name;
        char* to = tmp_path_in_directory(directory, name);
        char* backup = backup_path_tmp(directory, name);
        if (!to || !backup) continue;
        if (!ok) put_target_back(to, backup, kept[i]);
        else if (kept[i] != TARGET_WAS_ABSENT) unlink(backup);
    }
    if (!ok) {
        remove_new_files(directory, plan, installed, plan->file_count);
        return fail_update(report, string_concat2(UPDATE_MESSAGE_CANNOT_WRITE, plan->files[installed].name));
    }
    return true;
}

static void report_failure(String directory, const Update_Report* report) {
    String line_1 = string_concat2("Quarn Updater v%, data format version v%",
                                   version_to_string(EDITOR_VERSION),
                                   tstring_small("%u", report->format_version));
    String line_2 = string_concat2("ERROR: Failed to properly apply update v% with the following error:\n%",
                                   version_to_string(report->release_version),
                                   report->message);
    String text = string_concat2("%\n%", line_1, line_2);
    char* path = tmp_path_in_directory(directory, string_from_c(UPDATER_ERROR_LOG_FILENAME));
    // A link at that name is never followed, so a planted one cannot make us write elsewhere,
    // and a FIFO without a reader fails the open instead of blocking the updater for good;
    // either way the log is passed over.
    int fd = path ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644) : -1;
    if (fd >= 0) {
        os_write_all(fd, text.data, (u64)text.count);
        close(fd);
    }
    String arguments[] = {STR("notify-send"), STR("-a"), STR("quarn"), line_1, line_2};
    os_launch_program_with_arguments(STR("notify-send"), arguments, ARRAY_COUNT(arguments));
}

String quarn_filepath;

b8 run_update(String directory) {
    char* editor = tmp_path_in_directory(directory, STR("quarn"));
    quarn_filepath = editor ? string_from_c(editor) : String{};
    // Editors that run keep running the editor's file after the update renames another over
    // it, so it is held from before the update until they are stopped; held, its inode
    // number cannot pass to another file meanwhile.
    int replaced_editor = editor ? open(editor, O_PATH | O_CLOEXEC) : -1;
    struct stat replaced_status = {};
    b8 replaced_known = replaced_editor >= 0 && fstat(replaced_editor, &replaced_status) == 0;
    File_Identity replaced = {(u64)replaced_status.st_dev, (u64)replaced_status.st_ino};
    Update_Report report = {};
    Update_Plan plan = {};
    Gp_Allocation data = {};
    u64 data_size = 0;

    b8 ok = read_update_data(directory, &data, &data_size, &report) &&
            check_update_data(data.memory, data_size, &plan, &report, true);
    if (ok) ok = install_files(directory, &plan, &report);

    if (ok) {
        // The files are replaced by renames, which running programs do not notice, so the
        // editors are stopped only once the update cannot fail any more.
        stop_running_editors(directory, replaced_known ? &replaced : nullptr);
        char* update_data_path = tmp_path_in_directory(directory, string_from_c(UPDATE_DATA_FILENAME));
        if (update_data_path) unlink(update_data_path);
        char* changelog = tmp_path_in_directory(directory, STR("changelog.txt"));
        if (quarn_filepath.count && changelog) {
            // Handed over as one argument, whatever characters the directory's path holds.
            String arguments[] = {STR("quarn"), string_from_c(changelog)};
            os_launch_program_with_arguments(quarn_filepath, arguments, ARRAY_COUNT(arguments));
        }
    } else {
        report_failure(directory, &report);
    }
    if (replaced_editor >= 0) close(replaced_editor);
    free_update_plan(&plan);
    gp_free(&data);
    return ok;
}
