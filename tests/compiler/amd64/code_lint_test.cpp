// The lint finds each class of fault it is for in a few octets, and passes their sound forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/translation_fixture.h"

TEST(CodeLint, FindsEachFaultAndPassesTheSoundForms) {
    struct Case {
        const char* name;
        std::vector<u8> code;
        std::vector<Amd64_Data_Relocation> relocations;
        std::vector<u64> slots;
        const char* finding;  // "" for none
    };
    const Case cases[] = {
        {"undecodable", {0x90, 0x06}, {}, {}, "0x1: (bad): undecodable\n"},
        {"a high-byte register", {0x88, 0xE7}, {}, {}, "0x0: mov bh,ah: a high-byte register\n"},
        {"the one high-byte move", {0x88, 0xE0}, {}, {}, ""},
        {"a jump into an instruction", {0xEB, 0x01, 0x48, 0x89, 0xC0}, {}, {}, "0x0: jmp 0x3: a jump into an instruction's middle\n"},
        {"a jump to an instruction", {0xEB, 0x00, 0x48, 0x89, 0xC0}, {}, {}, ""},
        {"a call to no sub-program", {0xE8, 0, 0, 0, 0, 0xC3}, {}, {}, "0x0: call 0x5: a call to no sub-program's first octet\n"},
        {"a RIP-relative target in the code", {0x48, 0x8B, 0x05, 0, 0, 0, 0}, {}, {},
         "0x0: mov rax,qword ptr [rip+0x0]: a RIP-relative target outside constant and global data\n"},
        {"RIP-relative targets in the data", {0x48, 0x8B, 0x05, 4, 0, 0, 0, 0x48, 0x8B, 0x05, 0, 0, 0, 0},
         {{0, 3, 7, AMD64_OPERAND_CONSTANT_DATA}, {7, 10, 7, AMD64_OPERAND_GLOBAL_DATA}}, {}, ""},
        {"a slot inside a movabs", {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0}, {}, {2}, ""},
        {"a slot elsewhere", {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0}, {}, {3}, "0x3: a foreign-call slot outside a 48 B8 immediate\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Harness_Program p;
        p.code = k.code;
        p.data_relocations = k.relocations;
        p.foreign_call_slots = k.slots;
        p.constants.assign(8, 0);
        p.globals.assign(8, 0);
        EXPECT_EQ(lint_generated_code(p, {}), k.finding);
    }
}
