// The general-purpose allocator: size classes of fixed units in chains of buckets, first
// fit over one map byte per unit, under one spin lock. Only buckets with a free unit are
// searched, and a chain keeps some emptied buckets, so neither a long chain of full buckets
// nor a block taken and freed over and over costs a walk or a mapping per request.
// Requests above the largest class get a mapping of their own, and a few freed ones are
// kept for the next request of their size. When system_allocator() holds, the blocks come
// from malloc instead, so the sanitizers see every block on its own.
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include "foundation/log.h"
#include "foundation/memory.h"

Gp_Allocator __gp_allocator;

#if QUARN_CAN_USE_SYSTEM_ALLOCATOR
b8 __system_allocator;

// Runs before the constructors of ordinary priority, so no block is taken before the choice.
__attribute__((constructor(101))) static void choose_allocator() {
    const char* choice = getenv("QUARN_SYSTEM_ALLOCATOR");
    __system_allocator = choice && strcmp(choice, "1") == 0;
}
#endif

static u8* bucket_map(Gp_Bucket* bucket) { return (u8*)bucket + GP_BUCKET_HEADER_SIZE; }
static u8* bucket_units(Gp_Bucket* bucket) { return (u8*)bucket + gp_units_offset(bucket->unit_count); }
static u64 bucket_octets(Gp_Bucket* bucket) { return gp_bucket_octets({bucket->unit_size, bucket->unit_count, 0, false}); }

Gp_Bucket* gp_init_bucket(u8* memory, const Gp_Size_Class& size_class) {
    Gp_Bucket* bucket = (Gp_Bucket*)memory;
    memset(bucket, 0, GP_BUCKET_HEADER_SIZE + size_class.unit_count);
    bucket->head = bucket;
    bucket->unit_size = (u32)size_class.unit_size;
    bucket->unit_count = size_class.unit_count;
    return bucket;
}

//~ Buckets

// The first run of n free units in the bucket, or -1.
static s32 find_free_run(Gp_Bucket* bucket, u16 n) {
    if ((u32)bucket->unit_count - bucket->used_units < n) return -1;
    u8* map = bucket_map(bucket);
    u32 s = 0;
    while (s + n <= bucket->unit_count) {
        u8* free_unit = (u8*)memchr(map + s, 0, bucket->unit_count - s);
        if (!free_unit) return -1;
        s = (u32)(free_unit - map);
        if (s + n > bucket->unit_count) return -1;
        // A used unit inside the run: no run can start at or before it.
        u8* used = n > 1 ? (u8*)memchr(map + s, 1, n) : 0;
        if (!used) return (s32)s;
        s = (u32)(used - map) + 1;
    }
    return -1;
}

// Marks the units used; link is where the bucket hangs in the list of buckets with room
// (null for the head), so a bucket that fills up leaves the list.
static void take_units(Gp_Allocation* out, Gp_Bucket* bucket, Gp_Bucket** link, u16 first, u16 n, u64 size) {
    if (bucket->used_units == 0 && bucket != bucket->head) bucket->head->empty_buckets--;
    memset(bucket_map(bucket) + first, 1, n);
    bucket->used_units += n;
    if (link && bucket->used_units == bucket->unit_count) {
        *link = bucket->next_with_room;
        bucket->next_with_room = 0;
    }
    out->memory = bucket_units(bucket) + (u64)first * bucket->unit_size;
    out->size = size;
    out->bucket = bucket;
    out->first_unit = first;
    out->unit_count = n;
}

b8 gp_allocate_on_bucket(Gp_Allocation* out, Gp_Bucket* head, u64 size) {
    memset(out, 0, sizeof(*out));
    u64 needed = (size + head->unit_size - 1) / head->unit_size;
    if (needed == 0 || needed > head->unit_count) return false;
    u16 n = (u16)needed;

    s32 first = find_free_run(head, n);
    if (first >= 0) {
        take_units(out, head, 0, (u16)first, n, size);
        return true;
    }
    for (Gp_Bucket** link = &head->next_with_room; *link; link = &(*link)->next_with_room) {
        first = find_free_run(*link, n);
        if (first >= 0) {
            take_units(out, *link, link, (u16)first, n, size);
            return true;
        }
    }

    // None has room: a new bucket right behind the head, first in the list with room.
    Gp_Size_Class geometry = {head->unit_size, head->unit_count, 0, false};
    u8* memory = (u8*)os_allocate_read_write(gp_bucket_octets(geometry));
    if (!memory) return false;
    Gp_Bucket* bucket = gp_init_bucket(memory, geometry);
    bucket->head = head;
    bucket->previous = head;
    bucket->next = head->next;
    if (head->next) head->next->previous = bucket;
    head->next = bucket;
    bucket->next_with_room = head->next_with_room;
    head->next_with_room = bucket;
    head->empty_buckets++;
    take_units(out, bucket, &head->next_with_room, 0, n, size);
    return true;
}

//~ Blocks of their own

#define GP_PAGE_SIZE 4096ull

