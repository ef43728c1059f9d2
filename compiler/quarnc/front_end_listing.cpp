// What quarnc prints of a compile's front end: the files it loaded and the globals the
// preparse recorded (--preparse), and the instructions of the entry blocks (--ir). Kinds
// print their number and name; nested scopes are listed inside the instruction naming them,
// a condition's parts with their level, operator, jump and whether folding dropped them.
#include <stdio.h>
#include <string.h>

#include "compiler/bytecode/bytecode.h"
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

static void write_instructions(FILE* out, Scope* scope, u32 depth);

static void indent(FILE* out, u32 depth) { fprintf(out, "%*s", (int)depth * 2, ""); }

// A constant by its class (integers in decimal, reals, strings in quotes); a value in a
// register by its source text and type.
static void write_value(FILE* out, Value* value) {
    if (!value->kind) {
        fputs("none", out);
        return;
    }
    if (value->kind & VALUE_CONSTANT) {
        Constant* constant = &value->constant;
        if (constant->mask & CONSTANT_STRING) {
            fprintf(out, "\"%.*s\"", (int)constant->length, (char*)constant->data);
        } else if (constant->mask & CONSTANT_REAL) {
            f64 real;
            memcpy(&real, &constant->data, sizeof(real));
            fprintf(out, "%g", real);
        } else if (constant->mask & CONSTANT_SIGNED) {
            s64 number = (s64)constant->data;
            u32 bits = constant->size * 8;
            if ((constant->mask & CONSTANT_TYPED) && bits && bits < 64 && ((u64)number >> (bits - 1) & 1)) {
                number = (s64)(constant->data | ~((1ull << bits) - 1));
            }
            fprintf(out, "%lld", (long long)number);
        } else if (constant->mask & CONSTANT_UNSIGNED) {
            fprintf(out, "%llu", (unsigned long long)constant->data);
        } else {
            fputs("constant", out);
        }
        if ((constant->mask & CONSTANT_TYPED) && constant->type) fprintf(out, " %s", type_to_c_string(constant->type));
        return;
    }
    // The register by its table and row: l local, g global, c constant data, a call data,
    // v a view.
    static const char TABLES[] = "?cgglav";
    Register_Id id = value->dynamic.register_id;
    u8 table = id.kind == REGISTER_VIEW ? (u8)REGISTER_VIEW : id.table;
    fprintf(out, "'%.*s' %s %c%u", (int)value->source.length, (char*)value->source.text_start,
            value->dynamic.type ? type_to_c_string(value->dynamic.type) : "?", table < 7 ? TABLES[table] : '?', id.index);
    if (value->kind & VALUE_INDIRECT) fputs(" through its address", out);
    if (value->kind & VALUE_NEGATED) fputs(" negated", out);
}

static void write_block(FILE* out, const char* title, Scope* scope, u32 depth) {
    indent(out, depth);
    fprintf(out, "%s\n", title);
    if (scope) write_instructions(out, scope, depth + 1);
}

// Each part: its level, what it is, whether it was folded away; a value's jump and the
// instructions computing it.
static void write_condition_parts(FILE* out, Bucket_Array* parts, u32 depth) {
    for (Condition_Part* part = (Condition_Part*)parts->first_element; part; part = part->next) {
        indent(out, depth);
        fprintf(out, "part level %u ", part->level);
        if (part->part_kind == CONDITION_PART_OPERATOR) {
            fprintf(out, "operator %s%s\n", operator_to_c_string(part->operator_bit), part->ignored ? " ignored" : "");
            continue;
        }
        fputs("value ", out);
        write_value(out, &part->value);
        if (part->ignored) fputs(" ignored", out);
        else fprintf(out, " jump %u %s", part->jump_kind, bytecode_kind_name(part->jump_kind));
        if (part->scope && (part->scope->flags & SCOPE_CONDITION)) fputs(" last", out);
        fputc('\n', out);
        if (!part->ignored && part->scope) write_instructions(out, part->scope, depth + 1);
    }
}

static void write_if_chain(FILE* out, Instruction_If_Chain* chain, u32 depth) {
    fprintf(out, " links %u%s\n", chain->link_count, chain->has_else ? " else" : "");
    u32 number = 1;
    for (If_Chain_Part* link = (If_Chain_Part*)chain->links.first_element; link; link = link->next, number++) {
        indent(out, depth + 1);
        fprintf(out, "link %u", number);
        write_location(out, link->closing);
        fputc('\n', out);
        write_condition_parts(out, &link->conditions, depth + 2);
        write_block(out, "block", link->scope, depth + 2);
    }
    if (chain->has_else) write_block(out, "else", chain->else_scope, depth + 1);
}

