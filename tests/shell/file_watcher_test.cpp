// The file watcher's passes over real files: what flags an open file and what does not, a
// missing file flagged once, the layer's sources asking for a recompile, and the passes
// running on a thread of their own while the main thread changes the tabs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "compiler/bytecode/layer_image.h"
#include "shell/shell.h"
#include "tests/shell/shell_test_support.h"

namespace {

// Sets a file's modification time exactly (the link itself when no_follow).
void set_mtime(const std::string& path, time_t seconds, long nanoseconds, bool no_follow = false) {
    timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, no_follow ? AT_SYMLINK_NOFOLLOW : 0), 0) << path;
}

timespec mtime_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mtim;
}

struct File_Watcher_Test : ::testing::Test {
    std::string scratch;

    void SetUp() override {
        scratch = make_scratch_directory();
        ASSERT_FALSE(scratch.empty());
        reset_tabs_and_commands();
    }
    void TearDown() override {
        reset_tabs_and_commands();
        remove_scratch_directory(scratch);
    }

    // A file tab on the path, its file loaded; the file's times are set first so that a
    // later change within the same second is a change of the nanoseconds alone.
    Editor_File* open_in_tab(const std::string& path) {
        Editor_File* file = add_a_file();
        Filepath split;
        EXPECT_TRUE(string_to_filepath(&split, (u8*)path.data(), (s64)path.size()));
        EXPECT_TRUE(load_file(&split, file));
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        Tab* tab = add_a_tab(TAB_FILE, file);
        set_current_tab(tab->position, false);
        return file;
    }

    u16 flags(Editor_File* file) { return atomic_load_u16(&file->flags) & (FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK); }
};

}  // namespace

