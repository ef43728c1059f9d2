// GNU as and objdump as the encoder's oracle: a listing of (text, our bytes) rows is
// assembled or disassembled in one batch, and the first row that differs is reported.
#pragma once

#include <string>
#include <vector>

#include "foundation/types.h"

struct Listing_Row {
    std::string text;      // one line of Intel-syntax assembly, or objdump's text for it
    std::vector<u8> bytes; // what our encoder produced
};

std::string compare_with_gnu_as(const std::vector<Listing_Row>& rows);
// Assembles every row's text with `as --64` into one block and compares it with the rows'
// bytes. Empty when they agree, else a message naming the first row that differs.

std::string compare_with_objdump(const std::vector<Listing_Row>& rows);
// For forms `as` would pick another encoding of: disassembles the rows' bytes in one
// block and compares each instruction's text (spaces collapsed, lower case) with the
// row's text. Empty when they agree.

// One instruction as objdump reads it: its offset, its text with spaces collapsed and in
// lower case, and the comment after '#' (the target of a RIP-relative operand).
struct Disassembled_Instruction {
    size_t offset;
    std::string text;
    std::string comment;
};

// The objdump a lint runs, and whether it came to no listing (objdump reads any octets:
// a failure is never the program's).
struct Objdump_Run {
    std::string program = "objdump";
    bool failed = false;
};

std::string disassemble_with_objdump(const u8* bytes, size_t count, std::vector<Disassembled_Instruction>* out,
                                     Objdump_Run* run = nullptr);
// Disassembles the octets as 64-bit code at address 0 into out. Empty on success, else why
// objdump could not run (and run->failed set). Octets it cannot decode come out as "(bad)"
// or ".byte".

bool tool_could_not_run(int status, const std::string& log);
// Whether a tool started with system() (status as it returns it, log what the tool wrote)
// came to no verdict of its own: the fork or the exec failed, the shell found no such
// program, a signal from outside (KILL, TERM, INT, HUP) ended it, or it could not start a
// process or get memory of its own. A tool that ran and refused its input is not among these.
