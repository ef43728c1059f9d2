// The dispatcher: every foreign call of compiled code enters here with its parameter block
// and routine id. One bounds test on the whole id, then one indexed jump.
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
#include "runtime/routines_clipboard.h"
#include "runtime/routines_queries.h"
#include "runtime/routines_terminal.h"
#include "runtime/routines_settings.h"
#include "runtime/routines_tabs.h"
#include "runtime/routines_listers.h"
#include "runtime/routines_cursor.h"
#include "runtime/routines_editing.h"
#include "runtime/routines_transforms.h"

// Compiled code keeps the stack aligned only as far as its frame sizes do: the routines get
// an aligned stack whatever they are entered with.
__attribute__((force_align_arg_pointer)) void handle_foreign_call(u8* block, u64 id) {
    if (id - 1 >= FOREIGN_ROUTINE_COUNT) return;
    enter_layer_routine(id);
    switch (id) {
        case ROUTINE_EXIT_PROGRAM: routine_exit_program(); break;
        case ROUTINE_COPY_LINE: foreign_copy_line(block); break;
        case ROUTINE_DELETE_LINE: foreign_delete_line(block); break;
        case ROUTINE_COPY_SELECTION_TO_CLIPBOARD: foreign_copy_selection_to_clipboard(block); break;
        case ROUTINE_CUT_SELECTION_TO_CLIPBOARD: foreign_cut_selection_to_clipboard(block); break;
        case ROUTINE_PASTE_FROM_CLIPBOARD: foreign_paste_from_clipboard(block); break;
        case ROUTINE_UNDO: foreign_undo(block); break;
        case ROUTINE_GET_TEXT_AT: foreign_get_text_at(block); break;
        case ROUTINE_SET_SETTINGS: foreign_set_settings(block); break;
        case ROUTINE_GET_CURRENT_DIRECTORY_PATH: foreign_get_current_directory_path(block); break;
        case ROUTINE_GET_FILE_EXTENSION: foreign_get_file_extension(block); break;
        case ROUTINE_GET_EVENTS: foreign_get_events(block); break;
        case ROUTINE_GET_CONTEXT: foreign_get_context(block); break;
        case ROUTINE_GET_FONT_SIZE: foreign_get_font_size(block); break;
        case ROUTINE_SET_FONT_SIZE: foreign_set_font_size(block); break;
        case ROUTINE_GET_CURRENT_TAB_TYPE: foreign_get_current_tab_type(block); break;
        case ROUTINE_GET_LINE_START: foreign_get_line_start(block); break;
        case ROUTINE_GET_LINE_END: foreign_get_line_end(block); break;
        case ROUTINE_SET_CURRENT_TAB: foreign_set_current_tab(block); break;
        case ROUTINE_GET_CURRENT_TAB_INDEX: foreign_get_current_tab_index(block); break;
        case ROUTINE_GET_NUM_TABS: foreign_get_num_tabs(block); break;
        case ROUTINE_GET_SYNTAX_HIGHLIGHTING_INFO: foreign_get_syntax_highlighting_info(block); break;
        case ROUTINE_GET_NEXT_TOKEN: foreign_get_next_token(block); break;
        case ROUTINE_GET_PREVIOUS_TOKEN: foreign_get_previous_token(block); break;
        case ROUTINE_SET_TEXT_COLOUR: foreign_set_text_colour(block); break;
        case ROUTINE_GET_TOKEN_AT_OFFSET: foreign_get_token_at_offset(block); break;
        case ROUTINE_GET_CODEPOINT_AT_OFFSET: foreign_get_codepoint_at_offset(block); break;
        case ROUTINE_GET_TAB_TEXT: foreign_get_tab_text(block); break;
        case ROUTINE_GET_SINGLE_LINE_COMMENT_FROM_TOKENISATION_HINTS:
            foreign_get_single_line_comment_from_tokenisation_hints(block);
            break;
        case ROUTINE_SWITCH_TABS: foreign_switch_tabs(block); break;
        case ROUTINE_CLOSE_CURRENT_TAB: foreign_close_current_tab(block); break;
        case ROUTINE_CENTRE_CURSOR_VERTICALLY: foreign_centre_cursor_vertically(block); break;
        case ROUTINE_TOGGLE_FOCUS_MODE: foreign_toggle_focus_mode(block); break;
        case ROUTINE_TOGGLE_LINE_NUMBERS: foreign_toggle_line_numbers(block); break;
        case ROUTINE_LOG: routine_log(block); break;
        case ROUTINE_INT_TO_STRING: routine_int_to_string(block); break;
        case ROUTINE_GO_TO_PARENT_DIRECTORY: foreign_go_to_parent_directory(block); break;
        case ROUTINE_GO_TO_PREVIOUS_ITEM: foreign_go_to_previous_item(block); break;
        case ROUTINE_GO_TO_NEXT_ITEM: foreign_go_to_next_item(block); break;
        case ROUTINE_GO_TO_NEXT_PROMPT: foreign_go_to_next_prompt(block); break;
        case ROUTINE_SELECT_ITEM_FROM_LISTER: foreign_select_item_from_lister(block); break;
        case ROUTINE_CLOSE_LISTER: foreign_close_lister(block); break;
        case ROUTINE_OPEN_DIRECTORY_IN_EXPLORER: foreign_open_directory_in_explorer(block); break;
        case ROUTINE_MAKE_A_NEW_FILE: foreign_make_a_new_file(block); break;
        case ROUTINE_MAKE_A_NEW_TERMINAL: foreign_make_a_new_terminal(block); break;
        case ROUTINE_RUN_TERMINAL_COMMAND: foreign_run_terminal_command(block); break;
        case ROUTINE_KILL_CURRENT_TERMINAL_PROCESS: foreign_kill_current_terminal_process(block); break;
        case ROUTINE_CONFIRM_PROMPT: foreign_confirm_prompt(block); break;
        case ROUTINE_ASK_TO_DELETE_ITEMS: foreign_ask_to_delete_items(block); break;
        case ROUTINE_ASK_TO_OPEN_FILE: foreign_ask_to_open_file(block); break;
        case ROUTINE_ASK_TO_SAVE_FILE: foreign_ask_to_save_file(block); break;
        case ROUTINE_SEARCH_FILE: foreign_search_file(block); break;
        case ROUTINE_SEARCH_MULTIPLE_FILES: foreign_search_multiple_files(block); break;
        case ROUTINE_REPLACE_IN_FILE: foreign_replace_in_file(block); break;
        case ROUTINE_GOTO_LINE: foreign_goto_line(block); break;

        case ROUTINE_GO_LEFT: foreign_go_left(block); break;
        case ROUTINE_GO_RIGHT: foreign_go_right(block); break;
        case ROUTINE_GO_UP: foreign_go_up(block); break;
        case ROUTINE_GO_DOWN: foreign_go_down(block); break;
        case ROUTINE_PAGE_UP: foreign_page_up(block); break;
        case ROUTINE_PAGE_DOWN: foreign_page_down(block); break;
        case ROUTINE_GO_TO_PREVIOUS_NON_WHITESPACE_TOKEN: foreign_go_to_previous_non_whitespace_token(block); break;
        case ROUTINE_GO_TO_NEXT_NON_WHITESPACE_TOKEN: foreign_go_to_next_non_whitespace_token(block); break;
        case ROUTINE_GO_TO_FILE_START: foreign_go_to_file_start(block); break;
        case ROUTINE_GO_TO_FILE_END: foreign_go_to_file_end(block); break;
        case ROUTINE_GO_TO_LINE_START: foreign_go_to_line_start(block); break;
        case ROUTINE_GO_TO_LINE_END: foreign_go_to_line_end(block); break;
        case ROUTINE_GO_TO_LINE_PADDING_END: foreign_go_to_line_padding_end(block); break;
        case ROUTINE_SKIP_TEXT: foreign_skip_text(block); break;
        case ROUTINE_GO_TO_PREVIOUS_CURSOR_POSITION: foreign_go_to_previous_cursor_position(block); break;
        case ROUTINE_START_SELECTION: foreign_start_selection(block); break;
        case ROUTINE_STOP_SELECTION: foreign_stop_selection(block); break;
        case ROUTINE_TOGGLE_SELECTION: foreign_toggle_selection(block); break;
        case ROUTINE_CHECK_IF_SELECTION_IS_ACTIVE: foreign_check_if_selection_is_active(block); break;
        case ROUTINE_DO_NOT_SET_SELECTION_ANCHOR_ON_CLICK: foreign_do_not_set_selection_anchor_on_click(block); break;
        case ROUTINE_SET_CURSOR_OFFSET: foreign_set_cursor_offset(block); break;
        case ROUTINE_SET_SELECTION_ANCHOR_OFFSET: foreign_set_selection_anchor_offset(block); break;
        case ROUTINE_GET_CURSOR_OFFSET: foreign_get_cursor_offset(block); break;
        case ROUTINE_GET_SELECTION_START_OFFSET: foreign_get_selection_start_offset(block); break;
        case ROUTINE_GET_SELECTION_END_OFFSET: foreign_get_selection_end_offset(block); break;

        case ROUTINE_DUPLICATE_LINE: foreign_duplicate_line(block); break;
        case ROUTINE_INSERT_TEXT: foreign_insert_text(block); break;
        case ROUTINE_INSERT_TEXT_AT: foreign_insert_text_at(block); break;
        case ROUTINE_INSERT_CHARACTER: foreign_insert_character(block); break;
        case ROUTINE_INSERT_NEW_LINE: foreign_insert_new_line(block); break;
        case ROUTINE_DELETE_AT: foreign_delete_at(block); break;
        case ROUTINE_DELETE_CHARACTER_BEFORE_CURSOR: foreign_delete_character_before_cursor(block); break;
        case ROUTINE_DELETE_CHARACTER_AT_CURSOR: foreign_delete_character_at_cursor(block); break;
        case ROUTINE_DELETE_TOKEN: foreign_delete_token(block); break;
        case ROUTINE_DELETE_TOKEN_TEXT_UP_TO_CURSOR: foreign_delete_token_text_up_to_cursor(block); break;
        case ROUTINE_DELETE_REMAINING_TEXT_ON_TOKEN: foreign_delete_remaining_text_on_token(block); break;
        case ROUTINE_DELETE_SELECTION: foreign_delete_selection(block); break;

        case ROUTINE_SWAP_LINES: foreign_swap_lines(block); break;
        case ROUTINE_PAD_SELECTION: foreign_pad_selection(block); break;
        case ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR: foreign_align_selection_on_token_at_cursor(block); break;
        case ROUTINE_CHANGE_SELECTION_CASE: foreign_change_selection_case(block); break;
    }
    leave_layer_routine();
}
