// Memory pools hand out buckets of fixed-size elements from pages of a fixed size; bucket
// arrays chain elements through those buckets and never move one. Pages are never given
// back: a reset makes them reusable from the first. The arrays of a shared pool take their
// elements from one bucket of the pool in turn.
//
// When system_allocator() holds, every bucket is a calloc block of its own, so the sanitizers
// see an overflow from one bucket into the next; a page then holds pointers to its
// buckets, which a reset hands out again.
#include <assert.h>
#include <stdlib.h>
#include <string.h>

#include "foundation/log.h"
#include "foundation/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define POOL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_SANITIZED 1
#endif
#endif

#ifdef POOL_SANITIZED
#include <sanitizer/asan_interface.h>
#define SHARED_RECORD_GAP 16u
#else
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define SHARED_RECORD_GAP 0u
#endif

// Pool blocks are never freed. Chaining them from a global keeps them reachable, so the
// leak checker does not report the blocks of a pool that went out of scope.
struct System_Pool_Block {
    System_Pool_Block* next;
    u64 padding;  // keeps the block 16-aligned
};
static System_Pool_Block* system_pool_blocks;
static u8 system_pool_blocks_lock;  // guards system_pool_blocks; taken under a pool's lock

static u8* allocate_system_pool_block(u64 size) {
    System_Pool_Block* block = (System_Pool_Block*)calloc(1, sizeof(System_Pool_Block) + size);
    if (!block) return 0;
    spin_lock(&system_pool_blocks_lock);
    block->next = system_pool_blocks;
    system_pool_blocks = block;
    spin_unlock(&system_pool_blocks_lock);
    return (u8*)(block + 1);
}

static u8** page_bucket_slots(Memory_Pool_Page* page) { return (u8**)(page + 1); }

void _init_memory_pool(Memory_Pool* pool, u32 element_size, u32 elements_per_bucket,
                       u32 buckets_per_page, void* first_page, Page_Allocator page_allocator) {
    u64 bucket_size = (u64)elements_per_bucket * element_size + sizeof(Memory_Pool_Bucket);
    u64 page_size = buckets_per_page * bucket_size + sizeof(Memory_Pool_Page);
    assert(elements_per_bucket && buckets_per_page && page_size <= 0xFFFFFFFFull);

    pool->element_size = element_size;
    pool->elements_per_bucket = elements_per_bucket;
    pool->buckets_per_page = buckets_per_page;
    pool->bucket_size = (u32)bucket_size;
    pool->page_size = (u32)page_size;
    pool->first_page = (Memory_Pool_Page*)first_page;
    pool->current_page = pool->first_page;
    pool->page_allocator = page_allocator;
    pool->shared_bucket = 0;
    pool->lock = 0;
    pool->shared = 0;
    if (pool->first_page) {
        pool->first_page->next = 0;
        pool->first_page->count = 0;
        if (system_allocator()) memset(page_bucket_slots(pool->first_page), 0, buckets_per_page * sizeof(u8*));
    }
}

static Memory_Pool_Page* allocate_page(Memory_Pool* pool) {
    Memory_Pool_Page* page = system_allocator()
        ? (Memory_Pool_Page*)allocate_system_pool_block(sizeof(Memory_Pool_Page) + pool->buckets_per_page * sizeof(u8*))
        : (Memory_Pool_Page*)pool->page_allocator(pool->page_size);
    if (page) {
        page->next = 0;
        page->count = 0;
    }
    return page;
}

Memory_Pool_Bucket* memory_pool_allocate_bucket(Memory_Pool* pool) {
    Memory_Pool_Bucket* bucket = 0;
    spin_lock(&pool->lock);

    Memory_Pool_Page* page = pool->current_page;
    if (!page) {
        page = allocate_page(pool);
        pool->first_page = page;
        pool->current_page = page;
    } else if (page->count == pool->buckets_per_page) {
        // A page kept from before a reset is reused before a new one is mapped.
        Memory_Pool_Page* next = page->next;
        if (!next) {
            next = allocate_page(pool);
            page->next = next;
        }
        if (next) pool->current_page = next;
        page = next;
    }

    if (page) {
        if (system_allocator()) {
            u8** slot = &page_bucket_slots(page)[page->count];
            if (!*slot) *slot = allocate_system_pool_block(pool->bucket_size);
            bucket = (Memory_Pool_Bucket*)*slot;
        } else {
            bucket = (Memory_Pool_Bucket*)((u8*)page + sizeof(Memory_Pool_Page) + (u64)page->count * pool->bucket_size);
        }
        if (bucket) {
            page->count++;
            bucket->next = 0;
            bucket->count = 0;
        }
    }

    spin_unlock(&pool->lock);
    // Logged outside the lock: the log may allocate.
    if (!bucket) add_log(0, LOG_ERROR, "A memory pool of %u-octet elements could not get a page", pool->element_size);
    return bucket;
}

