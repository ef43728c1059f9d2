// Word completion within a file and on into the other file tabs, and path completion in a
// terminal's input line against a fixture directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "editor/editor.h"
#include "editor_test_helpers.h"

TEST(WordCompletion, FromTheWordsOfTheFile) {
    struct Case { const char* name; const char* marked; u8 answer; const char* expected; };
    const Case cases[] = {
        {"common prefix of the words before", "counter count_all co@", 1, "counter count_all count@"},
        {"nothing to add", "counter count_all count@", 1, "counter count_all count@"},
        {"a single candidate", "alpha beta al@ gamma", 1, "alpha beta alpha@ gamma"},
        {"words after the cursor when none before", "co@ x counter", 1, "counter@ x counter"},
        {"words before win over words after", "count co@ counter", 1, "count count@ counter"},
        {"after a blank", "counter @", 0, "counter @"},
        {"after an operator", "counter +@", 0, "counter +@"},
        {"inside a word", "counter co@u", 0, "counter co@u"},
        {"no candidate", "alpha be@", 0, "alpha be@"},
        {"the candidate must be longer", "co co@", 0, "co co@"},
        {"numbers are not words", "12345 12@", 0, "12345 12@"},
        {"at the start", "@counter", 0, "@counter"},
        // The member track follows candidates after the same object.
        {"the same object", "p.name q.nation nap p.na@", 1, "p.name q.nation nap p.name@"},
        {"arrows as well", "p->name q->nation nap p->na@", 1, "p->name q->nation nap p->name@"},
        {"members of other objects", "q.nation r.nasty nap p.na@", 1, "q.nation r.nasty nap p.na@"},
        {"member after the cursor", "p.na@ q.nation p.name", 1, "p.name@ q.nation p.name"},
        {"multi-byte words", "éclair éclat écl@", 1, "éclair éclat écla@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(c.marked);
        std::string before = file_text(file);
        s64 cursor = file->cursor;
        EXPECT_EQ(auto_complete_text_before_cursor(file), c.answer);
        EXPECT_EQ(marked_text(file), c.expected);
        if (file_text(file) == before) {
            EXPECT_EQ(file->undo_records.count, 0u);
            continue;
        }
        EXPECT_EQ(file->undo_records.count, 1u);
        editor_undo(file);
        EXPECT_EQ(file_text(file), before);
        EXPECT_EQ(file->cursor, cursor);
    }
}

TEST(WordCompletion, WordsOfOtherFileTabsOnlyWhenThisFileHasNone) {
    Test_File first("counter_other x");
    Test_File second("counting");
    Test_File terminal_line("countdown");  // an input line, not a file tab
    struct Case { const char* name; const char* marked; const char* expected; };
    const Case cases[] = {
        {"from the other tabs", "co@", "count@"},
        {"this file's words after the cursor come first", "co@ counter", "counter@ counter"},
        {"nothing anywhere", "zz@", "zz@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_tabs_over();
        Test_File file(c.marked);
        add_test_tab(TAB_FILE, first);
        add_test_tab(TAB_FILE, file);
        add_test_tab(TAB_FILE, second);
        add_test_tab(TAB_TERMINAL, nullptr, terminal_line);
        std::string before = file_text(file);
        auto_complete_text_before_cursor(file);
        EXPECT_EQ(marked_text(file), c.expected);
        if (file_text(file) == before) continue;
        editor_undo(file);
        EXPECT_EQ(marked_text(file), std::string(c.marked));
        EXPECT_EQ(tabs_read_lock, 0);
    }
    start_tabs_over();
}

namespace {

// The fixture directory: scripts/, src/main.c, src/main.h, setup.txt.
struct Path_Fixture {
    Scratch_Directory root;
    Path_Fixture() {
        std::filesystem::create_directory(root / "scripts");
        std::filesystem::create_directory(root / "src");
        std::ofstream(root / "src/main.c") << "int main;\n";
        std::ofstream(root / "src/main.h") << "";
        std::ofstream(root / "setup.txt") << "";
    }
};

Filepath* make_filepath(const std::string& path) {
    static Filepath filepath;
    EXPECT_TRUE(string_to_filepath(&filepath, (u8*)path.data(), (s64)path.size()));
    return &filepath;
}

}  // namespace

TEST(PathCompletion, NamesInTheFixtureDirectory) {
    Path_Fixture fixture;
    const std::string root = fixture.root.path.string();
    // A word ends at a blank, so the absolute words name the fixture by a path without one
    // even when the scratch folder has one.
    int root_fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(root_fd, 0);
    const std::string absolute = root.find(' ') == std::string::npos ? root : "/proc/self/fd/" + std::to_string(root_fd);
    struct Case { const char* name; std::string marked; std::string directory; u8 answer; std::string expected; };
    const Case cases[] = {
        {"one entry", "ls sc@", root, 1, "ls scripts@"},
        {"no separator is added after a directory", "cd scr@", root, 1, "cd scripts@"},
        {"entries share only the typed name", "ls s@", root, 1, "ls s@"},
        {"no entry", "ls x@", root, 0, "ls x@"},
        {"up to where the entries part", "cat src/m@", root, 1, "cat src/main.@"},
        {"after a separator", "ls src/@", root, 0, "ls src/@"},
        {"after a blank", "ls @", root, 0, "ls @"},
        {"after a quote", "cat '@", root, 0, "cat '@"},
        {"the word after a quote", "cat 'sc@", root, 1, "cat 'scripts@"},
        {"text after the cursor stays", "ls sc@ -l", root, 1, "ls scripts@ -l"},
        {"case matters", "ls Sr@", root, 0, "ls Sr@"},
        {"a relative word with a backslash", "ls ..\\sr@", root + "/scripts", 1, "ls ..\\src@"},
        {"an absolute word", "cat " + absolute + "/src/main.@", "/nowhere", 1, "cat " + absolute + "/src/main.@"},
        {"an absolute word gets forward slashes", "cat " + absolute + "\\se@", "/nowhere", 1, "cat " + absolute + "/setup.txt@"},
        {"a directory that does not exist", "ls nope/a@", root, 0, "ls nope/a@"},
        {"no working directory", "ls sc@", "", 0, "ls sc@"},
        {"at the start", "@sc", root, 0, "@sc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File line(c.marked);
        std::string before = file_text(line);
        s64 cursor = line->cursor;
        Filepath none = {};
        Filepath* directory = c.directory.empty() ? &none : make_filepath(c.directory);
        EXPECT_EQ(auto_complete_filepath_in_input_line(line, directory), c.answer);
        EXPECT_EQ(marked_text(line), c.expected);
        if (line->undo_records.count == 0) continue;
        // One undo gives back the typed name and the cursor (the slashes stay forward).
        EXPECT_EQ(line->undo_records.count, 1u);
        editor_undo(line);
        EXPECT_EQ(line->cursor, cursor);
        std::string undone = before;
        for (char& ch : undone) {
            if (ch == '\\' && c.name == std::string("an absolute word gets forward slashes")) ch = '/';
        }
        EXPECT_EQ(file_text(line), undone);
    }
    close(root_fd);
}
