// Start-up: the objects built at start, the splash's Enter and Exit, and the window states they lead to.
#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>

#include "AppFixture.h"
#include "ControlTable.h"
#include "RobotDlg.h"
#include "ServoPG.h"
#include "ServoTest.h"
#include "TabControl.h"

namespace {

constexpr const char* kMissingPort = "/nonexistent/brennix-test-port";

}  // namespace

using StartupTest = AppFixture;

TEST_F(StartupTest, FreshStartShowsOnlyTheSplashOverAReadyMainWindow) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Splash()));
    EXPECT_TRUE(Splash()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Splash()->pos(), QPoint(0, 0));
    EXPECT_EQ(Splash()->m_btnEnter->text(), QStringLiteral("Enter"));
    EXPECT_EQ(Splash()->m_btnExit->text(), QStringLiteral("Exit"));
    SaveGrab(Splash(), QStringLiteral("splash"));
    // The dark background picture covers the whole window, corners included.
    const QImage shot = Splash()->grab().toImage();
    EXPECT_LT(shot.pixelColor(2, 2).lightness(), 100);
    EXPECT_LT(shot.pixelColor(shot.width() - 3, shot.height() - 3).lightness(), 100);

    CServoMain* main = Main();
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Brennix Debug V1.0"));
    QStringList bauds;
    for (int i = 0; i < main->m_comboBaud->count(); ++i) bauds << main->m_comboBaud->itemText(i);
    EXPECT_EQ(bauds,
              QStringList({"1000000", "500000", "250000", "128000", "115200", "76800", "57600", "38400"}));
    EXPECT_EQ(main->m_comboBaud->currentText(), QStringLiteral("1000000"));
    EXPECT_EQ(main->m_btnOpen->text(), QStringLiteral("Open"));
    EXPECT_EQ(main->m_btnSearch->text(), QStringLiteral("Search"));
    EXPECT_EQ(main->m_bPortOpen, 0);
    EXPECT_EQ(main->m_listNodes->rowCount(), 0);
    EXPECT_EQ(main->m_listNodes->horizontalHeaderItem(0)->text(), QStringLiteral("ID"));
    EXPECT_EQ(main->m_listNodes->horizontalHeaderItem(1)->text(), QStringLiteral("Baud"));
    EXPECT_EQ(main->m_listNodes->columnWidth(0), 60);
    EXPECT_EQ(main->m_listNodes->columnWidth(1), 120);
    ASSERT_EQ(main->m_tab->TabCount(), 3);
    EXPECT_EQ(main->m_tab->TabButton(0)->text(), QStringLiteral("ROBOT"));
    EXPECT_EQ(main->m_tab->TabButton(1)->text(), QStringLiteral("PROGRAM"));
    EXPECT_EQ(main->m_tab->TabButton(2)->text(), QStringLiteral("UPGRADE"));
    // The pages exist, are the tab control's children and have run their opening, but none is shown yet.
    EXPECT_EQ(main->m_pages[0], main->m_pRobotPage);
    EXPECT_EQ(main->m_pages[1], main->m_pProgramPage);
    EXPECT_EQ(main->m_pages[2], main->m_pUpgradePage);
    for (QWidget* page : main->m_pages) {
        EXPECT_EQ(page->parentWidget(), main->m_tab);
        EXPECT_TRUE(page->isHidden());
        EXPECT_GE(page->y(), main->m_tab->TabRowHeight());
    }
    EXPECT_EQ(main->m_pUpgradePage->m_editId->text(), QStringLiteral("1"));
    // The pictures come from the resources built into the program.
    EXPECT_FALSE(main->windowIcon().isNull());
    EXPECT_FALSE(Splash()->windowIcon().isNull());
    EXPECT_EQ(main->m_pUpgradePage->m_picture->pixmap().size(), QSize(257, 216));
    EXPECT_EQ(main->m_pUpgradePage->m_picture->size(), QSize(257, 216));
    EXPECT_EQ(Image()[Reg::HIGH_BYTE_FIRST], 0);
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(StartupTest, EnterWithTheAdapterShowsTheRobotPageWithThePortStillClosed) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 3}));
    m_app->m_pUsb->m_nMaxPosition = 500;  // Enter restores the limit before the sliders are set up
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    EXPECT_TRUE(Splash()->isHidden());
    EXPECT_EQ(main->pos(), QPoint(0, 0));
    EXPECT_EQ(main->m_editPort->text(), QString::fromStdString(m_sim->SlavePath()));
    EXPECT_TRUE(main->m_editPort->isReadOnly());
    EXPECT_EQ(main->m_nCurPage, 0);
    EXPECT_TRUE(main->m_tab->TabButton(0)->isChecked());
    EXPECT_TRUE(main->m_pRobotPage->isVisible());
    EXPECT_TRUE(main->m_pProgramPage->isHidden());
    EXPECT_TRUE(main->m_pUpgradePage->isHidden());
    EXPECT_EQ(Image()[Reg::HIGH_BYTE_FIRST], 1);
    EXPECT_EQ(m_app->m_pUsb->m_nMaxPosition, 1023);
    EXPECT_EQ(main->m_pRobotPage->m_sliderGoal->maximum(), 1023);
    EXPECT_EQ(main->m_comboBaud->currentText(), QStringLiteral("1000000"));
    EXPECT_EQ(main->m_btnOpen->text(), QStringLiteral("Open"));
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(StartupTest, EnterWithoutTheAdapterKeepsTheSplashUntilItIsPluggedIn) {
    CAppOptions options;
    options.szPortPath = kMissingPort;
    ASSERT_NO_FATAL_FAILURE(StartWithOptions(options));
    Click(Splash()->m_btnEnter);
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
    ASSERT_TRUE(m_app->m_pSimulator);
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    EXPECT_EQ(Main()->m_editPort->text(), QString::fromStdString(m_app->m_pSimulator->SlavePath()));
    Main()->m_checkSingleNode->setChecked(true);
    Click(Main()->m_btnSearch);
    EXPECT_EQ(Nodes(), QStringList({"1/1000000"}));
}

TEST_F(StartupTest, ExitOnTheSplashQuitsWithoutShowingTheMainWindow) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    Click(Splash()->m_btnExit);
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(Main()->isVisible());
}

TEST_F(StartupTest, EnterAndEscapeKeysDoNothingInAnyWindow) {
    CAppOptions options;
    options.szPortPath = kMissingPort;
    ASSERT_NO_FATAL_FAILURE(StartWithOptions(options));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Splash()));
    // With focus on "Enter", the Return key must not press it (that would report the missing adapter).
    Splash()->m_btnEnter->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(Splash()->m_btnEnter, key);
        QTest::keyClick(Splash(), key);
    }
    EXPECT_TRUE(Splash()->isVisible());
    EXPECT_TRUE(m_operator.m_messages.isEmpty());

    m_sim = std::make_unique<sim::CBusSimulator>(std::vector<uint8_t>{1});
    ASSERT_TRUE(m_sim->Start());
    m_app->m_pTransport->SetPortPath(m_sim->SlavePath());
    ASSERT_NO_FATAL_FAILURE(Enter());
    CServoMain* main = Main();
    main->m_btnOpen->setFocus();
    for (QWidget* target : {static_cast<QWidget*>(main), static_cast<QWidget*>(main->m_btnOpen),
                            static_cast<QWidget*>(main->m_pRobotPage), main->m_pages[0]}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
    }
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->m_pRobotPage->isVisible());
    EXPECT_EQ(main->m_btnOpen->text(), QStringLiteral("Open"));
    EXPECT_TRUE(m_operator.m_quitCodes.isEmpty());
}
