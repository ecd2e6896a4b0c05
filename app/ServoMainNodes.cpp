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
    m_listNodes->setRowCount(0);
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
    const QString idText = QString::number(id);
    const QString baudText = QString::number(baud);
    for (int row = 0; row < m_listNodes->rowCount(); ++row) {
        QTableWidgetItem* idItem = m_listNodes->item(row, 0);
        if (idItem && idItem->text() == idText) {
            m_listNodes->item(row, 1)->setText(baudText);
            return;
        }
    }
    const int row = m_listNodes->rowCount();
    m_listNodes->insertRow(row);
    m_listNodes->setItem(row, 0, new QTableWidgetItem(idText));
    m_listNodes->setItem(row, 1, new QTableWidgetItem(baudText));
    FeedServosWindow();
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
    m_listNodes->setRowCount(0);
    FeedServosWindow();
}
