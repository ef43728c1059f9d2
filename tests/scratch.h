// Where a test process keeps its scratch files: one folder for the whole process, made on
// first use under $TMPDIR (a run of the suite gives itself a folder there) or /tmp, and
// removed when the process ends. TMPDIR then points at it, so what the process starts
// (compilers, scripts, the editor) keeps its own temporary files there too, and two suites
// running at once never meet.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

inline std::string& test_scratch_root_storage() {
    static std::string root;
    return root;
}

inline pid_t& test_scratch_root_owner() {
    static pid_t owner;
    return owner;
}

inline void remove_test_scratch_root() {
    // A forked child that ends through exit() must not take its parent's files along.
    if (getpid() != test_scratch_root_owner()) return;
    std::error_code ignored;
    if (!test_scratch_root_storage().empty()) std::filesystem::remove_all(test_scratch_root_storage(), ignored);
}

// The process's scratch folder; "" when none could be made.
inline const std::string& test_scratch_root() {
    std::string& root = test_scratch_root_storage();
    if (!root.empty()) return root;
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/quarn-tests-XXXXXX";
    if (!mkdtemp(pattern.data())) return root;
    // Tests that drop to an unprivileged user pass through it to their own folders.
    chmod(pattern.c_str(), 0711);
    root = pattern;
    test_scratch_root_owner() = getpid();
    atexit(remove_test_scratch_root);
    setenv("TMPDIR", root.c_str(), 1);
    return root;
}

// A new empty directory in the scratch folder, its name starting with the prefix; "" when
// it could not be made.
inline std::string make_test_directory(const std::string& prefix) {
    const std::string& root = test_scratch_root();
    if (root.empty()) return "";
    std::string pattern = root + "/" + prefix + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

// Removes a file or a directory with everything in it, quietly: what is left goes with the
// scratch folder at the end.
inline void remove_test_files(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
