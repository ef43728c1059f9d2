#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "foundation/os_files.h"
#include "foundation_fixtures.h"
#include "tests/scratch.h"

// Every test points the log at a scratch directory of its own and starts with an empty
// buffer and a fresh error counter.
class Log_Test : public ::testing::Test {
protected:
    Scratch_Directory scratch;
    std::string logs;

    void SetUp() override {
        setup_foundation_memory();
        ASSERT_TRUE(init_logging());
        scratch = make_scratch_directory();
        ASSERT_FALSE(scratch.path.empty());
        logs = scratch.path + "/logs";
        set_log_directory(test_string(logs));
        __global_log.used = 0;
        __global_log.written = 0;
        __global_log.repeated_end = 0;
        __global_log.repeats = 0;
        next_error_log_id = ~0ull;
    }

    void TearDown() override {
        __global_log.used = 0;
        __global_log.written = 0;
        remove_scratch_directory(&scratch);
        tmp_reset();
    }

    std::vector<std::string> log_file_names() {
        std::vector<std::string> names;
        std::error_code ignored;
        for (auto& e : std::filesystem::directory_iterator(logs, ignored)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string read_file(const std::string& name) {
        std::ifstream f(logs + "/" + name, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    std::string buffer_text() { return std::string((char*)__global_log.memory, __global_log.used); }
};

TEST_F(Log_Test, LinePrefixesAndIds) {
    struct Case {
        Log_Type type;
        b8 new_line_first;
        std::string expected_line;
        u64 expected_id;
    };
    static const Case cases[] = {
        {LOG_ERROR, false, "ERROR #0x0: message 0\n", 0},
        {LOG_ERROR, false, "ERROR #0x1: message 1\n", 1},
        {LOG_DEBUG, false, "DEBUG: message 2\n", ~0ull},
        {LOG_INFO, false, "Info: message 3\n", ~0ull},
        {LOG_ASSETS, true, "\nAssets: message 4\n", ~0ull},
        {LOG_GRAPHICS, false, "Graphics: message 5\n", ~0ull},
        {LOG_NETWORK, false, "Network: message 6\n", ~0ull},
        {LOG_ERROR, true, "\nERROR #0x2: message 7\n", 2},
    };
    std::string expected_buffer;
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected_line);
        String line = {};
        u64 id = c.new_line_first ? add_log_with_new_line(&line, c.type, "message %d", number)
                                  : add_log(&line, c.type, "message %d", number);
        number++;
        EXPECT_EQ(id, c.expected_id);
        EXPECT_EQ(to_std(line), c.expected_line);
        expected_buffer += c.expected_line;
    }
    log_new_line();
    expected_buffer += "\n";
    EXPECT_EQ(buffer_text(), expected_buffer);
    EXPECT_EQ(add_log(0, LOG_ERROR, "x"), 3u);
}

TEST_F(Log_Test, LongMessagesAreCutOnACharacterBoundary) {
    std::string message;
    for (int i = 0; i < 2500; i++) message += "\xC3\xA9";  // 5,000 octets
    String line = {};
    add_log(&line, LOG_INFO, "%s", message.c_str());
    std::string text = to_std(line);
    ASSERT_LE(text.size(), (size_t)LOG_LINE_CAPACITY);
    EXPECT_GE(text.size(), (size_t)LOG_LINE_CAPACITY - 2);
    EXPECT_EQ(text.substr(0, 6), "Info: ");
    EXPECT_EQ(text.back(), '\n');
    std::string body = text.substr(6, text.size() - 7);
    EXPECT_EQ(body.size() % 2, 0u);
    EXPECT_EQ(body, message.substr(0, body.size()));
    EXPECT_EQ(buffer_text(), text);
}

TEST_F(Log_Test, ALineThatFillsTheBufferExactlyIsAppended) {
    const std::string line = "Info: exactly\n";
    __global_log.used = LOGGING_MEMORY - line.size();
    memset(__global_log.memory, 'o', __global_log.used);
    add_log(0, LOG_INFO, "exactly");
    EXPECT_EQ(__global_log.used, LOGGING_MEMORY);
    EXPECT_TRUE(log_file_names().empty());
    EXPECT_EQ(std::string((char*)__global_log.memory + LOGGING_MEMORY - line.size(), line.size()), line);

    // One octet more: the buffer goes to a file first and starts afresh with the line.
    __global_log.used = LOGGING_MEMORY - line.size() + 1;
    add_log(0, LOG_INFO, "exactly");
    EXPECT_EQ(buffer_text(), line);
    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(read_file(files[0]).size(), LOGGING_MEMORY - line.size() + 1);

    // A line feed alone also writes the buffer out when it is full.
    __global_log.used = LOGGING_MEMORY;
    log_new_line();
    EXPECT_EQ(buffer_text(), "\n");
    EXPECT_EQ(log_file_names().size(), 2u);
}

TEST_F(Log_Test, FileNameDirectoryAndMode) {
    add_log(0, LOG_INFO, "hello");
    EXPECT_TRUE(write_log_file());
    EXPECT_EQ(__global_log.used, 0u);

    struct stat status;
    ASSERT_EQ(stat(logs.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    unsigned year, month, day, hour, minute, second;
    char tail[8] = {};
    ASSERT_EQ(sscanf(files[0].c_str(), "log %u-%u-%u %uh %um %us%7s", &year, &month, &day, &hour, &minute, &second, tail), 7)
        << files[0];
    EXPECT_STREQ(tail, ".txt");
    EXPECT_GE(year, 2024u);
    EXPECT_TRUE(month >= 1 && month <= 12);
    ASSERT_EQ(stat((logs + "/" + files[0]).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(files[0]), "Info: hello\n");
}

TEST_F(Log_Test, FilesOfTheSameSecondDoNotOverwriteEachOther) {
    for (int i = 0; i < 3; i++) {
        add_log(0, LOG_INFO, "write %d", i);
        EXPECT_TRUE(write_log_file());
    }
    std::set<std::string> contents;
    for (const std::string& name : log_file_names()) contents.insert(read_file(name));
    EXPECT_EQ(contents, (std::set<std::string>{"Info: write 0\n", "Info: write 1\n", "Info: write 2\n"}));
}

TEST_F(Log_Test, AFileThatCannotBeWrittenStillEmptiesTheBuffer) {
    std::ofstream(scratch.path + "/blocker") << "a file where the directory should be";
    set_log_directory(test_string(scratch.path + "/blocker/logs"));
    add_log(0, LOG_INFO, "lost");
    EXPECT_FALSE(write_log_file());
    EXPECT_EQ(__global_log.used, 0u);
}

// A flush from a thread without temporary memory still writes the file: writing needs
// none, and a failure of temporary memory while the log is locked must not wait for the
// lock its own thread holds.
TEST_F(Log_Test, AThreadWithoutTemporaryMemoryStillWritesTheLog) {
    struct Case {
        const char* name;
        b8 claims_a_slot;  // and uses its arena up
    };
    static const Case cases[] = {{"no slot", false}, {"arena used up", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        remove_test_files(logs);
        __global_log.used = 0;
        add_log(0, LOG_INFO, "kept");
        std::atomic<int> stage{0};
        b8 written = false;
        std::thread flusher([&] {
            if (c.claims_a_slot) {
                tmp_claim_slot();
                tmp_set_used(tmp_get_slot()->size);
            }
            written = write_log_file();
            stage = 1;
            // A full buffer is written out by the line that does not fit.
            __global_log.used = LOGGING_MEMORY - 5;
            memset(__global_log.memory, 'o', __global_log.used);
            add_log(0, LOG_INFO, "after");
            stage = 2;
        });
        if (!wait_until([&] { return stage.load() == 2; })) {
            flusher.detach();
            FAIL() << "a flush without temporary memory never finished (stage " << stage.load() << ")";
        }
        flusher.join();
        EXPECT_TRUE(written);
        EXPECT_EQ(buffer_text(), "Info: after\n");
        std::vector<std::string> files = log_file_names();
        ASSERT_EQ(files.size(), 2u);
        std::set<std::string> contents = {read_file(files[0]), read_file(files[1])};
        EXPECT_EQ(contents.count("Info: kept\n"), 1u);
        EXPECT_EQ(contents.count(std::string(LOGGING_MEMORY - 5, 'o')), 1u);
    }
}

// The buffer's file gets what is new when an error is logged, when a flush is due and at
// the end; the buffer keeps its lines meanwhile, and one buffer's lines stay in one file.
TEST_F(Log_Test, ErrorsAndDueFlushesReachTheFileAtOnce) {
    add_log(0, LOG_INFO, "quiet");
    EXPECT_TRUE(log_file_names().empty());
    add_log(0, LOG_ERROR, "loud");
    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(read_file(files[0]), "Info: quiet\nERROR #0x0: loud\n");
    EXPECT_EQ(buffer_text(), "Info: quiet\nERROR #0x0: loud\n");

    add_log(0, LOG_INFO, "later");
    flush_log_if_due();  // the last flush was just now
    EXPECT_EQ(read_file(files[0]), "Info: quiet\nERROR #0x0: loud\n");
    __global_log.flushed_at -= LOG_FLUSH_INTERVAL_MICROSECONDS;
    flush_log_if_due();
    EXPECT_EQ(read_file(files[0]), "Info: quiet\nERROR #0x0: loud\nInfo: later\n");

    add_log(0, LOG_INFO, "last");
    EXPECT_TRUE(write_log_file());
    EXPECT_EQ(log_file_names(), files);
    EXPECT_EQ(read_file(files[0]), "Info: quiet\nERROR #0x0: loud\nInfo: later\nInfo: last\n");
    EXPECT_EQ(__global_log.used, 0u);

    // The next line starts the next file.
    add_log(0, LOG_ERROR, "again");
    EXPECT_EQ(log_file_names().size(), 2u);
}

// A process that dies at once after an error leaves it in its file.
TEST_F(Log_Test, AnErrorSurvivesAKill) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        add_log(0, LOG_INFO, "before");
        add_log(0, LOG_ERROR, "the last words");
        raise(SIGKILL);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(read_file(files[0]), "Info: before\nERROR #0x0: the last words\n");
}

// Rotation keeps the newest log files by modification time, whatever their names say, and
// leaves alone what the log did not name.
TEST_F(Log_Test, RotationKeepsTheNewestFiles) {
    struct Case {
        const char* name;
        u32 old_files;
        u32 expected_deleted;
    };
    static const Case cases[] = {{"eight present", 8, 0}, {"nine present", 9, 1}, {"twelve present", 12, 4}};
    // Not log files: another extension, a text that is no log's name, a directory and a link
    // named as a log, and a second file of one second, which is one.
    const std::vector<std::string> others = {"notes.md", "notes.txt", "log 2024-1-1 10h 0m 0s.txt.bak",
                                             "log 2024-1-1 10h 0m 0s (x).txt", "log 2024-1-2 10h 0m 0s.txt",
                                             "log 2024-1-3 10h 0m 0s.txt"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        remove_test_files(logs);
        std::filesystem::create_directory(logs);
        // Names in the opposite order of their times, so a sort by name would pick wrongly.
        std::vector<std::string> by_age;
        for (u32 i = 0; i < c.old_files; i++) {
            std::string name = "log 2024-1-" + std::to_string(30 - i) + " 10h 0m 0s" + (i % 3 ? "" : " (2)") + ".txt";
            std::ofstream(logs + "/" + name) << i;
            struct timespec times[2] = {{(time_t)(1000000 + i * 60), 0}, {(time_t)(1000000 + i * 60), 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, (logs + "/" + name).c_str(), times, 0), 0);
            by_age.push_back(name);
        }
        for (u32 i = 0; i < 4; i++) {
            std::ofstream(logs + "/" + others[i]) << "keep";
            struct timespec times[2] = {{(time_t)1000, 0}, {(time_t)1000, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, (logs + "/" + others[i]).c_str(), times, 0), 0);
        }
        std::filesystem::create_directory(logs + "/" + others[4]);
        std::filesystem::create_symlink(by_age[0], logs + "/" + others[5]);

        add_log(0, LOG_INFO, "new");
        ASSERT_TRUE(write_log_file());

        std::vector<std::string> files = log_file_names();
        std::set<std::string> present(files.begin(), files.end());
        for (u32 i = 0; i < c.old_files; i++) {
            EXPECT_EQ(present.count(by_age[i]), i < c.expected_deleted ? 0u : 1u) << by_age[i];
        }
        for (const std::string& name : others) EXPECT_EQ(present.count(name), 1u) << name;
        EXPECT_EQ(files.size(), c.old_files - c.expected_deleted + 1 + others.size());
    }
}

// With temporary memory used up every allocation logs an error, and the clean-up still
// makes room: however often the buffer goes to a file, the folder holds at most the kept
// files and the one being written.
TEST_F(Log_Test, TheNumberOfLogFilesStaysBoundedWithoutTemporaryMemory) {
    struct Case {
        const char* name;
        b8 claims_a_slot;  // and uses its arena up
    };
    static const Case cases[] = {{"arena used up", true}, {"no slot", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        remove_test_files(logs);
        std::filesystem::create_directory(logs);
        std::ofstream(logs + "/notes.txt") << "not a log";
        std::atomic<b8> done{false};
        std::thread roller([&] {
            if (c.claims_a_slot) {
                tmp_claim_slot();
                tmp_set_used(tmp_get_slot()->size);
            }
            for (u32 roll = 0; roll < 3 * NUM_LOG_FILES_TO_KEEP; roll++) {
                for (u32 i = 0; i < 50; i++) tmp_allocate(32);
                add_log(0, LOG_INFO, "roll %u", roll);
                write_log_file();
            }
            done = true;
        });
        if (!wait_until([&] { return done.load(); })) {
            roller.detach();
            FAIL() << "the log never finished rolling";
        }
        roller.join();
        std::vector<std::string> files = log_file_names();
        EXPECT_EQ(files.size(), NUM_LOG_FILES_TO_KEEP + 1u + 1u);
        EXPECT_EQ(read_file("notes.txt"), "not a log");
        std::string all;
        for (const std::string& name : files) all += read_file(name);
        EXPECT_NE(all.find("Info: roll " + std::to_string(3 * NUM_LOG_FILES_TO_KEEP - 1) + "\n"), std::string::npos);
        EXPECT_EQ(all.find("Info: roll 0\n"), std::string::npos);
    }
}

// An error that comes again and again, as "Temporary memory full" does in a loop, is
// written once and counted; its repeats return the written line's id.
TEST_F(Log_Test, AnErrorRepeatedInARowIsWrittenOnceWithItsCount) {
    struct Step {
        char kind;  // 'E' error, 'I' info, 'N' line feed, 'F' flush_log, 'W' write_log_file
        const char* message;
        u64 id;     // expected for 'E'
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::string expected;  // the files and the buffer's unwritten rest
    };
    const std::string repeated = "Info: the line above was repeated ";
    const Case cases[] = {
        {"four in a row, then another line",
         {{'E', "full", 0}, {'E', "full", 0}, {'E', "full", 0}, {'E', "full", 0}, {'I', "next", 0}},
         "ERROR #0x0: full\n" + repeated + "3 more times\nInfo: next\n"},
        {"two in a row", {{'E', "full", 0}, {'E', "full", 0}, {'E', "other", 1}},
         "ERROR #0x0: full\n" + repeated + "1 more time\nERROR #0x1: other\n"},
        {"once is no repeat", {{'E', "full", 0}, {'I', "next", 0}}, "ERROR #0x0: full\nInfo: next\n"},
        {"alternating errors", {{'E', "a", 0}, {'E', "b", 1}, {'E', "a", 2}}, "ERROR #0x0: a\nERROR #0x1: b\nERROR #0x2: a\n"},
        {"the same message with more after it", {{'E', "full", 0}, {'E', "full.", 1}},
         "ERROR #0x0: full\nERROR #0x1: full.\n"},
        {"other lines are all written", {{'I', "same", 0}, {'I', "same", 0}}, "Info: same\nInfo: same\n"},
        {"a line feed ends the run", {{'E', "full", 0}, {'E', "full", 0}, {'N', "", 0}, {'E', "full", 1}},
         "ERROR #0x0: full\n" + repeated + "1 more time\n\nERROR #0x1: full\n"},
        {"a flush writes the count and ends the run",
         {{'E', "full", 0}, {'E', "full", 0}, {'F', "", 0}, {'E', "full", 1}, {'E', "full", 1}, {'W', "", 0}},
         "ERROR #0x0: full\n" + repeated + "1 more time\nERROR #0x1: full\n" + repeated + "1 more time\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        remove_test_files(logs);
        __global_log.used = 0;
        next_error_log_id = ~0ull;
        for (const Step& step : c.steps) {
            switch (step.kind) {
                case 'E': EXPECT_EQ(add_log(0, LOG_ERROR, "%s", step.message), step.id) << step.message; break;
                case 'I': add_log(0, LOG_INFO, "%s", step.message); break;
                case 'N': log_new_line(); break;
                case 'F': EXPECT_TRUE(flush_log()); break;
                case 'W': EXPECT_TRUE(write_log_file()); break;
            }
        }
        std::string all;
        for (const std::string& name : log_file_names()) all += read_file(name);
        all += buffer_text().substr(__global_log.written);
        EXPECT_EQ(all, c.expected);
        write_log_file();
    }

    // A long run takes no room in the buffer, and a due flush writes its count.
    remove_test_files(logs);
    __global_log.used = 0;
    next_error_log_id = ~0ull;
    add_log(0, LOG_ERROR, "full");
    for (int i = 0; i < 100000; i++) add_log(0, LOG_ERROR, "full");
    flush_log_if_due();
    EXPECT_EQ(__global_log.repeats, 100000u);
    __global_log.flushed_at -= LOG_FLUSH_INTERVAL_MICROSECONDS;
    flush_log_if_due();
    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(read_file(files[0]), "ERROR #0x0: full\n" + repeated + "100000 more times\n");
}

// What a file name or a layer hands the log is shown escaped: "cat" of a log in a terminal
// must not run what it holds, and one call writes one line.
TEST_F(Log_Test, ControlCharactersAreWrittenEscaped) {
    struct Case {
        const char* name;
        std::string message;
        std::string expected;
    };
    const Case cases[] = {
        {"a file name that sets the title and clears the screen", "Could not save 'esc\x1b]0;PWNED\x07\x1b[2Jname.txt'",
         "Could not save 'esc\\x1b]0;PWNED\\x07\\x1b[2Jname.txt'"},
        {"line feeds, returns and tabs", "a\nERROR #0x7: forged\r\tb", "a\\x0aERROR #0x7: forged\\x0d\\x09b"},
        {"delete and the octets below the blank", "\x7f\x1f \x01", "\\x7f\\x1f \\x01"},
        {"C1 controls as UTF-8", "\xc2\x9b" "2J \xc2\x80\xc2\x9f", "\\xc2\\x9b" "2J \\xc2\\x80\\xc2\\x9f"},
        {"octets that are no UTF-8", "\xff \xc0\x9b \xed\xa0\x80 \xe2\x82", "\\xff \\xc0\\x9b \\xed\\xa0\\x80 \\xe2\\x82"},
        {"characters are kept", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0 \\x41 ~", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0 \\x41 ~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        __global_log.used = 0;
        String line = {};
        add_log(&line, LOG_INFO, "%.*s", (int)c.message.size(), c.message.data());
        EXPECT_EQ(to_std(line), "Info: " + c.expected + "\n");
        EXPECT_EQ(buffer_text(), "Info: " + c.expected + "\n");
    }

    // Cut at the line's end between two escapes, never inside one.
    __global_log.used = 0;
    String line = {};
    add_log(&line, LOG_INFO, "%s", std::string(1000, '\x1b').c_str());
    std::string text = to_std(line);
    EXPECT_LE(text.size(), (size_t)LOG_LINE_CAPACITY);
    std::string body = text.substr(6, text.size() - 7);
    EXPECT_GE(body.size(), (size_t)LOG_LINE_CAPACITY - 7 - 3);
    EXPECT_EQ(body.size() % 4, 0u);
    for (size_t i = 0; i < body.size(); i += 4) ASSERT_EQ(body.substr(i, 4), "\\x1b") << i;

    // In the file: no octet a terminal acts on, only each line's own line feed.
    __global_log.used = 0;
    const std::string name = "esc\x1b]0;PWNED\x07\x1b[2Jname.txt";
    add_log(0, LOG_ERROR, "Could not save '%s': %s", name.c_str(), "Permission denied");
    add_log_with_new_line(0, LOG_INFO, "%s\n", name.c_str());
    ASSERT_TRUE(write_log_file());
    std::vector<std::string> files = log_file_names();
    ASSERT_EQ(files.size(), 1u);
    std::string written = read_file(files[0]);
    EXPECT_EQ(written, "ERROR #0x0: Could not save 'esc\\x1b]0;PWNED\\x07\\x1b[2Jname.txt': Permission denied\n"
                       "\nInfo: esc\\x1b]0;PWNED\\x07\\x1b[2Jname.txt\\x0a\n");
    for (char ch : written) EXPECT_TRUE(((u8)ch >= 0x20 && (u8)ch != 0x7f) || ch == '\n') << (int)(u8)ch;
}

TEST_F(Log_Test, StartLine) {
    ASSERT_TRUE(init_logging());
    // Log files go to "logs" beside the executable.
    EXPECT_EQ(to_std(__global_log.directory),
              std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/logs");
    set_log_directory(test_string(logs));
    std::string text = buffer_text();
    unsigned year, month, day, hour, minute, second;
    EXPECT_EQ(sscanf(text.c_str(), "Info: log start: %u-%u-%u %uh %um %us", &year, &month, &day, &hour, &minute, &second), 6)
        << text;
    EXPECT_EQ(text.back(), '\n');
}

// Eight threads log at once, often enough to fill the buffer several times: every line
// arrives exactly once and whole, in the files or in what is left unwritten in the buffer.
class LogThreads : public Log_Test {};

TEST_F(LogThreads, EightThreadsLoseNoLine) {
    const u32 thread_count = 8;
    const u32 lines_per_thread = 3000;
    const std::string padding(300, 'p');
    std::vector<std::thread> threads;
    for (u32 t = 0; t < thread_count; t++) {
        threads.emplace_back([&, t] {
            tmp_claim_slot();
            for (u32 i = 0; i < lines_per_thread; i++) {
                tmp_reset();
                if (i % 1000 == 999) log_new_line();
                add_log(0, i % 2 ? LOG_ERROR : LOG_INFO, "thread %u line %u %s", t, i, padding.c_str());
            }
        });
    }
    for (std::thread& t : threads) t.join();

    // What the buffer holds up to `written` is in the newest file already.
    std::string all;
    for (const std::string& name : log_file_names()) all += read_file(name);
    all += buffer_text().substr(__global_log.written);

    std::map<std::pair<u32, u32>, u32> seen;
    std::set<u64> error_ids;
    std::istringstream lines(all);
    std::string line;
    u32 empty_lines = 0;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            empty_lines++;
            continue;
        }
        unsigned t = 0, i = 0;
        unsigned long long id = 0;
        char pad[400] = {};
        if (line.rfind("ERROR", 0) == 0) {
            ASSERT_EQ(sscanf(line.c_str(), "ERROR #0x%llx: thread %u line %u %399s", &id, &t, &i, pad), 4) << line;
            EXPECT_TRUE(error_ids.insert(id).second);
        } else {
            ASSERT_EQ(sscanf(line.c_str(), "Info: thread %u line %u %399s", &t, &i, pad), 3) << line;
        }
        ASSERT_EQ(std::string(pad), padding) << line;
        seen[{t, i}]++;
    }
    EXPECT_EQ(seen.size(), (size_t)thread_count * lines_per_thread);
    for (auto& entry : seen) ASSERT_EQ(entry.second, 1u);
    EXPECT_EQ(error_ids.size(), (size_t)thread_count * lines_per_thread / 2);
    EXPECT_EQ(empty_lines, thread_count * (lines_per_thread / 1000));
    EXPECT_GE(log_file_names().size(), 2u);
}

// Eight threads log one error over and over between lines of their own: every repeat is
// either written or counted right after the line it repeats.
TEST_F(LogThreads, RepeatsFromManyThreadsAreAllCounted) {
    const u32 thread_count = 8;
    const u32 errors_per_thread = 20000;
    std::vector<std::thread> threads;
    for (u32 t = 0; t < thread_count; t++) {
        threads.emplace_back([t] {
            for (u32 i = 0; i < errors_per_thread; i++) {
                add_log(0, LOG_ERROR, "Temporary memory full");
                if (i % 500 == 0) add_log(0, LOG_INFO, "thread %u line %u", t, i);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(write_log_file());

    std::string all;
    for (const std::string& name : log_file_names()) all += read_file(name);
    std::istringstream lines(all);
    std::string line;
    u64 errors = 0;
    u32 own_lines = 0;
    b8 after_error = false;
    while (std::getline(lines, line)) {
        unsigned long long id = 0, repeats = 0;
        char rest[64] = {};
        if (sscanf(line.c_str(), "ERROR #0x%llx: %63[^\n]", &id, rest) == 2) {
            EXPECT_STREQ(rest, "Temporary memory full");
            errors++;
            after_error = true;
        } else if (sscanf(line.c_str(), "Info: the line above was repeated %llu more time", &repeats) == 1) {
            EXPECT_TRUE(after_error) << line;
            errors += repeats;
            after_error = false;
        } else {
            unsigned t = 0, i = 0;
            ASSERT_EQ(sscanf(line.c_str(), "Info: thread %u line %u", &t, &i), 2) << line;
            own_lines++;
            after_error = false;
        }
    }
    EXPECT_EQ(errors, (u64)thread_count * errors_per_thread);
    EXPECT_EQ(own_lines, thread_count * (errors_per_thread / 500));
}
