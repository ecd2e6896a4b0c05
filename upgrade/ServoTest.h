// The upgrade page ("UPGRADE"): reads a servo's versions, loads a firmware file and transfers it to the
// servo's boot loader on a worker thread, with progress and cancel.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "link/Worker.h"
#include "ui/GuiHandOff.h"
#include "ui/InertDialog.h"
#include "upgrade/FirmwareImage.h"

class CServoUsb;
class CTextProgressCtrl;
class QLabel;
class QLineEdit;
class QPushButton;
enum class EUpgradeResult;

class ServoTest : public CDialogPage {
    Q_OBJECT
public:
    ServoTest(QWidget* pParent, CServoUsb* pUsb);
    // Cancels a running transfer and waits for its worker before anything it uses goes.
    ~ServoTest() override;

    bool Create(QWidget* pParent);
    // Shows the ID in the ID field; the control-table image is left alone.
    void ShowServoId(int id);
    // The servo WRITE flashes: the one the pages act on, handed over by the main window. 1 until set.
    void SetTargetId(int id) { m_nTargetId = static_cast<uint8_t>(id); }

    // OPEN after its file dialog: loads the file into the image and readies WRITE, or reports why not.
    void LoadFile(const QString& path);
    // True from a WRITE press until the worker's end has been taken on the GUI thread.
    bool IsTransferring() const { return m_worker.IsRunning(); }
    // Cancels a running transfer at its next block and waits for the worker, which restores the port; no
    // message is shown. For a window that is closing.
    void AbortTransfer();

    // Asked when WRITE is pressed: a non-empty answer says why the link cannot be handed over now (another
    // user of it is running), and the transfer does not start.
    void SetLinkBusyCheck(std::function<QString()> check) { m_fnLinkBusy = std::move(check); }
    // The loaded firmware, or null before OPEN loaded one.
    const FirmwareImage* Firmware() const { return m_pFirmware.get(); }
    // False once CANCEL was pressed, while the worker may still finish its block.
    bool TransferMayGoOn() const { return m_state == ETransferState::Running; }

signals:
    // A transfer took the link (true) or gave it back (false); meanwhile nothing else may use or close it.
    void transferRunning(bool running);

private:
    // Object names by which tests and the demo tour find the controls.
    void NameControls();
    void OnReadVersion();
    void OnOpenFile();
    void OnWrite();

    void StartTransfer();
    // The worker: hands the servo to its boot loader, sends the image and restores the port.
    void RunTransfer(const std::stop_token& token, unsigned generation, uint8_t servoId);
    // What the worker reports: an acknowledged block, or (last) its end with an EUpgradeResult.
    struct CTransferReport {
        unsigned generation = 0;
        int block = 0;
        bool ended = false;
        int result = 0;
    };
    // GUI side of the worker's reports; a report of a transfer stopped since is dropped.
    Q_INVOKABLE void TakeReports();
    // Back to ready, after the outcome's message when asked.
    void EndTransfer(EUpgradeResult result, bool report);
    // WRITE reads "WRITE" when ready and "CANCEL" while a transfer runs or is being cancelled.
    void ShowTransferState();

    // See SetLinkBusyCheck; nothing is busy unless set.
    std::function<QString()> m_fnLinkBusy;

    CServoUsb* m_pUsb;
    std::unique_ptr<FirmwareImage> m_pFirmware;
    QPushButton* m_btnWrite = nullptr;
    CTextProgressCtrl* m_progress = nullptr;
    // Running from WRITE, Cancelling after CANCEL until the worker's end is taken.
    enum class ETransferState { Ready, Running, Cancelling };
    ETransferState m_state = ETransferState::Ready;
    uint8_t* m_pImage;
    uint8_t m_nTargetId = 1;

    QLineEdit* m_editId = nullptr;
    QLabel* m_labelFirmware = nullptr;
    QLabel* m_labelHardware = nullptr;
    QPushButton* m_btnRead = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QLabel* m_picture = nullptr;
    CWorker m_worker;
    CGuiHandOff<CTransferReport> m_reports{this, HAND_OFF_METHOD(ServoTest, TakeReports)};
};
