#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"

static std::vector<std::string> components_of(Filepath* path) {
    std::vector<std::string> out;
    for (u32 i = 0; i < path->count; i++) {
        Filepath_Component* c = &path->components[i];
        EXPECT_EQ(c->text, c->storage);
        out.emplace_back((char*)c->text, c->length);
    }
    return out;
}

TEST(Filepath, SplitsAndJoins) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> components;
        std::string joined;
    };
    static const Case cases[] = {
        {"doubled and mixed separators", "//a\\\\b/", {"/", "a", "b"}, "/a/b"},
        {"trailing separators", "a//", {"a"}, "a"},
        {"root alone", "/", {"/"}, "/"},
        {"empty", "", {}, ""},
        {"leading backslash is no root", "\\a", {"a"}, "a"},
        {"absolute file", "/home/a.txt", {"/", "home", "a.txt"}, "/home/a.txt"},
        {"relative", "src/x", {"src", "x"}, "src/x"},
        {"root then separators of both kinds", "/\\\\//", {"/"}, "/"},
        {"backslashes alone", "\\\\", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Filepath path;
        ASSERT_TRUE(string_to_filepath(&path, (u8*)c.text.data(), (s64)c.text.size()));
        EXPECT_EQ(components_of(&path), c.components);
        String joined = filepath_to_tmp_string(&path);
        EXPECT_EQ(std::string((char*)joined.data, joined.count), c.joined);
        EXPECT_EQ(joined.data[joined.count], 0);  // ready for the OS
    }
}

TEST(Filepath, RefusesWhatDoesNotFitInsteadOfShortening) {
    std::string deepest;
    for (int i = 0; i < FILEPATH_MAX_COMPONENTS; i++) deepest += "/d";
    std::string longest_name(FILEPATH_MAX_COMPONENT_LENGTH, 'n');
    struct Case {
        const char* name;
        std::string text;
        b8 fits;
    };
    const Case cases[] = {
        {"64 components", deepest.substr(1), true},        // d/d/.../d
        {"65 components with the root", deepest, false},    // / then 64 times d
        {"a component of 256 octets", "/x/" + longest_name, true},
        {"a component of 257 octets", "/x/" + longest_name + "n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Filepath path;
        path.count = 7;
        EXPECT_EQ(string_to_filepath(&path, (u8*)c.text.data(), (s64)c.text.size()), c.fits);
        if (!c.fits) {
            EXPECT_EQ(path.count, 0);
        }
        if (c.fits) {
            String joined = filepath_to_tmp_string(&path);
            std::string expected = c.text;
            EXPECT_EQ(std::string((char*)joined.data, joined.count), expected);
        }
    }
}

TEST(Filepath, CopyKeepsItsOwnText) {
    Filepath source, copy;
    std::string text = "/usr/lib";
    ASSERT_TRUE(string_to_filepath(&source, (u8*)text.data(), (s64)text.size()));
    set_filepath_from(&copy, &source);
    source.components[1].storage[0] = 'X';  // the copy must not see this
    EXPECT_EQ(components_of(&copy), (std::vector<std::string>{"/", "usr", "lib"}));
}

static void set_list(Dynamic_Array* list, const std::vector<std::string>& texts) {
    list->count = 0;
    for (const std::string& t : texts) *(String*)dynamic_array_add_fast(list) = test_string(t);
}

TEST(Filepath, Blacklist) {
    struct Case {
        const char* name;
        std::vector<std::string> extensions;
        std::vector<std::string> paths;
        std::string text;
        b8 check_extension, check_path;
        b8 expected;
    };
    std::string deep;
    for (int i = 0; i < 100; i++) deep += "/d";  // deeper than a Filepath holds
    const Case cases[] = {
        {"extension listed", {"gz"}, {}, "x.tar.gz", true, false, true},
        {"entry with its dot never matches", {".gz"}, {}, "x.tar.gz", true, false, false},
        {"both checks off", {"gz"}, {"x.tar.gz"}, "x.tar.gz", false, false, false},
        {"no dot, no extension", {"gz"}, {}, "gz", true, false, false},
        {"empty extension matches nothing", {""}, {}, "name.", true, false, false},
        {"dot in a directory counts", {"d/x"}, {}, "/a.d/x", true, false, true},
        {"extension compared exactly", {"GZ"}, {}, "x.gz", true, false, false},
        {"empty lists walk everywhere", {}, {}, "/p/node_modules", true, true, false},
        {"relative entry at the end", {}, {"node_modules"}, "/p/node_modules", false, true, true},
        {"relative entry in the middle", {}, {"node_modules"}, "/p/node_modules/x", false, true, true},
        {"whole components only", {}, {"node_modules"}, "/p/node", false, true, false},
        {"absolute entry at the start", {}, {"/tmp"}, "/tmp/a", false, true, true},
        {"absolute entry never in the middle", {}, {"/tmp"}, "/x/tmp", false, true, false},
        {"run of components", {}, {"u/src/build"}, "/home/u/src/build/x", false, true, true},
        {"run broken", {}, {"u/build"}, "/home/u/src/build", false, true, false},
        {"separators of either kind", {}, {"a\\\\b//"}, "/x/a/b", false, true, true},
        {"entry longer than the path", {}, {"a/b/c"}, "a/b", false, true, false},
        {"entry without components", {}, {"\\\\"}, "/x", false, true, false},
        {"root entry matches absolute paths", {}, {"//"}, "/x", false, true, true},
        {"later entry matches", {}, {"zzz", "build"}, "/home/u/build", false, true, true},
        {"path deeper than a Filepath", {}, {"d/d/e"}, deep + "/e", false, true, true},
        {"extension test first, then path", {"c"}, {"src"}, "/src/main.h", true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_list(&editor_settings.blacklisted_extensions, c.extensions);
        set_list(&editor_settings.blacklisted_paths, c.paths);
        std::string text = c.text;
        EXPECT_EQ(filepath_is_blacklisted((u8*)text.data(), (s64)text.size(), c.check_extension, c.check_path), c.expected);
    }
    editor_settings.blacklisted_extensions.count = 0;
    editor_settings.blacklisted_paths.count = 0;
}
