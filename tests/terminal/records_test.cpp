#include "terminal_test_support.h"

#include <fcntl.h>
#include <unistd.h>

static std::string directory_of(Terminal* t) {
    String joined = filepath_to_tmp_string(&t->directory);
    return std::string((char*)joined.data, joined.count);
}

TEST(TerminalRecords, ATerminalWhoseTabClosedIsReusedEmptyInTheNewDirectory) {
    Terminal* first = make_test_terminal("/tmp/one");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->flags, TERMINAL_IN_USE);
    EXPECT_EQ(first->process_id, -1);
    EXPECT_EQ(directory_of(first), "/tmp/one");
    Terminal* second = make_test_terminal("/tmp/two");
    EXPECT_NE(second, first);

    ASSERT_NE(add_a_terminal_result(first, STR("ls")), nullptr);
    ASSERT_NE(add_a_terminal_result(first, STR("pwd")), nullptr);
    EXPECT_TRUE(terminal_history_append(&first->command_history, STR("ls")));
    Bucket_Array results = first->results;

    // The tab closes: its history goes, then the terminal is free.
    clear_terminal_history(first);
    EXPECT_EQ(first->results.count, 0u);
    atomic_and_u8(&first->flags, (u8)~TERMINAL_IN_USE);

    Terminal* again = make_test_terminal("/srv/x");
    EXPECT_EQ(again, first);
    EXPECT_EQ(directory_of(again), "/srv/x");
    EXPECT_EQ(again->results.count, 0u);
    EXPECT_EQ(again->results.first_bucket, results.first_bucket);  // block storage kept
    EXPECT_EQ(again->command_history.count, 0u);
    EXPECT_EQ(again->command_history.element_size, sizeof(Terminal_History_Entry));
    EXPECT_EQ(again->flags, TERMINAL_IN_USE);

    Terminal_Result* block = add_a_terminal_result(again, STR("echo"));
    EXPECT_EQ((Terminal_Result*)again->results.first_element, block);
    clear_terminal_history(again);
    clear_terminal_history(second);
}

TEST(TerminalRecords, ABlockCopiesItsCommandAndNamesItsProgram) {
    Terminal* t = make_test_terminal("/tmp");
    EXPECT_TRUE(terminal_history_append(&t->input_history, STR("typed")));
    t->input_history_position = 1;

    std::string line = " \t make -j6";
    Terminal_Result* block = add_a_terminal_result(t, test_string(line));
    ASSERT_NE(block, nullptr);
    line[4] = 'X';  // the block keeps its own copy
    EXPECT_EQ(std::string((char*)block->command.data, block->command.count), " \t make -j6");
    EXPECT_EQ(std::string((char*)block->program.data, block->program.count), "make");
    EXPECT_EQ(block->flags, 0);
    EXPECT_EQ(block->default_colour, 1);
    EXPECT_EQ(describe_colour(block->foreground), "1,1,1");
    EXPECT_EQ(describe_colour(block->background), "0,0,0");
    EXPECT_EQ(block->line_count, 1u);
    EXPECT_EQ(t->input_history.count, 0u);
    EXPECT_EQ(t->input_history_position, 0u);

    Terminal_Result* empty = add_a_terminal_result(t, STR(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->command.count, 0);
    EXPECT_EQ(empty->program.count, 0);
    EXPECT_EQ(block->next, empty);
    clear_terminal_history(t);
    atomic_and_u8(&t->flags, (u8)~TERMINAL_IN_USE);
}

TEST(TerminalRecords, HistoryKeepsNoRepeatsAndNoCutLines) {
    Dynamic_Array history;
    init_dynamic_array(&history, sizeof(Terminal_History_Entry));
    std::string longest(TERMINAL_HISTORY_TEXT_SIZE, 'x');
    std::string too_long(TERMINAL_HISTORY_TEXT_SIZE + 1, 'x');
    struct Step {
        std::string line;
        b8 appended;
    };
    const Step steps[] = {
        {"ls", true}, {"ls", false}, {"pwd", true}, {"ls", true}, {longest, true}, {too_long, false}, {"", true},
    };
    for (const Step& s : steps) EXPECT_EQ(terminal_history_append(&history, test_string(s.line)), s.appended) << s.line.size();
    ASSERT_EQ(history.count, 5u);
    Terminal_History_Entry* entries = (Terminal_History_Entry*)history.data;
    std::vector<std::string> got;
    for (u32 i = 0; i < history.count; i++) {
        EXPECT_EQ(entries[i].text.data, entries[i].storage);  // still its own after the array moved
        got.emplace_back((char*)entries[i].text.data, entries[i].text.count);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"ls", "pwd", "ls", longest, ""}));
    dynamic_array_free(&history);
}

// A block that reaches its limit starts over at the next read, with its colours and its
// selection: token indexes of the old text would point past the new tokens.
TEST(TerminalRecords, AFullBlockStartsOverBeforeTheNextRead) {
    Test_Block b;
    b.feed("\x1b[32mgreen\n");
    std::string filler(MAX_TERMINAL_BUFFER_SIZE - TERMINAL_READ_SIZE - b.block.text.count, 'f');
    b.feed(filler);
    b.block.selection_start = {0, 2};
    b.block.selection_end = {1, 0};

    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], "next", 4), 4);
    EXPECT_EQ(terminal_read_from_pipe(&b.block, pipe_ends[0], false, false), 2);
    EXPECT_EQ(block_text(&b.block), "next");
    EXPECT_EQ(describe_tokens(&b.block), "T\"next\" fg=1,1,1 bg=0,0,0 d=1");
    EXPECT_EQ(b.block.line_count, 1u);
    EXPECT_EQ(b.block.selection_start.token, 0u);
    EXPECT_EQ(b.block.selection_start.offset, 0u);
    EXPECT_EQ(b.block.selection_end.token, 0u);
    EXPECT_TRUE(b.block.flags & TERMINAL_RESULT_UPDATED);
    EXPECT_FALSE(b.block.flags & TERMINAL_RESULT_FAILED);

    // Under the limit nothing is dropped; mark failed marks it.
    ASSERT_EQ(write(pipe_ends[1], "more", 4), 4);
    EXPECT_EQ(terminal_read_from_pipe(&b.block, pipe_ends[0], true, false), 2);
    EXPECT_EQ(block_text(&b.block), "nextmore");
    EXPECT_TRUE(b.block.flags & TERMINAL_RESULT_FAILED);

    // Nothing to read: wait while the process runs, stop once it ended; the end of the
    // other side stops reading.
    EXPECT_EQ(terminal_read_from_pipe(&b.block, pipe_ends[0], false, false), 1);
    EXPECT_EQ(terminal_read_from_pipe(&b.block, pipe_ends[0], false, true), 0);
    close(pipe_ends[1]);
    EXPECT_EQ(terminal_read_from_pipe(&b.block, pipe_ends[0], false, false), 0);
    close(pipe_ends[0]);
}
