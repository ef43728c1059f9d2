// Completing a path in a terminal's input line: the word before the cursor is a path,
// absolute or relative to the terminal's working directory, and its last component is
// completed as far as every entry of its directory that begins with it agrees.

#include "editor/completion.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "foundation/os_files.h"
#include "foundation/unicode.h"

#include <string.h>

static inline b8 is_token_boundary(u8 c) { return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"' || c == '\''; }
static inline b8 is_path_separator(u8 c) { return c == '/' || c == '\\'; }

u8 auto_complete_filepath_in_input_line(Editor_File* input_line, Filepath* working_directory) {
    if (!input_line) return 0;
    u8* text = input_line->text.data;
    s64 cursor = input_line->cursor;
    if (cursor <= 0 || cursor > (s64)input_line->text.count) return 0;

    // The character before the cursor: a boundary or a separator leaves nothing to complete.
    s64 last = cursor - 1;
    while (last > 0 && (text[last] & 0xC0) == 0x80) last--;
    if (is_token_boundary(text[last]) || is_path_separator(text[last])) return 0;
    s64 token_start = last;
    while (token_start > 0 && !is_token_boundary(text[token_start - 1])) token_start--;
    String token = {text + token_start, cursor - token_start};

    u32 first_size = get_utf8_char_size_in(token.data, token.data + token.count);
    b8 absolute = token.data[0] == '/' || (first_size < token.count && token.data[first_size] == ':');
    String path;
    if (absolute) {
        // The input line itself takes the forward slashes, unrecorded, whatever the answer.
        editor_forget_lexer_states(input_line);
        for (s64 i = 0; i < token.count; i++) {
            if (token.data[i] == '\\') token.data[i] = '/';
        }
        path = token;
    } else {
        String directory = working_directory ? filepath_to_tmp_string(working_directory) : String{nullptr, 0};
        path = directory.count ? string_concat2("%/%", directory, token) : string_concat2("%", token);
        if (!path.data) return 0;
        for (s64 i = 0; i < path.count; i++) {
            if (path.data[i] == '\\') path.data[i] = '/';
        }
    }

    s64 slash = path.count - 1;
    while (slash >= 0 && path.data[slash] != '/') slash--;
    String name = {path.data + slash + 1, path.count - slash - 1};
    String directory = slash < 0 ? String{nullptr, 0} : String{path.data, slash == 0 ? 1 : slash};
    if (directory.count == 0) return 0;

    Os_Lister lister;
    if (!os_lister_open(&lister, directory, String{nullptr, 0})) return 0;
    Dynamic_Array candidate;
    init_dynamic_array(&candidate, 1);
    if (gp_allocate(&candidate.storage, 1024)) {
        candidate.data = candidate.storage.memory;
        candidate.capacity = 1024;
    }
    u8* common_text = nullptr;
    s64 common_length = 0;
    // One item refilled for every entry: no allocation per entry.
    Os_Lister_Item entry;
    Os_Lister_Item* item = &entry;
    while (os_lister_get_next_item(&lister, item)) {
        if (item->name.count < name.count || memcmp(item->name.data, name.data, (u64)name.count) != 0) continue;
        if (!common_text) {
            u8* copy = (u8*)dynamic_array_add_fast_multiple(&candidate, (u32)item->name.count);
            if (!copy) continue;
            memcpy(copy, item->name.data, (u64)item->name.count);
            common_text = copy;
            common_length = item->name.count;
        } else {
            s64 n = common_length < item->name.count ? common_length : item->name.count;
            s64 i = 0;
            while (i < n && common_text[i] == item->name.data[i]) i++;
            common_length = i;
        }
    }
    os_lister_close(&lister);

    u8 answer = 0;
    if (common_text) {
        answer = 1;
        if (common_length > name.count) {
            // The name is the tail of the token, before the cursor in the input line.
            s64 name_start = cursor - name.count;
            if (editor_replace_range(input_line, name_start, name.count, common_text, common_length, cursor)) {
                editor_set_cursor(input_line, name_start + common_length);
            }
        }
    }
    dynamic_array_free(&candidate);
    return answer;
}
