// A layer's mistakes that reach into the editor's routines stop the layer, never the
// editor: recursion that uses the stack up through a routine, and addresses no routine can
// read or write. Each runs in #on_load of a layer compiled with the shipped inject.8 and
// api.8 and loaded as the editor loads it, with the real dispatcher.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/core/compiler_core.h"
#include "editor/editor.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "runtime/runtime.h"
#include "tests/scratch.h"
#include "tests/test_files.h"

namespace {


std::string hex(const void* address) {
    char text[32];
    snprintf(text, sizeof(text), "0x%llx", (unsigned long long)(u64)address);
    return text;
}

struct Layer_Faults : ::testing::Test {
    std::string directory;

    void SetUp() override {
        directory = make_test_directory("layer-faults");
        ASSERT_FALSE(directory.empty());
        for (const char* name : {"inject.8", "api.8"}) {
            write_test_file(directory + "/" + name, read_test_file(std::string(QUARN_LAYER_SOURCES) + "/" + name));
        }
        executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
        global_compiler_state.base_directory = executable_filepath;
        init_custom_layer();
        compile_errors.count = 0;
    }
    void TearDown() override {
        spin_lock(&custom_layer.execution_lock);
        unload_custom_layer();
        spin_unlock(&custom_layer.execution_lock);
        compile_errors.count = 0;
        executable_filepath = String{};
        global_compiler_state.base_directory = String{};
        std::filesystem::remove_all(directory);
        tmp_reset();
    }

    std::string first_error() const {
        return compile_errors.count ? std::string((char*)((Compile_Error*)compile_errors.data)->message) : "";
    }
    std::string log_since(u64 mark) const {
        if (__global_log.used < mark) return "";
        return std::string((char*)__global_log.memory + mark, __global_log.used - mark);
    }
};

}  // namespace

TEST_F(Layer_Faults, MistakesInsideRoutinesStopTheLayerNotTheEditor) {
    if (amd64_missing_cpu_features()) GTEST_SKIP() << "this processor cannot run layer code";
    // Three readable octets just before a page that cannot be read.
    u64 page = (u64)sysconf(_SC_PAGESIZE);
    u8* guarded = (u8*)mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guarded, MAP_FAILED);
    ASSERT_EQ(mprotect(guarded + page, page, PROT_NONE), 0);
    memcpy(guarded + page - 3, "abc", 3);
    const std::string stopped = "The custom layer stopped in #on_load: ";
    struct Case {
        std::string name;
        std::string source;  // a sub-program r that #on_load calls with 0
        std::string report;
    };
    const Case cases[] = {
        {"recursion that logs", "$r: (n: s64) -> s64 = { log(\"depth %\", .[int_to_string(n)]); return r(n + 1) + 1; };",
         stopped + "runaway recursion."},
        {"recursion through a small routine", "$r: (n: s64) -> s64 = { return r(n + get_cursor_offset() + 1) + 1; };",
         stopped + "runaway recursion."},
        {"a text outside the address space",
         "$r: (n: s64) -> s64 = { s: String; s.data = cast(9000000000000000000, @u8); s.count = 100; insert_text(s, 1); "
         "return n; };",
         stopped + "insert_text was handed the bad address 0x7ce66c50e2840000."},
        {"a text that runs into a page without access",
         "$r: (n: s64) -> s64 = { s: String; s.data = cast(" + std::to_string((u64)guarded + page - 3) +
             ", @u8); s.count = 100; insert_text_at(s, 0); return n; };",
         stopped + "insert_text_at was handed the bad address " + hex(guarded + page) + "."},
        {"a text that wraps around the address space",
         "$r: (n: s64) -> s64 = { s := \"abc\"; s.count = 9223372036854775807; s.data = cast(9223372036854775810, @u8); "
         "insert_text(s, 1); return n; };",
         stopped + "insert_text was handed the bad address 0x8000000000000002."},
        {"a logged value at page 1",
         "$r: (n: s64) -> s64 = { s: String; s.data = cast(4096, @u8); s.count = 10; log(\"%\", .[s]); return n; };",
         stopped + "log was handed the bad address 0x1000."},
        {"values at a bad address",
         "$r: (n: s64) -> s64 = { v: [] String; v.data = cast(64, @String); v.count = 2; log(\"% %\", v); return n; };",
         stopped + "log was handed the bad address 0x40."},
        {"a token to fill at a bad address", "$r: (n: s64) -> s64 = { return get_next_token(0, cast(16, @Editor_Token)); };",
         stopped + "get_next_token was handed the bad address 0x10."},
        {"results to write at a bad address",
         "$r: (n: s64) -> s64 = { depth: s32; quote: u8; start: u64;\n"
         "    get_syntax_highlighting_info(@start, cast(24, @u64), @depth, @quote); return n; };",
         stopped + "get_syntax_highlighting_info was handed the bad address 0x18."},
        {"a directory at a bad address",
         "$r: (n: s64) -> s64 = { d: [] String; d.data = cast(128, @String); d.count = 3; run_terminal_command(\"ls\", d); "
         "return n; };",
         stopped + "run_terminal_command was handed the bad address 0x80."},
        {"hints at a bad address, behind other settings",
         "$r: (n: s64) -> s64 = { settings: Layer_Settings; settings.tab_width = 9; settings.font_size = 30.0;\n"
         "    settings.hints.data = cast(256, @Layer_Tokenisation_Hint); settings.hints.count = 1; set_settings(settings); "
         "return n; };",
         stopped + "set_settings was handed the bad address 0x100."},
    };
    // A file to act on, so no routine returns before it reads what it was handed.
    Editor_File* file = add_a_file();
    ASSERT_NE(file, nullptr);
    memcpy(dynamic_array_add_fast_multiple(&file->text, 5), "hello", 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        current_file = file;
        u8 tab_width = editor_settings.tab_width;
        u32 text_count = file->text.count;
        write_test_file(directory + "/custom.8", c.source + "\n#on_load { r(0); }\n");
        u64 mark = __global_log.used;
        EXPECT_FALSE(compile_custom_layer(0));
        EXPECT_EQ(custom_layer.image, nullptr);
        EXPECT_EQ(first_error(), c.report);
        EXPECT_NE(log_since(mark).find(c.report + "\n"), std::string::npos);
        // Nothing the routine was in the middle of stays held or half done.
        EXPECT_EQ(editor_settings.tab_width, tab_width);
        EXPECT_EQ(file->text.count, text_count);
        for (u8* lock : {&log_lock, &tabs_read_lock, &custom_layer.execution_lock, &custom_layer.sources_lock}) {
            EXPECT_TRUE(spin_try_lock(lock));
            spin_unlock(lock);
        }
        tmp_reset();
        if (__global_log.used > LOGGING_MEMORY / 2) write_log_file();

        // The editor runs on: the next layer loads and runs.
        compile_errors.count = 0;
        write_test_file(directory + "/custom.8", "#on_load { log(\"%\", .[\"next layer\"]); }\n");
        mark = __global_log.used;
        EXPECT_TRUE(compile_custom_layer(0)) << first_error();
        EXPECT_NE(log_since(mark).find("Info: next layer\n"), std::string::npos);
        compile_errors.count = 0;
    }
    current_file = nullptr;
    close_file(file);
    munmap(guarded, 2 * page);
}

