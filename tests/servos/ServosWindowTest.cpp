// The Servos window in the running application: every servo found live in one table with its alarms and
// rate, a servo at another rate greyed, a silent servo greyed without slowing the others, the rate kept
// beside the ROBOT page's poll, the commands that stop a robot, the pause while something holds the bus, a
// lost port, and the plot with its two saves.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "link/StatusCsv.h"
#include "program/ServoPG.h"
#include "servos/ServoPlot.h"
#include "tests/servos/ServosFixture.h"
#include "ui/FileSaver.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ServosWindow : public ServosFixture {};

TEST_F(ServosWindow, ShowsEveryServoLiveWithItsAlarmsAndTheRatesReached) {
    std::vector<sim::CSimServoSpec> servos = Servos({1, 2, 3, 4, 5, 6});
    servos[3].temperature = 85;  // over its limit of 80: over-heat in every status of ID 4
    servos[4].voltage = 30;      // below its MIN_VOLTAGE of 5.0 V: the voltage bit, named for its side
    ASSERT_NO_FATAL_FAILURE(StartRobot(servos));
    ASSERT_EQ(Table()->rowCount(), 6);
    ASSERT_TRUE(WaitForReadings());
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(Cell(row, CServosWindow::IdColumn), QString::number(row + 1));
        EXPECT_EQ(Cell(row, CServosWindow::PositionColumn), QStringLiteral("512"));
        EXPECT_EQ(Cell(row, CServosWindow::VoltageColumn), QString::fromLatin1(row == 4 ? "3.0 V" : "7.4 V"));
        EXPECT_EQ(Cell(row, CServosWindow::TorqueColumn), QStringLiteral("off"));
    }
    EXPECT_EQ(Cell(3, CServosWindow::AlarmsColumn), QStringLiteral("over-heat"));
    EXPECT_TRUE(WaitUntil(
        [this] { return Cell(4, CServosWindow::AlarmsColumn) == QLatin1String("under-voltage"); }))
        << Cell(4, CServosWindow::AlarmsColumn).toStdString();
    EXPECT_EQ(Cell(3, CServosWindow::TemperatureColumn), QStringLiteral("85 Deg"));
    EXPECT_NE(Table()->item(3, CServosWindow::AlarmsColumn)->background(), QBrush()) << "alarm cells are red";
    EXPECT_EQ(Table()->item(2, CServosWindow::AlarmsColumn)->background(), QBrush());
    // "6 servos · N Hz each · bus limit M Hz": each servo read alike, as often as the bus allows.
    ASSERT_TRUE(
        WaitUntil([this] { return Window()->Roster().MeanRateHz(std::chrono::steady_clock::now()) > 20; }));
    const QRegularExpressionMatch rate =
        QRegularExpression(QStringLiteral("^6 servos \u00B7 (\\d+) Hz each \u00B7 bus limit (\\d+) Hz$"))
            .match(Window()->RateText());
    ASSERT_TRUE(rate.hasMatch()) << Window()->RateText().toStdString();
    EXPECT_GT(rate.captured(2).toInt(), 0);
    Window()->Refresh();
    EXPECT_TRUE(
        Table()->item(0, CServosWindow::IdColumn)->toolTip().endsWith(QLatin1String(" readings a second")));
    EXPECT_EQ(Window()->StateText(), QStringLiteral("Polling"));

    // A servo the search found at another rate is shown greyed with its rate, and not read.
    std::vector<CServoAtRate> found = Window()->Roster().Servos();
    found.push_back({7, 115200});
    Window()->SetFoundServos(found);
    ASSERT_EQ(Table()->rowCount(), 7);
    EXPECT_EQ(Cell(6, CServosWindow::IdColumn), QStringLiteral("7 (115200 baud)"));
    EXPECT_EQ(Cell(6, CServosWindow::AlarmsColumn), QStringLiteral("other rate"));
    EXPECT_EQ(Table()->item(6, CServosWindow::IdColumn)->foreground().color(), QColor(150, 150, 150));
    EXPECT_EQ(Window()->Roster().PolledIds().size(), 6u);
}

