// Start-up: the objects built at start, the splash's Enter and Exit, and the window states they lead to.
#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"
#include "ui/TabControl.h"
#include "upgrade/ServoTest.h"

namespace {

constexpr const char* kMissingPort = "/nonexistent/brennix-test-port";

}  // namespace

using StartupTest = AppFixture;

TEST_F(StartupTest, FreshStartShowsOnlyTheSplashOverAReadyMainWindow) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Splash()));
    EXPECT_TRUE(Splash()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Splash()->pos(), QPoint(0, 0));
    EXPECT_EQ(Child<QPushButton>(Splash(), "enter")->text(), QStringLiteral("Enter"));
    EXPECT_EQ(Child<QPushButton>(Splash(), "exit")->text(), QStringLiteral("Exit"));
    SaveGrab(Splash(), QStringLiteral("splash"));
    // The dark background picture covers the whole window, corners included.
    const QImage shot = Splash()->grab().toImage();
    EXPECT_LT(shot.pixelColor(2, 2).lightness(), 100);
    EXPECT_LT(shot.pixelColor(shot.width() - 3, shot.height() - 3).lightness(), 100);

    CServoMain* main = Main();
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Brennix Debug V1.0"));
    QStringList bauds;
    for (int i = 0; i < Child<QComboBox>(main, "portBaud")->count(); ++i)
        bauds << Child<QComboBox>(main, "portBaud")->itemText(i);
    EXPECT_EQ(bauds,
              QStringList({"1000000", "500000", "250000", "128000", "115200", "76800", "57600", "38400"}));
    EXPECT_EQ(Child<QComboBox>(main, "portBaud")->currentText(), QStringLiteral("1000000"));
    EXPECT_EQ(Child<QPushButton>(main, "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_EQ(Child<QPushButton>(main, "search")->text(), QStringLiteral("Search"));
    EXPECT_FALSE(main->IsPortOpen());
    EXPECT_EQ(Child<QTableWidget>(main, "nodes")->rowCount(), 0);
    EXPECT_EQ(Child<QTableWidget>(main, "nodes")->horizontalHeaderItem(0)->text(), QStringLiteral("ID"));
    EXPECT_EQ(Child<QTableWidget>(main, "nodes")->horizontalHeaderItem(1)->text(), QStringLiteral("Baud"));
    EXPECT_EQ(Child<QTableWidget>(main, "nodes")->columnWidth(0), 60);
    EXPECT_EQ(Child<QTableWidget>(main, "nodes")->columnWidth(1), 120);
    ASSERT_EQ(Child<CTabControl>(main, "tabs")->TabCount(), 3);
    EXPECT_EQ(Child<CTabControl>(main, "tabs")->TabButton(0)->text(), QStringLiteral("ROBOT"));
    EXPECT_EQ(Child<CTabControl>(main, "tabs")->TabButton(1)->text(), QStringLiteral("PROGRAM"));
    EXPECT_EQ(Child<CTabControl>(main, "tabs")->TabButton(2)->text(), QStringLiteral("UPGRADE"));
    // The pages exist, are the tab control's children and have run their opening, but none is shown yet.
    EXPECT_EQ(main->Page(0), main->RobotPage());
    EXPECT_EQ(main->Page(1), main->ProgramPage());
    EXPECT_EQ(main->Page(2), main->UpgradePage());
    for (QWidget* page : {main->Page(0), main->Page(1), main->Page(2)}) {
        EXPECT_EQ(page->parentWidget(), Child<CTabControl>(main, "tabs"));
        EXPECT_TRUE(page->isHidden());
        EXPECT_GE(page->y(), Child<CTabControl>(main, "tabs")->TabRowHeight());
    }
    EXPECT_EQ(Child<QLineEdit>(main->UpgradePage(), "id")->text(), QStringLiteral("1"));
    // The pictures come from the resources built into the program.
    EXPECT_FALSE(main->windowIcon().isNull());
    EXPECT_FALSE(Splash()->windowIcon().isNull());
    EXPECT_EQ(Child<QLabel>(main->UpgradePage(), "picture")->pixmap().size(), QSize(257, 216));
    EXPECT_EQ(Child<QLabel>(main->UpgradePage(), "picture")->size(), QSize(257, 216));
    EXPECT_EQ(Image()[Reg::HIGH_BYTE_FIRST], 0);
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(StartupTest, EnterWithTheAdapterShowsTheRobotPageWithThePortStillClosed) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 3}));
    m_app->m_pUsb->SetMaxPosition(500);  // Enter restores the limit before the sliders are set up
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    EXPECT_TRUE(Splash()->isHidden());
    EXPECT_EQ(main->pos(), QPoint(0, 0));
    EXPECT_EQ(Child<QLineEdit>(main, "port")->text(), QString::fromStdString(m_sim->SlavePath()));
    EXPECT_TRUE(Child<QLineEdit>(main, "port")->isReadOnly());
    EXPECT_EQ(main->CurrentPage(), 0);
    EXPECT_TRUE(Child<CTabControl>(main, "tabs")->TabButton(0)->isChecked());
    EXPECT_TRUE(main->RobotPage()->isVisible());
    EXPECT_TRUE(main->ProgramPage()->isHidden());
    EXPECT_TRUE(main->UpgradePage()->isHidden());
    EXPECT_EQ(Image()[Reg::HIGH_BYTE_FIRST], 1);
    EXPECT_EQ(m_app->m_pUsb->MaxPosition(), 1023);
    EXPECT_EQ(Child<QSlider>(main->RobotPage(), "goal")->maximum(), 1023);
    EXPECT_EQ(Child<QComboBox>(main, "portBaud")->currentText(), QStringLiteral("1000000"));
    EXPECT_EQ(Child<QPushButton>(main, "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(StartupTest, EnterWithoutTheAdapterKeepsTheSplashUntilItIsPluggedIn) {
    CAppOptions options;
    options.szPortPath = kMissingPort;
    ASSERT_NO_FATAL_FAILURE(StartWithOptions(options));
    Click(Child<QPushButton>(Splash(), "enter"));
    EXPECT_EQ(m_operator.m_messages, QStringList({"Unable to connect Device!"}));
    EXPECT_TRUE(Splash()->isVisible());
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_EQ(Image()[Reg::HIGH_BYTE_FIRST], 0);

    m_sim = std::make_unique<sim::CBusSimulator>(std::vector<uint8_t>{1});
    ASSERT_TRUE(m_sim->Start());
    m_app->m_pTransport->SetPortPath(m_sim->SlavePath());
    ASSERT_NO_FATAL_FAILURE(Enter());
    EXPECT_EQ(m_operator.m_messages.size(), 1);
    EXPECT_TRUE(Splash()->isHidden());
}

TEST_F(StartupTest, SimulateOptionBringsItsOwnBus) {
    CAppOptions options;
    options.nSimulatedServos = 1;
    ASSERT_NO_FATAL_FAILURE(StartWithOptions(options));
    ASSERT_TRUE(m_app->Simulator());
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    EXPECT_EQ(Child<QLineEdit>(Main(), "port")->text(),
              QString::fromStdString(m_app->Simulator()->SlavePath()));
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Nodes(), QStringList({"1/1000000"}));
}

