// The all-rate bus scan against a bus in virtual time: what it finds and in which order, how long it waits,
// and what collisions, late or damaged answers, unsettable rates, a stop and an unplug do to it.
#include <gtest/gtest.h>

#include "link/AlarmWords.h"
#include "link/BusScanner.h"
#include "link/ScanTiming.h"
#include "link/ServoUsb.h"
#include "tests/link/FakeServoBus.h"

using std::chrono::microseconds;
using Bytes = std::vector<uint8_t>;

namespace {

// The least any scan of all rates can take: one broadcast window per rate, and per swept rate one window per
// ID, each window the wire time of ping and status, the longest return delay and the adapter's latency both
// ways.
microseconds Floor(const std::vector<int>& swept, microseconds latency) {
    microseconds floor{0};
    auto window = [&](int baud) {
        return ScanTiming::WireTime(12, baud) + ScanTiming::LONGEST_RETURN_DELAY + 2 * latency;
    };
    for (int baud : AllServoRates()) floor += window(baud);
    for (int baud : swept) floor += 254 * window(baud);
    return floor;
}

class BusScannerTest : public ::testing::Test {
protected:
    CScanOutcome Scan(CScanSettings settings = {}) {
        CScanEvents events;
        events.rateBegins = [this](int baud, microseconds) {
            m_log.push_back("rate " + std::to_string(baud));
        };
        events.rateSkipped = [this](int baud) { m_log.push_back("skip " + std::to_string(baud)); };
        events.found = [this](int id, int baud) {
            m_log.push_back("found " + std::to_string(id) + " " + std::to_string(baud));
        };
        events.collision = [this](int id, int baud) {
            m_log.push_back("collision " + std::to_string(id) + " " + std::to_string(baud));
        };
        events.progress = [this](int baud, int id) {
            ++m_nProgress;
            m_lastProgress = {id, baud};
        };
        events.stopRequested = [this] { return m_stopAt && m_lastProgress == *m_stopAt; };
        return m_scanner.Scan(settings, events);
    }

