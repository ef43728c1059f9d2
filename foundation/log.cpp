// A stand-in log that prints each line to stderr, so the memory code can report its
// failures before the buffered log with its files exists.
#include <stdarg.h>
#include <stdio.h>

#include "foundation/log.h"

static u64 next_error_id = 1;

static const char* log_type_name(Log_Type type) {
    switch (type) {
        case LOG_ERROR:    return "ERROR";
        case LOG_DEBUG:    return "DEBUG";
        case LOG_INFO:     return "Info";
        case LOG_ASSETS:   return "Assets";
        case LOG_GRAPHICS: return "Graphics";
        case LOG_NETWORK:  return "Network";
    }
    return "Info";
}

u64 add_log(String* out_id, Log_Type type, const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);

    u64 id = 0;
    if (type == LOG_ERROR) {
        id = __atomic_fetch_add(&next_error_id, 1, __ATOMIC_RELAXED);
        fprintf(stderr, "%s #0x%llx: %s\n", log_type_name(type), (unsigned long long)id, line);
    } else {
        fprintf(stderr, "%s: %s\n", log_type_name(type), line);
    }
    if (out_id) {
        u8* text = tmp_allocate(32);
        out_id->data = text;
        out_id->count = text ? snprintf((char*)text, 32, "0x%llx", (unsigned long long)id) : 0;
    }
    return id;
}
