// Packing and unpacking speed of update data: our own LZ blocks (format 0, with the search
// over offset bits 2 to 16 that the packer runs) and LZ4 blocks (format 1), each beside the
// figures of the `lz4` command's own benchmark on the same data. MB is 1,000,000 bytes,
// as the `lz4` command counts it.

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "foundation/memory.h"
#include "updater/updater.h"

struct Sample {
    u8* data;
    u64 size;
    u64 capacity;
};

static f64 now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

static void append_file(Sample* sample, const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) return;
    u8 chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        if (sample->size + n > sample->capacity) {
            sample->capacity = (sample->capacity + n) * 2;
            sample->data = (u8*)realloc(sample->data, sample->capacity);
        }
        memcpy(sample->data + sample->size, chunk, n);
        sample->size += n;
    }
    fclose(file);
}

// Every .cpp and .h file below directory, the kind of text a release carries.
static void append_sources(Sample* sample, const char* directory) {
    DIR* listing = opendir(directory);
    if (!listing) return;
    while (dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.' || strncmp(entry->d_name, "build", 5) == 0) continue;
        char path[4096];
        snprintf(path, sizeof(path), "%s/%s", directory, entry->d_name);
        struct stat status;
        if (lstat(path, &status) != 0) continue;
        const char* dot = strrchr(entry->d_name, '.');
        if (S_ISDIR(status.st_mode)) {
            append_sources(sample, path);
        } else if (S_ISREG(status.st_mode) && dot && (strcmp(dot, ".cpp") == 0 || strcmp(dot, ".h") == 0)) {
            append_file(sample, path);
        }
    }
    closedir(listing);
}

struct Speed {
    f64 pack_mb_per_s;
    f64 unpack_mb_per_s;
    f64 ratio;
    b8 ok;
};

// Runs the work until at least half a second has passed and keeps the fastest run.
#define TIME_BEST(seconds_out, work)                             \
    do {                                                         \
        f64 best = 1e30, spent = 0;                              \
        for (u32 run = 0; run < 3 || spent < 0.5; run++) {       \
            f64 start = now_seconds();                           \
            work;                                                \
            f64 took = now_seconds() - start;                    \
            spent += took;                                       \
            if (took < best) best = took;                        \
        }                                                        \
        seconds_out = best;                                      \
    } while (0)

static Speed measure_own_lz(const Sample* sample) {
    Speed speed = {};
    u32 size = (u32)sample->size;
    u8* block = (u8*)malloc(lz_block_bound(size));
    u8* output = (u8*)malloc(align_up(size, 4));
    u32 block_size = 0;
    f64 pack_seconds, unpack_seconds;
    TIME_BEST(pack_seconds, block_size = lz_compress_trying_different_sizes_per_offset(sample->data, block, size, 2, 16));
    u32 decoded = 0;
    b8 ok = true;
    TIME_BEST(unpack_seconds, ok &= lz_decompress(block, block_size, output, align_up(size, 4), &decoded));
    speed.ok = block_size && ok && decoded == size && memcmp(output, sample->data, size) == 0;
    speed.pack_mb_per_s = (f64)size / pack_seconds / 1e6;
    speed.unpack_mb_per_s = (f64)size / unpack_seconds / 1e6;
    speed.ratio = block_size ? (f64)size / block_size : 0;
    free(block);
    free(output);
    return speed;
}

static Speed measure_lz4(const Sample* sample) {
    Speed speed = {};
    u32 size = (u32)sample->size;
    Gp_Allocation state = {}, block = {};
    u8* output = (u8*)malloc(size);
    u32 block_size = 0;
    b8 ok = true;
    f64 pack_seconds, unpack_seconds;
    TIME_BEST(pack_seconds, ok &= lz4_compress_block(sample->data, size, &state, &block, &block_size));
    TIME_BEST(unpack_seconds, ok &= lz4_decompress_block(block.memory, block_size, output, size));
    speed.ok = ok && memcmp(output, sample->data, size) == 0;
    speed.pack_mb_per_s = (f64)size / pack_seconds / 1e6;
    speed.unpack_mb_per_s = (f64)size / unpack_seconds / 1e6;
    speed.ratio = block_size ? (f64)size / block_size : 0;
    gp_free(&state);
    gp_free(&block);
    free(output);
    return speed;
}

// The `lz4` command's benchmark at level 1 on the same bytes; its last line reads
// "-1   <compressed size> (<ratio>) <pack> MB/s <unpack> MB/s  <file>".
static Speed measure_lz4_command(const Sample* sample) {
    Speed speed = {};
    char path[] = "/tmp/quarn-bench-lz4.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return speed;
    b8 written = write(fd, sample->data, sample->size) == (ssize_t)sample->size;
    close(fd);
    char command[4200];
    snprintf(command, sizeof(command), "lz4 -q -b1 -i1 '%s' 2>&1 | tr '\\r' '\\n'", path);
    FILE* pipe = written ? popen(command, "r") : nullptr;
    if (pipe) {
        char line[1024];
        while (fgets(line, sizeof(line), pipe)) {
            unsigned long long compressed;
            f64 ratio, pack, unpack;
            if (sscanf(line, "-1 %llu (%lf) %lf MB/s %lf MB/s", &compressed, &ratio, &pack, &unpack) == 4) {
                speed = Speed{pack, unpack, ratio, true};
            }
        }
        pclose(pipe);
    }
    unlink(path);
    return speed;
}

static void print_row(const char* data, u64 size, const char* method, Speed speed) {
    if (!speed.ok) {
        printf("%-8s %10llu  %-22s  (no figures)\n", data, (unsigned long long)size, method);
        return;
    }
    printf("%-8s %10llu  %-22s %7.3f %11.1f %13.1f\n", data, (unsigned long long)size, method, speed.ratio,
           speed.pack_mb_per_s, speed.unpack_mb_per_s);
}

int main() {
    if (!init_memory(PROGRAM_UPDATER)) return 1;
    Sample program = {}, sources = {};
    append_file(&program, "/proc/self/exe");
    append_sources(&sources, QUARN_SOURCE_DIR);
    struct Named { const char* name; Sample* sample; } samples[] = {{"program", &program}, {"sources", &sources}};

    printf("%-8s %10s  %-22s %7s %11s %13s\n", "data", "bytes", "method", "ratio", "pack MB/s", "unpack MB/s");
    for (const Named& s : samples) {
        if (s.sample->size == 0) continue;
        print_row(s.name, s.sample->size, "format 0 (own LZ)", measure_own_lz(s.sample));
        print_row(s.name, s.sample->size, "format 1 (LZ4)", measure_lz4(s.sample));
        print_row(s.name, s.sample->size, "lz4 command, level 1", measure_lz4_command(s.sample));
    }
    free(program.data);
    free(sources.data);
    return 0;
}
