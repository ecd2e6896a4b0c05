// The whole application on a faulty line: the sweep, the status poll, the programming page's buttons, the
// version read and a firmware transfer each show what they prescribe for a failure, within one timeout,
// and send nothing the operator did not ask for; a pulled adapter always ends in the lost-port state.
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <fstream>

#include "debug/RobotDlg.h"
#include "link/BootLoader.h"
#include "link/ControlTable.h"
#include "link/SerialLine.h"
#include "program/ServoPG.h"
#include "tests/app/AppFixture.h"
#include "tests/support/SimFaultNames.h"
#include "ui/TabControl.h"
#include "upgrade/ServoTest.h"

namespace {

using namespace std::chrono_literals;
using sim::ESimFaultKind;

const std::vector<sim::CSimFaultName> kFaults = AnsweringFaults();

// A failed exchange ends at the link's timeout; the rest is a loaded machine's scheduling.
constexpr int kOneExchangeMs = kTestTimeoutMs + 250;

sim::CSimFaultRule Rule(ESimFaultKind kind, int id, int instruction = sim::kAnyInstruction,
                        int count = sim::kEveryReply) {
    sim::CSimFaultRule rule;
    rule.kind = kind;
    rule.servoId = id;
    rule.instruction = instruction;
    rule.count = count;
    rule.delay = 70ms;  // a late status or a stalled frame's rest lands in the next request's wait
    return rule;
}

class FaultScenario : public AppFixture {
protected:
    ServoPG* Program() const { return Main()->ProgramPage(); }
    CRobotDlg* Robot() const { return Main()->RobotPage(); }
    ServoTest* Upgrade() const { return Main()->UpgradePage(); }

    std::vector<uint8_t> Instructions() const {
        std::vector<uint8_t> heard;
        for (const auto& frame : m_sim->Frames()) heard.push_back(frame.bytes.at(4));
        return heard;
    }

    // Presses a programming-page button and returns how long the page stayed busy.
    qint64 Press(QPushButton* button) {
        QElapsedTimer timer;
        timer.start();
        Click(button);
        EXPECT_TRUE(WaitUntil([this] { return !Program()->IsBusy(); }, 5000));
        return timer.elapsed();
    }

    QStringList Fields() const {
        QStringList texts;
        for (const QLineEdit* edit : Program()->findChildren<QLineEdit*>()) texts << edit->text();
        return texts;
    }

    bool PortLost() const {
        return Child<QPushButton>(Main(), "portOpen")->text() == QLatin1String("Open") &&
               LogLines().filter(QStringLiteral("lost")).size() == 1;
    }
};

// One sweep past a servo with each fault: only the healthy servos are listed, and no fault costs more than
// the one timeout every silent ID costs.
TEST_F(FaultScenario, SweepListsOnlyTheServosThatAnswerProperly) {
    std::vector<uint8_t> ids = {1};
    for (std::size_t i = 0; i < std::size(kFaults); ++i) ids.push_back(static_cast<uint8_t>(2 + i));
    ids.push_back(static_cast<uint8_t>(2 + std::size(kFaults)));
    ASSERT_NO_FATAL_FAILURE(StartApp(ids));
    for (std::size_t i = 0; i < std::size(kFaults); ++i)
        m_sim->AddFault(Rule(kFaults[i].kind, static_cast<int>(2 + i)));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    const int last = ids.back();

    QElapsedTimer timer;
    timer.start();
    Click(Child<QPushButton>(Main(), "search"));
    // Stop once the last servo has been pinged: the rest of the IDs are silent and prove nothing here.
    ASSERT_TRUE(WaitUntil([&] { return LogLines().size() >= last + 2; }, 10000));
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd(2000));
    const int pinged = static_cast<int>(LogLines().size());
    EXPECT_LT(timer.elapsed(), pinged * kOneExchangeMs);
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", QString::number(last) + "/1000000"}));
    // A sweep pings, and reads the status span of each ID that answered (one servo there, or several?).
    const std::vector<uint8_t> heard = Instructions();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), 0x02), 2) << "servos 1 and " << last;
    for (uint8_t instruction : heard)
        EXPECT_TRUE(instruction == 0x01 || instruction == 0x02) << int(instruction);
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

