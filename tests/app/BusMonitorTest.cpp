// The bus monitor window in the running application, offscreen, with the status poll at 10 ms: it lists the
// frames as they come, pauses, clears, filters by ID, follows the end and saves; the log names an alarm once.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "app/BusFrameModel.h"
#include "app/BusMonitorWindow.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "tests/app/AppFixture.h"

namespace {

class BusMonitorTest : public AppFixture {
protected:
    CRobotDlg* Robot() const { return Main()->RobotPage(); }
    CBusMonitorWindow* Monitor() const { return Main()->BusMonitor(); }

    void StartPolling() {
        Child<QLineEdit>(Robot(), "cycle")->setText(QStringLiteral("10"));
        Click(Child<QPushButton>(Robot(), "draw"));
        ASSERT_TRUE(WaitUntil(
            [this] { return Child<QLabel>(Robot(), "voltageValue")->text() == QLatin1String("7.4 V"); }));
    }
    bool RowsGrowTo(int rows) {
        return WaitUntil([&] { return Monitor()->RowCount() >= rows; }, 5000);
    }
    int LogCount(const QString& line) const { return static_cast<int>(LogLines().count(line)); }
};

TEST_F(BusMonitorTest, FollowsThePollAndPausesClearsFiltersAndSaves) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1, 2}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Click(Child<QPushButton>(Main(), "bus"));
    ASSERT_NE(Monitor(), nullptr);
    EXPECT_TRUE(Monitor()->isVisible());
    EXPECT_EQ(Monitor()->windowModality(), Qt::NonModal);
    EXPECT_TRUE(Main()->isEnabled());
    SaveGrab(Main(), QStringLiteral("main_with_bus_button"));

    ASSERT_NO_FATAL_FAILURE(StartPolling());
    ASSERT_TRUE(RowsGrowTo(100));
    Monitor()->SetPaused(true);
    const int paused = Monitor()->RowCount();
    // The newest row may be a request whose status is still on the line.
    const int last = Monitor()->RowText(paused - 1).contains(QLatin1String(" > ")) ? paused - 2 : paused - 1;
    const QString request = Monitor()->RowText(last - 1), status = Monitor()->RowText(last);
    EXPECT_TRUE(request.contains(
        QLatin1String(" > FF FF 01 04 02 29 0D C2  read 1: 13 bytes from 41 (PRESENT_POSITION)")))
        << request.toStdString();
    EXPECT_TRUE(status.contains(
        QLatin1String(" < FF FF 01 0F 00 02 00 00 00 00 00 4A 1F 00 00 00 00 00 84  status of "
                      "1: ok; PRESENT_POSITION = 512, PRESENT_SPEED = 0, PRESENT_LOAD = 0, "
                      "PRESENT_VOLTAGE = 74, PRESENT_TEMPERATURE = 31")))
        << status.toStdString();
    QScrollBar* scroll = Monitor()->View()->verticalScrollBar();
    EXPECT_TRUE(WaitUntil([&] { return scroll->value() == scroll->maximum() && scroll->maximum() > 0; }))
        << "follows the end";
    SaveGrab(Monitor(), QStringLiteral("bus_monitor"));

    SpinEvents(200);
    EXPECT_EQ(Monitor()->RowCount(), paused);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus.txt"));
    ASSERT_EQ(Monitor()->SaveTo(path), QString());
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), paused);
    EXPECT_EQ(lines.last(), Monitor()->RowText(paused - 1));
    // "Save…" asks for the file through the one file hook and writes the same lines.
    std::vector<EFileKind> asked;
    const QString chosen = dir.filePath(QStringLiteral("chosen.txt"));
    {
        const CChooseFileAnswer answer([&](EFileKind kind) {
            asked.push_back(kind);
            return chosen;
        });
        for (QPushButton* button : Monitor()->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Save\u2026")) button->click();
    }
    EXPECT_EQ(asked, std::vector<EFileKind>{EFileKind::BusFrames});
    QFile again(chosen);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly | QIODevice::Text));
    saved.seek(0);
    EXPECT_EQ(again.readAll(), saved.readAll());
    // Every failure names its cause as the system gives it, as the plot's Save Data does.
    EXPECT_EQ(Monitor()->SaveTo(dir.path()),
              QStringLiteral("Cannot save %1: is a directory").arg(dir.path()));
    const QString underAFile = path + QStringLiteral("/bus.txt");
    EXPECT_EQ(Monitor()->SaveTo(underAFile),
              QStringLiteral("Cannot save %1: Not a directory").arg(underAFile));
    Monitor()->SetPaused(false);
    ASSERT_TRUE(RowsGrowTo(paused + 10)) << "resumes where it stopped";

    Monitor()->ClearRows();
    EXPECT_EQ(Monitor()->RowCount(), 0);
    ASSERT_TRUE(RowsGrowTo(4));

    Monitor()->SetIdFilter(QStringLiteral("2"));
    EXPECT_EQ(Monitor()->RowCount(), 0) << "only ID 1 is polled";
    Monitor()->SetIdFilter(QStringLiteral("1"));
    ASSERT_TRUE(RowsGrowTo(10));
    Monitor()->SetIdFilter(QString());
    EXPECT_GE(Monitor()->RowCount(), 10);
}

