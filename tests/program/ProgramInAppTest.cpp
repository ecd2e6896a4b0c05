// The programming page inside the whole application: its defaults reach the other pages, and a node
// picked in the main window is the servo its buttons address.
#include <QTableWidget>
#include <chrono>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"
#include "ui/TabControl.h"

using ProgramInAppTest = AppFixture;

TEST_F(ProgramInAppTest, APickedNodeIsWhatReadWriteAndResetAddress) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 7}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    ServoPG* page = main->ProgramPage();
    // The page's defaults came first, so every page starts on servo 1.
    EXPECT_EQ(Image()[Reg::ID], 1);
    EXPECT_EQ(Child<QLineEdit>(main->RobotPage(), "id")->text(), QStringLiteral("1"));
    EXPECT_EQ(Child<QLineEdit>(page, "id")->text(), QStringLiteral("1"));

    Click(Child<CTabControl>(main, "tabs")->TabButton(1));
    ASSERT_TRUE(page->isVisible());
    main->AddNode(7, 1000000);
    QTableWidget* list = Child<QTableWidget>(main, "nodes");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0, 0)).center());
    EXPECT_EQ(Child<QLineEdit>(page, "id")->text(), QStringLiteral("7"));
    m_sim->ClearFrames();

    const auto press = [&](QPushButton* button) {
        Click(button);
        ASSERT_TRUE(WaitUntil([page] { return !page->IsBusy(); }, 5000));
    };
    ASSERT_NO_FATAL_FAILURE(press(Child<QPushButton>(page, "read")));
    ASSERT_NO_FATAL_FAILURE(press(Child<QPushButton>(page, "write")));
    SaveGrab(main, QStringLiteral("main_window_program"));
    ASSERT_NO_FATAL_FAILURE(press(Child<QPushButton>(page, "reset")));
    std::vector<uint8_t> addressed;
    for (const sim::CSimFrame& frame : m_sim->Frames()) addressed.push_back(frame.bytes[2]);
    EXPECT_EQ(addressed, (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_EQ(PaneLines(Child<QPlainTextEdit>(page, "log")->toPlainText()),
              QStringList({"Instructions:", "----------ID:7----------", "Read All Servo Data",
                           "----------ID:7----------", "Write All Servo Data", "----------ID:7----------",
                           "Reset Default"}));
    EXPECT_EQ(Image()[Reg::ID], 1) << "after a reset the servo answers to the default ID";
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

// The pages take the servo they address from the main window, not from the image's ID byte: with that byte
// naming another servo, READ and the ROBOT page's poll still go to the window's target.
TEST_F(ProgramInAppTest, ReadAndThePollAddressTheWindowsTargetNotTheImageByte) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 7}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    CServoMain* main = Main();
    ServoPG* page = main->ProgramPage();
    main->SetTarget(7);
    Image()[Reg::ID] = 1;
    m_sim->ClearFrames();

    Click(Child<QPushButton>(page, "read"));
    ASSERT_TRUE(WaitUntil([page] { return !page->IsBusy(); }, 5000));
    ASSERT_EQ(m_sim->Frames().size(), 1u);
    EXPECT_EQ(m_sim->Frames().front().bytes[2], 7);
    EXPECT_EQ(page->LastLogLine(), QStringLiteral("Read All Servo Data"));
    EXPECT_EQ(main->TargetId(), 7);

    Image()[Reg::ID] = 1;
    m_sim->ClearFrames();
    CRobotDlg* robot = main->RobotPage();
    robot->StartDrawing(10);
    ASSERT_TRUE(m_sim->WaitForFrames(2, std::chrono::seconds(2)));
    robot->StopDrawing();
    for (const sim::CSimFrame& frame : m_sim->Frames()) EXPECT_EQ(frame.bytes[2], 7);
}

// Closing the window while WRITE with "UnLock" runs: the sequence still ends with its lock before the port
// closes, so the servo is not left unlocked. Only a second close request cuts it short.
TEST_F(ProgramInAppTest, ClosingDuringAnUnlockedWriteLocksTheServoFirst) {
    for (const bool secondRequest : {false, true}) {
        SCOPED_TRACE(secondRequest ? "closed twice" : "closed once");
        ASSERT_NO_FATAL_FAILURE(StartApp({1}));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        CServoMain* main = Main();
        ServoPG* page = main->ProgramPage();
        Click(Child<CTabControl>(main, "tabs")->TabButton(1));
        Child<QCheckBox>(page, "unlock")->setChecked(true);
        m_sim->ClearFrames();
        Click(Child<QPushButton>(page, "write"));
        ASSERT_TRUE(WaitUntil([this] { return !m_sim->Frames().empty(); }, 2000));
        main->close();
        if (secondRequest) main->close();
        ASSERT_TRUE(WaitUntil([this] { return !m_operator.m_quitCodes.isEmpty(); }, 3000));
        EXPECT_FALSE(m_app->m_pTransport->IsOpen());
        std::vector<uint8_t> lockWrites;
        for (const sim::CSimFrame& frame : m_sim->Frames())
            if (frame.bytes.at(4) == 0x03 && frame.bytes.at(5) == Reg::LOCK)
                lockWrites.push_back(frame.bytes.at(6));
        if (secondRequest) {
            EXPECT_EQ(lockWrites, std::vector<uint8_t>{0});
        } else {
            EXPECT_EQ(lockWrites, (std::vector<uint8_t>{0, 1}));
            EXPECT_EQ(m_sim->Table(1)[Reg::LOCK], 1);
        }
        m_app.reset();
        m_sim.reset();
        m_operator.m_quitCodes.clear();
    }
}
