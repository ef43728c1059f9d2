// The AMD64 code generator: the instruction encoders and their operand records, the
// temporaries and fix-ups of a translation, the shared moves and copies, and the machine
// code of every bytecode kind. The bytes it emits are the compiled layer's wire format;
// only this editor version reads them back.
#pragma once

#include "compiler/bytecode/bytecode.h"
#include "compiler/core/compiler_core.h"
#include "foundation/types.h"
#include "foundation/memory.h"

//~ Machine registers

// Hardware numbers: 8 to 15 need the REX (or inverted VEX) extension bit.
enum Amd64_Register : u8 {
    AMD64_RAX = 0, AMD64_RCX, AMD64_RDX, AMD64_RBX, AMD64_RSP, AMD64_RBP, AMD64_RSI, AMD64_RDI,
    AMD64_R8, AMD64_R9, AMD64_R10, AMD64_R11, AMD64_R12, AMD64_R13, AMD64_R14, AMD64_R15,
};

#define AMD64_REX      0x40
#define AMD64_REX_W    0x48
// Passed as the REX of a one-octet form: the plain 40 is then emitted only when a register
// operand numbered 4 to 7 needs it, so those name SPL, BPL, SIL and DIL, never AH to BH.
#define AMD64_REX_BYTE_FORM 0x40

// Operand classes, a bit set.
#define AMD64_OPERAND_CONSTANT_DATA 0x01  // RIP-relative, constant data
#define AMD64_OPERAND_TYPE_DATA     0x02  // RIP-relative, type data
#define AMD64_OPERAND_GLOBAL_DATA   0x04  // RIP-relative, global data
#define AMD64_OPERAND_MEMORY        0x08  // through base (and index) registers
#define AMD64_OPERAND_GP_REGISTER   0x10
#define AMD64_OPERAND_XMM_REGISTER  0x20
#define AMD64_OPERAND_RIP_RELATIVE  0x07
#define AMD64_OPERAND_REGISTER      0x30

//~ Operands and data fix-ups (encoder.cpp)

// A machine register, or a memory place with its ModRM and SIB values laid out (reg field
// 0). A plain value, copied between the generator's routines.
struct Amd64_Memory_Operand {
    u8 modrm;          // register operands: the register number
    u8 sib;
    u8 byte_count;     // how many of modrm and sib to emit: 1 or 2
    u8 base;           // 0 for RIP-relative operands
    u8 index;          // meaningful only with sib_flag
    u32 displacement;  // RIP-relative: the offset inside the data area
    u32 sib_flag;      // 1 only when built with an index; [rsp+d] keeps 0 despite its SIB byte
    u8 operand_class;
};

// One per RIP-relative operand: the image writer turns the area offset left in the
// displacement field into a distance from the instruction's end.
struct Amd64_Data_Relocation {
    u32 instruction_start;
    u32 displacement_offset;
    u8 instruction_length;
    u8 area_class;  // 1 constant, 2 type, 4 global data, as the operand class
};
static_assert(sizeof(Amd64_Data_Relocation) == 12);

inline constexpr Amd64_Memory_Operand RAX_INFO = {0, 0, 0, 0, 0, 0, 0, AMD64_OPERAND_GP_REGISTER};
inline constexpr Amd64_Memory_Operand XMM0_INFO = {0, 0, 0, 0, 0, 0, 0, AMD64_OPERAND_XMM_REGISTER};
inline constexpr Amd64_Memory_Operand XMM1_INFO = {1, 0, 0, 0, 0, 0, 0, AMD64_OPERAND_XMM_REGISTER};

inline b8 amd64_is_gp(Amd64_Memory_Operand m) { return (m.operand_class & AMD64_OPERAND_GP_REGISTER) != 0; }
inline b8 amd64_is_xmm(Amd64_Memory_Operand m) { return (m.operand_class & AMD64_OPERAND_XMM_REGISTER) != 0; }

// Whether a 64-bit value is what an imm32 sign-extends to.
inline b8 amd64_fits_imm32(u64 value) { return (s64)value == (s64)(s32)(u32)value; }

