// Scopes and identifiers: making a scope under its parent with the flags it inherits,
// looking a name up along the scope chain, adding identifiers with or without the
// duplicate check, and parsing a preparsed global declaration on its first use.
#pragma once

#include "compiler/core/core_records.h"

//~ scopes.cpp

Scope* _add_a_scope(Scope* parent, u32 flags, Trace opening);
// A zeroed scope from scopes_pool, appended to the state's list of all scopes, with its
// lists set up and the inherited flags applied; a null parent makes the global scope.
// opening locates the block. Null after the out-of-memory report.

void release_scopes();
// The reset's first step: returns the arrays of every scope of the last compile and clears
// the name index, before the scope pool is reused.

Identifier* get_identifier(Scope* scope, u8* name, u64 length);
// The identifier visible from the scope: each scope's variables, then constants, then
// parameters, outward to the global scope. Past a sub-program body only the global scope's
// variables are seen. A variable found gets its use count raised. Null when not found or
// the name is empty; reports nothing.

Identifier* get_identifier_in_list(Scope* scope, Identifier_Kind list, u8* name, u64 length);
// The first identifier of that name in one list of one scope (polymorphic parameters stand
// in the parameter list), without the walk outward and without raising a use count.

Identifier* add_identifier(Scope* scope, u8* name, u64 length, Identifier_Kind kind, Trace declaration);
// A zeroed identifier appended to the kind's list; no duplicate check. The name is not
// copied and must not change: identifiers enter a list only here, which also enters long
// lists in the name index. Null after the out-of-memory report.

Identifier* get_or_add_identifier(Scope* scope, Token* name, Identifier_Kind kind);
// The visible identifier of that name, else a new one declared at the token.

Identifier* add_identifier_with_error(Scope* scope, Token* name, Identifier_Kind kind);
Identifier* add_identifier_with_error2(Scope* scope, String name, Identifier_Kind kind, Trace declaration);
// Adds unless the name is visible from the scope; then reports "'%s' is already
// declared.\n" with "This is the previous declaration." at the earlier one, and returns null.

//~ first_use.cpp

Identifier* get_identifier_with_error(Scope* scope, Token* name, u8 outer);
// The lookup of a name used in code. With outer set it starts at the inlined body's call
// site. Reports and returns null when the name is unknown. A preparsed global is parsed
// here on its first use; one whose declaration failed is null from then on, with no second
// report. While it is being parsed the bare identifier is returned.

b8 place_fixed_size_array_elements(Scope* scope, Identifier* variable, Identifier* type);
// A fixed-size array variable without a value, its register made: storage of its own for
// the elements, which its data member points to, and a count of 0. In the global scope the
// pointer is a relocation applied when the image loads; elsewhere instructions set both.
// False after a report.
