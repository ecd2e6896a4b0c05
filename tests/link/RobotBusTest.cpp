// Several servos at once through the real transport and the simulator: the round-robin poll (fair to other
// threads, patient with a silent servo, ended by a lost port), and the group commands that stop a robot.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "link/ControlTable.h"
#include "link/RoundRobinPoller.h"
#include "link/ServoGroup.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class RobotBus : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(link.Open());
        servo.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    }
    void TearDown() override { poller.Stop(); }

    // What the callbacks saw, guarded: they run on the poller's thread.
    struct CSeen {
        std::mutex mx;
        std::vector<CPollReading> readings;
        std::vector<EPollEnd> ends;
    };
    CRoundRobinPoller::CEvents Events() {
        return {[this](const CPollReading& r) {
                    const std::lock_guard<std::mutex> lock(seen.mx);
                    seen.readings.push_back(r);
                },
                [this](EPollEnd end) {
                    const std::lock_guard<std::mutex> lock(seen.mx);
                    seen.ends.push_back(end);
                }};
    }
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
        const auto until = Clock::now() + limit;
        while (!condition()) {
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    // Reads answered per servo over the time, per second.
    std::vector<double> RatesOver(const std::vector<uint8_t>& ids, std::chrono::milliseconds time) {
        std::vector<uint64_t> before;
        for (uint8_t id : ids) before.push_back(poller.Answered(id));
        const auto start = Clock::now();
        std::this_thread::sleep_for(time);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<double> rates;
        for (std::size_t k = 0; k < ids.size(); ++k)
            rates.push_back(static_cast<double>(poller.Answered(ids[k]) - before[k]) / seconds);
        return rates;
    }
    std::vector<Bytes> Heard() { return link.TakeFrames(); }

    CSimulatedLink link{{1, 2, 3}};
    sim::CBusSimulator& bus = link.Sim();
    CServoUsb& servo = link.Usb();
    CRoundRobinPoller poller{servo};
    CSeen seen;
};

TEST_F(RobotBus, ThePollReadsEveryServoInTurnAndLetsOtherThreadsGoFirst) {
    bus.SetRegister(2, Reg::MAX_TEMPERATURE, 20);  // servo 2 reports over-heat in every status
    ASSERT_TRUE(poller.Start({1, 2, 3}, Events(), 0ms));
    ASSERT_TRUE(WaitFor([&] { return poller.Answered(3) >= 20; }));
    {
        const std::lock_guard<std::mutex> lock(seen.mx);
        // After the first visit, which also asks each servo's return delay once, the reads go 1, 2, 3, 1, ...
        for (std::size_t i = 0; i < 9; ++i) {
            EXPECT_EQ(seen.readings[i].id, i % 3 + 1);
            EXPECT_TRUE(seen.readings[i].answered);
            EXPECT_EQ(seen.readings[i].sample.voltage, 74);
            EXPECT_EQ(seen.readings[i].error, i % 3 == 1 ? 0x04 : 0);
        }
    }
    // Another thread's exchange waits for the read on the bus, not for a run of them.
    uint64_t most = 0;
    for (int i = 0; i < 30; ++i) {
        const uint64_t before = poller.Reads();
        ASSERT_EQ(servo.Ping(2), 1);
        most = std::max(most, poller.Reads() - before);
    }
    EXPECT_LE(most, 3u) << "poll reads finished while one ping waited for the bus";
    const uint64_t one = poller.Answered(1), three = poller.Answered(3);
    EXPECT_LE(one > three ? one - three : three - one, 1u) << "the same share for each";
    EXPECT_GT(poller.BusLimitHz(), 0.0);
    EXPECT_GE(poller.AdapterLatencyUs(), 0);
}

