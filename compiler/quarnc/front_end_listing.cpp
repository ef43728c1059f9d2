// What quarnc prints of a compile's front end: the files it loaded and the globals the
// preparse recorded (--preparse), and the instructions of the entry blocks (--ir). Kinds
// print their number and name, then their operands; nested scopes are listed inside the
// instruction naming them, a condition's parts with their level, operator, jump and whether
// folding dropped them.
#include <stdio.h>
#include <string.h>

#include "compiler/bytecode/bytecode.h"
#include "compiler/core/intermediate_operands.h"
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

//~ Operands

// Locals are named by their scope's number, given in the order scopes are first met.
struct Scope_Numbers {
    Scope* scopes[256];
    u32 count;
};

static u32 get_scope_number(Scope_Numbers* numbers, Scope* scope) {
    for (u32 i = 0; i < numbers->count; i++) {
        if (numbers->scopes[i] == scope) return i;
    }
    if (numbers->count == ARRAY_COUNT(numbers->scopes)) return 999;
    numbers->scopes[numbers->count] = scope;
    return numbers->count++;
}

// "g3", "c5", "d1", "r0.2" (local 2 of scope 0), a view as "<base>+<offset>".
static void write_register(FILE* out, Scope_Numbers* numbers, Register_Id id) {
    Register* row = get_register(id);
    if (row && row->kind == REGISTER_VIEW) {
        Register_Id base = row->base;
        u64 offset = row->view_offset;
        write_register(out, numbers, base);
        fprintf(out, "+%llu", (unsigned long long)offset);
        return;
    }
    switch (id.table) {
        case REGISTER_CONSTANT_DATA:
        case REGISTER_TYPE_DATA: fprintf(out, "c%u", id.index); return;
        case REGISTER_GLOBAL_DATA: fprintf(out, "g%u", id.index); return;
        case REGISTER_CALL_DATA: fprintf(out, "d%u", id.index); return;
        case REGISTER_LOCAL: fprintf(out, "r%u.%u", get_scope_number(numbers, id.owner), id.index); return;
    }
    fputs("none", out);
}

static void write_constant_value(FILE* out, Value* value) {
    Constant* constant = &value->constant;
    Identifier* type_type = global_compiler_state.basic_types[BASIC_TYPE_TYPE];
    if ((constant->mask & CONSTANT_TYPED) && constant->type == type_type && constant->data) {
        fprintf(out, "type %s", type_to_c_string((Identifier*)constant->data));
        return;
    }
    if (constant->mask & CONSTANT_CODE) {
        Token* opener = (Token*)constant->data;
        fputs("#code", out);
        if (opener) write_location(out, opener->location);
        return;
    }
    if (constant->mask & CONSTANT_STRING) {
        fprintf(out, "\"%.*s\"", (int)constant->length, (char*)constant->data);
    } else if (constant->mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &constant->data, sizeof(real));
        fprintf(out, "%g", real);
    } else if (constant->mask & CONSTANT_SIGNED) {
        fprintf(out, "%lld", (long long)constant->data);
    } else if (constant->mask & CONSTANT_UNSIGNED) {
        fprintf(out, "%llu", (unsigned long long)constant->data);
    } else {
        fputs("constant", out);
    }
    if ((constant->mask & CONSTANT_TYPED) && constant->type) fprintf(out, ":%s", type_to_c_string(constant->type));
}

// A register as "r0.1:s32", read through its address as "*r0.1:@ s32"; a constant by its value.
static void write_value(FILE* out, Scope_Numbers* numbers, Value* value) {
    if (value->kind & VALUE_CONSTANT) {
        write_constant_value(out, value);
        return;
    }
    if (value->kind & VALUE_NEGATED) fputc('!', out);
    if (value->kind & VALUE_INDIRECT) fputc('*', out);
    write_register(out, numbers, value->dynamic.register_id);
    if (value->dynamic.type) fprintf(out, ":%s", type_to_c_string(value->dynamic.type));
}

// Operators of one operand: their instruction works on its destination alone.
#define UNARY_OPERATORS (OP_INCREMENT | OP_DECREMENT | OP_NEGATE | OP_BIT_NOT | OP_NOT)

