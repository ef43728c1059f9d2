// quarnc: the compiler's developer tool, built with the tests and never shipped.
//   quarnc --tokens FILE      the token list with its links and priorities, then the reports
//   quarnc --constants FILE   the constant each literal makes, then the reports
//   quarnc FILE               the reports of tokenising, as the compile-errors tab copies them
//   quarnc --layout FILE...   the structs and enums the last file declares (type_listing.cpp)
//   quarnc --type TEXT FILE...  the type TEXT names after the files' declarations
//   quarnc [--preparse] [--ir] [--sub-programs] [--listing LISTING] DIR
//                             compiles DIR/custom.8 with DIR as the base directory of the
//                             support sources, up to the entry blocks
//   quarnc --front [--prelude P] [--preparse] [--ir] [--sub-programs] [--listing LISTING] FILE
//                             the same stages over FILE alone, without support sources;
//                             P, compiled first as a support source is, declares what the
//                             support source would (a test's fixture)
//   quarnc --each [--front ...] TARGET...
//                             compiles each target in turn in one process, as a later compile
//                             in the editor does, each output under "== TARGET" and followed by
//                             "exit status: N" (a test's many snippets without a process each)
// --preparse lists the loaded files and the recorded globals, --ir the instructions of the
// entry blocks and of the sub-programs listed for code, --sub-programs the two lists of
// sub-programs with their call-data layouts; the reports follow. --listing also makes the program's linked bytecode and
// writes its listing to the file LISTING. The exit status is 1 when anything was reported.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compiler/quarnc/quarnc.h"
#include "compiler/bytecode/bytecode.h"
#include "compiler/quarnc/type_listing.h"
#include "foundation/os_files.h"
#include "foundation/sort.h"
#include "compiler/core/foreign_routine_table.h"

struct Token_Number {
    Token* token;
    u64 number;
};

static b8 token_number_before(void* a, void* b) { return ((Token_Number*)a)->token < ((Token_Number*)b)->token; }

static b8 key_at_or_after(void* element, void* key) { return ((Token_Number*)element)->token <= (Token*)key; }

static void* find_number(void* data, u32 element_size, u32 count, void* key) {
    for (u32 i = 0; i < count; i++) {
        Token_Number* n = (Token_Number*)((u8*)data + (u64)i * element_size);
        if (n->token == (Token*)key) return n;
    }
    return 0;
}

static void write_escaped(FILE* out, u8* text, u64 length) {
    fputc('"', out);
    for (u64 i = 0; i < length; i++) {
        u8 c = text[i];
        if (c == '\n') fputs("\\n", out);
        else if (c == '\r') fputs("\\r", out);
        else if (c == '\t') fputs("\\t", out);
        else if (c == '"' || c == '\\') fprintf(out, "\\%c", c);
        else if (c < 0x20 || c == 0x7F) fprintf(out, "\\x%02x", c);
        else fputc(c, out);
    }
    fputc('"', out);
}

// One line per token: number, line:column, kind, text, then its link or operator value.
static b8 write_tokens(FILE* out, Source_File* file) {
    u32 count = file->tokens.count;
    Gp_Allocation storage;
    if (!gp_allocate(&storage, (u64)count * sizeof(Token_Number))) return false;
    Token_Number* numbers = (Token_Number*)storage.memory;
    u32 i = 0;
    for (Token* token = (Token*)file->tokens.first_element; token; token = token->next) numbers[i] = {token, i}, i++;
    general_quick_sort(numbers, count, sizeof(Token_Number), token_number_before);

    u64 number = 0;
    for (Token* token = (Token*)file->tokens.first_element; token; token = token->next, number++) {
        fprintf(out, "%-5llu %4u:%-4llu %-16s ", (unsigned long long)number, token->location.line,
                (unsigned long long)(token->text - token->location.line_start + 1), token_kind_to_c_string(token->kind));
        write_escaped(out, token->text, token->length);
        if (token->kind & (TOKEN_OPERATOR | TOKEN_AT)) {
            fprintf(out, "  value 0x%llx priority %u", (unsigned long long)token->value, token->priority);
        } else if (token->kind & (TOKEN_SCOPE_START | TOKEN_COLON)) {
            Token_Number* link = token->value ? (Token_Number*)array_binary_search(numbers, sizeof(Token_Number), count,
                                                                                  key_at_or_after, find_number,
                                                                                  (void*)token->value)
                                              : 0;
            if (link) fprintf(out, "  -> %llu", (unsigned long long)link->number);
            else fputs("  -> none", out);
        }
        fputc('\n', out);
    }
    gp_free(&storage);
    return true;
}

