// The text buffer's insert and remove steps, the undo records with their merging and
// expiry, deletion and undo, and the small reads and cursor moves of the layer routines.
// Every range is checked against the text before it is touched: the offsets come from
// layer code.

#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"
#include "foundation/log.h"
#include "foundation/os_files.h"

#include <string.h>

// A text's count is a u32.
#define MAX_TEXT_COUNT 0xFFFFFFFFull

u64 editor_clock_override;

// Writable: the first replacement of up to four octets is copied into it.
static u8 default_tab_text[4] = {' ', ' ', ' ', ' '};
Dynamic_Array global_tab_character = {default_tab_text, 1, 4, 4, {}};

u64 editor_get_time_microseconds() {
    return editor_clock_override ? editor_clock_override : os_get_monotonic_microseconds();
}

static inline b8 range_fits(s64 offset, s64 length, s64 count) {
    return offset >= 0 && length >= 0 && offset <= count && length <= count - offset;
}

static inline s64 clamp_offset(s64 offset, s64 count) {
    return offset < 0 ? 0 : offset > count ? count : offset;
}

//~ The text buffer

b8 editor_insert_octets(Editor_File* file, s64 offset, u8* data, s64 count) {
    Dynamic_Array* text = &file->text;
    if (count < 0 || offset < 0 || offset > (s64)text->count) return false;
    if (count == 0) return true;
    editor_forget_lexer_states(file);  // they describe the text as it was
    u64 needed = (u64)text->count + (u64)count;
    if (needed > MAX_TEXT_COUNT) {
        add_log(nullptr, LOG_ERROR, "Could not insert %lld octets: a text holds at most 4 GiB.", (long long)count);
        return false;
    }
    // The octets may come from this very text, which moves below.
    Gp_Allocation copy = {};
    if (data && data < text->data + text->count && data + count > text->data) {
        if (!gp_allocate(&copy, (u64)count)) return false;
        memcpy(copy.memory, data, (u64)count);
        data = copy.memory;
    }
    if (needed > text->capacity) {
        u64 capacity = 2ull * text->count + (u64)count;
        if (capacity > MAX_TEXT_COUNT) capacity = MAX_TEXT_COUNT;
        Gp_Allocation storage;
        if (!gp_allocate(&storage, capacity)) {
            gp_free(&copy);
            return false;
        }
        if (offset) memcpy(storage.memory, text->data, (u64)offset);
        if ((s64)text->count > offset) memcpy(storage.memory + offset + count, text->data + offset, text->count - offset);
        gp_free(&text->storage);
        text->storage = storage;
        text->data = storage.memory;
        text->capacity = (u32)capacity;
    } else if ((s64)text->count > offset) {
        memmove(text->data + offset + count, text->data + offset, text->count - offset);
    }
    // Octets the caller fills later are blanks meanwhile: no stale break lies among them.
    if (data) memcpy(text->data + offset, data, (u64)count);
    else memset(text->data + offset, ' ', (u64)count);
    text->count += (u32)count;
    gp_free(&copy);
    view_index_note_insertion(file, offset, count);
    return true;
}

// The caller has checked the range.
static void remove_range(Editor_File* file, s64 offset, s64 count) {
    editor_forget_lexer_states(file);
    Dynamic_Array* text = &file->text;
    if (count == 0) return;  // an empty text may have no storage at all
    memmove(text->data + offset, text->data + offset + count, text->count - offset - count);
    text->count -= (u32)count;
    view_index_note_removal(file, offset, count);
}

void clamp_cursors_to_text(Editor_File* file) {
    s64 count = file->text.count;
    file->cursor = clamp_offset(file->cursor, count);
    file->selection_anchor = clamp_offset(file->selection_anchor, count);
    file->previous_cursor = clamp_offset(file->previous_cursor, count);
    if (file->selection_anchor < file->cursor) {
        file->selection_start = &file->selection_anchor;
        file->selection_end = &file->cursor;
    } else {
        file->selection_start = &file->cursor;
        file->selection_end = &file->selection_anchor;
    }
}

b8 editor_remove_octets(Editor_File* file, s64 offset, s64 count) {
    if (!range_fits(offset, count, file->text.count)) return false;
    remove_range(file, offset, count);
    clamp_cursors_to_text(file);
    return true;
}

//~ Undo records

void free_undo_record(Undo_Record* record) {
    if (record->kind == UNDO_DELETION) gp_free(&record->deletion.saved_text);
    else if (record->kind == UNDO_REPLACEMENT || record->kind == UNDO_IN_PLACE) gp_free(&record->replacement.saved_text);
}

static void expire_undo_records(Editor_File* file, u64 now) {
    Undo_Record* records = (Undo_Record*)file->undo_records.data;
    u32 kept = 0;
    for (u32 i = 0; i < file->undo_records.count; i++) {
        // A clock that went back (a test's) expires nothing.
        if (now >= records[i].time && now - records[i].time >= UNDO_EXPIRY_MICROSECONDS) {
            free_undo_record(&records[i]);
            continue;
        }
        if (kept != i) records[kept] = records[i];
        kept++;
    }
    file->undo_records.count = kept;
}

