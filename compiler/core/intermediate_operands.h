// The operands of a call instruction, which the call builders lay out and the bytecode
// generator reads. The other statements' operands are the core's (statement_records.h).
#pragma once

#include "compiler/core/compiler_core.h"

// Flags of a call, kept whole in its bytecode.
#define CALL_THROUGH_ADDRESS  0x1  // the callee is the address a register holds
#define CALL_ARGUMENT_BLOCK   0x2  // the call passes an argument block
#define CALL_EXPECTS_A_VALUE  0x4
#define CALL_SCALAR_RETURN    0x8  // the result comes back in RAX or XMM0

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

static_assert(sizeof(Instruction_Call) <= INSTRUCTION_OPERANDS_SIZE);

inline Instruction_Call* get_instruction_call(Instruction* i) { return (Instruction_Call*)i->operands; }
