// Types written in source: a run of tokens becomes a type Identifier, derived types (address
// levels, arrays, instances) being made on the way; #type_of types a small expression
// without emitting code; a sub-program signature gets its parameter scope and the layout
// of the call's parameter block.
#pragma once

#include "compiler/core/core_records.h"

struct Comparison_Result;

#define PARSE_TYPE_POLYMORPHIC_SIGNATURE 0x1  // '?T', '[]' and a bare polymorphic name give no type
#define PARSE_TYPE_NO_SUB_PROGRAM        0x2  // array elements and return types

// What follows a type name: the type it leads to, and whether the parse is finished.
struct Type_Dereference {
    Identifier* type;  // the named type, a type inside it, or an instance; null once done without one
    Token* last;       // the last token read
    b8 done;           // type is the result as it stands (or there is none)
};

//~ type_parsing.cpp

b8 parse_type(Scope* scope, Identifier** result, Token* first, Token* end, Token** stop, u8 options,
              Identifier* expected, Sub_Program* sub_program);
// The type written from first up to end (exclusive; null for the end of the list), names
// resolved from the scope. stop gets the token after the type, which callers check. expected
// is the actual argument's type while a polymorphic signature is instantiated (binding
// '?T'), else null. A sub-program type fills sub_program, or a new unnamed one of the scope
// when it is null. True with *result null only under PARSE_TYPE_POLYMORPHIC_SIGNATURE.
// False after a report, *result null.

b8 parse_struct_dereference_in_type(Type_Dereference* result, Scope* scope, Identifier* name, u8 levels, Token* name_token,
                                    Token* end, b8 polymorphic_allowed, Identifier* expected);
// What follows a type name: '.' members down to a type declared inside a struct, and an
// argument list making an instance of a polymorphic struct. False after a report.

Value* parse_type_of_directive(Value* out, Scope* scope, Token* directive, Token** after);
// #type_of(<expression>): the type constant of the expression, traced from the directive
// to its closing parenthesis; after gets the token that follows. Kind 0 after a report.

Value* get_type_of_simple_expression(Value* out, Scope* scope, Token* first, Token* end);
// The type constant of a literal or a name followed by '.' members and '[ ]' indexes, one
// leading '@' taking its address; nothing is emitted. Kind 0 after a report.

b8 enter_type_nesting(Trace at);
void leave_type_nesting();
// Around a type or an instance parsed inside another, which instances can do without end:
// false after reporting "This type is nested too deeply." past TYPE_NESTING_MAX_DEPTH.

//~ signatures.cpp

b8 parse_sub_program_signature(Scope* scope, Sub_Program* sub_program, Token* first, Token* end, Token** stop);
// "(<parameters>) <directives> -> <return type>" from first (the '(') into the sub-program:
// its parameter scope (also its body scope), #no_context, #call_location and #c_call, the
// polymorphic mark, and for a sub-program that is not polymorphic the parameter block with
// the return value placed after the parameters. The return type ends at a '=' (a body's, or
// a variable's value). stop gets where the signature ended. False after a report.

#define ASSIGNMENT_POLYMORPHIC_ARGUMENT 0x20  // the flag of parse_assignment_value for an instance's argument
