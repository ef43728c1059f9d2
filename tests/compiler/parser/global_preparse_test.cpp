#include <gtest/gtest.h>

#include "parser_test_helpers.h"

static std::vector<std::string> declared(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    for (const std::string& name : names) {
        if (find_global(name.c_str())) found.push_back(name);
    }
    return found;
}

TEST(GlobalWorklists, ChainsAndInserts) {
    struct Case {
        const char* name;
        const char* source;
        std::vector<std::string> declared;  // of a, b, c
    };
    const Case cases[] = {
        {"first condition", "#if 1 { a: s32; } else if 1 { b: s32; } else { c: s32; }", {"a"}},
        {"second condition", "#if 0 { a: s32; } else if 1 { b: s32; } else { c: s32; }", {"b"}},
        {"else block", "#if 0 { a: s32; } else if 0 { b: s32; } else { c: s32; }", {"c"}},
        {"nothing holds", "#if 0 { a: s32; }", {}},
        {"':' blocks", "#if 0: a: s32; else: b: s32;", {"b"}},
        {"condition declared below", "#if LATER { a: s32; }\n$LATER := 1;", {"a"}},
        {"insert of #code", "#insert #code { a: s32; };", {"a"}},
        {"insert of a name", "$C := #code { b: s32; };\n#insert C;", {"b"}},
        {"chain inside inserted code", "#insert #code { #if 1 { c: s32; } };", {"c"}},
        {"insert inside a taken block", "$C := #code { a: s32; };\n#if 1 { #insert C; }", {"a"}},
    };
    Scratch_Directory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(compile_test_file(dir.write("custom.8", c.source))) << testing::PrintToString(compile_error_messages());
        EXPECT_EQ(declared({"a", "b", "c"}), c.declared);
        free_compiler_state();
    }
}

// A #code insert is preparsed at once, a named one a generation later: which of two
// #on_load blocks is the second tells them apart.
TEST(GlobalWorklists, InsertGenerations) {
    struct Case {
        const char* name;
        const char* source;
        u32 line;  // of the #on_load reported as the second
    };
    const Case cases[] = {
        {"#code at once", "#insert #code { #on_load { } };\n#on_load { }", 2},
        {"name a generation later", "$C := #code { #on_load { } };\n#insert C;\n#on_load { }", 1},
    };
    Scratch_Directory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(compile_test_file(dir.write("custom.8", c.source)));
        EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"The #on_load entry point already exists."});
        EXPECT_EQ(get_compile_error(0)->line, c.line);
        free_compiler_state();
    }
}

TEST(GlobalWorklists, Reports) {
    struct Case {
        const char* name;
        const char* source;
        const char* message;
        u32 line;
    };
    const Case cases[] = {
        {"insert of a variable", "x: s32;\n#insert x;", "This expression does not appear to be constant.", 2},
        {"insert of a number", "$N := 5;\n#insert N;", "Expected a value of type 'Code' to insert.", 2},
        {"code inserting itself", "$C := #code { #insert C; };\n#insert C;",
         "It looks like #insert or #if directives keep adding code (more than 64 rounds). Is a Code constant "
         "inserting itself?",
         1},
        {"error in a taken block", "#if 1 { if x { } }", "You cannot use if statements in global scope.", 1},
    };
    Scratch_Directory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Pools keep what a first compile took; a second of the same source takes nothing.
        std::string path = dir.write("custom.8", c.source);
        compile_test_file(path);
        free_compiler_state();
        u64 usage = allocator_usage();
        EXPECT_FALSE(compile_test_file(path));
        EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(get_compile_error(0)->line, c.line);
        free_compiler_state();
        EXPECT_EQ(allocator_usage(), usage) << "worklists and chains are returned on failure";
    }
}

// A chain's block is preparsed with the directory of the file that holds it; inserted code
// with the directory of the compiled file.
TEST(GlobalWorklists, DirectoriesOfLoadsInDeferredWork) {
    Scratch_Directory dir;
    std::string main = dir.write("custom.8", "#load_file \"sub/f.8\";\n");
    dir.write("sub/f.8", "#if 1 { #load_file \"g.8\"; }\n$C := #code { #load_file \"h.8\"; };\n#insert C;\n");
    dir.write("sub/g.8", "#if 1 { in_g: s32; }\n");
    dir.write("h.8", "in_h: s32;\n");
    EXPECT_TRUE(compile_test_file(main)) << testing::PrintToString(compile_error_messages());
    EXPECT_EQ(source_path(3), dir / "sub/g.8") << "after the prelude, custom.8 and sub/f.8";
    EXPECT_EQ(source_path(4), dir / "h.8");
    EXPECT_EQ(declared({"in_g", "in_h"}), (std::vector<std::string>{"in_g", "in_h"}));
    free_compiler_state();
}

TEST(GlobalPreparse, DirectoryTooLongForAChain) {
    Scratch_Directory dir;
    std::string path = dir.write("custom.8", "#if 1 { }");
    for (u64 length : {(u64)GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY, (u64)GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY + 1}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(reset_compiler());
        Source_File* file = compiler_load_file((u8*)path.data(), path.size());
        ASSERT_NE(file, nullptr);
        Global_Worklists worklists;
        init_global_worklists(&worklists);
        Entry_Blocks entry_blocks = {};
        std::string directory(length, 'd');
        b8 recorded = preparse_global_scope(global_compiler_state.global_scope, (Token*)file->tokens.first_element, 0,
                                            &worklists, &entry_blocks, String{(u8*)directory.data(), (s64)directory.size()});
        EXPECT_EQ(recorded, length == GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY);
        if (recorded) {
            Global_If_Chain* chain = (Global_If_Chain*)worklists.chains.data;
            EXPECT_EQ(std::string((char*)chain->directory, chain->directory_length), directory);
        } else {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"The directory '" + directory + "' is too long."});
        }
        free_global_worklists(&worklists);
        free_compiler_state();
    }
}

// An entry block a support source built is not replaced by the user's.
TEST(GlobalPreparse, EntryBlockOfASupportSource) {
    Scratch_Directory dir;
    std::string main = dir.write("custom.8", "#events { }\n");
    ASSERT_TRUE(reset_compiler());
    Source_File* file = compiler_load_file((u8*)main.data(), main.size());
    ASSERT_NE(file, nullptr);
    Scope* built = _add_a_scope(global_compiler_state.global_scope, ENTRY_BLOCK_SCOPE_FLAGS, Trace{});
    global_compiler_state.events_scope = built;
    Global_Worklists worklists;
    init_global_worklists(&worklists);
    Entry_Blocks entry_blocks = {};
    EXPECT_FALSE(preparse_global_scope(global_compiler_state.global_scope, (Token*)file->tokens.first_element, 0,
                                       &worklists, &entry_blocks, String{}));
    free_global_worklists(&worklists);
    EXPECT_EQ(compile_error_messages(), std::vector<std::string>{"The #events entry point already exists."});
    EXPECT_EQ(global_compiler_state.events_scope, built);
    free_compiler_state();
}
