#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "foundation/os_files.h"
#include "foundation_fixtures.h"

struct Listed {
    u8 flags;
    u64 size;
    b8 has_time;
};

static std::map<std::string, Listed> list_directory(const std::string& directory, const char* extension) {
    std::map<std::string, Listed> listed;
    Os_Lister lister;
    os_lister_open(&lister, test_string(directory), String{(u8*)extension, (s64)strlen(extension)});
    Os_Lister_Item item;
    u64 used = tmp_get_used();
    while (os_lister_get_next_item(&lister, &item)) {
        EXPECT_EQ(item.name.data, item.name_buffer);
        listed[to_std(item.name)] = Listed{item.flags, item.size, item.modification_time != 0};
    }
    EXPECT_EQ(tmp_get_used(), used);
    os_lister_close(&lister);
    return listed;
}

TEST(OsLister, EntriesFlagsAndFilter) {
    setup_foundation_memory();
    Scratch_Directory scratch = make_scratch_directory();
    const std::string d = scratch.path;
    EXPECT_TRUE(list_directory(d, "").empty());  // only "." and ".."

    std::ofstream(d + "/a.txt") << "12345";
    std::ofstream(d + "/a.txt.bak") << "x";
    std::ofstream(d + "/atxt") << "";
    std::ofstream(d + "/.txt") << "";
    std::ofstream(d + "/read_only.txt") << "ro";
    chmod((d + "/read_only.txt").c_str(), 0400);
    std::filesystem::create_directory(d + "/sub");
    std::filesystem::create_directory(d + "/dir.txt");
    ASSERT_EQ(symlink("sub", (d + "/link_to_dir").c_str()), 0);
    ASSERT_EQ(symlink("a.txt", (d + "/link.txt").c_str()), 0);

    struct Case {
        const char* name;
        u8 flags;
        u64 size;
        b8 with_filter;
    };
    static const Case cases[] = {
        {"a.txt", OS_ITEM_FILE, 5, true},
        {"a.txt.bak", OS_ITEM_FILE, 1, false},
        {"atxt", OS_ITEM_FILE, 0, false},
        {".txt", OS_ITEM_FILE, 0, true},
        {"read_only.txt", OS_ITEM_FILE | OS_ITEM_READ_ONLY, 2, true},
        {"sub", OS_ITEM_DIRECTORY, 0, false},
        {"dir.txt", OS_ITEM_DIRECTORY, 0, true},
        {"link_to_dir", 0, 3, false},  // a symbolic link is neither; its size is the link text's
        {"link.txt", 0, 5, true},
    };
    std::map<std::string, Listed> all = list_directory(d, "");
    std::map<std::string, Listed> filtered = list_directory(d, "txt");
    EXPECT_EQ(all.size(), ARRAY_COUNT(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(all.count(c.name), 1u);
        EXPECT_EQ(all[c.name].flags, c.flags);
        if (c.flags != OS_ITEM_DIRECTORY) {
            EXPECT_EQ(all[c.name].size, c.size);
        }
        EXPECT_TRUE(all[c.name].has_time);
        EXPECT_EQ(filtered.count(c.name), c.with_filter ? 1u : 0u);
    }
    remove_scratch_directory(&scratch);
}

TEST(OsLister, MissingDirectoryListsNothing) {
    setup_foundation_memory();
    Os_Lister lister;
    EXPECT_FALSE(os_lister_open(&lister, STR("/nonexistent/quarn/dir"), String{}));
    Os_Lister_Item item;
    EXPECT_FALSE(os_lister_get_next_item(&lister, &item));
    os_lister_close(&lister);
}

TEST(OsFiles, FullFilepath) {
    setup_foundation_memory();
    Scratch_Directory scratch = make_scratch_directory();
    std::filesystem::create_directory(scratch.path + "/sub");
    std::ofstream(scratch.path + "/file.c") << "";
    std::ofstream(scratch.path + "/back\\slash") << "";
    std::string real = std::filesystem::canonical(scratch.path).string();
    struct Case {
        std::string path;
        b8 resolves;
        std::string directory;
        std::string name;
    };
    const Case cases[] = {
        {"/tmp", true, "/", "tmp"},
        {"/", true, "/", ""},
        {scratch.path + "/sub/../file.c", true, real, "file.c"},
        {scratch.path + "/sub/", true, real, "sub"},
        {scratch.path + "/back\\slash", true, real, "back\\slash"},  // an ordinary character of a name
        {scratch.path + "/missing.c", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        String directory = STR("x"), name = STR("y");
        EXPECT_EQ(os_get_full_filepath((u8*)c.path.data(), c.path.size(), &directory, &name), c.resolves);
        EXPECT_EQ(to_std(directory), c.directory);
        EXPECT_EQ(to_std(name), c.name);
    }
    remove_scratch_directory(&scratch);
    tmp_reset();
}

TEST(OsFiles, ExecutableDirectory) {
    ASSERT_TRUE(init_executable_filepath());
    std::string expected = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    EXPECT_EQ(to_std(executable_filepath), expected);
}