static void write_operands(FILE* out, Scope_Numbers* numbers, Instruction* instruction) {
    fputc(' ', out);
    switch (instruction->kind) {
        case INSTRUCTION_SET_TO_ZERO:
        case INSTRUCTION_MAKE_BOOLEAN: write_value(out, numbers, &instruction->value); break;
        case INSTRUCTION_COPY_CONSTANT:
        case INSTRUCTION_COPY_CONSTANT_INDIRECT:
        case INSTRUCTION_COPY:
        case INSTRUCTION_COPY_INDIRECT:
        case INSTRUCTION_TAKE_ADDRESS:
            write_value(out, numbers, &instruction->copy.destination);
            fputs(instruction->kind == INSTRUCTION_TAKE_ADDRESS ? " = @" : " = ", out);
            write_value(out, numbers, &instruction->copy.source);
            break;
        case INSTRUCTION_CAST:
            write_value(out, numbers, &instruction->cast.destination);
            fprintf(out, " = cast %u%s ", instruction->cast.cast_kind, instruction->cast.unsigned_source ? " unsigned" : "");
            write_value(out, numbers, &instruction->cast.source);
            break;
        case INSTRUCTION_LOAD:
        case INSTRUCTION_ADDRESS:
        case INSTRUCTION_ADDRESS_INDIRECT:
            write_value(out, numbers, &instruction->address.destination);
            fputs(" = ", out);
            write_value(out, numbers, &instruction->address.base);
            fputs(instruction->address.byte_index ? " + octets " : " + elements ", out);
            write_value(out, numbers, &instruction->address.index);
            break;
        case INSTRUCTION_ARITHMETIC:
        case INSTRUCTION_ARITHMETIC_CONSTANT: {
            u64 operator_bit = instruction->arithmetic.operator_bit;
            write_value(out, numbers, &instruction->arithmetic.destination);
            if (operator_bit & UNARY_OPERATORS) {
                fprintf(out, " = %s", operator_to_c_string(operator_bit));
                write_value(out, numbers, &instruction->arithmetic.destination);
            } else {
                fprintf(out, " %s ", operator_to_c_string(operator_bit));
                write_value(out, numbers, &instruction->arithmetic.source);
            }
            break;
        }
        case INSTRUCTION_COMPARE:
        case INSTRUCTION_COMPARE_CONSTANT:
        case INSTRUCTION_FLOAT_COMPARE:
        case INSTRUCTION_FLOAT_COMPARE_CONSTANT:
        case INSTRUCTION_BLOCK_COMPARE:
        case INSTRUCTION_BLOCK_COMPARE_CONSTANT:
        case INSTRUCTION_TEST_FLAGS:
            write_value(out, numbers, &instruction->copy.destination);
            fputs(instruction->kind == INSTRUCTION_TEST_FLAGS ? " & " : " with ", out);
            write_value(out, numbers, &instruction->copy.source);
            break;
        case INSTRUCTION_COMPARE_RESULT: {
            Instruction_Compare_Result* result = &instruction->compare_result;
            write_value(out, numbers, &result->destination);
            fprintf(out, " = flags %s%s%s", operator_to_c_string(result->operator_bit), result->unsigned_compare ? " unsigned" : "",
                    result->float_compare ? " float" : "");
            break;
        }
    }
}

//~ Control statements

static void write_instructions(FILE* out, Scope_Numbers* numbers, Scope* scope, u32 depth);

static void indent(FILE* out, u32 depth) { fprintf(out, "%*s", (int)depth * 2, ""); }

static void write_block(FILE* out, Scope_Numbers* numbers, const char* title, Scope* scope, u32 depth) {
    indent(out, depth);
    fprintf(out, "%s\n", title);
    if (scope) write_instructions(out, numbers, scope, depth + 1);
}

// Each part: its level, what it is, whether folding dropped it; a value's jump and the
// instructions computing it; "last" on the last part of the whole condition.
static void write_condition_parts(FILE* out, Scope_Numbers* numbers, Bucket_Array* parts, u32 depth) {
    for (Condition_Part* part = (Condition_Part*)parts->first_element; part; part = part->next) {
        indent(out, depth);
        fprintf(out, "part level %u ", part->level);
        if (part->part_kind == CONDITION_PART_OPERATOR) {
            fprintf(out, "operator %s%s\n", operator_to_c_string(part->operator_bit), part->ignored ? " ignored" : "");
            continue;
        }
        fputs("value ", out);
        write_value(out, numbers, &part->value);
        if (part->ignored) fputs(" ignored", out);
        else fprintf(out, " jump %u %s", part->jump_kind, bytecode_kind_name(part->jump_kind));
        if (part->scope && (part->scope->flags & SCOPE_CONDITION)) fputs(" last", out);
        fputc('\n', out);
        if (!part->ignored && part->scope) write_instructions(out, numbers, part->scope, depth + 1);
    }
}

