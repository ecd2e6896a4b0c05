// The debug page: drives one servo, or a range of IDs, live in one of three write modes.
#pragma once

#include <QPointer>
#include <cstdint>
#include <vector>

#include "debug/CurveRecording.h"
#include "debug/PIC.h"
#include "debug/PeriodicTimer.h"
#include "debug/PlotExport.h"
#include "debug/StatusPoll.h"
#include "ui/InertDialog.h"

class CServoUsb;
class CStepWindow;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

class CRobotDlg : public CDialogPage {
    Q_OBJECT
public:
    // Puts the page's defaults into the shared image: goal at half range, half speed, torque off.
    CRobotDlg(QWidget* pParent, CServoUsb& usb);
    // Stops a running poll before anything it uses goes.
    ~CRobotDlg() override;

    // Builds the page's window as a child of pParent and runs its opening.
    bool Create(QWidget* pParent);

    // Shows the ID in the ID edit, makes it the page's target and the poll's servo, and mirrors it into the
    // image's ID byte for the PROGRAM page's display. GUI thread.
    void SetServoId(int id);
    // The main window hands over the servo the pages act on, picked on another page: the page's commands
    // and its next "Draw" address it; the ID field, the image and a running poll are left alone. GUI thread.
    void SetTargetId(int id) { m_nTargetId = static_cast<uint8_t>(id); }
    // The servo the page acts on.
    int ServoId() const { return m_nTargetId; }
    // Ranges and positions of both sliders from the command object's limits; the image is left alone.
    void InitSliders();
    // Starts polling the selected servo every period ms on the timer thread, unless a poll runs already.
    void StartDrawing(int period);
    // Ends a running status poll: returns once no tick runs any more (within one link timeout) and drops
    // the readings not yet shown, so nothing on the page changes after it. The button reads "Draw".
    void StopDrawing();
    // The poll the page connects to; its timer, for its tick counts.
    const CStatusPoll& StatusPoll() const { return m_poll; }
    const CPeriodicTimer& PollTimer() const { return m_poll.Timer(); }
    // The plot's "Save Data…" and "Save Picture…", with everything read since "Draw". GUI thread.
    CPlotExport& PlotExport() { return m_export; }

    // A poll was asked for by "Draw" and not yet stopped (it may have failed to start).
    bool IsDrawing() const { return m_nTimerId != -1; }
    // Last ID of the range of "Sync Write" and "Reg Write": at most 10, negative when typed so.
    int LastId() const { return m_nLastId; }
    // The curve plot, and how many samples its position trace holds.
    CPIC& Plot() { return m_plot; }
    const CPIC& Plot() const { return m_plot; }
    int PlotSamples() const { return static_cast<int>(m_plot.Positions().size()); }

    // Opens the step response window for the selected servo ("Step…"), or raises it when it is open.
    void ShowStepResponse();
    // The window, while it is open.
    CStepWindow* StepResponse() const;
    // Stops a step run and waits for it (the servo put back); the window stays. GUI thread.
    void StopStepResponse();

signals:
    // The ID field named another servo to act on.
    void targetChanged(int id);

private:
    // Shows the poll's readings, the labels the newest, the plot all of them, and puts the newest into the
    // image. A value whose alarm bit the newest status carries (voltage 0x01, temperature 0x04, load 0x20)
    // is shown in red.
    void OnReadings(const std::vector<CStatusReading>& batch);
    void ShowAlarms(uint8_t alarms);
    // The caption of "Draw" follows whether a poll was asked for.
    void ShowDrawState();
    void OnDraw();
    void OnTraceCheck();

    void CreateMonitorControls();
    void CreateOperationControls();
    // Object names by which tests and the demo tour find the controls.
    void NameControls();
    void ConnectHandlers();

    void OnWriteMode();
    void OnTorque();
    void OnWheelMode();
    void OnGoalScroll();
    void OnSpeedScroll();
    void OnIdChange();
    // The ID field's choice: the page's target, the poll's servo and the image's ID byte.
    void SelectTarget(int id);
    void OnLastIdChange();
    void OnAction();
    // Sends count bytes at address to the selected servo, or its range, in every checked write mode.
    void SendByWriteMode(uint8_t address, uint8_t count, const uint8_t* data);

    CServoUsb& m_pUsb;
    uint8_t* m_pImage;
    // Id of the running poll timer; -1 when no poll runs, 0 when one was asked for but could not start.
    int32_t m_nTimerId = -1;
    // The servo every command and "Draw" address; set by the ID field or handed over by the main window.
    // Every servo answers to ID 1 until told otherwise.
    int32_t m_nTargetId = 1;
    // Typed in the last-ID field; see LastId.
    int32_t m_nLastId = 10;

    // Status monitor and curve plot.
    CPIC m_plot;
    QCheckBox* m_checkPosition = nullptr;
    QCheckBox* m_checkLoad = nullptr;
    QCheckBox* m_checkSpeed = nullptr;
    QLineEdit* m_editZoom = nullptr;
    QLineEdit* m_editCycle = nullptr;
    QPushButton* m_btnDraw = nullptr;
    QPushButton* m_btnStep = nullptr;
    QPointer<CStepWindow> m_pStepWindow;
    QLabel* m_labelCurrentValue = nullptr;
    QLabel* m_labelTemperatureValue = nullptr;
    QLabel* m_labelVoltageValue = nullptr;
    QLabel* m_labelLoadValue = nullptr;
    QLabel* m_labelPositionValue = nullptr;
    QLabel* m_labelSpeedValue = nullptr;

    // Servo operation.
    QLineEdit* m_editId = nullptr;
    QLineEdit* m_editLastId = nullptr;
    QCheckBox* m_checkTorque = nullptr;
    QCheckBox* m_checkWheel = nullptr;
    QRadioButton* m_radioWrite = nullptr;
    QRadioButton* m_radioSyncWrite = nullptr;
    QRadioButton* m_radioRegWrite = nullptr;
    QPushButton* m_btnAction = nullptr;
    QLabel* m_labelGoal = nullptr;
    QSlider* m_sliderGoal = nullptr;
    QLabel* m_labelSpeed = nullptr;
    QSlider* m_sliderSpeed = nullptr;

    // Reads the ID this page last set in the image; the timer thread never reads the image itself.
    CStatusPoll m_poll{m_pUsb};
    CPlotExport m_export{m_plot, m_poll.Recording()};
};
