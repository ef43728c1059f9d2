// The foundation's memory and the compiler are set up once, as the editor does at start;
// translation tests reset the compiler as a compile does, and compiled programs find the
// foreign routines.
#include <gtest/gtest.h>

#include "compiler/core/compiler_core.h"
#include "compiler/core/foreign_routine_table.h"
#include "compiler/parser/front_end.h"

struct Compiler_Amd64_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/opt/quarn")));
        setup_foreign_routines_table();  // #import binds by these hashes
        connect_parser_routines();
    }
};

static ::testing::Environment* const compiler_amd64_environment =
    ::testing::AddGlobalTestEnvironment(new Compiler_Amd64_Test_Environment);
