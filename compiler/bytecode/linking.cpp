// The program's bytecode: the entry blocks and every listed sub-program laid one after
// another in the state's array, then linked in place: jumps threaded through chains of
// jumps, and calls and sub-program addresses given the distance to their callee.
#include "compiler/bytecode/bytecode.h"
#include "compiler/bytecode/layer_image.h"

// Following a chain further than this means it runs in a circle.
#define THREADING_HOP_LIMIT 64

static Trace trace_of_record(Bytecode_Instruction* instruction) {
    Trace t = {};
    t.file_index = instruction->file_index;
    t.line = instruction->line;
    return t;
}

void report_bytecode_internal_error(Bytecode_Instruction* instruction, const char* what) {
    Trace t = trace_of_record(instruction);
    Dynamic_Array* files = &global_compiler_state.source_files;
    if (t.file_index < files->count) {
        String line = debugger_file_get_line((Source_File*)files->data + t.file_index, t.line);
        while (line.count && (line.data[0] == '\n' || line.data[0] == '\r')) line.data++, line.count--;
        t.line_start = line.data;
        t.text_start = line.data;
        t.length = (u64)line.count;
    }
    print_error_on_trace(t, "Internal compiler error: %s.", what);
}

//~ Emission

static b8 emit_body(Dynamic_Array* bytecode, Scope* scope, Dynamic_Array* patches) {
    return make_bytecode_for_scope(0, 0, 0, bytecode, scope, patches);
}

static b8 emit_entry_block(Dynamic_Array* bytecode, Scope* scope, u32* offset, u8* flags, u8 flag, Dynamic_Array* patches) {
    if (!scope) return true;
    *offset = (u32)get_bytecode_position(bytecode);
    if (!emit_body(bytecode, scope, patches)) return false;
    *flags |= flag;
    return true;
}

static b8 emit_sub_programs(Dynamic_Array* bytecode, Dynamic_Array* patches) {
    Dynamic_Array* list = &global_compiler_state.sub_programs;
    Sub_Program** sub_programs = (Sub_Program**)list->data;
    // Until its body is emitted a sub-program starts nowhere, so a call of one that never
    // gets a body cannot land on the array's first record.
    for (u32 i = 0; i < list->count; i++) sub_programs[i]->bytecode_start = SUB_PROGRAM_NO_BYTECODE;
    for (u32 i = 0; i < list->count; i++) {
        Sub_Program* sub_program = sub_programs[i];
        if (!sub_program->body_scope) {
            print_error_on_trace(sub_program->declaration, "Internal compiler error: '%.*s' has no body to compile.",
                                 (int)sub_program->name.count, (char*)sub_program->name.data);
            return false;
        }
        sub_program->bytecode_start = get_bytecode_position(bytecode);
        if (!emit_body(bytecode, sub_program->body_scope, patches)) return false;
    }
    return true;
}

//~ Threading

static b8 is_a_record(Dynamic_Array* bytecode, u64 offset) {
    return offset % BYTECODE_INSTRUCTION_SIZE == 0 && offset / BYTECODE_INSTRUCTION_SIZE < bytecode->count;
}

void thread_jumps(Dynamic_Array* bytecode) {
    for (u32 index = 0; index < bytecode->count; index++) {
        Bytecode_Instruction* jump = get_bytecode_instruction(bytecode, index);
        if (!is_a_jump(jump->kind) || !is_a_record(bytecode, jump->jump.target)) continue;
        u64 original = jump->jump.target;
        u64 target = original;
        Bytecode_Instruction* t = get_bytecode_instruction(bytecode, (u32)(target / BYTECODE_INSTRUCTION_SIZE));
        u32 hops = 0;
        // A conditional jump follows only jumps of its own kind; a plain one only plain ones.
        while (t->kind == jump->kind && is_a_record(bytecode, t->jump.target) && hops < THREADING_HOP_LIMIT) {
            target = t->jump.target;
            t = get_bytecode_instruction(bytecode, (u32)(target / BYTECODE_INSTRUCTION_SIZE));
            hops++;
        }
        // In a circle (an empty endless loop) the jump keeps the target it was given.
        if (hops == THREADING_HOP_LIMIT || target == (u64)index * BYTECODE_INSTRUCTION_SIZE) {
            target = original;
            t = get_bytecode_instruction(bytecode, (u32)(target / BYTECODE_INSTRUCTION_SIZE));
        }
        jump->jump.target = target;
        if (jump->kind == BYTECODE_JUMP && t->kind == BYTECODE_RETURN) *jump = *t;
    }
}

