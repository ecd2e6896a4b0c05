// The diagnose window: its report pane and buttons, and the doctor's run on a worker.
#include "app/DiagnoseWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/Doctor.h"
#include "link/DoctorHost.h"
#include "link/SerialScanLine.h"
#include "link/ServoUsb.h"

CDiagnoseWindow::CDiagnoseWindow(CServoUsb& usb, CDiagnoseLink link, QWidget* parent)
    : QWidget(parent, Qt::Window), m_usb(usb), m_link(std::move(link)) {
    setWindowTitle(tr("Diagnose"));
    m_editReport = new QPlainTextEdit(this);
    m_editReport->setObjectName(QStringLiteral("report"));
    m_editReport->setReadOnly(true);
    m_editReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editReport->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_checkMove = new QCheckBox(tr("Move each servo +-20 units (and back)"), this);
    m_checkMove->setObjectName(QStringLiteral("move"));
    m_btnRun = new QPushButton(tr("Run again"), this);
    m_btnRun->setObjectName(QStringLiteral("run"));
    m_btnCopy = new QPushButton(tr("Copy as Markdown"), this);
    m_btnCopy->setObjectName(QStringLiteral("copy"));
    m_labelStatus = new QLabel(this);
    m_labelStatus->setObjectName(QStringLiteral("status"));
    connect(m_btnRun, &QPushButton::clicked, this, [this] { Run(); });
    connect(m_btnCopy, &QPushButton::clicked, this, &CDiagnoseWindow::CopyMarkdown);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_checkMove);
    buttons->addStretch(1);
    buttons->addWidget(m_btnCopy);
    buttons->addWidget(m_btnRun);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editReport, 1);
    layout->addWidget(m_labelStatus);
    layout->addLayout(buttons);
    resize(980, 560);
}

CDiagnoseWindow::~CDiagnoseWindow() {
    StopAndJoin();
}

bool CDiagnoseWindow::Run() {
    if (IsRunning()) return false;
    const QString blocker = m_link.blocker ? m_link.blocker() : QString();
    if (!blocker.isEmpty()) {
        m_labelStatus->setText(blocker);
        return false;
    }
    const std::string port = m_link.portName ? m_link.portName() : std::string();
    const bool open = m_link.portOpen && m_link.portOpen();
    CDoctorSettings settings;
    settings.move = m_checkMove->isChecked();
    if (open && m_link.holdLink) {
        m_link.holdLink(true);
        m_bHolding = true;
    }
    SetRunning(true);
    m_labelStatus->setText(tr("Checking the host, the bus and every servo…"));
    m_worker.Start([this, port, open, settings](std::stop_token token, unsigned) {
        CDoctorReport report;
        report.Append(HostChecks(port, open));
        if (open) {
            CSerialScanLine line(*m_usb.Transport());
            CDoctor(m_usb, line, [&token] { return token.stop_requested(); }).CheckBus(settings, report);
        } else {
            report.Add("bus", "servos", ECheckLevel::Skip, "the port is not open",
                       "press Open, then Run again");
        }
        m_reports.Post(std::move(report));
    });
    return true;
}

void CDiagnoseWindow::StopAndJoin() {
    m_worker.Stop();
    m_reports.Clear();
    if (m_bHolding && m_link.holdLink) m_link.holdLink(false);
    m_bHolding = false;
    SetRunning(false);
}

void CDiagnoseWindow::closeEvent(QCloseEvent* event) {
    StopAndJoin();
    event->accept();
}

void CDiagnoseWindow::TakeReports() {
    for (CDoctorReport& report : m_reports.Take()) {
        m_worker.Join();
        if (m_bHolding && m_link.holdLink) m_link.holdLink(false);
        m_bHolding = false;
        SetRunning(false);
        m_report = std::move(report);
        m_editReport->setPlainText(QString::fromStdString(::ReportText(m_report)));
        m_labelStatus->setText(m_report.Failed() ? tr("Something failed: see the hints after the dashes.")
                                                 : tr("Nothing failed."));
    }
}

void CDiagnoseWindow::SetRunning(bool running) {
    m_btnRun->setEnabled(!running);
    m_btnCopy->setEnabled(!running);
    m_checkMove->setEnabled(!running);
}

QString CDiagnoseWindow::ReportText() const {
    return m_editReport->toPlainText();
}

QString CDiagnoseWindow::StatusText() const {
    return m_labelStatus->text();
}

void CDiagnoseWindow::CopyMarkdown() const {
    QApplication::clipboard()->setText(QString::fromStdString(ReportMarkdown(m_report)));
}