// One line per literal: where it is, its text, and its constant's mask, size and value; a
// string's decoded octets and the constant-data row of its text, which equal texts share.
static void write_constants(FILE* out, Source_File* file) {
    for (Token* token = (Token*)file->tokens.first_element; token; token = token->next) {
        if (!(token->kind & TOKEN_LITERAL)) continue;
        fprintf(out, "%4u:%-4llu %-15s ", token->location.line,
                (unsigned long long)(token->text - token->location.line_start + 1), token_kind_to_c_string(token->kind));
        write_escaped(out, token->text, token->length);
        Value value;
        make_constant_value_from_token(&value, token, 0);
        if (!value.kind) {
            fputs("  not valid\n", out);
            continue;
        }
        Constant* constant = &value.constant;
        fprintf(out, "  mask 0x%llx size %u", (unsigned long long)constant->mask, constant->size);
        if (constant->mask & CONSTANT_SIGNED) {
            fprintf(out, " value %lld", (long long)constant->data);
        } else if (constant->mask & CONSTANT_UNSIGNED) {
            fprintf(out, " value %llu", (unsigned long long)constant->data);
        } else if (constant->mask & CONSTANT_REAL) {
            f64 real;
            memcpy(&real, &constant->data, sizeof(real));
            fprintf(out, " value %.17g", real);
        } else if (constant->mask & CONSTANT_STRING) {
            fputs(" octets ", out);
            write_escaped(out, (u8*)constant->data, constant->length);
            fprintf(out, " text c%u", constant->text_register.index);
        }
        fputc('\n', out);
    }
}

void write_compile_errors(FILE* out) {
    for (u32 i = 0; i < compile_errors.count; i++) {
        u64 used = tmp_get_used();
        String text = compile_error_to_text((Compile_Error*)compile_errors.data + i, true);
        if (i) fputc('\n', out);
        fprintf(out, "%.*s\n", (int)text.count, (char*)text.data);
        tmp_set_used(used);
    }
}

Source_File* load_source_file(const char* path) {
    int fd = open(path, O_RDONLY);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        if (fd >= 0) close(fd);
        fprintf(stderr, "quarnc: cannot read %s\n", path);
        return 0;
    }
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    if (!file) return 0;
    memset(file, 0, sizeof(*file));
    file->index = global_compiler_state.source_files.count - 1;
    file->path = string_from_c(path);
    u64 size = (u64)status.st_size;
    b8 read = size <= 0xFFFFFFFFu && gp_allocate(&file->buffer, size) && os_read_all(fd, file->buffer.memory, size);
    close(fd);
    if (!read) {
        fprintf(stderr, "quarnc: cannot read %s\n", path);
        return 0;
    }
    file->text = size ? file->buffer.memory : 0;
    file->text_size = (u32)size;
    file->buffer_size = (u32)size;
    file->state = 1;
    init_bucket_array(&file->tokens, &tokens_pool);
    return file;
}

static int tokenise_only(const char* path, b8 list_tokens, b8 list_constants) {
    if (!init_compiler(STR(".")) || !reset_compiler() || !add_the_basic_types()) return 2;
    Source_File* file = load_source_file(path);
    if (!file) return 2;

    b8 tokenised = tokenise_file(file);
    if (list_tokens && !write_tokens(stdout, file)) return 2;
    if (list_constants && tokenised) write_constants(stdout, file);
    if ((list_tokens || list_constants) && compile_errors.count) fputc('\n', stdout);
    write_compile_errors(stdout);
    return compile_errors.count ? 1 : 0;
}

