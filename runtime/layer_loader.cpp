// Compiling and loading the custom layer. An image is read into a mapping that is not
// executable, checked whole, and only then made executable, rebased and entered. The
// watched sources live in memory of their own, never in the image: a watcher reading them
// must not see them vanish with an unloaded mapping.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/layer_loader.h"
#include "runtime/foreign_routines.h"
#include "compiler/core/compiler_core.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "foundation/log.h"
#include "foundation/os_files.h"

static_assert(LAYER_HAS_EVENTS == LAYER_IMAGE_HAS_EVENTS && LAYER_HAS_ON_LOAD == LAYER_IMAGE_HAS_ON_LOAD &&
              LAYER_HAS_SYNTAX == LAYER_IMAGE_HAS_SYNTAX);
static_assert(LAYER_IMAGE_CPU_OFFSET == offsetof(Compiled_Layer_Header, cpu) &&
              LAYER_IMAGE_FLAGS_OFFSET == offsetof(Compiled_Layer_Header, flags) &&
              LAYER_IMAGE_CPU_AMD64 == BC_CPU_AMD64);

//~ Entry points and rebasing

static Compiled_Layer_Header* header_of(u8* image) { return (Compiled_Layer_Header*)image; }

static u8* entry_point(u8* image, u8 flag, u32 offset) {
    if (!image || !(header_of(image)->flags & flag)) return nullptr;
    return image + offset;
}

u8* get_events_block_entry_point(u8* image) {
    return entry_point(image, LAYER_IMAGE_HAS_EVENTS, image ? header_of(image)->events_entry : 0);
}
u8* get_on_load_block_entry_point(u8* image) {
    return entry_point(image, LAYER_IMAGE_HAS_ON_LOAD, image ? header_of(image)->on_load_entry : 0);
}
u8* get_syntax_block_entry_point(u8* image) {
    return entry_point(image, LAYER_IMAGE_HAS_SYNTAX, image ? header_of(image)->syntax_entry : 0);
}

Layer_Source_View amd64_apply_relocations(u8* image) {
    Compiled_Layer_Header* h = header_of(image);
    rebase_layer_image(image, (u64)&handle_foreign_call);
    u8* table = image + h->source_table_offset;
    for (u32 i = 0; i < h->source_count; i++) {
        u8* name = table + (u64)i * sizeof(Layer_Source_Entry) + offsetof(Layer_Source_Entry, name);
        store_u64(name, load_u64(name) + (u64)image);
    }
    return Layer_Source_View{table, sizeof(Layer_Source_Entry), h->source_count};
}

//~ Reading an image

struct Layer_Mapping {
    u8* address;
    u64 size;  // the file's
};

static void release_mapping(Layer_Mapping* m) {
    if (m->address) os_free_mapping(m->address, m->size);
    *m = {};
}

// Reads the file into a fresh mapping, checks it and makes it executable. On false nothing
// stays mapped and *reason says why (null when the file does not exist).
static b8 read_layer_image(const char* path, Layer_Mapping* out, const char** reason) {
    *out = {};
    *reason = nullptr;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) *reason = strerror(errno);
        return false;
    }
    struct stat status;
    u64 size = 0;
    if (fstat(fd, &status) != 0) *reason = strerror(errno);
    else if (!S_ISREG(status.st_mode)) *reason = "not a regular file";
    else if ((u64)status.st_size < COMPILED_LAYER_HEADER_SIZE) *reason = "shorter than a header";
    else if ((u64)status.st_size > LAYER_IMAGE_MAX_SIZE) *reason = "larger than any image";
    else size = (u64)status.st_size;
    u8* memory = size ? (u8*)os_allocate_read_write(size) : nullptr;
    if (size && !memory) *reason = "no memory to map it";
    if (memory && !os_read_all(fd, memory, size)) *reason = strerror(errno);
    close(fd);
    if (!*reason) *reason = check_layer_image(memory, size);
    if (!*reason && mprotect(memory, size, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) *reason = strerror(errno);
    if (*reason) {
        if (memory) os_free_mapping(memory, size);
        return false;
    }
    out->address = memory;
    out->size = size;
    return true;
}

