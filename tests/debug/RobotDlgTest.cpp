// The servo operation panel: its opening state and the exact frames its commands put on the bus.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTest>
#include <memory>

#include "debug/RobotDlg.h"
#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "tests/debug/RobotPageFixture.h"
#include "tests/support/SimulatedLink.h"
#include "tests/support/TestFrame.h"
#include "tests/ui/GuiTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

}  // namespace

class RobotDlgTest : public CRobotPageTest {
protected:
    RobotDlgTest() : CRobotPageTest({1, 3, 4, 5}) {}

    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // The frames the page sent since the last call; waits for `expected` of them, then for stragglers.
    std::vector<Bytes> Sent(std::size_t expected) {
        if (expected > 0) m_sim->WaitForFrames(expected, std::chrono::seconds(2));
        SpinEvents(30);
        std::vector<Bytes> frames;
        for (const sim::CSimFrame& frame : m_sim->Frames()) frames.push_back(frame.bytes);
        m_sim->ClearFrames();
        return frames;
    }

    sim::CBusSimulator* const m_sim = &m_link.Sim();
};

TEST_F(RobotDlgTest, OpensWithHalfRangesWriteModeAndPlaceholdersReplaced) {
    CRobotDlg& page = *m_page;
    EXPECT_EQ(ImageWord(m_usb.Image(), Reg::GOAL_POSITION), 511);
    EXPECT_EQ(ImageWord(m_usb.Image(), Reg::GOAL_SPEED), 50);
    EXPECT_EQ(m_usb.Image()[Reg::TORQUE_ENABLE], 0);
    EXPECT_EQ(Child<QLabel>(page, "goalText")->text(), QStringLiteral("Goal:511"));
    EXPECT_EQ(Child<QLabel>(page, "speedText")->text(), QStringLiteral("Speed:50"));
    EXPECT_EQ(Child<QSlider>(page, "goal")->value(), 511);
    EXPECT_EQ(Child<QSlider>(page, "goal")->maximum(), 1023);
    EXPECT_EQ(Child<QSlider>(page, "speed")->value(), 50);
    EXPECT_EQ(Child<QSlider>(page, "speed")->maximum(), 100);
    EXPECT_TRUE(Child<QRadioButton>(page, "write")->isChecked());
    EXPECT_FALSE(Child<QPushButton>(page, "action")->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(page, "lastId")->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(page, "tracePosition")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(page, "traceLoad")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(page, "traceSpeed")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(page, "torque")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(page, "wheel")->isChecked());
    EXPECT_EQ(Child<QLineEdit>(page, "cycle")->text(), QStringLiteral("10"));
    EXPECT_EQ(Child<QLineEdit>(page, "lastId")->text(), QStringLiteral("10"));
    EXPECT_EQ(Child<QLineEdit>(page, "zoom")->text(), QStringLiteral("10"));
    EXPECT_EQ(Child<QLineEdit>(page, "id")->text(), QStringLiteral("1"));
    EXPECT_EQ(page.LastId(), 10);
    EXPECT_FALSE(page.IsDrawing());
    EXPECT_EQ(Child<QPushButton>(page, "draw")->text(), QStringLiteral("Draw"));
    for (QLabel* zero : {Child<QLabel>(page, "positionValue"), Child<QLabel>(page, "speedValue"),
                         Child<QLabel>(page, "loadValue"), Child<QLabel>(page, "currentValue")})
        EXPECT_EQ(zero->text(), QStringLiteral("0"));
    EXPECT_EQ(Child<QLabel>(page, "voltageValue")->text(), QStringLiteral("0.0 V"));
    EXPECT_EQ(Child<QLabel>(page, "temperatureValue")->text(), QStringLiteral("0.0 Deg"));
    // Opening and setting up the sliders are not operator moves: nothing goes out.
    EXPECT_TRUE(Sent(0).empty());
    {
        const QSignalBlocker goal(Child<QSlider>(page, "goal"));
        const QSignalBlocker speed(Child<QSlider>(page, "speed"));
        Child<QSlider>(page, "goal")->setValue(0);
        Child<QSlider>(page, "speed")->setValue(0);
    }
    page.InitSliders();
    EXPECT_EQ(Child<QSlider>(page, "goal")->value(), 511);
    EXPECT_EQ(Child<QSlider>(page, "speed")->value(), 50);
    EXPECT_TRUE(Sent(0).empty());
}

