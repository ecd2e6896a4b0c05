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

#include "BrennixUsb.h"
#include "ControlTable.h"
#include "Encodings.h"
#include "GuiTest.h"
#include "RobotDlg.h"
#include "ServoUsb.h"
#include "SimulatedLink.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A request frame typed from its fields, with the protocol's checksum.
Bytes Frame(uint8_t id, uint8_t instruction, const Bytes& params) {
    Bytes frame{0xFF, 0xFF, id, static_cast<uint8_t>(params.size() + 2), instruction};
    frame.insert(frame.end(), params.begin(), params.end());
    unsigned sum = 0;
    for (std::size_t i = 2; i < frame.size(); ++i) sum += frame[i];
    frame.push_back(static_cast<uint8_t>(~sum & 0xFF));
    return frame;
}

}  // namespace

class RobotDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_link.Open());
        m_usb.m_pImage[Reg::HIGH_BYTE_FIRST] = 1;
        m_usb.m_pImage[Reg::ID] = 1;
        MakePage();
    }

    void TearDown() override { m_page.reset(); }

    void MakePage() {
        m_page = std::make_unique<CRobotDlg>(nullptr, m_usb);
        m_page->Create(nullptr);
        m_page->show();
    }

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
        for (const sim::SimFrame& frame : m_sim->Frames()) frames.push_back(frame.bytes);
        m_sim->ClearFrames();
        return frames;
    }

    CSimulatedLink m_link{{1, 3, 4, 5}};
    sim::CBusSimulator* const m_sim = &m_link.Sim();
    CServoUsb& m_usb = m_link.Usb();
    std::unique_ptr<CRobotDlg> m_page;
};

