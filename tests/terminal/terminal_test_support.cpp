// Every terminal test runs with the foundation's memory, the terminal pools, the editor's
// settings at their defaults and a stand-in "notify-send" first on PATH, so no test
// reaches the real desktop.
#include "terminal_test_support.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ui/window.h"
#include "../process_test_support.h"
#include "../scratch.h"
#include "../waiting.h"

static std::string notify_directory;

struct Terminal_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        tmp_claim_slot();
        init_terminals();
        init_editor_settings();
        notify_directory = make_test_directory("stand-ins");
        ASSERT_FALSE(notify_directory.empty());
        std::string script = notify_directory + "/notify-send";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "f=" << shell_word(notify_directory + "/record.") << "\"$(date +%s%N).$$\"\n"
                                 "printf '%s\\0' \"$@\" > \"$f.part\" && mv \"$f.part\" \"$f\"\n";
        chmod(script.c_str(), 0755);
        std::string path = notify_directory + ":" + getenv("PATH");
        setenv("PATH", path.c_str(), 1);
        atomic_store_u8(&window_is_focused, 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(notify_directory, ignored);
    }
};

static ::testing::Environment* const terminal_environment =
    ::testing::AddGlobalTestEnvironment(new Terminal_Test_Environment);

Test_Block::Test_Block() {
    memset(&block, 0, sizeof(block));
    init_dynamic_array(&block.text, 1);
    init_dynamic_array(&block.tokens, sizeof(Terminal_Token));
    reset_terminal_result_text(&block);
}

Test_Block::~Test_Block() {
    dynamic_array_free(&block.text);
    dynamic_array_free(&block.tokens);
}

void Test_Block::feed(const std::string& bytes) {
    if (!bytes.empty()) {
        u8* at = (u8*)dynamic_array_add_fast_multiple(&block.text, (u32)bytes.size());
        memcpy(at, bytes.data(), bytes.size());
    }
    tokenise_terminal_result(&block);
}

std::string describe_colour(Rgba c) {
    char text[96];
    snprintf(text, sizeof(text), "%.3g,%.3g,%.3g", c.r, c.g, c.b);
    return text;
}

std::string describe_tokens(Terminal_Result* block) {
    std::string out;
    Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
    for (u32 i = 0; i < block->tokens.count; i++) {
        Terminal_Token* t = &tokens[i];
        if (!out.empty()) out += " | ";
        if (t->kind == TERMINAL_TOKEN_NEW_LINE) {
            out += "N" + std::to_string(t->length);
        } else {
            out += "T\"" + std::string((char*)block->text.data + t->offset, t->length) + "\" fg=" +
                   describe_colour(t->foreground) + " bg=" + describe_colour(t->background) +
                   " d=" + std::to_string(t->default_colour);
        }
    }
    return out;
}

std::string block_text(Terminal_Result* block) {
    spin_lock(&block->lock);
    std::string text((char*)block->text.data, block->text.count);
    spin_unlock(&block->lock);
    return text;
}

b8 wait_for_worker(Terminal_Result* block) {
    return wait_for_condition([&] { return !(atomic_load_u8(&block->flags) & TERMINAL_RESULT_WORKER); });
}

Terminal* make_test_terminal(const std::string& directory) {
    Filepath path;
    EXPECT_TRUE(string_to_filepath(&path, (u8*)directory.data(), (s64)directory.size()));
    return add_a_terminal(&path);
}

b8 run_arguments(Terminal* terminal, const std::vector<std::string>& arguments, const std::string& command_line) {
    std::vector<char*> vector;
    for (const std::string& a : arguments) vector.push_back((char*)a.c_str());
    vector.push_back(nullptr);
    std::string shown = command_line;
    if (shown.empty()) {
        for (const std::string& a : arguments) shown += (shown.empty() ? "" : " ") + a;
    }
    return terminal_execute_arguments(terminal, test_string(shown), vector.data(), String{});
}

std::vector<std::vector<std::string>> recorded_notifications() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(notify_directory)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("record.", 0) == 0 && name.find(".part") == std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::vector<std::string>> out;
    for (const std::string& name : names) {
        out.push_back(split_at_nul(read_whole_file(notify_directory + "/" + name)));
    }
    return out;
}

Test_Tab::Test_Tab(const std::string& directory) {
    terminal = make_test_terminal(directory);
    input = add_a_file();
    atomic_or_u16(&input->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
}

Test_Tab::~Test_Tab() {
    for (Terminal_Result* b = (Terminal_Result*)terminal->results.first_element; b; b = b->next) wait_for_worker(b);
    clear_terminal_history(terminal);
    atomic_and_u8(&terminal->flags, (u8)~TERMINAL_IN_USE);
    close_file(input);
}

void Test_Tab::type(const std::string& line) {
    input->text.count = 0;
    if (!line.empty()) {
        u8* at = (u8*)dynamic_array_add_fast_multiple(&input->text, (u32)line.size());
        memcpy(at, line.data(), line.size());
    }
    editor_set_cursor(input, (s64)line.size());
}

void Test_Tab::run(const std::string& line) {
    tmp_reset();
    type(line);
    execute_terminal_command_line(terminal, input, &title, sizeof(title_buffer));
}
