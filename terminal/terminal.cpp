// Terminals and their command blocks: taking and releasing a terminal, appending blocks,
// starting a command on a new pseudo-terminal and killing it. Everything here runs on the
// main thread; the worker of each command (terminal_worker.cpp) shares only the lock-guarded
// process fields and the block it was given.

#include "terminal/terminal.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Memory_Pool terminals_pool;
Memory_Pool terminal_results_pool;
Bucket_Array terminals;

void init_terminals() {
    _init_memory_pool(&terminals_pool, sizeof(Terminal), NUM_TERMINALS_PER_BUCKET, NUM_TERMINAL_BUCKETS_PER_PAGE, 0,
                      os_allocate_read_write);
    _init_memory_pool(&terminal_results_pool, sizeof(Terminal_Result), NUM_TERMINAL_RESULTS_PER_BUCKET,
                      NUM_TERMINAL_RESULT_BUCKETS_PER_PAGE, 0, os_allocate_read_write);
    init_bucket_array(&terminals, &terminals_pool);
    fill_terminal_big_colour_table();
}

static Terminal_Result* first_result(Terminal* terminal) { return (Terminal_Result*)terminal->results.first_element; }

//~ Terminals

Terminal* add_a_terminal(Filepath* directory) {
    Terminal* terminal = 0;
    for (Terminal* t = (Terminal*)terminals.first_element; t; t = t->next) {
        if (!(atomic_load_u8(&t->flags) & TERMINAL_IN_USE)) {
            terminal = t;
            break;
        }
    }
    if (terminal) {
        clear_terminal_history(terminal);
        dynamic_array_free(&terminal->command_history);
        dynamic_array_free(&terminal->input_history);
    } else {
        terminal = (Terminal*)bucket_array_append(&terminals);
        if (!terminal) return 0;  // the pool logged it
        init_bucket_array(&terminal->results, &terminal_results_pool);
    }

    Terminal* next = terminal->next;
    Bucket_Array results = terminal->results;
    memset(terminal, 0, sizeof(*terminal));
    terminal->next = next;
    terminal->results = results;

    for (u32 i = 0; directory && i < directory->count; i++) {
        Filepath_Component* from = &directory->components[i];
        if (from->length == 0) continue;
        Filepath_Component* to = &terminal->directory.components[terminal->directory.count++];
        memcpy(to->storage, from->storage, from->length);
        to->text = to->storage;
        to->length = from->length;
    }
    init_dynamic_array(&terminal->command_history, sizeof(Terminal_History_Entry));
    init_dynamic_array(&terminal->input_history, sizeof(Terminal_History_Entry));
    terminal->process_id = -1;
    terminal->process_group = -1;
    terminal->pty = -1;
    terminal->flags = TERMINAL_IN_USE;
    return terminal;
}

void clear_terminal_history(Terminal* terminal) {
    kill_terminal_process(terminal);
    for (Terminal_Result* block = first_result(terminal); block; block = block->next) {
        // A worker that is winding down still writes into its block; it lets go within
        // moments of the kill, and only then may the storage go.
        while (atomic_load_u8(&block->flags) & TERMINAL_RESULT_WORKER) sleep_milliseconds(1);
        dynamic_array_free(&block->text);
        dynamic_array_free(&block->tokens);
        gp_free(&block->command_storage);
    }
    bucket_array_reset(&terminal->results);
    spin_lock(&terminal->lock);
    terminal->current_result = 0;
    spin_unlock(&terminal->lock);
    terminal->selected_result = 0;
}

void release_terminal(Terminal* terminal) {
    clear_terminal_history(terminal);
    dynamic_array_free(&terminal->command_history);
    dynamic_array_free(&terminal->input_history);
    terminal->directory.count = 0;
    atomic_and_u8(&terminal->flags, (u8)~TERMINAL_IN_USE);
}

//~ Killing

// Reads the state and session of a process from /proc/N/stat; the name before them may hold
// blanks and parentheses, so the fields are found behind its last ')'.
static b8 read_process_session(const char* name, u8* state, s32* session) {
    char path[64];
    u64 length = strlen(name);
    if (length > 32) return false;
    memcpy(path, "/proc/", 6);
    memcpy(path + 6, name, length);
    memcpy(path + 6 + length, "/stat", 6);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[512];
    ssize_t got = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (got <= 0) return false;
    text[got] = 0;
    char* at = strrchr(text, ')');
    if (!at || at[1] != ' ') return false;
    at += 2;
    *state = (u8)*at;
    // Fields behind the state: parent, group, session.
    for (u32 field = 0; field < 3; field++) {
        at = strchr(at, ' ');
        if (!at) return false;
        at++;
    }
    s64 value = 0;
    while (*at >= '0' && *at <= '9') value = value * 10 + (*at++ - '0');
    *session = (s32)value;
    return true;
}

