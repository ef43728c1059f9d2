#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "foundation/types.h"

TEST(Types, AlignUp) {
    struct Case { u64 value, alignment, expected; };
    static const Case cases[] = {{0, 64, 0}, {1, 64, 64}, {64, 64, 64}, {65, 64, 128}, {42500970, 64, 42500992}};
    for (const Case& c : cases) EXPECT_EQ(align_up(c.value, c.alignment), c.expected) << c.value;
}

TEST(TypesThreads, SpinLockGuardsACounter) {
    u8 lock = 0;
    u64 counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                spin_lock(&lock);
                counter++;
                spin_unlock(&lock);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000u);
    EXPECT_EQ(lock, 0);
}