TEST_F(RobotDlgTest, GoalSliderSendsPositionAndSpeedInEveryModeAndByteOrder) {
    const Bytes high{0x21, 0x02, 0xBC, 0x00, 0x32};
    const Bytes low{0x21, 0xBC, 0x02, 0x32, 0x00};
    const auto block = [](uint8_t id, const Bytes& data) {
        Bytes b{id};
        b.insert(b.end(), data.begin() + 1, data.end());
        return b;
    };
    const auto sync = [&](const Bytes& data) {
        Bytes params{0x21, 0x04};
        for (uint8_t id : {1, 2, 3}) {
            const Bytes b = block(id, data);
            params.insert(params.end(), b.begin(), b.end());
        }
        return Frame(0xFE, 0x83, params);
    };
    struct CCase {
        const char* name;
        int mode;  // 0 Write, 1 Sync Write, 2 Reg Write
        uint8_t highByteFirst;
        std::vector<Bytes> frames;
    };
    const CCase cases[] = {
        {"write, high first", 0, 1, {Frame(1, 0x03, high)}},
        {"write, low first", 0, 0, {Frame(1, 0x03, low)}},
        {"sync, high first", 1, 1, {sync(high)}},
        {"sync, low first", 1, 0, {sync(low)}},
        {"reg, high first", 2, 1, {Frame(1, 0x04, high), Frame(2, 0x04, high), Frame(3, 0x04, high)}},
        {"reg, low first", 2, 0, {Frame(1, 0x04, low), Frame(2, 0x04, low), Frame(3, 0x04, low)}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakePage();
        m_usb.Image()[Reg::HIGH_BYTE_FIRST] = c.highByteFirst;
        QRadioButton* radios[] = {Child<QRadioButton>(m_page, "write"),
                                  Child<QRadioButton>(m_page, "syncWrite"),
                                  Child<QRadioButton>(m_page, "regWrite")};
        Click(radios[c.mode]);
        if (c.mode != 0) Type(Child<QLineEdit>(m_page, "lastId"), QStringLiteral("3"));
        Sent(0);
        Child<QSlider>(m_page, "goal")->setValue(700);
        EXPECT_EQ(Sent(c.frames.size()), c.frames);
        EXPECT_EQ(ImageWord(m_usb.Image(), Reg::GOAL_POSITION), 700);
        EXPECT_EQ(Child<QLabel>(m_page, "goalText")->text(), QStringLiteral("Goal:700"));
    }
}

TEST_F(RobotDlgTest, KeyboardMovesOfTheGoalSliderAreCommandsToo) {
    Child<QSlider>(m_page, "goal")->setFocus();
    QTest::keyClick(Child<QSlider>(m_page, "goal"), Qt::Key_Right);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x21, 0x02, 0x00, 0x00, 0x32})}));
}

TEST_F(RobotDlgTest, WheelModeSendsSignedSpeedsAndOtherwiseSpeedWaitsForTheGoal) {
    CRobotDlg& page = *m_page;
    Click(Child<QCheckBox>(page, "wheel"));
    EXPECT_FALSE(Child<QSlider>(page, "goal")->isEnabled());
    EXPECT_EQ(Child<QLabel>(page, "speedText")->text(), QStringLiteral("Speed:0"));
    EXPECT_EQ(Child<QSlider>(page, "speed")->minimum(), -1023);
    EXPECT_EQ(Child<QSlider>(page, "speed")->maximum(), 1023);
    EXPECT_EQ(Child<QSlider>(page, "speed")->value(), 0);
    EXPECT_TRUE(Sent(0).empty());

    Child<QSlider>(page, "speed")->setValue(-300);
    EXPECT_EQ(ImageWord(m_usb.Image(), Reg::GOAL_SPEED), 0x052C);
    EXPECT_EQ(Child<QLabel>(page, "speedText")->text(), QStringLiteral("Speed:-300"));
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x23, 0x05, 0x2C})}));

    Click(Child<QCheckBox>(page, "wheel"));
    EXPECT_TRUE(Child<QSlider>(page, "goal")->isEnabled());
    EXPECT_EQ(Child<QLabel>(page, "speedText")->text(), QStringLiteral("Speed:50"));
    EXPECT_EQ(Child<QSlider>(page, "speed")->value(), 50);
    EXPECT_EQ(Child<QSlider>(page, "speed")->minimum(), 0);
    EXPECT_EQ(Child<QSlider>(page, "speed")->maximum(), 100);
    EXPECT_EQ(ImageWord(m_usb.Image(), Reg::GOAL_SPEED), 50);

    Child<QSlider>(page, "speed")->setValue(80);
    EXPECT_EQ(Child<QLabel>(page, "speedText")->text(), QStringLiteral("Speed:80"));
    EXPECT_TRUE(Sent(0).empty());
    Child<QSlider>(page, "goal")->setValue(600);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x21, 0x02, 0x58, 0x00, 0x50})}));
}

