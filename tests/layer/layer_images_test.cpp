// The image the shipped layer and a generated layer compile to, area by area, against
// images.expect: how the compiler keeps its records in memory (pools, buckets, the
// allocator) must never change what it writes. The source table holds paths and
// modification times, and the header the editor's version and a hash over all of it: those
// are left out, the rest is compared. After a change that is meant to change the code,
// QUARN_UPDATE_IMAGES=1 writes the file anew, to be reviewed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/core/compiler_core.h"
#include "compiler/pipeline/compile_pipeline.h"
#include "foundation/meow_hash.h"
#include "foundation/os_files.h"
#include "runtime/runtime.h"
#include "tests/test_files.h"

namespace {

std::string hash_text(const u8* data, u64 size) {
    char text[32];
    snprintf(text, sizeof(text), "%016llx", (unsigned long long)MeowHash(size, data).low);
    return text;
}

// One line per area of the image, with its size and hash; what an image holds that may
// differ from machine to machine is left out.
std::string describe_image(const std::string& bytes) {
    if (bytes.size() < sizeof(Compiled_Layer_Header)) return "no image\n";
    const u8* image = (const u8*)bytes.data();
    Compiled_Layer_Header header;
    memcpy(&header, image, sizeof(header));
    u64 relocations_end = (u64)header.global_relocation_offset + (u64)header.global_relocation_count * LAYER_RELOCATION_ROW_SIZE;
    if (relocations_end > header.source_table_offset || header.source_table_offset > bytes.size()) return "bad image\n";
    std::ostringstream out;
    auto line = [&](const char* name, const u8* data, u64 size) {
        out << "  " << name << ": " << size << " octets " << hash_text(data, size) << "\n";
    };
    auto area = [&](const char* name, u64 offset, u64 size) { line(name, image + offset, size); };
    header.image_hash = 0;
    memset(header.editor_version, 0, sizeof(header.editor_version));
    line("header", (const u8*)&header, sizeof(header));
    area("constant data", header.constant_data_offset, header.constant_data_size);
    area("global data", header.global_data_offset, header.global_data_size);
    area("code", header.code_offset, header.code_size);
    area("foreign-call slots", header.foreign_call_slot_offset, (u64)header.foreign_call_slot_count * 8);
    area("constant relocations", header.constant_relocation_offset,
         (u64)header.constant_relocation_count * LAYER_RELOCATION_ROW_SIZE);
    area("global relocations", header.global_relocation_offset,
         (u64)header.global_relocation_count * LAYER_RELOCATION_ROW_SIZE);
    out << "  sources: " << header.source_count << "\n";
    return out.str();
}

// Small sub-programs of nine lines, each called from #on_load, as bench_layer_compile
// makes them, with an if chain, a while loop and a switch among them.
std::string generated_layer(u32 count) {
    std::string source = "$step: (x: s64) -> s64 = {\n    return x * 2 + 1;\n};\n";
    for (u32 i = 0; i < count; i++) {
        std::string n = std::to_string(i), k = std::to_string(i % 7 + 2);
        source += "$sub_" + n + ": (a: s64, b: s64) -> s64 = {\n    cells: [4] s64;\n    cells[0] = a;\n    cells[1] = b * " +
                  k + ";\n    c: s64 = 0;\n    for 0, 2 -> i { c += cells[i] * i; }\n";
        if (i % 3 == 0) source += "    if c > 10 { c -= 3; } else if c < 0 { c = -c; }\n";
        if (i % 5 == 0) source += "    while c > 100 { c = c / 2; }\n";
        if (i % 7 == 0) source += "    switch a {\n        1: c += 1;\n        2 { c += 2; }\n        { c -= 1; }\n    }\n";
        source += "    return step(c) + " + n + ";\n};\n";
    }
    source += "total: s64;\n#on_load {\n";
    for (u32 i = 0; i < count; i++) source += "    total += sub_" + std::to_string(i) + "(" + std::to_string(i) + ", 2);\n";
    return source + "}\n";
}

struct Layer_Images : ::testing::Test {
    std::string directory;

    void SetUp() override {
        char pattern[] = "/tmp/quarn_layer_images_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        for (const char* name : {"inject.8", "api.8", "syntax.8", "themes_latest.8"}) {
            std::filesystem::copy_file(std::string(QUARN_LAYER_SOURCES) + "/" + name, directory + "/" + name);
        }
    }
    void TearDown() override {
        executable_filepath = String{};
        global_compiler_state.base_directory = String{};
        std::filesystem::remove_all(directory);
        tmp_reset();
    }

    // The description of the image custom.8 compiles to, or the first report.
    std::string compile(const std::string& custom_source) {
        std::ofstream(directory + "/custom.8", std::ios::binary) << custom_source;
        executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
        global_compiler_state.base_directory = executable_filepath;
        std::string custom = directory + "/custom.8";
        Version_Info version = EDITOR_VERSION;
        compile_errors.count = 0;
        tmp_reset();
        if (!compile_from_file((u8*)custom.data(), custom.size(), &version)) {
            return "the compile failed: " +
                   (compile_errors.count ? std::string((char*)((Compile_Error*)compile_errors.data)->message) : "") + "\n";
        }
        return describe_image(read_test_file(directory + "/custom.8b"));
    }
};

}  // namespace

TEST_F(Layer_Images, TheShippedAndAGeneratedLayerCompileToTheImagesOnRecord) {
    std::string shipped = compile(read_test_file(std::string(QUARN_LAYER_SOURCES) + "/custom.8"));
    std::string generated = compile(generated_layer(400));
    // A second compile in the same process, over memory the first left behind, gives the same.
    EXPECT_EQ(compile(generated_layer(400)), generated);
    std::string actual = "shipped layer\n" + shipped + "generated layer, 400 sub-programs\n" + generated;

    std::string path = std::string(QUARN_LAYER_TEST_DIR) + "/images.expect";
    if (getenv("QUARN_UPDATE_IMAGES")) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    EXPECT_EQ(actual, read_test_file(path)) << "compare with " << path;
}
