// The status monitor against the simulator through the real transport: what the labels and the plot show,
// when the poll runs, and that stopping it is prompt and final.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

#include "debug/RobotDlg.h"
#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "sim/ServoDynamics.h"
#include "tests/debug/RobotPageFixture.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool IsStatusRead(const std::vector<uint8_t>& frame, uint8_t id) {
    return frame.size() == 8 && frame[2] == id && frame[4] == 0x02 && frame[5] == Reg::STATUS_SPAN_START &&
           frame[6] == Reg::STATUS_SPAN_LENGTH;
}

}  // namespace

class StatusMonitorTest : public CRobotPageTest {
protected:
    StatusMonitorTest() : CRobotPageTest({1, 3}) {}

    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // Pins the servo's status word to the bytes it sends (high byte first on the wire).
    void SetWire(uint8_t id, uint8_t address, uint8_t high, uint8_t low) {
        m_sim->SetRegister(id, address, high);
        m_sim->SetRegister(id, address + 1, low);
    }
    bool WaitForLabel(QLabel* label, const QString& text) {
        return WaitUntil([&] { return label->text() == text; });
    }
    std::size_t StatusReads(uint8_t id) const {
        const auto frames = m_sim->Frames();
        return static_cast<std::size_t>(
            std::count_if(frames.begin(), frames.end(),
                          [id](const sim::CSimFrame& f) { return IsStatusRead(f.bytes, id); }));
    }

    sim::CBusSimulator* const m_sim = &m_link.Sim();
    CBrennixUsb& m_transport = m_link.Transport();
};

TEST_F(StatusMonitorTest, DrawPollsTheServoAndStopKeepsTheLastReadingsOnScreen) {
    CRobotDlg& page = *m_page;
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_EQ(Child<QPushButton>(page, "draw")->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(page.IsDrawing());
    EXPECT_TRUE(page.PollTimer().IsRunning());
    ASSERT_TRUE(WaitForLabel(Child<QLabel>(page, "voltageValue"), QStringLiteral("7.4 V")));
    EXPECT_EQ(Child<QLabel>(page, "temperatureValue")->text(), QStringLiteral("31 Deg"));
    EXPECT_EQ(Child<QLabel>(page, "positionValue")->text(), QStringLiteral("512"));
    EXPECT_EQ(Child<QLabel>(page, "speedValue")->text(), QStringLiteral("0"));
    EXPECT_EQ(Child<QLabel>(page, "loadValue")->text(), QStringLiteral("0"));
    EXPECT_EQ(Child<QLabel>(page, "currentValue")->text(), QStringLiteral("0"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().size() >= 5; }));
    EXPECT_EQ(page.Plot().Positions().back(), 512);
    EXPECT_EQ(page.Plot().Speeds().back(), 500);
    EXPECT_EQ(page.Plot().Loads().back(), 500);
    EXPECT_GT(page.Plot().Width(), 0) << "the page was painted";
    const auto frames = m_sim->Frames();
    EXPECT_TRUE(std::all_of(frames.begin(), frames.end(),
                            [](const sim::CSimFrame& f) { return IsStatusRead(f.bytes, 1); }));

    Click(Child<QPushButton>(page, "draw"));
    EXPECT_EQ(Child<QPushButton>(page, "draw")->text(), QStringLiteral("Draw"));
    EXPECT_FALSE(page.IsDrawing());
    const std::size_t kept = page.Plot().Positions().size();
    EXPECT_GE(kept, 5u);
    m_sim->ClearFrames();
    SpinEvents(80);
    EXPECT_TRUE(m_sim->Frames().empty()) << "no tick after the stop";
    EXPECT_EQ(page.Plot().Positions().size(), kept) << "the last curves stay";
    EXPECT_EQ(Child<QLabel>(page, "voltageValue")->text(), QStringLiteral("7.4 V"));
}

