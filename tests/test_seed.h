// The seed a test that draws random cases starts from. Each such test has a fixed seed of
// its own, so the suite never passes or fails by luck. QUARN_TEST_SEED=n runs it from n
// instead, to replay a failure; QUARN_TEST_SEED=any draws a fresh seed, as `make
// test-seeds` does to sweep new cases. The seed is printed and belongs in the failure
// trace: SCOPED_TRACE(test_seed_text(seed)).
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>

inline uint64_t test_seed(uint64_t fixed) {
    const char* given = getenv("QUARN_TEST_SEED");
    uint64_t seed = fixed;
    if (given && strcmp(given, "any") == 0) seed = std::random_device{}();
    else if (given && given[0]) seed = strtoull(given, nullptr, 0);
    printf("seed %llu (QUARN_TEST_SEED=%llu repeats it)\n", (unsigned long long)seed, (unsigned long long)seed);
    fflush(stdout);
    return seed;
}

inline std::string test_seed_text(uint64_t seed) {
    return "seed " + std::to_string(seed) + " (QUARN_TEST_SEED=" + std::to_string(seed) + " repeats it)";
}