// A cleared record at the end of the list, after the expired ones are gone; null without memory.
static Undo_Record* append_undo_record(Editor_File* file, u64 now, u8 kind, s64 cursor_before, s64 offset) {
    expire_undo_records(file, now);
    Undo_Record* record = (Undo_Record*)dynamic_array_add_fast(&file->undo_records);
    if (!record) return nullptr;
    memset(record, 0, sizeof(*record));
    record->kind = kind;
    record->time = now;
    record->cursor_before = cursor_before;
    record->offset = offset;
    return record;
}

static void widen_changed_range(Editor_File* file, s64 start, s64 end) {
    if (start < file->changed_start) file->changed_start = start;
    if (end > file->changed_end) file->changed_end = end;
}

void add_text_insertion_undo(Editor_File* file, s64 offset, s64 length, s64 cursor_before, u8 mergeable) {
    if (!file || length <= 0 || !range_fits(offset, length, file->text.count)) return;
    widen_changed_range(file, offset, offset + length);
    u64 now = editor_get_time_microseconds();
    u32 count = file->undo_records.count;
    if (mergeable && count) {
        Undo_Record* last = (Undo_Record*)file->undo_records.data + count - 1;
        if (last->kind == UNDO_TYPED_INSERTION && now >= last->insertion.merge_time &&
            now - last->insertion.merge_time < UNDO_MERGE_MICROSECONDS &&
            last->offset + last->insertion.length == offset) {
            last->insertion.length += length;
            last->time = now;
            last->insertion.merge_time = now;
            return;
        }
    }
    Undo_Record* record = append_undo_record(file, now, mergeable ? UNDO_TYPED_INSERTION : UNDO_INSERTION, cursor_before, offset);
    if (!record) return;
    record->insertion.length = length;
    record->insertion.merge_time = now;
}

// Kinds 3 and 4: the record owns old_text, or frees it when it cannot be made.
static void add_replacement_undo(Editor_File* file, u8 kind, s64 offset, s64 new_length, s64 cursor_before, Gp_Allocation old_text) {
    if (!file || !range_fits(offset, new_length, file->text.count)) {
        gp_free(&old_text);
        return;
    }
    Undo_Record* record = append_undo_record(file, editor_get_time_microseconds(), kind, cursor_before, offset);
    if (!record) {
        gp_free(&old_text);
        return;
    }
    widen_changed_range(file, offset, offset + new_length);
    record->replacement.length = new_length;
    record->replacement.saved_text = old_text;
}

void add_padding_undo(Editor_File* file, s64 offset, s64 new_length, s64 cursor_before, Gp_Allocation old_text) {
    add_replacement_undo(file, UNDO_REPLACEMENT, offset, new_length, cursor_before, old_text);
}

void add_in_place_undo(Editor_File* file, s64 offset, s64 cursor_before, Gp_Allocation old_text) {
    add_replacement_undo(file, UNDO_IN_PLACE, offset, (s64)old_text.size, cursor_before, old_text);
}

b8 editor_replace_range(Editor_File* file, s64 offset, s64 old_length, u8* new_text, s64 new_length, s64 cursor_before) {
    if (!range_fits(offset, old_length, file->text.count) || new_length < 0) return false;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)old_length)) return false;
    if (old_length) memcpy(saved.memory, file->text.data + offset, (u64)old_length);
    // The new text goes in behind the old, which is then removed: a failed insertion leaves
    // the text as it was. It may lie in the text itself; the insertion copies it first.
    if (!editor_insert_octets(file, offset + old_length, new_text, new_length)) {
        gp_free(&saved);
        return false;
    }
    remove_range(file, offset, old_length);
    clamp_cursors_to_text(file);
    add_padding_undo(file, offset, new_length, cursor_before, saved);
    return true;
}

//~ Deleting

void editor_delete_at(Editor_File* file, s64 offset, s64 length) {
    file = editor_file_or_current(file);
    if (!file || length <= 0 || !range_fits(offset, length, file->text.count)) return;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)length)) return;
    memcpy(saved.memory, file->text.data + offset, (u64)length);
    update_context_chunks(file, offset);
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
    Undo_Record* record = append_undo_record(file, editor_get_time_microseconds(), UNDO_DELETION, file->cursor, offset);
    if (!record) {
        gp_free(&saved);
        return;
    }
    if (offset < file->changed_start) file->changed_start = offset;
    record->deletion.saved_text = saved;
    remove_range(file, offset, length);
    if (file->cursor > (s64)file->text.count) editor_set_cursor(file, file->text.count);
    clamp_cursors_to_text(file);
}

