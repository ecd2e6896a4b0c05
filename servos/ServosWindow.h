// The "Servos" window: every listed servo live in one table and one plot, the commands that stop a whole
// robot, and a motion taught by hand and played back.
//
// Thread rules: GUI thread only. The poll, a recording and a playback each run on a worker of their own and
// hand everything over through one non-blocking hand-off; they never wait for the GUI thread, which may join
// them at any time. The buttons' bus commands (hold, torque) run on the GUI thread, one exchange at a time,
// each waiting for one poll read at most.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

#include "link/MotionPlayback.h"
#include "link/MotionRecording.h"
#include "link/MotionTeach.h"
#include "link/RoundRobinPoller.h"
#include "link/ServoGroup.h"
#include "link/Worker.h"
#include "servos/ServoRoster.h"
#include "ui/GuiHandOff.h"
#include "ui/OperatorHooks.h"

class CFileSaver;
class CServoPlot;
class CServoUsb;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

class CServosWindow : public QWidget {
    Q_OBJECT
public:
    // What may hold the bus for long; the poll pauses while any does.
    enum class EBusHolder { FirmwareTransfer = 1, AllRateSearch = 2, ProgramSequence = 4 };
    enum EColumn {
        IdColumn,
        PositionColumn,
        SpeedColumn,
        LoadColumn,
        VoltageColumn,
        TemperatureColumn,
        AlarmsColumn,
        TorqueColumn,
        ChosenColumn,
        ColumnCount
    };

    explicit CServosWindow(CServoUsb& usb, QWidget* parent = nullptr);
    // Ends the poll, a recording and a playback (which holds the servos where they are) first.
    ~CServosWindow() override;

    // The main window's news. The servos its last search found (the list shown unless IDs were typed).
    void SetFoundServos(const std::vector<CServoAtRate>& servos);
    // The port opened (at baud), changed its rate, or closed.
    void SetPort(bool open, int baud);
    // The port went away: the poll has ended, or ends now, and the window says so.
    void OnPortLost();
    void SetBusHeld(EBusHolder holder, bool held);
    // Ends every worker of the window (a playback holds the servos first); before the port closes.
    void StopBusWork();
    // Why a firmware transfer may not take the bus now (a recording or a playback runs), or empty.
    QString BusBlocker() const;

    // What the operator does. IDs typed in ("1,2,3"): empty when taken, else why not (also shown).
    QString UseIds(const QString& text);
    void UseFoundServos();
    // Every polled servo's goal becomes its present position (Esc does it too; during a playback Esc stops
    // it, which holds the servos).
    void HoldAll();
    // One broadcast of TORQUE_ENABLE 0 at each rate listed, then each servo's read-back in the table.
    void AllTorqueOff();
    // A row's torque box: on first makes the goal the present position.
    void SetTorque(uint8_t id, bool on);
    // A row's "Chosen" box: chosen servos are plotted and recorded.
    void SetChosen(uint8_t id, bool chosen);
    void SetQuantity(EQuantity quantity);
    // Record asks first (torque goes off: support the joints); false when refused or declined.
    bool StartRecording();
    void StopRecording();
    bool StartPlaying();
    // Stops a playback: one sync write of the present positions holds the servos (torque stays on).
    void StopPlaying();
    bool SaveData(const QString& path);
    bool SavePicture(const QString& path);
    bool SaveRecording(const QString& path);
    // Empty when opened, else why not (also shown).
    QString OpenRecording(const QString& path);
    CFileSaver& Saver() { return *m_pSaver; }

