// The plot's "Save Data…" and "Save Picture…" on a page polling a simulated servo: what the files hold,
// and that a failed save loses nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "debug/RobotDlg.h"
#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "sim/ServoDynamics.h"
#include "tests/debug/RobotPageFixture.h"
#include "tests/program/TempDir.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> CsvLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& row) {
    std::vector<std::string> fields;
    std::istringstream in(row);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

}  // namespace

class PlotExportTest : public CRobotPageTest {
protected:
    PlotExportTest() : CRobotPageTest({1}) {}

    // Polls until the servo has been read n times since "Draw".
    void Poll(std::size_t n) {
        m_page->StartDrawing(10);
        ASSERT_TRUE(WaitUntil([&] { return m_page->PollTimer().Ticks() >= n; }, 10000));
        m_page->StopDrawing();
    }

    bool Save(bool data, const fs::path& path) {
        CPlotExport& out = m_page->PlotExport();
        const QString name = QString::fromStdString(path.string());
        const bool started = data ? out.SaveData(name) : out.SavePicture(name);
        out.WaitForSave();
        return started;
    }

    sim::CBusSimulator& m_sim = m_link.Sim();
    COperatorRecorder m_operator;
    CTempDir m_dir;
};

TEST_F(PlotExportTest, SaveDataHoldsEveryReadingSinceDrawAsTheLabelsShowIt) {
    // From 512 up to the goal 600 at speed 20 (200 units a second), then at rest there.
    m_sim.SetRegister(1, Reg::GOAL_SPEED, 0);
    m_sim.SetRegister(1, Reg::GOAL_SPEED + 1, 20);
    m_sim.SetRegister(1, Reg::GOAL_POSITION, 0x02);
    m_sim.SetRegister(1, Reg::GOAL_POSITION + 1, 0x58);
    m_sim.SetRegister(1, Reg::TORQUE_ENABLE, 1);
    Poll(2);                     // a first run, which the next "Draw" forgets
    m_page->Plot().SetZoom(50);  // the plot shows about 35 readings
    Poll(120);
    const fs::path file = m_dir.Path() / "curve.csv";
    ASSERT_TRUE(Save(true, file));
    EXPECT_TRUE(m_operator.m_messages.isEmpty()) << m_operator.m_messages.join("; ").toStdString();

    const auto lines = CsvLines(file);
    ASSERT_GE(lines.size(), 101u);
    EXPECT_EQ(lines[0], "time_ms,position,speed,load,voltage,temperature");
    EXPECT_GT(lines.size() - 1, static_cast<std::size_t>(m_page->Plot().Capacity()))
        << "more than the plot shows";
    long previousTime = -1, previousPosition = 0;
    const long friction = std::lround(sim::CServoDynamics::kFriction);
    bool cruised = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 6u) << lines[i];
        const long time = std::stol(f[0]), position = std::stol(f[1]);
        EXPECT_GT(time, previousTime) << lines[i];
        EXPECT_GE(position, previousPosition) << lines[i];
        EXPECT_LE(position, 600) << lines[i];
        if (f[2] == "20") {
            // Speeding up the motor pushes hard and the supply sags; cruising it only makes up for the gear
            // train's friction, the supply 0.1 V down; braking near the goal it eases off.
            EXPECT_GE(std::stol(f[3]), 0) << lines[i];
            cruised = cruised || (std::stol(f[3]) == friction && f[4] == "7.3");
        }
        EXPECT_TRUE(f[5] == "30" || f[5] == "31" || f[5] == "32") << lines[i];
        previousTime = time;
        previousPosition = position;
    }
    EXPECT_LT(std::stol(Fields(lines[1])[0]), 100) << "times count from this Draw";
    EXPECT_TRUE(cruised);
    // At rest within the dead band of 1 below the goal it came up to.
    const auto last = Fields(lines.back());
    EXPECT_GE(std::stol(last[1]), 599) << lines.back();
    EXPECT_EQ(std::vector<std::string>(last.begin() + 2, last.end() - 1),
              (std::vector<std::string>{"0", "0", "7.4"}))
        << lines.back();
}

TEST_F(PlotExportTest, AFailedSaveNamesTheCauseAndLosesNoData) {
    Poll(20);
    // What a save holds before the failures (a read lost on a loaded machine leaves fewer than the ticks).
    const fs::path before = m_dir.Path() / "before.csv";
    ASSERT_TRUE(Save(true, before));
    ASSERT_GE(CsvLines(before).size(), 2u);
    const fs::path readOnly = m_dir.Path() / "locked.csv";
    std::ofstream(readOnly) << "keep";
    fs::permissions(readOnly, fs::perms::owner_read);
    ASSERT_TRUE(Save(true, readOnly));
    ASSERT_EQ(m_operator.m_messages.size(), 1);
    EXPECT_TRUE(m_operator.m_messages[0].contains(QStringLiteral("Permission denied")))
        << m_operator.m_messages[0].toStdString();
    ASSERT_TRUE(Save(true, m_dir.Path()));
    EXPECT_TRUE(m_operator.m_messages.last().contains(QStringLiteral("is a directory")));

    const fs::path good = m_dir.Path() / "retry.csv";
    ASSERT_TRUE(Save(true, good));
    EXPECT_EQ(m_operator.m_messages.size(), 2);
    EXPECT_EQ(CsvLines(good), CsvLines(before)) << "every reading is still there";
    std::ifstream kept(readOnly);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}

TEST_F(PlotExportTest, SavePictureWritesThePlotAtItsSizeAndTheMenuOffersBoth) {
    Poll(30);
    const fs::path file = m_dir.Path() / "plot.png";
    ASSERT_TRUE(Save(false, file));
    QImage picture(QString::fromStdString(file.string()));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), m_page->Plot().size() * m_page->Plot().devicePixelRatio());
    int dark = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) dark += qGray(picture.pixel(x, y)) < 128;
    EXPECT_GT(dark, picture.width()) << "the frame, the grid, its labels and the position trace";

    // The right-click menu: both entries, each asking for its kind of file.
    std::vector<EFileKind> asked;
    const fs::path chosen = m_dir.Path() / "menu.csv";
    const CChooseFileAnswer answer([&](EFileKind kind) {
        asked.push_back(kind);
        return kind == EFileKind::PlotData ? QString::fromStdString(chosen.string()) : QString();
    });
    std::unique_ptr<QMenu> menu(m_page->PlotExport().CreateMenu(nullptr));
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    EXPECT_EQ(texts, QStringList({QStringLiteral("Save Data\u2026"), QStringLiteral("Save Picture\u2026")}));
    SaveGrab(menu.get(), QStringLiteral("plot-menu"));
    menu->findChild<QAction*>(QStringLiteral("savePicture"))->trigger();
    menu->findChild<QAction*>(QStringLiteral("saveData"))->trigger();
    m_page->PlotExport().WaitForSave();
    EXPECT_EQ(asked, (std::vector<EFileKind>{EFileKind::PlotPicture, EFileKind::PlotData}));
    EXPECT_GE(CsvLines(chosen).size(), 31u);
    SaveGrab(m_page.get(), QStringLiteral("plot-export"));
}
