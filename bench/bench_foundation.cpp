// Figures for the strings part of the foundation: the Meow hash per octet, the natural-order
// sort of 100k file names, and the cost of one log line (alone and with eight threads).

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "foundation/foundation.h"

static void BM_MeowHash(benchmark::State& state) {
    std::vector<u8> data((size_t)state.range(0));
    for (size_t i = 0; i < data.size(); i++) data[i] = (u8)(i * 31 + 7);
    for (auto _ : state) benchmark::DoNotOptimize(MeowHash(data.size(), data.data()));
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
    // Seconds per octet, printed with an SI prefix ("0.02ns").
    state.counters["time_per_byte"] = benchmark::Counter((double)state.range(0),
                                                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MeowHash)->Arg(11)->Arg(64)->Arg(1024)->Arg(64 * 1024)->Arg(1024 * 1024);

static b8 natural_less(void* a, void* b) { return string_sort_by_unicode_order_asc(*(String*)a, *(String*)b); }

static void BM_NaturalSort100kNames(benchmark::State& state) {
    std::mt19937 random(1);
    static const char* stems[] = {"file", "image_", "Report ", "src/module", "log "};
    std::vector<std::string> names;
    for (int i = 0; i < 100000; i++) {
        names.push_back(std::string(stems[random() % 5]) + std::to_string(random() % 5000) + "_v" +
                        std::to_string(random() % 20) + ".txt");
    }
    std::vector<String> unsorted;
    for (const std::string& n : names) unsorted.push_back(String{(u8*)n.data(), (s64)n.size()});
    std::vector<String> strings;
    for (auto _ : state) {
        state.PauseTiming();
        strings = unsorted;
        state.ResumeTiming();
        general_quick_sort(strings.data(), (u32)strings.size(), sizeof(String), natural_less);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * 100000);
}
BENCHMARK(BM_NaturalSort100kNames)->Unit(benchmark::kMillisecond);

// Includes the amortised cost of writing the buffer to a file each time it fills.
static void BM_LogAppend(benchmark::State& state) {
    tmp_claim_slot();
    for (auto _ : state) {
        tmp_reset();
        add_log(0, LOG_INFO, "Opened '%s' (%'lld octets) in %u ms", "/home/user/src/quarn/editor/file.cpp", 123456ll, 7u);
    }
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_LogAppend)->Threads(1)->Threads(8)->UseRealTime();

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR) || !init_logging()) return 1;
    char pattern[] = "/tmp/quarn_bench_logs_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    set_log_directory(String{(u8*)pattern, (s64)strlen(pattern)});

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
