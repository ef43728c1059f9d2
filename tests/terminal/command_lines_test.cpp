// Confirming a terminal's input line, on real pseudo-terminals without a window: the cd
// and clear built-ins, shell command lines as typed, input for a running command, PATH
// from an environment file of the test's own, and the walk through the histories.
#include "terminal_test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include "tests/scratch.h"

namespace {

std::string terminal_directory(Terminal* t) {
    String joined = filepath_to_tmp_string(&t->directory);
    return std::string((char*)joined.data, joined.count);
}

std::string command_of(Terminal_Result* block) { return std::string((char*)block->command.data, block->command.count); }

std::vector<std::string> history_of(Dynamic_Array* history) {
    std::vector<std::string> out;
    Terminal_History_Entry* entries = (Terminal_History_Entry*)history->data;
    for (u32 i = 0; i < history->count; i++) out.push_back(std::string((char*)entries[i].text.data, entries[i].text.count));
    return out;
}

Terminal_Result* last_block(Terminal* t) {
    return t->results.count ? (Terminal_Result*)bucket_array_get_element(&t->results, t->results.count - 1) : nullptr;
}

std::string make_fixture_directory() {
    std::string made = make_test_directory("command-lines");
    EXPECT_FALSE(made.empty());
    return made;
}

}  // namespace

TEST(TerminalCommandLineThreads, CdChangesTheDirectoryOrSaysWhyNot) {
    std::string base = make_fixture_directory();
    std::filesystem::create_directories(base + "/a");
    std::filesystem::create_directories(base + "/b/c");
    std::filesystem::create_directories(base + "/home/x");
    std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", (base + "/home").c_str(), 1);
    std::string long_name(300, 'n');

    struct Case {
        std::string name, start, line, directory, message;  // an empty message: not failed
    };
    const Case cases[] = {
        {"up one", base + "/a", "cd ..", base, ""},
        {"up, across and through dots", base + "/a", "cd ../b/./c", base + "/b/c", ""},
        {"backslashes as slashes", base + "/a", "cd ..\\b\\c", base + "/b/c", ""},
        {"a directory that is not there", base + "/a", "cd missing", base + "/a",
         "Directory '" + base + "/a/missing' does not seem to exist."},
        {"up from the root", "/", "cd ..", "/", "Directory '' does not seem to exist."},
        {"absolute", base + "/a", "cd /tmp", "/tmp", ""},
        {"absolute with dots", base + "/a", "cd /tmp/../tmp/.", "/tmp", ""},
        {"home", base + "/a", "cd ~", base + "/home", ""},
        {"below home", "/", "cd  ~/x", base + "/home/x", ""},
        {"another user's home", base + "/a", "cd ~nobody", base + "/a", "Directory '~nobody' does not seem to exist."},
        {"a name longer than a path component holds", base, "cd " + long_name, base,
         "Directory '" + long_name + "' does not seem to exist."},
        {"no argument", base + "/a", "cd", base + "/a", ""},
        {"a file, not a directory", "/etc", "cd passwd", "/etc", "Directory '/etc/passwd' does not seem to exist."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Tab tab(c.start);
        tab.run(c.line);
        EXPECT_EQ(terminal_directory(tab.terminal), c.directory);
        ASSERT_EQ(tab.terminal->results.count, 1u);
        Terminal_Result* block = last_block(tab.terminal);
        EXPECT_EQ(command_of(block), c.line);
        EXPECT_EQ(block_text(block), c.message);
        EXPECT_EQ((block->flags & TERMINAL_RESULT_FAILED) != 0, !c.message.empty());
        EXPECT_TRUE(block->flags & TERMINAL_RESULT_UPDATED);
        EXPECT_FALSE(block->flags & (TERMINAL_RESULT_RUNNING | TERMINAL_RESULT_READING));
        EXPECT_EQ(text_of(tab.input), "");
        EXPECT_EQ(tab.title_text(), ("cd | " + c.directory).substr(0, sizeof(tab.title_buffer) - 1));
        EXPECT_EQ(history_of(&tab.terminal->command_history), std::vector<std::string>{c.line});
        EXPECT_EQ(tab.terminal->command_history_position, 1u);
    }

    // A target deeper than a path holds is refused whole, never cut to another directory.
    std::string deep = "cd ";
    for (int i = 0; i < 70; i++) deep += "d/";
    Test_Tab tab(base);
    tab.run(deep);
    EXPECT_EQ(terminal_directory(tab.terminal), base);
    EXPECT_TRUE(last_block(tab.terminal)->flags & TERMINAL_RESULT_FAILED);

    setenv("HOME", saved_home.c_str(), 1);
    remove_test_files(base);
}

TEST(TerminalCommandLineThreads, TheShellGetsTheLineAsTyped) {
    struct Case {
        const char* name;
        std::string line;
        std::string output;
        b8 failed;
    };
    const Case cases[] = {
        {"single quotes", "echo 'x'", "x\r\n", false},
        {"awk with a quoted program", "echo a b | awk '{print $1}'", "a\r\n", false},
        {"leading blanks", "  \techo \"two  words\"", "two  words\r\n", false},
        {"Clear is not clear", "Clear", "", true},
    };
    Test_Tab tab("/tmp");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tab.run(c.line);
        Terminal_Result* block = tab.terminal->current_result;
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(command_of(block), c.line);
        ASSERT_TRUE(wait_for_worker(block));
        if (!c.output.empty()) {
            EXPECT_EQ(block_text(block), c.output);
        }
        EXPECT_EQ((block->flags & TERMINAL_RESULT_FAILED) != 0, c.failed);
        EXPECT_EQ(text_of(tab.input), "");
        EXPECT_EQ(history_of(&tab.terminal->command_history).back(), c.line);
        EXPECT_EQ(tab.terminal->command_history_position, tab.terminal->command_history.count);
    }
    EXPECT_EQ(tab.title_text(), "Clear | /tmp");
    EXPECT_EQ(tab.terminal->results.count, 4u);

    // A line longer than a history entry holds still runs, but is not recorded.
    std::string word(5000, 'w');
    u32 recorded = tab.terminal->command_history.count;
    tab.run("echo " + word);
    ASSERT_TRUE(wait_for_worker(tab.terminal->current_result));
    EXPECT_EQ(block_text(tab.terminal->current_result), word + "\r\n");
    EXPECT_EQ(tab.terminal->command_history.count, recorded);

    // A title longer than its buffer is cut before a character, never inside one.
    std::string accented;
    for (int i = 0; i < 40; i++) accented += "\xC3\xA9";
    Test_Tab far("/tmp/" + accented);
    far.run("true");
    std::string full = "true | /tmp/" + accented;
    EXPECT_EQ(far.title_text(), full.substr(0, 62));  // 63 octets would split the 26th character

    // Nothing to run: an empty line does nothing, blanks stay in the input line.
    u32 blocks = tab.terminal->results.count;
    tab.run("");
    tab.run("  \t ");
    EXPECT_EQ(tab.terminal->results.count, blocks);
    EXPECT_EQ(text_of(tab.input), "  \t ");
}

