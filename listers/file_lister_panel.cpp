// The file lister panel: opening it for a purpose, and one frame of it over the editor. It
// shows only whole published listings, and marks the one it drew, so that what an action
// acts on is always what the user saw.

#include "listers/lister_panels.h"
#include "listers/lister_actions.h"
#include "editor/editor_settings.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "terminal/terminal.h"
#include "ui/ui.h"

#include <string.h>

//~ Opening

// The directory without empty components, each pointing at its own storage.
static void copy_directory(Filepath* to, Filepath* from) {
    to->count = 0;
    for (u32 i = 0; from && i < from->count; i++) {
        Filepath_Component* c = &from->components[i];
        if (c->length == 0 || c->length > FILEPATH_MAX_COMPONENT_LENGTH) continue;
        Filepath_Component* out = &to->components[to->count++];
        memmove(out->storage, c->text, c->length);
        out->text = out->storage;
        out->length = c->length;
    }
}

void open_file_lister(u8* title, u64 title_count, Filepath* directory, u8 purpose) {
    File_Lister* lister = &global_file_lister;
    // One lister at a time: a search lister that was shown stops, so that a choice made
    // now can only mean this panel's row.
    atomic_and_u64(&global_flags, ~(u64)SHOW_SEARCH_LISTER);
    if (global_search_lister.mode != SEARCH_CLOSED) search_lister_stop_and_wait();
    global_search_lister.mode = SEARCH_CLOSED;

    global_lister_animation_factor = 0;
    global_editor_context = CONTEXT_FILE_LISTER;
    ui_layer_in_focus = LISTER_UI_LAYER;

    u64 count = title_count < FILE_LISTER_TITLE_CAPACITY ? title_count : FILE_LISTER_TITLE_CAPACITY;
    count = title ? (u64)utf8_cut_length(title, (s64)count) : 0;
    if (count) memcpy(lister->title_text, title, count);
    lister->title = String{lister->title_text, (s64)count};

    copy_directory(&lister->directory, directory);
    lister->purpose = purpose;
    lister->view_bits = FILE_LISTER_FLAT_VIEW | FILE_LISTER_LIST_FILES;
    lister->key_hash = 0;
    lister->scroll_request = 1;
    lister->force = 0;
    // Whatever was listed before this opening stays hidden, even a listing that was still
    // ending and publishes later.
    lister->first_listing_shown = lister->listings_started + 1;

    Editor_File* input = &lister->input_line;
    empty_lister_input(input);
    atomic_or_u16(&input->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    current_file = input;
    reset_file_lister_selection();
    lister->select_pending = 0;

    maybe_update_file_lister();
    atomic_or_u64(&global_flags, SHOW_FILE_LISTER);
}

void editor_ask_to_delete_items() {
    if ((global_editor_context & CONTEXT_FILE_LISTER) && global_file_lister.purpose == FILE_LISTER_DELETE) return;
    const char title[] = "Delete files/directories";
    open_file_lister((u8*)title, sizeof(title) - 1, &editor_working_directory, FILE_LISTER_DELETE);
}

void ask_to_open_file() {
    Filepath* directory = &editor_working_directory;
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_TERMINAL && tab->terminal) {
        directory = &tab->terminal->directory;
    } else if (tab && tab->kind == TAB_FILE && tab->file && tab->file->directory.count > 0) {
        directory = &tab->file->directory;
    }
    const char title[] = "Open File";
    open_file_lister((u8*)title, sizeof(title) - 1, directory, FILE_LISTER_OPEN);
}

//~ Rows

