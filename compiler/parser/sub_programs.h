// Sub-programs and their calls: signature texts and the instances of polymorphic
// sub-programs, declarations with their parameters, the binding of a call's arguments, and
// the call itself, emitted or expanded in place for an #inline sub-program.
#pragma once

#include "compiler/core/core_records.h"

// Inline expansions and polymorphic instances can recurse without end: both are capped,
// in depth and in number per compile.
#define INLINE_EXPANSION_DEPTH_LIMIT     64u
#define INLINE_EXPANSION_COUNT_LIMIT     100000u
#define POLYMORPHIC_INSTANCE_DEPTH_LIMIT 64u
#define POLYMORPHIC_INSTANCE_COUNT_LIMIT 10000u

struct Call_Limits {
    u32 inline_depth;
    u32 inline_count;
    u32 instance_depth;
    u32 instance_count;
    u32 constant_depth;  // expansions under way that are evaluated while compiling (#constant)
    b8 crossed;  // a cap was reported: the expansions around it add no notes
};

extern Call_Limits call_limits;

// A parameter the call fills without an argument (the context among them).
#define PARAMETER_FILLED_BY_THE_CALL 0x400000000ull
#define PARAMETER_IMPLICIT_BITS (PARAMETER_FILLED_BY_THE_CALL | PARAMETER_FILLED_IMPLICITLY | PARAMETER_CONTEXT)

// One argument of a call resolved among overloads: evaluated once, before any candidate.
struct Overload_Argument {
    String name;       // empty for a positional argument
    Value value;
    Token* first;
    Token* end;
    b8 no_value;       // evaluation needs the parameter's type (an implicitly typed form)
};

//~ sub_program_declarations.cpp (the core calls both through parser_routines)

b8 parse_sub_program_declaration(Scope* scope, Sub_Program* sub_program, Token* first, Token* end);
// The declaration after its name: signature, directives and #import, #inline, the body
// (compiled at once unless inline or polymorphic). False after a report.

Identifier* preparse_sub_program_param(Sub_Program* sub_program, Token* first, Token* end);
// One parameter of a signature, from first up to end, added to the sub-program's parameter
// scope. Null after a report.

//~ sub_program_signatures.cpp

String get_sub_program_signature(Sub_Program* sub_program, Scope* parameters, Identifier* return_type);
// "(u32, s64) -> u32": each parameter of the scope's list as '?' (no type yet), its type
// and value (a constant parameter) or its type, then " #c_call" and the return type. In
// temporary memory; empty after the out-of-memory report.

Sub_Program* get_or_add_sub_program_with_signature(Scope* scope, u8* name, u64 name_length, u8* signature,
                                                   u64 signature_length, Scope* declaring_scope, Trace declaration);
// The instance keyed by name and signature visible from the scope, or a new one (its key
// copied into the static strings) in the declaring scope (the scope when null). Null after
// the out-of-memory report.

b8 set_sub_program_registers(Scope* scope, Sub_Program* sub_program);
// A sub-program that is not inline: its call-data register (when the block has a size) and
// each non-constant parameter's view into it; then its scalar-return flag. False after the
// out-of-memory report.

Identifier* get_result_type(Sub_Program* sub_program);
// The return type; null for none or void.

char* get_report_name(Identifier* identifier);
// The identifier's name for reports, in temporary memory: an instance is named by the
// sub-program it was made from.

void set_sub_program_additional_flags(Sub_Program* sub_program);
// The scalar-return flag alone: set for a non-foreign sub-program returning an address, a
// number, a b8, an enum or a Type; never cleared.

Register_Id make_return_slot(Sub_Program* sub_program);
// The view of the sub-program's block that a return writes; a scalar result's is marked for
// the machine's return register (RAX, or XMM0 for a real). INVALID_REGISTER_ID when the
// sub-program has no block.

b8 copy_into_return_slot(Scope* scope, Sub_Program* sub_program, Value* value);
// A return's value into the sub-program's return slot; a scalar result by a plain move of
// its own. False after a report.

void reset_call_limits();
// At the start of every compile.

//~ calls.cpp

Token* get_argument_end(Token* piece, Token* closing);
// The ',' after the argument that starts at piece, or the closing bracket; groups skipped.

Token* get_argument_name(Token* piece, Token* piece_end);
// The name of an argument written "name = value", else null.

u32 get_parameters(Sub_Program* sub_program, Identifier** out);
// The count of the sub-program's parameters, written in order into out when it is given.

b8 parse_call_for_constant_sub_program(Scope* scope, u8* name, u64 name_length, Token* open, u8 constant_arguments,
                                       Value* out);
// The call of the one sub-program of that name, among those visible from the scope, that
// accepts the arguments: reported when none or more than one does. The unique match is
// called; out gets its result. False after a report.

b8 check_for_overload_match(Scope* scope, Sub_Program* candidate, u8 constant_arguments, u8 named_arguments,
                            Overload_Argument* arguments, u32 argument_count);
// Whether the candidate takes the arguments: each binds a parameter by name or position
// and converts to its type, every other parameter is implicit or has a default. Reports
// nothing and leaves no instruction.

//~ issued_calls.cpp

b8 issue_a_sub_program_call(Scope* scope, Sub_Program* callee, Value* arguments, Token* open, Value* out,
                            u8 expects_value, u8 indirect, u8 constant_arguments, Register_Id callee_register);
// The call with one bound argument per parameter: for an #inline callee its body expanded
// in a fresh inline scope of the caller, else the copies into an argument block and the
// call instruction. out gets the result; the callee is listed for code. False after a report.

b8 change_inline_parameter(Scope* scope, Identifier* identifier);
// The body being compiled changes the identifier (stores into it or a part of it, steps it,
// takes its address): an inline parameter bound to a constant is marked, so that its
// expansion is made again with a register for it, and gets a register at once. Nothing
// for any other identifier. False after a report.

//~ polymorphic_calls.cpp

b8 parse_polymorphic_sub_program_call(Scope* scope, Sub_Program* polymorphic, Token* open, Value* out, u8 expects_value,
                                      u8 constant_arguments, Value callee);
// Binds the arguments to copies of the parameters, fixes their types and constants, finds
// or builds the instance of that signature and calls it. False after a report.
