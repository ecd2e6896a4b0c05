// The all-rate scan through the serial transport against the simulated bus: servos at several rates, long
// return delays, silent return levels, faults on the confirming answer, an empty bus, a stop and an unplug.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/BusScanner.h"
#include "link/ControlTable.h"
#include "link/SerialScanLine.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

sim::CSimServoSpec Servo(uint8_t id, uint32_t baud, uint8_t delay = 0, uint8_t level = 2) {
    sim::CSimServoSpec spec = sim::DefaultServo(id, static_cast<uint8_t>(BaudCodeOf(baud)));
    spec.returnDelay = delay;
    spec.returnLevel = level;
    return spec;
}

class BusScanE2E : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_LINE_RATE(1000000); }
    void Start(const std::vector<sim::CSimServoSpec>& servos, int portRate = 1000000,
               std::chrono::microseconds latency = {}) {
        sim::CSimLineOptions line;
        line.latency = latency;
        m_link = std::make_unique<CSimulatedLink>(servos, line);
        ASSERT_TRUE(m_link->Open(portRate));
        m_line = std::make_unique<CSerialScanLine>(Transport());
        m_scanner = std::make_unique<CBusScanner>(Commands(), *m_line);
    }

    CScanOutcome Scan(const CScanEvents& events = {}) { return m_scanner->Scan({}, events); }
    sim::CBusSimulator& Bus() { return m_link->Sim(); }
    CBrennixUsb& Transport() { return m_link->Transport(); }
    CServoUsb& Commands() { return m_link->Usb(); }

    // Each test sets up its own bus; the scanner is built on its link and goes first.
    std::unique_ptr<CSimulatedLink> m_link;
    std::unique_ptr<CSerialScanLine> m_line;
    std::unique_ptr<CBusScanner> m_scanner;
};

TEST_F(BusScanE2E, FindsEveryServoOfAMixedRateBusAndLeavesThePortAtItsRate) {
    // The longest return delay, a servo that answers pings only, two at one rate, two with one ID (200 µs
    // apart: answers at the very same moment add up to one clean status), behind a USB adapter's
    // millisecond each way. The sweep ends just past the highest ID (each silent ID costs a window of
    // several milliseconds at every rate that answered): the next ping is what catches a late answer.
    Start({Servo(7, 115200, 254), Servo(9, 38400, 0, 0), Servo(1, 1000000), Servo(40, 500000),
           Servo(3, 115200), Servo(12, 500000), Servo(12, 500000, 100)},
          57600, 1000us);
    std::vector<std::string> warnings;
    CScanEvents events;
    events.collision = [&](int id, int baud) {
        warnings.push_back(std::to_string(id) + "@" + std::to_string(baud));
    };
    // A margin as a user would give it: on a host this loaded the measured one is left to the other tests.
    CScanSettings settings;
    settings.adapterMargin = 5ms;
    settings.lastId = 41;
    const CScanOutcome outcome = m_scanner->Scan(settings, events);
    EXPECT_EQ(outcome.servos,
              (std::vector<CFoundServo>{
                  {1, 1000000}, {12, 500000}, {40, 500000}, {3, 115200}, {7, 115200}, {9, 38400}}));
    EXPECT_EQ(warnings, std::vector<std::string>{"12@500000"});
    EXPECT_EQ(Transport().LineRate(), 57600);
    // Everything the host sent went out at a servo rate, and only four rates were swept.
    int swept = 0;
    for (const CRateOutcome& rate : outcome.rates) swept += rate.answered ? 1 : 0;
    EXPECT_EQ(swept, 4);
    // The port works as before at its own rate.
    Transport().Configure(1000000);
    EXPECT_EQ(Commands().Ping(1), 1);
}

TEST_F(BusScanE2E, AnEmptyBusCostsOneBroadcastPerRate) {
    Start({});
    const CScanOutcome outcome = Scan();
    EXPECT_TRUE(outcome.servos.empty());
    ASSERT_EQ(outcome.rates.size(), 8u);
    const auto frames = Bus().Frames();
    ASSERT_EQ(frames.size(), 8u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].baud, BAUD_RATES[i]);
        EXPECT_EQ(frames[i].bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0xFE, 0x02, 0x01, 0xFE}));
    }
}

