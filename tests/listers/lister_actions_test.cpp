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

// An item as a listing of directory records it: the entry's own identity and its folder's.
struct Listed_Item {
    File_Lister_Item item = {};
    std::string relative;
};

static Listed_Item listed(const std::string& directory, const std::string& relative, const std::string& name, u8 kind) {
    Listed_Item l;
    l.relative = relative;
    l.item.relative_directory = test_string(l.relative);
    memcpy(l.item.name_text, name.data(), name.size());
    l.item.name = String{l.item.name_text, (s64)name.size()};
    l.item.kind = kind;
    std::string folder = relative.empty() ? directory : directory + "/" + relative;
    struct stat st;
    if (lstat((folder + "/" + name).c_str(), &st) == 0) {
        l.item.entry_type = (u8)((st.st_mode & S_IFMT) >> 12);
        l.item.device = st.st_dev;
        l.item.inode = st.st_ino;
    }
    if (stat(folder.c_str(), &st) == 0) {
        l.item.parent_device = st.st_dev;
        l.item.parent_inode = st.st_ino;
    }
    return l;
}

static b8 delete_listed(const std::string& directory, Listed_Item& l, String* kept = nullptr, u32 kept_count = 0) {
    l.item.relative_directory = test_string(l.relative);
    return delete_file_lister_entry(test_string(directory), &l.item, kept, kept_count);
}

TEST(ListerActions, DeletesWhatWasListedAndNothingElse) {
    struct Delete_Case {
        const char* name;
        std::vector<std::string> tree;  // under the scratch directory; "outside" survives every case
        const char* relative;
        const char* target;
        u8 kind;
        bool deleted;
        std::vector<std::string> gone, kept;
    };
    const Delete_Case cases[] = {
        {"a file", {"a.txt=3"}, "", "a.txt", FILE_LISTER_FILE, true, {"a.txt"}, {}},
        {"a file further down", {"d/", "d/e/", "d/e/a.txt=3"}, "d/e", "a.txt", FILE_LISTER_FILE, true, {"d/e/a.txt"}, {"d/e"}},
        {"an empty directory", {"empty/"}, "", "empty", FILE_LISTER_DIRECTORY, true, {"empty"}, {}},
        {"a tree with a FIFO, a socket and a link out", {"t/", "t/a/", "t/a/b.c=4", "t/pipe|", "t/s@", "t/out->../outside",
          "t/a/file_link->../../outside/keep.txt"},
         "", "t", FILE_LISTER_DIRECTORY, true, {"t"}, {"outside/keep.txt", "outside/inner/x"}},
        {"a link listed as a directory goes alone", {"to_outside->outside"}, "", "to_outside", FILE_LISTER_DIRECTORY, true,
         {"to_outside"}, {"outside/keep.txt"}},
        {"a link to a file goes alone", {"to_keep->outside/keep.txt"}, "", "to_keep", FILE_LISTER_FILE, true, {"to_keep"},
         {"outside/keep.txt"}},
        {"a directory listed as a file is refused", {"d/", "d/x"}, "", "d", FILE_LISTER_FILE, false, {}, {"d/x"}},
        {"a file listed as a directory is refused", {"f=2"}, "", "f", FILE_LISTER_DIRECTORY, false, {}, {"f"}},
        {"something else now is refused", {"p|"}, "", "p", FILE_LISTER_FILE, false, {}, {"p"}},
        {"nothing there", {}, "", "missing", FILE_LISTER_FILE, false, {}, {}},
        {"a name that climbs", {"d/"}, "d", "..", FILE_LISTER_DIRECTORY, false, {}, {"d", "outside/keep.txt"}},
        {"a folder that climbs", {"d/", "d/x=1"}, "d/..", "d", FILE_LISTER_DIRECTORY, false, {}, {"d/x"}},
    };
    for (const Delete_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory scratch;
        std::string root = scratch.path.string();
        make_tree(root, {"outside/", "outside/keep.txt=5", "outside/inner/", "outside/inner/x"});
        make_tree(root, c.tree);
        Listed_Item l = listed(root, c.relative, c.target, c.kind);
        EXPECT_EQ(delete_listed(root, l), c.deleted);
        for (const std::string& g : c.gone) EXPECT_FALSE(exists(scratch / g)) << g;
        for (const std::string& k : c.kept) EXPECT_TRUE(exists(scratch / k)) << k;
        EXPECT_EQ(read_file(scratch / "outside/keep.txt"), "xxxxx");
    }
}

