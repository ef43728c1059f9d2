// quarnc --layout and --type: the layouts of declared structs and enums (offset, size and
// alignment of each member) and the type a text names, with a signature's parameter block.
// Declarations are recorded and parsed through the stand-in preparse until the parser's
// pipeline takes over.
#include <string.h>

#include "compiler/quarnc/type_listing.h"
#include "stand_ins.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static char* c_name(Identifier* identifier) { return to_tmp_c_string(identifier->name); }

static b8 declares(const char* name) {
    String text = string_from_c(name);
    return get_identifier_in_list(global_compiler_state.global_scope, IDENTIFIER_KIND_CONSTANT, text.data, (u64)text.count);
}

// The file's declarations, each parsed once; the support types once all three exist.
// False when the file cannot be read.
static b8 declare_file(const char* path) {
    Source_File* file = load_source_file(path);
    if (!file) return false;
    if (!tokenise_file(file)) return true;
    stand_in_preparse(global_compiler_state.global_scope, (Token*)file->tokens.first_element, 0, true);
    if (!get_basic_type(BASIC_TYPE_ARRAY) && declares("__Array") && declares("__Fixed_Size_Array") && declares("Code")) {
        add_the_support_types();
    }
    return true;
}

//~ Values

static void write_constant(FILE* out, Value* value, Identifier* type) {
    Constant* constant = &value->constant;
    if (!value->kind) {
        fputs("(none)", out);
        return;
    }
    if ((constant->mask & CONSTANT_TYPED) && constant->type == get_basic_type(BASIC_TYPE_TYPE)) {
        fputs(type_to_c_string((Identifier*)constant->data), out);
    } else if (constant->mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &constant->data, sizeof(real));
        fprintf(out, "%.17g", real);
    } else if (constant->mask & CONSTANT_INTEGER) {
        Identifier* base = get_enum_base(type ? type : constant->type);
        b8 is_signed = base ? (base->pointer_depth || (base->flags & TYPE_SIGNED)) : !(constant->mask & CONSTANT_UNSIGNED);
        if (is_signed) fprintf(out, "%lld", (long long)constant->data);
        else fprintf(out, "%llu", (unsigned long long)constant->data);
    } else if (constant->mask & CONSTANT_STRING) {
        fprintf(out, "\"%.*s\"", (int)constant->length, (char*)constant->data);
    } else {
        String text = constant_to_string(value);
        fprintf(out, "%.*s", (int)text.count, (char*)text.data);
    }
}

//~ Layouts

static void write_type_layout(FILE* out, Identifier* type, u32 indent);

static void write_member(FILE* out, Identifier* member, u32 indent) {
    Identifier* type = member->type;
    b8 inline_array = member->flags & IDENTIFIER_INLINE_ARRAY_MEMBER;
    Identifier* layout_type = inline_array ? type_to_dereference_of_type(type) : type;
    fprintf(out, "%*s%s: ", indent, "", c_name(member));
    if (!type) {
        fputs("?\n", out);
        return;
    }
    if (inline_array) fprintf(out, "[%u] %s inline", member->element_count, type_to_c_string(layout_type));
    else fputs(type_to_c_string(type), out);
    if (member->flags & IDENTIFIER_USING_THROUGH_ADDRESS) {
        fprintf(out, ", through the address in %s", c_name(member->using_through));
    } else {
        fprintf(out, ", offset %u, size %u, alignment %u", member->member_offset, member->size,
                layout_type ? layout_type->alignment : 0);
        if (member->flags & IDENTIFIER_USING_MEMBER) fprintf(out, ", by #using %s", c_name(member->using_through));
    }
    if (member->flags & IDENTIFIER_CARRIES_USING) fputs(", #using", out);
    if (member->constant_value.kind) {
        fputs(", default ", out);
        write_constant(out, &member->constant_value, type);
    }
    fputc('\n', out);
}

static void write_members(FILE* out, Identifier* type, u32 indent) {
    Scope* members = type->member_scope;
    for (Identifier* p = (Identifier*)members->parameters.first_element; p; p = p->next) {
        fprintf(out, "%*s$%s: %s", indent, "", c_name(p), p->type ? type_to_c_string(p->type) : "?");
        if (p->constant_value.kind) {
            fputs(" = ", out);
            write_constant(out, &p->constant_value, p->type);
        }
        fputc('\n', out);
    }
    for (Identifier* m = (Identifier*)members->variables.first_element; m; m = m->next) write_member(out, m, indent);
    for (Identifier* c = (Identifier*)members->constants.first_element; c; c = c->next) {
        if (c->type == get_basic_type(BASIC_TYPE_TYPE) && !c->pointer_depth && (c->flags & (TYPE_STRUCT | TYPE_ENUM))) {
            write_type_layout(out, c, indent);
        } else if (c->type != get_basic_type(BASIC_TYPE_TYPE)) {
            fprintf(out, "%*s$%s: %s = ", indent, "", c_name(c), c->type ? type_to_c_string(c->type) : "?");
            write_constant(out, &c->constant_value, c->type);
            fputc('\n', out);
        }
    }
}

