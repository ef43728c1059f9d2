// The update client against HTTPS servers of the test's own on 127.0.0.1: a test CA made
// with openssl at run time, which the client is told to trust (the system's store is
// untouched), and a second server whose certificate another CA signed. Each case is a
// directory on the server; its name chooses how the server misbehaves (https_server.py).
#include <gtest/gtest.h>

#include <curl/curl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "shell/shell.h"
#include "tests/shell/shell_test_support.h"
#include "tests/process_test_support.h"
#include "updater/updater.h"

namespace {

struct Https_Server {
    pid_t pid = -1;
    int port = 0;
};

struct Test_Servers {
    std::string directory;
    std::string ca_file;
    Https_Server trusted, rogue;
    bool started = false;
    bool failed = false;
};

Test_Servers servers;

// Runs command in directory d.
int run_in(const std::string& d, const std::string& command) {
    return system(("cd " + shell_word(d) + " && " + command + " >/dev/null 2>&1").c_str());
}

// A CA and a server certificate for 127.0.0.1 that it signs.
bool make_certificates(const std::string& d, const std::string& name) {
    std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    write_test_file(d + "/" + name + ".ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    return run_in(d, "openssl req -x509" + ec + "-days 2 -subj '/CN=" + name + " test CA' -keyout " + name +
                         "-ca.key -out " + name + "-ca.pem") == 0 &&
           run_in(d, "openssl req" + ec + "-subj /CN=localhost -keyout " + name + ".key -out " + name + ".csr") == 0 &&
           run_in(d, "openssl x509 -req -days 2 -in " + name + ".csr -CA " + name + "-ca.pem -CAkey " + name +
                         "-ca.key -CAcreateserial -extfile " + name + ".ext -out " + name + ".pem") == 0;
}

bool start_server(Https_Server* server, const std::string& name) {
    std::string d = servers.directory;
    std::string port_file = d + "/" + name + ".port";
    pid_t parent = getpid();
    server->pid = fork();
    if (server->pid == 0) {
        end_with_the_test(parent);
        execl("/usr/bin/python3", "python3", QUARN_HTTPS_SERVER, (d + "/www").c_str(), (d + "/" + name + ".pem").c_str(),
              (d + "/" + name + ".key").c_str(), port_file.c_str(), (char*)nullptr);
        _exit(127);
    }
    if (server->pid < 0) return false;
    if (!wait_until([&] { return std::filesystem::exists(port_file); })) return false;
    server->port = std::stoi(read_test_file(port_file));
    return server->port > 0;
}

std::string update_data(size_t size, u32 magic) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++) data[i] = (char)(i * 7 + 3);
    if (size >= 4) memcpy(&data[0], &magic, 4);
    return data;
}

// Each case directory serves a version record and update data.
void serve(const std::string& name, const std::string& version, const std::string& data) {
    std::string base = servers.directory + "/www/" + name + "/binaries/quarn/";
    if (!version.empty()) write_test_file(base + "version_info.bin", version);
    if (!data.empty()) write_test_file(base + "quarn_latest_v1.bin", data);
    std::filesystem::create_directories(base);
}

const std::string GOOD_DATA = update_data(5000, UPDATE_MAGIC_NUMBER);

bool start_servers() {
    if (servers.started || servers.failed) return servers.started;
    servers.failed = true;
    servers.directory = make_scratch_directory();
    std::string d = servers.directory;
    if (d.empty() || !make_certificates(d, "trusted") || !make_certificates(d, "rogue")) return false;
    servers.ca_file = d + "/trusted-ca.pem";
    serve("v031", std::string("\x00\x03\x01", 3), "");
    serve("v032", std::string("\x00\x03\x02\x00", 4), "");
    serve("v029", std::string("\x00\x02\x09", 3), "");
    serve("v033", std::string("\x00\x03\x03", 3), "");
    serve("v040", std::string("\x00\x04\x00", 3), "");
    serve("v100", std::string("\x01\x00\x00", 3), "");
    serve("short", std::string("\x09\x09", 2), "");
    serve("missing", "", "");
    serve("good", "", GOOD_DATA);
    serve("exact", "", update_data(24, UPDATE_MAGIC_NUMBER));
    serve("small", "", update_data(23, UPDATE_MAGIC_NUMBER));
    serve("magic", "", update_data(5000, 0x38383838));
    serve("truncated", "", GOOD_DATA);
    serve("stalled", "", GOOD_DATA);
    serve("unsized", "", GOOD_DATA);
    serve("sized", "", GOOD_DATA);
    if (!start_server(&servers.trusted, "trusted") || !start_server(&servers.rogue, "rogue")) return false;
    servers.failed = false;
    servers.started = true;
    return true;
}