static void write_if_chain(FILE* out, Scope_Numbers* numbers, Instruction_If_Chain* chain, u32 depth) {
    fprintf(out, " links %u%s\n", chain->link_count, chain->has_else ? " else" : "");
    u32 number = 1;
    for (If_Chain_Part* link = (If_Chain_Part*)chain->links.first_element; link; link = link->next, number++) {
        indent(out, depth + 1);
        fprintf(out, "link %u", number);
        write_location(out, link->closing);
        fputc('\n', out);
        write_condition_parts(out, numbers, &link->conditions, depth + 2);
        write_block(out, numbers, "block", link->scope, depth + 2);
    }
    if (chain->has_else) write_block(out, numbers, "else", chain->else_scope, depth + 1);
}

static void write_for_loop(FILE* out, Scope_Numbers* numbers, Instruction_For* loop, u32 depth) {
    fprintf(out, " index %.*s ", (int)loop->index->name.count, (char*)loop->index->name.data);
    Value index;
    make_dynamic_value_from_register(&index, loop->index->register_id, loop->loop_type, loop->location);
    write_value(out, numbers, &index);
    fprintf(out, " %s ", operator_to_c_string(loop->comparison));
    write_value(out, numbers, &loop->limit);
    fputs((loop->flags & FOR_LOOP_STEP_DOWN) ? " step down " : " step up ", out);
    write_value(out, numbers, &loop->step);
    if (loop->element) {
        Value element;
        make_dynamic_value_from_register(&element, loop->element->register_id, loop->element_type, loop->location);
        fprintf(out, " element %.*s ", (int)loop->element->name.count, (char*)loop->element->name.data);
        write_value(out, numbers, &element);
    }
    fputc('\n', out);
    write_block(out, numbers, "body", loop->loop_scope, depth + 1);
}

static void write_switch(FILE* out, Scope_Numbers* numbers, Instruction_Switch* operands, u32 depth) {
    fputc(' ', out);
    write_value(out, numbers, &operands->value);
    fputc('\n', out);
    for (u32 i = 0; i < operands->case_values.count; i++) {
        Scope* block = ((Scope**)operands->case_scopes.data)[i];
        indent(out, depth + 1);
        fputs("case ", out);
        write_value(out, numbers, (Value*)operands->case_values.data + i);
        fputs((block->flags & SCOPE_SWITCH_FALLS_THROUGH) ? " no break\n" : "\n", out);
        write_instructions(out, numbers, block, depth + 2);
    }
    if (operands->has_default) write_block(out, numbers, "default", operands->default_scope, depth + 1);
}

