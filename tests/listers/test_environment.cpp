// Every lister test runs with the foundation's memory, the custom layer record at its
// defaults and both listers idle.
#include <gtest/gtest.h>

#include "listers/listers.h"
#include "runtime/custom_layer.h"
#include "shell/startup.h"

struct Listers_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_custom_layer();
        install_shell_actions();
        init_file_lister();
        init_search_lister();
    }
};

static ::testing::Environment* const listers_environment =
    ::testing::AddGlobalTestEnvironment(new Listers_Test_Environment);
