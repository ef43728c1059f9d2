// What confirming a terminal's input line does: input for the command that runs, the
// built-ins cd and clear, or a shell command line; and the walk through the two histories.
// Main thread only. The line reaches the shell as one argument, exactly as typed.

#include "terminal/terminal.h"
#include "editor/editor_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

const char* terminal_environment_file = "/etc/environment";

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

//~ PATH from the environment file

static b8 starts_with(u8* at, u8* end, const char* prefix) {
    u64 length = strlen(prefix);
    return (u64)(end - at) >= length && memcmp(at, prefix, length) == 0;
}

String read_path_from_environment_file(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return String{};
    u8* text = tmp_allocate(TERMINAL_ENVIRONMENT_READ_LIMIT);
    u64 count = 0;
    while (text && count < TERMINAL_ENVIRONMENT_READ_LIMIT) {
        ssize_t got = read(fd, text + count, TERMINAL_ENVIRONMENT_READ_LIMIT - count);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        count += (u64)got;
    }
    close(fd);
    if (!text) return String{};

    u8* end = text + count;
    for (u8* line = text; line < end;) {
        u8* line_end = line;
        while (line_end < end && *line_end != '\n') line_end++;
        u8* at = line;
        while (at < line_end && is_blank(*at)) at++;
        if (starts_with(at, line_end, "export") && at + 6 < line_end && is_blank(at[6])) {
            at += 6;
            while (at < line_end && is_blank(*at)) at++;
        }
        if (starts_with(at, line_end, "PATH=")) {
            u8* value = at + 5;
            u8* value_end = line_end;
            if (value_end > value && value_end[-1] == '\r') value_end--;
            if (value_end - value >= 2 && (*value == '"' || *value == '\'') && value_end[-1] == *value) {
                value++;
                value_end--;
            }
            return String{value, value_end - value};
        }
        line = line_end + 1;
    }
    return String{};
}

//~ The input line

void empty_terminal_input_line(Editor_File* input_line) {
    input_line->text.count = 0;
    free_undo_records(input_line);
    // An empty text has no place for an anchor but 0.
    input_line->selection_anchor = 0;
    editor_set_cursor(input_line, 0);
    input_line->previous_cursor = 0;
}

static void put_into_input_line(Editor_File* input_line, String text) {
    empty_terminal_input_line(input_line);
    if (text.count <= 0) return;
    u8* at = (u8*)dynamic_array_add_fast_multiple(&input_line->text, (u32)text.count);
    if (!at) return;
    memcpy(at, text.data, (u64)text.count);
    editor_set_cursor(input_line, text.count);
}

//~ Input for the running command

b8 terminal_takes_input(Terminal* terminal) {
    Terminal_Result* block = terminal->current_result;
    return terminal->results.count > 0 && block && (atomic_load_u8(&block->flags) & TERMINAL_RESULT_READING);
}

