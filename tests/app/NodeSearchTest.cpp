// The node search: the sweep and its stop, "Single Node", the node list and the log pane.
#include "link/ControlTable.h"
#include "tests/app/AppFixture.h"

using NodeSearchTest = AppFixture;

namespace {

QString PingLine(int id) {
    return QStringLiteral("Pinging ID:%1 SERVO...").arg(id);
}

// The ID of a "Pinging ID:%d SERVO..." line.
int PingedId(const QString& line) {
    return line.section(QLatin1Char(':'), 1).section(QLatin1Char(' '), 0, 0).toInt();
}

}  // namespace

TEST_F(NodeSearchTest, SearchWithThePortClosedDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(Enter());
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Search"));
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    SpinEvents(50);
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Search"));
    EXPECT_TRUE(LogLines().isEmpty());
    EXPECT_TRUE(m_sim->Frames().empty());
}

// One whole sweep over a narrowed range (every silent ID costs a timeout); meanwhile the GUI thread keeps
// using the link, as a page's command would.
TEST_F(NodeSearchTest, SweepListsIdsOneAndThreeWhileOtherCommandsGetTheirOwnAnswers) {
    constexpr int kLast = 40;
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 3}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Main()->SetSweepRange(0, kLast);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Stop"));
    int commands = 0;
    while (SweepRunning()) {
        uint8_t answeringId = 0;
        ASSERT_EQ(m_app->m_pUsb->Ping(3, &answeringId), 1);
        EXPECT_EQ(answeringId, 3);
        uint8_t id = 0;
        ASSERT_EQ(m_app->m_pUsb->ReadData(1, Reg::ID, 1, &id), 1);
        EXPECT_EQ(id, 1);
        ++commands;
        SpinEvents(40);
        ASSERT_LT(commands, kSweepWaitMs / 40) << "sweep did not end";
    }
    EXPECT_GT(commands, 10);

    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), kLast + 1);
    for (int id = 0; id <= kLast; ++id) ASSERT_EQ(lines[id], PingLine(id));
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", "3/1000000"}));
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Search"));
    SaveGrab(Main(), QStringLiteral("main_window"));

    // A second search empties the list but keeps the log. Single Node finds nothing on this bus: both
    // servos answer the broadcast ping at once and their statuses collide.
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_TRUE(Nodes().isEmpty());
    EXPECT_EQ(LogLines().size(), kLast + 1);
}

TEST_F(NodeSearchTest, StopEndsTheSweepAfterThePingInProgress) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 3}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitUntil([this] { return LogLines().size() >= 6; }));
    const int lastShown = PingedId(LogLines().last());
    Click(Child<QPushButton>(Main(), "search"));
    // Until the worker has ended, the button keeps its text and further presses only stop again.
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd(2000));
    const QStringList lines = LogLines();
    SpinEvents(4 * kTestTimeoutMs);
    EXPECT_EQ(LogLines(), lines);
    // The worker may have been past its check of the flag for the next ID, never further.
    EXPECT_LE(PingedId(lines.last()), lastShown + 1);
    EXPECT_FALSE(Main()->IsSearching());
    EXPECT_EQ(Nodes(), QStringList({"1/1000000", "3/1000000"}));
}

TEST_F(NodeSearchTest, SingleNodeFindsTheOneServoWhateverItsId) {
    ASSERT_NO_FATAL_FAILURE(StartApp({17}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(LogLines(), QStringList({"Pinging ID:BRCAST"}));
    EXPECT_EQ(Nodes(), QStringList({"17/1000000"}));
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Search"));
    EXPECT_FALSE(Main()->IsSearching());

    m_sim->RemoveServo(17);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(LogLines(), QStringList({"Pinging ID:BRCAST"}));
    EXPECT_TRUE(Nodes().isEmpty());
    EXPECT_EQ(Child<QPushButton>(Main(), "search")->text(), QStringLiteral("Search"));
}

TEST_F(NodeSearchTest, ClearDuringASweepEmptiesBothAndTheSweepGoesOn) {
    // ID 60 is far enough on that the sweep cannot have reached it when ID 1 shows.
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 60}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitUntil([this] { return !Nodes().isEmpty(); }));
    Click(Child<QPushButton>(Main(), "clearLog"));
    EXPECT_TRUE(Child<QPlainTextEdit>(Main(), "nodeLog")->toPlainText().isEmpty());
    EXPECT_TRUE(Nodes().isEmpty());
    ASSERT_TRUE(WaitUntil([this] { return !Nodes().isEmpty(); }, 10000));
    EXPECT_EQ(Nodes(), QStringList({"60/1000000"}));
    EXPECT_TRUE(SweepRunning());
    EXPECT_FALSE(LogLines().contains(PingLine(0)));
    EXPECT_TRUE(LogLines().contains(PingLine(60)));
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd(2000));
}

TEST_F(NodeSearchTest, AddNodeKeepsOneRowPerIdInTheOrderFound) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    Main()->AddNode(7, 1000000);
    Main()->AddNode(3, 1000000);
    Main()->AddNode(7, 500000);
    EXPECT_EQ(Nodes(), QStringList({"7/500000", "3/1000000"}));
    Main()->AppendLog(QStringLiteral("first"));
    Main()->AppendLog(QStringLiteral("second"));
    EXPECT_EQ(Child<QPlainTextEdit>(Main(), "nodeLog")->toPlainText(), QStringLiteral("first\nsecond"));
}

// Two servos with one ID answer a ping as one, at 57600 without a damaged byte: the read that confirms each
// find tells them apart, and the log says so. The node is listed once.
TEST_F(NodeSearchTest, ServosSharingAnIdAreNamedInTheLogByBothSearches) {
    sim::CSimServoSpec one = sim::DefaultServo(4, 6), warmer = sim::DefaultServo(4, 6);
    warmer.temperature = 36;
    m_sim = std::make_unique<sim::CBusSimulator>(
        std::vector<sim::CSimServoSpec>{one, warmer, sim::DefaultServo(6, 6)}, sim::CSimLineOptions{});
    ASSERT_TRUE(m_sim->Start());
    CAppOptions options;
    options.szPortPath = m_sim->SlavePath();
    StartWithOptions(options);
    ASSERT_NO_FATAL_FAILURE(Enter());
    ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("57600")));
    Main()->SetSweepRange(0, 7);
    Click(Child<QPushButton>(Main(), "search"));
    ASSERT_TRUE(WaitForSweepEnd());
    EXPECT_EQ(Nodes(), QStringList({"4/57600", "6/57600"}));
    const QString shared = QStringLiteral("ID:4 BAUD:57600 two or more servos answer");
    EXPECT_EQ(LogLines().count(shared), 1) << LogLines().join('\n').toStdString();
    EXPECT_EQ(LogLines().indexOf(shared), LogLines().indexOf(PingLine(4)) + 1);

    // "Single Node" with only the pair on the bus: their answers to the broadcast overlap cleanly.
    m_sim->RemoveServo(6);
    Child<QCheckBox>(Main(), "singleNode")->setChecked(true);
    Click(Child<QPushButton>(Main(), "search"));
    EXPECT_EQ(Nodes(), QStringList({"4/57600"}));
    EXPECT_EQ(LogLines().mid(LogLines().size() - 2),
              QStringList({QStringLiteral("Pinging ID:BRCAST"), shared}));
}
