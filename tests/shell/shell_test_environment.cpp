// Every shell test runs with the foundation's memory, the log (its files in the scratch
// folder, not beside the executable, where other runs of the same build write theirs), the
// compiler, the custom layer record and the idle listers set up. A stand-in "notify-send"
// comes first on PATH, for this process and the editors it starts: a finished command's
// notice never reaches the desktop of whoever runs the tests.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "compiler/core/compiler_core.h"
#include "runtime/runtime.h"
#include "shell/shell.h"
#include "listers/listers.h"
#include "tests/scratch.h"

struct Shell_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_custom_layer();
        install_shell_actions();
        ASSERT_TRUE(init_logging());
        static std::string logs = test_scratch_root() + "/logs";
        set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
        init_listers();
        // Tests that compile point the base directory at their own sources.
        ASSERT_TRUE(init_compiler(String{}));
        setup_foreign_routines_table();
        connect_parser_routines();
        std::string stand_ins = make_test_directory("stand-ins");
        ASSERT_FALSE(stand_ins.empty());
        std::ofstream(stand_ins + "/notify-send") << "#!/bin/sh\nexit 0\n";
        chmod((stand_ins + "/notify-send").c_str(), 0755);
        const char* path = getenv("PATH");
        setenv("PATH", (stand_ins + ":" + (path ? path : "")).c_str(), 1);
    }
};

static ::testing::Environment* const shell_environment =
    ::testing::AddGlobalTestEnvironment(new Shell_Test_Environment);
