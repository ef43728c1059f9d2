// Stand-ins for the routines the core calls before the parser and the type parser exist.
// Each is weak, so the real routine wins once a library defines it. A test sets what they
// do through stand_in_control.
#pragma once

#include "compiler/core/compiler_core.h"

struct Stand_In_Control {
    u32 declarations_parsed;      // calls of any declaration parser
    b8 fail;                      // the next declarations fail, after a report
    Token* look_up_while_parsing; // looked up with get_identifier_with_error from inside the parse
    Identifier* seen_while_parsing;
    u32 instances_made;           // array types laid out
};

extern Stand_In_Control stand_in_control;

void reset_stand_ins();
