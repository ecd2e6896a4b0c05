// Every command of the link under every line fault of the simulator: the failure is reported within one
// timeout, out-buffers stay untouched, nothing more goes on the bus, and a late status never passes for the
// next request's.
#include <gtest/gtest.h>
#include <ostream>

#include <chrono>
#include <functional>
#include <thread>

#include "link/ControlTable.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using sim::ESimFaultKind;

constexpr int kTimeoutMs = 50;
// A failed exchange ends at its timeout; this much more is scheduling on a loaded machine, not waiting.
constexpr auto kSlack = 100ms;
constexpr auto kLate = 150ms;

struct CFault {
    const char* name;
    ESimFaultKind kind;
    std::chrono::milliseconds delay = kLate;
    int lengthChange = 1;
};

const CFault kFaults[] = {
    {"drop", ESimFaultKind::DropReply},
    {"checksum", ESimFaultKind::CorruptChecksum},
    {"wrong_id", ESimFaultKind::WrongId},
    {"longer", ESimFaultKind::WrongLength},
    {"shorter", ESimFaultKind::WrongLength, kLate, -1},
    {"late", ESimFaultKind::LateReply},
    {"garbage", ESimFaultKind::Garbage},
    {"stall", ESimFaultKind::StallMidFrame},
    {"stall_forever", ESimFaultKind::StallMidFrame, sim::kNever},
};

// One command, run against servo 1 of {1, 2, 3} (a reset keeps its factory ID); true when it reported
// success.
struct COperation {
    const char* name;
    uint8_t instruction;
    std::function<bool(CServoUsb&)> run;
};

uint8_t g_readBack[8];

const COperation kOperations[] = {
    {"ping", 0x01, [](CServoUsb& s) { return s.Ping(1) == 1; }},
    {"read", 0x02,
     [](CServoUsb& s) {
         std::fill(std::begin(g_readBack), std::end(g_readBack), 0xEE);
         return s.ReadData(1, Reg::FIRMWARE_VERSION, 5, g_readBack) == 5;
     }},
    {"write", 0x03,
     [](CServoUsb& s) {
         const uint8_t on = 1;
         return s.WriteData(1, Reg::TORQUE_ENABLE, 1, &on, 2) == 1;
     }},
    {"reset", 0x06, [](CServoUsb& s) { return s.Reset(1) == 1; }},
};

class LinkFault : public ::testing::TestWithParam<std::tuple<CFault, COperation>> {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_link.Open(1000000, kTimeoutMs));
    }

    CSimulatedLink m_link{{1, 2, 3}};
    sim::CBusSimulator& m_bus = m_link.Sim();
    CBrennixUsb& m_usb = m_link.Transport();
    CServoUsb& m_servo = m_link.Usb();
};

TEST_P(LinkFault, FailsWithinOneTimeoutAndRecovers) {
    const auto& [fault, op] = GetParam();
    sim::CSimFaultRule rule;
    rule.kind = fault.kind;
    rule.servoId = 1;
    rule.instruction = op.instruction;
    rule.delay = fault.delay;
    rule.lengthChange = fault.lengthChange;
    m_bus.AddFault(rule);

    const auto start = Clock::now();
    EXPECT_FALSE(op.run(m_servo));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs) + kSlack);
    EXPECT_EQ(m_bus.FaultHits(), 1);
    if (op.instruction == 0x02) {
        EXPECT_EQ(g_readBack[0], 0xEE) << "a failed read leaves the buffer alone";
    }
    EXPECT_EQ(m_bus.Frames().size(), 1u) << "a failure is not retried behind the caller's back";
    EXPECT_FALSE(m_usb.IsPortLost());

    // Whatever is still on its way arrives while nobody asks: the next exchange must not see it.
    ASSERT_TRUE(m_bus.WaitForQuietLine(2s));
    // Room for a loaded machine: this exchange checks what is taken, not how fast.
    m_usb.SetTimeoutMs(500);
    EXPECT_TRUE(op.run(m_servo)) << "the line works again once the fault is spent";
    if (op.instruction == 0x02) {
        const uint8_t expected[5] = {0x03, 0x08, 0x00, 0x00, 0x01};
        EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), g_readBack));
    }
}