inline Amd64_Memory_Operand amd64_gp_register(u8 number) {
    return Amd64_Memory_Operand{number, 0, 0, 0, 0, 0, 0, AMD64_OPERAND_GP_REGISTER};
}
inline Amd64_Memory_Operand amd64_xmm_register(u8 number) {
    return Amd64_Memory_Operand{number, 0, 0, 0, 0, 0, 0, AMD64_OPERAND_XMM_REGISTER};
}

Amd64_Memory_Operand amd64_make_memory_operand_from(u8 base, u32 displacement);
// [base+displacement]; RSP and R12 bases get the SIB byte 24 they need.

Amd64_Memory_Operand amd64_make_non_sib_memory_operand(u8 base, u32 displacement);
// As above without a SIB byte: never for bases whose low bits are 4.

Amd64_Memory_Operand amd64_make_sib_memory_operand(u8 base, u32 displacement);
// The SIB form with no index, for RSP and R12 bases.

Amd64_Memory_Operand amd64_make_full_sib_memory_operand(u8 base, u8 index, u8 scale, u32 displacement);
// [base+index*scale+displacement]; a scale other than 1, 2, 4 or 8 counts as 1. Index 4
// (RSP) cannot be an index: the processor reads it as none.

Amd64_Memory_Operand amd64_make_rip_relative_operand(u8 area_class, u32 offset);
// The place at offset inside constant, type or global data (area class 1, 2 or 4).

Amd64_Memory_Operand amd64_recalculate_memory_operand(Amd64_Memory_Operand operand);
// The operand in its 32-bit-displacement form. Operands with an index, RIP-relative
// operands and registers come back unchanged.

b8 amd64_check_wether_we_need_an_offset(Amd64_Memory_Operand operand, u32 displacement);
// Whether a 32-bit displacement must follow for this total displacement: when it is not
// 0, the operand is RIP-relative, or its base is RBP or R13 (which have no form without).

u8 amd64_prepare_sib(Amd64_Memory_Operand operand, u32 extra_displacement, u8 reg_field, u8* out);
// Writes the operand's ModRM (with the reg field and the mod the displacement needs) and
// SIB values to out; returns the REX bits it needs: X (2) and B (1).

b8 amd64_insert_instruction(const u8* prefixes, u8 prefix_count, u8 rex, const u8* opcodes, u8 opcode_count,
                            u8 reg_field, const Amd64_Memory_Operand* operands, u8 operand_count,
                            u32 extra_displacement, u64 immediate, u8 immediate_size, u8 order,
                            Dynamic_Array* code, Dynamic_Array* data_relocations);
// Appends one legacy-encoded instruction: prefixes, REX (rex ORed with what the operands
// need; 0 for none, AMD64_REX_W, or AMD64_REX_BYTE_FORM), opcodes, ModRM/SIB, a 32-bit
// displacement when one is needed (never an 8-bit one), the immediate (little-endian).
// reg_field is ORed into ModRM as given: an extension /n is passed as n << 3. With a
// memory operand the last register operand goes into ModRM.reg; with registers only,
// order 2 puts the first into ModRM.rm and the second into reg, any other order the
// reverse. A RIP-relative operand appends one Amd64_Data_Relocation. False when the code
// buffer or the fix-up list cannot grow (logged by the allocator).

b8 amd64_insert_extended_instruction(const u8* prefixes, u8 prefix_count, u8 vex_1, u8 vex_2, const u8* opcodes,
                                     u8 opcode_count, u8 reg_field, const Amd64_Memory_Operand* operands,
                                     u8 operand_count, u32 extra_displacement, u8 order, Dynamic_Array* code,
                                     Dynamic_Array* data_relocations);
// The three-octet VEX form (prefix C4): vex_1 holds R, X, B inverted and the opcode map
// (E1 for 0F with no extended register), vex_2 W, vvvv, L and pp, emitted unchanged.
// Registers above 7 clear the matching inverted bit of vex_1. No immediate. False as above.

