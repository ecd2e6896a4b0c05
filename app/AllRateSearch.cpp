// "All Bauds": every servo at every rate in one search, listed with its own rate; a pick offers the rate.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>

#include "app/ServoMain.h"
#include "debug/RobotDlg.h"
#include "link/ServoUsb.h"
#include "program/ServoPG.h"
#include "servos/ServosWindow.h"
#include "ui/OperatorHooks.h"
#include "upgrade/ServoTest.h"

void CServoMain::StartAllRateSearch() {
    HoldLinkForScan(true);
    m_pSearch->StartRateScan(Transport(), m_checkSingleNode->isChecked());
}

void CServoMain::HoldLinkForScan(bool held) {
    // The scan holds the bus for its whole length at rates other than the port's: a page's command would
    // wait that long, so the pages rest until it ends.
    if (held) m_pRobotPage->StopDrawing();
    m_bScanHoldsLink = held;
    if (m_pServosWindow) m_pServosWindow->SetBusHeld(CServosWindow::EBusHolder::AllRateSearch, held);
    m_pRobotPage->setEnabled(!held);
    m_pProgramPage->setEnabled(!held);
    m_pUpgradePage->setEnabled(!held);
}

void CServoMain::AddRateNode(int id, int baud) {
    for (const CListedNode& node : m_nodes)
        if (node.id == id && node.baud == baud) return;
    ListNode(id, baud);
}

void CServoMain::OfferRateSwitch(int row) {
    CUsb* transport = Transport();
    if (row < 0 || static_cast<std::size_t>(row) >= m_nodes.size() || !transport || !m_bPortOpen ||
        m_pSearch->State() != CNodeSearch::EState::Idle)
        return;
    const int baud = m_nodes[static_cast<std::size_t>(row)].baud;
    const int comboIndex = m_comboBaud->findText(QString::number(baud));
    if (baud == m_nBaud || comboIndex < 0) return;
    const QString question =
        tr("ID %1 answers at %2 baud; the port runs at %3 baud.\nSwitch the port to %2 baud?")
            .arg(m_nodes[static_cast<std::size_t>(row)].id)
            .arg(baud)
            .arg(m_nBaud.load());
    if (!AskYesNo(this, question)) return;
    // The Servos window's workers must not go on at a rate their servos no longer hear.
    if (m_pServosWindow) m_pServosWindow->StopBusWork();
    {
        // Not in the middle of another thread's exchange.
        const CBusLock bus = m_pUsb->AcquireBus();
        transport->Configure(baud);
    }
    m_nBaud = baud;
    m_comboBaud->setCurrentIndex(comboIndex);
    if (m_pServosWindow) m_pServosWindow->SetPort(true, baud);
}