// Whether every source the image was made from still has the size and time it records.
static b8 sources_unchanged(u8* image) {
    Compiled_Layer_Header* h = header_of(image);
    for (u32 i = 0; i < h->source_count; i++) {
        Layer_Source_Entry row;
        memcpy(&row, image + h->source_table_offset + (u64)i * sizeof(row), sizeof(row));
        char* path = to_tmp_c_string(String{image + row.name, (s64)row.name_length});
        u64 size, time;
        stat_layer_source(path, &size, &time);
        if (!path || size != row.size || time != row.modification_time) return false;
    }
    return true;
}

//~ Watched sources

static Gp_Allocation watched_sources_storage;

// Copies rows (the image's table need not be aligned) and their names into memory of the
// runtime's own and points the watcher at them. The caller holds the sources lock, or no
// watcher runs yet.
static void set_watched_sources(u8* rows, u32 count) {
    u64 size = (u64)count * sizeof(Layer_Source_Entry);
    for (u32 i = 0; i < count; i++) size += load_u64(rows + (u64)i * sizeof(Layer_Source_Entry) + 8);
    Gp_Allocation storage = {};
    if (size && !gp_allocate(&storage, size)) return;  // logged; the old sources stay watched
    Layer_Source_Entry* copies = (Layer_Source_Entry*)storage.memory;
    u8* names = storage.memory + (u64)count * sizeof(Layer_Source_Entry);
    for (u32 i = 0; i < count; i++) {
        memcpy(&copies[i], rows + (u64)i * sizeof(Layer_Source_Entry), sizeof(Layer_Source_Entry));
        memcpy(names, (u8*)copies[i].name, copies[i].name_length);
        copies[i].name = (u64)names;
        names += copies[i].name_length;
    }
    custom_layer.watched_sources = Layer_Source_View{storage.memory, sizeof(Layer_Source_Entry), count};
    gp_free(&watched_sources_storage);
    watched_sources_storage = storage;
}

// What a compile read or tried to, and the three files every compile reads even when the
// compiler recorded nothing: fixing any of them asks for the next compile.
static void watch_compiled_sources() {
    static const char* const always[] = {"inject.8", "api.8", "custom.8"};
    u32 recorded = get_layer_source_count();
    u32 capacity = recorded + ARRAY_COUNT(always);
    Layer_Source_Entry* rows = (Layer_Source_Entry*)tmp_allocate_aligned(capacity * sizeof(Layer_Source_Entry),
                                                                         alignof(Layer_Source_Entry));
    if (!rows) return;
    u32 count = 0;
    for (u32 i = 0; i < recorded; i++) {
        Layer_Source_Record* r = get_layer_source(i);
        String path = get_layer_source_path(r);
        rows[count++] = Layer_Source_Entry{(u64)path.data, (u64)path.count, r->modification_time, r->size};
    }
    for (u32 i = 0; i < ARRAY_COUNT(always); i++) {
        String path = get_path_beside_executable_tmp(always[i]);
        if (!path.data || find_layer_source(path)) continue;
        Layer_Source_Entry* row = &rows[count++];
        *row = Layer_Source_Entry{(u64)path.data, (u64)path.count, 0, 0};
        stat_layer_source((char*)path.data, &row->size, &row->modification_time);
    }
    set_watched_sources((u8*)rows, count);
}

//~ Installing

static void mark_files_for_syntax() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = (Tab*)tabs.data + i;
        if (tab->kind == TAB_FILE && tab->file) atomic_or_u16(&tab->file->flags, FILE_NEEDS_SYNTAX);
    }
}

