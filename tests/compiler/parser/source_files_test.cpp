#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "parser_test_helpers.h"

// The link line wraps read (-Wl,--wrap=read), so a test can make every read short.
static size_t read_limit;

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (read_limit && count > read_limit) count = read_limit;
    return __real_read(fd, buffer, count);
}

static Source_File* load(const std::string& path) { return compiler_load_file((u8*)path.data(), path.size()); }

TEST(SourceFiles, LoadingTable) {
    Scratch_Directory dir;
    std::string text = "x: s32;\n#on_load { debug_break; }\n";
    std::string regular = dir.write("regular.8", text);
    std::string empty = dir.write("empty.8", "");
    std::filesystem::create_symlink(regular, dir / "link.8");
    ASSERT_EQ(mkfifo((dir / "fifo.8").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.8");
    {
        std::ofstream(dir / "huge.8");
        std::filesystem::resize_file(dir / "huge.8", SOURCE_FILE_MAX_SIZE + 1);
    }

    struct Case {
        const char* name;
        std::string path;
        size_t read_limit;
        bool loads;
        u32 size;
        u32 tokens;
    };
    const Case cases[] = {
        {"regular file", regular, 0, true, (u32)text.size(), 9},
        {"a few octets a read", regular, 3, true, (u32)text.size(), 9},
        {"empty file", empty, 0, true, 0, 0},
        {"symbolic link, read through", dir / "link.8", 0, true, (u32)text.size(), 9},
        {"missing", dir / "missing.8", 0, false, 0, 0},
        {"directory", dir / "folder.8", 0, false, 0, 0},
        {"FIFO", dir / "fifo.8", 0, false, 0, 0},
        {"over the size limit", dir / "huge.8", 0, false, 0, 0},
    };
    // Pools keep what a first load took; later loads take nothing more.
    ASSERT_TRUE(reset_compiler());
    ASSERT_NE(load(regular), nullptr);
    free_compiler_state();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        u64 usage = allocator_usage();
        read_limit = c.read_limit;
        Source_File* file = load(c.path);
        read_limit = 0;
        if (!c.loads) {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(global_compiler_state.source_files.count, 0u);
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"Failed to load file '" + c.path + "'."});
            EXPECT_EQ(get_compile_error(0)->line, 0u) << "a failed main file has no location";
            EXPECT_EQ(allocator_usage(), usage) << "nothing stays allocated";
            continue;
        }
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(compile_errors.count, 0u);
        EXPECT_EQ(file->index, 0u);
        EXPECT_EQ(file->state, 1u);
        EXPECT_EQ(file->text_size, c.size);
        EXPECT_EQ(file->buffer_size, c.size);
        EXPECT_EQ(file->tokens.count, c.tokens);
        if (c.size) {
            EXPECT_EQ(std::string((char*)file->text, file->text_size), text);
        } else {
            EXPECT_EQ(file->text, nullptr);
        }
        EXPECT_EQ(source_path(0), c.path) << "the path as given";
        free_compiler_state();
        EXPECT_EQ(allocator_usage(), usage) << "the text buffer is returned";
    }
}

TEST(SourceFiles, TokeniserFailureKeepsTheRecord) {
    Scratch_Directory dir;
    std::string path = dir.write("bad.8", "x: s32 = \"never closed;\n");
    ASSERT_TRUE(reset_compiler());
    EXPECT_EQ(load(path), nullptr);
    EXPECT_EQ(global_compiler_state.source_files.count, 1u);
    EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"This string literal is never closed."});
    free_compiler_state();
}