// Cases print by name, so the test list stays readable and the same from one build to the next.
void PrintTo(const CFault& c, std::ostream* os) {
    *os << c.name;
}
void PrintTo(const COperation& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, LinkFault,
                         ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::ValuesIn(kOperations)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

class LinkLateStatus : public LinkFault {};

// What the link guarantees about a status that comes after its timeout:
// - one that arrives before the next request is written is discarded with the input (Write purges it);
// - one that arrives while the next request waits is refused when its ID or LEN differs from the status
//   expected, so the next request takes its own status or fails, never foreign data;
// - one with the very ID and LEN expected (a ping or write status of the same servo, a read of the same
//   length from it) that arrives before the next request's own status cannot be told from it by any check
//   on the frame: nothing on the wire names the request a status answers. The servo's own status normally
//   comes first (within its return delay), so this needs a servo that is late twice in a row.
TEST_F(LinkLateStatus, ArrivingDuringTheNextWaitIsRefusedWhenItsShapeDiffers) {
    sim::CSimFaultRule rule;
    rule.kind = ESimFaultKind::LateReply;
    rule.servoId = 1;
    rule.instruction = 0x02;
    rule.delay = 70ms;  // after the 50 ms timeout, inside the next request's wait
    struct CNext {
        const char* name;
        std::function<bool(CServoUsb&, uint8_t*)> run;
    } nexts[] = {
        {"another servo, same length",
         [](CServoUsb& s, uint8_t* out) { return s.ReadData(2, 0, 2, out) == 2; }},
        {"same servo, other length",
         [](CServoUsb& s, uint8_t* out) { return s.ReadData(1, 0, 3, out) == 3; }},
        {"a ping of another servo", [](CServoUsb& s, uint8_t*) { return s.Ping(3) == 1; }},
    };
    for (const auto& next : nexts) {
        SCOPED_TRACE(next.name);
        m_bus.AddFault(rule);
        uint8_t first[2] = {0xEE, 0xEE};
        ASSERT_EQ(m_servo.ReadData(1, Reg::FIRMWARE_VERSION, 2, first), -1);
        // The late status carries the factory firmware version 03 08; the servos now report other ones, so a
        // late status taken for the next would show. The next request gets its own status first, or fails
        // when the late one fills its wait on a slow machine; never the old data.
        m_bus.SetRegister(1, Reg::FIRMWARE_VERSION, 0x77);
        m_bus.SetRegister(2, Reg::FIRMWARE_VERSION, 0x22);
        uint8_t second[3] = {0xEE, 0xEE, 0xEE};
        if (next.run(m_servo, second)) {
            EXPECT_NE(second[0], 0x03) << "the late status was taken for the next";
        }
        m_bus.SetRegister(1, Reg::FIRMWARE_VERSION, 0x03);
        ASSERT_TRUE(m_bus.WaitForQuietLine(2s));
        m_bus.ClearFaults();
    }
}

TEST_F(LinkLateStatus, HangUpFailsAtOnceAndMarksThePortLost) {
    int lost = 0;
    m_usb.SetPortLostHandler([&] { ++lost; });
    sim::CSimFaultRule rule;
    rule.kind = ESimFaultKind::HangUp;
    m_bus.AddFault(rule);
    const auto start = Clock::now();
    EXPECT_EQ(m_servo.Ping(1), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs) + kSlack);
    EXPECT_TRUE(m_usb.IsPortLost());
    EXPECT_EQ(lost, 1);
    uint8_t out[4] = {};
    const auto again = Clock::now();
    EXPECT_EQ(m_servo.ReadData(1, 0, 4, out), -1);
    EXPECT_EQ(m_servo.Reset(1), 0);
    EXPECT_LT(Clock::now() - again, 10ms) << "a lost port fails without waiting";
    EXPECT_EQ(m_bus.Frames().size(), 1u);
}

}  // namespace
