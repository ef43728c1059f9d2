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
// - watched: the recompiles of the 90k layer in an editor's pieces as they run (the frame
//   driver's recompile on the main thread, the file watcher's thread beside it), after
//   custom.8 is touched three times: each one's wall time, the CPU of every thread and of
//   the whole process while it compiled, the watcher's above all.
// Minimum and median of the runs; ratios are of the minimums, the cold one also of the CPU
// time (user and system) of both processes, which the machine's other load moves less. The "empty" layer (support
// sources only) gives the fixed cost, which the growth figure takes off before it compares
// the time per line at 270k with the time per line at 9k.
//   bench_layer_compile                  every layer
//   bench_layer_compile LINES...         generated layers of these sizes only
//   bench_layer_compile --watched [LINES]  the watched recompiles only (90k lines by default)
//   bench_layer_compile --compile DIR N  (the child) compiles DIR/custom.8, then N times
//                                        again, and prints each time in seconds
//   bench_layer_compile --watch DIR N    (the child) loads DIR/custom.8, starts the watcher,
//                                        then touches it N times and prints each recompile
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
#include "shell/shell.h"

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

//~ The child of the watched recompiles: the editor's pieces in one process

// A thread's CPU time so far in seconds: the scheduler's nanoseconds where the kernel keeps
// them, else the clock ticks of its user and system time.
f64 thread_cpu_seconds(pid_t tid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/task/%d/schedstat", (int)tid);
    if (FILE* f = fopen(path, "r")) {
        unsigned long long ns = 0;
        int read = fscanf(f, "%llu", &ns);
        fclose(f);
        if (read == 1) return (f64)ns / 1e9;
    }
    snprintf(path, sizeof(path), "/proc/self/task/%d/stat", (int)tid);
    FILE* f = fopen(path, "r");
    if (!f) return 0;
    char line[1024];
    size_t n = fread(line, 1, sizeof(line) - 1, f);
    fclose(f);
    line[n] = 0;
    // After the name in parentheses: state is field 3, utime 14, stime 15.
    char* p = strrchr(line, ')');
    unsigned long long user = 0, system = 0;
    if (!p || sscanf(p + 2, "%*c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &user, &system) != 2) return 0;
    return (f64)(user + system) / (f64)sysconf(_SC_CLK_TCK);
}

struct Thread_Time {
    pid_t tid;
    f64 cpu;
};

std::vector<Thread_Time> every_thread_time() {
    std::vector<Thread_Time> times;
    DIR* d = opendir("/proc/self/task");
    if (!d) return times;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        pid_t tid = (pid_t)atoi(e->d_name);
        times.push_back({tid, thread_cpu_seconds(tid)});
    }
    closedir(d);
    std::sort(times.begin(), times.end(), [](const Thread_Time& a, const Thread_Time& b) { return a.tid < b.tid; });
    return times;
}

f64 cpu_of(const std::vector<Thread_Time>& times, pid_t tid) {
    for (const Thread_Time& t : times) {
        if (t.tid == tid) return t.cpu;
    }
    return 0;
}

f64 process_cpu_seconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return (f64)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + (f64)usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

b8 recompile_asked() { return __atomic_load_n(&custom_layer.recompile_request, __ATOMIC_ACQUIRE) != 0; }

// Prints one line a recompile: "wall process watcher main" in seconds, then "tid:cpu" of
// every thread.
int recompile_while_watched(const char* directory, int recompiles) {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    executable_filepath = String{(u8*)directory, (s64)strlen(directory)};
    if (!init_compiler(executable_filepath)) return 1;
    init_logging();
    static std::string logs = std::string(directory) + "/logs";
    set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
    init_custom_layer();
    init_tabs();
    setup_foreign_routines_table();
    connect_parser_routines();
    if (!load_custom_layer(0)) {
        fprintf(stderr, "the first compile failed\n");
        return 1;
    }

    std::vector<Thread_Time> before_watcher = every_thread_time();
    if (!start_file_watcher()) return 1;
    // The watcher is the thread that was not there before.
    pid_t watcher = 0;
    for (const Thread_Time& t : every_thread_time()) {
        b8 known = false;
        for (const Thread_Time& b : before_watcher) known |= b.tid == t.tid;
        if (!known) watcher = t.tid;
    }
    if (!watcher) return 1;

    std::string custom = std::string(directory) + "/custom.8";
    for (int i = 0; i < recompiles; i++) {
        tmp_reset();
        // A new modification time, as `touch` gives it; the watcher notices within its interval.
        usleep(300000);
        if (utimensat(AT_FDCWD, custom.c_str(), nullptr, 0) != 0) return 1;
        f64 deadline = now_seconds() + 30;
        while (!recompile_asked()) {
            if (now_seconds() > deadline) {
                fprintf(stderr, "the watcher never asked for a recompile\n");
                return 1;
            }
            usleep(1000);
        }
        std::vector<Thread_Time> before = every_thread_time();
        f64 process_before = process_cpu_seconds();
        f64 start = now_seconds();
        recompile_custom_layer_if_asked();
        f64 wall = now_seconds() - start;
        f64 process = process_cpu_seconds() - process_before;
        std::vector<Thread_Time> after = every_thread_time();
        if (compile_errors.count) {
            fprintf(stderr, "the recompile failed\n");
            return 1;
        }
        printf("%.9f %.9f %.9f %.9f", wall, process, cpu_of(after, watcher) - cpu_of(before, watcher),
               cpu_of(after, getpid()) - cpu_of(before, getpid()));
        for (const Thread_Time& t : after) {
            const char* role = t.tid == getpid() ? "main" : t.tid == watcher ? "watcher" : "other";
            printf(" %s:%d:%.9f", role, (int)t.tid, t.cpu - cpu_of(before, t.tid));
        }
        printf("\n");
        fflush(stdout);
    }
    return 0;
}

//~ The parent: runs children and measures them

struct Run {
    f64 wall;  // seconds from the spawn to the reap
    f64 cpu;   // the child's user + system seconds
    f64 peak;  // the child's peak resident memory, MB
    std::vector<f64> printed;  // what the child printed, one number a line
    std::string text;          // and as it printed it
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
    run.text = text;
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

// The child's lines as a table: per recompile its wall time, the process's CPU, each
// thread's, and the share of the process's CPU the watcher took.
void measure_watched_recompiles(u64 lines, int recompiles) {
    Run run = run_process({self_path, "--watch", directory, std::to_string(recompiles)});
    if (!run.ok) {
        printf("watched %lluk: the run failed (run `%s --watch %s %d` to see why)\n",
               (unsigned long long)((lines + 500) / 1000), self_path.c_str(), directory.c_str(), recompiles);
        return;
    }
    printf("Watched recompiles of the %lluk layer after `touch custom.8`: wall time and CPU while it compiled, ms\n",
           (unsigned long long)((lines + 500) / 1000));
    int i = 0;
    for (char* line = strtok(run.text.data(), "\n"); line; line = strtok(nullptr, "\n")) {
        f64 wall, process, watcher, main_thread;
        int used = 0;
        if (sscanf(line, "%lf %lf %lf %lf%n", &wall, &process, &watcher, &main_thread, &used) != 4) continue;
        printf("  recompile %d: wall %6.1f  cpu: process %6.1f, watcher %6.1f (%4.1f%% of the process)  per thread:",
               ++i, wall * 1e3, process * 1e3, watcher * 1e3, process > 0 ? 100.0 * watcher / process : 0.0);
        char role[16];
        int tid, n = 0;
        f64 cpu;
        for (char* p = line + used; sscanf(p, " %15[a-z]:%d:%lf%n", role, &tid, &cpu, &n) == 3; p += n) {
            printf(" %s %.1f", role, cpu * 1e3);
        }
        printf("\n");
    }
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
    if (argc == 4 && strcmp(argv[1], "--watch") == 0) return recompile_while_watched(argv[2], atoi(argv[3]));

    b8 watched_only = argc > 1 && strcmp(argv[1], "--watched") == 0;
    std::vector<u64> sizes = {9000, 90000, 270000};
    if (watched_only) {
        sizes = {argc > 2 ? (u64)atoll(argv[2]) : 90000};
    } else if (argc > 1) {
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

    for (const char* name : {"inject.8", "api.8", "custom.8", "syntax.8", "themes_latest.8"}) copy_layer_file(name);
    if (watched_only) {
        generate_layer(sizes[0]);
        measure_watched_recompiles(count_lines(directory + "/custom.8"), 3);
        std::filesystem::remove_all(directory);
        return 0;
    }
    printf("Cold: a fresh process through the written image; warm: a recompile in a running process; tcc -c: "
           "its C twin. min / median ms.\n");
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
    generate_layer(90000);
    measure_watched_recompiles(count_lines(directory + "/custom.8"), 3);
    std::filesystem::remove_all(directory);
    return 0;
}
