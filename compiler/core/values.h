// Values and constants: what every expression evaluates to at compile time. Makers of
// dynamic values (in a register) and of constants (from literal tokens, strings, numbers,
// types and code literals), escape decoding, shared string texts, shared float constants
// and the default value of a type.
#pragma once

#include "compiler/core/core_records.h"

//~ values.cpp: makers (each fills out, returns it, and takes the source trace last)

Value* make_dynamic_value(Value* out, Scope* scope, Identifier* type, Trace trace);
// A fresh register of the type in the scope: kind 0x49 for b8, else 9. Kind 0 after the
// out-of-memory report.

Value* make_dynamic_value_from_register(Value* out, Register_Id id, Identifier* type, Trace trace);  // kind 1

Value* make_value_from_identifier(Value* out, Identifier* identifier, Trace trace);
// A variable's register (kind 1), or a copy of the stored value of a constant or of an
// identifier flagged IDENTIFIER_INLINE; read from an inline parameter bound to a constant,
// the value names it as its inline_parameter and is from_parameter.

Value* make_value_from_constant(Value* out, Constant constant, Trace trace);  // kind 2

Value* make_dynamic_value_out_of_non_scalar_constant(Value* out, Value* constant);
// A constant held in constant data, used like a variable: its type and register, kind 1.

Value* make_constant_value_from_register(Value* out, Register_Id id, Identifier* type, Trace trace);
// A typed constant held in constant data (mask CONSTANT_TYPED).

Value* make_constant_value_from_integer(Value* out, u64 value, Identifier* type, Trace trace);
// Typed signed for addresses and signed types (an enum by its base), else typed unsigned.

Value* make_constant_value_from_float(Value* out, f64 value, Identifier* type, Trace trace);

Value* make_constant_value_from_type_info(Value* out, Register_Id id, Trace trace);
// A constant of the type-information type, whose octets the register holds.

Value* make_constant_value_from_code_literal(Value* out, Token* opening_brace);
// A Code constant whose data is the block's opening brace, with constant data of Code's
// size reserved. Kind 0 after the out-of-memory report.

Value* make_constant_value_from_token(Value* out, Token* token, Identifier* type_hint);
// The untyped constant of a literal: an integer (its token kind as mask, size 1, 2, 4 or 8
// by magnitude), a real (an f64, size 4), or a string with its escapes decoded. The string's
// text is placed in constant data (shared with an equal one) under a String of its own,
// unless the hint is a type that is not a string, which keeps the octets alone. Any other
// token gives mask 0. Kind 0 after reporting "This number literal is not valid." (a digit
// its base lacks, a value past 64 bits, a real that is not wholly a number) or running
// out of memory.

Value* make_constant_value_from_string(Value* out, String text, Trace trace);
// A string constant of already decoded text, placed in constant data as a literal is.

//~ values.cpp: helpers

u8 get_integer_value_size(u64 value, Identifier* type);
// 1, 2, 4 or 8: the smallest that holds the value, read as unsigned for an unsigned type
// and as signed otherwise.

b8 get_real_string(u8* text, u64 length, String* out);
// The text with its escapes decoded: the same octets when it has no backslash, else a copy
// in real_strings_memory. False after the out-of-memory report.

b8 get_existing_string_constant_data(u8* text, u64 length, Register_Id* out);
// The constant-data register that already holds exactly these octets as a string's text;
// false and INVALID_REGISTER_ID when none does.

Register_Id get_or_add_string_text(u8* text, u64 length);
// That register, or a new one holding a copy. INVALID_REGISTER_ID after the out-of-memory
// report.

Value* get_or_add_float_constant(Value* out, Value* constant);
// The constant as a register in constant data (kind 1): 1.0 and -1.0 use the shared
// registers of their width, any other value new constant data of its size. Kind 0 after
// the out-of-memory report.

Value* make_default_constant_value(Value* out, Scope* scope, Identifier* type, Trace trace);
// The type's default: 0 of an address, integer or float type; for anything else constant
// data filled by set_constant_default_value. Kind 0 after a report.

b8 set_constant_default_value(Scope* scope, Identifier* owner, Register_Id id, Identifier* type);
// Writes the type's default into the register's staged octets: zeros, or for a struct each
// member's own default (members declared "= ?" keep theirs). False after a report.
