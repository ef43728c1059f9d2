// A small preparse for the core's fixtures: declarations recorded as the parser's preparse
// records them.
#pragma once

#include "compiler/core/compiler_core.h"

b8 stand_in_preparse(Scope* scope, Token* first, Token* end, b8 use_each);
// Records each "name: type = value;" or "$name: ..." of the tokens in its identifier, as
// the parser's preparse does, to be parsed on its first use; with use_each each is then
// used once, in order. False after a report.