// The ROBOT page polls servo 1 every 10 ms beside the window: on a bus with room for both, each keeps its
// own rate (the window's a hundred rounds a second), neither waiting for a run of the other's reads.
TEST_F(ServosWindow, KeepsItsRateWhileTheRobotPagePolls) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2})));
    ASSERT_TRUE(WaitForReadings());
    const std::vector<double> alone = RatesOver({1, 2}, 1000);
    Main()->RobotPage()->SetServoId(1);
    Child<QLineEdit>(Main()->RobotPage(), "cycle")->setText(QStringLiteral("10"));
    Click(Child<QPushButton>(Main()->RobotPage(), "draw"));
    ASSERT_TRUE(WaitUntil([this] { return Main()->RobotPage()->PlotSamples() > 5; }));
    const uint64_t pageTicks = Main()->RobotPage()->PollTimer().Ticks();
    const int samples = Main()->RobotPage()->PlotSamples();
    const std::vector<double> beside = RatesOver({1, 2}, 1000);
    const uint64_t ticks = Main()->RobotPage()->PollTimer().Ticks() - pageTicks;
    const int answered = Main()->RobotPage()->PlotSamples() - samples;
    Main()->RobotPage()->StopDrawing();
    for (std::size_t k = 0; k < 2; ++k) EXPECT_GE(beside[k], 0.85 * alone[k]) << "servo " << k + 1;
    EXPECT_GE(ticks, 80u) << "the page's own poll keeps its 10 ms";
    EXPECT_GE(answered, static_cast<int>(ticks) - 5) << "and its reads answer";
}

TEST_F(ServosWindow, ASilentServoGreysItsRowAndTheOthersKeepTheirRate) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2, 3})));
    ASSERT_TRUE(WaitForReadings());
    const std::vector<double> before = RatesOver({1, 3}, 1000);
    m_sim->RemoveServo(2);
    ASSERT_TRUE(
        WaitUntil([this] { return Cell(1, CServosWindow::AlarmsColumn) == QLatin1String("no answer"); }));
    EXPECT_EQ(Table()->item(1, CServosWindow::PositionColumn)->foreground().color(), QColor(150, 150, 150));
    EXPECT_EQ(Table()->item(0, CServosWindow::PositionColumn)->foreground().color(), QColor(Qt::black));
    SpinEvents(2000);  // the retries of the silent servo spread out
    const std::vector<double> after = RatesOver({1, 3}, 2000);
    for (std::size_t k = 0; k < 2; ++k) EXPECT_GE(after[k], 0.85 * before[k]) << "servo " << (k ? 3 : 1);
    EXPECT_TRUE(Window()->RateText().startsWith(QStringLiteral("3 servos")))
        << Window()->RateText().toStdString();
    m_sim->AddServo(2);
    EXPECT_TRUE(WaitUntil([this] { return Cell(1, CServosWindow::AlarmsColumn).isEmpty(); }, 5000)) << "back";
}

// One broadcast frame, then each servo's torque read back, and the table shows it.
TEST_F(ServosWindow, AllTorqueOffIsOneBroadcastThenTheReadBacks) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2, 3})));
    for (uint8_t id : {1, 2, 3}) m_sim->SetRegister(id, Reg::TORQUE_ENABLE, 1);
    ASSERT_TRUE(
        WaitUntil([this] { return Cell(2, CServosWindow::TorqueColumn) == QLatin1String("on"); }, 5000));
    EXPECT_EQ(Table()->item(2, CServosWindow::TorqueColumn)->checkState(), Qt::Checked);
    HeardBesideThePoll();
    Click(Child<QPushButton>(Window(), "allTorqueOff"));
    EXPECT_EQ(HeardBesideThePoll(), (std::vector<Bytes>{{0xFF, 0xFF, 0xFE, 0x04, 0x03, 0x1F, 0x00, 0xDB},
                                                        {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x1F, 0x01, 0xD8},
                                                        {0xFF, 0xFF, 0x02, 0x04, 0x02, 0x1F, 0x01, 0xD7},
                                                        {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x1F, 0x01, 0xD6}}));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, CServosWindow::TorqueColumn), QStringLiteral("off"));
        EXPECT_EQ(Table()->item(row, CServosWindow::TorqueColumn)->checkState(), Qt::Unchecked);
    }
    EXPECT_EQ(Window()->TeachText(), QStringLiteral("All torque off sent"));

    // A row's box: torque on keeps the servo where it is (its goal becomes its position first).
    m_sim->SetRegister(2, Reg::GOAL_POSITION, 0);
    m_sim->SetRegister(2, Reg::GOAL_POSITION + 1, 0);
    Table()->item(1, CServosWindow::TorqueColumn)->setCheckState(Qt::Checked);
    EXPECT_EQ(Cell(1, CServosWindow::TorqueColumn), QStringLiteral("on"));
    EXPECT_EQ(m_sim->Table(2)[Reg::TORQUE_ENABLE], 1);
    EXPECT_EQ(m_sim->Table(2)[Reg::GOAL_POSITION] << 8 | m_sim->Table(2)[Reg::GOAL_POSITION + 1], 512);
}

