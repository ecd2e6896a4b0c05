// "Diagnose…" of the main window: the doctor's report (host, bus, every servo) run on a worker and shown as
// text, with Copy as Markdown for a forum thread or an issue.
#pragma once

#include <QWidget>
#include <functional>

#include "link/DoctorReport.h"
#include "link/Worker.h"
#include "ui/GuiHandOff.h"

class CServoUsb;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QLabel;

// What the window needs of the main window, all called on the GUI thread.
struct CDiagnoseLink {
    std::function<std::string()> portName;    // the port as the operator chose it
    std::function<bool()> portOpen;           // the main window has it open: the bus can be checked
    std::function<QString()> blocker;         // why the link is not free now (a search, a transfer), or empty
    std::function<void(bool held)> holdLink;  // the pages rest while the doctor's scan holds the bus
};

// Thread rules: GUI thread only, but for the worker, which runs the checks (the scan holds the bus for its
// length, the rest is one exchange at a time) and hands its report over through m_reports; it never touches
// a widget. The window joins the worker when the run ends, when it closes and when it goes.
class CDiagnoseWindow : public QWidget {
    Q_OBJECT
public:
    CDiagnoseWindow(CServoUsb& usb, CDiagnoseLink link, QWidget* parent);
    ~CDiagnoseWindow() override;

    // Starts a run ("Run again"); false when one is going or the link is not free (the status says why).
    bool Run();
    // Ends a run after its exchange in progress and waits for the worker.
    void StopAndJoin();
    bool IsRunning() const { return m_worker.IsRunning(); }
    const CDoctorReport& Report() const { return m_report; }
    QString ReportText() const;
    QString StatusText() const;
    // The report as Markdown on the clipboard ("Copy as Markdown").
    void CopyMarkdown() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Q_INVOKABLE void TakeReports();
    void SetRunning(bool running);

    CServoUsb& m_usb;
    CDiagnoseLink m_link;
    QPlainTextEdit* m_editReport = nullptr;
    QCheckBox* m_checkMove = nullptr;
    QPushButton* m_btnRun = nullptr;
    QPushButton* m_btnCopy = nullptr;
    QLabel* m_labelStatus = nullptr;

    CDoctorReport m_report;
    bool m_bHolding = false;  // the link is held for the run in progress
    CWorker m_worker;
    CGuiHandOff<CDoctorReport> m_reports{this, HAND_OFF_METHOD(CDiagnoseWindow, TakeReports)};
};
