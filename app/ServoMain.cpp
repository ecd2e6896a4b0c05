// The main window's layout, opening, serial panel, page switching, node pick and shut-down.
#include "app/ServoMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/BusMonitorWindow.h"
#include "app/DiagnoseWindow.h"
#include "debug/RobotDlg.h"
#include "link/BusRecorder.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "program/ServoPG.h"
#include "servos/ServosWindow.h"
#include "ui/DialogBuilder.h"
#include "ui/OperatorHooks.h"
#include "ui/TabControl.h"
#include "upgrade/ServoTest.h"

namespace {

constexpr Qt::WindowFlags kMainWindowFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                             Qt::WindowCloseButtonHint;
// Where the pages sit below the tab buttons, in pixels, unless the buttons need more.
constexpr int kPageTop = 30;
// How often the log looks for new alarm bits on the bus.
constexpr int kAlarmWatchMs = 200;

}  // namespace

CServoMain::CServoMain() : CInertDialog(nullptr, kMainWindowFlags) {
    setWindowIcon(QIcon(QStringLiteral(":/app/images/icon.png")));
}

CServoMain::~CServoMain() {
    ShutDown();
    if (CUsb* transport = Transport()) transport->SetPortLostHandler({});
    if (m_pUsb) m_pUsb->SetRecorder(nullptr);
}

CUsb* CServoMain::Transport() const {
    return m_pUsb ? m_pUsb->Transport() : nullptr;
}

bool CServoMain::Create() {
    setWindowTitle(QStringLiteral("Brennix Debug V1.0"));
    m_pSearch = new CNodeSearch(*m_pUsb, this);
    CreateControls();
    NameControls();
    CreatePages();

    for (uint32_t baud : BAUD_RATES) m_comboBaud->addItem(QString::number(baud));
    m_comboBaud->setCurrentIndex(0);

    m_listNodes->setColumnCount(2);
    m_listNodes->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Baud")});
    m_listNodes->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listNodes->setColumnWidth(0, 60);
    m_listNodes->setColumnWidth(1, 120);

    m_pRecorder = std::make_unique<CBusRecorder>();
    if (m_pUsb) m_pUsb->SetRecorder(m_pRecorder.get());
    auto* alarmWatch = new QTimer(this);
    connect(alarmWatch, &QTimer::timeout, this, &CServoMain::OnAlarmWatch);
    alarmWatch->start(kAlarmWatchMs);
    auto* busKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+B")), this);
    connect(busKey, &QShortcut::activated, this, &CServoMain::ShowBusMonitor);
    auto* servosKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+L")), this);
    connect(servosKey, &QShortcut::activated, this, &CServoMain::ShowServosWindow);

    if (CUsb* transport = Transport()) {
        // Runs on whichever thread noticed, inside the transport's lock: only post, never call back.
        transport->SetPortLostHandler([this] { QueueCall(this, HAND_OFF_METHOD(CServoMain, OnPortLost)); });
    }
    return true;
}

