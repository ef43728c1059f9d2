// Loads, stores, bools, constants and copies, executed: each table becomes one program
// whose cases write their own output slots, checked against memcpy, C++ casts and the
// register canaries (only temporaries and destinations may change).
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/compiler/amd64/harness.h"

#define TEMPORARY_GP  0x00CF  // RAX, RCX, RDX, RBX, RSI, RDI
#define TEMPORARY_XMM 0x0003

static Amd64_Memory_Operand gp_operand(u8 n) { return amd64_gp_register(n); }
static Amd64_Memory_Operand xmm_operand(u8 n) { return amd64_xmm_register(n); }
static Amd64_Memory_Operand global(u32 offset) { return amd64_make_rip_relative_operand(AMD64_OPERAND_GLOBAL_DATA, offset); }

static u64 low_mask(u32 size) { return size >= 8 ? ~0ull : (1ull << (8 * size)) - 1; }

static u64 cast_reference(u64 value, u32 from, u32 to, bool is_unsigned) {
    u64 v = value & low_mask(from);
    if (!is_unsigned && from < 8 && ((v >> (8 * from - 1)) & 1)) v |= ~low_mask(from);
    return v & low_mask(to);
}

static void expect_clean(const Harness_Code& c) {
    EXPECT_FALSE(amd64_failed(&c.mask)) << c.mask.failure;
}

//~ Copies

enum Copy_Place { COPY_GLOBAL, COPY_CONSTANT, COPY_STACK, COPY_POINTER, COPY_CALL_DATA };
static const char* const COPY_PLACE_NAMES[] = {"global", "constant", "stack", "pointer", "call data"};

#define COPY_SIZES  101
#define COPY_STRIDE 160
#define COPY_GUARD  16
#define COPY_AREA   (COPY_SIZES * COPY_STRIDE)

struct Region {
    Copy_Place place;
    u8 pointer_register;  // COPY_POINTER: the register holding the region's address
};

static Amd64_Memory_Operand region_operand(Region r, u32 offset) {
    switch (r.place) {
        case COPY_GLOBAL: return global(offset);
        case COPY_CONSTANT: return amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, offset);
        case COPY_STACK: return amd64_make_memory_operand_from(AMD64_RSP, offset);
        case COPY_CALL_DATA: return amd64_make_memory_operand_from(AMD64_RBP, offset);
        case COPY_POINTER: return amd64_make_memory_operand_from(r.pointer_register, offset);
    }
    return {};
}

// Pointer regions lie in the globals, behind the global region.
static std::vector<u8>* region_bytes(Harness_Program* p, Region r, u32* base) {
    *base = 0;
    switch (r.place) {
        case COPY_GLOBAL: return &p->globals;
        case COPY_CONSTANT: return &p->constants;
        case COPY_STACK: return &p->stack;
        case COPY_CALL_DATA: return &p->call_data;
        case COPY_POINTER: *base = COPY_AREA * (r.pointer_register == AMD64_R10 ? 1 : 2); return &p->globals;
    }
    return 0;
}

static const std::vector<u8>* region_result(const Harness_Run& run, Region r) {
    switch (r.place) {
        case COPY_GLOBAL: case COPY_POINTER: return &run.globals;
        case COPY_STACK: return &run.stack;
        case COPY_CALL_DATA: return &run.call_data;
        case COPY_CONSTANT: break;
    }
    return 0;
}

