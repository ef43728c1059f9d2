// Memory is budgeted, not managed: one static mapping carved into named budgets, the
// general-purpose allocator for what grows, and one temporary bump arena per thread.
#pragma once

#include "foundation/types.h"

//~ Budgets

#define LOGGING_MEMORY          1048576ull
#define MAIN_LOG_MEMORY         1048576ull
#define STATIC_STRINGS_MEMORY   2097152ull
#define FONT_DATA_MEMORY        20971520ull
#define GLYPHS_PAGE_MEMORY      524816ull
#define PSEUDO_EXE_DATA_MEMORY  5242880ull
#define ASSETS_MEMORY           28836368ull
#define COMPILER_MEMORY         32930912ull
#define EDITOR_MEMORY           48085296ull
#define EDITOR_FILES_MEMORY     294912ull  // 72 pages: sixteen open-file records and their block header
#define RENDERER_MEMORY         0ull
#define UI_MEMORY               0ull

#define TMP_SLOT_COUNT           128
#define WORKER_TMP_MEMORY        0xA00000ull   // 10 MiB, mapped on a worker's first claim
#define EDITOR_MAIN_TMP_MEMORY   0xA00000ull   // 10 MiB, 20 MiB into the static memory
#define UPDATER_MAIN_TMP_MEMORY  0x1400000ull  // 20 MiB, at the start of the static memory

// Every carve and every allocator unit starts on a cache line, so typed and atomic access
// into them is aligned and no two budgets share a line.
#define MEMORY_ALIGNMENT 64ull

//~ General-purpose allocator geometry

struct Gp_Size_Class {
    u64 unit_size;
    u16 unit_count;     // units per bucket
    u64 largest_size;   // the largest request the class serves
    b8 static_head;     // its head bucket lies in the static memory; else it is mapped on first use
};

// A request goes to the first class whose largest size holds it; the middle classes keep
// a block of a few KiB from taking a whole 1 MiB unit.
inline constexpr Gp_Size_Class GP_SIZE_CLASSES[] = {
    {128, 256, 512, true},
    {1024, 512, 4096, true},
    {4096, 512, 32768, false},
    {32768, 128, 262144, false},
    {1048576, 10, 10485760, true},
};
#define GP_CLASS_COUNT 5

#define GP_BUCKET_HEADER_SIZE 48ull
#define GP_LARGEST_CLASS_SIZE 10485760ull  // above this a block gets a mapping of its own

// The units of a bucket start behind its header and map, on a 64-octet boundary.
constexpr u64 gp_units_offset(u64 unit_count) {
    return (GP_BUCKET_HEADER_SIZE + unit_count + MEMORY_ALIGNMENT - 1) & ~(MEMORY_ALIGNMENT - 1);
}
constexpr u64 gp_bucket_octets(const Gp_Size_Class& c) { return gp_units_offset(c.unit_count) + c.unit_count * c.unit_size; }

constexpr u64 gp_static_head_buckets_octets() {
    u64 octets = 0;
    for (const Gp_Size_Class& c : GP_SIZE_CLASSES) octets += c.static_head ? gp_bucket_octets(c) : 0;
    return octets;
}

// The head buckets that lie in the static memory, one after another.
#define GP_HEAD_BUCKETS_MEMORY gp_static_head_buckets_octets()

static_assert(sizeof(GP_SIZE_CLASSES) / sizeof(GP_SIZE_CLASSES[0]) == GP_CLASS_COUNT);

//~ Static memory layout

// Editor: 20 MiB unused, the main thread's arena, the head buckets, then the budgets.
#define EDITOR_MAIN_TMP_OFFSET       0x1400000ull  // 20 MiB
#define EDITOR_HEAD_BUCKETS_OFFSET   0x1E00000ull  // 30 MiB
#define EDITOR_BUDGETS_MEMORY        142358432ull  // room for the budgets carved behind the head buckets
#define STATIC_CARVE_SLACK           (256 * MEMORY_ALIGNMENT)  // padding of up to 256 aligned carves
#define EDITOR_STATIC_MEMORY \
    (EDITOR_HEAD_BUCKETS_OFFSET + GP_HEAD_BUCKETS_MEMORY + EDITOR_BUDGETS_MEMORY + STATIC_CARVE_SLACK)

