// Per-thread bump arenas in the 128 slots of __tmp_allocator. A thread finds its slot
// through a thread_local pointer, never by thread id: the C library reuses the ids of
// threads that have ended. A thread's slot is given back when the thread ends.
#include <pthread.h>
#include <sched.h>

#include "foundation/log.h"
#include "foundation/memory.h"

Tmp_Allocator __tmp_allocator;

static thread_local Temporary_Memory* current_slot;

// The key's destructor runs in every thread that ends holding a slot, detached or not.
static pthread_key_t slot_key;
static pthread_once_t slot_key_once = PTHREAD_ONCE_INIT;

static void release_slot_at_thread_end(void* value) {
    // The thread_local may already be gone here; the key's value names the slot.
    u32 index = (u32)(u64)value - 1;
    __tmp_allocator.owner_ids[index] = 0;
    __atomic_fetch_and(&__tmp_allocator.claimed[index / 64], ~(1ull << (index % 64)), __ATOMIC_RELEASE);
}

static void create_slot_key() { pthread_key_create(&slot_key, release_slot_at_thread_end); }

static s32 try_claim_a_free_bit() {
    for (u32 word = 0; word < 2; word++) {
        u64 bits = __atomic_load_n(&__tmp_allocator.claimed[word], __ATOMIC_RELAXED);
        while (bits != ~0ull) {
            u32 bit = (u32)__builtin_ctzll(~bits);
            if (__atomic_compare_exchange_n(&__tmp_allocator.claimed[word], &bits, bits | (1ull << bit), false,
                                            __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
                return (s32)(word * 64 + bit);
            }
            // bits now holds the word as another thread left it; look again.
        }
    }
    return -1;
}

void tmp_claim_slot() {
    if (current_slot) return;
    pthread_once(&slot_key_once, create_slot_key);

    s32 index = try_claim_a_free_bit();
    if (index < 0) {
        add_log(0, LOG_ERROR, "All %u temporary memory slots are taken; waiting for a thread to end", TMP_SLOT_COUNT);
        while ((index = try_claim_a_free_bit()) < 0) sched_yield();
    }

    Temporary_Memory* slot = &__tmp_allocator.slots[index];
    __tmp_allocator.owner_ids[index] = (u32)(u64)pthread_self();
    if (!slot->memory) {
        // A failed mapping leaves the slot without memory: every request then fails and logs.
        slot->memory = (u8*)os_allocate_read_write(WORKER_TMP_MEMORY);
        slot->size = slot->memory ? WORKER_TMP_MEMORY : 0;
    }
    slot->used = 0;
    current_slot = slot;
    pthread_setspecific(slot_key, (void*)(u64)(index + 1));
}

void tmp_claim_main_slot(u8* memory, u64 size) {
    if (current_slot) return;
    pthread_once(&slot_key_once, create_slot_key);

    u64 bits = __atomic_load_n(&__tmp_allocator.claimed[0], __ATOMIC_RELAXED);
    while (!(bits & 1)) {
        if (__atomic_compare_exchange_n(&__tmp_allocator.claimed[0], &bits, bits | 1, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
            Temporary_Memory* slot = &__tmp_allocator.slots[0];
            // A worker that held slot 0 before and has ended left its own mapping there.
            if (slot->memory && slot->memory != memory) os_free_mapping(slot->memory, slot->size);
            slot->memory = memory;
            slot->size = size;
            slot->used = 0;
            __tmp_allocator.owner_ids[0] = (u32)(u64)pthread_self();
            current_slot = slot;
            pthread_setspecific(slot_key, (void*)1);
            return;
        }
    }
    // Another thread holds slot 0: the main arena stays unused and this thread maps one.
    tmp_claim_slot();
}

void tmp_release_slot() {
    Temporary_Memory* slot = current_slot;
    if (!slot) return;
    current_slot = 0;
    pthread_setspecific(slot_key, 0);
    release_slot_at_thread_end((void*)(u64)(slot - __tmp_allocator.slots + 1));
}

Temporary_Memory* tmp_get_slot() { return current_slot; }

u8* tmp_allocate(u64 size) {
    Temporary_Memory* slot = current_slot;
    if (!slot) {
        add_log(0, LOG_ERROR, "Temporary memory asked for by a thread that claimed no slot");
        return 0;
    }
    if (size > slot->size - slot->used) {
        add_log(0, LOG_ERROR, "Temporary memory full: %llu octets asked for, %llu of %llu used",
                (unsigned long long)size, (unsigned long long)slot->used, (unsigned long long)slot->size);
        return 0;
    }
    u8* block = slot->memory + slot->used;
    slot->used += size;
    return block;
}

u64 tmp_get_used() { return current_slot ? current_slot->used : 0; }

void tmp_set_used(u64 used) {
    Temporary_Memory* slot = current_slot;
    if (slot) slot->used = used < slot->size ? used : slot->size;
}

void tmp_reset() {
    if (current_slot) current_slot->used = 0;
}
