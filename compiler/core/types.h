// Types. A type is a constant Identifier whose flags carry its kind bits: the basic types
// added at the start of every compile, and derived types (address levels, arrays) made on
// demand and entered by name in the scope of the type they come from, so asking twice
// finds the first. Printing, matching, inference and member lookups.
#pragma once

#include "compiler/core/core_records.h"

// What make_type_info_from_type gives: no type information is laid out yet.
struct Type_Info_Record {
    void* data;
    u32 index;  // 0xFFFFFFFF: none
};

//~ types.cpp: the basic types

b8 add_the_basic_types();
// Once per compile, after the reset: the fourteen basic types in slot order in the global
// scope (Type first, its own type; String with its members data and count) and the six
// shared float constants (1.0, -1.0 and the sign mask, of f32 then of f64). False after
// the out-of-memory report.

b8 add_the_support_types();
// After the support source declared them: __Array, __Fixed_Size_Array and Code are taken
// from the global scope into their slots and given their kind bits. False after reporting
// "inject.8 must declare '%s'." for the first one missing.

Identifier* add_a_basic_type(String name, u64 flags, u32 size, u32 alignment);
// A constant type in the global scope, its own self and leaf, of type Type; a struct or enum
// gets an empty member scope and size 0. The name is not copied. Null after a report.

Identifier* add_a_struct_member(Identifier* struct_type, String name, u64 flags, u32 size, Identifier* type);
// A member at the struct's current size, which grows by size (a member flagged TYPE_STRUCT
// gets an empty member scope of its own and adds nothing). The name is not copied. Null
// after a report.

Identifier* add_a_basic_constant(String name, Identifier* type);
// A constant in the global scope whose type, self and leaf are the given type.

void set_type_constant_value(Identifier* type);
// The type's constant (a typed value of type Type holding the type), located at its
// declaration: what using the type's name as a value gives.

//~ types.cpp: derived types

Identifier* type_to_memory_address_of_type(Identifier* type, u8 levels);
// The type levels address levels above type (type itself for 0), made once and entered in
// type's declaring scope as "@@ u8". Null after the out-of-memory report.

Identifier* type_to_dereference_of_type(Identifier* type);
// One address level down: the leaf for a one-level address. Null for a type that is not an
// address, or after the out-of-memory report.

Identifier* swap_leaf_type(Scope* scope, Identifier* a, Identifier* b, Trace trace);
// The type with a's address levels over b, found or added in the scope.

void copy_type_aliasing_stuff(Identifier* target, Identifier* source, u8 with_size);
// Makes target a type of source's kind (its own self); with with_size also of its size,
// alignment and address levels.

Type_Info_Record make_type_info_from_type(Identifier* type);

//~ types.cpp: text, identity and inference

String type_to_string(Identifier* type);
char* type_to_c_string(Identifier* type);
// "@@ Outer.Inner", "[4] u8", "(u8, @ String) #c_call -> s32": in temporary memory, NUL-
// terminated; empty after the out-of-memory report.

b8 types_perfectly_match(Identifier* a, Identifier* b);
// The same type: one identifier, or equal depth over one leaf. Two instances of one
// polymorphic struct (from sibling scopes) match when their names and layouts agree; any
// other struct matches only itself. Signatures match parameter by parameter, where an
// n-level void address takes any address of n or more levels.

Value* make_constant_value_from_type(Value* out, Identifier* type, Trace trace);
// The type as a value: its constant, located at trace.

#define INFER_DEREFERENCE     0x1  // a value that holds an address to be read gives the type below
#define INFER_SMALLEST_TYPE   0x2  // an untyped integer gives the smallest type that holds it

Identifier* infer_type_from_constant(u8 options, Constant* constant);
Identifier* infer_type_from_value(u8 options, Value* value);
// The type a constant or value has: its own when typed; u64 or s64 for untyped integers (the
// smallest of u8, u16, u32 or s8, s32 with INFER_SMALLEST_TYPE, one below each maximum),
// f32 for reals, String for strings, the carried type of an aggregate. Null otherwise.

Identifier* get_type_from_value(Value* value);
// A typed constant's type, String for an untyped string, a register value's type (one
// level down when it holds the value's address); null otherwise.

//~ types.cpp: members

Identifier* get_struct_member_from_string(Identifier* type, String name);
// The member of that name of the type's leaf: its variables, then constants, then
// parameters. Null when there is none.

Identifier* get_struct_member_from_token(Identifier* type, Token* name);
// The same, after reporting "Type '%s' does not appear to be a struct." or "'%s' is not a
// member of struct %s." at the token.

Identifier* get_enum_value_from_token(Identifier* enum_type, Token* name);
Identifier* get_enum_value_no_errors(Identifier* enum_type, String name);
// A value of the enum; the first reports "'%s' is not a member of enum %s." when missing.

//~ array_types.cpp

Identifier* get_or_add_array_type_from(Identifier* element, Trace use, Value* count);
// "[] T" without a count (null, or a value of kind 0), else "[N] T" with the count
// constant's u64: found along T's scope chain, or made once from __Array or
// __Fixed_Size_Array in T's declaring scope. Null after a report: "This type is too large."
// when the elements take more than 32 bits of octets.

