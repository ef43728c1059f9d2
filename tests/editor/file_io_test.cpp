#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "editor/editor.h"
#include "foundation/log.h"
#include "editor_test_helpers.h"

namespace fs = std::filesystem;

static void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

static std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

static mode_t mode_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

static u64 mtime_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return (u64)st.st_mtim.tv_sec * 1000000000ull + (u64)st.st_mtim.tv_nsec;
}

static Editor_File* load(const std::string& path, b8 expected = true) {
    Filepath filepath;
    EXPECT_TRUE(string_to_filepath(&filepath, (u8*)path.data(), (s64)path.size()));
    Editor_File* file = add_a_file();
    EXPECT_EQ(load_file(&filepath, file), expected) << path;
    return file;
}

static void set_text(Editor_File* file, const std::string& text) {
    file->text.count = 0;
    if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&file->text, (u32)text.size()), text.data(), text.size());
    atomic_or_u16(&file->flags, FILE_MODIFIED);
}

// A text that was never loaded, given a path in dir as the save prompt would.
static Editor_File* make_unsaved_file(const Scratch_Directory& dir, const std::string& name, const std::string& text) {
    Editor_File* file = make_test_file(text, name);
    std::string directory = dir.path.string();
    EXPECT_TRUE(string_to_filepath(&file->directory, (u8*)directory.data(), (s64)directory.size()));
    return file;
}

static uid_t owner_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_uid;
}

// The user nobody, whom permission checks bind as they do not bind root.
static const uid_t UNPRIVILEGED_ID = 65534;
#define CANNOT_SWITCH_USER 200

#define SKIP_UNLESS_SWITCHED(status)                                                                       \
    if ((status) == CANNOT_SWITCH_USER)                                                                   \
    GTEST_SKIP() << "root could not become the unprivileged user " << UNPRIVILEGED_ID                   \
                 << " or that user cannot reach the scratch folder (a TMPDIR others may not search)"

// Runs work in a child process as an unprivileged user when we are root, else here, and
// returns its exit status; CANNOT_SWITCH_USER when root cannot become that user or that
// user cannot write in dir.
template <typename Work>
static int run_unprivileged(const fs::path& dir, Work work) {
    if (geteuid() != 0) return work();
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(UNPRIVILEGED_ID) != 0 || setuid(UNPRIVILEGED_ID) != 0 ||
            access(dir.c_str(), W_OK | X_OK) != 0) {
            _exit(CANNOT_SWITCH_USER);
        }
        _exit(work());  // the child leaves without the parent's exit handlers
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static size_t count_entries(const fs::path& directory) {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(directory)) { (void)e; n++; }
    return n;
}

TEST(FileIo, LoadsWholeFilesByteForByte) {
    Scratch_Directory dir;
    std::string big(300000, 'x');
    for (size_t i = 0; i < big.size(); i += 77) big[i] = '\n';
    struct Case { const char* name; std::string bytes; };
    const Case cases[] = {
        {"empty", ""},
        {"line endings and a zero octet kept", std::string("a\r\nb\rc\n\0d", 9)},
        {"larger than one read", big},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "sub.file.txt";
        write_file(path, c.bytes);
        current_file = nullptr;
        Editor_File* file = load(path);
        EXPECT_EQ(file_text(file), c.bytes);
        EXPECT_EQ(current_file, file);
        EXPECT_FALSE(file->flags & FILE_MODIFIED);
        EXPECT_EQ(file->cursor, 0);
        EXPECT_EQ(std::string((char*)file->name.data, file->name.count), "sub.file.txt");
        String directory = filepath_to_tmp_string(&file->directory);
        EXPECT_EQ(std::string((char*)directory.data, directory.count), dir.path.string());
        EXPECT_EQ(get_file_path_tmp(file).count, (s64)path.size());
        EXPECT_EQ(file->modification_time, mtime_of(path));
        EXPECT_EQ(file->lock, 0);
        close_file(file);
    }
}

