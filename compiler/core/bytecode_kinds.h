// The kinds of bytecode instruction. The front end already names the jump that leaves a
// condition by its kind, so the numbering is shared below the bytecode generator.
#pragma once

#include "compiler/core/token_kinds.h"
#include "foundation/types.h"

//~ Kinds

// The kinds with their listing names; 0, 31 and 39 are never produced.
#define BYTECODE_KIND_LIST(X)                                          \
    X(BYTECODE_INVALID,                      0,  "INVALID")            \
    X(BYTECODE_SET_TO_ZERO,                  1,  "set to zero")        \
    X(BYTECODE_COPY_CONSTANT_NUMBER,         2,  "copy constant number") \
    X(BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT, 3, "copy constant number") \
    X(BYTECODE_COPY_CONSTANT_STRUCT,         4,  "copy constant struct") \
    X(BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT, 5, "copy constant struct") \
    X(BYTECODE_COPY,                         6,  "copy")               \
    X(BYTECODE_COPY_INDIRECT,                7,  "copy")               \
    X(BYTECODE_COPY_SUB_PROGRAM_ADDRESS,     8,  "copy sub-program address") \
    X(BYTECODE_CAST_INT_TO_FLOAT,            9,  "cast int to float")  \
    X(BYTECODE_CAST_FLOAT_TO_INT,            10, "cast float to int")  \
    X(BYTECODE_CAST_INT_TO_BOOL,             11, "cast int to bool")   \
    X(BYTECODE_CAST_FLOAT_TO_BOOL,           12, "cast float to bool") \
    X(BYTECODE_CAST_INT_TO_SMALL_INT,        13, "cast int to small int") \
    X(BYTECODE_CAST_INT_TO_BIG_INT,          14, "cast int to big int") \
    X(BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT,    15, "cast float to small float") \
    X(BYTECODE_CAST_FLOAT_TO_BIG_FLOAT,      16, "cast float to big float") \
    X(BYTECODE_MAKE_INT_BOOL,                17, "make int bool")      \
    X(BYTECODE_MAKE_FLOAT_BOOL,              18, "make float bool")    \
    X(BYTECODE_INT_ARITHMETIC_CONSTANT,      19, "int arithmetic constant") \
    X(BYTECODE_INT_ARITHMETIC,               20, "int arithmetic")     \
    X(BYTECODE_FLOAT_ARITHMETIC_CONSTANT,    21, "float arithmetic constant") \
    X(BYTECODE_FLOAT_ARITHMETIC,             22, "float arithmetic")   \
    X(BYTECODE_TAKE_ADDRESS,                 23, "take address")       \
    X(BYTECODE_CALCULATE_ADDRESS,            24, "calculate address")  \
    X(BYTECODE_CALCULATE_ADDRESS_CONSTANT,   25, "calculate address")  \
    X(BYTECODE_MEMORY_DEREFERENCE,           26, "memory dereference") \
    X(BYTECODE_MEMORY_DEREFERENCE_CONSTANT,  27, "memory dereference") \
    X(BYTECODE_COMPARE,                      28, "compare")            \
    X(BYTECODE_COMPARE_TO_CONSTANT,          29, "compare to constant") \
    X(BYTECODE_COMPARE_TO_ZERO,              30, "compare to zero")    \
    X(BYTECODE_INVALID_31,                   31, "INVALID")            \
    X(BYTECODE_COMPARE_BLOCK_TO_CONSTANT,    32, "compare to constant") \
    X(BYTECODE_MEMCMP,                       33, "memcmp")             \
    X(BYTECODE_TEST_FLAGS,                   34, "test flags")         \
    X(BYTECODE_TEST_FLAGS_CONSTANT,          35, "test flags")         \
    X(BYTECODE_FLOAT_COMPARE,                36, "compare")            \
    X(BYTECODE_FLOAT_COMPARE_TO_CONSTANT,    37, "compare to constant") \
    X(BYTECODE_FLOAT_COMPARE_TO_ZERO,        38, "compare to zero")    \
    X(BYTECODE_INVALID_39,                   39, "INVALID")            \
    X(BYTECODE_STORE_COMPARE_RESULT,         40, "store cmp result")   \
    X(BYTECODE_JUMP,                         41, "jump")               \
    X(BYTECODE_JUMP_EQUAL,                   42, "jump eq")            \
    X(BYTECODE_JUMP_NOT_EQUAL,               43, "jump ne")            \
    X(BYTECODE_JUMP_LESS,                    44, "jump lt")            \
    X(BYTECODE_JUMP_LESS_EQUAL,              45, "jump le")            \
    X(BYTECODE_JUMP_GREATER,                 46, "jump gt")            \
    X(BYTECODE_JUMP_GREATER_EQUAL,           47, "jump ge")            \
    X(BYTECODE_JUMP_NOT_ZERO,                48, "jump nz")            \
    X(BYTECODE_JUMP_ZERO,                    49, "jump ze")            \
    X(BYTECODE_DEBUG_BREAK,                  50, "debug break")        \
    X(BYTECODE_EMBED_MACHINE_CODE,           51, "embed machine code") \
    X(BYTECODE_PUSH_STACK_FRAME,             52, "push stack frame")   \
    X(BYTECODE_POP_STACK_FRAME,              53, "pop stack frame")    \
    X(BYTECODE_COPY_ARGUMENTS_ADDRESS,       54, "copy arguments address (AMD64)") \
    X(BYTECODE_CALL,                         55, "call")               \
    X(BYTECODE_CALL_THROUGH_ADDRESS,         56, "call[]")             \
    X(BYTECODE_FOREIGN_CALL,                 57, "foreign call")       \
    X(BYTECODE_RETURN,                       58, "return")

