// Shared by the editor tests: records filled with a given text and name, and a scratch
// directory that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "tests/scratch.h"
#include "tests/test_files.h"

// A record from the pool holding text, named name (which picks its tokenisation hint).
inline Editor_File* make_test_file(const std::string& text, const std::string& name = "test.txt") {
    Editor_File* file = add_a_file();
    EXPECT_NE(file, nullptr);
    if (!text.empty()) {
        u8* at = (u8*)dynamic_array_add_fast_multiple(&file->text, (u32)text.size());
        memcpy(at, text.data(), text.size());
    }
    memcpy(file->name_storage, name.data(), name.size());
    file->name = String{file->name_storage, (s64)name.size()};
    return file;
}

inline std::string file_text(Editor_File* file) {
    return std::string((char*)file->text.data, file->text.count);
}

inline String test_string(const std::string& s) { return String{(u8*)s.data(), (s64)s.size()}; }

// A record closed when the scope ends. Its text is given with '@' where the cursor stands
// (none: at 0), and '#' where the selection anchor stands, which also makes the selection
// active.
struct Test_File {
    Editor_File* file;
    explicit Test_File(const std::string& marked, const std::string& name = "test.txt") {
        std::string text;
        s64 cursor = 0, anchor = -1;
        for (char c : marked) {
            if (c == '@') cursor = (s64)text.size();
            else if (c == '#') anchor = (s64)text.size();
            else text += c;
        }
        file = make_test_file(text, name);
        if (anchor >= 0) {
            editor_set_cursor(file, anchor);
            atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
        }
        editor_set_cursor(file, cursor);
        file->previous_cursor = 0;
    }
    ~Test_File() { close_file(file); }
    Test_File(const Test_File&) = delete;
    Editor_File* operator->() const { return file; }
    operator Editor_File*() const { return file; }
};

// The text with '@' at the cursor, to compare against a marked text.
inline std::string marked_text(Editor_File* file) {
    std::string text = file_text(file);
    return text.substr(0, file->cursor) + "@" + text.substr(file->cursor);
}

struct Scratch_Directory {
    std::filesystem::path path;
    Scratch_Directory() {
        path = make_test_directory("editor");
    }
    ~Scratch_Directory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Hints for the lexer tests, added in this order; each test starts from none.
struct Test_Hint {
    std::vector<std::string> extensions;
    std::string line_comment, block_start, block_end;
    u16 string_delimiters;
};

inline void add_test_hint(const Test_Hint& h) {
    std::vector<String> extensions;
    for (const std::string& e : h.extensions) extensions.push_back(test_string(e));
    Layer_Tokenisation_Hint given = {};
    given.extensions = extensions.data();
    given.extension_count = (s64)extensions.size();
    given.line_comment = test_string(h.line_comment);
    given.block_start = test_string(h.block_start);
    given.block_end = test_string(h.block_end);
    given.string_delimiters = h.string_delimiters;
    ASSERT_NE(add_a_tokenisation_hint_from(&given), nullptr);
}

// Hints added for a scope; none are left after it.
struct Hint_Scope {
    Hint_Scope(std::initializer_list<Test_Hint> hints) {
        for (const Test_Hint& h : hints) add_test_hint(h);
    }
    ~Hint_Scope() { clear_tokenisation_hints(); }
};

// The tab list empty again; the records of the old one are forgotten, not closed.
inline void start_tabs_over() {
    dynamic_array_free(&tabs);
    init_tabs();
}

// A tab made by hand at the end of the list, showing target (an Editor_File for a file
// tab, a Terminal for a terminal tab, which gets input_line as well). The shell's
// add_a_tab would start a real terminal for a terminal tab.
inline Tab* add_test_tab(u8 kind, void* target, Editor_File* input_line = nullptr) {
    Tab* tab = (Tab*)dynamic_array_add_fast(&tabs);
    *tab = Tab{};
    tab->kind = kind;
    tab->id = next_tab_id++;
    tab->target = target;
    if (kind == TAB_TERMINAL) tab->input_line = input_line;
    renumber_tabs();
    return tab;
}
