// The start-up check of processor_check.h. Built without the instruction sets it checks
// for and without sanitizer instrumentation (it runs before the sanitizers are set up),
// it calls nothing but the kernel.

#include "foundation/processor_check.h"

#include <cpuid.h>

struct Processor_Feature {
    uint32_t bit;
    const char* name;
};

static const Processor_Feature FEATURES[] = {
    {PROCESSOR_SSE3, "SSE3"},     {PROCESSOR_SSSE3, "SSSE3"},   {PROCESSOR_SSE4_1, "SSE4.1"},
    {PROCESSOR_SSE4_2, "SSE4.2"}, {PROCESSOR_POPCNT, "POPCNT"}, {PROCESSOR_AES, "AES"},
};

static void append(char* out, uint64_t capacity, uint64_t* length, const char* text) {
    for (; *text; text++) {
        if (*length + 1 < capacity) out[*length] = *text;
        (*length)++;
    }
    if (capacity) out[*length < capacity ? *length : capacity - 1] = 0;
}

uint64_t processor_refusal(uint32_t highest_leaf, uint32_t cpuid_1_ecx, char* out, uint64_t capacity) {
    if (capacity) out[0] = 0;
    uint32_t missing = highest_leaf >= 1 ? PROCESSOR_NEEDED & ~cpuid_1_ecx : PROCESSOR_NEEDED;
    if (!missing) return 0;
    uint64_t length = 0;
    append(out, capacity, &length, "Quarn cannot run on this processor: it lacks ");
    uint32_t count = 0, total = 0;
    for (const Processor_Feature& f : FEATURES) total += (missing & f.bit) != 0;
    for (const Processor_Feature& f : FEATURES) {
        if (!(missing & f.bit)) continue;
        if (count) append(out, capacity, &length, count + 1 == total ? " and " : ", ");
        append(out, capacity, &length, f.name);
        count++;
    }
    append(out, capacity, &length, ". It needs an x86-64 processor with SSE4.2 and AES instructions.\n");
    return length < capacity ? length : (capacity ? capacity - 1 : 0);
}

static void write_to_standard_error(const char* text, uint64_t count) {
    long result;
    __asm__ volatile("syscall" : "=a"(result) : "a"(1L), "D"(2L), "S"(text), "d"(count) : "rcx", "r11", "memory");
}

[[noreturn]] static void exit_process(int status) {
    __asm__ volatile("syscall" : : "a"(231L), "D"((long)status) : "rcx", "r11", "memory");
    __builtin_unreachable();
}

static void check_processor_at_start(int, char**, char**) {
    uint32_t highest = __get_cpuid_max(0, nullptr);
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (highest >= 1) __cpuid(1, eax, ebx, ecx, edx);
    char message[256];
    uint64_t length = processor_refusal(highest, ecx, message, sizeof(message));
    if (!length) return;
    write_to_standard_error(message, length);
    exit_process(1);
}

// The pre-initialisation functions run before every constructor, the shared libraries'
// included.
__attribute__((section(".preinit_array"), used)) static void (*const processor_check_entry)(int, char**, char**) =
    check_processor_at_start;
