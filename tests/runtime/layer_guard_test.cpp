// The guard around layer code: faults in a block and blocks that run too long stop that
// block, unload the layer and report, the editor runs on and loads the next layer; faults
// outside layer code still end the process.
#include <signal.h>
#include <time.h>

#include "tests/runtime/runtime_test_support.h"
#include "tests/layer_code.h"
#include "tests/waiting.h"

namespace {

struct Layer_Guard_Test : Runtime_Test {
    void SetUp() override {
        Runtime_Test::SetUp();
        SKIP_UNLESS_LAYER_CODE_RUNS();
    }

    // Loads a program (its #on_load runs); then enters #events when it has one.
    b8 load_and_run(const Test_Program& program) {
        test_compiler.program = program;
        if (!compile_custom_layer(0)) return false;
        u8* events = get_events_block_entry_point(custom_layer.image);
        if (!events) return true;
        spin_lock(&custom_layer.sources_lock);
        spin_lock(&custom_layer.execution_lock);
        b8 finished = amd64_execute(events, nullptr);
        spin_unlock(&custom_layer.execution_lock);
        spin_unlock(&custom_layer.sources_lock);
        return finished;
    }

    void expect_stopped(const std::string& report) {
        EXPECT_EQ(first_compile_error(), report);
        EXPECT_NE(log_since_mark().find("ERROR #0x"), std::string::npos);
        EXPECT_NE(log_since_mark().find(report + "\n"), std::string::npos) << log_since_mark();
        EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
        EXPECT_EQ(custom_layer.image, nullptr);
        EXPECT_EQ(access(path(COMPILED_CUSTOM_LAYER_FILENAME).c_str(), F_OK), -1) << "a stopped image stays for reuse";
    }

    // The editor runs on: the next layer loads and runs.
    void expect_next_layer_runs() {
        global_flags = SHOULD_RUN;
        EXPECT_TRUE(load_and_run(make_log_program()));
        EXPECT_EQ(global_flags & SHOULD_RUN, 0u);
        EXPECT_NE(custom_layer.image, nullptr);
    }
};

double thread_processor_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// A loop through the dispatcher: nearly all its time is spent inside int_to_string.
Test_Program make_routine_loop_program() {
    Test_Program p;
    p.globals.assign(32, 0);
    Test_Code c = begin_code();
    u32 loop = code_offset(&c);
    emit_foreign_call(&c, ROUTINE_INT_TO_STRING, AMD64_OPERAND_GLOBAL_DATA, 0);
    std::vector<u8> jump = {0xE9, 0, 0, 0, 0};
    store_u32(&jump[1], (u32)(loop - (code_offset(&c) + 5)));
    emit_bytes(&c, jump);
    end_code(&c, &p);
    p.on_load = loop;
    return p;
}

}  // namespace

