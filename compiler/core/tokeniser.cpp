// The tokeniser: one pass over a file's octets, no backtracking, no copies of the text.
// Brackets of all kinds share one stack, so groups always nest and a search that jumps
// from an opener to its closer never leaves the group it is in. A string literal or block
// comment that never closes is an error at its opening, not a silent end of the file.
#include <string.h>

#include "compiler/core/compiler_core.h"

enum Bracket_Kind : u8 { BRACKET_BRACE, BRACKET_PARENTHESIS, BRACKET_SQUARE, BRACKET_KIND_COUNT };

static const u8 BRACKET_OPENERS[BRACKET_KIND_COUNT] = {'{', '(', '['};
static const u8 BRACKET_CLOSERS[BRACKET_KIND_COUNT] = {'}', ')', ']'};
static const u64 BRACKET_OPEN_KINDS[BRACKET_KIND_COUNT] = {TOKEN_OPEN_BRACE, TOKEN_OPEN_PARENTHESIS, TOKEN_OPEN_BRACKET};
static const u64 BRACKET_CLOSE_KINDS[BRACKET_KIND_COUNT] = {TOKEN_CLOSE_BRACE, TOKEN_CLOSE_PARENTHESIS,
                                                           TOKEN_CLOSE_BRACKET};

struct Tokeniser {
    Bucket_Array* tokens;
    u8* end;
    Trace location;           // file index, line and line start of the current position
    Token* word;              // the open identifier, directive or literal
    Token* brackets[BRACKET_KIND_COUNT * MAX_SCOPE_CHAIN_LENGTH];
    u8 bracket_kinds[BRACKET_KIND_COUNT * MAX_SCOPE_CHAIN_LENGTH];
    u32 bracket_count;
    u32 open_of_kind[BRACKET_KIND_COUNT];
    Token* colons[MAX_PENDING_COLONS];
    u32 colon_count;
};

//~ Byte classes

// Every byte that is not punctuation, a blank or a line break continues a word: letters,
// digits, '_', '#', '\', '`', control octets and every octet of 128 and above.
struct Word_Byte_Table {
    b8 is_word[256];
    constexpr Word_Byte_Table() : is_word() {
        for (u32 c = 0; c < 256; c++) is_word[c] = true;
        const char* punctuation = " \t\n\r\"/+-.()[]{}:;,$?'!~@=<>*%&|^";
        for (const char* p = punctuation; *p; p++) is_word[(u8)*p] = false;
    }
};
static constexpr Word_Byte_Table WORD_BYTES;

static b8 is_digit(u8 c) { return c >= '0' && c <= '9'; }

//~ Tokens

Token* add_a_token(Bucket_Array* tokens, u8* text, u64 kind, u64 value, u8 priority, Trace location) {
    Token* token = (Token*)bucket_array_append(tokens);
    if (!token) {
        report_out_of_compiler_memory("tokens");
        return 0;
    }
    token->text = text;
    token->length = 1;
    token->location.file_index = location.file_index;
    token->location.line = location.line;
    token->location.line_start = location.line_start;
    token->location.text_start = text;
    token->location.length = 1;
    token->value = value;
    token->priority = priority;
    token->kind = kind;
    return token;
}

u8* get_next_char(u8* position, u8* end) { return position < end ? position + 1 : 0; }

static Token* add_token(Tokeniser* t, u8* text, u64 length, u64 kind, u64 value, u8 priority) {
    Token* token = add_a_token(t->tokens, text, kind, value, priority, t->location);
    if (token) {
        token->length = length;
        token->location.length = length;
    }
    return token;
}

static void end_word(Tokeniser* t) {
    if (!t->word) return;
    t->word->location.length = t->word->length;
    t->word = 0;
}

// The current position as a one-place trace, for errors where no token exists yet.
static Trace trace_at(Tokeniser* t, u8* at, u64 length) {
    Trace trace = t->location;
    trace.text_start = at;
    trace.length = length;
    return trace;
}

static void new_line(Tokeniser* t, u8* next_line) {
    t->location.line++;
    t->location.line_start = next_line;
}

