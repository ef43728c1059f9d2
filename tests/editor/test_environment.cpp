// Every editor test runs with the foundation's memory set up and the custom layer record at its defaults.
#include <gtest/gtest.h>

#include "editor/editor.h"

struct Editor_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_editor_settings();
    }
};

static ::testing::Environment* const editor_environment =
    ::testing::AddGlobalTestEnvironment(new Editor_Test_Environment);