// The shortest round keeps a bus without latency from being read flat out: at most one round per 10 ms.
TEST_F(RobotBus, TheShortestRoundBoundsTheRate) {
    ASSERT_TRUE(poller.Start({1, 2}, Events()));
    const std::vector<double> rates = RatesOver({1, 2}, 500ms);
    for (double rate : rates) EXPECT_LE(rate, 100 * 1.05);
    for (double rate : rates) EXPECT_GT(rate, 50.0);
}

TEST_F(RobotBus, ASilentServoIsAskedRarelyAndTheOthersKeepTheirRate) {
    const auto failuresOfTwo = [&] {
        const std::lock_guard<std::mutex> lock(seen.mx);
        return std::count_if(seen.readings.begin(), seen.readings.end(),
                             [](const CPollReading& r) { return r.id == 2 && !r.answered; });
    };
    ASSERT_TRUE(poller.Start({1, 2, 3}, Events(), 0ms));
    ASSERT_TRUE(WaitFor([&] { return poller.Answered(2) >= 20; }));
    const std::vector<double> before = RatesOver({1, 3}, 1000ms);
    bus.RemoveServo(2);
    ASSERT_TRUE(WaitFor([&] { return failuresOfTwo() > 0; }));
    const uint64_t readsOfTwo = poller.Answered(2);
    // The retries spread out to their longest: the fourth failure comes after 250 ms, 500 ms and 1 s.
    ASSERT_TRUE(WaitFor([&] { return failuresOfTwo() >= 4; }, 3000ms));
    const auto settled = failuresOfTwo();
    const std::vector<double> after = RatesOver({1, 3}, 2000ms);
    EXPECT_EQ(poller.Answered(2), readsOfTwo);
    EXPECT_LE(failuresOfTwo() - settled, 2) << "asked once every 2 s at most";
    EXPECT_GE(settled, 3) << "asked again, after 250 ms, 500 ms, 1 s";
    for (std::size_t k = 0; k < 2; ++k) EXPECT_GE(after[k], 0.85 * before[k]) << "servo " << (k ? 3 : 1);
    bus.AddServo(2);
    EXPECT_TRUE(WaitFor([&] { return poller.Answered(2) > readsOfTwo; }, 4000ms)) << "found again";
}

TEST_F(RobotBus, ALostPortEndsThePollOnce) {
    ASSERT_TRUE(poller.Start({1, 2, 3}, Events()));
    ASSERT_TRUE(WaitFor([&] { return poller.Answered(3) > 0; }));
    bus.Unplug();
    ASSERT_TRUE(WaitFor([&] { return !poller.IsRunning(); }, 1000ms)) << "within one timeout";
    poller.Stop();
    const std::lock_guard<std::mutex> lock(seen.mx);
    EXPECT_EQ(seen.ends, std::vector<EPollEnd>{EPollEnd::PortLost});
}

TEST_F(RobotBus, APausedPollLeavesTheBusAlone) {
    ASSERT_TRUE(poller.Start({1, 2, 3}, Events(), 0ms));
    ASSERT_TRUE(WaitFor([&] { return poller.Answered(3) > 0; }));
    poller.Pause();
    ASSERT_TRUE(bus.WaitForQuietLine(1000ms));
    bus.ClearFrames();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(servo.Ping(1), 1);
    for (const Bytes& frame : Heard()) EXPECT_EQ(frame[4], 0x01) << "nothing but the pings";
    const uint64_t reads = poller.Reads();
    poller.Resume();
    EXPECT_TRUE(WaitFor([&] { return poller.Reads() > reads + 10; }));
}

