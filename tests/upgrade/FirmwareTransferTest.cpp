// The boot-loader transfer through the real serial transport to the simulator's boot loader.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "link/BootLoader.h"
#include "link/SerialLine.h"
#include "tests/support/SimulatedLink.h"
#include "upgrade/FirmwareTransfer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kLinkTimeoutMs = 50;

class FirmwareTransfer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_link.Open(1000000, kLinkTimeoutMs)); }

    // A bin image of `length` pseudo-random bytes.
    void LoadImage(int length) {
        std::mt19937 random(length);
        m_image.Empty();
        for (int i = 0; i < length; ++i) m_image.imageData[i] = static_cast<uint8_t>(random());
        m_image.imageLength = static_cast<uint16_t>(length);
        m_image.sourceKind = kSourceBin;
        m_image.CountBlocks();
    }

    EUpgradeResult Transfer(uint8_t id = 1, const std::atomic<int>* running = nullptr) {
        CUpgradeCallbacks callbacks;
        callbacks.running = running;
        callbacks.blockDone = [this](int block) { m_blocks.push_back(block); };
        return TransferFirmware(m_servo, m_port, m_image, id, callbacks);
    }

    // The port is back at the servos' rate and the link's own timeout.
    void ExpectPortRestored() {
        EXPECT_EQ(SerialLine::GetLineRate(m_port.m_hPort), 1000000u);
        EXPECT_EQ(m_port.TimeoutMs(), kLinkTimeoutMs);
        EXPECT_EQ(m_servo.Ping(2), 1);
    }

    CSimulatedLink m_link{{1, 2}};
    sim::CBusSimulator& m_sim = m_link.Sim();
    CBrennixUsb& m_port = m_link.Transport();
    CServoUsb& m_servo = m_link.Usb();
    FirmwareImage m_image;
    std::vector<int> m_blocks;
};

}  // namespace

TEST_F(FirmwareTransfer, AFullImageLandsInTheServo) {
    LoadImage(FIRMWARE_CAPACITY);
    ASSERT_EQ(m_image.blockCount, 192);
    ASSERT_EQ(Transfer(), EUpgradeResult::Success);
    ASSERT_EQ(m_blocks.size(), 192u);
    EXPECT_EQ(m_blocks.front(), 1);
    EXPECT_EQ(m_blocks.back(), 192);
    EXPECT_EQ(m_sim.Firmware(1),
              std::vector<uint8_t>(m_image.imageData, m_image.imageData + FIRMWARE_CAPACITY));
    EXPECT_FALSE(m_sim.BootStatus(1).inBootLoader);
    ExpectPortRestored();
    EXPECT_EQ(m_servo.Ping(1), 1) << "the servo restarted in normal operation";

    // A short image: the last block is padded with 0xFF and carries the last-block flag.
    LoadImage(65);
    m_blocks.clear();
    ASSERT_EQ(Transfer(), EUpgradeResult::Success);
    EXPECT_EQ(m_blocks, (std::vector<int>{1, 2}));
    std::vector<uint8_t> expected(m_image.imageData, m_image.imageData + 65);
    expected.resize(128, 0xFF);
    EXPECT_EQ(m_sim.Firmware(1), expected);
    EXPECT_EQ(m_sim.BootStatus(1).flashes, 2);
}

TEST_F(FirmwareTransfer, ARefusedBlockEndsTheTransferWithTheBlocksBeforeItSent) {
    LoadImage(FIRMWARE_CAPACITY);
    m_sim.SetBootFaults(1, {.nakAtBlock = 7});
    EXPECT_EQ(Transfer(), EUpgradeResult::Error);
    EXPECT_EQ(m_blocks.size(), 6u);
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 6);
    EXPECT_TRUE(m_sim.Firmware(1).empty());
    ExpectPortRestored();

    // A block that is never answered fails after the boot timeout, and nothing is retried.
    m_sim.SetBootFaults(1, {.silentAtBlock = 3});
    m_blocks.clear();
    const auto start = Clock::now();
    EXPECT_EQ(Transfer(), EUpgradeResult::Error);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(BOOT_TIMEOUT_MS));
    EXPECT_EQ(m_blocks.size(), 2u);
    ExpectPortRestored();
}

TEST_F(FirmwareTransfer, NoHandshakeNoBlocks) {
    LoadImage(640);
    m_sim.SetBootFaults(1, {.ignoreEntry = true});
    EXPECT_EQ(Transfer(), EUpgradeResult::Error);
    EXPECT_TRUE(m_blocks.empty());
    EXPECT_FALSE(m_sim.BootStatus(1).started);
    ExpectPortRestored();
    // No servo of that ID: nobody enters a boot loader, nobody answers.
    EXPECT_EQ(Transfer(9), EUpgradeResult::Error);
    EXPECT_TRUE(m_blocks.empty());
}

TEST_F(FirmwareTransfer, ClearingTheRunningFlagStopsBeforeTheNextBlock) {
    LoadImage(FIRMWARE_CAPACITY);
    std::atomic<int> running{1};
    CUpgradeCallbacks callbacks;
    callbacks.running = &running;
    callbacks.blockDone = [&](int block) {
        m_blocks.push_back(block);
        if (block == 10) running = 0;
    };
    EXPECT_EQ(TransferFirmware(m_servo, m_port, m_image, 1, callbacks), EUpgradeResult::Cancelled);
    EXPECT_EQ(m_blocks.size(), 10u);
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 10);
    ExpectPortRestored();

    // Cleared before the start: the handshake still runs, then no block is sent.
    m_blocks.clear();
    running = 0;
    EXPECT_EQ(Transfer(1, &running), EUpgradeResult::Cancelled);
    EXPECT_TRUE(m_blocks.empty());
    EXPECT_TRUE(m_sim.BootStatus(1).started);
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 0);
}

TEST_F(FirmwareTransfer, AClosedPortSendsNothingAndStaysClosed) {
    LoadImage(640);
    m_port.Close();
    m_sim.ClearFrames();
    const auto start = Clock::now();
    EXPECT_EQ(Transfer(), EUpgradeResult::Error);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(BOOT_PAUSE_MS));
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.TimeoutMs(), kLinkTimeoutMs);
    EXPECT_TRUE(m_sim.Frames().empty());
    EXPECT_FALSE(m_sim.BootStatus(1).inBootLoader);
}