// Updater: its main arena, then the head buckets; nothing else is carved.
#define UPDATER_HEAD_BUCKETS_OFFSET  UPDATER_MAIN_TMP_MEMORY
#define UPDATER_STATIC_MEMORY        (UPDATER_HEAD_BUCKETS_OFFSET + GP_HEAD_BUCKETS_MEMORY)

static_assert(GP_HEAD_BUCKETS_MEMORY % MEMORY_ALIGNMENT == 0);
static_assert(EDITOR_HEAD_BUCKETS_OFFSET == EDITOR_MAIN_TMP_OFFSET + EDITOR_MAIN_TMP_MEMORY);

//~ Static memory

struct Static_Memory {
    u8* base;
    u64 used;
    u64 size;
};

extern Static_Memory __memory;

enum Program_Kind : u8 { PROGRAM_EDITOR = 1, PROGRAM_UPDATER = 2 };

b8 init_memory(Program_Kind program);
// Maps the static memory, places the main thread's arena and the static head buckets and
// claims the calling thread's temporary slot (keeping one it already holds). False (with a message on stderr) when the
// mapping fails; the caller cannot go on. Once the static memory exists, a later call
// does nothing and returns true, so every test may call it first.

u8* carve_static_memory(u64 budget);
// Takes a budget from the static memory, 64-byte aligned. Null and an error log line when
// the budget does not fit. Start-up only: the offset is not locked.

//~ General-purpose allocator

struct Gp_Bucket {
    Gp_Bucket* next;
    Gp_Bucket* previous;        // null only for the head of a chain
    Gp_Bucket* head;            // the head of its chain; the head itself for the head
    // The buckets behind the head that have a free unit form a second list, which starts at
    // the head's next_with_room, so a request never walks past full buckets.
    Gp_Bucket* next_with_room;
    u32 unit_size;
    u16 unit_count;
    u16 used_units;
    u32 empty_buckets;          // the head only: the empty buckets kept behind it
    u32 padding;
    // then one map byte per unit (1 used, 0 free), then the units, 64-byte aligned
};
static_assert(sizeof(Gp_Bucket) == GP_BUCKET_HEADER_SIZE);

struct Gp_Allocation {
    u8* memory;
    u64 size;           // the size asked for; 0 when nothing is allocated
    Gp_Bucket* bucket;  // null for a block with a mapping of its own, or from malloc
    u16 first_unit;
    u16 unit_count;
    b8 mapped;          // a block with a mapping of its own
};

// A block of its own that was freed and kept for the next request of its size.
struct Gp_Kept_Mapping {
    u8* memory;
    u64 octets;  // whole pages; 0 for an empty slot
};
#define GP_KEPT_MAPPINGS 8

struct Gp_Allocator {
    Gp_Bucket* chains[GP_CLASS_COUNT];  // null for a class not used yet whose head is not static
    Gp_Kept_Mapping kept[GP_KEPT_MAPPINGS];
    u64 kept_octets;
    u8 lock;
};

extern Gp_Allocator __gp_allocator;

// Sanitized builds can serve gp_allocate and pool buckets from malloc instead, so the
// sanitizers see every block on its own: the environment variable QUARN_SYSTEM_ALLOCATOR=1
// chooses it when the program starts, before anything is allocated. Other builds never do.
#if QUARN_CAN_USE_SYSTEM_ALLOCATOR
extern b8 __system_allocator;
inline b8 system_allocator() { return __system_allocator; }
#else
inline b8 system_allocator() { return false; }
#endif

b8 gp_allocate(Gp_Allocation* out, u64 size);
// Fills out with a block of at least size octets, not cleared. Sizes above the largest
// size class get a mapping of their own. A size of 0 gives a cleared record and true.
// False (out cleared, error logged) when the memory cannot be had.

b8 gp_reserve(Gp_Allocation* out, u64 size);
// A block with a mapping of its own that is mostly left untouched: only the pages written
// become resident. It stays a mapping when system_allocator() holds, since the leak checker
// would read all of it at every exit. gp_free gives it back like any other block.

