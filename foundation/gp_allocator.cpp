// The general-purpose allocator: three size classes of fixed units in chains of buckets,
// first fit over one map byte per unit, under one spin lock. Requests above the largest
// class get a mapping of their own. When system_allocator() holds, the blocks come from
// malloc instead, so the sanitizers see every block on its own.
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

Gp_Bucket* gp_init_bucket(u8* memory, const Gp_Size_Class& size_class) {
    Gp_Bucket* bucket = (Gp_Bucket*)memory;
    memset(bucket, 0, GP_BUCKET_HEADER_SIZE + size_class.unit_count);
    bucket->unit_size = size_class.unit_size;
    bucket->unit_count = size_class.unit_count;
    return bucket;
}

static void take_units(Gp_Allocation* out, Gp_Bucket* bucket, u16 first, u16 n, u64 size) {
    memset(bucket_map(bucket) + first, 1, n);
    bucket->used_units += n;
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

    Gp_Bucket* last = head;
    for (Gp_Bucket* bucket = head; bucket; bucket = bucket->next) {
        last = bucket;
        if ((u32)bucket->unit_count - bucket->used_units < n) continue;
        u8* map = bucket_map(bucket);
        u32 s = 0;
        while (s + n <= bucket->unit_count) {
            if (map[s]) { s++; continue; }
            // A used unit inside the run: no run can start at or before it.
            u8* used = (u8*)memchr(map + s, 1, n);
            if (!used) {
                take_units(out, bucket, (u16)s, n, size);
                return true;
            }
            s = (u32)(used - map) + 1;
        }
    }

    Gp_Size_Class geometry = {last->unit_size, last->unit_count, 0};
    u8* memory = (u8*)os_allocate_read_write(gp_bucket_octets(geometry));
    if (!memory) return false;
    Gp_Bucket* bucket = gp_init_bucket(memory, geometry);
    last->next = bucket;
    bucket->previous = last;
    take_units(out, bucket, 0, n, size);
    return true;
}

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
        if (!gp_reserve(out, size)) return false;
        // Blocks this large are mostly filled whole (file texts, decoded update files): huge
        // pages, where the system grants them, spare a page fault every 4 KiB.
        madvise(out->memory, size, MADV_HUGEPAGE);
        return true;
    }

    u32 chain = 0;
    while (size > GP_SIZE_CLASSES[chain].largest_size) chain++;
    spin_lock(&__gp_allocator.lock);
    b8 ok = gp_allocate_on_bucket(out, __gp_allocator.chains[chain], size);
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

void gp_free(Gp_Allocation* a) {
    if (a->size == 0) return;

    Gp_Bucket* bucket = a->bucket;
    if (!bucket) {
        if (a->mapped) os_free_mapping(a->memory, a->size);
        else free(a->memory);
        memset(a, 0, sizeof(*a));
        return;
    }

    Gp_Bucket* unmap = 0;
    spin_lock(&__gp_allocator.lock);
    memset(bucket_map(bucket) + a->first_unit, 0, a->unit_count);
    bucket->used_units -= a->unit_count;
    if (bucket->used_units == 0 && bucket->previous) {
        bucket->previous->next = bucket->next;
        if (bucket->next) bucket->next->previous = bucket->previous;
        unmap = bucket;
    }
    spin_unlock(&__gp_allocator.lock);

    if (unmap) os_free_mapping(unmap, gp_bucket_octets({unmap->unit_size, unmap->unit_count, 0}));
    memset(a, 0, sizeof(*a));
}