void CServoMain::CreateControls() {
    const CDialogBuilder dlg(this);
    move(0, 0);
    setFixedSize(dlg.Units().Size(523, 292));

    m_tab = new CTabControl(this);
    dlg.Place(m_tab, {114, 7, 402, 280});
    connect(m_tab, &CTabControl::currentChanged, this, &CServoMain::OnPageChange);

    dlg.Group(tr("Serial Communication"), {7, 7, 101, 64});
    dlg.Label(tr("Com:"), {16, 22, 19, 8});
    m_editPort = dlg.ReadOnlyField({48, 20, 48, 12});
    dlg.Label(tr("Baud:"), {15, 38, 20, 8});
    m_comboBaud = dlg.DropList({48, 36, 48, 30});
    m_btnOpen = dlg.Button(tr("Open"), {57, 53, 38, 14});
    connect(m_btnOpen, &QPushButton::clicked, this, &CServoMain::OnOpenClose);
    // Added to the window, left of Open: the doctor's report on the host, the bus and every servo.
    m_btnDiagnose = dlg.Button(tr("Diagnose…"), {12, 53, 43, 14});
    connect(m_btnDiagnose, &QPushButton::clicked, this, &CServoMain::ShowDiagnose);

    dlg.Group(tr("Robot Servo Node"), {7, 74, 101, 213});
    m_btnSearch = dlg.Button(tr("Search"), {13, 89, 29, 14});
    m_btnClear = dlg.Button(tr("Clear"), {44, 89, 29, 14});
    m_btnBus = dlg.Button(tr("Bus"), {75, 89, 29, 14});
    connect(m_btnBus, &QPushButton::clicked, this, &CServoMain::ShowBusMonitor);
    // Below "Bus", beside the two check boxes: the row of three buttons has no room for a fourth.
    m_btnServos = dlg.Button(tr("Servos"), {75, 106, 29, 14});
    connect(m_btnServos, &QPushButton::clicked, this, &CServoMain::ShowServosWindow);
    m_checkSingleNode = dlg.Check(tr("Single Node"), {21, 108, 55, 10});
    // No room beside "Single Node" in this font: "All Bauds" takes a row of its own from the log pane.
    m_checkAllBauds = dlg.Check(tr("All Bauds"), {21, 119, 55, 10});
    m_editLog = dlg.LogPane({14, 132, 87, 37});
    connect(m_btnSearch, &QPushButton::clicked, this, &CServoMain::OnSearch);
    connect(m_pSearch, &CNodeSearch::logLine, this, &CServoMain::AppendLog);
    connect(m_pSearch, &CNodeSearch::nodeFound, this, &CServoMain::AddNode);
    connect(m_pSearch, &CNodeSearch::rateNodeFound, this, &CServoMain::AddRateNode);
    connect(m_pSearch, &CNodeSearch::finished, this, &CServoMain::OnSearchFinished);
    connect(m_btnClear, &QPushButton::clicked, this, &CServoMain::OnClear);

    m_listNodes = new QTableWidget(this);
    dlg.Place(m_listNodes, {14, 173, 87, 106});
    m_listNodes->setShowGrid(true);
    m_listNodes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listNodes->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listNodes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listNodes->verticalHeader()->hide();
    m_listNodes->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Only clicks on a row arrive here: a click on the empty part of the list picks nothing.
    connect(m_listNodes, &QTableWidget::cellClicked, this, [this](int row, int) { OnNodeClick(row); });
}

void CServoMain::CreatePages() {
    m_pProgramPage = new ServoPG(this, m_pUsb);
    m_pUpgradePage = new ServoTest(this, m_pUsb);
    m_pRobotPage = new CRobotDlg(this, *m_pUsb);

    m_tab->InsertTab(0, tr("ROBOT"));
    m_tab->InsertTab(1, tr("PROGRAM"));
    m_tab->InsertTab(2, tr("UPGRADE"));

    m_pProgramPage->Create(m_tab);
    m_pUpgradePage->Create(m_tab);
    m_pRobotPage->Create(m_tab);

    const int top = std::max(kPageTop, m_tab->TabRowHeight());
    for (QWidget* page : {static_cast<QWidget*>(m_pUpgradePage), static_cast<QWidget*>(m_pProgramPage),
                          static_cast<QWidget*>(m_pRobotPage)}) {
        page->move(0, top);
        page->update();
    }
    m_pages = {m_pRobotPage, m_pProgramPage, m_pUpgradePage};

    connect(m_pUpgradePage, &ServoTest::transferRunning, this, &CServoMain::OnTransferRunning);
    connect(m_pProgramPage, &ServoPG::sequenceDone, this, [this] {
        if (m_pServosWindow) m_pServosWindow->SetBusHeld(CServosWindow::EBusHolder::ProgramSequence, false);
        if (m_bCloseWaiting) close();
    });
    connect(m_pProgramPage, &ServoPG::sequenceStarted, this, [this] {
        if (m_pServosWindow) m_pServosWindow->SetBusHeld(CServosWindow::EBusHolder::ProgramSequence, true);
    });
    m_pUpgradePage->SetLinkBusyCheck([this] { return TransferBlocker(); });
    connect(m_pRobotPage, &CRobotDlg::targetChanged, this, &CServoMain::SetTarget);
    connect(m_pProgramPage, &ServoPG::targetChanged, this, &CServoMain::SetTarget);
    SetTarget(m_pRobotPage->ServoId());
}

void CServoMain::SetTarget(int id) {
    m_nTargetId = id;
    // Every page keeps its own copy; the setters never emit, so a page's own change comes back harmlessly.
    m_pRobotPage->SetTargetId(id);
    m_pProgramPage->SetTargetId(id);
    m_pUpgradePage->SetTargetId(id);
}

QString CServoMain::TransferBlocker() const {
    if (m_pSearch->State() != CNodeSearch::EState::Idle) return tr("Stop the search first");
    if (m_pServosWindow) return m_pServosWindow->BusBlocker();
    return {};
}