// While the servo's status reads fail, the monitor keeps its last values and the poll goes on; once the
// line is sound the new values show.
TEST_F(FaultScenario, StatusPollKeepsItsLastValuesThroughEveryFault) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Robot(), "draw"));
    QLabel* voltage = Child<QLabel>(Robot(), "voltageValue");
    ASSERT_TRUE(WaitUntil([&] { return voltage->text() == QLatin1String("7.4 V"); }));
    uint8_t tenths = 80;
    for (const auto& [name, kind] : kFaults) {
        // A servo late every time, or one whose frames always stall and resume, answers each request in
        // the next one's wait: a status of the very shape expected that the link cannot refuse (see
        // LinkFaultTest). Here the stall never resumes.
        if (kind == ESimFaultKind::LateReply) continue;
        SCOPED_TRACE(name);
        auto rule = Rule(kind, 1, 0x02);
        if (kind == ESimFaultKind::StallMidFrame) rule.delay = sim::kNever;
        m_sim->AddFault(rule);
        m_sim->SetRegister(1, Reg::PRESENT_VOLTAGE, tenths);
        m_sim->ClearFrames();
        SpinEvents(200);
        EXPECT_EQ(voltage->text(), QStringLiteral("7.4 V")) << "a failed tick changes nothing";
        EXPECT_GE(m_sim->Frames().size(), 2u) << "the poll keeps trying";
        for (uint8_t instruction : Instructions()) EXPECT_EQ(instruction, 0x02) << "a poll only reads";
        m_sim->ClearFaults();
        const QString shown = QString::number(tenths / 10.0, 'f', 1) + QStringLiteral(" V");
        EXPECT_TRUE(WaitUntil([&] { return voltage->text() == shown; }, 2000))
            << voltage->text().toStdString();
        m_sim->SetRegister(1, Reg::PRESENT_VOLTAGE, 74);
        ASSERT_TRUE(WaitUntil([&] { return voltage->text() == QLatin1String("7.4 V"); }));
        ++tenths;
    }
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

// READ reports "Read Servo Fail!" and leaves the page alone; RESET sends its one request and reports
// nothing; the version read keeps its labels. Each failure costs one timeout.
TEST_F(FaultScenario, ProgramButtonsAndVersionReadReportWhatTheyPrescribe) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<CTabControl>(Main(), "tabs")->TabButton(1));
    ASSERT_TRUE(Program()->isVisible());
    ServoTest* upgrade = Upgrade();
    for (const auto& [name, kind] : kFaults) {
        SCOPED_TRACE(name);
        m_sim->AddFault(Rule(kind, 1));
        Child<QPlainTextEdit>(Program(), "log")->clear();
        const QStringList fields = Fields();
        const std::vector<uint8_t> image(Image(), Image() + IMAGE_SIZE);
        m_sim->ClearFrames();
        EXPECT_LT(Press(Child<QPushButton>(Program(), "read")), kOneExchangeMs);
        EXPECT_EQ(Fields(), fields) << "a failed READ leaves the page alone";
        EXPECT_EQ(std::vector<uint8_t>(Image(), Image() + IMAGE_SIZE), image);
        EXPECT_LT(Press(Child<QPushButton>(Program(), "reset")), kOneExchangeMs);
        EXPECT_EQ(PaneLines(Child<QPlainTextEdit>(Program(), "log")->toPlainText()),
                  QStringList({"----------ID:1----------", "Read Servo Fail!", "----------ID:1----------",
                               "Reset Default"}));
        EXPECT_EQ(Instructions(), (std::vector<uint8_t>{0x02, 0x06})) << "no retry, nothing else";
        if (kind == ESimFaultKind::CorruptChecksum)
            SaveGrab(Main(), QStringLiteral("fault_program_read_fail"));
        Child<QLabel>(upgrade, "firmware")->setText(QStringLiteral("keep"));
        m_sim->ClearFrames();
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(Child<QPushButton>(upgrade, "read"), Qt::LeftButton);
        EXPECT_LT(timer.elapsed(), kOneExchangeMs);
        EXPECT_EQ(Child<QLabel>(upgrade, "firmware")->text(), QStringLiteral("keep"));
        EXPECT_EQ(Instructions(), std::vector<uint8_t>{0x02}) << "the second read is never sent";

        m_sim->ClearFaults();
        SpinEvents(100);  // what a fault still holds back arrives and is purged by the next request
    }
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
    EXPECT_FALSE(PortLost());
}

// WRITE with "UnLock" checked sends its three requests whatever the answers, and nothing more.
TEST_F(FaultScenario, WriteSendsItsSequenceOnceWhateverTheAnswers) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<CTabControl>(Main(), "tabs")->TabButton(1));
    Child<QCheckBox>(Program(), "unlock")->setChecked(true);
    for (ESimFaultKind kind : {ESimFaultKind::DropReply, ESimFaultKind::Garbage}) {
        m_sim->AddFault(Rule(kind, 1));
        m_sim->ClearFrames();
        Child<QPlainTextEdit>(Program(), "log")->clear();
        Press(Child<QPushButton>(Program(), "write"));
        EXPECT_EQ(Instructions(), (std::vector<uint8_t>{0x03, 0x03, 0x03}));
        EXPECT_EQ(
            PaneLines(Child<QPlainTextEdit>(Program(), "log")->toPlainText()),
            QStringList({"----------ID:1----------", "Unlock Eprom", "Write All Servo Data", "lock Eprom"}));
        m_sim->ClearFaults();
    }
}

