// The dispatcher: every foreign call of compiled code enters here with its parameter block
// and routine id. One bounds test on the whole id, then one indexed jump.
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
#include "runtime/routines_cursor.h"
#include "runtime/routines_editing.h"
#include "runtime/routines_transforms.h"
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
        case ROUTINE_LOG: routine_log(block); break;
        case ROUTINE_INT_TO_STRING: routine_int_to_string(block); break;

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
        default: routine_not_built(id); break;
    }
    stop_layer_if_overdue();
}
