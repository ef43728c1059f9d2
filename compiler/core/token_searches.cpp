// Searches over a token list that step over bracketed groups whole, through the links the
// tokeniser made from each opening bracket to its closer.
#include <string.h>

#include "compiler/core/compiler_core.h"

// An opening bracket jumps to its closer; the walk goes on after it.
static Token* skip_group(Token* token) {
    if ((token->kind & TOKEN_SCOPE_START) && token->value) return (Token*)token->value;
    return token;
}

Token* get_first_token_like(Token* start, u64 kinds) {
    for (Token* token = start; token; token = token->next) {
        if (token->kind & (kinds | TOKEN_SCOPE_END)) return token;
        token = skip_group(token);
    }
    return 0;
}

Token* get_first_token_like_bounded(Token* start, u64 kinds, Token* end) {
    for (Token* token = start; token && token != end; token = token->next) {
        if (token->kind & kinds) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        token = skip_group(token);
        if (token == end) return 0;
    }
    return 0;
}

Token* get_first_operator_like_bounded(Token* start, u64 operator_bits, Token* end) {
    for (Token* token = start; token && token != end; token = token->next) {
        if ((token->kind & TOKEN_OPERATOR) && (token->value & operator_bits)) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        token = skip_group(token);
        if (token == end) return 0;
    }
    return 0;
}

Token* get_next_binary_operator_with_priority_level_below_or_equal(Token* start, u8 level, Token* end) {
    b8 after_binary_operator = false;
    for (Token* token = start; token && token != end; token = token->next) {
        if (token->kind & TOKEN_BINARY_OPERATOR) {
            // Directly after another binary operator it is a prefix of the operand (a * - b).
            if (!after_binary_operator && token->priority <= level) return token;
            after_binary_operator = true;
            continue;
        }
        after_binary_operator = false;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        token = skip_group(token);
        if (token == end) return 0;
    }
    return 0;
}

Token* get_assignment_bounded(Token* start, Token* end) {
    for (Token* token = start; token && token != end; token = token->next) {
        if ((token->kind & TOKEN_OPERATOR) && token->value == OP_ASSIGN) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        token = skip_group(token);
        if (token == end) return 0;
    }
    return 0;
}

b8 token_is_word(Token* token, String word) {
    return token && token->length == (u64)word.count && memcmp(token->text, word.data, token->length) == 0;
}
