// The listing: when to start it, the walk of the listing thread, its order and the new-file
// item. The walk works from directory descriptors, so an entry is examined where it was
// found and a link is never followed into a directory.

#include "listers/file_lister.h"
#include "listers/lister_threads.h"
#include "ui/window.h"
#include "editor/editor_settings.h"

#include <assert.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

File_Lister global_file_lister;
Memory_Pool file_lister_items_pool;

// Set by a listing thread for its run; a second one means two threads overlap.
static u8 listing_thread_inside;

static void* map_file_lister_page(u64 size) { return os_allocate_read_write(size); }

void init_file_lister() {
    File_Lister* lister = &global_file_lister;
    if (!file_lister_items_pool.element_size) {
        _init_memory_pool(&file_lister_items_pool, sizeof(File_Lister_Item), NUM_FILE_LISTER_ITEMS_PER_BUCKET,
                          NUM_FILE_LISTER_ITEM_BUCKETS_PER_PAGE, nullptr, map_file_lister_page);
    }
    for (u32 i = 0; i < 2; i++) {
        File_Lister_List* list = &lister->lists[i];
        if (list->items.pool) {
            bucket_array_reset(&list->items);
            string_store_reset(&list->relative_directories);
        } else {
            init_bucket_array(&list->items, &file_lister_items_pool);
            list->relative_directories.block_size = FILE_LISTER_TEXT_BLOCK_SIZE;
        }
        list->count = 0;
        list->order = nullptr;
        list->generation = 0;
        list->listing = 0;
    }
    lister->published = 0;
    lister->shown_generation = 0;
    lister->listings_started = 0;
    lister->first_listing_shown = 0;
    lister->directory.count = 0;
    lister->key_hash = 0;
    lister->selected = 0;
    lister->purpose = FILE_LISTER_OPEN;
    lister->view_bits = FILE_LISTER_FLAT_VIEW | FILE_LISTER_LIST_FILES;
    lister->scroll_request = 0;
    lister->run = 0;
    lister->busy = 0;
    lister->inside_path = 0;
    lister->force = 0;
    if (lister->input_line.flags & FILE_IN_USE) {
        lister->input_line.text.count = 0;
    } else {
        init_file(&lister->input_line, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    }
    lister->title = String{lister->title_text, 0};
}

File_Lister_List* file_lister_get_published_list() {
    return &global_file_lister.lists[__atomic_load_n(&global_file_lister.published, __ATOMIC_ACQUIRE)];
}

File_Lister_Item* file_lister_get_item(File_Lister_List* list, u32 index) {
    return index < list->count ? list->order[index] : nullptr;
}

b8 file_lister_is_busy() { return __atomic_load_n(&global_file_lister.busy, __ATOMIC_ACQUIRE) != 0; }

b8 is_valid_new_file_name(String name) {
    if (name.count < 1 || name.count > 255) return false;
    if (strings_equal(name, STR(".")) || strings_equal(name, STR(".."))) return false;
    for (s64 i = 0; i < name.count; i++) {
        if (name.data[i] == '/' || name.data[i] == 0) return false;
    }
    return true;
}

//~ Order

// The relative name "directory/name" read through its two parts without joining them.
struct Relative_Name {
    String parts[2];
    u32 part;
    s64 at;
};

static Relative_Name make_relative_name(File_Lister_Item* item) {
    Relative_Name r = {};
    if (item->relative_directory.count > 0) {
        r.parts[0] = item->relative_directory;
        r.parts[1] = item->name;
    } else {
        r.parts[0] = item->name;
    }
    return r;
}

// The "/" between the parts is read as a byte of its own at the end of part 0.
static b8 relative_name_at_end(Relative_Name* r) {
    if (r->part == 0) return r->parts[1].count == 0 && r->at >= r->parts[0].count;
    return r->at >= r->parts[1].count;
}

static u8 relative_name_byte(Relative_Name* r) {
    if (r->part == 0 && r->at == r->parts[0].count) return '/';
    return r->parts[r->part].data[r->at];
}

static void relative_name_advance(Relative_Name* r) {
    if (r->part == 0 && r->at == r->parts[0].count) {
        r->part = 1;
        r->at = 0;
        return;
    }
    r->at++;
}

static inline b8 is_digit(u8 c) { return c >= '0' && c <= '9'; }

// A run of digits lies inside one part: "/" is no digit.
static String take_digit_run(Relative_Name* r) {
    String* part = &r->parts[r->part];
    s64 start = r->at;
    while (r->at < part->count && is_digit(part->data[r->at])) r->at++;
    return String{part->data + start, r->at - start};
}

static u32 shared_prefix_length(String name, String query) {
    s64 n = name.count < query.count ? name.count : query.count;
    s64 i = 0;
    while (i < n && name.data[i] == query.data[i]) i++;
    return (u32)i;
}

// Natural order: a run of digits that starts with 1 to 9 is a number (a 0 is an ordinary
// character, so "a01" goes before "a1"); the runs compare by length, then digit by digit,
// which is their numeric order at any length. Other octets compare as signed values, so
// octets from 0x80 go before ASCII. A text goes before the longer texts it starts.
static b8 relative_name_less(File_Lister_Item* a, File_Lister_Item* b) {
    Relative_Name x = make_relative_name(a);
    Relative_Name y = make_relative_name(b);
    for (;;) {
        b8 x_end = relative_name_at_end(&x);
        b8 y_end = relative_name_at_end(&y);
        if (x_end || y_end) return x_end && !y_end;
        u8 cx = relative_name_byte(&x);
        u8 cy = relative_name_byte(&y);
        if (cx >= '1' && cx <= '9' && cy >= '1' && cy <= '9') {
            String run_x = take_digit_run(&x);
            String run_y = take_digit_run(&y);
            if (run_x.count != run_y.count) return run_x.count < run_y.count;
            int order = memcmp(run_x.data, run_y.data, (u64)run_x.count);
            if (order != 0) return order < 0;
            continue;
        }
        if (cx != cy) return (s8)cx < (s8)cy;
        relative_name_advance(&x);
        relative_name_advance(&y);
    }
}

static b8 file_lister_item_less(File_Lister_Item* a, File_Lister_Item* b, String query) {
    u32 prefix_a = shared_prefix_length(a->name, query);
    u32 prefix_b = shared_prefix_length(b->name, query);
    if (prefix_a != prefix_b) return prefix_a > prefix_b;
    return relative_name_less(a, b);
}

b8 sort_file_lister_search_results(File_Lister_Item* a, File_Lister_Item* b) {
    return file_lister_item_less(a, b, global_file_lister.query);
}

static b8 listing_may_go_on() { return __atomic_load_n(&global_file_lister.run, __ATOMIC_RELAXED) != 0; }

// Bottom-up merge sort of the item pointers: n log n comparisons on any input. False when
// the run flag dropped, with the order left unfinished.
static b8 sort_items(File_Lister_Item** items, u32 count, String query) {
    if (count < 2) return true;
    File_Lister_Item** other = (File_Lister_Item**)tmp_allocate_aligned((u64)count * sizeof(File_Lister_Item*), 8);
    if (!other) return false;
    File_Lister_Item** from = items;
    File_Lister_Item** to = other;
    u32 comparisons = 0;
    for (u64 width = 1; width < count; width *= 2) {
        for (u64 low = 0; low < count; low += 2 * width) {
            u64 middle = low + width < count ? low + width : count;
            u64 high = low + 2 * width < count ? low + 2 * width : count;
            u64 i = low, j = middle, k = low;
            while (i < middle && j < high) {
                if (++comparisons == 4096) {
                    comparisons = 0;
                    if (!listing_may_go_on()) return false;
                }
                // Taking from the right only when it is strictly less keeps equal items in order.
                if (file_lister_item_less(from[j], from[i], query)) to[k++] = from[j++];
                else to[k++] = from[i++];
            }
            while (i < middle) to[k++] = from[i++];
            while (j < high) to[k++] = from[j++];
        }
        File_Lister_Item** swap = from;
        from = to;
        to = swap;
    }
    if (from != items) memcpy(items, from, (u64)count * sizeof(File_Lister_Item*));
    return true;
}

//~ The walk

struct Walk_Level {
    DIR* stream;
    String relative;   // this directory's relative path, in the list's text store
    u64 path_length;   // of the full path up to this directory
    u64 device;        // of this directory, as opened
    u64 inode;
};

struct Listing {
    File_Lister* lister;
    File_Lister_List* list;
    Editor_Settings_Lists settings;
    String query;
    char* path;        // the full path of the directory being read, then room for a name
    u64 path_capacity;
    b8 file_named_like_query;
    b8 stopped_at_cap;  // the item cap or memory ended the walk: the list still goes out
    b8 depth_logged;
};

static b8 name_is_skipped(Listing* l, String name) {
    for (u32 i = 0; i < l->settings.skipped_name_count; i++) {
        if (strings_equal(l->settings.skipped_names[i], name)) return true;
    }
    return false;
}

static b8 extension_is_blacklisted(Listing* l, String name) {
    String extension = get_extension(name);
    if (extension.count == 0 || l->settings.blacklisted_extension_count == 0) return false;
    u64 saved = tmp_get_used();
    String lower = string_to_lower_case(extension);
    b8 found = false;
    for (u32 i = 0; !found && i < l->settings.blacklisted_extension_count; i++) {
        found = strings_equal(l->settings.blacklisted_extensions[i], lower);
    }
    tmp_set_used(saved);
    return found;
}

static b8 name_matches_query(String name, String query) {
    if (query.count == 0) return true;
    if (name.count < query.count) return false;
    return memmem(name.data, (u64)name.count, query.data, (u64)query.count) != nullptr;
}

static b8 add_item(Listing* l, Walk_Level* level, String name, u8 kind, struct stat* entry) {
    if (l->list->items.count >= FILE_LISTER_MAX_ITEMS) {
        add_log(nullptr, LOG_ERROR, "The file lister shows only the first %u entries under \"%.*s\".",
                FILE_LISTER_MAX_ITEMS, (int)l->lister->directory_text.count, (char*)l->lister->directory_text.data);
        l->stopped_at_cap = true;
        return false;
    }
    File_Lister_Item* item = (File_Lister_Item*)bucket_array_append(&l->list->items);
    if (!item) {
        l->stopped_at_cap = true;  // the pool logged it
        return false;
    }
    item->relative_directory = level->relative;
    memcpy(item->name_text, name.data, (u64)name.count);
    item->name = String{item->name_text, name.count};
    item->kind = kind;
    item->entry_type = (u8)((entry->st_mode & S_IFMT) >> 12);
    item->device = (u64)entry->st_dev;
    item->inode = (u64)entry->st_ino;
    item->parent_device = level->device;
    item->parent_inode = level->inode;
    return true;
}

// The kind an entry is listed as: a link counts as what it points at; anything else that
// is neither a directory nor a regular file is left out (-1). `itself` gets the entry's own
// status (a link's, not its target's).
static int get_entry_kind(int directory_fd, struct dirent* entry, b8* is_link, u64* size, struct stat* itself) {
    *is_link = false;
    *size = 0;
    u8 type = entry->d_type;
    if (type != DT_DIR && type != DT_REG && type != DT_LNK && type != DT_UNKNOWN) return -1;
    if (fstatat(directory_fd, entry->d_name, itself, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    struct stat st = *itself;
    if (S_ISLNK(st.st_mode)) {
        *is_link = true;
        // A link to nothing or to itself fails here and is left out.
        if (fstatat(directory_fd, entry->d_name, &st, 0) != 0) return -1;
    }
    if (S_ISDIR(st.st_mode)) return FILE_LISTER_DIRECTORY;
    if (!S_ISREG(st.st_mode)) return -1;
    *size = (u64)st.st_size;
    return FILE_LISTER_FILE;
}

// Reads the tree depth first with a stack of open directories. Returns false when the run
// flag dropped.
static b8 walk_directory(Listing* l) {
    File_Lister* lister = l->lister;
    u32 most_levels = FILEPATH_MAX_COMPONENTS;
    Walk_Level* levels = (Walk_Level*)tmp_allocate_aligned(most_levels * sizeof(Walk_Level), 8);
    if (!levels) return true;

    int root_fd = open((char*)lister->directory_text.data, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat root_status;
    DIR* root = root_fd >= 0 && fstat(root_fd, &root_status) == 0 ? fdopendir(root_fd) : nullptr;
    if (!root) {
        // An unreachable directory lists as empty.
        if (root_fd >= 0) close(root_fd);
        return true;
    }
    u64 root_length = (u64)lister->directory_text.count;
    memcpy(l->path, lister->directory_text.data, root_length);
    levels[0] = Walk_Level{root, String{}, root_length, (u64)root_status.st_dev, (u64)root_status.st_ino};
    u32 depth = 1;

    // Items of a directory at level d carry d relative components; with the lister's
    // directory and the name they must fit one Filepath for the actions.
    s64 deepest_level = (s64)FILEPATH_MAX_COMPONENTS - 1 - lister->directory_count;

    while (depth > 0) {
        if (!listing_may_go_on()) break;
        Walk_Level* level = &levels[depth - 1];
        struct dirent* entry = readdir(level->stream);
        if (!entry) {
            closedir(level->stream);
            depth--;
            continue;
        }
        String name = string_from_c(entry->d_name);
        if (name.count == 0 || name.data[0] == '$') continue;
        if (strings_equal(name, STR(".")) || strings_equal(name, STR(".."))) continue;

        b8 is_link;
        u64 size;
        struct stat itself;
        int kind = get_entry_kind(dirfd(level->stream), entry, &is_link, &size, &itself);
        if (kind < 0) continue;

        if (kind == FILE_LISTER_DIRECTORY) {
            if (name_is_skipped(l, name)) continue;
            if (name_matches_query(name, l->query) && !add_item(l, level, name, FILE_LISTER_DIRECTORY, &itself)) break;
            if (!lister->recursive || is_link) continue;
            if ((s64)depth > deepest_level) {
                if (!l->depth_logged) {
                    add_log(nullptr, LOG_INFO, "The flat view does not go below %lld levels under \"%.*s\".",
                            (long long)deepest_level, (int)lister->directory_text.count, (char*)lister->directory_text.data);
                    l->depth_logged = true;
                }
                continue;
            }
            u64 length = level->path_length;
            b8 root_slash = length > 0 && l->path[length - 1] == '/';
            u64 child_length = length + (root_slash ? 0 : 1) + (u64)name.count;
            if (child_length + 1 > l->path_capacity) continue;
            if (!root_slash) l->path[length] = '/';
            memcpy(l->path + child_length - name.count, name.data, (u64)name.count);
            l->path[child_length] = 0;
            // A blacklisted directory is listed, never entered.
            if (filepath_is_blacklisted((u8*)l->path, (s64)child_length, false, true)) continue;

            u64 saved = tmp_get_used();
            String relative = level->relative.count ? string_concat2("%/%", level->relative, name) : name;
            relative = string_store_append(&l->list->relative_directories, relative);
            tmp_set_used(saved);
            if (relative.count == 0) continue;

            int child_fd = openat(dirfd(level->stream), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat child_status;
            DIR* child = child_fd >= 0 && fstat(child_fd, &child_status) == 0 ? fdopendir(child_fd) : nullptr;
            if (!child) {
                if (child_fd >= 0) close(child_fd);
                continue;
            }
            levels[depth++] =
                Walk_Level{child, relative, child_length, (u64)child_status.st_dev, (u64)child_status.st_ino};
            continue;
        }

        if (!lister->list_files) continue;
        if (extension_is_blacklisted(l, name)) continue;
        if (size > l->settings.search_size_limit) continue;
        if (!name_matches_query(name, l->query)) continue;
        if (strings_equal(name, l->query)) l->file_named_like_query = true;
        if (!add_item(l, level, name, FILE_LISTER_FILE, &itself)) break;
    }
    b8 stopped = depth > 0 && !l->stopped_at_cap;
    while (depth > 0) closedir(levels[--depth].stream);
    return !stopped;
}

// Display order: the item pointers sorted, then the new-file item, then the chain of next
// pointers in that order.
static b8 finish_list(Listing* l) {
    File_Lister_List* list = l->list;
    u64 wanted = ((u64)list->items.count + 1) * sizeof(File_Lister_Item*);
    if (list->order_storage.size < wanted) {
        gp_free(&list->order_storage);
        u64 size = wanted < 4096 ? 4096 : wanted * 2;
        if (!gp_allocate(&list->order_storage, size)) return false;
    }
    list->order = (File_Lister_Item**)list->order_storage.memory;
    u32 count = 0;
    for (File_Lister_Item* item = (File_Lister_Item*)list->items.first_element; item; item = item->next) {
        list->order[count++] = item;
    }
    if (!sort_items(list->order, count, l->query)) return false;
    if (!listing_may_go_on()) return false;

    File_Lister* lister = l->lister;
    if (lister->listed_purpose == FILE_LISTER_SAVE && lister->directory_count > 0 && !l->file_named_like_query &&
        is_valid_new_file_name(l->query)) {
        File_Lister_Item* item = (File_Lister_Item*)bucket_array_append(&list->items);
        if (item) {
            memcpy(item->name_text, l->query.data, (u64)l->query.count);
            item->name = String{item->name_text, l->query.count};
            item->kind = FILE_LISTER_FILE;
            item->new_file = 1;
            list->order[count++] = item;
        }
    }
    for (u32 i = 0; i < count; i++) list->order[i]->next = i + 1 < count ? list->order[i + 1] : nullptr;
    list->count = count;
    return true;
}

void* file_lister_search(void* unused) {
    tmp_claim_slot();
    tmp_reset();
    File_Lister* lister = &global_file_lister;
    u8 inside = __atomic_exchange_n(&listing_thread_inside, (u8)1, __ATOMIC_ACQ_REL);
    assert(inside == 0 && "two listing threads overlap");
    (void)inside;

    u8 back = (u8)(1 - lister->published);
    File_Lister_List* list = &lister->lists[back];
    bucket_array_reset(&list->items);
    string_store_reset(&list->relative_directories);
    list->count = 0;
    list->listing = lister->listings_started;

    Listing l = {};
    l.lister = lister;
    l.list = list;
    l.query = lister->query;
    editor_settings_copy_lists_tmp(&l.settings);  // on failure the lists are empty and the limit 0
    l.path_capacity = (u64)FILEPATH_MAX_COMPONENTS * (FILEPATH_MAX_COMPONENT_LENGTH + 1) + 2;
    l.path = (char*)tmp_allocate(l.path_capacity);
    list->directory = string_store_append(&list->relative_directories, lister->directory_text);
    if (l.path && list->directory.count && lister->directory_text.count + 1 < (s64)l.path_capacity) {
        if (walk_directory(&l) && finish_list(&l)) {
            list->generation = lister->lists[lister->published].generation + 1;
            __atomic_store_n(&lister->published, back, __ATOMIC_RELEASE);
        }
    }

    __atomic_store_n(&listing_thread_inside, (u8)0, __ATOMIC_RELEASE);
    __atomic_store_n(&lister->busy, (u8)0, __ATOMIC_RELEASE);
    wake_main_loop();
    tmp_release_slot();
    return nullptr;
}

//~ Starting a listing

b8 file_lister_input_is_listed() {
    File_Lister* lister = &global_file_lister;
    Dynamic_Array* text = &lister->input_line.text;
    return lister->key_hash != 0 && lister->query.count == (s64)text->count &&
           (text->count == 0 || memcmp(lister->query.data, text->data, text->count) == 0);
}

void reset_file_lister_selection() {
    File_Lister* lister = &global_file_lister;
    // Writing over or deleting a file must take an explicit choice of it.
    lister->selected = lister->purpose == FILE_LISTER_OPEN ? 0 : FILE_LISTER_NO_SELECTION;
    lister->pick_new_file = lister->purpose == FILE_LISTER_SAVE && lister->input_line.text.count > 0;
}

void maybe_update_file_lister() {
    File_Lister* lister = &global_file_lister;
    u64 saved = tmp_get_used();
    String directory = lister->directory.count ? filepath_to_tmp_string(&lister->directory) : STR("/");
    String input = {lister->input_line.text.data, (s64)lister->input_line.text.count};
    u8* key = tmp_allocate(1 + (u64)directory.count + (u64)input.count);
    if (!directory.data || !key) {
        tmp_set_used(saved);
        return;
    }
    key[0] = lister->view_bits;
    memcpy(key + 1, directory.data, (u64)directory.count);
    if (input.count) memcpy(key + 1 + directory.count, input.data, (u64)input.count);
    u64 hash = MeowHash(1 + (u64)directory.count + (u64)input.count, key).low;
    b8 key_changed = hash != lister->key_hash;
    if (!key_changed && !lister->force) {
        tmp_set_used(saved);
        return;
    }

    if (file_lister_is_busy()) {
        // The running thread ends at its next entry and wakes the main loop; the new
        // listing starts at the call after that. Its key is forgotten, since its list is
        // never published: typing back to it must list again.
        __atomic_store_n(&lister->run, (u8)0, __ATOMIC_RELEASE);
        lister->key_hash = 0;
        tmp_set_used(saved);
        return;
    }

    lister->force = 0;
    // A listing forced by a delete keeps "nothing selected".
    if (key_changed) reset_file_lister_selection();
    lister->inside_path =
        lister->directory.count > 0 && !filepath_is_blacklisted(directory.data, directory.count, false, true);
    lister->recursive =
        lister->directory.count >= 2 && (lister->view_bits & FILE_LISTER_FLAT_VIEW) && lister->inside_path;
    lister->directory_count = lister->directory.count;
    lister->listed_purpose = lister->purpose;
    lister->list_files = (lister->view_bits & FILE_LISTER_LIST_FILES) != 0;
    b8 copied = copy_string_to_allocation(&lister->directory_storage, directory, &lister->directory_text) &&
                copy_string_to_allocation(&lister->query_storage, input, &lister->query);
    tmp_set_used(saved);
    lister->key_hash = hash;
    lister->scroll_request = 1;
    if (!copied) return;

    __atomic_store_n(&lister->run, (u8)1, __ATOMIC_RELEASE);
    __atomic_store_n(&lister->busy, (u8)1, __ATOMIC_RELEASE);
    lister->listings_started++;
    if (!start_detached_thread(file_lister_search, nullptr, "file listing")) {
        __atomic_store_n(&lister->run, (u8)0, __ATOMIC_RELEASE);
        __atomic_store_n(&lister->busy, (u8)0, __ATOMIC_RELEASE);
    }
}