static b8 check_jumps_aimed(Dynamic_Array* bytecode) {
    for (u32 index = 0; index < bytecode->count; index++) {
        Bytecode_Instruction* jump = get_bytecode_instruction(bytecode, index);
        if (is_a_jump(jump->kind) && !is_a_record(bytecode, jump->jump.target)) {
            report_bytecode_internal_error(jump, "a jump is aimed at no instruction");
            return false;
        }
    }
    return true;
}

//~ Patching

// The callee's first record, or false when it never got a body of its own.
static b8 get_callee_start(Sub_Program* callee, u64* start) {
    Dynamic_Array* list = &global_compiler_state.sub_programs;
    if (!callee || !(callee->flags & IDENTIFIER_IN_SUB_PROGRAM_LIST) || callee->sub_program_index >= list->count ||
        ((Sub_Program**)list->data)[callee->sub_program_index] != callee || callee->bytecode_start == SUB_PROGRAM_NO_BYTECODE) {
        return false;
    }
    *start = callee->bytecode_start;
    return true;
}

static void report_callee_without_bytecode(Bytecode_Instruction* instruction, Sub_Program* callee) {
    const char* name = callee && callee->name.count ? to_tmp_c_string(callee->name) : "?";
    report_bytecode_internal_error(instruction, tcstring("'%s' is called but was never given bytecode", name));
}

b8 patch_calls(Dynamic_Array* bytecode, Dynamic_Array* patches) {
    Dynamic_Array* list = &global_compiler_state.sub_programs;
    u32* indices = (u32*)patches->data;
    for (u32 p = 0; p < patches->count; p++) {
        Bytecode_Instruction* i = get_bytecode_instruction(bytecode, indices[p]);
        s64 own = (s64)indices[p] * BYTECODE_INSTRUCTION_SIZE;
        u64 start;
        if (i->kind == BYTECODE_COPY_SUB_PROGRAM_ADDRESS) {
            Sub_Program* callee = i->copy_sub_program_address.sub_program;
            if (!get_callee_start(callee, &start)) {
                report_callee_without_bytecode(i, callee);
                return false;
            }
            i->copy_sub_program_address.distance = (s64)start - own;
        } else if (i->kind == BYTECODE_CALL) {
            Sub_Program* callee = i->callee < list->count ? ((Sub_Program**)list->data)[i->callee] : 0;
            if (!get_callee_start(callee, &start)) {
                report_callee_without_bytecode(i, callee ? callee : i->call.sub_program);
                return false;
            }
            i->callee = (u64)((s64)start - own);
        }
    }
    return true;
}

//~ The program

b8 make_bytecode_from_state(u32* syntax_offset, u32* events_offset, u32* on_load_offset, u8* flags) {
    Compiler_State* state = &global_compiler_state;
    Dynamic_Array* bytecode = &state->bytecode;
    *flags = 0;
    Dynamic_Array patches;
    init_dynamic_array(&patches, sizeof(u32));
    b8 ok = emit_entry_block(bytecode, state->syntax_scope, syntax_offset, flags, LAYER_IMAGE_HAS_SYNTAX, &patches) &&
            emit_entry_block(bytecode, state->events_scope, events_offset, flags, LAYER_IMAGE_HAS_EVENTS, &patches) &&
            emit_entry_block(bytecode, state->on_load_scope, on_load_offset, flags, LAYER_IMAGE_HAS_ON_LOAD, &patches) &&
            emit_sub_programs(bytecode, &patches) && check_jumps_aimed(bytecode);
    if (ok) {
        thread_jumps(bytecode);
        ok = patch_calls(bytecode, &patches);
    }
    dynamic_array_free(&patches);
    return ok;
}
