// The compiler's memory: one region carved from the static memory at start-up, split into
// the first pages of its pools, the first buckets of its sections and its two bump
// regions, all reset in place at the start of every compile. Every allocation from them
// is checked: running out fails the compile with a report instead of overrunning.
#include <string.h>
#include <sys/mman.h>

#include "compiler/core/compiler_core.h"
#include "foundation/log.h"

Compiler_State global_compiler_state;
Dynamic_Array compile_errors;
Parser_Routines parser_routines;

Memory_Pool tokens_pool;
Memory_Pool instructions_pool;
Memory_Pool scopes_pool;
Memory_Pool identifiers_pool;
Memory_Pool inlined_return_values_pool;
Memory_Pool condition_parts_pool;
Memory_Pool if_chain_parts_pool;

Data_Section compiler_static_strings;
Data_Section constant_data_section;
Data_Section global_data_section;
Bump_Region real_strings_memory;
Bump_Region compiler_output_memory;

u8* compiler_memory;

//~ Pool pages

// Pages after the first come from chunks that ask for huge pages: a large layer fills tens
// of pool pages, and a fault for every 4 KiB of them costs more than the compile's work.
// Pool pages are never given back, so a chunk is only ever bumped.
#define HUGE_PAGE_SIZE    (2ull << 20)
#define POOL_CHUNK_SIZE   (32ull << 20)

static u8* pool_chunk;
static u64 pool_chunk_used;
static u64 pool_chunk_size;
static u8 pool_chunk_lock;

// A mapping of size octets (a multiple of the huge page) that starts on a huge page.
static u8* map_huge_page_aligned(u64 size) {
    u8* mapping = (u8*)os_allocate_read_write(size + HUGE_PAGE_SIZE);
    if (!mapping) return 0;
    u8* start = (u8*)align_up((u64)mapping, HUGE_PAGE_SIZE);
    if (start > mapping) os_free_mapping(mapping, (u64)(start - mapping));
    u64 tail = (u64)(mapping + size + HUGE_PAGE_SIZE - (start + size));
    if (tail) os_free_mapping(start + size, tail);
    madvise(start, size, MADV_HUGEPAGE);
    return start;
}

static void* allocate_pool_page(u64 size) {
    size = align_up(size, MEMORY_ALIGNMENT);
    spin_lock(&pool_chunk_lock);
    if (!pool_chunk || size > pool_chunk_size - pool_chunk_used) {
        u64 chunk = size > POOL_CHUNK_SIZE ? align_up(size, HUGE_PAGE_SIZE) : POOL_CHUNK_SIZE;
        u8* fresh = map_huge_page_aligned(chunk);
        if (!fresh) {
            spin_unlock(&pool_chunk_lock);
            return 0;
        }
        pool_chunk = fresh;
        pool_chunk_used = 0;
        pool_chunk_size = chunk;
    }
    u8* page = pool_chunk + pool_chunk_used;
    pool_chunk_used += size;
    spin_unlock(&pool_chunk_lock);
    return page;
}

//~ Set-up

static void init_data_section(Data_Section* section, u8* first_bucket, u32 bucket_size, const char* name) {
    section->first = (Data_Section_Bucket*)first_bucket;
    section->first->next = 0;
    section->first->used = 0;
    section->first->size = bucket_size;
    section->current = section->first;
    section->bucket_size = bucket_size;
    section->allocator = os_allocate_read_write;
    section->total = bucket_size;
    section->name = name;
}

static void init_bump_region(Bump_Region* region, u8* memory, u64 size, const char* name) {
    region->memory = memory;
    region->used = 0;
    region->size = size;
    region->name = name;
}

// An empty array that already holds room for capacity elements.
static void init_array_with_capacity(Dynamic_Array* a, u32 element_size, u32 capacity) {
    init_dynamic_array(a, element_size);
    if (dynamic_array_add_fast_multiple(a, capacity)) a->count = 0;
}