    CFakeServoBus m_bus;
    CServoUsb m_servo{&m_bus};
    CBusScanner m_scanner{m_servo, m_bus};
    std::vector<std::string> m_log;
    int m_nProgress = 0;
    std::optional<CFoundServo> m_stopAt;
    CFoundServo m_lastProgress{-1, 0};
};

TEST_F(BusScannerTest, FindsServosAtFourRatesInRateThenIdOrderAndSweepsOnlyThoseRates) {
    m_bus.m_latency = microseconds{1000};
    m_bus.m_servos = {{9, 38400, microseconds{508}}, {3, 115200}, {1, 1000000}, {200, 115200}, {7, 500000}};
    m_bus.m_nRate = 57600;
    const CScanOutcome outcome = Scan();

    EXPECT_EQ(outcome.servos,
              (std::vector<CFoundServo>{{1, 1000000}, {7, 500000}, {3, 115200}, {200, 115200}, {9, 38400}}));
    EXPECT_TRUE(outcome.collisions.empty());
    EXPECT_FALSE(outcome.stopped || outcome.portLost);
    ASSERT_EQ(outcome.rates.size(), 8u);
    for (const CRateOutcome& rate : outcome.rates) {
        const bool swept =
            rate.baud == 1000000 || rate.baud == 500000 || rate.baud == 115200 || rate.baud == 38400;
        EXPECT_EQ(rate.answered, swept) << rate.baud;
        // A silent rate costs its one broadcast; a swept one 254 pings, the probe, and a confirmation and a
        // read of its status span per servo; the first that answers times its probe twice more.
        const int servosThere = rate.baud == 115200 ? 2 : swept ? 1 : 0;
        const int timing = rate.baud == 1000000 ? 2 : 0;
        EXPECT_EQ(m_bus.FramesAt(rate.baud), swept ? 1 + timing + 254 + 2 * servosThere : 1) << rate.baud;
    }
    EXPECT_EQ(m_bus.m_nRate, 57600);  // left as found
    EXPECT_EQ(m_nProgress, 4 * 254);
    EXPECT_EQ(m_log.front(), "rate 1000000");
}

TEST_F(BusScannerTest, WindowsFollowTheWireAndTheMeasuredAdapterSoTheScanStaysNearItsFloor) {
    m_bus.m_latency = microseconds{1000};
    m_bus.m_servos = {{5, 1000000}};
    CScanOutcome outcome = Scan();
    ASSERT_EQ(outcome.servos, (std::vector<CFoundServo>{{5, 1000000}}));
    // 120 µs of wire, 508 µs of return delay, and the 2 ms adapter round trip with room for jitter.
    EXPECT_EQ(outcome.rates[0].window, microseconds{120 + 508 + 2250 + 250});
    EXPECT_LE(m_bus.Elapsed(), Floor({1000000}, m_bus.m_latency) * 13 / 10);

    // Servos at every rate: still within 1.3 times what the wire needs.
    CFakeServoBus everyRate;
    everyRate.m_latency = microseconds{1000};
    for (int baud : AllServoRates()) everyRate.m_servos.push_back({baud % 250, baud});
    CServoUsb servo(&everyRate);
    CBusScanner scanner(servo, everyRate);
    outcome = scanner.Scan({}, {});
    EXPECT_EQ(outcome.servos.size(), 8u);
    EXPECT_LE(everyRate.Elapsed(), Floor(AllServoRates(), everyRate.m_latency) * 13 / 10);

    // A margin the caller sets is used as it is.
    CFakeServoBus fixed;
    fixed.m_servos = {{2, 250000}};
    CServoUsb fixedServo(&fixed);
    CBusScanner fixedScanner(fixedServo, fixed);
    CScanSettings settings;
    settings.rates = {250000};
    settings.adapterMargin = microseconds{5000};
    outcome = fixedScanner.Scan(settings, {});
    EXPECT_EQ(outcome.rates[0].window, ScanTiming::WireTime(12, 250000) + microseconds{508 + 5000});
}

TEST_F(BusScannerTest, LongestReturnDelayAndALateAnswerAreStillFound) {
    m_bus.m_latency = microseconds{1000};
    // The first answer is timed without return delay; ID 20 takes its full 508 µs.
    m_bus.m_servos = {{2, 1000000}, {20, 1000000, microseconds{508}}};
    CScanSettings settings;
    settings.rates = {1000000};
    EXPECT_EQ(Scan(settings).servos, (std::vector<CFoundServo>{{2, 1000000}, {20, 1000000}}));

    // ID 30's status is held up (a busy host) past its window into ID 31's: it is confirmed all the same,
    // and ID 31 gets its own try again.
    CFakeServoBus slow;
    slow.m_servos = {{2, 1000000}, {30, 1000000, microseconds{2000}}, {32, 1000000}};
    CServoUsb servo(&slow);
    CBusScanner scanner(servo, slow);
    EXPECT_EQ(scanner.Scan(settings, {}).servos,
              (std::vector<CFoundServo>{{2, 1000000}, {30, 1000000}, {32, 1000000}}));

    // The same held-up status from the last ID swept, which no later ping would catch: the sweep waits one
    // more window for it. (The broadcast named only ID 2, whose answer came first.)
    CFakeServoBus last;
    last.m_servos = {{2, 1000000}, {40, 1000000, microseconds{2000}}};
    CServoUsb lastServo(&last);
    CBusScanner lastScanner(lastServo, last);
    CScanSettings upTo40 = settings;
    upTo40.lastId = 40;
    EXPECT_EQ(lastScanner.Scan(upTo40, {}).servos, (std::vector<CFoundServo>{{2, 1000000}, {40, 1000000}}));

    // The sweep's answer of the one servo at a rate is lost; the broadcast named it, so it is asked again.
    CFakeServoBus lossy;
    lossy.m_servos = {{50, 1000000}};
    lossy.m_fault = [](const CFakeServoBus::CServo&, int n, Bytes status) {
        return n == 0 ? Bytes{} : status;
    };
    CServoUsb lossyServo(&lossy);
    CBusScanner lossyScanner(lossyServo, lossy);
    EXPECT_EQ(lossyScanner.Scan(settings, {}).servos, (std::vector<CFoundServo>{{50, 1000000}}));
}

TEST_F(BusScannerTest, OnlyAServoThatAnswersItsConfirmationIsReported) {
    CScanSettings settings;
    settings.rates = {1000000};
    m_bus.m_servos = {{4, 1000000}, {6, 1000000}, {8, 1000000}};
    // ID 4's confirmation is lost, ID 6's is damaged; noise takes the place of ID 8's sweep answer.
    m_bus.m_fault = [](const CFakeServoBus::CServo& servo, int n, Bytes status) -> Bytes {
        if (servo.id == 4 && n == 1) return {};
        if (servo.id == 6 && n == 1) status[5] ^= 0xFF;
        if (servo.id == 8 && n == 0) return {0x55, 0xFF, 0x00, 0xAA, 0xFF, 0x13};
        return status;
    };
    const CScanOutcome outcome = Scan(settings);
    // Each servo's answer 0 is to its sweep ping, 1 to its confirmation.
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{8, 1000000}}));
    EXPECT_TRUE(outcome.collisions.empty());

    // Noise alone, with no servo behind it, never makes one.
    CFakeServoBus noisy;
    noisy.m_servos = {{12, 1000000}};
    noisy.m_fault = [](const CFakeServoBus::CServo&, int n, Bytes) -> Bytes {
        if (n < 0) return {0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8};  // ID 5's status, but ID 5 is not there
        return {0x13, 0x37};
    };
    CServoUsb servo(&noisy);
    CBusScanner scanner(servo, noisy);
    EXPECT_TRUE(scanner.Scan(settings, {}).servos.empty());
}