TEST_F(BusScanE2E, AServoWhoseConfirmingAnswerIsLostOrDamagedIsNotReported) {
    Start({Servo(2, 1000000), Servo(3, 1000000), Servo(4, 1000000)});
    // The sweep's ping of each gets through; the confirmation, and every answer after it, does not.
    for (const auto& [kind, id] :
         {std::pair{sim::ESimFaultKind::DropReply, 2}, std::pair{sim::ESimFaultKind::CorruptChecksum, 3}}) {
        sim::CSimFaultRule rule;
        rule.kind = kind;
        rule.servoId = id;
        rule.instruction = 0x01;
        rule.skip = 1;
        rule.count = sim::kEveryReply;
        Bus().AddFault(rule);
    }
    const CScanOutcome outcome = Scan();
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{4, 1000000}}));
    EXPECT_GE(Bus().FaultHits(), 2);
}

TEST_F(BusScanE2E, StopAndUnplugEndTheScanPromptly) {
    Start({Servo(1, 1000000), Servo(2, 38400)});
    std::atomic<bool> stop{false};
    std::atomic<int> lastId{-1};
    CScanEvents events;
    events.stopRequested = [&] { return stop.load(); };
    events.progress = [&](int, int id) { lastId = id; };
    Clock::time_point stoppedAt;
    std::thread stopper([&] {
        while (lastId < 60) std::this_thread::sleep_for(1ms);
        stoppedAt = Clock::now();
        stop = true;
    });
    CScanOutcome outcome = Scan(events);
    const auto ended = Clock::now();
    stopper.join();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_LT(ended - stoppedAt, 100ms);
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{1, 1000000}}));
    EXPECT_EQ(Transport().LineRate(), 1000000);

    lastId = -1;
    stop = false;
    Clock::time_point unpluggedAt;
    std::thread unplugger([&] {
        while (lastId < 60) std::this_thread::sleep_for(1ms);
        unpluggedAt = Clock::now();
        Bus().Unplug();
    });
    outcome = Scan(events);
    const auto lost = Clock::now();
    unplugger.join();
    EXPECT_TRUE(outcome.portLost);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_LT(lost - unpluggedAt, 100ms);
    EXPECT_TRUE(Transport().IsPortLost());
}

TEST_F(BusScanE2E, FindSingleTellsTheIdAndRateOfTheOnlyServo) {
    Start({Servo(42, 57600, 254)});
    const CScanOutcome outcome = m_scanner->FindSingle(AllServoRates(), {});
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{42, 57600}}));
    EXPECT_TRUE(outcome.collisions.empty());
    EXPECT_EQ(Bus().Frames().size(), 9u) << "a broadcast per rate, and the read that confirms ID 42";
    EXPECT_EQ(Transport().LineRate(), 1000000);
}

// Two servos with one ID answer a ping with identical bytes, which overlap cleanly below 1000000 baud; the
// read of their status spans, which differ, collides at every rate.
TEST_F(BusScanE2E, ServosSharingAnIdAreFoundSharedAtEveryRateByScanAndFind) {
    for (const uint32_t baud : {1000000u, 500000u, 57600u, 38400u}) {
        SCOPED_TRACE(baud);
        sim::CSimServoSpec warmer = Servo(4, baud);
        warmer.temperature = 35;
        sim::CSimServoSpec lower = Servo(4, baud);
        lower.voltage = 70;
        Start({Servo(4, baud), warmer, Servo(6, baud)});
        CScanSettings settings;
        settings.rates = {static_cast<int>(baud)};
        settings.lastId = 7;
        CScanOutcome outcome = m_scanner->Scan(settings, {});
        EXPECT_EQ(outcome.servos,
                  (std::vector<CFoundServo>{{4, static_cast<int>(baud)}, {6, static_cast<int>(baud)}}));
        EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{4, static_cast<int>(baud)}}));

        // At 1000000 the broadcast's answers already collide (no ID named); below, the read tells.
        Start({Servo(4, baud), lower});
        outcome = m_scanner->FindSingle({static_cast<int>(baud)}, {});
        const int named = baud == 1000000 ? -1 : 4;
        EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{named, static_cast<int>(baud)}}));
    }
}

// Behind an adapter that takes 15 or 20 ms each way every servo is still found at its rate, also when the
// first rates scanned are silent and nothing has been timed yet.
TEST_F(BusScanE2E, ASlowAdapterHasEveryServoFoundAtItsRate) {
    for (const auto latency : {15000us, 20000us}) {
        SCOPED_TRACE(latency.count());
        Start({Servo(1, 500000), Servo(2, 115200), Servo(3, 38400)}, 1000000, latency);
        CScanSettings settings;
        settings.lastId = 4;
        EXPECT_EQ(m_scanner->Scan(settings, {}).servos,
                  (std::vector<CFoundServo>{{1, 500000}, {2, 115200}, {3, 38400}}));
    }
}

}  // namespace
