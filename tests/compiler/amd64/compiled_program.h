// Programs compiled from source by the whole pipeline: the support sources and the user's
// file in a scratch directory that stands for the executable's, compile_from_file writing
// "custom.8b" there, the image read back to be run in the harness, and the lint run over
// the same program's machine code.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/compiler/amd64/gnu_tools.h"
#include "tests/compiler/amd64/harness.h"

struct Compiled_Program {
    bool bytecode_made;               // the front end and the bytecode took the source
    bool ok;                          // compile_from_file succeeded
    std::vector<std::string> errors;  // compile error messages
    std::vector<u8> image;            // "custom.8b" as written
    std::map<std::string, u32> globals;  // each named global's offset in global data
    std::string missing;              // the named globals not found, one per line
    // The same compile's machine code before the image was laid out, with its bytecode, for
    // lint_generated_code; the bytecode's scopes and callees stay readable until the next compile.
    Harness_Program code;
    std::vector<Bytecode_Instruction> instructions;
};

Compiled_Program compile_program(const std::string& source, const std::vector<std::string>& globals = {},
                                 const std::string& declarations = "");
// Compiles the source as the user's custom.8 after a small inject.8 (the target enums and
// the support types, or the declarations given in their place) and an empty api.8, and
// reads back the image. The named globals' offsets and the code come from a second
// compile of the same sources up to the machine code: a compile gives the same image
// every time.

template <typename T>
T global_value(const Compiled_Program& p, const Harness_Run& run, const std::string& name) {
    T value = {};
    auto at = p.globals.find(name);
    if (at != p.globals.end() && at->second + sizeof(T) <= run.globals.size()) {
        memcpy(&value, run.globals.data() + at->second, sizeof(T));
    }
    return value;
}

u64 global_bits(const Compiled_Program& p, const Harness_Run& run, const std::string& name, u32 size);
// The size octets of a global after the run, zero-extended; 0 for a name not asked for.

u8* loaded_global(const Compiled_Program& p, u8* image, const std::string& name);
// Where a global lies in a loaded image (before_entry of harness_run_image); null for a
// name not asked for.

std::string lint_compiled(const Compiled_Program& p, Objdump_Run* objdump = nullptr);
// The globals not found and the lint's findings on the program's code (code_lint.cpp);
// "" when clean, and for a program with no code. objdump->failed tells a lint that never
// read the code.
