// "Calibrate…" on the programming page: a hand sweep on a simulated servo fills the position limit fields,
// which WRITE then stores; a sweep that saw no movement, or was cancelled, leaves the fields alone.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "link/ControlTable.h"
#include "program/CalibrateDialog.h"
#include "program/ServoPG.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"

namespace {

class CalibrateTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_link.Open());
        m_usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
        m_page = std::make_unique<ServoPG>(nullptr, &m_usb);
        m_page->Create(nullptr);
        m_page->show();
    }
    void TearDown() override { m_page.reset(); }

    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    CCalibrateDialog& Calibrate() {
        Click(Child<QPushButton>(*m_page, "calibrate"));
        if (!m_page->CalibrateWindow()) throw std::runtime_error("no calibrate window");
        return *m_page->CalibrateWindow();
    }
    QString Field(const char* name) { return Child<QLineEdit>(*m_page, name)->text(); }
    QStringList Log() { return PaneLines(Child<QPlainTextEdit>(*m_page, "log")->toPlainText()); }
    QString LastLog() { return Log().last(); }
    int Word(uint8_t id, uint8_t address) {
        const auto table = m_link.Sim().Table(id);
        return table.at(address) << 8 | table.at(address + 1);
    }

    CSimulatedLink m_link{{*sim::ParseServoSpec("1:hand=200-800/1", nullptr), sim::DefaultServo(2)}, {}};
    CServoUsb& m_usb = m_link.Usb();
    std::unique_ptr<ServoPG> m_page;
};

TEST_F(CalibrateTest, FillsTheLimitFieldsFromTheSweepForWriteToStore) {
    m_page->SetTargetId(1);
    m_link.Sim().SetRegister(1, Reg::TORQUE_ENABLE, 1);
    CCalibrateDialog& window = Calibrate();
    EXPECT_TRUE(window.isVisible());
    QLabel* range = Child<QLabel>(window, "range");
    ASSERT_TRUE(WaitUntil([&] { return range->text().contains(QStringLiteral("seen 200 to 800")); }, 5000))
        << range->text().toStdString();
    EXPECT_EQ(m_link.Sim().Table(1).at(Reg::TORQUE_ENABLE), 0) << "the hand moves a joint without torque";
    SaveGrab(&window, QStringLiteral("calibrate_sweeping"));
    Click(Child<QPushButton>(window, "done"));
    ASSERT_TRUE(WaitUntil([&] { return !m_page->CalibrateWindow(); }, 3000)) << "closes with a result";

    EXPECT_EQ(Field("minPosition"), QStringLiteral("195"));
    EXPECT_EQ(Field("maxPosition"), QStringLiteral("805"));
    EXPECT_EQ(Log().mid(1), QStringList({"----------ID:1----------", "Calibrate", "Seen 200..800",
                                         "Limits 195..805", "WRITE stores them"}));
    EXPECT_EQ(Word(1, Reg::MAX_POSITION_LIMIT), 1023) << "nothing written yet";

    Child<QCheckBox>(*m_page, "unlock")->setChecked(true);
    Click(Child<QPushButton>(*m_page, "write"));
    ASSERT_TRUE(WaitUntil([&] { return !m_page->IsBusy(); }, 5000));
    EXPECT_EQ(Word(1, Reg::MIN_POSITION_LIMIT), 195);
    EXPECT_EQ(Word(1, Reg::MAX_POSITION_LIMIT), 805);
    SaveGrab(m_page.get(), QStringLiteral("program_page_calibrated"));
}

TEST_F(CalibrateTest, ASweepWithoutMovementOrCancelledLeavesTheFieldsAlone) {
    m_page->SetTargetId(2);
    CCalibrateDialog& window = Calibrate();
    SpinEvents(300);
    Click(Child<QPushButton>(window, "done"));
    ASSERT_TRUE(WaitUntil([&] { return !window.IsRunning(); }, 3000));
    EXPECT_TRUE(window.StatusText().startsWith(QStringLiteral("the joint did not move")))
        << window.StatusText().toStdString();
    EXPECT_EQ(LastLog(), QStringLiteral("Calibrate failed"));
    EXPECT_EQ(Field("maxPosition"), QStringLiteral("1023"));
    window.close();
    ASSERT_TRUE(WaitUntil([&] { return !m_page->CalibrateWindow(); }, 3000));

    m_page->SetTargetId(1);
    CCalibrateDialog& again = Calibrate();
    SpinEvents(200);
    Click(Child<QPushButton>(again, "cancel"));
    ASSERT_TRUE(WaitUntil([&] { return !m_page->CalibrateWindow(); }, 3000));
    EXPECT_EQ(LastLog(), QStringLiteral("Calibrate failed"));
    EXPECT_EQ(Field("minPosition"), QStringLiteral("0"));

    m_link.Sim().SetRegister(1, Reg::LOCK, 0);
    m_link.Sim().SetRegister(1, Reg::MAX_POSITION_LIMIT, 0);
    m_link.Sim().SetRegister(1, Reg::MAX_POSITION_LIMIT + 1, 0);
    CCalibrateDialog& wheel = Calibrate();
    ASSERT_TRUE(WaitUntil([&] { return !wheel.IsRunning(); }, 3000));
    EXPECT_TRUE(wheel.StatusText().contains(QStringLiteral("wheel mode")))
        << wheel.StatusText().toStdString();
    EXPECT_EQ(LastLog(), QStringLiteral("Calibrate failed"));
}

}  // namespace
