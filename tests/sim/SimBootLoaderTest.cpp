// The simulated boot loader as a host sees it: the hand-off frame, then raw bytes at 500000 baud.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "link/BootLoader.h"
#include "sim/BusSimulator.h"
#include "tests/sim/PtyClient.h"
#include "tests/support/LineRateProbe.h"

namespace {

using namespace simtest;
using namespace std::chrono_literals;

constexpr uint8_t BOOT_MORE_FOLLOW = 6, BOOT_LAST_BLOCK = 4;

// A block frame built here with a CRC of its own, independent of the host's and the simulator's code.
Bytes BlockFrame(int number, const Bytes& data, uint8_t endFlag, uint8_t kind = 1) {
    Bytes frame{static_cast<uint8_t>(number), static_cast<uint8_t>(~number), kind};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.resize(67, 0xFF);
    unsigned crc = 0;
    for (int i = 0; i < 64; ++i) {
        crc ^= frame[i] << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1) & 0xFFFF;
    }
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(endFlag);
    return frame;
}

Bytes BlockData(int number) {
    Bytes data(64);
    for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(number * 7 + i);
    return data;
}

class SimBootLoader : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_sim.Start());
        m_client = std::make_unique<CPtyClient>(m_sim.SlavePath(), 1000000);
        ASSERT_TRUE(m_client->IsOpen());
    }

    // The hand-off at the servos' rate, then the boot rate once the simulator has taken the frame in.
    void HandOff(uint8_t id = 1) {
        const std::size_t before = m_sim.Frames().size();
        ASSERT_TRUE(m_client->Send(Request(id, HAND_OFF)));
        ASSERT_TRUE(m_sim.WaitForFrames(before + 1, 1s));
        ASSERT_TRUE(m_client->SetBaud(BOOT_BAUD));
    }

    Bytes Raw(const Bytes& bytes, std::chrono::milliseconds timeout = 1000ms) {
        EXPECT_TRUE(m_client->Send(bytes));
        return m_client->Receive(1, timeout);
    }

    void Handshake() {
        EXPECT_EQ(Raw(Bytes(BOOT_ENTRY_CODE.begin(), BOOT_ENTRY_CODE.end())).size(), 1u);
        EXPECT_EQ(Raw({BOOT_START}).size(), 1u);
    }

    bool Pings(uint8_t id) {
        return m_client->Send(Request(id, PING)) && m_client->Receive(6, 200ms) == Status(id, 0);
    }

    sim::CBusSimulator m_sim{{1, 2}};
    std::unique_ptr<CPtyClient> m_client;
};

}  // namespace

