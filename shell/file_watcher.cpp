// The file watcher thread and its two passes.

#include "shell/file_watcher.h"
#include "shell/tabs.h"
#include "editor/editor.h"
#include "runtime/custom_layer.h"
#include "compiler/bytecode/layer_image.h"
#include "ui/window.h"

#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static u64 whole_modification_time(struct stat* st) {
    return (u64)st->st_mtim.tv_sec * 1000000000ull + (u64)st->st_mtim.tv_nsec;
}

//~ Open files

// What a pass copies of one file tab under the lock, so that it can stat without it.
struct Watched_File {
    u32 tab_id;
    Editor_File* file;
    u64 size;
    u64 modification_time;
    u16 flags;
    char* path;
};

// Sets and clears bits in one step, and only while the file has no unsaved edits: a check
// followed by a separate OR could flag a file the user just began to edit, and the view
// would then reload over the edits.
static b8 change_flags_unless_modified(u16* flags, u16 set, u16 clear) {
    u16 old = atomic_load_u16(flags);
    for (;;) {
        if (old & FILE_MODIFIED) return false;
        u16 wanted = (u16)((old & ~clear) | set);
        if (wanted == old) return false;
        if (atomic_compare_exchange_u16(flags, &old, wanted)) return true;
    }
}

u32 watch_open_files() {
    u64 saved = tmp_get_used();
    spin_lock(&tabs_read_lock);
    u32 count = 0;
    Watched_File* watched = (Watched_File*)tmp_allocate_aligned(sizeof(Watched_File) * (tabs.count + 1), alignof(Watched_File));
    for (u32 i = 0; watched && i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        Editor_File* file = tab->kind == TAB_FILE ? tab->file : nullptr;
        if (!file || file->name.count == 0 || file->directory.count == 0) continue;
        u16 flags = atomic_load_u16(&file->flags);
        if (flags & (FILE_MODIFIED | FILE_CHANGED_ON_DISK)) continue;
        String path = get_file_path_tmp(file);
        if (!path.data) continue;
        watched[count++] = Watched_File{tab->id, file, (u64)file->text.count, file->modification_time, flags, (char*)path.data};
    }
    spin_unlock(&tabs_read_lock);

    u32 flagged = 0;
    for (u32 i = 0; i < count; i++) {
        Watched_File* w = &watched[i];
        // What cannot be read as a file (a directory now, no permission) counts as gone:
        // flagged as changed, the view would try to reload it ten times a second.
        struct stat st;
        b8 found = stat(w->path, &st) == 0 && S_ISREG(st.st_mode) && access(w->path, R_OK) == 0;
        u16 set, clear;
        if (!found) {
            // Flagged once: while it stays away nothing changes, so the loop is not woken again.
            if (w->flags & FILE_GONE_FROM_DISK) continue;
            set = FILE_GONE_FROM_DISK;
            clear = 0;
        } else if ((u64)st.st_size != w->size || whole_modification_time(&st) != w->modification_time ||
                   (w->flags & FILE_GONE_FROM_DISK)) {
            set = FILE_CHANGED_ON_DISK;
            clear = FILE_GONE_FROM_DISK;
        } else {
            continue;
        }
        // The tab is found again by id: records move and close while the lock was free. A
        // file saved or reloaded meanwhile has a new time and is left to the next pass.
        spin_lock(&tabs_read_lock);
        Tab* tab = get_tab_by_id(w->tab_id);
        if (tab && tab->file == w->file && w->file->modification_time == w->modification_time) {
            flagged += change_flags_unless_modified(&w->file->flags, set, clear);
        }
        spin_unlock(&tabs_read_lock);
    }
    tmp_set_used(saved);
    return flagged;
}

//~ Layer sources

// The watched sources are the runtime's table: those of the installed image, or those the
// last compile read or tried to, watched also when no layer is loaded, so fixing a layer
// that failed to compile loads it. Each row holds the size and whole modification time the
// compile saw; a source is compared by the runtime's own stat, so the two never disagree.
// A compile holds the sources lock for the whole of its run and then makes rows of its own:
// a pass that finds the lock taken does not wait for it, the next one looks again.
b8 watch_layer_sources() {
    if (!spin_try_lock(&custom_layer.sources_lock)) return false;
    u64 saved = tmp_get_used();
    Layer_Source_View view = custom_layer.watched_sources;
    // The rows may be replaced by the next compile: copied under the lock.
    Layer_Source_Entry* rows =
        (Layer_Source_Entry*)tmp_allocate_aligned(sizeof(Layer_Source_Entry) * (view.count + 1), alignof(Layer_Source_Entry));
    char** paths = (char**)tmp_allocate_aligned(sizeof(char*) * (view.count + 1), alignof(char*));
    for (u32 i = 0; rows && paths && i < view.count; i++) {
        memcpy(&rows[i], view.entries + (u64)i * view.stride, sizeof(Layer_Source_Entry));
        paths[i] = to_tmp_c_string(String{(u8*)rows[i].name, (s64)rows[i].name_length});
    }
    spin_unlock(&custom_layer.sources_lock);

    b8 asked = false;
    for (u32 i = 0; rows && paths && i < view.count && !asked; i++) {
        if (!paths[i]) continue;
        u64 size, time;
        stat_layer_source(paths[i], &size, &time);
        if (size == rows[i].size && time == rows[i].modification_time) continue;
        if (!spin_try_lock(&custom_layer.sources_lock)) break;
        // Asked only while the rows are the ones compared: a compile meanwhile made its own.
        if (custom_layer.watched_sources.entries == view.entries && custom_layer.watched_sources.count == view.count) {
            custom_layer.recompile_request = 1;
            asked = true;
        }
        spin_unlock(&custom_layer.sources_lock);
        if (!asked) break;
    }
    tmp_set_used(saved);
    return asked;
}

//~ The thread

void* file_watcher(void* unused) {
    tmp_claim_slot();
    for (;;) {
        tmp_reset();
        b8 wake = watch_layer_sources();
        // The two passes never hold the sources lock and tabs_read_lock together.
        if (watch_open_files() > 0) wake = true;
        if (wake) wake_main_loop();
        // The log reaches its file every few seconds also while the main loop sleeps.
        flush_log_if_due();
        sleep_milliseconds(FILE_WATCHER_INTERVAL_MILLISECONDS);
    }
    return nullptr;
}

b8 start_file_watcher() {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, file_watcher, nullptr) != 0) {
        add_log(nullptr, LOG_ERROR, "The file watcher could not be started.");
        return false;
    }
    pthread_detach(thread);
    return true;
}