TEST_F(StatusMonitorTest, ReadingsFollowTheWireBytesTheByteOrderAndTheSelectedServo) {
    CRobotDlg& page = *m_page;
    SetWire(1, Reg::PRESENT_POSITION, 0x80, 0x05);
    SetWire(1, Reg::PRESENT_SPEED, 0x04, 0x64);
    SetWire(1, Reg::PRESENT_LOAD, 0x00, 0x64);
    m_sim->SetRegister(1, Reg::PRESENT_VOLTAGE, 120);
    SetWire(3, Reg::PRESENT_POSITION, 0x02, 0x00);
    SetWire(3, Reg::PRESENT_LOAD, 0x04, 0x03);

    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitForLabel(Child<QLabel>(page, "positionValue"), QStringLiteral("-5")));
    EXPECT_EQ(Child<QLabel>(page, "speedValue")->text(), QStringLiteral("-100"));
    EXPECT_EQ(Child<QLabel>(page, "loadValue")->text(), QStringLiteral("100"));
    EXPECT_EQ(Child<QLabel>(page, "voltageValue")->text(), QStringLiteral("12.0 V"));
    EXPECT_EQ(page.Plot().Positions().back(), -5);
    EXPECT_EQ(page.Plot().Speeds().back(), 0);
    EXPECT_EQ(page.Plot().Loads().back(), 450);

    // Another servo picked while polling: the next ticks read it, and its curve continues the old one.
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("3"));
    ASSERT_TRUE(WaitForLabel(Child<QLabel>(page, "positionValue"), QStringLiteral("512")));
    EXPECT_EQ(Child<QLabel>(page, "loadValue")->text(), QStringLiteral("-3"));
    EXPECT_EQ(Child<QLabel>(page, "voltageValue")->text(), QStringLiteral("7.4 V"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Loads().back() == 502; }));
    EXPECT_EQ(page.Plot().Loads().front(), 450);
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_GT(StatusReads(3), 0u);
    // Once the poll has stopped the image holds the last reading in host order (low byte first).
    EXPECT_EQ(m_usb.Image()[Reg::PRESENT_LOAD], 0x03);
    EXPECT_EQ(m_usb.Image()[Reg::PRESENT_LOAD + 1], 0x04);
    EXPECT_EQ(m_usb.Image()[Reg::PRESENT_POSITION], 0x00);
    EXPECT_EQ(m_usb.Image()[Reg::PRESENT_POSITION + 1], 0x02);

    // With the flag clear the words are taken low byte first, so the same bytes mean something else.
    m_usb.Image()[Reg::HIGH_BYTE_FIRST] = 0;
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitForLabel(Child<QLabel>(page, "positionValue"), QStringLiteral("2")));
    EXPECT_EQ(Child<QLabel>(page, "loadValue")->text(), QStringLiteral("772"));  // 0x0304
    Click(Child<QPushButton>(page, "draw"));
}

// A value whose alarm bit the servo's status carries turns red while the bit is set, and back when it clears.
TEST_F(StatusMonitorTest, AStatusFieldIsRedWhileItsAlarmBitIsSet) {
    CRobotDlg& page = *m_page;
    QLabel* voltage = Child<QLabel>(page, "voltageValue");
    QLabel* temperature = Child<QLabel>(page, "temperatureValue");
    QLabel* load = Child<QLabel>(page, "loadValue");
    const auto red = [](QLabel* label) { return label->styleSheet().contains(QLatin1String("color")); };
    m_sim->SetRegister(1, Reg::PRESENT_VOLTAGE, 30);  // below MIN_VOLTAGE: bit 0x01
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitForLabel(voltage, QStringLiteral("3.0 V")));
    ASSERT_TRUE(WaitUntil([&] { return red(voltage); }));
    EXPECT_FALSE(red(temperature));
    EXPECT_FALSE(red(load));

    m_sim->SetRegister(1, Reg::PRESENT_VOLTAGE, 74);
    m_sim->SetRegister(1, Reg::MAX_TEMPERATURE, 20);  // 31 degrees is over it: bit 0x04
    ASSERT_TRUE(WaitUntil([&] { return red(temperature) && !red(voltage); }));
    EXPECT_FALSE(red(load));
    SaveGrab(&page, QStringLiteral("robot_over_heat"));
    m_sim->SetRegister(1, Reg::MAX_TEMPERATURE, 80);
    ASSERT_TRUE(WaitUntil([&] { return !red(temperature); }));
    Click(Child<QPushButton>(page, "draw"));
}

TEST_F(StatusMonitorTest, AnEmptyOrZeroCycleStartsNothingAndZoomZeroKeepsTheStep) {
    CRobotDlg& page = *m_page;
    for (const QString& cycle : {QString(), QStringLiteral("0"), QStringLiteral("00")}) {
        Type(Child<QLineEdit>(page, "cycle"), cycle);
        Click(Child<QPushButton>(page, "draw"));
        EXPECT_EQ(Child<QPushButton>(page, "draw")->text(), QStringLiteral("Draw"));
        EXPECT_FALSE(page.IsDrawing());
    }
    SpinEvents(60);
    EXPECT_TRUE(m_sim->Frames().empty());

    Type(Child<QLineEdit>(page, "cycle"), QStringLiteral("20"));
    Type(Child<QLineEdit>(page, "zoom"), QStringLiteral("5"));
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().size() >= 2; }));
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_EQ(page.Plot().Zoom(), 5);

    Type(Child<QLineEdit>(page, "zoom"), QStringLiteral("0"));
    m_sim->ClearFrames();
    const Clock::time_point start = Clock::now();
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_EQ(page.Plot().Zoom(), 5);
    EXPECT_TRUE(page.Plot().Positions().empty()) << "a start empties the plot";
    ASSERT_TRUE(WaitUntil([&] { return m_sim->Frames().size() >= 4; }, 5000));
    Click(Child<QPushButton>(page, "draw"));
    const auto frames = m_sim->Frames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_GE(frames.front().time - start, 18ms) << "the first tick comes one period after the start";
    // Never faster than the cycle on average, however the ticks were woken.
    EXPECT_GE((frames.back().time - frames.front().time) / (frames.size() - 1), 18ms);
}