void memory_pool_reset(Memory_Pool* pool) {
    for (Memory_Pool_Page* page = pool->first_page; page; page = page->next) page->count = 0;
    pool->current_page = pool->first_page;
    pool->shared_bucket = 0;
}

void memory_pool_share_buckets(Memory_Pool* pool) {
    pool->shared = 1;
    pool->shared_bucket = 0;
}

//~ Bucket arrays

void init_bucket_array(Bucket_Array* array, Memory_Pool* pool) {
    assert(pool->element_size >= sizeof(void*));
    memset(array, 0, sizeof(*array));
    array->pool = pool;
    array->element_size = pool->element_size;
    array->elements_per_bucket = pool->elements_per_bucket;
}

//~ Shared pools

// A shared pool's bucket counts the octets it handed out, since its records may be shorter
// than the pool's element size; every record starts on 8 octets. In sanitized builds a
// shorter record is followed by a poisoned gap, so reading or writing past its own end is
// reported.
static u8* take_shared_record(Memory_Pool* pool, u32 size) {
    u64 capacity = (u64)pool->elements_per_bucket * pool->element_size;
    u32 taken = (u32)align_up(size, 8);
    u32 gap = size < pool->element_size && taken + SHARED_RECORD_GAP <= capacity ? SHARED_RECORD_GAP : 0;
    Memory_Pool_Bucket* bucket = pool->shared_bucket;
    if (!bucket || bucket->count + taken + gap > capacity) {
        bucket = memory_pool_allocate_bucket(pool);
        if (!bucket) return 0;
        pool->shared_bucket = bucket;
    }
    u8* record = (u8*)(bucket + 1) + bucket->count;
    bucket->count += taken + gap;
    // Records of an earlier compile lay elsewhere: their gaps may cover this one.
    ASAN_UNPOISON_MEMORY_REGION(record, size);
    if (taken + gap > size) ASAN_POISON_MEMORY_REGION(record + size, taken + gap - size);
    return record;
}

static void* link_element(Bucket_Array* array, u8* element, u32 size) {
    memset(element, 0, size);
    if (array->last_element) *(void**)array->last_element = element;
    else array->first_element = element;
    array->last_element = element;
    array->count++;
    return element;
}

void* bucket_array_append_sized(Bucket_Array* array, u32 size) {
    if (!array->pool->shared || size >= array->element_size) return bucket_array_append(array);
    if (size < sizeof(void*)) size = sizeof(void*);  // room for the link
    u8* element = take_shared_record(array->pool, size);
    return element ? link_element(array, element, size) : 0;
}

void* bucket_array_append(Bucket_Array* array) {
    if (array->pool->shared) {
        u8* element = take_shared_record(array->pool, array->element_size);
        return element ? link_element(array, element, array->element_size) : 0;
    }
    Memory_Pool_Bucket* bucket = array->last_bucket;
    if (!bucket) {
        bucket = memory_pool_allocate_bucket(array->pool);
        if (!bucket) return 0;
        array->first_bucket = bucket;
        array->last_bucket = bucket;
    } else if (bucket->count == array->elements_per_bucket) {
        if (!bucket->next) {
            Memory_Pool_Bucket* fresh = memory_pool_allocate_bucket(array->pool);
            if (!fresh) return 0;
            bucket->next = fresh;
        }
        bucket = bucket->next;
        array->last_bucket = bucket;
    }

    u8* element = (u8*)(bucket + 1) + (u64)bucket->count * array->element_size;
    bucket->count++;
    return link_element(array, element, array->element_size);
}

void bucket_array_reset(Bucket_Array* array) {
    // A shared pool's buckets hold other arrays' elements too: they stay as they are.
    for (Memory_Pool_Bucket* bucket = array->first_bucket; bucket; bucket = bucket->next) bucket->count = 0;
    array->last_bucket = array->first_bucket;
    array->first_element = 0;
    array->last_element = 0;
    array->count = 0;
}

void* bucket_array_get_element(Bucket_Array* array, u32 index) {
    if (index >= array->count) return 0;
    if (array->pool->shared) {
        void* element = array->first_element;
        while (index--) element = *(void**)element;
        return element;
    }
    for (Memory_Pool_Bucket* bucket = array->first_bucket; bucket; bucket = bucket->next) {
        if (index < bucket->count) return (u8*)(bucket + 1) + (u64)index * array->element_size;
        index -= bucket->count;
        if (bucket == array->last_bucket) break;  // buckets behind it are kept for reuse, not in use
    }
    return 0;
}