// Each #load_file target is loaded once per compile, however its path is written.
TEST(SourceFiles, EachFileLoadedOnce) {
    Scratch_Directory dir;
    std::string main = dir.write("main.8", "#load_file \"lib/a.8\";\n#load_file \"lib/../lib/a.8\";\n"
                                           "#load_file \"link.8\";\n#load_file \"main.8\";\n");
    dir.write("lib/a.8", "#load_file \"../main.8\";\n#load_file \"./a.8\";\nin_a: s32;\n");
    std::filesystem::create_symlink(dir / "lib/a.8", dir / "link.8");
    EXPECT_TRUE(compile_test_file(main)) << testing::PrintToString(compile_error_messages());
    ASSERT_EQ(global_compiler_state.source_files.count, 3u) << "the prelude, main.8 and lib/a.8";
    EXPECT_EQ(source_path(2), dir / "lib/a.8");
    EXPECT_NE(find_global("in_a"), nullptr);
    free_compiler_state();
}

TEST(SourceFiles, FortyChainedFiles) {
    Scratch_Directory dir;
    for (int i = 0; i < 40; i++) {
        std::string next = i < 39 ? "#load_file \"c" + std::to_string(i + 1) + ".8\";\n" : "";
        dir.write("c" + std::to_string(i) + ".8", next + "g" + std::to_string(i) + ": s32;\n");
    }
    EXPECT_TRUE(compile_test_file(dir / "c0.8")) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(global_compiler_state.source_files.count, 41u) << "the prelude and the forty";
    for (int i = 0; i < 40; i++) EXPECT_NE(find_global(("g" + std::to_string(i)).c_str()), nullptr) << i;
    free_compiler_state();
}

TEST(SourceFiles, AbsoluteLoadFile) {
    Scratch_Directory dir;
    std::string main = dir.write("main/custom.8", "#load_file \"" + (dir / "lib/x.8") + "\";\n");
    dir.write("lib/x.8", "#load_file \"y.8\";\n");
    dir.write("lib/y.8", "in_y: s32;\n");
    EXPECT_TRUE(compile_test_file(main)) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(source_path(2), dir / "lib/x.8");
    EXPECT_EQ(source_path(3), dir / "lib/y.8") << "an absolute file's own directory serves its #load_files";
    free_compiler_state();
}

TEST(SourceFiles, Modules) {
    Scratch_Directory dir;
    dir.write("modules/plain.8", "in_plain: s32;\n");
    dir.write("modules/folder/module.8", "#load_file \"part.8\";\n");
    dir.write("modules/folder/part.8", "in_part: s32;\n");
    std::string base = dir.path.string();
    String saved = global_compiler_state.base_directory;
    global_compiler_state.base_directory = String{(u8*)base.data(), (s64)base.size()};

    struct Case {
        const char* name;
        std::vector<std::string> loaded;  // besides the file that holds the directive; none: it fails
    };
    const Case cases[] = {
        {"plain.8", {dir / "modules/plain.8"}},
        {"folder", {dir / "modules/folder/module.8", dir / "modules/folder/part.8"}},
        {"missing", {}},
    };
    std::string holder = dir.write("holder.8", "#load_file \"x\";\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_compiler());
        ASSERT_NE(load(holder), nullptr);
        Token* directive = (Token*)get_source_file(0)->tokens.first_element;
        Global_Worklists worklists;
        init_global_worklists(&worklists);
        Entry_Blocks entry_blocks = {};
        b8 loaded = compiler_load_and_preparse_module((u8*)c.name, strlen(c.name), global_compiler_state.global_scope,
                                                      &worklists, &entry_blocks, directive->location);
        free_global_worklists(&worklists);
        EXPECT_EQ(loaded, !c.loaded.empty());
        ASSERT_EQ(global_compiler_state.source_files.count, c.loaded.size() + 1);
        for (u32 i = 0; i < c.loaded.size(); i++) EXPECT_EQ(source_path(i + 1), c.loaded[i]);
        if (c.loaded.empty()) {
            EXPECT_EQ(compile_error_messages(),
                      std::vector<std::string>{"Failed to load file '" + (dir / "modules/missing") + "'."});
            EXPECT_EQ(get_compile_error(0)->line, 1u) << "on the directive";
        }
        free_compiler_state();
    }
    global_compiler_state.base_directory = saved;
}
