// The page's status monitor: "Draw"/"Stop" and the poll's readings shown in the value labels and the plot.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "debug/EditNumber.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"

void CRobotDlg::OnDraw() {
    if (IsDrawing()) {
        StopDrawing();
        return;
    }
    const int period = EditNumber(m_editCycle->text().toStdString());
    if (period <= 0) return;
    m_plot.SetZoom(EditNumber(m_editZoom->text().toStdString()));
    StartDrawing(period);
}

void CRobotDlg::ShowDrawState() {
    m_btnDraw->setText(IsDrawing() ? tr("Stop") : tr("Draw"));
}

void CRobotDlg::OnTraceCheck() {
    // Each box switches the trace of its own quantity; the plot shows the change at its next repaint.
    const auto set = [this](QCheckBox* box, int trace) {
        if (box->isChecked())
            m_plot.SetTraceMask(m_plot.TraceMask() | trace);
        else
            m_plot.SetTraceMask(m_plot.TraceMask() & ~trace);
    };
    set(m_checkPosition, kTracePosition);
    set(m_checkSpeed, kTraceSpeed);
    set(m_checkLoad, kTraceLoad);
}

void CRobotDlg::StartDrawing(int period) {
    if (m_nTimerId != -1) return;
    m_nTimerId = m_poll.Start(m_nTargetId, period);
    ShowDrawState();
}

void CRobotDlg::StopDrawing() {
    if (m_nTimerId != -1) {
        m_poll.Stop();
        m_nTimerId = -1;
        ShowDrawState();
    }
}

void CRobotDlg::OnReadings(const std::vector<CStatusReading>& batch) {
    for (const CStatusReading& reading : batch) {
        m_plot.AddPosition(PositionSample(reading.sample.position));
        m_plot.AddSpeed(SpeedSample(reading.sample.speed));
        m_plot.AddLoad(LoadSample(reading.sample.load));
    }
    const CStatusReading& newest = batch.back();
    // The GUI thread is the image's one writer: the poll hands its reading over instead.
    std::copy(newest.span.begin(), newest.span.end(), m_pImage + Reg::STATUS_SPAN_START);
    m_labelPositionValue->setText(QString::number(newest.sample.position));
    m_labelSpeedValue->setText(QString::number(newest.sample.speed));
    m_labelLoadValue->setText(QString::number(newest.sample.load));
    m_labelVoltageValue->setText(QString::fromStdString(VoltageText(newest.sample.voltage)));
    m_labelTemperatureValue->setText(QString::fromStdString(TemperatureText(newest.sample.temperature)));
    ShowAlarms(newest.alarms);
    m_plot.Refresh();
}

void CRobotDlg::ShowAlarms(uint8_t alarms) {
    const auto mark = [alarms](QLabel* label, uint8_t bit) {
        const QString style = alarms & bit ? QStringLiteral("color: #d00000") : QString();
        if (label->styleSheet() != style) label->setStyleSheet(style);
    };
    mark(m_labelVoltageValue, Reg::ALARM_OVER_VOLTAGE);
    mark(m_labelTemperatureValue, Reg::ALARM_OVER_HEAT);
    mark(m_labelLoadValue, Reg::ALARM_OVER_LOAD);
}
