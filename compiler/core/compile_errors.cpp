// Compile error reports. Each report copies what it shows (path, the source lines around
// the marked range, the message) into its own record, because the shell draws the list
// after the next compile has reset the memory the tokens point into.
#include <string.h>

#include "compiler/core/compiler_core.h"
#include "foundation/log.h"
#include "foundation/unicode.h"

static b8 is_continuation_byte(u8 c) { return (c & 0xC0) == 0x80; }

// Context kept before the marked start when the captured text must be cut.
#define CAPTURE_CONTEXT_BEFORE 1024

static Compile_Error* add_compile_error() {
    Compile_Error* error = (Compile_Error*)dynamic_array_add_fast(&compile_errors);
    if (!error) {
        add_log(0, LOG_ERROR, "A compile error could not be recorded: no memory for the list");
        return 0;
    }
    memset(error, 0, sizeof(*error));
    return error;
}

static void set_message(Compile_Error* error, const u8* message, s64 length) {
    memcpy(error->message, message, (u64)length);
    error->message[length] = 0;
    error->message_length = (u16)length;
}

static void set_path(Compile_Error* error, String path) {
    u8* start = path.data;
    s64 count = path.count;
    if (count > COMPILE_ERROR_TEXT_SIZE) {
        // Keep the end: the file name says most.
        start += count - COMPILE_ERROR_TEXT_SIZE;
        count = COMPILE_ERROR_TEXT_SIZE;
        while (count > 0 && is_continuation_byte(*start)) start++, count--;
    }
    if (count > 0) memcpy(error->path, start, (u64)count);
    error->path_length = (u16)(count > 0 ? count : 0);
}

// Captures the lines from the line start L to the end of the marked range [S, S + M).
// Nothing is read unless both lie inside the text of a loaded file: a token the compiler
// made points elsewhere, and the report is then unlocated.
static void locate_compile_error(Compile_Error* error, u32 file_index, u32 line, u8* L, u8* S, u64 M) {
    Compiler_State* state = &global_compiler_state;
    if (file_index >= state->source_files.count) return;
    Source_File* file = (Source_File*)(state->source_files.data + (u64)file_index * sizeof(Source_File));
    u8* text = file->text;
    u8* end = text + file->text_size;
    if (!text || !L || !S || L < text || L >= end || S < text || S > end) return;
    if (M > (u64)(end - S)) M = (u64)(end - S);

    u8* line_end = L;
    while (line_end < end && *line_end != '\n' && *line_end != '\r') line_end++;
    u8* C = L < S ? L : S;
    u8* captured_end = line_end > S + M ? line_end : S + M;

    u8* window = C;
    u8* window_end = captured_end;
    if (window_end - window > COMPILE_ERROR_TEXT_SIZE) {
        if (S - window > CAPTURE_CONTEXT_BEFORE) window = S - CAPTURE_CONTEXT_BEFORE;
        while (window < S && is_continuation_byte(*window)) window++;
        if (window_end - window > COMPILE_ERROR_TEXT_SIZE) {
            window_end = window + utf8_cut_length(window, COMPILE_ERROR_TEXT_SIZE);
        }
    }

    error->line = line;
    set_path(error, file->path);
    memcpy(error->captured, window, (u64)(window_end - window));
    error->captured_length = (u16)(window_end - window);
    error->column = (u32)(S - window);
    u64 shown = (u64)(window_end - S);
    error->marked_length = (u32)(M < shown ? M : shown);
}

static void report_v(b8 located, Trace at, const char* format, va_list args) {
    // Formatted before the list may grow: an argument could point into an earlier record.
    u8 message[COMPILE_ERROR_TEXT_SIZE];
    s64 length = format_into_buffer_v(message, sizeof(message), format, args);
    Compile_Error* error = add_compile_error();
    if (!error) return;
    set_message(error, message, length);
    if (located) locate_compile_error(error, at.file_index, at.line, at.line_start, at.text_start, at.length);
}

void print_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    report_v(false, Trace{}, format, args);
    va_end(args);
}

void print_error_on_token(Token* token, const char* format, ...) {
    va_list args;
    va_start(args, format);
    report_v(true, token->location, format, args);
    va_end(args);
}

void print_error_on_trace(Trace trace, const char* format, ...) {
    va_list args;
    va_start(args, format);
    report_v(true, trace, format, args);
    va_end(args);
}

void print_error_on_string(Trace trace, const char* format, ...) {
    va_list args;
    va_start(args, format);
    report_v(true, trace, format, args);
    va_end(args);
}

b8 check_for_instruction_end_after(Token* token) {
    Token* next = token->next;
    if (next && next->kind == TOKEN_SEMICOLON) return true;
    if (!next) print_error_on_token(token, "Expected a ';' after '%s'.", token_to_c_string(token));
    else print_error_on_token(token, "Expected a ';' after '%s' but got '%s' instead.", token_to_c_string(token),
                              token_to_c_string(next));
    return false;
}

//~ The copied text

static u8* append(u8* out, const u8* data, u64 count) {
    memcpy(out, data, count);
    return out + count;
}

// One line of marks under captured[line_start, line_end): tabs kept so the marks line up,
// one column per character, a mark at line_end stands under the line break.
static u8* append_marks(u8* out, Compile_Error* error, u32 line_start, u32 line_end) {
    u32 mark_start = error->column;
    u32 mark_end = mark_start + (error->marked_length ? error->marked_length : 1);
    if (mark_end <= line_start || mark_start > line_end) return out;
    *out++ = '\n';
    u32 stop = mark_end < line_end + 1 ? mark_end : line_end + 1;
    for (u32 p = line_start; p < stop; p++) {
        u8 c = p < line_end ? error->captured[p] : ' ';
        if (p < line_end && is_continuation_byte(c)) continue;
        if (p < mark_start) *out++ = c == '\t' ? '\t' : ' ';
        else *out++ = '^';
    }
    return out;
}

String compile_error_to_text(Compile_Error* error, b8 mark_range) {
    u64 capacity = 6 * COMPILE_ERROR_TEXT_SIZE;  // the captured text at most triples with its marks
    u8* block = tmp_allocate(capacity);
    if (!block) return String{};
    u8* out = block;
    out = append(out, error->path, error->path_length);
    String line = {out, 0};
    write_into_string(&line, 16, ":%u", error->line);
    out += line.count;
    out = append(out, (const u8*)"\n\n", 2);
    if (!mark_range || !error->captured_length) {
        out = append(out, error->captured, error->captured_length);
    } else {
        u32 line_start = 0;
        for (u32 p = 0;; p++) {
            b8 at_end = p == error->captured_length;
            if (!at_end && error->captured[p] != '\n' && error->captured[p] != '\r') continue;
            out = append(out, error->captured + line_start, p - line_start);
            out = append_marks(out, error, line_start, p);
            if (at_end) break;
            if (error->captured[p] == '\r' && p + 1 < error->captured_length && error->captured[p + 1] == '\n') p++;
            *out++ = '\n';
            line_start = p + 1;
        }
    }
    out = append(out, (const u8*)"\n\n", 2);
    out = append(out, error->message, error->message_length);
    return String{block, out - block};
}