TEST_F(StatusMonitorTest, AMissingServoOrAClosedPortLeavesTheLabelsAndStopsThePlot) {
    CRobotDlg& page = *m_page;
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitForLabel(Child<QLabel>(page, "voltageValue"), QStringLiteral("7.4 V")));
    m_sim->RemoveServo(1);
    SpinEvents(60);  // readings already on their way land
    const std::size_t samples = page.Plot().Positions().size();
    m_sim->ClearFrames();
    EXPECT_TRUE(WaitUntil([&] { return StatusReads(1) >= 2; }, 5000)) << "the poll keeps trying";
    EXPECT_EQ(page.Plot().Positions().size(), samples);
    EXPECT_EQ(Child<QLabel>(page, "voltageValue")->text(), QStringLiteral("7.4 V"));
    EXPECT_EQ(Child<QLabel>(page, "positionValue")->text(), QStringLiteral("512"));

    m_transport.Close();
    SpinEvents(60);
    EXPECT_EQ(page.Plot().Positions().size(), samples);
    EXPECT_EQ(Child<QPushButton>(page, "draw")->text(), QStringLiteral("Stop"))
        << "a closed port does not stop the poll";
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_FALSE(page.IsDrawing());
}

TEST_F(StatusMonitorTest, CommandsAndTicksShareTheBusAndStoppingIsPromptEvenAtOneMillisecond) {
    CRobotDlg& page = *m_page;
    Type(Child<QLineEdit>(page, "cycle"), QStringLiteral("1"));
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().size() >= 3; }));
    m_sim->ClearFrames();
    for (int goal = 600; goal < 640; ++goal) Child<QSlider>(page, "goal")->setValue(goal);
    SpinEvents(20);
    const Clock::time_point stopAt = Clock::now();
    Click(Child<QPushButton>(page, "draw"));
    EXPECT_LT(Clock::now() - stopAt, 100ms);

    // Every frame arrived whole (the simulator records only well-formed ones) and in the order sent.
    std::vector<int> goals;
    for (const sim::CSimFrame& f : m_sim->Frames())
        if (f.bytes.size() > 6 && f.bytes[4] == 0x03) goals.push_back(f.bytes[6] << 8 | f.bytes[7]);
    ASSERT_EQ(goals.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(goals[i], 600 + i);
    EXPECT_GT(StatusReads(1), 0u);

    // A page destroyed while it polls stops its poll first.
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().size() >= 3; }));
    m_page.reset();
    m_sim->ClearFrames();
    SpinEvents(40);
    EXPECT_TRUE(m_sim->Frames().empty());
}

TEST_F(StatusMonitorTest, EachTraceBoxSwitchesTheTraceOfItsOwnQuantity) {
    CRobotDlg& page = *m_page;
    EXPECT_EQ(page.Plot().TraceMask(), kTracePosition);
    Click(Child<QCheckBox>(page, "traceLoad"));
    EXPECT_EQ(page.Plot().TraceMask(), kTracePosition | kTraceLoad);
    Click(Child<QCheckBox>(page, "traceSpeed"));
    EXPECT_EQ(page.Plot().TraceMask(), kTracePosition | kTraceLoad | kTraceSpeed);
    Click(Child<QCheckBox>(page, "tracePosition"));
    Click(Child<QCheckBox>(page, "traceLoad"));
    EXPECT_EQ(page.Plot().TraceMask(), kTraceSpeed);
}

TEST_F(StatusMonitorTest, TheCurvesFollowTheServoAsTheGoalSliderMovesIt) {
    CRobotDlg& page = *m_page;
    Click(Child<QCheckBox>(page, "traceLoad"));
    Click(Child<QCheckBox>(page, "traceSpeed"));
    Click(Child<QCheckBox>(page, "torque"));
    Click(Child<QPushButton>(page, "draw"));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().size() >= 3; }));
    Child<QSlider>(page, "goal")->setValue(900);  // speed 50: 500 units/s, so about 0.8 s to get there
    ASSERT_TRUE(WaitUntil([&] { return Child<QLabel>(page, "speedValue")->text() == QLatin1String("50"); }));
    ASSERT_TRUE(WaitUntil([&] { return page.Plot().Positions().back() > 700; }));
    SaveGrab(&page, QStringLiteral("robot_page_polling"));
    const auto& speeds = page.Plot().Speeds();
    EXPECT_NE(std::find(speeds.begin(), speeds.end(), 750), speeds.end());
    // Cruising, the motor's load is the gear train's friction.
    const auto& loads = page.Plot().Loads();
    const int cruise = static_cast<int>(std::lround(sim::CServoDynamics::kFriction));
    EXPECT_NE(std::find(loads.begin(), loads.end(), LoadSample(cruise)), loads.end());
    // It comes to rest within the dead band of 1 below the goal.
    ASSERT_TRUE(WaitUntil([&] { return Child<QLabel>(page, "positionValue")->text().toInt() >= 899; }));
    const auto& positions = page.Plot().Positions();
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the shaft only rose";
    Click(Child<QPushButton>(page, "draw"));
}