// Compared exactly, so "PNG" is no picture. Duplicates kept as the list was given.
static const char* const PICTURE_AND_VIDEO_EXTENSIONS[] = {
    "png", "apng", "jpg", "jpeg", "jpg2", "jpf", "jpx", "j2k", "jxl", "jxr", "jxsi", "jxt", "jhdr", "jfif",
    "pjpeg", "pjp", "qoi", "gif", "bmp", "dib", "ico", "cur", "icns", "tga", "webp", "tif", "tiff", "psd",
    "raw", "svg", "svgz", "dds", "exr", "hdr", "hevc", "pbm", "pgm", "ppm", "pnm", "pic", "wbmp", "xbm",
    "mkv", "flv", "ogv", "gifv", "avi", "mov", "qt", "wmv", "yuv", "asf", "amv", "mp4", "m4v", "mpg",
    "mpeg", "mpe", "mpv", "m2v", "3gp", "3g2", "nsv", "bk2", "mnv", "ogv", "zmv", "mpv", "mov",
};
static_assert(sizeof(PICTURE_AND_VIDEO_EXTENSIONS) / sizeof(PICTURE_AND_VIDEO_EXTENSIONS[0]) == 69);

static const char* const AUDIO_EXTENSIONS[] = {
    "mp3", "wav", "aiff", "aif", "flac", "ogg", "opus", "midi", "wma", "aax",
    "m4a", "m4p", "mp2", "audio", "caf", "mka", "dts", "ac3", "tta", "qoa",
};
static_assert(sizeof(AUDIO_EXTENSIONS) / sizeof(AUDIO_EXTENSIONS[0]) == 20);

static b8 extension_in(String extension, const char* const* list, u32 count) {
    for (u32 i = 0; i < count; i++) {
        if (strings_equal(extension, string_from_c(list[i]))) return true;
    }
    return false;
}

const char* get_file_lister_icon(File_Lister_Item* item, b8 selected, u8 purpose) {
    if (item->kind == FILE_LISTER_DIRECTORY) return "D";
    if (item->new_file || (selected && purpose == FILE_LISTER_SAVE)) return "w";
    if (selected && purpose == FILE_LISTER_DELETE) return "r";
    String extension = get_extension(item->name);
    if (extension.count == 0) return "F";
    if (extension_in(extension, PICTURE_AND_VIDEO_EXTENSIONS, 69)) return "p";
    if (extension_in(extension, AUDIO_EXTENSIONS, 20)) return "m";
    return "F";
}

const char* get_file_lister_suffix(File_Lister_Item* item, b8 selected, u8 purpose) {
    if (item->new_file) return " - create a new file";
    if (!selected) return "";
    if (purpose == FILE_LISTER_SAVE && item->kind == FILE_LISTER_FILE) return " - overwrite";
    if (purpose == FILE_LISTER_DELETE) {
        return item->kind == FILE_LISTER_FILE ? " - delete a file" : " - delete a directory";
    }
    return "";
}

// Icons, relative paths and suffixes: the complement of the hover colour on the row under
// the pointer, else the row's text colour; dimmed either way.
static Rgba get_secondary_colour(Rgba text, b8 under_pointer) {
    Rgba c = text;
    if (under_pointer) {
        Rgba h = lister_theme_colour(5);
        f32 most = fmaxf(h.r, fmaxf(h.g, h.b));
        c = Rgba{most - h.r, most - h.g, most - h.b, h.a};
    }
    c.a *= rgba_brightness(c) > 0.4f ? 0.7f : 0.5f;
    return c;
}

//~ One frame

Lister_Panel_Layout get_file_lister_layout(u32 item_count) {
    // Title, path, query and check-box rows; the rows are drawn in the UI font, so one pitch
    // serves drawing, scrolling and bringing into view.
    f32 u = (f32)ui_font_pool.pixel_size;
    return make_lister_panel_layout(4, 0.2f * u + u, item_count, true);
}

// Draws text from *x on and moves *x past it.
static void draw_run(String text, Font_Pool* font, f32* x, f32 y, Rgba colour, v2 clip_top_left, v2 clip_bottom_right) {
    if (text.count <= 0) return;
    draw_text_scissored(text.data, (u64)text.count, font, 0, *x, y, colour, clip_top_left, clip_bottom_right);
    *x += get_text_advance(text.data, (u64)text.count, font, editor_settings.tab_width);
}

