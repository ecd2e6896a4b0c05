// The page's status monitor: "Draw"/"Stop", the poll on the timer thread and the hand-over of its readings
// to the value labels and the plot on the GUI thread.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <chrono>

#include "debug/EditNumber.h"
#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"

void CRobotDlg::OnDraw() {
    if (m_btnDraw->text() != QLatin1String("Draw")) {
        StopDrawing();
        return;
    }
    const int period = EditNumber(m_editCycle->text().toStdString());
    if (period <= 0) return;
    m_plot.SetZoom(EditNumber(m_editZoom->text().toStdString()));
    StartDrawing(period);
    m_btnDraw->setText(tr("Stop"));
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
    m_nPollId = m_pImage[Reg::ID];
    m_nAlarms = 0;
    m_recording.Restart(CCurveRecording::Clock::now());
    m_nTimerId = m_timer.Start(std::chrono::milliseconds(period), [this] { PollTick(this); });
}

void CRobotDlg::StopDrawing() {
    if (m_nTimerId != -1) {
        m_timer.Stop();
        m_samples.Clear();
        m_btnDraw->setText(tr("Draw"));
    }
    m_nTimerId = -1;
}

void CRobotDlg::PollTick(CRobotDlg* pPage) {
    uint8_t* image = pPage->m_pImage;
    // The read is one exchange under the link's bus lock, so the page's own commands never interleave.
    CExchangeOutcome outcome;
    const int read =
        pPage->m_pUsb.ReadData(static_cast<uint8_t>(pPage->m_nPollId.load()), Reg::STATUS_SPAN_START,
                               Reg::STATUS_SPAN_LENGTH, image + Reg::STATUS_SPAN_START, &outcome);
    if (read == -1) return;
    pPage->m_nAlarms = outcome.error;
    const CStatusSample sample = DecodeStatusSpan(image, pPage->m_pUsb.IsHighByteFirst() != 0);
    pPage->m_recording.Append(CCurveRecording::Clock::now(), sample);
    pPage->PostStatusSample(sample);
}

void CRobotDlg::PostStatusSample(const CStatusSample& sample) {
    m_samples.Post(sample);
}

void CRobotDlg::TakeStatusSamples() {
    const std::vector<CStatusSample> samples = m_samples.Take();
    if (samples.empty()) return;
    for (const CStatusSample& sample : samples) {
        m_plot.AddPosition(PositionSample(sample.position));
        m_plot.AddSpeed(SpeedSample(sample.speed));
        m_plot.AddLoad(LoadSample(sample.load));
    }
    const CStatusSample& newest = samples.back();
    m_labelPositionValue->setText(QString::number(newest.position));
    m_labelSpeedValue->setText(QString::number(newest.speed));
    m_labelLoadValue->setText(QString::number(newest.load));
    m_labelVoltageValue->setText(QString::fromStdString(VoltageText(newest.voltage)));
    m_labelTemperatureValue->setText(QString::fromStdString(TemperatureText(newest.temperature)));
    const uint8_t alarms = m_nAlarms.load();
    const auto mark = [alarms](QLabel* label, uint8_t bit) {
        const QString style = alarms & bit ? QStringLiteral("color: #d00000") : QString();
        if (label->styleSheet() != style) label->setStyleSheet(style);
    };
    mark(m_labelVoltageValue, Reg::ALARM_OVER_VOLTAGE);
    mark(m_labelTemperatureValue, Reg::ALARM_OVER_HEAT);
    mark(m_labelLoadValue, Reg::ALARM_OVER_LOAD);
    m_plot.Refresh();
}
