// The listing thread against trees made in a scratch directory: filters, order, the
// new-file item, the flat view and links; then restarts racing the main thread.
#include "listers_test_helpers.h"

#include <random>
#include "tests/test_seed.h"

// Starts a listing of dir with the query and waits for it; "" for dir lists the root.
static void start_listing(const std::string& dir, const std::string& query, u8 purpose, u8 view_bits) {
    File_Lister* lister = &global_file_lister;
    if (dir.empty()) lister->directory.count = 0;
    else ASSERT_TRUE(string_to_filepath(&lister->directory, (u8*)dir.data(), (s64)dir.size()));
    set_input_text(&lister->input_line, query);
    lister->purpose = purpose;
    lister->view_bits = view_bits;
    lister->force = 1;
    maybe_update_file_lister();
    ASSERT_TRUE(wait_until([] { return !file_lister_is_busy(); }));
}

// The published list as "relative/name", directories with a "/" after them and the
// new-file item with a "+" before it.
static std::vector<std::string> published_names() {
    std::vector<std::string> names;
    File_Lister_List* list = file_lister_get_published_list();
    for (u32 i = 0; i < list->count; i++) {
        File_Lister_Item* item = file_lister_get_item(list, i);
        std::string name = item->new_file ? "+" : "";
        if (item->relative_directory.count) name += std::string((char*)item->relative_directory.data, item->relative_directory.count) + "/";
        name += std::string((char*)item->name.data, item->name.count);
        if (item->kind == FILE_LISTER_DIRECTORY) name += "/";
        names.push_back(name);
    }
    return names;
}

static std::vector<std::string> list(const std::string& dir, const std::string& query, u8 purpose = FILE_LISTER_OPEN,
                                     u8 view_bits = FILE_LISTER_LIST_FILES) {
    start_listing(dir, query, purpose, view_bits);
    return published_names();
}

struct Lister_Case {
    const char* name;
    std::vector<std::string> tree;
    std::vector<std::string> skipped, extensions, paths;
    u64 limit;
    const char* query;
    u8 purpose;
    u8 view_bits;
    std::vector<std::string> expected;
};

static const u64 NO_LIMIT = 1ull << 40;
static const u8 FLAT = FILE_LISTER_FLAT_VIEW | FILE_LISTER_LIST_FILES;

