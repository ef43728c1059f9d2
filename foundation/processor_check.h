// Every part of Quarn is built to use the instructions of SSE4.2 (with the sets before it
// and POPCNT) and AES (the name hash's rounds). Linked into a program, processor_check.cpp
// checks for them before any of them can run: ahead of the program's static initialisers
// and main, from code built without them. A processor that lacks one ends the program
// with a message that says so, instead of with an illegal instruction.
#pragma once

#include <stdint.h>

// The instruction sets the build uses, as bits of ECX of CPUID leaf 1.
#define PROCESSOR_SSE3   (1u << 0)
#define PROCESSOR_SSSE3  (1u << 9)
#define PROCESSOR_SSE4_1 (1u << 19)
#define PROCESSOR_SSE4_2 (1u << 20)
#define PROCESSOR_POPCNT (1u << 23)
#define PROCESSOR_AES    (1u << 25)
#define PROCESSOR_NEEDED (PROCESSOR_SSE3 | PROCESSOR_SSSE3 | PROCESSOR_SSE4_1 | PROCESSOR_SSE4_2 | PROCESSOR_POPCNT | PROCESSOR_AES)

uint64_t processor_refusal(uint32_t highest_leaf, uint32_t cpuid_1_ecx, char* out, uint64_t capacity);
// The message for a processor whose highest CPUID leaf and leaf 1's ECX are these, in out
// (NUL-terminated, cut to the capacity), and its length; 0 and an empty out when the
// processor has everything the build uses.
