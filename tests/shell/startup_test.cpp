// Start-up without a window: the command line (its pieces, the file's path, the line the
// cursor goes to), the general information at the head of the log, and the updater that an
// update delivered replacing the old one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "shell/shell.h"
#include "tests/shell/shell_test_support.h"

namespace {

String view(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

std::string text(String s) { return std::string((char*)s.data, s.count); }

std::string path_text(Filepath* path) { return text(filepath_to_tmp_string(path)); }

Filepath directory_of(const std::string& path) {
    Filepath out;
    out.count = 0;
    if (!path.empty()) {
        EXPECT_TRUE(string_to_filepath(&out, (u8*)path.data(), (s64)path.size()));
    }
    return out;
}

std::vector<std::string> log_lines_since(u64 mark) {
    std::vector<std::string> lines;
    std::istringstream in(log_since(mark));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(CommandLine, SplitsAtEveryNul) {
    struct Case {
        const char* name;
        std::string data;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"program only", std::string("quarn\0", 6), {"quarn"}},
        {"file and line", std::string("quarn\0a b.txt\0" "30\0", 17), {"quarn", "a b.txt", "30"}},
        {"an empty argument counts", std::string("quarn\0\0" "7\0", 9), {"quarn", "", "7"}},
        {"nothing", std::string(), {}},
        {"a piece without its NUL is not an argument", std::string("quarn\0half", 10), {"quarn"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        String arguments[8];
        u32 count = split_command_line((u8*)c.data.data(), (s64)c.data.size(), arguments, 8);
        ASSERT_EQ(count, c.expected.size());
        for (u32 i = 0; i < count; i++) EXPECT_EQ(text(arguments[i]), c.expected[i]);
    }
    // More pieces than room: all are counted, the first ones stored.
    std::string many("a\0b\0c\0d\0", 8);
    String two[2];
    EXPECT_EQ(split_command_line((u8*)many.data(), (s64)many.size(), two, 2), 4u);
    EXPECT_EQ(text(two[1]), "b");
}

TEST(CommandLine, TheFilesPath) {
    struct Case {
        const char* name;
        const char* working_directory;
        const char* argument;
        const char* expected;  // null: refused
    };
    const Case cases[] = {
        {"relative, joined to the working directory", "/home/me/project", "src/main.c", "/home/me/project/src/main.c"},
        {"absolute", "/home/me", "/etc/hosts", "/etc/hosts"},
        {"working directory at the root", "/", "notes.txt", "/notes.txt"},
        {"quoted", "/w", "\"my file.txt\"", "/w/my file.txt"},
        {"a lone quote is part of the name", "/w", "\"odd", "/w/\"odd"},
        {"a colon is only a character", "/w", "a:b", "/w/a:b"},
        {"no working directory", "", "plain.txt", "plain.txt"},
        {"empty", "/w", "", nullptr},
        {"only quotes", "/w", "\"\"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Filepath working = directory_of(c.working_directory);
        Filepath out;
        std::string argument = c.argument;
        b8 ok = command_line_filepath(view(argument), &working, &out);
        EXPECT_EQ(ok, c.expected != nullptr);
        if (c.expected) {
            EXPECT_EQ(path_text(&out), c.expected);
        }
    }
}

struct Command_Line_Test : ::testing::Test {
    std::string scratch;

    void SetUp() override {
        scratch = make_scratch_directory();
        ASSERT_FALSE(scratch.empty());
        reset_tabs_and_commands();
        std::string lines;
        for (int i = 1; i <= 100; i++) lines += "line " + std::to_string(i) + "\n";
        write_test_file(scratch + "/f.txt", lines);
        editor_working_directory = directory_of(scratch);
    }
    void TearDown() override {
        reset_tabs_and_commands();
        editor_working_directory.count = 0;
        remove_scratch_directory(scratch);
    }

    // Runs the command line and returns the record its queued tab would show.
    Editor_File* open(std::vector<std::string> arguments) {
        std::vector<String> views;
        for (const std::string& a : arguments) views.push_back(view(a));
        open_file_from_command_line(views.data(), (u32)views.size());
        if (editor_commands.count != 1) return nullptr;
        Editor_Command* command = (Editor_Command*)editor_commands.data;
        EXPECT_EQ(command->command_kind, COMMAND_ADD_TAB);
        EXPECT_EQ(command->tab_kind, TAB_FILE);
        EXPECT_EQ(command->tab_target, tmp_current_tab_index + 1);
        return (Editor_File*)command->payload;
    }
};

TEST_F(Command_Line_Test, ARelativeFileOpensAtItsLineOnTheFirstFrame) {
    u64 mark = log_mark();
    Editor_File* file = open({"/opt/quarn/quarn", "f.txt", "30"});
    ASSERT_NE(file, nullptr);
    EXPECT_NE(log_since(mark).find("Info: Command line:  /opt/quarn/quarn f.txt 30\n"), std::string::npos) << log_since(mark);
    EXPECT_EQ(current_file, file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(text(file->name), "f.txt");
    EXPECT_EQ(path_text(&file->directory), scratch);
    EXPECT_EQ(file->cursor, get_offset_at_line(file->text.data, file->text.count, 30));
    EXPECT_EQ(file->selection_anchor, file->cursor);
    EXPECT_EQ(atomic_load_u16(&file->flags) & (FILE_CENTRE_CURSOR | FILE_CURSOR_MOVED | FILE_MODIFIED),
              FILE_CENTRE_CURSOR | FILE_CURSOR_MOVED);
    EXPECT_EQ(tabs.count, 0u) << "the tab comes with the first frame";

    perform_editor_commands();
    ASSERT_EQ(tabs.count, 1u);
    refresh_file_tab_title(get_tab(0));
    EXPECT_EQ(text(get_tab(0)->title), "f.txt");
    EXPECT_EQ(current_file, file);
}

TEST_F(Command_Line_Test, TheLineArgument) {
    struct Case {
        const char* name;
        const char* line;  // null: no third argument
        s64 expected;      // -1: the text's end
        bool centred;
    };
    const Case cases[] = {
        {"no line", nullptr, 0, false},
        {"first line", "1", 0, true},
        {"line 2", "2", 7, true},
        {"past the last line", "1000", -1, true},
        {"line 0", "0", -1, true},
        {"negative", "-5", -1, true},
        {"not a number", "abc", -1, true},
        {"digits then text", "3x", 14, true},
        {"empty", "", -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_tabs_and_commands();
        std::vector<std::string> arguments = {"quarn", scratch + "/f.txt"};
        if (c.line) arguments.push_back(c.line);
        Editor_File* file = open(arguments);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->cursor, c.expected < 0 ? file->text.count : c.expected);
        EXPECT_EQ((atomic_load_u16(&file->flags) & FILE_CENTRE_CURSOR) != 0, c.centred);
    }
}

TEST_F(Command_Line_Test, NoFileOrAFileThatCannotBeRead) {
    u64 mark = log_mark();
    EXPECT_EQ(open({"quarn"}), nullptr);
    EXPECT_EQ(editor_commands.count, 0u);
    EXPECT_NE(log_since(mark).find("Command line:  quarn\n"), std::string::npos);

    // Still a tab, but an empty text with no path, so nothing can be saved over the name.
    Editor_File* file = open({"quarn", "missing.txt", "4"});
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->text.count, 0);
    EXPECT_EQ(file->directory.count, 0);
    EXPECT_EQ(current_file, file);
}

TEST(Startup, TheLogsGeneralInformation) {
    u64 mark = log_mark();
    log_general_information();
    std::vector<std::string> lines = log_lines_since(mark);
    ASSERT_EQ(lines.size(), 9u) << log_since(mark);
    EXPECT_EQ(lines[0], "Info: Quarn version 0.3.2");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "Info: --- General Information ---");
    const char* labels[] = {"CPU model:", "CPU ISA:", "Num. CPU cores:", "Usable RAM:", "OS:"};
    for (u32 i = 0; i < 5; i++) {
        SCOPED_TRACE(labels[i]);
        const std::string& line = lines[3 + i];
        std::string label = std::string("Info: ") + labels[i];
        EXPECT_EQ(line.rfind(label, 0), 0u) << line;
        // The values stand in one column, 16 characters after the prefix.
        ASSERT_GT(line.size(), 6u + 16u);
        EXPECT_NE(line[6 + 16], ' ') << line;
        EXPECT_EQ(line.find_first_not_of(' ', label.size()), 6u + 16u) << line;
    }
    EXPECT_EQ(lines[4], "Info: CPU ISA:        AMD64");
    EXPECT_EQ(lines[8], "") << "an empty line closes the block";
}

TEST(Startup, AnUpdatedUpdaterReplacesTheOldOne) {
    struct Case {
        const char* name;
        const char* old_updater;  // null: none
        const char* new_updater;  // null: none
        bool replaced;
        const char* expected;     // "updater" afterwards; null: none
    };
    const Case cases[] = {
        {"both", "old", "new", true, "new"},
        {"only the new one", nullptr, "new", true, "new"},
        {"only the old one", "old", nullptr, false, "old"},
        {"neither", nullptr, nullptr, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = make_scratch_directory();
        if (c.old_updater) write_test_file(dir + "/updater", c.old_updater);
        if (c.new_updater) {
            write_test_file(dir + "/_updater", c.new_updater);
            chmod((dir + "/_updater").c_str(), 0755);
        }
        EXPECT_EQ(replace_updater(view(dir)), c.replaced);
        struct stat st;
        EXPECT_NE(stat((dir + "/_updater").c_str(), &st), 0) << "nothing is left under the new name";
        if (c.expected) {
            EXPECT_EQ(read_test_file(dir + "/updater"), c.expected);
            if (c.new_updater) {
                ASSERT_EQ(stat((dir + "/updater").c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0755u) << "still executable";
            }
        } else {
            EXPECT_NE(stat((dir + "/updater").c_str(), &st), 0);
        }
        remove_scratch_directory(dir);
    }
}

TEST(Startup, TheWorkingDirectory) {
    std::string dir = make_scratch_directory();
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    set_working_directory_from_process();
    char resolved[4096];
    ASSERT_NE(realpath(dir.c_str(), resolved), nullptr);
    EXPECT_EQ(path_text(&editor_working_directory), resolved);
    EXPECT_EQ(editor_working_directory.components[0].length, 1u);  // the root is a component "/"
    ASSERT_EQ(chdir(previous), 0);
    editor_working_directory.count = 0;
    remove_scratch_directory(dir);
}