TEST(Moves, CopiesOfEverySizeBetweenPlacesEqualMemcpy) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Pair {
        Region source, destination;
        u16 taken;  // temporaries the surrounding instruction holds
    };
    static const Pair pairs[] = {
        {{COPY_CONSTANT, 0}, {COPY_GLOBAL, 0}, 0},
        {{COPY_GLOBAL, 0}, {COPY_STACK, 0}, 0},
        {{COPY_STACK, 0}, {COPY_POINTER, AMD64_R10}, 0},
        {{COPY_POINTER, AMD64_R11}, {COPY_CALL_DATA, 0}, 0},
        {{COPY_CALL_DATA, 0}, {COPY_POINTER, AMD64_R10}, 0},
        {{COPY_POINTER, AMD64_RBX}, {COPY_GLOBAL, 0}, 1u << AMD64_RBX},  // a base in a taken temporary
    };
    for (const Pair& pair : pairs) {
        std::string name = std::string(COPY_PLACE_NAMES[pair.source.place]) + " to " + COPY_PLACE_NAMES[pair.destination.place];
        SCOPED_TRACE(name);
        Harness_Code c = harness_begin(COPY_AREA);
        for (u32 n = 0; n < COPY_SIZES; n++) {
            u32 at = n * COPY_STRIDE + COPY_GUARD;
            c.mask.gp = pair.taken;
            amd64_copy_data(n, &c.code, &c.data_relocations, &c.mask, region_operand(pair.destination, at),
                            region_operand(pair.source, at));
            expect_clean(c);
            EXPECT_EQ(c.mask.gp, pair.taken) << n << " octets: temporaries left taken";
            EXPECT_EQ(c.mask.xmm, 0) << n;
        }
        Harness_Program p = harness_end(&c);
        p.constants.assign(COPY_AREA, 0);
        p.globals.assign(3 * COPY_AREA, 0);
        p.call_data.assign(COPY_AREA, 0);
        u32 source_base, destination_base;
        std::vector<u8>* source = region_bytes(&p, pair.source, &source_base);
        std::vector<u8>* destination = region_bytes(&p, pair.destination, &destination_base);
        for (u32 i = 0; i < COPY_AREA; i++) (*source)[source_base + i] = (u8)(i * 7 + 1);
        for (u32 i = 0; i < COPY_AREA; i++) (*destination)[destination_base + i] = 0xEE;
        for (u8 r : {AMD64_R10, AMD64_R11, AMD64_RBX}) {
            p.pointers.push_back({HARNESS_REGISTER, r, HARNESS_GLOBALS, COPY_AREA * (r == AMD64_R10 ? 1u : 2u)});
        }

        Harness_Run run = harness_run(p, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP & ~pair.taken, TEMPORARY_XMM), "");
        const std::vector<u8>& after = *region_result(run, pair.destination);
        for (u32 n = 0; n < COPY_SIZES; n++) {
            u32 at = n * COPY_STRIDE;
            std::vector<u8> expected(COPY_STRIDE, 0xEE);
            for (u32 i = 0; i < n; i++) expected[COPY_GUARD + i] = (u8)((at + COPY_GUARD + i) * 7 + 1);
            std::vector<u8> got(after.begin() + destination_base + at, after.begin() + destination_base + at + COPY_STRIDE);
            EXPECT_EQ(got, expected) << n << " octets";
        }
    }
}

// Values pass from globals through registers of both classes and back; the one-octet
// forms meet SIL and DIL, and XMM and general-purpose registers meet each other.
TEST(Moves, CopiesThroughRegistersOfBothClasses) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Chain {
        u32 size;
        std::vector<Amd64_Memory_Operand> registers;
    };
    const Chain chains[] = {
        {1, {gp_operand(AMD64_RSI), gp_operand(AMD64_R9), gp_operand(AMD64_RDI), gp_operand(AMD64_RBX)}},
        {2, {gp_operand(AMD64_R15), gp_operand(AMD64_RSI)}},
        {4, {gp_operand(AMD64_R12), xmm_operand(5), xmm_operand(13), gp_operand(AMD64_RDI), xmm_operand(0)}},
        {8, {xmm_operand(15), gp_operand(AMD64_R13), xmm_operand(2), gp_operand(AMD64_RBX), gp_operand(AMD64_R8)}},
    };
    Harness_Code c = harness_begin(0);
    u16 gp_changed = 0, xmm_changed = 0;
    for (u32 i = 0; i < ARRAY_COUNT(chains); i++) {
        const Chain& chain = chains[i];
        Amd64_Memory_Operand from = global(16 * i);
        for (const Amd64_Memory_Operand& r : chain.registers) {
            amd64_copy_data(chain.size, &c.code, &c.data_relocations, &c.mask, r, from);
            from = r;
            if (r.operand_class == AMD64_OPERAND_GP_REGISTER) gp_changed |= (u16)(1u << r.modrm);
            else xmm_changed |= (u16)(1u << r.modrm);
        }
        amd64_copy_data(chain.size, &c.code, &c.data_relocations, &c.mask, global(64 + 16 * i), from);
        expect_clean(c);
    }
    Harness_Program p = harness_end(&c);
    p.globals.assign(128, 0xEE);
    for (u32 i = 0; i < 64; i++) p.globals[i] = (u8)(0x31 + i);
    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, gp_changed, xmm_changed), "");
    for (u32 i = 0; i < ARRAY_COUNT(chains); i++) {
        SCOPED_TRACE(chains[i].size);
        for (u32 b = 0; b < 16; b++) {
            u8 expected = b < chains[i].size ? (u8)(0x31 + 16 * i + b) : 0xEE;
            EXPECT_EQ(run.globals[64 + 16 * i + b], expected) << "octet " << b;
        }
    }
}

