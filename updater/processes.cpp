// The updater's dealings with other processes: stopping every running editor by its
// process name, and starting the editor or the notifier without waiting for them.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "updater/updater.h"

#define PROCESS_STATUS_MAX_SIZE 16384

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

// The value of the "Name" line of a /proc/<id>/status text; empty when it has none.
static String process_name_of_status(String status) {
    s64 at = 0;
    while (at < status.count) {
        s64 end = at;
        while (end < status.count && status.data[end] != '\n') end++;
        s64 key = at;
        while (key < end && is_blank(status.data[key])) key++;
        s64 key_end = key;
        while (key_end < end && !is_blank(status.data[key_end]) && status.data[key_end] != ':') key_end++;
        if (key_end - key == 4 && memcmp(status.data + key, "Name", 4) == 0) {
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

void stop_running_editors() {
    DIR* processes = opendir("/proc");
    if (!processes) return;
    while (dirent* entry = readdir(processes)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9') continue;
        u64 id = 0;
        for (const char* c = name; *c >= '0' && *c <= '9' && id <= 0xFFFFFFFFull; c++) id = id * 10 + (u64)(*c - '0');
        if (id > 0x7FFFFFFFull) continue;

        u64 saved = tmp_get_used();
        String process_name = process_name_of_status(read_process_status_tmp((u32)id));
        if (strings_equal(process_name, STR("quarn"))) kill((pid_t)id, SIGKILL);
        tmp_set_used(saved);
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
