// Deleting and saving from the file lister on scratch trees: what goes, what must stay,
// and what is refused.
#include "listers_test_helpers.h"
#include "shell/shell.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

static bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

static std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Sets an environment variable and the working directory for one test, and puts both back.
struct Scoped_Home_And_Work {
    std::string old_home;
    fs::path old_work;
    Scoped_Home_And_Work(const std::string& home, const std::string& work) {
        const char* h = getenv("HOME");
        old_home = h ? h : "";
        old_work = fs::current_path();
        setenv("HOME", home.c_str(), 1);
        fs::current_path(work);
    }
    ~Scoped_Home_And_Work() {
        setenv("HOME", old_home.c_str(), 1);
        fs::current_path(old_work);
    }
};

TEST(ListerActions, DeletesWhatWasListedAndNothingElse) {
    struct Delete_Case {
        const char* name;
        std::vector<std::string> tree;  // under the scratch directory; "outside" survives every case
        const char* target;
        u8 kind;
        bool deleted;
        std::vector<std::string> gone, kept;
    };
    const Delete_Case cases[] = {
        {"a file", {"a.txt=3"}, "a.txt", FILE_LISTER_FILE, true, {"a.txt"}, {}},
        {"an empty directory", {"empty/"}, "empty", FILE_LISTER_DIRECTORY, true, {"empty"}, {}},
        {"a tree with a FIFO, a socket and a link out", {"t/", "t/a/", "t/a/b.c=4", "t/pipe|", "t/s@", "t/out->../outside",
          "t/a/file_link->../../outside/keep.txt"},
         "t", FILE_LISTER_DIRECTORY, true, {"t"}, {"outside/keep.txt", "outside/inner/x"}},
        {"a link listed as a directory goes alone", {"to_outside->outside"}, "to_outside", FILE_LISTER_DIRECTORY, true,
         {"to_outside"}, {"outside/keep.txt"}},
        {"a link to a file goes alone", {"to_keep->outside/keep.txt"}, "to_keep", FILE_LISTER_FILE, true, {"to_keep"},
         {"outside/keep.txt"}},
        {"a directory listed as a file is refused", {"d/", "d/x"}, "d", FILE_LISTER_FILE, false, {}, {"d/x"}},
        {"a file listed as a directory is refused", {"f=2"}, "f", FILE_LISTER_DIRECTORY, false, {}, {"f"}},
        {"something else now is refused", {"p|"}, "p", FILE_LISTER_FILE, false, {}, {"p"}},
        {"nothing there", {}, "missing", FILE_LISTER_FILE, false, {}, {}},
    };
    for (const Delete_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory scratch;
        std::string root = scratch.path.string();
        make_tree(root, {"outside/", "outside/keep.txt=5", "outside/inner/", "outside/inner/x"});
        make_tree(root, c.tree);
        EXPECT_EQ(delete_file_lister_entry(test_string(scratch / c.target), c.kind, nullptr, 0), c.deleted);
        for (const std::string& g : c.gone) EXPECT_FALSE(exists(scratch / g)) << g;
        for (const std::string& k : c.kept) EXPECT_TRUE(exists(scratch / k)) << k;
        EXPECT_EQ(read_file(scratch / "outside/keep.txt"), "xxxxx");
    }
}

TEST(ListerActions, ADirectorySwappedForALinkAfterListingIsNotFollowed) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"outside/", "outside/keep.txt=5", "victim/", "victim/a"});
    // The item was listed as a directory; a link to a directory now stands in its place.
    fs::remove_all(scratch / "victim");
    make_tree(scratch.path.string(), {"victim->outside"});
    EXPECT_FALSE(os_delete_directory((u8*)(scratch / "victim").c_str(), (scratch / "victim").size()));
    EXPECT_TRUE(exists(scratch / "victim"));
    EXPECT_TRUE(delete_file_lister_entry(test_string(scratch / "victim"), FILE_LISTER_DIRECTORY, nullptr, 0));
    EXPECT_FALSE(exists(scratch / "victim"));
    EXPECT_EQ(read_file(scratch / "outside/keep.txt"), "xxxxx");
}

