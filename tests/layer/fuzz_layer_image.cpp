// libFuzzer target of the loader's check of a compiled image and of its rebase. The hash
// field of every input is recomputed first, so mutations reach the checks behind it. Each
// input is placed so that its last octet is the last readable one before a page without
// access. Holds: no crash and no access outside the image, in the check and, for an image
// it accepts, in the rebase. The seeds are the images of the sources in fuzz_seeds and of
// the shipped custom.8, compiled at start into the first corpus directory.
#include "fuzz_compile_support.h"

static Guarded_Room room;

static void write_seed_image(const char* corpus, const std::string& source_path, const char* name) {
    std::string source = read_bytes(source_path);
    std::string image = compile_source(source.data(), source.size());
    if (!image.empty()) write_bytes(std::string(corpus) + "/image-" + name, image.data(), image.size());
}

// Compiles every seed source, and the shipped custom.8 with the sources it loads, into an
// image file of the corpus directory.
static void write_seed_images(const char* corpus) {
    write_seed_image(corpus, std::string(QUARN_LAYER_SOURCES) + "/custom.8", "shipped");
    DIR* seeds = opendir(QUARN_FUZZ_SEEDS);
    CHECK(seeds);
    while (struct dirent* entry = readdir(seeds)) {
        if (entry->d_name[0] == '.') continue;
        write_seed_image(corpus, std::string(QUARN_FUZZ_SEEDS) + "/" + entry->d_name, entry->d_name);
    }
    closedir(seeds);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    set_up_compiles();
    room = make_guarded_room(LAYER_IMAGE_MAX_SIZE + 4096);
    // The first argument that is no flag is the corpus libFuzzer writes to.
    for (int i = 1; i < *argc; i++) {
        if ((*argv)[i][0] != '-') {
            write_seed_images((*argv)[i]);
            break;
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    u8* image = place_before_guard(room, data, size);
    if (!image) return 0;
    if (size >= sizeof(Compiled_Layer_Header)) {
        u64 hash = layer_image_hash(image, size);
        store_u64(image + offsetof(Compiled_Layer_Header, image_hash), hash);
    }
    u8 before[sizeof(Compiled_Layer_Header)];
    memcpy(before, image, size < sizeof(before) ? size : sizeof(before));
    const char* reason = check_layer_image(image, size);
    // The check reads only: the header is as it was, its hash field put back.
    CHECK(memcmp(before, image, size < sizeof(before) ? size : sizeof(before)) == 0);
    if (!reason) rebase_checked_image(image, size, false);
    return 0;
}
