// Struct and enum declarations and the instances of polymorphic structs. Members are laid
// out as C lays them out: each at a multiple of its alignment, groups and unions placed as
// one member, the struct's size rounded up to its alignment. Sizes are summed in 64 bits
// and refused past what a type's 32-bit size holds.
#pragma once

#include "compiler/core/core_records.h"

#define STRUCT_BODY_UNION  0x1  // a #union group: every member at the group's start
#define STRUCT_BODY_GROUP  0x2  // a #struct group
#define STRUCT_BODY_WHOLE  0x4  // a struct's own body: finishes the struct

// A body being laid out: its size so far and its alignment (1 at the start). In a union,
// the alternatives placed so far: members of every one after the first share their place
// with the first, so only the first's defaults are written.
struct Struct_Layout {
    u64 size;
    u32 alignment;
    u32 alternatives;
};

//~ struct_declarations.cpp

b8 parse_struct_declaration(Scope* scope, Identifier* identifier, Token* first, Token* end);
// "#struct ($T: Type, ...) = { ... }" from the token after #struct up to end (the ';'): the
// identifier becomes the struct (a polymorphic one keeps its block for its instances), or,
// without '=', a variable or constant of a new anonymous struct named "<name> anon struct".
// False after a report.

b8 parse_struct_body(Identifier* struct_type, Token* first, Token* end, u8 mode, Struct_Layout* layout);
// The members between first and end (the block's content) added to the struct's member
// scope and laid out into the layout, by the STRUCT_BODY_* mode. With STRUCT_BODY_WHOLE the
// struct gets its size, alignment and constant. False after a report.

Identifier* parse_struct_member_declaration(Identifier* struct_type, Token* first, Token* semicolon);
// One "name: type = default;" or "$name := value;" of a body (not laid out). Null after a
// report.

b8 parse_enum_declaration(Scope* scope, Identifier* identifier, Token* first, u8 flags_variant);
// "<base> = #unique_values { ... }" from the token after #enum or #enum_flags: an enum on an
// integer base, its values declared by the parser's enum body. False after a report.

//~ polymorphic_structs.cpp

String constant_to_key_text(Value* constant);
// The constant as instance names and keys print it, so different constants never print
// alike: a type by its text, integers whole, reals to round-trip, strings quoted. In
// temporary memory.

Identifier* make_struct_from_polymorphic(Identifier* polymorphic, Scope* scope, Token* open, Token* end);
// The instance that the argument list from open (its '(') makes: positional, named
// ("N = 2") and empty arguments (the default), each evaluated as a constant of its
// parameter's type. end is the token after the ')'. Null after a report.

Identifier* make_struct_from_polymorphic_using_arguments(Identifier* polymorphic, Scope* scope, Value* arguments,
                                                         String name, Trace use);
// The instance for one argument per parameter: found by name from the scope outward, or
// added to the scope (a named instance to the nearest scope around it that is not a struct's
// members), its parameters bound and the polymorphic body laid out. A given name
// must live as long as the compile; without one (null data) it is named "P(u8, 4)" by its
// arguments. Null after a report, and from then on for the same name without a second report.
