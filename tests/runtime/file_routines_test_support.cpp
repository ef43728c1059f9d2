// The routine tests' fixture and the checks of one table row.
#include "file_routines_test_support.h"

#include "editor/editor.h"
#include "shell/tabs.h"

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

void run_routine_case(const Routine_Case& c) {
    SCOPED_TRACE(c.name);
    Test_File file(c.before);
    atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_CURSOR_MOVED));
    atomic_or_u16(&file->flags, c.given_flags);
    file->visible_lines = c.visible_lines;
    current_file = file;
    std::string before_text = file_text(file);
    s64 cursor_before = file->cursor;

    Test_Block block = c.block;
    call_routine_by_id(c.id, block.bytes);

    EXPECT_EQ(state_of(file), c.after);
    EXPECT_EQ(atomic_load_u16(&file->flags) & ROW_FLAGS, c.flags);
    EXPECT_EQ(undo_record_count(file), c.undo_records);
    Test_Block expected = c.block;
    if (c.has_result) memcpy(expected.bytes, c.result.bytes, c.result.size);
    EXPECT_EQ(memcmp(block.bytes, expected.bytes, sizeof(block.bytes)), 0) << "the block came back otherwise";
    if (file->cursor != cursor_before && file_text(file) == before_text) {
        EXPECT_EQ(file->previous_cursor, cursor_before);
    }
    // Selection bounds point at the cursor and anchor, the lower first.
    EXPECT_LE(*file->selection_start, *file->selection_end);
    EXPECT_TRUE(file->selection_start == &file->cursor || file->selection_start == &file->selection_anchor);

    while (undo_record_count(file)) {
        u32 records = undo_record_count(file);
        call_routine_by_id(ROUTINE_UNDO, nullptr);
        ASSERT_LT(undo_record_count(file), records);
    }
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
        Test_Block block = c.block;
        call_routine_by_id(c.id, block.bytes);
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
