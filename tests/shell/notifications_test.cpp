// The two desktop bridges start stand-ins found first on PATH, which record their argument
// vectors: every text must arrive as one argument, and no ended child may stay a zombie.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/notifications.h"

static std::string stand_in_directory;

static String test_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

static void add_stand_in(const std::string& name) {
    std::string script = stand_in_directory + "/" + name;
    std::ofstream(script) << "#!/bin/sh\n"
                             "printf '%s\\0' \"$@\" > \"" << script << ".part\" && mv \"" << script << ".part\" \""
                          << script << ".record\"\n";
    chmod(script.c_str(), 0755);
}

struct Notifications_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        tmp_claim_slot();
        char pattern[] = "/tmp/quarn-shell-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        stand_in_directory = pattern;
        add_stand_in("notify-send");
        add_stand_in("xdg-open");
        std::string path = stand_in_directory + ":" + getenv("PATH");
        setenv("PATH", path.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(stand_in_directory); }
};

static ::testing::Environment* const notifications_environment =
    ::testing::AddGlobalTestEnvironment(new Notifications_Environment);

// The record of the stand-in's one run, waited for up to ten seconds.
static std::vector<std::string> take_record(const std::string& name) {
    std::string path = stand_in_directory + "/" + name + ".record";
    for (int i = 0; i < 10000 && !std::filesystem::exists(path); i++) usleep(1000);
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    std::filesystem::remove(path);
    std::string all = content.str();
    std::vector<std::string> arguments;
    size_t start = 0;
    for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        arguments.push_back(all.substr(start, end - start));
    }
    return arguments;
}

static std::vector<int> zombie_children() {
    std::vector<int> out;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        int pid = atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream file("/proc/" + std::string(entry->d_name) + "/stat");
        std::string stat;
        std::getline(file, stat);
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        if (parent == getpid() && state == "Z") out.push_back(pid);
    }
    closedir(proc);
    return out;
}

TEST(Notifications, EachTextIsOneArgumentWhateverItHolds) {
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
        create_os_notification(test_string(c.title), test_string(c.body));
        EXPECT_EQ(take_record("notify-send"), (std::vector<std::string>{"-a", "quarn", c.title, c.body}));
    }
    EXPECT_EQ(zombie_children(), std::vector<int>{});
}

TEST(Notifications, APathOpensElsewhereAsOneArgument) {
    for (std::string path : {"/tmp/my dir/file \"x\".txt", "https://example.org/a?b=c&d='e'"}) {
        os_open_file_in_other_app(test_string(path));
        EXPECT_EQ(take_record("xdg-open"), std::vector<std::string>{path});
    }
    EXPECT_EQ(zombie_children(), std::vector<int>{});
}