// Signals every process of the session and returns how many of them still live. A shell
// with job control puts each job in a group of its own, so the leader's group alone would
// leave the jobs running; the session holds them all.
static u32 signal_session(s32 session, int signal) {
    kill(-session, signal);
    u32 alive = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        u8 state = 0;
        s32 its_session = 0;
        if (!read_process_session(entry->d_name, &state, &its_session) || its_session != session) continue;
        if (state == 'Z' || state == 'X') continue;
        alive++;
        s64 pid = 0;
        for (const char* c = entry->d_name; *c >= '0' && *c <= '9'; c++) pid = pid * 10 + (*c - '0');
        if (signal) kill((pid_t)pid, signal);
    }
    closedir(proc);
    return alive;
}

// The leader is not reaped while the terminal holds it, so its id still names this session.
static void terminate_session(s32 leader) {
    signal_session(leader, SIGTERM);
    u64 start = os_get_monotonic_microseconds();
    while (os_get_monotonic_microseconds() - start < TERMINAL_KILL_GRACE_MICROSECONDS) {
        if (signal_session(leader, 0) == 0) return;
        sleep_milliseconds(2);
    }
    signal_session(leader, SIGKILL);
}

b8 end_terminal_process_if_held(Terminal* terminal, s32 process_id) {
    spin_lock(&terminal->lock);
    s32 held = terminal->process_id;
    b8 kill_it = held > 0 && (process_id == 0 || held == process_id);
    if (kill_it) {
        terminate_session(held);
        terminal->process_id = -1;
        terminal->process_group = -1;
        terminal->pty = -1;  // not closed: its worker still reads it and closes it
        if (Terminal_Result* block = terminal->current_result) {
            // A command the user stopped failed, whatever its shell makes of the signal;
            // what a finished command left running goes without changing its result.
            if (process_id == 0) atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
            atomic_and_u8(&block->flags, (u8)~TERMINAL_RESULT_RUNNING);
        }
    }
    spin_unlock(&terminal->lock);
    return kill_it;
}

b8 kill_terminal_process(Terminal* terminal) {
    atomic_and_u8(&terminal->flags, (u8)~TERMINAL_WORKER_STARTED);
    return end_terminal_process_if_held(terminal, 0);
}

//~ Blocks

Terminal_Result* add_a_terminal_result(Terminal* terminal, String command_line) {
    terminal->input_history.count = 0;
    terminal->input_history_position = 0;

    Gp_Allocation storage = {};
    if (command_line.count > 0 && !gp_allocate(&storage, (u64)command_line.count)) return 0;
    Terminal_Result* block = (Terminal_Result*)bucket_array_append(&terminal->results);
    if (!block) {
        gp_free(&storage);
        return 0;
    }
    // Appended elements are zeroed; the link behind the last is the list's.
    init_dynamic_array(&block->text, 1);
    init_dynamic_array(&block->tokens, sizeof(Terminal_Token));
    block->pty = -1;
    block->command_storage = storage;
    if (command_line.count > 0) memcpy(storage.memory, command_line.data, (u64)command_line.count);
    block->command = String{storage.memory, command_line.count};
    reset_terminal_result_text(block);

    s64 start = 0;
    while (start < block->command.count && (block->command.data[start] == ' ' || block->command.data[start] == '\t')) start++;
    s64 stop = start;
    while (stop < block->command.count && block->command.data[stop] != ' ' && block->command.data[stop] != '\t') stop++;
    block->program = String{block->command.data + start, stop - start};
    return block;
}

b8 terminal_history_append(Dynamic_Array* history, String line) {
    if (line.count < 0 || line.count > (s64)TERMINAL_HISTORY_TEXT_SIZE) return false;
    if (history->count) {
        Terminal_History_Entry* last = (Terminal_History_Entry*)history->data + history->count - 1;
        if (strings_equal(String{last->storage, last->text.count}, line)) return false;
    }
    u8* before = history->data;
    Terminal_History_Entry* entry = (Terminal_History_Entry*)dynamic_array_add_fast(history);
    if (!entry) return false;
    if (line.count) memcpy(entry->storage, line.data, (u64)line.count);
    entry->text = String{entry->storage, line.count};
    if (history->data != before) {
        Terminal_History_Entry* entries = (Terminal_History_Entry*)history->data;
        for (u32 i = 0; i < history->count; i++) entries[i].text.data = entries[i].storage;
    }
    return true;
}

//~ Arguments

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

b8 string_to_c_argument_list(Dynamic_Array* arguments, String command_line) {
    init_dynamic_array(arguments, sizeof(char*));
    if (command_line.count <= 0) return true;
    u8* text = command_line.data;
    s64 count = command_line.count;
    s64 i = 0;
    for (;;) {
        while (i < count && is_blank(text[i])) i++;
        if (i >= count) break;
        s64 start = i, stop = i;
        if (text[i] == '"' || text[i] == '\'') {
            u8 quote = text[i];
            start = stop = i + 1;
            while (stop < count && text[stop] != quote) stop++;
            i = stop < count ? stop + 1 : stop;  // a missing closing quote takes the rest
        } else {
            while (stop < count && !is_blank(text[stop])) stop++;
            i = stop;
        }
        char* word = (char*)tmp_allocate((u64)(stop - start) + 1);
        char** slot = (char**)dynamic_array_add_fast(arguments);
        if (!word || !slot) {
            dynamic_array_free(arguments);
            return false;
        }
        memcpy(word, text + start, (u64)(stop - start));
        word[stop - start] = 0;
        *slot = word;
    }
    char** last = (char**)dynamic_array_add_fast(arguments);
    if (!last) {
        dynamic_array_free(arguments);
        return false;
    }
    *last = 0;
    return true;
}

