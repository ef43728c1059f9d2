// What the runtime tests share: a scratch folder that stands for the executable's
// directory, a stand-in compiler that turns a program of runtime_test_images.h into
// "custom.8b" through the real image writer, and a look at the log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/process_test_support.h"  // read_whole_file
#include "tests/runtime/runtime_test_images.h"
#include "editor/editor_state.h"

// What the stand-in compile_from_file does, and how often it ran.
struct Test_Compiler {
    u32 compiles;
    b8 fail;
    b8 remove_image;  // the compile succeeds, but leaves no image behind
    Test_Program program;
};

extern Test_Compiler test_compiler;

// A scratch directory that stands for the executable's, with inject.8, api.8 and custom.8 in
// it; the layer runtime, the tabs, the compile errors and the flags start over.
struct Runtime_Test : ::testing::Test {
    std::string directory;
    u64 log_mark;
    void SetUp() override;
    void TearDown() override;
    std::string path(const char* name) const { return directory + "/" + name; }
    std::string log_since_mark() const;
    std::string first_compile_error() const;
};

void write_whole_file(const std::string& path, const std::string& text);
void set_modification_time(const std::string& path, s64 seconds, s64 nanoseconds);
