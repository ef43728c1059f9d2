// What the compile pipeline calls before the compiler defines it: sub-program declarations
// and their parameters, and calls. Until then a
// compile that reaches one fails with a report, which the editor shows as it shows any
// failed compile. Weak, and in a library linked after the compiler's: a real definition is
// always found first. Delete each when its routine lands.
#include "compiler/parser/parser.h"

#define WEAK __attribute__((weak))

static b8 report_not_built(Token* token) {
    if (token) print_error_on_token(token, "This is incorrect/not supported right now.");
    else print_error("This is incorrect/not supported right now.");
    return false;
}

WEAK b8 parse_sub_program_declaration(Scope*, Sub_Program* sub_program, Token* first, Token*) {
    if (first) return report_not_built(first);
    print_error_on_trace(sub_program->declaration, "This is incorrect/not supported right now.");
    return false;
}

WEAK Identifier* preparse_sub_program_param(Sub_Program*, Token* first, Token*) {
    report_not_built(first);
    return 0;
}

WEAK b8 parse_call(Scope*, Token* open, Value*, u8, u8, Value) { return report_not_built(open); }
