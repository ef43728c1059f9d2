// What the two fuzz targets that compile share: a scratch directory that stands for the
// executable's, holding the shipped support sources, and one compile of a source there
// through machine code to the written image.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "compiler/bytecode/layer_image.h"
#include "compiler/core/compiler_core.h"
#include "compiler/pipeline/compile_pipeline.h"
#include "foundation/os_files.h"
#include "runtime/foreign_routines.h"
#include "tests/fuzz_input.h"
#include "tests/scratch.h"

static std::string fuzz_directory;

static std::string read_bytes(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), file)) > 0;) bytes.append(buffer, n);
    fclose(file);
    return bytes;
}

static void write_bytes(const std::string& path, const void* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    CHECK(file);
    CHECK(size == 0 || fwrite(data, 1, size, file) == size);
    CHECK(fclose(file) == 0);
}

// The scratch directory with the layer sources the release ships beside the editor.
static void set_up_compiles() {
    CHECK(init_memory(PROGRAM_EDITOR));
    // In the process's scratch folder, which goes when the run ends.
    fuzz_directory = make_test_directory("compile");
    CHECK(!fuzz_directory.empty());
    for (const char* name : {"inject.8", "api.8", "syntax.8", "themes_latest.8"}) {
        std::string text = read_bytes(std::string(QUARN_LAYER_SOURCES) + "/" + name);
        CHECK(!text.empty());
        write_bytes(fuzz_directory + "/" + name, text.data(), text.size());
    }
    static String directory = {(u8*)fuzz_directory.data(), (s64)fuzz_directory.size()};
    executable_filepath = directory;  // the image is written beside the "executable"
    CHECK(init_compiler(directory));
    setup_foreign_routines_table();  // imports are bound by these hashes
    connect_parser_routines();
}

// Compiles the source as custom.8; on success the written image's octets, else empty.
static std::string compile_source(const void* source, size_t size) {
    std::string custom = fuzz_directory + "/custom.8";
    std::string image_path = fuzz_directory + "/" COMPILED_CUSTOM_LAYER_FILENAME;
    unlink(image_path.c_str());
    write_bytes(custom, source, size);
    Version_Info version = EDITOR_VERSION;
    b8 compiled = compile_from_file((u8*)custom.data(), custom.size(), &version);
    CHECK(compiled == (compile_errors.count == 0));
    std::string image = compiled ? read_bytes(image_path) : std::string();
    CHECK(!compiled || !image.empty());
    tmp_reset();
    return image;
}

// A checked image rebased as the loader does it, in a copy that ends at the end of its
// allocation: every write of the rebase stays inside it. The compiler's own images also
// have every foreign-call slot hold the dispatcher afterwards (their slots never overlap).
static void rebase_checked_image(const u8* image, size_t size, b8 from_compiler) {
    std::vector<u8> copy(image, image + size);
    u64 dispatcher = 0x123456789ABCDEF0ull;
    rebase_layer_image(copy.data(), dispatcher);
    if (!from_compiler) return;
    Compiled_Layer_Header h;
    memcpy(&h, copy.data(), sizeof(h));
    for (u32 i = 0; i < h.foreign_call_slot_count; i++) {
        u64 slot = load_u64(copy.data() + h.foreign_call_slot_offset + (u64)i * sizeof(Foreign_Call_Slot));
        CHECK(load_u64(copy.data() + h.code_offset + slot) == dispatcher);
    }
}
