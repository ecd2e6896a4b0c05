// The worker type every threaded task runs on: its stop reaches a sleeping job at once, a stop makes the
// run's reports stale while a request alone does not, and a new run waits for the old one to end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/Worker.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Worker, StopWakesASleepingJobAndJoinsIt) {
    CWorker worker;
    std::atomic<bool> slept{false};
    std::atomic<bool> woke{false};
    const unsigned generation = worker.Start([&](std::stop_token token, unsigned) {
        slept = true;
        woke = !SleepUnlessStopped(token, 60s);
    });
    ASSERT_NE(generation, 0u);
    EXPECT_TRUE(worker.IsRunning());
    while (!slept) std::this_thread::yield();
    const Clock::time_point asked = Clock::now();
    worker.Stop();
    EXPECT_LT(Clock::now() - asked, 5s) << "the sleep must end with the stop, not its time";
    EXPECT_TRUE(woke);
    EXPECT_FALSE(worker.IsRunning());
    worker.Stop();  // again, with nothing running
}

TEST(Worker, ARequestKeepsTheRunCurrentAndAStopMakesItStale) {
    CWorker worker;
    std::atomic<unsigned> posted{0};
    worker.Start([&](std::stop_token token, unsigned generation) {
        SleepUnlessStopped(token, 60s);
        posted = generation;  // the run's final report
    });
    worker.RequestStop();
    worker.Join();
    EXPECT_TRUE(worker.IsCurrent(posted)) << "a job asked to stop still ends the run with its own report";

    const unsigned second =
        worker.Start([](std::stop_token token, unsigned) { SleepUnlessStopped(token, 60s); });
    EXPECT_NE(second, posted.load());
    EXPECT_FALSE(worker.IsCurrent(posted)) << "a new run makes the old one's reports stale";
    worker.Stop();
    EXPECT_FALSE(worker.IsCurrent(second)) << "what a stopped run posted is dropped";
}

TEST(Worker, SleepRunsItsTimeWithoutAStop) {
    std::stop_source source;
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(SleepUnlessStopped(source.get_token(), 20ms));
    EXPECT_GE(Clock::now() - start, 20ms);
    source.request_stop();
    EXPECT_FALSE(SleepUnlessStopped(source.get_token(), 60s));
}

}  // namespace