b8 gp_allocate_on_bucket(Gp_Allocation* out, Gp_Bucket* head, u64 size);
// First fit in the head, then in the buckets with room behind it, the one that got room
// last first; the caller holds the allocator's lock. A chain with no room gets a new
// bucket mapped right behind its head. False (out cleared, nothing logged, so the caller
// may log outside the lock) when that mapping fails.

Gp_Bucket* gp_init_bucket(u8* memory, const Gp_Size_Class& size_class);
// Clears the header and map of a bucket at memory (64-byte aligned, gp_bucket_octets long),
// which becomes the head of a chain of its own.

// The empty buckets a chain keeps, and the freed blocks of their own the allocator keeps:
// a compile frees most of what it took at its end, and the next takes the same again, so
// memory unmapped there would be mapped, faulted in and zeroed again (and its unmapping
// flushes the TLB of every core the process ran on).
#define GP_KEPT_EMPTY_OCTETS (64ull << 20)

constexpr u32 gp_kept_empty_buckets(u64 bucket_octets) {
    return bucket_octets >= GP_KEPT_EMPTY_OCTETS ? 1 : (u32)(GP_KEPT_EMPTY_OCTETS / bucket_octets);
}

void gp_free(Gp_Allocation* a);
// Gives the block back and clears the record; a record of size 0 is left alone. A bucket
// behind the head of its chain that empties stays for later requests while the chain
// keeps fewer than gp_kept_empty_buckets empty ones; otherwise it is unmapped. A block of
// its own is kept for a later request of the same number of pages while the kept ones
// stay within GP_KEPT_EMPTY_OCTETS and GP_KEPT_MAPPINGS; otherwise it is unmapped.

void* os_allocate_read_write(u64 size);
// Anonymous private read-write mapping, zeroed. Null on failure.

void os_free_mapping(void* memory, u64 size);

//~ Temporary memory

struct Temporary_Memory {
    u8* memory;
    u64 used;
    u64 size;
};

struct Tmp_Allocator {
    u64 claimed[2];                        // bit i of word i/64 marks slot i
    u32 owner_ids[TMP_SLOT_COUNT];         // low 32 bits of pthread_self, for diagnostics only
    Temporary_Memory slots[TMP_SLOT_COUNT];
};

extern Tmp_Allocator __tmp_allocator;

void tmp_claim_slot();
// Claims a slot for the calling thread (spins while all are taken). Every thread calls it
// once at its start; the slot is given back automatically when the thread ends.

void tmp_claim_main_slot(u8* memory, u64 size);
// init_memory's claim for the calling thread: slot 0 with the main arena given, when the
// thread holds no slot yet and slot 0 is free. Otherwise the thread keeps its slot, or
// claims another as tmp_claim_slot does; no claim of another thread is undone.

void tmp_release_slot();
// Gives the calling thread's slot back early; its arena stays mapped for the next owner.

Temporary_Memory* tmp_get_slot();
// The calling thread's slot, or null when it has claimed none.

u8* tmp_allocate(u64 size);
// A block of the calling thread's arena. Null and an error log line when the arena is full
// or the thread has no slot; never memory past the arena's end.

u64 tmp_get_used();
void tmp_set_used(u64 used);  // sets back a value saved with tmp_get_used
void tmp_reset();             // the owner's loop calls this at the top of each pass

//~ Pools, bucket arrays and dynamic arrays

typedef void* (*Page_Allocator)(u64 size);

struct Memory_Pool_Page {
    Memory_Pool_Page* next;
    u32 count;  // buckets used
    u32 padding;
};
static_assert(sizeof(Memory_Pool_Page) == 16);

struct Memory_Pool_Bucket {
    Memory_Pool_Bucket* next;
    u32 count;  // elements used
    u32 padding;
};
static_assert(sizeof(Memory_Pool_Bucket) == 16);