enum Bytecode_Kind : u8 {
#define X(name, number, text) name = number,
    BYTECODE_KIND_LIST(X)
#undef X
};

#define BYTECODE_KIND_COUNT 59

inline constexpr const char* bytecode_kind_names[BYTECODE_KIND_COUNT] = {
#define X(name, number, text) text,
    BYTECODE_KIND_LIST(X)
#undef X
};

// The listing name; "UNKNOWN INSTRUCTION" above 58.
inline const char* bytecode_kind_name(u8 kind) {
    return kind < BYTECODE_KIND_COUNT ? bytecode_kind_names[kind] : "UNKNOWN INSTRUCTION";
}

//~ The opposite jumps

// The jump taken when the comparison is false ("<" gives "jump ge"); 0 for operators that
// are not comparisons.
inline u8 get_opposite_comparison_jump(u64 operator_bit) {
    switch (operator_bit) {
        case OP_NOT_EQUAL: return BYTECODE_JUMP_EQUAL;
        case OP_LESS: return BYTECODE_JUMP_GREATER_EQUAL;
        case OP_LESS_EQUAL: return BYTECODE_JUMP_GREATER;
        case OP_GREATER: return BYTECODE_JUMP_LESS_EQUAL;
        case OP_GREATER_EQUAL: return BYTECODE_JUMP_LESS;
        case OP_EQUAL: return BYTECODE_JUMP_NOT_EQUAL;
    }
    return 0;
}

// The opposite conditional jump (42 and 43, 44 and 47, 45 and 46, 48 and 49); 0 otherwise.
inline u8 get_opposite_comparison_jump2(u8 kind) {
    switch (kind) {
        case BYTECODE_JUMP_EQUAL: return BYTECODE_JUMP_NOT_EQUAL;
        case BYTECODE_JUMP_NOT_EQUAL: return BYTECODE_JUMP_EQUAL;
        case BYTECODE_JUMP_LESS: return BYTECODE_JUMP_GREATER_EQUAL;
        case BYTECODE_JUMP_GREATER_EQUAL: return BYTECODE_JUMP_LESS;
        case BYTECODE_JUMP_LESS_EQUAL: return BYTECODE_JUMP_GREATER;
        case BYTECODE_JUMP_GREATER: return BYTECODE_JUMP_LESS_EQUAL;
        case BYTECODE_JUMP_NOT_ZERO: return BYTECODE_JUMP_ZERO;
        case BYTECODE_JUMP_ZERO: return BYTECODE_JUMP_NOT_ZERO;
    }
    return 0;
}
