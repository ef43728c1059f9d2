// Test fixtures for the parser: a scratch directory of source files, a compile of one of
// them, the reports it left, and the allocator's use, which must not grow across compiles
// or failed loads.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "compiler/parser/parser.h"

struct Scratch_Directory {
    std::filesystem::path path;
    Scratch_Directory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarn-parser-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Scratch_Directory() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }

    // Writes the file, making its directories; returns its full path.
    std::string write(const std::string& name, const std::string& text) const {
        std::filesystem::path file = path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
};

// The front end over one file alone, as `quarnc --front` runs it; the state stays readable
// until the next compile or free_compiler_state.
inline bool compile_test_file(const std::string& path) {
    tmp_reset();
    return compile_front_end((u8*)path.data(), path.size(), false);
}

inline std::vector<std::string> compile_error_messages() {
    std::vector<std::string> messages;
    for (u32 i = 0; i < compile_errors.count; i++) messages.push_back((char*)((Compile_Error*)compile_errors.data)[i].message);
    return messages;
}

inline Compile_Error* get_compile_error(u32 index) {
    return index < compile_errors.count ? (Compile_Error*)compile_errors.data + index : nullptr;
}

inline std::string source_path(u32 index) {
    Source_File* file = get_source_file(index);
    return file ? std::string((char*)file->path.data, file->path.count) : std::string();
}

inline Identifier* find_global(const char* name) {
    return get_identifier(global_compiler_state.global_scope, (u8*)name, strlen(name));
}

extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

// Octets held in the general-purpose allocator's units, plus what the sanitizer's malloc
// holds (every block, when the allocator is routed to malloc).
inline u64 allocator_usage() {
    u64 used = 0;
    for (Gp_Bucket* chain : __gp_allocator.chains) {
        for (Gp_Bucket* bucket = chain; bucket; bucket = bucket->next) used += bucket->used_units * bucket->unit_size;
    }
    if (__sanitizer_get_current_allocated_bytes) used += __sanitizer_get_current_allocated_bytes();
    return used;
}
