// Conditions of if, else if and while: cut at their top-level && and || into parts, each
// value part computing its value in a scope of its own and naming the jump that leaves it
// when the value is false; constant parts folded away; the tests of constants for truth.
#pragma once

#include "compiler/core/compiler_core.h"

// What folding made of a condition.
enum Condition_Truth : u8 {
    CONDITION_DYNAMIC,  // decided at run time by the parts left
    CONDITION_FALSE,    // every part ignored
    CONDITION_TRUE,     // every part ignored
};

//~ conditions.cpp

b8 parse_if_condition(Token* first, Token* end, u16 level, Token* bracket, Scope* scope, Bucket_Array* parts);
// Appends the parts of the condition from first up to end (exclusive) to parts, a list on
// condition_parts_pool: value parts (their scopes made under scope) and the operators
// between them; a bracketed group joined by && or || gives its parts at level + 1, with
// its '(' as their bracket. False after a report; the parts made before it stay.

b8 adjust_instructions_for_condition(Scope* scope, u64 operator_bit, u8 direct, u8* jump_kind, Value* value);
// Makes the value usable as a condition and sets the jump taken when it is false: a
// comparison whose result is still in the flags (direct set, operator a comparison) needs
// nothing; any other value is compared with 0 in the scope (a struct through its
// designated member, a String through its count; a value read through its address is
// loaded first), and value then names what was compared. A constant is only checked.
// False after "You cannot use a value of type '%s' in a condition.".

b8 check_constant_condition(Value* constant);
// True when a constant of this kind can be a condition; otherwise the report above.

Condition_Truth fold_condition_constants(Bucket_Array* parts);
// Folds the constant value parts group by group, left to right as && and || associate,
// and marks ignored what needs no code: constants, operators next to them, and whatever
// a constant decides. A run-time part before a constant that decides still runs for what
// it does: that constant is kept, as its group's truth (x && 0 runs x, then is false).

b8 test_kept_constants(Bucket_Array* parts);
// After folding: a constant part left in (one deciding after a run-time part) is loaded
// into a b8 and compared with 0, as a run-time value is. False after a report.

Condition_Part* ignore_all_condition_parts_up_to(Condition_Part* stop, u32 count, Condition_Part* start);
// Marks start and the parts after it ignored, at most count of them and none from stop
// on; gives the part where it stopped.

b8 constant_is_zero(Constant* constant);
b8 constant_is_non_zero(Constant* constant);
// A real by its value (-0.0 is zero), an integer by its data, a string by its length;
// any other constant is neither.

b8 value_is_constant_zero(Value* value);  // false for a value that is not a constant
