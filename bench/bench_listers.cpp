// The multi-file search over /usr/include, a rare and a common word, beside `grep -rF` and
// `rg -F --no-ignore --hidden` on the same tree and query, each timed as the best of a few
// warm runs with its own count: ours and rg count matches, grep counts matching lines;
// ours also searches what links to regular files point at, which the others skip.
// MB is 1,000,000 bytes of the regular files in the tree (links not followed).

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "listers/listers.h"

static const char* TREE = "/usr/include";
static const int RUNS = 5;

static f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

static void set_query(const char* word) {
    Editor_File* input = &global_search_lister.query_input;
    input->text.count = 0;
    u32 n = (u32)strlen(word);
    memcpy(dynamic_array_add_fast_multiple(&input->text, n), word, n);
}

static f64 run_quarn(const char* word, u64* hits) {
    set_query(word);
    global_search_lister.mode = SEARCH_IN_FILES;
    f64 start = now_seconds();
    search_lister_start(nullptr, string_from_c(TREE));
    while (!__atomic_load_n(&global_search_lister.complete, __ATOMIC_ACQUIRE)) usleep(50);
    f64 seconds = now_seconds() - start;
    *hits = get_num_items_in_search_lister();
    search_lister_stop_and_wait();
    return seconds;
}

// Runs the command, sums the numbers it prints (one per line, after the last ':').
static f64 run_command(const std::string& command, u64* count) {
    f64 start = now_seconds();
    FILE* out = popen(command.c_str(), "r");
    if (!out) return -1;
    char line[8192];
    u64 sum = 0;
    while (fgets(line, sizeof(line), out)) {
        char* colon = strrchr(line, ':');
        sum += strtoull(colon ? colon + 1 : line, nullptr, 10);
    }
    int status = pclose(out);
    f64 seconds = now_seconds() - start;
    *count = sum;
    return status == -1 ? -1 : seconds;
}

int main() {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    init_editor_settings();
    init_search_lister();

    u64 files = 0, bytes = 0, largest = 0;
    std::error_code error;
    for (auto i = std::filesystem::recursive_directory_iterator(TREE, error);
         i != std::filesystem::recursive_directory_iterator(); i.increment(error)) {
        if (i->is_symlink(error) || !i->is_regular_file(error)) continue;
        u64 size = i->file_size(error);
        files++;
        bytes += size;
        if (size > largest) largest = size;
    }
    editor_settings_set_lists(nullptr, 0, nullptr, 0, nullptr, 0, largest + 1);
    printf("%s: %llu files, %.1f MB, largest %llu bytes; %u processors\n", TREE, (unsigned long long)files,
           bytes / 1e6, (unsigned long long)largest, get_usable_processor_count());
    bool have_rg = system("command -v rg >/dev/null 2>&1") == 0;

    const char* words[] = {"sched_getaffinity", "uint32_t"};
    for (const char* word : words) {
        std::string grep = std::string("grep -rF -c ") + word + " " + TREE + " 2>/dev/null";
        std::string rg = std::string("rg -F --no-ignore --hidden --count-matches ") + word + " " + TREE + " 2>/dev/null";
        u64 count;
        run_command(grep, &count);  // warms the cache
        f64 best[3] = {1e9, 1e9, 1e9};
        u64 counts[3] = {};
        for (int run = 0; run < RUNS; run++) {
            f64 t = run_quarn(word, &counts[0]);
            if (t < best[0]) best[0] = t;
            t = run_command(grep, &counts[1]);
            if (t >= 0 && t < best[1]) best[1] = t;
            if (have_rg) {
                t = run_command(rg, &counts[2]);
                if (t >= 0 && t < best[2]) best[2] = t;
            }
        }
        printf("\"%s\"\n", word);
        const char* names[] = {"quarn search", "grep -rF", "rg -F"};
        const char* counted[] = {"matches", "lines", "matches"};
        for (int k = 0; k < (have_rg ? 3 : 2); k++) {
            printf("  %-13s %8.1f ms %9.1f MB/s %10.0f files/s %8llu %s\n", names[k], best[k] * 1e3, bytes / 1e6 / best[k],
                   files / best[k], (unsigned long long)counts[k], counted[k]);
        }
        if (have_rg) printf("  quarn / rg: %.2fx\n", best[0] / best[2]);
    }
    return 0;
}
