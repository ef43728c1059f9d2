// What the fuzz targets share: a check that stops the run naming the condition that failed,
// and a room for the input that ends at a page without access, so that a read past the
// input faults at once instead of reading a neighbour's octets.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "foundation/types.h"

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s: %s fails at line %d\n", __FILE__, #condition, __LINE__); \
            abort();                                                                      \
        }                                                                                 \
    } while (0)

struct Guarded_Room {
    u8* start;
    u64 size;  // the page without access starts at start + size
};

inline Guarded_Room make_guarded_room(u64 size) {
    u64 page = (u64)sysconf(_SC_PAGESIZE);
    size = (size + page - 1) / page * page;
    u8* start = (u8*)mmap(0, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    CHECK(start != MAP_FAILED);
    CHECK(mprotect(start + size, page, PROT_NONE) == 0);
    return {start, size};
}

// The octets copied so that the last one is the last readable octet; 0 when they do not fit.
inline u8* place_before_guard(Guarded_Room room, const void* data, u64 size) {
    if (size > room.size) return 0;
    u8* at = room.start + room.size - size;
    if (size) memcpy(at, data, size);
    return at;
}