// Esc holds every servo where it is: its goal becomes its present position, so nothing moves on or falls.
TEST_F(ServosWindow, EscHoldsEveryServoWhereItIs) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2})));
    for (uint8_t id : {1, 2}) {
        m_sim->SetRegister(id, Reg::GOAL_SPEED + 1, 10);
        m_sim->SetRegister(id, Reg::GOAL_POSITION, 0x03);
        m_sim->SetRegister(id, Reg::GOAL_POSITION + 1, 0xE8);
        m_sim->SetRegister(id, Reg::TORQUE_ENABLE, 1);
    }
    ASSERT_TRUE(WaitUntil([this] { return Cell(0, CServosWindow::PositionColumn).toInt() > 540; }));
    Window()->activateWindow();
    QTest::keyClick(Window(), Qt::Key_Escape);
    if (!Window()->TeachText().startsWith(QLatin1String("Held")))
        Window()->HoldAll();  // nothing may be active
    EXPECT_EQ(Window()->TeachText(), QStringLiteral("Held where they are: 1, 2"));
    const int held = Cell(0, CServosWindow::PositionColumn).toInt();
    SpinEvents(300);
    for (uint8_t id : {1, 2}) {
        const auto table = m_sim->Table(id);
        const int goal = table[Reg::GOAL_POSITION] << 8 | table[Reg::GOAL_POSITION + 1];
        // A moving shaft brakes and comes back: it rests within its dead band and what friction holds.
        EXPECT_NEAR(table[Reg::PRESENT_POSITION] << 8 | table[Reg::PRESENT_POSITION + 1], goal, 3)
            << "stopped there";
        EXPECT_LT(goal, 1000);
    }
    EXPECT_LT(Cell(0, CServosWindow::PositionColumn).toInt(), held + 10);
}

// A PROGRAM page sequence and an all-rate search hold the bus: the window pauses its poll meanwhile.
TEST_F(ServosWindow, PausesWhileSomethingElseHoldsTheBus) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2})));
    Window()->SetBusHeld(CServosWindow::EBusHolder::ProgramSequence, true);
    EXPECT_EQ(Window()->StateText(), QStringLiteral("Paused: a PROGRAM page sequence holds the bus"));
    EXPECT_FALSE(Window()->IsPolling());
    EXPECT_FALSE(Child<QPushButton>(Window(), "holdAll")->isEnabled());
    m_sim->ClearFrames();
    Main()->ProgramPage()->ClickRead();
    ASSERT_TRUE(WaitUntil([this] { return !Main()->ProgramPage()->IsBusy(); }));
    EXPECT_TRUE(WaitUntil([this] { return Window()->IsPolling(); })) << "the sequence's end resumes it";

    Child<QCheckBox>(Main(), "allBauds")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Window()->StateText(), QStringLiteral("Paused: an all-rate search holds the bus"));
    EXPECT_FALSE(Window()->IsPolling());
    Click(Child<QPushButton>(Main(), "search"));  // Stop
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_TRUE(WaitUntil([this] { return Window()->IsPolling(); }));
    EXPECT_EQ(Window()->StateText(), QStringLiteral("Polling"));
}

// The adapter pulled out while the window polls and records: everything stops, and the window says so.
TEST_F(ServosWindow, ALostPortStopsEverythingCleanly) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2, 3})));
    ASSERT_TRUE(Window()->StartRecording());
    ASSERT_TRUE(WaitUntil([this] { return Window()->Recording().rows.size() > 3; }));
    EXPECT_EQ(Main()->TransferBlocker(), QStringLiteral("Stop the recording in the Servos window first"));
    m_sim->Unplug();
    ASSERT_TRUE(
        WaitUntil([this] { return Window()->StateText() == QLatin1String("Port lost: polling stopped"); }));
    EXPECT_FALSE(Window()->Poller().IsRunning());
    EXPECT_FALSE(Window()->IsRecording());
    EXPECT_TRUE(Window()->TeachText().contains(QLatin1String("torque stays off on 1, 2, 3")))
        << Window()->TeachText().toStdString();
    EXPECT_FALSE(Child<QPushButton>(Window(), "allTorqueOff")->isEnabled());
    EXPECT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(LogLines().last().contains(QLatin1String("lost")));
    Window()->HoldAll();  // nothing to send to, nothing happens
    Window()->close();
    EXPECT_TRUE(WaitUntil([this] { return Window() == nullptr; }));
}

