// Per-extension lexer rules (tokenisation hints) that the custom layer hands over. They
// live in the custom layer record; set_settings fills them, the lexer reads them on the
// main thread.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "editor/editor_settings.h"

struct Editor_File;

//~ Tokenisation hints

struct Tokenisation_Hint {
    Dynamic_Array extensions;  // String, without the dot, compared as given (lower case)
    String line_comment;
    String block_start;        // blocks nest
    String block_end;
    u16 string_delimiters;     // quote kinds that open strings: 0x80 ", 0x100 ', 0x200 `
};

// A hint as the compiled layer hands it over; its bytes are the layer's format.
struct Layer_Tokenisation_Hint {
    String* extensions;
    s64 extension_count;
    String line_comment;
    String block_start;
    String block_end;
    u16 string_delimiters;
    u8 unused[6];
};
static_assert(sizeof(Layer_Tokenisation_Hint) == 72);

extern u32 tokenisation_hints_version;  // changes whenever a hint is added or the hints are cleared

Tokenisation_Hint* add_a_tokenisation_hint_from(Layer_Tokenisation_Hint* hint);
// Appends a copy whose texts live in the hint text store. Null (logged) on failure, with
// the list as it was.

void clear_tokenisation_hints();
// Frees every hint's extension list, empties the list and resets the text store.

Tokenisation_Hint* get_tokenisation_hint_for_file(Editor_File* file);
// The first hint holding the extension of the file's name (after its last '.',
// A to Z folded to lower case); null without a file, an extension or a match.