TEST(FileIo, LoadThroughSymlinkAndFromFilesWithoutASize) {
    Scratch_Directory dir;
    write_file(dir / "target.txt", "through the link");
    fs::create_symlink("target.txt", dir / "link.txt");
    Editor_File* file = load(dir / "link.txt");
    EXPECT_EQ(file_text(file), "through the link");
    EXPECT_EQ(std::string((char*)file->name.data, file->name.count), "link.txt");
    close_file(file);

    file = load("/proc/self/status");  // reports size 0 but has text
    EXPECT_NE(file_text(file).find("Name:"), std::string::npos);
    close_file(file);
}

TEST(FileIo, RefusedLoadsLeaveTheRecordAlone) {
    Scratch_Directory dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "directory");
    write_file(dir / "huge.txt", "");
    ASSERT_EQ(truncate((dir / "huge.txt").c_str(), 1ll << 32), 0);  // sparse: no disk is used
    struct Case { const char* name; std::string path; };
    const Case cases[] = {
        {"missing", dir / "missing.txt"},
        {"a directory", dir / "directory"},
        {"a FIFO must not hang", dir / "fifo"},
        {"4 GiB, more than a text can count", dir / "huge.txt"},
    };
    Editor_File* other = make_test_file("x");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        current_file = other;
        Editor_File* file = load(c.path, false);
        EXPECT_EQ(current_file, other);
        EXPECT_EQ(file->name.count, 0);
        EXPECT_EQ(file->directory.count, 0);
        EXPECT_TRUE(file->flags & FILE_MODIFIED);
        EXPECT_EQ(file->lock, 0);
        close_file(file);
    }
    close_file(other);
}

TEST(FileIo, ReloadReplacesTheTextOnlyWhenReadWhole) {
    Scratch_Directory dir;
    std::string path = dir / "a.txt";
    write_file(path, "0123456789");
    Editor_File* file = load(path);
    Undo_Record* undo = (Undo_Record*)dynamic_array_add_fast(&file->undo_records);
    memset(undo, 0, sizeof(*undo));
    gp_allocate(&undo->deletion.saved_text, 4);  // the leak check sees it if reload drops it

    // Grown past the size the text was read with.
    std::string grown(100000, 'g');
    write_file(path, grown);
    atomic_or_u16(&file->flags, FILE_CHANGED_ON_DISK);
    file->cursor = 4;
    EXPECT_TRUE(reload_file(file));
    EXPECT_EQ(file_text(file), grown);
    EXPECT_EQ(file->undo_records.count, 0u);
    EXPECT_EQ(file->cursor, 4);
    EXPECT_FALSE(file->flags & FILE_CHANGED_ON_DISK);
    EXPECT_EQ(file->modification_time, mtime_of(path));

    // Shrunk below the cursor and the anchor of a selection.
    write_file(path, "abc");
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    file->cursor = 90;
    file->selection_anchor = 95;
    EXPECT_TRUE(reload_file(file));
    EXPECT_EQ(file->cursor, 0);
    EXPECT_LE(file->selection_anchor, 3);
    EXPECT_LE(file->previous_cursor, 3);

    // Gone: the text the user sees stays.
    fs::remove(path);
    atomic_or_u16(&file->flags, FILE_CHANGED_ON_DISK);
    EXPECT_FALSE(reload_file(file));
    EXPECT_EQ(file_text(file), "abc");
    EXPECT_FALSE(file->flags & FILE_CHANGED_ON_DISK);

    // Replaced by a directory: refused the same way.
    fs::create_directory(path);
    EXPECT_FALSE(reload_file(file));
    EXPECT_EQ(file_text(file), "abc");

    // Flagged gone from disk: nothing is read.
    fs::remove(path);
    write_file(path, "new");
    atomic_or_u16(&file->flags, FILE_GONE_FROM_DISK);
    EXPECT_FALSE(reload_file(file));
    EXPECT_EQ(file_text(file), "abc");
    close_file(file);
}

