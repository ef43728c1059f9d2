// Word completion. The text is lexed forward once per direction, keeping the two tokens
// before each one, so that a text without separators costs one pass rather than one
// backward lex per token.

#include "editor/completion.h"
#include "editor/editing.h"
#include "editor/lexer.h"
#include "editor/tabs.h"

#include <string.h>

static s64 get_common_prefix_length(u8* a, s64 a_length, u8* b, s64 b_length) {
    s64 n = a_length < b_length ? a_length : b_length;
    s64 i = 0;
    while (i < n && a[i] == b[i]) i++;
    return i;
}

static void fold_into_track(u8** text, s64* length, s64* shortest, u8* candidate, s64 candidate_length) {
    if (!*text) {
        *text = candidate;
        *length = candidate_length;
    } else {
        *length = get_common_prefix_length(*text, *length, candidate, candidate_length);
    }
    if (candidate_length < *shortest) *shortest = candidate_length;
}

static b8 is_member_separator(u8* text, Editor_Token* token) {
    if (token->kind != EDITOR_TOKEN_PUNCTUATION) return false;
    return (token->length == 1 && text[token->offset] == '.') ||
           (token->length == 2 && text[token->offset] == '-' && text[token->offset + 1] == '>');
}

// before: the token just before the candidate; before_separator: the one before that
// (either null at the start of the text).
static void update_auto_complete_data(Auto_Complete_Data* data, Word_Completion_Prefix* prefix, u8* text, Editor_Token* candidate,
                                      Editor_Token* before, Editor_Token* before_separator) {
    u8* candidate_text = text + candidate->offset;
    s64 candidate_length = candidate->length;
    fold_into_track(&data->common_text, &data->common_length, &data->shortest, candidate_text, candidate_length);
    if (!prefix->member || !before || !is_member_separator(text, before)) return;
    if (!data->same_object_found) {
        fold_into_track(&data->member_text, &data->member_length, &data->member_shortest, candidate_text, candidate_length);
    }
    if (!before_separator || before_separator->length == 0 ||
        !strings_equal(String{text + before_separator->offset, before_separator->length}, prefix->object)) {
        return;
    }
    if (!data->same_object_found) {
        data->member_text = candidate_text;
        data->member_length = candidate_length;
        data->member_shortest = candidate_length;
        data->same_object_found = 1;
    } else {
        fold_into_track(&data->member_text, &data->member_length, &data->member_shortest, candidate_text, candidate_length);
    }
}

// Lexes [from, until) and folds in every candidate that starts at or after consider_from.
// from must be a token boundary of a lex from the start of the text.
static void collect_candidates(Auto_Complete_Data* data, Word_Completion_Prefix* prefix, u8* text, s64 length,
                               Tokenisation_Hint* hint, s64 from, s64 until, s64 consider_from) {
    Editor_Token tokens[3];
    Editor_Token* before_separator = nullptr;
    Editor_Token* before = nullptr;
    u32 slot = 0;
    s64 at = from;
    for (;;) {
        Editor_Token* token = &tokens[slot];
        if (lex_next_token(text, length, at, hint, token) < 0 || token->offset >= until) break;
        at = token->offset + token->length;
        if (token->offset >= consider_from && token->kind == EDITOR_TOKEN_WORD && token->length > prefix->length &&
            memcmp(text + token->offset, prefix->text, (u64)prefix->length) == 0) {
            update_auto_complete_data(data, prefix, text, token, before, before_separator);
        }
        before_separator = before;
        before = token;
        slot = (slot + 1) % 3;
    }
}

static String copy_token_text_tmp(u8* text, Editor_Token* token) {
    u8* copy = tmp_allocate(token->length ? token->length : 1);
    if (!copy) return String{nullptr, 0};
    memcpy(copy, text + token->offset, token->length);
    return String{copy, (s64)token->length};
}

b8 start_word_completion(Word_Completion* c, Editor_File* file) {
    *c = Word_Completion{};
    c->file = file;
    c->data.shortest = INT64_MAX;
    c->data.member_shortest = INT64_MAX;
    if (!file || file->text.count == 0) return false;
    u8* text = file->text.data;
    s64 count = file->text.count;
    s64 cursor = file->cursor;
    if (cursor <= 0 || cursor > count) return false;
    Editor_Token word;
    if (editor_get_previous_token(file, cursor, &word) != cursor || word.kind != EDITOR_TOKEN_WORD) return false;

    Word_Completion_Prefix* prefix = &c->prefix;
    c->prefix_start = word.offset;
    prefix->length = cursor - word.offset;
    prefix->text = copy_token_text_tmp(text, &word).data;
    if (!prefix->text) return false;
    Editor_Token separator, object;
    if (editor_get_previous_token(file, word.offset, &separator) >= 0 && is_member_separator(text, &separator)) {
        prefix->member = true;
        if (editor_get_previous_token(file, separator.offset, &object) >= 0) prefix->object = copy_token_text_tmp(text, &object);
    }

    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(file);
    collect_candidates(&c->data, prefix, text, count, hint, 0, word.offset, 0);
    if (!c->data.common_text) collect_candidates(&c->data, prefix, text, count, hint, word.offset, count, cursor);
    return true;
}

void collect_word_candidates(Word_Completion* c, Editor_File* other) {
    if (!other || other == c->file) return;
    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(other);
    collect_candidates(&c->data, &c->prefix, other->text.data, other->text.count, hint, 0, other->text.count, 0);
}

static u8* copy_to_tmp(u8* text, s64 length) {
    if (!text) return nullptr;
    u8* copy = tmp_allocate(length ? (u64)length : 1);
    if (copy) memcpy(copy, text, (u64)length);
    return copy;
}

void keep_word_candidates_tmp(Word_Completion* c) {
    c->data.common_text = copy_to_tmp(c->data.common_text, c->data.common_length);
    c->data.member_text = copy_to_tmp(c->data.member_text, c->data.member_length);
}

u8 finish_word_completion(Word_Completion* c) {
    Auto_Complete_Data* data = &c->data;
    if (!data->common_text) return 0;
    // Ties go to the member track.
    b8 general = data->common_length > data->member_length;
    u8* chosen = general ? data->common_text : data->member_text;
    s64 chosen_length = general ? data->common_length : data->member_length;
    if (!chosen || chosen_length == c->prefix.length) return 1;
    Editor_File* file = c->file;
    s64 cursor = file->cursor;
    if (!editor_replace_range(file, c->prefix_start, c->prefix.length, chosen, chosen_length, cursor)) return 1;
    update_context_chunks(file, c->prefix_start);
    atomic_or_u16(&file->flags, FILE_MODIFIED | FILE_NEEDS_SYNTAX);
    editor_set_cursor(file, c->prefix_start + chosen_length);
    return 1;
}

u8 auto_complete_text_in_file(Editor_File* file) {
    Word_Completion c;
    if (!start_word_completion(&c, file)) return 0;
    return finish_word_completion(&c);
}

// The other file tabs' texts are read under tabs_read_lock, and what is taken from them is
// copied before the lock goes, since those records may be closed afterwards.
u8 auto_complete_text_before_cursor(Editor_File* file) {
    Word_Completion c;
    if (!start_word_completion(&c, file)) return 0;
    if (!c.data.common_text) {
        spin_lock(&tabs_read_lock);
        for (u32 i = 0; i < tabs.count; i++) {
            Tab* tab = (Tab*)tabs.data + i;
            if (tab->kind == TAB_FILE) collect_word_candidates(&c, tab->file);
        }
        keep_word_candidates_tmp(&c);
        spin_unlock(&tabs_read_lock);
    }
    return finish_word_completion(&c);
}
