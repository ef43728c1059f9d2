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

u64 add_log(String* out_id, Log_Type type, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Appends one line. Error lines carry an id from an atomic counter, which is returned (and
// written as text into out_id when it is not null).