// One broadcast write per rate (the port's first), each with one read that shows it was taken at that rate,
// then the other read-backs, and the port back at its rate.
TEST_F(RobotBus, AllTorqueOffBroadcastsAtEachRateThenReadsEachServoBack) {
    bus.AddServo(7, 4);  // 115200
    for (uint8_t id : {1, 2, 7}) bus.SetRegister(id, Reg::TORQUE_ENABLE, 1);
    bus.ClearFrames();
    const auto readBack =
        AllTorqueOff(servo, {{1, 1000000}, {7, 115200}, {2, 1000000}, {9, 1000000}}, 1000000);
    EXPECT_EQ(readBack, (std::vector<std::optional<bool>>{false, false, false, std::nullopt}));
    const std::vector<sim::CSimFrame> frames = bus.Frames();
    ASSERT_EQ(frames.size(), 6u);
    const Bytes broadcast{0xFF, 0xFF, 0xFE, 0x04, 0x03, 0x1F, 0x00, 0xDB};
    const uint32_t rates[] = {1000000, 1000000, 115200, 115200, 1000000, 1000000};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(frames[i].baud, rates[i]) << "frame " << i;
    EXPECT_EQ(frames[0].bytes, broadcast);
    EXPECT_EQ(frames[1].bytes, (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x1F, 0x01, 0xD8}));
    EXPECT_EQ(frames[2].bytes, broadcast);
    EXPECT_EQ(frames[3].bytes, (Bytes{0xFF, 0xFF, 0x07, 0x04, 0x02, 0x1F, 0x01, 0xD2}));
    EXPECT_EQ(frames[4].bytes[2], 2);
    EXPECT_EQ(frames[5].bytes[2], 9);
    EXPECT_EQ(link.Transport().ConfiguredRate(), 1000000u);
    for (uint8_t id : {1, 2, 7}) EXPECT_EQ(bus.Table(id)[Reg::TORQUE_ENABLE], 0);
}

// How far from its goal a servo that was moving may come to rest when held: its dead band (1) and the error
// its friction keeps against the controller.
constexpr int kHoldSlack = 3;

// Hold: each servo's goal becomes where it is, right after its own reading; torque on never sends a servo to
// an old goal.
TEST_F(RobotBus, HoldingAndTorqueOnLeaveEveryServoWhereItIs) {
    for (uint8_t id : {1, 2}) {
        bus.SetRegister(id, Reg::GOAL_SPEED + 1, 20);
        bus.SetRegister(id, Reg::GOAL_POSITION, 0x03);  // 1000
        bus.SetRegister(id, Reg::GOAL_POSITION + 1, 0xE8);
        bus.SetRegister(id, Reg::TORQUE_ENABLE, 1);
    }
    std::this_thread::sleep_for(100ms);  // on the way up
    bus.ClearFrames();
    EXPECT_EQ(HoldWhereTheyAre(servo, {1, 5, 2}), (std::vector<uint8_t>{1, 2}));
    const std::vector<Bytes> frames = Heard();
    ASSERT_EQ(frames.size(), 5u) << "read and write for each, a read of the silent one";
    for (std::size_t i : {1, 4}) {
        const Bytes& write = frames[i];
        ASSERT_EQ(write[4], 0x03);
        ASSERT_EQ(write[5], Reg::GOAL_POSITION);
        const int goal = write[6] << 8 | write[7];
        EXPECT_GT(goal, 512);
        EXPECT_LT(goal, 1000);
        // A moving shaft brakes and comes back: it rests within the dead band and what friction holds.
        std::this_thread::sleep_for(250ms);
        const auto position = ReadPresentPosition(servo, write[2]);
        ASSERT_TRUE(position.has_value());
        EXPECT_NEAR(*position, goal, kHoldSlack) << "stopped there";
    }

    bus.SetRegister(3, Reg::GOAL_POSITION, 0x00);  // an old goal of 0, far from 512
    bus.SetRegister(3, Reg::GOAL_POSITION + 1, 0x00);
    std::string error;
    ASSERT_TRUE(TorqueOnWhereItIs(servo, 3, &error)) << error;
    EXPECT_EQ(ReadTorque(servo, 3), true);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ReadPresentPosition(servo, 3), 512);
    EXPECT_FALSE(TorqueOnWhereItIs(servo, 9, &error));
    EXPECT_EQ(error, "no present position from ID 9");
}

}  // namespace
