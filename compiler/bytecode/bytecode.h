// The bytecode: one flat array of fixed 160-octet records holding the code of the entry
// blocks and every sub-program. The bytecode generator appends and patches them, the
// AMD64 code generator translates them in array order, the listing prints them.
#pragma once

#include <stddef.h>
#include <string.h>

#include "compiler/core/compiler_core.h"
#include "compiler/core/bytecode_kinds.h"
#include "compiler/core/intermediate_operands.h"
#include "foundation/memory.h"

//~ Instructions

// The fields each kind keeps in its three operand slots (O1, O2, O3, 16 octets each)
// and, for some, in the address tail and the call area behind them. A slot that holds a
// Register_Id holds INVALID_REGISTER_ID when absent.

struct Bytecode_Set_To_Zero {           // 1
    Register_Id destination;
    u32 size;
    u8 through_address;                 // clear where O1 points
};

struct Bytecode_Copy_Constant_Number {  // 2, 3 (through O1)
    Register_Id destination;
    u32 companion;                      // the constant's relocation index; 0xFFFFFFFF for none
    u64 immediate;                      // integer bits, or the bits of an f64
    u8 destination_size;
    u8 constant_size;
    u8 has_companion;
};

struct Bytecode_Copy {                  // 4, 5, 6, 7 (5 and 7 through O1)
    Register_Id destination;
    Register_Id source;                 // constant data for 4 and 5
};

struct Bytecode_Copy_Sub_Program_Address {  // 8
    Register_Id destination;
    Sub_Program* sub_program;
    s64 distance;                       // octets from this record to the callee's first, after patching
    u8 through_address;
};

struct Bytecode_Cast {                  // 9 to 16
    Register_Id destination;
    Register_Id source;
    u16 destination_size;
    u8 through_address;
    u8 is_unsigned;                     // the integer side is unsigned
};

struct Bytecode_Make_Bool {             // 17, 18
    Register_Id value;
    u8 size;
    u8 through_address;
};

struct Bytecode_Int_Arithmetic_Constant {  // 19
    Register_Id destination;
    u64 immediate;
    u16 size;
    u64 operator_bit;
    u8 not_boolean;                     // "&&", "||": O1 may hold other values than 0 and 1
    u8 is_signed;
};

struct Bytecode_Int_Arithmetic {        // 20
    Register_Id destination;
    Register_Id source;
    u64 operator_bit;
    u8 destination_not_boolean;
    u8 source_not_boolean;
    u8 is_signed;
};

struct Bytecode_Float_Arithmetic_Constant {  // 21
    Register_Id destination;
    f64 immediate;
    u16 size;
    u64 operator_bit;
};

struct Bytecode_Float_Arithmetic {      // 22
    Register_Id destination;
    Register_Id source;
    u64 operator_bit;
};

struct Bytecode_Take_Address {          // 23
    Register_Id destination;
    Register_Id source;
};

struct Bytecode_Address {               // 24, 26: the index in a register
    Register_Id destination;
    Register_Id base;
    Register_Id index;
    u16 element_size;                   // the address tail
    u16 value_size;
    u8 is_signed;
    u8 through_address;
};

struct Bytecode_Address_Constant {      // 25, 27: a constant index
    Register_Id destination;
    Register_Id base;
    u64 index;
    u16 element_size;
    u16 value_size;
    u8 is_signed;
    u8 through_address;
};

struct Bytecode_Compare {               // 28, 30, 32, 33, 34, 36, 38
    Register_Id left;
    Register_Id right;
    Register_Id size_register;          // 33
};

struct Bytecode_Compare_Flags {         // 28: in O3
    Register_Id left;
    Register_Id right;
    u8 right_through_address;
    u8 size;
};

struct Bytecode_Compare_To_Constant {   // 29, 35, 37
    Register_Id left;
    u64 immediate;                      // an integer, a mask, or the bits of an f64
    u16 size;
};

struct Bytecode_Store_Compare_Result {  // 40
    Register_Id destination;
    u64 operator_bit;
    u8 compared_unsigned;
    u8 compared_float;
    u8 through_address;
};

struct Bytecode_Jump {                  // 41 to 49
    u64 target;                         // octet offset of the target instruction
    u8 compared_unsigned;
    u8 compared_float;
};

