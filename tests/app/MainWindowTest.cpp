// The main window: the serial panel, page switching, node pick, a lost port and shutting down.
#include <QAbstractButton>
#include <QElapsedTimer>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"
#include "ui/TabControl.h"
#include "upgrade/ServoTest.h"

using MainWindowTest = AppFixture;

TEST_F(MainWindowTest, OpenAndCloseSwitchThePanelAndTheLineRate) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    EXPECT_FALSE(Child<QComboBox>(main, "portBaud")->isEnabled());
    EXPECT_TRUE(main->IsPortOpen());
    EXPECT_EQ(main->Baud(), 1000000);
    EXPECT_TRUE(m_app->m_pTransport->IsOpen());
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 1);

    Click(Child<QPushButton>(main, "portOpen"));
    EXPECT_EQ(Child<QPushButton>(main, "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(Child<QComboBox>(main, "portBaud")->isEnabled());
    EXPECT_FALSE(main->IsPortOpen());
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());

    // The servo listens at 1000000 only: at another rate its ID stays silent.
    ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("500000")));
    EXPECT_EQ(main->Baud(), 500000);
    m_sim->ClearFrames();
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 0);
    ASSERT_TRUE(m_sim->WaitForFrames(1, std::chrono::seconds(1)));
    EXPECT_EQ(m_sim->Frames().front().baud, 500000u);

    Click(Child<QPushButton>(main, "portOpen"));
    ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("1000000")));
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 1);
}

TEST_F(MainWindowTest, APortThatCannotBeOpenedChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    m_sim->Unplug();
    Click(Child<QPushButton>(Main(), "portOpen"));
    EXPECT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(Child<QComboBox>(Main(), "portBaud")->isEnabled());
    EXPECT_FALSE(Main()->IsPortOpen());
    EXPECT_TRUE(Child<QPlainTextEdit>(Main(), "nodeLog")->toPlainText().isEmpty());
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(MainWindowTest, LeavingTheRobotPageStopsItsDrawingAndShowsTheNewPage) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    CRobotDlg* robot = main->RobotPage();
    // A poll as the status monitor leaves it while running.
    robot->StartDrawing(1000);
    ASSERT_TRUE(robot->IsDrawing());
    Child<QPushButton>(robot, "draw")->setText(QStringLiteral("Stop"));

    Click(Child<CTabControl>(main, "tabs")->TabButton(1));
    EXPECT_EQ(main->CurrentPage(), 1);
    EXPECT_TRUE(main->ProgramPage()->isVisible());
    EXPECT_TRUE(robot->isHidden());
    EXPECT_FALSE(robot->IsDrawing());
    EXPECT_EQ(Child<QPushButton>(robot, "draw")->text(), QStringLiteral("Draw"));

    Click(Child<CTabControl>(main, "tabs")->TabButton(1));
    EXPECT_TRUE(main->ProgramPage()->isVisible());

    Click(Child<CTabControl>(main, "tabs")->TabButton(2));
    EXPECT_TRUE(main->UpgradePage()->isVisible());
    SaveGrab(main, QStringLiteral("main_window_upgrade"));
    EXPECT_TRUE(main->ProgramPage()->isHidden());

    Click(Child<CTabControl>(main, "tabs")->TabButton(0));
    EXPECT_TRUE(robot->isVisible());
    EXPECT_TRUE(main->UpgradePage()->isHidden());
    EXPECT_EQ(Child<QPushButton>(robot, "draw")->text(), QStringLiteral("Draw"));
}

