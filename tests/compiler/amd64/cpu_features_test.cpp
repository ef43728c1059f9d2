#include <gtest/gtest.h>

#include "compiler/amd64/amd64.h"

TEST(CpuFeatures, NamesWhatTheProcessorAndTheOsLack) {
    const u32 avx = 1u << 28, osxsave = 1u << 27;
    struct Case {
        const char* name;
        u32 ecx;
        u64 xcr0;
        u8 missing;
        const char* text;
    };
    static const Case cases[] = {
        {"everything", avx | osxsave, 0x7, 0, ""},
        {"everything, with more state enabled", avx | osxsave | 1, 0xE7, 0, ""},
        {"no AVX", osxsave, 0x7, AMD64_LACKS_AVX, "AVX"},
        {"YMM state not enabled", avx | osxsave, 0x3, AMD64_LACKS_YMM_STATE, "YMM state"},
        {"SSE state not enabled", avx | osxsave, 0x5, AMD64_LACKS_YMM_STATE, "YMM state"},
        {"no OSXSAVE: XCR0 cannot be read", avx, 0x7, AMD64_LACKS_OSXSAVE | AMD64_LACKS_YMM_STATE,
         "OSXSAVE and YMM state"},
        {"nothing", 0, 0, AMD64_LACKS_AVX | AMD64_LACKS_OSXSAVE | AMD64_LACKS_YMM_STATE, "AVX, OSXSAVE and YMM state"},
        {"AVX and YMM state", osxsave, 0x1, AMD64_LACKS_AVX | AMD64_LACKS_YMM_STATE, "AVX and YMM state"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        u8 missing = amd64_missing_cpu_features_from(c.ecx, c.xcr0);
        EXPECT_EQ(missing, c.missing);
        EXPECT_STREQ(amd64_missing_cpu_features_text(missing), c.text);
    }
}
