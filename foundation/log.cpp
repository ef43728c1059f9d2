// The in-memory log and its files. Every change to the buffer, and every file write, happens
// under log_lock; a line is formatted on the stack first so the lock is held only for a copy.

#include "foundation/log.h"
#include "foundation/os_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

const char* const LOG_TYPES_TEXT[6] = {"ERROR", "DEBUG", "Info", "Assets", "Graphics", "Network"};

Log __global_log = {nullptr, 0, {}, 0, -1, 0};
u8 log_lock;
u64 next_error_log_id = ~0ull;

static u8 log_directory_buffer[PATH_MAX];

// Set while this thread holds log_lock. Writing a file takes temporary memory, which may log
// a failure of its own; that line goes to stderr instead of spinning on our own lock.
static thread_local b8 log_lock_held_here;

static void lock_log() {
    spin_lock(&log_lock);
    log_lock_held_here = true;
}

static void unlock_log() {
    log_lock_held_here = false;
    spin_unlock(&log_lock);
}

static s64 format_into_buffer(u8* buffer, u64 capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
static s64 format_into_buffer(u8* buffer, u64 capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    s64 length = format_into_buffer_v(buffer, capacity, format, args);
    va_end(args);
    return length;
}

void set_log_directory(String directory) {
    u64 count = directory.count > 0 ? (u64)directory.count : 0;
    if (count > sizeof(log_directory_buffer) - 1) count = sizeof(log_directory_buffer) - 1;
    lock_log();
    // Lines from now on belong in the new directory.
    if (__global_log.file >= 0) close(__global_log.file);
    __global_log.file = -1;
    if (count) memcpy(log_directory_buffer, directory.data, count);
    log_directory_buffer[count] = 0;  // the file's path is built from it without temporary memory
    __global_log.directory = String{log_directory_buffer, (s64)count};
    unlock_log();
}

//~ Log files

static b8 skip_text(const char** p, const char* text) {
    u64 n = strlen(text);
    if (strncmp(*p, text, n) != 0) return false;
    *p += n;
    return true;
}

static b8 skip_digits(const char** p) {
    const char* first = *p;
    while (**p >= '0' && **p <= '9' && *p - first < 20) (*p)++;
    return *p > first;
}

// A log file's own name, "log 2024-4-13 19h 1m 36s.txt", with " (2)" and so on before
// ".txt" for a second file of the same second. Other files in the folder are not ours to
// remove, whatever their extension.
static b8 is_log_file_name(const char* name) {
    const char** p = &name;
    if (!skip_text(p, "log ") || !skip_digits(p) || !skip_text(p, "-") || !skip_digits(p) || !skip_text(p, "-") ||
        !skip_digits(p) || !skip_text(p, " ") || !skip_digits(p) || !skip_text(p, "h ") || !skip_digits(p) ||
        !skip_text(p, "m ") || !skip_digits(p) || !skip_text(p, "s")) {
        return false;
    }
    if (skip_text(p, " (") && (!skip_digits(p) || !skip_text(p, ")"))) return false;
    return skip_text(p, ".txt") && **p == 0;
}

struct Log_File_Entry {
    u64 time;  // modification time in nanoseconds: a file's last write, which only the newest still get
    char name[NAME_MAX + 1];
};

// Files of one tick of a coarse file clock tie on their times; their names then tell the
// order they were made in: "... 36s.txt", "... 36s (2).txt", ..., "... 36s (10).txt". So
// a shorter name is older, and names of one length go by their octets.
static b8 log_file_is_older(const Log_File_Entry* x, const Log_File_Entry* y) {
    if (x->time != y->time) return x->time < y->time;
    u64 x_length = strlen(x->name), y_length = strlen(y->name);
    if (x_length != y_length) return x_length < y_length;
    return strcmp(x->name, y->name) < 0;
}

struct Directory_Entry_64 {
    u64 inode;
    s64 next;
    u16 length;
    u8 type;
    char name[];
};

// Guarded by log_lock. The clean-up runs when temporary memory is used up (that is when
// errors pour in), so it lists the folder with buffers of its own.
alignas(8) static u8 log_directory_entries[8192];
static Log_File_Entry newest_log_files[NUM_LOG_FILES_TO_KEEP];

// Deletes the oldest log files of the open directory until NUM_LOG_FILES_TO_KEEP remain, so
// that with the file about to be written there is at most one more. One pass keeps the
// newest seen so far and deletes whichever of them and the next is the oldest. False when
// the folder could not be read to the end or a file could not be deleted.
static b8 remove_old_log_files(int directory) {
    u32 kept = 0;
    b8 all_removed = true;
    for (;;) {
        long size = syscall(SYS_getdents64, directory, log_directory_entries, sizeof(log_directory_entries));
        if (size < 0 && errno == EINTR) continue;
        if (size < 0) return false;
        if (size == 0) break;
        for (long offset = 0; offset < size;) {
            Directory_Entry_64* entry = (Directory_Entry_64*)(log_directory_entries + offset);
            offset += entry->length;
            if (!is_log_file_name(entry->name)) continue;
            struct stat status;
            if (fstatat(directory, entry->name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)) continue;
            Log_File_Entry seen;
            seen.time = (u64)status.st_mtim.tv_sec * 1000000000ull + (u64)status.st_mtim.tv_nsec;
            memcpy(seen.name, entry->name, strlen(entry->name) + 1);  // a log file's name is far below NAME_MAX
            if (kept < NUM_LOG_FILES_TO_KEEP) {
                newest_log_files[kept++] = seen;
                continue;
            }
            u32 oldest = 0;
            for (u32 i = 1; i < kept; i++) {
                if (log_file_is_older(&newest_log_files[i], &newest_log_files[oldest])) oldest = i;
            }
            if (log_file_is_older(&newest_log_files[oldest], &seen)) {
                Log_File_Entry swapped = newest_log_files[oldest];
                newest_log_files[oldest] = seen;
                seen = swapped;
            }
            if (unlinkat(directory, seen.name, 0) != 0 && errno != ENOENT) all_removed = false;
        }
    }
    return all_removed;
}

// Opens a new file named by the local time. A file of the same second gets " (2)", " (3)",
// ... so that no earlier log is overwritten.
static int create_log_file(const char* directory, struct tm* local) {
    char path[PATH_MAX + 64];
    u64 capacity = sizeof(path);
    unsigned long long year = (unsigned long long)(local->tm_year + 1900);
    u32 month = (u32)local->tm_mon + 1, day = (u32)local->tm_mday;
    u32 hour = (u32)local->tm_hour, minute = (u32)local->tm_min, second = (u32)local->tm_sec;
    format_into_buffer((u8*)path, capacity, "%s/log %llu-%u-%u %uh %um %us.txt", directory, year, month, day, hour,
                       minute, second);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    for (u32 n = 2; fd < 0 && errno == EEXIST && n < 1000; n++) {
        format_into_buffer((u8*)path, capacity, "%s/log %llu-%u-%u %uh %um %us (%u).txt", directory, year, month, day,
                           hour, minute, second, n);
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    return fd;
}

// Writing the file needs no temporary memory: any thread may flush, also one without a
// slot or with its arena used up, and the buffer must not be emptied unwritten.
static b8 flush_log_locked() {
    __global_log.flushed_at = os_get_monotonic_microseconds();
    // A buffer emptied behind the log's back (tests do) starts over in the same file.
    if (__global_log.written > __global_log.used) __global_log.written = 0;
    if (__global_log.used == __global_log.written) return true;
    if (__global_log.file < 0) {
        if (!__global_log.directory.count) return false;
        time_t now = time(0);
        struct tm local;
        localtime_r(&now, &local);
        const char* directory = (const char*)log_directory_buffer;
        struct stat status;
        if (stat(directory, &status) != 0 || !S_ISDIR(status.st_mode)) mkdir(directory, 0700);
        // No new file unless the old ones make room for it: the folder must stay bounded
        // whatever is logged.
        int listed = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (listed < 0) return false;
        b8 room = remove_old_log_files(listed);
        close(listed);
        if (!room) return false;
        __global_log.file = create_log_file(directory, &local);
        if (__global_log.file < 0) return false;
    }
    b8 written = os_write_all(__global_log.file, __global_log.memory + __global_log.written,
                              __global_log.used - __global_log.written);
    // What could not be written is not tried again: the next flush goes on after it.
    __global_log.written = __global_log.used;
    return written;
}

static b8 write_log_file_locked() {
    b8 written = flush_log_locked();
    if (__global_log.file >= 0 && close(__global_log.file) != 0) written = false;
    __global_log.file = -1;
    __global_log.used = 0;
    __global_log.written = 0;
    return written;
}

b8 write_log_file() {
    if (log_lock_held_here) return false;
    lock_log();
    b8 written = __global_log.memory ? write_log_file_locked() : false;
    unlock_log();
    return written;
}

b8 flush_log() {
    if (log_lock_held_here) return false;
    lock_log();
    b8 written = __global_log.memory ? flush_log_locked() : false;
    unlock_log();
    return written;
}

void flush_log_if_due() {
    u64 now = os_get_monotonic_microseconds();
    u64 last = __atomic_load_n(&__global_log.flushed_at, __ATOMIC_RELAXED);
    if (now - last < LOG_FLUSH_INTERVAL_MICROSECONDS) return;
    if (__atomic_load_n(&__global_log.used, __ATOMIC_RELAXED) == __atomic_load_n(&__global_log.written, __ATOMIC_RELAXED)) return;
    flush_log();
}

//~ Appending

// Copies a finished line into the buffer, writing the buffer out first when the line does
// not fit in what is left; an error goes to the file at once, since what follows may be
// the end of the process.
static void append_to_log(u8* line, u64 length, b8 flush) {
    if (log_lock_held_here || !__global_log.memory) {
        fwrite(line, 1, length, stderr);
        return;
    }
    lock_log();
    if (__global_log.memory) {
        if (length > LOGGING_MEMORY - __global_log.used) write_log_file_locked();
        memcpy(__global_log.memory + __global_log.used, line, length);
        __global_log.used += length;
        if (flush) flush_log_locked();
    }
    unlock_log();
}

static u64 add_log_line_v(String* out, Log_Type type, b8 new_line_first, const char* format, va_list args) {
    u8 line[LOG_LINE_CAPACITY];
    u64 id = ~0ull;
    s64 length = 0;
    if (new_line_first) line[length++] = '\n';

    const char* type_text = type < ARRAY_COUNT(LOG_TYPES_TEXT) ? LOG_TYPES_TEXT[type] : "DEBUG";
    if (type == LOG_ERROR) {
        id = __atomic_add_fetch(&next_error_log_id, 1, __ATOMIC_RELAXED);
        length += format_into_buffer(line + length, sizeof(line) - length, "%s #0x%llx: ", type_text,
                                     (unsigned long long)id);
    } else {
        length += format_into_buffer(line + length, sizeof(line) - length, "%s: ", type_text);
    }
    // One octet stays free for the line feed.
    length += format_into_buffer_v(line + length, sizeof(line) - 1 - length, format, args);
    line[length++] = '\n';

    append_to_log(line, (u64)length, type == LOG_ERROR);

    if (out) {
        *out = String{};
        u8* copy = tmp_allocate((u64)length);
        if (copy) {
            memcpy(copy, line, (u64)length);
            *out = String{copy, length};
        }
    }
    return id;
}

u64 add_log(String* out, Log_Type type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    u64 id = add_log_line_v(out, type, false, format, args);
    va_end(args);
    return id;
}

u64 add_log_with_new_line(String* out, Log_Type type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    u64 id = add_log_line_v(out, type, true, format, args);
    va_end(args);
    return id;
}

void log_new_line() {
    u8 line_feed = '\n';
    append_to_log(&line_feed, 1, false);
}

//~ Start

b8 init_logging() {
    if (!executable_filepath.count) init_executable_filepath();
    u64 saved = tmp_get_used();
    String directory = executable_filepath.count ? string_concat2("%/logs", executable_filepath) : STR("logs");
    set_log_directory(directory);
    tmp_set_used(saved);

    if (!__global_log.memory) {
        u8* memory = carve_static_memory(LOGGING_MEMORY);
        if (!memory) return false;
        lock_log();
        __global_log.memory = memory;
        __global_log.used = 0;
        unlock_log();
    }

    time_t now = time(0);
    struct tm local;
    localtime_r(&now, &local);
    add_log(0, LOG_INFO, "log start: %lu-%u-%u %uh %um %us", (unsigned long)(local.tm_year + 1900),
            (u32)local.tm_mon + 1, (u32)local.tm_mday, (u32)local.tm_hour, (u32)local.tm_min, (u32)local.tm_sec);
    return true;
}
