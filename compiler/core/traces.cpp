// Traces: located ranges of source text, made from tokens and joined, and the source line
// a trace stands on.
#include "compiler/core/compiler_core.h"

Trace make_trace_from_token(Token* token) {
    Trace trace = token->location;
    trace.text_start = token->text;
    trace.length = token->length;
    return trace;
}

Trace make_trace_from_tokens(Token* first, Token* last) {
    Trace trace = make_trace_from_token(first);
    trace.length = (u64)(last->text + last->length - first->text);
    return trace;
}

Trace make_trace_from_tokens2(Token* first, Token* last) {
    Trace trace = make_trace_from_token(first);
    trace.length = (u64)(last->text - first->text);
    return trace;
}

Trace concat_traces(Trace a, Trace b) {
    if (b.text_start >= a.text_start) a.length = (u64)(b.text_start - a.text_start) + b.length;
    return a;
}

u32 get_token_line(Token* token) { return token->location.line; }

String get_trace_line_view(Trace trace) {
    Compiler_State* state = &global_compiler_state;
    if (!trace.line_start || trace.file_index >= state->source_files.count) return String{};
    Source_File* file = (Source_File*)(state->source_files.data + (u64)trace.file_index * sizeof(Source_File));
    u8* end = file->text + file->text_size;
    if (!file->text || trace.line_start < file->text || trace.line_start >= end) return String{};
    u8* at = trace.line_start;
    while (at < end && *at != '\n' && *at != '\r') at++;
    return String{trace.line_start, at - trace.line_start};
}
