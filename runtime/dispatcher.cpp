// The dispatcher: every foreign call of compiled code enters here with its parameter block
// and routine id. One bounds test on the whole id, then one indexed jump.
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
#include "runtime/routines_clipboard.h"
#include "runtime/routines_queries.h"
#include "runtime/routines_settings.h"
#include "runtime/routines_tabs.h"
#include "runtime/routines_listers.h"
#include "foundation/log.h"

// Bit id - 1: the routine's "not built" line is in the log already.
static u64 unbuilt_routines_logged[2];

static const char* routine_name(u64 id) {
    for (u32 i = 0; i < FOREIGN_ROUTINE_COUNT; i++) {
        if (foreign_routines[i].id == id) return (const char*)foreign_routines[i].name.data;
    }
    return "?";
}

// Routines whose group is not built yet do nothing; the log says so once per routine.
static void routine_not_built(u64 id) {
    u64* word = &unbuilt_routines_logged[(id - 1) / 64];
    u64 bit = 1ull << ((id - 1) % 64);
    if (*word & bit) return;
    *word |= bit;
    add_log(nullptr, LOG_INFO, "The foreign routine '%s' does nothing in this build.", routine_name(id));
}

// Compiled code keeps the stack aligned only as far as its frame sizes do: the routines get
// an aligned stack whatever they are entered with.
__attribute__((force_align_arg_pointer)) void handle_foreign_call(u8* block, u64 id) {
    if (id - 1 >= FOREIGN_ROUTINE_COUNT) return;
    stop_layer_if_overdue();
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
        case ROUTINE_ASK_TO_DELETE_ITEMS: foreign_ask_to_delete_items(block); break;
        case ROUTINE_ASK_TO_OPEN_FILE: foreign_ask_to_open_file(block); break;
        case ROUTINE_ASK_TO_SAVE_FILE: foreign_ask_to_save_file(block); break;
        case ROUTINE_SEARCH_FILE: foreign_search_file(block); break;
        case ROUTINE_SEARCH_MULTIPLE_FILES: foreign_search_multiple_files(block); break;
        case ROUTINE_REPLACE_IN_FILE: foreign_replace_in_file(block); break;
        case ROUTINE_GOTO_LINE: foreign_goto_line(block); break;
        default: routine_not_built(id); break;
    }
    stop_layer_if_overdue();
}
