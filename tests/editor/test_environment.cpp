// Every editor test runs with the foundation's memory set up, the log in memory (its files in
// the scratch folder) and the custom layer record at its defaults.
#include <gtest/gtest.h>

#include <string>

#include "editor/editor.h"
#include "foundation/log.h"
#include "tests/scratch.h"

struct Editor_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_logging());
        static std::string logs = test_scratch_root() + "/logs";
        set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
        init_editor_settings();
    }
};

static ::testing::Environment* const editor_environment =
    ::testing::AddGlobalTestEnvironment(new Editor_Test_Environment);
