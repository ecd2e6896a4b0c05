// The step response window of the ROBOT page on a simulated servo: runs overlaid with their coefficients,
// fields refused before anything is sent, a run stopped with the servo put back; and the plot's axes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "debug/StepPlotScale.h"
#include "debug/StepWindow.h"
#include "tests/debug/RobotPageFixture.h"
#include "tests/ui/GuiTest.h"

namespace {

class StepWindowTest : public CRobotPageTest {
protected:
    StepWindowTest() : CRobotPageTest({1}) {}

    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    CStepWindow& Open() {
        Click(Child<QPushButton>(*m_page, "step"));
        CStepWindow* window = m_page->StepResponse();
        if (!window) throw std::runtime_error("no step window");
        return *window;
    }
    // Runs a step with these set values and waits for its outcome.
    bool RunWith(CStepWindow& window, const QString& set) {
        Child<QLineEdit>(window, "set")->setText(set);
        Click(Child<QPushButton>(window, "run"));
        return WaitUntil([&] { return !window.IsRunning(); }, 15000);
    }
    uint8_t Register(uint8_t address) { return m_link.Sim().Table(1).at(address); }
};

TEST_F(StepWindowTest, OverlaysTheLastRunsWithTheirCoefficientsAndPutsTheServoBack) {
    CStepWindow& window = Open();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Child<QLineEdit>(window, "id")->text(), QStringLiteral("1")) << "the page's servo";
    Child<QLineEdit>(window, "seconds")->setText(QStringLiteral("1.6"));
    window.resize(980, 520);

    ASSERT_TRUE(RunWith(window, QString()));
    ASSERT_TRUE(RunWith(window, QStringLiteral("P=60")));
    ASSERT_TRUE(RunWith(window, QStringLiteral("D=10")));
    ASSERT_EQ(window.RunCount(), 3) << window.StatusText().toStdString();
    EXPECT_EQ(window.StatusText(), QStringLiteral("Done."));
    const auto& traces = window.Plot().Traces();
    EXPECT_TRUE(traces[0].legend.startsWith(QStringLiteral("V20 P15 D100 I0 PUNCH100 DB1/1: 0.0 %")))
        << traces[0].legend.toStdString();
    EXPECT_TRUE(traces[1].legend.startsWith(QStringLiteral("V20 P60 D100")))
        << traces[1].legend.toStdString();
    EXPECT_TRUE(traces[2].legend.startsWith(QStringLiteral("V20 P15 D10 ")))
        << traces[2].legend.toStdString();
    EXPECT_NE(traces[1].color, traces[2].color);
    EXPECT_TRUE(window.MetricsText().startsWith(QStringLiteral("rise time: "))) << "the newest run's";
    SaveGrab(&window, QStringLiteral("step_response_overlay"));

    EXPECT_EQ(Register(Reg::P_COEFF), 15);
    EXPECT_EQ(Register(Reg::D_COEFF), 100);
    EXPECT_EQ(Register(Reg::LOCK), 1);
    EXPECT_EQ(Register(Reg::TORQUE_ENABLE), 0);

    Child<QLineEdit>(window, "seconds")->setText(QStringLiteral("0.2"));
    for (int i = 0; i < CStepWindow::kKeptRuns; ++i) ASSERT_TRUE(RunWith(window, QStringLiteral("P=20")));
    EXPECT_EQ(window.RunCount(), CStepWindow::kKeptRuns) << "the oldest runs go";
    Click(Child<QPushButton>(window, "clear"));
    EXPECT_EQ(window.RunCount(), 0);
}

