// The front end of a compile: reset, built-in types, the support sources compiled statement
// by statement into the global scope, the user's file preparsed with everything it pulls
// in, the global #if and #insert worklists worked off generation by generation, and the
// entry blocks; global #asserts are checked once the worklists are done. The compile
// pipeline goes on from here and frees the compile's state through free_compiler_state, so
// nothing of one compile but the pool memory reaches the next.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "compiler/parser/parser.h"

// getcwd's buffer for a relative compile path.
#define WORKING_DIRECTORY_CAPACITY 2048

//~ Paths

// The text before the last separator; "/" for the root itself, empty when the only
// separator is the first character or there is none.
static String get_directory_of_path(String path) {
    s64 separator = path.count - 1;
    while (separator >= 0 && path.data[separator] != '/' && path.data[separator] != '\\') separator--;
    if (separator > 0) return String{path.data, separator};
    if (path.count == 1 && path.data[0] == '/') return path;
    return String{};
}

// A relative path is joined to the working directory, in temporary memory; the source
// directory is the directory of the joined path.
static b8 resolve_compile_path(String given, String* path, String* directory) {
    b8 absolute = given.count && (given.data[0] == '/' || (given.count >= 2 && given.data[1] == ':'));
    if (!absolute) {
        char working[WORKING_DIRECTORY_CAPACITY];
        String joined = getcwd(working, sizeof(working)) ? string_concat2("%/%", string_from_c(working), given)
                                                          : string_concat2("%", given);
        if (!joined.data) {
            report_out_of_compiler_memory("temporary memory");
            return false;
        }
        given = joined;
    }
    *path = given;
    *directory = get_directory_of_path(given);
    return true;
}

//~ Support sources

// A support source from the base directory, compiled statement by statement into the
// global scope: it declares in order and is not preparsed.
static b8 compile_support_file(String path) {
    int fd = open((char*)path.data, O_PATH | O_CLOEXEC);
    if (fd < 0) {
        print_error("Failed to find file '%s'.", (char*)path.data);
        return false;
    }
    close(fd);
    Source_File* file = compiler_load_file(path.data, (u64)path.count);
    return file && make_instructions_in_scope(global_compiler_state.global_scope, (Token*)file->tokens.first_element, 0, 0, 0);
}

static b8 compile_support_source(String name) {
    String base = global_compiler_state.base_directory;
    String path = base.count ? string_concat2("%/%", base, name) : string_concat2("%", name);
    if (!path.data) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    return compile_support_file(path);
}

static void report_missing_declaration(String name, String member) {
    if (member.count) {
        print_error("inject.8 must declare '%.*s.%.*s'.", (int)name.count, (char*)name.data, (int)member.count,
                    (char*)member.data);
    } else {
        print_error("inject.8 must declare '%.*s'.", (int)name.count, (char*)name.data);
    }
}

// The constant takes the value of the member of its enum type that names the target.
static b8 set_target_constant(String name, String member_name) {
    Identifier* constant = get_identifier(global_compiler_state.global_scope, name.data, (u64)name.count);
    if (!constant) {
        report_missing_declaration(name, String{});
        return false;
    }
    Identifier* type = constant->type ? constant->type : constant->constant_value.constant.type;
    Identifier* member = type && (type->flags & TYPE_ENUM) ? get_enum_value_no_errors(type, member_name) : 0;
    if (!member) {
        report_missing_declaration(name, member_name);
        return false;
    }
    constant->constant_value = member->constant_value;
    return true;
}

static b8 set_target_constants() {
    static const String PLATFORMS[] = {STR("BYTECODE"), STR("AMD64")};
    static const String SYSTEMS[] = {STR("WINDOWS"), STR("LINUX"), STR("MACOS")};
    Compiler_State* state = &global_compiler_state;
    return set_target_constant(STR("COMPILER_TARGET_PLATFORM"), PLATFORMS[state->target_platform]) &&
           set_target_constant(STR("COMPILER_TARGET_OS"), SYSTEMS[state->target_os]);
}

//~ Global worklists

static Token* get_first_pending_directive(Global_Worklists* worklists) {
    if (worklists->inserts.count) return ((Global_Insert*)worklists->inserts.data)->directive;
    Global_If_Chain* chain = (Global_If_Chain*)worklists->chains.data;
    return ((Global_If_Pair*)chain->pairs.data)->condition;
}

// The asserts a pass found join the list in the order found.
static b8 take_asserts(Dynamic_Array* asserts, Global_Worklists* worklists) {
    Token** taken = (Token**)dynamic_array_add_fast_multiple(asserts, worklists->asserts.count);
    if (!taken && worklists->asserts.count) {
        report_out_of_compiler_memory("global #assert directives");
        return false;
    }
    if (worklists->asserts.count) memcpy(taken, worklists->asserts.data, (u64)worklists->asserts.count * sizeof(Token*));
    worklists->asserts.count = 0;
    return true;
}

