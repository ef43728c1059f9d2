// Runs generated code inside the test process: code, constants, globals, a call-data
// block and a stack in one mapping (code read-and-execute, guard pages between the data
// areas), RIP-relative fix-ups resolved, every register set from a canary record and
// recorded after the run, and a signal guard that turns a fault into a message naming
// the signal and the instruction, so the runner lives on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "compiler/amd64/amd64.h"
#include "compiler/bytecode/layer_image.h"
#include "tests/layer_code.h"

struct Harness_Registers {
    u64 gp[16];       // by machine number; RSP is never loaded, and recorded after the run
    u8 ymm[16][32];
    u64 rflags;       // recorded after the run
};
static_assert(sizeof(Harness_Registers) == 648);

// A code range named in fault messages, e.g. "instruction #2 (kind 20)".
struct Harness_Marker {
    u32 start;
    u32 end;
    std::string name;
};

enum Harness_Area : u8 {
    HARNESS_CODE,
    HARNESS_CONSTANTS,
    HARNESS_GLOBALS,
    HARNESS_CALL_DATA,
    HARNESS_STACK,
    HARNESS_REGISTER,  // as the place of a pointer: the offset is a general-purpose register
};

// An address planted before the run, since the areas' addresses are known only then.
struct Harness_Pointer {
    Harness_Area area;
    u32 offset;
    Harness_Area target;
    u32 target_offset;
};

struct Harness_Program {
    std::vector<u8> code;  // entered at offset 0; returns with RSP as it found it
    std::vector<Amd64_Data_Relocation> data_relocations;
    std::vector<u8> constants;  // constant data; type data lies in the same area
    std::vector<u8> globals;
    std::vector<u8> call_data;  // RBP points at it (unless the registers say otherwise)
    std::vector<u8> stack;      // the frame harness_open_frame reserves: [rsp+0] upward
    std::vector<Harness_Pointer> pointers;
    std::vector<Harness_Marker> markers;
    std::vector<u64> foreign_call_slots;  // code offsets that receive harness_dispatcher's address
};

struct Harness_Run {
    bool faulted;
    int signal;
    std::string fault;  // "SIGFPE at code offset 0x1c in instruction #2 (kind 20)"
    Harness_Registers entered;    // as loaded: RBP and planted pointers included
    Harness_Registers registers;  // as the code left them
    std::vector<u8> globals, call_data, stack;  // the areas after the run
    u64 code_address, constants_address, globals_address, call_data_address, stack_address;
};

// What the suite needs from the processor; tests skip with the reason otherwise.
#define HARNESS_REQUIRE_AVX() SKIP_UNLESS_LAYER_CODE_RUNS()

// A program being written: the buffers the generator appends to, with the harness's
// frame around what the test emits.
struct Harness_Code {
    Dynamic_Array code;
    Dynamic_Array data_relocations;
    Amd64_Temporary_Mask mask;
    u32 stack_size;
};

Harness_Code harness_begin(u32 stack_size);
// Opens a frame of stack_size octets (sub rsp), padded so that RSP is 16-aligned inside.

void harness_emit(Harness_Code* c, const std::vector<u8>& bytes);

Harness_Program harness_end(Harness_Code* c);
// Closes the frame, returns, and moves the code and fix-ups into a program whose stack
// area is stack_size zero octets; the buffers are released.

Harness_Registers harness_canaries();
// A distinct value in every register and every YMM lane.

// Where a loaded program lies.
struct Harness_Layout {
    u8* mapping;
    u64 mapping_size;
    u8* code;  // the entry
    u8* constants;
    u8* globals;
    u8* call_data;
    u8* stack_low;
    u8* stack_top;
};

b8 harness_load(const Harness_Program& program, Harness_Layout* layout);
// Lays the program out in a mapping of its own: the areas copied, the RIP-relative fix-ups
// resolved, the slots and the pointers held in memory planted, the code made executable.
// False when the memory cannot be mapped.

void harness_unload(Harness_Layout* layout);

Harness_Run harness_run(const Harness_Program& program, Harness_Registers in, b8 rbp_is_call_data = true);
// Lays the program out, plants its pointers, enters it with the registers of in (RBP
// pointing at the call data unless told otherwise) and records what it left.

std::string harness_changed_registers(const Harness_Registers& before, const Harness_Registers& after,
                                      u16 gp_may_change, u16 xmm_may_change);
// "" when only the registers of the two masks changed; else names each other one.

//~ Compiled layer images

// An image loaded as the loader does: read into memory of its own (writable and
// executable, as the editor maps it), checked, rebased with the foreign-call slots aimed at
// harness_dispatcher; a stack of its own lies beyond a guard.
struct Harness_Image {
    u8* mapping;
    u64 mapping_size;
    u8* image;      // the header's first octet
    u8* stack_top;
};

b8 harness_load_image(const std::vector<u8>& image, Harness_Image* loaded);
// False when the image is one the loader would refuse, or memory cannot be mapped.
void harness_unload_image(Harness_Image* loaded);

u8* harness_image_entry(const Harness_Image* loaded, u8 entry_flag);
// The first octet of an entry block (entry_flag: LAYER_IMAGE_HAS_ON_LOAD, _EVENTS or
// _SYNTAX); null when the image has none.

// entry_flag: LAYER_IMAGE_HAS_ON_LOAD, _EVENTS or _SYNTAX, the block to enter.
Harness_Run harness_run_image(const std::vector<u8>& image, u8 entry_flag, Harness_Registers in,
                              const std::function<void(u8* image)>& before_entry = {});
// Loads the image, lets before_entry change it (inputs in global data), then enters the
// block under the signal guard on the image's stack. run.globals is the global area after the
// run; the fault names the code offset.

//~ Foreign calls

// What the recording dispatcher saw of one foreign call.
struct Harness_Foreign_Call {
    u64 id;
    bool aligned;           // RSP was 8 (mod 16) at its entry: the call came from an aligned stack
    std::vector<u8> block;  // the parameter block's first octets
};

extern "C" void harness_dispatcher(u8* block, u64 id);
// Where foreign-call slots point: records the call, then spoils every register the
// platform lets a callee change (RAX, RCX, RDX, RSI, RDI, R8 to R11, every YMM register).

void harness_record_foreign_calls(u32 block_size, u32 result_offset = ~0u);
// Forgets the calls recorded so far. Each later call records the block's first block_size
// octets, then, unless result_offset is ~0u, writes id * 1000 + its number (from 1) as a
// u64 at result_offset in the block, as a routine writes its results after its arguments.

const std::vector<Harness_Foreign_Call>& harness_foreign_calls();
