// The layer's lexer hints: copied into the custom layer record and looked up by extension.

#include "editor/tokenisation_hints.h"
#include "editor/editor_file.h"
#include "editor/lexer.h"
#include "foundation/log.h"

#include <string.h>

//~ Hints

u32 tokenisation_hints_version;

Tokenisation_Hint* add_a_tokenisation_hint_from(Layer_Tokenisation_Hint* given) {
    editor_forget_lexer_states(nullptr);  // they were lexed under the hints as they were
    tokenisation_hints_version++;
    Editor_Settings* settings = &editor_settings;
    Tokenisation_Hint hint = {};
    init_dynamic_array(&hint.extensions, sizeof(String));
    String_Store* store = &settings->hint_text_store;

    u32 count = given->extension_count > 0 ? (u32)given->extension_count : 0;
    String* extensions = count ? (String*)dynamic_array_add_fast_multiple(&hint.extensions, count) : nullptr;
    if (count && !extensions) return nullptr;
    b8 ok = true;
    for (u32 i = 0; i < count; i++) {
        extensions[i] = string_store_append(store, given->extensions[i]);
        ok &= given->extensions[i].count <= 0 || extensions[i].data;
    }
    hint.line_comment = string_store_append(store, given->line_comment);
    hint.block_start = string_store_append(store, given->block_start);
    hint.block_end = string_store_append(store, given->block_end);
    ok &= given->line_comment.count <= 0 || hint.line_comment.data;
    ok &= given->block_start.count <= 0 || hint.block_start.data;
    ok &= given->block_end.count <= 0 || hint.block_end.data;
    hint.string_delimiters = given->string_delimiters;

    Tokenisation_Hint* added = ok ? (Tokenisation_Hint*)dynamic_array_add_fast(&settings->tokenisation_hints) : nullptr;
    if (!added) {
        dynamic_array_free(&hint.extensions);
        return nullptr;
    }
    *added = hint;
    return added;
}

void clear_tokenisation_hints() {
    editor_forget_lexer_states(nullptr);
    tokenisation_hints_version++;
    Editor_Settings* settings = &editor_settings;
    Tokenisation_Hint* hints = (Tokenisation_Hint*)settings->tokenisation_hints.data;
    for (u32 i = 0; i < settings->tokenisation_hints.count; i++) dynamic_array_free(&hints[i].extensions);
    settings->tokenisation_hints.count = 0;
    string_store_reset(&settings->hint_text_store);
}

static inline u8 to_lower_ascii(u8 c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

Tokenisation_Hint* get_tokenisation_hint_for_file(Editor_File* file) {
    if (!file) return nullptr;
    String name_extension = get_extension(file->name);
    if (name_extension.count == 0) return nullptr;
    u8* extension = name_extension.data;
    s64 length = name_extension.count;

    // Folded while comparing rather than copied: the lexer asks for every token.
    Editor_Settings* settings = &editor_settings;
    Tokenisation_Hint* hints = (Tokenisation_Hint*)settings->tokenisation_hints.data;
    for (u32 h = 0; h < settings->tokenisation_hints.count; h++) {
        String* extensions = (String*)hints[h].extensions.data;
        for (u32 e = 0; e < hints[h].extensions.count; e++) {
            if (extensions[e].count != length) continue;
            s64 i = 0;
            while (i < length && to_lower_ascii(extension[i]) == extensions[e].data[i]) i++;
            if (i == length) return &hints[h];
        }
    }
    return nullptr;
}
