// Every parser test runs with the foundation's memory and the compiler set up once, as the
// editor does at start; each compile resets the compiler itself.
#include <gtest/gtest.h>

#include "compiler/parser/parser.h"
#include "compiler/core/foreign_routine_table.h"

struct Compiler_Parser_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/opt/quarn")));
        setup_foreign_routines_table();  // #import binds by these hashes
        connect_parser_routines();
        // The report list keeps its room from compile to compile, and a compile frees the
        // arrays init_compiler sized: both settle here, so a test sees the allocator's use
        // change only by what it does.
        ASSERT_NE(dynamic_array_add_fast_multiple(&compile_errors, 8), nullptr);
        compile_errors.count = 0;
        free_compiler_state();
    }
};

static ::testing::Environment* const compiler_parser_environment =
    ::testing::AddGlobalTestEnvironment(new Compiler_Parser_Test_Environment);
