// Runs the real `updater` program over installations laid out in scratch directories. It
// acts on the directory of its own executable, so each installation gets a copy of it. Every
// run happens in a new PID namespace, so that whatever processes the updater stops can only
// be the test's own. Stub programs stand in for the editor and the notifier and record how
// they were started.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/process_test_support.h"
#include "tests/updater/updater_test_support.h"
#include "tests/test_seed.h"

namespace fs = std::filesystem;

static const char* const STUB_PROGRAM =
    "#!/bin/sh\n"
    "# Records how it was started, then moves the record into place in one step.\n"
    "{ echo \"${0##*/}\"; for argument in \"$@\"; do printf '%s\\n--\\n' \"$argument\"; done; } > \"$LAUNCH_RECORD.$$\"\n"
    "mv \"$LAUNCH_RECORD.$$\" \"$LAUNCH_RECORD\"\n";

// How to start a command in a new PID namespace with its own /proc; empty when this
// machine cannot.
static const std::string& namespace_command() {
    static const std::string command = [] {
        for (const char* candidate : {"unshare --pid --fork --mount-proc",
                                      "unshare --user --map-root-user --pid --fork --mount-proc"}) {
            if (system((std::string(candidate) + " true >/dev/null 2>&1").c_str()) == 0) return std::string(candidate);
        }
        return std::string();
    }();
    return command;
}

