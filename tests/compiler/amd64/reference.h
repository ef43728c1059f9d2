// What the language's scalar operations compute, written in plain C++: the oracle of the
// executed matrices. Integer results are cut to the operand's size; shift counts are
// taken modulo 32 (64 at size 8), as the processor takes them; floats follow IEEE at
// their own precision, a NaN being true as a bool and unequal to everything.
#pragma once

#include "foundation/types.h"

u64 reference_mask(u32 size);
s64 reference_signed(u64 value, u32 size);  // the value cut to size, sign-extended

b8 reference_integer(u64 operator_bit, u64 a, u64 b, u32 size, b8 is_signed, u64* result);
// A op B (B unused by the unary operators), cut to size. False when the operation traps:
// a zero divisor, or the lowest signed value divided by -1 ("/" and "%").

u64 reference_float(u64 operator_bit, u64 a, u64 b, u32 size);
// A op B on the bits of two floats of size 4 or 8; the bits of the result.

b8 reference_float_is_nan(u64 bits, u32 size);

u64 reference_float_bits(f64 value, u32 size);  // the value rounded to size 4 or 8, as bits
f64 reference_float_value(u64 bits, u32 size);

b8 reference_compare(u64 operator_bit, u64 a, u64 b, u32 size, b8 is_signed);
b8 reference_float_compare(u64 operator_bit, u64 a, u64 b, u32 size);
// A op B for the six comparison operators.