TEST(FileIo, SaveReplacesTheFileAndKeepsItsPermissions) {
    Scratch_Directory dir;
    std::string path = dir / "a.txt";
    write_file(path, "old text");
    chmod(path.c_str(), 0640);
    Editor_File* file = load(path);
    set_text(file, "new\r\ntext");
    atomic_or_u16(&file->flags, FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK);
    EXPECT_TRUE(save_file(file));
    EXPECT_EQ(read_file(path), "new\r\ntext");
    EXPECT_EQ(mode_of(path), 0640u);
    EXPECT_FALSE(file->flags & (FILE_MODIFIED | FILE_CHANGED_ON_DISK | FILE_GONE_FROM_DISK));
    EXPECT_EQ(file->modification_time, mtime_of(path));  // the watcher does not take our write for a change
    EXPECT_EQ(count_entries(dir.path), 1u);

    set_text(file, "");
    EXPECT_TRUE(save_file(file));
    EXPECT_EQ(read_file(path), "");
    close_file(file);
}

// The owner goes back before the mode: a change of owner clears the setuid and setgid bits.
TEST(FileIo, SaveKeepsSetuidAndSetgidBits) {
    Scratch_Directory dir;
    std::string path = dir / "tool";
    write_file(path, "#!/bin/sh\n");
    b8 root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), UNPRIVILEGED_ID, UNPRIVILEGED_ID), 0);
    }
    ASSERT_EQ(chmod(path.c_str(), 06755), 0);
    Editor_File* file = load(path);
    set_text(file, "#!/bin/sh\necho new\n");
    EXPECT_TRUE(save_file(file));
    EXPECT_EQ(read_file(path), "#!/bin/sh\necho new\n");
    EXPECT_EQ(mode_of(path), 06755u);
    if (root) {
        EXPECT_EQ(owner_of(path), UNPRIVILEGED_ID);
    }

    // Saved by its unprivileged owner, whose write clears the bits the mode then restores.
    fs::permissions(dir.path, fs::perms::all);
    set_text(file, "#!/bin/sh\necho newer\n");
    int status = run_unprivileged(dir.path, [&] { return save_file(file) ? 0 : 1; });
    close_file(file);
    SKIP_UNLESS_SWITCHED(status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(path), "#!/bin/sh\necho newer\n");
    EXPECT_EQ(mode_of(path), 06755u);
}

// Root passes every permission check, so these saves run as an unprivileged user.
TEST(FileIo, SavesAsAnUnprivilegedUser) {
    Scratch_Directory dir;
    fs::permissions(dir.path, fs::perms::all);  // anyone may add and rename files here
    b8 root = geteuid() == 0;

    // A file we may not write is refused, although the directory would allow a rename.
    std::string read_only = dir / "read_only.txt";
    write_file(read_only, "keep me\n");
    if (root) {
        ASSERT_EQ(chown(read_only.c_str(), UNPRIVILEGED_ID, UNPRIVILEGED_ID), 0);
    }
    ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
    Editor_File* file = load(read_only);
    set_text(file, "overwritten\n");
    int status = run_unprivileged(dir.path, [&] { return save_file(file) ? 1 : 0; });
    if (status == CANNOT_SWITCH_USER) close_file(file);
    SKIP_UNLESS_SWITCHED(status);
    EXPECT_EQ(status, 0) << "the save of a read-only file went through";
    EXPECT_EQ(read_file(read_only), "keep me\n");
    EXPECT_EQ(mode_of(read_only), 0444u);
    EXPECT_EQ(count_entries(dir.path), 1u);
    close_file(file);

    // A setuid file of another owner that we may write: the owner cannot be kept, so
    // neither is the setuid bit, as with a plain write.
    if (!root) return;
    std::string setuid_file = dir / "setuid.sh";
    write_file(setuid_file, "old\n");
    ASSERT_EQ(chmod(setuid_file.c_str(), 04777), 0);
    file = load(setuid_file);
    set_text(file, "new\n");
    EXPECT_EQ(run_unprivileged(dir.path, [&] { return save_file(file) ? 0 : 1; }), 0);
    EXPECT_EQ(read_file(setuid_file), "new\n");
    EXPECT_EQ(owner_of(setuid_file), UNPRIVILEGED_ID);
    EXPECT_EQ(mode_of(setuid_file), 0777u);
    close_file(file);
}

