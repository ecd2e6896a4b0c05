// Teaching by hand in the Servos window: Record warns, puts torque off on the chosen servos and samples them
// until Stop; Play sends each row as one sync write with each servo's own position, as recorded; Stop holds;
// recordings are saved and opened as the client's CSV, and faulty ones are refused naming the place.
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <optional>
#include <vector>

#include "link/MotionFile.h"
#include "tests/servos/ServosFixture.h"
#include "ui/FileSaver.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t SYNC_WRITE = 0x83;

sim::CSimServoSpec HandServo(uint8_t id, int low, int high, double seconds) {
    sim::CSimServoSpec spec = sim::DefaultServo(id);
    spec.hand = sim::CHandRange{low, high, seconds};
    return spec;
}

class ServosTeach : public ServosFixture {
protected:
    void StartTeachBus() {
        ASSERT_NO_FATAL_FAILURE(
            StartRobot({HandServo(1, 300, 700, 1.0), HandServo(2, 250, 750, 0.8), sim::DefaultServo(3)}));
        Table()->item(2, CServosWindow::ChosenColumn)->setCheckState(Qt::Unchecked);
    }
    std::vector<Bytes> SyncWrites() const {
        std::vector<Bytes> frames;
        for (const auto& frame : m_sim->Frames())
            if (frame.bytes[4] == SYNC_WRITE) frames.push_back(frame.bytes);
        return frames;
    }
};

