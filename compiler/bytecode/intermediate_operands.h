// The operands of the intermediate kinds that the statement builders lay out and the
// bytecode generator reads (loops, if chains, switches, loop jumps, calls, inline returns
// and embedded machine code), with the condition parts, chain links and inline return
// values they list. Both sides include this one header, so the layouts cannot drift apart.
#pragma once

#include "compiler/core/core_records.h"

//~ Conditions

#define CONDITION_PART_VALUE    0
#define CONDITION_PART_OPERATOR 1

// One part of an if, else if or while condition, cut at its top-level && and ||: value
// parts with the jump taken when they are false, and the operators between them. A
// bracketed group adds its parts one level deeper. From condition_parts_pool; a list is
// walked through next, since it may span buckets.
struct Condition_Part {
    Condition_Part* next;
    Token* bracket;        // the '(' that opened this part's level; null at the top
    u16 level;             // 0 at the top, one more inside each bracketed group
    u8 part_kind;          // CONDITION_PART_
    u8 ignored;            // settled by folding: no code
    u32 unused;
    // A value part: what is tested. Its type (for a comparison, the compared operands')
    // selects the jump's unsigned or float condition.
    union {
        Value value;
        u64 operator_bit;  // an operator part: OP_LOGICAL_AND or OP_LOGICAL_OR
    };
    Scope* scope;          // a value part: the instructions that compute it
    u8 jump_kind;          // a value part: the Bytecode_Kind taken when it is false
    u8 reserved[23];
};
static_assert(sizeof(Condition_Part) == CONDITION_PART_SIZE);

// One link of an if chain (the if, then each else if). From if_chain_parts_pool.
struct If_Chain_Part {
    If_Chain_Part* next;
    Trace closing;              // the closing token of the link's block
    Bucket_Array conditions;    // Condition_Part
    u8 reserved[104];
    Scope* scope;               // the link's block
};
static_assert(sizeof(If_Chain_Part) == IF_CHAIN_PART_SIZE);

// One return with a value of an inline expansion, in its root scope's list. From
// inlined_return_values_pool.
struct Inlined_Return_Value {
    Inlined_Return_Value* next;
    Value value;
};
static_assert(sizeof(Inlined_Return_Value) == INLINED_RETURN_VALUE_SIZE);

//~ Instruction operands

struct Instruction_While {          // 21
    Trace keyword;
    Bucket_Array conditions;        // Condition_Part, cut as an if link's; emitted at the body's start
    Scope* loop_scope;              // the body, flag SCOPE_LOOP
};

struct Instruction_For {            // 22
    Trace keyword;
    Value step;
    u64 comparison;                 // the loop goes on while index <comparison> limit holds
    Value limit;                    // in a register or a constant; an array's element count
    Identifier* index;              // the variable counted
    Identifier* loop_type;
    Scope* loop_scope;              // the body, the step at its end
    Register_Id array_data;         // an array or String loop: what the elements are read from
    u8 array_loop;
};

struct Instruction_If_Chain {       // 23
    u32 link_count;
    u8 has_else;
    Bucket_Array links;             // If_Chain_Part
    Scope* else_scope;
};

struct Instruction_Switch {         // 24
    Value value;                    // held in a register
    Scope* default_scope;
    u8 has_default;
    Dynamic_Array case_values;      // Value, in source order
    Dynamic_Array case_scopes;      // Scope*, one per case value
};

#define LOOP_JUMP_BREAK    0
#define LOOP_JUMP_CONTINUE 1

struct Instruction_Loop_Jump {      // 25
    Trace keyword;
    u8 mode;                        // LOOP_JUMP_
    u8 level;                       // 0: the innermost loop
};

// Flags of a call, kept whole in its bytecode (the first two are CALL_THROUGH_ADDRESS and
// CALL_ARGUMENT_BLOCK of bytecode.h).
#define CALL_EXPECTS_A_VALUE  0x4
#define CALL_SCALAR_RETURN    0x8

struct Instruction_Call {           // 26
    Scope* calling_scope;
    Sub_Program* callee;
    Register_Id callee_address;     // an indirect call: the register holding the callee
    Register_Id argument_block;
    Register_Id result;
    Dynamic_Array arguments;        // Value, for a #c_call callee: copied whole into the call area
    Trace location;                 // the opening token of the argument list
    u8 flags;
};

struct Instruction_Return_Jump {    // 28: a return inside an inline expansion
    Scope* root;                    // the expansion's root scope
    Value value;                    // kind 0 when the return has no value
    Trace location;
    u8 no_jump;                     // stands in the root scope itself: nothing to jump over
};

struct Instruction_Machine_Code {   // 30
    Trace location;
    Dynamic_Array code;             // u8
};

static_assert(sizeof(Instruction_For) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Switch) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Call) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Return_Jump) <= INSTRUCTION_OPERANDS_SIZE);

inline Instruction_While* get_instruction_while(Instruction* i) { return (Instruction_While*)i->operands; }
inline Instruction_For* get_instruction_for(Instruction* i) { return (Instruction_For*)i->operands; }
inline Instruction_If_Chain* get_instruction_if_chain(Instruction* i) { return (Instruction_If_Chain*)i->operands; }
inline Instruction_Switch* get_instruction_switch(Instruction* i) { return (Instruction_Switch*)i->operands; }
inline Instruction_Loop_Jump* get_instruction_loop_jump(Instruction* i) { return (Instruction_Loop_Jump*)i->operands; }
inline Instruction_Call* get_instruction_call(Instruction* i) { return (Instruction_Call*)i->operands; }
inline Instruction_Return_Jump* get_instruction_return_jump(Instruction* i) { return (Instruction_Return_Jump*)i->operands; }
inline Instruction_Machine_Code* get_instruction_machine_code(Instruction* i) {
    return (Instruction_Machine_Code*)i->operands;
}