// Between the listing and the delete, something on the item's path is swapped: the delete
// acts on nothing outside the listed tree, and on nothing it did not list.
TEST(ListerActions, ADeleteNeverFollowsWhatWasSwappedInAfterTheListing) {
    struct Swap_Case {
        const char* name;
        std::vector<std::string> tree;
        const char* relative;
        const char* target;
        u8 kind;
        std::vector<std::pair<std::string, std::string>> hard_links;  // made before the listing
        std::vector<std::pair<std::string, std::string>> renames;     // done in order after it, then the links
        std::vector<std::string> links;
        std::vector<std::string> kept;
    };
    const Swap_Case cases[] = {
        {"the folder becomes a link out", {"box/sub/victim_dir/", "box/sub/victim_dir/a=1", "outside/victim_dir/", "outside/victim_dir/b=1"},
         "sub", "victim_dir", FILE_LISTER_DIRECTORY, {}, {{"box/sub", "box/sub_old"}}, {"box/sub->../outside"},
         {"outside/victim_dir/b", "box/sub_old/victim_dir/a"}},
        {"a folder higher up becomes a link out", {"box/a/b/", "box/a/b/f.txt=1", "outside/b/", "outside/b/f.txt=2"}, "a/b",
         "f.txt", FILE_LISTER_FILE, {}, {{"box/a", "box/a_old"}}, {"box/a->../outside"}, {"outside/b/f.txt", "box/a_old/b/f.txt"}},
        {"the listed directory itself becomes a link out", {"box/victim/", "box/victim/a=1", "outside/victim/", "outside/victim/b=1"},
         "", "victim", FILE_LISTER_DIRECTORY, {}, {{"box", "box_old"}}, {"box->outside"}, {"outside/victim/b", "box_old/victim/a"}},
        {"another folder holding the same file is moved in", {"box/sub/", "box/sub/victim.txt=:data", "outside/"}, "sub",
         "victim.txt", FILE_LISTER_FILE, {{"box/sub/victim.txt", "outside/victim.txt"}},
         {{"box/sub", "box/sub_old"}, {"outside", "box/sub"}}, {}, {"box/sub/victim.txt", "box/sub_old/victim.txt"}},
        {"the directory is replaced by another", {"box/victim/", "box/victim/a=1", "other/", "other/b=1"}, "", "victim",
         FILE_LISTER_DIRECTORY, {}, {{"box/victim", "box/victim_old"}, {"other", "box/victim"}}, {},
         {"box/victim/b", "box/victim_old/a"}},
    };
    for (const Swap_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory scratch;
        std::string root = scratch.path.string();
        make_tree(root, c.tree);
        for (const auto& [from, to] : c.hard_links) ASSERT_EQ(link((scratch / from).c_str(), (scratch / to).c_str()), 0) << to;
        Listed_Item l = listed(scratch / "box", c.relative, c.target, c.kind);
        for (const auto& [from, to] : c.renames) ASSERT_EQ(rename((scratch / from).c_str(), (scratch / to).c_str()), 0) << from;
        make_tree(root, c.links);
        EXPECT_FALSE(delete_listed(scratch / "box", l));
        for (const std::string& k : c.kept) EXPECT_TRUE(exists(scratch / k)) << k;
    }
}

// The same through the lister itself: list the flat view, swap the folder, choose the item.
TEST(ListerActions, TheChosenItemIsNotFollowedOutOfItsFolder) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"box/sub/victim_dir/", "box/sub/victim_dir/mine=1", "outside/victim_dir/", "outside/victim_dir/theirs=1"});
    set_layer_lists({}, {}, {}, 1 << 20);
    File_Lister* lister = &global_file_lister;
    std::string box = scratch / "box";
    ASSERT_TRUE(string_to_filepath(&lister->directory, (u8*)box.data(), (s64)box.size()));
    set_input_text(&lister->input_line, "victim");
    lister->purpose = FILE_LISTER_DELETE;
    lister->view_bits = FILE_LISTER_FLAT_VIEW | FILE_LISTER_LIST_FILES;
    lister->force = 1;
    maybe_update_file_lister();
    ASSERT_TRUE(wait_until([] { return !file_lister_is_busy(); }));
    File_Lister_List* list = file_lister_get_published_list();
    ASSERT_EQ(list->count, 1u);
    EXPECT_EQ(std::string((char*)list->order[0]->relative_directory.data, list->order[0]->relative_directory.count), "sub");
    lister->shown_generation = list->generation;
    lister->selected = 0;
    global_editor_context = CONTEXT_FILE_LISTER;
    atomic_or_u64(&global_flags, SHOW_FILE_LISTER);

    ASSERT_EQ(rename((scratch / "box/sub").c_str(), (scratch / "box/sub_old").c_str()), 0);
    make_tree(root, {"box/sub->" + (scratch / "outside")});
    lister_select_item();
    EXPECT_TRUE(exists(scratch / "outside/victim_dir/theirs"));
    EXPECT_TRUE(exists(scratch / "box/sub_old/victim_dir/mine"));

    // Put back, the listed item goes.
    ASSERT_EQ(unlink((scratch / "box/sub").c_str()), 0);
    ASSERT_EQ(rename((scratch / "box/sub_old").c_str(), (scratch / "box/sub").c_str()), 0);
    lister->selected = 0;
    lister_select_item();
    EXPECT_FALSE(exists(scratch / "box/sub/victim_dir"));
    EXPECT_TRUE(exists(scratch / "outside/victim_dir/theirs"));
    atomic_and_u64(&global_flags, ~(u64)SHOW_FILE_LISTER);
}