struct Bytecode_Machine_Code {          // 51
    u8* code;
    s32 count;
};

struct Bytecode_Frame {                 // 52, 53
    Scope* scope;
    u32 flags;
};

struct Bytecode_Call {                  // 55, 56, 57
    Sub_Program* sub_program;
    Register_Id call_data;              // arguments and return value
    Register_Id return_value;
    Register_Id callee_address;         // 56
};

#define BYTECODE_CALL_AREA_SIZE 56

struct Bytecode_Instruction {
    u32 line;
    u32 file_index;
    u8 kind;                            // Bytecode_Kind
    u64 code_start;                     // written by the code generator as it starts the instruction
    u64 code_end;                       // written by the compile driver after it
    union {
        struct {
            Register_Id operand_a;
            Register_Id operand_b;
            Register_Id operand_c;
        };
        Bytecode_Set_To_Zero set_to_zero;
        Bytecode_Copy_Constant_Number copy_constant_number;
        Bytecode_Copy copy;
        Bytecode_Copy_Sub_Program_Address copy_sub_program_address;
        Bytecode_Cast cast;
        Bytecode_Make_Bool make_bool;
        Bytecode_Int_Arithmetic_Constant int_arithmetic_constant;
        Bytecode_Int_Arithmetic int_arithmetic;
        Bytecode_Float_Arithmetic_Constant float_arithmetic_constant;
        Bytecode_Float_Arithmetic float_arithmetic;
        Bytecode_Take_Address take_address;
        Bytecode_Address address;
        Bytecode_Address_Constant address_constant;
        Bytecode_Compare compare;
        Bytecode_Compare_Flags compare_flags;
        Bytecode_Compare_To_Constant compare_to_constant;
        Bytecode_Store_Compare_Result store_compare_result;
        Bytecode_Jump jump;
        Bytecode_Machine_Code machine_code;
        Bytecode_Frame frame;
        Bytecode_Call call;
        u8 operand_octets[48 + 6];      // the three slots and the address tail
    };
    u8 call_area[BYTECODE_CALL_AREA_SIZE];  // calls: the call's argument list
    u64 callee;                         // 55: distance to the callee after patching; 57: the routine id
    u16 live_gp_mask;                   // bit n: machine register n holds a live value across the call
    u16 live_xmm_mask;
    u8 call_flags;                      // CALL_ (intermediate_operands.h)
};
static_assert(sizeof(Bytecode_Instruction) == BYTECODE_INSTRUCTION_SIZE);
static_assert(offsetof(Bytecode_Instruction, operand_a) == 32);
static_assert(offsetof(Bytecode_Instruction, address.element_size) == 80);
static_assert(offsetof(Bytecode_Instruction, call.callee_address) == 72);
static_assert(offsetof(Bytecode_Instruction, callee) == 144);
static_assert(offsetof(Bytecode_Instruction, call_flags) == 156);

//~ Appending and the opposite jumps

// Appends a record with its location and kind, every other field zero. The pointer
// lives until the next append. An empty array grows from one record by doubling; the
// compile's array, one block taken at start-up, is never grown past it. Null after
// reporting "The compiler ran out of memory for bytecode.".
inline Bytecode_Instruction* insert_bytecode(Dynamic_Array* bytecode, u8 kind, Trace trace) {
    Bytecode_Instruction* i = bytecode->count < BYTECODE_CAPACITY ? (Bytecode_Instruction*)dynamic_array_add_fast(bytecode) : 0;
    if (!i) {
        report_out_of_compiler_memory("bytecode");
        return 0;
    }
    // Cleared, so a record never shows what the last compile left in its slot.
    memset(i, 0, sizeof(*i));
    i->line = trace.line;
    i->file_index = trace.file_index;
    i->kind = kind;
    return i;
}

// The octet offset of the next record to be appended: the position jumps aim at.
inline u64 get_bytecode_position(Dynamic_Array* bytecode) { return (u64)bytecode->count * BYTECODE_INSTRUCTION_SIZE; }

inline Bytecode_Instruction* get_bytecode_instruction(Dynamic_Array* bytecode, u32 index) {
    return (Bytecode_Instruction*)bytecode->data + index;
}