TEST_F(ServosTeach, RecordedByHandAndPlayedBackRowByRow) {
    ASSERT_NO_FATAL_FAILURE(StartTeachBus());
    ASSERT_TRUE(Window()->StartRecording());
    ASSERT_EQ(m_operator.m_questions.size(), 1);
    EXPECT_EQ(m_operator.m_questions[0],
              QStringLiteral("Torque goes off on 1, 2: support the joints.\nRecord?"));
    EXPECT_EQ(Child<QPushButton>(Window(), "record")->text(), QStringLiteral("Stop"));
    ASSERT_TRUE(WaitUntil([this] { return Window()->Recording().rows.size() >= 40; }, 5000));
    Click(Child<QPushButton>(Window(), "record"));
    EXPECT_FALSE(Window()->IsRecording());
    const CMotionRecording recording = Window()->Recording();
    EXPECT_EQ(recording.ids, (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(Window()->TeachText().endsWith(QStringLiteral("torque stays off on 1, 2")))
        << Window()->TeachText().toStdString();
    for (uint8_t id : {1, 2}) EXPECT_EQ(m_sim->Table(id)[Reg::TORQUE_ENABLE], 0);
    EXPECT_EQ(m_sim->Table(3)[Reg::TORQUE_ENABLE], 0) << "an unchosen servo is left alone";

    m_sim->ClearFrames();
    ASSERT_TRUE(Window()->StartPlaying());
    ASSERT_TRUE(WaitUntil([this] { return !Window()->IsPlaying(); }, 10000));
    EXPECT_EQ(Window()->TeachText(), QStringLiteral("Played %1 rows").arg(recording.rows.size()));
    ASSERT_TRUE(WaitUntil([&] { return SyncWrites().size() == recording.rows.size(); }, 1000));
    const std::vector<Bytes> rows = SyncWrites();
    int largest = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(rows[r][5], Reg::GOAL_POSITION);
        ASSERT_EQ(rows[r][7], 1);
        ASSERT_EQ(rows[r][10], 2);
        largest =
            std::max({largest, std::abs((rows[r][8] << 8 | rows[r][9]) - recording.rows[r].positions[0]),
                      std::abs((rows[r][11] << 8 | rows[r][12]) - recording.rows[r].positions[1])});
    }
    EXPECT_EQ(largest, 0);
    for (uint8_t id : {1, 2}) EXPECT_EQ(m_sim->Table(id)[Reg::TORQUE_ENABLE], 1);

    // Saved as the client's CSV and opened again, the same recording.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wave.csv"));
    ASSERT_TRUE(Window()->SaveRecording(path));
    Window()->Saver().WaitForSave();
    std::string error;
    const auto saved = ReadMotionFile(QFile::encodeName(path).toStdString(), &error);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(*saved, recording);
    EXPECT_EQ(Window()->OpenRecording(path), QString());
    EXPECT_EQ(Window()->Recording(), recording);

    // The window's own buttons ask for their files through the one file hook.
    std::vector<EFileKind> asked;
    const QString chosen = dir.filePath(QStringLiteral("chosen.csv"));
    {
        const CChooseFileAnswer answer([&](EFileKind kind) {
            asked.push_back(kind);
            return chosen;
        });
        Child<QPushButton>(Window(), "saveRecording")->click();
        Window()->Saver().WaitForSave();
        Child<QPushButton>(Window(), "openRecording")->click();
    }
    EXPECT_EQ(asked, (std::vector<EFileKind>{EFileKind::RecordingSave, EFileKind::RecordingOpen}));
    const auto chosenSaved = ReadMotionFile(QFile::encodeName(chosen).toStdString(), &error);
    ASSERT_TRUE(chosenSaved) << error;
    EXPECT_EQ(*chosenSaved, recording);
    EXPECT_EQ(Window()->Recording(), recording);
}

// Stop during play: one sync write of where the servos are, nothing after it, torque stays on.
TEST_F(ServosTeach, StopDuringPlayHoldsTheServosWhereTheyAre) {
    ASSERT_NO_FATAL_FAILURE(StartTeachBus());
    QTemporaryDir dir;
    QString rows = QStringLiteral("time_ms,1,2\n");
    for (int t = 0; t <= 4000; t += 20)
        rows += QStringLiteral("%1,%2,%3\n").arg(t).arg(300 + t / 10).arg(700 - t / 10);
    const QString path = dir.filePath(QStringLiteral("slow.csv"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(rows.toUtf8());
    file.close();
    ASSERT_EQ(Window()->OpenRecording(path), QString());
    m_sim->ClearFrames();
    ASSERT_TRUE(Window()->StartPlaying());
    ASSERT_TRUE(WaitUntil([this] { return SyncWrites().size() >= 10; }, 5000));
    Click(Child<QPushButton>(Window(), "play"));  // Stop
    EXPECT_FALSE(Window()->IsPlaying());
    EXPECT_TRUE(Window()->TeachText().endsWith(QStringLiteral("the servos hold where they are, torque on")))
        << Window()->TeachText().toStdString();
    // The hold is the last sync write, after the two position reads that give its values (the poll's own
    // reads go on around it).
    const auto hold = [this]() -> std::optional<Bytes> {
        std::vector<Bytes> mine;
        for (const auto& frame : m_sim->Frames())
            if (frame.bytes.size() > 6 && (frame.bytes[4] == SYNC_WRITE ||
                                           (frame.bytes[5] == Reg::PRESENT_POSITION && frame.bytes[6] == 2)))
                mine.push_back(frame.bytes);
        if (mine.size() < 3 || mine.back()[4] != SYNC_WRITE || mine[mine.size() - 2][4] == SYNC_WRITE)
            return std::nullopt;
        return mine.back();
    };
    ASSERT_TRUE(WaitUntil([&] { return hold().has_value(); }, 1000));
    const Bytes held = *hold();
    SpinEvents(300);
    for (int k = 0; k < 2; ++k) {
        const auto table = m_sim->Table(static_cast<uint8_t>(k + 1));
        // A moving shaft brakes and comes back: it rests within its dead band and what friction holds.
        EXPECT_NEAR(held[8 + 3 * k] << 8 | held[9 + 3 * k],
                    table[Reg::PRESENT_POSITION] << 8 | table[Reg::PRESENT_POSITION + 1], 3);
        EXPECT_EQ(table[Reg::TORQUE_ENABLE], 1);
    }
}

// Refusals: servos at another rate, a faulty file, a silent ID; nothing but reads goes out.
TEST_F(ServosTeach, WhatCannotBeRecordedOrPlayedIsRefused) {
    ASSERT_NO_FATAL_FAILURE(StartTeachBus());
    std::vector<CServoAtRate> found = Window()->Roster().Servos();
    found.push_back({7, 115200});
    Window()->SetFoundServos(found);
    EXPECT_FALSE(Window()->StartRecording());
    EXPECT_EQ(
        m_operator.m_messages.last(),
        QStringLiteral("ID 7 answers at 115200 baud, the port runs at 1000000: the servos of a recording "
                       "share the port's rate"));
    Table()->item(3, CServosWindow::ChosenColumn)->setCheckState(Qt::Unchecked);
    m_operator.m_bAnswerYes = false;
    EXPECT_FALSE(Window()->StartRecording()) << "declined";
    EXPECT_EQ(m_sim->Table(1)[Reg::TORQUE_ENABLE], 0);

    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.csv"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("time_ms,1,2\n0,500,500\n20,500,-3\n");
    file.close();
    EXPECT_EQ(Window()->OpenRecording(bad),
              bad + QStringLiteral(": row 3, column 3: position -3 of ID 2 is outside 0-1023"));
    EXPECT_FALSE(Window()->StartPlaying()) << "nothing recorded or opened yet";

    const QString silent = dir.filePath(QStringLiteral("silent.csv"));
    QFile other(silent);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("time_ms,1,9\n0,500,500\n");
    other.close();
    ASSERT_EQ(Window()->OpenRecording(silent), QString());
    m_sim->ClearFrames();
    ASSERT_TRUE(Window()->StartPlaying());
    ASSERT_TRUE(WaitUntil([this] { return !Window()->IsPlaying(); }, 3000));
    EXPECT_EQ(Window()->TeachText(),
              QStringLiteral("Not played: row 1, column 3: ID 9 does not answer; nothing was written"));
    for (const auto& frame : m_sim->Frames()) EXPECT_EQ(frame.bytes[4], 0x02) << "reads only";
}

}  // namespace