static std::string text_of(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

static unsigned mode_of(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

static std::set<std::string> names_in(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
    return names;
}

struct Run_Result {
    int exit_status = -1;
    std::string program;  // what the updater started: "quarn" or "notify-send"
    std::vector<std::string> arguments;
    std::string probe;    // what the run script's own checks wrote
};

struct Updater_Run : testing::Test {
    std::string root;
    std::string stubs;

    void SetUp() override {
        if (namespace_command().empty()) {
            GTEST_SKIP() << "No new PID namespace can be made here (unshare needs root or user namespaces); "
                            "outside one the updater would stop real editors, so its runs are skipped.";
        }
        root = make_scratch_directory("quarn-updater");
        ASSERT_FALSE(root.empty());
        stubs = root + "/stubs";
        fs::create_directory(stubs);
        write_file_bytes(stubs + "/notify-send", text_bytes(STUB_PROGRAM), 0755);
    }
    void TearDown() override { remove_scratch_directory(root); }

    // A directory holding a copy of the updater (or the given program as "updater").
    std::string make_installation(const std::string& name, const std::string& updater = QUARN_UPDATER_BINARY) {
        std::string install = root + "/" + name;
        fs::create_directory(install);
        fs::copy_file(updater, install + "/updater");
        chmod((install + "/updater").c_str(), 0755);
        return install;
    }

    // Runs the installation's updater as the first process of a new PID namespace, which
    // ends every process in it when it exits; so it waits for the started program's record.
    Run_Result run_updater(const std::string& install, const std::string& before = "", const std::string& after = "") {
        std::string record = install + ".launched";
        std::string probe = install + ".probe";
        std::string exit_status = install + ".exit";
        fs::remove(record);
        std::string script = "#!/bin/sh\n"
                             "export PATH=" + shell_word(stubs) + ":\"$PATH\" LAUNCH_RECORD=" + shell_word(record) + "\n"
                             "probe=" + shell_word(probe) + "\n" +
                             before + "\n" +
                             shell_word(install + "/updater") + "; echo $? > " + shell_word(exit_status) + "\n" +
                             after + "\n"
                             "i=0; while [ ! -e " + shell_word(record) + " ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\n";
        std::string script_path = install + ".sh";
        write_file_bytes(script_path, text_bytes(script), 0755);
        EXPECT_EQ(system((namespace_command() + " /bin/sh " + shell_word(script_path)).c_str()), 0);

        Run_Result result;
        std::string status = text_of(read_file_bytes(exit_status));
        if (!status.empty()) result.exit_status = atoi(status.c_str());
        result.probe = text_of(read_file_bytes(probe));
        std::string launched = text_of(read_file_bytes(record));
        size_t line_end = launched.find('\n');
        if (line_end != std::string::npos) {
            result.program = launched.substr(0, line_end);
            for (size_t at = line_end + 1; at < launched.size();) {
                size_t end = launched.find("\n--\n", at);
                if (end == std::string::npos) break;
                result.arguments.push_back(launched.substr(at, end - at));
                at = end + 4;
            }
        }
        return result;
    }
};

// Script lines that start each program (a name for its process id, then its path) with the
// argument 30 in the background and wait until it runs that program's file.
static std::string start_programs(const std::vector<std::pair<std::string, std::string>>& programs) {
    std::string lines;
    for (const auto& [name, path] : programs) {
        lines += shell_word(path) + " 30 & " + name + "=$!\n"
                 "i=0; while ! [ /proc/$" + name + "/exe -ef " + shell_word(path) + " ] && [ $i -lt 3000 ]; do sleep 0.02; i=$((i+1)); done\n";
    }
    return lines;
}

// Script lines that end the programs started above and write to the probe how each ended:
// 137 when something had stopped it already (128 + SIGKILL), 143 when it still ran.
static std::string end_programs(const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) {
        lines += "kill -TERM $" + name + " 2>/dev/null; wait $" + name + "; echo \"" + name + " $?\" >> \"$probe\"\n";
    }
    return lines;
}

//~ Round trip

struct Release_Layout {
    std::string directory;
    std::vector<std::string> names;
};

static const char* const LINUX_RELEASE_NAMES[] = {
    "quarn", "_updater", "api.8", "inject.8", "readme.txt", "changelog.txt",
    "license.txt", "custom_latest.8", "syntax_latest.8", "themes_latest.8",
};

// A release whose editor is the recording stub and whose next updater is the real one.
static Release_Layout make_release(const std::string& directory, const std::string& changelog, u32 seed) {
    fs::create_directory(directory);
    std::mt19937 random(seed);
    Bytes sources;
    for (int line = 0; line < 4000; line++) {
        std::string text = "set_text_colour(" + std::to_string(random() % 16) + ", 0x" + std::to_string(random() % 1000) + ");\n";
        sources.insert(sources.end(), text.begin(), text.end());
    }
    Bytes noise(150000);
    for (u8& b : noise) b = (u8)random();
    write_file_bytes(directory + "/quarn", text_bytes(STUB_PROGRAM), 0700);
    fs::copy_file(QUARN_UPDATER_BINARY, directory + "/_updater");
    write_file_bytes(directory + "/api.8", sources);
    write_file_bytes(directory + "/inject.8", text_bytes("#insert \"api.8\";\n"));
    write_file_bytes(directory + "/readme.txt", noise);
    write_file_bytes(directory + "/changelog.txt", text_bytes(changelog));
    write_file_bytes(directory + "/license.txt", Bytes());
    write_file_bytes(directory + "/custom_latest.8", Bytes(sources.begin(), sources.begin() + 5001));
    write_file_bytes(directory + "/syntax_latest.8", text_bytes("// syntax\n"));
    write_file_bytes(directory + "/themes_latest.8", text_bytes("// themes\n"), 0600);
    return Release_Layout{directory, std::vector<std::string>(std::begin(LINUX_RELEASE_NAMES), std::end(LINUX_RELEASE_NAMES))};
}

static void pack_with_tool(const Release_Layout& release, u32 format, const std::string& output) {
    std::string said = release.directory + ".said";
    std::string command = shell_word(QUARN_PACK_TOOL) + " " + shell_word(output) + " " + shell_word(release.directory) +
                          " " + std::to_string(format) + " > " + shell_word(said);
    ASSERT_EQ(system(command.c_str()), 0);
    std::string text = text_of(read_file_bytes(said));
    EXPECT_NE(text.find("Left out quarn.exe"), std::string::npos) << text;
    EXPECT_NE(text.find("Left out _updater.exe"), std::string::npos) << text;
}

static void expect_installed(const std::string& install, const Release_Layout& release, const Run_Result& result) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.program, "quarn");
    EXPECT_EQ(result.arguments, std::vector<std::string>({install + "/changelog.txt"}));
    for (const std::string& name : release.names) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(read_file_bytes(install + "/" + name) == read_file_bytes(release.directory + "/" + name));
        EXPECT_EQ(mode_of(install + "/" + name), name == "quarn" || name == "_updater" ? 0755u : 0644u);
    }
    std::set<std::string> expected(release.names.begin(), release.names.end());
    expected.insert("updater");
    EXPECT_EQ(names_in(install), expected);  // no update data, no error log, no leftovers
}