// The plot: one trace per chosen servo, its grid kept while readings come, and both saves through the shared
// writer, with the cause when a file cannot be written. Six servos swung by hand, as the window is looked at.
TEST_F(ServosWindow, PlotsTheChosenServosAndSavesDataAndPicture) {
    std::vector<sim::CSimServoSpec> servos;
    for (uint8_t id = 1; id <= 6; ++id) {
        servos.push_back(sim::DefaultServo(id));
        servos.back().hand = sim::CHandRange{100 + 40 * id, 500 + 60 * id, 1.5 + 0.5 * id};
    }
    servos[3].temperature = 85;
    ASSERT_NO_FATAL_FAILURE(StartRobot(servos));
    ASSERT_TRUE(WaitForReadings());
    CServoPlot* plot = Window()->Plot();
    ASSERT_EQ(plot->Traces().size(), 6u);
    Window()->resize(920, 680);
    SpinEvents(4000);
    SaveGrab(Window(), QStringLiteral("servos_window"));
    std::printf("Servos window: %s\n", Window()->RateText().toUtf8().constData());
    Table()->item(1, CServosWindow::ChosenColumn)->setCheckState(Qt::Unchecked);
    ASSERT_EQ(plot->Traces().size(), 5u);
    EXPECT_EQ(plot->Traces()[1].id, 3);
    SpinEvents(100);
    const int draws = plot->BackgroundDraws();
    SpinEvents(500);  // about fifteen repaints with new readings
    EXPECT_EQ(plot->BackgroundDraws(), draws) << "the grid is not drawn again per tick";
    Child<QComboBox>(Window(), "quantity")->setCurrentIndex(3);  // voltage
    EXPECT_EQ(plot->Quantity(), EQuantity::Voltage);
    SpinEvents(100);
    EXPECT_EQ(plot->BackgroundDraws(), draws + 1);
    EXPECT_EQ(plot->RangeHigh(), 10.0);

    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("servos.csv"));
    const QString picture = dir.filePath(QStringLiteral("servos.png"));
    ASSERT_TRUE(Window()->SaveData(data));
    Window()->Saver().WaitForSave();
    ASSERT_TRUE(Window()->SavePicture(picture));
    Window()->Saver().WaitForSave();
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 10);
    EXPECT_EQ(lines[0], QLatin1String(MULTI_STATUS_CSV_HEADER));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("0,1,"))) << lines[1].toStdString();
    EXPECT_TRUE(lines.filter(QRegularExpression(QStringLiteral("^\\d+,4,.*,85,over-heat$"))).size() > 3);
    const QImage image(picture);
    EXPECT_EQ(image.size(), plot->size() * plot->devicePixelRatioF());
    SaveGrab(plot, QStringLiteral("servos_plot"));

    ASSERT_TRUE(Window()->SaveData(dir.path()));
    Window()->Saver().WaitForSave();
    ASSERT_FALSE(m_operator.m_messages.isEmpty());
    EXPECT_TRUE(m_operator.m_messages.last().startsWith(QStringLiteral("Cannot save %1: ").arg(dir.path())))
        << m_operator.m_messages.last().toStdString();
}

TEST_F(ServosWindow, TypedIdsAreCheckedAndTakeTheFoundServosPlace) {
    ASSERT_NO_FATAL_FAILURE(StartRobot(Servos({1, 2, 3})));
    for (const char* bad : {"1,1", "1,254", "1,x", ""}) {
        EXPECT_FALSE(Window()->UseIds(QLatin1String(bad)).isEmpty()) << bad;
        EXPECT_EQ(Table()->rowCount(), 3) << "the list stays";
    }
    EXPECT_EQ(m_operator.m_messages.first(), QStringLiteral("Bad ID list 1,1: ID 1 is listed twice"));
    EXPECT_EQ(Window()->UseIds(QStringLiteral("3,9")), QString());
    ASSERT_EQ(Table()->rowCount(), 2);
    ASSERT_TRUE(
        WaitUntil([this] { return Cell(1, CServosWindow::AlarmsColumn) == QLatin1String("no answer"); }));
    EXPECT_EQ(Cell(0, CServosWindow::IdColumn), QStringLiteral("3"));
    Click(Child<QPushButton>(Window(), "foundServos"));
    EXPECT_EQ(Table()->rowCount(), 3);
}

}  // namespace