struct Memory_Pool {
    u32 element_size;
    u32 elements_per_bucket;
    u32 buckets_per_page;
    u32 bucket_size;  // elements_per_bucket * element_size + 16
    u32 page_size;    // buckets_per_page * bucket_size + 16
    Memory_Pool_Page* first_page;
    Memory_Pool_Page* current_page;
    Page_Allocator page_allocator;
    Memory_Pool_Bucket* shared_bucket;  // a shared pool: the bucket its arrays append into
    u8 lock;          // guards the page list and page counts
    u8 shared;        // set by memory_pool_share_buckets
};

void _init_memory_pool(Memory_Pool* pool, u32 element_size, u32 elements_per_bucket,
                       u32 buckets_per_page, void* first_page, Page_Allocator page_allocator);
// first_page (page_size octets, 16-aligned, usually carved from the static memory) must
// outlive the pool; with no first page the first bucket maps one.

Memory_Pool_Bucket* memory_pool_allocate_bucket(Memory_Pool* pool);
// A bucket with its header cleared, its elements as the page held them. Takes the pool's
// lock. Null and an error log line when no page can be had.

void memory_pool_reset(Memory_Pool* pool);
// Makes every page reusable from the first; nothing is returned or cleared. Not locked:
// the caller owns the pool at that moment.

void memory_pool_share_buckets(Memory_Pool* pool);
// Makes the arrays of the pool share its buckets: each append takes the next element of
// the pool's current bucket, whichever array it is for, so many short arrays (a scope's
// instructions, its names) fill buckets together instead of each holding a bucket it
// barely uses. An array then owns no buckets: its elements are found through their links
// only, and a reset array leaves its old elements to the pool's next reset. The arrays of a
// shared pool append from one thread at a time.

// Every element of a bucket array begins with the pointer to the next element. An array of
// a shared pool has no buckets of its own (first and last bucket stay null).
struct Bucket_Array {
    void* first_element;
    Memory_Pool* pool;
    u32 element_size;
    u32 elements_per_bucket;
    u32 count;
    Memory_Pool_Bucket* first_bucket;
    Memory_Pool_Bucket* last_bucket;
    void* last_element;
};

void init_bucket_array(Bucket_Array* array, Memory_Pool* pool);
// An empty array; also how an array starts over after its pool was reset, since the pool
// then hands its old buckets out again.

void* bucket_array_append(Bucket_Array* array);
// The new element, zeroed and linked behind the last; null when the pool has no memory
// left. One thread at a time per array; arrays of one pool may append concurrently.

void* bucket_array_append_sized(Bucket_Array* array, u32 size);
// For an array of a shared pool: an element of only size octets (the link first), zeroed
// and linked as bucket_array_append does, for records whose kind needs less than the
// pool's element size. Past those octets the element must not be touched. On an array of
// a pool that is not shared, or with a size of at least the element size, it is
// bucket_array_append.

void bucket_array_reset(Bucket_Array* array);
// Empties the array and keeps its buckets, which later appends reuse in order.

void* bucket_array_get_element(Bucket_Array* array, u32 index);
// Element index in insertion order, found by walking the buckets by their counts; null
// when index is not below the array's count.

struct Dynamic_Array {
    u8* data;
    u32 element_size;
    u32 count;
    u32 capacity;
    Gp_Allocation storage;
};

void init_dynamic_array(Dynamic_Array* a, u32 element_size);

void* dynamic_array_add_fast(Dynamic_Array* a);
// One slot at the end, not cleared; the array doubles when full (one element when empty).
// Null when the memory cannot be had (the array is unchanged).

void* dynamic_array_add_fast_multiple(Dynamic_Array* a, u32 n);
// n slots at the end, not cleared; a full array grows to the larger of count + n and twice
// its capacity. Null on failure, and for n = 0 on an array with no storage.

void* dynamic_array_insert(Dynamic_Array* a, u64 index);
// A zeroed element at index (0 to count), the rest moved up by one. Null when index is
// past the end or the memory cannot be had.

void dynamic_array_remove(Dynamic_Array* a, u64 index);
// Removes the element at index, moving the rest down by one; nothing past the end.

void dynamic_array_free(Dynamic_Array* a);  // gives the storage back; the element size stays
