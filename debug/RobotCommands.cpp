// The page's commands: every operator action turns into writes in the checked mode under the page's lock.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

#include "debug/EditNumber.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"

namespace {

constexpr int kMaxServoId = 254;
constexpr int kMaxLastId = 10;
constexpr int kWheelSpeedLimit = 1023;

// A 16-bit value in wire order.
void PutWord(uint8_t* out, uint16_t value, bool highByteFirst) {
    const auto low = static_cast<uint8_t>(value & 0xFF);
    const auto high = static_cast<uint8_t>(value >> 8);
    out[0] = highByteFirst ? high : low;
    out[1] = highByteFirst ? low : high;
}

int EditNumberOf(const QLineEdit* edit) {
    return EditNumber(edit->text().toStdString());
}

}  // namespace

void CRobotDlg::SendByWriteMode(uint8_t address, uint8_t count, const uint8_t* data) {
    const int id = m_nTargetId;
    const uint8_t returnLevel = m_pImage[Reg::RETURN_LEVEL];
    // Each exchange takes the bus by itself; a poll tick's read waits for it and never lands in between.
    if (m_radioWrite->isChecked()) {
        m_pUsb.WriteData(static_cast<uint8_t>(id), address, count, data, returnLevel);
    }
    // A range that ends below its first ID (a negative last ID included) has no servo in it.
    if (m_radioSyncWrite->isChecked() && m_nLastId >= id) {
        m_pUsb.SyncWrite(static_cast<uint8_t>(id), static_cast<uint8_t>(m_nLastId), address, count, data);
    }
    if (m_radioRegWrite->isChecked()) {
        // One hold of the bus for the whole range, so no other thread's exchange lands between the writes.
        const CBusLock bus = m_pUsb.AcquireBus();
        for (int target = id; target <= m_nLastId; ++target)
            m_pUsb.RegWrite(static_cast<uint8_t>(target), address, count, data, returnLevel);
    }
}

void CRobotDlg::OnWriteMode() {
    const bool range = !m_radioWrite->isChecked();
    m_btnAction->setEnabled(m_radioRegWrite->isChecked());
    m_editLastId->setEnabled(range);
}

void CRobotDlg::OnTorque() {
    const uint8_t enable = m_checkTorque->isChecked() ? 1 : 0;
    m_pImage[Reg::TORQUE_ENABLE] = enable;
    SendByWriteMode(Reg::TORQUE_ENABLE, 1, &enable);
}

void CRobotDlg::OnGoalScroll() {
    const int position = m_sliderGoal->value();
    SetImageWord(m_pImage, Reg::GOAL_POSITION, static_cast<uint16_t>(position));
    m_labelGoal->setText(QStringLiteral("Goal:%1").arg(ImageWord(m_pImage, Reg::GOAL_POSITION)));
    const bool highFirst = m_pUsb.IsHighByteFirst() != 0;
    uint8_t data[4];
    PutWord(data, static_cast<uint16_t>(position), highFirst);
    PutWord(data + 2, ImageWord(m_pImage, Reg::GOAL_SPEED), highFirst);
    SendByWriteMode(Reg::GOAL_POSITION, 4, data);
}

void CRobotDlg::OnSpeedScroll() {
    const int speed = m_sliderSpeed->value();
    SetImageWord(m_pImage, Reg::GOAL_SPEED, EncodeSignMagnitude(speed, Reg::SPEED_SIGN_BIT));
    m_labelSpeed->setText(QStringLiteral("Speed:%1").arg(speed));
    // Outside wheel mode the speed travels with the next goal command.
    if (!m_checkWheel->isChecked()) return;
    uint8_t data[2];
    PutWord(data, ImageWord(m_pImage, Reg::GOAL_SPEED), m_pUsb.IsHighByteFirst() != 0);
    SendByWriteMode(Reg::GOAL_SPEED, 2, data);
}

void CRobotDlg::OnWheelMode() {
    const bool wheel = m_checkWheel->isChecked();
    const QSignalBlocker blocker(m_sliderSpeed);
    if (wheel) {
        SetImageWord(m_pImage, Reg::GOAL_SPEED, 0);
        m_sliderGoal->setEnabled(false);
        m_sliderSpeed->setRange(-kWheelSpeedLimit, kWheelSpeedLimit);
    } else {
        SetImageWord(m_pImage, Reg::GOAL_SPEED, 50);
        m_sliderGoal->setEnabled(true);
        m_sliderSpeed->setRange(0, m_pUsb.MaxSpeed());
    }
    const int speed = ImageWord(m_pImage, Reg::GOAL_SPEED);
    m_sliderSpeed->setValue(speed);
    m_labelSpeed->setText(QStringLiteral("Speed:%1").arg(speed));
}

void CRobotDlg::OnIdChange() {
    int id = EditNumberOf(m_editId);
    if (id > kMaxServoId) {
        id = kMaxServoId;
        m_editId->setText(QString::number(kMaxServoId));
    }
    SelectTarget(id);
    emit targetChanged(m_nTargetId);
}

void CRobotDlg::OnLastIdChange() {
    int lastId = EditNumberOf(m_editLastId);
    if (lastId > kMaxLastId) {
        lastId = kMaxLastId;
        m_editLastId->setText(QString::number(kMaxLastId));
    }
    m_nLastId = lastId;
}

void CRobotDlg::OnAction() {
    m_pUsb.Action();
}
