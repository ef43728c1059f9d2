#include <gtest/gtest.h>

#include <unistd.h>

#include "parser_test_helpers.h"

static bool compile_with_support_sources(const std::string& path) {
    tmp_reset();
    return compile_front_end((u8*)path.data(), path.size(), true, String{});
}

TEST(FrontEnd, SourceDirectory) {
    Scratch_Directory dir;
    dir.write("sub/custom.8", "#load_file \"helper.8\";\n");
    dir.write("sub/helper.8", "in_helper: s32;\n");
    std::string working = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path);

    struct Case {
        const char* name;
        std::string path;
        std::string directory;
        bool compiles;
    };
    const Case cases[] = {
        {"relative", "sub/custom.8", dir / "sub", true},
        {"absolute", dir / "sub/custom.8", dir / "sub", true},
        {"in the root", "/custom.8", "", false},
        {"the root", "/", "/", false},
        {"drive letter", "C:/layer/custom.8", "C:/layer", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compile_test_file(c.path), c.compiles) << testing::PrintToString(compile_error_messages());
        String directory = global_compiler_state.source_directory;
        EXPECT_EQ(std::string((char*)directory.data, directory.count), c.directory);
        if (c.compiles) {
            EXPECT_NE(find_global("in_helper"), nullptr);
        }
        free_compiler_state();
    }
    std::filesystem::current_path(working);
}

// What "inject.8" must declare, in pieces a case leaves out.
static const std::string TARGET_ENUMS = "$__Platform: #enum u8 = { $BYTECODE; $AMD64; };\n"
                                        "$__OS: #enum u8 = { $WINDOWS; $LINUX; $MACOS; };\n"
                                        "$COMPILER_TARGET_PLATFORM: __Platform = .BYTECODE;\n"
                                        "$COMPILER_TARGET_OS: __OS = .WINDOWS;\n";
static const std::string TARGET_ENUMS_WITHOUT_LINUX = "$__Platform: #enum u8 = { $BYTECODE; $AMD64; };\n"
                                                      "$__OS: #enum u8 = { $WINDOWS; $MACOS; };\n"
                                                      "$COMPILER_TARGET_PLATFORM: __Platform = .BYTECODE;\n"
                                                      "$COMPILER_TARGET_OS: __OS = .WINDOWS;\n";
static const std::string SUPPORT_TYPES = "$__Array: #struct ($T: Type) = { data: @T; count: s64; };\n"
                                         "$__Fixed_Size_Array: #struct ($T: Type, $N: u64) = { data: @T; count: s64; "
                                         "$MAX_COUNT := N; };\n"
                                         "$Code: #struct = { block: @void; };\n";

