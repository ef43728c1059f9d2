// Every editor test runs with the foundation's memory set up and the layer's lists empty.
#include <gtest/gtest.h>

#include "editor/editor.h"

struct Editor_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_layer_text_settings();
    }
};

static ::testing::Environment* const editor_environment =
    ::testing::AddGlobalTestEnvironment(new Editor_Test_Environment);
