// The editor's command line: a file to open and the line to put the cursor on.

#include "shell/startup.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "shell/file_tabs.h"
#include "shell/system_info.h"
#include "shell/tabs.h"
#include "editor/editor.h"

#include <stdlib.h>
#include <string.h>

#define COMMAND_LINE_ARGUMENTS_USED 3  // the program, the file, the line

u32 split_command_line(u8* data, s64 count, String* arguments, u32 capacity) {
    u32 found = 0;
    s64 start = 0;
    for (s64 i = 0; i < count; i++) {
        if (data[i] != 0) continue;
        if (found < capacity) arguments[found] = String{data + start, i - start};
        found++;
        start = i + 1;
    }
    return found;
}

b8 command_line_filepath(String argument, Filepath* working_directory, Filepath* out) {
    out->count = 0;
    // Quotes that reached the program unstripped (a desktop launcher's "%f") are not part
    // of the name; a lone quote at either end is.
    if (argument.count >= 2 && argument.data[0] == '"' && argument.data[argument.count - 1] == '"') {
        argument = String{argument.data + 1, argument.count - 2};
    }
    if (argument.count == 0) return false;
    String path = argument;
    if (argument.data[0] != '/') {
        // A relative path names a file where the editor was started, as in any program.
        String directory = filepath_to_tmp_string(working_directory);
        if (directory.count > 0) path = string_concat2("%/%", directory, argument);
    }
    if (!path.data || !string_to_filepath(out, path.data, path.count) || out->count == 0) {
        add_log(nullptr, LOG_ERROR, "The file named on the command line, \"%.*s\", cannot be opened: its path cannot be read.",
                (int)argument.count, (char*)argument.data);
        out->count = 0;
        return false;
    }
    return true;
}

// All arguments joined, each after one blank.
static String join_arguments_tmp(String* arguments, u32 count) {
    s64 total = 0;
    for (u32 i = 0; i < count; i++) total += 1 + arguments[i].count;
    u8* text = tmp_allocate((u64)total + 1);
    if (!text) return String{};
    s64 at = 0;
    for (u32 i = 0; i < count; i++) {
        text[at++] = ' ';
        memcpy(text + at, arguments[i].data, (u64)arguments[i].count);
        at += arguments[i].count;
    }
    text[at] = 0;
    return String{text, at};
}

void open_file_from_command_line(String* arguments, u32 count) {
    u64 saved = tmp_get_used();
    String joined = join_arguments_tmp(arguments, count);
    add_log(nullptr, LOG_INFO, "Command line: %s", joined.data ? (char*)joined.data : "");
    tmp_set_used(saved);
    if (count < 2) return;

    Filepath* path = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    if (!path || !command_line_filepath(arguments[1], &editor_working_directory, path)) {
        tmp_set_used(saved);
        return;
    }
    Editor_File* file = add_a_file();
    if (!file) {
        tmp_set_used(saved);
        return;
    }
    current_file = file;
    global_editor_context = CONTEXT_FILE;
    // A file that cannot be read still gets its tab, as an empty text without a path, so
    // that nothing typed into it can be saved over the file.
    load_file(path, file);
    tmp_set_used(saved);
    if (!queue_add_tab_command(TAB_FILE, file)) {
        current_file = nullptr;
        close_file(file);
        return;
    }
    if (count >= 3) {
        char* line = to_tmp_c_string(arguments[2]);
        long number = line ? strtol(line, nullptr, 10) : 0;
        tmp_set_used(saved);
        if (number < 0) number = 0;
        if (number > (long)0xFFFFFFFF) number = (long)0xFFFFFFFF;
        editor_put_cursor_on_line(file, (u32)number);
    }
}

void read_command_line() {
    Dynamic_Array read;
    init_dynamic_array(&read, 1);
    linux_read_whole_proc_file(&read, STR("/proc/self/cmdline"));
    u8* copy = read.count ? tmp_allocate(read.count) : nullptr;
    if (copy) memcpy(copy, read.data, read.count);
    s64 size = copy ? (s64)read.count : 0;
    dynamic_array_free(&read);

    String arguments[COMMAND_LINE_ARGUMENTS_USED] = {};
    u32 count = split_command_line(copy, size, arguments, COMMAND_LINE_ARGUMENTS_USED);
    if (count <= COMMAND_LINE_ARGUMENTS_USED) {
        open_file_from_command_line(arguments, count);
        return;
    }
    // Every argument goes to the log, even those the editor does not use.
    String* all = (String*)tmp_allocate_aligned(sizeof(String) * count, alignof(String));
    if (!all) return;
    split_command_line(copy, size, all, count);
    open_file_from_command_line(all, count);
}
