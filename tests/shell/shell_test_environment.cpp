// Every shell test runs with the foundation's memory, the log, the compiler, the custom
// layer record and the idle listers set up.
#include <gtest/gtest.h>

#include "compiler/core/compiler_core.h"
#include "runtime/runtime.h"
#include "shell/shell.h"
#include "listers/listers.h"

struct Shell_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_custom_layer();
        install_shell_actions();
        ASSERT_TRUE(init_logging());
        init_listers();
        // Tests that compile point the base directory at their own sources.
        ASSERT_TRUE(init_compiler(String{}));
        setup_foreign_routines_table();
        connect_parser_routines();
    }
};

static ::testing::Environment* const shell_environment =
    ::testing::AddGlobalTestEnvironment(new Shell_Test_Environment);
