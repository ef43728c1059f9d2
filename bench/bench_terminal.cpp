// Terminal figures: escape parsing on generated coloured build output; the worker moving
// `cat` of a 100 MB file through a real pseudo-terminal, beside `cat` of the same file to
// /dev/null; the CPU the worker costs while its command sleeps; and the CPU of one frame of
// the view over full blocks (quads made, nothing sent to a GPU). MB is 1,000,000 bytes.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "editor/editor_settings.h"
#include "terminal/terminal.h"
#include "ui/ui.h"
#include "tests/process_test_support.h"

static f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

static f64 cpu_seconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (f64)usage.ru_utime.tv_sec + (f64)usage.ru_utime.tv_usec / 1e6 + (f64)usage.ru_stime.tv_sec +
           (f64)usage.ru_stime.tv_usec / 1e6;
}

// Lines as a colouring compiler and build tool print them.
static u64 generate_build_output(char* out, u64 capacity) {
    u64 used = 0;
    for (u32 i = 0; used + 512 < capacity; i++) {
        const char* format;
        switch (i % 4) {
        case 0: format = "\x1b[32m[%3u%%]\x1b[0m \x1b[1mBuilding CXX object src/module_%u/file_%u.cpp.o\x1b[0m\r\n"; break;
        case 1: format = "src/module_%u/file_%u.cpp:%u:5: \x1b[01;35m\x1b[Kwarning: \x1b[m\x1b[Kunused variable "
                         "'\x1b[01m\x1b[Kx\x1b[m\x1b[K' [\x1b[01;35m\x1b[K-Wunused-variable\x1b[m\x1b[K]\r\n"; break;
        case 2: format = "   %u | int \x1b[01;35m\x1b[Kx_%u\x1b[m\x1b[K = compute(%u);\r\n"; break;
        default: format = "\x1b[38;5;%um%u\x1b[0m tests passed, \x1b[38;2;255;%u;0mno failures\x1b[0m\r\n"; break;
        }
        used += (u64)snprintf(out + used, capacity - used, format, i % 101, i % 97, i % 500);
    }
    return used;
}

static void bench_escape_parsing() {
    const u64 size = 64000000;
    char* output = (char*)malloc(size);
    u64 length = generate_build_output(output, size);

    Terminal_Result block;
    memset(&block, 0, sizeof(block));
    init_dynamic_array(&block.text, 1);
    init_dynamic_array(&block.tokens, sizeof(Terminal_Token));
    reset_terminal_result_text(&block);

    f64 best = 1e9;
    for (u32 round = 0; round < 3; round++) {
        f64 start = now_seconds();
        for (u64 at = 0; at < length; at += TERMINAL_READ_SIZE) {
            u64 n = length - at < TERMINAL_READ_SIZE ? length - at : TERMINAL_READ_SIZE;
            // As the worker does it: a full block starts over.
            if (block.text.count >= MAX_TERMINAL_BUFFER_SIZE - TERMINAL_READ_SIZE) reset_terminal_result_text(&block);
            memcpy(dynamic_array_add_fast_multiple(&block.text, (u32)n), output + at, n);
            tokenise_terminal_result(&block);
        }
        f64 seconds = now_seconds() - start;
        if (seconds < best) best = seconds;
    }
    printf("escape parsing, coloured build output: %.0f MB/s (%.1f MB, best of 3; goal 100 MB/s or more)\n",
           (f64)length / 1e6 / best, (f64)length / 1e6);
    dynamic_array_free(&block.text);
    dynamic_array_free(&block.tokens);
    free(output);
}

static void wait_for_worker(Terminal_Result* block) {
    while (atomic_load_u8(&block->flags) & TERMINAL_RESULT_WORKER) usleep(1000);
}

// quiet_milliseconds: how long the command surely runs, slept through in one piece so the
// waiting costs no CPU of its own.
static f64 run_to_end(Terminal* terminal, const char* program, const char* argument, u32 quiet_milliseconds) {
    char* arguments[] = {(char*)program, (char*)argument, 0};
    f64 start = now_seconds();
    if (!terminal_execute_arguments(terminal, string_from_c(program), arguments, String{})) return -1;
    if (quiet_milliseconds) sleep_milliseconds(quiet_milliseconds);
    wait_for_worker(terminal->current_result);
    return now_seconds() - start;
}