// One compile over the state init_compiler made; a later one starts from its reset.
static int compile_target(const char* target, b8 front, const char* prelude, b8 list_preparse, b8 list_ir,
                          b8 list_sub_programs, const char* listing) {
    // The DIR form reads the support sources from DIR itself, named by its full path.
    static char base[PATH_MAX];
    String path = string_from_c(target);
    global_compiler_state.base_directory = STR(".");
    if (!front) {
        if (!realpath(target, base)) {
            fprintf(stderr, "quarnc: cannot resolve %s\n", target);
            return 2;
        }
        path = string_concat2("%/custom.8", string_from_c(base));
        global_compiler_state.base_directory = string_from_c(base);
    }

    b8 compiled = compile_front_end(path.data, (u64)path.count, !front, prelude ? string_from_c(prelude) : String{});
    if (compiled && listing) {
        u32 syntax = 0, events = 0, on_load = 0;
        u8 flags = 0;
        if (make_bytecode_from_state(&syntax, &events, &on_load, &flags) &&
            !log_bc_instructions(string_from_c(listing), &global_compiler_state.source_files, &global_compiler_state.bytecode)) {
            fprintf(stderr, "quarnc: cannot write %s\n", listing);
            return 2;
        }
    }
    if (list_preparse) write_preparse_listing(stdout);
    if (list_ir) {
        write_entry_block_listing(stdout);
        write_sub_program_bodies(stdout);
    }
    if (list_sub_programs) write_sub_program_listing(stdout);
    if ((list_preparse || list_ir || list_sub_programs) && compile_errors.count) fputc('\n', stdout);
    write_compile_errors(stdout);
    return compile_errors.count ? 1 : 0;
}

int main(int argc, char** argv) {
    connect_parser_routines();
    if (argc >= 2 && (strcmp(argv[1], "--layout") == 0 || strcmp(argv[1], "--type") == 0)) return run_type_listing(argc, argv);
    b8 list_tokens = false, list_constants = false, front = false, list_preparse = false, list_ir = false;
    b8 list_sub_programs = false, each = false;
    const char* prelude = 0;
    const char* listing = 0;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (strcmp(argv[i], "--prelude") == 0 && i + 1 < argc) prelude = argv[++i];
        else if (strcmp(argv[i], "--listing") == 0 && i + 1 < argc) listing = argv[++i];
        else if (strcmp(argv[i], "--tokens") == 0) list_tokens = true;
        else if (strcmp(argv[i], "--constants") == 0) list_constants = true;
        else if (strcmp(argv[i], "--front") == 0) front = true;
        else if (strcmp(argv[i], "--preparse") == 0) list_preparse = true;
        else if (strcmp(argv[i], "--ir") == 0) list_ir = true;
        else if (strcmp(argv[i], "--sub-programs") == 0) list_sub_programs = true;
        else if (strcmp(argv[i], "--each") == 0) each = true;
        else break;
    }
    struct stat status;
    b8 directory = i < argc && stat(argv[i], &status) == 0 && S_ISDIR(status.st_mode);
    b8 compiles = front || list_preparse || list_ir || list_sub_programs || listing || directory;
    if (i >= argc || (i + 1 != argc && !each) || (list_tokens && list_constants) ||
        ((list_tokens || list_constants) && compiles) || (compiles && front == directory) || (prelude && !front) ||
        (each && (!compiles || listing))) {
        fprintf(stderr, "usage: quarnc [--tokens | --constants] FILE | quarnc [--preparse] [--ir] [--sub-programs] [--listing LISTING] DIR | "
                        "quarnc --front [--prelude P] [--preparse] [--ir] [--sub-programs] [--listing LISTING] FILE | "
                        "quarnc --each [--front [--prelude P]] [--preparse] [--ir] [--sub-programs] TARGET...\n");
        return 2;
    }
    if (!init_memory(PROGRAM_EDITOR)) return 2;
    setup_foreign_routines_table();  // #import binds by these hashes
    if (!compiles) return tokenise_only(argv[i], list_tokens, list_constants);
    if (!init_compiler(STR("."))) return 2;
    int result = 0;
    for (; i < argc; i++) {
        if (each) printf("== %s\n", argv[i]);
        result = compile_target(argv[i], front, prelude, list_preparse, list_ir, list_sub_programs, listing);
        if (each) printf("exit status: %d\n", result), result = 0;
    }
    free_compiler_state();
    return result;
}