//~ Starting a command

static b8 starts_with(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// The editor's environment with TERM "vt100" and, when given, PATH; in temporary memory.
// Built before the fork: the child of a threaded process must not allocate.
static char** make_child_environment(String path) {
    u64 count = 0;
    for (char** e = environ; e && *e; e++) count++;
    char** result = (char**)tmp_allocate_aligned((count + 3) * sizeof(char*), sizeof(char*));
    if (!result) return 0;
    u64 at = 0;
    for (char** e = environ; e && *e; e++) {
        if (starts_with(*e, "TERM=") || (path.count > 0 && starts_with(*e, "PATH="))) continue;
        result[at++] = *e;
    }
    result[at++] = (char*)"TERM=vt100";
    if (path.count > 0) {
        String entry = string_concat2("PATH=%", path);
        if (!entry.data) return 0;
        result[at++] = (char*)entry.data;
    }
    result[at] = 0;
    return result;
}

static void write_text(int fd, const char* text) {
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
}

// In the child of forkpty, which made it the leader of a new session (and so of its own
// process group) with the pseudo-terminal as its standard streams.
[[noreturn]] static void run_child(const char* directory, char** arguments, char** environment) {
    os_prepare_child_process();
    // Running a command in another directory than the one shown could do harm there.
    if (directory && chdir(directory) != 0) {
        write_text(2, "cannot enter the directory ");
        write_text(2, directory);
        write_text(2, "\n");
        _exit(126);
    }
    environ = environment;  // execvp looks the program up along this PATH
    execvp(arguments[0], arguments);
    write_text(2, "cannot run ");
    write_text(2, arguments[0]);
    write_text(2, "\n");
    _exit(127);
}

static void reap(s32 process_id) {
    while (waitpid(process_id, 0, 0) < 0 && errno == EINTR) {
    }
}

b8 terminal_execute_arguments(Terminal* terminal, String command_line, char** arguments, String path) {
    kill_terminal_process(terminal);
    if (!arguments || !arguments[0]) {
        add_log(0, LOG_ERROR, "Nothing to run: the command line '%.*s' names no program.", (int)command_line.count,
                (char*)command_line.data);
        return false;
    }
    char* directory = 0;
    if (terminal->directory.count) {
        directory = (char*)filepath_to_tmp_string(&terminal->directory).data;
        if (!directory) return false;  // temporary memory logged it
    }
    char** environment = make_child_environment(path);
    if (!environment) return false;

    int master = -1;
    pid_t pid = forkpty(&master, 0, 0, 0);
    if (pid == 0) run_child(directory, arguments, environment);
    if (pid < 0) {
        add_log(0, LOG_ERROR, "Unix: failed to vfork() to launch a process.");
        return false;
    }
    // Other children of the editor must not hold this terminal open.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    // Input is written from the main thread, which must never wait for a command to read.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    Terminal_Result* block = add_a_terminal_result(terminal, command_line);
    if (!block) {
        kill(-pid, SIGKILL);
        reap(pid);
        close(master);
        return false;
    }
    block->pty = master;
    block->flags = TERMINAL_RESULT_UPDATED | TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING | TERMINAL_RESULT_WORKER;
    spin_lock(&terminal->lock);
    terminal->process_id = pid;
    terminal->process_group = pid;
    terminal->pty = master;
    terminal->current_result = block;
    spin_unlock(&terminal->lock);

    Terminal_Worker_Parameters parameters = {terminal, block, pid, master, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, terminal_worker, &parameters);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        add_log(0, LOG_ERROR, "Could not start the worker of the command '%.*s': %s", (int)command_line.count,
                (char*)command_line.data, strerror(error));
        kill_terminal_process(terminal);
        reap(pid);
        close(master);
        block->pty = -1;
        atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
        atomic_and_u8(&block->flags, (u8) ~(TERMINAL_RESULT_READING | TERMINAL_RESULT_WORKER));
        return false;
    }
    terminal->worker = (u64)thread;
    terminal->worker_started = 1;
    while (!atomic_load_u8(&parameters.started)) sched_yield();
    return true;
}

b8 terminal_execute(Terminal* terminal, String program, String command_line) {
    Dynamic_Array arguments;
    if (!string_to_c_argument_list(&arguments, command_line)) return false;
    b8 started = false;
    if (arguments.count > 1 && program.count > 0) {
        // The program is looked up by its own name; the vector keeps the words as given.
        char** words = (char**)arguments.data;
        char* name = to_tmp_c_string(program);
        if (name) {
            words[0] = name;
            started = terminal_execute_arguments(terminal, command_line, words, String{});
        }
    } else {
        started = terminal_execute_arguments(terminal, command_line, 0, String{});
    }
    dynamic_array_free(&arguments);
    return started;
}
