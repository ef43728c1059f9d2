// The search lister panel: the "Search", "Search Files", "Replace"/"With" and "Go to line"
// prompts and the hits as they come in, each with its line, the hit drawn bright. Editing
// the query stops the running search at once and starts the next when it has finished.

#include "listers/lister_panels.h"
#include "listers/lister_actions.h"
#include "editor/editor_settings.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "ui/ui.h"

#include <string.h>

//~ Opening and restarting

static void copy_title(String* title, u8* storage, u8* text, u64 count) {
    if (count > SEARCH_TITLE_CAPACITY) count = SEARCH_TITLE_CAPACITY;
    count = text ? (u64)utf8_cut_length(text, (s64)count) : 0;
    if (count) memcpy(storage, text, count);
    *title = String{storage, (s64)count};
}

b8 search_lister_search() {
    Search_Lister* s = &global_search_lister;
    if (s->mode == SEARCH_IN_FILES) {
        u64 saved = tmp_get_used();
        String directory = filepath_to_tmp_string(&editor_working_directory);
        b8 started = search_lister_start(nullptr, directory);
        tmp_set_used(saved);
        return started;
    }
    Tab* tab = get_current_tab();
    Editor_File* file = tab && tab->kind == TAB_FILE ? tab->file : nullptr;
    return search_lister_start(file, String{});
}

void open_search_lister(u8* title, u64 title_count, u8* second_title, u64 second_title_count, u8 mode) {
    Search_Lister* s = &global_search_lister;
    if (mode != SEARCH_IN_FILES) {
        Tab* tab = get_current_tab();
        if (!tab || tab->kind != TAB_FILE || !tab->file || tab->file != current_file) return;
    }
    // One lister at a time: a choice made now can only mean this panel's row.
    if (atomic_and_u64(&global_flags, ~(u64)SHOW_FILE_LISTER) & SHOW_FILE_LISTER) global_file_lister.directory.count = 0;

    global_lister_animation_factor = 0;
    global_editor_context = CONTEXT_SEARCH_LISTER;
    ui_layer_in_focus = LISTER_UI_LAYER;
    copy_title(&s->title, s->title_text, title, title_count);
    copy_title(&s->second_title, s->second_title_text, second_title, second_title_count);
    s->mode = mode;
    empty_lister_input(&s->query_input);
    empty_lister_input(&s->replacement_input);
    current_file = &s->query_input;
    // An empty query finds nothing; the search waits to be stopped by the first keystroke.
    search_lister_search();
    atomic_or_u64(&global_flags, SHOW_SEARCH_LISTER);
}

// A changed query stops the search at once; the new one starts at the first frame after
// the old thread has let its results go. The stored hash is forgotten meanwhile, so a query
// typed back to the old one searches again.
static void restart_search_if_query_changed() {
    Search_Lister* s = &global_search_lister;
    Editor_File* input = &s->query_input;
    u64 hash = MeowHash(input->text.count, input->text.data).low;
    if (hash == s->query_hash) return;
    __atomic_store_n(&s->running, (u8)0, __ATOMIC_RELEASE);
    s->query_hash = 0;
    if (!search_lister_is_finished()) return;
    search_lister_search();
    ui_do_not_stop_after_current_frame();
}

//~ One frame

Lister_Panel_Layout get_search_lister_layout(u32 hit_count) {
    u32 prompts = global_search_lister.mode == SEARCH_REPLACE ? 2 : 1;
    f32 row = (f32)code_font_pool.pixel_size + 0.2f * (f32)ui_font_pool.pixel_size;
    return make_lister_panel_layout(prompts, row, hit_count, false);
}

static f32 advance_of(String text, Font_Pool* font) {
    return text.count > 0 ? get_text_advance(text.data, (u64)text.count, font, editor_settings.tab_width) : 0;
}

// The part of a path after its last slash or backslash.
static String get_file_name(String path) {
    s64 i = path.count;
    while (i > 0 && path.data[i - 1] != '/' && path.data[i - 1] != '\\') i--;
    return String{path.data + i, path.count - i};
}

