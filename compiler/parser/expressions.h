// Expressions and the statements made of them: operations on values with the folding of
// constants, operands, the split of an expression at its operators, assignment values and
// declarations, and the builder of simple statements. Everything evaluates to a Value:
// a constant, a register, or a comparison whose result is still in the processor flags.
#pragma once

#include "compiler/core/core_records.h"

//~ Expression flags (the u8 handed down the expression parsers)

#define EXPRESSION_CONDITION         0x1   // a condition: '!' marks a value negated, a lone '&' tests flags
#define EXPRESSION_PLACE             0x2   // the caller stores into the result: the last member is left as an address
#define EXPRESSION_FRESH_REGISTER    0x4   // the result must be a register of its own
#define EXPRESSION_ASSIGNMENT_TARGET 0x8   // the target of an assignment: constant members are refused
#define EXPRESSION_PLACE_ONLY_READ   0x20  // with EXPRESSION_PLACE: nothing is stored into it
#define EXPRESSION_STATEMENT         0x40  // a statement whose result nobody reads

// Operator sets.
#define OP_CMP          0x1F40000ull  // the six comparisons
#define OP_COMMUTATIVE  0x1077028ull  // + * & | ^ && || != ==
#define OP_INTEGER_ONLY 0xF80ull      // % and the four shifts
#define OP_BITWISE      0xF000ull     // & | ^ ~
#define OP_LOGICAL      0x30000ull    // && ||

// How an expression ended, for a condition that branches on a final comparison.
struct Comparison_Result {
    u64 operator_bit;  // the last operator applied; 0 when there was none
    u8 single;         // 0 once a comparison had to be stored because another operator followed
    u8 in_flags;       // the result is a comparison still in the processor flags
};

//~ value_operations.cpp

b8 type_and_operation_match(Identifier* type, u64 operator_bit, Trace trace);
// False after reporting "Operator '%s' must be used on integers." when the operator is %
// or a shift and the type is not an integer.

b8 copy_into_register(Scope* scope, Value* destination, Value* source);
// destination := source, read through the source's address when its register holds one
// (kind 7), else a copy (kind 3) unless the copy folds away. False after a report.

Value* copy_dynamic_value(Value* out, Scope* scope, Value* value);
// The value in a fresh register of its type (read through its address when it holds one).
// Kind 0 after a report.

Value* make_constant_value_dynamic(Value* out, Scope* scope, Identifier* type, Value* constant);
// The constant, already fitted to type, in a fresh register of that type (null: its own
// type, String for a string). Kind 0 after a report.

Value* apply_unary_operation_on_constant(Value* out, u64 operator_bit, Value* constant, Trace trace);
// ++, --, -, ~ and ! folded; a string of up to 8 octets counts as the number its octets
// make. A typed constant is cut to its type's size. Kind 0 after a report at the trace.

b8 instruction_take_address(Scope* scope, Value* result, Value* operand);
// Kind 10: the operand's address into result. A local whose address is taken stays in memory.

b8 set_dynamic_default_value(Scope* scope, u32 depth, Value* value);
// A new variable without a value given its type's default, member by member. False after
// a report.

Value* apply_unary_operation_on_value(Value* out, Scope* scope, u64 operator_bit, Value* value, Trace trace);
// A one-operand operator on any value: folded for a constant, emitted otherwise. ++ and --
// change the value in place; -, ~ and ! work on a copy unless the value is a temporary; @
// gives the address in a fresh register. trace covers the whole unary expression and
// locates the reports. Kind 0 after a report.

Value* apply_constant_operation(Value* out, u64 operator_bit, Token* operator_token, Value* left, Value* right);
// The binary operator folded over two constants, as the generated code would compute it:
// untyped integers in 64 bits, typed ones cut to their type's size; compares and && and ||
// give a b8. Kind 0 after a report on the operator token or an operand.

//~ expression_operands.cpp

Token* get_next_main_operator(Token* first, Token* end, u8 skip_leading_minus);
// The first binary operator other than '.' at the range's own bracket level, or null; a
// closing bracket ends the search. With skip_leading_minus a '-' that starts the range is
// a sign, not an operator.

u64 get_opposite_condition_operator(u64 operator_bit);
// && and ||, == and !=, < and >=, <= and > swapped; any other operator is its own.

b8 parse_expression_between_two_main_operators(Scope* scope, Identifier* expected, Token* first, Token* end,
                                               Comparison_Result* comparison, u8 flags, u8 constant, Value* out);
