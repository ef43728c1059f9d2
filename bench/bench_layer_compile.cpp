// The whole compile as the editor runs it, from sources to a written "custom.8b", on the
// shipped layer and on generated layers of ~9k, ~90k and ~270k lines: small sub-programs
// of nine lines each (a local array, arithmetic, a loop over part of it, a call),
// every one called from #on_load, with the same program in C beside it for `tcc -c`.
//
// For each layer:
// - cold: a fresh process (this program with --compile) that starts, compiles once through
//   machine code and the written image, and exits; wall time from the spawn to the reap,
//   with the child's user+system CPU and its peak resident memory;
// - warm: the recompiles that follow a first compile in one process, as the editor
//   recompiles a changed layer;
// - tcc: `tcc -c` of the C twin, a fresh process too, run alternately with the cold compile
//   so that the machine's other load falls on both alike.
// Minimum and median of the runs; ratios are of the minimums, the cold one also of the CPU
// time (user and system) of both processes, which the machine's other load moves less. The "empty" layer (support
// sources only) gives the fixed cost, which the growth figure takes off before it compares
// the time per line at 270k with the time per line at 9k.
//   bench_layer_compile                  every layer
//   bench_layer_compile LINES...         generated layers of these sizes only
//   bench_layer_compile --compile DIR N  (the child) compiles DIR/custom.8, then N times
//                                        again, and prints each time in seconds
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "compiler/pipeline/compile_pipeline.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "runtime/runtime.h"

extern char** environ;

namespace {

// Goals at 90k lines, and of the growth from 9k to 270k.
const f64 COLD_GOAL = 5.0;
const f64 WARM_GOAL = 3.0;
const f64 GROWTH_GOAL = 1.25;
const f64 PEAK_GOAL_MB = 150.0;

f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

void write_file(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size()) abort();
    fclose(f);
}

u64 count_lines(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    u64 lines = 0;
    for (int c; f && (c = fgetc(f)) != EOF;) lines += c == '\n';
    if (f) fclose(f);
    return lines;
}

//~ The child: one process that compiles

int compile_in_this_process(const char* directory, int again) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    executable_filepath = String{(u8*)directory, (s64)strlen(directory)};
    if (!init_compiler(executable_filepath)) return 1;
    init_logging();  // the compile's log lines stay in the buffer
    setup_foreign_routines_table();
    connect_parser_routines();
    std::string custom = std::string(directory) + "/custom.8";
    for (int i = 0; i <= again; i++) {
        Version_Info version = EDITOR_VERSION;
        tmp_reset();
        compile_errors.count = 0;
        f64 start = now_seconds();
        b8 ok = compile_from_file((u8*)custom.data(), custom.size(), &version);
        f64 took = now_seconds() - start;
        if (!ok) {
            const char* message = compile_errors.count ? (char*)((Compile_Error*)compile_errors.data)->message : "";
            fprintf(stderr, "the compile failed: %s\n", message);
            return 1;
        }
        printf("%.9f\n", took);
    }
    return 0;
}

//~ The parent: runs children and measures them

struct Run {
    f64 wall;  // seconds from the spawn to the reap
    f64 cpu;   // the child's user + system seconds
    f64 peak;  // the child's peak resident memory, MB
    std::vector<f64> printed;  // what the child printed, one number a line
    b8 ok;
};

Run run_process(std::vector<std::string> arguments) {
    Run run = {};
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t child;
    f64 start = now_seconds();
    int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (error) {
        close(out[0]);
        return run;
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) text.append(buffer, (size_t)n);
    close(out[0]);
    int status = 0;
    rusage usage = {};
    wait4(child, &status, 0, &usage);
    run.wall = now_seconds() - start;
    run.cpu = (f64)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + (f64)usage.ru_stime.tv_sec +
              usage.ru_stime.tv_usec / 1e6;
    run.peak = usage.ru_maxrss / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (char* p = text.data(); *p;) {
        char* end;
        f64 value = strtod(p, &end);
        if (end == p) break;
        run.printed.push_back(value);
        p = end;
    }
    return run;
}

struct Figures {
    f64 min, median;
};

