// Fixtures the foundation tests share: memory set up once per process, an input placed
// against an unreadable page, and a scratch directory removed after the test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "foundation/memory.h"
#include "foundation/strings.h"
#include "tests/scratch.h"
#include "tests/waiting.h"

inline void setup_foundation_memory() {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    tmp_claim_slot();
}

// Pages with an unreadable page on each side: an input copied to the end of the readable
// part faults on any read past its end, one copied to its start on any read before it.
struct Guarded_Pages {
    u8* mapping;
    u8* readable;
    u64 readable_size;
    u64 mapping_size;
};

inline Guarded_Pages make_guarded_pages(u64 readable_pages) {
    u64 page = (u64)sysconf(_SC_PAGESIZE);
    Guarded_Pages g = {};
    g.mapping_size = (readable_pages + 2) * page;
    g.mapping = (u8*)mmap(0, g.mapping_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (g.mapping == MAP_FAILED) return Guarded_Pages{};
    g.readable = g.mapping + page;
    g.readable_size = readable_pages * page;
    mprotect(g.readable, g.readable_size, PROT_READ | PROT_WRITE);
    return g;
}

inline u8* place_at_end(Guarded_Pages* g, const void* data, u64 size) {
    u8* at = g->readable + g->readable_size - size;
    if (size) memcpy(at, data, size);
    return at;
}

inline u8* place_at_start(Guarded_Pages* g, const void* data, u64 size) {
    if (size) memcpy(g->readable, data, size);
    return g->readable;
}

inline void free_guarded_pages(Guarded_Pages* g) {
    if (g->mapping) munmap(g->mapping, g->mapping_size);
    *g = Guarded_Pages{};
}

struct Scratch_Directory {
    std::string path;
};

inline Scratch_Directory make_scratch_directory() {
    return Scratch_Directory{make_test_directory("scratch")};
}

inline void remove_scratch_directory(Scratch_Directory* d) {
    if (d->path.empty()) return;
    std::error_code ignored;
    std::filesystem::permissions(d->path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(d->path, ignored);
    d->path.clear();
}

inline String test_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }
inline std::string to_std(String s) { return s.data ? std::string((const char*)s.data, (size_t)s.count) : std::string(); }

// Waits until done() holds, at most the given time; false when time ran out. A test whose
// fault is a thread that never finishes fails with a message instead of hanging.
template <typename Done>
inline bool wait_until(Done done, double seconds = TEST_DEADLINE_SECONDS) {
    return wait_for_condition(done, seconds, 100);
}
