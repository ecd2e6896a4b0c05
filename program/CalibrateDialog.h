// "Calibrate…" of the programming page: the servo's torque off, a hand sweep watched on a worker, and the
// range seen (widened by a margin) offered as the position limits, which the operator then writes.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>

#include "link/CalibrationSweep.h"
#include "link/Worker.h"
#include "ui/GuiHandOff.h"

class CServoUsb;
class QLabel;
class QLineEdit;
class QPushButton;

// Thread rules: GUI thread only, but for the worker, which runs the sweep (one exchange at a time under the
// bus lock) and hands its readings and outcome over through the hand-offs; it never touches a widget. The
// dialog joins the worker when the sweep ends, when it closes and when it goes.
class CCalibrateDialog : public QDialog {
    Q_OBJECT
public:
    // The longest a sweep watches before it ends by itself.
    static constexpr std::chrono::seconds kLongestSweep{120};

    CCalibrateDialog(CServoUsb& usb, uint8_t id, QWidget* parent);
    ~CCalibrateDialog() override;

    // Turns the servo's torque off and starts watching; nothing when a sweep runs.
    void Start();
    // "Done": the sweep ends, the range so far counts.
    void Finish() { m_bFinish = true; }
    // "Cancel", or closing the window: the sweep ends, nothing counts. Waits for the worker.
    void CancelAndJoin();
    bool IsRunning() const { return m_worker.IsRunning(); }
    QString StatusText() const;

signals:
    // The sweep ended with a range: the limits to offer (the range seen, widened by the margin).
    void limitsFound(int min, int max, int lowest, int highest);
    // The sweep ended without one, and why.
    void sweepFailed(const QString& why);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct CReading {
        int position, lowest, highest;
    };
    Q_INVOKABLE void TakeReadings();
    Q_INVOKABLE void TakeOutcome();

    CServoUsb& m_usb;
    const uint8_t m_byId;
    QLabel* m_labelStatus = nullptr;
    QLabel* m_labelRange = nullptr;
    QLineEdit* m_editMargin = nullptr;
    QPushButton* m_btnDone = nullptr;
    QPushButton* m_btnCancel = nullptr;

    CWorker m_worker;
    // Done: the sweep ends now with what it saw (a cancel is the worker's stop token).
    std::atomic<bool> m_bFinish{false};
    CGuiHandOff<CReading> m_readings{this, HAND_OFF_METHOD(CCalibrateDialog, TakeReadings), 16};
    CGuiHandOff<CSweepOutcome> m_outcome{this, HAND_OFF_METHOD(CCalibrateDialog, TakeOutcome)};
};
