// The in-memory log and its files. Every change to the buffer, and every file write, happens
// under log_lock; a line is formatted and escaped on the stack first, so the lock is held
// only to compare it with the last error, put its prefix on and copy it.

#include "foundation/log.h"
#include "foundation/os_files.h"
#include "foundation/unicode.h"

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

Log __global_log = {nullptr, 0, {}, 0, -1, 0, 0, 0, 0, 0};
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

static void end_repeat_run_locked();

static b8 write_log_file_locked() {
    end_repeat_run_locked();
    b8 written = flush_log_locked();
    if (__global_log.file >= 0 && close(__global_log.file) != 0) written = false;
    __global_log.file = -1;
    __global_log.used = 0;
    __global_log.written = 0;
    __global_log.repeated_end = 0;
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
    b8 written = false;
    if (__global_log.memory) {
        end_repeat_run_locked();
        written = flush_log_locked();
    }
    unlock_log();
    return written;
}

void flush_log_if_due() {
    u64 now = os_get_monotonic_microseconds();
    u64 last = __atomic_load_n(&__global_log.flushed_at, __ATOMIC_RELAXED);
    if (now - last < LOG_FLUSH_INTERVAL_MICROSECONDS) return;
    if (__atomic_load_n(&__global_log.used, __ATOMIC_RELAXED) == __atomic_load_n(&__global_log.written, __ATOMIC_RELAXED) &&
        __atomic_load_n(&__global_log.repeats, __ATOMIC_RELAXED) == 0) {
        return;
    }
    flush_log();
}

//~ Appending

// Copies a finished line into the buffer, writing the buffer out first when the line does
// not fit in what is left.
static void append_locked(const u8* line, u64 length) {
    if (length > LOGGING_MEMORY - __global_log.used) write_log_file_locked();
    memcpy(__global_log.memory + __global_log.used, line, length);
    __atomic_store_n(&__global_log.used, __global_log.used + length, __ATOMIC_RELAXED);
}

// Writes the count of a repeated error that is not in the buffer yet.
static void end_repeat_run_locked() {
    u64 repeats = __global_log.repeats;
    if (!repeats) return;
    __atomic_store_n(&__global_log.repeats, 0ull, __ATOMIC_RELAXED);
    u8 line[96];
    s64 length = format_into_buffer(line, sizeof(line), "Info: the line above was repeated %llu more time%s\n",
                                    (unsigned long long)repeats, repeats == 1 ? "" : "s");
    append_locked(line, (u64)length);
}

// Writes the message into the buffer, every octet that a terminal could act on as "\xHH":
// the C0 controls and DEL, the C1 controls (U+0080..U+009F, which some terminals obey) and
// octets that are not part of well-formed UTF-8. A character or its escape is written whole
// or not at all. Returns the length written.
static u64 escape_log_text(u8* to, u64 capacity, u8* text, u64 count) {
    static const char HEX[] = "0123456789abcdef";
    u8* end = text + count;
    u64 length = 0;
    for (u8* p = text; p < end;) {
        u32 size = get_utf8_char_size_in(p, end);
        b8 escaped = false;
        if (size == 1) {
            escaped = *p < 0x20 || *p >= 0x7F;
        } else {
            u32 codepoint = utf8_known_size_to_utf32_codepoint(p, size);
            escaped = codepoint >= 0x80 && codepoint <= 0x9F;
        }
        u64 needed = escaped ? 4ull * size : size;
        if (needed > capacity - length) break;
        for (u32 i = 0; i < size; i++) {
            if (!escaped) {
                to[length++] = p[i];
                continue;
            }
            to[length++] = '\\';
            to[length++] = 'x';
            to[length++] = (u8)HEX[p[i] >> 4];
            to[length++] = (u8)HEX[p[i] & 15];
        }
        p += size;
    }
    return length;
}

