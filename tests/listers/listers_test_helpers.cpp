// Fixture builders of the lister tests, and thread starts that fail on request: this
// definition takes the place of the C library's for the whole test program.
#include "listers_test_helpers.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

std::atomic<int> failing_thread_starts;
std::atomic<int> passing_thread_starts;

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*entry)(void*),
                              void* argument) noexcept {
    typedef int (*Create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static Create real = (Create)dlsym(RTLD_NEXT, "pthread_create");
    int passing = passing_thread_starts.load();
    while (passing > 0) {
        if (passing_thread_starts.compare_exchange_weak(passing, passing - 1)) return real(thread, attributes, entry, argument);
    }
    int failing = failing_thread_starts.load();
    while (failing != 0) {
        if (failing < 0 || failing_thread_starts.compare_exchange_weak(failing, failing - 1)) return EAGAIN;
    }
    return real(thread, attributes, entry, argument);
}

void make_tree(const std::string& root, const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
        size_t arrow = e.find("->");
        if (arrow != std::string::npos) {
            ASSERT_EQ(symlink(e.substr(arrow + 2).c_str(), (root + "/" + e.substr(0, arrow)).c_str()), 0) << e;
        } else if (e.back() == '/') {
            std::filesystem::create_directories(root + "/" + e);
        } else if (e.back() == '|') {
            ASSERT_EQ(mkfifo((root + "/" + e.substr(0, e.size() - 1)).c_str(), 0600), 0) << e;
        } else if (e.back() == '@') {
            // A socket's address holds a short path only, shorter than a long TMPDIR: it is
            // bound through the descriptor of its folder, whose name under /proc is short.
            std::string path = root + "/" + e.substr(0, e.size() - 1);
            size_t slash = path.rfind('/');
            int folder = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ASSERT_GE(folder, 0) << e;
            std::string short_path = "/proc/self/fd/" + std::to_string(folder) + path.substr(slash);
            int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            memcpy(address.sun_path, short_path.c_str(), short_path.size());
            int bound = bind(fd, (sockaddr*)&address, sizeof(address));
            close(fd);
            close(folder);
            ASSERT_EQ(bound, 0) << e;
        } else {
            size_t equals = e.find('=');
            std::string name = e.substr(0, equals);
            std::string content;
            if (equals != std::string::npos) {
                std::string value = e.substr(equals + 1);
                if (!value.empty() && value[0] == ':') content = value.substr(1);
                else content.assign(std::stoul(value), 'x');
            }
            std::ofstream(root + "/" + name, std::ios::binary) << content;
        }
    }
}

void set_layer_lists(const std::vector<std::string>& skipped, const std::vector<std::string>& extensions,
                     const std::vector<std::string>& paths, u64 size_limit) {
    std::vector<String> a, b, c;
    for (const std::string& s : skipped) a.push_back(test_string(s));
    for (const std::string& s : extensions) b.push_back(test_string(s));
    for (const std::string& s : paths) c.push_back(test_string(s));
    ASSERT_TRUE(editor_settings_set_lists(a.data(), (s64)a.size(), b.data(), (s64)b.size(), c.data(), (s64)c.size(),
                                       size_limit));
}

void set_input_text(Editor_File* input, const std::string& text) {
    input->text.count = 0;
    if (!text.empty()) {
        u8* at = (u8*)dynamic_array_add_fast_multiple(&input->text, (u32)text.size());
        memcpy(at, text.data(), text.size());
    }
}