// The boot loader's answers hit during a transfer: "upgrade error", the port back at its rate and timeout,
// nothing stored, and the servo usable again once its boot loader gives up.
TEST_F(FaultScenario, UpgradeUnderBootAnswerFaultsRestoresThePort) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 2}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    // Longer than the host's pause before the entry code, short enough to get the servo back soon.
    m_sim->SetBootIdleTimeout(300ms);
    Click(Child<CTabControl>(Main(), "tabs")->TabButton(2));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("fw.bin"));
    std::ofstream(path.toStdString(), std::ios::binary) << std::string(640, '\x5A');
    Upgrade()->LoadFile(path);
    ASSERT_TRUE(Child<QPushButton>(Upgrade(), "write")->isEnabled());
    const int fd = m_app->m_pTransport->m_hPort;

    for (ESimFaultKind kind : {ESimFaultKind::DropReply, ESimFaultKind::CorruptChecksum,
                               ESimFaultKind::Garbage, ESimFaultKind::LateReply}) {
        auto rule = Rule(kind, sim::kAnyServo, sim::kBootAnswer, 1);
        rule.delay = std::chrono::milliseconds(BOOT_TIMEOUT_MS + 100);
        rule.skip = 4;  // the entry code, the start byte and two blocks are answered
        m_sim->AddFault(rule);
        m_operator.m_messages.clear();
        QElapsedTimer timer;
        timer.start();
        Click(Child<QPushButton>(Upgrade(), "write"));
        ASSERT_TRUE(WaitUntil(
            [this] { return Child<QPushButton>(Upgrade(), "write")->text() == QLatin1String("WRITE"); },
            5000));
        EXPECT_LT(timer.elapsed(), BOOT_PAUSE_MS + 3 * 20 + BOOT_TIMEOUT_MS + 300);
        EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade error")});
        EXPECT_EQ(SerialLine::GetLineRate(fd), 1000000u);
        EXPECT_EQ(m_app->m_pTransport->TimeoutMs(), kTestTimeoutMs);
        EXPECT_TRUE(m_sim->Firmware(1).empty());
        EXPECT_EQ(m_sim->FaultHits(), 1);
        m_sim->ClearFaults();
        if (kind == ESimFaultKind::LateReply) SpinEvents(200);  // the boot loader is busy until its late byte
        ASSERT_TRUE(WaitUntil([this] { return !m_sim->BootStatus(1).inBootLoader; }, 2000));
        EXPECT_EQ(m_app->m_pUsb->Ping(1), 1) << "the servo is back and the line at its rate";
    }
    EXPECT_FALSE(PortLost());

    // Pulled out mid-transfer: "upgrade error", then the lost-port state.
    auto hangUp = Rule(ESimFaultKind::HangUp, sim::kAnyServo, sim::kBootAnswer, 1);
    hangUp.skip = 4;
    m_sim->AddFault(hangUp);
    m_operator.m_messages.clear();
    Click(Child<QPushButton>(Upgrade(), "write"));
    ASSERT_TRUE(WaitUntil(
        [this] { return Child<QPushButton>(Upgrade(), "write")->text() == QLatin1String("WRITE"); }, 5000));
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade error")});
    EXPECT_TRUE(WaitUntil([this] { return PortLost(); }, 2000)) << LogLines().join('|').toStdString();
    EXPECT_FALSE(m_app->m_pTransport->IsOpen());
}

// The adapter pulled out in the middle of each activity: the lost-port state, once, and nothing hangs.
TEST_F(FaultScenario, AHangUpDuringAnyActivityEndsInTheLostPortState) {
    struct CActivity {
        const char* name;
        int instruction;
        std::function<void()> start;
    };
    const CActivity activities[] = {
        {"sweep", 0x01, [this] { Click(Child<QPushButton>(Main(), "search")); }},
        {"poll", 0x02, [this] { Click(Child<QPushButton>(Robot(), "draw")); }},
        {"read", 0x02,
         [this] {
             Click(Child<CTabControl>(Main(), "tabs")->TabButton(1));
             Click(Child<QPushButton>(Program(), "read"));
         }},
        {"version", 0x02,
         [this] {
             Click(Child<CTabControl>(Main(), "tabs")->TabButton(2));
             Click(Child<QPushButton>(Upgrade(), "read"));
         }},
    };
    for (const CActivity& activity : activities) {
        SCOPED_TRACE(activity.name);
        ASSERT_NO_FATAL_FAILURE(StartApp({1}));
        m_sim->AddFault(Rule(ESimFaultKind::HangUp, 1, activity.instruction, 1));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        m_operator.m_messages.clear();
        activity.start();
        EXPECT_TRUE(WaitUntil([this] { return PortLost(); }, 2000)) << LogLines().join('|').toStdString();
        EXPECT_TRUE(WaitUntil([this] { return !SweepRunning() && !Program()->IsBusy(); }, 2000));
        SpinEvents(50);
        EXPECT_EQ(LogLines().filter(QStringLiteral("lost")).size(), 1);
        EXPECT_TRUE(m_operator.m_messages.isEmpty());
        if (activity.instruction == 0x01) SaveGrab(Main(), QStringLiteral("fault_sweep_port_lost"));
        m_app.reset();
        m_sim.reset();
    }
}

}  // namespace