TEST_F(RobotDlgTest, OpensWithHalfRangesWriteModeAndPlaceholdersReplaced) {
    CRobotDlg& page = *m_page;
    EXPECT_EQ(ImageWord(m_usb.m_pImage, Reg::GOAL_POSITION), 511);
    EXPECT_EQ(ImageWord(m_usb.m_pImage, Reg::GOAL_SPEED), 50);
    EXPECT_EQ(m_usb.m_pImage[Reg::TORQUE_ENABLE], 0);
    EXPECT_EQ(page.m_labelGoal->text(), QStringLiteral("Goal:511"));
    EXPECT_EQ(page.m_labelSpeed->text(), QStringLiteral("Speed:50"));
    EXPECT_EQ(page.m_sliderGoal->value(), 511);
    EXPECT_EQ(page.m_sliderGoal->maximum(), 1023);
    EXPECT_EQ(page.m_sliderSpeed->value(), 50);
    EXPECT_EQ(page.m_sliderSpeed->maximum(), 100);
    EXPECT_TRUE(page.m_radioWrite->isChecked());
    EXPECT_FALSE(page.m_btnAction->isEnabled());
    EXPECT_FALSE(page.m_editLastId->isEnabled());
    EXPECT_TRUE(page.m_checkPosition->isChecked());
    EXPECT_FALSE(page.m_checkLoad->isChecked());
    EXPECT_FALSE(page.m_checkSpeed->isChecked());
    EXPECT_FALSE(page.m_checkTorque->isChecked());
    EXPECT_FALSE(page.m_checkWheel->isChecked());
    EXPECT_EQ(page.m_editCycle->text(), QStringLiteral("10"));
    EXPECT_EQ(page.m_editLastId->text(), QStringLiteral("10"));
    EXPECT_EQ(page.m_editZoom->text(), QStringLiteral("10"));
    EXPECT_EQ(page.m_editId->text(), QStringLiteral("1"));
    EXPECT_EQ(page.m_nLastId, 10);
    EXPECT_EQ(page.m_nTimerId, -1);
    EXPECT_EQ(page.m_btnDraw->text(), QStringLiteral("Draw"));
    for (QLabel* zero :
         {page.m_labelPositionValue, page.m_labelSpeedValue, page.m_labelLoadValue, page.m_labelCurrentValue})
        EXPECT_EQ(zero->text(), QStringLiteral("0"));
    EXPECT_EQ(page.m_labelVoltageValue->text(), QStringLiteral("0.0 V"));
    EXPECT_EQ(page.m_labelTemperatureValue->text(), QStringLiteral("0.0 Deg"));
    // Opening and setting up the sliders are not operator moves: nothing goes out.
    EXPECT_TRUE(Sent(0).empty());
    {
        const QSignalBlocker goal(page.m_sliderGoal);
        const QSignalBlocker speed(page.m_sliderSpeed);
        page.m_sliderGoal->setValue(0);
        page.m_sliderSpeed->setValue(0);
    }
    page.InitSliders();
    EXPECT_EQ(page.m_sliderGoal->value(), 511);
    EXPECT_EQ(page.m_sliderSpeed->value(), 50);
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
    struct Case {
        const char* name;
        int mode;  // 0 Write, 1 Sync Write, 2 Reg Write
        uint8_t highByteFirst;
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        {"write, high first", 0, 1, {Frame(1, 0x03, high)}},
        {"write, low first", 0, 0, {Frame(1, 0x03, low)}},
        {"sync, high first", 1, 1, {sync(high)}},
        {"sync, low first", 1, 0, {sync(low)}},
        {"reg, high first", 2, 1, {Frame(1, 0x04, high), Frame(2, 0x04, high), Frame(3, 0x04, high)}},
        {"reg, low first", 2, 0, {Frame(1, 0x04, low), Frame(2, 0x04, low), Frame(3, 0x04, low)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakePage();
        m_usb.m_pImage[Reg::HIGH_BYTE_FIRST] = c.highByteFirst;
        QRadioButton* radios[] = {m_page->m_radioWrite, m_page->m_radioSyncWrite, m_page->m_radioRegWrite};
        Click(radios[c.mode]);
        if (c.mode != 0) Type(m_page->m_editLastId, QStringLiteral("3"));
        Sent(0);
        m_page->m_sliderGoal->setValue(700);
        EXPECT_EQ(Sent(c.frames.size()), c.frames);
        EXPECT_EQ(ImageWord(m_usb.m_pImage, Reg::GOAL_POSITION), 700);
        EXPECT_EQ(m_page->m_labelGoal->text(), QStringLiteral("Goal:700"));
    }
}

TEST_F(RobotDlgTest, KeyboardMovesOfTheGoalSliderAreCommandsToo) {
    m_page->m_sliderGoal->setFocus();
    QTest::keyClick(m_page->m_sliderGoal, Qt::Key_Right);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x21, 0x02, 0x00, 0x00, 0x32})}));
}

TEST_F(RobotDlgTest, WheelModeSendsSignedSpeedsAndOtherwiseSpeedWaitsForTheGoal) {
    CRobotDlg& page = *m_page;
    Click(page.m_checkWheel);
    EXPECT_FALSE(page.m_sliderGoal->isEnabled());
    EXPECT_EQ(page.m_labelSpeed->text(), QStringLiteral("Speed:0"));
    EXPECT_EQ(page.m_sliderSpeed->minimum(), -1023);
    EXPECT_EQ(page.m_sliderSpeed->maximum(), 1023);
    EXPECT_EQ(page.m_sliderSpeed->value(), 0);
    EXPECT_TRUE(Sent(0).empty());

    page.m_sliderSpeed->setValue(-300);
    EXPECT_EQ(ImageWord(m_usb.m_pImage, Reg::GOAL_SPEED), 0x052C);
    EXPECT_EQ(page.m_labelSpeed->text(), QStringLiteral("Speed:-300"));
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x23, 0x05, 0x2C})}));

    Click(page.m_checkWheel);
    EXPECT_TRUE(page.m_sliderGoal->isEnabled());
    EXPECT_EQ(page.m_labelSpeed->text(), QStringLiteral("Speed:50"));
    EXPECT_EQ(page.m_sliderSpeed->value(), 50);
    EXPECT_EQ(page.m_sliderSpeed->minimum(), 0);
    EXPECT_EQ(page.m_sliderSpeed->maximum(), 100);
    EXPECT_EQ(ImageWord(m_usb.m_pImage, Reg::GOAL_SPEED), 50);

    page.m_sliderSpeed->setValue(80);
    EXPECT_EQ(page.m_labelSpeed->text(), QStringLiteral("Speed:80"));
    EXPECT_TRUE(Sent(0).empty());
    page.m_sliderGoal->setValue(600);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(1, 0x03, {0x21, 0x02, 0x58, 0x00, 0x50})}));
}