TEST_F(Updater_Run, InstallsTheReleaseAndStartsTheEditor) {
    u32 seed = (u32)test_seed(1);
    SCOPED_TRACE(test_seed_text(seed));
    for (u32 format : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        std::string name = "format" + std::to_string(format);
        std::string install = make_installation(name);
        Release_Layout first = make_release(root + "/" + name + "-release-1", "First release.\n", seed);
        pack_with_tool(first, format, install + "/update.data");
        expect_installed(install, first, run_updater(install));

        // The editor puts the delivered updater in place at its next start; that one must
        // apply the next update.
        fs::rename(install + "/_updater", install + "/updater");
        Release_Layout second = make_release(root + "/" + name + "-release-2", "Second release.\n", seed + 1);
        pack_with_tool(second, format, install + "/update.data");
        expect_installed(install, second, run_updater(install));
    }
}

// The editor gets the new change log as one argument, whatever the directory's name holds.
TEST_F(Updater_Run, TheChangeLogPathSurvivesAnyCharacter) {
    std::string install = make_installation("it's a \"quoted\" dir \\ with\tblanks");
    write_file_bytes(install + "/quarn", text_bytes(STUB_PROGRAM), 0755);
    write_file_bytes(install + "/update.data", craft_update_data(0, {}), 0600);
    Run_Result result = run_updater(install);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.program, "quarn");
    EXPECT_EQ(result.arguments, std::vector<std::string>({install + "/changelog.txt"}));
    EXPECT_FALSE(fs::exists(install + "/update.data"));
}

//~ Failures

TEST_F(Updater_Run, FailuresReportAndLeaveTheInstallationAlone) {
    Bytes readme = text_bytes("A readme of the new release.\n");
    Bytes lying_lz = lz_block_of(readme);
    put_u32(&lying_lz, 4, 64);
    Bytes magic = craft_update_data(0, {});
    magic[0] = 'X';
    std::vector<Crafted_File> thirty_three(33, Crafted_File{"readme.txt", readme, (u32)readme.size()});
    Bytes entry_past_end = craft_update_data(1, {{"readme.txt", readme, (u32)readme.size()}, {"api.8", readme, (u32)readme.size()}});
    entry_past_end.pop_back();
    Bytes lying_before_past_end = craft_update_data(0, {{"readme.txt", lying_lz, 64}, {"api.8", lz_block_of(readme), (u32)readme.size()}});
    lying_before_past_end.pop_back();

    struct Case {
        const char* name;
        bool has_data;
        Bytes data;
        std::string message;
        std::string format_version;
        std::string release_version;
    };
    const Case cases[] = {
        {"no update data", false, {}, UPDATE_MESSAGE_CANNOT_READ, "0", "0.0.0"},
        {"7 bytes", true, Bytes(7, 0x38), UPDATE_MESSAGE_TOO_SMALL, "0", "0.0.0"},
        {"bad magic", true, magic, UPDATE_MESSAGE_BAD_MAGIC, "0", "0.0.0"},
        {"format 2", true, craft_update_data(2, {}), UPDATE_MESSAGE_BAD_FORMAT, "2", "0.0.0"},
        {"33 files", true, craft_update_data(1, thirty_three), "", "1", "0.3.2"},
        {"an entry past the end", true, entry_past_end, UPDATE_MESSAGE_BAD_ADDRESS, "1", "0.3.2"},
        {"stored above uncompressed", true, craft_update_data(1, {{"readme.txt", readme, 3}}), UPDATE_MESSAGE_STORED_TOO_BIG, "1", "0.3.2"},
        {"a lying LZ block", true, craft_update_data(0, {{"readme.txt", lying_lz, 64}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, "0", "0.3.2"},
        {"a lying LZ block before an entry past the end", true, lying_before_past_end, UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, "0", "0.3.2"},
        {"a path for a name", true, craft_update_data(1, {{"../escaped.txt", readme, (u32)readme.size()}}), UPDATE_MESSAGE_BAD_NAME, "1", "0.3.2"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string install = make_installation("failure" + std::to_string(index++));
        write_file_bytes(install + "/quarn", text_bytes(STUB_PROGRAM), 0755);
        write_file_bytes(install + "/readme.txt", text_bytes("The installed readme.\n"));
        if (c.has_data) write_file_bytes(install + "/update.data", c.data, 0600);
        std::set<std::string> before = names_in(install);

        Run_Result result = run_updater(install);
        EXPECT_EQ(result.exit_status, 0);
        std::string line_1 = "Quarn Updater v0.3.2, data format version v" + c.format_version;
        std::string line_2 = "ERROR: Failed to properly apply update v" + c.release_version +
                             " with the following error:\n" + c.message;
        EXPECT_EQ(text_of(read_file_bytes(install + "/updater_error_log.txt")), line_1 + "\n" + line_2);
        EXPECT_EQ(result.program, "notify-send");
        EXPECT_EQ(result.arguments, std::vector<std::string>({"-a", "quarn", line_1, line_2}));

        std::set<std::string> after = names_in(install);
        after.erase("updater_error_log.txt");
        EXPECT_EQ(after, before);
        EXPECT_EQ(text_of(read_file_bytes(install + "/readme.txt")), "The installed readme.\n");
        if (c.has_data) {
            EXPECT_TRUE(read_file_bytes(install + "/update.data") == c.data);
        }
        EXPECT_FALSE(fs::exists(root + "/escaped.txt"));
    }
}

// The error log replaces a file at its name, but never writes through a link planted there
// nor waits on a FIFO: such a log is passed over, and the user is still notified.
TEST_F(Updater_Run, TheErrorLogNeverGoesThroughWhatIsPlantedAtItsName) {
    enum Planted { OLD_LOG, LINK_TO_A_FILE, LINK_TO_NOTHING, FIFO };
    struct Case {
        const char* name;
        Planted planted;
    };
    const Case cases[] = {
        {"an old log", OLD_LOG},
        {"a link to a file", LINK_TO_A_FILE},
        {"a link to nothing", LINK_TO_NOTHING},
        {"a FIFO", FIFO},
    };
    const std::string line_1 = "Quarn Updater v0.3.2, data format version v0";
    const std::string line_2 = "ERROR: Failed to properly apply update v0.0.0 with the following error:\n" UPDATE_MESSAGE_CANNOT_READ;
    const std::string precious = "Not the updater's to write.\n";
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string install = make_installation("planted" + std::to_string(index));
        std::string log = install + "/updater_error_log.txt";
        std::string target = root + "/planted-target" + std::to_string(index++);
        if (c.planted == OLD_LOG) write_file_bytes(log, text_bytes(std::string(4000, 'x')));
        if (c.planted == LINK_TO_A_FILE) write_file_bytes(target, text_bytes(precious));
        if (c.planted == LINK_TO_A_FILE || c.planted == LINK_TO_NOTHING) fs::create_symlink(target, log);
        if (c.planted == FIFO) {
            ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
        }

        Run_Result result = run_updater(install);  // no update data: the run fails
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.program, "notify-send");
        EXPECT_EQ(result.arguments, std::vector<std::string>({"-a", "quarn", line_1, line_2}));
        if (c.planted == OLD_LOG) {
            EXPECT_EQ(text_of(read_file_bytes(log)), line_1 + "\n" + line_2);
        } else if (c.planted == FIFO) {
            EXPECT_EQ(fs::symlink_status(log).type(), fs::file_type::fifo);
        } else {
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(log)));
            EXPECT_EQ(fs::exists(target), c.planted == LINK_TO_A_FILE);
            if (c.planted == LINK_TO_A_FILE) {
                EXPECT_EQ(text_of(read_file_bytes(target)), precious);
            }
        }
    }
}