// One prompt row: its title in the title column, then the input in its field.
static void draw_prompt(String title, Editor_File* input, Lister_Panel_Layout* l, f32 y, f32 title_column) {
    f32 c = (f32)code_font_pool.pixel_size, p = l->margin;
    v2 clip_top_left = {l->left, l->top};
    v2 clip_bottom_right = {l->left + l->width, l->top + l->header};
    if (title.count > 0) {
        draw_text_scissored(title.data, (u64)title.count, &ui_font_pool, 0, l->left + p, y, lister_theme_colour(2),
                            clip_top_left, clip_bottom_right);
    }
    v2 field_top_left = {truncf(l->left + p + title_column + p), y};
    v2 field_bottom_right = {l->left + l->width - p, y + c};
    if (field_bottom_right.x <= field_top_left.x) return;
    draw_quad(field_top_left, v2{field_bottom_right.x - field_top_left.x, c}, lister_theme_colour(1));
    draw_file(input, &code_font_pool, field_top_left, field_bottom_right);
}

// The line of one hit from its start: the text before the hit dim, the hit bright, the
// rest dim. Runs are placed by the width of everything before them, so a hit after
// multi-octet characters lies exactly over its own text.
static void draw_hit_line(Search_Match* hit, b8 whole_line, f32 x, f32 y, Rgba colour, v2 clip_top_left,
                          v2 clip_bottom_right) {
    u8* start = hit->line_start;
    u64 line_count = (u64)(hit->line_end - start);
    if (line_count > SEARCH_LISTER_LINE_DRAW_LIMIT) line_count = SEARCH_LISTER_LINE_DRAW_LIMIT;
    u64 hit_start = whole_line ? 0 : (u64)(hit->hit - start);
    u64 hit_end = whole_line ? line_count : hit_start + hit->length;
    if (hit_start > line_count) hit_start = line_count;
    if (hit_end > line_count) hit_end = line_count;
    Rgba dim = colour;
    dim.a *= 0.7f;
    u8 tab_width = editor_settings.tab_width;
    struct Run {
        u64 from, to;
        Rgba colour;
    } runs[3] = {{0, hit_start, dim}, {hit_start, hit_end, colour}, {hit_end, line_count, dim}};
    for (Run& r : runs) {
        if (r.to <= r.from) continue;
        f32 at = x + (r.from ? get_text_advance(start, r.from, &code_font_pool, tab_width) : 0);
        if (at >= clip_bottom_right.x) break;
        draw_text_scissored(start + r.from, r.to - r.from, &code_font_pool, 0, at, y, r.colour, clip_top_left,
                            clip_bottom_right);
    }
}

