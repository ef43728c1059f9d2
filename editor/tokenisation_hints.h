// What the custom layer tells the text core: per-extension lexer rules (tokenisation
// hints) and the blacklists of the directory walks. The layer's set_settings fills these;
// the lexer and the listers only read them, on the main thread or while no settings change.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"

struct Editor_File;

#define TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE 10256

//~ String store: texts copied into chained blocks that are reset, never returned

struct String_Store_Block {
    String_Store_Block* next;
    u32 used;
    u32 size;  // octets of text after this header
};
static_assert(sizeof(String_Store_Block) == 16);

struct String_Store {
    String_Store_Block* first;
    String_Store_Block* current;
    u32 block_size;
};

String string_store_append(String_Store* store, String text);
// A copy of text in the store. A text longer than the block size gets a block of its own
// size. Empty texts take nothing. {null, 0} and an error in the log when no block can be
// mapped.

void string_store_reset(String_Store* store);
// Every block is emptied and the first made current; the copies handed out are dead.

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

//~ The layer's settings that the text core reads

struct Layer_Text_Settings {
    Dynamic_Array tokenisation_hints;      // Tokenisation_Hint, searched in order
    String_Store hint_text_store;          // the texts of the hints
    Dynamic_Array blacklisted_extensions;  // String
    Dynamic_Array blacklisted_paths;       // String
    u8 has_syntax_block;                   // the loaded layer image has a #syntax block
};

extern Layer_Text_Settings layer_text_settings;
// The runtime owns the layer image and its settings block: it fills the two blacklists
// (their texts in its own store) and keeps has_syntax_block in step with the image.

void init_layer_text_settings();
// Empty lists with their element sizes; once at start-up, before the first compile.

Tokenisation_Hint* add_a_tokenisation_hint_from(Layer_Tokenisation_Hint* hint);
// Appends a copy whose texts live in the hint text store. Null (logged) on failure, with
// the list as it was.

void clear_tokenisation_hints();
// Frees every hint's extension list, empties the list and resets the text store.

Tokenisation_Hint* get_tokenisation_hint_for_file(Editor_File* file);
// The first hint holding the extension of the file's name (after its last '.',
// A to Z folded to lower case); null without a file, an extension or a match.
