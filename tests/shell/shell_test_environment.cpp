// Every shell test runs with the foundation's memory, the log, the custom layer record and
// the idle listers set up.
#include <gtest/gtest.h>

#include "runtime/runtime.h"
#include "shell/shell.h"
#include "listers/listers.h"

struct Shell_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_custom_layer();
        ASSERT_TRUE(init_logging());
        init_listers();
    }
};

static ::testing::Environment* const shell_environment =
    ::testing::AddGlobalTestEnvironment(new Shell_Test_Environment);
