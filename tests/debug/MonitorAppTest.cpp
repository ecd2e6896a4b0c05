// The status monitor inside the whole application: leaving the page and closing the window end the poll.
#include <gtest/gtest.h>

#include <QLabel>

#include "debug/RobotDlg.h"
#include "tests/app/AppFixture.h"
#include "ui/TabControl.h"

class MonitorAppTest : public AppFixture {
protected:
    CRobotDlg* Robot() const { return Main()->RobotPage(); }
    void StartPolling() {
        ASSERT_NO_FATAL_FAILURE(StartApp({1}));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Click(Child<QPushButton>(Robot(), "draw"));
        ASSERT_TRUE(WaitUntil(
            [this] { return Child<QLabel>(Robot(), "voltageValue")->text() == QLatin1String("7.4 V"); }));
    }
    bool QuietFor(int ms) {
        m_sim->ClearFrames();
        SpinEvents(ms);
        return m_sim->Frames().empty();
    }
};

TEST_F(MonitorAppTest, LeavingTheRobotTabStopsThePollAndTheButtonReadsDrawOnReturn) {
    ASSERT_NO_FATAL_FAILURE(StartPolling());
    Click(Child<CTabControl>(Main(), "tabs")->TabButton(1));
    EXPECT_FALSE(Robot()->IsDrawing());
    EXPECT_TRUE(QuietFor(80));
    Click(Child<CTabControl>(Main(), "tabs")->TabButton(0));
    EXPECT_EQ(Child<QPushButton>(Robot(), "draw")->text(), QStringLiteral("Draw"));
    EXPECT_TRUE(QuietFor(40)) << "coming back does not restart it";
}

TEST_F(MonitorAppTest, ClosingTheWindowOrEndingTheApplicationStopsThePoll) {
    ASSERT_NO_FATAL_FAILURE(StartPolling());
    Main()->close();
    EXPECT_FALSE(Robot()->IsDrawing());
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>{0});
    EXPECT_TRUE(QuietFor(60));
    m_app.reset();

    ASSERT_NO_FATAL_FAILURE(StartPolling());
    m_app.reset();  // the main window's teardown stops the poll before the pages and the link go
    EXPECT_TRUE(QuietFor(60));
}

// A pulled adapter ends the poll as leaving the page does: the button offers "Draw" again and nothing ticks
// on against the closed port.
TEST_F(MonitorAppTest, ALostPortStopsThePoll) {
    ASSERT_NO_FATAL_FAILURE(StartPolling());
    m_sim->Unplug();
    ASSERT_TRUE(WaitUntil(
        [this] { return Child<QPushButton>(Main(), "portOpen")->text() == QLatin1String("Open"); }));
    EXPECT_EQ(Child<QPushButton>(Robot(), "draw")->text(), QStringLiteral("Draw"));
    EXPECT_FALSE(Robot()->IsDrawing());
    EXPECT_FALSE(Robot()->PollTimer().IsRunning());
}
