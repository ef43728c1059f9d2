// Cost per operation of the general-purpose allocator (each size class and a mapping of
// its own), temporary allocation, pool buckets and dynamic-array appends.
#include <benchmark/benchmark.h>

#include "foundation/memory.h"

static void gp_allocate_and_free(benchmark::State& state) {
    u64 size = (u64)state.range(0);
    for (auto _ : state) {
        Gp_Allocation a;
        gp_allocate(&a, size);
        benchmark::DoNotOptimize(a.memory);
        gp_free(&a);
    }
}
BENCHMARK(gp_allocate_and_free)->Arg(64)->Arg(512)->Arg(4096)->Arg(1 << 20)->Arg(16 << 20);

// Many live blocks, so first fit walks a busy map.
static void gp_allocate_with_live_blocks(benchmark::State& state) {
    static Gp_Allocation live[200];
    for (Gp_Allocation& a : live) gp_allocate(&a, 200);
    u32 i = 0;
    for (auto _ : state) {
        Gp_Allocation* a = &live[i++ % 200];
        gp_free(a);
        gp_allocate(a, 200);
        benchmark::DoNotOptimize(a->memory);
    }
    for (Gp_Allocation& a : live) gp_free(&a);
}
BENCHMARK(gp_allocate_with_live_blocks);

static void tmp_allocate_block(benchmark::State& state) {
    u64 size = (u64)state.range(0);
    u64 room = tmp_get_slot()->size;
    tmp_reset();
    for (auto _ : state) {
        if (tmp_get_used() + size > room) tmp_reset();  // the owner's loop resets its arena
        benchmark::DoNotOptimize(tmp_allocate(size));
    }
    tmp_reset();
}
BENCHMARK(tmp_allocate_block)->Arg(32)->Arg(1024);

static void pool_bucket_array_append(benchmark::State& state) {
    static Memory_Pool pool;
    struct Record { Record* next; u64 value[7]; };
    _init_memory_pool(&pool, sizeof(Record), 256, 32, nullptr, os_allocate_read_write);
    Bucket_Array array;
    init_bucket_array(&array, &pool);
    for (auto _ : state) {
        if (array.count == 1000000) bucket_array_reset(&array);
        benchmark::DoNotOptimize(bucket_array_append(&array));
    }
}
BENCHMARK(pool_bucket_array_append);

static void dynamic_array_append(benchmark::State& state) {
    Dynamic_Array a;
    init_dynamic_array(&a, sizeof(u64));
    for (auto _ : state) {
        if (a.count == 1000000) a.count = 0;
        *(u64*)dynamic_array_add_fast(&a) = a.count;
    }
    dynamic_array_free(&a);
}
BENCHMARK(dynamic_array_append);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
