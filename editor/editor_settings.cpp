// The editor's settings: their defaults, the string stores their lists and hints live in,
// and the lock that lets search threads read the lists while set_settings rebuilds them.

#include "editor/editor_settings.h"
#include "editor/tokenisation_hints.h"
#include "foundation/log.h"

#include <string.h>

Editor_Settings editor_settings;
Syntax_Block_Hooks syntax_block_hooks;

const Ui_Theme default_ui_theme = {
    {
        {0.0f, 0.02f, 0.05f, 1.0f},
        {0.0f, 0.065f, 0.14f, 1.0f},
        {0.8f, 0.8f, 0.8f, 1.0f},
        {0.0f, 0.0f, 0.0f, 1.0f},
        {1.0f, 1.0f, 1.0f, 1.0f},
        {1.0f, 1.0f, 1.0f, 0.8f},
        {1.0f, 0.2f, 0.2f, 1.0f},
        {1.0f, 1.0f, 1.0f, 1.0f},
        {0.0f, 0.0f, 0.0f, 1.0f},
    },
    0.01f,
};

const Text_Theme default_text_theme = {{
    {0.0f, 0.0f, 0.005f, 1.0f},
    {0.6f, 0.6f, 0.6f, 1.0f},
    {1.0f, 1.0f, 1.0f, 0.25f},
    {1.0f, 1.0f, 1.0f, 0.5f},
    {0.0f, 0.0f, 0.0f, 0.0f},
    {0.0f, 1.0f, 1.0f, 1.0f},
}};

//~ String stores

static String_Store_Block* make_string_store_block(u8* memory, u32 size) {
    String_Store_Block* block = (String_Store_Block*)memory;
    block->next = nullptr;
    block->used = 0;
    block->size = size;
    return block;
}

static String_Store_Block* map_string_store_block(u32 size) {
    u8* memory = (u8*)os_allocate_read_write(sizeof(String_Store_Block) + size);
    if (!memory) {
        add_log(nullptr, LOG_ERROR, "Could not map %u octets for layer settings text.", size);
        return nullptr;
    }
    return make_string_store_block(memory, size);
}

String string_store_append(String_Store* store, String text) {
    if (text.count <= 0) return String{nullptr, 0};
    if ((u64)text.count > 0xFFFFFFFFull - sizeof(String_Store_Block)) {
        add_log(nullptr, LOG_ERROR, "A layer settings text of %lld octets is too long.", (long long)text.count);
        return String{nullptr, 0};
    }
    u32 n = (u32)text.count;
    String_Store_Block* block = store->current;
    while (block && block->size - block->used < n) block = block->next;
    if (!block) {
        u32 size = store->block_size > n ? store->block_size : n;
        block = map_string_store_block(size);
        if (!block) return String{nullptr, 0};
        String_Store_Block** link = &store->first;
        while (*link) link = &(*link)->next;
        *link = block;
    }
    store->current = block;
    u8* at = (u8*)(block + 1) + block->used;
    memcpy(at, text.data, n);
    block->used += n;
    return String{at, text.count};
}

void string_store_reset(String_Store* store) {
    for (String_Store_Block* b = store->first; b; b = b->next) b->used = 0;
    store->current = store->first;
}

//~ The record

void init_editor_settings() {
    // Re-initialising (tests do) keeps the first blocks; the blocks mapped behind them are
    // given up with the old chain.
    static u8* first_blocks;
    if (!first_blocks) first_blocks = carve_static_memory(EDITOR_SETTINGS_STRINGS_MEMORY);

    memset(&editor_settings, 0, sizeof(editor_settings));
    init_dynamic_array(&editor_settings.tokenisation_hints, sizeof(Tokenisation_Hint));
    init_dynamic_array(&editor_settings.skipped_names, sizeof(String));
    init_dynamic_array(&editor_settings.blacklisted_extensions, sizeof(String));
    init_dynamic_array(&editor_settings.blacklisted_paths, sizeof(String));
    editor_settings.hint_text_store.block_size = TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE;
    editor_settings.list_text_store.block_size = BLACK_LIST_STRING_DATA_BUCKET_SIZE;
    if (first_blocks) {
        String_Store* hints = &editor_settings.hint_text_store;
        String_Store* lists = &editor_settings.list_text_store;
        hints->first = hints->current = make_string_store_block(first_blocks, TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE);
        u64 second = align_up(sizeof(String_Store_Block) + TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE, MEMORY_ALIGNMENT);
        lists->first = lists->current = make_string_store_block(first_blocks + second, BLACK_LIST_STRING_DATA_BUCKET_SIZE);
    }
    editor_settings.ui_theme = default_ui_theme;
    editor_settings.text_theme = default_text_theme;
    editor_settings.tab_width = CUSTOM_LAYER_DEFAULT_TAB_WIDTH;
}

