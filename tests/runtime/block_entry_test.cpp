// The layer entered where the editor enters it: the frame's #events with the window's
// events, the file view's #syntax, and the recompile the file watcher asks for. A probe in
// the block copies what the editor holds while the block runs: the locks, the events and
// the file it works on.
#include "tests/runtime/runtime_test_support.h"
#include "tests/editor/file_view_test_support.h"
#include "shell/file_watcher.h"
#include "shell/frame_driver.h"
#include "shell/layer_calls.h"
#include "shell/tabs.h"
#include "tests/layer_code.h"

namespace {

// What the editor held while the block ran, as the block's code copied it.
struct Probe {
    u64 runs;
    u64 sources_lock;
    u64 execution_lock;
    u64 events;
    u64 event_count;
    u64 file;
};
Probe probe;

void emit_u64(Test_Code* c, std::vector<u8> opcode, const void* address) {
    opcode.resize(opcode.size() + 8);
    store_u64(&opcode[opcode.size() - 8], (u64)address);
    emit_bytes(c, opcode);
}

// movabs rax, from; mov rax, [rax] (movzx eax, byte [rax]); movabs rcx, to; mov [rcx], rax
void emit_copy(Test_Code* c, const void* from, void* to, bool byte) {
    emit_u64(c, {0x48, 0xB8}, from);
    emit_bytes(c, byte ? std::vector<u8>{0x0F, 0xB6, 0x00} : std::vector<u8>{0x48, 0x8B, 0x00});
    emit_u64(c, {0x48, 0xB9}, to);
    emit_bytes(c, {0x48, 0x89, 0x01});
}

Test_Program make_probe_program(u32 Test_Program::* block) {
    Test_Program p;
    Test_Code c = begin_code();
    p.*block = code_offset(&c);
    emit_u64(&c, {0x48, 0xB8}, &probe.runs);
    emit_bytes(&c, {0x48, 0xFF, 0x00});  // inc qword [rax]
    emit_copy(&c, &custom_layer.sources_lock, &probe.sources_lock, true);
    emit_copy(&c, &custom_layer.execution_lock, &probe.execution_lock, true);
    emit_copy(&c, &custom_layer.events, &probe.events, false);
    emit_copy(&c, &custom_layer.event_count, &probe.event_count, false);
    emit_copy(&c, &custom_layer_execution_file, &probe.file, false);
    emit_bytes(&c, {0xC3});
    end_code(&c, &p);
    return p;
}

struct Block_Entry_Test : Runtime_Test {
    void SetUp() override {
        Runtime_Test::SetUp();
        SKIP_UNLESS_LAYER_CODE_RUNS();
        probe = {};
        window.event_count = 0;
    }
    void TearDown() override {
        window.event_count = 0;
        Runtime_Test::TearDown();
    }

    void load(u32 Test_Program::* block) {
        test_compiler.program = make_probe_program(block);
        ASSERT_TRUE(load_custom_layer(0));
    }

    void expect_no_lock_held() {
        EXPECT_EQ(custom_layer.sources_lock, 0);
        EXPECT_EQ(custom_layer.execution_lock, 0);
    }
};

}  // namespace

TEST_F(Block_Entry_Test, EventsRunUnderBothLocksWithTheFramesList) {
    load(&Test_Program::events);

    update_editor();
    EXPECT_EQ(probe.runs, 0u) << "a frame without events does not enter #events";

    window_push_input_event(&window, WINDOW_EVENT_CHARACTER, 'q', MODIFIER_SHIFT);
    window_push_input_event(&window, WINDOW_EVENT_MOUSE_BUTTON, 0, 0);  // no left press
    window_push_input_event(&window, WINDOW_EVENT_KEY_DOWN, 65, MODIFIER_CONTROL);
    update_editor();
    ASSERT_EQ(probe.runs, 1u);
    EXPECT_EQ(probe.sources_lock, 1u);
    EXPECT_EQ(probe.execution_lock, 1u);
    EXPECT_EQ(probe.file, 0u);
    ASSERT_EQ(probe.event_count, 2u);
    Custom_Layer_Event* seen = (Custom_Layer_Event*)probe.events;
    EXPECT_EQ(seen[0].kind, (u32)LAYER_EVENT_CHARACTER);
    EXPECT_EQ(seen[0].code, (u32)'q');
    EXPECT_EQ(seen[0].modifiers, MODIFIER_SHIFT);
    EXPECT_EQ(seen[1].kind, (u32)LAYER_EVENT_KEY_DOWN);
    EXPECT_EQ(seen[1].modifiers, MODIFIER_CONTROL);

    EXPECT_EQ(custom_layer.events, nullptr) << "the list lives for the call only";
    EXPECT_EQ(custom_layer.event_count, 0);
    expect_no_lock_held();

    {
        SCOPED_TRACE("an image without #events is never entered");
        load(&Test_Program::on_load);
        probe = {};
        update_editor();
        EXPECT_EQ(probe.runs, 0u);
        expect_no_lock_held();
    }
}