Figures figures_of(std::vector<f64> values) {
    if (values.empty()) return {0, 0};
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

std::string self_path;
std::string directory;

struct Layer_Figures {
    u64 lines;
    Figures cold, cold_cpu, warm, tcc, tcc_cpu;
    f64 peak;
    b8 ok, has_tcc;
};

// Cold compiles alternate with tcc; then one process recompiles warm_runs times.
Layer_Figures measure(u64 lines, const std::string& c_file, int cold_runs, int warm_runs) {
    Layer_Figures f = {};
    f.lines = lines;
    std::vector<f64> cold, cold_cpu, tcc, tcc_cpu;
    f64 peak = 0;
    f.has_tcc = !c_file.empty();
    std::string object = directory + "/program.o";  // a real file: tcc as root would replace /dev/null
    for (int i = 0; i < cold_runs; i++) {
        Run run = run_process({self_path, "--compile", directory, "0"});
        if (!run.ok) return f;
        cold.push_back(run.wall);
        cold_cpu.push_back(run.cpu);
        peak = std::max(peak, run.peak);
        if (f.has_tcc) {
            Run c = run_process({"tcc", "-c", c_file, "-o", object});
            if (!c.ok) {
                printf("  tcc -c failed (`make deps` installs tcc): the comparison is left out.\n");
                f.has_tcc = false;
            } else {
                tcc.push_back(c.wall);
                tcc_cpu.push_back(c.cpu);
            }
        }
    }
    Run warm = run_process({self_path, "--compile", directory, std::to_string(warm_runs)});
    if (!warm.ok || warm.printed.size() < 2) return f;
    warm.printed.erase(warm.printed.begin());  // the first compile of that process
    f.cold = figures_of(cold);
    f.cold_cpu = figures_of(cold_cpu);
    f.warm = figures_of(warm.printed);
    f.tcc = figures_of(tcc);
    f.tcc_cpu = figures_of(tcc_cpu);
    f.peak = std::max(peak, warm.peak);
    f.ok = true;
    return f;
}

void print_layer(const char* name, const Layer_Figures& f) {
    if (!f.ok) {
        printf("%-14s the compile failed (run `%s --compile %s 0` to see why)\n", name, self_path.c_str(),
               directory.c_str());
        return;
    }
    printf("%-15s %6llu lines  cold %7.1f / %7.1f ms, cpu %7.1f  warm %7.1f / %7.1f ms", name,
           (unsigned long long)f.lines, f.cold.min * 1e3, f.cold.median * 1e3, f.cold_cpu.min * 1e3, f.warm.min * 1e3,
           f.warm.median * 1e3);
    if (f.has_tcc) {
        printf("  tcc -c %5.1f / %5.1f ms, cpu %5.1f  cold %4.1fx (cpu %4.1fx)  warm %4.1fx", f.tcc.min * 1e3,
               f.tcc.median * 1e3, f.tcc_cpu.min * 1e3, f.cold.min / f.tcc.min, f.cold_cpu.min / f.tcc_cpu.min,
               f.warm.min / f.tcc.min);
    }
    printf("  peak %6.1f MB\n", f.peak);
}

void copy_layer_file(const char* name) {
    std::filesystem::copy_file(std::string(QUARN_SOURCE_DIR) + "/layer/" + name, directory + "/" + name,
                               std::filesystem::copy_options::overwrite_existing);
}

// Nine lines a sub-program, with its call in #on_load; the C twin says the same.
void generate_layer(u64 lines) {
    u64 count = lines / 9;
    std::string source = "$step: (x: s64) -> s64 = {\n    return x * 2 + 1;\n};\n";
    std::string c = "long total;\nlong step(long x) {\n    return x * 2 + 1;\n}\n";
    for (u64 i = 0; i < count; i++) {
        std::string n = std::to_string(i), k = std::to_string(i % 7 + 2);
        source += "$sub_" + n + ": (a: s64, b: s64) -> s64 = {\n"
                  "    cells: [4] s64;\n"
                  "    cells[0] = a;\n"
                  "    cells[1] = b * " + k + ";\n"
                  "    c: s64 = 0;\n"
                  "    for 0, 2 -> i { c += cells[i] * i; }\n"
                  "    return step(c) + " + n + ";\n"
                  "};\n";
        c += "long sub_" + n + "(long a, long b) {\n"
             "    long cells[4];\n"
             "    cells[0] = a;\n"
             "    cells[1] = b * " + k + ";\n"
             "    long c = 0;\n"
             "    for (long i = 0; i < 2; i++) { c += cells[i] * i; }\n"
             "    return step(c) + " + n + ";\n"
             "}\n";
    }
    source += "total: s64;\n#on_load {\n";
    c += "void on_load(void) {\n";
    for (u64 i = 0; i < count; i++) {
        std::string call = "    total += sub_" + std::to_string(i) + "(" + std::to_string(i) + ", 2);\n";
        source += call;
        c += call;
    }
    source += "}\n";
    c += "}\n";
    write_file(directory + "/custom.8", source);
    write_file(directory + "/program.c", c);
}

void print_goals(const Layer_Figures& empty, const std::vector<Layer_Figures>& layers) {
    const Layer_Figures* at_90k = 0;
    const Layer_Figures* smallest = 0;
    const Layer_Figures* largest = 0;
    for (const Layer_Figures& f : layers) {
        if (!f.ok) continue;
        if (f.lines >= 80000 && f.lines <= 100000) at_90k = &f;
        if (!smallest || f.lines < smallest->lines) smallest = &f;
        if (!largest || f.lines > largest->lines) largest = &f;
    }
    if (at_90k && at_90k->has_tcc) {
        f64 cold = at_90k->cold.min / at_90k->tcc.min, warm = at_90k->warm.min / at_90k->tcc.min;
        f64 cold_cpu = at_90k->cold_cpu.min / at_90k->tcc_cpu.min;
        printf("Goal at 90k lines: cold <= %.0fx tcc: %.1fx, by cpu %.1fx (%s); warm <= %.0fx tcc: %.1fx (%s); peak < "
               "%.0f MB: %.1f MB (%s)\n",
               COLD_GOAL, cold, cold_cpu, cold <= COLD_GOAL ? "met" : "not met", WARM_GOAL, warm,
               warm <= WARM_GOAL ? "met" : "not met", PEAK_GOAL_MB, at_90k->peak,
               at_90k->peak < PEAK_GOAL_MB ? "met" : "not met");
    }
    if (smallest && largest && smallest != largest) {
        // Time per line, with the fixed cost of the support sources (the empty layer) taken off.
        auto per_line = [&](f64 time, f64 fixed, u64 lines) { return (time - fixed) / (f64)lines; };
        f64 cold_small = per_line(smallest->cold.min, empty.ok ? empty.cold.min : 0, smallest->lines);
        f64 cold_large = per_line(largest->cold.min, empty.ok ? empty.cold.min : 0, largest->lines);
        f64 warm_small = per_line(smallest->warm.min, empty.ok ? empty.warm.min : 0, smallest->lines);
        f64 warm_large = per_line(largest->warm.min, empty.ok ? empty.warm.min : 0, largest->lines);
        f64 cold_growth = cold_large / cold_small, warm_growth = warm_large / warm_small;
        printf("Time per line beyond the empty layer, %lluk / %lluk lines: cold %.2f / %.2f us (%.2fx), warm %.2f / "
               "%.2f us (%.2fx); goal <= %.2fx: %s\n",
               (unsigned long long)(largest->lines / 1000), (unsigned long long)(smallest->lines / 1000),
               cold_large * 1e6, cold_small * 1e6, cold_growth, warm_large * 1e6, warm_small * 1e6, warm_growth,
               GROWTH_GOAL, cold_growth <= GROWTH_GOAL && warm_growth <= GROWTH_GOAL ? "met" : "not met");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--compile") == 0) return compile_in_this_process(argv[2], atoi(argv[3]));

    std::vector<u64> sizes = {9000, 90000, 270000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; i++) sizes.push_back((u64)atoll(argv[i]));
    }
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0) return 1;
    exe[n] = 0;
    self_path = exe;
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/quarn-bench-layer-XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    directory = pattern;

    printf("Cold: a fresh process through the written image; warm: a recompile in a running process; tcc -c: "
           "its C twin. min / median ms.\n");
    for (const char* name : {"inject.8", "api.8", "custom.8", "syntax.8", "themes_latest.8"}) copy_layer_file(name);
    u64 shipped_lines = 0;
    for (const char* name : {"inject.8", "api.8", "custom.8", "syntax.8", "themes_latest.8"}) {
        shipped_lines += count_lines(directory + "/" + name);
    }
    print_layer("shipped layer", measure(shipped_lines, "", 5, 10));

    write_file(directory + "/custom.8", "");
    Layer_Figures empty = measure(0, "", 5, 10);
    print_layer("empty layer", empty);

    std::vector<Layer_Figures> layers;
    for (u64 size : sizes) {
        generate_layer(size);
        u64 lines = count_lines(directory + "/custom.8");
        b8 large = lines > 150000;
        Layer_Figures f = measure(lines, directory + "/program.c", large ? 3 : 5, large ? 3 : 5);
        char name[32];
        snprintf(name, sizeof(name), "generated %lluk", (unsigned long long)((lines + 500) / 1000));
        print_layer(name, f);
        layers.push_back(f);
    }
    print_goals(empty, layers);
    std::filesystem::remove_all(directory);
    return 0;
}
