// The history of a terminal tab: every block's command under a green or red header, its
// output coloured and wrapped at the view's width, a copy icon, selection with the mouse
// and the scroll bar. Everything is measured every frame, since the output grows while it
// is shown; only boxes and glyphs of lines inside the view are drawn. Main thread only.

#include "terminal/terminal.h"
#include "editor/clipboard.h"
#include "editor/editor_settings.h"
#include "ui/ui.h"

#include <math.h>
#include <string.h>

static const Rgba HEADER_GREEN = {0.2f, 1.0f, 0.3f, 1.0f};
static const Rgba HEADER_RED = {1.0f, 0.1f, 0.1f, 1.0f};
static const Rgba HEADER_TEXT = {0, 0, 0, 1};

b8 try_to_lock_terminal_result(Terminal_Result* block) {
    u64 started = 0;
    for (;;) {
        u8 expected = 0;
        if (__atomic_compare_exchange_n(&block->lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            return true;
        }
        u64 now = os_get_monotonic_microseconds();
        if (!started) started = now;
        if (now - started > TERMINAL_RESULT_LOCK_WAIT_MICROSECONDS) return false;
        __builtin_ia32_pause();
    }
}

//~ One frame's layout

struct Terminal_View {
    Terminal* terminal;
    v2 top_left;
    v2 bottom_right;
    f32 text_right;  // where output wraps: the view's right edge less the scroll bar
    f32 line_height;
    f32 box_height;
    f32 padding;
    s32 tab_width;
    Font_Pool* font;
    Text_Iterator it;
    v2 mouse;
    b8 mouse_inside;
    b8 press_queued;  // a left press waits in the queue for whoever lies under it
    b8 button_held;
    Rgba text_colour;
    Rgba selection_colour;
    f32 x;
    f32 y;
    f32 ascii_advances[128];  // this frame's, so that lines outside the view are measured fast
};

static b8 line_is_visible(Terminal_View* v, f32 y) {
    return y + v->line_height > v->top_left.y && y < v->bottom_right.y;
}

static b8 mouse_on_line(Terminal_View* v, f32 y) {
    return v->mouse_inside && v->mouse.y >= y && v->mouse.y < y + v->line_height;
}

static b8 left_press_is_queued() {
    if (!ui_window || ui_current_layer != ui_layer_in_focus) return false;
    for (u32 i = 0; i < ui_window->event_count; i++) {
        Window_Event* e = &ui_window->events[i];
        if (e->kind == WINDOW_EVENT_MOUSE_BUTTON && (e->buttons & MOUSE_LEFT_PRESS)) return true;
    }
    return false;
}

// The glyph the iterator stands on, with its top-left at the pen (x at the line's top y).
static void draw_current_glyph(Terminal_View* v, f32 x, f32 y, Rgba colour) {
    Glyph* glyph = v->it.current_glyph;
    if (!glyph || glyph->width <= 0) return;
    f32 baseline = floorf(y) + floorf(v->font->ascent);
    f32 left = floorf(floorf(x) + v->it.kerning + glyph->left_bearing);
    f32 top = floorf(baseline + glyph->y_offset);
    draw_glyph_scissored(glyph, v2{left, top}, colour, v->top_left, v->bottom_right);
}

// A character that would pass the wrap edge goes to the next line, unless it is the first
// of its line (a view narrower than one character still advances).
static b8 wraps(Terminal_View* v, f32 x, f32 advance) {
    return x + advance > v->text_right && x > v->top_left.x;
}

// The width of the part of a run that fits on the line from x on.
static f32 measure_line_part(Terminal_View* v, u8* text, u64 count, f32 x) {
    Text_Iterator it;
    init_text_iterator(&it, text, count, v->font, v->tab_width);
    f32 start = x;
    while (text_iterator_get_next(&it)) {
        if (wraps(v, x, it.advance)) break;
        x += it.advance;
    }
    return x - start;
}

//~ Selection

static b8 selection_end_before(Terminal_Selection_End a, Terminal_Selection_End b) {
    return a.token < b.token || (a.token == b.token && a.offset < b.offset);
}

// Ends left behind by text that went (a cleared block, a reset at 1 MiB) point at nothing.
static Terminal_Selection_End clamp_selection_end(Terminal_Result* block, Terminal_Selection_End at) {
    u32 count = block->tokens.count;
    if (count == 0) return Terminal_Selection_End{};
    Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
    if (at.token >= count) return Terminal_Selection_End{count - 1, tokens[count - 1].length};
    if (at.offset > tokens[at.token].length) at.offset = tokens[at.token].length;
    return at;
}

struct Block_Selection {
    Terminal_Selection_End anchor;  // where the press was; stays while the mouse drags
    Terminal_Selection_End moving;
    Terminal_Selection_End low;     // the two in order, for drawing
    Terminal_Selection_End high;
    b8 shown;
};

// The mouse over a place of the block's output: a press there starts a selection, a drag
// in the selected block moves its end there.
// The selection is drawn as the walk found it, before the mouse moved its end: a frame
// follows at once to show the end where it now is, or it would wait for the next event.
static void mouse_at(Terminal_View* v, Terminal_Result* block, Block_Selection* s, Terminal_Selection_End at) {
    if (v->press_queued && ui_consume_left_click()) {
        v->press_queued = false;
        s->anchor = s->moving = at;
        v->terminal->selected_result = block;
    } else if (v->button_held && v->terminal->selected_result == block) {
        // The selection is drawn from the ends the frame began with: a moved end shows in the
        // next frame, which must come though no input may follow.
        if (s->moving.token != at.token || s->moving.offset != at.offset) ui_do_not_stop_after_current_frame();
        s->moving = at;
    }
}

static b8 inside_selection(Block_Selection* s, u32 token, u32 offset) {
    Terminal_Selection_End at = {token, offset};
    return s->shown && !selection_end_before(at, s->low) && selection_end_before(at, s->high);
}

//~ Output

// The advance of the character at text without drawing it: from the frame's table for
// ASCII, else from the iterator, which knows what every other sequence reads as.
static f32 measure_character(Terminal_View* v, u8* text, u8* end, u32* size) {
    if (*text < 0x80) {
        *size = 1;
        return v->ascii_advances[*text];
    }
    *size = get_utf8_char_size_in(text, end);
    Text_Iterator it;
    init_text_iterator(&it, text, *size, v->font, v->tab_width);
    text_iterator_get_next(&it);
    return it.advance;
}

static void draw_text_run(Terminal_View* v, Terminal_Result* block, Block_Selection* s, u32 index) {
    Terminal_Token* token = (Terminal_Token*)block->tokens.data + index;
    u8* text = block->text.data + token->offset;
    u8* end = text + token->length;
    Rgba colour = token->default_colour ? v->text_colour : token->foreground;
    Rgba b = token->background;
    b8 has_background = !(b.r == 0 && b.g == 0 && b.b == 0 && b.a == 1);
    b8 new_line_part = true;  // the background box is drawn at the start of every line the run reaches
    f32 previous_half = 0;

    u8* at = text;
    while (at < end) {
        // A line outside the view is only measured: nothing there is drawn or under the
        // mouse, and most of a long history lies there.
        if (!line_is_visible(v, v->y)) {
            u32 size;
            f32 advance = measure_character(v, at, end, &size);
            if (wraps(v, v->x, advance)) {
                v->y += v->line_height;
                v->x = v->top_left.x;
                new_line_part = true;
                previous_half = 0;
                continue;  // the line it goes to may be in view
            }
            v->x += advance;
            at += size;
            continue;
        }

        text_iterator_update_text(&v->it, at, (u64)(end - at));
        for (; text_iterator_get_next(&v->it); at = v->it.next) {
            f32 advance = v->it.advance;
            if (wraps(v, v->x, advance)) {
                v->y += v->line_height;
                v->x = v->top_left.x;
                new_line_part = true;
                previous_half = 0;
                if (!line_is_visible(v, v->y)) break;
            }
            if (new_line_part && has_background) {
                f32 width = measure_line_part(v, at, (u64)(end - at), v->x);
                draw_quad_scissored(v2{v->x, v->y}, v2{width, v->box_height}, b, v->top_left, v->bottom_right);
            }
            new_line_part = false;

            u32 offset = (u32)(at - text);
            if (mouse_on_line(v, v->y) && (v->press_queued || v->button_held)) {
                b8 line_start = v->x == v->top_left.x;
                if ((line_start || v->mouse.x >= v->x - previous_half) && v->mouse.x < v->x + advance * 0.5f) {
                    mouse_at(v, block, s, Terminal_Selection_End{index, offset});
                }
            }
            if (inside_selection(s, index, offset)) {
                draw_quad_scissored(v2{v->x, v->y}, v2{advance, v->box_height}, v->selection_colour, v->top_left,
                                    v->bottom_right);
            }
            draw_current_glyph(v, v->x, v->y, colour);
            v->x += advance;
            previous_half = advance * 0.5f;
        }
    }
}

// Draws the output of a block whose lock the caller holds.
static void draw_output(Terminal_View* v, Terminal_Result* block) {
    Block_Selection s = {};
    s.anchor = clamp_selection_end(block, block->selection_start);
    s.moving = clamp_selection_end(block, block->selection_end);
    b8 anchor_first = !selection_end_before(s.moving, s.anchor);
    s.low = anchor_first ? s.anchor : s.moving;
    s.high = anchor_first ? s.moving : s.anchor;
    s.shown = v->terminal->selected_result == block;

    u32 count = block->tokens.count;
    Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
    v->x = v->top_left.x;
    for (u32 i = 0; i < count; i++) {
        if (tokens[i].kind == TERMINAL_TOKEN_NEW_LINE) {
            if (mouse_on_line(v, v->y) && v->mouse.x >= v->x) mouse_at(v, block, &s, Terminal_Selection_End{i, 0});
            v->y += v->line_height;
            v->x = v->top_left.x;
        } else {
            draw_text_run(v, block, &s, i);
        }
    }
    if (count) {
        if (mouse_on_line(v, v->y) && v->mouse.x >= v->x) {
            mouse_at(v, block, &s, Terminal_Selection_End{count - 1, tokens[count - 1].length});
        }
        v->y += v->line_height;
    }
    // Kept as anchor and moving end, so that a drag back past the anchor still selects.
    // This frame drew the ends the last one left: ends that moved show in the next frame,
    // which comes at once.
    b8 moved = block->selection_start.token != s.anchor.token || block->selection_start.offset != s.anchor.offset ||
               block->selection_end.token != s.moving.token || block->selection_end.offset != s.moving.offset;
    if (moved) ui_do_not_stop_after_current_frame();
    block->selection_start = s.anchor;
    block->selection_end = s.moving;
}

//~ Header and copy icon

static void draw_header(Terminal_View* v, Terminal_Result* block) {
    u8* text = block->command.data;
    u64 count = (u64)block->command.count;
    if (line_is_visible(v, v->y)) {
        f32 width = get_text_advance(text, count, v->font, (u8)v->tab_width) + 2 * v->padding;
        Rgba colour = (atomic_load_u8(&block->flags) & TERMINAL_RESULT_FAILED) ? HEADER_RED : HEADER_GREEN;
        draw_quad_scissored(v2{v->top_left.x, v->y}, v2{width, v->box_height}, colour, v->top_left, v->bottom_right);
        text_iterator_update_text(&v->it, text, count);
        f32 x = v->top_left.x + v->padding;
        while (text_iterator_get_next(&v->it)) {
            draw_current_glyph(v, x, v->y, HEADER_TEXT);
            x += v->it.advance;
        }
    }
    if (mouse_on_line(v, v->y)) ui_set_cursor(UI_CURSOR_ARROW, false);
    v->y += v->line_height;
}

static void append_octets(Dynamic_Array* out, u8* data, u64 count) {
    if (count == 0) return;
    u8* at = (u8*)dynamic_array_add_fast_multiple(out, (u32)count);
    if (at) memcpy(at, data, count);
}

// The command, then its output with every line break as one line feed: the editor's copy
// without padding, and the clipboard, as any copy of the editor.
static void copy_block(Terminal_Result* block) {
    Dynamic_Array* text = &text_copied_as_if_there_was_no_padding;
    text->count = 0;
    append_octets(text, block->command.data, (u64)block->command.count);
    u32 count = block->tokens.count;
    if (count) append_octets(text, (u8*)"\n\n", 2);
    Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
    for (u32 i = 0; i < count; i++) {
        if (tokens[i].kind == TERMINAL_TOKEN_NEW_LINE) append_octets(text, (u8*)"\n", 1);
        else append_octets(text, block->text.data + tokens[i].offset, tokens[i].length);
    }
    editor_set_clipboard_text(text->data, text->count);
    block->copy_time = os_get_monotonic_microseconds();
}

static void draw_copy_icon(Terminal_View* v, Terminal_Result* block, Rgba contrast, b8 locked) {
    f32 x = v->top_left.x + v->padding;
    f32 size = (f32)icons_font_pool.pixel_size;
    v2 m = v->mouse;
    b8 hovered = v->mouse_inside && m.x >= x && m.x < x + size && m.y >= v->y && m.y < v->y + size;
    if (hovered) {
        ui_set_cursor(UI_CURSOR_ARROW, false);
        if (locked && ui_consume_left_click()) copy_block(block);
    }
    if (!line_is_visible(v, v->y)) return;
    draw_text_scissored((u8*)(hovered ? "T" : "t"), 1, &icons_font_pool, 0, x, v->y, contrast, v->top_left,
                        v->bottom_right);
    u64 now = os_get_monotonic_microseconds();
    if (block->copy_time && now - block->copy_time < TERMINAL_COPIED_NOTICE_MICROSECONDS) {
        draw_text_scissored((u8*)"Copied.", 7, &ui_font_pool, 0, x + size + v->padding, v->y, contrast, v->top_left,
                            v->bottom_right);
        ui_do_not_stop_after_current_frame();  // the notice goes away without input
    }
}

//~ The view

// The address's eight octets are the key: no text key of another view holds the zero
// octets at the top of an address, so no other element can share it.
static Ui_Element_Id get_scroll_bar_id(Terminal** terminal) {
    return make_ui_element_id(0, (const char*)terminal, sizeof(*terminal));
}

void draw_and_update_terminal_history(Terminal* terminal, v2 top_left, v2 bottom_right) {
    Rgba background = editor_settings.text_theme.colours[0];
    Rgba contrast = rgba_brightness(background) > 0.5f ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1};
    f32 view_height = bottom_right.y - top_left.y;
    if (top_left.y < (f32)renderer_info.height && bottom_right.y > 0 && view_height > 0) {
        draw_quad(top_left, v2{bottom_right.x - top_left.x, view_height}, background);
    }

    Ui_Element_Id id = get_scroll_bar_id(&terminal);
    Ui_Element* bar = get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR);
    bar->scroll = terminal->scroll;  // the terminal's offset wins over an element a former user left

    Terminal_View v = {};
    v.terminal = terminal;
    v.top_left = top_left;
    v.bottom_right = bottom_right;
    v.text_right = bottom_right.x - bar->shown_width;
    v.font = &code_font_pool;
    v.line_height = code_font_pool.line_height;
    v.box_height = (f32)code_font_pool.pixel_size;
    v.padding = 0.2f * (f32)code_font_pool.pixel_size;
    v.tab_width = editor_settings.tab_width;
    v.mouse = ui_mouse_position;
    v.mouse_inside = v.mouse.x >= top_left.x && v.mouse.x <= v.text_right && v.mouse.y >= top_left.y &&
                     v.mouse.y <= bottom_right.y;
    v.press_queued = v.mouse_inside && left_press_is_queued();
    v.button_held = ui_flags & UI_LEFT_BUTTON_HELD;
    v.text_colour = editor_settings.text_theme.colours[1];
    v.selection_colour = editor_settings.text_theme.colours[2];
    init_text_iterator(&v.it, nullptr, 0, v.font, v.tab_width);
    for (u32 c = 0; c < 128; c++) {
        u8 character = (u8)c;
        Text_Iterator it;
        init_text_iterator(&it, &character, 1, v.font, v.tab_width);
        text_iterator_get_next(&it);
        v.ascii_advances[c] = it.advance;
    }

    f32 content_top = top_left.y - terminal->scroll;
    v.y = content_top;
    b8 scroll_to_target = false;
    f32 target = 0;
    for (Terminal_Result* block = (Terminal_Result*)terminal->results.first_element; block; block = block->next) {
        draw_header(&v, block);
        b8 locked = try_to_lock_terminal_result(block);
        if (locked) draw_output(&v, block);
        draw_copy_icon(&v, block, contrast, locked);
        v.y += v.line_height;
        if (locked && (atomic_and_u8(&block->flags, (u8)~TERMINAL_RESULT_UPDATED) & TERMINAL_RESULT_UPDATED)) {
            scroll_to_target = true;
            target = v.y;
        }
        v.y += v.line_height;
        if (locked) spin_unlock(&block->lock);
    }
    if (v.mouse_inside) ui_set_cursor(UI_CURSOR_IBEAM, false);

    if (scroll_to_target && view_height >= v.line_height) {
        if (target >= top_left.y) bar->scroll += target + v.line_height - bottom_right.y;
        else bar->scroll -= top_left.y - target;
    }
    f32 bar_width = ui_screen_resolution.x * editor_settings.ui_theme.scroll_bar_size;
    f32* scroll = ui_scroll_bar(id, true, top_left, bottom_right, v.y - content_top, bar_width, contrast);
    terminal->scroll = scroll[0];
}

