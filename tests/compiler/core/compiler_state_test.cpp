#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "compiler/core/compiler_core.h"

static u32 count_resident_pages(u8* memory, u64 size) {
    u64 page = (u64)sysconf(_SC_PAGESIZE);
    u8* start = (u8*)((u64)memory & ~(page - 1));
    u64 pages = (u64)(memory + size - start + page - 1) / page;
    static u8 map[BYTECODE_MEMORY / 4096 + 2];
    if (pages > sizeof(map) || mincore(start, pages * page, map) != 0) return 0xFFFFFFFF;
    u32 resident = 0;
    for (u64 i = 0; i < pages; i++) resident += map[i] & 1;
    return resident;
}

TEST(CompilerState, CarvesItsRegionInTheFixedOrder) {
    ASSERT_NE(compiler_memory, nullptr);
    EXPECT_EQ((u64)compiler_memory % 64, 0u);
    EXPECT_EQ(__memory.used, (u64)(compiler_memory - __memory.base) + 32012992u);

    struct Row { const char* name; void* at; u64 offset; };
    const Row rows[] = {
        {"tokens", tokens_pool.first_page, 0},
        {"names", compiler_static_strings.first, 720944},
        {"constant data", constant_data_section.first, 1232960},
        {"global data", global_data_section.first, 2281552},
        {"string literals", real_strings_memory.memory, 3330144},
        {"output", compiler_output_memory.memory, 4378720},
        {"instructions", instructions_pool.first_page, 14864480},
        {"scopes", scopes_pool.first_page, 29053040},
        {"identifiers", identifiers_pool.first_page, 29872768},
        {"inlined return values", inlined_return_values_pool.first_page, 31515280},
        {"condition parts", condition_parts_pool.first_page, 31552160},
        {"if chain parts", if_chain_parts_pool.first_page, 31931056},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ((u8*)row.at, compiler_memory + row.offset);
    }
    EXPECT_EQ(tokens_pool.page_size, 720944u);
    EXPECT_EQ(identifiers_pool.page_size, 1052688u);
    EXPECT_EQ(compiler_static_strings.bucket_size, 512000u);
    EXPECT_EQ(compiler_output_memory.size, 10485760u);
}

TEST(CompilerState, BytecodeBlockIsMappedButNotResident) {
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    ASSERT_NE(bytecode->data, nullptr);
    EXPECT_EQ(bytecode->capacity, BYTECODE_CAPACITY);
    EXPECT_EQ(bytecode->element_size, BYTECODE_INSTRUCTION_SIZE);
    EXPECT_EQ(bytecode->storage.bucket, nullptr);  // a block of its own, which gp_free unmaps
    u32 resident = count_resident_pages(bytecode->data, BYTECODE_MEMORY);
    EXPECT_LT(resident, 256u) << "of " << BYTECODE_MEMORY / 4096 << " pages";
}

TEST(CompilerState, ResetEmptiesEverythingAndMakesAGlobalScope) {
    ASSERT_TRUE(reset_compiler());
    Compiler_State* state = &global_compiler_state;
    Scope* first_global = state->global_scope;

    // Fill a little of everything a compile touches.
    print_error("one");
    ASSERT_NE(data_section_allocate(&constant_data_section, 100), nullptr);
    ASSERT_NE(bump_region_allocate(&real_strings_memory, 10), nullptr);
    ASSERT_NE(_add_a_scope(state->global_scope, 0, Trace{}), nullptr);
    ASSERT_NE(add_identifier(state->global_scope, (u8*)"x", 1, IDENTIFIER_KIND_VARIABLE, Trace{}), nullptr);
    ASSERT_NE(dynamic_array_add_fast(&state->global_registers), nullptr);
    state->constant_data_size = 24;
    state->target_os = TARGET_OS_WINDOWS;

    ASSERT_TRUE(reset_compiler());
    EXPECT_EQ(compile_errors.count, 0u);
    EXPECT_EQ(constant_data_section.first->used, 0u);
    EXPECT_EQ(real_strings_memory.used, 0u);
    EXPECT_EQ(state->global_registers.count, 0u);
    EXPECT_EQ(state->constant_data_size, 0u);
    EXPECT_EQ(state->all_scopes.count, 1u);
    EXPECT_EQ(state->global_scope, first_global);  // the pool hands its first element out again
    EXPECT_EQ(state->global_scope->variables.count, 0u);
    EXPECT_EQ(state->global_scope->parent, nullptr);
    EXPECT_EQ(get_identifier(state->global_scope, (u8*)"x", 1), nullptr);
    EXPECT_EQ(state->target_platform, TARGET_PLATFORM_AMD64);
    EXPECT_EQ(state->target_os, TARGET_OS_LINUX);
    EXPECT_EQ(state->address_size, 8);
    EXPECT_EQ(state->float_constants[0].index, INVALID_REGISTER_ID.index);
}

TEST(CompilerState, DataSectionsStayPackedAndGrowWithoutOverrun) {
    ASSERT_TRUE(reset_compiler());
    Data_Section* section = &global_data_section;
    u8* a = data_section_allocate(section, 1);
    u8* b = data_section_allocate(section, 8);
    EXPECT_EQ(b, a + 1);  // staging is packed; only image offsets are aligned

    // What does not fit in the current bucket goes to a new one; nothing is split.
    u8* rest = data_section_allocate(section, GLOBAL_DATA_BUCKET_SIZE - 9);
    EXPECT_EQ(rest, b + 8);
    u8* next = data_section_allocate(section, 16);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(section->current, section->first);
    memset(next, 1, 16);

    // A request larger than a bucket gets a bucket of its own, wholly writable.
    u64 big = 3ull * GLOBAL_DATA_BUCKET_SIZE;
    u8* large = data_section_allocate(section, big);
    ASSERT_NE(large, nullptr);
    memset(large, 2, big);
    EXPECT_EQ(next[15], 1);

    // Past the section's cap the compile fails with a report instead.
    u32 errors = compile_errors.count;
    EXPECT_EQ(data_section_allocate(section, DATA_SECTION_MAX_TOTAL), nullptr);
    ASSERT_EQ(compile_errors.count, errors + 1);
    Compile_Error* error = (Compile_Error*)compile_errors.data + errors;
    EXPECT_STREQ((char*)error->message, "The compiler ran out of memory for global data.");

    // The next compile reuses the chain from its first bucket.
    ASSERT_TRUE(reset_compiler());
    EXPECT_EQ(data_section_allocate(section, 1), a);
}

TEST(CompilerState, FullRegionFailsWithAReport) {
    ASSERT_TRUE(reset_compiler());
    EXPECT_NE(bump_region_allocate(&real_strings_memory, REAL_STRINGS_MEMORY), nullptr);
    EXPECT_EQ(bump_region_allocate(&real_strings_memory, 1), nullptr);
    ASSERT_EQ(compile_errors.count, 1u);
    EXPECT_STREQ((char*)((Compile_Error*)compile_errors.data)->message,
                 "The compiler ran out of memory for string literals.");
    String copy = copy_to_compiler_static_strings(STR("@ u8"));
    EXPECT_EQ(copy.count, 4);
    EXPECT_EQ(memcmp(copy.data, "@ u8", 4), 0);
}