TEST(Moves, UnhandledSizesFail) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    struct Case {
        const char* name;
        u32 size;
        Amd64_Memory_Operand destination, source;
        const char* failure;
    };
    const Case cases[] = {
        {"3 octets into a register", 3, gp_operand(AMD64_R8), global(0), "operand size 3"},
        {"16 octets from a register", 16, global(0), gp_operand(AMD64_R8), "operand size 16"},
        {"2 octets into an XMM register", 2, xmm_operand(3), global(0), "float size 2"},
        {"3 octets from an XMM register", 3, gp_operand(AMD64_R8), xmm_operand(3), "float size 3"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Harness_Code c = harness_begin(0);
        amd64_copy_data(k.size, &c.code, &c.data_relocations, &c.mask, k.destination, k.source);
        EXPECT_STREQ(c.mask.failure, k.failure);
        harness_end(&c);
    }
}

//~ Widening and narrowing

static const u64 VALUES[] = {0, 1, 0x7F, 0x80, 0xFF, 0x8000, 0xFFFF, 0x80000000, 0xFFFFFFFF, 0x8000000000000000ull,
                             0x123456789ABCDEF0ull, 0xFEDCBA9876543210ull};
static const u8 COPY_WIDTHS[] = {1, 2, 4, 8};

struct Cast_Case {
    u8 from, to;
    bool is_unsigned;
    u64 value;
};

static std::vector<Cast_Case> every_cast() {
    std::vector<Cast_Case> cases;
    for (u8 from : COPY_WIDTHS) {
        for (u8 to : COPY_WIDTHS) {
            for (bool is_unsigned : {false, true}) {
                for (u64 v : VALUES) cases.push_back({from, to, is_unsigned, v});
            }
        }
    }
    return cases;
}

// Each case reads its 8-octet input slot, whose octets above the source size are junk,
// and writes its result to its output slot.
static void check_casts(const std::vector<Cast_Case>& cases, Harness_Program p, const char* what) {
    p.globals.assign(cases.size() * 16, 0);
    for (u32 i = 0; i < cases.size(); i++) {
        u64 input = (cases[i].value & low_mask(cases[i].from)) | (0xA5A5A5A5A5A5A5A5ull & ~low_mask(cases[i].from));
        store_u64(&p.globals[16 * i], input);
    }
    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    for (u32 i = 0; i < cases.size(); i++) {
        const Cast_Case& k = cases[i];
        u64 got = load_u64(&run.globals[16 * i + 8]) & low_mask(k.to);
        EXPECT_EQ(got, cast_reference(k.value, k.from, k.to, k.is_unsigned))
            << what << ": " << (k.is_unsigned ? "u" : "s") << 8 * k.from << " 0x" << std::hex << k.value << " to "
            << std::dec << (int)k.to << " octets";
    }
}