static void write_type_layout(FILE* out, Identifier* type, u32 indent) {
    if (type->flags & TYPE_ENUM) {
        fprintf(out, "%*senum %s: %s%s, size %u, alignment %u\n", indent, "", type_to_c_string(type),
                type->element_type ? type_to_c_string(type->element_type) : "?",
                (type->flags & TYPE_ENUM_FLAGS) ? " flags" : "", type->size, type->alignment);
        if (!type->member_scope) return;
        for (Identifier* v = (Identifier*)type->member_scope->constants.first_element; v; v = v->next) {
            fprintf(out, "%*s%s = ", indent + 2, "", c_name(v));
            write_constant(out, &v->constant_value, type);
            fputc('\n', out);
        }
        return;
    }
    if (type->flags & TYPE_POLYMORPHIC) {
        fprintf(out, "%*spolymorphic struct %s\n", indent, "", type_to_c_string(type));
    } else {
        fprintf(out, "%*sstruct %s: size %u, alignment %u", indent, "", type_to_c_string(type), type->size, type->alignment);
        if (type->polymorphic_origin) fprintf(out, ", instance of %s", c_name(type->polymorphic_origin));
        if (type->as_member) fprintf(out, ", #as %s", c_name(type->as_member));
        if (!(type->flags & IDENTIFIER_DECLARED)) {
            fputs(", not laid out\n", out);
            return;
        }
        fputc('\n', out);
    }
    if (type->member_scope) write_members(out, type, indent + 2);
}

// The structs and enums the file declares, instances and arrays made for it included, and
// its global variables.
static void write_layouts(FILE* out, u32 file_index) {
    Scope* global = global_compiler_state.global_scope;
    for (Identifier* c = (Identifier*)global->constants.first_element; c; c = c->next) {
        if (c->declaration.file_index != file_index || c->pointer_depth || c->type != get_basic_type(BASIC_TYPE_TYPE)) continue;
        if (c->flags & (TYPE_STRUCT | TYPE_ENUM)) write_type_layout(out, c, 0);
    }
    for (Identifier* v = (Identifier*)global->variables.first_element; v; v = v->next) {
        if (v->declaration.file_index != file_index || !v->type) continue;
        fprintf(out, "global %s: %s", c_name(v), type_to_c_string(v->type));
        if (register_id_is_valid(v->register_id)) fprintf(out, ", size %u", get_register_size(v->register_id));
        fputc('\n', out);
    }
}

//~ A type text

static void write_signature(FILE* out, Sub_Program* signature) {
    Scope* parameters = signature->member_scope;
    for (Identifier* p = parameters ? (Identifier*)parameters->parameters.first_element : 0; p; p = p->next) {
        fprintf(out, "  parameter %s: %s", c_name(p), p->type ? type_to_c_string(p->type) : "?");
        if (!(signature->flags & TYPE_POLYMORPHIC) && !(p->flags & IDENTIFIER_CONSTANT)) fprintf(out, ", offset %u", p->call_data_offset);
        fputc('\n', out);
    }
    if (signature->element_type) {
        fprintf(out, "  return %s, offset %u\n", type_to_c_string(signature->element_type), signature->return_value_offset);
    }
    fprintf(out, "  block: size %u, alignment %u", signature->call_data_size, signature->call_data_alignment);
    if (signature->flags & SUB_PROGRAM_NO_CONTEXT) fputs(", #no_context", out);
    if (signature->flags & SUB_PROGRAM_CALL_LOCATION) fputs(", #call_location", out);
    if (signature->flags & SUB_PROGRAM_C_CALL) fputs(", #c_call", out);
    if (signature->flags & SUB_PROGRAM_SCALAR_RETURN) fputs(", scalar return", out);
    if (signature->flags & TYPE_POLYMORPHIC) fputs(", polymorphic", out);
    fputc('\n', out);
}

// The text is followed by a line holding ';', which ends the type and the ':' of its
// parameters, as a declaration's ';' does.
static b8 parse_type_text(const char* text) {
    String source = string_concat2("%\n;", string_from_c(text));
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    if (!file || !source.data) return false;
    memset(file, 0, sizeof(*file));
    file->index = global_compiler_state.source_files.count - 1;
    file->path = STR("type");
    file->text = source.data;
    file->text_size = (u32)source.count;
    file->state = 1;
    init_bucket_array(&file->tokens, &tokens_pool);
    if (!tokenise_file(file)) return true;
    Token* first = (Token*)file->tokens.first_element;
    Token* end = first;
    while (end->next) end = end->next;
    Identifier* type;
    Token* stop;
    if (!parse_type(global_compiler_state.global_scope, &type, first, end, &stop, 0, 0, 0)) return true;
    if (stop != end) {
        print_error_on_token(stop, "This is unexpected.");
        return true;
    }
    fprintf(stdout, "type %s: size %u, alignment %u\n", type_to_c_string(type), type->size, type->alignment);
    if (type->flags & TYPE_SUB_PROGRAM) write_signature(stdout, type);
    else if (!type->pointer_depth && (type->flags & (TYPE_STRUCT | TYPE_ENUM))) write_type_layout(stdout, type, 2);
    return true;
}

int run_type_listing(int argc, char** argv) {
    b8 layout = strcmp(argv[1], "--layout") == 0;
    int first_file = layout ? 2 : 3;
    if (argc < first_file + (layout ? 1 : 0) || (!layout && argc < 3)) {
        fprintf(stderr, "usage: quarnc --layout FILE... | quarnc --type TEXT [FILE...]\n");
        return 2;
    }
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR(".")) || !reset_compiler() || !add_the_basic_types()) return 2;
    for (int i = first_file; i < argc; i++) {
        if (!declare_file(argv[i])) return 2;
    }
    if (layout) write_layouts(stdout, global_compiler_state.source_files.count - 1);
    else parse_type_text(argv[2]);
    if (compile_errors.count) fputc('\n', stdout);
    write_compile_errors(stdout);
    return compile_errors.count ? 1 : 0;
}