TEST(ListerActions, RefusesTheRootAndWhatHoldsHomeOrWork) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"users/", "users/me/", "users/me/notes=1", "work/", "work/src/", "listed/", "listed/here/", "free/"});
    Scoped_Home_And_Work scoped(scratch / "users/me", scratch / "work/src");
    std::string listed = scratch / "listed/here";
    String kept[] = {test_string(listed)};

    struct Refusal {
        const char* name;
        std::string path;
    };
    const Refusal refusals[] = {
        {"empty", ""},
        {"the root", "/"},
        {"the home", scratch / "users/me"},
        {"what holds the home", scratch / "users"},
        {"the working directory", scratch / "work/src"},
        {"what holds it", scratch / "work"},
        {"the listed directory", listed},
        {"what holds it, by another spelling", scratch / "listed/here/.."},
        {"everything", root},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(delete_file_lister_entry(test_string(r.path), FILE_LISTER_DIRECTORY, kept, 1));
    }
    for (const char* k : {"users/me/notes", "work/src", "listed/here"}) EXPECT_TRUE(exists(scratch / k)) << k;
    EXPECT_TRUE(delete_file_lister_entry(test_string(scratch / "free"), FILE_LISTER_DIRECTORY, kept, 1));
    EXPECT_FALSE(exists(scratch / "free"));
}

// A file system mounted inside the tree is kept with everything on it. Needs the right to
// make a mount namespace (root), so it runs in a child process of its own.
TEST(ListerActions, KeepsAFileSystemMountedInside) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"t/", "t/a=1", "t/mnt/"});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", (scratch / "t/mnt").c_str(), "tmpfs", 0, nullptr) != 0) {
            _exit(77);
        }
        std::ofstream(scratch / "t/mnt/on_tmpfs") << "x";
        b8 all = os_delete_directory((u8*)(scratch / "t").c_str(), (scratch / "t").size());
        bool ok = !all && exists(scratch / "t/mnt/on_tmpfs") && !exists(scratch / "t/a");
        umount(scratch.path.c_str());
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no right to mount here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

static Editor_File* make_file(const std::string& text, const std::string& directory, const std::string& name) {
    Editor_File* file = add_a_file();
    EXPECT_NE(file, nullptr);
    if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&file->text, (u32)text.size()), text.data(), text.size());
    if (!directory.empty()) {
        EXPECT_TRUE(string_to_filepath(&file->directory, (u8*)directory.data(), (s64)directory.size()));
    }
    memcpy(file->name_storage, name.data(), name.size());
    file->name = String{file->name_storage, (s64)name.size()};
    return file;
}

static std::string file_path(Editor_File* file) {
    String path = get_file_path_tmp(file);
    return std::string((char*)path.data, path.count);
}

