// "Diagnose…" in the running application: the doctor's report on the simulated bus while the pages rest, a
// closed port reported as such, and the window closed mid-run without a worker left behind.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>

#include "app/DiagnoseWindow.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"

namespace {

class DiagnoseTest : public AppFixture {
protected:
    CDiagnoseWindow* Window() const { return Main()->DiagnoseWindow(); }
    bool WaitForReport() {
        return WaitUntil([this] { return Window() && !Window()->IsRunning(); }, 20000);
    }
};

TEST_F(DiagnoseTest, ShowsTheDoctorsReportWhileThePagesRest) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 2}));
    m_sim->SetRegister(2, Reg::PRESENT_TEMPERATURE, 90);
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Main(), "diagnose"));
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(Window()->isVisible());
    EXPECT_FALSE(Main()->RobotPage()->isEnabled()) << "the scan holds the bus at other rates";
    EXPECT_FALSE(Child<QPushButton>(Main(), "portOpen")->isEnabled());
    ASSERT_TRUE(WaitForReport());
    EXPECT_TRUE(Main()->RobotPage()->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(Main(), "portOpen")->isEnabled());

    const QString text = Window()->ReportText();
    EXPECT_TRUE(text.contains(QStringLiteral("ok    bus                servos: 1000000 baud: IDs 1, 2")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("fail  servo 2 @ 1000000  alarms: over-heat")));
    EXPECT_TRUE(text.contains(QStringLiteral("port opens: ") + QString::fromStdString(m_sim->SlavePath()) +
                              QStringLiteral(" opens (the doctor has it open)")));
    EXPECT_EQ(Child<QLabel>(Window(), "status")->text(),
              QStringLiteral("Something failed: see the hints after the dashes."));
    SaveGrab(Window(), QStringLiteral("diagnose_window"));
    SaveGrab(Main(), QStringLiteral("main_with_diagnose_button"));

    Click(Child<QPushButton>(Window(), "copy"));
    EXPECT_TRUE(
        QGuiApplication::clipboard()->text().startsWith(QStringLiteral("| result | where | check |")));

    // The same window again, not a second one; a run with the move check steps the servos and puts them back.
    Click(Child<QPushButton>(Main(), "diagnose"));
    EXPECT_EQ(Main()->findChildren<CDiagnoseWindow*>().size(), 1);
    Child<QCheckBox>(Window(), "move")->setChecked(true);
    Click(Child<QPushButton>(Window(), "run"));
    ASSERT_TRUE(WaitForReport());
    EXPECT_TRUE(Window()->ReportText().contains(QStringLiteral("servo 1 @ 1000000  moves: moved 512 -> ")))
        << Window()->ReportText().toStdString();
    EXPECT_EQ(m_sim->Table(1).at(Reg::TORQUE_ENABLE), 0);
}

TEST_F(DiagnoseTest, WithThePortClosedChecksTheHostOnlyAndAClosedWindowLeavesNothingRunning) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    Click(Child<QPushButton>(Main(), "diagnose"));
    ASSERT_TRUE(WaitForReport());
    EXPECT_TRUE(Window()->ReportText().contains(
        QStringLiteral("skip  bus   servos: the port is not open — press Open")))
        << Window()->ReportText().toStdString();

    ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("1000000")));
    ASSERT_TRUE(Window()->Run());
    Window()->close();  // mid-scan: the worker stops and is joined, the pages come back
    const std::size_t frames = m_sim->Frames().size();
    ASSERT_TRUE(WaitUntil([this] { return Window() == nullptr; })) << "deleted on close";
    SpinEvents(100);
    EXPECT_EQ(m_sim->Frames().size(), frames) << "no worker left sending";
    EXPECT_TRUE(Main()->RobotPage()->isEnabled());
    EXPECT_TRUE(Main()->ProgramPage()->isEnabled());
}

}  // namespace