void unload_custom_layer() {
    if (!custom_layer.image) return;
    os_free_mapping(custom_layer.mapping.address, custom_layer.mapping.size);
    custom_layer.image = nullptr;
    custom_layer.mapping.address = nullptr;
    custom_layer.mapping.size = 0;
    // An image that had to be stopped is never reused: the next start compiles again.
    String path = get_layer_image_path_tmp();
    if (path.data && unlink((char*)path.data) != 0 && errno != ENOENT) {
        add_log(nullptr, LOG_ERROR, "Could not remove the stopped layer image '%s': %s", (char*)path.data, strerror(errno));
    }
}

static b8 install_layer_image(Layer_Mapping* m) {
    Layer_Source_View view = amd64_apply_relocations(m->address);
    set_watched_sources(view.entries, view.count);
    if (custom_layer.mapping.address) os_free_mapping(custom_layer.mapping.address, custom_layer.mapping.size);
    custom_layer.image = m->address;
    custom_layer.mapping.address = m->address;
    custom_layer.mapping.kind = 1;
    custom_layer.mapping.size = (u32)m->size;
    *m = {};

    u8* on_load = get_on_load_block_entry_point(custom_layer.image);
    if (on_load && !amd64_execute(on_load, nullptr)) return false;
    if (get_syntax_block_entry_point(custom_layer.image)) mark_files_for_syntax();
    return true;
}

static void report_load_failure(const char* path, const char* reason) {
    add_log(nullptr, LOG_ERROR, "Failed to load '%s': %s.", path, reason ? reason : "it is missing");
    print_error("Failed to load '%s'.", path);
    atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
}

static b8 processor_can_run_layer() {
    Layer_Runtime_Settings* s = &layer_runtime_settings;
    if (!s->processor_checked) {
        s->missing_cpu_features = amd64_missing_cpu_features();
        s->processor_checked = true;
    }
    if (!s->missing_cpu_features) return true;
    const char* missing = amd64_missing_cpu_features_text(s->missing_cpu_features);
    add_log(nullptr, LOG_ERROR, AMD64_CPU_FEATURES_MESSAGE, missing);
    compile_errors.count = 0;
    print_error(AMD64_CPU_FEATURES_MESSAGE, missing);
    atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
    return false;
}

static b8 compile_and_load(u8 reuse) {
    if (!processor_can_run_layer()) return false;
    String image_path = get_layer_image_path_tmp();
    if (!image_path.data) return false;
    char* path = (char*)image_path.data;

    Layer_Mapping m;
    const char* reason;
    if (reuse) {
        if (read_layer_image(path, &m, &reason)) {
            if (sources_unchanged(m.address)) {
                add_log(nullptr, LOG_INFO, "Loaded custom layer from '%s' without compiling.", path);
                return install_layer_image(&m);
            }
            release_mapping(&m);
        } else if (reason) {
            add_log(nullptr, LOG_INFO, "The custom layer image '%s' is compiled again: %s.", path, reason);
        }
    }

    reset_layer_sources();
    String source = get_path_beside_executable_tmp("custom.8");
    Version_Info version = EDITOR_VERSION;
    if (!source.data || !compile_from_file(source.data, (u64)source.count, &version)) {
        atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
        watch_compiled_sources();
        return false;
    }
    // The compile wrote the image it just made: read back and checked like any other.
    if (!read_layer_image(path, &m, &reason)) {
        report_load_failure(path, reason);
        watch_compiled_sources();
        return false;
    }
    return install_layer_image(&m);
}

b8 compile_custom_layer(u8 reuse) {
    spin_lock(&custom_layer.sources_lock);
    spin_lock(&custom_layer.execution_lock);
    u64 saved = tmp_get_used();
    b8 loaded = compile_and_load(reuse);
    tmp_set_used(saved);
    spin_unlock(&custom_layer.execution_lock);
    spin_unlock(&custom_layer.sources_lock);
    return loaded;
}