// Long loops in one block: a block that logs many thousand times keeps every line, and one
// that uses its temporary memory up fills neither the log nor the disk with the same error.
TEST_F(Layer_Faults, LongLoopsKeepTheLogWholeAndBounded) {
    if (amd64_missing_cpu_features()) GTEST_SKIP() << "this processor cannot run layer code";
    struct Case {
        std::string name;
        std::string block;
        std::string expected;  // in the log after the block
        u32 memory_errors;     // "Temporary memory full" lines
    };
    const Case cases[] = {
        {"a hundred thousand lines", "for 100000 { log(\"%\", .[\"again\"]); } log(\"%\", .[\"the last line\"]);",
         "Info: again\nInfo: the last line\n", 0},
        // The arena holds about 330,000 of these texts; the rest of the loop asks in vain.
        {"temporary memory used up", "t: s64 = 0; for 600000 { s := int_to_string(7); t += s.count; }",
         "Info: the line above was repeated ", 1},
    };
    const std::string previous_logs((char*)__global_log.directory.data, (size_t)__global_log.directory.count);
    const u32 time_limit = layer_runtime_settings.time_limit_milliseconds;
    // Long enough for a loaded machine under the sanitizers; a block that is stopped fails below.
    layer_runtime_settings.time_limit_milliseconds = 300000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_log_file();
        const std::string logs = directory + "/logs-" + std::to_string(&c - cases);
        set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
        write_test_file(directory + "/custom.8", "#on_load { " + c.block + " }\n");
        EXPECT_TRUE(compile_custom_layer(0)) << first_error();
        compile_errors.count = 0;
        write_log_file();

        u32 files = 0;
        std::string all;
        for (auto& entry : std::filesystem::directory_iterator(logs)) {
            files++;
            all += read_test_file(entry.path().string());
        }
        EXPECT_LE(files, NUM_LOG_FILES_TO_KEEP + 1u);
        EXPECT_NE(all.find(c.expected), std::string::npos) << all.substr(all.size() > 2000 ? all.size() - 2000 : 0);
        u32 memory_errors = 0;
        for (size_t at = all.find("Temporary memory full"); at != std::string::npos;
             at = all.find("Temporary memory full", at + 1)) {
            memory_errors++;
        }
        EXPECT_EQ(memory_errors, c.memory_errors);
    }
    layer_runtime_settings.time_limit_milliseconds = time_limit;
    set_log_directory(String{(u8*)previous_logs.data(), (s64)previous_logs.size()});
}
