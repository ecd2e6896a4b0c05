// The serial transport on a bare pseudo-terminal: timing of reads, purges, rates, exclusivity and hang-ups.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/BrennixUsb.h"
#include "link/LineSettingsScope.h"
#include "tests/link/PtyPair.h"
#include "tests/support/LineRateProbe.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

static long ElapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_FALSE(pty.SlavePath().empty());
        usb.SetPortPath(pty.SlavePath());
        ASSERT_EQ(usb.FindDevice(), 1);
        ASSERT_EQ(usb.Open(), 1);
        usb.Configure(1000000);
    }
    CPtyPair pty;
    CBrennixUsb usb;
};

TEST(TransportClosed, EverythingReturnsZeroWithoutAPort) {
    CBrennixUsb usb;
    uint8_t byte = 0;
    EXPECT_EQ(usb.m_szPortName, "COM");
    EXPECT_EQ(usb.TimeoutMs(), 50);
    EXPECT_EQ(usb.Write(&byte, 1), 0);
    EXPECT_EQ(usb.Read(&byte, 1), 0);
    EXPECT_EQ(usb.Configure(115200), 0);
    EXPECT_EQ(usb.Open(), 0);  // nothing found yet
    usb.SetPortPath("/dev/no-such-port-here");
    EXPECT_EQ(usb.FindDevice(), 0);
    EXPECT_EQ(usb.m_nPortNumber, -1);
    EXPECT_EQ(usb.m_szPortName, "COM");
}

TEST_F(Transport, FoundPathBecomesThePortName) {
    EXPECT_EQ(usb.m_szPortName, pty.SlavePath());
    EXPECT_GE(usb.m_nPortNumber, 0);
}

TEST_F(Transport, WritesExactBytes) {
    const Bytes ping{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
    EXPECT_EQ(usb.Write(ping.data(), 6), 6);
    EXPECT_EQ(pty.Received(), ping);
}

TEST_F(Transport, ReadReturnsAsSoonAsItsBytesAreIn) {
    pty.Send({1, 2, 3, 4, 5, 6});
    uint8_t buffer[6] = {};
    const auto start = Clock::now();
    EXPECT_EQ(usb.Read(buffer, 6), 6);
    EXPECT_LT(ElapsedMs(start), 20);
    EXPECT_EQ(buffer[5], 6);
}

TEST_F(Transport, ShortReadEndsAtTheTimeout) {
    pty.Send({1, 2, 3, 4});
    uint8_t buffer[6] = {};
    auto start = Clock::now();
    EXPECT_EQ(usb.Read(buffer, 6), 4);
    EXPECT_GE(ElapsedMs(start), 50);
    EXPECT_LT(ElapsedMs(start), 100);
    start = Clock::now();
    EXPECT_EQ(usb.Read(buffer, 6), 0);
    EXPECT_GE(ElapsedMs(start), 50);
}

TEST_F(Transport, BytesWaitingBeforeAWriteAreDiscarded) {
    pty.Send({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});  // a late status of an earlier request
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const uint8_t request = 0x42;
    EXPECT_EQ(usb.Write(&request, 1), 1);
    uint8_t buffer[6] = {};
    EXPECT_EQ(usb.Read(buffer, 6), 0);
}

TEST_F(Transport, ConfigureReturnsThePreviousRateIncludingOddOnes) {
    EXPECT_EQ(usb.Configure(115200), 1000000);
    EXPECT_EQ(usb.Configure(500000), 115200);
    EXPECT_EQ(usb.Configure(76800), 500000);
    EXPECT_EQ(usb.Configure(128000), 76800);
    EXPECT_EQ(usb.Configure(1000000), 128000);
}

// A timeout set is the next read's, whether or not the line is configured again.
TEST_F(Transport, TimeoutAppliesAtOnce) {
    usb.SetTimeoutMs(120);
    uint8_t byte;
    auto start = Clock::now();
    usb.Read(&byte, 1);
    EXPECT_GE(ElapsedMs(start), 120);  // without a Configure
    usb.Configure(1000000);
    start = Clock::now();
    usb.Read(&byte, 1);
    EXPECT_GE(ElapsedMs(start), 120);
    usb.SetTimeoutMs(50);
}

// A status is read in two parts by one deadline: the second part gets no timeout of its own.
TEST_F(Transport, ReadsSharingADeadlineEndByIt) {
    usb.SetTimeoutMs(300);
    pty.Send({1, 2, 3, 4});
    uint8_t buffer[8] = {};
    const auto start = Clock::now();
    const CUsb::Deadline deadline = start + std::chrono::milliseconds(60);
    EXPECT_EQ(usb.ReadUntil(buffer, 4, deadline), 4);
    EXPECT_EQ(usb.ReadUntil(buffer + 4, 4, deadline), 0);
    EXPECT_GE(ElapsedMs(start), 60);
    EXPECT_LT(ElapsedMs(start), 250);
    usb.SetTimeoutMs(50);
}

TEST_F(Transport, LineSettingsScopeRestoresRateAndTimeout) {
    usb.SetTimeoutMs(70);
    {
        const CLineSettingsScope boot(usb, 115200, 300);
        EXPECT_EQ(usb.LineRate(), 115200);
        EXPECT_EQ(usb.TimeoutMs(), 300);
    }
    EXPECT_EQ(usb.LineRate(), 1000000);
    EXPECT_EQ(usb.TimeoutMs(), 70);
    usb.SetTimeoutMs(50);
}

TEST_F(Transport, RateChangeLetsWrittenOutputLeaveFirst) {
    // 200 bytes at 38400 baud take about 52 ms on the wire; the new rate must not cut them off.
    usb.Configure(38400);
    const Bytes block(200, 0x5A);
    EXPECT_EQ(usb.Write(block.data(), 200), 200);
    const auto start = Clock::now();
    usb.Configure(500000);
    EXPECT_GE(ElapsedMs(start), 50);
    EXPECT_EQ(pty.Received(), block);
}

TEST_F(Transport, PortIsExclusive) {
    CBrennixUsb other;
    other.SetPortPath(pty.SlavePath());
    ASSERT_EQ(other.FindDevice(), 1);
    EXPECT_EQ(other.Open(), 0);
    EXPECT_EQ(usb.Close(), 1);
    EXPECT_EQ(other.Open(), 1);
    EXPECT_EQ(usb.Open(), 0);
    other.Close();
    EXPECT_EQ(usb.Open(), 1);
}

TEST_F(Transport, HangUpFailsAtOnceAndIsReportedOnce) {
    std::atomic<int> lostCalls{0};
    usb.SetPortLostHandler([&] { ++lostCalls; });
    usb.SetTimeoutMs(2000);
    usb.Configure(1000000);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.CloseKeepAlive();
        pty.CloseMaster();
    });
    uint8_t buffer[6];
    const auto start = Clock::now();
    EXPECT_EQ(usb.Read(buffer, 6), 0);
    unplug.join();
    EXPECT_LT(ElapsedMs(start), 500);
    EXPECT_TRUE(usb.IsPortLost());
    EXPECT_EQ(usb.Write(buffer, 6), 0);
    EXPECT_EQ(usb.Read(buffer, 6), 0);
    EXPECT_EQ(lostCalls, 1);
    EXPECT_EQ(usb.Close(), 1);
    EXPECT_FALSE(usb.IsPortLost());
    EXPECT_EQ(usb.Open(), 0);  // the device is gone
}