void draw_and_update_search_lister() {
    Search_Lister* s = &global_search_lister;
    f32 target_width = (f32)renderer_info.width, target_height = (f32)renderer_info.height;
    ui_current_layer = LISTER_UI_LAYER;
    renderer_set_scissors(v2{0, 0}, v2{target_width, target_height});
    v2 mouse = ui_mouse_position;

    u32 hit_count = get_num_items_in_search_lister();
    Lister_Panel_Layout l = get_search_lister_layout(hit_count);
    f32 u = (f32)ui_font_pool.pixel_size, c = (f32)code_font_pool.pixel_size, p = l.margin;
    if (l.height > 0 && l.top + l.height >= 0 && l.top <= target_height) {
        draw_quad(v2{l.left, l.top}, v2{l.width, l.height}, lister_theme_colour(0));
    }

    f32 title_column = fmaxf(advance_of(s->title, &ui_font_pool), advance_of(s->second_title, &ui_font_pool));
    draw_prompt(s->title, &s->query_input, &l, l.top + p, title_column);
    restart_search_if_query_changed();
    if (s->mode == SEARCH_REPLACE) draw_prompt(s->second_title, &s->replacement_input, &l, l.top + p + (u + p), title_column);

    f32* scroll = lister_scroll_bar("search lister", &l, hit_count, s->selected, &s->scroll_request);
    f32 row_right = l.list_right - (scroll[1] > 0 ? scroll[1] : 0);
    v2 clip_top_left = {l.list_left, l.list_top};
    v2 clip_bottom_right = {row_right, l.list_bottom};
    b8 in_files = s->mode == SEARCH_IN_FILES;
    b8 whole_line = s->mode == SEARCH_GO_TO_LINE;
    b8 cursor_shows = ui_cursor_is_normal();
    u32 clicked = 0xFFFFFFFFu;

    // The rows read the hits in place: the lock keeps the records from being released.
    spin_lock(&global_search_lock);
    f32 name_column = 0;
    if (in_files) {
        for (Search_File* f = (Search_File*)global_search_files.first_element; f; f = f->next) {
            if (__atomic_load_n(&f->done, __ATOMIC_ACQUIRE) && f->hits.count > 0) {
                name_column = fmaxf(name_column, advance_of(get_file_name(f->path), &code_font_pool));
            }
        }
    }
    f32 number_column = advance_of(STR("999999"), &code_font_pool);
    f32 label_x = l.list_left + p;
    f32 text_x = label_x + name_column + number_column + c;
    u32 index = 0;
    b8 rows_done = false;
    for (Search_File* f = (Search_File*)global_search_files.first_element; f && !rows_done; f = f->next) {
        if (!__atomic_load_n(&f->done, __ATOMIC_ACQUIRE)) continue;
        u32 count = f->hits.count;
        // A file whose rows all lie above the list costs one test.
        if (l.list_top + l.row * (f32)(index + count) - scroll[0] <= l.list_top) {
            index += count;
            continue;
        }
        String name = get_file_name(f->path);
        Search_Match* hits = (Search_Match*)f->hits.data;
        for (u32 i = 0; i < count; i++, index++) {
            f32 row_top = lister_row_top(&l, index, scroll[0]), row_bottom = lister_row_top(&l, index + 1, scroll[0]);
            if (row_bottom <= l.list_top) continue;
            if (row_top >= l.list_bottom) {
                rows_done = true;
                break;
            }
            b8 selected = index == s->selected;
            b8 hovered = cursor_shows && lister_point_inside(mouse, l.list_left + p, fmaxf(row_top, l.list_top), row_right,
                                                      fminf(row_bottom, l.list_bottom));
            Rgba colour = lister_theme_colour(2);
            if (selected || hovered) {
                draw_quad_scissored(v2{l.list_left, row_top}, v2{row_right - l.list_left, row_bottom - row_top},
                                    lister_theme_colour(selected ? 4 : 5), clip_top_left, clip_bottom_right);
                colour = lister_theme_colour(3);
            }
            if (hovered && ui_layer_in_focus == LISTER_UI_LAYER && ui_consume_left_click()) {
                clicked = index;
                rows_done = true;
                break;
            }
            u8 label_text[SEARCH_PATH_CAPACITY + 16];
            String label = {label_text, 0};
            if (in_files) {
                write_into_string(&label, sizeof(label_text), "%.*s:%u ", (int)name.count, (char*)name.data, hits[i].line);
            } else {
                write_into_string(&label, sizeof(label_text), "%u", hits[i].line);
            }
            f32 y = row_top + 0.5f * p;
            draw_text_scissored(label.data, (u64)label.count, &code_font_pool, 0, label_x, y, colour, clip_top_left,
                                clip_bottom_right);
            draw_hit_line(&hits[i], whole_line, text_x, y, colour, clip_top_left, clip_bottom_right);
        }
    }
    spin_unlock(&global_search_lock);

    if (clicked != 0xFFFFFFFFu) {
        s->selected = clicked;
        lister_select_item();
    }
    if (!lister_point_inside(mouse, l.left, l.top, l.left + l.width, l.top + l.height) &&
        ui_layer_in_focus == LISTER_UI_LAYER && ui_consume_left_click()) {
        close_lister();
    }
    advance_lister_animation();
    ui_current_layer = 0;
}
