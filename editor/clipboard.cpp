// Copying a selection, or the token at the cursor, to the system clipboard and the two
// local copies.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include "editor/clipboard.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/lines.h"

#include <string.h>

Dynamic_Array text_copied_locally = {nullptr, 1, 0, 0, {}};
Dynamic_Array text_copied_as_if_there_was_no_padding = {nullptr, 1, 0, 0, {}};

static inline b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

static void append_octets(Dynamic_Array* array, u8* data, s64 count) {
    if (count <= 0 || (u64)array->count + (u64)count > 0xFFFFFFFFull) return;
    u8* at = (u8*)dynamic_array_add_fast_multiple(array, (u32)count);
    if (at) memcpy(at, data, (u64)count);
}

void set_local_copy(Dynamic_Array* copy, u8* data, s64 count) {
    copy->count = 0;
    append_octets(copy, data, count);
}

void editor_set_clipboard_text(u8* text, s64 count) {
    if (count < 0) return;
    Gp_Allocation big = {};
    char* copy;
    if (count < CLIPBOARD_TEMPORARY_LIMIT) {
        copy = (char*)tmp_allocate((u64)count + 1);
    } else {
        copy = gp_allocate(&big, (u64)count + 1) ? (char*)big.memory : nullptr;
    }
    if (!copy) return;
    if (count) memcpy(copy, text, (u64)count);
    copy[count] = 0;
    glfwSetClipboardString(nullptr, copy);
    gp_free(&big);
}

// Every line after the first loses up to as many leading blanks as the first line had
// before the selection began, never more than the part of the line that is selected.
static void copy_without_padding(Editor_File* file, s64 start, s64 end) {
    u8* text = file->text.data;
    s64 count = file->text.count;
    Dynamic_Array* out = &text_copied_as_if_there_was_no_padding;
    out->count = 0;
    s64 first_line_start = get_line_start(text, start);
    s64 padding = 0;
    while (first_line_start + padding < start && is_blank(text[first_line_start + padding])) padding++;

    s64 position = start;
    for (b8 first = true;; first = false) {
        s64 from = position;
        for (s64 skipped = 0; !first && skipped < padding && from < end && is_blank(text[from]); skipped++) from++;
        s64 line_end = get_line_end(text, count, position);
        s64 to = line_end < end ? line_end : end;
        if (to > from) append_octets(out, text + from, to - from);
        if (line_end >= end) break;  // the selection ends on this line
        Editor_Token line_break;
        if (editor_get_next_token(file, line_end, &line_break) < 0) break;
        append_octets(out, text + line_break.offset, line_break.length);
        position = line_break.offset + line_break.length;
    }
}

void copy_file_selection_to_clipboard(Editor_File* file, u8 stop_selection, u8 token_when_empty) {
    if (!file) return;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 start = *file->selection_start, end = *file->selection_end;
    if (start < 0) start = 0;
    if (end > count) end = count;

    if (end > start) {
        copy_without_padding(file, start, end);
        set_local_copy(&text_copied_locally, text + start, end - start);
        editor_set_clipboard_text(text + start, end - start);
        if (stop_selection) atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
        return;
    }
    if (!token_when_empty || count == 0) return;

    // The token that starts at the cursor, unless the one before runs over it; else the
    // one before when it reaches the cursor.
    s64 cursor = file->cursor < 0 ? 0 : file->cursor > count ? count : file->cursor;
    Editor_Token next, previous;
    s64 next_end = editor_get_next_token(file, cursor, &next);
    s64 previous_end = editor_get_previous_token(file, cursor, &previous);
    Editor_Token* token = nullptr;
    if (next_end >= 0 && next.offset == cursor) token = previous_end > cursor ? &previous : &next;
    else if (previous_end >= 0 && previous_end >= cursor) token = &previous;
    if (!token) return;
    set_local_copy(&text_copied_locally, text + token->offset, token->length);
    set_local_copy(&text_copied_as_if_there_was_no_padding, text + token->offset, token->length);
    editor_set_clipboard_text(text + token->offset, token->length);
}