// The operands of the control statements' kinds, and what they hold.
static void write_control_operands(FILE* out, Scope_Numbers* numbers, Instruction* instruction, u32 depth) {
    switch (instruction->kind) {
        case INSTRUCTION_WHILE: {
            Instruction_While* loop = get_instruction_while(instruction);
            write_location(out, loop->location);
            fputc('\n', out);
            write_condition_parts(out, numbers, &loop->conditions, depth + 1);
            write_block(out, numbers, "body", loop->loop_scope, depth + 1);
            return;
        }
        case INSTRUCTION_FOR:
            write_location(out, get_instruction_for(instruction)->location);
            write_for_loop(out, numbers, get_instruction_for(instruction), depth);
            return;
        case INSTRUCTION_IF_CHAIN:
            write_location(out, get_instruction_if_chain(instruction)->location);
            write_if_chain(out, numbers, get_instruction_if_chain(instruction), depth);
            return;
        case INSTRUCTION_SWITCH:
            write_location(out, get_instruction_switch(instruction)->location);
            write_switch(out, numbers, get_instruction_switch(instruction), depth);
            return;
        case INSTRUCTION_LOOP_JUMP: {
            Instruction_Loop_Jump* jump = get_instruction_loop_jump(instruction);
            write_location(out, jump->location);
            fprintf(out, " %s level %u\n", jump->mode == LOOP_JUMP_BREAK ? "break" : "continue", jump->level);
            return;
        }
        case INSTRUCTION_RETURN_JUMP: {
            Instruction_Return_Jump* jump = get_instruction_return_jump(instruction);
            write_location(out, jump->location);
            fputc(' ', out);
            if (jump->value.kind) write_value(out, numbers, &jump->value);
            else fputs("no value", out);
            fputs(jump->no_jump ? " no jump\n" : "\n", out);
            return;
        }
        case INSTRUCTION_CALL: {
            // "f block r0.2 result r0.3 flags 0xe", "through r0.1" for a call through an address.
            Instruction_Call* call = get_instruction_call(instruction);
            write_location(out, call->location);
            Sub_Program* callee = call->callee;
            if (callee) fprintf(out, " %.*s", (int)callee->name.count, (char*)callee->name.data);
            if (call->flags & CALL_THROUGH_ADDRESS) {
                fputs(" through ", out);
                write_register(out, numbers, call->callee_address);
            }
            if (register_id_is_valid(call->argument_block)) {
                fputs(" block ", out);
                write_register(out, numbers, call->argument_block);
            }
            if (register_id_is_valid(call->result)) {
                fputs(" result ", out);
                write_register(out, numbers, call->result);
            }
            fprintf(out, " flags 0x%x", call->flags);
            if (call->arguments.count) fprintf(out, " values %u", call->arguments.count);
            fputc('\n', out);
            return;
        }
        case INSTRUCTION_MACHINE_CODE: {
            Instruction_Machine_Code* code = get_instruction_machine_code(instruction);
            write_location(out, code->location);
            fprintf(out, " %u octets", code->count);
            for (u32 i = 0; i < code->count; i++) fprintf(out, " %02x", code->octets[i]);
            fputc('\n', out);
            return;
        }
    }
    fputc('\n', out);
}

static void write_instructions(FILE* out, Scope_Numbers* numbers, Scope* scope, u32 depth) {
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
                    write_instructions(out, numbers, operands->scope, depth + 1);
                }
                break;
            }
            default:
                if (instruction->kind > INSTRUCTION_COMPARE_RESULT) {
                    write_control_operands(out, numbers, instruction, depth);
                    break;
                }
                write_operands(out, numbers, instruction);
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
        Scope_Numbers numbers = {};
        get_scope_number(&numbers, entry.scope);
        write_instructions(out, &numbers, entry.scope, 1);
    }
}

void write_sub_program_bodies(FILE* out) {
    Dynamic_Array* list = &global_compiler_state.sub_programs;
    for (u32 i = 0; i < list->count; i++) {
        Sub_Program* sub_program = ((Sub_Program**)list->data)[i];
        fprintf(out, "sub-program %.*s\n", (int)sub_program->name.count, (char*)sub_program->name.data);
        if (!sub_program->body_scope) continue;
        Scope_Numbers numbers = {};
        get_scope_number(&numbers, sub_program->body_scope);
        write_instructions(out, &numbers, sub_program->body_scope, 1);
    }
}

// One line per listed sub-program: its name (an instance's is its key), its signature, and
// the layout of its call-data block.
static void write_sub_program_list(FILE* out, const char* title, Dynamic_Array* list) {
    fprintf(out, "%s\n", title);
    for (u32 i = 0; i < list->count; i++) {
        Sub_Program* sub_program = ((Sub_Program**)list->data)[i];
        fprintf(out, "  %u %.*s", i, (int)sub_program->name.count, (char*)sub_program->name.data);
        if (!sub_program->polymorphic_origin) {
            fprintf(out, ": %.*s", (int)sub_program->signature_text.count, (char*)sub_program->signature_text.data);
        }
        fprintf(out, " size %u align %u", sub_program->call_data_size, sub_program->call_data_alignment);
        Identifier* result = sub_program->element_type;
        if (result && !(result->flags & TYPE_VOID)) fprintf(out, " return %u", sub_program->return_value_offset);
        if (sub_program->flags & SUB_PROGRAM_SCALAR_RETURN) fputs(" scalar", out);
        fputc('\n', out);
    }
}

void write_sub_program_listing(FILE* out) {
    write_sub_program_list(out, "sub-programs", &global_compiler_state.sub_programs);
    write_sub_program_list(out, "foreign sub-programs", &global_compiler_state.foreign_sub_programs);
}
