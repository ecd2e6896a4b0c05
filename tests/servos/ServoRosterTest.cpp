// The Servos window's bookkeeping without a window: which servos are read, their rates over the last second,
// the history the plot draws and the data file "Save Data" writes.
#include <gtest/gtest.h>

#include "servos/ServoRoster.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

CPollReading Reading(uint8_t id, Clock::time_point time, int16_t position, bool answered = true) {
    CPollReading reading;
    reading.id = id;
    reading.time = time;
    reading.answered = answered;
    reading.sample.position = position;
    reading.sample.voltage = 74;
    reading.sample.temperature = 31;
    return reading;
}

TEST(ServoRoster, ReadsOnlyTheServosAtThePortsRateAndKeepsWhatWasChosen) {
    CServoRoster roster;
    roster.SetServos({{1, 1000000}, {7, 115200}, {2, 1000000}}, 1000000);
    EXPECT_EQ(roster.PolledIds(), (std::vector<uint8_t>{1, 2}));
    roster.SetChosen(2, false);
    EXPECT_EQ(roster.ChosenIds(), std::vector<uint8_t>{1});
    // The port moves to 115200: servo 7 is read now, and servo 2 stays unchosen.
    roster.SetServos(roster.Servos(), 115200);
    EXPECT_EQ(roster.PolledIds(), std::vector<uint8_t>{7});
    EXPECT_FALSE(roster.Find(2)->chosen);
    EXPECT_EQ(roster.Find(9), nullptr);
}

TEST(ServoRoster, RatesCountTheAnswersOfTheLastSecond) {
    CServoRoster roster;
    roster.SetServos({{1, 1000000}, {2, 1000000}}, 1000000);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 100; ++i) roster.Add(Reading(1, start + i * 20ms, 500));  // 50 a second for 2 s
    for (int i = 0; i < 100; ++i) roster.Add(Reading(2, start + i * 20ms, 500, i < 60));
    const Clock::time_point end = start + 99 * 20ms;
    EXPECT_EQ(roster.RateHz(1, end), 51);  // both ends of the second count
    EXPECT_EQ(roster.RateHz(2, end), 11) << "its answers from 0.98 s until it fell silent at 1.18 s";
    EXPECT_TRUE(roster.Find(2)->silent);
    EXPECT_EQ(roster.AnsweringCount(), 1);
    EXPECT_EQ(roster.MeanRateHz(end), 51) << "a silent servo does not pull the mean down";
    EXPECT_EQ(roster.RateHz(1, end + 2s), 0);
}

TEST(ServoRoster, HistoryAndDataKeepTheReadingsInOrder) {
    CServoRoster roster;
    roster.SetServos({{3, 1000000}, {1, 1000000}}, 1000000);
    const Clock::time_point start = Clock::now();
    roster.Add(Reading(3, start, 100));
    roster.Add(Reading(1, start + 5ms, 200));
    roster.Add(Reading(3, start + 40s, 300));
    roster.Add(Reading(9, start + 41s, 300));  // from a list that has changed since
    ASSERT_EQ(roster.History(3).size(), 1u) << "older than the history's 30 s";
    EXPECT_EQ(roster.History(3).front().sample.position, 300);
    EXPECT_EQ(roster.History(9).size(), 0u);
    EXPECT_EQ(roster.DataCsv(),
              "time_ms,id,position,speed,load,voltage,temperature,alarms\n"
              "0,3,100,0,0,7.4,31,\n5,1,200,0,0,7.4,31,\n40000,3,300,0,0,7.4,31,\n");
}

}  // namespace
