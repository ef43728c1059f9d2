// The start-up refusal of a processor without the instructions the build uses: which
// ones it names, in what words, and a message cut to its buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "foundation/processor_check.h"

TEST(ProcessorCheck, NamesWhatIsMissing) {
    const std::string end = ". It needs an x86-64 processor with SSE4.2 and AES instructions.\n";
    const std::string start = "Quarn cannot run on this processor: it lacks ";
    struct Case {
        const char* name;
        uint32_t highest_leaf, ecx;
        std::string message;  // "" when it may run
    };
    const Case cases[] = {
        {"everything", 0xD, PROCESSOR_NEEDED, ""},
        {"everything and more", 0x20, 0xFFFFFFFFu, ""},
        {"no AES", 0xD, PROCESSOR_NEEDED & ~PROCESSOR_AES, start + "AES" + end},
        {"no SSE4.2 and no POPCNT", 1, PROCESSOR_NEEDED & ~(PROCESSOR_SSE4_2 | PROCESSOR_POPCNT), start + "SSE4.2 and POPCNT" + end},
        {"only SSE3", 1, PROCESSOR_SSE3, start + "SSSE3, SSE4.1, SSE4.2, POPCNT and AES" + end},
        {"no leaf 1: nothing can be known", 0, PROCESSOR_NEEDED, start + "SSE3, SSSE3, SSE4.1, SSE4.2, POPCNT and AES" + end},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[256];
        memset(out, 'x', sizeof(out));
        uint64_t length = processor_refusal(c.highest_leaf, c.ecx, out, sizeof(out));
        EXPECT_EQ(std::string(out), c.message);
        EXPECT_EQ(length, c.message.size());
    }

    // A short buffer takes what fits, NUL-terminated, and nothing past it.
    char small[12];
    memset(small, 'x', sizeof(small));
    EXPECT_EQ(processor_refusal(1, 0, small, 10), 9u);
    EXPECT_EQ(std::string(small), "Quarn can");
    EXPECT_EQ(small[10], 'x');
    EXPECT_EQ(small[11], 'x');
}
