// Dynamic arrays: one block from the general-purpose allocator that doubles when full and
// moves its elements; pointers into it live only until the next growth.
#include <string.h>

#include "foundation/log.h"
#include "foundation/memory.h"

void init_dynamic_array(Dynamic_Array* a, u32 element_size) {
    memset(a, 0, sizeof(*a));
    a->element_size = element_size;
}

static b8 grow_to(Dynamic_Array* a, u64 capacity) {
    if (capacity > 0xFFFFFFFFull) {
        add_log(0, LOG_ERROR, "A dynamic array of %u-octet elements cannot hold %llu elements", a->element_size,
                (unsigned long long)capacity);
        return false;
    }
    Gp_Allocation storage;
    if (!gp_allocate(&storage, capacity * a->element_size)) return false;
    if (a->count) memcpy(storage.memory, a->data, (u64)a->count * a->element_size);
    gp_free(&a->storage);
    a->storage = storage;
    a->data = storage.memory;
    a->capacity = (u32)capacity;
    return true;
}

void* dynamic_array_add_fast(Dynamic_Array* a) {
    if (a->count == a->capacity && !grow_to(a, a->capacity ? 2ull * a->capacity : 1)) return 0;
    return a->data + (u64)a->count++ * a->element_size;
}

void* dynamic_array_add_fast_multiple(Dynamic_Array* a, u32 n) {
    u64 needed = (u64)a->count + n;
    if (needed > a->capacity) {
        u64 doubled = 2ull * a->capacity;
        if (!grow_to(a, needed > doubled ? needed : doubled)) return 0;
    }
    if (!a->data) return 0;  // n = 0 on an array with no storage
    u8* first = a->data + (u64)a->count * a->element_size;
    a->count += n;
    return first;
}

void* dynamic_array_insert(Dynamic_Array* a, u64 index) {
    if (index > a->count) {
        add_log(0, LOG_ERROR, "Insert at %llu into a dynamic array of %u elements", (unsigned long long)index, a->count);
        return 0;
    }
    if (a->count == a->capacity && !grow_to(a, a->capacity ? 2ull * a->capacity : 1)) return 0;
    u8* slot = a->data + index * a->element_size;
    memmove(slot + a->element_size, slot, (a->count - index) * a->element_size);
    memset(slot, 0, a->element_size);
    a->count++;
    return slot;
}

void dynamic_array_remove(Dynamic_Array* a, u64 index) {
    if (index >= a->count) return;
    u8* slot = a->data + index * a->element_size;
    memmove(slot, slot + a->element_size, (a->count - index - 1) * a->element_size);
    a->count--;
}

void dynamic_array_free(Dynamic_Array* a) {
    gp_free(&a->storage);
    a->data = 0;
    a->count = 0;
    a->capacity = 0;
}
