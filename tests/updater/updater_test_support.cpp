#include "tests/updater/updater_test_support.h"

#include <gtest/gtest.h>
#include <lz4.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "foundation/memory.h"
#include "tests/scratch.h"

namespace {
struct Updater_Environment : testing::Environment {
    void SetUp() override { ASSERT_TRUE(init_memory(PROGRAM_UPDATER)); }
};
testing::Environment* const environment = testing::AddGlobalTestEnvironment(new Updater_Environment);
}  // namespace

std::string make_scratch_directory(const char* prefix) {
    return make_test_directory(prefix);
}

void remove_scratch_directory(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

Bytes craft_update_data(u32 format, const std::vector<Crafted_File>& files) {
    u32 count = (u32)files.size();
    Bytes data(24 + 20 * count, 0);
    put_u32(&data, 0, UPDATE_MAGIC_NUMBER);
    put_u32(&data, 4, format);
    data[8] = 0, data[9] = 3, data[10] = 2;
    put_u32(&data, 12, 24);
    put_u32(&data, 16, 24 + 8 * count);
    put_u32(&data, 20, count);
    for (u32 i = 0; i < count; i++) {
        put_u32(&data, 24 + 8 * i, (u32)data.size());
        put_u32(&data, 28 + 8 * i, (u32)files[i].name.size());
        data.insert(data.end(), files[i].name.begin(), files[i].name.end());
    }
    for (u32 i = 0; i < count; i++) {
        size_t entry = 24 + 8 * count + 12 * i;
        put_u32(&data, entry, (u32)files[i].stored.size());
        put_u32(&data, entry + 4, files[i].uncompressed_size);
        put_u32(&data, entry + 8, (u32)data.size());
        data.insert(data.end(), files[i].stored.begin(), files[i].stored.end());
    }
    return data;
}

Bytes read_file_bytes(const std::string& path) {
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    u8 chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

void write_file_bytes(const std::string& path, const Bytes& content, unsigned mode) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file) << path;
    if (!content.empty()) fwrite(content.data(), 1, content.size(), file);
    fclose(file);
    chmod(path.c_str(), mode);
}

Bytes lz_block_of(const Bytes& input) {
    Bytes block(lz_block_bound((u32)input.size()));
    block.resize(lz_compress(input.data(), block.data(), (u32)input.size(), 4));
    return block;
}

Bytes lz4_block_of(const Bytes& input) {
    Bytes block(LZ4_compressBound((int)input.size()));
    block.resize(LZ4_compress_default((const char*)input.data(), (char*)block.data(), (int)input.size(), (int)block.size()));
    return block;
}