// Room for the longest prefix: a line feed, "ERROR #0x", 16 hexadecimal digits and ": ".
#define LOG_PREFIX_ROOM 28

static const char* get_log_type_text(Log_Type type) {
    return type < ARRAY_COUNT(LOG_TYPES_TEXT) ? LOG_TYPES_TEXT[type] : "DEBUG";
}

// Writes the line's prefix just before its body, which has LOG_PREFIX_ROOM octets (or the
// exact prefix's) in front of it; returns where the line starts.
static u8* put_log_prefix(u8* body, Log_Type type, b8 new_line_first, u64 id) {
    u8 prefix[LOG_PREFIX_ROOM + 1];
    s64 n = 0;
    if (new_line_first) prefix[n++] = '\n';
    if (type == LOG_ERROR) {
        n += format_into_buffer(prefix + n, sizeof(prefix) - n, "%s #0x%llx: ", get_log_type_text(type), (unsigned long long)id);
    } else {
        n += format_into_buffer(prefix + n, sizeof(prefix) - n, "%s: ", get_log_type_text(type));
    }
    memcpy(body - n, prefix, (u64)n);
    return body - n;
}

static u64 add_log_line_v(String* out, Log_Type type, b8 new_line_first, const char* format, va_list args) {
    u8 message[LOG_LINE_CAPACITY];
    u64 message_length = (u64)format_into_buffer_v(message, sizeof(message), format, args);

    // The line is built behind room for its prefix: an error's id is known only under the lock.
    u64 room = type == LOG_ERROR ? LOG_PREFIX_ROOM : (new_line_first ? 1 : 0) + strlen(get_log_type_text(type)) + 2;
    u8 line[LOG_LINE_CAPACITY];
    u8* body = line + room;
    // One octet stays free for the line feed.
    u64 body_length = escape_log_text(body, sizeof(line) - room - 1, message, message_length);
    body[body_length] = '\n';

    u64 id = ~0ull;
    u8* start = 0;
    if (log_lock_held_here || !__global_log.memory) {
        if (type == LOG_ERROR) id = __atomic_add_fetch(&next_error_log_id, 1, __ATOMIC_RELAXED);
        start = put_log_prefix(body, type, new_line_first, id);
        fwrite(start, 1, (u64)(body + body_length + 1 - start), stderr);
    } else {
        lock_log();
        Log* log = &__global_log;
        b8 repeat = type == LOG_ERROR && log->repeated_end != 0 && log->used == log->repeated_end &&
                    log->repeated_count == body_length &&
                    memcmp(log->memory + log->repeated_end - 1 - body_length, body, body_length) == 0;
        if (repeat) {
            id = log->repeated_id;
            start = put_log_prefix(body, type, new_line_first, id);
            __atomic_store_n(&log->repeats, log->repeats + 1, __ATOMIC_RELAXED);
        } else {
            if (type == LOG_ERROR) id = __atomic_add_fetch(&next_error_log_id, 1, __ATOMIC_RELAXED);
            start = put_log_prefix(body, type, new_line_first, id);
            end_repeat_run_locked();
            append_locked(start, (u64)(body + body_length + 1 - start));
            log->repeated_end = 0;
            if (type == LOG_ERROR) {
                log->repeated_end = log->used;
                log->repeated_count = body_length;
                log->repeated_id = id;
                // What follows an error may be the end of the process.
                flush_log_locked();
            }
        }
        unlock_log();
    }

    if (out) {
        u64 length = (u64)(body + body_length + 1 - start);
        *out = String{};
        u8* copy = tmp_allocate(length);
        if (copy) {
            memcpy(copy, start, length);
            *out = String{copy, (s64)length};
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
    if (log_lock_held_here || !__global_log.memory) {
        fwrite(&line_feed, 1, 1, stderr);
        return;
    }
    lock_log();
    end_repeat_run_locked();
    append_locked(&line_feed, 1);
    __global_log.repeated_end = 0;
    unlock_log();
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
