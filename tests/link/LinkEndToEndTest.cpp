// The whole link through the serial transport against the simulated bus: instructions, status rules,
// timing, rates, unplugging and two threads sharing one link.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "link/ControlTable.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class LinkE2E : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(link.Open());
    }

    uint8_t Register(uint8_t id, uint8_t address) { return bus.Table(id).at(address); }
    // The frames the simulator heard since the last call.
    std::vector<Bytes> Heard() { return link.TakeFrames(); }

    CSimulatedLink link{{1, 2, 3}};
    sim::CBusSimulator& bus = link.Sim();
    CBrennixUsb& usb = link.Transport();
    CServoUsb& servo = link.Usb();
};

TEST_F(LinkE2E, PingFindsPresentServosOnly) {
    uint8_t who = 0;
    EXPECT_EQ(servo.Ping(2, &who), 1);
    EXPECT_EQ(who, 2);
    EXPECT_EQ(servo.Ping(7), 0);
    EXPECT_EQ(Heard().front(), (Bytes{0xFF, 0xFF, 0x02, 0x02, 0x01, 0xFA}));
    EXPECT_EQ(servo.Ping(0xFE, &who), 0) << "three servos answer at once: their statuses collide";
    bus.RemoveServo(1);
    bus.RemoveServo(3);
    EXPECT_EQ(servo.Ping(0xFE, &who), 1);
    EXPECT_EQ(who, 2);
}

TEST_F(LinkE2E, ReadParameterSpanCarriesDefaultsHighByteFirst) {
    uint8_t span[Reg::PARAM_SPAN_LENGTH] = {};
    ASSERT_EQ(servo.ReadData(1, Reg::PARAM_SPAN_START, Reg::PARAM_SPAN_LENGTH, span), 26);
    EXPECT_EQ(Heard().front(), (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x05, 0x1A, 0xD9}));
    EXPECT_EQ(span[Reg::ID - 5], 1);
    EXPECT_EQ(span[Reg::RETURN_LEVEL - 5], 2);
    EXPECT_EQ(span[Reg::MAX_TORQUE - 5], 0x03);
    EXPECT_EQ(span[Reg::MAX_TORQUE - 5 + 1], 0xFF);
    uint8_t version[2] = {};
    ASSERT_EQ(servo.ReadData(3, Reg::FIRMWARE_VERSION, 2, version), 2);
    EXPECT_EQ(version[0], 0x03);
    EXPECT_EQ(version[1], 0x08);
}

TEST_F(LinkE2E, LockGuardsStoredParametersOnly) {
    const uint8_t delay = 9;
    EXPECT_EQ(servo.WriteData(1, Reg::RETURN_DELAY, 1, &delay, 2), 1);  // acknowledged but not stored
    EXPECT_EQ(Register(1, Reg::RETURN_DELAY), 0);
    const uint8_t unlock = 0;
    EXPECT_EQ(servo.WriteData(1, Reg::LOCK, 1, &unlock, 2), 1);
    EXPECT_EQ(servo.WriteData(1, Reg::RETURN_DELAY, 1, &delay, 2), 1);
    EXPECT_EQ(Register(1, Reg::RETURN_DELAY), 9);
    const uint8_t torque = 1;
    EXPECT_EQ(servo.WriteData(2, Reg::TORQUE_ENABLE, 1, &torque, 2), 1);
    EXPECT_EQ(Register(2, Reg::TORQUE_ENABLE), 1);
}

TEST_F(LinkE2E, RegWriteWaitsForAction) {
    const uint8_t goal[4] = {0x02, 0xBC, 0x00, 0x32};
    EXPECT_EQ(servo.RegWrite(2, Reg::GOAL_POSITION, 4, goal, 2), 1);
    EXPECT_NE(Register(2, Reg::GOAL_POSITION + 1), 0xBC);
    EXPECT_EQ(servo.Action(), 6);
    ASSERT_TRUE(bus.WaitForFrames(2, std::chrono::milliseconds(500)));
    EXPECT_EQ(Register(2, Reg::GOAL_POSITION), 0x02);
    EXPECT_EQ(Register(2, Reg::GOAL_POSITION + 1), 0xBC);
}

TEST_F(LinkE2E, SyncWriteReachesEveryServoSilently) {
    const uint8_t one = 1;
    EXPECT_EQ(servo.SyncWrite(1, 3, Reg::TORQUE_ENABLE, 1, &one), 14);
    ASSERT_TRUE(bus.WaitForFrames(1, std::chrono::milliseconds(500)));
    for (uint8_t id : {1, 2, 3}) EXPECT_EQ(Register(id, Reg::TORQUE_ENABLE), 1) << int(id);
    EXPECT_EQ(Heard().front(),
              (Bytes{0xFF, 0xFF, 0xFE, 0x0A, 0x83, 0x1F, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x4B}));
}

TEST_F(LinkE2E, ResetRestoresFactoryIdentity) {
    const uint8_t unlock = 0, newId = 9;
    servo.WriteData(3, Reg::LOCK, 1, &unlock, 2);
    EXPECT_EQ(servo.WriteData(3, Reg::ID, 1, &newId, 2), 1);
    EXPECT_EQ(servo.Ping(9), 1);
    EXPECT_EQ(servo.Ping(3), 0);
    EXPECT_EQ(servo.Reset(9), 1);
    EXPECT_EQ(servo.Ping(9), 0);
    EXPECT_EQ(Register(1, Reg::ID), 1);
}