void CServoMain::OnTransferRunning(bool running) {
    // The transfer owns the link from here: the status poll ends before the worker sends its first frame
    // (the signal is emitted on the GUI thread just before the worker starts).
    if (running) m_pRobotPage->StopDrawing();
    m_bTransferRunning = running;
    if (m_pServosWindow) m_pServosWindow->SetBusHeld(CServosWindow::EBusHolder::FirmwareTransfer, running);
    m_btnOpen->setEnabled(!running);
    m_btnSearch->setEnabled(!running);
    m_pRobotPage->setEnabled(!running);
    m_pProgramPage->setEnabled(!running);
}

void CServoMain::SelectPage(int index) {
    if (index < 0 || index >= static_cast<int>(m_pages.size())) return;
    m_nCurPage = index;
    m_tab->SelectTab(index);
    m_pages[index]->show();
}

void CServoMain::SetPortName(const QString& name) {
    m_editPort->setText(name);
}

void CServoMain::OnOpenClose() {
    m_nBaud = ParseLeadingInt(m_comboBaud->currentText().toStdString());
    CUsb* transport = Transport();
    if (!m_bPortOpen) {
        m_bPortOpen = transport && transport->Open() ? 1 : 0;
        if (!m_bPortOpen) {
            // A serial port fails silently; a network port has a reason worth reading (refused, busy...).
            if (transport && !transport->OpenProblem().empty())
                AppendLog(QString::fromStdString(transport->OpenProblem()));
            return;
        }
        transport->Configure(m_nBaud);
        m_btnOpen->setText(tr("Close"));
        m_comboBaud->setEnabled(false);
        if (m_pServosWindow) m_pServosWindow->SetPort(true, m_nBaud);
    } else {
        // The Servos window's workers end before the port closes under them.
        if (m_pServosWindow) m_pServosWindow->SetPort(false, m_nBaud);
        m_bPortOpen = 0;
        m_pSearch->RequestStop();
        if (transport) transport->Close();
        m_btnOpen->setText(tr("Open"));
        m_comboBaud->setEnabled(true);
    }
}

void CServoMain::OnPortLost() {
    CUsb* transport = Transport();
    // A late notice for a port the operator has closed (or reopened) since is stale.
    if (!m_bPortOpen || !transport || !transport->IsPortLost()) return;
    m_bPortOpen = 0;
    m_pSearch->RequestStop();
    // Nothing may tick on against the closed port: the poll ends as leaving the page ends it.
    m_pRobotPage->StopDrawing();
    if (m_pServosWindow) m_pServosWindow->OnPortLost();
    transport->Close();
    m_btnOpen->setText(tr("Open"));
    m_comboBaud->setEnabled(true);
    const std::string reason = transport->OpenProblem();
    if (reason.empty())
        AppendLog(tr("Port %1 lost").arg(m_editPort->text()));
    else
        AppendLog(tr("Port %1 lost: %2").arg(m_editPort->text(), QString::fromStdString(reason)));
}

