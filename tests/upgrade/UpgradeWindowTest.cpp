// A firmware transfer inside the whole application: the rest of the window keeps off the port meanwhile.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <fstream>

#include "AppFixture.h"
#include "ControlTable.h"
#include "RobotDlg.h"
#include "ServoPG.h"
#include "ServoTest.h"
#include "TabControl.h"
#include "TextProgressCtrl.h"

namespace {

using namespace std::chrono_literals;

class UpgradeWindow : public AppFixture {
protected:
    // Enter, open at 1000000, pick servo 1, show the UPGRADE page and load a 192-block image.
    void ReadyToFlash() {
        ASSERT_NO_FATAL_FAILURE(StartApp({1, 2}));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Main()->AddNode(1, 1000000);
        QTableWidget* list = Main()->m_listNodes;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0, 0)).center());
        ASSERT_EQ(Image()[Reg::ID], 1);
        Click(Main()->m_tab->TabButton(2));
        ASSERT_TRUE(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("fw.bin"));
        std::ofstream(path.toStdString(), std::ios::binary) << std::string(12288, '\x5A');
        Page()->LoadFile(path);
        ASSERT_TRUE(Page()->m_btnWrite->isEnabled());
    }

    ServoTest* Page() const { return Main()->m_pUpgradePage; }
    int Progress() const { return Page()->m_progress->m_pos; }
    bool Transferring() const { return Page()->m_btnWrite->text() == QLatin1String("CANCEL"); }

    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(UpgradeWindow, ATransferLocksOutEveryOtherUserOfThePort) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    m_sim->SetBootFaults(1, {.slowAtBlock = 5, .slowBy = 400ms});
    Click(Page()->m_btnWrite);
    ASSERT_TRUE(WaitUntil([this] { return Progress() == 4; }, 10000));
    CServoMain* main = Main();
    EXPECT_FALSE(main->m_btnOpen->isEnabled()) << "the port cannot be closed under the transfer";
    EXPECT_FALSE(main->m_btnSearch->isEnabled());
    EXPECT_FALSE(main->m_pRobotPage->isEnabled());
    EXPECT_FALSE(main->m_pProgramPage->isEnabled());
    SaveGrab(main, QStringLiteral("upgrade_window_transferring"));
    ASSERT_TRUE(WaitUntil([this] { return !Transferring(); }, 20000));
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
    EXPECT_EQ(Progress(), 192);
    EXPECT_TRUE(main->m_btnOpen->isEnabled());
    EXPECT_TRUE(main->m_btnSearch->isEnabled());
    EXPECT_TRUE(main->m_pRobotPage->isEnabled());
    EXPECT_TRUE(main->m_pProgramPage->isEnabled());
    EXPECT_EQ(m_sim->Firmware(1), std::vector<uint8_t>(12288, 0x5A));
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 1) << "the port is back at its rate";
}

TEST_F(UpgradeWindow, NoTransferStartsWhileASweepRuns) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    Click(Main()->m_btnSearch);
    ASSERT_TRUE(SweepRunning());
    Click(Page()->m_btnWrite);
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("Stop the search first")});
    EXPECT_FALSE(Transferring());
    Click(Main()->m_btnSearch);
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_FALSE(m_sim->BootStatus(1).inBootLoader);
}

TEST_F(UpgradeWindow, ClosingDuringATransferCancelsWaitsRestoresAndQuits) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    m_sim->SetBootFaults(1, {.slowAtBlock = 5, .slowBy = 300ms});
    Click(Page()->m_btnWrite);
    ASSERT_TRUE(WaitUntil([this] { return Progress() == 4; }, 10000));
    QElapsedTimer timer;
    timer.start();
    Main()->close();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(Page()->IsTransferring());
    EXPECT_TRUE(m_operator.m_messages.isEmpty()) << "no box for a window that is going";
    EXPECT_EQ(m_sim->BootStatus(1).blocksAccepted, 5) << "block 5 was finished, then the transfer stopped";
    EXPECT_EQ(m_app->m_pTransport->m_nTimeoutMs, kTestTimeoutMs);
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    m_sim->ClearFrames();
    SpinEvents(100);
    EXPECT_TRUE(m_sim->Frames().empty());
    m_app.reset();
}
