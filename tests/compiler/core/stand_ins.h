// Stand-ins for the parser routines the core calls before the parser exists, and a small
// preparse for fixtures. Each stand-in is weak, so the real routine wins once a library
// defines it. A test sets what the sub-program stand-in does through stand_in_control.
#pragma once

#include "compiler/core/compiler_core.h"

struct Stand_In_Control {
    u32 declarations_parsed;      // sub-programs and declarations with a value
    b8 fail;                      // the next sub-programs fail, after a report
    Token* look_up_while_parsing; // looked up with get_identifier_with_error from inside the parse
    Identifier* seen_while_parsing;
};

extern Stand_In_Control stand_in_control;

void reset_stand_ins();

b8 stand_in_preparse(Scope* scope, Token* first, Token* end, b8 use_each);
// Records each "name: type = value;" or "$name: ..." of the tokens in its identifier, as
// the parser's preparse does, to be parsed on its first use; with use_each each is then
// used once, in order. False after a report.
