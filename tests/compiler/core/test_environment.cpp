// Every compiler core test runs with the foundation's memory and the compiler set up once,
// as the editor does at start; each test resets the compiler as a compile does.
#include <gtest/gtest.h>

#include "compiler/core/compiler_core.h"
#include "compiler/parser/front_end.h"

struct Compiler_Core_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/opt/quarn")));
        connect_parser_routines();  // type parsing reads values through the parser
    }
};

static ::testing::Environment* const compiler_core_environment =
    ::testing::AddGlobalTestEnvironment(new Compiler_Core_Test_Environment);
