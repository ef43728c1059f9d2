// What the routine tests share: calling a routine by its id with a parameter block, blocks
// built from the routines' own records, and the checks every row makes of the file it ran on.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "tests/editor/editor_test_helpers.h"
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
#include "runtime/routines_clipboard.h"
#include "runtime/routines_queries.h"
#include "runtime/routines_settings.h"
#include "runtime/routines_tabs.h"
#include "shell/shell.h"

// Every call goes through the dispatcher, as compiled code makes it.
inline void call_routine_by_id(u32 id, u8* block) { handle_foreign_call(block, id); }

// A parameter block: the octets of one of the routines' records, with room behind them so
// that a routine writing past its record shows as a changed octet, not as a crash.
#define TEST_BLOCK_SIZE 512
#define TEST_BLOCK_FILL 0xA5

struct Test_Block {
    alignas(16) u8 bytes[TEST_BLOCK_SIZE];
    u32 size;  // the record's
};

template <typename T>
Test_Block block_from(const T& record) {
    static_assert(sizeof(T) <= TEST_BLOCK_SIZE);
    Test_Block b;
    memset(b.bytes, TEST_BLOCK_FILL, sizeof(b.bytes));
    memcpy(b.bytes, &record, sizeof(record));
    b.size = sizeof(T);
    return b;
}

inline Test_Block empty_block() {
    Test_Block b;
    memset(b.bytes, TEST_BLOCK_FILL, sizeof(b.bytes));
    b.size = 0;
    return b;
}

template <typename T>
T read_at(const Test_Block& b, size_t offset) {
    T v;
    memcpy(&v, b.bytes + offset, sizeof(v));
    return v;
}

inline std::string string_at(const Test_Block& b, size_t offset) {
    String s = read_at<String>(b, offset);
    return s.count > 0 && s.data ? std::string((char*)s.data, (size_t)s.count) : std::string();
}

// Nothing written behind the record.
inline void expect_block_tail_untouched(const Test_Block& b) {
    for (u32 i = b.size; i < TEST_BLOCK_SIZE; i++) {
        if (b.bytes[i] != TEST_BLOCK_FILL) {
            ADD_FAILURE() << "octet " << i << " behind the block was written";
            return;
        }
    }
}

// The file the routines act on: current_file, or the file #syntax colours.
inline void make_routine_file(Editor_File* file, bool as_layer_file) {
    current_file = as_layer_file ? nullptr : file;
    custom_layer_execution_file = as_layer_file ? file : nullptr;
}

inline void forget_routine_file() {
    current_file = nullptr;
    custom_layer_execution_file = nullptr;
}

inline u32 undo_record_count(Editor_File* file) { return file->undo_records.count; }

// The record at its defaults, its arrays given back first.
inline void reset_custom_layer() {
    clear_tokenisation_hints();
    dynamic_array_free(&editor_settings.tokenisation_hints);
    dynamic_array_free(&editor_settings.skipped_names);
    dynamic_array_free(&editor_settings.blacklisted_extensions);
    dynamic_array_free(&editor_settings.blacklisted_paths);
    init_custom_layer();
}

inline void set_tab_text(const std::string& text) {
    global_tab_character.count = 0;
    memcpy(dynamic_array_add_fast_multiple(&global_tab_character, (u32)text.size()), text.data(), text.size());
}

struct Routines_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_custom_layer();
        install_shell_actions();
        init_tabs();
        init_editor_commands();
    }
};