TEST_F(MainWindowTest, PickingANodeSetsTheIdOfEveryPage) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    main->AddNode(12, 500000);
    main->AddNode(7, 1000000);
    QTableWidget* list = Child<QTableWidget>(main, "nodes");
    const QRect row7 = list->visualItemRect(list->item(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row7.center());
    EXPECT_EQ(Child<QLineEdit>(main->RobotPage(), "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(Image()[Reg::ID], 7);
    EXPECT_EQ(Child<QLineEdit>(main->ProgramPage(), "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(Child<QLineEdit>(main->UpgradePage(), "id")->text(), QStringLiteral("7"));

    // Below the last row: no node is hit, so nothing is picked.
    const QRect below(row7.left(), row7.bottom() + 3 * row7.height(), row7.width(), row7.height());
    ASSERT_LT(below.bottom(), list->viewport()->height());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below.center());
    EXPECT_EQ(Child<QLineEdit>(main->RobotPage(), "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(Image()[Reg::ID], 7);
    EXPECT_EQ(Child<QLineEdit>(main->ProgramPage(), "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(Child<QLineEdit>(main->UpgradePage(), "id")->text(), QStringLiteral("7"));
}

// The servo the pages act on is the window's: a pick and the ROBOT page's ID field both set it, and the
// UPGRADE page is handed it (its own ID field only names the servo whose versions READ shows).
TEST_F(MainWindowTest, TheTargetServoFollowsAPickAndTheRobotIdField) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    EXPECT_EQ(main->TargetId(), Image()[Reg::ID]);
    main->AddNode(7, 1000000);
    QTableWidget* list = Child<QTableWidget>(main, "nodes");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0, 0)).center());
    EXPECT_EQ(main->TargetId(), 7);
    Child<QLineEdit>(main->RobotPage(), "id")->setText(QStringLiteral("9"));
    EXPECT_EQ(main->TargetId(), 9);
    EXPECT_EQ(Image()[Reg::ID], 9);
    Child<QLineEdit>(main->UpgradePage(), "id")->setText(QStringLiteral("4"));
    EXPECT_EQ(main->TargetId(), 9) << "the UPGRADE page's field does not pick the target";
}

TEST_F(MainWindowTest, AnUnpluggedAdapterClosesThePortWithOneLogLine) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    m_sim->Unplug();
    Child<QCheckBox>(main, "singleNode")->setChecked(true);
    Click(Child<QPushButton>(main, "search"));  // the broadcast ping finds the port gone
    ASSERT_TRUE(
        WaitUntil([main] { return Child<QPushButton>(main, "portOpen")->text() == QLatin1String("Open"); }));
    SpinEvents(50);
    EXPECT_TRUE(Child<QComboBox>(main, "portBaud")->isEnabled());
    EXPECT_FALSE(main->IsPortOpen());
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("lost")));
    EXPECT_TRUE(Nodes().isEmpty());
}

TEST_F(MainWindowTest, AnUnpluggedAdapterEndsARunningSweep) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    Click(Child<QPushButton>(main, "search"));
    ASSERT_TRUE(WaitUntil([this] { return LogLines().size() >= 3; }));
    m_sim->Unplug();
    ASSERT_TRUE(
        WaitUntil([main] { return Child<QPushButton>(main, "portOpen")->text() == QLatin1String("Open"); }));
    ASSERT_TRUE(WaitForSweepEnd(2000));
    SpinEvents(50);
    EXPECT_EQ(LogLines().filter(QStringLiteral("lost")).size(), 1);
    EXPECT_LT(LogLines().size(), 254);
    EXPECT_TRUE(Child<QComboBox>(main, "portBaud")->isEnabled());
}

TEST_F(MainWindowTest, ClosingDuringASweepStopsItClosesThePortAndQuits) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 3}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    Click(Child<QPushButton>(main, "search"));
    ASSERT_TRUE(WaitUntil([this] { return LogLines().size() >= 5; }));
    QElapsedTimer timer;
    timer.start();
    main->close();
    // The worker was waited for: within about one exchange, and the link is free and closed.
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(main->IsSearching());
    EXPECT_FALSE(main->IsPortOpen());
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    m_sim->ClearFrames();
    SpinEvents(100);
    EXPECT_TRUE(m_sim->Frames().empty());
    m_app.reset();  // destroying everything right after must be clean as well
}

TEST_F(MainWindowTest, ExitStopsASweepAsClosingDoes) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitUntil([this] { return LogLines().size() >= 2; }));
    Child<QPushButton>(Splash(), "exit")->click();
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    m_sim->ClearFrames();
    SpinEvents(100);
    EXPECT_TRUE(m_sim->Frames().empty());
}