static b8 take_bytecode_block() {
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    init_dynamic_array(bytecode, BYTECODE_INSTRUCTION_SIZE);
    // A mapping of its own that gp_free returns; only the pages the bytecode touches become
    // resident.
    if (!gp_reserve(&bytecode->storage, BYTECODE_MEMORY)) return false;
    // Past its first few MiB, which a layer of some thousand lines fills, a large layer
    // fills tens of MiB of it: huge pages there, as for the pool chunks.
    u8* huge_start = (u8*)align_up((u64)bytecode->storage.memory + 2 * HUGE_PAGE_SIZE, HUGE_PAGE_SIZE);
    u8* huge_end = (u8*)((u64)(bytecode->storage.memory + BYTECODE_MEMORY) & ~(HUGE_PAGE_SIZE - 1));
    if (huge_end > huge_start) madvise(huge_start, (u64)(huge_end - huge_start), MADV_HUGEPAGE);
    bytecode->data = bytecode->storage.memory;
    bytecode->capacity = BYTECODE_CAPACITY;
    return true;
}

b8 init_compiler(String base_directory) {
    u8* region = carve_static_memory(COMPILER_CARVED_MEMORY);
    if (!region) return false;
    compiler_memory = region;

    //- The rows, in their fixed order
    u8* at = region;
    _init_memory_pool(&tokens_pool, sizeof(Token), NUM_TOKENS_PER_BUCKET, NUM_TOKEN_BUCKETS_PER_PAGE, at,
                      allocate_pool_page);
    at += TOKENS_PAGE_MEMORY;
    init_data_section(&compiler_static_strings, at, STATIC_STRINGS_BUCKET_SIZE, "names");
    at += COMPILER_STATIC_STRINGS_MEMORY;
    init_data_section(&constant_data_section, at, CONSTANT_DATA_BUCKET_SIZE, "constant data");
    at += CONSTANT_DATA_PAGE_MEMORY;
    init_data_section(&global_data_section, at, GLOBAL_DATA_BUCKET_SIZE, "global data");
    at += GLOBAL_DATA_PAGE_MEMORY;
    init_bump_region(&real_strings_memory, at, REAL_STRINGS_MEMORY, "string literals");
    at += REAL_STRINGS_MEMORY;
    init_bump_region(&compiler_output_memory, at, COMPILER_OUTPUT_MEMORY, "the compiled image");
    at += COMPILER_OUTPUT_MEMORY;
    _init_memory_pool(&instructions_pool, sizeof(Instruction), NUM_INSTRUCTIONS_PER_BUCKET,
                      NUM_INSTRUCTION_BUCKETS_PER_PAGE, at, allocate_pool_page);
    // The largest first page, which every layer of some size fills: huge pages where its
    // inside is aligned to them.
    u8* huge_start = (u8*)align_up((u64)at, HUGE_PAGE_SIZE);
    u8* huge_end = (u8*)((u64)(at + INSTRUCTIONS_PAGE_MEMORY) & ~(HUGE_PAGE_SIZE - 1));
    if (huge_end > huge_start) madvise(huge_start, (u64)(huge_end - huge_start), MADV_HUGEPAGE);
    at += INSTRUCTIONS_PAGE_MEMORY;
    _init_memory_pool(&scopes_pool, sizeof(Scope), NUM_SCOPES_PER_BUCKET, NUM_SCOPE_BUCKETS_PER_PAGE, at,
                      allocate_pool_page);
    at += SCOPES_PAGE_MEMORY;
    _init_memory_pool(&identifiers_pool, sizeof(Identifier), NUM_IDENTIFIERS_PER_BUCKET,
                      NUM_IDENTIFIER_BUCKETS_PER_PAGE, at, allocate_pool_page);
    at += IDENTIFIERS_PAGE_MEMORY;
    _init_memory_pool(&inlined_return_values_pool, INLINED_RETURN_VALUE_SIZE, NUM_INLINED_RETURN_VALUES_PER_BUCKET,
                      NUM_INLINED_RETURN_VALUE_BUCKETS_PER_PAGE, at, allocate_pool_page);
    at += INLINED_RETURN_VALUES_PAGE_MEMORY;
    _init_memory_pool(&condition_parts_pool, CONDITION_PART_SIZE, NUM_CONDITION_PARTS_PER_BUCKET,
                      NUM_CONDITION_PART_BUCKETS_PER_PAGE, at, allocate_pool_page);
    at += CONDITION_PARTS_PAGE_MEMORY;
    _init_memory_pool(&if_chain_parts_pool, IF_CHAIN_PART_SIZE, NUM_IF_CHAIN_PARTS_PER_BUCKET,
                      NUM_IF_CHAIN_PART_BUCKETS_PER_PAGE, at, allocate_pool_page);
    at += IF_CHAIN_PART_PAGE_MEMORY;
    // Most scopes hold a few instructions and names and most statements a condition part
    // or two: their arrays share buckets instead of each taking one.
    memory_pool_share_buckets(&instructions_pool);
    memory_pool_share_buckets(&identifiers_pool);
    memory_pool_share_buckets(&inlined_return_values_pool);
    memory_pool_share_buckets(&condition_parts_pool);
    memory_pool_share_buckets(&if_chain_parts_pool);

    //- The state's arrays
    Compiler_State* state = &global_compiler_state;
    memset(state, 0, sizeof(*state));
    state->base_directory = base_directory;
    init_array_with_capacity(&state->source_files, sizeof(Source_File), 4);
    init_array_with_capacity(&state->sub_programs, sizeof(Sub_Program*), 128);
    init_array_with_capacity(&state->foreign_sub_programs, sizeof(Sub_Program*), 128);
    init_array_with_capacity(&state->call_list, CALL_LIST_ENTRY_SIZE, 64);
    init_array_with_capacity(&state->global_registers, sizeof(Register), 64);
    init_array_with_capacity(&state->constant_registers, sizeof(Register), 128);
    init_array_with_capacity(&state->call_data_registers, sizeof(Register), 128);
    init_array_with_capacity(&state->constant_relocations, sizeof(Relocation), 64);
    init_array_with_capacity(&state->global_relocations, sizeof(Relocation), 64);
    init_array_with_capacity(&state->struct_relocations, STRUCT_RELOCATION_ENTRY_SIZE, 64);
    init_dynamic_array(&state->switch_instructions, sizeof(Instruction*));
    take_bytecode_block();
    init_dynamic_array(&compile_errors, sizeof(Compile_Error));
    init_hash_index(&state->identifier_index, sizeof(Identifier_Index_Entry));
    init_hash_index(&state->string_text_index, sizeof(String_Text_Index_Entry));

    reset_compiler();
    return true;
}

