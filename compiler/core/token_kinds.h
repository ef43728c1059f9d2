// The token kinds and operator bits of the extension language, each written once as a
// table from which the enums and the texts of messages and listings are derived.
#pragma once

#include "foundation/types.h"

//~ Token kinds and operator bits (one table each; enums and texts come from them)

#define TOKEN_KIND_LIST(X)                                          \
    X(TOKEN_BINARY_OPERATOR,           0x1,      "binary operator")  \
    X(TOKEN_UNARY_OPERATOR,            0x2,      "unary operator")   \
    X(TOKEN_OPEN_BRACE,                0x4,      "{")                \
    X(TOKEN_CLOSE_BRACE,               0x8,      "}")                \
    X(TOKEN_OPEN_PARENTHESIS,          0x10,     "(")                \
    X(TOKEN_CLOSE_PARENTHESIS,         0x20,     ")")                \
    X(TOKEN_OPEN_BRACKET,              0x40,     "[")                \
    X(TOKEN_CLOSE_BRACKET,             0x80,     "]")                \
    X(TOKEN_COLON,                     0x100,    ":")                \
    X(TOKEN_COMMA,                     0x200,    ",")                \
    X(TOKEN_ARROW,                     0x400,    "->")               \
    X(TOKEN_DOLLAR,                    0x800,    "$")                \
    X(TOKEN_QUOTE,                     0x1000,   "'")                \
    X(TOKEN_QUESTION_MARK,             0x2000,   "?")                \
    X(TOKEN_AT,                        0x4000,   "@")                \
    X(TOKEN_SEMICOLON,                 0x8000,   ";")                \
    X(TOKEN_IDENTIFIER,                0x10000,  "identifier")       \
    X(TOKEN_DIRECTIVE,                 0x20000,  "directive")        \
    X(TOKEN_STRING_LITERAL,            0x40000,  "string")           \
    X(TOKEN_UNSIGNED_INTEGER_LITERAL,  0x80000,  "integer")          \
    X(TOKEN_SIGNED_INTEGER_LITERAL,    0x100000, "signed integer")   \
    X(TOKEN_REAL_LITERAL,              0x200000, "real")

enum Token_Kind : u64 {
#define X(name, bit, text) name = bit,
    TOKEN_KIND_LIST(X)
#undef X
};

#define TOKEN_OPERATOR         0x3ull
#define TOKEN_SCOPE_START      0x54ull
#define TOKEN_SCOPE_END        0xA8ull
#define TOKEN_INTEGER_LITERAL  0x180000ull
#define TOKEN_NUMBER           0x380000ull
#define TOKEN_LITERAL          0x3C0000ull

// Operator bits: the value word of an operator token and the operator of arithmetic and
// compare instructions. A compound assignment carries OP_ASSIGN and its operator's bit.
#define OPERATOR_LIST(X)                         \
    X(OP_INCREMENT,      0x1,        "++")       \
    X(OP_DECREMENT,      0x2,        "--")       \
    X(OP_NEGATE,         0x4,        "-")        \
    X(OP_ADD,            0x8,        "+")        \
    X(OP_SUBTRACT,       0x10,       "-")        \
    X(OP_MULTIPLY,       0x20,       "*")        \
    X(OP_DIVIDE,         0x40,       "/")        \
    X(OP_MODULO,         0x80,       "%")        \
    X(OP_SHIFT_LEFT,     0x100,      "<<")       \
    X(OP_SHIFT_RIGHT,    0x200,      ">>")       \
    X(OP_ROTATE_LEFT,    0x400,      "<<<")      \
    X(OP_ROTATE_RIGHT,   0x800,      ">>>")      \
    X(OP_BIT_AND,        0x1000,     "&")        \
    X(OP_BIT_OR,         0x2000,     "|")        \
    X(OP_BIT_XOR,        0x4000,     "^")        \
    X(OP_BIT_NOT,        0x8000,     "~")        \
    X(OP_LOGICAL_AND,    0x10000,    "&&")       \
    X(OP_LOGICAL_OR,     0x20000,    "||")       \
    X(OP_NOT_EQUAL,      0x40000,    "!=")       \
    X(OP_NOT,            0x80000,    "!")        \
    X(OP_LESS,           0x100000,   "<")        \
    X(OP_LESS_EQUAL,     0x200000,   "<=")       \
    X(OP_GREATER,        0x400000,   ">")        \
    X(OP_GREATER_EQUAL,  0x800000,   ">=")       \
    X(OP_EQUAL,          0x1000000,  "==")       \
    X(OP_ASSIGN,         0x2000000,  "=")        \
    X(OP_DOT,            0x4000000,  ".")        \
    X(OP_ADDRESS,        0x8000000,  "@")        \
    X(OP_INDEX,          0x10000000, "[ ]")

enum Operator_Bit : u64 {
#define X(name, bit, text) name = bit,
    OPERATOR_LIST(X)
#undef X
};

#define OP_CONDITION  0x1FF0000ull  // the nine operator bits "&&" to "=="

// Priorities of binary operators: a smaller number binds more loosely.
#define PRIORITY_ASSIGNMENT     0
#define PRIORITY_LOGICAL        1
#define PRIORITY_COMPARISON     2
#define PRIORITY_ADDITIVE       3
#define PRIORITY_MULTIPLICATIVE 4
#define PRIORITY_LOOSE_DOT      5    // '.' after a blank or a bracket
#define PRIORITY_TIGHT_DOT      255  // '.' glued to a word

#define MAX_SCOPE_CHAIN_LENGTH  16  // open brackets of one kind
#define MAX_PENDING_COLONS      16  // ':' waiting for their ';'
