// Shared by the terminal tests: blocks fed with text, tokens written out as readable text,
// commands run to their end, and the stand-in "notify-send" every test process finds first
// on its PATH.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/terminal.h"

inline String test_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

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

// Processes whose session is the given one and that still run.
std::vector<int> live_processes_of_session(int session);

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
