// Loading source files: one open, one fstat and reads until the file is whole, into one
// buffer that is never copied. Beside each loaded file the compile keeps its real path, so
// a file reached through "..", a symbolic link or a cycle of #load_files is loaded once.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compiler/parser/parser.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "compiler/core/layer_sources.h"

// The real path of each loaded file, by file index, in compiler_static_strings. Entries
// past the count of loaded files belong to an earlier compile and are never read.
static Dynamic_Array source_real_paths = {0, sizeof(String), 0, 0, {}};

Source_File* get_source_file(u32 index) {
    Dynamic_Array* files = &global_compiler_state.source_files;
    return index < files->count ? (Source_File*)files->data + index : 0;
}

//~ Reading

struct Loaded_Text {
    Gp_Allocation buffer;  // empty for an empty file
    u32 size;
    b8 found;                // the file was opened and its status read
    u64 found_size;          // as fstat gave them
    u64 modification_time;   // whole nanoseconds
};

// Reads the file whole. On false nothing stays allocated and the reason is logged.
static b8 read_whole_file(const char* path, Loaded_Text* text) {
    memset(text, 0, sizeof(*text));
    // Without O_NONBLOCK, opening a FIFO would wait for a writer before it could be refused.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        add_log(0, LOG_ERROR, "Cannot open source file %s: %s", path, strerror(errno));
        return false;
    }
    struct stat status;
    const char* refusal = 0;
    if (fstat(fd, &status) != 0) {
        refusal = strerror(errno);
    } else {
        // What the compile saw of the file: its image records it and the watcher compares.
        text->found = true;
        text->found_size = (u64)status.st_size;
        text->modification_time = (u64)status.st_mtim.tv_sec * 1000000000ull + (u64)status.st_mtim.tv_nsec;
        if (!S_ISREG(status.st_mode)) refusal = "not a regular file";
        else if ((u64)status.st_size > SOURCE_FILE_MAX_SIZE) refusal = "larger than 64 MiB";
    }
    if (refusal) {
        add_log(0, LOG_ERROR, "Cannot load source file %s: %s", path, refusal);
        close(fd);
        return false;
    }

    u64 size = (u64)status.st_size;
    b8 read = gp_allocate(&text->buffer, size) && os_read_all(fd, text->buffer.memory, size);
    if (!read) add_log(0, LOG_ERROR, "Cannot read source file %s whole: %s", path, strerror(errno));
    close(fd);
    if (!read) {
        gp_free(&text->buffer);
        return false;
    }
    text->size = (u32)size;
    return true;
}

// Reads the file and records what the compile saw of it, also when it could not be read:
// the watcher then waits on that file, so fixing it asks for the next compile.
static b8 read_source_file(u8* path, u64 length, const char* c_path, Loaded_Text* text) {
    b8 read = read_whole_file(c_path, text);
    record_layer_source(path, length, text->found, text->found_size, text->modification_time);
    return read;
}

// The real path of a file, copied into compiler_static_strings; empty when it cannot be
// resolved.
static String get_real_path(u8* path, u64 length) {
    u64 used = tmp_get_used();
    String directory, name;
    String real = {};
    if (os_get_full_filepath(path, length, &directory, &name)) {
        // Both parts are views of one resolved text.
        real = copy_to_compiler_static_strings(String{directory.data, (s64)(name.data + name.count - directory.data)});
    }
    tmp_set_used(used);
    return real;
}

static b8 is_loaded(String written, String real) {
    Dynamic_Array* files = &global_compiler_state.source_files;
    for (u32 i = 0; i < files->count; i++) {
        if (strings_equal(((Source_File*)files->data)[i].path, written)) return true;
    }
    if (!real.count) return false;
    for (u32 i = 0; i < files->count && i < source_real_paths.count; i++) {
        if (strings_equal(((String*)source_real_paths.data)[i], real)) return true;
    }
    return false;
}