// A run that failed with message, notified the user and left the installation's names
// as they were but for the error log.
static void expect_failed_leaving_the_names(const Run_Result& result, const std::string& install,
                                            const std::set<std::string>& before, const std::string& message) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.program, "notify-send");
    ASSERT_EQ(result.arguments.size(), 4u);
    EXPECT_EQ(result.arguments[3], "ERROR: Failed to properly apply update v0.3.2 with the following error:\n" + message);
    std::set<std::string> after = names_in(install);
    after.erase("updater_error_log.txt");
    EXPECT_EQ(after, before);
}

TEST_F(Updater_Run, AFileThatCannotBeWrittenFailsTheUpdate) {
    std::string install = make_installation("full-disk");
    write_file_bytes(install + "/quarn", text_bytes(STUB_PROGRAM), 0755);
    write_file_bytes(install + "/readme.txt", text_bytes("The installed readme.\n"));
    Bytes big(100000);
    u32 seed = (u32)test_seed(8);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    for (u8& b : big) b = (u8)random();
    Bytes readme = text_bytes("A readme of the new release.\n");
    Bytes data = craft_update_data(1, {{"readme.txt", readme, (u32)readme.size()}, {"api.8", big, (u32)big.size()}});
    write_file_bytes(install + "/update.data", data, 0600);
    std::set<std::string> before = names_in(install);

    // Files above 20 KiB cannot be written, as on a full disk: writes fail instead of
    // stopping the program.
    Run_Result result = run_updater(install, "trap '' XFSZ; ulimit -f 40");
    expect_failed_leaving_the_names(result, install, before, "Could not write file api.8 to disk.");
    EXPECT_EQ(text_of(read_file_bytes(install + "/readme.txt")), "The installed readme.\n");
    EXPECT_TRUE(read_file_bytes(install + "/update.data") == data);
}

