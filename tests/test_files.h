// Whole files read and written by tests, as octets.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Makes the folders on the way.
inline void write_test_file(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
}

// "" when the file cannot be read.
inline std::string read_test_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}
