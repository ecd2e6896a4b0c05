// The calibration window: what the operator is asked to do, the range so far, Done and Cancel.
#include "program/CalibrateDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/RegisterAccess.h"

CCalibrateDialog::CCalibrateDialog(CServoUsb& usb, uint8_t id, QWidget* parent)
    : QDialog(parent), m_usb(usb), m_byId(id) {
    setWindowTitle(tr("Calibrate position limits"));
    m_labelStatus = new QLabel(this);
    m_labelStatus->setObjectName(QStringLiteral("status"));
    m_labelStatus->setWordWrap(true);
    m_labelRange = new QLabel(this);
    m_labelRange->setObjectName(QStringLiteral("range"));
    m_editMargin = new QLineEdit(QStringLiteral("5"), this);
    m_editMargin->setObjectName(QStringLiteral("margin"));
    m_btnDone = new QPushButton(tr("Done"), this);
    m_btnDone->setObjectName(QStringLiteral("done"));
    m_btnCancel = new QPushButton(tr("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("cancel"));
    m_btnDone->setAutoDefault(false);
    m_btnCancel->setAutoDefault(false);
    connect(m_btnDone, &QPushButton::clicked, this, &CCalibrateDialog::Finish);
    connect(m_btnCancel, &QPushButton::clicked, this, [this] {
        CancelAndJoin();
        emit sweepFailed(tr("cancelled"));
        close();
    });

    auto* margin = new QHBoxLayout;
    margin->addWidget(new QLabel(tr("Margin:"), this));
    margin->addWidget(m_editMargin);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnDone);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_labelStatus);
    layout->addWidget(m_labelRange);
    layout->addLayout(margin);
    layout->addLayout(buttons);
    resize(360, 150);
}

CCalibrateDialog::~CCalibrateDialog() {
    CancelAndJoin();
}

void CCalibrateDialog::Start() {
    if (IsRunning()) return;
    m_bFinish = false;
    m_labelStatus->setText(
        tr("Servo %1's torque is off. Move the joint through its whole range, then press Done.").arg(m_byId));
    m_labelRange->setText(tr("Seen: nothing yet"));
    m_worker.Start([this](std::stop_token token, unsigned) {
        CRegisterAccess servo(m_usb, m_byId);
        CSweepControl control;
        control.finishNow = [this] { return m_bFinish.load(); };
        control.cancel = [&token] { return token.stop_requested(); };
        control.progress = [this](int position, int lowest, int highest) {
            m_readings.Post({position, lowest, highest});
        };
        m_outcome.Post(WatchSweep(servo, kLongestSweep, control));
    });
}

void CCalibrateDialog::CancelAndJoin() {
    m_worker.Stop();
    m_readings.Clear();
    m_outcome.Clear();
}

void CCalibrateDialog::closeEvent(QCloseEvent* event) {
    if (IsRunning()) {
        CancelAndJoin();
        emit sweepFailed(tr("cancelled"));
    }
    event->accept();
}

void CCalibrateDialog::TakeReadings() {
    const auto readings = m_readings.Take();
    if (readings.empty()) return;
    const CReading& last = readings.back();
    m_labelRange->setText(
        tr("Position %1, seen %2 to %3").arg(last.position).arg(last.lowest).arg(last.highest));
}

void CCalibrateDialog::TakeOutcome() {
    for (const CSweepOutcome& outcome : m_outcome.Take()) {
        m_worker.Join();
        if (!outcome.Ok()) {
            m_labelStatus->setText(QString::fromStdString(outcome.problem));
            emit sweepFailed(QString::fromStdString(outcome.problem));
            continue;
        }
        bool ok = false;
        const int margin = std::clamp(m_editMargin->text().toInt(&ok), 0, 100);
        const CPositionLimits limits = ProposeLimits(outcome.lowest, outcome.highest, ok ? margin : 5);
        m_labelStatus->setText(tr("Seen %1 to %2: limits %3 to %4. Torque stays off.")
                                   .arg(outcome.lowest)
                                   .arg(outcome.highest)
                                   .arg(limits.min)
                                   .arg(limits.max));
        emit limitsFound(limits.min, limits.max, outcome.lowest, outcome.highest);
        close();
    }
}

QString CCalibrateDialog::StatusText() const {
    return m_labelStatus->text();
}
