// A block's output cut into coloured text runs and line breaks, and the few escape
// sequences that colour it or move to a new row. Everything is bounded: output is whatever
// a program writes, so no sequence may cost more memory or time than its own bytes.
// A sequence cut by the end of a read waits for the rest, so the tokens never depend on
// where the reads happened to end.

#include "terminal/terminal.h"

#include <string.h>

static const Rgba WHITE = {1, 1, 1, 1};
static const Rgba BLACK = {0, 0, 0, 1};
static const u8 ESC = 0x1B;

const Rgba terminal_small_colour_table[16] = {
    {0, 0, 0, 1},       {0.5f, 0, 0, 1},    {0, 0.5f, 0, 1},    {0.5f, 0.5f, 0, 1},
    {0, 0, 0.5f, 1},    {0.5f, 0, 0.5f, 1}, {0, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1},
    {0.3f, 0.3f, 0.3f, 1}, {1, 0, 0, 1},    {0, 1, 0, 1},       {1, 1, 0, 1},
    {0, 0, 1, 1},       {1, 0, 1, 1},       {0, 1, 1, 1},       {1, 1, 1, 1},
};

Rgba terminal_big_colour_table[256];

void fill_terminal_big_colour_table() {
    for (u32 i = 0; i < 16; i++) terminal_big_colour_table[i] = terminal_small_colour_table[i];
    // The cube tops out at 5/6 and the greys at 23/24, never at 1: that is the palette.
    for (u32 r = 0; r < 6; r++) {
        for (u32 g = 0; g < 6; g++) {
            for (u32 b = 0; b < 6; b++) {
                terminal_big_colour_table[16 + 36 * r + 6 * g + b] = Rgba{r / 6.0f, g / 6.0f, b / 6.0f, 1};
            }
        }
    }
    for (u32 k = 0; k < 24; k++) terminal_big_colour_table[232 + k] = Rgba{k / 24.0f, k / 24.0f, k / 24.0f, 1};
}

void reset_terminal_result_text(Terminal_Result* block) {
    block->text.count = 0;
    block->tokens.count = 0;
    block->parse_position = 0;
    block->default_colour = 1;
    block->foreground = WHITE;
    block->background = BLACK;
    block->line_count = 1;
    // Token indexes of the old text mean nothing in the new one.
    block->selection_start = Terminal_Selection_End{};
    block->selection_end = Terminal_Selection_End{};
}

static Terminal_Token* add_token(Terminal_Result* block, u8 kind, u64 offset, u32 length) {
    Terminal_Token* token = (Terminal_Token*)dynamic_array_add_fast(&block->tokens);
    if (!token) return 0;
    memset(token, 0, sizeof(*token));
    token->kind = kind;
    token->offset = offset;
    token->length = length;
    token->default_colour = block->default_colour;
    if (kind == TERMINAL_TOKEN_TEXT) {
        token->foreground = block->foreground;
        token->background = block->background;
    }
    return token;
}

//~ Control sequences

struct Sequence_Parameters {
    u32 values[TERMINAL_MAX_SEQUENCE_PARAMETERS];
    u32 count;  // all that were given; only the first TERMINAL_MAX_SEQUENCE_PARAMETERS are kept
};

static u32 next_parameter(Sequence_Parameters* p, u32* i) {
    u32 kept = p->count < TERMINAL_MAX_SEQUENCE_PARAMETERS ? p->count : TERMINAL_MAX_SEQUENCE_PARAMETERS;
    return *i < kept ? p->values[(*i)++] : 0;  // a missing parameter counts as 0
}

// 38 and 48 with their sub-parameters: 5;n picks a row of the 256 colours, 2;r;g;b a true
// colour. False when the colour is to be ignored.
static b8 extended_colour(Sequence_Parameters* p, u32* i, Rgba* colour) {
    u32 kind = next_parameter(p, i);
    if (kind == 5) {
        u32 row = next_parameter(p, i);
        if (row > 255) return false;
        *colour = terminal_big_colour_table[row];
    } else if (kind == 2) {
        f32 parts[3];
        for (f32& part : parts) {
            u32 v = next_parameter(p, i);
            part = (f32)(v > 255 ? 255 : v) / 255.0f;
        }
        *colour = Rgba{parts[0], parts[1], parts[2], 1};
    } else {
        *colour = WHITE;
    }
    return true;
}

// Every parameter applies in order, so "1;31" is red and "0;1;32" resets then turns green.
static void select_graphic_rendition(Terminal_Result* block, Sequence_Parameters* p) {
    u32 kept = p->count < TERMINAL_MAX_SEQUENCE_PARAMETERS ? p->count : TERMINAL_MAX_SEQUENCE_PARAMETERS;
    u32 i = 0;
    while (i < kept) {
        u32 v = p->values[i++];
        Rgba colour;
        if (v == 0) {
            block->foreground = WHITE;
            block->background = BLACK;
            block->default_colour = 1;
        } else if (v >= 30 && v <= 37) {
            block->foreground = terminal_small_colour_table[v - 30];
            block->default_colour = 0;
        } else if (v >= 90 && v <= 97) {
            block->foreground = terminal_small_colour_table[v - 82];
            block->default_colour = 0;
        } else if (v >= 40 && v <= 47) {
            block->background = terminal_small_colour_table[v - 40];
        } else if (v >= 100 && v <= 107) {
            block->background = terminal_small_colour_table[v - 92];
        } else if (v == 38) {
            if (extended_colour(p, &i, &colour)) {
                block->foreground = colour;
                block->default_colour = 0;
            }
        } else if (v == 48) {
            if (extended_colour(p, &i, &colour)) block->background = colour;
        }
    }
}

