// Figures for the shell's per-frame costs: the information panel asks for the machine's
// description every frame while no tab is open, and the tab bar walks every tab each frame.

#include <benchmark/benchmark.h>
#include <string.h>

#include "shell/shell.h"

static void BM_ComputerInfo(benchmark::State& state) {
    Computer_Info info;
    for (auto _ : state) {
        u64 used = tmp_get_used();
        os_get_computer_info(&info);
        benchmark::DoNotOptimize(info.usable_ram);
        tmp_set_used(used);
    }
}
BENCHMARK(BM_ComputerInfo)->Unit(benchmark::kMicrosecond);

static void BM_CpuModel(benchmark::State& state) {
    for (auto _ : state) {
        u64 used = tmp_get_used();
        benchmark::DoNotOptimize(os_get_cpu_model_c_string());
        tmp_set_used(used);
    }
}
BENCHMARK(BM_CpuModel)->Unit(benchmark::kMicrosecond);

// A drag over a bar of this many tabs: every tab's slot and title, as one frame does them.
static void BM_TabBarSlotsAndTitles(benchmark::State& state) {
    dynamic_array_free(&tabs);
    init_tabs();
    Editor_File* file = add_a_file();
    const char name[] = "a_rather_long_file_name.cpp";
    memcpy(file->name_storage, name, sizeof(name) - 1);
    file->name = String{file->name_storage, (s64)sizeof(name) - 1};
    for (s64 i = 0; i < state.range(0); i++) {
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        add_a_tab(TAB_FILE, file);
    }
    Tab_Bar_Geometry g = {};
    g.bar_position = v2{0, 0};
    g.bar_size = v2{1920, 30};
    g.tab_width = 150;
    Tab* dragged = get_tab((u32)state.range(0) / 2);
    f32 x = 0;
    for (auto _ : state) {
        assign_drag_slots(dragged, x, &g);
        for (u32 i = 0; i < tabs.count; i++) refresh_file_tab_title(get_tab(i));
        x = x > 1900 ? 0 : x + 7;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TabBarSlotsAndTitles)->Arg(10)->Arg(100);

int main(int argc, char** argv) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