// Appends the record of a file read whole and tokenises it. Null when no record can be
// had (the text is returned) or the tokeniser failed (the record stays).
static Source_File* add_source_file(u8* path, u64 length, Loaded_Text* text, String real_path) {
    Compiler_State* state = &global_compiler_state;
    u32 index = state->source_files.count;
    Source_File* file = (Source_File*)dynamic_array_add_fast(&state->source_files);
    // The list of real paths follows the file list: an index holds the same file in both.
    // Files recorded by other means have no real path.
    b8 room = file != 0;
    if (source_real_paths.count > index) source_real_paths.count = index;
    while (room && source_real_paths.count <= index) {
        String* slot = (String*)dynamic_array_add_fast(&source_real_paths);
        if (slot) *slot = String{};
        else room = false;
    }
    if (!room) {
        if (file) state->source_files.count = index;
        gp_free(&text->buffer);
        report_out_of_compiler_memory("source files");
        return 0;
    }
    ((String*)source_real_paths.data)[index] = real_path;

    memset(file, 0, sizeof(*file));
    file->path = String{path, (s64)length};
    file->text = text->size ? text->buffer.memory : 0;
    file->state = 1;
    file->text_size = text->size;
    file->buffer_size = (u32)text->buffer.size;
    file->buffer = text->buffer;
    init_bucket_array(&file->tokens, &tokens_pool);
    file->index = index;
    return tokenise_file(file) ? file : 0;
}

//~ Loading

Source_File* compiler_load_file(u8* path, u64 length) {
    char* c_path = to_tmp_c_string(String{path, (s64)length});
    if (!c_path) {
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    Loaded_Text text;
    if (!read_source_file(path, length, c_path, &text)) {
        print_error("Failed to load file '%s'.", c_path);
        return 0;
    }
    return add_source_file(path, length, &text, get_real_path(path, length));
}

b8 compiler_load_and_preparse_file(u8* path, u64 length, Scope* scope, Global_Worklists* worklists,
                                   Entry_Blocks* entry_blocks, String directory, Trace directive) {
    String real = length ? get_real_path(path, length) : String{};
    if (length && is_loaded(String{path, (s64)length}, real)) return true;
    char* c_path = to_tmp_c_string(String{path, (s64)length});
    if (!c_path) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    Loaded_Text text;
    if (!read_source_file(path, length, c_path, &text)) {
        print_error_on_trace(directive, "Failed to load file '%s'.", c_path);
        return false;
    }
    Source_File* file = add_source_file(path, length, &text, real);
    if (!file) return false;
    return preparse_global_scope(scope, (Token*)file->tokens.first_element, 0, worklists, entry_blocks, directory);
}

b8 compiler_load_and_preparse_module(u8* name, u64 length, Scope* scope, Global_Worklists* worklists,
                                     Entry_Blocks* entry_blocks, Trace directive) {
    String modules = string_concat2("%/modules", global_compiler_state.base_directory);
    String candidate = string_concat2("%/%", modules, String{name, (s64)length});
    if (!modules.data || !candidate.data) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    String file = candidate;
    String directory = modules;
    // The joiner's texts end with a NUL, so the candidate is already a C path.
    int fd = open((char*)candidate.data, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        file = string_concat2("%/module.8", candidate);
        directory = candidate;
        if (!file.data) {
            report_out_of_compiler_memory("temporary memory");
            return false;
        }
    }
    return compiler_load_and_preparse_file(file.data, (u64)file.count, scope, worklists, entry_blocks, directory,
                                           directive);
}

void release_source_files() {
    Dynamic_Array* files = &global_compiler_state.source_files;
    for (u32 i = 0; i < files->count; i++) {
        Source_File* file = (Source_File*)files->data + i;
        gp_free(&file->buffer);
        file->text = 0;
        file->text_size = 0;
        file->buffer_size = 0;
    }
    dynamic_array_free(files);
    dynamic_array_free(&source_real_paths);
}