TEST(ListerActions, SavesUnderAChosenName) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"sub/", "old.txt=:old text"});
    chmod((scratch / "old.txt").c_str(), 0644);
    u8 lock = 0;

    Editor_File* file = make_file("new text", "", "untitled");
    ASSERT_TRUE(save_file_as(file, test_string(scratch / "sub"), STR("new.txt"), &lock));
    EXPECT_EQ(read_file(scratch / "sub/new.txt"), "new text");
    EXPECT_EQ(file_path(file), scratch / "sub/new.txt");
    EXPECT_FALSE(file->flags & FILE_MODIFIED);
    struct stat st;
    ASSERT_EQ(stat((scratch / "sub/new.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Editor_File* other = make_file("replaced", "", "untitled");
    ASSERT_TRUE(save_file_as(other, test_string(root), STR("old.txt"), nullptr));
    EXPECT_EQ(read_file(scratch / "old.txt"), "replaced");
    ASSERT_EQ(stat((scratch / "old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    const char* refused[] = {"", ".", "..", "a/b", "nul\0x"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        Editor_File* f = make_file("text", root, "kept.txt");
        String n = string_from_c(name);
        if (!strcmp(name, "nul")) n.count = 5;
        EXPECT_FALSE(save_file_as(f, test_string(root), n, &lock));
        EXPECT_EQ(file_path(f), scratch / "kept.txt");
        EXPECT_TRUE(f->flags & FILE_MODIFIED);
        close_file(f);
    }
    EXPECT_EQ(lock, 0);
    close_file(file);
    close_file(other);
}

TEST(ListerActions, AFailedSaveKeepsTheOldBytesAndTheRecord) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"old.txt=:the old bytes"});
    Editor_File* file = make_file(std::string(64 * 1024, 'n'), "", "untitled");

    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small = {1024, old_limit.rlim_max};
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    b8 saved = save_file_as(file, test_string(scratch.path.string()), STR("old.txt"), nullptr);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(read_file(scratch / "old.txt"), "the old bytes");
    EXPECT_TRUE(file->flags & FILE_MODIFIED);
    EXPECT_EQ(file->directory.count, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 1);
    close_file(file);
}

TEST(ListerActions, JoinsAnItemsPath) {
    File_Lister_Item item = {};
    memcpy(item.name_text, "x.c", 3);
    item.name = String{item.name_text, 3};
    auto path = [&](const char* directory) {
        String p = get_file_lister_item_path_tmp(string_from_c(directory), &item);
        return std::string((char*)p.data, p.count);
    };
    EXPECT_EQ(path("/"), "/x.c");
    EXPECT_EQ(path("/home/me"), "/home/me/x.c");
    item.relative_directory = STR("a/b");
    EXPECT_EQ(path("/"), "/a/b/x.c");
    EXPECT_EQ(path("/home/me"), "/home/me/a/b/x.c");
}

//~ Performing the chosen item

// Lists dir for the purpose and query, shows the list and selects the item named so.
static void show_and_select(const std::string& dir, u8 purpose, const std::string& query, const std::string& name) {
    File_Lister* lister = &global_file_lister;
    ASSERT_TRUE(string_to_filepath(&lister->directory, (u8*)dir.data(), (s64)dir.size()));
    set_input_text(&lister->input_line, query);
    lister->purpose = purpose;
    lister->view_bits = FILE_LISTER_LIST_FILES;
    lister->force = 1;
    maybe_update_file_lister();
    ASSERT_TRUE(wait_until([] { return !file_lister_is_busy(); }));
    File_Lister_List* list = file_lister_get_published_list();
    lister->shown_generation = list->generation;
    lister->selected = FILE_LISTER_NO_SELECTION;
    for (u32 i = 0; i < list->count; i++) {
        File_Lister_Item* item = file_lister_get_item(list, i);
        if (std::string((char*)item->name.data, item->name.count) == name) lister->selected = i;
    }
    ASSERT_NE(lister->selected, FILE_LISTER_NO_SELECTION) << name;
    global_editor_context = CONTEXT_FILE_LISTER;
    atomic_or_u64(&global_flags, SHOW_FILE_LISTER);
}

// An empty tab list and command queue, given back at the end of the test.
struct Scoped_Tabs {
    Scoped_Tabs() {
        init_tabs();
        init_editor_commands();
    }
    ~Scoped_Tabs() {
        dynamic_array_free(&tabs);
        dynamic_array_free(&editor_commands);
    }
};

static Editor_Command* last_command() {
    return editor_commands.count ? &((Editor_Command*)editor_commands.data)[editor_commands.count - 1] : nullptr;
}

TEST(ListerActions, PerformsTheChosenFileListerItem) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"a.txt=:hello", "sub/", "sub/b.txt=:b", "gone.txt=:x"});
    set_layer_lists({}, {}, {}, 1 << 20);
    Scoped_Tabs scoped_tabs;

    // Open: a new record reads the file and has the keyboard; its tab is queued.
    show_and_select(root, FILE_LISTER_OPEN, "", "a.txt");
    lister_select_item();
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(std::string((char*)current_file->text.data, current_file->text.count), "hello");
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(global_file_lister.directory.count, 0);
    ASSERT_NE(last_command(), nullptr);
    EXPECT_EQ(last_command()->command_kind, COMMAND_ADD_TAB);
    Editor_File* opened = current_file;

    // Opening it again goes to the tab that shows it.
    Tab* tab = add_a_tab(TAB_FILE, opened);
    ASSERT_NE(tab, nullptr);
    set_current_tab(tab->position, false);
    show_and_select(root, FILE_LISTER_OPEN, "a", "a.txt");
    lister_select_item();
    EXPECT_EQ(last_command()->command_kind, COMMAND_GO_TO_TAB);
    EXPECT_EQ(last_command()->tab_target, tab->id);
    EXPECT_EQ(current_file, opened);

    // A directory is entered; the lister stays open with an empty query.
    show_and_select(root, FILE_LISTER_OPEN, "su", "sub");
    lister_select_item();
    EXPECT_EQ(std::string((char*)filepath_to_tmp_string(&global_file_lister.directory).data), root + "/sub");
    EXPECT_EQ(global_file_lister.input_line.text.count, 0u);
    EXPECT_TRUE(global_flags & SHOW_FILE_LISTER);

    // Delete, then nothing is selected: a second choice deletes nothing.
    show_and_select(root, FILE_LISTER_DELETE, "", "gone.txt");
    lister_select_item();
    EXPECT_FALSE(exists(scratch / "gone.txt"));
    EXPECT_EQ(global_file_lister.selected, FILE_LISTER_NO_SELECTION);
    EXPECT_TRUE(global_file_lister.force);
    lister_select_item();
    EXPECT_TRUE(exists(scratch / "a.txt"));

    // A list other than the one drawn is never acted on.
    show_and_select(root, FILE_LISTER_DELETE, "", "a.txt");
    global_file_lister.shown_generation--;
    lister_select_item();
    EXPECT_TRUE(exists(scratch / "a.txt"));

    // Save: the current tab's file goes to the new name, and the record follows it.
    show_and_select(root, FILE_LISTER_SAVE, "new.txt", "new.txt");
    lister_select_item();
    EXPECT_EQ(read_file(scratch / "new.txt"), "hello");
    EXPECT_EQ(file_path(opened), scratch / "new.txt");
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    EXPECT_EQ(current_file, opened);
    close_file(opened);
}