// One operand from first up to end: an optional prefix operator, a literal, a name, a
// bracketed expression or an implicitly typed form (.NAME, .{...}, .[...]) with expected as
// its type, then what follows it. With constant set the result must be a constant. False
// after a report.

//~ The parts of one operand (expression_operands.cpp, expression_directives.cpp,
//~ postfix_operations.cpp)

// What the parts of one operand share while it is read.
struct Operand_Context {
    Scope* scope;
    Identifier* expected;   // the type the context expects, or null
    Token* end;             // the token after the operand
    u8 flags;               // Expression_Flags
    u8 constant;            // the result must be a constant
    b8 address_wanted;      // a '@' prefix: a member or element at the end stays an address
    Token* compile_time;    // '#constant': the call that follows is evaluated while compiling
    Identifier* name;       // a bare name's identifier, for an instance "P(...)" after it
    b8 changes_it;          // the operand is stored into, stepped by ++ or --, or its address taken
    Identifier* read_from;  // the inline parameter bound to a constant that the value is, or a part of
};

inline Identifier* get_signature(Identifier* type) {
    b8 alias = type && !type->pointer_depth && type->leaf_type && type->leaf_type != type &&
               (type->leaf_type->flags & TYPE_SUB_PROGRAM);
    return alias ? type->leaf_type : type;
}
// The sub-program type a type stands for: another name of a signature stands for it.

b8 parse_operand_name(Operand_Context* operand, Token* token, Value* out, Token** after);
// A name, or "'name" for the outer scope's: a constant's stored value or a variable's
// register, traced on the name; its identifier is kept in the operand. False after a report.

b8 parse_expression_directive(Operand_Context* operand, Token* first, Value* out, Token** after);
// cast(value, type), cast(value), #type(T), #line, #file, #as_float(N), #size_of(E),
// #type_of(E) or #constant f: the value the form gives; after gets the token past it.
// False after a report.

b8 parse_postfix_operations(Operand_Context* operand, Token* token, Value* value);
// What follows the operand's first form, from token to the operand's end, applied to value
// from the left: calls and instances "(...)", indexing "[...]", members ".name", literals
// "T.{...}" and "T.[...]", and one trailing one-operand operator. False after a report.

//~ simple_statements.cpp

b8 parse_simple_statement(Scope* scope, Token* first, Token* end, Identifier* expected, Comparison_Result* comparison,
                          u8 flags, u8 constant, Value* out);
// The expression from first up to end, split at its loosest operators (equal ones from the
// left): constants fold, the rest becomes instructions in the scope. expected guides
// untyped constants. A given comparison record learns how the expression ended; without
// one a final comparison is stored into a b8 register. False after a report.

//~ declarations.cpp

b8 parse_assignment_value(Scope* scope, u8 flags, u8 constant, Identifier* expected_type, Token* first, Token* end,
                          Value* out);
// The value from first up to end: a #code block as a Code constant, a type written where
// a Type is expected, or an expression. Not cast to expected_type. False after a report.

b8 handle_declaration_assignment(Scope* scope, Identifier* identifier, u8 constant, Identifier* declared_type,
                                 Token* assignment, Token* end);
// "= value" or "= ?" of a declared identifier, whose type is inferred from the value when
// declared_type is null. With constant set (a '$' or any global declaration) the value must
// be constant and is stored in the identifier; a variable also gets its register (in global
// data, filled at once, in the global scope). False after a report.

void mark_register_as_owned_by_identifier(Scope* scope, Register_Id id);
// The register (or the table row its id names) belongs to a variable from now on, so no
// operation writes into it.

//~ enum_bodies.cpp

b8 parse_enum_body(Identifier* enum_type, Token* first, Token* end, u64* running_value, u8 flags_mode,
                   u8 unique_values);
// The members of an enum's body from first up to end, with their values counted on from
// running_value (bits for a flags enum). False after a report.

//~ basic_statements.cpp

b8 make_basic_instructions(Scope* scope, Token* first, Token* end);
// One statement that is neither a control statement nor a directive: a declaration, a
// call, an assignment or an expression. False after a report.

// Called here, defined with calls and literals.
b8 parse_call(Scope* scope, Token* open, Value* out, u8 result_used, u8 at_compile_time, Value callee);
b8 parse_struct_literal(Scope* scope, Identifier* type, Token* open, u8 constant, Value* out);
b8 parse_array_literal(Scope* scope, Identifier* type, Token* open, u8 constant, Value* out);