// Shorthands over amd64_insert_instruction for the common shapes. opcode holds one to three
// octets, the first in the highest used byte (0x0FB6 is 0F B6); prefix is 0 for none.

b8 amd64_emit(Dynamic_Array* code, const u8* bytes, u32 count);
// Fixed machine code, appended as it is. False when the buffer cannot grow.

b8 amd64_emit_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode, u8 reg_field,
                 Amd64_Memory_Operand rm, u32 extra_displacement, u64 immediate, u8 immediate_size);
// One operand in ModRM.rm (a register or memory), reg_field an extension (n << 3).

b8 amd64_emit_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode,
                     Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u32 extra_displacement);
// A register in ModRM.reg, a register or memory operand in ModRM.rm.

b8 amd64_emit_vex_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 vex_1, u8 vex_2, u32 opcode,
                         Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u32 extra_displacement);
// The same in the three-octet VEX form.

b8 amd64_emit_reg_rm_imm8(Dynamic_Array* code, Dynamic_Array* data_relocations, u8 prefix, u8 rex, u32 opcode,
                          Amd64_Memory_Operand reg, Amd64_Memory_Operand rm, u8 immediate);
// The same with an 8-bit immediate after the operand, as the SSE compares take it.

// The form of an integer instruction by operand size: the byte opcode for 1 (REX 40 with
// registers 4 to 7), the prefix 66 for 2, REX.W for 8.
struct Amd64_Integer_Form {
    u8 prefix;
    u8 rex;
    b8 byte;
};

b8 amd64_integer_form(u32 size, Amd64_Integer_Form* form);
// False for sizes other than 1, 2, 4 and 8.

// The immediate an ALU form takes at a size: 1, 2, or 4 (sign-extended for 8).
inline u8 amd64_immediate_size(u32 size) { return size >= 4 ? 4 : (u8)size; }

b8 amd64_emit_sized_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u32 size, u32 opcode_byte, u32 opcode,
                       u8 reg_field, Amd64_Memory_Operand rm, u64 immediate, u8 immediate_size);
b8 amd64_emit_sized_reg_rm(Dynamic_Array* code, Dynamic_Array* data_relocations, u32 size, u32 opcode_byte,
                           u32 opcode, Amd64_Memory_Operand reg, Amd64_Memory_Operand rm);
// An integer instruction at the operand size: opcode_byte for size 1, opcode otherwise.
// False for other sizes, or when the buffers cannot grow.

//~ Processor features (cpu_features.cpp)

// The generated code uses AVX (256-bit saves, copies and zeroing), which needs the
// processor's AVX, and the OS saving YMM state (OSXSAVE set and XCR0 bits 1 and 2).
#define AMD64_LACKS_AVX       0x1
#define AMD64_LACKS_OSXSAVE   0x2
#define AMD64_LACKS_YMM_STATE 0x4

#define AMD64_CPU_FEATURES_MESSAGE "The custom layer cannot run on this processor: it lacks %s."

u8 amd64_missing_cpu_features_from(u32 cpuid_1_ecx, u64 xcr0);
// The AMD64_LACKS_ bits for ECX of CPUID leaf 1 and XCR0 as XGETBV reads it. Without
// OSXSAVE, XCR0 cannot be read and the YMM state counts as missing.

u8 amd64_missing_cpu_features();
// The same for the processor we run on; 0 when compiled code may run.

const char* amd64_missing_cpu_features_text(u8 missing);
// The list for AMD64_CPU_FEATURES_MESSAGE, as "AVX, OSXSAVE and YMM state"; a static text.

//~ Prologue records and jump and call fix-ups (fix_ups.cpp)

#define AMD64_PROLOGUE_RESERVE_STACK 1
#define AMD64_PROLOGUE_SPILL_GP      2
#define AMD64_PROLOGUE_SPILL_XMM     3

struct Amd64_Prologue_Entry {
    u64 code_offset;       // just after the instruction described; the caller writes it
    u8 kind;               // AMD64_PROLOGUE_
    u32 amount_or_offset;  // octets reserved, or the save slot's offset from RSP
    u8 reg;
};

