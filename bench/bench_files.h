// Generated sources for the compiler benches: a file in /tmp that lives as long as its
// record and is removed with it.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

struct Bench_File {
    std::string path;
    explicit Bench_File(const std::string& text, const char* suffix) {
        std::string pattern = std::string("/tmp/quarn_bench_XXXXXX") + suffix;
        int fd = mkstemps(pattern.data(), (int)strlen(suffix));
        if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size()) abort();
        close(fd);
        path = pattern;
    }
    ~Bench_File() { unlink(path.c_str()); }
};
