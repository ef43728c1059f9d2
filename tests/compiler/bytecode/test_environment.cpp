// Every bytecode test runs with the foundation's memory, the compiler and the foreign
// routine table's hashes set up once, as the editor does at start; each test resets the
// compiler as a compile does.
#include <gtest/gtest.h>

#include "compiler/bytecode/bytecode.h"
#include "compiler/core/foreign_routine_table.h"
#include "compiler/parser/front_end.h"

struct Compiler_Bytecode_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/opt/quarn")));
        setup_foreign_routines_table();
        connect_parser_routines();
    }
};

static ::testing::Environment* const compiler_bytecode_environment =
    ::testing::AddGlobalTestEnvironment(new Compiler_Bytecode_Test_Environment);
