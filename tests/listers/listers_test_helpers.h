// Shared by the lister tests: scratch trees built from a short description, the layer's
// lists set from vectors, bounded waits, and a switch that makes thread starts fail.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "listers/listers.h"
#include "tests/scratch.h"
#include "tests/waiting.h"

inline String test_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

// Thread starts to refuse from now on: -1 all of them, n the next n; but first the next
// passing_thread_starts go ahead.
extern std::atomic<int> failing_thread_starts;
extern std::atomic<int> passing_thread_starts;

struct Scratch_Directory {
    std::filesystem::path path;
    Scratch_Directory() {
        path = make_test_directory("listers");
    }
    ~Scratch_Directory() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Entries, made in order: "dir/" a directory, "name" an empty file, "name=N" a file of N
// octets of 'x', "name=:text" a file holding text, "name->target" a symbolic link,
// "name|" a FIFO, "name@" a socket.
void make_tree(const std::string& root, const std::vector<std::string>& entries);

void set_layer_lists(const std::vector<std::string>& skipped, const std::vector<std::string>& extensions,
                     const std::vector<std::string>& paths, u64 size_limit);

void set_input_text(Editor_File* input, const std::string& text);

// Polls until done() holds; false after the time ran out.
template <typename Test>
bool wait_until(Test done, double seconds = TEST_DEADLINE_SECONDS) {
    return wait_for_condition(done, seconds, 200);
}