TEST_F(BusScannerTest, TwoServosWithOneIdAreReportedOnceWithACollision) {
    CScanSettings settings;
    settings.rates = {1000000, 115200};
    // Overlapping answers (ANDed), and answers one after the other.
    m_bus.m_servos = {{5, 1000000},
                      {5, 1000000, microseconds{30}},
                      {9, 115200},
                      {9, 115200, microseconds{400}},
                      {1, 1000000}};
    const CScanOutcome outcome = Scan(settings);
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{1, 1000000}, {5, 1000000}, {9, 115200}}));
    EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{5, 1000000}, {9, 115200}}));
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "collision 5 1000000"), 1);
}

TEST_F(BusScannerTest, RatesTheAdapterCannotSetAreReportedAndNothingIsSentAtThem) {
    m_bus.m_unsettable = {128000, 76800};
    m_bus.m_servos = {{3, 128000}, {4, 57600}};
    const CScanOutcome outcome = Scan();
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{4, 57600}}));
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "skip 128000"), 1);
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "skip 76800"), 1);
    EXPECT_EQ(m_bus.FramesAt(128000) + m_bus.FramesAt(76800), 0);
    EXPECT_FALSE(outcome.rates[3].settable);
    EXPECT_EQ(m_bus.m_nRate, 1000000);
}

TEST_F(BusScannerTest, StopAndUnplugEndTheScanAtOnceAndAStopLeavesTheRateAsFound) {
    m_bus.m_servos = {{1, 500000}, {60, 500000}};
    m_stopAt = CFoundServo{40, 500000};
    CScanOutcome outcome = Scan();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{1, 500000}}));
    EXPECT_EQ(m_lastProgress, (CFoundServo{40, 500000}));
    // The probe (timed three times), IDs 0..40 (the one in progress when the stop came), ID 1's
    // confirmation and the read of its status span.
    EXPECT_EQ(m_bus.FramesAt(500000), 3 + 41 + 1 + 1);
    EXPECT_EQ(m_bus.m_nRate, 1000000);

    CFakeServoBus pulled;
    pulled.m_servos = {{1, 1000000}};
    pulled.m_nWritesBeforeUnplug = 10;
    CServoUsb servo(&pulled);
    CBusScanner scanner(servo, pulled);
    int pings = 0;
    CScanEvents events;
    events.progress = [&](int, int) { ++pings; };
    outcome = scanner.Scan({}, events);
    EXPECT_TRUE(outcome.portLost);
    // After the probe timed three times, and ID 1's confirmation and read; the ping whose write failed is
    // the last.
    EXPECT_EQ(pings, 6);
    EXPECT_EQ(pulled.m_sent.size(), 10u);
}