b8 layer_has_syntax_block() { return syntax_block_hooks.installed && syntax_block_hooks.installed(); }

b8 run_layer_syntax_block(Editor_File* file) { return syntax_block_hooks.run && syntax_block_hooks.run(file); }

//~ The lists

static b8 append_list(Dynamic_Array* list, String* strings, s64 count) {
    list->count = 0;
    for (s64 i = 0; i < count; i++) {
        String copy = string_store_append(&editor_settings.list_text_store, strings[i]);
        if (strings[i].count > 0 && !copy.data) return false;
        String* slot = (String*)dynamic_array_add_fast(list);
        if (!slot) return false;
        *slot = copy;
    }
    return true;
}

b8 editor_settings_set_lists(String* skipped_names, s64 skipped_count, String* extensions, s64 extension_count,
                          String* paths, s64 path_count, u64 search_size_limit) {
    spin_lock(&editor_settings.lists_lock);
    string_store_reset(&editor_settings.list_text_store);
    editor_settings.search_size_limit = search_size_limit;
    editor_settings.skipped_names.count = 0;
    editor_settings.blacklisted_extensions.count = 0;
    editor_settings.blacklisted_paths.count = 0;
    b8 ok = append_list(&editor_settings.skipped_names, skipped_names, skipped_count) &&
            append_list(&editor_settings.blacklisted_extensions, extensions, extension_count) &&
            append_list(&editor_settings.blacklisted_paths, paths, path_count);
    spin_unlock(&editor_settings.lists_lock);
    if (!ok) add_log(nullptr, LOG_ERROR, "The layer's name lists did not fit in memory; some entries are left out.");
    return ok;
}

// The strings of one list and their texts, one block of temporary memory each.
static b8 copy_list_tmp(Dynamic_Array* list, String** out, u32* out_count) {
    *out = nullptr;
    *out_count = 0;
    if (list->count == 0) return true;
    String* strings = (String*)list->data;
    u64 text_size = 0;
    for (u32 i = 0; i < list->count; i++) text_size += (u64)strings[i].count;
    String* copies = (String*)tmp_allocate_aligned(list->count * sizeof(String), alignof(String));
    u8* text = text_size ? tmp_allocate(text_size) : nullptr;
    if (!copies || (text_size && !text)) return false;
    for (u32 i = 0; i < list->count; i++) {
        copies[i] = String{text, strings[i].count};
        if (strings[i].count > 0) memcpy(text, strings[i].data, (u64)strings[i].count);
        text += strings[i].count;
    }
    *out = copies;
    *out_count = list->count;
    return true;
}

b8 editor_settings_copy_lists_tmp(Editor_Settings_Lists* out) {
    memset(out, 0, sizeof(*out));
    spin_lock(&editor_settings.lists_lock);
    out->search_size_limit = editor_settings.search_size_limit;
    b8 ok = copy_list_tmp(&editor_settings.skipped_names, &out->skipped_names, &out->skipped_name_count) &&
            copy_list_tmp(&editor_settings.blacklisted_extensions, &out->blacklisted_extensions,
                          &out->blacklisted_extension_count) &&
            copy_list_tmp(&editor_settings.blacklisted_paths, &out->blacklisted_paths, &out->blacklisted_path_count);
    spin_unlock(&editor_settings.lists_lock);
    if (!ok) memset(out, 0, sizeof(*out));
    return ok;
}