//~ The reset of every compile

static void reset_data_section(Data_Section* section) {
    // Buckets mapped by an earlier compile stay chained and are used again.
    for (Data_Section_Bucket* bucket = section->first; bucket; bucket = bucket->next) bucket->used = 0;
    section->current = section->first;
}

b8 reset_compiler() {
    Compiler_State* state = &global_compiler_state;
    compile_errors.count = 0;

    release_scopes();
    memory_pool_reset(&tokens_pool);
    memory_pool_reset(&instructions_pool);
    memory_pool_reset(&scopes_pool);
    memory_pool_reset(&identifiers_pool);
    memory_pool_reset(&inlined_return_values_pool);
    memory_pool_reset(&condition_parts_pool);
    memory_pool_reset(&if_chain_parts_pool);
    reset_data_section(&compiler_static_strings);
    reset_data_section(&constant_data_section);
    reset_data_section(&global_data_section);
    real_strings_memory.used = 0;
    compiler_output_memory.used = 0;
    clear_hash_index(&state->string_text_index);

    for (u32 i = 0; i < state->source_files.count; i++) {
        Source_File* file = (Source_File*)(state->source_files.data + (u64)i * sizeof(Source_File));
        gp_free(&file->buffer);
    }
    state->source_files.count = 0;
    state->sub_programs.count = 0;
    state->foreign_sub_programs.count = 0;
    state->call_list.count = 0;
    state->global_registers.count = 0;
    state->constant_registers.count = 0;
    state->call_data_registers.count = 0;
    state->constant_relocations.count = 0;
    state->global_relocations.count = 0;
    state->struct_relocations.count = 0;
    state->bytecode.count = 0;

    init_bucket_array(&state->all_scopes, &scopes_pool);
    init_bucket_array(&state->tokens, &tokens_pool);
    state->source_directory = String{};
    state->global_data_size = 0;
    state->constant_data_size = 0;
    state->on_load_scope = 0;
    state->events_scope = 0;
    state->syntax_scope = 0;
    memset(state->basic_types, 0, sizeof(state->basic_types));
    for (u32 i = 0; i < FLOAT_CONSTANT_SLOT_COUNT; i++) state->float_constants[i] = INVALID_REGISTER_ID;
    state->address_size = 8;
    state->address_alignment = 8;
    state->target_platform = TARGET_PLATFORM_AMD64;
    state->target_os = TARGET_OS_LINUX;
    state->type_nesting = 0;

    state->global_scope = _add_a_scope(0, 0, Trace{});
    if (!state->global_scope) return false;
    if (!state->bytecode.data && !take_bytecode_block()) {
        report_out_of_compiler_memory("bytecode");
        return false;
    }
    return true;
}

