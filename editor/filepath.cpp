// Splitting, copying and joining paths, and the blacklist test. The component walk is
// written once and used both for the record and for the blacklist, which compares views
// of the texts so that paths of any depth can be tested.

#include "editor/filepath.h"
#include "editor/tokenisation_hints.h"
#include "foundation/log.h"
#include "editor/editor_settings.h"

#include <string.h>

// Walks the components of a path text: '/' and '\\' separate, runs count as one, and a
// leading '/' is the component "/".
struct Path_Walk {
    u8* text;
    s64 length;
    s64 position;
};

static inline b8 is_path_separator(u8 c) { return c == '/' || c == '\\'; }

static b8 get_next_path_component(Path_Walk* walk, String* out) {
    if (walk->position == 0 && walk->length > 0 && walk->text[0] == '/') {
        walk->position = 1;
        *out = String{walk->text, 1};
        return true;
    }
    s64 i = walk->position;
    while (i < walk->length && is_path_separator(walk->text[i])) i++;
    if (i >= walk->length) {
        walk->position = walk->length;
        return false;
    }
    s64 start = i;
    while (i < walk->length && !is_path_separator(walk->text[i])) i++;
    walk->position = i;
    *out = String{walk->text + start, i - start};
    return true;
}

b8 string_to_filepath(Filepath* out, u8* text, s64 length) {
    memset(out, 0, sizeof(*out));
    Path_Walk walk = {text, length, 0};
    String component;
    while (get_next_path_component(&walk, &component)) {
        if (out->count == FILEPATH_MAX_COMPONENTS || component.count > FILEPATH_MAX_COMPONENT_LENGTH) {
            add_log(nullptr, LOG_ERROR,
                    "Path refused, it has more than %d components or one longer than %d octets: %.*s",
                    FILEPATH_MAX_COMPONENTS, FILEPATH_MAX_COMPONENT_LENGTH, (int)length, (char*)text);
            out->count = 0;
            return false;
        }
        Filepath_Component* c = &out->components[out->count++];
        memcpy(c->storage, component.data, component.count);
        c->text = c->storage;
        c->length = component.count;
    }
    return true;
}

void set_filepath_from(Filepath* destination, Filepath* source) {
    if (destination == source) return;
    memcpy(destination, source, sizeof(*destination));
    for (u32 i = 0; i < FILEPATH_MAX_COMPONENTS; i++) destination->components[i].text = destination->components[i].storage;
}

String filepath_to_tmp_string(Filepath* path) {
    // Read from storage, not text: a record copied byte for byte still joins correctly.
    u64 length = 0;
    for (u32 i = 0; i < path->count; i++) length += path->components[i].length + 1;
    u8* memory = tmp_allocate(length + 1);
    if (!memory) return String{nullptr, 0};
    u64 at = 0;
    for (u32 i = 0; i < path->count; i++) {
        Filepath_Component* c = &path->components[i];
        memcpy(memory + at, c->storage, c->length);
        at += c->length;
        b8 is_root = c->length == 1 && c->storage[0] == '/';
        if (!is_root) memory[at++] = '/';
    }
    if (at > 1 && memory[at - 1] == '/') at--;
    memory[at] = 0;
    return String{memory, (s64)at};
}

// True when the entry's components occur as a run of whole components of the path.
static b8 path_contains_components_of(String path, String entry) {
    Path_Walk starts = {path.data, path.count, 0};
    String first;
    for (;;) {
        Path_Walk path_walk = starts;
        if (!get_next_path_component(&starts, &first)) return false;
        Path_Walk entry_walk = {entry.data, entry.count, 0};
        String a, b;
        b8 matched_any = false;
        for (;;) {
            if (!get_next_path_component(&entry_walk, &b)) {
                if (matched_any) return true;
                return false;  // an entry without components matches nothing
            }
            if (!get_next_path_component(&path_walk, &a) || !strings_equal(a, b)) break;
            matched_any = true;
        }
    }
}

static b8 is_blacklisted(Editor_Settings* settings, u8* text, s64 length, b8 check_extension, b8 check_path) {
    if (check_extension) {
        String extension = get_extension(String{text, length});
        String* entries = (String*)settings->blacklisted_extensions.data;
        for (u32 i = 0; extension.count > 0 && i < settings->blacklisted_extensions.count; i++) {
            if (strings_equal(entries[i], extension)) return true;
        }
    }
    if (!check_path) return false;
    String path = {text, length};
    String* entries = (String*)settings->blacklisted_paths.data;
    for (u32 i = 0; i < settings->blacklisted_paths.count; i++) {
        if (path_contains_components_of(path, entries[i])) return true;
    }
    return false;
}

b8 filepath_is_blacklisted(u8* text, s64 length, b8 check_extension, b8 check_path) {
    // Walk threads ask while set_settings may rebuild the lists.
    spin_lock(&editor_settings.lists_lock);
    b8 blacklisted = is_blacklisted(&editor_settings, text, length, check_extension, check_path);
    spin_unlock(&editor_settings.lists_lock);
    return blacklisted;
}
