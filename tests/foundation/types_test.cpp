#include <gtest/gtest.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "foundation/types.h"
#include "tests/waiting.h"

TEST(Types, AlignUp) {
    struct Case { u64 value, alignment, expected; };
    static const Case cases[] = {{0, 64, 0}, {1, 64, 64}, {64, 64, 64}, {65, 64, 128}, {42500970, 64, 42500992}};
    for (const Case& c : cases) EXPECT_EQ(align_up(c.value, c.alignment), c.expected) << c.value;
}

// Some holds last a millisecond, so that waiters also come through the sleeping part of the wait.
TEST(TypesThreads, SpinLockGuardsACounter) {
    u8 lock = 0;
    u64 counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; i++) {
                spin_lock(&lock);
                u64 seen = counter;
                if (i % 1000 == t) {
                    timespec long_hold = {0, 1000000};
                    nanosleep(&long_hold, nullptr);
                }
                counter = seen + 1;
                spin_unlock(&lock);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000u);
    EXPECT_EQ(lock, 0);
}

namespace {

// The state letter of one of this process's threads: 'R' running or ready to run, 'S' asleep.
char thread_state(pid_t tid) {
    std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return 0;
    char line[512] = {};
    size_t n = fread(line, 1, sizeof(line) - 1, f);
    fclose(f);
    line[n] = 0;
    const char* end_of_name = strrchr(line, ')');
    return end_of_name && end_of_name[1] == ' ' ? end_of_name[2] : 0;
}

f64 thread_cpu_seconds(clockid_t clock) {
    timespec t = {};
    clock_gettime(clock, &t);
    return (f64)t.tv_sec + (f64)t.tv_nsec / 1e9;
}

}  // namespace

// A thread behind a long hold (a compile holds the layer's locks for hundreds of
// milliseconds) sleeps: seen asleep, and over a further hold of 300 ms it takes a small
// part of the time on a processor. A spinning waiter is never seen asleep and, on a machine
// that lets it run, takes the whole hold.
TEST(TypesThreads, AWaiterBehindAHeldLockSleeps) {
    u8 lock = 0;
    spin_lock(&lock);
    std::atomic<pid_t> waiter_tid{0};
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
        waiter_tid = (pid_t)syscall(SYS_gettid);
        spin_lock(&lock);
        taken = true;
        spin_unlock(&lock);
    });
    clockid_t waiter_clock;
    ASSERT_EQ(pthread_getcpuclockid(waiter.native_handle(), &waiter_clock), 0);
    ASSERT_TRUE(wait_for_condition([&] { return waiter_tid != 0; }));

    bool slept = wait_for_condition([&] { return thread_state(waiter_tid) == 'S'; }, TEST_DEADLINE_SECONDS, 500);
    f64 cpu_before = thread_cpu_seconds(waiter_clock), wall_before = test_clock_seconds();
    wait_for_condition([&] { return test_clock_seconds() - wall_before >= 0.3; });
    f64 cpu = thread_cpu_seconds(waiter_clock) - cpu_before, wall = test_clock_seconds() - wall_before;
    EXPECT_FALSE(taken) << "taken while held";
    spin_unlock(&lock);
    waiter.join();

    EXPECT_TRUE(slept) << "never seen asleep while it waited";
    EXPECT_LT(cpu, 0.25 * wall) << "the waiter ran " << cpu * 1e3 << " ms of a " << wall * 1e3 << " ms hold";
    EXPECT_TRUE(taken);
    EXPECT_EQ(lock, 0);
}
