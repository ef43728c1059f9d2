// The lint of generated code: whole classes of encoding faults (a high-byte register, a
// jump into an instruction's middle, a RIP-relative operand aimed outside the data) show
// in objdump's reading of a program, whatever the program computes.
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "tests/compiler/amd64/gnu_tools.h"
#include "tests/compiler/amd64/translation_fixture.h"
#include "tests/compiler/amd64/compiled_program.h"

// The lint's own layout: code at 0, then constant data, a gap, then global data.
struct Lint_Layout {
    u64 constants, constants_end, globals, globals_end;
};

static Lint_Layout lay_out(const Harness_Program& p) {
    Lint_Layout l;
    l.constants = align_up(p.code.size(), 64);
    l.constants_end = l.constants + p.constants.size();
    l.globals = align_up(l.constants_end, 64) + 64;
    l.globals_end = l.globals + p.globals.size();
    return l;
}

static bool names_a_high_byte_register(const std::string& text) {
    size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    std::string operands = text.substr(space + 1);
    for (const char* name : {"ah", "bh", "ch", "dh"}) {
        for (size_t at = operands.find(name); at != std::string::npos; at = operands.find(name, at + 1)) {
            bool starts = at == 0 || !isalnum((unsigned char)operands[at - 1]);
            bool ends = at + 2 == operands.size() || !isalnum((unsigned char)operands[at + 2]);
            if (starts && ends) return true;
        }
    }
    return false;
}

// The target of a direct jump or call: "jne 0x1c".
static bool direct_target(const std::string& text, u64* target) {
    size_t space = text.find(' ');
    if (space == std::string::npos || text.compare(space + 1, 2, "0x") != 0) return false;
    char* end = 0;
    *target = strtoull(text.c_str() + space + 3, &end, 16);
    return *end == 0;
}

std::string lint_generated_code(const Harness_Program& program, const std::vector<Bytecode_Instruction>& instructions,
                                Objdump_Run* objdump) {
    Lint_Layout l = lay_out(program);
    std::vector<u8> code = program.code;
    for (const Amd64_Data_Relocation& r : program.data_relocations) {
        u64 area = r.area_class == AMD64_OPERAND_GLOBAL_DATA ? l.globals : l.constants;
        u64 target = area + load_u32(&code[r.displacement_offset]);
        store_u32(&code[r.displacement_offset], (u32)(target - (r.instruction_start + r.instruction_length)));
    }
    std::vector<Disassembled_Instruction> listing;
    std::string error = disassemble_with_objdump(code.data(), code.size(), &listing, objdump);
    if (!error.empty()) return error;

    std::set<u64> starts, sub_programs;
    for (const Disassembled_Instruction& i : listing) starts.insert(i.offset);
    // A sub-program starts with its frame, or wherever a callee record says it does.
    for (const Bytecode_Instruction& b : instructions) {
        if (b.kind == BYTECODE_PUSH_STACK_FRAME && b.frame.scope && !(b.frame.scope->flags & SCOPE_ENTRY_BLOCK)) {
            sub_programs.insert(b.code_start);
        }
        Sub_Program* callee = b.kind == BYTECODE_CALL ? b.call.sub_program
                              : b.kind == BYTECODE_COPY_SUB_PROGRAM_ADDRESS ? b.copy_sub_program_address.sub_program
                                                                            : 0;
        u64 index = callee ? callee->bytecode_start / sizeof(Bytecode_Instruction) : instructions.size();
        if (index < instructions.size()) sub_programs.insert(instructions[index].code_start);
    }
    std::string findings;
    char at[32];
    for (const Disassembled_Instruction& i : listing) {
        snprintf(at, sizeof(at), "0x%zx: ", i.offset);
        const std::string& t = i.text;
        std::string mnemonic = t.substr(0, t.find(' '));
        u64 target;
        if (t.find("(bad)") != std::string::npos || mnemonic == ".byte") {
            findings += at + t + ": undecodable\n";
        } else if (names_a_high_byte_register(t) && t != "mov al,ah") {
            findings += at + t + ": a high-byte register\n";
        } else if (mnemonic[0] == 'j' && direct_target(t, &target) && !starts.count(target)) {
            findings += at + t + ": a jump into an instruction's middle\n";
        } else if (mnemonic == "call" && direct_target(t, &target) && !sub_programs.count(target)) {
            findings += at + t + ": a call to no sub-program's first octet\n";
        } else if (t.find("[rip+") != std::string::npos || t.find("[rip-") != std::string::npos) {
            u64 address = strtoull(i.comment.c_str(), 0, 16);
            bool in_data = (address >= l.constants && address < l.constants_end) ||
                           (address >= l.globals && address < l.globals_end);
            if (!in_data && !(mnemonic == "lea" && sub_programs.count(address))) {
                findings += at + t + ": a RIP-relative target outside constant and global data\n";
            }
        }
    }
    for (u64 slot : program.foreign_call_slots) {
        if (slot < 2 || slot + 8 > code.size() || !starts.count(slot - 2) || code[slot - 2] != 0x48 || code[slot - 1] != 0xB8) {
            snprintf(at, sizeof(at), "0x%llx: ", (unsigned long long)slot);
            findings += std::string(at) + "a foreign-call slot outside a 48 B8 immediate\n";
        }
    }
    return findings;
}

std::string lint_compiled(const Compiled_Program& p, Objdump_Run* objdump) {
    std::string findings;
    if (!p.missing.empty()) findings += "no globals named:\n" + p.missing;
    if (!p.code.code.empty()) findings += lint_generated_code(p.code, p.instructions, objdump);
    return findings;
}