TEST(ListerActions, ADirectorySwappedForALinkAfterListingIsNotFollowed) {
    Scratch_Directory scratch;
    make_tree(scratch.path.string(), {"outside/", "outside/keep.txt=5", "victim/", "victim/a"});
    Listed_Item l = listed(scratch.path.string(), "", "victim", FILE_LISTER_DIRECTORY);
    // The item was listed as a directory; a link to a directory now stands in its place.
    fs::remove_all(scratch / "victim");
    make_tree(scratch.path.string(), {"victim->outside"});
    EXPECT_FALSE(os_delete_directory((u8*)(scratch / "victim").c_str(), (scratch / "victim").size()));
    EXPECT_FALSE(delete_listed(scratch.path.string(), l));
    EXPECT_TRUE(exists(scratch / "victim"));
    EXPECT_EQ(read_file(scratch / "outside/keep.txt"), "xxxxx");
}

TEST(ListerActions, RefusesWhatHoldsHomeOrWork) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"users/", "users/me/", "users/me/notes=1", "work/", "work/src/", "listed/", "listed/here/", "free/",
                     "link_to_work->work"});
    Scoped_Home_And_Work scoped(scratch / "link_to_work/../users/me", scratch / "work/src");
    std::string listed_here = scratch / "listed/here";
    String kept[] = {test_string(listed_here)};

    struct Refusal {
        const char* name;
        std::string directory, target;
    };
    std::string parent = scratch.path.parent_path().string();
    std::string own = scratch.path.filename().string();
    const Refusal refusals[] = {
        {"the home", root + "/users", "me"},
        {"what holds the home", root, "users"},
        {"the working directory", root + "/work", "src"},
        {"what holds it", root, "work"},
        {"the listed directory", root + "/listed", "here"},
        {"what holds it", root, "listed"},
        {"everything", parent, own},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        Listed_Item l = listed(r.directory, "", r.target, FILE_LISTER_DIRECTORY);
        EXPECT_FALSE(delete_listed(r.directory, l, kept, 1));
    }
    for (const char* k : {"users/me/notes", "work/src", "listed/here"}) EXPECT_TRUE(exists(scratch / k)) << k;
    Listed_Item free = listed(root, "", "free", FILE_LISTER_DIRECTORY);
    EXPECT_TRUE(delete_listed(root, free, kept, 1));
    EXPECT_FALSE(exists(scratch / "free"));
}

// What is mounted inside the tree is kept with everything on it: another file system, and
// a part of this one shown there again (same device, another mount). Needs the right to
// make a mount namespace (root), so each case runs in a child process of its own.
TEST(ListerActions, KeepsWhatIsMountedInside) {
    struct Mount_Case {
        const char* name;
        bool bind;
    };
    for (const Mount_Case& c : {Mount_Case{"another file system", false}, Mount_Case{"a bind mount", true}}) {
        SCOPED_TRACE(c.name);
        Scratch_Directory scratch;
        make_tree(scratch.path.string(), {"t/", "t/a=1", "t/mnt/", "elsewhere/"});
        std::string mount_point = scratch / "t/mnt";
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
            int mounted = c.bind ? mount((scratch / "elsewhere").c_str(), mount_point.c_str(), nullptr, MS_BIND, nullptr)
                                 : mount("tmpfs", mount_point.c_str(), "tmpfs", 0, nullptr);
            if (mounted != 0) _exit(77);
            std::ofstream(scratch / "t/mnt/on_it") << "x";
            b8 all = os_delete_directory((u8*)(scratch / "t").c_str(), (scratch / "t").size());
            // The mount point itself is refused.
            b8 point = os_delete_directory((u8*)mount_point.c_str(), mount_point.size());
            bool ok = !all && !point && exists(scratch / "t/mnt/on_it") && !exists(scratch / "t/a");
            umount(mount_point.c_str());
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no right to mount here";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        if (c.bind) {
            EXPECT_TRUE(exists(scratch / "elsewhere/on_it"));
        }
    }
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

    // A link's name chosen: its target takes the text, now and at every later save.
    fs::create_symlink("old.txt", scratch / "linked.txt");
    Editor_File* linked = make_file("through the link", "", "untitled");
    ASSERT_TRUE(save_file_as(linked, test_string(root), STR("linked.txt"), nullptr));
    set_input_text(linked, "through the link again");
    EXPECT_TRUE(save_file(linked));
    EXPECT_EQ(read_file(scratch / "old.txt"), "through the link again");
    EXPECT_TRUE(fs::is_symlink(scratch / "linked.txt"));
    close_file(linked);

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
