#include "tests/updater/updater_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "foundation/memory.h"

namespace {
struct Updater_Environment : testing::Environment {
    void SetUp() override { ASSERT_TRUE(init_memory(PROGRAM_UPDATER)); }
};
testing::Environment* const environment = testing::AddGlobalTestEnvironment(new Updater_Environment);
}  // namespace

std::string make_scratch_directory(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
    char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

void remove_scratch_directory(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}