    // What the operator sees.
    const CServoRoster& Roster() const { return m_roster; }
    QString RateText() const;
    QString StateText() const;
    QString TeachText() const;
    bool IsPolling() const { return m_poller.IsRunning() && !m_poller.IsPaused(); }
    bool IsRecording() const { return m_recorder.IsRunning(); }
    bool IsPlaying() const { return m_player.IsRunning(); }
    const CMotionRecording& Recording() const { return m_recording; }
    CServoPlot* Plot() const { return m_pPlot; }
    QTableWidget* Table() const { return m_pTable; }
    const CRoundRobinPoller& Poller() const { return m_poller; }
    // Shows the newest readings in the table, the labels and the plot; the refresh timer calls it.
    void Refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What the workers hand over.
    struct CReport {
        enum class EKind { Reading, PollEnded, RecordRow, RecordEnded, PlayNote, PlayEnded };
        EKind kind = EKind::Reading;
        uint64_t generation = 0;  // of the poll that made a reading
        CPollReading reading;
        EPollEnd pollEnd = EPollEnd::PortLost;
        CMotionRow row;
        CTeachTally tally;
        CPlayResult play;
        std::string text;
    };

    void CreateControls();
    // The rows above the table and the table itself, in the order the window lays them out.
    QHBoxLayout* CreateIdBar();
    void CreateTable();
    QHBoxLayout* CreateCommandBar();
    // Object names by which tests find the controls.
    void NameControls();
    QWidget* CreateTeachBar();
    void ConnectControls();
    void Post(CReport report) { m_reports.Post(std::move(report)); }
    Q_INVOKABLE void TakeReports();
    // Starts, pauses, resumes or stops the poll as the window, the port, the list and the holders say.
    void UpdatePolling();
    void RestartPolling();
    void SetServos(const std::vector<CServoAtRate>& servos);
    void RebuildTable();
    void FillRow(int row);
    void UpdateTraces();
    void UpdateButtons();
    void OnItemChanged(QTableWidgetItem* item);
    void OnEscape();
    void OnPlotMenu(const QPoint& at);
    void Choose(EFileKind kind);
    void ShowTeach(const QString& text);
    void FinishRecording(const CTeachTally& tally);
    void FinishPlaying(const CPlayResult& result);
    // The IDs of `ids` the list holds at another rate than the port's, as a refusal; empty when none.
    QString ForeignRateProblem(const std::vector<uint8_t>& ids, const QString& what) const;

    CServoUsb& m_usb;
    CServoRoster m_roster;
    CRoundRobinPoller m_poller;
    uint64_t m_nGeneration = 0;
    std::vector<CServoAtRate> m_found;
    bool m_bTyped = false;  // the list is of IDs typed in, not of the search's servos
    bool m_bPortOpen = false;
    bool m_bPortLost = false;
    int m_nBaud = 0;
    int m_nHolders = 0;  // EBusHolder bits
    QString m_szState;
    bool m_bFilling = false;  // the table is being filled: its item changes are not the operator's

    CMotionRecording m_recording;
    CWorker m_recorder;
    std::vector<uint8_t> m_recordIds;
    CWorker m_player;
    QString m_szTeach;

    QLineEdit* m_editIds = nullptr;
    QPushButton* m_btnUseIds = nullptr;
    QPushButton* m_btnFound = nullptr;
    QLabel* m_labelRate = nullptr;
    QLabel* m_labelState = nullptr;
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_btnHold = nullptr;
    QPushButton* m_btnTorqueOff = nullptr;
    QComboBox* m_comboQuantity = nullptr;
    CServoPlot* m_pPlot = nullptr;
    QSpinBox* m_spinPeriod = nullptr;
    QPushButton* m_btnRecord = nullptr;
    QComboBox* m_comboSpeed = nullptr;
    QSpinBox* m_spinLoops = nullptr;
    QPushButton* m_btnPlay = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnSave = nullptr;
    QLabel* m_labelTeach = nullptr;
    QTimer* m_pRefresh = nullptr;
    CFileSaver* m_pSaver = nullptr;
    // Beyond this many, the oldest are dropped: a GUI thread held up cannot make the queue grow without end.
    CGuiHandOff<CReport> m_reports{this, HAND_OFF_METHOD(CServosWindow, TakeReports), 50000};
    std::deque<CReport> m_pendingReports;  // taken from the hand-off, not yet handled
};
