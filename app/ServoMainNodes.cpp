// The main window's node search controls, node list and log; the search itself runs in CNodeSearch.
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextCursor>

#include "app/ServoMain.h"
#include "link/Packet.h"
#include "link/ServoCheck.h"
#include "link/ServoUsb.h"

void CServoMain::SetSweepRange(int firstId, int lastId) {
    if (m_pSearch) m_pSearch->SetRange(firstId, lastId);
}

bool CServoMain::IsSearching() const {
    return m_pSearch && m_pSearch->IsSearching();
}

void CServoMain::ShowSearchState() {
    const bool resting = m_pSearch->State() == CNodeSearch::EState::Idle;
    m_btnSearch->setText(resting ? tr("Search") : tr("Stop"));
}

void CServoMain::OnSearch() {
    if (!m_bPortOpen) return;
    if (m_pSearch->State() != CNodeSearch::EState::Idle) {
        m_pSearch->RequestStop();  // the worker sees it before its next ID
        return;
    }
    ClearNodes();
    if (m_checkAllBauds->isChecked()) {
        StartAllRateSearch();
    } else if (m_checkSingleNode->isChecked()) {
        PingBroadcast();
    } else {
        m_pSearch->StartSweep(Transport(), m_nBaud);
    }
    ShowSearchState();
}

void CServoMain::PingBroadcast() {
    uint8_t answeringId = 0;
    CExchangeOutcome outcome;
    if (!m_pUsb->Ping(BROADCAST_ID, &answeringId, &outcome)) return;
    AppendLog(QStringLiteral("Pinging ID:BRCAST"));
    AddNode(answeringId, m_nBaud);
    // Several servos with that ID answer a ping as one; a read of their status spans tells them apart.
    if (CheckFoundServo(*m_pUsb, answeringId, m_nBaud, outcome.error).sharing == EIdSharing::Shared)
        AppendLog(CNodeSearch::SharedIdLog(answeringId, m_nBaud));
}

void CServoMain::OnSearchFinished(CNodeSearch::EState ended) {
    if (ended == CNodeSearch::EState::ScanningRates) HoldLinkForScan(false);
    ShowSearchState();
}

void CServoMain::AddNode(int id, int baud) {
    for (std::size_t row = 0; row < m_nodes.size(); ++row) {
        if (m_nodes[row].id != id) continue;
        m_nodes[row].baud = baud;
        m_listNodes->item(static_cast<int>(row), 1)->setText(QString::number(baud));
        return;
    }
    ListNode(id, baud);
}

void CServoMain::ListNode(int id, int baud) {
    const int row = m_listNodes->rowCount();
    m_nodes.push_back({id, baud});
    m_listNodes->insertRow(row);
    m_listNodes->setItem(row, 0, new QTableWidgetItem(QString::number(id)));
    m_listNodes->setItem(row, 1, new QTableWidgetItem(QString::number(baud)));
    FeedServosWindow();
}

void CServoMain::ClearNodes() {
    m_nodes.clear();
    m_listNodes->setRowCount(0);
}

void CServoMain::AppendLog(const QString& message) {
    QTextCursor cursor = m_editLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    if (!m_editLog->document()->isEmpty()) cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(message);
    m_editLog->setTextCursor(cursor);
    m_editLog->ensureCursorVisible();
}

void CServoMain::OnClear() {
    m_editLog->clear();
    ClearNodes();
    FeedServosWindow();
}
