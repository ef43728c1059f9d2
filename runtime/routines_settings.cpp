// The settings and appearance routines. Every array the layer hands over is read through
// copies of its entries, and an entry whose text is null counts as empty: layer code is
// trusted with the layout, not with every value.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <stdio.h>
#include <string.h>

#include "runtime/routines_settings.h"
#include "runtime/layer_loader.h"
#include "editor/editing.h"
#include "editor/editor_file.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "foundation/unicode.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "ui/window.h"

//~ Font size

static f32 clamp_font_size(f32 size) {
    // Written so that a NaN from the layer becomes the minimum.
    if (!(size > MIN_FONT_SIZE)) return MIN_FONT_SIZE;
    return size < MAX_FONT_SIZE ? size : MAX_FONT_SIZE;
}

f32 get_layer_font_pixel_size(f32 size) {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    // The monitor can be unplugged; the window's height then stands for the screen's.
    f32 height = mode ? (f32)mode->height : (f32)window.height;
    return size / FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT * height;
}

static void resize_fonts_and_mark_file_tabs(f32 size) {
    f32 pixels = get_layer_font_pixel_size(size);
    if (pixels <= 0) return;  // no screen to measure against: the fonts stay as they are
    resize_fonts(pixels, pixels, pixels);
    mark_every_file_tab(FILE_CENTRE_CURSOR);
}

// The ranges start-up gives a text pool, served by the named font.
static void set_text_pool_font(Font_Pool* pool, String font_file) {
    if (!font_file.data || font_file.count <= 0) return;
    Font_Range_Request requests[2] = {
        {0, 0x52F, font_file},
        {UNICODE_REPLACEMENT_CHARACTER, UNICODE_REPLACEMENT_CHARACTER, font_file},
    };
    maybe_set_new_font_pool(pool, requests, 2);  // a font it cannot load is logged there; the pool stays
}

//~ Texts and lists handed over by the layer

static String checked_string(String s) { return s.data && s.count > 0 ? s : String{nullptr, 0}; }

static String read_string(String* array, s64 index) {
    String s;
    memcpy(&s, &array[index], sizeof(s));
    return checked_string(s);
}

// A checked copy of an array of Strings in temporary memory; *count becomes 0 for a null
// array or when temporary memory is full.
static String* copy_strings_tmp(String* strings, s64* count) {
    if (!strings || *count <= 0) {
        *count = 0;
        return nullptr;
    }
    String* copy = (String*)tmp_allocate_aligned((u64)*count * sizeof(String), alignof(String));
    if (!copy) {
        *count = 0;
        return nullptr;
    }
    for (s64 i = 0; i < *count; i++) copy[i] = read_string(strings, i);
    return copy;
}

static void set_tab_text(String text) {
    text = checked_string(text);
    if (!text.count || (u64)text.count > 0xFFFFFFFFull) return;  // empty keeps the current text
    Dynamic_Array* tab_text = &global_tab_character;
    u32 old_count = tab_text->count;
    tab_text->count = 0;
    u8* at = (u8*)dynamic_array_add_fast_multiple(tab_text, (u32)text.count);
    if (!at) {
        tab_text->count = old_count;  // a failed growth leaves the octets where they were
        return;
    }
    memcpy(at, text.data, (u64)text.count);
}

static void adopt_shipped_syntax_file() {
    String directory = executable_filepath;
    String separator = directory.count && directory.data[directory.count - 1] != '/' ? STR("/") : STR("");
    String shipped = string_concat2("%%%", directory, separator, STR(SHIPPED_SYNTAX_FILE));
    String target = string_concat2("%%%", directory, separator, STR(SYNTAX_FILE));
    if (!shipped.data || !target.data) return;
    // One rename replaces the old file atomically: a crash leaves one of the two in place.
    // Without a shipped file it fails, and nothing changes.
    rename((char*)shipped.data, (char*)target.data);
}

//~ Tokenisation hints

// A delimiter or extension counts as unchanged only when it is not empty.
static b8 same_hint_text(String given, String kept) {
    given = checked_string(given);
    return given.count > 0 && strings_equal(given, kept);
}

static b8 hints_are_unchanged(Layer_Tokenisation_Hint* given, s64 count) {
    Dynamic_Array* kept = &editor_settings.tokenisation_hints;
    if (count != (s64)kept->count) return false;
    for (s64 i = 0; i < count; i++) {
        Layer_Tokenisation_Hint h;
        memcpy(&h, &given[i], sizeof(h));
        Tokenisation_Hint* k = (Tokenisation_Hint*)kept->data + i;
        if (h.string_delimiters != k->string_delimiters) return false;
        if (!same_hint_text(h.line_comment, k->line_comment) || !same_hint_text(h.block_start, k->block_start) ||
            !same_hint_text(h.block_end, k->block_end)) {
            return false;
        }
        if (!h.extensions || h.extension_count != (s64)k->extensions.count) return false;
        String* kept_extensions = (String*)k->extensions.data;
        for (s64 e = 0; e < h.extension_count; e++) {
            String extension;
            memcpy(&extension, &h.extensions[e], sizeof(extension));
            if (!same_hint_text(extension, kept_extensions[e])) return false;
        }
    }
    return true;
}