TEST_F(BusScannerTest, FindSingleNamesTheOneServoAndTellsWhenMoreAnswer) {
    m_bus.m_servos = {{42, 57600, microseconds{508}}};
    CScanOutcome outcome = m_scanner.FindSingle(AllServoRates(), {});
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{42, 57600}}));
    EXPECT_TRUE(outcome.collisions.empty());
    // One broadcast per rate, and at 57600 the read of ID 42's status span.
    ASSERT_EQ(m_bus.m_sent.size(), 9u);
    for (const auto& sent : m_bus.m_sent) {
        if (sent.bytes[4] == 0x01) {
            EXPECT_EQ(sent.bytes, (Bytes{0xFF, 0xFF, 0xFE, 0x02, 0x01, 0xFE}));
        }
    }
    EXPECT_EQ(m_bus.m_sent[7].bytes, (Bytes{0xFF, 0xFF, 0x2A, 0x04, 0x02, 0x29, 0x0D, 0x99}));

    // Two at one rate answer on top of each other; a third at another rate answers cleanly.
    m_bus.m_servos = {{1, 1000000}, {2, 1000000}, {3, 38400}};
    outcome = m_scanner.FindSingle(AllServoRates(), {});
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{3, 38400}}));
    EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{-1, 1000000}}));

    // Two with one ID whose answers to the broadcast overlap exactly: the read of their spans tells.
    m_bus.m_servos = {{7, 57600}, {7, 57600}};
    m_bus.m_servos[1].voltage = 120;
    outcome = m_scanner.FindSingle({57600}, {});
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{7, 57600}}));
    EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{7, 57600}}));
}

// A ping cannot tell two servos with one ID apart when their identical answers overlap cleanly (as they do
// below 1000000 baud); a read of values that differ between them can.
TEST_F(BusScannerTest, ServosThatShareAnIdAndDifferInTheirReadingsAreFoundSharedAtEveryRate) {
    for (const int baud : {1000000, 500000, 57600, 38400}) {
        SCOPED_TRACE(baud);
        CFakeServoBus bus;
        bus.m_latency = microseconds{1000};
        bus.m_servos = {{4, baud}, {4, baud}, {6, baud}};
        bus.m_servos[1].voltage = 120;
        CServoUsb servo(&bus);
        CBusScanner scanner(servo, bus);
        CScanSettings settings;
        settings.rates = {baud};
        const CScanOutcome outcome = scanner.Scan(settings, {});
        EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{4, baud}, {6, baud}}));
        EXPECT_EQ(outcome.collisions, (std::vector<CFoundServo>{{4, baud}}));
    }
    // Identical in every byte they send: nothing on the line tells them apart.
    m_bus.m_servos = {{4, 57600}, {4, 57600}};
    CScanSettings settings;
    settings.rates = {57600};
    EXPECT_TRUE(Scan(settings).collisions.empty());
    // A servo that answers pings only cannot be read: it is listed, nothing more is claimed.
    CFakeServoBus pingsOnly;
    pingsOnly.m_servos = {{4, 57600}};
    pingsOnly.m_servos[0].answersReads = false;
    CServoUsb servo(&pingsOnly);
    CBusScanner scanner(servo, pingsOnly);
    const CScanOutcome outcome = scanner.Scan(settings, {});
    EXPECT_EQ(outcome.servos, (std::vector<CFoundServo>{{4, 57600}}));
    EXPECT_TRUE(outcome.collisions.empty());
}

TEST_F(BusScannerTest, AlarmsOfAFoundServoComeWithTheReadingsAndLimitsBehindThem) {
    m_bus.m_servos = {{3, 115200}, {8, 115200}};
    m_bus.m_servos[0].error = 0x01 | 0x20;
    m_bus.m_servos[0].voltage = 30;
    std::vector<std::string> alarms;
    CScanEvents events;
    events.alarms = [&](int id, int baud, uint8_t error, const CAlarmValues& values) {
        alarms.push_back(std::to_string(id) + " " + std::to_string(baud) + " " + AlarmWarning(error, values));
    };
    CScanSettings settings;
    settings.rates = {115200};
    m_scanner.Scan(settings, events);
    EXPECT_EQ(alarms,
              std::vector<std::string>{"3 115200 under-voltage (voltage 3.0 V outside 5.0\u201325.0 V), "
                                       "over-load"});
    alarms.clear();
    m_bus.m_servos.pop_back();
    m_scanner.FindSingle({115200}, events);
    EXPECT_EQ(alarms.size(), 1u) << "the lone servo's too";
}