// The directory's components with ">" between them. A press on one cuts the directory
// after it (listed from the next frame).
static void draw_path_row(File_Lister* lister, Lister_Panel_Layout* l, f32 y, v2 clip_top_left, v2 clip_bottom_right) {
    f32 u = (f32)ui_font_pool.pixel_size, p = l->margin;
    f32 x = l->left + p;
    v2 mouse = ui_mouse_position;
    Filepath* directory = &lister->directory;
    for (u32 i = 0; i < directory->count; i++) {
        Filepath_Component* c = &directory->components[i];
        String name = {c->storage, (s64)c->length};
        f32 width = get_text_advance(name.data, (u64)name.count, &ui_font_pool, editor_settings.tab_width);
        Rgba colour = lister_theme_colour(2);
        if (lister_point_inside(mouse, x, y, x + width, y + u)) {
            draw_quad_scissored(v2{truncf(x - p), truncf(y)}, v2{truncf(width + 2 * p), u}, lister_theme_colour(4),
                                clip_top_left, clip_bottom_right);
            colour = lister_theme_colour(3);
            if (ui_layer_in_focus == LISTER_UI_LAYER && ui_consume_left_click()) {
                directory->count = (u16)(i + 1);
                return;
            }
        }
        draw_run(name, &ui_font_pool, &x, y, colour, clip_top_left, clip_bottom_right);
        x += p;
        if (i + 1 < directory->count) {
            draw_run(STR(">"), &icons_font_pool, &x, y, lister_theme_colour(2), clip_top_left, clip_bottom_right);
            x += p;
        }
    }
}