TEST(FrontEnd, SupportSources) {
    struct Case {
        const char* name;
        const char* inject;  // null: no file
        const char* api;
        const char* message;  // null: compiles; a %s stands for the base directory
    };
    const std::string both = TARGET_ENUMS + SUPPORT_TYPES;
    const std::string without_linux = TARGET_ENUMS_WITHOUT_LINUX + SUPPORT_TYPES;
    const std::string twice = both + "#on_load { }\n";
    const Case cases[] = {
        {"both", both.c_str(), "", nullptr},
        {"no inject.8", nullptr, "", "Failed to find file '%s/inject.8'."},
        {"no api.8", both.c_str(), nullptr, "Failed to find file '%s/api.8'."},
        {"no target constants", SUPPORT_TYPES.c_str(), "", "inject.8 must declare 'COMPILER_TARGET_PLATFORM'."},
        {"no LINUX", without_linux.c_str(), "", "inject.8 must declare 'COMPILER_TARGET_OS.LINUX'."},
        {"no array types", TARGET_ENUMS.c_str(), "", "inject.8 must declare '__Array'."},
        {"an entry block of the user's twice", twice.c_str(), "", "The #on_load entry point already exists."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch_Directory dir;
        Base_Directory base(dir.path.string());
        if (c.inject) dir.write("inject.8", c.inject);
        if (c.api) dir.write("api.8", c.api);
        std::string custom = dir.write("custom.8", "#on_load { debug_break; }\n");

        EXPECT_EQ(compile_with_support_sources(custom), c.message == nullptr);
        if (c.message) {
            std::string message = c.message;
            size_t at = message.find("%s");
            if (at != std::string::npos) message.replace(at, 2, dir.path.string());
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{message});
        } else {
            Compiler_State* state = &global_compiler_state;
            EXPECT_EQ(compile_errors.count, 0u);
            EXPECT_EQ(find_global("COMPILER_TARGET_PLATFORM")->constant_value.constant.data, TARGET_PLATFORM_AMD64);
            EXPECT_EQ(find_global("COMPILER_TARGET_OS")->constant_value.constant.data, TARGET_OS_LINUX);
            EXPECT_EQ(state->basic_types[BASIC_TYPE_ARRAY]->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY), TYPE_ARRAY);
            EXPECT_EQ(state->basic_types[BASIC_TYPE_FIXED_SIZE_ARRAY]->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY),
                      TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY);
            EXPECT_TRUE(state->basic_types[BASIC_TYPE_CODE]->flags & TYPE_CODE);
            EXPECT_EQ(global_compiler_state.source_files.count, 3u) << "inject.8, api.8, then the user's file";
            EXPECT_EQ(source_path(2), custom);
            EXPECT_EQ(instruction_kinds(state->on_load_scope), (std::vector<u32>{32, 29, 33, 27}));
        }
        free_compiler_state();
    }
}

// The same fixture a hundred times in one process: the same reports, and no allocator
// growth after the first compile.
TEST(FrontEnd, RepeatedCompiles) {
    Scratch_Directory dir;
    std::string custom = dir.write("custom.8",
                                   "#load_file \"lib/keys.8\";\n"
                                   "$C := #code { from_code: s32; };\n"
                                   "#if USE_KEYS { #insert C; } else { #load_file \"missing.8\"; }\n"
                                   "#on_load { debug_break; { debug_break; } }\n"
                                   "#events { ;;; }\n"
                                   "#syntax { { } statement; }\n");
    dir.write("lib/keys.8", "$USE_KEYS := 1;\nkey: s32;\n#if 1 { #load_file \"more.8\"; }\n");
    dir.write("lib/more.8", "more: u8;\n");
    std::vector<std::string> first_messages;
    u64 usage = 0;
    for (int round = 0; round < 100; round++) {
        SCOPED_TRACE(round);
        EXPECT_FALSE(compile_test_file(custom));
        std::vector<std::string> messages = compile_error_messages();
        EXPECT_EQ(global_compiler_state.source_files.count, 4u) << "the prelude and three";
        EXPECT_NE(find_global("from_code"), nullptr);
        free_compiler_state();
        if (round == 0) {
            first_messages = messages;
            usage = allocator_usage();
            EXPECT_EQ(messages, std::vector<std::string>{"Expected an instruction."});
        } else {
            EXPECT_EQ(messages, first_messages);
            ASSERT_EQ(allocator_usage(), usage);
        }
    }
}

// What a sub-program's compile leaves in the temporary memory must not grow with their
// number: a layer of many sub-programs would run out of it.
TEST(FrontEnd, ManySubProgramsKeepTheTemporaryMemory) {
    Scratch_Directory dir;
    auto tmp_after_compiling = [&](int count) {
        std::string source = "#on_load {\n    total: s64;\n";
        std::string declarations;
        for (int i = 0; i < count; i++) {
            std::string n = std::to_string(i);
            declarations += "$sub_" + n + ": (a: s64, b: s64) -> s64 = {\n    c: s64 = a + b;\n    return c;\n};\n";
            source += "    total += sub_" + n + "(1, 2);\n";
        }
        std::string path = dir.write("custom.8", declarations + source + "}\n");
        EXPECT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
        u64 used = tmp_get_used();
        free_compiler_state();
        return used;
    };
    u64 few = tmp_after_compiling(50), many = tmp_after_compiling(250);
    EXPECT_LT(many - few, 200u * 16) << "octets left per sub-program: " << (many - few) / 200;
}