// Row;column: new empty rows down to the row; the column is not kept.
static void cursor_position(Terminal_Result* block, Sequence_Parameters* p, u64 after_sequence) {
    if (p->count != 2 || p->values[0] <= block->line_count) return;
    u32 breaks = p->values[0] - block->line_count;
    if (breaks > TERMINAL_MAX_BREAKS_PER_POSITION) breaks = TERMINAL_MAX_BREAKS_PER_POSITION;
    for (u32 i = 0; i < breaks; i++) {
        if (!add_token(block, TERMINAL_TOKEN_NEW_LINE, after_sequence, 0)) return;
        block->line_count++;
    }
}

// ESC [ parameters (0x30-0x3F), intermediates (0x20-0x2F), one final byte (0x40-0x7E). Any
// other byte aborts the sequence and is read again as output.
static u64 parse_control_sequence(Terminal_Result* block, u64 escape, u64 end) {
    u8* text = block->text.data;
    u64 limit = escape + TERMINAL_MAX_CONTROL_SEQUENCE;
    u64 stop = end < limit ? end : limit;

    Sequence_Parameters p = {};
    u32 value = 0;
    b8 unreadable = false;
    b8 intermediates = false;
    for (u64 q = escape + 2; q < stop; q++) {
        u8 b = text[q];
        if (b >= 0x30 && b <= 0x3F) {
            if (intermediates) return q;
            if (b >= '0' && b <= '9') {
                value = value * 10 + (b - '0');
                if (value > TERMINAL_MAX_PARAMETER_VALUE) value = TERMINAL_MAX_PARAMETER_VALUE;
            } else if (b == ';') {
                if (p.count < TERMINAL_MAX_SEQUENCE_PARAMETERS) p.values[p.count] = unreadable ? 0 : value;
                if (p.count < 0xFFFFFFFFu) p.count++;
                value = 0;
                unreadable = false;
            } else {
                unreadable = true;  // private markers such as "?25" read as 0
            }
        } else if (b >= 0x20 && b <= 0x2F) {
            intermediates = true;
        } else if (b >= 0x40 && b <= 0x7E) {
            if (p.count < TERMINAL_MAX_SEQUENCE_PARAMETERS) p.values[p.count] = unreadable ? 0 : value;
            if (p.count < 0xFFFFFFFFu) p.count++;
            if (!intermediates) {
                if (b == 'm') select_graphic_rendition(block, &p);
                else if (b == 'H') cursor_position(block, &p, q + 1);
            }
            return q + 1;
        } else {
            return q;
        }
    }
    return stop == limit ? limit : escape;  // too long: dropped; cut by the end: wait
}

// ESC ] ... ended by BEL or by ESC \.
static u64 parse_os_command(Terminal_Result* block, u64 escape, u64 end) {
    u8* text = block->text.data;
    u64 limit = escape + TERMINAL_MAX_OS_COMMAND;
    u64 stop = end < limit ? end : limit;
    for (u64 q = escape + 2; q < stop; q++) {
        if (text[q] == 0x07) return q + 1;
        if (text[q] == ESC && q + 1 < stop && text[q + 1] == '\\') return q + 2;
    }
    return stop == limit ? limit : escape;
}

u64 parse_virtual_terminal_sequence(Terminal_Result* block, u64 position, u64 end) {
    u64 escape = position - 1;
    if (position >= end) return escape;
    switch (block->text.data[position]) {
    case '(':  // character set: one more byte
        return position + 1 < end ? position + 2 : escape;
    case '7': case '8': case '=': case '>': case 'M':
        return position + 1;
    case ']':
        return parse_os_command(block, escape, end);
    case '[':
        return parse_control_sequence(block, escape, end);
    default:
        return position;  // only the ESC goes; the byte is output
    }
}

//~ Tokens

void tokenise_terminal_result(Terminal_Result* block) {
    u8* text = block->text.data;
    u64 end = block->text.count;
    u64 p = block->parse_position;

    // The last token goes on growing when it reaches the parse position.
    s64 run = -1;
    if (block->tokens.count == 0) {
        block->line_count = 1;
    } else {
        Terminal_Token* last = (Terminal_Token*)block->tokens.data + block->tokens.count - 1;
        if (last->offset + last->length == p) run = (s64)block->tokens.count - 1;
    }

    while (p < end) {
        u8 c = text[p];
        if (c == 0) {
            run = -1;
            p++;
        } else if (c == '\n' || c == '\r') {
            Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
            // A line feed right behind a carriage return joins its break, also across reads.
            if (c == '\n' && run >= 0 && tokens[run].kind == TERMINAL_TOKEN_NEW_LINE && tokens[run].length == 1 &&
                tokens[run].offset + 1 == p && text[tokens[run].offset] == '\r') {
                tokens[run].length = 2;
                p++;
                continue;
            }
            if (!add_token(block, TERMINAL_TOKEN_NEW_LINE, p, 1)) break;
            block->line_count++;
            run = (s64)block->tokens.count - 1;
            p++;
        } else if (c == ESC) {
            u64 after = parse_virtual_terminal_sequence(block, p + 1, end);
            if (after == p) break;  // the rest of the sequence comes with the next read
            run = -1;
            p = after;
        } else {
            u64 start = p;
            while (p < end && text[p] != 0 && text[p] != '\n' && text[p] != '\r' && text[p] != ESC) p++;
            Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
            if (run >= 0 && tokens[run].kind == TERMINAL_TOKEN_TEXT) {
                tokens[run].length += (u32)(p - start);
            } else {
                Terminal_Token* token = add_token(block, TERMINAL_TOKEN_TEXT, start, (u32)(p - start));
                if (!token) {
                    p = start;
                    break;
                }
                run = (s64)block->tokens.count - 1;
            }
        }
    }
    block->parse_position = p;
}
