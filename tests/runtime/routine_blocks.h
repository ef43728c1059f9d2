// What the routine tests share: calling a routine by its id with a parameter block, blocks
// built from the routines' own records, and the checks every row makes of the file it ran on.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "tests/editor/editor_test_helpers.h"
#include "runtime/routines_clipboard.h"
#include "runtime/routines_queries.h"
#include "runtime/routines_settings.h"
#include "runtime/routines_tab_events.h"
#include "shell/shell.h"

// Routine ids, as compiled code passes them.
enum Test_Routine_Id : u32 {
    ID_DELETE_LINE = 28,
    ID_COPY_LINE = 27,
    ID_COPY_SELECTION_TO_CLIPBOARD = 33,
    ID_CUT_SELECTION_TO_CLIPBOARD = 34,
    ID_PASTE_FROM_CLIPBOARD = 35,
    ID_UNDO = 36,
    ID_GET_TEXT_AT = 43,
    ID_SET_SETTINGS = 45,
    ID_GET_CURRENT_DIRECTORY_PATH = 46,
    ID_GET_FILE_EXTENSION = 47,
    ID_GET_EVENTS = 48,
    ID_GET_CONTEXT = 49,
    ID_GET_FONT_SIZE = 50,
    ID_SET_FONT_SIZE = 51,
    ID_GET_CURRENT_TAB_TYPE = 52,
    ID_GET_LINE_START = 53,
    ID_GET_LINE_END = 54,
    ID_SET_CURRENT_TAB = 55,
    ID_GET_CURRENT_TAB_INDEX = 56,
    ID_GET_NUM_TABS = 57,
    ID_GET_SYNTAX_HIGHLIGHTING_INFO = 58,
    ID_GET_NEXT_TOKEN = 59,
    ID_GET_PREVIOUS_TOKEN = 60,
    ID_SET_TEXT_COLOUR = 61,
    ID_GET_TOKEN_AT_OFFSET = 67,
    ID_GET_CODEPOINT_AT_OFFSET = 68,
    ID_GET_TAB_TEXT = 69,
    ID_GET_SINGLE_LINE_COMMENT = 70,
    ID_SWITCH_TABS = 85,
    ID_CLOSE_CURRENT_TAB = 86,
    ID_CENTRE_CURSOR_VERTICALLY = 91,
    ID_TOGGLE_FOCUS_MODE = 93,
    ID_TOGGLE_LINE_NUMBERS = 94,
};

inline void call_routine_by_id(u32 id, u8* block) {
    switch (id) {
        case ID_COPY_LINE: foreign_copy_line(block); break;
        case ID_DELETE_LINE: foreign_delete_line(block); break;
        case ID_COPY_SELECTION_TO_CLIPBOARD: foreign_copy_selection_to_clipboard(block); break;
        case ID_CUT_SELECTION_TO_CLIPBOARD: foreign_cut_selection_to_clipboard(block); break;
        case ID_PASTE_FROM_CLIPBOARD: foreign_paste_from_clipboard(block); break;
        case ID_UNDO: foreign_undo(block); break;
        case ID_GET_TEXT_AT: foreign_get_text_at(block); break;
        case ID_SET_SETTINGS: foreign_set_settings(block); break;
        case ID_GET_CURRENT_DIRECTORY_PATH: foreign_get_current_directory_path(block); break;
        case ID_GET_FILE_EXTENSION: foreign_get_file_extension(block); break;
        case ID_GET_EVENTS: foreign_get_events(block); break;
        case ID_GET_CONTEXT: foreign_get_context(block); break;
        case ID_GET_FONT_SIZE: foreign_get_font_size(block); break;
        case ID_SET_FONT_SIZE: foreign_set_font_size(block); break;
        case ID_GET_CURRENT_TAB_TYPE: foreign_get_current_tab_type(block); break;
        case ID_GET_LINE_START: foreign_get_line_start(block); break;
        case ID_GET_LINE_END: foreign_get_line_end(block); break;
        case ID_SET_CURRENT_TAB: foreign_set_current_tab(block); break;
        case ID_GET_CURRENT_TAB_INDEX: foreign_get_current_tab_index(block); break;
        case ID_GET_NUM_TABS: foreign_get_num_tabs(block); break;
        case ID_GET_SYNTAX_HIGHLIGHTING_INFO: foreign_get_syntax_highlighting_info(block); break;
        case ID_GET_NEXT_TOKEN: foreign_get_next_token(block); break;
        case ID_GET_PREVIOUS_TOKEN: foreign_get_previous_token(block); break;
        case ID_SET_TEXT_COLOUR: foreign_set_text_colour(block); break;
        case ID_GET_TOKEN_AT_OFFSET: foreign_get_token_at_offset(block); break;
        case ID_GET_CODEPOINT_AT_OFFSET: foreign_get_codepoint_at_offset(block); break;
        case ID_GET_TAB_TEXT: foreign_get_tab_text(block); break;
        case ID_GET_SINGLE_LINE_COMMENT: foreign_get_single_line_comment_from_tokenisation_hints(block); break;
        case ID_SWITCH_TABS: foreign_switch_tabs(block); break;
        case ID_CLOSE_CURRENT_TAB: foreign_close_current_tab(block); break;
        case ID_CENTRE_CURSOR_VERTICALLY: foreign_centre_cursor_vertically(block); break;
        case ID_TOGGLE_FOCUS_MODE: foreign_toggle_focus_mode(block); break;
        case ID_TOGGLE_LINE_NUMBERS: foreign_toggle_line_numbers(block); break;
        default: ADD_FAILURE() << "no routine " << id;
    }
}

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
    dynamic_array_free(&custom_layer.tokenisation_hints);
    dynamic_array_free(&custom_layer.skipped_names);
    dynamic_array_free(&custom_layer.blacklisted_extensions);
    dynamic_array_free(&custom_layer.blacklisted_paths);
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
        init_tabs();
        init_editor_commands();
    }
};
