// The programming page: edits one servo's stored parameters, keeps them in files, and reads, writes and
// resets them on the servo.
#pragma once

#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "program/BusSequence.h"
#include "program/ParameterFields.h"
#include "ui/GuiHandOff.h"
#include "ui/InertDialog.h"

class CCalibrateDialog;
class CDialogBuilder;
class CServoUsb;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class ServoPG : public CDialogPage {
    Q_OBJECT
public:
    // Puts the default parameters into the shared image; the displayed ID becomes 1.
    ServoPG(QWidget* pParent, CServoUsb* pUsb);
    // Ends a sequence in progress (its remaining steps are skipped) before the page goes.
    ~ServoPG() override;

    // Builds the page's window as a child of pParent and runs its opening.
    bool Create(QWidget* pParent);

    // Image to controls; the ID field shows the displayed ID.
    void FillControls();
    // Controls to a 54-byte copy of the image, each edit field held within its range (and corrected).
    void GatherControls(uint8_t* copy);
    // Check boxes to their bits of LED_ERROR_FLAGS and UNLOAD_FLAGS of the copy; other bits stay.
    void GatherFlags(uint8_t* copy);
    // The field's number held within [lower, upper]; a corrected value is written back into the field.
    int ClampField(int upper, QLineEdit* field, int lower);
    // One line at the end of the log pane.
    void AppendLog(const QString& message);

    // True while a READ, WRITE or RESET is on the bus; the page's buttons are disabled meanwhile.
    bool IsBusy() const { return m_bBusy; }
    // Returns once a running sequence has done all its steps, its final lock included (about 550 ms at
    // most for WRITE with "UnLock"), so that shutting down never leaves a servo unlocked.
    void FinishSequence() { m_sequence.Finish(); }
    // Ends a running sequence after the exchange in progress; the remaining steps are skipped.
    void StopSequence() { m_sequence.Stop(); }

    // What the operator does and sees.
    void ClickRead();
    void ClickWrite();
    // The last line of the log pane.
    QString LastLogLine() const;
    // A pick in the main window's node list: the picked ID's text goes into the ID field.
    void ShowPickedId(const QString& text);
    // The main window hands over the servo the pages act on: READ, WRITE, RESET and "Calibrate…" address
    // it. The image and the ID field are left alone. GUI thread.
    void SetTargetId(int id) { m_byTargetId = static_cast<uint8_t>(id); }
    uint8_t TargetId() const { return m_byTargetId; }
    // What the ID field shows when the controls are filled.
    uint8_t DisplayedId() const { return m_byDisplayedId; }
    // "Calibrate…": opens the hand-sweep window for the servo addressed; the range it finds goes into the
    // position limit fields, for WRITE to store. The window, while it is open.
    void ClickCalibrate();
    CCalibrateDialog* CalibrateWindow() const;
    // Ends a sweep and waits for its worker (within one reading); the window closes. GUI thread.
    void StopCalibration();

signals:
    // A READ, WRITE or RESET is about to take the bus (emitted before its worker starts).
    void sequenceStarted();
    // The running sequence's last report was taken: the page is no longer busy.
    void sequenceDone();
    // READ, WRITE or RESET made id the servo the pages act on (the ID it now answers to).
    void targetChanged(int id);

private:
    void CreateControls();
    // Object names by which tests and the demo tour find the controls.
    void NameControls();
    // The default parameters into the image, as at construction and after "Reset Default".
    void SetDefaults();
    // One row of kParameterFields: its label, its input and the unit after it.
    void CreateField(const CDialogBuilder& dlg, std::size_t index);
    QLineEdit* NumberEdit(int maxTyped, const CDluRect& place);
    void SetField(QLineEdit* field, int value);
    void UpdateButtons();

    void OnRead();
    void OnWrite();
    void OnReset();
    void OnSave();
    void OnOpen();

    // Logs the ID line and hands the steps to the worker; the buttons stay disabled until it is done.
    void RunSequence(std::vector<CBusStep> steps);
    // Worker side: queues the report and, when the queue was empty, asks the GUI thread to take it.
    void PostReport(CStepReport report);
    // GUI side: carries out the queued reports in step order.
    Q_INVOKABLE void TakeReports();
    void ApplyRead(const CStepReport& report);

    CServoUsb* m_pUsb;
    uint8_t* m_pImage;
    // What the ID field shows when the controls are filled: the image's ID, except after OPEN, when it is
    // the file's ID while the image's ID still names the servo addressed.
    uint8_t m_byDisplayedId = 1;

    QPushButton* m_btnRead = nullptr;
    QPushButton* m_btnWrite = nullptr;
    QCheckBox* m_checkUnlock = nullptr;
    QPushButton* m_btnCalibrate = nullptr;
    QPointer<CCalibrateDialog> m_pCalibrate;
    QPushButton* m_btnSave = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnReset = nullptr;
    QPlainTextEdit* m_editLog = nullptr;

    // The inputs of kParameterFields, at their row's index: an edit field or a list, the other null.
    std::array<QLineEdit*, kParameterFieldCount> m_edits{};
    std::array<QComboBox*, kParameterFieldCount> m_lists{};
    // Alarm flags, left to right as on the page.
    QCheckBox* m_checkLedOverVoltage = nullptr;
    QCheckBox* m_checkLedOverLoad = nullptr;
    QCheckBox* m_checkLedOverHeat = nullptr;
    QCheckBox* m_checkUnloadOverVoltage = nullptr;
    QCheckBox* m_checkUnloadOverLoad = nullptr;
    QCheckBox* m_checkUnloadOverHeat = nullptr;

    CBusSequence m_sequence;
    std::vector<CBusStep> m_steps;  // the running sequence's steps, read by the GUI side only
    CGuiHandOff<CStepReport> m_reports{this, HAND_OFF_METHOD(ServoPG, TakeReports)};
    bool m_bBusy = false;
    // While a READ is on its way the operator may pick another servo; that later pick must win as it would
    // had the READ finished first.
    uint8_t m_byTargetAtStart = 0;
    // The servo the page talks to; READ, WRITE and RESET move it to the ID the servo answers to afterwards.
    uint8_t m_byTargetId = 1;
    bool m_bFilling = false;
    bool m_bIdTextPicked = false;
    QString m_szPickedIdText;
};
