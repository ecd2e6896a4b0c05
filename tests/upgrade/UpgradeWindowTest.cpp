// A firmware transfer inside the whole application: the rest of the window keeps off the port meanwhile.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <fstream>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"
#include "ui/TabControl.h"
#include "ui/TextProgressCtrl.h"
#include "upgrade/ServoTest.h"

namespace {

using namespace std::chrono_literals;

class UpgradeWindow : public AppFixture {
protected:
    // Enter, open at 1000000, pick servo 1, show the UPGRADE page and load a 192-block image.
    void ReadyToFlash() {
        ASSERT_NO_FATAL_FAILURE(StartApp({1, 2}));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Main()->AddNode(1, 1000000);
        QTableWidget* list = Child<QTableWidget>(Main(), "nodes");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0, 0)).center());
        ASSERT_EQ(Image()[Reg::ID], 1);
        Click(Child<CTabControl>(Main(), "tabs")->TabButton(2));
        ASSERT_TRUE(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("fw.bin"));
        std::ofstream(path.toStdString(), std::ios::binary) << std::string(12288, '\x5A');
        Page()->LoadFile(path);
        ASSERT_TRUE(Child<QPushButton>(Page(), "write")->isEnabled());
    }

    ServoTest* Page() const { return Main()->UpgradePage(); }
    int Progress() const { return Child<CTextProgressCtrl>(Page(), "progress")->GetPos(); }
    bool Transferring() const {
        return Child<QPushButton>(Page(), "write")->text() == QLatin1String("CANCEL");
    }

    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(UpgradeWindow, ATransferLocksOutEveryOtherUserOfThePort) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    m_sim->SetBootFaults(1, {.slowAtBlock = 5, .slowBy = 400ms});
    Click(Child<QPushButton>(Page(), "write"));
    ASSERT_TRUE(WaitUntil([this] { return Progress() == 4; }, 10000));
    CServoMain* main = Main();
    EXPECT_FALSE(Child<QPushButton>(main, "portOpen")->isEnabled())
        << "the port cannot be closed under the transfer";
    EXPECT_FALSE(Child<QPushButton>(main, "search")->isEnabled());
    EXPECT_FALSE(main->RobotPage()->isEnabled());
    EXPECT_FALSE(main->ProgramPage()->isEnabled());
    SaveGrab(main, QStringLiteral("upgrade_window_transferring"));
    ASSERT_TRUE(WaitUntil([this] { return !Transferring(); }, 20000));
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
    EXPECT_EQ(Progress(), 192);
    EXPECT_TRUE(Child<QPushButton>(main, "portOpen")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(main, "search")->isEnabled());
    EXPECT_TRUE(main->RobotPage()->isEnabled());
    EXPECT_TRUE(main->ProgramPage()->isEnabled());
    EXPECT_EQ(m_sim->Firmware(1), std::vector<uint8_t>(12288, 0x5A));
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 1) << "the port is back at its rate";
}

TEST_F(UpgradeWindow, NoTransferStartsWhileASweepRuns) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(SweepRunning());
    Click(Child<QPushButton>(Page(), "write"));
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("Stop the search first")});
    EXPECT_FALSE(Transferring());
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_FALSE(m_sim->BootStatus(1).inBootLoader);
}

TEST_F(UpgradeWindow, ClosingDuringATransferCancelsWaitsRestoresAndQuits) {
    ASSERT_NO_FATAL_FAILURE(ReadyToFlash());
    m_sim->SetBootFaults(1, {.slowAtBlock = 5, .slowBy = 300ms});
    Click(Child<QPushButton>(Page(), "write"));
    ASSERT_TRUE(WaitUntil([this] { return Progress() == 4; }, 10000));
    QElapsedTimer timer;
    timer.start();
    Main()->close();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(m_operator.m_quitCodes, QList<int>({0}));
    EXPECT_FALSE(Page()->IsTransferring());
    EXPECT_TRUE(m_operator.m_messages.isEmpty()) << "no box for a window that is going";
    EXPECT_EQ(m_sim->BootStatus(1).blocksAccepted, 5) << "block 5 was finished, then the transfer stopped";
    EXPECT_EQ(m_app->m_pTransport->TimeoutMs(), kTestTimeoutMs);
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
    m_sim->ClearFrames();
    SpinEvents(100);
    EXPECT_TRUE(m_sim->Frames().empty());
    m_app.reset();
}
