// Sized types, the spin lock and the atomic flag helpers every subsystem shares.
// Spin locks are one byte beside the data they guard; nothing in Quarn uses mutexes.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

typedef uint8_t  u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t   s8;
typedef int16_t  s16;
typedef int32_t  s32;
typedef int64_t  s64;
typedef float    f32;
typedef double   f64;
typedef bool     b8;

static_assert(sizeof(b8) == 1);

#define KILOBYTES(n) ((u64)(n) * 1024ull)
#define MEGABYTES(n) ((u64)(n) * 1024ull * 1024ull)
#define ARRAY_COUNT(a) (sizeof(a) / sizeof((a)[0]))

inline u64 align_up(u64 value, u64 alignment) { return (value + alignment - 1) & ~(alignment - 1); }

// Little-endian fields of file formats at any alignment (x86-64 only, so a plain copy).
inline u32 load_u32(const u8* at) { u32 v; __builtin_memcpy(&v, at, 4); return v; }
inline u64 load_u64(const u8* at) { u64 v; __builtin_memcpy(&v, at, 8); return v; }
inline void store_u32(u8* at, u32 v) { __builtin_memcpy(at, &v, 4); }
inline void store_u64(u8* at, u64 v) { __builtin_memcpy(at, &v, 8); }

// Nearly every hold lasts a few instructions: a waiter spins that long. Some last hundreds of
// milliseconds (the compile of the layer holds its locks throughout): past the spins the
// waiter sleeps between looks, longer each time up to a millisecond, and so takes no
// processor from the holder.
#define SPIN_LOCK_SPINS 512
#define SPIN_LOCK_FIRST_SLEEP_NANOSECONDS 20000
#define SPIN_LOCK_LONGEST_SLEEP_NANOSECONDS 1000000

// Swaps 0 for 1 once the byte reads 0; released by an atomic exchange with 0.
inline void spin_lock(u8* lock) {
    u32 spins = 0;
    long nap_length = SPIN_LOCK_FIRST_SLEEP_NANOSECONDS;
    for (;;) {
        u8 expected = 0;
        if (__atomic_load_n(lock, __ATOMIC_RELAXED) == 0 &&
            __atomic_compare_exchange_n(lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            return;
        }
        if (spins < SPIN_LOCK_SPINS) {
            spins++;
            __builtin_ia32_pause();
            continue;
        }
        timespec nap = {0, nap_length};
        nanosleep(&nap, nullptr);
        nap_length *= 2;
        if (nap_length > SPIN_LOCK_LONGEST_SLEEP_NANOSECONDS) nap_length = SPIN_LOCK_LONGEST_SLEEP_NANOSECONDS;
    }
}

inline b8 spin_try_lock(u8* lock) {
    u8 expected = 0;
    return __atomic_compare_exchange_n(lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}
// True when the lock was free and is now taken; never waits.

inline void spin_unlock(u8* lock) { __atomic_exchange_n(lock, (u8)0, __ATOMIC_RELEASE); }

inline u32 atomic_or_u32(u32* word, u32 bits) { return __atomic_fetch_or(word, bits, __ATOMIC_ACQ_REL); }
inline u32 atomic_and_u32(u32* word, u32 bits) { return __atomic_fetch_and(word, bits, __ATOMIC_ACQ_REL); }
inline u16 atomic_or_u16(u16* word, u16 bits) { return __atomic_fetch_or(word, bits, __ATOMIC_ACQ_REL); }
inline u16 atomic_and_u16(u16* word, u16 bits) { return __atomic_fetch_and(word, bits, __ATOMIC_ACQ_REL); }
// Replaces *word by desired only while it still holds *expected; otherwise *expected
// receives what it holds. For a change that depends on the bits already there.
inline b8 atomic_compare_exchange_u16(u16* word, u16* expected, u16 desired) {
    return __atomic_compare_exchange_n(word, expected, desired, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}
inline u64 atomic_or_u64(u64* word, u64 bits) { return __atomic_fetch_or(word, bits, __ATOMIC_ACQ_REL); }
inline u64 atomic_and_u64(u64* word, u64 bits) { return __atomic_fetch_and(word, bits, __ATOMIC_ACQ_REL); }
inline u64 atomic_load_u64(u64* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
inline u32 atomic_load_u32(u32* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
inline u16 atomic_load_u16(u16* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
inline u8 atomic_or_u8(u8* byte, u8 bits) { return __atomic_fetch_or(byte, bits, __ATOMIC_ACQ_REL); }
inline u8 atomic_and_u8(u8* byte, u8 bits) { return __atomic_fetch_and(byte, bits, __ATOMIC_ACQ_REL); }
inline u8 atomic_load_u8(u8* byte) { return __atomic_load_n(byte, __ATOMIC_ACQUIRE); }
inline void atomic_store_u8(u8* byte, u8 value) { __atomic_store_n(byte, value, __ATOMIC_RELEASE); }

// A 64-bit real and its octets, as constants and compiled code hold them.
inline f64 real_of(u64 bits) { return __builtin_bit_cast(f64, bits); }
inline u64 bits_of(f64 real) { return __builtin_bit_cast(u64, real); }
