// "All Bauds": the node search over every rate, each servo listed with its own rate, Stop, and the offer to
// move the port to a picked servo's rate.
#include <QFile>
#include <QSet>
#include <QTableView>
#include <QTemporaryDir>

#include "app/BusFrameModel.h"
#include "app/BusMonitorWindow.h"
#include "link/ControlTable.h"
#include "tests/app/AppFixture.h"

namespace {

sim::CSimServoSpec Servo(uint8_t id, uint32_t baud, uint8_t delay = 0) {
    sim::CSimServoSpec spec = sim::DefaultServo(id, static_cast<uint8_t>(BaudCodeOf(baud)));
    spec.returnDelay = delay;
    return spec;
}

class AllRateSearchTest : public AppFixture {
protected:
    void StartMixedBus(const std::vector<sim::CSimServoSpec>& servos) {
        ASSERT_NO_FATAL_FAILURE(StartAppWithServos(servos));
        ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
        Child<QCheckBox>(Main(), "allBauds")->setChecked(true);
    }
    int RowOf(const QString& node) const { return static_cast<int>(Nodes().indexOf(node)); }
};

TEST_F(AllRateSearchTest, OneSearchListsEveryServoWithItsOwnRate) {
    ASSERT_NO_FATAL_FAILURE(
        StartMixedBus({Servo(9, 38400), Servo(7, 115200, 254), Servo(1, 1000000), Servo(4, 500000)}));
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(Main()->Page(1)->isEnabled());
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", "4/500000", "7/115200", "9/38400"}));
    EXPECT_EQ(LogLines(),
              QStringList({"Pinging BAUD:1000000...", "Found ID:1 BAUD:1000000", "Pinging BAUD:500000...",
                           "Found ID:4 BAUD:500000", "Pinging BAUD:250000...", "Pinging BAUD:128000...",
                           "Pinging BAUD:115200...", "Found ID:7 BAUD:115200", "Pinging BAUD:76800...",
                           "Pinging BAUD:57600...", "Pinging BAUD:38400...", "Found ID:9 BAUD:38400"}));
    EXPECT_TRUE(Main()->Page(1)->isEnabled());
    EXPECT_EQ(m_app->m_pTransport->LineRate(), 1000000);
    SaveGrab(Main(), QStringLiteral("all_bauds_search"));

    // With "Single Node" too: one broadcast ping per rate, each answer listed with its rate and confirmed
    // with one read of its status span.
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    m_sim->ClearFrames();
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", "4/500000", "7/115200", "9/38400"}));
    EXPECT_EQ(m_sim->Frames().size(), 8u + 4u);
}

// The All Bauds search goes through the recording like every exchange: the Bus window shows its frames with
// their rates, and its log names servos sharing an ID and alarms as the normal search does.
TEST_F(AllRateSearchTest, TheBusWindowShowsTheSearchAtEveryRateAndTheLogItsFindings) {
    sim::CSimServoSpec warmer = Servo(4, 57600);
    warmer.temperature = 36;
    sim::CSimServoSpec hot = Servo(9, 38400);
    hot.temperature = 90;
    ASSERT_NO_FATAL_FAILURE(StartMixedBus({Servo(1, 1000000), Servo(4, 57600), warmer, hot}));
    Main()->ShowBusMonitor();
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", "4/57600", "9/38400"}));
    EXPECT_TRUE(LogLines().contains(QStringLiteral("ID:4 BAUD:57600 two or more servos answer")))
        << LogLines().join('\n').toStdString();
    ASSERT_TRUE(
        WaitUntil([this] { return LogLines().contains(QStringLiteral("ID 9 alarm: over-heat")); }, 2000))
        << LogLines().join('\n').toStdString();

    CBusMonitorWindow* monitor = Main()->BusMonitor();
    ASSERT_TRUE(
        WaitUntil([&] { return monitor->RowCount() >= 2 * static_cast<int>(m_sim->Frames().size()); }));
    const CBusFrameModel* model = static_cast<const CBusFrameModel*>(monitor->View()->model());
    QSet<QString> rates;
    for (int row = 0; row < model->rowCount(); ++row)
        rates.insert(model->data(model->index(row, CBusFrameModel::RateColumn), Qt::DisplayRole).toString());
    for (const char* rate : {"1000000", "500000", "57600", "38400"})
        EXPECT_TRUE(rates.contains(QLatin1String(rate))) << rate;
    EXPECT_EQ(model->headerData(CBusFrameModel::RateColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Rate"));
    // Saved as the trace shows it: a line wherever the rate changes.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("search.txt"));
    ASSERT_EQ(monitor->SaveTo(path), QString());
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(saved.readAll());
    EXPECT_TRUE(text.contains(QLatin1String(" -- line rate 57600 baud\n"))) << text.left(400).toStdString();
    SaveGrab(monitor, QStringLiteral("bus_monitor_all_bauds"));
}

TEST_F(AllRateSearchTest, PickingAServoAtAnotherRateOffersToSwitchThePort) {
    ASSERT_NO_FATAL_FAILURE(StartMixedBus({Servo(1, 1000000), Servo(7, 115200)}));
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd());
    ASSERT_EQ(Nodes(), QStringList({"1/1000000", "7/115200"}));

    // A servo at the port's rate: nothing to offer.
    Child<QTableWidget>(Main(), "nodes")->cellClicked(RowOf("1/1000000"), 0);
    EXPECT_TRUE(m_operator.m_questions.isEmpty());

    m_operator.m_bAnswerYes = false;
    Child<QTableWidget>(Main(), "nodes")->cellClicked(RowOf("7/115200"), 0);
    ASSERT_EQ(m_operator.m_questions.size(), 1);
    EXPECT_TRUE(m_operator.m_questions[0].contains(QStringLiteral("115200")));
    EXPECT_EQ(m_app->m_pTransport->LineRate(), 1000000);
    EXPECT_EQ(Child<QComboBox>(Main(), "portBaud")->currentText(), QStringLiteral("1000000"));

    m_operator.m_bAnswerYes = true;
    Child<QTableWidget>(Main(), "nodes")->cellClicked(RowOf("7/115200"), 0);
    EXPECT_EQ(m_operator.m_questions.size(), 2);
    EXPECT_EQ(m_app->m_pTransport->LineRate(), 115200);
    EXPECT_EQ(Main()->Baud(), 115200);
    EXPECT_EQ(Child<QComboBox>(Main(), "portBaud")->currentText(), QStringLiteral("115200"));
    uint8_t who = 0;
    EXPECT_EQ(m_app->m_pUsb->Ping(7, &who), 1);

    // The ordinary sweep now runs at the new rate and lists it.
    Child<QCheckBox>(Main(), "allBauds")->setChecked(false);
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Nodes(), QStringList({"7/115200"}));
}

TEST_F(AllRateSearchTest, StopOrUnplugEndTheScanAndAStopPutsThePortBackAtItsRate) {
    ASSERT_NO_FATAL_FAILURE(StartMixedBus({Servo(1, 1000000), Servo(2, 500000), Servo(3, 38400)}));
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(
        WaitUntil([this] { return LogLines().contains(QStringLiteral("Pinging BAUD:500000...")); }, 10000));
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd(2000));
    EXPECT_FALSE(LogLines().contains(QStringLiteral("Pinging BAUD:38400...")));
    EXPECT_FALSE(Nodes().contains(QStringLiteral("3/38400")));
    EXPECT_EQ(m_app->m_pTransport->LineRate(), 1000000);
    EXPECT_TRUE(Main()->Page(0)->isEnabled());
    EXPECT_EQ(m_app->m_pUsb->Ping(1), 1);

    // The adapter pulled out mid-scan: the search ends and the port is reported lost. It goes once servo 2
    // is listed: a find still on its way to the log could land after the lost port's line.
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitUntil(
        [this] {
            const QStringList lines = LogLines();
            const qsizetype second = lines.lastIndexOf(QStringLiteral("Pinging BAUD:500000..."));
            return lines.count(QStringLiteral("Pinging BAUD:500000...")) == 2 &&
                   lines.indexOf(QStringLiteral("Found ID:2 BAUD:500000"), second) > second;
        },
        10000));
    m_sim->Unplug();
    ASSERT_TRUE(WaitForSweepEnd(2000));
    EXPECT_TRUE(LogLines().last().startsWith(QStringLiteral("Port "))) << LogLines().last().toStdString();
    EXPECT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(Main()->Page(1)->isEnabled());
}

}  // namespace