TEST(ListerActions, GoesToTheChosenHit) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"f.c=:one\ntwo needle\nneedle"});
    set_layer_lists({}, {}, {}, 1 << 20);
    Scoped_Tabs scoped_tabs;
    Search_Lister* s = &global_search_lister;
    auto choose = [&](u8 mode, Editor_File* file, u32 index) {
        s->mode = mode;
        set_input_text(&s->query_input, "needle");
        ASSERT_TRUE(search_lister_start(file, test_string(scratch.path.string())));
        ASSERT_TRUE(wait_until([] { return __atomic_load_n(&global_search_lister.complete, __ATOMIC_ACQUIRE) != 0; }));
        s->selected = index;
        global_editor_context = CONTEXT_SEARCH_LISTER;
        atomic_or_u64(&global_flags, SHOW_SEARCH_LISTER);
        lister_select_item();
        EXPECT_EQ(s->mode, SEARCH_CLOSED);
        EXPECT_TRUE(search_lister_is_finished());
        EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
    };

    // Across files: the hit's file opens in a new record with the cursor on the hit.
    choose(SEARCH_IN_FILES, nullptr, 1);
    ASSERT_NE(current_file, nullptr);
    EXPECT_EQ(current_file->cursor, 15);
    Editor_File* file = current_file;

    // In the current tab's file.
    Tab* tab = add_a_tab(TAB_FILE, file);
    set_current_tab(tab->position, false);
    choose(SEARCH_IN_FILE, file, 0);
    EXPECT_EQ(file->cursor, 8);
    EXPECT_EQ(current_file, file);
    close_file(file);
}