TEST_F(File_Watcher_Test, WhatFlagsAnOpenFile) {
    struct Case {
        const char* name;
        void (*change)(const std::string& path);
        u16 expected;
    };
    const Case cases[] = {
        {"nothing happens", [](const std::string&) {}, 0},
        {"appended text", [](const std::string& p) { write_test_file(p, "one\ntwo\nthree\n"); }, FILE_CHANGED_ON_DISK},
        {"same size, other seconds",
         [](const std::string& p) {
             timespec t = mtime_of(p);
             write_test_file(p, "ONE\nTWO\n");
             set_mtime(p, t.tv_sec + 1, t.tv_nsec);
         },
         FILE_CHANGED_ON_DISK},
        {"same size, other nanoseconds",
         [](const std::string& p) {
             timespec t = mtime_of(p);
             write_test_file(p, "ONE\nTWO\n");
             set_mtime(p, t.tv_sec, (t.tv_nsec + 1) % 1000000000);
         },
         FILE_CHANGED_ON_DISK},
        {"rewritten with the same size and time",
         [](const std::string& p) {
             timespec t = mtime_of(p);
             write_test_file(p, "ONE\nTWO\n");
             set_mtime(p, t.tv_sec, t.tv_nsec);
         },
         0},
        {"deleted", [](const std::string& p) { unlink(p.c_str()); }, FILE_GONE_FROM_DISK},
        {"replaced by a directory",
         [](const std::string& p) {
             unlink(p.c_str());
             mkdir(p.c_str(), 0755);
         },
         FILE_GONE_FROM_DISK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = scratch + "/" + std::to_string(&c - cases) + ".txt";
        write_test_file(path, "one\ntwo\n");
        set_mtime(path, 1700000000, 500);
        Editor_File* file = open_in_tab(path);
        ASSERT_EQ(watch_open_files(), 0u);
        c.change(path);
        EXPECT_EQ(watch_open_files(), c.expected ? 1u : 0u);
        EXPECT_EQ(flags(file), c.expected);
        reset_tabs_and_commands();
    }
}

TEST_F(File_Watcher_Test, AMissingFileIsFlaggedOnceAndItsReturnIsAChange) {
    std::string path = scratch + "/a.txt";
    write_test_file(path, "text\n");
    Editor_File* file = open_in_tab(path);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(watch_open_files(), 1u);
    EXPECT_EQ(flags(file), FILE_GONE_FROM_DISK);
    for (int pass = 0; pass < 5; pass++) EXPECT_EQ(watch_open_files(), 0u) << "no wake-up while it stays away";
    EXPECT_EQ(flags(file), FILE_GONE_FROM_DISK);

    // Back with the very same text and time: the view reads it again and the red goes.
    write_test_file(path, "text\n");
    set_mtime(path, (time_t)(file->modification_time / 1000000000ull), (long)(file->modification_time % 1000000000ull));
    EXPECT_EQ(watch_open_files(), 1u);
    EXPECT_EQ(flags(file), FILE_CHANGED_ON_DISK);
    EXPECT_EQ(watch_open_files(), 0u) << "not looked at again until the reload";
}

TEST_F(File_Watcher_Test, ASymlinkedFileFollowsItsTarget) {
    std::string target = scratch + "/target.txt", link = scratch + "/link.txt";
    write_test_file(target, "target text\n");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    Editor_File* file = open_in_tab(link);
    for (int pass = 0; pass < 3; pass++) EXPECT_EQ(watch_open_files(), 0u) << "the link's own size and time do not count";
    set_mtime(link, 1600000000, 7, true);
    EXPECT_EQ(watch_open_files(), 0u) << "touching the link itself changes nothing";
    write_test_file(target, "target text, longer\n");
    EXPECT_EQ(watch_open_files(), 1u);
    EXPECT_EQ(flags(file), FILE_CHANGED_ON_DISK);
}

TEST_F(File_Watcher_Test, WhatIsNeverFlagged) {
    // Unsaved edits: whatever happens on disk, the user's text is not replaced.
    std::string edited = scratch + "/edited.txt";
    write_test_file(edited, "mine\n");
    Editor_File* file = open_in_tab(edited);
    atomic_or_u16(&file->flags, FILE_MODIFIED);
    write_test_file(edited, "theirs, longer\n");
    EXPECT_EQ(watch_open_files(), 0u);
    ASSERT_EQ(unlink(edited.c_str()), 0);
    EXPECT_EQ(watch_open_files(), 0u);
    EXPECT_EQ(flags(file), 0);

    // An untitled text has no file to watch.
    current_tab_index = tabs.count - 1;
    Tab* untitled = add_a_tab(TAB_FILE, add_a_file());
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(watch_open_files(), 0u);
    EXPECT_EQ(flags(untitled->file), 0);

    // A file already flagged waits for its reload.
    std::string changed = scratch + "/changed.txt";
    write_test_file(changed, "a\n");
    Editor_File* pending = open_in_tab(changed);
    atomic_or_u16(&pending->flags, FILE_CHANGED_ON_DISK);
    ASSERT_EQ(unlink(changed.c_str()), 0);
    EXPECT_EQ(watch_open_files(), 0u);
    EXPECT_EQ(flags(pending), FILE_CHANGED_ON_DISK);
}

//~ Layer sources

namespace {

// Stands for the runtime's watched-source rows: {name, length, whole time, size} as a
// compile saw each source.
struct Watched_Sources {
    std::vector<std::string> names;
    std::vector<Layer_Source_Entry> rows;

    void add(const std::string& path) {
        names.push_back(path);
        Layer_Source_Entry row = {0, (u64)path.size(), 0, 0};
        stat_layer_source(path.c_str(), &row.size, &row.modification_time);
        rows.push_back(row);
    }
    // What a compile that read the sources again records.
    void take_current(size_t i) {
        stat_layer_source(names[i].c_str(), &rows[i].size, &rows[i].modification_time);
    }
    void install() {
        for (size_t i = 0; i < names.size(); i++) rows[i].name = (u64)names[i].data();
        custom_layer.watched_sources = Layer_Source_View{(u8*)rows.data(), sizeof(Layer_Source_Entry), (u32)rows.size()};
        custom_layer.recompile_request = 0;
    }
    ~Watched_Sources() {
        custom_layer.watched_sources = Layer_Source_View{};
        custom_layer.recompile_request = 0;
    }
};

}  // namespace

// No layer is loaded here: the sources of a failed compile are watched all the same.
TEST_F(File_Watcher_Test, LayerSourcesAskForARecompile) {
    std::string a = scratch + "/custom.8", b = scratch + "/more.8", target = scratch + "/target.8",
                link = scratch + "/linked.8", missing = scratch + "/missing.8";
    write_test_file(a, "a");
    write_test_file(b, "b");
    write_test_file(target, "t");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    set_mtime(a, 1700000000, 100);
    set_mtime(b, 1700000000, 200);
    set_mtime(target, 1700000000, 300);
    Watched_Sources sources;
    for (const std::string& path : {a, b, link, missing}) sources.add(path);
    sources.install();
    ASSERT_EQ(custom_layer.image, nullptr);

    EXPECT_FALSE(watch_layer_sources());
    EXPECT_FALSE(watch_layer_sources()) << "a missing source recorded as missing is unchanged";
    EXPECT_EQ(custom_layer.recompile_request, 0);

    struct Change {
        const char* name;
        size_t source;
        std::function<void()> change;
    };
    const Change changes[] = {
        {"a new size", 1, [&] { write_test_file(b, "bigger"); }},
        {"the seconds alone", 0, [&] { set_mtime(a, 1700000005, 100); }},
        {"the nanoseconds alone", 1, [&] { set_mtime(b, mtime_of(b).tv_sec, 999); }},
        {"a symlink's target", 2, [&] { set_mtime(target, 1700000000, 301); }},
        {"a missing source that appears", 3, [&] { write_test_file(missing, ""); }},
        {"a source that disappears", 0, [&] { ASSERT_EQ(unlink(a.c_str()), 0); }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        c.change();
        EXPECT_TRUE(watch_layer_sources());
        EXPECT_EQ(custom_layer.recompile_request, 1);
        custom_layer.recompile_request = 0;
        sources.take_current(c.source);
        EXPECT_FALSE(watch_layer_sources()) << "asked once, not at every pass";
    }
    {
        SCOPED_TRACE("the link itself is not the source");
        set_mtime(link, 1600000000, 7, true);
        EXPECT_FALSE(watch_layer_sources());
    }
}

//~ On a thread

// A compile holds the sources lock for the whole of its run: the layer pass does not wait
// for it but skips, and the pass after the compile asks.
TEST_F(File_Watcher_Test, ALayerPassSkipsWhileACompileHoldsTheSources) {
    std::string source = scratch + "/custom.8";
    write_test_file(source, "a");
    set_mtime(source, 1700000000, 100);
    Watched_Sources sources;
    sources.add(source);
    sources.install();
    write_test_file(source, "changed");

    spin_lock(&custom_layer.sources_lock);
    std::atomic<int> pass{-1};
    std::thread watcher([&] {
        tmp_claim_slot();
        pass = watch_layer_sources();
        tmp_release_slot();
    });
    bool returned = wait_for_condition([&] { return pass >= 0; });
    spin_unlock(&custom_layer.sources_lock);
    watcher.join();
    ASSERT_TRUE(returned) << "the pass waited for the compile to end";
    EXPECT_EQ(pass, 0);
    EXPECT_EQ(custom_layer.recompile_request, 0);

    EXPECT_TRUE(watch_layer_sources());
    EXPECT_EQ(custom_layer.recompile_request, 1);
}

// The watcher's passes against a main thread that opens, closes, moves, reloads and saves
// file tabs while files change on disk: every read of the list is under its lock, and so is
// every write of what the watcher reads of a file.
TEST_F(File_Watcher_Test, FileWatcherThreadsPassesWhileTabsChange) {
    std::vector<std::string> paths;
    for (int i = 0; i < 6; i++) {
        paths.push_back(scratch + "/" + std::to_string(i) + ".txt");
        write_test_file(paths.back(), "x\n");
    }
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        tmp_claim_slot();
        while (!stop) {
            tmp_reset();
            watch_open_files();
        }
        tmp_release_slot();
    });
    for (int round = 0; round < 200; round++) {
        const std::string& path = paths[round % paths.size()];
        if (round % 3 == 0) write_test_file(path, std::string(round % 7 + 1, 'y'));
        if (tabs.count < 4) {
            open_in_tab(path);
        } else if (round % 2) {
            close_tab(get_tab((u32)round % tabs.count));
        } else {
            move_tab(0, tabs.count - 1);
        }
        // Reloading and saving write the size and time the watcher compares meanwhile.
        Tab* tab = get_tab((u32)round % tabs.count);
        if (round % 5 == 1) {
            spin_lock(&tab->file->lock);
            reload_file(tab->file);
            spin_unlock(&tab->file->lock);
        } else if (round % 5 == 3) {
            save_file(tab->file);
        }
    }
    stop = true;
    watcher.join();

    // One more pass, alone: now a file is flagged exactly when the disk holds another size or
    // time than the one it last read or wrote. A flag the passes set on a file that was
    // reloaded or saved meanwhile would stay although nothing changed.
    watch_open_files();
    for (u32 i = 0; i < tabs.count; i++) {
        Editor_File* file = get_tab(i)->file;
        std::string path((char*)get_file_path_tmp(file).data);
        SCOPED_TRACE(path);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        u64 disk_time = (u64)st.st_mtim.tv_sec * 1000000000ull + (u64)st.st_mtim.tv_nsec;
        bool differs = (u64)st.st_size != (u64)file->text.count || disk_time != file->modification_time;
        EXPECT_EQ(flags(file), (u16)(differs ? FILE_CHANGED_ON_DISK : 0));
    }
}
