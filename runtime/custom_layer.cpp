// The custom layer record: its defaults, the string stores its lists and hints live in,
// and the lock that lets search threads read the lists while set_settings rebuilds them.

#include "runtime/custom_layer.h"
#include "editor/tokenisation_hints.h"
#include "foundation/log.h"

#include <string.h>

Custom_Layer custom_layer;

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

void init_custom_layer() {
    // Re-initialising (tests do) keeps the first blocks; the blocks mapped behind them are
    // given up with the old chain.
    static u8* first_blocks;
    if (!first_blocks) first_blocks = carve_static_memory(CUSTOM_LAYER_STRINGS_MEMORY);

    memset(&custom_layer, 0, sizeof(custom_layer));
    custom_layer.mapping.kind = 1;
    init_dynamic_array(&custom_layer.tokenisation_hints, sizeof(Tokenisation_Hint));
    init_dynamic_array(&custom_layer.skipped_names, sizeof(String));
    init_dynamic_array(&custom_layer.blacklisted_extensions, sizeof(String));
    init_dynamic_array(&custom_layer.blacklisted_paths, sizeof(String));
    custom_layer.hint_text_store.block_size = TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE;
    custom_layer.list_text_store.block_size = BLACK_LIST_STRING_DATA_BUCKET_SIZE;
    if (first_blocks) {
        String_Store* hints = &custom_layer.hint_text_store;
        String_Store* lists = &custom_layer.list_text_store;
        hints->first = hints->current = make_string_store_block(first_blocks, TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE);
        u64 second = align_up(sizeof(String_Store_Block) + TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE, MEMORY_ALIGNMENT);
        lists->first = lists->current = make_string_store_block(first_blocks + second, BLACK_LIST_STRING_DATA_BUCKET_SIZE);
    }
    custom_layer.ui_theme = default_ui_theme;
    custom_layer.text_theme = default_text_theme;
    custom_layer.tab_width = CUSTOM_LAYER_DEFAULT_TAB_WIDTH;
}

b8 custom_layer_has_block(u8 block_flag) {
    u8* image = custom_layer.image;
    return image && load_u32(image + LAYER_IMAGE_CPU_OFFSET) == LAYER_IMAGE_CPU_AMD64 &&
           (image[LAYER_IMAGE_FLAGS_OFFSET] & block_flag);
}

//~ The lists

static b8 append_list(Dynamic_Array* list, String* strings, s64 count) {
    list->count = 0;
    for (s64 i = 0; i < count; i++) {
        String copy = string_store_append(&custom_layer.list_text_store, strings[i]);
        if (strings[i].count > 0 && !copy.data) return false;
        String* slot = (String*)dynamic_array_add_fast(list);
        if (!slot) return false;
        *slot = copy;
    }
    return true;
}

b8 custom_layer_set_lists(String* skipped_names, s64 skipped_count, String* extensions, s64 extension_count,
                          String* paths, s64 path_count, u64 search_size_limit) {
    spin_lock(&custom_layer.lists_lock);
    string_store_reset(&custom_layer.list_text_store);
    custom_layer.search_size_limit = search_size_limit;
    custom_layer.skipped_names.count = 0;
    custom_layer.blacklisted_extensions.count = 0;
    custom_layer.blacklisted_paths.count = 0;
    b8 ok = append_list(&custom_layer.skipped_names, skipped_names, skipped_count) &&
            append_list(&custom_layer.blacklisted_extensions, extensions, extension_count) &&
            append_list(&custom_layer.blacklisted_paths, paths, path_count);
    spin_unlock(&custom_layer.lists_lock);
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

b8 custom_layer_copy_lists_tmp(Custom_Layer_Lists* out) {
    memset(out, 0, sizeof(*out));
    spin_lock(&custom_layer.lists_lock);
    out->search_size_limit = custom_layer.search_size_limit;
    b8 ok = copy_list_tmp(&custom_layer.skipped_names, &out->skipped_names, &out->skipped_name_count) &&
            copy_list_tmp(&custom_layer.blacklisted_extensions, &out->blacklisted_extensions,
                          &out->blacklisted_extension_count) &&
            copy_list_tmp(&custom_layer.blacklisted_paths, &out->blacklisted_paths, &out->blacklisted_path_count);
    spin_unlock(&custom_layer.lists_lock);
    if (!ok) memset(out, 0, sizeof(*out));
    return ok;
}
