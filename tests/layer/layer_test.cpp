// The shipped layer's texts: api.8's key codes against the build's GLFW header, its #import
// names against the runtime's routine table, every source and the probe layer through
// quarnc's tokeniser, the shipped folder through quarnc's compile, and the release files
// the build lays out beside the executables. layer_conformance_test.cpp runs the probe.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/foreign_routines.h"
#include "tests/test_files.h"
#include "updater/updater.h"

namespace {

const std::string API = std::string(QUARN_LAYER_SOURCES) + "/api.8";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lines that start with the prefix and hold the separator after it, as the name between
// them and the word after the separator (up to a blank or ';'), when the line also holds
// the mark. A name seen twice goes to `twice`.
std::map<std::string, std::string> collect(const std::string& text, const std::string& prefix,
                                           const std::string& separator, const std::string& mark,
                                           std::vector<std::string>* twice) {
    std::map<std::string, std::string> found;
    for (const std::string& line : lines_of(text)) {
        if (!line.starts_with(prefix) || line.find(mark) == std::string::npos) continue;
        size_t split = line.find(separator, prefix.size());
        if (split == std::string::npos) continue;
        std::string name = line.substr(prefix.size(), split - prefix.size());
        size_t start = line.find_first_not_of(' ', split + separator.size());
        std::string word = start == std::string::npos ? "" : line.substr(start, line.find_first_of(" ;", start) - start);
        if (!found.emplace(name, word).second) twice->push_back(name);
    }
    return found;
}

TEST(Layer, KeyCodesAreGlfws) {
    std::string header = read_test_file(QUARN_GLFW_HEADER);
    ASSERT_FALSE(header.empty()) << QUARN_GLFW_HEADER;
    std::vector<std::string> twice;
    // GLFW_KEY_UNKNOWN (-1) is no key, and GLFW_KEY_LAST names another macro.
    std::map<std::string, std::string> glfw = collect(header, "#define GLFW_KEY_", " ", "", &twice);
    std::erase_if(glfw, [](const auto& key) { return key.second.empty() || key.second[0] < '0' || key.second[0] > '9'; });
    ASSERT_GT(glfw.size(), 100u);

    std::map<std::string, std::string> api = collect(read_test_file(API), "$KEY_", ": u32 = ", ";", &twice);
    EXPECT_TRUE(twice.empty()) << "declared twice: " << ::testing::PrintToString(twice);
    for (const auto& [name, value] : glfw) {
        auto it = api.find(name);
        if (it == api.end()) ADD_FAILURE() << "api.8 lacks KEY_" << name << " (" << value << ")";
        else EXPECT_EQ(it->second, value) << "KEY_" << name;
    }
    for (const auto& [name, value] : api) {
        if (!glfw.count(name)) ADD_FAILURE() << "KEY_" << name << " is no GLFW key";
    }
}

// A misspelt name would compile to no routine at all, silently.
TEST(Layer, ImportsAreTheRoutineTable) {
    std::vector<std::string> twice;
    std::map<std::string, std::string> imports = collect(read_test_file(API), "$", ": (", "= #import;", &twice);
    EXPECT_TRUE(twice.empty()) << "declared twice: " << ::testing::PrintToString(twice);
    std::vector<std::string> table;
#define X(constant, id, name) table.push_back(name);
    FOREIGN_ROUTINE_LIST(X)
#undef X
    for (const std::string& name : table) EXPECT_TRUE(imports.count(name)) << "api.8 lacks " << name;
    for (const auto& [name, signature] : imports) {
        EXPECT_NE(std::find(table.begin(), table.end(), name), table.end()) << name << " is no routine of the editor";
    }
}

// What quarnc prints, stderr too, given one argument.
std::string run_quarnc(const std::string& argument, int* status) {
    std::string command = std::string("'") + QUARN_QUARNC + "' '" + argument + "' 2>&1";
    FILE* run = popen(command.c_str(), "r");
    if (!run) return "popen failed";
    std::string output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), run)) > 0;) output.append(buffer, n);
    *status = pclose(run);
    return output;
}

// quarnc FILE prints the reports of tokenising; a clean source prints nothing.
TEST(Layer, SourcesTokenise) {
    std::vector<std::string> sources;
    for (const char* directory : {QUARN_LAYER_SOURCES, QUARN_LAYER_PROBE}) {
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            if (entry.path().extension() == ".8") sources.push_back(entry.path().string());
        }
    }
    ASSERT_GE(sources.size(), 6u);
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        int status = -1;
        EXPECT_EQ(run_quarnc(source, &status), "");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// quarnc DIR compiles the folder's custom.8 with its support sources, as the editor does.
TEST(Layer, TheShippedFolderCompilesWithoutAReport) {
    int status = -1;
    EXPECT_EQ(run_quarnc(QUARN_LAYER_SOURCES, &status), "");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Every file an update carries beside the programs lies beside the editor after a build.
TEST(Layer, ReleaseFilesLieBesideTheExecutables) {
    std::string out = std::string(QUARN_OUTPUT_DIR) + "/";
    std::string sources = std::string(QUARN_LAYER_SOURCES) + "/";
    u32 checked = 0;
    for (const char* name : release_file_names) {
        std::string file = name;
        if (!file.ends_with(".8") && !file.ends_with(".txt")) continue;
        SCOPED_TRACE(file);
        EXPECT_FALSE(read_test_file(out + file).empty());
        checked++;
    }
    EXPECT_EQ(checked, 8u);

    // The copies an update ships are the files the release starts with.
    static const char* const copies[][2] = {
        {"custom_latest.8", "custom.8"}, {"syntax_latest.8", "syntax.8"}, {"syntax.8", "syntax.8"}, {"api.8", "api.8"}};
    for (const auto& copy : copies) {
        EXPECT_TRUE(read_test_file(out + copy[0]) == read_test_file(sources + copy[1])) << copy[0] << " is not " << copy[1];
    }
    // Quarn's licence, then the licence of the fonts.
    std::string fonts = read_test_file(out + "dejavu-fonts-license.txt");
    ASSERT_FALSE(fonts.empty());
    EXPECT_TRUE(read_test_file(out + "license.txt") == read_test_file(sources + "license.txt") + "\n" + fonts);
}

}  // namespace
