// The updater's dealings with other processes: stopping the editors that run from its own
// installation, and starting the editor or the notifier without waiting for them.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "updater/updater.h"

#define PROCESS_STATUS_MAX_SIZE 16384

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

// The value of the line of a /proc/<id>/status text whose key is key; empty when it has none.
static String status_value(String status, String key) {
    s64 at = 0;
    while (at < status.count) {
        s64 end = at;
        while (end < status.count && status.data[end] != '\n') end++;
        s64 start = at;
        while (start < end && is_blank(status.data[start])) start++;
        s64 key_end = start;
        while (key_end < end && !is_blank(status.data[key_end]) && status.data[key_end] != ':') key_end++;
        if (strings_equal(String{status.data + start, key_end - start}, key)) {
            s64 value = key_end;
            while (value < end && status.data[value] != ':') value++;
            if (value < end) value++;
            while (value < end && is_blank(status.data[value])) value++;
            return String{status.data + value, end - value};
        }
        at = end + 1;
    }
    return String{};
}

// True when the status has a "Uid" line and every id on it (real, effective, saved,
// file system) is user: a process that any other user has a hand in is not ours to stop.
static b8 status_is_of_user(String status, uid_t user) {
    String ids = status_value(status, STR("Uid"));
    u32 count = 0;
    s64 at = 0;
    while (at < ids.count) {
        while (at < ids.count && is_blank(ids.data[at])) at++;
        if (at >= ids.count) break;
        u64 id = 0;
        s64 digits = at;
        while (at < ids.count && ids.data[at] >= '0' && ids.data[at] <= '9' && id <= 0xFFFFFFFFull) {
            id = id * 10 + (u64)(ids.data[at++] - '0');
        }
        if (at == digits || id != (u64)user) return false;
        count++;
    }
    return count > 0;
}

static String read_process_status_tmp(u32 id) {
    // Files under /proc report no size, so read until the end.
    char* path = tcstring_small("/proc/%u/status", id);
    u8* text = tmp_allocate(PROCESS_STATUS_MAX_SIZE);
    if (!path || !text) return String{};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return String{};
    s64 count = 0;
    for (;;) {
        ssize_t n = read(fd, text + count, PROCESS_STATUS_MAX_SIZE - (u64)count);
        if (n <= 0) break;
        count += n;
    }
    close(fd);
    return String{text, count};
}

// A process of user whose executable is one of the editor files. The files are compared as
// the kernel knows them, by device and inode, never by the text of the /proc link: that
// holds whatever path started the process (through a link to the folder or to the program)
// and after its file was replaced or deleted, when the link's text ends in " (deleted)".
static b8 is_editor_process(u32 id, uid_t user, const File_Identity* editors, u32 editor_count) {
    u64 saved = tmp_get_used();
    b8 found = false;
    if (status_is_of_user(read_process_status_tmp(id), user)) {
        char* program = tcstring_small("/proc/%u/exe", id);
        struct stat status;
        if (program && stat(program, &status) == 0) {
            for (u32 i = 0; i < editor_count; i++) {
                found |= editors[i].device == (u64)status.st_dev && editors[i].inode == (u64)status.st_ino;
            }
        }
    }
    tmp_set_used(saved);
    return found;
}

void stop_running_editors(String directory, const File_Identity* replaced_editor) {
    File_Identity editors[2];
    u32 editor_count = 0;
    if (replaced_editor) editors[editor_count++] = *replaced_editor;
    char* editor = tmp_path_in_directory(directory, STR("quarn"));
    struct stat status;
    if (editor && stat(editor, &status) == 0) editors[editor_count++] = File_Identity{(u64)status.st_dev, (u64)status.st_ino};
    if (editor_count == 0) return;

    DIR* processes = opendir("/proc");
    if (!processes) return;
    uid_t user = getuid();
    pid_t self = getpid();
    while (dirent* entry = readdir(processes)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9') continue;
        u64 id = 0;
        for (const char* c = name; *c >= '0' && *c <= '9' && id <= 0xFFFFFFFFull; c++) id = id * 10 + (u64)(*c - '0');
        if (id > 0x7FFFFFFFull || (pid_t)id == self) continue;

        // The process is held by a handle before it is looked at and signalled through it:
        // should it end meanwhile and its number go to another, the signal reaches nobody.
        int handle = (int)syscall(SYS_pidfd_open, (pid_t)id, 0);
        if (handle < 0 && errno == ESRCH) continue;
        if (is_editor_process((u32)id, user, editors, editor_count)) {
            if (handle >= 0) syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0);
            else kill((pid_t)id, SIGKILL);  // a kernel without process handles
        }
        if (handle >= 0) close(handle);
    }
    closedir(processes);
}

void os_launch_program_with_arguments(String program, const String* arguments, u32 count) {
    u64 saved = tmp_get_used();
    char** words = (char**)tmp_allocate_aligned((u64)(count + 1) * sizeof(char*), alignof(char*));
    char* path = to_tmp_c_string(program);
    b8 ok = words && path && count > 0;
    for (u32 i = 0; ok && i < count; i++) {
        words[i] = to_tmp_c_string(arguments[i]);
        ok = words[i] != nullptr;
    }
    if (ok) {
        words[count] = nullptr;
        // A failed fork is not reported: there is no one left to tell.
        if (fork() == 0) {
            execvp(path, words);
            _exit(127);  // skip the parent's exit handlers in the copy
        }
    }
    tmp_set_used(saved);
}

void os_launch_program(String program, String command_line) {
    u64 saved = tmp_get_used();
    Dynamic_Array arguments;
    init_dynamic_array(&arguments, sizeof(String));
    b8 ok = true;
    s64 at = 0;
    u8* text = command_line.data;
    while (ok) {
        while (at < command_line.count && is_blank(text[at])) at++;
        if (at >= command_line.count) break;
        s64 start = at;
        s64 end;
        if (text[at] == '"' || text[at] == '\'') {
            u8 quote = text[at];
            start = ++at;
            while (at < command_line.count && text[at] != quote) at++;
            end = at;
            if (at < command_line.count) at++;  // past the closing quote; what follows starts a new word
        } else {
            while (at < command_line.count && !is_blank(text[at])) at++;
            end = at;
        }
        String* word = (String*)dynamic_array_add_fast(&arguments);
        ok = word != nullptr;
        if (ok) *word = String{text + start, end - start};
    }
    if (ok) os_launch_program_with_arguments(program, (String*)arguments.data, arguments.count);
    dynamic_array_free(&arguments);
    tmp_set_used(saved);
}
