// Weak stand-ins for the routines the statement driver, the preparse and the pipeline call
// before they exist. A statement that reaches one is reported, never skipped; each is
// deleted when its real routine lands, and a test may define a strong one of its own.
#include "compiler/parser/parser.h"

#define WEAK __attribute__((weak))

static b8 report_not_supported(Token* token) {
    if (token) print_error_on_token(token, "This is incorrect/not supported right now.");
    else print_error("This is incorrect/not supported right now.");
    return false;
}

WEAK b8 parse_call(Scope*, Token* open, Value*, u8, u8, Value) { return report_not_supported(open); }