//~ Copying the selection

// The octets of one token from one offset to another, both cut to the token and the text.
static void append_token_part(Dynamic_Array* out, Terminal_Result* result, Terminal_Token* token, u64 from, u64 to) {
    if (token->kind == TERMINAL_TOKEN_NEW_LINE && token->length == 0) {
        append_octets(out, (u8*)"\n", 1);
        return;
    }
    if (to > token->length) to = token->length;
    u64 start = token->offset + from, end = token->offset + to;
    if (end > result->text.count) end = result->text.count;
    if (start < end) append_octets(out, result->text.data + start, end - start);
}

// Gathers the selection of a block whose lock the caller holds; false when it is empty.
static b8 copy_result_selection(Terminal_Result* result) {
    Terminal_Selection_End first = result->selection_start, last = result->selection_end;
    if (selection_end_before(last, first)) {
        Terminal_Selection_End swap = first;
        first = last;
        last = swap;
    }
    text_copied_as_if_there_was_no_padding.count = 0;
    if (first.token == last.token && first.offset == last.offset) return false;
    Terminal_Token* tokens = (Terminal_Token*)result->tokens.data;
    u32 count = result->tokens.count;
    if (first.token >= count) return false;
    if (last.token >= count) last = Terminal_Selection_End{count - 1, tokens[count - 1].length};

    // The gathered text may be as big as the block: general-purpose memory, not temporary.
    Dynamic_Array gathered;
    init_dynamic_array(&gathered, 1);
    if (first.token == last.token) {
        append_token_part(&gathered, result, &tokens[first.token], first.offset, last.offset);
    } else {
        append_token_part(&gathered, result, &tokens[first.token], first.offset, UINT32_MAX);
        for (u32 i = first.token + 1; i < last.token; i++) append_token_part(&gathered, result, &tokens[i], 0, UINT32_MAX);
        append_token_part(&gathered, result, &tokens[last.token], 0, last.offset);
    }
    editor_set_clipboard_text(gathered.data, gathered.count);
    dynamic_array_free(&gathered);
    return true;
}

b8 copy_terminal_selection_to_clipboard(Terminal* terminal) {
    if (!terminal || !terminal->selected_result || terminal->results.count == 0) return false;
    // Only a block of this terminal's list is read.
    Terminal_Result* result = (Terminal_Result*)terminal->results.first_element;
    for (u32 i = 0; i < terminal->results.count && result; i++, result = result->next) {
        if (result != terminal->selected_result) continue;
        if (!try_to_lock_terminal_result(result)) return false;
        b8 copied = copy_result_selection(result);
        if (copied) terminal->selected_result = nullptr;
        spin_unlock(&result->lock);
        return copied;
    }
    return false;
}
