// The poll timer: its drift-free schedule, skipping of overrun deadlines, prompt stop and restart.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "debug/PeriodicTimer.h"

namespace {

using Clock = CPeriodicTimer::Clock;
using namespace std::chrono_literals;

TEST(PeriodicTimerSchedule, DeadlinesStayOnTheGridAndOverrunOnesAreSkipped) {
    const Clock::time_point t0{};
    struct CCase {
        const char* name;
        Clock::duration now;  // when the tick served at 10 ms ended
        Clock::duration next;
        uint64_t skipped;
    };
    const CCase cases[] = {
        {"quick tick", 11ms, 20ms, 0},
        {"late wake-up and tick, still before the next", 19999us, 20ms, 0},
        {"ends right on the next deadline", 20ms, 30ms, 1},
        {"a 50 ms link timeout", 60ms, 70ms, 5},
        {"between two grid points", 64500us, 70ms, 5},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t skipped = 0;
        EXPECT_EQ(NextDeadline(t0 + 10ms, 10ms, t0 + c.now, &skipped), t0 + c.next);
        EXPECT_EQ(skipped, c.skipped);
    }
    // A thousand late wake-ups of 3 ms each add nothing up: the 1000th deadline is exactly 10 s on.
    Clock::time_point deadline = t0;
    for (int i = 0; i < 1000; ++i) deadline = NextDeadline(deadline, 10ms, deadline + 3ms, nullptr);
    EXPECT_EQ(deadline, t0 + 10s);
}

TEST(PeriodicTimer, TicksOnePeriodAfterTheStartRunsOnceAtATimeAndStopsPromptly) {
    CPeriodicTimer timer;
    std::atomic<int> ticks{0};
    const Clock::time_point start = Clock::now();
    std::atomic<int64_t> firstTickUs{-1};
    const int id = timer.Start(30ms, [&] {
        int64_t none = -1;
        firstTickUs.compare_exchange_strong(
            none, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
        ++ticks;
    });
    EXPECT_GT(id, 0);
    EXPECT_TRUE(timer.IsRunning());
    EXPECT_EQ(timer.Start(30ms, [] {}), 0) << "one run at a time";
    CPeriodicTimer refused;
    EXPECT_EQ(refused.Start(0ms, [] {}), 0);
    EXPECT_EQ(refused.Start(-5ms, [] {}), 0);
    EXPECT_EQ(refused.Start(10ms, {}), 0);
    EXPECT_FALSE(refused.IsRunning());
    while (ticks < 3) std::this_thread::sleep_for(1ms);
    EXPECT_GE(firstTickUs.load(), 30000);

    timer.Stop();
    EXPECT_FALSE(timer.IsRunning());
    const int after = ticks;
    std::this_thread::sleep_for(70ms);
    EXPECT_EQ(ticks, after);
    timer.Stop();  // harmless twice

    // A timer waiting for a distant deadline is woken by the stop, not waited out.
    const int second = timer.Start(5s, [&] { ++ticks; });
    EXPECT_GT(second, 0);
    EXPECT_NE(second, id);
    const Clock::time_point stopAt = Clock::now();
    timer.Stop();
    EXPECT_LT(Clock::now() - stopAt, 1s);
    EXPECT_EQ(ticks, after);

    timer.Start(5ms, [&] { ++ticks; });
    while (ticks < after + 2) std::this_thread::sleep_for(1ms);
    timer.Stop();
}

TEST(PeriodicTimer, AnOverrunningTickIsNeverFollowedByACatchUpBurst) {
    CPeriodicTimer timer;
    std::mutex mx;
    std::vector<Clock::time_point> starts;
    timer.Start(10ms, [&] {
        {
            const std::lock_guard<std::mutex> lock(mx);
            starts.push_back(Clock::now());
        }
        std::this_thread::sleep_for(35ms);  // a reply that does not come within the period
    });
    for (;;) {
        std::this_thread::sleep_for(5ms);
        const std::lock_guard<std::mutex> lock(mx);
        if (starts.size() >= 4) break;
    }
    std::size_t startedBeforeStop = 0;
    {
        const std::lock_guard<std::mutex> lock(mx);
        startedBeforeStop = starts.size();
    }
    timer.Stop();
    EXPECT_LE(starts.size(), startedBeforeStop + 1) << "at most the tick in progress is waited for";
    for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], 35ms);
    EXPECT_GE(timer.Skipped(), 3 * (timer.Ticks() - 1));
}

}  // namespace