TEST(FileLister, FiltersAndOrdersATree) {
    const std::string long_name(255, 'n');
    static const Lister_Case cases[] = {
        {"hidden, skipped and blacklisted entries",
         {"$x", "$dir/", "node_modules/", "node_modules/inside.c", "Photo.PNG", "photo.png.bak", "README", "keep.c", "pipe|",
          "sock@"},
         {"node_modules"}, {"png"}, {}, NO_LIMIT, "", FILE_LISTER_OPEN, FLAT,
         {"README", "keep.c", "photo.png.bak"}},
        {"size limit: equal is listed, one over is not", {"small=3", "equal=5", "over=6"}, {}, {}, {}, 5, "",
         FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES, {"equal", "small"}},
        {"a limit of 0 lists only empty files", {"empty", "one=1", "dir/"}, {}, {}, {}, 0, "", FILE_LISTER_OPEN,
         FILE_LISTER_LIST_FILES, {"dir/", "empty"}},
        {"files are left out without the files bit", {"a", "dir/"}, {}, {}, {}, NO_LIMIT, "", FILE_LISTER_OPEN, 0,
         {"dir/"}},
        {"longer shared prefix first", {"xab", "abc", "zzz"}, {}, {}, {}, NO_LIMIT, "ab", FILE_LISTER_OPEN,
         FILE_LISTER_LIST_FILES, {"abc", "xab"}},
        {"natural order", {"file10", "file2", "a1", "a01", "\xc3\xa9t\xc3\xa9", "b/", "file1/"}, {}, {}, {}, NO_LIMIT, "",
         FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES, {"\xc3\xa9t\xc3\xa9", "a01", "a1", "b/", "file1/", "file2", "file10"}},
        {"digit runs longer than 32 bits", {"v99999999999999999999", "v4294967297", "v4294967296", "v5"}, {}, {}, {},
         NO_LIMIT, "", FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES,
         {"v5", "v4294967296", "v4294967297", "v99999999999999999999"}},
        {"the query is case-sensitive and may lie anywhere", {"Make", "make.c", "cmake"}, {}, {}, {}, NO_LIMIT, "make",
         FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES, {"make.c", "cmake"}},
        {"save offers a new name last", {"new.txt.bak", "other"}, {}, {}, {}, NO_LIMIT, "new.txt", FILE_LISTER_SAVE,
         FILE_LISTER_LIST_FILES, {"new.txt.bak", "+new.txt"}},
        {"no new name when a file has it", {"new.txt", "new.txt.bak"}, {}, {}, {}, NO_LIMIT, "new.txt", FILE_LISTER_SAVE,
         FILE_LISTER_LIST_FILES, {"new.txt", "new.txt.bak"}},
        {"open never offers a new name", {"a"}, {}, {}, {}, NO_LIMIT, "new.txt", FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES,
         {}},
        {"flat view outside a blacklisted path", {"sub/", "sub/inner.c", "sub/deeper/", "sub/deeper/x.c", "top.c"}, {}, {},
         {}, NO_LIMIT, "", FILE_LISTER_OPEN, FLAT, {"sub/", "sub/deeper/", "sub/deeper/x.c", "sub/inner.c", "top.c"}},
        {"flat view lists a blacklisted directory without entering it",
         {"sub/", "sub/inner.c", "build/", "build/out.o", "top.c"}, {}, {}, {"build"}, NO_LIMIT, "", FILE_LISTER_OPEN,
         FLAT, {"build/", "sub/", "sub/inner.c", "top.c"}},
        {"flat view off", {"sub/", "sub/inner.c", "top.c"}, {}, {}, {}, NO_LIMIT, "", FILE_LISTER_OPEN,
         FILE_LISTER_LIST_FILES, {"sub/", "top.c"}},
        {"matches deep in the flat view", {"a/", "a/b/", "a/b/key.c", "key.h", "other.c"}, {}, {}, {}, NO_LIMIT, "key",
         FILE_LISTER_OPEN, FLAT, {"a/b/key.c", "key.h"}},
        {"links count as what they point at", {"real.c", "dir/", "dir/in.c", "to_file->real.c", "to_dir->dir",
          "to_nothing->missing", "to_itself->to_itself", "to_pipe->pipe", "pipe|"},
         {}, {}, {}, NO_LIMIT, "", FILE_LISTER_OPEN, FLAT, {"dir/", "dir/in.c", "real.c", "to_dir/", "to_file"}},
    };
    for (const Lister_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory scratch;
        make_tree(scratch.path.string(), c.tree);
        set_layer_lists(c.skipped, c.extensions, c.paths, c.limit);
        EXPECT_EQ(list(scratch.path.string(), c.query, c.purpose, c.view_bits), c.expected);
    }

    struct Name_Case {
        const char* name;
        std::string query;
        bool offered;
    };
    const Name_Case names[] = {
        {"one name", "a.txt", true},       {"a path", "a/b", false},     {"dot", ".", false},
        {"dot dot", "..", false},          {"255 octets", long_name, true},
        {"256 octets", long_name + "n", false}, {"a NUL", std::string("a\0b", 3), false},
    };
    Scratch_Directory scratch;
    set_layer_lists({}, {}, {}, NO_LIMIT);
    for (const Name_Case& n : names) {
        SCOPED_TRACE(n.name);
        EXPECT_EQ(is_valid_new_file_name(test_string(n.query)), n.offered);
        std::vector<std::string> listed = list(scratch.path.string(), n.query, FILE_LISTER_SAVE);
        EXPECT_EQ(!listed.empty() && listed.back() == "+" + n.query, n.offered);
    }
}

TEST(FileLister, FlatViewOnlyOutsideBlacklistedPathsAndNeverAtTheRoot) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"sub/", "sub/inner.c"});
    std::string last = scratch.path.filename().string();

    set_layer_lists({}, {}, {last}, NO_LIMIT);
    EXPECT_EQ(list(scratch.path.string(), "", FILE_LISTER_OPEN, FLAT), std::vector<std::string>{"sub/"});
    EXPECT_FALSE(global_file_lister.inside_path);

    set_layer_lists({}, {}, {}, NO_LIMIT);
    EXPECT_EQ(list(scratch.path.string(), "", FILE_LISTER_OPEN, FLAT), (std::vector<std::string>{"sub/", "sub/inner.c"}));
    EXPECT_TRUE(global_file_lister.inside_path);

    // The root (and no directory at all) is listed as it is, never flat.
    start_listing("", "tmp", FILE_LISTER_OPEN, FLAT);
    for (std::string name : published_names()) {
        if (name.back() == '/') name.pop_back();
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
    }
}