void CServoMain::ShowBusMonitor() {
    if (!m_pRecorder) return;
    if (!m_pBusWindow) {
        m_pBusWindow = new CBusMonitorWindow(
            *m_pRecorder, [this] { return m_pUsb && m_pUsb->IsHighByteFirst(); }, this);
        m_pBusWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_pBusWindow->show();
    m_pBusWindow->raise();
    m_pBusWindow->Refresh();
}

CBusMonitorWindow* CServoMain::BusMonitor() const {
    return m_pBusWindow;
}

void CServoMain::ShowServosWindow() {
    if (!m_pUsb) return;
    if (!m_pServosWindow) {
        m_pServosWindow = new CServosWindow(*m_pUsb, this);
        m_pServosWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_pServosWindow->SetPort(m_bPortOpen != 0, m_nBaud);
        using EHolder = CServosWindow::EBusHolder;
        m_pServosWindow->SetBusHeld(EHolder::FirmwareTransfer, m_bTransferRunning);
        m_pServosWindow->SetBusHeld(EHolder::AllRateSearch, m_bScanHoldsLink);
        m_pServosWindow->SetBusHeld(EHolder::ProgramSequence, m_pProgramPage->IsBusy());
        FeedServosWindow();
    }
    m_pServosWindow->show();
    m_pServosWindow->raise();
}

CServosWindow* CServoMain::ServosWindow() const {
    return m_pServosWindow;
}

void CServoMain::FeedServosWindow() {
    if (!m_pServosWindow) return;
    std::vector<CServoAtRate> servos;
    for (const CListedNode& node : m_nodes) servos.push_back({static_cast<uint8_t>(node.id), node.baud});
    m_pServosWindow->SetFoundServos(servos);
}

void CServoMain::ShowDiagnose() {
    if (!m_pUsb) return;
    if (!m_pDiagnoseWindow) {
        CDiagnoseLink link;
        link.portName = [this] {
            CUsb* transport = Transport();
            return transport ? transport->PortName() : m_editPort->text().toStdString();
        };
        link.portOpen = [this] { return m_bPortOpen != 0; };
        link.blocker = [this]() -> QString {
            if (m_pSearch->IsSearching()) return tr("Stop the search first");
            if (!m_btnOpen->isEnabled()) return tr("Wait for the firmware transfer to end");
            return {};
        };
        link.holdLink = [this](bool held) {
            HoldLinkForScan(held);
            m_btnOpen->setEnabled(!held);
            m_btnSearch->setEnabled(!held);
        };
        m_pDiagnoseWindow = new CDiagnoseWindow(*m_pUsb, std::move(link), this);
        m_pDiagnoseWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_pDiagnoseWindow->show();
        m_pDiagnoseWindow->Run();
        return;
    }
    m_pDiagnoseWindow->show();
    m_pDiagnoseWindow->raise();
}

CDiagnoseWindow* CServoMain::DiagnoseWindow() const {
    return m_pDiagnoseWindow;
}

void CServoMain::OnAlarmWatch() {
    CBusRecorder::CAlarm alarm;
    if (!m_pRecorder || !m_pRecorder->TakeAlarmChange(&alarm)) return;
    if (alarm.error != 0)
        AppendLog(tr("ID %1 alarm: %2").arg(alarm.id).arg(QString::fromStdString(AlarmText(alarm.error))));
    else
        AppendLog(tr("ID %1 alarm cleared").arg(alarm.id));
}

void CServoMain::OnPageChange(int index) {
    const int previous = m_nCurPage;
    m_nCurPage = index;
    if (previous == 0) m_pRobotPage->StopDrawing();
    if (previous != index) {
        m_pages[previous]->hide();
        m_pages[index]->show();
    }
}

void CServoMain::OnNodeClick(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_nodes.size()) return;
    const int id = m_nodes[static_cast<std::size_t>(row)].id;
    SetTarget(id);
    m_pRobotPage->SetServoId(id);
    m_pProgramPage->ShowPickedId(QString::number(id));
    m_pUpgradePage->ShowServoId(id);
    OfferRateSwitch(row);
}

void CServoMain::ShutDown() {
    // The transfer stops at its next block and puts the port back before it is closed.
    if (m_pUpgradePage) m_pUpgradePage->AbortTransfer();
    if (m_pSearch) m_pSearch->Stop();
    // A playback holds its servos where they are before the port goes.
    if (m_pServosWindow) m_pServosWindow->StopBusWork();
    if (m_pDiagnoseWindow) m_pDiagnoseWindow->StopAndJoin();
    if (m_pRobotPage) m_pRobotPage->StopDrawing();
    if (m_pRobotPage) m_pRobotPage->StopStepResponse();
    if (m_pProgramPage) m_pProgramPage->FinishSequence();
    if (m_pProgramPage) m_pProgramPage->StopCalibration();
    if (m_bPortOpen) {
        m_bPortOpen = 0;
        if (CUsb* transport = Transport()) transport->Close();
        m_btnOpen->setText(tr("Open"));
        m_comboBaud->setEnabled(true);
    }
}

void CServoMain::closeEvent(QCloseEvent* event) {
    // A WRITE or RESET with "UnLock" must get to its final lock: the first request lets the window close
    // once the sequence is over, without holding up the GUI thread; a second one cuts the sequence short.
    if (m_pProgramPage && m_pProgramPage->IsBusy()) {
        if (!m_bCloseWaiting) {
            m_bCloseWaiting = true;
            event->ignore();
            return;
        }
        m_pProgramPage->StopSequence();
    }
    m_bCloseWaiting = false;
    ShutDown();
    RequestQuit(0);
    event->accept();
}

void CServoMain::NameControls() {
    const std::pair<QObject*, const char*> names[] = {{m_editPort, "port"},
                                                      {m_comboBaud, "portBaud"},
                                                      {m_btnOpen, "portOpen"},
                                                      {m_btnSearch, "search"},
                                                      {m_btnClear, "clearLog"},
                                                      {m_btnBus, "bus"},
                                                      {m_btnServos, "servos"},
                                                      {m_btnDiagnose, "diagnose"},
                                                      {m_checkSingleNode, "singleNode"},
                                                      {m_checkAllBauds, "allBauds"},
                                                      {m_editLog, "nodeLog"},
                                                      {m_listNodes, "nodes"},
                                                      {m_tab, "tabs"}};
    for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}