TEST(Moves, WideningsAndNarrowingsEqualCasts) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    std::vector<Cast_Case> cases = every_cast();

    struct Form {
        const char* name;
        Amd64_Memory_Operand source;  // a register is first loaded from the input slot whole
        int function;                 // 0 load, 1 ensure in register, 2 copy from register
        Amd64_Memory_Operand destination;
    };
    const Form forms[] = {
        {"load from a global into R12", global(0), 0, gp_operand(AMD64_R12)},
        {"load from the stack into RSI", amd64_make_memory_operand_from(AMD64_RSP, 0), 0, gp_operand(AMD64_RSI)},
        {"ensure: a global", global(0), 1, {}},
        {"ensure: R9 with junk above", gp_operand(AMD64_R9), 1, {}},
        {"ensure: RDI with junk above", gp_operand(AMD64_RDI), 1, {}},
        {"copy from R9 into a global", gp_operand(AMD64_R9), 2, global(8)},
        {"copy from RSI into R13", gp_operand(AMD64_RSI), 2, gp_operand(AMD64_R13)},
        {"copy from R14 into XMM6", gp_operand(AMD64_R14), 2, xmm_operand(6)},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        Harness_Code c = harness_begin(8);
        u32 skipped_xmm = 0;
        for (u32 i = 0; i < cases.size(); i++) {
            const Cast_Case& k = cases[i];
            Amd64_Memory_Operand input = global(16 * i), output = global(16 * i + 8);
            Amd64_Memory_Operand source = f.source;
            if (source.operand_class == AMD64_OPERAND_GP_REGISTER) {
                amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, source, input);
            } else if (source.base == AMD64_RSP) {
                amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, source, input);
            } else {
                source = input;
            }
            if (f.function == 0) {
                EXPECT_TRUE(amd64_load_integer_from_memory(k.from, k.to, k.is_unsigned, f.destination.modrm, &c.code,
                                                           &c.data_relocations, source));
                amd64_copy_data(k.to, &c.code, &c.data_relocations, &c.mask, output, f.destination);
            } else if (f.function == 1) {
                Amd64_Memory_Operand r = amd64_ensure_integer_is_in_register(k.from, k.to, k.is_unsigned, &c.code,
                                                                             &c.data_relocations, source, &c.mask);
                amd64_copy_data(k.to, &c.code, &c.data_relocations, &c.mask, output, r);
            } else {
                Amd64_Memory_Operand destination = f.destination;
                if (destination.operand_class == AMD64_OPERAND_GLOBAL_DATA) destination = output;
                if (destination.operand_class == AMD64_OPERAND_XMM_REGISTER && k.to < 4) {
                    skipped_xmm++;  // XMM registers hold 4 and 8 octets
                    destination = gp_operand(AMD64_R13);
                }
                copy_integer_from_register(k.to, k.from, !k.is_unsigned, &c.code, &c.data_relocations, &c.mask,
                                           destination, source);
                if (destination.operand_class & AMD64_OPERAND_REGISTER) {
                    amd64_copy_data(k.to, &c.code, &c.data_relocations, &c.mask, output, destination);
                }
            }
            expect_clean(c);
            amd64_clear_temporary_mask(&c.mask);
        }
        check_casts(cases, harness_end(&c), f.name);
    }
}

//~ Bools and constants

TEST(Moves, IntegerBoolsAtTheirOwnSize) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    static const u64 values[] = {0, 1, 0x100, ~0ull, 0x80, 0x8000000000000000ull, 0x10000};
    const Amd64_Memory_Operand places[] = {global(0), amd64_make_memory_operand_from(AMD64_RSP, 0), gp_operand(AMD64_R9),
                                           gp_operand(AMD64_RSI)};
    Harness_Code c = harness_begin(8);
    u32 slot = 0;
    for (const Amd64_Memory_Operand& place : places) {
        for (u8 size : COPY_WIDTHS) {
            for (u32 v = 0; v < ARRAY_COUNT(values); v++) {
                Amd64_Memory_Operand input = global(16 * slot), output = global(16 * slot + 8);
                b8 in_global = place.operand_class == AMD64_OPERAND_GLOBAL_DATA;
                Amd64_Memory_Operand m = in_global ? input : place;
                if (!in_global) amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, m, input);
                EXPECT_TRUE(amd64_ensure_int_bool(size, &c.code, &c.data_relocations, m));
                amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, output, m);
                slot++;
            }
        }
    }
    expect_clean(c);
    Harness_Program p = harness_end(&c);
    p.globals.assign(16 * slot, 0);
    slot = 0;
    for (u32 i = 0; i < ARRAY_COUNT(places) * ARRAY_COUNT(COPY_WIDTHS); i++) {
        for (u64 v : values) store_u64(&p.globals[16 * slot++], v);
    }
    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, TEMPORARY_GP | (1u << AMD64_R9), 0), "");
    slot = 0;
    for (u32 place = 0; place < ARRAY_COUNT(places); place++) {
        for (u8 size : COPY_WIDTHS) {
            for (u64 v : values) {
                u64 got = load_u64(&run.globals[16 * slot++ + 8]);
                // A 32-bit operation on a register clears its upper half.
                u64 above = place >= 2 && size == 4 ? 0 : v & ~low_mask(size);
                u64 expected = above | ((v & low_mask(size)) != 0);
                EXPECT_EQ(got, expected) << "place " << place << ", size " << (int)size << ", 0x" << std::hex << v;
            }
        }
    }
}

