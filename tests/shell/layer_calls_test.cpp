// The layer's compile through the real pipeline, as the editor starts and as the watcher
// asks for it: a failed compile shows its report and watches the sources it read or tried
// to, a changed source compiles again, and a failed recompile keeps the layer that runs.
#include <gtest/gtest.h>

#include <string>

#include "compiler/core/compiler_core.h"
#include "runtime/runtime.h"
#include "shell/shell.h"
#include "tests/runtime/runtime_test_images.h"
#include "tests/shell/shell_test_support.h"
#include "tests/layer_code.h"
#include "tests/ui/archive_fonts.h"

namespace {

// A text the tokeniser refuses, whatever the parser can do.
const char UNTOKENISABLE[] = "\"a string that never ends\n";

struct Layer_Calls_Test : ::testing::Test {
    std::string directory;

    void SetUp() override {
        SKIP_UNLESS_LAYER_CODE_RUNS();
        directory = make_scratch_directory();
        ASSERT_FALSE(directory.empty());
        // The layer's files beside the "executable", and the support sources there too.
        executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
        global_compiler_state.base_directory = executable_filepath;
        reset_tabs_and_commands();
        init_custom_layer();
        compile_errors.count = 0;
        write_test_file(path("custom.8"), "#on_load {}\n");
    }
    void TearDown() override {
        spin_lock(&custom_layer.execution_lock);
        unload_custom_layer();
        spin_unlock(&custom_layer.execution_lock);
        reset_tabs_and_commands();
        compile_errors.count = 0;
        executable_filepath = String{};
        global_compiler_state.base_directory = String{};
        remove_scratch_directory(directory);
    }

    std::string path(const char* name) const { return directory + "/" + name; }

    Compile_Error* first_error() { return compile_errors.count ? (Compile_Error*)compile_errors.data : nullptr; }
    std::string first_error_path() {
        Compile_Error* e = first_error();
        return e ? std::string((char*)e->path, e->path_length) : "";
    }
    std::string first_error_message() {
        Compile_Error* e = first_error();
        return e ? std::string((char*)e->message, e->message_length) : "";
    }

    bool watches(const std::string& source) {
        Layer_Source_View view = custom_layer.watched_sources;
        for (u32 i = 0; i < view.count; i++) {
            Layer_Source_Entry* row = (Layer_Source_Entry*)(view.entries + (u64)i * view.stride);
            if (std::string((char*)row->name, row->name_length) == source) return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(Layer_Calls_Test, AFailedFirstCompileIsShownAndAChangedSourceCompilesAgain) {
    EXPECT_FALSE(load_custom_layer(1));
    EXPECT_EQ(custom_layer.image, nullptr);
    EXPECT_EQ(first_error_message(), "Failed to find file '" + path("inject.8") + "'.");
    EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    keep_compile_errors_tab_in_step();
    ASSERT_NE(get_current_tab(), nullptr);
    EXPECT_EQ(get_current_tab()->kind, TAB_COMPILE_ERRORS);

    for (const char* name : {"inject.8", "api.8", "custom.8"}) EXPECT_TRUE(watches(path(name))) << name;
    EXPECT_FALSE(watch_layer_sources()) << "nothing changed since the compile";

    // The missing support source appears: the watcher asks, the next frame compiles it.
    write_test_file(path("inject.8"), UNTOKENISABLE);
    EXPECT_TRUE(watch_layer_sources());
    recompile_custom_layer_if_asked();
    EXPECT_EQ(custom_layer.recompile_request, 0);
    EXPECT_EQ(custom_layer.sources_lock, 0);
    EXPECT_EQ(custom_layer.execution_lock, 0);
    EXPECT_EQ(first_error_path(), path("inject.8")) << first_error_message();

    // The compiler recorded the file it read, as it saw it.
    std::string inject = path("inject.8");
    Layer_Source_Record* record = find_layer_source(String{(u8*)inject.data(), (s64)inject.size()});
    ASSERT_NE(record, nullptr);
    u64 size, time;
    ASSERT_TRUE(stat_layer_source(inject.c_str(), &size, &time));
    EXPECT_EQ(record->size, size);
    EXPECT_EQ(record->modification_time, time);
    EXPECT_FALSE(watch_layer_sources()) << "a failed recompile waits for the next change";
}

TEST_F(Layer_Calls_Test, AFailedRecompileKeepsTheLayerThatRuns) {
    write_test_file(path("inject.8"), UNTOKENISABLE);
    reset_layer_sources();
    ASSERT_TRUE(write_test_image(Test_Program{}));  // current: its sources are as they are now
    u64 mark = log_mark();
    ASSERT_TRUE(load_custom_layer(1));
    EXPECT_NE(log_since(mark).find("Loaded custom layer from '" + path("custom.8b") + "' without compiling."),
              std::string::npos);
    u8* image = custom_layer.image;
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(compile_errors.count, 0u);

    write_test_file(path("custom.8"), "#on_load { changed }\n");
    EXPECT_TRUE(watch_layer_sources());
    recompile_custom_layer_if_asked();
    EXPECT_EQ(custom_layer.image, image);
    EXPECT_EQ(first_error_path(), path("inject.8"));
    EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    EXPECT_FALSE(watch_layer_sources());
}

TEST_F(Layer_Calls_Test, ALayerStoppedByAKeyHasItsReportBroughtForwardInTheNextFrameAtOnce) {
    if (amd64_missing_cpu_features()) GTEST_SKIP() << "this processor cannot run layer code";
    ASSERT_TRUE(set_up_archive_fonts(20));
    executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
    if (!renderer_info.width) renderer_info = Renderer_Info{800, 600, nullptr};
    // #events reads address 0; an image without sources loads as it is.
    reset_layer_sources();
    ASSERT_TRUE(write_test_image(make_block_program({0x48, 0x8B, 0x04, 0x25, 0, 0, 0, 0, 0xC3}, &Test_Program::events)));
    ASSERT_TRUE(load_custom_layer(1));
    compile_errors.count = 0;
    atomic_and_u64(&global_flags, ~(u64)DISPLAY_COMPILE_ERRORS);

    // The key's frame stops the layer after the compile-errors tab had its turn: it asks
    // for the next frame, which brings the report's tab forward.
    window.event_count = 0;
    window_push_input_event(&window, WINDOW_EVENT_KEY_DOWN, 'A', 0);
    prepare_frame();
    ui_begin_frame_with_mouse(v2{-100, -100});
    draw_and_update_editor(v2{0, 0}, v2{800, 600});
    EXPECT_EQ(custom_layer.image, nullptr);
    EXPECT_NE(ui_flags & UI_KEEP_RUNNING, 0);
    window.event_count = 0;
    prepare_frame();
    ui_begin_frame_with_mouse(v2{-100, -100});
    draw_and_update_editor(v2{0, 0}, v2{800, 600});
    ASSERT_NE(get_current_tab(), nullptr);
    EXPECT_EQ(get_current_tab()->kind, TAB_COMPILE_ERRORS);
}
