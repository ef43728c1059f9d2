// A stand-in for a parser routine the core calls before the parser defines it, and a small
// preparse for fixtures. The stand-in is weak, so the real routine wins once a library
// defines it.
#pragma once

#include "compiler/core/compiler_core.h"

b8 stand_in_preparse(Scope* scope, Token* first, Token* end, b8 use_each);
// Records each "name: type = value;" or "$name: ..." of the tokens in its identifier, as
// the parser's preparse does, to be parsed on its first use; with use_each each is then
// used once, in order. False after a report.
