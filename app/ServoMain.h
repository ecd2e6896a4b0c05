// The main window: serial panel, node search with its log and node list, and the three tab pages.
#pragma once

#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/NodeSearch.h"
#include "ui/InertDialog.h"

class CBusMonitorWindow;
class CDiagnoseWindow;
class CBusRecorder;
class CRobotDlg;
class CServosWindow;
class CServoUsb;
class CTabControl;
class CUsb;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class ServoPG;
class ServoTest;

class CServoMain : public CInertDialog {
    Q_OBJECT
public:
    CServoMain();
    // Stops a running sweep and closes the port before the pages go.
    ~CServoMain() override;

    // Builds the window, hidden, and runs its opening; m_pUsb must be set first.
    bool Create();
    // Selects the tab and shows its page; other pages are left as they are.
    void SelectPage(int index);
    void SetPortName(const QString& name);
    // Adds a row for the ID, or gives its existing row the new baud rate.
    void AddNode(int id, int baud);
    void AppendLog(const QString& message);
    // Stops a running sweep and a firmware transfer, lets a parameter sequence finish its steps (so a servo
    // it unlocked is locked again), waits for their workers and closes the port.
    void ShutDown();
    // The IDs a sweep pings, 0 to 253 unless narrowed (for tests, which cannot wait for 254 timeouts).
    // Ignored while a sweep runs.
    void SetSweepRange(int firstId, int lastId);
    // Why the firmware transfer may not take the link now (a sweep runs), or empty. A transfer that starts
    // stops the status poll (OnTransferRunning).
    QString TransferBlocker() const;
    // Opens the bus monitor (Bus button, Ctrl+B), or raises it when it is open already.
    void ShowBusMonitor();
    CBusMonitorWindow* BusMonitor() const;
    // Opens the Servos window (Servos button, Ctrl+L) with the servos of the last search, or raises it.
    void ShowServosWindow();
    CServosWindow* ServosWindow() const;
    // Opens the diagnose window ("Diagnose…") and runs the doctor, or raises the window when it is open.
    void ShowDiagnose();
    CDiagnoseWindow* DiagnoseWindow() const;
    CBusRecorder* Recorder() const { return m_pRecorder.get(); }

    // The command object every page and the sweep use; set once, before Create.
    void SetUsb(CServoUsb* pUsb) { m_pUsb = pUsb; }
    CRobotDlg* RobotPage() const { return m_pRobotPage; }
    ServoPG* ProgramPage() const { return m_pProgramPage; }
    ServoTest* UpgradePage() const { return m_pUpgradePage; }
    // The servo the pages act on: set by a node click (which shows it on every page), the ROBOT page's ID
    // field and PROGRAM's READ, WRITE and RESET. SetTarget hands it to every page, which addresses it from
    // then on; the image's ID byte is only what the PROGRAM page shows. GUI thread.
    int TargetId() const { return m_nTargetId; }
    void SetTarget(int id);
    // The page behind tab index: 0 ROBOT, 1 PROGRAM, 2 UPGRADE.
    QWidget* Page(int index) const { return m_pages.at(static_cast<std::size_t>(index)); }
    int CurrentPage() const { return m_nCurPage; }
    bool IsPortOpen() const { return m_bPortOpen != 0; }
    bool IsSearching() const;
    // The search behind "Search"/"Stop"; made by Create.
    CNodeSearch* NodeSearch() const { return m_pSearch; }
    // The rate the port was opened at.
    int Baud() const { return m_nBaud; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    // Object names by which tests and the demo tour find the controls.
    void NameControls();
    void CreatePages();
    CUsb* Transport() const;

    void OnOpenClose();
    void OnPageChange(int index);
    void OnNodeClick(int row);
    void OnSearch();
    void OnClear();
    // While a firmware transfer holds the link, nothing else may use or close the port.
    void OnTransferRunning(bool running);
    // Queued from whichever thread noticed the lost port.
    Q_INVOKABLE void OnPortLost();
    // The search's button reads "Search" at rest and "Stop" while a search runs.
    void ShowSearchState();
    void OnSearchFinished(CNodeSearch::EState ended);
    void PingBroadcast();
    // Logs a change of the alarm bits seen on the bus: once when they appear, once when they clear.
    void OnAlarmWatch();
    // "All Bauds" (AllRateSearch.cpp): the scan of every rate, or with "Single Node" a broadcast ping at
    // each, on the search's worker thread; the pages keep off the link meanwhile.
    void StartAllRateSearch();
    void HoldLinkForScan(bool held);
    // A row per servo and rate: two servos with one ID at different rates are two servos.
    void AddRateNode(int id, int baud);
    // Gives the Servos window, when open, the servos the node list shows.
    void FeedServosWindow();
    // Offers to move the port to the rate the picked servo answered at.
    void OfferRateSwitch(int row);

    std::array<QWidget*, 3> m_pages{};
    int m_nCurPage = 0;
    ServoPG* m_pProgramPage = nullptr;
    ServoTest* m_pUpgradePage = nullptr;
    CRobotDlg* m_pRobotPage = nullptr;
    CServoUsb* m_pUsb = nullptr;
    CTabControl* m_tab = nullptr;
    int m_nTargetId = 0;
    // Written by the GUI thread only.
    std::atomic<int> m_bPortOpen{0};
    std::atomic<int> m_nBaud{0};

    QLineEdit* m_editPort = nullptr;
    QComboBox* m_comboBaud = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnSearch = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnBus = nullptr;
    QPushButton* m_btnServos = nullptr;
    QPushButton* m_btnDiagnose = nullptr;
    QCheckBox* m_checkSingleNode = nullptr;
    QCheckBox* m_checkAllBauds = nullptr;
    QPlainTextEdit* m_editLog = nullptr;
    QTableWidget* m_listNodes = nullptr;
    // What the node list shows, row for row: the list's cells are only its picture.
    struct CListedNode {
        int id;
        int baud;
    };
    std::vector<CListedNode> m_nodes;
    void ListNode(int id, int baud);
    void ClearNodes();

    // Every exchange of every thread is recorded from Create on; the monitor window reads it.
    std::unique_ptr<CBusRecorder> m_pRecorder;
    QPointer<CBusMonitorWindow> m_pBusWindow;
    QPointer<CServosWindow> m_pServosWindow;
    // What holds the bus for long now, for a Servos window opened meanwhile.
    bool m_bTransferRunning = false;
    bool m_bScanHoldsLink = false;
    QPointer<CDiagnoseWindow> m_pDiagnoseWindow;
    // Set by a close request that waits for the programming page's sequence to end.
    bool m_bCloseWaiting = false;
    CNodeSearch* m_pSearch = nullptr;
};
