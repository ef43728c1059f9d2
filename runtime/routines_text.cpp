// The text routines: log and int_to_string. Both read what compiled code hands over through
// copies, since a parameter block has no alignment the C++ side may count on.
#include <string.h>

#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
#include "foundation/log.h"

// Text past one log line would be cut by the log anyway.
#define LOG_ROUTINE_TEXT_CAPACITY LOG_LINE_CAPACITY

struct Log_Text {
    u8* data;
    u64 count;
};

static void append(Log_Text* text, const u8* data, s64 count) {
    if (!data || count <= 0) return;
    u64 room = LOG_ROUTINE_TEXT_CAPACITY - text->count;
    u64 n = (u64)count < room ? (u64)count : room;
    memcpy(text->data + text->count, data, n);
    text->count += n;
}

void routine_log(u8* block) {
    Log_Parameters p;
    memcpy(&p, block, sizeof(p));
    if (!p.values || p.value_count <= 0) return;
    check_layer_memory(p.format.data, p.format.count);
    check_layer_strings(p.values, p.value_count);
    // On the stack: a block may log many thousand times before its temporary memory is
    // given back, and a line must not depend on what the block left of it.
    u8 buffer[LOG_ROUTINE_TEXT_CAPACITY];
    Log_Text text = {buffer, 0};
    u8* format = p.format.data;
    s64 count = format ? p.format.count : 0;
    s64 next = 0;
    for (s64 i = 0; i < count; i++) {
        if (format[i] != '%') {
            append(&text, &format[i], 1);
        } else if (i + 1 < count && format[i + 1] == '%') {
            append(&text, &format[i], 1);
            i++;
        } else if (next < p.value_count) {
            String value;
            memcpy(&value, &p.values[next++], sizeof(value));
            append(&text, value.data, value.count);
        } else {
            append(&text, &format[i], count - i);
            break;
        }
    }
    add_log(nullptr, LOG_INFO, "%.*s", (int)text.count, (char*)text.data);
}

void routine_int_to_string(u8* block) {
    s64 value;
    memcpy(&value, block, sizeof(value));
    // The smallest s64 with its separators is 26 characters: a small block holds any value.
    // The magnitude is formatted unsigned, since the formatter cannot negate the smallest s64.
    u64 magnitude = value < 0 ? 0 - (u64)value : (u64)value;
    String text = tstring_small(value < 0 ? "-%'llu" : "%'llu", (unsigned long long)magnitude);
    memcpy(block + offsetof(Int_To_String_Parameters, result), &text, sizeof(text));
}