struct Servers_Environment : ::testing::Environment {
    void SetUp() override { curl_global_init(CURL_GLOBAL_ALL); }
    void TearDown() override {
        for (Https_Server* s : {&servers.trusted, &servers.rogue}) {
            if (s->pid > 0) {
                kill(s->pid, SIGKILL);
                waitpid(s->pid, nullptr, 0);
            }
        }
        remove_scratch_directory(servers.directory);
        curl_global_cleanup();
    }
};
::testing::Environment* const servers_environment = ::testing::AddGlobalTestEnvironment(new Servers_Environment);

std::string host_text;  // update_client_settings.host points here

void point_client_at(const Https_Server& server, const std::string& name, bool with_scheme = true) {
    host_text = (with_scheme ? "https://" : "") + std::string("127.0.0.1:") + std::to_string(server.port) + "/" + name;
    update_client_settings.host = host_text.c_str();
    update_client_settings.ca_file = servers.ca_file.c_str();
    // Only the stalled cases shorten it: a busy machine may keep a good server quiet a while.
    update_client_settings.stall_seconds = (u32)TEST_DEADLINE_SECONDS;
    update_client_settings.max_download_size = UPDATE_MAX_DOWNLOAD_SIZE;
}

bool wait_for_client_threads() { return wait_until([] { return !update_client_threads_running(); }); }

struct Update_Client_Test : ::testing::Test {
    std::string installation;  // stands for the executable's directory
    std::string installation_text;

    void SetUp() override {
        ASSERT_TRUE(start_servers()) << "the test's HTTPS servers did not start";
        dynamic_array_free(&tabs);
        init_tabs();
    }
    void TearDown() override {
        dynamic_array_free(&tabs);
        init_tabs();
        global_flags = SHOULD_RUN;
        executable_filepath = String{};
        remove_scratch_directory(installation);
    }

    // A fresh installation directory, with a stand-in updater that leaves a mark.
    void make_installation(bool with_updater) {
        remove_scratch_directory(installation);
        installation = make_scratch_directory();
        installation_text = installation;
        executable_filepath = String{(u8*)installation_text.data(), (s64)installation_text.size()};
        if (with_updater) {
            write_test_file(installation + "/updater", "#!/bin/sh\necho \"$0\" > \"$(dirname \"$0\")/updater-ran\"\n");
            chmod((installation + "/updater").c_str(), 0755);
        }
    }