TEST_F(BusMonitorTest, CtrlBOpensOneWindowAndAnAlarmIsLoggedOncePerChange) {
    ASSERT_NO_FATAL_FAILURE(StartApp({1}));
    ASSERT_NO_FATAL_FAILURE(EnterAndOpen());
    Main()->activateWindow();
    QTest::keyClick(Main(), Qt::Key_B, Qt::ControlModifier);
    if (!Monitor()) Main()->ShowBusMonitor();  // without a window manager nothing may be active
    ASSERT_NE(Monitor(), nullptr);
    CBusMonitorWindow* first = Monitor();
    Main()->ShowBusMonitor();
    EXPECT_EQ(Monitor(), first) << "raised, not opened twice";

    ASSERT_NO_FATAL_FAILURE(StartPolling());
    // A temperature limit below the servo's 31 degrees: over-heat in every status.
    m_sim->SetRegister(1, Reg::MAX_TEMPERATURE, 20);
    const QString alarm = QStringLiteral("ID 1 alarm: over-heat");
    ASSERT_TRUE(WaitUntil([&] { return LogCount(alarm) == 1; }, 5000)) << LogLines().join('\n').toStdString();
    ASSERT_TRUE(WaitUntil([&] {
        return Monitor()->RowCount() > 0 &&
               Monitor()->RowText(Monitor()->RowCount() - 1).contains(QLatin1String("alarms: over-heat"));
    }));
    SpinEvents(500);
    EXPECT_EQ(LogCount(alarm), 1) << "once per condition, not per tick";
    m_sim->SetRegister(1, Reg::MAX_TEMPERATURE, 80);
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("ID 1 alarm cleared")) == 1; }, 5000));
    SpinEvents(300);
    EXPECT_EQ(LogCount(alarm), 1);
}

TEST(BusFrameModelRows, NeverHoldMoreThanTheRingAndKeepTheNewest) {
    CBusFrameModel model(5);
    std::vector<CBusFrame> frames(12);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i].seq = i;
        frames[i].outcome.askedId = static_cast<uint8_t>(i % 2 ? 1 : 2);
    }
    model.Append({frames.begin(), frames.begin() + 4});
    model.Append({frames.begin() + 4, frames.end()});
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_TRUE(model.RowText(4).startsWith(QLatin1String("0.000000 > ")));
    model.Clear();
    model.SetIdFilter(1);
    model.Append(frames);
    EXPECT_EQ(model.rowCount(), 5) << "the six of ID 1, the newest five kept";
}

// The window draws its cells from kept layouts; they must look as the style's own drawing of the same rows:
// plain, orange and red rows, a selected one, and texts cut with an ellipsis at whatever width the column
// has now.
TEST(BusMonitorCells, LookAsTheStyleDrawsThemAtEveryColumnWidth) {
    EnsureApplication();
    CBusRecorder recorder;
    const uint8_t request[] = {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x29, 0x0D, 0xC2};
    const uint8_t status[] = {0xFF, 0xFF, 0x01, 0x04, 0x24, 0x00, 0x02, 0xD4};
    for (int i = 0; i < 6; ++i) {
        CBusFrame frame{};
        frame.direction = i % 2 ? EDirection::Received : EDirection::Sent;
        frame.instruction = 0x02;
        frame.request[0] = 0x29;
        frame.request[1] = 0x02;
        frame.outcome.askedId = 1;
        frame.outcome.answerId = 1;
        frame.outcome.kind = i == 3 ? EOutcome::BadChecksum : EOutcome::Good;
        frame.outcome.error = i == 5 ? 0x24 : 0;  // over-heat and over-load: an orange row
        const uint8_t* bytes = i % 2 ? status : request;
        frame.count = static_cast<uint16_t>(i % 2 ? sizeof status : sizeof request);
        std::copy(bytes, bytes + frame.count, frame.bytes);
        recorder.Record(frame);
    }
    CBusMonitorWindow window(recorder, [] { return true; });
    window.show();
    window.Refresh();
    ASSERT_EQ(window.RowCount(), 6);
    QTableView* view = window.View();
    view->selectRow(2);
    const auto drawn = [&](int bytesWidth) {
        view->setColumnWidth(CBusFrameModel::BytesColumn, bytesWidth);
        return view->viewport()->grab().toImage();
    };
    const std::vector<QImage> kept = {drawn(300), drawn(90), drawn(300), drawn(90)};
    view->setItemDelegate(new QStyledItemDelegate(view));
    const std::vector<QImage> styled = {drawn(300), drawn(90)};
    for (std::size_t i = 0; i < kept.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(kept[i] == styled[i % 2]) << "the cells differ from the style's own drawing";
    }
    SaveGrab(&window, QStringLiteral("bus_monitor_cells"));
}

}  // namespace