// At a line break: the position after it (a CR LF pair counts once).
static u8* skip_line_break(Tokeniser* t, u8* p) {
    if (*p == '\r' && p + 1 < t->end && p[1] == '\n') p++;
    new_line(t, p + 1);
    return p + 1;
}

//~ Operators

struct Operator_Spelling {
    const char* text;
    u8 length;
    u64 kind;
    u64 value;
    u8 priority;
};

// Longest first within each leading byte, so the first match is the right one.
static const Operator_Spelling OPERATORS[] = {
    {"<<<=", 4, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ROTATE_LEFT, PRIORITY_ASSIGNMENT},
    {">>>=", 4, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ROTATE_RIGHT, PRIORITY_ASSIGNMENT},
    {"<<<", 3, TOKEN_BINARY_OPERATOR, OP_ROTATE_LEFT, PRIORITY_MULTIPLICATIVE},
    {">>>", 3, TOKEN_BINARY_OPERATOR, OP_ROTATE_RIGHT, PRIORITY_MULTIPLICATIVE},
    {"<<=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SHIFT_LEFT, PRIORITY_ASSIGNMENT},
    {">>=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SHIFT_RIGHT, PRIORITY_ASSIGNMENT},
    {"||=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_LOGICAL_OR, PRIORITY_ASSIGNMENT},
    {"&&=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_LOGICAL_AND, PRIORITY_ASSIGNMENT},
    {"!=", 2, TOKEN_BINARY_OPERATOR, OP_NOT_EQUAL, PRIORITY_COMPARISON},
    {"%=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_MODULO, PRIORITY_ASSIGNMENT},
    {"&=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_BIT_AND, PRIORITY_ASSIGNMENT},
    {"*=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_MULTIPLY, PRIORITY_ASSIGNMENT},
    {"+=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ADD, PRIORITY_ASSIGNMENT},
    {"-=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SUBTRACT, PRIORITY_ASSIGNMENT},
    {"/=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_DIVIDE, PRIORITY_ASSIGNMENT},
    {"<=", 2, TOKEN_BINARY_OPERATOR, OP_LESS_EQUAL, PRIORITY_COMPARISON},
    {"==", 2, TOKEN_BINARY_OPERATOR, OP_EQUAL, PRIORITY_COMPARISON},
    {">=", 2, TOKEN_BINARY_OPERATOR, OP_GREATER_EQUAL, PRIORITY_COMPARISON},
    {"^=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_BIT_XOR, PRIORITY_ASSIGNMENT},
    {"|=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_BIT_OR, PRIORITY_ASSIGNMENT},
    {"&&", 2, TOKEN_BINARY_OPERATOR, OP_LOGICAL_AND, PRIORITY_LOGICAL},
    {"||", 2, TOKEN_BINARY_OPERATOR, OP_LOGICAL_OR, PRIORITY_LOGICAL},
    {"<<", 2, TOKEN_BINARY_OPERATOR, OP_SHIFT_LEFT, PRIORITY_MULTIPLICATIVE},
    {">>", 2, TOKEN_BINARY_OPERATOR, OP_SHIFT_RIGHT, PRIORITY_MULTIPLICATIVE},
    {"++", 2, TOKEN_UNARY_OPERATOR, OP_INCREMENT, 0},
    {"--", 2, TOKEN_UNARY_OPERATOR, OP_DECREMENT, 0},
    {"->", 2, TOKEN_ARROW, 0, 0},
};

// The operators of one byte, used when no longer spelling matched.
static const Operator_Spelling SINGLE_OPERATORS[] = {
    {"!", 1, TOKEN_UNARY_OPERATOR, OP_NOT, 0},
    {"~", 1, TOKEN_UNARY_OPERATOR, OP_BIT_NOT, 0},
    {"@", 1, TOKEN_AT, OP_ADDRESS, 0},
    {"=", 1, TOKEN_BINARY_OPERATOR, OP_ASSIGN, PRIORITY_ASSIGNMENT},
    {"<", 1, TOKEN_BINARY_OPERATOR, OP_LESS, PRIORITY_COMPARISON},
    {">", 1, TOKEN_BINARY_OPERATOR, OP_GREATER, PRIORITY_COMPARISON},
    {"*", 1, TOKEN_BINARY_OPERATOR, OP_MULTIPLY, PRIORITY_MULTIPLICATIVE},
    {"%", 1, TOKEN_BINARY_OPERATOR, OP_MODULO, PRIORITY_MULTIPLICATIVE},
    {"&", 1, TOKEN_BINARY_OPERATOR, OP_BIT_AND, PRIORITY_ADDITIVE},
    {"|", 1, TOKEN_BINARY_OPERATOR, OP_BIT_OR, PRIORITY_ADDITIVE},
    {"^", 1, TOKEN_BINARY_OPERATOR, OP_BIT_XOR, PRIORITY_ADDITIVE},
    {"+", 1, TOKEN_BINARY_OPERATOR, OP_ADD, PRIORITY_ADDITIVE},
    {"-", 1, TOKEN_BINARY_OPERATOR, OP_SUBTRACT, PRIORITY_ADDITIVE},
    {"/", 1, TOKEN_BINARY_OPERATOR, OP_DIVIDE, PRIORITY_MULTIPLICATIVE},
};

static const Operator_Spelling* match_operator(u8* p, u8* end) {
    u64 left = (u64)(end - p);
    for (const Operator_Spelling& o : OPERATORS) {
        if (o.text[0] == p[0] && o.length <= left && memcmp(p, o.text, o.length) == 0) return &o;
    }
    return 0;
}

static const Operator_Spelling* match_single_operator(u8 c) {
    for (const Operator_Spelling& o : SINGLE_OPERATORS) {
        if ((u8)o.text[0] == c) return &o;
    }
    return 0;
}

//~ Brackets and colons

static s32 get_bracket_kind(u8 c, const u8* table) {
    for (u32 k = 0; k < BRACKET_KIND_COUNT; k++) {
        if (table[k] == c) return (s32)k;
    }
    return -1;
}

static b8 open_bracket(Tokeniser* t, u8* p, u32 kind) {
    if (t->open_of_kind[kind] == MAX_SCOPE_CHAIN_LENGTH) {
        print_error_on_string(trace_at(t, p, 1), "You can only have up to %u inner scopes.", MAX_SCOPE_CHAIN_LENGTH);
        return false;
    }
    Token* token = add_token(t, p, 1, BRACKET_OPEN_KINDS[kind], 0, 0);
    if (!token) return false;
    t->brackets[t->bracket_count] = token;
    t->bracket_kinds[t->bracket_count] = (u8)kind;
    t->bracket_count++;
    t->open_of_kind[kind]++;
    return true;
}

static b8 close_bracket(Tokeniser* t, u8* p, u32 kind) {
    if (t->open_of_kind[kind] == 0) {
        print_error_on_string(trace_at(t, p, 1), "There is no matching '%c' for this.", BRACKET_OPENERS[kind]);
        return false;
    }
    // Groups must nest: a closer of another kind leaves the innermost group unclosed.
    u32 top = t->bracket_count - 1;
    u32 top_kind = t->bracket_kinds[top];
    if (top_kind != kind) {
        print_error_on_token(t->brackets[top], "There is no matching '%c' for this.", BRACKET_CLOSERS[top_kind]);
        return false;
    }
    Token* token = add_token(t, p, 1, BRACKET_CLOSE_KINDS[kind], 0, 0);
    if (!token) return false;
    t->brackets[top]->value = (u64)token;
    t->bracket_count--;
    t->open_of_kind[kind]--;
    return true;
}

static b8 add_colon(Tokeniser* t, u8* p) {
    if (t->colon_count == MAX_PENDING_COLONS) {
        // Between brackets the colons are a parameter list's: the declaration's own colon
        // and one per parameter wait together for the declaration's ';'.
        if (t->open_of_kind[BRACKET_PARENTHESIS]) {
            print_error_on_string(trace_at(t, p, 1), "A sub-program takes at most %u parameters.", MAX_PENDING_COLONS - 1);
        } else {
            print_error_on_string(trace_at(t, p, 1), "Did you forget a ';' somwhere around here?");
        }
        return false;
    }
    Token* token = add_token(t, p, 1, TOKEN_COLON, 0, 0);
    if (!token) return false;
    t->colons[t->colon_count++] = token;
    return true;
}

static b8 add_semicolon(Tokeniser* t, u8* p) {
    Token* token = add_token(t, p, 1, TOKEN_SEMICOLON, 0, 0);
    if (!token) return false;
    for (u32 i = 0; i < t->colon_count; i++) t->colons[i]->value = (u64)token;
    t->colon_count = 0;
    return true;
}

//~ Strings and comments

// p is at the opening quote. The position after the closing quote, or null after the report.
static u8* read_string_literal(Tokeniser* t, u8* p) {
    Trace opening = trace_at(t, p, 1);
    Token* token = add_token(t, p + 1, 0, TOKEN_STRING_LITERAL, 0, 0);
    if (!token) return 0;
    u8* at = p + 1;
    while (at < t->end) {
        u8 c = *at;
        if (c == '"') {
            token->length = (u64)(at - token->text);
            token->location.length = token->length;
            return at + 1;
        }
        if (c == '\\' && at + 1 < t->end && (at[1] == '"' || at[1] == '\\')) at += 2;
        else if (c == '\n' || c == '\r') at = skip_line_break(t, at);
        else at++;
    }
    token->length = (u64)(t->end - token->text);
    token->location.length = token->length;
    print_error_on_string(opening, "This string literal is never closed.");
    return 0;
}

// p is at "/*". The position after the comment, or null after the report.
static u8* skip_block_comment(Tokeniser* t, u8* p) {
    Trace opening = trace_at(t, p, 2);
    u32 depth = 1;
    b8 quoted = false;
    u8* at = p + 2;
    while (at < t->end) {
        u8 c = *at;
        b8 two = at + 1 < t->end;
        if (c == '\\' && two && (at[1] == '"' || at[1] == '\\')) {
            at += 2;
        } else if (c == '"') {
            quoted = !quoted;
            at++;
        } else if (c == '\n' || c == '\r') {
            at = skip_line_break(t, at);
        } else if (!quoted && c == '/' && two && at[1] == '*') {
            depth++;
            at += 2;
        } else if (!quoted && c == '*' && two && at[1] == '/') {
            at += 2;
            if (--depth == 0) return at;
        } else {
            at++;
        }
    }
    print_error_on_string(opening, "This comment is never closed.");
    return 0;
}

//~ The pass

static void open_word(Tokeniser* t, u8* p, u64 length, u64 kind) { t->word = add_token(t, p, length, kind, 0, 0); }

static b8 finish(Tokeniser* t) {
    end_word(t);
    static const char* const MESSAGES[BRACKET_KIND_COUNT] = {
        "There is no matching '}' for this.", "There is no matching ')' for this.", "There is no matching ']' for this."};
    for (u32 kind = 0; kind < BRACKET_KIND_COUNT; kind++) {
        if (!t->open_of_kind[kind]) continue;
        u32 i = t->bracket_count;
        while (t->bracket_kinds[i - 1] != kind) i--;
        print_error_on_token(t->brackets[i - 1], "%s", MESSAGES[kind]);
        return false;
    }
    if (t->colon_count) {
        print_error_on_token(t->colons[t->colon_count - 1], "There is no corresponding ';' for this ':'.");
        return false;
    }
    return true;
}

b8 tokenise_file(Source_File* file) {
    if (!file->tokens.pool) init_bucket_array(&file->tokens, &tokens_pool);
    if (!file->text || !file->text_size) return true;

    Tokeniser t = {};
    t.tokens = &file->tokens;
    t.end = file->text + file->text_size;
    t.location.file_index = file->index;
    t.location.line = 1;
    t.location.line_start = file->text;

    u8* p = file->text;
    u8* end = t.end;
    // A UTF-8 byte-order mark, which some editors write first, is not part of the text.
    if (end - p >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        t.location.line_start = p;
    }
    while (p < end) {
        u8 c = *p;

        //- Words: a run of word bytes opens or lengthens the open word.
        if (WORD_BYTES.is_word[c]) {
            u8* run = p + 1;
            while (run < end && WORD_BYTES.is_word[*run]) run++;
            if (t.word) {
                t.word->length += (u64)(run - p);
            } else {
                u64 kind = is_digit(c) ? TOKEN_UNSIGNED_INTEGER_LITERAL : c == '#' ? TOKEN_DIRECTIVE : TOKEN_IDENTIFIER;
                open_word(&t, p, (u64)(run - p), kind);
                if (!t.word) return false;
            }
            p = run;
            continue;
        }

        //- A point may continue a number or start one.
        if (c == '.') {
            if (t.word && (t.word->kind & TOKEN_INTEGER_LITERAL)) {
                t.word->kind = TOKEN_REAL_LITERAL;
                t.word->length++;
                p++;
                continue;
            }
            u8 priority = t.word ? PRIORITY_TIGHT_DOT : PRIORITY_LOOSE_DOT;
            end_word(&t);
            if (priority == PRIORITY_LOOSE_DOT && p + 1 < end && is_digit(p[1])) {
                open_word(&t, p, 1, TOKEN_REAL_LITERAL);
                if (!t.word) return false;
            } else if (!add_token(&t, p, 1, TOKEN_BINARY_OPERATOR, OP_DOT, priority)) {
                return false;
            }
            p++;
            continue;
        }

        end_word(&t);
        switch (c) {
            case ' ':
            case '\t': p++; continue;
            case '\n':
            case '\r': p = skip_line_break(&t, p); continue;
            case '"':
                p = read_string_literal(&t, p);
                if (!p) return false;
                continue;
            case '/':
                if (p + 1 < end && p[1] == '/') {
                    while (p < end && *p != '\n' && *p != '\r') p++;
                    continue;
                }
                if (p + 1 < end && p[1] == '*') {
                    p = skip_block_comment(&t, p);
                    if (!p) return false;
                    continue;
                }
                break;
            case ':':
                if (!add_colon(&t, p)) return false;
                p++;
                continue;
            case ';':
                if (!add_semicolon(&t, p)) return false;
                p++;
                continue;
            case ',':
            case '$':
            case '?':
            case '\'': {
                u64 kind = c == ',' ? TOKEN_COMMA : c == '$' ? TOKEN_DOLLAR : c == '?' ? TOKEN_QUESTION_MARK : TOKEN_QUOTE;
                if (!add_token(&t, p, 1, kind, 0, 0)) return false;
                p++;
                continue;
            }
        }

        s32 bracket = get_bracket_kind(c, BRACKET_OPENERS);
        if (bracket >= 0) {
            if (!open_bracket(&t, p, (u32)bracket)) return false;
            p++;
            continue;
        }
        bracket = get_bracket_kind(c, BRACKET_CLOSERS);
        if (bracket >= 0) {
            if (!close_bracket(&t, p, (u32)bracket)) return false;
            p++;
            continue;
        }

        const Operator_Spelling* op = match_operator(p, end);
        if (!op && (c == '+' || c == '-')) {
            // A sign glued to a number belongs to it, whatever stands before the sign.
            if (p + 1 < end && is_digit(p[1])) {
                open_word(&t, p, 2, TOKEN_SIGNED_INTEGER_LITERAL);
                if (!t.word) return false;
                p += 2;
                continue;
            }
            if (p + 2 < end && p[1] == '.' && is_digit(p[2])) {
                open_word(&t, p, 3, TOKEN_REAL_LITERAL);
                if (!t.word) return false;
                p += 3;
                continue;
            }
        }
        if (!op) op = match_single_operator(c);
        if (!add_token(&t, p, op->length, op->kind, op->value, op->priority)) return false;
        p += op->length;
    }
    return finish(&t);
}
