// The compiler's budgets: the rows of its region, the geometry of its pools and sections,
// and the element sizes of the records the parser and the bytecode generator lay out. The
// asserts tie the region's size to the pool geometry, so one cannot change alone.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"

//~ Budgets and pool geometry

// The region carved at start-up, row by row, in this order.
#define TOKENS_PAGE_MEMORY                   720944ull
#define COMPILER_STATIC_STRINGS_MEMORY       512016ull
#define CONSTANT_DATA_PAGE_MEMORY            1048592ull
#define GLOBAL_DATA_PAGE_MEMORY              1048592ull
#define REAL_STRINGS_MEMORY                  1048576ull
#define COMPILER_OUTPUT_MEMORY               10485760ull
#define INSTRUCTIONS_PAGE_MEMORY             14188560ull
#define SCOPES_PAGE_MEMORY                   819728ull
#define IDENTIFIERS_PAGE_MEMORY              1642512ull  // the pool's page is 1,052,688; the row is larger
#define INLINED_RETURN_VALUES_PAGE_MEMORY    36880ull
#define CONDITION_PARTS_PAGE_MEMORY          378896ull
#define IF_CHAIN_PART_PAGE_MEMORY            81936ull

// What init_compiler takes from the static memory: the end of the last row.
#define COMPILER_CARVED_MEMORY               32012992ull

// The rest of COMPILER_MEMORY is the room of two debug pools that are never set up.
#define DEBUG_IDENTIFIERS_PAGE_MEMORY        721040ull
#define NUM_DEBUG_IDENTIFIERS_PER_BUCKET     1024
#define NUM_DEBUG_IDENTIFIER_BUCKETS_PER_PAGE 8
#define DEBUG_SCOPES_PAGE_MEMORY             196880ull
#define NUM_DEBUG_SCOPES_PER_BUCKET          128
#define NUM_DEBUG_SCOPE_BUCKETS_PER_PAGE     16

#define STATIC_STRINGS_BUCKET_SIZE           512000u
#define CONSTANT_DATA_BUCKET_SIZE            1048576u
#define GLOBAL_DATA_BUCKET_SIZE              1048576u
#define DATA_SECTION_BUCKET_HEADER_SIZE      16u
// A data section never grows past this; a reservation beyond it fails the compile.
#define DATA_SECTION_MAX_TOTAL               (64ull * 1024 * 1024)

#define NUM_TOKENS_PER_BUCKET                      4096
#define NUM_TOKEN_BUCKETS_PER_PAGE                 2
#define NUM_INSTRUCTIONS_PER_BUCKET                16
#define NUM_INSTRUCTION_BUCKETS_PER_PAGE           2048
#define NUM_SCOPES_PER_BUCKET                      32
#define NUM_SCOPE_BUCKETS_PER_PAGE                 32
#define NUM_IDENTIFIERS_PER_BUCKET                 8
#define NUM_IDENTIFIER_BUCKETS_PER_PAGE            256
#define NUM_INLINED_RETURN_VALUES_PER_BUCKET       2
#define NUM_INLINED_RETURN_VALUE_BUCKETS_PER_PAGE  128
#define NUM_CONDITION_PARTS_PER_BUCKET             16
#define NUM_CONDITION_PART_BUCKETS_PER_PAGE        128
#define NUM_IF_CHAIN_PARTS_PER_BUCKET              3
#define NUM_IF_CHAIN_PART_BUCKETS_PER_PAGE         128

// Element sizes of records the parser and the bytecode generator lay out; their headers
// static_assert their records against these.
#define INLINED_RETURN_VALUE_SIZE     136u
#define CONDITION_PART_SIZE           184u
#define IF_CHAIN_PART_SIZE            208u
#define DEFERRED_BLOCK_SIZE           24u
#define INLINE_ENTRY_SIZE             24u  // the 24-byte array of an inlined scope
#define BYTECODE_INSTRUCTION_SIZE     160u
#define STRUCT_RELOCATION_ENTRY_SIZE  32u
#define CALL_LIST_ENTRY_SIZE          8u

// The bytecode array is one block of this many instructions, taken once at start-up.
#define BYTECODE_CAPACITY             1048576u
#define BYTECODE_MEMORY               167772160ull  // 0xA000000

