#include <gtest/gtest.h>

#include "compiler/pipeline/compile_pipeline.h"
#include "parser_test_helpers.h"

TEST(CompilePipeline, CompileFromFileFreesItsState) {
    Scratch_Directory dir;
    Base_Directory base(dir.path.string());
    std::string custom = dir.write("custom.8", "#on_load { }\n");
    Version_Info version = EDITOR_VERSION;
    // The first compile sizes what the compiler keeps (its name and string indexes).
    u64 usage = 0;
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        tmp_reset();
        EXPECT_FALSE(compile_from_file((u8*)custom.data(), custom.size(), &version));
        EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"Failed to find file '" + (dir / "inject.8") + "'."});
        EXPECT_EQ(global_compiler_state.source_files.count, 0u);
        EXPECT_EQ(global_compiler_state.source_files.data, nullptr);
        if (round) {
            EXPECT_EQ(allocator_usage(), usage);
        }
        usage = allocator_usage();
    }
}