static void write_for_loop(FILE* out, Instruction_For* loop, u32 depth) {
    fprintf(out, " index %.*s %s %s ", (int)loop->index->name.count, (char*)loop->index->name.data,
            type_to_c_string(loop->loop_type), operator_to_c_string(loop->comparison));
    write_value(out, &loop->limit);
    fputs((loop->flags & FOR_LOOP_STEP_DOWN) ? " step down " : " step up ", out);
    write_value(out, &loop->step);
    if (loop->element) {
        fprintf(out, " element %.*s %s", (int)loop->element->name.count, (char*)loop->element->name.data,
                type_to_c_string(loop->element_type));
    }
    fputc('\n', out);
    write_block(out, "body", loop->loop_scope, depth + 1);
}

static void write_switch(FILE* out, Instruction_Switch* operands, u32 depth) {
    fputs(" value ", out);
    write_value(out, &operands->value);
    fputc('\n', out);
    for (u32 i = 0; i < operands->case_values.count; i++) {
        Scope* block = ((Scope**)operands->case_scopes.data)[i];
        indent(out, depth + 1);
        fputs("case ", out);
        write_value(out, (Value*)operands->case_values.data + i);
        fputs((block->flags & SCOPE_SWITCH_FALLS_THROUGH) ? " no break\n" : "\n", out);
        write_instructions(out, block, depth + 2);
    }
    if (operands->has_default) write_block(out, "default", operands->default_scope, depth + 1);
}

// The values an instruction works on: a destination first, then what it reads.
static void write_operands(FILE* out, Instruction* instruction) {
    Value* values[3] = {};
    u64 operator_bit = 0;
    switch (instruction->kind) {
        case INSTRUCTION_SET_TO_ZERO:
        case INSTRUCTION_MAKE_BOOLEAN: values[0] = &instruction->value; break;
        case INSTRUCTION_CAST: values[0] = &instruction->cast.destination, values[1] = &instruction->cast.source; break;
        case INSTRUCTION_LOAD:
        case INSTRUCTION_ADDRESS:
        case INSTRUCTION_ADDRESS_INDIRECT:
            values[0] = &instruction->address.destination, values[1] = &instruction->address.base;
            values[2] = &instruction->address.index;
            break;
        case INSTRUCTION_ARITHMETIC:
        case INSTRUCTION_ARITHMETIC_CONSTANT:
            operator_bit = instruction->arithmetic.operator_bit;
            values[0] = &instruction->arithmetic.destination, values[1] = &instruction->arithmetic.source;
            break;
        case INSTRUCTION_COMPARE_RESULT:
            operator_bit = instruction->compare_result.operator_bit;
            values[0] = &instruction->compare_result.destination;
            break;
        default:
            if (instruction->kind > INSTRUCTION_TEST_FLAGS) return;
            values[0] = &instruction->copy.destination, values[1] = &instruction->copy.source;
    }
    if (operator_bit) fprintf(out, " %s", operator_to_c_string(operator_bit));
    for (Value* value : values) {
        if (!value) break;
        fputs(value == values[0] ? " " : ", ", out);
        write_value(out, value);
    }
}

static void write_instructions(FILE* out, Scope* scope, u32 depth) {
    for (Instruction* instruction = (Instruction*)scope->instructions.first_element; instruction;
         instruction = instruction->next) {
        indent(out, depth);
        fprintf(out, "%u %s", instruction->kind,
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
            case INSTRUCTION_WHILE: {
                Instruction_While* loop = get_instruction_while(instruction);
                write_location(out, loop->location);
                fputc('\n', out);
                write_condition_parts(out, &loop->conditions, depth + 1);
                write_block(out, "body", loop->loop_scope, depth + 1);
                break;
            }
            case INSTRUCTION_FOR: {
                Instruction_For* loop = get_instruction_for(instruction);
                write_location(out, loop->location);
                write_for_loop(out, loop, depth);
                break;
            }
            case INSTRUCTION_IF_CHAIN: {
                Instruction_If_Chain* chain = get_instruction_if_chain(instruction);
                write_location(out, chain->location);
                write_if_chain(out, chain, depth);
                break;
            }
            case INSTRUCTION_SWITCH: {
                Instruction_Switch* operands = get_instruction_switch(instruction);
                write_location(out, operands->location);
                write_switch(out, operands, depth);
                break;
            }
            case INSTRUCTION_LOOP_JUMP: {
                Instruction_Loop_Jump* jump = get_instruction_loop_jump(instruction);
                write_location(out, jump->location);
                fprintf(out, " %s level %u\n", jump->mode == LOOP_JUMP_BREAK ? "break" : "continue", jump->level);
                break;
            }
            case INSTRUCTION_RETURN_JUMP: {
                Instruction_Return_Jump* jump = get_instruction_return_jump(instruction);
                write_location(out, jump->location);
                fputs(" value ", out);
                write_value(out, &jump->value);
                fputs(jump->no_jump ? " no jump\n" : "\n", out);
                break;
            }
            case INSTRUCTION_MACHINE_CODE: {
                Instruction_Machine_Code* code = get_instruction_machine_code(instruction);
                write_location(out, code->location);
                fprintf(out, " %u octets", code->count);
                for (u32 i = 0; i < code->count; i++) fprintf(out, " %02x", code->octets[i]);
                fputc('\n', out);
                break;
            }
            default:
                write_operands(out, instruction);
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
