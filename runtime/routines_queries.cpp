// The text, token and colour query routines. Results go back through copies (the blocks and
// the addresses in them have no alignment the C++ side may count on); results that point
// at text name temporary memory or the editor's own buffers, valid for this block run.

#include <string.h>

#include "runtime/routines_queries.h"
#include "runtime/layer_loader.h"
#include "editor/colour_chunks.h"
#include "editor/editing.h"
#include "editor/editor_file.h"
#include "editor/lines.h"
#include "editor/tokenisation_hints.h"
#include "foundation/unicode.h"
#include "listers/file_lister.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "terminal/terminal.h"

static Editor_File* get_layer_file() { return editor_file_or_current(custom_layer_execution_file); }

static void write_string(u8* at, String s) { memcpy(at, &s, sizeof(s)); }

static void write_s64(u8* at, s64 value) { memcpy(at, &value, sizeof(value)); }

void foreign_get_text_at(u8* parameters) {
    Get_Text_At_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = get_layer_file();
    // Empty for no file, a range outside the text or a full temporary memory.
    String text = file ? editor_get_text_at(file, p.offset, p.length) : String{nullptr, 0};
    write_string(parameters + offsetof(Get_Text_At_Parameters, result), text);
}

//~ The directory the user works in

static Filepath* get_current_directory() {
    if (global_editor_context & CONTEXT_FILE_LISTER) return &global_file_lister.directory;
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_TERMINAL && tab->terminal) return &tab->terminal->directory;
    if (tab && tab->kind == TAB_FILE && tab->file) return &tab->file->directory;
    return &editor_working_directory;
}

void foreign_get_current_directory_path(u8* parameters) {
    Filepath* path = get_current_directory();
    Strings_Result_Parameters p = {nullptr, 0};
    String* strings = path->count ? (String*)tmp_allocate_aligned(path->count * sizeof(String), alignof(String)) : nullptr;
    if (strings) {
        for (u32 i = 0; i < path->count; i++) {
            Filepath_Component* c = &path->components[i];
            c->text = c->storage;  // the record may have been copied
            strings[i] = String{c->text, (s64)c->length};
        }
        p = {strings, path->count};
    }
    memcpy(parameters, &p, sizeof(p));
}

//~ The file's name, lines and characters

void foreign_get_file_extension(u8* parameters) {
    Editor_File* file = get_layer_file();
    String extension = file ? get_extension(file->name) : String{nullptr, 0};
    write_string(parameters, extension.count ? string_to_lower_case(extension) : String{nullptr, 0});
}

void foreign_get_line_start(u8* parameters) {
    Line_Bound_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = get_layer_file();
    s64 count = file ? (s64)file->text.count : 0;
    s64 start = p.offset > 0 && p.offset <= count ? get_line_start(file->text.data, p.offset) : 0;
    write_s64(parameters + offsetof(Line_Bound_Parameters, result), start);
}

void foreign_get_line_end(u8* parameters) {
    Line_Bound_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = get_layer_file();
    s64 count = file ? (s64)file->text.count : 0;
    s64 end = 0;
    if (count > 0 && p.offset >= count) end = p.offset;
    else if (count > 0 && p.offset >= 0) end = get_line_end(file->text.data, count, p.offset);
    write_s64(parameters + offsetof(Line_Bound_Parameters, result), end);
}

void foreign_get_codepoint_at_offset(u8* parameters) {
    Codepoint_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = get_layer_file();
    u32 codepoint = 0;
    if (file && p.offset >= 0 && p.offset < (s64)file->text.count) {
        u8* at = file->text.data + p.offset;
        // The size of the well-formed character there, 1 for anything else, which decodes
        // to U+FFFD: nothing past the text's end is read.
        u32 size = get_utf8_char_size_in(at, file->text.data + file->text.count);
        codepoint = utf8_known_size_to_utf32_codepoint(at, size);
    }
    memcpy(parameters + offsetof(Codepoint_Parameters, result), &codepoint, sizeof(codepoint));
}

//~ Tokens and colours

void foreign_get_syntax_highlighting_info(u8* parameters) {
    Syntax_Info_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_File* file = get_layer_file();
    if (!file) return;
    s64 start = 0, end = 0;
    u32 depth = 0;
    u8 quote = 0;
    editor_get_syntax_highlighting_info(file, &start, &end, &depth, &quote);
    u64 start_u64 = (u64)start, end_u64 = (u64)end;
    s32 depth_s32 = (s32)depth;
    write_layer_memory(p.visible_start, &start_u64, sizeof(start_u64));
    write_layer_memory(p.visible_end, &end_u64, sizeof(end_u64));
    write_layer_memory(p.comment_depth, &depth_s32, sizeof(depth_s32));
    write_layer_memory(p.open_quote, &quote, sizeof(quote));
}

// The lexer fills what it fills of the caller's token, the rest stays as the caller had it.
static Editor_Token read_token(Editor_Token* at) {
    Editor_Token token = {};
    check_layer_memory(at, sizeof(token));
    if (at) memcpy(&token, at, sizeof(token));
    return token;
}

static void write_token_result(u8* parameters, Token_Parameters* p, Editor_Token* token, s64 result) {
    write_layer_memory(p->token, token, sizeof(*token));
    write_s64(parameters + offsetof(Token_Parameters, result), result);
}

// The token after the offset, or the last one that starts before it.
static void get_neighbouring_token(u8* parameters, b8 previous) {
    Token_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_Token token = read_token(p.token);
    s64 end = previous ? editor_get_previous_token(custom_layer_execution_file, p.offset, &token)
                       : editor_get_next_token(custom_layer_execution_file, p.offset, &token);
    write_token_result(parameters, &p, &token, end);
}

void foreign_get_next_token(u8* parameters) { get_neighbouring_token(parameters, false); }

void foreign_get_previous_token(u8* parameters) { get_neighbouring_token(parameters, true); }

void foreign_get_token_at_offset(u8* parameters) {
    Token_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    Editor_Token token = read_token(p.token);
    token.length = 0;
    token.kind = EDITOR_TOKEN_NONE;
    Editor_File* file = get_layer_file();
    Editor_Token found;
    s64 end = -1;
    if (file && p.offset >= 0 && p.offset <= (s64)file->text.count) {
        end = editor_get_token_at_offset(file, p.offset, &found);
        if (end >= 0) token = found;
    }
    write_token_result(parameters, &p, &token, end);
}

void foreign_set_text_colour(u8* parameters) {
    Set_Text_Colour_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    // Offsets outside the text are ignored and the length cut to its end there.
    editor_set_text_colour(custom_layer_execution_file, p.offset, p.length, p.colour);
}

//~ Texts the editor keeps

void foreign_get_tab_text(u8* parameters) {
    write_string(parameters, String{global_tab_character.data, global_tab_character.count});
}

void foreign_get_single_line_comment_from_tokenisation_hints(u8* parameters) {
    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(get_layer_file());
    write_string(parameters, hint ? hint->line_comment : String{nullptr, 0});
}
