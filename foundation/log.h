// The log: a 1 MiB buffer in memory, with one file in "logs" beside the executable for each
// buffer's worth. What is new goes to that file when an error is logged, every few seconds
// and at exit, so a crash loses at most the last seconds of lines that are no errors; a
// full buffer is written out and starts again with a new file. Only the 8 newest log files
// are kept, so a storm of lines can use up the buffer many times and still not the disk.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

enum Log_Type : u8 {
    LOG_ERROR,
    LOG_DEBUG,
    LOG_INFO,
    LOG_ASSETS,
    LOG_GRAPHICS,
    LOG_NETWORK,
};

extern const char* const LOG_TYPES_TEXT[6];  // "ERROR", "DEBUG", "Info", "Assets", "Graphics", "Network"

#define LOG_LINE_CAPACITY      2048  // one line with its prefix and line feed; longer text is cut
#define NUM_LOG_FILES_TO_KEEP  8

#define LOG_FLUSH_INTERVAL_MICROSECONDS 2000000ull

struct Log {
    u8* memory;        // LOGGING_MEMORY octets of the static memory; null before init_logging
    u64 used;
    String directory;  // where log files go: "logs" beside the executable
    u64 written;       // octets of the buffer already in the file, at most used
    int file;          // the file of this buffer's lines, open for appending; -1 before its first write
    u64 flushed_at;    // monotonic microseconds of the last flush
    // An error logged again and again is written once: while the buffer ends with it
    // (used == repeated_end), the same message only counts here until another line comes.
    u64 repeated_end;    // used just after the last error line; 0 when the last line was no error
    u64 repeated_count;  // octets of that line's message, escaped as written
    u64 repeated_id;     // its id, which a repeat returns
    u64 repeats;         // repeats not written yet
};

extern Log __global_log;
extern u8 log_lock;            // guards __global_log and the log files; innermost: a holder of any other lock may log
extern u64 next_error_log_id;  // starts at all ones, so the first error line has id 0

b8 init_logging();
// Takes the buffer from the static memory, points the log at "logs" beside the executable
// and adds the "log start" line. False when the buffer cannot be had; lines then go to
// stderr, as they do before init_logging.

u64 add_log(String* out, Log_Type type, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Appends one line: "ERROR #0x<id>: " or "<type>: ", the message, a line feed; a message
// too long for LOG_LINE_CAPACITY is cut at a character boundary. In the message, octets
// below 0x20, 0x7F, the C1 controls and octets that are no UTF-8 are written as "\xHH", so
// that showing a log in a terminal runs nothing a file name or a layer put there; the
// line's own line feed is the only one. An error whose message is that of the line just
// before it is not written again: it is counted, and one line "Info: the line above was
// repeated N more time(s)" follows when another line comes, at flush_log and at
// write_log_file. Returns the line's error id for LOG_ERROR (a repeat's is the written
// line's) and all ones otherwise. When out is not null it receives a copy of the line as
// written, in temporary memory. Any thread may log.

u64 add_log_with_new_line(String* out, Log_Type type, const char* format, ...) __attribute__((format(printf, 3, 4)));
// The same with a line feed before the prefix.

void log_new_line();  // appends one line feed

b8 write_log_file();
// Writes what the buffer holds beyond what is already in its file, closes that file and
// empties the buffer, also when the file could not be written: the next line starts a new
// file. True when every byte was written.

b8 flush_log();
// Appends what is new in the buffer to the buffer's file, creating it (named by the local
// time, in the log directory) at the first flush. Before a file is created the oldest log
// files are removed until NUM_LOG_FILES_TO_KEEP remain, with no temporary memory; only
// regular files named as the log names its files count. When they cannot be brought down
// to that, no file is created. The buffer keeps its lines. True when every new byte was
// written (also when there was none).

void flush_log_if_due();
// flush_log when something new waits and the last flush is LOG_FLUSH_INTERVAL_MICROSECONDS
// ago. The file watcher calls it on each pass.

void set_log_directory(String directory);
// Points the log at another directory (copied; at most PATH_MAX - 1 octets).
