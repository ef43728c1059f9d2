// The forward lexer, the backward lexer that agrees with it, the syntax state at the top
// of the visible range and the cut-back of context chunks.

#include "editor/lexer.h"
#include "editor/view_index.h"

#include <string.h>

//~ Character classes

enum Lexer_Class : u8 {
    CLASS_WORD = 0,
    CLASS_BLANK,
    CLASS_NEW_LINE,
    CLASS_PUNCTUATION,  // any ASCII punctuation: ends words and numbers
};

struct Lexer_Tables {
    u8 byte_class[256];
    u16 single_kind[256];  // kind of a one-character token, 0 for none
    // Octets that are always a token of their own (or lie between tokens), so that the
    // position after one is where a forward lex from the start also has a token boundary.
    b8 always_alone[256];
};

static Lexer_Tables make_lexer_tables() {
    Lexer_Tables t = {};
    t.byte_class[' '] = CLASS_BLANK;
    t.byte_class['\t'] = CLASS_BLANK;
    t.byte_class['\r'] = CLASS_NEW_LINE;
    t.byte_class['\n'] = CLASS_NEW_LINE;
    const char* punctuation = "\"!#$%&'()*+,-./:;<=>?@[]^{|}~\\`";
    for (const char* p = punctuation; *p; p++) t.byte_class[(u8)*p] = CLASS_PUNCTUATION;

    struct Single { const char* characters; u16 kind; };
    static const Single singles[] = {
        {"%&*+-/=^|~", EDITOR_TOKEN_OPERATOR},
        {"!<>?", EDITOR_TOKEN_LOGIC},
        {"#$,.:;@\\", EDITOR_TOKEN_PUNCTUATION},
        {"([{", EDITOR_TOKEN_OPEN_SCOPE},
        {")]}", EDITOR_TOKEN_CLOSE_SCOPE},
        {"\"", EDITOR_TOKEN_DOUBLE_QUOTE},
        {"'", EDITOR_TOKEN_SINGLE_QUOTE},
        {"`", EDITOR_TOKEN_BACKQUOTE},
    };
    for (const Single& s : singles) {
        for (const char* p = s.characters; *p; p++) t.single_kind[(u8)*p] = s.kind;
    }
    // None of these is part of a longer operator, a number or a word.
    const char* alone = " \t\n()[]{},;@$#\\`\"'?~";
    for (const char* p = alone; *p; p++) t.always_alone[(u8)*p] = true;
    return t;
}

static const Lexer_Tables lexer_tables = make_lexer_tables();

struct Operator_Pair { char text[3]; u16 kind; };
static const Operator_Pair operator_pairs[] = {
    {"++", EDITOR_TOKEN_OPERATOR}, {"--", EDITOR_TOKEN_OPERATOR}, {"%=", EDITOR_TOKEN_OPERATOR},
    {"&=", EDITOR_TOKEN_OPERATOR}, {"*=", EDITOR_TOKEN_OPERATOR}, {"+=", EDITOR_TOKEN_OPERATOR},
    {"-=", EDITOR_TOKEN_OPERATOR}, {"/=", EDITOR_TOKEN_OPERATOR}, {"^=", EDITOR_TOKEN_OPERATOR},
    {"|=", EDITOR_TOKEN_OPERATOR},
    {"&&", EDITOR_TOKEN_LOGIC}, {"||", EDITOR_TOKEN_LOGIC}, {"!=", EDITOR_TOKEN_LOGIC},
    {"<=", EDITOR_TOKEN_LOGIC}, {"==", EDITOR_TOKEN_LOGIC}, {">=", EDITOR_TOKEN_LOGIC},
    {"->", EDITOR_TOKEN_PUNCTUATION}, {"=>", EDITOR_TOKEN_PUNCTUATION}, {"<-", EDITOR_TOKEN_PUNCTUATION},
    {"::", EDITOR_TOKEN_PUNCTUATION}, {":=", EDITOR_TOKEN_PUNCTUATION},
};

