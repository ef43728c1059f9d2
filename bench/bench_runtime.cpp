// What the layer runtime costs: loading a current "custom.8b" at start (read, check, hash,
// rebase, #on_load) for images of 64 KiB to 4 MiB with a pointer every 64 octets, and one
// foreign call's round trip from layer code through the dispatcher.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "compiler/core/compiler_core.h"
#include "foundation/foundation.h"

namespace {

std::string directory;

void put_u32(std::vector<u8>* image, u64 at, u32 v) { store_u32(image->data() + at, v); }

// An image laid out as the writer lays it: constants, no globals, the code, its slots,
// a constant relocation every 64 octets, and custom.8 as its one source.
std::vector<u8> make_image(u32 constant_size, const std::vector<u8>& code, const std::vector<u64>& slots) {
    std::string source = directory + "/custom.8";
    u64 size, time;
    stat_layer_source(source.c_str(), &size, &time);
    u32 relocations = constant_size / 64;
    u32 code_offset = (u32)align_up(128 + constant_size, 32);
    u32 slot_offset = code_offset + (u32)code.size();
    u32 table = slot_offset + 8 * (u32)slots.size();
    u32 names = table + 40 * relocations;
    u32 sources = names + (u32)source.size();
    std::vector<u8> image(sources + 32, 0);
    Compiled_Layer_Header h = {};
    h.magic = OUTPUT_MAGIC_ID;
    h.format_version = COMPILED_LAYER_FORMAT_VERSION;
    h.cpu = BC_CPU_AMD64;
    h.editor_version[0] = EDITOR_VERSION.major;
    h.editor_version[1] = EDITOR_VERSION.minor;
    h.editor_version[2] = EDITOR_VERSION.patch;
    h.constant = COMPILED_LAYER_CONSTANT;
    h.constant_data_offset = 128;
    h.constant_data_size = constant_size;
    h.global_data_offset = code_offset;
    h.code_offset = code_offset;
    h.code_size = (u32)code.size();
    h.foreign_call_slot_offset = slot_offset;
    h.foreign_call_slot_count = (u32)slots.size();
    h.constant_relocation_count = relocations;
    h.constant_relocation_offset = table;
    h.global_relocation_offset = names;
    h.source_table_offset = sources;
    h.source_count = 1;
    h.on_load_entry = code_offset;
    h.flags = LAYER_IMAGE_HAS_ON_LOAD;
    memcpy(image.data(), &h, sizeof(h));
    memcpy(image.data() + code_offset, code.data(), code.size());
    for (u32 i = 0; i < slots.size(); i++) store_u64(image.data() + slot_offset + 8 * i, slots[i]);
    for (u32 i = 0; i < relocations; i++) {
        put_u32(&image, table + 40 * i, 64 * i);
        image[table + 40 * i + 32] = LAYER_AREA_CONSTANT_DATA;
    }
    memcpy(image.data() + names, source.data(), source.size());
    Layer_Source_Entry row = {names, source.size(), time, size};
    memcpy(image.data() + sources, &row, sizeof(row));
    store_u64(image.data() + offsetof(Compiled_Layer_Header, image_hash), layer_image_hash(image.data(), image.size()));
    return image;
}

void write_image(const std::vector<u8>& image) {
    FILE* f = fopen((directory + "/custom.8b").c_str(), "wb");
    fwrite(image.data(), 1, image.size(), f);
    fclose(f);
}

b8 set_up() {
    static b8 ready;
    if (ready) return true;
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("/nonexistent"))) return false;
    setup_foreign_routines_table();
    connect_parser_routines();
    init_custom_layer();
    char pattern[] = "/tmp/quarn_bench_runtime_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    directory = pattern;
    executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
    init_logging();  // the log lines of every load stay in its buffer, out of the figures
    FILE* f = fopen((directory + "/custom.8").c_str(), "wb");
    fputs("#on_load {}\n", f);
    fclose(f);
    ready = amd64_missing_cpu_features() == 0;
    return ready;
}

void load_current_image(benchmark::State& state) {
    if (!set_up()) return state.SkipWithError("no layer can run here");
    u32 constant_size = (u32)state.range(0);
    write_image(make_image(constant_size, {0xC3}, {}));
    for (auto _ : state) {
        if (!compile_custom_layer(1)) return state.SkipWithError("the image was not loaded");
        tmp_reset();
    }
    state.SetBytesProcessed((s64)state.iterations() * constant_size);
    state.counters["relocations"] = constant_size / 64;
}
BENCHMARK(load_current_image)->Arg(64 << 10)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMicrosecond);

// #on_load calls exit_program a million times: push rbx; mov ebx, n; the call; dec ebx;
// jnz; pop rbx; ret. The push leaves RSP 16-aligned at each call, as generated code does.
void foreign_call_round_trip(benchmark::State& state) {
    if (!set_up()) return state.SkipWithError("no layer can run here");
    const u32 calls = 1000000;
    std::vector<u8> code = {0x53, 0xBB, 0, 0, 0, 0};
    store_u32(&code[2], calls);
    u32 loop = (u32)code.size();
    code.insert(code.end(), {0x48, 0xC7, 0xC6, ROUTINE_EXIT_PROGRAM, 0, 0, 0});
    u64 slot = code.size() + 2;
    code.insert(code.end(), {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0x48, 0xFF, 0xD0, 0xFF, 0xCB, 0x0F, 0x85, 0, 0, 0, 0});
    store_u32(&code[code.size() - 4], (u32)(loop - code.size()));
    code.insert(code.end(), {0x5B, 0xC3});
    write_image(make_image(64, code, {slot}));
    for (auto _ : state) {
        if (!compile_custom_layer(1)) return state.SkipWithError("the image was not loaded");
    }
    state.SetItemsProcessed((s64)state.iterations() * calls);
}
BENCHMARK(foreign_call_round_trip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
