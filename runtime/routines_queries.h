// The text, token and colour query routines: what compiled layer code reads of an open
// file (ranges, line bounds, tokens, characters, its extension and comment text), the
// directory the user works in, the tab text, the range a #syntax run colours, and the one
// writer #syntax uses, set_text_colour. Bodies of the dispatcher; main thread. "The layer's
// file" is custom_layer_execution_file, or current_file when it is null. None changes the
// text, the cursor or the undo list. Offsets come from layer code: every one is checked
// before anything is read, and a bad one gives the routine's default result.
#pragma once

#include <stddef.h>

#include "foundation/types.h"
#include "foundation/strings.h"
#include "editor/lexer.h"
#include "ui/vectors.h"

//~ Parameter blocks

struct Get_Text_At_Parameters {
    s64 offset;
    u32 length;
    String result;  // a copy in temporary memory; empty when the range does not lie in the text
};
static_assert(offsetof(Get_Text_At_Parameters, length) == 8);
static_assert(offsetof(Get_Text_At_Parameters, result) == 16);

struct Strings_Result_Parameters {
    String* strings;  // get_current_directory_path: the components, in temporary memory
    u64 count;
};
static_assert(offsetof(Strings_Result_Parameters, count) == 8);

struct String_Result_Parameters {
    String result;
};
static_assert(sizeof(String_Result_Parameters) == 16);

struct Line_Bound_Parameters {
    s64 offset;
    s64 result;
};
static_assert(offsetof(Line_Bound_Parameters, result) == 8);

struct Syntax_Info_Parameters {
    u64* visible_start;
    u64* visible_end;
    s32* comment_depth;
    u8* open_quote;  // the string state's low octet: 0x80 inside a double-quoted string
};
static_assert(offsetof(Syntax_Info_Parameters, visible_end) == 8);
static_assert(offsetof(Syntax_Info_Parameters, comment_depth) == 16);
static_assert(offsetof(Syntax_Info_Parameters, open_quote) == 24);

struct Token_Parameters {
    s64 offset;
    Editor_Token* token;  // filled; a null address is skipped
    s64 result;           // the token's end offset, -1 when there is none
};
static_assert(offsetof(Token_Parameters, token) == 8);
static_assert(offsetof(Token_Parameters, result) == 16);

struct Set_Text_Colour_Parameters {
    s64 offset;
    u32 length;
    Rgba colour;
};
static_assert(offsetof(Set_Text_Colour_Parameters, length) == 8);
static_assert(offsetof(Set_Text_Colour_Parameters, colour) == 12);
static_assert(sizeof(Set_Text_Colour_Parameters) == 32);

struct Codepoint_Parameters {
    s64 offset;
    u32 result;
};
static_assert(offsetof(Codepoint_Parameters, result) == 8);

//~ routines_queries.cpp

void foreign_get_text_at(u8* parameters);
// A copy of the range; a range that ends at the text's end is served too.

void foreign_get_current_directory_path(u8* parameters);
// The file lister's directory while its input has the keyboard, else the current terminal's
// or file's directory, else the working directory: one String per component, pointing into
// the path record.

void foreign_get_file_extension(u8* parameters);  // after the last ".", A to Z lowered; empty without one
void foreign_get_line_start(u8* parameters);      // 0 for an offset outside the text
void foreign_get_line_end(u8* parameters);        // an offset at or past the end comes back as it is; 0 below 0
void foreign_get_syntax_highlighting_info(u8* parameters);
void foreign_get_next_token(u8* parameters);
void foreign_get_previous_token(u8* parameters);
void foreign_set_text_colour(u8* parameters);
void foreign_get_token_at_offset(u8* parameters);
// The token that holds the offset; the caller's token has length 0 and kind
// EDITOR_TOKEN_NONE when there is none (result -1).

void foreign_get_codepoint_at_offset(u8* parameters);
// The character that starts at the offset; U+FFFD for an octet that starts none or a
// sequence the text's end cuts; 0 outside the text.

void foreign_get_tab_text(u8* parameters);
void foreign_get_single_line_comment_from_tokenisation_hints(u8* parameters);
