// The poll's recording: bounded, in order, consistent while the poll appends, and its CSV text.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "debug/CurveRecording.h"

namespace {

using namespace std::chrono_literals;
using Clock = CCurveRecording::Clock;

CStatusSample Reading(int i) {
    return {static_cast<int16_t>(i), static_cast<int16_t>(-i), 0, 74, 31};
}

}  // namespace

TEST(CurveRecording, KeepsTheNewestReadingsUpToItsCapacityWithTimesSinceTheStart) {
    CCurveRecording recording(10, 4);
    const Clock::time_point start = Clock::now();
    recording.Restart(start);
    for (int i = 0; i < 25; ++i) recording.Append(start + i * 10ms, Reading(i));
    const auto samples = recording.Snapshot();
    ASSERT_EQ(samples.size(), recording.Size());
    EXPECT_LE(samples.size(), 10u);
    EXPECT_GE(samples.size(), 7u) << "only whole blocks go";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int expected = 25 - static_cast<int>(samples.size()) + static_cast<int>(i);
        EXPECT_EQ(samples[i].sample.position, expected);
        EXPECT_EQ(samples[i].timeMs, expected * 10);
    }

    recording.Restart(start + 1s);
    EXPECT_EQ(recording.Size(), 0u);
    recording.Append(start + 1s + 5ms, Reading(1));
    EXPECT_EQ(recording.Snapshot().at(0).timeMs, 5);
    EXPECT_EQ(kMaxRecordedSamples, 360000u) << "an hour at the 10 ms cycle";
}

TEST(CurveRecording, ASnapshotTakenWhileThePollAppendsIsAGaplessPrefix) {
    CCurveRecording recording(100000, 64);
    const Clock::time_point start = Clock::now();
    recording.Restart(start);
    std::atomic<bool> done{false};
    std::thread poll([&] {
        for (int i = 0; i < 20000; ++i) recording.Append(start + i * 1ms, Reading(i));
        done = true;
    });
    int snapshots = 0;
    while (!done || snapshots == 0) {
        const auto samples = recording.Snapshot();
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(samples[i].sample.position, static_cast<int16_t>(i)) << "snapshot " << snapshots;
        ++snapshots;
    }
    poll.join();
    EXPECT_EQ(recording.Snapshot().size(), 20000u);
}

TEST(CurveRecording, CsvHasTheHeaderAndOneLinePerReading) {
    EXPECT_EQ(CurveCsv({}), "time_ms,position,speed,load,voltage,temperature\n");
    EXPECT_EQ(CurveCsv({{0, {512, 0, 0, 74, 31}}, {10, {530, 100, -25, 73, 31}}}),
              "time_ms,position,speed,load,voltage,temperature\n0,512,0,0,7.4,31\n10,530,100,-25,7.3,31\n");
}