// The master side is non-blocking: a command that reads nothing must not stall the frame,
// so what does not fit at once is a failure, not a wait.
static b8 write_input(Terminal* terminal, Terminal_Result* block, String line) {
    u8* text = tmp_allocate((u64)line.count + 1);
    if (!text) return false;
    memcpy(text, line.data, (u64)line.count);
    text[line.count] = '\n';
    u64 length = (u64)line.count + 1;

    // A kill holds the terminal's lock while its signals take effect: the process is going,
    // so the input fails rather than the frame waiting for it.
    u8 expected = 0;
    if (!__atomic_compare_exchange_n(&terminal->lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        add_log(0, LOG_ERROR, "Input for '%.*s' was not sent: its process is being ended.", (int)block->command.count,
                (char*)block->command.data);
        return false;
    }
    // The worker marks the descriptor gone under the block's lock before it closes it.
    spin_lock(&block->lock);
    ssize_t written = -1;
    int error = EBADF;
    if (block->pty >= 0 && terminal->pty == block->pty) {
        do {
            written = write(block->pty, text, length);
        } while (written < 0 && errno == EINTR);
        error = errno;
    }
    spin_unlock(&block->lock);
    spin_unlock(&terminal->lock);

    if (written == (ssize_t)length) return true;
    if (written < 0) {
        add_log(0, LOG_ERROR, "Input for '%.*s' could not be written: %s", (int)block->command.count,
                (char*)block->command.data, strerror(error));
    } else {
        add_log(0, LOG_ERROR, "Only %lld of %llu octets of input reached '%.*s'.", (long long)written,
                (unsigned long long)length, (int)block->command.count, (char*)block->command.data);
    }
    return false;
}

static void send_input(Terminal* terminal, Editor_File* input_line, String line) {
    Terminal_Result* block = terminal->current_result;
    if (line.count > 0) terminal_history_append(&terminal->input_history, line);
    terminal->input_history_position = terminal->input_history.count;
    if (!write_input(terminal, block, line)) atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
    atomic_or_u8(&block->flags, TERMINAL_RESULT_UPDATED);
    empty_terminal_input_line(input_line);
}

//~ cd

static void append_to_block(Terminal_Result* block, String text) {
    spin_lock(&block->lock);
    u8* at = (u8*)dynamic_array_add_fast_multiple(&block->text, (u32)text.count);
    if (at) memcpy(at, text.data, (u64)text.count);
    tokenise_terminal_result(block);
    spin_unlock(&block->lock);
}

static void report_missing_directory(Terminal_Result* block, String path) {
    String message = string_concat2("Directory '%' does not seem to exist.", path);
    if (message.data) append_to_block(block, message);
    atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
}

// Follows the argument's components from the start the caller put in path: empty ones and
// "." are passed over, ".." takes the last one off. False when the result would not fit a
// Filepath (it is never cut to name another directory).
static b8 follow_components(Filepath* path, u8* text, s64 count) {
    s64 i = 0;
    while (i < count) {
        while (i < count && text[i] == '/') i++;
        s64 start = i;
        while (i < count && text[i] != '/') i++;
        s64 length = i - start;
        if (length == 0 || (length == 1 && text[start] == '.')) continue;
        if (length == 2 && text[start] == '.' && text[start + 1] == '.') {
            if (path->count) path->count--;
            continue;
        }
        if (path->count == FILEPATH_MAX_COMPONENTS || length > FILEPATH_MAX_COMPONENT_LENGTH) return false;
        Filepath_Component* c = &path->components[path->count++];
        memcpy(c->storage, text + start, (u64)length);
        c->text = c->storage;
        c->length = (u64)length;
    }
    return true;
}

static void start_at_root(Filepath* path) {
    path->count = 1;
    path->components[0].storage[0] = '/';
    path->components[0].text = path->components[0].storage;
    path->components[0].length = 1;
}

static void change_directory(Terminal* terminal, Terminal_Result* block, String argument) {
    u8* text = (u8*)to_tmp_c_string(argument);
    Filepath* target = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    if (!text || !target) return;  // temporary memory logged it
    s64 count = argument.count;
    for (s64 i = 0; i < count; i++) {
        if (text[i] == '\\') text[i] = '/';
    }

    // Where the walk starts: the root, the home directory or the terminal's directory.
    b8 fits = true;
    if (text[0] == '/') {
        start_at_root(target);
    } else if (text[0] == '~') {
        // "~user" would need the user database; only the own home directory is known.
        const char* home = getenv("HOME");
        if ((count > 1 && text[1] != '/') || !home || home[0] != '/') {
            report_missing_directory(block, String{text, count});
            return;
        }
        start_at_root(target);
        fits = follow_components(target, (u8*)home, (s64)strlen(home));
        text++;
        count--;
    } else {
        set_filepath_from(target, &terminal->directory);
    }
    if (!fits || !follow_components(target, text, count)) {
        report_missing_directory(block, argument);
        return;
    }

    String joined = filepath_to_tmp_string(target);
    if (target->count && !joined.data) return;
    int fd = target->count ? open((char*)joined.data, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd < 0) {
        report_missing_directory(block, joined);
        return;
    }
    close(fd);
    set_filepath_from(&terminal->directory, target);
}

//~ The command line

static void set_title(String* title, u64 capacity, String command, Terminal* terminal) {
    if (!title || !title->data || capacity == 0) return;
    String directory = filepath_to_tmp_string(&terminal->directory);
    write_into_string(title, capacity, "%.*s | %.*s", (int)command.count, (char*)command.data, (int)directory.count,
                      (char*)directory.data);
}

void execute_terminal_command_line(Terminal* terminal, Editor_File* input_line, String* title, u64 title_capacity) {
    // A copy: the input line is emptied while the line is still in use.
    String line = {(u8*)to_tmp_c_string(String{input_line->text.data, input_line->text.count}), input_line->text.count};
    if (!line.data) return;

    if (terminal_takes_input(terminal)) {
        send_input(terminal, input_line, line);
        return;
    }

    if (line.count == 0) return;
    terminal_history_append(&terminal->command_history, line);
    s64 start = 0;
    while (start < line.count && is_blank(line.data[start])) start++;
    if (start == line.count) return;
    s64 stop = start;
    while (stop < line.count && !is_blank(line.data[stop])) stop++;
    String command = {line.data + start, stop - start};

    b8 done = true;
    if (strings_equal(command, STR("cd"))) {
        terminal->command_history_position = terminal->command_history.count;
        Terminal_Result* block = add_a_terminal_result(terminal, line);
        if (block) {
            atomic_or_u8(&block->flags, TERMINAL_RESULT_UPDATED);
            s64 from = stop;
            while (from < line.count && is_blank(line.data[from])) from++;
            if (from < line.count) change_directory(terminal, block, String{line.data + from, line.count - from});
        }
    } else if (strings_equal(command, STR("clear")) || strings_equal(command, STR("cls"))) {
        terminal->command_history_position = terminal->command_history.count;
        clear_terminal_history(terminal);
    } else {
        // Read again for every command: the file may have changed since the last.
        String path = read_path_from_environment_file(terminal_environment_file);
        // An interactive shell whose command is interrupted goes back to a prompt and waits
        // for more: the trap ends it as interrupted instead, so the block ends as a failure.
        String shell_line = string_concat2("trap 'exit 130' INT; %", line);
        char* shell_text = shell_line.data ? to_tmp_c_string(shell_line) : nullptr;
        char* arguments[] = {(char*)"sh", (char*)"-ci", shell_text, 0};
        done = shell_text && terminal_execute_arguments(terminal, line, arguments, path);
        if (done) {
            terminal->command_history_position = terminal->command_history.count;
        } else {
            add_log(0, LOG_ERROR, "failed to execute command line '%s'.", (char*)line.data);
        }
    }
    // After the command, so that a cd shows where it went.
    set_title(title, title_capacity, command, terminal);
    if (done) empty_terminal_input_line(input_line);
}

//~ The histories

static Dynamic_Array* history_to_walk(Terminal* terminal, u32** position) {
    if (terminal_takes_input(terminal)) {
        *position = &terminal->input_history_position;
        return &terminal->input_history;
    }
    *position = &terminal->command_history_position;
    return &terminal->command_history;
}

static String history_entry(Dynamic_Array* history, u32 index) {
    Terminal_History_Entry* entry = (Terminal_History_Entry*)history->data + index;
    return String{entry->storage, entry->text.count};
}

void terminal_go_to_previous_history_item(Terminal* terminal, Editor_File* input_line) {
    u32* position;
    Dynamic_Array* history = history_to_walk(terminal, &position);
    if (history->count == 0 || *position == 0) return;
    if (*position > history->count) *position = history->count;
    (*position)--;
    put_into_input_line(input_line, history_entry(history, *position));
}

void terminal_go_to_next_history_item(Terminal* terminal, Editor_File* input_line) {
    u32* position;
    Dynamic_Array* history = history_to_walk(terminal, &position);
    if (*position >= history->count) return;
    (*position)++;
    if (*position < history->count) {
        put_into_input_line(input_line, history_entry(history, *position));
    } else {
        empty_terminal_input_line(input_line);
    }
}
