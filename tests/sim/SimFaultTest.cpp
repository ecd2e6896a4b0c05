// The simulator's line faults as a raw host sees them: what each fault puts on the line, and which answers
// a rule hits.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <ostream>

#include <filesystem>
#include <memory>

#include "sim/BusSimulator.h"
#include "tests/sim/PtyClient.h"
#include "tests/support/LineRateProbe.h"

namespace {

using namespace simtest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint8_t TORQUE_ENABLE = 31;

class SimFault : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_sim.Start());
        m_client = std::make_unique<CPtyClient>(m_sim.SlavePath(), 1000000);
        ASSERT_TRUE(m_client->IsOpen());
    }

    Bytes Exchange(const Bytes& request, std::size_t replySize, std::chrono::milliseconds wait = 300ms) {
        EXPECT_TRUE(m_client->Send(request));
        return m_client->Receive(replySize, wait);
    }

    sim::CBusSimulator m_sim;
    std::unique_ptr<CPtyClient> m_client;
};

sim::CSimFaultRule Rule(sim::ESimFaultKind kind) {
    sim::CSimFaultRule rule;
    rule.kind = kind;
    return rule;
}

// What a ping of servo 1 and a two-byte read from servo 2 look like under each fault that alters the bytes.
struct CShapeCase {
    const char* name;
    sim::CSimFaultRule rule;
    Bytes ping;  // what comes back for a ping of ID 1
    Bytes read;  // what comes back for READ 2, 0, 2 (model number 0x0803, low byte first as stored)
};

std::vector<CShapeCase> ShapeCases() {
    auto rule = [](sim::ESimFaultKind kind, auto tweak) {
        sim::CSimFaultRule r = Rule(kind);
        r.count = sim::kEveryReply;
        tweak(r);
        return r;
    };
    auto none = [](sim::CSimFaultRule&) {};
    Bytes pingBadSum = Status(1, 0);
    pingBadSum.back() ^= 0xFF;
    Bytes readBadSum = Status(2, 0, {0x03, 0x08});
    readBadSum.back() ^= 0xFF;
    return {
        {"checksum", rule(sim::ESimFaultKind::CorruptChecksum, none), pingBadSum, readBadSum},
        {"id_next", rule(sim::ESimFaultKind::WrongId, none), Status(2, 0), Status(3, 0, {0x03, 0x08})},
        {"id_given", rule(sim::ESimFaultKind::WrongId, [](auto& r) { r.otherId = 7; }), Status(7, 0),
         Status(7, 0, {0x03, 0x08})},
        {"length_longer", rule(sim::ESimFaultKind::WrongLength, none), Status(1, 0, {0}),
         Status(2, 0, {0x03, 0x08, 0})},
        // A status without parameters has none to lose: it gains one.
        {"length_shorter", rule(sim::ESimFaultKind::WrongLength, [](auto& r) { r.lengthChange = -1; }),
         Status(1, 0, {0}), Status(2, 0, {0x03})},
        {"garbage",
         rule(sim::ESimFaultKind::Garbage,
              [](auto& r) {
                  r.garbage = {0xFF, 0x00, 0x42};
              }),
         Bytes{0xFF, 0x00, 0x42}, Bytes{0xFF, 0x00, 0x42}},
        {"stall_forever", rule(sim::ESimFaultKind::StallMidFrame, [](auto& r) { r.delay = sim::kNever; }),
         Bytes{0xFF, 0xFF, 0x01}, Bytes{0xFF, 0xFF, 0x02, 0x04}},
    };
}

class SimFaultShape : public SimFault, public ::testing::WithParamInterface<CShapeCase> {};

TEST_P(SimFaultShape, PutsExactlyTheseBytesOnTheLine) {
    m_sim.AddFault(GetParam().rule);
    // Asking for more than can come shows that nothing follows the faulty bytes.
    EXPECT_EQ(Exchange(Request(1, PING), 16, 150ms), GetParam().ping);
    EXPECT_EQ(Exchange(Request(2, READ, {0, 2}), 16, 150ms), GetParam().read);
    EXPECT_EQ(m_sim.FaultHits(), 2);
    m_sim.ClearFaults();
    EXPECT_EQ(Exchange(Request(1, PING), 6), Status(1, 0)) << "faithful again once cleared";
}

