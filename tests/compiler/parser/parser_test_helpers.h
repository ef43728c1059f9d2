// Test fixtures for the parser, beside the compiler core's (a source over a test's text,
// the reports): a scratch directory of source files, a compile of one of them, a scope's
// instruction kinds, and the allocator's use, which must not grow across compiles or
// failed loads.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "compiler/parser/parser.h"
#include "compiler_test_helpers.h"
#include "tests/scratch.h"

struct Scratch_Directory {
    std::filesystem::path path;
    Scratch_Directory() {
        path = make_test_directory("parser");
    }
    ~Scratch_Directory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }

    // Writes the file, making its directories; returns its full path.
    std::string write(const std::string& name, const std::string& text) const {
        std::filesystem::path file = path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
};

// The support sources are read from the base directory, which must outlive the compile.
struct Base_Directory {
    std::string path;
    String saved;
    explicit Base_Directory(const std::string& directory) : path(directory) {
        saved = global_compiler_state.base_directory;
        global_compiler_state.base_directory = String{(u8*)path.data(), (s64)path.size()};
    }
    ~Base_Directory() { global_compiler_state.base_directory = saved; }
};

// The prelude fixture: the support types and a few of the tests' own, as quarnc's cases use it.
inline const std::string& prelude_path() {
    static const std::string path = std::string(QUARN_COMPILER_PARSER_FIXTURES) + "/prelude.8";
    return path;
}

// The front end over one file after the prelude, as `quarnc --front --prelude` runs it (the
// prelude is source file 0); the state stays readable until the next compile or
// free_compiler_state.
inline bool compile_test_file(const std::string& path) {
    tmp_reset();
    String prelude = {(u8*)prelude_path().data(), (s64)prelude_path().size()};
    return compile_front_end((u8*)path.data(), path.size(), false, prelude);
}

// The kinds of a scope's instructions, in order.
inline std::vector<u32> instruction_kinds(Scope* scope) {
    std::vector<u32> kinds;
    for (Instruction* i = (Instruction*)scope->instructions.first_element; i; i = i->next) kinds.push_back(i->kind);
    return kinds;
}

inline std::string source_path(u32 index) {
    Source_File* file = get_source_file(index);
    return file ? std::string((char*)file->path.data, file->path.count) : std::string();
}

// find_global comes with the core's test helpers.

inline Identifier* find_in_scope(Scope* scope, const char* name) { return get_identifier(scope, (u8*)name, strlen(name)); }

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
