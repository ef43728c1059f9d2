// Generated files for the benches: a file in /tmp that lives as long as its record and is
// removed with it, and texts of C-like lines or one long line of any size.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <stdio.h>

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

inline const char* C_LINES[] = {
    "static int function_%d(int value, const char* name) {",
    "    // Adds the characters of the name that the value picks, more or less.",
    "    int total = value * 3 + %d;",
    "    for (int i = 0; i < total; i++) {",
    "        if (name[i %% 7] == 'x') total -= i;",
    "        else total += \"a string literal\"[i %% 16];",
    "    }",
    "    /* a block comment */ return total;",
    "}",
    "",
};

inline std::string c_lines(size_t lines) {
    std::string text;
    char line[256];
    for (size_t i = 0; i < lines; i++) {
        snprintf(line, sizeof(line), C_LINES[i % 10], (int)(i / 10), (int)(i % 97));
        text += line;
        text += '\n';
    }
    return text;
}

inline std::string c_of_size(size_t size) {
    std::string block = c_lines(10000);
    std::string text;
    text.reserve(size + block.size());
    while (text.size() < size) text += block;
    text.resize(size);
    return text;
}

inline std::string one_line_of_size(size_t size) {
    std::string text;
    text.reserve(size + 64);
    for (int i = 0; text.size() < size; i++) {
        text += "total += name[" + std::to_string(i % 1000) + "] * 3; ";
    }
    text.resize(size);
    return text;
}
