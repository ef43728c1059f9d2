// Shared by the terminal tests: blocks fed with text, tokens written out as readable text,
// commands run to their end, and the stand-in "notify-send" every test process finds first
// on its PATH.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/terminal.h"
#include "tests/process_test_support.h"  // live_processes_of_session
#include "tests/editor/editor_test_helpers.h"

// A terminal with one block of output cut into runs and line breaks, built by hand without
// a process or a worker: only its records are read.
struct Test_Terminal {
    Memory_Pool pool;
    Terminal terminal = {};
    Terminal_Result* result;
    Test_Terminal(const std::string& text, const std::vector<std::pair<u64, u32>>& runs) {
        _init_memory_pool(&pool, sizeof(Terminal_Result), 4, 1, nullptr, os_allocate_read_write);
        init_bucket_array(&terminal.results, &pool);
        bucket_array_append(&terminal.results);  // an earlier block
        result = (Terminal_Result*)bucket_array_append(&terminal.results);
        init_dynamic_array(&result->text, 1);
        init_dynamic_array(&result->tokens, sizeof(Terminal_Token));
        if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&result->text, (u32)text.size()), text.data(), text.size());
        for (auto [offset, length] : runs) {
            Terminal_Token* t = (Terminal_Token*)dynamic_array_add_fast(&result->tokens);
            *t = Terminal_Token{};
            t->offset = offset;
            t->length = length;
            bool line_break = length == 0 || text[offset] == '\n' || text[offset] == '\r';
            t->kind = line_break ? TERMINAL_TOKEN_NEW_LINE : TERMINAL_TOKEN_TEXT;
        }
        terminal.selected_result = result;
    }
    ~Test_Terminal() {
        dynamic_array_free(&result->text);
        dynamic_array_free(&result->tokens);
    }
};

// A block outside any terminal, for the tokeniser.
struct Test_Block {
    Terminal_Result block;
    Test_Block();
    ~Test_Block();
    void feed(const std::string& bytes);  // appends and tokenises, as one read does
};

// Tokens as text: T"red" fg=0.5,0,0 bg=0,0,0 d=0 for a run, N2 for a line break of length 2.
std::string describe_tokens(Terminal_Result* block);
std::string describe_colour(Rgba c);

std::string block_text(Terminal_Result* block);

// Waits until the block's worker let go of it. False when it still holds it after a minute.
b8 wait_for_worker(Terminal_Result* block);

Terminal* make_test_terminal(const std::string& directory);

b8 run_arguments(Terminal* terminal, const std::vector<std::string>& arguments, const std::string& command_line = "");

// The stand-in notifier's records: one argument vector per notification, oldest first.
std::vector<std::vector<std::string>> recorded_notifications();

// A terminal tab's parts: the terminal, its one-line input and its title buffer.
struct Test_Tab {
    Terminal* terminal;
    Editor_File* input;
    u8 title_buffer[64];
    String title = {title_buffer, 0};

    explicit Test_Tab(const std::string& directory);
    ~Test_Tab();  // waits for every worker, then releases the terminal
    void type(const std::string& line);
    void run(const std::string& line);  // types the line and confirms it
    std::string title_text() { return std::string((char*)title.data, title.count); }
};

inline std::string text_of(Editor_File* f) { return std::string((char*)f->text.data, f->text.count); }