static void bench_worker(Terminal* terminal) {
    const u64 size = 100000000;
    char path[] = "/tmp/quarn-bench-terminal-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return;
    char* line = (char*)malloc(size);
    for (u64 i = 0; i < size; i++) line[i] = (i % 80 == 79) ? '\n' : (char)('a' + i % 26);
    b8 written = os_write_all(fd, (u8*)line, size);
    close(fd);
    free(line);
    if (written) {
        f64 through_pty = run_to_end(terminal, "cat", path, 0);
        std::string command = "cat " + shell_word(path) + " > /dev/null";
        f64 start = now_seconds();
        int status = system(command.c_str());
        f64 to_null = now_seconds() - start;
        if (through_pty > 0 && status == 0) {
            printf("worker, cat of 100 MB through a pseudo-terminal: %.0f MB/s (cat to /dev/null: %.0f MB/s)\n",
                   (f64)size / 1e6 / through_pty, (f64)size / 1e6 / to_null);
        }
    }
    unlink(path);
}

static void bench_quiet_worker(Terminal* terminal) {
    f64 cpu_before = cpu_seconds();
    f64 seconds = run_to_end(terminal, "sleep", "2", 1950);
    f64 cpu = cpu_seconds() - cpu_before;
    if (seconds > 0) printf("worker during sleep 2: %.1f ms of CPU in %.2f s (the whole process)\n", cpu * 1e3, seconds);
}

static f64 thread_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

// A block filled read by read, as the worker fills it, up to where the next read would
// empty it.
static b8 fill_full_block(Terminal* terminal, const char* output, u64 length) {
    Terminal_Result* block = add_a_terminal_result(terminal, STR("make -j6 all"));
    if (!block) return false;
    for (u64 at = 0; block->text.count < MAX_TERMINAL_BUFFER_SIZE - TERMINAL_READ_SIZE; at += TERMINAL_READ_SIZE) {
        u64 n = TERMINAL_READ_SIZE;
        if (at + n > length) return false;
        memcpy(dynamic_array_add_fast_multiple(&block->text, (u32)n), output + at, n);
        tokenise_terminal_result(block);
    }
    return true;
}

static b8 set_up_fonts() {
    init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
    if (!init_executable_filepath() || !init_assets(executable_filepath)) return false;
    if (!init_font_from_executable(&ui_latin_font, (u8*)"UI_FONT", 7)) return false;
    if (!init_font_from_executable(&code_latin_font, (u8*)"CODE_FONT", 9)) return false;
    if (!init_font_from_executable(&icons_font, (u8*)"ICONS", 5)) return false;
    ui_init_font_pools(20);
    init_ui_elements();
    init_editor_settings();
    renderer_info = Renderer_Info{1920, 1080, nullptr};
    ui_screen_resolution = v2{1920, 1080};
    return true;
}

static void bench_view_frames() {
    if (!set_up_fonts()) {
        printf("view frames: skipped, the fonts of quarn.data could not be read\n");
        return;
    }
    const u64 size = 4000000;
    char* output = (char*)malloc(size);
    u64 length = generate_build_output(output, size);
    Filepath directory = {};
    Terminal* terminal = add_a_terminal(&directory);
    for (u32 blocks = 1; terminal && blocks <= 10; blocks++) {
        if (!fill_full_block(terminal, output, length)) break;
        if (blocks != 1 && blocks != 10) continue;
        const u32 frames = 20;
        f64 best = 1e9;
        for (u32 i = 0; i < frames; i++) {
            tmp_reset();
            prepare_frame();
            ui_begin_frame_with_mouse(v2{960, 500});
            f64 start = thread_cpu_seconds();
            draw_and_update_terminal_history(terminal, v2{0, 60}, v2{1920, 1080});
            f64 cpu = thread_cpu_seconds() - start;
            if (cpu < best) best = cpu;
        }
        printf("view frame, %u full block%s of %.2f MB each: %.2f ms of CPU (best of %u, %u quads)\n", blocks,
               blocks == 1 ? "" : "s", (f64)(MAX_TERMINAL_BUFFER_SIZE - TERMINAL_READ_SIZE) / 1e6, best * 1e3, frames,
               renderer_quad_instances.count);
    }
    if (terminal) clear_terminal_history(terminal);
    free(output);
}

int main() {
    if (!init_memory(PROGRAM_EDITOR)) return 1;
    tmp_claim_slot();
    init_terminals();
    atomic_store_u8(&window_is_focused, 1);  // no desktop notifications from a bench

    bench_escape_parsing();
    Filepath directory = {};
    Terminal* terminal = add_a_terminal(&directory);
    if (!terminal) return 1;
    bench_worker(terminal);
    bench_quiet_worker(terminal);
    clear_terminal_history(terminal);
    bench_view_frames();
    return 0;
}
