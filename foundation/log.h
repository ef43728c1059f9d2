// The log: a 1 MiB buffer in memory, written to a new file in "logs" beside the executable
// when it fills and at exit; only the 8 newest log files are kept.
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

struct Log {
    u8* memory;        // LOGGING_MEMORY octets of the static memory; null before init_logging
    u64 used;
    String directory;  // where log files go: "logs" beside the executable
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
// too long for LOG_LINE_CAPACITY is cut at a character boundary. Returns the line's error
// id for LOG_ERROR and all ones otherwise. When out is not null it receives a copy of the
// line as written, in temporary memory. Any thread may log.

u64 add_log_with_new_line(String* out, Log_Type type, const char* format, ...) __attribute__((format(printf, 3, 4)));
// The same with a line feed before the prefix.

void log_new_line();  // appends one line feed

b8 write_log_file();
// Writes the buffer to a new file in the log directory and empties the buffer, also when
// the file could not be written. Removes the oldest log files first when there are more
// than NUM_LOG_FILES_TO_KEEP. True when every byte was written.

void set_log_directory(String directory);
// Points the log at another directory (copied; at most PATH_MAX - 1 octets).