void editor_delete_selection() {
    Editor_File* file = current_file;
    if (!file) return;
    s64 count = file->text.count;
    s64 start = clamp_offset(*file->selection_start, count);
    s64 end = clamp_offset(*file->selection_end, count);
    if (end <= start) return;
    Gp_Allocation saved;
    if (!gp_allocate(&saved, (u64)(end - start))) return;
    memcpy(saved.memory, file->text.data + start, (u64)(end - start));
    update_context_chunks(file, start);
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX | FILE_CURSOR_MOVED);
    Undo_Record* record = append_undo_record(file, editor_get_time_microseconds(), UNDO_DELETION, end, start);
    if (!record) {
        gp_free(&saved);
        return;
    }
    if (start < file->changed_start) file->changed_start = start;
    record->deletion.saved_text = saved;
    record->deletion.was_selection = 1;
    remove_range(file, start, end - start);
    // The selection ends before the cursor moves, so the anchor follows it to the start
    // rather than staying past the shorter text.
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    editor_set_cursor(file, start);
    clamp_cursors_to_text(file);
}

//~ Undo

// Whether the record can be applied to the text as it is now.
static b8 undo_record_fits(Undo_Record* r, s64 count) {
    switch (r->kind) {
        case UNDO_INSERTION:
        case UNDO_TYPED_INSERTION: return range_fits(r->offset, r->insertion.length, count);
        case UNDO_DELETION: return r->offset >= 0 && r->offset <= count;
        case UNDO_REPLACEMENT: return range_fits(r->offset, r->replacement.length, count);
        case UNDO_IN_PLACE: return range_fits(r->offset, (s64)r->replacement.saved_text.size, count);
        default: return true;
    }
}

void editor_undo(Editor_File* file) {
    file = editor_file_or_current(file);
    if (!file || file->undo_records.count == 0) return;
    Undo_Record record = ((Undo_Record*)file->undo_records.data)[file->undo_records.count - 1];
    if (!undo_record_fits(&record, file->text.count)) {
        file->undo_records.count--;
        free_undo_record(&record);
        return;
    }
    atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
    switch (record.kind) {
        case UNDO_INSERTION:
        case UNDO_TYPED_INSERTION:
            update_context_chunks(file, record.offset);
            remove_range(file, record.offset, record.insertion.length);
            editor_set_cursor(file, record.cursor_before);
            break;
        case UNDO_DELETION: {
            Gp_Allocation* saved = &record.deletion.saved_text;
            // Without memory for the text the record stays, to be tried again.
            if (!editor_insert_octets(file, record.offset, saved->memory, (s64)saved->size)) return;
            update_context_chunks(file, record.offset);
            if (record.offset < file->changed_start) file->changed_start = record.offset;
            if (record.deletion.was_selection) {
                atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
                file->selection_anchor = record.offset;
                editor_set_cursor(file, record.offset + (s64)saved->size);
            } else {
                editor_set_cursor(file, record.cursor_before);
            }
            break;
        }
        case UNDO_REPLACEMENT: {
            Gp_Allocation* saved = &record.replacement.saved_text;
            if (!editor_insert_octets(file, record.offset + record.replacement.length, saved->memory, (s64)saved->size)) return;
            update_context_chunks(file, record.offset);
            if (record.offset < file->changed_start) file->changed_start = record.offset;
            remove_range(file, record.offset, record.replacement.length);
            editor_set_cursor(file, record.cursor_before);
            break;
        }
        case UNDO_IN_PLACE: {
            Gp_Allocation* saved = &record.replacement.saved_text;
            editor_forget_lexer_states(file);
            view_index_note_change(file, record.offset);
            if (saved->size) memcpy(file->text.data + record.offset, saved->memory, saved->size);
            break;
        }
        default: break;
    }
    file->undo_records.count--;
    free_undo_record(&record);
    clamp_cursors_to_text(file);
}

//~ Reads and cursor moves

String editor_get_text_at(Editor_File* file, s64 offset, u32 length) {
    file = editor_file_or_current(file);
    if (!file || length == 0 || !range_fits(offset, length, file->text.count)) return String{nullptr, 0};
    u8* copy = tmp_allocate(length);
    if (!copy) return String{nullptr, 0};
    memcpy(copy, file->text.data + offset, length);
    return String{copy, (s64)length};
}

void editor_go_to_line_padding_end(Editor_File* file) {
    file = editor_file_or_current(file);
    if (!file) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = clamp_offset(file->cursor, count);
    s64 line_start = get_line_start(text, cursor);
    s64 padding_end = line_start;
    while (padding_end < count && (text[padding_end] == ' ' || text[padding_end] == '\t')) padding_end++;
    editor_set_cursor(file, cursor > padding_end ? padding_end : line_start);
}

void editor_go_to_previous_cursor_position(Editor_File* file) {
    file = editor_file_or_current(file);
    if (!file) return;
    // editor_set_cursor keeps the cursor it leaves as the previous one.
    editor_set_cursor(file, file->previous_cursor);
}