TEST_F(RobotDlgTest, RangesOfRegAndSyncWriteAndTheBroadcastAction) {
    CRobotDlg& page = *m_page;
    const Bytes torqueOn{0x1F, 0x01};
    Click(page.m_radioRegWrite);
    EXPECT_TRUE(page.m_btnAction->isEnabled());
    EXPECT_TRUE(page.m_editLastId->isEnabled());
    Type(page.m_editId, QStringLiteral("3"));
    Type(page.m_editLastId, QStringLiteral("5"));
    Click(page.m_checkTorque);
    EXPECT_EQ(Sent(3), std::vector<Bytes>(
                           {Frame(3, 0x04, torqueOn), Frame(4, 0x04, torqueOn), Frame(5, 0x04, torqueOn)}));
    Click(page.m_btnAction);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(0xFE, 0x05, {})}));

    Type(page.m_editId, QStringLiteral("7"));
    Click(page.m_checkTorque);
    EXPECT_TRUE(Sent(0).empty());

    Click(page.m_radioSyncWrite);
    EXPECT_FALSE(page.m_btnAction->isEnabled());
    EXPECT_TRUE(page.m_editLastId->isEnabled());
    Click(page.m_checkTorque);
    EXPECT_TRUE(Sent(0).empty());
    Type(page.m_editId, QStringLiteral("0"));
    Type(page.m_editLastId, QStringLiteral("-3"));
    EXPECT_EQ(page.m_nLastId, -3);
    Click(page.m_checkTorque);
    EXPECT_TRUE(Sent(0).empty());
    Type(page.m_editId, QStringLiteral("3"));
    Type(page.m_editLastId, QStringLiteral("5"));
    Click(page.m_checkTorque);
    EXPECT_EQ(m_usb.m_pImage[Reg::TORQUE_ENABLE], 1);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(0xFE, 0x83, {0x1F, 0x01, 3, 0x01, 4, 0x01, 5, 0x01})}));

    Click(page.m_radioWrite);
    EXPECT_FALSE(page.m_btnAction->isEnabled());
    EXPECT_FALSE(page.m_editLastId->isEnabled());
    Click(page.m_checkTorque);
    EXPECT_EQ(m_usb.m_pImage[Reg::TORQUE_ENABLE], 0);
    EXPECT_EQ(Sent(1), std::vector<Bytes>({Frame(3, 0x03, {0x1F, 0x00})}));
}

TEST_F(RobotDlgTest, IdAndLastIdAreClampedAndSelectTheServo) {
    CRobotDlg& page = *m_page;
    Type(page.m_editId, QStringLiteral("300"));
    EXPECT_EQ(page.m_editId->text(), QStringLiteral("254"));
    EXPECT_EQ(m_usb.m_pImage[Reg::ID], 254);
    Type(page.m_editId, QString());
    EXPECT_EQ(m_usb.m_pImage[Reg::ID], 0);

    Click(page.m_radioSyncWrite);
    Type(page.m_editLastId, QStringLiteral("15"));
    EXPECT_EQ(page.m_editLastId->text(), QStringLiteral("10"));
    EXPECT_EQ(page.m_nLastId, 10);

    page.SetServoId(7);
    EXPECT_EQ(page.m_editId->text(), QStringLiteral("7"));
    EXPECT_EQ(m_usb.m_pImage[Reg::ID], 7);
}

TEST_F(RobotDlgTest, EnterAndEscapeLeaveThePageAsItIs) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(m_page.get(), key);
        QTest::keyClick(m_page->m_editId, key);
    }
    EXPECT_TRUE(m_page->isVisible());
    EXPECT_TRUE(Sent(0).empty());
}
