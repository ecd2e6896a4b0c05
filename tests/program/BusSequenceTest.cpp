// The sequence worker over the real transport and the simulator: step order, waits, bus hold and stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/ControlTable.h"
#include "program/BusSequence.h"
#include "tests/support/SimulatedLink.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

CBusStep Write(uint8_t id, uint8_t address, std::vector<uint8_t> data, int waitMs, const char* log) {
    CBusStep step;
    step.id = id;
    step.address = address;
    step.data = std::move(data);
    step.waitMs = waitMs;
    step.log = log;
    return step;
}

CBusStep Read(uint8_t id) {
    CBusStep step;
    step.kind = CBusStep::EKind::Read;
    step.id = id;
    step.address = Reg::PARAM_SPAN_START;
    step.count = Reg::PARAM_SPAN_LENGTH;
    return step;
}

class BusSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_link.Open()); }
    void TearDown() override { m_sequence.reset(); }

    CBusSequence::ReportFn Collect() {
        return [this](CStepReport report) {
            const std::lock_guard<std::mutex> lock(m_mx);
            m_reports.push_back(std::move(report));
            m_cv.notify_all();
        };
    }
    bool WaitForLast(std::chrono::milliseconds timeout = 3s) {
        std::unique_lock<std::mutex> lock(m_mx);
        return m_cv.wait_for(lock, timeout, [this] { return !m_reports.empty() && m_reports.back().last; });
    }

    CSimulatedLink m_link{{1}};
    sim::CBusSimulator& m_sim = m_link.Sim();
    CServoUsb& m_usb = m_link.Usb();
    std::unique_ptr<CBusSequence> m_sequence = std::make_unique<CBusSequence>(m_usb);
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::vector<CStepReport> m_reports;
};

}  // namespace

TEST_F(BusSequenceTest, NoOtherExchangeGetsOntoTheBusBetweenTheStepsOrDuringTheirWaits) {
    // The servo's own parameters, so it still answers to ID 1 after the span write.
    const std::vector<uint8_t> table = m_sim.Table(1);
    const std::vector<uint8_t> span(table.begin() + Reg::PARAM_SPAN_START,
                                    table.begin() + Reg::PARAM_SPAN_START + Reg::PARAM_SPAN_LENGTH);
    ASSERT_TRUE(m_sequence->Start(
        {Write(1, Reg::LOCK, {0}, 50, "unlock"), Write(1, Reg::PARAM_SPAN_START, span, 150, "span"),
         Write(1, Reg::LOCK, {1}, 50, "lock")},
        Collect()));
    EXPECT_TRUE(m_sequence->IsRunning());
    EXPECT_FALSE(m_sequence->Start({Read(1)}, Collect())) << "one sequence at a time";
    // Another thread's exchange, tried while the sequence is in its first wait.
    ASSERT_TRUE(m_sim.WaitForFrames(1, 1s));
    std::thread other([this] { EXPECT_EQ(m_usb.Ping(1), 1); });
    other.join();
    ASSERT_TRUE(WaitForLast());

    const std::vector<sim::CSimFrame> frames = m_sim.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x00, 0xD2}));
    EXPECT_EQ(frames[1].bytes.size(), 6u + 26u + 1u);
    EXPECT_EQ(frames[2].bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x01, 0xD1}));
    EXPECT_EQ(frames[3].bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}))
        << "the ping came last";
    EXPECT_GE(frames[1].time - frames[0].time, 40ms);  // less a little for the simulator's wake-up
    EXPECT_GE(frames[2].time - frames[1].time, 140ms);
    EXPECT_GE(frames[3].time - frames[2].time, 40ms) << "the last wait held the bus too";

    const std::lock_guard<std::mutex> lock(m_mx);
    ASSERT_EQ(m_reports.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_reports[i].index, i);
        EXPECT_EQ(m_reports[i].result, 1);
        EXPECT_EQ(m_reports[i].last, i == 2);
    }
    EXPECT_FALSE(m_sequence->IsRunning());
}

TEST_F(BusSequenceTest, StopCutsAWaitShortAndSkipsTheRemainingSteps) {
    ASSERT_TRUE(m_sequence->Start(
        {Write(1, Reg::LOCK, {0}, 5000, "unlock"), Write(1, Reg::LOCK, {1}, 0, "lock")}, Collect()));
    ASSERT_TRUE(m_sim.WaitForFrames(1, 1s));
    const auto before = Clock::now();
    m_sequence->Stop();
    EXPECT_LT(Clock::now() - before, 1s);
    EXPECT_FALSE(m_sequence->IsRunning());
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(m_sim.Frames().size(), 1u) << "the lock was never sent";
    const std::lock_guard<std::mutex> lock(m_mx);
    ASSERT_EQ(m_reports.size(), 1u) << "only the final report: the cut step's wait did not end";
    EXPECT_EQ(m_reports[0].index, -1);
    EXPECT_TRUE(m_reports[0].last);
}
