// The helpers of arithmetic by constants, executed where the translated kinds do not
// reach: LEA steps on every register, and a product left in a register of its own.
#include <gtest/gtest.h>

#include "tests/compiler/amd64/harness.h"
#include "tests/compiler/amd64/reference.h"

TEST(ConstantArithmetic, LeaStepsMultiplyEveryRegister) {
    HARNESS_REQUIRE_AVX();
    for (u8 multiplier : {2, 3, 5, 9}) {
        SCOPED_TRACE(multiplier);
        Harness_Code c = harness_begin(0);
        for (u8 r = 0; r < 16; r++) {
            if (r == AMD64_RSP) continue;
            ASSERT_TRUE(amd64_lea_for_multiplication(r, multiplier, &c.code));
        }
        Harness_Program p = harness_end(&c);
        Harness_Run run = harness_run(p, harness_canaries(), false);
        ASSERT_FALSE(run.faulted) << run.fault;
        for (u8 r = 0; r < 16; r++) {
            if (r == AMD64_RSP) continue;
            EXPECT_EQ(run.registers.gp[r], run.entered.gp[r] * multiplier) << "register " << (int)r;
        }
    }
}

TEST(ConstantArithmetic, AProductWorkedInARegisterLeavesMemoryAsItWas) {
    HARNESS_REQUIRE_AVX();
    static const u64 CONSTANTS[] = {0, 1, 8, 3, 6, 17, 15, 10, 81, 11, (u64)-3, (u64)-11, (u64)-64};
    static const u64 VALUE = 0x0123456789ABCDEFull;
    for (u8 size : {1, 2, 4, 8}) {
        SCOPED_TRACE((int)size);
        Harness_Code c = harness_begin(16 * ARRAY_COUNT(CONSTANTS));
        for (u32 i = 0; i < ARRAY_COUNT(CONSTANTS); i++) {
            Amd64_Memory_Operand value = amd64_make_memory_operand_from(AMD64_RSP, 16 * i);
            Amd64_Memory_Operand product = amd64_multiply_by_constant(true, size, CONSTANTS[i], true, &c.code, value,
                                                                      &c.data_relocations, &c.mask);
            ASSERT_TRUE(amd64_is_gp(product));
            amd64_copy_data(size, &c.code, &c.data_relocations, &c.mask, amd64_make_memory_operand_from(AMD64_RSP, 16 * i + 8),
                            product);
            ASSERT_FALSE(amd64_failed(&c.mask)) << c.mask.failure;
            amd64_clear_temporary_mask(&c.mask);
        }
        Harness_Program p = harness_end(&c);
        for (u32 i = 0; i < ARRAY_COUNT(CONSTANTS); i++) store_u64(&p.stack[16 * i], VALUE);
        Harness_Run run = harness_run(p, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 0x00CF, 0), "");
        for (u32 i = 0; i < ARRAY_COUNT(CONSTANTS); i++) {
            EXPECT_EQ(load_u64(&run.stack[16 * i]), VALUE) << CONSTANTS[i];
            u64 expected = (VALUE * CONSTANTS[i]) & reference_mask(size);
            EXPECT_EQ(load_u64(&run.stack[16 * i + 8]) & reference_mask(size), expected) << (s64)CONSTANTS[i];
        }
    }
}