// An adapter that takes 15 or 20 ms each way: the first probe waits as long as a plain ping would, and the
// windows then follow what was measured.
TEST_F(BusScannerTest, ASlowAdapterStillHasEveryServoFoundAtItsRate) {
    for (const int latencyUs : {15000, 20000}) {
        SCOPED_TRACE(latencyUs);
        for (const std::vector<int>& rates :
             {std::vector<int>{1000000, 115200, 38400}, std::vector<int>{57600}}) {
            CFakeServoBus bus;
            bus.m_latency = microseconds{latencyUs};
            std::vector<CFoundServo> expected;
            for (const int baud : rates) {
                bus.m_servos.push_back({static_cast<int>(expected.size()) + 1, baud});
                expected.push_back({static_cast<int>(expected.size()) + 1, baud});
            }
            CServoUsb servo(&bus);
            CBusScanner scanner(servo, bus);
            CScanSettings settings;
            settings.lastId = 9;
            EXPECT_EQ(scanner.Scan(settings, {}).servos, expected);
        }
    }
}

TEST(AnswerJudgement, CleanCollidedOrDamaged) {
    const Bytes clean{0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8};
    EXPECT_EQ(JudgeAnswer(clean.data(), 6, 5), EAnswerKind::Clean);
    EXPECT_EQ(JudgeAnswer(clean.data(), 6, 6), EAnswerKind::Damaged);  // another ID's status
    EXPECT_EQ(JudgeAnswer(clean.data(), 0, 5), EAnswerKind::Nothing);
    EXPECT_EQ(JudgeAnswer(clean.data(), 5, 5), EAnswerKind::Damaged);  // cut short
    // Alarm bits in the error byte keep a status clean.
    const Bytes alarm{0xFF, 0xFF, 0x05, 0x02, 0x24, 0xD4};
    EXPECT_EQ(JudgeAnswer(alarm.data(), 6, 5), EAnswerKind::Clean);
    // A second status after a clean one, and two ANDed one byte apart.
    const Bytes twice{0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8, 0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8};
    EXPECT_EQ(JudgeAnswer(twice.data(), 12, 5), EAnswerKind::Collided);
    // Another ID's status after it came late to its own ping: no collision.
    const Bytes thenLate{0xFF, 0xFF, 0x05, 0x02, 0x00, 0xF8, 0xFF, 0xFF, 0x04, 0x02, 0x00, 0xF9};
    EXPECT_EQ(JudgeAnswer(thenLate.data(), 12, 5), EAnswerKind::Clean);
    const Bytes anded{0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00, 0xF8};
    EXPECT_EQ(JudgeAnswer(anded.data(), 7, 5), EAnswerKind::Collided);
    // Two at almost the same moment: as many bytes as one status, every bit a part of it.
    const Bytes sameMoment{0xFE, 0xFE, 0x00, 0x00, 0x00, 0xE0};
    EXPECT_EQ(JudgeAnswer(sameMoment.data(), 6, 5), EAnswerKind::Collided);
    const Bytes held{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(JudgeAnswer(held.data(), 7, 5), EAnswerKind::Damaged);
    // Bits the expected header does not have cannot come from a collision of its statuses.
    const Bytes inverted{0xFF, 0xFF, 0x05, 0x02, 0x00, 0x07};
    EXPECT_EQ(JudgeAnswer(inverted.data(), 6, 5), EAnswerKind::Damaged);
    const Bytes noise{0x55, 0xFF, 0x00, 0xAA, 0xFF, 0x13, 0x00};
    EXPECT_EQ(JudgeAnswer(noise.data(), 6, 5), EAnswerKind::Damaged);
    EXPECT_EQ(JudgeAnswer(noise.data(), 7, 5), EAnswerKind::Damaged);
    const Bytes otherId{0xFF, 0xFF, 0x06, 0x02, 0x00, 0xF7, 0x00};
    EXPECT_EQ(JudgeAnswer(otherId.data(), 7, 5), EAnswerKind::Damaged);
    EXPECT_EQ(CleanStatusId(twice.data() + 1, 11), 5);
}

}  // namespace