TEST(Moves, ConstantsIntoRegistersAndMemory) {
    HARNESS_REQUIRE_AVX();
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    static const u64 values[] = {0x80000000, 0xFFFFFFFF80000000ull, 0x8000000000000000ull, 0x7FFFFFFF, ~0ull,
                                 0x123456789ull};
    Harness_Code c = harness_begin(0);
    u32 slot = 0;
    for (u8 size : COPY_WIDTHS) {
        for (u64 v : values) {
            amd64_move_constant_to_memory_contained_in_register(size, v, &c.code, &c.data_relocations, &c.mask,
                                                                amd64_make_memory_operand_from(AMD64_R10, 8 * slot));
            slot++;
        }
    }
    u32 register_slots = slot;
    // Immediates into every register but RSP and RBP, stored whole: the upper octets show
    // which register a one-octet form really wrote.
    for (u8 r = 0; r < 16; r++) {
        if (r == AMD64_RSP || r == AMD64_RBP) continue;
        for (u8 size : COPY_WIDTHS) {
            amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, gp_operand(r), global(8 * slot));
            EXPECT_TRUE(amd64_load_constant_integer_into_register(r, 0x8877665544332211ull, size, &c.code));
            amd64_copy_data(8, &c.code, &c.data_relocations, &c.mask, global(8 * slot), gp_operand(r));
            slot++;
        }
    }
    u32 float_slots = slot;
    static const f64 floats[] = {1.5, -0.0, 1e30, -2.25};
    for (u8 x : {0, 1, 2, 9, 15}) {
        for (u8 size : {4, 8}) {
            for (f64 f : floats) {
                amd64_load_constant_float_into_register(x, size, &c.code, &c.data_relocations, &c.mask, f);
                amd64_copy_data(size, &c.code, &c.data_relocations, &c.mask, global(8 * slot), xmm_operand(x));
                slot++;
            }
        }
    }
    expect_clean(c);
    EXPECT_EQ(c.mask.gp | c.mask.xmm, 0);
    Harness_Program p = harness_end(&c);
    p.globals.assign(8 * slot, 0xEE);
    for (u32 i = register_slots; i < float_slots; i++) store_u64(&p.globals[8 * i], 0xC0C1C2C3C4C5C6C7ull);
    p.pointers = {{HARNESS_REGISTER, AMD64_R10, HARNESS_GLOBALS, 0}};
    Harness_Run run = harness_run(p, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 0xFFCF, 0x8207), "");

    slot = 0;
    for (u8 size : COPY_WIDTHS) {
        for (u64 v : values) {
            EXPECT_EQ(load_u64(&run.globals[8 * slot++]), (0xEEEEEEEEEEEEEEEEull & ~low_mask(size)) | (v & low_mask(size)))
                << "size " << (int)size << ", 0x" << std::hex << v;
        }
    }
    for (u8 r = 0; r < 16; r++) {
        if (r == AMD64_RSP || r == AMD64_RBP) continue;
        for (u8 size : COPY_WIDTHS) {
            u64 kept = size == 4 ? 0 : 0xC0C1C2C3C4C5C6C7ull & ~low_mask(size);  // a 32-bit move clears the rest
            EXPECT_EQ(load_u64(&run.globals[8 * slot++]), kept | (0x8877665544332211ull & low_mask(size)))
                << "register " << (int)r << ", size " << (int)size;
        }
    }
    for (u8 x : {0, 1, 2, 9, 15}) {
        for (u8 size : {4, 8}) {
            for (f64 f : floats) {
                if (size == 4) {
                    f32 single = (f32)f;
                    EXPECT_EQ(memcmp(&run.globals[8 * slot], &single, 4), 0) << "xmm" << (int)x << " " << f;
                } else {
                    EXPECT_EQ(memcmp(&run.globals[8 * slot], &f, 8), 0) << "xmm" << (int)x << " " << f;
                }
                slot++;
            }
        }
    }
}
