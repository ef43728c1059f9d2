// The pool of open-file records, their set-up and release, and the cursor rule.

#include "editor/editor_file.h"
#include "editor/lexer.h"
#include "foundation/log.h"
#include "foundation/os_files.h"

#include <string.h>
#include <time.h>

Editor_Files_Block* editor_files_memory;
Editor_File* current_file;
u64 last_time_we_asked_to_disable_vsync;
u8 tabs_read_lock;

Editor_File* editor_file_or_current(Editor_File* file) { return file ? file : current_file; }

void init_file(Editor_File* file, u16 extra_flags) {
    memset(file, 0, sizeof(*file));
    atomic_or_u16(&file->flags, (u16)(extra_flags | FILE_IN_USE | FILE_MODIFIED));
    init_dynamic_array(&file->text, 1);
    init_dynamic_array(&file->context_chunks, sizeof(Context_Chunk));
    init_dynamic_array(&file->colour_chunks, sizeof(Colour_Chunk));
    init_dynamic_array(&file->palette, EDITOR_PALETTE_ELEMENT_SIZE);
    init_dynamic_array(&file->undo_records, sizeof(Undo_Record));
    // Room for 8 records up front: nearly every text gets edited.
    Gp_Allocation undo_storage;
    if (gp_allocate(&undo_storage, 8 * sizeof(Undo_Record))) {
        file->undo_records.storage = undo_storage;
        file->undo_records.data = undo_storage.memory;
        file->undo_records.capacity = 8;
    }
    file->selection_start = &file->cursor;
    file->selection_end = &file->cursor;
    file->line_ending_storage[0] = '\n';
    file->line_ending = String{file->line_ending_storage, 1};
}

static Editor_File* get_block_records(Editor_Files_Block* block) { return (Editor_File*)(block + 1); }

static Editor_Files_Block* map_editor_files_block() {
    Editor_Files_Block* block = (Editor_Files_Block*)os_allocate_read_write(EDITOR_FILES_MEMORY);
    if (!block) {
        add_log(nullptr, LOG_ERROR, "Could not map %llu octets for open files.", EDITOR_FILES_MEMORY);
        return nullptr;
    }
    block->next = nullptr;
    block->count = 0;
    return block;
}

Editor_File* add_a_file() {
    if (!editor_files_memory) {
        editor_files_memory = map_editor_files_block();
        if (!editor_files_memory) return nullptr;
    }
    Editor_Files_Block* block = editor_files_memory;
    for (;;) {
        Editor_File* records = get_block_records(block);
        for (u32 i = 0; i < block->count; i++) {
            if (!(atomic_load_u16(&records[i].flags) & FILE_IN_USE)) {
                init_file(&records[i], 0);
                return &records[i];
            }
        }
        if (block->count < EDITOR_FILES_PER_BLOCK) {
            Editor_File* file = &records[block->count++];
            init_file(file, 0);
            return file;
        }
        if (!block->next) {
            block->next = map_editor_files_block();
            if (!block->next) return nullptr;
        }
        block = block->next;
    }
}

void free_undo_records(Editor_File* file) {
    Undo_Record* records = (Undo_Record*)file->undo_records.data;
    for (u32 i = 0; i < file->undo_records.count; i++) {
        Undo_Record* r = &records[i];
        if (r->kind == UNDO_DELETION) gp_free(&r->deletion.saved_text);
        else if (r->kind == UNDO_REPLACEMENT || r->kind == UNDO_IN_PLACE) gp_free(&r->replacement.saved_text);
    }
    file->undo_records.count = 0;
}

void close_file(Editor_File* file) {
    spin_lock(&file->lock);
    editor_forget_lexer_states(file);  // a record used again must not meet them
    free_undo_records(file);
    dynamic_array_free(&file->text);
    dynamic_array_free(&file->context_chunks);
    dynamic_array_free(&file->colour_chunks);
    dynamic_array_free(&file->palette);
    dynamic_array_free(&file->undo_records);
    view_index_free(file);
    file->directory.count = 0;
    if (file->scroll_bar) file->scroll_bar[0] = 0;
    file->reserved = 0;
    atomic_and_u16(&file->flags, 0);
    spin_unlock(&file->lock);
}

void editor_set_cursor(Editor_File* file, s64 target) {
    file->previous_cursor = file->cursor;
    s64 count = file->text.count;
    if (target < 0) target = 0;
    if (target > count) target = count;
    last_time_we_asked_to_disable_vsync = os_get_monotonic_microseconds();
    atomic_or_u16(&file->flags, FILE_CURSOR_MOVED);
    file->cursor = target;
    if (!(atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE)) {
        file->selection_anchor = target;
        file->selection_start = &file->cursor;
        file->selection_end = &file->selection_anchor;
    } else if (file->selection_anchor < file->cursor) {
        file->selection_start = &file->selection_anchor;
        file->selection_end = &file->cursor;
    } else {
        file->selection_start = &file->cursor;
        file->selection_end = &file->selection_anchor;
    }
}