inline b8 is_a_jump(u8 kind) { return kind >= BYTECODE_JUMP && kind <= BYTECODE_JUMP_ZERO; }
inline b8 is_a_cast(u8 kind) { return kind >= BYTECODE_CAST_INT_TO_FLOAT && kind <= BYTECODE_CAST_FLOAT_TO_BIG_FLOAT; }
inline b8 is_a_call(u8 kind) { return kind >= BYTECODE_CALL && kind <= BYTECODE_FOREIGN_CALL; }

// A jump appended before its target is known aims here until it is aimed; linking finds
// one left so as an internal error.
#define BYTECODE_UNAIMED 0xFFFFFFFFFFFFFFFFull

// A listed sub-program's bytecode start before its body is emitted; never a record.
#define SUB_PROGRAM_NO_BYTECODE 0xFFFFFFFFFFFFFFFFull

// The reserved area at the start of every frame, which the code generator uses.
#define FRAME_RESERVED_SIZE 640u
// A body's frame lives on the editor's main-thread stack.
#define FRAME_SIZE_LIMIT (1024u * 1024u)

//~ Generation records

// The lists of one entry block or sub-program body, shared by its nested scopes.
struct Body_Lists {
    Dynamic_Array scopes;  // Scope*: every scope emitted for the body, the body first
    Dynamic_Array calls;   // u32: the index of every call record of the body
};

// One loop being emitted; lives on the emitting call's stack.
struct Loop_Context {
    Loop_Context* outer;
    u64 start;                       // the loop's first record: continue's target
    Dynamic_Array break_jumps;       // u32 indices of jumps aimed at the loop's end
    Condition_Part* condition;       // a while loop's parts, emitted at its body's start
    b8 condition_emitted;
    u64 body_start;                  // after the condition
    Dynamic_Array condition_jumps;   // Condition_Jump, aimed once the loop's end is known
};

// The returns of one inline expansion, aimed at the first record after its body.
struct Inline_Return_Jumps {
    Scope* root;
    Dynamic_Array jumps;  // u32
};

// A value part of a condition as emitted: where its code starts, its placeholder jump and
// the operator that follows it, from which the jump is aimed.
#define CONDITION_FOLLOWED_BY_AND 1
#define CONDITION_FOLLOWED_BY_OR  2

struct Condition_Jump {
    u64 start;
    u32 jump_index;
    u8 jump_kind;                 // taken when the part is false
    u8 follower;                  // 0 for the last part, else CONDITION_FOLLOWED_BY_
    u16 follower_level;
    Token* follower_bracket;
};

// A local register hint of the placement alone: the register is left where it is.
#define HINT_NOT_PLACED 0x10

// An event of the placement scan.
#define ALLOCATION_START 1
#define ALLOCATION_CALL  2
#define ALLOCATION_END   3

struct Allocation_Event {
    u32 time;            // bytecode index
    u32 sequence;        // order of making: equal events sort the same way every compile
    Register* register_;  // not set for a call
    u8 kind;             // ALLOCATION_
};

struct Stack_Gap {
    u64 start;
    u32 size;
    u8 tag;
};
static_assert(sizeof(Stack_Gap) == 16);

//~ bytecode_instructions.cpp

Bytecode_Instruction* bc_push_stack_frame(Dynamic_Array* bytecode, Scope* scope, Trace trace);
Bytecode_Instruction* pop_stack_frame(Dynamic_Array* bytecode, Scope* scope, Trace trace);
// Kind 52 or 53 naming the scope and its flags. Null after the out-of-memory report.

b8 make_bytecode_for_constant_copy(Scope* scope, Dynamic_Array* bytecode, Instruction* instruction, Dynamic_Array* patches);
// Intermediate kinds 1 and 2: a number (kind 2, 3 through the address), a constant block
// (4, 5) or a sub-program's address (8, listed in patches for linking). False after a
// report.

b8 make_bytecode_for_variable_copy(Scope* scope, Dynamic_Array* bytecode, Instruction* instruction);
// Intermediate kinds 3 and 4: kind 6, or 7 through the destination's address.

//~ register_lifetimes.cpp

void update_register_lifetime(Register_Id id, Dynamic_Array* bytecode, Scope* current, u8 loop_bookkeeping);
// Records a use of a local register (through its views) at the index of the next record.
// With loop bookkeeping, a register owned outside a loop that uses it goes on that loop's
// register list, so it lives to the loop's back jump. Other registers are not counted.

