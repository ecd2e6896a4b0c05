// Outcomes over the real transport against the simulator: each fault rule ends the exchange with its own
// outcome (the results stay 0 and -1), and the recorder keeps every thread's exchanges whole and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "link/BusRecorder.h"
#include "link/ControlTable.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

namespace {

using sim::ESimFaultKind;

class LinkOutcome : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_LINE_RATE(1000000); }
    void Open(CSimulatedLink& link) {
        ASSERT_TRUE(link.Open());
        link.Usb().SetRecorder(&recorder);
    }

    CBusRecorder recorder{100000};  // outlives each test's link, which records into it
};

TEST_F(LinkOutcome, EachFaultRuleHasItsOwnOutcome) {
    CSimulatedLink link({1, 2, 3});
    ASSERT_NO_FATAL_FAILURE(Open(link));
    sim::CBusSimulator& bus = link.Sim();
    CServoUsb& servo = link.Usb();
    struct CCase {
        ESimFaultKind fault;
        EOutcome ping;
        EOutcome read;
    };
    const CCase cases[] = {
        {ESimFaultKind::DropReply, EOutcome::NoAnswer, EOutcome::NoAnswer},
        {ESimFaultKind::CorruptChecksum, EOutcome::BadChecksum, EOutcome::BadChecksum},
        {ESimFaultKind::WrongId, EOutcome::OtherId, EOutcome::OtherId},
        {ESimFaultKind::WrongLength, EOutcome::WrongLength, EOutcome::WrongLength},
        {ESimFaultKind::LateReply, EOutcome::NoAnswer, EOutcome::NoAnswer},
        {ESimFaultKind::Garbage, EOutcome::BadHeader, EOutcome::BadHeader},
        {ESimFaultKind::StallMidFrame, EOutcome::CutShort, EOutcome::CutShort},
    };
    // Each exchange gets its own rule and a quiet line after it: a late or stalled answer's rest must not
    // spill into the next one.
    auto withFault = [&](ESimFaultKind kind, const std::function<void()>& exchange) {
        sim::CSimFaultRule rule;
        rule.kind = kind;
        rule.servoId = 1;
        bus.AddFault(rule);
        exchange();
        bus.ClearFaults();
        ASSERT_TRUE(bus.WaitForQuietLine(std::chrono::seconds(2)));
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        withFault(c.fault, [&] {
            CExchangeOutcome outcome;
            EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 0);
            EXPECT_EQ(outcome.kind, c.ping);
            EXPECT_EQ(outcome.askedId, 1);
            if (c.fault == ESimFaultKind::WrongId) {
                EXPECT_EQ(outcome.answerId, 2);
            }
            if (c.fault == ESimFaultKind::StallMidFrame) {
                EXPECT_EQ(outcome.gotBytes, 3);
            }
        });
        withFault(c.fault, [&] {
            CExchangeOutcome outcome;
            uint8_t data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
            EXPECT_EQ(servo.ReadData(1, 0, 4, data, &outcome), -1);
            EXPECT_EQ(outcome.kind, c.read);
            EXPECT_EQ(data[0], 0xEE);
        });
    }
    CExchangeOutcome outcome;
    EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 1);
    EXPECT_EQ(outcome.kind, EOutcome::Good);

    sim::CSimFaultRule hangUp;
    hangUp.kind = ESimFaultKind::HangUp;
    bus.AddFault(hangUp);
    EXPECT_EQ(servo.Ping(2, nullptr, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::PortLost);
    EXPECT_EQ(servo.Ping(3, nullptr, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::PortLost) << "not a closed port: the adapter went away";
}

// Answers that meet on the shared return line: a broadcast ping answered by three servos at once is named a
// collision; two servos with one ID a few microseconds apart damage each other's answer.
TEST_F(LinkOutcome, CollisionsOnTheReturnLine) {
    sim::CSimServoSpec late = sim::DefaultServo(1);
    late.returnDelay = 5;  // 10 us, one byte at 1000000
    CSimulatedLink link({sim::DefaultServo(1), late, sim::DefaultServo(2), sim::DefaultServo(3)}, {});
    ASSERT_NO_FATAL_FAILURE(Open(link));
    CServoUsb& servo = link.Usb();
    CExchangeOutcome outcome;
    uint8_t who = 0;
    EXPECT_EQ(servo.Ping(BROADCAST_ID, &who, &outcome), 0);
    EXPECT_EQ(outcome.kind, EOutcome::Collision);
    EXPECT_EQ(DescribeOutcome(outcome, 50), "answers from several servos collided (6 damaged bytes)");
    // A damaged answer's tail may still be on its way when the exchange has seen enough of it; on a loaded
    // machine it could land after the next request has cleared the input.
    ASSERT_TRUE(link.Sim().WaitForQuietLine(std::chrono::seconds(2)));
    EXPECT_EQ(servo.Ping(1, nullptr, &outcome), 0);
    EXPECT_FALSE(outcome.IsGood());
    EXPECT_NE(outcome.kind, EOutcome::NoAnswer) << "something came, damaged";
    ASSERT_TRUE(link.Sim().WaitForQuietLine(std::chrono::seconds(2)));
    EXPECT_EQ(servo.Ping(2, nullptr, &outcome), 1)
        << "a lone servo answers cleanly, not " << DescribeOutcome(outcome, 50);
}

// Sweep, status poll, a page's writes and a firmware-like transfer on one link at once: each exchange's
// frames stay together (request, then its answer), each thread's exchanges keep their order, and every
// caller gets its own exchange's outcome.
TEST_F(LinkOutcome, FourThreadsKeepTheirExchangesTogetherAndInOrder) {
    sim::CSimServoSpec hot = sim::DefaultServo(1);
    hot.temperature = 85;
    CSimulatedLink link({hot, sim::DefaultServo(2), sim::DefaultServo(3)}, {});
    ASSERT_NO_FATAL_FAILURE(Open(link));
    CServoUsb& servo = link.Usb();
    std::atomic<bool> running{true};
    std::atomic<int> badOutcomes{0};

    std::thread sweep([&] {
        for (int id = 0; id <= 12; ++id) {
            CExchangeOutcome outcome;
            const int found = servo.Ping(static_cast<uint8_t>(id), nullptr, &outcome);
            if ((found == 1) != (outcome.kind == EOutcome::Good) || outcome.askedId != id) ++badOutcomes;
        }
    });
    std::thread poll([&] {
        while (running) {
            uint8_t status[Reg::STATUS_SPAN_LENGTH];
            CExchangeOutcome outcome;
            servo.ReadData(1, Reg::STATUS_SPAN_START, Reg::STATUS_SPAN_LENGTH, status, &outcome);
            if (outcome.kind != EOutcome::Good || outcome.answerId != 1 ||
                outcome.error != Reg::ALARM_OVER_HEAT)
                ++badOutcomes;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::thread page([&] {
        for (int i = 0; running; ++i) {
            const uint8_t goal[2] = {0x01, static_cast<uint8_t>(i)};
            CExchangeOutcome outcome;
            servo.WriteData(2, Reg::GOAL_POSITION, 2, goal, 2, &outcome);
            if (outcome.kind != EOutcome::Good || outcome.answerId != 2 || outcome.error != 0) ++badOutcomes;
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });
    std::thread transfer([&] {
        // Blocks nobody answers: the bytes carry no header, so the servos ignore them.
        for (uint8_t block = 1; block <= 8; ++block) {
            uint8_t frame[70] = {block, static_cast<uint8_t>(255 - block), 1};
            CExchangeOutcome outcome;
            if (servo.RawTransfer(70, frame, &outcome) != -1 || outcome.kind != EOutcome::NoAnswer)
                ++badOutcomes;
        }
    });
    sweep.join();
    transfer.join();
    running = false;
    poll.join();
    page.join();
    EXPECT_EQ(badOutcomes.load(), 0);

    std::vector<CBusFrame> frames;
    recorder.CopySince(0, frames, recorder.Capacity());
    ASSERT_EQ(frames.size(), recorder.NextSeq()) << "nothing dropped below the capacity";
    std::map<uint32_t, std::vector<const CBusFrame*>> byExchange;
    uint32_t previous = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const CBusFrame& f = frames[i];
        EXPECT_EQ(f.seq, i);
        if (f.exchange != previous) {
            EXPECT_TRUE(byExchange.find(f.exchange) == byExchange.end())
                << "exchange " << f.exchange << " split";
            EXPECT_EQ(f.direction, EDirection::Sent) << "an exchange opens with its request";
        }
        byExchange[f.exchange].push_back(&f);
        previous = f.exchange;
        if (i > 0) {
            EXPECT_GE(f.timeUs, frames[i - 1].timeUs);
        }
        EXPECT_EQ(f.rate, 1000000u);
    }
    int lastPing = -1, lastBlock = 0, lastGoal = -1;
    for (const auto& [number, parts] : byExchange) {
        EXPECT_LE(parts.size(), 2u);
        const CBusFrame& request = *parts.front();
        if (parts.size() == 2) {
            EXPECT_EQ(parts[1]->direction, EDirection::Received);
        }
        if (request.raw) {
            EXPECT_EQ(request.bytes[0], lastBlock + 1);
            lastBlock = request.bytes[0];
        } else if (request.instruction == 0x01) {
            EXPECT_EQ(request.bytes[2], lastPing + 1);
            lastPing = request.bytes[2];
        } else if (request.instruction == 0x03) {
            EXPECT_EQ(request.bytes[7], static_cast<uint8_t>(lastGoal + 1));
            lastGoal = request.bytes[7];
        }
    }
    EXPECT_EQ(lastPing, 12);
    EXPECT_EQ(lastBlock, 8);
}

}  // namespace
