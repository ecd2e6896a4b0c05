// The step response window of the debug page: runs a step on a worker, shows its metrics, and overlays the
// last runs in a plot of its own with their coefficients in the legend.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <deque>
#include <vector>

#include "link/StepResponse.h"
#include "link/Worker.h"
#include "ui/GuiHandOff.h"

class CServoUsb;
class QCheckBox;
class QLabel;
class QFontMetrics;
class QLineEdit;
class QPainter;
class QPushButton;

// Draws straight onto the widget at its own size and resolution. GUI thread only.
class CStepPlot : public QWidget {
    Q_OBJECT
public:
    struct CTrace {
        std::vector<CStepSample> samples;
        int start = 0;
        int target = 0;
        int band = 3;
        QString legend;
        QColor color;
    };

    explicit CStepPlot(QWidget* parent = nullptr);
    // Oldest first; the newest is drawn last and bold, with its target and settling band.
    void SetTraces(std::vector<CTrace> traces);
    const std::vector<CTrace>& Traces() const { return m_traces; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct CFrame;
    // The paint's parts, in the order they are drawn; the last three only when there is a trace.
    void DrawGrid(QPainter& p, const CFrame& frame, const QFontMetrics& metrics) const;
    void DrawTarget(QPainter& p, const CFrame& frame) const;
    void DrawTraces(QPainter& p, const CFrame& frame) const;
    void DrawLegend(QPainter& p, const CFrame& frame, const QFontMetrics& metrics) const;

    std::vector<CTrace> m_traces;
};

// Thread rules: GUI thread only, but for the worker, which runs the step (CStepResponse, one exchange at a
// time under the bus lock) and hands its outcome over through m_outcomes; it never touches a widget. The
// window joins the worker when a run ends, when it closes and when it goes.
class CStepWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kKeptRuns = 5;

    explicit CStepWindow(CServoUsb& usb, QWidget* parent = nullptr);
    ~CStepWindow() override;

    void SetServoId(int id);
    // Starts a run with the fields' values ("Run"); false when a run is going or a field is wrong, which the
    // status line then names.
    bool Run();
    // Asks a run to stop after its exchange in progress; it puts the servo back and reports ("Stop").
    void Stop();
    // Stops a run and waits for its worker: bounded by the exchanges of putting the servo back.
    void StopAndJoin();
    bool IsRunning() const { return m_worker.IsRunning(); }
    // Forgets the runs shown ("Clear").
    void ClearRuns();

    int RunCount() const { return static_cast<int>(m_runs.size()); }
    const CStepPlot& Plot() const { return *m_plot; }
    QString StatusText() const;
    QString MetricsText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Takes the worker's outcome: joins it and shows the run.
    Q_INVOKABLE void TakeOutcomes();
    void Show(const CStepOutcome& outcome, const CStepRequest& request);
    void UpdatePlot();
    void SetRunning(bool running);

    CServoUsb& m_usb;
    QLineEdit* m_editId = nullptr;
    QLineEdit* m_editFrom = nullptr;
    QLineEdit* m_editTo = nullptr;
    QLineEdit* m_editSeconds = nullptr;
    QLineEdit* m_editPeriod = nullptr;
    QLineEdit* m_editSet = nullptr;
    QCheckBox* m_checkKeep = nullptr;
    QPushButton* m_btnRun = nullptr;
    QPushButton* m_btnClear = nullptr;
    QLabel* m_labelMetrics = nullptr;
    QLabel* m_labelStatus = nullptr;
    CStepPlot* m_plot = nullptr;

    std::deque<CStepPlot::CTrace> m_runs;
    int m_nRunsMade = 0;     // for the trace colours
    CStepRequest m_request;  // of the run in progress
    CWorker m_worker;
    CGuiHandOff<CStepOutcome> m_outcomes{this, HAND_OFF_METHOD(CStepWindow, TakeOutcomes)};
};