    std::vector<std::string> installation_files() {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(installation)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(Update_Client_Test, HostsAndPathsMakeOneAddress) {
    struct Case {
        const char* name;
        bool scheme;
        const char* path;
    };
    static const Case cases[] = {
        {"a host with its scheme", true, "binaries/quarn/version_info.bin"},
        {"a host without one gets https", false, "binaries/quarn/version_info.bin"},
        {"a path with a leading slash", true, "/binaries/quarn/version_info.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        point_client_at(servers.trusted, "v031", c.scheme);
        Dynamic_Array received;
        init_dynamic_array(&received, 1);
        EXPECT_TRUE(download_file_over_http(string_from_c(update_client_settings.host), string_from_c(c.path), &received,
                                            nullptr, nullptr));
        EXPECT_EQ(std::string((char*)received.data, received.count), std::string("\x00\x03\x01", 3));
        dynamic_array_free(&received);
    }
    Dynamic_Array received;
    init_dynamic_array(&received, 1);
    u64 mark = log_mark();
    EXPECT_FALSE(download_file_over_http(STR(""), STR("x"), &received, nullptr, nullptr));
    EXPECT_FALSE(download_file_over_http(string_from_c(host_text.c_str()), STR(""), &received, nullptr, nullptr));
    EXPECT_EQ(log_since(mark), "");  // nothing to report for an empty host or path
}

TEST_F(Update_Client_Test, TheCheckerComparesTheServersVersionWithOurs) {
    struct Case {
        const char* name;
        bool available;
        const char* message;
    };
    static const Case cases[] = {
        {"v029", false, "Info: Quarn is up to date.\n"},
        {"v031", false, "Info: Quarn is up to date.\n"},
        {"v032", false, "Info: Quarn is up to date.\n"},
        {"short", false, "Info: Quarn is up to date.\n"},
        {"v033", true, "Info: Quarn 0.3.3 update is available.\n"},
        {"v040", true, "Info: Quarn 0.4.0 update is available.\n"},
        {"v100", true, "Info: Quarn 1.0.0 update is available.\n"},
        {"missing", false, "Failed to check for updates.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        point_client_at(servers.trusted, c.name);
        global_flags = SHOULD_RUN;
        u64 mark = log_mark();
        ASSERT_TRUE(start_update_checker());
        ASSERT_TRUE(wait_for_client_threads());
        EXPECT_EQ((global_flags & UPDATE_IS_AVAILABLE) != 0, c.available);
        EXPECT_NE(log_since(mark).find(c.message), std::string::npos) << log_since(mark);
    }

    // A build with no update host (as the test builds are) asks nothing and says nothing.
    update_client_settings.host = "";
    global_flags = SHOULD_RUN;
    u64 mark = log_mark();
    ASSERT_TRUE(start_update_checker());
    EXPECT_FALSE(update_client_threads_running());
    EXPECT_EQ(log_since(mark), "");
    EXPECT_FALSE(global_flags & UPDATE_IS_AVAILABLE);
}

TEST_F(Update_Client_Test, EveryFailedDownloadIsReportedAndSavesNothing) {
    struct Case {
        const char* name;
        bool rogue;
        u64 limit;
        const char* message;
        bool button_returns;  // the download itself failed, so "Update" shows again
    };
    static const Case cases[] = {
        {"missing", false, 0, "with HTTP status 404.", true},
        {"truncated", false, 0, "curl_easy_perform() failed with status 18.", true},
        {"stalled", false, 0, "stayed silent for 1 seconds.", true},
        {"unsized", false, 1024, "is larger than the limit of 1024 octets.", true},
        {"sized", false, 1024, "is larger than the limit of 1024 octets.", true},
        {"good", true, 0, "curl_easy_perform() failed with status 60.", true},
        {"small", false, 0, "ERROR #0x", false},
        {"magic", false, 0, "The update data is invalid.\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_installation(true);
        point_client_at(c.rogue ? servers.rogue : servers.trusted, c.name);
        if (c.limit) update_client_settings.max_download_size = c.limit;
        if (std::string(c.name) == "stalled") update_client_settings.stall_seconds = 1;
        global_flags = SHOULD_RUN | UPDATE_IS_AVAILABLE;
        u64 mark = log_mark();
        Tab* tab = add_a_tab(TAB_UPDATE, nullptr);
        ASSERT_NE(tab, nullptr);
        u32 id = tab->id;
        EXPECT_FALSE(global_flags & UPDATE_IS_AVAILABLE);
        ASSERT_TRUE(wait_for_client_threads());

        std::string log = log_since(mark);
        EXPECT_NE(log.find("Info: Downloading update...\n"), std::string::npos);
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        if (c.button_returns) {
            EXPECT_NE(log.find("Failed to download update.\n"), std::string::npos) << log;
        }
        if (std::string(c.name) == "small") {
            EXPECT_NE(log.find("Update data is too small to be valid.\n"), std::string::npos) << log;
        }
        EXPECT_EQ(get_tab_by_id(id)->download_state, DOWNLOAD_FAILED);
        EXPECT_EQ((global_flags & UPDATE_IS_AVAILABLE) != 0, c.button_returns);
        EXPECT_TRUE(global_flags & SHOULD_RUN);
        EXPECT_EQ(installation_files(), std::vector<std::string>{"updater"});

        // A finished download's tab can be closed.
        close_tab(get_tab_by_id(id));
        EXPECT_EQ(tabs.count, 0u);
    }
}

TEST_F(Update_Client_Test, GoodDataIsSavedWholeAndTheUpdaterTakesOver) {
    struct Case {
        const char* name;
        const char* served;
        bool updater;
    };
    static const Case cases[] = {
        {"the updater runs", "good", true},
        {"24 octets are enough", "exact", true},
        {"no updater beside the editor", "good", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make_installation(c.updater);
        point_client_at(servers.trusted, c.served);
        global_flags = SHOULD_RUN | UPDATE_IS_AVAILABLE;
        u64 mark = log_mark();
        Tab* tab = add_a_tab(TAB_UPDATE, nullptr);
        ASSERT_NE(tab, nullptr);
        u32 id = tab->id;
        ASSERT_TRUE(wait_for_client_threads());

        std::string log = log_since(mark);
        std::string saved = installation + "/update.data";
        EXPECT_NE(log.find("Info: Downloaded update to '" + saved + "'.\n"), std::string::npos) << log;
        EXPECT_EQ(read_test_file(saved), read_test_file(servers.directory + "/www/" + c.served + "/binaries/quarn/quarn_latest_v1.bin"));
        struct stat st;
        ASSERT_EQ(stat(saved.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        if (c.updater) {
            EXPECT_TRUE(wait_until([&] { return read_test_file(installation + "/updater-ran") == installation + "/updater\n"; }));
            EXPECT_EQ(get_tab_by_id(id)->download_state, DOWNLOAD_DONE);
            EXPECT_FALSE(global_flags & SHOULD_RUN);
            EXPECT_EQ(installation_files(), (std::vector<std::string>{"update.data", "updater", "updater-ran"}));
        } else {
            EXPECT_NE(log.find("Could not start the updater '" + installation + "/updater'"), std::string::npos) << log;
            EXPECT_EQ(get_tab_by_id(id)->download_state, DOWNLOAD_FAILED);
            EXPECT_TRUE(global_flags & SHOULD_RUN);
            EXPECT_EQ(installation_files(), std::vector<std::string>{"update.data"});
        }
        EXPECT_FALSE(global_flags & UPDATE_IS_AVAILABLE);
    }
}

TEST_F(Update_Client_Test, AnUpdateTabNeedsAnUpdateAndStaysWhileItDownloads) {
    make_installation(true);
    global_flags = SHOULD_RUN;
    EXPECT_EQ(add_a_tab(TAB_UPDATE, nullptr), nullptr);
    EXPECT_EQ(tabs.count, 0u);

    point_client_at(servers.trusted, "stalled");
    // Long enough that the first half comes in before the silence counts on a busy machine.
    update_client_settings.stall_seconds = 5;
    global_flags = SHOULD_RUN | UPDATE_IS_AVAILABLE;
    Tab* tab = add_a_tab(TAB_UPDATE, nullptr);
    ASSERT_NE(tab, nullptr);
    u32 id = tab->id;
    EXPECT_EQ(add_a_tab(TAB_UPDATE, nullptr), nullptr);  // one press, one tab
    close_tab(get_tab_by_id(id));                        // still downloading: refused
    EXPECT_EQ(tabs.count, 1u);
    // Half the body arrives before the server falls silent; the tab follows it.
    EXPECT_TRUE(wait_until([&] {
        spin_lock(&tabs_read_lock);
        Tab* t = get_tab_by_id(id);
        bool half = t->download_total == GOOD_DATA.size() && t->download_progress >= 0.49f;
        spin_unlock(&tabs_read_lock);
        return half;
    }));
    ASSERT_TRUE(wait_for_client_threads());
    close_tab(get_tab_by_id(id));
    EXPECT_EQ(tabs.count, 0u);
}