// The files are replaced one by one; when a later one cannot be (a directory stands where a
// release file belongs), those replaced before it are put back, and the editors that run
// are left alone.
TEST_F(Updater_Run, AFailureAfterSomeFilesWereReplacedPutsThemBack) {
    std::string install = make_installation("half-replaced");
    write_file_bytes(install + "/quarn", text_bytes(STUB_PROGRAM), 0755);
    write_file_bytes(install + "/api.8", text_bytes("the installed api\n"), 0640);
    fs::create_directory(install + "/readme.txt");
    write_file_bytes(install + "/readme.txt/inside", text_bytes("not a release file\n"));
    Bytes api = text_bytes("the new api\n"), readme = text_bytes("the new readme\n"), changes = text_bytes("new\n");
    Bytes data = craft_update_data(1, {{"api.8", api, (u32)api.size()},
                                       {"changelog.txt", changes, (u32)changes.size()},
                                       {"readme.txt", readme, (u32)readme.size()}});
    write_file_bytes(install + "/update.data", data, 0600);
    std::set<std::string> before = names_in(install);
    fs::remove(install + "/quarn");
    fs::copy_file("/bin/sleep", install + "/quarn");

    Run_Result result = run_updater(install, start_programs({{"editor", install + "/quarn"}}), end_programs({"editor"}));
    EXPECT_EQ(result.probe, "editor 143\n");
    // No new files, no backups, no change log.
    expect_failed_leaving_the_names(result, install, before, "Could not write file readme.txt to disk.");
    EXPECT_EQ(text_of(read_file_bytes(install + "/api.8")), "the installed api\n");
    EXPECT_EQ(mode_of(install + "/api.8"), 0640u);
    EXPECT_EQ(text_of(read_file_bytes(install + "/readme.txt/inside")), "not a release file\n");
    EXPECT_TRUE(read_file_bytes(install + "/update.data") == data);
}

//~ Stopping editors

// Only the editors running this installation's editor are stopped, however they were
// started: through a link to the folder or to the program, and from the file that the
// update has just replaced. Another installation's editor goes on.
TEST_F(Updater_Run, StopsOnlyTheEditorsOfItsOwnInstallation) {
    std::string install = make_installation("running");
    fs::copy_file("/bin/sleep", install + "/quarn");
    std::string other = root + "/other";
    fs::create_directory(other);
    fs::copy_file("/bin/sleep", other + "/quarn");
    fs::create_directory_symlink(install, root + "/running-link");
    fs::create_symlink(install + "/quarn", root + "/q");
    Bytes editor = text_bytes(STUB_PROGRAM);
    write_file_bytes(install + "/update.data", craft_update_data(1, {{"quarn", editor, (u32)editor.size()}}), 0600);

    std::string before = start_programs({{"editor", install + "/quarn"},
                                         {"through_folder_link", root + "/running-link/quarn"},
                                         {"through_program_link", root + "/q"},
                                         {"other", other + "/quarn"}});
    std::string after = end_programs({"editor", "through_folder_link", "through_program_link", "other"});
    Run_Result result = run_updater(install, before, after);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.probe, "editor 137\nthrough_folder_link 137\nthrough_program_link 137\nother 143\n");
    EXPECT_EQ(result.program, "quarn");
    EXPECT_EQ(result.arguments, std::vector<std::string>({install + "/changelog.txt"}));
    EXPECT_TRUE(read_file_bytes(install + "/quarn") == editor);
    EXPECT_FALSE(fs::exists(install + "/update.data"));
}

// An updater that is itself the installation's editor file (a second name of it) finishes
// its run.
TEST_F(Updater_Run, NeverStopsItself) {
    std::string install = make_installation("self");
    fs::create_hard_link(install + "/updater", install + "/quarn");
    Bytes editor = text_bytes(STUB_PROGRAM);
    write_file_bytes(install + "/update.data", craft_update_data(1, {{"quarn", editor, (u32)editor.size()}}), 0600);
    Run_Result result = run_updater(install);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.program, "quarn");
    EXPECT_FALSE(fs::exists(install + "/update.data"));
}