TEST(FileLister, FlatViewStopsWhereAPathNoLongerFits) {
    Scratch_Directory scratch;
    std::string deep = scratch.path.string();
    for (int i = 0; i < 70; i++) deep += "/d";
    std::filesystem::create_directories(deep);
    make_tree(deep, {"bottom.c"});
    set_layer_lists({}, {}, {}, NO_LIMIT);

    std::vector<std::string> names = list(scratch.path.string(), "", FILE_LISTER_OPEN, FLAT);
    Filepath root;
    ASSERT_TRUE(string_to_filepath(&root, (u8*)scratch.path.c_str(), (s64)scratch.path.string().size()));
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(std::count(names.begin(), names.end(), std::string("bottom.c")), 0);
    // Every listed entry can be named by one path: the deepest one fills it exactly.
    size_t deepest = 0;
    for (const std::string& name : names) deepest = std::max(deepest, (size_t)std::count(name.begin(), name.end(), '/'));
    EXPECT_EQ(root.count + deepest, (size_t)FILEPATH_MAX_COMPONENTS);
    for (const std::string& name : names) {
        std::string path = scratch.path.string() + "/" + name;
        Filepath whole;
        EXPECT_TRUE(string_to_filepath(&whole, (u8*)path.data(), (s64)path.size())) << name;
    }
}

TEST(FileLister, SortsSortedAndReversedTreesAlike) {
    Scratch_Directory scratch;
    std::vector<std::string> tree;
    for (int i = 0; i < 3000; i++) tree.push_back("f" + std::to_string(i));
    make_tree(scratch.path.string(), tree);
    set_layer_lists({}, {}, {}, NO_LIMIT);
    std::vector<std::string> names = list(scratch.path.string(), "");
    ASSERT_EQ(names.size(), tree.size());
    EXPECT_EQ(names, tree);
    std::vector<std::string> expected = {"f29"};
    for (int i = 290; i < 300; i++) expected.push_back("f" + std::to_string(i));
    for (int i = 2900; i < 3000; i++) expected.push_back("f" + std::to_string(i));
    EXPECT_EQ(list(scratch.path.string(), "f29"), expected);
}

// The main thread restarts the listing with random queries and reads whatever is
// published meanwhile; every item it sees is whole, and the listing thread asserts that
// no two of it ever run.
TEST(FileListerThreads, RapidRestartsNeverShowAPartialList) {
    Scratch_Directory scratch;
    std::vector<std::string> tree;
    for (int i = 0; i < 40; i++) tree.push_back("d" + std::to_string(i) + "/");
    for (int i = 0; i < 400; i++) tree.push_back("d" + std::to_string(i % 40) + "/f" + std::to_string(i) + ".c");
    make_tree(scratch.path.string(), tree);
    set_layer_lists({}, {}, {}, NO_LIMIT);

    File_Lister* lister = &global_file_lister;
    ASSERT_TRUE(string_to_filepath(&lister->directory, (u8*)scratch.path.c_str(), (s64)scratch.path.string().size()));
    lister->purpose = FILE_LISTER_OPEN;
    lister->view_bits = FLAT;
    u32 seed = (u32)test_seed(4123);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* queries[] = {"", "f", "f1", "d3", "x", ".c", "f12"};
    for (int i = 0; i < 1000; i++) {
        set_input_text(&lister->input_line, queries[random() % 7]);
        maybe_update_file_lister();
        File_Lister_List* list = file_lister_get_published_list();
        for (u32 j = 0; j < list->count; j++) {
            File_Lister_Item* item = file_lister_get_item(list, j);
            ASSERT_GT(item->name.count, 0);
            ASSERT_EQ(item->name.data, item->name_text);
            ASSERT_LE(item->kind, 1);
            ASSERT_EQ(item->next, j + 1 < list->count ? file_lister_get_item(list, j + 1) : nullptr);
        }
        if (list->count) lister->selected = random() % list->count;
    }
    set_input_text(&lister->input_line, "f12");
    ASSERT_TRUE(wait_until([] {
        maybe_update_file_lister();
        return !file_lister_is_busy();
    }));
    std::vector<std::string> expected = {"d0/f120.c", "d1/f121.c", "d2/f122.c", "d3/f123.c", "d4/f124.c", "d5/f125.c",
                                         "d6/f126.c", "d7/f127.c", "d8/f128.c", "d9/f129.c", "d12/f12.c"};
    EXPECT_EQ(published_names(), expected);
}

TEST(FileListerThreads, AFailedThreadStartLeavesTheListerIdle) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"a", "b"});
    set_layer_lists({}, {}, {}, NO_LIMIT);
    failing_thread_starts = -1;
    start_listing(scratch.path.string(), "", FILE_LISTER_OPEN, FILE_LISTER_LIST_FILES);
    failing_thread_starts = 0;
    EXPECT_FALSE(file_lister_is_busy());
    // Not tried again for the same key; a new key lists.
    maybe_update_file_lister();
    EXPECT_FALSE(file_lister_is_busy());
    EXPECT_EQ(list(scratch.path.string(), "a"), std::vector<std::string>{"a"});
}
