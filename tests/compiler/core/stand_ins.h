// Stand-ins for the routines a global's first use calls before the parser, the types and
// the registers exist. Each is weak, so the real routine wins once a library defines it.
// A test sets what they do through stand_in_control.
#pragma once

#include "compiler/core/compiler_core.h"

struct Stand_In_Control {
    u32 declarations_parsed;      // calls of any declaration parser
    b8 fail;                      // the next declarations fail, after a report
    Token* look_up_while_parsing; // looked up with get_identifier_with_error from inside the parse
    Identifier* seen_while_parsing;
    u8* constant_data;            // what every constant-data register reads as
};

extern Stand_In_Control stand_in_control;

void reset_stand_ins();
