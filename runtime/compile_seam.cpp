// What the compile pipeline calls before the compiler defines it: struct and array
// literals and enum bodies. Until then a compile that reaches one fails with a report,
// which the editor shows as it shows any failed compile. Weak, and in a library linked after the compiler's: a real definition is
// always found first. Delete each when its routine lands.
#include "compiler/parser/parser.h"

#define WEAK __attribute__((weak))

static b8 report_not_built(Token* token) {
    if (token) print_error_on_token(token, "This is incorrect/not supported right now.");
    else print_error("This is incorrect/not supported right now.");
    return false;
}

WEAK b8 parse_enum_body(Identifier*, Token* first, Token*, u64*, u8, u8) { return report_not_built(first); }

WEAK b8 parse_struct_literal(Scope*, Identifier*, Token* open, u8, Value*) { return report_not_built(open); }

WEAK b8 parse_array_literal(Scope*, Identifier*, Token* open, u8, Value*) { return report_not_built(open); }
