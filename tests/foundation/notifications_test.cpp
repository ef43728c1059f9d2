// The two desktop bridges start stand-ins found first on PATH, which record their argument
// vectors: every text must arrive as one argument, and no ended child may stay a zombie.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/notifications.h"
#include "../process_test_support.h"
#include "tests/scratch.h"
#include "tests/waiting.h"

static std::string stand_in_directory;

static String notice_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

static void add_stand_in(const std::string& name) {
    std::string script = stand_in_directory + "/" + name;
    std::ofstream(script) << "#!/bin/sh\n"
                             "printf '%s\\0' \"$@\" > \"" << script << ".part\" && mv \"" << script << ".part\" \""
                          << script << ".record\"\n";
    chmod(script.c_str(), 0755);
}

// The stand-ins go first on PATH for the suite; memory is set up per test, as the other
// foundation tests do, since some of them fork to check the layout of a fresh process.
struct Notifications : ::testing::Test {
    static void SetUpTestSuite() {
        stand_in_directory = make_test_directory("stand-ins");
        ASSERT_FALSE(stand_in_directory.empty());
        add_stand_in("notify-send");
        add_stand_in("xdg-open");
        std::string path = stand_in_directory + ":" + getenv("PATH");
        setenv("PATH", path.c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(stand_in_directory, ignored);
    }
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        tmp_claim_slot();
    }
};

// The record of the stand-in's one run, once it is there.
static std::vector<std::string> take_record(const std::string& name) {
    std::string path = stand_in_directory + "/" + name + ".record";
    wait_for_condition([&] { return std::filesystem::exists(path); });
    std::string record = read_whole_file(path);
    std::filesystem::remove(path);
    return split_at_nul(record);
}

static std::vector<int> zombie_children() {
    std::vector<int> out;
    for (const Process_Entry& e : read_process_table()) {
        if (e.parent == getpid() && e.state == "Z") out.push_back(e.pid);
    }
    return out;
}

TEST_F(Notifications, EachTextIsOneArgumentWhateverItHolds) {
    struct Case {
        const char* name;
        std::string title, body;
    };
    const Case cases[] = {
        {"plain", "Success", "make -j6"},
        {"quotes of both kinds", "Failure", "echo \"a b\" 'c d'"},
        {"blanks, tabs, a line feed and a dollar", "two  words", "a\tb\nc $HOME"},
        {"empty texts", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create_os_notification(notice_string(c.title), notice_string(c.body));
        EXPECT_EQ(take_record("notify-send"), (std::vector<std::string>{"-a", "quarn", c.title, c.body}));
    }
    EXPECT_EQ(zombie_children(), std::vector<int>{});
}

TEST_F(Notifications, APathOpensElsewhereAsOneArgument) {
    for (std::string path : {"/tmp/my dir/file \"x\".txt", "https://example.org/a?b=c&d='e'"}) {
        os_open_file_in_other_app(notice_string(path));
        EXPECT_EQ(take_record("xdg-open"), std::vector<std::string>{path});
    }
    EXPECT_EQ(zombie_children(), std::vector<int>{});
}