TEST_F(StartupTest, ExitOnTheSplashQuitsWithoutShowingTheMainWindow) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    Click(Child<QPushButton>(Splash(), "exit"));
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(Main()->isVisible());
}

TEST_F(StartupTest, EnterAndEscapeKeysDoNothingInAnyWindow) {
    CAppOptions options;
    options.szPortPath = kMissingPort;
    ASSERT_NO_FATAL_FAILURE(StartWithOptions(options));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Splash()));
    // With focus on "Enter", the Return key must not press it (that would report the missing adapter).
    Child<QPushButton>(Splash(), "enter")->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(Child<QPushButton>(Splash(), "enter"), key);
        QTest::keyClick(Splash(), key);
    }
    EXPECT_TRUE(Splash()->isVisible());
    EXPECT_TRUE(m_operator.m_messages.isEmpty());

    m_sim = std::make_unique<sim::CBusSimulator>(std::vector<uint8_t>{1});
    ASSERT_TRUE(m_sim->Start());
    m_app->m_pTransport->SetPortPath(m_sim->SlavePath());
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    Child<QPushButton>(main, "portOpen")->setFocus();
    for (QWidget* target :
         {static_cast<QWidget*>(main), static_cast<QWidget*>(Child<QPushButton>(main, "portOpen")),
          static_cast<QWidget*>(main->RobotPage()), main->Page(0)}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
    }
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->RobotPage()->isVisible());
    EXPECT_EQ(Child<QPushButton>(main, "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(m_operator.m_quitCodes.isEmpty());
}
