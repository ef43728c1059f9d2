// Compile error reports: every error becomes one self-contained Compile_Error in
// compile_errors, located on a token or a trace, with the source text around it copied.
#pragma once

#include <stdarg.h>

#include "compiler/core/core_records.h"

//~ compile_errors.cpp

void print_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A report without a location.

void print_error_on_token(Token* token, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Located on the token, marking its error range.

void print_error_on_trace(Trace trace, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Located on the trace, marking its range.

void print_error_on_string(Trace trace, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The same; the tokeniser's form, for places where no token exists yet.
//
// A report never fails the compile by itself: the caller returns failure. A location that
// is not inside a loaded file's text (a token the compiler made) gives an unlocated report.
// Texts longer than COMPILE_ERROR_TEXT_SIZE are cut: the message at a character boundary,
// the path to its last octets, the captured text to a window around the marked start.

b8 check_for_instruction_end_after(Token* token);
// True when the next token is a ';'; otherwise reports at the token and returns false.

String compile_error_to_text(Compile_Error* error, b8 mark_range);
// What the compile-errors tab copies: the "%s:%u" header, the captured text and the
// message, separated by blank lines. With mark_range, each captured line that holds part
// of the marked range is followed by a line with '^' under the marked characters. In
// temporary memory; empty when it is full.