// Cases print by name, so the test list stays readable and the same from one build to the next.
void PrintTo(const CShapeCase& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimFaultShape, ::testing::ValuesIn(ShapeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimFault, DroppedStatusStillLetsTheServoCarryOutTheRequest) {
    m_sim.AddFault(Rule(sim::ESimFaultKind::DropReply));
    EXPECT_TRUE(Exchange(Request(1, WRITE, {TORQUE_ENABLE, 1}), 6, 150ms).empty());
    EXPECT_EQ(m_sim.Table(1)[TORQUE_ENABLE], 1);
    EXPECT_EQ(Exchange(Request(1, PING), 6), Status(1, 0)) << "count 1: only one status is lost";
}

TEST_F(SimFault, LateAndStalledStatusesArriveWhenPromised) {
    auto late = Rule(sim::ESimFaultKind::LateReply);
    late.delay = 120ms;
    m_sim.AddFault(late);
    auto start = Clock::now();
    EXPECT_TRUE(Exchange(Request(1, PING), 6, 60ms).empty());
    EXPECT_EQ(m_client->Receive(6, 1s), Status(1, 0));
    EXPECT_GE(Clock::now() - start, 120ms);

    auto stall = Rule(sim::ESimFaultKind::StallMidFrame);
    stall.delay = 120ms;
    m_sim.AddFault(stall);
    start = Clock::now();
    EXPECT_EQ(Exchange(Request(2, PING), 6, 60ms), (Bytes{0xFF, 0xFF, 0x02}));
    EXPECT_EQ(m_client->Receive(3, 1s), (Bytes{0x02, 0x00, static_cast<uint8_t>(~(2 + 2))}));
    EXPECT_GE(Clock::now() - start, 120ms);
}

// Another servo answers at once while one holds a status back; the one that holds it answers in order.
TEST_F(SimFault, AHeldBackStatusDelaysOnlyItsOwnServo) {
    auto late = Rule(sim::ESimFaultKind::LateReply);
    late.delay = 150ms;
    m_sim.AddFault(late);
    EXPECT_TRUE(Exchange(Request(1, READ, {0, 2}), 8, 30ms).empty());
    const auto start = Clock::now();
    EXPECT_EQ(Exchange(Request(2, PING), 6), Status(2, 0));
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(Exchange(Request(1, PING), 8 + 6, 1s), [] {
        Bytes both = Status(1, 0, {0x03, 0x08});
        const Bytes ping = Status(1, 0);
        both.insert(both.end(), ping.begin(), ping.end());
        return both;
    }());
}

TEST_F(SimFault, RulesHitOnlyTheirServoInstructionAndCount) {
    auto rule = Rule(sim::ESimFaultKind::DropReply);
    rule.servoId = 2;
    rule.instruction = READ;
    rule.skip = 1;
    rule.count = 2;
    m_sim.AddFault(rule);
    const Bytes read2 = Request(2, READ, {0, 2});
    const Bytes answer2 = Status(2, 0, {0x03, 0x08});
    EXPECT_EQ(Exchange(Request(2, PING), 6), Status(2, 0)) << "another instruction";
    EXPECT_EQ(Exchange(Request(1, READ, {0, 2}), 8), Status(1, 0, {0x03, 0x08})) << "another servo";
    EXPECT_EQ(Exchange(read2, 8), answer2) << "skipped";
    EXPECT_TRUE(Exchange(read2, 8, 100ms).empty());
    EXPECT_TRUE(Exchange(read2, 8, 100ms).empty());
    EXPECT_EQ(Exchange(read2, 8), answer2) << "used up";
    EXPECT_EQ(m_sim.FaultHits(), 2);

    // An unanswered request (unknown ID) neither triggers a rule nor uses it up.
    m_sim.AddFault(Rule(sim::ESimFaultKind::Garbage));
    EXPECT_TRUE(Exchange(Request(9, PING), 6, 100ms).empty());
    EXPECT_EQ(Exchange(Request(1, PING), 16, 100ms),
              Bytes(std::begin(sim::kDefaultGarbage), std::end(sim::kDefaultGarbage)));
}

TEST_F(SimFault, HangUpPullsTheAdapterAndStartPlugsItBackIn) {
    auto rule = Rule(sim::ESimFaultKind::HangUp);
    rule.servoId = 3;
    m_sim.AddFault(rule);
    EXPECT_EQ(Exchange(Request(1, PING), 6), Status(1, 0));
    const std::string oldPath = m_sim.SlavePath();
    ASSERT_TRUE(m_client->Send(Request(3, PING)));
    EXPECT_NE(m_client->WaitEvents(POLLIN, 1s) & POLLHUP, 0);
    uint8_t byte = 0;
    EXPECT_EQ(read(m_client->Fd(), &byte, 1), 0);
    EXPECT_TRUE(m_sim.HungUp());
    m_client.reset();
    EXPECT_FALSE(std::filesystem::exists(oldPath));

    ASSERT_TRUE(m_sim.Start());
    EXPECT_FALSE(m_sim.HungUp());
    CPtyClient again(m_sim.SlavePath(), 1000000);
    ASSERT_TRUE(again.Send(Request(2, PING)));
    EXPECT_EQ(again.Receive(6), Status(2, 0));
}

TEST(SimFaultRules, ParseFromTheCommandLineForm) {
    std::string error;
    auto rule = sim::ParseFaultRule("late:id=1,instr=2,skip=3,count=all,delay=120", &error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->kind, sim::ESimFaultKind::LateReply);
    EXPECT_EQ(rule->servoId, 1);
    EXPECT_EQ(rule->instruction, 2);
    EXPECT_EQ(rule->skip, 3);
    EXPECT_EQ(rule->count, sim::kEveryReply);
    EXPECT_EQ(rule->delay, 120ms);
    rule = sim::ParseFaultRule("stall:delay=never,instr=boot", &error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->delay, sim::kNever);
    EXPECT_EQ(rule->instruction, sim::kBootAnswer);
    rule = sim::ParseFaultRule("garbage:bytes=ff00A5", &error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->garbage, (Bytes{0xFF, 0x00, 0xA5}));
    EXPECT_EQ(sim::ParseFaultRule("hangup", &error)->kind, sim::ESimFaultKind::HangUp);
    EXPECT_EQ(sim::ParseFaultRule("id:to=9", &error)->otherId, 9);
    EXPECT_EQ(sim::ParseFaultRule("length:by=-1", &error)->lengthChange, -1);

    for (const char* bad : {"", "explode", "drop:", "drop:id", "drop:id=255", "drop:count=0", "drop:skip=-1",
                            "late:delay=never", "late:delay=1e3", "garbage:bytes=f", "garbage:bytes=zz",
                            "length:by=2", "drop:colour=red", "drop:id=1,"}) {
        error.clear();
        EXPECT_FALSE(sim::ParseFaultRule(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