static inline b8 is_digit(u8 c) { return c >= '0' && c <= '9'; }
static inline b8 is_ascii_letter(u8 c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

static inline b8 text_matches(u8* text, s64 length, s64 at, String s) {
    return s.count > 0 && s.count <= length - at && memcmp(text + at, s.data, s.count) == 0;
}

static inline s64 finish_token(Editor_Token* out, s64 offset, s64 length, u16 kind) {
    out->offset = offset;
    out->length = (u32)length;
    out->kind = kind;
    return offset + length;
}

//~ Forward

s64 lex_next_token(u8* text, s64 length, s64 offset, Tokenisation_Hint* hint, Editor_Token* out) {
    out->length = 0;
    out->kind = EDITOR_TOKEN_NONE;
    if (!text || length <= 0 || offset >= length) return -1;
    if (offset < 0) offset = 0;
    s64 i = offset;
    while (i < length && lexer_tables.byte_class[text[i]] == CLASS_BLANK) i++;
    if (i >= length) return -1;

    if (hint) {
        if (text_matches(text, length, i, hint->block_start)) return finish_token(out, i, hint->block_start.count, EDITOR_TOKEN_BLOCK_START);
        if (text_matches(text, length, i, hint->block_end)) return finish_token(out, i, hint->block_end.count, EDITOR_TOKEN_BLOCK_END);
        if (text_matches(text, length, i, hint->line_comment)) return finish_token(out, i, hint->line_comment.count, EDITOR_TOKEN_LINE_COMMENT);
    }

    u8 c = text[i];
    if (c == '\r') return finish_token(out, i, (i + 1 < length && text[i + 1] == '\n') ? 2 : 1, EDITOR_TOKEN_NEW_LINE);
    if (c == '\n') return finish_token(out, i, 1, EDITOR_TOKEN_NEW_LINE);

    b8 next_is_digit = i + 1 < length && is_digit(text[i + 1]);
    b8 starts_number = is_digit(c) || ((c == '+' || c == '-') && next_is_digit);
    if (c == '.' && next_is_digit) {
        starts_number = i == 0 || lexer_tables.byte_class[text[i - 1]] == CLASS_BLANK ||
                        lexer_tables.byte_class[text[i - 1]] == CLASS_NEW_LINE;
    }
    if (starts_number) {
        s64 j = is_digit(c) ? i : i + 1;
        while (j < length && is_digit(text[j])) j++;
        while (j < length) {
            u8 d = text[j];
            if (d == '.' && j + 1 < length && text[j + 1] == '.') break;
            if (d != '.' && d != '_' && !is_ascii_letter(d)) break;
            j++;
            while (j < length && is_digit(text[j])) j++;
        }
        return finish_token(out, i, j - i, EDITOR_TOKEN_NUMBER);
    }

    if (lexer_tables.byte_class[c] == CLASS_WORD) {
        s64 j = i + 1;
        while (j < length && lexer_tables.byte_class[text[j]] == CLASS_WORD) j++;
        return finish_token(out, i, j - i, EDITOR_TOKEN_WORD);
    }

    s64 left = length - i;
    if (left >= 4 && (memcmp(text + i, ">>>=", 4) == 0 || memcmp(text + i, "<<<=", 4) == 0)) {
        return finish_token(out, i, 4, EDITOR_TOKEN_OPERATOR);
    }
    if (left >= 2) {
        for (const Operator_Pair& p : operator_pairs) {
            if (text[i] == (u8)p.text[0] && text[i + 1] == (u8)p.text[1]) return finish_token(out, i, 2, p.kind);
        }
    }
    return finish_token(out, i, 1, lexer_tables.single_kind[c]);  // every punctuation octet has a kind
}

s64 editor_get_next_token(Editor_File* file, s64 offset, Editor_Token* out) {
    file = editor_file_or_current(file);
    out->length = 0;
    out->kind = EDITOR_TOKEN_NONE;
    if (!file) return -1;
    return lex_next_token(file->text.data, file->text.count, offset, get_tokenisation_hint_for_file(file), out);
}

//~ Backward

static b8 hint_uses_octet(Tokenisation_Hint* hint, u8 c) {
    if (!hint) return false;
    String texts[3] = {hint->line_comment, hint->block_start, hint->block_end};
    for (String& s : texts) {
        if (s.count > 0 && memchr(s.data, c, s.count)) return true;
    }
    return false;
}

// The nearest position p < end, and above lowest, at which no token of a forward lex from
// the start can span: just after an octet that is always a token of its own (a CR only
// when no LF follows it); else lowest, which the caller knows to be such a position.
// Octets the hint's texts contain do not count, since a hint token may run over them.
static s64 find_token_boundary_before(u8* text, s64 end, s64 lowest, Tokenisation_Hint* hint) {
    for (s64 p = end - 1; p > lowest; p--) {
        u8 c = text[p - 1];
        b8 alone = lexer_tables.always_alone[c] || (c == '\r' && text[p] != '\n');
        if (alone && !hint_uses_octet(hint, c)) return p;
    }
    return lowest;
}

//~ Remembered lexer states
// Without them, walking back token by token over a long line without separators lexes
// the line from its start at every step. The forward lexes that the backward lexer runs
// leave behind, about every LEXER_STATE_INTERVAL octets, positions where a token of a
// forward lex from the start ends, from which a lex gives the same tokens; and the tokens
// of the last stretch lexed, which the next steps back take without lexing. One text at a
// time, dropped whenever that text changes.

#define LEXER_STATE_INTERVAL 4096
#define LEXER_RECENT_TOKENS 8192

struct Lexer_Memory {
    u8 lock;  // guards the rest; only tried, so a second thread lexes without the memory
    Editor_File* file;
    u8* text;
    s64 length;
    Tokenisation_Hint* hint;
    Dynamic_Array states;  // s64 positions, ascending
    Dynamic_Array recent;  // Editor_Token: consecutive tokens of a forward lex
    s64 recent_limit;      // every token from recent[0] that starts before it is in recent
    u32 recent_answer;     // index of the last token handed out from recent
};

static Lexer_Memory lexer_memory;

// Keeps the storage for the next text.
static void drop_remembered_states() {
    lexer_memory.states.count = 0;
    lexer_memory.recent.count = 0;
}

void editor_forget_lexer_states(Editor_File* file) {
    spin_lock(&lexer_memory.lock);
    if (!file || lexer_memory.file == file) {
        drop_remembered_states();
        lexer_memory.file = nullptr;
    }
    spin_unlock(&lexer_memory.lock);
}

// Takes the memory for this text, starting it afresh when it was kept for another text,
// another length or another hint (a change of the hints themselves forgets it). False
// (nothing taken) while another thread has it.
static b8 take_lexer_memory(Editor_File* file, Tokenisation_Hint* hint) {
    if (!spin_try_lock(&lexer_memory.lock)) return false;
    Lexer_Memory* m = &lexer_memory;
    b8 same = m->file == file && m->text == file->text.data && m->length == (s64)file->text.count && m->hint == hint;
    if (!same) {
        if (!m->states.element_size) init_dynamic_array(&m->states, sizeof(s64));
        if (!m->recent.element_size) init_dynamic_array(&m->recent, sizeof(Editor_Token));
        drop_remembered_states();
        m->file = file;
        m->text = file->text.data;
        m->length = file->text.count;
        m->hint = hint;
    }
    return true;
}

// The last remembered token that starts before offset, when the remembered stretch holds it.
static Editor_Token* find_recent_token(s64 offset) {
    Editor_Token* tokens = (Editor_Token*)lexer_memory.recent.data;
    u32 count = lexer_memory.recent.count;
    if (!count || tokens[0].offset >= offset || offset > lexer_memory.recent_limit) return nullptr;
    // A walk back asks for the token before the one it was given last.
    u32 guess = lexer_memory.recent_answer;
    if (guess < count && guess > 0 && tokens[guess - 1].offset < offset && offset <= tokens[guess].offset) {
        lexer_memory.recent_answer = guess - 1;
        return &tokens[guess - 1];
    }
    u32 low = 0, high = count;  // tokens[low].offset < offset <= tokens[high].offset
    while (high - low > 1) {
        u32 middle = low + (high - low) / 2;
        if (tokens[middle].offset < offset) low = middle;
        else high = middle;
    }
    lexer_memory.recent_answer = low;
    return &tokens[low];
}

// How many remembered positions lie below end; the last of them is where to lex from.
static u32 count_states_below(s64 end) {
    s64* states = (s64*)lexer_memory.states.data;
    u32 low = 0, high = lexer_memory.states.count;
    while (low < high) {
        u32 middle = low + (high - low) / 2;
        if (states[middle] < end) low = middle + 1;
        else high = middle;
    }
    return low;
}

// Only the tokens that start within LEXER_RECENT_TOKENS octets before the offset are
// kept: no more than that many tokens start there, and they are the ones a walk back
// wants next.
static void remember_recent_token(Editor_Token* token, s64 offset) {
    Dynamic_Array* recent = &lexer_memory.recent;
    if (token->offset + LEXER_RECENT_TOKENS < offset || recent->count >= LEXER_RECENT_TOKENS) return;
    Editor_Token* slot = (Editor_Token*)dynamic_array_add_fast(recent);
    if (slot) *slot = *token;
    else recent->count = 0;  // what is kept must have no gap
}

s64 editor_get_previous_token(Editor_File* file, s64 offset, Editor_Token* out) {
    file = editor_file_or_current(file);
    out->length = 0;
    if (!file) return -1;
    u8* text = file->text.data;
    s64 length = file->text.count;
    if (offset > length) offset = length;
    if (length <= 0 || offset <= 0) return -1;
    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(file);
    b8 remembering = take_lexer_memory(file, hint);

    if (remembering) {
        Editor_Token* known = find_recent_token(offset);
        if (known) {
            // An edit that kept the text's length and missed the cut-back shows here.
            Editor_Token check;
            if (lex_next_token(text, length, known->offset, hint, &check) >= 0 && check.offset == known->offset &&
                check.length == known->length && check.kind == known->kind) {
                *out = *known;
                spin_unlock(&lexer_memory.lock);
                return out->offset + out->length;
            }
            drop_remembered_states();
        }
    }

    // Lex forward from a boundary before the offset; when only blanks lie between the two,
    // the answer starts before that boundary, so look again from there.
    s64 answer = -1;
    s64 end = offset;
    while (end > 0) {
        s64 start = 0;
        u32 state_index = 0;  // where the next remembered position goes
        if (remembering) {
            state_index = count_states_below(end);
            if (state_index) start = ((s64*)lexer_memory.states.data)[state_index - 1];
            lexer_memory.recent.count = 0;
        }
        start = find_token_boundary_before(text, end, start, hint);

        Editor_Token token, last;
        b8 found = false;
        s64 at = start;
        s64 last_state = start;
        while (lex_next_token(text, length, at, hint, &token) >= 0 && token.offset < offset) {
            last = token;
            found = true;
            at = token.offset + token.length;
            if (!remembering) continue;
            remember_recent_token(&token, offset);
            // Positions already remembered are passed over, not added again.
            s64* states = (s64*)lexer_memory.states.data;
            while (state_index < lexer_memory.states.count && states[state_index] <= at) last_state = states[state_index++];
            if (at - last_state >= LEXER_STATE_INTERVAL) {
                s64* slot = (s64*)dynamic_array_insert(&lexer_memory.states, state_index);
                if (slot) {
                    *slot = at;
                    state_index++;
                    last_state = at;
                }
            }
        }
        if (remembering) lexer_memory.recent_limit = offset;
        if (found) {
            *out = last;
            answer = last.offset + last.length;
            break;
        }
        // No token starts on a blank, so the answer also starts before the blank run.
        end = start;
        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
    }
    if (remembering) spin_unlock(&lexer_memory.lock);
    return answer;
}

s64 editor_get_token_at_offset(Editor_File* file, s64 offset, Editor_Token* out) {
    file = editor_file_or_current(file);
    out->offset = 0;
    out->length = 0;
    out->kind = EDITOR_TOKEN_NONE;
    if (!file || file->text.count <= 0) return -1;
    Editor_Token next, previous;
    s64 next_end = editor_get_next_token(file, offset, &next);
    s64 previous_end = editor_get_previous_token(file, offset, &previous);
    if (next_end >= 0 && next.offset == offset) {
        *out = (previous_end < 0 || previous_end <= offset) ? next : previous;
        return out->offset + out->length;
    }
    if (previous_end < 0 || previous_end < offset) return -1;
    *out = previous;
    return previous_end;
}

//~ Syntax state

// Just after the quote that closes the string opened at open_at, a backslash escaping the
// octet after it; -1 when it does not close before limit.
static s64 skip_string(u8* text, s64 open_at, s64 limit) {
    u8 quote = text[open_at];
    for (s64 i = open_at + 1; i < limit; i++) {
        if (text[i] == '\\') i++;
        else if (text[i] == quote) return i + 1;
    }
    return -1;
}

// The syntax state at start, lexed from the last resume point before it (leaving new ones
// on the way). Returns where a lex may begin that meets the tokens a lex from the text's
// start meets: the end of the last token before start; the start of a line comment that
// runs over it; start itself inside a string.
static s64 find_syntax_state(Editor_File* file, s64 start, u32* out_depth, u16* out_string_state) {
    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(file);
    // Only the three quote bits open strings; other bits a layer may set mean nothing here.
    const u16 quotes = EDITOR_TOKEN_DOUBLE_QUOTE | EDITOR_TOKEN_SINGLE_QUOTE | EDITOR_TOKEN_BACKQUOTE;
    u16 delimiters = hint ? hint->string_delimiters & quotes : 0;
    u8* text = file->text.data;
    s64 length = file->text.count;
    Syntax_Resume_Point from = view_index_get_resume_point(file, hint, start);
    u32 depth = from.depth;
    u16 string_state = 0;
    s64 at = from.at;
    s64 boundary = at;
    Editor_Token token;
    while (lex_next_token(text, length, at, hint, &token) >= 0 && token.offset + token.length <= start) {
        at = token.offset + token.length;
        if (token.kind == EDITOR_TOKEN_BLOCK_START) {
            depth++;
        } else if (token.kind == EDITOR_TOKEN_BLOCK_END) {
            if (depth > 0) depth--;
        } else if (depth == 0 && token.kind == EDITOR_TOKEN_LINE_COMMENT) {
            while (at < length && text[at] != '\n' && text[at] != '\r') at++;
            if (at > start) {
                boundary = token.offset;
                break;
            }
        } else if (depth == 0 && (token.kind & delimiters)) {
            // A " or ` right after ' is a character literal, not an opening quote.
            b8 after_single_quote = token.offset > 0 && text[token.offset - 1] == '\'';
            if (token.kind == EDITOR_TOKEN_SINGLE_QUOTE || !after_single_quote) {
                s64 after = skip_string(text, token.offset, start);
                if (after < 0) {
                    string_state = token.kind;
                    boundary = start;
                    break;
                }
                at = after;
            }
        }
        boundary = at;
        view_index_add_resume_point(file, at, depth);
    }
    *out_depth = depth;
    *out_string_state = string_state;
    return boundary;
}

void compute_syntax_state(Editor_File* file, s64 start, s64 end) {
    if (start > (s64)file->text.count) start = file->text.count;
    u32 depth;
    u16 string_state;
    find_syntax_state(file, start, &depth, &string_state);
    file->syntax_start = start;
    file->syntax_end = end;
    file->block_depth = depth;
    file->string_state = string_state;
}

s64 compute_syntax_state_from_token(Editor_File* file, s64 start, s64 end) {
    if (start > (s64)file->text.count) start = file->text.count;
    u32 depth;
    u16 string_state;
    s64 boundary = find_syntax_state(file, start, &depth, &string_state);
    file->syntax_start = boundary;
    file->syntax_end = end;
    file->block_depth = depth;
    file->string_state = string_state;
    return boundary;
}

void editor_get_syntax_highlighting_info(Editor_File* file, s64* start, s64* end, u32* depth, u8* state) {
    file = editor_file_or_current(file);
    if (!file) return;
    *start = file->syntax_start;
    *end = file->syntax_end;
    *depth = file->block_depth;
    *state = (u8)file->string_state;
}

//~ Context chunks

void update_context_chunks(Editor_File* file, s64 offset) {
    // Every edit comes here, so the positions the backward lexer remembered go too.
    editor_forget_lexer_states(file);
    view_index_note_change(file, offset);
    Context_Chunk* chunks = (Context_Chunk*)file->context_chunks.data;
    u32 keep = 0;
    while (keep < file->context_chunks.count && (s64)chunks[keep].offset <= offset) keep++;
    file->context_chunks.count = keep;
}
