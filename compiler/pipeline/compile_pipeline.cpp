// The compile pipeline: the front end builds the entry blocks, the bytecode generator links
// the program's bytecode, the code generator translates it and the writer lays out and
// writes the image. Every exit goes through free_compiler_state.
#include "compiler/pipeline/compile_pipeline.h"
#include "compiler/pipeline/layer_image_writer.h"
#include "compiler/bytecode/bytecode.h"
#include "compiler/amd64/amd64.h"

// An entry block's first instruction, from its byte offset in the bytecode to its code offset.
static b8 entry_code_offset(u32* offset) {
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    u64 index = *offset / sizeof(Bytecode_Instruction);
    if (*offset % sizeof(Bytecode_Instruction) != 0 || index >= bytecode->count) {
        print_error("Internal compiler error: an entry block starts off the bytecode's records.");
        return false;
    }
    *offset = (u32)((Bytecode_Instruction*)bytecode->data)[index].code_start;
    return true;
}

// Every instruction becomes machine code with its jumps and calls patched, the entries
// become code offsets, and the writer lays out and writes the image. The writer's failure
// fails the compile, so the layer that is loaded stays.
static b8 make_machine_code(String path, Version_Info* version, u32 syntax_offset, u32 events_offset,
                            u32 on_load_offset, u8 entry_flags) {
    Amd64_Output output = {};
    b8 ok = amd64_translate_bytecode(&global_compiler_state.bytecode, &output) &&
            (!(entry_flags & LAYER_IMAGE_HAS_SYNTAX) || entry_code_offset(&syntax_offset)) &&
            (!(entry_flags & LAYER_IMAGE_HAS_EVENTS) || entry_code_offset(&events_offset)) &&
            (!(entry_flags & LAYER_IMAGE_HAS_ON_LOAD) || entry_code_offset(&on_load_offset)) &&
            output_amd64_file(&path, syntax_offset, events_offset, on_load_offset, entry_flags, version, output.code,
                              output.data_relocations, output.foreign_call_slots);
    amd64_free_output(&output);
    return ok;
}

b8 compile_from_file(u8* path, u64 length, Version_Info* version) {
    u32 syntax_offset = 0, events_offset = 0, on_load_offset = 0;
    u8 entry_flags = 0;
    b8 ok = compile_front_end(path, length, true, String{}) &&
            make_bytecode_from_state(&syntax_offset, &events_offset, &on_load_offset, &entry_flags);
    if (ok && global_compiler_state.target_platform == TARGET_PLATFORM_AMD64) {
        ok = make_machine_code(String{path, (s64)length}, version, syntax_offset, events_offset, on_load_offset,
                               entry_flags);
    }
    free_compiler_state();
    return ok;
}