// One per opened frame. Nothing in the image comes from them; they record what a frame's
// prologue did, in emission order.
struct Amd64_Prologue {
    Scope* owner;
    u64 start;
    u64 end;
    Dynamic_Array entries;  // of Amd64_Prologue_Entry
};

// A rel32 written after the whole pass, once every instruction has its code offset.
struct Amd64_Code_Relocation {
    u64 target;             // jumps: the jumping Bytecode_Instruction; calls: the callee Sub_Program
    u32 instruction_start;
    u32 rel32_offset;
    u8 length;              // the rel32's position in the instruction + 4
};

void amd64_start_prologue(Amd64_Prologue* prologue, Scope* owner, u64 start);
// Stores the owner and start with an empty entry list.

void amd64_end_prologue(Amd64_Prologue* prologue, u64 end);
// Stores the end in the record and in the owner's prologue end.

Amd64_Prologue_Entry* amd64_prologue_reserve_stack(Amd64_Prologue* prologue, u32 amount);
Amd64_Prologue_Entry* amd64_prologue_spill_gp(Amd64_Prologue* prologue, u8 reg, u32 offset);
Amd64_Prologue_Entry* amd64_prologue_spill_xmm(Amd64_Prologue* prologue, u8 reg, u32 offset);
// Each appends an entry and returns it for the caller to set its code offset once the
// instruction is appended. Null when the list cannot grow.

void amd64_free_prologues(Dynamic_Array* prologues);
// Releases every record's entry list and the list itself.

b8 add_a_jump_relocation(Dynamic_Array* jumps, const void* target, Dynamic_Array* code, u8 rel32_position);
b8 add_a_call_relocation(Dynamic_Array* calls, const void* target, Dynamic_Array* code, u8 rel32_position);
// Called before the instruction is appended: its start is the code buffer's count. The
// rel32 sits at position 1 after E8 and E9, 2 after 0F 8x, 3 in a REX-prefixed LEA.
// False when the list cannot grow.

b8 amd64_write_code_relocations(Dynamic_Array* code, Dynamic_Array* jumps, Dynamic_Array* calls,
                                Dynamic_Array* bytecode);
// After the last instruction: writes every rel32 as the target instruction's code start
// minus the end of the jumping or calling instruction. A jump target or a callee start
// that is no record of the bytecode is reported as an internal error (the others are
// still written); false then.

//~ Register saves (spills.cpp)

// Flags of amd64_big_spill.
#define AMD64_SPILL_KEEP_RSP       0x1  // the caller reserves and releases the stack
#define AMD64_SPILL_AROUND_A_CALL  0x2
#define AMD64_SPILL_CALLEE_SAVED   0x4  // the registers a callee must keep under the Windows convention
#define AMD64_SPILL_EVERYTHING     0x8

struct Amd64_Spill_Sets {
    u16 gp;
    u16 xmm;
    u32 size;  // 32 per XMM and 8 per general-purpose register, rounded up to 16
};

Amd64_Spill_Sets amd64_spill_sets(u8 flags, u8 target_os, u16 gp, u16 xmm);
// The registers a spill with these flags saves on the target (TARGET_OS_), and their
// area's size: around a call, the registers the target's convention lets a callee change.

b8 amd64_big_spill(b8 save, u8 flags, Dynamic_Array* code, u16 gp, u16 xmm, u16 gp_leave_out, u16 xmm_leave_out,
                   Amd64_Prologue* prologue, u32* amount);
// amd64_big_spill_on for the compile's target OS.

b8 amd64_big_spill_on(u8 target_os, b8 save, u8 flags, Dynamic_Array* code, u16 gp, u16 xmm, u16 gp_leave_out,
                      u16 xmm_leave_out, Amd64_Prologue* prologue, u32* amount);
