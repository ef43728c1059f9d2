#include "tests/compiler/amd64/compiled_program.h"

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "compiler/pipeline/compile_pipeline.h"
#include "compiler/parser/parser.h"
#include "foundation/os_files.h"
#include "tests/scratch.h"

// What the support source declares that the compile looks up.
static const char TARGETS[] = "$__Platform: #enum u8 = { $BYTECODE; $AMD64; };\n"
                              "$__OS: #enum u8 = { $WINDOWS; $LINUX; $MACOS; };\n"
                              "$COMPILER_TARGET_PLATFORM: __Platform = .BYTECODE;\n"
                              "$COMPILER_TARGET_OS: __OS = .WINDOWS;\n";
static const char SUPPORT_TYPES[] = "$__Array: #struct ($T: Type) = { data: @T; count: s64; };\n"
                                    "$__Fixed_Size_Array: #struct ($T: Type, $N: u64) = { data: @T; count: s64; "
                                    "$MAX_COUNT := N; };\n"
                                    "$Code: #struct = { block: @void; };\n";

static void write_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

static std::vector<u8> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The compile again, up to the machine code: the globals' offsets and the code.
static void inspect_compile(const std::string& path, const std::vector<std::string>& globals, Compiled_Program* p) {
    Compiler_State* state = &global_compiler_state;
    u32 syntax, events, on_load;
    u8 flags;
    reset_layer_sources();
    if (!compile_front_end((u8*)path.data(), path.size(), true, String{}) ||
        !make_bytecode_from_state(&syntax, &events, &on_load, &flags)) {
        free_compiler_state();
        return;
    }
    p->bytecode_made = true;
    for (const std::string& name : globals) {
        Identifier* identifier = get_identifier(state->global_scope, (u8*)name.data(), name.size());
        Register* r = identifier ? amd64_get_register(identifier->register_id) : 0;
        if (r) p->globals[name] = (u32)r->data_offset;
        else p->missing += name + "\n";
    }
    Amd64_Output output = {};
    if (amd64_translate_bytecode(&state->bytecode, &output)) {
        Harness_Program* code = &p->code;
        code->code.assign(output.code.data, output.code.data + output.code.count);
        Amd64_Data_Relocation* data = (Amd64_Data_Relocation*)output.data_relocations.data;
        code->data_relocations.assign(data, data + output.data_relocations.count);
        u64* slots = (u64*)output.foreign_call_slots.data;
        code->foreign_call_slots.assign(slots, slots + output.foreign_call_slots.count);
        code->constants.resize(state->constant_data_size);
        code->globals.resize(state->global_data_size);
        Bytecode_Instruction* records = (Bytecode_Instruction*)state->bytecode.data;
        p->instructions.assign(records, records + state->bytecode.count);
    }
    amd64_free_output(&output);
    free_compiler_state();
}

static std::vector<std::string> error_messages() {
    std::vector<std::string> messages;
    for (u32 i = 0; i < compile_errors.count; i++) messages.push_back((char*)((Compile_Error*)compile_errors.data)[i].message);
    return messages;
}

Compiled_Program compile_program(const std::string& source, const std::vector<std::string>& globals,
                                 const std::string& declarations) {
    Compiled_Program p = {};
    std::string directory = make_test_directory("amd64-program");
    if (directory.empty()) {
        p.errors.push_back("no scratch directory");
        return p;
    }
    write_file(directory + "/inject.8", TARGETS + (declarations.empty() ? std::string(SUPPORT_TYPES) : declarations));
    write_file(directory + "/api.8", "");
    std::string custom = directory + "/custom.8";
    write_file(custom, source);

    String saved_base = global_compiler_state.base_directory, saved_executable = executable_filepath;
    global_compiler_state.base_directory = String{(u8*)directory.data(), (s64)directory.size()};
    executable_filepath = global_compiler_state.base_directory;
    tmp_reset();
    reset_layer_sources();
    Version_Info version = EDITOR_VERSION;
    p.ok = compile_from_file((u8*)custom.data(), custom.size(), &version);
    p.errors = error_messages();
    p.image = read_file(directory + "/" COMPILED_CUSTOM_LAYER_FILENAME);
    const char* refused = p.ok ? check_layer_image(p.image.data(), p.image.size()) : 0;
    if (refused) p.errors.push_back(std::string("the image is refused: ") + refused);

    tmp_reset();
    inspect_compile(custom, globals, &p);
    global_compiler_state.base_directory = saved_base;
    executable_filepath = saved_executable;
    tmp_reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return p;
}

u8* loaded_global(const Compiled_Program& p, u8* image, const std::string& name) {
    auto at = p.globals.find(name);
    if (at == p.globals.end()) return 0;
    return image + ((Compiled_Layer_Header*)image)->global_data_offset + at->second;
}

u64 global_bits(const Compiled_Program& p, const Harness_Run& run, const std::string& name, u32 size) {
    u64 value = 0;
    auto at = p.globals.find(name);
    if (at != p.globals.end() && size <= 8 && at->second + size <= run.globals.size()) {
        memcpy(&value, run.globals.data() + at->second, size);
    }
    return value;
}
