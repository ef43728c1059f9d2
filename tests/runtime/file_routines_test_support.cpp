// The routine tests' fixture and the checks of one table row.
#include "file_routines_test_support.h"

#include "editor/editor.h"
#include "shell/tabs.h"

void call_routine_by_id(u16 id, u8* block) {
    switch (id) {
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
        case ROUTINE_SWAP_LINES: foreign_swap_lines(block); break;
        case ROUTINE_DELETE_SELECTION: foreign_delete_selection(block); break;
        case ROUTINE_PAD_SELECTION: foreign_pad_selection(block); break;
        case ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR: foreign_align_selection_on_token_at_cursor(block); break;
        case ROUTINE_CHANGE_SELECTION_CASE: foreign_change_selection_case(block); break;
        case ROUTINE_UNDO: editor_undo(current_file); break;
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
        default: ADD_FAILURE() << "no routine " << id; break;
    }
}

std::string state_of(Editor_File* file) {
    std::string text = file_text(file);
    std::string out;
    b8 selecting = atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE;
    for (s64 i = 0; i <= (s64)text.size(); i++) {
        if (selecting && file->selection_anchor == i) out += '#';
        if (file->cursor == i) out += '@';
        if (i < (s64)text.size()) out += text[i];
    }
    return out;
}

u32 undo_record_count(Editor_File* file) { return file->undo_records.count; }

void run_routine_case(const Routine_Case& c) {
    SCOPED_TRACE(c.name);
    Test_File file(c.before);
    atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CURSOR_MOVED));
    atomic_or_u16(&file->flags, c.given_flags);
    file->visible_lines = c.visible_lines;
    current_file = file;
    std::string before_text = file_text(file);
    s64 cursor_before = file->cursor;

    Block block = c.block;
    call_routine_by_id(c.id, block.raw);

    EXPECT_EQ(state_of(file), c.after);
    EXPECT_EQ(atomic_load_u16(&file->flags) & ROW_FLAGS, c.flags);
    EXPECT_EQ(undo_record_count(file), c.undo_records);
    const Block& expected = c.has_result ? c.result : c.block;
    EXPECT_EQ(memcmp(block.raw, expected.raw, sizeof(block.raw)), 0) << "the block came back otherwise";
    if (file->cursor != cursor_before && file_text(file) == before_text) {
        EXPECT_EQ(file->previous_cursor, cursor_before);
    }
    // Selection bounds point at the cursor and anchor, the lower first.
    EXPECT_LE(*file->selection_start, *file->selection_end);
    EXPECT_TRUE(file->selection_start == &file->cursor || file->selection_start == &file->selection_anchor);

    while (undo_record_count(file)) editor_undo(file);
    EXPECT_EQ(file_text(file), before_text) << "undo did not restore the text";
    current_file = nullptr;
}

void check_file_rule(const File_Rule_Case& c, const std::string& marked) {
    SCOPED_TRACE(c.id);
    for (b8 colouring : {false, true}) {
        Test_File current(marked);
        Test_File coloured(marked);
        std::string before = state_of(current);
        current_file = current;
        custom_layer_execution_file = colouring ? coloured.file : nullptr;
        Block block = c.block;
        call_routine_by_id(c.id, block.raw);
        b8 on_coloured = colouring && c.layer;
        EXPECT_EQ(state_of(coloured) != before, on_coloured);
        EXPECT_EQ(state_of(current) != before, !on_coloured);
        custom_layer_execution_file = nullptr;
        current_file = nullptr;
    }
}

void Routines_Test::SetUp() {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    init_tabs();
    current_file = nullptr;
    custom_layer_execution_file = nullptr;
    editor_clock_override = 1000000000;
}

void Routines_Test::TearDown() {
    current_file = nullptr;
    custom_layer_execution_file = nullptr;
    editor_clock_override = 0;
    dynamic_array_free(&tabs);
    init_tabs();
}
