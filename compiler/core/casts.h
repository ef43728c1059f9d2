// Casts: constants converted while compiling, values converted by cast instructions, and
// the type checks under both that decide what mixes without a cast and word the message.
// A failed cast gives a Value whose kind byte is 0, after reporting at the value's trace.
#pragma once

#include "compiler/core/core_records.h"

// The type a type name stands for, and the base of an enum that is not an address.
inline Identifier* get_resolved_type(Identifier* type) {
    if (type && !type->pointer_depth && type->leaf_type && type->leaf_type != type && !(type->flags & TYPE_SUB_PROGRAM)) {
        return type->leaf_type;
    }
    return type;
}

inline Identifier* get_enum_base(Identifier* type) {
    if (type && !type->pointer_depth && (type->flags & TYPE_ENUM) && type->element_type) return type->element_type;
    return type;
}

//~ constant_casts.cpp

Value* cast_constant_to_type(Value* out, Identifier* type, Value* constant);
// The constant fitted to the type: typed, its size the type's, integers and reals converted
// between, an integer into an address marked 0x80 in its kind byte, a struct constant read
// through its #as member. An integer fits when its octet size is not larger than the
// type's. out may be constant itself. Kind byte and mask 0 after a report.

b8 read_struct_member_constant(Value* out, Value* constant, Identifier* member);
// The member's value out of a struct constant's staged octets: a struct member as a typed
// constant over a view of the constant's register (a String also with its text), a number
// widened to 64 bits by its sign. False when the constant has no staged octets.

//~ value_casts.cpp

b8 check_numbers_mix(Identifier* destination, Identifier* source, String* message);
// True when a number of the source type goes into the destination type without a cast
// (an address counts as s64); on false the message says why. Reports nothing.

b8 check_imperfect_types_mix_no_error(Identifier* wanted, Identifier* got, String* message);
// True when a value of the got type may stand where the wanted type is expected; on false
// the message (temporary memory) says why. Reports nothing.

b8 check_imperfect_types_mix(Identifier* wanted, Identifier* got, Trace trace);
// The same, reporting the message at the trace on false.

Value* cast_value_to_type(Value* out, Scope* scope, Identifier* type, Value* value);
// The implicit cast: the value unchanged or retyped, a member through #as, or a fresh
// register filled by a cast (or copy) instruction appended to the scope. Constants are
// handed to cast_constant_to_type and never make instructions. out may be value itself.

Value* explicit_cast_value(Value* out, Scope* scope, Identifier* type, Value* value);
// cast(value, type): also narrows, converts addresses and integers both ways and reals to
// integers. A retyped result carries the target's base when the target is an enum.

void report_not_a_sub_program(Token* token, Identifier* identifier);
// "'%s' is not a sub-program." with the identifier's name, at the token.
