// What quarnc prints of a compile's front end: the files it loaded and the globals the
// preparse recorded (--preparse), and the instructions of the entry blocks (--ir). Kinds
// print their number and name; nested scopes are listed inside the instruction naming them.
#include <stdio.h>

#include "compiler/quarnc/quarnc.h"

static const char* const INSTRUCTION_KIND_NAMES[] = {
    "set to zero", "copy a constant", "copy a constant through an address", "copy", "copy through an address",
    "cast", "make boolean", "load", "calculate address", "calculate address through an address", "take address",
    "arithmetic", "arithmetic with a constant", "compare", "compare to a constant", "float compare",
    "float compare to a constant", "compare two memory blocks", "compare a memory block with a constant block",
    "test flags", "store a comparison result", "while loop", "for loop", "if chain", "switch", "loop jump", "call",
    "end", "return jump", "debug break", "machine code", "nested scope", "scope start", "scope end",
};
static_assert(ARRAY_COUNT(INSTRUCTION_KIND_NAMES) == INSTRUCTION_SCOPE_END + 1);

static const char* const DECLARATION_KIND_NAMES[] = {"none", "struct", "enum", "sub-program", "value"};

static void write_location(FILE* out, Trace trace) {
    if (!trace.line || !trace.line_start) return;
    fprintf(out, " %u:%llu", trace.line, (unsigned long long)(trace.text_start - trace.line_start + 1));
}

static void write_file_location(FILE* out, Trace trace) {
    fprintf(out, " file %u", trace.file_index);
    write_location(out, trace);
}

// The tokens from first up to end, one blank apart; string literals in their quotes.
static void write_tokens(FILE* out, Token* first, Token* end) {
    for (Token* token = first; token && token != end; token = token->next) {
        if (token != first) fputc(' ', out);
        if (token->kind & TOKEN_STRING_LITERAL) fprintf(out, "\"%.*s\"", (int)token->length, (char*)token->text);
        else fprintf(out, "%.*s", (int)token->length, (char*)token->text);
    }
}

static void write_globals(FILE* out, Bucket_Array* list) {
    for (Identifier* identifier = (Identifier*)list->first_element; identifier; identifier = identifier->next) {
        if (!identifier->declaration_kind) continue;
        fprintf(out, "  %.*s: %s%s%s", (int)identifier->name.count, (char*)identifier->name.data,
                DECLARATION_KIND_NAMES[identifier->declaration_kind],
                identifier->flags & IDENTIFIER_CONSTANT ? " constant" : "",
                identifier->flags & IDENTIFIER_PENDING ? " pending" : "");
        write_file_location(out, identifier->declaration);
        if (identifier->pending_type_first) {
            fputs(" type [", out);
            write_tokens(out, identifier->pending_type_first, identifier->pending_type_end);
            fputc(']', out);
        }
        if (identifier->pending_value_first) {
            fputs(" value [", out);
            write_tokens(out, identifier->pending_value_first, identifier->pending_value_end);
            fputc(']', out);
        }
        fputc('\n', out);
    }
}

void write_preparse_listing(FILE* out) {
    Compiler_State* state = &global_compiler_state;
    fputs("files\n", out);
    for (u32 i = 0; i < state->source_files.count; i++) {
        Source_File* file = get_source_file(i);
        fprintf(out, "  %u %.*s %u octets %u tokens\n", i, (int)file->path.count, (char*)file->path.data, file->text_size,
                file->tokens.count);
    }
    fputs("globals\n", out);
    write_globals(out, &state->global_scope->constants);
    write_globals(out, &state->global_scope->variables);
}

static void write_instructions(FILE* out, Scope* scope, u32 depth) {
    for (Instruction* instruction = (Instruction*)scope->instructions.first_element; instruction;
         instruction = instruction->next) {
        fprintf(out, "%*s%u %s", (int)depth * 2, "", instruction->kind,
                instruction->kind < ARRAY_COUNT(INSTRUCTION_KIND_NAMES) ? INSTRUCTION_KIND_NAMES[instruction->kind] : "?");
        switch (instruction->kind) {
            case INSTRUCTION_END:
            case INSTRUCTION_DEBUG_BREAK:
            case INSTRUCTION_NESTED_SCOPE:
            case INSTRUCTION_SCOPE_START:
            case INSTRUCTION_SCOPE_END: {
                Instruction_Scope* operands = get_instruction_scope(instruction);
                write_location(out, operands->location);
                fputc('\n', out);
                if (instruction->kind == INSTRUCTION_NESTED_SCOPE && operands->scope) {
                    write_instructions(out, operands->scope, depth + 1);
                }
                break;
            }
            default:
                fputc('\n', out);
        }
    }
}

void write_entry_block_listing(FILE* out) {
    Compiler_State* state = &global_compiler_state;
    struct Entry {
        const char* name;
        Scope* scope;
    };
    const Entry entries[] = {{"#on_load", state->on_load_scope}, {"#events", state->events_scope},
                             {"#syntax", state->syntax_scope}};
    for (const Entry& entry : entries) {
        if (!entry.scope) continue;
        fprintf(out, "%s\n", entry.name);
        write_instructions(out, entry.scope, 1);
    }
}