void draw_and_update_file_lister() {
    File_Lister* lister = &global_file_lister;
    f32 target_width = (f32)renderer_info.width, target_height = (f32)renderer_info.height;
    ui_current_layer = LISTER_UI_LAYER;
    renderer_set_scissors(v2{0, 0}, v2{target_width, target_height});

    // A change of the directory, the flat view or the query starts a listing; the list
    // shown stays until the new one is published.
    maybe_update_file_lister();
    File_Lister_List* list = file_lister_get_published_list();
    b8 showable = list->listing >= lister->first_listing_shown;
    u32 item_count = showable ? list->count : 0;
    lister->shown_generation = showable ? list->generation : FILE_LISTER_NOTHING_SHOWN;
    // The list of the query typed last: its new-file item (always the last) is the choice.
    if (lister->pick_new_file && showable && list->listing == lister->listings_started) {
        lister->pick_new_file = 0;
        if (item_count > 0 && list->order[item_count - 1]->new_file) {
            lister->selected = item_count - 1;
            lister->scroll_request = 1;
        }
    }

    Lister_Panel_Layout l = get_file_lister_layout(item_count);
    f32 u = (f32)ui_font_pool.pixel_size, p = l.margin;
    if (l.height > 0 && l.top + l.height >= 0 && l.top <= target_height) {
        draw_quad(v2{l.left, l.top}, v2{l.width, l.height}, lister_theme_colour(0));
    }
    v2 header_top_left = {l.left, l.top};
    v2 header_bottom_right = {l.left + l.width, l.top + l.header};

    String title = lister->title;
    draw_text_scissored(title.data, (u64)title.count, &ui_font_pool, DRAW_TEXT_CENTRE_X, target_width * 0.5f, l.top + p,
                        lister_theme_colour(2), header_top_left, header_bottom_right);
    draw_path_row(lister, &l, l.top + p + (p + u), header_top_left, header_bottom_right);

    // The input line has the keyboard while the panel shows.
    f32 input_top = l.top + p + 2 * (p + u);
    v2 input_top_left = {l.left + p, input_top};
    v2 input_bottom_right = {l.left + l.width - p, input_top + u};
    draw_quad(input_top_left, v2{input_bottom_right.x - input_top_left.x, u}, lister_theme_colour(1));
    current_file = &lister->input_line;
    draw_file(&lister->input_line, &ui_font_pool, input_top_left, input_bottom_right);

    // The flat view is offered only where it is honoured.
    if (lister->directory.count >= 2 && lister->inside_path) {
        const char label[] = "Flat view";
        Ui_Element_Id id = make_ui_element_id(0, "file lister flat view", 21);
        get_or_add_ui_element(id, UI_ELEMENT_CHECK_BOX)->is_on = (lister->view_bits & FILE_LISTER_FLAT_VIEW) != 0;
        u8* on = ui_check_box(id, label, sizeof(label) - 1, false, l.left + p, l.top + p + 3 * (p + u),
                              lister_contrast_colour());
        if (*on) lister->view_bits |= FILE_LISTER_FLAT_VIEW;
        else lister->view_bits &= (u8)~FILE_LISTER_FLAT_VIEW;
    }

    f32* scroll = lister_scroll_bar("file lister", &l, item_count, lister->selected, &lister->scroll_request);
    f32 row_right = l.list_right - (scroll[1] > 0 ? scroll[1] + p : 0);
    v2 clip_top_left = {l.list_left, l.list_top};
    v2 clip_bottom_right = {row_right, l.list_bottom};
    v2 mouse = ui_mouse_position;
    b8 cursor_shows = ui_cursor_is_normal();
    for (u32 i = 0; i < item_count; i++) {
        f32 row_top = lister_row_top(&l, i, scroll[0]), row_bottom = lister_row_top(&l, i + 1, scroll[0]);
        if (row_bottom <= l.list_top) continue;
        if (row_top >= l.list_bottom) break;
        File_Lister_Item* item = list->order[i];
        b8 selected = i == lister->selected;
        b8 under_pointer = lister_point_inside(mouse, l.list_left, fmaxf(row_top, l.list_top), row_right,
                                        fminf(row_bottom, l.list_bottom));
        Rgba text = lister_theme_colour(2);
        if (selected) {
            draw_quad_scissored(v2{l.list_left, row_top}, v2{row_right - l.list_left, row_bottom - row_top},
                                lister_theme_colour(4), clip_top_left, clip_bottom_right);
            text = lister_theme_colour(3);
        } else if (under_pointer && cursor_shows) {
            draw_quad_scissored(v2{l.list_left, row_top}, v2{row_right - l.list_left, row_bottom - row_top},
                                lister_theme_colour(5), clip_top_left, clip_bottom_right);
            text = lister_theme_colour(3);
        }
        if (under_pointer && ui_layer_in_focus == LISTER_UI_LAYER && ui_consume_left_click()) {
            lister->selected = i;
            lister->pick_new_file = 0;
            file_lister_select_shown_item();
            break;
        }

        Rgba secondary = get_secondary_colour(text, under_pointer);
        f32 x = l.list_left + 0.5f * p, y = row_top + 0.5f * p;
        draw_run(string_from_c(get_file_lister_icon(item, selected, lister->purpose)), &icons_font_pool, &x, y, secondary,
                 clip_top_left, clip_bottom_right);
        x += p;
        if (item->relative_directory.count > 0) {
            draw_run(item->relative_directory, &ui_font_pool, &x, y, secondary, clip_top_left, clip_bottom_right);
            draw_run(STR("/"), &ui_font_pool, &x, y, secondary, clip_top_left, clip_bottom_right);
        }
        draw_run(item->name, &ui_font_pool, &x, y, text, clip_top_left, clip_bottom_right);
        draw_run(string_from_c(get_file_lister_suffix(item, selected, lister->purpose)), &ui_font_pool, &x, y, secondary,
                 clip_top_left, clip_bottom_right);
    }

    if (!lister_point_inside(mouse, l.left, l.top, l.left + l.width, l.top + l.height) &&
        ui_layer_in_focus == LISTER_UI_LAYER && ui_consume_left_click()) {
        close_lister();
    }
    // An Enter that came before this list acts on it, now that it is on screen.
    if (lister->select_pending && file_lister_input_is_listed() && showable && list->listing == lister->listings_started) {
        lister->select_pending = 0;
        lister_select_item();
    }
    advance_lister_animation();
    ui_current_layer = 0;
}
