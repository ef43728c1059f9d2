// The tokeniser of the extension language: one pass over a file's octets into a linked
// token list, with every bracket linked to its closer, every ':' to its ';', and every
// binary operator given its priority; plus the searches that skip bracketed groups whole.
#pragma once

#include "compiler/core/core_records.h"

//~ tokeniser.cpp

b8 tokenise_file(Source_File* file);
// Tokenises the file's whole text into its token list. False after reporting the first
// error (the tokens made so far stay). An empty file gives true and no tokens.

Token* add_a_token(Bucket_Array* tokens, u8* text, u64 kind, u64 value, u8 priority, Trace location);
// Appends a token of length 1 (the caller lengthens it) with the file index, line and line
// start of location, its error range its first byte, and links it behind the last token.
// Null after the out-of-memory report when the pool has no page left.

u8* get_next_char(u8* position, u8* end);
// The next position, or null when position is not before end.

//~ token_searches.cpp
//
// Each walks by next from start; an opening bracket that is not itself a match is jumped
// to its closer and the walk goes on after it. The bounded ones stop before end and return
// null at a closing bracket that is not a match.

Token* get_first_token_like(Token* start, u64 kinds);
// The first token with any of the kinds, or a closing bracket; null at the list's end.

Token* get_first_token_like_bounded(Token* start, u64 kinds, Token* end);

Token* get_first_operator_like_bounded(Token* start, u64 operator_bits, Token* end);
// The first operator token whose value has any of the bits.

Token* get_next_binary_operator_with_priority_level_below_or_equal(Token* start, u8 level, Token* end);

Token* get_assignment_bounded(Token* start, Token* end);
// The first plain '=' (not a compound assignment), groups skipped as above.

b8 token_is_word(Token* token, String word);
// The token's text is exactly the word (a directive with its '#').
// The first binary operator of at most that priority; one that follows another binary
// operator directly is a prefix of the operand and is passed over.
