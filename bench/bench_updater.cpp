// Packing and unpacking speed of update data: our own LZ blocks (format 0, with the search
// over offset bits 2 to 16 that the packer runs) and LZ4 blocks (format 1), each beside the
// figures of the `lz4` command's own benchmark on the same data. MB is 1,000,000 bytes,
// as the `lz4` command counts it. Then the updater's decode of a large update in both
// formats beside `lz4 -d` of the same bytes.

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

// Appends what the stream holds, up to limit bytes in all.
static void append_stream(Sample* sample, FILE* stream, u64 limit) {
    u8 chunk[65536];
    size_t n;
    while (sample->size < limit && (n = fread(chunk, 1, sizeof(chunk), stream)) > 0) {
        if (n > limit - sample->size) n = limit - sample->size;
        if (sample->size + n > sample->capacity) {
            sample->capacity = (sample->capacity + n) * 2;
            sample->data = (u8*)realloc(sample->data, sample->capacity);
        }
        memcpy(sample->data + sample->size, chunk, n);
        sample->size += n;
    }
}

static void append_file(Sample* sample, const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) return;
    append_stream(sample, file, ~0ull);
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

//~ Decoding a large update

#define LARGE_UPDATE_SIZE 200000000ull  // about what a tar of /usr/include holds

static void append_command_output(Sample* sample, const char* command, u64 limit) {
    FILE* pipe = popen(command, "r");
    if (!pipe) return;
    append_stream(sample, pipe, limit);
    pclose(pipe);
}

// Update data of one file, laid out as the packer lays it out.
static u8* make_update_data(u32 format, const u8* stored, u32 stored_size, u32 size, u64* data_size) {
    const char name[] = "readme.txt";
    u32 names = 24 + 8 + 12;
    u32 data_offset = names + (u32)(sizeof(name) - 1);
    *data_size = data_offset + (u64)stored_size;
    u8* data = (u8*)malloc(*data_size);
    Update_Header header = {UPDATE_MAGIC_NUMBER, format, EDITOR_VERSION, 0, 24, 32, 1};
    Update_File_Name file_name = {names, (u32)(sizeof(name) - 1)};
    Update_File_Entry entry = {stored_size, size, data_offset};
    memcpy(data, &header, sizeof(header));
    memcpy(data + 24, &file_name, sizeof(file_name));
    memcpy(data + 32, &entry, sizeof(entry));
    memcpy(data + names, name, sizeof(name) - 1);
    memcpy(data + data_offset, stored, stored_size);
    return data;
}

// The updater's whole decode of the data, its buffers taken and given back as in a run.
static f64 time_update_decode(const u8* data, u64 size, const Sample* original) {
    f64 seconds;
    b8 ok = true;
    TIME_BEST(seconds, {
        Update_Plan plan;
        Update_Report report = {};
        b8 decoded = check_update_data(data, size, &plan, &report, true);
        ok &= decoded && plan.files[0].content.count == (s64)original->size &&
              memcmp(plan.files[0].content.data, original->data, original->size) == 0;
        free_update_plan(&plan);
    });
    return ok ? seconds : -1;
}

// `lz4 -d` of the same bytes in its own format, its output thrown away.
static f64 time_lz4_command_decode(const Sample* sample) {
    char path[] = "/tmp/quarn-bench-update.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return -1;
    b8 written = write(fd, sample->data, sample->size) == (ssize_t)sample->size;
    close(fd);
    char command[4200];
    snprintf(command, sizeof(command), "lz4 -1 -q -f '%s' '%s.lz4'", path, path);
    f64 seconds = -1;
    if (written && system(command) == 0) {
        snprintf(command, sizeof(command), "lz4 -d -q -c '%s.lz4' > /dev/null", path);
        b8 ok = true;
        TIME_BEST(seconds, ok &= system(command) == 0);
        if (!ok) seconds = -1;
    }
    unlink(path);
    snprintf(command, sizeof(command), "%s.lz4", path);
    unlink(command);
    return seconds;
}

static void measure_large_update() {
    Sample tar = {};
    append_command_output(&tar, "tar -cf - -C /usr include 2>/dev/null", LARGE_UPDATE_SIZE);
    if (tar.size < 1000000) {
        printf("\nlarge update: no tar of /usr/include to decode\n");
        free(tar.data);
        return;
    }
    u32 size = (u32)tar.size;

    u8* block = (u8*)malloc(lz_block_bound(size));
    u32 block_size = lz_compress_trying_different_sizes_per_offset(tar.data, block, size, 2, 16);
    Gp_Allocation state = {}, lz4 = {};
    u32 lz4_size = 0;
    b8 packed = block_size && lz4_compress_block(tar.data, size, &state, &lz4, &lz4_size) && lz4_size < size;
    if (!packed) {
        printf("\nlarge update: could not pack the tar\n");
    } else {
        u64 size_0, size_1;
        u8* data_0 = make_update_data(0, block, block_size, size, &size_0);
        u8* data_1 = make_update_data(1, lz4.memory, lz4_size, size, &size_1);
        f64 format_0 = time_update_decode(data_0, size_0, &tar);
        f64 format_1 = time_update_decode(data_1, size_1, &tar);
        f64 command = time_lz4_command_decode(&tar);
        printf("\nDecoding an update of one %llu-byte file (a tar of /usr/include), fastest of several runs:\n",
               (unsigned long long)size);
        printf("  %-34s %9.1f ms\n", "format 0 (own LZ), whole update", format_0 * 1e3);
        printf("  %-34s %9.1f ms\n", "format 1 (LZ4), whole update", format_1 * 1e3);
        printf("  %-34s %9.1f ms\n", "lz4 -d of the same bytes", command * 1e3);
        if (format_1 > 0 && command > 0) printf("  format 1 takes %.2f times as long as lz4 -d\n", format_1 / command);
        free(data_0);
        free(data_1);
    }
    free(block);
    gp_free(&state);
    gp_free(&lz4);
    free(tar.data);
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
    measure_large_update();
    return 0;
}
