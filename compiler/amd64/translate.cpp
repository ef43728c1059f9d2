// The translation of one bytecode instruction: its code start, the dispatch on its kind,
// and the internal error that fails the compile when a kind, size or operand cannot be
// generated, so a layer with missing instructions never runs.
#include "compiler/amd64/amd64.h"
#include "foundation/strings.h"

// The trace of an instruction's line, for the report; the text around it is found in
// its loaded source file.
static Trace trace_of_line(u32 file_index, u32 line) {
    Trace t = {};
    t.file_index = file_index;
    t.line = line;
    if (file_index >= global_compiler_state.source_files.count) return t;
    Source_File* file = (Source_File*)global_compiler_state.source_files.data + file_index;
    u8* at = file->text;
    u8* end = file->text + file->text_size;
    for (u32 l = 1; at && l < line && at < end; at++) {
        if (*at == '\n') l++;
    }
    if (!at || at >= end) return t;
    t.line_start = at;
    t.text_start = at;
    while (at < end && *at != '\n' && *at != '\r') at++;
    t.length = (u64)(at - t.text_start);
    return t;
}

void amd64_report_internal_error(Bytecode_Instruction* instruction, const char* reason) {
    print_error_on_trace(trace_of_line(instruction->file_index, instruction->line),
                         "Internal compiler error: cannot generate machine code for '%s' (%s).",
                         bytecode_kind_name(instruction->kind), reason);
}

b8 bytecode_instruction_to_amd64(Bytecode_Instruction* instruction, Dynamic_Array* code, Dynamic_Array* jumps,
                                 Dynamic_Array* calls, Dynamic_Array* data_relocations,
                                 Dynamic_Array* foreign_call_slots, Amd64_Temporary_Mask* mask,
                                 Dynamic_Array* prologues) {
    instruction->code_start = code->count;
    Amd64_Translation t = {instruction, code, jumps, calls, data_relocations, foreign_call_slots, mask, prologues};
    // RAX and XMM0 are every other kind's scratch: a result waiting there only moves.
    mask->return_register_allowed = instruction->kind >= BYTECODE_SET_TO_ZERO &&
                                    instruction->kind <= BYTECODE_COPY_SUB_PROGRAM_ADDRESS;
    switch (instruction->kind) {
        case BYTECODE_SET_TO_ZERO: amd64_set_to_zero(&t); break;
        case BYTECODE_COPY_CONSTANT_NUMBER:
        case BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT: amd64_copy_constant_number(&t); break;
        case BYTECODE_COPY_CONSTANT_STRUCT:
        case BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT:
        case BYTECODE_COPY:
        case BYTECODE_COPY_INDIRECT: amd64_copy(&t); break;
        case BYTECODE_COPY_SUB_PROGRAM_ADDRESS: amd64_copy_sub_program_address(&t); break;
        case BYTECODE_CAST_INT_TO_FLOAT: amd64_cast_int_to_float(&t); break;
        case BYTECODE_CAST_FLOAT_TO_INT: amd64_cast_float_to_int(&t); break;
        case BYTECODE_CAST_INT_TO_BOOL:
        case BYTECODE_CAST_FLOAT_TO_BOOL: amd64_cast_to_bool(&t); break;
        case BYTECODE_CAST_INT_TO_SMALL_INT: amd64_cast_int_to_small_int(&t); break;
        case BYTECODE_CAST_INT_TO_BIG_INT: amd64_cast_int_to_big_int(&t); break;
        case BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT:
        case BYTECODE_CAST_FLOAT_TO_BIG_FLOAT: amd64_cast_float_to_float(&t); break;
        case BYTECODE_MAKE_INT_BOOL:
        case BYTECODE_MAKE_FLOAT_BOOL: amd64_make_bool(&t); break;
        case BYTECODE_INT_ARITHMETIC_CONSTANT: amd64_int_arithmetic_constant(&t); break;
        case BYTECODE_INT_ARITHMETIC: amd64_int_arithmetic(&t); break;
        case BYTECODE_FLOAT_ARITHMETIC_CONSTANT: amd64_float_arithmetic_constant(&t); break;
        case BYTECODE_FLOAT_ARITHMETIC: amd64_float_arithmetic(&t); break;
        case BYTECODE_COMPARE: amd64_compare(&t); break;
        case BYTECODE_COMPARE_TO_CONSTANT: amd64_compare_to_constant(&t); break;
        case BYTECODE_COMPARE_TO_ZERO: amd64_compare_to_zero(&t); break;
        case BYTECODE_COMPARE_BLOCK_TO_CONSTANT: amd64_compare_block_to_constant(&t); break;
        case BYTECODE_MEMCMP: amd64_compare_blocks(&t); break;
        case BYTECODE_TEST_FLAGS:
        case BYTECODE_TEST_FLAGS_CONSTANT: amd64_test_flags(&t); break;
        case BYTECODE_FLOAT_COMPARE:
        case BYTECODE_FLOAT_COMPARE_TO_CONSTANT:
        case BYTECODE_FLOAT_COMPARE_TO_ZERO: amd64_float_compare(&t); break;
        case BYTECODE_STORE_COMPARE_RESULT: amd64_store_compare_result(&t); break;
        case BYTECODE_TAKE_ADDRESS: amd64_take_address(&t); break;
        case BYTECODE_CALCULATE_ADDRESS:
        case BYTECODE_MEMORY_DEREFERENCE: amd64_element_by_register(&t); break;
        case BYTECODE_CALCULATE_ADDRESS_CONSTANT:
        case BYTECODE_MEMORY_DEREFERENCE_CONSTANT: amd64_element_by_constant(&t); break;
        case BYTECODE_JUMP:
        case BYTECODE_JUMP_EQUAL:
        case BYTECODE_JUMP_NOT_EQUAL:
        case BYTECODE_JUMP_LESS:
        case BYTECODE_JUMP_LESS_EQUAL:
        case BYTECODE_JUMP_GREATER:
        case BYTECODE_JUMP_GREATER_EQUAL:
        case BYTECODE_JUMP_NOT_ZERO:
        case BYTECODE_JUMP_ZERO: amd64_jump(&t); break;
        case BYTECODE_DEBUG_BREAK: amd64_debug_break(&t); break;
        case BYTECODE_EMBED_MACHINE_CODE: amd64_embed_machine_code(&t); break;
        case BYTECODE_PUSH_STACK_FRAME: amd64_push_stack_frame(&t); break;
        case BYTECODE_POP_STACK_FRAME: amd64_pop_stack_frame(&t); break;
        case BYTECODE_COPY_ARGUMENTS_ADDRESS: amd64_copy_arguments_address(&t); break;
        case BYTECODE_CALL:
        case BYTECODE_CALL_THROUGH_ADDRESS: amd64_call(&t); break;
        case BYTECODE_FOREIGN_CALL: amd64_foreign_call(&t); break;
        case BYTECODE_RETURN: amd64_return(&t); break;
        default: amd64_fail(mask, "no machine code for this kind"); break;
    }
    b8 ok = !amd64_failed(mask);
    if (!ok) amd64_report_internal_error(instruction, mask->failure);
    amd64_clear_temporary_mask(mask);
    return ok;
}

