// The runtime tests' fixtures: memory and the compiler set up once, a scratch directory per
// test, programs made with the encoder, and stand-ins for the compile pipeline and the
// bytecode generator's relocation tables, which the compiler does not provide yet.
#include "tests/runtime/runtime_test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/tabs.h"
#include "tests/scratch.h"

Test_Compiler test_compiler;

namespace {

struct Runtime_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/nonexistent")));
        ASSERT_TRUE(init_logging());
        static std::string logs = test_scratch_root() + "/logs";
        set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
        setup_foreign_routines_table();
        connect_parser_routines();
    }
};
::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new Runtime_Environment);

std::string directory_text;  // what executable_filepath points at

}  // namespace

//~ Files

void write_whole_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

void set_modification_time(const std::string& path, s64 seconds, s64 nanoseconds) {
    struct timespec times[2] = {{(time_t)seconds, (long)nanoseconds}, {(time_t)seconds, (long)nanoseconds}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

//~ The fixture

void Runtime_Test::SetUp() {
    directory = make_test_directory("runtime");
    ASSERT_FALSE(directory.empty());
    directory_text = directory;
    executable_filepath = String{(u8*)directory_text.data(), (s64)directory_text.size()};
    write_whole_file(path("inject.8"), "// inject\n");
    write_whole_file(path("api.8"), "// api\n");
    write_whole_file(path("custom.8"), "#on_load {}\n");

    init_custom_layer();
    init_tabs();
    reset_layer_sources();
    compile_errors.count = 0;
    global_flags = SHOULD_RUN;
    layer_runtime_settings = Layer_Runtime_Settings{LAYER_TIME_LIMIT_MILLISECONDS, false, 0};
    test_compiler = Test_Compiler{};
    log_mark = __global_log.used;
}

void Runtime_Test::TearDown() {
    spin_lock(&custom_layer.execution_lock);
    unload_custom_layer();
    spin_unlock(&custom_layer.execution_lock);
    // The next test of the suite starts a new list in the same process.
    dynamic_array_free(&tabs);
    std::error_code ignored;
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(directory, ignored);
    executable_filepath = String{};
    tmp_reset();
    // A long test may fill the log; the next starts with room.
    if (__global_log.used > LOGGING_MEMORY / 2) __global_log.used = 0;
}

std::string Runtime_Test::log_since_mark() const {
    if (__global_log.used < log_mark) return std::string((char*)__global_log.memory, __global_log.used);
    return std::string((char*)__global_log.memory + log_mark, __global_log.used - log_mark);
}

std::string Runtime_Test::first_compile_error() const {
    if (compile_errors.count == 0) return "";
    return std::string((char*)((Compile_Error*)compile_errors.data)->message);
}

// Records the sources as the parser does when it reads them, then writes the program.
b8 compile_from_file(u8* path, u64 length, Version_Info* version) {
    test_compiler.compiles++;
    reset_compiler();
    std::vector<std::string> sources = test_compiler.program.sources;
    if (sources.empty()) {
        std::string d((char*)executable_filepath.data, executable_filepath.count);
        sources = {d + "/inject.8", d + "/api.8", d + "/custom.8"};
    }
    for (const std::string& s : sources) {
        u64 size, time;
        b8 found = stat_layer_source(s.c_str(), &size, &time);
        record_layer_source((u8*)s.data(), s.size(), found, size, time);
    }
    if (test_compiler.fail) {
        print_error("The test compile fails.");
        return false;
    }
    b8 written = write_test_image(test_compiler.program);
    if (test_compiler.remove_image) unlink((char*)get_layer_image_path_tmp().data);
    return written;
}
