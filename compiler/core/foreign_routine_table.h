// The foreign routine table: the names and ids of the routines compiled layer code may call
// on the editor. The compiler binds an #import to a row by the hash of its name and the
// generated code calls the runtime's dispatcher with the row's id; the dispatcher and the
// routines themselves live in the runtime.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

//~ The table (foreign_routine_table.cpp)

#define FOREIGN_ROUTINE_COUNT 96

// Every routine: constant, id, name; in the table's storage order, which is the order the
// compiler searches it.
#define FOREIGN_ROUTINE_LIST(X)                                                          \
    X(GO_LEFT, 1, "go_left")                                                             \
    X(GO_RIGHT, 2, "go_right")                                                           \
    X(GO_UP, 3, "go_up")                                                                 \
    X(GO_DOWN, 4, "go_down")                                                             \
    X(PAGE_UP, 5, "page_up")                                                             \
    X(PAGE_DOWN, 6, "page_down")                                                         \
    X(GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN, 7, "go_to_previous_non_whitespace_token")     \
    X(GO_TO_NEXT_NON_WHITESPACE_TOKEN, 8, "go_to_next_non_whitespace_token")             \
    X(GO_TO_LINE_START, 11, "go_to_line_start")                                          \
    X(GO_TO_LINE_END, 12, "go_to_line_end")                                              \
    X(GO_TO_LINE_PADDING_END, 13, "go_to_line_padding_end")                              \
    X(GO_TO_FILE_START, 9, "go_to_file_start")                                           \
    X(GO_TO_FILE_END, 10, "go_to_file_end")                                              \
    X(SKIP_TEXT, 14, "skip_text")                                                        \
    X(DUPLICATE_LINE, 15, "duplicate_line")                                              \
    X(INSERT_TEXT, 16, "insert_text")                                                    \
    X(INSERT_TEXT_AT, 17, "insert_text_at")                                              \
    X(INSERT_CHARACTER, 18, "insert_character")                                          \
    X(INSERT_NEW_LINE, 19, "insert_new_line")                                            \
    X(DELETE_AT, 20, "delete_at")                                                        \
    X(DELETE_CHARACTER_BEFORE_CURSOR, 21, "delete_character_before_cursor")              \
    X(DELETE_CHARACTER_AT_CURSOR, 22, "delete_character_at_cursor")                      \
    X(DELETE_TOKEN, 23, "delete_token")                                                  \
    X(DELETE_TOKEN_TEXT_UP_TO_CURSOR, 24, "delete_token_text_up_to_cursor")              \
    X(DELETE_REMAINING_TEXT_ON_TOKEN, 25, "delete_remaining_text_on_token")              \
    X(DELETE_LINE, 28, "delete_line")                                                    \
    X(DELETE_SELECTION, 29, "delete_selection")                                          \
    X(SWAP_LINES, 26, "swap_lines")                                                      \
    X(COPY_LINE, 27, "copy_line")                                                        \
    X(COPY_SELECTION_TO_CLIPBOARD, 33, "copy_selection_to_clipboard")                    \
    X(CUT_SELECTION_TO_CLIPBOARD, 34, "cut_selection_to_clipboard")                      \
    X(PAD_SELECTION, 30, "pad_selection")                                                \
    X(ALIGN_SELECTION_ON_TOKEN_AT_CURSOR, 31, "align_selection_on_token_at_cursor")      \
    X(CHANGE_SELECTION_CASE, 32, "change_selection_case")                                \
    X(PASTE_FROM_CLIPBOARD, 35, "paste_from_clipboard")                                  \
    X(UNDO, 36, "undo")                                                                  \
    X(GO_TO_PREVIOUS_CURSOR_POSITION, 37, "go_to_previous_cursor_position")              \
    X(START_SELECTION, 38, "start_selection")                                            \
    X(STOP_SELECTION, 39, "stop_selection")                                              \
    X(TOGGLE_SELECTION, 40, "toggle_selection")                                          \
    X(CHECK_IF_SELECTION_IS_ACTIVE, 41, "check_if_selection_is_active")                  \
    X(DO_NOT_SET_SELECTION_ANCHOR_ON_CLICK, 42, "do_not_set_selection_anchor_on_click")  \
    X(GO_TO_PARENT_DIRECTORY, 71, "go_to_parent_directory")                              \
    X(GO_TO_NEXT_PROMPT, 74, "go_to_next_prompt")                                        \
    X(GO_TO_PREVIOUS_ITEM, 72, "go_to_previous_item")                                    \
    X(GO_TO_NEXT_ITEM, 73, "go_to_next_item")                                            \
    X(SELECT_ITEM_FROM_LISTER, 75, "select_item_from_lister")                            \
    X(CLOSE_LISTER, 76, "close_lister")                                                  \
    X(MAKE_A_NEW_FILE, 78, "make_a_new_file")                                            \
    X(MAKE_A_NEW_TERMINAL, 79, "make_a_new_terminal")                                    \
    X(RUN_TERMINAL_COMMAND, 80, "run_terminal_command")                                  \
    X(KILL_CURRENT_TERMINAL_PROCESS, 81, "kill_current_terminal_process")                \
    X(ASK_TO_DELETE_ITEMS, 82, "ask_to_delete_items")                                    \
    X(ASK_TO_OPEN_FILE, 83, "ask_to_open_file")                                          \
    X(ASK_TO_SAVE_FILE, 84, "ask_to_save_file")                                          \
    X(OPEN_DIRECTORY_IN_EXPLORER, 77, "open_directory_in_explorer")                      \
    X(SEARCH_FILE, 87, "search_file")                                                    \
    X(SEARCH_MULTIPLE_FILES, 88, "search_multiple_files")                                \
    X(REPLACE_IN_FILE, 89, "replace_in_file")                                            \
    X(GOTO_LINE, 90, "goto_line")                                                        \
    X(SWITCH_TABS, 85, "switch_tabs")                                                    \
    X(CLOSE_CURRENT_TAB, 86, "close_current_tab")                                        \
    X(TOGGLE_FOCUS_MODE, 93, "toggle_focus_mode")                                        \
    X(TOGGLE_LINE_NUMBERS, 94, "toggle_line_numbers")                                    \
    X(CENTRE_CURSOR_VERTICALLY, 91, "centre_cursor_vertically")                          \
    X(CONFIRM_PROMPT, 92, "confirm_prompt")                                              \
    X(EXIT_PROGRAM, 44, "exit_program")                                                  \
    X(SET_SETTINGS, 45, "set_settings")                                                  \
    X(GET_CONTEXT, 49, "get_context")                                                    \
    X(GET_FONT_SIZE, 50, "get_font_size")                                                \
    X(SET_FONT_SIZE, 51, "set_font_size")                                                \
    X(GET_CURRENT_TAB_TYPE, 52, "get_current_tab_type")                                  \
    X(GET_CURRENT_DIRECTORY_PATH, 46, "get_current_directory_path")                      \
    X(GET_FILE_EXTENSION, 47, "get_file_extension")                                      \
    X(GET_TEXT_AT, 43, "get_text_at")                                                    \
    X(GET_SYNTAX_HIGHLIGHTING_INFO, 58, "get_syntax_highlighting_info")                  \
    X(GET_NEXT_TOKEN, 59, "get_next_token")                                              \
    X(GET_PREVIOUS_TOKEN, 60, "get_previous_token")                                      \
    X(SET_TEXT_COLOUR, 61, "set_text_colour")                                            \
    X(GET_EVENTS, 48, "get_events")                                                      \
    X(GET_LINE_START, 53, "get_line_start")                                              \
    X(GET_LINE_END, 54, "get_line_end")                                                  \
    X(SET_CURRENT_TAB, 55, "set_current_tab")                                            \
    X(GET_CURRENT_TAB_INDEX, 56, "get_current_tab_index")                                \
    X(GET_NUM_TABS, 57, "get_num_tabs")                                                  \
    X(SET_CURSOR_OFFSET, 62, "set_cursor_offset")                                        \
    X(SET_SELECTION_ANCHOR_OFFSET, 63, "set_selection_anchor_offset")                    \
    X(GET_CURSOR_OFFSET, 64, "get_cursor_offset")                                        \
    X(GET_SELECTION_START_OFFSET, 65, "get_selection_start_offset")                      \
    X(GET_SELECTION_END_OFFSET, 66, "get_selection_end_offset")                          \
    X(GET_CODEPOINT_AT_OFFSET, 68, "get_codepoint_at_offset")                            \
    X(GET_TOKEN_AT_OFFSET, 67, "get_token_at_offset")                                    \
    X(GET_TAB_TEXT, 69, "get_tab_text")                                                  \
    X(GET_SINGLE_LINE_COMMENT_FROM_TOKENISATION_HINTS, 70, "get_single_line_comment_from_tokenisation_hints") \
    X(LOG, 95, "log")                                                                    \
    X(INT_TO_STRING, 96, "int_to_string")

enum Foreign_Routine_Id : u16 {
#define X(constant, id, name) ROUTINE_##constant = id,
    FOREIGN_ROUTINE_LIST(X)
#undef X
};

struct Foreign_Routine {
    String name;
    u64 hash;  // low 64 bits of MeowHash of the name; 0 until setup_foreign_routines_table
    u16 id;    // 1 to FOREIGN_ROUTINE_COUNT
    u8 zero[6];
};
static_assert(sizeof(Foreign_Routine) == 32);

extern Foreign_Routine foreign_routines[FOREIGN_ROUTINE_COUNT];  // in storage order

void setup_foreign_routines_table();
// Fills every row's hash. Once at start-up, before the first compile.