// A kept mapping of as many pages as size needs, or null.
static u8* take_kept_mapping(u64 size) {
    u64 octets = align_up(size, GP_PAGE_SIZE);
    u8* memory = 0;
    spin_lock(&__gp_allocator.lock);
    for (Gp_Kept_Mapping& kept : __gp_allocator.kept) {
        if (kept.octets != octets) continue;
        memory = kept.memory;
        __gp_allocator.kept_octets -= octets;
        kept = Gp_Kept_Mapping{};
        break;
    }
    spin_unlock(&__gp_allocator.lock);
    return memory;
}

// False when there is no room to keep it: the caller unmaps it.
static b8 keep_mapping(u8* memory, u64 size) {
    u64 octets = align_up(size, GP_PAGE_SIZE);
    b8 kept = false;
    spin_lock(&__gp_allocator.lock);
    if (octets <= GP_KEPT_EMPTY_OCTETS - __gp_allocator.kept_octets) {
        for (Gp_Kept_Mapping& slot : __gp_allocator.kept) {
            if (slot.octets) continue;
            slot = Gp_Kept_Mapping{memory, octets};
            __gp_allocator.kept_octets += octets;
            kept = true;
            break;
        }
    }
    spin_unlock(&__gp_allocator.lock);
    return kept;
}

//~ Allocation

b8 gp_allocate(Gp_Allocation* out, u64 size) {
    memset(out, 0, sizeof(*out));
    if (size == 0) return true;

    if (system_allocator()) {
        out->memory = (u8*)malloc(size);
        if (!out->memory) {
            add_log(0, LOG_ERROR, "Could not allocate %llu octets", (unsigned long long)size);
            return false;
        }
        out->size = size;
        return true;
    }

    if (size > GP_LARGEST_CLASS_SIZE) {
        out->memory = take_kept_mapping(size);
        if (!out->memory) out->memory = (u8*)os_allocate_read_write(size);  // logs its own failure
        if (!out->memory) return false;
        out->mapped = true;
        // Blocks this large are mostly filled whole (file texts, decoded update files): huge
        // pages, where the system grants them, spare a page fault every 4 KiB.
        madvise(out->memory, size, MADV_HUGEPAGE);
        out->size = size;
        return true;
    }

    u32 chain = 0;
    while (size > GP_SIZE_CLASSES[chain].largest_size) chain++;
    spin_lock(&__gp_allocator.lock);
    Gp_Bucket* head = __gp_allocator.chains[chain];
    if (!head) {
        u8* memory = (u8*)os_allocate_read_write(gp_bucket_octets(GP_SIZE_CLASSES[chain]));
        if (memory) head = __gp_allocator.chains[chain] = gp_init_bucket(memory, GP_SIZE_CLASSES[chain]);
    }
    b8 ok = head && gp_allocate_on_bucket(out, head, size);
    spin_unlock(&__gp_allocator.lock);
    // Logged outside the lock: the log may allocate.
    if (!ok) add_log(0, LOG_ERROR, "Could not allocate %llu octets: no bucket could be mapped", (unsigned long long)size);
    return ok;
}

b8 gp_reserve(Gp_Allocation* out, u64 size) {
    memset(out, 0, sizeof(*out));
    if (size == 0) return true;
    out->memory = (u8*)os_allocate_read_write(size);  // logs its own failure
    if (!out->memory) return false;
    out->size = size;
    out->mapped = true;
    return true;
}

//~ Freeing

// Takes an empty bucket out of its chain and out of the list of buckets with room.
static void unlink_bucket(Gp_Bucket* bucket) {
    Gp_Bucket** link = &bucket->head->next_with_room;
    while (*link != bucket) link = &(*link)->next_with_room;
    *link = bucket->next_with_room;
    bucket->previous->next = bucket->next;
    if (bucket->next) bucket->next->previous = bucket->previous;
}

void gp_free(Gp_Allocation* a) {
    if (a->size == 0) return;

    Gp_Bucket* bucket = a->bucket;
    if (!bucket) {
        if (!a->mapped) free(a->memory);
        else if (!keep_mapping(a->memory, a->size)) os_free_mapping(a->memory, a->size);
        memset(a, 0, sizeof(*a));
        return;
    }

    Gp_Bucket* unmap = 0;
    spin_lock(&__gp_allocator.lock);
    memset(bucket_map(bucket) + a->first_unit, 0, a->unit_count);
    b8 was_full = bucket->used_units == bucket->unit_count;
    bucket->used_units -= a->unit_count;
    Gp_Bucket* head = bucket->head;
    if (bucket != head) {
        if (was_full) {
            bucket->next_with_room = head->next_with_room;
            head->next_with_room = bucket;
        }
        if (bucket->used_units == 0) {
            if (head->empty_buckets < gp_kept_empty_buckets(bucket_octets(bucket))) {
                head->empty_buckets++;
            } else {
                unlink_bucket(bucket);
                unmap = bucket;
            }
        }
    }
    spin_unlock(&__gp_allocator.lock);

    if (unmap) os_free_mapping(unmap, bucket_octets(unmap));
    memset(a, 0, sizeof(*a));
}
