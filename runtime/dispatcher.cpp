// The dispatcher: every foreign call of compiled code enters here with its parameter block
// and routine id. One bounds test on the whole id, then one indexed jump.
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
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