TEST_F(RobotDlgTest, RangesOfRegAndSyncWriteAndTheBroadcastAction) {
    CRobotDlg& page = *m_page;
    const Bytes torqueOn{0x1F, 0x01};
    Click(Child<QRadioButton>(page, "regWrite"));
    EXPECT_TRUE(Child<QPushButton>(page, "action")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(page, "lastId")->isEnabled());
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("3"));
    Type(Child<QLineEdit>(page, "lastId"), QStringLiteral("5"));
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_EQ(Sent(3), std::vector<Bytes>(
                           {Frame(3, 0x04, torqueOn), Frame(4, 0x04, torqueOn), Frame(5, 0x04, torqueOn)}));
    Click(Child<QPushButton>(page, "action"));
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(0xFE, 0x05, {})}));

    Type(Child<QLineEdit>(page, "id"), QStringLiteral("7"));
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_TRUE(Sent(0).empty());

    Click(Child<QRadioButton>(page, "syncWrite"));
    EXPECT_FALSE(Child<QPushButton>(page, "action")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(page, "lastId")->isEnabled());
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_TRUE(Sent(0).empty());
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("0"));
    Type(Child<QLineEdit>(page, "lastId"), QStringLiteral("-3"));
    EXPECT_EQ(page.LastId(), -3);
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_TRUE(Sent(0).empty());
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("3"));
    Type(Child<QLineEdit>(page, "lastId"), QStringLiteral("5"));
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_EQ(m_usb.Image()[Reg::TORQUE_ENABLE], 1);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(0xFE, 0x83, {0x1F, 0x01, 3, 0x01, 4, 0x01, 5, 0x01})}));

    Click(Child<QRadioButton>(page, "write"));
    EXPECT_FALSE(Child<QPushButton>(page, "action")->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(page, "lastId")->isEnabled());
    Click(Child<QCheckBox>(page, "torque"));
    EXPECT_EQ(m_usb.Image()[Reg::TORQUE_ENABLE], 0);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(3, 0x03, {0x1F, 0x00})}));
}

TEST_F(RobotDlgTest, IdAndLastIdAreClampedAndSelectTheServo) {
    CRobotDlg& page = *m_page;
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("300"));
    EXPECT_EQ(Child<QLineEdit>(page, "id")->text(), QStringLiteral("254"));
    EXPECT_EQ(m_usb.Image()[Reg::ID], 254);
    Type(Child<QLineEdit>(page, "id"), QString());
    EXPECT_EQ(m_usb.Image()[Reg::ID], 0);

    Click(Child<QRadioButton>(page, "syncWrite"));
    Type(Child<QLineEdit>(page, "lastId"), QStringLiteral("15"));
    EXPECT_EQ(Child<QLineEdit>(page, "lastId")->text(), QStringLiteral("10"));
    EXPECT_EQ(page.LastId(), 10);

    page.SetServoId(7);
    EXPECT_EQ(Child<QLineEdit>(page, "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(m_usb.Image()[Reg::ID], 7);
}

TEST_F(RobotDlgTest, EnterAndEscapeLeaveThePageAsItIs) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(m_page.get(), key);
        QTest::keyClick(Child<QLineEdit>(m_page, "id"), key);
    }
    EXPECT_TRUE(m_page->isVisible());
    EXPECT_TRUE(Sent(0).empty());
}
