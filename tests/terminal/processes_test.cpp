// Real commands on real pseudo-terminals, without a window. Every test waits for its
// workers to let go of their blocks before it ends.
#include "terminal_test_support.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ui/window.h"
#include "tests/scratch.h"
#include "tests/waiting.h"

// The worker changes it under the lock when its command ends.
static int held_process(Terminal* t) {
    spin_lock(&t->lock);
    int id = t->process_id;
    spin_unlock(&t->lock);
    return id;
}

static void release(Terminal* t) {
    clear_terminal_history(t);
    atomic_and_u8(&t->flags, (u8)~TERMINAL_IN_USE);
}

TEST(TerminalProcessThreads, OutputAndStatusOfCommands) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        const char* text;  // null: not compared
        b8 failed;
    };
    static const Case cases[] = {
        {"output, then a failing exit", {"sh", "-ci", "echo hi; exit 3"}, "hi\r\n", true},
        {"success", {"sh", "-ci", "exit 0"}, "", false},
        {"ended by a signal", {"sh", "-ci", "kill -9 $$"}, nullptr, true},
        {"a program that does not exist", {"quarn-no-such-program"}, "cannot run quarn-no-such-program\r\n", true},
        {"coloured output is tokenised", {"printf", "\\033[31mred\\033[0m\\n"}, "\x1b[31mred\x1b[0m\r\n", false},
    };
    Terminal* t = make_test_terminal("/tmp");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(run_arguments(t, c.arguments));
        Terminal_Result* block = t->current_result;
        ASSERT_TRUE(wait_for_worker(block));
        if (c.text) {
            EXPECT_EQ(block_text(block), c.text);
        }
        u8 flags = atomic_load_u8(&block->flags);
        EXPECT_EQ((flags & TERMINAL_RESULT_FAILED) != 0, c.failed);
        EXPECT_EQ(flags & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING), 0);
        EXPECT_TRUE(flags & TERMINAL_RESULT_UPDATED);
        EXPECT_EQ(block->pty, -1);
        EXPECT_EQ(held_process(t), -1);
    }
    Terminal_Result* coloured = t->current_result;
    EXPECT_EQ(describe_tokens(coloured), "T\"red\" fg=0.5,0,0 bg=0,0,0 d=0 | N2");
    release(t);
}

TEST(TerminalProcessThreads, TheCommandLineIsSplitAndRunInTheTerminalsDirectory) {
    std::string directory = make_test_directory("terminal dir");
    ASSERT_FALSE(directory.empty());
    Terminal* t = make_test_terminal(directory);
    ASSERT_TRUE(terminal_execute(t, STR("sh"), STR("sh -c 'pwd; echo $TERM'")));
    Terminal_Result* block = t->current_result;
    EXPECT_EQ(std::string((char*)block->program.data, block->program.count), "sh");
    ASSERT_TRUE(wait_for_worker(block));
    EXPECT_EQ(block_text(block), directory + "\r\nvt100\r\n");

    // A directory that went away: the command does not run somewhere else instead.
    std::filesystem::remove(directory);
    ASSERT_TRUE(terminal_execute(t, STR("pwd"), STR("pwd")));
    ASSERT_TRUE(wait_for_worker(t->current_result));
    EXPECT_EQ(block_text(t->current_result), "cannot enter the directory " + directory + "\r\n");
    EXPECT_TRUE(t->current_result->flags & TERMINAL_RESULT_FAILED);

    // Nothing to run: no process, no block.
    u32 blocks = t->results.count;
    EXPECT_FALSE(terminal_execute(t, STR(""), STR("  ")));
    EXPECT_EQ(t->results.count, blocks);
    release(t);
}

TEST(TerminalProcessThreads, WhatACommandLeftRunningEndsWithIt) {
    Terminal* t = make_test_terminal("/tmp");
    ASSERT_TRUE(run_arguments(t, {"sh", "-ci", "sleep 1000 & echo $!"}));
    Terminal_Result* block = t->current_result;
    int session = held_process(t);
    ASSERT_TRUE(wait_for_worker(block));
    int sleeper = atoi(block_text(block).c_str());
    ASSERT_GT(sleeper, 0);
    EXPECT_EQ(live_processes_of_session(session), std::vector<int>{});
    // Reparented when its shell ended, it is gone or waits only to be reaped.
    std::ifstream status("/proc/" + std::to_string(sleeper) + "/status");
    std::string line, state = "gone";
    while (std::getline(status, line)) {
        if (line.rfind("State:", 0) == 0) state = line;
    }
    EXPECT_TRUE(state == "gone" || state.find('Z') != std::string::npos) << state;
    EXPECT_FALSE(block->flags & TERMINAL_RESULT_FAILED);
    release(t);
}