void maybe_update_register_lifetime(Dynamic_Array* bytecode, Scope* current, u8 loop_bookkeeping, Value* value);
// The same for a value held in a register; nothing for others.

void close_loop_register_lifetimes(Scope* loop, Dynamic_Array* bytecode);
// The registers on the loop's list live until the next record, its back jump.

b8 sort_allocations_by_lifetime_asc(void* a, void* b);
// Events by time; at one time starts, then calls, then ends.

b8 place_body_registers(Scope* body, Body_Lists* lists, Dynamic_Array* bytecode);
// Places every local register of the body's scopes in R15 to R8, XMM15 to XMM2 or a stack
// slot, writes each call's live masks and the body's registers-used masks and frame size
// (8 more than a multiple of 16 on Linux). False after reporting a frame larger than
// FRAME_SIZE_LIMIT, or running out of memory.

//~ scope_bytecode.cpp

b8 make_bytecode_for_scope(Loop_Context* loop, Inline_Return_Jumps* returns, Body_Lists* lists,
                           Dynamic_Array* bytecode, Scope* scope, Dynamic_Array* patches);
// Appends the bytecode of the scope's instructions and of every scope nested in it. The
// outermost call of a body passes no lists and places the body's registers at its end.
// False after the first report.

b8 make_bytecode_for_condition(Body_Lists* lists, Dynamic_Array* bytecode, Condition_Part* first,
                               Dynamic_Array* patches, Dynamic_Array* jumps);
// The code of each value part not ignored, each followed by a placeholder jump recorded in
// jumps (Condition_Jump). False after a report.

void aim_condition_jumps(Dynamic_Array* bytecode, Dynamic_Array* jumps, u64 body_start, u64 after_body);
// Short-circuits the parts: each jump leaves for after_body when its part decides the
// condition false, for body_start when it decides it true, else for the next part to test.

//~ linking.cpp

b8 make_bytecode_from_state(u32* syntax_offset, u32* events_offset, u32* on_load_offset, u8* flags);
// The bytecode of #syntax, #events, #on_load and every listed sub-program, in that order,
// into the state's array; then jumps are threaded and calls and sub-program addresses
// patched. An entry's offset is written when the block exists; flags get 4, 1 and 2 for
// them. False after the first report.

void thread_jumps(Dynamic_Array* bytecode);
// Each jump follows jumps of its own kind to the end of their chain (a cycle keeps its
// target); a plain jump ending at a return becomes that return.

b8 patch_calls(Dynamic_Array* bytecode, Dynamic_Array* patches);
// Calls and sub-program address copies get the distance from their own record to the
// callee's first record. False after an internal error: a callee without bytecode.

void report_bytecode_internal_error(Bytecode_Instruction* instruction, const char* what);
// "Internal compiler error: %s." at the record's line.

//~ relocation_tables.cpp

struct Compiled_Layer_Header;  // layer_image.h

// Called by the image writer: each resolves its relocations into the image's data areas,
// appends its table to compiler_output_memory and fills its two header fields. False after
// a report.
b8 copy_constant_relocations_to_code_output(Compiled_Layer_Header* header, u8* constant_data, u8* global_data);
b8 copy_global_relocations_to_code_output(Compiled_Layer_Header* header, u8* global_data);

//~ listing.cpp

char* get_bytecode_register_info(Register_Id id);
// The operand's text ("CD+0x10", "(0x3a9f40-2) MRI15", "CallD", a view as its base's text
// "+0x8"), in temporary memory; empty for no register.

String get_bc_instruction_text(Bytecode_Instruction* first, Bytecode_Instruction* instruction);
// "0x1e0 call 0x2a0 | arguments and return value: CallD": the record's offset, the kind's
// name and its operands, in temporary memory.

String debugger_file_get_line(Source_File* file, u32 line);
// The line (from 1) inside the file's text: the first without a break, each later one
// starting with the break that ends the line before it; past the end, the last line.

b8 log_bc_instructions(String path, Dynamic_Array* source_files, Dynamic_Array* bytecode);
// Writes the listing: each instruction's line, after the source line it comes from
// whenever that changes. False when the file cannot be opened or written.
