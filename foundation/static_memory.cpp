// The static memory: one mapping made at start, holding the main thread's arena, the static
// head buckets of the general-purpose allocator and every fixed budget, carved by a bump offset.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include "foundation/log.h"
#include "foundation/memory.h"

Static_Memory __memory;

void* os_allocate_read_write(u64 size) {
    void* memory = mmap(0, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        add_log(0, LOG_ERROR, "Could not map %llu octets: %s", (unsigned long long)size, strerror(errno));
        return 0;
    }
    return memory;
}

void os_free_mapping(void* memory, u64 size) {
    if (memory) munmap(memory, size);
}

b8 init_memory(Program_Kind program) {
    if (__memory.base) return true;

    b8 editor = program == PROGRAM_EDITOR;
    u64 size = editor ? EDITOR_STATIC_MEMORY : UPDATER_STATIC_MEMORY;
    void* base = mmap(0, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        // The log has no memory yet; this is the one message that goes straight out.
        fprintf(stderr, "Could not map the static memory (%llu octets): %s\n", (unsigned long long)size, strerror(errno));
        return false;
    }
    __memory.base = (u8*)base;
    __memory.size = size;

    //- The static head buckets, one after another behind the arena; the other classes map
    // theirs on first use.
    u64 offset = editor ? EDITOR_HEAD_BUCKETS_OFFSET : UPDATER_HEAD_BUCKETS_OFFSET;
    for (u32 i = 0; i < GP_CLASS_COUNT; i++) {
        __gp_allocator.chains[i] = 0;
        if (!GP_SIZE_CLASSES[i].static_head) continue;
        __gp_allocator.chains[i] = gp_init_bucket(__memory.base + offset, GP_SIZE_CLASSES[i]);
        offset += gp_bucket_octets(GP_SIZE_CLASSES[i]);
    }
    __gp_allocator.lock = 0;
    __memory.used = offset;

    //- The main thread's arena, in slot 0. Claims made before this call are kept, so no
    // two threads ever share an arena.
    tmp_claim_main_slot(__memory.base + (editor ? EDITOR_MAIN_TMP_OFFSET : 0),
                        editor ? EDITOR_MAIN_TMP_MEMORY : UPDATER_MAIN_TMP_MEMORY);
    return true;
}

u8* carve_static_memory(u64 budget) {
    u64 start = align_up(__memory.used, MEMORY_ALIGNMENT);
    if (!__memory.base || start > __memory.size || budget > __memory.size - start) {
        add_log(0, LOG_ERROR, "A budget of %llu octets does not fit in the static memory (%llu of %llu used)",
                (unsigned long long)budget, (unsigned long long)__memory.used, (unsigned long long)__memory.size);
        return 0;
    }
    __memory.used = start + budget;
    return __memory.base + start;
}