static void set_tokenisation_hints(Layer_Tokenisation_Hint* given, s64 count) {
    if (!given || count < 0) count = 0;
    if (hints_are_unchanged(given, count)) return;
    clear_tokenisation_hints();
    for (s64 i = 0; i < count; i++) {
        Layer_Tokenisation_Hint h;
        memcpy(&h, &given[i], sizeof(h));
        s64 extension_count = h.extension_count;
        h.extensions = copy_strings_tmp(h.extensions, &extension_count);
        h.extension_count = extension_count;
        h.line_comment = checked_string(h.line_comment);
        h.block_start = checked_string(h.block_start);
        h.block_end = checked_string(h.block_end);
        add_a_tokenisation_hint_from(&h);  // logged there when it fails
    }
}

//~ The routines

// Every text and array of the block, read through before anything changes: a bad address
// stops the layer with the settings as they were.
static void check_settings_memory(Layer_Settings* s) {
    check_layer_memory(s->tab_text.data, s->tab_text.count);
    check_layer_memory(s->ui_font.data, s->ui_font.count);
    check_layer_memory(s->code_font.data, s->code_font.count);
    check_layer_array(s->hints, s->hint_count, sizeof(Layer_Tokenisation_Hint));
    for (s64 i = 0; s->hints && i < s->hint_count; i++) {
        Layer_Tokenisation_Hint h;
        memcpy(&h, &s->hints[i], sizeof(h));
        check_layer_strings(h.extensions, h.extension_count);
        check_layer_memory(h.line_comment.data, h.line_comment.count);
        check_layer_memory(h.block_start.data, h.block_start.count);
        check_layer_memory(h.block_end.data, h.block_end.count);
    }
    check_layer_strings(s->skipped_names, s->skipped_name_count);
    check_layer_strings(s->blacklisted_extensions, s->blacklisted_extension_count);
    check_layer_strings(s->blacklisted_paths, s->blacklisted_path_count);
}

void foreign_set_settings(u8* parameters) {
    Layer_Settings s;
    memcpy(&s, parameters, sizeof(s));
    check_settings_memory(&s);
    u64 tmp_mark = tmp_get_used();

    editor_settings.ui_theme = s.ui_theme;
    editor_settings.text_theme = s.text_theme;
    // Every view draws tabs at the record's width: 0 would make them vanish.
    if (s.tab_width) editor_settings.tab_width = s.tab_width;
    editor_settings.spare_setting = s.spare;
    editor_settings.display_flags = s.display_flags;

    if (s.display_flags & DISPLAY_ADOPT_SYNTAX) adopt_shipped_syntax_file();

    f32 size = clamp_font_size(s.font_size);
    set_text_pool_font(&code_font_pool, s.code_font);
    set_text_pool_font(&ui_font_pool, s.ui_font);
    f32 change = size - editor_settings.font_size;
    if (change > FONT_SIZE_CHANGE_THRESHOLD || change < -FONT_SIZE_CHANGE_THRESHOLD) resize_fonts_and_mark_file_tabs(size);
    editor_settings.font_size = size;

    set_tab_text(s.tab_text);
    set_tokenisation_hints(s.hints, s.hint_count);

    s64 skipped_count = s.skipped_name_count, extension_count = s.blacklisted_extension_count;
    s64 path_count = s.blacklisted_path_count;
    String* skipped = copy_strings_tmp(s.skipped_names, &skipped_count);
    String* extensions = copy_strings_tmp(s.blacklisted_extensions, &extension_count);
    String* paths = copy_strings_tmp(s.blacklisted_paths, &path_count);
    // Under the lists lock: search and listing threads read the lists and the limit.
    editor_settings_set_lists(skipped, skipped_count, extensions, extension_count, paths, path_count, s.search_size_limit);

    tmp_set_used(tmp_mark);
}

void foreign_get_font_size(u8* parameters) {
    Font_Size_Parameters p = {editor_settings.font_size};
    memcpy(parameters, &p, sizeof(p));
}

void foreign_set_font_size(u8* parameters) {
    Font_Size_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    editor_settings.font_size = clamp_font_size(p.size);
    resize_fonts_and_mark_file_tabs(editor_settings.font_size);
}

void foreign_toggle_focus_mode(u8* parameters) {
    if (atomic_load_u64(&global_flags) & FOCUS_MODE) atomic_and_u64(&global_flags, ~(u64)FOCUS_MODE);
    else atomic_or_u64(&global_flags, FOCUS_MODE);
}

void foreign_toggle_line_numbers(u8* parameters) { editor_settings.display_flags ^= DISPLAY_LINE_NUMBERS; }