TEST(FileIo, SaveCreatesANewFilePrivately) {
    Scratch_Directory dir;
    std::string path = dir / "new.txt";
    Editor_File* file = make_unsaved_file(dir, "new.txt", "fresh");
    EXPECT_TRUE(save_file(file));
    EXPECT_EQ(read_file(path), "fresh");
    EXPECT_EQ(mode_of(path), 0600u);
    close_file(file);

    Editor_File* unnamed = make_test_file("no path yet", "");
    EXPECT_FALSE(save_file(unnamed));
    EXPECT_TRUE(unnamed->flags & FILE_MODIFIED);
    close_file(unnamed);
}

TEST(FileIo, SaveThroughASymlinkUpdatesTheTarget) {
    Scratch_Directory dir;
    fs::create_directory(dir / "real");
    std::string target = dir / "real/target.txt";
    write_file(target, "before");
    chmod(target.c_str(), 0604);
    fs::create_symlink("real/target.txt", dir / "link.txt");
    fs::create_symlink("link.txt", dir / "link-to-link.txt");
    for (const char* name : {"link.txt", "link-to-link.txt"}) {
        SCOPED_TRACE(name);
        Editor_File* file = load(dir / name);
        std::string text = std::string("after, written through ") + name;
        set_text(file, text);
        EXPECT_TRUE(save_file(file));
        EXPECT_TRUE(fs::is_symlink(dir / name));
        EXPECT_EQ(fs::read_symlink(dir / "link.txt"), "real/target.txt");
        EXPECT_EQ(read_file(target), text);
        EXPECT_EQ(mode_of(target), 0604u);
        EXPECT_EQ(file->modification_time, mtime_of(dir / name));
        EXPECT_EQ(count_entries(dir / "real"), 1u);
        close_file(file);
    }

    fs::create_symlink("nowhere.txt", dir / "dangling.txt");
    Editor_File* file = make_unsaved_file(dir, "dangling.txt", "text");
    EXPECT_FALSE(save_file(file));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.txt"));
    close_file(file);

    // The file the link led to is gone: nothing is written, and the link stays.
    file = load(dir / "link.txt");
    fs::remove(target);
    set_text(file, "text");
    for (int save = 0; save < 2; save++) {
        EXPECT_FALSE(save_file(file));
        EXPECT_TRUE(file->flags & FILE_SAVE_FAILED);
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(count_entries(dir / "real"), 0u);
    close_file(file);
}

// A file-size limit makes writes past 4 KiB fail as a full disk does.
static b8 save_on_a_full_disk(Editor_File* file) {
    struct rlimit saved;
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = {4096, saved.rlim_max};
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    b8 saved_ok = save_file(file);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    return saved_ok;
}

TEST(FileIo, FailedSaveOnAFullDiskLeavesTheFileAsItWas) {
    Scratch_Directory dir;
    std::string path = dir / "precious.txt";
    std::string original = "the original bytes\n";
    write_file(path, original);
    chmod(path.c_str(), 0640);
    u64 mtime = mtime_of(path);
    Editor_File* file = load(path);
    set_text(file, std::string(64 * 1024, 'z'));

    u64 errors_before = next_error_log_id;
    EXPECT_FALSE(save_on_a_full_disk(file));
    EXPECT_NE(next_error_log_id, errors_before);  // the failure is in the log as an error
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(mode_of(path), 0640u);
    EXPECT_EQ(mtime_of(path), mtime);
    EXPECT_TRUE(file->flags & FILE_MODIFIED);
    EXPECT_TRUE(file->flags & FILE_SAVE_FAILED);
    EXPECT_EQ(count_entries(dir.path), 1u);  // no temporary file left behind

    EXPECT_TRUE(save_file(file));  // with room again it goes through
    EXPECT_EQ(read_file(path).size(), 64u * 1024u);
    EXPECT_FALSE(file->flags & FILE_SAVE_FAILED);
    close_file(file);
}

// What another program does to a file between our read and our save.
static void set_mtime(const std::string& path, s64 seconds) {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(FileIo, ASaveNeverOverwritesAChangeItHasNotSeen) {
    struct Change_Case {
        const char* name;
        void (*change)(const std::string& path);
        bool refused;
        std::string on_disk;  // after the first save
    };
    const Change_Case cases[] = {
        {"nothing changed", [](const std::string&) {}, false, "mine"},
        {"rewritten in place", [](const std::string& p) { write_file(p, "EXTERNAL\n"); }, true, "EXTERNAL\n"},
        {"the same size, another time",
         [](const std::string& p) {
             write_file(p, "OTHER!!!");
             set_mtime(p, 1000000000);
         },
         true, "OTHER!!!"},
        {"only touched", [](const std::string& p) { set_mtime(p, 1000000000); }, true, "original"},
        {"replaced by a rename",
         [](const std::string& p) {
             write_file(p + ".new", "renamed in");
             ASSERT_EQ(rename((p + ".new").c_str(), p.c_str()), 0);
         },
         true, "renamed in"},
        {"deleted: nothing there to lose", [](const std::string& p) { unlink(p.c_str()); }, false, "mine"},
    };
    for (const Change_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory dir;
        std::string path = dir / "chg.txt";
        write_file(path, "original");
        Editor_File* file = load(path);
        set_text(file, "mine");
        c.change(path);

        u64 errors_before = next_error_log_id;
        EXPECT_EQ(save_file(file), !c.refused);
        EXPECT_EQ(read_file(path), c.on_disk);
        EXPECT_EQ(next_error_log_id != errors_before, c.refused);
        EXPECT_EQ((file->flags & FILE_SAVE_REFUSED) != 0, c.refused);
        EXPECT_EQ((file->flags & FILE_MODIFIED) != 0, c.refused);
        EXPECT_FALSE(file->flags & FILE_SAVE_FAILED);  // nothing failed: the tab shows the change instead
        EXPECT_EQ(count_entries(dir.path), 1u);

        // The user has seen the mark: the same save again writes.
        if (c.refused) {
            EXPECT_TRUE(save_file(file));
            EXPECT_EQ(read_file(path), "mine");
            EXPECT_FALSE(file->flags & (FILE_SAVE_REFUSED | FILE_MODIFIED));
        }
        // Our own write is no change: the next save goes through at once.
        set_text(file, "mine again");
        EXPECT_TRUE(save_file(file));
        EXPECT_EQ(read_file(path), "mine again");
        close_file(file);
    }
}

TEST(FileIo, ARefusedSaveLooksAgainWhenTheDiskChangesOnceMore) {
    Scratch_Directory dir;
    std::string path = dir / "chg.txt";
    write_file(path, "original");
    Editor_File* file = load(path);
    set_text(file, "mine");
    write_file(path, "first change");
    EXPECT_FALSE(save_file(file));
    write_file(path, "second, longer change");
    EXPECT_FALSE(save_file(file));
    EXPECT_EQ(read_file(path), "second, longer change");
    EXPECT_TRUE(file->flags & FILE_SAVE_REFUSED);

    // A reload takes in what is on disk and clears the mark.
    EXPECT_TRUE(reload_file(file));
    EXPECT_FALSE(file->flags & FILE_SAVE_REFUSED);
    set_text(file, "after the reload");
    EXPECT_TRUE(save_file(file));
    EXPECT_EQ(read_file(path), "after the reload");
    close_file(file);
}

// Two records of one file, one of them opened through a linked folder: each save sees
// what the other wrote.
TEST(FileIo, TwoRecordsOfOneFileDoNotOverwriteEachOther) {
    Scratch_Directory dir;
    fs::create_directory(dir / "real");
    fs::create_directory_symlink("real", dir / "linked");
    write_file(dir / "real/f.txt", "original");
    Editor_File* a = load(dir / "real/f.txt");
    Editor_File* b = load(dir / "linked/f.txt");
    set_text(a, "from a");
    set_text(b, "from b");
    EXPECT_TRUE(save_file(a));
    EXPECT_FALSE(save_file(b));
    EXPECT_EQ(read_file(dir / "real/f.txt"), "from a");
    EXPECT_TRUE(b->flags & FILE_SAVE_REFUSED);
    EXPECT_TRUE(save_file(b));
    EXPECT_EQ(read_file(dir / "real/f.txt"), "from b");
    EXPECT_TRUE(fs::is_symlink(dir / "linked"));
    set_text(a, "a again");
    EXPECT_FALSE(save_file(a));
    EXPECT_EQ(read_file(dir / "real/f.txt"), "from b");
    close_file(a);
    close_file(b);
}

// The log's lines since mark; all of it when the buffer started again in between.
static std::string log_since(u64 mark) {
    if (__global_log.used < mark) return std::string((char*)__global_log.memory, __global_log.used);
    return std::string((char*)__global_log.memory + mark, __global_log.used - mark);
}

// Each entry of a folder: a file as its mode and text, a link as "-> " and where it points.
static std::map<std::string, std::string> list_entries(const fs::path& directory) {
    std::map<std::string, std::string> entries;
    for (auto& e : fs::directory_iterator(directory)) {
        std::string name = e.path().filename();
        if (e.is_symlink()) {
            entries[name] = "-> " + fs::read_symlink(e.path()).string();
        } else {
            char mode[8];
            snprintf(mode, sizeof(mode), "%04o", (unsigned)mode_of(e.path()));
            entries[name] = std::string(mode) + " " + read_file(e.path());
        }
    }
    return entries;
}

// Puts a link at name in one step, as `ln -sfn` or a checkout does: whatever was there is gone.
static void place_link(const fs::path& dir, const char* name, const char* target) {
    fs::create_symlink(target, dir / "link.new");
    fs::rename(dir / "link.new", dir / name);
}

static void place_file(const fs::path& dir, const char* name, const std::string& text) {
    write_file(dir / "file.new", text);
    chmod((dir / "file.new").c_str(), 0644);
    fs::rename(dir / "file.new", dir / name);
}

// f.txt is loaded, then changed under the editor, then saved until a save goes through. A
// link found at the name is written through only when the name was that link, leading to
// the same file, at the load; any other is replaced by a new file and what it leads to is
// left alone.
TEST(FileIo, ASaveNeverWritesThroughALinkItHasNotSeen) {
    struct Link_Case {
        const char* name;
        void (*before)(const fs::path& dir);  // what is there at the load
        void (*change)(const fs::path& dir);
        bool reload;          // the watcher took the change in before the edit
        bool refused;         // the first save is refused; the second goes through
        const char* written;  // the entry that holds the text in the end
        bool link_replaced;   // f.txt ends a new private file where a link was
    };
    const Link_Case cases[] = {
        {"a file swapped for a link to another file",
         [](const fs::path& d) {
             place_file(d, "f.txt", "original");
             place_file(d, "other.txt", "other's");
         },
         [](const fs::path& d) { place_link(d, "f.txt", "other.txt"); }, false, true, "f.txt", true},
        {"a file swapped for a link that leads nowhere", [](const fs::path& d) { place_file(d, "f.txt", "original"); },
         [](const fs::path& d) { place_link(d, "f.txt", "missing.txt"); }, false, true, "f.txt", true},
        {"a file swapped for a link, read again through it",
         [](const fs::path& d) {
             place_file(d, "f.txt", "original");
             place_file(d, "other.txt", "other's");
         },
         [](const fs::path& d) { place_link(d, "f.txt", "other.txt"); }, true, true, "f.txt", true},
        {"opened through a link",
         [](const fs::path& d) {
             place_file(d, "a.txt", "a");
             place_link(d, "f.txt", "a.txt");
         },
         [](const fs::path&) {}, false, false, "a.txt", false},
        {"opened through a link whose target another program replaced",
         [](const fs::path& d) {
             place_file(d, "a.txt", "a");
             place_link(d, "f.txt", "a.txt");
         },
         [](const fs::path& d) { place_file(d, "a.txt", "a, replaced"); }, false, true, "a.txt", false},
        {"opened through a link that now leads to another file",
         [](const fs::path& d) {
             place_file(d, "a.txt", "a");
             place_file(d, "b.txt", "b");
             place_link(d, "f.txt", "a.txt");
         },
         [](const fs::path& d) { place_link(d, "f.txt", "b.txt"); }, false, true, "f.txt", true},
        {"opened through two links, the second now leading to another file",
         [](const fs::path& d) {
             place_file(d, "a.txt", "a");
             place_file(d, "b.txt", "b");
             place_link(d, "mid.txt", "a.txt");
             place_link(d, "f.txt", "mid.txt");
         },
         [](const fs::path& d) { place_link(d, "mid.txt", "b.txt"); }, false, true, "f.txt", true},
        {"opened through a link that became a file",
         [](const fs::path& d) {
             place_file(d, "a.txt", "a");
             place_link(d, "f.txt", "a.txt");
         },
         [](const fs::path& d) { place_file(d, "f.txt", "external"); }, false, true, "f.txt", false},
    };
    for (const Link_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory dir;
        c.before(dir.path);
        Editor_File* file = load(dir / "f.txt");
        c.change(dir.path);
        if (c.reload) {
            EXPECT_TRUE(reload_file(file));
        }
        set_text(file, "mine");
        std::map<std::string, std::string> expected = list_entries(dir.path);

        u64 mark = __global_log.used;
        EXPECT_EQ(save_file(file), !c.refused);
        if (c.refused) {
            EXPECT_EQ(list_entries(dir.path), expected);  // nothing was written anywhere
            EXPECT_TRUE(file->flags & FILE_SAVE_REFUSED);
            EXPECT_TRUE(file->flags & FILE_MODIFIED);
            EXPECT_TRUE(save_file(file));
        }
        expected[c.written] = (c.link_replaced ? "0600 " : "0644 ") + std::string("mine");
        EXPECT_EQ(list_entries(dir.path), expected);
        EXPECT_FALSE(file->flags & (FILE_SAVE_REFUSED | FILE_SAVE_FAILED | FILE_MODIFIED));
        bool logged = log_since(mark).find("in place of the symbolic link") != std::string::npos;
        EXPECT_EQ(logged, c.link_replaced);

        // The save remembered what it wrote: the next one goes to the same place at once.
        set_text(file, "mine again");
        EXPECT_TRUE(save_file(file));
        expected[c.written] = (c.link_replaced ? "0600 " : "0644 ") + std::string("mine again");
        EXPECT_EQ(list_entries(dir.path), expected);
        close_file(file);
    }
}

// The save the user makes after a refusal may still fail to write: the tab shows that.
TEST(FileIo, ASaveAfterARefusalThatFailsToWriteShowsTheFailure) {
    struct Change_Case {
        const char* name;
        void (*change)(const fs::path& dir);
    };
    const Change_Case cases[] = {
        {"rewritten in place", [](const fs::path& d) { write_file(d / "f.txt", "EXTERNAL\n"); }},
        {"swapped for a link to another file", [](const fs::path& d) { place_link(d, "f.txt", "other.txt"); }},
    };
    for (const Change_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory dir;
        place_file(dir.path, "f.txt", "original");
        place_file(dir.path, "other.txt", "other's");
        Editor_File* file = load(dir / "f.txt");
        c.change(dir.path);
        set_text(file, std::string(64 * 1024, 'z'));
        std::map<std::string, std::string> before = list_entries(dir.path);

        EXPECT_FALSE(save_file(file));
        EXPECT_TRUE(file->flags & FILE_SAVE_REFUSED);
        EXPECT_FALSE(file->flags & FILE_SAVE_FAILED);
        u64 errors_before = next_error_log_id;
        EXPECT_FALSE(save_on_a_full_disk(file));
        EXPECT_NE(next_error_log_id, errors_before);
        EXPECT_TRUE(file->flags & FILE_SAVE_FAILED);
        EXPECT_TRUE(file->flags & FILE_MODIFIED);
        EXPECT_EQ(list_entries(dir.path), before);

        EXPECT_TRUE(save_file(file));  // with room again: what the user was shown still stands
        EXPECT_FALSE(file->flags & (FILE_SAVE_FAILED | FILE_SAVE_REFUSED | FILE_MODIFIED));
        EXPECT_EQ(read_file(dir / "f.txt").size(), 64u * 1024u);
        EXPECT_EQ(read_file(dir / "other.txt"), "other's");
        close_file(file);
    }
}

// A save killed before its rename leaves ".NAME.quarn-XXXXXX"; the next load or save of
// that file removes such leftovers of its own name, and only those older than this editor
// that no running save holds.
TEST(FileIo, LeftoversOfKilledSavesGoAtTheNextLoadOrSave) {
    struct Entry {
        const char* name;
        char kind;   // 'f' file, 'd' directory, 'l' link to an old leftover-like file, 'k' file held by a save
        bool old;    // changed before the editor started
        bool removed;
    };
    const Entry entries[] = {
        {".chg.txt.quarn-AbC123", 'f', true, true},
        {".chg.txt.quarn-zzzzzz", 'f', true, true},
        {".chg.txt.quarn-Xy9876", 'f', false, false},  // a save of another editor, started after this one
        {".chg.txt.quarn-held00", 'k', true, false},   // a save running now
        {".other.txt.quarn-AbC123", 'f', true, false},
        {".chg.txt.quarn-AbC12", 'f', true, false},
        {".chg.txt.quarn-AbC1234", 'f', true, false},
        {".chg.txt.quarn-AbC1-3", 'f', true, false},
        {"chg.txt.quarn-AbC123", 'f', true, false},
        {".chg.txt.quarn-dir123", 'd', true, false},
        {".chg.txt.quarn-link12", 'l', true, false},
    };
    u64 saved_start = editor_start_time;
    for (const char* trigger : {"load", "save"}) {
        SCOPED_TRACE(trigger);
        Scratch_Directory dir;
        std::string path = dir / "chg.txt";
        write_file(path, "original");
        write_file(dir / "target", "old");
        set_mtime(dir / "target", 1000000000);
        int held = -1;
        for (const Entry& e : entries) {
            std::string p = dir / e.name;
            if (e.kind == 'd') fs::create_directory(p);
            else if (e.kind == 'l') fs::create_symlink("target", p);
            else write_file(p, "partial");
            if (e.kind == 'k') {
                held = open(p.c_str(), O_RDONLY);
                ASSERT_EQ(flock(held, LOCK_EX), 0);
            }
            if (e.old && e.kind != 'l') set_mtime(p, 1000000000);
        }
        // The editor started between the old entries and the new ones.
        const u64 start = 2000000000ull * 1000000000ull;
        for (const Entry& e : entries) {
            if (!e.old) set_mtime(dir / e.name, 2000000001);
        }

        b8 by_save = std::string(trigger) == "save";
        editor_start_time = by_save ? 0 : start;  // 0: the load removes nothing
        Editor_File* file = load(path);
        if (by_save) {
            for (const Entry& e : entries) EXPECT_TRUE(fs::symlink_status(dir / e.name).type() != fs::file_type::not_found) << e.name;
            editor_start_time = start;
            set_text(file, "mine");
            EXPECT_TRUE(save_file(file));
            EXPECT_EQ(read_file(path), "mine");
        }
        for (const Entry& e : entries) {
            bool present = fs::symlink_status(dir / e.name).type() != fs::file_type::not_found;
            EXPECT_EQ(present, !e.removed) << e.name;
        }
        EXPECT_EQ(read_file(dir / "target"), "old");
        close(held);
        close_file(file);
    }
    editor_start_time = saved_start;
}

TEST(FileIo, PathOfAFile) {
    struct Case { const char* directory; const char* name; const char* expected; };
    static const Case cases[] = {
        {"", "a.txt", "a.txt"},
        {"/", "x", "/x"},
        {"/home/u", "f.c", "/home/u/f.c"},
        {"src", "x", "src/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        Editor_File* file = make_test_file("", c.name);
        ASSERT_TRUE(string_to_filepath(&file->directory, (u8*)c.directory, (s64)strlen(c.directory)));
        String path = get_file_path_tmp(file);
        EXPECT_EQ(std::string((char*)path.data, path.count), c.expected);
        EXPECT_EQ(path.data[path.count], 0);
        close_file(file);
    }
}