TEST_F(StepWindowTest, RefusesBadFieldsAndStopsARunWithTheServoPutBack) {
    CStepWindow& window = Open();
    m_link.Sim().ClearFrames();
    Child<QLineEdit>(window, "set")->setText(QStringLiteral("Q=1"));
    EXPECT_FALSE(window.Run());
    EXPECT_TRUE(window.StatusText().contains(QStringLiteral("'Q' is not a coefficient")))
        << window.StatusText().toStdString();
    Child<QLineEdit>(window, "set")->clear();
    Child<QLineEdit>(window, "to")->setText(QStringLiteral("1024"));
    EXPECT_FALSE(window.Run());
    EXPECT_TRUE(m_link.Sim().Frames().empty()) << "nothing sent";

    m_link.Sim().SetRegister(1, Reg::LOCK, 0);
    m_link.Sim().SetRegister(1, Reg::MAX_POSITION_LIMIT, 0x02);  // 600
    m_link.Sim().SetRegister(1, Reg::MAX_POSITION_LIMIT + 1, 0x58);
    m_link.Sim().SetRegister(1, Reg::LOCK, 1);
    Child<QLineEdit>(window, "to")->setText(QStringLiteral("712"));
    ASSERT_TRUE(RunWith(window, QString()));
    EXPECT_EQ(window.StatusText(), QStringLiteral("TO 712 is outside servo 1's position limits 0..600"));
    EXPECT_EQ(window.RunCount(), 0);

    Child<QLineEdit>(window, "to")->setText(QStringLiteral("500"));
    Child<QLineEdit>(window, "seconds")->setText(QStringLiteral("10"));
    Child<QLineEdit>(window, "set")->setText(QStringLiteral("P=40"));
    ASSERT_TRUE(window.Run());
    EXPECT_EQ(Child<QPushButton>(window, "run")->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(Child<QLineEdit>(window, "from")->isEnabled());
    ASSERT_TRUE(
        WaitUntil([&] { return Register(Reg::P_COEFF) == 40 && Register(Reg::TORQUE_ENABLE) == 1; }, 5000));
    Click(Child<QPushButton>(window, "run"));
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 5000));
    EXPECT_TRUE(window.StatusText().startsWith(QStringLiteral("interrupted")))
        << window.StatusText().toStdString();
    EXPECT_EQ(Register(Reg::P_COEFF), 15);
    EXPECT_EQ(Register(Reg::TORQUE_ENABLE), 0);
    EXPECT_TRUE(Child<QLineEdit>(window, "from")->isEnabled());
}

TEST_F(StepWindowTest, ClosingThePageDuringARunStopsItFirst) {
    CStepWindow& window = Open();
    Child<QLineEdit>(window, "seconds")->setText(QStringLiteral("10"));
    Child<QLineEdit>(window, "set")->setText(QStringLiteral("D=50"));
    ASSERT_TRUE(window.Run());
    ASSERT_TRUE(WaitUntil([&] { return Register(Reg::D_COEFF) == 50; }, 5000));
    m_page.reset();
    EXPECT_EQ(Register(Reg::D_COEFF), 100) << "put back before the page went";
}

TEST(StepPlotScale, RoundsItsAxesOutToTicksAReaderCanFollow) {
    EXPECT_DOUBLE_EQ(TickStep(2000, 10), 200);
    EXPECT_DOUBLE_EQ(TickStep(430, 8), 100);
    EXPECT_DOUBLE_EQ(TickStep(0.9, 10), 0.1);
    EXPECT_DOUBLE_EQ(TickStep(130, 10), 20);

    const std::vector<CStepSample> samples = {{0.4, 312}, {800, 745}, {1600.3, 712}};
    const CStepScale scale = ScaleFor({{&samples, 312, 712}});
    EXPECT_DOUBLE_EQ(scale.time.low, 0);
    EXPECT_DOUBLE_EQ(scale.time.high, 1600);
    EXPECT_LE(scale.position.low, 312 - scale.position.tick + 1e-9) << "a tick's room below the start";
    EXPECT_GE(scale.position.high, 745 + scale.position.tick - 1e-9) << "and above the overshoot";
    EXPECT_DOUBLE_EQ(scale.position.Map(scale.position.low, 300, 10), 300) << "low at the bottom";
    EXPECT_DOUBLE_EQ(scale.position.Map(scale.position.high, 300, 10), 10);
    const CStepScale empty = ScaleFor({});
    EXPECT_GT(empty.time.high, empty.time.low);
}

}  // namespace