TEST_F(Block_Entry_Test, AFaultInEventsUnloadsTheLayerAndShowsTheReport) {
    test_compiler.program = make_block_program({0x31, 0xC0, 0x48, 0x8B, 0x00, 0xC3}, &Test_Program::events);
    ASSERT_TRUE(load_custom_layer(0));
    window_push_input_event(&window, WINDOW_EVENT_KEY_DOWN, 65, 0);
    update_editor();
    EXPECT_EQ(custom_layer.image, nullptr);
    expect_no_lock_held();
    EXPECT_EQ(first_compile_error(), "The custom layer stopped in #events: bad memory access at 0x0.");
    keep_compile_errors_tab_in_step();
    Tab* tab = get_current_tab();
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->kind, TAB_COMPILE_ERRORS);
    update_editor();  // nothing is loaded to enter
    EXPECT_EQ(custom_layer.image, nullptr);
}

TEST_F(Block_Entry_Test, SyntaxRunsOnTheDrawnFileUnderTheExecutionLock) {
    set_up_view_test_fonts();
    write_whole_file(path("text.c"), "int main() {\n    return 0;\n}\n");
    load(&Test_Program::syntax);
    Editor_File* file = add_a_file();
    Filepath file_path;
    std::string text_path = path("text.c");
    ASSERT_TRUE(string_to_filepath(&file_path, (u8*)text_path.data(), (s64)text_path.size()));
    ASSERT_TRUE(load_file(&file_path, file));
    View_Geometry g = {0, 0, 600, 400};

    run_view_frame(file, g, v2{-1, -1}, {});
    ASSERT_EQ(probe.runs, 1u);
    EXPECT_EQ(probe.execution_lock, 1u);
    EXPECT_EQ(probe.sources_lock, 0u);
    EXPECT_EQ(probe.file, (u64)file);
    EXPECT_EQ(atomic_load_u16(&file->flags) & FILE_NEEDS_SYNTAX, 0);
    expect_no_lock_held();

    run_view_frame(file, g, v2{-1, -1}, {});
    EXPECT_EQ(probe.runs, 1u) << "the same range, not marked: not coloured again";

    atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX | FILE_NO_SYNTAX);
    run_view_frame(file, g, v2{-1, -1}, {});
    EXPECT_EQ(probe.runs, 1u) << "a file left out of colouring";
    atomic_and_u16(&file->flags, (u16)~FILE_NO_SYNTAX);

    {
        SCOPED_TRACE("a layer without #syntax leaves the theme's colour");
        load(&Test_Program::on_load);
        probe = {};
        atomic_or_u16(&file->flags, FILE_NEEDS_SYNTAX);
        run_view_frame(file, g, v2{-1, -1}, {});
        EXPECT_EQ(probe.runs, 0u);
        EXPECT_EQ(file->palette.count, 0u);
        EXPECT_EQ(file->colour_chunks.count, 0u);
    }
    close_file(file);
}

TEST_F(Block_Entry_Test, TheWatchersRequestRecompilesAndAFailureWaitsForTheNextChange) {
    load(&Test_Program::on_load);
    ASSERT_EQ(test_compiler.compiles, 1u);
    u8* image = custom_layer.image;

    recompile_custom_layer_if_asked();
    EXPECT_EQ(test_compiler.compiles, 1u) << "nobody asked";
    EXPECT_FALSE(watch_layer_sources()) << "the sources are as the compile read them";

    write_whole_file(path("custom.8"), "#on_load { changed }\n");
    EXPECT_TRUE(watch_layer_sources());
    test_compiler.fail = true;
    recompile_custom_layer_if_asked();
    EXPECT_EQ(test_compiler.compiles, 2u);
    EXPECT_EQ(custom_layer.recompile_request, 0);
    expect_no_lock_held();
    EXPECT_EQ(custom_layer.image, image) << "a failed recompile keeps the layer";
    EXPECT_EQ(first_compile_error(), "The test compile fails.");
    EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    EXPECT_FALSE(watch_layer_sources()) << "asked once, not at every pass";

    write_whole_file(path("custom.8"), "#on_load { fixed }\n");
    EXPECT_TRUE(watch_layer_sources());
    test_compiler.fail = false;
    recompile_custom_layer_if_asked();
    EXPECT_EQ(test_compiler.compiles, 3u);
    EXPECT_NE(custom_layer.image, nullptr);
    EXPECT_EQ(probe.runs, 2u) << "#on_load of every layer installed";
    expect_no_lock_held();
}
