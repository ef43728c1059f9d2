#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"

static u32 count_blocks() {
    u32 blocks = 0;
    for (Editor_Files_Block* b = editor_files_memory; b; b = b->next) blocks++;
    return blocks;
}

static Editor_File* record_of(Editor_Files_Block* block, u32 index) { return (Editor_File*)(block + 1) + index; }

TEST(EditorFile, PoolGrowsByBlocksAndReusesClosedRecords) {
    std::vector<Editor_File*> taken;
    taken.push_back(add_a_file());  // makes sure the first block exists
    ASSERT_NE(taken[0], nullptr);
    u32 blocks = count_blocks();
    u32 free_records = 0;
    for (Editor_Files_Block* b = editor_files_memory; b; b = b->next) {
        for (u32 i = 0; i < EDITOR_FILES_PER_BLOCK; i++) {
            if (i >= b->count || !(record_of(b, i)->flags & FILE_IN_USE)) free_records++;
        }
    }
    for (u32 i = 0; i < free_records; i++) taken.push_back(add_a_file());
    EXPECT_EQ(count_blocks(), blocks);

    // Every record of the chain is in use now: the next request maps a block.
    Editor_File* next = add_a_file();
    taken.push_back(next);
    EXPECT_EQ(count_blocks(), blocks + 1);
    Editor_Files_Block* last = editor_files_memory;
    while (last->next) last = last->next;
    EXPECT_EQ(next, record_of(last, 0));
    EXPECT_EQ(last->count, 1);

    // Record 3 of the first block comes back first, set up afresh.
    Editor_File* third = record_of(editor_files_memory, 3);
    third->cursor = 42;
    *(u8*)dynamic_array_add_fast(&third->text) = 'x';
    close_file(third);
    EXPECT_EQ(third->flags, 0);
    Editor_File* again = add_a_file();
    EXPECT_EQ(again, third);
    EXPECT_EQ(again->cursor, 0);
    EXPECT_EQ(again->text.count, 0u);

    std::set<Editor_File*> distinct(taken.begin(), taken.end());
    EXPECT_EQ(distinct.size(), taken.size());
    for (Editor_File* f : distinct) close_file(f);
}

TEST(EditorFile, FreshRecord) {
    Editor_File* file = add_a_file();
    close_file(file);  // the input lines set up a closed or never-used record
    init_file(file, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    EXPECT_EQ(file->flags, FILE_IN_USE | FILE_MODIFIED | FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    EXPECT_EQ(file->selection_start, &file->cursor);
    EXPECT_EQ(file->selection_end, &file->cursor);
    EXPECT_EQ(std::string((char*)file->line_ending.data, file->line_ending.count), "\n");
    EXPECT_EQ(file->undo_records.capacity, 8u);
    EXPECT_EQ(file->undo_records.element_size, sizeof(Undo_Record));
    EXPECT_EQ(file->directory.count, 0);
    close_file(file);
}

TEST(EditorFile, CloseFreesUndoTextsAndResetsTheScrollBar) {
    Editor_File* file = make_test_file("abc");
    f32 scroll_bar[2] = {120.0f, 8.0f};
    file->scroll_bar = scroll_bar;
    file->directory.count = 2;
    const u8 kinds[] = {UNDO_DELETION, UNDO_INSERTION, UNDO_REPLACEMENT, UNDO_IN_PLACE, UNDO_TYPED_INSERTION};
    for (u8 kind : kinds) {
        Undo_Record* r = (Undo_Record*)dynamic_array_add_fast(&file->undo_records);
        memset(r, 0, sizeof(*r));
        r->kind = kind;
        if (kind == UNDO_DELETION) gp_allocate(&r->deletion.saved_text, 10);
        if (kind == UNDO_REPLACEMENT || kind == UNDO_IN_PLACE) gp_allocate(&r->replacement.saved_text, 10);
    }
    close_file(file);  // the sanitizers' leak check sees a text that is not freed
    EXPECT_EQ(file->flags, 0);
    EXPECT_EQ(file->undo_records.count, 0u);
    EXPECT_EQ(file->text.data, nullptr);
    EXPECT_EQ(file->directory.count, 0);
    EXPECT_EQ(scroll_bar[0], 0.0f);
    EXPECT_EQ(scroll_bar[1], 8.0f);
    EXPECT_EQ(file->lock, 0);
}

TEST(EditorFile, SetCursor) {
    struct Case {
        const char* name;
        s64 cursor, anchor;
        b8 selection_active;
        s64 target;
        s64 expected_cursor, expected_anchor;
        b8 start_is_anchor;
    };
    static const Case cases[] = {
        {"clamped below", 3, 3, false, -5, 0, 0, false},
        {"clamped above", 3, 3, false, 99, 10, 10, false},
        {"anchor follows", 3, 3, false, 7, 7, 7, false},
        {"selection keeps the anchor", 3, 3, true, 7, 7, 3, true},
        {"left of the anchor swaps the ends", 7, 5, true, 2, 2, 5, false},
    };
    Editor_File* file = make_test_file("0123456789");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        file->cursor = c.cursor;
        file->selection_anchor = c.anchor;
        atomic_and_u16(&file->flags, (u16)~(FILE_SELECTION_ACTIVE | FILE_CURSOR_MOVED));
        if (c.selection_active) atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
        last_time_we_asked_to_disable_vsync = 0;
        editor_set_cursor(file, c.target);
        EXPECT_EQ(file->cursor, c.expected_cursor);
        EXPECT_EQ(file->selection_anchor, c.expected_anchor);
        EXPECT_EQ(file->previous_cursor, c.cursor);
        EXPECT_TRUE(file->flags & FILE_CURSOR_MOVED);
        EXPECT_NE(last_time_we_asked_to_disable_vsync, 0u);
        EXPECT_EQ(file->selection_start, c.start_is_anchor ? &file->selection_anchor : &file->cursor);
        EXPECT_EQ(file->selection_end, c.start_is_anchor ? &file->cursor : &file->selection_anchor);
        EXPECT_LE(*file->selection_start, *file->selection_end);
    }
    close_file(file);
}