//~ Checked allocation

void report_out_of_compiler_memory(const char* what) { print_error("The compiler ran out of memory for %s.", what); }

static Data_Section_Bucket* map_data_section_bucket(Data_Section* section, u32 size) {
    Data_Section_Bucket* bucket = (Data_Section_Bucket*)section->allocator(DATA_SECTION_BUCKET_HEADER_SIZE + (u64)size);
    if (!bucket) return 0;
    bucket->next = 0;
    bucket->used = 0;
    bucket->size = size;
    section->total += size;
    return bucket;
}

u8* data_section_allocate(Data_Section* section, u64 size) {
    Data_Section_Bucket* bucket = section->current;
    if (size > bucket->size - bucket->used) {
        // The first later bucket with room, else a new one at the end of the chain, as
        // large as the request when that is more than a bucket.
        Data_Section_Bucket* last = bucket;
        bucket = bucket->next;
        while (bucket && size > bucket->size - bucket->used) {
            last = bucket;
            bucket = bucket->next;
        }
        if (!bucket) {
            u64 bucket_size = size > section->bucket_size ? size : section->bucket_size;
            if (section->total + bucket_size > DATA_SECTION_MAX_TOTAL ||
                !(bucket = map_data_section_bucket(section, (u32)bucket_size))) {
                report_out_of_compiler_memory(section->name);
                return 0;
            }
            last->next = bucket;
        }
        section->current = bucket;
    }
    u8* result = (u8*)(bucket + 1) + bucket->used;
    bucket->used += (u32)size;
    return result;
}

u8* bump_region_allocate(Bump_Region* region, u64 size) {
    if (size > region->size - region->used) {
        report_out_of_compiler_memory(region->name);
        return 0;
    }
    u8* result = region->memory + region->used;
    region->used += size;
    return result;
}

String copy_to_compiler_static_strings(String text) {
    if (text.count <= 0) return String{};
    u8* copy = data_section_allocate(&compiler_static_strings, (u64)text.count);
    if (!copy) return String{};
    memcpy(copy, text.data, (u64)text.count);
    return String{copy, text.count};
}

//~ Hash indexes

#define HASH_INDEX_FIRST_CAPACITY 1024

void init_hash_index(Hash_Index* index, u32 entry_size) {
    memset(index, 0, sizeof(*index));
    index->entry_size = entry_size;
}

void clear_hash_index(Hash_Index* index) {
    if (index->entries) memset(index->entries, 0, (u64)index->capacity * index->entry_size);
    index->count = 0;
}

u8* hash_index_place(Hash_Index* index, u64 key) {
    u64 mask = index->capacity - 1;
    u64 slot = key & mask;
    while (get_hash_index_key(get_hash_index_entry(index, slot))) slot = (slot + 1) & mask;
    u8* entry = get_hash_index_entry(index, slot);
    store_u64(entry, key);
    index->count++;
    return entry;
}

b8 hash_index_make_room(Hash_Index* index) {
    if ((u64)(index->count + 1) * 2 <= index->capacity) return true;
    u32 capacity = index->capacity ? index->capacity * 2 : HASH_INDEX_FIRST_CAPACITY;
    Gp_Allocation storage;
    if (!gp_allocate(&storage, (u64)capacity * index->entry_size)) return false;
    memset(storage.memory, 0, storage.size);
    Hash_Index old = *index;
    index->entries = storage.memory;
    index->capacity = capacity;
    index->count = 0;
    index->storage = storage;
    for (u32 i = 0; i < old.capacity; i++) {
        u8* entry = get_hash_index_entry(&old, i);
        u64 key = get_hash_index_key(entry);
        if (key) memcpy(hash_index_place(index, key), entry, index->entry_size);
    }
    gp_free(&old.storage);
    return true;
}
