// The editor's own language-neutral lexer. No token list is kept: whoever needs a token
// lexes it on the spot from an offset, with the tokenisation hint of the file's extension
// adding comment and block delimiters.
#pragma once

#include "foundation/types.h"
#include "editor/editor_file.h"
#include "editor/tokenisation_hints.h"

enum Editor_Token_Kind : u16 {
    EDITOR_TOKEN_NEW_LINE      = 1,      // LF, CR or CR LF
    EDITOR_TOKEN_WORD          = 2,
    EDITOR_TOKEN_NUMBER        = 4,
    EDITOR_TOKEN_OPEN_SCOPE    = 8,      // ( [ {
    EDITOR_TOKEN_CLOSE_SCOPE   = 16,     // ) ] }
    EDITOR_TOKEN_OPERATOR      = 32,     // arithmetic and assignment
    EDITOR_TOKEN_LOGIC         = 64,     // comparison and logic
    EDITOR_TOKEN_DOUBLE_QUOTE  = 128,
    EDITOR_TOKEN_SINGLE_QUOTE  = 256,
    EDITOR_TOKEN_BACKQUOTE     = 512,
    EDITOR_TOKEN_LINE_COMMENT  = 1024,   // the hint's texts
    EDITOR_TOKEN_BLOCK_START   = 2048,
    EDITOR_TOKEN_BLOCK_END     = 4096,
    EDITOR_TOKEN_PUNCTUATION   = 8192,
    EDITOR_TOKEN_NONE          = 16384,  // no token found yet
};

// Handed to the layer as 16 octets.
struct Editor_Token {
    s64 offset;
    u32 length;
    u16 kind;
    u16 padding;
};
static_assert(sizeof(Editor_Token) == 16);

s64 lex_next_token(u8* text, s64 length, s64 offset, Tokenisation_Hint* hint, Editor_Token* out);
// The first token at or after the offset (blanks skipped): its end offset, or -1 when
// there is none. Reads the octet before the offset (a '.' after a blank starts a number).

s64 editor_get_next_token(Editor_File* file, s64 offset, Editor_Token* out);
// lex_next_token on the file's text with its hint; a null file means current_file.
// Without a token (-1) the output has length 0 and kind EDITOR_TOKEN_NONE, its offset as it was.

s64 editor_get_previous_token(Editor_File* file, s64 offset, Editor_Token* out);
// The last token that starts before the offset (one that straddles it counts), exactly
// as a forward lex from the start of the text gives it: its end offset, or -1 with only
// the output's length set (to 0). Remembers lexer states of one text along the way, so
// walking back over a long line lexes it about once.

void editor_forget_lexer_states(Editor_File* file);
// Drops the lexer states remembered for file (for any file when null). Whatever changes a
// file's text calls it, through update_context_chunks as every edit does, or directly.

s64 editor_get_token_at_offset(Editor_File* file, s64 offset, Editor_Token* out);
// The token that holds the offset: one that starts there unless the previous token runs
// over it, else one that ends at or runs over it. Its end offset, or -1.
inline s64 get_token_at_offset(Editor_File* file, s64 offset, Editor_Token* out) { return editor_get_token_at_offset(file, offset, out); }

void compute_syntax_state(Editor_File* file, s64 start, s64 end);
// Stores the visible range [start, end) with the block depth and the open string at its
// start, for the layer's #syntax block: the state a lex from the top of the text reaches,
// resumed from the view index's nearest resume point before start.
s64 compute_syntax_state_from_token(Editor_File* file, s64 start, s64 end);
// The same for a start inside a line: the range stored begins where a lex meets the
// tokens a lex from the top meets (the end of the last token before start, the start of a
// line comment over it, start itself inside a string), which it returns.

void editor_get_syntax_highlighting_info(Editor_File* file, s64* start, s64* end, u32* depth, u8* state);
// Copies the syntax state (the string state as its low octet); no file leaves the outputs alone.

void update_context_chunks(Editor_File* file, s64 offset);
// Keeps the leading context chunks whose offset is at or before the edit offset, and
// forgets the lexer states remembered for the file.