TEST_F(Layer_Guard_Test, FaultsInLayerCodeStopTheBlock) {
    struct Case {
        const char* name;
        std::vector<u8> code;
        u32 Test_Program::* block;
        const char* report;
    };
    const Case cases[] = {
        {"division by zero", {0x31, 0xC9, 0xB8, 1, 0, 0, 0, 0x99, 0xF7, 0xF9, 0xC3}, &Test_Program::on_load,
         "The custom layer stopped in #on_load: division by zero."},
        {"the lowest value divided by -1",
         {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x48, 0xC7, 0xC1, 0xFF, 0xFF, 0xFF, 0xFF, 0x48, 0x99, 0x48, 0xF7, 0xF9, 0xC3},
         &Test_Program::on_load, "The custom layer stopped in #on_load: division by zero."},
        {"reading address 0", {0x31, 0xC0, 0x48, 0x8B, 0x00, 0xC3}, &Test_Program::events,
         "The custom layer stopped in #events: bad memory access at 0x0."},
        {"writing near 0", {0xB8, 0x18, 0, 0, 0, 0xC6, 0x00, 1, 0xC3}, &Test_Program::events,
         "The custom layer stopped in #events: bad memory access at 0x18."},
        {"reading the kernel's half", {0x48, 0xB8, 0, 0, 0, 0, 0, 0x90, 0xFF, 0xFF, 0x8A, 0x00, 0xC3},
         &Test_Program::on_load, "The custom layer stopped in #on_load: bad memory access at 0xffff900000000000."},
        {"recursing forever", {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, &Test_Program::on_load,
         "The custom layer stopped in #on_load: runaway recursion."},
        {"an invalid instruction", {0x0F, 0x0B}, &Test_Program::events,
         "The custom layer stopped in #events: invalid instruction."},
        {"a trap", {0xCC, 0xC3}, &Test_Program::on_load, "The custom layer stopped in #on_load: trap."},
        {"a trap as the last octet", {0x90, 0xCC}, &Test_Program::events, "The custom layer stopped in #events: trap."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_mark = __global_log.used;
        global_flags = SHOULD_RUN;
        EXPECT_FALSE(load_and_run(make_block_program(c.code, c.block)));
        expect_stopped(c.report);
        expect_next_layer_runs();
    }
}

TEST_F(Layer_Guard_Test, AStoppedImageIsCompiledAgainAtTheNextStart) {
    EXPECT_FALSE(load_and_run(make_block_program({0x0F, 0x0B}, &Test_Program::on_load)));
    EXPECT_EQ(test_compiler.compiles, 1u);
    test_compiler.program = make_log_program();
    EXPECT_TRUE(compile_custom_layer(1));
    EXPECT_EQ(test_compiler.compiles, 2u);
}

TEST_F(Layer_Guard_Test, BlocksThatRunOnAreStopped) {
    // Short: the loop through the dispatcher fills temporary memory 32 octets a call.
    layer_runtime_settings.time_limit_milliseconds = 30;
    struct Case {
        const char* name;
        Test_Program program;
    };
    const Case cases[] = {
        {"an endless loop", make_block_program({0xEB, 0xFE}, &Test_Program::on_load)},
        // Mostly inside an editor routine: stopped between two calls, never inside one.
        {"a loop through the dispatcher", make_routine_loop_program()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tmp_reset();
        log_mark = __global_log.used;
        EXPECT_FALSE(load_and_run(c.program));
        expect_stopped("The custom layer stopped in #on_load: it ran for more than 5 seconds.");
        // Nothing the routine took is left held.
        EXPECT_TRUE(spin_try_lock(&log_lock));
        spin_unlock(&log_lock);
        expect_next_layer_runs();
    }
}

TEST_F(Layer_Guard_Test, ABlockThatEndsInTimeIsNotStoppedLater) {
    // The limit is short, so waiting past it costs little; the limit is on the wall clock, so
    // a loaded machine may keep the thread off the processor past it and the guard stops the
    // block by right. That run is tried again with the limit doubled, but only when the
    // thread used less processor time than the limit: its own work never ran that long.
    u32 limit = 50;
    b8 finished = false;
    double ended = 0;
    for (;;) {
        layer_runtime_settings.time_limit_milliseconds = limit;
        compile_errors.count = 0;
        double processor_before = thread_processor_seconds();
        finished = load_and_run(make_log_program());
        ended = test_clock_seconds();
        double processor = thread_processor_seconds() - processor_before;
        if (finished) break;
        ASSERT_LT(processor * 1000, limit) << "stopped after " << processor * 1000 << " ms of its own work";
        ASSERT_LT(limit, 10000u) << "preempted past every limit tried";
        limit *= 2;
    }
    u8* image = custom_layer.image;
    ASSERT_NE(image, nullptr);
    // The timer was armed before the block ended: past its limit and two retries it would have fired.
    double fired = ended + (limit + 2 * LAYER_TIMER_RETRY_MILLISECONDS) / 1000.0;
    EXPECT_TRUE(wait_for_condition([&] { return test_clock_seconds() > fired; }));
    EXPECT_EQ(custom_layer.image, image);
    EXPECT_EQ(compile_errors.count, 0u);
}

TEST_F(Layer_Guard_Test, FaultsOutsideLayerCodeReachTheHandlerBeforeIt) {
    EXPECT_TRUE(load_and_run(make_log_program()));  // the guard is in place from here
    EXPECT_DEATH(
        {
            volatile int* nowhere = nullptr;
            *nowhere = 1;
        },
        "");
    EXPECT_DEATH(raise(SIGILL), "");
}