// Work found while one generation is worked off goes to the other, until one adds nothing.
static b8 work_off_global_worklists(Global_Worklists generations[2], Entry_Blocks* entry_blocks, Dynamic_Array* asserts) {
    Compiler_State* state = &global_compiler_state;
    u32 g = 0;
    for (u32 round = 0; generations[g].chains.count || generations[g].inserts.count; round++, g ^= 1) {
        Global_Worklists* current = &generations[g];
        Global_Worklists* following = &generations[g ^ 1];
        if (round == GLOBAL_WORKLIST_GENERATION_LIMIT) {
            print_error_on_token(get_first_pending_directive(current),
                                 "It looks like #insert or #if directives keep adding code (more than %u rounds). Is a "
                                 "Code constant inserting itself?",
                                 GLOBAL_WORKLIST_GENERATION_LIMIT);
            return false;
        }
        for (u32 i = 0; i < current->chains.count; i++) {
            Global_If_Chain* chain = (Global_If_Chain*)current->chains.data + i;
            String directory = {chain->directory, chain->directory_length};
            if (!preparse_global_static_if_chain(state->global_scope, chain, following, entry_blocks, directory)) {
                return false;
            }
        }
        // Inserted code is read as if it stood in the compiled file.
        for (u32 i = 0; i < current->inserts.count; i++) {
            Global_Insert* insert = (Global_Insert*)current->inserts.data + i;
            if (!preparse_global_insert_directive(state->global_scope, insert, following, entry_blocks,
                                                  state->source_directory)) {
                return false;
            }
        }
        empty_global_worklists(current);
        if (!take_asserts(asserts, following)) return false;
    }
    return true;
}

static b8 check_global_asserts(Dynamic_Array* asserts) {
    for (u32 i = 0; i < asserts->count; i++) {
        Token* next;
        if (!compile_assert(global_compiler_state.global_scope, ((Token**)asserts->data)[i], 0, &next)) return false;
    }
    return true;
}

static b8 preparse_user_file(Source_File* file, Entry_Blocks* entry_blocks) {
    Compiler_State* state = &global_compiler_state;
    Global_Worklists generations[2];
    init_global_worklists(&generations[0]);
    init_global_worklists(&generations[1]);
    Dynamic_Array asserts;
    init_dynamic_array(&asserts, sizeof(Token*));
    b8 ok = preparse_global_scope(state->global_scope, (Token*)file->tokens.first_element, 0, &generations[0],
                                  entry_blocks, state->source_directory) &&
            take_asserts(&asserts, &generations[0]) && work_off_global_worklists(generations, entry_blocks, &asserts) &&
            check_global_asserts(&asserts);
    free_global_worklists(&generations[0]);
    free_global_worklists(&generations[1]);
    dynamic_array_free(&asserts);
    return ok;
}

//~ Entry blocks

b8 compile_entry_point(Scope** scope, Token* opener) {
    Token* closing = (Token*)opener->value;
    Scope* entry = _add_a_scope(global_compiler_state.global_scope, ENTRY_BLOCK_SCOPE_FLAGS, opener->location);
    if (!entry) return false;
    *scope = entry;
    return make_instructions_in_scope(entry, opener->next, closing, 0, 0) &&
           append_scope_instruction(entry, INSTRUCTION_END, entry, closing->location);
}

//~ The compile

void connect_parser_routines() {
    parser_routines.parse_sub_program_declaration = parse_sub_program_declaration;
    parser_routines.handle_declaration_assignment = handle_declaration_assignment;
    parser_routines.set_dynamic_default_value = set_dynamic_default_value;
    parser_routines.instruction_take_address = instruction_take_address;
    parser_routines.parse_simple_statement = parse_simple_statement;
    parser_routines.parse_assignment_value = parse_assignment_value;
    parser_routines.preparse_sub_program_param = preparse_sub_program_param;
    parser_routines.parse_enum_body = parse_enum_body;
}

b8 compile_front_end(u8* path, u64 length, b8 support_sources, String prelude) {
    Compiler_State* state = &global_compiler_state;
    String file_path, directory;
    if (!reset_compiler() || !resolve_compile_path(String{path, (s64)length}, &file_path, &directory)) return false;
    state->source_directory = directory;
    reset_call_limits();
    if (!add_the_basic_types()) return false;

    if (support_sources && (!compile_support_source(STR("inject.8")) || !set_target_constants() ||
                            !add_the_support_types() || !compile_support_source(STR("api.8")))) {
        return false;
    }
    if (!support_sources && prelude.count) {
        String terminated = string_concat2("%", prelude);
        if (!terminated.data) {
            report_out_of_compiler_memory("temporary memory");
            return false;
        }
        if (!compile_support_file(terminated) || !add_the_support_types()) return false;
    }

    Source_File* file = compiler_load_file(file_path.data, (u64)file_path.count);
    Entry_Blocks entry_blocks = {};
    if (!file || !preparse_user_file(file, &entry_blocks)) return false;

    return (!entry_blocks.on_load || compile_entry_point(&state->on_load_scope, entry_blocks.on_load->next)) &&
           (!entry_blocks.events || compile_entry_point(&state->events_scope, entry_blocks.events->next)) &&
           (!entry_blocks.syntax || compile_entry_point(&state->syntax_scope, entry_blocks.syntax->next));
}

void free_compiler_state() {
    Compiler_State* state = &global_compiler_state;
    release_source_files();
    dynamic_array_free(&state->constant_relocations);
    dynamic_array_free(&state->global_relocations);
    dynamic_array_free(&state->struct_relocations);
    dynamic_array_free(&state->sub_programs);
    dynamic_array_free(&state->foreign_sub_programs);
    dynamic_array_free(&state->call_list);
    dynamic_array_free(&state->global_registers);
    dynamic_array_free(&state->constant_registers);
    dynamic_array_free(&state->call_data_registers);
    // The bytecode block is taken once and kept: regrowing it every compile would copy it.
    state->bytecode.count = 0;
    release_scopes();
}
