// What the compile pipeline calls before the compiler defines it: the statements, the values
// of assignments and the deferred blocks. Until then a compile that reaches one of them
// fails with a report, which the editor shows as it shows any failed compile. Weak, and in a
// library linked after the compiler's: a real definition is always found first. Delete each
// when its routine lands.
#include "compiler/parser/parser.h"

#define WEAK __attribute__((weak))

static b8 report_not_built(Token* token) {
    if (token) print_error_on_token(token, "This is incorrect/not supported right now.");
    else print_error("This is incorrect/not supported right now.");
    return false;
}

WEAK b8 make_basic_instructions(Scope*, Token* first, Token*) { return report_not_built(first); }

WEAK b8 parse_assignment_value(Scope*, u8, u8, Identifier*, Token* first, Token*, Value*) {
    return report_not_built(first);
}

WEAK b8 handle_deferred_blocks(Scope*, u32, u8) { return report_not_built(nullptr); }