TEST_F(SimBootLoader, StoresTheImageAndRestartsAtItsOwnRate) {
    ASSERT_NO_FATAL_FAILURE(HandOff());
    EXPECT_TRUE(m_sim.BootStatus(1).inBootLoader);
    ASSERT_NO_FATAL_FAILURE(Handshake());
    // The documented first block of a hex image of 0xFF bytes.
    Bytes worked{0x01, 0xFE, 0x00};
    worked.insert(worked.end(), 64, 0xFF);
    worked.insert(worked.end(), {0xAF, 0x9F, 0x06});
    EXPECT_EQ(Raw(worked), Bytes{BOOT_ACK});
    EXPECT_EQ(Raw(BlockFrame(2, BlockData(2), BOOT_MORE_FOLLOW)), Bytes{BOOT_ACK});
    EXPECT_EQ(Raw(BlockFrame(3, BlockData(3), BOOT_LAST_BLOCK)), Bytes{BOOT_ACK});

    const sim::CSimBootStatus status = m_sim.BootStatus(1);
    EXPECT_FALSE(status.inBootLoader);
    EXPECT_EQ(status.blocksAccepted, 3);
    EXPECT_EQ(status.flashes, 1);
    Bytes expected(64, 0xFF);
    for (int n : {2, 3}) {
        const Bytes data = BlockData(n);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(m_sim.Firmware(1), expected);
    EXPECT_TRUE(m_sim.Firmware(2).empty());

    ASSERT_TRUE(m_client->SetBaud(1000000));
    EXPECT_TRUE(Pings(1)) << "back in normal operation at its own rate";
}

TEST_F(SimBootLoader, AServoInItsBootLoaderHearsNoFramesButTheOthersDo) {
    ASSERT_NO_FATAL_FAILURE(HandOff());
    ASSERT_TRUE(m_client->SetBaud(1000000));
    EXPECT_FALSE(Pings(1));
    EXPECT_TRUE(Pings(2));
    // The boot loader hears only the boot rate: an entry code at the servos' rate goes unanswered.
    EXPECT_TRUE(Raw(Bytes(BOOT_ENTRY_CODE.begin(), BOOT_ENTRY_CODE.end()), 100ms).empty());
}

TEST_F(SimBootLoader, RefusesBadFramesAndTakesTheRightOneAfter) {
    ASSERT_NO_FATAL_FAILURE(HandOff());
    ASSERT_NO_FATAL_FAILURE(Handshake());
    Bytes badCrc = BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW);
    badCrc[10] ^= 0x01;
    Bytes badComplement = BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW);
    badComplement[1] = 0x00;
    EXPECT_EQ(Raw(badCrc), Bytes{BOOT_NAK});
    EXPECT_EQ(Raw(badComplement), Bytes{BOOT_NAK});
    EXPECT_EQ(Raw(BlockFrame(2, BlockData(2), BOOT_MORE_FOLLOW)), Bytes{BOOT_NAK}) << "block 1 comes first";
    EXPECT_EQ(Raw(BlockFrame(1, BlockData(1), 5)), Bytes{BOOT_NAK}) << "end flag is 6 or 4";
    // Bytes 64..66 are not under the CRC: a change there still passes, as on the servo.
    Bytes uncovered = BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW);
    uncovered[66] ^= 0xFF;
    EXPECT_EQ(Raw(uncovered), Bytes{BOOT_ACK});
    EXPECT_EQ(m_sim.BootStatus(1).blocksRefused, 4);
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 1);
}

TEST_F(SimBootLoader, FaultHooks) {
    m_sim.SetBootFaults(1, {.nakAtBlock = 2});
    ASSERT_NO_FATAL_FAILURE(HandOff());
    ASSERT_NO_FATAL_FAILURE(Handshake());
    EXPECT_EQ(Raw(BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW)), Bytes{BOOT_ACK});
    EXPECT_EQ(Raw(BlockFrame(2, BlockData(2), BOOT_MORE_FOLLOW)), Bytes{BOOT_NAK});

    // A new session starts with the entry code, wherever the last one stopped.
    m_sim.SetBootFaults(1, {.silentAtBlock = 1});
    ASSERT_NO_FATAL_FAILURE(Handshake());
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 0);
    EXPECT_TRUE(Raw(BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW), 150ms).empty());

    m_sim.SetBootFaults(1, {.ignoreEntry = true});
    EXPECT_TRUE(Raw(Bytes(BOOT_ENTRY_CODE.begin(), BOOT_ENTRY_CODE.end()), 150ms).empty());
    m_sim.SetBootFaults(1, {});
    ASSERT_NO_FATAL_FAILURE(Handshake());
    EXPECT_EQ(Raw(BlockFrame(1, BlockData(1), BOOT_LAST_BLOCK)), Bytes{BOOT_ACK});
    EXPECT_EQ(m_sim.Firmware(1), BlockData(1));
}

TEST_F(SimBootLoader, AQuietLineReturnsTheServoToNormalOperation) {
    m_sim.SetBootIdleTimeout(100ms);
    ASSERT_NO_FATAL_FAILURE(HandOff());
    ASSERT_NO_FATAL_FAILURE(Handshake());
    EXPECT_EQ(Raw(BlockFrame(1, BlockData(1), BOOT_MORE_FOLLOW)), Bytes{BOOT_ACK});
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (m_sim.BootStatus(1).inBootLoader && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(m_sim.BootStatus(1).inBootLoader);
    ASSERT_TRUE(m_client->SetBaud(1000000));
    EXPECT_TRUE(Pings(1));
    EXPECT_TRUE(m_sim.Firmware(1).empty()) << "an unfinished transfer flashes nothing";
}