constexpr u64 pool_page_octets(u64 element, u64 per_bucket, u64 buckets) {
    return buckets * (element * per_bucket + sizeof(Memory_Pool_Bucket)) + sizeof(Memory_Pool_Page);
}

static_assert(pool_page_octets(88, NUM_TOKENS_PER_BUCKET, NUM_TOKEN_BUCKETS_PER_PAGE) == TOKENS_PAGE_MEMORY);
static_assert(pool_page_octets(432, NUM_INSTRUCTIONS_PER_BUCKET, NUM_INSTRUCTION_BUCKETS_PER_PAGE) == INSTRUCTIONS_PAGE_MEMORY);
static_assert(pool_page_octets(800, NUM_SCOPES_PER_BUCKET, NUM_SCOPE_BUCKETS_PER_PAGE) == SCOPES_PAGE_MEMORY);
static_assert(pool_page_octets(512, NUM_IDENTIFIERS_PER_BUCKET, NUM_IDENTIFIER_BUCKETS_PER_PAGE) <= IDENTIFIERS_PAGE_MEMORY);
static_assert(pool_page_octets(INLINED_RETURN_VALUE_SIZE, NUM_INLINED_RETURN_VALUES_PER_BUCKET,
                               NUM_INLINED_RETURN_VALUE_BUCKETS_PER_PAGE) == INLINED_RETURN_VALUES_PAGE_MEMORY);
static_assert(pool_page_octets(CONDITION_PART_SIZE, NUM_CONDITION_PARTS_PER_BUCKET,
                               NUM_CONDITION_PART_BUCKETS_PER_PAGE) == CONDITION_PARTS_PAGE_MEMORY);
static_assert(pool_page_octets(IF_CHAIN_PART_SIZE, NUM_IF_CHAIN_PARTS_PER_BUCKET,
                               NUM_IF_CHAIN_PART_BUCKETS_PER_PAGE) == IF_CHAIN_PART_PAGE_MEMORY);
static_assert(pool_page_octets(88, NUM_DEBUG_IDENTIFIERS_PER_BUCKET, NUM_DEBUG_IDENTIFIER_BUCKETS_PER_PAGE) == DEBUG_IDENTIFIERS_PAGE_MEMORY);
static_assert(pool_page_octets(96, NUM_DEBUG_SCOPES_PER_BUCKET, NUM_DEBUG_SCOPE_BUCKETS_PER_PAGE) == DEBUG_SCOPES_PAGE_MEMORY);
static_assert(COMPILER_STATIC_STRINGS_MEMORY == STATIC_STRINGS_BUCKET_SIZE + DATA_SECTION_BUCKET_HEADER_SIZE);
static_assert(CONSTANT_DATA_PAGE_MEMORY == CONSTANT_DATA_BUCKET_SIZE + DATA_SECTION_BUCKET_HEADER_SIZE);
static_assert(GLOBAL_DATA_PAGE_MEMORY == GLOBAL_DATA_BUCKET_SIZE + DATA_SECTION_BUCKET_HEADER_SIZE);
static_assert(TOKENS_PAGE_MEMORY + COMPILER_STATIC_STRINGS_MEMORY + CONSTANT_DATA_PAGE_MEMORY + GLOBAL_DATA_PAGE_MEMORY +
              REAL_STRINGS_MEMORY + COMPILER_OUTPUT_MEMORY + INSTRUCTIONS_PAGE_MEMORY + SCOPES_PAGE_MEMORY +
              IDENTIFIERS_PAGE_MEMORY + INLINED_RETURN_VALUES_PAGE_MEMORY + CONDITION_PARTS_PAGE_MEMORY +
              IF_CHAIN_PART_PAGE_MEMORY == COMPILER_CARVED_MEMORY);
static_assert(COMPILER_CARVED_MEMORY + DEBUG_IDENTIFIERS_PAGE_MEMORY + DEBUG_SCOPES_PAGE_MEMORY == COMPILER_MEMORY);
static_assert(BYTECODE_MEMORY == (u64)BYTECODE_CAPACITY * BYTECODE_INSTRUCTION_SIZE);
