// Whether the processor and the OS let compiled code run: the runtime asks once at
// start-up and runs no compiled code when anything is missing.
#include <cpuid.h>

#include "compiler/amd64/amd64.h"

#define CPUID_1_ECX_OSXSAVE (1u << 27)
#define CPUID_1_ECX_AVX     (1u << 28)
#define XCR0_SSE_AND_YMM    0x6ull

u8 amd64_missing_cpu_features_from(u32 cpuid_1_ecx, u64 xcr0) {
    u8 missing = 0;
    if (!(cpuid_1_ecx & CPUID_1_ECX_AVX)) missing |= AMD64_LACKS_AVX;
    if (!(cpuid_1_ecx & CPUID_1_ECX_OSXSAVE)) missing |= AMD64_LACKS_OSXSAVE | AMD64_LACKS_YMM_STATE;
    else if ((xcr0 & XCR0_SSE_AND_YMM) != XCR0_SSE_AND_YMM) missing |= AMD64_LACKS_YMM_STATE;
    return missing;
}

u8 amd64_missing_cpu_features() {
    u32 eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return AMD64_LACKS_AVX | AMD64_LACKS_OSXSAVE | AMD64_LACKS_YMM_STATE;
    u64 xcr0 = 0;
    // XGETBV faults unless the OS has set OSXSAVE.
    if (ecx & CPUID_1_ECX_OSXSAVE) {
        u32 low, high;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        xcr0 = ((u64)high << 32) | low;
    }
    return amd64_missing_cpu_features_from(ecx, xcr0);
}

const char* amd64_missing_cpu_features_text(u8 missing) {
    static const char* const texts[8] = {
        "",
        "AVX",
        "OSXSAVE",
        "AVX and OSXSAVE",
        "YMM state",
        "AVX and YMM state",
        "OSXSAVE and YMM state",
        "AVX, OSXSAVE and YMM state",
    };
    return texts[missing & 7];
}
