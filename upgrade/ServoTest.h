// The upgrade page ("UPGRADE"): reads a servo's versions, loads a firmware file and transfers it to the
// servo's boot loader on a worker thread, with progress and cancel.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

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

    // OPEN after its file dialog: loads the file into the image and readies WRITE, or reports why not.
    void LoadFile(const QString& path);
    // True from a WRITE press until the worker's end has been taken on the GUI thread.
    bool IsTransferring() const { return m_worker.joinable(); }
    // Cancels a running transfer at its next block and waits for the worker, which restores the port; no
    // message is shown. For a window that is closing.
    void AbortTransfer();

    // Asked when WRITE is pressed: a non-empty answer says why the link cannot be handed over now (another
    // user of it is running), and the transfer does not start.
    void SetLinkBusyCheck(std::function<QString()> check) { m_fnLinkBusy = std::move(check); }
    // The loaded firmware, or null before OPEN loaded one.
    const FirmwareImage* Firmware() const { return m_pFirmware.get(); }
    // False once CANCEL was pressed, while the worker may still finish its block.
    bool TransferMayGoOn() const { return m_bUpgrading != 0; }

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
    static int UpgradeWorker(ServoTest* pPage, uint8_t servoId, unsigned generation);
    // GUI side of the worker's reports; a report of an earlier transfer is dropped.
    // Queued by name from the worker; result is an EUpgradeResult.
    Q_INVOKABLE void OnBlockDone(unsigned generation, int block);
    Q_INVOKABLE void OnWorkerEnded(unsigned generation, int result);
    // Back to ready, after the outcome's message when asked.
    void EndTransfer(EUpgradeResult result, bool report);

    // See SetLinkBusyCheck; nothing is busy unless set.
    std::function<QString()> m_fnLinkBusy;

    CServoUsb* m_pUsb;
    std::unique_ptr<FirmwareImage> m_pFirmware;
    QPushButton* m_btnWrite = nullptr;
    CTextProgressCtrl* m_progress = nullptr;
    // 1 while the transfer may go on, 0 after CANCEL; the worker reads it once per block.
    std::atomic<int> m_bUpgrading{0};
    uint8_t* m_pImage;

    QLineEdit* m_editId = nullptr;
    QLabel* m_labelFirmware = nullptr;
    QLabel* m_labelHardware = nullptr;
    QPushButton* m_btnRead = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QLabel* m_picture = nullptr;
    std::thread m_worker;
    unsigned m_nGeneration = 0;
};
