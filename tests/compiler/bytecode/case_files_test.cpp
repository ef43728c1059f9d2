// Every case file the front end compiles (the parser's and the bytecode generator's own, and
// each snippet of a .cases file) goes on to linked bytecode that holds the invariants, and
// two compiles of it list alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bytecode_checks.h"
#include "bytecode_test_builder.h"
#include "parser_test_helpers.h"

// The snippets of a NAME.cases file, each after a line "// case TITLE", written to files of
// the scratch directory; none when its snippets are support sources.
static void add_snippets(const std::string& path, const Scratch_Directory& scratch, std::vector<std::string>* files) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = "\n" + text.str();
    if (content.rfind("\n// each snippet is inject.8\n", 0) == 0) return;
    const std::string marker = "\n// case ";
    size_t at = content.find(marker);
    for (u32 n = 0; at != std::string::npos; n++) {
        size_t next = content.find(marker, at + marker.size());
        size_t title_end = content.find('\n', at + marker.size());
        size_t body = title_end == std::string::npos ? content.size() : title_end + 1;
        size_t end = next == std::string::npos ? content.size() : next + 1;
        std::string name = std::filesystem::path(path).stem().string() + "_" + std::to_string(n) + ".8";
        files->push_back(scratch.write(name, body < end ? content.substr(body, end - body) : ""));
        at = next;
    }
}

static std::vector<std::string> find_case_files(const Scratch_Directory& scratch) {
    std::vector<std::string> files;
    for (const char* folder : {QUARN_PARSER_CASES, QUARN_BYTECODE_TEST_DIR "/cases"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            if (entry.path().extension() == ".8") files.push_back(entry.path().string());
            if (entry.path().extension() == ".cases") add_snippets(entry.path().string(), scratch, &files);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The front end over the file alone, then its bytecode; empty when the front end refuses it.
static std::string compile_to_listing(const std::string& path, std::vector<std::string>* faults) {
    if (!compile_test_file(path)) {
        free_compiler_state();
        return "";
    }
    u32 syntax = 0, events = 0, on_load = 0;
    u8 flags = 0;
    std::string listing;
    if (!make_bytecode_from_state(&syntax, &events, &on_load, &flags)) {
        faults->push_back(path + ": " + (compile_errors.count ? compile_error_messages()[0] : "no bytecode"));
    } else {
        for (const std::string& fault : check_program_bytecode()) faults->push_back(path + ": " + fault);
        listing = listing_text();
    }
    free_compiler_state();
    return listing;
}

TEST(CaseFiles, CompilingCasesGiveBytecodeThatHoldsItsInvariants) {
    u32 compiled = 0;
    Scratch_Directory scratch;
    for (const std::string& path : find_case_files(scratch)) {
        SCOPED_TRACE(path);
        std::vector<std::string> faults;
        std::string first = compile_to_listing(path, &faults);
        if (first.empty() && faults.empty()) continue;
        compiled++;
        std::string second = compile_to_listing(path, &faults);
        EXPECT_EQ(faults, std::vector<std::string>{});
        EXPECT_EQ(first, second);
    }
    EXPECT_GE(compiled, 3u);
    std::cout << "CaseFiles: " << compiled << " case files compiled to bytecode\n";
}

// Through the front end: a for loop's index and limit live from before its test, and its
// element from its binding, to the loop's back jump, whatever the body places after them.
TEST(CaseFiles, ForLoopRegistersLiveThroughTheWholeLoop) {
    Scratch_Directory scratch;
    std::string path = scratch.write("loops.8",
                                     "s: String;\n"
                                     "#on_load {\n"
                                     "    a: [4] s32;\n"
                                     "    n: s64 = 5;\n"
                                     "    total: s32;\n"
                                     "    for a -> x { t := x * 2; total += t; }\n"
                                     "    for 0, n -> i { t := i + 1; u := t * 3; total += 1; }\n"
                                     "    for @ s -> p, j { t := j; if t == 2 { continue; } }\n"
                                     "    for 10, n #step 2, > { total -= 1; }\n"
                                     "}\n");
    ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
    u32 syntax = 0, events = 0, on_load = 0;
    u8 flags = 0;
    ASSERT_TRUE(make_bytecode_from_state(&syntax, &events, &on_load, &flags));
    EXPECT_EQ(check_program_bytecode(), std::vector<std::string>{});

    u32 loops = 0;
    Scope* body = global_compiler_state.on_load_scope;
    for (Instruction* in = (Instruction*)body->instructions.first_element; in; in = in->next) {
        if (in->kind != INSTRUCTION_FOR) continue;
        SCOPED_TRACE(loops);
        loops++;
        Instruction_For* k = get_instruction_for(in);
        u32 back = k->loop_scope->end_bytecode_index;
        Bytecode_Instruction* jump = get_bytecode_instruction(&global_compiler_state.bytecode, back);
        ASSERT_EQ(jump->kind, BYTECODE_JUMP);
        u32 start = (u32)(jump->jump.target / BYTECODE_INSTRUCTION_SIZE);
        std::vector<Register_Id> before = {k->index->register_id};
        if (k->limit.kind & VALUE_REGISTER) before.push_back(k->limit.dynamic.register_id);
        for (Register_Id id : before) {
            if (id.table != REGISTER_LOCAL) continue;  // a global limit needs no place
            Register* r = get_first_non_view_register(id);
            ASSERT_NE(r, nullptr);
            EXPECT_LT(r->first_use, start);
            EXPECT_GE(r->last_use, back);
        }
        if (k->flags & FOR_LOOP_OVER_ARRAY) {
            Register* element = get_first_non_view_register(k->element->register_id);
            ASSERT_NE(element, nullptr);
            EXPECT_GE(element->first_use, k->loop_scope->first_bytecode_index);
            EXPECT_GE(element->last_use, back);
        }
    }
    EXPECT_EQ(loops, 4u);
    free_compiler_state();
}

// The layer the editor ships, with its support sources beside it as they lie beside the
// editor, compiled as the editor compiles it.
TEST(CaseFiles, TheShippedLayerHoldsTheInvariants) {
    std::string path = QUARN_LAYER_DIR "/custom.8";
    String base = global_compiler_state.base_directory;
    global_compiler_state.base_directory = STR(QUARN_LAYER_DIR);
    auto compile_and_check = [&] {
        tmp_reset();
        ASSERT_TRUE(compile_front_end((u8*)path.data(), path.size(), true, String{}))
            << testing::PrintToString(compile_error_messages());
        u32 syntax = 0, events = 0, on_load = 0;
        u8 flags = 0;
        ASSERT_TRUE(make_bytecode_from_state(&syntax, &events, &on_load, &flags))
            << testing::PrintToString(compile_error_messages());
        EXPECT_EQ(check_program_bytecode(), std::vector<std::string>{});
        EXPECT_GT(global_compiler_state.sub_programs.count, 0u);
    };
    compile_and_check();
    std::string first = listing_text();
    free_compiler_state();
    compile_and_check();
    EXPECT_EQ(listing_text(), first);
    free_compiler_state();
    global_compiler_state.base_directory = base;
}