TEST(TerminalCommandLineThreads, ClearAndClsEmptyTheHistory) {
    for (const char* line : {"clear", "cls", "clear me", "  clear"}) {
        SCOPED_TRACE(line);
        Test_Tab tab("/tmp");
        tab.run("echo one");
        ASSERT_TRUE(wait_for_worker(tab.terminal->current_result));
        tab.run("cd ..");
        tab.run(line);
        EXPECT_EQ(tab.terminal->results.count, 0u);
        EXPECT_EQ(tab.terminal->current_result, nullptr);
        EXPECT_EQ(text_of(tab.input), "");
        EXPECT_EQ(history_of(&tab.terminal->command_history), (std::vector<std::string>{"echo one", "cd ..", line}));
        EXPECT_EQ(tab.terminal->command_history_position, 3u);
    }
}

TEST(TerminalCommandLineThreads, LinesGoToTheRunningCommandAsInput) {
    Test_Tab tab("/tmp");
    tab.run("read x; read y; echo got:$x$y");
    Terminal_Result* block = tab.terminal->current_result;
    tab.run("abc");
    tab.run("abc");
    ASSERT_TRUE(wait_for_worker(block));
    EXPECT_NE(block_text(block).find("got:abcabc\r\n"), std::string::npos) << block_text(block);
    EXPECT_FALSE(block->flags & TERMINAL_RESULT_FAILED);
    EXPECT_EQ(history_of(&tab.terminal->input_history), std::vector<std::string>{"abc"});
    EXPECT_EQ(tab.terminal->input_history_position, 1u);
    EXPECT_EQ(history_of(&tab.terminal->command_history), std::vector<std::string>{"read x; read y; echo got:$x$y"});
    EXPECT_EQ(tab.terminal->results.count, 1u);
    EXPECT_EQ(text_of(tab.input), "");

    // Input the command never reads fills the pseudo-terminal: the rest is not waited for,
    // and the block shows that its input was lost. A whole line waits first: while only part
    // of a line is queued, the terminal drops what overflows it instead of filling, and
    // whether the write then ends early depends on how fast the kernel drains it.
    tab.run("sleep 100");
    block = tab.terminal->current_result;
    tab.run("never read");
    EXPECT_FALSE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_FAILED);
    tab.run(std::string(1000000, 'i'));
    EXPECT_TRUE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_FAILED);
    EXPECT_TRUE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_READING);
    EXPECT_EQ(text_of(tab.input), "");
    EXPECT_EQ(history_of(&tab.terminal->input_history), std::vector<std::string>{"never read"});  // the long one is too long to recall
    kill_terminal_process(tab.terminal);
}

