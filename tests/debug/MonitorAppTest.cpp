// The status monitor inside the whole application: leaving the page and closing the window end the poll.
#include <gtest/gtest.h>

#include <QLabel>

#include "AppFixture.h"
#include "RobotDlg.h"
#include "TabControl.h"

class MonitorAppTest : public AppFixture {
protected:
    CRobotDlg* Robot() const { return Main()->m_pRobotPage; }
    void StartPolling() {
        ASSERT_NO_FATAL_FAILURE(StartApp({1}));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Click(Robot()->m_btnDraw);
        ASSERT_TRUE(
            WaitUntil([this] { return Robot()->m_labelVoltageValue->text() == QLatin1String("7.4 V"); }));
    }
    bool QuietFor(int ms) {
        m_sim->ClearFrames();
        SpinEvents(ms);
        return m_sim->Frames().empty();
    }
};

TEST_F(MonitorAppTest, LeavingTheRobotTabStopsThePollAndTheButtonReadsDrawOnReturn) {
    ASSERT_NO_FATAL_FAILURE(StartPolling());
    Click(Main()->m_tab->TabButton(1));
    EXPECT_EQ(Robot()->m_nTimerId, -1);
    EXPECT_TRUE(QuietFor(80));
    Click(Main()->m_tab->TabButton(0));
    EXPECT_EQ(Robot()->m_btnDraw->text(), QStringLiteral("Draw"));
    EXPECT_TRUE(QuietFor(40)) << "coming back does not restart it";
}

TEST_F(MonitorAppTest, ClosingTheWindowOrEndingTheApplicationStopsThePoll) {
    ASSERT_NO_FATAL_FAILURE(StartPolling());
    Main()->close();
    EXPECT_EQ(Robot()->m_nTimerId, -1);
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
    ASSERT_TRUE(WaitUntil([this] { return Main()->m_btnOpen->text() == QLatin1String("Open"); }));
    EXPECT_EQ(Robot()->m_btnDraw->text(), QStringLiteral("Draw"));
    EXPECT_EQ(Robot()->m_nTimerId, -1);
    EXPECT_FALSE(Robot()->PollTimer().IsRunning());
}