TEST_F(LinkE2E, ReturnLevelsSilenceWhatTheyShould) {
    const uint8_t level1 = 1, level0 = 0, delay = 3, unlock = 0;
    servo.WriteData(2, Reg::LOCK, 1, &unlock, 2);
    EXPECT_EQ(servo.WriteData(2, Reg::RETURN_LEVEL, 1, &level1, 2), 1);  // answered at the old level
    uint8_t byte;
    EXPECT_EQ(servo.Ping(2), 1);
    EXPECT_EQ(servo.ReadData(2, Reg::ID, 1, &byte), 1);
    EXPECT_EQ(servo.WriteData(2, Reg::RETURN_DELAY, 1, &delay, 2), 0);  // a status was awaited, none came
    EXPECT_EQ(servo.WriteData(2, Reg::RETURN_LEVEL, 1, &level0, 1), 1);
    ASSERT_TRUE(bus.WaitForFrames(6, std::chrono::milliseconds(500))) << "the servo has gone silent";
    EXPECT_EQ(servo.Ping(2), 1);
    EXPECT_EQ(servo.ReadData(2, Reg::ID, 1, &byte), -1);
    EXPECT_EQ(servo.Reset(2), 0);  // reset waits whatever the level
}

TEST_F(LinkE2E, BroadcastWritesAreNeverAnswered) {
    const uint8_t torque = 1;
    EXPECT_EQ(servo.WriteData(0xFE, Reg::TORQUE_ENABLE, 1, &torque, 2), 1);
    uint8_t buffer[6];
    EXPECT_EQ(usb.Read(buffer, 6), 0);
}

// A silent ping costs its 50 ms timeout and at most 2 ms more; sanitizer builds add a few ms of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kSilentPingLimitMicros = 75000;
#else
constexpr long kSilentPingLimitMicros = 52000;
#endif

TEST_F(LinkE2E, SilentPingCostsOneTimeout) {
    std::vector<long> micros;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(servo.Ping(100), 0);
        micros.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    EXPECT_GE(micros.front(), 50000);
    EXPECT_LT(micros[2], kSilentPingLimitMicros);
}

TEST_F(LinkE2E, LateReplyIsNotTakenForTheNextStatus) {
    const Bytes ping{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    usb.Write(ping.data(), 6);  // its status arrives while nobody reads
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint8_t id = 0;
    EXPECT_EQ(servo.ReadData(2, Reg::ID, 1, &id), 1);
    EXPECT_EQ(id, 2);
}

TEST_F(LinkE2E, ServoHearsOnlyItsOwnRate) {
    usb.Configure(500000);
    EXPECT_EQ(servo.Ping(1), 0);
    usb.Configure(1000000);
    EXPECT_EQ(servo.Ping(1), 1);
}

// A servo may answer a rate change at the rate it had, or at the new one, which a host still at the old
// rate cannot read; either way it listens at the new rate from then on.
TEST(LinkE2ERate, BaudChangeTakesEffectAfterItsStatus) {
    SKIP_UNLESS_LINE_RATE(1000000);
    for (const auto reply : {sim::EChangeReply::Old, sim::EChangeReply::New}) {
        SCOPED_TRACE(reply == sim::EChangeReply::Old ? "answered at the old rate" : "at the new rate");
        sim::CSimServoSpec changing = sim::DefaultServo(1);
        changing.changeReply = reply;
        CSimulatedLink link({changing, sim::DefaultServo(2)}, {});
        ASSERT_TRUE(link.Open());
        CServoUsb& servo = link.Usb();
        const uint8_t unlock = 0, code115200 = 4;
        servo.WriteData(1, Reg::LOCK, 1, &unlock, 2);
        EXPECT_EQ(servo.WriteData(1, Reg::BAUD_RATE, 1, &code115200, 2), reply == sim::EChangeReply::Old);
        ASSERT_TRUE(link.Sim().WaitForQuietLine(std::chrono::seconds(1)));
        EXPECT_EQ(servo.Ping(1), 0);
        link.Transport().Configure(115200);
        EXPECT_EQ(servo.Ping(1), 1);
        EXPECT_EQ(servo.Ping(2), 0);
    }
}

TEST_F(LinkE2E, UnplugMidExchangeFailsPromptly) {
    std::atomic<int> lost{0};
    usb.SetPortLostHandler([&] { ++lost; });
    usb.SetTimeoutMs(1000);
    usb.Configure(1000000);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bus.Unplug();
    });
    const auto start = Clock::now();
    EXPECT_EQ(servo.Ping(100), 0);
    unplug.join();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(servo.Ping(1), 0);
    EXPECT_TRUE(usb.IsPortLost());
    EXPECT_EQ(lost, 1);
}

TEST_F(LinkE2E, TwoThreadsNeverInterleaveFrames) {
    constexpr int rounds = 150;
    std::atomic<int> wrongAnswers{0};
    std::thread pinger([&] {
        for (int i = 0; i < rounds; ++i) {
            uint8_t who = 0;
            if (!servo.Ping(1, &who) || who != 1) ++wrongAnswers;
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < rounds; ++i) {
            uint8_t id = 0;
            if (servo.ReadData(3, Reg::ID, 1, &id) != 1 || id != 3) ++wrongAnswers;
        }
    });
    pinger.join();
    reader.join();
    EXPECT_EQ(wrongAnswers, 0);
    // Interleaved bytes would have left the simulator fewer well-formed frames than were sent.
    EXPECT_EQ(Heard().size(), 2u * rounds);
}