// Saves (or restores) the spill set: whole YMM registers first, ascending, from [rsp+0],
// then general-purpose registers; restores go in the reverse order from the same slots.
// Unless AMD64_SPILL_KEEP_RSP, it reserves the area first (or releases it last) and
// *amount (may be null) is the area's size, else 0. Registers left out keep their slots
// but are neither saved nor restored. With a prologue, each step appends its entry.
// False when the code or the entry list cannot grow.

//~ Temporary registers (temporaries.cpp)

// The machine registers the current instruction has taken as temporaries, and why it
// cannot be generated when something is wrong. The translation clears it after every
// instruction; it says nothing about what lives across instructions.
struct Amd64_Temporary_Mask {
    u16 gp;   // bit n: general-purpose register n
    u16 xmm;  // bit n: XMM register n
    b8 return_register_allowed;  // the kind may take a result held in RAX or XMM0 as an operand
    char failure[64];  // empty while the instruction can be generated
};

void amd64_fail(Amd64_Temporary_Mask* mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Records why the current instruction cannot be generated, as "operand size 3"; the first
// reason stands.

inline b8 amd64_failed(const Amd64_Temporary_Mask* mask) { return mask->failure[0] != 0; }

// For emitters that return false only when the buffers cannot grow.
inline void amd64_fail_unless(b8 ok, Amd64_Temporary_Mask* mask) {
    if (!ok) amd64_fail(mask, "out of memory");
}

void amd64_clear_temporary_mask(Amd64_Temporary_Mask* mask);

u8 amd64_take_tmp_gp_register(Amd64_Temporary_Mask* mask);
// The first free of RAX, RCX, RDX, RBX, RSI, RDI, now marked. When all six are taken the
// instruction fails ("out of temporary registers") and RAX comes back, so callers may go
// on emitting code that is then thrown away.

u8 amd64_take_tmp_gp_register_backward(Amd64_Temporary_Mask* mask);
// The same in the order RDI, RSI, RBX, RDX, RCX, RAX.

u8 amd64_take_tmp_sse_register(Amd64_Temporary_Mask* mask);
// XMM0, else XMM1; fails as above when both are taken.

void amd64_defer_free_tmp_gp_register(Amd64_Temporary_Mask* mask, u8 reg);
// Clears the register's bit; never RSP or RBP, and only for registers 0 to 7.
void amd64_defer_free_tmp_sse_register(Amd64_Temporary_Mask* mask, u8 reg);
// Clears the bit of XMM0 to XMM7.

//~ Bytecode operands (operands.cpp)

Register* amd64_get_register(Register_Id id);
// The row an id names in the table of its storage; null for an absent operand or an
// index past its table.

u32 amd64_get_register_size(Register_Id id);  // 0 when the id names no row

Amd64_Memory_Operand amd64_get_memory(Register_Id id, Amd64_Temporary_Mask* mask);
// The machine operand of a bytecode operand, through its views: constant, type or global
// data RIP-relative (the displacement is the area offset), a local's stack slot
// [rsp+d] or its machine register, call data [rbp+d]. A register-held local reached with
// a view offset, a chain of more than 64 views or an offset past 2 GiB fail the
// instruction. A call-data value marked as returned in a register is RAX or XMM0, for the
// kinds the mask allows it; elsewhere it fails.

Amd64_Memory_Operand amd64_get_address_operand(Amd64_Memory_Operand pointer, Dynamic_Array* code,
                                               Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask);
// [base], the place an operand holding an address points at: the operand's own register,
// or a temporary loaded from it.

//~ Loads, stores, bools, constants and copies (moves.cpp)
// Sizes are in octets. Routines that take the mask record there why they cannot generate
// the code (an unhandled size, no temporary left, no memory); the others return false.

b8 amd64_load_integer_from_memory(u8 source_size, u8 destination_size, b8 is_unsigned, u8 destination_register,
                                  Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand source);
// Loads the source into the register at the destination size: zero- or sign-extended
// when wider, its low octets when narrower. False for sizes other than 1, 2, 4 and 8.

Amd64_Memory_Operand amd64_ensure_integer_is_in_register(u8 source_size, u8 destination_size, b8 is_unsigned,
                                                         Dynamic_Array* code, Dynamic_Array* data_relocations,
                                                         Amd64_Memory_Operand operand, Amd64_Temporary_Mask* mask);
// A general-purpose register holding the value at the destination size: memory is loaded
// into a temporary (left marked), a register is widened in place. XMM operands come back
// unchanged.

b8 amd64_load_float_from_memory(u8 size, u8 xmm_register, Dynamic_Array* code, Dynamic_Array* data_relocations,
                                Amd64_Memory_Operand source);
// movd / movq: sizes 4 and 8 only.

Amd64_Memory_Operand amd64_ensure_float_is_in_register(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                                                       Amd64_Temporary_Mask* mask, Amd64_Memory_Operand operand);
// An XMM register holding the value: the operand itself, or a marked XMM temporary.

b8 amd64_ensure_int_bool(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand m);
// Makes the value 0 or 1 at its own size. False for sizes other than 1, 2, 4 and 8.

b8 amd64_load_constant_integer_into_register(u8 reg, u64 value, u8 size, Dynamic_Array* code);
// mov reg, imm of the size (the 64-bit form for 8). False for other sizes.

void amd64_load_constant_float_into_register(u8 xmm_register, u8 size, Dynamic_Array* code,
                                             Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask, f64 value);
// The value as a float of the size (4 or 8), through a general-purpose temporary.

void amd64_move_constant_to_memory_contained_in_register(u8 size, u64 value, Dynamic_Array* code,
                                                         Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                                         Amd64_Memory_Operand m);
// Stores the constant at the size; 8-octet values that no imm32 sign-extends to go
// through a temporary.

void copy_integer_from_register(u8 destination_size, u8 source_size, b8 sign_extend, Dynamic_Array* code,
                                Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                Amd64_Memory_Operand destination, Amd64_Memory_Operand source);
// Stores a general-purpose register at the destination size, sign- or zero-extending it
// first when the destination is wider. An XMM destination receives it by movd / movq.

void amd64_copy_data(u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                     Amd64_Memory_Operand destination, Amd64_Memory_Operand source);
// Copies size octets between two operands of any classes. Registers take sizes 1, 2, 4
// and 8 (XMM registers 4 and 8); memory to memory takes any size, fully unrolled.

void amd64_load_address_of_relocation_target(u8 reg, s32 relocation, Dynamic_Array* code,
                                             Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask);
// lea reg, [rip+target] for the constant-data relocation of that index; the fix-up takes
// the class of the target's own area.

void amd64_move_constant_to_memory(Register* destination_register, Register_Id destination, u64 value,
                                   Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask,
                                   s32 relocation, u32 size);
// Stores the constant into the destination at size (0xFFFFFFFF: the register's own). With
// a relocation index (not negative) the value is the address of that relocation's target.
// An XMM destination receives the low size octets as a float's bits.

void amd64_ensure_float_bool(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                             Amd64_Temporary_Mask* mask, Amd64_Memory_Operand m);
// Makes the float 1.0 when it is not 0.0 (NaN included), else 0.0, through XMM0 and XMM1.

//~ Block compares (block_compares.cpp)

void amd64_memcmp_constant(const u8* constant, u32 size, Dynamic_Array* code, Dynamic_Array* data_relocations,
                           Amd64_Temporary_Mask* mask, Amd64_Memory_Operand m);
// Sets ZF exactly when the size octets at m equal the constant's: one compare for 1, 2 or
// 4 octets, else the differences of 4-, 2- and 1-octet groups ORed into a register.

void amd64_memcmp(u8 address_1, u8 address_2, u8 size_register, Dynamic_Array* code, Amd64_Temporary_Mask* mask);
// Sets ZF exactly when the blocks the two registers point at are equal over the size the
// third register holds. Every octet is compared; the three registers are kept.

//~ Integer arithmetic by constants (constant_arithmetic.cpp)

b8 amd64_negate_integer(u8 size, Dynamic_Array* code, Dynamic_Array* data_relocations, Amd64_Memory_Operand m);
// neg m. False for sizes other than 1, 2, 4 and 8.

b8 amd64_shift_by_constant(u8 size, u8 count, b8 is_signed, u64 operator_bit, Dynamic_Array* code,
                           Dynamic_Array* data_relocations, Amd64_Memory_Operand m);
// shl for OP_SHIFT_LEFT, else sar when signed and shr when not; the processor takes the
// count modulo 32 (64 at size 8). False for sizes other than 1, 2, 4 and 8.

b8 amd64_lea_for_multiplication(u8 reg, u8 multiplier, Dynamic_Array* code);
// reg *= 3, 5 or 9 (any other multiplier: 2) in one LEA on the whole register; never RSP.

Amd64_Memory_Operand amd64_multiply_by_constant(b8 work_in_register, u8 size, u64 constant, b8 is_signed,
                                                Dynamic_Array* code, Amd64_Memory_Operand value,
                                                Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask);
// value *= constant at the size, by shifts, LEA steps and additions where they suffice,
// else by the multiply instruction through RAX (which also changes RDX): the caller keeps
// no value in either. Returns the operand holding the product: the value itself, or, when
// work_in_register is set and the value lies in memory, a temporary (memory unchanged).

//~ Translation (translate.cpp, zero_and_copies.cpp, casts.cpp, integer_arithmetic.cpp,
//~ float_arithmetic.cpp, compares.cpp, addresses.cpp, control_flow.cpp)

// One instruction's translation: the driver's arguments, handed to the kinds.
struct Amd64_Translation {
    Bytecode_Instruction* instruction;
    Dynamic_Array* code;
    Dynamic_Array* jumps;              // Amd64_Code_Relocation
    Dynamic_Array* calls;              // Amd64_Code_Relocation
    Dynamic_Array* data_relocations;   // Amd64_Data_Relocation
    Dynamic_Array* foreign_call_slots; // u64 code offsets
    Amd64_Temporary_Mask* mask;
    Dynamic_Array* prologues;          // Amd64_Prologue
};

b8 bytecode_instruction_to_amd64(Bytecode_Instruction* instruction, Dynamic_Array* code, Dynamic_Array* jumps,
                                 Dynamic_Array* calls, Dynamic_Array* data_relocations,
                                 Dynamic_Array* foreign_call_slots, Amd64_Temporary_Mask* mask,
                                 Dynamic_Array* prologues);
// Writes the instruction's code start and appends its machine code and fix-ups. False
// after reporting "Internal compiler error: cannot generate machine code for '%s' (%s)."
// at the instruction's line when its kind, a size or an operand cannot be generated; the
// compile then fails. The mask is clear on return.

void amd64_report_internal_error(Bytecode_Instruction* instruction, const char* reason);

// What a whole translation makes: the code, its fix-ups, the foreign-call slots and the
// prologue records.
struct Amd64_Output {
    Dynamic_Array code;                // u8
    Dynamic_Array jumps;               // Amd64_Code_Relocation
    Dynamic_Array calls;               // Amd64_Code_Relocation
    Dynamic_Array data_relocations;    // Amd64_Data_Relocation
    Dynamic_Array foreign_call_slots;  // u64 code offsets of the dispatcher's address
    Dynamic_Array prologues;           // Amd64_Prologue
};

b8 amd64_translate_bytecode(Dynamic_Array* bytecode, Amd64_Output* output);
// Sets up the output's lists, translates every instruction of the bytecode array in order,
// storing each one's code end, and writes the jump and call displacements. False after
// the internal errors are reported (translation stops at the first instruction that
// fails). The output is to be freed either way; the bytecode must not move meanwhile.

void amd64_free_output(Amd64_Output* output);

Amd64_Memory_Operand amd64_get_destination(Amd64_Translation* t, Register_Id destination, b8 through_address);
// The operand of A, or the place A points at.

// A frame's stack reservation: the scope's stack size, padded above everything the frame
// holds so that RSP is 8 (mod 16) inside the body, with its register saves at the bottom.
struct Amd64_Frame {
    u32 reservation;
    u32 saves;        // octets of register saves from [rsp+0]
    u8 spill_flags;   // of amd64_big_spill: AMD64_SPILL_KEEP_RSP, and for an entry block AMD64_SPILL_EVERYTHING
};

b8 amd64_frame_of(Scope* scope, Amd64_Frame* frame, Amd64_Temporary_Mask* mask);
// False, with the reason in the mask, when the stack size cannot hold the saves or the
// reservation passes 2 GiB.

void amd64_set_to_zero(Amd64_Translation* t);                // 1
void amd64_copy_constant_number(Amd64_Translation* t);       // 2, 3
void amd64_copy(Amd64_Translation* t);                       // 4 to 7
void amd64_copy_sub_program_address(Amd64_Translation* t);   // 8
void amd64_cast_int_to_float(Amd64_Translation* t);          // 9
void amd64_cast_float_to_int(Amd64_Translation* t);          // 10
void amd64_cast_to_bool(Amd64_Translation* t);               // 11, 12
void amd64_cast_int_to_small_int(Amd64_Translation* t);      // 13
void amd64_cast_int_to_big_int(Amd64_Translation* t);        // 14
void amd64_cast_float_to_float(Amd64_Translation* t);        // 15, 16
void amd64_make_bool(Amd64_Translation* t);                  // 17, 18
void amd64_int_arithmetic_constant(Amd64_Translation* t);    // 19
void amd64_int_arithmetic(Amd64_Translation* t);             // 20
void amd64_float_arithmetic_constant(Amd64_Translation* t);  // 21
void amd64_float_arithmetic(Amd64_Translation* t);           // 22
void amd64_compare(Amd64_Translation* t);                    // 28
void amd64_compare_to_constant(Amd64_Translation* t);        // 29
void amd64_compare_to_zero(Amd64_Translation* t);            // 30
void amd64_compare_block_to_constant(Amd64_Translation* t);  // 32
void amd64_compare_blocks(Amd64_Translation* t);             // 33
void amd64_test_flags(Amd64_Translation* t);                 // 34, 35
void amd64_float_compare(Amd64_Translation* t);              // 36, 37, 38
void amd64_store_compare_result(Amd64_Translation* t);       // 40
void amd64_take_address(Amd64_Translation* t);               // 23 (addresses.cpp)
void amd64_element_by_register(Amd64_Translation* t);        // 24, 26
void amd64_element_by_constant(Amd64_Translation* t);        // 25, 27
void amd64_jump(Amd64_Translation* t);                       // 41 to 49 (control_flow.cpp)
void amd64_debug_break(Amd64_Translation* t);                // 50
void amd64_embed_machine_code(Amd64_Translation* t);         // 51
void amd64_push_stack_frame(Amd64_Translation* t);           // 52
void amd64_pop_stack_frame(Amd64_Translation* t);            // 53
void amd64_copy_arguments_address(Amd64_Translation* t);     // 54
void amd64_call(Amd64_Translation* t);                       // 55, 56
void amd64_foreign_call(Amd64_Translation* t);               // 57
void amd64_return(Amd64_Translation* t);                     // 58

// How a float compare's unordered outcome (a NaN) enters a stored condition.
#define AMD64_PARITY_IGNORED  0
#define AMD64_OR_PARITY       1  // a NaN makes it true: "!="
#define AMD64_AND_NOT_PARITY  2  // a NaN makes it false: "<", "<=", "=="

void amd64_store_condition(u8 condition, u8 parity, u32 size, Amd64_Memory_Operand destination, Dynamic_Array* code,
                           Dynamic_Array* data_relocations, Amd64_Temporary_Mask* mask);
// Writes 1 when the flags meet the condition (the low octet of the SETcc opcode, 0x94 for
// "equal"), else 0, into the destination at its size (1, 2, 4 or 8). Nothing before the
// SETcc changes the flags, so they may come from an earlier instruction.