TEST(TerminalProcessThreads, TwoTerminalsKeepTheirOwnStatuses) {
    Terminal* slow = make_test_terminal("/tmp");
    Terminal* quick = make_test_terminal("/tmp");
    ASSERT_TRUE(run_arguments(slow, {"sh", "-c", "sleep 0.3; exit 0"}));
    ASSERT_TRUE(run_arguments(quick, {"sh", "-c", "exit 5"}));
    Terminal_Result* slow_block = slow->current_result;
    Terminal_Result* quick_block = quick->current_result;
    ASSERT_TRUE(wait_for_worker(quick_block));
    ASSERT_TRUE(wait_for_worker(slow_block));
    EXPECT_TRUE(quick_block->flags & TERMINAL_RESULT_FAILED);
    EXPECT_FALSE(slow_block->flags & TERMINAL_RESULT_FAILED);
    release(slow);
    release(quick);
}

// Each start kills the command before it; no worker may read, reap or kill for another.
TEST(TerminalProcessThreads, CommandsStartedWhileAnotherRunsKeepToTheirBlocks) {
    Terminal* t = make_test_terminal("/tmp");
    const int runs = 200;
    std::vector<Terminal_Result*> blocks;
    for (int i = 0; i < runs; i++) {
        std::string n = std::to_string(i);
        ASSERT_TRUE(run_arguments(t, {"sh", "-c", "echo N" + n + "; exec sleep 5"}, "run " + n));
        blocks.push_back(t->current_result);
        if (i % 3 == 0) usleep(2000);  // now and then the output is in before the next start
    }
    EXPECT_TRUE(kill_terminal_process(t));
    for (int i = 0; i < runs; i++) {
        Terminal_Result* block = blocks[i];
        ASSERT_TRUE(wait_for_worker(block)) << i;
        std::string text = block_text(block);
        EXPECT_TRUE(text.empty() || text == "N" + std::to_string(i) + "\r\n") << i << ": " << text;
        EXPECT_EQ(std::string((char*)block->command.data, block->command.count), "run " + std::to_string(i));
        EXPECT_EQ(atomic_load_u8(&block->flags) & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING), 0) << i;
        EXPECT_TRUE(block->flags & TERMINAL_RESULT_FAILED) << i;  // each was killed
    }
    release(t);
}

TEST(TerminalProcessThreads, ASecondKillSignalsNothing) {
    Terminal* t = make_test_terminal("/tmp");
    EXPECT_FALSE(kill_terminal_process(t));  // nothing runs yet
    ASSERT_TRUE(run_arguments(t, {"sleep", "100"}));
    Terminal_Result* block = t->current_result;
    int leader = held_process(t);
    EXPECT_TRUE(atomic_load_u8(&t->flags) & TERMINAL_WORKER_STARTED);
    EXPECT_TRUE(kill_terminal_process(t));
    EXPECT_FALSE(kill_terminal_process(t));
    EXPECT_FALSE(atomic_load_u8(&t->flags) & TERMINAL_WORKER_STARTED);
    EXPECT_EQ(held_process(t), -1);
    ASSERT_TRUE(wait_for_worker(block));
    EXPECT_TRUE(block->flags & TERMINAL_RESULT_FAILED);
    EXPECT_EQ(live_processes_of_session(leader), std::vector<int>{});
    release(t);
}

static std::vector<std::string> notification_for(const std::string& command) {
    std::vector<std::string> found;
    wait_for_condition([&] {
        for (const std::vector<std::string>& n : recorded_notifications()) {
            if (!n.empty() && n.back() == command) found = n;
        }
        return !found.empty();
    });
    return found;
}

TEST(TerminalProcessThreads, TheDesktopHearsOfTheEndWhileTheWindowIsNotFocused) {
    Terminal* t = make_test_terminal("/tmp");
    atomic_store_u8(&window_is_focused, 0);
    struct Case {
        std::string command;
        std::vector<std::string> arguments;
        const char* title;
    };
    const Case cases[] = {
        {"false \"quoted\" $HOME", {"sh", "-c", "exit 1"}, "Failure"},
        {"true 'it worked'", {"sh", "-c", "exit 0"}, "Success"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(run_arguments(t, c.arguments, c.command));
        ASSERT_TRUE(wait_for_worker(t->current_result));
        EXPECT_EQ(notification_for(c.command), (std::vector<std::string>{"-a", "quarn", c.title, c.command}));
    }
    atomic_store_u8(&window_is_focused, 1);
    std::string focused = "echo focused";
    ASSERT_TRUE(run_arguments(t, {"sh", "-c", "exit 0"}, focused));
    ASSERT_TRUE(wait_for_worker(t->current_result));
    for (const std::vector<std::string>& n : recorded_notifications()) EXPECT_NE(n.back(), focused);
    release(t);
}
