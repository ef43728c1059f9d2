// Stopping the editors of one installation, run among all the processes of the machine.
// Every program the test starts is a copy made in its own scratch folder, which nothing
// else on the machine runs: only those copies can be what the function stops.

#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/process_test_support.h"
#include "tests/updater/updater_test_support.h"
#include "tests/waiting.h"

namespace fs = std::filesystem;

// The user nobody, whose processes root can start but whom no test runs as.
static const uid_t OTHER_USER_ID = 65534;

static bool same_file_as(const std::string& a, const std::string& b) {
    struct stat status_a, status_b;
    return stat(a.c_str(), &status_a) == 0 && stat(b.c_str(), &status_b) == 0 &&
           status_a.st_dev == status_b.st_dev && status_a.st_ino == status_b.st_ino;
}

static File_Identity identity_of(const std::string& path) {
    struct stat status = {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return File_Identity{(u64)status.st_dev, (u64)status.st_ino};
}

struct Started_Program {
    const char* name;
    pid_t pid;
    bool expect_stopped;
};

// Starts the program (as user when that is not us) and waits until it runs the program's
// file; 0 when it could not be started, the started process reaped.
static pid_t start_sleeping(const std::string& path, uid_t user) {
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        if (user != getuid() && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) _exit(127);
        end_with_the_test(parent);  // after the change of user, which clears the tie
        execl(path.c_str(), "quarn", "600", (char*)nullptr);
        _exit(127);
    }
    if (child < 0) return 0;
    int status = 0;
    bool exited = false;
    bool running = wait_for_condition([&] {
        exited = waitpid(child, &status, WNOHANG) == child;
        return exited || same_file_as("/proc/" + std::to_string(child) + "/exe", path);
    });
    if (running && !exited) return child;
    if (!exited) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    return 0;
}

struct Stopping_Editors : testing::Test {
    std::string root;
    std::string install;  // the installation whose editors are stopped
    std::string other;    // another installation
    std::vector<Started_Program> programs;

    void SetUp() override {
        root = make_scratch_directory("quarn-stopping");
        ASSERT_FALSE(root.empty());
        install = root + "/install";
        other = root + "/other";
        for (const std::string& directory : {install, other}) {
            fs::create_directory(directory);
            fs::copy_file("/bin/sleep", directory + "/quarn");
        }
    }
    void TearDown() override {
        for (Started_Program& program : programs) {
            if (program.pid <= 0) continue;
            kill(program.pid, SIGKILL);
            waitpid(program.pid, nullptr, 0);
        }
        remove_scratch_directory(root);
    }

    bool start(const char* name, const std::string& path, uid_t user, bool expect_stopped) {
        pid_t pid = start_sleeping(path, user);
        if (pid != 0) programs.push_back({name, pid, expect_stopped});
        return pid != 0;
    }

    void stop(const File_Identity* replaced_editor) {
        u64 saved = tmp_get_used();
        stop_running_editors(string_from_c(install.c_str()), replaced_editor);
        tmp_set_used(saved);
    }

    // Ends every program and checks how each ended: by the SIGKILL of the function under
    // test, or by our SIGTERM because it still ran.
    void expect_stopped_as_told() {
        for (Started_Program& program : programs) {
            SCOPED_TRACE(program.name);
            kill(program.pid, SIGTERM);
            int status = 0;
            bool ended = wait_for_condition([&] { return waitpid(program.pid, &status, WNOHANG) == program.pid; });
            if (!ended) continue;  // left to TearDown
            program.pid = 0;
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), program.expect_stopped ? SIGKILL : SIGTERM);
        }
        for (const Started_Program& program : programs) EXPECT_EQ(program.pid, 0) << program.name << " did not end";
    }
};

TEST_F(Stopping_Editors, StopsTheEditorsOfItsInstallationOnly) {
    ASSERT_TRUE(start("running the replaced editor", install + "/quarn", getuid(), true));
    // The update puts its editor in place by a rename, as run_update does.
    File_Identity replaced_editor = identity_of(install + "/quarn");
    fs::copy_file("/bin/sleep", install + "/quarn.new");
    fs::rename(install + "/quarn.new", install + "/quarn");
    fs::create_directory_symlink(install, root + "/install-link");
    ASSERT_TRUE(start("running the new editor", install + "/quarn", getuid(), true));
    ASSERT_TRUE(start("started through a link to the folder", root + "/install-link/quarn", getuid(), true));
    ASSERT_TRUE(start("another installation's", other + "/quarn", getuid(), false));

    stop(&replaced_editor);
    expect_stopped_as_told();
}

TEST_F(Stopping_Editors, LeavesTheEditorsOfOtherUsersAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "Only root can start a program as another user.";
    for (const std::string& path : {root, install}) chmod(path.c_str(), 0755);
    if (!start("another user's", install + "/quarn", OTHER_USER_ID, false)) {
        GTEST_SKIP() << "The user " << OTHER_USER_ID << " cannot run a program of the scratch folder "
                     << "(a TMPDIR others may not search).";
    }
    ASSERT_TRUE(start("ours", install + "/quarn", getuid(), true));
    stop(nullptr);
    expect_stopped_as_told();
}