TEST(TerminalCommandLineThreads, ThePathOfCommandsComesFromTheEnvironmentFile) {
    std::string base = make_fixture_directory();
    std::string file = base + "/environment";
    const char* saved_file = terminal_environment_file;
    terminal_environment_file = file.c_str();
    std::string editor_path = getenv("PATH");

    struct Case {
        const char* name;
        std::string content;  // null-free text of the file; "-" for no file
        std::string path;     // what the command sees
    };
    const Case cases[] = {
        {"MANPATH comes first", "LANG=C\nMANPATH=/man\nPATH=/q/one:/usr/bin:/bin\n", "/q/one:/usr/bin:/bin"},
        {"double quotes", "PATH=\"/q/two:/usr/bin:/bin\"\n", "/q/two:/usr/bin:/bin"},
        {"single quotes and CR LF", "PATH='/q/three:/usr/bin:/bin'\r\n", "/q/three:/usr/bin:/bin"},
        {"export", "# PATH=/commented\n  export PATH=/q/four:/usr/bin:/bin\n", "/q/four:/usr/bin:/bin"},
        {"no PATH line", "LANG=C\nXPATH=/nothing\n", editor_path},
        {"no file", "-", editor_path},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file);
        if (c.content != "-") std::ofstream(file) << c.content;
        Test_Tab tab("/tmp");
        tab.run("echo \"$PATH\"");
        ASSERT_TRUE(wait_for_worker(tab.terminal->current_result));
        EXPECT_EQ(block_text(tab.terminal->current_result), c.path + "\r\n");
        EXPECT_EQ(getenv("PATH"), editor_path);
    }

    // Only the first part of a huge file is read.
    std::string big(TERMINAL_ENVIRONMENT_READ_LIMIT, '#');
    std::ofstream(file) << big << "\nPATH=/too/far\n";
    tmp_reset();
    EXPECT_EQ(read_path_from_environment_file(file.c_str()).count, 0);

    terminal_environment_file = saved_file;
    remove_test_files(base);
}

TEST(TerminalCommandLineThreads, PreviousAndNextWalkTheHistories) {
    Test_Tab tab("/tmp");
    for (const char* line : {"one", "two", "three"}) terminal_history_append(&tab.terminal->command_history, string_from_c(line));
    tab.terminal->command_history_position = 3;
    tab.type("typed");

    struct Step {
        b8 previous;
        const char* line;  // the input line afterwards
        u32 position;
    };
    const Step steps[] = {
        {false, "typed", 3},  // past the newest already: nothing
        {true, "three", 2}, {true, "two", 1}, {true, "one", 0},
        {true, "one", 0},  // at the oldest: nothing
        {false, "two", 1}, {false, "three", 2},
        {false, "", 3},    // past the newest: an empty line
        {false, "", 3},
        {true, "three", 2},
    };
    for (u32 i = 0; i < ARRAY_COUNT(steps); i++) {
        SCOPED_TRACE(i);
        const Step& s = steps[i];
        if (s.previous) terminal_go_to_previous_history_item(tab.terminal, tab.input);
        else terminal_go_to_next_history_item(tab.terminal, tab.input);
        EXPECT_EQ(text_of(tab.input), s.line);
        EXPECT_EQ(tab.input->cursor, (s64)strlen(s.line));
        EXPECT_EQ(tab.terminal->command_history_position, s.position);
    }

    // While a command reads, its input history is walked instead.
    tab.run("cat");
    Terminal_Result* block = tab.terminal->current_result;
    tab.run("sent");
    terminal_go_to_previous_history_item(tab.terminal, tab.input);
    EXPECT_EQ(text_of(tab.input), "sent");
    EXPECT_EQ(tab.terminal->command_history_position, tab.terminal->command_history.count);
    kill_terminal_process(tab.terminal);
    ASSERT_TRUE(wait_for_worker(block));
    terminal_go_to_previous_history_item(tab.terminal, tab.input);
    EXPECT_EQ(text_of(tab.input), "cat");
}
