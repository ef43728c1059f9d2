// A statement of this test program's own in front of the statement builder: `end_here;`
// (also after '$' or a quote) ends a sub-program body as a return does, until returns are
// compiled. Every other statement goes to the real builder: the link wraps the driver's
// calls of make_basic_instructions (by its mangled name) with this one.
#include "parser_test_helpers.h"

#define REAL_BUILDER __real__Z23make_basic_instructionsP5ScopeP5TokenS2_
#define TEST_BUILDER __wrap__Z23make_basic_instructionsP5ScopeP5TokenS2_

extern "C" b8 REAL_BUILDER(Scope* scope, Token* first, Token* end);

extern "C" b8 TEST_BUILDER(Scope* scope, Token* first, Token* end) {
    Token* name = first;
    while (name->kind & (TOKEN_DOLLAR | TOKEN_QUOTE)) name = name->next;
    if (is_keyword(name, STR("end_here"))) return append_scope_instruction(scope, INSTRUCTION_END, scope, first->location);
    return REAL_BUILDER(scope, first, end);
}
