// The operands of the intermediate instructions that statements make (loops, if chains,
// switch, jumps, returns, machine code and the scope markers) and the records they list.
// The parser fills them and the bytecode generator reads them, so they live here.
#pragma once

#include "compiler/core/core_records.h"

//~ Scope markers

// 27 (end), 31 (nested scope), 32 (scope start), 33 (scope end); 29 (debug break) has
// only its location.
struct Instruction_Scope {
    Scope* scope;
    Trace location;
};

//~ Conditions

#define CONDITION_PART_VALUE    0
#define CONDITION_PART_OPERATOR 1

// One part of an if, else if or while condition cut at its top-level && and ||: a value
// with the scope computing it, or the operator between two values. A bracketed group
// joined by && or || gives its own parts one level deeper. Ignored parts were settled
// while compiling and make no code; when a consumer looks for the operator that follows
// a value, or for a later operator, it passes over ignored parts.
struct Condition_Part {
    Condition_Part* next;     // the following part, in source order
    Token* bracket;           // the '(' of this part's group; null at the top level
    u16 level;                // bracket depth
    u8 part_kind;             // CONDITION_PART_*
    u8 ignored;
    u8 jump_kind;             // a value: the Bytecode_Kind of the jump taken when it is false
    u8 unused[3];
    u64 operator_bit;         // an operator: OP_LOGICAL_AND or OP_LOGICAL_OR
    Value value;              // a value: what is tested
    Scope* scope;             // a value: the instructions computing it
    u8 reserved[16];
};
static_assert(sizeof(Condition_Part) == CONDITION_PART_SIZE);

// One link (the if, or an else if) of an if chain.
struct If_Chain_Part {
    If_Chain_Part* next;
    Trace closing;            // the closing token of the link's block
    Bucket_Array conditions;  // Condition_Part on condition_parts_pool
    Scope* scope;             // the block
    u8 bytecode_room[104];    // the bytecode generator's, while it lays the link out
};
static_assert(sizeof(If_Chain_Part) == IF_CHAIN_PART_SIZE);

//~ Deferred blocks and inline returns

// A #defer block waiting in the deferred-block array of the scope whose end runs it.
struct Deferred_Block {
    Token* opener;   // '{' or ':'
    Token* closing;  // its '}' or ';'
    Scope* scope;    // where #defer stood: names in the block are looked up from there
};
static_assert(sizeof(Deferred_Block) == DEFERRED_BLOCK_SIZE);

// A value returned from an inlined body, in its root's list.
struct Inlined_Return_Value {
    Inlined_Return_Value* next;
    Value value;
};
static_assert(sizeof(Inlined_Return_Value) == INLINED_RETURN_VALUE_SIZE);

//~ Loops and jumps

struct Instruction_While {               // 21
    Trace location;                      // the while keyword
    Scope* condition_scope;              // holds the condition parts' scopes
    Value condition;                     // the value of a condition of one part
    u8 jump_kind;                        // its jump, as the part has it
    Scope* loop_scope;                   // the body
    Bucket_Array conditions;             // Condition_Part; all ignored when the condition always holds
};

#define FOR_LOOP_OVER_ARRAY    0x1       // the index walks the elements of an array or a String
#define FOR_LOOP_BY_ADDRESS    0x2       // '@': the element names the element's address
#define FOR_LOOP_STEP_DOWN     0x4       // the step is subtracted (comparisons > and >=)

// The test before each iteration compares the index with the limit by the comparison and
// leaves the loop when it fails. The body scope starts with the binding of the element and
// ends with the step, the step guarded when adding it could wrap the index.
struct Instruction_For {                 // 22
    Trace location;                      // the for keyword
    Value step;                          // of the loop type
    u64 comparison;                      // OP_LESS ... OP_NOT_EQUAL
    Value limit;                         // a register or a constant; an array's count
    Identifier* index;                   // the index variable and its register
    Identifier* loop_type;
    Scope* loop_scope;
    Identifier* element;                 // an array loop's element variable
    Identifier* element_type;            // its type (an address with '@')
    u8 flags;                            // FOR_LOOP_*
};

#define LOOP_JUMP_BREAK    0
#define LOOP_JUMP_CONTINUE 1

struct Instruction_Loop_Jump {           // 25
    Trace location;
    u8 mode;                             // LOOP_JUMP_*
    u8 level;                            // 0: the innermost loop
};

struct Instruction_If_Chain {            // 23
    Trace location;                      // the if keyword
    u32 link_count;
    u8 has_else;
    Bucket_Array links;                  // If_Chain_Part on if_chain_parts_pool
    Scope* else_scope;                   // null without else
};

// The case values and blocks are gp arrays, given back when the compile's scopes are
// released.
struct Instruction_Switch {              // 24
    Trace location;                      // the switch keyword
    Value value;                         // always in a register
    Scope* default_scope;
    u8 has_default;
    Dynamic_Array case_values;           // Value, constants of the switch's type
    Dynamic_Array case_scopes;           // Scope*, in step with the values
};

//~ Returns and machine code

// A return inside an inlined body: the value goes to the root's result, the jump to the
// end of the body, unless the return stands in the root itself.
struct Instruction_Return_Jump {         // 28
    Trace location;
    Value value;                         // kind 0 without a value
    Scope* root;                         // the inlined body
    u8 no_jump;
};

struct Instruction_Machine_Code {        // 30
    Trace location;
    u8* octets;                          // in compiler_static_strings
    u32 count;
};

static_assert(sizeof(Instruction_Scope) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_While) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_For) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Loop_Jump) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_If_Chain) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Switch) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Return_Jump) <= INSTRUCTION_OPERANDS_SIZE);
static_assert(sizeof(Instruction_Machine_Code) <= INSTRUCTION_OPERANDS_SIZE);

// The operands of an instruction of the matching kind.
inline Instruction_Scope* get_instruction_scope(Instruction* i) { return (Instruction_Scope*)i->operands; }
inline Instruction_While* get_instruction_while(Instruction* i) { return (Instruction_While*)i->operands; }
inline Instruction_For* get_instruction_for(Instruction* i) { return (Instruction_For*)i->operands; }
inline Instruction_Loop_Jump* get_instruction_loop_jump(Instruction* i) { return (Instruction_Loop_Jump*)i->operands; }
inline Instruction_If_Chain* get_instruction_if_chain(Instruction* i) { return (Instruction_If_Chain*)i->operands; }
inline Instruction_Switch* get_instruction_switch(Instruction* i) { return (Instruction_Switch*)i->operands; }
inline Instruction_Return_Jump* get_instruction_return_jump(Instruction* i) { return (Instruction_Return_Jump*)i->operands; }
inline Instruction_Machine_Code* get_instruction_machine_code(Instruction* i) { return (Instruction_Machine_Code*)i->operands; }