//~ The whole bytecode

// Initial capacities: the code of a typical layer, and its fix-ups, without regrowth.
#define AMD64_CODE_CAPACITY 204800

static void reserve(Dynamic_Array* a, u32 element_size, u32 capacity) {
    init_dynamic_array(a, element_size);
    if (dynamic_array_add_fast_multiple(a, capacity)) a->count = 0;
}

b8 amd64_translate_bytecode(Dynamic_Array* bytecode, Amd64_Output* output) {
    reserve(&output->code, 1, AMD64_CODE_CAPACITY);
    reserve(&output->jumps, sizeof(Amd64_Code_Relocation), 64);
    reserve(&output->data_relocations, sizeof(Amd64_Data_Relocation), 64);
    reserve(&output->calls, sizeof(Amd64_Code_Relocation), 16);
    reserve(&output->foreign_call_slots, sizeof(u64), 64);
    reserve(&output->prologues, sizeof(Amd64_Prologue), 128);
    Amd64_Temporary_Mask mask = {};
    for (u32 i = 0; i < bytecode->count; i++) {
        Bytecode_Instruction* instruction = (Bytecode_Instruction*)(bytecode->data + (u64)i * bytecode->element_size);
        if (!bytecode_instruction_to_amd64(instruction, &output->code, &output->jumps, &output->calls,
                                           &output->data_relocations, &output->foreign_call_slots, &mask,
                                           &output->prologues)) {
            return false;
        }
        instruction->code_end = output->code.count;
    }
    return amd64_write_code_relocations(&output->code, &output->jumps, &output->calls, bytecode);
}

void amd64_free_output(Amd64_Output* output) {
    dynamic_array_free(&output->code);
    dynamic_array_free(&output->jumps);
    dynamic_array_free(&output->calls);
    dynamic_array_free(&output->data_relocations);
    dynamic_array_free(&output->foreign_call_slots);
    amd64_free_prologues(&output->prologues);
}
